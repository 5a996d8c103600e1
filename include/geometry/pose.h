/// @file
/// Poses and rotations: yaw/pitch/roll in two conventions, quaternions, 4x4 rigid
/// transforms, inverse poses, and poses in the settings store.
///
/// Conventions used throughout:
/// - A yaw/pitch/roll triple is an `Eigen::Vector3f` (yaw, pitch, roll) in radians:
///   yaw about z, pitch about y, roll about x. The element order is the same in both
///   conventions; only the order of composition differs.
/// - Intrinsic: R = Rz(yaw) * Ry(pitch) * Rx(roll) (turn about z, then the new y,
///   then the newest x).
/// - Extrinsic: R = Rx(roll) * Ry(pitch) * Rz(yaw) (turn about the fixed z, then the
///   fixed y, then the fixed x).
/// - Quaternions are `Eigen::Quaternionf` (coefficients x, y, z, then w). Their
///   rotation matrix is formed with the unit-quaternion formula without normalising.
/// - Matrices act on column vectors. The transform of a pose of frame `a` in frame
///   `b` (written b_T_a) maps points given in `a` into `b`.
///
/// Nothing here fails or throws; non-finite inputs propagate into the results.
#pragma once

#include <cstddef>
#include <cstdint>

#include <Eigen/Core>
#include <Eigen/Geometry>

#include <zelvane/zelvane_core_export.h>

namespace zelvane {

class SettingsManager;

/// Where one frame lies in another: the pose of the described frame in the
/// reference frame, at a time.
struct ZELVANE_CORE_API Pose {
  EIGEN_MAKE_ALIGNED_OPERATOR_NEW

  /// When |cos(pitch)| is at or below this limit (pitch within about 0.0057 degrees
  /// of +-90 degrees) yaw and roll are no longer told apart.
  static const float ROTATION_AMBIGUITY_LIMIT;

  /// Origin of the described frame, expressed in the reference frame.
  Eigen::Vector3f position = Eigen::Vector3f::Zero();
  /// Rotation of the described frame relative to the reference frame; expected to be
  /// of unit length.
  Eigen::Quaternionf orientation = Eigen::Quaternionf::Identity();
  /// Time the pose belongs to, in the time unit of the frame graph; 0 when the pose is
  /// not time-stamped.
  std::int64_t timestamp = 0;

