#include "track/tracker.h"

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/tolerance.h"

namespace {

using namespace zelvane::track;
using zelvane::core::AssociationMetric;
using zelvane::core::State;
using zelvane::testing::PI;

Detection detectionAt(double x, double y, double heading, float score = 1.0f,
                      std::size_t classIndex = 0) {
  Detection d;
  d.box = State::box(Eigen::Vector3f(float(x), float(y), 0.0f), float(heading), 4.0f, 2.0f, 1.5f);
  d.score = score;
  d.classIndex = classIndex;
  d.imageBox = {x, y, x + 10, y + 20};
  return d;
}

ClassParameters carClass() {
  ClassParameters car;
  car.name = "Car";
  car.metric = AssociationMetric::Overlap;
  car.threshold = 0.1;
  return car;
}

// What each frame of a run reports: the ids, as "-" for none or "0", "0 1", ...
std::string idsOf(const std::vector<TrackedBox>& boxes) {
  if (boxes.empty()) return "-";
  std::string text;
  for (const TrackedBox& b : boxes) text += (text.empty() ? "" : " ") + std::to_string(b.record.id);
  return text;
}

TEST(Tracker, StartsConfirmsCoastsAndEndsTracksAsParametrised) {
  // One object standing still, detected in the frames marked 'x'; each row lists what
  // every frame reports.
  struct Case {
    const char* name;
    const char* seen;
    int maxMisses, maxTentativeMisses, coastingFrames;
    bool tentativeInFirstFrames;
    std::vector<std::string> reported;
  };
  const Case cases[] = {
      {"tentative tracks reported in the first frames",
       "xxxx",
       2,
       0,
       0,
       true,
       {"0", "0", "0", "0"}},
      {"not reported until confirmed when not asked to",
       "xxxx",
       2,
       0,
       0,
       false,
       {"-", "-", "0", "0"}},
      {"after the first frames, reported once confirmed",
       "....xxxx",
       2,
       0,
       0,
       true,
       {"-", "-", "-", "-", "-", "-", "0", "0"}},
      {"coasts through two misses and resumes",
       "xxx..x",
       2,
       0,
       0,
       true,
       {"0", "0", "0", "-", "-", "0"}},
      {"ends after three misses; a new id follows",
       "xxx...xxxx",
       2,
       0,
       0,
       true,
       {"0", "0", "0", "-", "-", "-", "-", "-", "1", "1"}},
      {"a coasting track reported for one frame",
       "xxx..x",
       2,
       0,
       1,
       true,
       {"0", "0", "0", "0", "-", "0"}},
      {"a tentative track ends at its first miss",
       "....x.xxx",
       2,
       0,
       0,
       true,
       {"-", "-", "-", "-", "-", "-", "-", "-", "1"}},
      {"or survives the misses allowed",
       "....x.xx",
       2,
       1,
       0,
       true,
       {"-", "-", "-", "-", "-", "-", "-", "0"}},
  };
  for (const Case& c : cases) {
    ClassParameters car = carClass();
    car.maxMisses = c.maxMisses;
    car.maxTentativeMisses = c.maxTentativeMisses;
    car.output.coastingFrames = c.coastingFrames;
    car.output.tentativeInFirstFrames = c.tentativeInFirstFrames;
    Tracker tracker({car});
    std::vector<std::string> reported;
    for (std::size_t f = 0; c.seen[f] != '\0'; ++f) {
      std::vector<Detection> frame;
      if (c.seen[f] == 'x') frame.push_back(detectionAt(10, 5, 0.3));
      const std::vector<TrackedBox> boxes = tracker.step(0.1 * double(f), frame);
      reported.push_back(idsOf(boxes));
      for (const TrackedBox& b : boxes) {
        // A matched track carries its detection, a coasting one none.
        EXPECT_EQ(b.detection, c.seen[f] == 'x' ? 0 : NO_DETECTION) << c.name << " frame " << f;
        EXPECT_EQ(b.record.misses, c.seen[f] == 'x' ? 0 : 1) << c.name << " frame " << f;
      }
    }
    EXPECT_EQ(reported, c.reported) << c.name;
  }
}

TEST(Tracker, IdsAreNeverReusedAndDetectionsBelowTheBirthScoreStartNothing) {
  ClassParameters car = carClass();
  car.birthScore = 0.5f;
  car.confirmHits = 1;
  car.maxMisses = 0;
  Tracker tracker({car});
  // A faint detection starts nothing; a sure one does, and the faint one then updates it.
  EXPECT_EQ(idsOf(tracker.step(0.0, {detectionAt(0, 0, 0, 0.2f)})), "-");
  EXPECT_EQ(idsOf(tracker.step(0.1, {detectionAt(0, 0, 0, 0.9f)})), "0");
  const auto faint = tracker.step(0.2, {detectionAt(0, 0, 0, 0.2f)});
  ASSERT_EQ(idsOf(faint), "0");
  EXPECT_EQ(faint[0].score, 0.2f);
  EXPECT_EQ(faint[0].record.hits, 2);
  // Two objects; the first ends, the next object takes a new id, never 0 again.
  EXPECT_EQ(idsOf(tracker.step(0.3, {detectionAt(0, 0, 0), detectionAt(30, 0, 0)})), "0 1");
  EXPECT_EQ(idsOf(tracker.step(0.4, {detectionAt(30, 0, 0)})), "1");
  EXPECT_EQ(idsOf(tracker.step(0.5, {detectionAt(30, 0, 0), detectionAt(0, 0, 0)})), "1 2");
}

TEST(Tracker, FollowsMotionOverUnevenTimeSteps) {
  // An object at 12 m/s along a heading near pi, seen at uneven times: the time steps
  // come from the stamps, so the velocity settles on the truth.
  for (const MotionModelKind model :
       {MotionModelKind::ConstantVelocity, MotionModelKind::ConstantTurnRate}) {
    ClassParameters car = carClass();
    car.motionModel = model;
    Tracker tracker({car});
    const double heading = PI - 0.02;
    const double vx = 12 * std::cos(heading), vy = 12 * std::sin(heading);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> step(0.03, 0.3);
    double t = 0.0;
    std::vector<TrackedBox> boxes;
    for (int f = 0; f < 40; ++f) {
      boxes = tracker.step(t, {detectionAt(vx * t, vy * t, heading)});
      t += step(rng);
    }
    ASSERT_EQ(idsOf(boxes), "0");
    const State& s = boxes[0].state;
    EXPECT_NEAR(s.velocity->mean.x(), vx, 0.05);
    EXPECT_NEAR(s.velocity->mean.y(), vy, 0.05);
    EXPECT_NEAR(std::remainder(s.heading->mean - heading, 2 * PI), 0.0, 0.01);
    EXPECT_GT(s.heading->mean, 0.0f);  // wrapped into (-pi, pi], not past it
  }
}

TEST(Tracker, ReadsFlippedDetectionsAsTheSameBox) {
  // A car heading along pi (across the seam), every third detection the other way round
  // and the headings jittered across +-pi: one track, its heading kept, no half turn.
  for (const MotionModelKind model :
       {MotionModelKind::ConstantVelocity, MotionModelKind::ConstantTurnRate}) {
    ClassParameters car = carClass();
    car.motionModel = model;
    Tracker tracker({car});
    std::mt19937 rng(9);
    std::normal_distribution<double> jitter(0.0, 0.03);
    for (int f = 0; f < 60; ++f) {
      const double t = 0.1 * f;
      double heading = PI + jitter(rng);
      if (f % 3 == 1) heading += PI;
      const auto boxes =
          tracker.step(t, {detectionAt(-8.0 * t, 0.0, std::remainder(heading, 2 * PI))});
      ASSERT_EQ(idsOf(boxes), "0") << f;
      const State& s = boxes[0].state;
      EXPECT_NEAR(std::remainder(s.heading->mean - PI, 2 * PI), 0.0, 0.1) << f;
      if (f > 10) {
        EXPECT_NEAR(s.velocity->mean.x(), -8.0, 0.3) << f;
      }
    }
  }
}

TEST(Tracker, KeepsClassesApart) {
  ClassParameters pedestrian = carClass();
  pedestrian.name = "Pedestrian";
  Tracker tracker({carClass(), pedestrian});
  // A car and a pedestrian box in the same place: one track each, each updated by its
  // own class only.
  for (int f = 0; f < 4; ++f) {
    const auto boxes =
        tracker.step(0.1 * f, {detectionAt(0, 0, 0, 1.0f, 1), detectionAt(0, 0, 0, 1.0f, 0)});
    ASSERT_EQ(idsOf(boxes), "0 1");
    EXPECT_EQ(boxes[0].record.classIndex, 0u);
    EXPECT_EQ(boxes[0].detection, 1u);
    EXPECT_EQ(boxes[1].record.classIndex, 1u);
    EXPECT_EQ(boxes[1].detection, 0u);
    EXPECT_EQ(boxes[1].record.imageBox.right, 10.0);
  }
}

TEST(Tracker, RefusesBadFramesAndChangesNothing) {
  Tracker tracker({carClass()});
  tracker.step(1.0, {detectionAt(0, 0, 0)});
  const auto before = tracker.snapshot();
  Detection noHeading = detectionAt(0, 0, 0);
  noHeading.box.heading.reset();
  Detection nanScore = detectionAt(0, 0, 0);
  nanScore.score = std::numeric_limits<float>::quiet_NaN();
  const struct {
    double time;
    Detection detection;
  } cases[] = {{0.5, detectionAt(0, 0, 0)},
               {std::numeric_limits<double>::quiet_NaN(), detectionAt(0, 0, 0)},
               {std::numeric_limits<double>::infinity(), detectionAt(0, 0, 0)},
               {2.0, detectionAt(0, 0, 0, 1.0f, 1)},
               {2.0, noHeading},
               {2.0, nanScore}};
  for (const auto& c : cases) {
    EXPECT_THROW(tracker.step(c.time, {detectionAt(1, 0, 0), c.detection}), std::invalid_argument);
    const auto after = tracker.snapshot();
    EXPECT_EQ(after.frames, before.frames);
    EXPECT_EQ(after.time, before.time);
    ASSERT_EQ(after.tracks.size(), 1u);
    EXPECT_EQ(after.tracks[0].estimate.x, before.tracks[0].estimate.x);
  }
  // The same time again is a frame (no time passes).
  EXPECT_NO_THROW(tracker.step(1.0, {detectionAt(0, 0, 0)}));
}

TEST(Tracker, RefusesBadParameters) {
  const struct {
    const char* what;
    void (*spoil)(ClassParameters&);
  } cases[] = {
      {"negative process noise",
       [](ClassParameters& c) { c.constantVelocity.accelerationNoise = -1; }},
      {"NaN process noise",
       [](ClassParameters& c) { c.constantTurnRate.turnAccelerationNoise = NAN; }},
      {"zero measurement noise", [](ClassParameters& c) { c.measurementNoise.heading = 0; }},
      {"negative overlap threshold", [](ClassParameters& c) { c.threshold = -0.1; }},
      {"infinite distance gate",
       [](ClassParameters& c) {
         c.metric = AssociationMetric::Distance;
         c.threshold = INFINITY;
       }},
      {"no hit to confirm", [](ClassParameters& c) { c.confirmHits = 0; }},
      {"negative misses", [](ClassParameters& c) { c.maxMisses = -1; }},
      {"negative coasting", [](ClassParameters& c) { c.output.coastingFrames = -2; }},
      {"NaN birth score", [](ClassParameters& c) { c.birthScore = NAN; }},
  };
  for (const auto& c : cases) {
    ClassParameters car = carClass();
    c.spoil(car);
    EXPECT_THROW(Tracker({car}), std::invalid_argument) << c.what;
  }
  EXPECT_THROW(Tracker(std::vector<ClassParameters>{}), std::invalid_argument);
  EXPECT_THROW(Tracker({carClass(), carClass()}), std::invalid_argument);
}

TEST(Tracker, ResumesFromASnapshotExactly) {
  ClassParameters turning = carClass();
  turning.name = "Turning";
  turning.motionModel = MotionModelKind::ConstantTurnRate;
  Tracker tracker({carClass(), turning});
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 0.2);
  auto frame = [&](int f) {
    std::vector<Detection> detections;
    for (int k = 0; k < 6; ++k) {
      if ((f + k) % 5 == 0) continue;  // a few misses
      detections.push_back(detectionAt(8 * k + 0.5 * f + noise(rng), 3 * k + noise(rng),
                                       0.2 * k + noise(rng), 1.0f, std::size_t(k % 2)));
    }
    return detections;
  };
  for (int f = 0; f < 10; ++f) tracker.step(0.1 * f, frame(f));
  Tracker resumed(tracker.snapshot());
  for (int f = 10; f < 20; ++f) {
    const auto detections = frame(f);
    const auto a = tracker.step(0.1 * f, detections);
    const auto b = resumed.step(0.1 * f, detections);
    ASSERT_EQ(idsOf(a), idsOf(b));
    for (std::size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].state.position->mean, b[i].state.position->mean);
      EXPECT_EQ(a[i].state.position->covariance, b[i].state.position->covariance);
      EXPECT_EQ(a[i].record.hits, b[i].record.hits);
    }
  }
  // A snapshot whose tracks break its own rules is refused.
  Tracker::Snapshot broken = tracker.snapshot();
  ASSERT_GE(broken.tracks.size(), 2u);
  std::swap(broken.tracks[0], broken.tracks[1]);
  EXPECT_THROW(Tracker{broken}, std::invalid_argument);
  broken = tracker.snapshot();
  broken.nextId = broken.tracks.back().record.id;
  EXPECT_THROW(Tracker{broken}, std::invalid_argument);
}

}  // namespace
