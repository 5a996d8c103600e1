#include "core/footprint_pairs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/footprint.h"
#include "numeric_policy.h"

namespace zelvane {
namespace core {
namespace {

// Axis-aligned bounds of a footprint: exact for the float corners. Kept in single
// precision so that a grid entry of a large set stays small.
struct Bounds {
  float lowX;
  float lowY;
  float highX;
  float highY;
};

Bounds boundsOf(const detail::Corners& corners) {
  Bounds bounds{corners[0].x(), corners[0].y(), corners[0].x(), corners[0].y()};
  for (std::size_t k = 1; k < 4; ++k) {
    bounds.lowX = std::min(bounds.lowX, corners[k].x());
    bounds.lowY = std::min(bounds.lowY, corners[k].y());
    bounds.highX = std::max(bounds.highX, corners[k].x());
    bounds.highY = std::max(bounds.highY, corners[k].y());
  }
  return bounds;
}

// The largest float not above `value` / the smallest not below it (infinite beyond
// the float range).
float floatBelow(double value) {
  constexpr double FLOAT_MAX = std::numeric_limits<float>::max();
  if (value < -FLOAT_MAX) return -std::numeric_limits<float>::infinity();
  const float f = static_cast<float>(std::min(value, FLOAT_MAX));
  return static_cast<double>(f) > value ? std::nextafter(f, -std::numeric_limits<float>::infinity())
                                        : f;
}

float floatAbove(double value) { return -floatBelow(-value); }

// Closed intervals meet on both axes.
bool meet(const Bounds& p, const Bounds& q) {
  return p.lowX <= q.highX && q.lowX <= p.highX && p.lowY <= q.highY && q.lowY <= p.highY;
}

// Open intervals meet on both axes: exactly the pairs that `boundingBoxesApart` does
// not reject, so these and only these can have an overlap above 0.
bool overlapWithArea(const Bounds& p, const Bounds& q) {
  return p.lowX < q.highX && q.lowX < p.highX && p.lowY < q.highY && q.lowY < p.highY;
}

// The corners of every state, computed once, and which states have a footprint at all.
struct Footprints {
  explicit Footprints(const std::vector<State>& states)
      : corners(states.size()), present(states.size(), 0) {
    for (std::size_t i = 0; i < states.size(); ++i) {
      if (!states[i].position) continue;
      corners[i] = detail::cornersOf(states[i]);
      present[i] = detail::allFinite(corners[i]) ? 1 : 0;
    }
  }
  std::vector<detail::Corners> corners;
  std::vector<char> present;
};

// A uniform grid over bounding boxes. Each box is listed in every cell it covers; a
// query visits the cells its own box covers and reports a listed box once, from the
// cell that holds the lower-left corner of the two boxes' common part (that cell is
// covered by both, whatever the rounding, since the cell of a coordinate never
// decreases as the coordinate grows).
class BoxGrid {
 public:
  /// A footprint of one list: its corners and its index there. Small, since a large
  /// set is copied and reordered; its bounds are recomputed where they are needed.
  struct Entry {
    detail::Corners corners;
    std::uint32_t index;
  };

  /// Takes the footprints of one list and lists each under `boxOf(entry)` (its
  /// bounding box, maybe widened). The order of the entries is not kept.
  template <class BoundsOf>
  BoxGrid(std::vector<Entry> entries, BoundsOf boxOf) : entries_(std::move(entries)) {
    if (entries_.empty()) return;
    chooseCells(entries_, boxOf);
    start_.assign(static_cast<std::size_t>(columns_) * rows_ + 1, 0);
    // Row by row, the cell lists below fill a small part of the grid at a time, and
    // the corners a query reads lie near those it has just read.
    sortByRow(entries_, boxOf);
    for (const Entry& e : entries_) {
      forCells(boxOf(e), [&](std::size_t cell) { ++start_[cell + 1]; });
    }
    for (std::size_t c = 1; c < start_.size(); ++c) start_[c] += start_[c - 1];
    listed_.resize(start_.back());
    std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
    for (std::size_t slot = 0; slot < entries_.size(); ++slot) {
      const Bounds bounds = boxOf(entries_[slot]);
      forCells(bounds, [&](std::size_t cell) {
        listed_[fill[cell]++] = Listed{bounds, static_cast<std::uint32_t>(slot)};
      });
    }
  }

  bool empty() const { return listed_.empty(); }

  /// Reorders `entries` by the grid row of the bottom of `boxOf(entry)`, keeping their
  /// order within a row (a counting sort, linear in the entries and the rows). By row
  /// rather than by cell: the writes then go to a few places at a time, which costs
  /// far less than scattering a large set cell by cell, and a row's part of the grid
  /// is small enough to stay in cache while its queries run.
  template <class BoundsOf>
  void sortByRow(std::vector<Entry>& entries, BoundsOf boxOf) const {
    std::vector<std::size_t> count(static_cast<std::size_t>(rows_) + 1, 0);
    const auto rowOf = [&](const Entry& e) { return static_cast<std::size_t>(row(boxOf(e).lowY)); };
    for (const Entry& e : entries) ++count[rowOf(e) + 1];
    for (std::size_t r = 1; r < count.size(); ++r) count[r] += count[r - 1];
    std::vector<Entry> sorted(entries.size());
    for (const Entry& e : entries) sorted[count[rowOf(e)]++] = e;
    entries.swap(sorted);
  }

