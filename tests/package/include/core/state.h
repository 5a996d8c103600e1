// The consumer's own core/state.h: a header of the same path as one of the package's,
// which the package's headers must never pick up in its place.
#pragma once

namespace consumer {
struct State {
  int step = 0;
};
}  // namespace consumer
