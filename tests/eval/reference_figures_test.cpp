// The evaluation against the benchmark's own evaluator: for the tracking results in
// the shared data's reference folder, every figure that evaluator printed (each
// recall level's block, the whole-run block, sAMOTA, AMOTA, AMOTP) is reproduced to
// the digits printed. Skipped, with a message, when the shared data is absent.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "eval/tracking_evaluation.h"
#include "eval/tracking_files.h"

namespace zelvane::eval {
namespace {

namespace fs = std::filesystem;

const fs::path DATA = fs::path(ZELVANE_SHARED_DATA_DIR) / "kitti-tracking";
const std::vector<std::string> SEQUENCES = {"0001", "0006", "0008", "0010", "0012", "0013"};

// What the reference evaluator printed for one class and measure.
struct Figures {
  struct Level {
    std::string threshold;
    std::string recall;
    std::vector<std::string> values;  // sMOTA MOTA MOTP MT ML IDS FRAG F1 Prec Recall FAR TP FP FN
  };
  std::vector<Level> levels;
  std::map<std::string, std::string> whole;  // "Recall" -> "0.9028", ...
  std::vector<std::string> averages;         // sAMOTA AMOTA AMOTP
};

std::vector<std::string> words(const std::string& line) {
  std::istringstream stream(line);
  std::vector<std::string> out;
  for (std::string word; stream >> word;) out.push_back(word);
  return out;
}

Figures readFigures(const fs::path& path) {
  std::ifstream input(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(input, line);) lines.push_back(line);
  Figures figures;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const auto at = line.find("confidence threshold ");
    if (at != std::string::npos) {
      const auto comma = line.find(',', at);
      const auto recall = line.find("recall ", comma);
      figures.levels.push_back(Figures::Level{
          line.substr(at + 21, comma - at - 21),
          line.substr(recall + 7, line.find('=', recall) - recall - 7), words(lines[i + 2])});
      i += 2;
    } else if (line.find("sAMOTA") != std::string::npos) {
      figures.averages = words(lines[i + 1]);
      ++i;
    } else if (line.size() > 70 && line[0] != '=') {
      // "Name of the figure", padded to 70 columns, then its value.
      figures.whole[line.substr(0, line.find_last_not_of(' ', 69) + 1)] =
          words(line.substr(70)).front();
    }
  }
  return figures;
}

std::string fixed(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

std::vector<std::string> levelValues(const RecallLevel& level) {
  const ClearMot& c = level.clear;
  return {fixed(level.smota, 4),
          fixed(c.mota, 4),
          fixed(c.motp, 4),
          fixed(c.mostlyTrackedRatio, 4),
          fixed(c.mostlyLostRatio, 4),
          std::to_string(c.idSwitches),
          std::to_string(c.fragmentations),
          fixed(c.f1, 4),
          fixed(c.precision, 4),
          fixed(c.recall, 4),
          fixed(c.falseAlarmRate, 4),
          std::to_string(c.truePositives),
          std::to_string(c.falsePositives),
          std::to_string(c.falseNegatives)};
}

std::map<std::string, std::string> wholeValues(const ClearMot& c) {
  return {{"Multiple Object Tracking Accuracy (MOTA)", fixed(c.mota, 4)},
          {"Multiple Object Tracking Precision (MOTP)", fixed(c.motp, 4)},
          {"Multiple Object Tracking Accuracy (MOTAL)", fixed(c.motal, 4)},
          {"Multiple Object Detection Accuracy (MODA)", fixed(c.moda, 4)},
          {"Multiple Object Detection Precision (MODP)", fixed(c.modp, 4)},
          {"Recall", fixed(c.recall, 4)},
          {"Precision", fixed(c.precision, 4)},
          {"F1", fixed(c.f1, 4)},
          {"False Alarm Rate", fixed(c.falseAlarmRate, 4)},
          {"Mostly Tracked", fixed(c.mostlyTrackedRatio, 4)},
          {"Partly Tracked", fixed(c.partlyTrackedRatio, 4)},
          {"Mostly Lost", fixed(c.mostlyLostRatio, 4)},
          {"True Positives", std::to_string(c.truePositives)},
          {"Ignored True Positives", std::to_string(c.ignoredTruePositives)},
          {"False Positives", std::to_string(c.falsePositives)},
          {"False Negatives", std::to_string(c.falseNegatives)},
          {"Ignored False Negatives", std::to_string(c.ignoredFalseNegatives)},
          {"ID-switches", std::to_string(c.idSwitches)},
          {"Fragmentations", std::to_string(c.fragmentations)},
          {"Ground Truth Objects (Total)", std::to_string(c.groundTruthObjects)},
          {"Ignored Ground Truth Objects", std::to_string(c.ignoredGroundTruthObjects)},
          {"Ground Truth Trajectories", std::to_string(c.groundTruthTrajectories)},
          {"Tracker Objects (Total)", std::to_string(c.resultObjects)},
          {"Ignored Tracker Objects", std::to_string(c.ignoredResultObjects)},
          {"Tracker Trajectories", std::to_string(c.resultTrajectories)}};
}

// The sequences as the reference evaluator read them: its sequence list gives each of
// these sequences one frame more than the labels hold (its false-alarm rates and
// detection precision count 1825 frames for the 1819 labelled ones).
const std::vector<TrackingSequence>& referenceSequences() {
  static const std::vector<TrackingSequence> sequences = [] {
    std::vector<SequenceEntry> entries;
    for (const std::string& name : SEQUENCES) {
      long last = -1;
      for (const ObjectRecord& record : readTrackingFile(
               (DATA / "label_02" / (name + ".txt")).string(), TrackingFormat::Labels)) {
        last = std::max(last, record.frame);
      }
      entries.push_back(SequenceEntry{name, last + 2});
    }
    return loadTrackingSequences((DATA / "label_02").string(),
                                 (DATA / "reference" / "results").string(), entries);
  }();
  return sequences;
}

struct FigureFile {
  std::string folder;
  std::string objectClass;
  Measure measure;
  double threshold;
};

class ReferenceFigures : public ::testing::TestWithParam<FigureFile> {};

TEST_P(ReferenceFigures, EveryPrintedFigureIsReproduced) {
  if (!fs::exists(DATA / "reference")) GTEST_SKIP() << "shared data not found at " << DATA;
  const FigureFile& file = GetParam();
  const std::string dimension = file.measure == Measure::ImageOverlap ? "2D" : "3D";
  const Figures figures =
      readFigures(DATA / "reference" / "figures" / file.folder /
                  ("summary_" + file.objectClass + "_average_eval" + dimension + ".txt"));
  ASSERT_FALSE(figures.levels.empty());

  EvaluationOptions options;
  options.objectClass = file.objectClass;
  options.measure = file.measure;
  options.threshold = file.threshold;
  const ClassEvaluation evaluation = evaluateTracking(referenceSequences(), options);

  ASSERT_EQ(evaluation.levels.size(), figures.levels.size());
  for (std::size_t i = 0; i < figures.levels.size(); ++i) {
    const RecallLevel& level = evaluation.levels[i];
    EXPECT_EQ(fixed(level.threshold, 6), figures.levels[i].threshold) << "level " << i;
    EXPECT_EQ(fixed(level.recall, 6), figures.levels[i].recall) << "level " << i;
    EXPECT_EQ(levelValues(level), figures.levels[i].values) << "level " << i;
  }
  const auto whole = wholeValues(evaluation.clear);
  ASSERT_EQ(figures.whole.size(), whole.size());
  for (const auto& [name, printed] : figures.whole) EXPECT_EQ(whole.at(name), printed) << name;
  EXPECT_EQ((std::vector<std::string>{fixed(evaluation.samota, 4), fixed(evaluation.amota, 4),
                                      fixed(evaluation.amotp, 4)}),
            figures.averages);
}

INSTANTIATE_TEST_SUITE_P(
    SharedData, ReferenceFigures,
    ::testing::Values(FigureFile{"3D_0.25", "car", Measure::Overlap3d, 0.25},
                      FigureFile{"3D_0.25", "pedestrian", Measure::Overlap3d, 0.25},
                      FigureFile{"3D_0.25", "cyclist", Measure::Overlap3d, 0.25},
                      FigureFile{"3D_0.5", "car", Measure::Overlap3d, 0.5},
                      FigureFile{"3D_0.5", "pedestrian", Measure::Overlap3d, 0.5},
                      FigureFile{"3D_0.5", "cyclist", Measure::Overlap3d, 0.5},
                      FigureFile{"3D_0.7_car", "car", Measure::Overlap3d, 0.7},
                      FigureFile{"2D_0.5", "car", Measure::ImageOverlap, 0.5},
                      FigureFile{"2D_0.5", "pedestrian", Measure::ImageOverlap, 0.5},
                      FigureFile{"2D_0.5", "cyclist", Measure::ImageOverlap, 0.5}),
    [](const ::testing::TestParamInfo<FigureFile>& info) {
      std::string name = info.param.folder + "_" + info.param.objectClass;
      for (char& c : name) c = (c == '.') ? '_' : c;
      return name;
    });

}  // namespace
}  // namespace zelvane::eval
