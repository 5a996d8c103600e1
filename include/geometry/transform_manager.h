/// @file
/// `TransformManager`: named coordinate frames joined by static or time-stamped
/// rigid transforms, looked up between any two connected frames at a time.
///
/// Conventions:
/// - The pose registered for the ordered pair (a, b) describes frame a in frame b
///   (b_T_a): its transform maps points given in a into b. A lookup from `from` to
///   `to` returns `from` described in `to` (to_T_from).
/// - Time stamps are signed 64-bit integers in the graph's own time unit (the unit
///   of the registrations); 0 marks a static transform.
/// - Seen as an undirected graph the frames form a forest: between two frames there
///   is at most one path. A transform that would close a cycle is refused.
/// - Failures are reported as `TransformResult` codes or `bool` with out-parameters
///   and in the log; the manager throws only what it cannot handle itself
///   (allocation failures, a failure to lock, errors of the settings store).
/// - Every public operation that reads or changes the manager holds its recursive
///   lock for its whole duration, so one manager may be shared between threads.
/// - Lookups and waits differ on one point. A lookup answers a time past an edge's
///   only sample with that sample (one sample answers every later time). A wait
///   (`waitForTransform` with `Interpolated`) and a `TransformQueue` hand a pose over
///   at a time T only when T is covered: every time-stamped edge of the path holds a
///   sample at T or samples on both sides of T (a static edge always covers). Data
///   stamped past the newest sample waits for a later one instead of leaving with a
///   stale pose.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/graph/adjacency_list.hpp>

#include <zelvane/core/name_table.h>
#include <zelvane/geometry/pose.h>
#include <zelvane/logging_manager.h>
#include <zelvane/tkit/signal.h>
#include <zelvane/zelvane_core_export.h>

/// Settings node that holds the stored transforms.
const std::string TRANSFORMS_TAG = "Transforms";
/// Settings child of `TRANSFORMS_TAG`, one per stored transform.
const std::string TRANSFORM_TAG = "Transform";
/// Settings key of a stored transform: the frame that the pose describes.
const std::string FROM_FRAME_TAG = "fromFrameName";
/// Settings key of a stored transform: the frame that the pose is given in.
const std::string TO_FRAME_TAG = "toFrameName";

namespace zelvane {

class SettingsManager;

namespace frames {
/// Conventional frame names for applications; the manager treats them like any other.
const std::string BODY_FRAME = "Body";
const std::string GLOBAL_FRAME = "Global";
const std::string SENSOR_ORIGIN_FRAME = "Sensor";
}  // namespace frames

namespace detail {
class FrameStore;
class PoseHistory;
}  // namespace detail

/// A forest of named frames and the transforms between them.
///
/// Every registered transform is kept as two directed edges: a->b with the poses
/// given and b->a with their inverses, each with a short history keyed by time.
/// Frames are numbered in the order in which they were first registered; that order
/// is the order of `getFrames`, of stored transforms and of the anchor choice in
/// `removeFrame`. Frame names are unique.
class ZELVANE_CORE_API TransformManager : public LoggedComponent {
 public:
  /// How one edge's history is sampled at a requested time. Every operation that
  /// takes a method refuses a value outside the enumeration with `Error` and a
  /// warning in the log.
  enum InterpolationMethod {
    /// The newest sample, whatever the time.
    MostRecent = 0,
    /// The exact sample, else linear (position) and spherical (orientation)
    /// interpolation between the neighbouring samples; past the newest sample the
    /// two newest samples are extrapolated.
    Extrapolated = 1,
    /// As `Extrapolated`, but a time past the newest sample is refused.
    Interpolated = 2,
  };

  /// Status of lookups and graph edits. A function returning it reports failure through
  /// it, so the compiler warns where a caller drops it.
  enum [[nodiscard]] TransformResult{
      Success = 0,
      /// `getTransform` on a manager without frames.
      NoFrames = 1,
      /// A frame is not registered, no path joins the frames, an edge has no sample,
      /// or there is nothing to store.
      NotFound = 2,
      /// The requested time is outside what the samples allow.
      OutOfRange = 3,
      /// The operation was refused or caught an exception.
      Error = 5,
  };

  /// What `registerTransform` did with one registration; dropping it draws a warning.
  enum [[nodiscard]] Registration{
      /// Stored, as `setTransform` stores it.
      Registered = 0,
      /// Refused: a transform from a frame to itself.
      SelfTransform = 1,
      /// Refused: the two frames are already joined through other frames, so the
      /// transform would close a cycle.
      WouldCloseCycle = 2,
      /// Refused: made from a slot of the registration notification, where the
      /// notification could not be sent without deadlocking its signal.
      FromRegistrationSlot = 3,
      /// Refused: a position with a NaN or infinite coordinate.
      NonFinitePosition = 4,
      /// Refused: an orientation quaternion of zero length or with a NaN or infinite
      /// component, which describes no rotation. (Unit length is not required.)
      DegenerateOrientation = 5,
  };

