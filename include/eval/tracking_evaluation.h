/// @file
/// The tracking evaluation of the driving benchmark, for one object class at a time:
/// the CLEAR MOT figures, their averages over recall (sAMOTA, AMOTA, AMOTP) with the
/// sMOTA-over-recall curve, the identity scores (IDF1) and HOTA, per sequence and over
/// all sequences, on 3-D boxes, footprints seen from above, image rectangles or centre
/// distances.
///
/// The benchmark's rules, as this evaluation applies them (each is a named step in
/// src/eval/; the figures the benchmark's own evaluator prints for the same files are
/// reproduced to the last printed digit):
///
/// Loading.
///   - A line is kept when its type, in lower case, contains the class, its neighbouring
///     class ("van" for "car", "person_sitting" for "pedestrian") or "dontcare"; a kept
///     line with track id -1 that is not "dontcare" is dropped. Ground-truth "dontcare"
///     lines are the frame's don't-care regions, every other kept line an object.
///   - Each result track's score is the mean of its scores over the sequence. Every
///     pass (below) takes the mean again of the scores left by the pass before, as the
///     benchmark's evaluator does: the mean of n copies of m, summed one by one, may
///     differ from m in its last bits, which decides whether a track whose score equals
///     a threshold is kept.
/// One pass at a score threshold (none for the first), frame by frame:
///   1. Result tracks whose score is below the threshold are left out (whole tracks).
///   2. Ground truth (rows) is matched to results (columns) with the library's
///      assignment solver: a pair is allowed when its cost 1 - overlap is at most
///      1 - threshold (for the centre distance: when the distance is at most the
///      threshold); the matching takes as many allowed pairs as it can, then the least
///      total cost. Every matched pair is a true positive (TP); its overlap counts
///      towards MOTP.
///   3. A result not matched in this frame is ignored when it was never matched in this
///      or an earlier pass of the class and it is of the neighbouring class, at most
///      `minHeight` pixels high, or more than half inside a don't-care region.
///   4. A ground-truth object is ignored when its occlusion is above `maxOcclusion`,
///      its truncation above `maxTruncation`, or it is of the neighbouring class.
///      Matched, its pair stays a TP (counted again as an ignored TP, ITP); unmatched,
///      it is an ignored false negative (IFN).
///   5. False negatives (FN): objects neither matched nor ignored; false positives
///      (FP): results neither matched nor ignored. N, the objects counted, is TP - ITP
///      + FN.
///   6. Along each ground-truth trajectory (the frames in which its track id appears),
///      with the track id of its matched result (or none) and its ignored mark in each
///      of them: an identity switch (IDS) where it is matched in two successive entries,
///      neither ignored, to different ids; a fragmentation (FRAG) at an entry that is
///      not ignored and not the last, matched, with a different id (or none) in the
///      entry before, a match since the last ignored entry, and a match in the entry
///      after; and at the last entry when it is not ignored, matched, and its id differs
///      from the entry before. The share of entries that are not ignored in which it is
///      matched (its first entry counting when matched, ignored or not) makes it
///      mostly tracked (above 0.8), mostly lost (below 0.2, or never matched) or partly
///      tracked; a trajectory ignored in every entry is none of these.
///   7. MOTA = 1 - (FN + FP + IDS) / N, MOTP = the mean overlap of the TPs, MODA =
///      1 - (FN + FP) / N, MOTAL = 1 - (FN + FP + log10(IDS + 1)) / N, recall TP / (TP +
///      FN), precision TP / (TP + FP), F1 their harmonic mean, the false-alarm rate FP
///      per frame, MODP the mean over frames of the mean overlap of the frame's TPs that
///      are not ignored (1 for a frame without).
/// Averaged over recall:
///   - The scores of the first pass's TPs, from high to low, are walked with a level c
///     from 0: at score i (from 0), with left = (i + 1) / P, right = (i + 2) / P (right =
///     left at the last), P = TP + FN of the first pass, the score is skipped when
///     right - c < c - left and it is not the last; otherwise (score, c) is recorded and
///     c rises by 1 / `recallLevels`. The first record (c = 0) is dropped.
///   - Each recorded (threshold, r) is one pass: sMOTA_r = min(1, max(0, 1 - (FN + FP +
///     IDS - (1 - r) N) / (r N))). sAMOTA, AMOTA and AMOTP are the sums of sMOTA_r,
///     MOTA_r and MOTP_r over the levels divided by `recallLevels`: a tracker whose
///     scores run out early gets nothing for the levels it never reaches.
///   - The whole-run figures come from one more pass at the threshold of the level with
///     the highest MOTA (the first such; without a threshold when no level's MOTA is
///     above 0).
/// Identity and HOTA, on the whole-run pass's objects that counted: ground truth not
/// ignored, results matched to it or false positives.
///   - IDF1 (E. Ristani et al., "Performance measures and a data set for multi-target,
///     multi-camera tracking", ECCV workshops 2016): ground-truth trajectories are
///     matched one to one to result trajectories (the library's solver) so that the
///     number of frames in which a matched pair's boxes match (the rule of step 2) is
///     largest: IDTP; IDFN and IDFP are the ground-truth and result objects left over.
///     IDF1 = 2 IDTP / (2 IDTP + IDFP + IDFN), IDP = IDTP / (IDTP + IDFP), IDR = IDTP /
///     (IDTP + IDFN).
///   - HOTA (J. Luiten et al., "HOTA: A higher order metric for evaluating multi-object
///     tracking", IJCV 129 (2021) 548-578), for each alpha of 0.05, 0.10, ..., 0.95: the
///     similarity of a pair is its overlap (for the centre distance: 1 - distance /
///     threshold, at least 0); A_max(i, j) of a ground-truth and a result trajectory is
///     P / (|i| + |j| - P), P the frames in which their similarity is at least alpha,
///     |i| and |j| their objects; each frame is matched (the
///     library's solver) among the pairs of similarity at least alpha, most pairs first,
///     then the largest sum of A_max + 1e-6 x similarity. TP, FN, FP are the matched
///     pairs and the objects left over, A(c) = TPA / (TPA + FNA + FPA) for each TP c,
///     DetA = TP / (TP + FN + FP), AssA = the mean of A(c) over the TPs, HOTA = sqrt(DetA
///     x AssA), LocA the mean similarity of the TPs; each figure is then averaged over
///     the 19 alphas.
/// Sequences are evaluated together: counts are summed over them before any ratio, the
/// trajectories stay within their sequence.
///
/// Ratios whose denominator is 0 are 0 (MODP: 1 for a frame without TPs, as stated).
/// Cost: overlaps are computed once per class for every pair of a frame whose bounding
/// rectangles meet; each pass then matches each frame on the pairs kept, with no
/// allocation per frame once the solver's memory has grown.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <zelvane/core/name_table.h>
#include <zelvane/eval/tracking_records.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace eval {

