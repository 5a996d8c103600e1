// The whole content of a manager read out and put back: a restored manager answers
// every lookup bit for bit as the original, and a snapshot that no manager can hold
// is refused without a change.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"

namespace {

using namespace zelvane::testing;
using Snapshot = TransformManager::Snapshot;
using History = std::map<double, Pose>;
using zelvane::testing::sameBits;

bool sameBits(const History& a, const History& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return std::memcmp(&x.first, &y.first, sizeof(double)) == 0 && sameBits(x.second, y.second);
  });
}

// Equal snapshots, every key and pose bit for bit.
void expectSame(const Snapshot& a, const Snapshot& b) {
  EXPECT_EQ(a.frames, b.frames);
  EXPECT_EQ(std::memcmp(&a.historyWindow, &b.historyWindow, sizeof(double)), 0);
  ASSERT_EQ(a.pairs.size(), b.pairs.size());
  for (std::size_t i = 0; i < a.pairs.size(); ++i) {
    EXPECT_EQ(a.pairs[i].from, b.pairs[i].from);
    EXPECT_EQ(a.pairs[i].to, b.pairs[i].to);
    EXPECT_TRUE(sameBits(a.pairs[i].poses, b.pairs[i].poses)) << a.pairs[i].from;
    EXPECT_TRUE(sameBits(a.pairs[i].inverses, b.pairs[i].inverses)) << a.pairs[i].from;
  }
  ASSERT_EQ(a.origins.size(), b.origins.size());
  for (auto x = a.origins.begin(), y = b.origins.begin(); x != a.origins.end(); ++x, ++y) {
    EXPECT_EQ(x->first, y->first);
    EXPECT_EQ(x->second.frame, y->second.frame);
    EXPECT_TRUE(sameBits(x->second.pose, y->second.pose));
  }
}

Pose randomPose(std::mt19937_64& random) {
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  Pose pose;
  pose.position = V(unit(random), unit(random), unit(random)) * 50.0f;
  pose.orientation = Eigen::Quaternionf(unit(random), unit(random), unit(random), unit(random));
  pose.orientation.normalize();
  pose.timestamp = static_cast<std::int64_t>(random() % 1000);
  return pose;
}

// Two trees: Wheel-Global-Body-Lidar-Camera, with time-stamped Body and Wheel edges at
// random times, and a separate Map-Odom pair; a window that has pruned; origins.
void fill(TransformManager& manager, std::mt19937_64& random, long epoch) {
  static_cast<void>(manager.setHistoryWindow(4000.0));
  manager.setTransform("Lidar", "Body", randomPose(random), 0);
  manager.setTransform("Camera", "Lidar", randomPose(random), 0);
  manager.setTransform("Map", "Odom", randomPose(random), 0);
  long time = epoch;
  for (int i = 0; i < 60; ++i) {
    time += 1 + static_cast<long>(random() % 300);
    manager.setTransform("Body", "Global", randomPose(random), time);
    if (i % 3 == 0) manager.setTransform("Global", "Wheel", randomPose(random), time + 7);
  }
  manager.setOrigin("start", "Global", randomPose(random));
  manager.setOrigin("dock", "Nowhere", randomPose(random));
}

// Every lookup between every two frames, at times around and between the samples,
// with every method: codes and poses bit for bit. Returns the number that succeed.
int expectSameLookups(TransformManager& a, TransformManager& b, long first, long last) {
  int succeeded = 0;
  const std::vector<std::string> frames = a.getFrames();
  for (const std::string& from : frames) {
    for (const std::string& to : frames) {
      for (long time = first; time <= last; time += (last - first) / 97) {
        for (const Method method : {TransformManager::MostRecent, TransformManager::Extrapolated,
                                    TransformManager::Interpolated}) {
          Pose x;
          Pose y;
          const Result code = a.getTransform(from, to, time, method, x);
          EXPECT_EQ(code, b.getTransform(from, to, time, method, y));
          EXPECT_TRUE(sameBits(x, y)) << from << " in " << to << " at " << time;
          succeeded += code == TransformManager::Success;
        }
      }
      long a_oldest = 0, a_newest = 0, b_oldest = 0, b_newest = 0;
      EXPECT_EQ(a.getCommonTimeSpan(from, to, a_oldest, a_newest),
                b.getCommonTimeSpan(from, to, b_oldest, b_newest));
      EXPECT_EQ(std::pair(a_oldest, a_newest), std::pair(b_oldest, b_newest));
    }
  }
  return succeeded;
}

