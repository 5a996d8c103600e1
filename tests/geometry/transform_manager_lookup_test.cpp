// Lookups: result codes, composition along the path, sampling of one history and
// the blend of two poses.
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"

namespace {

using zelvane::Pose;
using zelvane::TransformManager;
using zelvane::testing::isIdentity;
using zelvane::testing::kWindow;
using zelvane::testing::LogCapture;
using zelvane::testing::makePose;
using zelvane::testing::managerMessages;
using zelvane::testing::poseOf;
using zelvane::testing::samePose;
using Method = TransformManager::InterpolationMethod;
using Result = TransformManager::TransformResult;
using Texts = std::vector<std::string>;

const std::string kInterpolatedWarning =
    "Transform time out of range using Interpolated.  Likely sensor data has come in before INS "
    "data. Using extrapolated or MostRecent may be better";

Texts traces(long time, long before, long after) {
  return {"Searching for pose with time " + std::to_string(time),
          "Pose before                  " + std::to_string(before),
          "Pose after                   " + std::to_string(after)};
}

// A pose that is visibly not the identity, to see that failures overwrite results.
Pose garbage() { return makePose(9, 9, 9, 2.0f, 99); }

// --- Result codes ------------------------------------------------------------

TEST(TransformManagerLookup, SameNameSucceedsWithIdentityEvenWhenUnregistered) {
  TransformManager manager;
  Pose pose = garbage();
  EXPECT_EQ(manager.getTransform("X", "X", 5, TransformManager::Interpolated, pose),
            TransformManager::Success);
  EXPECT_TRUE(isIdentity(pose));
}

TEST(TransformManagerLookup, FailuresReturnTheirCodeIdentityAndNoLog) {
  TransformManager empty;
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  manager.setTransform("C", "D", makePose(0, 1, 0), 0);
  struct Case {
    TransformManager* manager;
    const char* from;
    const char* to;
    Result expected;
  };
  const Case cases[] = {
      {&empty, "A", "B", TransformManager::NoFrames},
      {&manager, "A", "Q", TransformManager::NotFound},
      {&manager, "Q", "A", TransformManager::NotFound},
      {&manager, "A", "C", TransformManager::NotFound},  // different trees
      {&manager, "D", "B", TransformManager::NotFound},
  };
  LogCapture capture;
  for (const Case& c : cases) {
    for (const Method method : {TransformManager::MostRecent, TransformManager::Extrapolated,
                                TransformManager::Interpolated}) {
      Pose pose = garbage();
      EXPECT_EQ(c.manager->getTransform(c.from, c.to, 100, method, pose), c.expected)
          << c.from << " " << c.to;
      EXPECT_TRUE(isIdentity(pose));
    }
  }
  EXPECT_TRUE(capture.records().empty());
}

TEST(TransformManagerLookup, WindowCaseOnAPathGivesIdentityNotTheNewestSample) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 100);
  manager.setTransform("A", "B", makePose(2, 0, 0), 200);
  Pose pose = garbage();
  EXPECT_EQ(manager.getTransform("A", "B", 200 + kWindow + 1, TransformManager::Extrapolated, pose),
            TransformManager::OutOfRange);
  EXPECT_TRUE(isIdentity(pose));
}

TEST(TransformManagerLookup, ResultTimestampIsLatestOfRequestAndSamples) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0, 0, 7), 0);  // static, stamped 7
  manager.setTransform("B", "C", makePose(0, 1, 0), 100);
  manager.setTransform("B", "C", makePose(0, 2, 0), 200);
  Pose pose;
  manager.getTransform("A", "B", 3, TransformManager::Interpolated, pose);
  EXPECT_EQ(pose.timestamp, 7);
  manager.getTransform("A", "B", 10, TransformManager::Interpolated, pose);
  EXPECT_EQ(pose.timestamp, 10);
  manager.getTransform("A", "C", 150, TransformManager::Interpolated, pose);
  EXPECT_EQ(pose.timestamp, 150);
  manager.getTransform("A", "C", pose);  // MostRecent at 0: the newest samples
  EXPECT_EQ(pose.timestamp, 200);
}

