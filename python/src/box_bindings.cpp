// Footprint comparisons of whole sets of boxes: the sparse pairs and the dense matrices
// of the overlap, the generalised overlap and the 3-D overlap, the distance gate, and
// the corners of many boxes at once, on (N, 7) arrays or sequences of `State`.
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
using core::State;

// Pairs as `zelvane.records.FootprintPairs(first, second, value)`: two index arrays
// and the values, one entry per pair; or, when `sparse`, as the N x M SciPy sparse
// matrix that `zelvane.records.sparse_pairs` makes of them.
template <class Find>
py::object pairsOf(Boxes& a, Boxes& b, bool sparse, Find find) {
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
      *i++ = static_cast<py::ssize_t>(pair.row);
      *j++ = static_cast<py::ssize_t>(pair.column);
      *v++ = pair.value;
    }
  }
  const py::module_ records = py::module_::import("zelvane.records");
  py::object result = records.attr("FootprintPairs")(first, second, value);
  if (!sparse) return result;
  return records.attr("sparse_pairs")(result, py::make_tuple(a.size(), b.size()));
}

// The metrics that pair boxes by how much they have in common.
enum class Metric { Overlap, Generalized, Overlap3d };

std::string repr(double value) { return py::repr(py::float_(value)).cast<std::string>(); }

template <Metric metric>
py::object metricPairs(const py::handle& a, const py::handle& b, double threshold, bool sparse) {
  if (metric == Metric::Generalized ? !(threshold > -1.0) : !(threshold >= 0.0)) {
    throw py::value_error(std::string("threshold must be ") +
                          (metric == Metric::Generalized ? "above -1" : "0 or above") + ", not " +
                          repr(threshold));
  }
  Boxes first(a, "a"), second(b, "b");
  return pairsOf(first, second, sparse, [threshold](const auto& x, const auto& y) {
    switch (metric) {
      case Metric::Generalized: return core::generalizedOverlapPairs(x, y, threshold);
      case Metric::Overlap3d: return core::overlap3dPairs(x, y, threshold);
      default: return core::overlapPairs(x, y, threshold);
    }
  });
}

// The distances that gate pairs: of the footprints' corners, or of the box centres
// seen from above or in space.
enum class Gate { Corners, Centres, Centres3d };

template <Gate gate>
py::object distancePairs(const py::handle& a, const py::handle& b, double limit, bool sparse) {
  if (std::isnan(limit)) throw py::value_error("gate must be a number, not nan");
  Boxes first(a, "a"), second(b, "b");
  return pairsOf(first, second, sparse, [limit](const auto& x, const auto& y) {
    switch (gate) {
      case Gate::Centres: return core::centroidDistancePairs(x, y, limit);
      case Gate::Centres3d: return core::centroidDistance3dPairs(x, y, limit);
      default: return core::distancePairs(x, y, limit);
    }
  });
}

template <Metric metric>
py::array_t<double> metricMatrix(const py::handle& a, const py::handle& b) {
  Boxes first(a, "a"), second(b, "b");
  py::array_t<double> result({first.size(), second.size()});
  double* out = result.mutable_data();
  {
    py::gil_scoped_release release;
    const auto& x = first.states();
    const auto& y = second.states();
    const Eigen::MatrixXd values = metric == Metric::Generalized
                                       ? core::generalizedOverlapMatrix(x, y)
                                   : metric == Metric::Overlap3d ? core::overlap3dMatrix(x, y)
                                                                 : core::overlapMatrix(x, y);
    Eigen::Map<Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
        out, values.rows(), values.cols()) = values;
  }
  return result;
}

py::array_t<float> boxCorners(const py::handle& boxes) {
  const FloatRows rows = floatRows(boxes, "boxes", 7);
  py::array_t<float> result = newRows(rows.count, {4, 2}, rows.single);
  float* out = result.mutable_data();
  {
    py::gil_scoped_release release;
    for (py::ssize_t i = 0; i < rows.count; ++i) {
      const float* b = rows.row(i);
      const State state = State::box({b[0], b[1], b[2]}, b[3], b[4], b[5], b[6]);
      for (const auto& corner : state.getCorners2D()) {
        *out++ = corner.x();
        *out++ = corner.y();
      }
    }
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

const char* kSparse = R"doc(sparse : bool, default False
    Return the pairs as a ``scipy.sparse.csr_matrix`` of shape (N, M) instead, the
    value of pair (i, j) at row i, column j. Zero values of pairs are stored
    explicitly: a stored entry is a pair, an entry not stored is none. Needs SciPy
    (ImportError otherwise); the rest of the module does not.
)doc";

const char* kNoFootprint = R"doc(
Boxes without a footprint (a State without position, or a NaN or infinite value in
the row) take part in no pair.
)doc";

const char* kPairsReturn = R"doc(
Returns
-------
FootprintPairs or scipy.sparse.csr_matrix
    A named tuple of three arrays of one entry per pair, ordered by ``first``, then
    ``second``: ``first`` (indices into ``a``), ``second`` (indices into ``b``),
    both ``numpy.intp``, and ``value``, float64. Unpacks as ``i, j, value``. With
    ``sparse=True``, the same pairs as a sparse matrix.
)doc";

