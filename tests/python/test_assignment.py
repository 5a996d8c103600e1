"""The assignment solver and the association of a frame against SciPy's solvers: SciPy's
own tests of linear_sum_assignment run against ours, the totals of the dense and sparse
forms with and without a cost limit, maximising, the association against overlaps
solved by SciPy, and the argument errors."""

import importlib.util
import math

import numpy as np
import pytest
import scipy.optimize
import scipy.sparse
import scipy.sparse.csgraph

import zelvane

RNG = np.random.default_rng(20)


def scipy_tests():
    """SciPy's test module of linear_sum_assignment, loaded afresh from the installed
    SciPy with ``zelvane.linear_sum_assignment`` in place of SciPy's, or the reason it
    cannot be (Debian ships it in python3-scipy; other installations may leave the
    tests out)."""
    name = "scipy.optimize.tests.test_linear_assignment"
    try:
        found = importlib.util.find_spec(name)
    except ImportError:
        found = None
    if found is None:
        return None, "SciPy's tests (%s) are not installed" % name
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    module.linear_sum_assignment = zelvane.linear_sum_assignment
    return module, None


SCIPY_TESTS, SCIPY_TESTS_MISSING = scipy_tests()
if SCIPY_TESTS is None:
    def test_scipy_tests_of_linear_sum_assignment():
        pytest.skip(SCIPY_TESTS_MISSING)
else:
    # Collected here as our own, parameters and all; they call the function through
    # their module's globals, where ours now stands.
    for _name in dir(SCIPY_TESTS):
        if _name.startswith("test_"):
            globals()["test_scipy_" + _name[len("test_"):]] = getattr(SCIPY_TESTS, _name)


def random_costs(rows, cols, kind):
    """Uniform reals, small integers (ties), or small integers with pairs forbidden."""
    if kind == 0:
        return RNG.uniform(-5, 100, (rows, cols))
    costs = RNG.integers(0, 5, (rows, cols)).astype(float)
    if kind == 2:
        costs[RNG.uniform(size=(rows, cols)) < 0.3] = np.inf
    return costs


def scipy_total(costs, limit=None):
    """The optimum by SciPy, or None when it finds no full matching. A limit L is
    solved on the square problem padded with a private column of cost L / 2 per row,
    a private row of cost L / 2 per column, and zeros between the padding."""
    rows, cols = costs.shape
    if limit is not None:
        padded = np.full((rows + cols, cols + rows), np.inf)
        padded[:rows, :cols] = costs
        padded[np.arange(rows), cols + np.arange(rows)] = limit / 2
        padded[rows + np.arange(cols), np.arange(cols)] = limit / 2
        padded[rows:, cols:] = 0
        costs = padded
    try:
        r, c = scipy.optimize.linear_sum_assignment(costs)
    except ValueError:
        return None
    return costs[r, c].sum()


def total(costs, row, col, limit=None):
    rows, cols = costs.shape
    unmatched = rows + cols - 2 * len(row)
    return costs[row, col].sum() + (0 if limit is None else unmatched * limit / 2)


@pytest.mark.parametrize("limit", [None, 2.0, 40.0])
@pytest.mark.parametrize("maximize", [False, True])
def test_totals_match_scipy_dense_and_sparse(limit, maximize):
    """Maximising the negated costs, above the negated limit, has the negated total."""
    sign = -1 if maximize else 1
    given_limit = None if limit is None else sign * limit
    for case in range(300):
        rows, cols = RNG.integers(0, 25, 2)
        costs = random_costs(rows, cols, case % 3)
        expected = scipy_total(costs, limit)
        given = sign * costs
        i, j = np.nonzero(np.isfinite(given))
        forms = {"dense": lambda: zelvane.linear_sum_assignment(given, maximize,
                                                                cost_limit=given_limit),
                 "sparse": lambda: zelvane.sparse_assignment(i, j, given[i, j], given.shape,
                                                             cost_limit=given_limit,
                                                             maximize=maximize)}
        for name, solve in forms.items():
            if expected is None:
                with pytest.raises(ValueError, match="no full matching"):
                    solve()
                continue
            row, col = solve()
            assert row.dtype == np.intp and np.all(np.diff(row) > 0), name
            assert len(set(col)) == len(col), name
            assert math.isclose(sign * total(given, row, col, given_limit), expected,
                                rel_tol=1e-9, abs_tol=1e-9), (name, case)


