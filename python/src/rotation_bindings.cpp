// Rotation math on rows of angles and quaternions: the yaw/pitch/roll conversions
// vectorised over rows, and the transforms they give.
#include <string>

#include "arrays.h"
#include "bindings.h"
#include "rotations.h"

namespace zelvane::python {

Eigen::Vector4f quaternionRow(const Eigen::Quaternionf& q) { return {q.x(), q.y(), q.z(), q.w()}; }

Eigen::Quaternionf quaternionFromRow(const float* row) {
  return Eigen::Quaternionf(row[3], row[0], row[1], row[2]);
}

Eigen::Vector3f yprOf(const Eigen::Quaternionf& q, bool intrinsic, bool degrees) {
  Eigen::Vector3f ypr =
      intrinsic ? quaternionToRotationIntrinsicYPR(q) : quaternionToRotationExtrinsicYPR(q);
  if (degrees) ypr = ypr.unaryExpr(&degreesFromRadians);
  return ypr;
}

Eigen::Vector3f yprArgument(const float* row, bool degrees) {
  Eigen::Vector3f ypr(row[0], row[1], row[2]);
  return degrees ? Eigen::Vector3f(ypr.unaryExpr(&radiansFromDegrees)) : ypr;
}

namespace {

Eigen::Matrix4f transformFromYPR(const Eigen::Vector3f& translation, const Eigen::Vector3f& ypr,
                                 bool intrinsic, bool inverse) {
  if (intrinsic) {
    return inverse ? toInverseTransformFromIntrinsicYPR(translation, ypr)
                   : toTransformFromIntrinsicYPR(translation, ypr);
  }
  return inverse ? toInverseTransformFromExtrinsicYPR(translation, ypr)
                 : toTransformFromExtrinsicYPR(translation, ypr);
}

void writeMatrix(const Eigen::Matrix4f& matrix, float* out) {
  Eigen::Map<Eigen::Matrix<float, 4, 4, Eigen::RowMajor>> rows(out);
  rows = matrix;
}

// quaternion_from_ypr and ypr_from_quaternion.
void defineYprConversions(py::module_& m) {
  m.def(
      "quaternion_from_ypr",
      [](const py::handle& ypr, const std::string& convention, bool degrees) {
        const bool intrinsic = isIntrinsic(convention);
        const FloatRows rows = floatRows(ypr, "ypr", 3);
        py::array_t<float> result = newRows(rows.count, {4}, rows.single);
        float* out = result.mutable_data();
        py::gil_scoped_release release;
        for (py::ssize_t i = 0; i < rows.count; ++i) {
          const Eigen::Vector3f angles = yprArgument(rows.row(i), degrees);
          const Eigen::Quaternionf q = intrinsic ? rotationIntrinsicYPRToQuaternion(angles)
                                                 : rotationExtrinsicYPRToQuaternion(angles);
          Eigen::Map<Eigen::Vector4f>(out + 4 * i) = quaternionRow(q);
        }
        return result;
      },
      py::arg("ypr"), py::kw_only(), py::arg("convention"), py::arg("degrees") = false,
      R"doc(quaternion_from_ypr(ypr, *, convention, degrees=False)
--

Unit quaternions of yaw/pitch/roll angles.

Parameters
----------
ypr : array_like, shape (3,) or (N, 3)
    (yaw, pitch, roll) in radians, or degrees with ``degrees=True``.
convention : {"intrinsic", "extrinsic"}
    Intrinsic: R = Rz(yaw) Ry(pitch) Rx(roll). Extrinsic: R = Rx(roll) Ry(pitch) Rz(yaw).
degrees : bool, default False
    Angles in degrees, converted as the settings files' degrees are.

Returns
-------
numpy.ndarray, float32, shape (4,) or (N, 4)
    Quaternions (x, y, z, w). Their sign is fixed by a round trip through the
    rotation matrix: w > 0 whenever the rotation angle is below 120 degrees.

Raises
------
ValueError
    For a shape other than (3,) or (N, 3), a non-numeric array or an unknown
    convention.

Examples
--------
>>> zelvane.quaternion_from_ypr([0.0, 0.0, 0.0], convention="intrinsic")
array([0., 0., 0., 1.], dtype=float32)
)doc");

  m.def(
      "ypr_from_quaternion",
      [](const py::handle& quaternion, const std::string& convention, bool degrees) {
        const bool intrinsic = isIntrinsic(convention);
        const FloatRows rows = floatRows(quaternion, "quaternion", 4);
        py::array_t<float> result = newRows(rows.count, {3}, rows.single);
        float* out = result.mutable_data();
        py::gil_scoped_release release;
        for (py::ssize_t i = 0; i < rows.count; ++i) {
          Eigen::Map<Eigen::Vector3f>(out + 3 * i) =
              yprOf(quaternionFromRow(rows.row(i)), intrinsic, degrees);
        }
        return result;
      },
      py::arg("quaternion"), py::kw_only(), py::arg("convention"), py::arg("degrees") = false,
      R"doc(ypr_from_quaternion(quaternion, *, convention, degrees=False)
--

Yaw/pitch/roll angles of quaternions.

Parameters
----------
quaternion : array_like, shape (4,) or (N, 4)
    Quaternions (x, y, z, w). The intrinsic conversion normalises them first; the
    extrinsic one reads their rotation matrix as given, so pass unit quaternions.
convention : {"intrinsic", "extrinsic"}
    Intrinsic: R = Rz(yaw) Ry(pitch) Rx(roll). Extrinsic: R = Rx(roll) Ry(pitch) Rz(yaw).
degrees : bool, default False
    Return degrees instead of radians.

Returns
-------
numpy.ndarray, float32, shape (3,) or (N, 3)
    (yaw, pitch, roll): yaw and roll in [-pi, pi], pitch in [-pi/2, pi/2]. At pitch
    +-90 degrees yaw is 0 and roll carries the whole rotation about the vertical.

Raises
------
ValueError
    For a shape other than (4,) or (N, 4), a non-numeric array or an unknown
    convention.
)doc");
}

// extrinsic_yaw_from_quaternion and transform_from_ypr.
void defineYawAndTransforms(py::module_& m) {
  m.def(
      "extrinsic_yaw_from_quaternion",
      [](const py::handle& quaternion) -> py::object {
        const FloatRows rows = floatRows(quaternion, "quaternion", 4);
        if (rows.single) {
          const float* q = rows.row(0);
          return py::float_(getYawFromQuaternion(q[0], q[1], q[2], q[3]));
        }
        py::array_t<float> result(rows.count);
        float* out = result.mutable_data();
        {
          py::gil_scoped_release release;
          for (py::ssize_t i = 0; i < rows.count; ++i) {
            const float* q = rows.row(i);
            out[i] = getYawFromQuaternion(q[0], q[1], q[2], q[3]);
          }
        }
        return py::object(std::move(result));
      },
      py::arg("quaternion"),
      R"doc(extrinsic_yaw_from_quaternion(quaternion)
--

The extrinsic yaw of quaternions (the C function ``getYawFromQuaternion``).

Parameters
----------
quaternion : array_like, shape (4,) or (N, 4)
    Quaternions (x, y, z, w), not normalised.

Returns
-------
float or numpy.ndarray of float32, shape (N,)
    atan2(2(zw - xy), 1 - 2(y^2 + z^2)) in radians, 0 at pitch +-90 degrees. This is
    the *extrinsic* yaw: it equals the intrinsic yaw (a vehicle's heading) only for
    rotations about z alone. Use ``ypr_from_quaternion(q, convention="intrinsic")``
    for a heading.
)doc");

  m.def(
      "transform_from_ypr",
      [](const py::handle& translation, const py::handle& ypr, const std::string& convention,
         bool inverse, bool degrees) {
        const bool intrinsic = isIntrinsic(convention);
        const FloatRows t = floatRows(translation, "translation", 3);
        const FloatRows a = floatRows(ypr, "ypr", 3);
        if (!t.single && !a.single && t.count != a.count) {
          throw py::value_error("translation and ypr must have the same number of rows, not " +
                                std::to_string(t.count) + " and " + std::to_string(a.count));
        }
        const py::ssize_t count = t.single ? a.count : t.count;
        py::array_t<float> result = newRows(count, {4, 4}, t.single && a.single);
        float* out = result.mutable_data();
        py::gil_scoped_release release;
        for (py::ssize_t i = 0; i < count; ++i) {
          const float* tr = t.row(t.single ? 0 : i);
          const Eigen::Vector3f angles = yprArgument(a.row(a.single ? 0 : i), degrees);
          writeMatrix(
              transformFromYPR(Eigen::Vector3f(tr[0], tr[1], tr[2]), angles, intrinsic, inverse),
              out + 16 * i);
        }
        return result;
      },
      py::arg("translation"), py::arg("ypr"), py::kw_only(), py::arg("convention"),
      py::arg("inverse") = false, py::arg("degrees") = false,
      R"doc(transform_from_ypr(translation, ypr, *, convention, inverse=False, degrees=False)
--

4x4 rigid transforms from translations and yaw/pitch/roll angles.

Parameters
----------
translation : array_like, shape (3,) or (N, 3)
ypr : array_like, shape (3,) or (N, 3)
    (yaw, pitch, roll) in radians, or degrees with ``degrees=True``. One row of either
    argument is used with every row of the other.
convention : {"intrinsic", "extrinsic"}
inverse : bool, default False
    Return [R^T, -R^T t; 0 0 0 1] instead of [R, t; 0 0 0 1].
degrees : bool, default False

Returns
-------
numpy.ndarray, float32, shape (4, 4) or (N, 4, 4)
    Matrices acting on column vectors (x, y, z, 1).
)doc");
}

}  // namespace

bool isIntrinsic(const std::string& convention) {
  if (convention == "intrinsic") return true;
  if (convention == "extrinsic") return false;
  throw py::value_error("convention must be \"intrinsic\" or \"extrinsic\", not \"" + convention +
                        "\"");
}

void bindRotations(py::module_& m) {
  defineYprConversions(m);
  defineYawAndTransforms(m);
}

}  // namespace zelvane::python
