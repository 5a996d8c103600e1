// Registration of transforms, pruning of edge histories, and the queries on frames.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"

namespace {

using namespace zelvane::testing;

TEST(TransformManagerFrames, FramesAreListedInOrderOfFirstRegistration) {
  TransformManager manager;
  EXPECT_TRUE(manager.getFrames().empty());
  EXPECT_FALSE(manager.hasFrame(zelvane::frames::BODY_FRAME));
  EXPECT_EQ(zelvane::frames::BODY_FRAME + zelvane::frames::GLOBAL_FRAME +
                zelvane::frames::SENSOR_ORIGIN_FRAME,
            "BodyGlobalSensor");
  manager.setTransform("A", "B", makePose(V(1, 0, 0)), 0);
  manager.setTransform("C", "B", makePose(V(0, 1, 0)), 0);
  manager.setTransform("E", "F", makePose(V(0, 0, 1)), 0);  // from before to
  EXPECT_EQ(manager.getFrames(), (Texts{"A", "B", "C", "E", "F"}));
  EXPECT_TRUE(manager.hasFrame("E"));
  EXPECT_FALSE(manager.hasFrame("a"));
}

TEST(TransformManagerRegistration, RegisteringAgainReplacesStaticEntryInBothDirections) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(V(1, 0, 0), 0.3f), 0);
  for (const auto& [from, to] : {std::pair{"A", "B"}, std::pair{"B", "A"}}) {
    const Pose p = makePose(V(1, 2, 3), 0.7f, V(1, 2, 0.5f));
    manager.setTransform(from, to, p, 0);
    Pose forward, backward;
    ASSERT_EQ(manager.getTransform(from, to, forward), TransformManager::Success);
    ASSERT_EQ(manager.getTransform(to, from, backward), TransformManager::Success);
    EXPECT_TRUE(samePose(forward, p));
    EXPECT_TRUE(samePose(backward, p.toInversePose()));
  }
  EXPECT_EQ(manager.getFrames(), (Texts{"A", "B"}));
}

TEST(TransformManagerRegistration, NonZeroTimeStampsTheStoredPosesZeroKeepsTheirOwn) {
  for (const long time : {0L, 100L}) {
    TransformManager manager;
    manager.setTransform("A", "B", makePose(V(1, 0, 0), 0, V::UnitZ(), 7), time);
    Pose forward, backward;
    static_cast<void>(
        manager.getTransform("A", "B", forward));  // reports the samples' latest timestamp
    static_cast<void>(manager.getTransform("B", "A", backward));
    EXPECT_EQ(forward.timestamp, time == 0 ? 7 : 100);
    EXPECT_EQ(backward.timestamp, forward.timestamp);
  }
}

// Refused: a pair that would close a cycle (an existing frame and itself included),
// and a frame and itself, which is not created.
TEST(TransformManagerRegistration, RegisterTransformSaysWhatHappenedAndRefusalsChangeNothing) {
  TransformManager manager;
  std::vector<std::string> notified;
  static_cast<void>(
      manager.connectTransformRegistered([&notified](const std::string& from, const std::string& to,
                                                     long) { notified.push_back(from + to); }));
  LogCapture capture;
  EXPECT_EQ(manager.registerTransform("A", "B", makePose(V(1, 0, 0)), 0),
            TransformManager::Registered);
  EXPECT_EQ(manager.registerTransform("B", "C", makePose(V(0, 1, 0), 0.4f), 5),
            TransformManager::Registered);
  Pose before, after;
  static_cast<void>(manager.getTransform("A", "C", before));
  manager.setTransform("A", "C", makePose(V(9, 9, 9)), 0);
  EXPECT_EQ(manager.registerTransform("C", "A", makePose(V(9, 9, 9)), 5),
            TransformManager::WouldCloseCycle);
  EXPECT_EQ(manager.registerTransform("B", "B", makePose(V(9, 9, 9)), 0),
            TransformManager::WouldCloseCycle);  // an existing frame: the cycle warning
  EXPECT_EQ(manager.registerTransform("X", "X", makePose(V(9, 9, 9)), 0),
            TransformManager::SelfTransform);
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
            (Texts{cycleWarning("A", "C"), cycleWarning("C", "A"), cycleWarning("B", "B"),
                   "Attempting to define transform from frame X to itself. This new inputted "
                   "transform will be ignored."}));
  EXPECT_EQ(notified, (std::vector<std::string>{"AB", "BC"}));
  EXPECT_EQ(manager.getFrames(), (std::vector<std::string>{"A", "B", "C"}));
  static_cast<void>(manager.getTransform("A", "C", after));
  EXPECT_TRUE(samePose(after, before));
  EXPECT_TRUE(manager.indirectConnectionExists("A", "C"));
}

