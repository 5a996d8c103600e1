// Pickling: `Pose`, `State`, `TransformManager` and `Tracker` as plain tuples of Python
// numbers, strings and lists, so that `pickle`, `copy`, `multiprocessing` and cluster engines
// carry them between processes and machines.
//
// Every state starts with its form number. A build reads every form up to
// `kPickleForm` and refuses a newer one with ValueError. Whatever changes what a
// state holds gets the next form number, and the reader of each older form stays:
// a pickle written by any earlier release still loads.
//
// Form 1:
//   Pose:             (1, (x, y, z), (qx, qy, qz, qw), timestamp)
//   State:            (1, position, velocity, acceleration, heading, heading_rate, box)
//                     each None when absent; a vector member (mean (3,), covariance (9,)
//                     column-major), a scalar one (mean, variance), the box (length,
//                     width, height, anchor x, y, z)
//   TransformManager: (1, [frame, ...], [(from, to, entries, inverse entries), ...],
//                     history window, [(name, frame, pose), ...]) with an entry
//                     (key, x, y, z, qx, qy, qz, qw, timestamp) and a pose the same
//                     without the key
//   Tracker:          (1, [class, ...], [track, ...], next id, frames, time) with a class
//                     the dict of its parameters as settings texts (see
//                     tracker_binding.h) and a track (id, class index, confirmed, hits,
//                     misses, age, score, (left, top, right, bottom), x (10,), P (100,)
//                     column-major)
// Floats are single precision widened to Python floats (exact both ways); keys and the
// window are doubles; timestamps 64-bit integers. Connected callbacks are not kept.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "bindings.h"
#include "core/state.h"
#include "geometry/transform_manager.h"
#include "tracker_binding.h"