  /// The half of `getTransformThroughFixedFrame` that failed.
  enum FixedFrameHalf {
    /// Neither: the lookup succeeded.
    NoHalf = 0,
    /// `from` at `fromTime` in `fixed`.
    FromInFixed = 1,
    /// `fixed` in `to` at `toTime`.
    FixedInTo = 2,
  };

  /// One frame of the graph.
  struct Vertex {
    std::string name;
  };

  /// One direction of a registered transform: its pose history, keyed by the
  /// registration time stamp as `double` (0.0 for a static transform).
  struct Edge {
    std::map<double, Pose> poses;
  };

  /// One pair of directly joined frames, as `getEdges` lists it.
  struct EdgeSummary {
    /// The frame described and the frame it is given in, as first registered between
    /// the two: the pair holds the pose of `from` in `to` (and its inverse).
    std::string from;
    std::string to;
    /// A single static entry (registered with time 0), which answers every time.
    bool isStatic = false;
    /// Samples held (each direction holds as many).
    std::size_t samples = 0;
    /// Registration times of the oldest and the newest sample; 0 for a static pair.
    long oldest = 0;
    long newest = 0;
  };

  /// A named origin: a frame and a pose given with it. Not tied to the graph.
  struct TransformManagerOrigin {
    std::string frame;
    Pose pose;
  };

  /// The whole history of one pair of directly joined frames, both directions, as
  /// `snapshot` reads it and `restore` puts it back.
  struct PairHistory {
    /// The pair as first registered (as in `EdgeSummary`).
    std::string from;
    std::string to;
    /// The edge from->to: the pose of `from` in `to` under each key (the registration
    /// time as `double`; 0.0 for a static entry), with its `timestamp` as stored.
    std::map<double, Pose> poses;
    /// The edge to->from: the inverse poses, under the same keys.
    std::map<double, Pose> inverses;
  };

  /// Everything a manager holds but its logger and its connected slots: what
  /// `snapshot` returns and `restore` takes.
  struct Snapshot {
    /// The frame names in registration order.
    std::vector<std::string> frames;
    /// Every pair of directly joined frames, once, in the order of `getEdges`.
    std::vector<PairHistory> pairs;
    /// The history window (`setHistoryWindow`).
    double historyWindow = TRANSFORM_HISTORY_WINDOW;
    /// The named origins.
    std::map<std::string, TransformManagerOrigin> origins;
  };

  /// Out-edges in an ordered set keyed by target (one edge per ordered pair),
  /// vertices in a vector (the index is the registration order), edge properties in
  /// a list, so that each edge's history stays where it is while the graph grows.
  using FrameGraph = boost::adjacency_list<boost::setS, boost::vecS, boost::directedS, Vertex, Edge,
                                           boost::no_property, boost::listS>;

  /// The default history window: the span of history kept per edge, and the
  /// staleness limit of lookups, in the time unit of the graph (`setHistoryWindow`).
  static constexpr double TRANSFORM_HISTORY_WINDOW = 1.0e10;

  /// An empty manager whose logger is "TransformManager".
  TransformManager();
  /// Ends the waits in progress (they return `Error`; this waits until their threads
  /// have left) and tells the attached queues (`Listener::managerDestroyed`), then
  /// drops the slots of the exception signal, the origins and the graph.
  ~TransformManager() override;

  TransformManager(const TransformManager&) = delete;
  TransformManager& operator=(const TransformManager&) = delete;
  TransformManager(TransformManager&&) = delete;
  TransformManager& operator=(TransformManager&&) = delete;

  /// Registers `pose`, the pose of frame `from` in frame `to`, at `time` (0 for a
  /// static transform). Missing frames are created, `from` before `to`. The pose is
  /// stored on the edge from->to and its inverse (`Pose::toInversePose`) on to->from;
  /// with a non-zero `time` both are stored with `timestamp` = `time`, with 0 they
  /// keep the pose's own `timestamp`. An entry with the same time is replaced. Each
  /// history then drops its oldest entries while it holds more than two and `time`
  /// lies more than the history window (`setHistoryWindow`) after the oldest.
  ///
  /// Refused with a warning in the log, changing nothing: a transform between two
  /// frames already joined through other frames (it would close a cycle), a
  /// transform from a frame to itself, a position that is not finite, and an
  /// orientation quaternion of zero length or with a component that is not finite.
  ///
  /// Cost: a few hash look-ups and amortised O(1) in the edge's histories for a sample
  /// newer than those held (for an older one, O(samples between it and the nearer end
  /// of the history)); the inverse pose is formed when a lookup first needs it. A
  /// steady stream of samples allocates nothing. Joining two trees costs O(size of the
  /// smaller tree).
  void setTransform(const std::string& from, const std::string& to, const Pose& pose, long time);