const char* kShapeErrors = R"doc(a shape other than (N, 7) or (7,), a
    non-numeric array, or a sequence that mixes State objects with other values.
)doc";

// The documentation of a pairs function of a metric: its name and signature, what it
// returns, and how its threshold reads.
std::string pairsDoc(const char* signature, const char* summary, const char* threshold,
                     const char* thresholdError) {
  return std::string(signature) + "\n--\n\n" + summary + "\n\nParameters\n----------" + kBoxes +
         threshold + kSparse + kNoFootprint + kPairsReturn +
         "\nRaises\n------\nValueError\n    For " + thresholdError + ", or for " + kShapeErrors;
}

std::string matrixDoc(const char* signature, const char* summary) {
  return std::string(signature) + "\n--\n\n" + summary + "\n\nParameters\n----------" + kBoxes +
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
         kShapeErrors;
}

// The pairs of boxes that overlap: footprints, generalised, volumes.
void defineOverlapPairs(py::module_& m) {
  m.def("overlap_pairs", &metricPairs<Metric::Overlap>, py::arg("a"), py::arg("b"),
        py::arg("threshold") = 0.0, py::kw_only(), py::arg("sparse") = false,
        (pairsDoc("overlap_pairs(a, b, threshold=0.0, *, sparse=False)",
                  R"doc(The pairs of boxes whose footprints overlap by more than ``threshold``.

The footprint is a box seen from above; the overlap of two is the intersection over
union of their areas, each value bit for bit ``State.from_box(a[i]).overlap(
State.from_box(b[j]))``. Only boxes near each other are compared (a grid of their
bounding boxes), so a tracker frame of hundreds of boxes costs about as much as the
pairs found, not N x M. Runs without the GIL.

Examples
--------
>>> i, j, iou = zelvane.overlap_pairs(tracks, detections, threshold=0.1))doc",
                  R"doc(threshold : float, default 0.0
    Pairs with an overlap above it are reported. With 0, every pair whose footprints
    share an area; a pair that only touches has overlap 0 and is left out.
)doc",
                  "a negative or NaN threshold (every pair would qualify: see "
                  "``overlap_matrix``)"))
            .c_str());
  m.def("generalized_overlap_pairs", &metricPairs<Metric::Generalized>, py::arg("a"), py::arg("b"),
        py::arg("threshold") = 0.0, py::kw_only(), py::arg("sparse") = false,
        (pairsDoc("generalized_overlap_pairs(a, b, threshold=0.0, *, sparse=False)",
                  R"doc(The pairs of boxes whose generalised overlap is above ``threshold``.

The generalised overlap (GIoU) of two footprints is their overlap minus the share of
their convex hull that neither covers, in [-1, 1]: the overlap where one holds the
other's hull, at most 0 for boxes apart, towards -1 as they move apart; -1 for two
footprints without area. Each value is bit for bit ``State.from_box(a[i]).
generalized_overlap(State.from_box(b[j]))``. Runs without the GIL.)doc",
                  R"doc(threshold : float, default 0.0
    Pairs with a value above it are reported. From 0 up only boxes that overlap
    with an area qualify. Below 0 boxes apart qualify too: each box's bounding box
    is widened by 2 / (1 + threshold) times its diagonal (no qualifying pair lies
    farther apart), so the cost grows as the threshold nears -1.
)doc",
                  "a threshold at or below -1, or NaN (every pair would qualify: see "
                  "``generalized_overlap_matrix``)"))
            .c_str());
  m.def("overlap_3d_pairs", &metricPairs<Metric::Overlap3d>, py::arg("a"), py::arg("b"),
        py::arg("threshold") = 0.0, py::kw_only(), py::arg("sparse") = false,
        (pairsDoc("overlap_3d_pairs(a, b, threshold=0.0, *, sparse=False)",
                  R"doc(The pairs of boxes whose 3-D overlap is above ``threshold``.

The 3-D overlap is the intersection over union of the two boxes as volumes: the
footprints' common area times the common part of their heights (each height
centred on the box centre's z), over the union of the volumes. Each value is bit for
bit ``State.from_box(a[i]).overlap_3d(State.from_box(b[j]))``. Only boxes near each
other are compared, as for ``overlap_pairs``. Runs without the GIL.)doc",
                  R"doc(threshold : float, default 0.0
    Pairs with a value above it are reported; with 0, every pair of boxes that share
    a volume.
)doc",
                  "a negative or NaN threshold"))
            .c_str());
}

