// The assignment solver on NumPy arrays (dense costs as SciPy's solver takes them, or
// listed pairs) and the association of a tracker frame. The arrays are read with the
// GIL, solved without it, and the results copied out with it.
#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "bindings.h"
#include "boxes.h"
#include "core/assignment.h"
#include "core/association.h"

namespace zelvane::python {

namespace {

using core::Assignment;
using core::AssignmentCandidate;

// An optional cost limit: None is no limit. The library checks the value.
double costLimitArgument(const py::object& value) {
  if (value.is_none()) return core::NO_COST_LIMIT;
  try {
    return value.cast<double>();
  } catch (const py::cast_error&) {
    throw py::type_error("cost_limit must be a number or None, not " +
                         py::repr(value).cast<std::string>());
  }
}

// `maximize` as SciPy reads it, by its truth; a float there is refused, as it is most
// likely a cost limit given where this function took one before it took `maximize`.
core::AssignmentGoal goalArgument(const py::object& maximize) {
  if (py::isinstance<py::float_>(maximize) ||
      py::isinstance(maximize, py::module_::import("numpy").attr("floating"))) {
    throw py::type_error("maximize must be a bool, not " + py::repr(maximize).cast<std::string>() +
                         " (a cost limit is given as cost_limit=...)");
  }
  return py::bool_(maximize) ? core::AssignmentGoal::Maximize : core::AssignmentGoal::Minimize;
}

// `value` as a float64 array of `dimensions` axes (a matrix or a vector), read as
// SciPy's solver reads its matrix, with its errors: the array's type must cast to
// float64 safely (bool, integers, floats up to double).
py::array_t<double, py::array::c_style> floatArray(const py::handle& value, const char* name,
                                                   py::ssize_t dimensions) {
  const py::array raw = py::array::ensure(value);
  if (!raw) throw py::value_error(std::string(name) + " must be an array of numbers");
  if (raw.ndim() != dimensions) {
    throw py::value_error(std::string("expected ") + (dimensions == 2 ? "a matrix" : "a vector") +
                          " (" + std::to_string(dimensions) + "-D array) for " + name + ", got a " +
                          std::to_string(raw.ndim()) + "-D array");
  }
  const py::module_ numpy = py::module_::import("numpy");
  if (!numpy.attr("can_cast")(raw.dtype(), "float64", "safe").cast<bool>()) {
    throw py::type_error("Cannot cast array data from " +
                         py::repr(raw.dtype()).cast<std::string>() +
                         " to dtype('float64') according to the rule 'safe'");
  }
  return py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(raw);
}

// The matched pairs as SciPy gives them: row indices in increasing order and the
// column of each.
py::tuple rowsAndColumns(const Assignment& assignment) {
  const auto count = static_cast<py::ssize_t>(assignment.matches.size());
  py::array_t<py::ssize_t> rows(count), columns(count);
  py::ssize_t* r = rows.mutable_data();
  py::ssize_t* c = columns.mutable_data();
  for (const core::AssignedPair& match : assignment.matches) {
    *r++ = static_cast<py::ssize_t>(match.row);
    *c++ = static_cast<py::ssize_t>(match.column);
  }
  return py::make_tuple(rows, columns);
}

py::tuple linearSumAssignment(const py::handle& value, const py::object& maximize,
                              const py::object& limitValue) {
  const auto cost = floatArray(value, "cost_matrix", 2);
  const core::AssignmentGoal goal = goalArgument(maximize);
  const double limit = costLimitArgument(limitValue);
  Assignment assignment;
  {
    py::gil_scoped_release release;
    thread_local core::AssignmentSolver solver;
    assignment = solver.solveRowMajor(cost.data(), static_cast<std::size_t>(cost.shape(0)),
                                      static_cast<std::size_t>(cost.shape(1)), limit, goal);
  }
  return rowsAndColumns(assignment);
}

py::tuple sparseAssignment(const py::handle& rowValues, const py::handle& columnValues,
                           const py::handle& costValues, const py::handle& shapeValue,
                           const py::object& limitValue, const std::string& method,
                           const py::object& maximize) {
  const auto costs = floatArray(costValues, "cost", 1);
  const py::array_t<long long, py::array::c_style> rows =
      py::array_t<long long, py::array::c_style | py::array::forcecast>::ensure(rowValues);
  const py::array_t<long long, py::array::c_style> columns =
      py::array_t<long long, py::array::c_style | py::array::forcecast>::ensure(columnValues);
  if (!rows || !columns || rows.ndim() != 1 || columns.ndim() != 1 || rows.size() != costs.size() ||
      columns.size() != costs.size()) {
    throw py::value_error("row, col and cost must be arrays of one dimension and equal length");
  }
  const auto shape = shapeValue.cast<std::pair<long long, long long>>();
  if (shape.first < 0 || shape.second < 0) throw py::value_error("shape must not be negative");
  const core::AssociationMethod chosen =
      nameArgument(core::associationMethodNames(), method, "method");
  const core::AssignmentGoal goal = goalArgument(maximize);
  const double limit = costLimitArgument(limitValue);
  std::vector<AssignmentCandidate> candidates(static_cast<std::size_t>(costs.size()));
  for (py::ssize_t k = 0; k < costs.size(); ++k) {
    if (rows.data()[k] < 0 || columns.data()[k] < 0) {
      throw py::value_error("pair " + std::to_string(k) + " has a negative index");
    }
    candidates[static_cast<std::size_t>(k)] = {static_cast<std::size_t>(rows.data()[k]),
                                               static_cast<std::size_t>(columns.data()[k]),
                                               costs.data()[k]};
  }
  Assignment assignment;
  {
    py::gil_scoped_release release;
    thread_local core::AssignmentSolver solver;
    const auto r = static_cast<std::size_t>(shape.first);
    const auto c = static_cast<std::size_t>(shape.second);
    assignment = chosen == core::AssociationMethod::Optimal
                     ? solver.solve(r, c, candidates, limit, goal)
                     : solver.solveGreedy(r, c, candidates, limit, goal);
  }
  return rowsAndColumns(assignment);
}

// The threshold of `metric`: None is 0 for the overlaps; the distance metrics need a
// gate, for which no default could serve.
double thresholdArgument(const py::object& value, core::AssociationMetric metric,
                         const std::string& metricName) {
  const bool distance = metric == core::AssociationMetric::Distance ||
                        metric == core::AssociationMetric::CentroidDistance ||
                        metric == core::AssociationMetric::CentroidDistance3d;
  if (!value.is_none()) {
    try {
      return value.cast<double>();
    } catch (const py::cast_error&) {
      throw py::type_error("threshold must be a number or None, not " +
                           py::repr(value).cast<std::string>());
    }
  }
  if (!distance) return 0.0;
  throw py::value_error("metric \"" + metricName +
                        "\" needs a gate: give threshold, the largest distance of a match");
}

py::object associate(const py::handle& trackValues, const py::handle& detectionValues,
                     const std::string& metricName, const py::object& thresholdValue,
                     const std::string& method) {
  const core::AssociationMetric metric =
      nameArgument(core::associationMetricNames(), metricName, "metric");
  const double threshold = thresholdArgument(thresholdValue, metric, metricName);
  const core::AssociationMethod chosen =
      nameArgument(core::associationMethodNames(), method, "method");
  Boxes tracks(trackValues, "tracks"), detections(detectionValues, "detections");
  core::Association association;
  {
    py::gil_scoped_release release;
    association = core::associate(tracks.states(), detections.states(), metric, threshold, chosen);
  }
  const auto count = static_cast<py::ssize_t>(association.matches.size());
  py::array_t<py::ssize_t> track(count), detection(count);
  py::array_t<double> value(count);
  for (py::ssize_t k = 0; k < count; ++k) {
    const core::AssociatedPair& m = association.matches[static_cast<std::size_t>(k)];
    track.mutable_data()[k] = static_cast<py::ssize_t>(m.row);
    detection.mutable_data()[k] = static_cast<py::ssize_t>(m.column);
    value.mutable_data()[k] = m.value;
  }
  const auto indices = [](const std::vector<std::size_t>& list) {
    py::array_t<py::ssize_t> result(static_cast<py::ssize_t>(list.size()));
    for (std::size_t k = 0; k < list.size(); ++k) {
      result.mutable_data()[k] = static_cast<py::ssize_t>(list[k]);
    }
    return result;
  };
  return py::module_::import("zelvane.records")
      .attr("Association")(track, detection, value, indices(association.unmatchedTracks),
                           indices(association.unmatchedDetections));
}

// The solvers of dense and sparse cost matrices.
void defineSolvers(py::module_& m) {
  m.def("linear_sum_assignment", &linearSumAssignment, py::arg("cost_matrix"),
        py::arg("maximize") = false, py::arg("cost_limit") = py::none(),
        R"doc(linear_sum_assignment(cost_matrix, maximize=False, cost_limit=None)
--

Solves the linear assignment problem: the rows and columns to pair so that the sum
of their costs is least (or largest). A drop-in for
``scipy.optimize.linear_sum_assignment``: called as it is, with results of the same
types, the same optimal total, the same exceptions and messages, and row i paired
with column i where all entries are equal. Runs without the GIL.

Parameters
----------
cost_matrix : array_like, shape (N, M)
    The cost of pairing row i with column j: any array whose type casts to float64
    safely (bool, integers, floats). ``numpy.inf`` forbids a pair (``-numpy.inf``
    when maximising).
maximize : bool, default False
    Seek the largest total instead. Read by its truth, as SciPy reads it; a float is
    refused (a cost limit is ``cost_limit=``).
cost_limit : float or None, default None
    None: min(N, M) pairs are matched, as SciPy does. A limit L: the sum of the
    matched costs plus L / 2 for every row and column left unmatched is minimised,
    so a pair is matched only where that pays (where it costs less than L; when
    maximising, where its value exceeds L, and the sum is maximised). Not the same as
    solving without the limit and dropping the pairs that cost more.

Returns
-------
row_ind, col_ind : numpy.ndarray of numpy.intp
    The matched pairs, ``row_ind`` in increasing order;
    ``cost_matrix[row_ind, col_ind].sum()`` is the least (largest) total. Among
    several best assignments the one returned may differ from SciPy's.

Raises
------
ValueError
    "expected a matrix" for an array that is not two-dimensional, "contains invalid
    numeric entries" for a NaN or -inf cost (NaN or +inf when maximising), "cost
    matrix is infeasible" when, without a limit, no pairing of min(N, M) allowed
    pairs exists; also for a finite cost beyond 1e150 and a limit below 0 (when
    maximising, -inf) or NaN.
TypeError
    "Cannot cast array data" for an array of another type (strings, complex,
    objects), or a float given as ``maximize``.

Notes
-----
Costs that SciPy accepts and this solver refuses: finite entries of magnitude beyond
1e150. The solver's dual prices are sums and differences of many costs; beyond that
bound they could overflow to infinity and the result would be wrong without a
sign, so such a matrix raises ValueError instead. Scale the costs down first.

Examples
--------
>>> row, col = zelvane.linear_sum_assignment(iou, maximize=True, cost_limit=0.3)
)doc");
  m.def(
      "sparse_assignment", &sparseAssignment, py::arg("row"), py::arg("col"), py::arg("cost"),
      py::arg("shape"), py::arg("cost_limit") = py::none(), py::arg("method") = "optimal",
      py::arg("maximize") = false,
      R"doc(sparse_assignment(row, col, cost, shape, cost_limit=None, method="optimal", maximize=False)
--

The assignment problem on listed pairs: only the pairs (row[k], col[k]) may be
matched, at cost[k] (a pair listed twice costs the lesser, or is worth the greater
when maximising). The work grows with the rows, columns and pairs, never with
N x M: each connected component of the pairs is solved on its own. Runs without the
GIL.

Parameters
----------
row, col : array_like of int, shape (K,)
    The indices of the listed pairs.
cost : array_like, shape (K,)
    Their costs, of a type that casts to float64 safely; ``numpy.inf`` is ignored
    (``-numpy.inf`` when maximising).
shape : (int, int)
    The number of rows N and columns M.
cost_limit : float or None, default None
    As in ``linear_sum_assignment``; without one, every row of the shorter side must
    be matched.
method : {"optimal", "greedy"}, default "optimal"
    "greedy": the cheapest pair first (the largest when maximising), then the
    cheapest left, and so on (never a pair that does not pass the limit); cheap, not
    optimal.
maximize : bool, default False
    Seek the largest total instead, as in ``linear_sum_assignment``.

Returns
-------
row_ind, col_ind : numpy.ndarray of numpy.intp
    The matched pairs, ``row_ind`` in increasing order.

Raises
------
ValueError
    For arrays of other shapes or lengths, an index outside ``shape``, a NaN or -inf
    cost (NaN or +inf when maximising), a bad limit or method, or, without a limit,
    when the shorter side cannot be matched in full.
TypeError
    For costs of a type that does not cast to float64 safely, or a float given as
    ``maximize``.
)doc");
}

// The association of tracks with detections.
void defineAssociation(py::module_& m) {
  m.def("associate", &associate, py::arg("tracks"), py::arg("detections"),
        py::arg("metric") = "overlap", py::arg("threshold") = py::none(),
        py::arg("method") = "optimal",
        R"doc(associate(tracks, detections, metric="overlap", threshold=None, method="optimal")
--

Associates a tracker frame: which detection continues which track. The candidate
pairs come from the sparse pair functions of the metric (only boxes near each other
are compared) and are solved as a sparse assignment with the threshold as its cost
limit, so that a pair is matched only where that pays. Runs without the GIL.

Parameters
----------
tracks, detections : array_like, shape (N, 7) and (M, 7), or sequences of State
    Boxes as rows (x, y, z, heading, length, width, height), as ``overlap_pairs``
    takes them.
metric : str, default "overlap"
    "overlap" (as ``overlap_pairs``), "generalized_overlap" (GIoU, as
    ``generalized_overlap_pairs``) and "overlap_3d" (as ``overlap_3d_pairs``):
    candidates score above ``threshold``, and the sum of (value - threshold) over the
    matches is maximised. "centroid_distance" (the box centres seen from above, as
    ``centroid_distance_pairs``), "centroid_distance_3d" (the centres in space) and
    "distance" (the footprints' corner distance, as ``distance_pairs``): candidates
    are at most ``threshold`` apart (a gate), and the sum of (threshold - distance) is
    maximised. A tracker usually wants "overlap", or "centroid_distance" with a gate
    of about the distance an object moves between frames where boxes may miss their
    track; "distance" is 0 whenever a corner of one box lies in the other, however far
    apart the centres, and gates poorly.
threshold : float or None, default None
    The least value (exclusive; above -1 for "generalized_overlap", 0 or more for the
    other overlaps; None is 0) or the distance gate (inclusive, above 0 and finite;
    required: no default gate would do).
method : {"optimal", "greedy"}, default "optimal"
    "greedy": the best pair first, then the best left; cheap, not optimal.

Returns
-------
Association
    A named tuple: ``track``, ``detection`` (numpy.intp, ordered by track) and
    ``value`` (float64, the metric's value of each match), then
    ``unmatched_tracks`` and ``unmatched_detections`` (numpy.intp, increasing).
    Boxes without a footprint are never matched.

Raises
------
ValueError
    For an unknown metric or method, a NaN threshold, a negative one for the
    overlaps (at or below -1 for "generalized_overlap"), a distance metric without a
    gate or with one not above 0 or not finite, or boxes of the wrong shape.

Examples
--------
>>> frame = zelvane.associate(tracks, detections, threshold=0.1)
>>> for i, j, iou in zip(frame.track, frame.detection, frame.value): ...
)doc");
}

}  // namespace

void bindAssignment(py::module_& m) {
  defineSolvers(m);
  defineAssociation(m);
}

}  // namespace zelvane::python
