// The boxes of the tracker-frame benchmarks: a frame of tracks and the detections made
// of them, from a fixed seed, and the states built from their boxes. Shared by the
// benchmarks and by the program that writes the frame for the Python benchmark, so that
// both languages score the same single-precision boxes.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "core/state.h"

namespace tracker_bench {

using zelvane::core::State;

struct Box {
  double x, y, heading;
  double length = 4.5;
  double width = 1.8;
};

inline State stateOf(const Box& box) {
  return State::box(Eigen::Vector3f(static_cast<float>(box.x), static_cast<float>(box.y), 0.0f),
                    static_cast<float>(box.heading), static_cast<float>(box.length),
                    static_cast<float>(box.width), 1.5f, {}, Eigen::Matrix3f::Identity(), 0.01f);
}

inline std::vector<State> statesOf(const std::vector<Box>& boxes) {
  std::vector<State> states;
  states.reserve(boxes.size());
  for (const Box& box : boxes) states.push_back(stateOf(box));
  return states;
}

// A tracker frame: `count` tracks of 4.5 x 1.8 boxes (extents varied by up to 20 %)
// uniform in a square of side `side` with uniform headings, and as many detections,
// each a copy of one track moved by up to 0.5 m and turned by up to 0.1 rad, in random
// order, plus `clutter` detections anywhere.
struct Frame {
  std::vector<Box> tracks;
  std::vector<Box> detections;
};

inline Frame trackerFrame(unsigned seed, int count, int clutter, double side) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> where(0.0, side), heading(-M_PI, M_PI), vary(0.8, 1.2),
      angle(0.0, 2.0 * M_PI), shift(0.0, 0.5), turn(-0.1, 0.1);
  auto anyBox = [&]() {
    const double x = where(rng), y = where(rng), h = heading(rng);
    const double l = 4.5 * vary(rng), w = 1.8 * vary(rng);
    return Box{x, y, h, l, w};
  };
  Frame frame;
  for (int i = 0; i < count; ++i) frame.tracks.push_back(anyBox());
  for (const Box& track : frame.tracks) {
    const double a = angle(rng), r = shift(rng);
    Box detection = track;
    detection.x += r * std::cos(a);
    detection.y += r * std::sin(a);
    detection.heading += turn(rng);
    frame.detections.push_back(detection);
  }
  for (int i = 0; i < clutter; ++i) frame.detections.push_back(anyBox());
  std::shuffle(frame.detections.begin(), frame.detections.end(), rng);
  return frame;
}

inline const Frame& frame300() {
  static const Frame value = trackerFrame(300, 300, 30, 100.0);
  return value;
}

}  // namespace tracker_bench
