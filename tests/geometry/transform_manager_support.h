// Shared helpers of the frame graph tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <queue>
#include <random>
#include <string>
#include <utility>
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

/// A random forest of frames F0..F(n-1) registered in a manager: each frame after the
/// first joined to an earlier one (the previous one, for a chain) unless the link is
/// dropped (about one in ten, never in a chain), in a random direction. A share of the
/// links are time-stamped with `samples` samples at `step`, 2 `step`, ...; the others
/// static. Shuffled, the links are registered in random order, so that trees of every
/// size get joined. The forest keeps its own record of what was registered.
struct ForestShape {
  bool chain = false;
  bool shuffled = false;
  float stampedShare = 0.0f;
  int samples = 3;
  long step = 1000;
};

class RandomForest {
 public:
  RandomForest(TransformManager& manager, unsigned seed, int n, ForestShape shape = {})
      : neighbours_(static_cast<std::size_t>(n)) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<std::pair<int, int>> links;
    for (int i = 1; i < n; ++i) {
      if (!shape.chain && unit(random) < -0.8f) continue;
      links.emplace_back(
          i, shape.chain ? i - 1 : std::uniform_int_distribution<int>(0, i - 1)(random));
    }
    if (shape.shuffled) std::shuffle(links.begin(), links.end(), random);
    for (auto [a, b] : links) {
      if (unit(random) < 0.0f) std::swap(a, b);
      const bool stamped = (unit(random) + 1.0f) / 2.0f < shape.stampedShare;
      for (int k = 1; k <= (stamped ? shape.samples : 1); ++k) {
        const Pose pose = makePose(V(unit(random), unit(random), unit(random)) * 5,
                                   3.1f * unit(random), V(unit(random), unit(random), 2));
        const long time = stamped ? k * shape.step : 0;
        manager.setTransform(name(a), name(b), pose, time);
        registered_[{a, b}][time] = pose.toTransform();
        registered_[{b, a}][time] = pose.toTransform().inverse();
      }
      neighbours_[static_cast<std::size_t>(a)].push_back(b);
      neighbours_[static_cast<std::size_t>(b)].push_back(a);
    }
  }

  static std::string name(int frame) { return "F" + std::to_string(frame); }

  /// Frames on the path from `from` to `to`, both included; empty when apart.
  std::vector<int> path(int from, int to) const {
    std::vector<int> previous(neighbours_.size(), -1);
    std::queue<int> open;
    for (open.push(from), previous[from] = from; !open.empty(); open.pop()) {
      for (int next : neighbours_[open.front()]) {
        if (previous[next] < 0) {
          previous[next] = open.front();
          open.push(next);
        }
      }
    }
    std::vector<int> frames;
    if (previous[to] < 0) return frames;
    for (int frame = to; frame != from; frame = previous[frame]) frames.push_back(frame);
    frames.push_back(from);
    std::reverse(frames.begin(), frames.end());
    return frames;
  }

  /// to_T_from of the poses registered at `time` (or static) along `path`.
  Eigen::Matrix4f registeredProduct(const std::vector<int>& path, long time) const {
    Eigen::Matrix4f to_T_from = Eigen::Matrix4f::Identity();
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
      const std::map<long, Eigen::Matrix4f>& history = registered_.at({path[i], path[i + 1]});
      const auto sample = history.count(0) != 0 ? history.find(0) : history.find(time);
      to_T_from = sample->second * to_T_from;
    }
    return to_T_from;
  }

 private:
  std::vector<std::vector<int>> neighbours_;
  std::map<std::pair<int, int>, std::map<long, Eigen::Matrix4f>> registered_;
};

}  // namespace zelvane::testing
