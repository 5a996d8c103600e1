// Poses with NaN or infinite members in the frame graph: they are kept as given, flow
// through lookups and removal without a crash, and survive storing and loading.
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "settings_manager.h"

namespace {

using namespace zelvane::testing;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(TransformManagerNonFinite, NaNPoseIsLookedUpAsNaNAndOtherBranchesStayFinite) {
  TransformManager manager;
  manager.setTransform("Odd", "Root", makePose(V(kNaN, 0, 0)), 0);
  manager.setTransform("Fine", "Root", makePose(V(1, 2, 3), 0.5f), 0);
  Pose pose;
  ASSERT_EQ(manager.getTransform("Odd", "Fine", pose), TransformManager::Success);
  EXPECT_FALSE(pose.position.allFinite());
  ASSERT_EQ(manager.getTransform("Root", "Odd", pose), TransformManager::Success);
  EXPECT_TRUE(std::isnan(pose.position.x()));
  ASSERT_EQ(manager.getTransform("Fine", "Root", pose), TransformManager::Success);
  EXPECT_TRUE(samePose(pose, makePose(V(1, 2, 3), 0.5f)));
}

TEST(TransformManagerNonFinite, NaNTimeSamplesInterpolateToNaNWithoutFailing) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(V(0, 0, 0)), 100);
  Pose odd = makePose(V(0, 0, 0));
  odd.orientation.coeffs() << kNaN, 0, 0, kNaN;
  manager.setTransform("A", "B", odd, 200);
  Pose pose;
  ASSERT_EQ(manager.getTransform("A", "B", 150, kInter, pose), TransformManager::Success);
  EXPECT_FALSE(pose.orientation.coeffs().allFinite());
  ASSERT_EQ(manager.getTransform("A", "B", 100, kInter, pose), TransformManager::Success);
  EXPECT_TRUE(isIdentity(makePose(pose.position)) && pose.orientation.w() == 1.0f);
}

TEST(TransformManagerNonFinite, RemovingAFrameComposesThroughANonFiniteEdge) {
  TransformManager manager;
  manager.setTransform("Middle", "Root", makePose(V(kInf, 0, 0)), 0);
  manager.setTransform("Tip", "Middle", makePose(V(0, 1, 0)), 0);
  ASSERT_EQ(manager.removeFrame("Middle"), TransformManager::Success);
  Pose pose;
  ASSERT_EQ(manager.getTransform("Tip", "Root", pose), TransformManager::Success);
  EXPECT_FALSE(pose.position.allFinite());
}

TEST(TransformManagerNonFinite, NonFiniteValuesSurviveStoringAndLoading) {
  for (const V& position : {V(kNaN, 0, 0), V(kInf, 1, 2), V(0, -kInf, 0)}) {
    TransformManager original;
    original.setTransform("A", "B", makePose(position), 0);
    zelvane::SettingsManager store;
    ASSERT_EQ(original.storeTransforms(store, true), TransformManager::Success);
    TransformManager loaded;
    ASSERT_EQ(loaded.loadTransforms(store), TransformManager::Success) << position.transpose();
    // The stored direction (B in A) reads back exactly, non-finite members included.
    Pose expected, actual;
    ASSERT_EQ(original.getTransform("B", "A", expected), TransformManager::Success);
    ASSERT_EQ(loaded.getTransform("B", "A", actual), TransformManager::Success);
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(actual.position[k] == expected.position[k] ||
                  (std::isnan(actual.position[k]) && std::isnan(expected.position[k])))
          << position.transpose() << ": " << actual.position.transpose() << " vs "
          << expected.position.transpose();
    }
  }
}

}  // namespace