TEST(TransformManagerSnapshot, RestoredManagerAnswersAsTheOriginalBitForBit) {
  // Millisecond stamps, and nanosecond epochs where keys are multiples of 256.
  for (const long epoch : {0L, 1'700'000'000'000'000'000L}) {
    std::mt19937_64 random(20261209);
    TransformManager original;
    fill(original, random, epoch);
    const Snapshot taken = original.snapshot();
    ASSERT_EQ(taken.frames.size(), 7u);
    ASSERT_EQ(taken.pairs.size(), 5u);

    TransformManager restored;
    restored.setTransform("Stale", "Frame", Pose(), 0);  // replaced whole
    ASSERT_EQ(restored.restore(taken), TransformManager::Success);
    expectSame(restored.snapshot(), taken);
    EXPECT_EQ(restored.getEdges().size(), original.getEdges().size());
    EXPECT_GT(expectSameLookups(original, restored, epoch - 500, epoch + 20000), 3000);

    // The same registration on both prunes both alike: the window came along.
    const Pose next = randomPose(random);
    original.setTransform("Body", "Global", next, epoch + 30000);
    restored.setTransform("Body", "Global", next, epoch + 30000);
    EXPECT_EQ(restored.historySize("Body", "Global"), original.historySize("Body", "Global"));
    expectSame(restored.snapshot(), original.snapshot());
    EXPECT_GT(expectSameLookups(original, restored, epoch + 20000, epoch + 31000), 3000);
  }
}

// Streams in every order a sender produces (rising, falling, shuffled, repeated
// keys, static entries among them) against a map holding the samples as registration
// describes them: after every step the histories hold what the map holds, bit for
// bit, and the inverse direction the inverses, whether or not a lookup has read them.
TEST(TransformManagerSnapshot, HistoriesHoldWhatAMapOfTheSamplesHolds) {
  const auto registration = [](const History::value_type& entry) -> long double {
    return entry.first == 0.0 ? 0 : entry.second.timestamp;
  };
  std::mt19937_64 random(20261210);
  for (int stream = 0; stream < 40; ++stream) {
    const long epoch = stream % 2 == 0 ? 1'700'000'000'000'000'000L : 0;
    const double window = std::array<double, 4>{1e10, 300, 5000, 0}[stream % 4];
    TransformManager manager;
    ASSERT_EQ(manager.setHistoryWindow(window), TransformManager::Success);
    History model;
    const int order = stream / 4 % 5;  // rising, falling, shuffled, close keys, mixed
    for (int step = 0; step < 300; ++step) {
      long time = 0;
      switch (order) {
        case 0: time = epoch + 10 * step; break;
        case 1: time = epoch + 10 * (300 - step); break;
        case 2: time = epoch + static_cast<long>(random() % 3000); break;
        case 3: time = epoch + 10 * step + static_cast<long>(random() % 300); break;
        default: time = random() % 7 == 0 ? 0 : epoch + static_cast<long>(random() % 2000);
      }
      const Pose pose = randomPose(random);
      manager.setTransform("A", "B", pose, time);
      Pose& stored = model[static_cast<double>(time)];
      stored = pose;
      if (time != 0) stored.timestamp = time;
      while (model.size() > 2 && static_cast<long double>(time) - registration(*model.begin()) >
                                     static_cast<long double>(window)) {
        model.erase(model.begin());
      }
      if (random() % 3 == 0) {  // reads some inverses before the snapshot does
        Pose read;
        static_cast<void>(
            manager.getTransform("B", "A", time, TransformManager::Interpolated, read));
      }
      const Snapshot taken = manager.snapshot();
      ASSERT_EQ(taken.pairs.size(), 1u);
      ASSERT_TRUE(sameBits(taken.pairs[0].poses, model)) << stream << " " << step;
      History inverses;
      for (const auto& [key, forward] : model) inverses.emplace(key, forward.toInversePose());
      ASSERT_TRUE(sameBits(taken.pairs[0].inverses, inverses)) << stream << " " << step;
    }
  }
}

