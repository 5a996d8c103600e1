#include "core/assignment.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/least_two.h"
#include "cpu_clones.h"
#include "numeric_policy.h"

namespace zelvane {
namespace core {
namespace {

constexpr std::size_t NONE = static_cast<std::size_t>(-1);
constexpr double INF = std::numeric_limits<double>::infinity();

// Each pass of augmenting row reduction reassigns at most this many rows per row of
// the problem: every step lowers a price, but a price so large that the step is lost
// in its rounding could otherwise hand two rows the same column back and forth. The
// rows still free then go to the augmenting paths, which need no such bound.
constexpr std::size_t ROW_REDUCTION_STEPS_PER_ROW = 8;

// Maximising is minimising the negated entries: negation is exact, so both goals run
// the same search, and a reported entry negated back is the entry as given.
double searchCost(double entry, bool maximize) { return maximize ? -entry : entry; }

// The limit of the search (a cost limit, or the negated floor of the values when
// maximising), after checking the limit as given.
double searchLimit(double costLimit, bool maximize) {
  if (costLimit == NO_COST_LIMIT) return INF;
  if (maximize ? !(costLimit > -INF) : !(costLimit >= 0.0)) {
    throw std::invalid_argument(
        std::string("assignment: the cost limit must be ") +
        (maximize ? "finite or NO_COST_LIMIT when maximising" : "0 or more") + ", not " +
        std::to_string(costLimit));
  }
  if (std::abs(costLimit) > numeric::MAX_ASSIGNMENT_COST) {
    throw std::invalid_argument("assignment: a finite cost limit must lie within +-1e150");
  }
  return searchCost(costLimit, maximize);
}

// Throws for an entry that no assignment can be computed with; true for a forbidden
// pair (+infinity, or -infinity when maximising).
bool isForbidden(double entry, bool maximize) {
  const double forbidden = maximize ? -INF : INF;
  if (std::isnan(entry) || entry == -forbidden) {
    throw std::invalid_argument(
        maximize ? "assignment: the input contains invalid numeric entries (a NaN or "
                   "+infinity value to maximise)"
                 : "assignment: the input contains invalid numeric entries (a NaN or "
                   "-infinity cost)");
  }
  if (entry == forbidden) return true;
  if (std::abs(entry) > numeric::MAX_ASSIGNMENT_COST) {
    throw std::invalid_argument("assignment: a finite cost must lie within +-1e150");
  }
  return false;
}

[[noreturn]] void throwInfeasible() {
  throw std::invalid_argument(
      "assignment: the cost matrix is infeasible: no full matching of the shorter side "
      "exists among the allowed pairs (give a cost limit to leave rows or columns "
      "unmatched)");
}

}  // namespace

namespace detail {

// One listed pair in the rows of the sparse form: the column and the cost of the search.
struct SparseEdge {
  std::uint32_t column;
  double cost;
};

struct AssignmentWorkspace {
  // Dense form: the costs row-major, shorter side as rows.
  std::vector<double> costs;
  std::vector<double> columnPrice;       // v
  std::vector<double> rowPrice;          // u (sparse form only; dense keeps it implicit)
  std::vector<double> distance;          // d
  std::vector<std::size_t> columnOfRow;  // x
  std::vector<std::size_t> rowOfColumn;  // y
  std::vector<std::size_t> predecessor;
  std::vector<std::size_t> predecessorEdge;  // sparse form: the edge of that row, or NONE
  std::vector<std::size_t> columnList;
  std::vector<std::size_t> freeRows;
  std::vector<std::size_t> matchCount;
  // Sparse form.
  std::vector<AssignmentCandidate> candidates;  // the entries of a limited dense form
  std::vector<std::size_t> sources;             // and their indices in its matrix
  std::vector<std::size_t> rowStart;
  std::vector<SparseEdge> edges;
  std::vector<std::size_t> edgePair;     // the place of each edge's pair in the list
  std::vector<std::size_t> matchedEdge;  // by row of the search
  std::vector<double> pathLength;        // the search's distances: +infinity between searches
  std::vector<char> scanned;             // and none scanned
  std::vector<std::size_t> touched;
  std::vector<std::size_t> scannedColumns;
  std::vector<std::pair<double, std::size_t>> heap;
  // Greedy form: the pairs that may be matched, cheapest first.
  std::vector<AssignedPair> greedy;
};

}  // namespace detail

namespace {

using Workspace = detail::AssignmentWorkspace;

// ----------------------------------------------------------------------------------
// Dense form: Jonker-Volgenant on an n x m row-major matrix, n <= m.

// The kernels of the dense form, over a row at a time. On x86-64 they are compiled for
// the vectors of AVX2 (the row reduction's also for AVX-512) as well as for any such
// processor, the choice made when the library is loaded or the kernel first used;
// elsewhere, for the processor built for. Each gives the same answer, bit for bit, on
// any of them.
#define ZELVANE_VECTOR_CLONES ZELVANE_CPU_CLONES("avx2", "default")

// The least and second least reduced cost of `row` and their columns, as many columns
// at a time as the processor's vectors hold (see least_two.h).
using LeastTwoKernel = detail::LeastTwo (*)(const double* row, const double* v,
                                            std::size_t columns);

detail::LeastTwo leastTwoPlain(const double* row, const double* v, std::size_t columns) {
  return detail::leastTwoByLanes<4>(row, v, columns);
}

#if defined(__x86_64__)
__attribute__((target("avx512f"))) detail::LeastTwo leastTwoAvx512(const double* row,
                                                                   const double* v,
                                                                   std::size_t columns) {
  return detail::leastTwoByLanes<8>(row, v, columns);
}

__attribute__((target("avx2"))) detail::LeastTwo leastTwoAvx2(const double* row, const double* v,
                                                              std::size_t columns) {
  return detail::leastTwoByLanes<4>(row, v, columns);
}
#endif

// The kernel for this processor, chosen on first use.
LeastTwoKernel leastTwoKernel() {
#if defined(__x86_64__)
  static const LeastTwoKernel kernel = __builtin_cpu_supports("avx512f") ? leastTwoAvx512
                                       : __builtin_cpu_supports("avx2")  ? leastTwoAvx2
                                                                         : leastTwoPlain;
  return kernel;
#else
  return leastTwoPlain;
#endif
}

// Whether every entry is a number of magnitude at most the bound (NaN is not).
ZELVANE_VECTOR_CLONES bool allWithinBound(const double* values, std::size_t count) {
  unsigned outside = 0;
  for (std::size_t k = 0; k < count; ++k) {
    outside |= static_cast<unsigned>(!(std::abs(values[k]) <= numeric::MAX_ASSIGNMENT_COST));
  }
  return outside == 0;
}

// Each column's least entry so far against `row` (of index `i`): where the row's entry
// is at most the least, it becomes the least, and the row its holder (ties to the
// later row). Both are written every time, so that the loop runs in vectors.
ZELVANE_VECTOR_CLONES void lowerColumnMinima(const double* row, std::size_t i, double* least,
                                             std::size_t* holder, std::size_t columns) {
  for (std::size_t j = 0; j < columns; ++j) {
    const bool lower = row[j] <= least[j];
    least[j] = lower ? row[j] : least[j];
    holder[j] = lower ? i : holder[j];
  }
}

#undef ZELVANE_VECTOR_CLONES

struct DenseProblem {
  const double* costs;
  std::size_t rows;
  std::size_t columns;
  const double* row(std::size_t i) const { return costs + i * columns; }
};

// Calls `visit(value, k)` for every entry of `cost`, k its place in the row-major copy
// with the shorter side as rows. Blocked, so that the transposing copy reads and
// writes whole cache lines.
template <class Visit>
void forEachEntry(const Eigen::MatrixXd& cost, bool transposed, Visit visit) {
  const auto rows = static_cast<std::size_t>(cost.rows());
  const auto columns = static_cast<std::size_t>(cost.cols());
  const double* source = cost.data();  // column-major
  if (transposed) {
    // Rows of the problem are the matrix's columns: contiguous already.
    for (std::size_t k = 0; k < rows * columns; ++k) visit(source[k], k);
    return;
  }
  constexpr std::size_t BLOCK = 32;
  for (std::size_t j0 = 0; j0 < columns; j0 += BLOCK) {
    const std::size_t j1 = std::min(columns, j0 + BLOCK);
    for (std::size_t i0 = 0; i0 < rows; i0 += BLOCK) {
      const std::size_t i1 = std::min(rows, i0 + BLOCK);
      for (std::size_t j = j0; j < j1; ++j) {
        for (std::size_t i = i0; i < i1; ++i) visit(source[j * rows + i], i * columns + j);
      }
    }
  }
}

// Copies `cost` into the workspace row-major, shorter side as rows, as costs of the
// search, and checks every entry. Returns whether every entry is finite. Most matrices
// hold finite costs within the bound only: one branch-free pass over the copy tells,
// and only otherwise are the entries checked one by one, in the order of the copy, to
// refuse the first bad one or to find the forbidden ones.
bool copyDense(const Eigen::MatrixXd& cost, bool transposed, bool maximize, Workspace& ws) {
  const std::size_t count =
      static_cast<std::size_t>(cost.rows()) * static_cast<std::size_t>(cost.cols());
  ws.costs.resize(count);
  double* target = ws.costs.data();
  // Negation, exact, as a product: the copy stays one loop.
  const double sign = maximize ? -1.0 : 1.0;
  forEachEntry(cost, transposed, [&](double value, std::size_t k) { target[k] = sign * value; });
  if (allWithinBound(target, count)) return true;
  bool allFinite = true;
  forEachEntry(cost, transposed,
               [&](double value, std::size_t) { allFinite &= !isForbidden(value, maximize); });
  return allFinite;
}

// Column reduction: each column's price is its least entry, and each column is given
// to the row holding that entry if the row has no column yet (taken from the last
// column down, as the method states). `matchCount` counts, per row, the columns whose
// least entry it holds. A tie goes to the later row: the last column, taken first,
// then goes to the last of the rows that share its least entry, and where all rows
// do, the free rows left take the free columns in order (see below), row i column i.
void reduceColumns(const DenseProblem& p, Workspace& ws) {
  std::vector<double>& v = ws.columnPrice;
  std::vector<std::size_t>& rowOfMin = ws.predecessor;
  std::copy(p.row(0), p.row(0) + p.columns, v.begin());
  std::fill(rowOfMin.begin(), rowOfMin.end(), 0);
  for (std::size_t i = 1; i < p.rows; ++i) {
    lowerColumnMinima(p.row(i), i, v.data(), rowOfMin.data(), p.columns);
  }
  std::fill(ws.matchCount.begin(), ws.matchCount.end(), 0);
  for (std::size_t j = p.columns; j-- > 0;) {
    const std::size_t i = rowOfMin[j];
    if (++ws.matchCount[i] == 1) {
      ws.columnOfRow[i] = j;
      ws.rowOfColumn[j] = i;
    }
  }
}

// Reduction transfer: a row that holds the least entry of exactly one column passes
// the margin to its second-best column on to that column's price, so that later
// searches see the row's true alternative. Rows that hold no column's least entry are
// listed as free.
void transferReduction(const DenseProblem& p, Workspace& ws) {
  ws.freeRows.clear();
  for (std::size_t i = 0; i < p.rows; ++i) {
    if (ws.matchCount[i] == 0) {
      ws.freeRows.push_back(i);
      continue;
    }
    if (ws.matchCount[i] != 1) continue;
    const std::size_t j1 = ws.columnOfRow[i];
    const double* row = p.row(i);
    double margin = INF;
    for (std::size_t j = 0; j < p.columns; ++j) {
      if (j != j1) margin = std::min(margin, row[j] - ws.columnPrice[j]);
    }
    ws.columnPrice[j1] -= margin;
  }
}

// The first free column whose reduced cost in `row` is `least`, or NONE.
std::size_t freeColumnAt(const double* row, double least, const Workspace& ws,
                         std::size_t columns) {
  for (std::size_t j = 0; j < columns; ++j) {
    if (ws.rowOfColumn[j] == NONE && row[j] - ws.columnPrice[j] == least) return j;
  }
  return NONE;
}

// Augmenting row reduction: each free row takes its best column, lowering that
// column's price by the row's margin to its second best, and the row it displaces
// tries again at once (if the price fell) or in the next pass (if it did not). A row
// whose best columns tie takes a free one among them if there is one, displacing no
// row, else the second of them.
void augmentRowReduction(const DenseProblem& p, Workspace& ws) {
  std::vector<std::size_t>& free = ws.freeRows;
  const LeastTwoKernel leastTwo = leastTwoKernel();
  const std::size_t stepLimit = ROW_REDUCTION_STEPS_PER_ROW * p.rows;
  for (int pass = 0; pass < 2; ++pass) {
    const std::size_t previous = free.size();
    std::size_t k = 0;
    std::size_t kept = 0;
    std::size_t steps = 0;
    while (k < previous) {
      if (++steps > stepLimit) {
        while (k < previous) free[kept++] = free[k++];
        break;
      }
      const std::size_t i = free[k++];
      const detail::LeastTwo best = leastTwo(p.row(i), ws.columnPrice.data(), p.columns);
      std::size_t j1 = best.firstColumn;
      std::size_t i0 = ws.rowOfColumn[j1];
      const bool priceFalls = best.first < best.second;
      if (priceFalls) {
        ws.columnPrice[j1] -= best.second - best.first;
      } else if (i0 != NONE) {
        const std::size_t freeColumn = freeColumnAt(p.row(i), best.first, ws, p.columns);
        j1 = freeColumn != NONE ? freeColumn : best.secondColumn;
        i0 = ws.rowOfColumn[j1];
      }
      ws.columnOfRow[i] = j1;
      ws.rowOfColumn[j1] = i;
      if (i0 != NONE) {
        ws.columnOfRow[i0] = NONE;
        if (priceFalls) {
          free[--k] = i0;
        } else {
          free[kept++] = i0;
        }
      }
    }
    free.resize(kept);
  }
}

// One shortest augmenting path from the free row `f`: a Dijkstra search over the
// columns on reduced costs, the columns at the current least distance kept in the
// "todo" part of `columnList`, the scanned ones before it. Ends at the first free
// column reached; the prices of the scanned columns then move by their distance, and
// the path is flipped. Throws when no free column can be reached.
void augmentFrom(const DenseProblem& p, Workspace& ws, std::size_t f) {
  std::vector<double>& d = ws.distance;
  std::vector<double>& v = ws.columnPrice;
  std::vector<std::size_t>& list = ws.columnList;
  std::vector<std::size_t>& pred = ws.predecessor;
  const std::size_t m = p.columns;
  const double* rowF = p.row(f);
  for (std::size_t j = 0; j < m; ++j) {
    d[j] = rowF[j] - v[j];
    pred[j] = f;
    list[j] = j;
  }
  std::size_t low = 0;  // list[0, low): scanned
  std::size_t up = 0;   // list[low, up): at the least distance, not yet scanned
  std::size_t endOfPath = NONE;
  double least = 0.0;
  while (endOfPath == NONE) {
    if (up == low) {
      least = d[list[up++]];
      for (std::size_t k = up; k < m; ++k) {
        const std::size_t j = list[k];
        const double h = d[j];
        if (h <= least) {
          if (h < least) {
            up = low;
            least = h;
          }
          list[k] = list[up];
          list[up++] = j;
        }
      }
      if (least == INF) throwInfeasible();
      for (std::size_t k = low; k < up; ++k) {
        if (ws.rowOfColumn[list[k]] == NONE) {
          endOfPath = list[k];
          break;
        }
      }
    }
    if (endOfPath != NONE) break;
    const std::size_t j1 = list[low++];
    const std::size_t i = ws.rowOfColumn[j1];
    const double* row = p.row(i);
    const double h = row[j1] - v[j1] - least;
    for (std::size_t k = up; k < m; ++k) {
      const std::size_t j = list[k];
      const double reduced = row[j] - v[j] - h;
      if (reduced < d[j]) {
        pred[j] = i;
        if (reduced <= least) {
          if (ws.rowOfColumn[j] == NONE) {
            endOfPath = j;
            break;
          }
          list[k] = list[up];
          list[up++] = j;
        }
        d[j] = reduced;
      }
    }
  }
  for (std::size_t k = 0; k < low; ++k) {
    const std::size_t j = list[k];
    v[j] += d[j] - least;
  }
  std::size_t i = NONE;
  do {
    i = pred[endOfPath];
    ws.rowOfColumn[endOfPath] = i;
    std::swap(endOfPath, ws.columnOfRow[i]);
  } while (i != f);
}

void solveDense(const DenseProblem& p, bool allFinite, Workspace& ws) {
  ws.columnPrice.assign(p.columns, 0.0);
  ws.distance.resize(p.columns);
  ws.predecessor.resize(p.columns);
  ws.columnList.resize(p.columns);
  ws.columnOfRow.assign(p.rows, NONE);
  ws.rowOfColumn.assign(p.columns, NONE);
  if (allFinite && p.rows == p.columns && p.rows >= 2) {
    ws.matchCount.resize(p.rows);
    reduceColumns(p, ws);
    transferReduction(p, ws);
    augmentRowReduction(p, ws);
  } else {
    ws.freeRows.resize(p.rows);
    for (std::size_t i = 0; i < p.rows; ++i) ws.freeRows[i] = i;
  }
  for (const std::size_t f : ws.freeRows) augmentFrom(p, ws, f);
}

// ----------------------------------------------------------------------------------
// Sparse form: the same augmenting paths over listed pairs, with a binary heap.

struct SparseProblem {
  std::size_t rows;     // of the search (the shorter side without a limit)
  std::size_t columns;  // real columns; with a limit, row i also has column columns + i
  bool transposed;
  double shift;  // subtracted from every cost: the limit (capped), 0 without one
  bool limited;
  // The rows' edges: the caller's pairs themselves (`direct`, when they come ordered by
  // row), those below `limit` taken as costs of the search; else `Workspace::edges`.
  bool direct;
  const AssignmentCandidate* pairs;
  double limit;
  bool maximize;
};

// The arrays of a sparse search, sized for it, as plain pointers, so that the loops
// over them keep them in registers.
struct SparseArrays {
  const std::size_t* rowStart;
  const detail::SparseEdge* edges;
  double* u;  // row prices
  double* v;  // column prices
  double* pathLength;
  char* scanned;
  std::size_t* predecessor;
  std::size_t* predecessorEdge;
  std::size_t* columnOfRow;
  std::size_t* rowOfColumn;
  std::size_t* matchedEdge;
};

// What row `i` of the search reaches: its listed pairs, then, with a limit, its own
// column, at cost `shift` (so at 0 once shifted), where it stays unmatched.
// `visit(column, shifted cost, edge)`, the edge NONE for the row's own column.
template <class Visit>
void forEachEdge(const SparseProblem& p, const SparseArrays& a, std::size_t i, Visit visit) {
  const std::size_t end = a.rowStart[i + 1];
  if (p.direct) {
    for (std::size_t e = a.rowStart[i]; e < end; ++e) {
      // The pairs are checked: what is not below the limit is forbidden or too dear.
      const AssignmentCandidate& c = p.pairs[e];
      const double cost = searchCost(c.value, p.maximize);
      if (cost < p.limit) visit(p.transposed ? c.row : c.column, cost - p.shift, e);
    }
  } else {
    for (std::size_t e = a.rowStart[i]; e < end; ++e) {
      visit(a.edges[e].column, a.edges[e].cost - p.shift, e);
    }
  }
  if (p.limited) visit(p.columns + i, p.shift - p.shift, NONE);
}

// The cost of the search of the listed pair of edge `e`.
double edgeCost(const SparseProblem& p, const SparseArrays& a, std::size_t e) {
  return p.direct ? searchCost(p.pairs[e].value, p.maximize) : a.edges[e].cost;
}

// Of a pair listed twice, the edge of the lesser cost (the first of equals) is the one
// matched, whatever the rounding of the search makes of the difference: `e` takes the
// place of `held` for the same column only when it costs less.
bool cheaperTwin(const SparseProblem& p, const SparseArrays& a, std::size_t e, std::size_t held) {
  return e != NONE && held != NONE && edgeCost(p, a, e) < edgeCost(p, a, held);
}

// The shortest path of one step: when the column of least reduced cost in the row of
// `f` is free, the search would stop at its first column; take it without one. Most
// rows of a gated tracker frame end here. Returns false when the search is needed.
bool takeCheapestIfFree(const SparseProblem& p, const SparseArrays& a, std::size_t f) {
  double least = INF;
  std::size_t best = NONE;
  std::size_t bestEdge = NONE;
  const double u = a.u[f];
  forEachEdge(p, a, f, [&](std::size_t j, double cost, std::size_t e) {
    const double reduced = cost - u - a.v[j];
    if (reduced < least) {
      least = reduced;
      best = j;
      bestEdge = e;
    } else if (reduced == least && j == best && cheaperTwin(p, a, e, bestEdge)) {
      bestEdge = e;
    }
  });
  if (best == NONE || a.rowOfColumn[best] != NONE) return false;
  a.u[f] += least;
  a.columnOfRow[f] = best;
  a.matchedEdge[f] = bestEdge;
  a.rowOfColumn[best] = f;
  return true;
}

// One shortest augmenting path from the free row `f`, over its component of the
// candidate graph (no path leaves it). Returns false when no free column can be
// reached (only without a limit: with one, the row's own column always can).
bool augmentSparseFrom(const SparseProblem& p, const SparseArrays& a, Workspace& ws,
                       std::size_t f) {
  double* dist = a.pathLength;
  auto& heap = ws.heap;
  const auto later = std::greater<std::pair<double, std::size_t>>();
  heap.clear();
  ws.scannedColumns.clear();
  // What the search touched goes back to unreached, also when it fails.
  struct Reset {
    const SparseArrays& a;
    std::vector<std::size_t>& touched;
    ~Reset() {
      for (const std::size_t j : touched) {
        a.pathLength[j] = INF;
        a.scanned[j] = 0;
      }
      touched.clear();
    }
  } reset{a, ws.touched};
  auto relaxRow = [&](std::size_t i, double from) {
    forEachEdge(p, a, i, [&](std::size_t j, double cost, std::size_t e) {
      if (a.scanned[j]) return;
      const double next = from + cost - a.u[i] - a.v[j];
      if (next < dist[j]) {
        if (dist[j] == INF) ws.touched.push_back(j);
        dist[j] = next;
        a.predecessor[j] = i;
        a.predecessorEdge[j] = e;
        heap.emplace_back(next, j);
        std::push_heap(heap.begin(), heap.end(), later);
      } else if (next == dist[j] && a.predecessor[j] == i &&
                 cheaperTwin(p, a, e, a.predecessorEdge[j])) {
        a.predecessorEdge[j] = e;
      }
    });
  };
  relaxRow(f, 0.0);
  std::size_t sink = NONE;
  double reach = 0.0;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), later);
    const auto [d, j] = heap.back();
    heap.pop_back();
    if (a.scanned[j] || d > dist[j]) continue;
    if (a.rowOfColumn[j] == NONE) {
      sink = j;
      reach = d;
      break;
    }
    a.scanned[j] = 1;
    ws.scannedColumns.push_back(j);
    relaxRow(a.rowOfColumn[j], d);
  }
  if (sink != NONE) {
    for (const std::size_t j : ws.scannedColumns) {
      const double step = reach - dist[j];
      a.u[a.rowOfColumn[j]] += step;
      a.v[j] -= step;
    }
    a.u[f] += reach;
    std::size_t j = sink;
    for (;;) {
      const std::size_t i = a.predecessor[j];
      a.rowOfColumn[j] = i;
      a.matchedEdge[i] = a.predecessorEdge[j];
      std::swap(j, a.columnOfRow[i]);
      if (i == f) break;
    }
  }
  return sink != NONE;
}

