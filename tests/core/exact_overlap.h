// Exact references for footprint overlap in the tests: the intersection over union of
// the same double-precision corners that the library sees, its generalised (hull) and
// three-dimensional forms, in rational arithmetic
// (every sign test and every area exact, rounded once at the end), and the hostile and
// random footprint pairs that the agreement tests run over.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <boost/multiprecision/cpp_int.hpp>

#include "core/state.h"

namespace zelvane::testing {

using Rational = boost::multiprecision::cpp_rational;

struct ExactPoint {
  Rational x;
  Rational y;
};

using ExactQuad = std::array<ExactPoint, 4>;

/// The footprint corners of `state`, widened to double, as exact rationals.
inline ExactQuad exactCorners(const core::State& state) {
  const auto corners = state.getCorners2D();
  ExactQuad quad;
  for (std::size_t i = 0; i < 4; ++i) {
    quad[i] = ExactPoint{Rational(static_cast<double>(corners[i].x())),
                         Rational(static_cast<double>(corners[i].y()))};
  }
  return quad;
}

/// Twice the signed area of `o`, `p`, `q` (counter-clockwise positive).
inline Rational exactCross(const ExactPoint& o, const ExactPoint& p, const ExactPoint& q) {
  return (p.x - o.x) * (q.y - o.y) - (p.y - o.y) * (q.x - o.x);
}

inline Rational exactTwiceArea(const std::vector<ExactPoint>& polygon) {
  Rational sum = 0;
  for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    sum += polygon[j].x * polygon[i].y - polygon[i].x * polygon[j].y;
  }
  return sum;
}

/// True when the quadrilateral is convex (every turn the same way or straight) with an
/// area: the footprints that the reference below is defined for. Rounding the corners
/// of a box thinner than the float spacing at its position can break this.
inline bool exactlyConvex(const ExactQuad& quad) {
  int positive = 0;
  int negative = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const int s = exactCross(quad[i], quad[(i + 1) % 4], quad[(i + 2) % 4]).sign();
    positive += s > 0;
    negative += s < 0;
  }
  return (positive == 0) != (negative == 0);
}

/// Exact area of the intersection of two convex quadrilaterals (either orientation).
inline Rational exactIntersectionArea(const ExactQuad& a, const ExactQuad& b) {
  std::vector<ExactPoint> polygon(a.begin(), a.end());
  const int side = exactTwiceArea(std::vector<ExactPoint>(b.begin(), b.end())).sign();
  for (std::size_t k = 0; k < 4 && side != 0 && polygon.size() >= 3; ++k) {
    std::vector<ExactPoint> kept;
    std::vector<Rational> d;
    for (const ExactPoint& v : polygon) d.push_back(side * exactCross(b[k], b[(k + 1) % 4], v));
    for (std::size_t i = 0; i < polygon.size(); ++i) {
      const std::size_t j = (i + 1) % polygon.size();
      if (d[i] >= 0) kept.push_back(polygon[i]);
      if ((d[i] > 0 && d[j] < 0) || (d[i] < 0 && d[j] > 0)) {
        const Rational t = d[i] / (d[i] - d[j]);
        kept.push_back(ExactPoint{polygon[i].x + t * (polygon[j].x - polygon[i].x),
                                  polygon[i].y + t * (polygon[j].y - polygon[i].y)});
      }
    }
    polygon.swap(kept);
  }
  return side != 0 && polygon.size() >= 3 ? abs(exactTwiceArea(polygon)) / 2 : Rational(0);
}

inline Rational exactArea(const ExactQuad& q) {
  return abs(exactTwiceArea(std::vector<ExactPoint>(q.begin(), q.end()))) / 2;
}

/// Exact area of the convex hull of the eight corners (gift wrapping with exact turns).
inline Rational exactHullArea(const ExactQuad& a, const ExactQuad& b) {
  std::vector<ExactPoint> points;
  for (const ExactQuad* quad : {&a, &b}) {
    for (const ExactPoint& p : *quad) {
      const bool seen = std::any_of(points.begin(), points.end(),
                                    [&](const ExactPoint& q) { return q.x == p.x && q.y == p.y; });
      if (!seen) points.push_back(p);
    }
  }
  if (points.size() < 3) return Rational(0);
  std::size_t start = 0;
  for (std::size_t i = 1; i < points.size(); ++i) {
    if (points[i].x < points[start].x ||
        (points[i].x == points[start].x && points[i].y < points[start].y)) {
      start = i;
    }
  }
  std::vector<ExactPoint> hull;
  std::size_t current = start;
  do {
    hull.push_back(points[current]);
    std::size_t next = current == 0 ? 1 : 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
      const Rational turn = exactCross(points[current], points[next], points[i]);
      // Take the point most clockwise, the farther one of collinear points.
      const auto far = [&](const ExactPoint& p) {
        return (p.x - points[current].x) * (p.x - points[current].x) +
               (p.y - points[current].y) * (p.y - points[current].y);
      };
      if (turn < 0 || (turn == 0 && far(points[i]) > far(points[next]))) next = i;
    }
    current = next;
  } while (current != start && hull.size() <= points.size());
  return hull.size() >= 3 ? abs(exactTwiceArea(hull)) / 2 : Rational(0);
}

