#include "core/footprint_pairs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using zelvane::core::centroidDistance3dPairs;
using zelvane::core::centroidDistancePairs;
using zelvane::core::distancePairs;
using zelvane::core::FootprintPair;
using zelvane::core::generalizedOverlapMatrix;
using zelvane::core::generalizedOverlapPairs;
using zelvane::core::overlap3dMatrix;
using zelvane::core::overlap3dPairs;
using zelvane::core::overlapMatrix;
using zelvane::core::overlapPairs;
using zelvane::core::State;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

bool sameBits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

State boxAt(float x, float y, float heading, float length = 4.5f, float width = 1.8f) {
  return State::box({x, y, 0}, heading, length, width, 1.5f);
}

State pointAt(float x, float y) {
  State s;
  s.position = zelvane::Gaussian<float, 3>();
  s.position->mean = Eigen::Vector3f(x, y, 0);
  return s;
}

// Boxes crowded in a square so that many meet, with states that have no footprint
// (no position, non-finite values, corners beyond the float range) and odd ones that
// do (no dimensions, negative and zero extents, an anchor off the box) mixed in.
std::vector<State> crowd(unsigned seed, int count, float side) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> where(0, side), turn(-4, 4), size(0.3f, 6);
  std::vector<State> states;
  for (int i = 0; i < count; ++i) {
    states.push_back(State::box({where(rng), where(rng), 0}, turn(rng), size(rng), size(rng), 1,
                                {0.5f, -0.25f, 0}));
  }
  State noPosition = boxAt(1, 1, 0);
  noPosition.position.reset();
  const State odd[] = {noPosition,
                       boxAt(kNaN, 1, 0),
                       boxAt(1, 1, kNaN),
                       boxAt(kInf, 1, 0),
                       boxAt(3e38f, 0, 0, 1e38f, 2),
                       pointAt(side / 2, side / 2),
                       boxAt(side / 3, side / 3, 0.5f, -4, 2),
                       boxAt(side / 3, side / 3, 0.5f, 0, 2),
                       boxAt(side / 2, side / 2, 0.1f, 3 * side, 2)};
  for (std::size_t k = 0; k < std::size(odd); ++k) {
    states.insert(states.begin() + static_cast<std::ptrdiff_t>((k * 7) % states.size()), odd[k]);
  }
  return states;
}

// Layouts that stress the grid: the crowd, every footprint at one point, footprints
// strung along a line far longer than they are, and one huge box over small ones.
std::vector<std::pair<std::string, std::vector<State>>> layouts(unsigned seed) {
  std::vector<State> samePoint(20, boxAt(5, 5, 0.3f));
  for (int i = 0; i < 5; ++i) samePoint.push_back(pointAt(5, 5));
  std::vector<State> line;
  for (int i = 0; i < 30; ++i)
    line.push_back(boxAt(static_cast<float>(i % 3) * 1e29f, 0, 0.2f * i));
  std::vector<State> huge = crowd(seed + 1, 40, 20);
  huge.push_back(boxAt(0, 0, 0.4f, 1e6f, 3e5f));
  return {
      {"crowd", crowd(seed, 120, 60)}, {"same point", samePoint}, {"line", line}, {"huge", huge}};
}

bool samePairs(const std::vector<FootprintPair>& got, const std::vector<FootprintPair>& want) {
  return std::equal(got.begin(), got.end(), want.begin(), want.end(),
                    [](const FootprintPair& p, const FootprintPair& q) {
                      return p.row == q.row && p.column == q.column && sameBits(p.value, q.value);
                    });
}

void expectPairs(const std::vector<FootprintPair>& got, const std::vector<FootprintPair>& want,
                 const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k].row, want[k].row) << what << " #" << k;
    EXPECT_EQ(got[k].column, want[k].column) << what << " #" << k;
    EXPECT_TRUE(sameBits(got[k].value, want[k].value))
        << what << " #" << k << ": " << got[k].value << " vs " << want[k].value;
  }
}

using Single = double (State::*)(const State&) const;

// What a sparse form should give: the single calls `single` whose value is above
// `limit` (or, for a gate, within it), in row and then column order.
std::vector<FootprintPair> bySingleCalls(const std::vector<State>& a, const std::vector<State>& b,
                                         Single single, double limit, bool gate = false) {
  std::vector<FootprintPair> pairs;
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (std::size_t j = 0; j < b.size(); ++j) {
      const double value = (a[i].*single)(b[j]);
      if (gate ? value <= limit : value > limit) pairs.push_back({i, j, value});
    }
  }
  return pairs;
}

std::vector<FootprintPair> overlapsAbove(const std::vector<State>& a, const std::vector<State>& b,
                                         double threshold) {
  return bySingleCalls(a, b, &State::overlap, threshold);
}

