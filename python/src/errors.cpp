#include "errors.h"

#include <pybind11/stl.h>

namespace zelvane::python {

namespace {

const char* errorClass(TransformManager::TransformResult code) {
  switch (code) {
    case TransformManager::NoFrames: return "NoFramesError";
    case TransformManager::NotFound: return "FrameNotFoundError";
    case TransformManager::OutOfRange: return "OutOfRangeError";
    default: return "RefusedError";
  }
}

[[noreturn]] void raise(const py::object& type, const py::object& instance) {
  PyErr_SetObject(type.ptr(), instance.ptr());
  throw py::error_already_set();
}

}  // namespace

void raiseFrameGraphError(TransformManager::TransformResult code, const FrameGraphRequest& request,
                          const std::string& reason, const TimeSpan& available) {
  const py::object type = py::module_::import("zelvane.errors").attr(errorClass(code));
  const std::string message = request.operation + " failed: " + TransformManager::resultName(code) +
                              (reason.empty() ? "" : " (" + reason + ")");
  py::dict attributes;
  attributes["code"] = code;
  attributes["from_frame"] = request.fromFrame;
  attributes["to_frame"] = request.toFrame;
  attributes["time"] = request.time;
  if (code == TransformManager::OutOfRange) attributes["available"] = available;
  raise(type, type(message, **attributes));
}

void raiseError(const char* name, const std::string& message) {
  const py::object type = py::module_::import("zelvane.errors").attr(name);
  raise(type, type(message));
}

}  // namespace zelvane::python