TEST(TransformManagerHistory, PruningKeepsTheSamplesOfTheWindowAndAtLeastTwo) {
  struct Case {
    const char* what;
    std::vector<long> times;  // registered in this order
    std::vector<long> kept;
    std::vector<long> erased;
  };
  const long half = kWindow / 2;
  const Case cases[] = {
      {"older than key 3 by more than the window",
       {1, 2, 3, 4 + kWindow},
       {3, 4 + kWindow},
       {1, 2}},
      {"exactly one window is kept", {1, 2, 3, 1 + kWindow}, {1, 2, 3, 1 + kWindow}, {}},
      {"never fewer than two", {1, 1 + 3 * kWindow}, {1, 1 + 3 * kWindow}, {}},
      {"against the time inserted, not the newest", {3 * kWindow, 1, 2, 5}, {1, 2, 5}, {}},
      {"static entry is a sample at 0", {0, 100, 100 + 2 * kWindow}, {100}, {0}},
      {"steady stream",
       {half, 2 * half, 3 * half, 4 * half, 5 * half, 6 * half},
       {4 * half, 5 * half, 6 * half},
       {3 * half}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TransformManager manager;
    std::map<long, Pose> registered;
    for (const long t : c.times) {
      registered[t] = makePose(V(static_cast<float>(registered.size()), 1, 0), 0.1f * t / kWindow);
      manager.setTransform("A", "B", registered[t], t);
    }
    Pose pose;
    for (const long t : c.kept) {
      ASSERT_EQ(manager.getTransform("A", "B", t, kInter, pose), TransformManager::Success) << t;
      EXPECT_TRUE(samePose(pose, registered[t])) << t;
      ASSERT_EQ(manager.getTransform("B", "A", t, kInter, pose), TransformManager::Success) << t;
      EXPECT_TRUE(samePose(pose, registered[t].toInversePose())) << t;
    }
    for (const long t : c.erased) {
      EXPECT_EQ(manager.getTransform("A", "B", t, kInter, pose), TransformManager::OutOfRange) << t;
    }
  }
}

TEST(TransformManagerRename, RenamesUnlessTheNewNameIsTaken) {
  TransformManager manager;
  EXPECT_EQ(manager.updateFrameName("A", "B"), TransformManager::NotFound);
  const Pose p = makePose(V(1, 2, 3), 0.5f);
  manager.setTransform("A", "B", p, 0);
  manager.setTransform("C", "D", makePose(V(0, 1, 0)), 0);
  LogCapture capture;
  EXPECT_EQ(manager.updateFrameName("Q", "R"), TransformManager::NotFound);
  EXPECT_EQ(manager.updateFrameName("A", "A"), TransformManager::Success);
  EXPECT_EQ(manager.updateFrameName("A", "C"), TransformManager::Error);
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
            (Texts{"Attempting to rename frame A to C which is the name of another frame. The "
                   "frame keeps its name."}));
  EXPECT_EQ(manager.getFrames(), (Texts{"A", "B", "C", "D"}));

  ASSERT_EQ(manager.updateFrameName("A", "Z"), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Texts{"Z", "B", "C", "D"}));
  Pose pose;
  ASSERT_EQ(manager.getTransform("Z", "B", pose), TransformManager::Success);
  EXPECT_TRUE(samePose(pose, p));
  EXPECT_FALSE(manager.hasFrame("A"));
  manager.setTransform("A", "D", makePose(V(0, 0, 1)), 0);  // the old name is free again
  EXPECT_EQ(manager.getFrames(), (Texts{"Z", "B", "C", "D", "A"}));
}

// A pair registered again and again is found again by its names after renames and
// removals renumber or rename its frames, never through the frames it named before.
TEST(TransformManagerRegistration, RegisteringOnePairAgainFollowsRenamesAndRemovals) {
  TransformManager manager;
  const Pose first = makePose(V(1, 0, 0), 0.1f);
  const Pose second = makePose(V(2, 0, 0), 0.2f);
  const Pose third = makePose(V(3, 0, 0), 0.3f);
  manager.setTransform("A", "B", first, 0);
  manager.setTransform("A", "B", first, 0);
  ASSERT_EQ(manager.updateFrameName("A", "Z"), TransformManager::Success);
  manager.setTransform("A", "B", second, 0);
  manager.setTransform("A", "B", second, 0);
  EXPECT_EQ(manager.getFrames(), (Texts{"Z", "B", "A"}));
  ASSERT_EQ(manager.removeFrame("Z"), TransformManager::Success);
  manager.setTransform("A", "B", third, 0);
  manager.setTransform("B", "A", third, 0);
  Pose pose;
  ASSERT_EQ(manager.getTransform("B", "A", pose), TransformManager::Success);
  EXPECT_TRUE(samePose(pose, third));
  ASSERT_EQ(manager.getTransform("A", "B", pose), TransformManager::Success);
  EXPECT_TRUE(samePose(pose, third.toInversePose()));
}

TEST(TransformManagerConnectivity, IndirectConnectionMeansPathOfTwoOrMoreEdges) {
  TransformManager manager;
  manager.setTransform("A", "C", makePose(V(1, 0, 0)), 0);
  manager.setTransform("C", "B", makePose(V(0, 1, 0)), 0);
  manager.setTransform("X", "Y", makePose(V(0, 0, 1)), 0);
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"A", "C", false}, {"C", "A", false}, {"A", "B", true},  {"B", "A", true},
      {"A", "X", false}, {"A", "Q", false}, {"Q", "Q", false}, {"A", "A", true},
  };
  for (const auto& [from, to, expected] : cases) {
    EXPECT_EQ(manager.indirectConnectionExists(from, to), expected) << from << " " << to;
  }
}

}  // namespace
