// The extension module `zelvane._zelvane`. Users import the package `zelvane`, which
// re-exports these names beside its pure-Python parts.
#include "bindings.h"

PYBIND11_MODULE(_zelvane, m) {
  // Every docstring starts with its Python signature, which help() and
  // inspect.signature read; pybind11's own would show C++ types.
  pybind11::options options;
  options.disable_function_signatures();
  m.doc() = "C++ part of the zelvane package; import zelvane instead.";
  zelvane::python::bindRotations(m);
  zelvane::python::bindPose(m);
  zelvane::python::bindFrameGraph(m);
  zelvane::python::bindLocalOrigin(m);
  zelvane::python::bindTransformWaiting(m);
  zelvane::python::bindState(m);
  zelvane::python::bindBoxes(m);
  zelvane::python::bindAssignment(m);
  zelvane::python::bindTracker(m);
  zelvane::python::bindCameraBoxes(m);
  zelvane::python::bindSequenceCheck(m);
  zelvane::python::bindAddress(m);
  zelvane::python::bindTracking(m);
  zelvane::python::bindPickling(m);
}
