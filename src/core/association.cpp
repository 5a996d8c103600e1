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

// The candidate pairs of `metric`, their values handed to the solver as they are: the
// overlaps maximised above their threshold, the distances minimised within their gate.
struct Candidates {
  std::vector<FootprintPair> pairs;
  AssignmentGoal goal;
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

// The solver's floor for an overlap threshold: the threshold itself, so that a match
// gains its value less the threshold. Overlaps are at most 1: above it no pair is a
// candidate and the floor is only kept finite.
double overlapFloor(double threshold) { return std::min(threshold, 1.0); }

Candidates candidatesOf(const std::vector<State>& tracks, const std::vector<State>& detections,
                        AssociationMetric metric, double threshold) {
  constexpr AssignmentGoal MAXIMIZE = AssignmentGoal::Maximize;
  constexpr AssignmentGoal MINIMIZE = AssignmentGoal::Minimize;
  switch (metric) {
    case AssociationMetric::Overlap:
      // overlapPairs refuses a NaN or negative threshold.
      return {overlapPairs(tracks, detections, threshold), MAXIMIZE, overlapFloor(threshold)};
    case AssociationMetric::GeneralizedOverlap:
      // Values lie in [-1, 1]. The pairs refuse t <= -1 and NaN.
      return {generalizedOverlapPairs(tracks, detections, threshold), MAXIMIZE,
              overlapFloor(threshold)};
    case AssociationMetric::Overlap3d:
      return {overlap3dPairs(tracks, detections, threshold), MAXIMIZE, overlapFloor(threshold)};
    case AssociationMetric::Distance:
      checkGate(threshold);
      return {distancePairs(tracks, detections, threshold), MINIMIZE, threshold};
    case AssociationMetric::CentroidDistance:
      checkGate(threshold);
      return {centroidDistancePairs(tracks, detections, threshold), MINIMIZE, threshold};
    case AssociationMetric::CentroidDistance3d:
      checkGate(threshold);
      return {centroidDistance3dPairs(tracks, detections, threshold), MINIMIZE, threshold};
  }
  throw std::invalid_argument("associate: unknown metric");
}

}  // namespace

Association associate(const std::vector<State>& tracks, const std::vector<State>& detections,
                      AssociationMetric metric, double threshold, AssociationMethod method) {
  const Candidates found = candidatesOf(tracks, detections, metric, threshold);
  Scratch& scratch = threadScratch();
  scratch.candidates.clear();
  for (const FootprintPair& pair : found.pairs) {
    scratch.candidates.push_back({pair.first, pair.second, pair.value});
  }
  Assignment assignment =
      method == AssociationMethod::Optimal
          ? scratch.solver.solve(tracks.size(), detections.size(), scratch.candidates, found.limit,
                                 found.goal)
          : scratch.solver.solveGreedy(tracks.size(), detections.size(), scratch.candidates,
                                       found.limit, found.goal);
  Association result;
  result.matches.reserve(assignment.matches.size());
  // The solver reports each match's entry as given: the pair's value.
  for (const AssignedPair& match : assignment.matches) {
    result.matches.push_back({match.row, match.column, match.cost});
  }
  result.unmatchedTracks = std::move(assignment.unmatchedRows);
  result.unmatchedDetections = std::move(assignment.unmatchedColumns);
  return result;
}

}  // namespace core
}  // namespace zelvane