  /// Registers exactly as `setTransform` does (same storage, same warning in the log
  /// for a refusal, same notification after an accepted registration) and says what
  /// happened: `Registered`, or the refusal (`SelfTransform`, `WouldCloseCycle`,
  /// `FromRegistrationSlot`, `NonFinitePosition`, `DegenerateOrientation`), in which case
  /// nothing changed. The outcome is decided under the manager's lock, so no other
  /// thread's registration comes in between. Cost: as `setTransform`.
  Registration registerTransform(const std::string& from, const std::string& to, const Pose& pose,
                                 long time);

  /// The names of the result codes, as the command line, the Python module and the log
  /// print them: "Success", "NoFrames", "NotFound", "OutOfRange", "Error"; "Unknown"
  /// for a value outside the enumeration.
  static const NameTable<TransformResult>& resultNames();

  /// The name of a result code (`resultNames`). A static string; O(1).
  static const char* resultName(TransformResult result);

  /// The names of the sampling methods, as the command line, settings and the Python
  /// module take them: "interpolated", "extrapolated", "most_recent", and the alias
  /// "mostrecent" of "most_recent" (the command line's earlier spelling), exactly, lower
  /// case; "unknown" for a value outside the enumeration.
  static const NameTable<InterpolationMethod>& methodNames();

  /// The name of a sampling method (`methodNames`). A static string; O(1).
  static const char* methodName(InterpolationMethod method);

  /// Reads a method name or alias (`methodNames`). Returns false and leaves `method`
  /// alone for any other text. O(1).
  [[nodiscard]] static bool parseMethodName(const std::string& name, InterpolationMethod& method);

  /// The accepted method names for messages: "most_recent, extrapolated or
  /// interpolated (mostrecent: an alias of most_recent)".
  static const char* const METHOD_NAMES;

  /// Sets the history window, in the time unit of the graph: each edge keeps the
  /// samples of the last `window` units before its newest one (and never fewer than
  /// two), and a lookup more than `window` after an edge's newest sample is
  /// `OutOfRange`. The default, `TRANSFORM_HISTORY_WINDOW` (1e10), is 10 s of
  /// nanosecond stamps but 115 days of millisecond ones. Lookups use the new window at
  /// once; an edge is pruned to it at its next registration. +infinity keeps every
  /// sample. Returns `Error` with a warning in the log, changing nothing, for a
  /// negative or NaN window, else `Success`.
  TransformResult setHistoryWindow(double window);

  /// The history window (see `setHistoryWindow`).
  double getHistoryWindow() const;

  /// True when a frame has exactly this name. O(1) on average.
  bool hasFrame(const std::string& name) const;

  /// The frame names in registration order; empty without frames. O(frames).
  std::vector<std::string> getFrames() const;

  /// Renames frame `oldName` to `newName`, keeping its transforms and histories.
  /// Returns `NotFound` when no frame has `oldName`, `Success` when `newName` equals
  /// `oldName` (nothing changes), and `Error` with a warning in the log when another
  /// frame already has `newName` (nothing changes).
  TransformResult updateFrameName(const std::string& oldName, const std::string& newName);

  /// True when both frames exist, no edge joins them directly, and they are
  /// connected through other frames (also true for an existing frame and itself).
  /// O(1) on average.
  bool indirectConnectionExists(const std::string& from, const std::string& to) const;

  /// The number of samples held on the edge from `from` to `to` (the history that a
  /// lookup from `from` to `to` samples); 0 when either frame is unknown or no edge
  /// joins them directly. For checking how much a stream of registrations keeps.
  /// O(1) on average.
  std::size_t historySize(const std::string& from, const std::string& to) const;

  /// The pose of frame `from` in frame `to` at `time`, composed along the path:
  /// every edge on it is sampled with `method` (see `getTransformFromPoseMap`) and
  /// the samples are chained so that the edge next to `to` is applied last. The
  /// result's `timestamp` is the largest of `time` and the samples' timestamps.
  ///
  /// `result` is always overwritten, with the identity pose whenever the lookup
  /// fails. Returns `Success` (also for `from` equal to `to`, registered or not, with
  /// the identity), `NoFrames` without frames, `NotFound` when a name is not
  /// registered or the frames are not connected, else the code of the first edge,
  /// counted from the `to` end, whose sampling fails; `Error` with a warning in the
  /// log for a `method` outside the enumeration.
  ///
  /// Cost: proportional to the path only (no search over the rest of the graph);
  /// no heap allocation for paths of up to 32 edges between `from` and the branch
  /// point.
  TransformResult getTransform(const std::string& from, const std::string& to, long time,
                               InterpolationMethod method, Pose& result);

