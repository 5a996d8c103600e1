// A long stream of time-stamped registrations on one edge keeps a bounded history.
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "support/allocation_probe.h"

namespace {

using namespace zelvane::testing;

TEST(TransformManagerMemory, MillionSampleStreamNeverHoldsMoreThanTheWindowPlusTwo) {
  // 10^6 poses at 1 kHz with nanosecond time stamps (about 17 minutes of a stream),
  // starting at a present-day epoch time.
  constexpr long kPeriod = 1000000;  // ns
  constexpr long kStart = 1700000000000000000L;
  constexpr long kCount = 1000000;
  constexpr std::size_t kBound = static_cast<std::size_t>(kWindow / kPeriod) + 1 + 2;

  TransformManager manager;
  Pose pose = makePose(Eigen::Vector3f::Zero());
  std::size_t largest = 0;
  for (long i = 0; i < kCount; ++i) {
    pose.position.x() = static_cast<float>(i % 1000);
    manager.setTransform("Body", "Global", pose, kStart + i * kPeriod);
    const std::size_t forward = manager.historySize("Body", "Global");
    const std::size_t reverse = manager.historySize("Global", "Body");
    ASSERT_EQ(forward, reverse) << i;
    if (forward > largest) largest = forward;
    ASSERT_LE(forward, kBound) << "after " << i + 1 << " registrations";
  }
  // The window is kept, not cut short: ten seconds of samples stay.
  EXPECT_GE(largest, kBound - 2);
  const long newest = kStart + (kCount - 1) * kPeriod;
  Pose result;
  EXPECT_EQ(manager.getTransform("Body", "Global", newest - kWindow + kPeriod / 2, kInter, result),
            TransformManager::Success);
  EXPECT_EQ(manager.getTransform("Body", "Global", newest - kWindow - 2 * kPeriod, kInter, result),
            TransformManager::OutOfRange);
  EXPECT_EQ(manager.getTransform("Body", "Global", newest, kInter, result),
            TransformManager::Success);
  EXPECT_EQ(result.position.x(), static_cast<float>((kCount - 1) % 1000));
  EXPECT_EQ(result.timestamp, newest);
}

// A sender whose samples come at both ends of the history (a live stream and a late
// one, older than all kept) grows its block now and then, not once per sample.
TEST(TransformManagerMemory, SamplesAtBothEndsOfAHistoryAllocateRarely) {
  TransformManager manager;
  ASSERT_EQ(manager.setHistoryWindow(std::numeric_limits<double>::infinity()),
            TransformManager::Success);
  const Pose pose = makePose(Eigen::Vector3f(1, 2, 3), 0.5f);
  manager.setTransform("Body", "Global", pose, 1000000);
  AllocationCounter allocations;
  for (long i = 1; i <= 20000; ++i) {
    manager.setTransform("Body", "Global", pose, 1000000 + i);
    manager.setTransform("Body", "Global", pose, 1000000 - i);
  }
  EXPECT_EQ(manager.historySize("Body", "Global"), 40001u);
  EXPECT_LT(allocations.count(), 100);
}

// A registration whose histories must grow, with each of its allocations failing in
// turn: it is made whole or not at all, both directions alike.
TEST(TransformManagerMemory, FailedAllocationLeavesBothDirectionsAsTheyWere) {
  TransformManager manager;
  const Pose pose = makePose(Eigen::Vector3f(1, 2, 3), 0.5f);
  for (long t = 1; t <= 4; ++t) manager.setTransform("Body", "Global", pose, t);
  const auto before = manager.snapshot();
  for (long failing = 0;; ++failing) {
    TransformManager::Registration outcome = TransformManager::Registered;
    bool failed = false;
    {
      FailingAllocation failure(failing);
      try {
        outcome = manager.registerTransform("Body", "Global", pose, 5);
      } catch (const std::bad_alloc&) {
        failed = true;
      }
    }
    const auto after = manager.snapshot();
    ASSERT_EQ(after.pairs.size(), 1u);
    if (!failed) {
      EXPECT_EQ(outcome, TransformManager::Registered);
      EXPECT_EQ(after.pairs[0].poses.size(), 5u);
      EXPECT_EQ(after.pairs[0].inverses.size(), 5u);
      break;
    }
    EXPECT_EQ(after.pairs[0].poses.size(), before.pairs[0].poses.size()) << failing;
    EXPECT_EQ(after.pairs[0].inverses.size(), before.pairs[0].inverses.size()) << failing;
  }
}

// Heap bytes in use, where the allocator reports them (not under the sanitizers).
long heapInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return 0;
#else
  return static_cast<long>(mallinfo2().uordblks);
#endif
}

