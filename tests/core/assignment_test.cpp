#include "core/assignment.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/least_two.h"
#include "support/allocation_probe.h"

namespace {

using zelvane::core::Assignment;
using zelvane::core::AssignmentCandidate;
using zelvane::core::AssignmentGoal;
using zelvane::core::AssignmentSolver;
using zelvane::core::NO_COST_LIMIT;
using zelvane::core::solveAssignment;
using zelvane::core::solveGreedyAssignment;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kRelative = 1e-9;

// The objective the solver minimises: the matched costs plus half the limit for every
// row and column left unmatched.
double objective(const Assignment& a, double limit) {
  double total = 0.0;
  for (const auto& m : a.matches) total += m.value;
  if (limit != kInf) {
    total += 0.5 * limit * static_cast<double>(a.unmatchedRows.size() + a.unmatchedColumns.size());
  }
  return total;
}

// Checks that `a` is a well-formed assignment of `cost`: rows in order, each row and
// column once, the reported costs the entries, no forbidden pair, the unmatched lists
// complete, and without a limit min(rows, columns) pairs.
void expectWellFormed(const Assignment& a, const Eigen::MatrixXd& cost, double limit) {
  const auto rows = static_cast<std::size_t>(cost.rows());
  const auto cols = static_cast<std::size_t>(cost.cols());
  std::vector<int> rowSeen(rows, 0);
  std::vector<int> colSeen(cols, 0);
  for (std::size_t k = 0; k < a.matches.size(); ++k) {
    const auto& m = a.matches[k];
    ASSERT_LT(m.row, rows);
    ASSERT_LT(m.column, cols);
    if (k > 0) {
      EXPECT_LT(a.matches[k - 1].row, m.row);
    }
    EXPECT_EQ(m.value, cost(static_cast<Eigen::Index>(m.row), static_cast<Eigen::Index>(m.column)));
    EXPECT_NE(m.value, kInf);
    ++rowSeen[m.row];
    ++colSeen[m.column];
  }
  for (const std::size_t r : a.unmatchedRows) ++rowSeen.at(r);
  for (const std::size_t c : a.unmatchedColumns) ++colSeen.at(c);
  EXPECT_TRUE(std::is_sorted(a.unmatchedRows.begin(), a.unmatchedRows.end()));
  EXPECT_TRUE(std::is_sorted(a.unmatchedColumns.begin(), a.unmatchedColumns.end()));
  EXPECT_EQ(std::count(rowSeen.begin(), rowSeen.end(), 1), static_cast<long>(rows));
  EXPECT_EQ(std::count(colSeen.begin(), colSeen.end(), 1), static_cast<long>(cols));
  if (limit == kInf) {
    EXPECT_EQ(a.matches.size(), std::min(rows, cols));
  }
}

// The least objective over every assignment (every row matched to a free allowed
// column or left unmatched), or nothing when none is allowed without a limit.
std::optional<double> bruteForce(const Eigen::MatrixXd& cost, double limit) {
  const auto rows = static_cast<int>(cost.rows());
  const auto cols = static_cast<int>(cost.cols());
  const auto full = static_cast<std::size_t>(std::min(rows, cols));
  std::vector<bool> used(static_cast<std::size_t>(cols), false);
  std::optional<double> best;
  std::function<void(int, std::size_t, double)> visit = [&](int row, std::size_t matched,
                                                            double sum) {
    if (row == rows) {
      if (limit == kInf && matched != full) return;
      const double total =
          limit == kInf
              ? sum
              : sum +
                    0.5 * limit * static_cast<double>(rows + cols - 2 * static_cast<int>(matched));
      if (!best || total < *best) best = total;
      return;
    }
    visit(row + 1, matched, sum);
    for (int col = 0; col < cols; ++col) {
      if (used[static_cast<std::size_t>(col)] || cost(row, col) == kInf) continue;
      used[static_cast<std::size_t>(col)] = true;
      visit(row + 1, matched + 1, sum + cost(row, col));
      used[static_cast<std::size_t>(col)] = false;
    }
  };
  visit(0, 0, 0.0);
  return best;
}

std::vector<AssignmentCandidate> candidatesOf(const Eigen::MatrixXd& cost) {
  std::vector<AssignmentCandidate> candidates;
  for (Eigen::Index i = 0; i < cost.rows(); ++i) {
    for (Eigen::Index j = 0; j < cost.cols(); ++j) {
      if (cost(i, j) != kInf) {
        candidates.push_back(
            {static_cast<std::size_t>(i), static_cast<std::size_t>(j), cost(i, j)});
      }
    }
  }
  return candidates;
}

// Random costs of one of three kinds: uniform reals, small integers (many ties), or
// small integers with about a third of the pairs forbidden.
Eigen::MatrixXd randomCosts(std::mt19937& rng, int rows, int cols, int kind) {
  std::uniform_real_distribution<double> real(-5.0, 100.0);
  std::uniform_int_distribution<int> small(0, 4);
  std::uniform_int_distribution<int> third(0, 2);
  Eigen::MatrixXd cost(rows, cols);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      cost(i, j) = kind == 0 ? real(rng) : small(rng);
      if (kind == 2 && third(rng) == 0) cost(i, j) = kInf;
    }
  }
  return cost;
}

