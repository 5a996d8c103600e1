// The Kalman update of `update` (track/motion_model.h) without the checks of its
// inputs, for a caller that has made them already: `z` and `r` finite, `r` not
// negative. The tracker checks each detection once as the frame arrives and the noise
// once a frame, rather than once a track.
#pragma once

#include "track/motion_model.h"

namespace zelvane {
namespace track {

UpdateOutcome updateChecked(Estimate& estimate, const MeasurementVector& z,
                            const MeasurementVector& r);

}  // namespace track
}  // namespace zelvane
