// Conversions between NumPy arrays and the fixed-size rows of the library's value
// types. Every batch input is checked here, once, so that a caller passing the wrong
// shape or a non-numeric array gets a ValueError naming the argument and what it
// should be, before any work starts.
#pragma once

#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <Eigen/Core>

namespace zelvane::python {

namespace py = pybind11;

/// A C-contiguous view of rows of `width` numbers of type `Scalar`: one row, or N rows
/// of a (N, width) array. `single` records that the caller passed one row (shape
/// (width,)), so that the result can be given back without the leading axis.
template <class Scalar>
struct Rows {
  py::array_t<Scalar, py::array::c_style> array;
  py::ssize_t count = 0;
  py::ssize_t width = 0;
  bool single = false;

  const Scalar* row(py::ssize_t i) const { return array.data() + i * width; }
};

/// Rows in the library's precision, float32.
using FloatRows = Rows<float>;
/// Rows in double precision.
using DoubleRows = Rows<double>;

/// Reads `value` as rows of `width` real numbers in double precision; raises ValueError
/// as `floatRows` does.
DoubleRows doubleRows(const py::handle& value, const char* name, py::ssize_t width);

/// Reads `value` as a 1-D array of integer times (any integer dtype, converted to
/// int64). Raises ValueError for another shape or a non-integer dtype (floating-point
/// times would be truncated silently).
py::array_t<long, py::array::c_style> timesArgument(const py::handle& value, const char* name);

/// One time of the frame graph as an argument: a Python int or a NumPy integer
/// scalar, converted by the caster below. A float (also an integral one), or any other
/// number that is not an integer, raises ValueError, as the batch calls' times do, and
/// so does an integer beyond the signed 64-bit range; other types raise pybind11's
/// TypeError as every other argument does.
struct TimeArgument {
  long value = 0;
  // NOLINTNEXTLINE(google-explicit-constructor): the caster hands it over as a long
  operator long() const { return value; }
};

/// Reads `value` into `time` as the caster of `TimeArgument` does; false for a value
/// that is not a number at all.
bool readTime(const py::handle& value, long& time);

/// Reads `value` (an array or anything NumPy turns into one) as rows of `width` real
/// numbers. Integers and floating-point numbers of any size are accepted and rounded
/// to float32, the precision of the library. Raises ValueError for any other dtype
/// and for any shape but (width,) and (N, width).
FloatRows floatRows(const py::handle& value, const char* name, py::ssize_t width);

/// A new float32 array of `count` rows of shape `rowShape`, without the leading axis
/// when `single`.
py::array_t<float> newRows(py::ssize_t count, std::initializer_list<py::ssize_t> rowShape,
                           bool single);

/// Reads `value` as a float32, C-contiguous array of shape (rows, cols) of real
/// numbers; raises ValueError for another shape or dtype.
py::array_t<float, py::array::c_style> floatMatrix(const py::handle& value, const char* name,
                                                   py::ssize_t rows, py::ssize_t cols);

/// Reads one `R` x `C` matrix of real numbers (shape (R, C)) into single precision.
template <int R, int C>
Eigen::Matrix<float, R, C> matrix(const py::handle& value, const char* name) {
  const auto values = floatMatrix(value, name, R, C);
  return Eigen::Map<const Eigen::Matrix<float, R, C, C == 1 ? Eigen::ColMajor : Eigen::RowMajor>>(
      values.data());
}

/// Reads `value` as a float32 array of shape (size,) of real numbers; raises
/// ValueError for another shape or dtype.
py::array_t<float, py::array::c_style> floatVector(const py::handle& value, const char* name,
                                                   py::ssize_t size);

/// Reads one vector of `N` real numbers (shape (N,)) into single precision.
template <int N>
Eigen::Matrix<float, N, 1> vector(const py::handle& value, const char* name) {
  return Eigen::Map<const Eigen::Matrix<float, N, 1>>(floatVector(value, name, N).data());
}

/// A read-only float32 NumPy array holding a copy of `values`: shape (N,) for a
/// vector, (rows, cols) for a matrix. Read-only because it is a copy: writing into it
/// could not change the object it came from.
template <class Derived>
py::array_t<float> toArray(const Eigen::MatrixBase<Derived>& values) {
  const bool isVector = Derived::ColsAtCompileTime == 1;
  py::array_t<float> result = isVector
                                  ? py::array_t<float>(values.rows())
                                  : py::array_t<float>({static_cast<py::ssize_t>(values.rows()),
                                                        static_cast<py::ssize_t>(values.cols())});
  float* out = result.mutable_data();
  for (Eigen::Index r = 0; r < values.rows(); ++r) {
    for (Eigen::Index c = 0; c < values.cols(); ++c) *out++ = values(r, c);
  }
  result.attr("flags").attr("writeable") = false;
  return result;
}

/// A 1-D argument of `count` entries read as `T` (any real dtype for float and double,
/// integers for indices).
template <class T>
py::array_t<T, py::array::c_style | py::array::forcecast> column(const py::handle& value,
                                                                 const char* name,
                                                                 py::ssize_t count) {
  auto array = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(value);
  if (!array || array.ndim() != 1 || array.shape(0) != count) {
    throw py::value_error(std::string(name) + " must be an array of shape (" +
                          std::to_string(count) + ",), one entry per box");
  }
  return array;
}

}  // namespace zelvane::python

namespace pybind11::detail {

template <>
struct type_caster<zelvane::python::TimeArgument> {
  PYBIND11_TYPE_CASTER(zelvane::python::TimeArgument, const_name("int"));

  bool load(handle source, bool /*convert*/) {
    return zelvane::python::readTime(source, value.value);
  }

  static handle cast(const zelvane::python::TimeArgument& time, return_value_policy, handle) {
    return PyLong_FromLong(time.value);
  }
};

}  // namespace pybind11::detail
