#include "core/assignment.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

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

// One listed pair in the rows of the sparse form: the column and the cost as given.
struct Edge {
  std::uint32_t column;
  double cost;
};

}  // namespace

namespace detail {

struct AssignmentWorkspace {
  // Dense form: the costs row-major, shorter side as rows.
  std::vector<double> costs;
  std::vector<double> columnPrice;       // v
  std::vector<double> rowPrice;          // u (sparse form only; dense keeps it implicit)
  std::vector<double> distance;          // d
  std::vector<std::size_t> columnOfRow;  // x
  std::vector<std::size_t> rowOfColumn;  // y
  std::vector<std::size_t> predecessor;
  std::vector<std::size_t> columnList;
  std::vector<std::size_t> freeRows;
  std::vector<std::size_t> matchCount;
  // Sparse form.
  std::vector<AssignmentCandidate> candidates;
  std::vector<std::size_t> rowStart;
  std::vector<Edge> edges;
  std::vector<std::size_t> componentParent;
  std::vector<std::size_t> rowOrder;
  std::vector<std::size_t> componentStart;
  std::vector<char> scanned;
  std::vector<std::size_t> touched;
  std::vector<std::size_t> scannedColumns;
  std::vector<std::pair<double, std::size_t>> heap;
};

}  // namespace detail

