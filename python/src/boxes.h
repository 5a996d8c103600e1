// A set of boxes as the batch functions take it, shared by the box and the association
// bindings.
#pragma once

#include <string>
#include <vector>

#include "bindings.h"
#include "core/state.h"

namespace zelvane::python {

// A set of boxes as given: rows of (x, y, z, heading, length, width, height), read
// into states on demand (no Python object is touched, so without the GIL), or states
// copied from a sequence of `State`.
class Boxes {
 public:
  Boxes(const py::handle& value, const char* name) {
    if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
      const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
      if (items.size() == 0) return;
      if (py::isinstance<core::State>(items[0])) {
        states_.reserve(items.size());
        for (const py::handle item : items) {
          if (!py::isinstance<core::State>(item)) {
            throw py::value_error(std::string(name) + " mixes State objects with other values");
          }
          states_.push_back(item.cast<const core::State&>());
        }
        return;
      }
    }
    rows_ = floatRows(value, name, 7);
  }

  /// The states; builds them from the rows on the first call. Needs no GIL.
  const std::vector<core::State>& states() {
    if (states_.empty() && rows_.count > 0) {
      states_.reserve(static_cast<std::size_t>(rows_.count));
      for (py::ssize_t i = 0; i < rows_.count; ++i) {
        const float* b = rows_.row(i);
        states_.push_back(core::State::box({b[0], b[1], b[2]}, b[3], b[4], b[5], b[6]));
      }
    }
    return states_;
  }

  py::ssize_t size() const {
    return rows_.count > 0 ? rows_.count : static_cast<py::ssize_t>(states_.size());
  }

 private:
  FloatRows rows_;
  std::vector<core::State> states_;
};

/// The row (x, y, z, heading, length, width, height) of a box-shaped state (one with a
/// heading and dimensions): its centre, heading and extents.
inline void writeBoxRow(const core::State& state, float* row) {
  const Eigen::Vector3f centre = state.centroid();
  row[0] = centre.x();
  row[1] = centre.y();
  row[2] = centre.z();
  row[3] = state.heading->mean;
  row[4] = state.dimensions->length;
  row[5] = state.dimensions->width;
  row[6] = state.dimensions->height;
}

}  // namespace zelvane::python
