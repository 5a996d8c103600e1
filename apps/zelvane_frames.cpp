// zelvane_frames: loads a frame graph from a configuration settings file, feeds it
// time-stamped poses from a CSV file, and answers lookups between two frames.
//
// Exit status: 0 success, 1 start-up failure (command line, settings or logging
// files), 2 an input file that cannot be read or has a bad line, 3 a failed lookup.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include <boost/program_options.hpp>

#include "geometry/angle_units.h"
#include "geometry/frame_graph_text.h"
#include "geometry/local_origin.h"
#include "geometry/pose.h"
#include "geometry/pose_file.h"
#include "geometry/transform_manager.h"
#include "logging_manager.h"
#include "modules/launch_pipeline.h"
#include "modules/main_application_module.h"
#include "modules/options_parser.h"
#include "settings_manager.h"
#include "text_fields.h"
#include "tkit/connection.h"

namespace po = boost::program_options;

namespace {

constexpr int EXIT_STARTUP = 1;
constexpr int EXIT_INPUT = 2;
constexpr int EXIT_LOOKUP = 3;

using zelvane::TransformManager;

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
         TransformManager::METHOD_NAMES)
        ("points", po::value<std::string>(&points_file),
         "File of points (x y z per line) given in --from, printed in --to; - reads standard input")
        ("to-time", po::value<long>(&to_time),
         "With --fixed: --from at --time placed in --to at this time, through the fixed frame")
        ("fixed", po::value<std::string>(&fixed),
         "Frame taken not to move between --time and --to-time (e.g. Global)")
        ("history-window", po::value<double>(&history_window),
         "Span of history kept per edge and staleness limit of lookups, in the time unit of "
         "the pose file (default 1e10)")
        ("list", po::bool_switch(&list), "List the frames")
        ("tree", po::bool_switch(&tree),
         "Print the frame tree, each edge with its kind, samples and time span")
        ("dot", po::bool_switch(&dot), "Print the frame tree as a Graphviz graph")
        ("store", po::value<std::string>(&store_file),
         "Write the graph as a settings file (loadable with -c)");
    // clang-format on
  }

  const po::options_description& getOptions() override { return visible_; }
  const po::options_description& getHiddenOptions() override { return hidden_; }
  const po::positional_options_description& getPositionalOptions() override { return positional_; }

  void processOptions(po::variables_map& options) override {
    if (!TransformManager::parseMethodName(method_text, method)) {
      throw InvalidInputError((std::string("--method must be ") + TransformManager::METHOD_NAMES +
                               ", not '" + method_text + "'")
                                  .c_str());
    }
    if (from.empty() != to.empty()) {
      throw InvalidInputError("--from and --to go together");
    }
    if (!points_file.empty() && from.empty()) {
      throw InvalidInputError("--points needs --from and --to");
    }
    if ((options.count("to-time") != 0) != (options.count("fixed") != 0)) {
      throw InvalidInputError("--to-time and --fixed go together");
    }
    two_times = options.count("fixed") != 0;
    if (two_times && from.empty()) {
      throw InvalidInputError("--to-time and --fixed need --from and --to");
    }
    if (options.count("history-window") != 0 && !(history_window >= 0.0)) {
      throw InvalidInputError("--history-window must be 0 or more");
    }
    time_given = options.count("time") != 0;
  }

  std::string poses_file;
  std::string from;
  std::string to;
  long time = 0;
  bool time_given = false;
  std::string method_text;
  TransformManager::InterpolationMethod method = TransformManager::Interpolated;
  long to_time = 0;
  std::string fixed;
  bool two_times = false;
  double history_window = TransformManager::TRANSFORM_HISTORY_WINDOW;
  std::string points_file;
  bool list = false;
  bool tree = false;
  bool dot = false;
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
    if (!enabled_ || std::chrono::steady_clock::now() - start_ < std::chrono::milliseconds(500)) {
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
  Progress(Progress&&) = delete;
  Progress& operator=(Progress&&) = delete;

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
    // Always Success: a store that cannot be read throws, a refused pair is logged.
    static_cast<void>(manager_.loadTransforms(*settings));
    getLogger().infoStream() << "Loaded " << manager_.getFrames().size()
                             << " frames from the configuration";
  }

  void run() {
    // The window was checked with the command line, so it is taken.
    static_cast<void>(manager_.setHistoryWindow(options_.history_window));
    if (!options_.poses_file.empty() && !readPoses(options_.poses_file)) {
      status_ = EXIT_INPUT;
      return;
    }
    if (options_.list) {
      for (const std::string& frame : manager_.getFrames()) {
        std::cout << frame << '\n';
      }
    }
    if (options_.tree || options_.dot) {
      const auto frames = manager_.getFrames();
      const auto edges = manager_.getEdges();
      if (options_.tree) std::cout << zelvane::frameTreeText(frames, edges);
      if (options_.dot) std::cout << zelvane::frameTreeDot(frames, edges);
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
    zelvane::PoseFileSummary summary;
    const std::string failure = zelvane::readPoseFile(
        input, file, manager_, summary, [&progress](std::streamoff position, unsigned long line) {
          progress.update(position, line);
        });
    const double largest = summary.largest_coordinate;
    if (zelvane::needsLocalOrigin(Eigen::Vector3f::Constant(static_cast<float>(largest)))) {
      std::cerr << "warning: " << file << ": positions reach " << largest
                << ", which single precision keeps only to within "
                << zelvane::singlePrecisionError(largest)
                << "; register them relative to a local origin near the data" << std::endl;
    }
    if (!failure.empty()) {
      std::cerr << failure << std::endl;
      return false;
    }
    newest_time_ = summary.newest_time;
    getLogger().infoStream() << "Read " << summary.count << " poses from " << file;
    return true;
  }

  bool store(const std::string& file) {
    zelvane::SettingsManager settings;
    if (manager_.storeTransforms(settings, true) != TransformManager::Success) {
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
    std::ostringstream what;
    TransformManager::TransformResult result;
    std::string reason;
    if (options_.two_times) {
      TransformManager::FixedFrameHalf failed = TransformManager::NoHalf;
      result =
          manager_.getTransformThroughFixedFrame(options_.from, time, options_.to, options_.to_time,
                                                 options_.fixed, options_.method, pose, failed);
      reason = zelvane::fixedFrameFailureReason(manager_, options_.from, time, options_.to,
                                                options_.to_time, options_.fixed, result, failed);
      what << options_.from << " at time " << time << " in " << options_.to << " at time "
           << options_.to_time << " through " << options_.fixed;
    } else {
      result = manager_.getTransform(options_.from, options_.to, time, options_.method, pose);
      reason = zelvane::lookupFailureReason(manager_, options_.from, options_.to, time, result);
      what << options_.from << " in " << options_.to << " at time " << time;
    }
    if (result != TransformManager::Success) {
      std::cerr << "lookup of " << what.str() << " failed: " << TransformManager::resultName(result)
                << (reason.empty() ? "" : " (" + reason + ")") << std::endl;
      return EXIT_LOOKUP;
    }
    if (!options_.points_file.empty()) {
      return transformPoints(pose);
    }
    print(pose, what.str());
    return 0;
  }

  void print(const zelvane::Pose& pose, const std::string& what) const {
    const Eigen::Vector3f intrinsic =
        pose.toRotationIntrinsicYPR().unaryExpr(&zelvane::angles::degreesFromRadians);
    const Eigen::Vector3f extrinsic =
        pose.toRotationExtrinsicYPR().unaryExpr(&zelvane::angles::degreesFromRadians);
    const Eigen::Quaternionf& q = pose.orientation;
    std::cout << std::fixed << std::setprecision(6);
    std::cout << what << " (" << TransformManager::methodName(options_.method) << ")\n";
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
      const std::string text = zelvane::text::trim(line);
      if (text.empty() || text[0] == '#') {
        continue;
      }
      std::istringstream stream(text);
      std::string fields[4];
      if (!(stream >> fields[0] >> fields[1] >> fields[2]) || (stream >> fields[3])) {
        std::cerr << name << ":" << number << ": expected three numbers x y z" << std::endl;
        return EXIT_INPUT;
      }
      float point[3];
      for (int i = 0; i < 3; ++i) {
        if (!zelvane::text::parseNumber(fields[i], point[i])) {
          std::cerr << name << ":" << number << ": field " << (i + 1) << " '" << fields[i]
                    << "' is not a finite number" << std::endl;
          return EXIT_INPUT;
        }
      }
      float moved[3];
      zelvane::mapPoints(matrix, point, 1, moved);
      std::cout << moved[0] << ' ' << moved[1] << ' ' << moved[2] << '\n';
    }
    return 0;
  }

  const FramesOptions& options_;
  TransformManager manager_;
  long newest_time_ = 0;
  int status_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  auto options = std::make_shared<FramesOptions>();
  FrameGraphComponent graph(*options);
  zelvane::modules::MainApplicationModule application;
  zelvane::modules::LaunchPipeline pipeline("FramesPipeline");

  application.registerOptions(options);
  // Declared after the pipeline, so cut before it is destroyed (and stops once more).
  const zelvane::tkit::ScopedConnection connections[] = {
      application.connectSettings(
          [&pipeline](const std::shared_ptr<zelvane::SettingsManager>& settings) {
            pipeline.settings(settings);
          }),
      application.connectStart([&pipeline] { pipeline.start(); }),
      application.connectStop([&pipeline] { pipeline.stop(); }),
      pipeline.connectSettings([&graph](const std::shared_ptr<zelvane::SettingsManager>& settings) {
        graph.onSettings(settings);
      }),
      pipeline.connectStart([&graph] { graph.run(); }),
  };

  try {
    if (!application.configure(argc, argv, nullptr, "")) {
      return application.helpShown() ? 0 : EXIT_STARTUP;
    }
    application.start();
    application.stop();
  } catch (const std::exception& error) {
    std::cerr << "ERROR: " << error.what() << std::endl;
    return EXIT_STARTUP;
  }
  return graph.status();
}
