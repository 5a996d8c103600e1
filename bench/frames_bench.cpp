// Frame-graph lookups, registrations and loading, against tf2's BufferCore where it
// is installed. Both libraries get identical inputs: the same frames, poses and
// nanosecond time stamps.
#include <malloc.h>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_check.h"
#include "geometry/transform_manager.h"
#include "geometry/transform_queue.h"
#include "settings_manager.h"

#ifdef ZELVANE_BENCH_WITH_TF2
#include <geometry_msgs/TransformStamped.h>
#include <tf2/buffer_core.h>
#endif

namespace {

using zelvane::Pose;
using zelvane::TransformManager;

constexpr long kEpoch = 1700000000L * 1000000000L;  // nanoseconds
constexpr long kStep = 10L * 1000000L;              // 10 ms between samples
constexpr int kSamples = 100;

// The pose of edge `edge` at sample `i`: a slow drive with a little wobble, so that
// interpolation has real work to do on both position and orientation.
Pose samplePose(int edge, long i) {
  Pose pose;
  const float t = static_cast<float>(i) * 0.01f;
  pose.position = Eigen::Vector3f(1.0f + 0.1f * static_cast<float>(edge), 0.5f * std::sin(t), 0.2f);
  const Eigen::AngleAxisf yaw(0.1f * static_cast<float>(edge) + 0.3f * t, Eigen::Vector3f::UnitZ());
  const Eigen::AngleAxisf pitch(0.02f * std::cos(t), Eigen::Vector3f::UnitY());
  pose.orientation = Eigen::Quaternionf(yaw * pitch).normalized();
  return pose;
}

std::string frameName(int index) { return "F" + std::to_string(index); }

// A chain F0 <- F1 <- ... <- Fn: edge e registers the pose of F(e+1) in F(e).
struct Edge {
  std::string child;
  std::string parent;
  int id;
};

std::vector<Edge> chain(int edges) {
  std::vector<Edge> result;
  for (int e = 0; e < edges; ++e) result.push_back(Edge{frameName(e + 1), frameName(e), e});
  return result;
}

// The chain, then `extra` more frames hung as a random tree (fixed seed) below it,
// each by a static transform. Lookups along the chain never need them.
std::vector<Edge> branches(int chainEdges, int extra) {
  std::vector<Edge> result;
  std::mt19937 rng(1000);
  for (int k = 0; k < extra; ++k) {
    const int frames = chainEdges + 1 + k;
    std::uniform_int_distribution<int> parent(0, frames - 1);
    const int p = parent(rng);
    result.push_back(Edge{"B" + std::to_string(k),
                          p <= chainEdges ? frameName(p) : "B" + std::to_string(p - chainEdges - 1),
                          1000 + k});
  }
  return result;
}

long sampleTime(long i) { return kEpoch + i * kStep; }
// Between two samples, away from both.
long queryTime() { return sampleTime(kSamples / 2) + kStep / 3; }

void feed(TransformManager& manager, const std::vector<Edge>& edges, int samples) {
  for (const Edge& edge : edges) {
    if (samples == 0) {
      manager.setTransform(edge.child, edge.parent, samplePose(edge.id, 0), 0);
      continue;
    }
    for (long i = 0; i < samples; ++i) {
      manager.setTransform(edge.child, edge.parent, samplePose(edge.id, i), sampleTime(i));
    }
  }
}

#ifdef ZELVANE_BENCH_WITH_TF2
geometry_msgs::TransformStamped stamped(const Edge& edge, const Pose& pose, long time) {
  geometry_msgs::TransformStamped t;
  t.header.stamp.fromNSec(static_cast<uint64_t>(time));
  t.header.frame_id = edge.parent;
  t.child_frame_id = edge.child;
  t.transform.translation.x = pose.position.x();
  t.transform.translation.y = pose.position.y();
  t.transform.translation.z = pose.position.z();
  t.transform.rotation.x = pose.orientation.x();
  t.transform.rotation.y = pose.orientation.y();
  t.transform.rotation.z = pose.orientation.z();
  t.transform.rotation.w = pose.orientation.w();
  return t;
}

void feed(tf2::BufferCore& buffer, const std::vector<Edge>& edges, int samples) {
  for (const Edge& edge : edges) {
    if (samples == 0) {
      buffer.setTransform(stamped(edge, samplePose(edge.id, 0), 0), "bench", true);
      continue;
    }
    for (long i = 0; i < samples; ++i) {
      buffer.setTransform(stamped(edge, samplePose(edge.id, i), sampleTime(i)), "bench", false);
    }
  }
}

ros::Time rosTime(long ns) {
  ros::Time t;
  t.fromNSec(static_cast<uint64_t>(ns));
  return t;
}

// The transform of `from` in `to`: tf2 names the target frame first.
geometry_msgs::TransformStamped tf2Lookup(tf2::BufferCore& buffer, const std::string& from,
                                          const std::string& to, long time) {
  return buffer.lookupTransform(to, from, rosTime(time));
}

void checkAgainstTf2(const std::string& what, const Pose& ours,
                     const geometry_msgs::TransformStamped& theirs, double tolerance = 1e-6) {
  const auto& t = theirs.transform.translation;
  const auto& r = theirs.transform.rotation;
  zelvane::bench::checkEqual(what + " x", ours.position.x(), t.x, tolerance);
  zelvane::bench::checkEqual(what + " y", ours.position.y(), t.y, tolerance);
  zelvane::bench::checkEqual(what + " z", ours.position.z(), t.z, tolerance);
  // Quaternions are equal up to sign.
  const double sign = ours.orientation.w() * r.w + ours.orientation.x() * r.x +
                                  ours.orientation.y() * r.y + ours.orientation.z() * r.z <
                              0
                          ? -1.0
                          : 1.0;
  zelvane::bench::checkEqual(what + " qx", ours.orientation.x(), sign * r.x, tolerance);
  zelvane::bench::checkEqual(what + " qy", ours.orientation.y(), sign * r.y, tolerance);
  zelvane::bench::checkEqual(what + " qz", ours.orientation.z(), sign * r.z, tolerance);
  zelvane::bench::checkEqual(what + " qw", ours.orientation.w(), sign * r.w, tolerance);
}
#endif

// --- lookups ---------------------------------------------------------------------

struct LookupCase {
  int chainEdges;
  int extraFrames;
  bool timed;  // false: static transforms only
};

void setUp(TransformManager& manager, const LookupCase& c) {
  feed(manager, chain(c.chainEdges), c.timed ? kSamples : 0);
  feed(manager, branches(c.chainEdges, c.extraFrames), 0);
}

void lookupZelvane(benchmark::State& state, LookupCase c) {
  TransformManager manager;
  setUp(manager, c);
  const std::string from = frameName(c.chainEdges);
  const std::string to = frameName(0);
  const long time = c.timed ? queryTime() : 0;
  const auto method = c.timed ? TransformManager::Interpolated : TransformManager::MostRecent;
  Pose result;
  for (auto _ : state) {
    static_cast<void>(manager.getTransform(from, to, time, method, result));
    benchmark::ClobberMemory();
  }
  state.counters["frames"] = static_cast<double>(manager.getFrames().size());
}

#ifdef ZELVANE_BENCH_WITH_TF2
Pose zelvaneLookup(TransformManager& manager, const LookupCase& c) {
  Pose result;
  const auto code = manager.getTransform(
      frameName(c.chainEdges), frameName(0), c.timed ? queryTime() : 0,
      c.timed ? TransformManager::Interpolated : TransformManager::MostRecent, result);
  if (code != TransformManager::Success) {
    std::fprintf(stderr, "benchmark lookup failed with code %d\n", static_cast<int>(code));
    std::exit(1);
  }
  return result;
}

void setUp(tf2::BufferCore& buffer, const LookupCase& c) {
  feed(buffer, chain(c.chainEdges), c.timed ? kSamples : 0);
  feed(buffer, branches(c.chainEdges, c.extraFrames), 0);
}

void lookupTf2(benchmark::State& state, LookupCase c) {
  tf2::BufferCore buffer;
  setUp(buffer, c);
  const std::string from = frameName(c.chainEdges);
  const std::string to = frameName(0);
  const long time = c.timed ? queryTime() : 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tf2Lookup(buffer, from, to, time));
  }
}

