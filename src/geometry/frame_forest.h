// The frame graph seen as a rooted forest, kept beside the boost graph: a name
// index, and per frame its parent, depth, tree root and the histories of the two
// edges to its parent. A lookup then walks from both frames up to their common
// ancestor and touches nothing but the path; the rest of the graph may be any size.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "geometry/pose_history.h"
#include "geometry/transform_manager.h"

namespace zelvane {
namespace detail {

using FrameGraph = TransformManager::FrameGraph;

class FrameForest {
 public:
  static constexpr std::size_t NONE = static_cast<std::size_t>(-1);

  /// The index of the frame `name`, or NONE. O(1) on average.
  std::size_t find(const std::string& name) const {
    const auto it = index_.find(name);
    return it == index_.end() ? NONE : it->second;
  }

  /// Appends a vertex named `name` to `graph` as a tree of its own. Either both the
  /// graph and the forest grow or, when an allocation fails, neither does.
  std::size_t addFrame(FrameGraph& graph, const std::string& name);

  /// Renames frame `frame` in `graph` and in the index; `name` must be free.
  void rename(FrameGraph& graph, std::size_t frame, const std::string& name);

  bool connected(std::size_t a, std::size_t b) const { return root_[a] == root_[b]; }

  /// The histories of the edges a->b and b->a when a and b are joined directly,
  /// else false.
  bool directEdge(std::size_t a, std::size_t b, PoseHistory*& ab, PoseHistory*& ba) const;

  /// Adds the edges a->b and b->a, with these histories, between two frames of
  /// different trees and hangs the smaller tree below the other. Either everything
  /// is added or, when an allocation fails, nothing is.
  void join(FrameGraph& graph, std::size_t a, std::size_t b, const PoseHistory& ab,
            const PoseHistory& ba);

  /// Rebuilds everything from `graph` (which must be a forest whose edges come in
  /// pairs): each tree is rooted at its lowest-numbered frame.
  void rebuild(FrameGraph& graph);

  /// Calls `visit(history)` for every edge of the path from `from` to `to`,
  /// directed toward `to`, starting with the edge that enters `to` and ending with
  /// the edge that leaves `from`. Stops at the first result other than Success and
  /// returns it; returns NotFound when the frames are in different trees.
  /// Allocates only when more than 32 edges lie between `from` and the branch point.
  template <class Visit>
  TransformManager::TransformResult walkPath(std::size_t from, std::size_t to, Visit&& visit) const;

 private:
  // Edges of the `from` side, collected while climbing and sampled in reverse.
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

  void reserve(std::size_t frames);
  // Roots the part of the tree around `start` that lies away from `parent` (NONE
  // for a whole tree) at `start`, below `parent`, as part of the tree `root`.
  // Returns the number of frames in that part. Allocates nothing when `stack_` has
  // room for every frame.
  std::size_t hang(FrameGraph& graph, std::size_t start, std::size_t parent, std::size_t root);

  std::unordered_map<std::string, std::size_t> index_;
  std::vector<std::size_t> parent_;
  std::vector<std::size_t> depth_;
  std::vector<std::size_t> root_;
  std::vector<std::size_t> tree_size_;  // meaningful at roots only
  std::vector<PoseHistory*> up_;        // frame -> parent
  std::vector<PoseHistory*> down_;      // parent -> frame
  std::vector<std::size_t> stack_;      // scratch of `hang`
};

template <class Visit>
TransformManager::TransformResult FrameForest::walkPath(std::size_t from, std::size_t to,
                                                        Visit&& visit) const {
  if (root_[from] != root_[to]) return TransformManager::NotFound;
  PathStack from_side;
  std::size_t a = from;
  std::size_t b = to;
  while (depth_[a] > depth_[b]) {
    from_side.push(up_[a]);
    a = parent_[a];
  }
  while (depth_[b] > depth_[a]) b = parent_[b];
  while (a != b) {
    from_side.push(up_[a]);
    a = parent_[a];
    b = parent_[b];
  }
  const std::size_t branch = a;
  for (std::size_t cur = to; cur != branch; cur = parent_[cur]) {
    const TransformManager::TransformResult result = visit(*down_[cur]);
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
