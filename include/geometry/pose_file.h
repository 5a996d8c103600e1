/// @file
/// The pose file: time-stamped poses as CSV, read into a `TransformManager`. The one
/// reader behind `zelvane_frames --poses` and Python's `read_pose_csv`.
///
/// Grammar (one line a record, lines end at "\n", a "\r" before it is ignored):
///
///     file      = [BOM] header "\n" { line "\n" } [line]
///     header    = "time,from,to,x,y,z,qx,qy,qz,qw"    (each field may be quoted)
///     line      = blank | time "," from "," to "," 7 * (number ",") minus the last ","
///     time      = [blanks] ["+" | "-"] digit {digit} [blanks]    (a signed 64-bit integer)
///     from, to  = any text without "," that does not start with '"', blanks around it
///                 removed; not empty, not equal
///     number    = [blanks] ["+" | "-"] (digits ["." {digit}] | "." digits)
///                 [("e" | "E") ["+" | "-"] digits] [blanks]
///     blanks    = space, tab or carriage return
///     BOM       = the UTF-8 byte-order mark EF BB BF, skipped
///
/// Any field may instead be quoted as CSV writers quote (RFC 4180), with blanks
/// around the quotes: '"' { any character but '"' | '""' } '"', read as the text
/// between the quotes, each '""' as one '"'. A quoted field may hold commas, quotes
/// and blanks: a quoted frame name is taken as written, blanks included; a quoted
/// number or time is read as if unquoted. A quote inside a field that does not start
/// with one is an ordinary character, as CSV readers take it. A quoted field ends on
/// its line: one without its closing quote is refused, and so is text between a
/// closing quote and the next comma.
///
/// Numbers are decimal only: hexadecimal floats, "inf", "nan" and the like are refused,
/// as is a number beyond the float range (one below it reads as 0 or a subnormal). Each
/// number is rounded once, from its decimal text to float. A blank line (nothing but
/// blanks) is skipped. The seven numbers are x, y, z of the position and the
/// quaternion x, y, z, w, which must have a length between 0.5 and 1.5 and is
/// normalised.
#pragma once

#include <functional>
#include <istream>
#include <string>

#include <zelvane/geometry/pose.h>
#include <zelvane/geometry/transform_manager.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {

/// The header line of a pose file, its fields trimmed.
ZELVANE_CORE_API extern const char* const POSE_FILE_HEADER;

/// One data line: the pose of `from` in `to` at `time`.
struct PoseLine {
  long time = 0;
  std::string from;
  std::string to;
  Pose pose;
};

/// True when `line` is the header line, blanks around each field aside. O(length).
ZELVANE_CORE_API bool isPoseFileHeader(const std::string& line);

/// Parses a data line that is not blank. Returns "" with `parsed` filled in (the
/// quaternion normalised, `timestamp` 0), or the reason the line is refused, for the
/// first check it fails of: fields quoted as the grammar says ("field K '\"Body'
/// has no closing quote"), ten fields ("expected 10 fields, found N"), an integer
/// time, two frame names that are neither empty nor equal, seven finite decimal
/// numbers ("field K 'text' is not a finite number", K counted from 1), a quaternion
/// of length between 0.5 and 1.5. `parsed` is unspecified after a refusal.
/// O(length), a few small allocations.
ZELVANE_CORE_API std::string parsePoseLine(const std::string& line, PoseLine& parsed);

/// What a pose file brought: the number of poses, the newest time among them and the
/// largest magnitude of a position coordinate among them (both 0 without poses), so
/// that a program can warn of map-scale coordinates (`needsLocalOrigin`) without
/// looking the poses up again.
struct PoseFileSummary {
  unsigned long count = 0;
  long newest_time = 0;
  double largest_coordinate = 0.0;
};

/// Called every 1024 lines with the stream position reached (-1 when the stream
/// cannot say) and the number of the line just read.
using PoseFileProgress = std::function<void(std::streamoff position, unsigned long line)>;

/// Registers every pose of `input` in `manager` (`registerTransform`), in file order.
/// `name` is the file's name for messages. Returns "" when the whole file was read,
/// else "name:line: reason": a missing or wrong header ("missing header line ...",
/// "expected the header line ..."), a refused line (`parsePoseLine`), a pose between
/// two frames already joined through other frames ("A and B are already joined
/// through other frames"), or "read error". The poses before the bad line stay
/// registered, and `summary` counts them. Cost: one line parse and one registration
/// a line.
ZELVANE_CORE_API std::string readPoseFile(std::istream& input, const std::string& name,
                                          TransformManager& manager, PoseFileSummary& summary,
                                          const PoseFileProgress& progress = {});

}  // namespace zelvane
