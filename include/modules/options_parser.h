/// @file
/// `modules::OptionsParser`: the interface through which application components
/// contribute command-line options to `MainApplicationModule::configure`.
#pragma once

#include <exception>
#include <string>

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/positional_options.hpp>
#include <boost/program_options/variables_map.hpp>

#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace modules {

/// A component's share of the command line. Contributors are owned through
/// `std::shared_ptr` and registered with `MainApplicationModule::registerOptions`
/// before `configure`, which calls the four operations in the order they are
/// declared here.
class ZELVANE_CORE_API OptionsParser {
 public:
  /// The exception a contributor throws from `processOptions` for a value it cannot
  /// accept; `configure` prints its `what()` after "ERROR: ".
  class ZELVANE_CORE_API InvalidInputError : public std::exception {
   public:
    /// Holds "Invalid input : " followed by `text`; a null `text` leaves the prefix
    /// alone. Throws only `std::bad_alloc`.
    explicit InvalidInputError(char const* text);
    /// The message built by the constructor; valid as long as the exception lives.
    const char* what() const noexcept override;

   private:
    std::string message_;
  };

  OptionsParser() = default;
  virtual ~OptionsParser();

  /// Options shown in the help text and accepted on the command line. Called twice
  /// per `configure`; both calls must describe the same options.
  virtual const boost::program_options::options_description& getOptions() = 0;
  /// Options accepted on the command line but left out of the help text.
  virtual const boost::program_options::options_description& getHiddenOptions() = 0;
  /// The positional arguments this contributor takes, in order. Their number must be
  /// finite: `configure` refuses a description whose `max_total_count()` is unlimited.
  virtual const boost::program_options::positional_options_description& getPositionalOptions() = 0;
  /// Reads this contributor's values from the parsed command line. Reports a value it
  /// cannot accept by throwing an exception derived from `std::exception`, normally
  /// `InvalidInputError`; `configure` then fails.
  virtual void processOptions(boost::program_options::variables_map& options) = 0;

 protected:
  OptionsParser(const OptionsParser&) = default;
  OptionsParser& operator=(const OptionsParser&) = default;
};

}  // namespace modules
}  // namespace zelvane
