// Poses with NaN or infinite members in the frame graph: a registration refuses them
// (and a zero quaternion), changing nothing; values that come in as they are (a
// restored snapshot) flow through lookups, removal and storing without a crash, and a
// stored one is refused again on loading.
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
constexpr float kTiny = std::numeric_limits<float>::denorm_min();

Pose withQuaternion(float x, float y, float z, float w) {
  Pose pose;
  pose.orientation.coeffs() << x, y, z, w;
  return pose;
}

std::string refusal(const std::string& to, const std::string& what) {
  return "Attempting to define transform between frames A and " + to + " with " + what +
         ". This new inputted transform will be ignored.";
}

TEST(TransformManagerNonFinite, RefusesNonFinitePositionsAndQuaternionsWithoutLength) {
  struct Case {
    Pose pose;
    TransformManager::Registration outcome;
    std::string what;  // in the warning
  };
  const Case cases[] = {
      {makePose(V(kNaN, 0, 0)), TransformManager::NonFinitePosition,
       "the position (nan, 0, 0), which is not finite"},
      {makePose(V(1, -kInf, 0)), TransformManager::NonFinitePosition,
       "the position (1, -inf, 0), which is not finite"},
      {withQuaternion(0, 0, 0, 0), TransformManager::DegenerateOrientation,
       "the orientation quaternion (0, 0, 0, 0), whose length is zero or not finite"},
      {withQuaternion(kNaN, 0, 0, 1), TransformManager::DegenerateOrientation,
       "the orientation quaternion (nan, 0, 0, 1), whose length is zero or not finite"},
      {withQuaternion(0, kInf, 0, 1), TransformManager::DegenerateOrientation,
       "the orientation quaternion (0, inf, 0, 1), whose length is zero or not finite"},
      // Any length but zero is a rotation: unit length is not asked for.
      {withQuaternion(0, 0, 0, 2), TransformManager::Registered, ""},
      {withQuaternion(kTiny, 0, 0, 0), TransformManager::Registered, ""},
  };
  for (const Case& c : cases) {
    for (const long time : {0L, 100L}) {
      TransformManager manager;
      manager.setTransform("A", "B", makePose(V(1, 2, 3)), 50);
      LogCapture capture(Logger::WARN_LEVEL);
      EXPECT_EQ(manager.registerTransform("A", "B", c.pose, time), c.outcome) << c.what;
      manager.setTransform("A", "New", c.pose, time);
      const bool stored = c.outcome == TransformManager::Registered;
      EXPECT_EQ(manager.hasFrame("New"), stored) << c.what;
      EXPECT_EQ(manager.historySize("A", "B"), stored ? 2u : 1u) << c.what;
      EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
                stored ? Texts{} : (Texts{refusal("B", c.what), refusal("New", c.what)}));
    }
  }
}

// Non-finite values restored as they were snapshot: lookups compose them without a
// crash and without touching other branches; removal composes through them and keeps
// the graph joined; loading refuses a stored one as a registration does, with its
// warning, and loads the rest.
TEST(TransformManagerNonFinite, RestoredNonFiniteValuesFlowThroughAndAreRefusedOnLoading) {
  TransformManager::Snapshot snapshot;
  snapshot.frames = {"Root", "Odd", "Fine", "Tip"};
  const Pose odd = makePose(V(kNaN, 0, 0));
  const Pose fine = makePose(V(1, 2, 3), 0.5f);
  Pose odd_rotation = makePose(V(0, 0, 0));
  odd_rotation.orientation.coeffs() << kNaN, 0, 0, kNaN;
  odd_rotation.timestamp = 200;
  Pose start = makePose(V(0, 0, 0));
  start.timestamp = 100;
  snapshot.pairs = {{"Odd", "Root", {{0.0, odd}}, {{0.0, odd.toInversePose()}}},
                    {"Fine", "Root", {{0.0, fine}}, {{0.0, fine.toInversePose()}}},
                    {"Tip",
                     "Odd",
                     {{100.0, start}, {200.0, odd_rotation}},
                     {{100.0, start}, {200.0, odd_rotation}}}};
  TransformManager manager;
  ASSERT_EQ(manager.restore(snapshot), TransformManager::Success);
  Pose pose;
  ASSERT_EQ(manager.getTransform("Odd", "Fine", pose), TransformManager::Success);
  EXPECT_FALSE(pose.position.allFinite());
  ASSERT_EQ(manager.getTransform("Fine", "Root", pose), TransformManager::Success);
  EXPECT_TRUE(samePose(pose, fine));
  ASSERT_EQ(manager.getTransform("Tip", "Odd", 150, kInter, pose), TransformManager::Success);
  EXPECT_FALSE(pose.orientation.coeffs().allFinite());

  zelvane::SettingsManager store;
  ASSERT_EQ(manager.storeTransforms(store, true), TransformManager::Success);
  ASSERT_EQ(manager.removeFrame("Odd"), TransformManager::Success);
  ASSERT_EQ(manager.getTransform("Tip", "Root", pose), TransformManager::Success);
  EXPECT_FALSE(pose.position.allFinite());

  LogCapture capture(Logger::WARN_LEVEL);
  TransformManager loaded;
  ASSERT_EQ(loaded.loadTransforms(store), TransformManager::Success);
  EXPECT_EQ(loaded.getFrames(), (Texts{"Fine", "Root"}));
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL).size(), 2u);  // Odd in Root, Tip in Odd
}

}  // namespace
