/// @file
/// The objects of a tracking evaluation: `ObjectRecord`, one line of the benchmark's
/// files (a ground-truth object, a detection or a tracker's result), and
/// `TrackingSequence`, one sequence's ground truth and results. `eval/tracking_files.h`
/// reads and writes them; `eval/tracking_evaluation.h` scores them.
#pragma once

#include <string>
#include <vector>

#include <zelvane/eval/camera_box.h>

namespace zelvane {
namespace eval {

/// One object in one frame. The fields a format does not carry keep their defaults:
/// detections have no track id (-1), truncation or occlusion (-1); ground truth has no
/// score (-1).
struct ObjectRecord {
  /// Frame number, from 0.
  long frame = 0;
  /// Track id; -1 for none (a don't-care region of the ground truth, a detection).
  long trackId = -1;
  /// Object type as written ("Car", "Van", "Pedestrian", "DontCare", ...); the
  /// evaluation compares it in lower case.
  std::string type;
  /// Truncation level of a ground-truth object: 0 (none) to 2; -1 unknown.
  int truncation = -1;
  /// Occlusion level of a ground-truth object: 0 (visible) to 3; -1 unknown.
  int occlusion = -1;
  /// Observation angle, radians (carried through, never used by the evaluation).
  double alpha = -10.0;
  /// Rectangle in the image, pixels.
  ImageBox image;
  /// Box in the camera frame.
  CameraBox box;
  /// Confidence of a detection or result, higher is surer; -1 when the file has none.
  double score = -1.0;
};

/// One sequence to evaluate: its ground truth and a tracker's results, each in any
/// order. `frameCount` 0 means one more than the largest frame number among both.
struct TrackingSequence {
  std::string name;
  long frameCount = 0;
  std::vector<ObjectRecord> groundTruth;
  std::vector<ObjectRecord> results;
};

}  // namespace eval
}  // namespace zelvane
