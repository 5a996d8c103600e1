/// @file
/// `LocalOrigin`: map-scale coordinates brought near zero, in double precision, before
/// they enter the frame graph's single precision, and placed points taken back.
///
/// Why: `Pose` holds its position in single precision, whose spacing grows with the
/// magnitude. A coordinate x with 2^e <= |x| < 2^(e+1) is stored to within half that
/// spacing, 2^(e-24): 7.8 mm up to 262,144, 1.6 cm from there to 524,288, 3.1 cm near
/// 690,000 (an easting of a projected map), 0.25 m near 5,330,000 (a northing). Points
/// placed through such a pose carry that error, and every product and sum of the
/// placement and of an interpolation rounds again at that scale, so placed points can
/// be off by a metre.
///
/// The remedy: one origin kept in double near the data (for example the first
/// navigation position), every map-scale pose and point shifted to it on the way in
/// (`toLocal`, one rounding of a small number), lookups and placements done in the
/// local frame (a few kilometres around the origin keep a fraction of a millimetre),
/// and placed points shifted back in double on the way out (`toMap`). Only a shift:
/// orientations and time stamps pass unchanged, so the local frame has the map's axes.
///
/// Nothing here fails or throws; non-finite inputs propagate into the results.
#pragma once

#include <cstddef>
#include <cstdint>

#include <Eigen/Core>
#include <Eigen/Geometry>

#include <zelvane/geometry/pose.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {

/// A shift between map coordinates (double) and a local frame near the data (float).
class ZELVANE_CORE_API LocalOrigin {
 public:
  /// The local frame whose origin lies at `origin`, in map coordinates.
  explicit LocalOrigin(const Eigen::Vector3d& origin = Eigen::Vector3d::Zero());

  /// The origin, in map coordinates.
  const Eigen::Vector3d& origin() const { return origin_; }

  /// A pose given in the map, with its `position` in map coordinates, as the pose in the
  /// local frame: position - origin formed in double and rounded to float once; the
  /// orientation and the timestamp unchanged.
  Pose toLocal(const Eigen::Vector3d& position, const Eigen::Quaternionf& orientation,
               std::int64_t timestamp = 0) const;

  /// A point in map coordinates as a point of the local frame: point - origin in
  /// double, rounded to float once.
  Eigen::Vector3f toLocal(const Eigen::Vector3d& point) const;

  /// A point of the local frame in map coordinates: origin + point, in double (exact
  /// up to one rounding of the sum).
  Eigen::Vector3d toMap(const Eigen::Vector3f& point) const;

  /// `toLocal` of `count` points stored x, y, z one after the other, into `local`
  /// (3 * count floats). O(count).
  void toLocal(const double* points, std::size_t count, float* local) const;

  /// `toMap` of `count` points stored x, y, z one after the other, into `map`
  /// (3 * count doubles). O(count).
  void toMap(const float* points, std::size_t count, double* map) const;

 private:
  Eigen::Vector3d origin_;
};

/// The largest error with which `value` (a coordinate) is stored in single precision:
/// half the spacing of floats at its magnitude, 2^(e-24) for 2^e <= |value| < 2^(e+1);
/// 0 for 0. For example 0.25 at 5,330,000.
ZELVANE_CORE_API double singlePrecisionError(double value);

/// True when a coordinate of `position` is large enough for its single-precision
/// storage to lose more than 1 cm (|x| of 262,144 or more, in metres): the positions
/// should be registered relative to a `LocalOrigin`.
ZELVANE_CORE_API bool needsLocalOrigin(const Eigen::Vector3f& position);

}  // namespace zelvane
