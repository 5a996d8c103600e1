"""Pickling: every picklable object comes back equal, bit for bit, through pickle and
copy; a form newer than this build is refused."""

import copy
import math
import pickle

import numpy as np
import pytest

import zelvane
from conftest import EXAMPLES

PROTOCOLS = range(2, pickle.HIGHEST_PROTOCOL + 1)


def round_trips(value):
    """The value through every pickle protocol, and through copy and deepcopy."""
    yield from (pickle.loads(pickle.dumps(value, protocol)) for protocol in PROTOCOLS)
    yield copy.copy(value)
    yield copy.deepcopy(value)


def bits(value):
    """What must survive a round trip exactly, as comparable bytes and numbers."""
    if isinstance(value, zelvane.Pose):
        return (value.position.tobytes(), value.orientation.tobytes(), value.timestamp)
    if isinstance(value, zelvane.State):
        return tuple(None if getattr(value, name) is None else
                     np.asarray(getattr(value, name), dtype=np.float32).tobytes()
                     for name in ("position", "position_covariance", "velocity",
                                  "velocity_covariance", "acceleration", "acceleration_covariance",
                                  "heading", "heading_variance", "heading_rate",
                                  "heading_rate_variance", "dimensions", "anchor"))
    raise TypeError(value)


def hostile_poses():
    yield zelvane.Pose()
    yield zelvane.Pose([1e-45, -0.0, 3.4e38], [0.1, -0.2, 0.3, 5.0], timestamp=-2**63)
    yield zelvane.Pose([np.inf, -np.inf, np.nan], [0, 0, 0, 1], timestamp=2**63 - 1)
    rng = np.random.default_rng(7)
    yield zelvane.Pose(rng.normal(size=3) * 1e4, rng.normal(size=4), timestamp=1 << 62)


def states():
    yield zelvane.State()
    yield zelvane.State.from_box([1, 2, 0.5, 0.3, 4.5, 1.8, 1.5], anchor=[1.2, 0, -0.1])
    rng = np.random.default_rng(11)
    full = zelvane.State(position=rng.normal(size=3), velocity=rng.normal(size=3),
                         acceleration=rng.normal(size=3), heading=-3.1, heading_rate=0.25,
                         dimensions=[4, 2, 1.5], anchor=[0.5, -0.25, 0])
    for name in ("position", "velocity", "acceleration"):
        setattr(full, name + "_covariance", rng.normal(size=(3, 3)))  # not symmetric
    full.heading_variance = 0.01
    full.heading_rate_variance = np.float32(1e-38)
    yield full
    yield zelvane.State(velocity=[np.nan, -0.0, 1e30], heading_rate=np.inf)


@pytest.mark.parametrize("value", [*hostile_poses(), *states()], ids=repr)
def test_pose_and_state_come_back_bit_for_bit(value):
    for back in round_trips(value):
        assert type(back) is type(value)
        assert bits(back) == bits(value)


def test_pair_results_and_codes_come_back_equal(drive):
    boxes = np.loadtxt(EXAMPLES / "boxes_detected.csv", delimiter=",", skiprows=1)
    tracks = np.loadtxt(EXAMPLES / "boxes_tracked.csv", delimiter=",", skiprows=1)
    for pairs in (zelvane.overlap_pairs(boxes, tracks),
                  zelvane.distance_pairs(boxes, tracks, gate=50.0)):
        assert len(pairs.first) > 0
        for back in round_trips(pairs):
            assert type(back) is type(pairs)
            for got, want in zip(back, pairs):
                assert got.dtype == want.dtype and got.tobytes() == want.tobytes()
    edges = drive.edges
    assert all(back == edges for back in round_trips(edges))
    for code in zelvane.TransformResult.__members__.values():
        assert all(back == code for back in round_trips(code))


def replay_graph():
    """The example vehicle on its drive, with a window that has pruned, an origin, a
    static pose with its own timestamp and a second tree."""
    graph = zelvane.TransformManager.from_settings(EXAMPLES / "vehicle.xml")
    graph.history_window = 12000
    graph.read_pose_csv(EXAMPLES / "navigation.csv")
    graph.set_transform("Radar", "Body", zelvane.Pose([3.5, 0, 0.4], timestamp=-7))
    graph.set_transform("Map", "Odom", zelvane.Pose([1, 2, 3], [0, 0, 0.6, 0.8]), time=5)
    graph.set_transform("Map", "Odom", zelvane.Pose([1, 3, 3], [0, 0, 0.8, 0.6]), time=9)
    graph.set_origin("start", "Global", zelvane.Pose([0.5, 0, 0]))
    graph.set_origin("dock", "Elsewhere", zelvane.Pose(timestamp=3))
    return graph


