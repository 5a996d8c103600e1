// `LocalOrigin`: map-scale coordinates in double shifted near zero before they become
// single-precision poses and points, and placed points shifted back.
#include <string>

#include "bindings.h"
#include "geometry/local_origin.h"

namespace zelvane::python {

namespace {

Eigen::Vector3d originOf(const LocalOrigin& origin) { return origin.origin(); }

py::array_t<double> originArray(const LocalOrigin& origin) {
  py::array_t<double> result(3);
  double* out = result.mutable_data();
  for (int c = 0; c < 3; ++c) out[c] = origin.origin()[c];
  result.attr("flags").attr("writeable") = false;
  return result;
}

LocalOrigin makeOrigin(const py::handle& origin) {
  const DoubleRows rows = doubleRows(origin, "origin", 3);
  if (!rows.single) throw py::value_error("origin must have shape (3,)");
  const double* o = rows.array.data();
  return LocalOrigin(Eigen::Vector3d(o[0], o[1], o[2]));
}

const char* kLocalOriginDoc =
    R"doc(A local origin, kept in double precision, for map-scale coordinates.

Poses and points are single precision, whose spacing grows with the magnitude: a
coordinate near 690,000 (an easting of a projected map) is stored to within 3.1 cm,
one near 5,330,000 (a northing) to within 0.25 m, and points placed through such a
pose come out off by up to a metre. Shift map positions to an origin near the data
on the way in (``to_local``, ``pose_to_local``), look up and place points in that
local frame, and shift the placed points back in double on the way out (``to_map``):
a few kilometres around the origin keep a fraction of a millimetre.

Only a shift: orientations and timestamps pass unchanged.

Parameters
----------
origin : array_like, shape (3,)
    The origin in map coordinates, kept as float64.

Examples
--------
>>> origin = zelvane.LocalOrigin([690000.0, 5330000.0, 0.0])
>>> graph.set_transform("Body", "Local", origin.pose_to_local(nav_xyz, nav_quat), time=t)
>>> placed = graph.transform_points(points, "Sensor", "Local", point_times)
>>> in_map = origin.to_map(placed.points)
)doc";

}  // namespace

void bindLocalOrigin(py::module_& m) {
  py::class_<LocalOrigin>(m, "LocalOrigin", kLocalOriginDoc)
      .def(py::init(&makeOrigin), py::arg("origin"),
           "__init__(self, origin)\n--\n\nA local origin at ``origin`` (map coordinates).")
      .def_property_readonly("origin", &originArray,
                             "numpy.ndarray of float64, shape (3,): the origin in map "
                             "coordinates (read-only).")
      .def(
          "to_local",
          [](const LocalOrigin& origin, const py::handle& points) {
            const DoubleRows rows = doubleRows(points, "points", 3);
            py::array_t<float> result = newRows(rows.count, {3}, rows.single);
            float* out = result.mutable_data();
            const double* in = rows.array.data();
            py::gil_scoped_release release;
            origin.toLocal(in, static_cast<std::size_t>(rows.count), out);
            return result;
          },
          py::arg("points"), R"doc(to_local(self, points)
--

Map-scale points as points of the local frame: ``points - origin`` in double,
rounded to float32 once.

Parameters
----------
points : array_like, shape (3,) or (N, 3)
    Map coordinates; pass float64 (float32 has already lost what this keeps).

Returns
-------
numpy.ndarray, float32, shape (3,) or (N, 3)
)doc")
      .def(
          "to_map",
          [](const LocalOrigin& origin, const py::handle& points) {
            const FloatRows rows = floatRows(points, "points", 3);
            py::array_t<double> result(rows.single ? std::vector<py::ssize_t>{3}
                                                   : std::vector<py::ssize_t>{rows.count, 3});
            double* out = result.mutable_data();
            py::gil_scoped_release release;
            origin.toMap(rows.row(0), static_cast<std::size_t>(rows.count), out);
            return result;
          },
          py::arg("points"), R"doc(to_map(self, points)
--

Points of the local frame in map coordinates: ``origin + points`` in double.

Parameters
----------
points : array_like, shape (3,) or (N, 3)
    Points in the local frame (read as float32, as the frame graph places them).

Returns
-------
numpy.ndarray, float64, shape (3,) or (N, 3)
)doc")
      .def(
          "pose_to_local",
          [](const LocalOrigin& origin, const py::handle& position, const py::handle& orientation,
             std::int64_t timestamp) {
            const DoubleRows rows = doubleRows(position, "position", 3);
            if (!rows.single) throw py::value_error("position must have shape (3,)");
            const double* p = rows.array.data();
            const Eigen::Vector4f q = vector<4>(orientation, "orientation");
            return origin.toLocal(Eigen::Vector3d(p[0], p[1], p[2]),
                                  Eigen::Quaternionf(q[3], q[0], q[1], q[2]), timestamp);
          },
          py::arg("position"), py::arg("orientation") = py::make_tuple(0, 0, 0, 1),
          py::arg("timestamp") = 0,
          R"doc(pose_to_local(self, position, orientation=(0, 0, 0, 1), timestamp=0)
--

A pose given in the map, its position in map coordinates, as a ``Pose`` in the local
frame: ``position - origin`` in double, rounded to float32 once; the orientation
(x, y, z, w) and the timestamp unchanged.
)doc")
      .def(py::pickle([](const LocalOrigin& origin) { return py::make_tuple(originArray(origin)); },
                      [](const py::tuple& state) { return makeOrigin(state[0]); }))
      .def("__repr__", [](const LocalOrigin& origin) {
        const Eigen::Vector3d o = originOf(origin);
        return "LocalOrigin([" + py::repr(py::float_(o[0])).cast<std::string>() + ", " +
               py::repr(py::float_(o[1])).cast<std::string>() + ", " +
               py::repr(py::float_(o[2])).cast<std::string>() + "])";
      });
}

}  // namespace zelvane::python