void checkLookup(const std::string& name, const LookupCase& c, double tolerance) {
  TransformManager manager;
  setUp(manager, c);
  tf2::BufferCore buffer;
  setUp(buffer, c);
  checkAgainstTf2(
      name, zelvaneLookup(manager, c),
      tf2Lookup(buffer, frameName(c.chainEdges), frameName(0), c.timed ? queryTime() : 0),
      tolerance);
}
#endif

// The named cases agree within 1e-6. The longer chains of the plot compose up to 50
// single-precision transforms against tf2's double precision, so they are held to 1e-5.
void registerLookup(const std::string& name, const LookupCase& c,
                    [[maybe_unused]] double tolerance = 1e-6) {
#ifdef ZELVANE_BENCH_WITH_TF2
  checkLookup(name, c, tolerance);
  benchmark::RegisterBenchmark((name + "/tf2").c_str(), lookupTf2, c);
#endif
  benchmark::RegisterBenchmark((name + "/zelvane").c_str(), lookupZelvane, c);
}

// --- lookup between two times through a fixed frame -------------------------------

// On the 3-edge chain F0 <- F1 <- F2 <- F3 with the fixed frame F0 at its end: F3 (a
// sensor) at one time placed in F2 (the body) at another, through F0 (the world).
const std::string kFixedFrom = frameName(3);
const std::string kFixedTo = frameName(2);
const std::string kFixed = frameName(0);
long fixedFromTime() { return queryTime(); }
long fixedToTime() { return sampleTime(kSamples / 2 + 10) + kStep / 4; }

