#include "track/fixed_frame_tracker.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include <Eigen/Geometry>

#include "track/heading.h"

namespace zelvane {
namespace track {
namespace {

void turn(const Eigen::Matrix3f& R, boost::optional<Gaussian<float, 3>>& value) {
  if (!value) return;
  value->mean = R * value->mean;
  value->covariance = R * value->covariance * R.transpose();
}

}  // namespace

core::State placeState(const Pose& b_T_a, const core::State& state) {
  const Eigen::Matrix3f R = b_T_a.orientation.toRotationMatrix();
  core::State placed = state;
  turn(R, placed.position);
  if (placed.position) placed.position->mean += b_T_a.position;
  turn(R, placed.velocity);
  turn(R, placed.acceleration);
  if (placed.heading) {
    const float h = state.heading->mean;
    const Eigen::Vector3f axis = R * Eigen::Vector3f(std::cos(h), std::sin(h), 0.0f);
    placed.heading->mean = wrapAngle(std::atan2(axis.y(), axis.x()));
  }
  return placed;
}

FixedFrameTracker::FixedFrameTracker(TransformManager& graph, std::string fixedFrame,
                                     std::vector<ClassParameters> classes, double secondsPerStamp,
                                     TransformManager::InterpolationMethod method)
    : graph_(graph),
      fixedFrame_(std::move(fixedFrame)),
      secondsPerStamp_(secondsPerStamp),
      method_(method),
      tracker_(std::move(classes)) {
  if (!(secondsPerStamp > 0.0) || !std::isfinite(secondsPerStamp)) {
    throw std::invalid_argument(
        "FixedFrameTracker: secondsPerStamp must be finite and positive, not " +
        std::to_string(secondsPerStamp));
  }
}

TransformManager::TransformResult FixedFrameTracker::step(long stamp,
                                                          const std::string& sensorFrame,
                                                          const std::vector<Detection>& detections,
                                                          std::vector<TrackedBox>& reported,
                                                          Report report) {
  reported.clear();
  Pose fixed_T_sensor;
  const TransformManager::TransformResult found =
      graph_.getTransform(sensorFrame, fixedFrame_, stamp, method_, fixed_T_sensor);
  if (found != TransformManager::Success) return found;
  placed_ = detections;
  for (Detection& d : placed_) d.box = placeState(fixed_T_sensor, d.box);
  // Seconds since the first frame: small numbers, exact differences of the stamps.
  const long origin = started_ ? firstStamp_ : stamp;
  reported = tracker_.step(static_cast<double>(stamp - origin) * secondsPerStamp_, placed_);
  started_ = true;
  firstStamp_ = origin;
  if (report == Report::SensorFrame) {
    const Pose sensor_T_fixed = fixed_T_sensor.toInversePose();
    for (TrackedBox& box : reported) box.state = placeState(sensor_T_fixed, box.state);
  }
  return TransformManager::Success;
}

}  // namespace track
}  // namespace zelvane
