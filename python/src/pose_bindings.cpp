// `Pose` with its matrices, inverse, angles and point mapping.
#include <charconv>
#include <iomanip>
#include <sstream>
#include <string>

#include "arrays.h"
#include "bindings.h"
#include "rotations.h"

namespace zelvane::python {

namespace {

// Shortest text that reads back as the same float, for repr().
std::string shortest(float value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

template <class Vector>
std::string listText(const Vector& values) {
  std::string text = "[";
  for (Eigen::Index i = 0; i < values.size(); ++i) {
    text += (i > 0 ? ", " : "") + shortest(values[i]);
  }
  return text + "]";
}

py::array_t<float> applyTransform(const Eigen::Matrix4f& transform, const py::handle& points) {
  const FloatRows rows = floatRows(points, "points", 3);
  py::array_t<float> result = newRows(rows.count, {3}, rows.single);
  float* out = result.mutable_data();
  py::gil_scoped_release release;
  mapPoints(transform, rows.row(0), static_cast<std::size_t>(rows.count), out);
  return result;
}

// The text of `zelvane_frames` for a pose (after its title line), with the timestamp
// on the first line.
std::string poseSummary(const Pose& pose) {
  const Eigen::Vector3f intrinsic = yprOf(pose.orientation, true, true);
  const Eigen::Vector3f extrinsic = yprOf(pose.orientation, false, true);
  const Eigen::Quaternionf& q = pose.orientation;
  std::ostringstream out;
  out << "timestamp:  " << pose.timestamp << '\n';
  out << std::fixed << std::setprecision(6);
  out << "position:   " << pose.position.x() << ' ' << pose.position.y() << ' ' << pose.position.z()
      << '\n';
  out << "quaternion: " << q.x() << ' ' << q.y() << ' ' << q.z() << ' ' << q.w() << "  (x y z w)\n";
  out << "intrinsic yaw/pitch/roll (deg): " << intrinsic[0] << ' ' << intrinsic[1] << ' '
      << intrinsic[2] << '\n';
  out << "extrinsic yaw/pitch/roll (deg): " << extrinsic[0] << ' ' << extrinsic[1] << ' '
      << extrinsic[2] << '\n';
  out << "matrix:";
  const Eigen::Matrix4f matrix = pose.toTransform();
  for (int row = 0; row < 4; ++row) {
    out << "\n  ";
    for (int col = 0; col < 4; ++col) out << std::setw(12) << matrix(row, col);
  }
  return out.str();
}

const char* kPoseDoc = R"doc(Where one frame lies in another, at a time.

The pose of a frame *a* in a reference frame *b*: the position of *a*'s origin and
the rotation of *a*, both expressed in *b*. Its matrix maps points given in *a*
into *b* (b_T_a). A Pose is a value: its attributes are read-only; make a new one to
change it.

Parameters
----------
position : array_like, shape (3,), default (0, 0, 0)
    Origin of the described frame in the reference frame.
orientation : array_like, shape (4,), default (0, 0, 0, 1)
    Rotation as a quaternion (x, y, z, w), expected to be of unit length (see
    ``normalized``).
timestamp : int, default 0
    Time in the frame graph's unit; 0 when the pose is not time-stamped.

See Also
--------
Pose.from_matrix, Pose.from_ypr, TransformManager.lookup

Examples
--------
>>> mount = zelvane.Pose.from_ypr([1.8, 0.2, 1.5], [0, 5, 0], convention="extrinsic",
...                               degrees=True)
>>> mount.apply([10.0, 0.0, 0.0])   # a point 10 m ahead of the sensor, in the body
)doc";

// __init__, from_matrix and from_ypr.
void definePoseConstruction(py::class_<Pose>& cls) {
  cls.def(py::init([](const py::handle& position, const py::handle& orientation,
                      std::int64_t timestamp) {
            Pose pose;
            pose.position = vector<3>(position, "position");
            pose.orientation = quaternionFromRow(vector<4>(orientation, "orientation").data());
            pose.timestamp = timestamp;
            return pose;
          }),
          py::arg("position") = py::make_tuple(0, 0, 0),
          py::arg("orientation") = py::make_tuple(0, 0, 0, 1), py::arg("timestamp") = 0,
          "__init__(self, position=(0, 0, 0), orientation=(0, 0, 0, 1), timestamp=0)\n--\n\n"
          "A pose; see the class documentation.")
      .def_static(
          "from_matrix",
          [](const py::handle& transform, std::int64_t timestamp) {
            return poseFromMatrix(matrix<4, 4>(transform, "matrix"), timestamp);
          },
          py::arg("matrix"), py::arg("timestamp") = 0,
          R"doc(from_matrix(matrix, timestamp=0)
--

The pose whose transform is a 4x4 rigid matrix.

Parameters
----------
matrix : array_like, shape (4, 4)
    [R, t; 0 0 0 1] with R a rotation.
timestamp : int, default 0

Returns
-------
Pose
    Position t and the unit quaternion of R.

Raises
------
ValueError
    For another shape, or a matrix that is not rigid (bottom row not (0, 0, 0, 1),
    R not orthonormal within 1e-4, or a reflection).
)doc")
      .def_static(
          "from_ypr",
          [](const py::handle& position, const py::handle& ypr, const std::string& convention,
             bool degrees, std::int64_t timestamp) {
            const bool intrinsic = isIntrinsic(convention);
            const Eigen::Vector3f angles = yprArgument(vector<3>(ypr, "ypr").data(), degrees);
            Pose pose;
            pose.position = vector<3>(position, "position");
            pose.orientation = intrinsic ? rotationIntrinsicYPRToQuaternion(angles)
                                         : rotationExtrinsicYPRToQuaternion(angles);
            pose.timestamp = timestamp;
            return pose;
          },
          py::arg("position"), py::arg("ypr"), py::kw_only(), py::arg("convention"),
          py::arg("degrees") = false, py::arg("timestamp") = 0,
          R"doc(from_ypr(position, ypr, *, convention, degrees=False, timestamp=0)
--

The pose at a position with yaw/pitch/roll angles.

Parameters
----------
position : array_like, shape (3,)
ypr : array_like, shape (3,)
    (yaw, pitch, roll) in radians, or degrees with ``degrees=True``.
convention : {"intrinsic", "extrinsic"}
    Settings files store extrinsic angles.
degrees : bool, default False
timestamp : int, default 0
)doc");
}

// position, orientation, timestamp, as_ypr, normalized and the texts.
void definePoseValues(py::class_<Pose>& cls) {
  cls.def_property_readonly(
         "position", [](const Pose& pose) { return toArray(pose.position); },
         "numpy.ndarray, float32, shape (3,): origin of the described frame in the reference "
         "frame (read-only).")
      .def_property_readonly(
          "orientation", [](const Pose& pose) { return toArray(quaternionRow(pose.orientation)); },
          "numpy.ndarray, float32, shape (4,): rotation as a quaternion (x, y, z, w) "
          "(read-only).")
      .def_property_readonly(
          "timestamp", [](const Pose& pose) { return pose.timestamp; },
          "int: time in the frame graph's unit, 0 when not time-stamped.");
  cls.def(
         "as_ypr",
         [](const Pose& pose, const std::string& convention, bool degrees) {
           return toArray(yprOf(pose.orientation, isIntrinsic(convention), degrees));
         },
         py::kw_only(), py::arg("convention"), py::arg("degrees") = false,
         R"doc(as_ypr(self, *, convention, degrees=False)
--

Yaw/pitch/roll of the orientation (see ``ypr_from_quaternion``).

Parameters
----------
convention : {"intrinsic", "extrinsic"}
degrees : bool, default False

Returns
-------
numpy.ndarray, float32, shape (3,)
)doc")
      .def(
          "normalized",
          [](const Pose& pose) {
            Pose unit = pose;
            unit.orientation.normalize();
            return unit;
          },
          R"doc(normalized(self)
--

The same pose with its quaternion scaled to unit length (single precision).

Returns
-------
Pose
)doc");
  cls.def("__repr__",
          [](const Pose& pose) {
            return "Pose(position=" + listText(pose.position) +
                   ", orientation=" + listText(quaternionRow(pose.orientation)) +
                   ", timestamp=" + std::to_string(pose.timestamp) + ")";
          })
      .def("__str__", &poseSummary,
           "__str__(self)\n--\n\nThe timestamp, then the numbers that zelvane_frames prints for a "
           "lookup:\nposition, quaternion (x y z w), yaw/pitch/roll in degrees in both "
           "conventions "
           "and\nthe matrix, with six decimals.");
}

// as_matrix, as_inverse_matrix, inverse and apply.
void definePoseTransforms(py::class_<Pose>& cls) {
  cls.def(
         "as_matrix", [](const Pose& pose) { return toArray(pose.toTransform()); },
         R"doc(as_matrix(self)
--

The 4x4 transform [R, position; 0 0 0 1] (b_T_a).

It maps points given in the described frame into the reference frame. R is the
rotation matrix of ``orientation``, not normalised.

Returns
-------
numpy.ndarray, float32, shape (4, 4)
)doc")
      .def(
          "as_inverse_matrix", [](const Pose& pose) { return toArray(pose.toInverseTransform()); },
          R"doc(as_inverse_matrix(self)
--

The inverse transform [R^T, -R^T position; 0 0 0 1] (a_T_b), in closed form.

Returns
-------
numpy.ndarray, float32, shape (4, 4)
)doc")
      .def("inverse", &Pose::toInversePose,
           R"doc(inverse(self)
--

The pose of the reference frame in the described frame.

Same timestamp. The orientation is the rotation factor of R^T, so it is a proper
rotation even for a quaternion that is not of unit length; for a unit quaternion it
is the conjugate up to rounding.

Returns
-------
Pose
)doc");
  cls.def(
      "apply",
      [](const Pose& pose, const py::handle& points) {
        return applyTransform(pose.toTransform(), points);
      },
      py::arg("points"),
      R"doc(apply(self, points)
--

Maps points given in the described frame into the reference frame.

Parameters
----------
points : array_like, shape (3,) or (N, 3)

Returns
-------
numpy.ndarray, float32, shape (3,) or (N, 3)
    ``as_matrix() @ (x, y, z, 1)`` for every point, in single precision.
)doc");
}

}  // namespace

Pose poseFromMatrix(const Eigen::Matrix4f& matrix, std::int64_t timestamp) {
  // Loose enough for matrices composed in single precision by the caller, tight
  // enough that a scaled or sheared matrix is never taken for a rotation.
  constexpr float kRigidTolerance = 1e-4f;
  const Eigen::Matrix3f rotation = matrix.topLeftCorner<3, 3>();
  const bool rigid =
      matrix.allFinite() &&
      (matrix.row(3) - Eigen::RowVector4f(0, 0, 0, 1)).cwiseAbs().maxCoeff() <= kRigidTolerance &&
      (rotation.transpose() * rotation - Eigen::Matrix3f::Identity()).cwiseAbs().maxCoeff() <=
          kRigidTolerance &&
      rotation.determinant() > 0.0f;
  if (!rigid) {
    throw py::value_error(
        "matrix is not a rigid transform: expected finite [R, t; 0 0 0 1] with R a rotation "
        "(orthonormal within 1e-4, determinant +1)");
  }
  Pose pose;
  pose.position = matrix.topRightCorner<3, 1>();
  pose.orientation = Eigen::Quaternionf(rotation).normalized();
  pose.timestamp = timestamp;
  return pose;
}

Pose poseArgument(const py::handle& value, const char* name) {
  if (py::isinstance<Pose>(value)) return value.cast<Pose>();
  return poseFromMatrix(matrix<4, 4>(value, name), 0);
}

void bindPose(py::module_& m) {
  py::class_<Pose> cls(m, "Pose", kPoseDoc);
  definePoseConstruction(cls);
  definePoseTransforms(cls);
  definePoseValues(cls);
}

}  // namespace zelvane::python
