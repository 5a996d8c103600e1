// zelvane_frames: loads a frame graph from a configuration settings file, feeds it
// time-stamped poses from a CSV file, and answers lookups between two frames.
//
// Exit status: 0 success, 1 start-up failure (command line, settings or logging
// files), 2 an input file that cannot be read or has a bad line, 3 a failed lookup.
#include <algorithm>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <set>
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
#include "pose_file.h"
#include "settings_manager.h"
#include "text_fields.h"
#include "tkit/connection.h"

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
  zelvane::TransformManager::InterpolationMethod method = zelvane::TransformManager::Interpolated;
  long to_time = 0;
  std::string fixed;
  bool two_times = false;
  double history_window = zelvane::TransformManager::TRANSFORM_HISTORY_WINDOW;
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

// The frame graph drawn as trees: each tree hangs from a frame that is given in no
// other (the first such in frame order), so that with the usual registrations (sensor
// in body, body in world) the world is on top. Children come in frame order.
class FrameTree {
 public:
  explicit FrameTree(const zelvane::TransformManager& manager)
      : frames_(manager.getFrames()), edges_(manager.getEdges()) {
    for (std::size_t i = 0; i < edges_.size(); ++i) {
      neighbours_[edges_[i].from].push_back(i);
      neighbours_[edges_[i].to].push_back(i);
      described_.insert(edges_[i].from);
    }
    for (std::size_t i = 0; i < frames_.size(); ++i) order_[frames_[i]] = i;
    for (auto& [frame, edges] : neighbours_) {
      std::sort(edges.begin(), edges.end(), [this, &frame = frame](std::size_t a, std::size_t b) {
        return order_.at(other(a, frame)) < order_.at(other(b, frame));
      });
    }
  }

  void printText(std::ostream& out) const {
    walk([&out, this](int depth, const std::string& frame, const std::string& parent,
                      const zelvane::TransformManager::EdgeSummary* edge) {
      out << std::string(2 * static_cast<std::size_t>(depth), ' ') << frame;
      if (edge != nullptr) {
        out << ": " << describe(*edge, ", ");
        if (edge->from != frame) out << ", given as " << parent << " in " << frame;
      }
      out << '\n';
    });
  }

  void printDot(std::ostream& out) const {
    out << "digraph frames {\n  node [shape=box, fontname=\"sans\"];\n"
        << "  edge [fontname=\"sans\", fontsize=10];\n";
    walk([&out, this](int, const std::string& frame, const std::string& parent,
                      const zelvane::TransformManager::EdgeSummary* edge) {
      if (edge == nullptr) {
        out << "  " << quoted(frame) << ";\n";
        return;
      }
      std::string label = describe(*edge, "\\n");
      if (edge->from != frame) label += "\\ngiven as " + escaped(parent) + " in " + escaped(frame);
      out << "  " << quoted(parent) << " -> " << quoted(frame) << " [label=\"" << label << "\"];\n";
    });
    out << "}\n";
  }

 private:
  using Visit = std::function<void(int depth, const std::string& frame, const std::string& parent,
                                   const zelvane::TransformManager::EdgeSummary* edge)>;

  const std::string& other(std::size_t edge, const std::string& frame) const {
    return edges_[edge].from == frame ? edges_[edge].to : edges_[edge].from;
  }

  // Kind and time span of an edge, its parts joined by `separator`.
  std::string describe(const zelvane::TransformManager::EdgeSummary& edge,
                       const std::string& separator) const {
    if (edge.isStatic) return "static";
    return std::to_string(edge.samples) + (edge.samples == 1 ? " sample" : " samples") + separator +
           "time " + std::to_string(edge.oldest) + " to " + std::to_string(edge.newest);
  }

  static std::string escaped(const std::string& text) {
    std::string result;
    for (const char c : text) {
      if (c == '"' || c == '\\') result += '\\';
      result += c;
    }
    return result;
  }
  static std::string quoted(const std::string& text) { return '"' + escaped(text) + '"'; }

  // Every tree, depth first from its root; `edge` is null for a root.
  void walk(const Visit& visit) const {
    std::set<std::string> seen;
    for (const std::string& start : frames_) {
      if (seen.count(start) != 0) continue;
      std::vector<std::string> tree = {start};  // the whole tree, in frame order
      for (std::size_t i = 0; i < tree.size(); ++i) {
        seen.insert(tree[i]);
        for (const std::size_t edge : neighbourEdges(tree[i])) {
          if (seen.insert(other(edge, tree[i])).second) tree.push_back(other(edge, tree[i]));
        }
      }
      std::sort(tree.begin(), tree.end(), [this](const std::string& a, const std::string& b) {
        return order_.at(a) < order_.at(b);
      });
      const auto root = std::find_if(tree.begin(), tree.end(), [this](const std::string& frame) {
        return described_.count(frame) == 0;
      });
      visitFrom(root == tree.end() ? tree.front() : *root, "", nullptr, 0, visit);
    }
  }