  /// The 4x4 transform [R, position; 0 0 0 1], R the rotation matrix of `orientation`
  /// (not normalised): it maps points of the described frame into the reference frame.
  Eigen::Matrix4f toTransform() const;
  /// [R^T, -R^T * position; 0 0 0 1], in closed form.
  Eigen::Matrix4f toInverseTransform() const;
  /// The pose of the reference frame in the described frame, with the same timestamp.
  /// Its orientation is the rotation factor of R^T (polar decomposition), so it is a
  /// proper rotation even when `orientation` is not of unit length; for a unit
  /// orientation it equals the conjugate up to rounding, with w >= 0 whenever the
  /// trace of R is positive.
  Pose toInversePose() const;
  /// Intrinsic yaw/pitch/roll of `orientation` (see quaternionToRotationIntrinsicYPR).
  Eigen::Vector3f toRotationIntrinsicYPR() const;
  /// Extrinsic yaw/pitch/roll of `orientation` (see quaternionToRotationExtrinsicYPR).
  Eigen::Vector3f toRotationExtrinsicYPR() const;
};

/// The unit quaternion of intrinsic yaw/pitch/roll (radians). Its sign is fixed by a
/// round trip through the rotation matrix: w > 0 whenever the rotation angle is below
/// 120 degrees.
ZELVANE_CORE_API Eigen::Quaternionf rotationIntrinsicYPRToQuaternion(const Eigen::Vector3f& ypr);
/// The unit quaternion of extrinsic yaw/pitch/roll (radians), sign fixed as above.
ZELVANE_CORE_API Eigen::Quaternionf rotationExtrinsicYPRToQuaternion(const Eigen::Vector3f& ypr);

/// Intrinsic yaw/pitch/roll (radians) of a quaternion, which is normalised first.
/// Yaw and roll lie in [-pi, pi], pitch in [-pi/2, pi/2]. At pitch +-90 degrees
/// (within `Pose::ROTATION_AMBIGUITY_LIMIT`) yaw is -0 and roll carries the rotation
/// about the vertical.
ZELVANE_CORE_API Eigen::Vector3f quaternionToRotationIntrinsicYPR(Eigen::Quaternionf q);
/// Extrinsic yaw/pitch/roll (radians) of a quaternion, read from its rotation matrix
/// as given (not normalised). Ranges as above; at pitch +-90 degrees yaw is 0 and roll
/// carries the rotation about the vertical, as it does when the matrix is not a number.
ZELVANE_CORE_API Eigen::Vector3f quaternionToRotationExtrinsicYPR(Eigen::Quaternionf q);

ZELVANE_CORE_API Eigen::Matrix4f poseToTransform(const Pose& pose);
ZELVANE_CORE_API Eigen::Matrix4f poseToInverseTransform(const Pose& pose);
/// The affine transform whose 4x4 matrix equals `pose.toTransform()`.
ZELVANE_CORE_API Eigen::Affine3f poseToAffine3f(const Pose& pose);
ZELVANE_CORE_API Eigen::Vector3f poseToRotationIntrinsicYPR(const Pose& pose);
ZELVANE_CORE_API Eigen::Vector3f poseToRotationExtrinsicYPR(const Pose& pose);

/// [R_ext(ypr), translation; 0 0 0 1]; ypr in radians.
ZELVANE_CORE_API Eigen::Matrix4f toTransformFromExtrinsicYPR(const Eigen::Vector3f& translation,
                                                             const Eigen::Vector3f& ypr);
/// [R_ext(ypr)^T, -R_ext(ypr)^T * translation; 0 0 0 1]; ypr in radians.
ZELVANE_CORE_API Eigen::Matrix4f toInverseTransformFromExtrinsicYPR(
    const Eigen::Vector3f& translation, const Eigen::Vector3f& ypr);
/// [R_int(ypr), translation; 0 0 0 1]; ypr in radians.
ZELVANE_CORE_API Eigen::Matrix4f toTransformFromIntrinsicYPR(const Eigen::Vector3f& translation,
                                                             const Eigen::Vector3f& ypr);
/// [R_int(ypr)^T, -R_int(ypr)^T * translation; 0 0 0 1]; ypr in radians.
ZELVANE_CORE_API Eigen::Matrix4f toInverseTransformFromIntrinsicYPR(
    const Eigen::Vector3f& translation, const Eigen::Vector3f& ypr);

/// The orientation stored as extrinsic yaw/pitch/roll at the store's current node:
/// "yaw", "pitch", "roll" and "units" ("radians", exactly, means radians; any other
/// text means degrees). Throws the store's `ptree_bad_path` for a missing key and
/// `ptree_bad_data` for a value that is not a number.
ZELVANE_CORE_API Eigen::Quaternionf getQuaternionFromYPR(const SettingsManager& settings);

/// The pose stored at the store's current node: "Position", "orientationMethod"
/// ("quaternion" or "eulerypr", any letter case; any other text gives the identity
/// orientation), "Quaternion" or "EulerYPR". The timestamp is 0. The caller's current
/// path is unchanged afterwards, also when it throws; store errors propagate.
ZELVANE_CORE_API Pose getPose(const SettingsManager& settings);

/// Writes `pose` at the store's current node: "Position", "orientationMethod"
/// "quaternion", the normalised quaternion (sign fixed by the matrix round trip) and
/// the extrinsic yaw/pitch/roll in radians. The timestamp is not stored. The current
/// path is the same on return.
ZELVANE_CORE_API void setPose(SettingsManager& settings, Pose pose);

/// Maps `count` points (x, y, z one after the other) given in `from` into `to` through
/// `to_T_from` (`Pose::toTransform` of the pose of `from` in `to`), into `placed`: each
/// point bit for bit as Eigen's product of the matrix with (x, y, z, 1). `placed` may be
/// `points` (mapped in place) but must not overlap it otherwise. 9 multiplications a
/// point; allocates nothing.
ZELVANE_CORE_API void mapPoints(const Eigen::Matrix4f& to_T_from, const float* points,
                                std::size_t count, float* placed);

}  // namespace zelvane

extern "C" {
/// Extrinsic yaw (radians) of the quaternion with coefficients x, y, z, w (scalar
/// last), not normalised: atan2(2(zw - xy), 1 - 2(y^2 + z^2)), or 0 at pitch +-90
/// degrees. Not the intrinsic yaw once pitch or roll is non-zero.
ZELVANE_CORE_API float getYawFromQuaternion(float x, float y, float z, float w);
}
