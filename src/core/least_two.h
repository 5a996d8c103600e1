/// @file
/// The least and second least reduced cost of a row, the inner minimum over the columns
/// of the dense assignment's row reduction: once column by column, and several columns
/// at a time with the same answer, bit for bit. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace zelvane {
namespace core {
namespace detail {

/// The least and the second least of the pairs (row[j] - v[j], j) in lexicographic
/// order: the least reduced cost at its first column, then the next (the same cost at a
/// later column, or the next larger cost at its first column). The second is
/// (+infinity, `NO_COLUMN`) for a row of one column.
struct LeastTwo {
  static constexpr std::size_t NO_COLUMN = static_cast<std::size_t>(-1);
  double first;
  std::size_t firstColumn;
  double second;
  std::size_t secondColumn;
};

/// Column by column, for `columns` >= 1 finite reduced costs.
inline LeastTwo leastTwoScanned(const double* row, const double* v, std::size_t columns) {
  LeastTwo best{row[0] - v[0], 0, std::numeric_limits<double>::infinity(), LeastTwo::NO_COLUMN};
  for (std::size_t j = 1; j < columns; ++j) {
    const double h = row[j] - v[j];
    if (h < best.second) {
      if (h >= best.first) {
        best.second = h;
        best.secondColumn = j;
      } else {
        best.second = best.first;
        best.secondColumn = best.firstColumn;
        best.first = h;
        best.firstColumn = j;
      }
    }
  }
  return best;
}

/// As `leastTwoScanned`, `LANES` columns at a time: lane l sees the columns
/// LANES k + l in order and keeps the least two of them by the scan's rule (a later
/// column replaces only on a smaller cost, so each lane keeps its least pairs in
/// lexicographic order); the least two of all are among the lanes' and are picked by
/// (cost, column); the last columns, fewer than `LANES`, are scanned on. Written with
/// vector types that the compiler maps to the processor's vectors (AVX-512: one
/// instruction a step for eight lanes, AVX2: two, SSE2: four); the arithmetic, one
/// subtraction a cost, is the scan's, whatever the lanes.
template <int LANES>
struct Lanes;
template <>
struct Lanes<4> {
  typedef double Costs __attribute__((vector_size(32)));
  typedef std::int64_t Columns __attribute__((vector_size(32)));
};
template <>
struct Lanes<8> {
  typedef double Costs __attribute__((vector_size(64)));
  typedef std::int64_t Columns __attribute__((vector_size(64)));
};

template <int LANES>
__attribute__((always_inline)) inline LeastTwo leastTwoByLanes(const double* row, const double* v,
                                                               std::size_t columns) {
  using Costs = typename Lanes<LANES>::Costs;
  using Columns = typename Lanes<LANES>::Columns;
  constexpr double INF = std::numeric_limits<double>::infinity();
  Costs first;
  Columns firstColumn;
  Columns column;
  for (int lane = 0; lane < LANES; ++lane) {
    first[lane] = INF;
    firstColumn[lane] = -1;
    column[lane] = lane;
  }
  Costs second = first;
  Columns secondColumn = firstColumn;
  const std::size_t whole = columns - columns % LANES;
  for (std::size_t j = 0; j < whole; j += LANES) {
    Costs r;
    Costs p;
    __builtin_memcpy(&r, row + j, sizeof r);
    __builtin_memcpy(&p, v + j, sizeof p);
    const Costs h = r - p;
    const auto belowFirst = (Columns)(h < first);
    const auto belowSecond = (Columns)(h < second);
    second = belowFirst ? first : (belowSecond ? h : second);
    secondColumn = belowFirst ? firstColumn : (belowSecond ? column : secondColumn);
    first = belowFirst ? h : first;
    firstColumn = belowFirst ? column : firstColumn;
    column += LANES;
  }
  // The lanes' pairs, then the columns left, by the scan's rule in lexicographic order.
  LeastTwo best{INF, LeastTwo::NO_COLUMN, INF, LeastTwo::NO_COLUMN};
  const auto offer = [&best](double h, std::size_t j) {
    if (j == LeastTwo::NO_COLUMN) return;
    const auto before = [](double a, std::size_t ja, double b, std::size_t jb) {
      return a < b || (a == b && ja < jb);
    };
    if (before(h, j, best.first, best.firstColumn)) {
      best.second = best.first;
      best.secondColumn = best.firstColumn;
      best.first = h;
      best.firstColumn = j;
    } else if (before(h, j, best.second, best.secondColumn)) {
      best.second = h;
      best.secondColumn = j;
    }
  };
  for (int lane = 0; lane < LANES; ++lane) {
    offer(first[lane], static_cast<std::size_t>(firstColumn[lane]));
    offer(second[lane], static_cast<std::size_t>(secondColumn[lane]));
  }
  for (std::size_t j = whole; j < columns; ++j) offer(row[j] - v[j], j);
  return best;
}

}  // namespace detail
}  // namespace core
}  // namespace zelvane
