// The frame graph in settings XML files: loaded, replaced and stored.
#include <stdexcept>
#include <string>

#include "errors.h"
#include "frame_graph_bindings.h"
#include "geometry/transform_manager.h"
#include "settings_manager.h"

namespace zelvane::python {

namespace {

void loadSettings(TransformManager& manager, const py::handle& file) {
  const std::string path = pathArgument(file);
  std::string failure;
  {
    py::gil_scoped_release release;
    try {
      SettingsManager settings;
      settings.addXML(path);
      // Always Success: a store that cannot be read throws.
      static_cast<void>(manager.loadTransforms(settings));
    } catch (const std::runtime_error& error) {
      failure = error.what();
    }
  }
  if (!failure.empty()) raiseError("SettingsError", path + ": " + failure);
}

void storeSettings(const TransformManager& manager, const py::handle& file) {
  const std::string path = pathArgument(file);
  std::string failure;
  Result code;
  {
    py::gil_scoped_release release;
    SettingsManager settings;
    code = manager.storeTransforms(settings, true);
    try {
      if (code == TransformManager::Success) settings.saveXML(path);
    } catch (const std::runtime_error& error) {
      failure = error.what();
    }
  }
  if (code != TransformManager::Success) {
    raiseFrameGraphError(code, {"store of the frame graph in " + path, {}, {}, {}},
                         "the graph has no frames");
  }
  if (!failure.empty()) raiseError("SettingsError", failure);
}

}  // namespace

// from_settings, load_settings and store_settings.
void defineSettings(TransformManagerClass& cls) {
  cls.def_static(
         "from_settings",
         [](const py::handle& path) {
           auto manager = newManager();
           loadSettings(*manager, path);
           return manager;
         },
         py::arg("path"), R"doc(from_settings(path)
--

A frame graph loaded from a settings XML file.

Parameters
----------
path : str or os.PathLike
    A settings file with the transforms under ``Transforms`` at its root, each
    registered as static.

Returns
-------
TransformManager

Raises
------
SettingsError
    The file cannot be read, is malformed, or a stored transform is incomplete.
)doc")
      .def("load_settings", &loadSettings, py::arg("path"),
           R"doc(load_settings(self, path)
--

Replaces the whole graph by the transforms of a settings XML file.

All stored transforms are read before anything changes: when the file is bad the
graph stays as it was. Frames, histories and origins are replaced; a file without
``Transforms`` empties the graph.

Parameters
----------
path : str or os.PathLike

Raises
------
SettingsError
    The file cannot be read, is malformed, or a stored transform is incomplete.
)doc")
      .def("store_settings", &storeSettings, py::arg("path"),
           R"doc(store_settings(self, path)
--

Writes the graph to a settings XML file that ``from_settings`` reads back.

Each directly connected pair of frames is written once, with its newest sample, as a
static transform.

Parameters
----------
path : str or os.PathLike

Raises
------
FrameNotFoundError
    The graph has no frames (code NOT_FOUND); nothing is written.
SettingsError
    The file cannot be written.
)doc");
}

}  // namespace zelvane::python
