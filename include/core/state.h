/// @file
/// `core::State`, the state record of a tracked object, and `core::StateValues`, its
/// flat mirror of twenty floats: footprint geometry, overlap, distance, tolerant
/// comparison and a text form.
///
/// Geometry is horizontal, in the x-y plane of the frame the state is expressed in.
/// The object's own axes: x along the heading (length), y to its left (width), z up.
/// A heading of 0 aligns the object's x axis with the frame's x axis; positive
/// headings turn counter-clockwise seen from above. Angles are radians; positions,
/// extents and distances share one length unit, which nothing here converts.
///
/// The footprint is the box seen from above: four corners (front-left, front-right,
/// rear-right, rear-left, clockwise), or the closed clockwise polygon of those corners
/// widened to double.
#pragma once

#include <iosfwd>
#include <vector>

#include <Eigen/Core>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>
#include <boost/optional.hpp>

#include <zelvane/core/dimensions.h>
#include <zelvane/core/gaussian.h>
#include <zelvane/tkit/cart.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace core {

/// Footprint polygon: clockwise, closed rings of double-precision points.
using FootprintPolygon =
    boost::geometry::model::polygon<boost::geometry::model::d2::point_xy<double>, true, true>;

/// One tracked object: where it is, how it moves, where it points and how large its
/// box is, each with its uncertainty and each possibly absent. A default state has
/// every member absent. Plain value; nothing is cached, every operation derives its
/// result from the current members.
struct ZELVANE_CORE_API State {
  /// Position of the tracked point (x, y, z), with covariance.
  boost::optional<Gaussian<float, 3>> position;
  /// Velocity (x, y, z), with covariance.
  boost::optional<Gaussian<float, 3>> velocity;
  /// Acceleration (x, y, z), with covariance.
  boost::optional<Gaussian<float, 3>> acceleration;
  /// Yaw of the object's x axis in radians, counter-clockwise from the frame's x axis,
  /// with variance.
  boost::optional<Gaussian<float, 1>> heading;
  /// Rate of change of the heading, with variance.
  boost::optional<Gaussian<float, 1>> headingRate;
  /// Box extents and anchor, in the object's own axes.
  boost::optional<Dimensions<float, frames::Trackable>> dimensions;

  /// A box-shaped state in one call: the tracked point at `position` with
  /// `positionCovariance`, `heading` (radians, counter-clockwise from the frame's x axis)
  /// with `headingVariance`, and the box `length` (along the heading) x `width` x
  /// `height` with `anchor`, the offset from the box centre to the tracked point in the
  /// object's own axes ((0, 0, 0): the position is the box centre). Velocity,
  /// acceleration and heading rate stay absent. Nothing is validated.
  ///
  ///     const State car = State::box({12.0f, -3.5f, 0.8f}, 0.1f, 4.5f, 1.8f, 1.5f);
  static State box(const Eigen::Vector3f& position, float heading, float length, float width,
                   float height, const tkit::Cart<float, frames::Trackable>& anchor = {},
                   const Eigen::Matrix3f& positionCovariance = Eigen::Matrix3f::Zero(),
                   float headingVariance = 0.0f);

  /// The horizontal projection of `value`: mean (x, y) and the upper-left 2x2 block of
  /// the covariance, nothing renormalised. Absent in, absent out. Reads nothing of
  /// `this`.
  boost::optional<Gaussian<float, 2>> convertTo2D(
      const boost::optional<Gaussian<float, 3>>& value) const;
  /// `convertTo2D(position)`.
  boost::optional<Gaussian<float, 2>> position2D() const;
  /// `convertTo2D(velocity)`.
  boost::optional<Gaussian<float, 2>> velocity2D() const;
  /// `convertTo2D(acceleration)`.
  boost::optional<Gaussian<float, 2>> acceleration2D() const;

  /// Rotation by the heading, rows (cos h, -sin h) and (sin h, cos h), with sine and
  /// cosine evaluated together in single precision. Identity when `heading` is absent.
  Eigen::Matrix<float, 2, 2> rotationMatrix() const;
  /// Horizontal box centre: position minus the anchor turned by the heading (zero
  /// anchor without `dimensions`). (NaN, NaN) when `position` is absent.
  Eigen::Matrix<float, 2, 1> centroid2D() const;
  /// Box centre in three dimensions: x and y of `centroid2D`, z the position's z minus
  /// the anchor's z (not rotated: the heading turns about the vertical only).
  /// (NaN, NaN, NaN) when `position` is absent.
  Eigen::Vector3f centroid() const;
  /// The four footprint corners: front-left, front-right, rear-right, rear-left
  /// (clockwise). Without `dimensions` all four equal the position; without `position`
  /// they are NaN. One allocation.
  std::vector<Eigen::Matrix<float, 2, 1>> getCorners2D() const;
  /// The footprint as a polygon: the four corners of `getCorners2D` and the first once
  /// more, widened to double. No orientation correction or validity check: exactly one
  /// negative extent makes the ring counter-clockwise.
  FootprintPolygon getBoostPolygon() const;

