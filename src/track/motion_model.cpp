#include "track/motion_model.h"

#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "track/heading.h"
#include "track/motion_model_steps.h"

namespace zelvane {
namespace track {
namespace {

constexpr float FLOAT_NAN = std::numeric_limits<float>::quiet_NaN();

// One step of a model: f(x, dt) and F = I + E, E given by its N non-zero entries, all in
// the first `ROWS` rows (the position and the heading), ordered so that no entry reads
// a row (or column) that an earlier one changes.
template <int N>
struct Transition {
  struct Entry {
    int row;
    int column;
    float value;
  };
  static constexpr int ROWS = 4;
  StateVector advanced;
  std::array<Entry, N> entries;
  // The turn model's direction of the chord of the step's arc (cos, sin).
  float chordCos = 1.0f;
  float chordSin = 0.0f;

  StateMatrix dense() const {
    StateMatrix F = StateMatrix::Identity();
    for (const Entry& e : entries) F(e.row, e.column) += e.value;
    return F;
  }
};

// P <- F P F' for F = I + E and a symmetric P, in place. First B = P F': the columns of
// P E' added to P (whole columns, which vectorise). F B then differs from B only in
// E's rows; there, outside the first ROWS columns it is the mirror of B's columns
// (F B = F P F' is symmetric, and its other rows are B's), and inside them E's rows of
// B are added. The entries' order lets each read rows and columns that no earlier
// entry has changed. P comes out exactly symmetric, as the update needs (it reads a
// row of P as its column).
template <int N>
void propagate(const Transition<N>& t, StateMatrix& P) {
  constexpr int ROWS = Transition<N>::ROWS;
  for (const auto& e : t.entries) P.col(e.row) += e.value * P.col(e.column);
  for (const auto& e : t.entries) {
    P.template block<1, ROWS>(e.row, 0) += e.value * P.template block<1, ROWS>(e.column, 0);
  }
  // The mirror, as fixed-size blocks that compile to plain copies: the rows right of the
  // first ROWS columns, then the upper triangle of the corner.
  P.template block<ROWS, STATE_SIZE - ROWS>(0, ROWS) =
      P.template block<STATE_SIZE - ROWS, ROWS>(ROWS, 0).transpose();
  P.template topLeftCorner<ROWS, ROWS>().template triangularView<Eigen::StrictlyUpper>() =
      P.template topLeftCorner<ROWS, ROWS>().transpose();
}

// Continuous white noise of density q on the derivative of a rate, integrated over dt
// into the pair (value, rate): q [dt^3/3, dt^2/2; dt^2/2, dt].
struct IntegratedNoise {
  float value;
  float cross;
  float rate;

  IntegratedNoise() : value(0.0f), cross(0.0f), rate(0.0f) {}
  IntegratedNoise(float q, float dt)
      : value(q * dt * dt * dt / 3.0f), cross(q * dt * dt / 2.0f), rate(q * dt) {}
};

// Adds `noise` to the pair (Value, Rate); the entries are template arguments so that
// it is four additions at fixed places.
template <int Value, int Rate>
void addIntegratedNoise(StateMatrix& P, const IntegratedNoise& noise) {
  P(Value, Value) += noise.value;
  P(Value, Rate) += noise.cross;
  P(Rate, Value) += noise.cross;
  P(Rate, Rate) += noise.rate;
}

void addSizeNoise(StateMatrix& P, float size) {
  P(LENGTH, LENGTH) += size;
  P(WIDTH, WIDTH) += size;
  P(HEIGHT, HEIGHT) += size;
}

// A model's process noise over a step of dt, the same for every estimate (but for the
// turn model's direction): worked out once for a batch.
struct StepNoise {
  // Along each horizontal axis (constant velocity), along the heading (turn).
  IntegratedNoise horizontal;
  IntegratedNoise vertical;
  float size;
  // Constant velocity's heading noise; the turn model's noise of the heading and its
  // rate.
  float heading = 0.0f;
  IntegratedNoise turn;

