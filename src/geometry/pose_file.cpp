#include "geometry/pose_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "geometry/frame_graph_text.h"
#include "text_fields.h"

namespace zelvane {

const char* const POSE_FILE_HEADER = "time,from,to,x,y,z,qx,qy,qz,qw";

namespace {

constexpr std::size_t POSE_FIELDS = 10;
constexpr std::size_t POSE_NUMBERS = 7;
constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";
constexpr unsigned long PROGRESS_EVERY = 0x3ff;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// `text` without the blanks at either end, without copying.
std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Skips the digits from `at`; returns how many there were.
std::size_t skipDigits(std::string_view text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && isDigit(text[at])) ++at;
  return at - start;
}

// Whether the whole of `text` is a decimal number of the grammar (no blanks).
bool isDecimal(std::string_view text) {
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  std::size_t digits = skipDigits(text, at);
  if (at < text.size() && text[at] == '.') {
    ++at;
    digits += skipDigits(text, at);
  }
  if (digits == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (skipDigits(text, at) == 0) return false;
  }
  return at == text.size();
}

// A field as a finite float, rounded once from its decimal text.
bool parseDecimal(std::string_view field, float& value) {
  const std::string_view text = trimmed(field);
  if (!isDecimal(text)) return false;
  const std::string_view number = text.front() == '+' ? text.substr(1) : text;
  float parsed = 0.0f;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed);
  if (error == std::errc::result_out_of_range) {
    // Beyond the float range either way: strtof tells an underflow (0 or a
    // subnormal, taken) from an overflow (infinite, refused).
    parsed = std::strtof(std::string(number).c_str(), nullptr);
  } else if (error != std::errc() || end != number.data() + number.size()) {
    return false;
  }
  if (!std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

// A field as a signed 64-bit decimal integer.
bool parseTime(std::string_view field, long& value) {
  std::string_view text = trimmed(field);
  if (!text.empty() && text.front() == '+' && text.size() > 1 && isDigit(text[1])) {
    text.remove_prefix(1);
  }
  std::size_t at = text.empty() || text.front() != '-' ? 0 : 1;
  if (skipDigits(text, at) == 0 || at != text.size()) return false;
  return std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc();
}

// The first `POSE_FIELDS` fields of a line, as `splitFields` reads them; the text of
// a field with a doubled quote is kept in `unquoted`.
struct Fields {
  std::string_view text[POSE_FIELDS];
  std::string unquoted[POSE_FIELDS];
  std::size_t count = 0;
};

// Reads the field that starts at `at` (see the grammar in the header): a bare field
// is its text between the commas without the blanks around it, a quoted one (its
// first character a quote) the text between its quotes with each doubled quote read
// as one. Leaves `at` at the comma
// after the field or at the end of `line`. Returns "" or why the field is refused.
std::string readField(std::string_view line, std::size_t& at, std::string& unquoted,
                      std::string_view& text) {
  const std::size_t start = at;
  std::size_t end = line.find(',', at);
  if (end == std::string_view::npos) end = line.size();
  const std::string_view raw = trimmed(line.substr(start, end - start));
  if (raw.empty() || raw.front() != '"') {  // a quote inside is a character like any other
    at = end;
    text = raw;
    return "";
  }
  // Quoted: the field runs to its closing quote, commas included.
  const std::size_t open = line.find('"', start);
  std::size_t close = open + 1;
  bool doubled = false;
  for (;; close += 2) {
    close = line.find('"', close);
    if (close == std::string_view::npos) {
      at = line.size();
      return "'" + std::string(trimmed(line.substr(start))) + "' has no closing quote";
    }
    if (close + 1 >= line.size() || line[close + 1] != '"') break;
    doubled = true;
  }
  text = line.substr(open + 1, close - open - 1);
  std::size_t after = close + 1;
  while (after < line.size() && isBlank(line[after])) ++after;
  if (after < line.size() && line[after] != ',') {
    at = std::min(line.find(',', after), line.size());
    return "'" + std::string(trimmed(line.substr(start, at - start))) +
           "' has text after its closing quote";
  }
  at = after;
  if (doubled) {
    unquoted.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
      unquoted += text[i];
      if (text[i] == '"') ++i;  // the second of a doubled quote
    }
    text = unquoted;
  }
  return "";
}

// Splits `line` into its fields; more than `POSE_FIELDS` are only counted. Returns ""
// or the reason the first bad field is refused ("field K '...' ...").
std::string splitFields(std::string_view line, Fields& fields) {
  fields.count = 0;
  std::string spare;
  std::string_view spare_text;
  for (std::size_t at = 0;; ++at) {
    const bool kept = fields.count < POSE_FIELDS;
    const std::string fault = readField(line, at, kept ? fields.unquoted[fields.count] : spare,
                                        kept ? fields.text[fields.count] : spare_text);
    ++fields.count;
    if (!fault.empty()) return "field " + std::to_string(fields.count) + " " + fault;
    if (at >= line.size()) return "";
  }
}

}  // namespace

