#include "geometry/pose.h"

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "support/tolerance.h"

namespace {

using namespace zelvane::testing;
using Eigen::Matrix4f;
using Eigen::Quaternionf;
using Eigen::Vector3f;
using zelvane::Pose;

// Angles recovered within a hundredth of a degree of the pitch singularity: yaw and
// roll are ill-conditioned there, only their rotation is well defined.
constexpr float STEEP_ANGLE_TOLERANCE = 0.05f;

Vector3f deg(float yaw, float pitch, float roll) { return Vector3f(yaw, pitch, roll) * DEG_F; }

::testing::AssertionResult near(const Eigen::MatrixXf& a, const Eigen::MatrixXf& b,
                                float tol = COMPOSED_TOLERANCE) {
  if ((a - b).cwiseAbs().maxCoeff() <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\n" << a << "\nvs\n" << b;
}

// --- yaw/pitch/roll and quaternions ------------------------------------------

// Each convention with its two conversions and the order in which it composes the
// turns about z, y and x.
struct Convention {
  const char* name;
  Quaternionf (*toQuaternion)(const Vector3f&);
  Vector3f (*toAngles)(Quaternionf);
  bool zFirst;
};
const Convention kConventions[] = {
    {"intrinsic", zelvane::rotationIntrinsicYPRToQuaternion,
     zelvane::quaternionToRotationIntrinsicYPR, true},
    {"extrinsic", zelvane::rotationExtrinsicYPRToQuaternion,
     zelvane::quaternionToRotationExtrinsicYPR, false},
};

TEST(RotationConventions, KnownQuaternionsOfBothConventions) {
  const Eigen::Vector4f known[] = {{0.0381f, 0.1893f, 0.2393f, 0.9515f},
                                   {0.1277f, 0.1449f, 0.2685f, 0.9437f}};
  for (const Convention& c : kConventions) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.toAngles(Quaternionf::Identity()), Vector3f::Zero());
    EXPECT_EQ(c.toQuaternion(Vector3f::Zero()).coeffs(), Quaternionf::Identity().coeffs());
    const Quaternionf q = c.toQuaternion(deg(30, 20, 10));
    EXPECT_TRUE(near(q.coeffs(), known[&c - kConventions]));
    EXPECT_TRUE(near(c.toAngles(q), deg(30, 20, 10)));
  }
}

TEST(RotationConventions, MatrixRoundTripMakesWPositive) {
  for (const Convention& from : kConventions) {
    const Quaternionf q = from.toQuaternion(deg(270, 0, 0));
    EXPECT_TRUE(
        near(q.coeffs(), Eigen::Vector4f(0, 0, -0.70710678f, 0.70710678f), ROUNDING_TOLERANCE));
    for (const Convention& to : kConventions) {
      EXPECT_NEAR(to.toAngles(q)[0], -90 * DEG_F, ROUNDING_TOLERANCE) << from.name << to.name;
    }
  }
}

TEST(RotationConventions, GimbalLockPutsTheVerticalTurnIntoRoll) {
  struct Case {
    const Convention& convention;
    Vector3f in, out;
  };
  const Case cases[] = {
      {kConventions[0], deg(30, 90, 10), deg(0, 90, -20)},
      {kConventions[0], deg(30, -90, 10), deg(0, -90, 40)},
      {kConventions[1], deg(30, 90, 10), deg(0, 90, 40)},
      {kConventions[1], deg(30, -90, 10), deg(0, -90, -20)},
  };
  for (const Case& c : cases) {
    const Vector3f back = c.convention.toAngles(c.convention.toQuaternion(c.in));
    EXPECT_EQ(back[0], 0.0f);
    EXPECT_TRUE(near(back, c.out, INTERPOLATED_TOLERANCE)) << c.convention.name;
  }
}

