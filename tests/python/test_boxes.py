"""Box matching on arrays: the sparse pairs and dense matrices of the three overlaps,
the distance gate and the corners against the C++ library bit for bit, the pairs as a
SciPy sparse matrix, and the argument errors."""

import math
import sys

import numpy as np
import pytest

import zelvane
from conftest import f32

RNG = np.random.default_rng(15)


def tracker_frame(count, side):
    """Boxes in a square, and a moved, turned copy of each in another order, plus a few
    anywhere: every box overlaps its copy and now and then a neighbour."""
    boxes = np.column_stack([RNG.uniform(0, side, (count, 2)), RNG.uniform(0, 2, count),
                             RNG.uniform(-math.pi, math.pi, count),
                             RNG.uniform(3.6, 5.4, count), RNG.uniform(1.4, 2.2, count),
                             RNG.uniform(1, 3, count)])
    copies = boxes + np.column_stack([RNG.uniform(-0.5, 0.5, (count, 2)), np.zeros(count),
                                      RNG.uniform(-0.1, 0.1, count), np.zeros((count, 3))])
    clutter = boxes[:5] + [side / 2, side / 3, 0, 1, 0, 0, 0]
    return (boxes.astype(np.float32),
            RNG.permutation(np.vstack([copies, clutter])).astype(np.float32))


# Identical, touching at an edge, contained, crossing like a plus sign, far from the
# origin, a negative extent, no extent, and rows without a footprint (NaN, infinite).
HOSTILE = np.array([
    [0, 0, 0, 0, 4, 2, 1.5], [0, 0, 0, 0, 4, 2, 1.5], [4, 0, 0, 0, 4, 2, 1.5],
    [0.5, 0.2, 0, 0.1, 1, 1, 1], [0, 0, 0, 1.5707964, 10, 1, 1], [0, 0, 0, 0, 10, 1, 1],
    [5e5, -3e5, 2, 0.7, 4.5, 1.8, 1.5], [5e5 + 0.5, -3e5, 2, 0.75, 4.4, 1.9, 1.5],
    [1, 0, 0, 0, -4, 2, 1], [1, 1, 0, 0, 0, 0, 0], [math.nan, 0, 0, 0, 4, 2, 1],
    [0, 0, 0, math.inf, 4, 2, 1], [0, 0, 0, 0, 4, math.nan, 1],
], np.float32)

SETS = [tracker_frame(60, 40), (HOSTILE, HOSTILE[::-1]), (HOSTILE, tracker_frame(20, 6)[1]),
        (np.empty((0, 7)), HOSTILE), (HOSTILE[0].astype(np.float64), HOSTILE)]


def request(command, a, b, limit=None):
    a, b = np.atleast_2d(a), np.atleast_2d(b)
    return " ".join([command] + ([] if limit is None else [repr(limit)]) +
                    ["%d %d" % (len(a), len(b)), f32(a), f32(b)])


METRICS = [("overlap", (0.0, 0.5)), ("generalized_overlap", (0.0, 0.5, -0.3, -0.9)),
           ("overlap_3d", (0.0, 0.5))]


@pytest.mark.parametrize("a, b", SETS)
def test_batch_calls_equal_the_library_bit_for_bit(reference, a, b):
    for metric, thresholds in METRICS:
        for threshold in thresholds:
            pairs = getattr(zelvane, metric + "_pairs")(a, b, threshold=threshold)
            assert pairs.first.dtype == np.intp and pairs.value.dtype == np.float64
            np.testing.assert_array_equal(
                np.column_stack(pairs).ravel(),
                reference.floats(request(metric + "_pairs", a, b, threshold)))
        matrix = getattr(zelvane, metric + "_matrix")(a, b)
        assert matrix.shape == (len(np.atleast_2d(a)), len(b)) and matrix.dtype == np.float64
        np.testing.assert_array_equal(matrix.ravel(),
                                      reference.floats(request(metric + "_matrix", a, b)))
    for gated in ("distance_pairs", "centroid_distance_pairs", "centroid_distance_3d_pairs"):
        for gate in (0.0, 2.0, math.inf, -1.0):
            i, j, distance = getattr(zelvane, gated)(a, b, gate)
            np.testing.assert_array_equal(np.column_stack([i, j, distance]).ravel(),
                                          reference.floats(request(gated, a, b, gate)))
    corners = zelvane.box_corners(b)
    assert corners.shape == (len(b), 4, 2) and corners.dtype == np.float32
    expected = reference.floats("corners %d %s" % (len(b), f32(b))).astype(np.float32)
    np.testing.assert_array_equal(corners.ravel(), expected)


