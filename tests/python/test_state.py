"""State for single boxes: geometry and text form against the C++ library, and the
members as optional Python values."""

import math

import numpy as np
import pytest

import zelvane
from conftest import f32

RNG = np.random.default_rng(7)


def random_boxes(count):
    boxes = np.column_stack([RNG.uniform(-5, 5, (count, 2)), RNG.uniform(0, 2, count),
                             RNG.uniform(-4, 4, count), RNG.uniform(0.5, 6, (count, 2)),
                             RNG.uniform(1, 3, count)])
    return boxes.astype(np.float32)


# Random pairs near each other, and hostile ones: identical, apart, touching at an
# edge, contained, crossing like a plus sign, far from the origin, a negative extent.
PAIRS = list(zip(random_boxes(40), random_boxes(40))) + [
    (np.array(a, np.float32), np.array(b, np.float32)) for a, b in [
        ([0, 0, 0, 0, 4, 2, 1.5], [0, 0, 0, 0, 4, 2, 1.5]),
        ([0, 0, 0, 0, 4, 2, 1.5], [100, 0, 0, 1, 4, 2, 1.5]),
        ([0, 0, 0, 0, 4, 2, 1.5], [4, 0, 0, 0, 4, 2, 1.5]),
        ([0, 0, 0, 0.3, 8, 6, 1.5], [0.5, 0.2, 0, 0.1, 1, 1, 1]),
        ([0, 0, 0, 0, 10, 1, 1], [0, 0, 0, 1.5707964, 10, 1, 1]),
        ([5e5, -3e5, 2, 0.7, 4.5, 1.8, 1.5], [5e5 + 0.5, -3e5, 2, 0.75, 4.4, 1.9, 1.5]),
        ([0, 0, 0, 0, -4, 2, 1], [1, 0, 0, 0, 4, 2, 1]),
    ]]


def test_geometry_equals_the_library_bit_for_bit(reference):
    for a, b in PAIRS:
        expected = reference.floats("boxes %s %s" % (f32(a), f32(b)))
        first, second = zelvane.State.from_box(a), zelvane.State.from_box(b)
        np.testing.assert_array_equal(
            [first.overlap(second), first.distance(second)], expected[:2])
        assert np.float32(first.squared_distance(second)) == np.float32(expected[2])
        assert np.float32(first.relative_heading(second)) == np.float32(expected[3])
        np.testing.assert_array_equal(first.centroid(), expected[4:7].astype(np.float32))
        np.testing.assert_array_equal(first.corners().ravel(), expected[7:15].astype(np.float32))
        np.testing.assert_array_equal([first.centroid_distance(second),
                                       first.centroid_distance_3d(second)], expected[15:])


def test_text_form_equals_the_library(reference):
    for box in [PAIRS[0][0], [1.5, -2.25, 0.5, 0.1, 4.5, 1.8, 1.6]]:
        assert str(zelvane.State.from_box(box)) == reference.text("box_text " + f32(box),
                                                                  until="END")
    assert str(zelvane.State()).count("(not available)") == 6


def test_members_are_optional_values():
    state = zelvane.State(position=[1, 2, 3], heading=0.5, dimensions=[4, 2, 1.5],
                          anchor=[1, 0, 0])
    assert state.velocity is None and state.velocity_covariance is None
    assert state.heading == 0.5 and state.heading_variance == 0
    np.testing.assert_array_equal(state.position_covariance, np.zeros((3, 3)))
    state.position_covariance = np.diag([1, 2, 3])
    state.position = [4, 5, 6]  # keeps the covariance
    np.testing.assert_array_equal(state.position_covariance, np.diag([1, 2, 3]))
    state.heading_variance = 0.01
    assert state.heading_variance == pytest.approx(0.01)
    state.dimensions = [5, 2, 1]  # keeps the anchor
    np.testing.assert_array_equal(state.anchor, [1, 0, 0])
    with pytest.raises(ValueError, match="read-only"):
        state.position[0] = 0

    state.position = None
    state.dimensions = None
    assert state.position_covariance is None and state.anchor is None
    assert math.isnan(state.overlap(zelvane.State.from_box([0, 0, 0, 0, 4, 2, 1])))
    assert math.isnan(state.distance(zelvane.State.from_box([0, 0, 0, 0, 4, 2, 1])))
    assert repr(state) == "State(heading=0.5)"
    for setter, message in [(lambda: setattr(state, "velocity_covariance", np.eye(3)),
                             "velocity is absent"),
                            (lambda: setattr(state, "anchor", [0, 0, 0]), "dimensions are absent"),
                            (lambda: setattr(state, "position", [1, 2]), r"shape \(3,\)"),
                            (lambda: zelvane.State.from_box(np.zeros(6)), r"box must have shape"),
                            (lambda: setattr(state, "heading_variance", 1.0) or
                             setattr(zelvane.State(), "heading_rate_variance", 1.0),
                             "heading_rate is absent")]:
        with pytest.raises(ValueError, match=message):
            setter()
