#include "core/state.h"

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "boost_quiet.h"  // the reference overlap below runs the overlay directly
#include "support/allocation_probe.h"
#include "support/tolerance.h"

namespace {

namespace bg = boost::geometry;
using zelvane::Gaussian;
using zelvane::core::approximatelyEqual;
using zelvane::core::FootprintPolygon;
using zelvane::core::State;
using zelvane::core::StateValues;
using namespace zelvane::testing;
using Vector2 = Eigen::Matrix<float, 2, 1>;
using Dims = zelvane::core::Dimensions<float, zelvane::frames::Trackable>;
using Anchor = zelvane::tkit::Cart<float, zelvane::frames::Trackable>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

Gaussian<float, 3> gaussian3(float x, float y, float z) {
  Gaussian<float, 3> g;
  g.mean = Eigen::Vector3f(x, y, z);
  return g;
}

Gaussian<float, 1> gaussian1(float mean, float variance = 0.0f) {
  Gaussian<float, 1> g;
  g.mean = mean;
  g.covariance = variance;
  return g;
}

// A footprint: tracked point (x, y, 0), heading, length x width box, anchor (ax, ay, 0).
State box(float x, float y, float heading, float length, float width, float ax = 0, float ay = 0) {
  State s;
  s.position = gaussian3(x, y, 0);
  s.heading = gaussian1(heading);
  s.dimensions = Dims(length, width, 1, Anchor{ax, ay, 0});
  return s;
}

State point(float x, float y, float z = 0) {
  State s;
  s.position = gaussian3(x, y, z);
  return s;
}

State complete() {
  State s;
  s.position = gaussian3(10, 0, 1);
  s.velocity = gaussian3(1, 2, 3);
  s.acceleration = gaussian3(-0.5f, 0.25f, 0);
  s.heading = gaussian1(PI_F / 2, 0.01f);
  s.headingRate = gaussian1(0.125f, 0.02f);
  s.dimensions = Dims(4.5f, 1.8f, 1.5f, Anchor{1, 0, 0.5f});
  return s;
}

::testing::AssertionResult near(const Vector2& actual, float x, float y,
                                float tol = CHAIN_TOLERANCE) {
  if (std::abs(actual.x() - x) <= tol && std::abs(actual.y() - y) <= tol) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "(" << actual.transpose() << ") vs (" << x << " " << y << ")";
}

float* slot(StateValues& v, int i) {
  float* all[] = {&v.positionX,     &v.positionY, &v.positionZ,     &v.velocityX,
                  &v.velocityY,     &v.velocityZ, &v.accelerationX, &v.accelerationY,
                  &v.accelerationZ, &v.centroidX, &v.centroidY,     &v.centroidZ,
                  &v.length,        &v.width,     &v.height,        &v.anchorX,
                  &v.anchorY,       &v.anchorZ,   &v.heading,       &v.headingRate};
  return all[i];
}

std::vector<float> slots(StateValues v) {
  std::vector<float> all;
  for (int i = 0; i < 20; ++i) all.push_back(*slot(v, i));
  return all;
}

// Corner-to-polygon distance over the two public polygons.
double referenceDistance(const State& a, const State& b) {
  const FootprintPolygon pa = a.getBoostPolygon();
  const FootprintPolygon pb = b.getBoostPolygon();
  double d = std::numeric_limits<double>::max();
  for (const auto& p : pa.outer()) d = std::min(d, bg::distance(p, pb));
  for (const auto& q : pb.outer()) d = std::min(d, bg::distance(q, pa));
  return d;
}

// A pair of states and what a measure that does not depend on their order gives for it.
struct PairCase {
  const char* name;
  State a;
  State b;
  double expected;
  double tolerance;
};

template <std::size_t N>
void expectBothWays(const PairCase (&cases)[N], double (State::*measure)(const State&) const) {
  for (const PairCase& c : cases) {
    EXPECT_NEAR((c.a.*measure)(c.b), c.expected, c.tolerance) << c.name;
    EXPECT_NEAR((c.b.*measure)(c.a), c.expected, c.tolerance) << c.name << " (swapped)";
  }
}

// --- data model --------------------------------------------------------------------

TEST(ConvertTo2D, KeepsHorizontalMeanAndUpperLeftCovarianceOfEachMemberAndAbsentStaysAbsent) {
  EXPECT_FALSE(State().convertTo2D(boost::none));
  EXPECT_FALSE(State().position2D() || State().velocity2D() || State().acceleration2D());
  Gaussian<float, 3> g = gaussian3(1, 2, 3);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) g.covariance(r, c) = static_cast<float>(10 * r + c);
  }
  const auto flat = State().convertTo2D(g);
  ASSERT_TRUE(flat);
  EXPECT_EQ(flat->mean, Vector2(1, 2));
  EXPECT_EQ(flat->covariance, (Eigen::Matrix2f() << 0, 1, 10, 11).finished());

  // Each projection reads its own member.
  State s;
  s.position = gaussian3(1, 2, 3);
  s.velocity = gaussian3(4, 5, 6);
  s.acceleration = gaussian3(7, 8, 9);
  EXPECT_EQ(s.position2D()->mean, Vector2(1, 2));
  EXPECT_EQ(s.velocity2D()->mean, Vector2(4, 5));
  EXPECT_EQ(s.acceleration2D()->mean, Vector2(7, 8));
}

