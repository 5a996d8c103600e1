#include "prepared_class.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <unordered_map>

#include "box_footprint.h"
#include "eval/box_measures.h"

namespace zelvane {
namespace eval {
namespace detail {
namespace {

// The benchmark's neighbouring classes: objects of these types are neither right nor
// wrong when the class beside them is evaluated.
struct Neighbour {
  const char* objectClass;
  const char* neighbour;
};
constexpr Neighbour NEIGHBOURS[] = {{"car", "van"}, {"pedestrian", "person_sitting"}};

constexpr const char* DONT_CARE = "dontcare";

std::string lowerCase(const std::string& text) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// What a kept line is to the evaluation.
enum class Role { Dropped, Object, Neighbour, DontCare };

// "Keep only lines whose type contains the class name, or the neighbouring class, or
// dontcare; a line with track id -1 that is not dontcare is dropped." The neighbour
// and don't-care roles go by the whole type; a type that merely contains them is an
// object of the class.
Role roleOf(const ObjectRecord& record, const ClassRules& rules) {
  const std::string type = lowerCase(record.type);
  const bool contains =
      type.find(rules.objectClass) != std::string::npos ||
      (!rules.neighbour.empty() && type.find(rules.neighbour) != std::string::npos) ||
      type.find(DONT_CARE) != std::string::npos;
  if (!contains) return Role::Dropped;
  if (type == DONT_CARE) return Role::DontCare;
  if (record.trackId == -1) return Role::Dropped;
  return !rules.neighbour.empty() && type == rules.neighbour ? Role::Neighbour : Role::Object;
}

bool finiteRecord(const ObjectRecord& record) {
  const double values[] = {record.image.left,   record.image.top,  record.image.right,
                           record.image.bottom, record.box.x,      record.box.y,
                           record.box.z,        record.box.height, record.box.width,
                           record.box.length,   record.box.yaw,    record.score};
  return std::all_of(std::begin(values), std::end(values),
                     [](double value) { return std::isfinite(value); });
}

[[noreturn]] void refuse(const std::string& sequence, const std::string& reason) {
  throw std::invalid_argument("sequence " + sequence + ": " + reason);
}

// A kept record and its role.
struct Kept {
  const ObjectRecord* record;
  Role role;
};

// The kept records of `records`, ordered by frame and, within a frame, as given.
std::vector<Kept> keptByFrame(const std::vector<ObjectRecord>& records, const ClassRules& rules,
                              const std::string& sequence, long frameCount, const char* what) {
  std::vector<Kept> kept;
  for (const ObjectRecord& record : records) {
    const Role role = roleOf(record, rules);
    if (role == Role::Dropped) continue;
    if (record.frame < 0 || record.frame >= frameCount) {
      refuse(sequence, std::string(what) + " in frame " + std::to_string(record.frame) +
                           ", beyond its " + std::to_string(frameCount) + " frames");
    }
    if (!finiteRecord(record)) {
      refuse(sequence, std::string(what) + " in frame " + std::to_string(record.frame) +
                           " has a number that is not finite");
    }
    kept.push_back(Kept{&record, role});
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Kept& a, const Kept& b) { return a.record->frame < b.record->frame; });
  return kept;
}

// The records of one frame: the run of `kept` from `at` whose frame is `frame`.
std::vector<Kept> takeFrame(const std::vector<Kept>& kept, std::size_t& at, long frame) {
  std::vector<Kept> run;
  while (at < kept.size() && kept[at].record->frame == frame) run.push_back(kept[at++]);
  return run;
}

// Dense indices for the track ids of one sequence, refusing an id twice in a frame.
class TrackIndex {
 public:
  std::uint32_t indexOf(long trackId) {
    const auto [at, inserted] =
        indices_.emplace(trackId, static_cast<std::uint32_t>(indices_.size()));
    static_cast<void>(inserted);
    return at->second;
  }
  std::size_t size() const { return indices_.size(); }