void fixedFrameZelvane(benchmark::State& state) {
  TransformManager manager;
  feed(manager, chain(3), kSamples);
  Pose result;
  for (auto _ : state) {
    static_cast<void>(
        manager.getTransformThroughFixedFrame(kFixedFrom, fixedFromTime(), kFixedTo, fixedToTime(),
                                              kFixed, TransformManager::Interpolated, result));
    benchmark::ClobberMemory();
  }
}

#ifdef ZELVANE_BENCH_WITH_TF2
geometry_msgs::TransformStamped tf2FixedFrame(tf2::BufferCore& buffer) {
  // tf2 names the target frame and time first.
  return buffer.lookupTransform(kFixedTo, rosTime(fixedToTime()), kFixedFrom,
                                rosTime(fixedFromTime()), kFixed);
}

void fixedFrameTf2(benchmark::State& state) {
  tf2::BufferCore buffer;
  feed(buffer, chain(3), kSamples);
  for (auto _ : state) benchmark::DoNotOptimize(tf2FixedFrame(buffer));
}

// The half from F0 down to F2 runs against the registered direction: this library
// blends the stored inverses, tf2 inverts the blend, and the two differ by the
// curvature of the motion between samples (below 1e-5 here).
void checkFixedFrame() {
  TransformManager manager;
  feed(manager, chain(3), kSamples);
  tf2::BufferCore buffer;
  feed(buffer, chain(3), kSamples);
  Pose ours;
  if (manager.getTransformThroughFixedFrame(kFixedFrom, fixedFromTime(), kFixedTo, fixedToTime(),
                                            kFixed, TransformManager::Interpolated,
                                            ours) != TransformManager::Success) {
    std::fprintf(stderr, "benchmark fixed-frame lookup failed\n");
    std::exit(1);
  }
  checkAgainstTf2("lookup_fixed_frame", ours, tf2FixedFrame(buffer), 1e-5);
}
#endif

