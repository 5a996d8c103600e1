"""The frame graph from Python against zelvane_frames on the shipped examples, the
exceptions and their codes, and the graph edits."""

import numpy as np
import pytest

import zelvane
from conftest import EXAMPLES
from zelvane import TransformResult as Code

APP_METHODS = {"interpolated": "interpolated", "extrapolated": "extrapolated",
               "most_recent": "mostrecent"}


@pytest.mark.parametrize("from_frame, to_frame, time, method", [
    ("Sensor", "Global", 15000, "interpolated"),  # the README's first command
    ("Body", "Global", 15050, "interpolated"),    # between two samples
    ("Sensor", "Global", 31000, "extrapolated"),  # past the last sample
    ("Global", "Sensor", 2000, "most_recent"),
])
def test_lookup_prints_the_numbers_of_zelvane_frames(drive, frames_app, from_frame, to_frame,
                                                     time, method):
    printed = frames_app("--poses", str(EXAMPLES / "navigation.csv"), "--from", from_frame,
                         "--to", to_frame, "--time", str(time), "--method", APP_METHODS[method])
    pose = drive.lookup(from_frame, to_frame, time=time, method=method)
    assert str(pose).splitlines()[1:] == printed.stdout.splitlines()[1:]


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


def test_lookup_codes_agree_with_zelvane_frames(drive, frames_app):
    for to_frame, time, code in [("Global", 31000, Code.OUT_OF_RANGE),
                                 ("Nowhere", 100, Code.NOT_FOUND)]:
        printed = frames_app("--poses", str(EXAMPLES / "navigation.csv"), "--from", "Sensor",
                             "--to", to_frame, "--time", str(time), check=False)
        assert printed.returncode == 3
        with pytest.raises(zelvane.FrameGraphError) as raised:
            drive.lookup("Sensor", to_frame, time)
        assert raised.value.code == code
        assert printed.stderr.split("failed: ")[1].splitlines()[0].strip() in str(raised.value)


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


BAD_POSE_FILES = [
    "",
    "time,from,to,x,y,z\n",
    "time,from,to,x,y,z,qx,qy,qz,qw\n1,Body,Global,0,0,0,0,0,0\n",
    "time,from,to,x,y,z,qx,qy,qz,qw\n1.5,Body,Global,0,0,0,0,0,0,1\n",
    "time,from,to,x,y,z,qx,qy,qz,qw\n\n1,Body, ,0,0,0,0,0,0,1\n",
    "time,from,to,x,y,z,qx,qy,qz,qw\n1,Body,Body,0,0,0,0,0,0,1\n",
    "time,from,to,x,y,z,qx,qy,qz,qw\n1,Body,Global,1.5abc,0,0,0,0,0,1\n",
    "time,from,to,x,y,z,qx,qy,qz,qw\n1,Body,Global,0,0,0,0,0,0,inf\n",
    "time,from,to,x,y,z,qx,qy,qz,qw\n1,Body,Global,0,0,0,0,0,0,1e40\n",
    "time,from,to,x,y,z,qx,qy,qz,qw\n1,Body,Global,0,0,0,0,0,0,3\n",
    "time,from,to,x,y,z,qx,qy,qz,qw\n1,Sensor,Global,0,0,0,0,0,0,1\n",
]


@pytest.mark.parametrize("content", BAD_POSE_FILES)
def test_bad_pose_files_fail_as_in_zelvane_frames(frames_app, tmp_path, content):
    path = tmp_path / "poses.csv"
    path.write_text(content)
    printed = frames_app("--poses", str(path), check=False)
    assert printed.returncode == 2
    graph = zelvane.TransformManager.from_settings(EXAMPLES / "vehicle.xml")
    with pytest.raises(ValueError) as raised:
        graph.read_pose_csv(str(path))
    assert str(raised.value) == printed.stderr.strip()


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