// The pairs of boxes within a gate: corners, centres seen from above, centres in space.
void defineDistancePairs(py::module_& m) {
  m.def("distance_pairs", &distancePairs<Gate::Corners>, py::arg("a"), py::arg("b"),
        py::arg("gate"), py::kw_only(), py::arg("sparse") = false,
        (pairsDoc("distance_pairs(a, b, gate, *, sparse=False)",
                  R"doc(The pairs of boxes whose footprints are at most ``gate`` apart.

The distance of two footprints is the smallest distance from a corner of either to
the other (0 when a corner lies in or on the other), each value bit for bit
``State.from_box(a[i]).distance(State.from_box(b[j]))``. Only corners are tested:
two boxes crossing like a plus sign without a corner inside the other are apart by
a positive distance. Only boxes whose bounding boxes come within the gate are
compared. Runs without the GIL. To gate a tracker's pairs, ``centroid_distance_pairs``
is usually what is wanted: the corner distance is 0 whenever a corner of one box lies
in the other, however far apart the centres.)doc",
                  R"doc(gate : float
    The largest distance reported. A negative gate gives no pair, ``math.inf`` every
    pair of boxes with a footprint.
)doc",
                  "a NaN gate"))
            .c_str());
  m.def(
      "centroid_distance_pairs", &distancePairs<Gate::Centres>, py::arg("a"), py::arg("b"),
      py::arg("gate"), py::kw_only(), py::arg("sparse") = false,
      (pairsDoc("centroid_distance_pairs(a, b, gate, *, sparse=False)",
                R"doc(The pairs of boxes whose centres, seen from above, are at most ``gate`` apart.

Each value is bit for bit ``State.from_box(a[i]).centroid_distance(
State.from_box(b[j]))``: the distance of the box centres (x, y), in double precision.
This is the gate a tracker usually wants: it grows steadily as two boxes move apart.
Only centres within a square of half side the gate are compared. Runs without the
GIL.)doc",
                R"doc(gate : float
    The largest distance reported. A negative gate gives no pair, ``math.inf`` every
    pair of boxes with a finite centre.
)doc",
                "a NaN gate"))
          .c_str());
  m.def("centroid_distance_3d_pairs", &distancePairs<Gate::Centres3d>, py::arg("a"), py::arg("b"),
        py::arg("gate"), py::kw_only(), py::arg("sparse") = false,
        (pairsDoc("centroid_distance_3d_pairs(a, b, gate, *, sparse=False)",
                  R"doc(The pairs of boxes whose centres, in space, are at most ``gate`` apart.

As ``centroid_distance_pairs``, by the distance of the box centres (x, y, z): each
value is bit for bit ``State.from_box(a[i]).centroid_distance_3d(
State.from_box(b[j]))``. Runs without the GIL.)doc",
                  R"doc(gate : float
    The largest distance reported. A negative gate gives no pair, ``math.inf`` every
    pair of boxes with a finite centre.
)doc",
                  "a NaN gate"))
            .c_str());
}

// Every box against every other, and the corners of boxes.
void defineMatrices(py::module_& m) {
  m.def(
      "overlap_matrix", &metricMatrix<Metric::Overlap>, py::arg("a"), py::arg("b"),
      matrixDoc(
          "overlap_matrix(a, b)",
          R"doc(The overlap (intersection over union) of every box of ``a`` with every box of ``b``.

Each value is bit for bit ``State.from_box(a[i]).overlap(State.from_box(b[j]))``.
Every pair is visited (pairs apart cost a bounding-box test); for large sets of
which few pairs overlap, ``overlap_pairs`` is cheaper. Runs without the GIL.)doc")
          .c_str());
  m.def(
      "generalized_overlap_matrix", &metricMatrix<Metric::Generalized>, py::arg("a"), py::arg("b"),
      matrixDoc("generalized_overlap_matrix(a, b)",
                R"doc(The generalised overlap (GIoU) of every box of ``a`` with every box of ``b``.

Each value is bit for bit ``State.from_box(a[i]).generalized_overlap(
State.from_box(b[j]))``, in [-1, 1]. Every pair is visited and costs a convex hull.
Runs without the GIL.)doc")
          .c_str());
  m.def("overlap_3d_matrix", &metricMatrix<Metric::Overlap3d>, py::arg("a"), py::arg("b"),
        matrixDoc("overlap_3d_matrix(a, b)",
                  R"doc(The 3-D overlap of every box of ``a`` with every box of ``b``.

Each value is bit for bit ``State.from_box(a[i]).overlap_3d(State.from_box(b[j]))``.
Every pair is visited (pairs apart cost a bounding-box test). Runs without the GIL.)doc")
            .c_str());
  m.def("box_corners", &boxCorners, py::arg("boxes"),
        R"doc(box_corners(boxes)
--

The footprint corners of many boxes at once.

Parameters
----------
boxes : array_like, shape (N, 7) or (7,)
    Rows (x, y, z, heading, length, width, height), as for ``overlap_pairs``.

Returns
-------
numpy.ndarray, float32, shape (N, 4, 2), or (4, 2) for one row
    For each box its corners (x, y): front-left, front-right, rear-right,
    rear-left (clockwise seen from above), as ``State.from_box(row).corners()``
    gives them. NaN or infinite values in a row give corners that are not finite.

Raises
------
ValueError
    For a shape other than (N, 7) or (7,), or a non-numeric array.
)doc");
}

}  // namespace

void bindBoxes(py::module_& m) {
  defineOverlapPairs(m);
  defineDistancePairs(m);
  defineMatrices(m);
}

}  // namespace zelvane::python