// The optimum of `cost` by the dense and the sparse form, both checked for form;
// nothing when the solver reports that no full matching exists.
std::optional<double> solveBothWays(AssignmentSolver& solver, const Eigen::MatrixXd& cost,
                                    double limit) {
  std::optional<double> dense;
  try {
    const Assignment a = solver.solve(cost, limit);
    expectWellFormed(a, cost, limit);
    dense = objective(a, limit);
  } catch (const std::invalid_argument&) {
  }
  std::optional<double> sparse;
  try {
    const Assignment a =
        solver.solve(static_cast<std::size_t>(cost.rows()), static_cast<std::size_t>(cost.cols()),
                     candidatesOf(cost), limit);
    expectWellFormed(a, cost, limit);
    sparse = objective(a, limit);
  } catch (const std::invalid_argument&) {
  }
  std::optional<double> rowMajor;
  try {
    const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> stored = cost;
    const Assignment a = solver.solveRowMajor(stored.data(), static_cast<std::size_t>(cost.rows()),
                                              static_cast<std::size_t>(cost.cols()), limit);
    expectWellFormed(a, cost, limit);
    for (const auto& m : a.matches) {
      EXPECT_EQ(m.candidate, m.row * static_cast<std::size_t>(cost.cols()) + m.column);
    }
    rowMajor = objective(a, limit);
  } catch (const std::invalid_argument&) {
  }
  EXPECT_EQ(dense.has_value(), sparse.has_value());
  EXPECT_EQ(dense.has_value(), rowMajor.has_value());
  for (const std::optional<double>& other : {sparse, rowMajor}) {
    if (dense && other) {
      EXPECT_NEAR(*dense, *other, kRelative * (1.0 + std::abs(*dense)));
    }
  }
  return dense;
}

TEST(Assignment, MatchesBruteForceOnEverySmallShape) {
  std::mt19937 rng(20);
  AssignmentSolver solver;
  const double limits[] = {NO_COST_LIMIT, 0.0, 2.0, 3.0, 60.0};
  for (int rows = 0; rows <= 7; ++rows) {
    for (int cols = 0; cols <= 7; ++cols) {
      for (int kind = 0; kind < 3; ++kind) {
        for (const double limit : limits) {
          const Eigen::MatrixXd cost = randomCosts(rng, rows, cols, kind);
          const std::optional<double> expected = bruteForce(cost, limit);
          const std::optional<double> got = solveBothWays(solver, cost, limit);
          SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(cols) + " kind " +
                       std::to_string(kind) + " limit " + std::to_string(limit));
          ASSERT_EQ(got.has_value(), expected.has_value());
          if (got) {
            EXPECT_NEAR(*got, *expected, kRelative * (1.0 + std::abs(*expected)));
          }
        }
      }
    }
  }
}

