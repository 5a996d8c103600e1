/// @file
/// Batch footprint comparisons for trackers: which tracks and detections overlap (by
/// `overlap`, `generalizedOverlap` or `overlap3d`), which lie within a distance gate
/// (of their footprints' corners or of their centres), and the dense matrices of two
/// small sets.
///
/// Every value reported is bit for bit the one the single-pair call gives:
/// `a[first].overlap(b[second])`, `a[first].generalizedOverlap(b[second])`,
/// `a[first].overlap3d(b[second])`, `a[first].distance(b[second])`,
/// `a[first].centroidDistance(b[second])` or `a[first].centroidDistance3d(b[second])`.
/// The sparse forms do not visit all N x M pairs: they bucket the footprints' bounding
/// boxes of `b` (or their centres) in a uniform grid and test only the pairs whose
/// bounding boxes meet (for the distance gates, once widened by the gate), so their cost grows with
/// N + M plus the number of such pairs, as long as the boxes are of similar size (a box far larger
/// than the typical one is visited from every grid cell it covers). Their working memory is kept by
/// each thread for its next call (up to about 4 MiB), so that a tracker calling them every frame
/// allocates only the result.
///
/// States without a position, and states whose footprint is not finite (a NaN or
/// infinite position, heading, extent or anchor, or corners beyond the float range),
/// have no footprint to compare: the sparse forms leave them out, the dense matrices
/// hold NaN in their rows or columns, as the single-pair calls return NaN for them
/// (for the three-dimensional overlap also where the centre's z or the height is not
/// finite).
#pragma once

#include <cstddef>
#include <vector>

#include <Eigen/Core>

#include <zelvane/core/state.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace core {

/// One pair of states from two lists, `a[first]` and `b[second]`, with the value that
/// selected it (an overlap or a distance).
struct FootprintPair {
  std::size_t first;
  std::size_t second;
  double value;
};

/// The pairs (i, j) whose `a[i].overlap(b[j])` is above `threshold`, with that value,
/// ordered by i, then j. The default threshold 0 gives every pair whose footprints
/// overlap with an area; a pair that only touches has overlap 0 and is left out.
/// Throws `std::invalid_argument` for a negative or NaN threshold (every pair would
/// qualify; ask `overlapMatrix` for that). Cost: about N + M + the pairs whose
/// bounding boxes meet, each such pair one overlap computation (no trigonometry:
/// every footprint's corners are computed once).
ZELVANE_CORE_API std::vector<FootprintPair> overlapPairs(const std::vector<State>& a,
                                                         const std::vector<State>& b,
                                                         double threshold = 0.0);

/// The pairs (i, j) whose `a[i].distance(b[j])` is at most `gate`, with that distance,
/// ordered by i, then j. A negative gate gives no pair, an infinite one every pair of
/// states with a footprint. Throws `std::invalid_argument` for a NaN gate. Cost: about
/// N + M + the pairs whose bounding boxes, the one of `b` widened by the gate, meet;
/// each such pair one `distance` computation.
ZELVANE_CORE_API std::vector<FootprintPair> distancePairs(const std::vector<State>& a,
                                                          const std::vector<State>& b, double gate);

/// The pairs (i, j) whose `a[i].centroidDistance(b[j])` is at most `gate`, with that
/// distance between the box centres seen from above, ordered by i, then j. States
/// without a position or with a centre that is not finite take part in no pair (their
/// footprint need not be finite: the extents do not move the centre). A negative gate
/// gives no pair, an infinite one every pair of states with a centre. Throws
/// `std::invalid_argument` for a NaN gate. Cost: about N + M + the pairs whose centres
/// lie within a square of half side the gate; each such pair one distance.
ZELVANE_CORE_API std::vector<FootprintPair> centroidDistancePairs(const std::vector<State>& a,
                                                                  const std::vector<State>& b,
                                                                  double gate);

/// As `centroidDistancePairs`, by `a[i].centroidDistance3d(b[j])`, the distance between
/// the box centres in three dimensions; a state takes part when its three-dimensional
/// centre is finite. Same failures and cost (the search is on the horizontal centres,
/// which are never farther apart than the centres in space).
ZELVANE_CORE_API std::vector<FootprintPair> centroidDistance3dPairs(const std::vector<State>& a,
                                                                    const std::vector<State>& b,
                                                                    double gate);

/// The pairs (i, j) whose `a[i].generalizedOverlap(b[j])` is above `threshold`, with
/// that value, ordered by i, then j. From 0 up, only footprints that overlap with an
/// area qualify, and the cost is that of `overlapPairs` plus a hull per pair found.
/// Below 0, pairs apart qualify too, as far apart as the threshold lets them be: a
/// pair above t lies within 2 (dA + dB) / (1 + t) (dA, dB the diagonals of the
/// footprints' bounding boxes), so each bounding box is widened by 2 / (1 + t) times
/// its diagonal and the pairs whose widened boxes meet are measured. At t = -0.5 that
/// is four diagonals each side: the cost grows with the boxes within that reach, and
/// without bound as t nears -1. Throws `std::invalid_argument` for a NaN threshold or
/// one at or below -1 (every pair of footprints with an area would qualify; ask
/// `generalizedOverlapMatrix` for that).
ZELVANE_CORE_API std::vector<FootprintPair> generalizedOverlapPairs(const std::vector<State>& a,
                                                                    const std::vector<State>& b,
                                                                    double threshold = 0.0);

/// The pairs (i, j) whose `a[i].overlap3d(b[j])` is above `threshold`, with that value,
/// ordered by i, then j; as `overlapPairs` (only footprints that overlap with an area
/// are measured). Throws `std::invalid_argument` for a negative or NaN threshold.
/// Cost: as `overlapPairs`; the vertical extents of both lists are computed once.
ZELVANE_CORE_API std::vector<FootprintPair> overlap3dPairs(const std::vector<State>& a,
                                                           const std::vector<State>& b,
                                                           double threshold = 0.0);

/// The N x M matrix of `a[i].overlap(b[j])` (rows: `a`, columns: `b`), NaN where either
/// state has no footprint. Every pair is visited; pairs whose footprints are apart cost
/// a bounding-box test. For small sets, or when every value is wanted.
ZELVANE_CORE_API Eigen::MatrixXd overlapMatrix(const std::vector<State>& a,
                                               const std::vector<State>& b);

/// The N x M matrix of `a[i].generalizedOverlap(b[j])`, NaN where either state has no
/// footprint. Every pair is visited and costs a hull of eight points.
ZELVANE_CORE_API Eigen::MatrixXd generalizedOverlapMatrix(const std::vector<State>& a,
                                                          const std::vector<State>& b);

/// The N x M matrix of `a[i].overlap3d(b[j])`, NaN where either state has no footprint
/// or a vertical extent that is not finite. Every pair is visited; pairs apart cost a
/// bounding-box test.
ZELVANE_CORE_API Eigen::MatrixXd overlap3dMatrix(const std::vector<State>& a,
                                                 const std::vector<State>& b);

}  // namespace core
}  // namespace zelvane