  /// Direction of travel: atan2(velocity y, velocity x) in [-pi, pi]; 0 when `velocity`
  /// is absent.
  float velocityHeading() const;
  /// This heading minus `other`'s, wrapped into [-pi, pi) (the wrap done in double, so
  /// equal headings give about 8.7e-8, not 0). NaN when either heading is absent.
  float relativeHeading(const State& other) const;

  /// Intersection over union of the two footprints, in [0, 1]: the area common to both
  /// over the area of their union, for the quadrilaterals of the float corners widened
  /// to double. One footprint is clipped by the other's four half-planes in double
  /// precision, relative to one of its corners; the result agrees with exact arithmetic
  /// on the same corners within 1e-12 (worse only for boxes thinner than about 1e-4
  /// of their length lying nearly along each other: the error grows with length over
  /// width times 2^-52). Either corner order is accepted, so a mirrored footprint
  /// (one negative extent) overlaps as the same rectangle. No limit on the span or the
  /// place of the footprints other than the float range of their corners.
  ///
  /// 0 when the union's area is at most 2^-52 (e.g. a state without `dimensions`, or
  /// boxes smaller than about 1.5e-8 across). NaN when either state has no position or
  /// a footprint corner is not finite (NaN or infinite inputs, or corners beyond the
  /// float range).
  ///
  /// Cost: pairs whose footprints are apart or only touch (bounding squares without
  /// trigonometry, then bounding boxes) return in a few nanoseconds; overlapping pairs
  /// cost one clip of at most eight vertices. Allocates nothing and never throws. For
  /// many pairs at once see `core/footprint_pairs.h`.
  double overlap(const State& other) const;
  /// Generalised intersection over union of the two footprints, in [-1, 1]: `overlap`
  /// minus the share of the convex hull of both footprints that neither covers,
  /// (hull area - union area) / hull area. It equals `overlap` where one footprint
  /// holds the other's hull, is at most 0 for footprints apart, and falls towards -1
  /// as they move apart, so that it ranks pairs that do not overlap. The hull is taken
  /// on the same float corners widened to double, its area as a fan of triangles with
  /// each cross product rounded once; the result agrees with exact arithmetic on the
  /// same corners within 1e-12 wherever `overlap` does.
  ///
  /// -1 when the union's area is at most 2^-52 (e.g. both states without
  /// `dimensions`): footprints without area share nothing, and no threshold above -1
  /// takes them. A footprint without area inside or beside one with area is measured
  /// as any other (0 inside it). NaN as for `overlap`: either state without a
  /// position, or a footprint corner not finite.
  ///
  /// Cost: one `overlap` and the hull of eight points; no early exit for footprints
  /// apart (the hull is needed). Allocates nothing and never throws.
  double generalizedOverlap(const State& other) const;
  /// Intersection over union of the two boxes in three dimensions: the footprints'
  /// intersection area times the common part of the vertical extents, over the union
  /// of the two volumes (area x height each, less the common volume), in [0, 1]. The
  /// vertical extent of a box is its height centred on the z of `centroid()` (the
  /// position's z less the anchor's z); a negative height spans as a positive one, as
  /// a negative length or width mirrors the footprint. The footprint areas come from
  /// the same clip as `overlap`, the heights are offset from this box's centre, and the
  /// result agrees with exact arithmetic on the float corners, centres and heights
  /// within 1e-12 wherever `overlap` does.
  ///
  /// 0 when the union of the footprints has at most 2^-52 area (as for `overlap`), when
  /// the volumes' union is 0 (both heights 0), or when the boxes share no volume (one
  /// height 0 included). NaN as for `overlap`, and also when the centre's z or the
  /// height is not finite. Cost: one `overlap`, with the same early exits. Allocates
  /// nothing and never throws.
  double overlap3d(const State& other) const;
  /// Smallest distance from a corner of either footprint to the other footprint (0
  /// when a corner lies in or on the other). Only corners are tested, so two boxes that
  /// cross without a corner inside the other give a positive result. Symmetric. NaN
  /// when either state has no position or a footprint coordinate is not finite.
  /// Ten point-to-polygon queries; allocates nothing.
  double distance(const State& other) const;
  /// Distance between the two box centres seen from above: the Euclidean distance of
  /// the `centroid2D()` of both, the float coordinates widened to double and the
  /// distance computed in double (a few units of the last place of the exact value on
  /// the float centres). It grows steadily as two boxes move apart, which is what a
  /// tracker's gate wants; `distance` does not: it is 0 once a corner of either box
  /// lies in the other, whatever the offset, and positive for two boxes that overlap
  /// almost wholly without that (the same box turned a little about its centre).
  /// Symmetric. NaN when either state has no position or a centre coordinate is not
  /// finite. Allocates nothing.
  double centroidDistance(const State& other) const;
  /// Distance between the two box centres in three dimensions: as `centroidDistance`,
  /// on `centroid()` (the z of each centre is the position's z less the anchor's z).
  /// NaN when either state has no position or a centre coordinate is not finite.
  /// Allocates nothing.
  double centroidDistance3d(const State& other) const;
  /// Squared three-dimensional distance of the two position means, in single
  /// precision. NaN when either state has no position. Allocates nothing.
  static float getSquaredDistance(const State& a, const State& b);
};

