// The sparse assignment solver on arbitrary candidate lists: it never crashes, refuses
// exactly the lists with an index out of range or a NaN or -infinity cost, and
// otherwise agrees with the dense solver on the matrix of the same pairs (a pair
// listed twice costs the lesser, a pair not listed is forbidden): both find a full
// matching or both report that none exists, and their totals agree. The greedy form
// returns a well-formed assignment of the same pairs. Maximising the negated costs
// (above the negated limit) gives every form's answer again, bit for bit; each match
// names the listed pair it came from; and the list with its rows in another order (each
// row's pairs in theirs) gives the same answer.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <vector>

#include "core/assignment.h"
#include "fuzz_input.h"

namespace {

using zelvane::core::Assignment;
using zelvane::core::AssignmentCandidate;
using zelvane::core::AssignmentGoal;
using zelvane::core::AssignmentSolver;
using zelvane::fuzz::Input;

constexpr double kInf = std::numeric_limits<double>::infinity();

// A cost: mostly small values with ties, sometimes infinities, NaN or any double.
double costOf(Input& in) {
  const std::uint8_t b = in.next();
  switch (b) {
    case 255: return kInf;
    case 254: return -kInf;
    case 253: return std::numeric_limits<double>::quiet_NaN();
    case 252: return in.raw<double>();
    default: return b < 128 ? b % 8 : (b - 170) / 7.0;
  }
}

double objective(const Assignment& a, double limit) {
  double total = 0.0;
  for (const auto& m : a.matches) total += m.value;
  if (limit != kInf) {
    total += 0.5 * limit * static_cast<double>(a.unmatchedRows.size() + a.unmatchedColumns.size());
  }
  return total;
}

void check(bool condition) {
  if (!condition) std::abort();
}

// Each row and column once, the reported costs those of the matrix.
void checkWellFormed(const Assignment& a, const Eigen::MatrixXd& cost) {
  std::vector<int> rows(static_cast<size_t>(cost.rows()), 0);
  std::vector<int> cols(static_cast<size_t>(cost.cols()), 0);
  for (const auto& m : a.matches) {
    check(m.row < rows.size() && m.column < cols.size());
    check(m.value == cost(static_cast<Eigen::Index>(m.row), static_cast<Eigen::Index>(m.column)));
    ++rows[m.row];
    ++cols[m.column];
  }
  for (const size_t r : a.unmatchedRows) ++rows.at(r);
  for (const size_t c : a.unmatchedColumns) ++cols.at(c);
  check(std::all_of(rows.begin(), rows.end(), [](int n) { return n == 1; }));
  check(std::all_of(cols.begin(), cols.end(), [](int n) { return n == 1; }));
}

// The same matches, unmatched rows and columns, with the reported entries negated.
bool sameNegated(const Assignment& a, const Assignment& b) {
  if (a.matches.size() != b.matches.size() || a.unmatchedRows != b.unmatchedRows ||
      a.unmatchedColumns != b.unmatchedColumns) {
    return false;
  }
  for (size_t k = 0; k < a.matches.size(); ++k) {
    const auto& p = a.matches[k];
    const auto& q = b.matches[k];
    if (p.row != q.row || p.column != q.column || p.value != -q.value) return false;
  }
  return true;
}

// `solve()` maximising the negated problem agrees with `expected` (nothing: refused).
template <class Solve>
void checkMaximizing(Solve solve, const Assignment* expected) {
  try {
    const Assignment got = solve();
    check(expected != nullptr && sameNegated(got, *expected));
  } catch (const std::invalid_argument&) {
    check(expected == nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  Input in(data, size);
  const size_t rows = in.next() % 17;
  const size_t cols = in.next() % 17;
  const std::uint8_t limitByte = in.next();
  const double limit = limitByte < 64    ? kInf
                       : limitByte == 64 ? in.raw<double>()
                                         : (limitByte - 64) / 16.0;
  std::vector<AssignmentCandidate> candidates;
  bool outOfRange = false;
  bool badCost = false;
  Eigen::MatrixXd dense = Eigen::MatrixXd::Constant(static_cast<Eigen::Index>(rows),
                                                    static_cast<Eigen::Index>(cols), kInf);
  while (!in.empty() && candidates.size() < 400) {
    const size_t row = in.next() % (rows + 1);
    const size_t col = in.next() % (cols + 1);
    const double cost = costOf(in);
    candidates.push_back({row, col, cost});
    if (row == rows || col == cols) {
      outOfRange = true;
    } else if (std::isnan(cost) || cost == -kInf || (cost != kInf && std::abs(cost) > 1e150)) {
      badCost = true;
    } else {
      double& entry = dense(static_cast<Eigen::Index>(row), static_cast<Eigen::Index>(col));
      entry = std::min(entry, cost);
    }
  }

  AssignmentSolver solver;
  bool sparseRefused = false;
  Assignment sparse;
  try {
    sparse = solver.solve(rows, cols, candidates, limit);
  } catch (const std::invalid_argument&) {
    sparseRefused = true;
  }
  bool greedyRefused = false;
  Assignment greedy;
  try {
    greedy = solver.solveGreedy(rows, cols, candidates, limit);
    checkWellFormed(greedy, dense);
  } catch (const std::invalid_argument&) {
    greedyRefused = true;
  }
  // A limit that minimising accepts is a floor that maximising accepts once negated.
  const bool limitAccepted = limit >= 0.0 && (limit == kInf || limit <= 1e150);
  std::vector<AssignmentCandidate> values = candidates;
  for (AssignmentCandidate& c : values) c.value = -c.value;
  const double floor = limit == kInf ? limit : -limit;
  constexpr AssignmentGoal MAXIMIZE = AssignmentGoal::Maximize;
  if (limitAccepted) {
    checkMaximizing([&] { return solver.solve(rows, cols, values, floor, MAXIMIZE); },
                    sparseRefused ? nullptr : &sparse);
    checkMaximizing([&] { return solver.solveGreedy(rows, cols, values, floor, MAXIMIZE); },
                    greedyRefused ? nullptr : &greedy);
  }
  if (outOfRange || badCost) {
    check(sparseRefused && greedyRefused);
    return 0;
  }
  bool denseRefused = false;
  Assignment full;
  try {
    full = solver.solve(dense, limit);
  } catch (const std::invalid_argument&) {
    denseRefused = true;
  }
  check(sparseRefused == denseRefused);
  if (!sparseRefused) {
    for (const auto& m : sparse.matches) {
      check(m.candidate < candidates.size() && candidates[m.candidate].row == m.row &&
            candidates[m.candidate].column == m.column && candidates[m.candidate].value == m.value);
    }
    // The pairs ordered by row of the search (by column, without a limit, when the
    // columns are fewer), each row's in their order: solved as they are read, where the
    // list as given is mostly placed by rows first.
    const bool byColumns = limit == kInf && rows > cols;
    std::vector<AssignmentCandidate> reordered = candidates;
    std::stable_sort(reordered.begin(), reordered.end(), [byColumns](const auto& a, const auto& b) {
      return byColumns ? a.column < b.column : a.row < b.row;
    });
    const Assignment again = solver.solve(rows, cols, reordered, limit);
    check(again.unmatchedRows == sparse.unmatchedRows &&
          again.unmatchedColumns == sparse.unmatchedColumns &&
          again.matches.size() == sparse.matches.size());
    for (size_t k = 0; k < again.matches.size(); ++k) {
      const auto& p = again.matches[k];
      const auto& q = sparse.matches[k];
      check(p.row == q.row && p.column == q.column &&
            std::signbit(p.value) == std::signbit(q.value) && p.value == q.value);
    }
  }
  if (limitAccepted) {
    const Eigen::MatrixXd negated = -dense;
    checkMaximizing([&] { return solver.solve(negated, floor, MAXIMIZE); },
                    denseRefused ? nullptr : &full);
  }
  if (sparseRefused) return 0;
  checkWellFormed(sparse, dense);
  checkWellFormed(full, dense);
  const double a = objective(sparse, limit);
  const double b = objective(full, limit);
  // The solver is exact up to the rounding of its prices, sums of the costs: beside a
  // cost of 1e61, even an unusable one (above the limit, or the dearer of a pair listed
  // twice), costs near 1 are lost in them.
  double largest = 0.0;
  for (const AssignmentCandidate& c : candidates) {
    if (c.value != kInf) largest = std::max(largest, std::abs(c.value));
  }
  const double scale = std::max(1.0 + std::max(std::abs(a), std::abs(b)),
                                static_cast<double>(rows + cols) * largest);
  check(std::abs(a - b) <= 1e-9 * scale);
  return 0;
}
