#include "track/heading.h"

#include <cmath>
#include <limits>

#include "numeric_policy.h"

namespace zelvane {
namespace track {

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

HeadingInnovation headingInnovation(float measured, float predicted) {
  // The difference of two floats is exact in double.
  double difference = wrapAngle(static_cast<double>(measured) - static_cast<double>(predicted));
  const bool flipped = std::fabs(difference) > 0.5 * numeric::PI;
  if (flipped) difference += difference > 0.0 ? -numeric::PI : numeric::PI;
  return {static_cast<float>(difference), flipped};
}

}  // namespace track
}  // namespace zelvane
