// Registration of transforms and the small queries on frames.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"

namespace {

using zelvane::Pose;
using zelvane::TransformManager;
using zelvane::testing::cycleWarning;
using zelvane::testing::kWindow;
using zelvane::testing::LogCapture;
using zelvane::testing::makePose;
using zelvane::testing::managerMessages;
using zelvane::testing::samePose;
using Frames = std::vector<std::string>;

// The sample an edge answers for `time` with `Interpolated`, or the failure code.
TransformManager::TransformResult sampleAt(TransformManager& manager, const std::string& from,
                                           const std::string& to, long time, Pose& pose) {
  return manager.getTransform(from, to, time, TransformManager::Interpolated, pose);
}

TEST(TransformManagerConstants, CarryTheirSettingsKeysAndFrameNames) {
  EXPECT_EQ(TRANSFORMS_TAG, "Transforms");
  EXPECT_EQ(TRANSFORM_TAG, "Transform");
  EXPECT_EQ(FROM_FRAME_TAG, "fromFrameName");
  EXPECT_EQ(TO_FRAME_TAG, "toFrameName");
  EXPECT_EQ(zelvane::frames::BODY_FRAME, "Body");
  EXPECT_EQ(zelvane::frames::GLOBAL_FRAME, "Global");
  EXPECT_EQ(zelvane::frames::SENSOR_ORIGIN_FRAME, "Sensor");
  EXPECT_EQ(TransformManager::TRANSFORM_HISTORY_WINDOW, 1.0e10);
}

TEST(TransformManagerFrames, NewManagerHasNoFrames) {
  TransformManager manager;
  EXPECT_TRUE(manager.getFrames().empty());
  for (const std::string& name :
       {std::string("Body"), std::string("Global"), std::string("Sensor"), std::string()}) {
    EXPECT_FALSE(manager.hasFrame(name)) << name;
  }
}

TEST(TransformManagerFrames, FramesAreNumberedInOrderOfFirstRegistration) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "B"}));
  manager.setTransform("C", "B", makePose(0, 1, 0), 0);
  manager.setTransform("B", "D", makePose(0, 0, 1), 0);
  manager.setTransform("E", "F", makePose(0, 0, 1), 0);  // from before to
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "B", "C", "D", "E", "F"}));
  EXPECT_TRUE(manager.hasFrame("E"));
  EXPECT_FALSE(manager.hasFrame("a"));
}

TEST(TransformManagerRegistration, StoresPoseForwardAndItsInverseBackward) {
  TransformManager manager;
  const Pose p = makePose({1, 2, 3}, {1, 2, 0.5f}, 0.7f);
  manager.setTransform("A", "B", p, 0);
  Pose forward, backward;
  ASSERT_EQ(manager.getTransform("A", "B", forward), TransformManager::Success);
  ASSERT_EQ(manager.getTransform("B", "A", backward), TransformManager::Success);
  EXPECT_TRUE(samePose(forward, p));
  EXPECT_TRUE(samePose(backward, p.toInversePose()));
}

TEST(TransformManagerRegistration, RegisteringAgainReplacesStaticEntryInBothDirections) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0, 0.3f), 0);
  const Pose q = makePose(0, 5, 0, -1.0f);
  manager.setTransform("A", "B", q, 0);
  Pose forward, backward;
  manager.getTransform("A", "B", forward);
  manager.getTransform("B", "A", backward);
  EXPECT_TRUE(samePose(forward, q));
  EXPECT_TRUE(samePose(backward, q.toInversePose()));

  // The reverse direction is the same edge pair: it replaces the entry too.
  const Pose r = makePose(2, 0, 1, 0.5f);
  manager.setTransform("B", "A", r, 0);
  manager.getTransform("A", "B", forward);
  EXPECT_TRUE(samePose(forward, r.toInversePose()));
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "B"}));
}

