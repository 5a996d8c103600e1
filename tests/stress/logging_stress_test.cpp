// Several threads logging at once through their own loggers, at two levels, while
// another thread adds and removes a sink: the log file and a sink that stays receive
// every message once and whole, and a passing sink receives only whole messages.
#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "logging_manager.h"
#include "support/log_capture.h"
#include "support/run_together.h"

namespace {

using zelvane::testing::LogCapture;
using zelvane::testing::LogRecord;
using zelvane::testing::runTogether;
using zelvane::testing::ScratchDir;

constexpr int kThreads = 4;
constexpr int kMessages = 1000;

std::string message(int thread, int i) {
  return "message " + std::to_string(i) + " of thread " + std::to_string(thread) + " end";
}

// Logs every message of `thread` through its own logger, alternately at info and
// warn, each composed piece by piece, and one below the threshold after each.
void writeMessages(int thread) {
  const Logger logger = LoggingManager::getInstance().getLogger("Stress" + std::to_string(thread));
  for (int i = 0; i < kMessages; ++i) {
    if (i % 2 == 0) {
      logger.infoStream() << "message " << i << " of thread " << thread << " end";
    } else {
      logger.warnStream() << "message " << i << " of thread " << thread << " end";
    }
    logger.debugStream() << "below the threshold " << i;
  }
}

// Adds a sink and removes it again until no writer is left, counting in `torn` every
// message of a writer that reaches the sink other than whole.
void churnSink(const std::atomic<int>& writers, std::atomic<int>& torn) {
  while (writers > 0) {
    const int id = LoggingManager::getInstance().addSink(
        [&torn](const std::string& logger, int, const std::string& text) {
          const std::string tail = " of thread " + logger.substr(6) + " end";
          if (logger.rfind("Stress", 0) != 0 || text.rfind("message ", 0) != 0 ||
              text.size() < tail.size() ||
              text.compare(text.size() - tail.size(), tail.size(), tail) != 0) {
            ++torn;
          }
        },
        Logger::INFO_LEVEL);
    std::this_thread::yield();
    LoggingManager::getInstance().removeSink(id);
  }
}

// Every message of every writer, once.
std::map<std::string, int> everyMessageOnce() {
  std::map<std::string, int> expected;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kMessages; ++i) expected[message(t, i)] = 1;
  }
  return expected;
}

TEST(LoggingStress, SeveralThreadsLogWholeLinesWhileSinksComeAndGo) {
  LoggingManager& manager = LoggingManager::getInstance();
  ScratchDir dir;
  const std::string log = dir.path("stress.log");
  std::istringstream props("logFile=" + log + "\nfileLevel=info");
  manager.loadProperties(props);
  LogCapture staying(Logger::INFO_LEVEL);

  std::atomic<int> writers{kThreads};
  std::atomic<int> torn{0};
  std::vector<std::function<void()>> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t, &writers] {
      writeMessages(t);
      --writers;
    });
  }
  workers.emplace_back([&] { churnSink(writers, torn); });
  runTogether(workers);
  manager.reset();

  EXPECT_EQ(torn.load(), 0);
  std::map<std::string, int> received;
  for (const LogRecord& record : staying.records()) {
    if (record.logger.rfind("Stress", 0) == 0) ++received[record.message];
  }
  EXPECT_EQ(received, everyMessageOnce());

  std::ifstream in(log);
  std::map<std::string, int> lines;
  for (std::string line; std::getline(in, line);) {
    const std::size_t start = line.find("message ");
    ASSERT_NE(start, std::string::npos) << line;
    EXPECT_EQ(start, line.rfind("message ")) << line;
    ++lines[line.substr(start)];
  }
  EXPECT_EQ(lines, everyMessageOnce());
}

}  // namespace
