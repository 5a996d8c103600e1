// The quiet decision `canTransform` and the blocking `waitForTransform`: the same
// code as the lookup, no log while the transform is missing, woken by the
// registration that makes it succeed, and never held past its timeout, a removal of
// its path or a loading.
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "settings_manager.h"

namespace {

using namespace zelvane::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A scheduling delay on a loaded machine (or under ThreadSanitizer).
constexpr auto kSlack = 150ms;

// Random graphs of chains with static, single-sample and time-stamped edges,
// asked at random times with every method: canTransform answers what getTransform
// answers, and writes nothing to the log.
TEST(CanTransform, DecidesAsTheLookupDoes) {
  std::mt19937_64 random(21);
  std::uniform_int_distribution<long> stamp(-50, 400);
  const std::vector<std::string> names = {"A", "B", "C", "D", "E"};
  const Method methods[] = {TransformManager::MostRecent, TransformManager::Extrapolated,
                            TransformManager::Interpolated};
  for (int graph = 0; graph < 60; ++graph) {
    TransformManager manager;
    static_cast<void>(manager.setHistoryWindow(graph % 3 == 0 ? 120.0 : 1.0e10));
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
      if (random() % 5 == 0) continue;  // a gap: frames in different trees
      const int samples = static_cast<int>(random() % 4);
      if (samples == 0) manager.setTransform(names[i + 1], names[i], makePose(V(1, 0, 0)), 0);
      for (int s = 0; s < samples; ++s) {
        manager.setTransform(names[i + 1], names[i], makePose(V(s, 1, 0), 0.1f * s), stamp(random));
      }
    }
    for (int query = 0; query < 80; ++query) {
      const std::string& from = names[random() % names.size()];
      const std::string to = random() % 7 == 0 ? "Z" : names[random() % names.size()];
      const long time = stamp(random) * (random() % 9 == 0 ? 1000000000L : 1L);
      for (const Method method : methods) {
        LogCapture capture(Logger::DEBUG_LEVEL);
        const Result decided = manager.canTransform(from, to, time, method);
        EXPECT_TRUE(capture.records().empty());
        Pose pose;
        EXPECT_EQ(decided, manager.getTransform(from, to, time, method, pose))
            << from << " -> " << to << " at " << time << " method " << method;
      }
    }
  }
  TransformManager empty;
  EXPECT_EQ(empty.canTransform("A", "B", 0, kInter), TransformManager::NoFrames);
  EXPECT_EQ(empty.canTransform("A", "A", 0, kInter), TransformManager::Success);
}

TEST(WaitForTransform, AnswersAtOnceWhenTheTransformIsThereOrNotWaiting) {
  TransformManager manager;
  manager.setTransform("S", "G", makePose(V(0, 0, 0)), 100);
  manager.setTransform("S", "G", makePose(V(2, 0, 0), 0.5f), 200);
  Pose waited;
  Pose looked;
  EXPECT_EQ(manager.waitForTransform("S", "G", 150, kInter, 1h, waited), TransformManager::Success);
  EXPECT_EQ(manager.getTransform("S", "G", 150, kInter, looked), TransformManager::Success);
  EXPECT_TRUE(sameBits(waited, looked));

  LogCapture capture(Logger::DEBUG_LEVEL);
  waited = makePose(V(1, 1, 1));
  EXPECT_EQ(manager.waitForTransform("S", "G", 250, kInter, 0ns, waited),
            TransformManager::OutOfRange);
  EXPECT_TRUE(isIdentity(waited));
  EXPECT_EQ(manager.waitForTransform("X", "G", 250, kInter, -1s, waited),
            TransformManager::NotFound);
  EXPECT_TRUE(capture.records().empty());
}

// A wait that nothing ends returns its lookup's code once its timeout has passed, no
// sooner and no later than a scheduling delay after it, also when registrations that
// do not make it succeed arrive meanwhile; and it logs nothing.
TEST(WaitForTransform, TimesOutWithTheLookupsCode) {
  TransformManager manager;
  manager.setTransform("S", "G", makePose(V(0, 0, 0)), 100);
  manager.setTransform("S", "G", makePose(V(1, 0, 0)), 200);
  LogCapture capture(Logger::DEBUG_LEVEL);
  std::thread other([&] {
    for (long t = 300; t < 330; ++t) {
      manager.setTransform("Other", "G", makePose(V(0, 0, 0)), t);
      manager.setTransform("S", "G", makePose(V(0, 0, 0)), t - 250);  // older: no help
      std::this_thread::sleep_for(1ms);
    }
  });
  for (const auto timeout : {10ms, 60ms}) {
    Pose pose;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(manager.waitForTransform("S", "G", 1000, kInter, timeout, pose),
              TransformManager::OutOfRange);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, timeout);
    EXPECT_LT(elapsed, timeout + kSlack);
  }
  other.join();
  EXPECT_TRUE(managerMessages(capture, Logger::WARN_LEVEL).empty());
}

