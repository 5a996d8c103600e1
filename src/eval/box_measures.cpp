#include "eval/box_measures.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "box_footprint.h"

namespace zelvane {
namespace eval {
namespace detail {

core::detail::CornersD footprintOf(const CameraBox& box) {
  const double c = std::cos(box.yaw);
  const double s = std::sin(box.yaw);
  const double halfLength = 0.5 * box.length;
  const double halfWidth = 0.5 * box.width;
  const double local[4][2] = {{halfLength, halfWidth},
                              {halfLength, -halfWidth},
                              {-halfLength, -halfWidth},
                              {-halfLength, halfWidth}};
  core::detail::CornersD corners;
  for (std::size_t i = 0; i < 4; ++i) {
    const double u = local[i][0];
    const double v = local[i][1];
    corners[i] = Eigen::Vector2d(c * u + s * v + box.x, -s * u + c * v + box.z);
  }
  return corners;
}

bool allFinite(const core::detail::CornersD& corners) {
  return std::all_of(corners.begin(), corners.end(),
                     [](const Eigen::Vector2d& corner) { return corner.allFinite(); });
}

core::detail::VerticalExtent verticalExtentOf(const CameraBox& box) {
  return core::detail::VerticalExtent{box.y - 0.5 * box.height, 0.5 * std::abs(box.height)};
}

}  // namespace detail

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

// The sides of the intersection of two rectangles: the smaller right (bottom) less the
// larger left (top).
double intersectionArea(const ImageBox& a, const ImageBox& b) {
  const double width = std::min(a.right, b.right) - std::max(a.left, b.left);
  const double height = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
  if (!(width > 0.0) || !(height > 0.0)) return 0.0;
  return width * height;
}

double area(const ImageBox& box) { return (box.right - box.left) * (box.bottom - box.top); }

bool finite(const ImageBox& box) {
  return std::isfinite(box.left) && std::isfinite(box.top) && std::isfinite(box.right) &&
         std::isfinite(box.bottom);
}

}  // namespace

double overlap3d(const CameraBox& a, const CameraBox& b) {
  const core::detail::CornersD footprintA = detail::footprintOf(a);
  const core::detail::CornersD footprintB = detail::footprintOf(b);
  if (!detail::allFinite(footprintA) || !detail::allFinite(footprintB)) return NOT_A_NUMBER;
  return core::detail::overlap3dOfCorners(footprintA, detail::verticalExtentOf(a), footprintB,
                                          detail::verticalExtentOf(b));
}

double birdsEyeOverlap(const CameraBox& a, const CameraBox& b) {
  const core::detail::CornersD footprintA = detail::footprintOf(a);
  const core::detail::CornersD footprintB = detail::footprintOf(b);
  if (!detail::allFinite(footprintA) || !detail::allFinite(footprintB)) return NOT_A_NUMBER;
  return core::detail::overlapOfCorners(footprintA, footprintB);
}

double imageOverlap(const ImageBox& a, const ImageBox& b) {
  if (!finite(a) || !finite(b)) return NOT_A_NUMBER;
  const double intersection = intersectionArea(a, b);
  if (intersection == 0.0) return 0.0;
  const double unionArea = area(a) + area(b) - intersection;
  return unionArea > 0.0 ? std::min(intersection / unionArea, 1.0) : 0.0;
}

double imageCoverage(const ImageBox& box, const ImageBox& region) {
  if (!finite(box) || !finite(region)) return NOT_A_NUMBER;
  const double intersection = intersectionArea(box, region);
  if (intersection == 0.0) return 0.0;
  const double boxArea = area(box);
  return boxArea > 0.0 ? std::min(intersection / boxArea, 1.0) : 0.0;
}

double centreDistance(const CameraBox& a, const CameraBox& b) {
  const double dx = a.x - b.x;
  const double dz = a.z - b.z;
  return std::sqrt(dx * dx + dz * dz);
}

}  // namespace eval
}  // namespace zelvane
