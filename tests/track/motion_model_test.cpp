#include "track/motion_model.h"

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include "support/tolerance.h"

namespace {

using namespace zelvane::track;
using zelvane::testing::PI;

constexpr double TWO_PI = 2.0 * PI;

// ---- The same filter written plainly, in double: dense F, dense Q, S inverted. -------

using Vec = Eigen::Matrix<double, 10, 1>;
using Mat = Eigen::Matrix<double, 10, 10>;
using MVec = Eigen::Matrix<double, 7, 1>;
using MMat = Eigen::Matrix<double, 7, 7>;

double plainWrap(double a) {
  while (a > PI) a -= TWO_PI;
  while (a <= -PI) a += TWO_PI;
  return a;
}

struct Plain {
  Vec x;
  Mat P;
};

Plain plainOf(const Estimate& e) { return {e.x.cast<double>(), e.P.cast<double>()}; }

// Continuous white noise on the rate of (value, rate): q [dt^3/3, dt^2/2; dt^2/2, dt].
void plainPair(Mat& Q, int value, int rate, double q, double dt) {
  Q(value, value) += q * dt * dt * dt / 3;
  Q(value, rate) += q * dt * dt / 2;
  Q(rate, value) += q * dt * dt / 2;
  Q(rate, rate) += q * dt;
}

void plainPredict(const ConstantVelocity& m, Plain& f, double dt) {
  Mat F = Mat::Identity();
  F(0, 7) = F(1, 8) = F(2, 9) = dt;
  Mat Q = Mat::Zero();
  plainPair(Q, 0, 7, double(m.accelerationNoise) * m.accelerationNoise, dt);
  plainPair(Q, 1, 8, double(m.accelerationNoise) * m.accelerationNoise, dt);
  plainPair(Q, 2, 9, double(m.verticalAccelerationNoise) * m.verticalAccelerationNoise, dt);
  Q(3, 3) = double(m.headingNoise) * m.headingNoise * dt;
  for (int i = 4; i < 7; ++i) Q(i, i) = double(m.sizeNoise) * m.sizeNoise * dt;
  f.x = F * f.x;
  f.x[3] = plainWrap(f.x[3]);
  f.P = F * f.P * F.transpose() + Q;
}

// The turn: x' = x + v/w (sin(h + w dt) - sin h), y' = y + v/w (cos h - cos(h + w dt)),
// the straight line at w = 0; F by differentiating these by hand.
void plainPredict(const ConstantTurnRate& m, Plain& f, double dt) {
  const double h = f.x[3], v = f.x[7], w = f.x[8];
  Mat F = Mat::Identity();
  Vec x = f.x;
  if (w == 0.0) {
    x[0] += v * dt * std::cos(h);
    x[1] += v * dt * std::sin(h);
    F(0, 3) = -v * dt * std::sin(h);
    F(1, 3) = v * dt * std::cos(h);
    F(0, 7) = dt * std::cos(h);
    F(1, 7) = dt * std::sin(h);
    F(0, 8) = -v * dt * dt * std::sin(h) / 2;
    F(1, 8) = v * dt * dt * std::cos(h) / 2;
  } else {
    const double h1 = h + w * dt;
    x[0] += v / w * (std::sin(h1) - std::sin(h));
    x[1] += v / w * (std::cos(h) - std::cos(h1));
    F(0, 3) = v / w * (std::cos(h1) - std::cos(h));
    F(1, 3) = v / w * (std::sin(h1) - std::sin(h));
    F(0, 7) = (std::sin(h1) - std::sin(h)) / w;
    F(1, 7) = (std::cos(h) - std::cos(h1)) / w;
    F(0, 8) = v * dt * std::cos(h1) / w - v * (std::sin(h1) - std::sin(h)) / (w * w);
    F(1, 8) = v * dt * std::sin(h1) / w - v * (std::cos(h) - std::cos(h1)) / (w * w);
  }
  x[3] = plainWrap(h + w * dt);
  F(3, 8) = dt;
  x[2] += dt * f.x[9];
  F(2, 9) = dt;
  // Along-track noise along the chord (heading of mid-step), the turn's on (h, w).
  const double chord = h + w * dt / 2;
  const Eigen::Vector2d u(std::cos(chord), std::sin(chord));
  const double qa = double(m.accelerationNoise) * m.accelerationNoise;
  Mat Q = Mat::Zero();
  Q.block<2, 2>(0, 0) = qa * dt * dt * dt / 3 * u * u.transpose();
  Q.block<2, 1>(0, 7) = qa * dt * dt / 2 * u;
  Q.block<1, 2>(7, 0) = qa * dt * dt / 2 * u.transpose();
  Q(7, 7) = qa * dt;
  plainPair(Q, 3, 8, double(m.turnAccelerationNoise) * m.turnAccelerationNoise, dt);
  plainPair(Q, 2, 9, double(m.verticalAccelerationNoise) * m.verticalAccelerationNoise, dt);
  for (int i = 4; i < 7; ++i) Q(i, i) = double(m.sizeNoise) * m.sizeNoise * dt;
  f.x = x;
  f.P = F * f.P * F.transpose() + Q;
}

// Returns whether the measurement was read the other way round.
bool plainUpdate(Plain& f, const MVec& z, const MMat& R) {
  Eigen::Matrix<double, 7, 10> H = Eigen::Matrix<double, 7, 10>::Zero();
  H.leftCols<7>().setIdentity();
  MVec y = z - H * f.x;
  y[3] = plainWrap(y[3]);
  const bool flipped = std::fabs(y[3]) > PI / 2;
  if (flipped) y[3] = plainWrap(y[3] + PI);
  const MMat S = H * f.P * H.transpose() + R;
  const Eigen::Matrix<double, 10, 7> K = f.P * H.transpose() * S.inverse();
  f.x += K * y;
  f.x[3] = plainWrap(f.x[3]);
  f.P = (Mat::Identity() - K * H) * f.P;
  return flipped;
}

// ---- Comparison ------------------------------------------------------------------------

// Float rounding carried through a filter run: each entry within this share of the
// largest magnitude in its row and column (the covariance mixes entries of very
// different sizes), the heading modulo whole turns.
constexpr double FILTER_TOLERANCE = 500 * zelvane::testing::FLOAT_EPSILON;

::testing::AssertionResult sameEstimate(const Estimate& e, const Plain& f) {
  for (int i = 0; i < 10; ++i) {
    const double scale = std::max(1.0, f.x.cwiseAbs().maxCoeff());
    double d = e.x[i] - f.x[i];
    if (i == HEADING) d = std::remainder(d, TWO_PI);
    if (std::fabs(d) > FILTER_TOLERANCE * scale) {
      return ::testing::AssertionFailure() << "x[" << i << "] " << e.x[i] << " vs " << f.x[i];
    }
  }
  for (int i = 0; i < 10; ++i) {
    for (int j = 0; j < 10; ++j) {
      const double scale = std::sqrt(f.P(i, i) * f.P(j, j));
      if (std::fabs(e.P(i, j) - f.P(i, j)) > FILTER_TOLERANCE * scale) {
        return ::testing::AssertionFailure()
               << "P(" << i << "," << j << ") " << e.P(i, j) << " vs " << f.P(i, j);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// ---- Random runs -----------------------------------------------------------------------

MVec boxAt(const Vec& truth) { return truth.head<7>(); }

template <class Model>
void runAgainstPlainFilter(const Model& model, unsigned seed, bool turning) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> step(0.02, 0.4), unit(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  const MeasurementNoise noiseModel{0.3f, 0.1f, 0.15f, 0.2f};
  const MeasurementVector r = noiseModel.variances();
  const MMat R = r.cast<double>().asDiagonal();
  int flips = 0, seams = 0;
  for (int run = 0; run < 20; ++run) {
    // The truth: a box near the origin heading anywhere, moving or turning.
    Vec truth = Vec::Zero();
    truth << 20 * unit(rng), 20 * unit(rng), unit(rng), PI * unit(rng), 4.5, 1.8, 1.5, 0, 0, 0;
    if (turning) {
      truth[7] = 8 * unit(rng);
      truth[8] = run % 4 == 0 ? 0.0 : 0.6 * unit(rng);
    } else {
      truth[7] = 5 * unit(rng);
      truth[8] = 5 * unit(rng);
    }
    MVec z = boxAt(truth);
    Estimate estimate = initialEstimate(model, z.cast<float>(), r);
    Plain plain = plainOf(estimate);
    for (int k = 0; k < 40; ++k) {
      const double dt = static_cast<float>(step(rng));
      predict(model, estimate, static_cast<float>(dt));
      plainPredict(model, plain, dt);
      ASSERT_TRUE(sameEstimate(estimate, plain)) << "predict, run " << run << " step " << k;
      // Measure the predicted box with noise; every fifth box the other way round.
      z = boxAt(plainOf(estimate).x);
      for (int i = 0; i < 7; ++i) z[i] += 0.1 * noise(rng);
      if (k % 5 == 2) z[3] += PI;
      z[3] = plainWrap(z[3]);
      seams += std::fabs(z[3]) > 3.0;
      const MVec zf = z.cast<float>().cast<double>();
      const bool flipped = plainUpdate(plain, zf, R);
      const UpdateOutcome outcome = update(estimate, z.cast<float>(), r);
      ASSERT_EQ(outcome, flipped ? UpdateOutcome::UpdatedFlipped : UpdateOutcome::Updated);
      flips += flipped;
      ASSERT_TRUE(sameEstimate(estimate, plain)) << "update, run " << run << " step " << k;
      ASSERT_GT(estimate.x[HEADING], -zelvane::testing::PI_F);
      ASSERT_LE(estimate.x[HEADING], zelvane::testing::PI_F);
    }
  }
  EXPECT_GE(flips, 20 * 40 / 5);
  EXPECT_GT(seams, 10);
}

TEST(MotionModel, ConstantVelocityAgreesWithThePlainFilter) {
  runAgainstPlainFilter(ConstantVelocity{}, 1, false);
}

TEST(MotionModel, ConstantTurnRateAgreesWithThePlainFilter) {
  runAgainstPlainFilter(ConstantTurnRate{}, 2, true);
}

TEST(MotionModel, TurnIsSmoothThroughZeroRate) {
  // Rates near 0 take the series; they must join the straight line and the closed form.
  const ConstantTurnRate model;
  // (The series take turns below 0.1: rates below 0.2 over the step of 0.5 s.)
  for (const double rate : {0.0, 1e-9, -1e-6, 5e-4, 0.05, -0.199, 0.201, -0.8}) {
    Estimate e;
    e.x << 3, -2, 0.5, 2.9, 4, 2, 1.5, 12, static_cast<float>(rate), 0.3;
    e.P = StateMatrix::Identity();
    Plain plain = plainOf(e);
    // The plain closed form cancels below 1e-4: compare those with its straight line,
    // which is within (rate dt)^2 v dt of the arc.
    if (std::fabs(rate) < 1e-4) plain.x[8] = 0.0;
    predict(model, e, 0.5f);
    plainPredict(model, plain, 0.5);
    EXPECT_TRUE(sameEstimate(e, plain)) << rate;
  }
}

TEST(MotionModel, TwoHalfStepsEqualOneWholeStep) {
  // The time step comes from the stamps: a step split in two gives the same prediction
  // (exactly for the linear model; for the turn, the mean).
  Estimate cv;
  cv.x << 1, 2, 0, 0.4, 4, 2, 1.5, 3, -1, 0.1;
  cv.P = initialEstimate(ConstantVelocity{}, cv.x.head<7>(), MeasurementNoise{}.variances()).P;
  Estimate whole = cv, halves = cv;
  predict(ConstantVelocity{}, whole, 0.3f);
  predict(ConstantVelocity{}, halves, 0.15f);
  predict(ConstantVelocity{}, halves, 0.15f);
  EXPECT_TRUE(sameEstimate(halves, plainOf(whole)));

  Estimate ctrv = cv;
  ctrv.x[TURN_RATE] = 0.7f;
  whole = ctrv;
  halves = ctrv;
  predict(ConstantTurnRate{}, whole, 0.3f);
  predict(ConstantTurnRate{}, halves, 0.15f);
  predict(ConstantTurnRate{}, halves, 0.15f);
  EXPECT_LT((whole.x - halves.x).cwiseAbs().maxCoeff(), 1e-5f);
}

TEST(MotionModel, PublicTransitionAndNoiseAreWhatPredictApplies) {
  const ConstantTurnRate model;
  Estimate e;
  e.x << 3, -2, 0.5, -3.0, 4, 2, 1.5, 7, 0.4, 0.3;
  e.P = StateMatrix::Identity() * 0.5f;
  e.P(0, 3) = e.P(3, 0) = 0.1f;
  const float dt = 0.2f;
  const StateMatrix F = model.transition(e.x, dt);
  const StateMatrix expected = F * e.P * F.transpose() + model.processNoise(e.x, dt);
  const StateVector advanced = model.advance(e.x, dt);
  predict(model, e, dt);
  EXPECT_LT((e.P - expected).cwiseAbs().maxCoeff(), 1e-5f);
  EXPECT_EQ(e.x, advanced);
}

TEST(MotionModel, BatchPredictsEachEstimateAsTheSingleForm) {
  std::vector<Estimate> batch(5);
  for (std::size_t i = 0; i < batch.size(); ++i) {
    batch[i].x << float(i), 1, 0, 0.5f * float(i), 4, 2, 1.5, 1, 0.2f, 0;
    batch[i].P = StateMatrix::Identity() * (1.0f + float(i));
  }
  std::vector<Estimate> single = batch;
  predict(ConstantTurnRate{}, batch.data(), batch.size(), 0.1f);
  for (Estimate& e : single) predict(ConstantTurnRate{}, e, 0.1f);
  for (std::size_t i = 0; i < batch.size(); ++i) {
    EXPECT_EQ(batch[i].x, single[i].x);
    EXPECT_EQ(batch[i].P, single[i].P);
  }
  // A bad step is refused before anything changes.
  const std::vector<Estimate> before = batch;
  for (const float bad :
       {-0.1f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    EXPECT_THROW(predict(ConstantVelocity{}, batch.data(), batch.size(), bad),
                 std::invalid_argument);
    EXPECT_THROW(predict(ConstantTurnRate{}, batch[0], bad), std::invalid_argument);
  }
  for (std::size_t i = 0; i < batch.size(); ++i) EXPECT_EQ(batch[i].x, before[i].x);
}

TEST(MotionModel, UpdateRejectsBadMeasurementsAndChangesNothing) {
  const MeasurementVector ones = MeasurementVector::Ones();
  const Estimate start = initialEstimate(ConstantVelocity{}, ones, MeasurementNoise{}.variances());
  MeasurementVector nanBox = ones;
  nanBox[WIDTH] = std::numeric_limits<float>::quiet_NaN();
  MeasurementVector negative = ones;
  negative[POSITION_Y] = -0.5f;
  MeasurementVector infinite = ones;
  infinite[HEIGHT] = std::numeric_limits<float>::infinity();
  // No variance in P nor in r for the last entry: S = 0, found after six entries were
  // taken, which must be undone.
  Estimate noHeight = start;
  noHeight.P(HEIGHT, HEIGHT) = 0.0f;
  MeasurementVector exact = ones;
  exact[HEIGHT] = 0.0f;
  const struct {
    Estimate estimate;
    MeasurementVector z, r;
  } cases[] = {{start, nanBox, ones},
               {start, ones, negative},
               {start, ones, infinite},
               {noHeight, 2 * ones, exact}};
  for (const auto& c : cases) {
    Estimate e = c.estimate;
    EXPECT_EQ(update(e, c.z, c.r), UpdateOutcome::Rejected);
    EXPECT_EQ(e.x, c.estimate.x);
    EXPECT_EQ(e.P, c.estimate.P);
  }
}

TEST(MotionModel, StateCarriesTheMarginals) {
  Estimate e;
  e.x << 1, 2, 3, 2.5, 4, 2, 1.5, 6, 0.3, 0.1;
  Eigen::Matrix<float, 10, 10> A = Eigen::Matrix<float, 10, 10>::Random();
  e.P = A * A.transpose() + StateMatrix::Identity();

  const auto ctrv = stateOf(ConstantTurnRate{}, e);
  // The velocity's covariance by the plain Jacobian of (v cos h, v sin h, vz).
  const double h = e.x[3], v = e.x[7];
  Eigen::Matrix<double, 3, 10> J = Eigen::Matrix<double, 3, 10>::Zero();
  J(0, 3) = -v * std::sin(h);
  J(0, 7) = std::cos(h);
  J(1, 3) = v * std::cos(h);
  J(1, 7) = std::sin(h);
  J(2, 9) = 1;
  const Eigen::Matrix3d velocity = J * e.P.cast<double>() * J.transpose();
  EXPECT_LT((ctrv.velocity->covariance.cast<double>() - velocity).cwiseAbs().maxCoeff(), 1e-4);
  EXPECT_NEAR(ctrv.velocity->mean.x(), v * std::cos(h), 1e-5);
  EXPECT_NEAR(ctrv.velocity->mean.y(), v * std::sin(h), 1e-5);
  EXPECT_EQ(ctrv.headingRate->mean, e.x[8]);
  EXPECT_EQ(ctrv.headingRate->covariance, e.P(8, 8));

  const auto cv = stateOf(ConstantVelocity{}, e);
  EXPECT_EQ(cv.velocity->mean, e.x.segment<3>(7));
  EXPECT_EQ(cv.velocity->covariance, (e.P.block<3, 3>(7, 7)));
  EXPECT_FALSE(cv.headingRate);
  for (const auto* s : {&cv, &ctrv}) {
    EXPECT_EQ(s->position->mean, e.x.head<3>());
    EXPECT_EQ(s->position->covariance, (e.P.topLeftCorner<3, 3>()));
    EXPECT_EQ(s->heading->mean, e.x[3]);
    EXPECT_EQ(s->heading->covariance, e.P(3, 3));
    EXPECT_EQ(s->dimensions->length, 4.0f);
    EXPECT_FALSE(s->acceleration);
    // The box measured from the state is the estimate's own.
    EXPECT_LT((measurementOf(*s) - e.x.head<7>()).cwiseAbs().maxCoeff(), 1e-6f);
  }
}

TEST(MotionModel, MeasuredCentreIsTheBoxCentroid) {
  using zelvane::core::State;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    Eigen::Vector3f position;
    float heading;
    Eigen::Vector3f anchor;
  };
  // Centred and off-centre anchors, zero coordinates of either sign, headings that
  // are not finite.
  const Case cases[] = {
      {{12.5f, -3.25f, 0.75f}, 0.4f, {0, 0, 0}},
      {{12.5f, -3.25f, 0.75f}, 0.4f, {1.2f, -0.3f, 0.5f}},
      {{12.5f, -3.25f, 0.75f}, 0.4f, {0, 0, 0.5f}},
      {{0.0f, -3.25f, 0.0f}, -2.0f, {0, 0, 0}},
      {{-0.0f, 5.0f, -0.0f}, 2.5f, {0, 0, 0}},
      {{7.0f, -0.0f, 1.0f}, 1.0f, {0, 0, 0}},
      {{7.0f, 8.0f, 1.0f}, nan, {0, 0, 0}},
      {{7.0f, 8.0f, 1.0f}, inf, {0, 0, 0}},
  };
  auto same = [](float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
  };
  for (const Case& c : cases) {
    const State box = State::box(c.position, c.heading, 4.0f, 2.0f, 1.5f,
                                 {c.anchor.x(), c.anchor.y(), c.anchor.z()});
    const Eigen::Vector3f centre = measurementOf(box).head<3>();
    const Eigen::Vector3f expected = box.centroid();
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(same(centre[i], expected[i]))
          << c.position.transpose() << " heading " << c.heading << " anchor "
          << c.anchor.transpose() << ": " << centre[i] << " vs " << expected[i];
    }
  }
  State noDimensions = State::box({-0.0f, 2.0f, 1.0f}, 0.3f, 1, 1, 1);
  noDimensions.dimensions = boost::none;
  const Eigen::Vector3f centre = measurementOf(noDimensions).head<3>();
  EXPECT_TRUE(same(centre[0], noDimensions.centroid()[0]) && centre[1] == 2.0f);
  EXPECT_TRUE(measurementOf(noDimensions).tail<3>().array().isNaN().all());
}

}  // namespace
