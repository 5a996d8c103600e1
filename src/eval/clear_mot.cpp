#include "clear_mot.h"

#include <algorithm>
#include <cmath>

namespace zelvane {
namespace eval {
namespace detail {
namespace {

// The benchmark gives pairs below the threshold a cost of 1e9 and takes a full
// assignment; a cost limit far above every allowed cost (at most 1 for overlaps, the
// threshold for distances) makes the solver rank matchings alike: the most allowed
// pairs, then the least total.
constexpr double MATCH_COST_LIMIT = 1e9;

// No pair: an object left unmatched by a frame's cached matching.
constexpr std::uint32_t NO_PAIR = 0xffffffffu;
// The most pairs of a frame whose matching is cached: one bit each.
constexpr std::uint32_t CACHED_PAIRS = 64;

// How one ground-truth trajectory fared in a pass.
struct TrajectoryWalk {
  long idSwitches = 0;
  long fragmentations = 0;
  long tracked = 0;
  long counted = 0;
};

// Step 6 along one trajectory: `ids[k]` the track matched in its k-th entry (-1 for
// none), `ignored[k]` its mark. `last` is the track of the latest match since the
// latest ignored entry; the first entry sets it, ignored or not, as it counts towards
// `tracked` when matched.
TrajectoryWalk walkTrajectory(const std::vector<long>& ids, const std::vector<char>& ignored) {
  TrajectoryWalk walk;
  const std::size_t n = ids.size();
  long last = ids[0];
  walk.tracked = ids[0] >= 0 ? 1 : 0;
  for (std::size_t k = 0; k < n; ++k) walk.counted += ignored[k] ? 0 : 1;
  for (std::size_t k = 1; k < n; ++k) {
    if (ignored[k]) {
      last = -1;
      continue;
    }
    const bool matched = ids[k] != -1;
    // A switch: matched here and in the entry before, to another track than the last.
    if (matched && last != -1 && ids[k - 1] != -1 && ids[k] != last) ++walk.idSwitches;
    // A fragment: a match that differs from the entry before (resumed or changed), with
    // a match since the last ignored entry, and held in the next entry.
    if (k + 1 < n && matched && last != -1 && ids[k - 1] != ids[k] && ids[k + 1] != -1) {
      ++walk.fragmentations;
    }
    if (matched) {
      ++walk.tracked;
      last = ids[k];
    }
  }
  // The last entry, when not ignored and matched, fragments whenever it differs from
  // the entry before, a first match there included.
  if (n > 1 && !ignored[n - 1] && ids[n - 1] != -1 && ids[n - 2] != ids[n - 1]) {
    ++walk.fragmentations;
  }
  return walk;
}

}  // namespace

void finishClearMot(ClearMot& c) {
  c.ignoredGroundTruthObjects = c.ignoredTruePositives + c.ignoredFalseNegatives;
  c.countedGroundTruthObjects = c.truePositives - c.ignoredTruePositives + c.falseNegatives;
  const double counted = static_cast<double>(c.countedGroundTruthObjects);
  const double errors = static_cast<double>(c.falseNegatives + c.falsePositives);
  c.mota =
      counted > 0.0
          ? 1.0 - static_cast<double>(c.falseNegatives + c.falsePositives + c.idSwitches) / counted
          : 0.0;
  c.moda = counted > 0.0 ? 1.0 - errors / counted : 0.0;
  c.motal = counted > 0.0
                ? 1.0 - (errors + std::log10(static_cast<double>(c.idSwitches) + 1.0)) / counted
                : 0.0;
  c.motp = ratio(c.matchedOverlapSum, static_cast<double>(c.truePositives));
  c.modp = ratio(c.frameOverlapSum, static_cast<double>(c.frames));
  c.recall = ratio(static_cast<double>(c.truePositives),
                   static_cast<double>(c.truePositives + c.falseNegatives));
  c.precision = ratio(static_cast<double>(c.truePositives),
                      static_cast<double>(c.truePositives + c.falsePositives));
  c.f1 = ratio(2.0 * (c.precision * c.recall), c.precision + c.recall);
  c.falseAlarmRate = ratio(static_cast<double>(c.falsePositives), static_cast<double>(c.frames));
  const double trajectories =
      static_cast<double>(c.groundTruthTrajectories - c.ignoredGroundTruthTrajectories);
  c.mostlyTrackedRatio = ratio(static_cast<double>(c.mostlyTracked), trajectories);
  c.partlyTrackedRatio = ratio(static_cast<double>(c.partlyTracked), trajectories);
  c.mostlyLostRatio = ratio(static_cast<double>(c.mostlyLost), trajectories);
}

void addClearMot(ClearMot& total, const ClearMot& part) {
  total.truePositives += part.truePositives;
  total.ignoredTruePositives += part.ignoredTruePositives;
  total.falsePositives += part.falsePositives;
  total.falseNegatives += part.falseNegatives;
  total.ignoredFalseNegatives += part.ignoredFalseNegatives;
  total.idSwitches += part.idSwitches;
  total.fragmentations += part.fragmentations;
  total.groundTruthObjects += part.groundTruthObjects;
  total.resultObjects += part.resultObjects;
  total.ignoredResultObjects += part.ignoredResultObjects;
  total.groundTruthTrajectories += part.groundTruthTrajectories;
  total.ignoredGroundTruthTrajectories += part.ignoredGroundTruthTrajectories;
  total.resultTrajectories += part.resultTrajectories;
  total.mostlyTracked += part.mostlyTracked;
  total.partlyTracked += part.partlyTracked;
  total.mostlyLost += part.mostlyLost;
  total.frames += part.frames;
  total.matchedOverlapSum += part.matchedOverlapSum;
  total.frameOverlapSum += part.frameOverlapSum;
}

ClearMotPasses::ClearMotPasses(const PreparedClass& prepared) : prepared_(prepared) {
  for (const PreparedSequence& sequence : prepared.sequences) {
    everMatched_.emplace_back(sequence.results.size(), 0);
    trackScore_.emplace_back(sequence.trackScores.size(), 0.0);
    trackKept_.emplace_back(sequence.trackScores.size(), 1);
    cached_.emplace_back(sequence.frameNumbers.size(), 0);
    cachedPairs_.emplace_back(sequence.frameNumbers.size(), 0);
    cachedMatch_.emplace_back(sequence.truths.size(), NO_PAIR);
  }
}

void ClearMotPasses::updateTrackScores() {
  // "Each result track's score is replaced by the mean score of that track id over the
  // whole sequence", in every pass: after the first, the scores averaged are the means
  // the pass before left, added one by one as the benchmark adds them.
  for (std::size_t s = 0; s < prepared_.sequences.size(); ++s) {
    const auto& scores = prepared_.sequences[s].trackScores;
    for (std::size_t track = 0; track < scores.size(); ++track) {
      const std::vector<double>& raw = scores[track];
      double sum = 0.0;
      if (firstPass_) {
        for (const double score : raw) sum += score;
      } else {
        for (std::size_t i = 0; i < raw.size(); ++i) sum += trackScore_[s][track];
      }
      trackScore_[s][track] = sum / static_cast<double>(raw.size());
    }
  }
  firstPass_ = false;
}

void ClearMotPasses::matchFrame(const PreparedSequence& sequence, std::size_t s, std::size_t f,
                                SequencePass& pass, std::vector<double>* matchedScores) {
  const std::uint32_t truthBegin = sequence.truthStart[f];
  const std::uint32_t truthEnd = sequence.truthStart[f + 1];
  const std::uint32_t resultBegin = sequence.resultStart[f];
  const std::uint32_t resultEnd = sequence.resultStart[f + 1];
  const std::vector<char>& kept = trackKept_[s];
  std::vector<char>& everMatched = everMatched_[s];
  ClearMot& clear = pass.clear;

  // Step 2: the allowed pairs of the results the threshold keeps.
  const std::uint32_t pairBegin = sequence.pairStart[f];
  const std::uint32_t pairEnd = sequence.pairStart[f + 1];
  const bool cacheable = pairEnd - pairBegin <= CACHED_PAIRS;
  std::uint64_t keptPairs = 0;
  candidates_.clear();
  candidatePairs_.clear();
  for (std::uint32_t p = pairBegin; p < pairEnd; ++p) {
    const CandidatePair& pair = sequence.pairs[p];
    if (!pair.allowed || !kept[sequence.results[pair.result].track]) continue;
    candidates_.push_back(
        core::AssignmentCandidate{pair.truth - truthBegin, pair.result - resultBegin, pair.cost});
    candidatePairs_.push_back(p);
    if (cacheable) keptPairs |= std::uint64_t{1} << (p - pairBegin);
  }
  // The matching depends on the kept pairs alone: a frame whose pairs are those of its
  // last matching is matched as then, without solving again.
  std::uint32_t* matchOf = cachedMatch_[s].data();
  const bool reuse = cacheable && cached_[s][f] != 0 && cachedPairs_[s][f] == keptPairs;
  if (!reuse && !candidates_.empty()) {
    const core::Assignment assignment = solver_.solve(
        truthEnd - truthBegin, resultEnd - resultBegin, candidates_, MATCH_COST_LIMIT);
    std::fill(matchOf + truthBegin, matchOf + truthEnd, NO_PAIR);
    for (const core::AssignedPair& match : assignment.matches) {
      std::size_t k = 0;
      while (candidates_[k].row != match.row || candidates_[k].column != match.column) ++k;
      matchOf[truthBegin + match.row] = candidatePairs_[k];
    }
  } else if (!reuse) {
    std::fill(matchOf + truthBegin, matchOf + truthEnd, NO_PAIR);
  }
  cached_[s][f] = cacheable ? 1 : 0;
  cachedPairs_[s][f] = keptPairs;

  long matched = 0;
  long ignoredMatched = 0;
  double countedValue = 0.0;
  for (std::uint32_t truth = truthBegin; truth < truthEnd; ++truth) {
    if (matchOf[truth] == NO_PAIR) continue;
    const CandidatePair& pair = sequence.pairs[matchOf[truth]];
    const std::uint32_t result = pair.result;
    pass.truthMatch[truth] = static_cast<std::int32_t>(result);
    pass.resultMatch[result] = static_cast<std::int32_t>(truth);
    everMatched[result] = 1;
    ++matched;
    clear.matchedOverlapSum += pair.value;
    if (matchedScores != nullptr) {
      matchedScores->push_back(trackScore_[s][sequence.results[result].track]);
    }
    // Step 4: a matched object that is ignored leaves its pair a TP, counted as an ITP.
    if (sequence.truths[truth].ignored) {
      ++ignoredMatched;
    } else {
      countedValue += pair.value;
      pass.resultCounted[result] = 1;
    }
  }

  // Step 3: results the threshold keeps, unmatched, never matched before, ignorable.
  long keptResults = 0;
  long ignoredResults = 0;
  for (std::uint32_t r = resultBegin; r < resultEnd; ++r) {
    if (!kept[sequence.results[r].track]) continue;
    ++keptResults;
    if (pass.resultMatch[r] != -1) continue;
    if (!everMatched[r] && sequence.results[r].ignorable) {
      ++ignoredResults;
    } else {
      pass.resultCounted[r] = 1;
    }
  }
  // Step 4: unmatched ignored objects.
  long ignoredUnmatched = 0;
  for (std::uint32_t t = truthBegin; t < truthEnd; ++t) {
    if (pass.truthMatch[t] == -1 && sequence.truths[t].ignored) ++ignoredUnmatched;
  }
  // Step 5.
  const long truths = static_cast<long>(truthEnd - truthBegin);
  clear.truePositives += matched;
  clear.ignoredTruePositives += ignoredMatched;
  clear.ignoredFalseNegatives += ignoredUnmatched;
  clear.falseNegatives += truths - matched - ignoredUnmatched;
  clear.falsePositives += keptResults - matched - ignoredResults;
  clear.ignoredResultObjects += ignoredResults;
  clear.groundTruthObjects += truths;
  clear.resultObjects += keptResults;
  const long countedMatches = matched - ignoredMatched;
  clear.frameOverlapSum +=
      countedMatches > 0 ? countedValue / static_cast<double>(countedMatches) : 1.0;
}

void ClearMotPasses::walkTrajectories(const PreparedSequence& sequence, SequencePass& pass) {
  std::vector<long> ids;
  std::vector<char> ignored;
  ClearMot& clear = pass.clear;
  for (const std::vector<std::uint32_t>& trajectory : sequence.trajectories) {
    ids.clear();
    ignored.clear();
    for (const std::uint32_t truth : trajectory) {
      const std::int32_t result = pass.truthMatch[truth];
      ids.push_back(result == -1 ? -1L : static_cast<long>(sequence.results[result].track));
      ignored.push_back(sequence.truths[truth].ignored ? 1 : 0);
    }
    if (std::all_of(ignored.begin(), ignored.end(), [](char mark) { return mark != 0; })) {
      ++clear.ignoredGroundTruthTrajectories;
      continue;
    }
    if (std::all_of(ids.begin(), ids.end(), [](long id) { return id == -1; })) {
      ++clear.mostlyLost;
      continue;
    }
    const TrajectoryWalk walk = walkTrajectory(ids, ignored);
    clear.idSwitches += walk.idSwitches;
    clear.fragmentations += walk.fragmentations;
    const double share = static_cast<double>(walk.tracked) / static_cast<double>(walk.counted);
    if (share > 0.8) {
      ++clear.mostlyTracked;
    } else if (share < 0.2) {
      ++clear.mostlyLost;
    } else {
      ++clear.partlyTracked;
    }
  }
}

PassOutcome ClearMotPasses::run(bool applyThreshold, double threshold, bool collectScores) {
  updateTrackScores();
  PassOutcome outcome;
  outcome.sequences.resize(prepared_.sequences.size());
  for (std::size_t s = 0; s < prepared_.sequences.size(); ++s) {
    const PreparedSequence& sequence = prepared_.sequences[s];
    // Step 1: whole tracks below the threshold are left out.
    for (std::size_t track = 0; track < trackKept_[s].size(); ++track) {
      const bool kept = !applyThreshold || !(trackScore_[s][track] < threshold);
      trackKept_[s][track] = kept ? 1 : 0;
    }
    SequencePass& pass = outcome.sequences[s];
    pass.truthMatch.assign(sequence.truths.size(), -1);
    pass.resultMatch.assign(sequence.results.size(), -1);
    pass.resultCounted.assign(sequence.results.size(), 0);
    for (std::size_t f = 0; f < sequence.frameNumbers.size(); ++f) {
      matchFrame(sequence, s, f, pass, collectScores ? &outcome.matchedScores : nullptr);
    }
    // An empty frame has no true positive: MODP counts it 1.
    pass.clear.frameOverlapSum +=
        static_cast<double>(sequence.frameCount - static_cast<long>(sequence.frameNumbers.size()));
    walkTrajectories(sequence, pass);
    pass.clear.frames = sequence.frameCount;
    pass.clear.groundTruthTrajectories = static_cast<long>(sequence.trajectories.size());
    pass.clear.resultTrajectories = static_cast<long>(sequence.trackScores.size());
    addClearMot(outcome.total, pass.clear);
    finishClearMot(pass.clear);
  }
  finishClearMot(outcome.total);
  return outcome;
}

}  // namespace detail
}  // namespace eval
}  // namespace zelvane
