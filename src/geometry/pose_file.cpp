#include "geometry/pose_file.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "text_fields.h"

namespace zelvane {

const char* const POSE_FILE_HEADER = "time,from,to,x,y,z,qx,qy,qz,qw";

namespace {

constexpr std::size_t POSE_FIELDS = 10;
constexpr std::size_t POSE_NUMBERS = 7;
constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";
constexpr unsigned long PROGRESS_EVERY = 0x3ff;

using text::trim;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Skips the digits from `at`; returns how many there were.
std::size_t skipDigits(const std::string& text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && isDigit(text[at])) ++at;
  return at - start;
}

// Whether the whole of `text` is a decimal number of the grammar (no blanks).
bool isDecimal(const std::string& text) {
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
bool parseDecimal(const std::string& field, float& value) {
  const std::string text = trim(field);
  if (!isDecimal(text)) return false;
  const float parsed = std::strtof(text.c_str(), nullptr);
  if (!std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

// A field as a signed 64-bit decimal integer.
bool parseTime(const std::string& field, long& value) {
  const std::string text = trim(field);
  std::size_t at = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
  if (skipDigits(text, at) == 0 || at != text.size()) return false;
  return text::parseNumber(text, value);
}

}  // namespace

bool isPoseFileHeader(const std::string& line) {
  std::string header;
  for (const std::string& field : text::split(line, ',')) {
    header += (header.empty() ? "" : ",") + trim(field);
  }
  return header == POSE_FILE_HEADER;
}

std::string parsePoseLine(const std::string& line, PoseLine& parsed) {
  const std::vector<std::string> fields = text::split(line, ',');
  if (fields.size() != POSE_FIELDS) {
    return "expected 10 fields, found " + std::to_string(fields.size());
  }
  if (!parseTime(fields[0], parsed.time)) {
    return "time '" + trim(fields[0]) + "' is not an integer";
  }
  parsed.from = trim(fields[1]);
  parsed.to = trim(fields[2]);
  if (parsed.from.empty() || parsed.to.empty()) {
    return "empty frame name";
  }
  if (parsed.from == parsed.to) {
    return "a frame cannot be given in itself ('" + parsed.from + "')";
  }
  float values[POSE_NUMBERS];
  for (std::size_t i = 0; i < POSE_NUMBERS; ++i) {
    if (!parseDecimal(fields[3 + i], values[i])) {
      return "field " + std::to_string(4 + i) + " '" + trim(fields[3 + i]) +
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
    if (manager.registerTransform(parsed.from, parsed.to, parsed.pose, parsed.time) !=
        TransformManager::Registered) {
      return failure(parsed.from + " and " + parsed.to + " are already joined through other frames");
    }
    summary.newest_time =
        summary.count == 0 ? parsed.time : std::max(summary.newest_time, parsed.time);
    ++summary.count;
  }
  if (input.bad()) return failure("read error");
  return "";
}

}  // namespace zelvane
