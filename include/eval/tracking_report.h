/// @file
/// What a tracking evaluation shows: the benchmark's table (one row per class and an
/// overall row), the full figures as JSON, and the sMOTA-over-recall curve drawn by
/// gnuplot. The command line and the Python package print through these.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include <zelvane/eval/tracking_evaluation.h>
#include <zelvane/eval/tracking_records.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace eval {

/// Evaluates `sequences` for each class of `classes` in turn with `options` (its
/// `objectClass` replaced), as `evaluateTracking` does. `progress` is called after each
/// pass with the class's index, its passes done and its passes in all.
ZELVANE_CORE_API std::vector<ClassEvaluation> evaluateTrackingClasses(
    const std::vector<TrackingSequence>& sequences, const std::vector<std::string>& classes,
    const EvaluationOptions& options,
    const std::function<void(std::size_t classIndex, std::size_t done, std::size_t total)>&
        progress = {});

/// The row of several classes together: the means of the ratios over the classes and the
/// sums of the counts (the benchmark's "overall").
struct OverallScores {
  double samota = 0.0;
  double mota = 0.0;
  double motp = 0.0;
  double hota = 0.0;
  double idf1 = 0.0;
  long idSwitches = 0;
  long fragmentations = 0;
  long falsePositives = 0;
  long falseNegatives = 0;
};

/// The overall row of `evaluations`; all zero for none.
ZELVANE_CORE_API OverallScores overallScores(const std::vector<ClassEvaluation>& evaluations);

/// The benchmark's table, one block for each run of consecutive evaluations with the
/// same measure and threshold (blocks apart by a blank line): a title naming the
/// measure and threshold, a header, one row per class (sAMOTA, MOTA, MOTP, IDS, FRAG,
/// FP, FN, HOTA, IDF1; ratios in percent with two decimals, MOTP of the centre distance
/// in metres) and, for two classes or more, the overall row. Every line ends with
/// "\n".
ZELVANE_CORE_API std::string formatTrackingTable(const std::vector<ClassEvaluation>& evaluations);

/// Writes every figure of `evaluations` as one JSON document: "classes", per class its
/// options, the whole-run CLEAR MOT figures, sAMOTA, AMOTA, AMOTP, the recall levels
/// (the curve), identity and HOTA figures, and the same per sequence; then "overall",
/// the overall row of each block of the table. Numbers are written so that they read
/// back as the same doubles.
ZELVANE_CORE_API void writeTrackingJson(std::ostream& output,
                                        const std::vector<ClassEvaluation>& evaluations);

/// A gnuplot script, data included, that draws the sMOTA-over-recall curve of each
/// evaluation (recall on x, sMOTA on y, both 0 to 1; titled by class, and by measure
/// when there are several) into the PNG file `pngPath`.
ZELVANE_CORE_API std::string recallCurveScript(const std::vector<ClassEvaluation>& evaluations,
                                               const std::string& pngPath);

/// Draws the curve into `pngPath` by running `gnuplot` (found on the PATH) on
/// `recallCurveScript`. Throws `std::runtime_error` when gnuplot cannot be run ("gnuplot
/// is not installed; install it (Debian: gnuplot-nox) to draw the curve") or fails
/// ("gnuplot failed (exit status N) drawing PATH").
ZELVANE_CORE_API void plotRecallCurve(const std::vector<ClassEvaluation>& evaluations,
                                      const std::string& pngPath);

}  // namespace eval
}  // namespace zelvane