TEST(RotationConventions, AmbiguityTestIsStrict) {
  // x = y = 0.5, w = 0 makes the matrix entry (2,2) exactly 0 and (1,2) equal to z, so
  // |cos(pitch)| is exactly z.
  const float limit = Pose::ROTATION_AMBIGUITY_LIMIT;
  const Vector3f at = zelvane::quaternionToRotationExtrinsicYPR(Quaternionf(0, 0.5f, 0.5f, limit));
  EXPECT_EQ(at[0], 0.0f);
  const Vector3f above = zelvane::quaternionToRotationExtrinsicYPR(
      Quaternionf(0, 0.5f, 0.5f, std::nextafter(limit, 1.0f)));
  EXPECT_NE(above[0], 0.0f);

  const Vector3f nearly = zelvane::quaternionToRotationExtrinsicYPR(
      zelvane::rotationExtrinsicYPRToQuaternion(deg(30, 89.99f, 10)));
  EXPECT_NEAR(nearly[0], 30 * DEG_F, STEEP_ANGLE_TOLERANCE);
}

TEST(RotationConventions, DegenerateQuaternions) {
  EXPECT_EQ(zelvane::quaternionToRotationExtrinsicYPR(Quaternionf(0, 0, 0, 0)), Vector3f::Zero());
  EXPECT_EQ(zelvane::quaternionToRotationIntrinsicYPR(Quaternionf(0, 0, 0, 0)).cwiseAbs(),
            Vector3f::Zero());

  // The extrinsic conversion reads the matrix of the quaternion as given; the intrinsic
  // one normalises first.
  const Quaternionf scaled(1.4142f, 0, 0, 1.4142f);
  EXPECT_NEAR(zelvane::quaternionToRotationExtrinsicYPR(scaled)[0], 126.87f * DEG_F,
              COARSE_TOLERANCE);
  EXPECT_NEAR(zelvane::quaternionToRotationIntrinsicYPR(scaled)[0], 90 * DEG_F, CHAIN_TOLERANCE);

  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Vector3f bad = zelvane::quaternionToRotationExtrinsicYPR(Quaternionf(nan, 0, 0, 0));
  EXPECT_EQ(bad[0], 0.0f);
  EXPECT_TRUE(std::isnan(bad[1]));
  EXPECT_TRUE(std::isnan(bad[2]));
}

TEST(RotationConventions, GetYawFromQuaternionIsTheExtrinsicYaw) {
  auto yaw = [](const Quaternionf& q) { return getYawFromQuaternion(q.x(), q.y(), q.z(), q.w()); };
  EXPECT_NEAR(yaw(zelvane::rotationIntrinsicYPRToQuaternion(deg(30, 20, 10))), 28.45f * DEG_F,
              COARSE_TOLERANCE);
  EXPECT_NEAR(yaw(zelvane::rotationIntrinsicYPRToQuaternion(deg(30, 20, 0))), 31.57f * DEG_F,
              COARSE_TOLERANCE);
  EXPECT_NEAR(yaw(zelvane::rotationIntrinsicYPRToQuaternion(deg(30, 0, 0))), 30 * DEG_F,
              ROUNDING_TOLERANCE);
}

TEST(RotationConventions, RoundTripsAwayFromTheAmbiguity) {
  std::mt19937 rng(20261208);
  std::uniform_real_distribution<float> angle(-179.0f, 179.0f);
  std::uniform_real_distribution<float> pitch(-89.0f, 89.0f);
  for (int i = 0; i < 500; ++i) {
    const Vector3f ypr = deg(angle(rng), pitch(rng), angle(rng));
    // Both conventions name rotations composed in opposite orders.
    const Eigen::Matrix3f rz(Eigen::AngleAxisf(ypr[0], Vector3f::UnitZ()));
    const Eigen::Matrix3f ry(Eigen::AngleAxisf(ypr[1], Vector3f::UnitY()));
    const Eigen::Matrix3f rx(Eigen::AngleAxisf(ypr[2], Vector3f::UnitX()));
    for (const Convention& c : kConventions) {
      const Quaternionf q = c.toQuaternion(ypr);
      EXPECT_NEAR(q.norm(), 1.0f, ROUNDING_TOLERANCE);
      EXPECT_TRUE(near(c.toAngles(q), ypr, INTERPOLATED_TOLERANCE)) << c.name << ypr.transpose();
      EXPECT_TRUE(near(q.toRotationMatrix(), c.zFirst ? rz * ry * rx : rx * ry * rz)) << c.name;
    }
  }
}

