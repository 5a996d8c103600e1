// The one owner of a manager's frames: the graph (frames, and per pair of joined
// frames the two directed edges with their histories), the index from name to frame,
// and the rooted view of the forest that lets a lookup walk only its own path.
// Nothing outside holds a pointer into it but the paths that queues keep
// (`TransformManager::WaitingPath`), which `shape` tells apart from stale ones;
// `TransformManager` keeps one store and replaces it whole when an edit is built
// aside (`without`, loading).
//
// Rooted view: every tree of the forest has a root; every other frame knows its
// parent, its depth below the root, and the histories of the two edges to its parent:
// parent_T_frame (the edge frame->parent, which holds the pose of the frame in its
// parent) and frame_T_parent (the edge parent->frame). Which frame is the root is an
// internal choice (joining two trees hangs the smaller below the larger); nothing
// that callers see depends on it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <Eigen/Core>

#include "geometry/frame_graph_edit.h"
#include "geometry/pose_history.h"
#include "geometry/transform_manager.h"
#include "logging_manager.h"

namespace zelvane {
namespace detail {

using FrameGraph = StoreGraph;

/// The product of the samples of a path's edges, in the order in which `walkPath`
/// visits them: product = product * (the sample's `toTransform()`), and the largest
/// timestamp seen. Every lookup composes through it, so that a pose composed here
/// is the same, bit for bit, whichever lookup asks.
class PathProduct {
 public:
  PathProduct(const Eigen::Matrix4f& start, std::int64_t stamp) : product_(start), newest_(stamp) {}

  /// Starts again from the identity and `stamp`, for the next time of a run.
  void restart(std::int64_t stamp) {
    product_.setIdentity();
    newest_ = stamp;
  }

  void append(const Pose& sample) {
    // The sample's `toTransform()`, written in place: only the upper rows change.
    edge_T_.topLeftCorner<3, 3>() = sample.orientation.toRotationMatrix();
    edge_T_.topRightCorner<3, 1>() = sample.position;
    product_ = product_ * edge_T_;
    newest_ = std::max(newest_, sample.timestamp);
  }

  const Eigen::Matrix4f& matrix() const { return product_; }
  std::int64_t stamp() const { return newest_; }

 private:
  Eigen::Matrix4f edge_T_ = Eigen::Matrix4f::Identity();
  Eigen::Matrix4f product_;
  std::int64_t newest_;
};

class FrameStore {
 public:
  static constexpr std::size_t NONE = static_cast<std::size_t>(-1);

  enum class Registration { Stored, SelfTransform, WouldCloseCycle };

  /// How the histories of a path are sampled: the method, the staleness window, and
  /// the logger that the sampling writes its records to.
  struct Sampling {
    long time;
    TransformManager::InterpolationMethod method;
    double window;
    const Logger& logger;
  };

  FrameStore() = default;
  FrameStore(const FrameStore&) = delete;
  FrameStore& operator=(const FrameStore&) = delete;

  /// The frame named `name`, or NONE. O(1) on average.
  std::size_t find(const std::string& name) const {
    const auto it = index_.find(name);
    return it == index_.end() ? NONE : it->second;
  }

  /// Number of frames; frames are numbered 0 .. size() - 1 in registration order.
  std::size_t size() const { return boost::num_vertices(graph_); }

  const std::string& name(std::size_t frame) const { return graph_[frame].name; }

  /// Registers to_T_from, the pose of `from` in `to`, at `time`: the pose goes to the
  /// edge from->to and its inverse to to->from (`addSample` with `window`), creating
  /// the frames (`from` first) and the edges as needed. Refused, changing nothing: a
  /// frame and itself, and two frames already joined through others. Either the whole
  /// registration is made or, when an allocation fails, nothing changes. When stored,
  /// `stored` (if given) is set to the history of the edge from->to.
  Registration add(const std::string& from, const std::string& to, const Pose& to_T_from, long time,
                   double window, const PoseHistory** stored = nullptr);

