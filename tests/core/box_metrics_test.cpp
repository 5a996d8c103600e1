// `State::generalizedOverlap` and `State::overlap3d` against exact rational arithmetic
// on the same float corners, centres and heights, over hostile and fixed-seed random
// pairs, with the hull also checked against Boost.Geometry's convex hull.
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "boost_quiet.h"
#include "core/exact_overlap.h"
#include "support/tolerance.h"

namespace {

namespace bg = boost::geometry;
using zelvane::core::FootprintPolygon;
using zelvane::core::State;
using zelvane::testing::bothConvex;
using zelvane::testing::boxAt;
using zelvane::testing::EXACT_ARITHMETIC_TOLERANCE;
using zelvane::testing::exactGeneralizedOverlap;
using zelvane::testing::exactOverlap3d;
using zelvane::testing::floatStepUp;
using zelvane::testing::FootprintCase;
using zelvane::testing::PI_F;

State box3d(float x, float y, float z, float heading, float length, float width, float height,
            const zelvane::tkit::Cart<float, zelvane::frames::Trackable>& anchor = {}) {
  return State::box({x, y, z}, heading, length, width, height, anchor);
}

// Both metrics in both operand orders against the exact values, within their ranges.
void expectExact(const FootprintCase& c) {
  const double giou = exactGeneralizedOverlap(c.a, c.b);
  const double iou3d = exactOverlap3d(c.a, c.b);
  for (const bool swapped : {false, true}) {
    const State& a = swapped ? c.b : c.a;
    const State& b = swapped ? c.a : c.b;
    const std::string name = c.name + (swapped ? " (swapped)" : "");
    const double g = a.generalizedOverlap(b);
    const double v = a.overlap3d(b);
    EXPECT_NEAR(g, giou, EXACT_ARITHMETIC_TOLERANCE) << name;
    EXPECT_NEAR(v, iou3d, EXACT_ARITHMETIC_TOLERANCE) << name;
    EXPECT_TRUE(g >= -1.0 && g <= 1.0 && g <= a.overlap(b)) << name << ": " << g;
    EXPECT_TRUE(v >= 0.0 && v <= 1.0) << name << ": " << v;
  }
}

TEST(BoxMetricsExactness, HostilePairsAgreeWithExactArithmetic) {
  const float c45 = std::cos(PI_F / 4), s45 = std::sin(PI_F / 4);
  const State turned(boxAt(2.8342968f, -0.71847479f, -1.2305742f, 1.2172240f, 4.3384706f));
  const State far(boxAt(1e6f, -1e6f, 1.1f, 4.5f, 1.8f));
  const FootprintCase cases[] = {
      {"identical", turned, turned},
      {"one float step turned", turned,
       boxAt(2.8342968f, -0.71847479f, floatStepUp(-1.2305742f), 1.2172240f, 4.3384706f)},
      {"one float step along x", far, boxAt(floatStepUp(1e6f), -1e6f, 1.1f, 4.5f, 1.8f)},
      {"contained, same centre", boxAt(1, 2, 0.4f, 2, 1), boxAt(1, 2, 0.4f, 4, 4)},
      {"contained, sharing an edge", boxAt(1, 0, 0, 2, 2), boxAt(0, 0, 0, 4, 2)},
      {"sharing an edge", boxAt(0, 0, PI_F / 4, 4, 2), boxAt(-2 * s45, 2 * c45, PI_F / 4, 4, 2)},
      {"touching at a corner", boxAt(0, 0, 0, 4, 2), boxAt(4, 2, 0, 4, 2)},
      {"thin crossing", boxAt(0, 0, 0, 10, 0.01f), boxAt(0, 0, PI_F / 2, 10, 0.01f)},
      {"thin in a row", boxAt(0, 0, 0.3f, 10, 0.01f),
       boxAt(12 * std::cos(0.3f), 12 * std::sin(0.3f), 0.3f, 10, 0.01f)},
      {"apart", boxAt(0, 0, 0.2f, 4, 2), boxAt(7, -3, 1.3f, 4.5f, 1.8f)},
      {"far apart", boxAt(0, 0, 0.2f, 4, 2), boxAt(3e4f, 5e3f, 1.3f, 4.5f, 1.8f)},
      {"far from the origin", far, boxAt(1e6f + 1.5f, -1e6f + 0.5f, 0.9f, 4, 2)},
      {"negative extents", State::box({0, 0, 0}, 0.3f, -4, -2, -1), boxAt(1, 0.5f, 0.7f, 4, 2)},
      {"zero width beside a box", boxAt(0, 0, 0, 4, 0), boxAt(0, 3, 0.2f, 4, 2)},
      {"zero width inside a box", boxAt(0, 0, 0, 2, 0), boxAt(0, 0, 0.2f, 4, 2)},
      {"different heights", box3d(0, 0, 0, 0.2f, 4, 2, 1.5f), box3d(1, 0.5f, 0.3f, 0.2f, 4, 2, 3)},
      {"stacked, touching", box3d(0, 0, 0, 0.2f, 4, 2, 2), box3d(0.5f, 0, 2, 0.2f, 4, 2, 2)},
      {"stacked, apart", box3d(0, 0, 0, 0.2f, 4, 2, 2), box3d(0.5f, 0, 2.5f, 0.2f, 4, 2, 2)},
      {"one inside the other's height", box3d(0, 0, 1, 0.4f, 4, 2, 0.5f),
       box3d(0.2f, 0, 1.1f, 0.4f, 4, 2, 4)},
      {"anchored at the bottom", box3d(0, 0, 0, 0.3f, 4, 2, 2, {1, 0, -1}),
       box3d(-1, 0.2f, 0.5f, 0.3f, 4, 2, 1.5f, {0, 0.5f, -0.75f})},
      {"one float step up", box3d(3, 4, 1e3f, 0.2f, 4, 2, 1.5f),
       box3d(3, 4, floatStepUp(1e3f), 0.2f, 4, 2, 1.5f)},
      {"no height", box3d(0, 0, 0, 0, 4, 2, 0), box3d(1, 0, 0, 0, 4, 2, 1)},
      // Found by fuzzing: measured from a far point, the shape of a small box was lost
      // (the hull's turns, its fan, or the box's own area), giving 0 for nearly -1.
      {"zero-area point far from a tiny box", boxAt(0, -2e-6f, 0.01f, 3.5e-4f, 2e-6f),
       boxAt(-3.38953159e+38f, -8.88443894e+26f, 0, 0, 0)},
      {"zero-area point far from a tiny square",
       boxAt(3.54e-4f, 3.54e-4f, 0.001f, 3.5e-4f, 3.5e-4f),
       boxAt(-6.16722713e+35f, 1.15896214e+35f, 0, 0, 0)},
      {"zero-area point 1e6 from a box", boxAt(0, 0, 0.3f, 4, 2), boxAt(1e6f, 3e5f, 0, 0, 0)},
      {"far up", box3d(10, 10, -3e5f, 0.1f, 4.5f, 1.8f, 1.5f),
       box3d(10.5f, 10, -3e5f + 0.75f, 0.1f, 4.5f, 1.8f, 1.5f)},
  };
  for (const FootprintCase& c : cases) {
    ASSERT_TRUE(bothConvex(c) || c.name.rfind("zero", 0) == 0) << c.name;
    expectExact(c);
  }
}

TEST(BoxMetricsExactness, KnownValuesAndRules) {
  // Apart along x by 2 with a 4 x 2 box each: union 16, hull 8 x 2 = 16, so
  // generalised = overlap = 0; a third of the way up the other's height: 1/5.
  const State a = box3d(0, 0, 0, 0, 4, 2, 3);
  EXPECT_DOUBLE_EQ(a.generalizedOverlap(box3d(4, 0, 0, 0, 4, 2, 3)), 0.0);
  EXPECT_DOUBLE_EQ(a.generalizedOverlap(box3d(6, 0, 0, 0, 4, 2, 3)), 16.0 / 20.0 - 1.0);
  EXPECT_DOUBLE_EQ(a.overlap3d(box3d(0, 0, 2, 0, 4, 2, 3)), 1.0 / 5.0);
  EXPECT_DOUBLE_EQ(a.overlap3d(a), 1.0);
  EXPECT_DOUBLE_EQ(a.generalizedOverlap(a), 1.0);
  // The anchor moves the vertical extent: a box whose position is its bottom.
  EXPECT_DOUBLE_EQ(a.overlap3d(box3d(0, 0, -1.5f, 0, 4, 2, 3, {0, 0, -1.5f})), 1.0);

  State point;
  point.position = zelvane::Gaussian<float, 3>();
  point.position->mean = Eigen::Vector3f(10, 0, 0);
  EXPECT_EQ(point.generalizedOverlap(point), -1.0);  // no area on either side
  EXPECT_EQ(point.overlap3d(point), 0.0);
  // The hull adds the triangle from the box's right edge to the point: 8 of its 16.
  EXPECT_DOUBLE_EQ(point.generalizedOverlap(a), -0.5);
  State noPosition = a;
  noPosition.position.reset();
  State nanZ = a;
  nanZ.position->mean.z() = std::numeric_limits<float>::quiet_NaN();
  State infHeight = a;
  infHeight.dimensions->height = std::numeric_limits<float>::infinity();
  EXPECT_TRUE(std::isnan(a.generalizedOverlap(noPosition)));
  EXPECT_TRUE(
      std::isnan(boxAt(0, 0, std::numeric_limits<float>::quiet_NaN(), 4, 2).generalizedOverlap(a)));
  EXPECT_TRUE(std::isnan(noPosition.overlap3d(a)));
  EXPECT_TRUE(std::isnan(a.overlap3d(nanZ)));
  EXPECT_TRUE(std::isnan(infHeight.overlap3d(box3d(1e4f, 0, 0, 0, 4, 2, 1))));
  EXPECT_FALSE(std::isnan(nanZ.generalizedOverlap(a)));  // the footprint has no z
}

// The hull area by Boost.Geometry's convex hull of both public polygons, as
// overlap - (hull - union) / hull with the library's union.
double overlayGeneralizedOverlap(const State& a, const State& b) {
  FootprintPolygon both = a.getBoostPolygon();
  const FootprintPolygon pb = b.getBoostPolygon();
  both.outer().insert(both.outer().end(), pb.outer().begin(), pb.outer().end());
  FootprintPolygon hull;
  bg::convex_hull(both, hull);
  const double hullArea = std::abs(bg::area(hull));
  const double areaA = std::abs(bg::area(a.getBoostPolygon()));
  const double areaB = std::abs(bg::area(pb));
  const double overlap = a.overlap(b);
  const double unionArea = (areaA + areaB) / (1.0 + overlap);
  return overlap - (hullArea - unionArea) / hullArea;
}

TEST(BoxMetricsExactness, RandomPairsAgreeWithExactArithmeticAndTheOverlayHull) {
  int meeting = 0;
  int apart = 0;
  for (const FootprintCase& c : zelvane::testing::randomFootprintPairs(20261209, 500)) {
    if (!bothConvex(c)) continue;  // a box thinner than the float spacing at 1e6
    FootprintCase lifted = c;      // differing heights and centres for the vertical extents
    lifted.b.position->mean.z() = 0.25f * static_cast<float>(meeting % 7) - 0.5f;
    lifted.b.dimensions->height = 0.5f + 0.3f * static_cast<float>(apart % 5);
    expectExact(lifted);
    const double g = c.a.generalizedOverlap(c.b);
    meeting += g > 0.0;
    apart += g < 0.0;
    if (std::abs(c.a.position->mean.x()) < 1e3f && std::abs(c.a.position->mean.y()) < 1e3f) {
      EXPECT_NEAR(g, overlayGeneralizedOverlap(c.a, c.b), 1e-6) << c.name;
    }
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(meeting, 80) << apart;
  EXPECT_GT(apart, 200) << meeting;
}

}  // namespace
