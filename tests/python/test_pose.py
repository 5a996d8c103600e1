"""Pose math: every conversion bit for bit against the C++ library, the argument
checks, and Pose."""

import numpy as np
import pytest

import zelvane
from conftest import EXAMPLES, f32

CONVENTIONS = ["intrinsic", "extrinsic"]
RNG = np.random.default_rng(20240515)
HALF_PI = np.pi / 2

# Fixed-seed random angles, and the hostile ones: zero, +-pi, gimbal lock (pitch
# +-90 degrees and just inside the ambiguity limit), tiny and large angles.
YPR = np.concatenate([
    RNG.uniform(-np.pi, np.pi, (60, 3)) * [1, 0.5, 1],
    [[0, 0, 0], [np.pi, 0, 0], [-np.pi, 0, np.pi], [0.3, HALF_PI, 0.2], [0.3, -HALF_PI, -0.2],
     [1.0, HALF_PI - 1e-4, 0.5], [1e-7, -1e-7, 1e-7], [10.0, 4.0, -7.0], [2.0, 3.0, 1.0]],
]).astype(np.float32)
# Unit quaternions, sign-flipped ones, a non-unit one and gimbal-lock rotations.
_GAUSSIAN = RNG.normal(size=(40, 4))
QUATERNIONS = np.concatenate([
    _GAUSSIAN / np.linalg.norm(_GAUSSIAN, axis=1, keepdims=True),
    [[0, 0, 0, 1], [0, 0, 0, -1], [0, 0, 1, 0], [1, 0, 0, 0], [0.5, 0.5, 0.5, 0.5],
     [0, np.sqrt(0.5), 0, np.sqrt(0.5)], [0.1, 0.7, -0.1, 0.7], [0.2, 0.4, 0.1, 1.3]],
]).astype(np.float32)


def reference_rows(reference, command, rows):
    return np.array([reference.floats("%s %s" % (command, f32(row))) for row in rows],
                    dtype=np.float32)


@pytest.mark.parametrize("convention", CONVENTIONS)
def test_conversions_equal_the_library_bit_for_bit(reference, convention):
    quaternions = zelvane.quaternion_from_ypr(YPR, convention=convention)
    np.testing.assert_array_equal(
        quaternions, reference_rows(reference, "q_from_ypr " + convention, YPR))
    angles = zelvane.ypr_from_quaternion(QUATERNIONS, convention=convention)
    np.testing.assert_array_equal(
        angles, reference_rows(reference, "ypr_from_q " + convention, QUATERNIONS))
    # One row in, one row out, the same numbers as in a batch.
    np.testing.assert_array_equal(zelvane.quaternion_from_ypr(YPR[5], convention=convention),
                                  quaternions[5])
    np.testing.assert_array_equal(
        zelvane.ypr_from_quaternion(QUATERNIONS[7].tolist(), convention=convention), angles[7])


def test_extrinsic_yaw_equals_the_c_function(reference):
    yaws = zelvane.extrinsic_yaw_from_quaternion(QUATERNIONS)
    np.testing.assert_array_equal(yaws, reference_rows(reference, "yaw", QUATERNIONS)[:, 0])
    assert zelvane.extrinsic_yaw_from_quaternion(QUATERNIONS[3]) == yaws[3]


@pytest.mark.parametrize("convention", CONVENTIONS)
@pytest.mark.parametrize("inverse", [False, True])
def test_transforms_from_ypr_equal_the_library(reference, convention, inverse):
    translations = RNG.uniform(-50, 50, YPR.shape).astype(np.float32)
    matrices = zelvane.transform_from_ypr(translations, YPR, convention=convention,
                                          inverse=inverse)
    expected = [reference.floats("tf_ypr %s %d %s %s" % (convention, inverse, f32(t), f32(a)))
                for t, a in zip(translations, YPR)]
    np.testing.assert_array_equal(matrices.reshape(-1, 16), np.array(expected, np.float32))
    # One translation with every angle.
    broadcast = zelvane.transform_from_ypr(translations[0], YPR, convention=convention,
                                           inverse=inverse)
    np.testing.assert_array_equal(broadcast[1], zelvane.transform_from_ypr(
        translations[0], YPR[1], convention=convention, inverse=inverse))


def test_pose_matrices_inverse_and_normalisation_equal_the_library(reference):
    for position, q in zip(RNG.uniform(-100, 100, (len(QUATERNIONS), 3)), QUATERNIONS):
        pose = zelvane.Pose(position, q, timestamp=7)
        expected = reference.floats("pose %s %s" % (f32(position), f32(q))).astype(np.float32)
        np.testing.assert_array_equal(pose.as_matrix().ravel(), expected[:16])
        np.testing.assert_array_equal(pose.as_inverse_matrix().ravel(), expected[16:32])
        inverse = pose.inverse()
        np.testing.assert_array_equal(inverse.position, expected[32:35])
        np.testing.assert_array_equal(inverse.orientation, expected[35:39])
        assert inverse.timestamp == 7
        np.testing.assert_array_equal(pose.normalized().orientation, expected[39:43])


