// The pose history of one directed edge of the frame graph, a unit of its own: how a
// sample enters it and how it answers for a time. The graph walk only asks each edge
// on a path for one sample; it never looks inside a history.
//
// Contract:
// - Storage: a `PoseHistory`, the (key, pose) entries of one edge in the order of their
//   keys (the registration time converted to `double`) in one block of memory: the
//   layout of the `std::map<double, Pose>` of `TransformManager::Edge::poses` and of
//   a snapshot, which convert to it and back entry for entry. The edge a->b holds
//   to_T_from = b_T_a, the pose of a in b; its partner b->a holds the inverses under
//   the same keys.
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
//   `judgeHistory` takes this decision, once, for every user of a history.
// - Covered: a static history, or a time at a sample or between two (see
//   `EdgeVerdict::covers`).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include <Eigen/Geometry>

#include "geometry/pose.h"
#include "geometry/transform_manager.h"
#include "logging_manager.h"

namespace zelvane {
namespace detail {

/// One entry of a `PoseHistory`: its key and its pose, named as the entries of a map
/// are, so that one template reads both. The entry of an inverse edge holds, until it
/// is first read (`entryPose`), the pose it is the inverse of: a registration stores
/// the pose given and leaves the inverse to the first lookup that walks that way.
struct HistoryEntry {
  double first = 0.0;
  // Set while `second` holds the pose whose inverse this entry stands for. Formed
  // under the manager's lock, as every read of a history is.
  mutable bool inverse_pending = false;
  mutable Pose second;
};

/// The pose of `entry`, its inverse formed (`Pose::toInversePose`) on first reading.
inline const Pose& entryPose(const HistoryEntry& entry) {
  if (entry.inverse_pending) {
    entry.second = entry.second.toInversePose();
    entry.inverse_pending = false;
  }
  return entry.second;
}

/// The pose of an entry of a map of poses.
inline const Pose& entryPose(const std::pair<const double, Pose>& entry) { return entry.second; }

/// The entries of one edge's history, in the order of their keys, in one block of
/// memory. A stream adds its samples at the newest end and drops them at the oldest,
/// both in amortised O(1), and a steady stream allocates nothing: the entries dropped
/// leave room before the oldest, into which the kept ones move once that room is as
/// large as they are. An entry below the newest moves the entries between it and the
/// nearer end by one, in amortised O(that distance): O(1) below the oldest (each time
/// the room before the oldest runs out it is made as large as the entries held, and
/// growing keeps it), as for a late sample of a stream. A search is a binary search.
/// Iterators are pointers, valid until the history changes.
class PoseHistory {
 public:
  using value_type = HistoryEntry;
  using const_iterator = const value_type*;

  PoseHistory() = default;
  /// The entries of `entries`, in their order.
  explicit PoseHistory(const std::map<double, Pose>& entries);
  /// The entries as a map, as a snapshot holds them.
  std::map<double, Pose> toMap() const;

  bool empty() const { return first_ == entries_.size(); }
  std::size_t size() const { return entries_.size() - first_; }
  const_iterator begin() const { return entries_.data() + first_; }
  const_iterator end() const { return entries_.data() + entries_.size(); }
  const value_type& front() const { return entries_[first_]; }
  const value_type& back() const { return entries_.back(); }

  /// The first entry whose key is above `key`. O(log n).
  const_iterator upper_bound(double key) const {
    return std::upper_bound(begin(), end(), key,
                            [](double k, const value_type& entry) { return k < entry.first; });
  }

  /// Makes room for an entry under `key`, so that `append` or `at` with that key
  /// cannot fail: the one step of adding an entry that may allocate (and throw,
  /// leaving the entries as they are).
  void reserveFor(double key) {
    // A new newest entry with room after the newest: the stream's case, inline.
    if (entries_.size() < entries_.capacity() && !empty() && key > back().first) return;
    makeRoomFor(key);
  }
  /// A new newest entry under `key`, above every key held (its pose unset), after
  /// `reserveFor(key)`.
  HistoryEntry& append(double key) {
    HistoryEntry& entry = entries_.emplace_back();
    entry.first = key;
    return entry;
  }
  /// The entry under `key`, a new one (its pose unset) where no entry has that key,
  /// after `reserveFor(key)`.
  HistoryEntry& at(double key);
  /// Drops the oldest entry; the history must not be empty.
  void dropOldest();

