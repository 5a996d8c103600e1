// Whole-graph edits of the frame graph that are rare enough to rebuild it.
#pragma once

#include <cstddef>

#include "geometry/pose_history.h"
#include "geometry/transform_manager.h"

namespace zelvane {
namespace detail {

/// One directed edge of a store's graph: its history.
struct StoredEdge {
  PoseHistory poses;
};

/// The graph of a store: `TransformManager::FrameGraph` with each edge's history held
/// as a `PoseHistory`.
using StoreGraph =
    boost::adjacency_list<boost::setS, boost::vecS, boost::directedS, TransformManager::Vertex,
                          StoredEdge, boost::no_property, boost::listS>;

/// Copies `graph` without the frame `removed` and its edges into the empty graph
/// `into`: the other frames keep their order (those after `removed` move down by one)
/// and every remaining edge its history. O(frames + edges + history entries); `graph`
/// is not touched.
void copyWithoutFrame(const StoreGraph& graph, std::size_t removed, StoreGraph& into);

}  // namespace detail
}  // namespace zelvane
