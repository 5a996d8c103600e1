/// @file
/// `modules::MainApplicationModule`: the start-up object of an application — command
/// line, settings files, console logging — and the start, stop and settings
/// notifications that the application's components connect to.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <zelvane/logging_manager.h>
#include <zelvane/modules/lifecycle_signals.h>
#include <zelvane/modules/options_parser.h>
#include <zelvane/settings_manager.h>
#include <zelvane/tkit/connection.h>
#include <zelvane/tkit/signal.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace modules {

/// Parses the command line, loads the settings store and hands it to the connected
/// components, then relays the application's start and stop.
///
/// Options of the command line: "--help"/"-h", "--algorithm-settings"/"-a <file>",
/// "--configuration-settings"/"-c <file>" (required), "--log-level <level>",
/// "--log-props <file>", plus those of the registered `OptionsParser`s.
///
/// `configure` runs once, on the thread that starts the application, before other
/// threads exist. `start`, `stop` and `settings` may be called from any thread; each
/// signal serialises its own deliveries and runs its slots on the calling thread
/// with that signal's mutex held, so a slot must not fire or connect to the signal
/// that calls it.
class ZELVANE_CORE_API MainApplicationModule : public LoggedComponent, public LifecycleSignals {
 public:
  /// A module with no contributors, no settings store and the logger
  /// "MainApplicationModule".
  MainApplicationModule();
  /// Drops every connected slot; does not fire `stop`.
  ~MainApplicationModule() override;

  MainApplicationModule(const MainApplicationModule&) = delete;
  MainApplicationModule& operator=(const MainApplicationModule&) = delete;

  /// The whole start-up sequence: parses `argc`/`argv` (the program name first, as
  /// `main` receives them), prints the help and stops when asked to, lets every
  /// contributor process its values, fires the validated signal, switches console
  /// logging on at "--log-level", loads the algorithm and then the configuration
  /// settings file into the store (the latter wins where keys overlap), loads the
  /// logging properties ("--log-props", else the store's "LoggingPropsFile"), and
  /// calls `settings` with the store while `settingsPath` (when not empty) is pushed
  /// onto it.
  ///
  /// Uses `settings` as the store, or a new empty one when it is null.
  /// Returns true when the application may go on; false after printing the help to
  /// standard output or an error to standard error (a malformed command line, a
  /// rejected value, no configuration file, an unknown log level, an unreadable
  /// settings or logging properties file, a contributor declaring unlimited
  /// positional arguments). Steps before a failure keep their effect. A null `argv`
  /// or an `argc` below 1 means no arguments. Exceptions of the validated and
  /// settings slots and of the store's path operations propagate.
  [[nodiscard]] bool configure(int argc, char** argv, std::shared_ptr<SettingsManager> settings,
                               std::string const& settingsPath);

  /// True when the last `configure` printed the help (and therefore returned false):
  /// tells "help shown" from "failed" without looking at the arguments again. False
  /// before any `configure`.
  bool helpShown() const;

  /// Adds a contributor of command-line options; contributors are consulted in the
  /// order of registration. Must precede `configure`. A null pointer is ignored.
  void registerOptions(std::shared_ptr<OptionsParser> const& parser);

  /// Connects a slot fired once the command line has been validated, before the
  /// settings files are read. Returns its handle.
  [[nodiscard]] tkit::Connection connectValidated(std::function<void()> const& slot);

  /// Fires the start signal. A slot's exception propagates.
  virtual void start();
  /// Fires the stop signal. A slot's exception propagates.
  virtual void stop();
  /// Fires the settings signal with `settings`; every slot receives a reference to
  /// the same pointer. `configure` calls this, so an override receives the store.
  virtual void settings(std::shared_ptr<SettingsManager> settings);

  /// The settings store in use: null before `configure`, afterwards the store passed
  /// to `configure` or the one it created.
  std::shared_ptr<SettingsManager> getSettingsManager() const;

 private:
  // The option descriptions, the arguments and the parsed values of one `configure`.
  struct CommandLine;

  // The steps of `configure`, in their order. Each returns whether to go on, having
  // written its own message when not.
  void describeOptions(CommandLine& line);
  bool collectPositionalArguments(CommandLine& line) const;
  bool copyArguments(int argc, char** argv, CommandLine& line) const;
  bool parse(CommandLine& line);
  bool runContributors(CommandLine& line) const;
  bool requireConfigurationFile(const CommandLine& line) const;
  bool applyLogLevel(const CommandLine& line) const;
  bool loadSettingsFiles();
  bool loadLoggingProperties();
  void deliverSettings(const std::string& settingsPath);

  bool addSettingsFile(const std::string& file);
  bool loadLoggingPropertiesFile(const std::string& file);

  tkit::Signal<> validated_signal_;
  std::vector<std::shared_ptr<OptionsParser>> options_parsers_;
  std::string algorithm_settings_file_;
  std::string configuration_settings_file_;
  std::string log_props_file_;
  std::string log_level_;
  bool help_shown_ = false;
  std::shared_ptr<SettingsManager> settings_manager_;
};

}  // namespace modules
}  // namespace zelvane