TEST(TransformManagerRegistration, NonZeroTimeStampsTheStoredPoseZeroKeepsItsOwn) {
  TransformManager stamped;
  stamped.setTransform("A", "B", makePose(1, 0, 0, 0, 7), 100);
  TransformManager unstamped;
  unstamped.setTransform("A", "B", makePose(1, 0, 0, 0, 7), 0);
  Pose pose;
  for (const auto& [from, to] : {std::pair{"A", "B"}, std::pair{"B", "A"}}) {
    // A lookup at time 0 reports the largest timestamp of the samples it used.
    stamped.getTransform(from, to, pose);
    EXPECT_EQ(pose.timestamp, 100);
    unstamped.getTransform(from, to, pose);
    EXPECT_EQ(pose.timestamp, 7);
  }
}

TEST(TransformManagerRegistration, RefusesTransformThatWouldCloseCycle) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0, 0.2f), 0);
  manager.setTransform("B", "C", makePose(0, 1, 0, 0.4f), 0);
  Pose before;
  manager.getTransform("A", "C", before);

  LogCapture capture;
  manager.setTransform("A", "C", makePose(9, 9, 9), 0);
  manager.setTransform("C", "A", makePose(9, 9, 9), 5);
  manager.setTransform("A", "A", makePose(9, 9, 9), 0);  // an existing frame and itself
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
            (Frames{cycleWarning("A", "C"), cycleWarning("C", "A"), cycleWarning("A", "A")}));

  Pose after;
  ASSERT_EQ(manager.getTransform("A", "C", after), TransformManager::Success);
  EXPECT_TRUE(samePose(after, before));
  EXPECT_TRUE(manager.indirectConnectionExists("A", "C"));  // still no direct edge
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "B", "C"}));
}

TEST(TransformManagerRegistration, RefusesSelfTransformOfUnknownFrameWithoutCreatingIt) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  LogCapture capture;
  manager.setTransform("X", "X", makePose(1, 0, 0), 0);
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
            (Frames{"Attempting to define transform from frame X to itself. This new inputted "
                    "transform will be ignored."}));
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "B"}));
  EXPECT_FALSE(manager.hasFrame("X"));
}

TEST(TransformManagerRegistration, JoiningTwoTreesConnectsEveryFrameOfBoth) {
  // Trees of different sizes, joined from either side, so that either one ends up
  // below the other.
  for (const bool small_first : {true, false}) {
    TransformManager manager;
    manager.setTransform("A", "B", makePose(1, 0, 0, 0.1f), 0);
    manager.setTransform("C", "D", makePose(0, 1, 0, 0.2f), 0);
    manager.setTransform("E", "D", makePose(0, 0, 1, 0.3f), 0);
    manager.setTransform("F", "E", makePose(1, 1, 0, 0.4f), 0);
    if (small_first) {
      manager.setTransform("B", "C", makePose(2, 0, 0, 0.5f), 0);
    } else {
      manager.setTransform("C", "B", makePose(2, 0, 0, 0.5f).toInversePose(), 0);
    }
    // A -> B -> C -> D <- E <- F
    const Eigen::Matrix4f d_T_a = makePose(0, 1, 0, 0.2f).toTransform() *
                                  makePose(2, 0, 0, 0.5f).toTransform() *
                                  makePose(1, 0, 0, 0.1f).toTransform();
    const Eigen::Matrix4f d_T_f =
        makePose(0, 0, 1, 0.3f).toTransform() * makePose(1, 1, 0, 0.4f).toTransform();
    Pose a_in_f;
    ASSERT_EQ(manager.getTransform("A", "F", a_in_f), TransformManager::Success);
    EXPECT_TRUE(samePose(a_in_f, zelvane::testing::poseOf(d_T_f.inverse() * d_T_a)));
    EXPECT_FALSE(manager.indirectConnectionExists("B", "C"));
    EXPECT_TRUE(manager.indirectConnectionExists("F", "A"));
  }
}