// --- registration ----------------------------------------------------------------

// One edge of the 3-edge chain receives one newer sample per iteration, with its
// history at the size the 10 s window holds at 100 Hz.
constexpr long kSteadySamples = 1000 + 2;

void registerZelvane(benchmark::State& state) {
  TransformManager manager;
  const std::vector<Edge> edges = chain(3);
  feed(manager, edges, kSamples);
  long i = kSamples;
  for (; i < kSteadySamples; ++i) {
    manager.setTransform(edges[1].child, edges[1].parent, samplePose(1, i), sampleTime(i));
  }
  std::vector<Pose> poses;
  for (long k = 0; k < 64; ++k) poses.push_back(samplePose(1, k));
  for (auto _ : state) {
    manager.setTransform(edges[1].child, edges[1].parent, poses[i & 63], sampleTime(i));
    ++i;
  }
}

#ifdef ZELVANE_BENCH_WITH_TF2
void registerTf2(benchmark::State& state) {
  tf2::BufferCore buffer;
  const std::vector<Edge> edges = chain(3);
  feed(buffer, edges, kSamples);
  long i = kSamples;
  for (; i < kSteadySamples; ++i) {
    buffer.setTransform(stamped(edges[1], samplePose(1, i), sampleTime(i)), "bench", false);
  }
  std::vector<geometry_msgs::TransformStamped> messages;
  for (long k = 0; k < 64; ++k) messages.push_back(stamped(edges[1], samplePose(1, k), 0));
  for (auto _ : state) {
    geometry_msgs::TransformStamped& message = messages[i & 63];
    message.header.stamp = rosTime(sampleTime(i));
    buffer.setTransform(message, "bench", false);
    ++i;
  }
}

// After the same registrations, both libraries answer the newest sample alike.
void checkRegistration() {
  TransformManager manager;
  tf2::BufferCore buffer;
  const std::vector<Edge> edges = chain(3);
  feed(manager, edges, kSamples);
  feed(buffer, edges, kSamples);
  for (long i = kSamples; i < kSamples + 5; ++i) {
    manager.setTransform(edges[1].child, edges[1].parent, samplePose(1, i), sampleTime(i));
    buffer.setTransform(stamped(edges[1], samplePose(1, i), sampleTime(i)), "bench", false);
  }
  Pose ours;
  if (manager.getTransform(edges[1].child, edges[1].parent, sampleTime(kSamples + 4),
                           TransformManager::Interpolated, ours) != TransformManager::Success) {
    std::fprintf(stderr, "benchmark registration lookup failed\n");
    std::exit(1);
  }
  checkAgainstTf2("register_sample", ours,
                  tf2Lookup(buffer, edges[1].child, edges[1].parent, sampleTime(kSamples + 4)));
}
#endif

// --- loading ---------------------------------------------------------------------

// A store with `pairs` stored transforms (a chain) beside 10,000 unrelated keys.
std::shared_ptr<zelvane::SettingsManager> storeWith(int pairs) {
  auto settings = std::make_shared<zelvane::SettingsManager>();
  for (int k = 0; k < 10000; ++k) settings->set<int>("Unrelated.key" + std::to_string(k), k);
  TransformManager manager;
  feed(manager, chain(pairs), 0);
  static_cast<void>(manager.storeTransforms(*settings, true));
  return settings;
}

void loadTransforms(benchmark::State& state, int pairs) {
  const auto settings = storeWith(pairs);
  TransformManager manager;
  for (auto _ : state) static_cast<void>(manager.loadTransforms(*settings));
  if (manager.getFrames().size() != static_cast<std::size_t>(pairs + 1)) {
    state.SkipWithError("loading lost frames");
  }
}

// --- placing points, the C++ peer of the Python benchmark ------------------------