// The first `count` elements of `buffer` (at least that long), every byte `byte`.
template <class T>
void setBytes(std::vector<T>& buffer, std::size_t count, int byte) {
  static_assert(std::is_trivially_copyable<T>::value, "set byte-wise");
  if (count > 0) std::memset(buffer.data(), byte, count * sizeof(T));
}

// The workspace's arrays sized for the search of `p`, as plain pointers. Prices and
// matches are left as they are; distances and scan marks, which every search leaves
// unreached and unscanned, are only grown.
SparseArrays sizeSearch(const SparseProblem& p, Workspace& ws) {
  const std::size_t allColumns = p.columns + (p.limited ? p.rows : 0);
  ws.rowPrice.resize(p.rows);
  ws.columnOfRow.resize(p.rows);
  ws.columnPrice.resize(allColumns);
  ws.rowOfColumn.resize(allColumns);
  if (ws.pathLength.size() < allColumns) ws.pathLength.resize(allColumns, INF);
  if (ws.scanned.size() < allColumns) ws.scanned.resize(allColumns, 0);
  ws.predecessor.resize(allColumns);
  ws.predecessorEdge.resize(allColumns);
  ws.matchedEdge.resize(p.rows);
  return SparseArrays{ws.rowStart.data(),    ws.edges.data(),           ws.rowPrice.data(),
                      ws.columnPrice.data(), ws.pathLength.data(),      ws.scanned.data(),
                      ws.predecessor.data(), ws.predecessorEdge.data(), ws.columnOfRow.data(),
                      ws.rowOfColumn.data(), ws.matchedEdge.data()};
}