// Waits on several threads, each woken by the registration that makes it succeed,
// with the pose that the lookup gives.
TEST(WaitForTransform, IsWokenByTheRegistrationThatMakesItSucceed) {
  TransformManager manager;
  manager.setTransform("Body", "Global", makePose(V(-1, 0, 0)), 900);
  manager.setTransform("Body", "Global", makePose(V(0, 0, 0)), 1000);
  manager.setTransform("Lidar", "Body", makePose(V(0, 0, 1)), 0);
  constexpr int kWaiters = 4;
  std::vector<Result> results(kWaiters, TransformManager::Error);
  std::vector<Pose> poses(kWaiters);
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&, i] {
      results[i] = manager.waitForTransform("Lidar", "Global", 1000 + 100 * (i + 1) - 50, kInter,
                                            10s, poses[i]);
    });
  }
  for (int i = 1; i <= kWaiters; ++i) {
    std::this_thread::sleep_for(5ms);
    manager.setTransform("Body", "Global", makePose(V(static_cast<float>(i), 0, 0)),
                         1000 + 100 * i);
  }
  for (std::thread& waiter : waiters) waiter.join();
  for (int i = 0; i < kWaiters; ++i) {
    ASSERT_EQ(results[i], TransformManager::Success);
    EXPECT_FLOAT_EQ(poses[i].position.x(), static_cast<float>(i) + 0.5f);
    EXPECT_FLOAT_EQ(poses[i].position.z(), 1.0f);
  }
}

// Removing a frame of the path or loading the graph anew ends the wait at once with
// the lookup's code then; removing a frame elsewhere does not.
TEST(WaitForTransform, EndsWhenItsPathIsRemovedOrTheGraphLoaded) {
  struct Case {
    const char* name;
    std::function<void(TransformManager&)> change;
    Result expected;
  };
  const std::vector<Case> cases = {
      {"remove from", [](TransformManager& m) { static_cast<void>(m.removeFrame("Lidar")); },
       TransformManager::NotFound},
      // The chain Lidar-Body-Global loses Body: Lidar is re-attached to Global, statically.
      {"remove middle", [](TransformManager& m) { static_cast<void>(m.removeFrame("Body")); },
       TransformManager::Success},
      {"load",
       [](TransformManager& m) { static_cast<void>(m.loadTransforms(zelvane::SettingsManager())); },
       TransformManager::NoFrames},
      {"restore",
       [](TransformManager& m) { static_cast<void>(m.restore(TransformManager().snapshot())); },
       TransformManager::NoFrames},
  };
  for (const Case& c : cases) {
    TransformManager manager;
    manager.setTransform("Body", "Global", makePose(V(0, 0, 0)), 1000);
    manager.setTransform("Body", "Global", makePose(V(1, 0, 0)), 2000);
    manager.setTransform("Lidar", "Body", makePose(V(0, 0, 1)), 0);
    manager.setTransform("Radar", "Body", makePose(V(0, 0, 2)), 0);
    Result result = TransformManager::Error;
    Pose pose;
    Clock::time_point start = Clock::now();
    std::thread waiter(
        [&] { result = manager.waitForTransform("Lidar", "Global", 5000, kInter, 10s, pose); });
    std::this_thread::sleep_for(20ms);
    static_cast<void>(manager.removeFrame("Radar"));  // not on the path: the wait goes on
    std::this_thread::sleep_for(20ms);
    c.change(manager);
    waiter.join();
    EXPECT_EQ(result, c.expected) << c.name;
    EXPECT_LT(Clock::now() - start, 1s) << c.name;
  }
}

