#include "pose_file.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <vector>

#include "text_fields.h"

namespace zelvane {
namespace apps {

const char* const POSE_FILE_HEADER = "time,from,to,x,y,z,qx,qy,qz,qw";

namespace {

using text::parseNumber;
using text::trim;

constexpr std::size_t POSE_FIELDS = 10;

// Shows how far a long pose file has got, on a terminal only, and only once reading
// has taken long enough for the operator to wonder.
class Progress {
 public:
  Progress(const std::string& file, std::streamoff size)
      : file_(file),
        size_(size),
        enabled_(isatty(STDERR_FILENO) != 0),
        start_(std::chrono::steady_clock::now()) {}

  void update(std::streamoff position, unsigned long lines) {
    if (!enabled_ || (lines & 0x3ff) != 0) {
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::milliseconds(500)) {
      return;
    }
    shown_ = true;
    std::cerr << "\rreading " << file_ << ": " << lines << " lines";
    if (size_ > 0 && position >= 0) {
      std::cerr << " (" << (100 * position / size_) << "%)";
    }
    std::cerr << std::flush;
  }

  ~Progress() {
    if (shown_) {
      std::cerr << "\r\033[K" << std::flush;
    }
  }

  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  std::string file_;
  std::streamoff size_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
};

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
  if (!parseNumber(fields[0], parsed.time)) {
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
  float values[7];
  for (int i = 0; i < 7; ++i) {
    if (!parseNumber(fields[3 + i], values[i])) {
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

bool readPoseFile(const std::string& file, TransformManager& manager, PoseFileSummary& summary) {
  std::ifstream input(file, std::ios::binary);
  if (!input) {
    std::cerr << file << ": cannot be opened" << std::endl;
    return false;
  }
  input.seekg(0, std::ios::end);
  Progress progress(file, input.tellg());
  input.seekg(0, std::ios::beg);

  std::string line;
  unsigned long number = 1;
  const auto fail = [&](const std::string& reason) {
    std::cerr << file << ":" << number << ": " << reason << std::endl;
    return false;
  };
  if (!std::getline(input, line)) {
    return fail(std::string("missing header line ") + POSE_FILE_HEADER);
  }
  if (!isPoseFileHeader(line)) {
    return fail(std::string("expected the header line ") + POSE_FILE_HEADER);
  }
  PoseLine parsed;
  while (std::getline(input, line)) {
    ++number;
    progress.update(input.tellg(), number);
    if (trim(line).empty()) {
      continue;
    }
    const std::string reason = parsePoseLine(line, parsed);
    if (!reason.empty()) {
      return fail(reason);
    }
    // The manager refuses such a pose with only a warning; here it is an input error.
    if (manager.indirectConnectionExists(parsed.from, parsed.to)) {
      return fail(parsed.from + " and " + parsed.to + " are already joined through other frames");
    }
    manager.setTransform(parsed.from, parsed.to, parsed.pose, parsed.time);
    summary.newest_time =
        summary.count == 0 ? parsed.time : std::max(summary.newest_time, parsed.time);
    ++summary.count;
  }
  if (input.bad()) {
    return fail("read error");
  }
  return true;
}

}  // namespace apps
}  // namespace zelvane
