// One manager shared by threads that register, look up, list, store and remove at
// the same time: every operation must see a whole graph, never one being rebuilt.
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "settings_manager.h"
#include "support/run_together.h"

namespace {

using namespace zelvane::testing;

constexpr int kIterations = 250;

// A manager with a static branch root <- S0 <- S1, and the workers that share it.
class SharedManager {
 public:
  SharedManager() {
    manager_.setTransform("S0", "root", s0_in_root_, 0);
    manager_.setTransform("S1", "S0", s1_in_s0_, 0);
  }

  TransformManager& manager() { return manager_; }

  // Feeds frame M<k> in root and reads each sample back, halfway to the one before.
  void feedMovingFrame(int k) {
    const std::string frame = "M" + std::to_string(k);
    for (long i = 1; i <= kIterations; ++i) {
      manager_.setTransform(frame, "root", makePose(V(i, 0, 0)), i * 1000);
      Pose pose;  // before the first sample there is nothing to extrapolate from
      const Result result = manager_.getTransform(frame, "root", i * 1000 - 500,
                                                  TransformManager::Extrapolated, pose);
      ASSERT_EQ(result, i == 1 ? TransformManager::OutOfRange : TransformManager::Success);
      if (i > 1) {
        EXPECT_FLOAT_EQ(pose.position.x(), i - 0.5f);
      }
    }
  }

  // Looks the static branch and a moving frame up, and lists the frames.
  void lookUpAndList() {
    for (int i = 0; i < 2 * kIterations; ++i) {
      EXPECT_TRUE(staticBranchHolds(manager_, COMPOSED_TOLERANCE));
      Pose pose;
      const Result moving = manager_.getTransform("S1", "M1", pose);
      EXPECT_TRUE(moving == TransformManager::Success || moving == TransformManager::NotFound);
      std::vector<std::string> frames = manager_.getFrames();
      EXPECT_NE(std::find(frames.begin(), frames.end(), "S1"), frames.end());
      std::sort(frames.begin(), frames.end());
      EXPECT_EQ(std::adjacent_find(frames.begin(), frames.end()), frames.end());
    }
  }

  // Stores snapshots, each loaded into a private manager that must hold the branch.
  void storeAndLoad() {
    for (int i = 0; i < kIterations / 5; ++i) {
      zelvane::SettingsManager store;
      ASSERT_EQ(manager_.storeTransforms(store, true), TransformManager::Success);
      TransformManager copy;
      ASSERT_EQ(copy.loadTransforms(store), TransformManager::Success);
      EXPECT_TRUE(staticBranchHolds(copy, COARSE_TOLERANCE));
    }
  }

  // Grows a branch, removes its middle (the tip keeps its pose), then its tip.
  void growAndRemove() {
    for (int i = 0; i < kIterations; ++i) {
      const std::string middle = "T" + std::to_string(i), tip = "U" + std::to_string(i);
      manager_.setTransform(middle, "root", makePose(V(1, 0, 0), 0.2f), 0);
      manager_.setTransform(tip, middle, makePose(V(0, 1, 0), 0.4f), 0);
      Pose before, after;
      ASSERT_EQ(manager_.getTransform(tip, "root", before), TransformManager::Success);
      ASSERT_EQ(manager_.removeFrame(middle), TransformManager::Success);
      ASSERT_EQ(manager_.getTransform(tip, "root", after), TransformManager::Success);
      EXPECT_TRUE(samePose(after, before));
      ASSERT_EQ(manager_.removeFrame(tip), TransformManager::Success);
    }
  }

 private:
  bool staticBranchHolds(TransformManager& target, float tol) const {
    Pose pose;
    return target.getTransform("S1", "root", pose) == TransformManager::Success &&
           samePose(pose, s1_in_root_, tol);
  }

  TransformManager manager_;
  const Pose s0_in_root_ = makePose(V(1, 2, 3), 0.5f);
  const Pose s1_in_s0_ = makePose(V(0, 1, 0), -0.3f);
  const Pose s1_in_root_ = poseOf(s0_in_root_.toTransform() * s1_in_s0_.toTransform());
};

TEST(TransformManagerConcurrency, MixedOperationsFromSeveralThreadsStayConsistent) {
  SharedManager shared;
  runTogether({[&] { shared.feedMovingFrame(0); }, [&] { shared.feedMovingFrame(1); },
               [&] { shared.lookUpAndList(); }, [&] { shared.storeAndLoad(); },
               [&] { shared.growAndRemove(); }});

  TransformManager& manager = shared.manager();
  EXPECT_EQ(manager.getFrames().size(), 5u);  // root, S0, S1, M0, M1
  Pose pose;
  EXPECT_EQ(manager.getTransform("M0", "M1", kIterations * 1000L, kInter, pose),
            TransformManager::Success);
}

TEST(TransformManagerConcurrency, QueriesAndNotificationsBesideAStream) {
  TransformManager manager;
  manager.setTransform("Sensor", "Body", makePose(V(1, 0, 0)), 0);
  manager.setTransform("Body", "Global", makePose(V(0, 0, 0)), 1000);
  manager.setTransform("Body", "Global", makePose(V(1, 0, 0)), 2000);  // spans end at samples
  std::atomic<long> notified{0};  // the newest time the slot has seen and looked up
  static_cast<void>(
      manager.connectTransformRegistered([&](const std::string&, const std::string&, long time) {
        Pose pose;
        EXPECT_EQ(manager.getTransform("Sensor", "Global", time, kInter, pose),
                  TransformManager::Success);
        notified = time;
      }));
  std::atomic<bool> streaming{true};
  std::thread stream([&] {
    for (long i = 3; i <= 4 * kIterations; ++i) {
      manager.setTransform("Body", "Global", makePose(V(i, 0, 0)), i * 1000);
    }
    streaming = false;
  });
  std::thread asker([&] {
    long last_newest = 0;
    while (streaming) {
      long oldest = 0;
      long newest = 0;
      ASSERT_EQ(manager.getCommonTimeSpan("Sensor", "Global", oldest, newest),
                TransformManager::Success);
      EXPECT_GE(newest, last_newest);  // the stream only moves forward
      last_newest = newest;
      Pose pose;
      EXPECT_EQ(manager.getTransformThroughFixedFrame("Sensor", newest, "Body", oldest, "Global",
                                                      kInter, pose),
                TransformManager::Success);
      const std::vector<TransformManager::EdgeSummary> edges = manager.getEdges();
      ASSERT_EQ(edges.size(), 2u);
      EXPECT_LE(edges[1].oldest, edges[1].newest);
      EXPECT_EQ(manager.setHistoryWindow(1e10), TransformManager::Success);
    }
  });
  stream.join();
  asker.join();
  EXPECT_EQ(notified, 4L * kIterations * 1000);
}

}  // namespace
