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

/// Parses the whole of `field`, blanks around it aside, as a finite number rounded to
/// float (`std::strtof`: decimal or hexadecimal). Returns false and leaves `value`
/// alone for anything else: empty, trailing text, "inf", "nan", beyond the float range.
inline bool parseNumber(const std::string& field, float& value) {
  const std::string text = trim(field);
  if (text.empty()) return false;
  char* end = nullptr;
  const float parsed = std::strtof(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

/// As the float form, rounded to double (`std::strtod`).
inline bool parseNumber(const std::string& field, double& value) {
  const std::string text = trim(field);
  if (text.empty()) return false;
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

/// Parses the whole of `field`, blanks around it aside, as a decimal integer with an
/// optional sign. Returns false and leaves `value` alone for anything else, and for a
/// number beyond the range of long.
inline bool parseNumber(const std::string& field, long& value) {
  const std::string text = trim(field);
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE) return false;
  value = parsed;
  return true;
}

}  // namespace text
}  // namespace zelvane