TEST(BoxFactory, SetsPositionHeadingAndBoxWithTheirUncertainties) {
  const State plain = State::box({12, -3.5f, 0.8f}, 0.1f, 4.5f, 1.8f, 1.5f);
  ASSERT_TRUE(plain.position && plain.heading && plain.dimensions);
  EXPECT_FALSE(plain.velocity || plain.acceleration || plain.headingRate);
  EXPECT_EQ(plain.position->mean, Eigen::Vector3f(12, -3.5f, 0.8f));
  EXPECT_EQ(plain.position->covariance, Eigen::Matrix3f::Zero());
  EXPECT_EQ(plain.heading->mean, 0.1f);
  EXPECT_EQ(plain.heading->covariance, 0.0f);
  EXPECT_EQ(plain.dimensions->length, 4.5f);
  EXPECT_EQ(plain.dimensions->width, 1.8f);
  EXPECT_EQ(plain.dimensions->height, 1.5f);
  EXPECT_EQ(plain.dimensions->anchor.x, 0.0f);

  const Eigen::Matrix3f covariance = Eigen::Vector3f(0.5f, 0.25f, 1).asDiagonal();
  const State full =
      State::box({1, 2, 3}, -0.5f, 4, 2, 1, Anchor{1, -0.5f, 0.25f}, covariance, 0.01f);
  EXPECT_EQ(full.position->covariance, covariance);
  EXPECT_EQ(full.heading->covariance, 0.01f);
  EXPECT_EQ(full.dimensions->anchor.y, -0.5f);
  EXPECT_EQ(full.dimensions->anchor.z, 0.25f);
  EXPECT_EQ(full.getCorners2D(), box(1, 2, -0.5f, 4, 2, 1, -0.5f).getCorners2D());
}

TEST(StateValuesConstruction, TwentyFloatsAreStoredInSlotOrder) {
  // The centroid (100, 200, 300) contradicts the position; it is stored as given.
  const StateValues v(1, 2, 3, 4, 5, 6, 7, 8, 9, 100, 200, 300, 13, 14, 15, 16, 17, 18, 19, 20);
  EXPECT_EQ(slots(v), (std::vector<float>{1,   2,   3,  4,  5,  6,  7,  8,  9,  100,
                                          200, 300, 13, 14, 15, 16, 17, 18, 19, 20}));
}

// --- footprint geometry ------------------------------------------------------------

TEST(RotationMatrix, TurnsByTheHeadingOrNotAtAll) {
  EXPECT_EQ(State().rotationMatrix(), Eigen::Matrix2f::Identity());
  const float h = 0.7f;
  const Eigen::Matrix2f r = box(0, 0, h, 1, 1).rotationMatrix();
  EXPECT_EQ(r(0, 0), r(1, 1));
  EXPECT_EQ(r(0, 1), -r(1, 0));
  EXPECT_NEAR(r(0, 0), std::cos(h), FLOAT_EPSILON);
  EXPECT_NEAR(r(1, 0), std::sin(h), FLOAT_EPSILON);

  // StateValues turn by their heading slot.
  StateValues v = complete();
  v.heading = 0;
  EXPECT_EQ(v.rotationMatrix(), Eigen::Matrix2f::Identity());
  v.heading = 0.7f;
  EXPECT_EQ(v.rotationMatrix(),
            (Eigen::Matrix2f() << std::cos(0.7f), -std::sin(0.7f), std::sin(0.7f), std::cos(0.7f))
                .finished());
}

TEST(BoxCentre, IsThePositionMinusTheTurnedAnchor) {
  EXPECT_TRUE(near(box(5, 5, 0, 4, 2, 1, 0).centroid2D(), 4, 5));
  EXPECT_TRUE(near(box(5, 5, PI_F, 4, 2, 1, 0).centroid2D(), 6, 5));
  EXPECT_TRUE(near(box(5, 5, PI_F / 2, 4, 2, 1, 0).centroid2D(), 5, 4));
  EXPECT_EQ(point(3, 4).centroid2D(), Vector2(3, 4));

  // The vertical part of the anchor is not turned.
  State s = box(10, 0, PI_F / 2, 4, 2, 1, 0);
  s.position = gaussian3(10, 0, 1);
  s.dimensions->anchor.z = 0.5f;
  const Eigen::Vector3f c = s.centroid();
  EXPECT_TRUE(near(c.head<2>(), 10, -1));
  EXPECT_EQ(c.z(), 0.5f);
  EXPECT_EQ(point(1, 2, 3).centroid(), Eigen::Vector3f(1, 2, 3));

  // NaN without a position.
  s.position.reset();
  EXPECT_TRUE(s.centroid2D().array().isNaN().all());
  EXPECT_TRUE(s.centroid().array().isNaN().all());

  // StateValues recompute it instead of reading the stored slots.
  StateValues v = box(5, 5, PI_F, 4, 2, 1, 0);
  v.centroidX = 1000;
  v.centroidY = -1000;
  EXPECT_TRUE(near(v.centroid2D(), 6, 5));
}

