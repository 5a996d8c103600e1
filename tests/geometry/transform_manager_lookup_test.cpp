// Lookups: result codes, composition along the path, sampling of one history and
// the blend of two poses.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"

namespace {

using namespace zelvane::testing;

constexpr Method kMost = TransformManager::MostRecent;
constexpr Method kExtra = TransformManager::Extrapolated;

const std::string kInterpolatedWarning =
    "Transform time out of range using Interpolated.  Likely sensor data has come in before INS "
    "data. Using extrapolated or MostRecent may be better";

Texts traces(long time, long before, long after) {
  return {"Searching for pose with time " + std::to_string(time),
          "Pose before                  " + std::to_string(before),
          "Pose after                   " + std::to_string(after)};
}

TEST(TransformManagerLookup, FailuresGiveTheirCodeAnIdentityResultAndNoLog) {
  TransformManager empty;
  TransformManager manager;
  manager.setTransform("A", "B", makePose(V(1, 0, 0)), 0);
  manager.setTransform("C", "D", makePose(V(0, 1, 0)), 0);
  const std::tuple<TransformManager*, const char*, const char*, Result> cases[] = {
      {&empty, "X", "X", TransformManager::Success},  // same name, registered or not
      {&empty, "A", "B", TransformManager::NoFrames},
      {&manager, "A", "Q", TransformManager::NotFound},
      {&manager, "Q", "A", TransformManager::NotFound},
      {&manager, "A", "C", TransformManager::NotFound},  // different trees
  };
  LogCapture capture;
  for (const auto& [target, from, to, expected] : cases) {
    for (const Method method : {kMost, kExtra, kInter}) {
      Pose pose = makePose(V(9, 9, 9), 2.0f, V::UnitZ(), 99);
      EXPECT_EQ(target->getTransform(from, to, 100, method, pose), expected) << from << to;
      EXPECT_TRUE(isIdentity(pose));
    }
  }
  EXPECT_TRUE(capture.records().empty());

  // The window case of a history gives the newest sample; a path gives the identity.
  manager.setTransform("E", "F", makePose(V(1, 0, 0)), 100);
  manager.setTransform("E", "F", makePose(V(2, 0, 0)), 200);
  Pose pose;
  EXPECT_EQ(manager.getTransform("E", "F", 201 + kWindow, kExtra, pose),
            TransformManager::OutOfRange);
  EXPECT_TRUE(isIdentity(pose));
}

// A method value outside the enumeration (once taken as `Extrapolated`) is refused by
// every operation that takes one, with the identity and one warning per lookup.
TEST(TransformManagerLookup, RefusesAMethodOutsideTheEnumeration) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(V(1, 0, 0)), 100);
  manager.setTransform("A", "B", makePose(V(2, 0, 0)), 200);
  const auto bad = static_cast<Method>(7);
  const long times[] = {150, 250};
  LogCapture capture(Logger::WARN_LEVEL);
  Pose pose = makePose(V(9, 9, 9));
  EXPECT_EQ(manager.getTransform("A", "B", 150, bad, pose), TransformManager::Error);
  EXPECT_TRUE(isIdentity(pose));
  EXPECT_EQ(manager.getTransform("A", "A", 150, bad, pose), TransformManager::Error);
  EXPECT_EQ(manager.canTransform("A", "B", 150, bad), TransformManager::Error);
  EXPECT_EQ(manager.waitForTransform("A", "B", 150, bad, std::chrono::hours(1), pose),
            TransformManager::Error);
  EXPECT_EQ(manager.getTransformThroughFixedFrame("A", 150, "B", 150, "B", bad, pose),
            TransformManager::Error);
  Pose poses[2];
  Result codes[2];
  EXPECT_EQ(manager.getTransforms("A", "B", times, 2, bad, poses, codes), 0u);
  EXPECT_EQ(codes[0], TransformManager::Error);
  EXPECT_EQ(codes[1], TransformManager::Error);
  EXPECT_TRUE(isIdentity(poses[0]));
  pose = makePose(V(9, 9, 9));
  EXPECT_EQ(manager.getTransformFromPoseMap({{100.0, makePose(V(1, 0, 0))}}, 150, bad, pose),
            TransformManager::Error);
  EXPECT_TRUE(isIdentity(pose));
  const Texts warnings = managerMessages(capture, Logger::WARN_LEVEL);
  ASSERT_EQ(warnings.size(), 8u);
  EXPECT_EQ(warnings[0],
            "Attempting to look up the transform from A to B with the interpolation method 7, "
            "which is none of MostRecent (0), Extrapolated (1) and Interpolated (2). The lookup "
            "is refused.");
  EXPECT_EQ(warnings[7],
            "Attempting to look up a pose history with the interpolation method 7, which is "
            "none of MostRecent (0), Extrapolated (1) and Interpolated (2). The lookup is "
            "refused.");
}

