// Lookups of one pair at many times: every result, code and log record equal to the
// single lookup at that time, made one after the other.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "transform_manager_support.h"

namespace zelvane::testing {
namespace {

constexpr long kEpoch = 1700000000L * 1000000000L;  // nanoseconds
constexpr long kStep = 10000000L;                   // 10 ms
constexpr long kMin = std::numeric_limits<long>::min();
constexpr long kMax = std::numeric_limits<long>::max();

using zelvane::testing::sameBits;  // the pose form, beside this one

bool sameBits(const Eigen::Matrix4f& a, const Eigen::Matrix4f& b) {
  return std::memcmp(a.data(), b.data(), sizeof(float) * 16) == 0;
}

// Sensor -static- Body -10 ms samples- Odom -100 ms samples- Map, the last two
// turning and moving; Lone -static- Other apart from them.
void fill(TransformManager& manager) {
  manager.setTransform("Sensor", "Body", makePose(V(1.5f, 0.2f, 1.8f), 0.1f, V(0, 1, 0)), 0);
  for (long i = 0; i <= 100; ++i) {
    const float t = static_cast<float>(i) * 0.01f;
    manager.setTransform("Body", "Odom", makePose(V(10.0f * t, std::sin(t), 0.0f), 0.3f * t),
                         kEpoch + i * kStep);
  }
  for (long i = 0; i <= 8; ++i) {
    const float t = static_cast<float>(i) * 0.1f;
    manager.setTransform("Odom", "Map", makePose(V(100.0f + t, -50.0f, 2.0f), 1.0f + 0.05f * t),
                         kEpoch + 5 * kStep + i * 10 * kStep);
  }
  manager.setTransform("Lone", "Other", makePose(V(3, 4, 5)), 0);
}

// Sorted, repeated, unsorted and failing times (before the oldest sample, past the
// newest, past the window, the limits of the type), with fixed-seed random ones.
std::vector<long> timesUnderTest() {
  std::vector<long> times;
  for (long i = 0; i < 120; ++i) times.push_back(kEpoch + i * kStep / 3);
  times.insert(times.end(), {kEpoch + 40 * kStep, kEpoch + 40 * kStep, kEpoch + 40 * kStep});
  times.insert(times.end(), {kEpoch + 90 * kStep, kEpoch + 7, kEpoch + 90 * kStep + 1, 0, kMin,
                             kMax, kEpoch - 1, kEpoch + 200 * kStep, kEpoch + 86 * kStep,
                             kEpoch + 86 * kStep, kEpoch + 100 * kStep + 20000000000L});
  std::mt19937_64 rng(21);
  std::uniform_int_distribution<long> anywhere(kEpoch - 2 * kStep, kEpoch + 110 * kStep);
  for (int i = 0; i < 200; ++i) {
    const long time = anywhere(rng);
    times.push_back(time);
    if (i % 7 == 0) times.push_back(time);
  }
  return times;
}

struct Pair {
  std::string from;
  std::string to;
};

// Time-stamped paths both ways, a static path, equal names, an unknown frame and two
// frames of different trees.
const Pair kPairs[] = {{"Sensor", "Map"},   {"Map", "Sensor"}, {"Body", "Odom"},
                       {"Sensor", "Body"},  {"Lone", "Other"}, {"Body", "Body"},
                       {"Nowhere", "Body"}, {"Sensor", "Lone"}};
const Method kMethods[] = {TransformManager::MostRecent, TransformManager::Extrapolated,
                           TransformManager::Interpolated};

TEST(TransformManagerBatch, EqualsTheSingleLookupsBitForBit) {
  TransformManager filled;
  fill(filled);
  TransformManager empty;  // NoFrames everywhere but from a frame into itself
  const std::vector<long> times = timesUnderTest();
  const std::size_t n = times.size();
  std::vector<float> points(3 * n);
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> coordinate(-80.0f, 80.0f);
  for (float& value : points) value = coordinate(rng);

  for (const Pair& pair : kPairs) {
    for (const Method method : kMethods) {
      for (TransformManager* manager : {&filled, &empty}) {
        SCOPED_TRACE(pair.from + " in " + pair.to + ", method " + std::to_string(method) +
                     (manager == &empty ? ", empty" : ""));
        // Outputs filled beforehand: every entry must be written, failures too.
        std::vector<Pose> poses(n, makePose(V(9, 9, 9), 2.0f, V::UnitZ(), 99));
        std::vector<Result> pose_codes(n);
        std::vector<Eigen::Matrix4f> matrices(n, Eigen::Matrix4f::Constant(9.0f));
        std::vector<Result> matrix_codes(n);
        std::vector<float> placed(3 * n);
        std::vector<Result> point_codes(n);
        const std::size_t ok = manager->getTransforms(pair.from, pair.to, times.data(), n, method,
                                                      poses.data(), pose_codes.data());
        EXPECT_EQ(manager->getTransformMatrices(pair.from, pair.to, times.data(), n, method,
                                                matrices.data(), matrix_codes.data()),
                  ok);
        EXPECT_EQ(manager->transformPoints(pair.from, pair.to, points.data(), times.data(), n,
                                           method, placed.data(), point_codes.data()),
                  ok);
        std::size_t expected_ok = 0;
        for (std::size_t i = 0; i < n; ++i) {
          Pose single;
          const Result code = manager->getTransform(pair.from, pair.to, times[i], method, single);
          expected_ok += code == TransformManager::Success ? 1 : 0;
          ASSERT_EQ(pose_codes[i], code) << "time " << times[i];
          ASSERT_EQ(matrix_codes[i], code);
          ASSERT_EQ(point_codes[i], code);
          ASSERT_TRUE(sameBits(poses[i], single)) << "time " << times[i];
          ASSERT_TRUE(sameBits(matrices[i], single.toTransform())) << "time " << times[i];
          const Eigen::Vector4f expected =
              single.toTransform() *
              Eigen::Vector4f(points[3 * i], points[3 * i + 1], points[3 * i + 2], 1.0f);
          for (int c = 0; c < 3; ++c) {
            if (code == TransformManager::Success) {
              ASSERT_EQ(std::memcmp(&placed[3 * i + c], &expected[c], sizeof(float)), 0)
                  << "time " << times[i];
            } else {
              ASSERT_TRUE(std::isnan(placed[3 * i + c]));
            }
          }
        }
        EXPECT_EQ(ok, expected_ok);
      }
    }
  }
}

// The records of the batch are those of the single lookups, in the same order: the
// trace records of each blend and the warning of each Interpolated refusal.
TEST(TransformManagerBatch, WritesTheRecordsOfTheSingleLookups) {
  TransformManager manager;
  fill(manager);
  const std::vector<long> times = timesUnderTest();
  for (const Method method : kMethods) {
    LogCapture batch_capture;
    std::vector<Pose> poses(times.size());
    std::vector<Result> codes(times.size());
    static_cast<void>(manager.getTransforms("Sensor", "Map", times.data(), times.size(), method,
                                            poses.data(), codes.data()));
    const std::vector<LogRecord> batch = batch_capture.records();

    LogCapture single_capture;
    for (const long time : times) {
      Pose single;
      static_cast<void>(manager.getTransform("Sensor", "Map", time, method, single));
    }
    EXPECT_EQ(batch, single_capture.records()) << "method " << method;
    if (method == TransformManager::Interpolated) {
      EXPECT_FALSE(managerMessages(batch_capture, Logger::WARN_LEVEL).empty());
    }
  }
}

TEST(TransformManagerBatch, PlacesPointsInPlace) {
  TransformManager manager;
  fill(manager);
  const long times[] = {kEpoch + 3 * kStep, kEpoch + 3 * kStep, kEpoch + 31 * kStep};
  std::vector<float> points = {1, 2, 3, -4, 5, 6, 7, -8, 9};
  std::vector<float> placed(points.size());
  Result codes[3];
  static_cast<void>(manager.transformPoints("Sensor", "Odom", points.data(), times, 3, kInter,
                                            placed.data(), codes));
  static_cast<void>(manager.transformPoints("Sensor", "Odom", points.data(), times, 3, kInter,
                                            points.data(), codes));
  EXPECT_EQ(std::memcmp(points.data(), placed.data(), sizeof(float) * points.size()), 0);
}

}  // namespace
}  // namespace zelvane::testing