// A limit far above the costs ranks matchings as no limit does (the most pairs, then
// the least total): costs near 1 are not rounded away beside a limit of 1e100.
TEST(Assignment, AHugeLimitLosesNoCostBesideIt) {
  std::mt19937 rng(21);
  AssignmentSolver solver;
  for (const double limit : {1e20, 1e100, 1e150}) {
    for (int rows = 1; rows <= 6; ++rows) {
      for (int cols = 1; cols <= 6; ++cols) {
        const Eigen::MatrixXd cost = randomCosts(rng, rows, cols, rows % 2);
        const double expected = *bruteForce(cost, kInf);
        const auto r = static_cast<std::size_t>(rows);
        const auto c = static_cast<std::size_t>(cols);
        for (const Assignment& a :
             {solver.solve(cost, limit), solver.solve(r, c, candidatesOf(cost), limit)}) {
          expectWellFormed(a, cost, limit);
          EXPECT_EQ(a.matches.size(), std::min(r, c));
          EXPECT_NEAR(objective(a, kInf), expected, kRelative * (1.0 + std::abs(expected)));
        }
      }
    }
  }
}

// An independent reference: the classic O(n^3) Hungarian method with row and column
// potentials on a square matrix (1-based, row 0 and column 0 as the search's start).
void hungarianSquare(const std::vector<std::vector<double>>& a, std::vector<int>& rowOf) {
  const int n = static_cast<int>(a.size());
  std::vector<double> u(n + 1, 0.0), v(n + 1, 0.0);
  std::vector<int> p(n + 1, 0), way(n + 1, 0);
  for (int i = 1; i <= n; ++i) {
    p[0] = i;
    int j0 = 0;
    std::vector<double> minv(n + 1, kInf);
    std::vector<char> used(n + 1, 0);
    do {
      used[j0] = 1;
      const int i0 = p[j0];
      double delta = kInf;
      int j1 = 0;
      for (int j = 1; j <= n; ++j) {
        if (used[j]) continue;
        const double cur = a[i0 - 1][j - 1] - u[i0] - v[j];
        if (cur < minv[j]) {
          minv[j] = cur;
          way[j] = j0;
        }
        if (minv[j] < delta) {
          delta = minv[j];
          j1 = j;
        }
      }
      for (int j = 0; j <= n; ++j) {
        if (used[j]) {
          u[p[j]] += delta;
          v[j] -= delta;
        } else {
          minv[j] -= delta;
        }
      }
      j0 = j1;
    } while (p[j0] != 0);
    do {
      const int j1 = way[j0];
      p[j0] = p[j1];
      j0 = j1;
    } while (j0 != 0);
  }
  rowOf.assign(n, -1);
  for (int j = 1; j <= n; ++j) rowOf[j - 1] = p[j] - 1;
}

// The optimum by the reference: padded to a square of zeros; with a limit L every pair
// costs min(c - L, 0) (matching at 0 is leaving both unmatched) and the total gains
// (rows + columns) L / 2; without one, forbidden pairs cost far more than any
// assignment and using one means that none exists.
std::optional<double> reference(const Eigen::MatrixXd& cost, double limit) {
  const auto rows = static_cast<int>(cost.rows());
  const auto cols = static_cast<int>(cost.cols());
  const int n = std::max(rows, cols);
  constexpr double FORBIDDEN = 1e7;  // beyond any total here, small for rounding
  std::vector<std::vector<double>> a(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      const double c = cost(i, j);
      a[i][j] = limit != kInf ? (c == kInf ? 0.0 : std::min(c - limit, 0.0))
                              : (c == kInf ? FORBIDDEN : c);
    }
  }
  std::vector<int> rowOf;
  hungarianSquare(a, rowOf);
  double total = limit != kInf ? 0.5 * limit * (rows + cols) : 0.0;
  for (int j = 0; j < cols; ++j) {
    const int i = rowOf[j];
    if (i >= rows) continue;
    const double c = cost(i, j);
    if (limit == kInf) {
      if (c == kInf) return std::nullopt;
      total += c;
    } else if (c < limit) {
      total += c - limit;
    }
  }
  return total;
}

