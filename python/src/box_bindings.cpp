// Footprint comparisons of whole sets of boxes: the sparse overlap pairs, the distance
// gate and the dense overlap matrix, on (N, 7) arrays or sequences of `State`.
//
// The states are built from the array rows, compared and the results copied out
// without the GIL; only the result arrays are made with it.
#include <cmath>
#include <string>
#include <vector>

#include "bindings.h"
#include "boxes.h"
#include "core/footprint_pairs.h"
#include "core/state.h"

namespace zelvane::python {

namespace {

using core::FootprintPair;

// Pairs as `zelvane.records.FootprintPairs(first, second, value)`: two index arrays
// and the values, one entry per pair.
template <class Find>
py::object pairsOf(Boxes& a, Boxes& b, Find find) {
  std::vector<FootprintPair> pairs;
  {
    py::gil_scoped_release release;
    pairs = find(a.states(), b.states());
  }
  const auto count = static_cast<py::ssize_t>(pairs.size());
  py::array_t<py::ssize_t> first(count), second(count);
  py::array_t<double> value(count);
  py::ssize_t* i = first.mutable_data();
  py::ssize_t* j = second.mutable_data();
  double* v = value.mutable_data();
  {
    py::gil_scoped_release release;
    for (const FootprintPair& pair : pairs) {
      *i++ = static_cast<py::ssize_t>(pair.first);
      *j++ = static_cast<py::ssize_t>(pair.second);
      *v++ = pair.value;
    }
  }
  return py::module_::import("zelvane.records").attr("FootprintPairs")(first, second, value);
}

py::object overlapPairs(const py::handle& a, const py::handle& b, double threshold) {
  if (!(threshold >= 0.0)) {
    throw py::value_error("threshold must be 0 or above, not " +
                          py::repr(py::float_(threshold)).cast<std::string>());
  }
  Boxes first(a, "a"), second(b, "b");
  return pairsOf(first, second, [threshold](const auto& x, const auto& y) {
    return core::overlapPairs(x, y, threshold);
  });
}

py::object distancePairs(const py::handle& a, const py::handle& b, double gate) {
  if (std::isnan(gate)) throw py::value_error("gate must be a number, not nan");
  Boxes first(a, "a"), second(b, "b");
  return pairsOf(first, second,
                 [gate](const auto& x, const auto& y) { return core::distancePairs(x, y, gate); });
}

py::array_t<double> overlapMatrix(const py::handle& a, const py::handle& b) {
  Boxes first(a, "a"), second(b, "b");
  py::array_t<double> result({first.size(), second.size()});
  double* out = result.mutable_data();
  {
    py::gil_scoped_release release;
    const Eigen::MatrixXd overlap = core::overlapMatrix(first.states(), second.states());
    Eigen::Map<Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
        out, overlap.rows(), overlap.cols()) = overlap;
  }
  return result;
}

const char* kBoxes = R"doc(
a, b : array_like, shape (N, 7) and (M, 7), or sequences of State
    Boxes as rows (x, y, z, heading, length, width, height): the box centre, the
    heading in radians (counter-clockwise from x) and the extents, read in single
    precision as ``State.from_box`` reads one row. A single row of shape (7,) is one
    box. A list or tuple of ``State`` objects compares those states as they are
    (anchors, absent members).
)doc";

const char* kNoFootprint = R"doc(
Boxes without a footprint (a State without position, or a NaN or infinite value in
the row) take part in no pair.
)doc";

const char* kPairsReturn = R"doc(
Returns
-------
FootprintPairs
    A named tuple of three arrays of one entry per pair, ordered by ``first``, then
    ``second``: ``first`` (indices into ``a``), ``second`` (indices into ``b``),
    both ``numpy.intp``, and ``value``, float64. Unpacks as ``i, j, value``.
)doc";

const char* kShapeErrors = R"doc(a shape other than (N, 7) or (7,), a
    non-numeric array, or a sequence that mixes State objects with other values.
)doc";

}  // namespace

void bindBoxes(py::module_& m) {
  m.def("overlap_pairs", &overlapPairs, py::arg("a"), py::arg("b"), py::arg("threshold") = 0.0,
        (std::string(R"doc(overlap_pairs(a, b, threshold=0.0)
--

The pairs of boxes whose footprints overlap by more than ``threshold``.

The footprint is a box seen from above; the overlap of two is the intersection over
union of their areas, each value bit for bit ``State.from_box(a[i]).overlap(
State.from_box(b[j]))``. Only boxes near each other are compared (a grid of their
bounding boxes), so a tracker frame of hundreds of boxes costs about as much as the
pairs found, not N x M. Runs without the GIL.

Parameters
----------)doc") +
         kBoxes + R"doc(threshold : float, default 0.0
    Pairs with an overlap above it are reported. With 0, every pair whose footprints
    share an area; a pair that only touches has overlap 0 and is left out.
)doc" + kNoFootprint +
         kPairsReturn +
         R"doc(
Raises
------
ValueError
    For a negative or NaN threshold (every pair would qualify: see
    ``overlap_matrix``), or for )doc" +
         kShapeErrors + R"doc(
Examples
--------
>>> i, j, iou = zelvane.overlap_pairs(tracks, detections, threshold=0.1)
)doc")
            .c_str());
  m.def("distance_pairs", &distancePairs, py::arg("a"), py::arg("b"), py::arg("gate"),
        (std::string(R"doc(distance_pairs(a, b, gate)
--

The pairs of boxes whose footprints are at most ``gate`` apart.

The distance of two footprints is the smallest distance from a corner of either to
the other (0 when a corner lies in or on the other), each value bit for bit
``State.from_box(a[i]).distance(State.from_box(b[j]))``. Only corners are tested:
two boxes crossing like a plus sign without a corner inside the other are apart by
a positive distance. Only boxes whose bounding boxes come within the gate are
compared. Runs without the GIL.

Parameters
----------)doc") +
         kBoxes + R"doc(gate : float
    The largest distance reported. A negative gate gives no pair, ``math.inf`` every
    pair of boxes with a footprint.
)doc" + kNoFootprint +
         kPairsReturn +
         R"doc(
Raises
------
ValueError
    For a NaN gate, or for )doc" +
         kShapeErrors)
            .c_str());
  m.def("overlap_matrix", &overlapMatrix, py::arg("a"), py::arg("b"),
        (std::string(R"doc(overlap_matrix(a, b)
--

The overlap (intersection over union) of every box of ``a`` with every box of ``b``.

Each value is bit for bit ``State.from_box(a[i]).overlap(State.from_box(b[j]))``.
Every pair is visited (pairs apart cost a bounding-box test); for large sets of
which few pairs overlap, ``overlap_pairs`` is cheaper. Runs without the GIL.

Parameters
----------)doc") +
         kBoxes +
         R"doc(
Returns
-------
numpy.ndarray, float64, shape (N, M)
    Rows follow ``a``, columns ``b``; NaN in the rows and columns of boxes without
    a footprint.

Raises
------
ValueError
    For )doc" +
         kShapeErrors)
            .c_str());
}

}  // namespace zelvane::python