 private:
  void makeRoomFor(double key);
  // Moves the kept entries to the front of a block with room for `spare` more after
  // them and `gap` before them, reallocating when the block is too small.
  void relayout(std::size_t gap, std::size_t spare);

  // entries_[first_ ..] are held; those before were dropped (or left as room).
  std::vector<value_type> entries_;
  std::size_t first_ = 0;
};

/// Whether `history` (a `PoseHistory` or a map of entries) is static (see above): one
/// entry, at key 0.0.
template <class History>
bool isStatic(const History& history) {
  return history.size() == 1 && history.begin()->first == 0.0;
}

/// Stores `pose` (its inverse when `inverse`: formed when first read) under the key
/// `time` (replacing an entry with that key), stamped with `time` unless `time` is 0,
/// then drops the oldest entries while more than two remain and `time` lies more than
/// `window` after the oldest sample's registration time. A steady stream allocates
/// nothing. Amortised O(1) plus the entries dropped for a new newest sample; for an
/// older one, O(entries between it and the nearer end). Throws only when `history` had
/// to grow, leaving it unchanged; never after `history.reserveFor(double(time))`.
void addSample(PoseHistory& history, const Pose& pose, long time, double window,
               bool inverse = false);

/// The constants of Eigen's spherical interpolation from `first` to `second`, formed
/// as its `slerp` forms them before weighing the two at a ratio: their dot product
/// and, unless they are parallel to single precision, the angle between them and its
/// sine. Formed once for a pair of samples, they give every blend of the pair the
/// orientation that `slerp` gives, bit for bit, at two sines instead of four
/// transcendental calls.
class SlerpArc {
 public:
  SlerpArc() = default;
  SlerpArc(const Eigen::Quaternionf& first, const Eigen::Quaternionf& second);

  /// `first.slerp(ratio, second)`, bit for bit, for the two it was formed of.
  Eigen::Quaternionf at(const Eigen::Quaternionf& first, const Eigen::Quaternionf& second,
                        float ratio) const;

 private:
  float dot_;
  bool parallel_;
  float theta_;
  float sin_theta_;
};

/// The arc of the last pair of orientations it was asked for, formed again only for
/// another pair (compared bit for bit): a path sampled again and again between the
/// same two samples of an edge forms their arc once.
class ArcMemo {
 public:
  const SlerpArc& of(const Eigen::Quaternionf& first, const Eigen::Quaternionf& second) {
    if (!formed_ || !sameBits(first, first_) || !sameBits(second, second_)) {
      arc_ = SlerpArc(first, second);
      first_ = first;
      second_ = second;
      formed_ = true;
    }
    return arc_;
  }

 private:
  static bool sameBits(const Eigen::Quaternionf& a, const Eigen::Quaternionf& b) {
    return std::memcmp(a.coeffs().data(), b.coeffs().data(), 4 * sizeof(float)) == 0;
  }

  bool formed_ = false;
  Eigen::Quaternionf first_;
  Eigen::Quaternionf second_;
  SlerpArc arc_;
};

/// The kinds of `BasicEdgeVerdict`.
enum class VerdictKind {
  /// No entry: NotFound.
  Empty,
  /// A static history: its entry, `after`, whatever the time and method.
  Static,
  /// `MostRecent`: the newest entry, `after`.
  Newest,
  /// The entry registered at the time, `after`.
  Exact,
  /// Entries registered before and after the time, `before` and `after`: their blend.
  Between,
  /// Past the newest entry, within the window: the two newest entries, `before` and
  /// `after` (the same one for a single entry). Extrapolated; refused by
  /// `Interpolated`, but for a single entry, which answers with itself.
  PastNewest,
  /// More than the window past the newest entry, `after`: OutOfRange with it.
  Stale,
  /// Before the oldest entry: OutOfRange.
  BeforeOldest,
};

/// What one history answers for a time and a method: the one decision behind the
/// sampling of every lookup, the quiet code of `canTransform` and the waits, and the
/// covered rule of the queue and the `Interpolated` waits. `judgeHistory` forms it
/// without copying a pose or writing a record; `sampleVerdict` turns it into the
/// sample. Its iterators point into the history (a `PoseHistory`, or a map of entries
/// given to `getTransformFromPoseMap`), which must not change meanwhile.
template <class Iterator>
struct BasicEdgeVerdict {
  using Kind = VerdictKind;