  void visitFrom(const std::string& frame, const std::string& parent,
                 const zelvane::TransformManager::EdgeSummary* edge, int depth,
                 const Visit& visit) const {
    visit(depth, frame, parent, edge);
    for (const std::size_t next : neighbourEdges(frame)) {
      if (&edges_[next] != edge) {
        visitFrom(other(next, frame), frame, &edges_[next], depth + 1, visit);
      }
    }
  }

  const std::vector<std::size_t>& neighbourEdges(const std::string& frame) const {
    static const std::vector<std::size_t> none;
    const auto it = neighbours_.find(frame);
    return it == neighbours_.end() ? none : it->second;
  }

  std::vector<std::string> frames_;
  std::vector<zelvane::TransformManager::EdgeSummary> edges_;
  std::map<std::string, std::vector<std::size_t>> neighbours_;
  std::map<std::string, std::size_t> order_;
  std::set<std::string> described_;
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
    manager_.setHistoryWindow(options_.history_window);
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
      const FrameTree tree(manager_);
      if (options_.tree) tree.printText(std::cout);
      if (options_.dot) tree.printDot(std::cout);
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
    zelvane::apps::PoseFileSummary summary;
    if (!zelvane::apps::readPoseFile(file, manager_, summary)) {
      return false;
    }
    newest_time_ = summary.newest_time;
    getLogger().infoStream() << "Read " << summary.count << " poses from " << file;
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
    std::ostringstream what;
    zelvane::TransformManager::TransformResult result;
    if (options_.two_times) {
      result =
          manager_.getTransformThroughFixedFrame(options_.from, time, options_.to, options_.to_time,
                                                 options_.fixed, options_.method, pose);
      what << options_.from << " at time " << time << " in " << options_.to << " at time "
           << options_.to_time << " through " << options_.fixed;
    } else {
      result = manager_.getTransform(options_.from, options_.to, time, options_.method, pose);
      what << options_.from << " in " << options_.to << " at time " << time;
    }
    if (result != zelvane::TransformManager::Success) {
      std::cerr << "lookup of " << what.str() << " failed: " << resultName(result) << std::endl;
      if (result == zelvane::TransformManager::OutOfRange) {
        if (options_.two_times) {
          printWorkingTimes(options_.from, options_.fixed);
          printWorkingTimes(options_.fixed, options_.to);
        } else {
          printWorkingTimes(options_.from, options_.to);
        }
      }
      return EXIT_LOOKUP;
    }
    if (!options_.points_file.empty()) {
      return transformPoints(pose);
    }
    print(pose, what.str());
    return 0;
  }

  // After an OutOfRange: the times at which an interpolated lookup would succeed.
  void printWorkingTimes(const std::string& from, const std::string& to) {
    long oldest = 0;
    long newest = 0;
    const auto span = manager_.getCommonTimeSpan(from, to, oldest, newest);
    std::cerr << "interpolated lookups of " << from << " in " << to;
    if (span != zelvane::TransformManager::Success) {
      std::cerr << " succeed at no time: the time spans of the edges between them do not overlap"
                << std::endl;
    } else if (oldest == std::numeric_limits<long>::min() &&
               newest == std::numeric_limits<long>::max()) {
      std::cerr << " succeed at every time" << std::endl;
    } else {
      std::cerr << " succeed from time " << oldest << " to " << newest << std::endl;
    }
  }

  void print(const zelvane::Pose& pose, const std::string& what) const {
    const Eigen::Vector3f intrinsic = pose.toRotationIntrinsicYPR() * RADIANS_TO_DEGREES;
    const Eigen::Vector3f extrinsic = pose.toRotationExtrinsicYPR() * RADIANS_TO_DEGREES;
    const Eigen::Quaternionf& q = pose.orientation;
    std::cout << std::fixed << std::setprecision(6);
    std::cout << what << " (" << options_.method_text << ")\n";
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
      Eigen::Vector4f point(0.0f, 0.0f, 0.0f, 1.0f);
      for (int i = 0; i < 3; ++i) {
        if (!zelvane::text::parseNumber(fields[i], point[i])) {
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