std::vector<FootprintPair> distancesWithin(const std::vector<State>& a, const std::vector<State>& b,
                                           double gate) {
  return bySingleCalls(a, b, &State::distance, gate, true);
}

TEST(OverlapPairs, AreTheSingleCallsAboveTheThresholdInOrder) {
  for (const auto& [name, a] : layouts(1)) {
    for (const auto& [otherName, b] : layouts(2)) {
      for (const double threshold : {0.0, 0.25, 0.999, 1.0}) {
        expectPairs(overlapPairs(a, b, threshold), overlapsAbove(a, b, threshold),
                    name + " x " + otherName + " above " + std::to_string(threshold));
      }
    }
  }
  EXPECT_FALSE(overlapPairs(layouts(1)[0].second, layouts(2)[0].second).empty());
}

// The layouts lifted to different heights and vertical centres, for the 3-D overlap.
std::vector<State> lifted(std::vector<State> states) {
  for (std::size_t i = 0; i < states.size(); ++i) {
    if (states[i].position) states[i].position->mean.z() = 0.4f * static_cast<float>(i % 5);
    if (states[i].dimensions) states[i].dimensions->height = 0.5f + static_cast<float>(i % 3);
  }
  return states;
}

TEST(GeneralizedAnd3dOverlapPairs, AreTheSingleCallsAboveTheThresholdInOrder) {
  int apart = 0;
  for (const auto& [name, a] : layouts(11)) {
    for (const auto& [otherName, b] : layouts(12)) {
      const std::string pair = name + " x " + otherName;
      for (const double threshold : {0.0, 0.3, -0.2, -0.6, -0.95}) {
        const auto want = bySingleCalls(a, b, &State::generalizedOverlap, threshold);
        expectPairs(generalizedOverlapPairs(a, b, threshold), want,
                    pair + " generalised above " + std::to_string(threshold));
        apart += static_cast<int>(
            std::count_if(want.begin(), want.end(), [](const auto& p) { return p.value < 0.0; }));
      }
      const std::vector<State> high = lifted(a);
      const std::vector<State> low = lifted(b);
      for (const double threshold : {0.0, 0.25, 1.0}) {
        expectPairs(overlap3dPairs(high, low, threshold),
                    bySingleCalls(high, low, &State::overlap3d, threshold),
                    pair + " 3-D above " + std::to_string(threshold));
      }
    }
  }
  EXPECT_GT(apart, 1000);
}

TEST(DistancePairs, AreTheSingleCallsWithinTheGateInOrder) {
  for (const auto& [name, a] : layouts(3)) {
    for (const auto& [otherName, b] : layouts(4)) {
      for (const double gate : {0.0, 0.5, 2.0, 1e31, std::numeric_limits<double>::infinity()}) {
        expectPairs(distancePairs(a, b, gate), distancesWithin(a, b, gate),
                    name + " x " + otherName + " within " + std::to_string(gate));
      }
    }
  }
  EXPECT_TRUE(distancePairs(layouts(3)[0].second, layouts(4)[0].second, -1.0).empty());
}

// States whose footprint is not finite but whose centre is (an infinite extent) take
// part; the layouts' states without a finite centre do not.
TEST(CentroidDistancePairs, AreTheSingleCallsWithinTheGateInOrder) {
  std::vector<State> raised = crowd(5, 60, 30);
  std::mt19937 rng(6);
  std::uniform_real_distribution<float> level(-3, 3);
  for (State& s : raised) {
    if (s.position) s.position->mean.z() = level(rng);
  }
  raised.push_back(boxAt(10, 10, 0, kInf, 2));
  for (const auto& [name, a] : layouts(3)) {
    for (const auto& [otherName, b] :
         {layouts(4)[0], layouts(4)[1],
          std::pair<std::string, std::vector<State>>{"raised", raised}}) {
      for (const double gate : {0.0, 0.5, 2.0, 1e31, std::numeric_limits<double>::infinity()}) {
        const std::string what = name + " x " + otherName + " within " + std::to_string(gate);
        expectPairs(centroidDistancePairs(a, b, gate),
                    bySingleCalls(a, b, &State::centroidDistance, gate, true), what);
        expectPairs(centroidDistance3dPairs(a, b, gate),
                    bySingleCalls(a, b, &State::centroidDistance3d, gate, true),
                    what + " in space");
      }
    }
  }
  EXPECT_TRUE(centroidDistancePairs(raised, raised, -1.0).empty());
  EXPECT_THROW(centroidDistancePairs(raised, raised, std::nan("")), std::invalid_argument);
  EXPECT_THROW(centroidDistance3dPairs(raised, raised, std::nan("")), std::invalid_argument);
}