// The rows of the search from first to last. Paths from rows of different components
// of the candidate graph share no row or column, so the rows of each component are
// taken in increasing order as they would be one component at a time, with the same
// answer, and no pass is spent finding the components.
SparseArrays prepareSparse(const SparseProblem& p, Workspace& ws) {
  const SparseArrays a = sizeSearch(p, ws);
  // Prices 0, nothing matched: zero bits and all-one bits (NONE), set byte-wise.
  const std::size_t allColumns = ws.columnPrice.size();
  setBytes(ws.rowPrice, p.rows, 0);
  setBytes(ws.columnPrice, allColumns, 0);
  setBytes(ws.columnOfRow, p.rows, 0xff);
  setBytes(ws.rowOfColumn, allColumns, 0xff);
  return a;
}

// As `prepareSparse`, for `solveWhileReading`, which sets the price and the match of
// each row and of its own column when it comes to the row: only the real columns are
// set here.
SparseArrays prepareReading(const SparseProblem& p, Workspace& ws) {
  const SparseArrays a = sizeSearch(p, ws);
  setBytes(ws.columnPrice, p.columns, 0);
  setBytes(ws.rowOfColumn, p.columns, 0xff);
  return a;
}

void solveSparse(const SparseProblem& p, Workspace& ws) {
  const SparseArrays a = prepareSparse(p, ws);
  for (std::size_t f = 0; f < p.rows; ++f) {
    if (!takeCheapestIfFree(p, a, f) && !augmentSparseFrom(p, a, ws, f)) throwInfeasible();
  }
}