// --- Composition -------------------------------------------------------------

TEST(TransformManagerLookup, ChainAppliesTheEdgeNextToTheTargetLast) {
  TransformManager manager;
  const Pose p = makePose({1, 2, 3}, {0, 1, 0}, 0.8f);    // A in B
  const Pose q = makePose({-2, 0, 1}, {1, 0, 1}, -1.1f);  // B in C
  manager.setTransform("A", "B", p, 0);
  manager.setTransform("B", "C", q, 0);
  Pose a_in_c, c_in_a;
  ASSERT_EQ(manager.getTransform("A", "C", a_in_c), TransformManager::Success);
  ASSERT_EQ(manager.getTransform("C", "A", c_in_a), TransformManager::Success);
  EXPECT_TRUE(samePose(a_in_c, poseOf(q.toTransform() * p.toTransform())));
  EXPECT_TRUE(samePose(c_in_a, poseOf((q.toTransform() * p.toTransform()).inverse())));
}

TEST(TransformManagerLookup, LongChainComposesInBothDirections) {
  // Long enough that one side of the path does not fit the lookup's inline buffer.
  TransformManager manager;
  Eigen::Matrix4f last_T_first = Eigen::Matrix4f::Identity();
  const int edges = 45;
  for (int i = 0; i < edges; ++i) {
    const Pose pose = makePose({0.1f * i, 1, 0}, {1, 0.5f * (i % 3), 1}, 0.05f * (i % 7) - 0.1f);
    manager.setTransform("F" + std::to_string(i), "F" + std::to_string(i + 1), pose, 0);
    last_T_first = pose.toTransform() * last_T_first;
  }
  const std::string last = "F" + std::to_string(edges);
  Pose forward, backward;
  ASSERT_EQ(manager.getTransform("F0", last, forward), TransformManager::Success);
  ASSERT_EQ(manager.getTransform(last, "F0", backward), TransformManager::Success);
  EXPECT_TRUE(samePose(forward, poseOf(last_T_first), 1e-3f));
  EXPECT_TRUE(samePose(backward, poseOf(last_T_first.inverse()), 1e-3f));
}

// The transform registered for every ordered pair, as the test's own record.
class RandomForest {
 public:
  explicit RandomForest(unsigned seed) : random_(seed) {}

  // Frames F0..F(n-1); each Fi (i > 0) joins a random earlier frame unless the
  // link is dropped, which splits the graph into several trees. Edges are registered
  // in random order and direction, so that trees of all sizes get joined.
  void build(TransformManager& manager, int frames) {
    frames_ = frames;
    std::vector<std::pair<int, int>> links;
    std::uniform_int_distribution<int> drop(0, 9);
    for (int i = 1; i < frames; ++i) {
      if (drop(random_) == 0) continue;
      links.emplace_back(i, std::uniform_int_distribution<int>(0, i - 1)(random_));
    }
    std::shuffle(links.begin(), links.end(), random_);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (auto [a, b] : links) {
      if (unit(random_) < 0.0f) std::swap(a, b);
      const Pose pose =
          makePose({5 * unit(random_), 5 * unit(random_), 5 * unit(random_)},
                   {unit(random_), unit(random_), unit(random_) + 1.5f}, 3.1f * unit(random_));
      manager.setTransform(name(a), name(b), pose, 0);
      b_T_a_[{a, b}] = pose.toTransform();
      b_T_a_[{b, a}] = pose.toTransform().inverse();
    }
  }

  // to_T_from by a search of the test's own record, and the number of edges on the
  // path; -1 when the frames are not connected.
  int expected(int from, int to, Eigen::Matrix4f& to_T_from) const {
    std::vector<int> previous(frames_, -1);
    std::queue<int> open;
    open.push(from);
    previous[from] = from;
    while (!open.empty()) {
      const int frame = open.front();
      open.pop();
      for (const auto& [pair, transform] : b_T_a_) {
        if (pair.first == frame && previous[pair.second] < 0) {
          previous[pair.second] = frame;
          open.push(pair.second);
        }
      }
    }
    if (previous[to] < 0) return -1;
    to_T_from = Eigen::Matrix4f::Identity();
    int edges = 0;
    for (int frame = to; frame != from; frame = previous[frame]) {
      to_T_from = to_T_from * b_T_a_.at({previous[frame], frame});
      ++edges;
    }
    return edges;
  }

