/// @file
/// `modules::LaunchPipeline`: fans the start, stop and settings notifications of an
/// application out to a group of processing modules.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <zelvane/logging_manager.h>
#include <zelvane/modules/lifecycle_signals.h>
#include <zelvane/settings_manager.h>
#include <zelvane/tkit/connection.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace modules {

/// Passes `start`, `stop` and `settings` on to every module connected through the
/// `LifecycleSignals` connect functions, and on `stop` cuts two recorded lists of
/// connections: the pre-stop list before the stop notification goes out, the
/// post-stop list after it. Destruction stops once more.
///
/// Each signal serialises its own deliveries and runs its slots on the calling
/// thread with that signal's mutex held: a stop slot must not call `stop` of the
/// same pipeline. The connection lists are not guarded; fill them before the
/// pipeline is shared between threads, or from its own slots.
class ZELVANE_CORE_API LaunchPipeline : public LoggedComponent, public LifecycleSignals {
 public:
  /// A pipeline with the default logger.
  LaunchPipeline();
  /// A pipeline with the logger named `name`.
  explicit LaunchPipeline(std::string const& name);
  /// Calls `stop` once more, then drops every slot. An exception escaping that
  /// `stop` ends the program (`std::terminate`).
  ~LaunchPipeline() override;

  LaunchPipeline(const LaunchPipeline&) = delete;
  LaunchPipeline& operator=(const LaunchPipeline&) = delete;

  /// Records `connection` to be cut by the next `stop` before the stop signal fires.
  void addPreStopConnection(tkit::Connection connection);
  /// Records `connection` to be cut by the next `stop` after the stop signal fired.
  void addPostStopConnection(tkit::Connection connection);

  /// Fires the start signal. A slot's exception propagates.
  virtual void start();
  /// Disconnects and forgets the pre-stop connections, fires the stop signal, then
  /// disconnects and forgets the post-stop connections. Connections whose slot is
  /// gone are skipped. A stop slot's exception propagates after the pre-stop list
  /// was cut, leaving the post-stop list uncut for a later `stop`.
  virtual void stop();
  /// Fires the settings signal; every slot receives a reference to `settings`
  /// itself. A slot's exception propagates.
  virtual void settings(std::shared_ptr<SettingsManager> settings);

 private:
  std::vector<tkit::Connection> pre_stop_connections_;
  std::vector<tkit::Connection> post_stop_connections_;
};

}  // namespace modules
}  // namespace zelvane
