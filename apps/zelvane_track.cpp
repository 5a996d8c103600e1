// zelvane_track: runs the tracker on the driving benchmark's detection files, one
// sequence at a time, and writes one result file per sequence in the benchmark's
// result format (all classes in it), which zelvane_track_eval reads. The tracker's
// parameters come from an XML settings file (the node "Tracker", see
// track/tracker_settings.h and examples/tracker_kitti.xml). Prints a progress line and,
// at the end, the frames per second of the tracking itself (the tracker's steps, not
// the reading and writing of files).
//
// Exit status: 0 success, 1 a bad command line, 2 an input that cannot be read or is
// bad (a settings file, a detection file, a tracker parameter), 3 a result file that
// cannot be written.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/program_options.hpp>
#include <boost/property_tree/exceptions.hpp>

#include "eval/camera_box.h"
#include "eval/tracking_files.h"
#include "modules/command_line.h"
#include "settings_manager.h"
#include "track/tracker.h"
#include "track/tracker_settings.h"

namespace po = boost::program_options;
namespace eval = zelvane::eval;
namespace track = zelvane::track;
namespace fs = std::filesystem;

namespace {

constexpr int EXIT_COMMAND_LINE = 1;
constexpr int EXIT_INPUT = 2;
constexpr int EXIT_OUTPUT = 3;

struct Arguments {
  std::vector<std::string> detections;
  std::string settings;
  std::string output;
  std::string sequenceList;
  std::vector<std::string> classes;
  double framePeriod = 0.1;
  bool quiet = false;
};

bool parse(int argc, char** argv, Arguments& arguments, bool& helped) {
  po::options_description visible("zelvane_track [options]");
  // clang-format off
  visible.add_options()
      ("help,h", "Show this help")
      ("detections,d", po::value<std::vector<std::string>>(&arguments.detections),
       "Folder of detection files, one NNNN.txt per sequence; repeatable (one folder per "
       "class, for example)")
      ("settings,a", po::value<std::string>(&arguments.settings),
       "XML settings file holding the node Tracker (see examples/tracker_kitti.xml)")
      ("output,o", po::value<std::string>(&arguments.output),
       "Folder for the result files, one NNNN.txt per sequence (created if missing)")
      ("sequences,s", po::value<std::string>(&arguments.sequenceList),
       "Sequence list: one sequence a line, 'name', 'name frames' or 'name unused 0 frames' "
       "(default: every *.txt of the detection folders)")
      ("class,c", po::value<std::vector<std::string>>(&arguments.classes),
       "Class to track, as the settings name it (any letter case); repeatable (default: "
       "every class of the settings)")
      ("frame-period", po::value<double>(&arguments.framePeriod)->default_value(0.1),
       "Seconds from one frame to the next")
      ("quiet,q", po::bool_switch(&arguments.quiet), "No progress line");
  // clang-format on
  po::variables_map values;
  const auto read =
      zelvane::modules::parseCommandLine("zelvane_track", argc, argv, visible, values);
  if (read != zelvane::modules::CommandLine::Parsed) {
    helped = read == zelvane::modules::CommandLine::HelpShown;
    return false;
  }
  if (arguments.detections.empty() || arguments.settings.empty() || arguments.output.empty()) {
    std::cerr << "zelvane_track: --detections, --settings and --output are required\n";
    return false;
  }
  if (!(arguments.framePeriod > 0.0)) {
    std::cerr << "zelvane_track: --frame-period must be positive\n";
    return false;
  }
  return true;
}

// The classes of the settings file, restricted to those asked for.
std::vector<track::ClassParameters> loadClasses(const Arguments& arguments) {
  zelvane::SettingsManager settings;
  settings.addXML(arguments.settings);
  std::vector<track::ClassParameters> all = track::readTrackerSettings(settings);
  if (arguments.classes.empty()) return all;
  std::vector<track::ClassParameters> chosen;
  for (const std::string& name : arguments.classes) {
    const auto found = std::find_if(all.begin(), all.end(),
                                    [&](const auto& c) { return boost::iequals(c.name, name); });
    if (found == all.end()) {
      throw std::invalid_argument("the settings name no class '" + name + "'");
    }
    chosen.push_back(*found);
  }
  return chosen;
}

// The sequences: those of the list, or every *.txt of the detection folders (their
// frames then end with the last detection).
std::vector<eval::SequenceEntry> sequencesOf(const Arguments& arguments) {
  if (!arguments.sequenceList.empty()) return eval::readSequenceList(arguments.sequenceList);
  std::set<std::string> names;
  for (const std::string& folder : arguments.detections) {
    for (const auto& file : fs::directory_iterator(folder)) {
      if (file.path().extension() == ".txt") names.insert(file.path().stem().string());
    }
  }
  std::vector<eval::SequenceEntry> sequences;
  sequences.reserve(names.size());
  for (const std::string& name : names) sequences.push_back({name, 0});
  return sequences;
}

// The detections of one sequence, frame by frame, of the classes tracked.
std::vector<std::vector<track::Detection>> readSequence(
    const Arguments& arguments, const std::vector<track::ClassParameters>& classes,
    const std::string& name) {
  std::vector<std::vector<track::Detection>> frames;
  for (const std::string& folder : arguments.detections) {
    for (const eval::ObjectRecord& record : eval::readTrackingFile(
             (fs::path(folder) / (name + ".txt")).string(), eval::TrackingFormat::Detections)) {
      const auto found = std::find_if(classes.begin(), classes.end(), [&](const auto& c) {
        return boost::iequals(c.name, record.type);
      });
      if (found == classes.end()) continue;
      if (frames.size() <= static_cast<std::size_t>(record.frame)) frames.resize(record.frame + 1);
      track::Detection detection;
      detection.box = eval::stateFromCameraBox(record.box);
      detection.score = static_cast<float>(record.score);
      detection.classIndex = static_cast<std::size_t>(found - classes.begin());
      detection.imageBox = {record.image.left, record.image.top, record.image.right,
                            record.image.bottom};
      frames[record.frame].push_back(detection);
    }
  }
  return frames;
}

eval::ObjectRecord resultOf(long frame, const track::TrackedBox& box,
                            const std::vector<track::ClassParameters>& classes) {
  eval::ObjectRecord record;
  record.frame = frame;
  record.trackId = static_cast<long>(box.record.id);
  record.type = classes[box.record.classIndex].name;
  const track::ImageBox& image = box.record.imageBox;
  record.image = {image.left, image.top, image.right, image.bottom};
  record.box = eval::cameraBoxFromState(box.state);
  record.score = box.score;
  return record;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  bool helped = false;
  if (!parse(argc, argv, arguments, helped)) return helped ? 0 : EXIT_COMMAND_LINE;

  std::vector<track::ClassParameters> classes;
  std::vector<eval::SequenceEntry> sequences;
  try {
    classes = loadClasses(arguments);
    track::Tracker check(classes);  // refuses bad parameters before any work
    sequences = sequencesOf(arguments);
  } catch (const std::exception& error) {
    std::cerr << "zelvane_track: " << error.what() << "\n";
    return EXIT_INPUT;
  }
  try {
    fs::create_directories(arguments.output);
  } catch (const fs::filesystem_error& error) {
    std::cerr << "zelvane_track: " << error.what() << "\n";
    return EXIT_OUTPUT;
  }

  const bool progress = !arguments.quiet && isatty(STDERR_FILENO) != 0;
  std::chrono::steady_clock::duration tracking{};
  std::size_t frameCount = 0;
  for (std::size_t s = 0; s < sequences.size(); ++s) {
    const std::string& name = sequences[s].name;
    if (progress) {
      std::cerr << "\r\033[Ktracking " << name << " (" << s + 1 << " of " << sequences.size() << ")"
                << std::flush;
    }
    std::vector<std::vector<track::Detection>> frames;
    std::vector<eval::ObjectRecord> results;
    try {
      frames = readSequence(arguments, classes, name);
      // A sequence's frames after its last detection are tracked too (tracks end there).
      if (static_cast<long>(frames.size()) < sequences[s].frameCount)
        frames.resize(sequences[s].frameCount);
      track::Tracker tracker(classes);
      for (std::size_t f = 0; f < frames.size(); ++f) {
        const auto start = std::chrono::steady_clock::now();
        const std::vector<track::TrackedBox> boxes =
            tracker.step(static_cast<double>(f) * arguments.framePeriod, frames[f]);
        tracking += std::chrono::steady_clock::now() - start;
        for (const track::TrackedBox& box : boxes) {
          results.push_back(resultOf(static_cast<long>(f), box, classes));
        }
      }
    } catch (const std::exception& error) {
      std::cerr << (progress ? "\r\033[K" : "") << "zelvane_track: " << error.what() << "\n";
      return EXIT_INPUT;
    }
    frameCount += frames.size();
    try {
      eval::writeResultsFile((fs::path(arguments.output) / (name + ".txt")).string(), results);
    } catch (const eval::TrackingFileError& error) {
      std::cerr << (progress ? "\r\033[K" : "") << "zelvane_track: " << error.what() << "\n";
      return EXIT_OUTPUT;
    }
  }
  if (progress) std::cerr << "\r\033[K" << std::flush;
  const double seconds = std::chrono::duration<double>(tracking).count();
  std::printf("tracked %zu frames of %zu sequences in %.3f s: %.0f frames per second\n", frameCount,
              sequences.size(), seconds,
              seconds > 0.0 ? static_cast<double>(frameCount) / seconds : 0.0);
  return 0;
}