def test_sequences_of_states_compare_as_they_are():
    """Anchors and absent positions, which rows cannot express, and integers for floats."""
    a, b = tracker_frame(8, 10)
    states = [zelvane.State.from_box(row, anchor=[1, 0.5, 0]) for row in a] + [zelvane.State()]
    matrix = zelvane.overlap_matrix(states, tuple(zelvane.State.from_box(row) for row in b))
    expected = [[s.overlap(zelvane.State.from_box(row)) for row in b] for s in states]
    np.testing.assert_array_equal(matrix, expected)
    assert np.isnan(matrix[-1]).all()
    i, j, value = zelvane.overlap_pairs(states, b)
    np.testing.assert_array_equal(value, matrix[i, j])
    assert len(i) == (matrix > 0).sum()
    np.testing.assert_array_equal(zelvane.overlap_matrix([], b), np.empty((0, len(b))))
    whole = np.rint(a).astype(np.int16)
    np.testing.assert_array_equal(zelvane.overlap_matrix(whole, b),
                                  zelvane.overlap_matrix(whole.astype(np.float32), b))


def test_state_methods_give_the_matrix_values():
    a, b = tracker_frame(30, 20)
    tracks = [zelvane.State.from_box(row) for row in a]
    detections = [zelvane.State.from_box(row) for row in b]
    for metric, _ in METRICS:
        np.testing.assert_array_equal(getattr(zelvane, metric + "_matrix")(a, b),
                                      [[getattr(s, metric)(t) for t in detections] for s in tracks])
    assert zelvane.box_corners(HOSTILE[0]).shape == (4, 2)


def test_pairs_as_sparse_matrices(monkeypatch):
    pytest.importorskip("scipy")
    a, b = tracker_frame(30, 20)
    for metric, threshold in (("overlap", 0.0), ("generalized_overlap", -0.5),
                              ("overlap_3d", 0.0), ("distance", 0.0)):
        pairs = getattr(zelvane, metric + "_pairs")(a, b, threshold)
        sparse = getattr(zelvane, metric + "_pairs")(a, b, threshold, sparse=True)
        assert sparse.shape == (len(a), len(b)) and sparse.nnz == len(pairs.value) > 0
        # Zero values (distance 0) are stored entries, not dropped.
        np.testing.assert_array_equal(sparse[pairs.first, pairs.second].A1, pairs.value)
    monkeypatch.setitem(sys.modules, "scipy", None)
    with pytest.raises(ImportError, match="sparse=True needs SciPy"):
        zelvane.overlap_pairs(a, b, sparse=True)


@pytest.mark.parametrize("call, message", [
    (lambda: zelvane.generalized_overlap_pairs(HOSTILE, HOSTILE, threshold=-1.0),
     "threshold must be above -1, not -1.0"),
    (lambda: zelvane.overlap_3d_pairs(HOSTILE, HOSTILE, -0.5), "threshold must be 0 or above"),
    (lambda: zelvane.box_corners(np.zeros((2, 6))), r"boxes must have shape \(7,\) or \(N, 7\)"),
    (lambda: zelvane.overlap_pairs(np.zeros((3, 6)), HOSTILE),
     r"a must have shape \(7,\) or \(N, 7\), not \(3, 6\)"),
    (lambda: zelvane.overlap_matrix(HOSTILE, np.zeros((2, 7, 1))), r"b must have shape .*\(2, 7, 1\)"),
    (lambda: zelvane.distance_pairs(HOSTILE, HOSTILE.astype(complex), 1.0),
     "b must hold real numbers, not dtype complex128"),
    (lambda: zelvane.overlap_pairs([["x"] * 7], HOSTILE), "a must hold real numbers"),
    (lambda: zelvane.overlap_pairs([zelvane.State(), HOSTILE[0]], HOSTILE),
     "a mixes State objects with other values"),
    (lambda: zelvane.overlap_pairs(HOSTILE, HOSTILE, threshold=-0.1),
     "threshold must be 0 or above, not -0.1"),
    (lambda: zelvane.overlap_pairs(HOSTILE, HOSTILE, threshold=math.nan), "threshold"),
    (lambda: zelvane.distance_pairs(HOSTILE, HOSTILE, gate=math.nan), "gate must be a number"),
])
def test_bad_arguments_raise_value_errors(call, message):
    with pytest.raises(ValueError, match=message):
        call()