// The graph and points of the Python cases (bench/python_bench.py builds the same
// ones with NumPy): a 3-edge chain with 100 samples per edge whose poses use only
// float32 arithmetic that NumPy reproduces bit for bit. Keep the two in step.
Pose pointsChainPose(int edge, long i) {
  const float e = static_cast<float>(edge);
  const float k = static_cast<float>(i);
  Pose pose;
  pose.position = Eigen::Vector3f(1.0f + 0.1f * e, 0.005f * k, 0.2f);
  const float qx = 0.01f * e;
  const float qy = 0.02f;
  const float qz = 0.1f + 0.003f * k;
  const float qw = 1.0f;
  const float norm = std::sqrt(qx * qx + qy * qy + qz * qz + qw * qw);
  pose.orientation = Eigen::Quaternionf(qw / norm, qx / norm, qy / norm, qz / norm);
  return pose;
}

constexpr long kPoints = 100000;

// Point k: a 50 m x 10 m x 1.5 m block in front of the sensor.
Eigen::Matrix3Xf pointsInput() {
  Eigen::Matrix3Xf points(3, kPoints);
  for (long k = 0; k < kPoints; ++k) {
    points(0, k) = static_cast<float>(k % 1000) * 0.05f - 25.0f;
    points(1, k) = static_cast<float>((k / 1000) % 100) * 0.1f - 5.0f;
    points(2, k) = static_cast<float>(k % 7) * 0.25f - 0.75f;
  }
  return points;
}

// Looks up F3 in F0 and places every point with Eigen, a new array each time as the
// Python call returns one. The first and last points and the coordinate sum go into
// the counters, where the Python benchmark checks that it placed the same points.
void transformPointsCpp(benchmark::State& state) {
  TransformManager manager;
  for (const Edge& edge : chain(3)) {
    for (long i = 0; i < kSamples; ++i) {
      manager.setTransform(edge.child, edge.parent, pointsChainPose(edge.id, i), sampleTime(i));
    }
  }
  const Eigen::Matrix3Xf points = pointsInput();
  const std::string from = frameName(3);
  const std::string to = frameName(0);
  Eigen::Matrix3Xf last;
  for (auto _ : state) {
    Pose f0_T_f3;
    static_cast<void>(
        manager.getTransform(from, to, queryTime(), TransformManager::Interpolated, f0_T_f3));
    Eigen::Matrix3Xf placed = zelvane::poseToAffine3f(f0_T_f3) * points;
    benchmark::DoNotOptimize(placed.data());
    last.swap(placed);
  }
  for (int c = 0; c < 3; ++c) {
    state.counters["first_" + std::to_string(c)] = last(c, 0);
    state.counters["last_" + std::to_string(c)] = last(c, kPoints - 1);
  }
  state.counters["sum"] = last.cast<double>().sum();
}

// --- many times at once -----------------------------------------------------------

// F3 in F0 on the timed 3-edge chain at 10,000 rising times across its history, none
// on a sample: in one call, and as 10,000 single lookups.
constexpr std::size_t kManyTimes = 10000;

std::vector<long> manyTimes() {
  std::vector<long> times(kManyTimes);
  const long span = sampleTime(kSamples - 1) - sampleTime(0);
  for (std::size_t i = 0; i < kManyTimes; ++i) {
    times[i] = sampleTime(0) + 7 + span * static_cast<long>(i) / static_cast<long>(kManyTimes);
  }
  return times;
}

void lookupManyZelvane(benchmark::State& state) {
  TransformManager manager;
  feed(manager, chain(3), kSamples);
  const std::vector<long> times = manyTimes();
  std::vector<Pose> poses(kManyTimes);
  std::vector<TransformManager::TransformResult> codes(kManyTimes);
  std::size_t placed = 0;
  for (auto _ : state) {
    placed = manager.getTransforms(frameName(3), frameName(0), times.data(), kManyTimes,
                                   TransformManager::Interpolated, poses.data(), codes.data());
    benchmark::ClobberMemory();
  }
  if (placed != kManyTimes) state.SkipWithError("lookups failed");
}

