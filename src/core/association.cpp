#include "core/association.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/assignment.h"
#include "core/footprint_pairs.h"

namespace zelvane {
namespace core {
namespace {

// The solver and the candidates, kept by each thread from one frame to the next.
struct Scratch {
  AssignmentSolver solver;
  std::vector<AssignmentCandidate> candidates;
};

Scratch& threadScratch() {
  thread_local Scratch scratch;
  return scratch;
}

// The candidate pairs of `metric` and how their values become costs: cost = value *
// `sign` + `offset`, the limit being the threshold's cost.
struct Candidates {
  std::vector<FootprintPair> pairs;
  double sign;
  double offset;
  double limit;
};

// A distance gate of 0 or less could match nothing (a pair at the gate gains nothing).
void checkGate(double gate) {
  if (!(gate > 0.0) || !std::isfinite(gate)) {
    throw std::invalid_argument(
        "associate: a distance metric needs a gate above 0 and finite (the largest distance "
        "of a match), not " +
        std::to_string(gate));
  }
}

Candidates candidatesOf(const std::vector<State>& tracks, const std::vector<State>& detections,
                        AssociationMetric metric, double threshold) {
  switch (metric) {
    case AssociationMetric::Overlap:
      // overlapPairs refuses a NaN or negative threshold; above 1 nothing qualifies.
      return {overlapPairs(tracks, detections, threshold), -1.0, 1.0,
              std::max(0.0, 1.0 - threshold)};
    case AssociationMetric::GeneralizedOverlap:
      // Values lie in [-1, 1]: costs in [0, 2]. The pairs refuse t <= -1 and NaN.
      return {generalizedOverlapPairs(tracks, detections, threshold), -1.0, 1.0,
              std::max(0.0, 1.0 - threshold)};
    case AssociationMetric::Overlap3d:
      return {overlap3dPairs(tracks, detections, threshold), -1.0, 1.0,
              std::max(0.0, 1.0 - threshold)};
    case AssociationMetric::Distance:
      checkGate(threshold);
      return {distancePairs(tracks, detections, threshold), 1.0, 0.0, threshold};
    case AssociationMetric::CentroidDistance:
      checkGate(threshold);
      return {centroidDistancePairs(tracks, detections, threshold), 1.0, 0.0, threshold};
    case AssociationMetric::CentroidDistance3d:
      checkGate(threshold);
      return {centroidDistance3dPairs(tracks, detections, threshold), 1.0, 0.0, threshold};
  }
  throw std::invalid_argument("associate: unknown metric");
}

// The value of the candidate pair (track, detection): the pairs are ordered by track,
// then detection.
double valueOf(const std::vector<FootprintPair>& pairs, std::size_t track, std::size_t detection) {
  const auto at =
      std::lower_bound(pairs.begin(), pairs.end(), FootprintPair{track, detection, 0.0},
                       [](const FootprintPair& a, const FootprintPair& b) {
                         return a.first != b.first ? a.first < b.first : a.second < b.second;
                       });
  return at->value;
}

}  // namespace

Association associate(const std::vector<State>& tracks, const std::vector<State>& detections,
                      AssociationMetric metric, double threshold, AssociationMethod method) {
  const Candidates found = candidatesOf(tracks, detections, metric, threshold);
  Scratch& scratch = threadScratch();
  scratch.candidates.clear();
  for (const FootprintPair& pair : found.pairs) {
    scratch.candidates.push_back({pair.first, pair.second, pair.value * found.sign + found.offset});
  }
  Assignment assignment =
      method == AssociationMethod::Optimal
          ? scratch.solver.solve(tracks.size(), detections.size(), scratch.candidates, found.limit)
          : scratch.solver.solveGreedy(tracks.size(), detections.size(), scratch.candidates,
                                       found.limit);
  Association result;
  result.matches.reserve(assignment.matches.size());
  for (const AssignedPair& match : assignment.matches) {
    result.matches.push_back(
        {match.row, match.column, valueOf(found.pairs, match.row, match.column)});
  }
  result.unmatchedTracks = std::move(assignment.unmatchedRows);
  result.unmatchedDetections = std::move(assignment.unmatchedColumns);
  return result;
}

}  // namespace core
}  // namespace zelvane
