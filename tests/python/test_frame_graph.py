"""The frame graph from Python against zelvane_frames on the shipped examples, the
exceptions and their codes, and the graph edits."""

import math
import pickle
import re
import sys

import numpy as np
import pytest

import zelvane
from conftest import EXAMPLES, ROOT
from zelvane import TransformResult as Code

@pytest.mark.parametrize("arguments, lookup", [
    ("--from Sensor --to Global --time 15000 --method interpolated",  # the README's first command
     lambda g: g.lookup("Sensor", "Global", time=15000, method="interpolated")),
    ("--from Body --to Global --time 15050 --method interpolated",  # between two samples
     lambda g: g.lookup("Body", "Global", time=15050, method="interpolated")),
    ("--from Sensor --to Global --time 31000 --method extrapolated",  # past the last sample
     lambda g: g.lookup("Sensor", "Global", time=31000, method="extrapolated")),
    ("--from Global --to Sensor --time 2000 --method mostrecent",
     lambda g: g.lookup("Global", "Sensor", time=2000, method="most_recent")),
    ("--from Sensor --to Body --time 5000 --to-time 4000 --fixed Global",
     lambda g: g.lookup_through_fixed_frame("Sensor", 5000, "Body", 4000, "Global")),
])
def test_lookup_prints_the_numbers_of_zelvane_frames(drive, frames_app, arguments, lookup):
    printed = frames_app("--poses", str(EXAMPLES / "navigation.csv"), *arguments.split())
    assert str(lookup(drive)).splitlines()[1:] == printed.stdout.splitlines()[1:]


def test_transform_points_equals_zelvane_frames(drive, frames_app):
    points_file = EXAMPLES / "sensor_points.txt"
    printed = frames_app("--poses", str(EXAMPLES / "navigation.csv"), "--from", "Sensor",
                         "--to", "Global", "--time", "15000", "--points", str(points_file))
    points = np.loadtxt(points_file)
    placed = drive.transform_points(points, "Sensor", "Global", time=15000)
    assert placed.dtype == np.float32 and placed.shape == points.shape
    assert ["%f %f %f" % tuple(p) for p in placed] == printed.stdout.splitlines()
    pose = drive.lookup("Sensor", "Global", time=15000)
    np.testing.assert_array_equal(placed, pose.apply(points))
    np.testing.assert_array_equal(drive.transform_points(points[1], "Sensor", "Global", 15000),
                                  placed[1])


def test_store_writes_the_file_of_zelvane_frames_and_loads_back(drive, frames_app, tmp_path):
    frames_app("--poses", str(EXAMPLES / "navigation.csv"), "--store", str(tmp_path / "app.xml"))
    drive.store_settings(tmp_path / "python.xml")
    assert (tmp_path / "python.xml").read_bytes() == (tmp_path / "app.xml").read_bytes()
    loaded = zelvane.TransformManager.from_settings(str(tmp_path / "python.xml"))
    assert loaded.frames == ["Body", "Sensor", "Global"]  # in the order of the file
    np.testing.assert_allclose(loaded.lookup("Sensor", "Global", 0).position,
                               drive.lookup("Sensor", "Global", 0, "most_recent").position,
                               rtol=1e-6)


FAILURES = [
    # operation on the example drive, exception, code, from, to, time
    (lambda g: zelvane.TransformManager().lookup("A", "B", 0), zelvane.NoFramesError,
     Code.NO_FRAMES, "A", "B", 0),
    (lambda g: g.lookup("Sensor", "Nowhere", 100), zelvane.FrameNotFoundError, Code.NOT_FOUND,
     "Sensor", "Nowhere", 100),
    (lambda g: g.lookup("Sensor", "Global", 31000), zelvane.OutOfRangeError, Code.OUT_OF_RANGE,
     "Sensor", "Global", 31000),
    (lambda g: g.transform_points([0, 0, 0], "Sensor", "Global", -1, method="extrapolated"),
     zelvane.OutOfRangeError, Code.OUT_OF_RANGE, "Sensor", "Global", -1),
    (lambda g: g.set_transform("Body", "Body", zelvane.Pose()), zelvane.RefusedError, Code.ERROR,
     "Body", "Body", 0),
    (lambda g: g.set_transform("Sensor", "Global", np.eye(4), 5), zelvane.RefusedError,
     Code.ERROR, "Sensor", "Global", 5),
    (lambda g: g.rename_frame("Nowhere", "X"), zelvane.FrameNotFoundError, Code.NOT_FOUND,
     "Nowhere", "X", None),
    (lambda g: g.rename_frame("Body", "Global"), zelvane.RefusedError, Code.ERROR, "Body",
     "Global", None),
    (lambda g: g.remove_frame("Nowhere"), zelvane.FrameNotFoundError, Code.NOT_FOUND, "Nowhere",
     None, None),
]


