#include "geometry/transform_manager.h"

#include <algorithm>
#include <utility>

#include "geometry/frame_forest.h"
#include "geometry/frame_graph_edit.h"
#include "geometry/pose_history.h"
#include "settings_manager.h"

namespace zelvane {

namespace {

using detail::FrameForest;
using detail::PoseHistory;
using Result = TransformManager::TransformResult;
using Method = TransformManager::InterpolationMethod;

constexpr std::size_t NONE = FrameForest::NONE;

// Pushes a child of the store for the lifetime of the guard, so that the current path
// is restored also when reading or writing inside it throws.
class ScopedPush {
 public:
  ScopedPush(SettingsManager& settings, const std::string& name) : settings_(settings) {
    settings_.pathPush(name);
  }
  ScopedPush(SettingsManager& settings, const std::string& name, int index) : settings_(settings) {
    settings_.pathPush(name, index, nullptr);
  }
  ~ScopedPush() { settings_.pathPop(); }
  ScopedPush(const ScopedPush&) = delete;
  ScopedPush& operator=(const ScopedPush&) = delete;

 private:
  SettingsManager& settings_;
};

void warnCycle(const Logger& logger, const std::string& from, const std::string& to) {
  logger.warnStream() << "Attempting to define transform between frames " << from << " and " << to
                      << " which already have an indirect connection.This new inputted "
                         "transform will be ignored.";
}

// Registration into `graph` and its `forest`: the live ones, or ones being built aside
// by `removeFrame` and `loadTransforms`.
void registerTransform(TransformManager::FrameGraph& graph, FrameForest& forest,
                       const Logger& logger, const std::string& from, const std::string& to,
                       const Pose& pose, long time) {
  std::size_t from_frame = forest.find(from);
  std::size_t to_frame = forest.find(to);
  if (from_frame == NONE && from == to) {
    // Creating the frame would either loop an edge onto it or name two frames alike.
    logger.warnStream() << "Attempting to define transform from frame " << from
                        << " to itself. This new inputted transform will be ignored.";
    return;
  }
  PoseHistory* forward = nullptr;
  PoseHistory* reverse = nullptr;
  const bool both = from_frame != NONE && to_frame != NONE;
  const bool direct = both && forest.directEdge(from_frame, to_frame, forward, reverse);
  if (both && !direct && forest.connected(from_frame, to_frame)) {
    warnCycle(logger, from, to);
    return;
  }
  const Pose inverse = pose.toInversePose();
  if (direct) {
    detail::addSample(*forward, pose, time);
    detail::addSample(*reverse, inverse, time);
    return;
  }
  PoseHistory to_T_from;
  PoseHistory from_T_to;
  detail::addSample(to_T_from, pose, time);
  detail::addSample(from_T_to, inverse, time);
  if (from_frame == NONE) from_frame = forest.addFrame(graph, from);
  if (to_frame == NONE) to_frame = forest.addFrame(graph, to);
  forest.join(graph, from_frame, to_frame, to_T_from, from_T_to);
}

// The lookup proper, on frame indices. Allocates nothing for ordinary paths.
Result lookup(const FrameForest& forest, std::size_t from, std::size_t to, long time, Method method,
              const Logger& logger, Pose& result) {
  Eigen::Matrix4f to_T_from = Eigen::Matrix4f::Identity();
  // The sample's `toTransform()`, written in place: only the upper rows change.
  Eigen::Matrix4f edge_T = Eigen::Matrix4f::Identity();
  std::int64_t stamp = time;
  Pose sample;
  const Result code = forest.walkPath(from, to, [&](const PoseHistory& history) {
    const Result sampled = detail::sampleHistory(history, time, method, logger, sample);
    if (sampled == TransformManager::Success) {
      edge_T.topLeftCorner<3, 3>() = sample.orientation.toRotationMatrix();
      edge_T.topRightCorner<3, 1>() = sample.position;
      to_T_from = to_T_from * edge_T;
      stamp = std::max(stamp, sample.timestamp);
    }
    return sampled;
  });
  if (code != TransformManager::Success) return code;
  result.position = to_T_from.topRightCorner<3, 1>();
  result.orientation = Eigen::Quaternionf(Eigen::Matrix3f(to_T_from.topLeftCorner<3, 3>()));
  result.timestamp = stamp;
  return TransformManager::Success;
}

}  // namespace

TransformManager::TransformManager()
    : graph_(std::make_unique<FrameGraph>()), forest_(std::make_unique<detail::FrameForest>()) {
  setLogger(LoggingManager::getInstance().getLogger("TransformManager"));
}

TransformManager::~TransformManager() = default;

// --- Registration and frames -------------------------------------------------

void TransformManager::setTransform(const std::string& from, const std::string& to,
                                    const Pose& pose, long time) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  registerTransform(*graph_, *forest_, getLogger(), from, to, pose, time);
}

