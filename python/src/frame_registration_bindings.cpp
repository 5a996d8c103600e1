// Changing the frame graph from Python: registrations (one at a time or a pose
// file), the callbacks of registrations, and renaming and removing frames.
#include <algorithm>
#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "errors.h"
#include "frame_graph_bindings.h"
#include "geometry/frame_graph_text.h"
#include "geometry/pose_file.h"
#include "geometry/transform_manager.h"

namespace zelvane::python {

namespace {

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

const char* kSetTransformDoc = R"doc(set_transform(self, from_frame, to_frame, pose, time=0)
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
)doc";

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

const char* kReadPoseCsvDoc = R"doc(read_pose_csv(self, path)
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
)doc";

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

const char* kConnectDoc = R"doc(connect_transform_registered(self, callback)
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
)doc";

}  // namespace

void bindConnection(py::module_& m) {
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
}

// set_transform, read_pose_csv and connect_transform_registered.
void defineRegistration(TransformManagerClass& cls) {
  cls.def("set_transform", &setTransform, py::arg("from_frame"), py::arg("to_frame"),
          py::arg("pose"), py::arg("time") = 0, kSetTransformDoc)
      .def("read_pose_csv", &readPoseCsv, py::arg("path"), kReadPoseCsvDoc);
  cls.def("connect_transform_registered", &connectRegistered, py::arg("callback"), kConnectDoc);
}

// rename_frame and remove_frame.
void defineFrameEdits(TransformManagerClass& cls) {
  cls.def(
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
)doc");
}

}  // namespace zelvane::python
