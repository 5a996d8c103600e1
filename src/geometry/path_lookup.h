// The lookup between two frames named by the caller, in the pieces that every
// operation of the manager shares: the resolution of the two names with the codes of
// `getTransform`, the pose of a composed product, and the cursors of a path's edges,
// which answer a run of times on one walk of the path (the batch lookups), and the
// verdicts of a path at one time (the waits and the queue's release).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include <Eigen/Core>

#include "geometry/frame_store.h"
#include "geometry/pose_history.h"
#include "geometry/transform_manager.h"
#include "logging_manager.h"

namespace zelvane {
namespace detail {

/// The frames of a lookup of `from` in `to` by name, with the codes of `getTransform`:
/// `Success` with both frames found, or with both NONE for two equal names (the
/// identity, registered or not, even without frames); `NoFrames` for a store without
/// frames; `NotFound` when a name is not registered. O(1) on average.
TransformManager::TransformResult resolve(const FrameStore& store, const std::string& from,
                                          const std::string& to, std::size_t& from_frame,
                                          std::size_t& to_frame);

/// The pose of a composed to_T_from: its translation column, the quaternion of its
/// rotation block (Eigen's conversion of a rotation matrix), and `stamp`.
Pose poseOf(const Eigen::Matrix4f& to_T_from, std::int64_t stamp);

/// The times at which an `Interpolated` lookup along `edges` (the histories of a path)
/// succeeds, as `PathCursors::span` gives them. O(path).
TransformManager::TransformResult pathSpan(const std::vector<const PoseHistory*>& edges,
                                           double window, std::int64_t& oldest,
                                           std::int64_t& newest);

/// One `HistoryCursor` per edge of a path, in the order in which a lookup samples the
/// edges (from the `to` end, as `FrameStore::walkPath` visits them), opened on one
/// walk of the path. A run of times is then answered per time with one verdict and
/// one sample per edge, bit for bit as the single lookups at those times, without a
/// resolution, a walk or a search. Allocates nothing for paths of up to 16 edges. The
/// store must not change while the cursors are in use (the caller holds the lock).
class PathCursors {
 public:
  PathCursors() = default;
  PathCursors(const PathCursors&) = delete;
  PathCursors& operator=(const PathCursors&) = delete;

  /// Opens the path from `from` to `to` of `store`: `Success`, or `NotFound` for frames
  /// in different trees. O(path).
  TransformManager::TransformResult open(const FrameStore& store, std::size_t from, std::size_t to);

  /// The times at which an `Interpolated` lookup succeeds, both included, as
  /// `getCommonTimeSpan` gives them: `Success` (the limits of int64 for a path of
  /// static edges), `NotFound` for an edge without samples, `OutOfRange` when the
  /// edges' spans do not overlap. O(path).
  TransformManager::TransformResult span(double window, std::int64_t& oldest,
                                         std::int64_t& newest) const;

  /// Judges and samples every edge at `time` with `method` and composes the samples
  /// onto `product`, as `FrameStore::compose` does, with the records of the lookup (the
  /// trace records when `traced`); returns the code of the first edge that fails (then
  /// `product` is unspecified).
  TransformManager::TransformResult compose(long time, TransformManager::InterpolationMethod method,
                                            double window, const Logger& logger, bool traced,
                                            PathProduct& product);

 private:
  static constexpr std::size_t INLINE_EDGES = 16;
  static_assert(std::is_trivially_destructible_v<HistoryCursor>);

  HistoryCursor& operator[](std::size_t i) {
    return overflow_.empty() ? inlineAt(i) : overflow_[i];
  }
  HistoryCursor& inlineAt(std::size_t i) {
    return *std::launder(
        reinterpret_cast<HistoryCursor*>(inline_.data() + i * sizeof(HistoryCursor)));
  }
  const HistoryCursor& operator[](std::size_t i) const {
    return const_cast<PathCursors&>(*this)[i];
  }
  void push(const PoseHistory& history);