bool isPoseFileHeader(const std::string& line) {
  Fields fields;
  if (!splitFields(line, fields).empty()) return false;
  std::string header;
  for (std::size_t i = 0; i < std::min(fields.count, POSE_FIELDS); ++i) {
    header += (i == 0 ? "" : ",") + std::string(trimmed(fields.text[i]));
  }
  return fields.count == POSE_FIELDS && header == POSE_FILE_HEADER;
}

std::string parsePoseLine(const std::string& line, PoseLine& parsed) {
  Fields fields;
  std::string fault = splitFields(line, fields);
  if (!fault.empty()) return fault;
  if (fields.count != POSE_FIELDS) {
    return "expected 10 fields, found " + std::to_string(fields.count);
  }
  if (!parseTime(fields.text[0], parsed.time)) {
    return "time '" + std::string(trimmed(fields.text[0])) + "' is not an integer";
  }
  // A quoted name is taken as written, blanks included.
  parsed.from.assign(fields.text[1]);
  parsed.to.assign(fields.text[2]);
  if (parsed.from.empty() || parsed.to.empty()) {
    return "empty frame name";
  }
  if (parsed.from == parsed.to) {
    return "a frame cannot be given in itself ('" + parsed.from + "')";
  }
  float values[POSE_NUMBERS];
  for (std::size_t i = 0; i < POSE_NUMBERS; ++i) {
    if (!parseDecimal(fields.text[3 + i], values[i])) {
      return "field " + std::to_string(4 + i) + " '" + std::string(trimmed(fields.text[3 + i])) +
             "' is not a finite number";
    }
  }
  parsed.pose = Pose();
  parsed.pose.position = Eigen::Vector3f(values[0], values[1], values[2]);
  parsed.pose.orientation = Eigen::Quaternionf(values[6], values[3], values[4], values[5]);
  const float norm = parsed.pose.orientation.norm();
  if (!(norm > 0.5f && norm < 1.5f)) {
    return "quaternion is far from unit length";
  }
  parsed.pose.orientation.normalize();
  return "";
}

std::string readPoseFile(std::istream& input, const std::string& name, TransformManager& manager,
                         PoseFileSummary& summary, const PoseFileProgress& progress) {
  std::string line;
  unsigned long number = 1;
  const auto failure = [&](const std::string& reason) {
    return name + ":" + std::to_string(number) + ": " + reason;
  };
  if (!std::getline(input, line)) {
    return failure(std::string("missing header line ") + POSE_FILE_HEADER);
  }
  if (line.compare(0, UTF8_BOM.size(), UTF8_BOM) == 0) line.erase(0, UTF8_BOM.size());
  if (!isPoseFileHeader(line)) {
    return failure(std::string("expected the header line ") + POSE_FILE_HEADER);
  }
  PoseLine parsed;
  while (std::getline(input, line)) {
    ++number;
    if (progress && (number & PROGRESS_EVERY) == 0) progress(input.tellg(), number);
    if (line.find_first_not_of(text::BLANKS) == std::string::npos) continue;
    const std::string reason = parsePoseLine(line, parsed);
    if (!reason.empty()) return failure(reason);
    // The manager refuses such a pose with only a warning; here it is an input error.
    const TransformManager::Registration outcome =
        manager.registerTransform(parsed.from, parsed.to, parsed.pose, parsed.time);
    if (outcome != TransformManager::Registered) {
      return failure(registrationRefusal(outcome, parsed.from, parsed.to));
    }
    summary.newest_time =
        summary.count == 0 ? parsed.time : std::max(summary.newest_time, parsed.time);
    ++summary.count;
    summary.largest_coordinate =
        std::max(summary.largest_coordinate,
                 static_cast<double>(parsed.pose.position.cwiseAbs().maxCoeff()));
  }
  if (input.bad()) return failure("read error");
  return "";
}

}  // namespace zelvane
