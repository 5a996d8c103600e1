#include "core/angle.h"

#include <cmath>
#include <limits>

#include "numeric_policy.h"

namespace zelvane {
namespace core {

double wrapAngle(double angle) {
  if (angle > -numeric::PI && angle <= numeric::PI) return angle;
  if (!std::isfinite(angle)) return std::numeric_limits<double>::quiet_NaN();
  // remainder is exact and lands in [-pi, pi]; only -pi needs moving.
  const double wrapped = std::remainder(angle, numeric::TWO_PI);
  return wrapped <= -numeric::PI ? wrapped + numeric::TWO_PI : wrapped;
}

float wrapAngle(float angle) {
  if (angle > -numeric::PI_F && angle <= numeric::PI_F) return angle;
  const float wrapped = static_cast<float>(wrapAngle(static_cast<double>(angle)));
  // Angles just above -pi round to -float(pi), which lies below -pi.
  return wrapped <= -numeric::PI_F ? numeric::PI_F : wrapped;
}

}  // namespace core
}  // namespace zelvane
