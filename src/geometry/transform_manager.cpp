#include "geometry/transform_manager.h"

#include <algorithm>
#include <limits>
#include <sstream>
#include <utility>

#include "geometry/frame_store.h"
#include "geometry/path_lookup.h"
#include "geometry/pose_history.h"
#include "settings_manager.h"

namespace zelvane {

namespace {

using detail::FrameStore;
using detail::PoseHistory;
using detail::poseOf;
using detail::resolve;
using Result = TransformManager::TransformResult;
using Method = TransformManager::InterpolationMethod;

constexpr std::size_t NONE = FrameStore::NONE;

using ScopedPush = SettingsManager::ScopedPush;

void warnCycle(const Logger& logger, const std::string& from, const std::string& to) {
  logger.warnStream() << "Attempting to define transform between frames " << from << " and " << to
                      << " which already have an indirect connection.This new inputted "
                         "transform will be ignored.";
}

// Whether `pose` can be stored: a finite position, and an orientation quaternion of
// non-zero finite length. Squared in double, so that no float component overflows or
// underflows on the way; unit length is not asked for.
TransformManager::Registration poseFault(const Pose& pose) {
  if (!pose.position.allFinite()) return TransformManager::NonFinitePosition;
  const Eigen::Vector4d q = pose.orientation.coeffs().cast<double>();
  if (!q.allFinite() || q.squaredNorm() == 0.0) return TransformManager::DegenerateOrientation;
  return TransformManager::Registered;
}

// Whether a registration's pose is checked (`poseFault`): always but for the
// re-attachments of a removal, whose poses the graph composed itself, so that a
// removal keeps the graph joined whatever values it holds.
enum class PoseCheck { Checked, Composed };

// Registration into `store`: the live one, or one being built aside by `removeFrame`
// and `loadTransforms`. A refusal is logged.
TransformManager::Registration addToStore(FrameStore& store, const Logger& logger,
                                          const std::string& from, const std::string& to,
                                          const Pose& to_T_from, long time, double window,
                                          PoseCheck check = PoseCheck::Checked,
                                          const PoseHistory** stored = nullptr) {
  const TransformManager::Registration fault =
      check == PoseCheck::Checked ? poseFault(to_T_from) : TransformManager::Registered;
  if (fault == TransformManager::NonFinitePosition) {
    const Eigen::Vector3f& p = to_T_from.position;
    logger.warnStream() << "Attempting to define transform between frames " << from << " and " << to
                        << " with the position (" << p.x() << ", " << p.y() << ", " << p.z()
                        << "), which is not finite. This new inputted transform will be ignored.";
    return fault;
  }
  if (fault == TransformManager::DegenerateOrientation) {
    const Eigen::Quaternionf& q = to_T_from.orientation;
    logger.warnStream() << "Attempting to define transform between frames " << from << " and " << to
                        << " with the orientation quaternion (" << q.x() << ", " << q.y() << ", "
                        << q.z() << ", " << q.w()
                        << "), whose length is zero or not finite. This new inputted transform "
                           "will be ignored.";
    return fault;
  }
  switch (store.add(from, to, to_T_from, time, window, stored)) {
    case FrameStore::Registration::Stored: return TransformManager::Registered;
    case FrameStore::Registration::SelfTransform:
      logger.warnStream() << "Attempting to define transform from frame " << from
                          << " to itself. This new inputted transform will be ignored.";
      return TransformManager::SelfTransform;
    case FrameStore::Registration::WouldCloseCycle:
      warnCycle(logger, from, to);
      return TransformManager::WouldCloseCycle;
  }
  return TransformManager::WouldCloseCycle;
}

// The lookup proper, on frame indices. Allocates nothing for ordinary paths.
Result lookup(const FrameStore& store, std::size_t from, std::size_t to,
              const FrameStore::Sampling& sampling, Pose& result) {
  Eigen::Matrix4f to_T_from = Eigen::Matrix4f::Identity();
  std::int64_t stamp = sampling.time;
  const Result code = store.compose(from, to, sampling, to_T_from, stamp);
  if (code == TransformManager::Success) result = poseOf(to_T_from, stamp);
  return code;
}

// `getTransform` onto `to_T_from` (to_T_from = to_T_from * the lookup) and `stamp`.
Result composeNamed(const FrameStore& store, const std::string& from, const std::string& to,
                    const FrameStore::Sampling& sampling, Eigen::Matrix4f& to_T_from,
                    std::int64_t& stamp) {
  std::size_t from_frame = NONE;
  std::size_t to_frame = NONE;
  const Result code = resolve(store, from, to, from_frame, to_frame);
  if (code != TransformManager::Success || from_frame == NONE) return code;
  return store.compose(from_frame, to_frame, sampling, to_T_from, stamp);
}

}  // namespace

TransformManager::TransformManager() : store_(std::make_unique<FrameStore>()) {
  setLogger(LoggingManager::getInstance().getLogger("TransformManager"));
}

TransformManager::TransformResult TransformManager::refuseMethod(InterpolationMethod method,
                                                                 const std::string& what) const {
  getLogger().warnStream() << "Attempting to look up " << what << " with the interpolation method "
                           << static_cast<int>(method)
                           << ", which is none of MostRecent (0), Extrapolated (1) and "
                              "Interpolated (2). The lookup is refused.";
  return Error;
}

TransformManager::~TransformManager() { endWaitsAndListeners(); }

// --- Registration and frames -------------------------------------------------

void TransformManager::setTransform(const std::string& from, const std::string& to,
                                    const Pose& pose, long time) {
  // A refusal is logged where it is decided; this form reports nothing more.
  static_cast<void>(registerTransform(from, to, pose, time));
}

TransformManager::Registration TransformManager::registerTransform(const std::string& from,
                                                                   const std::string& to,
                                                                   const Pose& pose, long time) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (delivering_registration_) {
    getLogger().warnStream() << "Attempting to define transform between frames " << from << " and "
                             << to
                             << " from a slot of the registration notification. This new "
                                "inputted transform will be ignored.";
    return FromRegistrationSlot;
  }
  const PoseHistory* stored = nullptr;
  const Registration outcome = addToStore(*store_, getLogger(), from, to, pose, time,
                                          history_window_, PoseCheck::Checked, &stored);
  if (outcome == Registered) {
    // Without a slot ever connected there is no one to tell: the signal's lock is not
    // taken. A slot connected meanwhile on another thread hears the next registration.
    if (registration_slots_.load(std::memory_order_acquire)) {
      const CallbackScope scope(*this);
      delivering_registration_ = true;
      try {
        registered_signal_.emit(from, to, time);
      } catch (...) {
        delivering_registration_ = false;
        throw;
      }
      delivering_registration_ = false;
    }
    RegisteredPair pair;
    pair.samples = stored->size();
    std::int64_t oldest = 0;
    std::int64_t newest = 0;
    static_cast<void>(detail::interpolationSpan(*stored, history_window_, oldest, newest));
    pair.oldest = oldest;
    pair.newest = newest;
    notifyRegistered(from, to, time, pair);
  }
  return outcome;
}

