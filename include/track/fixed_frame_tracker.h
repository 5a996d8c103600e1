/// @file
/// Tracking in a fixed frame while the sensor moves.
///
/// A sensor on a vehicle sees a parked car move past it: tracked in the sensor's frame,
/// the car takes the vehicle's motion as its own, turns when the vehicle turns, and
/// every prediction is wrong by the vehicle's motion over the step. Tracked in a frame
/// fixed to the ground (for example "Global", fed with the vehicle's navigation poses),
/// the parked car stands still and a moving object moves by its own motion only.
///
/// `FixedFrameTracker` does this with the frame graph: each frame's detections, given
/// in the sensor's frame at the frame's stamp, are placed in the fixed frame by the
/// pose of the sensor there at that stamp (`placeState`), tracked there by a `Tracker`,
/// and reported in the fixed frame or placed back in the sensor's frame at the stamp.
/// Stamps are in the graph's time unit; the tracker's time is the stamp's distance from
/// the first frame's, converted to seconds.
///
/// A fixed frame of map-scale coordinates loses precision in the boxes' single
/// precision (see geometry/local_origin.h): track in a frame whose origin is near the
/// data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zelvane/core/state.h>
#include <zelvane/geometry/pose.h>
#include <zelvane/geometry/transform_manager.h>
#include <zelvane/track/tracker.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace track {

/// `state`, given in frame A, placed in frame B by `b_T_a` (the pose of A in B):
/// - the position's mean mapped as a point, its covariance turned (R S R');
/// - the velocity and acceleration turned as vectors, their covariances likewise: the
///   object's motion over the ground stays what it is, seen along B's axes (the motion
///   of A itself is not added or taken away);
/// - the heading: the direction of the object's x axis turned by R, read as its angle
///   about B's z axis (`wrapAngle`); exact for rotations about z, the tilt of others
///   taken as it comes. Heading variance, heading rate and dimensions are unchanged
///   (the anchor is in the object's own axes).
/// Absent members stay absent. Never throws; allocates nothing.
ZELVANE_CORE_API core::State placeState(const Pose& b_T_a, const core::State& state);

/// A `Tracker` that tracks in a fixed frame of a frame graph; see the file comment.
class ZELVANE_CORE_API FixedFrameTracker {
 public:
  /// The frame in which `step` reports the tracks.
  enum class Report {
    /// The fixed frame.
    FixedFrame,
    /// The sensor's frame at the frame's stamp.
    SensorFrame,
  };

  /// Tracks `classes` (see `Tracker`) in `fixedFrame` of `graph`, which must outlive
  /// this object. Each stamp unit is `secondsPerStamp` seconds (1e-9 for nanosecond
  /// stamps). Lookups sample the graph with `method`. Throws `std::invalid_argument`
  /// as `Tracker` does, and for a `secondsPerStamp` that is not finite and positive.
  FixedFrameTracker(TransformManager& graph, std::string fixedFrame,
                    std::vector<ClassParameters> classes, double secondsPerStamp,
                    TransformManager::InterpolationMethod method = TransformManager::Interpolated);

  /// Tracks one frame of `detections`, given in `sensorFrame` at `stamp`: looks up the
  /// pose of `sensorFrame` in the fixed frame at `stamp`, places the detections there,
  /// steps the tracker, and fills `reported` (cleared first) with the reported tracks
  /// in the frame `report` names.
  ///
  /// Returns the lookup's code (`getTransform`): on anything but `Success` the frame is
  /// not tracked and the tracker is unchanged. Throws `std::invalid_argument`, changing
  /// nothing, as `Tracker::step` does (an earlier stamp than the last frame's included).
  TransformManager::TransformResult step(long stamp, const std::string& sensorFrame,
                                         const std::vector<Detection>& detections,
                                         std::vector<TrackedBox>& reported,
                                         Report report = Report::FixedFrame);

  /// The tracker, whose tracks are in the fixed frame.
  const Tracker& tracker() const { return tracker_; }

  /// The fixed frame's name.
  const std::string& fixedFrame() const { return fixedFrame_; }

 private:
  TransformManager& graph_;
  std::string fixedFrame_;
  double secondsPerStamp_;
  TransformManager::InterpolationMethod method_;
  Tracker tracker_;
  bool started_ = false;
  long firstStamp_ = 0;
  std::vector<Detection> placed_;
};

}  // namespace track
}  // namespace zelvane
