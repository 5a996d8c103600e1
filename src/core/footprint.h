/// @file
/// Footprint geometry on the stack, shared by `State`, `StateValues` and the batch
/// operations of `core/footprint_pairs.h`: the box centre, the four corners, the
/// polygon built from them, the cheap tests that let overlap answer 0 for footprints
/// that are apart, the intersection over union of two footprints, its generalised and
/// three-dimensional forms, and their corner distance. Everything here is internal to
/// the library.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

#include <Eigen/Core>

#include "core/state.h"
#include "numeric_policy.h"

namespace zelvane {
namespace core {
namespace detail {

/// Four footprint corners of either precision: front-left, front-right, rear-right,
/// rear-left.
template <class Scalar>
using CornersOf = std::array<Eigen::Matrix<Scalar, 2, 1>, 4>;

/// The four corners in single precision, as a `State` gives them.
using Corners = CornersOf<float>;

/// The four corners in double precision, for callers whose boxes are given in double
/// (the tracking evaluation reads them from text): the overlaps below take them as
/// they are, without a detour through float.
using CornersD = CornersOf<double>;

/// What a footprint's extent depends on, read before any trigonometry: the tracked
/// point, the anchor and the half extents, and the heading (0 without one).
struct FootprintInputs {
  float positionX;
  float positionY;
  float anchorX;
  float anchorY;
  float halfLength;
  float halfWidth;
  float heading;
};

/// The tracked point minus the anchor turned by `rotation`, in single precision.
Eigen::Matrix<float, 2, 1> boxCentre(const Eigen::Matrix<float, 2, 2>& rotation, float positionX,
                                     float positionY, float anchorX, float anchorY);

/// rotation * local + centre for the local corners (hl, hw), (hl, -hw), (-hl, -hw),
/// (-hl, hw), in single precision.
Corners boxCorners(const Eigen::Matrix<float, 2, 2>& rotation,
                   const Eigen::Matrix<float, 2, 1>& centre, float halfLength, float halfWidth);

/// Appends the corners widened to double and the first corner again to the outer ring.
void appendClosedRing(const Corners& corners, FootprintPolygon& polygon);

/// The corners of a state's footprint (NaN without a position), exactly as
/// `State::getCorners2D` gives them.
Corners cornersOf(const State& state);

/// True when every coordinate is finite.
bool allFinite(const Corners& corners);

/// Trig-free test: true when the squares around the two tracked points that surely
/// hold the footprints are apart. False whenever it cannot be sure, including for
/// non-finite inputs and corners that may overflow the float range. Inline: it is the
/// whole cost of most pairs a tracker asks about.
inline bool boundingSquaresApart(const FootprintInputs& a, const FootprintInputs& b) {
  // Every corner lies within |local - anchor| of the tracked point whatever the heading;
  // the L1 norm bounds that from above without a square root.
  const float reachA =
      std::abs(a.anchorX) + std::abs(a.anchorY) + std::abs(a.halfLength) + std::abs(a.halfWidth);
  const float reachB =
      std::abs(b.anchorX) + std::abs(b.anchorY) + std::abs(b.halfLength) + std::abs(b.halfWidth);
  // A sum, not a maximum: std::max would drop a NaN coordinate, and a pair apart along
  // x would then answer 0 for a footprint that has no place.
  const float farA = std::abs(a.positionX) + std::abs(a.positionY);
  const float farB = std::abs(b.positionX) + std::abs(b.positionY);
  const float halfA = reachA + numeric::CORNER_BOUND_SLACK * (reachA + farA);
  const float halfB = reachB + numeric::CORNER_BOUND_SLACK * (reachB + farB);
  // NaN and infinity propagate into the sum; an overflowing sum means corners that
  // may overflow, which the caller must see to report.
  const bool usable =
      std::isfinite((farA + halfA) + (farB + halfB)) && std::isfinite(a.heading - b.heading);
  const float reach = halfA + halfB;
  return usable && (std::abs(a.positionX - b.positionX) > reach ||
                    std::abs(a.positionY - b.positionY) > reach);
}

/// True when the axis-aligned bounding boxes of the corners are apart or only touch.
bool boundingBoxesApart(const Corners& a, const Corners& b);
bool boundingBoxesApart(const CornersD& a, const CornersD& b);

/// The vertical extent of a box: its centre's z (`State::centroid`) and half its
/// height (the magnitude: a negative height spans as a positive one, as a negative
/// length or width mirrors the footprint). A half height of 0 without `dimensions`.
struct VerticalExtent {
  double centre;
  double halfHeight;
};

/// The vertical extent of `state`, as `State::centroid` places the box centre.
VerticalExtent verticalExtentOf(const State& state);

/// The areas of two quadrilaterals and of their common part, from the same double
/// arithmetic as `intersectionOverUnion`: each area is the magnitude of the shoelace
/// area, the intersection lies in [0, min(first, second)].
struct FootprintAreas {
  double first;
  double second;
  double intersection;
};

/// The areas of `a` and `b` and of their intersection, `a` clipped by the half-planes
/// of `b` when `clip` (else the intersection is taken as 0: the caller knows they do
/// not overlap with an area). Expects finite corners; allocates nothing. Float corners
/// are widened exactly; of double corners, each coordinate relative to the origin of
/// the clip is rounded once (2^-53 of it), so the double form agrees with exact
/// arithmetic on its corners within a few units of 2^-52 of the areas.
FootprintAreas footprintAreas(const Corners& a, const Corners& b, bool clip);
FootprintAreas footprintAreas(const CornersD& a, const CornersD& b, bool clip);

/// Intersection area over union area of the two quadrilaterals, in [0, 1]: one clipped
/// by the other's four half-planes in double precision, with the origin moved to a
/// corner of `a`; areas by the shoelace formula, union = area a + area b - intersection.
/// 0 when the union's area is at most 2^-52 (also when either quadrilateral has no
/// area). Either corner order (clockwise or counter-clockwise) is accepted. Expects
/// finite corners; allocates nothing.
double intersectionOverUnion(const Corners& a, const Corners& b);
double intersectionOverUnion(const CornersD& a, const CornersD& b);

/// `State::overlap` once both footprints are known to be finite: 0 for bounding boxes
/// that are apart or only touch, else `intersectionOverUnion`. Every overlap value the
/// library reports comes from here, so batch results equal single-pair ones bit for bit.
inline double overlapOfCorners(const Corners& a, const Corners& b) {
  return boundingBoxesApart(a, b) ? 0.0 : intersectionOverUnion(a, b);
}

/// `overlapOfCorners` for double corners.
inline double overlapOfCorners(const CornersD& a, const CornersD& b) {
  return boundingBoxesApart(a, b) ? 0.0 : intersectionOverUnion(a, b);
}

/// The area of the convex hull of the eight corners, relative to a corner of `a`: the
/// hull by the monotone chain, its area as a fan of triangles from one hull vertex,
/// each cross product with one rounding (Kahan's difference of products), so that the
/// sum of non-negative terms carries a few roundings whatever the hull's shape.
/// Expects finite corners; allocates nothing.
double hullArea(const Corners& a, const Corners& b);

/// `State::generalizedOverlap` once both footprints are known to be finite: overlap
/// minus the part of the hull that neither footprint covers, (hull - union) / hull;
/// -1 when the union's area is at most 2^-52. The intersection is taken as 0 for
/// bounding boxes that are apart or only touch, as in `overlapOfCorners`.
double generalizedOverlapOfCorners(const Corners& a, const Corners& b);

/// `State::overlap3d` once both footprints are known to be finite: intersection area
/// times the common height, over the union of the volumes; NaN when a vertical extent
/// is not finite; 0 when the union of the footprints has at most 2^-52 area or the
/// union of the volumes none.
double overlap3dOfCorners(const Corners& a, const VerticalExtent& va, const Corners& b,
                          const VerticalExtent& vb);
double overlap3dOfCorners(const CornersD& a, const VerticalExtent& va, const CornersD& b,
                          const VerticalExtent& vb);

/// The Euclidean distance of two points given in single precision: each coordinate
/// widened to double, the squared differences summed in order and the root taken in
/// double. Every centre distance the library reports comes from here, so batch results
/// equal single-pair ones bit for bit.
template <int N>
double centreDistance(const Eigen::Matrix<float, N, 1>& a, const Eigen::Matrix<float, N, 1>& b) {
  double sum = 0.0;
  for (int k = 0; k < N; ++k) {
    const double d = static_cast<double>(a[k]) - static_cast<double>(b[k]);
    sum += d * d;
  }
  return std::sqrt(sum);
}

/// Smallest Boost.Geometry point-to-polygon distance from a corner of either footprint
/// (the closing repeat included) to the other footprint. Allocates nothing.
double cornerDistance(const Corners& a, const Corners& b);

}  // namespace detail
}  // namespace core
}  // namespace zelvane
