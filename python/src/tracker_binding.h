// The Python class `Tracker` as the track and pickle bindings share it.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "bindings.h"
#include "track/tracker.h"

namespace zelvane::python {

/// A tracker and the lock that keeps a Python thread from reading it while another steps
/// it (the step runs without the GIL): every access to `tracker` holds `mutex`.
struct PyTracker {
  explicit PyTracker(std::unique_ptr<track::Tracker> t) : tracker(std::move(t)) {}
  std::unique_ptr<track::Tracker> tracker;
  mutable std::mutex mutex;
};

/// The classes named or described in `classes` (a sequence of names or dicts in the
/// layout of `classTexts`), each over the parameters in `common`. Raises TypeError for
/// another object and ValueError as `readTrackerSettings` refuses.
std::vector<track::ClassParameters> classesOf(const py::handle& classes, const py::dict& common);

/// The dicts of texts of `classTexts` with every text as the Python value it stands
/// for: a bool, an int, a float or a str.
py::object valuesOf(const py::handle& texts);

/// The classes' parameters as Python dicts in the settings layout (nested dicts for
/// its nodes, snake_case keys: "constant_velocity": {"acceleration_noise": ...}), every
/// value the text the settings file would hold, so that `classesFromTexts` gives the
/// parameters back exactly.
py::list classTexts(const std::vector<track::ClassParameters>& classes);

/// The classes of dicts in the layout of `classTexts`, values as texts or as Python
/// numbers, bools and strings. Raises ValueError as `readTrackerSettings` refuses
/// (an unknown key, name or value).
std::vector<track::ClassParameters> classesFromTexts(const py::handle& classes);

}  // namespace zelvane::python
