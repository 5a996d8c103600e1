// The tracker (`zelvane.Tracker`). Parameters go through the library's settings layout
// (see tracker_parameters.cpp). Detections are read with the GIL, tracked without it,
// and the reported tracks copied out with it.
#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "boxes.h"
#include "settings_manager.h"
#include "track/tracker_settings.h"
#include "tracker_binding.h"

namespace zelvane::python {

namespace {

using track::ClassParameters;
using track::Detection;
using track::TrackedBox;

// The class of each detection: None (the first class), indices, or names.
std::vector<std::size_t> classIndices(const py::handle& value, py::ssize_t count,
                                      const std::vector<ClassParameters>& classes) {
  std::vector<std::size_t> indices(static_cast<std::size_t>(count), 0);
  if (value.is_none()) return indices;
  const py::array raw = py::array::ensure(value);
  // An empty frame's classes come as an empty list, which NumPy reads as float64.
  if (raw && raw.ndim() == 1 && raw.size() == 0 && count == 0) return indices;
  if (raw && raw.dtype().kind() == 'U') {
    const py::list names = raw.attr("tolist")();
    if (static_cast<py::ssize_t>(names.size()) != count || raw.ndim() != 1) {
      throw py::value_error("classes must be an array of shape (" + std::to_string(count) + ",)");
    }
    for (py::ssize_t i = 0; i < count; ++i) {
      const std::string name = names[static_cast<std::size_t>(i)].cast<std::string>();
      std::size_t c = 0;
      while (c < classes.size() && classes[c].name != name) ++c;
      if (c == classes.size())
        throw py::value_error("classes: the tracker has no class \"" + name + "\"");
      indices[static_cast<std::size_t>(i)] = c;
    }
    return indices;
  }
  if (!raw || (raw.dtype().kind() != 'i' && raw.dtype().kind() != 'u')) {
    throw py::value_error("classes must be class indices (integers) or class names");
  }
  const auto numbers = column<long>(value, "classes", count);
  for (py::ssize_t i = 0; i < count; ++i) {
    if (numbers.at(i) < 0) throw py::value_error("classes: a class index is negative");
    indices[static_cast<std::size_t>(i)] = static_cast<std::size_t>(numbers.at(i));
  }
  return indices;
}

// The reported tracks as the record `TrackedBoxes` of arrays.
py::object trackedBoxes(const std::vector<TrackedBox>& boxes) {
  const auto n = static_cast<py::ssize_t>(boxes.size());
  py::array_t<std::int64_t> ids(n);
  py::array_t<float> rows({n, py::ssize_t{7}});
  py::array_t<float> scores(n);
  py::array_t<py::ssize_t> classes(n);
  py::array_t<py::ssize_t> detections(n);
  py::array_t<float> velocities({n, py::ssize_t{3}});
  py::array_t<double> images({n, py::ssize_t{4}});
  py::array_t<bool> confirmed(n);
  for (py::ssize_t i = 0; i < n; ++i) {
    const TrackedBox& b = boxes[static_cast<std::size_t>(i)];
    ids.mutable_at(i) = static_cast<std::int64_t>(b.record.id);
    const auto& s = b.state;
    writeBoxRow(s, rows.mutable_data(i, 0));
    scores.mutable_at(i) = b.score;
    classes.mutable_at(i) = static_cast<py::ssize_t>(b.record.classIndex);
    detections.mutable_at(i) =
        b.detection == track::NO_DETECTION ? -1 : static_cast<py::ssize_t>(b.detection);
    for (int k = 0; k < 3; ++k)
      velocities.mutable_at(i, k) = s.velocity ? s.velocity->mean[k] : 0.0f;
    const track::ImageBox& image = b.record.imageBox;
    images.mutable_at(i, 0) = image.left;
    images.mutable_at(i, 1) = image.top;
    images.mutable_at(i, 2) = image.right;
    images.mutable_at(i, 3) = image.bottom;
    confirmed.mutable_at(i) = b.record.confirmed;
  }
  return py::module_::import("zelvane.records")
      .attr("TrackedBoxes")(ids, rows, scores, classes, detections, velocities, images, confirmed);
}

py::object step(PyTracker& self, double time, const py::handle& boxes, const py::handle& scores,
                const py::handle& classes, const py::handle& imageBoxes) {
  const FloatRows rows = floatRows(boxes, "boxes", 7);
  const py::ssize_t n = rows.count;
  const auto scoreColumn = column<float>(scores, "scores", n);
  // The classes never change after construction; reading them needs no lock.
  const std::vector<std::size_t> indices = classIndices(classes, n, self.tracker->classes());
  DoubleRows images;
  if (!imageBoxes.is_none()) {
    images = doubleRows(imageBoxes, "image_boxes", 4);
    if (images.count != n) throw py::value_error("image_boxes must have one row per box");
  }
  std::vector<TrackedBox> reported;
  {
    py::gil_scoped_release release;
    std::vector<Detection> detections(static_cast<std::size_t>(n));
    for (py::ssize_t i = 0; i < n; ++i) {
      Detection& d = detections[static_cast<std::size_t>(i)];
      const float* b = rows.row(i);
      d.box = core::State::box({b[0], b[1], b[2]}, b[3], b[4], b[5], b[6]);
      d.score = scoreColumn.data()[i];
      d.classIndex = indices[static_cast<std::size_t>(i)];
      if (images.count > 0) {
        const double* image = images.row(i);
        d.imageBox = {image[0], image[1], image[2], image[3]};
      }
    }
    const std::lock_guard<std::mutex> lock(self.mutex);
    reported = self.tracker->step(time, detections);
  }
  return trackedBoxes(reported);
}

const char* const kTrackerDoc = R"doc(Tracker(classes=("object",), **parameters)
--

Turns the boxes detected frame after frame into tracks with ids: each ``step``
predicts every track to the frame's time, associates tracks and detections of each
class, updates the matched tracks, starts tentative tracks from the detections left,
confirms them after ``confirm_hits`` matches and ends them after ``max_misses`` frames
without one. Ids are unique within the tracker and never reused.

Parameters
----------
classes : sequence of str or dict
    The classes tracked, each a name or a dict of its parameters (with "name"). A
    detection's class is its index in this list (or its name).
**parameters
    Parameters of every class, which a class's dict overrides key by key. The keys are
    those of the settings files' layout in snake_case, nested as there:
    ``motion_model`` ("constant_velocity" or "constant_turn_rate"),
    ``constant_velocity`` and ``constant_turn_rate`` (dicts: ``acceleration_noise``,
    ``heading_noise``, ``turn_acceleration_noise``, ``initial_speed``, ...),
    ``measurement_noise`` (``horizontal``, ``vertical``, ``heading``, ``size``),
    ``association`` (``metric``: "overlap", "generalized_overlap", "overlap_3d",
    "distance", "centroid_distance", "centroid_distance_3d"; ``threshold``;
    ``method``: "optimal" or "greedy"), ``birth_score``, ``confirm_hits``,
    ``max_misses``, ``max_tentative_misses``, ``output`` (``tentative_in_first_frames``,
    ``coasting_frames``). See ``Tracker.from_settings`` for a settings file.

Raises
------
ValueError
    For an unknown key, name or class, or a parameter the tracker refuses.

Notes
-----
A tracker pickles and resumes exactly, so that ``multiprocessing`` can carry it.
)doc";
// __init__, from_settings and step.
void defineTrackerConstruction(py::class_<PyTracker>& cls) {
  cls.def(py::init([](const py::object& classes, const py::kwargs& parameters) {
            return std::make_unique<PyTracker>(
                std::make_unique<track::Tracker>(classesOf(classes, parameters)));
          }),
          py::arg("classes") = py::make_tuple("object"));
  cls.def_static(
      "from_settings",
      [](const py::object& path) {
        SettingsManager settings;
        try {
          settings.addXML(pathArgument(path));
          return std::make_unique<PyTracker>(
              std::make_unique<track::Tracker>(track::readTrackerSettings(settings)));
        } catch (const std::runtime_error& error) {
          throw py::value_error(error.what());
        }
      },
      py::arg("path"),
      R"doc(from_settings(path)
--

A tracker of the classes of an XML settings file's node "Tracker" (the layout of
``examples/tracker_kitti.xml``).

Raises
------
ValueError
    For a file that cannot be read, or parameters it cannot take.
)doc");
  cls.def("step", &step, py::arg("time"), py::arg("boxes"), py::arg("scores"),
          py::arg("classes") = py::none(), py::arg("image_boxes") = py::none(),
          R"doc(step(time, boxes, scores, classes=None, image_boxes=None)
--

Tracks one frame.

Parameters
----------
time : float
    The frame's time in seconds, not before the last frame's.
boxes : array_like, shape (N, 7)
    The detected boxes: centre (x, y, z), heading (radians), length, width, height.
scores : array_like, shape (N,)
    The detector's confidence of each box (higher is surer).
classes : array_like of int or str, shape (N,), optional
    Each box's class, as an index into the tracker's classes or a name; the first
    class by default.
image_boxes : array_like, shape (N, 4), optional
    Each box's rectangle in the image (left, top, right, bottom), carried to its track.

Returns
-------
TrackedBoxes
    The tracks that the classes' output policies report, by id: ``ids``, ``boxes``
    (N, 7) at the tracks' estimates, ``scores`` (the score of the detection that
    updated the track in this frame, or of its last one), ``classes``, ``detections``
    (the index of the box that updated each track, -1 for a coasting track),
    ``velocities`` (N, 3), ``image_boxes`` (N, 4) and ``confirmed``.

Raises
------
ValueError
    For a time before the last frame's or not finite, a box or score not finite, an
    unknown class, or arrays of the wrong shape; the tracker is then unchanged.
)doc");
}

