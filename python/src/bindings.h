// The parts of the `_zelvane` extension module, one function per subsystem, and the
// conversions that several of them share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <pybind11/pybind11.h>

#include "arrays.h"
#include "core/name_table.h"
#include "geometry/angle_units.h"
#include "geometry/pose.h"
#include "geometry/transform_manager.h"

namespace zelvane::python {

namespace py = pybind11;

/// The yaw/pitch/roll conversions on rows of angles and quaternions.
void bindRotations(py::module_& m);
void bindPose(py::module_& m);
void bindFrameGraph(py::module_& m);
void bindLocalOrigin(py::module_& m);
/// Adds the wait and the queue to the frame graph bound by `bindFrameGraph`.
void bindTransformWaiting(py::module_& m);
void bindState(py::module_& m);
void bindBoxes(py::module_& m);
void bindAssignment(py::module_& m);
/// The tracker.
void bindTracker(py::module_& m);
/// The benchmark's camera boxes to and from the library's boxes.
void bindCameraBoxes(py::module_& m);
void bindSequenceCheck(py::module_& m);
void bindAddress(py::module_& m);
/// `read_tracking_file` and the evaluation behind `zelvane.evaluate_tracking`.
void bindTracking(py::module_& m);
/// Pickling of `Pose`, `State`, `TransformManager` and `Tracker`; after the classes are
/// bound.
void bindPickling(py::module_& m);

/// A new, empty manager as the Python class makes them.
std::unique_ptr<TransformManager> newManager();

/// The pose whose transform is `matrix`: the translation column and the unit
/// quaternion of the rotation block. Raises ValueError when the matrix is not a rigid
/// transform (bottom row not (0, 0, 0, 1), rotation block not orthonormal within
/// 1e-4, or a reflection).
Pose poseFromMatrix(const Eigen::Matrix4f& matrix, std::int64_t timestamp);

/// A `Pose` argument, or a 4x4 array read with `poseFromMatrix` (timestamp 0).
Pose poseArgument(const py::handle& value, const char* name);

/// Radians from degrees exactly as the settings layer converts stored degrees, so
/// that a pose built from degrees here equals the pose read from a settings file.
using angles::radiansFromDegrees;
/// Degrees from radians as `zelvane_frames` prints them.
using angles::degreesFromRadians;

/// The value named `text` in `table` (a name or an alias); any other text raises
/// ValueError("`what` must be <the names>, not "`text`""), the aliases listed too when
/// `listAliases`.
template <class Enum>
Enum nameArgument(const NameTable<Enum>& table, const std::string& text, const char* what,
                  bool listAliases = false) {
  Enum value{};
  if (!table.parse(text, value)) {
    throw py::value_error(std::string(what) + " must be " + table.choices("\"", listAliases) +
                          ", not \"" + text + "\"");
  }
  return value;
}

/// A sampling method's name or alias (`TransformManager::methodNames`); any other text
/// raises ValueError.
inline TransformManager::InterpolationMethod methodArgument(const std::string& method) {
  return nameArgument(TransformManager::methodNames(), method, "method", true);
}

/// A Python object held from C++ code that may copy and drop it without the GIL (a
/// registration slot, a queue's item or callback): the last owner takes the GIL to
/// release it, and leaves it alone once the interpreter is gone.
using Held = std::shared_ptr<py::object>;

inline Held hold(const py::handle& object) {
  return Held(new py::object(py::reinterpret_borrow<py::object>(object)), [](py::object* held) {
    if (!Py_IsInitialized()) return;
    py::gil_scoped_acquire gil;
    delete held;
  });
}

/// A file-system path argument: a str, bytes or os.PathLike object.
inline std::string pathArgument(const py::handle& value) {
  return py::module_::import("os").attr("fspath")(value).cast<std::string>();
}

/// "intrinsic" or "extrinsic"; anything else raises ValueError.
bool isIntrinsic(const std::string& convention);

}  // namespace zelvane::python
