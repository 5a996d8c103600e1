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

void store(Pose& stored, const Pose& pose, long time) {
  stored = pose;
  if (time != 0) stored.timestamp = time;
}

}  // namespace

std::int64_t truncateToInt64(double value) {
  if (std::isnan(value)) return 0;
  return saturate(static_cast<long double>(value));
}

void addSample(PoseHistory& history, const Pose& pose, long time, double window) {
  const double key = static_cast<double>(time);
  if (!history.empty() && key > history.rbegin()->first) {
    // The pruning below would erase the oldest entry right after this insertion:
    // move its node to the new key instead of freeing one node and allocating another.
    if (history.size() >= 2 && key > history.begin()->first + window) {
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
  // Against the key just inserted, strictly, and never below two entries.
  while (history.size() > 2 && key > history.begin()->first + window) {
    history.erase(history.begin());
  }
}

Result sampleHistory(const PoseHistory& history, long time, Method method, double window,
                     const Logger& logger, Pose& result) {
  result = Pose();
  if (history.empty()) return TransformManager::NotFound;
  if (history.size() == 1 && history.begin()->first == 0.0) {  // static
    result = history.begin()->second;
    return TransformManager::Success;
  }
  if (method == TransformManager::MostRecent) {
    result = history.rbegin()->second;
    return TransformManager::Success;
  }

  const double t = static_cast<double>(time);
  auto after = history.upper_bound(t);
  if (after == history.begin()) return TransformManager::OutOfRange;  // before the oldest
  const auto exact = std::prev(after);
  if (exact->first == t) {
    result = exact->second;
    return TransformManager::Success;
  }
  if (after == history.end()) after = exact;  // past the newest
  if (t > after->first + window) {
    result = after->second;
    return TransformManager::OutOfRange;
  }
  const auto before = after == history.begin() ? after : std::prev(after);

  if (logger.isEnabled(Logger::TRACE_LEVEL)) {
    logger.traceStream() << SEARCHING_PREFIX << time;
    logger.traceStream() << BEFORE_PREFIX << truncateToInt64(before->first);
    logger.traceStream() << AFTER_PREFIX << truncateToInt64(after->first);
  }

  // Keys less than one time unit apart would give a ratio of 0/0 or x/0.
  const std::int64_t span = truncateToInt64(after->first - before->first);
  if (before->first == after->first || span == 0) {
    result = after->second;
    return TransformManager::Success;
  }
  const double ratio =
      static_cast<double>(truncateToInt64(t - before->first)) / static_cast<double>(span);
  if (method == TransformManager::Interpolated && ratio > 1.0) {
    logger.warn(INTERPOLATED_OUT_OF_RANGE);
    return TransformManager::OutOfRange;
  }
  result = interpolatePoses(before->second, after->second, static_cast<float>(ratio));
  return TransformManager::Success;
}

Pose interpolatePoses(const Pose& first, const Pose& second, float ratio) {
  Pose blended;
  const float keep = 1.0f - ratio;
  for (int i = 0; i < 3; ++i) {
    blended.position[i] = std::fma(second.position[i], ratio, first.position[i] * keep);
  }
  blended.orientation = first.orientation.slerp(ratio, second.orientation);
  blended.timestamp = blendTimestamp(first.timestamp, second.timestamp, ratio);
  return blended;
}

}  // namespace detail
}  // namespace zelvane
