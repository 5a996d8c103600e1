// The inputs of the assignment benchmarks, shared by the C++ benchmarks and the
// program that writes them for the Python ones, so that SciPy solves exactly what the
// library solves: uniform costs from a counter-based generator that NumPy reproduces
// bit for bit, and the gated candidates of a crowded tracker frame.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include <Eigen/Core>

#include "core/assignment.h"
#include "core/footprint_pairs.h"
#include "tracker_frame.h"

namespace tracker_bench {

/// Entry k of the uniform costs in [0, 1): splitmix64 of (k + 1) golden-ratio steps
/// from the seed, its top 53 bits.
inline double uniformCost(std::uint64_t seed, std::uint64_t k) {
  std::uint64_t z = seed + (k + 1) * 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * 0x1.0p-53;
}

/// The n x n uniform costs of assign_dense_<n>: entry (i, j) is uniformCost(n, i n + j).
inline Eigen::MatrixXd denseCosts(int n) {
  Eigen::MatrixXd cost(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      cost(i, j) = uniformCost(static_cast<std::uint64_t>(n),
                               static_cast<std::uint64_t>(i) * static_cast<std::uint64_t>(n) +
                                   static_cast<std::uint64_t>(j));
    }
  }
  return cost;
}

/// The least overlap of a match in the gated cases: the cost limit is 1 minus it.
constexpr double GATED_MIN_OVERLAP = 0.1;

/// assign_gated_<n>: n tracks at one box per 100 square metres against their n moved
/// copies; the candidates are the overlapping pairs, at cost 1 - overlap.
inline std::vector<zelvane::core::AssignmentCandidate> gatedCandidates(int n) {
  const Frame frame = trackerFrame(static_cast<unsigned>(n), n, 0, 10.0 * std::sqrt(n));
  std::vector<zelvane::core::AssignmentCandidate> candidates;
  for (const auto& pair :
       zelvane::core::overlapPairs(statesOf(frame.tracks), statesOf(frame.detections))) {
    candidates.push_back({pair.row, pair.column, 1.0 - pair.value});
  }
  return candidates;
}

}  // namespace tracker_bench