def test_degrees_convert_as_the_settings_files_do():
    # vehicle.xml mounts the Sensor with extrinsic yaw/pitch/roll 0, 5, 0 in degrees;
    # the same pose built here, registered alike, looks up to the same numbers.
    stored = zelvane.TransformManager.from_settings(EXAMPLES / "vehicle.xml")
    built = zelvane.TransformManager()
    built.set_transform("Sensor", "Body", zelvane.Pose.from_ypr(
        [1.8, 0.2, 1.5], [0, 5, 0], convention="extrinsic", degrees=True))
    assert repr(built.lookup("Sensor", "Body", 0)) == repr(stored.lookup("Sensor", "Body", 0))
    angles = built.lookup("Sensor", "Body", 0).as_ypr(convention="extrinsic", degrees=True)
    np.testing.assert_allclose(angles, [0, 5, 0], atol=1e-5)


def test_pose_from_matrix_round_trips_and_refuses_what_is_not_rigid():
    pose = zelvane.Pose([1, -2, 3], zelvane.quaternion_from_ypr([0.4, -0.3, 2.0],
                                                                convention="intrinsic"), 5)
    back = zelvane.Pose.from_matrix(pose.as_matrix().astype(np.float64), timestamp=5)
    np.testing.assert_allclose(back.position, pose.position, atol=1e-6)
    assert abs(np.dot(back.orientation, pose.orientation)) == pytest.approx(1, abs=1e-6)
    assert back.timestamp == 5
    rigid = pose.as_matrix()
    for broken in (rigid * [[1.1], [1.1], [1.1], [1]],       # scaled
                   rigid * [[-1], [1], [1], [1]],             # a reflection
                   np.vstack([rigid[:3], [0, 0, 1, 1]]),      # not affine
                   np.where(np.eye(4) == 1, np.nan, rigid)):  # not a number
        with pytest.raises(ValueError, match="not a rigid transform"):
            zelvane.Pose.from_matrix(broken)


def test_pose_is_a_read_only_value_with_readable_text():
    pose = zelvane.Pose([1.8, 0.2, 1.5])
    with pytest.raises(ValueError, match="read-only"):
        pose.position[0] = 5
    with pytest.raises(AttributeError):
        pose.timestamp = 3
    assert repr(pose) == "Pose(position=[1.8, 0.2, 1.5], orientation=[0, 0, 0, 1], timestamp=0)"
    np.testing.assert_allclose(pose.apply([[10, 0, 0], [0, 0, 0]]),
                               [[11.8, 0.2, 1.5], [1.8, 0.2, 1.5]], rtol=1e-7)


@pytest.mark.parametrize("call, message", [
    (lambda: zelvane.quaternion_from_ypr([1, 2], convention="intrinsic"),
     r"ypr must have shape \(3,\) or \(N, 3\), not \(2,\)"),
    (lambda: zelvane.quaternion_from_ypr(np.zeros((2, 4)), convention="intrinsic"),
     r"not \(2, 4\)"),
    (lambda: zelvane.ypr_from_quaternion(np.zeros((2, 2, 4)), convention="intrinsic"),
     r"quaternion must have shape \(4,\) or \(N, 4\), not \(2, 2, 4\)"),
    (lambda: zelvane.ypr_from_quaternion(["a", "b", "c", "d"], convention="intrinsic"),
     "quaternion must hold real numbers, not dtype <U1"),
    (lambda: zelvane.ypr_from_quaternion(np.ones(4, complex), convention="extrinsic"),
     "not dtype complex128"),
    (lambda: zelvane.ypr_from_quaternion([True, False, False, True], convention="extrinsic"),
     "not dtype bool"),
    (lambda: zelvane.quaternion_from_ypr(None, convention="intrinsic"), "not dtype object"),
    (lambda: zelvane.quaternion_from_ypr([1, 2, 3], convention="zyx"),
     'convention must be "intrinsic" or "extrinsic", not "zyx"'),
    (lambda: zelvane.transform_from_ypr(np.zeros((2, 3)), np.zeros((3, 3)), convention="intrinsic"),
     "same number of rows, not 2 and 3"),
    (lambda: zelvane.Pose([[1, 2, 3]]), r"position must have shape \(3,\), not \(1, 3\)"),
    (lambda: zelvane.Pose.from_matrix(np.eye(3)), r"matrix must have shape \(4, 4\), not \(3, 3\)"),
    (lambda: zelvane.Pose().apply(np.zeros((5, 2))), r"points must have shape \(3,\) or \(N, 3\)"),
])
def test_bad_arrays_raise_clear_value_errors(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_any_real_dtype_is_read_in_single_precision():
    expected = zelvane.quaternion_from_ypr(YPR, convention="intrinsic")
    for rows in (YPR.astype(np.float64), np.asfortranarray(YPR), YPR.tolist()):
        np.testing.assert_array_equal(zelvane.quaternion_from_ypr(rows, convention="intrinsic"),
                                      expected)
    integers = zelvane.quaternion_from_ypr(np.array([[1, 0, 0]], np.int64), convention="intrinsic")
    np.testing.assert_array_equal(integers, zelvane.quaternion_from_ypr([[1.0, 0, 0]],
                                                                         convention="intrinsic"))
    assert zelvane.quaternion_from_ypr(np.zeros((0, 3)), convention="intrinsic").shape == (0, 4)