TEST(TransformManagerMemory, MillisecondStreamStaysBoundedUnderASmallerWindow) {
  // 10^6 poses at 1 kHz with millisecond stamps. The default window is 115 days of
  // milliseconds, so nothing would ever be pruned (about 220 MB); a window of 10,000
  // keeps ten seconds.
  constexpr long kStart = 1700000000000L;  // ms
  constexpr long kCount = 1000000;
  constexpr long kSmall = 10000;
  TransformManager manager;
  EXPECT_EQ(manager.getHistoryWindow(), TransformManager::TRANSFORM_HISTORY_WINDOW);
  ASSERT_EQ(manager.setHistoryWindow(kSmall), TransformManager::Success);
  EXPECT_EQ(manager.getHistoryWindow(), kSmall);
  const long heap_before = heapInUse();
  Pose pose = makePose(Eigen::Vector3f::Zero());
  for (long i = 0; i < kCount; ++i) {
    pose.position.x() = static_cast<float>(i % 1000);
    manager.setTransform("Body", "Global", pose, kStart + i);
    if (i % 1000 == 999) {
      ASSERT_EQ(manager.historySize("Body", "Global"), std::min(i + 1, kSmall + 1)) << i;
    }
  }
  EXPECT_LT(heapInUse() - heap_before, 8L << 20);  // two histories of 10,001 samples
  const long newest = kStart + kCount - 1;
  Pose result;
  EXPECT_EQ(manager.getTransform("Body", "Global", newest - kSmall, kInter, result),
            TransformManager::Success);
  EXPECT_EQ(manager.getTransform("Body", "Global", newest - kSmall - 1, kInter, result),
            TransformManager::OutOfRange);
  // The window is also the staleness limit, at once.
  EXPECT_EQ(manager.getTransform("Body", "Global", newest + kSmall, TransformManager::Extrapolated,
                                 result),
            TransformManager::Success);
  EXPECT_EQ(manager.getTransform("Body", "Global", newest + kSmall + 1,
                                 TransformManager::Extrapolated, result),
            TransformManager::OutOfRange);
  // A smaller window prunes at the next registration.
  ASSERT_EQ(manager.setHistoryWindow(100), TransformManager::Success);
  EXPECT_EQ(manager.historySize("Global", "Body"), kSmall + 1u);
  manager.setTransform("Body", "Global", pose, newest + 1);
  EXPECT_EQ(manager.historySize("Global", "Body"), 101u);
}

TEST(TransformManagerMemory, HistoryWindowRefusesWhatIsNotASpanOfTimeAndSizesCountDirectEdges) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  TransformManager manager;
  LogCapture capture;
  for (const double bad : {-1.0, -kInf, std::nan("")}) {
    EXPECT_EQ(manager.setHistoryWindow(bad), TransformManager::Error) << bad;
  }
  EXPECT_EQ(manager.getHistoryWindow(), TransformManager::TRANSFORM_HISTORY_WINDOW);
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL).size(), 3u);
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL)[0],
            "Attempting to set the history window to -1, which is not a span of time. The window "
            "stays 1e+10.");
  // Infinity keeps everything and never goes stale; zero keeps the two newest.
  ASSERT_EQ(manager.setHistoryWindow(kInf), TransformManager::Success);
  for (long t = 1; t <= 5; ++t)
    manager.setTransform("A", "B", makePose(Eigen::Vector3f(t, 0, 0)), t);
  EXPECT_EQ(manager.historySize("A", "B"), 5u);
  Pose pose;
  EXPECT_EQ(manager.getTransform("A", "B", std::numeric_limits<long>::max(),
                                 TransformManager::Extrapolated, pose),
            TransformManager::Success);
  ASSERT_EQ(manager.setHistoryWindow(0), TransformManager::Success);
  manager.setTransform("A", "B", makePose(Eigen::Vector3f(6, 0, 0)), 6);
  EXPECT_EQ(manager.historySize("A", "B"), 2u);
  EXPECT_EQ(manager.getTransform("A", "B", 7, TransformManager::Extrapolated, pose),
            TransformManager::OutOfRange);

  // The history size of a pair without a direct edge is zero.
  manager.setTransform("C", "B", Pose(), 0);
  EXPECT_EQ(manager.historySize("B", "C"), 1u);
  EXPECT_EQ(manager.historySize("A", "C"), 0u);  // joined through B only
  EXPECT_EQ(manager.historySize("A", "A"), 0u);
  EXPECT_EQ(manager.historySize("A", "Z"), 0u);
}

}  // namespace
