/// @file
/// `Gaussian<T, N>`: a normal distribution held as its first two moments.
#pragma once

#include <Eigen/Core>

namespace zelvane {

/// A normal distribution over an N-vector of `T`: its mean and its covariance
/// (column-major, as Eigen stores it). Both start at zero. No invariant is enforced:
/// the covariance is not checked for symmetry or definiteness.
template <typename T, unsigned long N>
struct Gaussian {
  Eigen::Matrix<T, static_cast<int>(N), 1> mean = Eigen::Matrix<T, static_cast<int>(N), 1>::Zero();
  Eigen::Matrix<T, static_cast<int>(N), static_cast<int>(N)> covariance =
      Eigen::Matrix<T, static_cast<int>(N), static_cast<int>(N)>::Zero();
};

/// The scalar form, used for heading and heading rate: the mean and the variance are
/// plain floats rather than 1x1 matrices, so they read and print as numbers.
template <>
struct Gaussian<float, 1> {
  float mean = 0.0f;
  /// The variance.
  float covariance = 0.0f;
};

}  // namespace zelvane