TEST(TransformManagerSnapshot, TakesFractionalKeysAsTheyAreKeepingSlotsAndNotifyingNothing) {
  // Entries that `setTransform` cannot make: fractional keys, stamps that are not the
  // key. The restored edge answers as the hand-made map does (through the rotation
  // matrix that every lookup composes, so within rounding; codes and stamps exactly).
  Pose early = makePose(V(1, 2, 3), 0.2f);
  early.timestamp = 7;
  Pose late = makePose(V(4, 0, -1), 0.9f);
  late.timestamp = std::int64_t{1} << 62;
  const History poses{{100.5, early}, {200.5, late}};
  const History inverses{{100.5, early.toInversePose()}, {200.5, late.toInversePose()}};
  Snapshot hand;
  hand.frames = {"A", "B"};
  hand.pairs.push_back({"A", "B", poses, inverses});
  hand.historyWindow = std::numeric_limits<double>::infinity();

  TransformManager manager;
  int notified = 0;
  zelvane::tkit::Connection connection = manager.connectTransformRegistered(
      [&notified](const std::string&, const std::string&, long) { ++notified; });
  ASSERT_EQ(manager.restore(hand), TransformManager::Success);
  EXPECT_EQ(notified, 0);
  expectSame(manager.snapshot(), hand);
  for (const long time : {99L, 100L, 150L, 200L, 250L}) {
    for (const Method method : {TransformManager::Extrapolated, TransformManager::Interpolated}) {
      for (const auto& [from, to, map] : {std::tuple{"A", "B", &poses}, {"B", "A", &inverses}}) {
        Pose looked_up;
        Pose sampled;
        EXPECT_EQ(manager.getTransform(from, to, time, method, looked_up),
                  manager.getTransformFromPoseMap(*map, time, method, sampled));
        EXPECT_TRUE(samePose(looked_up, sampled, ROUNDING_TOLERANCE)) << from << " at " << time;
        // A lookup's stamp is the later of the time asked for and the sample's.
        EXPECT_EQ(looked_up.timestamp,
                  sampled.timestamp == 0 ? 0 : std::max<std::int64_t>(time, sampled.timestamp))
            << from << " at " << time;
      }
    }
  }
  manager.setTransform("C", "B", Pose(), 0);
  EXPECT_EQ(notified, 1);
}

TEST(TransformManagerSnapshot, RefusesWhatNoManagerCanHoldAndChangesNothing) {
  const Pose p = makePose(V(1, 0, 0), 0.5f);
  const History one{{0.0, p}};
  const History inverse{{0.0, p.toInversePose()}};
  const auto pair = [&](const char* from, const char* to) {
    return TransformManager::PairHistory{from, to, one, inverse};
  };
  const auto valid = [&] {
    Snapshot s;
    s.frames = {"A", "B", "C"};
    s.pairs = {pair("A", "B"), pair("C", "B")};
    return s;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<std::string, std::function<void(Snapshot&)>>> cases = {
      {"the frame B is listed twice", [](Snapshot& s) { s.frames.push_back("B"); }},
      {"the pair A in D names a frame that is not listed",
       [&](Snapshot& s) { s.pairs.push_back(pair("A", "D")); }},
      {"the pair C in C names one frame twice",
       [&](Snapshot& s) { s.pairs.push_back(pair("C", "C")); }},
      {"the pair B in A is listed twice", [&](Snapshot& s) { s.pairs.push_back(pair("B", "A")); }},
      {"the pair A in C would close a cycle",
       [&](Snapshot& s) { s.pairs.push_back(pair("A", "C")); }},
      {"the pair A in B has no sample",
       [](Snapshot& s) { s.pairs[0].poses.clear(), s.pairs[0].inverses.clear(); }},
      {"the pair C in B has a key that is not a number",
       [&](Snapshot& s) {
         s.pairs[1].poses = s.pairs[1].inverses = History{{nan, p}};
       }},
      {"the pair C in B holds different keys in its two directions",
       [&](Snapshot& s) { s.pairs[1].poses.emplace(5.0, p); }},
      {"the history window -1 is not a span of time", [](Snapshot& s) { s.historyWindow = -1.0; }},
      {"the history window nan is not a span of time", [&](Snapshot& s) { s.historyWindow = nan; }},
  };
  TransformManager manager;
  ASSERT_EQ(manager.restore(valid()), TransformManager::Success);
  manager.setOrigin("o", "A", p);
  const Snapshot before = manager.snapshot();
  for (const auto& [fault, spoil] : cases) {
    Snapshot bad = valid();
    spoil(bad);
    LogCapture capture;
    std::string reason;
    EXPECT_EQ(manager.restore(bad, &reason), TransformManager::Error) << fault;
    EXPECT_EQ(reason, fault);
    EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
              Texts{"Attempting to restore a snapshot in which " + fault +
                    ". The manager is unchanged."});
    expectSame(manager.snapshot(), before);
  }
}

}  // namespace
