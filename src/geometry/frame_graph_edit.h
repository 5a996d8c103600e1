// Whole-graph edits of the frame graph that are rare enough to rebuild it.
#pragma once

#include <cstddef>

#include "geometry/transform_manager.h"

namespace zelvane {
namespace detail {

/// Copies `graph` without the frame `removed` and its edges into the empty graph
/// `into`: the other frames keep their order (those after `removed` move down by one)
/// and every remaining edge its history. O(frames + edges + history entries); `graph`
/// is not touched.
void copyWithoutFrame(const TransformManager::FrameGraph& graph, std::size_t removed,
                      TransformManager::FrameGraph& into);

}  // namespace detail
}  // namespace zelvane
