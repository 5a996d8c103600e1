/// @file
/// Motion models of a tracked box and the Kalman filter that runs them: predict over a
/// time step, update with a measured box.
///
/// Method: the Kalman filter (R. E. Kalman, "A new approach to linear filtering and
/// prediction problems", J. Basic Engineering 82 (1960) 35-45), extended to the
/// non-linear turn of `ConstantTurnRate` by linearisation about the estimate (the
/// extended Kalman filter; Y. Bar-Shalom, X. R. Li, T. Kirubarajan, "Estimation with
/// Applications to Tracking and Navigation", Wiley 2001, ch. 5 and 10). The process
/// noise is continuous white noise integrated over the step (ibid. 6.2.2); the turn
/// model is the CTRV model of R. Schubert, E. Richter, G. Wanielik, "Comparison and
/// evaluation of advanced motion models for vehicle tracking", FUSION 2008.
///
/// Symbols, used in the code as written here:
///   x  state mean, P its covariance (the full joint covariance, 10 x 10);
///   F  the transition's Jacobian at x, Q the process noise over the step dt;
///   predict:  x <- f(x, dt),  P <- F P F' + Q;
///   z  a measured box, H = [I 0] (the first seven entries of x are measured),
///   R  the measurement noise, diagonal (the errors of the measured quantities are
///      independent), given as its diagonal r;
///   update:   y = z - H x,  S = H P H' + R,  K = P H' S^-1,
///             x <- x + K y,  P <- P - K S K'.
///
/// State layout (both models): 0 1 2 the box centre x, y, z; 3 the heading (radians,
/// counter-clockwise from x, wrapped into (-pi, pi]); 4 5 6 length, width, height;
/// 7 8 9 the motion: `ConstantVelocity` vx, vy, vz; `ConstantTurnRate` the speed along
/// the heading (signed: negative when the box moves backwards), the heading rate, vz.
/// Units: metres, radians, seconds.
///
/// What is exact and what is rounded: everything runs in single precision on fixed-size
/// matrices (no allocation); the trigonometry of the turn and the heading wraps in
/// double, rounded once. F is applied as the few row and column operations it is
/// (identity but for at most eight entries, in at most four rows) rather than as two
/// dense products. With R diagonal, the update takes the seven measured entries one
/// after the other (sequential processing, ibid. 7.4.1), each a scalar S and a rank-one
/// change of P: for independent errors this is the joint update exactly, it needs no
/// matrix inverse, and it leaves alone the columns of P that the entry does not touch.
/// The results agree with the joint equations in double precision to float rounding
/// (the tests hold them to that).
///
/// Headings: the heading innovation is read by `headingInnovation` (track/heading.h):
/// beyond pi/2 the measurement is taken as the box seen the other way round.
#pragma once

#include <cstddef>
#include <type_traits>

#include <Eigen/Core>

#include <zelvane/core/state.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace track {

/// Entries of the state.
constexpr int STATE_SIZE = 10;
/// Entries of a measured box: the first `MEASUREMENT_SIZE` entries of the state.
constexpr int MEASUREMENT_SIZE = 7;

/// Where each quantity sits in the state.
enum StateIndex : int {
  POSITION_X = 0,
  POSITION_Y = 1,
  POSITION_Z = 2,
  HEADING = 3,
  LENGTH = 4,
  WIDTH = 5,
  HEIGHT = 6,
  /// `ConstantVelocity`: vx, vy, vz from here.
  VELOCITY_X = 7,
  VELOCITY_Y = 8,
  /// Both models: the vertical velocity.
  VELOCITY_Z = 9,
  /// `ConstantTurnRate`: the speed along the heading and the heading rate.
  SPEED = 7,
  TURN_RATE = 8,
};

using StateVector = Eigen::Matrix<float, STATE_SIZE, 1>;
using StateMatrix = Eigen::Matrix<float, STATE_SIZE, STATE_SIZE>;
/// A measured box: the centre x, y, z, the heading, length, width, height.
using MeasurementVector = Eigen::Matrix<float, MEASUREMENT_SIZE, 1>;

/// A track's estimate: the state's mean x and its full covariance P.
struct Estimate {
  StateVector x = StateVector::Zero();
  StateMatrix P = StateMatrix::Zero();
};

/// The noise of a measured box, as standard deviations of independent errors.
struct ZELVANE_CORE_API MeasurementNoise {
  /// Of the centre's x and y, metres.
  float horizontal = 0.2f;
  /// Of the centre's z, metres.
  float vertical = 0.2f;
  /// Of the heading (once read the right way round), radians.
  float heading = 0.2f;
  /// Of each extent, metres.
  float size = 0.2f;

