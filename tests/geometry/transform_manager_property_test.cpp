// Properties of the frame graph over random forests with time-stamped edges (fixed
// seeds): a lookup at a sample time is the product of the poses registered at that
// time along the path, a lookup between samples is the product of the single-edge
// lookups at that time, and storing then loading keeps every (newest-sample) lookup.
// Static forests' products are checked in transform_manager_lookup_test.cpp.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "settings_manager.h"

namespace {

using namespace zelvane::testing;

constexpr long kStep = 1000;  // between the samples of one edge
constexpr int kSamples = 3;   // per time-stamped edge, at kStep, 2 kStep, 3 kStep

// Half the links time-stamped, with samples at kStep, 2 kStep and 3 kStep.
const ForestShape kStamped{false, false, 0.5f, kSamples, kStep};

constexpr unsigned kSeeds[] = {11u, 4242u, 90210u};
constexpr int kFrames = 24;

// At each sample time against the registered poses; between the samples against the
// single-edge lookups at the same time, for paths of two or more edges.
TEST(TransformManagerProperty, LookupIsTheProductOfTheRegisteredPosesOrOfItsEdgeLookups) {
  std::mt19937 random(77);
  std::uniform_int_distribution<long> time(kStep + 1, kSamples * kStep - 1);
  for (unsigned seed : kSeeds) {
    TransformManager manager;
    const RandomForest forest(manager, seed, kFrames, kStamped);
    int checked = 0;
    for (int from = 0; from < kFrames; ++from) {
      for (int to = 0; to < kFrames; ++to) {
        const std::vector<int> path = forest.path(from, to);
        if (from == to || path.empty()) continue;
        const std::string a = RandomForest::name(from), b = RandomForest::name(to);
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
          ASSERT_EQ(manager.getTransform(RandomForest::name(path[i]),
                                         RandomForest::name(path[i + 1]), t, kInter, edge),
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
    const RandomForest forest(original, seed, kFrames, kStamped);
    zelvane::SettingsManager store;
    ASSERT_EQ(original.storeTransforms(store, true), TransformManager::Success);
    TransformManager loaded;
    ASSERT_EQ(loaded.loadTransforms(store), TransformManager::Success);
    for (int from = 0; from < kFrames; ++from) {
      for (int to = 0; to < kFrames; ++to) {
        const std::string a = RandomForest::name(from), b = RandomForest::name(to);
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
