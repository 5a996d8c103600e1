// Frame removal with re-attachment, origins, and the exception signal. This program
// links the allocation probe, so that a test can make the n-th allocation fail and see
// what `removeFrame` leaves behind.
#include <exception>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "support/allocation_probe.h"

namespace {

using namespace zelvane::testing;

Pose lookup(TransformManager& manager, const std::string& from, const std::string& to,
            long time = 0, Method method = TransformManager::MostRecent) {
  Pose pose;
  EXPECT_EQ(manager.getTransform(from, to, time, method, pose), TransformManager::Success)
      << from << " " << to;
  return pose;
}

TEST(TransformManagerRemoval, MiddleOfChainLeavesOneStaticTransformBetweenItsNeighbours) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(V(1, 0, 0), 0.3f), 100);
  manager.setTransform("A", "B", makePose(V(2, 0, 0), 0.4f), 200);
  manager.setTransform("B", "C", makePose(V(0, 1, 0), -0.2f), 150);
  const Pose a_in_c = lookup(manager, "A", "C");
  ASSERT_EQ(manager.removeFrame("B"), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Texts{"A", "C"}));
  EXPECT_FALSE(manager.indirectConnectionExists("A", "C"));
  for (const long time : {0L, 50L, 175L}) {  // static: answers every time
    EXPECT_TRUE(samePose(lookup(manager, "A", "C", time, kInter), a_in_c));
  }
  EXPECT_EQ(lookup(manager, "A", "C").timestamp, 200);  // stamped like the lookup
}

TEST(TransformManagerRemoval, StarKeepsFirstNeighbourAndReattachesTheOthersToIt) {
  TransformManager manager;
  manager.setTransform("B", "A", makePose(V(1, 0, 0), 0.1f), 0);
  manager.setTransform("B", "C", makePose(V(0, 1, 0), 0.2f), 0);
  manager.setTransform("B", "D", makePose(V(0, 0, 1), 0.3f), 0);
  manager.setTransform("E", "D", makePose(V(1, 1, 0), 0.4f), 0);
  const Pose c_in_a = lookup(manager, "C", "A"), e_in_c = lookup(manager, "E", "C");
  ASSERT_EQ(manager.removeFrame("B"), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Texts{"A", "C", "D", "E"}));
  EXPECT_FALSE(manager.indirectConnectionExists("A", "C"));
  EXPECT_FALSE(manager.indirectConnectionExists("A", "D"));
  EXPECT_TRUE(samePose(lookup(manager, "C", "A"), c_in_a));
  EXPECT_TRUE(samePose(lookup(manager, "E", "C"), e_in_c));
}

TEST(TransformManagerRemoval, NeighbourWithEmptyNameCanBeTheAnchor) {
  TransformManager manager;
  for (const char* neighbour : {"", "C", "D"}) {
    manager.setTransform(neighbour, "B", makePose(V(1, neighbour[0] == 0 ? 0.f : 1.f, 0)), 0);
  }
  const Pose d_in_c = lookup(manager, "D", "C");
  ASSERT_EQ(manager.removeFrame("B"), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Texts{"", "C", "D"}));
  EXPECT_TRUE(samePose(lookup(manager, "D", "C"), d_in_c));
}

TEST(TransformManagerRemoval, LeafGoesWithoutTouchingTheRestOfTheTreeAndAnUnknownIsNotFound) {
  TransformManager manager;
  EXPECT_EQ(manager.removeFrame("A"), TransformManager::NotFound);
  manager.setTransform("A", "B", makePose(V(1, 0, 0)), 0);
  manager.setTransform("B", "C", makePose(V(0, 10, 0)), 100);
  manager.setTransform("B", "C", makePose(V(0, 20, 0)), 200);
  manager.setTransform("X", "Y", makePose(V(0, 0, 1)), 0);
  manager.setOrigin("home", "A", makePose(V(3, 2, 1)));
  EXPECT_EQ(manager.removeFrame("Q"), TransformManager::NotFound);
  EXPECT_EQ(manager.getFrames(), (Texts{"A", "B", "C", "X", "Y"}));
  ASSERT_EQ(manager.removeFrame("A"), TransformManager::Success);
  ASSERT_EQ(manager.removeFrame("X"), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Texts{"B", "C", "Y"}));  // later frames moved down
  EXPECT_FLOAT_EQ(lookup(manager, "B", "C", 150, kInter).position.y(), 15);
  Pose pose;
  EXPECT_EQ(manager.getTransform("Y", "B", pose), TransformManager::NotFound);  // Y stays alone
  std::string frame;
  EXPECT_TRUE(manager.getOrigin("home", frame, pose));
  EXPECT_EQ(frame, "A");
}