@pytest.mark.parametrize("operation, error, code, from_frame, to_frame, time", FAILURES)
def test_failures_raise_their_exception_with_code_frames_and_time(drive, operation, error, code,
                                                                  from_frame, to_frame, time):
    before = drive.lookup("Sensor", "Global", 15000)
    with pytest.raises(error) as raised:
        operation(drive)
    assert isinstance(raised.value, zelvane.FrameGraphError)
    assert (raised.value.code, raised.value.from_frame, raised.value.to_frame,
            raised.value.time) == (code, from_frame, to_frame, time)
    # Nothing changed.
    assert drive.frames == ["Sensor", "Body", "Global"]
    assert repr(drive.lookup("Sensor", "Global", 15000)) == repr(before)


@pytest.mark.parametrize("from_frame, to_frame, time, code, reason", [
    ("Sensor", "Global", 31000, Code.OUT_OF_RANGE, "(interpolated lookups of Sensor in Global "
     "succeed from time 0 to 30000)"),
    ("sensor", "Global", 100, Code.NOT_FOUND,
     "(there is no frame 'sensor' (the closest known frame is 'Sensor'))"),
    ("Sensor", "Nowhere", 100, Code.NOT_FOUND, "(there is no frame 'Nowhere'"),
])
def test_lookup_failures_say_the_same_as_zelvane_frames(drive, frames_app, from_frame, to_frame,
                                                        time, code, reason):
    printed = frames_app("--poses", str(EXAMPLES / "navigation.csv"), "--from", from_frame,
                         "--to", to_frame, "--time", str(time), check=False)
    assert printed.returncode == 3
    with pytest.raises(zelvane.FrameGraphError) as raised:
        drive.lookup(from_frame, to_frame, time)
    assert raised.value.code == code and reason in str(raised.value)
    assert str(raised.value).split("failed: ")[1] == printed.stderr.split("failed: ")[1].strip()


def test_out_of_range_after_pruning_says_how_to_keep_the_samples(drive):
    # Before the first sample, within the window: nothing was dropped, no such words.
    with pytest.raises(zelvane.OutOfRangeError) as raised:
        drive.lookup("Sensor", "Global", -5)
    assert "history window" not in str(raised.value)
    drive.history_window = 1000
    drive.set_transform("Body", "Global", np.eye(4), time=30100)
    with pytest.raises(zelvane.OutOfRangeError, match=re.escape(
            "the history window (1000) keeps Body in Global from time 29100 on and dropped the "
            "older samples; widen it before registering (--history-window, history_window")):
        drive.lookup("Sensor", "Global", 15000)


def test_method_names_and_the_old_spelling(drive):
    newest = repr(drive.lookup("Body", "Global", 1, method="most_recent"))
    assert repr(drive.lookup("Body", "Global", 1, method="mostrecent")) == newest
    with pytest.raises(ValueError, match="\"mostrecent\": an alias"):
        drive.lookup("Body", "Global", 1, method="MostRecent")


def test_edits_rename_remove_and_origins(drive):
    newest = drive.lookup("Sensor", "Global", 0, method="most_recent")
    mount = drive.lookup("Sensor", "Body", 0)

    drive.rename_frame("Body", "Vehicle")
    assert "Body" not in drive and "Vehicle" in drive and len(drive) == 3
    assert repr(drive.lookup("Sensor", "Vehicle", 0)) == repr(mount)
    assert drive.history_size("Vehicle", "Global") == 301
    assert drive.indirect_connection_exists("Sensor", "Global")

    drive.remove_frame("Vehicle")  # Sensor is re-attached to Global with the newest samples
    assert drive.frames == ["Sensor", "Global"]
    np.testing.assert_allclose(drive.lookup("Sensor", "Global", 0).position, newest.position,
                               rtol=1e-6)

    drive.set_origin("start", "Global", np.eye(4))
    frame, pose = drive.get_origin("start")
    assert frame == "Global" and repr(pose) == repr(zelvane.Pose())
    with pytest.raises(KeyError):
        drive.get_origin("finish")


@pytest.mark.parametrize("pose, reason", [
    (zelvane.Pose(position=(math.nan, 0, 0)), "the position of E in F is not finite"),
    (zelvane.Pose(position=(0, -math.inf, 0)), "the position of E in F is not finite"),
    (zelvane.Pose(orientation=(0, 0, 0, 0)), "the orientation of E in F is a quaternion of zero"),
    (zelvane.Pose(orientation=(math.nan, 0, 0, 1)), "the orientation of E in F is a quaternion"),
])
def test_registration_refuses_a_pose_that_is_no_rigid_transform(pose, reason):
    graph = zelvane.TransformManager()
    with pytest.raises(ValueError, match=reason):
        graph.set_transform("E", "F", pose, 10)
    assert graph.frames == []