 private:
  std::unordered_map<long, std::uint32_t> indices_;
};

void refuseRepeatedIds(const std::vector<Kept>& frame, const std::string& sequence, long f,
                       const char* what) {
  for (std::size_t i = 0; i < frame.size(); ++i) {
    for (std::size_t j = i + 1; j < frame.size(); ++j) {
      if (frame[i].role != Role::DontCare && frame[j].role != Role::DontCare &&
          frame[i].record->trackId == frame[j].record->trackId) {
        refuse(sequence, std::string(what) + " track " + std::to_string(frame[i].record->trackId) +
                             " appears twice in frame " + std::to_string(f));
      }
    }
  }
}

// What the footprint measures need of a box, computed once per box.
struct Geometry {
  core::detail::CornersD footprint;
  core::detail::VerticalExtent extent;
  bool finite;
};

Geometry geometryOf(const ObjectRecord& record) {
  Geometry geometry{footprintOf(record.box), verticalExtentOf(record.box), false};
  geometry.finite = allFinite(geometry.footprint);
  return geometry;
}

// The overlap of two boxes by `measure`, as `eval/box_measures.h` computes it.
double overlapOf(Measure measure, const ObjectRecord& truth, const Geometry& a,
                 const ObjectRecord& result, const Geometry& b) {
  if (measure == Measure::ImageOverlap) return imageOverlap(truth.image, result.image);
  if (!a.finite || !b.finite) return std::numeric_limits<double>::quiet_NaN();
  return measure == Measure::Overlap3d
             ? core::detail::overlap3dOfCorners(a.footprint, a.extent, b.footprint, b.extent)
             : core::detail::overlapOfCorners(a.footprint, b.footprint);
}

// The measure of one pair: its cost, value, similarity and whether it may match.
CandidatePair measurePair(const ObjectRecord& truth, const Geometry& truthGeometry,
                          const ObjectRecord& result, const Geometry& resultGeometry,
                          const EvaluationOptions& options) {
  CandidatePair pair{};
  if (options.measure == Measure::CentreDistance) {
    const double distance = centreDistance(truth.box, result.box);
    pair.cost = distance;
    pair.value = distance;
    pair.similarity = std::max(0.0, 1.0 - distance / options.threshold);
    pair.allowed = distance <= options.threshold;
    return pair;
  }
  const double overlap = overlapOf(options.measure, truth, truthGeometry, result, resultGeometry);
  // "A pair whose cost 1 - overlap is above 1 - threshold gets a huge cost": the test
  // is made on the cost, as the benchmark makes it, so that rounding decides alike.
  pair.cost = 1.0 - overlap;
  pair.value = overlap;
  pair.similarity = overlap;
  pair.allowed = pair.cost <= 1.0 - options.threshold;
  return pair;
}

long framesSpanned(const TrackingSequence& sequence) {
  long last = -1;
  for (const ObjectRecord& record : sequence.groundTruth) last = std::max(last, record.frame);
  for (const ObjectRecord& record : sequence.results) last = std::max(last, record.frame);
  if (last == std::numeric_limits<long>::max())
    refuse(sequence.name, "a frame number is too large");
  return last + 1;
}

PreparedSequence prepareSequence(const TrackingSequence& input, const ClassRules& rules,
                                 const EvaluationOptions& options) {
  PreparedSequence sequence;
  sequence.name = input.name;
  if (input.frameCount < 0) refuse(input.name, "frame count is negative");
  sequence.frameCount = input.frameCount > 0 ? input.frameCount : framesSpanned(input);
  const std::vector<Kept> truthKept =
      keptByFrame(input.groundTruth, rules, input.name, sequence.frameCount, "ground truth");
  const std::vector<Kept> resultKept =
      keptByFrame(input.results, rules, input.name, sequence.frameCount, "result");

  sequence.truthStart.assign(1, 0);
  sequence.resultStart.assign(1, 0);
  sequence.pairStart.assign(1, 0);
  TrackIndex truthTracks;
  TrackIndex resultTracks;
  std::vector<const ObjectRecord*> truthRecords;
  std::vector<const ObjectRecord*> regions;
  std::vector<Geometry> truthGeometry;
  std::vector<Geometry> resultGeometry;
  std::size_t nextTruth = 0;
  std::size_t nextResult = 0;
  while (nextTruth < truthKept.size() || nextResult < resultKept.size()) {
    const long frame = std::min(
        nextTruth < truthKept.size() ? truthKept[nextTruth].record->frame : sequence.frameCount,
        nextResult < resultKept.size() ? resultKept[nextResult].record->frame
                                       : sequence.frameCount);
    const std::vector<Kept> truthFrame = takeFrame(truthKept, nextTruth, frame);
    const std::vector<Kept> resultFrame = takeFrame(resultKept, nextResult, frame);
    sequence.frameNumbers.push_back(frame);
    refuseRepeatedIds(truthFrame, input.name, frame, "ground-truth");
    refuseRepeatedIds(resultFrame, input.name, frame, "result");
    truthRecords.clear();
    regions.clear();
    for (const Kept& kept : truthFrame) {
      if (kept.role == Role::DontCare) {
        regions.push_back(kept.record);
        continue;
      }
      const ObjectRecord& record = *kept.record;
      const std::uint32_t trajectory = truthTracks.indexOf(record.trackId);
      if (trajectory == sequence.trajectories.size()) sequence.trajectories.emplace_back();
      sequence.trajectories[trajectory].push_back(
          static_cast<std::uint32_t>(sequence.truths.size()));
      // "Ignored ground truth: an object with occlusion above 2, truncation above 0, or
      // of the neighbouring class."
      const bool ignored = record.occlusion > options.maxOcclusion ||
                           record.truncation > options.maxTruncation ||
                           kept.role == Role::Neighbour;
      sequence.truths.push_back(TruthObject{trajectory, ignored});
      truthRecords.push_back(&record);
    }
    const std::uint32_t firstResult = static_cast<std::uint32_t>(sequence.results.size());
    for (const Kept& kept : resultFrame) {
      const ObjectRecord& record = *kept.record;
      const std::uint32_t track = resultTracks.indexOf(record.trackId);
      if (track == sequence.trackScores.size()) sequence.trackScores.emplace_back();
      sequence.trackScores[track].push_back(record.score);
      // "Ignored results: a result of the neighbouring class, or whose image box is at
      // most 25 px high, or whose image box lies more than half inside a don't-care
      // region."
      bool ignorable = kept.role == Role::Neighbour ||
                       std::abs(record.image.top - record.image.bottom) <= options.minHeight;
      for (const ObjectRecord* region : regions) {
        ignorable = ignorable || imageCoverage(record.image, region->image) > 0.5;
      }
      sequence.results.push_back(ResultObject{track, ignorable});
    }
    const std::uint32_t firstTruth = sequence.truthStart.back();
    const bool footprints =
        options.measure == Measure::Overlap3d || options.measure == Measure::BirdsEyeOverlap;
    truthGeometry.clear();
    resultGeometry.clear();
    if (footprints && !truthRecords.empty()) {
      for (const ObjectRecord* record : truthRecords) truthGeometry.push_back(geometryOf(*record));
      for (const Kept& kept : resultFrame) resultGeometry.push_back(geometryOf(*kept.record));
    }
    const Geometry none{};
    for (std::size_t i = 0; i < truthRecords.size(); ++i) {
      for (std::size_t j = 0; j < resultFrame.size(); ++j) {
        CandidatePair pair =
            measurePair(*truthRecords[i], footprints ? truthGeometry[i] : none,
                        *resultFrame[j].record, footprints ? resultGeometry[j] : none, options);
        if (!pair.allowed && !(pair.similarity > 0.0)) continue;
        pair.truth = firstTruth + static_cast<std::uint32_t>(i);
        pair.result = firstResult + static_cast<std::uint32_t>(j);
        sequence.pairs.push_back(pair);
      }
    }
    sequence.truthStart.push_back(static_cast<std::uint32_t>(sequence.truths.size()));
    sequence.resultStart.push_back(static_cast<std::uint32_t>(sequence.results.size()));
    sequence.pairStart.push_back(static_cast<std::uint32_t>(sequence.pairs.size()));
  }
  return sequence;
}

}  // namespace

ClassRules classRules(const std::string& objectClass) {
  ClassRules rules{lowerCase(objectClass), ""};
  for (const Neighbour& neighbour : NEIGHBOURS) {
    if (rules.objectClass == neighbour.objectClass) rules.neighbour = neighbour.neighbour;
  }
  return rules;
}

PreparedClass prepareClass(const std::vector<TrackingSequence>& sequences,
                           const EvaluationOptions& options) {
  const ClassRules rules = classRules(options.objectClass);
  PreparedClass prepared;
  prepared.options = options;
  prepared.sequences.reserve(sequences.size());
  for (const TrackingSequence& sequence : sequences) {
    prepared.sequences.push_back(prepareSequence(sequence, rules, options));
  }
  return prepared;
}

}  // namespace detail
}  // namespace eval
}  // namespace zelvane