namespace {

constexpr EnumName<TransformManager::TransformResult> RESULT_NAMES[] = {
    {TransformManager::Success, "Success"},
    {TransformManager::NoFrames, "NoFrames"},
    {TransformManager::NotFound, "NotFound"},
    {TransformManager::OutOfRange, "OutOfRange"},
    {TransformManager::Error, "Error"}};

constexpr EnumName<TransformManager::InterpolationMethod> METHOD_NAME_LIST[] = {
    {TransformManager::Interpolated, "interpolated"},
    {TransformManager::Extrapolated, "extrapolated"},
    {TransformManager::MostRecent, "most_recent"}};

constexpr EnumName<TransformManager::InterpolationMethod> METHOD_ALIASES[] = {
    {TransformManager::MostRecent, "mostrecent"}};

}  // namespace

const NameTable<TransformManager::TransformResult>& TransformManager::resultNames() {
  static constexpr NameTable<TransformResult> table(RESULT_NAMES, "Unknown");
  return table;
}

const char* TransformManager::resultName(TransformResult result) {
  return resultNames().name(result);
}

const NameTable<TransformManager::InterpolationMethod>& TransformManager::methodNames() {
  static constexpr NameTable<InterpolationMethod> table(METHOD_NAME_LIST, METHOD_ALIASES,
                                                        "unknown");
  return table;
}

