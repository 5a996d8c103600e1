/// @file
/// The boxes of the driving benchmark's files and their place in the library's
/// conventions: `CameraBox`, a 3-D box in the camera frame as the benchmark writes it,
/// `ImageBox`, its rectangle in the image, and the conversion between a `CameraBox`
/// and the box of a `core::State`, both ways. The tracker and the evaluation use these
/// two functions and no other, so a box read, tracked and written back keeps its place.
///
/// The camera frame: x to the right, y down, z forward, metres. A box's location
/// (x, y, z) is the centre of its bottom face; `yaw` (the benchmark's "ry") turns the
/// box about the camera's y axis, radians, and a yaw of 0 points the box's length
/// along the camera's x axis; the box spans `height` up from its location (y from
/// y - height to y), `length` along its heading and `width` across it, both in the
/// x-z plane.
///
/// The library's box (`core::State::box`, `core/state.h`): x-y horizontal, z up, the
/// position at the box centre, the heading counter-clockwise seen from above from the
/// x axis, the length along the heading. The camera's axes become the library's by
/// one proper rotation, without translation:
///
///     library x =  camera z    (forward)
///     library y = -camera x    (to the left)
///     library z = -camera y    (up)
///
/// so that the library's position is (z, -x, height / 2 - y) and its heading is
/// -yaw - pi / 2, wrapped into (-pi, pi]. Seen from above, a positive yaw turns the
/// box clockwise (the camera's y axis points down), which is why the sign flips; the
/// quarter turn takes the camera's x axis (yaw 0) to the library's -y axis.
#pragma once

#include <zelvane/core/angle.h>
#include <zelvane/core/image_box.h>
#include <zelvane/core/state.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace eval {

/// A 3-D box in the camera frame, as the benchmark's files give it (see the file
/// comment): bottom-centre location, yaw about the camera's y axis, extents. Plain
/// value in double precision, as read from text.
struct CameraBox {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  double height = 0.0;
  double width = 0.0;
  double length = 0.0;
  double yaw = 0.0;
};

/// A rectangle in the image, pixels (`core::ImageBox`).
using ImageBox = core::ImageBox;

/// The library's box for `box`: `core::State::box` at the box centre
/// (z, -x, height / 2 - y), heading `core::wrapAngle(-yaw - pi / 2)`, with the box's length,
/// width and height, the anchor at the centre and zero covariances. The values are
/// computed in double and rounded once to the state's floats. Nothing is validated:
/// non-finite values pass through.
ZELVANE_CORE_API core::State stateFromCameraBox(const CameraBox& box);

/// The camera-frame box of `state`, the inverse of `stateFromCameraBox`: location
/// (-y, height / 2 - z, x) of the box centre (`State::centroid`) (x, y, z), yaw
/// `core::wrapAngle(-heading - pi / 2)`, extents from `dimensions` (length, width, height).
/// A round trip through both functions gives the box back up to the float rounding of
/// the state, the yaw up to a whole turn (pi and -pi are one angle). Throws
/// `std::invalid_argument` when the state has no position, heading or dimensions.
ZELVANE_CORE_API CameraBox cameraBoxFromState(const core::State& state);

}  // namespace eval
}  // namespace zelvane