// tracks, classes, frames, time and the text.
void defineTrackerViews(py::class_<PyTracker>& cls) {
  cls.def(
      "tracks",
      [](PyTracker& self) {
        std::vector<TrackedBox> all;
        {
          py::gil_scoped_release release;
          const std::lock_guard<std::mutex> lock(self.mutex);
          all = self.tracker->tracks();
        }
        return trackedBoxes(all);
      },
      R"doc(tracks()
--

Every live track (tentative, confirmed, coasting) at its estimate after the last frame,
as ``TrackedBoxes`` (``detections`` all -1).
)doc");
  cls.def_property_readonly(
      "classes",
      [](const PyTracker& self) {
        py::list values;
        for (const py::handle texts : classTexts(self.tracker->classes()))
          values.append(valuesOf(texts));
        return values;
      },
      "The classes' parameters, one dict each, every key given (see ``Tracker``).");
  cls.def_property_readonly(
      "frames",
      [](const PyTracker& self) {
        const std::lock_guard<std::mutex> lock(self.mutex);
        return self.tracker->frames();
      },
      "Frames stepped so far.");
  cls.def_property_readonly(
      "time",
      [](const PyTracker& self) {
        const std::lock_guard<std::mutex> lock(self.mutex);
        return self.tracker->time();
      },
      "The time of the last frame, seconds (0 before the first).");
  cls.def("__repr__", [](const PyTracker& self) {
    std::string names;
    for (const ClassParameters& c : self.tracker->classes()) {
      names += (names.empty() ? "" : ", ") + c.name;
    }
    const std::lock_guard<std::mutex> lock(self.mutex);
    return "Tracker(classes=[" + names + "], frames=" + std::to_string(self.tracker->frames()) +
           ", tracks=" + std::to_string(self.tracker->snapshot().tracks.size()) + ")";
  });
}

}  // namespace

void bindTracker(py::module_& m) {
  py::class_<PyTracker> cls(m, "Tracker", kTrackerDoc);
  defineTrackerConstruction(cls);
  defineTrackerViews(cls);
}

}  // namespace zelvane::python
