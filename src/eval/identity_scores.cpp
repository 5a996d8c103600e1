#include "identity_scores.h"

#include <algorithm>

namespace zelvane {
namespace eval {
namespace detail {

IdentityCounts identityCounts(const PreparedSequence& sequence, const SequencePass& pass,
                              core::AssignmentSolver& solver) {
  IdentityCounts counts;
  for (const TruthObject& truth : sequence.truths)
    counts.groundTruthObjects += truth.ignored ? 0 : 1;
  for (const char counted : pass.resultCounted) counts.resultObjects += counted;

  // The frames in which each trajectory and track have an allowed pair: at most one a
  // frame, as each has at most one object a frame. Counted by sorting the pairs' keys.
  std::vector<std::uint64_t> keys;
  for (const CandidatePair& pair : sequence.pairs) {
    if (!pair.allowed || sequence.truths[pair.truth].ignored || !pass.resultCounted[pair.result]) {
      continue;
    }
    keys.push_back((static_cast<std::uint64_t>(sequence.truths[pair.truth].trajectory) << 32) |
                   sequence.results[pair.result].track);
  }
  if (keys.empty()) return counts;
  std::sort(keys.begin(), keys.end());
  // Each matched pair of trajectory and track saves its shared frames from being both a
  // false negative and a false positive: the most frames in all is the least cost with
  // costs -frames and no gain in leaving a pair unmatched (limit 0).
  std::vector<core::AssignmentCandidate> candidates;
  for (std::size_t k = 0; k < keys.size();) {
    std::size_t end = k;
    while (end < keys.size() && keys[end] == keys[k]) ++end;
    candidates.push_back(core::AssignmentCandidate{static_cast<std::size_t>(keys[k] >> 32),
                                                   static_cast<std::size_t>(keys[k] & 0xffffffffu),
                                                   -static_cast<double>(end - k)});
    k = end;
  }
  const core::Assignment assignment =
      solver.solve(sequence.trajectories.size(), sequence.trackScores.size(), candidates, 0.0);
  for (const core::AssignedPair& match : assignment.matches) {
    counts.idTruePositives += static_cast<long>(-match.cost);
  }
  return counts;
}

void addIdentityCounts(IdentityCounts& total, const IdentityCounts& part) {
  total.idTruePositives += part.idTruePositives;
  total.groundTruthObjects += part.groundTruthObjects;
  total.resultObjects += part.resultObjects;
}

IdentityScores identityScores(const IdentityCounts& counts) {
  IdentityScores scores;
  scores.idTruePositives = counts.idTruePositives;
  scores.idFalseNegatives = counts.groundTruthObjects - counts.idTruePositives;
  scores.idFalsePositives = counts.resultObjects - counts.idTruePositives;
  const auto tp = static_cast<double>(scores.idTruePositives);
  const auto fn = static_cast<double>(scores.idFalseNegatives);
  const auto fp = static_cast<double>(scores.idFalsePositives);
  scores.idf1 = 2.0 * tp + fp + fn > 0.0 ? 2.0 * tp / (2.0 * tp + fp + fn) : 0.0;
  scores.idPrecision = tp + fp > 0.0 ? tp / (tp + fp) : 0.0;
  scores.idRecall = tp + fn > 0.0 ? tp / (tp + fn) : 0.0;
  return scores;
}

}  // namespace detail
}  // namespace eval
}  // namespace zelvane