// The result in the caller's terms from the matching of the search, whose rows are the
// caller's columns when `transposed`. `matchOf(searchRow, searchColumn)` gives the
// entry as given and the candidate of the match.
template <class MatchOf>
Assignment collect(std::size_t rows, std::size_t columns, bool transposed, const Workspace& ws,
                   MatchOf matchOf) {
  Assignment result;
  const std::size_t searchRows = transposed ? columns : rows;
  const std::size_t searchColumns = transposed ? rows : columns;
  std::size_t matched = 0;
  for (std::size_t i = 0; i < searchRows; ++i) matched += ws.columnOfRow[i] < searchColumns;
  // Sized once and written in place: no capacity test a pair.
  result.matches.resize(matched);
  result.unmatchedRows.resize(rows - matched);
  result.unmatchedColumns.resize(columns - matched);
  AssignedPair* match = result.matches.data();
  std::size_t* unmatchedRow = result.unmatchedRows.data();
  std::size_t* unmatchedColumn = result.unmatchedColumns.data();
  if (!transposed) {
    for (std::size_t i = 0; i < rows; ++i) {
      const std::size_t j = ws.columnOfRow[i];
      if (j < columns) {
        *match++ = matchOf(i, j);
      } else {
        *unmatchedRow++ = i;
      }
    }
    for (std::size_t j = 0; j < columns; ++j) {
      if (ws.rowOfColumn[j] == NONE) *unmatchedColumn++ = j;
    }
  } else {
    for (std::size_t i = 0; i < rows; ++i) {
      const std::size_t j = ws.rowOfColumn[i];
      if (j != NONE) {
        *match++ = matchOf(j, i);
      } else {
        *unmatchedRow++ = i;
      }
    }
    for (std::size_t j = 0; j < columns; ++j) {
      if (ws.columnOfRow[j] >= rows) *unmatchedColumn++ = j;
    }
  }
  return result;
}

