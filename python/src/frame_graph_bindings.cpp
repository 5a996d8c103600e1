// The frame graph: `TransformManager` with Python names, exceptions for its result
// codes, and points mapped between frames in one call.
//
// Every call into the manager releases the GIL first. Besides letting other Python
// threads run, this keeps the lock order one-way: a thread never waits for the
// manager's lock (or the mutex of its registration notification) while holding the
// GIL, so the registration callbacks, which run under both and take the GIL, cannot
// deadlock with another Python thread.
//
// The class is bound here with its views of the graph; the other parts of it are in
// the files named in frame_graph_bindings.h.
#include <memory>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "bindings.h"
#include "errors.h"
#include "frame_graph_bindings.h"
#include "geometry/frame_graph_text.h"
#include "geometry/transform_manager.h"

namespace zelvane::python {

namespace {

const char* kTransformManagerDoc =
    R"doc(Named coordinate frames joined by static or time-stamped transforms.

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

// tree, dot, edges and history_window.
void defineGraphViews(TransformManagerClass& cls) {
  cls.def(
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
)doc");
  cls.def_property_readonly(
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
)doc");
}

// frames, has_frame, the container protocol, indirect_connection_exists and history_size.
void defineFrameQueries(TransformManagerClass& cls) {
  cls.def_property_readonly(
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
          "__len__(self)\n--\n\nThe number of frames.");
  cls.def(
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
          "0 when a frame is unknown or no edge joins them directly.");
}

// set_origin and get_origin.
void defineOrigins(TransformManagerClass& cls) {
  cls.def(
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
)doc");
}

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

  bindConnection(m);

  TransformManagerClass cls(m, "TransformManager", kTransformManagerDoc);
  cls.def(py::init(&newManager), "__init__(self)\n--\n\nAn empty frame graph.");
  defineSettings(cls);
  defineRegistration(cls);
  defineGraphViews(cls);
  defineLookups(cls);
  defineBatchLookups(cls);
  defineFrameQueries(cls);
  defineFrameEdits(cls);
  defineOrigins(cls);
  cls.def("__repr__", [](const TransformManager& manager) {
    std::size_t count;
    {
      py::gil_scoped_release release;
      count = manager.getFrames().size();
    }
    return "<zelvane.TransformManager with " + std::to_string(count) + " frames>";
  });
}

}  // namespace zelvane::python
