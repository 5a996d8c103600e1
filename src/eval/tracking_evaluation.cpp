#include "eval/tracking_evaluation.h"

#include <cmath>
#include <set>
#include <stdexcept>

#include "clear_mot.h"
#include "hota.h"
#include "identity_scores.h"
#include "prepared_class.h"

namespace zelvane {
namespace eval {
namespace {

constexpr EnumName<Measure> MEASURE_NAMES[] = {{Measure::Overlap3d, "3d"},
                                               {Measure::BirdsEyeOverlap, "bev"},
                                               {Measure::ImageOverlap, "2d"},
                                               {Measure::CentreDistance, "distance"}};
constexpr EnumName<Measure> MEASURE_ALIASES[] = {{Measure::ImageOverlap, "image"}};

// The threshold of the whole-run pass when no level's MOTA beats this.
constexpr double LEAST_BEST_MOTA = 0.0;

void validate(const std::vector<TrackingSequence>& sequences, const EvaluationOptions& options) {
  if (options.objectClass.empty()) throw std::invalid_argument("evaluation: the class is empty");
  const double threshold = options.threshold;
  if (options.measure == Measure::CentreDistance) {
    if (!std::isfinite(threshold) || !(threshold > 0.0)) {
      throw std::invalid_argument("evaluation: a distance threshold must be finite and above 0");
    }
  } else if (!(threshold > 0.0) || !(threshold <= 1.0)) {
    throw std::invalid_argument("evaluation: an overlap threshold must lie in (0, 1]");
  }
  if (options.recallLevels < 1) {
    throw std::invalid_argument("evaluation: there must be at least one recall level");
  }
  std::set<std::string> names;
  for (const TrackingSequence& sequence : sequences) {
    if (!names.insert(sequence.name).second) {
      throw std::invalid_argument("evaluation: sequence " + sequence.name + " is given twice");
    }
  }
}

struct LevelChoice {
  double threshold;
  double recall;
};

// "Walk the sorted scores with a level c starting at 0: at score i, with left = (i + 1)
// / P and right = (i + 2) / P (right = left at the last score), skip the score when
// right - c < c - left and it is not the last; otherwise record (score i, level c) and
// raise c by 1/40. Drop the first record."
std::vector<LevelChoice> recallLevels(std::vector<double> scores, long positives, int levels) {
  std::sort(scores.begin(), scores.end(), [](double a, double b) { return a > b; });
  std::vector<LevelChoice> chosen;
  const auto p = static_cast<double>(positives);
  const double step = 1.0 / static_cast<double>(levels);
  double level = 0.0;
  for (std::size_t i = 0; i < scores.size(); ++i) {
    const bool last = i + 1 == scores.size();
    const double left = static_cast<double>(i + 1) / p;
    const double right = last ? left : static_cast<double>(i + 2) / p;
    if (right - level < level - left && !last) continue;
    chosen.push_back(LevelChoice{scores[i], level});
    level += step;
  }
  if (!chosen.empty()) chosen.erase(chosen.begin());
  return chosen;
}

// sMOTA_r = min(1, max(0, 1 - (FN + FP + IDS - (1 - r) N) / (r N))).
double scaledMota(const ClearMot& clear, double recall) {
  const auto counted = static_cast<double>(clear.countedGroundTruthObjects);
  if (counted == 0.0 || recall == 0.0) return 0.0;
  const auto errors =
      static_cast<double>(clear.falseNegatives + clear.falsePositives + clear.idSwitches);
  return std::min(1.0,
                  std::max(0.0, 1.0 - (errors - (1.0 - recall) * counted) / (recall * counted)));
}

// The identity and HOTA figures of the whole-run pass, per sequence and over all.
void scoreIdentities(const detail::PreparedClass& prepared, const detail::PassOutcome& pass,
                     ClassEvaluation& evaluation) {
  core::AssignmentSolver solver;
  detail::IdentityCounts identityTotal;
  detail::HotaSums hotaTotal = detail::emptyHotaSums();
  for (std::size_t s = 0; s < prepared.sequences.size(); ++s) {
    const detail::PreparedSequence& sequence = prepared.sequences[s];
    const detail::SequencePass& sequencePass = pass.sequences[s];
    const detail::IdentityCounts identity = detail::identityCounts(sequence, sequencePass, solver);
    const detail::HotaSums hota = detail::hotaSums(sequence, sequencePass, solver);
    detail::addIdentityCounts(identityTotal, identity);
    detail::addHotaSums(hotaTotal, hota);
    evaluation.sequences.push_back(SequenceScores{sequence.name, sequencePass.clear,
                                                  detail::identityScores(identity),
                                                  detail::hotaScores(hota)});
  }
  evaluation.identity = detail::identityScores(identityTotal);
  evaluation.hota = detail::hotaScores(hotaTotal);
}

}  // namespace

const NameTable<Measure>& measureNames() {
  static constexpr NameTable<Measure> table(MEASURE_NAMES, MEASURE_ALIASES, "?");
  return table;
}

const char* measureName(Measure measure) { return measureNames().name(measure); }

bool parseMeasure(const std::string& name, Measure& measure) {
  return measureNames().parse(name, measure);
}

ClassEvaluation evaluateTracking(const std::vector<TrackingSequence>& sequences,
                                 const EvaluationOptions& options,
                                 const EvaluationProgress& progress) {
  validate(sequences, options);
  const detail::PreparedClass prepared = detail::prepareClass(sequences, options);
  detail::ClearMotPasses passes(prepared);
  ClassEvaluation evaluation;
  evaluation.options = options;

  // The first pass, without a threshold, gives the scores that pick the levels.
  const detail::PassOutcome first = passes.run(false, 0.0, true);
  const std::vector<LevelChoice> levels =
      recallLevels(first.matchedScores, first.total.truePositives + first.total.falseNegatives,
                   options.recallLevels);
  const std::size_t total = levels.size() + 2;
  if (progress) progress(1, total);

  double bestMota = LEAST_BEST_MOTA;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const detail::PassOutcome outcome = passes.run(true, levels[i].threshold, false);
    RecallLevel level;
    level.recall = levels[i].recall;
    level.threshold = levels[i].threshold;
    level.clear = outcome.total;
    level.smota = scaledMota(outcome.total, level.recall);
    evaluation.samota += level.smota;
    evaluation.amota += level.clear.mota;
    evaluation.amotp += level.clear.motp;
    if (level.clear.mota > bestMota) {
      bestMota = level.clear.mota;
      evaluation.thresholdApplied = true;
      evaluation.threshold = level.threshold;
    }
    evaluation.levels.push_back(level);
    if (progress) progress(i + 2, total);
  }
  const auto levelCount = static_cast<double>(options.recallLevels);
  evaluation.samota /= levelCount;
  evaluation.amota /= levelCount;
  evaluation.amotp /= levelCount;

  const detail::PassOutcome whole =
      passes.run(evaluation.thresholdApplied, evaluation.threshold, false);
  evaluation.clear = whole.total;
  scoreIdentities(prepared, whole, evaluation);
  if (progress) progress(total, total);
  return evaluation;
}

}  // namespace eval
}  // namespace zelvane
