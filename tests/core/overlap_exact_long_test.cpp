// The long run of the exact-arithmetic agreement of `State::overlap`, and of its
// generalised and 3-D forms: many more random pairs than `overlap_accuracy_test` and
// `box_metrics_test`, under the CTest label "long" (left out of the
// sanitizer builds, where rational arithmetic is several times slower).
#include <gtest/gtest.h>

#include "core/exact_overlap.h"
#include "support/tolerance.h"

namespace {

using zelvane::testing::exactCorners;
using zelvane::testing::exactGeneralizedOverlap;
using zelvane::testing::exactlyConvex;
using zelvane::testing::exactOverlap;
using zelvane::testing::exactOverlap3d;

TEST(OverlapExactnessLong, RandomPairsAgreeWithExactArithmetic) {
  constexpr int kPairs = 300000;
  double worst = 0.0;
  int compared = 0;
  for (const auto& c : zelvane::testing::randomFootprintPairs(7, kPairs)) {
    const double ab = c.a.overlap(c.b);
    const double ba = c.b.overlap(c.a);
    ASSERT_TRUE(ab >= 0.0 && ab <= 1.0 && ba >= 0.0 && ba <= 1.0) << c.name;
    const auto qa = exactCorners(c.a);
    const auto qb = exactCorners(c.b);
    if (!exactlyConvex(qa) || !exactlyConvex(qb)) continue;  // thinner than the float spacing
    const double exact = exactOverlap(qa, qb);
    ASSERT_NEAR(ab, exact, zelvane::testing::EXACT_ARITHMETIC_TOLERANCE) << c.name;
    ASSERT_NEAR(ba, exact, zelvane::testing::EXACT_ARITHMETIC_TOLERANCE) << c.name;
    worst = std::max({worst, std::abs(ab - exact), std::abs(ba - exact)});
    ++compared;
  }
  EXPECT_GT(compared, kPairs - kPairs / 200);
  RecordProperty("worst_difference", std::to_string(worst));
}

TEST(OverlapExactnessLong, GeneralizedAnd3dOverlapsAgreeWithExactArithmetic) {
  // The hull in rationals is slow: fewer pairs than above, some seconds.
  constexpr int kPairs = 12000;
  double worst = 0.0;
  int n = 0;
  for (auto c : zelvane::testing::randomFootprintPairs(8, kPairs)) {
    if (!zelvane::testing::bothConvex(c)) continue;
    c.b.position->mean.z() = 0.1f * static_cast<float>(n % 11) - 0.5f;
    c.b.dimensions->height = 0.2f + 0.4f * static_cast<float>(n++ % 4);
    const double giou = exactGeneralizedOverlap(c.a, c.b);
    const double iou3d = exactOverlap3d(c.a, c.b);
    ASSERT_NEAR(c.a.generalizedOverlap(c.b), giou, zelvane::testing::EXACT_ARITHMETIC_TOLERANCE)
        << c.name;
    ASSERT_NEAR(c.b.generalizedOverlap(c.a), giou, zelvane::testing::EXACT_ARITHMETIC_TOLERANCE)
        << c.name;
    ASSERT_NEAR(c.a.overlap3d(c.b), iou3d, zelvane::testing::EXACT_ARITHMETIC_TOLERANCE) << c.name;
    ASSERT_NEAR(c.b.overlap3d(c.a), iou3d, zelvane::testing::EXACT_ARITHMETIC_TOLERANCE) << c.name;
    worst = std::max({worst, std::abs(c.a.generalizedOverlap(c.b) - giou),
                      std::abs(c.a.overlap3d(c.b) - iou3d)});
  }
  EXPECT_GT(n, kPairs - kPairs / 100);
  RecordProperty("worst_difference", std::to_string(worst));
}

}  // namespace