TEST(RotationConventions, RoundTripsCloseToButOutsideTheAmbiguity) {
  // Pitch between 85 and 89.9 degrees either way: yaw and roll are still told apart
  // (|cos(pitch)| >= 1.7e-3, well above the limit) but are ill-conditioned, so the
  // recovered angles must give back the same rotation and the same pitch.
  std::mt19937 rng(20261209);
  std::uniform_real_distribution<float> angle(-179.0f, 179.0f);
  std::uniform_real_distribution<float> steep(85.0f, 89.9f);
  for (int i = 0; i < 500; ++i) {
    const Vector3f ypr = deg(angle(rng), (i % 2 ? 1.0f : -1.0f) * steep(rng), angle(rng));
    ASSERT_GT(std::abs(std::cos(ypr[1])), Pose::ROTATION_AMBIGUITY_LIMIT);
    for (const Convention& c : kConventions) {
      const Quaternionf q = c.toQuaternion(ypr);
      const Vector3f back = c.toAngles(q);
      SCOPED_TRACE(::testing::Message()
                   << c.name << " " << ypr.transpose() << " -> " << back.transpose());
      EXPECT_TRUE(sameRotation(c.toQuaternion(back), q, COMPOSED_TOLERANCE));
      EXPECT_NEAR(back[1], ypr[1], INTERPOLATED_TOLERANCE);
      EXPECT_TRUE(near(back, ypr, STEEP_ANGLE_TOLERANCE));
    }
  }
}

// --- poses and transforms -------------------------------------------------------

Pose yawPose() {
  Pose pose;
  pose.position = Vector3f(1, 2, 3);
  pose.orientation = Quaternionf(0.70710678f, 0, 0, 0.70710678f);
  return pose;
}

TEST(PoseTransforms, MatrixAndInverseOfKnownPoses) {
  Pose identity;
  identity.timestamp = 42;
  EXPECT_EQ(identity.toTransform(), Matrix4f::Identity());
  EXPECT_EQ(identity.toInverseTransform(), Matrix4f::Identity());
  const Pose same = identity.toInversePose();
  EXPECT_EQ(same.position, Vector3f::Zero());
  EXPECT_EQ(same.orientation.coeffs(), Quaternionf::Identity().coeffs());
  EXPECT_EQ(same.timestamp, 42);

  const Pose pose = yawPose();
  Matrix4f expected;
  expected << 0, -1, 0, 1, 1, 0, 0, 2, 0, 0, 1, 3, 0, 0, 0, 1;
  EXPECT_TRUE(near(pose.toTransform(), expected, ROUNDING_TOLERANCE));
  EXPECT_TRUE(near(zelvane::poseToAffine3f(pose).matrix(), expected, ROUNDING_TOLERANCE));
  EXPECT_TRUE(near(pose.toTransform() * pose.toInverseTransform(), Matrix4f::Identity(),
                   ROUNDING_TOLERANCE));
  EXPECT_TRUE(near(zelvane::poseToInverseTransform(pose), expected.inverse(), ROUNDING_TOLERANCE));

  const Pose inverse = pose.toInversePose();
  EXPECT_TRUE(near(inverse.position, Vector3f(-2, 1, -3), ROUNDING_TOLERANCE));
  EXPECT_TRUE(near(inverse.orientation.coeffs(), Eigen::Vector4f(0, 0, -0.70710678f, 0.70710678f),
                   ROUNDING_TOLERANCE));

  // The inverse of a half turn keeps the matrix's sign.
  Pose half;
  half.orientation = Quaternionf(0, 0, 0, 1);  // 180 degrees about z
  EXPECT_EQ(half.toInversePose().orientation.coeffs(), Eigen::Vector4f(0, 0, 1, 0));

  // Non-finite values propagate.
  Pose odd;
  odd.position.x() = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(std::isnan(odd.toTransform()(0, 3)));
  EXPECT_TRUE(std::isnan(odd.toInversePose().position.x()));
}

