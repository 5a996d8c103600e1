#include "core/footprint.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <boost/geometry/algorithms/distance.hpp>
#include <boost/geometry/geometries/register/ring.hpp>
#include <boost/geometry/strategies/strategies.hpp>

namespace zelvane {
namespace core {
namespace detail {
namespace {

using Point = boost::geometry::model::d2::point_xy<double>;

// A closed clockwise ring of five points that lives on the stack, so that distance
// queries need no allocation.
struct StackRing : std::array<Point, 5> {};

}  // namespace
}  // namespace detail
}  // namespace core
}  // namespace zelvane

BOOST_GEOMETRY_REGISTER_RING(zelvane::core::detail::StackRing)

namespace zelvane {
namespace core {
namespace detail {
namespace {

StackRing stackRingOf(const Corners& corners) {
  StackRing ring;
  for (std::size_t i = 0; i < 4; ++i) ring[i] = Point(corners[i].x(), corners[i].y());
  ring[4] = ring[0];
  return ring;
}

// A vertex of the clipped polygon, relative to the origin of the clip.
struct Vertex {
  double x;
  double y;
};

// Twice the signed area (counter-clockwise positive) of a quadrilateral, from its
// diagonals: one product pair, no cancellation between the four shoelace terms.
double twiceArea(const Vertex* q) {
  return (q[2].x - q[0].x) * (q[3].y - q[1].y) - (q[2].y - q[0].y) * (q[3].x - q[1].x);
}

template <class Scalar>
double twiceAreaOf(const CornersOf<Scalar>& c) {
  const Vertex q[4] = {
      {c[0].x(), c[0].y()}, {c[1].x(), c[1].y()}, {c[2].x(), c[2].y()}, {c[3].x(), c[3].y()}};
  return twiceArea(q);
}

double twiceArea(const Vertex* polygon, int count) {
  double sum = 0.0;
  for (int i = 0, j = count - 1; i < count; j = i++) {
    sum += polygon[j].x * polygon[i].y - polygon[i].x * polygon[j].y;
  }
  return sum;
}

// a x b with one rounding: Kahan's difference of products, its error term from a fused
// multiply-add.
double crossProduct(const Vertex& a, const Vertex& b) {
  const double product = a.y * b.x;
  const double error = std::fma(a.y, b.x, -product);
  return std::fma(a.x, b.y, -product) - error;
}

// Twice the signed area of the triangle o, p, q (counter-clockwise positive), from the
// two shorter of its edges: e1 x e2 = e2 x e3 = e3 x e1 for the edges e1 = p - o,
// e2 = q - p, e3 = o - q. The difference of nearby points is exact, so a small triangle
// far from the others, or a far vertex with two near ones, keeps its shape.
double cross(const Vertex& o, const Vertex& p, const Vertex& q) {
  const Vertex e1{p.x - o.x, p.y - o.y};
  const Vertex e2{q.x - p.x, q.y - p.y};
  const Vertex e3{o.x - q.x, o.y - q.y};
  const double n1 = std::abs(e1.x) + std::abs(e1.y);
  const double n2 = std::abs(e2.x) + std::abs(e2.y);
  const double n3 = std::abs(e3.x) + std::abs(e3.y);
  if (n1 >= n2 && n1 >= n3) return crossProduct(e2, e3);
  if (n2 >= n3) return crossProduct(e3, e1);
  return crossProduct(e1, e2);
}

// Keeps the part of `in` on the inner side of the line from `p` to `q`: the left side
// for `side` +1, the right for -1. Each vertex is classified once, by the sign of its
// cross product with the edge, and that one classification decides both edges that
// meet at it, so the output is always a closed polygon. A vertex on the line is kept;
// a crossing is computed only between vertices strictly on opposite sides, so the
// divisor is never zero and the crossing lies on the clipped edge.
int clipByHalfPlane(const Vertex* in, int count, Vertex p, Vertex q, double side, Vertex* out) {
  const double ex = q.x - p.x;
  const double ey = q.y - p.y;
  double d[numeric::CLIP_VERTEX_CAPACITY];
  bool allInside = true;
  for (int i = 0; i < count; ++i) {
    d[i] = side * (ex * (in[i].y - p.y) - ey * (in[i].x - p.x));
    allInside = allInside && d[i] >= 0.0;
  }
  if (allInside) {
    std::copy(in, in + count, out);
    return count;
  }
  int kept = 0;
  for (int i = 0, j = 1; i < count; ++i, j = (j + 1 == count ? 0 : j + 1)) {
    if (d[i] >= 0.0) out[kept++] = in[i];
    if ((d[i] > 0.0 && d[j] < 0.0) || (d[i] < 0.0 && d[j] > 0.0)) {
      // Step from the vertex nearer the line: the shorter step carries less rounding,
      // and the crossing does not depend on the direction the edge is walked.
      const bool fromI = std::abs(d[i]) <= std::abs(d[j]);
      const Vertex& from = fromI ? in[i] : in[j];
      const Vertex& to = fromI ? in[j] : in[i];
      const double t = fromI ? d[i] / (d[i] - d[j]) : d[j] / (d[j] - d[i]);
      out[kept++] = Vertex{from.x + t * (to.x - from.x), from.y + t * (to.y - from.y)};
    }
  }
  return kept;
}

}  // namespace

Eigen::Matrix<float, 2, 1> boxCentre(const Eigen::Matrix<float, 2, 2>& rotation, float positionX,
                                     float positionY, float anchorX, float anchorY) {
  return Eigen::Matrix<float, 2, 1>(
      positionX - (rotation(0, 0) * anchorX + rotation(0, 1) * anchorY),
      positionY - (rotation(1, 0) * anchorX + rotation(1, 1) * anchorY));
}

Corners boxCorners(const Eigen::Matrix<float, 2, 2>& rotation,
                   const Eigen::Matrix<float, 2, 1>& centre, float halfLength, float halfWidth) {
  const float local[4][2] = {{halfLength, halfWidth},
                             {halfLength, -halfWidth},
                             {-halfLength, -halfWidth},
                             {-halfLength, halfWidth}};
  Corners corners;
  for (std::size_t i = 0; i < 4; ++i) {
    const float lx = local[i][0];
    const float ly = local[i][1];
    corners[i] =
        Eigen::Matrix<float, 2, 1>((rotation(0, 0) * lx + rotation(0, 1) * ly) + centre.x(),
                                   (rotation(1, 0) * lx + rotation(1, 1) * ly) + centre.y());
  }
  return corners;
}

void appendClosedRing(const Corners& corners, FootprintPolygon& polygon) {
  auto& ring = polygon.outer();
  ring.reserve(ring.size() + 5);
  for (std::size_t i = 0; i < 5; ++i) {
    const auto& c = corners[i % 4];
    ring.push_back(Point(c.x(), c.y()));
  }
}

bool allFinite(const Corners& corners) {
  return std::all_of(corners.begin(), corners.end(),
                     [](const Eigen::Matrix<float, 2, 1>& c) { return c.allFinite(); });
}

namespace {

template <class Scalar>
bool boundingBoxesApartOf(const CornersOf<Scalar>& a, const CornersOf<Scalar>& b) {
  for (int axis = 0; axis < 2; ++axis) {
    Scalar lowA = a[0][axis], highA = a[0][axis], lowB = b[0][axis], highB = b[0][axis];
    for (std::size_t i = 1; i < 4; ++i) {
      lowA = std::min(lowA, a[i][axis]);
      highA = std::max(highA, a[i][axis]);
      lowB = std::min(lowB, b[i][axis]);
      highB = std::max(highB, b[i][axis]);
    }
    if (highA <= lowB || highB <= lowA) return true;
  }
  return false;
}

template <class Scalar>
FootprintAreas footprintAreasOf(const CornersOf<Scalar>& a, const CornersOf<Scalar>& b, bool clip) {
  // Relative to a corner of `a`, the coordinates of two footprints that meet are
  // differences of nearby floats, exact in double (of double corners, rounded once),
  // and small against the products below wherever the footprints lie.
  const double originX = a[0].x();
  const double originY = a[0].y();
  Vertex first[numeric::CLIP_VERTEX_CAPACITY];
  Vertex second[numeric::CLIP_VERTEX_CAPACITY];
  Vertex clipper[4];
  for (std::size_t i = 0; i < 4; ++i) {
    first[i] =
        Vertex{static_cast<double>(a[i].x()) - originX, static_cast<double>(a[i].y()) - originY};
    clipper[i] =
        Vertex{static_cast<double>(b[i].x()) - originX, static_cast<double>(b[i].y()) - originY};
  }
  // Each area from its own corners' differences, exact for a footprint far from the
  // other's origin too.
  const double twiceA = twiceAreaOf(a);
  const double twiceB = twiceAreaOf(b);
  const double areaA = 0.5 * std::abs(twiceA);
  const double areaB = 0.5 * std::abs(twiceB);
  if (!clip || twiceA == 0.0 || twiceB == 0.0) return FootprintAreas{areaA, areaB, 0.0};

  // The inner side of each edge of `b` is to its left when `b` runs counter-clockwise.
  const double side = twiceB > 0.0 ? 1.0 : -1.0;
  Vertex* polygon = first;
  Vertex* spare = second;
  int count = 4;
  for (int k = 0; k < 4 && count >= 3; ++k) {
    count = clipByHalfPlane(polygon, count, clipper[k], clipper[(k + 1) % 4], side, spare);
    std::swap(polygon, spare);
  }
  // Clipping keeps the orientation of `a`; a sliver that rounding turned over has no
  // area to count. The intersection never exceeds either footprint.
  const double signedIntersection =
      count >= 3 ? 0.5 * twiceArea(polygon, count) * (twiceA > 0.0 ? 1.0 : -1.0) : 0.0;
  return FootprintAreas{areaA, areaB,
                        std::min(std::max(signedIntersection, 0.0), std::min(areaA, areaB))};
}

template <class Scalar>
double intersectionOverUnionOf(const CornersOf<Scalar>& a, const CornersOf<Scalar>& b) {
  const FootprintAreas areas = footprintAreasOf(a, b, true);
  const double unionArea = areas.first + areas.second - areas.intersection;
  if (unionArea <= numeric::MIN_UNION_AREA) return 0.0;
  return std::min(areas.intersection / unionArea, 1.0);
}

}  // namespace

bool boundingBoxesApart(const Corners& a, const Corners& b) { return boundingBoxesApartOf(a, b); }

bool boundingBoxesApart(const CornersD& a, const CornersD& b) { return boundingBoxesApartOf(a, b); }

FootprintAreas footprintAreas(const Corners& a, const Corners& b, bool clip) {
  return footprintAreasOf(a, b, clip);
}

FootprintAreas footprintAreas(const CornersD& a, const CornersD& b, bool clip) {
  return footprintAreasOf(a, b, clip);
}

double intersectionOverUnion(const Corners& a, const Corners& b) {
  return intersectionOverUnionOf(a, b);
}

double intersectionOverUnion(const CornersD& a, const CornersD& b) {
  return intersectionOverUnionOf(a, b);
}

double hullArea(const Corners& a, const Corners& b) {
  // The corners as they are: the difference of two corners near each other is exact
  // (no rounding against a common origin that may be far from one footprint).
  Vertex points[8];
  for (std::size_t i = 0; i < 4; ++i) {
    points[i] = Vertex{a[i].x(), a[i].y()};
    points[i + 4] = Vertex{b[i].x(), b[i].y()};
  }
  std::sort(std::begin(points), std::end(points), [](const Vertex& p, const Vertex& q) {
    return p.x < q.x || (p.x == q.x && p.y < q.y);
  });
  // The monotone chain: the lower hull left to right, then the upper one back, each
  // keeping only left turns. At most eight vertices and the first again.
  Vertex hull[16];
  int count = 0;
  const auto push = [&](const Vertex& p, int floor) {
    while (count >= floor && cross(hull[count - 2], hull[count - 1], p) <= 0.0) --count;
    hull[count++] = p;
  };
  for (const Vertex& p : points) push(p, 2);
  const int lower = count + 1;
  for (int i = 6; i >= 0; --i) push(points[i], lower);
  // The last vertex repeats the first. A fan from the first: every triangle of a convex
  // polygon turns left, so the terms are not negative and their sum is as accurate as
  // each.
  double twice = 0.0;
  for (int i = 1; i + 2 < count; ++i) twice += cross(hull[0], hull[i], hull[i + 1]);
  return 0.5 * twice;
}

double generalizedOverlapOfCorners(const Corners& a, const Corners& b) {
  const FootprintAreas areas = footprintAreas(a, b, !boundingBoxesApart(a, b));
  const double unionArea = areas.first + areas.second - areas.intersection;
  // Footprints without area share nothing: the lowest value, whatever their hull.
  if (unionArea <= numeric::MIN_UNION_AREA) return -1.0;
  const double overlap = std::min(areas.intersection / unionArea, 1.0);
  // The hull holds the union; rounding must not make its empty part negative.
  const double hull = std::max(hullArea(a, b), unionArea);
  return overlap - (hull - unionArea) / hull;
}

namespace {

template <class Scalar>
double overlap3dOf(const CornersOf<Scalar>& a, const VerticalExtent& va, const CornersOf<Scalar>& b,
                   const VerticalExtent& vb) {
  if (!std::isfinite(va.centre) || !std::isfinite(va.halfHeight) || !std::isfinite(vb.centre) ||
      !std::isfinite(vb.halfHeight)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  const FootprintAreas areas = footprintAreasOf(a, b, !boundingBoxesApartOf(a, b));
  const double unionArea = areas.first + areas.second - areas.intersection;
  if (unionArea <= numeric::MIN_UNION_AREA) return 0.0;
  // Relative to the centre of `a`: the offset of the other centre is rounded once, by
  // at most 2^-53 of itself, which is no more than the two half heights where the
  // extents meet.
  const double offset = vb.centre - va.centre;
  const double top = std::min(va.halfHeight, offset + vb.halfHeight);
  const double bottom = std::max(-va.halfHeight, offset - vb.halfHeight);
  const double commonHeight = top - bottom;
  if (!(commonHeight > 0.0) || areas.intersection == 0.0) return 0.0;
  const double common = areas.intersection * commonHeight;
  const double unionVolume =
      2.0 * (areas.first * va.halfHeight + areas.second * vb.halfHeight) - common;
  if (!(unionVolume > 0.0)) return 0.0;
  return std::min(common / unionVolume, 1.0);
}

}  // namespace

double overlap3dOfCorners(const Corners& a, const VerticalExtent& va, const Corners& b,
                          const VerticalExtent& vb) {
  return overlap3dOf(a, va, b, vb);
}

double overlap3dOfCorners(const CornersD& a, const VerticalExtent& va, const CornersD& b,
                          const VerticalExtent& vb) {
  return overlap3dOf(a, va, b, vb);
}

double cornerDistance(const Corners& a, const Corners& b) {
  const StackRing ringA = stackRingOf(a);
  const StackRing ringB = stackRingOf(b);
  double d = std::numeric_limits<double>::max();
  for (const Point& p : ringA) d = std::min(d, boost::geometry::distance(p, ringB));
  for (const Point& q : ringB) d = std::min(d, boost::geometry::distance(q, ringA));
  return d;
}

}  // namespace detail
}  // namespace core
}  // namespace zelvane
