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

// The smallest bounds holding both.
Bounds join(const Bounds& p, const Bounds& q) {
  return Bounds{std::min(p.lowX, q.lowX), std::min(p.lowY, q.lowY), std::max(p.highX, q.highX),
                std::max(p.highY, q.highY)};
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

// `bounds` grown by `widening` on every side, rounded outwards to floats.
Bounds widen(const Bounds& bounds, double widening) {
  return Bounds{floatBelow(bounds.lowX - widening), floatBelow(bounds.lowY - widening),
                floatAbove(bounds.highX + widening), floatAbove(bounds.highY + widening)};
}

// Closed intervals meet on both axes. Without short-circuits, as the test below: a
// query runs them over a few boxes each, with outcomes that no branch predictor
// could learn in a large set.
bool meet(const Bounds& p, const Bounds& q) {
  return (p.lowX <= q.highX) & (q.lowX <= p.highX) & (p.lowY <= q.highY) & (q.lowY <= p.highY);
}

// Open intervals meet on both axes: exactly the pairs that `boundingBoxesApart` does
// not reject, so these and only these can have an overlap above 0.
bool overlapWithArea(const Bounds& p, const Bounds& q) {
  return (p.lowX < q.highX) & (q.lowX < p.highX) & (p.lowY < q.highY) & (q.lowY < p.highY);
}

// Sets `corners` and returns true for a state that has a footprint.
bool footprintOf(const State& state, detail::Corners& corners) {
  if (!state.position) return false;
  corners = detail::cornersOf(state);
  return detail::allFinite(corners);
}

// The corners of every state, computed once, and which states have a footprint at all.
struct Footprints {
  explicit Footprints(const std::vector<State>& states)
      : corners(states.size()), present(states.size(), 0) {
    for (std::size_t i = 0; i < states.size(); ++i) {
      present[i] = footprintOf(states[i], corners[i]) ? 1 : 0;
    }
  }
  std::vector<detail::Corners> corners;
  std::vector<char> present;
};

// Working memory of the sparse forms, kept by each thread from one call to the next.
// A tracker asks every frame about sets of much the same size; buffers allocated
// afresh for a large set cost a page fault per page on every call, more than the
// search itself.
struct Scratch {
  std::vector<detail::Corners> corners;  // of the listed states, by their index
  std::vector<Eigen::Vector3f> centres;  // likewise, for the centre distances
  std::vector<std::uint32_t> home;       // the cell of each, or a mark
  std::vector<std::uint32_t> start;
  std::vector<Bounds> boxes;
  std::vector<std::uint32_t> index;
  std::vector<std::size_t> largeStart;
  std::vector<std::uint32_t> largeListed;
  std::vector<std::uint32_t> slots;
  std::vector<FootprintPair> pairs;
  std::vector<double> sides;
  std::vector<detail::VerticalExtent> verticalA;  // of the states of each list, by index
  std::vector<detail::VerticalExtent> verticalB;

  // Memory held for the next call is bounded: after a call that needed more, all of
  // it is given back.
  void releaseIfLarge() {
    constexpr std::size_t KEPT_BYTES = std::size_t{4} << 20;
    const std::size_t bytes = bytesOf(corners) + bytesOf(centres) + bytesOf(home) + bytesOf(start) +
                              bytesOf(boxes) + bytesOf(index) + bytesOf(largeStart) +
                              bytesOf(largeListed) + bytesOf(slots) + bytesOf(pairs) +
                              bytesOf(sides) + bytesOf(verticalA) + bytesOf(verticalB);
    if (bytes > KEPT_BYTES) *this = Scratch();
  }

  template <class T>
  static std::size_t bytesOf(const std::vector<T>& buffer) {
    return buffer.capacity() * sizeof(T);
  }
};

Scratch& threadScratch() {
  thread_local Scratch scratch;
  return scratch;
}

// `buffer` grown to at least `count` elements, its storage returned. It never shrinks,
// and what it holds is not cleared: a call reads only what it has written.
template <class T>
T* room(std::vector<T>& buffer, std::size_t count) {
  if (buffer.size() < count) buffer.resize(count);
  return buffer.data();
}

// A uniform grid over the boxes of one list. The boxes are stored by cell, row after
// row, so that a query reads one contiguous run per grid row; the shapes (the corners
// of a footprint, or a box centre) stay where they were computed, by index in the
// list. A box no wider and no taller than a cell (most of them: the cell is at least
// the median box) is listed once, in the cell of its lower-left corner, and a query
// looks that much further left and down. A larger box is listed in every cell it
// covers, and a query reports it once, from the cell that holds the lower-left corner
// of the two boxes' common part (that cell is covered by both, whatever the rounding,
// since the cell of a coordinate never decreases as the coordinate grows).
template <class Shape>
class BoxGrid {
 public:
  /// Lists the states of `states` that have a shape (`shapeOf(state, shape)` is true)
  /// under `boxOf(shape)` (the bounding box, maybe widened), the shapes in `shapes`,
  /// the rest in the buffers of `scratch`. Linear in the states and the cells.
  template <class ShapeOf, class BoxOf>
  BoxGrid(const std::vector<State>& states, ShapeOf shapeOf, BoxOf boxOf,
          std::vector<Shape>& shapes, Scratch& scratch)
      : shapes_(room(shapes, states.size())) {
    std::uint32_t* home = room(scratch.home, states.size());
    std::size_t present = 0;
    Bounds region{};
    for (std::size_t j = 0; j < states.size(); ++j) {
      home[j] = ABSENT;
      if (!shapeOf(states[j], shapes_[j])) continue;
      home[j] = LARGE;
      const Bounds box = boxOf(shapes_[j]);
      region = present++ == 0 ? box : join(region, box);
    }
    if (present == 0) return;
    chooseCells(states.size(), home, present, region, boxOf, scratch.sides);

    // A counting sort by cell: the small boxes first, in the order of their cells,
    // then the large ones.
    const std::size_t cells = static_cast<std::size_t>(columns_) * rows_;
    scratch.start.assign(cells + 1, 0);
    start_ = scratch.start.data();
    std::size_t large = 0;
    for (std::size_t j = 0; j < states.size(); ++j) {
      if (home[j] == ABSENT) continue;
      const Bounds box = boxOf(shapes_[j]);
      if (!small(box)) {
        ++large;
        continue;
      }
      home[j] = static_cast<std::uint32_t>(cellOf(box.lowX, box.lowY));
      ++start_[home[j]];
      reachX_ = std::max(reachX_, static_cast<double>(box.highX) - box.lowX);
      reachY_ = std::max(reachY_, static_cast<double>(box.highY) - box.lowY);
    }
    // Each cell's count becomes the end of its run; taking the footprints from the
    // last, each run is filled from its end, and its entry ends at its beginning.
    for (std::size_t c = 1; c < cells; ++c) start_[c] += start_[c - 1];
    start_[cells] = start_[cells - 1];
    smallCount_ = start_[cells];
    boxes_ = room(scratch.boxes, smallCount_ + large);
    index_ = room(scratch.index, smallCount_ + large);
    std::uint32_t nextLarge = smallCount_;
    for (std::size_t j = states.size(); j-- > 0;) {
      if (home[j] == ABSENT) continue;
      const std::uint32_t slot = home[j] == LARGE ? nextLarge++ : --start_[home[j]];
      boxes_[slot] = boxOf(shapes_[j]);
      index_[slot] = static_cast<std::uint32_t>(j);
    }
    if (large > 0) listLarge(nextLarge, scratch);
  }

  bool empty() const { return boxes_ == nullptr; }

  /// The shape of the listed state of index `j`.
  const Shape& shape(std::uint32_t j) const { return shapes_[j]; }

  /// Asks for the first boxes of each grid row that `candidates(query)` reads to be
  /// brought into cache, so that they arrive while other work is done.
  void prefetch(const Bounds& query) const {
    const Window w = windowOf(query);
    for (int y = w.y0; y <= w.y1; ++y) {
      const std::uint32_t slot = start_[static_cast<std::size_t>(y) * columns_ + w.x0];
      __builtin_prefetch(boxes_ + slot);
      __builtin_prefetch(index_ + slot);
    }
  }

  /// Writes to `out` (grown as needed) the indices of the listed footprints whose box
  /// `accept(query, box)`, each once and in no particular order, and returns how many
  /// there are; asks for their shapes to be brought into cache. `accept` must be
  /// false for boxes that do not meet `query` (closed intervals).
  template <class Accept>
  std::size_t candidates(const Bounds& query, Accept accept,
                         std::vector<std::uint32_t>& out) const {
    const Window w = windowOf(query);
    std::size_t most = 0;
    for (int y = w.y0; y <= w.y1; ++y) {
      const std::size_t base = static_cast<std::size_t>(y) * columns_;
      most += start_[base + w.x1 + 1] - start_[base + w.x0];
    }
    if (largeListed_ != nullptr) {
      forCells(query, [&](std::size_t cell) { most += largeStart_[cell + 1] - largeStart_[cell]; });
    }
    std::uint32_t* found = room(out, most);
    // Every box of the window is written and the count advanced by the test: the
    // outcomes follow no pattern that a branch predictor could learn in a large set.
    std::size_t n = 0;
    for (int y = w.y0; y <= w.y1; ++y) {
      const std::size_t base = static_cast<std::size_t>(y) * columns_;
      const std::uint32_t end = start_[base + w.x1 + 1];
      for (std::uint32_t slot = start_[base + w.x0]; slot < end; ++slot) {
        found[n] = index_[slot];
        __builtin_prefetch(shapes_ + found[n]);
        n += accept(query, boxes_[slot]);
      }
    }
    if (largeListed_ == nullptr) return n;
    forCells(query, [&](std::size_t cell) {
      for (std::size_t k = largeStart_[cell]; k < largeStart_[cell + 1]; ++k) {
        const std::uint32_t slot = largeListed_[k];
        const Bounds& box = boxes_[slot];
        if (accept(query, box) &&
            cellOf(std::max(query.lowX, box.lowX), std::max(query.lowY, box.lowY)) == cell) {
          found[n++] = index_[slot];
        }
      }
    });
    return n;
  }

 private:
  // The cells whose small boxes may meet a query: those of the rows and columns from
  // (x0, y0) to (x1, y1).
  struct Window {
    int x0;
    int x1;
    int y0;
    int y1;
  };

  // The small boxes that can meet the query have their lower-left corner at most one
  // reach below and left of it, give or take the rounding of the subtraction.
  Window windowOf(const Bounds& query) const {
    const double slackX = numeric::GRID_REACH_SLACK * (std::abs(query.lowX) + reachX_);
    const double slackY = numeric::GRID_REACH_SLACK * (std::abs(query.lowY) + reachY_);
    return Window{column(query.lowX - reachX_ - slackX), column(query.highX),
                  row(query.lowY - reachY_ - slackY), row(query.highY)};
  }

  static constexpr std::uint32_t ABSENT = std::numeric_limits<std::uint32_t>::max();
  static constexpr std::uint32_t LARGE = ABSENT - 1;

  // Listed once: no wider and no taller than a cell (a grid of one cell takes every box).
  bool small(const Bounds& box) const {
    return static_cast<double>(box.highX) - box.lowX <= cell_ &&
           static_cast<double>(box.highY) - box.lowY <= cell_;
  }

  // About one cell per box, each cell about as wide as a typical box (the median of
  // the larger sides, taken over an even sample of at most 1024 boxes: enough for a
  // size, and no selection over a large set), never more than about five cells per
  // box however the boxes are spread.
  template <class BoxOf>
  void chooseCells(std::size_t states, const std::uint32_t* home, std::size_t present,
                   const Bounds& region, BoxOf boxOf, std::vector<double>& sides) {
    constexpr std::size_t SAMPLE_SIZE = 1024;
    const std::size_t step = (states + SAMPLE_SIZE - 1) / SAMPLE_SIZE;
    sides.clear();
    for (std::size_t j = 0; j < states; j += step) {
      // The first footprint at or after `j` within its step.
      for (std::size_t k = j; k < std::min(j + step, states); ++k) {
        if (home[k] == ABSENT) continue;
        const Bounds b = boxOf(shapes_[k]);
        sides.push_back(
            std::max(static_cast<double>(b.highX) - b.lowX, static_cast<double>(b.highY) - b.lowY));
        break;
      }
    }
    const auto middle = sides.begin() + static_cast<std::ptrdiff_t>(sides.size() / 2);
    std::nth_element(sides.begin(), middle, sides.end());
    // Sized for at most 2^28 boxes: the number of a cell then fits in 32 bits, with room
    // for the marks of `home`.
    const double count = static_cast<double>(std::min(present, std::size_t{1} << 28));
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
    cell_ = cell;
  }

  // The large boxes, in slots from `smallCount_` to `end`, listed under every cell
  // they cover.
  void listLarge(std::uint32_t end, Scratch& scratch) {
    const std::size_t cells = static_cast<std::size_t>(columns_) * rows_;
    scratch.largeStart.assign(cells + 1, 0);
    largeStart_ = scratch.largeStart.data();
    for (std::uint32_t slot = smallCount_; slot < end; ++slot) {
      forCells(boxes_[slot], [&](std::size_t cell) { ++largeStart_[cell]; });
    }
    for (std::size_t c = 1; c < cells; ++c) largeStart_[c] += largeStart_[c - 1];
    largeStart_[cells] = largeStart_[cells - 1];
    largeListed_ = room(scratch.largeListed, largeStart_[cells]);
    for (std::uint32_t slot = end; slot-- > smallCount_;) {
      forCells(boxes_[slot], [&](std::size_t cell) { largeListed_[--largeStart_[cell]] = slot; });
    }
  }

  static int cellIndex(double value, double origin, double scale, int count) {
    const double c = (value - origin) * scale;
    if (!(c >= 1.0)) return 0;  // also NaN, from an infinite bound of a widened box
    if (c >= count) return count - 1;
    return static_cast<int>(c);
  }
  int column(double x) const { return cellIndex(x, originX_, scale_, columns_); }
  int row(double y) const { return cellIndex(y, originY_, scale_, rows_); }
  std::size_t cellOf(double x, double y) const {
    return static_cast<std::size_t>(row(y)) * columns_ + column(x);
  }

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
  double cell_ = std::numeric_limits<double>::infinity();
  // The largest width and height of a box listed once.
  double reachX_ = 0.0;
  double reachY_ = 0.0;
  int columns_ = 1;
  int rows_ = 1;
  // The shapes of the listed states, by their index; where the small boxes of each
  // cell begin among the slots (the run of a cell ends where the next one begins).
  Shape* shapes_ = nullptr;
  std::uint32_t* start_ = nullptr;
  std::uint32_t smallCount_ = 0;
  // By slot, the small boxes by cell, then the large ones: the box and the index.
  Bounds* boxes_ = nullptr;
  std::uint32_t* index_ = nullptr;
  // The slots of the large boxes under each cell they cover; null without any.
  std::size_t* largeStart_ = nullptr;
  std::uint32_t* largeListed_ = nullptr;
};

// For every state of `a` that has a shape (`shapeOf`), in order, the states of `b`
// with a shape listed under `boxOf` whose boxes `accept` its box under `queryOf`;
// collects the pairs whose `evaluate(query, listed, i, j, value)` is true (it sets the
// value), ordered by i, then j. `shapes` holds the shapes of `b` meanwhile.
template <class Shape, class ShapeOf, class QueryOf, class BoxOf, class Accept, class Evaluate>
std::vector<FootprintPair> collectPairs(const std::vector<State>& a, const std::vector<State>& b,
                                        ShapeOf shapeOf, std::vector<Shape>& shapes,
                                        QueryOf queryOf, BoxOf boxOf, Accept accept,
                                        Evaluate evaluate) {
  Scratch& scratch = threadScratch();
  const BoxGrid<Shape> grid(b, shapeOf, boxOf, shapes, scratch);
  if (grid.empty()) {
    scratch.releaseIfLarge();
    return {};
  }
  // The shapes of `a` in order, each read one ahead of its turn: the grid cells it
  // will visit are asked for while the one before is evaluated.
  std::size_t next = 0;
  const auto read = [&](Shape& shape) {
    while (next < a.size() && !shapeOf(a[next], shape)) ++next;
    return next < a.size();
  };
  Shape queries[2];
  bool more = read(queries[0]);
  // The pairs are written to `scratch.pairs` as they are found, each candidate's
  // whether kept or not, the count advanced by the outcome.
  std::size_t count = 0;
  for (int turn = 0; more; turn = 1 - turn) {
    const std::size_t i = next++;
    const Shape& query = queries[turn];
    more = read(queries[1 - turn]);
    if (more) grid.prefetch(queryOf(queries[1 - turn]));
    const std::size_t n = grid.candidates(queryOf(query), accept, scratch.slots);
    FootprintPair* pairs = room(scratch.pairs, count + n);
    const std::size_t begin = count;
    for (std::size_t k = 0; k < n; ++k) {
      FootprintPair& pair = pairs[count];
      pair.first = i;
      pair.second = scratch.slots[k];
      count += evaluate(query, grid.shape(pair.second), i, pair.second, pair.value);
    }
    std::sort(pairs + begin, pairs + count,
              [](const FootprintPair& p, const FootprintPair& q) { return p.second < q.second; });
  }
  std::vector<FootprintPair> result(scratch.pairs.begin(),
                                    scratch.pairs.begin() + static_cast<std::ptrdiff_t>(count));
  scratch.releaseIfLarge();
  return result;
}

// `collectPairs` over the footprints (the corners) of both lists.
template <class QueryOf, class BoxOf, class Accept, class Evaluate>
std::vector<FootprintPair> collectFootprintPairs(const std::vector<State>& a,
                                                 const std::vector<State>& b, QueryOf queryOf,
                                                 BoxOf boxOf, Accept accept, Evaluate evaluate) {
  return collectPairs(a, b, footprintOf, threadScratch().corners, queryOf, boxOf, accept, evaluate);
}

// Sets `centre` to the box centre seen from above (z = 0) and returns true for a state
// whose centre is finite.
bool centre2dOf(const State& state, Eigen::Vector3f& centre) {
  if (!state.position) return false;
  const Eigen::Vector2f c = state.centroid2D();
  centre = Eigen::Vector3f(c.x(), c.y(), 0.0f);
  return c.allFinite();
}

// Sets `centre` to the box centre in three dimensions and returns true when it is finite.
bool centre3dOf(const State& state, Eigen::Vector3f& centre) {
  if (!state.position) return false;
  centre = state.centroid();
  return centre.allFinite();
}

Bounds pointBounds(const Eigen::Vector3f& centre) {
  return Bounds{centre.x(), centre.y(), centre.x(), centre.y()};
}

// The pairs whose centres are at most `gate` apart, by `centreOf` and the distance of
// `N` coordinates. Each centre of `b` is listed under a square of half side the gate:
// the centre distance is never below the difference along either axis, but its
// rounding may bring it a few units of the last place below; the widening allows far
// more, as for the corner distance.
template <int N, class CentreOf>
std::vector<FootprintPair> centreDistancePairs(const std::vector<State>& a,
                                               const std::vector<State>& b, double gate,
                                               CentreOf centreOf) {
  const auto widened = [gate](const Eigen::Vector3f& centre) {
    const double far = std::max(std::abs(centre.x()), std::abs(centre.y()));
    return widen(pointBounds(centre), gate + numeric::GATE_WIDENING * (gate + far));
  };
  return collectPairs(a, b, centreOf, threadScratch().centres, pointBounds, widened, meet,
                      [gate](const Eigen::Vector3f& query, const Eigen::Vector3f& listed,
                             std::size_t, std::size_t, double& value) {
                        value = detail::centreDistance<N>(query.head<N>(), listed.head<N>());
                        return value <= gate;
                      });
}

// Footprints are kept with 32-bit indices.
void checkSizes(const std::vector<State>& a, const std::vector<State>& b, const char* operation) {
  constexpr std::size_t MOST_STATES = std::numeric_limits<std::uint32_t>::max();
  if (a.size() > MOST_STATES || b.size() > MOST_STATES) {
    throw std::length_error(std::string(operation) + ": more than 2^32 - 1 states");
  }
}

// The vertical extents of `states`, by index, in `out` (grown as needed).
const detail::VerticalExtent* verticalExtents(const std::vector<State>& states,
                                              std::vector<detail::VerticalExtent>& out) {
  detail::VerticalExtent* extents = room(out, states.size());
  for (std::size_t i = 0; i < states.size(); ++i) {
    extents[i] =
        states[i].position ? detail::verticalExtentOf(states[i]) : detail::VerticalExtent{0.0, 0.0};
  }
  return extents;
}

// Throws unless `threshold` is at least `lowest` (above it when not `inclusive`).
void checkThreshold(double threshold, double lowest, bool inclusive, const char* operation) {
  if (inclusive ? threshold >= lowest : threshold > lowest) return;
  throw std::invalid_argument(std::string(operation) + ": the threshold must be " +
                              (inclusive ? "0 or above" : "above -1") + ", not " +
                              std::to_string(threshold));
}

// The N x M matrix of `value(i, j)` where both states have a footprint, NaN elsewhere.
template <class Value>
Eigen::MatrixXd matrixOf(const Footprints& fa, const Footprints& fb, Value value) {
  Eigen::MatrixXd matrix(static_cast<Eigen::Index>(fa.present.size()),
                         static_cast<Eigen::Index>(fb.present.size()));
  for (std::size_t j = 0; j < fb.present.size(); ++j) {
    for (std::size_t i = 0; i < fa.present.size(); ++i) {
      matrix(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) =
          fa.present[i] && fb.present[j] ? value(i, j) : std::numeric_limits<double>::quiet_NaN();
    }
  }
  return matrix;
}

}  // namespace

