#include "track/tracker_settings.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>

#include "settings_manager.h"

namespace zelvane {
namespace track {
namespace {

const char* const TRACKER_NODE = "Tracker";
const char* const CLASS_NODE = "Class";
const char* const NAME_KEY = "name";
const char* const MODEL_KEY = "motionModel";
const char* const METRIC_KEY = "Association.metric";
const char* const METHOD_KEY = "Association.method";
// Element attributes, as the settings store keeps them.
const char* const ATTRIBUTES = "<xmlattr>";

// A parameter of a given type: its key below the class's node and the member it sets.
template <class T>
struct Field {
  const char* key;
  T& (*of)(ClassParameters&);
};

#define ZELVANE_FIELD(type, key, member)                      \
  Field<type> {                                               \
    key, [](ClassParameters& c) -> type& { return c.member; } \
  }

const Field<float> FLOAT_FIELDS[] = {
    ZELVANE_FIELD(float, "MeasurementNoise.horizontal", measurementNoise.horizontal),
    ZELVANE_FIELD(float, "MeasurementNoise.vertical", measurementNoise.vertical),
    ZELVANE_FIELD(float, "MeasurementNoise.heading", measurementNoise.heading),
    ZELVANE_FIELD(float, "MeasurementNoise.size", measurementNoise.size),
    ZELVANE_FIELD(float, "birthScore", birthScore),
};
const Field<double> DOUBLE_FIELDS[] = {
    ZELVANE_FIELD(double, "Association.threshold", threshold),
};
const Field<int> INT_FIELDS[] = {
    ZELVANE_FIELD(int, "confirmHits", confirmHits),
    ZELVANE_FIELD(int, "maxMisses", maxMisses),
    ZELVANE_FIELD(int, "maxTentativeMisses", maxTentativeMisses),
    ZELVANE_FIELD(int, "Output.coastingFrames", output.coastingFrames),
};
const Field<bool> BOOL_FIELDS[] = {
    ZELVANE_FIELD(bool, "Output.tentativeInFirstFrames", output.tentativeInFirstFrames),
};

#undef ZELVANE_FIELD

// Calls `use(key, value)` for each motion-model parameter of `c`, the key below the
// class's node: the constant-velocity model's, then the turn model's.
template <class Use>
void forEachModelParameter(ClassParameters& c, Use use) {
  auto below = [&use](const char* node) {
    return [&use, node](const char* name, float& value) {
      use(std::string(node) + "." + name, value);
    };
  };
  forEachParameter(c.constantVelocity, below("ConstantVelocity"));
  forEachParameter(c.constantTurnRate, below("ConstantTurnRate"));
}

template <class T, std::size_t N>
void readFields(const SettingsManager& settings, const Field<T> (&fields)[N], ClassParameters& c) {
  for (const Field<T>& field : fields) {
    if (settings.exists(field.key)) field.of(c) = settings.get<T>(field.key);
  }
}

template <class T, std::size_t N>
void writeFields(SettingsManager& settings, const Field<T> (&fields)[N], ClassParameters& c) {
  for (const Field<T>& field : fields) settings.set<T>(field.key, field.of(c));
}

// Every key path (nodes joined by '.') that a class's node may hold.
std::set<std::string> knownKeys() {
  std::set<std::string> keys{NAME_KEY, MODEL_KEY, METRIC_KEY, METHOD_KEY};
  ClassParameters unused;
  forEachModelParameter(unused, [&keys](const std::string& key, float&) { keys.insert(key); });
  for (const auto& f : FLOAT_FIELDS) keys.insert(f.key);
  for (const auto& f : DOUBLE_FIELDS) keys.insert(f.key);
  for (const auto& f : INT_FIELDS) keys.insert(f.key);
  for (const auto& f : BOOL_FIELDS) keys.insert(f.key);
  return keys;
}

// Refuses the first value below `node` (at `path`, "" for the class itself) whose key
// path is not known; a node's attributes are not keys.
void checkKeys(const SettingsManager::Tree& node, const std::string& path,
               const std::set<std::string>& known, const std::string& where) {
  for (const auto& [name, child] : node) {
    if (name == ATTRIBUTES) continue;
    const std::string key = path.empty() ? name : path + "." + name;
    const bool isNode = std::any_of(child.begin(), child.end(), [](const auto& grandchild) {
      return grandchild.first != ATTRIBUTES;
    });
    if (isNode) {
      checkKeys(child, key, known, where);
    } else if (known.count(key) == 0) {
      throw std::invalid_argument(where + "." + key + ": not a tracker parameter");
    }
  }
}

template <class T>
void readName(const SettingsManager& settings, const char* key, const std::string& where,
              const NameTable<T>& names, T& value) {
  if (!settings.exists(key)) return;
  const std::string text = settings.get<std::string>(key);
  if (!names.parse(text, value)) {
    throw std::invalid_argument(where + "." + key + ": unknown name \"" + text + "\" (" +
                                names.choices("", false, ", ") + ")");
  }
}

ClassParameters readClass(SettingsManager& settings, const std::string& where) {
  ClassParameters c;
  if (!settings.exists(NAME_KEY)) throw std::invalid_argument(where + ".name: missing");
  c.name = settings.get<std::string>(NAME_KEY);
  checkKeys(settings.currentNode(), "", knownKeys(), where);
  readName(settings, MODEL_KEY, where, motionModelNames(), c.motionModel);
  readName(settings, METRIC_KEY, where, core::associationMetricNames(), c.metric);
  readName(settings, METHOD_KEY, where, core::associationMethodNames(), c.method);
  forEachModelParameter(c, [&settings](const std::string& key, float& value) {
    if (settings.exists(key)) value = settings.get<float>(key);
  });
  readFields(settings, FLOAT_FIELDS, c);
  readFields(settings, DOUBLE_FIELDS, c);
  readFields(settings, INT_FIELDS, c);
  readFields(settings, BOOL_FIELDS, c);
  return c;
}

}  // namespace

const NameTable<MotionModelKind>& motionModelNames() {
  static constexpr EnumName<MotionModelKind> names[] = {
      {MotionModelKind::ConstantVelocity, "constant_velocity"},
      {MotionModelKind::ConstantTurnRate, "constant_turn_rate"}};
  static constexpr NameTable<MotionModelKind> table(names, "unknown");
  return table;
}

const char* motionModelName(MotionModelKind model) { return motionModelNames().name(model); }

bool parseMotionModelName(const std::string& name, MotionModelKind& model) {
  return motionModelNames().parse(name, model);
}

const char* associationMetricName(core::AssociationMetric metric) {
  return core::associationMetricNames().name(metric);
}

bool parseAssociationMetricName(const std::string& name, core::AssociationMetric& metric) {
  return core::associationMetricNames().parse(name, metric);
}

const char* associationMethodName(core::AssociationMethod method) {
  return core::associationMethodNames().name(method);
}

bool parseAssociationMethodName(const std::string& name, core::AssociationMethod& method) {
  return core::associationMethodNames().parse(name, method);
}

std::vector<ClassParameters> readTrackerSettings(SettingsManager& settings) {
  const std::string root =
      settings.currentPath().empty() ? TRACKER_NODE : settings.currentPath() + "." + TRACKER_NODE;
  if (!settings.exists(TRACKER_NODE)) throw std::invalid_argument(root + ": missing");
  SettingsManager::ScopedPush tracker(settings, TRACKER_NODE);
  std::vector<ClassParameters> classes;
  const int count = settings.getChildCount(CLASS_NODE);
  for (int i = 0; i < count; ++i) {
    SettingsManager::ScopedPush entry(settings, CLASS_NODE, i);
    classes.push_back(readClass(settings, root + "." + CLASS_NODE + "[" + std::to_string(i) + "]"));
  }
  return classes;
}

void writeTrackerSettings(SettingsManager& settings, const std::vector<ClassParameters>& classes) {
  settings.deletePath(TRACKER_NODE);
  SettingsManager::ScopedPush tracker(settings, TRACKER_NODE);
  for (std::size_t i = 0; i < classes.size(); ++i) {
    SettingsManager::ScopedPush entry(settings, CLASS_NODE, static_cast<int>(i));
    ClassParameters c = classes[i];
    settings.set<std::string>(NAME_KEY, c.name);
    settings.set<std::string>(MODEL_KEY, motionModelName(c.motionModel));
    settings.set<std::string>(METRIC_KEY, associationMetricName(c.metric));
    settings.set<std::string>(METHOD_KEY, associationMethodName(c.method));
    forEachModelParameter(
        c, [&settings](const std::string& key, float& value) { settings.set<float>(key, value); });
    writeFields(settings, FLOAT_FIELDS, c);
    writeFields(settings, DOUBLE_FIELDS, c);
    writeFields(settings, INT_FIELDS, c);
    writeFields(settings, BOOL_FIELDS, c);
  }
}

}  // namespace track
}  // namespace zelvane
