#include "modules/options_parser.h"

#include <sstream>

namespace zelvane {
namespace modules {

OptionsParser::InvalidInputError::InvalidInputError(char const* text) {
  std::ostringstream message;
  message << "Invalid input : ";
  if (text != nullptr) {
    message << text;
  }
  message_ = message.str();
}

const char* OptionsParser::InvalidInputError::what() const noexcept { return message_.c_str(); }

// Defined here so that the interface's type information lives in the library and
// contributors in other shared objects share it.
OptionsParser::~OptionsParser() = default;

}  // namespace modules
}  // namespace zelvane