const char* TransformManager::methodName(InterpolationMethod method) {
  return methodNames().name(method);
}

const char* const TransformManager::METHOD_NAMES =
    "most_recent, extrapolated or interpolated (mostrecent: an alias of most_recent)";

bool TransformManager::parseMethodName(const std::string& name, InterpolationMethod& method) {
  return methodNames().parse(name, method);
}

TransformManager::TransformResult TransformManager::setHistoryWindow(double window) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!(window >= 0.0)) {
    getLogger().warnStream() << "Attempting to set the history window to " << window
                             << ", which is not a span of time. The window stays "
                             << history_window_ << ".";
    return Error;
  }
  history_window_ = window;
  return Success;
}

double TransformManager::getHistoryWindow() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return history_window_;
}

bool TransformManager::hasFrame(const std::string& name) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return store_->find(name) != NONE;
}

std::vector<std::string> TransformManager::getFrames() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<std::string> names;
  names.reserve(store_->size());
  for (std::size_t frame = 0; frame < store_->size(); ++frame) names.push_back(store_->name(frame));
  return names;
}

TransformManager::TransformResult TransformManager::updateFrameName(const std::string& oldName,
                                                                    const std::string& newName) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::size_t frame = store_->find(oldName);
  if (frame == NONE) return NotFound;
  if (newName == oldName) return Success;
  if (store_->find(newName) != NONE) {
    getLogger().warnStream() << "Attempting to rename frame " << oldName << " to " << newName
                             << " which is the name of another frame. The frame keeps its name.";
    return Error;
  }
  store_->rename(frame, newName);
  return Success;
}

bool TransformManager::indirectConnectionExists(const std::string& from,
                                                const std::string& to) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::size_t from_frame = store_->find(from);
  const std::size_t to_frame = store_->find(to);
  if (from_frame == NONE || to_frame == NONE) return false;
  if (store_->directEdge(from_frame, to_frame) != nullptr) return false;
  return store_->connected(from_frame, to_frame);
}

std::size_t TransformManager::historySize(const std::string& from, const std::string& to) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::size_t from_frame = store_->find(from);
  const std::size_t to_frame = store_->find(to);
  if (from_frame == NONE || to_frame == NONE) return 0;
  const PoseHistory* to_T_from = store_->directEdge(from_frame, to_frame);
  return to_T_from == nullptr ? 0 : to_T_from->size();
}

// --- Lookup ------------------------------------------------------------------

TransformManager::TransformResult TransformManager::getTransform(const std::string& from,
                                                                 const std::string& to, long time,
                                                                 InterpolationMethod method,
                                                                 Pose& result) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  result = Pose();
  if (!knownMethod(method)) return refuseMethod(method, from, to);
  Eigen::Matrix4f to_T_from = Eigen::Matrix4f::Identity();
  std::int64_t stamp = time;
  const Result code = composeNamed(*store_, from, to, {time, method, history_window_, getLogger()},
                                   to_T_from, stamp);
  // The identity of equal names keeps timestamp 0.
  if (code == Success && from != to) result = poseOf(to_T_from, stamp);
  return code;
}

TransformManager::TransformResult TransformManager::getTransform(const std::string& from,
                                                                 const std::string& to,
                                                                 Pose& result) {
  return getTransform(from, to, 0, MostRecent, result);
}

TransformManager::TransformResult TransformManager::getTransformThroughFixedFrame(
    const std::string& from, long fromTime, const std::string& to, long toTime,
    const std::string& fixed, InterpolationMethod method, Pose& result) {
  FixedFrameHalf failed = NoHalf;
  return getTransformThroughFixedFrame(from, fromTime, to, toTime, fixed, method, result, failed);
}

