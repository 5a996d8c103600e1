/// @file
/// The linear assignment problem for trackers: which rows (tracks) to pair with which
/// columns (detections) so that the sum of the pairs' costs is least.
///
/// Method: shortest augmenting paths with dual prices (successive shortest paths), as
/// described by R. Jonker and A. Volgenant, "A shortest augmenting path algorithm for
/// dense and sparse linear assignment problems", Computing 38 (1987) 325-340. A square
/// matrix whose entries are all finite is first reduced by their column reduction,
/// reduction transfer and two passes of augmenting row reduction, which assign most
/// rows cheaply; every row left is then assigned by one shortest augmenting path, a
/// Dijkstra search over the columns on reduced costs. A rectangular matrix is solved
/// on its shorter side by the augmenting paths alone, as D. F. Crouse, "On implementing
/// 2D rectangular assignment algorithms", IEEE Trans. Aerospace and Electronic Systems
/// 52 (2016) 1679-1696 describes. The sparse form runs the same augmenting paths with a
/// binary heap over the listed pairs only: a path from a row reaches only the rows and
/// columns of its connected component of the candidate graph, and a row whose cheapest
/// column is still free (in a tracker's frame, most rows: their components hold one to
/// three tracks) takes it without a search. Candidates listed by row are solved as they
/// are read, in one pass; others are placed by row first. Either way the rows are taken
/// in increasing order, and within a row the candidates in their order: between equally
/// cheap columns, the earlier listed wins.
///
/// Vectorised: the least and second least reduced cost of a row in the row reduction,
/// the dense form's inner minimum over the columns, runs over eight columns at a time
/// with AVX-512 and four with AVX2 (chosen at run time); each lane keeps its own two
/// least, merged at the end by (cost, column), so the answer is the sequential one, bit
/// for bit, on any processor.
///
/// What is exact: the assignment is optimal for the costs as given, up to the rounding
/// of the price updates (each a difference of sums of costs, rounded in double): beside
/// a cost of far larger magnitude than the others, even one in a pair that no full
/// matching can use, differences among the small costs may be lost. The reported costs
/// are the given entries, unchanged.
///
/// The cost limit. Without a limit (`NO_COST_LIMIT`), min(rows, columns) pairs are
/// matched, the least total among all such matchings; if no such matching exists among
/// the allowed pairs, the solver throws. With a limit L, the solver minimises the sum
/// of the matched costs plus L / 2 for every row and every column left unmatched: a
/// pair is matched only where that pays, that is where it costs less than L, given the
/// rest of the assignment. This is not the same as solving without the limit and then
/// dropping the pairs that cost L or more: the full solution may pair a row with a poor
/// column to free a good one for another row, and once the poor pair is dropped, both
/// rows are worse off than under the limit. A pair that costs exactly L is worth as
/// much matched as not; either may be reported. A limit far above the costs (beyond
/// 2 (min(rows, columns) + 1) times the largest magnitude among them) ranks the
/// matchings as any such limit does, by the number of pairs and then by the least
/// total, and is worked with at that bound, so that the costs are not rounded away
/// beside it.
///
/// Entries of +infinity are pairs that must not be matched (in the sparse form, every
/// pair not listed). NaN or -infinity costs, finite costs or a finite limit of magnitude
/// beyond 1e150 (the prices, sums of many costs, could overflow), a NaN or negative
/// limit, and in the sparse form row or column indices out of range throw
/// `std::invalid_argument`.
///
/// Maximising (`AssignmentGoal::Maximize`): the entries are values and the largest
/// total is sought, as if every entry were negated (exactly: the same matches as the
/// negated problem, with the reported entries as given). -infinity then forbids a pair
/// and +infinity is refused; the limit L is the value a pair must exceed to be worth
/// matching (the sum of the matched values plus L / 2 for every row and column left
/// unmatched is maximised), any finite L, or `NO_COST_LIMIT` for none.
///
/// Ties: where several assignments reach the best total, which one is reported is not
/// specified beyond the orders above, except that in the dense form a row takes a free
/// column rather than another row's among equally good ones, so that a matrix whose
/// entries are all equal gives row i the column i.
///
/// Memory: an `AssignmentSolver` keeps its working memory from one call to the next, so
/// that a tracker calling it every frame with problems of about the same size allocates
/// only the result. The free functions build a solver per call.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <vector>

#include <Eigen/Core>

#include <zelvane/core/index_pair.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace core {

/// No cost limit: every row of the shorter side must be matched.
constexpr double NO_COST_LIMIT = std::numeric_limits<double>::infinity();

/// Which total the solver seeks: the least sum of costs, or the largest sum of values.
enum class AssignmentGoal {
  Minimize,  ///< entries are costs; +infinity forbids a pair
  Maximize,  ///< entries are values (scores, overlaps); -infinity forbids a pair
};

/// One candidate pair of the sparse form: row, column and, as `value`, the cost of
/// pairing them (or the value, when maximising).
using AssignmentCandidate = IndexPair;

/// One matched pair of a solution: row, column, its entry as given (`value`: the cost,
/// or the value when maximising) and `candidate`, where the pair came from: its index
/// in the candidate list of the sparse forms (of a pair listed twice, the one whose
/// entry was used, the first listed among equals), or in the dense form the entry's
/// index in the matrix's column-major storage, row + column x rows.
struct AssignedPair : IndexPair {
  std::size_t candidate;
};

