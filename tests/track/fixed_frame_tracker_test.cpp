#include "track/fixed_frame_tracker.h"

#include <cmath>
#include <map>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include "support/tolerance.h"

namespace {

using namespace zelvane::track;
using zelvane::Pose;
using zelvane::TransformManager;
using zelvane::core::State;
using zelvane::testing::PI;

Pose poseOf(double x, double y, double z, double yaw, double pitch = 0.0) {
  Pose p;
  p.position = Eigen::Vector3f(float(x), float(y), float(z));
  p.orientation = Eigen::Quaternionf(Eigen::AngleAxisf(float(yaw), Eigen::Vector3f::UnitZ()) *
                                     Eigen::AngleAxisf(float(pitch), Eigen::Vector3f::UnitY()));
  return p;
}

TEST(PlaceState, MapsTheBoxAndTurnsItsMotion) {
  State s = State::box({3.0f, -1.0f, 0.5f}, 2.9f, 4.0f, 2.0f, 1.5f, {},
                       Eigen::Matrix3f::Identity() * 0.2f, 0.01f);
  s.position->covariance(0, 1) = s.position->covariance(1, 0) = 0.05f;
  s.velocity = zelvane::Gaussian<float, 3>{Eigen::Vector3f(2.0f, 0.5f, 0.0f),
                                           Eigen::Vector3f(1.0f, 0.1f, 0.01f).asDiagonal()};
  for (const double pitch : {0.0, 0.2}) {
    const Pose b_T_a = poseOf(10.0, 5.0, 1.0, 0.7, pitch);
    const State placed = placeState(b_T_a, s);
    // The plain way: the 4x4 transform on the point, its rotation on the vectors and on
    // the object's x axis.
    const Eigen::Matrix4d T = b_T_a.toTransform().cast<double>();
    const Eigen::Matrix3d R = T.topLeftCorner<3, 3>();
    const Eigen::Vector3d p = (T * Eigen::Vector4d(3.0, -1.0, 0.5, 1.0)).head<3>();
    EXPECT_LT((placed.position->mean.cast<double>() - p).norm(), 1e-5);
    const Eigen::Matrix3d covariance = R * s.position->covariance.cast<double>() * R.transpose();
    EXPECT_LT((placed.position->covariance.cast<double>() - covariance).cwiseAbs().maxCoeff(),
              1e-6);
    EXPECT_LT((placed.velocity->mean.cast<double>() - R * Eigen::Vector3d(2.0, 0.5, 0.0)).norm(),
              1e-5);
    const Eigen::Vector3d axis = R * Eigen::Vector3d(std::cos(2.9), std::sin(2.9), 0.0);
    const double heading = std::atan2(axis.y(), axis.x());
    // 2.9 + 0.7 lies past pi: the heading is wrapped.
    EXPECT_NEAR(placed.heading->mean, heading, 1e-5);
    EXPECT_LT(placed.heading->mean, 0.0f);
    EXPECT_EQ(placed.heading->covariance, s.heading->covariance);
    EXPECT_EQ(placed.dimensions->length, 4.0f);
    EXPECT_FALSE(placed.acceleration);
    EXPECT_FALSE(placed.headingRate);
  }
}

// ---- A simulated drive -----------------------------------------------------------------

// The vehicle drives a left-hand arc at 10 m/s, turning at 0.25 rad/s; the sensor sits
// on it 1.5 m ahead of the body, 1.8 m up, turned by 0.05 rad. Around it: a parked car,
// a car crossing its path at 5 m/s, and a car following the same arc 15 m ahead.
constexpr double SPEED = 10.0;
constexpr double TURN = 0.25;
constexpr double RADIUS = SPEED / TURN;

Eigen::Vector2d onArc(double s) {
  return {RADIUS * std::sin(s / RADIUS), RADIUS * (1 - std::cos(s / RADIUS))};
}

struct Truth {
  Eigen::Vector2d position;
  double heading;
  Eigen::Vector2d velocity;
};

Truth objectAt(int object, double t) {
  switch (object) {
    case 0: return {{35.0, 14.0}, 1.0, {0.0, 0.0}};
    case 1: return {{28.0, -12.0 + 5.0 * t}, PI / 2, {0.0, 5.0}};
    default: {
      const double s = SPEED * t + 15.0;
      const double h = s / RADIUS;
      return {onArc(s), h, {SPEED * std::cos(h), SPEED * std::sin(h)}};
    }
  }
}

void registerDrive(TransformManager& graph) {
  for (long ms = 0; ms <= 6000; ms += 50) {
    const double t = ms / 1000.0;
    const Eigen::Vector2d p = onArc(SPEED * t);
    graph.setTransform("Body", "Global", poseOf(p.x(), p.y(), 0.0, TURN * t), ms);
  }
  graph.setTransform("Sensor", "Body", poseOf(1.5, 0.0, 1.8, 0.05), 0);
}

// The objects' boxes seen from the sensor at `ms`, with noise.
std::vector<Detection> detectionsAt(TransformManager& graph, long ms, std::mt19937& rng) {
  Pose sensor_T_global;
  EXPECT_EQ(
      graph.getTransform("Global", "Sensor", ms, TransformManager::Interpolated, sensor_T_global),
      TransformManager::Success);
  std::normal_distribution<double> noise(0.0, 0.1);
  std::vector<Detection> detections;
  for (int object = 0; object < 3; ++object) {
    const Truth truth = objectAt(object, ms / 1000.0);
    Detection d;
    d.box = placeState(sensor_T_global,
                       State::box(Eigen::Vector3f(float(truth.position.x() + noise(rng)),
                                                  float(truth.position.y() + noise(rng)), 0.75f),
                                  float(truth.heading + 0.3 * noise(rng)), 4.5f, 1.8f, 1.5f));
    detections.push_back(d);
  }
  return detections;
}

TEST(FixedFrameTracker, KeepsStaticObjectsStillWhileTheSensorTurns) {
  for (const MotionModelKind model :
       {MotionModelKind::ConstantVelocity, MotionModelKind::ConstantTurnRate}) {
    TransformManager graph;
    registerDrive(graph);
    ClassParameters car;
    car.name = "Car";
    car.motionModel = model;
    car.metric = zelvane::core::AssociationMetric::Overlap;
    FixedFrameTracker fixed(graph, "Global", {car}, 1e-3);
    FixedFrameTracker reportingLocally(graph, "Global", {car}, 1e-3);
    Tracker inSensorFrame({car});
    std::mt19937 rng(17);
    // Per object, over the frames after two seconds: the sum of the velocity errors
    // and the largest one.
    Eigen::Vector2d velocityError[3] = {Eigen::Vector2d::Zero(), Eigen::Vector2d::Zero(),
                                        Eigen::Vector2d::Zero()};
    double worstSpeedError[3] = {0.0, 0.0, 0.0};
    int settled = 0;
    for (long ms = 0; ms <= 6000; ms += 100) {
      const std::vector<Detection> detections = detectionsAt(graph, ms, rng);
      std::vector<TrackedBox> global, local;
      ASSERT_EQ(fixed.step(ms, "Sensor", detections, global), TransformManager::Success);
      ASSERT_EQ(reportingLocally.step(ms, "Sensor", detections, local,
                                      FixedFrameTracker::Report::SensorFrame),
                TransformManager::Success);
      const std::vector<TrackedBox> naive = inSensorFrame.step(ms / 1000.0, detections);
      // Ids stay with their objects: the detections come in object order.
      ASSERT_EQ(global.size(), 3u) << ms;
      ASSERT_EQ(local.size(), 3u) << ms;
      for (std::size_t k = 0; k < 3; ++k) {
        ASSERT_EQ(global[k].record.id, k) << ms;
        ASSERT_EQ(global[k].detection, k) << ms;
        EXPECT_LT(
            (local[k].state.position->mean - detections[k].box.position->mean).head<2>().norm(),
            0.3f)
            << ms;
      }
      if (ms < 2000) continue;
      const double t = ms / 1000.0;
      ++settled;
      for (int object = 0; object < 3; ++object) {
        const Truth truth = objectAt(object, t);
        const Eigen::Vector2d velocity =
            global[object].state.velocity->mean.head<2>().cast<double>();
        velocityError[object] += velocity - truth.velocity;
        worstSpeedError[object] =
            std::max(worstSpeedError[object], (velocity - truth.velocity).norm());
        EXPECT_LT(
            (global[object].state.position->mean.head<2>().cast<double>() - truth.position).norm(),
            0.3)
            << object << " at " << ms;
      }
      // Tracked in the sensor's frame, the parked car seems to drive at the vehicle's speed.
      EXPECT_GT(naive[0].state.velocity->mean.head<2>().norm(), 0.7 * SPEED) << ms;
    }
    // The velocities are right on average and never far off: the parked car stands
    // still (the detections' noise of 0.1 m moves its estimate by tenths of a m/s). On
    // the arc the turn model follows the turn, while constant velocity lags it.
    const bool lags = model == MotionModelKind::ConstantVelocity;
    for (int object = 0; object < 3; ++object) {
      const bool arc = object == 2;
      EXPECT_LT(velocityError[object].norm() / settled, arc && lags ? 0.6 : 0.15)
          << object << " model " << int(model);
      EXPECT_LT(worstSpeedError[object], arc && lags ? 1.6 : 1.2)
          << object << " model " << int(model);
    }
  }
}

TEST(FixedFrameTracker, SkipsFramesWithoutAPoseAndRefusesBadStamps) {
  TransformManager graph;
  registerDrive(graph);
  ClassParameters car;
  car.name = "Car";
  EXPECT_THROW(FixedFrameTracker(graph, "Global", {car}, 0.0), std::invalid_argument);
  FixedFrameTracker fixed(graph, "Global", {car}, 1e-3);
  std::mt19937 rng(1);
  std::vector<TrackedBox> reported(1);
  // Past the drive's last pose: out of range, nothing tracked.
  EXPECT_EQ(fixed.step(9000, "Sensor", detectionsAt(graph, 100, rng), reported),
            TransformManager::OutOfRange);
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(fixed.step(100, "Lidar", detectionsAt(graph, 100, rng), reported),
            TransformManager::NotFound);
  EXPECT_EQ(fixed.tracker().frames(), 0u);
  EXPECT_EQ(fixed.step(1000, "Sensor", detectionsAt(graph, 1000, rng), reported),
            TransformManager::Success);
  EXPECT_EQ(fixed.tracker().time(), 0.0);
  EXPECT_THROW(
      static_cast<void>(fixed.step(900, "Sensor", detectionsAt(graph, 900, rng), reported)),
      std::invalid_argument);
  EXPECT_EQ(fixed.step(1250, "Sensor", detectionsAt(graph, 1250, rng), reported),
            TransformManager::Success);
  EXPECT_DOUBLE_EQ(fixed.tracker().time(), 0.25);
}

}  // namespace
