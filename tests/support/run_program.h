// Test helper: runs a program through the shell and collects its exit status and
// both output streams.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace zelvane::testing