# Every call taking one time refuses a float, integral or not, as the calls taking
# many times do, and takes NumPy integers.
SINGLE_TIMES = [
    lambda g, t: g.lookup("Sensor", "Global", t),
    lambda g, t: g.lookup_through_fixed_frame("Sensor", t, "Body", 100, "Global"),
    lambda g, t: g.lookup_through_fixed_frame("Sensor", 100, "Body", t, "Global"),
    lambda g, t: g.set_transform("Extra", "Global", zelvane.Pose(), t),
    lambda g, t: g.can_transform("Sensor", "Global", t),
    lambda g, t: g.wait_for_transform("Sensor", "Global", t, timeout=0),
    lambda g, t: zelvane.TransformQueue(g, "Global").push("item", "Sensor", t),
    lambda g, t: g.transform_points([0, 0, 0], "Sensor", "Global", t),
]


@pytest.mark.parametrize("call", SINGLE_TIMES)
def test_single_times_must_be_integers(drive, call):
    for time in (100.0, 100.5, np.float32(100), np.float64(100)):
        with pytest.raises(ValueError, match="must be an integer|must hold integers"):
            call(drive, time)
    with pytest.raises(ValueError, match="signed 64-bit"):
        call(drive, 2**63)
    call(drive, np.int64(100))
    call(drive, np.uint16(100))


def test_registration_from_a_matrix_equals_registration_from_its_pose():
    pose = zelvane.Pose.from_ypr([1, 2, 3], [0.5, -0.2, 0.1], convention="intrinsic",
                                 timestamp=0)
    graph = zelvane.TransformManager()
    graph.set_transform("A", "B", pose, time=10)
    graph.set_transform("C", "D", pose.as_matrix(), time=10)
    a_in_b = graph.lookup("A", "B", 10)
    c_in_d = graph.lookup("C", "D", 10)
    np.testing.assert_allclose(c_in_d.as_matrix(), a_in_b.as_matrix(), atol=1e-6)
    assert c_in_d.timestamp == a_in_b.timestamp == 10
    with pytest.raises(ValueError, match="must be \"interpolated\", \"extrapolated\" or"):
        graph.lookup("A", "B", 10, method="nearest")
    with pytest.raises(ValueError, match="not a rigid transform"):
        graph.set_transform("E", "F", 2 * np.eye(4))


def bad_pose_files():
    """The shared table of bad pose files: (content, message after "<file>:")."""
    for row in (ROOT / "tests" / "data" / "bad_pose_files.txt").read_text().splitlines():
        if row and not row.startswith("#"):
            expected, content = row.split("\t", 1)
            yield content.replace("\\n", "\n"), expected


# zelvane_frames_test runs the command line on the same table.
@pytest.mark.parametrize("content, expected", list(bad_pose_files()))
def test_bad_pose_files_fail_with_the_line_and_reason_of_the_shared_table(tmp_path, content,
                                                                          expected):
    path = tmp_path / "poses.csv"
    path.write_text(content)
    graph = zelvane.TransformManager.from_settings(EXAMPLES / "vehicle.xml")
    with pytest.raises(ValueError) as raised:
        graph.read_pose_csv(path)
    assert str(raised.value) == "%s:%s" % (path, expected)


def test_pose_file_with_byte_order_mark_reads_as_without(tmp_path, drive):
    path = tmp_path / "poses.csv"
    path.write_bytes(b"\xef\xbb\xbf" + (EXAMPLES / "navigation.csv").read_bytes())
    graph = zelvane.TransformManager.from_settings(EXAMPLES / "vehicle.xml")
    assert graph.read_pose_csv(path) == 301
    assert graph.edges == drive.edges
    with pytest.raises(FileNotFoundError):
        graph.read_pose_csv(tmp_path / "missing.csv")


def test_tree_and_dot_print_what_zelvane_frames_prints(drive, frames_app):
    printed = frames_app("--poses", str(EXAMPLES / "navigation.csv"), "--tree", "--dot")
    assert drive.tree() + drive.dot() == printed.stdout
    assert drive.tree().startswith("Global\n  Body: 301 samples, time 0 to 30000\n")


def test_settings_errors(drive, tmp_path):
    with pytest.raises(zelvane.SettingsError, match="missing.xml"):
        zelvane.TransformManager.from_settings(tmp_path / "missing.xml")
    incomplete = tmp_path / "incomplete.xml"
    incomplete.write_text("<Settings><Transforms><Transform><fromFrameName>A</fromFrameName>"
                          "</Transform></Transforms></Settings>")
    with pytest.raises(zelvane.SettingsError):
        drive.load_settings(incomplete)
    assert drive.frames == ["Sensor", "Body", "Global"]  # all or nothing
    with pytest.raises(zelvane.SettingsError):
        drive.store_settings(tmp_path / "no" / "such" / "directory.xml")
    with pytest.raises(zelvane.FrameNotFoundError) as raised:
        zelvane.TransformManager().store_settings(tmp_path / "empty.xml")
    assert raised.value.code == Code.NOT_FOUND and not (tmp_path / "empty.xml").exists()