  static std::string name(int frame) { return "F" + std::to_string(frame); }

 private:
  std::mt19937 random_;
  int frames_ = 0;
  std::map<std::pair<int, int>, Eigen::Matrix4f> b_T_a_;
};

TEST(TransformManagerLookup, EqualsProductOfRegisteredTransformsAlongThePath) {
  for (const unsigned seed : {7u, 2024u, 31337u}) {
    TransformManager manager;
    RandomForest forest(seed);
    forest.build(manager, 30);
    int connected = 0;
    for (int from = 0; from < 30; ++from) {
      for (int to = 0; to < 30; ++to) {
        if (from == to || !manager.hasFrame(RandomForest::name(from)) ||
            !manager.hasFrame(RandomForest::name(to))) {
          continue;
        }
        Eigen::Matrix4f to_T_from;
        Pose pose;
        const Result result =
            manager.getTransform(RandomForest::name(from), RandomForest::name(to), pose);
        const int edges = forest.expected(from, to, to_T_from);
        EXPECT_EQ(
            manager.indirectConnectionExists(RandomForest::name(from), RandomForest::name(to)),
            edges >= 2)
            << from << " " << to;
        if (edges < 0) {
          EXPECT_EQ(result, TransformManager::NotFound) << from << " " << to;
          continue;
        }
        ++connected;
        ASSERT_EQ(result, TransformManager::Success) << from << " " << to;
        EXPECT_TRUE(samePose(pose, poseOf(to_T_from), 2e-3f)) << seed << ": " << from << " " << to;
      }
    }
    EXPECT_GT(connected, 100) << seed;  // the forest is not trivially split
  }
}

// --- Sampling along a path ---------------------------------------------------

TEST(TransformManagerLookup, SamplesEdgesFromTheTargetEndBackToTheSource) {
  // Chain F0 - F1 - F2 - F3 - F4, registered from the middle outwards so that the
  // path between two frames can run up and down; edge i holds samples at 10i + 100
  // and 10i + 200, which tells its trace records apart.
  TransformManager manager;
  const std::vector<int> order = {2, 1, 3, 0};
  for (const int i : order) {
    for (const long t : {10L * i + 100, 10L * i + 200}) {
      manager.setTransform("F" + std::to_string(i), "F" + std::to_string(i + 1),
                           makePose(static_cast<float>(t), 0, 0), t);
    }
  }
  const long time = 150;
  for (int from = 0; from < 5; ++from) {
    for (int to = 0; to < 5; ++to) {
      if (from == to) continue;
      Texts expected;
      const int step = from < to ? 1 : -1;
      for (int cur = to; cur != from; cur -= step) {
        const int edge = std::min(cur, cur - step);
        const Texts edge_traces = traces(time, 10L * edge + 100, 10L * edge + 200);
        expected.insert(expected.end(), edge_traces.begin(), edge_traces.end());
      }
      LogCapture capture;
      Pose pose;
      ASSERT_EQ(manager.getTransform("F" + std::to_string(from), "F" + std::to_string(to), time,
                                     TransformManager::Extrapolated, pose),
                TransformManager::Success);
      EXPECT_EQ(managerMessages(capture, Logger::TRACE_LEVEL), expected) << from << " " << to;
    }
  }
}