void checkSize(std::size_t rows, std::size_t columns) {
  // Columns are stored in 32 bits, and the limited search adds a column per row.
  if (rows + columns >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::invalid_argument("assignment: too many rows and columns");
  }
}

[[noreturn]] void throwOutside(const AssignmentCandidate& c, std::size_t rows,
                               std::size_t columns) {
  throw std::invalid_argument("assignment: the pair (" + std::to_string(c.row) + ", " +
                              std::to_string(c.column) + ") lies outside " + std::to_string(rows) +
                              " rows x " + std::to_string(columns) + " columns");
}

// The shift of a limited search: the limit, capped where a larger one no longer
// changes the answer. Matching one pair more gains (limit - its cost) in the objective,
// and the totals of two matchings differ by at most 2 n max|cost| (n = min(rows,
// columns) pairs each): any limit beyond that ranks matchings alike, by the number of
// pairs, then the least total. Capped, costs far below a huge limit are not rounded
// away in (cost - limit) (costs near 1 with a limit of 1e100 would all look equal).
double limitedShift(std::size_t rows, std::size_t columns, double limit, double largest) {
  const double pairs = static_cast<double>(std::min(rows, columns));
  return std::min(limit, 2.0 * (pairs + 1.0) * largest + 1.0);
}

// True, fast, for a cost that may be matched: finite, within the bound, below the
// limit of the search; false for one that passes no limit or is forbidden; throws for
// one refused (see `isForbidden`).
bool passes(double entry, bool maximize, double limit) {
  const double cost = searchCost(entry, maximize);
  if (std::abs(cost) <= numeric::MAX_ASSIGNMENT_COST) return cost < limit;
  return !isForbidden(entry, maximize) && cost < limit;
}

