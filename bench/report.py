#!/usr/bin/env python3
"""Merges Google Benchmark JSON outputs into one results file and writes the
performance page: medians, ratios to each peer against their goals, memory, the
machine, and a plot of lookup time against chain length and graph size."""

import argparse
import json
import os
import platform
import re
import subprocess
import sys
import tempfile

# (case, peer, highest allowed ratio of medians zelvane / peer)
GOALS = [
    ("lookup_chain3_interp", "tf2", 0.5),
    ("lookup_chain10_interp", "tf2", 0.5),
    ("lookup_chain3_static", "tf2", 0.5),
    ("lookup_tree1000_interp", "tf2", 0.5),
    ("lookup_fixed_frame", "tf2", 0.5),
    ("register_sample", "tf2", 1.0),
    ("iou_pair_overlap", "opencv", 0.5),
    ("iou_pair_apart", "opencv", 0.05),
    ("iou_matrix_200x200", "opencv", 0.05),
    ("tracker_frame_300", "opencv", 0.3),
    ("gate_distance_300", "loop", 0.05),
    ("emit_1_slot", "signals2", 0.15),
    ("emit_10_slots", "signals2", 0.3),
    ("py_lookup_chain3_interp", "tf2", 0.5),
    ("py_transform_points_100k", "cpp", 1.5),
    ("py_overlap_pairs_300", "shapely", 0.01),
    ("py_overlap_pairs_300", "opencv", 0.05),
    ("lookup_many_10000", "single", 0.5),
    ("deskew_100k", "one_time", 3.0),
    ("queue_release", "lookup", 2.0),
    ("wait_ready", "lookup", 1.3),
    ("assign_dense_300", "scipy", 0.5),
    ("assign_dense_1000", "scipy", 0.35),
    ("assign_gated_4000", "scipy", 0.01),
    ("assign_gated_4000", "scipy_sparse", 0.5),
    ("associate_frame_300", "overlap_pairs", 1.5),
    ("py_associate_300", "shapely_scipy", 0.002),
    ("track_frame_300", "associate", 1.5),
]
# (case, least frames per second, what the goal is): the case's counter "frames" over
# its median time.
FRAME_RATE_GOALS = [
    ("track_kitti_car", 18760.0, "200 x the published Python tracker's 93.8 frames/s on this machine"),
]
# (case, peer case, factor, allowance in ns per frame): the case's time per frame (its
# median over its counter "frames") at most factor x the peer case's plus the allowance.
PER_FRAME_GOALS = [
    ("py_track_kitti_car", "track_kitti_car", 1.5, 20000.0),
]
# (larger case, smaller case, highest allowed ratio of their medians)
SCALING_GOALS = [("load_transforms_2000", "load_transforms_1000", 2.3),
                 ("overlap_pairs_8000", "overlap_pairs_1000", 12.0),
                 ("queue_registration_10000_pending", "queue_registration_100_pending", 2.0),
                 ("assign_gated_8000", "assign_gated_1000", 12.0)]

# (case, longest allowed median in seconds, where the limit comes from): absolute time
# limits, for work whose peer is a program too slow to run beside the benchmarks.
TIME_GOALS = [("track_eval_reference", 0.56,
               "1 % of the 56 s the benchmark's own evaluator takes for the same work "
               "on this kind of machine (shared/data/kitti-tracking/reference/README.md)")]
SCALING_GOALS.append(("track_eval_sequence_x10", "track_eval_sequence_x1", 11.0))

CHAIN_POINTS = [(1, "plot_chain_interp_1"), (2, "plot_chain_interp_2"),
                (3, "lookup_chain3_interp"), (5, "plot_chain_interp_5"),
                (10, "lookup_chain10_interp"), (20, "plot_chain_interp_20"),
                (50, "plot_chain_interp_50")]
TREE_POINTS = [(10, "plot_tree_interp_10"), (100, "plot_tree_interp_100"),
               (1000, "lookup_tree1000_interp"), (10000, "plot_tree_interp_10000")]

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(parts):
    context = None
    benchmarks = []
    for path in parts:
        with open(path) as f:
            data = json.load(f)
        if context is None:
            context = data["context"]
        benchmarks.extend(data["benchmarks"])
    return {"context": context, "benchmarks": benchmarks}


