// Rows of angles and quaternions read and written by the rotation and pose bindings.
#pragma once

#include <Eigen/Geometry>

namespace zelvane::python {

/// A quaternion as the row (x, y, z, w) that Python sees.
Eigen::Vector4f quaternionRow(const Eigen::Quaternionf& q);

/// The quaternion of a row (x, y, z, w).
Eigen::Quaternionf quaternionFromRow(const float* row);

/// (yaw, pitch, roll) of `q` in the intrinsic or extrinsic convention, in degrees
/// when `degrees`, else radians.
Eigen::Vector3f yprOf(const Eigen::Quaternionf& q, bool intrinsic, bool degrees);

/// (yaw, pitch, roll) in radians from a row given in degrees when `degrees`.
Eigen::Vector3f yprArgument(const float* row, bool degrees);

}  // namespace zelvane::python
