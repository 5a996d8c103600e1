// addXML on arbitrary bytes: either a tree or a std::runtime_error, never a crash,
// with the same outcome from a file and from a stream of the same bytes; a tree that
// loads must save and load again to the same tree, and its values read as integers
// only where their text is one within the type's range.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include <boost/property_tree/exceptions.hpp>

#include "settings_manager.h"

namespace {

std::string scratchFile(const char* tag) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/zelvane-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    return std::string(made);
  }();
  return dir + "/" + tag + ".xml";
}

// The reason of a load's error, after the name of what was read.
std::string reason(const std::runtime_error& error) {
  const std::string text = error.what();
  const auto colon = text.find(": ");
  return colon == std::string::npos ? text : text.substr(colon + 2);
}

// `text` as the decimal integer the settings layer should read from it: blanks around
// it, a sign and leading zeros dropped ("-0" is "0"); "" when it is no integer.
std::string canonicalInteger(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\n\v\f\r");
  if (first == std::string_view::npos) return "";
  text = text.substr(first, text.find_last_not_of(" \t\n\v\f\r") - first + 1);
  const bool negative = text.front() == '-';
  if (negative || text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return "";
  const auto digit = text.find_first_not_of('0');
  if (digit == std::string_view::npos) return "0";
  return (negative ? "-" : "") + std::string(text.substr(digit));
}

// Reads `key` as T: the result must be the text's integer, and a refusal must come
// only for a text that is no integer or one outside T's range.
template <class T>
void checkInteger(const zelvane::SettingsManager& settings, const std::string& key,
                  const std::string& text) {
  const std::string expected = canonicalInteger(text);
  try {
    const T value = settings.get<T>(key);
    if (std::to_string(value) != expected) std::abort();
  } catch (const boost::property_tree::ptree_bad_data&) {
    if (expected.empty()) return;
    // Out of range: the decimal text is longer than the range's ends, or compares
    // beyond them at the same length.
    const std::string limit = expected[0] == '-' ? std::to_string(std::numeric_limits<T>::min())
                                                 : std::to_string(std::numeric_limits<T>::max());
    bool beyond = expected > limit;
    if (expected[0] == '-' && limit[0] != '-') {
      beyond = true;
    } else if (expected.size() != limit.size()) {
      beyond = expected.size() > limit.size();
    }
    if (!beyond) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string input = scratchFile("input");
  if (FILE* f = std::fopen(input.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    std::abort();
  }

  zelvane::SettingsManager settings;
  zelvane::SettingsManager fromText;
  std::istringstream text(bytes);
  try {
    settings.addXML(input);
  } catch (const std::runtime_error& fileError) {
    if (!settings.tree().empty()) std::abort();  // a failed load must change nothing
    try {
      fromText.addXML(text);
    } catch (const std::runtime_error& textError) {
      if (reason(textError) != reason(fileError)) std::abort();
      return 0;
    }
    std::abort();
  }
  fromText.addXML(text);
  if (fromText.tree() != settings.tree()) std::abort();

  const std::string saved = scratchFile("saved");
  settings.saveXML(saved);
  zelvane::SettingsManager again;
  again.addXML(saved);
  if (again.tree() != settings.tree()) std::abort();

  // Walking the tree by the path operations must stay inside it.
  for (const auto& child : settings.tree()) {
    const int count = settings.getChildCount(child.first);
    settings.pathPush(child.first, count - 1, nullptr);
    settings.exists("a.b");
    settings.pathPop();
    if (count == 1 && child.first.find('.') == std::string::npos) {
      checkInteger<int>(settings, child.first, child.second.data());
      checkInteger<unsigned>(settings, child.first, child.second.data());
      checkInteger<long long>(settings, child.first, child.second.data());
      checkInteger<unsigned short>(settings, child.first, child.second.data());
    }
  }
  return 0;
}
