// Test helpers: capture log records through a sink, and make scratch files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "logging_manager.h"

namespace zelvane::testing {

struct LogRecord {
  std::string logger;
  int level;
  std::string message;
  bool operator==(const LogRecord& other) const {
    return logger == other.logger && level == other.level && message == other.message;
  }
};

inline void PrintTo(const LogRecord& record, std::ostream* os) {
  *os << record.logger << "/" << Logger::levelName(record.level) << ": " << record.message;
}

/// Records every message at or above `level` while it lives.
class LogCapture {
 public:
  explicit LogCapture(int level = Logger::TRACE_LEVEL) {
    id_ = LoggingManager::getInstance().addSink(
        [this](const std::string& logger, int lvl, const std::string& message) {
          std::lock_guard<std::mutex> lock(mutex_);
          records_.push_back(LogRecord{logger, lvl, message});
        },
        level);
  }
  ~LogCapture() { LoggingManager::getInstance().removeSink(id_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogRecord> records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  std::vector<std::string> messages(int level) const {
    std::vector<std::string> result;
    for (const LogRecord& record : records()) {
      if (record.level == level) result.push_back(record.message);
    }
    return result;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
  }

 private:
  int id_ = 0;
  mutable std::mutex mutex_;
  std::vector<LogRecord> records_;
};

/// A fresh directory under the system's temporary directory, removed with its content.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelvane-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  /// Writes `content` to `name` inside the directory and returns its path.
  std::string write(const std::string& name, const std::string& content) const {
    const std::string file = (path_ / name).string();
    std::ofstream(file) << content;
    return file;
  }
  std::string path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace zelvane::testing
