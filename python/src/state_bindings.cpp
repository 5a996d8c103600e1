// The tracked-object state for single boxes: members as NumPy values or None, the
// footprint geometry (corners, overlap, distance) and the text form.
#include <sstream>
#include <string>

#include <pybind11/stl.h>

#include "bindings.h"
#include "core/state.h"

namespace zelvane::python {

namespace {

using core::State;
using Vector3 = Gaussian<float, 3>;
using Scalar = Gaussian<float, 1>;
using BoxDimensions = core::Dimensions<float, frames::Trackable>;

// Sets the mean of a three-vector member, keeping its covariance; None removes it.
void setMean(boost::optional<Vector3>& value, const py::handle& mean, const char* name) {
  if (mean.is_none()) {
    value = boost::none;
    return;
  }
  const Eigen::Vector3f m = vector<3>(mean, name);
  if (!value) value = Vector3();
  value->mean = m;
}

// A three-vector member (position, velocity, acceleration): its mean and its
// covariance as separate Python properties, None while the member is absent.
template <boost::optional<Vector3> State::*member>
void defVector(py::class_<State>& cls, const char* name, const std::string& covarianceName,
               const std::string& what) {
  cls.def_property(
      name,
      [](const State& state) -> py::object {
        const auto& value = state.*member;
        return value ? py::object(toArray(value->mean)) : py::object(py::none());
      },
      [name](State& state, const py::handle& mean) { setMean(state.*member, mean, name); },
      ("numpy.ndarray of float32, shape (3,), or None: the mean " + what +
       " (x, y, z); None when absent. Setting None removes it with its covariance; setting "
       "a value keeps the covariance.")
          .c_str());
  cls.def_property(
      covarianceName.c_str(),
      [](const State& state) -> py::object {
        const auto& value = state.*member;
        return value ? py::object(toArray(value->covariance)) : py::object(py::none());
      },
      [name](State& state, const py::handle& covariance) {
        auto& value = state.*member;
        if (!value) throw py::value_error(std::string(name) + " is absent: set it first");
        value->covariance = matrix<3, 3>(covariance, "covariance");
      },
      ("numpy.ndarray of float32, shape (3, 3), or None: the covariance of the " + what +
       "; None while it is absent, zeros until set.")
          .c_str());
}

template <boost::optional<Scalar> State::*member>
void defScalar(py::class_<State>& cls, const char* name, const char* varianceName,
               const std::string& what) {
  cls.def_property(
      name,
      [](const State& state) -> std::optional<float> {
        const auto& value = state.*member;
        return value ? std::optional<float>(value->mean) : std::nullopt;
      },
      [](State& state, std::optional<float> mean) {
        auto& value = state.*member;
        if (!mean) {
          value = boost::none;
          return;
        }
        if (!value) value = Scalar();
        value->mean = *mean;
      },
      ("float or None: the " + what + "; None when absent.").c_str());
  cls.def_property(
      varianceName,
      [](const State& state) -> std::optional<float> {
        const auto& value = state.*member;
        return value ? std::optional<float>(value->covariance) : std::nullopt;
      },
      [name](State& state, float variance) {
        auto& value = state.*member;
        if (!value) throw py::value_error(std::string(name) + " is absent: set it first");
        value->covariance = variance;
      },
      ("float or None: the variance of the " + what + "; None while it is absent.").c_str());
}

void setDimensions(State& state, const py::handle& extents) {
  if (extents.is_none()) {
    state.dimensions = boost::none;
    return;
  }
  const Eigen::Vector3f e = vector<3>(extents, "dimensions");
  const tkit::Cart<float, frames::Trackable> anchor =
      state.dimensions ? state.dimensions->anchor : tkit::Cart<float, frames::Trackable>{};
  state.dimensions = BoxDimensions(e[0], e[1], e[2], anchor);
}

void setAnchor(State& state, const py::handle& anchor) {
  if (!state.dimensions) throw py::value_error("dimensions are absent: set them first");
  const Eigen::Vector3f a = vector<3>(anchor, "anchor");
  state.dimensions->anchor = tkit::Cart<float, frames::Trackable>{a[0], a[1], a[2]};
}

std::string text(const State& state) {
  std::ostringstream out;
  out << state;
  return out.str();
}

std::string stateSummary(const State& state) {
  std::string text = "State(";
  const auto add = [&text](const std::string& part) {
    text += (text.back() == '(' ? "" : ", ") + part;
  };
  const auto vectorText = [](const Eigen::Vector3f& v) {
    std::ostringstream out;
    out << '[' << v.x() << ", " << v.y() << ", " << v.z() << ']';
    return out.str();
  };
  if (state.position) add("position=" + vectorText(state.position->mean));
  if (state.velocity) add("velocity=" + vectorText(state.velocity->mean));
  if (state.acceleration) add("acceleration=" + vectorText(state.acceleration->mean));
  if (state.heading)
    add("heading=" + py::repr(py::float_(state.heading->mean)).cast<std::string>());
  if (state.headingRate) {
    add("heading_rate=" + py::repr(py::float_(state.headingRate->mean)).cast<std::string>());
  }
  if (state.dimensions) {
    const auto& d = *state.dimensions;
    add("dimensions=" + vectorText(Eigen::Vector3f(d.length, d.width, d.height)));
    add("anchor=" + vectorText(Eigen::Vector3f(d.anchor.x, d.anchor.y, d.anchor.z)));
  }
  return text + ")";
}

const char* kStateDoc = R"doc(The state of one tracked object, and its box's footprint geometry.

Every member is optional (None when absent): ``position``, ``velocity`` and
``acceleration`` (x, y, z) with their covariances, ``heading`` (radians,
counter-clockwise from x) and ``heading_rate`` with their variances, and the box:
``dimensions`` (length along the heading, width, height) with its ``anchor``, the
offset from the box centre to the point that ``position`` describes, in the box's
own axes. Values are float32, as in the C++ library.

The footprint is the box seen from above. ``overlap``, ``generalized_overlap`` and
``distance`` compare two footprints, ``overlap_3d`` two boxes; all give NaN when
either state has no position.

Parameters
----------
position, velocity, acceleration : array_like, shape (3,), optional
heading, heading_rate : float, optional
dimensions : array_like, shape (3,), optional
    (length, width, height).
anchor : array_like, shape (3,), optional
    Needs ``dimensions``; (0, 0, 0) when not given: the position is the box centre.

See Also
--------
State.from_box

Examples
--------
>>> a = zelvane.State.from_box([0, 0, 0, 0, 4, 2, 1.5])
>>> b = zelvane.State.from_box([1, 0, 0, 0, 4, 2, 1.5])
>>> a.overlap(b)   # intersection 6 over union 10
0.6
)doc";

// __init__, from_box, and the members with their uncertainties.
void defineStateMembers(py::class_<State>& cls) {
  cls.def(py::init([](const py::handle& position, const py::handle& velocity,
                      const py::handle& acceleration, std::optional<float> heading,
                      std::optional<float> heading_rate, const py::handle& dimensions,
                      const py::handle& anchor) {
            State state;
            setMean(state.position, position, "position");
            setMean(state.velocity, velocity, "velocity");
            setMean(state.acceleration, acceleration, "acceleration");
            if (heading) state.heading = Scalar{*heading, 0.0f};
            if (heading_rate) state.headingRate = Scalar{*heading_rate, 0.0f};
            setDimensions(state, dimensions);
            if (!anchor.is_none()) setAnchor(state, anchor);
            return state;
          }),
          py::kw_only(), py::arg("position") = py::none(), py::arg("velocity") = py::none(),
          py::arg("acceleration") = py::none(), py::arg("heading") = py::none(),
          py::arg("heading_rate") = py::none(), py::arg("dimensions") = py::none(),
          py::arg("anchor") = py::none(),
          "__init__(self, *, position=None, velocity=None, acceleration=None, heading=None, "
          "heading_rate=None, dimensions=None, anchor=None)\n--\n\n"
          "A state with the members given; see the class documentation.");
  cls.def_static(
      "from_box",
      [](const py::handle& box, const py::handle& anchor) {
        const Eigen::Matrix<float, 7, 1> b = vector<7>(box, "box");
        State state = State::box(b.head<3>(), b[3], b[4], b[5], b[6]);
        if (!anchor.is_none()) setAnchor(state, anchor);
        return state;
      },
      py::arg("box"), py::arg("anchor") = py::none(),
      R"doc(from_box(box, anchor=None)
--

A box-shaped state from one row (x, y, z, heading, length, width, height).

Parameters
----------
box : array_like, shape (7,)
    Position, heading in radians, and extents; the layout of a row of a box array.
anchor : array_like, shape (3,), optional
    Offset from the box centre to the position, in the box's axes; (0, 0, 0) by
    default (the position is the box centre).

Returns
-------
State
    With position, heading and dimensions, every covariance zero.
)doc");

  defVector<&State::position>(cls, "position", "position_covariance", "position");
  defVector<&State::velocity>(cls, "velocity", "velocity_covariance", "velocity");
  defVector<&State::acceleration>(cls, "acceleration", "acceleration_covariance", "acceleration");
  defScalar<&State::heading>(cls, "heading", "heading_variance",
                             "heading in radians, counter-clockwise from x");
  defScalar<&State::headingRate>(cls, "heading_rate", "heading_rate_variance",
                                 "rate of change of the heading");
  cls.def_property(
      "dimensions",
      [](const State& state) -> py::object {
        if (!state.dimensions) return py::none();
        const auto& d = *state.dimensions;
        return toArray(Eigen::Vector3f(d.length, d.width, d.height));
      },
      &setDimensions,
      "numpy.ndarray of float32, shape (3,), or None: the box extents (length along the "
      "heading, width, height); None when absent. Setting None removes the anchor too.");
  cls.def_property(
      "anchor",
      [](const State& state) -> py::object {
        if (!state.dimensions) return py::none();
        const auto& a = state.dimensions->anchor;
        return toArray(Eigen::Vector3f(a.x, a.y, a.z));
      },
      &setAnchor,
      "numpy.ndarray of float32, shape (3,), or None: offset from the box centre to the "
      "point that ``position`` describes, in the box's axes; None without dimensions.");
}

// The overlaps of two footprints or boxes.
void defineStateOverlaps(py::class_<State>& cls) {
  cls.def("overlap", &State::overlap, py::arg("other"),
          R"doc(overlap(self, other)
--

Intersection over union of the two footprints.

Returns
-------
float
    In [0, 1]; 0 when the union has no area (e.g. a state without dimensions); NaN
    when either state has no position or a footprint coordinate is not finite.
)doc");
  cls.def("generalized_overlap", &State::generalizedOverlap, py::arg("other"),
          R"doc(generalized_overlap(self, other)
--

Generalised intersection over union (GIoU) of the two footprints: ``overlap`` minus
the share of the convex hull of both footprints that neither covers.

Returns
-------
float
    In [-1, 1]: ``overlap`` where one footprint holds the other's hull, at most 0 for
    footprints apart, towards -1 as they move apart; -1 when the union has no area
    (e.g. neither state has dimensions); NaN when either state has no position or a
    footprint coordinate is not finite.
)doc");
  cls.def("overlap_3d", &State::overlap3d, py::arg("other"),
          R"doc(overlap_3d(self, other)
--

Intersection over union of the two boxes as volumes: the footprints' common area
times the common part of the heights, over the union of the two volumes. Each box's
height is centred on the z of its centre (the position's z less the anchor's z).

Returns
-------
float
    In [0, 1]; 0 when the boxes share no volume or the union has no area or volume;
    NaN when either state has no position, or a footprint coordinate, the centre's z
    or the height is not finite.
)doc");
}

// Distances and headings between two states, and the corners and centre of one.
void defineStateDistances(py::class_<State>& cls) {
  cls.def("distance", &State::distance, py::arg("other"),
          R"doc(distance(self, other)
--

Smallest distance from a corner of either footprint to the other footprint.

Returns
-------
float
    0 when a corner lies in or on the other footprint. Only corners are tested: two
    boxes crossing like a plus sign without a corner inside the other give a positive
    distance. NaN when either state has no position.
)doc");
  cls.def("centroid_distance", &State::centroidDistance, py::arg("other"),
          R"doc(centroid_distance(self, other)
--

Distance between the two box centres seen from above (x and y of ``centroid``), in
double precision. Unlike ``distance`` it grows steadily as the boxes move apart: the gate a
tracker usually wants.

Returns
-------
float
    NaN when either state has no position or a centre coordinate is not finite.
)doc");
  cls.def("centroid_distance_3d", &State::centroidDistance3d, py::arg("other"),
          R"doc(centroid_distance_3d(self, other)
--

Distance between the two box centres in space (``centroid``), in double precision.

Returns
-------
float
    NaN when either state has no position or a centre coordinate is not finite.
)doc");
  cls.def("squared_distance", &State::getSquaredDistance, py::arg("other"),
          "squared_distance(self, other)\n--\n\n"
          "Squared three-dimensional distance of the two positions (float32 arithmetic); NaN "
          "when either state has no position.");
  cls.def("relative_heading", &State::relativeHeading, py::arg("other"),
          "relative_heading(self, other)\n--\n\n"
          "This heading minus the other's, wrapped into [-pi, pi); NaN when either heading "
          "is absent.");
  cls.def("velocity_heading", &State::velocityHeading,
          "velocity_heading(self)\n--\n\n"
          "Direction of travel, atan2(vy, vx) in [-pi, pi]; 0 without a velocity.");
  cls.def(
      "corners",
      [](const State& state) {
        const auto corners = state.getCorners2D();
        Eigen::Matrix<float, 4, 2> rows;
        for (int i = 0; i < 4; ++i) rows.row(i) = corners[static_cast<std::size_t>(i)].transpose();
        return toArray(rows);
      },
      R"doc(corners(self)
--

The four footprint corners.

Returns
-------
numpy.ndarray, float32, shape (4, 2)
    Front-left, front-right, rear-right, rear-left (clockwise seen from above). All
    four equal the position without dimensions; NaN without a position.
)doc");
  cls.def(
      "centroid", [](const State& state) { return toArray(state.centroid()); },
      "centroid(self)\n--\n\n"
      "numpy.ndarray of float32, shape (3,): the box centre (the position minus the "
      "anchor turned by the heading); NaN without a position.");
}

}  // namespace

void bindState(py::module_& m) {
  py::class_<State> cls(m, "State", kStateDoc);
  defineStateMembers(cls);
  defineStateOverlaps(cls);
  defineStateDistances(cls);
  cls.def("__str__", &text, "__str__(self)\n--\n\nThe six-section text form of the C++ library.");
  cls.def("__repr__", &stateSummary);
}

}  // namespace zelvane::python