  /// A number that changes whenever frames or edges are added or renamed, and that a
  /// store built to replace this one continues (`followShape`): frame numbers and
  /// history addresses taken while it holds stay valid, as samples come and go.
  std::uint64_t shape() const { return shape_; }

  /// Gives this store a shape that `previous`, which it replaces, never had.
  void followShape(const FrameStore& previous) { shape_ = previous.shape_ + 1; }

  /// Arcs kept for the releases of queued items, one per position on a path (`ArcMemo`):
  /// scratch that holds no state of the graph, used under the manager's lock.
  static constexpr std::size_t ARC_MEMOS = 8;
  ArcMemo* arcMemos() { return arc_memos_.data(); }

  /// Renames `frame`; `name` must not be in use.
  void rename(std::size_t frame, const std::string& name);

  bool connected(std::size_t a, std::size_t b) const { return root_[a] == root_[b]; }

  /// Whether `frame` lies on the path from `from` to `to`, either end included; false
  /// for frames in different trees. O(path).
  bool onPath(std::size_t from, std::size_t to, std::size_t frame) const;

  /// The history of the edge a->b (b_T_a) when a and b are joined directly, else null.
  const PoseHistory* directEdge(std::size_t a, std::size_t b) const;

  /// Composes to_T_from along the path from `from` to `to`, each edge sampled as
  /// `sampling` says, onto `accumulated` (accumulated = accumulated * to_T_from), and
  /// raises `stamp` to the largest timestamp of the samples used. Returns the code of
  /// the first edge, counted from the `to` end, whose sampling fails (then
  /// `accumulated` and `stamp` are unspecified), NotFound for frames in different
  /// trees. Allocates nothing for up to 32 edges between `from` and the branch point.
  TransformManager::TransformResult compose(std::size_t from, std::size_t to,
                                            const Sampling& sampling, Eigen::Matrix4f& accumulated,
                                            std::int64_t& stamp) const;

  /// Calls `visit(history)` for every edge of the path from `from` to `to`, directed
  /// toward `to`, starting with the edge that enters `to` and ending with the edge that
  /// leaves `from`. Stops at the first result other than Success and returns it;
  /// returns NotFound when the frames are in different trees. Allocates only when more
  /// than 32 edges lie between `from` and the branch point.
  template <class Visit>
  TransformManager::TransformResult walkPath(std::size_t from, std::size_t to, Visit&& visit) const;

  /// Calls `visit(neighbour)` for each frame joined directly to `frame`, in frame order.
  template <class Visit>
  void forEachNeighbour(std::size_t frame, Visit&& visit) const {
    for (auto [it, end] = boost::out_edges(frame, graph_); it != end; ++it) {
      visit(static_cast<std::size_t>(boost::target(*it, graph_)));
    }
  }

  /// Calls `visit(later, earlier)` once for each pair of directly joined frames, in
  /// the order of the later frame and then of the earlier one.
  template <class Visit>
  void forEachPair(Visit&& visit) const {
    for (std::size_t later = 0; later < size(); ++later) {
      // Out-edges are ordered by target: the earlier frames come first.
      for (auto [it, end] = boost::out_edges(later, graph_); it != end; ++it) {
        const std::size_t earlier = boost::target(*it, graph_);
        if (earlier >= later) break;
        visit(later, earlier);
      }
    }
  }

  /// Whether a's pose in b is what was registered for the pair {a, b} (the first
  /// registration between them, `from` = a and `to` = b), rather than its inverse.
  bool registeredAs(std::size_t a, std::size_t b) const { return given_.count({a, b}) != 0; }

  /// A new store holding `snapshot.frames` in that order and `snapshot.pairs`, each
  /// pair's histories as they are. Null, with `fault` saying why, when the snapshot is
  /// not a forest of uniquely named frames with matching non-empty histories free of
  /// NaN keys (see `TransformManager::restore`). O(frames + entries).
  static std::unique_ptr<FrameStore> restored(const TransformManager::Snapshot& snapshot,
                                              std::string& fault);

  /// A new store without `frame` and its edges: the other frames keep their order
  /// (those after it move down by one) and every other edge its history. This store
  /// is not touched. O(frames + edges + history entries).
  std::unique_ptr<FrameStore> without(std::size_t frame) const;

