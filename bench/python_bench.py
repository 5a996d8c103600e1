#!/usr/bin/env python3
"""Benchmarks of the Python package against what Python users would use instead,
written in Google Benchmark's JSON layout so that bench/report.py merges them with
the C++ results (named <case>/zelvane and <case>/<peer>).

    python_bench.py --cpp BENCH_FRAMES_JSON --frame TRACKER_FRAME_JSON \
                    --gated GATED_JSON --out RESULT_JSON

- py_lookup_chain3_interp: an interpolated lookup along a 3-edge chain, against
  tf2_py's BufferCore from Python (Debian's python3-tf2);
- py_transform_points_100k: placing 100,000 points between two frames at one time,
  against the C++ library doing the same with Eigen (the case
  py_transform_points_100k/cpp of bench_frames, whose output it checks first);
- py_lookup_many_10000: the chain's transforms at 10,000 times as (4, 4) matrices in
  one call, against a lookup and an ``as_matrix`` per time in a Python loop (whose
  matrices it checks first to be the same, bit for bit);
- py_overlap_pairs_300: the overlapping pairs of the tracker frame of the C++ case
  tracker_frame_300 (300 tracks, their 300 moved and turned copies and 30 clutter
  detections, written by `bench_tracker_frame` with its pairs), from the
  (N, 7) arrays, against the same frame scored pair by pair with Shapely polygons
  (python3-shapely) and with OpenCV's rotatedRectangleIntersection (python3-opencv).

- assign_dense_300, assign_dense_1000: SciPy's linear_sum_assignment on the uniform
  costs that the C++ cases solve (assignment_costs.h, reproduced here bit for bit);
- assign_gated_4000: the gated candidates of the C++ case (written by
  `bench_tracker_frame`), as a Python tracker hands them to SciPy today: a dense
  4000 x 4000 matrix with a large cost where no pair was listed (`scipy`), and
  min_weight_full_bipartite_matching on the candidates without a limit
  (`scipy_sparse`, which needs a full matching);
- py_associate_300: `zelvane.associate` on the frame of py_overlap_pairs_300, against
  the usual pipeline of Python trackers: the overlap matrix filled pair by pair with
  Shapely polygons, SciPy's solver, the matches below the threshold dropped, the
  unmatched listed (`shapely_scipy`).
- py_track_kitti_car: the Car run of the C++ case track_kitti_car (bench_track) with
  `zelvane.Tracker.step`, frame by frame from arrays made beforehand, checked first to
  report as many tracks with the same ids as the C++ run; its goal is per frame, against
  the C++ case's time per frame. Skipped without the shared data.

Both sides get identical inputs and are checked for agreement before timing. Each
case is timed in 5 repetitions of at least 0.2 s, as the C++ benchmarks are, and the
repetitions of a case and its peers take turns, as those of a C++ binary do.
"""

import argparse
import json
import pathlib
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
# OpenCV intersects in single precision and merges intersection points closer than
# 1e-6 times the larger rectangle's area, which moves one pair of the tracker frame
# by 5.4e-5 (0.830122 against 0.830177, which Shapely's double-precision polygons
# confirm to 1e-5); the C++ case tracker_frame_300 allows the same.
OPENCV_TOLERANCE = 1e-4
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


def calibrated(call):
    """The number of calls of `call` that takes at least MIN_TIME_NS."""
    iterations = 1
    while True:
        start = time.perf_counter_ns()
        for _ in range(iterations):
            call()
        elapsed = time.perf_counter_ns() - start
        if elapsed >= MIN_TIME_NS:
            return iterations
        iterations = max(2 * iterations, int(iterations * 1.2 * MIN_TIME_NS / max(elapsed, 1)))


