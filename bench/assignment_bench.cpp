// The assignment solver and the association of a frame. The dense and gated cases
// have SciPy as their peer, timed by bench/python_bench.py on the same inputs (written
// by bench_tracker_frame); associate_frame_300 is timed against the overlap pairs
// alone of the same frame, the part of the work it cannot avoid. Every case checks its
// answer before it is timed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "assignment_costs.h"
#include "core/assignment.h"
#include "core/association.h"
#include "core/footprint_pairs.h"
#include "tracker_frame.h"

namespace {

using zelvane::core::Assignment;
using zelvane::core::AssignmentCandidate;
using zelvane::core::AssignmentSolver;

using tracker_bench::frame300;
using tracker_bench::statesOf;

void fail(const std::string& what) {
  std::fprintf(stderr, "benchmark check failed: %s\n", what.c_str());
  std::exit(1);
}

void assignDense(benchmark::State& state, int n) {
  const Eigen::MatrixXd cost = tracker_bench::denseCosts(n);
  AssignmentSolver solver;
  Assignment result = solver.solve(cost);
  if (result.matches.size() != static_cast<std::size_t>(n)) fail("assign_dense: not complete");
  for (auto _ : state) {
    result = solver.solve(cost);
    benchmark::ClobberMemory();
  }
  double total = 0.0;
  for (const auto& m : result.matches) total += m.value;
  state.counters["total"] = total;
}

void assignGated(benchmark::State& state, int n) {
  const std::vector<AssignmentCandidate> candidates = tracker_bench::gatedCandidates(n);
  const double limit = 1.0 - tracker_bench::GATED_MIN_OVERLAP;
  AssignmentSolver solver;
  Assignment result = solver.solve(n, n, candidates, limit);
  // Every track overlaps its own copy by far more than the least overlap.
  if (result.matches.size() < static_cast<std::size_t>(n) * 99 / 100) {
    fail("assign_gated_" + std::to_string(n) + ": " + std::to_string(result.matches.size()) +
         " matches");
  }
  for (auto _ : state) {
    result = solver.solve(n, n, candidates, limit);
    benchmark::ClobberMemory();
  }
  state.counters["candidates"] = static_cast<double>(candidates.size());
  state.counters["matches"] = static_cast<double>(result.matches.size());
}

void associateFrame(benchmark::State& state) {
  const std::vector<zelvane::core::State> tracks = statesOf(frame300().tracks);
  const std::vector<zelvane::core::State> detections = statesOf(frame300().detections);
  zelvane::core::Association result;
  for (auto _ : state) {
    result = zelvane::core::associate(tracks, detections, zelvane::core::AssociationMetric::Overlap,
                                      tracker_bench::GATED_MIN_OVERLAP);
    benchmark::ClobberMemory();
  }
  if (result.matches.size() < 297) fail("associate_frame_300: too few matches");
  state.counters["matches"] = static_cast<double>(result.matches.size());
}

void overlapPairsFrame(benchmark::State& state) {
  const std::vector<zelvane::core::State> tracks = statesOf(frame300().tracks);
  const std::vector<zelvane::core::State> detections = statesOf(frame300().detections);
  std::vector<zelvane::core::FootprintPair> pairs;
  for (auto _ : state) {
    pairs = zelvane::core::overlapPairs(tracks, detections, tracker_bench::GATED_MIN_OVERLAP);
    benchmark::ClobberMemory();
  }
  state.counters["pairs"] = static_cast<double>(pairs.size());
}

void registerAll() {
  benchmark::RegisterBenchmark("assign_dense_300/zelvane", assignDense, 300)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("assign_dense_1000/zelvane", assignDense, 1000)
      ->Unit(benchmark::kMillisecond);
  for (const int n : {1000, 4000, 8000}) {
    benchmark::RegisterBenchmark(("assign_gated_" + std::to_string(n) + "/zelvane").c_str(),
                                 assignGated, n)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("associate_frame_300/zelvane", associateFrame)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("associate_frame_300/overlap_pairs", overlapPairsFrame)
      ->Unit(benchmark::kMicrosecond);
}

[[maybe_unused]] const bool registered = (registerAll(), true);

}  // namespace
