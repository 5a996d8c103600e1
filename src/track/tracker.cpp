#include "track/tracker.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include "track/motion_model_steps.h"

namespace zelvane {
namespace track {
namespace {

[[noreturn]] void refuse(const std::string& what) {
  throw std::invalid_argument("Tracker: " + what);
}

std::string classLabel(const ClassParameters& c, std::size_t index) {
  return "class " + std::to_string(index) + " (\"" + c.name + "\")";
}

void checkNotNegative(const ClassParameters& c, std::size_t index, const std::string& name,
                      double value) {
  if (!(value >= 0.0) || !std::isfinite(value)) {
    refuse(classLabel(c, index) + ": " + name + " must be finite and not negative, not " +
           std::to_string(value));
  }
}

void checkClass(const ClassParameters& c, std::size_t index) {
  if (c.motionModel != MotionModelKind::ConstantVelocity &&
      c.motionModel != MotionModelKind::ConstantTurnRate) {
    refuse(classLabel(c, index) + ": unknown motion model");
  }
  auto checkModel = [&c, index](const char* model) {
    return [&c, index, model](const char* name, float value) {
      checkNotNegative(c, index, std::string(model) + "." + name, value);
    };
  };
  forEachParameter(c.constantVelocity, checkModel("constantVelocity"));
  forEachParameter(c.constantTurnRate, checkModel("constantTurnRate"));
  const MeasurementNoise& m = c.measurementNoise;
  const std::pair<const char*, float> measured[] = {{"measurementNoise.horizontal", m.horizontal},
                                                    {"measurementNoise.vertical", m.vertical},
                                                    {"measurementNoise.heading", m.heading},
                                                    {"measurementNoise.size", m.size}};
  for (const auto& [name, value] : measured) {
    // A measurement without noise would leave nothing to weigh it against.
    if (!(value > 0.0f) || !std::isfinite(value)) {
      refuse(classLabel(c, index) + ": " + name + " must be finite and positive, not " +
             std::to_string(value));
    }
  }
  try {
    // The association's own check of its threshold, on an empty frame.
    static_cast<void>(core::associate({}, {}, c.metric, c.threshold, c.method));
  } catch (const std::invalid_argument& e) {
    refuse(classLabel(c, index) + ": " + e.what());
  }
  if (c.method != core::AssociationMethod::Optimal && c.method != core::AssociationMethod::Greedy) {
    refuse(classLabel(c, index) + ": unknown association method");
  }
  if (std::isnan(c.birthScore)) refuse(classLabel(c, index) + ": birthScore is NaN");
  if (c.confirmHits < 1) {
    refuse(classLabel(c, index) + ": confirmHits must be at least 1, not " +
           std::to_string(c.confirmHits));
  }
  const std::pair<const char*, int> counts[] = {{"maxMisses", c.maxMisses},
                                                {"maxTentativeMisses", c.maxTentativeMisses},
                                                {"output.coastingFrames", c.output.coastingFrames}};
  for (const auto& [name, value] : counts) {
    if (value < 0) {
      refuse(classLabel(c, index) + ": " + name + " must not be negative, not " +
             std::to_string(value));
    }
  }
}

void checkClasses(const std::vector<ClassParameters>& classes) {
  if (classes.empty()) refuse("no classes given");
  std::set<std::string> names;
  for (std::size_t i = 0; i < classes.size(); ++i) {
    checkClass(classes[i], i);
    if (!names.insert(classes[i].name).second) {
      refuse("the class name \"" + classes[i].name + "\" is given twice");
    }
  }
}

// Writes the box of the first entries of `x` (centre, heading, extents), as the
// association compares it, into `box`: a state kept from one frame to the next, whose
// members are overwritten in place rather than built anew.
template <class Vector>
void setBox(core::State& box, const Vector& x) {
  if (!box.position) box = core::State::box(Eigen::Vector3f::Zero(), 0.0f, 0.0f, 0.0f, 0.0f);
  box.position->mean = x.template head<3>();
  box.heading->mean = x[HEADING];
  box.dimensions->length = x[LENGTH];
  box.dimensions->width = x[WIDTH];
  box.dimensions->height = x[HEIGHT];
}

void writeState(const ClassParameters& c, const Estimate& e, core::State& state) {
  if (c.motionModel == MotionModelKind::ConstantTurnRate) {
    writeState(c.constantTurnRate, e, state);
  } else {
    writeState(c.constantVelocity, e, state);
  }
}

Estimate initialOf(const ClassParameters& c, const MeasurementVector& z) {
  const MeasurementVector r = c.measurementNoise.variances();
  return c.motionModel == MotionModelKind::ConstantTurnRate
             ? initialEstimate(c.constantTurnRate, z, r)
             : initialEstimate(c.constantVelocity, z, r);
}

void predictAll(const ClassParameters& c, std::vector<Estimate>& estimates, float dt) {
  if (c.motionModel == MotionModelKind::ConstantTurnRate) {
    predict(c.constantTurnRate, estimates.data(), estimates.size(), dt);
  } else {
    predict(c.constantVelocity, estimates.data(), estimates.size(), dt);
  }
}

bool byId(const TrackedBox& a, const TrackedBox& b) { return a.record.id < b.record.id; }

}  // namespace

void Tracker::ClassTracks::add(const Estimate& estimate, const TrackRecord& record) {
  estimates.push_back(estimate);
  records.push_back(record);
}

template <class Keep>
void Tracker::ClassTracks::keepIf(Keep keep) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (!keep(records[i])) continue;
    if (kept != i) {
      records[kept] = records[i];
      estimates[kept] = estimates[i];
    }
    ++kept;
  }
  records.resize(kept);
  estimates.resize(kept);
}