  /// r: the diagonal of R, the variances in measurement order.
  MeasurementVector variances() const;
};

/// The parameters both motion models have. Each disturbance is continuous white noise,
/// given as the square root of its spectral density: over a step dt a velocity's
/// variance grows by its noise^2 dt.
struct ZELVANE_CORE_API CommonMotionParameters {
  /// Horizontal acceleration noise, m/s^(3/2): per axis (`ConstantVelocity`), along
  /// the heading (`ConstantTurnRate`).
  float accelerationNoise = 2.0f;
  /// Vertical acceleration noise, m/s^(3/2).
  float verticalAccelerationNoise = 0.5f;
  /// Noise of each extent, m/s^(1/2).
  float sizeNoise = 0.05f;
  /// Standard deviation of a new track's horizontal speed, m/s: of each velocity
  /// component (`ConstantVelocity`), of the speed along the heading (`ConstantTurnRate`).
  float initialSpeed = 10.0f;
  /// Standard deviation of the vertical velocity of a new track, m/s.
  float initialVerticalSpeed = 1.0f;
};

/// Constant velocity: the box moves in a straight line at constant velocity (x, y, z),
/// its heading and extents stay as they are. Over a step dt a heading's variance grows
/// by `headingNoise`^2 dt. The heading is independent of the direction of travel, which
/// suits objects that turn on the spot (pedestrians) and boxes whose heading the
/// detector gets wrong.
struct ZELVANE_CORE_API ConstantVelocity : CommonMotionParameters {
  /// Heading noise, rad/s^(1/2).
  float headingNoise = 0.5f;

  /// f(x, dt): x advanced by `dt` seconds.
  StateVector advance(const StateVector& x, float dt) const;
  /// F: the Jacobian of `advance` at `x`.
  StateMatrix transition(const StateVector& x, float dt) const;
  /// Q over a step of `dt` seconds (independent of `x`).
  StateMatrix processNoise(const StateVector& x, float dt) const;
  /// The covariance of the motion entries (7 to 9) of a new track.
  Eigen::Matrix3f initialMotionCovariance() const;
};

/// Constant turn rate and velocity: the box moves along its heading at a constant
/// signed speed while the heading turns at a constant rate (a circular arc; a straight
/// line at rate 0); z moves at constant vertical velocity. Suits vehicles, which travel
/// where they point. The disturbances are continuous white noise on the speed along
/// the heading (`accelerationNoise`) and on the heading rate (`turnAccelerationNoise`),
/// the along-track displacement taken along the arc's chord.
struct ZELVANE_CORE_API ConstantTurnRate : CommonMotionParameters {
  /// Noise of the heading rate's change, rad/s^(3/2).
  float turnAccelerationNoise = 0.5f;
  /// Standard deviation of the heading rate of a new track, rad/s.
  float initialTurnRate = 0.5f;

  /// f(x, dt): x advanced by `dt` seconds along the arc. The arc's terms are taken in
  /// double from series where the turn over the step is small, so that a rate of 0
  /// and rates near it give the straight line without cancellation.
  StateVector advance(const StateVector& x, float dt) const;
  /// F: the Jacobian of `advance` at `x`.
  StateMatrix transition(const StateVector& x, float dt) const;
  /// Q over a step of `dt` seconds, the along-track noise turned to the chord's
  /// direction at `x`.
  StateMatrix processNoise(const StateVector& x, float dt) const;
  /// The covariance of the motion entries (7 to 9) of a new track.
  Eigen::Matrix3f initialMotionCovariance() const;
};

/// A motion-model parameter by its name (as settings files and messages give it) and
/// its member in each model that has it (null in the other).
struct MotionParameter {
  const char* name;
  float ConstantVelocity::*constantVelocity;
  float ConstantTurnRate::*constantTurnRate;
};

/// Every motion-model parameter, in the order that settings files list each model's
/// parameters.
inline constexpr MotionParameter MOTION_PARAMETERS[] = {
    {"accelerationNoise", &ConstantVelocity::accelerationNoise,
     &ConstantTurnRate::accelerationNoise},
    {"turnAccelerationNoise", nullptr, &ConstantTurnRate::turnAccelerationNoise},
    {"verticalAccelerationNoise", &ConstantVelocity::verticalAccelerationNoise,
     &ConstantTurnRate::verticalAccelerationNoise},
    {"headingNoise", &ConstantVelocity::headingNoise, nullptr},
    {"sizeNoise", &ConstantVelocity::sizeNoise, &ConstantTurnRate::sizeNoise},
    {"initialSpeed", &ConstantVelocity::initialSpeed, &ConstantTurnRate::initialSpeed},
    {"initialTurnRate", nullptr, &ConstantTurnRate::initialTurnRate},
    {"initialVerticalSpeed", &ConstantVelocity::initialVerticalSpeed,
     &ConstantTurnRate::initialVerticalSpeed},
};

