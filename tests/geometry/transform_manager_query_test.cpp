// The queries beside the plain lookup: between two times through a fixed frame, the
// times at which interpolation succeeds, the list of edges, and the notification after
// each registration.
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "settings_manager.h"

namespace zelvane {
// Found by argument-dependent lookup from the vector comparisons below.
bool operator==(const TransformManager::EdgeSummary& a, const TransformManager::EdgeSummary& b) {
  return a.from == b.from && a.to == b.to && a.isStatic == b.isStatic && a.samples == b.samples &&
         a.oldest == b.oldest && a.newest == b.newest;
}
}  // namespace zelvane

namespace {

using namespace zelvane::testing;

constexpr long kMin = std::numeric_limits<long>::min();
constexpr long kMax = std::numeric_limits<long>::max();

// Body drives along x at 0.1 m per time unit and turns 0.005 rad per unit, sampled at
// 100, 200 and 300; a lidar sits still on it.
const Pose kLidarInBody = makePose(V(1.5f, 0.2f, 1.8f), 0.3f, V(0, 1, 0));

Eigen::Matrix4d bodyInGlobal(double t) {
  Eigen::Affine3d pose(Eigen::AngleAxisd(0.005 * (t - 100), Eigen::Vector3d::UnitZ()));
  pose.translation() = Eigen::Vector3d(0.1 * (t - 100), 0, 0);
  return pose.matrix();
}

void drive(TransformManager& manager) {
  manager.setTransform("Lidar", "Body", kLidarInBody, 0);
  for (const long t : {100L, 200L, 300L}) {
    const Eigen::Matrix4f g_T_b = bodyInGlobal(static_cast<double>(t)).cast<float>();
    manager.setTransform("Body", "Global", poseOf(g_T_b), t);
  }
}

TEST(TransformManagerFixedFrame, PlacesWhatWasSeenAtOneTimeInAFrameOfAnotherTime) {
  TransformManager manager;
  drive(manager);
  const Eigen::Matrix4d b_T_l = kLidarInBody.toTransform().cast<double>();
  for (const auto& [t1, t2] :
       {std::pair{100L, 300L}, std::pair{300L, 200L}, std::pair{200L, 200L}}) {
    Pose pose;  // at sample times: against the motion itself, in double precision
    ASSERT_EQ(
        manager.getTransformThroughFixedFrame("Lidar", t1, "Body", t2, "Global", kInter, pose),
        TransformManager::Success);
    const Eigen::Matrix4d expected = bodyInGlobal(t2).inverse() * bodyInGlobal(t1) * b_T_l;
    EXPECT_TRUE(samePose(pose, poseOf(Eigen::Matrix4f(expected.cast<float>())), COMPOSED_TOLERANCE))
        << t1 << " " << t2;
    EXPECT_EQ(pose.timestamp, t2);
  }
  for (const auto& [t1, t2] : {std::pair{120L, 180L}, std::pair{250L, 110L}}) {
    Pose pose, body_T_global, global_T_lidar;  // between them: each direction interpolates
    ASSERT_EQ(
        manager.getTransformThroughFixedFrame("Lidar", t1, "Body", t2, "Global", kInter, pose),
        TransformManager::Success);
    ASSERT_EQ(manager.getTransform("Global", "Body", t2, kInter, body_T_global),
              TransformManager::Success);
    ASSERT_EQ(manager.getTransform("Lidar", "Global", t1, kInter, global_T_lidar),
              TransformManager::Success);
    EXPECT_TRUE(samePose(pose, poseOf(body_T_global.toTransform() * global_T_lidar.toTransform())))
        << t1 << " " << t2;
    EXPECT_EQ(pose.timestamp, t2);
  }
  // A fixed frame equal to an end makes that half the identity.
  for (const auto& [from, t1, to, t2] :
       {std::tuple{"Lidar", 150L, "Global", 999L}, std::tuple{"Global", 999L, "Lidar", 150L}}) {
    Pose through, direct;
    ASSERT_EQ(manager.getTransformThroughFixedFrame(from, t1, to, t2, "Global", kInter, through),
              TransformManager::Success);
    ASSERT_EQ(manager.getTransform(from, to, 150, kInter, direct), TransformManager::Success);
    EXPECT_TRUE(samePose(through, direct, 0.0f)) << from;
    EXPECT_EQ(through.timestamp, t2);
  }
}

// Each form of the call gives the code of the first half that fails (the half from
// `from` into the fixed frame first), says which half it was, and gives the identity.
TEST(TransformManagerFixedFrame, FirstFailingHalfGivesItsCodeTheHalfAndTheIdentity) {
  TransformManager empty;
  TransformManager manager;
  drive(manager);
  manager.setTransform("X", "Y", makePose(V(1, 0, 0)), 0);
  constexpr auto kFrom = TransformManager::FromInFixed;
  constexpr auto kTo = TransformManager::FixedInTo;
  const struct {
    TransformManager* target;
    const char* from;
    long t1;
    const char* to;
    long t2;
    const char* fixed;
    Result code;
    TransformManager::FixedFrameHalf half;
  } cases[] = {
      {&manager, "Lidar", 100, "Body", 300, "Global", TransformManager::Success,
       TransformManager::NoHalf},
      {&empty, "Lidar", 150, "Body", 150, "Global", TransformManager::NoFrames, kFrom},
      {&manager, "Nowhere", 150, "Body", 150, "Global", TransformManager::NotFound, kFrom},
      {&manager, "Lidar", 150, "Body", 150, "Nowhere", TransformManager::NotFound, kFrom},
      {&manager, "Lidar", 150, "X", 150, "Global", TransformManager::NotFound, kTo},  // apart
      {&manager, "Lidar", 100, "Nowhere", 100, "Global", TransformManager::NotFound, kTo},
      {&manager, "Lidar", 50, "Body", 150, "Global", TransformManager::OutOfRange, kFrom},
      {&manager, "Lidar", 50, "Body", 50, "Global", TransformManager::OutOfRange, kFrom},
      {&manager, "Lidar", 150, "Body", 350, "Global", TransformManager::OutOfRange, kTo},
      {&manager, "Lidar", 100, "Body", 50, "Global", TransformManager::OutOfRange, kTo},
      {&manager, "Lidar", 50, "Nowhere", 150, "Global", TransformManager::OutOfRange, kFrom},
      {&manager, "Nowhere", 150, "Body", 350, "Global", TransformManager::NotFound, kFrom},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.from << "@" << c.t1 << " " << c.to << "@" << c.t2 << " via " << c.fixed);
    Pose pose = makePose(V(9, 9, 9), 1.0f, V::UnitZ(), 9);
    EXPECT_EQ(
        c.target->getTransformThroughFixedFrame(c.from, c.t1, c.to, c.t2, c.fixed, kInter, pose),
        c.code);
    EXPECT_TRUE(c.code == TransformManager::Success || isIdentity(pose));
    auto half = c.half == kTo ? kFrom : kTo;  // the other, so that it must be written
    static_cast<void>(c.target->getTransformThroughFixedFrame(c.from, c.t1, c.to, c.t2, c.fixed,
                                                              kInter, pose, half));
    EXPECT_EQ(half, c.half);
  }
}

