// Lookups of one pose in the frame graph, and the failures of lookups that the
// other parts of the frame graph's bindings raise the same way.
#include <string>

#include <pybind11/stl.h>

#include "errors.h"
#include "frame_graph_bindings.h"
#include "geometry/frame_graph_text.h"
#include "geometry/transform_manager.h"

namespace zelvane::python {

FrameGraphRequest lookupRequest(const std::string& from, const std::string& to, long time,
                                const std::string& method) {
  return {
      "lookup of " + from + " in " + to + " at time " + std::to_string(time) + " (" + method + ")",
      from, to, time};
}

Result commonTimeSpan(const TransformManager& manager, const std::string& from,
                      const std::string& to, TimeSpan& span) {
  long oldest = 0;
  long newest = 0;
  Result code;
  {
    py::gil_scoped_release release;
    code = manager.getCommonTimeSpan(from, to, oldest, newest);
  }
  span = code == TransformManager::Success ? TimeSpan({oldest, newest}) : std::nullopt;
  return code;
}

[[noreturn]] void raiseLookupError(const TransformManager& manager, Result code,
                                   const FrameGraphRequest& request, const std::string& reason) {
  TimeSpan span;
  if (code == TransformManager::OutOfRange) {
    // A span that cannot be read leaves the error without the times that work.
    static_cast<void>(commonTimeSpan(manager, *request.fromFrame, *request.toFrame, span));
  }
  raiseFrameGraphError(code, request, reason, span);
}

std::string lookupReason(const TransformManager& manager, const std::string& from,
                         const std::string& to, long time, Result code) {
  py::gil_scoped_release release;
  return lookupFailureReason(manager, from, to, time, code);
}

namespace {

Pose lookup(TransformManager& manager, const std::string& from, const std::string& to,
            TimeArgument time, const std::string& method) {
  const auto sampling = methodArgument(method);
  Pose result;
  Result code;
  {
    py::gil_scoped_release release;
    code = manager.getTransform(from, to, time, sampling, result);
  }
  if (code != TransformManager::Success) {
    raiseLookupError(manager, code, lookupRequest(from, to, time, method),
                     lookupReason(manager, from, to, time, code));
  }
  return result;
}

// The exception names the half that failed, as the manager reports it.
Pose lookupThroughFixedFrame(TransformManager& manager, const std::string& from,
                             TimeArgument fromTime, const std::string& to, TimeArgument toTime,
                             const std::string& fixed, const std::string& method) {
  const auto sampling = methodArgument(method);
  Pose result;
  Result code;
  TransformManager::FixedFrameHalf failed = TransformManager::NoHalf;
  std::string reason;
  {
    py::gil_scoped_release release;
    code = manager.getTransformThroughFixedFrame(from, fromTime, to, toTime, fixed, sampling,
                                                 result, failed);
    reason = fixedFrameFailureReason(manager, from, fromTime, to, toTime, fixed, code, failed);
  }
  if (code != TransformManager::Success) {
    const std::string operation = "lookup of " + from + " at time " + std::to_string(fromTime) +
                                  " in " + to + " at time " + std::to_string(toTime) + " through " +
                                  fixed + " (" + method + ")";
    const FrameGraphRequest request = failed == TransformManager::FromInFixed
                                          ? FrameGraphRequest{operation, from, fixed, fromTime}
                                          : FrameGraphRequest{operation, fixed, to, toTime};
    raiseLookupError(manager, code, request, reason);
  }
  return result;
}

const char* kLookupDoc = R"doc(lookup(self, from_frame, to_frame, time, method='interpolated')
--

The pose of ``from_frame`` in ``to_frame`` at ``time``.

Every edge on the path is sampled at ``time`` and the samples are composed.

Parameters
----------
from_frame, to_frame : str
time : int
    In the unit of the registrations.
method : {"interpolated", "extrapolated", "most_recent"}, default "interpolated"
    ("mostrecent" is an alias of "most_recent".) How each edge's samples are read at
    ``time``. "interpolated" blends the samples
    around ``time`` (positions linearly, orientations spherically) and refuses a
    time past the newest sample; "extrapolated" continues the line through the two
    newest samples; "most_recent" takes the newest sample whatever the time.

Returns
-------
Pose
    Its timestamp is the largest of ``time`` and the timestamps of the samples used.

Raises
------
NoFramesError
    The manager has no frames.
FrameNotFoundError
    A frame is not registered or the two frames are not connected.
OutOfRangeError
    ``time`` lies outside what the samples allow for ``method``.
ValueError
    For an unknown method.
)doc";

}  // namespace

// lookup, lookup_through_fixed_frame and common_time_span.
void defineLookups(TransformManagerClass& cls) {
  cls.def("lookup", &lookup, py::arg("from_frame"), py::arg("to_frame"), py::arg("time"),
          py::arg("method") = "interpolated", kLookupDoc)
      .def(
          "lookup_through_fixed_frame", &lookupThroughFixedFrame, py::arg("from_frame"),
          py::arg("from_time"), py::arg("to_frame"), py::arg("to_time"), py::arg("fixed_frame"),
          py::arg("method") = "interpolated",
          R"doc(lookup_through_fixed_frame(self, from_frame, from_time, to_frame, to_time, fixed_frame, method='interpolated')
--

The pose of ``from_frame`` at ``from_time`` in ``to_frame`` at ``to_time``.

``fixed_frame`` is taken not to move between the two times: ``from_frame`` is
looked up in it at ``from_time``, it is looked up in ``to_frame`` at ``to_time``,
and the two are chained. For example points a sensor saw at one time, placed in the
vehicle's body of another time, through the world frame.

Parameters
----------
from_frame : str
from_time : int
to_frame : str
to_time : int
fixed_frame : str
method : {"interpolated", "extrapolated", "most_recent"}, default "interpolated"
    How every edge of both halves is sampled (see ``lookup``).

Returns
-------
Pose
    Its timestamp is ``to_time``, unless a sample between ``fixed_frame`` and
    ``to_frame`` carries a later one.

Raises
------
NoFramesError, FrameNotFoundError, OutOfRangeError
    As ``lookup``, for the first half that fails (``from_frame`` in ``fixed_frame``
    first). The exception's ``from_frame``, ``to_frame``, ``time`` and
    ``available`` describe that half.
ValueError
    For an unknown method.
)doc")
      .def(
          "common_time_span",
          [](const TransformManager& manager, const std::string& from, const std::string& to) {
            TimeSpan span;
            const Result code = commonTimeSpan(manager, from, to, span);
            if (code != TransformManager::Success) {
              raiseFrameGraphError(
                  code, {"time span of " + from + " in " + to, from, to, {}},
                  code == TransformManager::OutOfRange
                      ? "interpolated lookups of " + from + " in " + to + " succeed at no time"
                      : "",
                  span);
            }
            return *span;
          },
          py::arg("from_frame"), py::arg("to_frame"),
          R"doc(common_time_span(self, from_frame, to_frame)
--

The times at which an interpolated ``lookup(from_frame, to_frame, time)`` succeeds.

The intersection of the spans of the edges on the path: a time-stamped edge spans
its oldest to its newest sample (a single sample: from its time to one history
window after it); a static edge does not limit the span.

Returns
-------
tuple of (int, int)
    (oldest, newest), both included; the limits of a signed 64-bit integer when
    the frames are equal or joined by static edges only.

Raises
------
NoFramesError, FrameNotFoundError
    As ``lookup``.
OutOfRangeError
    The spans of the edges do not overlap: no time works (``available`` is None).
)doc");
}

}  // namespace zelvane::python