  Kind kind;
  Iterator before;
  Iterator after;
  /// The registration times of `before` and `after` (`Between`, `PastNewest`).
  std::int64_t before_time;
  std::int64_t after_time;

  /// The code that sampling the verdict returns, for the method it was judged with.
  TransformManager::TransformResult code(TransformManager::InterpolationMethod method) const {
    switch (kind) {
      case Kind::Empty: return TransformManager::NotFound;
      case Kind::Static:
      case Kind::Newest:
      case Kind::Exact:
      case Kind::Between: return TransformManager::Success;
      case Kind::PastNewest:
        return before_time == after_time || method != TransformManager::Interpolated
                   ? TransformManager::Success
                   : TransformManager::OutOfRange;
      case Kind::Stale:
      case Kind::BeforeOldest: break;
    }
    return TransformManager::OutOfRange;
  }

  /// Whether the time is covered: the history is static, or holds an entry registered
  /// at the time, or entries registered before and after it. A lookup past an edge's
  /// only entry answers with it; a covered time is never answered so. The queue and
  /// the `Interpolated` waits release only times covered on every edge of the path.
  bool covers() const {
    return kind == Kind::Static || kind == Kind::Exact || kind == Kind::Between;
  }
};

/// The verdict on an edge of the graph.
using EdgeVerdict = BasicEdgeVerdict<PoseHistory::const_iterator>;

/// The verdict of `history` at `time` for `method`, with `window` as the staleness
/// limit and `after` = `history.upper_bound(double(time))`, which the caller may know
/// without a search (`HistoryCursor`). O(1). For a `PoseHistory` and for a map of
/// entries.
template <class History>
BasicEdgeVerdict<typename History::const_iterator> judgeHistory(
    const History& history, typename History::const_iterator after, long time,
    TransformManager::InterpolationMethod method, double window);

/// The verdict of `history` at `time`, after a search. O(log n).
template <class History>
BasicEdgeVerdict<typename History::const_iterator> judgeHistory(
    const History& history, long time, TransformManager::InterpolationMethod method,
    double window) {
  return judgeHistory(history, history.upper_bound(static_cast<double>(time)), time, method,
                      window);
}

/// The sample of `verdict` (judged at `time` with `method`) into `result`, always
/// overwritten (the identity on failure), and its code: the contract of
/// `TransformManager::getTransformFromPoseMap`. A blend writes its three trace records
/// first when `traced` (the logger's trace level is on: asked once by the caller of
/// a run of times), and a refusal of `Interpolated` its warning, to `logger`. `arc`,
/// when given, is the arc of the verdict's two entries, formed here otherwise.
template <class Iterator>
TransformManager::TransformResult sampleVerdict(const BasicEdgeVerdict<Iterator>& verdict,
                                                long time,
                                                TransformManager::InterpolationMethod method,
                                                const Logger& logger, bool traced, Pose& result,
                                                const SlerpArc* arc = nullptr);

/// `sampleVerdict` of `judgeHistory`: samples `history` (a `PoseHistory` or a map of
/// entries) at `time` with `method` into `result`, with `window` as the staleness
/// limit. O(log n).
template <class History>
TransformManager::TransformResult sampleHistory(const History& history, long time,
                                                TransformManager::InterpolationMethod method,
                                                double window, const Logger& logger, Pose& result);

/// One history judged and sampled at a run of times, as `judgeHistory` and
/// `sampleVerdict` would at each, with the entry after the last time kept between
/// calls: for rising times it moves forward a few entries at most before it falls
/// back to a search, so a run of sorted times walks the history once; a time below the
/// previous one searches afresh. It also keeps the arc of the last two entries it
/// blended, so the times between one pair of samples share its angle. The history must
/// not change while the cursor is in use. Trivially destructible; a default-made
/// cursor is unusable until `reset`.
class HistoryCursor {
 public:
  HistoryCursor() = default;
  explicit HistoryCursor(const PoseHistory& history) { reset(history); }