  /// Calls `visit(bounds, entry)` once for every listed entry whose bounds meet
  /// `query` (closed intervals), in no particular order.
  template <class Visit>
  void forEachMeeting(const Bounds& query, Visit visit) const {
    if (listed_.empty()) return;
    const int x0 = column(query.lowX), x1 = column(query.highX);
    const int y0 = row(query.lowY), y1 = row(query.highY);
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        const std::size_t cell = static_cast<std::size_t>(y) * columns_ + x;
        for (std::size_t k = start_[cell]; k < start_[cell + 1]; ++k) {
          const Listed& listed = listed_[k];
          if (!meet(query, listed.bounds)) continue;
          if (column(std::max(query.lowX, listed.bounds.lowX)) != x ||
              row(std::max(query.lowY, listed.bounds.lowY)) != y) {
            continue;
          }
          visit(listed.bounds, entries_[listed.slot]);
        }
      }
    }
  }

 private:
  // About one cell per box, each cell about as wide as a typical box (the median of
  // the larger sides), never more than about five cells per box however the boxes are
  // spread.
  template <class BoundsOf>
  void chooseCells(const std::vector<Entry>& entries, BoundsOf boxOf) {
    const double count = static_cast<double>(entries.size());
    std::vector<double> sides;
    sides.reserve(entries.size());
    Bounds region = boxOf(entries.front());
    for (const Entry& e : entries) {
      const Bounds b = boxOf(e);
      sides.push_back(
          std::max(static_cast<double>(b.highX) - b.lowX, static_cast<double>(b.highY) - b.lowY));
      region.lowX = std::min(region.lowX, b.lowX);
      region.lowY = std::min(region.lowY, b.lowY);
      region.highX = std::max(region.highX, b.highX);
      region.highY = std::max(region.highY, b.highY);
    }
    const auto middle = sides.begin() + static_cast<std::ptrdiff_t>(sides.size() / 2);
    std::nth_element(sides.begin(), middle, sides.end());
    const double width = static_cast<double>(region.highX) - region.lowX;
    const double height = static_cast<double>(region.highY) - region.lowY;
    const double cell = std::max({*middle, std::sqrt(width * height / count),
                                  width / (2.0 * count + 2.0), height / (2.0 * count + 2.0)});
    originX_ = region.lowX;
    originY_ = region.lowY;
    // A region without extent, or one that a widening made infinite, is one cell.
    if (!(cell > 0.0) || !std::isfinite(width) || !std::isfinite(height)) return;
    columns_ = static_cast<int>(width / cell) + 1;
    rows_ = static_cast<int>(height / cell) + 1;
    scale_ = 1.0 / cell;
  }

  static int cellIndex(double value, double origin, double scale, int count) {
    const double c = (value - origin) * scale;
    if (!(c >= 1.0)) return 0;  // also NaN, from an infinite bound of a widened box
    if (c >= count) return count - 1;
    return static_cast<int>(c);
  }
  int column(double x) const { return cellIndex(x, originX_, scale_, columns_); }
  int row(double y) const { return cellIndex(y, originY_, scale_, rows_); }

  template <class Each>
  void forCells(const Bounds& bounds, Each each) const {
    const int x0 = column(bounds.lowX), x1 = column(bounds.highX);
    const int y0 = row(bounds.lowY), y1 = row(bounds.highY);
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) each(static_cast<std::size_t>(y) * columns_ + x);
    }
  }

  double originX_ = 0.0;
  double originY_ = 0.0;
  double scale_ = 0.0;
  int columns_ = 1;
  int rows_ = 1;
  // A footprint as listed in one cell: a copy of its bounds, which decide most
  // visits, and where the rest of it lies.
  struct Listed {
    Bounds bounds;
    std::uint32_t slot;
  };

  std::vector<Entry> entries_;
  std::vector<std::size_t> start_;
  std::vector<Listed> listed_;
};

// The footprints of the states that have one.
std::vector<BoxGrid::Entry> entriesOf(const std::vector<State>& states) {
  std::vector<BoxGrid::Entry> entries;
  entries.reserve(states.size());
  for (std::size_t i = 0; i < states.size(); ++i) {
    if (!states[i].position) continue;
    const detail::Corners corners = detail::cornersOf(states[i]);
    if (detail::allFinite(corners)) entries.push_back({corners, static_cast<std::uint32_t>(i)});
  }
  return entries;
}

Bounds boxOfEntry(const BoxGrid::Entry& e) { return boundsOf(e.corners); }