TransformManager::TransformResult TransformManager::getTransformThroughFixedFrame(
    const std::string& from, long fromTime, const std::string& to, long toTime,
    const std::string& fixed, InterpolationMethod method, Pose& result, FixedFrameHalf& failed) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  result = Pose();
  failed = FromInFixed;
  if (!knownMethod(method)) return refuseMethod(method, from, to);
  Eigen::Matrix4f fixed_T_from = Eigen::Matrix4f::Identity();
  std::int64_t from_stamp = fromTime;
  Result code = composeNamed(*store_, from, fixed, {fromTime, method, history_window_, getLogger()},
                             fixed_T_from, from_stamp);
  if (code != Success) return code;
  failed = FixedInTo;
  Eigen::Matrix4f to_T_fixed = Eigen::Matrix4f::Identity();
  std::int64_t to_stamp = toTime;
  code = composeNamed(*store_, fixed, to, {toTime, method, history_window_, getLogger()},
                      to_T_fixed, to_stamp);
  if (code != Success) return code;
  failed = NoHalf;
  result = poseOf(to_T_fixed * fixed_T_from, to_stamp);
  return Success;
}

TransformManager::TransformResult TransformManager::getCommonTimeSpan(const std::string& from,
                                                                      const std::string& to,
                                                                      long& oldest,
                                                                      long& newest) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::size_t from_frame = NONE;
  std::size_t to_frame = NONE;
  const Result code = resolve(*store_, from, to, from_frame, to_frame);
  if (code != Success) return code;
  std::int64_t common_oldest = std::numeric_limits<std::int64_t>::min();
  std::int64_t common_newest = std::numeric_limits<std::int64_t>::max();
  if (from_frame != NONE) {
    detail::PathCursors path;
    Result spanned = path.open(*store_, from_frame, to_frame);
    if (spanned == Success) spanned = path.span(history_window_, common_oldest, common_newest);
    if (spanned != Success) return spanned;
  }
  oldest = common_oldest;
  newest = common_newest;
  return Success;
}

std::vector<TransformManager::EdgeSummary> TransformManager::getEdges() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<EdgeSummary> edges;
  store_->forEachPair([&](std::size_t later, std::size_t earlier) {
    const bool later_given = store_->registeredAs(later, earlier);
    const std::size_t from = later_given ? later : earlier;
    const std::size_t to = later_given ? earlier : later;
    const PoseHistory& to_T_from = *store_->directEdge(from, to);
    EdgeSummary edge;
    edge.from = store_->name(from);
    edge.to = store_->name(to);
    edge.isStatic = detail::isStatic(to_T_from);
    edge.samples = to_T_from.size();
    if (!edge.isStatic) {
      edge.oldest = detail::registrationTime(to_T_from.front());
      edge.newest = detail::registrationTime(to_T_from.back());
    }
    edges.push_back(std::move(edge));
  });
  return edges;
}

TransformManager::Snapshot TransformManager::snapshot() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Snapshot snapshot;
  snapshot.frames.reserve(store_->size());
  for (std::size_t frame = 0; frame < store_->size(); ++frame) {
    snapshot.frames.push_back(store_->name(frame));
  }
  store_->forEachPair([&](std::size_t later, std::size_t earlier) {
    const bool later_given = store_->registeredAs(later, earlier);
    const std::size_t from = later_given ? later : earlier;
    const std::size_t to = later_given ? earlier : later;
    snapshot.pairs.push_back({store_->name(from), store_->name(to),
                              store_->directEdge(from, to)->toMap(),
                              store_->directEdge(to, from)->toMap()});
  });
  snapshot.historyWindow = history_window_;
  snapshot.origins = origins_;
  return snapshot;
}

TransformManager::TransformResult TransformManager::restore(const Snapshot& snapshot,
                                                            std::string* fault) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::string reason;
  std::unique_ptr<FrameStore> restored;
  if (snapshot.historyWindow >= 0.0) {
    restored = FrameStore::restored(snapshot, reason);
  } else {
    std::ostringstream window;
    window << snapshot.historyWindow;
    reason = "the history window " + window.str() + " is not a span of time";
  }
  if (restored == nullptr) {
    getLogger().warnStream() << "Attempting to restore a snapshot in which " << reason
                             << ". The manager is unchanged.";
    if (fault != nullptr) *fault = reason;
    return Error;
  }
  std::map<std::string, TransformManagerOrigin> origins = snapshot.origins;
  restored->followShape(*store_);
  store_.swap(restored);
  origins_.swap(origins);
  history_window_ = snapshot.historyWindow;
  notifyLoaded();  // a new graph, as after loading: waits end, queues re-decide
  return Success;
}