def test_dense_result_is_scipys_form():
    costs = RNG.uniform(0, 1, (30, 20))
    row, col = zelvane.linear_sum_assignment(costs)
    expected_row, expected_col = scipy.optimize.linear_sum_assignment(costs)
    assert row.shape == expected_row.shape and col.shape == expected_col.shape
    assert math.isclose(costs[row, col].sum(), costs[expected_row, expected_col].sum(),
                        rel_tol=1e-12)
    # Integer and boolean matrices are read as SciPy reads them.
    square = RNG.integers(0, 9, (12, 12))
    assert square[zelvane.linear_sum_assignment(square)].sum() == \
        square[scipy.optimize.linear_sum_assignment(square)].sum()


def test_sparse_matches_scipys_full_bipartite_matching():
    for _ in range(50):
        n = int(RNG.integers(1, 40))
        # A permutation guarantees a full matching; more pairs at random.
        i = np.concatenate([np.arange(n), RNG.integers(0, n, 3 * n)])
        j = np.concatenate([RNG.permutation(n), RNG.integers(0, n, 3 * n)])
        keep = np.unique(i * n + j, return_index=True)[1]
        i, j = i[keep], j[keep]
        cost = RNG.uniform(0.01, 1, len(i))
        graph = scipy.sparse.csr_matrix((cost, (i, j)), shape=(n, n))
        r, c = scipy.sparse.csgraph.min_weight_full_bipartite_matching(graph)
        row, col = zelvane.sparse_assignment(i, j, cost, (n, n))
        assert math.isclose(graph[row, col].sum(), graph[r, c].sum(), rel_tol=1e-9)
        greedy_row, greedy_col = zelvane.sparse_assignment(i, j, cost, (n, n), method="greedy")
        assert graph[greedy_row, greedy_col].sum() >= graph[r, c].sum() - 1e-9 or \
            len(greedy_row) < n


def boxes(count, side):
    return np.column_stack([RNG.uniform(0, side, (count, 2)), RNG.uniform(0, 1, count),
                            RNG.uniform(-math.pi, math.pi, count), RNG.uniform(2, 5, count),
                            RNG.uniform(1, 3, count), RNG.uniform(0.5, 2, count)]
                           ).astype(np.float32)


MATRICES = {"overlap": zelvane.overlap_matrix,
            "generalized_overlap": zelvane.generalized_overlap_matrix,
            "overlap_3d": zelvane.overlap_3d_matrix}


@pytest.mark.parametrize("metric, threshold", [
    ("overlap", 0.0), ("overlap", 0.3), ("generalized_overlap", -0.4),
    ("generalized_overlap", 0.2), ("overlap_3d", 0.1), ("distance", 1.5),
    ("centroid_distance", 3.0), ("centroid_distance_3d", 3.0)])
def test_associate_has_the_total_scipy_finds_on_the_matrix(metric, threshold):
    for _ in range(30):
        tracks, detections = boxes(int(RNG.integers(0, 30)), 20), boxes(int(RNG.integers(0, 30)),
                                                                        20)
        if metric in MATRICES:
            values = MATRICES[metric](tracks, detections)
            gain = np.where(values > threshold, values - threshold, 0.0)
        else:
            distance = getattr(zelvane.State, metric)
            values = np.array([[distance(zelvane.State.from_box(t), zelvane.State.from_box(d))
                                for d in detections] for t in tracks]).reshape(len(tracks),
                                                                               len(detections))
            gain = np.where(values <= threshold, threshold - values, 0.0)
        frame = zelvane.associate(tracks, detections, metric=metric, threshold=threshold)
        assert np.array_equal(frame.value, values[frame.track, frame.detection])
        assert sorted(np.concatenate([frame.track, frame.unmatched_tracks])) == \
            list(range(len(tracks)))
        assert sorted(np.concatenate([frame.detection, frame.unmatched_detections])) == \
            list(range(len(detections)))
        r, c = scipy.optimize.linear_sum_assignment(-gain) if gain.size else ([], [])
        assert math.isclose(gain[frame.track, frame.detection].sum(), gain[r, c].sum(),
                            rel_tol=1e-9, abs_tol=1e-12)
        greedy = zelvane.associate(tracks, detections, metric=metric, threshold=threshold,
                                   method="greedy")
        assert gain[greedy.track, greedy.detection].sum() <= gain[r, c].sum() + 1e-12


