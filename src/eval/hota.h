// HOTA (J. Luiten et al., IJCV 2021) for one sequence, on the objects a CLEAR MOT pass
// counted: for each alpha, each frame matched among the pairs of similarity at least
// alpha (most pairs, then the largest sum of A_max + 1e-6 x similarity), and the
// detection, association and localisation sums that the figures are ratios of.
// Internal to the evaluation.
#pragma once

#include <vector>

#include "clear_mot.h"

namespace zelvane {
namespace eval {
namespace detail {

/// The sums behind the HOTA figures at each alpha, summed over sequences before the
/// ratios.
struct HotaSums {
  std::vector<long> truePositives;
  std::vector<long> falseNegatives;
  std::vector<long> falsePositives;
  /// Sum over the TPs of A(c), of TPA / |ground-truth trajectory| and of TPA / |result
  /// track|.
  std::vector<double> association;
  std::vector<double> associationRecall;
  std::vector<double> associationPrecision;
  /// Sum of the TPs' similarities.
  std::vector<double> localisation;
};

/// The 19 alphas 0.05, 0.10, ..., 0.95 (k / 20).
std::vector<double> hotaAlphas();

/// Zero sums for every alpha.
HotaSums emptyHotaSums();

/// The sums of one sequence, matching with `solver`.
HotaSums hotaSums(const PreparedSequence& sequence, const SequencePass& pass,
                  core::AssignmentSolver& solver);

/// `total` += `part`, alpha by alpha.
void addHotaSums(HotaSums& total, const HotaSums& part);

/// The figures at each alpha and their means over the alphas.
HotaScores hotaScores(const HotaSums& sums);

}  // namespace detail
}  // namespace eval
}  // namespace zelvane
