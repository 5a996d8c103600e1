#include "eval/camera_box.h"

#include <cmath>
#include <stdexcept>

#include "numeric_policy.h"

namespace zelvane {
namespace eval {

core::State stateFromCameraBox(const CameraBox& box) {
  const Eigen::Vector3d centre(box.z, -box.x, 0.5 * box.height - box.y);
  return core::State::box(centre.cast<float>(),
                          static_cast<float>(core::wrapAngle(-box.yaw - 0.5 * numeric::PI)),
                          static_cast<float>(box.length), static_cast<float>(box.width),
                          static_cast<float>(box.height));
}

CameraBox cameraBoxFromState(const core::State& state) {
  if (!state.position || !state.heading || !state.dimensions) {
    throw std::invalid_argument(
        "cameraBoxFromState: the state needs a position, a heading and dimensions");
  }
  const Eigen::Vector3f centre = state.centroid();
  const auto& dimensions = *state.dimensions;
  CameraBox box;
  box.length = dimensions.length;
  box.width = dimensions.width;
  box.height = dimensions.height;
  box.x = -static_cast<double>(centre.y());
  box.y = 0.5 * box.height - static_cast<double>(centre.z());
  box.z = centre.x();
  box.yaw = core::wrapAngle(-static_cast<double>(state.heading->mean) - 0.5 * numeric::PI);
  return box;
}

}  // namespace eval
}  // namespace zelvane