// The largest magnitude among the costs of the search that may be matched (those that
// would be refused are left to the checks that refuse them).
double largestCost(const std::vector<AssignmentCandidate>& pairs, double limit, bool maximize) {
  double largest = 0.0;
  for (const AssignmentCandidate& c : pairs) {
    const double cost = searchCost(c.value, maximize);
    const double magnitude = std::abs(cost);
    if (magnitude <= numeric::MAX_ASSIGNMENT_COST && cost < limit && magnitude > largest) {
      largest = magnitude;
    }
  }
  return largest;
}

// The sparse form in one pass over `pairs` ordered by row of the search (a tracker's
// pairs): each row is solved as soon as its last pair is read, its cheapest column
// found while reading (with the prices the rows before it left, as the row-by-row
// loop of `solveSparse` would find it). Checks every pair; returns false as soon as a
// row comes before one already seen, leaving the workspace to be prepared again. When
// a row cannot be matched, the pairs after it are still checked before the solver
// says so, as when every pair is checked first.
bool solveWhileReading(const SparseProblem& p, std::size_t rows, std::size_t columns,
                       const std::vector<AssignmentCandidate>& pairs, Workspace& ws) {
  ws.rowStart.resize(p.rows + 1);
  const SparseArrays a = prepareReading(p, ws);
  std::size_t* start = ws.rowStart.data();
  start[0] = 0;
  bool infeasible = false;
  // The cheapest column of the row being read so far, its pair and the pair's cost.
  double least = INF;
  std::size_t best = NONE;
  std::size_t bestEdge = NONE;
  double bestCost = INF;
  const auto finish = [&](std::size_t row, std::size_t end) {
    start[row + 1] = end;
    if (infeasible) return;
    // The row, and its own column, come into the search now: price 0, unmatched.
    a.u[row] = 0.0;
    a.columnOfRow[row] = NONE;
    if (p.limited) {
      // The row's own column, offered last as `forEachEdge` offers it.
      const std::size_t own = p.columns + row;
      a.v[own] = 0.0;
      a.rowOfColumn[own] = NONE;
      const double reduced = (p.shift - p.shift) - a.u[row] - a.v[own];
      if (reduced < least) {
        least = reduced;
        best = own;
        bestEdge = NONE;
      }
    }
    if (best != NONE && a.rowOfColumn[best] == NONE) {
      a.u[row] += least;
      a.columnOfRow[row] = best;
      a.matchedEdge[row] = bestEdge;
      a.rowOfColumn[best] = row;
    } else if (!augmentSparseFrom(p, a, ws, row)) {
      infeasible = true;
    }
    least = INF;
    best = NONE;
    bestEdge = NONE;
    bestCost = INF;
  };
  std::size_t current = 0;  // the row being read; those before it are solved
  const std::size_t count = pairs.size();
  const AssignmentCandidate* pair = pairs.data();
  for (std::size_t k = 0; k < count; ++k) {
    const AssignmentCandidate& c = pair[k];
    if (c.row >= rows || c.column >= columns) throwOutside(c, rows, columns);
    const std::size_t row = p.transposed ? c.column : c.row;
    if (row < current) return false;
    while (current < row) finish(current++, k);
    const double cost = searchCost(c.value, p.maximize);
    const bool usable = std::abs(cost) <= numeric::MAX_ASSIGNMENT_COST
                            ? cost < p.limit
                            : passes(c.value, p.maximize, p.limit);
    if (!usable || infeasible) continue;
    const std::size_t j = p.transposed ? c.row : c.column;
    // The row's price is still 0: it is set when the row is solved.
    const double reduced = (cost - p.shift) - 0.0 - a.v[j];
    if (reduced < least || (reduced == least && j == best && cost < bestCost)) {
      least = reduced;
      best = j;
      bestEdge = k;
      bestCost = cost;
    }
  }
  while (current < p.rows) finish(current++, count);
  if (infeasible) throwInfeasible();
  return true;
}

