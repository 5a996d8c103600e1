#include "core/state.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

#include "core/footprint.h"
#include "numeric_policy.h"

namespace zelvane {
namespace core {
namespace {

using Vector2 = Eigen::Matrix<float, 2, 1>;
using Matrix2 = Eigen::Matrix<float, 2, 2>;

constexpr float FLOAT_NAN = std::numeric_limits<float>::quiet_NaN();

Matrix2 rotationOf(float cosine, float sine) {
  Matrix2 r;
  r << cosine, -sine, sine, cosine;
  return r;
}

// The centre from a rotation already computed, so that one footprint evaluates the
// heading's sine and cosine once.
Vector2 centre2D(const State& state, const Matrix2& rotation) {
  if (!state.position) return Vector2(FLOAT_NAN, FLOAT_NAN);
  const auto& p = state.position->mean;
  const float ax = state.dimensions ? state.dimensions->anchor.x : 0.0f;
  const float ay = state.dimensions ? state.dimensions->anchor.y : 0.0f;
  return detail::boxCentre(rotation, p.x(), p.y(), ax, ay);
}

float halfLengthOf(const State& state) {
  return state.dimensions ? 0.5f * state.dimensions->length : 0.0f;
}

float halfWidthOf(const State& state) {
  return state.dimensions ? 0.5f * state.dimensions->width : 0.0f;
}

detail::Corners cornersOf(const StateValues& values) {
  return detail::boxCorners(values.rotationMatrix(), values.centroid2D(), 0.5f * values.length,
                            0.5f * values.width);
}

// Expects a position. Called for every pair a tracker asks about, so it reads each
// optional member once.
inline detail::FootprintInputs inputsOf(const State& state) {
  const auto& p = state.position->mean;
  detail::FootprintInputs in{p.x(), p.y(), 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  if (state.dimensions) {
    const auto& d = *state.dimensions;
    in.anchorX = d.anchor.x;
    in.anchorY = d.anchor.y;
    in.halfLength = 0.5f * d.length;
    in.halfWidth = 0.5f * d.width;
  }
  if (state.heading) in.heading = state.heading->mean;
  return in;
}

std::vector<Vector2> asVector(const detail::Corners& corners) {
  return std::vector<Vector2>(corners.begin(), corners.end());
}

FootprintPolygon asPolygon(const detail::Corners& corners) {
  FootprintPolygon polygon;
  detail::appendClosedRing(corners, polygon);
  return polygon;
}

bool equal3(const Eigen::Vector3f& v, float x, float y, float z) {
  return approximatelyEqual(x, v.x()) && approximatelyEqual(y, v.y()) &&
         approximatelyEqual(z, v.z());
}

void writeGaussian(std::ostream& stream, const boost::optional<Gaussian<float, 3>>& value) {
  if (!value) {
    stream << "(not available)"
           << "\n";
    return;
  }
  stream << "mean: " << value->mean.transpose() << "\n"
         << "covariance:\n"
         << value->covariance << "\n";
}

void writeGaussian(std::ostream& stream, const boost::optional<Gaussian<float, 1>>& value) {
  if (!value) {
    stream << "(not available)"
           << "\n";
    return;
  }
  stream << "mean: " << value->mean << "\n"
         << "covariance: " << value->covariance << "\n";
}

}  // namespace

detail::Corners detail::cornersOf(const State& state) {
  const Matrix2 r = state.rotationMatrix();
  return detail::boxCorners(r, centre2D(state, r), halfLengthOf(state), halfWidthOf(state));
}

detail::VerticalExtent detail::verticalExtentOf(const State& state) {
  const double height = state.dimensions ? std::abs(state.dimensions->height) : 0.0;
  return detail::VerticalExtent{state.centroid().z(), 0.5 * height};
}

// --- State: construction -----------------------------------------------------------

State State::box(const Eigen::Vector3f& position, float heading, float length, float width,
                 float height, const tkit::Cart<float, frames::Trackable>& anchor,
                 const Eigen::Matrix3f& positionCovariance, float headingVariance) {
  State state;
  state.position = Gaussian<float, 3>{position, positionCovariance};
  state.heading = Gaussian<float, 1>{heading, headingVariance};
  state.dimensions = Dimensions<float, frames::Trackable>(length, width, height, anchor);
  return state;
}

// --- State: projections -------------------------------------------------------------

boost::optional<Gaussian<float, 2>> State::convertTo2D(
    const boost::optional<Gaussian<float, 3>>& value) const {
  if (!value) return boost::none;
  Gaussian<float, 2> result;
  result.mean = value->mean.head<2>();
  result.covariance = value->covariance.topLeftCorner<2, 2>();
  return result;
}

boost::optional<Gaussian<float, 2>> State::position2D() const { return convertTo2D(position); }

boost::optional<Gaussian<float, 2>> State::velocity2D() const { return convertTo2D(velocity); }

boost::optional<Gaussian<float, 2>> State::acceleration2D() const {
  return convertTo2D(acceleration);
}

// --- State: footprint geometry ------------------------------------------------------

Matrix2 State::rotationMatrix() const {
  if (!heading) return Matrix2::Identity();
  float sine = 0.0f;
  float cosine = 1.0f;
  ::sincosf(heading->mean, &sine, &cosine);
  return rotationOf(cosine, sine);
}

Vector2 State::centroid2D() const { return centre2D(*this, rotationMatrix()); }

Eigen::Vector3f State::centroid() const {
  if (!position) return Eigen::Vector3f::Constant(FLOAT_NAN);
  const Vector2 c = centroid2D();
  const float pz = position->mean.z();
  const float z =
      dimensions
          ? static_cast<float>(static_cast<double>(pz) - static_cast<double>(dimensions->anchor.z))
          : pz;
  return Eigen::Vector3f(c.x(), c.y(), z);
}

std::vector<Vector2> State::getCorners2D() const { return asVector(detail::cornersOf(*this)); }

FootprintPolygon State::getBoostPolygon() const { return asPolygon(detail::cornersOf(*this)); }

float State::velocityHeading() const {
  if (!velocity) return 0.0f;
  return std::atan2(velocity->mean.y(), velocity->mean.x());
}

float State::relativeHeading(const State& other) const {
  if (!heading || !other.heading) return FLOAT_NAN;
  const float d = heading->mean - other.heading->mean;
  float x = static_cast<float>(std::fmod(static_cast<double>(d) + numeric::PI, numeric::TWO_PI));
  if (x < 0.0f) x = static_cast<float>(static_cast<double>(x) + numeric::TWO_PI);
  return static_cast<float>(static_cast<double>(x) - numeric::PI);
}

// --- State: overlap and distance ----------------------------------------------------

double State::overlap(const State& other) const {
  if (!position || !other.position) return std::numeric_limits<double>::quiet_NaN();
  // Most pairs a tracker asks about are far apart: settle them before any sine.
  if (detail::boundingSquaresApart(inputsOf(*this), inputsOf(other))) return 0.0;

  const detail::Corners a = detail::cornersOf(*this);
  const detail::Corners b = detail::cornersOf(other);
  if (!detail::allFinite(a) || !detail::allFinite(b)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return detail::overlapOfCorners(a, b);
}

double State::generalizedOverlap(const State& other) const {
  if (!position || !other.position) return std::numeric_limits<double>::quiet_NaN();
  const detail::Corners a = detail::cornersOf(*this);
  const detail::Corners b = detail::cornersOf(other);
  if (!detail::allFinite(a) || !detail::allFinite(b)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return detail::generalizedOverlapOfCorners(a, b);
}

double State::overlap3d(const State& other) const {
  if (!position || !other.position) return std::numeric_limits<double>::quiet_NaN();
  const detail::VerticalExtent va = detail::verticalExtentOf(*this);
  const detail::VerticalExtent vb = detail::verticalExtentOf(other);
  const bool finite = std::isfinite(va.centre) && std::isfinite(va.halfHeight) &&
                      std::isfinite(vb.centre) && std::isfinite(vb.halfHeight);
  // Footprints apart share no volume; settled before any sine, as for `overlap`.
  if (finite && detail::boundingSquaresApart(inputsOf(*this), inputsOf(other))) return 0.0;
  const detail::Corners a = detail::cornersOf(*this);
  const detail::Corners b = detail::cornersOf(other);
  if (!detail::allFinite(a) || !detail::allFinite(b)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return detail::overlap3dOfCorners(a, va, b, vb);
}

double State::distance(const State& other) const {
  if (!position || !other.position) return std::numeric_limits<double>::quiet_NaN();
  const detail::Corners a = detail::cornersOf(*this);
  const detail::Corners b = detail::cornersOf(other);
  if (!detail::allFinite(a) || !detail::allFinite(b)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return detail::cornerDistance(a, b);
}

double State::centroidDistance(const State& other) const {
  if (!position || !other.position) return std::numeric_limits<double>::quiet_NaN();
  const Vector2 a = centroid2D();
  const Vector2 b = other.centroid2D();
  if (!a.allFinite() || !b.allFinite()) return std::numeric_limits<double>::quiet_NaN();
  return detail::centreDistance(a, b);
}

double State::centroidDistance3d(const State& other) const {
  if (!position || !other.position) return std::numeric_limits<double>::quiet_NaN();
  const Eigen::Vector3f a = centroid();
  const Eigen::Vector3f b = other.centroid();
  if (!a.allFinite() || !b.allFinite()) return std::numeric_limits<double>::quiet_NaN();
  return detail::centreDistance(a, b);
}

float State::getSquaredDistance(const State& a, const State& b) {
  if (!a.position || !b.position) return FLOAT_NAN;
  const Eigen::Vector3f d = a.position->mean - b.position->mean;
  const float yz = d.y() * d.y() + d.z() * d.z();
  return yz + d.x() * d.x();
}

// --- StateValues ---------------------------------------------------------------------

StateValues::StateValues(float positionX, float positionY, float positionZ, float velocityX,
                         float velocityY, float velocityZ, float accelerationX, float accelerationY,
                         float accelerationZ, float centroidX, float centroidY, float centroidZ,
                         float length, float width, float height, float anchorX, float anchorY,
                         float anchorZ, float heading, float headingRate)
    : positionX(positionX),
      positionY(positionY),
      positionZ(positionZ),
      velocityX(velocityX),
      velocityY(velocityY),
      velocityZ(velocityZ),
      accelerationX(accelerationX),
      accelerationY(accelerationY),
      accelerationZ(accelerationZ),
      centroidX(centroidX),
      centroidY(centroidY),
      centroidZ(centroidZ),
      length(length),
      width(width),
      height(height),
      anchorX(anchorX),
      anchorY(anchorY),
      anchorZ(anchorZ),
      heading(heading),
      headingRate(headingRate) {}

StateValues::StateValues(const State& state)
    : StateValues(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) {
  *this = state;
}

StateValues::StateValues(State&& state) : StateValues(static_cast<const State&>(state)) {}

StateValues& StateValues::operator=(const State& state) {
  // An absent member contributes zeros; its storage is never read.
  const Eigen::Vector3f zero = Eigen::Vector3f::Zero();
  const Eigen::Vector3f& p = state.position ? state.position->mean : zero;
  const Eigen::Vector3f& v = state.velocity ? state.velocity->mean : zero;
  const Eigen::Vector3f& a = state.acceleration ? state.acceleration->mean : zero;
  const Eigen::Vector3f c = state.centroid();
  positionX = p.x();
  positionY = p.y();
  positionZ = p.z();
  velocityX = v.x();
  velocityY = v.y();
  velocityZ = v.z();
  accelerationX = a.x();
  accelerationY = a.y();
  accelerationZ = a.z();
  centroidX = c.x();
  centroidY = c.y();
  centroidZ = c.z();
  if (state.dimensions) {
    length = state.dimensions->length;
    width = state.dimensions->width;
    height = state.dimensions->height;
    anchorX = state.dimensions->anchor.x;
    anchorY = state.dimensions->anchor.y;
    anchorZ = state.dimensions->anchor.z;
  } else {
    length = width = height = anchorX = anchorY = anchorZ = 0.0f;
  }
  heading = state.heading ? state.heading->mean : 0.0f;
  headingRate = state.headingRate ? state.headingRate->mean : 0.0f;
  return *this;
}

Matrix2 StateValues::rotationMatrix() const {
  return rotationOf(std::cos(heading), std::sin(heading));
}

Vector2 StateValues::centroid2D() const {
  return detail::boxCentre(rotationMatrix(), positionX, positionY, anchorX, anchorY);
}

std::vector<Vector2> StateValues::getCorners2D() const { return asVector(cornersOf(*this)); }

FootprintPolygon StateValues::getBoostPolygon() const { return asPolygon(cornersOf(*this)); }

// --- comparison ---------------------------------------------------------------------

bool approximatelyEqual(float a, float b) {
  constexpr float EPSILON = numeric::APPROXIMATE_EQUALITY;
  if (a == b) return true;
  const float difference = std::abs(a - b);
  if (difference <= EPSILON) return true;
  // The bound scales with the larger magnitude, so that a value and its negation have
  // the same tolerance. With an infinite operand the bound is infinite too and would
  // pass any difference; infinities equal only themselves (first test).
  return std::isfinite(difference) && difference <= std::max(std::abs(a), std::abs(b)) * EPSILON;
}

bool StateValues::operator==(const StateValues& o) const {
  const float mine[] = {positionX, positionY,     positionZ,     velocityX,     velocityY,
                        velocityZ, accelerationX, accelerationY, accelerationZ, centroidX,
                        centroidY, centroidZ,     length,        width,         height,
                        anchorX,   anchorY,       anchorZ,       heading,       headingRate};
  const float theirs[] = {o.positionX,     o.positionY, o.positionZ,     o.velocityX,
                          o.velocityY,     o.velocityZ, o.accelerationX, o.accelerationY,
                          o.accelerationZ, o.centroidX, o.centroidY,     o.centroidZ,
                          o.length,        o.width,     o.height,        o.anchorX,
                          o.anchorY,       o.anchorZ,   o.heading,       o.headingRate};
  return std::equal(std::begin(mine), std::end(mine), std::begin(theirs), approximatelyEqual);
}

bool StateValues::operator==(const State& state) const {
  if (!state.position || !state.velocity || !state.acceleration || !state.dimensions ||
      !state.heading || !state.headingRate) {
    return false;
  }
  const auto& d = *state.dimensions;
  return equal3(state.position->mean, positionX, positionY, positionZ) &&
         equal3(state.velocity->mean, velocityX, velocityY, velocityZ) &&
         equal3(state.acceleration->mean, accelerationX, accelerationY, accelerationZ) &&
         equal3(state.centroid(), centroidX, centroidY, centroidZ) &&
         approximatelyEqual(length, d.length) && approximatelyEqual(width, d.width) &&
         approximatelyEqual(height, d.height) && approximatelyEqual(anchorX, d.anchor.x) &&
         approximatelyEqual(anchorY, d.anchor.y) && approximatelyEqual(anchorZ, d.anchor.z) &&
         approximatelyEqual(heading, state.heading->mean) &&
         approximatelyEqual(headingRate, state.headingRate->mean);
}

bool operator==(const State& state, const StateValues& values) { return values == state; }

// --- text form ----------------------------------------------------------------------

std::ostream& operator<<(std::ostream& stream, const State& state) {
  stream << "POSITION\n";
  writeGaussian(stream, state.position);
  stream << "VELOCITY\n";
  writeGaussian(stream, state.velocity);
  stream << "ACCELERATION\n";
  writeGaussian(stream, state.acceleration);
  stream << "HEADING\n";
  writeGaussian(stream, state.heading);
  stream << "HEADING RATE\n";
  writeGaussian(stream, state.headingRate);
  stream << "DIMENSIONS\n";
  if (state.dimensions) {
    const auto& d = *state.dimensions;
    stream << " length: " << d.length << " width: " << d.width << " height: " << d.height
           << "\nanchor: (" << d.anchor.x << ", " << d.anchor.y << ", " << d.anchor.z << ")\n";
  } else {
    stream << "(not available)"
           << "\n";
  }
  return stream;
}

}  // namespace core
}  // namespace zelvane