TEST(TransformManagerOrigins, SecondSetReplacesAndUnknownLeavesOutputsAlone) {
  TransformManager manager;
  manager.setOrigin("home", "A", makePose(V(1, 0, 0)));
  manager.setOrigin("home", "B", makePose(V(0, 2, 0), 0.5f, V::UnitZ(), 42));
  std::string frame;
  Pose pose;
  ASSERT_TRUE(manager.getOrigin("home", frame, pose));
  EXPECT_EQ(frame, "B");
  EXPECT_TRUE(samePose(pose, makePose(V(0, 2, 0), 0.5f)));
  EXPECT_EQ(pose.timestamp, 42);
  EXPECT_FALSE(manager.getOrigin("away", frame, pose));
  EXPECT_EQ(frame, "B");
  EXPECT_EQ(pose.timestamp, 42);
}

// What a caller can see: the frames and every lookup between them, newest and
// interpolated, with its code.
struct Seen {
  Texts frames;
  std::vector<Result> codes;
  std::vector<Pose> poses;

  explicit Seen(TransformManager& manager) : frames(manager.getFrames()) {
    for (const std::string& from : frames) {
      for (const std::string& to : frames) {
        for (const auto method : {TransformManager::MostRecent, kInter}) {
          poses.emplace_back();
          codes.push_back(manager.getTransform(from, to, 150, method, poses.back()));
        }
      }
    }
  }
  bool operator==(const Seen& other) const {
    for (std::size_t i = 0; i < poses.size() && i < other.poses.size(); ++i) {
      if (!samePose(poses[i], other.poses[i], 0.0f) ||
          poses[i].timestamp != other.poses[i].timestamp) {
        return false;
      }
    }
    return frames == other.frames && codes == other.codes && poses.size() == other.poses.size();
  }
};

TEST(TransformManagerRemovalFailure, FailedRemovalLeavesManagerAsItWasAndIsSignalledOnce) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(V(1, 0, 0), 0.1f), 0);
  manager.setTransform("C", "B", makePose(V(0, 1, 0), 0.2f), 0);
  manager.setTransform("D", "B", makePose(V(0, 0, 1), 0.3f), 100);
  manager.setTransform("D", "B", makePose(V(0, 0, 2), 0.4f), 200);
  manager.setTransform("E", "A", makePose(V(2, 0, 0), 0.5f), 100);
  Texts caught;
  const Seen before(manager);
  static_cast<void>(manager.connectionException([&caught](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::bad_alloc& e) {
      caught.push_back(e.what());
    }
  }));
  int calls = 0;
  manager.connectionException([&calls](std::exception_ptr) { ++calls; }).disconnect();

  // Every allocation of the removal in turn, until none is left to fail.
  long n = 0;
  for (;; ++n) {
    LogCapture capture;
    Result result;
    {
      // Boost's add_vertex for listed vertices loses the record it has just allocated
      // when linking it fails; that leak is Boost's, and the probe pauses the leak
      // checker for it.
      FailingAllocation failing(n);
      result = manager.removeFrame("B");
    }
    if (result == TransformManager::Success) break;
    ASSERT_EQ(result, TransformManager::Error) << n;
    ASSERT_EQ(caught.size(), static_cast<std::size_t>(n + 1)) << n;
    EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
              (Texts{"Exception caught in TransformManager::removeFrame:" + caught.back()}));
    ASSERT_TRUE(Seen(manager) == before) << n;
  }
  EXPECT_GT(n, 10);
  EXPECT_EQ(caught.size(), static_cast<std::size_t>(n));  // not for the successful one
  EXPECT_EQ(calls, 0);                                    // a disconnected slot never
  EXPECT_EQ(manager.getFrames(), (Texts{"A", "C", "D", "E"}));
}

}  // namespace
