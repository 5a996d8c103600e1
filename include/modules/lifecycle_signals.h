/// @file
/// `modules::LifecycleSignals`: the start, stop and settings notifications that an
/// application's components connect to, shared by `MainApplicationModule` and
/// `LaunchPipeline`.
#pragma once

#include <functional>
#include <memory>

#include <zelvane/settings_manager.h>
#include <zelvane/tkit/signal.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace modules {

/// Three signals and their connect functions; the class that inherits them decides
/// when each fires. Each signal serialises its own deliveries and runs its slots on the
/// firing thread with that signal's mutex held, so a slot must not fire or connect to
/// the signal that calls it. Destruction drops every slot.
class ZELVANE_CORE_API LifecycleSignals {
 public:
  using SettingsSlot = std::function<void(std::shared_ptr<SettingsManager> const&)>;

  LifecycleSignals(const LifecycleSignals&) = delete;
  LifecycleSignals& operator=(const LifecycleSignals&) = delete;

  /// Connects a slot fired on start. Returns its handle.
  [[nodiscard]] tkit::Connection connectStart(std::function<void()> const& slot);
  /// Connects a slot fired on stop. Returns its handle.
  [[nodiscard]] tkit::Connection connectStop(std::function<void()> const& slot);
  /// Connects a slot that receives the settings store. Returns its handle.
  [[nodiscard]] tkit::Connection connectSettings(SettingsSlot const& slot);

 protected:
  LifecycleSignals();
  ~LifecycleSignals();

  /// Fires the start signal. A slot's exception propagates.
  void emitStart();
  /// Fires the stop signal. A slot's exception propagates.
  void emitStop();
  /// Fires the settings signal; every slot receives a reference to `settings` itself.
  /// A slot's exception propagates.
  void emitSettings(std::shared_ptr<SettingsManager> const& settings);

 private:
  tkit::Signal<std::shared_ptr<SettingsManager> const&> settings_signal_;
  tkit::Signal<> start_signal_;
  tkit::Signal<> stop_signal_;
};

}  // namespace modules
}  // namespace zelvane
