#include "geometry/frame_forest.h"

#include <algorithm>
#include <utility>

namespace zelvane {
namespace detail {

namespace {

// Grows `values` to hold `size` elements without giving up amortised doubling.
template <class T>
void reserveFor(std::vector<T>& values, std::size_t size) {
  if (values.capacity() < size) values.reserve(std::max(size, 2 * values.capacity()));
}

}  // namespace

void FrameForest::reserve(std::size_t frames) {
  reserveFor(parent_, frames);
  reserveFor(depth_, frames);
  reserveFor(root_, frames);
  reserveFor(tree_size_, frames);
  reserveFor(up_, frames);
  reserveFor(down_, frames);
  reserveFor(stack_, frames);
}

std::size_t FrameForest::addFrame(FrameGraph& graph, const std::string& name) {
  const std::size_t frame = boost::num_vertices(graph);
  reserve(frame + 1);
  const auto slot = index_.emplace(name, frame).first;
  try {
    boost::add_vertex(TransformManager::Vertex{name}, graph);
  } catch (...) {
    index_.erase(slot);
    throw;
  }
  // Capacity is reserved: none of these allocates.
  parent_.push_back(NONE);
  depth_.push_back(0);
  root_.push_back(frame);
  tree_size_.push_back(1);
  up_.push_back(nullptr);
  down_.push_back(nullptr);
  return frame;
}

void FrameForest::rename(FrameGraph& graph, std::size_t frame, const std::string& name) {
  std::string copy(name);
  index_.emplace(name, frame);
  std::string& stored = graph[frame].name;
  index_.erase(stored);
  stored.swap(copy);
}

bool FrameForest::directEdge(std::size_t a, std::size_t b, PoseHistory*& ab,
                             PoseHistory*& ba) const {
  if (parent_[a] == b) {
    ab = up_[a];
    ba = down_[a];
    return true;
  }
  if (parent_[b] == a) {
    ab = down_[b];
    ba = up_[b];
    return true;
  }
  return false;
}

void FrameForest::join(FrameGraph& graph, std::size_t a, std::size_t b, const PoseHistory& ab,
                       const PoseHistory& ba) {
  reserveFor(stack_, boost::num_vertices(graph));
  boost::add_edge(a, b, TransformManager::Edge{ab}, graph);
  try {
    boost::add_edge(b, a, TransformManager::Edge{ba}, graph);
  } catch (...) {
    boost::remove_edge(a, b, graph);
    throw;
  }
  std::size_t root_a = root_[a];
  std::size_t root_b = root_[b];
  if (tree_size_[root_a] < tree_size_[root_b]) {
    std::swap(a, b);
    std::swap(root_a, root_b);
  }
  const std::size_t total = tree_size_[root_a] + tree_size_[root_b];
  hang(graph, b, a, root_a);
  tree_size_[root_a] = total;
}

void FrameForest::rebuild(FrameGraph& graph) {
  const std::size_t frames = boost::num_vertices(graph);
  index_.clear();
  index_.reserve(frames);
  for (std::size_t frame = 0; frame < frames; ++frame) index_.emplace(graph[frame].name, frame);
  parent_.assign(frames, NONE);
  depth_.assign(frames, 0);
  root_.assign(frames, NONE);
  tree_size_.assign(frames, 0);
  up_.assign(frames, nullptr);
  down_.assign(frames, nullptr);
  stack_.clear();
  stack_.reserve(frames);
  for (std::size_t frame = 0; frame < frames; ++frame) {
    if (root_[frame] == NONE) tree_size_[frame] = hang(graph, frame, NONE, frame);
  }
}

std::size_t FrameForest::hang(FrameGraph& graph, std::size_t start, std::size_t parent,
                              std::size_t root) {
  parent_[start] = parent;
  root_[start] = root;
  if (parent == NONE) {
    depth_[start] = 0;
    up_[start] = nullptr;
    down_[start] = nullptr;
  } else {
    depth_[start] = depth_[parent] + 1;
    up_[start] = &graph[boost::edge(start, parent, graph).first].poses;
    down_[start] = &graph[boost::edge(parent, start, graph).first].poses;
  }
  std::size_t visited = 1;
  stack_.clear();
  stack_.push_back(start);
  while (!stack_.empty()) {
    const std::size_t frame = stack_.back();
    stack_.pop_back();
    for (auto [it, end] = boost::out_edges(frame, graph); it != end; ++it) {
      const std::size_t next = boost::target(*it, graph);
      if (next == parent_[frame]) continue;
      parent_[next] = frame;
      depth_[next] = depth_[frame] + 1;
      root_[next] = root;
      down_[next] = &graph[*it].poses;
      up_[next] = &graph[boost::edge(next, frame, graph).first].poses;
      stack_.push_back(next);
      ++visited;
    }
  }
  return visited;
}

}  // namespace detail
}  // namespace zelvane