 private:
  // Edges of the `from` side, collected while climbing and visited in reverse.
  class PathStack {
   public:
    void push(const PoseHistory* history) {
      if (size_ < inline_.size()) {
        inline_[size_] = history;
      } else {
        if (overflow_.empty()) overflow_.assign(inline_.begin(), inline_.end());
        overflow_.push_back(history);
      }
      ++size_;
    }
    std::size_t size() const { return size_; }
    const PoseHistory* operator[](std::size_t i) const {
      return overflow_.empty() ? inline_[i] : overflow_[i];
    }

   private:
    std::array<const PoseHistory*, 32> inline_;
    std::vector<const PoseHistory*> overflow_;
    std::size_t size_ = 0;
  };

  std::size_t addFrame(const std::string& name);
  // Adds the edges a->b (holding b_T_a) and b->a (holding a_T_b) between frames of
  // different trees and hangs the smaller tree below the other.
  void join(std::size_t a, std::size_t b, const PoseHistory& b_T_a, const PoseHistory& a_T_b);
  PoseHistory* edgeHistory(std::size_t a, std::size_t b);
  void reserve(std::size_t frames);
  // Rebuilds index and rooted view from the graph: each tree rooted at its
  // lowest-numbered frame.
  void rebuild();
  // Roots the part of the tree around `start` that lies away from `parent` (NONE for
  // a whole tree) at `start`, below `parent`, as part of the tree `root`. Returns the
  // number of frames in that part. Allocates nothing when `stack_` has room for
  // every frame.
  std::size_t hang(std::size_t start, std::size_t parent, std::size_t root);

  FrameGraph graph_;
  std::unordered_map<std::string, std::size_t> index_;
  std::vector<std::size_t> parent_;
  std::vector<std::size_t> depth_;
  std::vector<std::size_t> root_;
  std::vector<std::size_t> tree_size_;        // meaningful at roots only
  std::vector<PoseHistory*> parent_T_frame_;  // edge frame -> parent
  std::vector<PoseHistory*> frame_T_parent_;  // edge parent -> frame
  std::vector<std::size_t> stack_;            // scratch of `hang`
  // (from, to) of the first registration of each joined pair; it only serves the
  // listing of edges, as the graph keeps both directions alike.
  std::set<std::pair<std::size_t, std::size_t>> given_;
  // See `shape`; never 0, which stands for "no shape" to its users.
  std::uint64_t shape_ = 1;
  // The pair of the last registration into an existing edge, valid while `shape`
  // equals `shape_` (`add`).
  struct RecentPair {
    std::string from;
    std::string to;
    std::size_t from_frame = NONE;
    std::size_t to_frame = NONE;
    std::uint64_t shape = 0;
  };
  RecentPair recent_;
  std::array<ArcMemo, ARC_MEMOS> arc_memos_;
};

template <class Visit>
TransformManager::TransformResult FrameStore::walkPath(std::size_t from, std::size_t to,
                                                       Visit&& visit) const {
  if (root_[from] != root_[to]) return TransformManager::NotFound;
  PathStack from_side;
  std::size_t a = from;
  std::size_t b = to;
  while (depth_[a] > depth_[b]) {
    from_side.push(parent_T_frame_[a]);
    a = parent_[a];
  }
  while (depth_[b] > depth_[a]) b = parent_[b];
  while (a != b) {
    from_side.push(parent_T_frame_[a]);
    a = parent_[a];
    b = parent_[b];
  }
  const std::size_t branch = a;
  for (std::size_t cur = to; cur != branch; cur = parent_[cur]) {
    const TransformManager::TransformResult result = visit(*frame_T_parent_[cur]);
    if (result != TransformManager::Success) return result;
  }
  for (std::size_t i = from_side.size(); i-- > 0;) {
    const TransformManager::TransformResult result = visit(*from_side[i]);
    if (result != TransformManager::Success) return result;
  }
  return TransformManager::Success;
}

}  // namespace detail
}  // namespace zelvane
