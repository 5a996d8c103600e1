// The footprint and vertical span of a camera-frame box as the library's footprint
// kernel takes them, shared by the public measures and the evaluation, which computes
// each box's once per class rather than once per pair. Internal to the library.
#pragma once

#include "core/footprint.h"
#include "eval/camera_box.h"

namespace zelvane {
namespace eval {
namespace detail {

/// The footprint in the camera's x-z plane, in the corner order of the library's
/// footprints: the box's own axes (length, width) turned by the yaw about the camera's
/// y axis, x' = cos(yaw) u + sin(yaw) v, z' = -sin(yaw) u + cos(yaw) v.
core::detail::CornersD footprintOf(const CameraBox& box);

/// The vertical span of a box, y - height to y, as a centre and a half height.
core::detail::VerticalExtent verticalExtentOf(const CameraBox& box);

/// True when every corner is finite.
bool allFinite(const core::detail::CornersD& corners);

}  // namespace detail
}  // namespace eval
}  // namespace zelvane