TEST(Corners, RunClockwiseFromFrontLeftAlsoFromStateValues) {
  const std::vector<Vector2> expected = {{2, 1}, {2, -1}, {-2, -1}, {-2, 1}};
  EXPECT_EQ(box(0, 0, 0, 4, 2).getCorners2D(), expected);
  State unturned = box(0, 0, 0, 4, 2);
  unturned.heading.reset();
  EXPECT_EQ(unturned.getCorners2D(), expected);
  EXPECT_EQ(StateValues(box(0, 0, 0, 4, 2)).getCorners2D(), expected);

  const auto turned = box(0, 0, PI_F / 2, 4, 2).getCorners2D();
  ASSERT_EQ(turned.size(), 4u);
  EXPECT_TRUE(near(turned[0], -1, 2));
  EXPECT_TRUE(near(turned[1], 1, 2));
  EXPECT_TRUE(near(turned[2], 1, -2));
  EXPECT_TRUE(near(turned[3], -1, -2));
  // Without dimensions every corner is the position.
  EXPECT_EQ(point(3, -4).getCorners2D(), std::vector<Vector2>(4, Vector2(3, -4)));

  const State s = box(3, -2, 0.4f, 4.5f, 1.8f, 1.2f, -0.3f);
  const auto fromState = s.getCorners2D();
  const auto fromValues = StateValues(s).getCorners2D();
  ASSERT_EQ(fromValues.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(near(fromValues[i], fromState[i].x(), fromState[i].y()));
}

TEST(FootprintPolygonTest, IsTheClosedClockwiseRingOfTheCorners) {
  const FootprintPolygon p = box(0, 0, 0, 4, 2).getBoostPolygon();
  ASSERT_EQ(p.outer().size(), 5u);
  EXPECT_TRUE(p.inners().empty());
  const double expected[5][2] = {{2, 1}, {2, -1}, {-2, -1}, {-2, 1}, {2, 1}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(p.outer()[i].x(), expected[i][0]);
    EXPECT_EQ(p.outer()[i].y(), expected[i][1]);
  }
  EXPECT_EQ(bg::area(p), 8.0);
  EXPECT_EQ(bg::area(StateValues(box(0, 0, 0, 4, 2)).getBoostPolygon()), 8.0);
  // One negative extent reverses the ring.
  EXPECT_EQ(bg::area(box(0, 0, 0, -4, 2).getBoostPolygon()), -8.0);
  EXPECT_EQ(bg::area(box(0, 0, 0, -4, -2).getBoostPolygon()), 8.0);
}

TEST(VelocityHeading, IsTheDirectionOfTravel) {
  State s;
  EXPECT_EQ(s.velocityHeading(), 0.0f);
  s.velocity = gaussian3(0, 1, 0);
  EXPECT_FLOAT_EQ(s.velocityHeading(), PI_F / 2);
  s.velocity = gaussian3(-1, 0, 5);
  EXPECT_FLOAT_EQ(s.velocityHeading(), PI_F);
  s.velocity = gaussian3(1, -1, 0);
  EXPECT_FLOAT_EQ(s.velocityHeading(), -PI_F / 4);
}

TEST(RelativeHeading, WrapsTheDifferenceIntoMinusPiToPi) {
  EXPECT_NEAR(box(0, 0, 3.0f, 1, 1).relativeHeading(box(0, 0, -3.0f, 1, 1)), -0.2831853f,
              ROUNDING_TOLERANCE);
  EXPECT_NEAR(box(0, 0, -3.0f, 1, 1).relativeHeading(box(0, 0, 3.0f, 1, 1)), 0.2831853f,
              ROUNDING_TOLERANCE);
  EXPECT_NEAR(box(0, 0, 0.5f, 1, 1).relativeHeading(box(0, 0, 0.25f, 1, 1)), 0.25f,
              ROUNDING_TOLERANCE);
  EXPECT_NEAR(box(0, 0, 7.0f, 1, 1).relativeHeading(box(0, 0, 0, 1, 1)), 7.0f - 2 * PI_F,
              ROUNDING_TOLERANCE);
  // The wrap is done around double-precision pi: equal headings leave a hair, not 0.
  const float same = box(0, 0, 1.25f, 1, 1).relativeHeading(box(0, 0, 1.25f, 1, 1));
  EXPECT_NE(same, 0.0f);
  EXPECT_LT(std::abs(same), FLOAT_EPSILON);

  // NaN when either heading is absent.
  const State with = box(0, 0, 1, 1, 1);
  State without = with;
  without.heading.reset();
  EXPECT_TRUE(std::isnan(with.relativeHeading(without)));
  EXPECT_TRUE(std::isnan(without.relativeHeading(with)));
  EXPECT_TRUE(std::isnan(without.relativeHeading(without)));
}

// --- conversion into StateValues ---------------------------------------------------

TEST(ConversionToStateValues, CopiesEveryMeanAndStoresTheBoxCentre) {
  const State s = complete();
  const StateValues v(s);
  const std::vector<float> got = slots(v);
  const std::vector<float> head = {10, 0, 1, 1, 2, 3, -0.5f, 0.25f, 0};
  EXPECT_EQ(std::vector<float>(got.begin(), got.begin() + 9), head);
  EXPECT_NEAR(v.centroidX, 10, ROUNDING_TOLERANCE);
  EXPECT_NEAR(v.centroidY, -1, ROUNDING_TOLERANCE);
  EXPECT_EQ(v.centroidZ, 0.5f);
  const std::vector<float> tail = {4.5f, 1.8f, 1.5f, 1, 0, 0.5f, PI_F / 2, 0.125f};
  EXPECT_EQ(std::vector<float>(got.begin() + 12, got.end()), tail);
}

TEST(ConversionToStateValues, AbsentMembersGiveZeroSlotsAndAreNeverRead) {
  // Members that held values and were then reset keep their old bytes in storage;
  // a conversion that read them would bring those values back.
  State s = complete();
  s.velocity.reset();
  s.acceleration.reset();
  s.heading.reset();
  s.headingRate.reset();
  s.dimensions.reset();
  const StateValues v(s);
  const std::vector<float> got = slots(v);
  EXPECT_EQ(got,
            (std::vector<float>{10, 0, 1, 0, 0, 0, 0, 0, 0, 10, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}));

  s.position.reset();
  const StateValues empty(s);
  const std::vector<float> none = slots(empty);
  for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 13, 14, 15, 16, 17, 18, 19}) {
    EXPECT_EQ(none[i], 0.0f) << "slot " << i;
  }
  EXPECT_TRUE(std::isnan(empty.centroidX));
  EXPECT_TRUE(std::isnan(empty.centroidY));
  EXPECT_TRUE(std::isnan(empty.centroidZ));
}