tkit::Connection TransformManager::connectTransformRegistered(
    const std::function<void(const std::string&, const std::string&, long)>& slot) {
  registration_slots_.store(true, std::memory_order_release);
  return registered_signal_.connect(slot);
}

TransformManager::TransformResult TransformManager::getTransformFromPoseMap(
    const std::map<double, Pose>& poses, long time, InterpolationMethod method, Pose& result) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!knownMethod(method)) {
    result = Pose();
    return refuseMethod(method, "a pose history");
  }
  return detail::sampleHistory(poses, time, method, history_window_, getLogger(), result);
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
    const std::size_t removed = store_->find(frame);
    if (removed == NONE) return NotFound;

    // The first neighbour in frame order stays; the others are re-attached to it
    // with the transform that holds now, composed through the frame going away.
    std::size_t anchor = NONE;
    std::vector<std::pair<std::string, Pose>> relinks;
    store_->forEachNeighbour(removed, [&](std::size_t neighbour) {
      if (anchor == NONE) {
        anchor = neighbour;
        return;
      }
      // Both are neighbours of the removed frame, so a path joins them and the newest
      // samples answer: the lookup cannot fail.
      Pose neighbour_T_anchor;
      static_cast<void>(lookup(*store_, anchor, neighbour,
                               {0, MostRecent, history_window_, getLogger()}, neighbour_T_anchor));
      relinks.emplace_back(store_->name(neighbour), neighbour_T_anchor);
    });

    // Everything is built aside and swapped in at the end, so that an exception
    // anywhere on the way leaves the manager as it was.
    std::unique_ptr<FrameStore> rebuilt = store_->without(removed);
    const std::string anchor_name = anchor == NONE ? std::string() : store_->name(anchor);
    for (const auto& [neighbour, neighbour_T_anchor] : relinks) {
      // The relinked edges form a star on the anchor, which closes no cycle.
      static_cast<void>(addToStore(*rebuilt, getLogger(), anchor_name, neighbour,
                                   neighbour_T_anchor, 0, history_window_, PoseCheck::Composed));
    }
    flagWaitersThrough(removed);
    rebuilt->followShape(*store_);
    store_.swap(rebuilt);
  } catch (const std::exception& e) {
    getLogger().warnStream() << "Exception caught in TransformManager::removeFrame:" << e.what();
    const CallbackScope scope(*this);
    exception_signal_.emit(std::current_exception());
    return Error;
  }
  notifyRemoved(frame);
  return Success;
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

  auto loaded = std::make_unique<FrameStore>();
  const Logger& logger = getLogger();
  for (const StoredTransform& transform : stored) {
    // A refused transform is logged where it is refused, and the others still load.
    static_cast<void>(addToStore(*loaded, logger, transform.from, transform.to, transform.pose, 0,
                                 history_window_));
    logger.debugStream() << "Loaded transform from " << transform.from << " to " << transform.to;
  }

  loaded->followShape(*store_);
  store_.swap(loaded);
  origins_.clear();
  notifyLoaded();
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
  if (store_->size() == 0) return NotFound;
  if (clear) settings.deletePath(TRANSFORMS_TAG);

  ScopedPush transforms(settings, TRANSFORMS_TAG);
  int count = 0;
  store_->forEachPair([&](std::size_t later, std::size_t earlier) {
    Pose earlier_T_later;
    if (lookup(*store_, later, earlier, {0, MostRecent, history_window_, getLogger()},
               earlier_T_later) != Success) {
      return;
    }
    ScopedPush child(settings, TRANSFORM_TAG, count);
    storeTransform(store_->name(later), store_->name(earlier), earlier_T_later, settings);
    ++count;
  });
  return Success;
}

// --- Lookups of one pair at many times -------------------------------------------

