#!/usr/bin/env python3
"""Benchmarks of the Python package against what Python users would use instead,
written in Google Benchmark's JSON layout so that bench/report.py merges them with
the C++ results (named <case>/zelvane and <case>/<peer>).

    python_bench.py --cpp BENCH_FRAMES_JSON --out RESULT_JSON

- py_lookup_chain3_interp: an interpolated lookup along a 3-edge chain, against
  tf2_py's BufferCore from Python (Debian's python3-tf2);
- py_transform_points_100k: placing 100,000 points between two frames at one time,
  against the C++ library doing the same with Eigen (the case
  py_transform_points_100k/cpp of bench_frames, whose output it checks first).

Both sides get identical inputs and are checked for agreement before timing. Each
case is timed in 5 repetitions of at least 0.2 s, as the C++ benchmarks are.
"""

import argparse
import json
import statistics
import sys
import time

import numpy as np

import zelvane

EPOCH = 1700000000 * 1000000000  # nanoseconds
STEP = 10 * 1000000              # 10 ms between samples
SAMPLES = 100
POINTS = 100000
REPETITIONS = 5
MIN_TIME_NS = 0.2e9
f32 = np.float32


def sample_time(i):
    return EPOCH + i * STEP


QUERY_TIME = sample_time(SAMPLES // 2) + STEP // 3


def chain_pose(edge, i):
    """pointsChainPose of bench/frames_bench.cpp, in the same float32 operations."""
    e, k = f32(edge), f32(i)
    position = [f32(1) + f32(0.1) * e, f32(0.005) * k, f32(0.2)]
    qx, qy, qz, qw = f32(0.01) * e, f32(0.02), f32(0.1) + f32(0.003) * k, f32(1)
    norm = np.sqrt(qx * qx + qy * qy + qz * qz + qw * qw)
    return position, [qx / norm, qy / norm, qz / norm, qw / norm]


CHAIN = [("F%d" % (e + 1), "F%d" % e, e) for e in range(3)]  # (child, parent, edge)


def zelvane_graph():
    graph = zelvane.TransformManager()
    for child, parent, edge in CHAIN:
        for i in range(SAMPLES):
            graph.set_transform(child, parent, zelvane.Pose(*chain_pose(edge, i)), sample_time(i))
    return graph


def tf2_buffer():
    import geometry_msgs.msg
    import rospy
    import tf2_py

    buffer = tf2_py.BufferCore()
    for child, parent, edge in CHAIN:
        for i in range(SAMPLES):
            position, q = chain_pose(edge, i)
            message = geometry_msgs.msg.TransformStamped()
            message.header.stamp = rospy.Time(0, sample_time(i))
            message.header.frame_id = parent
            message.child_frame_id = child
            t = message.transform
            t.translation.x, t.translation.y, t.translation.z = map(float, position)
            t.rotation.x, t.rotation.y, t.rotation.z, t.rotation.w = map(float, q)
            buffer.set_transform(message, "bench")
    return buffer, rospy.Time(0, QUERY_TIME)


def points_input():
    k = np.arange(POINTS)
    return np.column_stack([(k % 1000).astype(f32) * f32(0.05) - f32(25),
                            ((k // 1000) % 100).astype(f32) * f32(0.1) - f32(5),
                            (k % 7).astype(f32) * f32(0.25) - f32(0.75)])


def check(what, ours, peer, tolerance=1e-6):
    """Stops the run when the two answers differ (absolute, and relative above 1)."""
    ours, peer = np.asarray(ours, np.float64), np.asarray(peer, np.float64)
    scale = np.maximum(1.0, np.maximum(np.abs(ours), np.abs(peer)))
    if not np.all(np.abs(ours - peer) <= tolerance * scale):
        sys.exit("benchmark check failed: %s: zelvane %s, peer %s (tolerance %g)"
                 % (what, ours, peer, tolerance))


def timed(name, call):
    """Google Benchmark entries for `call`: REPETITIONS runs of a calibrated count."""
    iterations = 1
    while True:
        start = time.perf_counter_ns()
        for _ in range(iterations):
            call()
        elapsed = time.perf_counter_ns() - start
        if elapsed >= MIN_TIME_NS:
            break
        iterations = max(2 * iterations, int(iterations * 1.2 * MIN_TIME_NS / max(elapsed, 1)))
    entries, times = [], []
    for repetition in range(REPETITIONS):
        start = time.perf_counter_ns()
        for _ in range(iterations):
            call()
        times.append((time.perf_counter_ns() - start) / iterations)
        entries.append({"name": name, "run_name": name, "run_type": "iteration",
                        "repetitions": REPETITIONS, "repetition_index": repetition,
                        "threads": 1, "iterations": iterations, "real_time": times[-1],
                        "cpu_time": times[-1], "time_unit": "ns"})
    for aggregate, value in (("mean", statistics.mean(times)),
                             ("median", statistics.median(times)),
                             ("stddev", statistics.stdev(times))):
        entries.append({"name": name + "_" + aggregate, "run_name": name,
                        "run_type": "aggregate", "repetitions": REPETITIONS, "threads": 1,
                        "aggregate_name": aggregate, "iterations": REPETITIONS,
                        "real_time": value, "cpu_time": value, "time_unit": "ns"})
    print("%-40s %12.1f ns" % (name, statistics.median(times)), flush=True)
    return entries


def lookup_case():
    graph = zelvane_graph()
    buffer, query = tf2_buffer()
    ours = graph.lookup("F3", "F0", QUERY_TIME)
    theirs = buffer.lookup_transform_core("F0", "F3", query).transform
    check("py_lookup_chain3_interp position", ours.position,
          [theirs.translation.x, theirs.translation.y, theirs.translation.z])
    q = np.array([theirs.rotation.x, theirs.rotation.y, theirs.rotation.z, theirs.rotation.w])
    check("py_lookup_chain3_interp quaternion", ours.orientation,
          q * np.sign(np.dot(q, ours.orientation)))
    return (timed("py_lookup_chain3_interp/zelvane",
                  lambda: graph.lookup("F3", "F0", QUERY_TIME))
            + timed("py_lookup_chain3_interp/tf2",
                    lambda: buffer.lookup_transform_core("F0", "F3", query)))


def points_case(cpp_results):
    graph = zelvane_graph()
    points = points_input()
    placed = graph.transform_points(points, "F3", "F0", QUERY_TIME)
    cpp = [b for b in cpp_results["benchmarks"]
           if b["run_name"] == "py_transform_points_100k/cpp" and b["run_type"] == "iteration"]
    if not cpp:
        sys.exit("benchmark check failed: no py_transform_points_100k/cpp in the C++ results")
    counters = cpp[0]
    check("py_transform_points_100k first point", placed[0],
          [counters["first_%d" % c] for c in range(3)])
    check("py_transform_points_100k last point", placed[-1],
          [counters["last_%d" % c] for c in range(3)])
    check("py_transform_points_100k sum", placed.astype(np.float64).sum(), counters["sum"])
    return timed("py_transform_points_100k/zelvane",
                 lambda: graph.transform_points(points, "F3", "F0", QUERY_TIME))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpp", required=True, help="bench_frames' JSON output")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    with open(args.cpp) as f:
        cpp_results = json.load(f)
    benchmarks = lookup_case() + points_case(cpp_results)
    context = dict(cpp_results["context"], executable=__file__,
                   python=sys.version.split()[0], numpy=np.__version__)
    with open(args.out, "w") as f:
        json.dump({"context": context, "benchmarks": benchmarks}, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
