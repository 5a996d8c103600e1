#include "modules/command_line.h"

#include <iostream>

#include <boost/program_options/errors.hpp>
#include <boost/program_options/parsers.hpp>

namespace zelvane {
namespace modules {

namespace po = boost::program_options;

CommandLine parseCommandLine(const char* program, int argc, const char* const* argv,
                             const po::options_description& options, po::variables_map& values) {
  try {
    po::store(po::parse_command_line(argc, argv, options), values);
    po::notify(values);
  } catch (const po::error& error) {
    std::cerr << program << ": " << error.what() << "\n";
    return CommandLine::Refused;
  }
  if (values.count("help") != 0) {
    std::cout << options << "\n";
    return CommandLine::HelpShown;
  }
  return CommandLine::Parsed;
}

}  // namespace modules
}  // namespace zelvane