TEST(TransformManagerLookup, ChainAppliesTheEdgeNextToTheTargetLastAndTakesLatestStamp) {
  TransformManager manager;
  const Pose p = makePose(V(1, 2, 3), 0.8f, V(0, 1, 0), 7);  // A in B
  const Pose q = makePose(V(-2, 0, 1), -1.1f, V(1, 0, 1));   // B in C
  manager.setTransform("A", "B", p, 0);
  manager.setTransform("B", "C", q, 100);
  Pose a_in_c, c_in_a;
  ASSERT_EQ(manager.getTransform("A", "C", a_in_c), TransformManager::Success);
  ASSERT_EQ(manager.getTransform("C", "A", 300, kMost, c_in_a), TransformManager::Success);
  EXPECT_TRUE(samePose(a_in_c, poseOf(q.toTransform() * p.toTransform())));
  EXPECT_TRUE(samePose(c_in_a, poseOf((q.toTransform() * p.toTransform()).inverse())));
  EXPECT_EQ(a_in_c.timestamp, 100);
  EXPECT_EQ(c_in_a.timestamp, 300);
}

TEST(TransformManagerLookup, EqualsProductOfRegisteredTransformsAlongThePath) {
  for (const auto& [seed, n, chain] : {std::tuple{7u, 30, false}, std::tuple{2024u, 30, false},
                                       std::tuple{31337u, 30, false}, std::tuple{5u, 45, true}}) {
    TransformManager manager;
    const RandomForest forest(manager, seed, n, {chain, true});
    int connected = 0;
    for (int from = 0; from < n; ++from) {
      for (int to = 0; to < n; ++to) {
        const std::string a = RandomForest::name(from), b = RandomForest::name(to);
        if (from == to || !manager.hasFrame(a) || !manager.hasFrame(b)) continue;
        const std::vector<int> path = forest.path(from, to);
        Pose pose;
        EXPECT_EQ(manager.indirectConnectionExists(a, b), path.size() >= 3) << a << " " << b;
        if (path.empty()) {
          EXPECT_EQ(manager.getTransform(a, b, pose), TransformManager::NotFound) << a << b;
          continue;
        }
        ++connected;
        ASSERT_EQ(manager.getTransform(a, b, pose), TransformManager::Success) << a << b;
        EXPECT_TRUE(
            samePose(pose, poseOf(forest.registeredProduct(path, 0)), INTERPOLATED_TOLERANCE))
            << seed << ": " << a << " " << b;
      }
    }
    EXPECT_GT(connected, 100) << seed;  // the forest is not trivially split
  }
}

TEST(TransformManagerLookup, SamplesEdgesFromTheTargetEndBackToTheSource) {
  // Chain F0 - ... - F4 registered from the middle outwards, so that paths run up and
  // down the tree inside; edge i has samples at 10i + 100 and 10i + 200.
  TransformManager manager;
  for (const int i : {2, 1, 3, 0}) {
    for (const long t : {10L * i + 100, 10L * i + 200}) {
      manager.setTransform("F" + std::to_string(i), "F" + std::to_string(i + 1),
                           makePose(V(t, 0, 0)), t);
    }
  }
  for (int from = 0; from < 5; ++from) {
    for (int to = 0; to < 5; ++to) {
      Texts expected;
      for (int cur = to, step = from < to ? 1 : -1; cur != from; cur -= step) {
        const Texts edge = traces(150, 10L * std::min(cur, cur - step) + 100,
                                  10L * std::min(cur, cur - step) + 200);
        expected.insert(expected.end(), edge.begin(), edge.end());
      }
      LogCapture capture;
      Pose pose;
      ASSERT_EQ(manager.getTransform("F" + std::to_string(from), "F" + std::to_string(to), 150,
                                     kExtra, pose),
                TransformManager::Success);
      EXPECT_EQ(managerMessages(capture, Logger::TRACE_LEVEL), expected) << from << " " << to;
    }
  }
}

