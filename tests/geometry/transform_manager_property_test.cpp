// Properties of the frame graph over random forests with time-stamped edges (fixed
// seeds): a lookup at a sample time is the product of the poses registered at that
// time along the path, a lookup between samples is the product of the single-edge
// lookups at that time, and storing then loading keeps every (newest-sample) lookup.
// Static forests' products are checked in transform_manager_lookup_test.cpp.
#include <map>
#include <queue>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "settings_manager.h"

namespace {

using namespace zelvane::testing;

constexpr long kStep = 1000;  // between the samples of one edge
constexpr int kSamples = 3;   // per time-stamped edge, at kStep, 2 kStep, 3 kStep

// A random forest of `n` frames, some edges static and the rest time-stamped, and the
// path between any two of its frames.
class StampedForest {
 public:
  StampedForest(TransformManager& manager, unsigned seed, int n) : neighbours_(n) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 1; i < n; ++i) {
      if (unit(random) < -0.8f) continue;  // leave some trees apart
      int a = i, b = std::uniform_int_distribution<int>(0, i - 1)(random);
      if (unit(random) < 0.0f) std::swap(a, b);
      const bool stamped = unit(random) < 0.5f;
      for (int k = 1; k <= (stamped ? kSamples : 1); ++k) {
        const Pose pose = makePose(V(unit(random), unit(random), unit(random)) * 5,
                                   1.5f * unit(random), V(unit(random), unit(random), 2));
        const long time = stamped ? k * kStep : 0;
        manager.setTransform(name(a), name(b), pose, time);
        registered_[{a, b}][time] = pose.toTransform();
        registered_[{b, a}][time] = pose.toTransform().inverse();
      }
      neighbours_[a].push_back(b);
      neighbours_[b].push_back(a);
    }
  }

  static std::string name(int frame) { return "F" + std::to_string(frame); }
  int size() const { return static_cast<int>(neighbours_.size()); }

  // Frames on the path from `from` to `to`, both included; empty when apart.
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
    for (int frame = to; frame != from; frame = previous[frame])
      frames.insert(frames.begin(), frame);
    frames.insert(frames.begin(), from);
    return frames;
  }

  // to_T_from of the poses registered at `time` (or static) along `path`.
  Eigen::Matrix4f registeredProduct(const std::vector<int>& path, long time) const {
    Eigen::Matrix4f to_T_from = Eigen::Matrix4f::Identity();
    for (size_t i = 0; i + 1 < path.size(); ++i) {
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

constexpr unsigned kSeeds[] = {11u, 4242u, 90210u};
constexpr int kFrames = 24;

// At each sample time against the registered poses; between the samples against the
// single-edge lookups at the same time, for paths of two or more edges.
TEST(TransformManagerProperty, LookupIsTheProductOfTheRegisteredPosesOrOfItsEdgeLookups) {
  std::mt19937 random(77);
  std::uniform_int_distribution<long> time(kStep + 1, kSamples * kStep - 1);
  for (unsigned seed : kSeeds) {
    TransformManager manager;
    const StampedForest forest(manager, seed, kFrames);
    int checked = 0;
    for (int from = 0; from < kFrames; ++from) {
      for (int to = 0; to < kFrames; ++to) {
        const std::vector<int> path = forest.path(from, to);
        if (from == to || path.empty()) continue;
        const std::string a = StampedForest::name(from), b = StampedForest::name(to);
        Pose pose;
        for (long k = 1; k <= kSamples; ++k) {
          ASSERT_EQ(manager.getTransform(a, b, k * kStep, kInter, pose), TransformManager::Success)
              << seed << ": " << a << " " << b;
          EXPECT_TRUE(samePose(pose, poseOf(forest.registeredProduct(path, k * kStep)),
                               INTERPOLATED_TOLERANCE))
              << seed << ": " << a << " -> " << b << " at " << k * kStep;
          ++checked;
        }
        if (path.size() < 3) continue;
        const long t = time(random);
        Eigen::Matrix4f product = Eigen::Matrix4f::Identity();
        for (size_t i = 0; i + 1 < path.size(); ++i) {
          Pose edge;
          ASSERT_EQ(manager.getTransform(StampedForest::name(path[i]),
                                         StampedForest::name(path[i + 1]), t, kInter, edge),
                    TransformManager::Success);
          product = edge.toTransform() * product;
        }
        ASSERT_EQ(manager.getTransform(a, b, t, kInter, pose), TransformManager::Success);
        EXPECT_TRUE(samePose(pose, poseOf(product), INTERPOLATED_TOLERANCE))
            << seed << ": " << a << " -> " << b << " at " << t;
      }
    }
    EXPECT_GT(checked, 300) << seed;  // the forest is not trivially split
  }
}

TEST(TransformManagerProperty, StoringThenLoadingKeepsEveryNewestSampleLookup) {
  for (unsigned seed : kSeeds) {
    TransformManager original;
    const StampedForest forest(original, seed, kFrames);
    zelvane::SettingsManager store;
    ASSERT_EQ(original.storeTransforms(store, true), TransformManager::Success);
    TransformManager loaded;
    ASSERT_EQ(loaded.loadTransforms(store), TransformManager::Success);
    for (int from = 0; from < kFrames; ++from) {
      for (int to = 0; to < kFrames; ++to) {
        const std::string a = StampedForest::name(from), b = StampedForest::name(to);
        if (!original.hasFrame(a) || !original.hasFrame(b)) {
          EXPECT_FALSE(loaded.hasFrame(a) && loaded.hasFrame(b)) << a << " " << b;
          continue;
        }
        Pose expected, actual;
        const Result result = original.getTransform(a, b, expected);
        ASSERT_EQ(loaded.getTransform(a, b, actual), result) << seed << ": " << a << " " << b;
        if (result == TransformManager::Success) {
          EXPECT_TRUE(samePose(actual, expected, COMPOSED_TOLERANCE))
              << seed << ": " << a << " -> " << b;
          // Loaded transforms are static: any time gives the same answer.
          ASSERT_EQ(loaded.getTransform(a, b, 123456, kInter, actual), TransformManager::Success);
          EXPECT_TRUE(samePose(actual, expected, COMPOSED_TOLERANCE));
        }
      }
    }
  }
}

}  // namespace
