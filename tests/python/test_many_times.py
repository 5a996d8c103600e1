"""Lookups at many times and points each at its own time, against the single
lookups; the local origin's shifts."""

import pickle

import numpy as np
import pytest

import zelvane

METHODS = ["interpolated", "extrapolated", "most_recent"]


def times_under_test():
    """Rising, repeated, unsorted and failing times (before the drive, past its end)."""
    rng = np.random.default_rng(21)
    return np.concatenate([np.arange(14000, 16000, 7), [15050, 15050, 15050, -5, 31000, 40],
                           rng.integers(-1000, 32000, 300)]).astype(np.int64)


def single(graph, from_frame, to_frame, time, method):
    """The single lookup: its pose, or the code of its exception."""
    try:
        return graph.lookup(from_frame, to_frame, time, method), 0
    except zelvane.FrameGraphError as error:
        return None, int(error.code)


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("from_frame, to_frame", [("Sensor", "Global"), ("Global", "Body"),
                                                  ("Sensor", "Body"), ("Sensor", "Nowhere")])
def test_lookup_many_equals_the_single_lookups(drive, from_frame, to_frame, method):
    times = times_under_test()
    poses = drive.lookup_many(from_frame, to_frame, times, method)
    matrices = drive.lookup_many_matrices(from_frame, to_frame, times, method)
    points = np.random.default_rng(5).uniform(-50, 50, (len(times), 3)).astype(np.float32)
    placed = drive.transform_points(points, from_frame, to_frame, times, method)
    for i, time in enumerate(times):
        pose, code = single(drive, from_frame, to_frame, int(time), method)
        assert poses.codes[i] == matrices.codes[i] == placed.codes[i] == code
        if pose is None:
            assert np.isnan(placed.points[i]).all()
            np.testing.assert_array_equal(matrices.matrices[i], np.eye(4))
            continue
        assert poses.positions[i].tobytes() == pose.position.tobytes()
        assert poses.quaternions[i].tobytes() == pose.orientation.tobytes()
        assert poses.timestamps[i] == pose.timestamp
        assert matrices.matrices[i].tobytes() == pose.as_matrix().tobytes()
        at_its_time = drive.transform_points(points[i], from_frame, to_frame, int(time), method)
        assert placed.points[i].tobytes() == at_its_time.tobytes()
    np.testing.assert_array_equal(poses.ok, poses.codes == 0)
    assert poses.positions.dtype == np.float32 and poses.timestamps.dtype == np.int64
    assert matrices.matrices.shape == (len(times), 4, 4)


def test_bad_times_raise_value_error(drive):
    points = np.zeros((3, 3))
    for times in [[1.5, 2.0, 3.0], np.zeros((3, 1), dtype=np.int64), [1, 2],
                  np.array([2**63, 0, 0], dtype=np.uint64)]:
        with pytest.raises(ValueError):
            drive.transform_points(points, "Sensor", "Global", times)
    with pytest.raises(ValueError):
        drive.lookup_many("Sensor", "Global", [1.5])
    assert len(drive.lookup_many("Sensor", "Global", []).codes) == 0


def test_local_origin_shifts_in_double_precision():
    """The binding's shifts, as the library defines them (local_origin_test places map-scale
    points with them within a millimetre): to the local frame formed in double and
    rounded once, back to the map in double."""
    origin = zelvane.LocalOrigin([690000.0, 5330000.0, 300.0])
    start = np.array([690123.456789, 5330456.789012, 312.25])
    local = origin.to_local(start)
    assert local.dtype == np.float32
    np.testing.assert_array_equal(local, (start - origin.origin).astype(np.float32))
    back = origin.to_map([local, 2 * local])
    assert back.dtype == np.float64 and back.shape == (2, 3)
    np.testing.assert_array_equal(back, origin.origin + np.array([local, 2 * local], np.float64))
    heading = [0, 0, np.sin(0.35), np.cos(0.35)]
    pose = origin.pose_to_local(start, heading, timestamp=5)
    np.testing.assert_array_equal(pose.position, local)
    np.testing.assert_array_equal(pose.orientation, np.float32(heading))
    assert pose.timestamp == 5
    assert pickle.loads(pickle.dumps(origin)).origin.tolist() == origin.origin.tolist()
