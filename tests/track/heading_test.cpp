#include "track/heading.h"

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "support/tolerance.h"

namespace {

using zelvane::core::wrapAngle;
using zelvane::testing::PI;
using zelvane::testing::PI_F;
using zelvane::track::headingInnovation;

constexpr double TWO_PI = 2.0 * PI;
constexpr double NAN_D = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

// The plain wrap: whole turns taken off one at a time.
double plainWrap(double a) {
  while (a > PI) a -= TWO_PI;
  while (a <= -PI) a += TWO_PI;
  return a;
}

TEST(WrapAngle, CrossesPlusOrMinusPiEveryWay) {
  struct Case {
    double angle;
    double wrapped;
  };
  const Case cases[] = {
      {0.0, 0.0},
      {PI, PI},
      {-PI, PI},
      {PI + 0.25, -PI + 0.25},
      {-PI - 0.25, PI - 0.25},
      {3.0 * PI, PI},
      {-3.0 * PI, PI},
      {TWO_PI, 0.0},
      {-TWO_PI + 0.5, 0.5},
      {7.0 * TWO_PI + 1.0, 1.0},
      {-7.0 * TWO_PI - 1.0, -1.0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(wrapAngle(c.angle), c.wrapped, 1e-12) << c.angle;
    const float f = wrapAngle(static_cast<float>(c.angle));
    EXPECT_GT(f, -PI_F) << c.angle;
    EXPECT_LE(f, PI_F) << c.angle;
    // The float input wrapped, rounded once.
    const double input = static_cast<float>(c.angle);
    EXPECT_NEAR(std::remainder(f - plainWrap(input), TWO_PI), 0.0, 2.5e-7) << c.angle;
  }
  // float(pi) lies above pi: it stays as it is, while -float(pi), below -pi, wraps to
  // the float nearest 2 pi - float(pi).
  EXPECT_EQ(wrapAngle(PI_F), PI_F);
  EXPECT_EQ(wrapAngle(-PI_F), static_cast<float>(TWO_PI - PI_F));
  EXPECT_LT(wrapAngle(-PI_F), PI_F);
  // Just above -pi rounds to -float(pi): given as +float(pi).
  EXPECT_EQ(wrapAngle(static_cast<float>(-PI + 1e-8 - TWO_PI)), PI_F);
  for (const double bad : {NAN_D, INF, -INF}) {
    EXPECT_TRUE(std::isnan(wrapAngle(bad)));
    EXPECT_TRUE(std::isnan(wrapAngle(static_cast<float>(bad))));
  }
}

TEST(WrapAngle, AgreesWithWholeTurnsTakenOff) {
  std::mt19937 rng(29);
  std::uniform_real_distribution<double> angle(-60.0, 60.0);
  for (int i = 0; i < 2000; ++i) {
    const double a = angle(rng);
    EXPECT_NEAR(wrapAngle(a), plainWrap(a), 1e-12) << a;
    const float f = static_cast<float>(a);
    // The float result is the double wrap of the float input, rounded once.
    EXPECT_NEAR(wrapAngle(f), plainWrap(f), 2.5e-7) << a;
  }
}

TEST(HeadingInnovation, ReadsBeyondHalfPiAsTheBoxSeenTheOtherWayRound) {
  struct Case {
    float measured;
    float predicted;
    double value;
    bool flipped;
  };
  const float seam = static_cast<float>(PI - 0.05);
  const Case cases[] = {
      {0.3f, 0.1f, 0.2, false},
      // Across the seam: -pi + 0.05 against pi - 0.05 is a turn of 0.1, not -2 pi + 0.1.
      {-seam, seam, 0.1, false},
      {seam, -seam, -0.1, false},
      // Seen the other way round: a half turn and a little.
      {static_cast<float>(0.1 + PI), 0.0f, 0.1, true},
      {static_cast<float>(-0.1 - PI + TWO_PI), 0.0f, -0.1, true},
      {0.15f, -seam, 0.1, true},
      {-0.15f, seam, -0.1, true},
      // Up to a quarter turn is not flipped; beyond it is (float(pi / 2) lies above).
      {std::nextafter(static_cast<float>(PI / 2), 0.0f), 0.0f, PI / 2, false},
      {static_cast<float>(PI / 2), 0.0f, -PI / 2, true},
      {static_cast<float>(PI / 2 + 1e-3), 0.0f, -PI / 2 + 1e-3, true},
  };
  for (const Case& c : cases) {
    const auto innovation = headingInnovation(c.measured, c.predicted);
    // The expected value from the float inputs in double, flipped as stated.
    double exact = plainWrap(static_cast<double>(c.measured) - c.predicted);
    if (c.flipped) exact = plainWrap(exact + PI);
    EXPECT_NEAR(innovation.value, c.value, 1e-6) << c.measured << " " << c.predicted;
    EXPECT_NEAR(innovation.value, exact, 2.5e-7) << c.measured << " " << c.predicted;
    EXPECT_EQ(innovation.flipped, c.flipped) << c.measured << " " << c.predicted;
    EXPECT_LE(std::fabs(innovation.value), PI / 2);
  }
  const auto none = headingInnovation(std::numeric_limits<float>::quiet_NaN(), 0.0f);
  EXPECT_TRUE(std::isnan(none.value));
  EXPECT_FALSE(none.flipped);
}

}  // namespace
