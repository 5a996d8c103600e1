#include "prepared_class.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>
#include <unordered_map>

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

// A kept record and its role, bucketed by frame.
struct Kept {
  const ObjectRecord* record;
  Role role;
};

// The kept records of `records`, grouped by frame in the order given within a frame.
std::vector<std::vector<Kept>> keptByFrame(const std::vector<ObjectRecord>& records,
                                           const ClassRules& rules, const std::string& sequence,
                                           long frameCount, const char* what) {
  std::vector<std::vector<Kept>> frames(static_cast<std::size_t>(frameCount));
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
    frames[static_cast<std::size_t>(record.frame)].push_back(Kept{&record, role});
  }
  return frames;
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

// The measure of one pair: its cost, value, similarity and whether it may match.
CandidatePair measurePair(const ObjectRecord& truth, const ObjectRecord& result,
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
  const double overlap = options.measure == Measure::Overlap3d ? overlap3d(truth.box, result.box)
                         : options.measure == Measure::BirdsEyeOverlap
                             ? birdsEyeOverlap(truth.box, result.box)
                             : imageOverlap(truth.image, result.image);
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
  return last + 1;
}

PreparedSequence prepareSequence(const TrackingSequence& input, const ClassRules& rules,
                                 const EvaluationOptions& options) {
  PreparedSequence sequence;
  sequence.name = input.name;
  if (input.frameCount < 0) refuse(input.name, "frame count is negative");
  sequence.frameCount = input.frameCount > 0 ? input.frameCount : framesSpanned(input);
  const auto truthFrames =
      keptByFrame(input.groundTruth, rules, input.name, sequence.frameCount, "ground truth");
  const auto resultFrames =
      keptByFrame(input.results, rules, input.name, sequence.frameCount, "result");

  const auto frames = static_cast<std::size_t>(sequence.frameCount);
  sequence.truthStart.assign(1, 0);
  sequence.resultStart.assign(1, 0);
  sequence.pairStart.assign(1, 0);
  TrackIndex truthTracks;
  TrackIndex resultTracks;
  std::vector<const ObjectRecord*> truthRecords;
  std::vector<const ObjectRecord*> regions;
  for (std::size_t f = 0; f < frames; ++f) {
    refuseRepeatedIds(truthFrames[f], input.name, static_cast<long>(f), "ground-truth");
    refuseRepeatedIds(resultFrames[f], input.name, static_cast<long>(f), "result");
    truthRecords.clear();
    regions.clear();
    for (const Kept& kept : truthFrames[f]) {
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
    for (const Kept& kept : resultFrames[f]) {
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
    for (std::size_t i = 0; i < truthRecords.size(); ++i) {
      for (std::size_t j = 0; j < resultFrames[f].size(); ++j) {
        CandidatePair pair = measurePair(*truthRecords[i], *resultFrames[f][j].record, options);
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
