// The pose file of zelvane_frames: CSV whose first line is the header
// time,from,to,x,y,z,qx,qy,qz,qw and each further line the pose of `from` in `to` at
// an integer time (blank lines are skipped).
#pragma once

#include <string>

#include "geometry/pose.h"
#include "geometry/transform_manager.h"

namespace zelvane {
namespace apps {

/// The header line, its fields trimmed.
extern const char* const POSE_FILE_HEADER;

/// One data line: the pose of `from` in `to` at `time`.
struct PoseLine {
  long time = 0;
  std::string from;
  std::string to;
  Pose pose;
};

/// True when `line` is the header line, blanks around each field aside.
bool isPoseFileHeader(const std::string& line);

/// Parses a data line that is not blank. Returns "" with `parsed` filled in (the
/// quaternion normalised), or the reason the line is refused, for the first check it
/// fails of: ten fields, an integer time, two frame names that are neither empty nor
/// equal, seven finite numbers, a quaternion of length between 0.5 and 1.5.
std::string parsePoseLine(const std::string& line, PoseLine& parsed);

/// What a pose file brought: the number of poses and the newest time among them (0
/// without poses).
struct PoseFileSummary {
  unsigned long count = 0;
  long newest_time = 0;
};

/// Registers every pose of `file` in `manager`, in file order, and shows how far it has
/// got on a terminal when that takes a while. A pose whose frames are already joined
/// through other frames is refused like a bad line. Returns false after writing
/// "file:line: reason" (or "file: cannot be opened") to standard error; the poses
/// before the bad line stay registered.
bool readPoseFile(const std::string& file, TransformManager& manager, PoseFileSummary& summary);

}  // namespace apps
}  // namespace zelvane
