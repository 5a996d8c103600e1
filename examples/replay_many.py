#!/usr/bin/env python3
"""Replays many drives at once: the same lookups over several pose files, in parallel.

Each pose file is one drive of the same vehicle. The replay of one drive copies the
vehicle's frame graph, reads the drive's poses into the copy and looks up where the
Sensor was in Global every ``step`` time units. The vehicle's graph is built once and
carried to the workers by pickling; nothing is read again from the settings file.

    replay_many.py [--vehicle FILE] [--step N] [--processes N] POSES.csv ...
    replay_many.py --dask [--workers N] POSES.csv ...         a LocalCluster
    replay_many.py --dask tcp://HOST:8786 POSES.csv ...       a running cluster

A pose file is given by its path or by a URL (file://, http://, https://, ftp://),
which each worker reads for itself. The drives run in parallel processes
(multiprocessing), or as tasks on a Dask cluster with a progress bar. Every way gives
the same results as the serial replay, one per file in the order given: a file that
cannot be replayed gives its error there, and the other files their results.
"""

import argparse
import contextlib
import copy
import multiprocessing
import os
import pathlib
import re
import shutil
import sys
import tempfile
import urllib.request
from typing import NamedTuple, Optional

import numpy as np

import zelvane

EXAMPLES = pathlib.Path(__file__).resolve().parent


class Replay(NamedTuple):
    """The replay of one drive: the Sensor's positions in Global at ``times``; or, for
    a drive that could not be replayed, ``error`` (the exception's type and message)
    with ``times`` and ``positions`` None."""

    source: str
    times: Optional[np.ndarray]
    positions: Optional[np.ndarray]
    error: Optional[str] = None


def is_url(source):
    return re.match(r"[A-Za-z][A-Za-z0-9+.-]*://", source) is not None


def absolute(sources):
    """The pose files as absolute paths (relative ones taken from this process's
    folder) or URLs, so that every worker reads the same files wherever it runs."""
    return [str(s) if is_url(str(s)) else os.path.abspath(s) for s in sources]


@contextlib.contextmanager
def local_file(source):
    """A local file with the content of ``source``: the file itself for an absolute
    path, a temporary copy of a URL's content. A relative path is refused: a worker
    cannot know the folder it was meant from."""
    if not is_url(source):
        if not os.path.isabs(source):
            raise ValueError("%s: a relative path; give an absolute path or a URL" % source)
        yield source
        return
    with urllib.request.urlopen(source) as response, \
            tempfile.NamedTemporaryFile(suffix=".csv") as copied:
        shutil.copyfileobj(response, copied)
        copied.flush()
        yield copied.name


def replay(source, vehicle, step=100):
    """One drive, read from ``source`` (an absolute path or a URL): a ``Replay``.

    ``vehicle`` is not changed: the drive goes into a copy of it. Any failure (a file
    that cannot be read, a bad line, no time at which Sensor and Global are joined)
    becomes the drive's ``error``, so that one bad file costs only its own result.
    """
    source = str(source)
    try:
        graph = copy.deepcopy(vehicle)
        with local_file(source) as path:
            try:
                graph.read_pose_csv(path)
            except ValueError as error:  # "file:line: reason", named as the caller gave it
                raise ValueError(str(error).replace(path, source, 1)) from None
        oldest, newest = graph.common_time_span("Sensor", "Global")
        times = np.arange(oldest, newest + 1, step)
        positions = np.array([graph.lookup("Sensor", "Global", int(t)).position for t in times])
    except Exception as error:  # any failure of this drive is this drive's result
        return Replay(source, None, None, "%s: %s" % (type(error).__name__, error))
    return Replay(source, times, positions.reshape(-1, 3))


def replay_serial(vehicle, sources, step=100):
    """Every drive, one after the other, in this process."""
    return [replay(source, vehicle, step) for source in absolute(sources)]


def replay_processes(vehicle, sources, step=100, processes=None):
    """Every drive in a pool of processes (default: one per core), in the order given.

    The vehicle goes to the workers pickled with each task. Worker processes are
    started fresh ("spawn"), which is safe whatever threads this process runs.
    """
    results = []
    with multiprocessing.get_context("spawn").Pool(processes) as pool:
        tasks = [(source, vehicle, step) for source in absolute(sources)]
        for result in pool.starmap(replay, tasks, chunksize=1):
            results.append(result)
    return results


def replay_dask(vehicle, sources, client, step=100, progress=True, task=replay):
    """Every drive as a task on the Dask cluster of ``client``, in the order given.

    The vehicle is sent to every worker once (``scatter``); each task copies it. A
    worker that is lost mid-way costs nothing: the scheduler runs its tasks again on
    the others, and each drive's result comes back once. ``task`` is the function run
    for each drive, ``replay`` unless given.
    """
    from dask.distributed import progress as progress_bar

    shared = client.scatter(vehicle, broadcast=True)
    futures = client.map(task, absolute(sources), vehicle=shared, step=step, pure=False)
    if progress:
        progress_bar(futures)
    return client.gather(futures)


def local_cluster(workers):
    """A cluster of ``workers`` processes of one thread each on this machine."""
    from dask.distributed import LocalCluster

    return LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                        host="127.0.0.1", dashboard_address=None)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("poses", nargs="+", help="pose files (paths or URLs), one drive each")
    parser.add_argument("--vehicle", default=EXAMPLES / "vehicle.xml",
                        help="settings file of the vehicle's frames (default: %(default)s)")
    parser.add_argument("--step", type=int, default=100, help="time between lookups")
    parser.add_argument("--processes", type=int, help="processes (default: one per core)")
    parser.add_argument("--dask", nargs="?", const="local", metavar="ADDRESS",
                        help="run on Dask: a LocalCluster, or the scheduler at ADDRESS")
    parser.add_argument("--workers", type=int, default=2, help="workers of a LocalCluster")
    args = parser.parse_args(argv)

    vehicle = zelvane.TransformManager.from_settings(args.vehicle)
    if args.dask:
        from dask.distributed import Client

        cluster = local_cluster(args.workers) if args.dask == "local" else None
        with Client(cluster if cluster else args.dask) as client:
            results = replay_dask(vehicle, args.poses, client, args.step)
        if cluster:
            cluster.close()
    else:
        results = replay_processes(vehicle, args.poses, args.step, args.processes)
    failed = 0
    for given, (_, times, positions, error) in zip(args.poses, results):
        if error is not None:
            failed += 1
            print("%s: %s" % (given, error), file=sys.stderr)
            continue
        travelled = np.linalg.norm(np.diff(positions, axis=0), axis=1).sum()
        print("%s: %d lookups from %d to %d, Sensor travelled %.1f" %
              (given, len(times), times[0], times[-1], travelled))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
