// The conversion of the driving benchmark's camera boxes to and from the library's
// boxes, by the conversion its evaluation uses.
#include "arrays.h"
#include "bindings.h"
#include "boxes.h"
#include "eval/camera_box.h"

namespace zelvane::python {

namespace {

// (N, 7) library boxes of the benchmark's camera boxes, given as its columns.
py::array_t<float> boxesFromCamera(const py::handle& location, const py::handle& dimensions,
                                   const py::handle& yaw) {
  const DoubleRows at = doubleRows(location, "location", 3);
  const DoubleRows size = doubleRows(dimensions, "dimensions", 3);
  const auto turn = column<double>(yaw, "rotation_y", at.count);
  if (size.count != at.count) throw py::value_error("dimensions must have one row per location");
  py::array_t<float> boxes({at.count, py::ssize_t{7}});
  for (py::ssize_t i = 0; i < at.count; ++i) {
    eval::CameraBox box;
    box.x = at.row(i)[0];
    box.y = at.row(i)[1];
    box.z = at.row(i)[2];
    box.height = size.row(i)[0];
    box.width = size.row(i)[1];
    box.length = size.row(i)[2];
    box.yaw = turn.at(i);
    writeBoxRow(eval::stateFromCameraBox(box), boxes.mutable_data(i, 0));
  }
  return boxes;
}

// The benchmark's camera-box columns (location, dimensions, rotation_y) of (N, 7)
// library boxes.
py::tuple boxesToCamera(const py::handle& boxes) {
  const FloatRows rows = floatRows(boxes, "boxes", 7);
  py::array_t<double> location({rows.count, py::ssize_t{3}});
  py::array_t<double> dimensions({rows.count, py::ssize_t{3}});
  py::array_t<double> yaw(rows.count);
  for (py::ssize_t i = 0; i < rows.count; ++i) {
    const float* b = rows.row(i);
    const eval::CameraBox box =
        eval::cameraBoxFromState(core::State::box({b[0], b[1], b[2]}, b[3], b[4], b[5], b[6]));
    location.mutable_at(i, 0) = box.x;
    location.mutable_at(i, 1) = box.y;
    location.mutable_at(i, 2) = box.z;
    dimensions.mutable_at(i, 0) = box.height;
    dimensions.mutable_at(i, 1) = box.width;
    dimensions.mutable_at(i, 2) = box.length;
    yaw.mutable_at(i) = box.yaw;
  }
  return py::make_tuple(location, dimensions, yaw);
}

}  // namespace

void bindCameraBoxes(py::module_& m) {
  m.def("boxes_from_camera", &boxesFromCamera, py::arg("location"), py::arg("dimensions"),
        py::arg("rotation_y"),
        R"doc(boxes_from_camera(location, dimensions, rotation_y)
--

The driving benchmark's camera boxes as (N, 7) boxes of the library: the columns of
``read_tracking_file`` (``location``, the bottom centre in the camera frame, x right,
y down, z forward; ``dimensions`` height, width, length; ``rotation_y`` the yaw about
the camera's y axis) turned into rows (x, y, z, heading, length, width, height) of the
box centre with x forward, y left, z up, by the conversion the evaluation uses.
)doc");
  m.def("boxes_to_camera", &boxesToCamera, py::arg("boxes"),
        R"doc(boxes_to_camera(boxes)
--

The inverse of ``boxes_from_camera``: (location, dimensions, rotation_y) of (N, 7)
boxes, as the benchmark's files hold them.
)doc");
}

}  // namespace zelvane::python
