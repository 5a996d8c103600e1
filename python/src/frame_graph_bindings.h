// The parts of the frame graph's bindings, each defining its methods on the class
// `TransformManager` (bound by `bindFrameGraph`), and the failures of lookups that
// several parts raise alike.
#pragma once

#include <string>

#include "bindings.h"
#include "errors.h"
#include "geometry/transform_manager.h"

namespace zelvane::python {

using TransformManagerClass = py::class_<TransformManager>;
using Result = TransformManager::TransformResult;

/// The class `Connection`, the handle of a registration callback; before the manager's.
void bindConnection(py::module_& m);

// Each in its own file, named after what it binds.
void defineSettings(TransformManagerClass& cls);      // frame_settings_bindings.cpp
void defineRegistration(TransformManagerClass& cls);  // frame_registration_bindings.cpp
void defineFrameEdits(TransformManagerClass& cls);    // frame_registration_bindings.cpp
void defineLookups(TransformManagerClass& cls);       // frame_lookup_bindings.cpp
void defineBatchLookups(TransformManagerClass& cls);  // frame_batch_bindings.cpp

/// The request of a lookup of `from` in `to` at `time` with `method`, for its error.
FrameGraphRequest lookupRequest(const std::string& from, const std::string& to, long time,
                                const std::string& method);

/// The times at which an interpolated lookup from `from` to `to` succeeds, with the
/// code of `getCommonTimeSpan`. Releases the GIL.
Result commonTimeSpan(const TransformManager& manager, const std::string& from,
                      const std::string& to, TimeSpan& span);

/// Raises the failure of a lookup between the request's frames, with the library's
/// explanation (`reason`); an OutOfRangeError carries the times that work, read just
/// after the failure.
[[noreturn]] void raiseLookupError(const TransformManager& manager, Result code,
                                   const FrameGraphRequest& request, const std::string& reason);

/// The library's explanation of a failed lookup, without the GIL.
std::string lookupReason(const TransformManager& manager, const std::string& from,
                         const std::string& to, long time, Result code);

}  // namespace zelvane::python
