// Boost.Graph first, with GCC's false warning about it off.
#include "boost_quiet.h"

#include "geometry/frame_graph_edit.h"

#include <iterator>
#include <map>

#include <boost/property_map/property_map.hpp>

namespace zelvane {
namespace detail {

namespace {

// Vertices in a list, so that one can be taken out without renumbering the others.
using ListGraph =
    boost::adjacency_list<boost::setS, boost::listS, boost::directedS, TransformManager::Vertex,
                          StoredEdge, boost::no_property, boost::listS>;

}  // namespace

void copyWithoutFrame(const StoreGraph& graph, std::size_t removed, StoreGraph& into) {
  ListGraph scratch;
  boost::copy_graph(graph, scratch);
  const auto doomed = std::next(boost::vertices(scratch).first, static_cast<long>(removed));
  boost::clear_vertex(*doomed, scratch);
  boost::remove_vertex(*doomed, scratch);

  // Numbered in list order, which is the old frame order without the removed frame.
  std::map<ListGraph::vertex_descriptor, std::size_t> numbering;
  for (auto [it, end] = boost::vertices(scratch); it != end; ++it) {
    numbering.emplace(*it, numbering.size());
  }
  boost::copy_graph(scratch, into,
                    boost::vertex_index_map(boost::make_assoc_property_map(numbering)));
}

}  // namespace detail
}  // namespace zelvane