TEST(ConversionToStateValues, MovingFormReadsLikeCopyingAndLeavesTheStateAlone) {
  State s = complete();
  const StateValues copied(s);
  const StateValues moved(std::move(s));
  EXPECT_EQ(slots(moved), slots(copied));
  // NOLINTNEXTLINE(bugprone-use-after-move): the moving form must not move from it.
  ASSERT_TRUE(s.position && s.velocity && s.dimensions && s.headingRate);
  EXPECT_EQ(s.position->mean, Eigen::Vector3f(10, 0, 1));
  EXPECT_EQ(s.dimensions->length, 4.5f);
}

TEST(ConversionToStateValues, PositionOnlyGivesThePositionAsCentreAlsoByAssignment) {
  const std::vector<float> expected = {1, 2, 3, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(slots(StateValues(point(1, 2, 3))), expected);
  StateValues v(9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9);
  StateValues& result = (v = point(1, 2, 3));
  EXPECT_EQ(&result, &v);
  EXPECT_EQ(slots(v), expected);  // all twenty slots overwritten
}

// --- overlap -----------------------------------------------------------------------

TEST(Overlap, IsIntersectionOverUnionOfTheFootprints) {
  const PairCase cases[] = {
      {"identical", box(1, 2, 0.3f, 4, 2), box(1, 2, 0.3f, 4, 2), 1.0, EXACT_ARITHMETIC_TOLERANCE},
      {"shifted by half", box(0, 0, 0, 4, 2), box(2, 0, 0, 4, 2), 1.0 / 3,
       EXACT_ARITHMETIC_TOLERANCE},
      {"inside", box(0, 0, 0, 2, 2), box(0, 0, 0, 4, 4), 0.25, EXACT_ARITHMETIC_TOLERANCE},
      {"turned a quarter", box(0, 0, 0, 4, 2), box(0, 0, PI_F / 2, 4, 2), 1.0 / 3,
       double{ROUNDING_TOLERANCE}},
      {"anchored", box(1, 0, 0, 4, 2, 1, 0), box(2, 0, 0, 4, 2), 1.0 / 3,
       EXACT_ARITHMETIC_TOLERANCE},
      {"far apart", box(0, 0, 0, 4, 2), box(100, 50, 1, 4, 2), 0.0, 0.0},
      {"bounding boxes overlap only", box(0, 0, PI_F / 4, 4, 0.5f),
       box(1.8f, -1.8f, PI_F / 4, 4, 0.5f), 0.0, 0.0},
      {"touching along an edge", box(0, 0, 0, 4, 2), box(4, 0, 0, 4, 2), 0.0, 0.0},
      {"touching at a corner", box(0, 0, 0, 4, 2), box(4, 2, 0, 4, 2), 0.0, 0.0},
      {"first without dimensions", point(0, 0), box(0, 0, 0, 4, 2), 0.0, 0.0},
      {"both without dimensions", point(0, 0), point(0, 0), 0.0, 0.0},
      {"zero width", box(0, 0, 0, 4, 0), box(0, 0, 0, 4, 2), 0.0, 0.0},
      // Their bounding boxes overlap widely; only the overlay can tell.
      {"turned, touching along an edge", box(0, 0, PI_F / 4, 4, 2),
       box(-2 * std::sin(PI_F / 4), 2 * std::cos(PI_F / 4), PI_F / 4, 4, 2), 0.0,
       double{ROUNDING_TOLERANCE}},
      // Exactly one negative extent turns the corner order counter-clockwise; the
      // footprint is still the same rectangle.
      {"mirrored", box(0, 0, 0, -4, 2), box(2, 0, 0, 4, 2), 1.0 / 3, EXACT_ARITHMETIC_TOLERANCE},
      {"both mirrored", box(0, 0, 0, -4, 2), box(2, 0, 0, 4, -2), 1.0 / 3,
       EXACT_ARITHMETIC_TOLERANCE},
      {"mirrored twice", box(0, 0, 0, -4, -2), box(2, 0, 0, 4, 2), 1.0 / 3,
       EXACT_ARITHMETIC_TOLERANCE},
      // The overlay loses the intersection of the first with itself (found by fuzzing it
      // as a reference) and gives 0.
      {"identical, 23 km by 0.35 mm", box(0, 3.5e-4f, 0, 23488.48f, 3.5e-4f),
       box(0, 3.5e-4f, 0, 23488.48f, 3.5e-4f), 1.0, 0.0},
      {"identical, thin", box(-7, 2, 1.1f, 1e4f, 1e-2f), box(-7, 2, 1.1f, 1e4f, 1e-2f), 1.0, 0.0},
      {"identical, far out", box(1e6f, 1e6f, -2.9f, 4.5f, 1.8f), box(1e6f, 1e6f, -2.9f, 4.5f, 1.8f),
       1.0, 0.0},
  };
  expectBothWays(cases, &State::overlap);
}

TEST(Overlap, IsNaNWithoutPositionOrForNonFiniteFootprints) {
  const State normal = box(0, 0, 0, 4, 2);
  State noPosition = normal;
  noPosition.position.reset();
  EXPECT_TRUE(std::isnan(noPosition.overlap(noPosition)));
  const State cases[] = {
      noPosition,
      box(kNaN, 0, 0, 4, 2),
      box(0, 0, kNaN, 4, 2),
      box(0, 0, kInf, 4, 2),
      box(0, 0, 0, kInf, 2),
      box(0, 0, 0, 4, 2, 0, -kInf),
      box(-kInf, 0, 0, 4, 2),
      box(0, 0, 0, kNaN, 2),
      // Finite inputs whose corners overflow the float range.
      box(3e38f, 0, 0, 1e38f, 2),
  };
  for (const State& odd : cases) {
    EXPECT_TRUE(std::isnan(odd.overlap(normal))) << odd;
    EXPECT_TRUE(std::isnan(normal.overlap(odd))) << odd;
  }
  // Far away makes no difference: a non-finite footprint has no place to be far from.
  EXPECT_TRUE(std::isnan(box(1000, 0, kNaN, 4, 2).overlap(normal)));
  EXPECT_TRUE(std::isnan(box(1000, kNaN, 0, 4, 2).overlap(normal)));
  EXPECT_TRUE(std::isnan(normal.overlap(point(-1000, kNaN))));
}

TEST(Overlap, UnionsOfAtMostTwoToTheMinus52GiveZero) {
  EXPECT_EQ(box(0, 0, 0, 4e-13f, 2e-13f).overlap(box(1e-13f, 0, 0.2f, 4e-13f, 2e-13f)), 0.0);
  // Just above the rule, a value again.
  EXPECT_NEAR(box(0, 0, 0, 2e-7f, 2e-7f).overlap(box(1e-7f, 0, 0, 2e-7f, 2e-7f)), 1.0 / 3,
              double{ROUNDING_TOLERANCE});
}

TEST(Overlap, HasNoSpanLimit) {
  for (const float scale : {1e-3f, 1e4f, 1e9f, 1e30f}) {
    EXPECT_NEAR(
        box(0, 0, 0, 4 * scale, 2 * scale).overlap(box(2 * scale, 0, 0, 4 * scale, 2 * scale)),
        1.0 / 3, EXACT_ARITHMETIC_TOLERANCE)
        << scale;
  }
  // Far apart needs no geometry at all.
  EXPECT_EQ(box(0, 0, 0, 4e9f, 2e9f).overlap(box(1e10f, 0, 0, 4e9f, 2e9f)), 0.0);
}

TEST(Overlap, AllocatesNothing) {
  const State pairs[][2] = {{box(0, 0, 0.3f, 4, 2), box(1, 0.5f, 0.2f, 4, 2)},
                            {box(0, 0, 0, 4, 2), box(50, 0, 0, 4, 2)},
                            {box(0, 0, 0.3f, 4, 2), box(0, 0, 0.3f, 4, 2)}};
  double sum = 0;
  const zelvane::testing::AllocationCounter counter;
  for (const auto& p : pairs) sum += p[0].overlap(p[1]) + p[0].distance(p[1]);
  const long allocations = counter.count();
  EXPECT_EQ(allocations, 0);
  EXPECT_GT(sum, 1.0);
}

TEST(Overlap, HostileInputsGiveAFractionOrNaNAndNeverThrow) {
  const std::vector<float> values = {0.0f,  -0.0f,  1e-45f, 1e-30f, 1e-13f, 0.5f, 1.0f,
                                     -1.0f, 2.5f,   -3.0f,  7.0f,   1e5f,   1e9f, -1e9f,
                                     3e38f, -3e38f, kInf,   -kInf,  kNaN};
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::size_t> pick(0, values.size() - 1);
  std::uniform_real_distribution<float> plain(-3, 3);
  // Each field takes a hostile value a quarter of the time, so that many pairs still
  // meet and reach the overlay.
  auto field = [&]() { return rng() % 4 == 0 ? values[pick(rng)] : plain(rng); };
  for (int i = 0; i < 4000; ++i) {
    const State a = box(field(), field(), field(), field(), field(), field(), field());
    const State b = box(field(), field(), field(), field(), field(), field(), field());
    double result = 0;
    ASSERT_NO_THROW(result = a.overlap(b)) << a << b;
    ASSERT_TRUE(std::isnan(result) || (result >= 0.0 && result <= 1.0)) << result << "\n" << a << b;
    double d = 0;
    ASSERT_NO_THROW(d = a.distance(b)) << a << b;
    ASSERT_TRUE(std::isnan(d) || d >= 0.0) << d << "\n" << a << b;
  }
}

// --- distance ----------------------------------------------------------------------

TEST(Distance, IsTheSmallestCornerToFootprintDistance) {
  const PairCase cases[] = {
      {"identical", box(1, 1, 0.3f, 4, 2), box(1, 1, 0.3f, 4, 2), 0.0, 0.0},
      {"apart along x", box(0, 0, 0, 4, 2), box(10, 0, 0, 4, 2), 6.0, 0.0},
      {"apart diagonally", box(0, 0, 0, 4, 2), box(10, 10, 0, 4, 2), 10.0,
       EXACT_ARITHMETIC_TOLERANCE},
      {"inside", box(0, 0, 0, 1, 1), box(0, 0, 0.5f, 4, 4), 0.0, 0.0},
      {"crossing without a corner inside", box(0, 0, 0, 10, 1), box(0, 0, PI_F / 2, 10, 1), 4.5,
       double{CHAIN_TOLERANCE}},
      {"points", point(0, 0), point(3, 4), 5.0, 0.0},
      {"point to box", point(5, 0), box(0, 0, 0, 4, 2), 3.0, 0.0},
  };
  expectBothWays(cases, &State::distance);
}

TEST(Distance, AgreesWithTheDistancesToThePublicPolygons) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> where(-10, 10), turn(-4, 4), size(-1, 6), offset(-1, 1);
  for (int i = 0; i < 500; ++i) {
    const State a =
        box(where(rng), where(rng), turn(rng), size(rng), size(rng), offset(rng), offset(rng));
    const State b =
        box(where(rng), where(rng), turn(rng), size(rng), size(rng), offset(rng), offset(rng));
    ASSERT_EQ(a.distance(b), referenceDistance(a, b)) << "pair " << i;
  }
}

