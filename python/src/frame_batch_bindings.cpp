// Lookups at many times in one call: poses, matrices, and points each mapped at its
// own time, without a Python loop.
#include <cstdint>
#include <string>
#include <vector>

#include "errors.h"
#include "frame_graph_bindings.h"
#include "geometry/transform_manager.h"

namespace zelvane::python {

namespace {

// The lookups of `from` in `to` at every time, without the GIL; codes as int8.
std::vector<Pose> lookupTimes(TransformManager& manager, const std::string& from,
                              const std::string& to,
                              const py::array_t<long, py::array::c_style>& times,
                              TransformManager::InterpolationMethod method,
                              py::array_t<std::int8_t>& codes) {
  const auto count = static_cast<std::size_t>(times.size());
  std::vector<Pose> poses(count);
  std::vector<Result> results(count);
  codes = py::array_t<std::int8_t>(times.size());
  std::int8_t* out = codes.mutable_data();
  py::gil_scoped_release release;
  // Each time's code is returned; the count of successes adds nothing to them.
  static_cast<void>(
      manager.getTransforms(from, to, times.data(), count, method, poses.data(), results.data()));
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::int8_t>(results[i]);
  return poses;
}

py::object lookupMany(TransformManager& manager, const std::string& from, const std::string& to,
                      const py::handle& times, const std::string& method) {
  const auto sampling = methodArgument(method);
  const auto stamps = timesArgument(times, "times");
  py::array_t<std::int8_t> codes;
  const std::vector<Pose> poses = lookupTimes(manager, from, to, stamps, sampling, codes);
  const auto count = static_cast<py::ssize_t>(poses.size());
  py::array_t<float> positions({count, py::ssize_t{3}});
  py::array_t<float> quaternions({count, py::ssize_t{4}});
  py::array_t<std::int64_t> timestamps(count);
  float* p = positions.mutable_data();
  float* q = quaternions.mutable_data();
  std::int64_t* t = timestamps.mutable_data();
  for (const Pose& pose : poses) {
    for (int c = 0; c < 3; ++c) *p++ = pose.position[c];
    for (int c = 0; c < 4; ++c) *q++ = pose.orientation.coeffs()[c];  // x, y, z, w
    *t++ = pose.timestamp;
  }
  return py::module_::import("zelvane.records")
      .attr("PoseArrays")(positions, quaternions, timestamps, codes);
}

const char* kLookupManyDoc =
    R"doc(lookup_many(self, from_frame, to_frame, times, method='interpolated')
--

The poses of ``from_frame`` in ``to_frame`` at many times, in one call.

Each pose equals, bit for bit, ``lookup(from_frame, to_frame, time, method)`` at its
time. A failed time does not raise: its code says why and its pose is the identity.
One lock, one walk of the path, and for rising times one pass over each edge's
samples, without the GIL; times may also come in any order and repeat. An
"interpolated" lookup refused past the newest sample logs its warning for each
time, as ``lookup`` does; ``common_time_span`` tells beforehand which times work.

Parameters
----------
from_frame, to_frame : str
times : array_like of int, shape (T,)
    Any integer dtype.
method : {"interpolated", "extrapolated", "most_recent"}, default "interpolated"

Returns
-------
PoseArrays
    ``positions`` (T, 3) float32, ``quaternions`` (T, 4) float32 (x, y, z, w),
    ``timestamps`` (T,) int64, ``codes`` (T,) int8 (the ``TransformResult`` of each
    lookup), and ``ok``, the mask of the times that succeeded.

Raises
------
ValueError
    For times that are not a 1-D array of integers, or an unknown method.

Examples
--------
>>> poses = graph.lookup_many("Body", "Global", np.arange(14000, 16000, 10))
>>> poses.positions[poses.ok]
)doc";

py::object lookupManyMatrices(TransformManager& manager, const std::string& from,
                              const std::string& to, const py::handle& times,
                              const std::string& method) {
  const auto sampling = methodArgument(method);
  const auto stamps = timesArgument(times, "times");
  const auto count = static_cast<std::size_t>(stamps.size());
  py::array_t<float> matrices({stamps.size(), py::ssize_t{4}, py::ssize_t{4}});
  py::array_t<std::int8_t> codes(stamps.size());
  float* out = matrices.mutable_data();
  std::int8_t* code_out = codes.mutable_data();
  {
    py::gil_scoped_release release;
    std::vector<Eigen::Matrix4f> to_T_from(count);
    std::vector<Result> results(count);
    static_cast<void>(manager.getTransformMatrices(from, to, stamps.data(), count, sampling,
                                                   to_T_from.data(), results.data()));
    for (std::size_t i = 0; i < count; ++i) {
      Eigen::Map<Eigen::Matrix<float, 4, 4, Eigen::RowMajor>>(out + 16 * i) = to_T_from[i];
      code_out[i] = static_cast<std::int8_t>(results[i]);
    }
  }
  return py::module_::import("zelvane.records").attr("MatrixArrays")(matrices, codes);
}

const char* kLookupManyMatricesDoc =
    R"doc(lookup_many_matrices(self, from_frame, to_frame, times, method='interpolated')
--

``lookup_many`` as 4x4 matrices: each equal bit for bit to
``lookup(from_frame, to_frame, time, method).as_matrix()``, the identity where the
lookup failed.

Parameters
----------
from_frame, to_frame : str
times : array_like of int, shape (T,)
method : {"interpolated", "extrapolated", "most_recent"}, default "interpolated"

Returns
-------
MatrixArrays
    ``matrices`` (T, 4, 4) float32, which map points of ``from_frame`` into
    ``to_frame``; ``codes`` (T,) int8; ``ok``, the mask of the times that succeeded.

Raises
------
ValueError
    For times that are not a 1-D array of integers, or an unknown method.
)doc";