/// How two boxes are compared (`eval/box_measures.h`).
enum class Measure {
  /// `overlap3d` of the camera-frame boxes; the threshold is an overlap.
  Overlap3d,
  /// `birdsEyeOverlap` of the footprints; the threshold is an overlap.
  BirdsEyeOverlap,
  /// `imageOverlap` of the image rectangles; the threshold is an overlap.
  ImageOverlap,
  /// `centreDistance` on the ground; the threshold is a distance in metres, MOTP the
  /// mean distance of the TPs.
  CentreDistance,
};

/// The short names of the measures: "3d", "bev", "2d", "distance", and the alias
/// "image" of "2d"; "?" outside the enumeration.
ZELVANE_CORE_API const NameTable<Measure>& measureNames();

/// The short name of a measure (`measureNames`).
ZELVANE_CORE_API const char* measureName(Measure measure);

/// The measure named `name` or its alias (`measureNames`); false for another name.
[[nodiscard]] ZELVANE_CORE_API bool parseMeasure(const std::string& name, Measure& measure);

/// What to evaluate and the benchmark's fixed limits.
struct EvaluationOptions {
  /// The class, compared in lower case with the types ("car", "pedestrian", "cyclist").
  std::string objectClass = "car";
  Measure measure = Measure::Overlap3d;
  /// Smallest overlap of a match, or largest centre distance in metres.
  double threshold = 0.25;
  /// Ground truth truncated beyond this is ignored.
  int maxTruncation = 0;
  /// Ground truth occluded beyond this is ignored.
  int maxOcclusion = 2;
  /// Results whose image rectangle is at most this many pixels high are ignored when
  /// unmatched.
  double minHeight = 25.0;
  /// The number of recall levels of sAMOTA (the benchmark's 40).
  int recallLevels = 40;
};

