#include "logging_manager.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <stdexcept>

#include "text_fields.h"

namespace {

using zelvane::text::trim;

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// "2026-12-08 23:15:02.123 WARN  TransformManager: message\n": one line, built whole
// before it is written so that concurrent writers cannot interleave.
std::string formatLine(const std::string& logger, int level, const std::string& message) {
  using clock = std::chrono::system_clock;
  const auto now = clock::now();
  const std::time_t seconds = clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);

  std::ostringstream line;
  line << std::put_time(&local, "%Y-%m-%d %H:%M:%S") << '.' << std::setfill('0') << std::setw(3)
       << millis << std::setfill(' ') << ' ' << std::left << std::setw(5)
       << Logger::levelName(level) << ' ' << logger << ": " << message << '\n';
  return line.str();
}

}  // namespace

// --- LogStream ---------------------------------------------------------------

LogStream::LogStream(const std::string& logger, int level, bool enabled)
    : logger_(logger), level_(level) {
  if (enabled) {
    buffer_.emplace();
    stream_ = &*buffer_;
  }
}

LogStream::~LogStream() {
  if (stream_ == nullptr) return;
  try {
    LoggingManager::getInstance().write(logger_, level_, buffer_->str());
  } catch (...) {
    // A destructor must not throw; a message that cannot be written is lost
    // rather than ending the program.
  }
}

// --- Logger ------------------------------------------------------------------

int Logger::getLevelFromString(const std::string& text) {
  const std::string name = lowerCase(text);
  if (name == "trace") return TRACE_LEVEL;
  if (name == "debug") return DEBUG_LEVEL;
  if (name == "info") return INFO_LEVEL;
  if (name == "warn" || name == "warning") return WARN_LEVEL;
  if (name == "error") return ERROR_LEVEL;
  return INVALID_LEVEL;
}

const char* Logger::levelName(int level) {
  switch (level) {
    case TRACE_LEVEL: return "trace";
    case DEBUG_LEVEL: return "debug";
    case INFO_LEVEL: return "info";
    case WARN_LEVEL: return "warn";
    case ERROR_LEVEL: return "error";
    default: return "invalid";
  }
}

bool Logger::isEnabled(int level) const { return LoggingManager::getInstance().wants(level); }

void Logger::log(int level, const std::string& message) const {
  LoggingManager& manager = LoggingManager::getInstance();
  if (manager.wants(level)) manager.write(name_, level, message);
}

// --- LoggingManager ----------------------------------------------------------

LoggingManager::LoggingManager() = default;
LoggingManager::~LoggingManager() = default;

LoggingManager& LoggingManager::getInstance() {
  static LoggingManager instance;
  return instance;
}

Logger& LoggingManager::getLogger(const std::string& name) {
  std::lock_guard<std::mutex> lock(registry_mutex_);
  auto& slot = loggers_[name];
  if (!slot) slot = std::make_unique<Logger>(name);
  return *slot;
}

void LoggingManager::loadProperties(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw std::runtime_error("cannot read logging properties file '" + file + "'");
  try {
    loadProperties(in);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("logging properties file '" + file + "': " + e.what());
  }
}

void LoggingManager::loadProperties(std::istream& in) {
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const auto comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    line = trim(line);
    if (line.empty()) continue;
    const std::string where = "line " + std::to_string(number);
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
      throw std::runtime_error(where + ": expected key=value, got '" + line + "'");
    }
    setProperty(trim(line.substr(0, equals)), trim(line.substr(equals + 1)), where);
  }
}

void LoggingManager::setProperty(const std::string& key, const std::string& value,
                                 const std::string& where) {
  auto levelOf = [&](const std::string& text) {
    const int level = Logger::getLevelFromString(text);
    if (level == Logger::INVALID_LEVEL) {
      throw std::runtime_error(where + ": '" + text + "' is not a log level for " + key);
    }
    return level;
  };

  std::lock_guard<std::recursive_mutex> lock(output_mutex_);
  if (key == "logToConsole") {
    const std::string flag = lowerCase(value);
    if (flag != "true" && flag != "false") {
      throw std::runtime_error(where + ": logToConsole must be true or false, got '" + value + "'");
    }
    log_to_console_ = flag == "true";
  } else if (key == "consoleLevel") {
    consoleLevel = levelOf(value);
  } else if (key == "fileLevel") {
    file_level_ = levelOf(value);
  } else if (key == "logFile") {
    if (value.empty()) {
      file_.reset();
      file_path_.clear();
    } else {
      auto file = std::make_unique<std::ofstream>(value, std::ios::app);
      if (!*file) throw std::runtime_error(where + ": cannot open log file '" + value + "'");
      file_ = std::move(file);
      file_path_ = value;
    }
  } else {
    throw std::runtime_error(where + ": unknown logging property '" + key + "'");
  }
  refreshOtherLevel();
}

int LoggingManager::addSink(Sink sink, int level) {
  std::lock_guard<std::recursive_mutex> lock(output_mutex_);
  const int id = next_sink_id_++;
  sinks_.push_back(SinkEntry{id, level, std::move(sink)});
  refreshOtherLevel();
  return id;
}

void LoggingManager::removeSink(int id) {
  std::lock_guard<std::recursive_mutex> lock(output_mutex_);
  sinks_.erase(std::remove_if(sinks_.begin(), sinks_.end(),
                              [id](const SinkEntry& entry) { return entry.id == id; }),
               sinks_.end());
  refreshOtherLevel();
}

void LoggingManager::reset() {
  std::lock_guard<std::recursive_mutex> lock(output_mutex_);
  log_to_console_ = false;
  consoleLevel = Logger::INFO_LEVEL;
  file_level_ = Logger::INFO_LEVEL;
  file_.reset();
  file_path_.clear();
  sinks_.clear();
  refreshOtherLevel();
}

void LoggingManager::refreshOtherLevel() {
  int lowest = file_ ? file_level_ : Logger::INVALID_LEVEL;
  for (const SinkEntry& entry : sinks_) lowest = std::min(lowest, entry.level);
  min_other_level_ = lowest;
}

bool LoggingManager::wants(int level) const {
  return (log_to_console_ && level >= consoleLevel) || level >= min_other_level_;
}

void LoggingManager::write(const std::string& logger, int level, const std::string& message) {
  std::lock_guard<std::recursive_mutex> lock(output_mutex_);
  const bool to_console = log_to_console_ && level >= consoleLevel;
  const bool to_file = file_ && level >= file_level_;
  if (to_console || to_file) {
    const std::string line = formatLine(logger, level, message);
    if (to_console) std::cerr << line << std::flush;
    if (to_file) *file_ << line << std::flush;
  }
  for (const SinkEntry& entry : sinks_) {
    if (level >= entry.level) entry.sink(logger, level, message);
  }
}
