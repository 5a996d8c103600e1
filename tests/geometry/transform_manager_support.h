// Shared helpers of the frame graph tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "support/log_capture.h"
#include "support/tolerance.h"

namespace zelvane::testing {

using zelvane::Pose;
using zelvane::TransformManager;
using Method = TransformManager::InterpolationMethod;
using Result = TransformManager::TransformResult;
using Texts = std::vector<std::string>;
using V = Eigen::Vector3f;

constexpr Method kInter = TransformManager::Interpolated;
constexpr long kWindow = static_cast<long>(TransformManager::TRANSFORM_HISTORY_WINDOW);

/// A pose at `position` turned by `angle` radians about `axis`.
inline Pose makePose(const Eigen::Vector3f& position, float angle = 0.0f,
                     const Eigen::Vector3f& axis = Eigen::Vector3f::UnitZ(),
                     std::int64_t timestamp = 0) {
  Pose pose;
  pose.position = position;
  pose.orientation = Eigen::Quaternionf(Eigen::AngleAxisf(angle, axis.normalized()));
  pose.timestamp = timestamp;
  return pose;
}

inline Pose poseOf(const Eigen::Matrix4f& transform) {
  Pose pose;
  pose.position = transform.topRightCorner<3, 1>();
  pose.orientation = Eigen::Quaternionf(Eigen::Matrix3f(transform.topLeftCorner<3, 3>()));
  return pose;
}

inline bool isIdentity(const Pose& pose) {
  return pose.position == Eigen::Vector3f::Zero() &&
         pose.orientation.coeffs() == Eigen::Quaternionf::Identity().coeffs() &&
         pose.timestamp == 0;
}

/// The same pose to the bit: position, orientation and stamp.
inline bool sameBits(const Pose& a, const Pose& b) {
  return std::memcmp(a.position.data(), b.position.data(), 3 * sizeof(float)) == 0 &&
         std::memcmp(a.orientation.coeffs().data(), b.orientation.coeffs().data(),
                     4 * sizeof(float)) == 0 &&
         a.timestamp == b.timestamp;
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