// The pairs that may be matched as compressed rows of the search, in their order, their
// costs those of the search (`ws.edges`, row r from `ws.rowStart[r]`), with each
// edge's place in `pairs` (`ws.edgePair`): a counting pass, then one that places them
// (row r's count in start[r + 2], so that after the running sum start[r + 1] is where
// the row begins, and after placing, where it ends).
void placeRows(std::size_t rows, std::size_t columns, const std::vector<AssignmentCandidate>& pairs,
               double limit, bool maximize, bool transposed, Workspace& ws) {
  const std::size_t searchRows = transposed ? columns : rows;
  std::vector<std::size_t>& start = ws.rowStart;
  start.assign(searchRows + 2, 0);
  for (const AssignmentCandidate& c : pairs) {
    if (c.row >= rows || c.column >= columns) throwOutside(c, rows, columns);
    if (passes(c.value, maximize, limit)) ++start[(transposed ? c.column : c.row) + 2];
  }
  for (std::size_t r = 0; r < searchRows; ++r) start[r + 2] += start[r + 1];
  ws.edges.resize(start[searchRows + 1]);
  ws.edgePair.resize(start[searchRows + 1]);
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const AssignmentCandidate& c = pairs[k];
    if (!passes(c.value, maximize, limit)) continue;
    const std::size_t e = start[(transposed ? c.column : c.row) + 1]++;
    ws.edges[e] = detail::SparseEdge{static_cast<std::uint32_t>(transposed ? c.row : c.column),
                                     searchCost(c.value, maximize)};
    ws.edgePair[e] = k;
  }
  start.pop_back();
}

// The sparse form on `pairs` (entries as given). A match's candidate is its pair's
// place in `pairs`, or `sources` of that place.
Assignment solveListed(std::size_t rows, std::size_t columns,
                       const std::vector<AssignmentCandidate>& pairs, const std::size_t* sources,
                       double limit, bool maximize, Workspace& ws) {
  const bool limited = limit != INF;
  const bool transposed = !limited && rows > columns;
  // The shift is the limit whenever the limit is at most 1: the cap is never below 1.
  const double largest = limited && limit > 1.0 ? largestCost(pairs, limit, maximize) : 0.0;
  SparseProblem p{transposed ? columns : rows,
                  transposed ? rows : columns,
                  transposed,
                  limited ? limitedShift(rows, columns, limit, largest) : 0.0,
                  limited,
                  true,
                  pairs.data(),
                  limit,
                  maximize};
  p.direct = solveWhileReading(p, rows, columns, pairs, ws);
  if (!p.direct) {
    placeRows(rows, columns, pairs, limit, maximize, transposed, ws);
    solveSparse(p, ws);
  }
  return collect(rows, columns, transposed, ws, [&](std::size_t i, std::size_t j) {
    const std::size_t e = ws.matchedEdge[i];
    const std::size_t k = p.direct ? e : ws.edgePair[e];
    const std::size_t row = transposed ? j : i;
    const std::size_t column = transposed ? i : j;
    return AssignedPair{{row, column, pairs[k].value}, sources != nullptr ? sources[k] : k};
  });
}

}  // namespace

AssignmentSolver::AssignmentSolver() : workspace_(std::make_unique<Workspace>()) {}
AssignmentSolver::~AssignmentSolver() = default;
AssignmentSolver::AssignmentSolver(AssignmentSolver&&) noexcept = default;
AssignmentSolver& AssignmentSolver::operator=(AssignmentSolver&&) noexcept = default;