  /// Starts over on `history`.
  void reset(const PoseHistory& history);

  const PoseHistory& history() const { return *history_; }

  /// The verdict at `time`, kept for `sample`. A time between the same two entries as
  /// the time before has their verdict at once: strictly between two adjacent entries,
  /// every time has that verdict (whatever the keys' rounding), for every method but
  /// `MostRecent`.
  const EdgeVerdict& judge(long time, TransformManager::InterpolationMethod method, double window) {
    if (verdict_.kind == EdgeVerdict::Kind::Between && method != TransformManager::MostRecent &&
        time > verdict_.before_time && time < verdict_.after_time) {
      return verdict_;
    }
    return judgeAfresh(time, method, window);
  }

  /// The sample of the verdict of the last `judge` (at `time`, with `method`), as
  /// `sampleVerdict` gives it.
  TransformManager::TransformResult sample(long time, TransformManager::InterpolationMethod method,
                                           const Logger& logger, bool traced, Pose& result) {
    const bool same_pair =
        has_arc_ && arc_before_ == verdict_.before && arc_after_ == verdict_.after;
    if (verdict_.kind == EdgeVerdict::Kind::Between && same_pair) {
      return sampleVerdict(verdict_, time, method, logger, traced, result, &arc_);
    }
    return sampleAfresh(time, method, logger, traced, result);
  }

 private:
  const EdgeVerdict& judgeAfresh(long time, TransformManager::InterpolationMethod method,
                                 double window);
  TransformManager::TransformResult sampleAfresh(long time,
                                                 TransformManager::InterpolationMethod method,
                                                 const Logger& logger, bool traced, Pose& result);

  const PoseHistory* history_;
  // Whether a time was judged since `reset`; until then `after_` and `key_` are unset.
  bool started_;
  // history_->upper_bound(key_): the first entry after the previous time.
  PoseHistory::const_iterator after_;
  // The previous time's key.
  double key_;
  EdgeVerdict verdict_;
  // The arc of the entries `arc_before_` and `arc_after_`, when `has_arc_`.
  bool has_arc_;
  PoseHistory::const_iterator arc_before_;
  PoseHistory::const_iterator arc_after_;
  SlerpArc arc_;
};

/// The times at which `history` answers `Interpolated` with Success, both included,
/// with `window` as the staleness limit: every time (the limits of int64) for a static
/// history; from the oldest to the newest sample's registration time; for a single
/// time-stamped sample from its time to `window` after it. False for an empty history.
bool interpolationSpan(const PoseHistory& history, double window, std::int64_t& oldest,
                       std::int64_t& newest);

/// The blend of `first` and `second` at `ratio`; the contract is the one of
/// `TransformManager::interpolateTransform`.
Pose interpolatePoses(const Pose& first, const Pose& second, float ratio);

/// `value` truncated toward zero, saturated at the limits of int64 (0 for NaN).
std::int64_t truncateToInt64(double value);

/// The registration time of `entry`, of a history or a map (see above). Inline: every
/// verdict reads a few.
template <class Entry>
std::int64_t registrationTime(const Entry& entry) {
  if (entry.first == 0.0) return 0;
  if (static_cast<double>(entry.second.timestamp) == entry.first) return entry.second.timestamp;
  return truncateToInt64(entry.first);
}

}  // namespace detail
}  // namespace zelvane
