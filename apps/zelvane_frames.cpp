// zelvane_frames: loads a frame graph from a configuration settings file, feeds it
// time-stamped poses from a CSV file, and answers lookups between two frames.
//
// Exit status: 0 success, 1 start-up failure (command line, settings or logging
// files), 2 an input file that cannot be read or has a bad line, 3 a failed lookup.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "geometry/pose.h"
#include "geometry/transform_manager.h"
#include "logging_manager.h"
#include "modules/launch_pipeline.h"
#include "modules/main_application_module.h"
#include "modules/options_parser.h"
#include "settings_manager.h"

namespace po = boost::program_options;

namespace {

constexpr int EXIT_STARTUP = 1;
constexpr int EXIT_INPUT = 2;
constexpr int EXIT_LOOKUP = 3;

constexpr double RADIANS_TO_DEGREES = 57.29577951308232;

const char* resultName(zelvane::TransformManager::TransformResult result) {
  switch (result) {
    case zelvane::TransformManager::Success: return "Success";
    case zelvane::TransformManager::NoFrames: return "NoFrames";
    case zelvane::TransformManager::NotFound: return "NotFound";
    case zelvane::TransformManager::OutOfRange: return "OutOfRange";
    case zelvane::TransformManager::Error: return "Error";
  }
  return "Unknown";
}

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A whole field as a finite number; anything else (empty, trailing text, inf, nan)
// is refused so that a typo never turns into a silent 0.
bool parseFloat(const std::string& field, float& value) {
  const std::string text = trim(field);
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(parsed)) {
    return false;
  }
  value = static_cast<float>(parsed);
  return std::isfinite(value);
}

bool parseTime(const std::string& field, long& value) {
  const std::string text = trim(field);
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE) {
    return false;
  }
  value = parsed;
  return true;
}

std::vector<std::string> splitCsv(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, ',')) {
    fields.push_back(field);
  }
  if (!line.empty() && line.back() == ',') {
    fields.emplace_back();
  }
  return fields;
}

// The command line of this application, contributed to the main module.
class FramesOptions : public zelvane::modules::OptionsParser {
 public:
  FramesOptions() : visible_("Frame graph"), hidden_("Hidden") {
    // clang-format off
    visible_.add_options()
        ("poses,p", po::value<std::string>(&poses_file),
         "CSV file of time-stamped poses: time,from,to,x,y,z,qx,qy,qz,qw (header line first)")
        ("from", po::value<std::string>(&from), "Frame whose pose is asked for")
        ("to", po::value<std::string>(&to), "Frame the pose is given in")
        ("time", po::value<long>(&time),
         "Time of the lookup (default: the newest time in the pose file, else 0)")
        ("method", po::value<std::string>(&method_text)->default_value("interpolated"),
         "mostrecent, extrapolated or interpolated")
        ("points", po::value<std::string>(&points_file),
         "File of points (x y z per line) given in --from, printed in --to; - reads standard input")
        ("list", po::bool_switch(&list), "List the frames")
        ("store", po::value<std::string>(&store_file),
         "Write the graph as a settings file (loadable with -c)");
    // clang-format on
  }

  const po::options_description& getOptions() override { return visible_; }
  const po::options_description& getHiddenOptions() override { return hidden_; }
  const po::positional_options_description& getPositionalOptions() override { return positional_; }

  void processOptions(po::variables_map& options) override {
    if (method_text == "mostrecent") {
      method = zelvane::TransformManager::MostRecent;
    } else if (method_text == "extrapolated") {
      method = zelvane::TransformManager::Extrapolated;
    } else if (method_text == "interpolated") {
      method = zelvane::TransformManager::Interpolated;
    } else {
      throw InvalidInputError(
          ("--method must be mostrecent, extrapolated or interpolated, not '" + method_text + "'")
              .c_str());
    }
    if (from.empty() != to.empty()) {
      throw InvalidInputError("--from and --to go together");
    }
    if (!points_file.empty() && from.empty()) {
      throw InvalidInputError("--points needs --from and --to");
    }
    time_given = options.count("time") != 0;
  }

  std::string poses_file;
  std::string from;
  std::string to;
  long time = 0;
  bool time_given = false;
  std::string method_text;
  zelvane::TransformManager::InterpolationMethod method = zelvane::TransformManager::Interpolated;
  std::string points_file;
  bool list = false;
  std::string store_file;

 private:
  po::options_description visible_;
  po::options_description hidden_;
  po::positional_options_description positional_;
};

// Shows how far a long pose file has got, on a terminal only, and only once reading
// has taken long enough for the operator to wonder.
class Progress {
 public:
  Progress(const std::string& file, std::streamoff size)
      : file_(file),
        size_(size),
        enabled_(isatty(STDERR_FILENO) != 0),
        start_(std::chrono::steady_clock::now()) {}