// The distance of the float centres evaluated in long double, over `dims` coordinates.
long double longDoubleDistance(const Eigen::Vector3f& a, const Eigen::Vector3f& b, int dims) {
  long double sum = 0;
  for (int k = 0; k < dims; ++k) {
    const long double d = static_cast<long double>(a[k]) - static_cast<long double>(b[k]);
    sum += d * d;
  }
  return std::sqrt(sum);
}

TEST(CentroidDistance, IsTheDistanceOfTheBoxCentresSeenFromAboveAndInSpace) {
  State raised = box(0, 0, 0, 4, 2, 0, 0);
  raised.position->mean.z() = 3.0f;
  raised.dimensions->anchor.z = -1.0f;  // centre at z = 4
  const struct {
    const char* name;
    State a;
    State b;
    double flat;
    double space;
  } cases[] = {
      {"points", point(0, 0, 0), point(3, 4, 12), 5.0, 13.0},
      {"the turned anchor moves the centre", box(5, 5, PI_F, 4, 2, 1, 0), box(0, 5, 0, 4, 2), 6.0,
       6.0},
      // The corner distance is 0.1 here and 0 for any offset once a corner is inside.
      {"side by side", box(0, 0, 0, 4.5f, 1.8f), box(0, 1.9f, 0, 4.5f, 1.8f), 1.9, 1.9},
      {"the same box turned about its centre", box(0, 0, 0, 4, 2), box(0, 0, 0.1f, 4, 2), 0.0, 0.0},
      {"the anchor's z", raised, box(3, 4, 0, 4, 2), 5.0, std::sqrt(41.0)},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(c.a.centroidDistance(c.b), c.flat, double{CHAIN_TOLERANCE}) << c.name;
    EXPECT_NEAR(c.a.centroidDistance3d(c.b), c.space, double{CHAIN_TOLERANCE}) << c.name;
    EXPECT_EQ(c.a.centroidDistance(c.b), c.b.centroidDistance(c.a)) << c.name;
    EXPECT_EQ(c.a.centroidDistance3d(c.b), c.b.centroidDistance3d(c.a)) << c.name;
  }
  EXPECT_GT(box(0, 0, 0, 4, 2).distance(box(0, 0, 0.1f, 4, 2)), 0.05);

  // Random centres against long double, within a few roundings of double.
  std::mt19937 rng(41);
  std::uniform_real_distribution<float> where(-1e4f, 1e4f), turn(-4, 4), size(-1, 6);
  for (int i = 0; i < 500; ++i) {
    const State a = box(where(rng), where(rng), turn(rng), size(rng), size(rng), size(rng), 0);
    State b = box(where(rng) * 1e-3f, where(rng), turn(rng), size(rng), size(rng), 0, size(rng));
    b.position->mean.z() = where(rng);
    for (const int dims : {2, 3}) {
      const double got = dims == 2 ? a.centroidDistance(b) : a.centroidDistance3d(b);
      const long double want = longDoubleDistance(a.centroid(), b.centroid(), dims);
      ASSERT_NEAR(got, static_cast<double>(want), 4 * DOUBLE_EPSILON * static_cast<double>(want))
          << "pair " << i << " in " << dims << " dimensions";
    }
  }
}