TEST(TransformManagerLookup, FirstFailingEdgeFromTheTargetEndStopsTheLookup) {
  // At 250, A - B (samples 300, 400) fails silently, B - C (100, 200) after tracing.
  TransformManager manager;
  for (const long t : {300L, 400L}) manager.setTransform("A", "B", makePose(V(1, 0, 0)), t);
  for (const long t : {100L, 200L}) manager.setTransform("B", "C", makePose(V(0, 1, 0)), t);
  LogCapture capture;
  Pose pose;
  EXPECT_EQ(manager.getTransform("A", "C", 250, kInter, pose), TransformManager::OutOfRange);
  EXPECT_EQ(managerMessages(capture, Logger::TRACE_LEVEL), traces(250, 100, 200));
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL), Texts{kInterpolatedWarning});
  capture.clear();
  EXPECT_EQ(manager.getTransform("C", "A", 250, kInter, pose), TransformManager::OutOfRange);
  EXPECT_TRUE(capture.records().empty());
}

// At nanosecond epochs a double key is a multiple of 256 or more; the ratio and the
// returned time come from the 64-bit registration times instead. A 100 Hz stream,
// lookups at random nanoseconds, against the ratio formed exactly from the integers.
TEST(TransformManagerLookup, NanosecondEpochLookupsReportTheTimeAskedForExactly) {
  constexpr long kStep = 10000000;  // 10 ms
  constexpr long kSamples = 100;
  std::mt19937_64 random(13);
  std::uniform_int_distribution<long> offset(0, kSamples * kStep + kStep / 2);
  for (const long epoch : {1700000000123456789L, -1700000000123456789L, 4611686018427387904L + 77,
                           9000000000000000001L}) {
    TransformManager manager;
    for (long i = 0; i <= kSamples; ++i) {  // x jumps by 1000 m per sample, y by 1 m
      manager.setTransform("Body", "Global", makePose(V(1000.0f * (i % 2), i, 0)),
                           epoch + i * kStep);
    }
    for (int k = 0; k < 600; ++k) {
      const long elapsed = k == 0 ? 3456789 : offset(random);
      const long t = epoch + elapsed;
      const Method method = elapsed > kSamples * kStep ? kExtra : kInter;
      Pose pose;
      ASSERT_EQ(manager.getTransform("Body", "Global", t, method, pose), TransformManager::Success);
      EXPECT_EQ(pose.timestamp, t) << epoch << " + " << elapsed;
      const long i = std::min(elapsed / kStep, kSamples - 1);
      const double ratio = static_cast<double>(elapsed - i * kStep) / kStep;  // exact inputs
      const double x0 = 1000.0 * (i % 2), x1 = 1000.0 * ((i + 1) % 2);
      EXPECT_NEAR(pose.position.x(), x0 + (x1 - x0) * ratio, 2e-3) << epoch << " + " << elapsed;
      EXPECT_NEAR(pose.position.y(), i + ratio, 1e-4) << epoch << " + " << elapsed;
    }
  }
  // Small times too: 0.7 as a float is below 0.7, and the blend of the stamps gave 169.
  const std::map<double, Pose> history = {{100.0, makePose(V(0, 0, 0), 0, V::UnitZ(), 100)},
                                          {200.0, makePose(V(0, 0, 0), 0, V::UnitZ(), 200)}};
  TransformManager manager;
  Pose pose;
  ASSERT_EQ(manager.getTransformFromPoseMap(history, 170, kInter, pose), TransformManager::Success);
  EXPECT_EQ(pose.timestamp, 170);
}

// Samples registered closer than the spacing of doubles share a key: the later
// registration replaces the earlier one, and lookups bracket by registration time.
TEST(TransformManagerLookup, NanosecondSamplesSharingAKeyKeepTheLaterRegistration) {
  constexpr long kT = 1700000000000000000L;  // a multiple of 256
  constexpr long kStep = 10000000;
  ASSERT_EQ(static_cast<double>(kT), static_cast<double>(kT + 100));
  for (const bool in_order : {true, false}) {
    TransformManager manager;
    const long first = in_order ? kT : kT + 100, second = in_order ? kT + 100 : kT;
    manager.setTransform("A", "B", makePose(V(0, 0, 0)), kT - kStep);
    manager.setTransform("A", "B", makePose(V(1, 0, 0)), first);
    manager.setTransform("A", "B", makePose(V(2, 0, 0)), second);
    manager.setTransform("A", "B", makePose(V(3, 0, 0)), kT + kStep);
    EXPECT_EQ(manager.historySize("A", "B"), 3u);
    Pose pose;
    ASSERT_EQ(manager.getTransform("A", "B", second, kInter, pose), TransformManager::Success);
    EXPECT_EQ(pose.position.x(), 2.0f);  // the sample kept, exactly
    EXPECT_EQ(pose.timestamp, second);
    // The replaced time lies between the first sample and the one kept.
    ASSERT_EQ(manager.getTransform("A", "B", first, kInter, pose), TransformManager::Success);
    EXPECT_EQ(pose.timestamp, first);
    const double expected = in_order ? 2.0 * kStep / (kStep + 100)  // before the kept sample
                                     : 2.0 + 100.0 / kStep;         // after it
    EXPECT_NEAR(pose.position.x(), expected, 1e-6);
  }
}