  /// `getTransform(from, to, 0, MostRecent, result)`: the newest samples composed.
  TransformResult getTransform(const std::string& from, const std::string& to, Pose& result);

  /// The pose of `from` at `fromTime` in `to` at `toTime`, through `fixed`, a frame
  /// taken not to move between the two times: `from` is looked up in `fixed` at
  /// `fromTime`, `fixed` in `to` at `toTime`, and the two are chained,
  /// to_T_from = to_T_fixed(toTime) * fixed_T_from(fromTime). For example a lidar point
  /// seen at t1, placed in the body frame of t2, with `fixed` the global frame. Each
  /// half is sampled with `method` and answers as `getTransform` does (so a `fixed`
  /// equal to `from` or to `to` makes that half the identity).
  ///
  /// `result` is always overwritten, with the identity on failure. Returns `Success`,
  /// else the code of the first half that fails, the half from `from` into `fixed`
  /// first (`NoFrames`, `NotFound`, `OutOfRange`, as `getTransform`). The result's
  /// `timestamp` is the one of the second half: `toTime`, unless a sample on the path
  /// between `fixed` and `to` carries a later one.
  ///
  /// Cost: the two paths only; no heap allocation for ordinary paths.
  TransformResult getTransformThroughFixedFrame(const std::string& from, long fromTime,
                                                const std::string& to, long toTime,
                                                const std::string& fixed,
                                                InterpolationMethod method, Pose& result);

  /// `getTransformThroughFixedFrame`, which also says in `failed` which half failed:
  /// `NoHalf` on success, else `FromInFixed` or `FixedInTo` (always written). The
  /// failing half is known from the one lookup; nothing is looked up again.
  TransformResult getTransformThroughFixedFrame(const std::string& from, long fromTime,
                                                const std::string& to, long toTime,
                                                const std::string& fixed,
                                                InterpolationMethod method, Pose& result,
                                                FixedFrameHalf& failed);

  /// The times T at which `getTransform(from, to, T, Interpolated, ...)` succeeds:
  /// from `oldest` to `newest`, both included, the intersection of the spans of the
  /// edges on the path. A time-stamped edge spans its oldest to its newest sample (a
  /// single sample: from its time to one history window after it); a static edge
  /// does not limit the span.
  ///
  /// Returns `Success`, with the limits of `long` for `from` equal to `to` and for a
  /// path of static edges only; `NoFrames` and `NotFound` as `getTransform`;
  /// `OutOfRange` when the edges' spans do not overlap, so that no time works. On
  /// failure `oldest` and `newest` are left as they were. Cost: the path only.
  TransformResult getCommonTimeSpan(const std::string& from, const std::string& to, long& oldest,
                                    long& newest) const;

  /// Every pair of directly joined frames, once: in the direction of its first
  /// registration, static or time-stamped, with its sample count and the times of its
  /// oldest and newest samples. Listed in the order of `storeTransforms`: by the later
  /// frame of the pair, then by the earlier one. O(frames + edges).
  std::vector<EdgeSummary> getEdges() const;

  /// The whole content of the manager, read under its lock: the frames in
  /// registration order, every pair of directly joined frames with both directions'
  /// histories (each entry's key and pose exactly as stored), the history window and
  /// the origins. Not its logger nor its connected slots. A manager given the result
  /// by `restore` answers every query and lookup as this one does, bit for bit.
  /// Cost: a copy of every history, O(frames + entries).
  Snapshot snapshot() const;

  /// Replaces the whole content of the manager (frames, histories, history window,
  /// origins) by `snapshot`, under the lock; connected slots stay connected, and no
  /// registration notification is sent. The keys and poses are taken as they are, so
  /// a history may hold keys that `setTransform` does not make (fractional ones).
  ///
  /// Returns `Error` with a warning in the log, changing nothing, when the snapshot is
  /// not something a manager can hold: a frame listed twice; a pair naming a frame that
  /// is not listed, one frame twice, or two frames already joined (a repeated pair, or
  /// one that would close a cycle); a pair whose history is empty, has a NaN key, or
  /// whose two directions do not hold the same keys; a negative or NaN history window.
  /// Then `fault`, when given, receives the reason ("the frame A is listed twice"),
  /// as the warning gives it. Else `Success`. Cost: O(frames + entries); the new
  /// content is built aside and swapped in, so an allocation failure also leaves the
  /// manager as it was.
  TransformResult restore(const Snapshot& snapshot, std::string* fault = nullptr);

