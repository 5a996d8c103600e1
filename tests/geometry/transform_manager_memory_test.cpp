// A long stream of time-stamped registrations on one edge keeps a bounded history.
#include <cstddef>
#include <cstdint>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"

namespace {

using namespace zelvane::testing;
using zelvane::Pose;
using zelvane::TransformManager;

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
  EXPECT_EQ(manager.getTransform("Body", "Global", newest - kWindow + kPeriod / 2,
                                 TransformManager::Interpolated, result),
            TransformManager::Success);
  EXPECT_EQ(manager.getTransform("Body", "Global", newest - kWindow - 2 * kPeriod,
                                 TransformManager::Interpolated, result),
            TransformManager::OutOfRange);
  EXPECT_EQ(manager.getTransform("Body", "Global", newest, TransformManager::Interpolated, result),
            TransformManager::Success);
  EXPECT_EQ(result.position.x(), static_cast<float>((kCount - 1) % 1000));
  EXPECT_EQ(result.timestamp, newest);
}

TEST(TransformManagerMemory, HistorySizeIsZeroWithoutADirectEdge) {
  TransformManager manager;
  manager.setTransform("A", "B", Pose(), 0);
  manager.setTransform("C", "B", Pose(), 5);
  manager.setTransform("C", "B", Pose(), 6);
  EXPECT_EQ(manager.historySize("A", "B"), 1u);
  EXPECT_EQ(manager.historySize("B", "C"), 2u);
  EXPECT_EQ(manager.historySize("A", "C"), 0u);  // joined through B only
  EXPECT_EQ(manager.historySize("A", "A"), 0u);
  EXPECT_EQ(manager.historySize("A", "Z"), 0u);
}

}  // namespace
