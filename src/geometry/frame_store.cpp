#include "geometry/frame_store.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "geometry/frame_graph_edit.h"

namespace zelvane {
namespace detail {

namespace {

using Result = TransformManager::TransformResult;

// Grows `values` to hold `size` elements without giving up amortised doubling.
template <class T>
void reserveFor(std::vector<T>& values, std::size_t size) {
  if (values.capacity() < size) values.reserve(std::max(size, 2 * values.capacity()));
}

}  // namespace

FrameStore::Registration FrameStore::add(const std::string& from, const std::string& to,
                                         const Pose& to_T_from, long time, double window,
                                         const PoseHistory** stored) {
  // A stream registers one pair again and again: while the shape holds, the frames of
  // the pair registered last are known without hashing the names.
  const bool again = recent_.shape == shape_ && from == recent_.from && to == recent_.to;
  std::size_t from_frame = again ? recent_.from_frame : find(from);
  std::size_t to_frame = again ? recent_.to_frame : find(to);
  // Creating the frame would either loop an edge onto it or name two frames alike.
  if (from_frame == NONE && from == to) return Registration::SelfTransform;
  const bool both = from_frame != NONE && to_frame != NONE;
  PoseHistory* to_T_from_history = both ? edgeHistory(from_frame, to_frame) : nullptr;
  if (both && to_T_from_history == nullptr && connected(from_frame, to_frame)) {
    return Registration::WouldCloseCycle;
  }
  if (to_T_from_history != nullptr) {
    if (!again) {
      recent_.shape = 0;  // unusable until both names are copied
      recent_.from = from;
      recent_.to = to;
      recent_.from_frame = from_frame;
      recent_.to_frame = to_frame;
      recent_.shape = shape_;
    }
    // Both histories make room first: only that may fail, and then neither changed.
    PoseHistory& from_T_to_history = *edgeHistory(to_frame, from_frame);
    to_T_from_history->reserveFor(static_cast<double>(time));
    from_T_to_history.reserveFor(static_cast<double>(time));
    addSample(*to_T_from_history, to_T_from, time, window);
    addSample(from_T_to_history, to_T_from, time, window, true);
    if (stored != nullptr) *stored = to_T_from_history;
    return Registration::Stored;
  }
  PoseHistory to_T_from_samples;
  PoseHistory from_T_to_samples;
  addSample(to_T_from_samples, to_T_from, time, window);
  addSample(from_T_to_samples, to_T_from, time, window, true);
  if (from_frame == NONE) from_frame = addFrame(from);
  if (to_frame == NONE) to_frame = addFrame(to);
  const auto given = given_.emplace(from_frame, to_frame).first;
  try {
    join(from_frame, to_frame, to_T_from_samples, from_T_to_samples);
  } catch (...) {
    given_.erase(given);
    throw;
  }
  if (stored != nullptr) *stored = edgeHistory(from_frame, to_frame);
  return Registration::Stored;
}

std::size_t FrameStore::addFrame(const std::string& name) {
  ++shape_;
  const std::size_t frame = size();
  reserve(frame + 1);
  const auto slot = index_.emplace(name, frame).first;
  try {
    boost::add_vertex(TransformManager::Vertex{name}, graph_);
  } catch (...) {
    index_.erase(slot);
    throw;
  }
  // Capacity is reserved: none of these allocates.
  parent_.push_back(NONE);
  depth_.push_back(0);
  root_.push_back(frame);
  tree_size_.push_back(1);
  parent_T_frame_.push_back(nullptr);
  frame_T_parent_.push_back(nullptr);
  return frame;
}

void FrameStore::rename(std::size_t frame, const std::string& name) {
  ++shape_;
  std::string copy(name);
  index_.emplace(name, frame);
  std::string& stored = graph_[frame].name;
  index_.erase(stored);
  stored.swap(copy);
}

PoseHistory* FrameStore::edgeHistory(std::size_t a, std::size_t b) {
  if (parent_[a] == b) return parent_T_frame_[a];
  if (parent_[b] == a) return frame_T_parent_[b];
  return nullptr;
}

const PoseHistory* FrameStore::directEdge(std::size_t a, std::size_t b) const {
  return const_cast<FrameStore*>(this)->edgeHistory(a, b);
}

void FrameStore::join(std::size_t a, std::size_t b, const PoseHistory& b_T_a,
                      const PoseHistory& a_T_b) {
  ++shape_;
  reserveFor(stack_, size());
  boost::add_edge(a, b, StoredEdge{b_T_a}, graph_);
  try {
    boost::add_edge(b, a, StoredEdge{a_T_b}, graph_);
  } catch (...) {
    boost::remove_edge(a, b, graph_);
    throw;
  }
  std::size_t root_a = root_[a];
  std::size_t root_b = root_[b];
  if (tree_size_[root_a] < tree_size_[root_b]) {
    std::swap(a, b);
    std::swap(root_a, root_b);
  }
  const std::size_t total = tree_size_[root_a] + tree_size_[root_b];
  hang(b, a, root_a);
  tree_size_[root_a] = total;
}

bool FrameStore::onPath(std::size_t from, std::size_t to, std::size_t frame) const {
  if (root_[from] != root_[to] || root_[frame] != root_[from]) return false;
  std::size_t a = from;
  std::size_t b = to;
  while (depth_[a] > depth_[b]) {
    if (a == frame) return true;
    a = parent_[a];
  }
  while (depth_[b] > depth_[a]) {
    if (b == frame) return true;
    b = parent_[b];
  }
  while (a != b) {
    if (a == frame || b == frame) return true;
    a = parent_[a];
    b = parent_[b];
  }
  return a == frame;
}

Result FrameStore::compose(std::size_t from, std::size_t to, const Sampling& sampling,
                           Eigen::Matrix4f& accumulated, std::int64_t& stamp) const {
  // The product and the stamp stay local (in registers) until the walk is done.
  PathProduct product(accumulated, stamp);
  Pose sample;
  const long time = sampling.time;
  const TransformManager::InterpolationMethod method = sampling.method;
  const double window = sampling.window;
  const Result code = walkPath(from, to, [&](const PoseHistory& history) {
    const Result sampled = sampleHistory(history, time, method, window, sampling.logger, sample);
    if (sampled == TransformManager::Success) product.append(sample);
    return sampled;
  });
  accumulated = product.matrix();
  stamp = product.stamp();
  return code;
}

std::unique_ptr<FrameStore> FrameStore::without(std::size_t frame) const {
  auto store = std::make_unique<FrameStore>();
  copyWithoutFrame(graph_, frame, store->graph_);
  store->rebuild();
  for (auto [from, to] : given_) {
    if (from == frame || to == frame) continue;
    store->given_.emplace(from > frame ? from - 1 : from, to > frame ? to - 1 : to);
  }
  return store;
}

namespace {

// Why the two directions of a pair cannot be put back as they are, or empty.
std::string historyFault(const std::map<double, Pose>& to_T_from,
                         const std::map<double, Pose>& from_T_to) {
  if (to_T_from.empty()) return "has no sample";
  const auto nan = [](const auto& entry) { return std::isnan(entry.first); };
  if (std::any_of(to_T_from.begin(), to_T_from.end(), nan) ||
      std::any_of(from_T_to.begin(), from_T_to.end(), nan)) {
    return "has a key that is not a number";
  }
  const auto sameKey = [](const auto& a, const auto& b) { return a.first == b.first; };
  if (!std::equal(to_T_from.begin(), to_T_from.end(), from_T_to.begin(), from_T_to.end(),
                  sameKey)) {
    return "holds different keys in its two directions";
  }
  return "";
}

}  // namespace

std::unique_ptr<FrameStore> FrameStore::restored(const TransformManager::Snapshot& snapshot,
                                                 std::string& fault) {
  auto store = std::make_unique<FrameStore>();
  store->reserve(snapshot.frames.size());
  for (const std::string& name : snapshot.frames) {
    if (store->find(name) != NONE) {
      fault = "the frame " + name + " is listed twice";
      return nullptr;
    }
    store->addFrame(name);
  }
  for (const TransformManager::PairHistory& pair : snapshot.pairs) {
    const std::string what = "the pair " + pair.from + " in " + pair.to;
    const std::size_t from = store->find(pair.from);
    const std::size_t to = store->find(pair.to);
    if (from == NONE || to == NONE) {
      fault = what + " names a frame that is not listed";
      return nullptr;
    }
    if (from == to) {
      fault = what + " names one frame twice";
      return nullptr;
    }
    if (store->connected(from, to)) {
      fault = what + (store->directEdge(from, to) != nullptr ? " is listed twice"
                                                             : " would close a cycle");
      return nullptr;
    }
    const std::string history = historyFault(pair.poses, pair.inverses);
    if (!history.empty()) {
      fault = what + " " + history;
      return nullptr;
    }
    store->given_.emplace(from, to);
    store->join(from, to, PoseHistory(pair.poses), PoseHistory(pair.inverses));
  }
  return store;
}

void FrameStore::reserve(std::size_t frames) {
  reserveFor(parent_, frames);
  reserveFor(depth_, frames);
  reserveFor(root_, frames);
  reserveFor(tree_size_, frames);
  reserveFor(parent_T_frame_, frames);
  reserveFor(frame_T_parent_, frames);
  reserveFor(stack_, frames);
}

void FrameStore::rebuild() {
  const std::size_t frames = size();
  index_.clear();
  index_.reserve(frames);
  for (std::size_t frame = 0; frame < frames; ++frame) index_.emplace(graph_[frame].name, frame);
  parent_.assign(frames, NONE);
  depth_.assign(frames, 0);
  root_.assign(frames, NONE);
  tree_size_.assign(frames, 0);
  parent_T_frame_.assign(frames, nullptr);
  frame_T_parent_.assign(frames, nullptr);
  stack_.clear();
  stack_.reserve(frames);
  for (std::size_t frame = 0; frame < frames; ++frame) {
    if (root_[frame] == NONE) tree_size_[frame] = hang(frame, NONE, frame);
  }
}

std::size_t FrameStore::hang(std::size_t start, std::size_t parent, std::size_t root) {
  parent_[start] = parent;
  root_[start] = root;
  if (parent == NONE) {
    depth_[start] = 0;
    parent_T_frame_[start] = nullptr;
    frame_T_parent_[start] = nullptr;
  } else {
    depth_[start] = depth_[parent] + 1;
    parent_T_frame_[start] = &graph_[boost::edge(start, parent, graph_).first].poses;
    frame_T_parent_[start] = &graph_[boost::edge(parent, start, graph_).first].poses;
  }
  std::size_t visited = 1;
  stack_.clear();
  stack_.push_back(start);
  while (!stack_.empty()) {
    const std::size_t frame = stack_.back();
    stack_.pop_back();
    for (auto [it, end] = boost::out_edges(frame, graph_); it != end; ++it) {
      const std::size_t next = boost::target(*it, graph_);
      if (next == parent_[frame]) continue;
      parent_[next] = frame;
      depth_[next] = depth_[frame] + 1;
      root_[next] = root;
      frame_T_parent_[next] = &graph_[*it].poses;
      parent_T_frame_[next] = &graph_[boost::edge(next, frame, graph_).first].poses;
      stack_.push_back(next);
      ++visited;
    }
  }
  return visited;
}

}  // namespace detail
}  // namespace zelvane