namespace {

using Workspace = detail::AssignmentWorkspace;

// ----------------------------------------------------------------------------------
// Dense form: Jonker-Volgenant on an n x m row-major matrix, n <= m.

struct DenseProblem {
  const double* costs;
  std::size_t rows;
  std::size_t columns;
  const double* row(std::size_t i) const { return costs + i * columns; }
};

// Copies `cost` into the workspace row-major, shorter side as rows, as costs of the
// search, checking every entry. Returns whether every entry is finite. Blocked, so
// that the transposing copy reads and writes whole cache lines.
bool copyDense(const Eigen::MatrixXd& cost, bool transposed, bool maximize, Workspace& ws) {
  const auto rows = static_cast<std::size_t>(cost.rows());
  const auto columns = static_cast<std::size_t>(cost.cols());
  ws.costs.resize(rows * columns);
  bool allFinite = true;
  const double* source = cost.data();  // column-major
  double* target = ws.costs.data();
  if (transposed) {
    // Rows of the problem are the matrix's columns: contiguous already.
    for (std::size_t k = 0; k < rows * columns; ++k) {
      allFinite &= !isForbidden(source[k], maximize);
      target[k] = searchCost(source[k], maximize);
    }
    return allFinite;
  }
  constexpr std::size_t BLOCK = 32;
  for (std::size_t j0 = 0; j0 < columns; j0 += BLOCK) {
    const std::size_t j1 = std::min(columns, j0 + BLOCK);
    for (std::size_t i0 = 0; i0 < rows; i0 += BLOCK) {
      const std::size_t i1 = std::min(rows, i0 + BLOCK);
      for (std::size_t j = j0; j < j1; ++j) {
        for (std::size_t i = i0; i < i1; ++i) {
          const double value = source[j * rows + i];
          allFinite &= !isForbidden(value, maximize);
          target[i * columns + j] = searchCost(value, maximize);
        }
      }
    }
  }
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
    const double* row = p.row(i);
    for (std::size_t j = 0; j < p.columns; ++j) {
      if (row[j] <= v[j]) {
        v[j] = row[j];
        rowOfMin[j] = i;
      }
    }
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

// The least and second least reduced cost of `row` and their columns.
struct TwoBest {
  double first;
  std::size_t firstColumn;
  double second;
  std::size_t secondColumn;
};

TwoBest twoBest(const double* row, const std::vector<double>& v, std::size_t columns) {
  TwoBest best{row[0] - v[0], 0, INF, NONE};
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
      const TwoBest best = twoBest(p.row(i), ws.columnPrice, p.columns);
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
};

std::size_t findRoot(std::vector<std::size_t>& parent, std::size_t node) {
  while (parent[node] != node) {
    parent[node] = parent[parent[node]];
    node = parent[node];
  }
  return node;
}

// The listed pairs as rows of edges (compressed rows), each row with its own column of
// cost `shift` when a limit lets it stay unmatched.
void buildRows(const SparseProblem& p, Workspace& ws) {
  ws.rowStart.assign(p.rows + 1, 0);
  for (const AssignmentCandidate& c : ws.candidates) ++ws.rowStart[c.row + 1];
  if (p.limited) {
    for (std::size_t i = 0; i < p.rows; ++i) ++ws.rowStart[i + 1];
  }
  for (std::size_t i = 0; i < p.rows; ++i) ws.rowStart[i + 1] += ws.rowStart[i];
  ws.edges.resize(ws.rowStart[p.rows]);
  // Fill from each row's start, using `touched` as the next free slot per row.
  ws.touched.assign(ws.rowStart.begin(), ws.rowStart.end() - 1);
  for (const AssignmentCandidate& c : ws.candidates) {
    ws.edges[ws.touched[c.row]++] = Edge{static_cast<std::uint32_t>(c.column), c.cost};
  }
  if (p.limited) {
    for (std::size_t i = 0; i < p.rows; ++i) {
      ws.edges[ws.touched[i]++] = Edge{static_cast<std::uint32_t>(p.columns + i), p.shift};
    }
  }
  ws.touched.clear();
}

// The rows grouped by connected component of the candidate graph (rows and real
// columns joined by listed pairs), each component's rows in increasing order.
void orderByComponent(const SparseProblem& p, Workspace& ws) {
  std::vector<std::size_t>& parent = ws.componentParent;
  parent.resize(p.rows + p.columns);
  for (std::size_t k = 0; k < parent.size(); ++k) parent[k] = k;
  for (const AssignmentCandidate& c : ws.candidates) {
    const std::size_t a = findRoot(parent, c.row);
    const std::size_t b = findRoot(parent, p.rows + c.column);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
  }
  // A counting sort of the rows by their root (the least node of the component).
  std::vector<std::size_t>& start = ws.componentStart;
  start.assign(p.rows + 1, 0);
  for (std::size_t i = 0; i < p.rows; ++i) ++start[findRoot(parent, i) + 1];
  for (std::size_t i = 0; i < p.rows; ++i) start[i + 1] += start[i];
  ws.rowOrder.resize(p.rows);
  for (std::size_t i = 0; i < p.rows; ++i) ws.rowOrder[start[findRoot(parent, i)]++] = i;
}

// The shortest path of one step: when the column of least reduced cost in the row of
// `f` is free, the search would stop at its first column; take it without one. Most
// rows of a gated tracker frame end here. Returns false when the search is needed.
bool takeCheapestIfFree(const SparseProblem& p, Workspace& ws, std::size_t f) {
  double least = INF;
  std::size_t best = NONE;
  for (std::size_t e = ws.rowStart[f]; e < ws.rowStart[f + 1]; ++e) {
    const std::size_t j = ws.edges[e].column;
    const double reduced = (ws.edges[e].cost - p.shift) - ws.rowPrice[f] - ws.columnPrice[j];
    if (reduced < least) {
      least = reduced;
      best = j;
    }
  }
  if (best == NONE || ws.rowOfColumn[best] != NONE) return false;
  ws.rowPrice[f] += least;
  ws.columnOfRow[f] = best;
  ws.rowOfColumn[best] = f;
  return true;
}

// One shortest augmenting path from the free row `f` over its component. Returns
// false when no free column can be reached (only without a limit: with one, the
// row's own column always can).
bool augmentSparseFrom(const SparseProblem& p, Workspace& ws, std::size_t f) {
  if (takeCheapestIfFree(p, ws, f)) return true;
  std::vector<double>& dist = ws.distance;
  std::vector<double>& u = ws.rowPrice;
  std::vector<double>& v = ws.columnPrice;
  auto& heap = ws.heap;
  const auto later = std::greater<std::pair<double, std::size_t>>();
  heap.clear();
  ws.scannedColumns.clear();
  auto relaxRow = [&](std::size_t i, double from) {
    for (std::size_t e = ws.rowStart[i]; e < ws.rowStart[i + 1]; ++e) {
      const std::size_t j = ws.edges[e].column;
      if (ws.scanned[j]) continue;
      const double next = from + (ws.edges[e].cost - p.shift) - u[i] - v[j];
      if (next < dist[j]) {
        if (dist[j] == INF) ws.touched.push_back(j);
        dist[j] = next;
        ws.predecessor[j] = i;
        heap.emplace_back(next, j);
        std::push_heap(heap.begin(), heap.end(), later);
      }
    }
  };
  relaxRow(f, 0.0);
  std::size_t sink = NONE;
  double reach = 0.0;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), later);
    const auto [d, j] = heap.back();
    heap.pop_back();
    if (ws.scanned[j] || d > dist[j]) continue;
    if (ws.rowOfColumn[j] == NONE) {
      sink = j;
      reach = d;
      break;
    }
    ws.scanned[j] = 1;
    ws.scannedColumns.push_back(j);
    relaxRow(ws.rowOfColumn[j], d);
  }
  if (sink != NONE) {
    for (const std::size_t j : ws.scannedColumns) {
      const double step = reach - dist[j];
      u[ws.rowOfColumn[j]] += step;
      v[j] -= step;
    }
    u[f] += reach;
    std::size_t j = sink;
    for (;;) {
      const std::size_t i = ws.predecessor[j];
      ws.rowOfColumn[j] = i;
      std::swap(j, ws.columnOfRow[i]);
      if (i == f) break;
    }
  }
  for (const std::size_t j : ws.touched) {
    dist[j] = INF;
    ws.scanned[j] = 0;
  }
  ws.touched.clear();
  return sink != NONE;
}

