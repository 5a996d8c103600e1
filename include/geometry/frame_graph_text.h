/// @file
/// The frame graph in words, for people: the frame tree as text and as a Graphviz
/// graph, and the explanations of failed registrations and lookups that the command
/// line and the Python module print. Built on the public queries of
/// `TransformManager` (`getFrames`, `getEdges`, `getCommonTimeSpan`, ...); changes
/// nothing.
#pragma once

#include <string>
#include <vector>

#include <zelvane/geometry/transform_manager.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {

/// The frame graph drawn as trees, one line a frame, two spaces of indent a level:
/// each tree hangs from its first frame (in `frames` order) that is given in no other,
/// so that with the usual registrations (sensor in body, body in world) the world is
/// on top; children come in `frames` order. A child's line carries its edge: "static",
/// or "N samples, time OLDEST to NEWEST", and ", given as CHILD in PARENT" when the
/// pair was registered the other way round. `frames` and `edges` are what `getFrames`
/// and `getEdges` return. O(frames log frames + edges).
ZELVANE_CORE_API std::string frameTreeText(const std::vector<std::string>& frames,
                                           const std::vector<TransformManager::EdgeSummary>& edges);

/// The same trees as a Graphviz digraph "frames": an edge from parent to child
/// labelled as in `frameTreeText` (parts on separate label lines), a root without
/// edges as a lone node; names quoted, with '"' and '\' escaped.
ZELVANE_CORE_API std::string frameTreeDot(const std::vector<std::string>& frames,
                                          const std::vector<TransformManager::EdgeSummary>& edges);

/// The name in `frames` closest to `name`: the fewest single-character edits, letter
/// case ignored, a change of case alone counting less than any edit; the first in
/// `frames` order among equals. "" when `frames` is empty. O(frames * length^2).
ZELVANE_CORE_API std::string closestFrameName(const std::vector<std::string>& frames,
                                              const std::string& name);

/// "there is no frame 'name' (the closest known frame is 'Name')", naming the frame of
/// `frames` closest to `name` (`closestFrameName`); "(the graph has no frames)" in the
/// brackets when `frames` is empty. The text of every message about an unknown frame.
ZELVANE_CORE_API std::string unknownFrameReason(const std::vector<std::string>& frames,
                                                const std::string& name);

/// Why a registration was refused, for a message: "a frame cannot be given in itself
/// ('A')", "A and B are already joined through other frames", that it was made from a
/// callback of the registration notification, "the position of A in B is not finite",
/// or "the orientation of A in B is a quaternion of zero length or with a component
/// that is not finite"; "" for `Registered`.
ZELVANE_CORE_API std::string registrationRefusal(TransformManager::Registration outcome,
                                                 const std::string& from, const std::string& to);

/// Why `getTransform(from, to, time, method, ...)` answered `code`, for a message that
/// a user can act on (each cause in one sentence-like clause, joined by "; "):
/// - `NoFrames`: "the graph has no frames";
/// - `NotFound`: the frame that is not known with the known frame of the closest name
///   ("there is no frame sensor; did you mean Sensor?"), or that the two frames are
///   not connected;
/// - `OutOfRange`: the times at which an interpolated lookup works ("interpolated
///   lookups of A in B succeed from time X to Y", "at no time", "at every time"), and,
///   when `time` lies more than the history window before the newest sample of an edge
///   on the path, that the window dropped the older samples and how to widen it.
/// "" for `Success`. Reads the manager under its lock, one query at a time.
ZELVANE_CORE_API std::string lookupFailureReason(const TransformManager& manager,
                                                 const std::string& from, const std::string& to,
                                                 long time, TransformManager::TransformResult code);

/// Why `waitForTransform(from, to, time, method, ...)` ended with `code` rather than a
/// pose: `lookupFailureReason`, or, when the lookup itself succeeds (an `Interpolated`
/// wait at a time past an edge's only sample), that a wait releases only a covered
/// time and waits for the next sample. "" for `Success`.
ZELVANE_CORE_API std::string waitFailureReason(const TransformManager& manager,
                                               const std::string& from, const std::string& to,
                                               long time,
                                               TransformManager::InterpolationMethod method,
                                               TransformManager::TransformResult code);

/// Why `getTransformThroughFixedFrame` answered `code`: "the half A in B at time T"
/// for the half that failed (`failed`), then "; " and `lookupFailureReason` of that
/// half. "" for `Success`.
ZELVANE_CORE_API std::string fixedFrameFailureReason(const TransformManager& manager,
                                                     const std::string& from, long fromTime,
                                                     const std::string& to, long toTime,
                                                     const std::string& fixed,
                                                     TransformManager::TransformResult code,
                                                     TransformManager::FixedFrameHalf failed);

}  // namespace zelvane
