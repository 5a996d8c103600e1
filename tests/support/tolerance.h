// The tests' numeric policy: pi, tolerances as named multiples of the machine epsilon,
// and the one comparison of rotations (up to sign) and of poses that the tests share.
#pragma once

#include <algorithm>
#include <limits>

#include <gtest/gtest.h>
#include <Eigen/Core>
#include <Eigen/Geometry>

#include "geometry/pose.h"

namespace zelvane::testing {

constexpr double PI = 3.14159265358979323846;
constexpr float PI_F = static_cast<float>(PI);
/// Degrees to radians in single precision.
constexpr float DEG_F = static_cast<float>(PI / 180.0);

constexpr float FLOAT_EPSILON = std::numeric_limits<float>::epsilon();
constexpr double DOUBLE_EPSILON = std::numeric_limits<double>::epsilon();

/// One conversion or product of values of order 1: a few roundings (about 1.2e-6).
constexpr float ROUNDING_TOLERANCE = 10 * FLOAT_EPSILON;
/// A short chain of single-precision operations, e.g. a rotation inverted twice or an
/// angle taken out of a matrix (about 1.2e-5).
constexpr float CHAIN_TOLERANCE = 100 * FLOAT_EPSILON;
/// Poses composed along a path or read back from text, with values of order 10
/// (about 1.2e-4).
constexpr float COMPOSED_TOLERANCE = 1000 * FLOAT_EPSILON;
/// Values of order 1000, or compared with figures given to a few decimals (about
/// 1.2e-3).
constexpr float COARSE_TOLERANCE = 10000 * FLOAT_EPSILON;
/// Random chains of interpolated poses, and angles near the pitch singularity, where
/// the rounding of the matrix is amplified (about 2.4e-3).
constexpr float INTERPOLATED_TOLERANCE = 20000 * FLOAT_EPSILON;

/// What exact arithmetic on the same inputs gives, within the bound that `State::overlap`
/// documents (about 4500 double epsilons at values of order 1).
constexpr double EXACT_ARITHMETIC_TOLERANCE = 1e-12;

/// The largest absolute difference of the coefficients of `a` and of `b` or `-b`: 0
/// for quaternions that describe the same rotation exactly.
inline float rotationDifference(const Eigen::Quaternionf& a, const Eigen::Quaternionf& b) {
  return std::min((a.coeffs() - b.coeffs()).cwiseAbs().maxCoeff(),
                  (a.coeffs() + b.coeffs()).cwiseAbs().maxCoeff());
}

/// The same rotation (quaternions equal up to sign), each coefficient within `tol`.
inline ::testing::AssertionResult sameRotation(const Eigen::Quaternionf& actual,
                                               const Eigen::Quaternionf& expected,
                                               float tol = COMPOSED_TOLERANCE) {
  if (rotationDifference(actual, expected) <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "(" << actual.coeffs().transpose() << ") vs (" << expected.coeffs().transpose() << ")";
}

/// The same position and rotation (quaternions equal up to sign), each coordinate and
/// coefficient within `tol`.
inline ::testing::AssertionResult samePose(const Pose& actual, const Pose& expected,
                                           float tol = COMPOSED_TOLERANCE) {
  if ((actual.position - expected.position).cwiseAbs().maxCoeff() <= tol &&
      rotationDifference(actual.orientation, expected.orientation) <= tol) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "(" << actual.position.transpose() << " | " << actual.orientation.coeffs().transpose()
         << ") vs (" << expected.position.transpose() << " | "
         << expected.orientation.coeffs().transpose() << ")";
}

}  // namespace zelvane::testing
