// One frame graph under load from several threads at once: a 1 kHz pose stream, lookups
// with interpolation, frame listings, snapshots into private stores, and a leaf frame
// removed and added again. Every answer must be one that some whole state of the
// graph gives. Bounded iterations, so that it stays short under the thread sanitizer.
#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "settings_manager.h"
#include "support/run_together.h"

namespace {

using namespace zelvane::testing;

constexpr long kPeriod = 1000000;  // 1 kHz in nanoseconds
constexpr long kStart = 1700000000000000000L;
constexpr int kSamples = 4000;  // 4 s of stream: well inside the history window
constexpr int kRounds = 400;

// The stream sample i: Body at x = i in Global.
Pose streamPose(int i) { return makePose(V(static_cast<float>(i), 0, 0)); }

// The graph Sensor -> Body -> Global, with the stream started, and the workers that
// load it at once.
class StressedGraph {
 public:
  StressedGraph() {
    manager_.setTransform("Sensor", "Body", sensor_in_body_, 0);
    manager_.setTransform("Body", "Global", streamPose(0), kStart);
    manager_.setTransform("Body", "Global", streamPose(1), kStart + kPeriod);
  }

  TransformManager& manager() { return manager_; }

  // Registers the rest of the stream, publishing each sample once it is in.
  void stream() {
    for (int i = 2; i < kSamples; ++i) {
      manager_.setTransform("Body", "Global", streamPose(i), kStart + i * kPeriod);
      published_ = i;
    }
    streaming_ = false;
  }

  // Interpolated lookups between published samples, for as long as the stream runs;
  // past the newest sample interpolation refuses and never answers from a torn history.
  void lookUp() {
    for (int round = 0; streaming_ || round < kRounds; ++round) {
      const int j = round % published_.load();
      Pose body, sensor;
      ASSERT_EQ(
          manager_.getTransform("Body", "Global", kStart + j * kPeriod + kPeriod / 2, kInter, body),
          TransformManager::Success);
      EXPECT_NEAR(body.position.x(), j + 0.5f, COARSE_TOLERANCE);
      ASSERT_EQ(manager_.getTransform("Sensor", "Global", kStart + j * kPeriod + kPeriod / 4,
                                      kInter, sensor),
                TransformManager::Success);
      const Pose expected =
          poseOf(makePose(V(j + 0.25f, 0, 0)).toTransform() * sensor_in_body_.toTransform());
      EXPECT_TRUE(samePose(sensor, expected, COARSE_TOLERANCE)) << j;
      Pose ahead;
      EXPECT_EQ(
          manager_.getTransform("Body", "Global", kStart + (kSamples + 5) * kPeriod, kInter, ahead),
          TransformManager::OutOfRange);
    }
  }

  // Frame listings: the three frames of the start in their order, the leaf after them.
  void list() {
    for (int round = 0; round < 4 * kRounds; ++round) {
      const Texts frames = manager_.getFrames();
      ASSERT_GE(frames.size(), 3u);
      EXPECT_EQ(frames[0], "Sensor");
      EXPECT_EQ(frames[1], "Body");
      EXPECT_EQ(frames[2], "Global");
      EXPECT_LE(frames.size(), 4u);
      if (frames.size() == 4) {
        EXPECT_EQ(frames[3], "Leaf");
      }
    }
  }

  // Snapshots into private stores, loaded into private managers: each holds one whole
  // sample of the stream, published during the snapshot, and the static edges as given.
  void snapshot() {
    for (int round = 0; round < kRounds / 3; ++round) {
      zelvane::SettingsManager store;
      const int before = published_;
      ASSERT_EQ(manager_.storeTransforms(store, true), TransformManager::Success);
      const int after = published_;
      TransformManager copy;
      ASSERT_EQ(copy.loadTransforms(store), TransformManager::Success);
      Pose body, sensor;
      ASSERT_EQ(copy.getTransform("Body", "Global", body), TransformManager::Success);
      EXPECT_GE(body.position.x(), static_cast<float>(before));
      EXPECT_LE(body.position.x(), static_cast<float>(after + 1));
      EXPECT_EQ(body.position.x(), std::round(body.position.x()));
      ASSERT_EQ(copy.getTransform("Sensor", "Body", sensor), TransformManager::Success);
      EXPECT_TRUE(samePose(sensor, sensor_in_body_));
      if (copy.hasFrame("Leaf")) {
        Pose leaf;
        ASSERT_EQ(copy.getTransform("Leaf", "Sensor", leaf), TransformManager::Success);
        EXPECT_TRUE(samePose(leaf, leaf_in_sensor_));
      }
    }
  }

  // A leaf frame added, looked up, and removed again.
  void churnLeaf() {
    for (int round = 0; round < kRounds; ++round) {
      manager_.setTransform("Leaf", "Sensor", leaf_in_sensor_, 0);
      Pose leaf;
      ASSERT_EQ(manager_.getTransform("Leaf", "Sensor", leaf), TransformManager::Success);
      EXPECT_TRUE(samePose(leaf, leaf_in_sensor_));
      ASSERT_EQ(manager_.getTransform("Leaf", "Global", leaf), TransformManager::Success);
      ASSERT_EQ(manager_.removeFrame("Leaf"), TransformManager::Success);
      EXPECT_EQ(manager_.getTransform("Leaf", "Sensor", leaf), TransformManager::NotFound);
      EXPECT_TRUE(isIdentity(leaf));
      EXPECT_EQ(manager_.removeFrame("Leaf"), TransformManager::NotFound);
    }
  }

 private:
  TransformManager manager_;
  const Pose sensor_in_body_ = makePose(V(0, 1, 0), 0.5f);
  const Pose leaf_in_sensor_ = makePose(V(0, 0, 2), -0.25f, V(1, 0, 0));
  std::atomic<int> published_{1};  // newest sample index registered
  std::atomic<bool> streaming_{true};
};

TEST(FrameGraphStress, StreamLookupsListingsSnapshotsAndLeafChurnStayConsistent) {
  StressedGraph graph;
  runTogether({[&] { graph.stream(); }, [&] { graph.lookUp(); }, [&] { graph.list(); },
               [&] { graph.snapshot(); }, [&] { graph.churnLeaf(); }});

  TransformManager& manager = graph.manager();
  EXPECT_EQ(manager.getFrames(), (Texts{"Sensor", "Body", "Global"}));
  EXPECT_EQ(manager.historySize("Body", "Global"), static_cast<std::size_t>(kSamples));
  Pose newest;
  ASSERT_EQ(manager.getTransform("Body", "Global", newest), TransformManager::Success);
  EXPECT_EQ(newest.position.x(), kSamples - 1.0f);
}

}  // namespace
