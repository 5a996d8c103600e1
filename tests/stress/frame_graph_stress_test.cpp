// One frame graph under load from several threads at once: a 1 kHz pose stream, lookups
// with interpolation, frame listings, snapshots into private stores, and a leaf frame
// removed and added again. Every answer must be one that some whole state of the
// graph gives. Bounded iterations, so that it stays short under the thread sanitizer.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "settings_manager.h"

namespace {

using namespace zelvane::testing;
using zelvane::Pose;
using zelvane::TransformManager;
using V = Eigen::Vector3f;

constexpr long kPeriod = 1000000;  // 1 kHz in nanoseconds
constexpr long kStart = 1700000000000000000L;
constexpr int kSamples = 4000;     // 4 s of stream: well inside the history window
constexpr int kRounds = 400;

// The stream sample i: Body at x = i in Global.
Pose streamPose(int i) { return makePose(V(static_cast<float>(i), 0, 0)); }

TEST(FrameGraphStress, StreamLookupsListingsSnapshotsAndLeafChurnStayConsistent) {
  TransformManager manager;
  const Pose sensor_in_body = makePose(V(0, 1, 0), 0.5f);
  const Pose leaf_in_sensor = makePose(V(0, 0, 2), -0.25f, V(1, 0, 0));
  manager.setTransform("Sensor", "Body", sensor_in_body, 0);
  manager.setTransform("Body", "Global", streamPose(0), kStart);
  manager.setTransform("Body", "Global", streamPose(1), kStart + kPeriod);
  std::atomic<int> published{1};  // newest sample index registered
  std::atomic<bool> streaming{true};

  std::vector<std::function<void()>> bodies;
  bodies.emplace_back([&] {  // the stream
    for (int i = 2; i < kSamples; ++i) {
      manager.setTransform("Body", "Global", streamPose(i), kStart + i * kPeriod);
      published = i;
    }
    streaming = false;
  });
  bodies.emplace_back([&] {  // interpolated lookups between published samples
    for (int round = 0; streaming || round < kRounds; ++round) {
      const int j = round % published.load();
      Pose body, sensor;
      ASSERT_EQ(manager.getTransform("Body", "Global", kStart + j * kPeriod + kPeriod / 2,
                                     TransformManager::Interpolated, body),
                TransformManager::Success);
      EXPECT_NEAR(body.position.x(), j + 0.5f, 1e-3f);
      ASSERT_EQ(manager.getTransform("Sensor", "Global", kStart + j * kPeriod + kPeriod / 4,
                                     TransformManager::Interpolated, sensor),
                TransformManager::Success);
      const Pose expected = poseOf(makePose(V(j + 0.25f, 0, 0)).toTransform() *
                                   sensor_in_body.toTransform());
      EXPECT_TRUE(samePose(sensor, expected, 1e-3f)) << j;
      // Past the newest sample interpolation refuses; it never answers from a torn history.
      Pose ahead;
      EXPECT_EQ(manager.getTransform("Body", "Global", kStart + (kSamples + 5) * kPeriod,
                                     TransformManager::Interpolated, ahead),
                TransformManager::OutOfRange);
    }
  });
  bodies.emplace_back([&] {  // listings
    for (int round = 0; round < 4 * kRounds; ++round) {
      std::vector<std::string> frames = manager.getFrames();
      ASSERT_GE(frames.size(), 3u);
      EXPECT_EQ(frames[0], "Sensor");
      EXPECT_EQ(frames[1], "Body");
      EXPECT_EQ(frames[2], "Global");
      EXPECT_LE(frames.size(), 4u);
      if (frames.size() == 4) {
        EXPECT_EQ(frames[3], "Leaf");
      }
    }
  });
  bodies.emplace_back([&] {  // snapshots into private stores, loaded into private managers
    for (int round = 0; round < kRounds / 3; ++round) {
      zelvane::SettingsManager store;
      const int before = published;
      ASSERT_EQ(manager.storeTransforms(store, true), TransformManager::Success);
      const int after = published;
      TransformManager copy;
      ASSERT_EQ(copy.loadTransforms(store), TransformManager::Success);
      Pose body, sensor;
      ASSERT_EQ(copy.getTransform("Body", "Global", body), TransformManager::Success);
      EXPECT_GE(body.position.x(), static_cast<float>(before));
      EXPECT_LE(body.position.x(), static_cast<float>(after + 1));
      EXPECT_EQ(body.position.x(), std::round(body.position.x()));  // one whole sample
      ASSERT_EQ(copy.getTransform("Sensor", "Body", sensor), TransformManager::Success);
      EXPECT_TRUE(samePose(sensor, sensor_in_body));
      if (copy.hasFrame("Leaf")) {
        Pose leaf;
        ASSERT_EQ(copy.getTransform("Leaf", "Sensor", leaf), TransformManager::Success);
        EXPECT_TRUE(samePose(leaf, leaf_in_sensor));
      }
    }
  });
  bodies.emplace_back([&] {  // a leaf removed and added again
    for (int round = 0; round < kRounds; ++round) {
      manager.setTransform("Leaf", "Sensor", leaf_in_sensor, 0);
      Pose leaf;
      ASSERT_EQ(manager.getTransform("Leaf", "Sensor", leaf), TransformManager::Success);
      EXPECT_TRUE(samePose(leaf, leaf_in_sensor));
      ASSERT_EQ(manager.getTransform("Leaf", "Global", leaf), TransformManager::Success);
      ASSERT_EQ(manager.removeFrame("Leaf"), TransformManager::Success);
      EXPECT_EQ(manager.getTransform("Leaf", "Sensor", leaf), TransformManager::NotFound);
      EXPECT_TRUE(isIdentity(leaf));
      EXPECT_EQ(manager.removeFrame("Leaf"), TransformManager::NotFound);
    }
  });

  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (const auto& body : bodies) {
    threads.emplace_back([&go, &body] {
      while (!go) std::this_thread::yield();
      body();
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(manager.getFrames(), (std::vector<std::string>{"Sensor", "Body", "Global"}));
  EXPECT_EQ(manager.historySize("Body", "Global"), static_cast<std::size_t>(kSamples));
  Pose newest;
  ASSERT_EQ(manager.getTransform("Body", "Global", newest), TransformManager::Success);
  EXPECT_EQ(newest.position.x(), kSamples - 1.0f);
}

}  // namespace