TEST(Assignment, MatchesReferenceOnTenThousandRandomProblems) {
  std::mt19937 rng(2020);
  std::uniform_int_distribution<int> size(1, 60);
  std::uniform_int_distribution<int> kind(0, 2);
  std::uniform_real_distribution<double> limit(0.0, 80.0);
  AssignmentSolver solver;
  for (int problem = 0; problem < 10000; ++problem) {
    // Mostly small problems, some up to 60 x 60.
    const int rows = problem % 4 == 0 ? size(rng) : 1 + size(rng) % 12;
    const int cols = problem % 4 == 0 ? size(rng) : 1 + size(rng) % 12;
    const Eigen::MatrixXd cost = randomCosts(rng, rows, cols, kind(rng));
    const double l = problem % 2 == 0 ? NO_COST_LIMIT : limit(rng);
    const std::optional<double> expected = reference(cost, l);
    const std::optional<double> got = solveBothWays(solver, cost, l);
    ASSERT_EQ(got.has_value(), expected.has_value()) << "problem " << problem;
    if (got) {
      ASSERT_NEAR(*got, *expected, kRelative * (1.0 + std::abs(*expected)))
          << "problem " << problem << ": " << rows << "x" << cols;
    }
  }
}

TEST(Assignment, SolvingWithTheLimitDiffersFromDroppingPairsAfterSolving) {
  // Without a limit row 0 takes column 1 (5) so that row 1 gets column 0 (1); dropping
  // the pair above the limit 4 leaves row 0 and column 1 unmatched: 1 + 4 = 5. With the
  // limit, row 0 takes column 0 alone: 0.5 + 4 = 4.5.
  Eigen::MatrixXd cost(2, 2);
  cost << 0.5, 5.0, 1.0, 100.0;
  const Assignment full = solveAssignment(cost);
  ASSERT_EQ(full.matches.size(), 2u);
  EXPECT_EQ(full.matches[0].column, 1u);
  EXPECT_EQ(full.matches[1].column, 0u);
  const Assignment limited = solveAssignment(cost, 4.0);
  ASSERT_EQ(limited.matches.size(), 1u);
  EXPECT_EQ(limited.matches[0].row, 0u);
  EXPECT_EQ(limited.matches[0].column, 0u);
  EXPECT_EQ(limited.unmatchedRows, std::vector<std::size_t>{1});
  EXPECT_EQ(limited.unmatchedColumns, std::vector<std::size_t>{1});
  EXPECT_DOUBLE_EQ(objective(limited, 4.0), 4.5);
}

TEST(Assignment, GreedyTakesTheCheapestFirstAndIsNotOptimal) {
  Eigen::MatrixXd cost(2, 2);
  cost << 1.0, 2.0, 2.0, 100.0;
  const std::vector<AssignmentCandidate> candidates = candidatesOf(cost);
  const Assignment greedy = solveGreedyAssignment(2, 2, candidates);
  ASSERT_EQ(greedy.matches.size(), 2u);
  EXPECT_EQ(objective(greedy, kInf), 101.0);
  EXPECT_EQ(objective(solveAssignment(cost), kInf), 4.0);
  // Under a limit of 10 the pair of 100 is never taken.
  const Assignment limited = solveGreedyAssignment(2, 2, candidates, 10.0);
  ASSERT_EQ(limited.matches.size(), 1u);
  EXPECT_EQ(limited.matches[0].column, 0u);
  EXPECT_EQ(limited.unmatchedRows, std::vector<std::size_t>{1});
  EXPECT_EQ(limited.unmatchedColumns, std::vector<std::size_t>{1});
}

