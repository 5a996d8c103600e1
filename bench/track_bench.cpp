// The tracker's speed.
//
// - track_kitti_car: the Car run of the driving benchmark's six development sequences
//   (0001 0006 0008 0010 0012 0013, 1,819 frames) with the example settings
//   (examples/tracker_kitti.xml), tracking time only: the detection files are read and
//   converted before timing, a tracker is made per sequence and stepped through every
//   frame. Its goal is a frame rate: 200 times the published Python tracker's 93.8
//   frames per second measured on this kind of machine. Its counters (boxes reported,
//   the sum of their ids) are what bench/python_bench.py checks its own run against.
//   Skipped, with a message, without the shared data.
// - track_frame_300: one frame of the 300 tracks of tracker_frame_300 (predict,
//   associate, update, the reported boxes), in steady state: the tracks were started
//   from their boxes, and every frame brings the frame's 330 detections (each track's
//   moved and turned copy, and 30 clutter boxes too faint to start tracks), against
//   `associate` alone on the same predicted tracks and detections. The tracker runs the
//   example's Car class with the association of associate_frame_300 (overlap above
//   0.1): the Car class's generalised overlap at -0.2 looks for pairs apart as far as
//   2.5 box diagonals, which in a frame this crowded costs a hundred times the filter
//   and would hide what the filter costs.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "assignment_costs.h"
#include "core/association.h"
#include "eval/camera_box.h"
#include "eval/tracking_files.h"
#include "settings_manager.h"
#include "track/tracker.h"
#include "track/tracker_settings.h"
#include "tracker_frame.h"