std::vector<FootprintPair> overlapPairs(const std::vector<State>& a, const std::vector<State>& b,
                                        double threshold) {
  checkSizes(a, b, "overlapPairs");
  if (!(threshold >= 0.0)) {
    throw std::invalid_argument("overlapPairs: the threshold must be 0 or above, not " +
                                std::to_string(threshold));
  }
  return collectFootprintPairs(a, b, boundsOf, boundsOf, overlapWithArea,
                               [&](const detail::Corners& query, const detail::Corners& listed,
                                   std::size_t, std::size_t, double& value) {
                                 value = detail::intersectionOverUnion(query, listed);
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
  const auto widened = [gate](const detail::Corners& corners) {
    const Bounds bounds = boundsOf(corners);
    const double far = std::max({std::abs(bounds.lowX), std::abs(bounds.lowY),
                                 std::abs(bounds.highX), std::abs(bounds.highY)});
    return widen(bounds, gate + numeric::GATE_WIDENING * (gate + far));
  };
  return collectFootprintPairs(a, b, boundsOf, widened, meet,
                               [&](const detail::Corners& query, const detail::Corners& listed,
                                   std::size_t, std::size_t, double& value) {
                                 value = detail::cornerDistance(query, listed);
                                 return value <= gate;
                               });
}

std::vector<FootprintPair> centroidDistancePairs(const std::vector<State>& a,
                                                 const std::vector<State>& b, double gate) {
  checkSizes(a, b, "centroidDistancePairs");
  if (std::isnan(gate)) throw std::invalid_argument("centroidDistancePairs: the gate is NaN");
  if (gate < 0.0) return {};
  return centreDistancePairs<2>(a, b, gate, centre2dOf);
}

std::vector<FootprintPair> centroidDistance3dPairs(const std::vector<State>& a,
                                                   const std::vector<State>& b, double gate) {
  checkSizes(a, b, "centroidDistance3dPairs");
  if (std::isnan(gate)) throw std::invalid_argument("centroidDistance3dPairs: the gate is NaN");
  if (gate < 0.0) return {};
  // The horizontal distance is never above the three-dimensional one: the grid of the
  // horizontal centres finds every pair within the gate.
  return centreDistancePairs<3>(a, b, gate, centre3dOf);
}

std::vector<FootprintPair> generalizedOverlapPairs(const std::vector<State>& a,
                                                   const std::vector<State>& b, double threshold) {
  checkSizes(a, b, "generalizedOverlapPairs");
  checkThreshold(threshold, -1.0, false, "generalizedOverlapPairs");
  const auto evaluate = [threshold](const detail::Corners& query, const detail::Corners& listed,
                                    std::size_t, std::size_t, double& value) {
    value = detail::generalizedOverlapOfCorners(query, listed);
    return value > threshold;
  };
  // Above 0 only footprints that overlap with an area qualify.
  if (threshold >= 0.0) {
    return collectFootprintPairs(a, b, boundsOf, boundsOf, overlapWithArea, evaluate);
  }
  // Below 0, pairs apart qualify while the empty share of their hull stays below
  // -threshold. The hull's area is at least half its diameter times its width, its
  // width at least either footprint's area over its diameter, so a pair with a value
  // above t lies within a diameter of 2 (dA + dB) / (1 + t), dA and dB the footprints'
  // diameters: a box widened by 2 / (1 + t) times its diagonal meets the other's.
  const double room = (1.0 + threshold) - numeric::GENERALIZED_REACH_SLACK;
  const double factor = 2.0 * (1.0 + numeric::GENERALIZED_REACH_SLACK) / room;
  const auto reach = [room, factor](const detail::Corners& corners) {
    const Bounds bounds = boundsOf(corners);
    const double diagonal = std::hypot(static_cast<double>(bounds.highX) - bounds.lowX,
                                       static_cast<double>(bounds.highY) - bounds.lowY);
    return widen(bounds, room > 0.0 ? factor * diagonal : std::numeric_limits<double>::infinity());
  };
  return collectFootprintPairs(a, b, reach, reach, meet, evaluate);
}

std::vector<FootprintPair> overlap3dPairs(const std::vector<State>& a, const std::vector<State>& b,
                                          double threshold) {
  checkSizes(a, b, "overlap3dPairs");
  checkThreshold(threshold, 0.0, true, "overlap3dPairs");
  Scratch& scratch = threadScratch();
  const detail::VerticalExtent* va = verticalExtents(a, scratch.verticalA);
  const detail::VerticalExtent* vb = verticalExtents(b, scratch.verticalB);
  return collectFootprintPairs(a, b, boundsOf, boundsOf, overlapWithArea,
                               [&](const detail::Corners& query, const detail::Corners& listed,
                                   std::size_t i, std::size_t j, double& value) {
                                 value = detail::overlap3dOfCorners(query, va[i], listed, vb[j]);
                                 return value > threshold;
                               });
}

Eigen::MatrixXd overlapMatrix(const std::vector<State>& a, const std::vector<State>& b) {
  const Footprints fa(a);
  const Footprints fb(b);
  return matrixOf(fa, fb, [&](std::size_t i, std::size_t j) {
    return detail::overlapOfCorners(fa.corners[i], fb.corners[j]);
  });
}

Eigen::MatrixXd generalizedOverlapMatrix(const std::vector<State>& a, const std::vector<State>& b) {
  const Footprints fa(a);
  const Footprints fb(b);
  return matrixOf(fa, fb, [&](std::size_t i, std::size_t j) {
    return detail::generalizedOverlapOfCorners(fa.corners[i], fb.corners[j]);
  });
}

Eigen::MatrixXd overlap3dMatrix(const std::vector<State>& a, const std::vector<State>& b) {
  const Footprints fa(a);
  const Footprints fb(b);
  std::vector<detail::VerticalExtent> va;
  std::vector<detail::VerticalExtent> vb;
  verticalExtents(a, va);
  verticalExtents(b, vb);
  return matrixOf(fa, fb, [&](std::size_t i, std::size_t j) {
    return detail::overlap3dOfCorners(fa.corners[i], va[i], fb.corners[j], vb[j]);
  });
}

}  // namespace core
}  // namespace zelvane
