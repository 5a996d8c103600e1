// Test helper: runs a program through the shell and collects its exit status and
// both output streams.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace zelvane::testing {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string readFile(const std::string& file) {
  std::ifstream input(file, std::ios::binary);
  std::ostringstream text;
  text << input.rdbuf();
  return text.str();
}

/// Runs `command` (a shell command line, arguments already quoted) with `input` on
/// its standard input.
inline ProgramRun runProgram(const std::string& command, const std::string& input = "") {
  ScratchDir dir;
  const std::string in = dir.write("stdin", input);
  const std::string shell =
      command + " <'" + in + "' >'" + dir.path("stdout") + "' 2>'" + dir.path("stderr") + "'";
  const int raw = std::system(shell.c_str());
  ProgramRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = readFile(dir.path("stdout"));
  run.err = readFile(dir.path("stderr"));
  return run;
}

/// Runs the program at `path` with `arguments` (already quoted) after its quoted name.
inline ProgramRun runTool(const std::string& path, const std::string& arguments,
                          const std::string& input = "") {
  return runProgram("'" + path + "' " + arguments, input);
}

/// Whether `text` holds every one of `parts`; a failure names the first one missing.
inline ::testing::AssertionResult containsAll(const std::string& text,
                                              const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    if (text.find(part) == std::string::npos) {
      return ::testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
    }
  }
  return ::testing::AssertionSuccess();
}

/// A command line and the exit status and error text a program must give for it.
struct Refusal {
  std::string arguments;
  int status;
  std::string message;
};

/// Runs the program at `path` on each case and checks its status and standard error.
inline void expectRefusals(const std::string& path, const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    const ProgramRun run = runTool(path, c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.err;
    EXPECT_TRUE(containsAll(run.err, {c.message})) << c.arguments;
  }
}

}  // namespace zelvane::testing
