/// @file
/// The suite's logging layer: named loggers, level streams that format nothing
/// when their level is off, and outputs (console, file, sinks) that each receive
/// every message as one whole line, also when several threads log at once.
///
/// Levels: trace 0, debug 1, info 2, warn 3, error 4.
#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <zelvane/zelvane_platform_export.h>

class Logger;

/// One message under construction. Obtained by value from a `Logger` level
/// accessor; the message is written to the outputs when the stream is destroyed,
/// that is at the end of the statement that created it. When no output wants the
/// level, the stream pointer is null and insertions format nothing.
class ZELVANE_LOGGING_API LogStream {
 public:
  LogStream(const std::string& logger, int level, bool enabled);
  ~LogStream();

  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;
  LogStream(LogStream&&) = delete;
  LogStream& operator=(LogStream&&) = delete;

  /// The stream that insertions go to, or null when the level is off.
  std::ostream* stream() const { return stream_; }

  template <class T>
  LogStream& operator<<(const T& value) {
    if (stream_ != nullptr) *stream_ << value;
    return *this;
  }
  LogStream& operator<<(std::ostream& (*manipulator)(std::ostream&)) {
    if (stream_ != nullptr) manipulator(*stream_);
    return *this;
  }

 private:
  const std::string& logger_;
  int level_;
  std::optional<std::ostringstream> buffer_;
  std::ostream* stream_ = nullptr;
};

/// A handle on a named logger. Cheap to copy; all copies write under the same name.
class ZELVANE_LOGGING_API Logger {
 public:
  static constexpr int TRACE_LEVEL = 0;
  static constexpr int DEBUG_LEVEL = 1;
  static constexpr int INFO_LEVEL = 2;
  static constexpr int WARN_LEVEL = 3;
  static constexpr int ERROR_LEVEL = 4;
  /// Returned by `getLevelFromString` for a text that names no level.
  static constexpr int INVALID_LEVEL = 5;

  Logger() = default;
  explicit Logger(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }

  /// The level of a name: "trace", "debug", "info", "warn" (or "warning"), "error"
  /// in any letter case; `INVALID_LEVEL` (5) for every other text.
  static int getLevelFromString(const std::string& text);
  /// The lower-case name of a level, "invalid" outside 0..4.
  static const char* levelName(int level);

  /// True when some output wants messages of `level`.
  bool isEnabled(int level) const;

  LogStream traceStream() const { return stream(TRACE_LEVEL); }
  LogStream debugStream() const { return stream(DEBUG_LEVEL); }
  LogStream infoStream() const { return stream(INFO_LEVEL); }
  LogStream warnStream() const { return stream(WARN_LEVEL); }
  LogStream errorStream() const { return stream(ERROR_LEVEL); }

  void trace(const std::string& message) const { log(TRACE_LEVEL, message); }
  void debug(const std::string& message) const { log(DEBUG_LEVEL, message); }
  void info(const std::string& message) const { log(INFO_LEVEL, message); }
  void warn(const std::string& message) const { log(WARN_LEVEL, message); }
  void error(const std::string& message) const { log(ERROR_LEVEL, message); }

  /// Writes one message at `level` (nothing when no output wants it).
  void log(int level, const std::string& message) const;

 private:
  LogStream stream(int level) const { return LogStream(name_, level, isEnabled(level)); }

  std::string name_;
};

/// The process-wide logging facility: the registry of loggers and the outputs.
///
/// Properties (one `key=value` a line, `#` starts a comment, blanks around keys and
/// values ignored):
/// - `logToConsole` — true/false; console output (standard error) is off until set;
/// - `consoleLevel` — level name of the console threshold;
/// - `logFile` — path of a file that messages are appended to;
/// - `fileLevel` — level name of the file threshold (default info).
///
/// All members are thread-safe except `consoleLevel`, which applications assign at
/// start-up before other threads log.
class ZELVANE_LOGGING_API LoggingManager {
 public:
  using Sink =
      std::function<void(const std::string& logger, int level, const std::string& message)>;

  static LoggingManager& getInstance();

  LoggingManager(const LoggingManager&) = delete;
  LoggingManager& operator=(const LoggingManager&) = delete;

  /// The logger of `name`; the same object for the same name for the life of the process.
  Logger& getLogger(const std::string& name);

  /// Configures the outputs from a properties file. Throws `std::runtime_error`
  /// naming the file when it cannot be read, and naming the line when a line is
  /// malformed; properties before the bad line have taken effect.
  void loadProperties(const std::string& file);
  /// The same from a stream; errors name the line number.
  void loadProperties(std::istream& in);

  /// Delivers every message at or above `level` from every logger, with the message
  /// text exactly as composed. Returns an id for `removeSink`. The sink is called on
  /// the logging thread with the facility's output lock held, so it must not add or
  /// remove sinks itself.
  int addSink(Sink sink, int level);
  void removeSink(int id);

  /// Stops console and file output and removes all sinks; levels return to their
  /// defaults. For tests and for applications that reconfigure from scratch.
  void reset();

  /// True when some output wants messages of `level`.
  bool wants(int level) const;

  /// Writes one message to every output that wants its level.
  void write(const std::string& logger, int level, const std::string& message);

  /// Threshold of console output (default 2, info). Console output happens only
  /// once `logToConsole=true` has been loaded.
  int consoleLevel = Logger::INFO_LEVEL;

 private:
  LoggingManager();
  ~LoggingManager();

  void setProperty(const std::string& key, const std::string& value, const std::string& where);
  void refreshOtherLevel();

  struct SinkEntry {
    int id;
    int level;
    Sink sink;
  };

  mutable std::mutex registry_mutex_;
  std::map<std::string, std::unique_ptr<Logger>> loggers_;

  mutable std::recursive_mutex output_mutex_;
  std::atomic<bool> log_to_console_{false};
  int file_level_ = Logger::INFO_LEVEL;
  std::string file_path_;
  std::unique_ptr<std::ofstream> file_;
  std::vector<SinkEntry> sinks_;
  int next_sink_id_ = 1;
  // Lowest level that the file or a sink wants; read without the lock by `wants`.
  std::atomic<int> min_other_level_{Logger::INVALID_LEVEL};
};

/// Base of every component that logs: it carries the component's logger.
class LoggedComponent {
 public:
  LoggedComponent() = default;
  explicit LoggedComponent(const std::string& name)
      : logger_(LoggingManager::getInstance().getLogger(name)) {}
  virtual ~LoggedComponent() = default;

  virtual void setLogger(const Logger& logger) { logger_ = logger; }
  virtual const Logger& getLogger() const { return logger_; }

 protected:
  LoggedComponent(const LoggedComponent&) = default;
  LoggedComponent& operator=(const LoggedComponent&) = default;

 private:
  Logger logger_;
};