TEST(TransformManagerTimeSpan, IsWhereInterpolatedLookupsSucceed) {
  // A-B sampled 100..300, B-C 200..500, C-D static, D-E a single sample at 1000, and
  // F-G sampled 700..800, apart from the rest.
  TransformManager manager;
  for (const long t : {100L, 200L, 300L}) manager.setTransform("A", "B", makePose(V(t, 0, 0)), t);
  for (const long t : {200L, 350L, 500L}) manager.setTransform("C", "B", makePose(V(0, t, 0)), t);
  manager.setTransform("C", "D", makePose(V(0, 0, 1)), 0);
  manager.setTransform("E", "D", makePose(V(0, 0, 2)), 1000);
  manager.setTransform("F", "G", makePose(V(1, 0, 0)), 700);
  manager.setTransform("F", "G", makePose(V(2, 0, 0)), 800);
  ASSERT_EQ(manager.setHistoryWindow(60), TransformManager::Success);  // staleness of D-E
  struct Case {
    const char* from;
    const char* to;
    Result result;
    long oldest;
    long newest;
  };
  const Case cases[] = {
      {"A", "B", TransformManager::Success, 100, 300},
      {"B", "A", TransformManager::Success, 100, 300},
      {"A", "C", TransformManager::Success, 200, 300},
      {"D", "A", TransformManager::Success, 200, 300},  // the static edge does not limit
      {"C", "D", TransformManager::Success, kMin, kMax},
      {"A", "A", TransformManager::Success, kMin, kMax},
      {"E", "D", TransformManager::Success, 1000, 1060},  // one sample, one window on
      {"E", "C", TransformManager::Success, 1000, 1060},
      {"E", "B", TransformManager::OutOfRange, -1, -1},  // 200..500 and 1000..1060
      {"A", "F", TransformManager::NotFound, -1, -1},
      {"A", "Q", TransformManager::NotFound, -1, -1},
  };
  for (const Case& c : cases) {
    long oldest = -1;
    long newest = -1;
    ASSERT_EQ(manager.getCommonTimeSpan(c.from, c.to, oldest, newest), c.result) << c.from << c.to;
    EXPECT_EQ(oldest, c.oldest) << c.from << c.to;
    EXPECT_EQ(newest, c.newest) << c.from << c.to;
    if (c.result == TransformManager::NotFound || std::string(c.from) == c.to) continue;
    for (long t = 0; t <= 1200; ++t) {  // the span is exactly where lookups succeed
      Pose pose;
      const bool inside = c.result == TransformManager::Success && oldest <= t && t <= newest;
      EXPECT_EQ(manager.getTransform(c.from, c.to, t, kInter, pose) == TransformManager::Success,
                inside)
          << c.from << c.to << " at " << t;
    }
  }
  long oldest = -1;
  long newest = -1;
  EXPECT_EQ(TransformManager().getCommonTimeSpan("A", "B", oldest, newest),
            TransformManager::NoFrames);
}

