// Whole-graph edits of the frame graph that are rare enough to rebuild it.
#pragma once

#include <cstddef>
#include <memory>

#include "geometry/transform_manager.h"

namespace zelvane {
namespace detail {

/// A copy of `graph` without the frame `removed` and its edges: the other frames
/// keep their order (those after `removed` move down by one) and every remaining edge
/// its history. O(frames + edges + history entries); `graph` is not touched. (The
/// graph type cannot be moved, hence the pointer.)
std::unique_ptr<TransformManager::FrameGraph> withoutFrame(
    const TransformManager::FrameGraph& graph, std::size_t removed);

}  // namespace detail
}  // namespace zelvane
