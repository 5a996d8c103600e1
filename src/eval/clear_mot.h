// One pass of the CLEAR MOT evaluation over a prepared class: per frame, the matching,
// the ignore rules and the counts; per ground-truth trajectory, identity switches,
// fragmentations and how much of it was tracked. Passes run in order on one
// `ClearMotPasses`, which carries what the benchmark carries from pass to pass: the
// results matched so far and the tracks' re-averaged scores. Internal to the
// evaluation.
#pragma once

#include <cstdint>
#include <vector>

#include "core/assignment.h"
#include "prepared_class.h"

namespace zelvane {
namespace eval {
namespace detail {

/// `numerator / denominator`, 0 for a zero denominator: a score over nothing counted.
inline double ratio(double numerator, double denominator) {
  return denominator != 0.0 ? numerator / denominator : 0.0;
}

/// The outcome of one pass in one sequence.
struct SequencePass {
  /// Counts and sums; the ratios are filled by `finishClearMot`.
  ClearMot clear;
  /// Per ground-truth object: the index of its matched result, or -1.
  std::vector<std::int32_t> truthMatch;
  /// Per result: the index of its matched ground-truth object, or -1.
  std::vector<std::int32_t> resultMatch;
  /// Per result: 1 when the pass counted it, as a TP of an object not ignored or as an
  /// FP; 0 when the threshold left it out, it was ignored, or its object was.
  std::vector<char> resultCounted;
};

/// The outcome of one pass.
struct PassOutcome {
  std::vector<SequencePass> sequences;
  /// The sums over the sequences, ratios filled.
  ClearMot total;
  /// The scores of the matched pairs' results, when asked for.
  std::vector<double> matchedScores;
};

/// Fills the ratios of `clear` from its counts and sums (the rules of step 7).
void finishClearMot(ClearMot& clear);

/// Adds the counts and sums of `part` to `total` (ratios are not touched).
void addClearMot(ClearMot& total, const ClearMot& part);

/// The passes of one class, in the order they are run.
class ClearMotPasses {
 public:
  explicit ClearMotPasses(const PreparedClass& prepared);

  /// Runs the next pass: without a threshold when `applyThreshold` is false, else
  /// leaving out the tracks whose score is below `threshold`. `collectScores` fills
  /// `matchedScores`.
  PassOutcome run(bool applyThreshold, double threshold, bool collectScores);

 private:
  void updateTrackScores();
  void matchFrame(const PreparedSequence& sequence, std::size_t sequenceIndex, std::size_t frame,
                  SequencePass& pass, std::vector<double>* matchedScores);
  static void walkTrajectories(const PreparedSequence& sequence, SequencePass& pass);

  const PreparedClass& prepared_;
  /// Per sequence, per result: matched in this or an earlier pass.
  std::vector<std::vector<char>> everMatched_;
  /// Per sequence, per result track: its score in the current pass.
  std::vector<std::vector<double>> trackScore_;
  /// Per sequence, per result track: kept by the current pass's threshold.
  std::vector<std::vector<char>> trackKept_;
  /// Per sequence, per frame: whether the frame's last matching is kept, and the
  /// allowed pairs it was made on (a bit per pair of the frame; frames of up to 64
  /// pairs only). A frame whose kept pairs have not changed since is matched as before.
  std::vector<std::vector<char>> cached_;
  std::vector<std::vector<std::uint64_t>> cachedPairs_;
  /// Per sequence, per ground-truth object: the pair of its last matching, or NO_PAIR.
  std::vector<std::vector<std::uint32_t>> cachedMatch_;
  bool firstPass_ = true;
  core::AssignmentSolver solver_;
  std::vector<core::AssignmentCandidate> candidates_;
  std::vector<std::uint32_t> candidatePairs_;
};

}  // namespace detail
}  // namespace eval
}  // namespace zelvane
