/// @file
/// `zelvane::text`: the small text helpers that the readers of line-based files share
/// (properties files, settings values, pose and box files): trimming, splitting a line
/// into fields, and strict number parsing that never turns a typo into a silent 0.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace zelvane {
namespace text {

/// The blanks that `trim` removes: space, tab, carriage return and line feed.
inline constexpr std::string_view BLANKS = " \t\r\n";

/// `text` without the `BLANKS` at either end; "" when it holds nothing else.
inline std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(BLANKS);
  if (first == std::string_view::npos) return std::string();
  return std::string(text.substr(first, text.find_last_not_of(BLANKS) - first + 1));
}

/// The fields of `line` between the `separator`s, untrimmed: n separators give n + 1
/// fields, so a separator at the end gives an empty last field; "" gives none.
inline std::vector<std::string> split(std::string_view line, char separator) {
  std::vector<std::string> fields;
  if (line.empty()) return fields;
  std::size_t start = 0;
  for (std::size_t end = line.find(separator); end != std::string_view::npos;
       end = line.find(separator, start)) {
    fields.emplace_back(line.substr(start, end - start));
    start = end + 1;
  }
  fields.emplace_back(line.substr(start));
  return fields;
}

namespace detail {

/// Converts the whole of `field`, blanks around it aside, with `convert` (a `strto*`
/// function) and keeps the result when `accept` takes it (asked right after the
/// conversion, so that it may read `errno`). False, with `value` left alone, for an
/// empty field, text after the number, or a refused result.
template <class T, class Convert, class Accept>
bool parseWhole(const std::string& field, T& value, Convert convert, Accept accept) {
  const std::string text = trim(field);
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const T parsed = convert(text.c_str(), &end);
  if (*end != '\0' || !accept(parsed)) return false;
  value = parsed;
  return true;
}

}  // namespace detail

/// Parses the whole of `field`, blanks around it aside, as a finite number rounded to
/// float (`std::strtof`: decimal or hexadecimal). Returns false and leaves `value`
/// alone for anything else: empty, trailing text, "inf", "nan", beyond the float range.
inline bool parseNumber(const std::string& field, float& value) {
  return detail::parseWhole(
      field, value, [](const char* text, char** end) { return std::strtof(text, end); },
      [](float parsed) { return std::isfinite(parsed); });
}

/// As the float form, rounded to double (`std::strtod`).
inline bool parseNumber(const std::string& field, double& value) {
  return detail::parseWhole(
      field, value, [](const char* text, char** end) { return std::strtod(text, end); },
      [](double parsed) { return std::isfinite(parsed); });
}

/// Parses the whole of `field`, blanks around it aside, as a decimal integer with an
/// optional sign. Returns false and leaves `value` alone for anything else, and for a
/// number beyond the range of long.
inline bool parseNumber(const std::string& field, long& value) {
  return detail::parseWhole(
      field, value, [](const char* text, char** end) { return std::strtol(text, end, 10); },
      [](long) { return errno != ERANGE; });
}

}  // namespace text
}  // namespace zelvane