void solveSparse(const SparseProblem& p, Workspace& ws) {
  const std::size_t allColumns = p.columns + (p.limited ? p.rows : 0);
  buildRows(p, ws);
  orderByComponent(p, ws);
  ws.rowPrice.assign(p.rows, 0.0);
  ws.columnPrice.assign(allColumns, 0.0);
  ws.distance.assign(allColumns, INF);
  ws.predecessor.resize(allColumns);
  ws.scanned.assign(allColumns, 0);
  ws.columnOfRow.assign(p.rows, NONE);
  ws.rowOfColumn.assign(allColumns, NONE);
  for (const std::size_t f : ws.rowOrder) {
    if (!augmentSparseFrom(p, ws, f)) throwInfeasible();
  }
}

// The cost of the listed pair (row, column) of the search: the least if listed twice.
double listedCost(const Workspace& ws, std::size_t row, std::size_t column) {
  double cost = INF;
  for (std::size_t e = ws.rowStart[row]; e < ws.rowStart[row + 1]; ++e) {
    if (ws.edges[e].column == column) cost = std::min(cost, ws.edges[e].cost);
  }
  return cost;
}

// The result in the caller's terms from the matching of the search, whose rows are the
// caller's columns when `transposed`. `costOf(searchRow, searchColumn)`.
template <class CostOf>
Assignment collect(std::size_t rows, std::size_t columns, bool transposed, const Workspace& ws,
                   CostOf costOf) {
  Assignment result;
  const std::size_t searchRows = transposed ? columns : rows;
  const std::size_t searchColumns = transposed ? rows : columns;
  std::size_t matched = 0;
  for (std::size_t i = 0; i < searchRows; ++i) matched += ws.columnOfRow[i] < searchColumns;
  result.matches.reserve(matched);
  result.unmatchedRows.reserve(rows - matched);
  result.unmatchedColumns.reserve(columns - matched);
  if (!transposed) {
    for (std::size_t i = 0; i < rows; ++i) {
      const std::size_t j = ws.columnOfRow[i];
      if (j < columns) {
        result.matches.push_back(AssignedPair{i, j, costOf(i, j)});
      } else {
        result.unmatchedRows.push_back(i);
      }
    }
    for (std::size_t j = 0; j < columns; ++j) {
      if (ws.rowOfColumn[j] == NONE) result.unmatchedColumns.push_back(j);
    }
  } else {
    for (std::size_t i = 0; i < rows; ++i) {
      const std::size_t j = ws.rowOfColumn[i];
      if (j != NONE) {
        result.matches.push_back(AssignedPair{i, j, costOf(j, i)});
      } else {
        result.unmatchedRows.push_back(i);
      }
    }
    for (std::size_t j = 0; j < columns; ++j) {
      if (ws.columnOfRow[j] >= rows) result.unmatchedColumns.push_back(j);
    }
  }
  return result;
}

// The listed pairs of a sparse problem, checked, in the workspace as costs of the
// search: those that may be matched (finite, and below a finite limit of the search),
// with row and column swapped when `transposed`.
void gatherCandidates(std::size_t rows, std::size_t columns,
                      const std::vector<AssignmentCandidate>& candidates, double limit,
                      bool maximize, bool transposed, Workspace& ws) {
  ws.candidates.clear();
  for (const AssignmentCandidate& c : candidates) {
    if (c.row >= rows || c.column >= columns) {
      throw std::invalid_argument("assignment: the pair (" + std::to_string(c.row) + ", " +
                                  std::to_string(c.column) + ") lies outside " +
                                  std::to_string(rows) + " rows x " + std::to_string(columns) +
                                  " columns");
    }
    if (isForbidden(c.cost, maximize)) continue;
    const double cost = searchCost(c.cost, maximize);
    if (cost >= limit) continue;
    ws.candidates.push_back(transposed ? AssignmentCandidate{c.column, c.row, cost}
                                       : AssignmentCandidate{c.row, c.column, cost});
  }
}

