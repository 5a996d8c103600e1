// Camera-frame boxes in the library's convention and back, and the measures between
// boxes: the conversion against a hand-worked box and over round trips through hostile
// yaws; the overlaps against exact rational arithmetic on the same double corners and
// against the library's float geometry of the converted boxes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/exact_overlap.h"
#include "eval/box_measures.h"
#include "eval/camera_box.h"
#include "support/tolerance.h"

namespace zelvane::eval {
namespace {

using testing::PI;

// The angle between two yaws, whole turns aside.
double angleBetween(double a, double b) { return std::abs(core::wrapAngle(a - b)); }

// A car 10 m ahead and 2 m to the right of the camera, its bottom 1.5 m below the
// camera, pointing along the camera's x axis (yaw 0): in the library's frame its centre
// is 10 m ahead, 2 m to the right (y = -2) and 0.75 m below (z = 0.75 - 1.5), heading
// -pi/2 (towards -y); its front-left corner, (l/2, w/2) of its own axes, is the camera
// point x + 2 = 4, z + 0.8 = 10.8, which is (10.8, -4) in the library's frame.
TEST(CameraBox, HandWorkedBoxLandsWhereTheAxesSay) {
  const CameraBox box{2.0, 1.5, 10.0, 1.5, 1.6, 4.0, 0.0};
  const core::State state = stateFromCameraBox(box);
  EXPECT_NEAR(state.position->mean.x(), 10.0f, 1e-6f);
  EXPECT_NEAR(state.position->mean.y(), -2.0f, 1e-6f);
  EXPECT_NEAR(state.position->mean.z(), -0.75f, 1e-6f);
  EXPECT_NEAR(state.heading->mean, static_cast<float>(-PI / 2), 1e-6f);
  EXPECT_EQ(state.dimensions->length, 4.0f);
  EXPECT_EQ(state.dimensions->width, 1.6f);
  EXPECT_EQ(state.dimensions->height, 1.5f);
  const auto corners = state.getCorners2D();
  EXPECT_NEAR(corners[0].x(), 10.8f, 1e-5f);
  EXPECT_NEAR(corners[0].y(), -4.0f, 1e-5f);

  // Turned a quarter (yaw pi/2): the length points at the camera (-z), the library's -x.
  const core::State turned = stateFromCameraBox(CameraBox{2.0, 1.5, 10.0, 1.5, 1.6, 4.0, PI / 2});
  EXPECT_NEAR(angleBetween(turned.heading->mean, PI), 0.0, 1e-6);
}

TEST(CameraBox, RoundTripsBothWaysOverHostileYaws) {
  const double eps = 1e-7;
  const double yaws[] = {-PI,    -PI + eps,    -PI / 2 - eps, -PI / 2, -eps, 0.0,  eps,
                         PI / 2, PI / 2 + eps, PI - eps,      PI,      3.0,  -3.0, 1e-12};
  for (const double yaw : yaws) {
    const CameraBox box{-6.25, 1.75, 46.5, 1.5, 1.625, 4.0, yaw};
    const CameraBox back = cameraBoxFromState(stateFromCameraBox(box));
    EXPECT_NEAR(back.x, box.x, 1e-5) << yaw;
    EXPECT_NEAR(back.y, box.y, 1e-5) << yaw;
    EXPECT_NEAR(back.z, box.z, 1e-5) << yaw;
    EXPECT_EQ(back.length, box.length);
    EXPECT_EQ(back.width, box.width);
    EXPECT_EQ(back.height, box.height);
    EXPECT_LT(angleBetween(back.yaw, box.yaw), 1e-6) << yaw;

    // And from the library's side: a heading across +-pi and back.
    const core::State state =
        core::State::box({3.0f, -1.0f, 0.5f}, static_cast<float>(yaw), 4.5f, 1.8f, 1.4f);
    const core::State again = stateFromCameraBox(cameraBoxFromState(state));
    EXPECT_LT((again.position->mean - state.position->mean).norm(), 1e-6f) << yaw;
    EXPECT_LT(angleBetween(again.heading->mean, state.heading->mean), 1e-6) << yaw;
  }
  EXPECT_THROW(cameraBoxFromState(core::State()), std::invalid_argument);
}

// Two camera boxes and the same boxes through the conversion measure alike: the
// conversion is a proper rotation of space, under which overlaps do not change.
TEST(CameraBox, ConvertedBoxesOverlapAsTheCameraBoxesDo) {
  std::mt19937_64 rng(28);
  std::uniform_real_distribution<double> near(-2.0, 2.0);
  std::uniform_real_distribution<double> size(0.5, 5.0);
  std::uniform_real_distribution<double> turn(-PI, PI);
  for (int n = 0; n < 300; ++n) {
    const auto make = [&] {
      return CameraBox{-5.0 + near(rng), 1.5 + 0.3 * near(rng),
                       30.0 + near(rng), size(rng),
                       size(rng),        size(rng),
                       turn(rng)};
    };
    const CameraBox a = make();
    const CameraBox b = make();
    const core::State sa = stateFromCameraBox(a);
    const core::State sb = stateFromCameraBox(b);
    EXPECT_NEAR(overlap3d(a, b), sa.overlap3d(sb), 1e-5) << n;
    EXPECT_NEAR(birdsEyeOverlap(a, b), sa.overlap(sb), 1e-5) << n;
  }
}

// The footprint of a camera box in the x-z plane as exact rationals, computed here
// from the box on its own.
testing::ExactQuad exactFootprint(const CameraBox& box) {
  const double c = std::cos(box.yaw);
  const double s = std::sin(box.yaw);
  const double u[4] = {box.length / 2, box.length / 2, -box.length / 2, -box.length / 2};
  const double v[4] = {box.width / 2, -box.width / 2, -box.width / 2, box.width / 2};
  testing::ExactQuad quad;
  for (int i = 0; i < 4; ++i) {
    quad[i] = testing::ExactPoint{testing::Rational(c * u[i] + s * v[i] + box.x),
                                  testing::Rational(-s * u[i] + c * v[i] + box.z)};
  }
  return quad;
}

double exactOverlap3d(const CameraBox& a, const CameraBox& b) {
  using testing::Rational;
  const testing::ExactQuad qa = exactFootprint(a);
  const testing::ExactQuad qb = exactFootprint(b);
  const Rational intersection = testing::exactIntersectionArea(qa, qb);
  const Rational top = std::min(Rational(a.y), Rational(b.y));
  const Rational bottom =
      std::max(Rational(a.y) - Rational(a.height), Rational(b.y) - Rational(b.height));
  if (intersection == 0 || top <= bottom) return 0.0;
  const Rational common = intersection * (top - bottom);
  return static_cast<double>(common / (testing::exactArea(qa) * Rational(a.height) +
                                       testing::exactArea(qb) * Rational(b.height) - common));
}

// Pairs placed as the benchmark's boxes are (tens of metres from the camera, turned any
// way), nearly equal ones among them, and boxes sharing an edge or a face.
TEST(BoxMeasures, OverlapsAgreeWithExactArithmetic) {
  std::mt19937_64 rng(2028);
  std::uniform_real_distribution<double> near(-1.5, 1.5);
  std::uniform_real_distribution<double> size(0.3, 5.0);
  std::uniform_real_distribution<double> turn(-PI, PI);
  std::vector<std::pair<CameraBox, CameraBox>> pairs = {
      {{0, 1, 10, 1.5, 2, 4, 0}, {0, 1, 10, 1.5, 2, 4, 0}},             // the same box
      {{0, 1, 10, 1.5, 2, 4, 0}, {4, 1, 10, 1.5, 2, 4, 0}},             // sharing a face
      {{0, 1, 10, 1.5, 2, 4, 0}, {0, 2.5, 10, 1.5, 2, 4, 0}},           // one on the other
      {{0, 1, 10, 1.5, 2, 4, PI / 2}, {0, 1, 10, 1.5, 2, 4, -PI / 2}},  // turned about
  };
  for (int n = 0; n < 400; ++n) {
    const double x = 40.0 * near(rng);
    const double z = 5.0 + 30.0 * (1.5 + near(rng));
    const double scale = n % 4 == 0 ? 1e-6 : 1.0;  // every fourth pair nearly equal
    const CameraBox a{x, 1.6, z, size(rng), size(rng), size(rng), turn(rng)};
    const auto extent = [&](double of) { return scale < 1.0 ? of + scale * near(rng) : size(rng); };
    const CameraBox b{x + scale * near(rng),    1.6 + 0.2 * scale * near(rng),
                      z + scale * near(rng),    extent(a.height),
                      extent(a.width),          extent(a.length),
                      a.yaw + scale * near(rng)};
    pairs.emplace_back(a, b);
  }
  for (std::size_t n = 0; n < pairs.size(); ++n) {
    const auto& [a, b] = pairs[n];
    EXPECT_NEAR(overlap3d(a, b), exactOverlap3d(a, b), testing::EXACT_ARITHMETIC_TOLERANCE) << n;
    EXPECT_NEAR(birdsEyeOverlap(a, b), testing::exactOverlap(exactFootprint(a), exactFootprint(b)),
                testing::EXACT_ARITHMETIC_TOLERANCE)
        << n;
  }
  EXPECT_TRUE(
      std::isnan(overlap3d(CameraBox{NAN, 0, 0, 1, 1, 1, 0}, CameraBox{0, 0, 0, 1, 1, 1, 0})));
}

// Image rectangles: width right - left and height bottom - top, no pixel added; no
// overlap unless both sides of the intersection are above 0.
TEST(BoxMeasures, ImageOverlapAndCoverageFollowTheBenchmarksRectangles) {
  const struct {
    ImageBox a;
    ImageBox b;
    double overlap;
    double coverage;  // of a by b
  } cases[] = {
      {{0, 0, 10, 10}, {0, 0, 10, 10}, 1.0, 1.0},
      {{0, 0, 10, 10}, {5, 0, 15, 10}, 50.0 / 150.0, 0.5},
      {{0, 0, 10, 10}, {10, 0, 20, 10}, 0.0, 0.0},  // sharing an edge
      {{0, 0, 10, 10}, {2, 2, 4, 4}, 4.0 / 100.0, 0.04},
      {{2, 2, 4, 4}, {0, 0, 10, 10}, 4.0 / 100.0, 1.0},
      {{0, 0, 0, 10}, {0, 0, 10, 10}, 0.0, 0.0},  // no width
      {{0, 0, 10, 10}, {-5, -5, 5, 5}, 25.0 / 175.0, 0.25},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(imageOverlap(c.a, c.b), c.overlap);
    EXPECT_DOUBLE_EQ(imageOverlap(c.b, c.a), c.overlap);
    EXPECT_DOUBLE_EQ(imageCoverage(c.a, c.b), c.coverage);
  }
  EXPECT_DOUBLE_EQ(centreDistance(CameraBox{1, 5, 2, 1, 1, 1, 0}, CameraBox{4, -3, 6, 2, 2, 2, 1}),
                   5.0);
}

}  // namespace
}  // namespace zelvane::eval