/// The CLEAR MOT figures of one pass, over one sequence or all of them.
struct ClearMot {
  long truePositives = 0;
  long ignoredTruePositives = 0;
  long falsePositives = 0;
  long falseNegatives = 0;
  long ignoredFalseNegatives = 0;
  long idSwitches = 0;
  long fragmentations = 0;
  /// Ground-truth objects of the class and its neighbour (don't-care regions aside).
  long groundTruthObjects = 0;
  /// ITP + IFN.
  long ignoredGroundTruthObjects = 0;
  /// N: the ground-truth objects counted, TP - ITP + FN.
  long countedGroundTruthObjects = 0;
  /// Result objects kept by the pass's threshold.
  long resultObjects = 0;
  /// Results ignored by step 3.
  long ignoredResultObjects = 0;
  /// Distinct ground-truth track ids of the class and its neighbour.
  long groundTruthTrajectories = 0;
  /// Trajectories ignored in every entry.
  long ignoredGroundTruthTrajectories = 0;
  /// Distinct result track ids of the class and its neighbour, before any threshold.
  long resultTrajectories = 0;
  long mostlyTracked = 0;
  long partlyTracked = 0;
  long mostlyLost = 0;
  /// Frames evaluated.
  long frames = 0;
  /// Sum of the TPs' overlaps (or distances).
  double matchedOverlapSum = 0.0;
  /// Sum over frames of MODP's per-frame term.
  double frameOverlapSum = 0.0;

  double mota = 0.0;
  double motp = 0.0;
  double moda = 0.0;
  double modp = 0.0;
  double motal = 0.0;
  double recall = 0.0;
  double precision = 0.0;
  double f1 = 0.0;
  double falseAlarmRate = 0.0;
  /// MT, PT, ML over the trajectories not ignored.
  double mostlyTrackedRatio = 0.0;
  double partlyTrackedRatio = 0.0;
  double mostlyLostRatio = 0.0;
};

/// One recall level: the pass at `threshold`, recorded at level `recall`.
struct RecallLevel {
  double recall = 0.0;
  double threshold = 0.0;
  double smota = 0.0;
  ClearMot clear;
};

/// The identity figures (IDF1 and its parts).
struct IdentityScores {
  long idTruePositives = 0;
  long idFalsePositives = 0;
  long idFalseNegatives = 0;
  double idf1 = 0.0;
  double idPrecision = 0.0;
  double idRecall = 0.0;
};

/// HOTA and its parts, averaged over the alphas, and each at every alpha.
struct HotaScores {
  double hota = 0.0;
  double detA = 0.0;
  double assA = 0.0;
  double locA = 0.0;
  double detRe = 0.0;
  double detPr = 0.0;
  double assRe = 0.0;
  double assPr = 0.0;
  /// 0.05, 0.10, ..., 0.95.
  std::vector<double> alphas;
  std::vector<double> hotaAtAlpha;
  std::vector<double> detAAtAlpha;
  std::vector<double> assAAtAlpha;
  std::vector<double> locAAtAlpha;
  std::vector<long> truePositivesAtAlpha;
  std::vector<long> falseNegativesAtAlpha;
  std::vector<long> falsePositivesAtAlpha;
};

/// The whole-run figures of one sequence.
struct SequenceScores {
  std::string name;
  ClearMot clear;
  IdentityScores identity;
  HotaScores hota;
};

/// Everything one class's evaluation gives.
struct ClassEvaluation {
  EvaluationOptions options;
  /// The recall levels reached, in order: the sMOTA-over-recall curve.
  std::vector<RecallLevel> levels;
  double samota = 0.0;
  double amota = 0.0;
  double amotp = 0.0;
  /// Whether the whole-run pass had a threshold, and which.
  bool thresholdApplied = false;
  double threshold = 0.0;
  /// The whole-run pass over all sequences.
  ClearMot clear;
  IdentityScores identity;
  HotaScores hota;
  /// The whole-run pass of each sequence, in the order given.
  std::vector<SequenceScores> sequences;
};

/// Called after each pass with the passes done and the passes there will be (the total
/// is known after the first pass; until then it is 1).
using EvaluationProgress = std::function<void(std::size_t done, std::size_t total)>;

/// Evaluates `sequences` for `options`, as the file comment states. Throws
/// `std::invalid_argument` for a threshold that is not finite (or, for an overlap, not
/// in (0, 1]; for a distance, not above 0), recall levels below 1, a frame count below
/// 0, an object whose frame is at or beyond its sequence's frame count, a track id
/// twice in one frame of the objects kept, or two sequences of one name; each message
/// names the sequence. Cost: linear in the objects and their overlapping pairs, times
/// the number of passes (at most `recallLevels` + 2) for the matching.
ZELVANE_CORE_API ClassEvaluation evaluateTracking(const std::vector<TrackingSequence>& sequences,
                                                  const EvaluationOptions& options,
                                                  const EvaluationProgress& progress = {});

}  // namespace eval
}  // namespace zelvane