TEST(Matrices, AreTheSingleCallsBitForBitWithNaNWithoutFootprint) {
  using Matrix = Eigen::MatrixXd (*)(const std::vector<State>&, const std::vector<State>&);
  const std::pair<Matrix, Single> forms[] = {{overlapMatrix, &State::overlap},
                                             {generalizedOverlapMatrix, &State::generalizedOverlap},
                                             {overlap3dMatrix, &State::overlap3d}};
  std::vector<State> a = lifted(crowd(5, 60, 30));
  const std::vector<State> b = lifted(crowd(6, 50, 30));
  a[3].position->mean.z() = kNaN;  // a footprint without a vertical extent
  for (const auto& [matrixOf, single] : forms) {
    const Eigen::MatrixXd m = matrixOf(a, b);
    ASSERT_EQ(m.rows(), static_cast<Eigen::Index>(a.size()));
    ASSERT_EQ(m.cols(), static_cast<Eigen::Index>(b.size()));
    int nan = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      for (std::size_t j = 0; j < b.size(); ++j) {
        const double want = (a[i].*single)(b[j]);
        const double got = m(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j));
        nan += std::isnan(want);
        EXPECT_TRUE(sameBits(got, want) || (std::isnan(got) && std::isnan(want)))
            << i << ", " << j << ": " << got << " vs " << want;
      }
    }
    EXPECT_GT(nan, 0);
  }
}

TEST(FootprintPairs, EmptySetsGiveNothing) {
  const std::vector<State> none;
  const std::vector<State> some = crowd(7, 10, 10);
  EXPECT_TRUE(overlapPairs(none, some).empty());
  EXPECT_TRUE(overlapPairs(some, none).empty());
  EXPECT_TRUE(distancePairs(none, some, 5).empty());
  EXPECT_EQ(overlapMatrix(none, some).size(), 0);
  EXPECT_EQ(overlapMatrix(some, none).rows(), static_cast<Eigen::Index>(some.size()));
  const std::vector<State> withoutFootprint(3, State());
  EXPECT_TRUE(overlapPairs(withoutFootprint, withoutFootprint).empty());
  EXPECT_TRUE(distancePairs(withoutFootprint, some, 1e30).empty());
}

// The sparse forms keep their working memory per thread from one call to the next:
// calls of very different sizes in turn, the largest beyond what is kept, and calls
// from several threads at once each give what the single calls give.
TEST(FootprintPairs, CallsInTurnAndAtOnceDoNotShareState) {
  const std::vector<State> few = crowd(9, 40, 20);
  std::vector<State> many = crowd(10, 100000, 2500);
  many.insert(many.begin() + 12345, few.begin(), few.end());
  const auto wantFew = overlapsAbove(few, few, 0.0);
  const auto wantMany = overlapsAbove(few, many, 0.0);
  const auto wantGate = distancesWithin(few, few, 1.5);
  expectPairs(overlapPairs(few, few), wantFew, "few");
  expectPairs(overlapPairs(few, many), wantMany, "many");
  expectPairs(overlapPairs(few, few), wantFew, "few after many");
  expectPairs(distancePairs(few, few, 1.5), wantGate, "gate after many");

  std::vector<std::thread> threads;
  std::vector<int> agree(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        agree[t] += samePairs(overlapPairs(few, few), wantFew) &&
                    samePairs(distancePairs(few, few, 1.5), wantGate);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(agree, std::vector<int>(4, 20));
}

TEST(FootprintPairs, RefuseThresholdsThatWouldSelectEveryPair) {
  const std::vector<State> some = crowd(8, 10, 10);
  EXPECT_THROW(overlapPairs(some, some, -0.1), std::invalid_argument);
  EXPECT_THROW(overlapPairs(some, some, std::nan("")), std::invalid_argument);
  EXPECT_THROW(distancePairs(some, some, std::nan("")), std::invalid_argument);
  EXPECT_THROW(overlap3dPairs(some, some, -0.1), std::invalid_argument);
  EXPECT_THROW(overlap3dPairs(some, some, std::nan("")), std::invalid_argument);
  EXPECT_THROW(generalizedOverlapPairs(some, some, -1.0), std::invalid_argument);
  EXPECT_THROW(generalizedOverlapPairs(some, some, std::nan("")), std::invalid_argument);
  // Just above -1 every pair of footprints with an area qualifies, wherever they are.
  const auto nearlyAll = generalizedOverlapPairs(some, some, -0.999999999);
  expectPairs(nearlyAll, bySingleCalls(some, some, &State::generalizedOverlap, -0.999999999),
              "just above -1");
  EXPECT_EQ(nearlyAll.size(), 14u * 14u - 4u);  // 5 states without a footprint, 2 without area
}

}  // namespace