void checkSize(std::size_t rows, std::size_t columns) {
  // Columns are stored in 32 bits, and the limited search adds a column per row.
  if (rows + columns >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::invalid_argument("assignment: too many rows and columns");
  }
}

// The shift of a limited search: the limit, capped where a larger one no longer
// changes the answer. Matching one pair more gains (limit - its cost) in the objective,
// and the totals of two matchings differ by at most 2 n max|cost| (n = min(rows,
// columns) pairs each): any limit beyond that ranks matchings alike, by the number of
// pairs, then the least total. Capped, costs far below a huge limit are not rounded
// away in (cost - limit) (costs near 1 with a limit of 1e100 would all look equal).
double limitedShift(std::size_t rows, std::size_t columns, double costLimit, const Workspace& ws) {
  double largest = 0.0;
  for (const AssignmentCandidate& c : ws.candidates) largest = std::max(largest, std::abs(c.cost));
  const double pairs = static_cast<double>(std::min(rows, columns));
  return std::min(costLimit, 2.0 * (pairs + 1.0) * largest + 1.0);
}

Assignment solveCandidates(std::size_t rows, std::size_t columns, double limit, bool maximize,
                           Workspace& ws) {
  // The candidates in `ws` are checked, below the limit, and by rows of the search.
  const bool limited = limit != INF;
  const bool transposed = !limited && rows > columns;
  SparseProblem p{transposed ? columns : rows, transposed ? rows : columns, transposed,
                  limited ? limitedShift(rows, columns, limit, ws) : 0.0, limited};
  solveSparse(p, ws);
  return collect(rows, columns, transposed, ws, [&](std::size_t i, std::size_t j) {
    return searchCost(listedCost(ws, i, j), maximize);
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
    for (std::size_t j = 0; j < columns; ++j) {
      for (std::size_t i = 0; i < rows; ++i) {
        const double c = cost(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j));
        if (isForbidden(c, maximize)) continue;
        const double searched = searchCost(c, maximize);
        if (searched < limit) ws.candidates.push_back({i, j, searched});
      }
    }
    return solveCandidates(rows, columns, limit, maximize, ws);
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
    return searchCost(ws.costs[i * p.columns + j], maximize);
  });
}

Assignment AssignmentSolver::solve(std::size_t rows, std::size_t columns,
                                   const std::vector<AssignmentCandidate>& candidates,
                                   double costLimit, AssignmentGoal goal) {
  const bool maximize = goal == AssignmentGoal::Maximize;
  const double limit = searchLimit(costLimit, maximize);
  checkSize(rows, columns);
  Workspace& ws = *workspace_;
  const bool transposed = limit == INF && rows > columns;
  gatherCandidates(rows, columns, candidates, limit, maximize, transposed, ws);
  return solveCandidates(rows, columns, limit, maximize, ws);
}

Assignment AssignmentSolver::solveGreedy(std::size_t rows, std::size_t columns,
                                         const std::vector<AssignmentCandidate>& candidates,
                                         double costLimit, AssignmentGoal goal) {
  const bool maximize = goal == AssignmentGoal::Maximize;
  const double limit = searchLimit(costLimit, maximize);
  checkSize(rows, columns);
  Workspace& ws = *workspace_;
  gatherCandidates(rows, columns, candidates, limit, maximize, false, ws);
  std::sort(ws.candidates.begin(), ws.candidates.end(),
            [](const AssignmentCandidate& a, const AssignmentCandidate& b) {
              if (a.cost != b.cost) return a.cost < b.cost;
              return a.row != b.row ? a.row < b.row : a.column < b.column;
            });
  ws.columnOfRow.assign(rows, NONE);
  ws.rowOfColumn.assign(columns, NONE);
  std::vector<double>& matchedCost = ws.distance;
  matchedCost.resize(rows);
  for (const AssignmentCandidate& c : ws.candidates) {
    if (ws.columnOfRow[c.row] == NONE && ws.rowOfColumn[c.column] == NONE) {
      ws.columnOfRow[c.row] = c.column;
      ws.rowOfColumn[c.column] = c.row;
      matchedCost[c.row] = c.cost;
    }
  }
  return collect(rows, columns, false, ws, [&](std::size_t i, std::size_t /*j*/) {
    return searchCost(matchedCost[i], maximize);
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
