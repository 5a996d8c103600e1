#include "arrays.h"

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

namespace zelvane::python {

namespace {

std::string shapeText(const py::array& array) {
  std::ostringstream text;
  text << '(';
  for (py::ssize_t i = 0; i < array.ndim(); ++i) {
    text << (i > 0 ? ", " : "") << array.shape(i);
  }
  text << (array.ndim() == 1 ? ",)" : ")");
  return text.str();
}

// `value` as an array of real numbers: integers or floating point, not booleans,
// complex numbers, strings or objects (whose conversion to float32 would either fail
// half-way or silently drop information).
py::array realArray(const py::handle& value, const char* name) {
  py::array array = py::array::ensure(value);
  if (!array) {
    throw py::value_error(std::string(name) + " must be an array of numbers");
  }
  const char kind = array.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u') {
    throw py::value_error(std::string(name) + " must hold real numbers, not dtype " +
                          py::str(array.dtype()).cast<std::string>());
  }
  return array;
}

// A C-contiguous view of `array` as `Scalar` (the array itself when it already is one).
template <class Scalar>
py::array_t<Scalar, py::array::c_style> castArray(const py::array& array) {
  auto values = py::array_t<Scalar, py::array::c_style | py::array::forcecast>::ensure(array);
  if (!values) throw py::error_already_set();
  return values;
}

py::array_t<float, py::array::c_style> floatArray(const py::array& array) {
  return castArray<float>(array);
}

template <class Scalar>
Rows<Scalar> readRows(const py::handle& value, const char* name, py::ssize_t width) {
  const py::array array = realArray(value, name);
  const bool single = array.ndim() == 1 && array.shape(0) == width;
  if (!single && !(array.ndim() == 2 && array.shape(1) == width)) {
    const std::string w = std::to_string(width);
    throw py::value_error(std::string(name) + " must have shape (" + w + ",) or (N, " + w +
                          "), not " + shapeText(array));
  }
  Rows<Scalar> rows;
  rows.array = castArray<Scalar>(array);
  rows.count = single ? 1 : array.shape(0);
  rows.width = width;
  rows.single = single;
  return rows;
}

}  // namespace

FloatRows floatRows(const py::handle& value, const char* name, py::ssize_t width) {
  return readRows<float>(value, name, width);
}

DoubleRows doubleRows(const py::handle& value, const char* name, py::ssize_t width) {
  return readRows<double>(value, name, width);
}

py::array_t<long, py::array::c_style> timesArgument(const py::handle& value, const char* name) {
  py::array array = py::array::ensure(value);
  if (!array) throw py::value_error(std::string(name) + " must be an array of integers");
  const char kind = array.dtype().kind();
  // An empty list comes as float64: it holds no time to truncate.
  if (kind != 'i' && kind != 'u' && array.size() != 0) {
    throw py::value_error(std::string(name) + " must hold integers, not dtype " +
                          py::str(array.dtype()).cast<std::string>());
  }
  if (array.ndim() != 1) {
    throw py::value_error(std::string(name) + " must have shape (N,), not " + shapeText(array));
  }
  if (kind == 'u' && array.itemsize() == 8) {
    // Unsigned times beyond int64 would wrap to negative ones in the conversion.
    const auto wide = py::array_t<std::uint64_t, py::array::c_style>::ensure(array);
    for (py::ssize_t i = 0; i < wide.size(); ++i) {
      if (wide.data()[i] > static_cast<std::uint64_t>(std::numeric_limits<long>::max())) {
        throw py::value_error(std::string(name) + " must fit in a signed 64-bit integer");
      }
    }
  }
  auto times = py::array_t<long, py::array::c_style | py::array::forcecast>::ensure(array);
  if (!times) throw py::error_already_set();
  return times;
}

bool readTime(const py::handle& value, long& time) {
  if (PyIndex_Check(value.ptr()) == 0) {
    if (PyNumber_Check(value.ptr()) == 0) return false;
    throw py::value_error("a time must be an integer, not " +
                          py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>() +
                          " " + py::repr(value).cast<std::string>());
  }
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long converted = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow != 0) throw py::value_error("a time must fit in a signed 64-bit integer");
  if (converted == -1 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  time = static_cast<long>(converted);
  return true;
}

py::array_t<float> newRows(py::ssize_t count, std::initializer_list<py::ssize_t> rowShape,
                           bool single) {
  std::vector<py::ssize_t> shape;
  shape.reserve(rowShape.size() + 1);
  if (!single) shape.push_back(count);
  for (const py::ssize_t extent : rowShape) shape.push_back(extent);
  return py::array_t<float>(shape);
}

py::array_t<float, py::array::c_style> floatVector(const py::handle& value, const char* name,
                                                   py::ssize_t size) {
  const py::array array = realArray(value, name);
  if (array.ndim() != 1 || array.shape(0) != size) {
    throw py::value_error(std::string(name) + " must have shape (" + std::to_string(size) +
                          ",), not " + shapeText(array));
  }
  return floatArray(array);
}

py::array_t<float, py::array::c_style> floatMatrix(const py::handle& value, const char* name,
                                                   py::ssize_t rows, py::ssize_t cols) {
  const py::array array = realArray(value, name);
  if (array.ndim() != 2 || array.shape(0) != rows || array.shape(1) != cols) {
    throw py::value_error(std::string(name) + " must have shape (" + std::to_string(rows) + ", " +
                          std::to_string(cols) + "), not " + shapeText(array));
  }
  return floatArray(array);
}

}  // namespace zelvane::python
