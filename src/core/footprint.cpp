#include "core/footprint.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <vector>

// GCC cannot see that the overlay's rescaling assigns its factor on every path.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/geometry/algorithms/area.hpp>
#include <boost/geometry/algorithms/distance.hpp>
#include <boost/geometry/algorithms/intersection.hpp>
#include <boost/geometry/algorithms/union.hpp>
#include <boost/geometry/geometries/register/ring.hpp>
#include <boost/geometry/strategies/strategies.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

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

struct Interval {
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  void add(double v) {
    low = std::min(low, v);
    high = std::max(high, v);
  }
};

Interval projection(const Corners& corners, double nx, double ny) {
  Interval interval;
  for (const auto& c : corners) {
    interval.add(nx * static_cast<double>(c.x()) + ny * static_cast<double>(c.y()));
  }
  return interval;
}

bool separatedByNormalsOf(const Corners& edges, const Corners& other) {
  for (std::size_t i = 0; i < 4; ++i) {
    const auto& from = edges[i];
    const auto& to = edges[(i + 1) % 4];
    const double nx = static_cast<double>(from.y()) - static_cast<double>(to.y());
    const double ny = static_cast<double>(to.x()) - static_cast<double>(from.x());
    // A collapsed edge has no direction and separates nothing.
    if (nx == 0.0 && ny == 0.0) continue;
    const Interval p = projection(edges, nx, ny);
    const Interval q = projection(other, nx, ny);
    if (p.high <= q.low || q.high <= p.low) return true;
  }
  return false;
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

void appendClosedRing(const Corners& corners, bool reverse, FootprintPolygon& polygon) {
  static constexpr std::size_t kForward[5] = {0, 1, 2, 3, 0};
  static constexpr std::size_t kBackward[5] = {0, 3, 2, 1, 0};
  const std::size_t* order = reverse ? kBackward : kForward;
  auto& ring = polygon.outer();
  ring.reserve(ring.size() + 5);
  for (std::size_t i = 0; i < 5; ++i) {
    const auto& c = corners[order[i]];
    ring.push_back(Point(c.x(), c.y()));
  }
}

bool allFinite(const Corners& corners) {
  return std::all_of(corners.begin(), corners.end(),
                     [](const Eigen::Matrix<float, 2, 1>& c) { return c.allFinite(); });
}

bool boundingBoxesApart(const Corners& a, const Corners& b) {
  for (int axis = 0; axis < 2; ++axis) {
    float lowA = a[0][axis], highA = a[0][axis], lowB = b[0][axis], highB = b[0][axis];
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

bool separatedByEdgeNormal(const Corners& a, const Corners& b) {
  return separatedByNormalsOf(a, b) || separatedByNormalsOf(b, a);
}

double commonExtent(const Corners& a, const Corners& b) {
  double extent = 0.0;
  for (int axis = 0; axis < 2; ++axis) {
    Interval interval;
    for (const auto& c : a) interval.add(c[axis]);
    for (const auto& c : b) interval.add(c[axis]);
    extent = std::max(extent, interval.high - interval.low);
  }
  return extent;
}

double intersectionOverUnion(const Corners& a, bool reverseA, const Corners& b, bool reverseB) {
  FootprintPolygon polygonA;
  FootprintPolygon polygonB;
  appendClosedRing(a, reverseA, polygonA);
  appendClosedRing(b, reverseB, polygonB);

  std::vector<FootprintPolygon> unionParts;
  boost::geometry::union_(polygonA, polygonB, unionParts);
  std::deque<FootprintPolygon> intersectionParts;
  boost::geometry::intersection(polygonA, polygonB, intersectionParts);

  double unionArea = 0.0;
  for (const auto& part : unionParts) unionArea += boost::geometry::area(part);
  // Two rectangles never intersect in more than one piece.
  const double intersectionArea =
      intersectionParts.empty() ? 0.0 : boost::geometry::area(intersectionParts.front());
  if (std::abs(unionArea) <= std::numeric_limits<double>::epsilon()) return 0.0;
  // The intersection of two sets never exceeds their union, but for footprints a few
  // ten-thousandths across the overlay's rounding can make it do so; NaN stays NaN.
  const double ratio = intersectionArea / unionArea;
  return ratio > 1.0 ? 1.0 : (ratio < 0.0 ? 0.0 : ratio);
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