// The corner distance is NaN without a position or a finite footprint; the centre
// distance only without a finite centre.
TEST(Distances, AreNaNWithoutAPositionOrWhatTheyMeasureFrom) {
  const State normal = box(0, 0, 0, 4, 2);
  State noPosition = normal;
  noPosition.position.reset();
  State zNaN = box(3, 4, 0, 4, 2);
  zNaN.position->mean.z() = kNaN;
  for (const State& bad : {noPosition, box(0, 0, kNaN, 4, 2), box(kInf, 0, 0, 4, 2)}) {
    EXPECT_TRUE(std::isnan(bad.distance(normal)));
    EXPECT_TRUE(std::isnan(normal.distance(bad)));
    EXPECT_TRUE(std::isnan(bad.centroidDistance(normal)));
    EXPECT_TRUE(std::isnan(normal.centroidDistance(bad)));
    EXPECT_TRUE(std::isnan(normal.centroidDistance3d(bad)));
  }
  // The extents do not move the centre; the z only counts in space.
  EXPECT_TRUE(std::isnan(box(0, kInf, 0, 4, 2).distance(normal)));
  EXPECT_EQ(box(3, 4, 0, kInf, 2).centroidDistance(normal), 5.0);
  EXPECT_EQ(zNaN.centroidDistance(normal), 5.0);
  EXPECT_TRUE(std::isnan(zNaN.centroidDistance3d(normal)));
}

