/// @file
/// Footprint geometry on the stack, shared by `State` and `StateValues`: the box centre,
/// the four corners, the polygon built from them, and the cheap tests that let
/// `State::overlap` answer 0 for footprints that are apart without running the
/// overlay. Everything here is internal to the library.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

#include <Eigen/Core>

#include "core/state.h"

namespace zelvane {
namespace core {
namespace detail {

/// The four corners in single precision: front-left, front-right, rear-right,
/// rear-left.
using Corners = std::array<Eigen::Matrix<float, 2, 1>, 4>;

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
/// With `reverse` the ring runs c0, c3, c2, c1, c0 instead.
void appendClosedRing(const Corners& corners, bool reverse, FootprintPolygon& polygon);

/// True when every coordinate is finite.
bool allFinite(const Corners& corners);

/// Relative allowance for the rounding of the single-precision corner arithmetic (a
/// handful of operations of 2^-24 each, many times over).
constexpr float kBoundSlack = 1e-5f;

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
  const float farA = std::max(std::abs(a.positionX), std::abs(a.positionY));
  const float farB = std::max(std::abs(b.positionX), std::abs(b.positionY));
  const float halfA = reachA + kBoundSlack * (reachA + farA);
  const float halfB = reachB + kBoundSlack * (reachB + farB);
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

/// True when the projections onto the normal of some edge of either quadrilateral are
/// apart or only touch.
bool separatedByEdgeNormal(const Corners& a, const Corners& b);

/// The larger side of the bounding box of both footprints together.
double commonExtent(const Corners& a, const Corners& b);

/// Intersection area over union area of the two footprints by Boost.Geometry (union
/// first, then intersection); 0 when the union has no area. `reverseA`/`reverseB`
/// state that the corner order of that footprint runs counter-clockwise.
double intersectionOverUnion(const Corners& a, bool reverseA, const Corners& b, bool reverseB);

/// Smallest Boost.Geometry point-to-polygon distance from a corner of either footprint
/// (the closing repeat included) to the other footprint. Allocates nothing.
double cornerDistance(const Corners& a, const Corners& b);

}  // namespace detail
}  // namespace core
}  // namespace zelvane
