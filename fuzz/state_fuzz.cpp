// State geometry and the text form on arbitrary floats, NaN and infinities included:
// nothing crashes, `overlap` lies in [0, 1] or is NaN and agrees with Boost.Geometry's
// overlay where that is trustworthy, the batch operations give the single-pair values
// bit for bit, `distance` is not negative or is NaN, and the flat mirror agrees with
// the state it was made from.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <sstream>
#include <vector>

#include "boost_quiet.h"
#include "core/exact_overlap.h"
#include "core/footprint_pairs.h"
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

// Length over width of a footprint's corners (1 without an extent).
double aspect(const State& state) {
  const auto c = state.getCorners2D();
  const double first = std::hypot(double{c[1].x()} - c[0].x(), double{c[1].y()} - c[0].y());
  const double second = std::hypot(double{c[2].x()} - c[1].x(), double{c[2].y()} - c[1].y());
  const double shorter = std::min(first, second);
  return shorter > 0.0 ? std::max(first, second) / shorter : 1.0;
}

// `value` against exact rational arithmetic on the same corners, for footprints whose
// corners form convex quadrilaterals: within 1e-12, or about length over width times
// 2^-52 for footprints thinner than 1e-4 of their length.
void checkAgainstExact(const State& a, const State& b, double value) {
  const auto qa = zelvane::testing::exactCorners(a);
  const auto qb = zelvane::testing::exactCorners(b);
  if (!zelvane::testing::exactlyConvex(qa) || !zelvane::testing::exactlyConvex(qb)) return;
  const double exact = zelvane::testing::exactOverlap(qa, qb);
  const double tolerance = std::max(1e-12, 1e-15 * (aspect(a) + aspect(b)));
  if (!(std::abs(value - exact) <= tolerance)) std::abort();
}

// `value` must agree with the overlay of the two public polygons to 1e-6 where the
// overlay can be trusted: for footprints whose corners form proper rings, over spans
// that its integer rescaling holds, and when its union equals area a + area b minus its
// intersection. Even then it loses the intersection of some nearly coincident edges;
// where the two differ, exact arithmetic decides.
void checkAgainstOverlay(const State& a, const State& b, double value) {
  namespace bg = boost::geometry;
  using zelvane::core::FootprintPolygon;
  if (std::isnan(value)) return;
  FootprintPolygon pa = a.getBoostPolygon();
  FootprintPolygon pb = b.getBoostPolygon();
  double low[2] = {pa.outer()[0].x(), pa.outer()[0].y()};
  double high[2] = {low[0], low[1]};
  for (const auto* ring : {&pa.outer(), &pb.outer()}) {
    for (const auto& p : *ring) {
      low[0] = std::min(low[0], p.x());
      low[1] = std::min(low[1], p.y());
      high[0] = std::max(high[0], p.x());
      high[1] = std::max(high[1], p.y());
    }
  }
  const double span = std::max(high[0] - low[0], high[1] - low[1]);
  if (!(span > 1e-3 && span < 1e8)) return;
  double unionArea = 0.0;
  double intersectionArea = 0.0;
  double areaA = 0.0;
  double areaB = 0.0;
  try {
    bg::correct(pa);
    bg::correct(pb);
    if (!bg::is_valid(pa) || !bg::is_valid(pb)) return;
    std::vector<FootprintPolygon> unionParts;
    std::vector<FootprintPolygon> intersectionParts;
    bg::union_(pa, pb, unionParts);
    bg::intersection(pa, pb, intersectionParts);
    for (const auto& part : unionParts) unionArea += bg::area(part);
    for (const auto& part : intersectionParts) intersectionArea += bg::area(part);
    areaA = bg::area(pa);
    areaB = bg::area(pb);
  } catch (const std::exception&) {
    return;  // the overlay refuses input that the clip handles
  }
  if (!(unionArea > 1e-9 * span * span)) return;
  if (std::abs(unionArea - (areaA + areaB - intersectionArea)) > 1e-9 * (areaA + areaB)) return;
  if (std::abs(value - intersectionArea / unionArea) > 1e-6) checkAgainstExact(a, b, value);
}

void checkOverlap(const State& a, const State& b) {
  const double value = a.overlap(b);  // an exception escaping here is a finding too
  if (!std::isnan(value) && !(value >= 0.0 && value <= 1.0)) std::abort();
  checkAgainstOverlay(a, b, value);
}

bool sameBits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

// The batch operations report exactly the single-pair values.
void checkBatch(const State& a, const State& b) {
  const std::vector<State> first{a, b};
  const std::vector<State> second{b};
  const Eigen::MatrixXd matrix = zelvane::core::overlapMatrix(first, second);
  const auto pairs = zelvane::core::overlapPairs(first, second);
  std::size_t next = 0;
  for (std::size_t i = 0; i < first.size(); ++i) {
    const double value = first[i].overlap(b);
    const double cell = matrix(static_cast<Eigen::Index>(i), 0);
    if (!sameBits(cell, value) && !(std::isnan(cell) && std::isnan(value))) std::abort();
    if (value > 0.0) {
      if (next >= pairs.size() || pairs[next].first != i || !sameBits(pairs[next].value, value)) {
        std::abort();
      }
      ++next;
    }
  }
  if (next != pairs.size()) std::abort();
  const double d = a.distance(b);
  const auto gated = zelvane::core::distancePairs({a}, {b}, std::isnan(d) ? 1.0 : d);
  if (std::isnan(d) ? !gated.empty() : (gated.size() != 1 || !sameBits(gated[0].value, d))) {
    std::abort();
  }
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
  checkBatch(a, b);
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
  if ((values == a) &&
      !(a.position && a.velocity && a.acceleration && a.heading && a.headingRate && a.dimensions)) {
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
