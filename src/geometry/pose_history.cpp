#include "geometry/pose_history.h"

#include <cmath>
#include <iterator>
#include <limits>
#include <string>

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

// Position and orientation of `first` and `second` blended at `ratio`, timestamp 0.
Pose blendPoses(const Pose& first, const Pose& second, float ratio) {
  Pose blended;
  const float keep = 1.0f - ratio;
  for (int i = 0; i < 3; ++i) {
    blended.position[i] = std::fma(second.position[i], ratio, first.position[i] * keep);
  }
  blended.orientation = first.orientation.slerp(ratio, second.orientation);
  return blended;
}

void store(Pose& stored, const Pose& pose, long time) {
  stored = pose;
  if (time != 0) stored.timestamp = time;
}

}  // namespace

std::int64_t truncateToInt64(double value) {
  if (std::isnan(value)) return 0;
  return saturate(static_cast<long double>(value));
}

std::int64_t registrationTime(const PoseHistory::value_type& entry) {
  if (entry.first == 0.0) return 0;
  if (static_cast<double>(entry.second.timestamp) == entry.first) return entry.second.timestamp;
  return truncateToInt64(entry.first);
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

void addSample(PoseHistory& history, const Pose& pose, long time, double window) {
  const double key = static_cast<double>(time);
  if (!history.empty() && key > history.rbegin()->first) {
    // The pruning below would erase the oldest entry right after this insertion:
    // move its node to the new key instead of freeing one node and allocating another.
    if (history.size() >= 2 && beyondWindow(time, registrationTime(*history.begin()), window)) {
      auto node = history.extract(history.begin());
      node.key() = key;
      store(node.mapped(), pose, time);
      history.insert(history.end(), std::move(node));
    } else {
      store(history.emplace_hint(history.end(), key, pose)->second, pose, time);
    }
  } else {
    store(history[key], pose, time);
  }
  // Against the time just inserted, strictly, and never below two entries.
  while (history.size() > 2 && beyondWindow(time, registrationTime(*history.begin()), window)) {
    history.erase(history.begin());
  }
}

Result sampleHistory(const PoseHistory& history, long time, Method method, double window,
                     const Logger& logger, Pose& result) {
  return sampleHistoryAfter(history, history.upper_bound(static_cast<double>(time)), time, method,
                            window, logger, result);
}

Result HistoryCursor::sample(long time, Method method, double window, const Logger& logger,
                             Pose& result) {
  // Past this many entries a search is cheaper than stepping on.
  constexpr int MAX_STEPS = 8;
  const double key = static_cast<double>(time);
  if (key < key_) {
    after_ = history_->upper_bound(key);
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
  return sampleHistoryAfter(*history_, after_, time, method, window, logger, result);
}

Result sampleHistoryAfter(const PoseHistory& history, PoseHistory::const_iterator after, long time,
                          Method method, double window, const Logger& logger, Pose& result) {
  result = Pose();
  if (history.empty()) return TransformManager::NotFound;
  if (isStatic(history)) {
    result = history.begin()->second;
    return TransformManager::Success;
  }
  if (method == TransformManager::MostRecent) {
    result = history.rbegin()->second;
    return TransformManager::Success;
  }

  // Keys are times rounded to double: the entry under the key of `time` may hold a
  // sample registered after it, and then it is the one after `time`. Each entry's
  // registration time is read once.
  // A fractional key above `time` may still be registered at `time` (its key
  // truncated): that entry is the exact hit.
  if (after != history.end() && registrationTime(*after) == time) {
    result = after->second;
    return TransformManager::Success;
  }
  if (after == history.begin()) return TransformManager::OutOfRange;  // before the oldest
  auto before = std::prev(after);
  std::int64_t before_time = registrationTime(*before);
  std::int64_t after_time = 0;
  if (before_time == time) {
    result = before->second;
    return TransformManager::Success;
  }
  if (before_time > time) {
    after = before;
    after_time = before_time;
    if (after == history.begin()) return TransformManager::OutOfRange;  // before the oldest
    before = std::prev(after);
    before_time = registrationTime(*before);
  } else if (after == history.end()) {  // past the newest: the two newest, or the one
    after = before;
    after_time = before_time;
    if (before != history.begin()) {
      before = std::prev(before);
      before_time = registrationTime(*before);
    }
    if (beyondWindow(time, after_time, window)) {
      result = after->second;
      return TransformManager::OutOfRange;
    }
  } else {
    after_time = registrationTime(*after);
  }

  if (logger.isEnabled(Logger::TRACE_LEVEL)) {
    logger.traceStream() << SEARCHING_PREFIX << time;
    logger.traceStream() << BEFORE_PREFIX << before_time;
    logger.traceStream() << AFTER_PREFIX << after_time;
  }

  if (before_time == after_time) {  // a single sample: no ratio to form
    result = after->second;
    return TransformManager::Success;
  }
  if (method == TransformManager::Interpolated && time > after_time) {
    logger.warn(INTERPOLATED_OUT_OF_RANGE);
    return TransformManager::OutOfRange;
  }
  const float ratio = static_cast<float>(ratioOf(time, before_time, after_time));
  result = blendPoses(before->second, after->second, ratio);
  // Samples stamped with their registration times blend to `time` itself; forming it
  // from the float ratio would lose the last digits of nanosecond stamps.
  result.timestamp =
      before->second.timestamp == before_time && after->second.timestamp == after_time
          ? time
          : blendTimestamp(before->second.timestamp, after->second.timestamp, ratio);
  return TransformManager::Success;
}

bool interpolationSpan(const PoseHistory& history, double window, std::int64_t& oldest,
                       std::int64_t& newest) {
  if (history.empty()) return false;
  if (isStatic(history)) {
    oldest = INT64_MIN_VALUE;
    newest = INT64_MAX_VALUE;
    return true;
  }
  oldest = registrationTime(*history.begin());
  newest = registrationTime(*history.rbegin());
  if (history.size() == 1) {  // answers on until it goes stale
    newest = saturate(static_cast<long double>(newest) + std::floor(window));
  }
  return true;
}

bool coversTime(const PoseHistory& history, long time) {
  if (history.empty()) return false;
  if (isStatic(history)) return true;
  // Samples on both sides of every time between the oldest and the newest.
  return registrationTime(*history.begin()) <= time && time <= registrationTime(*history.rbegin());
}

Pose interpolatePoses(const Pose& first, const Pose& second, float ratio) {
  Pose blended = blendPoses(first, second, ratio);
  blended.timestamp = blendTimestamp(first.timestamp, second.timestamp, ratio);
  return blended;
}

}  // namespace detail
}  // namespace zelvane