/// A solution: the matched pairs ordered by row, the rows and the columns left
/// unmatched, each in increasing order.
struct Assignment {
  std::vector<AssignedPair> matches;
  std::vector<std::size_t> unmatchedRows;
  std::vector<std::size_t> unmatchedColumns;
};

namespace detail {
struct AssignmentWorkspace;
}  // namespace detail

/// An assignment solver that keeps its working memory between calls. Not safe to share
/// between threads while one of them is solving; one solver per thread.
class ZELVANE_CORE_API AssignmentSolver {
 public:
  AssignmentSolver();
  ~AssignmentSolver();
  AssignmentSolver(AssignmentSolver&&) noexcept;
  AssignmentSolver& operator=(AssignmentSolver&&) noexcept;
  AssignmentSolver(const AssignmentSolver&) = delete;
  AssignmentSolver& operator=(const AssignmentSolver&) = delete;

  /// The optimal assignment of the rows of `cost` to its columns (rows x columns, any
  /// shape, +infinity forbidding a pair) under `costLimit`, towards `goal`, as the file
  /// comment states. Throws `std::invalid_argument` for a NaN or -infinity entry (NaN
  /// or +infinity when maximising), a NaN or negative limit (NaN or -infinity when
  /// maximising), or, without a limit, when no pair of min(rows, columns) matches
  /// exists among the allowed pairs. Cost: O(n^2 m) in the worst case for n =
  /// min(rows, columns), m = max(rows, columns), far less on typical costs; with a
  /// finite limit, that of the sparse form on the entries that pass the limit.
  [[nodiscard]] Assignment solve(const Eigen::MatrixXd& cost, double costLimit = NO_COST_LIMIT,
                                 AssignmentGoal goal = AssignmentGoal::Minimize);

  /// `solve` of the `rows` x `columns` cost matrix stored row by row at `cost` (the
  /// cost of row i and column j at `cost[i * columns + j]`, as C and NumPy store it),
  /// read in place as the transpose in column order and solved as such, so no entry is
  /// reordered: the matches come ordered by row, each `candidate` the entry's index in
  /// that row-major storage. Among assignments of equal total it may choose another
  /// than `solve` of the same matrix in column order. Same failures and cost as `solve`.
  [[nodiscard]] Assignment solveRowMajor(const double* cost, std::size_t rows, std::size_t columns,
                                         double costLimit = NO_COST_LIMIT,
                                         AssignmentGoal goal = AssignmentGoal::Minimize);

  /// The optimal assignment of `rows` rows to `columns` columns where only the listed
  /// pairs may be matched (a pair listed twice costs the lesser of its costs, or is
  /// worth the greater when maximising; +infinity costs, -infinity values are ignored),
  /// under `costLimit`, towards `goal`. Throws `std::invalid_argument` for an index out
  /// of range, a cost or limit refused as for the dense form, or, without a limit, when
  /// the shorter side cannot be matched in full. Cost: linear in rows + columns + pairs
  /// for the set-up; each augmenting path visits only its connected component, at
  /// O(pairs log columns) of that component in the worst case.
  [[nodiscard]] Assignment solve(std::size_t rows, std::size_t columns,
                                 const std::vector<AssignmentCandidate>& candidates,
                                 double costLimit = NO_COST_LIMIT,
                                 AssignmentGoal goal = AssignmentGoal::Minimize);

  /// The greedy assignment, NOT optimal in general: the cheapest listed pair first (ties
  /// to the lower row, then the lower column), then the cheapest among the rows and
  /// columns still free, and so on; pairs that cost `costLimit` or more are never
  /// matched. Maximising, the pair of largest value first, and pairs worth `costLimit`
  /// or less are never matched: what trackers call "largest score first". Same
  /// failures as `solve`, except that it never throws for want of a full matching.
  /// Cost: O(pairs log pairs).
  [[nodiscard]] Assignment solveGreedy(std::size_t rows, std::size_t columns,
                                       const std::vector<AssignmentCandidate>& candidates,
                                       double costLimit = NO_COST_LIMIT,
                                       AssignmentGoal goal = AssignmentGoal::Minimize);

 private:
  std::unique_ptr<detail::AssignmentWorkspace> workspace_;
};

/// `AssignmentSolver().solve(cost, costLimit, goal)`: see there.
[[nodiscard]] ZELVANE_CORE_API Assignment
solveAssignment(const Eigen::MatrixXd& cost, double costLimit = NO_COST_LIMIT,
                AssignmentGoal goal = AssignmentGoal::Minimize);

/// `AssignmentSolver().solve(rows, columns, candidates, costLimit, goal)`: see there.
[[nodiscard]] ZELVANE_CORE_API Assignment solveAssignment(
    std::size_t rows, std::size_t columns, const std::vector<AssignmentCandidate>& candidates,
    double costLimit = NO_COST_LIMIT, AssignmentGoal goal = AssignmentGoal::Minimize);

/// `AssignmentSolver().solveGreedy(rows, columns, candidates, costLimit, goal)`: see
/// there.
[[nodiscard]] ZELVANE_CORE_API Assignment solveGreedyAssignment(
    std::size_t rows, std::size_t columns, const std::vector<AssignmentCandidate>& candidates,
    double costLimit = NO_COST_LIMIT, AssignmentGoal goal = AssignmentGoal::Minimize);

}  // namespace core
}  // namespace zelvane
