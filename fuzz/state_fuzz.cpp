// State geometry and the text form on arbitrary floats, NaN and infinities included:
// nothing crashes, `overlap` lies in [0, 1] or is NaN, `distance` is not negative or
// is NaN, and the flat mirror agrees with the state it was made from.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "core/state.h"

namespace {

using zelvane::core::State;
using zelvane::core::StateValues;

// Reads the input as raw floats (every bit pattern, so NaN and infinities come up on
// their own), then zeros once it runs out.
class Floats {
 public:
  Floats(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  float next() {
    float value = 0.0f;
    if (size_ >= sizeof value) {
      std::memcpy(&value, data_, sizeof value);
      data_ += sizeof value;
      size_ -= sizeof value;
    }
    return value;
  }
  unsigned char byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }

 private:
  const unsigned char* data_;
  size_t size_;
};

zelvane::Gaussian<float, 3> vector3(Floats& in) {
  zelvane::Gaussian<float, 3> value;
  for (int i = 0; i < 3; ++i) value.mean[i] = in.next();
  for (int i = 0; i < 9; ++i) value.covariance(i) = in.next();
  return value;
}

zelvane::Gaussian<float, 1> scalar(Floats& in) {
  zelvane::Gaussian<float, 1> value;
  value.mean = in.next();
  value.covariance = in.next();
  return value;
}

// One bit of `present` per member says whether it is there.
State makeState(Floats& in) {
  const unsigned char present = in.byte();
  State state;
  if (present & 1u) state.position = vector3(in);
  if (present & 2u) state.velocity = vector3(in);
  if (present & 4u) state.acceleration = vector3(in);
  if (present & 8u) state.heading = scalar(in);
  if (present & 16u) state.headingRate = scalar(in);
  if (present & 32u) {
    const float length = in.next(), width = in.next(), height = in.next();
    const float x = in.next(), y = in.next(), z = in.next();
    state.dimensions = zelvane::core::Dimensions<float, zelvane::frames::Trackable>(
        length, width, height, {x, y, z});
  }
  return state;
}

void checkOverlap(const State& a, const State& b) {
  const double value = a.overlap(b);  // an exception escaping here is a finding too
  if (!std::isnan(value) && !(value >= 0.0 && value <= 1.0)) std::abort();
}

void checkDistance(const State& a, const State& b) {
  const double value = a.distance(b);
  if (!std::isnan(value) && !(value >= 0.0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  Floats in(data, size);
  const State a = makeState(in);
  const State b = makeState(in);

  checkOverlap(a, b);
  checkOverlap(b, a);
  checkOverlap(a, a);
  checkDistance(a, b);
  checkDistance(b, a);
  if (a.getCorners2D().size() != 4 || a.getBoostPolygon().outer().size() != 5) std::abort();
  (void)a.centroid();
  (void)a.rotationMatrix();
  (void)a.velocityHeading();
  (void)a.relativeHeading(b);
  (void)a.position2D();
  (void)State::getSquaredDistance(a, b);

  const StateValues values(a);
  // The mirror equals the state only when every member is there and every slot is a
  // number that compares equal to itself.
  if ((values == a) && !(a.position && a.velocity && a.acceleration && a.heading &&
                         a.headingRate && a.dimensions)) {
    std::abort();
  }
  (void)(values == StateValues(b));
  if (values.getCorners2D().size() != 4) std::abort();
  (void)values.centroid2D();

  std::ostringstream text;
  text.precision(in.byte() % 20);
  text << a << b;
  if (text.bad()) std::abort();
  return 0;
}