void lookupManySingle(benchmark::State& state) {
  TransformManager manager;
  feed(manager, chain(3), kSamples);
  const std::vector<long> times = manyTimes();
  std::vector<Pose> poses(kManyTimes);
  const std::string from = frameName(3);
  const std::string to = frameName(0);
  for (auto _ : state) {
    for (std::size_t i = 0; i < kManyTimes; ++i) {
      static_cast<void>(
          manager.getTransform(from, to, times[i], TransformManager::Interpolated, poses[i]));
    }
    benchmark::ClobberMemory();
  }
}

// The graph and points of py_transform_points_100k, seen by a spinning sensor: a
// 100 ms scan in 1,000 firings, the 100 points of a firing sharing its time. Placed
// each at its own time, against all of them at the scan's first time.
std::vector<long> deskewTimes() {
  constexpr long kFirings = 1000;
  constexpr long kFiringStep = 100000;  // 100 us: 1,000 firings in 100 ms
  std::vector<long> times(kPoints);
  for (long k = 0; k < kPoints; ++k) {
    times[k] = sampleTime(kSamples / 4) + (k / (kPoints / kFirings)) * kFiringStep;
  }
  return times;
}

void feedPointsChain(TransformManager& manager) {
  for (const Edge& edge : chain(3)) {
    for (long i = 0; i < kSamples; ++i) {
      manager.setTransform(edge.child, edge.parent, pointsChainPose(edge.id, i), sampleTime(i));
    }
  }
}

void deskewZelvane(benchmark::State& state) {
  TransformManager manager;
  feedPointsChain(manager);
  const Eigen::Matrix3Xf points = pointsInput();
  const std::vector<long> times = deskewTimes();
  Eigen::Matrix3Xf placed(3, kPoints);
  std::vector<TransformManager::TransformResult> codes(kPoints);
  for (auto _ : state) {
    static_cast<void>(manager.transformPoints(frameName(3), frameName(0), points.data(),
                                              times.data(), kPoints, TransformManager::Interpolated,
                                              placed.data(), codes.data()));
    benchmark::ClobberMemory();
  }
  // The last point, placed by a single lookup at its time.
  Pose f0_T_f3;
  static_cast<void>(manager.getTransform(frameName(3), frameName(0), times.back(),
                                         TransformManager::Interpolated, f0_T_f3));
  const Eigen::Vector3f expected = zelvane::poseToAffine3f(f0_T_f3) * points.col(kPoints - 1);
  for (int c = 0; c < 3; ++c) {
    zelvane::bench::checkEqual("deskew_100k last point", placed(c, kPoints - 1), expected(c), 1e-6);
  }
}

void deskewOneTime(benchmark::State& state) {
  TransformManager manager;
  feedPointsChain(manager);
  const Eigen::Matrix3Xf points = pointsInput();
  const long time = deskewTimes().front();
  Eigen::Matrix3Xf placed(3, kPoints);
  for (auto _ : state) {
    Pose f0_T_f3;
    static_cast<void>(manager.getTransform(frameName(3), frameName(0), time,
                                           TransformManager::Interpolated, f0_T_f3));
    placed.noalias() = zelvane::poseToAffine3f(f0_T_f3) * points;
    benchmark::ClobberMemory();
  }
}

// --- memory ----------------------------------------------------------------------

// Heap bytes in use: unlike the resident set, it does not depend on what earlier
// benchmarks of the same process left behind in the allocator.
long heapBytesInUse() { return static_cast<long>(mallinfo2().uordblks); }

