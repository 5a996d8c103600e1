"""Waiting for a transform from Python: the quiet query, the wait (GIL released,
interruptible) and the queue of Python objects."""

import _thread
import threading
import time

import pytest

import zelvane


def graph_with_navigation():
    graph = zelvane.TransformManager()
    graph.set_transform("Sensor", "Body", zelvane.Pose(position=(0, 0, 1)))
    graph.set_transform("Body", "Global", zelvane.Pose(position=(0, 0, 0)), 100)
    graph.set_transform("Body", "Global", zelvane.Pose(position=(1, 0, 0)), 200)
    return graph


def register_later(graph, time_stamp, x, delay=0.05):
    def register():
        time.sleep(delay)
        graph.set_transform("Body", "Global", zelvane.Pose(position=(x, 0, 0)), time_stamp)

    thread = threading.Thread(target=register)
    thread.start()
    return thread


def test_can_transform_answers_as_the_lookup_without_raising():
    graph = graph_with_navigation()
    assert graph.can_transform("Sensor", "Global", 150)
    assert not graph.can_transform("Sensor", "Global", 250)
    assert graph.can_transform("Sensor", "Global", 250, method="extrapolated")
    assert not graph.can_transform("Sensor", "Nowhere", 150)


def test_wait_returns_the_pose_once_another_thread_registers_it():
    graph = graph_with_navigation()
    thread = register_later(graph, 300, 2.0)
    pose = graph.wait_for_transform("Sensor", "Global", 250, timeout=10)
    thread.join()
    assert pose.position[0] == pytest.approx(1.5)
    assert pose.position[2] == pytest.approx(1.0)


def test_wait_times_out_with_the_lookups_error():
    graph = graph_with_navigation()
    start = time.monotonic()
    with pytest.raises(zelvane.OutOfRangeError) as raised:
        graph.wait_for_transform("Sensor", "Global", 250, timeout=0.2)
    assert 0.2 <= time.monotonic() - start < 1.0
    assert raised.value.available == (100, 200)


def test_ctrl_c_interrupts_the_wait_promptly():
    graph = graph_with_navigation()
    timer = threading.Timer(0.1, _thread.interrupt_main)
    timer.start()
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        graph.wait_for_transform("Sensor", "Global", 250, timeout=30)
    assert time.monotonic() - start < 0.1 + 0.4
    timer.join()


def test_queue_releases_through_the_callback_and_counts_drops():
    graph = graph_with_navigation()
    released, dropped = [], []
    queue = zelvane.TransformQueue(
        graph, "Global", capacity=2,
        on_release=lambda item, frame, t, pose: released.append((item, frame, t, pose.position[0])),
        on_drop=lambda item, frame, t, reason: dropped.append((item, reason)))
    queue.push({"scan": 1}, "Sensor", 150)
    queue.push("late", "Sensor", 250)
    queue.push("later", "Sensor", 260)
    queue.push("latest", "Sensor", 270)  # full: "late" makes room
    graph.set_transform("Body", "Global", zelvane.Pose(position=(2, 0, 0)), 300)
    assert [r[0] for r in released] == [{"scan": 1}, "later", "latest"]
    assert released[1][3] == pytest.approx(1.6)
    assert dropped == [("late", "full")]
    counts = queue.counts()
    assert counts["pushed"] == 4 and counts["released"] == 3 and counts["pending"] == 0
    assert counts["dropped"]["full"] == 1
    del queue  # nothing left to drop


def test_queue_without_callback_is_polled():
    graph = graph_with_navigation()
    queue = zelvane.TransformQueue(graph, "Global")
    queue.push([1, 2, 3], "Sensor", 250)
    assert queue.poll() is None
    register_later(graph, 300, 2.0, delay=0).join()
    item, frame, t, pose = queue.poll()
    assert (item, frame, t) == ([1, 2, 3], "Sensor", 250)
    assert queue.drain() == []
