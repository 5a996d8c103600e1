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


def test_queue_waits_for_samples_around_an_item_as_at_start_up():
    """One navigation sample answers every later lookup; the queue holds each scan
    until samples on both sides of its time are there, then gives the lookup's pose."""
    graph = zelvane.TransformManager()
    graph.set_transform("Sensor", "Body", zelvane.Pose(position=(0, 0, 1)))
    graph.set_transform("Body", "Global", zelvane.Pose(position=(0, 0, 0)), 1000)
    released = []
    queue = zelvane.TransformQueue(
        graph, "Global", on_release=lambda item, frame, t, pose: released.append((t, pose)))
    for t in (1000, 1500, 1700):
        queue.push(t, "Sensor", t)
    assert graph.lookup("Sensor", "Global", 1500).position[0] == 0.0
    assert [t for t, _ in released] == [1000]
    graph.set_transform("Body", "Global", zelvane.Pose(position=(1, 0, 0)), 2000)
    assert [t for t, _ in released] == [1000, 1500, 1700]
    for t, pose in released:
        expected = graph.lookup("Sensor", "Global", t)
        assert pose.position.tolist() == expected.position.tolist()
        assert pose.orientation.tolist() == expected.orientation.tolist()
    assert released[1][1].position[0] == pytest.approx(0.5)


@pytest.mark.parametrize("delay", [0.2, 0.225])  # within a slice of the wait, or between two
def test_wait_ended_by_a_removal_says_how_long_it_waited(delay):
    graph = graph_with_navigation()
    timer = threading.Timer(delay, graph.remove_frame, ("Sensor",))
    start = time.monotonic()
    timer.start()
    with pytest.raises(zelvane.FrameNotFoundError) as raised:
        graph.wait_for_transform("Sensor", "Global", 250, timeout=10)
    elapsed = time.monotonic() - start
    timer.join()
    waited = float(str(raised.value).split("after waiting ")[1].split(" s")[0])
    assert delay - 0.05 <= waited <= elapsed + 0.001 < 1.0
    assert "there is no frame 'Sensor'" in str(raised.value)


def test_wait_past_a_single_sample_times_out_saying_why():
    graph = zelvane.TransformManager()
    graph.set_transform("Body", "Global", zelvane.Pose(), 100)
    with pytest.raises(zelvane.OutOfRangeError, match="a wait does not take"):
        graph.wait_for_transform("Body", "Global", 150, timeout=0)
    assert graph.can_transform("Body", "Global", 150)


def test_queue_counts_items_of_unknown_frames_apart():
    graph = graph_with_navigation()
    queue = zelvane.TransformQueue(graph, "Global")
    queue.push("misspelt", "Snesor", 150)
    queue.push("early", "Sensor", 250)
    counts = queue.counts()
    assert counts["pending"] == 2 and counts["waiting_for_frame"] == 1
