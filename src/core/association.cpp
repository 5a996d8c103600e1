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

// The solver, kept by each thread from one frame to the next.
AssignmentSolver& threadSolver() {
  thread_local AssignmentSolver solver;
  return solver;
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

constexpr EnumName<AssociationMetric> METRIC_NAMES[] = {
    {AssociationMetric::Overlap, "overlap"},
    {AssociationMetric::GeneralizedOverlap, "generalized_overlap"},
    {AssociationMetric::Overlap3d, "overlap_3d"},
    {AssociationMetric::Distance, "distance"},
    {AssociationMetric::CentroidDistance, "centroid_distance"},
    {AssociationMetric::CentroidDistance3d, "centroid_distance_3d"}};

constexpr EnumName<AssociationMethod> METHOD_NAMES[] = {{AssociationMethod::Optimal, "optimal"},
                                                        {AssociationMethod::Greedy, "greedy"}};

}  // namespace

const NameTable<AssociationMetric>& associationMetricNames() {
  static constexpr NameTable<AssociationMetric> table(METRIC_NAMES, "unknown");
  return table;
}

const NameTable<AssociationMethod>& associationMethodNames() {
  static constexpr NameTable<AssociationMethod> table(METHOD_NAMES, "unknown");
  return table;
}

Association associate(const std::vector<State>& tracks, const std::vector<State>& detections,
                      AssociationMetric metric, double threshold, AssociationMethod method) {
  const Candidates found = candidatesOf(tracks, detections, metric, threshold);
  AssignmentSolver& solver = threadSolver();
  // The footprint pairs are the solver's candidates as they are: each match names its
  // pair.
  Assignment assignment =
      method == AssociationMethod::Optimal
          ? solver.solve(tracks.size(), detections.size(), found.pairs, found.limit, found.goal)
          : solver.solveGreedy(tracks.size(), detections.size(), found.pairs, found.limit,
                               found.goal);
  Association result;
  result.matches.reserve(assignment.matches.size());
  for (const AssignedPair& match : assignment.matches) {
    result.matches.push_back(found.pairs[match.candidate]);
  }
  result.unmatchedTracks = std::move(assignment.unmatchedRows);
  result.unmatchedDetections = std::move(assignment.unmatchedColumns);
  return result;
}

}  // namespace core
}  // namespace zelvane