TEST(SquaredDistance, IsTheSquaredDistanceOfThePositionsOrNaNWithoutOne) {
  EXPECT_EQ(State::getSquaredDistance(point(1, 2, 3), point(4, 6, 3)), 25.0f);
  EXPECT_EQ(State::getSquaredDistance(point(0, 0, 0), point(1, 2, 2)), 9.0f);
  EXPECT_EQ(State::getSquaredDistance(point(1, 1, 1), point(1, 1, 1)), 0.0f);
  EXPECT_TRUE(std::isnan(State::getSquaredDistance(State(), point(1, 2, 3))));
  EXPECT_TRUE(std::isnan(State::getSquaredDistance(point(1, 2, 3), State())));
}

// --- comparison --------------------------------------------------------------------

TEST(ApproximatelyEqual, AcceptsExactAbsoluteOrRelativeNearness) {
  struct Case {
    float a;
    float b;
    bool equal;
  };
  const Case cases[] = {
      {1.0f, 1.0f, true},
      {0.0f, -0.0f, true},
      {1.0f, 1.0000001f, true},      // one unit in the last place
      {100.0f, 100.00001f, true},    // within 100 epsilon
      {-100.0f, -100.00001f, true},  // the bound scales with the magnitude, on both sides
      {-100.0f, -100.0001f, false},
      {100.0f, 100.0001f, false},
      {1000000.0f, 1000000.125f, false},  // above 1e6 epsilon
      {-1000000.0f, -1000000.125f, false},
      {-1000000.0f, -1000000.0625f, true},  // one float step
      {1000000.0f, 1000000.0625f, true},
      {100.0f, -100.0f, false},
      {0.0f, 1e-7f, true},
      {0.0f, 2e-7f, false},
      {-1e-7f, 0.0f, true},
      {kNaN, kNaN, false},
      {kNaN, 1.0f, false},
      {1.0f, kNaN, false},
      {kInf, kInf, true},
      {-kInf, -kInf, true},
      {kInf, 1e30f, false},  // the relative bound of an infinity passes nothing
      {1.0f, kInf, false},
      {-kInf, kInf, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(approximatelyEqual(c.a, c.b), c.equal) << c.a << " vs " << c.b;
  }
}

TEST(StateValuesEquality, EverySlotCountsAlsoAgainstTheState) {
  const State s = complete();
  const StateValues base(s);
  EXPECT_TRUE(base == base);
  for (int i = 0; i < 20; ++i) {
    StateValues changed = base;
    *slot(changed, i) += 1.0f;
    EXPECT_FALSE(base == changed) << "slot " << i;
    EXPECT_FALSE(changed == base) << "slot " << i;
    StateValues nudged = base;
    *slot(nudged, i) += 0.5f;
    EXPECT_FALSE(nudged == s) << "slot " << i;
    EXPECT_FALSE(s == nudged) << "slot " << i;
    StateValues nan = base;
    *slot(nan, i) = kNaN;
    EXPECT_FALSE(nan == nan) << "slot " << i;
  }
}

TEST(StateValuesEquality, MatchesTheCompleteStateItWasBuiltFromAndNoIncompleteOne) {
  const StateValues v(complete());
  EXPECT_TRUE(v == complete());
  EXPECT_TRUE(complete() == v);
  // Covariances take no part.
  State noisier = complete();
  noisier.position->covariance = Eigen::Matrix3f::Identity();
  noisier.heading->covariance = 9;
  EXPECT_TRUE(v == noisier);

  const auto resets = {
      +[](State& s) { s.position.reset(); },     +[](State& s) { s.velocity.reset(); },
      +[](State& s) { s.acceleration.reset(); }, +[](State& s) { s.dimensions.reset(); },
      +[](State& s) { s.heading.reset(); },      +[](State& s) { s.headingRate.reset(); },
  };
  int member = 0;
  for (auto reset : resets) {
    State s = complete();
    reset(s);
    EXPECT_FALSE(v == s) << "member " << member;
    EXPECT_FALSE(s == v) << "member " << member;
    // Not even the mirror of the incomplete state itself.
    EXPECT_FALSE(StateValues(s) == s) << "member " << member;
    ++member;
  }
}

// `a == b` is well formed for these operand types.
template <class A, class B, class = void>
struct HasEquality : std::false_type {};
template <class A, class B>
struct HasEquality<A, B,
                   std::void_t<decltype(std::declval<const A&>() == std::declval<const B&>())>>
    : std::true_type {};

// Two states do not compare (through the conversion to StateValues they would compare
// unequal to themselves); every comparison with StateValues still does.
static_assert(!HasEquality<State, State>::value, "State == State must not compile");
static_assert(HasEquality<StateValues, StateValues>::value, "StateValues == StateValues");
static_assert(HasEquality<StateValues, State>::value, "StateValues == State");
static_assert(HasEquality<State, StateValues>::value, "State == StateValues");

// --- text form ---------------------------------------------------------------------

TEST(TextForm, WritesSixSectionsWithEigenMatricesOrTheirTitlesAlone) {
  State s;
  s.position = gaussian3(1, 2.5f, -3);
  s.position->covariance = Eigen::Vector3f(0.1f, 0.1f, 0.2f).asDiagonal();
  s.heading = gaussian1(0.5f, 0.01f);
  s.dimensions = Dims(4.5f, 1.8f, 1.5f);
  std::ostringstream out;
  out << s;
  EXPECT_EQ(out.str(),
            "POSITION\n"
            "mean:   1 2.5  -3\n"
            "covariance:\n"
            "0.1   0   0\n"
            "  0 0.1   0\n"
            "  0   0 0.2\n"
            "VELOCITY\n"
            "(not available)\n"
            "ACCELERATION\n"
            "(not available)\n"
            "HEADING\n"
            "mean: 0.5\n"
            "covariance: 0.01\n"
            "HEADING RATE\n"
            "(not available)\n"
            "DIMENSIONS\n"
            " length: 4.5 width: 1.8 height: 1.5\n"
            "anchor: (0, 0, 0)\n");

  std::ostringstream empty;
  empty << State();
  EXPECT_EQ(empty.str(),
            "POSITION\n(not available)\n"
            "VELOCITY\n(not available)\n"
            "ACCELERATION\n(not available)\n"
            "HEADING\n(not available)\n"
            "HEADING RATE\n(not available)\n"
            "DIMENSIONS\n(not available)\n");
}

TEST(TextForm, UsesTheStreamsFormattingAndLeavesItAsItWas) {
  State s;
  s.velocity = gaussian3(1, -2, 0.5f);
  s.velocity->covariance = Eigen::Matrix3f::Identity();
  s.headingRate = gaussian1(0.25f, 0.3f);
  s.dimensions = Dims(4, 2, 1, Anchor{0.5f, 0, 0});
  std::ostringstream out;
  out << std::fixed;
  out.precision(2);
  out.fill('*');
  out << s;
  EXPECT_EQ(out.str(),
            "POSITION\n(not available)\n"
            "VELOCITY\n"
            "mean:  1.00 -2.00  0.50\n"
            "covariance:\n"
            "1.00 0.00 0.00\n"
            "0.00 1.00 0.00\n"
            "0.00 0.00 1.00\n"
            "ACCELERATION\n(not available)\n"
            "HEADING\n(not available)\n"
            "HEADING RATE\n"
            "mean: 0.25\n"
            "covariance: 0.30\n"
            "DIMENSIONS\n"
            " length: 4.00 width: 2.00 height: 1.00\n"
            "anchor: (0.50, 0.00, 0.00)\n");
  EXPECT_EQ(out.precision(), 2);
  EXPECT_EQ(out.fill(), '*');
  EXPECT_EQ(out.width(), 0);
  EXPECT_TRUE(out.flags() & std::ios_base::fixed);
}

}  // namespace