namespace {

namespace fs = std::filesystem;
using zelvane::track::ClassParameters;
using zelvane::track::Detection;
using zelvane::track::TrackedBox;
using zelvane::track::Tracker;

const fs::path DATA = fs::path(ZELVANE_SHARED_DATA_DIR) / "kitti-tracking";
const std::vector<std::pair<std::string, long>> SEQUENCES = {
    {"0001", 447}, {"0006", 270}, {"0008", 390}, {"0010", 294}, {"0012", 78}, {"0013", 340}};
constexpr double FRAME_PERIOD = 0.1;

void fail(const std::string& what) {
  std::fprintf(stderr, "benchmark check failed: %s\n", what.c_str());
  std::exit(1);
}

// The example settings' classes, or only the one named `name`.
std::vector<ClassParameters> exampleClasses(const std::string& name = "") {
  zelvane::SettingsManager settings;
  settings.addXML(std::string(ZELVANE_EXAMPLES_DIR) + "/tracker_kitti.xml");
  std::vector<ClassParameters> classes = zelvane::track::readTrackerSettings(settings);
  if (name.empty()) return classes;
  for (const ClassParameters& c : classes) {
    if (c.name == name) return {c};
  }
  fail("the example settings have no class " + name);
  return {};
}

// Each sequence's detections of cars, frame by frame (class index 0).
std::vector<std::vector<std::vector<Detection>>> carSequences() {
  std::vector<std::vector<std::vector<Detection>>> sequences;
  for (const auto& [name, frames] : SEQUENCES) {
    std::vector<std::vector<Detection>> sequence(static_cast<std::size_t>(frames));
    const auto records = zelvane::eval::readTrackingFile(
        (DATA / "detection" / "pointrcnn_Car_val" / (name + ".txt")).string(),
        zelvane::eval::TrackingFormat::Detections);
    for (const auto& record : records) {
      Detection d;
      d.box = zelvane::eval::stateFromCameraBox(record.box);
      d.score = static_cast<float>(record.score);
      d.imageBox = {record.image.left, record.image.top, record.image.right, record.image.bottom};
      sequence.at(static_cast<std::size_t>(record.frame)).push_back(d);
    }
    sequences.push_back(std::move(sequence));
  }
  return sequences;
}

void trackKittiCar(benchmark::State& state) {
  if (!fs::exists(DATA / "detection")) {
    state.SkipWithError(("shared data not found at " + DATA.string()).c_str());
    return;
  }
  const std::vector<ClassParameters> car = exampleClasses("Car");
  const auto sequences = carSequences();
  double frames = 0, reported = 0, idSum = 0;
  for (auto _ : state) {
    frames = reported = idSum = 0;
    for (const auto& sequence : sequences) {
      Tracker tracker(car);
      for (std::size_t f = 0; f < sequence.size(); ++f) {
        const std::vector<TrackedBox> boxes =
            tracker.step(static_cast<double>(f) * FRAME_PERIOD, sequence[f]);
        reported += static_cast<double>(boxes.size());
        for (const TrackedBox& box : boxes) idSum += static_cast<double>(box.record.id);
      }
      frames += static_cast<double>(sequence.size());
    }
  }
  if (frames != 1819 || reported == 0) fail("track_kitti_car: no tracks over the 1,819 frames");
  state.counters["frames"] = frames;
  state.counters["reported"] = reported;
  state.counters["id_sum"] = idSum;
}

// The tracker frame as detections; `score` for all of them.
std::vector<Detection> detectionsOf(const std::vector<tracker_bench::Box>& boxes, float score) {
  std::vector<Detection> detections;
  for (const tracker_bench::Box& box : boxes) {
    Detection d;
    d.box = tracker_bench::stateOf(box);
    d.score = score;
    detections.push_back(d);
  }
  return detections;
}

// A tracker holding the 300 tracks of the frame, confirmed, and the next frame's time.
Tracker trackerOf300(const ClassParameters& car, double& time) {
  ClassParameters parameters = car;
  parameters.birthScore = 0.5f;  // the frame's detections, scored 0, start nothing
  Tracker tracker({parameters});
  const std::vector<Detection> tracks = detectionsOf(tracker_bench::frame300().tracks, 1.0f);
  time = 0.0;
  while (tracker.tracks().size() < 300 || !tracker.tracks().front().record.confirmed) {
    tracker.step(time, tracks);
    time += FRAME_PERIOD;
  }
  return tracker;
}

// The example's Car class with the association of associate_frame_300.
ClassParameters frameClass() {
  ClassParameters car = exampleClasses("Car").front();
  car.metric = zelvane::core::AssociationMetric::Overlap;
  car.threshold = tracker_bench::GATED_MIN_OVERLAP;
  return car;
}

void trackFrame300(benchmark::State& state) {
  const ClassParameters car = frameClass();
  double time = 0.0;
  Tracker tracker = trackerOf300(car, time);
  const std::vector<Detection> detections =
      detectionsOf(tracker_bench::frame300().detections, 0.0f);
  std::vector<TrackedBox> boxes;
  for (auto _ : state) {
    boxes = tracker.step(time, detections);
    time += FRAME_PERIOD;
  }
  std::size_t matched = 0;
  for (const TrackedBox& box : boxes) matched += box.detection != zelvane::track::NO_DETECTION;
  if (boxes.size() != 300 || matched < 297)
    fail("track_frame_300: the tracks lost their detections");
  state.counters["matched"] = static_cast<double>(matched);
}

void associateFrame300(benchmark::State& state) {
  const ClassParameters car = frameClass();
  double time = 0.0;
  Tracker tracker = trackerOf300(car, time);
  const std::vector<Detection> detections =
      detectionsOf(tracker_bench::frame300().detections, 0.0f);
  // The steady state of track_frame_300: the tracks after a few frames of detections.
  for (int k = 0; k < 20; ++k, time += FRAME_PERIOD) tracker.step(time, detections);
  std::vector<zelvane::core::State> predicted;
  for (const TrackedBox& box : tracker.tracks()) predicted.push_back(box.state);
  std::vector<zelvane::core::State> boxes;
  for (const Detection& d : detections) boxes.push_back(d.box);
  zelvane::core::Association result;
  for (auto _ : state) {
    result = zelvane::core::associate(predicted, boxes, car.metric, car.threshold, car.method);
    benchmark::ClobberMemory();
  }
  if (result.matches.size() < 297) fail("associate of track_frame_300: too few matches");
  state.counters["matched"] = static_cast<double>(result.matches.size());
}

void registerAll() {
  benchmark::RegisterBenchmark("track_kitti_car/zelvane", trackKittiCar)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("track_frame_300/zelvane", trackFrame300)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("track_frame_300/associate", associateFrame300)
      ->Unit(benchmark::kMicrosecond);
}

[[maybe_unused]] const bool registered = (registerAll(), true);

}  // namespace
