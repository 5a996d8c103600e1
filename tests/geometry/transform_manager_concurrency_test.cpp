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

namespace {

using zelvane::Pose;
using zelvane::SettingsManager;
using zelvane::TransformManager;
using zelvane::testing::makePose;
using zelvane::testing::poseOf;
using zelvane::testing::samePose;

constexpr int kIterations = 250;

TEST(TransformManagerConcurrency, MixedOperationsFromSeveralThreadsStayConsistent) {
  TransformManager manager;
  const Pose s0_in_root = makePose({1, 2, 3}, {0, 0, 1}, 0.5f);
  const Pose s1_in_s0 = makePose({0, 1, 0}, {1, 0, 0}, -0.3f);
  manager.setTransform("S0", "root", s0_in_root, 0);
  manager.setTransform("S1", "S0", s1_in_s0, 0);
  const Pose s1_in_root = poseOf(s0_in_root.toTransform() * s1_in_s0.toTransform());

  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  const auto spawn = [&](auto body) {
    threads.emplace_back([&go, body] {
      while (!go) std::this_thread::yield();
      body();
    });
  };

  // Registrars: each feeds its own moving frame and reads its samples back.
  for (int k = 0; k < 2; ++k) {
    spawn([&manager, k] {
      const std::string frame = "M" + std::to_string(k);
      for (int i = 1; i <= kIterations; ++i) {
        manager.setTransform(frame, "root", makePose(static_cast<float>(i), 0, 0), i * 1000L);
        Pose pose;
        ASSERT_EQ(
            manager.getTransform(frame, "root", i * 1000L, TransformManager::Interpolated, pose),
            TransformManager::Success);
        EXPECT_FLOAT_EQ(pose.position.x(), static_cast<float>(i));
        if (i > 1) {
          ASSERT_EQ(manager.getTransform(frame, "root", i * 1000L - 500,
                                         TransformManager::Interpolated, pose),
                    TransformManager::Success);
          EXPECT_FLOAT_EQ(pose.position.x(), i - 0.5f);
        }
      }
    });
  }

  // Looker: the static branch never changes; a moving frame is either not there yet
  // or reachable through the root.
  spawn([&] {
    for (int i = 0; i < 4 * kIterations; ++i) {
      Pose pose;
      ASSERT_EQ(manager.getTransform("S1", "root", pose), TransformManager::Success);
      EXPECT_TRUE(samePose(pose, s1_in_root));
      const TransformManager::TransformResult moving = manager.getTransform("S1", "M1", pose);
      EXPECT_TRUE(moving == TransformManager::Success || moving == TransformManager::NotFound);
      EXPECT_FALSE(manager.indirectConnectionExists("S0", "root"));
    }
  });

  // Lister: names stay unique and the static frames stay listed.
  spawn([&] {
    for (int i = 0; i < 2 * kIterations; ++i) {
      std::vector<std::string> frames = manager.getFrames();
      for (const char* name : {"root", "S0", "S1"}) {
        EXPECT_NE(std::find(frames.begin(), frames.end(), name), frames.end()) << name;
      }
      std::sort(frames.begin(), frames.end());
      EXPECT_EQ(std::adjacent_find(frames.begin(), frames.end()), frames.end());
      EXPECT_TRUE(manager.hasFrame("S1"));
    }
  });

  // Storer: each snapshot, loaded into a private manager, holds the static branch.
  spawn([&] {
    for (int i = 0; i < kIterations / 5; ++i) {
      SettingsManager store;
      ASSERT_EQ(manager.storeTransforms(store, true), TransformManager::Success);
      TransformManager copy;
      ASSERT_EQ(copy.loadTransforms(store), TransformManager::Success);
      Pose pose;
      ASSERT_EQ(copy.getTransform("S1", "root", pose), TransformManager::Success);
      EXPECT_TRUE(samePose(pose, s1_in_root, 1e-3f));
    }
  });

  // Remover: grows a two-frame branch, removes its middle (re-attaching the tip to
  // the root), then the tip.
  spawn([&] {
    for (int i = 0; i < kIterations; ++i) {
      const std::string middle = "T" + std::to_string(i);
      const std::string tip = "U" + std::to_string(i);
      manager.setTransform(middle, "root", makePose(1, 0, 0, 0.2f), 0);
      manager.setTransform(tip, middle, makePose(0, 1, 0, 0.4f), 0);
      Pose before, after;
      ASSERT_EQ(manager.getTransform(tip, "root", before), TransformManager::Success);
      ASSERT_EQ(manager.removeFrame(middle), TransformManager::Success);
      ASSERT_EQ(manager.getTransform(tip, "root", after), TransformManager::Success);
      EXPECT_TRUE(samePose(after, before));
      ASSERT_EQ(manager.removeFrame(tip), TransformManager::Success);
      EXPECT_FALSE(manager.hasFrame(middle));
    }
  });

  go = true;
  for (std::thread& thread : threads) thread.join();

  const std::vector<std::string> frames = manager.getFrames();
  EXPECT_EQ(frames.size(), 5u);  // root, S0, S1, M0, M1
  Pose pose;
  EXPECT_EQ(
      manager.getTransform("M0", "M1", kIterations * 1000L, TransformManager::Interpolated, pose),
      TransformManager::Success);
}

}  // namespace