Tracker::Tracker(std::vector<ClassParameters> classes) : classes_(std::move(classes)) {
  checkClasses(classes_);
  tracks_.resize(classes_.size());
}

Tracker::Tracker(const Snapshot& snapshot)
    : classes_(snapshot.classes),
      nextId_(snapshot.nextId),
      frames_(snapshot.frames),
      time_(snapshot.time) {
  checkClasses(classes_);
  tracks_.resize(classes_.size());
  if (snapshot.frames > 0 && !std::isfinite(snapshot.time))
    refuse("the snapshot's time is not finite");
  std::set<std::uint64_t> ids;
  const Track* previous = nullptr;
  for (const Track& track : snapshot.tracks) {
    const TrackRecord& r = track.record;
    if (r.classIndex >= classes_.size()) {
      refuse("track " + std::to_string(r.id) + " has class " + std::to_string(r.classIndex) +
             ", and there are " + std::to_string(classes_.size()) + " classes");
    }
    if (r.id >= nextId_ || !ids.insert(r.id).second) {
      refuse("track id " + std::to_string(r.id) + " is given twice or not below the next id " +
             std::to_string(nextId_));
    }
    if (previous != nullptr &&
        (previous->record.classIndex > r.classIndex ||
         (previous->record.classIndex == r.classIndex && previous->record.id > r.id))) {
      refuse("the tracks are not ordered by class, then by id");
    }
    if (r.hits < 1 || r.misses < 0 || r.age < 0) {
      refuse("track " + std::to_string(r.id) + " has an impossible count of hits, misses or age");
    }
    tracks_[r.classIndex].add(track.estimate, r);
    previous = &track;
  }
}

std::vector<TrackedBox> Tracker::step(double time, const std::vector<Detection>& detections) {
  if (!std::isfinite(time)) refuse("the time " + std::to_string(time) + " is not finite");
  if (frames_ > 0 && time < time_) {
    refuse("the time " + std::to_string(time) + " s is before the last frame's, " +
           std::to_string(time_) + " s");
  }
  measurements_.resize(detections.size());
  for (std::size_t i = 0; i < detections.size(); ++i) {
    const Detection& d = detections[i];
    if (d.classIndex >= classes_.size()) {
      refuse("detection " + std::to_string(i) + " has class " + std::to_string(d.classIndex) +
             ", and there are " + std::to_string(classes_.size()) + " classes");
    }
    if (!std::isfinite(d.score)) refuse("detection " + std::to_string(i) + " has no finite score");
    measurements_[i] = measurementOf(d.box);
    if (!measurements_[i].allFinite()) {
      refuse("detection " + std::to_string(i) +
             " has no finite box (a position, heading and dimensions are needed)");
    }
  }
  const float dt = frames_ == 0 ? 0.0f : static_cast<float>(time - time_);
  ++frames_;
  time_ = time;
  std::vector<TrackedBox> reported;
  std::size_t live = detections.size();
  for (const ClassTracks& tracks : tracks_) live += tracks.records.size();
  reported.reserve(live);
  for (std::size_t c = 0; c < classes_.size(); ++c) stepClass(c, detections, dt, reported);
  // Each class reports by id; only several classes need merging.
  if (!std::is_sorted(reported.begin(), reported.end(), byId)) {
    std::sort(reported.begin(), reported.end(), byId);
  }
  return reported;
}