  void update(std::streamoff position, unsigned long lines) {
    if (!enabled_ || (lines & 0x3ff) != 0) {
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::milliseconds(500)) {
      return;
    }
    shown_ = true;
    std::cerr << "\rreading " << file_ << ": " << lines << " lines";
    if (size_ > 0 && position >= 0) {
      std::cerr << " (" << (100 * position / size_) << "%)";
    }
    std::cerr << std::flush;
  }

  ~Progress() {
    if (shown_) {
      std::cerr << "\r\033[K" << std::flush;
    }
  }

  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  std::string file_;
  std::streamoff size_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
};

// Owns the frame graph: fills it from the settings store and the pose file, then
// answers the requests of the command line.
class FrameGraphComponent : public LoggedComponent {
 public:
  explicit FrameGraphComponent(const FramesOptions& options)
      : LoggedComponent("zelvane_frames"), options_(options) {}

  void onSettings(const std::shared_ptr<zelvane::SettingsManager>& settings) {
    manager_.loadTransforms(*settings);
    getLogger().infoStream() << "Loaded " << manager_.getFrames().size()
                             << " frames from the configuration";
  }

  void run() {
    if (!options_.poses_file.empty() && !readPoses(options_.poses_file)) {
      status_ = EXIT_INPUT;
      return;
    }
    if (options_.list) {
      for (const std::string& frame : manager_.getFrames()) {
        std::cout << frame << '\n';
      }
    }
    if (!options_.store_file.empty() && !store(options_.store_file)) {
      status_ = EXIT_INPUT;
      return;
    }
    if (!options_.from.empty()) {
      status_ = lookup();
    }
  }

  int status() const { return status_; }

 private:
  bool readPoses(const std::string& file) {
    std::ifstream input(file, std::ios::binary);
    if (!input) {
      std::cerr << file << ": cannot be opened" << std::endl;
      return false;
    }
    input.seekg(0, std::ios::end);
    Progress progress(file, input.tellg());
    input.seekg(0, std::ios::beg);

    std::string line;
    unsigned long number = 0;
    unsigned long count = 0;
    const auto fail = [&](const std::string& reason) {
      std::cerr << file << ":" << number << ": " << reason << std::endl;
      return false;
    };
    if (!std::getline(input, line)) {
      ++number;
      return fail("missing header line time,from,to,x,y,z,qx,qy,qz,qw");
    }
    ++number;
    std::string header;
    for (const std::string& field : splitCsv(line)) {
      header += (header.empty() ? "" : ",") + trim(field);
    }
    if (header != "time,from,to,x,y,z,qx,qy,qz,qw") {
      return fail("expected the header line time,from,to,x,y,z,qx,qy,qz,qw");
    }
    while (std::getline(input, line)) {
      ++number;
      progress.update(input.tellg(), number);
      if (trim(line).empty()) {
        continue;
      }
      const std::vector<std::string> fields = splitCsv(line);
      if (fields.size() != 10) {
        return fail("expected 10 fields, found " + std::to_string(fields.size()));
      }
      long time = 0;
      if (!parseTime(fields[0], time)) {
        return fail("time '" + trim(fields[0]) + "' is not an integer");
      }
      const std::string from = trim(fields[1]);
      const std::string to = trim(fields[2]);
      if (from.empty() || to.empty()) {
        return fail("empty frame name");
      }
      if (from == to) {
        return fail("a frame cannot be given in itself ('" + from + "')");
      }
      float values[7];
      for (int i = 0; i < 7; ++i) {
        if (!parseFloat(fields[3 + i], values[i])) {
          return fail("field " + std::to_string(4 + i) + " '" + trim(fields[3 + i]) +
                      "' is not a finite number");
        }
      }
      zelvane::Pose pose;
      pose.position = Eigen::Vector3f(values[0], values[1], values[2]);
      pose.orientation = Eigen::Quaternionf(values[6], values[3], values[4], values[5]);
      const float norm = pose.orientation.norm();
      if (!(norm > 0.5f && norm < 1.5f)) {
        return fail("quaternion is far from unit length");
      }
      pose.orientation.normalize();
      // The manager refuses such a pose with only a warning; here it is an input error.
      if (manager_.indirectConnectionExists(from, to)) {
        return fail(from + " and " + to + " are already joined through other frames");
      }
      manager_.setTransform(from, to, pose, time);
      newest_time_ = count == 0 ? time : std::max(newest_time_, time);
      ++count;
    }
    if (input.bad()) {
      return fail("read error");
    }
    getLogger().infoStream() << "Read " << count << " poses from " << file;
    return true;
  }

  bool store(const std::string& file) {
    zelvane::SettingsManager settings;
    if (manager_.storeTransforms(settings, true) != zelvane::TransformManager::Success) {
      std::cerr << file << ": nothing to store, the graph has no frames" << std::endl;
      return false;
    }
    try {
      settings.saveXML(file);
    } catch (const std::exception& error) {
      std::cerr << error.what() << std::endl;
      return false;
    }
    return true;
  }

