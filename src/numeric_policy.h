// The library's numeric constants and tolerances in one place, each with the reason
// for its value. Internal: the public headers state what callers see of them.
#pragma once

#include <cstddef>
#include <limits>

#include "geometry/angle_units.h"

namespace zelvane {
namespace numeric {

// --- pi and degrees ----------------------------------------------------------------

// The front ends convert degrees as the library does, so these live in a public header.
using angles::degreesFromRadians;
using angles::PI;
using angles::PI_F;
using angles::RADIANS_TO_DEGREES;
using angles::radiansFromDegrees;
/// A whole turn, for wrapping angles in double.
constexpr double TWO_PI = 2.0 * PI;

// --- rotations -----------------------------------------------------------------------

/// A quaternion whose squared norm is this close to 1 gives a rotation matrix that is
/// orthogonal up to rounding, so its polar factor is the matrix itself up to rounding:
/// a few roundings of the four squares and their sum.
constexpr float UNIT_NORM_TOLERANCE = 8.0f * std::numeric_limits<float>::epsilon();
/// |cos(pitch)| at or below which yaw and roll are no longer told apart (pitch within
/// about 0.0057 degrees of +-90): below it the atan2 of yaw and roll divides rounding
/// noise of the float matrix by a vanishing cosine. `Pose::ROTATION_AMBIGUITY_LIMIT`.
constexpr float ROTATION_AMBIGUITY_LIMIT = 1.0e-4f;

// --- footprints ----------------------------------------------------------------------

/// Relative allowance for the rounding of the single-precision corner arithmetic (a
/// handful of operations of 2^-24 each, many times over), by which the trig-free
/// bounding squares are widened so that they surely hold the footprints.
constexpr float CORNER_BOUND_SLACK = 1e-5f;
/// Room for the clipped polygon: clipping a convex quadrilateral by four half-planes
/// never gives more than eight vertices, but rounding may classify nearly collinear
/// vertices unevenly, and each half-plane at most doubles the count.
constexpr std::size_t CLIP_VERTEX_CAPACITY = 64;
/// A union of footprints with at most this area (2^-52) has no overlap worth a ratio:
/// below it the intersection is rounding noise of the same size.
constexpr double MIN_UNION_AREA = std::numeric_limits<double>::epsilon();
/// Relative widening of a distance gate for the grid of the batch operations: the
/// corner distance is never below the gap between the bounding boxes, but its rounding
/// may bring it a few units of the last place below; this allows far more, and pairs
/// that only the wider gate lets through are measured and dropped.
constexpr double GATE_WIDENING = 1e-8;
/// Relative slack by which the batch operations' grid looks further for boxes listed
/// once, by their lower-left corner: the reach (the largest such box) and the query's
/// corner less that reach are each rounded once in double (2^-53 of their sizes); this
/// allows far more, and boxes that only the slack lets in are tested and dropped.
constexpr double GRID_REACH_SLACK = 1e-9;
/// Relative slack of the reach within which `generalizedOverlapPairs` looks for pairs
/// apart under a negative threshold: the reach comes from a bound on exact areas, and
/// the computed value differs from the exact one by about 1e-12 at most; this allows
/// far more, and pairs that only the slack lets in are measured and dropped.
constexpr double GENERALIZED_REACH_SLACK = 1e-9;
/// `approximatelyEqual`: two floats within one float epsilon (2^-23) of each other,
/// absolutely or relative to the larger magnitude, are taken for equal.
constexpr float APPROXIMATE_EQUALITY = std::numeric_limits<float>::epsilon();

// --- map-scale coordinates -----------------------------------------------------------

/// Significant bits of a float (23 stored, 1 implied): a value x with
/// 2^e <= |x| < 2^(e+1) is rounded to within 2^(e-24), half the spacing there.
constexpr int FLOAT_SIGNIFICAND_BITS = std::numeric_limits<float>::digits;
/// Metres a position may lose to its single-precision storage before a program
/// should hear of it: a centimetre, an order above what lidar ranging resolves.
constexpr double POSITION_ERROR_LIMIT = 0.01;

/// The smallest power of two 2^e whose coordinates can be stored with an error above
/// `limit`: the first e with 2^(e-24) > limit.
constexpr double smallestMagnitudeRoundedBeyond(double limit) {
  double magnitude = 1.0;
  while (magnitude / static_cast<double>(1L << FLOAT_SIGNIFICAND_BITS) <= limit) {
    magnitude *= 2.0;
  }
  return magnitude;
}

/// Coordinates from this magnitude on (2^18 = 262,144) are stored in a `Pose` with
/// errors above `POSITION_ERROR_LIMIT` (up to 1.6 cm, 0.25 m near 5,330,000):
/// `needsLocalOrigin` and zelvane_frames' warning start here.
constexpr double MAP_SCALE_COORDINATE = smallestMagnitudeRoundedBeyond(POSITION_ERROR_LIMIT);
static_assert(MAP_SCALE_COORDINATE == 262144.0, "float spacing: 2^18 * 2^-24 = 1/64 > 1 cm");
// --- assignment ----------------------------------------------------------------------

/// The largest magnitude of a finite cost (and of a finite cost limit) that the
/// assignment solver accepts. Its prices are sums and differences of up to twice as
/// many costs as there are rows; below 1e150 they stay far from the double range
/// (1.8e308) for any problem that fits in memory, beyond it they could overflow to
/// infinity and give a wrong assignment without a sign.
constexpr double MAX_ASSIGNMENT_COST = 1e150;

}  // namespace numeric
}  // namespace zelvane
