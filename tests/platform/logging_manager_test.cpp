#include "logging_manager.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace {

using zelvane::testing::LogCapture;
using zelvane::testing::LogRecord;
using zelvane::testing::ScratchDir;

class LoggingManagerTest : public ::testing::Test {
 protected:
  void TearDown() override { LoggingManager::getInstance().reset(); }
  LoggingManager& manager = LoggingManager::getInstance();
};

TEST(LoggerLevels, NamesInAnyCaseAndEverythingElseIsFive) {
  const std::pair<const char*, int> cases[] = {
      {"trace", 0}, {"DEBUG", 1}, {"Info", 2},  {"warn", 3},  {"WARNING", 3},
      {"error", 4}, {"", 5},      {"fatal", 5}, {" info", 5}, {"inf", 5},
  };
  for (const auto& [text, level] : cases) {
    EXPECT_EQ(Logger::getLevelFromString(text), level) << text;
  }
}

TEST_F(LoggingManagerTest, SameLoggerObjectForSameName) {
  Logger& first = manager.getLogger("Component");
  Logger& second = manager.getLogger("Component");
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(first.name(), "Component");
  EXPECT_NE(&manager.getLogger("Other"), &first);
  EXPECT_EQ(Logger().name(), "");
}

TEST_F(LoggingManagerTest, SinkReceivesMessagesAtOrAboveItsLevelExactlyAsComposedUntilRemoved) {
  LogCapture capture(Logger::WARN_LEVEL);
  const Logger logger = manager.getLogger("Graph");
  logger.infoStream() << "not wanted";
  logger.warnStream() << "value " << 42 << ", " << 1.5;
  logger.error("plain text");
  EXPECT_EQ(capture.records(),
            (std::vector<LogRecord>{{"Graph", 3, "value 42, 1.5"}, {"Graph", 4, "plain text"}}));
  // Below every sink's level there is no stream to format into.
  EXPECT_EQ(logger.traceStream().stream(), nullptr);
  EXPECT_EQ(logger.debugStream().stream(), nullptr);
  EXPECT_EQ(logger.infoStream().stream(), nullptr);
  EXPECT_NE(logger.warnStream().stream(), nullptr);

  // A removed sink receives nothing.
  int calls = 0;
  const int id = manager.addSink([&](const std::string&, int, const std::string&) { ++calls; },
                                 Logger::TRACE_LEVEL);
  manager.getLogger("A").info("one");
  manager.removeSink(id);
  manager.getLogger("A").info("two");
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(manager.getLogger("A").isEnabled(Logger::INFO_LEVEL));  // only the capture's WARN
}

TEST_F(LoggingManagerTest, PropertiesConfigureFileOutput) {
  ScratchDir dir;
  const std::string log = dir.path("out.log");
  std::istringstream props("# file output\n  logFile = " + log + "  \nfileLevel=WARN\n\n");
  manager.loadProperties(props);
  const Logger logger = manager.getLogger("FileTest");
  logger.info("dropped");
  logger.warn("kept");
  logger.errorStream() << "also "
                       << "kept";

  std::ifstream in(log);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line)) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("warn  FileTest: kept"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("error FileTest: also kept"), std::string::npos) << lines[1];
}

TEST_F(LoggingManagerTest, ConsoleOutputStartsOffAndFollowsConsoleLevel) {
  EXPECT_EQ(manager.consoleLevel, Logger::INFO_LEVEL);
  ::testing::internal::CaptureStderr();
  manager.getLogger("Console").error("before switching on");
  std::istringstream on("logToConsole=true");
  manager.loadProperties(on);
  manager.consoleLevel = Logger::WARN_LEVEL;
  manager.getLogger("Console").info("below the level");
  manager.getLogger("Console").warn("shown");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("before switching on"), std::string::npos);
  EXPECT_EQ(err.find("below the level"), std::string::npos);
  EXPECT_NE(err.find("Console: shown\n"), std::string::npos) << err;
}

TEST_F(LoggingManagerTest, BadOrMissingPropertiesAreReportedWithTheirLineOrFile) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"logToConsole=true\nnonsense\n", "line 2: expected key=value"},
      {"consoleLevel=loud", "line 1: 'loud' is not a log level for consoleLevel"},
      {"logToConsole=maybe", "line 1: logToConsole must be true or false"},
      {"colour=red", "line 1: unknown logging property 'colour'"},
      {"logFile=/nonexistent-dir/x.log", "line 1: cannot open log file"},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.text);
    try {
      manager.loadProperties(in);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
  try {
    manager.loadProperties(std::string("/nonexistent/logging.props"));
    ADD_FAILURE() << "no error for a missing file";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/logging.props"), std::string::npos);
  }
}

TEST_F(LoggingManagerTest, ConcurrentWritersProduceWholeLines) {
  ScratchDir dir;
  const std::string log = dir.path("threads.log");
  std::istringstream props("logFile=" + log + "\nfileLevel=info");
  manager.loadProperties(props);

  constexpr int kThreads = 4;
  constexpr int kMessages = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const Logger logger = LoggingManager::getInstance().getLogger("T" + std::to_string(t));
      for (int i = 0; i < kMessages; ++i) {
        logger.infoStream() << "message " << i << " of thread " << t << " end";
      }
    });
  }
  for (auto& thread : threads) thread.join();
  manager.reset();

  std::ifstream in(log);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ++count;
    EXPECT_EQ(line.rfind(" end"), line.size() - 4) << line;
    EXPECT_EQ(line.find("message"), line.rfind("message")) << line;
  }
  EXPECT_EQ(count, kThreads * kMessages);
}

}  // namespace