// With `Interpolated` a wait takes only a covered time: past an edge's only sample,
// where the lookup answers with that sample, it waits for the next sample (and ends
// with OutOfRange at its timeout); at the sample, and with the other methods, it
// answers as the lookup.
TEST(WaitForTransform, InterpolatedWaitsForSamplesOnBothSidesOfItsTime) {
  TransformManager manager;
  manager.setTransform("S", "G", makePose(V(0, 0, 0)), 100);
  Pose pose = makePose(V(1, 1, 1));
  EXPECT_EQ(manager.canTransform("S", "G", 150, kInter), TransformManager::Success);
  EXPECT_EQ(manager.waitForTransform("S", "G", 150, kInter, 0ns, pose),
            TransformManager::OutOfRange);
  EXPECT_TRUE(isIdentity(pose));
  EXPECT_EQ(manager.waitForTransform("S", "G", 150, kInter, 30ms, pose),
            TransformManager::OutOfRange);
  EXPECT_EQ(manager.waitForTransform("S", "G", 100, kInter, 0ns, pose), TransformManager::Success);
  EXPECT_EQ(manager.waitForTransform("S", "G", 150, TransformManager::Extrapolated, 0ns, pose),
            TransformManager::Success);
  Result result = TransformManager::Error;
  Pose waited;
  std::thread waiter(
      [&] { result = manager.waitForTransform("S", "G", 150, kInter, 10s, waited); });
  std::this_thread::sleep_for(20ms);
  manager.setTransform("S", "G", makePose(V(2, 0, 0)), 200);
  waiter.join();
  ASSERT_EQ(result, TransformManager::Success);
  ASSERT_EQ(manager.getTransform("S", "G", 150, kInter, pose), TransformManager::Success);
  EXPECT_TRUE(sameBits(waited, pose));
  EXPECT_FLOAT_EQ(waited.position.x(), 1.0f);
}

// Destroying the manager ends the waits in progress with Error, and returns only once
// their threads have left it.
TEST(WaitForTransform, EndsWithErrorWhenTheManagerIsDestroyed) {
  auto manager = std::make_unique<TransformManager>();
  manager->setTransform("S", "G", makePose(V(0, 0, 0)), 100);
  TransformManager* const waited_on = manager.get();
  constexpr int kWaiters = 3;
  std::vector<Result> results(kWaiters, TransformManager::Success);
  std::atomic<int> started{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&, i] {
      Pose pose;
      ++started;
      results[i] = waited_on->waitForTransform("S", "G", 500 + i, kInter, 1h, pose);
    });
  }
  while (started < kWaiters) std::this_thread::yield();
  std::this_thread::sleep_for(100ms);  // each thread is inside its wait
  const Clock::time_point start = Clock::now();
  manager.reset();
  EXPECT_LT(Clock::now() - start, 1s);
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(results, std::vector<Result>(kWaiters, TransformManager::Error));
}

// Code that runs with the manager's lock held must not wait (it could never be woken)
// nor register from the registration's own slot (the signal's mutex is taken): both
// are refused with a warning instead of hanging.
TEST(WaitForTransform, IsRefusedWhereItWouldHang) {
  TransformManager manager;
  Result in_slot = TransformManager::Success;
  int slot_calls = 0;
  static_cast<void>(
      manager.connectTransformRegistered([&](const std::string&, const std::string&, long) {
        ++slot_calls;
        Pose pose;
        in_slot = manager.waitForTransform("A", "B", 5, kInter, 1h, pose);
        manager.setTransform("C", "B", makePose(V(0, 0, 0)), 0);
      }));
  LogCapture capture(Logger::WARN_LEVEL);
  manager.setTransform("A", "B", makePose(V(0, 0, 0)), 1);
  EXPECT_EQ(in_slot, TransformManager::Error);
  EXPECT_EQ(slot_calls, 1);
  EXPECT_FALSE(manager.hasFrame("C"));
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
            (Texts{"Attempting to wait for the transform from A to B with the manager's lock held "
                   "by the waiting thread. The wait is refused.",
                   "Attempting to define transform between frames C and B from a slot of the "
                   "registration notification. This new inputted transform will be ignored."}));

  Result in_locked = TransformManager::Success;
  manager.runLocked([&] {
    Pose pose;
    in_locked = manager.waitForTransform("A", "B", 5, kInter, 1h, pose);
  });
  EXPECT_EQ(in_locked, TransformManager::Error);
}

}  // namespace
