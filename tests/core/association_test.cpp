#include "core/association.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/footprint_pairs.h"

namespace {

using zelvane::core::associate;
using zelvane::core::Association;
using zelvane::core::AssociationMethod;
using zelvane::core::AssociationMetric;
using zelvane::core::State;

constexpr double kInf = std::numeric_limits<double>::infinity();

State boxAt(float x, float y, float heading = 0.0f, float length = 4.0f, float width = 2.0f) {
  return State::box({x, y, 0}, heading, length, width, 1.5f);
}

// The value of a pair by the single-pair call.
double valueOf(AssociationMetric metric, const State& track, const State& detection) {
  switch (metric) {
    case AssociationMetric::Overlap: return track.overlap(detection);
    case AssociationMetric::GeneralizedOverlap: return track.generalizedOverlap(detection);
    case AssociationMetric::Overlap3d: return track.overlap3d(detection);
    case AssociationMetric::CentroidDistance: return track.centroidDistance(detection);
    case AssociationMetric::CentroidDistance3d: return track.centroidDistance3d(detection);
    case AssociationMetric::Distance: break;
  }
  return track.distance(detection);
}

bool isDistance(AssociationMetric metric) {
  return metric == AssociationMetric::Distance || metric == AssociationMetric::CentroidDistance ||
         metric == AssociationMetric::CentroidDistance3d;
}

// What a match gains: its margin over the threshold or under the gate, or nothing
// when the pair is no candidate.
std::function<double(double)> gainOf(AssociationMetric metric, double threshold) {
  if (!isDistance(metric)) {
    return [threshold](double v) { return v > threshold ? v - threshold : -kInf; };
  }
  return [threshold](double v) { return v <= threshold ? threshold - v : -kInf; };
}

// The best total gain over every way to match tracks with detections.
double bestGain(const std::vector<std::vector<double>>& gain) {
  const std::size_t cols = gain.empty() ? 0 : gain[0].size();
  std::vector<bool> used(cols, false);
  std::function<double(std::size_t)> best = [&](std::size_t row) -> double {
    if (row == gain.size()) return 0.0;
    double result = best(row + 1);
    for (std::size_t col = 0; col < cols; ++col) {
      if (used[col] || gain[row][col] == -kInf) continue;
      used[col] = true;
      result = std::max(result, gain[row][col] + best(row + 1));
      used[col] = false;
    }
    return result;
  };
  return best(0);
}

std::vector<State> crowd(std::mt19937& rng, int count) {
  std::uniform_real_distribution<float> where(0, 9), turn(-3.2f, 3.2f), size(1, 5);
  std::vector<State> states;
  for (int i = 0; i < count; ++i) {
    // Varied heights and levels, so that the 3-D overlap differs from the overlap.
    states.push_back(State::box({where(rng), where(rng), 0.4f * size(rng)}, turn(rng), size(rng),
                                size(rng), size(rng)));
  }
  return states;
}

TEST(Associate, OptimalMatchesHaveTheBestTotalByBruteForce) {
  std::mt19937 rng(21);
  std::uniform_int_distribution<int> count(0, 7);
  State noFootprint = boxAt(1, 1);
  noFootprint.position.reset();
  for (int frame = 0; frame < 300; ++frame) {
    std::vector<State> tracks = crowd(rng, count(rng));
    const std::vector<State> detections = crowd(rng, count(rng));
    if (frame % 5 == 0) tracks.push_back(noFootprint);
    for (const AssociationMetric metric :
         {AssociationMetric::Overlap, AssociationMetric::GeneralizedOverlap,
          AssociationMetric::Overlap3d, AssociationMetric::Distance,
          AssociationMetric::CentroidDistance, AssociationMetric::CentroidDistance3d}) {
      const double threshold = isDistance(metric) ? 0.5 + 1.5 * (frame % 5)
                               : metric == AssociationMetric::GeneralizedOverlap
                                   ? -0.5 + 0.25 * (frame % 4)
                                   : 0.1 * (frame % 4);
      const auto gain = gainOf(metric, threshold);
      std::vector<std::vector<double>> gains(tracks.size(), std::vector<double>(detections.size()));
      for (std::size_t i = 0; i < tracks.size(); ++i) {
        for (std::size_t j = 0; j < detections.size(); ++j) {
          gains[i][j] = gain(valueOf(metric, tracks[i], detections[j]));
        }
      }
      const Association result = associate(tracks, detections, metric, threshold);
      double total = 0.0;
      std::vector<int> trackSeen(tracks.size(), 0), detectionSeen(detections.size(), 0);
      for (const auto& m : result.matches) {
        EXPECT_EQ(m.value, valueOf(metric, tracks[m.track], detections[m.detection]));
        total += gain(m.value);
        ++trackSeen[m.track];
        ++detectionSeen[m.detection];
      }
      for (const std::size_t i : result.unmatchedTracks) ++trackSeen[i];
      for (const std::size_t j : result.unmatchedDetections) ++detectionSeen[j];
      EXPECT_EQ(std::count(trackSeen.begin(), trackSeen.end(), 1),
                static_cast<long>(tracks.size()));
      EXPECT_EQ(std::count(detectionSeen.begin(), detectionSeen.end(), 1),
                static_cast<long>(detections.size()));
      EXPECT_NEAR(total, bestGain(gains), 1e-9) << "frame " << frame;
    }
  }
}

TEST(Associate, GreedyTakesTheBestPairFirstWhereOptimalTakesTheBestTotal) {
  // 4 x 2 boxes along x: track A at 0, track B at 3; detection X at 0.5 overlaps A by
  // 3.5 / 4.5 and B by 1.5 / 6.5, detection Y at -1 overlaps A by 3 / 5 only.
  const std::vector<State> tracks = {boxAt(0, 0), boxAt(3, 0)};
  const std::vector<State> detections = {boxAt(0.5f, 0), boxAt(-1, 0)};
  struct Row {
    AssociationMethod method;
    double threshold;
    std::vector<std::pair<std::size_t, std::size_t>> matches;
  };
  const Row rows[] = {
      {AssociationMethod::Greedy, 0.0, {{0, 0}}},
      // 0.6 + 0.23 beats 0.78.
      {AssociationMethod::Optimal, 0.0, {{0, 1}, {1, 0}}},
      // Over the threshold 0.1: 0.5 + 0.13 loses to 0.68.
      {AssociationMethod::Optimal, 0.1, {{0, 0}}},
      // B and X overlap less than 0.25: no longer a candidate.
      {AssociationMethod::Optimal, 0.25, {{0, 0}}},
  };
  for (const Row& row : rows) {
    const Association result =
        associate(tracks, detections, AssociationMetric::Overlap, row.threshold, row.method);
    std::vector<std::pair<std::size_t, std::size_t>> matches;
    for (const auto& m : result.matches) matches.emplace_back(m.track, m.detection);
    EXPECT_EQ(matches, row.matches) << "threshold " << row.threshold;
  }
}

TEST(Associate, RefusesBadThresholdsAndGatesThatCouldMatchNothing) {
  const std::vector<State> boxes = {boxAt(0, 0)};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(associate(boxes, boxes, AssociationMetric::Overlap, nan), std::invalid_argument);
  EXPECT_THROW(associate(boxes, boxes, AssociationMetric::Overlap, -0.5), std::invalid_argument);
  EXPECT_THROW(associate(boxes, boxes, AssociationMetric::GeneralizedOverlap, -1.0),
               std::invalid_argument);
  EXPECT_THROW(associate(boxes, boxes, AssociationMetric::Overlap3d, -0.1), std::invalid_argument);
  for (const AssociationMetric metric :
       {AssociationMetric::Distance, AssociationMetric::CentroidDistance,
        AssociationMetric::CentroidDistance3d}) {
    for (const double gate : {nan, kInf, 0.0, -1.0}) {
      EXPECT_THROW(associate(boxes, boxes, metric, gate), std::invalid_argument) << gate;
    }
    EXPECT_EQ(associate(boxes, boxes, metric, 0.1).matches.size(), 1u);
  }
  // An overlap threshold that no pair passes leaves everything unmatched.
  EXPECT_TRUE(associate(boxes, boxes, AssociationMetric::Overlap, 1.0).matches.empty());
}

}  // namespace
