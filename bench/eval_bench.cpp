// The tracking evaluation on the shared data's reference results: the whole run from
// reading the files to the printed table (three classes, 3-D overlap 0.25, sAMOTA's
// re-evaluations), against an absolute limit; and one sequence against the same
// sequence ten times over, for linear growth with frames. Each case checks its answer
// against the benchmark evaluator's printed figure before it is timed; without
// ../shared the cases are skipped with a message.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "eval/tracking_evaluation.h"
#include "eval/tracking_files.h"
#include "eval/tracking_report.h"

namespace {

namespace fs = std::filesystem;
using namespace zelvane::eval;

const fs::path DATA = fs::path(ZELVANE_SHARED_DATA_DIR) / "kitti-tracking";
// The sequences of the reference figures and the frame count the reference evaluator's
// sequence list gives each (one more than the labels hold).
const std::vector<SequenceEntry> REFERENCE_SEQUENCES = {
    {"0001", 448}, {"0006", 271}, {"0008", 391}, {"0010", 295}, {"0012", 79}, {"0013", 341}};
const std::vector<std::string> CLASSES = {"car", "pedestrian", "cyclist"};

void fail(const std::string& what) {
  std::fprintf(stderr, "benchmark check failed: %s\n", what.c_str());
  std::exit(1);
}

bool dataMissing(benchmark::State& state) {
  if (fs::exists(DATA / "reference" / "results")) return false;
  state.SkipWithError(("shared data not found at " + DATA.string()).c_str());
  return true;
}

std::string fixed4(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// Reading, evaluating and formatting, as zelvane_track_eval does them.
std::string evaluateReference(std::vector<ClassEvaluation>& evaluations) {
  const auto sequences = loadTrackingSequences(
      (DATA / "label_02").string(), (DATA / "reference" / "results").string(), REFERENCE_SEQUENCES);
  EvaluationOptions options;
  options.threshold = 0.25;
  evaluations = evaluateTrackingClasses(sequences, CLASSES, options);
  return formatTrackingTable(evaluations);
}

void trackEvalReference(benchmark::State& state) {
  if (dataMissing(state)) return;
  std::vector<ClassEvaluation> evaluations;
  evaluateReference(evaluations);
  // The benchmark's evaluator printed sAMOTA 0.8837, 0.5451, 0.6621.
  const char* printed[] = {"0.8837", "0.5451", "0.6621"};
  for (std::size_t i = 0; i < CLASSES.size(); ++i) {
    if (fixed4(evaluations[i].samota) != printed[i]) fail("sAMOTA of " + CLASSES[i]);
  }
  for (auto _ : state) {
    std::string table = evaluateReference(evaluations);
    benchmark::DoNotOptimize(table);
  }
}

// Sequence 0001 and its results, `copies` times one after the other as one sequence:
// each copy's frames follow the last one's, its track ids are its own.
TrackingSequence repeated(const TrackingSequence& sequence, int copies) {
  TrackingSequence out;
  out.name = sequence.name;
  out.frameCount = sequence.frameCount * copies;
  constexpr long ID_STRIDE = 1000000;
  for (int k = 0; k < copies; ++k) {
    for (const auto* part : {&sequence.groundTruth, &sequence.results}) {
      for (ObjectRecord record : *part) {
        record.frame += k * sequence.frameCount;
        if (record.trackId != -1) record.trackId += k * ID_STRIDE;
        (part == &sequence.groundTruth ? out.groundTruth : out.results).push_back(record);
      }
    }
  }
  return out;
}

void trackEvalSequence(benchmark::State& state, int copies) {
  if (dataMissing(state)) return;
  const auto loaded =
      loadTrackingSequences((DATA / "label_02").string(), (DATA / "reference" / "results").string(),
                            {REFERENCE_SEQUENCES.front()});
  const std::vector<TrackingSequence> sequences = {repeated(loaded.front(), copies)};
  EvaluationOptions options;
  ClassEvaluation evaluation = evaluateTracking(sequences, options);
  const ClassEvaluation once = evaluateTracking(loaded, options);
  if (evaluation.clear.truePositives != copies * once.clear.truePositives) {
    fail("track_eval_sequence_x" + std::to_string(copies) + ": true positives");
  }
  for (auto _ : state) {
    evaluation = evaluateTracking(sequences, options);
    benchmark::DoNotOptimize(evaluation.samota);
  }
  state.counters["frames"] = static_cast<double>(sequences.front().frameCount);
}

const bool registered = [] {
  benchmark::RegisterBenchmark("track_eval_reference/zelvane", trackEvalReference)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("track_eval_sequence_x1/zelvane", trackEvalSequence, 1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("track_eval_sequence_x10/zelvane", trackEvalSequence, 10)
      ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