TEST(TransformManagerLookup, FirstFailingEdgeFromTheTargetEndStopsTheLookup) {
  // A - B has samples at 300 and 400 (250 is before them: refused silently);
  // B - C has samples at 100 and 200 (250 is past them: refused after tracing).
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 300);
  manager.setTransform("A", "B", makePose(2, 0, 0), 400);
  manager.setTransform("B", "C", makePose(0, 1, 0), 100);
  manager.setTransform("B", "C", makePose(0, 2, 0), 200);

  LogCapture capture;
  Pose pose;
  EXPECT_EQ(manager.getTransform("A", "C", 250, TransformManager::Interpolated, pose),
            TransformManager::OutOfRange);
  EXPECT_EQ(managerMessages(capture, Logger::TRACE_LEVEL), traces(250, 100, 200));
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL), Texts{kInterpolatedWarning});

  capture.clear();
  EXPECT_EQ(manager.getTransform("C", "A", 250, TransformManager::Interpolated, pose),
            TransformManager::OutOfRange);
  EXPECT_TRUE(capture.records().empty());
}

// --- One history -------------------------------------------------------------

TEST(TransformManagerPoseMap, SamplesOneHistoryAtATime) {
  const Pose s0 = makePose(1, 1, 1, 0.3f, 0);
  const Pose s100 = makePose(10, 0, 0, 0.0f, 100);
  const Pose s200 = makePose(20, 0, 0, 1.0f, 200);
  const std::map<double, Pose> two = {{100.0, s100}, {200.0, s200}};
  const std::map<double, Pose> one = {{100.0, s100}};
  const std::map<double, Pose> fixed = {{0.0, s0}};
  const std::map<double, Pose> close = {{100.25, s100}, {100.75, s200}};
  const std::map<double, Pose> none;

  enum Expect { IDENTITY, S0, S100, S200, BLEND, UNCHECKED };
  struct Case {
    const std::map<double, Pose>* poses;
    long time;
    Method method;
    Result result;
    Expect expect;
    float ratio;  // for BLEND
    Texts traces;
    bool warning;
  };
  const Method most = TransformManager::MostRecent;
  const Method extra = TransformManager::Extrapolated;
  const Method inter = TransformManager::Interpolated;
  const Result ok = TransformManager::Success;
  const Result range = TransformManager::OutOfRange;
  const Case cases[] = {
      {&two, 150, extra, ok, BLEND, 0.5f, traces(150, 100, 200), false},
      {&two, 150, inter, ok, BLEND, 0.5f, traces(150, 100, 200), false},
      {&two, 125, inter, ok, BLEND, 0.25f, traces(125, 100, 200), false},
      {&two, 200, inter, ok, S200, 0, {}, false},
      {&two, 100, extra, ok, S100, 0, {}, false},
      {&two, 50, extra, range, IDENTITY, 0, {}, false},
      {&two, 50, inter, range, IDENTITY, 0, {}, false},
      {&two, 250, extra, ok, BLEND, 1.5f, traces(250, 100, 200), false},
      {&two, 250, inter, range, IDENTITY, 0, traces(250, 100, 200), true},
      // Exactly one window past the newest sample is still extrapolated.
      {&two, 200 + kWindow, extra, ok, UNCHECKED, 0, traces(200 + kWindow, 100, 200), false},
      {&two, 200 + kWindow + 1, extra, range, S200, 0, {}, false},
      {&two, 200 + kWindow + 1, inter, range, S200, 0, {}, false},
      {&two, 50, most, ok, S200, 0, {}, false},
      {&two, 1000000, most, ok, S200, 0, {}, false},
      {&one, 100, inter, ok, S100, 0, {}, false},
      {&one, 150, inter, ok, S100, 0, traces(150, 100, 100), false},
      {&one, 50, extra, range, IDENTITY, 0, {}, false},
      {&fixed, -5, inter, ok, S0, 0, {}, false},
      {&fixed, 0, extra, ok, S0, 0, {}, false},
      {&fixed, 1000000000000, inter, ok, S0, 0, {}, false},
      {&fixed, 7, most, ok, S0, 0, {}, false},
      // Keys less than one time unit apart: no division by a zero span.
      {&close, 101, extra, ok, S200, 0, traces(101, 100, 100), false},
      {&none, 100, most, TransformManager::NotFound, IDENTITY, 0, {}, false},
  };

  TransformManager manager;
  for (const Case& c : cases) {
    SCOPED_TRACE("time " + std::to_string(c.time) + " method " + std::to_string(c.method));
    LogCapture capture;
    Pose pose = garbage();
    EXPECT_EQ(manager.getTransformFromPoseMap(*c.poses, c.time, c.method, pose), c.result);
    switch (c.expect) {
      case IDENTITY: EXPECT_TRUE(isIdentity(pose)); break;
      case S0: EXPECT_TRUE(samePose(pose, s0)); break;
      case S100: EXPECT_TRUE(samePose(pose, s100)); break;
      case S200: EXPECT_TRUE(samePose(pose, s200)); break;
      case BLEND: {
        // Positions linear, orientation about z linear in yaw, timestamp blended.
        const Pose expected = makePose(10 + 10 * c.ratio, 0, 0, c.ratio);
        EXPECT_TRUE(samePose(pose, expected, 1e-3f * std::max(1.0f, c.ratio)));
        EXPECT_EQ(pose.timestamp, 100 + static_cast<std::int64_t>(100.0 * c.ratio));
        break;
      }
      case UNCHECKED: break;
    }
    if (c.expect == S0 || c.expect == S100 || c.expect == S200) {
      EXPECT_EQ(pose.timestamp, c.expect == S0 ? s0.timestamp : c.expect == S100 ? 100 : 200);
    }
    EXPECT_EQ(managerMessages(capture, Logger::TRACE_LEVEL), c.traces);
    EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
              c.warning ? Texts{kInterpolatedWarning} : Texts{});
  }
}

