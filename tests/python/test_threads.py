"""The GIL is released in batch work, and one manager serves several Python threads."""

import sys
import threading
import time

import numpy as np
import pytest

import zelvane


@pytest.fixture
def short_switch_interval():
    before = sys.getswitchinterval()
    sys.setswitchinterval(1e-4)
    yield
    sys.setswitchinterval(before)


def ticks_during(call):
    """Runs `call` on a worker thread while this thread counts; returns the counts made
    in the middle half of the call. While a call holds the GIL no count can be made; a
    call that releases it may still see none on a busy machine, so up to three tries."""
    for _ in range(3):
        ticks = _ticks_during(call)
        if ticks:
            return ticks
    return 0


def _ticks_during(call):
    span = {}
    ticks = []

    def worker():
        span["start"] = time.perf_counter()
        call()
        span["end"] = time.perf_counter()

    thread = threading.Thread(target=worker)
    thread.start()
    while thread.is_alive():
        ticks.append(time.perf_counter())
    thread.join()
    quarter = (span["end"] - span["start"]) / 4
    return sum(span["start"] + quarter < t < span["end"] - quarter for t in ticks)


def test_batch_calls_release_the_gil(short_switch_interval):
    quaternions = np.tile(np.float32([0.1, 0.2, 0.3, 0.927]), (3_000_000, 1))
    assert ticks_during(lambda: zelvane.ypr_from_quaternion(quaternions,
                                                            convention="intrinsic")) > 0
    graph = zelvane.TransformManager()
    graph.set_transform("Sensor", "Body", zelvane.Pose([1, 2, 3]))
    points = np.ones((2_000_000, 3), np.float32)
    assert ticks_during(lambda: graph.transform_points(points, "Sensor", "Body", 0)) > 0


def test_one_manager_serves_several_threads():
    """Two threads register samples (odd and even times), two look up and place points,
    one renames and restores a frame. Every lookup sees a consistent graph, and no
    sample is lost."""
    graph = zelvane.TransformManager()
    graph.set_transform("Sensor", "Body", zelvane.Pose([1, 0, 0]))
    graph.set_transform("Body", "Global", zelvane.Pose([0, 0, 0]), time=0)
    samples = 2000
    failures = []

    def register(first):
        for t in range(first, samples + 1, 2):
            graph.set_transform("Body", "Global", zelvane.Pose([t, 0, 0]), time=t)

    def look_up():
        for _ in range(3000):
            pose = graph.lookup("Sensor", "Global", 0, method="most_recent")
            placed = graph.transform_points([[0, 0, 0]], "Sensor", "Global", 0, "most_recent")
            # The newest sample at time t puts the Body at x = t.
            if pose.position[0] != pose.timestamp + 1 or placed[0, 0] < 1:
                failures.append((pose, placed))

    def rename():
        for _ in range(200):
            graph.rename_frame("Global", "World")
            graph.rename_frame("World", "Global")

    threads = [threading.Thread(target=register, args=(1,)),
               threading.Thread(target=register, args=(2,)),
               threading.Thread(target=look_up), threading.Thread(target=look_up)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    renamer = threading.Thread(target=rename)
    renamer.start()
    while renamer.is_alive():
        frames = graph.frames
        if sorted(frames) not in (["Body", "Global", "Sensor"], ["Body", "Sensor", "World"]):
            failures.append(frames)
    renamer.join()

    assert not failures
    assert graph.history_size("Body", "Global") == samples + 1
    assert graph.lookup("Sensor", "Global", samples).position[0] == samples + 1
