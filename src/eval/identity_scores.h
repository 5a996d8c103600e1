// IDF1 and its parts for one sequence: the global one-to-one matching of ground-truth
// trajectories to result tracks that keeps the most matching frames (E. Ristani et
// al., ECCV workshops 2016), on the objects a CLEAR MOT pass counted. Internal to the
// evaluation.
#pragma once

#include "clear_mot.h"

namespace zelvane {
namespace eval {
namespace detail {

/// The counts behind the identity scores, summed over sequences before the ratios.
struct IdentityCounts {
  long idTruePositives = 0;
  long groundTruthObjects = 0;
  long resultObjects = 0;
};

/// The counts of one sequence: its counted objects (ground truth not ignored, results
/// that `pass` counted), the frames in which a ground-truth trajectory and a result
/// track have an allowed pair, and the matching of trajectories to tracks with the
/// most such frames in all, solved by `solver`.
IdentityCounts identityCounts(const PreparedSequence& sequence, const SequencePass& pass,
                              core::AssignmentSolver& solver);

/// `total` += `part`.
void addIdentityCounts(IdentityCounts& total, const IdentityCounts& part);

/// IDTP, IDFP, IDFN, IDF1, IDP and IDR from the counts (ratios 0 when undefined).
IdentityScores identityScores(const IdentityCounts& counts);

}  // namespace detail
}  // namespace eval
}  // namespace zelvane