// Ten edges fed a 1 kHz stream of nanosecond time stamps until every history holds
// its steady-state size (the window is 1e10 ns, 10 s).
void memorySteadyState(benchmark::State& state) {
  const std::vector<Edge> edges = chain(10);
  constexpr long kRateStep = 1000000L;  // 1 kHz
  constexpr long kFeed = 12000;         // 12 s of stream, past the 10 s window
  long before = 0;
  long after = 0;
  for (auto _ : state) {
    before = heapBytesInUse();
    auto manager = std::make_unique<TransformManager>();
    for (long i = 0; i < kFeed; ++i) {
      for (const Edge& edge : edges) {
        manager->setTransform(edge.child, edge.parent, samplePose(edge.id, i),
                              kEpoch + i * kRateStep);
      }
    }
    after = heapBytesInUse();
    benchmark::DoNotOptimize(manager.get());
  }
  // Each registration stores one sample on each of the two directed edges.
  const double window = 1e10 / static_cast<double>(kRateStep);
  const double stored = 2.0 * static_cast<double>(edges.size()) * (window + 1);
  state.counters["manager_heap_bytes"] = static_cast<double>(after - before);
  state.counters["bytes_per_sample"] = static_cast<double>(after - before) / stored;
  state.counters["samples_stored"] = stored;
}

// --- waiting for transforms and the queue ------------------------------------------

// The 3-edge chain with time-stamped samples, the edge F0 <- F1 fed on each iteration
// at the next 10 ms, its history held at the size the 10 s window holds at 100 Hz.
// Each iteration pushes an item of F3 at the new sample's time (it waits: the chain
// has no sample there yet) and registers that sample, which releases it through the
// callback with its pose in F0.
// Returns the index of the next sample of F0 <- F1.
long queueGraph(TransformManager& manager) {
  const std::vector<Edge> edges = chain(3);
  feed(manager, edges, kSamples);
  feed(manager, branches(3, 4), 0);
  long i = kSamples;
  for (; i < kSteadySamples; ++i) {
    for (const Edge& edge : edges) {
      manager.setTransform(edge.child, edge.parent, samplePose(edge.id, i), sampleTime(i));
    }
  }
  // The other edges run far ahead, so that only F0 <- F1 decides.
  for (int e = 1; e < 3; ++e) {
    manager.setTransform(edges[e].child, edges[e].parent, samplePose(e, i),
                         sampleTime(i + 100000000));
  }
  return i;
}

void queueRelease(benchmark::State& state, int pendingElsewhere) {
  TransformManager manager;
  long i = queueGraph(manager);
  const Edge edge = chain(3)[0];
  std::size_t released = 0;
  zelvane::TransformQueue<int> queue(
      manager, frameName(0), {static_cast<std::size_t>(pendingElsewhere) + 16},
      [&released](int, const std::string&, long, const Pose&) { ++released; });
  // Items of four other frames below F1, at times the graph will not reach during the
  // run.
  for (int k = 0; k < 4; ++k) {
    manager.setTransform("P" + std::to_string(k), frameName(1), samplePose(k, 0), 0);
  }
  for (int k = 0; k < pendingElsewhere; ++k) {
    queue.push(k, "P" + std::to_string(k % 4), sampleTime(i + 50000000 + k));
  }
  std::vector<Pose> poses;
  for (long k = 0; k < 64; ++k) poses.push_back(samplePose(0, k));
  const std::string sensor = frameName(3);
  for (auto _ : state) {
    queue.push(1, sensor, sampleTime(i));
    manager.setTransform(edge.child, edge.parent, poses[i & 63], sampleTime(i));
    ++i;
  }
  if (released != static_cast<std::size_t>(state.iterations()) ||
      queue.counts().pending != static_cast<std::size_t>(pendingElsewhere)) {
    std::fprintf(stderr, "queue benchmark: %zu released of %lld\n", released,
                 static_cast<long long>(state.iterations()));
    std::exit(1);
  }
}

