// Streams of registrations on a small frame graph, with times around every epoch that
// matters (0, nanoseconds near 1.7e18, negative, near the limits of int64) and history
// windows changed on the way. After each step:
// - an `Interpolated` lookup succeeds exactly at the times `getCommonTimeSpan` gives;
// - `canTransform` answers every method with the lookup's code;
// - an `Interpolated` wait that does not wait succeeds exactly where the lookup does
//   and every time-stamped edge of the path holds samples from at most to at least
//   the time, as `getEdges` lists them;
// - a lookup that succeeds at a time T >= 0 reports T (the graph holds no stamp of its
//   own but 0);
// - `getEdges` agrees with `historySize` in both directions.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "geometry/pose.h"
#include "geometry/transform_manager.h"

namespace {

using zelvane::Pose;
using zelvane::TransformManager;
using zelvane::fuzz::Input;

constexpr long kMin = std::numeric_limits<long>::min();
constexpr long kMax = std::numeric_limits<long>::max();
const long kBases[] = {
    0, 1000, 1700000000000000000L, -1700000000000000000L, kMax - 40000000000L, kMin + 40000000000L};
const long kScales[] = {1, 100, 1000000};
const double kWindows[] = {1e10, 0, 1, 255, 1e3, std::numeric_limits<double>::infinity(), 1e19};
// Pairs as registered; the last one closes a cycle once the others exist.
const char* const kPairs[][2] = {{"A", "B"}, {"B", "C"}, {"C", "B"}, {"D", "C"}, {"A", "C"}};
const char* const kFrames[] = {"A", "B", "C", "D"};

// A signed 16-bit step, high byte first.
long delta(Input& in) {
  const int high = in.next();
  const int low = in.next();
  return static_cast<std::int16_t>(high << 8 | low);
}

long timeFrom(Input& in) {
  const long base = kBases[in.next() % 6];
  const long scale = kScales[in.next() % 3];
  long time = 0;
  if (__builtin_add_overflow(base, delta(in) * scale, &time)) return base;
  return time;
}

// Whether every time-stamped edge of the path from `from` to `to`, found over the
// edge list by a search of its own, spans `time` there (true without a path: the
// lookup decides then).
bool covered(const TransformManager& manager, const std::string& from, const std::string& to,
             long time) {
  const std::vector<TransformManager::EdgeSummary> edges = manager.getEdges();
  std::map<std::string, const TransformManager::EdgeSummary*> reached_by{{from, nullptr}};
  std::vector<std::string> next{from};
  while (!next.empty()) {
    const std::string at = next.back();
    next.pop_back();
    for (const TransformManager::EdgeSummary& edge : edges) {
      if (edge.from != at && edge.to != at) continue;
      const std::string& other = edge.from == at ? edge.to : edge.from;
      if (reached_by.emplace(other, &edge).second) next.push_back(other);
    }
  }
  if (reached_by.count(to) == 0) return true;
  for (std::string at = to; at != from;) {
    const TransformManager::EdgeSummary& edge = *reached_by.at(at);
    if (!edge.isStatic && (time < edge.oldest || time > edge.newest)) return false;
    at = edge.from == at ? edge.to : edge.from;
  }
  return true;
}

void check(TransformManager& manager, long time) {
  for (const char* from : kFrames) {
    for (const char* to : kFrames) {
      long oldest = 0;
      long newest = 0;
      const auto span = manager.getCommonTimeSpan(from, to, oldest, newest);
      for (long t : {time, oldest, newest, oldest - (oldest > kMin), newest + (newest < kMax)}) {
        Pose pose;
        const auto found = manager.getTransform(from, to, t, TransformManager::Interpolated, pose);
        const bool inside = span == TransformManager::Success && oldest <= t && t <= newest;
        if ((found == TransformManager::Success) != inside) std::abort();
        if (found == TransformManager::Success && t >= 0 && pose.timestamp != t &&
            std::string(from) != to) {
          std::abort();
        }
        if (manager.getTransform(from, to, t, TransformManager::Extrapolated, pose) ==
                TransformManager::Success &&
            t >= 0 && pose.timestamp != t && std::string(from) != to) {
          std::abort();
        }
        for (const auto method : {TransformManager::MostRecent, TransformManager::Extrapolated,
                                  TransformManager::Interpolated}) {
          if (manager.canTransform(from, to, t, method) !=
              manager.getTransform(from, to, t, method, pose)) {
            std::abort();
          }
        }
        const bool waited = manager.waitForTransform(from, to, t, TransformManager::Interpolated,
                                                     std::chrono::nanoseconds(0),
                                                     pose) == TransformManager::Success;
        if (waited != (found == TransformManager::Success && covered(manager, from, to, t))) {
          std::abort();
        }
      }
    }
  }
  for (const TransformManager::EdgeSummary& edge : manager.getEdges()) {
    if (edge.samples != manager.historySize(edge.from, edge.to) ||
        edge.samples != manager.historySize(edge.to, edge.from) || edge.samples == 0 ||
        edge.oldest > edge.newest || (edge.isStatic && edge.samples != 1)) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  Input in(data, size);
  TransformManager manager;
  for (int step = 0; step < 64 && !in.empty(); ++step) {
    const unsigned char op = in.next();
    if (op < 160) {
      const auto& pair = kPairs[op % 5];
      Pose pose;
      pose.position = Eigen::Vector3f(in.next() - 128.0f, in.next() - 128.0f, 0.0f);
      pose.orientation =
          Eigen::Quaternionf(Eigen::AngleAxisf(in.next() / 40.0f, Eigen::Vector3f::UnitZ()));
      manager.setTransform(pair[0], pair[1], pose, timeFrom(in));
    } else if (op < 176) {
      // Every window here is valid.
      if (manager.setHistoryWindow(kWindows[op % 7]) != TransformManager::Success) std::abort();
    } else {
      check(manager, timeFrom(in));
    }
  }
  check(manager, 0);
  return 0;
}
