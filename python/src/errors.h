// Raising the exceptions of `zelvane.errors` (defined in Python, so that they carry
// their attributes and docstrings like any Python exception) from the bindings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <pybind11/pybind11.h>

#include "geometry/transform_manager.h"

namespace zelvane::python {

namespace py = pybind11;

/// What a failed frame-graph operation was asked to do, for the exception's message
/// and attributes.
struct FrameGraphRequest {
  std::string operation;  // "lookup of Sensor in Global", "rename of A to B", ...
  std::optional<std::string> fromFrame;
  std::optional<std::string> toFrame;
  std::optional<std::int64_t> time;
};

/// The times (oldest, newest) at which an interpolated lookup succeeds, or none.
using TimeSpan = std::optional<std::pair<long, long>>;

/// Raises the subclass of `zelvane.errors.FrameGraphError` that belongs to `code`
/// (NoFramesError, FrameNotFoundError, OutOfRangeError, RefusedError), carrying the
/// code, the frames and the time, and for OutOfRangeError `available`. Needs the GIL.
[[noreturn]] void raiseFrameGraphError(TransformManager::TransformResult code,
                                       const FrameGraphRequest& request,
                                       const std::string& reason = "",
                                       const TimeSpan& available = std::nullopt);

/// Raises `zelvane.errors.<name>(message)`. Needs the GIL.
[[noreturn]] void raiseError(const char* name, const std::string& message);

}  // namespace zelvane::python