// The same graph without the queue: one interpolated lookup of the path F3 -> F0
// between the two newest samples.
void queueReleaseLookup(benchmark::State& state) {
  TransformManager manager;
  const long time = sampleTime(queueGraph(manager) - 1) - kStep / 3;
  const std::string from = frameName(3);
  const std::string to = frameName(0);
  Pose result;
  for (auto _ : state) {
    static_cast<void>(manager.getTransform(from, to, time, TransformManager::Interpolated, result));
    benchmark::ClobberMemory();
  }
}

// A wait whose transform is there, against the lookup itself.
void waitReady(benchmark::State& state, bool wait) {
  TransformManager manager;
  feed(manager, chain(3), kSamples);
  const std::string from = frameName(3);
  const std::string to = frameName(0);
  const long time = queryTime();
  Pose result;
  for (auto _ : state) {
    if (wait) {
      static_cast<void>(manager.waitForTransform(from, to, time, TransformManager::Interpolated,
                                                 std::chrono::seconds(1), result));
    } else {
      static_cast<void>(
          manager.getTransform(from, to, time, TransformManager::Interpolated, result));
    }
    benchmark::ClobberMemory();
  }
}

void registerAll() {
  registerLookup("lookup_chain3_interp", LookupCase{3, 0, true});
  registerLookup("lookup_chain10_interp", LookupCase{10, 0, true});
  registerLookup("lookup_chain3_static", LookupCase{3, 0, false});
  registerLookup("lookup_tree1000_interp", LookupCase{3, 996, true});
  for (int edges : {1, 2, 5, 20, 50}) {
    registerLookup("plot_chain_interp_" + std::to_string(edges), LookupCase{edges, 0, true}, 1e-5);
  }
  for (int frames : {10, 100, 10000}) {
    registerLookup("plot_tree_interp_" + std::to_string(frames), LookupCase{3, frames - 4, true},
                   1e-5);
  }
#ifdef ZELVANE_BENCH_WITH_TF2
  checkFixedFrame();
  benchmark::RegisterBenchmark("lookup_fixed_frame/tf2", fixedFrameTf2);
#endif
  benchmark::RegisterBenchmark("lookup_fixed_frame/zelvane", fixedFrameZelvane);
#ifdef ZELVANE_BENCH_WITH_TF2
  checkRegistration();
  benchmark::RegisterBenchmark("register_sample/tf2", registerTf2);
#endif
  benchmark::RegisterBenchmark("register_sample/zelvane", registerZelvane);
  benchmark::RegisterBenchmark("load_transforms_1000/zelvane", loadTransforms, 1000);
  benchmark::RegisterBenchmark("load_transforms_2000/zelvane", loadTransforms, 2000);
  benchmark::RegisterBenchmark("memory_steady_state/zelvane", memorySteadyState)->Iterations(1);
  benchmark::RegisterBenchmark("py_transform_points_100k/cpp", transformPointsCpp);
  benchmark::RegisterBenchmark("lookup_many_10000/zelvane", lookupManyZelvane);
  benchmark::RegisterBenchmark("lookup_many_10000/single", lookupManySingle);
  benchmark::RegisterBenchmark("deskew_100k/zelvane", deskewZelvane);
  benchmark::RegisterBenchmark("deskew_100k/one_time", deskewOneTime);
  benchmark::RegisterBenchmark("queue_release/zelvane", queueRelease, 0);
  benchmark::RegisterBenchmark("queue_release/lookup", queueReleaseLookup);
  benchmark::RegisterBenchmark("queue_registration_100_pending/zelvane", queueRelease, 100);
  benchmark::RegisterBenchmark("queue_registration_10000_pending/zelvane", queueRelease, 10000);
  benchmark::RegisterBenchmark("wait_ready/zelvane", waitReady, true);
  benchmark::RegisterBenchmark("wait_ready/lookup", waitReady, false);
}

// Registered before Google Benchmark's main runs, as its own registration macros are,
// defined last so that the other globals of this file are initialised before it runs.
[[maybe_unused]] const bool registered = (registerAll(), true);

}  // namespace