namespace zelvane::python {

namespace {

using core::State;
using Vector3 = Gaussian<float, 3>;
using Scalar = Gaussian<float, 1>;
using Snapshot = TransformManager::Snapshot;

/// The newest form this build writes and reads.
constexpr long kPickleForm = 1;

// The body of a pickled state (the items after the form number), refusing what is not
// a state of `type` and forms newer than this build reads.
std::vector<py::object> stateBody(const py::handle& state, const std::string& type,
                                  std::size_t length) {
  const std::string what = "zelvane." + type;
  if (!py::isinstance<py::tuple>(state) || py::len(state) == 0 ||
      !py::isinstance<py::int_>(py::tuple(py::reinterpret_borrow<py::object>(state))[0])) {
    throw py::value_error("not a pickled " + what);
  }
  const auto items = py::reinterpret_borrow<py::tuple>(state);
  const py::object form = items[0];
  if (form > py::int_(kPickleForm)) {
    throw py::value_error("cannot unpickle " + what + ": it was pickled in form " +
                          py::str(form).cast<std::string>() +
                          " by a newer zelvane, and this build reads forms 1 to " +
                          std::to_string(kPickleForm) + "; unpickle it with a newer zelvane");
  }
  if (form < py::int_(1) || items.size() != length + 1) {
    throw py::value_error("not a pickled " + what);
  }
  std::vector<py::object> body;
  for (std::size_t i = 1; i < items.size(); ++i) body.push_back(items[i]);
  return body;
}

// Reads a state with `read`, turning a value of the wrong type or length into the
// ValueError of a malformed state.
template <class Read>
auto readState(const std::string& type, Read&& read) {
  try {
    return read();
  } catch (const py::cast_error&) {
    throw py::value_error("not a pickled zelvane." + type);
  }
}

template <int N>
Eigen::Matrix<float, N, 1> floats(const py::handle& value) {
  const auto items = value.cast<std::vector<float>>();
  if (items.size() != static_cast<std::size_t>(N)) throw py::cast_error();
  return Eigen::Map<const Eigen::Matrix<float, N, 1>>(items.data());
}

template <class Vector>
py::tuple tupleOf(const Vector& values) {
  py::tuple items(static_cast<std::size_t>(values.size()));
  for (Eigen::Index i = 0; i < values.size(); ++i) {
    items[static_cast<std::size_t>(i)] = py::float_(values.data()[i]);
  }
  return items;
}

// (x, y, z, qx, qy, qz, qw, timestamp), after `prefix` items.
py::tuple flatPose(const Pose& pose, py::list prefix = py::list()) {
  for (int i = 0; i < 3; ++i) prefix.append(py::float_(pose.position[i]));
  for (int i = 0; i < 4; ++i) prefix.append(py::float_(pose.orientation.coeffs()[i]));
  prefix.append(py::int_(pose.timestamp));
  return py::tuple(prefix);
}

Pose poseFromFlat(const py::handle& value, std::size_t offset) {
  const auto items = value.cast<py::tuple>();
  if (items.size() != offset + 8) throw py::cast_error();
  Pose pose;
  for (Eigen::Index i = 0; i < 3; ++i) {
    pose.position[i] = items[offset + static_cast<std::size_t>(i)].cast<float>();
  }
  for (Eigen::Index i = 0; i < 4; ++i) {
    pose.orientation.coeffs()[i] = items[offset + 3 + static_cast<std::size_t>(i)].cast<float>();
  }
  pose.timestamp = items[offset + 7].cast<std::int64_t>();
  return pose;
}

// --- Pose ----------------------------------------------------------------------

py::object poseState(const Pose& pose) {
  return py::make_tuple(kPickleForm, tupleOf(pose.position), tupleOf(pose.orientation.coeffs()),
                        pose.timestamp);
}

Pose poseFromState(const py::object& state) {
  const auto body = stateBody(state, "Pose", 3);
  return readState("Pose", [&] {
    Pose pose;
    pose.position = floats<3>(body[0]);
    pose.orientation.coeffs() = floats<4>(body[1]);
    pose.timestamp = body[2].cast<std::int64_t>();
    return pose;
  });
}

// --- State ---------------------------------------------------------------------

py::object vectorState(const boost::optional<Vector3>& value) {
  if (!value) return py::none();
  // Column-major, as Eigen stores it.
  return py::make_tuple(
      tupleOf(value->mean),
      tupleOf(Eigen::Map<const Eigen::Matrix<float, 9, 1>>(value->covariance.data())));
}

boost::optional<Vector3> vectorFromState(const py::handle& value) {
  if (value.is_none()) return boost::none;
  const auto items = value.cast<std::pair<py::object, py::object>>();
  Vector3 gaussian;
  gaussian.mean = floats<3>(items.first);
  Eigen::Map<Eigen::Matrix<float, 9, 1>>(gaussian.covariance.data()) = floats<9>(items.second);
  return gaussian;
}

py::object scalarState(const boost::optional<Scalar>& value) {
  if (!value) return py::none();
  return py::make_tuple(value->mean, value->covariance);
}

boost::optional<Scalar> scalarFromState(const py::handle& value) {
  if (value.is_none()) return boost::none;
  const auto [mean, variance] = value.cast<std::pair<float, float>>();
  return Scalar{mean, variance};
}

py::object stateState(const State& state) {
  py::object box = py::none();
  if (state.dimensions) {
    const auto& d = *state.dimensions;
    box = py::make_tuple(d.length, d.width, d.height, d.anchor.x, d.anchor.y, d.anchor.z);
  }
  return py::make_tuple(kPickleForm, vectorState(state.position), vectorState(state.velocity),
                        vectorState(state.acceleration), scalarState(state.heading),
                        scalarState(state.headingRate), box);
}

State stateFromState(const py::object& pickled) {
  const auto body = stateBody(pickled, "State", 6);
  return readState("State", [&] {
    State state;
    state.position = vectorFromState(body[0]);
    state.velocity = vectorFromState(body[1]);
    state.acceleration = vectorFromState(body[2]);
    state.heading = scalarFromState(body[3]);
    state.headingRate = scalarFromState(body[4]);
    if (!body[5].is_none()) {
      const Eigen::Matrix<float, 6, 1> b = floats<6>(body[5]);
      state.dimensions = core::Dimensions<float, frames::Trackable>(
          b[0], b[1], b[2], tkit::Cart<float, frames::Trackable>{b[3], b[4], b[5]});
    }
    return state;
  });
}

// --- TransformManager ----------------------------------------------------------

py::list entriesState(const std::map<double, Pose>& history) {
  py::list entries;
  for (const auto& [key, pose] : history) {
    py::list prefix;
    prefix.append(py::float_(key));
    entries.append(flatPose(pose, prefix));
  }
  return entries;
}

std::map<double, Pose> entriesFromState(const py::handle& value) {
  std::map<double, Pose> history;
  for (const py::handle entry : value.cast<py::list>()) {
    const double key = entry.cast<py::tuple>()[0].cast<double>();
    if (!history.emplace(key, poseFromFlat(entry, 1)).second) throw py::cast_error();
  }
  return history;
}

py::object managerState(const TransformManager& manager) {
  Snapshot snapshot;
  {
    py::gil_scoped_release release;
    snapshot = manager.snapshot();
  }
  py::list pairs;
  for (const auto& pair : snapshot.pairs) {
    pairs.append(
        py::make_tuple(pair.from, pair.to, entriesState(pair.poses), entriesState(pair.inverses)));
  }
  py::list origins;
  for (const auto& [name, origin] : snapshot.origins) {
    origins.append(py::make_tuple(name, origin.frame, flatPose(origin.pose)));
  }
  return py::make_tuple(kPickleForm, snapshot.frames, pairs, snapshot.historyWindow, origins);
}

std::unique_ptr<TransformManager> managerFromState(const py::object& state) {
  const auto body = stateBody(state, "TransformManager", 4);
  const Snapshot snapshot = readState("TransformManager", [&] {
    Snapshot read;
    read.frames = body[0].cast<std::vector<std::string>>();
    for (const py::handle pair : body[1].cast<py::list>()) {
      const auto items = pair.cast<py::tuple>();
      if (items.size() != 4) throw py::cast_error();
      read.pairs.push_back({items[0].cast<std::string>(), items[1].cast<std::string>(),
                            entriesFromState(items[2]), entriesFromState(items[3])});
    }
    read.historyWindow = body[2].cast<double>();
    for (const py::handle origin : body[3].cast<py::list>()) {
      const auto items = origin.cast<py::tuple>();
      if (items.size() != 3) throw py::cast_error();
      read.origins.insert_or_assign(items[0].cast<std::string>(),
                                    TransformManager::TransformManagerOrigin{
                                        items[1].cast<std::string>(), poseFromFlat(items[2], 0)});
    }
    return read;
  });
  auto manager = newManager();
  TransformManager::TransformResult code;
  std::string fault;
  {
    py::gil_scoped_release release;
    code = manager->restore(snapshot, &fault);
  }
  if (code != TransformManager::Success) {
    throw py::value_error("not a pickled zelvane.TransformManager: " + fault);
  }
  return manager;
}

// --- Tracker -------------------------------------------------------------------

py::object trackerState(const PyTracker& self) {
  track::Tracker::Snapshot snapshot;
  {
    py::gil_scoped_release release;
    const std::lock_guard<std::mutex> lock(self.mutex);
    snapshot = self.tracker->snapshot();
  }
  py::list tracks;
  for (const track::Track& t : snapshot.tracks) {
    const track::TrackRecord& r = t.record;
    tracks.append(py::make_tuple(
        r.id, r.classIndex, r.confirmed, r.hits, r.misses, r.age, r.score,
        py::make_tuple(r.imageBox.left, r.imageBox.top, r.imageBox.right, r.imageBox.bottom),
        tupleOf(t.estimate.x),
        tupleOf(Eigen::Map<const Eigen::Matrix<float, 100, 1>>(t.estimate.P.data()))));
  }
  return py::make_tuple(kPickleForm, classTexts(snapshot.classes), tracks, snapshot.nextId,
                        snapshot.frames, snapshot.time);
}

std::unique_ptr<PyTracker> trackerFromState(const py::object& state) {
  const auto body = stateBody(state, "Tracker", 5);
  track::Tracker::Snapshot snapshot;
  snapshot.classes = classesFromTexts(body[0]);
  readState("Tracker", [&] {
    for (const py::handle item : body[1].cast<py::list>()) {
      const auto t = item.cast<py::tuple>();
      if (t.size() != 10) throw py::cast_error();
      track::Track track;
      track::TrackRecord& r = track.record;
      r.id = t[0].cast<std::uint64_t>();
      r.classIndex = t[1].cast<std::size_t>();
      r.confirmed = t[2].cast<bool>();
      r.hits = t[3].cast<int>();
      r.misses = t[4].cast<int>();
      r.age = t[5].cast<int>();
      r.score = t[6].cast<float>();
      const auto image = t[7].cast<std::vector<double>>();
      if (image.size() != 4) throw py::cast_error();
      r.imageBox = {image[0], image[1], image[2], image[3]};
      track.estimate.x = floats<10>(t[8]);
      Eigen::Map<Eigen::Matrix<float, 100, 1>>(track.estimate.P.data()) = floats<100>(t[9]);
      snapshot.tracks.push_back(track);
    }
    snapshot.nextId = body[2].cast<std::uint64_t>();
    snapshot.frames = body[3].cast<std::uint64_t>();
    snapshot.time = body[4].cast<double>();
    return 0;
  });
  try {
    return std::make_unique<PyTracker>(std::make_unique<track::Tracker>(snapshot));
  } catch (const std::invalid_argument& error) {
    throw py::value_error(std::string("not a pickled zelvane.Tracker: ") + error.what());
  }
}

}  // namespace

void bindPickling(py::module_& m) {
  auto pose = py::reinterpret_borrow<py::class_<Pose>>(m.attr("Pose"));
  pose.def(py::pickle(&poseState, &poseFromState));

  auto state = py::reinterpret_borrow<py::class_<State>>(m.attr("State"));
  state.def(py::pickle(&stateState, &stateFromState));

  auto manager = py::reinterpret_borrow<py::class_<TransformManager>>(m.attr("TransformManager"));
  manager.def(py::pickle(&managerState, &managerFromState));

  auto tracker = py::reinterpret_borrow<py::class_<PyTracker>>(m.attr("Tracker"));
  tracker.def(py::pickle(&trackerState, &trackerFromState));
}

}  // namespace zelvane::python
