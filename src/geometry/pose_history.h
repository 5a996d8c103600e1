// The pose history of one directed edge of the frame graph: how samples enter it
// (insert, then prune by the history window) and how it is sampled at a time.
// Kept apart from the graph walk: the walk only asks each edge for one sample.
#pragma once

#include <cstdint>
#include <map>

#include "geometry/pose.h"
#include "geometry/transform_manager.h"
#include "logging_manager.h"

namespace zelvane {
namespace detail {

using PoseHistory = std::map<double, Pose>;

/// Stores `pose` under the key `time` (replacing an entry with that key), stamped
/// with `time` unless `time` is 0, then drops the oldest entries while more than two
/// remain and `time` lies more than `TRANSFORM_HISTORY_WINDOW` after the oldest key.
/// A new newest sample that pushes the oldest entry out reuses its node.
void addSample(PoseHistory& history, const Pose& pose, long time);

/// Samples `history` at `time` with `method`; the contract is the one of
/// `TransformManager::getTransformFromPoseMap`. Trace records and the warning go to
/// `logger`; nothing is formatted when their level is off.
TransformManager::TransformResult sampleHistory(const PoseHistory& history, long time,
                                                TransformManager::InterpolationMethod method,
                                                const Logger& logger, Pose& result);

/// The blend of `first` and `second` at `ratio`; the contract is the one of
/// `TransformManager::interpolateTransform`.
Pose interpolatePoses(const Pose& first, const Pose& second, float ratio);

/// `value` truncated toward zero, saturated at the limits of int64 (0 for NaN).
std::int64_t truncateToInt64(double value);

}  // namespace detail
}  // namespace zelvane