bool TransformManager::hasFrame(const std::string& name) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return forest_->find(name) != NONE;
}

std::vector<std::string> TransformManager::getFrames() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<std::string> names;
  names.reserve(boost::num_vertices(*graph_));
  for (std::size_t frame = 0; frame < boost::num_vertices(*graph_); ++frame) {
    names.push_back((*graph_)[frame].name);
  }
  return names;
}

TransformManager::TransformResult TransformManager::updateFrameName(const std::string& oldName,
                                                                    const std::string& newName) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::size_t frame = forest_->find(oldName);
  if (frame == NONE) return NotFound;
  if (newName == oldName) return Success;
  if (forest_->find(newName) != NONE) {
    getLogger().warnStream() << "Attempting to rename frame " << oldName << " to " << newName
                             << " which is the name of another frame. The frame keeps its name.";
    return Error;
  }
  forest_->rename(*graph_, frame, newName);
  return Success;
}

bool TransformManager::indirectConnectionExists(const std::string& from,
                                                const std::string& to) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::size_t from_frame = forest_->find(from);
  const std::size_t to_frame = forest_->find(to);
  if (from_frame == NONE || to_frame == NONE) return false;
  PoseHistory* forward = nullptr;
  PoseHistory* reverse = nullptr;
  if (forest_->directEdge(from_frame, to_frame, forward, reverse)) return false;
  return forest_->connected(from_frame, to_frame);
}

// --- Lookup ------------------------------------------------------------------

TransformManager::TransformResult TransformManager::getTransform(const std::string& from,
                                                                 const std::string& to, long time,
                                                                 InterpolationMethod method,
                                                                 Pose& result) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  result = Pose();
  if (from == to) return Success;
  if (boost::num_vertices(*graph_) == 0) return NoFrames;
  const std::size_t from_frame = forest_->find(from);
  const std::size_t to_frame = forest_->find(to);
  if (from_frame == NONE || to_frame == NONE) return NotFound;
  return lookup(*forest_, from_frame, to_frame, time, method, getLogger(), result);
}

TransformManager::TransformResult TransformManager::getTransform(const std::string& from,
                                                                 const std::string& to,
                                                                 Pose& result) {
  return getTransform(from, to, 0, MostRecent, result);
}

TransformManager::TransformResult TransformManager::getTransformFromPoseMap(
    const std::map<double, Pose>& poses, long time, InterpolationMethod method, Pose& result) {
  return detail::sampleHistory(poses, time, method, getLogger(), result);
}

Pose TransformManager::interpolateTransform(const Pose& first, const Pose& second, float ratio) {
  return detail::interpolatePoses(first, second, ratio);
}

// --- Origins, removal, exception signal --------------------------------------

void TransformManager::setOrigin(const std::string& name, const std::string& frame,
                                 const Pose& pose) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  origins_.insert_or_assign(name, TransformManagerOrigin{frame, pose});
}

bool TransformManager::getOrigin(const std::string& name, std::string& frame, Pose& pose) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto it = origins_.find(name);
  if (it == origins_.end()) return false;
  frame = it->second.frame;
  pose = it->second.pose;
  return true;
}