// --- History pruning ---------------------------------------------------------

TEST(TransformManagerHistory, SampleNewerThanWindowErasesOlderSamplesStrictly) {
  struct Case {
    long newest;
    std::vector<long> kept;
    std::vector<long> erased;
  };
  const Case cases[] = {
      {4 + kWindow, {3, 4 + kWindow}, {1, 2}},    // key 3 plus the window is still older
      {1 + kWindow, {1, 2, 3, 1 + kWindow}, {}},  // exactly one window: kept
  };
  for (const Case& c : cases) {
    TransformManager manager;
    for (long t : {1L, 2L, 3L, c.newest}) {
      manager.setTransform("A", "B", makePose(static_cast<float>(t), 0, 0), t);
    }
    Pose pose;
    for (long t : c.kept) {
      for (const auto& [from, to] : {std::pair{"A", "B"}, std::pair{"B", "A"}}) {
        ASSERT_EQ(sampleAt(manager, from, to, t, pose), TransformManager::Success)
            << c.newest << " " << t;
        EXPECT_EQ(pose.timestamp, t);
      }
    }
    for (long t : c.erased) {
      EXPECT_EQ(sampleAt(manager, "A", "B", t, pose), TransformManager::OutOfRange) << t;
      EXPECT_EQ(sampleAt(manager, "B", "A", t, pose), TransformManager::OutOfRange) << t;
    }
  }
}

TEST(TransformManagerHistory, PruningNeverLeavesFewerThanTwoSamples) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 1);
  manager.setTransform("A", "B", makePose(2, 0, 0), 1 + 3 * kWindow);
  Pose pose;
  EXPECT_EQ(sampleAt(manager, "A", "B", 1, pose), TransformManager::Success);
  EXPECT_EQ(pose.position.x(), 1.0f);
}

TEST(TransformManagerHistory, PruningComparesAgainstTheInsertedTimeNotTheNewest) {
  TransformManager manager;
  for (long t : {3 * kWindow, 1L, 2L, 5L}) {
    manager.setTransform("A", "B", makePose(static_cast<float>(t), 0, 0), t);
  }
  Pose pose;
  for (long t : {1L, 2L, 5L, 3 * kWindow}) {
    ASSERT_EQ(sampleAt(manager, "A", "B", t, pose), TransformManager::Success) << t;
    EXPECT_EQ(pose.position.x(), static_cast<float>(t));
  }
}

TEST(TransformManagerHistory, SteadyStreamKeepsTheLastWindowWithTheRightPoses) {
  TransformManager manager;
  const long step = kWindow / 2;
  for (long k = 1; k <= 40; ++k) {
    manager.setTransform("A", "B", makePose(static_cast<float>(k), 0, 0, 0.01f * k), k * step);
  }
  Pose pose;
  for (long k : {38L, 39L, 40L}) {
    ASSERT_EQ(sampleAt(manager, "A", "B", k * step, pose), TransformManager::Success) << k;
    EXPECT_TRUE(samePose(pose, makePose(static_cast<float>(k), 0, 0, 0.01f * k))) << k;
    ASSERT_EQ(sampleAt(manager, "B", "A", k * step, pose), TransformManager::Success) << k;
    EXPECT_TRUE(samePose(pose, makePose(static_cast<float>(k), 0, 0, 0.01f * k).toInversePose()));
  }
  EXPECT_EQ(sampleAt(manager, "A", "B", 37 * step, pose), TransformManager::OutOfRange);
}

TEST(TransformManagerHistory, StaticEntryBecomesOrdinarySampleAtTimeZero) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(0, 0, 0), 0);
  manager.setTransform("A", "B", makePose(10, 0, 0), 100);
  Pose pose;
  ASSERT_EQ(sampleAt(manager, "A", "B", 50, pose), TransformManager::Success);
  EXPECT_FLOAT_EQ(pose.position.x(), 5.0f);

  manager.setTransform("A", "B", makePose(20, 0, 0), 100 + 2 * kWindow);
  EXPECT_EQ(sampleAt(manager, "A", "B", 50, pose), TransformManager::OutOfRange);
  EXPECT_EQ(sampleAt(manager, "A", "B", 100, pose), TransformManager::Success);
}