def answer(graph, from_frame, to_frame, time, method):
    try:
        return bits(graph.lookup(from_frame, to_frame, time, method))
    except zelvane.FrameGraphError as error:
        return type(error), str(error)


def test_manager_comes_back_with_every_frame_sample_and_origin():
    graph = replay_graph()
    assert graph.history_size("Body", "Global") < 301  # pruned by the window
    times = list(range(-100, 31000, 173)) + [5, 7, 9, 30000]
    for index, back in enumerate(round_trips(graph)):
        assert type(back) is zelvane.TransformManager and back is not graph
        assert back.frames == graph.frames
        assert back.edges == graph.edges
        assert back.history_window == graph.history_window
        assert back.__getstate__() == graph.__getstate__()
        for name in ("start", "dock"):
            (frame, pose), (want_frame, want) = back.get_origin(name), graph.get_origin(name)
            assert frame == want_frame and bits(pose) == bits(want)
        for a in graph.frames if index in (0, len(PROTOCOLS) + 1) else ():  # protocol 2, deepcopy
            for b in ("Global", "Sensor", "Odom"):
                for method in ("interpolated", "extrapolated", "most_recent"):
                    assert [answer(back, a, b, t, method) for t in times] == \
                           [answer(graph, a, b, t, method) for t in times], (a, b, method)
        # Independent of the original from now on, and pruning by the same window.
        back.set_transform("Body", "Global", zelvane.Pose(), time=10**9)
        assert back.history_size("Body", "Global") == 2
        assert graph.history_size("Body", "Global") > 2


def test_manager_keeps_no_callbacks_and_an_empty_one_comes_back_empty():
    graph = zelvane.TransformManager()
    seen = []
    graph.connect_transform_registered(lambda *args: seen.append(args))
    graph.history_window = math.inf
    back = pickle.loads(pickle.dumps(graph))
    back.set_transform("A", "B", zelvane.Pose(), time=1)
    back.set_transform("C", "B", zelvane.Pose())
    assert seen == [] and back.frames == ["A", "B", "C"] and back.history_window == math.inf
    with pytest.raises(zelvane.RefusedError):  # the copy tells a refused registration
        back.set_transform("A", "C", zelvane.Pose())


@pytest.mark.parametrize("value", [zelvane.Pose(), zelvane.State(), zelvane.TransformManager()],
                         ids=lambda v: type(v).__name__)
def test_a_newer_form_or_a_malformed_state_is_refused(value):
    cls = type(value)
    state = value.__reduce_ex__(2)[2]
    assert state[0] == 1
    newer = (2,) + tuple(state[1:])
    with pytest.raises(ValueError, match=r"cannot unpickle zelvane\.%s: it was pickled in form 2 "
                                         r"by a newer zelvane, and this build reads forms 1 to 1"
                                         % cls.__name__):
        cls.__new__(cls).__setstate__(newer)
    for bad in [(), (0,) + tuple(state[1:]), state[:-1], state[:-1] + ("text",), [1]]:
        with pytest.raises(ValueError, match=r"not a pickled zelvane\.%s$" % cls.__name__):
            cls.__new__(cls).__setstate__(bad)


def test_a_state_that_is_no_frame_graph_is_refused_with_the_reason():
    form, frames, pairs, window, origins = replay_graph().__getstate__()
    cycle = pairs + [("Global", "Sensor", pairs[0][2], pairs[0][3])]
    for bad, reason in [
            ((form, frames + ["Body"], pairs, window, origins), "the frame Body is listed twice"),
            ((form, frames, cycle, window, origins),
             "the pair Global in Sensor would close a cycle"),
            ((form, frames, pairs, -1.0, origins), "the history window -1 is not a span of time"),
            ((form, frames, [pairs[0][:2] + ([], [])], window, origins),
             "the pair Sensor in Body has no sample")]:
        with pytest.raises(ValueError) as raised:
            zelvane.TransformManager.__new__(zelvane.TransformManager).__setstate__(bad)
        assert str(raised.value) == "not a pickled zelvane.TransformManager: " + reason


def test_what_holds_a_callback_does_not_pickle():
    graph = zelvane.TransformManager()
    with pytest.raises(TypeError):
        pickle.dumps(graph.connect_transform_registered(print))
