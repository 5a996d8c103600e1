/// @file
/// How alike two boxes of the benchmark are: the overlap of two camera-frame boxes in
/// three dimensions and seen from above, the overlap of two image rectangles, the part
/// of a rectangle inside a region, and the distance of two box centres on the ground.
/// The tracking evaluation matches ground truth to results with these.
///
/// Everything is computed in double precision from the boxes as given: the footprints
/// (rectangles of `length` x `width` turned by `yaw` in the camera's x-z plane) go
/// through the library's footprint clipper (the one behind `core::State::overlap`) on
/// double corners, so a pair whose overlap lies near a matching threshold is decided
/// as exact arithmetic on those corners decides it, within about 1e-15. All functions
/// allocate nothing and never throw; non-finite inputs give NaN, except where stated.
#pragma once

#include <zelvane/eval/camera_box.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace eval {

/// Intersection volume over union volume of two camera-frame boxes, in [0, 1]: the
/// footprints' intersection area in the x-z plane times the common part of the
/// vertical spans (y - height to y), over the sum of the volumes less the common
/// volume. 0 for boxes that share no volume, and for boxes without volume (a zero
/// extent). Negative extents count as their magnitudes.
ZELVANE_CORE_API double overlap3d(const CameraBox& a, const CameraBox& b);

/// Intersection area over union area of the two footprints (bird's-eye view, the
/// x-z plane), in [0, 1]; heights and vertical places take no part. 0 for footprints
/// apart or without area.
ZELVANE_CORE_API double birdsEyeOverlap(const CameraBox& a, const CameraBox& b);

/// Intersection over union of two image rectangles, in [0, 1]: each side of the
/// intersection is the smaller right (bottom) less the larger left (top), and the
/// rectangles do not overlap when either side is at most 0; areas are width x height
/// with no pixel added. 0 also when the union has no area.
ZELVANE_CORE_API double imageOverlap(const ImageBox& a, const ImageBox& b);

/// The part of `box` that lies inside `region`: their intersection area over the area
/// of `box`, in [0, 1], with `imageOverlap`'s rule for the intersection. 0 when they
/// do not overlap or `box` has no area.
ZELVANE_CORE_API double imageCoverage(const ImageBox& box, const ImageBox& region);

/// Distance of the two box centres on the ground, metres: the Euclidean distance of
/// the locations' x and z (the vertical takes no part). NaN for non-finite inputs.
ZELVANE_CORE_API double centreDistance(const CameraBox& a, const CameraBox& b);

}  // namespace eval
}  // namespace zelvane
