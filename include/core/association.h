/// @file
/// The association step of a tracker: which of this frame's detections continue which
/// tracks, in one call.
///
/// The call finds the candidate pairs with the batch footprint operations (only pairs of
/// boxes near each other are measured; see footprint_pairs.h) and hands their values
/// as they are to the sparse assignment solver (see assignment.h), maximising the
/// overlaps and minimising the distances; its work grows with the tracks, the
/// detections and the candidate pairs, never with their product. The threshold or gate
/// becomes the solver's limit, so that a pair is matched only where that pays, instead
/// of solving first and dropping weak matches afterwards (which gives different, worse
/// matches).
///
/// What is optimised, by metric (v the pair's value, t the threshold or gate):
/// - `Overlap`: candidates are the pairs with v = `track.overlap(detection)` above t
///   (0 <= t); the optimal method maximises the sum of (v - t) over the matches;
/// - `GeneralizedOverlap`: likewise with v = `track.generalizedOverlap(detection)`, in
///   [-1, 1], and -1 < t (a negative t takes pairs apart as well, at a cost that grows
///   as t nears -1: see `generalizedOverlapPairs`);
/// - `Overlap3d`: likewise with v = `track.overlap3d(detection)` and 0 <= t;
/// - `CentroidDistance`: candidates are the pairs with v =
///   `track.centroidDistance(detection)`, the distance between the box centres seen
///   from above, at most the gate t (0 < t, t finite); the optimal method maximises the
///   sum of (t - v) over the matches, so a pair exactly at the gate gains nothing and
///   may be left unmatched;
/// - `CentroidDistance3d`: likewise with v = `track.centroidDistance3d(detection)`;
/// - `Distance`: likewise with v = `track.distance(detection)`, the corner distance of
///   the footprints.
/// A distance metric has no default gate: a gate of 0 or less could match nothing, and
/// is refused.
/// The greedy method takes the best pair first (largest overlap, smallest distance;
/// ties to the lower track, then the lower detection), then the best among the tracks
/// and detections left, and so on: cheap, NOT optimal.
///
/// Which metric a tracker wants: boxes of one object from frame to frame overlap, and
/// `Overlap` (or `Overlap3d` where heights matter) scores them by how much; where
/// detections may miss their track altogether (small or fast objects, a low frame
/// rate), `GeneralizedOverlap` with a negative threshold or `CentroidDistance` with a
/// gate of about the distance an object moves between frames still pairs them. Prefer
/// `CentroidDistance` to `Distance` for gating: the corner distance is 0 for every
/// pair in which a corner of one box lies in the other, however far their centres,
/// and positive for boxes that overlap almost wholly without that.
///
/// Tracks or detections without a footprint (see footprint_pairs.h; for the centre
/// distances, without a finite centre) have no candidate and are reported unmatched. Each thread
/// keeps the solver's working memory for its next call, so that a tracker calling this every frame
/// allocates the candidate pairs and the result only.
#pragma once

#include <cstddef>
#include <vector>

#include <zelvane/core/index_pair.h>
#include <zelvane/core/name_table.h>
#include <zelvane/core/state.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace core {

/// The value that pairs a track with a detection.
enum class AssociationMetric {
  Overlap,             ///< footprint intersection over union, `State::overlap`
  GeneralizedOverlap,  ///< generalised overlap (GIoU), `State::generalizedOverlap`
  Overlap3d,           ///< overlap of the boxes as volumes, `State::overlap3d`
  Distance,            ///< footprint corner distance, `State::distance`; smaller is better
  CentroidDistance,    ///< box centres from above, `State::centroidDistance`; smaller is better
  CentroidDistance3d,  ///< box centres in space, `State::centroidDistance3d`; likewise
};

/// How the matches are chosen among the candidates.
enum class AssociationMethod {
  Optimal,  ///< the best total, by the sparse assignment solver
  Greedy,   ///< best pair first; not optimal
};

/// The names of the metrics, as settings files and the Python module's `associate`
/// take them: "overlap", "generalized_overlap", "overlap_3d", "distance",
/// "centroid_distance", "centroid_distance_3d"; "unknown" outside the enumeration.
ZELVANE_CORE_API const NameTable<AssociationMetric>& associationMetricNames();

/// The names of the methods: "optimal", "greedy"; "unknown" outside the enumeration.
ZELVANE_CORE_API const NameTable<AssociationMethod>& associationMethodNames();

/// A track (`row`) matched with a detection (`column`), and the value of the metric
/// for the pair (bit for bit the single-pair call's).
using AssociatedPair = IndexPair;

/// The association of one frame: the matches ordered by track, the tracks and the
/// detections left unmatched, each in increasing order.
struct Association {
  std::vector<AssociatedPair> matches;
  std::vector<std::size_t> unmatchedTracks;
  std::vector<std::size_t> unmatchedDetections;
};

/// Associates `tracks` with `detections` by `metric`, with `threshold` the least
/// overlap (exclusive) or the largest distance (inclusive, the gate) of a candidate
/// pair, by `method`, as the file comment states. Throws `std::invalid_argument` for a
/// NaN threshold, a negative one for `Overlap` or `Overlap3d`, one at or below -1 for
/// `GeneralizedOverlap`, or a distance gate that is not above 0 or not finite. Cost:
/// that of the batch pairs (about N + M + the nearby pairs) plus the solver's on the
/// candidates.
[[nodiscard]] ZELVANE_CORE_API Association
associate(const std::vector<State>& tracks, const std::vector<State>& detections,
          AssociationMetric metric, double threshold,
          AssociationMethod method = AssociationMethod::Optimal);

}  // namespace core
}  // namespace zelvane