  // Cursors made only when the path is walked: most of this stays untouched.
  alignas(HistoryCursor) std::array<unsigned char, INLINE_EDGES * sizeof(HistoryCursor)> inline_;
  std::vector<HistoryCursor> overflow_;
  std::size_t size_ = 0;
};

/// The verdicts of a path's edges at one time, judged in the order of the lookup (from
/// the `to` end), then sampled: the quiet decision of a wait or a queue's item and, when
/// it succeeds, the lookup itself, bit for bit as `getTransform` gives it, on one walk
/// of the path. Allocates nothing for paths of up to 16 edges. The histories must not
/// change between `judge` and `compose` (the caller holds the lock).
class JudgedPath {
 public:
  JudgedPath() = default;
  JudgedPath(const JudgedPath&) = delete;
  JudgedPath& operator=(const JudgedPath&) = delete;

  /// Walks the path from `from` to `to` of `store` and judges each edge at `time` with
  /// `method`: the code of `getTransform` at `time` (from the `to` end, the first edge
  /// that fails gives its code), and with `covered` also `OutOfRange` where the lookup
  /// would succeed but an edge does not cover the time (`EdgeVerdict::covers`), as the
  /// queue and the `Interpolated` waits ask; `NotFound` for frames in different trees.
  /// Stops at the first edge that fails; writes nothing to the log. O(path log n).
  TransformManager::TransformResult judge(const FrameStore& store, std::size_t from, std::size_t to,
                                          long time, TransformManager::InterpolationMethod method,
                                          double window, bool covered);

  /// The same for the edges of a path already walked, in the order of the walk.
  TransformManager::TransformResult judge(const std::vector<const PoseHistory*>& edges, long time,
                                          TransformManager::InterpolationMethod method,
                                          double window, bool covered);

  /// Samples the verdicts of the last `judge`, which answered `Success` (at `time`, with
  /// `method`), and composes them onto `product`, with the records of the lookup (the
  /// trace records when `traced`).
  void compose(long time, TransformManager::InterpolationMethod method, const Logger& logger,
               bool traced, PathProduct& product) const;

  /// The same, edge i blending with the arc that `memos[i]` keeps (for the first
  /// `memo_count` edges): the same arc, formed only when its samples changed.
  void compose(long time, TransformManager::InterpolationMethod method, const Logger& logger,
               bool traced, PathProduct& product, ArcMemo* memos, std::size_t memo_count) const;

 private:
  static constexpr std::size_t INLINE_EDGES = 16;
  static_assert(std::is_trivially_destructible_v<EdgeVerdict> &&
                std::is_trivially_copyable_v<EdgeVerdict>);

  void start() {
    size_ = 0;
    overflow_.clear();
  }
  // Judges `history` at `time`, `after` being its first entry keyed above the time.
  TransformManager::TransformResult add(const PoseHistory& history,
                                        PoseHistory::const_iterator after, long time,
                                        TransformManager::InterpolationMethod method, double window,
                                        bool covered);
  const EdgeVerdict& at(std::size_t i) const {
    return overflow_.empty() ? *std::launder(reinterpret_cast<const EdgeVerdict*>(
                                   inline_.data() + i * sizeof(EdgeVerdict)))
                             : overflow_[i];
  }

  // Verdicts made only as the path is walked: most of this stays untouched.
  alignas(EdgeVerdict) std::array<unsigned char, INLINE_EDGES * sizeof(EdgeVerdict)> inline_;
  std::vector<EdgeVerdict> overflow_;
  std::size_t size_ = 0;
};

/// Whether an edge of `edges` (a walked path) holds two samples or more, all older than
/// `time`: then the path's span ends before the time, and no item at it is covered
/// nor too old for the path, whatever the other edges hold. O(path), without a search.
bool pastNewest(const std::vector<const PoseHistory*>& edges, long time);

/// `JudgedPath::judge` of `edges` at `time` (`Interpolated`, covered) and, when it
/// succeeds, its `compose` with `memos` onto `product`, in one pass over the edges:
/// the release of a queue's item. Writes no record, so it serves only a logger whose
/// trace level is off (the trace records of a blend are written as the edge is sampled,
/// before the next edge is judged). On failure `product` is unspecified.
TransformManager::TransformResult composeCovered(const std::vector<const PoseHistory*>& edges,
                                                 long time, double window, const Logger& logger,
                                                 PathProduct& product, ArcMemo* memos,
                                                 std::size_t memo_count);

}  // namespace detail
}  // namespace zelvane