TransformManager::TransformResult TransformManager::removeFrame(const std::string& frame) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  try {
    const std::size_t removed = forest_->find(frame);
    if (removed == NONE) return NotFound;

    // The first neighbour in frame order stays; the others are re-attached to it
    // with the transform that holds now, composed through the frame going away.
    // Out-edges are ordered by target, that is in frame order.
    std::size_t anchor = NONE;
    std::vector<std::pair<std::string, Pose>> relinks;
    for (auto [it, end] = boost::out_edges(removed, *graph_); it != end; ++it) {
      const std::size_t neighbour = boost::target(*it, *graph_);
      if (anchor == NONE) {
        anchor = neighbour;
        continue;
      }
      Pose anchor_T_neighbour;
      lookup(*forest_, anchor, neighbour, 0, MostRecent, getLogger(), anchor_T_neighbour);
      relinks.emplace_back((*graph_)[neighbour].name, anchor_T_neighbour);
    }

    // Everything is built aside and swapped in at the end, so that an exception
    // anywhere on the way leaves the manager as it was.
    auto rebuilt = detail::withoutFrame(*graph_, removed);

    auto forest = std::make_unique<detail::FrameForest>();
    forest->rebuild(*rebuilt);
    const std::string anchor_name = anchor == NONE ? std::string() : (*graph_)[anchor].name;
    for (const auto& [neighbour, pose] : relinks) {
      registerTransform(*rebuilt, *forest, getLogger(), anchor_name, neighbour, pose, 0);
    }

    graph_.swap(rebuilt);
    forest_.swap(forest);
    return Success;
  } catch (const std::exception& e) {
    getLogger().warnStream() << "Exception caught in TransformManager::removeFrame:" << e.what();
    exception_signal_.emit(std::current_exception());
    return Error;
  }
}

tkit::Connection TransformManager::connectionException(
    const std::function<void(std::exception_ptr)>& slot) {
  return exception_signal_.connect(slot);
}

// --- Persistence -------------------------------------------------------------

TransformManager::TransformResult TransformManager::loadTransforms(
    const SettingsManager& settings) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);

  struct StoredTransform {
    std::string from;
    std::string to;
    Pose pose;
  };
  // Read everything before changing anything: a bad child must not cost the
  // running graph.
  std::vector<StoredTransform> stored;
  {
    SettingsManager store(settings);
    if (store.exists(TRANSFORMS_TAG)) {
      ScopedPush transforms(store, TRANSFORMS_TAG);
      const int count = store.getChildCount(TRANSFORM_TAG);
      stored.reserve(static_cast<std::size_t>(std::max(count, 0)));
      for (int i = 0; i < count; ++i) {
        ScopedPush child(store, TRANSFORM_TAG, i);
        StoredTransform transform;
        transform.pose = getPose(store);
        transform.from = store.get<std::string>(FROM_FRAME_TAG);
        transform.to = store.get<std::string>(TO_FRAME_TAG);
        stored.push_back(std::move(transform));
      }
    }
  }

  auto graph = std::make_unique<FrameGraph>();
  auto forest = std::make_unique<detail::FrameForest>();
  const Logger& logger = getLogger();
  for (const StoredTransform& transform : stored) {
    registerTransform(*graph, *forest, logger, transform.from, transform.to, transform.pose, 0);
    logger.debugStream() << "Loaded transform from " << transform.from << " to " << transform.to;
  }

  graph_.swap(graph);
  forest_.swap(forest);
  origins_.clear();
  return Success;
}

void TransformManager::storeTransform(const std::string& from, const std::string& to,
                                      const Pose& pose, SettingsManager& settings) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  settings.set<std::string>(FROM_FRAME_TAG, from);
  settings.set<std::string>(TO_FRAME_TAG, to);
  setPose(settings, pose);
}

TransformManager::TransformResult TransformManager::storeTransforms(SettingsManager& settings,
                                                                    bool clear) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::size_t frames = boost::num_vertices(*graph_);
  if (frames == 0) return NotFound;
  if (clear) settings.deletePath(TRANSFORMS_TAG);

  ScopedPush transforms(settings, TRANSFORMS_TAG);
  int count = 0;
  for (std::size_t later = 0; later < frames; ++later) {
    // Out-edges are ordered by target: the earlier frames come first.
    for (auto [it, end] = boost::out_edges(later, *graph_); it != end; ++it) {
      const std::size_t earlier = boost::target(*it, *graph_);
      if (earlier >= later) break;
      Pose earlier_T_later;
      if (lookup(*forest_, later, earlier, 0, MostRecent, getLogger(), earlier_T_later) !=
          Success) {
        continue;
      }
      ScopedPush child(settings, TRANSFORM_TAG, count);
      storeTransform((*graph_)[later].name, (*graph_)[earlier].name, earlier_T_later, settings);
      ++count;
    }
  }
  return Success;
}

}  // namespace zelvane