def test_out_of_range_carries_the_times_that_work(drive):
    everything = (-2**63, 2**63 - 1)
    assert drive.common_time_span("Sensor", "Global") == (0, 30000)
    assert drive.common_time_span("Sensor", "Body") == everything
    for lookup, half, message in [
            (lambda: drive.lookup("Sensor", "Global", 31000), ("Sensor", "Global", 31000),
             "(interpolated lookups of Sensor in Global succeed from time 0 to 30000)"),
            (lambda: drive.lookup_through_fixed_frame("Sensor", -5, "Body", 4000, "Global"),
             ("Sensor", "Global", -5), "(the half Sensor in Global at time -5; interpolated"),
            (lambda: drive.lookup_through_fixed_frame("Sensor", 5000, "Body", 40000, "Global"),
             ("Global", "Body", 40000), "(the half Global in Body at time 40000; interpolated")]:
        with pytest.raises(zelvane.OutOfRangeError, match=re.escape(message)) as raised:
            lookup()
        error = raised.value
        assert (error.from_frame, error.to_frame, error.time, error.available) == half + ((0, 30000),)
        copy = pickle.loads(pickle.dumps(error))
        assert (type(copy), str(copy), copy.available) == (type(error), str(error), error.available)

    # Two edges sampled at times that do not overlap: no time works.
    graph = zelvane.TransformManager()
    for time in (10, 20):
        graph.set_transform("A", "B", np.eye(4), time)
        graph.set_transform("B", "C", np.eye(4), time + 20)
    for call in (lambda: graph.common_time_span("A", "C"), lambda: graph.lookup("A", "C", 25)):
        with pytest.raises(zelvane.OutOfRangeError, match="succeed at no time") as raised:
            call()
        assert raised.value.available is None
    with pytest.raises(zelvane.FrameNotFoundError):
        graph.common_time_span("A", "Nowhere")


def test_edges_and_history_window(drive):
    Edge = zelvane.FrameEdge
    assert drive.edges == [Edge("Sensor", "Body", True, 1, 0, 0),
                           Edge("Body", "Global", False, 301, 0, 30000)]
    assert drive.history_window == 1e10
    for bad in (-1.0, math.nan):
        with pytest.raises(ValueError, match="history_window must be 0 or above"):
            drive.history_window = bad
    drive.history_window = 1000
    # Lookups use the window at once; the history is pruned at the next registration.
    with pytest.raises(zelvane.OutOfRangeError):
        drive.lookup("Body", "Global", 31001, method="extrapolated")
    drive.set_transform("Body", "Global", np.eye(4), time=30100)
    assert drive.edges[1] == Edge("Body", "Global", False, 11, 29100, 30100)
    drive.history_window = math.inf
    assert drive.history_window == math.inf


def test_registration_callbacks(drive, monkeypatch):
    seen, after, unraisable = [], [], []
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)

    def record(from_frame, to_frame, time):  # sees the new sample
        seen.append((from_frame, to_frame, time, drive.lookup(from_frame, to_frame, time).position[0]))

    def register_in_callback(*_):
        drive.set_transform("X", "Y", np.eye(4))

    connection = drive.connect_transform_registered(record)
    drive.set_transform("Body", "Global", zelvane.Pose([1, 2, 3]), time=40000)
    drive.set_transform("Lidar", "Body", zelvane.Pose([5, 0, 0]))
    with pytest.raises(zelvane.RefusedError):
        drive.set_transform("Lidar", "Sensor", np.eye(4))  # refused: no call
    drive.remove_frame("Lidar")
    assert seen == [("Body", "Global", 40000, 1), ("Lidar", "Body", 0, 5)]

    # A callback that fails (here by registering on its own manager) is reported through
    # sys.unraisablehook; the registration stays and the later callbacks still run.
    with drive.connect_transform_registered(register_in_callback) as failing, \
            drive.connect_transform_registered(lambda *arguments: after.append(arguments)):
        drive.set_transform("Body", "Global", np.eye(4), time=40100)
    assert not failing.connected and connection.connected
    assert [type(u.exc_value) for u in unraisable] == [RuntimeError]
    assert "would deadlock" in str(unraisable[0].exc_value) and "X" not in drive
    assert after == [("Body", "Global", 40100)] and seen[-1][:3] == ("Body", "Global", 40100)
    connection.disconnect()
    drive.set_transform("Body", "Global", np.eye(4), time=40200)
    assert len(seen) == 3 and len(after) == 1
    with pytest.raises(TypeError, match="callback must be callable"):
        drive.connect_transform_registered(42)
