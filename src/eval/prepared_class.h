// The objects of one class, laid out once for the many passes of its evaluation:
// per sequence, the ground-truth objects, don't-care regions and results of each frame
// in flat arrays, the pairs of a frame that can match with their measure, and the
// trajectories and track scores. Internal to the evaluation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "eval/tracking_evaluation.h"

namespace zelvane {
namespace eval {
namespace detail {

/// Loading rule: a type is kept when, in lower case, it contains the class, the
/// neighbouring class or "dontcare"; the neighbour is the one type ignored as "not
/// wrong" beside the class.
struct ClassRules {
  std::string objectClass;
  /// "" when the class has none.
  std::string neighbour;
};

/// The neighbouring class of `objectClass` ("van" for "car", "person_sitting" for
/// "pedestrian").
ClassRules classRules(const std::string& objectClass);

/// A ground-truth object of a frame.
struct TruthObject {
  /// Index of its trajectory in the sequence.
  std::uint32_t trajectory;
  /// Occluded or truncated beyond the limits, or of the neighbouring class.
  bool ignored;
};

/// A result of a frame.
struct ResultObject {
  /// Index of its track in the sequence.
  std::uint32_t track;
  /// Of the neighbouring class, too low, or more than half inside a don't-care region:
  /// ignored when unmatched and never matched before.
  bool ignorable;
};

/// A ground-truth object and a result of one frame that the measure relates: allowed to
/// match under the threshold, or with a positive similarity (for HOTA).
struct CandidatePair {
  std::uint32_t truth;
  std::uint32_t result;
  /// 1 - overlap, or the distance; the assignment cost.
  double cost;
  /// The overlap, or the distance: what MOTP averages.
  double value;
  /// In [0, 1]: the overlap, or 1 - distance / threshold (at least 0).
  double similarity;
  /// cost <= 1 - threshold (distance <= threshold).
  bool allowed;
};

/// One sequence of the class.
struct PreparedSequence {
  std::string name;
  long frameCount = 0;
  /// The frames that hold a kept object, region or result, in increasing order: only
  /// these are laid out, every other frame of the `frameCount` is empty (so a frame
  /// number far beyond the others costs nothing).
  std::vector<long> frameNumbers;
  /// Offsets of the objects, results and pairs of each frame of `frameNumbers`: the
  /// k-th holds [truthStart[k], truthStart[k + 1]) and so on.
  std::vector<std::uint32_t> truthStart;
  std::vector<std::uint32_t> resultStart;
  std::vector<std::uint32_t> pairStart;
  std::vector<TruthObject> truths;
  std::vector<ResultObject> results;
  /// Grouped by frame, in frame order; within a frame by truth, then result.
  std::vector<CandidatePair> pairs;
  /// Per ground-truth trajectory: its objects in frame order.
  std::vector<std::vector<std::uint32_t>> trajectories;
  /// Per result track: its scores in frame order, then file order.
  std::vector<std::vector<double>> trackScores;
};

/// Every sequence of the class, in the order given.
struct PreparedClass {
  EvaluationOptions options;
  std::vector<PreparedSequence> sequences;
};

/// Lays out `sequences` for `options` (validated by the caller): loading rules, ignore
/// marks, the pairs of each frame with their measure. Throws `std::invalid_argument`
/// for a frame at or beyond its sequence's count, a negative frame count, or a track id
/// twice in one frame among the objects kept.
PreparedClass prepareClass(const std::vector<TrackingSequence>& sequences,
                           const EvaluationOptions& options);

}  // namespace detail
}  // namespace eval
}  // namespace zelvane