TEST(TransformManagerPoseMap, TracePrefixesShareOneWidth) {
  for (const std::string& text : traces(0, 0, 0)) EXPECT_EQ(text.size(), 30u) << text;
}

// --- Blending two poses ------------------------------------------------------

TEST(TransformManagerInterpolate, EndsOfTheRatioGiveTheTwoPoses) {
  TransformManager manager;
  const Pose first = makePose({1, 2, 3}, {1, 0, 0}, 0.4f);
  const Pose second = makePose({-4, 0, 8}, {0, 1, 1}, -0.9f);
  EXPECT_TRUE(samePose(manager.interpolateTransform(first, second, 0.0f), first, 1e-6f));
  EXPECT_TRUE(samePose(manager.interpolateTransform(first, second, 1.0f), second, 1e-6f));
}

TEST(TransformManagerInterpolate, OrientationTakesTheShorterArc) {
  TransformManager manager;
  Pose first = makePose(0, 0, 0, 0.0f);
  Pose second = makePose(0, 0, 0, 1.2f);
  second.orientation.coeffs() = -second.orientation.coeffs();  // same rotation, other sign
  const Pose half = manager.interpolateTransform(first, second, 0.5f);
  EXPECT_TRUE(samePose(half, makePose(0, 0, 0, 0.6f)));
}

TEST(TransformManagerInterpolate, TimestampKeepsEveryDigitAndTruncatesTowardZero) {
  struct Case {
    std::int64_t first;
    std::int64_t second;
    float ratio;
    std::int64_t expected;
  };
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  const Case cases[] = {
      {1700000000000000000, 1700000000000001000, 0.5f, 1700000000000000500},
      {1700000000000000000, 1700000000000001000, 1.5f, 1700000000000001500},
      {-1700000000000001000, -1700000000000000000, 0.25f, -1700000000000000750},
      {100, 200, 0.5f, 150},
      {0, 3, 0.5f, 1},    // 1.5
      {3, 0, 0.5f, 1},    // 1.5
      {-3, 0, 0.5f, -1},  // -1.5
      {0, -3, 0.5f, -1},  // -1.5
      {1, -2, 0.5f, 0},   // -0.5
      {0, kMax, 2.0f, kMax},
      {0, kMin, 2.0f, kMin},
      {kMin, kMax, 0.5f, 0},
  };
  TransformManager manager;
  for (const Case& c : cases) {
    EXPECT_EQ(manager
                  .interpolateTransform(makePose(0, 0, 0, 0, c.first),
                                        makePose(0, 0, 0, 0, c.second), c.ratio)
                  .timestamp,
              c.expected)
        << c.first << " " << c.second << " " << c.ratio;
  }
}

}  // namespace