/// Calls `use(name, value)` for each parameter of `model` (a `ConstantVelocity` or a
/// `ConstantTurnRate`, const or not) in the order of `MOTION_PARAMETERS`, `value` a
/// reference to the member.
template <class Model, class Use>
void forEachParameter(Model& model, Use use) {
  using Plain = std::remove_const_t<Model>;
  static_assert(std::is_same_v<Plain, ConstantVelocity> || std::is_same_v<Plain, ConstantTurnRate>,
                "a motion model");
  for (const MotionParameter& parameter : MOTION_PARAMETERS) {
    float Plain::*member = nullptr;
    if constexpr (std::is_same_v<Plain, ConstantVelocity>) {
      member = parameter.constantVelocity;
    } else {
      member = parameter.constantTurnRate;
    }
    if (member != nullptr) use(parameter.name, model.*member);
  }
}

/// What `update` did; dropping it draws a warning.
enum class [[nodiscard]] UpdateOutcome{
    /// The estimate took the measurement.
    Updated,
    /// The estimate took the measurement read the other way round (heading turned by pi).
    UpdatedFlipped,
    /// The measurement or a variance was not finite, a variance was negative, or S was
    /// not positive (a measured entry without variance in P nor in r): the estimate is
    /// unchanged.
    Rejected,
};

/// Predicts `estimate` over `dt` seconds: x <- f(x, dt), P <- F P F' + Q, the heading
/// wrapped. dt = 0 leaves the estimate unchanged. Throws `std::invalid_argument` for a
/// negative or non-finite dt. No allocation; the transition's entries as row and column
/// operations on P (tens of nanoseconds for constant velocity, the turn's trigonometry
/// besides).
ZELVANE_CORE_API void predict(const ConstantVelocity& model, Estimate& estimate, float dt);
/// As above, for the turn model (its trigonometry in double, once per estimate).
ZELVANE_CORE_API void predict(const ConstantTurnRate& model, Estimate& estimate, float dt);

/// Predicts `count` estimates from `estimates` over the same `dt`, as the single form
/// does each one: a frame's tracks in one call. Throws as the single form, before
/// changing anything.
ZELVANE_CORE_API void predict(const ConstantVelocity& model, Estimate* estimates, std::size_t count,
                              float dt);
/// As above, for the turn model.
ZELVANE_CORE_API void predict(const ConstantTurnRate& model, Estimate* estimates, std::size_t count,
                              float dt);

/// Updates `estimate` with the measured box `z` under the noise of variances `r` (the
/// diagonal of R): the heading's innovation read by `headingInnovation` against the
/// prediction, then the equations of the file comment, the heading wrapped. Returns
/// `Rejected`, changing nothing, for a non-finite `z` or `r`, a negative variance, or
/// a scalar S that is not positive. No allocation; at most seven rank-one changes of P.
ZELVANE_CORE_API UpdateOutcome update(Estimate& estimate, const MeasurementVector& z,
                                      const MeasurementVector& r);

/// The estimate of a track started from the measured box `z` under the noise of
/// variances `r`: x = (z, motion 0), P = diag(r) beside the model's initial motion
/// covariance, no correlation between them. The heading is wrapped.
ZELVANE_CORE_API Estimate initialEstimate(const ConstantVelocity& model, const MeasurementVector& z,
                                          const MeasurementVector& r);
/// As above, for the turn model.
ZELVANE_CORE_API Estimate initialEstimate(const ConstantTurnRate& model, const MeasurementVector& z,
                                          const MeasurementVector& r);

/// The measured box of `box`: its centre (`State::centroid`), heading (wrapped) and
/// extents. NaN entries where `box` lacks the position, heading or dimensions.
ZELVANE_CORE_API MeasurementVector measurementOf(const core::State& box);

/// The estimate as a `State`, each member a marginal of the joint covariance: the box
/// centre as the position (with the 3 x 3 block of P) and a zero anchor, the heading,
/// the extents, the velocity (vx, vy, vz) with its 3 x 3 block. No heading rate (the
/// model has none), no acceleration.
ZELVANE_CORE_API core::State stateOf(const ConstantVelocity& model, const Estimate& estimate);
/// As above for the turn model, with the velocity (s cos h, s sin h, vz) of speed s and
/// heading h and its covariance carried through the linearisation J P J', and the
/// heading rate with its variance.
ZELVANE_CORE_API core::State stateOf(const ConstantTurnRate& model, const Estimate& estimate);

}  // namespace track
}  // namespace zelvane
