#include "modules/lifecycle_signals.h"

namespace zelvane {
namespace modules {

LifecycleSignals::LifecycleSignals() = default;

LifecycleSignals::~LifecycleSignals() = default;

tkit::Connection LifecycleSignals::connectStart(std::function<void()> const& slot) {
  return start_signal_.connect(slot);
}

tkit::Connection LifecycleSignals::connectStop(std::function<void()> const& slot) {
  return stop_signal_.connect(slot);
}

tkit::Connection LifecycleSignals::connectSettings(SettingsSlot const& slot) {
  return settings_signal_.connect(slot);
}

void LifecycleSignals::emitStart() { start_signal_.emit(); }

void LifecycleSignals::emitStop() { stop_signal_.emit(); }

void LifecycleSignals::emitSettings(std::shared_ptr<SettingsManager> const& settings) {
  settings_signal_.emit(settings);
}

}  // namespace modules
}  // namespace zelvane