  /// Connects `slot` to the notification sent after each registration that
  /// `setTransform` accepts, with its `from`, `to` and `time` (0 for a static
  /// transform). It is sent on the registering thread with the manager's lock held:
  /// the slot sees the new sample and may look transforms up, but must not connect to
  /// this notification (the signal's mutex is not recursive) nor wait
  /// (`waitForTransform`, refused with `Error`). A registration on this manager from a
  /// slot would need that mutex again: it is refused with a warning in the log.
  /// Refused registrations, `loadTransforms` and the re-attachments made by
  /// `removeFrame` send nothing.
  [[nodiscard]] tkit::Connection connectTransformRegistered(
      const std::function<void(const std::string&, const std::string&, long)>& slot);

  /// Samples one history at `time` into `result` (always overwritten, the identity
  /// on failure). An entry's time is its registration time: the entry's `timestamp`
  /// (which `setTransform` sets to the time registered), or 0 for the key 0.0, or the
  /// key truncated toward zero where the `timestamp` does not convert to the key.
  /// - `NotFound` for an empty history;
  /// - the newest entry for `MostRecent`, and for a history holding only a static
  ///   entry (key 0.0), whatever the time;
  /// - the entry registered at exactly `time` when there is one;
  /// - `OutOfRange` for a time before the oldest entry;
  /// - `OutOfRange` with the newest entry in `result` for a time more than the
  ///   history window (`setHistoryWindow`) after the newest entry;
  /// - otherwise the blend (`interpolateTransform`) of the entries before and after
  ///   `time` (past the newest entry: the two newest, extrapolated), written to the
  ///   trace log first; `Interpolated` refuses a time past the newest entry with
  ///   `OutOfRange` and a warning. The ratio is formed from the 64-bit times, and
  ///   when both entries carry their registration times the blend's `timestamp` is
  ///   `time` exactly, also at nanosecond epochs.
  /// Takes the lock only to read the window: the caller guards `poses`. O(log n).
  TransformResult getTransformFromPoseMap(const std::map<double, Pose>& poses, long time,
                                          InterpolationMethod method, Pose& result);

  /// The blend of two poses at `ratio` r (0 gives `first`, 1 gives `second`, beyond
  /// 1 extrapolates): positions linearly in single precision, orientations by
  /// Eigen's spherical interpolation (shorter arc, not renormalised), timestamp
  /// first + (second - first) * r in double precision truncated toward zero
  /// (saturated at the limits of the type). Uses no state of the manager.
  Pose interpolateTransform(const Pose& first, const Pose& second, float ratio);

  /// Sets origin `name` to (`frame`, `pose`), replacing an existing one. No check
  /// that `frame` is registered.
  void setOrigin(const std::string& name, const std::string& frame, const Pose& pose);

  /// Copies origin `name` into `frame` and `pose` and returns true; returns false
  /// and leaves both untouched when there is no such origin.
  [[nodiscard]] bool getOrigin(const std::string& name, std::string& frame, Pose& pose) const;

  /// Removes `frame` with its edges and re-attaches its neighbours: the first
  /// neighbour in frame order stays, every other neighbour gets one static
  /// transform to it, the newest samples composed through the removed frame. The
  /// remaining frames keep their order and all other edges their histories; origins
  /// are left alone.
  ///
  /// Returns `Success`, or `NotFound` when no frame has that name. When an exception
  /// derived from `std::exception` is thrown on the way, the manager is left exactly
  /// as it was: the exception is logged as a warning, emitted on the exception
  /// signal (slots run on this thread with the manager's lock held), and `Error` is
  /// returned. Cost: O(frames + edges + history entries).
  TransformResult removeFrame(const std::string& frame);

  /// Connects `slot` to the signal on which `removeFrame` reports the exceptions it
  /// catches. The slot must not connect to or emit that signal itself.
  [[nodiscard]] tkit::Connection connectionException(
      const std::function<void(std::exception_ptr)>& slot);

  /// Replaces the whole content of the manager (frames, histories, origins) by the
  /// transforms stored under "Transforms" at the store's current node, each
  /// registered as static in stored order (frames are created in the order in which
  /// their names first appear). A stored pair that would close a cycle is refused as
  /// in `setTransform`. A store without "Transforms" empties the manager.
  ///
  /// All stored pairs are read before anything changes: when the store throws
  /// (`ptree_bad_path`, `ptree_bad_data`, ...) the exception propagates and the
  /// manager is unchanged. The caller's current path is unchanged. Returns `Success`.
  TransformResult loadTransforms(const SettingsManager& settings);