  StepNoise(const CommonMotionParameters& model, float dt)
      : horizontal(model.accelerationNoise * model.accelerationNoise, dt),
        vertical(model.verticalAccelerationNoise * model.verticalAccelerationNoise, dt),
        size(model.sizeNoise * model.sizeNoise * dt) {}
};

StepNoise noiseOf(const ConstantVelocity& model, float dt) {
  StepNoise noise(model, dt);
  noise.heading = model.headingNoise * model.headingNoise * dt;
  return noise;
}

StepNoise noiseOf(const ConstantTurnRate& model, float dt) {
  StepNoise noise(model, dt);
  noise.turn = IntegratedNoise(model.turnAccelerationNoise * model.turnAccelerationNoise, dt);
  return noise;
}

void addVelocityNoise(const StepNoise& noise, StateMatrix& P) {
  addIntegratedNoise<POSITION_X, VELOCITY_X>(P, noise.horizontal);
  addIntegratedNoise<POSITION_Y, VELOCITY_Y>(P, noise.horizontal);
  addIntegratedNoise<POSITION_Z, VELOCITY_Z>(P, noise.vertical);
  P(HEADING, HEADING) += noise.heading;
  addSizeNoise(P, noise.size);
}

// The along-track noise lies along the chord of the step's arc, the heading of
// mid-step, of direction (c, s).
void addTurnNoise(const StepNoise& noise, float c, float s, StateMatrix& P) {
  const float along = noise.horizontal.value;
  const float cross = noise.horizontal.cross;
  P(POSITION_X, POSITION_X) += along * c * c;
  P(POSITION_X, POSITION_Y) += along * c * s;
  P(POSITION_Y, POSITION_X) += along * c * s;
  P(POSITION_Y, POSITION_Y) += along * s * s;
  P(POSITION_X, SPEED) += cross * c;
  P(SPEED, POSITION_X) += cross * c;
  P(POSITION_Y, SPEED) += cross * s;
  P(SPEED, POSITION_Y) += cross * s;
  P(SPEED, SPEED) += noise.horizontal.rate;
  addIntegratedNoise<HEADING, TURN_RATE>(P, noise.turn);
  addIntegratedNoise<POSITION_Z, VELOCITY_Z>(P, noise.vertical);
  addSizeNoise(P, noise.size);
}

Transition<3> transitionOf(const ConstantVelocity& /*model*/, const StateVector& x, float dt) {
  Transition<3> t;
  t.advanced = x;
  for (int axis = 0; axis < 3; ++axis) {
    t.advanced[POSITION_X + axis] += dt * x[VELOCITY_X + axis];
    t.entries[axis] = {POSITION_X + axis, VELOCITY_X + axis, dt};
  }
  return t;
}

// The arc's terms as functions of the turn a = rate * dt over the step:
// sin(h + a) - sin h = a (cos h f1 - sin h f2), cos h - cos(h + a) = a (sin h f1 + cos h f2)
// with f1 = sin a / a, f2 = (1 - cos a) / a, and their derivatives in a; and the sine
// and cosine of a / 2, which turn the heading to the chord.
struct ArcTerms {
  double f1, f2, f1Prime, f2Prime, halfSine, halfCosine;
};

ArcTerms arcTerms(double a) {
  // Turns below 0.1 (every step of a vehicle at a frame rate) take the Taylor series,
  // which need no trigonometry and do not cancel; their first omitted terms are below
  // 3e-16 there. Larger turns take the closed forms.
  if (std::fabs(a) < 0.1) {
    const double a2 = a * a;
    const double h = 0.5 * a;
    const double h2 = h * h;
    return {1.0 + a2 * (-1.0 / 6 + a2 * (1.0 / 120 + a2 * (-1.0 / 5040 + a2 / 362880))),
            a * (0.5 + a2 * (-1.0 / 24 + a2 * (1.0 / 720 + a2 * (-1.0 / 40320 + a2 / 3628800)))),
            a * (-1.0 / 3 + a2 * (1.0 / 30 + a2 * (-1.0 / 840 + a2 / 45360))),
            0.5 + a2 * (-1.0 / 8 + a2 * (1.0 / 144 + a2 * (-1.0 / 5760 + a2 / 403200))),
            h * (1.0 + h2 * (-1.0 / 6 + h2 * (1.0 / 120 - h2 / 5040))),
            1.0 + h2 * (-0.5 + h2 * (1.0 / 24 + h2 * (-1.0 / 720 + h2 / 40320)))};
  }
  const double halfSine = std::sin(0.5 * a);
  const double halfCosine = std::cos(0.5 * a);
  const double sine = 2.0 * halfSine * halfCosine;
  const double cosine = 1.0 - 2.0 * halfSine * halfSine;
  const double oneMinusCos = 2.0 * halfSine * halfSine;
  return {
      sine / a, oneMinusCos / a, (a * cosine - sine) / (a * a), (a * sine - oneMinusCos) / (a * a),
      halfSine, halfCosine};
}

Transition<8> transitionOf(const ConstantTurnRate& /*model*/, const StateVector& x, float dt) {
  const double h = x[HEADING];
  const double speed = x[SPEED];
  const double rate = x[TURN_RATE];
  const double step = dt;
  const ArcTerms arc = arcTerms(rate * step);
  // The heading's sine and cosine in float: their rounding (a float unit) is below that
  // of the float state they move.
  const double c = std::cos(x[HEADING]);
  const double s = std::sin(x[HEADING]);
  const double alongX = c * arc.f1 - s * arc.f2;  // displacement per (speed * dt)
  const double alongY = s * arc.f1 + c * arc.f2;
  const double dx = speed * step * alongX;
  const double dy = speed * step * alongY;

  Transition<8> t;
  t.advanced = x;
  t.advanced[POSITION_X] = static_cast<float>(x[POSITION_X] + dx);
  t.advanced[POSITION_Y] = static_cast<float>(x[POSITION_Y] + dy);
  t.advanced[POSITION_Z] += dt * x[VELOCITY_Z];
  t.advanced[HEADING] = static_cast<float>(wrapAngle(h + rate * step));
  t.chordCos = static_cast<float>(c * arc.halfCosine - s * arc.halfSine);
  t.chordSin = static_cast<float>(s * arc.halfCosine + c * arc.halfSine);
  t.entries = {{{POSITION_X, HEADING, static_cast<float>(-dy)},
                {POSITION_X, SPEED, static_cast<float>(step * alongX)},
                {POSITION_X, TURN_RATE,
                 static_cast<float>(speed * step * step * (c * arc.f1Prime - s * arc.f2Prime))},
                {POSITION_Y, HEADING, static_cast<float>(dx)},
                {POSITION_Y, SPEED, static_cast<float>(step * alongY)},
                {POSITION_Y, TURN_RATE,
                 static_cast<float>(speed * step * step * (s * arc.f1Prime + c * arc.f2Prime))},
                {HEADING, TURN_RATE, dt},
                {POSITION_Z, VELOCITY_Z, dt}}};
  return t;
}

// The entries of the `STATE_SIZE` floats at `v` that are not 0 (NaN counts as not 0), one
// bit each, entry j at bit j.
// The update looks for them in every column it takes; scanning ten floats one by one
// cost more than the update's arithmetic.
unsigned nonZeroEntries(const float* v) {
  static_assert(STATE_SIZE == 10, "three groups of four entries, the last half empty");
#if defined(__SSE2__)
  const __m128 zero = _mm_setzero_ps();
  unsigned bits = static_cast<unsigned>(_mm_movemask_ps(_mm_cmpneq_ps(_mm_loadu_ps(v), zero)));
  bits |= static_cast<unsigned>(_mm_movemask_ps(_mm_cmpneq_ps(_mm_loadu_ps(v + 4), zero))) << 4;
  bits |= static_cast<unsigned>(
              _mm_movemask_ps(_mm_cmpneq_ps(_mm_setr_ps(v[8], v[9], 0.0f, 0.0f), zero)))
          << 8;
  return bits;
#else
  unsigned bits = 0;
  for (int j = 0; j < STATE_SIZE; ++j) bits |= (v[j] != 0.0f ? 1u : 0u) << j;
  return bits;
#endif
}

// The index of the lowest set bit of `bits`, which is not 0.
int lowestBit(unsigned bits) {
#if defined(__GNUC__)
  return __builtin_ctz(bits);
#else
  int index = 0;
  for (; (bits & 1u) == 0; bits >>= 1) ++index;
  return index;
#endif
}

// The step of entry i of the sequential update when it is coupled with itself alone
// or with one other entry (`coupled`; a model's entries mostly are): x and P change
// only in the rows and columns of those entries, a block of at most 2 x 2, which is
// updated alone, each entry as the whole update would. False, changing nothing, when
// more entries are coupled.
bool updateBlock(Estimate& estimate, int i, float y, float gain, unsigned coupled) {
  const unsigned others = coupled & ~(1u << i);
  if ((others & (others - 1)) != 0 || (coupled & (1u << i)) == 0) return false;
  const float ci = estimate.P(i, i);
  const float ki = ci * gain;
  estimate.x[i] += ki * y;
  if (others == 0) {
    estimate.P(i, i) -= ci * ki;
    return true;
  }
  const int j = lowestBit(others);
  const float cj = estimate.P(j, i);
  const float kj = cj * gain;
  estimate.x[j] += kj * y;
  estimate.P(i, i) -= ci * ki;
  estimate.P(j, i) -= ci * kj;
  estimate.P(i, j) -= cj * ki;
  estimate.P(j, j) -= cj * kj;
  return true;
}

void checkStep(float dt) {
  if (!(dt >= 0.0f) || !std::isfinite(dt)) {
    throw std::invalid_argument("predict: the time step must be finite and not negative, not " +
                                std::to_string(dt));
  }
}

void predictChecked(const ConstantVelocity& model, const StepNoise& noise, Estimate& estimate,
                    float dt) {
  if (dt == 0.0f) return;
  const auto t = transitionOf(model, estimate.x, dt);
  propagate(t, estimate.P);
  addVelocityNoise(noise, estimate.P);
  estimate.x = t.advanced;
}

void predictChecked(const ConstantTurnRate& model, const StepNoise& noise, Estimate& estimate,
                    float dt) {
  if (dt == 0.0f) return;
  const auto t = transitionOf(model, estimate.x, dt);
  propagate(t, estimate.P);
  addTurnNoise(noise, t.chordCos, t.chordSin, estimate.P);
  estimate.x = t.advanced;
}

// Predicts the `count` estimates from `estimates`, the step checked.
template <class Model>
void predictAll(const Model& model, Estimate* estimates, std::size_t count, float dt) {
  const auto noise = noiseOf(model, dt);
  for (std::size_t i = 0; i < count; ++i) predictChecked(model, noise, estimates[i], dt);
}

template <class Model>
Estimate initialOf(const Model& model, const MeasurementVector& z, const MeasurementVector& r) {
  Estimate estimate;
  estimate.x.head<MEASUREMENT_SIZE>() = z;
  estimate.x[HEADING] = wrapAngle(z[HEADING]);
  estimate.P.topLeftCorner<MEASUREMENT_SIZE, MEASUREMENT_SIZE>() = r.asDiagonal();
  estimate.P.bottomRightCorner<3, 3>() = model.initialMotionCovariance();
  return estimate;
}

// Writes the common members of `stateOf` into `state`: the centre, heading and extents.
void writeBoxState(const Estimate& e, core::State& state) {
  state.position.emplace();
  state.position->mean = e.x.head<3>();
  state.position->covariance = e.P.topLeftCorner<3, 3>();
  state.heading = Gaussian<float, 1>{e.x[HEADING], e.P(HEADING, HEADING)};
  state.dimensions.emplace(e.x[LENGTH], e.x[WIDTH], e.x[HEIGHT]);
}

// The box centre of `box`, which has a position: `State::centroid`, which subtracts the
// anchor turned by the heading. Boxes mostly come with the anchor at the centre, where
// that subtracts zeros and leaves a coordinate that is not 0 as it is: such a box's
// centre is its position, without the heading's sine and cosine. (A zero coordinate
// could change its sign there, and a heading that is not finite makes the centroid
// NaN: both take the centroid.)
Eigen::Vector3f centreOf(const core::State& box) {
  const Eigen::Vector3f& p = box.position->mean;
  const bool centred =
      !box.dimensions || (box.dimensions->anchor.x == 0.0f && box.dimensions->anchor.y == 0.0f &&
                          box.dimensions->anchor.z == 0.0f);
  const bool finiteHeading = !box.heading || std::isfinite(box.heading->mean);
  if (centred && finiteHeading && p.x() != 0.0f && p.y() != 0.0f) return p;
  return box.centroid();
}

}  // namespace

MeasurementVector MeasurementNoise::variances() const {
  MeasurementVector r;
  r << horizontal * horizontal, horizontal * horizontal, vertical * vertical, heading * heading,
      size * size, size * size, size * size;
  return r;
}

StateVector ConstantVelocity::advance(const StateVector& x, float dt) const {
  return transitionOf(*this, x, dt).advanced;
}

StateMatrix ConstantVelocity::transition(const StateVector& x, float dt) const {
  return transitionOf(*this, x, dt).dense();
}

StateMatrix ConstantVelocity::processNoise(const StateVector& /*x*/, float dt) const {
  StateMatrix Q = StateMatrix::Zero();
  addVelocityNoise(noiseOf(*this, dt), Q);
  return Q;
}

Eigen::Matrix3f ConstantVelocity::initialMotionCovariance() const {
  const float horizontal = initialSpeed * initialSpeed;
  return Eigen::Vector3f(horizontal, horizontal, initialVerticalSpeed * initialVerticalSpeed)
      .asDiagonal();
}

StateVector ConstantTurnRate::advance(const StateVector& x, float dt) const {
  return transitionOf(*this, x, dt).advanced;
}

StateMatrix ConstantTurnRate::transition(const StateVector& x, float dt) const {
  return transitionOf(*this, x, dt).dense();
}

StateMatrix ConstantTurnRate::processNoise(const StateVector& x, float dt) const {
  const auto t = transitionOf(*this, x, dt);
  StateMatrix Q = StateMatrix::Zero();
  addTurnNoise(noiseOf(*this, dt), t.chordCos, t.chordSin, Q);
  return Q;
}

Eigen::Matrix3f ConstantTurnRate::initialMotionCovariance() const {
  return Eigen::Vector3f(initialSpeed * initialSpeed, initialTurnRate * initialTurnRate,
                         initialVerticalSpeed * initialVerticalSpeed)
      .asDiagonal();
}

void predict(const ConstantVelocity& model, Estimate& estimate, float dt) {
  predict(model, &estimate, 1, dt);
}

void predict(const ConstantTurnRate& model, Estimate& estimate, float dt) {
  predict(model, &estimate, 1, dt);
}

void predict(const ConstantVelocity& model, Estimate* estimates, std::size_t count, float dt) {
  checkStep(dt);
  predictAll(model, estimates, count, dt);
}

void predict(const ConstantTurnRate& model, Estimate* estimates, std::size_t count, float dt) {
  checkStep(dt);
  predictAll(model, estimates, count, dt);
}

UpdateOutcome update(Estimate& estimate, const MeasurementVector& z, const MeasurementVector& r) {
  if (!z.allFinite() || !r.allFinite() || !(r.array() >= 0.0f).all()) {
    return UpdateOutcome::Rejected;
  }
  return updateChecked(estimate, z, r);
}

UpdateOutcome updateChecked(Estimate& estimate, const MeasurementVector& z,
                            const MeasurementVector& r) {
  const HeadingInnovation heading = headingInnovation(z[HEADING], estimate.x[HEADING]);
  const float priorHeading = estimate.x[HEADING];
  const Estimate prior = estimate;
  for (int i = 0; i < MEASUREMENT_SIZE; ++i) {
    // The heading measured as read against the prior, less what the earlier entries
    // moved the heading since.
    const float y =
        i == HEADING ? heading.value - (estimate.x[HEADING] - priorHeading) : z[i] - estimate.x[i];
    const float s = estimate.P(i, i) + r[i];
    if (!(s > 0.0f) || !std::isfinite(s)) {
      estimate = prior;
      return UpdateOutcome::Rejected;
    }
    // k = P(:, i) / s; x <- x + k y; P <- P - k P(i, :). Only the entries coupled with
    // entry i (P(:, i) not 0) change: elsewhere k is 0 and so is the change of x, and
    // the columns of the others do not change at all.
    const unsigned coupled = nonZeroEntries(estimate.P.col(i).data());
    if (updateBlock(estimate, i, y, 1.0f / s, coupled)) continue;
    const StateVector c = estimate.P.col(i);
    const StateVector k = c * (1.0f / s);
    estimate.x += k * y;
    for (unsigned columns = coupled; columns != 0; columns &= columns - 1) {
      const int j = lowestBit(columns);
      estimate.P.col(j) -= c[j] * k;
    }
  }
  estimate.x[HEADING] = wrapAngle(estimate.x[HEADING]);
  return heading.flipped ? UpdateOutcome::UpdatedFlipped : UpdateOutcome::Updated;
}

Estimate initialEstimate(const ConstantVelocity& model, const MeasurementVector& z,
                         const MeasurementVector& r) {
  return initialOf(model, z, r);
}

Estimate initialEstimate(const ConstantTurnRate& model, const MeasurementVector& z,
                         const MeasurementVector& r) {
  return initialOf(model, z, r);
}

MeasurementVector measurementOf(const core::State& box) {
  const Eigen::Vector3f absent = Eigen::Vector3f::Constant(FLOAT_NAN);
  MeasurementVector z;
  z.head<3>() = box.position ? centreOf(box) : absent;
  z[HEADING] = box.heading ? wrapAngle(box.heading->mean) : FLOAT_NAN;
  z.tail<3>() = box.dimensions ? Eigen::Vector3f(box.dimensions->length, box.dimensions->width,
                                                 box.dimensions->height)
                               : absent;
  return z;
}

void writeState(const ConstantVelocity& /*model*/, const Estimate& estimate, core::State& state) {
  writeBoxState(estimate, state);
  state.velocity.emplace();
  state.velocity->mean = estimate.x.segment<3>(VELOCITY_X);
  state.velocity->covariance = estimate.P.block<3, 3>(VELOCITY_X, VELOCITY_X);
}

void writeState(const ConstantTurnRate& /*model*/, const Estimate& estimate, core::State& state) {
  writeBoxState(estimate, state);
  const float h = estimate.x[HEADING];
  const float speed = estimate.x[SPEED];
  const float c = std::cos(h);
  const float s = std::sin(h);
  // The velocity as a function of (heading, speed, vz), linearised at the estimate.
  Eigen::Matrix3f J;
  J << -speed * s, c, 0.0f, speed * c, s, 0.0f, 0.0f, 0.0f, 1.0f;
  const std::array<int, 3> at{HEADING, SPEED, VELOCITY_Z};
  Eigen::Matrix3f covariance;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) covariance(i, j) = estimate.P(at[i], at[j]);
  }
  state.velocity = Gaussian<float, 3>{Eigen::Vector3f(speed * c, speed * s, estimate.x[VELOCITY_Z]),
                                      J * covariance * J.transpose()};
  state.headingRate = Gaussian<float, 1>{estimate.x[TURN_RATE], estimate.P(TURN_RATE, TURN_RATE)};
}

core::State stateOf(const ConstantVelocity& model, const Estimate& estimate) {
  core::State state;
  writeState(model, estimate, state);
  return state;
}

core::State stateOf(const ConstantTurnRate& model, const Estimate& estimate) {
  core::State state;
  writeState(model, estimate, state);
  return state;
}

}  // namespace track
}  // namespace zelvane
