// Several threads logging at once through their own loggers, at two levels, while
// another thread adds and removes a sink: the log file and a sink that stays receive
// every message once and whole, and a passing sink receives only whole messages.
#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "logging_manager.h"
#include "support/log_capture.h"

namespace {

using zelvane::testing::LogCapture;
using zelvane::testing::LogRecord;
using zelvane::testing::ScratchDir;

constexpr int kThreads = 4;
constexpr int kMessages = 1000;

std::string message(int thread, int i) {
  return "message " + std::to_string(i) + " of thread " + std::to_string(thread) + " end";
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
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &writers] {
      const Logger logger = LoggingManager::getInstance().getLogger("Stress" + std::to_string(t));
      for (int i = 0; i < kMessages; ++i) {
        // Composed piece by piece: the pieces must still leave as one message.
        if (i % 2 == 0) {
          logger.infoStream() << "message " << i << " of thread " << t << " end";
        } else {
          logger.warnStream() << "message " << i << " of thread " << t << " end";
        }
        logger.debugStream() << "below the threshold " << i;
      }
      --writers;
    });
  }
  threads.emplace_back([&] {  // a sink added and removed over and over
    while (writers > 0) {
      const int id = LoggingManager::getInstance().addSink(
          [&](const std::string& logger, int, const std::string& text) {
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
  });
  for (std::thread& thread : threads) thread.join();
  manager.reset();

  EXPECT_EQ(torn.load(), 0);
  std::map<std::string, int> expected;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kMessages; ++i) expected[message(t, i)] = 1;
  }
  std::map<std::string, int> received;
  for (const LogRecord& record : staying.records()) {
    if (record.logger.rfind("Stress", 0) == 0) ++received[record.message];
  }
  EXPECT_EQ(received, expected);

  std::ifstream in(log);
  std::map<std::string, int> lines;
  for (std::string line; std::getline(in, line);) {
    const std::size_t start = line.find("message ");
    ASSERT_NE(start, std::string::npos) << line;
    EXPECT_EQ(start, line.rfind("message ")) << line;
    ++lines[line.substr(start)];
  }
  EXPECT_EQ(lines, expected);
}

}  // namespace