  /// Writes one transform at the store's current node: "fromFrameName",
  /// "toFrameName" and the pose in the layout of `setPose`. Uses no frame of the
  /// manager. Store errors propagate.
  void storeTransform(const std::string& from, const std::string& to, const Pose& pose,
                      SettingsManager& settings) const;

  /// Writes every directly connected pair of frames, once, under "Transforms" at the
  /// store's current node: "fromFrameName" the later frame, "toFrameName" the earlier
  /// one, the newest sample for that direction, in the order of the later frame and
  /// then of the earlier. With `clear` the old "Transforms" subtree is deleted first;
  /// without it the children are overwritten from the first one on and any further
  /// ones stay. Returns `NotFound` without touching the store when there are no
  /// frames, else `Success`. Store errors propagate (what was written stays); the
  /// current path is unchanged.
  TransformResult storeTransforms(SettingsManager& settings, bool clear) const;

  // --- Lookups of one pair at many times -------------------------------------------

  /// `getTransform(from, to, times[i], method, results[i])` for every i below `count`,
  /// with its code in `codes[i]`: the same poses, bit for bit, the same codes, and the
  /// same log records in the same order as those lookups made one after the other in
  /// the order of `times` (an `Interpolated` refusal writes its warning for each time
  /// refused, as the single lookup does; `getCommonTimeSpan` tells beforehand which
  /// times succeed). A failed time gets the identity pose and does not stop the others.
  /// Returns the number of times that succeeded.
  ///
  /// Times may come in any order and repeat. Cost: one lock, one resolution of the
  /// names and one walk of the path for the whole batch; then per time one sample per
  /// edge and the product. For rising times each edge's history is walked once (a
  /// time below the one before costs a search, O(log n)), and the times between the
  /// same two samples of an edge share the angle between their orientations; a time
  /// equal to the one before reuses its pose when that succeeded and no trace records
  /// are being written. Allocates nothing for paths of up to 16 edges.
  [[nodiscard]] std::size_t getTransforms(const std::string& from, const std::string& to,
                                          const long* times, std::size_t count,
                                          InterpolationMethod method, Pose* results,
                                          TransformResult* codes);

  /// `getTransforms` delivering `results[i].toTransform()` (the identity for a failed
  /// time) into `matrices[i]`: to_T_from, which maps points given in `from` into `to`.
  [[nodiscard]] std::size_t getTransformMatrices(const std::string& from, const std::string& to,
                                                 const long* times, std::size_t count,
                                                 InterpolationMethod method,
                                                 Eigen::Matrix4f* matrices, TransformResult* codes);

  /// Maps point i (`points[3i..3i+2]`, given in `from`) into `to` at `times[i]`, for
  /// every i below `count`, into `placed[3i..3i+2]`: to_T_from * (x, y, z, 1) with
  /// to_T_from the `toTransform()` of `getTransform(from, to, times[i], method, ...)`,
  /// bit for bit as that product is formed by Eigen (((m0 x + m1 y) + m2 z) + m3 per
  /// row). `codes[i]` is the lookup's code; a point whose lookup fails is placed at
  /// NaN. Lookups and log records as `getTransforms` at `times`. `placed` may be
  /// `points`. Returns the number of points placed.
  ///
  /// Cost: as `getTransforms`, plus one matrix per run of equal times (a spinning
  /// sensor's points of one firing share one lookup) and 9 multiplications per point.
  [[nodiscard]] std::size_t transformPoints(const std::string& from, const std::string& to,
                                            const float* points, const long* times,
                                            std::size_t count, InterpolationMethod method,
                                            float* placed, TransformResult* codes);
  // --- Waiting for transforms ------------------------------------------------
  //
  // Destroying the manager ends what waits on it: the waits in progress return
  // `Error` (the destructor waits until every waiting thread has left), and every
  // attached queue drops its items (`TransformDropReason::ManagerDestroyed`) and
  // forgets the manager, so that its later calls and its destructor never touch it.
  // No other call may run on the manager while it is being destroyed.

  /// Whether `getTransform(from, to, time, method, ...)` would succeed now: the same
  /// code, decided without composing the pose and without logging (no trace record,
  /// no `Interpolated` warning). A program that polls for a transform not there yet
  /// asks this, or waits with `waitForTransform`, instead of filling its log with
  /// refused lookups. Cost: the path only, no allocation.
  TransformResult canTransform(const std::string& from, const std::string& to, long time,
                               InterpolationMethod method) const;

