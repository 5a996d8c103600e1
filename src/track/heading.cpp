#include "track/heading.h"

#include <cmath>

#include "numeric_policy.h"

namespace zelvane {
namespace track {

HeadingInnovation headingInnovation(float measured, float predicted) {
  // The difference of two floats is exact in double.
  double difference = wrapAngle(static_cast<double>(measured) - static_cast<double>(predicted));
  const bool flipped = std::fabs(difference) > 0.5 * numeric::PI;
  if (flipped) difference += difference > 0.0 ? -numeric::PI : numeric::PI;
  return {static_cast<float>(difference), flipped};
}

}  // namespace track
}  // namespace zelvane
