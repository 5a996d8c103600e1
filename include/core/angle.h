/// @file
/// `core::wrapAngle`: the one wrap of an angle into (-pi, pi] in the library. Every
/// heading that the library computes or converts (a predicted or updated heading, an
/// innovation, a heading placed in another frame, a camera box's yaw) goes through it,
/// so that a heading never drifts by whole turns and the same direction always has the
/// same value.
#pragma once

#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace core {

/// `angle` (radians) wrapped into (-pi, pi] as float holds it, (-float(pi), float(pi)]:
/// the angle that differs from it by a whole number of turns. An angle already there
/// comes back unchanged; any other is wrapped in double with one exact remainder and
/// rounded once, a result that rounds to -float(pi) given as +float(pi). NaN or an
/// infinity gives NaN. Never throws; O(1).
ZELVANE_CORE_API float wrapAngle(float angle);

/// `angle` (radians) wrapped into (-pi, pi] in double precision: an angle already there
/// unchanged, any other an exact remainder of the double 2 pi, -pi given as +pi. NaN or
/// an infinity gives NaN. Never throws; O(1).
ZELVANE_CORE_API double wrapAngle(double angle);

}  // namespace core
}  // namespace zelvane