  /// Waits until `getTransform(from, to, time, method, result)` would succeed, and
  /// looks the transform up: returns its code and writes `result` as `getTransform`
  /// does, so no second lookup is needed. With `Interpolated` the wait also waits
  /// until `time` is covered (see the conventions above): a lookup past an edge's only
  /// sample would answer with that sample, the wait waits for the next one.
  ///
  /// The wait ends, with the lookup's code at that moment (`OutOfRange` where the
  /// lookup would succeed but `time` is not covered), when:
  /// - the lookup succeeds, `time` covered (at once when it already is: then this
  ///   costs one lookup and one `canTransform`);
  /// - `timeout` has passed (0 or negative: no waiting at all), measured on the steady
  ///   clock from the call;
  /// - `removeFrame` removed `from`, `to` or a frame on the path between them, or
  ///   `loadTransforms` replaced the graph;
  /// - the manager is being destroyed: then it returns `Error`.
  /// The waiting thread sleeps on a condition of its own without the manager's lock:
  /// it is woken only by a registration after which the lookup succeeds (and by the
  /// ends above), so each registration checks every wait in progress, the path of
  /// each (O(waits x path)). Any number of threads may wait and register at once.
  /// Nothing is logged while the transform is not there yet.
  ///
  /// Must not be called with the manager's lock held by the calling thread (from a
  /// slot of `connectTransformRegistered` or `connectionException`, or from a
  /// callback of a queue attached to this manager): the wait could never be woken.
  /// Such a call returns `Error` at once with a warning in the log. Throws
  /// `std::system_error` if locking fails.
  TransformResult waitForTransform(const std::string& from, const std::string& to, long time,
                                   InterpolationMethod method, std::chrono::nanoseconds timeout,
                                   Pose& result);

  /// The history of a pair of frames just registered, as the listeners are told of it.
  struct RegisteredPair {
    /// The samples it holds (1 for a static pair, or the first sample of a pair).
    std::size_t samples = 0;
    /// What `getCommonTimeSpan` of the pair gives now.
    long oldest = 0;
    long newest = 0;
  };

  /// What a queue attached to a manager is told of the graph's changes
  /// (`attachListener`). Every call is made on the thread that made the change, with
  /// the manager's lock held: the listener may look transforms up and register
  /// them, but must not wait (`waitForTransform`).
  class Listener {
   public:
    virtual ~Listener() = default;
    /// After each registration that `setTransform` accepts (after the slots of
    /// `connectTransformRegistered`), with what the pair's history holds then.
    virtual void transformRegistered(const std::string& from, const std::string& to, long time,
                                     const RegisteredPair& pair) = 0;
    /// After `removeFrame` removed `frame` and re-attached its neighbours.
    virtual void frameRemoved(const std::string& frame) = 0;
    /// After `loadTransforms` replaced the graph.
    virtual void transformsLoaded() = 0;
    /// When the manager is being destroyed, before any of its members: the last
    /// call, after which the listener is detached and must not use the manager again.
    /// The manager is still whole during this call.
    virtual void managerDestroyed() {}
  };

  /// The items of one frame waiting in order for their transform into a target frame,
  /// as a `TransformQueue` holds them, for `releaseWaiting`.
  class WaitingItems {
   public:
    virtual ~WaitingItems() = default;
    /// The time of the first item still waiting; false when none is left.
    virtual bool nextTime(long& time) = 0;
    /// The first item leaves with `to_T_from`, its pose in the target frame at its time.
    virtual void release(const Pose& to_T_from) = 0;
    /// The first item leaves without a pose: it is older than the oldest sample kept
    /// on its path, so it can never be released.
    virtual void tooOld() = 0;
  };

  /// The path between two frames as `releaseWaiting` found it, kept by a caller that
  /// settles the same two frames again and again (a queue, one per frame): the names
  /// are resolved and the path walked again only once frames or edges were added,
  /// renamed or removed, or the graph was replaced. Empty until first used; to be
  /// used with one manager and one pair of names only.
  class WaitingPath {
   private:
    friend class TransformManager;
    // The shape of the graph it was found in (0: none yet), the code of the names'
    // resolution and walk, whether the names are equal, and the edges' histories in
    // the order of the lookup.
    std::uint64_t shape_ = 0;
    TransformResult code_ = NotFound;
    bool identity_ = false;
    std::vector<const detail::PoseHistory*> edges_;
  };