TEST(PoseTransforms, InversePoseOfNonUnitOrientationIsAProperRotation) {
  Pose pose = yawPose();
  pose.orientation.coeffs() *= 2.0f;
  const Pose inverse = pose.toInversePose();
  EXPECT_NEAR(inverse.orientation.norm(), 1.0f, CHAIN_TOLERANCE);
  // The matrix of 2q is 4 R(q) - 3 I; for a 90 degree yaw its rotation factor turns by
  // atan2(4, -3), so the inverse turns back by that angle.
  const Quaternionf expected(Eigen::AngleAxisf(-std::atan2(4.0f, -3.0f), Vector3f::UnitZ()));
  EXPECT_TRUE(sameRotation(inverse.orientation, expected));
  EXPECT_NEAR(inverse.orientation.toRotationMatrix().determinant(), 1.0f, CHAIN_TOLERANCE);
}

TEST(PoseTransforms, InverseOfInverseGivesThePoseBack) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-10.0f, 10.0f);
  for (long stamp : {0L, -5L, 1700000000000000000L}) {
    for (int i = 0; i < 100; ++i) {
      Pose pose;
      pose.position = Vector3f(u(rng), u(rng), u(rng));
      pose.orientation = Quaternionf(u(rng), u(rng), u(rng), u(rng)).normalized();
      pose.timestamp = stamp;
      const Pose inverse = pose.toInversePose();
      EXPECT_EQ(inverse.timestamp, stamp);
      const Pose back = inverse.toInversePose();
      EXPECT_TRUE(near(back.position, pose.position, COMPOSED_TOLERANCE));
      EXPECT_TRUE(sameRotation(back.orientation, pose.orientation, CHAIN_TOLERANCE));
      EXPECT_TRUE(
          near(pose.toTransform() * inverse.toTransform(), Matrix4f::Identity(), CHAIN_TOLERANCE));
    }
  }

  // Rotations of 179 to 180 degrees, where w is near 0 and the sign of the quaternion
  // is decided by rounding: the pose comes back up to that sign.
  std::uniform_real_distribution<float> turn(179.0f, 180.0f);
  for (int i = 0; i < 300; ++i) {
    Pose pose;
    pose.position = Vector3f(u(rng), u(rng), u(rng)) * 10.0f;
    pose.orientation = Quaternionf(
        Eigen::AngleAxisf(turn(rng) * DEG_F, Vector3f(u(rng), u(rng), u(rng)).normalized()));
    const Pose back = pose.toInversePose().toInversePose();
    EXPECT_TRUE(near(back.position, pose.position, COARSE_TOLERANCE)) << i;
    EXPECT_TRUE(sameRotation(back.orientation, pose.orientation, CHAIN_TOLERANCE)) << i;
    EXPECT_NEAR(back.orientation.norm(), 1.0f, CHAIN_TOLERANCE);
  }
}

TEST(PoseTransforms, MatricesFromAnglesMatchPosesOfTheSameAngles) {
  const Vector3f t(0.5f, -1.5f, 2.0f);
  for (const Vector3f& ypr : {deg(30, 20, 10), deg(-120, 45, 170), deg(0, 0, 0), deg(90, -60, 5)}) {
    Pose intrinsic;
    intrinsic.position = t;
    intrinsic.orientation = zelvane::rotationIntrinsicYPRToQuaternion(ypr);
    Pose extrinsic = intrinsic;
    extrinsic.orientation = zelvane::rotationExtrinsicYPRToQuaternion(ypr);

    EXPECT_TRUE(
        near(zelvane::toTransformFromIntrinsicYPR(t, ypr), zelvane::poseToTransform(intrinsic)));
    EXPECT_TRUE(
        near(zelvane::toTransformFromExtrinsicYPR(t, ypr), zelvane::poseToTransform(extrinsic)));
    EXPECT_TRUE(near(zelvane::toInverseTransformFromIntrinsicYPR(t, ypr),
                     zelvane::poseToInverseTransform(intrinsic)));
    EXPECT_TRUE(near(zelvane::toInverseTransformFromExtrinsicYPR(t, ypr),
                     zelvane::poseToInverseTransform(extrinsic)));
    EXPECT_TRUE(near(zelvane::poseToRotationIntrinsicYPR(intrinsic), ypr, COARSE_TOLERANCE));
    EXPECT_TRUE(near(zelvane::poseToRotationExtrinsicYPR(extrinsic), ypr, COARSE_TOLERANCE));
  }
}

}  // namespace
