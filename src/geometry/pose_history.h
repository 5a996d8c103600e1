// The pose history of one directed edge of the frame graph, a unit of its own: how a
// sample enters it and how it answers for a time. The graph walk only asks each edge
// on a path for one sample; it never looks inside a history.
//
// Contract:
// - Storage: `TransformManager::Edge::poses`, a `std::map<double, Pose>` keyed by the
//   registration time converted to `double`. The edge a->b holds to_T_from = b_T_a, the
//   pose of a in b; its partner b->a holds the inverses under the same keys.
// - Static: a history holding exactly one entry, at key 0.0 (registered with time 0).
//   It answers every time and every method with that entry. Once time-stamped samples
//   join it, the entry at 0.0 is an ordinary sample at time 0.
// - Registration time of an entry: 0 for the key 0.0; otherwise the pose's own
//   `timestamp`, which registration sets to the time given. Bracketing, ratios,
//   pruning and staleness all use these 64-bit times, so they are exact at nanosecond
//   epochs, where a `double` key is a multiple of 256. Two samples registered closer
//   than that share a key: the later registration replaces the earlier one. (For maps
//   built by hand, whose `timestamp` does not convert to the key, the key truncated
//   toward zero.)
// - Window: a history keeps the samples of the last `window` time units before the
//   sample just inserted, and never fewer than two; lookups more than `window` past
//   the newest sample are stale.
// - Bracketing: a time equal to a sample's answers with that sample; between two
//   samples with their blend; past the newest sample with the two newest extrapolated
//   (or refused, for `Interpolated`); before the oldest sample it is out of range.
#pragma once

#include <cstdint>
#include <limits>
#include <map>

#include "geometry/pose.h"
#include "geometry/transform_manager.h"
#include "logging_manager.h"

namespace zelvane {
namespace detail {

using PoseHistory = std::map<double, Pose>;

/// Whether `history` is static (see above): one entry, at key 0.0.
inline bool isStatic(const PoseHistory& history) {
  return history.size() == 1 && history.begin()->first == 0.0;
}

/// Stores `pose` under the key `time` (replacing an entry with that key), stamped
/// with `time` unless `time` is 0, then drops the oldest entries while more than two
/// remain and `time` lies more than `window` after the oldest sample's registration
/// time. A new newest sample
/// that pushes the oldest entry out reuses its node, so a steady stream allocates
/// nothing. O(log n) plus the entries dropped.
void addSample(PoseHistory& history, const Pose& pose, long time, double window);

/// Samples `history` at `time` with `method` into `result`, with `window` as the
/// staleness limit; the contract is the one of
/// `TransformManager::getTransformFromPoseMap`. Trace records and the warning go to
/// `logger`; nothing is formatted when their level is off. O(log n).
TransformManager::TransformResult sampleHistory(const PoseHistory& history, long time,
                                                TransformManager::InterpolationMethod method,
                                                double window, const Logger& logger, Pose& result);

/// `sampleHistory` with `after` = `history.upper_bound(double(time))` supplied by the
/// caller, which may know it without a search (see `HistoryCursor`). Same results and
/// records as `sampleHistory`, which is this function after that search. O(1) besides
/// the logging.
TransformManager::TransformResult sampleHistoryAfter(const PoseHistory& history,
                                                     PoseHistory::const_iterator after, long time,
                                                     TransformManager::InterpolationMethod method,
                                                     double window, const Logger& logger,
                                                     Pose& result);

/// Samples one history at a run of times, as `sampleHistory` would at each, with the
/// entry after the last time kept between calls: for rising times it moves forward a
/// few entries at most before it falls back to a search, so a run of sorted times walks
/// the history once; a time below the previous one searches afresh. The history must
/// not change while the cursor is in use.
class HistoryCursor {
 public:
  explicit HistoryCursor(const PoseHistory& history)
      : history_(&history), after_(history.begin()) {}

  TransformManager::TransformResult sample(long time, TransformManager::InterpolationMethod method,
                                           double window, const Logger& logger, Pose& result);

 private:
  const PoseHistory* history_;
  // history_->upper_bound(key_): the first entry after the previous time.
  PoseHistory::const_iterator after_;
  // Below every key, so that `after_` starts at the first entry.
  double key_ = -std::numeric_limits<double>::infinity();
};

/// The times at which `history` answers `Interpolated` with Success, both included,
/// with `window` as the staleness limit: every time (the limits of int64) for a static
/// history; from the oldest to the newest sample's registration time; for a single
/// time-stamped sample from its time to `window` after it. False for an empty history.
bool interpolationSpan(const PoseHistory& history, double window, std::int64_t& oldest,
                       std::int64_t& newest);

/// Whether `history` covers `time`: it is static, or it holds a sample registered at
/// `time`, or samples registered before and after it. A covered time is one that an
/// `Interpolated` lookup answers from samples on both sides (or an exact one), never
/// from a single older sample; the queue and the `Interpolated` waits release only
/// covered times. False for an empty history. O(1).
bool coversTime(const PoseHistory& history, long time);

/// The blend of `first` and `second` at `ratio`; the contract is the one of
/// `TransformManager::interpolateTransform`.
Pose interpolatePoses(const Pose& first, const Pose& second, float ratio);

/// The registration time of `entry` (see above).
std::int64_t registrationTime(const PoseHistory::value_type& entry);

/// `value` truncated toward zero, saturated at the limits of int64 (0 for NaN).
std::int64_t truncateToInt64(double value);

}  // namespace detail
}  // namespace zelvane
