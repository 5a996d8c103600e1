/// @file
/// `core::IndexPair`, the one record of a pair of indices and the value that pairs them:
/// an entry (row, column) of a matrix held sparsely. The batch footprint operations
/// report their pairs in it (row: an index into the first list, column: into the
/// second, as the rows and columns of their dense matrices), the assignment solver
/// takes its candidates in it (value: the cost) and reports its matches in a record
/// derived from it, and the association of a frame reports its matches in it (row: the
/// track, column: the detection).
#pragma once

#include <cstddef>

namespace zelvane {
namespace core {

/// Row and column indices and the value that pairs them (an overlap, a distance, a
/// cost). A plain aggregate: `IndexPair{row, column, value}`.
struct IndexPair {
  std::size_t row;
  std::size_t column;
  double value;
};

}  // namespace core
}  // namespace zelvane
