// A tracker's class parameters between Python and the library's settings layout
// (track/tracker_settings.h): a class given as a dict is written into an in-memory
// settings store and read back by the library's reader, so that Python and settings
// files accept the same keys and values and refuse the same mistakes.
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include <boost/property_tree/exceptions.hpp>

#include "settings_manager.h"
#include "track/tracker_settings.h"
#include "tracker_binding.h"

namespace zelvane::python {

using track::ClassParameters;

namespace {

// "acceleration_noise" -> "accelerationNoise"; a node's "constant_velocity" ->
// "ConstantVelocity".
std::string camelCase(const std::string& snake, bool node) {
  std::string camel;
  bool upper = node;
  for (const char c : snake) {
    if (c == '_') {
      upper = true;
      continue;
    }
    camel += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
  return camel;
}

// The inverse of `camelCase`, for nodes and leaves alike.
std::string snakeCase(const std::string& camel) {
  std::string snake;
  for (const char c : camel) {
    if (std::isupper(static_cast<unsigned char>(c)) != 0) {
      if (!snake.empty()) snake += '_';
      snake += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else {
      snake += c;
    }
  }
  return snake;
}

// Writes the dict `values` below `prefix` of the store: nested dicts as nodes, Python
// values as the settings texts of their types.
void putValues(SettingsManager& settings, const py::handle& values, const std::string& prefix) {
  if (!py::isinstance<py::dict>(values)) {
    throw py::type_error("tracker parameters must be given as a dict, not " +
                         py::repr(values).cast<std::string>());
  }
  for (const auto& [name, value] : py::reinterpret_borrow<py::dict>(values)) {
    const std::string key = py::str(name).cast<std::string>();
    if (py::isinstance<py::dict>(value)) {
      putValues(settings, value, prefix + camelCase(key, true) + ".");
      continue;
    }
    const std::string path = prefix + camelCase(key, false);
    if (py::isinstance<py::bool_>(value)) {
      settings.set<bool>(path, value.cast<bool>());
    } else if (py::isinstance<py::int_>(value)) {
      settings.set<long>(path, value.cast<long>());
    } else if (py::isinstance<py::float_>(value) ||
               py::isinstance(value, py::module_::import("numpy").attr("number"))) {
      settings.set<double>(path, value.cast<double>());
    } else if (py::isinstance<py::str>(value)) {
      settings.set<std::string>(path, value.cast<std::string>());
    } else {
      throw py::type_error("tracker parameter " + key + " must be a number, a bool or a str, not " +
                           py::repr(value).cast<std::string>());
    }
  }
}

// The settings store's subtree as nested dicts of texts, the keys in snake_case.
py::dict textsOf(const SettingsManager::Tree& node) {
  py::dict values;
  for (const auto& [name, child] : node) {
    if (child.empty()) {
      values[py::str(snakeCase(name))] = child.data();
    } else {
      values[py::str(snakeCase(name))] = textsOf(child);
    }
  }
  return values;
}

// A settings text as the Python value it stands for: a bool, an int, a float or a str.
py::object valueOf(const std::string& text) {
  if (text == "true" || text == "false") return py::bool_(text == "true");
  if (text.empty()) return py::str(text);
  char* end = nullptr;
  errno = 0;
  const long integer = std::strtol(text.c_str(), &end, 10);
  if (*end == '\0' && errno == 0) return py::int_(integer);
  const double number = std::strtod(text.c_str(), &end);
  if (*end == '\0') return py::float_(number);
  return py::str(text);
}

}  // namespace

py::object valuesOf(const py::handle& texts) {
  if (!py::isinstance<py::dict>(texts)) return valueOf(texts.cast<std::string>());
  py::dict values;
  for (const auto& [name, value] : py::reinterpret_borrow<py::dict>(texts)) {
    values[name] = valuesOf(value);
  }
  return values;
}

// The classes named or described in `classes`, each over the parameters in `common`.
std::vector<ClassParameters> classesOf(const py::handle& classes, const py::dict& common) {
  if (py::isinstance<py::str>(classes) || !py::isinstance<py::sequence>(classes)) {
    throw py::type_error("classes must be a sequence of class names or dicts, not " +
                         py::repr(classes).cast<std::string>());
  }
  SettingsManager settings;
  {
    SettingsManager::ScopedPush tracker(settings, "Tracker");
    int index = 0;
    for (const py::handle item : py::reinterpret_borrow<py::sequence>(classes)) {
      SettingsManager::ScopedPush entry(settings, "Class", index++);
      putValues(settings, common, "");
      if (py::isinstance<py::str>(item)) {
        settings.set<std::string>("name", item.cast<std::string>());
      } else {
        putValues(settings, item, "");
      }
    }
  }
  try {
    return track::readTrackerSettings(settings);
  } catch (const boost::property_tree::ptree_error& error) {
    throw py::value_error(error.what());
  }
}

py::list classTexts(const std::vector<ClassParameters>& classes) {
  SettingsManager settings;
  track::writeTrackerSettings(settings, classes);
  py::list texts;
  for (const auto& [name, node] : settings.tree().get_child("Tracker")) {
    if (name == "Class") texts.append(textsOf(node));
  }
  return texts;
}

std::vector<ClassParameters> classesFromTexts(const py::handle& classes) {
  return classesOf(classes, py::dict());
}

}  // namespace zelvane::python