// Visits, for every footprint of `a`, the listed footprints of `b` that meet its box,
// and collects the pairs that `evaluate(query, queryBounds, listedBounds, listed,
// value)` accepts (it returns whether to keep the pair and sets its value), ordered
// by i, then j.
template <class Evaluate>
std::vector<FootprintPair> collectPairs(const std::vector<State>& a, const BoxGrid& grid,
                                        Evaluate evaluate) {
  if (grid.empty()) return {};
  std::vector<BoxGrid::Entry> queries = entriesOf(a);
  // Neighbouring queries read neighbouring parts of the grid: taken row by row, the
  // grid of a large set is read from cache rather than from memory.
  grid.sortByRow(queries, boxOfEntry);
  // The pairs of each query, as found: compact, since they are reordered by i below.
  struct Found {
    std::uint32_t second;
    double value;
  };
  std::vector<Found> found;
  found.reserve(2 * queries.size());
  std::vector<std::pair<std::size_t, std::uint32_t>> rows(a.size(), {0, 0});
  for (const BoxGrid::Entry& query : queries) {
    const std::size_t begin = found.size();
    const Bounds queryBounds = boundsOf(query.corners);
    grid.forEachMeeting(queryBounds, [&](const Bounds& listedBounds, const BoxGrid::Entry& listed) {
      double v = 0.0;
      if (evaluate(query, queryBounds, listedBounds, listed, v)) {
        found.push_back(Found{listed.index, v});
      }
    });
    std::sort(found.begin() + static_cast<std::ptrdiff_t>(begin), found.end(),
              [](const Found& p, const Found& q) { return p.second < q.second; });
    rows[query.index] = {begin, static_cast<std::uint32_t>(found.size() - begin)};
  }
  std::vector<FootprintPair> pairs;
  pairs.reserve(found.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (std::size_t k = rows[i].first; k < rows[i].first + rows[i].second; ++k) {
      pairs.push_back(FootprintPair{i, found[k].second, found[k].value});
    }
  }
  return pairs;
}

// Footprints are kept with 32-bit indices.
void checkSizes(const std::vector<State>& a, const std::vector<State>& b, const char* operation) {
  constexpr std::size_t MOST_STATES = std::numeric_limits<std::uint32_t>::max();
  if (a.size() > MOST_STATES || b.size() > MOST_STATES) {
    throw std::length_error(std::string(operation) + ": more than 2^32 - 1 states");
  }
}

}  // namespace

std::vector<FootprintPair> overlapPairs(const std::vector<State>& a, const std::vector<State>& b,
                                        double threshold) {
  checkSizes(a, b, "overlapPairs");
  if (!(threshold >= 0.0)) {
    throw std::invalid_argument("overlapPairs: the threshold must be 0 or above, not " +
                                std::to_string(threshold));
  }
  const BoxGrid grid(entriesOf(b), boxOfEntry);
  return collectPairs(a, grid,
                      [&](const BoxGrid::Entry& query, const Bounds& queryBounds,
                          const Bounds& listedBounds, const BoxGrid::Entry& listed, double& value) {
                        if (!overlapWithArea(queryBounds, listedBounds)) return false;
                        value = detail::intersectionOverUnion(query.corners, listed.corners);
                        return value > threshold;
                      });
}

std::vector<FootprintPair> distancePairs(const std::vector<State>& a, const std::vector<State>& b,
                                         double gate) {
  checkSizes(a, b, "distancePairs");
  if (std::isnan(gate)) throw std::invalid_argument("distancePairs: the gate is NaN");
  if (gate < 0.0) return {};
  // Each footprint of `b` is listed under its box widened by the gate. The corner
  // distance is never below the gap between the bounding boxes, but its rounding (a
  // point projected onto a segment, in the footprints' own coordinates) may bring it a
  // few units of the last place below; the widening allows far more.
  const auto widened = [gate](const BoxGrid::Entry& e) {
    Bounds bounds = boundsOf(e.corners);
    const double far = std::max({std::abs(bounds.lowX), std::abs(bounds.lowY),
                                 std::abs(bounds.highX), std::abs(bounds.highY)});
    const double widening = gate + numeric::GATE_WIDENING * (gate + far);
    bounds.lowX = floatBelow(bounds.lowX - widening);
    bounds.lowY = floatBelow(bounds.lowY - widening);
    bounds.highX = floatAbove(bounds.highX + widening);
    bounds.highY = floatAbove(bounds.highY + widening);
    return bounds;
  };
  const BoxGrid grid(entriesOf(b), widened);
  return collectPairs(a, grid,
                      [&](const BoxGrid::Entry& query, const Bounds&, const Bounds&,
                          const BoxGrid::Entry& listed, double& value) {
                        value = detail::cornerDistance(query.corners, listed.corners);
                        return value <= gate;
                      });
}

Eigen::MatrixXd overlapMatrix(const std::vector<State>& a, const std::vector<State>& b) {
  const Footprints fa(a);
  const Footprints fb(b);
  Eigen::MatrixXd matrix(static_cast<Eigen::Index>(a.size()), static_cast<Eigen::Index>(b.size()));
  for (std::size_t j = 0; j < b.size(); ++j) {
    for (std::size_t i = 0; i < a.size(); ++i) {
      matrix(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) =
          fa.present[i] && fb.present[j] ? detail::overlapOfCorners(fa.corners[i], fb.corners[j])
                                         : std::numeric_limits<double>::quiet_NaN();
    }
  }
  return matrix;
}

}  // namespace core
}  // namespace zelvane
