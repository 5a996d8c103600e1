// The long run of the exact-arithmetic agreement of `State::overlap`: many more random
// pairs than `overlap_accuracy_test`, under the CTest label "long" (left out of the
// sanitizer builds, where rational arithmetic is several times slower).
#include <gtest/gtest.h>

#include "core/exact_overlap.h"
#include "support/tolerance.h"

namespace {

using zelvane::testing::exactCorners;
using zelvane::testing::exactlyConvex;
using zelvane::testing::exactOverlap;

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

}  // namespace