  int lookup() {
    const long time = options_.time_given ? options_.time : newest_time_;
    zelvane::Pose pose;
    const auto result =
        manager_.getTransform(options_.from, options_.to, time, options_.method, pose);
    if (result != zelvane::TransformManager::Success) {
      std::cerr << "lookup of " << options_.from << " in " << options_.to << " at time " << time
                << " failed: " << resultName(result) << std::endl;
      return EXIT_LOOKUP;
    }
    if (!options_.points_file.empty()) {
      return transformPoints(pose);
    }
    print(pose, time);
    return 0;
  }

  void print(const zelvane::Pose& pose, long time) const {
    const Eigen::Vector3f intrinsic = pose.toRotationIntrinsicYPR() * RADIANS_TO_DEGREES;
    const Eigen::Vector3f extrinsic = pose.toRotationExtrinsicYPR() * RADIANS_TO_DEGREES;
    const Eigen::Quaternionf& q = pose.orientation;
    std::cout << std::fixed << std::setprecision(6);
    std::cout << options_.from << " in " << options_.to << " at time " << time << " ("
              << options_.method_text << ")\n";
    std::cout << "position:   " << pose.position.x() << ' ' << pose.position.y() << ' '
              << pose.position.z() << '\n';
    std::cout << "quaternion: " << q.x() << ' ' << q.y() << ' ' << q.z() << ' ' << q.w()
              << "  (x y z w)\n";
    std::cout << "intrinsic yaw/pitch/roll (deg): " << intrinsic[0] << ' ' << intrinsic[1] << ' '
              << intrinsic[2] << '\n';
    std::cout << "extrinsic yaw/pitch/roll (deg): " << extrinsic[0] << ' ' << extrinsic[1] << ' '
              << extrinsic[2] << '\n';
    std::cout << "matrix:\n";
    const Eigen::Matrix4f matrix = pose.toTransform();
    for (int row = 0; row < 4; ++row) {
      std::cout << "  ";
      for (int col = 0; col < 4; ++col) {
        std::cout << std::setw(12) << matrix(row, col);
      }
      std::cout << '\n';
    }
  }

  int transformPoints(const zelvane::Pose& pose) const {
    const std::string& file = options_.points_file;
    std::ifstream opened;
    if (file != "-") {
      opened.open(file);
      if (!opened) {
        std::cerr << file << ": cannot be opened" << std::endl;
        return EXIT_INPUT;
      }
    }
    std::istream& input = file == "-" ? std::cin : opened;
    const std::string name = file == "-" ? "<stdin>" : file;
    const Eigen::Matrix4f matrix = pose.toTransform();
    std::cout << std::fixed << std::setprecision(6);
    std::string line;
    unsigned long number = 0;
    while (std::getline(input, line)) {
      ++number;
      const std::string text = trim(line);
      if (text.empty() || text[0] == '#') {
        continue;
      }
      std::istringstream stream(text);
      std::string fields[4];
      if (!(stream >> fields[0] >> fields[1] >> fields[2]) || (stream >> fields[3])) {
        std::cerr << name << ":" << number << ": expected three numbers x y z" << std::endl;
        return EXIT_INPUT;
      }
      Eigen::Vector4f point(0.0f, 0.0f, 0.0f, 1.0f);
      for (int i = 0; i < 3; ++i) {
        if (!parseFloat(fields[i], point[i])) {
          std::cerr << name << ":" << number << ": field " << (i + 1) << " '" << fields[i]
                    << "' is not a finite number" << std::endl;
          return EXIT_INPUT;
        }
      }
      const Eigen::Vector4f moved = matrix * point;
      std::cout << moved[0] << ' ' << moved[1] << ' ' << moved[2] << '\n';
    }
    return 0;
  }

  const FramesOptions& options_;
  zelvane::TransformManager manager_;
  long newest_time_ = 0;
  int status_ = 0;
};

bool helpRequested(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-h" || argument == "--help") {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  auto options = std::make_shared<FramesOptions>();
  FrameGraphComponent graph(*options);
  zelvane::modules::MainApplicationModule application;
  zelvane::modules::LaunchPipeline pipeline("FramesPipeline");

  application.registerOptions(options);
  application.connectSettings(
      [&pipeline](const std::shared_ptr<zelvane::SettingsManager>& settings) {
        pipeline.settings(settings);
      });
  application.connectStart([&pipeline] { pipeline.start(); });
  application.connectStop([&pipeline] { pipeline.stop(); });
  pipeline.connectSettings([&graph](const std::shared_ptr<zelvane::SettingsManager>& settings) {
    graph.onSettings(settings);
  });
  pipeline.connectStart([&graph] { graph.run(); });

  try {
    if (!application.configure(argc, argv, nullptr, "")) {
      return helpRequested(argc, argv) ? 0 : EXIT_STARTUP;
    }
    application.start();
    application.stop();
  } catch (const std::exception& error) {
    std::cerr << "ERROR: " << error.what() << std::endl;
    return EXIT_STARTUP;
  }
  return graph.status();
}
