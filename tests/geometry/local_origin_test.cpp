// Map-scale coordinates: what single precision keeps of them, and the local origin
// that brings lidar points placed near (690000, 5330000) within a millimetre.
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/local_origin.h"
#include "geometry/transform_manager.h"

namespace zelvane {
namespace {

using Method = TransformManager::InterpolationMethod;
using Result = TransformManager::TransformResult;

// Half the spacing of the floats in the binade of |value|, read off the floats
// themselves.
double bruteError(double value) {
  float below = static_cast<float>(std::abs(value));
  if (static_cast<double>(below) > std::abs(value)) below = std::nextafter(below, 0.0f);
  const float above = std::nextafter(below, std::numeric_limits<float>::infinity());
  return (static_cast<double>(above) - static_cast<double>(below)) / 2.0;
}

TEST(LocalOrigin, SinglePrecisionErrorIsHalfTheFloatSpacing) {
  EXPECT_EQ(singlePrecisionError(5330000.0), 0.25);
  EXPECT_EQ(singlePrecisionError(690000.0), 0.03125);
  EXPECT_EQ(singlePrecisionError(-262144.0), 0.015625);
  EXPECT_EQ(singlePrecisionError(262143.0), 0.0078125);
  EXPECT_EQ(singlePrecisionError(0.0), 0.0);
  EXPECT_EQ(singlePrecisionError(1e-45), std::ldexp(1.0, -150));  // subnormal floats
  std::mt19937_64 rng(6);
  std::uniform_real_distribution<double> exponent(-20.0, 30.0);
  for (int i = 0; i < 2000; ++i) {
    const double value = std::exp2(exponent(rng)) * (i % 2 == 0 ? 1.0 : -1.0);
    ASSERT_EQ(singlePrecisionError(value), bruteError(value)) << value;
    ASSERT_LE(std::abs(static_cast<double>(static_cast<float>(value)) - value),
              singlePrecisionError(value))
        << value;
  }
}

TEST(LocalOrigin, NeededFromTheMagnitudeThatLosesOverOneCentimetre) {
  EXPECT_FALSE(needsLocalOrigin(Eigen::Vector3f(262143.0f, -262143.0f, 9000.0f)));
  EXPECT_TRUE(needsLocalOrigin(Eigen::Vector3f(0.0f, -262144.0f, 0.0f)));
  EXPECT_TRUE(needsLocalOrigin(Eigen::Vector3f(690000.0f, 5330000.0f, 300.0f)));
  EXPECT_FALSE(needsLocalOrigin(Eigen::Vector3f(std::nanf(""), 0.0f, 0.0f)));
}

// A vehicle driving 10 m near (690123, 5330456) in a projected map frame, its lidar
// seeing points up to 100 m away, each at its own time between the two navigation
// samples. The reference places them in double from the same rotations.
class MapScaleDrive : public ::testing::Test {
 protected:
  const Eigen::Vector3d start_{690123.456789, 5330456.789012, 312.25};
  const Eigen::Vector3d end_ = start_ + Eigen::Vector3d(8.0, 6.0, 0.125);
  const Eigen::Quaternionf heading_{Eigen::AngleAxisf(0.7f, Eigen::Vector3f::UnitZ())};
  const Eigen::Vector3f mount_{1.2f, 0.1f, 1.9f};
  const Eigen::Quaternionf tilt_{Eigen::AngleAxisf(0.05f, Eigen::Vector3f::UnitY())};
  static constexpr long kStart = 1000;
  static constexpr long kEnd = 2000;

  void SetUp() override {
    std::mt19937 rng(1030);
    std::uniform_real_distribution<float> coordinate(-100.0f, 100.0f);
    std::uniform_int_distribution<long> time(kStart, kEnd);
    for (int i = 0; i < 5000; ++i) {
      points_.insert(points_.end(), {coordinate(rng), coordinate(rng), coordinate(rng) / 10.0f});
      times_.push_back(time(rng));
    }
  }

  Eigen::Vector3d reference(std::size_t i) const {
    const double ratio = static_cast<double>(times_[i] - kStart) / (kEnd - kStart);
    const Eigen::Vector3d body = start_ + (end_ - start_) * ratio;
    const Eigen::Vector3d point(points_[3 * i], points_[3 * i + 1], points_[3 * i + 2]);
    const Eigen::Vector3d in_body =
        tilt_.cast<double>().toRotationMatrix() * point + mount_.cast<double>();
    return body + heading_.cast<double>().toRotationMatrix() * in_body;
  }

  // Registers the drive with `body_at` turning a map position into the registered pose,
  // places every point in `frame` at its time, and returns them.
  template <class BodyAt>
  std::vector<float> place(const char* frame, BodyAt body_at) {
    TransformManager manager;
    Pose sensor_in_body;
    sensor_in_body.position = mount_;
    sensor_in_body.orientation = tilt_;
    manager.setTransform("Sensor", "Body", sensor_in_body, 0);
    manager.setTransform("Body", frame, body_at(start_), kStart);
    manager.setTransform("Body", frame, body_at(end_), kEnd);
    std::vector<float> placed(points_.size());
    std::vector<Result> codes(times_.size());
    EXPECT_EQ(manager.transformPoints("Sensor", frame, points_.data(), times_.data(), times_.size(),
                                      TransformManager::Interpolated, placed.data(), codes.data()),
              times_.size());
    return placed;
  }

  std::vector<float> points_;
  std::vector<long> times_;
};

TEST_F(MapScaleDrive, LocalOriginBringsPlacedPointsWithinAMillimetre) {
  const std::vector<float> direct = place("Map", [&](const Eigen::Vector3d& position) {
    Pose pose;
    pose.position = position.cast<float>();
    pose.orientation = heading_;
    return pose;
  });
  const LocalOrigin origin(Eigen::Vector3d(690000.0, 5330000.0, 300.0));
  const std::vector<float> local = place(
      "Local", [&](const Eigen::Vector3d& position) { return origin.toLocal(position, heading_); });
  std::vector<double> shifted(local.size());
  origin.toMap(local.data(), times_.size(), shifted.data());

  double direct_error = 0.0;
  double local_error = 0.0;
  for (std::size_t i = 0; i < times_.size(); ++i) {
    const Eigen::Vector3d expected = reference(i);
    const Eigen::Vector3d back(shifted[3 * i], shifted[3 * i + 1], shifted[3 * i + 2]);
    EXPECT_EQ(back,
              origin.toMap(Eigen::Vector3f(local[3 * i], local[3 * i + 1], local[3 * i + 2])));
    const Eigen::Vector3d in_map(direct[3 * i], direct[3 * i + 1], direct[3 * i + 2]);
    direct_error = std::max(direct_error, (in_map - expected).norm());
    local_error = std::max(local_error, (back - expected).norm());
  }
  // Directly in the map frame the northing alone is stored to 0.25 m, and the
  // interpolation and placement round again at that scale: about a metre in all.
  EXPECT_GT(direct_error, 0.5);
  EXPECT_LT(local_error, 1e-3);
}

}  // namespace
}  // namespace zelvane