// Points each at its own time: (N, 3) points and (N,) times.
py::object transformPointsAtTimes(TransformManager& manager, const FloatRows& rows,
                                  const std::string& from, const std::string& to,
                                  const py::handle& times,
                                  TransformManager::InterpolationMethod method) {
  const auto stamps = timesArgument(times, "time");
  if (rows.single || stamps.size() != rows.count) {
    throw py::value_error(
        "points and times must have as many rows: points of shape (N, 3) "
        "and times of shape (N,), not " +
        std::to_string(rows.single ? -1 : rows.count) + " and " + std::to_string(stamps.size()) +
        " rows");
  }
  py::array_t<float> placed = newRows(rows.count, {3}, false);
  py::array_t<std::int8_t> codes(rows.count);
  float* out = placed.mutable_data();
  std::int8_t* code_out = codes.mutable_data();
  {
    py::gil_scoped_release release;
    const auto count = static_cast<std::size_t>(rows.count);
    std::vector<Result> results(count);
    static_cast<void>(manager.transformPoints(from, to, rows.row(0), stamps.data(), count, method,
                                              out, results.data()));
    for (std::size_t i = 0; i < count; ++i) code_out[i] = static_cast<std::int8_t>(results[i]);
  }
  return py::module_::import("zelvane.records").attr("PlacedPoints")(placed, codes);
}

// A time given as one integer (a Python int, a NumPy integer scalar or a 0-d integer
// array), rather than as an array or a list of times (where other numbers are refused).
bool isOneTime(const py::handle& time) {
  if (py::isinstance<py::array>(time)) {
    const auto array = py::reinterpret_borrow<py::array>(time);
    return array.ndim() == 0 && (array.dtype().kind() == 'i' || array.dtype().kind() == 'u');
  }
  return PyIndex_Check(time.ptr()) != 0;
}

py::object transformPoints(TransformManager& manager, const py::handle& points,
                           const std::string& from, const std::string& to,
                           const py::handle& time_argument, const std::string& method) {
  const auto sampling = methodArgument(method);
  if (!isOneTime(time_argument)) {
    return transformPointsAtTimes(manager, floatRows(points, "points", 3), from, to, time_argument,
                                  sampling);
  }
  long time = 0;
  readTime(time_argument, time);
  const FloatRows rows = floatRows(points, "points", 3);
  py::array_t<float> result = newRows(rows.count, {3}, rows.single);
  float* out = result.mutable_data();
  Result code;
  {
    py::gil_scoped_release release;
    Pose to_T_from;
    code = manager.getTransform(from, to, time, sampling, to_T_from);
    if (code == TransformManager::Success) {
      mapPoints(to_T_from.toTransform(), rows.row(0), static_cast<std::size_t>(rows.count), out);
    }
  }
  if (code != TransformManager::Success) {
    raiseLookupError(manager, code, lookupRequest(from, to, time, method),
                     lookupReason(manager, from, to, time, code));
  }
  return result;
}

const char* kTransformPointsDoc =
    R"doc(transform_points(self, points, from_frame, to_frame, time, method='interpolated')
--

Maps points given in ``from_frame`` into ``to_frame`` at ``time``, or each point at
its own time.

With one time: one lookup (see ``lookup``) and one pass over the points in C++,
without the GIL. With an array of times (a scan whose sensor moved while it
scanned): the lookups of ``lookup_many`` and one pass over the points, without the
GIL and without a Python loop; points sharing a time (a spinning lidar's firing)
share one lookup. A failed lookup does not raise: its points are NaN and its code
says why.

Parameters
----------
points : array_like, shape (3,) or (N, 3)
    Points in ``from_frame``; shape (N, 3) with an array of times.
from_frame, to_frame : str
time : int or array_like of int, shape (N,)
    One time for every point, or the time of each point (any integer dtype).
method : {"interpolated", "extrapolated", "most_recent"}, default "interpolated"

Returns
-------
numpy.ndarray, float32, shape (3,) or (N, 3)
    With one time: the points in ``to_frame``, ``lookup(...).as_matrix() @ (x, y, z,
    1)`` each.
PlacedPoints
    With an array of times: ``points`` (N, 3) float32, each equal bit for bit to
    ``transform_points(point, ..., time=its time)``, NaN where the lookup failed;
    ``codes`` (N,) int8, the ``TransformResult`` of each point's lookup; ``ok``, the
    mask of the points placed.

Raises
------
NoFramesError, FrameNotFoundError, OutOfRangeError
    As ``lookup``, with one time only.
ValueError
    For a shape other than (3,) or (N, 3), a non-numeric array, times that are not
    integers or not one per point, or an unknown method.

Examples
--------
>>> placed = graph.transform_points(scan_points, "Sensor", "Global", point_times)
>>> placed.points[placed.ok]
)doc";

}  // namespace

// transform_points, lookup_many and lookup_many_matrices.
void defineBatchLookups(TransformManagerClass& cls) {
  cls.def("transform_points", &transformPoints, py::arg("points"), py::arg("from_frame"),
          py::arg("to_frame"), py::arg("time"), py::arg("method") = "interpolated",
          kTransformPointsDoc)
      .def("lookup_many", &lookupMany, py::arg("from_frame"), py::arg("to_frame"), py::arg("times"),
           py::arg("method") = "interpolated", kLookupManyDoc)
      .def("lookup_many_matrices", &lookupManyMatrices, py::arg("from_frame"), py::arg("to_frame"),
           py::arg("times"), py::arg("method") = "interpolated", kLookupManyMatricesDoc);
}

}  // namespace zelvane::python
