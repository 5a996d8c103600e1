// The frame graph: `TransformManager` with Python names, exceptions for its result
// codes, and points mapped between frames in one call.
//
// Every call into the manager releases the GIL first. Besides letting other Python
// threads run, this keeps the lock order one-way: a thread never waits for the
// manager's lock (or the mutex of its registration notification) while holding the
// GIL, so the registration callbacks, which run under both and take the GIL, cannot
// deadlock with another Python thread.
#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "bindings.h"
#include "errors.h"
#include "geometry/frame_graph_text.h"
#include "geometry/pose_file.h"
#include "geometry/transform_manager.h"
#include "settings_manager.h"

namespace zelvane::python {

namespace {

using Result = TransformManager::TransformResult;

FrameGraphRequest lookupRequest(const std::string& from, const std::string& to, long time,
                                const std::string& method) {
  return {
      "lookup of " + from + " in " + to + " at time " + std::to_string(time) + " (" + method + ")",
      from, to, time};
}

// The times at which an interpolated lookup from `from` to `to` succeeds, with the
// code of `getCommonTimeSpan`.
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

// Raises the failure of a lookup between the request's frames, with the library's
// explanation (`reason`); an OutOfRangeError carries the times that work, read just
// after the failure.
[[noreturn]] void raiseLookupError(const TransformManager& manager, Result code,
                                   const FrameGraphRequest& request, const std::string& reason) {
  TimeSpan span;
  if (code == TransformManager::OutOfRange) {
    // A span that cannot be read leaves the error without the times that work.
    static_cast<void>(commonTimeSpan(manager, *request.fromFrame, *request.toFrame, span));
  }
  raiseFrameGraphError(code, request, reason, span);
}

// The library's explanation of a failed lookup, without the GIL.
std::string lookupReason(const TransformManager& manager, const std::string& from,
                         const std::string& to, long time, Result code) {
  py::gil_scoped_release release;
  return lookupFailureReason(manager, from, to, time, code);
}

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

// --- many times at once ----------------------------------------------------------

// The lookups of `from` in `to` at every time, without the GIL; codes as int8.
std::vector<Pose> lookupTimes(TransformManager& manager, const std::string& from,
                              const std::string& to,
                              const py::array_t<long, py::array::c_style>& times,
                              TransformManager::InterpolationMethod method,
                              py::array_t<std::int8_t>& codes) {
  const auto count = static_cast<std::size_t>(times.size());
  std::vector<Pose> poses(count);
  std::vector<Result> results(count);
  codes = py::array_t<std::int8_t>(times.size());
  std::int8_t* out = codes.mutable_data();
  py::gil_scoped_release release;
  // Each time's code is returned; the count of successes adds nothing to them.
  static_cast<void>(
      manager.getTransforms(from, to, times.data(), count, method, poses.data(), results.data()));
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::int8_t>(results[i]);
  return poses;
}

py::object lookupMany(TransformManager& manager, const std::string& from, const std::string& to,
                      const py::handle& times, const std::string& method) {
  const auto sampling = methodArgument(method);
  const auto stamps = timesArgument(times, "times");
  py::array_t<std::int8_t> codes;
  const std::vector<Pose> poses = lookupTimes(manager, from, to, stamps, sampling, codes);
  const auto count = static_cast<py::ssize_t>(poses.size());
  py::array_t<float> positions({count, py::ssize_t{3}});
  py::array_t<float> quaternions({count, py::ssize_t{4}});
  py::array_t<std::int64_t> timestamps(count);
  float* p = positions.mutable_data();
  float* q = quaternions.mutable_data();
  std::int64_t* t = timestamps.mutable_data();
  for (const Pose& pose : poses) {
    for (int c = 0; c < 3; ++c) *p++ = pose.position[c];
    for (int c = 0; c < 4; ++c) *q++ = pose.orientation.coeffs()[c];  // x, y, z, w
    *t++ = pose.timestamp;
  }
  return py::module_::import("zelvane.records")
      .attr("PoseArrays")(positions, quaternions, timestamps, codes);
}

py::object lookupManyMatrices(TransformManager& manager, const std::string& from,
                              const std::string& to, const py::handle& times,
                              const std::string& method) {
  const auto sampling = methodArgument(method);
  const auto stamps = timesArgument(times, "times");
  const auto count = static_cast<std::size_t>(stamps.size());
  py::array_t<float> matrices({stamps.size(), py::ssize_t{4}, py::ssize_t{4}});
  py::array_t<std::int8_t> codes(stamps.size());
  float* out = matrices.mutable_data();
  std::int8_t* code_out = codes.mutable_data();
  {
    py::gil_scoped_release release;
    std::vector<Eigen::Matrix4f> to_T_from(count);
    std::vector<Result> results(count);
    static_cast<void>(manager.getTransformMatrices(from, to, stamps.data(), count, sampling,
                                                   to_T_from.data(), results.data()));
    for (std::size_t i = 0; i < count; ++i) {
      Eigen::Map<Eigen::Matrix<float, 4, 4, Eigen::RowMajor>>(out + 16 * i) = to_T_from[i];
      code_out[i] = static_cast<std::int8_t>(results[i]);
    }
  }
  return py::module_::import("zelvane.records").attr("MatrixArrays")(matrices, codes);
}

// Points each at its own time: (N, 3) points and (N,) times.
py::object transformPointsAtTimes(TransformManager& manager, const FloatRows& rows,
                                  const std::string& from, const std::string& to,
                                  const py::handle& times,
                                  TransformManager::InterpolationMethod method) {
  const auto stamps = timesArgument(times, "time");
  if (rows.single || stamps.size() != rows.count) {
    throw py::value_error(
        "points and times must have as many rows: points of shape (N, 3) "
        "and times of shape (N,), not " +
        std::to_string(rows.single ? -1 : rows.count) + " and " + std::to_string(stamps.size()) +
        " rows");
  }
  py::array_t<float> placed = newRows(rows.count, {3}, false);
  py::array_t<std::int8_t> codes(rows.count);
  float* out = placed.mutable_data();
  std::int8_t* code_out = codes.mutable_data();
  {
    py::gil_scoped_release release;
    const auto count = static_cast<std::size_t>(rows.count);
    std::vector<Result> results(count);
    static_cast<void>(manager.transformPoints(from, to, rows.row(0), stamps.data(), count, method,
                                              out, results.data()));
    for (std::size_t i = 0; i < count; ++i) code_out[i] = static_cast<std::int8_t>(results[i]);
  }
  return py::module_::import("zelvane.records").attr("PlacedPoints")(placed, codes);
}

// A time given as one integer (a Python int, a NumPy integer scalar or a 0-d integer
// array), rather than as an array or a list of times (where other numbers are refused).
bool isOneTime(const py::handle& time) {
  if (py::isinstance<py::array>(time)) {
    const auto array = py::reinterpret_borrow<py::array>(time);
    return array.ndim() == 0 && (array.dtype().kind() == 'i' || array.dtype().kind() == 'u');
  }
  return PyIndex_Check(time.ptr()) != 0;
}

py::object transformPoints(TransformManager& manager, const py::handle& points,
                           const std::string& from, const std::string& to,
                           const py::handle& time_argument, const std::string& method) {
  const auto sampling = methodArgument(method);
  if (!isOneTime(time_argument)) {
    return transformPointsAtTimes(manager, floatRows(points, "points", 3), from, to, time_argument,
                                  sampling);
  }
  long time = 0;
  readTime(time_argument, time);
  const FloatRows rows = floatRows(points, "points", 3);
  py::array_t<float> result = newRows(rows.count, {3}, rows.single);
  float* out = result.mutable_data();
  Result code;
  {
    py::gil_scoped_release release;
    Pose to_T_from;
    code = manager.getTransform(from, to, time, sampling, to_T_from);
    if (code == TransformManager::Success) {
      mapPoints(to_T_from.toTransform(), rows.row(0), static_cast<std::size_t>(rows.count), out);
    }
  }
  if (code != TransformManager::Success) {
    raiseLookupError(manager, code, lookupRequest(from, to, time, method),
                     lookupReason(manager, from, to, time, code));
  }
  return result;
}

// The managers whose registration callbacks run on this thread, innermost last.
thread_local std::vector<const TransformManager*> t_delivering;

// From a registration callback, registering on its own manager or connecting to its
// notification would wait for the notification's mutex, which this thread holds.
void refuseInCallback(const TransformManager& manager, const char* operation) {
  if (std::find(t_delivering.begin(), t_delivering.end(), &manager) != t_delivering.end()) {
    throw std::runtime_error(std::string(operation) +
                             " from a registration callback of the same manager would "
                             "deadlock; record the registration and act on it afterwards");
  }
}

// The manager refuses a transform of a frame in itself, or one that would close a
// cycle, with only a warning in the log; here it is an exception. The outcome is the
// manager's own, decided under its lock: another thread cannot come in between.
void setTransform(TransformManager& manager, const std::string& from, const std::string& to,
                  const py::handle& pose, TimeArgument time) {
  const Pose from_in_to = poseArgument(pose, "pose");
  refuseInCallback(manager, "set_transform");
  TransformManager::Registration outcome;
  {
    py::gil_scoped_release release;
    outcome = manager.registerTransform(from, to, from_in_to, time);
  }
  if (outcome == TransformManager::NonFinitePosition ||
      outcome == TransformManager::DegenerateOrientation) {
    throw py::value_error(registrationRefusal(outcome, from, to));
  }
  if (outcome != TransformManager::Registered) {
    raiseFrameGraphError(TransformManager::Error,
                         {"registration of " + from + " in " + to, from, to, time},
                         registrationRefusal(outcome, from, to));
  }
}

// Registers the poses of a pose file with the library's reader; the first bad line
// raises ValueError("file:line: reason").
std::size_t readPoseCsv(TransformManager& manager, const py::handle& file) {
  const std::string path = pathArgument(file);
  refuseInCallback(manager, "read_pose_csv");
  PoseFileSummary summary;
  std::string failure;
  int open_error = 0;
  {
    py::gil_scoped_release release;
    std::ifstream input(path, std::ios::binary);
    if (input) {
      failure = readPoseFile(input, path, manager, summary);
    } else {
      open_error = errno == 0 ? ENOENT : errno;
    }
  }
  if (open_error != 0) {
    errno = open_error;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
  }
  if (!failure.empty()) throw py::value_error(failure);
  return summary.count;
}

tkit::Connection connectRegistered(TransformManager& manager, const py::handle& callback) {
  if (!PyCallable_Check(callback.ptr())) {
    throw py::type_error("callback must be callable, not " +
                         py::str(py::type::handle_of(callback)).cast<std::string>());
  }
  refuseInCallback(manager, "connect_transform_registered");
  // The slot is copied and destroyed by the notification without the GIL.
  const Held held = hold(callback);
  const TransformManager* const source = &manager;
  auto slot = [held, source](const std::string& from, const std::string& to, long time) {
    py::gil_scoped_acquire gil;
    t_delivering.push_back(source);
    try {
      (*held)(from, to, time);
    } catch (py::error_already_set& error) {
      error.discard_as_unraisable(*held);
    } catch (const std::exception& error) {
      PyErr_SetString(PyExc_RuntimeError, error.what());
      PyErr_WriteUnraisable(held->ptr());
    }
    t_delivering.pop_back();
  };
  py::gil_scoped_release release;
  return manager.connectTransformRegistered(slot);
}

void loadSettings(TransformManager& manager, const py::handle& file) {
  const std::string path = pathArgument(file);
  std::string failure;
  {
    py::gil_scoped_release release;
    try {
      SettingsManager settings;
      settings.addXML(path);
      // Always Success: a store that cannot be read throws.
      static_cast<void>(manager.loadTransforms(settings));
    } catch (const std::runtime_error& error) {
      failure = error.what();
    }
  }
  if (!failure.empty()) raiseError("SettingsError", path + ": " + failure);
}

void storeSettings(const TransformManager& manager, const py::handle& file) {
  const std::string path = pathArgument(file);
  std::string failure;
  Result code;
  {
    py::gil_scoped_release release;
    SettingsManager settings;
    code = manager.storeTransforms(settings, true);
    try {
      if (code == TransformManager::Success) settings.saveXML(path);
    } catch (const std::runtime_error& error) {
      failure = error.what();
    }
  }
  if (code != TransformManager::Success) {
    raiseFrameGraphError(code, {"store of the frame graph in " + path, {}, {}, {}},
                         "the graph has no frames");
  }
  if (!failure.empty()) raiseError("SettingsError", failure);
}

const char* kClassDoc = R"doc(Named coordinate frames joined by static or time-stamped transforms.

Conventions:

- ``set_transform(a, b, pose, time)`` registers the pose of frame *a* in frame *b*
  (b_T_a). ``lookup(from_frame, to_frame, time)`` returns *from_frame* described in
  *to_frame* (to_T_from); its matrix maps points of *from_frame* into *to_frame*.
- Times are integers in the unit of the registrations (the examples use
  milliseconds). Time 0 registers a static transform, which answers every time.
- The frames form a forest: between two frames there is at most one path, and a
  transform that would close a cycle is refused.
- Failures raise the exceptions of ``zelvane.errors`` (all ``FrameGraphError``),
  which carry the result code, the frames and the time.
- Each edge keeps the samples of the last ``history_window`` time units before its
  newest one; ``edges`` lists them, ``common_time_span`` gives the times at which
  a lookup succeeds.
- One manager may be shared between Python threads: every operation holds the
  manager's lock and releases the GIL while the C++ library works.
- ``connect_transform_registered`` calls a Python function after each accepted
  registration, on the registering thread, with the manager's lock held.

Examples
--------
>>> graph = zelvane.TransformManager.from_settings("examples/vehicle.xml")
>>> graph.read_pose_csv("examples/navigation.csv")
>>> print(graph.lookup("Sensor", "Global", time=15000))
)doc";

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

std::unique_ptr<TransformManager> newManager() { return std::make_unique<TransformManager>(); }

void bindFrameGraph(py::module_& m) {
  py::enum_<Result>(m, "TransformResult",
                    "Result codes of the frame graph, as carried by "
                    "the exceptions of ``zelvane.errors``.")
      .value("SUCCESS", TransformManager::Success)
      .value("NO_FRAMES", TransformManager::NoFrames, "A lookup on a manager without frames.")
      .value("NOT_FOUND", TransformManager::NotFound,
             "A frame is not registered, the frames are not connected, or there is nothing "
             "to store.")
      .value("OUT_OF_RANGE", TransformManager::OutOfRange,
             "The time is outside what the samples allow.")
      .value("ERROR", TransformManager::Error, "The operation was refused.");

  py::class_<tkit::Connection>(m, "Connection",
                               "The handle of a registration callback, returned by "
                               "``TransformManager.connect_transform_registered``.")
      .def("disconnect", &tkit::Connection::disconnect,
           "disconnect(self)\n--\n\nStops the calls to the callback, at once and for good; "
           "never waits for a call in progress, also when called from a callback.")
      .def_property_readonly("connected", &tkit::Connection::connected,
                             "bool: True until ``disconnect`` (or the manager is gone).")
      .def(
          "__enter__", [](tkit::Connection& self) -> tkit::Connection& { return self; },
          "__enter__(self)\n--\n\nThe connection itself.")
      .def(
          "__exit__", [](tkit::Connection& self, const py::args&) { self.disconnect(); },
          "__exit__(self, *exc_info)\n--\n\nDisconnects.");

  py::class_<TransformManager>(m, "TransformManager", kClassDoc)
      .def(py::init(&newManager), "__init__(self)\n--\n\nAn empty frame graph.")
      .def_static(
          "from_settings",
          [](const py::handle& path) {
            auto manager = newManager();
            loadSettings(*manager, path);
            return manager;
          },
          py::arg("path"), R"doc(from_settings(path)
--

A frame graph loaded from a settings XML file.

Parameters
----------
path : str or os.PathLike
    A settings file with the transforms under ``Transforms`` at its root, each
    registered as static.

Returns
-------
TransformManager

Raises
------
SettingsError
    The file cannot be read, is malformed, or a stored transform is incomplete.
)doc")
      .def("load_settings", &loadSettings, py::arg("path"),
           R"doc(load_settings(self, path)
--

Replaces the whole graph by the transforms of a settings XML file.

All stored transforms are read before anything changes: when the file is bad the
graph stays as it was. Frames, histories and origins are replaced; a file without
``Transforms`` empties the graph.

Parameters
----------
path : str or os.PathLike

Raises
------
SettingsError
    The file cannot be read, is malformed, or a stored transform is incomplete.
)doc")
      .def("store_settings", &storeSettings, py::arg("path"),
           R"doc(store_settings(self, path)
--

Writes the graph to a settings XML file that ``from_settings`` reads back.

Each directly connected pair of frames is written once, with its newest sample, as a
static transform.

Parameters
----------
path : str or os.PathLike

Raises
------
FrameNotFoundError
    The graph has no frames (code NOT_FOUND); nothing is written.
SettingsError
    The file cannot be written.
)doc")
      .def("set_transform", &setTransform, py::arg("from_frame"), py::arg("to_frame"),
           py::arg("pose"), py::arg("time") = 0,
           R"doc(set_transform(self, from_frame, to_frame, pose, time=0)
--

Registers the pose of ``from_frame`` in ``to_frame``.

Missing frames are created. A sample at the same time as an existing one replaces it;
each edge keeps the samples of its history window.

Parameters
----------
from_frame, to_frame : str
pose : Pose or array_like, shape (4, 4)
    The pose, or its rigid transform matrix (which maps points of ``from_frame`` into
    ``to_frame``).
time : int, default 0
    0 registers a static transform; any other value a sample at that time.

Raises
------
RefusedError
    ``from_frame`` equals ``to_frame``, or the two frames are already joined through
    other frames (the transform would close a cycle). Nothing changes. The outcome is
    the manager's own, read under its lock: a registration of another thread cannot
    come in between.
ValueError
    ``pose`` is neither a Pose nor a rigid 4x4 matrix; its position is not finite,
    or its quaternion has zero length or a component that is not finite (nothing
    changes); ``time`` is not an integer.
RuntimeError
    Called from a registration callback of this manager.
)doc")
      .def("read_pose_csv", &readPoseCsv, py::arg("path"),
           R"doc(read_pose_csv(self, path)
--

Registers every time-stamped pose of a pose file, with the library's reader (the one
of ``zelvane_frames --poses``).

Each line registers the pose of ``from`` in ``to`` at ``time`` (0 for a static
transform), its quaternion normalised, in file order. Blank lines and a UTF-8
byte-order mark are skipped. Numbers are decimal (hexadecimal floats, "inf" and
"nan" are refused); each is rounded once to float32.

Parameters
----------
path : str or os.PathLike
    A CSV file with the header line ``time,from,to,x,y,z,qx,qy,qz,qw``.

Returns
-------
int
    The number of poses registered.

Raises
------
ValueError
    At the first bad line, with its file name and line number ("file:line:
    reason"): a wrong header, a field count other than 10, a time that is not an
    integer, an empty frame name, a frame given in itself, a number that is not a
    finite decimal, a quaternion far from unit length (norm outside 0.5 to 1.5), or
    a pose between two frames already joined through others. The poses of the
    lines before it stay registered.
OSError
    The file cannot be opened.
RuntimeError
    Called from a registration callback of this manager.
)doc")
      .def(
          "tree",
          [](const TransformManager& manager) {
            py::gil_scoped_release release;
            return frameTreeText(manager.getFrames(), manager.getEdges());
          },
          R"doc(tree(self)
--

The frame graph drawn as trees, as ``zelvane_frames --tree`` prints it.

One line a frame, indented two spaces a level; each tree hangs from a frame that
is given in no other, and each child's line carries its edge ("static", or the
sample count and time span).

Returns
-------
str
)doc")
      .def(
          "dot",
          [](const TransformManager& manager) {
            py::gil_scoped_release release;
            return frameTreeDot(manager.getFrames(), manager.getEdges());
          },
          R"doc(dot(self)
--

The frame tree as a Graphviz digraph, as ``zelvane_frames --dot`` prints it.

Returns
-------
str
)doc")
      .def("lookup", &lookup, py::arg("from_frame"), py::arg("to_frame"), py::arg("time"),
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
)doc")
      .def_property_readonly(
          "edges",
          [](const TransformManager& manager) {
            std::vector<TransformManager::EdgeSummary> edges;
            {
              py::gil_scoped_release release;
              edges = manager.getEdges();
            }
            const py::object edge = py::module_::import("zelvane.records").attr("FrameEdge");
            py::list result;
            for (const auto& e : edges) {
              result.append(edge(e.from, e.to, e.isStatic, e.samples, e.oldest, e.newest));
            }
            return result;
          },
          "list of FrameEdge: every pair of directly joined frames, once, in the direction "
          "of its first registration, with whether it is static, its sample count and the "
          "times of its oldest and newest samples; in the order ``store_settings`` writes "
          "them (by the later frame of the pair, then the earlier).")
      .def_property(
          "history_window",
          [](const TransformManager& manager) {
            py::gil_scoped_release release;
            return manager.getHistoryWindow();
          },
          [](TransformManager& manager, double window) {
            Result code;
            {
              py::gil_scoped_release release;
              code = manager.setHistoryWindow(window);
            }
            if (code != TransformManager::Success) {
              throw py::value_error(
                  "history_window must be 0 or above (math.inf keeps every "
                  "sample), not " +
                  py::repr(py::float_(window)).cast<std::string>());
            }
          },
          R"doc(float: the span of history kept per edge and the staleness limit of lookups,
in the time unit of the graph.

Each edge keeps the samples of the last ``history_window`` units before its newest
one (never fewer than two), and a lookup more than ``history_window`` after an
edge's newest sample raises OutOfRangeError. The default, 1e10, is 10 s of
nanosecond stamps but 115 days of millisecond ones. Lookups use a new window at
once; an edge is pruned to it at its next registration. ``math.inf`` keeps every
sample; a negative or NaN window raises ValueError and changes nothing.
)doc")
      .def("connect_transform_registered", &connectRegistered, py::arg("callback"),
           R"doc(connect_transform_registered(self, callback)
--

Calls ``callback(from_frame, to_frame, time)`` after each registration that
``set_transform`` accepts (``time`` 0 for a static transform).

Refused registrations, ``load_settings``, ``from_settings`` and the re-attachments
made by ``remove_frame`` call nothing. Callbacks are called in the order of their
connection.

The callback runs on the registering thread, with the GIL taken and the manager's
lock held: other threads' calls on this manager wait until it returns, so keep it
short. It sees the new sample and may look transforms up on this manager, but
``set_transform`` and ``connect_transform_registered`` on this manager raise
RuntimeError there (they would deadlock). Calling into another manager from a
callback is safe only when no callback of that manager calls back into this one
(two threads could then wait for each other's manager); the safe pattern is to
record what the callback is given (e.g. in a ``queue.Queue``) and act on it
elsewhere. An exception raised by the callback does not undo the registration nor
reach ``set_transform``: it is reported through ``sys.unraisablehook``, and the
other callbacks still run.

The manager holds the callback until it is disconnected and the manager next
registers or connects; a callback that refers to its manager keeps the manager
alive until then.

Parameters
----------
callback : callable
    Called with (from_frame: str, to_frame: str, time: int).

Returns
-------
Connection
    ``disconnect()`` stops the calls; also usable as a context manager that
    disconnects on exit.

Examples
--------
>>> seen = []
>>> with graph.connect_transform_registered(lambda a, b, t: seen.append((a, b, t))):
...     graph.set_transform("Sensor", "Body", zelvane.Pose())
>>> seen
[('Sensor', 'Body', 0)]
)doc")
      .def("transform_points", &transformPoints, py::arg("points"), py::arg("from_frame"),
           py::arg("to_frame"), py::arg("time"), py::arg("method") = "interpolated",
           R"doc(transform_points(self, points, from_frame, to_frame, time, method='interpolated')
--

Maps points given in ``from_frame`` into ``to_frame`` at ``time``, or each point at
its own time.

With one time: one lookup (see ``lookup``) and one pass over the points in C++,
without the GIL. With an array of times (a scan whose sensor moved while it
scanned): the lookups of ``lookup_many`` and one pass over the points, without the
GIL and without a Python loop; points sharing a time (a spinning lidar's firing)
share one lookup. A failed lookup does not raise: its points are NaN and its code
says why.

Parameters
----------
points : array_like, shape (3,) or (N, 3)
    Points in ``from_frame``; shape (N, 3) with an array of times.
from_frame, to_frame : str
time : int or array_like of int, shape (N,)
    One time for every point, or the time of each point (any integer dtype).
method : {"interpolated", "extrapolated", "most_recent"}, default "interpolated"

Returns
-------
numpy.ndarray, float32, shape (3,) or (N, 3)
    With one time: the points in ``to_frame``, ``lookup(...).as_matrix() @ (x, y, z,
    1)`` each.
PlacedPoints
    With an array of times: ``points`` (N, 3) float32, each equal bit for bit to
    ``transform_points(point, ..., time=its time)``, NaN where the lookup failed;
    ``codes`` (N,) int8, the ``TransformResult`` of each point's lookup; ``ok``, the
    mask of the points placed.

Raises
------
NoFramesError, FrameNotFoundError, OutOfRangeError
    As ``lookup``, with one time only.
ValueError
    For a shape other than (3,) or (N, 3), a non-numeric array, times that are not
    integers or not one per point, or an unknown method.

Examples
--------
>>> placed = graph.transform_points(scan_points, "Sensor", "Global", point_times)
>>> placed.points[placed.ok]
)doc")
      .def("lookup_many", &lookupMany, py::arg("from_frame"), py::arg("to_frame"), py::arg("times"),
           py::arg("method") = "interpolated",
           R"doc(lookup_many(self, from_frame, to_frame, times, method='interpolated')
--

The poses of ``from_frame`` in ``to_frame`` at many times, in one call.

Each pose equals, bit for bit, ``lookup(from_frame, to_frame, time, method)`` at its
time. A failed time does not raise: its code says why and its pose is the identity.
One lock, one walk of the path, and for rising times one pass over each edge's
samples, without the GIL; times may also come in any order and repeat. An
"interpolated" lookup refused past the newest sample logs its warning for each
time, as ``lookup`` does; ``common_time_span`` tells beforehand which times work.

Parameters
----------
from_frame, to_frame : str
times : array_like of int, shape (T,)
    Any integer dtype.
method : {"interpolated", "extrapolated", "most_recent"}, default "interpolated"

Returns
-------
PoseArrays
    ``positions`` (T, 3) float32, ``quaternions`` (T, 4) float32 (x, y, z, w),
    ``timestamps`` (T,) int64, ``codes`` (T,) int8 (the ``TransformResult`` of each
    lookup), and ``ok``, the mask of the times that succeeded.

Raises
------
ValueError
    For times that are not a 1-D array of integers, or an unknown method.

Examples
--------
>>> poses = graph.lookup_many("Body", "Global", np.arange(14000, 16000, 10))
>>> poses.positions[poses.ok]
)doc")
      .def("lookup_many_matrices", &lookupManyMatrices, py::arg("from_frame"), py::arg("to_frame"),
           py::arg("times"), py::arg("method") = "interpolated",
           R"doc(lookup_many_matrices(self, from_frame, to_frame, times, method='interpolated')
--

``lookup_many`` as 4x4 matrices: each equal bit for bit to
``lookup(from_frame, to_frame, time, method).as_matrix()``, the identity where the
lookup failed.

Parameters
----------
from_frame, to_frame : str
times : array_like of int, shape (T,)
method : {"interpolated", "extrapolated", "most_recent"}, default "interpolated"

Returns
-------
MatrixArrays
    ``matrices`` (T, 4, 4) float32, which map points of ``from_frame`` into
    ``to_frame``; ``codes`` (T,) int8; ``ok``, the mask of the times that succeeded.

Raises
------
ValueError
    For times that are not a 1-D array of integers, or an unknown method.
)doc")
      .def_property_readonly(
          "frames",
          [](const TransformManager& manager) {
            py::gil_scoped_release release;
            return manager.getFrames();
          },
          "list of str: the frame names in registration order.")
      .def(
          "has_frame",
          [](const TransformManager& manager, const std::string& name) {
            py::gil_scoped_release release;
            return manager.hasFrame(name);
          },
          py::arg("name"), "has_frame(self, name)\n--\n\nTrue when a frame has exactly this name.")
      .def(
          "__contains__",
          [](const TransformManager& manager, const std::string& name) {
            py::gil_scoped_release release;
            return manager.hasFrame(name);
          },
          py::arg("name"), "__contains__(self, name)\n--\n\nTrue when a frame has this name.")
      .def(
          "__len__",
          [](const TransformManager& manager) {
            py::gil_scoped_release release;
            return manager.getFrames().size();
          },
          "__len__(self)\n--\n\nThe number of frames.")
      .def(
          "rename_frame",
          [](TransformManager& manager, const std::string& old_name, const std::string& new_name) {
            Result code;
            {
              py::gil_scoped_release release;
              code = manager.updateFrameName(old_name, new_name);
            }
            if (code != TransformManager::Success) {
              raiseFrameGraphError(
                  code, {"rename of " + old_name + " to " + new_name, old_name, new_name, {}},
                  code == TransformManager::Error ? "another frame is named " + new_name : "");
            }
          },
          py::arg("old_name"), py::arg("new_name"),
          R"doc(rename_frame(self, old_name, new_name)
--

Renames a frame, keeping its transforms and histories.

Renaming a frame to its own name changes nothing.

Raises
------
FrameNotFoundError
    No frame is named ``old_name``.
RefusedError
    Another frame is already named ``new_name``; nothing changes.
)doc")
      .def(
          "remove_frame",
          [](TransformManager& manager, const std::string& frame) {
            Result code;
            {
              py::gil_scoped_release release;
              code = manager.removeFrame(frame);
            }
            if (code != TransformManager::Success) {
              raiseFrameGraphError(code, {"removal of " + frame, frame, {}, {}});
            }
          },
          py::arg("frame"), R"doc(remove_frame(self, frame)
--

Removes a frame and re-attaches its neighbours.

The first neighbour (in frame order) stays; every other neighbour gets one static
transform to it, equal to the newest samples composed through the removed frame.
Lookups that went through the frame keep working, with that frozen transform.

Raises
------
FrameNotFoundError
    No frame has that name.
RefusedError
    The removal failed (code ERROR); the graph is unchanged.
)doc")
      .def(
          "indirect_connection_exists",
          [](const TransformManager& manager, const std::string& from, const std::string& to) {
            py::gil_scoped_release release;
            return manager.indirectConnectionExists(from, to);
          },
          py::arg("from_frame"), py::arg("to_frame"),
          "indirect_connection_exists(self, from_frame, to_frame)\n--\n\n"
          "True when both frames exist, no edge joins them directly and they are\n"
          "connected through other frames (also for an existing frame and itself).")
      .def(
          "history_size",
          [](const TransformManager& manager, const std::string& from, const std::string& to) {
            py::gil_scoped_release release;
            return manager.historySize(from, to);
          },
          py::arg("from_frame"), py::arg("to_frame"),
          "history_size(self, from_frame, to_frame)\n--\n\n"
          "The number of samples held on the edge from ``from_frame`` to ``to_frame``;\n"
          "0 when a frame is unknown or no edge joins them directly.")
      .def(
          "set_origin",
          [](TransformManager& manager, const std::string& name, const std::string& frame,
             const py::handle& pose) {
            const Pose value = poseArgument(pose, "pose");
            py::gil_scoped_release release;
            manager.setOrigin(name, frame, value);
          },
          py::arg("name"), py::arg("frame"), py::arg("pose"),
          R"doc(set_origin(self, name, frame, pose)
--

Sets the named origin to a frame and a pose, replacing an existing one.

Origins are not tied to the graph: ``frame`` need not be registered.

Parameters
----------
name, frame : str
pose : Pose or array_like, shape (4, 4)
)doc")
      .def(
          "get_origin",
          [](const TransformManager& manager, const std::string& name) {
            std::string frame;
            Pose pose;
            bool found;
            {
              py::gil_scoped_release release;
              found = manager.getOrigin(name, frame, pose);
            }
            if (!found) throw py::key_error(name);
            return py::make_tuple(frame, pose);
          },
          py::arg("name"), R"doc(get_origin(self, name)
--

The frame and pose of a named origin.

Returns
-------
tuple of (str, Pose)

Raises
------
KeyError
    There is no origin of that name.
)doc")
      .def("__repr__", [](const TransformManager& manager) {
        std::size_t count;
        {
          py::gil_scoped_release release;
          count = manager.getFrames().size();
        }
        return "<zelvane.TransformManager with " + std::to_string(count) + " frames>";
      });
}

}  // namespace zelvane::python
