/// @file
/// Headings in the tracker subsystem: the library's one wrap of an angle into (-pi, pi]
/// (`core::wrapAngle`), and the reading of a measured heading against a predicted one when a
/// detector may report a box the other way round.
///
/// Every heading that the subsystem computes (a predicted heading, an updated one, an
/// innovation, a heading placed in another frame) goes through `wrapAngle`, so that a
/// heading never drifts by whole turns and two headings a turn apart never compare as
/// different.
///
/// A box seen from above is the same rectangle when turned by pi: the detector can
/// report either heading for it, and does, most of all for objects seen end-on. An
/// innovation of more than pi/2 is therefore read as the box seen the other way round
/// (the measured heading turned by pi) rather than as a half turn of the object:
/// `headingInnovation`.
#pragma once

#include <zelvane/core/angle.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace track {

/// The library's one wrap of an angle into (-pi, pi] (`core::wrapAngle`), by its short name.
using core::wrapAngle;

/// A measured heading's innovation against a predicted one.
struct HeadingInnovation {
  /// In [-pi/2, pi/2]: wrapAngle(measured - predicted), or, when that is beyond pi/2
  /// in magnitude, the same turned by pi towards 0.
  float value;
  /// True when the measurement was read the other way round (turned by pi).
  bool flipped;
};

/// The innovation of `measured` against `predicted` (radians), an innovation beyond
/// pi/2 being read as the box seen the other way round (see the file comment). Exactly
/// pi/2 is not flipped. The difference is formed and wrapped in double, then rounded
/// once. NaN in, NaN out (not flipped). Never throws; O(1).
ZELVANE_CORE_API HeadingInnovation headingInnovation(float measured, float predicted);

}  // namespace track
}  // namespace zelvane
