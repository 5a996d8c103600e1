/// @file
/// `modules::parseCommandLine`: the command line of a stand-alone program that takes
/// its options from one description, with the usual answers to --help and to a
/// mistake, so that every such program answers them alike.
#pragma once

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace modules {

/// What `parseCommandLine` made of a command line.
enum class CommandLine {
  /// Read: the options' values are stored and notified.
  Parsed,
  /// "help" was given: the options were printed on standard output.
  HelpShown,
  /// The description refused it: the reason was printed on standard error.
  Refused,
};

/// Parses `argv` (`argc` entries, the program's name first) against `options` into
/// `values`, and notifies them (the variables the options are bound to are set). An
/// option the description refuses (unknown, without its value, a value that does not
/// convert) prints "<program>: <reason>" and a newline on standard error: `Refused`.
/// Otherwise, an option "help" given prints `options` and a newline on standard output:
/// `HelpShown`. Never throws but for `std::bad_alloc` and what a notifier throws.
ZELVANE_CORE_API CommandLine
parseCommandLine(const char* program, int argc, const char* const* argv,
                 const boost::program_options::options_description& options,
                 boost::program_options::variables_map& values);

}  // namespace modules
}  // namespace zelvane