@pytest.mark.parametrize("call, message", [
    (lambda: zelvane.linear_sum_assignment([[1.0, np.nan]]), "invalid numeric entries .*NaN"),
    (lambda: zelvane.linear_sum_assignment([[1.0, -np.inf]]), "invalid numeric entries"),
    (lambda: zelvane.linear_sum_assignment([[1.0, np.inf]], True), "invalid numeric entries"),
    (lambda: zelvane.linear_sum_assignment([[1e200, 1.0]]), "1e150"),
    (lambda: zelvane.linear_sum_assignment(np.ones((2, 2, 2))), "expected a matrix"),
    (lambda: zelvane.linear_sum_assignment(np.ones((2, 2)), cost_limit=-1), "cost limit"),
    (lambda: zelvane.linear_sum_assignment(np.ones((2, 2)), cost_limit=np.nan), "cost limit"),
    (lambda: zelvane.linear_sum_assignment(np.ones((2, 2)), True, -np.inf), "cost limit"),
    (lambda: zelvane.linear_sum_assignment([[np.inf, 1.0], [np.inf, 2.0]]), "no full matching"),
    (lambda: zelvane.sparse_assignment([0, 2], [0, 0], [1.0, 1.0], (2, 2)), "outside"),
    (lambda: zelvane.sparse_assignment([0], [-1], [1.0], (2, 2)), "negative index"),
    (lambda: zelvane.sparse_assignment([0, 1], [0], [1.0], (2, 2)), "equal length"),
    (lambda: zelvane.sparse_assignment([0], [0], [1.0], (2, 2), method="best"), "method"),
    (lambda: zelvane.associate(boxes(2, 5), boxes(2, 5), metric="iou"), "metric"),
    (lambda: zelvane.associate(boxes(2, 5), boxes(2, 5), threshold=-0.1), "threshold"),
    (lambda: zelvane.associate(boxes(2, 5), boxes(2, 5), metric="distance",
                               threshold=math.inf), "gate"),
    (lambda: zelvane.associate(boxes(2, 5), boxes(2, 5), metric="centroid_distance"),
     "needs a gate"),
    (lambda: zelvane.associate(boxes(2, 5), boxes(2, 5), metric="centroid_distance_3d",
                               threshold=0.0), "gate above 0"),
    (lambda: zelvane.associate(np.ones((2, 6)), boxes(2, 5)), "tracks"),
])
def test_bad_arguments_raise_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call()


@pytest.mark.parametrize("call, message", [
    (lambda: zelvane.linear_sum_assignment([["a", "b"]]), "Cannot cast array data"),
    (lambda: zelvane.linear_sum_assignment(np.ones((2, 2), np.complex128)), "Cannot cast"),
    (lambda: zelvane.sparse_assignment([0], [0], ["1"], (1, 1)), "Cannot cast"),
    # Where the limit stood before maximize: refused rather than read as True.
    (lambda: zelvane.linear_sum_assignment(np.ones((2, 2)), 0.7), "maximize must be a bool"),
    (lambda: zelvane.linear_sum_assignment(np.ones((2, 2)), cost_limit="1"), "cost_limit"),
    (lambda: zelvane.associate(boxes(2, 5), boxes(2, 5), threshold="1"), "threshold"),
])
def test_bad_types_raise_type_error(call, message):
    with pytest.raises(TypeError, match=message):
        call()