TEST(TransformManagerPoseMap, SamplesOneHistoryAtATime) {
  const Pose s0 = makePose(V(1, 1, 1), 0.3f);
  const Pose s100 = makePose(V(10, 0, 0), 0.0f, V::UnitZ(), 100);
  const Pose s200 = makePose(V(20, 0, 0), 1.0f, V::UnitZ(), 200);
  const std::map<double, Pose> two = {{100.0, s100}, {200.0, s200}}, one = {{100.0, s100}},
                               fixed = {{0.0, s0}}, close = {{100.25, s100}, {100.75, s200}}, none;
  struct Case {
    const std::map<double, Pose>* poses;
    long time;
    Method method;
    Result result;
    const Pose* expected;  // null: the identity; for blends see `ratio`
    float ratio;           // > 0: the blend of s100 and s200 at this ratio
    Texts traces;
    bool warning;
  };
  const Result ok = TransformManager::Success, range = TransformManager::OutOfRange;
  const Case cases[] = {
      {&two, 150, kExtra, ok, nullptr, 0.5f, traces(150, 100, 200), false},
      {&two, 125, kInter, ok, nullptr, 0.25f, traces(125, 100, 200), false},
      {&two, 200, kInter, ok, &s200, 0, {}, false},
      {&two, 100, kExtra, ok, &s100, 0, {}, false},
      {&two, 50, kExtra, range, nullptr, 0, {}, false},
      {&two, 250, kExtra, ok, nullptr, 1.5f, traces(250, 100, 200), false},
      {&two, 250, kInter, range, nullptr, 0, traces(250, 100, 200), true},
      {&two, 200 + kWindow + 1, kInter, range, &s200, 0, {}, false},
      {&two, 50, kMost, ok, &s200, 0, {}, false},
      {&one, 100, kInter, ok, &s100, 0, {}, false},
      {&one, 150, kInter, ok, &s100, 0, traces(150, 100, 100), false},
      {&one, 50, kExtra, range, nullptr, 0, {}, false},
      {&fixed, -5, kInter, ok, &s0, 0, {}, false},
      {&fixed, 1000000000000, kExtra, ok, &s0, 0, {}, false},
      {&close, 101, kExtra, ok, &s200, 0, traces(101, 100, 100), false},  // no 0/0 ratio
      {&none, 100, kMost, TransformManager::NotFound, nullptr, 0, {}, false},
  };
  TransformManager manager;
  for (const Case& c : cases) {
    SCOPED_TRACE("time " + std::to_string(c.time) + " method " + std::to_string(c.method));
    LogCapture capture;
    Pose pose = s0;
    EXPECT_EQ(manager.getTransformFromPoseMap(*c.poses, c.time, c.method, pose), c.result);
    if (c.ratio > 0) {  // positions linear, yaw about z linear, timestamp blended
      EXPECT_TRUE(samePose(pose, makePose(V(10 + 10 * c.ratio, 0, 0), c.ratio)));
      EXPECT_EQ(pose.timestamp, 100 + static_cast<std::int64_t>(100 * c.ratio));
    } else if (c.expected != nullptr) {
      EXPECT_TRUE(samePose(pose, *c.expected));
      EXPECT_EQ(pose.timestamp, c.expected->timestamp);
    } else {
      EXPECT_TRUE(isIdentity(pose));
    }
    EXPECT_EQ(managerMessages(capture, Logger::TRACE_LEVEL), c.traces);
    EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
              c.warning ? Texts{kInterpolatedWarning} : Texts{});
  }
}

// A key with a fraction is registered at its truncated time (its stamp being another
// time): a lookup at that time is its exact hit, neither refused nor blended.
TEST(TransformManagerPoseMap, EntryRegisteredAtTheTimeAskedForIsAnExactHit) {
  constexpr std::int64_t kLate = std::int64_t{1} << 62;
  const Pose early = makePose(V(1, 0, 0), 0.0f, V::UnitZ(), 7);
  const Pose late = makePose(V(3, 0, 0), 0.0f, V::UnitZ(), kLate);
  const std::map<double, Pose> poses = {{100.5, early}, {200.5, late}};
  TransformManager manager;
  for (const Method method : {kExtra, kInter}) {
    Pose pose;
    ASSERT_EQ(manager.getTransformFromPoseMap(poses, 200, method, pose), TransformManager::Success);
    EXPECT_EQ(pose.timestamp, 4611686018427387904);
    EXPECT_EQ(pose.position, late.position);
    ASSERT_EQ(manager.getTransformFromPoseMap(poses, 100, method, pose), TransformManager::Success);
    EXPECT_EQ(pose.timestamp, 7);
    EXPECT_EQ(manager.getTransformFromPoseMap(poses, 99, method, pose),
              TransformManager::OutOfRange);
  }
  Pose between;  // 150: still the blend of the two
  ASSERT_EQ(manager.getTransformFromPoseMap(poses, 150, kExtra, between),
            TransformManager::Success);
  EXPECT_FLOAT_EQ(between.position.x(), 2.0f);
}