/// The flat mirror of a `State`: twenty floats, no presence flags, no covariances.
/// The centroid slots are a copy of the box centre made when the record was filled;
/// the geometry below does not read them but recomputes the centre from the position,
/// anchor and heading slots.
struct ZELVANE_CORE_API StateValues {
  /// Stores the twenty values unchanged, in slot order. The centroid is not checked
  /// against the position, anchor and heading.
  StateValues(float positionX, float positionY, float positionZ, float velocityX, float velocityY,
              float velocityZ, float accelerationX, float accelerationY, float accelerationZ,
              float centroidX, float centroidY, float centroidZ, float length, float width,
              float height, float anchorX, float anchorY, float anchorZ, float heading,
              float headingRate);
  /// The mirror of `state`: the means of position, velocity and acceleration,
  /// `state.centroid()`, the extents and anchor, the heading and heading-rate means.
  /// Slots of an absent member are 0, except that an absent position gives NaN
  /// centroid slots.
  StateValues(const State& state);
  /// Reads `state` exactly as the copying form and leaves it unchanged.
  StateValues(State&& state);
  /// Overwrites all twenty slots with the mirror of `state` (as the constructor).
  StateValues& operator=(const State& state);

  /// Rotation by slot `heading`, rows (cos h, -sin h) and (sin h, cos h), sine and
  /// cosine each evaluated on its own in single precision.
  Eigen::Matrix<float, 2, 2> rotationMatrix() const;
  /// Horizontal box centre from the position, anchor and heading slots (the stored
  /// centroid slots are not read).
  Eigen::Matrix<float, 2, 1> centroid2D() const;
  /// The four footprint corners, as for `State::getCorners2D`. One allocation.
  std::vector<Eigen::Matrix<float, 2, 1>> getCorners2D() const;
  /// The footprint polygon, as for `State::getBoostPolygon`.
  FootprintPolygon getBoostPolygon() const;

  /// Slot-by-slot `approximatelyEqual` over all twenty slots, centroid included.
  bool operator==(const StateValues& other) const;
  /// False when any member of `state` is absent; otherwise `approximatelyEqual` of
  /// every slot with the state's value, the centroid slots against
  /// `state.centroid()`. Covariances take no part.
  bool operator==(const State& state) const;

  float positionX;
  float positionY;
  float positionZ;
  float velocityX;
  float velocityY;
  float velocityZ;
  float accelerationX;
  float accelerationY;
  float accelerationZ;
  float centroidX;
  float centroidY;
  float centroidZ;
  float length;
  float width;
  float height;
  float anchorX;
  float anchorY;
  float anchorZ;
  float heading;
  float headingRate;
};

/// Tolerant float equality, in single precision: a == b, or |a - b| <= 2^-23, or
/// |a - b| <= max(|a|, |b|) * 2^-23 (the same relative tolerance on both sides of 0).
/// NaN is unequal to everything, itself included; an infinity equals only itself.
ZELVANE_CORE_API bool approximatelyEqual(float a, float b);

/// `values == state`, with the operands in the other order.
ZELVANE_CORE_API bool operator==(const State& state, const StateValues& values);

/// Two states have no equality: without this, `a == b` would convert `b` to
/// `StateValues` and compare through the overload above, which is false for any
/// state with an absent member (the conversion fills those with NaN). Compare the
/// members that matter, or both states' `StateValues`, instead.
bool operator==(const State& a, const State& b) = delete;

/// Writes the six-section text form of `state` (position, velocity, acceleration,
/// heading, heading rate, dimensions), each a title line and its body, or
/// "(not available)" for an absent member. Numbers use the stream's current
/// formatting; vectors and matrices Eigen's default format. Leaves the stream's
/// settings as they were; stream errors stay in the stream's state.
ZELVANE_CORE_API std::ostream& operator<<(std::ostream& stream, const State& state);

}  // namespace core
}  // namespace zelvane
