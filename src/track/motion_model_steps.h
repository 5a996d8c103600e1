// Steps of the motion models (track/motion_model.h) for the tracker's frame, which
// has made their checks already or has a state to fill rather than one to return.
#pragma once

#include "core/state.h"
#include "track/motion_model.h"

namespace zelvane {
namespace track {

// The Kalman update of `update` without the checks of its inputs: `z` and `r` must be
// finite, `r` not negative. The tracker checks each detection once as the frame
// arrives and the noise once a frame, rather than once a track.
UpdateOutcome updateChecked(Estimate& estimate, const MeasurementVector& z,
                            const MeasurementVector& r);

// `stateOf` written into `state`, whose other members (acceleration, and the heading
// rate for constant velocity) are left as they are: a reported box is filled where it
// stands.
void writeState(const ConstantVelocity& model, const Estimate& estimate, core::State& state);
void writeState(const ConstantTurnRate& model, const Estimate& estimate, core::State& state);

}  // namespace track
}  // namespace zelvane
