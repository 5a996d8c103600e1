// Shared helpers of the frame graph tests: poses, tolerant comparisons, and the
// records that the manager's own logger wrote.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "support/log_capture.h"

namespace zelvane::testing {

constexpr float kTol = 1e-4f;
constexpr long kWindow = static_cast<long>(TransformManager::TRANSFORM_HISTORY_WINDOW);

/// A pose at (x, y, z) turned by `yaw` radians about z.
inline Pose makePose(float x, float y, float z, float yaw = 0.0f, std::int64_t timestamp = 0) {
  Pose pose;
  pose.position = Eigen::Vector3f(x, y, z);
  pose.orientation = Eigen::Quaternionf(Eigen::AngleAxisf(yaw, Eigen::Vector3f::UnitZ()));
  pose.timestamp = timestamp;
  return pose;
}

/// A pose with a rotation about an arbitrary axis, for compositions that do not commute.
inline Pose makePose(const Eigen::Vector3f& position, const Eigen::Vector3f& axis, float angle) {
  Pose pose;
  pose.position = position;
  pose.orientation = Eigen::Quaternionf(Eigen::AngleAxisf(angle, axis.normalized()));
  return pose;
}

inline bool isIdentity(const Pose& pose) {
  return pose.position == Eigen::Vector3f::Zero() &&
         pose.orientation.coeffs() == Eigen::Quaternionf::Identity().coeffs() &&
         pose.timestamp == 0;
}

/// Same position and the same rotation (quaternions equal up to sign), within `tol`.
inline ::testing::AssertionResult samePose(const Pose& actual, const Pose& expected,
                                           float tol = kTol) {
  const float position = (actual.position - expected.position).cwiseAbs().maxCoeff();
  const Eigen::Vector4f a = actual.orientation.coeffs();
  const Eigen::Vector4f e = expected.orientation.coeffs();
  const float rotation = std::min((a - e).cwiseAbs().maxCoeff(), (a + e).cwiseAbs().maxCoeff());
  if (position <= tol && rotation <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "position (" << actual.position.transpose() << ") vs (" << expected.position.transpose()
         << "), orientation (" << a.transpose() << ") vs (" << e.transpose() << ")";
}

/// The pose of a 4x4 rigid transform.
inline Pose poseOf(const Eigen::Matrix4f& transform) {
  Pose pose;
  pose.position = transform.topRightCorner<3, 1>();
  pose.orientation = Eigen::Quaternionf(Eigen::Matrix3f(transform.topLeftCorner<3, 3>()));
  return pose;
}

/// What the manager's own logger wrote at `level`.
inline std::vector<std::string> managerMessages(const LogCapture& capture, int level) {
  std::vector<std::string> messages;
  for (const LogRecord& record : capture.records()) {
    if (record.logger == "TransformManager" && record.level == level) {
      messages.push_back(record.message);
    }
  }
  return messages;
}

inline std::string cycleWarning(const std::string& from, const std::string& to) {
  return "Attempting to define transform between frames " + from + " and " + to +
         " which already have an indirect connection.This new inputted transform will be ignored.";
}

}  // namespace zelvane::testing