  /// Settles the items of frame `from` waiting for their transform into `to`, from
  /// the first on: an item older than the times of the path (older than the oldest
  /// time of `getCommonTimeSpan`) leaves as too old; an item whose time is covered
  /// (see the conventions above) is released with the pose that
  /// `getTransform(from, to, time, Interpolated, ...)` gives, bit for bit, and with its
  /// log records; the first other item stops the walk, and it and the items after it
  /// keep waiting. Returns `NoFrames` or `NotFound` when the names are not both found
  /// or the frames not joined (no item left); else `Success`, or, when an item waiting
  /// had to be held against the path's span, the code of `getCommonTimeSpan` where the
  /// edges' spans do not overlap (`OutOfRange`; the items before it may have left).
  /// `path` keeps the path between calls, which must always name the same `from` and
  /// `to`. The caller must hold the manager's lock (inside `runLocked` or a listener's
  /// call), which this does not take; `items` must not call the manager.
  /// Cost: the names are resolved and the path walked only when the graph changed
  /// shape since the last call (`path` then allocates its list of edges once), then
  /// per item one verdict per edge (an edge whose newest sample is older than the
  /// item refuses it without a search), and for an item released one sample per edge
  /// and the product; the span of the path is sought only for an item that waits, and
  /// not when the edge that refused it holds two samples or more, all older than it.
  TransformResult releaseWaiting(WaitingPath& path, const std::string& from, const std::string& to,
                                 WaitingItems& items);

  /// Tells `listener` of every registration, removal and loading from now on, after
  /// the listeners attached before it, until `detachListener`. May be called from a
  /// listener (the new one hears the next change). O(1) amortised.
  void attachListener(Listener& listener);

  /// Stops telling `listener`; when this returns, no call to it is in progress on
  /// another thread. May be called from a listener, also for itself. O(listeners).
  void detachListener(Listener& listener);

  /// Runs `work()` on the calling thread with the manager's lock held, marked as a
  /// callback of this manager (a `waitForTransform` inside it is refused rather than
  /// hanging). For composite operations that must see one graph, such as a queue's
  /// push. Exceptions of `work` propagate; the lock is released.
  template <class Work>
  void runLocked(Work&& work) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const CallbackScope scope(*this);
    work();
  }

 private:
  // Marks the manager's lock as held on behalf of a caller's code (a slot, a
  // listener, `runLocked`) for the rest of its scope. Entered and left with the lock
  // held, so a non-zero depth seen under the lock belongs to the calling thread.
  class CallbackScope {
   public:
    explicit CallbackScope(const TransformManager& manager) : manager_(manager) {
      ++manager_.callback_depth_;
    }
    ~CallbackScope() { --manager_.callback_depth_; }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

   private:
    const TransformManager& manager_;
  };
  struct Waiter;

  // The hooks of the registration, removal and loading: wake the waits that can end
  // and tell the listeners. Called with the lock held.
  void notifyRegistered(const std::string& from, const std::string& to, long time,
                        const RegisteredPair& pair);
  // Before the removal, with the store still holding `frame`: flags the waits whose
  // path runs through it.
  void flagWaitersThrough(std::size_t frame);
  void notifyRemoved(const std::string& frame);
  void notifyLoaded();
  // From the destructor: ends the waits and waits for their threads to leave, tells
  // and detaches the listeners.
  void endWaitsAndListeners();
  // Whether `method` is one of the enumeration.
  static bool knownMethod(InterpolationMethod method) {
    return method == MostRecent || method == Extrapolated || method == Interpolated;
  }
  // Warns that a lookup of `what` ("the transform from A to B") was given `method`,
  // not one of the enumeration, and returns `Error`.
  TransformResult refuseMethod(InterpolationMethod method, const std::string& what) const;
  TransformResult refuseMethod(InterpolationMethod method, const std::string& from,
                               const std::string& to) const {
    return refuseMethod(method, "the transform from " + from + " to " + to);
  }

  std::vector<Waiter*> waiters_;
  std::vector<Listener*> listeners_;
  bool listeners_changed_ = false;
  std::size_t notifying_ = 0;
  mutable std::size_t callback_depth_ = 0;
  // Set while the registration notification is delivered: its slots must not
  // register (the signal's mutex is not recursive), and are refused.
  bool delivering_registration_ = false;
  // Set by the destructor: waits end, new ones are refused.
  bool destroying_ = false;
  // Signalled, under the lock, by the last wait leaving a manager being destroyed.
  std::condition_variable_any waits_left_;

  // The frames, their edges with histories, the name index and the rooted view, in
  // one owner. Held by pointer so that a store built aside (removal, loading) is put
  // in place by swapping one pointer, which cannot throw half-way.
  std::unique_ptr<detail::FrameStore> store_;
  double history_window_ = TRANSFORM_HISTORY_WINDOW;
  std::map<std::string, TransformManagerOrigin> origins_;
  mutable std::recursive_mutex mutex_;
  tkit::Signal<std::exception_ptr> exception_signal_;
  tkit::Signal<const std::string&, const std::string&, long> registered_signal_;
  // Whether a slot was ever connected to it: until then a registration does not emit.
  std::atomic<bool> registration_slots_{false};
};

}  // namespace zelvane