/// Exact intersection over union of two convex quadrilaterals (either orientation),
/// with the library's zero-area rule (a union of at most 2^-52 gives 0), rounded to
/// double once.
inline double exactOverlap(const ExactQuad& a, const ExactQuad& b) {
  const Rational intersection = exactIntersectionArea(a, b);
  const Rational unionArea = exactArea(a) + exactArea(b) - intersection;
  if (unionArea <= Rational(std::numeric_limits<double>::epsilon())) return 0.0;
  return static_cast<double>(intersection / unionArea);
}

/// Exact generalised intersection over union: overlap - (hull - union) / hull, with
/// the library's rule for a union without area (-1), rounded to double once.
inline double exactGeneralizedOverlap(const ExactQuad& a, const ExactQuad& b) {
  const Rational intersection = exactIntersectionArea(a, b);
  const Rational unionArea = exactArea(a) + exactArea(b) - intersection;
  if (unionArea <= Rational(std::numeric_limits<double>::epsilon())) return -1.0;
  const Rational hull = exactHullArea(a, b);
  return static_cast<double>(intersection / unionArea - (hull - unionArea) / hull);
}

/// Exact three-dimensional intersection over union of two boxes: the footprints as
/// above, each vertical extent the height (its magnitude) centred on the float z of
/// `State::centroid`, with the library's rules for unions without area or volume.
inline double exactOverlap3d(const core::State& a, const core::State& b) {
  const ExactQuad qa = exactCorners(a);
  const ExactQuad qb = exactCorners(b);
  const Rational intersection = exactIntersectionArea(qa, qb);
  const Rational areaA = exactArea(qa);
  const Rational areaB = exactArea(qb);
  if (areaA + areaB - intersection <= Rational(std::numeric_limits<double>::epsilon())) return 0.0;
  const auto height = [](const core::State& s) {
    return Rational(s.dimensions ? std::abs(static_cast<double>(s.dimensions->height)) : 0.0);
  };
  const Rational za(static_cast<double>(a.centroid().z()));
  const Rational zb(static_cast<double>(b.centroid().z()));
  const Rational ha = height(a);
  const Rational hb = height(b);
  const Rational top = std::min<Rational>(za + ha / 2, zb + hb / 2);
  const Rational bottom = std::max<Rational>(za - ha / 2, zb - hb / 2);
  const Rational common = top > bottom ? intersection * (top - bottom) : Rational(0);
  const Rational unionVolume = areaA * ha + areaB * hb - common;
  if (common == 0 || unionVolume <= 0) return 0.0;
  return static_cast<double>(common / unionVolume);
}

inline double exactOverlap(const core::State& a, const core::State& b) {
  return exactOverlap(exactCorners(a), exactCorners(b));
}

inline double exactGeneralizedOverlap(const core::State& a, const core::State& b) {
  return exactGeneralizedOverlap(exactCorners(a), exactCorners(b));
}

/// A pair of footprints with a name for failure messages.
struct FootprintCase {
  std::string name;
  core::State a;
  core::State b;
};

/// Whether both footprints are exactly convex quadrilaterals (a box thinner than the
/// float spacing where it stands is not).
inline bool bothConvex(const FootprintCase& c) {
  return exactlyConvex(exactCorners(c.a)) && exactlyConvex(exactCorners(c.b));
}

/// The next float above `value`.
inline float floatStepUp(float value) {
  return std::nextafter(value, std::numeric_limits<float>::max());
}

inline core::State boxAt(float x, float y, float heading, float length, float width) {
  return core::State::box(Eigen::Vector3f(x, y, 0.0f), heading, length, width, 1.5f);
}

/// Random pairs that meet or nearly meet, from a fixed seed: positions within a few
/// metres, any heading, extents from thin to large, sometimes negative, anchors off the
/// centre, and a band of places from near the origin to 1e6 away.
inline std::vector<FootprintCase> randomFootprintPairs(unsigned seed, int count) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::uniform_real_distribution<float> turn(-4.0f, 4.0f);
  std::uniform_real_distribution<float> size(0.01f, 6.0f);
  const float places[] = {0.0f, 1e-3f, 1.0f, 150.0f, 1e4f, 1e6f};
  std::vector<FootprintCase> cases;
  cases.reserve(static_cast<std::size_t>(count));
  for (int n = 0; n < count; ++n) {
    const float cx = places[rng() % 6] * (rng() % 2 ? 1.0f : -1.0f);
    const float cy = places[rng() % 6] * (rng() % 2 ? 1.0f : -1.0f);
    auto make = [&]() {
      const float sign = rng() % 8 == 0 ? -1.0f : 1.0f;
      return core::State::box(Eigen::Vector3f(cx + 3.0f * unit(rng), cy + 3.0f * unit(rng), 0.0f),
                              turn(rng), sign * size(rng), size(rng), 1.0f,
                              {unit(rng), unit(rng), 0.0f});
    };
    core::State a = make();
    core::State b = make();
    cases.push_back(FootprintCase{"random " + std::to_string(n), std::move(a), std::move(b)});
  }
  return cases;
}

}  // namespace zelvane::testing