def medians(results):
    """run_name -> median entry (the real time converted to nanoseconds)."""
    found = {}
    for b in results["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
            entry = dict(b)
            entry["ns"] = b["real_time"] * UNIT_NS[b.get("time_unit", "ns")]
            found[re.sub(r"/iterations:\d+$", "", b["run_name"])] = entry
    return found


def fmt_time(ns):
    if ns >= 1e6:
        return "%.2f ms" % (ns / 1e6)
    if ns >= 1e3:
        return "%.2f us" % (ns / 1e3)
    return "%.1f ns" % ns


def machine(context):
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = ""
    try:
        with open("/proc/meminfo") as f:
            kb = int(re.search(r"MemTotal:\s+(\d+)", f.read()).group(1))
            memory = ", %.0f GiB memory" % (kb / 1024 / 1024)
    except (OSError, AttributeError):
        pass
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()
    return "%s, %d cores%s; %s %s; %s; code under test built in Release (the Google Benchmark package itself reports a %s build); run %s" % (
        model, context.get("num_cpus", 0), memory, platform.system(), platform.release(),
        compiler[0] if compiler else "unknown compiler",
        context.get("library_build_type", "?"), context.get("date", "?"))


def plot(found, path):
    def series(points, lib):
        return [(x, found[name + "/" + lib]["ns"]) for x, name in points
                if name + "/" + lib in found]

    with tempfile.TemporaryDirectory() as tmp:
        files = {}
        for label, points in (("chain", CHAIN_POINTS), ("tree", TREE_POINTS)):
            for lib in ("zelvane", "tf2"):
                data = series(points, lib)
                file = os.path.join(tmp, "%s_%s.dat" % (label, lib))
                with open(file, "w") as f:
                    for x, y in data:
                        f.write("%g %g\n" % (x, y))
                files[(label, lib)] = (file, bool(data))

        def lines(label):
            parts = []
            for lib, style in (("zelvane", "lc rgb '#1f77b4' pt 7"), ("tf2", "lc rgb '#d62728' pt 5")):
                file, present = files[(label, lib)]
                if present:
                    parts.append("'%s' using 1:2 with linespoints %s lw 2 title '%s'" % (file, style, lib))
            return ", ".join(parts)

        script = """
set terminal pngcairo size 1100,450 font 'sans,10'
set output '%s'
set multiplot layout 1,2 title 'Interpolated lookup, median time per call'
set grid
set key top left
set logscale y
set ylabel 'ns per lookup'
set xlabel 'edges on the path (chain length)'
set logscale x
plot %s
set xlabel 'frames in the graph (3-edge query)'
plot %s
unset multiplot
""" % (path, lines("chain"), lines("tree"))
        subprocess.run(["gnuplot"], input=script, text=True, check=True)


def frame_rate(entry):
    """Frames per second of a case that counts its frames."""
    return entry["frames"] / (entry["ns"] * 1e-9)


def per_frame_ns(entry):
    return entry["ns"] / entry["frames"]


def goal_ratios(found):
    """(label, ratio, goal) of every goal measured in this run."""
    rows = []
    for case, rate, _ in FRAME_RATE_GOALS:
        ours = found.get(case + "/zelvane")
        if ours:
            rows.append(("%s (frames/s)" % case, rate / frame_rate(ours), 1.0))
    for case, peer, factor, allowance in PER_FRAME_GOALS:
        ours, theirs = found.get(case + "/zelvane"), found.get(peer + "/zelvane")
        if ours and theirs:
            limit = factor * per_frame_ns(theirs) + allowance
            rows.append(("%s (per frame)" % case, per_frame_ns(ours) / limit, 1.0))
    for case, peer, goal in GOALS:
        ours, theirs = found.get(case + "/zelvane"), found.get(case + "/" + peer)
        if ours and theirs:
            rows.append(("%s (/%s)" % (case, peer), ours["ns"] / theirs["ns"], goal))
    for big, small, goal in SCALING_GOALS:
        if big + "/zelvane" in found and small + "/zelvane" in found:
            rows.append(("%s / %s" % (big, small),
                         found[big + "/zelvane"]["ns"] / found[small + "/zelvane"]["ns"], goal))
    for case, seconds, _ in TIME_GOALS:
        if case + "/zelvane" in found:
            rows.append(("%s (s)" % case, found[case + "/zelvane"]["ns"] / 1e9, seconds))
    return rows


def plot_ratios(found, path):
    """Bars of each measured ratio as a fraction of its goal: below 1 meets it."""
    rows = goal_ratios(found)
    if not rows:
        return
    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "ratios.dat")
        with open(data, "w") as f:
            for i, (label, ratio, goal) in enumerate(rows):
                f.write('%d "%s" %g\n' % (len(rows) - 1 - i, label, ratio / goal))
        script = """
set terminal pngcairo size 1100,%d font 'sans,10' noenhanced
set output '%s'
set title 'Each ratio as a fraction of its goal (bars left of the line meet the goal)'
set grid xtics
set logscale x
set xrange [0.05:4]
set yrange [-0.7:%f]
set ytics nomirror
set xlabel 'ratio / goal'
set style fill solid 0.8
set arrow from 1, graph 0 to 1, graph 1 nohead lc rgb '#d62728' lw 2
plot '%s' using (sqrt($3*0.05)):1:(0.05):($3):($1-0.35):($1+0.35):ytic(2) with boxxyerror lc rgb '#1f77b4' notitle
""" % (120 + 32 * len(rows), path, len(rows) - 0.3, data)
        subprocess.run(["gnuplot"], input=script, text=True, check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", required=True)
    parser.add_argument("--markdown", required=True)
    parser.add_argument("--plot", required=True)
    parser.add_argument("--ratios-plot", required=True)
    parser.add_argument("parts", nargs="+")
    args = parser.parse_args()

    results = load(args.parts)
    with open(args.results, "w") as f:
        json.dump(results, f, indent=2)
    found = medians(results)

    out = []
    out.append("# Performance\n")
    out.append("Generated by `bench/run` from `bench/results.json` (Google Benchmark, 5 repetitions "
               "interleaved with those of the other cases, medians). Peers run in the same binaries on identical inputs, after a check that both "
               "give the same answer: within 1e-6 for tf2 and Signals2, within 1e-5 for OpenCV's "
               "single-precision rectangles, bit for bit against the plain loops over this library's "
               "own single-pair calls.\n")
    out.append("Machine: %s.\n" % machine(results["context"]))
    out.append("## Against the libraries users would pick instead\n")
    out.append("| case | zelvane | peer | peer median | ratio | goal | met |")
    out.append("| --- | ---: | --- | ---: | ---: | ---: | --- |")
    missed = []
    for case, peer, goal in GOALS:
        ours = found.get(case + "/zelvane")
        theirs = found.get(case + "/" + peer)
        if ours is None:
            out.append("| `%s` | not run | %s | | | <= %g | no |" % (case, peer, goal))
            if case not in missed:
                missed.append(case)
            continue
        if theirs is None:
            out.append("| `%s` | %s | %s | not installed | | <= %g | ? |" % (case, fmt_time(ours["ns"]), peer, goal))
            continue
        ratio = ours["ns"] / theirs["ns"]
        ok = ratio <= goal
        if not ok:
            missed.append("%s (/%s)" % (case, peer))
        out.append("| `%s` | %s | %s | %s | %.3f | <= %g | %s |" % (
            case, fmt_time(ours["ns"]), peer, fmt_time(theirs["ns"]), ratio, goal, "yes" if ok else "**no**"))
    for case, rate, note in FRAME_RATE_GOALS:
        ours = found.get(case + "/zelvane")
        if ours is None:
            out.append("| `%s` | not run | frame rate | | | >= %.0f frames/s | no |" % (case, rate))
            missed.append(case)
            continue
        ok = frame_rate(ours) >= rate
        if not ok:
            missed.append(case)
        out.append("| `%s` | %s (%.0f frames/s) | frame rate | %s | | >= %.0f frames/s | %s |" % (
            case, fmt_time(ours["ns"]), frame_rate(ours), note, rate, "yes" if ok else "**no**"))
    for case, peer, factor, allowance in PER_FRAME_GOALS:
        ours, theirs = found.get(case + "/zelvane"), found.get(peer + "/zelvane")
        if ours is None or theirs is None:
            out.append("| `%s` | not run | `%s` | | | <= %g x + %s a frame | no |" % (
                case, peer, factor, fmt_time(allowance)))
            missed.append(case)
            continue
        limit = factor * per_frame_ns(theirs) + allowance
        ok = per_frame_ns(ours) <= limit
        if not ok:
            missed.append(case)
        out.append("| `%s` | %s a frame | `%s` | %s a frame | %.3f of the limit | <= %g x + %s a frame | %s |" % (
            case, fmt_time(per_frame_ns(ours)), peer, fmt_time(per_frame_ns(theirs)),
            per_frame_ns(ours) / limit, factor, fmt_time(allowance), "yes" if ok else "**no**"))
    for big, small, goal in SCALING_GOALS:
        if big + "/zelvane" not in found or small + "/zelvane" not in found:
            out.append("| `%s` / `%s` | not run | | | | <= %g | no |" % (big, small, goal))
            missed.append(big)
            continue
        ratio = found[big + "/zelvane"]["ns"] / found[small + "/zelvane"]["ns"]
        ok = ratio <= goal
        if not ok:
            missed.append(big)
        out.append("| `%s` / `%s` | %s / %s | | | %.3f | <= %g | %s |" % (
            big, small, fmt_time(found[big + "/zelvane"]["ns"]), fmt_time(found[small + "/zelvane"]["ns"]),
            ratio, goal, "yes" if ok else "**no**"))
    for case, seconds, reason in TIME_GOALS:
        ours = found.get(case + "/zelvane")
        if ours is None:
            out.append("| `%s` | not run (needs ../shared) | | | | <= %g s | no |" % (case, seconds))
            missed.append(case)
            continue
        ok = ours["ns"] <= seconds * 1e9
        if not ok:
            missed.append(case)
        out.append("| `%s` | %s | time limit | %g s | %.3f | <= 1 | %s |" % (
            case, fmt_time(ours["ns"]), seconds, ours["ns"] / (seconds * 1e9), "yes" if ok else "**no**"))
    out.append("")
    for case, seconds, reason in TIME_GOALS:
        out.append("`%s` has an absolute limit of %g s: %s.\n" % (case, seconds, reason))
    out.append("Goals not reached in this run: %s.\n" % (", ".join("`%s`" % m for m in missed) if missed else "none"))
    out.append("![ratios against their goals](%s)\n" % os.path.basename(args.ratios_plot))

    out.append("## Lookup time against chain length and graph size\n")
    out.append("![lookup scaling](%s)\n" % os.path.basename(args.plot))
    out.append("| series | size | zelvane | tf2 |")
    out.append("| --- | ---: | ---: | ---: |")
    for label, points in (("chain length", CHAIN_POINTS), ("frames in graph", TREE_POINTS)):
        for x, name in points:
            ours = found.get(name + "/zelvane")
            theirs = found.get(name + "/tf2")
            out.append("| %s | %d | %s | %s |" % (label, x, fmt_time(ours["ns"]) if ours else "-",
                                                 fmt_time(theirs["ns"]) if theirs else "-"))
    out.append("")

    memory = found.get("memory_steady_state/zelvane")
    out.append("## Memory\n")
    if memory:
        out.append("Ten edges (a chain of eleven frames) fed a 1 kHz stream of nanosecond time stamps for "
                   "12 s, past the 10 s history window, so that every history holds its steady-state size "
                   "(each registration stores a sample on both directed edges).\n")
        out.append("| measure | value |")
        out.append("| --- | ---: |")
        out.append("| samples held | %.0f |" % memory["samples_stored"])
        out.append("| memory of the manager (heap bytes in use, all resident) | %.1f MiB |" % (memory["manager_heap_bytes"] / 1048576.0))
        out.append("| bytes per stored sample | %.0f |" % memory["bytes_per_sample"])
        out.append("")
    else:
        out.append("Not measured in this run.\n")

    notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "notes.md")
    if os.path.exists(notes):
        with open(notes) as f:
            out.append(f.read().rstrip() + "\n")

    os.makedirs(os.path.dirname(os.path.abspath(args.markdown)), exist_ok=True)
    with open(args.markdown, "w") as f:
        f.write("\n".join(out))
    for draw, path in ((plot, args.plot), (plot_ratios, args.ratios_plot)):
        try:
            draw(found, path)
        except (OSError, subprocess.CalledProcessError) as e:
            print("plot %s not written: %s" % (path, e), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
