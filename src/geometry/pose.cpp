#include "geometry/pose.h"

#include <cmath>

#include <Eigen/SVD>

#include "numeric_policy.h"

namespace zelvane {

const float Pose::ROTATION_AMBIGUITY_LIMIT = numeric::ROTATION_AMBIGUITY_LIMIT;

namespace {

// Matrix round trip that fixes the sign of a quaternion: Eigen's trace method makes w
// positive whenever the trace is positive, else the component picked by the largest
// diagonal entry.
Eigen::Quaternionf normalisedThroughMatrix(const Eigen::Quaternionf& q) {
  Eigen::Quaternionf result(q.toRotationMatrix());
  result.normalize();
  return result;
}

Eigen::Quaternionf axisQuaternion(float angle, int axis) {
  const float half = angle / 2.0f;
  Eigen::Quaternionf q(std::cos(half), 0.0f, 0.0f, 0.0f);
  q.vec()[axis] = std::sin(half);
  return q;
}

struct SinCos {
  float cy, sy, cp, sp, cr, sr;
};

// Each sine and cosine in double from the single-precision angle, rounded to float.
SinCos sinCos(const Eigen::Vector3f& ypr) {
  auto c = [](float a) { return static_cast<float>(std::cos(static_cast<double>(a))); };
  auto s = [](float a) { return static_cast<float>(std::sin(static_cast<double>(a))); };
  return SinCos{c(ypr[0]), s(ypr[0]), c(ypr[1]), s(ypr[1]), c(ypr[2]), s(ypr[2])};
}

Eigen::Matrix3f extrinsicMatrix(const Eigen::Vector3f& ypr) {
  const SinCos t = sinCos(ypr);
  Eigen::Matrix3f r;
  r << t.cp * t.cy, -t.cp * t.sy, t.sp, t.cr * t.sy + t.sr * t.sp * t.cy,
      t.cr * t.cy - t.sr * t.sp * t.sy, -t.sr * t.cp, t.sr * t.sy - t.cr * t.sp * t.cy,
      t.sr * t.cy + t.cr * t.sp * t.sy, t.cr * t.cp;
  return r;
}

Eigen::Matrix3f intrinsicMatrix(const Eigen::Vector3f& ypr) {
  const SinCos t = sinCos(ypr);
  Eigen::Matrix3f r;
  r << t.cy * t.cp, t.cy * t.sp * t.sr - t.sy * t.cr, t.cy * t.sp * t.cr + t.sy * t.sr, t.sy * t.cp,
      t.sy * t.sp * t.sr + t.cy * t.cr, t.sy * t.sp * t.cr - t.cy * t.sr, -t.sp, t.cp * t.sr,
      t.cp * t.cr;
  return r;
}

Eigen::Matrix4f transformOf(const Eigen::Matrix3f& rotation, const Eigen::Vector3f& translation) {
  Eigen::Matrix4f t = Eigen::Matrix4f::Identity();
  t.topLeftCorner<3, 3>() = rotation;
  t.topRightCorner<3, 1>() = translation;
  return t;
}

Eigen::Matrix4f inverseTransformOf(const Eigen::Matrix3f& rotation,
                                   const Eigen::Vector3f& translation) {
  Eigen::Matrix4f t = Eigen::Matrix4f::Identity();
  t.topLeftCorner<3, 3>() = rotation.transpose();
  t.topRightCorner<3, 1>() = -(rotation.transpose() * translation);
  return t;
}

// The rotation factor of `a` by polar decomposition: a = U S V^T, rotation U diag(1,1,d) V^T
// with d making the determinant +1.
Eigen::Matrix3f polarRotation(const Eigen::Matrix3f& a) {
  const Eigen::JacobiSVD<Eigen::Matrix3f> svd(a, Eigen::ComputeFullU | Eigen::ComputeFullV);
  const Eigen::Matrix3f& u = svd.matrixU();
  const Eigen::Matrix3f& v = svd.matrixV();
  const float d = (u * v.transpose()).determinant() < 0.0f ? -1.0f : 1.0f;
  return u * Eigen::Vector3f(1.0f, 1.0f, d).asDiagonal() * v.transpose();
}

}  // namespace

// --- Pose --------------------------------------------------------------------

Eigen::Matrix4f Pose::toTransform() const {
  return transformOf(orientation.toRotationMatrix(), position);
}

Eigen::Matrix4f Pose::toInverseTransform() const {
  return inverseTransformOf(orientation.toRotationMatrix(), position);
}

Pose Pose::toInversePose() const {
  const Eigen::Matrix3f rotation = orientation.toRotationMatrix();
  const Eigen::Matrix3f transposed = rotation.transpose();

  Pose inverse;
  inverse.position = -(transposed * position);
  const bool unit = std::abs(orientation.squaredNorm() - 1.0f) <= numeric::UNIT_NORM_TOLERANCE;
  inverse.orientation = Eigen::Quaternionf(unit ? transposed : polarRotation(transposed));
  inverse.timestamp = timestamp;
  return inverse;
}

Eigen::Vector3f Pose::toRotationIntrinsicYPR() const {
  return quaternionToRotationIntrinsicYPR(orientation);
}

Eigen::Vector3f Pose::toRotationExtrinsicYPR() const {
  return quaternionToRotationExtrinsicYPR(orientation);
}

// --- Rotation conventions ------------------------------------------------------

Eigen::Quaternionf rotationIntrinsicYPRToQuaternion(const Eigen::Vector3f& ypr) {
  return normalisedThroughMatrix(axisQuaternion(ypr[0], 2) * axisQuaternion(ypr[1], 1) *
                                 axisQuaternion(ypr[2], 0));
}

Eigen::Quaternionf rotationExtrinsicYPRToQuaternion(const Eigen::Vector3f& ypr) {
  return normalisedThroughMatrix(axisQuaternion(ypr[2], 0) * axisQuaternion(ypr[1], 1) *
                                 axisQuaternion(ypr[0], 2));
}

Eigen::Vector3f quaternionToRotationExtrinsicYPR(Eigen::Quaternionf q) {
  const Eigen::Matrix3f r = q.toRotationMatrix();
  const float c = std::sqrt(r(1, 2) * r(1, 2) + r(2, 2) * r(2, 2));
  const float pitch = std::atan2(r(0, 2), c);
  if (c > Pose::ROTATION_AMBIGUITY_LIMIT) {
    return Eigen::Vector3f(std::atan2(-r(0, 1), r(0, 0)), pitch, std::atan2(-r(1, 2), r(2, 2)));
  }
  // Yaw and roll turn about the same axis here: roll carries all of it.
  return Eigen::Vector3f(0.0f, pitch, std::atan2(r(2, 1), r(1, 1)));
}

Eigen::Vector3f quaternionToRotationIntrinsicYPR(Eigen::Quaternionf q) {
  // The transpose of Rz(y) Ry(p) Rx(r) is Rx(-r) Ry(-p) Rz(-y): the extrinsic angles
  // of the inverse, negated.
  const Eigen::Vector3f inverse = quaternionToRotationExtrinsicYPR(q.inverse().normalized());
  return -inverse;
}

// --- Transforms --------------------------------------------------------------

Eigen::Matrix4f poseToTransform(const Pose& pose) { return pose.toTransform(); }

Eigen::Matrix4f poseToInverseTransform(const Pose& pose) { return pose.toInverseTransform(); }

Eigen::Affine3f poseToAffine3f(const Pose& pose) {
  Eigen::Affine3f affine;
  affine.matrix() = pose.toTransform();
  return affine;
}

Eigen::Vector3f poseToRotationIntrinsicYPR(const Pose& pose) {
  return pose.toRotationIntrinsicYPR();
}

Eigen::Vector3f poseToRotationExtrinsicYPR(const Pose& pose) {
  return pose.toRotationExtrinsicYPR();
}

Eigen::Matrix4f toTransformFromExtrinsicYPR(const Eigen::Vector3f& translation,
                                            const Eigen::Vector3f& ypr) {
  return transformOf(extrinsicMatrix(ypr), translation);
}

Eigen::Matrix4f toInverseTransformFromExtrinsicYPR(const Eigen::Vector3f& translation,
                                                   const Eigen::Vector3f& ypr) {
  return inverseTransformOf(extrinsicMatrix(ypr), translation);
}

Eigen::Matrix4f toTransformFromIntrinsicYPR(const Eigen::Vector3f& translation,
                                            const Eigen::Vector3f& ypr) {
  return transformOf(intrinsicMatrix(ypr), translation);
}

Eigen::Matrix4f toInverseTransformFromIntrinsicYPR(const Eigen::Vector3f& translation,
                                                   const Eigen::Vector3f& ypr) {
  return inverseTransformOf(intrinsicMatrix(ypr), translation);
}

namespace {

// transform * (x, y, z, 1) row by row, in the order Eigen sums that product
// (((m0 x + m1 y) + m2 z) + m3, the last term times 1 being exact). Written with plain
// scalars on arrays that do not overlap, the compiler vectorises it across points.
template <class Output>
void mapEachPoint(const Eigen::Matrix4f& to_T_from, const float* points, std::size_t count,
                  Output placed) {
  const float m00 = to_T_from(0, 0), m01 = to_T_from(0, 1), m02 = to_T_from(0, 2);
  const float m03 = to_T_from(0, 3), m10 = to_T_from(1, 0), m11 = to_T_from(1, 1);
  const float m12 = to_T_from(1, 2), m13 = to_T_from(1, 3), m20 = to_T_from(2, 0);
  const float m21 = to_T_from(2, 1), m22 = to_T_from(2, 2), m23 = to_T_from(2, 3);
  for (std::size_t i = 0; i < 3 * count; i += 3) {
    const float x = points[i], y = points[i + 1], z = points[i + 2];
    placed[i] = m00 * x + m01 * y + m02 * z + m03;
    placed[i + 1] = m10 * x + m11 * y + m12 * z + m13;
    placed[i + 2] = m20 * x + m21 * y + m22 * z + m23;
  }
}

}  // namespace

void mapPoints(const Eigen::Matrix4f& to_T_from, const float* points, std::size_t count,
               float* placed) {
  // Each point is read whole before it is written, so mapping in place is sound; only
  // arrays apart may be promised not to alias.
  if (placed == points) {
    mapEachPoint(to_T_from, points, count, placed);
  } else {
    mapEachPoint<float* __restrict>(to_T_from, points, count, placed);
  }
}

}  // namespace zelvane

float getYawFromQuaternion(float x, float y, float z, float w) {
  return zelvane::quaternionToRotationExtrinsicYPR(Eigen::Quaternionf(w, x, y, z))[0];
}