TEST(TransformManagerInterpolate, OrientationTakesTheShorterArc) {
  TransformManager manager;
  Pose second = makePose(V(4, 0, 0), 1.2f);
  second.orientation.coeffs() = -second.orientation.coeffs();  // same rotation, other sign
  EXPECT_TRUE(samePose(manager.interpolateTransform(makePose(V(0, 0, 0)), second, 0.5f),
                       makePose(V(2, 0, 0), 0.6f)));
}

// The blend forms the angle of two samples once and shares it between the times
// that fall between them; each blend is still Eigen's `slerp`, to the bit, for random
// rotations and for the hostile pairs: equal, opposite, nearly parallel, orthogonal,
// not of unit length, at ratios inside, at and past the ends.
TEST(TransformManagerInterpolate, OrientationIsEigensSlerpBitForBit) {
  std::mt19937 random(27);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  const auto randomRotation = [&] {
    return Eigen::Quaternionf(unit(random), unit(random), unit(random), unit(random)).normalized();
  };
  const Eigen::Quaternionf q = randomRotation();
  const float step = std::numeric_limits<float>::epsilon();
  std::vector<std::pair<Eigen::Quaternionf, Eigen::Quaternionf>> pairs = {
      {q, q},
      {q, Eigen::Quaternionf(-q.coeffs())},
      {q, Eigen::Quaternionf(q.w(), q.x() + step, q.y(), q.z())},
      {Eigen::Quaternionf(1, 0, 0, 0), Eigen::Quaternionf(0, 1, 0, 0)},
      {Eigen::Quaternionf(2, 0, 0, 0), Eigen::Quaternionf(0, 0, 0.5f, 0)},
  };
  for (int i = 0; i < 2000; ++i) pairs.emplace_back(randomRotation(), randomRotation());
  const float ratios[] = {0.0f, 1.0f, 0.5f, 1e-7f, 0.999999f, 1.5f, 7.25f};
  TransformManager manager;
  for (const auto& [first, second] : pairs) {
    for (const float ratio : ratios) {
      Pose a;
      a.orientation = first;
      Pose b;
      b.orientation = second;
      const Eigen::Quaternionf blended = manager.interpolateTransform(a, b, ratio).orientation;
      const Eigen::Quaternionf expected = first.slerp(ratio, second);
      ASSERT_EQ(std::memcmp(blended.coeffs().data(), expected.coeffs().data(), 4 * sizeof(float)),
                0)
          << first.coeffs().transpose() << " / " << second.coeffs().transpose() << " at " << ratio;
    }
  }
}

TEST(TransformManagerInterpolate, TimestampKeepsEveryDigitAndTruncatesTowardZero) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  const std::tuple<std::int64_t, std::int64_t, float, std::int64_t> cases[] = {
      {1700000000000000000, 1700000000000001000, 0.5f, 1700000000000000500},
      {1700000000000000000, 1700000000000001000, 1.5f, 1700000000000001500},
      {-1700000000000001000, -1700000000000000000, 0.25f, -1700000000000000750},
      {0, 3, 0.5f, 1},
      {3, 0, 0.5f, 1},
      {-3, 0, 0.5f, -1},
      {0, -3, 0.5f, -1},
      {1, -2, 0.5f, 0},
      {0, kMax, 2.0f, kMax},
      {0, kMin, 2.0f, kMin},
      {kMin, kMax, 0.5f, 0},
  };
  TransformManager manager;
  for (const auto& [first, second, ratio, expected] : cases) {
    const Pose a = makePose(V(0, 0, 0), 0, V::UnitZ(), first);
    const Pose b = makePose(V(0, 0, 0), 0, V::UnitZ(), second);
    EXPECT_EQ(manager.interpolateTransform(a, b, ratio).timestamp, expected)
        << first << " " << second << " " << ratio;
  }
}

}  // namespace