Assignment AssignmentSolver::solve(const Eigen::MatrixXd& cost, double costLimit,
                                   AssignmentGoal goal) {
  const bool maximize = goal == AssignmentGoal::Maximize;
  const double limit = searchLimit(costLimit, maximize);
  Workspace& ws = *workspace_;
  const auto rows = static_cast<std::size_t>(cost.rows());
  const auto columns = static_cast<std::size_t>(cost.cols());
  checkSize(rows, columns);
  if (limit != INF) {
    // With a limit only the entries that pass it can be matched: the sparse form.
    ws.candidates.clear();
    ws.sources.clear();
    for (std::size_t j = 0; j < columns; ++j) {
      for (std::size_t i = 0; i < rows; ++i) {
        const double c = cost.data()[i + j * rows];
        if (isForbidden(c, maximize) || !(searchCost(c, maximize) < limit)) continue;
        ws.candidates.push_back({i, j, c});
        ws.sources.push_back(i + j * rows);
      }
    }
    return solveListed(rows, columns, ws.candidates, ws.sources.data(), limit, maximize, ws);
  }
  const bool transposed = rows > columns;
  const bool allFinite = copyDense(cost, transposed, maximize, ws);
  const DenseProblem p{ws.costs.data(), transposed ? columns : rows, transposed ? rows : columns};
  if (p.rows > 0) {
    solveDense(p, allFinite, ws);
  } else {
    ws.columnOfRow.clear();
    ws.rowOfColumn.assign(p.columns, NONE);
  }
  return collect(rows, columns, transposed, ws, [&](std::size_t i, std::size_t j) {
    const std::size_t row = transposed ? j : i;
    const std::size_t column = transposed ? i : j;
    return AssignedPair{{row, column, searchCost(ws.costs[i * p.columns + j], maximize)},
                        row + column * rows};
  });
}

Assignment AssignmentSolver::solveRowMajor(const double* cost, std::size_t rows,
                                           std::size_t columns, double costLimit,
                                           AssignmentGoal goal) {
  checkSize(rows, columns);
  // The storage read in column order is the transpose: solve that, then turn each pair
  // back. Its dense `candidate`, row + column x rows of the transpose, is already the
  // entry's row-major index.
  const Eigen::MatrixXd transposed = Eigen::Map<const Eigen::MatrixXd>(
      cost, static_cast<Eigen::Index>(columns), static_cast<Eigen::Index>(rows));
  Assignment assignment = solve(transposed, costLimit, goal);
  for (AssignedPair& match : assignment.matches) std::swap(match.row, match.column);
  std::sort(assignment.matches.begin(), assignment.matches.end(),
            [](const AssignedPair& a, const AssignedPair& b) { return a.row < b.row; });
  assignment.unmatchedRows.swap(assignment.unmatchedColumns);
  return assignment;
}

Assignment AssignmentSolver::solve(std::size_t rows, std::size_t columns,
                                   const std::vector<AssignmentCandidate>& candidates,
                                   double costLimit, AssignmentGoal goal) {
  const bool maximize = goal == AssignmentGoal::Maximize;
  const double limit = searchLimit(costLimit, maximize);
  checkSize(rows, columns);
  return solveListed(rows, columns, candidates, nullptr, limit, maximize, *workspace_);
}

Assignment AssignmentSolver::solveGreedy(std::size_t rows, std::size_t columns,
                                         const std::vector<AssignmentCandidate>& candidates,
                                         double costLimit, AssignmentGoal goal) {
  const bool maximize = goal == AssignmentGoal::Maximize;
  const double limit = searchLimit(costLimit, maximize);
  checkSize(rows, columns);
  Workspace& ws = *workspace_;
  // The pairs that may be matched, as costs of the search, with their index.
  std::vector<AssignedPair>& order = ws.greedy;
  order.clear();
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    const AssignmentCandidate& c = candidates[k];
    if (c.row >= rows || c.column >= columns) throwOutside(c, rows, columns);
    if (isForbidden(c.value, maximize)) continue;
    const double cost = searchCost(c.value, maximize);
    if (cost < limit) order.push_back({{c.row, c.column, cost}, k});
  }
  std::sort(order.begin(), order.end(), [](const AssignedPair& a, const AssignedPair& b) {
    if (a.value != b.value) return a.value < b.value;
    if (a.row != b.row) return a.row < b.row;
    return a.column != b.column ? a.column < b.column : a.candidate < b.candidate;
  });
  ws.columnOfRow.assign(rows, NONE);
  ws.rowOfColumn.assign(columns, NONE);
  ws.matchedEdge.resize(rows);
  for (std::size_t k = 0; k < order.size(); ++k) {
    const AssignedPair& c = order[k];
    if (ws.columnOfRow[c.row] == NONE && ws.rowOfColumn[c.column] == NONE) {
      ws.columnOfRow[c.row] = c.column;
      ws.rowOfColumn[c.column] = c.row;
      ws.matchedEdge[c.row] = k;
    }
  }
  return collect(rows, columns, false, ws, [&](std::size_t i, std::size_t /*j*/) {
    AssignedPair match = order[ws.matchedEdge[i]];
    match.value = searchCost(match.value, maximize);
    return match;
  });
}

Assignment solveAssignment(const Eigen::MatrixXd& cost, double costLimit, AssignmentGoal goal) {
  return AssignmentSolver().solve(cost, costLimit, goal);
}

Assignment solveAssignment(std::size_t rows, std::size_t columns,
                           const std::vector<AssignmentCandidate>& candidates, double costLimit,
                           AssignmentGoal goal) {
  return AssignmentSolver().solve(rows, columns, candidates, costLimit, goal);
}

Assignment solveGreedyAssignment(std::size_t rows, std::size_t columns,
                                 const std::vector<AssignmentCandidate>& candidates,
                                 double costLimit, AssignmentGoal goal) {
  return AssignmentSolver().solveGreedy(rows, columns, candidates, costLimit, goal);
}

}  // namespace core
}  // namespace zelvane