void Tracker::stepClass(std::size_t classIndex, const std::vector<Detection>& detections, float dt,
                        std::vector<TrackedBox>& reported) {
  const ClassParameters& c = classes_[classIndex];
  ClassTracks& tracks = tracks_[classIndex];
  predictAll(c, tracks.estimates, dt);

  predicted_.resize(tracks.estimates.size());
  for (std::size_t k = 0; k < predicted_.size(); ++k) setBox(predicted_[k], tracks.estimates[k].x);
  detectionIndex_.clear();
  for (std::size_t i = 0; i < detections.size(); ++i) {
    if (detections[i].classIndex == classIndex) detectionIndex_.push_back(i);
  }
  classDetections_.resize(detectionIndex_.size());
  for (std::size_t j = 0; j < detectionIndex_.size(); ++j) {
    setBox(classDetections_[j], measurements_[detectionIndex_[j]]);
  }
  const core::Association association =
      core::associate(predicted_, classDetections_, c.metric, c.threshold, c.method);

  // Updates: each matched track takes its detection, the others miss; the tracks that
  // live on and the output policy names are reported, all in one pass over the tracks.
  // The detections' boxes were checked as the frame arrived; the noise is checked here,
  // once, and refuses every update as `update` would.
  const MeasurementVector r = c.measurementNoise.variances();
  const bool noiseUsable = r.allFinite() && (r.array() >= 0.0f).all();
  trackMatch_.assign(tracks.records.size(), NO_DETECTION);
  for (const core::AssociatedPair& match : association.matches)
    trackMatch_[match.row] = match.column;
  detectionTaken_.assign(detectionIndex_.size(), 0);
  const bool firstFrames = frames_ <= static_cast<std::uint64_t>(c.confirmHits);
  auto ends = [&c](const TrackRecord& record) {
    return record.misses > (record.confirmed ? c.maxMisses : c.maxTentativeMisses);
  };
  auto reports = [&c, firstFrames](const TrackRecord& record) {
    if (record.misses == 0)
      return record.confirmed || (c.output.tentativeInFirstFrames && firstFrames);
    return record.confirmed && record.misses <= c.output.coastingFrames;
  };
  for (std::size_t k = 0; k < tracks.records.size(); ++k) {
    TrackRecord& record = tracks.records[k];
    std::size_t d = NO_DETECTION;
    if (trackMatch_[k] != NO_DETECTION) {
      const std::size_t candidate = detectionIndex_[trackMatch_[k]];
      if (noiseUsable && updateChecked(tracks.estimates[k], measurements_[candidate], r) !=
                             UpdateOutcome::Rejected) {
        d = candidate;
        detectionTaken_[trackMatch_[k]] = 1;
        ++record.hits;
        record.score = detections[d].score;
        record.imageBox = detections[d].imageBox;
        record.confirmed = record.confirmed || record.hits >= c.confirmHits;
      }
    }
    record.misses = d == NO_DETECTION ? record.misses + 1 : 0;
    ++record.age;
    if (!ends(record) && reports(record)) report(classIndex, k, d, reported);
  }
  tracks.keepIf([&ends](const TrackRecord& record) { return !ends(record); });

  // Births from the detections left, in their order.
  for (std::size_t j = 0; j < detectionIndex_.size(); ++j) {
    const std::size_t d = detectionIndex_[j];
    if (detectionTaken_[j] != 0 || detections[d].score < c.birthScore) continue;
    TrackRecord record;
    record.id = nextId_++;
    record.classIndex = classIndex;
    record.hits = 1;
    record.confirmed = c.confirmHits <= 1;
    record.score = detections[d].score;
    record.imageBox = detections[d].imageBox;
    tracks.add(initialOf(c, measurements_[d]), record);
    if (reports(record)) report(classIndex, tracks.records.size() - 1, d, reported);
  }
}

void Tracker::report(std::size_t classIndex, std::size_t track, std::size_t detection,
                     std::vector<TrackedBox>& reported) const {
  const ClassTracks& tracks = tracks_[classIndex];
  TrackedBox& box = reported.emplace_back();
  box.record = tracks.records[track];
  writeState(classes_[classIndex], tracks.estimates[track], box.state);
  box.score = box.record.score;
  box.detection = detection;
}

std::vector<TrackedBox> Tracker::tracks() const {
  std::vector<TrackedBox> all;
  for (std::size_t c = 0; c < tracks_.size(); ++c) {
    for (std::size_t k = 0; k < tracks_[c].records.size(); ++k) report(c, k, NO_DETECTION, all);
  }
  std::sort(all.begin(), all.end(), byId);
  return all;
}

Tracker::Snapshot Tracker::snapshot() const {
  Snapshot s;
  s.classes = classes_;
  for (const ClassTracks& tracks : tracks_) {
    for (std::size_t k = 0; k < tracks.records.size(); ++k) {
      s.tracks.push_back({tracks.records[k], tracks.estimates[k]});
    }
  }
  s.nextId = nextId_;
  s.frames = frames_;
  s.time = time_;
  return s;
}

}  // namespace track
}  // namespace zelvane