def timed(*cases):
    """Google Benchmark entries for each case, a (name, call) or (name, call, counters)
    tuple: REPETITIONS runs of a calibrated count, each with the counters (a dict of
    numbers) as Google Benchmark writes its counters. The repetitions of the cases take
    turns, as Google Benchmark's random interleaving runs those of a binary, so that a
    case and the peers it is compared with share the states the machine goes through."""
    plans = [(case[0], case[1], case[2] if len(case) > 2 else {}, calibrated(case[1]))
             for case in cases]
    times = {name: [] for name, _, _, _ in plans}
    for repetition in range(REPETITIONS):
        for k in range(len(plans)):  # each repetition starts with the next case
            name, call, _, iterations = plans[(repetition + k) % len(plans)]
            start = time.perf_counter_ns()
            for _ in range(iterations):
                call()
            times[name].append((time.perf_counter_ns() - start) / iterations)
    entries = []
    for name, _, counters, iterations in plans:
        for repetition, value in enumerate(times[name]):
            entries.append(dict(counters, name=name, run_name=name, run_type="iteration",
                                repetitions=REPETITIONS, repetition_index=repetition,
                                threads=1, iterations=iterations, real_time=value,
                                cpu_time=value, time_unit="ns"))
        for aggregate, value in (("mean", statistics.mean(times[name])),
                                 ("median", statistics.median(times[name])),
                                 ("stddev", statistics.stdev(times[name]))):
            entries.append(dict(counters, name=name + "_" + aggregate, run_name=name,
                                run_type="aggregate", repetitions=REPETITIONS, threads=1,
                                aggregate_name=aggregate, iterations=REPETITIONS,
                                real_time=value, cpu_time=value, time_unit="ns"))
        print("%-40s %12.1f ns" % (name, statistics.median(times[name])), flush=True)
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
    return timed(("py_lookup_chain3_interp/zelvane",
                  lambda: graph.lookup("F3", "F0", QUERY_TIME)),
                 ("py_lookup_chain3_interp/tf2",
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
    return timed(("py_transform_points_100k/zelvane",
                  lambda: graph.transform_points(points, "F3", "F0", QUERY_TIME)))


def lookup_many_case():
    """10,000 rising times across the chain's history as matrices: in one call, and as
    a Python user without it writes them (a lookup and a matrix per time)."""
    graph = zelvane_graph()
    span = sample_time(SAMPLES - 1) - sample_time(0)
    times = sample_time(0) + 7 + span * np.arange(10000, dtype=np.int64) // 10000
    many = graph.lookup_many_matrices("F3", "F0", times)
    single = [graph.lookup("F3", "F0", int(t)).as_matrix() for t in times]
    if not many.ok.all() or many.matrices.tobytes() != np.array(single).tobytes():
        sys.exit("benchmark check failed: py_lookup_many_10000: batch and single lookups differ")
    return timed(("py_lookup_many_10000/zelvane",
                  lambda: graph.lookup_many_matrices("F3", "F0", times)),
                 ("py_lookup_many_10000/single",
                  lambda: [graph.lookup("F3", "F0", t).as_matrix() for t in times.tolist()]))


def bounding_circles_meet(a, b):
    """The candidate pairs (i, j) whose circles around the footprints meet, with NumPy:
    what a Python user computes before any per-pair polygon work."""
    radius_a = 0.5 * np.hypot(a[:, 4], a[:, 5])
    radius_b = 0.5 * np.hypot(b[:, 4], b[:, 5])
    dx = a[:, None, 0] - b[None, :, 0]
    dy = a[:, None, 1] - b[None, :, 1]
    reach = radius_a[:, None] + radius_b[None, :]
    return np.nonzero(dx * dx + dy * dy <= reach * reach)


def footprint_corners(boxes):
    """(N, 4, 2) corners of the boxes' footprints in double precision, by NumPy."""
    c, s = np.cos(boxes[:, 3]), np.sin(boxes[:, 3])
    half_length, half_width = boxes[:, 4] / 2, boxes[:, 5] / 2
    along = np.array([1, 1, -1, -1])[None, :] * half_length[:, None]
    across = np.array([1, -1, -1, 1])[None, :] * half_width[:, None]
    return np.stack([boxes[:, None, 0] + along * c[:, None] - across * s[:, None],
                     boxes[:, None, 1] + along * s[:, None] + across * c[:, None]], axis=2)


def shapely_pairs(tracks, detections):
    """Shapely 1.8 as Python users score a frame today: a polygon per box, the
    candidates by bounding circles, then intersection over union pair by pair."""
    from shapely.geometry import Polygon

    a = tracks.astype(np.float64)
    b = detections.astype(np.float64)
    polygons_a = [Polygon(corners) for corners in footprint_corners(a)]
    polygons_b = [Polygon(corners) for corners in footprint_corners(b)]
    pairs = []
    for i, j in zip(*(k.tolist() for k in bounding_circles_meet(a, b))):
        p, q = polygons_a[i], polygons_b[j]
        common = p.intersection(q).area
        if common > 0:
            pairs.append((i, j, common / (p.area + q.area - common)))
    return pairs


def opencv_pairs(tracks, detections):
    """OpenCV's rotatedRectangleIntersection over the candidates by bounding circles,
    as the C++ case tracker_frame_300/opencv does it."""
    import cv2

    def rectangles(boxes):
        return [((x, y), (length, width), np.degrees(heading))
                for x, y, heading, length, width in boxes[:, [0, 1, 3, 4, 5]].tolist()]

    a = tracks.astype(np.float64)
    b = detections.astype(np.float64)
    rects_a, rects_b = rectangles(a), rectangles(b)
    area_a, area_b = (a[:, 4] * a[:, 5]).tolist(), (b[:, 4] * b[:, 5]).tolist()
    pairs = []
    for i, j in zip(*(k.tolist() for k in bounding_circles_meet(a, b))):
        kind, region = cv2.rotatedRectangleIntersection(rects_a[i], rects_b[j])
        if kind == cv2.INTERSECT_NONE:
            continue
        common = cv2.contourArea(region)
        if common > 0:
            pairs.append((i, j, common / (area_a[i] + area_b[j] - common)))
    return pairs


def check_pairs(what, ours, peer, tolerance):
    """Every pair of either side: the same value within `tolerance` (0 where a side
    reports no pair)."""
    mine = {(i, j): v for i, j, v in ours}
    theirs = {(i, j): v for i, j, v in peer}
    for key in sorted(set(mine) | set(theirs)):
        check("%s pair %s" % (what, key), mine.get(key, 0.0), theirs.get(key, 0.0), tolerance)


def warm_heap():
    """Frees one array larger than the peers' NumPy temporaries (300 x 330 doubles), as
    any process that has held such an array has: glibc then serves them from its heap
    instead of mapping fresh pages for every one, which costs a cold process about 17 ms
    a frame on this machine. The peers are timed at their best, whatever ran before."""
    np.ones((1000, 1000)).sum()


def overlap_case(frame_file):
    warm_heap()
    with open(frame_file) as f:
        frame = json.load(f)
    tracks = np.array(frame["tracks"], np.float32)
    detections = np.array(frame["detections"], np.float32)
    expected = [tuple(p) for p in frame["pairs"]]
    ours = zelvane.overlap_pairs(tracks, detections)
    pairs = list(zip(ours.first.tolist(), ours.second.tolist(), ours.value.tolist()))
    if pairs != expected:
        sys.exit("benchmark check failed: py_overlap_pairs_300: the pairs differ from those of "
                 "tracker_frame_300 (%d against %d)" % (len(pairs), len(expected)))
    # Shapely works on double-precision corners of the same rows; the library on the
    # corners it computes in single precision, a float step apart at 100 m.
    check_pairs("py_overlap_pairs_300 (shapely)", pairs, shapely_pairs(tracks, detections),
                1e-5)
    check_pairs("py_overlap_pairs_300 (opencv)", pairs, opencv_pairs(tracks, detections),
                OPENCV_TOLERANCE)
    return timed(("py_overlap_pairs_300/zelvane",
                  lambda: zelvane.overlap_pairs(tracks, detections)),
                 ("py_overlap_pairs_300/shapely", lambda: shapely_pairs(tracks, detections)),
                 ("py_overlap_pairs_300/opencv", lambda: opencv_pairs(tracks, detections)))


def uniform_costs(n):
    """The costs of assign_dense_<n>, as tracker_bench::denseCosts makes them."""
    k = np.arange(n * n, dtype=np.uint64)
    with np.errstate(over="ignore"):
        z = np.uint64(n) + (k + np.uint64(1)) * np.uint64(0x9E3779B97F4A7C15)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        z ^= z >> np.uint64(31)
    return ((z >> np.uint64(11)).astype(np.float64) * 2.0 ** -53).reshape(n, n)


def dense_case():
    from scipy.optimize import linear_sum_assignment

    entries = []
    for n in (300, 1000):
        costs = uniform_costs(n)
        r, c = linear_sum_assignment(costs)
        ours = zelvane.linear_sum_assignment(costs)
        check("assign_dense_%d total" % n, costs[ours].sum(), costs[r, c].sum(), 1e-9)
        entries += timed(("assign_dense_%d/scipy" % n, lambda: linear_sum_assignment(costs)))
    return entries


def gated_case(gated_file):
    from scipy.optimize import linear_sum_assignment
    from scipy.sparse import csr_matrix
    from scipy.sparse.csgraph import min_weight_full_bipartite_matching

    warm_heap()
    with open(gated_file) as f:
        gated = json.load(f)
    n = gated["count"]
    row, col, cost = (np.array(v) for v in zip(*gated["candidates"]))
    row, col = row.astype(np.intp), col.astype(np.intp)
    limit = 1.0 - gated["min_overlap"]
    unlisted = 1e6
    dense = np.full((n, n), unlisted)
    dense[row, col] = cost
    graph = csr_matrix((cost, (row, col)), shape=(n, n))

    def scipy_dense():
        r, c = linear_sum_assignment(dense)
        keep = dense[r, c] < limit
        return r[keep], c[keep]

    # Without a limit both find the same optimum; with it, the library's total is at
    # most that of dropping SciPy's matches at or above the limit.
    ours = zelvane.sparse_assignment(row, col, cost, (n, n))
    r, c = min_weight_full_bipartite_matching(graph)
    check("assign_gated_4000 total", dense[ours].sum(), dense[r, c].sum(), 1e-9)
    limited = zelvane.sparse_assignment(row, col, cost, (n, n), cost_limit=limit)
    kept = scipy_dense()
    if (dense[limited].sum() + limit * (n - len(limited[0]))
            > dense[kept].sum() + limit * (n - len(kept[0])) + 1e-9):
        sys.exit("benchmark check failed: assign_gated_4000: worse than SciPy's")
    return timed(("assign_gated_4000/scipy", scipy_dense),
                 ("assign_gated_4000/scipy_sparse",
                  lambda: min_weight_full_bipartite_matching(graph)))


def shapely_scipy_associate(tracks, detections, threshold):
    """The usual Python pipeline for a frame: the overlap matrix filled pair by pair
    with Shapely polygons, SciPy's solver on 1 - overlap, the matches at or below the
    threshold dropped, the rest listed as unmatched."""
    from scipy.optimize import linear_sum_assignment
    from shapely.geometry import Polygon

    polygons_a = [Polygon(corners) for corners in footprint_corners(tracks.astype(np.float64))]
    polygons_b = [Polygon(corners)
                  for corners in footprint_corners(detections.astype(np.float64))]
    overlap = np.zeros((len(tracks), len(detections)))
    for i, p in enumerate(polygons_a):
        for j, q in enumerate(polygons_b):
            common = p.intersection(q).area
            if common > 0:
                overlap[i, j] = common / (p.area + q.area - common)
    r, c = linear_sum_assignment(1.0 - overlap)
    keep = overlap[r, c] > threshold
    r, c = r[keep], c[keep]
    return (r, c, overlap[r, c], np.setdiff1d(np.arange(len(tracks)), r),
            np.setdiff1d(np.arange(len(detections)), c))


def associate_case(frame_file):
    from scipy.optimize import linear_sum_assignment

    warm_heap()
    with open(frame_file) as f:
        frame = json.load(f)
    tracks = np.array(frame["tracks"], np.float32)
    detections = np.array(frame["detections"], np.float32)
    threshold = 0.1
    ours = zelvane.associate(tracks, detections, threshold=threshold)
    # The library's matches have the best total margin over the threshold.
    overlap = zelvane.overlap_matrix(tracks, detections)
    gain = np.where(overlap > threshold, overlap - threshold, 0.0)
    r, c = linear_sum_assignment(-gain)
    check("py_associate_300 total", gain[ours.track, ours.detection].sum(), gain[r, c].sum(),
          1e-9)
    theirs = shapely_scipy_associate(tracks, detections, threshold)
    check("py_associate_300 matches", len(ours.track), len(theirs[0]))
    return timed(("py_associate_300/zelvane",
                  lambda: zelvane.associate(tracks, detections, threshold=threshold)),
                 ("py_associate_300/shapely_scipy",
                  lambda: shapely_scipy_associate(tracks, detections, threshold)))


KITTI = pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "data" / "kitti-tracking"
KITTI_SEQUENCES = [("0001", 447), ("0006", 270), ("0008", 390), ("0010", 294), ("0012", 78),
                   ("0013", 340)]
FRAME_PERIOD = 0.1


def kitti_car_frames():
    """Each sequence's car detections, frame by frame, as the arguments of ``step``."""
    sequences = []
    for name, count in KITTI_SEQUENCES:
        found = zelvane.read_tracking_file(
            KITTI / "detection" / "pointrcnn_Car_val" / (name + ".txt"), format="detections")
        boxes = zelvane.boxes_from_camera(found["location"], found["dimensions"],
                                          found["rotation_y"])
        scores = found["score"].astype(np.float32)
        frames = []
        for f in range(count):
            at = found["frame"] == f
            frames.append((f * FRAME_PERIOD, boxes[at], scores[at], found["bbox"][at]))
        sequences.append(frames)
    return sequences


def kitti_car_run(sequences, car):
    """The Car run with the parameters `car`; the boxes reported and the sum of their ids."""
    reported = id_sum = 0
    for frames in sequences:
        tracker = zelvane.Tracker([car])
        for time_, boxes, scores, images in frames:
            tracks = tracker.step(time_, boxes, scores, image_boxes=images)
            reported += len(tracks.ids)
            id_sum += int(tracks.ids.sum())
    return reported, id_sum


def track_case(track_file):
    if not (KITTI / "detection").exists():
        print("py_track_kitti_car: skipped, shared data not found at %s" % KITTI, flush=True)
        return []
    with open(track_file) as f:
        cpp = [b for b in json.load(f)["benchmarks"]
               if b["run_name"].startswith("track_kitti_car/zelvane")]
    if not cpp:
        sys.exit("benchmark check failed: track_kitti_car/zelvane is not in %s" % track_file)
    settings = pathlib.Path(__file__).resolve().parents[1] / "examples" / "tracker_kitti.xml"
    sequences = kitti_car_frames()
    # The Car class alone, as the C++ case runs it.
    car = next(c for c in zelvane.Tracker.from_settings(settings).classes if c["name"] == "Car")
    reported, id_sum = kitti_car_run(sequences, car)
    check("py_track_kitti_car reported", reported, cpp[0]["reported"], 0)
    check("py_track_kitti_car id sum", id_sum, cpp[0]["id_sum"], 0)
    frames = sum(len(s) for s in sequences)
    return timed(("py_track_kitti_car/zelvane", lambda: kitti_car_run(sequences, car),
                  {"frames": frames}))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpp", required=True, help="bench_frames' JSON output")
    parser.add_argument("--frame", required=True,
                        help="the tracker frame written by bench_tracker_frame")
    parser.add_argument("--gated", required=True,
                        help="the candidates of assign_gated_4000 by bench_tracker_frame")
    parser.add_argument("--track", required=True, help="bench_track's JSON output")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    with open(args.cpp) as f:
        cpp_results = json.load(f)
    benchmarks = (lookup_case() + points_case(cpp_results) + lookup_many_case()
                  + overlap_case(args.frame) + dense_case() + gated_case(args.gated)
                  + associate_case(args.frame) + track_case(args.track))
    context = dict(cpp_results["context"], executable=__file__,
                   python=sys.version.split()[0], numpy=np.__version__,
                   scipy=__import__("scipy").__version__)
    with open(args.out, "w") as f:
        json.dump({"context": context, "benchmarks": benchmarks}, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
