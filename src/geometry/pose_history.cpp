#include "geometry/pose_history.h"

#include <cmath>
#include <iterator>
#include <limits>
#include <string>

#include "cpu_clones.h"

namespace zelvane {
namespace detail {

namespace {

using Result = TransformManager::TransformResult;
using Method = TransformManager::InterpolationMethod;

constexpr std::int64_t INT64_MAX_VALUE = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t INT64_MIN_VALUE = std::numeric_limits<std::int64_t>::min();

// The three prefixes share one width so that the numbers line up in the log.
const char* const SEARCHING_PREFIX = "Searching for pose with time ";
const char* const BEFORE_PREFIX = "Pose before                  ";
const char* const AFTER_PREFIX = "Pose after                   ";
const std::string INTERPOLATED_OUT_OF_RANGE =
    "Transform time out of range using Interpolated.  Likely sensor data has come in before INS "
    "data. Using extrapolated or MostRecent may be better";

std::int64_t saturate(long double value) {
  if (value >= 9223372036854775808.0L) return INT64_MAX_VALUE;
  if (value <= -9223372036854775808.0L) return INT64_MIN_VALUE;
  return static_cast<std::int64_t>(value);
}

// first + (second - first) * r truncated toward zero. A float blend of two epoch
// stamps loses minutes, and even a double sum loses the last digits of nanosecond
// stamps, so the offset is formed in double and added to `first` in integers; its
// fraction then only decides the truncation of the sum.
std::int64_t blendTimestamp(std::int64_t first, std::int64_t second, float ratio) {
  std::int64_t difference = 0;
  double offset = 0.0;
  if (__builtin_sub_overflow(second, first, &difference)) {
    offset = (static_cast<double>(second) - static_cast<double>(first)) * ratio;
  } else {
    offset = static_cast<double>(difference) * ratio;
  }
  if (std::isnan(offset)) return first;
  const double whole = std::trunc(offset);
  if (std::abs(whole) >= 9223372036854775808.0) {
    return saturate(static_cast<long double>(first) + static_cast<long double>(whole));
  }
  std::int64_t sum = 0;
  if (__builtin_add_overflow(first, static_cast<std::int64_t>(whole), &sum)) {
    return whole > 0.0 ? INT64_MAX_VALUE : INT64_MIN_VALUE;
  }
  const double fraction = offset - whole;
  if (fraction > 0.0 && sum < 0) return sum + 1;
  if (fraction < 0.0 && sum > 0) return sum - 1;
  return sum;
}

// first * (1 - ratio) + second * ratio per coordinate, the second product fused with
// the sum. A fused multiply-add is exactly rounded, so the processor's instruction,
// where it has one, gives the bits of the C library's `fmaf` without its call.
ZELVANE_CPU_CLONES("fma", "default")
void blendPositions(const Eigen::Vector3f& first, const Eigen::Vector3f& second, float ratio,
                    Eigen::Vector3f& blended) {
  const float keep = 1.0f - ratio;
  for (int i = 0; i < 3; ++i) blended[i] = std::fma(second[i], ratio, first[i] * keep);
}

// Position and orientation of `first` and `second` blended at `ratio` into `blended`
// (its timestamp untouched); `arc` is the arc between their orientations.
void blendPoses(const Pose& first, const Pose& second, float ratio, const SlerpArc& arc,
                Pose& blended) {
  blendPositions(first.position, second.position, ratio, blended.position);
  blended.orientation = arc.at(first.orientation, second.orientation, ratio);
}

void store(HistoryEntry& entry, const Pose& pose, long time, bool inverse) {
  entry.second = pose;
  // An inverse keeps the time stamp of its pose.
  if (time != 0) entry.second.timestamp = time;
  entry.inverse_pending = inverse;
}

}  // namespace

std::int64_t truncateToInt64(double value) {
  if (std::isnan(value)) return 0;
  return saturate(static_cast<long double>(value));
}

namespace {

// Whether `time` lies more than `window` after `sample`, exactly: in integers while
// a double holds the difference, else in long double, whose 64-bit mantissa does.
bool beyondWindow(std::int64_t time, std::int64_t sample, double window) {
  constexpr std::int64_t EXACT_IN_DOUBLE = std::int64_t{1} << 53;
  std::int64_t elapsed = 0;
  if (!__builtin_sub_overflow(time, sample, &elapsed) && elapsed < EXACT_IN_DOUBLE &&
      elapsed > -EXACT_IN_DOUBLE) {
    return static_cast<double>(elapsed) > window;
  }
  return static_cast<long double>(time) - static_cast<long double>(sample) > window;
}

// (time - before) / (after - before), the differences taken in integers.
double ratioOf(std::int64_t time, std::int64_t before, std::int64_t after) {
  std::int64_t elapsed = 0;
  std::int64_t span = 0;
  if (!__builtin_sub_overflow(time, before, &elapsed) &&
      !__builtin_sub_overflow(after, before, &span)) {
    return static_cast<double>(elapsed) / static_cast<double>(span);
  }
  const long double start = before;
  return static_cast<double>((time - start) / (after - start));
}

}  // namespace

PoseHistory::PoseHistory(const std::map<double, Pose>& entries) {
  entries_.reserve(entries.size());
  for (const auto& [key, pose] : entries) {
    HistoryEntry& entry = entries_.emplace_back();
    entry.first = key;
    entry.second = pose;
  }
}

std::map<double, Pose> PoseHistory::toMap() const {
  std::map<double, Pose> entries;
  for (const HistoryEntry& entry : *this) {
    entries.emplace_hint(entries.end(), entry.first, entryPose(entry));
  }
  return entries;
}

void PoseHistory::makeRoomFor(double key) {
  const bool full = entries_.size() == entries_.capacity();
  if (empty() || key > back().first) {  // at the newest end
    if (!full) return;
    // The room left by the entries dropped takes the kept ones once it is as large as
    // they are; until then the block doubles, keeping that room for older entries.
    if (first_ >= size()) {
      relayout(0, 1);
    } else {
      relayout(first_, std::max<std::size_t>(size(), 1));
    }
  } else if (key < front().first) {  // below the oldest: into room left before it
    if (first_ == 0) relayout(size(), 1);
  } else {  // among the entries: the nearer end's entries move by one
    const auto found = std::lower_bound(
        begin(), end(), key, [](const HistoryEntry& entry, double k) { return entry.first < k; });
    if (static_cast<std::size_t>(found - begin()) <= size() / 2) {
      if (first_ == 0) relayout(size(), 1);
    } else if (full) {
      relayout(first_, std::max<std::size_t>(size(), 1));
    }
  }
}

void PoseHistory::relayout(std::size_t gap, std::size_t spare) {
  // A block this small stays, however few entries it holds.
  constexpr std::size_t SMALL_BLOCK = 64;
  const std::size_t held = size();
  const std::size_t needed = gap + held + spare;
  const std::size_t capacity = entries_.capacity();
  if (needed <= capacity && (capacity <= SMALL_BLOCK || needed * 8 > capacity)) {
    if (gap < first_) {
      std::move(entries_.begin() + static_cast<std::ptrdiff_t>(first_), entries_.end(),
                entries_.begin() + static_cast<std::ptrdiff_t>(gap));
      entries_.resize(gap + held);
    } else if (gap > first_) {
      const std::size_t old_end = entries_.size();
      entries_.resize(gap + held);
      std::move_backward(entries_.begin() + static_cast<std::ptrdiff_t>(first_),
                         entries_.begin() + static_cast<std::ptrdiff_t>(old_end), entries_.end());
    }
    first_ = gap;
    return;
  }
  // A new block, also where the old one is more than eight times too large: a history
  // whose window shrank gives most of its block back.
  std::vector<value_type> moved;
  moved.reserve(needed);
  moved.resize(gap);
  moved.insert(moved.end(), begin(), end());
  entries_.swap(moved);
  first_ = gap;
}

HistoryEntry& PoseHistory::at(double key) {
  const auto found = std::lower_bound(
      begin(), end(), key, [](const HistoryEntry& entry, double k) { return entry.first < k; });
  std::size_t place = first_ + static_cast<std::size_t>(found - begin());
  if (found != end() && found->first == key) return entries_[place];
  if (place == entries_.size()) {
    entries_.emplace_back();
  } else if (first_ > 0 && place - first_ <= size() / 2) {
    // The older part moves down by one into the room before it.
    std::move(entries_.begin() + static_cast<std::ptrdiff_t>(first_),
              entries_.begin() + static_cast<std::ptrdiff_t>(place),
              entries_.begin() + static_cast<std::ptrdiff_t>(first_ - 1));
    --first_;
    --place;
    entries_[place] = HistoryEntry();
  } else {
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(place), HistoryEntry());
  }
  entries_[place].first = key;
  return entries_[place];
}

void PoseHistory::dropOldest() {
  if (++first_ == entries_.size()) {
    entries_.clear();
    first_ = 0;
  }
}

void addSample(PoseHistory& history, const Pose& pose, long time, double window, bool inverse) {
  const double key = static_cast<double>(time);
  history.reserveFor(key);  // the only step that may fail
  if (!history.empty() && key > history.back().first) {
    store(history.append(key), pose, time, inverse);
  } else {
    store(history.at(key), pose, time, inverse);
  }
  // Against the time just inserted, strictly, and never below two entries.
  while (history.size() > 2 && beyondWindow(time, registrationTime(history.front()), window)) {
    history.dropOldest();
  }
}

// Eigen's `slerp` (Eigen/src/Geometry/Quaternion.h) in two steps, its expressions
// kept as they are so that every rounding is the same.
SlerpArc::SlerpArc(const Eigen::Quaternionf& first, const Eigen::Quaternionf& second)
    : dot_(first.dot(second)) {
  const float one = 1.0f - Eigen::NumTraits<float>::epsilon();
  const float abs_dot = std::abs(dot_);
  parallel_ = abs_dot >= one;
  theta_ = parallel_ ? 0.0f : std::acos(abs_dot);
  sin_theta_ = parallel_ ? 0.0f : std::sin(theta_);
}

Eigen::Quaternionf SlerpArc::at(const Eigen::Quaternionf& first, const Eigen::Quaternionf& second,
                                float ratio) const {
  float scale0 = 0.0f;
  float scale1 = 0.0f;
  if (parallel_) {
    scale0 = 1.0f - ratio;
    scale1 = ratio;
  } else {
    scale0 = std::sin((1.0f - ratio) * theta_) / sin_theta_;
    scale1 = std::sin((ratio * theta_)) / sin_theta_;
  }
  if (dot_ < 0.0f) scale1 = -scale1;
  return Eigen::Quaternionf(scale0 * first.coeffs() + scale1 * second.coeffs());
}

template <class History>
BasicEdgeVerdict<typename History::const_iterator> judgeHistory(
    const History& history, typename History::const_iterator after, long time, Method method,
    double window) {
  using Kind = VerdictKind;
  BasicEdgeVerdict<typename History::const_iterator> verdict{Kind::Empty, history.end(),
                                                             history.end(), 0, 0};
  if (history.empty()) return verdict;
  if (isStatic(history)) {
    verdict.kind = Kind::Static;
    verdict.after = history.begin();
    return verdict;
  }
  if (method == TransformManager::MostRecent) {
    verdict.kind = Kind::Newest;
    verdict.after = std::prev(history.end());
    return verdict;
  }

  // Keys are times rounded to double: the entry under the key of `time` may hold a
  // sample registered after it, and then it is the one after `time`. Each entry's
  // registration time is read once.
  // A fractional key above `time` may still be registered at `time` (its key
  // truncated): that entry is the exact hit.
  if (after != history.end() && registrationTime(*after) == time) {
    verdict.kind = Kind::Exact;
    verdict.after = after;
    return verdict;
  }
  verdict.kind = Kind::BeforeOldest;
  if (after == history.begin()) return verdict;
  auto before = std::prev(after);
  std::int64_t before_time = registrationTime(*before);
  std::int64_t after_time = 0;
  if (before_time == time) {
    verdict.kind = Kind::Exact;
    verdict.after = before;
    return verdict;
  }
  if (before_time > time) {
    after = before;
    after_time = before_time;
    if (after == history.begin()) return verdict;  // before the oldest
    before = std::prev(after);
    before_time = registrationTime(*before);
    verdict.kind = Kind::Between;
  } else if (after == history.end()) {  // past the newest: the two newest, or the one
    after = before;
    after_time = before_time;
    if (before != history.begin()) {
      before = std::prev(before);
      before_time = registrationTime(*before);
    }
    verdict.after = after;
    if (beyondWindow(time, after_time, window)) {
      verdict.kind = Kind::Stale;
      return verdict;
    }
    verdict.kind = Kind::PastNewest;
  } else {
    after_time = registrationTime(*after);
    verdict.kind = Kind::Between;
  }
  verdict.before = before;
  verdict.after = after;
  verdict.before_time = before_time;
  verdict.after_time = after_time;
  return verdict;
}

template <class Iterator>
Result sampleVerdict(const BasicEdgeVerdict<Iterator>& verdict, long time, Method method,
                     const Logger& logger, bool traced, Pose& result, const SlerpArc* arc) {
  using Kind = VerdictKind;
  switch (verdict.kind) {
    case Kind::Empty: result = Pose(); return TransformManager::NotFound;
    case Kind::Static:
    case Kind::Newest:
    case Kind::Exact: result = entryPose(*verdict.after); return TransformManager::Success;
    case Kind::Stale: result = entryPose(*verdict.after); return TransformManager::OutOfRange;
    case Kind::BeforeOldest: result = Pose(); return TransformManager::OutOfRange;
    case Kind::Between:
    case Kind::PastNewest: break;
  }
  if (traced) {
    logger.traceStream() << SEARCHING_PREFIX << time;
    logger.traceStream() << BEFORE_PREFIX << verdict.before_time;
    logger.traceStream() << AFTER_PREFIX << verdict.after_time;
  }
  const Pose& before = entryPose(*verdict.before);
  const Pose& after = entryPose(*verdict.after);
  if (verdict.before_time == verdict.after_time) {  // a single sample: no ratio to form
    result = after;
    return TransformManager::Success;
  }
  if (method == TransformManager::Interpolated && time > verdict.after_time) {
    logger.warn(INTERPOLATED_OUT_OF_RANGE);
    result = Pose();
    return TransformManager::OutOfRange;
  }
  const float ratio = static_cast<float>(ratioOf(time, verdict.before_time, verdict.after_time));
  blendPoses(before, after, ratio,
             arc != nullptr ? *arc : SlerpArc(before.orientation, after.orientation), result);
  // Samples stamped with their registration times blend to `time` itself; forming it
  // from the float ratio would lose the last digits of nanosecond stamps.
  result.timestamp =
      before.timestamp == verdict.before_time && after.timestamp == verdict.after_time
          ? time
          : blendTimestamp(before.timestamp, after.timestamp, ratio);
  return TransformManager::Success;
}

template <class History>
Result sampleHistory(const History& history, long time, Method method, double window,
                     const Logger& logger, Pose& result) {
  const auto verdict = judgeHistory(history, time, method, window);
  const bool blends =
      verdict.kind == VerdictKind::Between || verdict.kind == VerdictKind::PastNewest;
  return sampleVerdict(verdict, time, method, logger,
                       blends && logger.isEnabled(Logger::TRACE_LEVEL), result);
}

// The graph's histories, and the maps given to `getTransformFromPoseMap`.
using PoseMap = std::map<double, Pose>;
template EdgeVerdict judgeHistory(const PoseHistory&, PoseHistory::const_iterator, long, Method,
                                  double);
template BasicEdgeVerdict<PoseMap::const_iterator> judgeHistory(const PoseMap&,
                                                                PoseMap::const_iterator, long,
                                                                Method, double);
template Result sampleVerdict(const EdgeVerdict&, long, Method, const Logger&, bool, Pose&,
                              const SlerpArc*);
template Result sampleHistory(const PoseHistory&, long, Method, double, const Logger&, Pose&);
template Result sampleHistory(const PoseMap&, long, Method, double, const Logger&, Pose&);

void HistoryCursor::reset(const PoseHistory& history) {
  history_ = &history;
  started_ = false;
  verdict_.kind = EdgeVerdict::Kind::Empty;
  has_arc_ = false;
}

// After `judge` answered from the verdict before, `after_` and `key_` lag behind the
// times asked, within that verdict's stretch: stepping on from them stays right for
// rising times, and a time below `key_` searches.
const EdgeVerdict& HistoryCursor::judgeAfresh(long time, Method method, double window) {
  // Past this many entries a search is cheaper than stepping on.
  constexpr int MAX_STEPS = 8;
  const double key = static_cast<double>(time);
  if (key < key_ || !started_) {  // behind, or the first time: a search
    after_ = history_->upper_bound(key);
    started_ = true;
  } else {
    int steps = 0;
    while (after_ != history_->end() && after_->first <= key) {
      if (++steps > MAX_STEPS) {
        after_ = history_->upper_bound(key);
        break;
      }
      ++after_;
    }
  }
  key_ = key;
  verdict_ = judgeHistory(*history_, after_, time, method, window);
  return verdict_;
}

Result HistoryCursor::sampleAfresh(long time, Method method, const Logger& logger, bool traced,
                                   Pose& result) {
  // Only a blend needs the arc: not a refusal, nor a single sample past its time.
  const bool blends = (verdict_.kind == EdgeVerdict::Kind::Between ||
                       verdict_.kind == EdgeVerdict::Kind::PastNewest) &&
                      verdict_.before_time != verdict_.after_time &&
                      verdict_.code(method) == TransformManager::Success;
  if (blends && !(has_arc_ && arc_before_ == verdict_.before && arc_after_ == verdict_.after)) {
    arc_ =
        SlerpArc(entryPose(*verdict_.before).orientation, entryPose(*verdict_.after).orientation);
    arc_before_ = verdict_.before;
    arc_after_ = verdict_.after;
    has_arc_ = true;
  }
  return sampleVerdict(verdict_, time, method, logger, traced, result, blends ? &arc_ : nullptr);
}

bool interpolationSpan(const PoseHistory& history, double window, std::int64_t& oldest,
                       std::int64_t& newest) {
  if (history.empty()) return false;
  if (isStatic(history)) {
    oldest = INT64_MIN_VALUE;
    newest = INT64_MAX_VALUE;
    return true;
  }
  oldest = registrationTime(history.front());
  newest = registrationTime(history.back());
  if (history.size() == 1) {  // answers on until it goes stale
    newest = saturate(static_cast<long double>(newest) + std::floor(window));
  }
  return true;
}

Pose interpolatePoses(const Pose& first, const Pose& second, float ratio) {
  Pose blended;
  blendPoses(first, second, ratio, SlerpArc(first.orientation, second.orientation), blended);
  blended.timestamp = blendTimestamp(first.timestamp, second.timestamp, ratio);
  return blended;
}

}  // namespace detail
}  // namespace zelvane
