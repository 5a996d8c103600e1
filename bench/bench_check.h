// The one-time agreement check that every benchmark makes before it is timed: this
// library and its peer must give the same answer on the benchmark's input.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zelvane::bench {

/// Exits the benchmark program with a message when `ours` and `peer` differ by more
/// than `tolerance` (absolute, and relative to the larger magnitude above 1).
inline void checkEqual(const std::string& what, double ours, double peer, double tolerance) {
  const double scale = std::max(1.0, std::max(std::abs(ours), std::abs(peer)));
  if (std::abs(ours - peer) <= tolerance * scale) return;
  std::fprintf(stderr, "benchmark check failed: %s: zelvane %.9g, peer %.9g (tolerance %g)\n",
               what.c_str(), ours, peer, tolerance);
  std::exit(1);
}

}  // namespace zelvane::bench