TEST(Assignment, RefusesBadInput) {
  Eigen::MatrixXd good(2, 2);
  good << 1, 2, 3, 4;
  const auto spoilt = [&](Eigen::Index row, Eigen::Index column, double value) {
    Eigen::MatrixXd cost = good;
    cost(row, column) = value;
    return cost;
  };
  Eigen::MatrixXd infeasible = good;
  infeasible.col(0).setConstant(kInf);
  constexpr AssignmentGoal MIN = AssignmentGoal::Minimize;
  constexpr AssignmentGoal MAX = AssignmentGoal::Maximize;
  const struct {
    const char* what;
    Eigen::MatrixXd cost;
    double limit;
    AssignmentGoal goal;
  } dense[] = {
      {"NaN entry", spoilt(1, 0, kNaN), NO_COST_LIMIT, MIN},
      {"NaN entry above the limit", spoilt(1, 0, kNaN), 0.5, MIN},
      {"-inf entry", spoilt(0, 1, -kInf), NO_COST_LIMIT, MIN},
      {"entry beyond 1e150", spoilt(0, 0, 1e200), NO_COST_LIMIT, MIN},
      {"NaN limit", good, kNaN, MIN},
      {"negative limit", good, -1.0, MIN},
      {"finite limit beyond 1e150", good, 1e200, MIN},
      {"no full matching", infeasible, NO_COST_LIMIT, MIN},
      {"NaN entry, maximising", spoilt(1, 0, kNaN), NO_COST_LIMIT, MAX},
      {"+inf entry, maximising", spoilt(0, 1, kInf), 0.5, MAX},
      {"NaN limit, maximising", good, kNaN, MAX},
      {"-inf limit, maximising", good, -kInf, MAX},
      {"limit below -1e150, maximising", good, -1e200, MAX},
      {"no full matching, maximising", -infeasible, NO_COST_LIMIT, MAX},
  };
  for (const auto& c : dense) {
    EXPECT_THROW(solveAssignment(c.cost, c.limit, c.goal), std::invalid_argument) << c.what;
  }
  // The messages name what SciPy's name: invalid numeric entries, an infeasible matrix.
  const auto message = [](const auto& call) {
    try {
      call();
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_NE(message([&] {
              static_cast<void>(solveAssignment(spoilt(0, 1, -kInf)));
            }).find("contains invalid numeric entries"),
            std::string::npos);
  EXPECT_NE(message([&] {
              static_cast<void>(solveAssignment(infeasible));
            }).find("cost matrix is infeasible"),
            std::string::npos);
  // The sparse forms on 2 x 3, the optimal and the greedy alike.
  const struct {
    const char* what;
    std::vector<AssignmentCandidate> candidates;
    double limit;
  } sparse[] = {
      {"row out of range", {{2, 0, 1.0}}, NO_COST_LIMIT},
      {"column out of range", {{0, 3, 1.0}}, NO_COST_LIMIT},
      {"NaN cost", {{0, 0, kNaN}}, 1.0},
      {"-inf cost", {{0, 0, -kInf}}, NO_COST_LIMIT},
      {"negative limit", {{0, 0, 1.0}}, -2.0},
  };
  for (const auto& c : sparse) {
    EXPECT_THROW(solveAssignment(2, 3, c.candidates, c.limit), std::invalid_argument) << c.what;
    EXPECT_THROW(solveGreedyAssignment(2, 3, c.candidates, c.limit), std::invalid_argument)
        << c.what;
  }
  // Without a full matching only the optimal form throws; with a limit, a row or
  // column that cannot be matched stays unmatched instead.
  const std::vector<AssignmentCandidate> oneColumn = {{0, 0, 1.0}, {1, 0, 1.0}};
  EXPECT_THROW(solveAssignment(2, 3, oneColumn), std::invalid_argument);
  EXPECT_EQ(solveGreedyAssignment(2, 3, oneColumn).unmatchedRows, std::vector<std::size_t>{1});
  EXPECT_EQ(solveAssignment(infeasible, 10.0).unmatchedColumns, std::vector<std::size_t>{0});
}

// Maximising V runs the search of minimising -V: the same matches, bit for bit, with
// the entries of V reported and a floor L of the values for a limit -L of the costs.
TEST(Assignment, MaximizingIsMinimizingTheNegatedEntries) {
  std::mt19937 rng(22);
  AssignmentSolver solver;
  const auto same = [](const Assignment& max, const Assignment& min) {
    if (max.matches.size() != min.matches.size() || max.unmatchedRows != min.unmatchedRows ||
        max.unmatchedColumns != min.unmatchedColumns) {
      return false;
    }
    for (std::size_t k = 0; k < max.matches.size(); ++k) {
      const auto& a = max.matches[k];
      const auto& b = min.matches[k];
      if (a.row != b.row || a.column != b.column || a.value != -b.value) return false;
    }
    return true;
  };
  for (int problem = 0; problem < 600; ++problem) {
    const int rows = problem % 9;
    const int cols = (problem / 9) % 9;
    const Eigen::MatrixXd cost = randomCosts(rng, rows, cols, problem % 3);
    const Eigen::MatrixXd value = -cost;
    const auto r = static_cast<std::size_t>(rows);
    const auto c = static_cast<std::size_t>(cols);
    const std::vector<AssignmentCandidate> costs = candidatesOf(cost);
    std::vector<AssignmentCandidate> values = costs;
    for (AssignmentCandidate& v : values) v.value = -v.value;
    for (const double limit : {NO_COST_LIMIT, 0.0, 2.5, 40.0}) {
      const double floor = limit == NO_COST_LIMIT ? NO_COST_LIMIT : -limit;
      SCOPED_TRACE("problem " + std::to_string(problem) + " limit " + std::to_string(limit));
      const auto maximized = [&](const auto& solve) -> std::optional<Assignment> {
        try {
          return solve();
        } catch (const std::invalid_argument&) {
          return std::nullopt;
        }
      };
      const auto denseMax =
          maximized([&] { return solver.solve(value, floor, AssignmentGoal::Maximize); });
      const auto denseMin = maximized([&] { return solver.solve(cost, limit); });
      ASSERT_EQ(denseMax.has_value(), denseMin.has_value());
      if (denseMax) {
        EXPECT_TRUE(same(*denseMax, *denseMin));
      }
      const auto sparseMax =
          maximized([&] { return solver.solve(r, c, values, floor, AssignmentGoal::Maximize); });
      const auto sparseMin = maximized([&] { return solver.solve(r, c, costs, limit); });
      ASSERT_EQ(sparseMax.has_value(), sparseMin.has_value());
      if (sparseMax) {
        EXPECT_TRUE(same(*sparseMax, *sparseMin));
      }
      EXPECT_TRUE(same(solver.solveGreedy(r, c, values, floor, AssignmentGoal::Maximize),
                       solver.solveGreedy(r, c, costs, limit)));
    }
  }
}

// Where every assignment is as good as every other, row i takes column i, whatever the
// shape and the value, and whichever the goal.
TEST(Assignment, EqualEntriesGiveRowIColumnI) {
  AssignmentSolver solver;
  for (int rows = 1; rows <= 12; ++rows) {
    for (int cols = 1; cols <= 12; ++cols) {
      for (const double entry : {1.0, 0.0, -3.5, 1e100}) {
        for (const AssignmentGoal goal : {AssignmentGoal::Minimize, AssignmentGoal::Maximize}) {
          const Assignment a =
              solver.solve(Eigen::MatrixXd::Constant(rows, cols, entry), NO_COST_LIMIT, goal);
          ASSERT_EQ(a.matches.size(), static_cast<std::size_t>(std::min(rows, cols)));
          for (const auto& m : a.matches) {
            EXPECT_EQ(m.row, m.column) << rows << "x" << cols << " of " << entry;
          }
        }
      }
    }
  }
}

// Candidates listed twice now and then, with another cost, in row order.
std::vector<AssignmentCandidate> candidatesWithRepeats(std::mt19937& rng,
                                                       const Eigen::MatrixXd& cost) {
  std::vector<AssignmentCandidate> candidates;
  std::uniform_int_distribution<int> coin(0, 3);
  for (const AssignmentCandidate& c : candidatesOf(cost)) {
    candidates.push_back(c);
    if (coin(rng) == 0) candidates.push_back({c.row, c.column, c.value + coin(rng) - 1});
  }
  return candidates;
}

// A match names the pair it came from: in the sparse forms its place in the list (of a
// pair listed twice, the one whose entry counts, the first of equals, also where the
// search cannot tell them apart), in the dense form the entry's place in column-major
// storage.
TEST(Assignment, MatchesNameTheirCandidate) {
  std::mt19937 rng(23);
  AssignmentSolver solver;
  for (int problem = 0; problem < 400; ++problem) {
    const int rows = 1 + problem % 7;
    const int cols = 1 + (problem / 7) % 7;
    Eigen::MatrixXd cost = randomCosts(rng, rows, cols, problem % 3);
    // Beside a cost this large, the prices round the twins' difference away.
    if (problem % 5 == 0) cost(rows - 1, 0) = -9e61;
    const std::vector<AssignmentCandidate> candidates = candidatesWithRepeats(rng, cost);
    const auto r = static_cast<std::size_t>(rows);
    const auto c = static_cast<std::size_t>(cols);
    const double limit = problem % 2 == 0 ? NO_COST_LIMIT : 2.5;
    const AssignmentGoal goal =
        problem % 4 < 2 ? AssignmentGoal::Minimize : AssignmentGoal::Maximize;
    const double given =
        goal == AssignmentGoal::Minimize || limit == NO_COST_LIMIT ? limit : -limit;
    std::vector<AssignmentCandidate> listed = candidates;
    if (goal == AssignmentGoal::Maximize) {
      for (AssignmentCandidate& e : listed) e.value = -e.value;
    }
    const auto better = [goal](double a, double b) {
      return goal == AssignmentGoal::Minimize ? a < b : a > b;
    };
    for (const bool greedy : {false, true}) {
      Assignment a;
      try {
        a = greedy ? solver.solveGreedy(r, c, listed, given, goal)
                   : solver.solve(r, c, listed, given, goal);
      } catch (const std::invalid_argument&) {
        continue;  // no full matching
      }
      for (const auto& m : a.matches) {
        ASSERT_LT(m.candidate, listed.size());
        const AssignmentCandidate& named = listed[m.candidate];
        EXPECT_EQ(named.row, m.row);
        EXPECT_EQ(named.column, m.column);
        EXPECT_EQ(named.value, m.value);
        for (std::size_t k = 0; k < listed.size(); ++k) {
          if (listed[k].row != m.row || listed[k].column != m.column) continue;
          EXPECT_FALSE(better(listed[k].value, m.value)) << "problem " << problem;
          EXPECT_FALSE(k < m.candidate && listed[k].value == m.value) << "problem " << problem;
        }
      }
    }
    if (limit == NO_COST_LIMIT && problem % 3 != 2) {
      for (const auto& m : solver.solve(cost).matches) {
        EXPECT_EQ(m.candidate, m.row + m.column * r);
      }
    }
  }
}

// Pairs that come ordered by row are solved as they are read, others are first placed
// by row: the same search, so the same answer, whatever the order of the rows in the
// list (within a row, the order of the pairs decides between equally cheap ones).
TEST(Assignment, PairsInAnyRowOrderGiveTheSameAssignment) {
  std::mt19937 rng(24);
  AssignmentSolver solver;
  const auto answer = [&](std::size_t rows, std::size_t cols,
                          const std::vector<AssignmentCandidate>& list, double limit,
                          AssignmentGoal goal) {
    std::string text;
    try {
      const Assignment a = solver.solve(rows, cols, list, limit, goal);
      for (const auto& m : a.matches) {
        text += std::to_string(m.row) + "," + std::to_string(m.column) + "," +
                std::to_string(std::signbit(m.value)) + std::to_string(m.value) + " ";
      }
      for (const std::size_t i : a.unmatchedRows) text += "r" + std::to_string(i) + " ";
      for (const std::size_t j : a.unmatchedColumns) text += "c" + std::to_string(j) + " ";
    } catch (const std::invalid_argument& e) {
      text = e.what();
    }
    return text;
  };
  for (int problem = 0; problem < 1500; ++problem) {
    const int rows = 1 + problem % 9;
    const int cols = 1 + (problem / 9) % 9;
    Eigen::MatrixXd cost = randomCosts(rng, rows, cols, problem % 3);
    if (problem % 5 == 0) cost(0, 0) = 1e120;  // huge beside small
    if (problem % 7 == 0) cost(rows - 1, cols - 1) = -0.0;
    std::vector<AssignmentCandidate> byRow = candidatesWithRepeats(rng, cost);
    std::vector<AssignmentCandidate> byColumn = byRow;
    std::stable_sort(byColumn.begin(), byColumn.end(),
                     [](const auto& a, const auto& b) { return a.column < b.column; });
    const auto r = static_cast<std::size_t>(rows);
    const auto c = static_cast<std::size_t>(cols);
    for (const double limit : {NO_COST_LIMIT, 0.5, 3.0, 1e140}) {
      // The rows of the search: the columns when, without a limit, they are fewer.
      const bool byColumns = limit == NO_COST_LIMIT && r > c;
      std::vector<std::size_t> rank(std::max(r, c));
      std::iota(rank.begin(), rank.end(), 0);
      std::shuffle(rank.begin(), rank.end(), rng);
      std::vector<AssignmentCandidate> rowsShuffled = byRow;
      std::stable_sort(rowsShuffled.begin(), rowsShuffled.end(), [&](const auto& a, const auto& b) {
        return byColumns ? rank[a.column] < rank[b.column] : rank[a.row] < rank[b.row];
      });
      const std::string expected = answer(r, c, byRow, limit, AssignmentGoal::Minimize);
      SCOPED_TRACE("problem " + std::to_string(problem) + " limit " + std::to_string(limit));
      EXPECT_EQ(answer(r, c, byColumn, limit, AssignmentGoal::Minimize), expected);
      EXPECT_EQ(answer(r, c, rowsShuffled, limit, AssignmentGoal::Minimize), expected);
    }
  }
}

// The row reduction's two least reduced costs, by lanes, are the plain scan's, bit for
// bit: ties, signed zeros, huge values, and row lengths around the lane widths.
TEST(Assignment, RowMinimaByLanesAreTheScannedOnes) {
  using zelvane::core::detail::LeastTwo;
  std::mt19937 rng(25);
  std::uniform_real_distribution<double> real(-1e3, 1e3);
  std::uniform_int_distribution<int> small(-1, 2);
  const auto same = [](const LeastTwo& a, const LeastTwo& b) {
    return std::memcmp(&a.first, &b.first, sizeof a.first) == 0 && a.firstColumn == b.firstColumn &&
           std::memcmp(&a.second, &b.second, sizeof a.second) == 0 &&
           a.secondColumn == b.secondColumn;
  };
  for (int trial = 0; trial < 3000; ++trial) {
    const std::size_t columns = 1 + static_cast<std::size_t>(trial % 37);
    std::vector<double> row(columns), v(columns);
    for (std::size_t j = 0; j < columns; ++j) {
      switch (trial % 5) {
        case 0:
          row[j] = real(rng);
          v[j] = real(rng);
          break;
        case 1:
          row[j] = small(rng);
          v[j] = small(rng);
          break;  // many ties
        case 2:
          row[j] = 1.0;
          v[j] = 0.0;
          break;  // all equal
        case 3:
          row[j] = small(rng) == 0 ? -0.0 : 0.0;
          v[j] = 0.0;
          break;  // signed zeros
        default:
          row[j] = small(rng) * 1e150;
          v[j] = small(rng) * 1e149;
          break;
      }
    }
    const LeastTwo scanned = zelvane::core::detail::leastTwoScanned(row.data(), v.data(), columns);
    EXPECT_TRUE(
        same(zelvane::core::detail::leastTwoByLanes<4>(row.data(), v.data(), columns), scanned))
        << "trial " << trial;
    EXPECT_TRUE(
        same(zelvane::core::detail::leastTwoByLanes<8>(row.data(), v.data(), columns), scanned))
        << "trial " << trial;
  }
}

TEST(Assignment, KeptSolverAllocatesOnlyTheResult) {
  std::mt19937 rng(7);
  const Eigen::MatrixXd dense = randomCosts(rng, 40, 40, 0);
  const Eigen::MatrixXd wide = randomCosts(rng, 20, 40, 2);
  const Eigen::MatrixXd wideValues = -wide;
  const std::vector<AssignmentCandidate> sparse = candidatesOf(randomCosts(rng, 40, 30, 2));
  AssignmentSolver solver;
  const auto everyForm = [&] {
    static_cast<void>(solver.solve(dense));
    static_cast<void>(solver.solve(wide, 50.0));
    static_cast<void>(solver.solve(40, 30, sparse, 3.0));
    static_cast<void>(solver.solveGreedy(40, 30, sparse, 3.0));
    static_cast<void>(solver.solve(wideValues, -50.0, AssignmentGoal::Maximize));
  };
  everyForm();
  zelvane::testing::AllocationCounter counter;
  everyForm();
  // The result's matches, unmatched rows and unmatched columns, for each of five calls.
  EXPECT_LE(counter.count(), 5 * 3);
}

}  // namespace
