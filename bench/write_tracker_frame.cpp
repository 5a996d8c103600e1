// Writes the input of tracker_frame_300 as the rows that `stateOf` reads, (x, y, z,
// heading, length, width, height) in single precision, and its overlap pairs, as JSON:
// the Python benchmark py_overlap_pairs_300 scores the same frame and checks its pairs.
// With a second file, also the candidates of assign_gated_4000 (row, column and cost
// of each, the costs to the last bit), which SciPy solves in the Python benchmark.
//
//   bench_tracker_frame FILE [GATED_FILE]
#include <cstdio>
#include <string>
#include <vector>

#include "assignment_costs.h"
#include "core/footprint_pairs.h"
#include "tracker_frame.h"

namespace {

using tracker_bench::Box;
using tracker_bench::frame300;
using tracker_bench::State;
using tracker_bench::stateOf;
using tracker_bench::statesOf;

int writeTrackerFrame(const std::string& file) {
  std::FILE* out = std::fopen(file.c_str(), "w");
  if (out == nullptr) {
    std::fprintf(stderr, "%s: cannot be written\n", file.c_str());
    return 1;
  }
  const auto rows = [out](const char* name, const std::vector<Box>& boxes) {
    std::fprintf(out, "\"%s\": [", name);
    for (std::size_t k = 0; k < boxes.size(); ++k) {
      const State state = stateOf(boxes[k]);
      const Eigen::Vector3f& p = state.position->mean;
      const auto& d = *state.dimensions;
      std::fprintf(out, "%s\n  [%.9g, %.9g, %.9g, %.9g, %.9g, %.9g, %.9g]", k > 0 ? "," : "",
                   static_cast<double>(p.x()), static_cast<double>(p.y()),
                   static_cast<double>(p.z()), static_cast<double>(state.heading->mean),
                   static_cast<double>(d.length), static_cast<double>(d.width),
                   static_cast<double>(d.height));
    }
    std::fprintf(out, "],\n");
  };
  std::fprintf(out, "{");
  rows("tracks", frame300().tracks);
  rows("detections", frame300().detections);
  std::fprintf(out, "\"pairs\": [");
  const auto pairs =
      zelvane::core::overlapPairs(statesOf(frame300().tracks), statesOf(frame300().detections));
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    std::fprintf(out, "%s\n  [%zu, %zu, %.17g]", k > 0 ? "," : "", pairs[k].row, pairs[k].column,
                 pairs[k].value);
  }
  std::fprintf(out, "]}\n");
  return std::fclose(out) == 0 ? 0 : 1;
}

int writeGatedCandidates(const std::string& file) {
  std::FILE* out = std::fopen(file.c_str(), "w");
  if (out == nullptr) {
    std::fprintf(stderr, "%s: cannot be written\n", file.c_str());
    return 1;
  }
  constexpr int COUNT = 4000;
  std::fprintf(out, "{\"count\": %d, \"min_overlap\": %.17g, \"candidates\": [", COUNT,
               tracker_bench::GATED_MIN_OVERLAP);
  const auto candidates = tracker_bench::gatedCandidates(COUNT);
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    std::fprintf(out, "%s\n  [%zu, %zu, %.17g]", k > 0 ? "," : "", candidates[k].row,
                 candidates[k].column, candidates[k].value);
  }
  std::fprintf(out, "]}\n");
  return std::fclose(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s FILE [GATED_FILE]\n", argv[0]);
    return 2;
  }
  const int status = writeTrackerFrame(argv[1]);
  return status != 0 || argc == 2 ? status : writeGatedCandidates(argv[2]);
}