TEST(TransformManagerEdges, ListsEachPairOnceAsFirstRegistered) {
  constexpr long kNs = 1700000000123456789L;
  TransformManager manager;  // frames in order: Sensor, Body, Global, Wheel
  EXPECT_TRUE(manager.getEdges().empty());
  manager.setTransform("Sensor", "Body", makePose(V(1, 0, 0)), 0);
  manager.setTransform("Body", "Global", makePose(V(0, 0, 0)), kNs);
  manager.setTransform("Global", "Body", makePose(V(1, 0, 0)), kNs + 500);  // the same pair
  manager.setTransform("Body", "Global", makePose(V(2, 0, 0)), kNs + 1000);
  manager.setTransform("Body", "Wheel", makePose(V(0, 1, 0)), 0);     // Body given in Wheel
  manager.setTransform("Sensor", "Global", makePose(V(0, 1, 0)), 0);  // refused: a cycle
  using Edge = TransformManager::EdgeSummary;
  const std::vector<Edge> expected = {
      {"Sensor", "Body", true, 1, 0, 0},
      {"Body", "Global", false, 3, kNs, kNs + 1000},
      {"Body", "Wheel", true, 1, 0, 0},
  };
  EXPECT_EQ(manager.getEdges(), expected);

  // Removing Body re-attaches Global and Wheel to Sensor, each given as Sensor in it.
  ASSERT_EQ(manager.removeFrame("Body"), TransformManager::Success);
  const std::vector<Edge> after = {{"Sensor", "Global", true, 1, 0, 0},
                                   {"Sensor", "Wheel", true, 1, 0, 0}};
  EXPECT_EQ(manager.getEdges(), after);
}

TEST(TransformManagerNotification, FollowsEachAcceptedRegistrationWithTheNewSampleInPlace) {
  TransformManager manager;
  std::vector<std::tuple<std::string, std::string, long>> seen;
  std::vector<float> looked_up;
  auto connection = manager.connectTransformRegistered(
      [&](const std::string& from, const std::string& to, long time) {
        seen.emplace_back(from, to, time);
        Pose pose;  // the slot may look up: the sample is already there
        if (manager.getTransform(from, to, time, kInter, pose) == TransformManager::Success) {
          looked_up.push_back(pose.position.x());
        }
      });
  manager.setTransform("A", "B", makePose(V(1, 0, 0)), 0);
  manager.setTransform("B", "C", makePose(V(2, 0, 0)), 100);
  manager.setTransform("C", "A", makePose(V(9, 0, 0)), 100);  // refused: a cycle
  manager.setTransform("D", "D", makePose(V(9, 0, 0)), 100);  // refused: itself
  manager.setTransform("B", "C", makePose(V(3, 0, 0)), 200);
  EXPECT_EQ(seen, (std::vector<std::tuple<std::string, std::string, long>>{
                      {"A", "B", 0}, {"B", "C", 100}, {"B", "C", 200}}));
  EXPECT_EQ(looked_up, (std::vector<float>{1, 2, 3}));

  // Whole-graph edits send nothing; a cut connection nothing more.
  ASSERT_EQ(manager.removeFrame("B"), TransformManager::Success);
  zelvane::SettingsManager store;
  ASSERT_EQ(manager.storeTransforms(store, true), TransformManager::Success);
  ASSERT_EQ(manager.loadTransforms(store), TransformManager::Success);
  connection.disconnect();
  manager.setTransform("A", "C", makePose(V(4, 0, 0)), 300);
  EXPECT_EQ(seen.size(), 3u);
}

}  // namespace