namespace {

// The lookups of `from` in `to` at each of `times`, in their order, each made as
// `getTransform` makes it. `deliver(begin, end, code, pose)` receives the code and the
// pose (the identity on failure) of the times from `begin` to `end` (excluded), a run
// of equal times whose later lookups would write no records and so share the first
// one's result: a success, while no trace records (those of a blend) are written.
// Returns the successes.
template <class Deliver>
std::size_t lookupMany(const FrameStore& store, const std::string& from, const std::string& to,
                       const long* times, std::size_t count, Method method, double window,
                       const Logger& logger, Deliver&& deliver) {
  std::size_t from_frame = NONE;
  std::size_t to_frame = NONE;
  Result code = resolve(store, from, to, from_frame, to_frame);
  // One cursor per edge of the path, in the order in which a lookup samples them.
  detail::PathCursors path;
  if (code == TransformManager::Success && from_frame != NONE) {
    code = path.open(store, from_frame, to_frame);
  }
  if (code != TransformManager::Success || from_frame == NONE) {
    // Equal names (the identity, timestamp 0) or the same failure at every time.
    if (count > 0) deliver(std::size_t{0}, count, code, Pose());
    return code == TransformManager::Success ? count : 0;
  }

  // Asked once for the batch: the trace records of the blends, and whether a repeated
  // time may share its pose (when no records would be written again).
  const bool traced = logger.isEnabled(Logger::TRACE_LEVEL);
  const bool may_share = !traced;
  std::size_t successes = 0;
  detail::PathProduct product(Eigen::Matrix4f::Identity(), 0);
  for (std::size_t begin = 0; begin < count;) {
    const long time = times[begin];
    product.restart(time);
    code = path.compose(time, method, window, logger, traced, product);
    std::size_t end = begin + 1;
    if (code == TransformManager::Success) {
      if (may_share) {
        while (end < count && times[end] == time) ++end;
      }
      successes += end - begin;
      deliver(begin, end, code, poseOf(product.matrix(), product.stamp()));
    } else {
      deliver(begin, end, code, Pose());
    }
    begin = end;
  }
  return successes;
}

}  // namespace

std::size_t TransformManager::getTransforms(const std::string& from, const std::string& to,
                                            const long* times, std::size_t count,
                                            InterpolationMethod method, Pose* results,
                                            TransformResult* codes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto deliver = [&](std::size_t begin, std::size_t end, Result code, const Pose& pose) {
    std::fill(results + begin, results + end, pose);
    std::fill(codes + begin, codes + end, code);
  };
  if (!knownMethod(method)) {  // refused at every time, as the single lookups are
    for (std::size_t i = 0; i < count; ++i)
      deliver(i, i + 1, refuseMethod(method, from, to), Pose());
    return 0;
  }
  return lookupMany(*store_, from, to, times, count, method, history_window_, getLogger(), deliver);
}

std::size_t TransformManager::getTransformMatrices(const std::string& from, const std::string& to,
                                                   const long* times, std::size_t count,
                                                   InterpolationMethod method,
                                                   Eigen::Matrix4f* matrices,
                                                   TransformResult* codes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto deliver = [&](std::size_t begin, std::size_t end, Result code, const Pose& pose) {
    std::fill(matrices + begin, matrices + end, pose.toTransform());
    std::fill(codes + begin, codes + end, code);
  };
  if (!knownMethod(method)) {
    for (std::size_t i = 0; i < count; ++i)
      deliver(i, i + 1, refuseMethod(method, from, to), Pose());
    return 0;
  }
  return lookupMany(*store_, from, to, times, count, method, history_window_, getLogger(), deliver);
}

std::size_t TransformManager::transformPoints(const std::string& from, const std::string& to,
                                              const float* points, const long* times,
                                              std::size_t count, InterpolationMethod method,
                                              float* placed, TransformResult* codes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto deliver = [&](std::size_t begin, std::size_t end, Result code, const Pose& pose) {
    std::fill(codes + begin, codes + end, code);
    if (code == Success) {
      mapPoints(pose.toTransform(), points + 3 * begin, end - begin, placed + 3 * begin);
    } else {
      std::fill(placed + 3 * begin, placed + 3 * end, std::numeric_limits<float>::quiet_NaN());
    }
  };
  if (!knownMethod(method)) {
    for (std::size_t i = 0; i < count; ++i)
      deliver(i, i + 1, refuseMethod(method, from, to), Pose());
    return 0;
  }
  return lookupMany(*store_, from, to, times, count, method, history_window_, getLogger(), deliver);
}

}  // namespace zelvane
