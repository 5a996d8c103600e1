// The frame graph: `TransformManager` with Python names, exceptions for its result
// codes, and points mapped between frames in one call.
//
// Every call into the manager releases the GIL first. Besides letting other Python
// threads run, this keeps the lock order one-way: a thread never waits for the
// manager's lock while holding the GIL, so nothing that runs under that lock can
// deadlock by needing the GIL.
#include <stdexcept>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "bindings.h"
#include "errors.h"
#include "geometry/transform_manager.h"
#include "settings_manager.h"

namespace zelvane::python {

namespace {

using Result = TransformManager::TransformResult;

TransformManager::InterpolationMethod methodArgument(const std::string& method) {
  if (method == "interpolated") return TransformManager::Interpolated;
  if (method == "extrapolated") return TransformManager::Extrapolated;
  if (method == "most_recent") return TransformManager::MostRecent;
  throw py::value_error(
      "method must be \"interpolated\", \"extrapolated\" or \"most_recent\", not \"" + method +
      "\"");
}

FrameGraphRequest lookupRequest(const std::string& from, const std::string& to, long time,
                                const std::string& method) {
  return {
      "lookup of " + from + " in " + to + " at time " + std::to_string(time) + " (" + method + ")",
      from, to, time};
}

Pose lookup(TransformManager& manager, const std::string& from, const std::string& to, long time,
            const std::string& method) {
  const auto sampling = methodArgument(method);
  Pose result;
  Result code;
  {
    py::gil_scoped_release release;
    code = manager.getTransform(from, to, time, sampling, result);
  }
  if (code != TransformManager::Success) {
    raiseFrameGraphError(code, lookupRequest(from, to, time, method));
  }
  return result;
}

py::array_t<float> transformPoints(TransformManager& manager, const py::handle& points,
                                   const std::string& from, const std::string& to, long time,
                                   const std::string& method) {
  const auto sampling = methodArgument(method);
  const FloatRows rows = floatRows(points, "points", 3);
  py::array_t<float> result = newRows(rows.count, {3}, rows.single);
  float* out = result.mutable_data();
  Result code;
  {
    py::gil_scoped_release release;
    Pose to_T_from;
    code = manager.getTransform(from, to, time, sampling, to_T_from);
    if (code == TransformManager::Success) mapPoints(to_T_from.toTransform(), rows, out);
  }
  if (code != TransformManager::Success) {
    raiseFrameGraphError(code, lookupRequest(from, to, time, method));
  }
  return result;
}

// The manager refuses a transform of a frame in itself, or one that would close a
// cycle, with only a warning in the log; here it is an exception. The check and the
// registration are two calls: a registration made by another thread in between that
// joins the two frames is not seen, and the manager then refuses with its warning.
void setTransform(TransformManager& manager, const std::string& from, const std::string& to,
                  const py::handle& pose, long time) {
  const Pose from_in_to = poseArgument(pose, "pose");
  const FrameGraphRequest request{"registration of " + from + " in " + to, from, to, time};
  if (from == to) {
    raiseFrameGraphError(TransformManager::Error, request, "a frame cannot be given in itself");
  }
  bool closesCycle;
  {
    py::gil_scoped_release release;
    closesCycle = manager.indirectConnectionExists(from, to);
    if (!closesCycle) manager.setTransform(from, to, from_in_to, time);
  }
  if (closesCycle) {
    raiseFrameGraphError(TransformManager::Error, request,
                         "the frames are already joined through other frames");
  }
}

void loadSettings(TransformManager& manager, const py::handle& file) {
  const std::string path = pathArgument(file);
  std::string failure;
  {
    py::gil_scoped_release release;
    try {
      SettingsManager settings;
      settings.addXML(path);
      manager.loadTransforms(settings);
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
- One manager may be shared between Python threads: every operation holds the
  manager's lock and releases the GIL while the C++ library works.

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
    How each edge's samples are read at ``time``. "interpolated" blends the samples
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

  py::class_<TransformManager>(m, "TransformManager", kClassDoc)
      .def(py::init<>(), "__init__(self)\n--\n\nAn empty frame graph.")
      .def_static(
          "from_settings",
          [](const py::handle& path) {
            auto manager = std::make_unique<TransformManager>();
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
    other frames (the transform would close a cycle). Nothing changes.
ValueError
    ``pose`` is neither a Pose nor a rigid 4x4 matrix.
)doc")
      .def("lookup", &lookup, py::arg("from_frame"), py::arg("to_frame"), py::arg("time"),
           py::arg("method") = "interpolated", kLookupDoc)
      .def("transform_points", &transformPoints, py::arg("points"), py::arg("from_frame"),
           py::arg("to_frame"), py::arg("time"), py::arg("method") = "interpolated",
           R"doc(transform_points(self, points, from_frame, to_frame, time, method='interpolated')
--

Maps points given in ``from_frame`` into ``to_frame`` at ``time``.

One lookup (see ``lookup``) and one pass over the points in C++, without the GIL.

Parameters
----------
points : array_like, shape (3,) or (N, 3)
    Points in ``from_frame``.
from_frame, to_frame : str
time : int
method : {"interpolated", "extrapolated", "most_recent"}, default "interpolated"

Returns
-------
numpy.ndarray, float32, shape (3,) or (N, 3)
    The points in ``to_frame``: ``lookup(...).as_matrix() @ (x, y, z, 1)`` each.

Raises
------
NoFramesError, FrameNotFoundError, OutOfRangeError
    As ``lookup``.
ValueError
    For a shape other than (3,) or (N, 3), a non-numeric array or an unknown method.
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
