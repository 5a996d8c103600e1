#include "geometry/path_lookup.h"

#include <algorithm>
#include <limits>

#include <Eigen/Geometry>

namespace zelvane {
namespace detail {

namespace {

using Result = TransformManager::TransformResult;
using Method = TransformManager::InterpolationMethod;

// The common span of the `count` histories `history(i)`.
template <class History>
Result commonSpan(std::size_t count, History&& history, double window, std::int64_t& oldest,
                  std::int64_t& newest) {
  oldest = std::numeric_limits<std::int64_t>::min();
  newest = std::numeric_limits<std::int64_t>::max();
  for (std::size_t i = 0; i < count; ++i) {
    std::int64_t edge_oldest = 0;
    std::int64_t edge_newest = 0;
    if (!interpolationSpan(history(i), window, edge_oldest, edge_newest)) {
      return TransformManager::NotFound;
    }
    oldest = std::max(oldest, edge_oldest);
    newest = std::min(newest, edge_newest);
  }
  return oldest <= newest ? TransformManager::Success : TransformManager::OutOfRange;
}

}  // namespace

Result pathSpan(const std::vector<const PoseHistory*>& edges, double window, std::int64_t& oldest,
                std::int64_t& newest) {
  return commonSpan(
      edges.size(), [&](std::size_t i) -> const PoseHistory& { return *edges[i]; }, window, oldest,
      newest);
}

Result resolve(const FrameStore& store, const std::string& from, const std::string& to,
               std::size_t& from_frame, std::size_t& to_frame) {
  from_frame = to_frame = FrameStore::NONE;
  if (from == to) return TransformManager::Success;
  if (store.size() == 0) return TransformManager::NoFrames;
  from_frame = store.find(from);
  to_frame = store.find(to);
  if (from_frame != FrameStore::NONE && to_frame != FrameStore::NONE) {
    return TransformManager::Success;
  }
  from_frame = to_frame = FrameStore::NONE;
  return TransformManager::NotFound;
}

Pose poseOf(const Eigen::Matrix4f& to_T_from, std::int64_t stamp) {
  Pose pose;
  pose.position = to_T_from.topRightCorner<3, 1>();
  pose.orientation = Eigen::Quaternionf(Eigen::Matrix3f(to_T_from.topLeftCorner<3, 3>()));
  pose.timestamp = stamp;
  return pose;
}

void PathCursors::push(const PoseHistory& history) {
  if (size_ == INLINE_EDGES && overflow_.empty()) {  // a long path: move to the heap
    overflow_.reserve(2 * INLINE_EDGES);
    for (std::size_t i = 0; i < size_; ++i) overflow_.push_back(inlineAt(i));
  }
  if (overflow_.empty()) {
    new (inline_.data() + size_ * sizeof(HistoryCursor)) HistoryCursor(history);
  } else {
    overflow_.emplace_back(history);
  }
  ++size_;
}

Result PathCursors::open(const FrameStore& store, std::size_t from, std::size_t to) {
  size_ = 0;
  overflow_.clear();
  return store.walkPath(from, to, [this](const PoseHistory& history) {
    push(history);
    return TransformManager::Success;
  });
}

Result PathCursors::span(double window, std::int64_t& oldest, std::int64_t& newest) const {
  return commonSpan(
      size_, [this](std::size_t i) -> const PoseHistory& { return (*this)[i].history(); }, window,
      oldest, newest);
}

Result PathCursors::compose(long time, Method method, double window, const Logger& logger,
                            bool traced, PathProduct& product) {
  Pose sample;
  for (std::size_t i = 0; i < size_; ++i) {
    HistoryCursor& cursor = (*this)[i];
    cursor.judge(time, method, window);
    const Result code = cursor.sample(time, method, logger, traced, sample);
    if (code != TransformManager::Success) return code;
    product.append(sample);
  }
  return TransformManager::Success;
}

Result JudgedPath::add(const PoseHistory& history, PoseHistory::const_iterator after, long time,
                       Method method, double window, bool covered) {
  if (size_ == INLINE_EDGES && overflow_.empty()) {  // a long path: move to the heap
    overflow_.reserve(2 * INLINE_EDGES);
    for (std::size_t i = 0; i < size_; ++i) overflow_.push_back(at(i));
  }
  const EdgeVerdict* verdict = nullptr;
  if (overflow_.empty()) {
    verdict = new (inline_.data() + size_ * sizeof(EdgeVerdict))
        EdgeVerdict(judgeHistory(history, after, time, method, window));
  } else {
    verdict = &overflow_.emplace_back(judgeHistory(history, after, time, method, window));
  }
  ++size_;
  const Result code = verdict->code(method);
  if (code != TransformManager::Success) return code;
  return covered && !verdict->covers() ? TransformManager::OutOfRange : TransformManager::Success;
}

Result JudgedPath::judge(const FrameStore& store, std::size_t from, std::size_t to, long time,
                         Method method, double window, bool covered) {
  start();
  return store.walkPath(from, to, [&](const PoseHistory& history) {
    return add(history, history.upper_bound(static_cast<double>(time)), time, method, window,
               covered);
  });
}

namespace {

// The first entry of `history` keyed above `time`: at or past the newest sample of a
// time-stamped history no entry is, and no search is needed (items wait mostly so, for
// the sample of their own time, and are released mostly at it).
PoseHistory::const_iterator firstAbove(const PoseHistory& history, long time) {
  if (!history.empty() && !isStatic(history) && time >= registrationTime(history.back())) {
    return history.end();
  }
  return history.upper_bound(static_cast<double>(time));
}

}  // namespace

Result JudgedPath::judge(const std::vector<const PoseHistory*>& edges, long time, Method method,
                         double window, bool covered) {
  start();
  for (const PoseHistory* history : edges) {
    const Result code = add(*history, firstAbove(*history, time), time, method, window, covered);
    if (code != TransformManager::Success) return code;
  }
  return TransformManager::Success;
}

bool pastNewest(const std::vector<const PoseHistory*>& edges, long time) {
  return std::any_of(edges.begin(), edges.end(), [time](const PoseHistory* history) {
    return history->size() >= 2 && !isStatic(*history) && time > registrationTime(history->back());
  });
}

Result composeCovered(const std::vector<const PoseHistory*>& edges, long time, double window,
                      const Logger& logger, PathProduct& product, ArcMemo* memos,
                      std::size_t memo_count) {
  constexpr Method METHOD = TransformManager::Interpolated;
  Pose sample;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const PoseHistory& history = *edges[i];
    const EdgeVerdict verdict =
        judgeHistory(history, firstAbove(history, time), time, METHOD, window);
    if (!verdict.covers()) {
      const Result code = verdict.code(METHOD);
      return code != TransformManager::Success ? code : TransformManager::OutOfRange;
    }
    const SlerpArc* arc = nullptr;
    if (i < memo_count && verdict.kind == EdgeVerdict::Kind::Between) {
      arc = &memos[i].of(entryPose(*verdict.before).orientation,
                         entryPose(*verdict.after).orientation);
    }
    // A covering verdict samples with Success.
    static_cast<void>(sampleVerdict(verdict, time, METHOD, logger, false, sample, arc));
    product.append(sample);
  }
  return TransformManager::Success;
}

void JudgedPath::compose(long time, Method method, const Logger& logger, bool traced,
                         PathProduct& product) const {
  Pose sample;
  for (std::size_t i = 0; i < size_; ++i) {
    // A verdict judged Success samples with Success.
    static_cast<void>(sampleVerdict(at(i), time, method, logger, traced, sample));
    product.append(sample);
  }
}

void JudgedPath::compose(long time, Method method, const Logger& logger, bool traced,
                         PathProduct& product, ArcMemo* memos, std::size_t memo_count) const {
  Pose sample;
  for (std::size_t i = 0; i < size_; ++i) {
    const EdgeVerdict& verdict = at(i);
    const SlerpArc* arc = nullptr;
    if (i < memo_count && (verdict.kind == EdgeVerdict::Kind::Between ||
                           verdict.kind == EdgeVerdict::Kind::PastNewest)) {
      arc = &memos[i].of(entryPose(*verdict.before).orientation,
                         entryPose(*verdict.after).orientation);
    }
    // A verdict judged Success samples with Success.
    static_cast<void>(sampleVerdict(verdict, time, method, logger, traced, sample, arc));
    product.append(sample);
  }
}

}  // namespace detail
}  // namespace zelvane