// --- Renaming ----------------------------------------------------------------

TEST(TransformManagerRename, RenamedFrameKeepsItsPlaceAndTransforms) {
  TransformManager manager;
  const Pose p = makePose(1, 2, 3, 0.5f);
  manager.setTransform("A", "B", p, 0);
  manager.setTransform("B", "C", makePose(0, 1, 0), 0);
  ASSERT_EQ(manager.updateFrameName("A", "Z"), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Frames{"Z", "B", "C"}));
  EXPECT_FALSE(manager.hasFrame("A"));
  Pose pose;
  ASSERT_EQ(manager.getTransform("Z", "B", pose), TransformManager::Success);
  EXPECT_TRUE(samePose(pose, p));
  EXPECT_EQ(manager.getTransform("A", "B", pose), TransformManager::NotFound);

  // The old name is free again: it names a new frame.
  manager.setTransform("A", "C", makePose(0, 0, 1), 0);
  EXPECT_EQ(manager.getFrames(), (Frames{"Z", "B", "C", "A"}));
}

TEST(TransformManagerRename, UnknownNameIsNotFound) {
  TransformManager empty;
  EXPECT_EQ(empty.updateFrameName("A", "B"), TransformManager::NotFound);
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  EXPECT_EQ(manager.updateFrameName("Q", "R"), TransformManager::NotFound);
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "B"}));
}

TEST(TransformManagerRename, RefusesNameOfAnotherFrame) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  manager.setTransform("C", "D", makePose(0, 1, 0), 0);
  LogCapture capture;
  EXPECT_EQ(manager.updateFrameName("A", "C"), TransformManager::Error);
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
            (Frames{"Attempting to rename frame A to C which is the name of another frame. The "
                    "frame keeps its name."}));
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "B", "C", "D"}));
  Pose pose;
  EXPECT_EQ(manager.getTransform("A", "C", pose), TransformManager::NotFound);
  EXPECT_EQ(manager.getTransform("A", "B", pose), TransformManager::Success);
}

TEST(TransformManagerRename, RenamingToOwnNameSucceedsWithoutChange) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  LogCapture capture;
  EXPECT_EQ(manager.updateFrameName("A", "A"), TransformManager::Success);
  EXPECT_TRUE(managerMessages(capture, Logger::WARN_LEVEL).empty());
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "B"}));
}

// --- Connectivity ------------------------------------------------------------

TEST(TransformManagerConnectivity, IndirectConnectionMeansPathOfTwoOrMoreEdges) {
  TransformManager manager;
  manager.setTransform("A", "C", makePose(1, 0, 0), 0);
  manager.setTransform("C", "B", makePose(0, 1, 0), 0);
  manager.setTransform("D", "B", makePose(0, 1, 0), 0);
  manager.setTransform("X", "Y", makePose(0, 0, 1), 0);
  struct Case {
    const char* from;
    const char* to;
    bool expected;
  };
  const Case cases[] = {
      {"A", "C", false}, {"C", "A", false},                     // direct edge
      {"A", "B", true},  {"B", "A", true},  {"A", "D", true},   // through C (and B)
      {"A", "X", false},                                        // different trees
      {"A", "Q", false}, {"Q", "A", false}, {"Q", "Q", false},  // not registered
      {"A", "A", true},                                         // an existing frame and itself
  };
  for (const Case& c : cases) {
    EXPECT_EQ(manager.indirectConnectionExists(c.from, c.to), c.expected) << c.from << " " << c.to;
  }
}

}  // namespace
