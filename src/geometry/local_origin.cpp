#include "geometry/local_origin.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numeric_policy.h"

namespace zelvane {

LocalOrigin::LocalOrigin(const Eigen::Vector3d& origin) : origin_(origin) {}

Pose LocalOrigin::toLocal(const Eigen::Vector3d& position, const Eigen::Quaternionf& orientation,
                          std::int64_t timestamp) const {
  Pose pose;
  pose.position = toLocal(position);
  pose.orientation = orientation;
  pose.timestamp = timestamp;
  return pose;
}

Eigen::Vector3f LocalOrigin::toLocal(const Eigen::Vector3d& point) const {
  return (point - origin_).cast<float>();
}

Eigen::Vector3d LocalOrigin::toMap(const Eigen::Vector3f& point) const {
  return origin_ + point.cast<double>();
}

void LocalOrigin::toLocal(const double* points, std::size_t count, float* local) const {
  for (std::size_t i = 0; i < 3 * count; i += 3) {
    for (std::size_t c = 0; c < 3; ++c) {
      local[i + c] = static_cast<float>(points[i + c] - origin_[static_cast<Eigen::Index>(c)]);
    }
  }
}

void LocalOrigin::toMap(const float* points, std::size_t count, double* map) const {
  for (std::size_t i = 0; i < 3 * count; i += 3) {
    for (std::size_t c = 0; c < 3; ++c) {
      map[i + c] = origin_[static_cast<Eigen::Index>(c)] + static_cast<double>(points[i + c]);
    }
  }
}

double singlePrecisionError(double value) {
  if (!std::isfinite(value)) return std::abs(value);
  if (value == 0.0) return 0.0;
  int exponent = 0;
  std::frexp(value, &exponent);  // |value| = m 2^exponent, 0.5 <= m < 1
  // Below the normal floats the spacing stays that of the smallest subnormal.
  const int lowest = std::numeric_limits<float>::min_exponent - 1;
  return std::ldexp(1.0, std::max(exponent - 1, lowest) - numeric::FLOAT_SIGNIFICAND_BITS);
}

bool needsLocalOrigin(const Eigen::Vector3f& position) {
  return (position.array().abs() >= static_cast<float>(numeric::MAP_SCALE_COORDINATE)).any();
}

}  // namespace zelvane
