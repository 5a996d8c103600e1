// zelvane_track_eval: evaluates a tracker's results folder against a ground-truth
// folder of the driving benchmark, for the classes and thresholds given, and prints
// the benchmark's table; writes every figure as JSON and draws the sMOTA-over-recall
// curve when asked.
//
// Exit status: 0 success, 1 a bad command line, 2 an input that cannot be read or is
// bad (reported as `file:line: reason`), 3 an output (JSON, curve) that cannot be
// written or drawn.
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "eval/tracking_evaluation.h"
#include "eval/tracking_files.h"
#include "eval/tracking_report.h"
#include "modules/command_line.h"

namespace po = boost::program_options;
namespace eval = zelvane::eval;

namespace {

constexpr int EXIT_COMMAND_LINE = 1;
constexpr int EXIT_INPUT = 2;
constexpr int EXIT_OUTPUT = 3;

struct Arguments {
  std::string groundTruth;
  std::string results;
  std::string sequenceList;
  std::vector<std::string> classes;
  std::string measure;
  std::vector<double> thresholds;
  eval::EvaluationOptions options;
  std::string json;
  std::string plot;
  bool quiet = false;
};

// Shows the evaluation's progress on a terminal, once it has run long enough for the
// operator to wonder.
class Progress {
 public:
  explicit Progress(bool quiet)
      : enabled_(!quiet && isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {}

  void update(const std::string& what, std::size_t done, std::size_t total) {
    if (!enabled_ || std::chrono::steady_clock::now() - start_ < std::chrono::milliseconds(500)) {
      return;
    }
    shown_ = true;
    std::cerr << "\r\033[Kevaluating " << what << ": pass " << done << " of " << total
              << std::flush;
  }

  ~Progress() {
    if (shown_) std::cerr << "\r\033[K" << std::flush;
  }

  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  Progress(Progress&&) = delete;
  Progress& operator=(Progress&&) = delete;

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
};

// Parses the command line; false with the reason on standard error (or the help on
// standard output, `helped` set).
bool parse(int argc, char** argv, Arguments& arguments, bool& helped) {
  po::options_description visible("zelvane_track_eval [options]");
  // clang-format off
  visible.add_options()
      ("help,h", "Show this help")
      ("ground-truth,g", po::value<std::string>(&arguments.groundTruth),
       "Folder of ground-truth label files, one NNNN.txt per sequence")
      ("results,r", po::value<std::string>(&arguments.results),
       "Folder of the tracker's result files, one NNNN.txt per sequence")
      ("sequences,s", po::value<std::string>(&arguments.sequenceList),
       "Sequence list: one sequence a line, 'name', 'name frames' or 'name unused 0 frames' "
       "(default: every *.txt of the ground-truth folder)")
      ("class,c", po::value<std::vector<std::string>>(&arguments.classes),
       "Class to evaluate, repeatable (default: car, pedestrian, cyclist)")
      ("measure,m", po::value<std::string>(&arguments.measure)->default_value("3d"),
       "How boxes are compared: 3d, bev (footprints from above), 2d (image boxes), "
       "distance (centres on the ground)")
      ("threshold,t", po::value<std::vector<double>>(&arguments.thresholds),
       "Smallest overlap of a match, or largest centre distance in metres; repeatable "
       "(default: 0.25, for distance 2)")
      ("max-truncation", po::value<int>(&arguments.options.maxTruncation)->default_value(0),
       "Ground truth truncated beyond this is ignored")
      ("max-occlusion", po::value<int>(&arguments.options.maxOcclusion)->default_value(2),
       "Ground truth occluded beyond this is ignored")
      ("min-height", po::value<double>(&arguments.options.minHeight)->default_value(25.0),
       "Unmatched results at most this many pixels high are ignored")
      ("recall-levels", po::value<int>(&arguments.options.recallLevels)->default_value(40),
       "Recall levels of sAMOTA")
      ("json,j", po::value<std::string>(&arguments.json),
       "Write every figure as JSON to this file (- for standard output)")
      ("plot,p", po::value<std::string>(&arguments.plot),
       "Draw the sMOTA-over-recall curve into this PNG file (needs gnuplot)")
      ("quiet,q", po::bool_switch(&arguments.quiet), "No progress line");
  // clang-format on
  po::variables_map values;
  const auto read =
      zelvane::modules::parseCommandLine("zelvane_track_eval", argc, argv, visible, values);
  if (read != zelvane::modules::CommandLine::Parsed) {
    helped = read == zelvane::modules::CommandLine::HelpShown;
    return false;
  }
  if (arguments.groundTruth.empty() || arguments.results.empty()) {
    std::cerr << "zelvane_track_eval: --ground-truth and --results are required\n";
    return false;
  }
  if (!eval::parseMeasure(arguments.measure, arguments.options.measure)) {
    std::cerr << "zelvane_track_eval: --measure must be " << eval::measureNames().choices("")
              << ", not '" << arguments.measure << "'\n";
    return false;
  }
  if (arguments.classes.empty()) arguments.classes = {"car", "pedestrian", "cyclist"};
  if (arguments.thresholds.empty()) {
    arguments.thresholds = {arguments.options.measure == eval::Measure::CentreDistance ? 2.0
                                                                                       : 0.25};
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  bool helped = false;
  if (!parse(argc, argv, arguments, helped)) return helped ? 0 : EXIT_COMMAND_LINE;

  std::vector<eval::TrackingSequence> sequences;
  try {
    std::vector<eval::SequenceEntry> entries;
    if (!arguments.sequenceList.empty()) entries = eval::readSequenceList(arguments.sequenceList);
    sequences = eval::loadTrackingSequences(arguments.groundTruth, arguments.results, entries);
  } catch (const eval::TrackingFileError& error) {
    std::cerr << "zelvane_track_eval: " << error.what() << "\n";
    return EXIT_INPUT;
  }

  std::vector<eval::ClassEvaluation> evaluations;
  try {
    Progress progress(arguments.quiet);
    for (const double threshold : arguments.thresholds) {
      eval::EvaluationOptions options = arguments.options;
      options.threshold = threshold;
      const auto classEvaluations = eval::evaluateTrackingClasses(
          sequences, arguments.classes, options,
          [&](std::size_t classIndex, std::size_t done, std::size_t total) {
            progress.update(arguments.classes[classIndex], done, total);
          });
      evaluations.insert(evaluations.end(), classEvaluations.begin(), classEvaluations.end());
    }
  } catch (const std::invalid_argument& error) {
    std::cerr << "zelvane_track_eval: " << error.what() << "\n";
    return EXIT_INPUT;
  }
  std::cout << eval::formatTrackingTable(evaluations) << std::flush;

  if (arguments.json == "-") {
    eval::writeTrackingJson(std::cout, evaluations);
  } else if (!arguments.json.empty()) {
    std::ofstream json(arguments.json);
    eval::writeTrackingJson(json, evaluations);
    json.flush();
    if (!json) {
      std::cerr << "zelvane_track_eval: " << arguments.json << ": cannot write\n";
      return EXIT_OUTPUT;
    }
  }
  if (!arguments.plot.empty()) {
    try {
      eval::plotRecallCurve(evaluations, arguments.plot);
    } catch (const std::runtime_error& error) {
      std::cerr << "zelvane_track_eval: " << error.what() << "\n";
      return EXIT_OUTPUT;
    }
  }
  return 0;
}
