// Runs the ktinet program the way the program tests need it: headless UI, no proxy from the
// environment, nothing on stdin; stdout, stderr and the exit status collected.
#pragma once

#include <string>
#include <vector>

namespace ktinet::test {

struct ToolOutcome {
  int status = -1;  // the exit status (RunToolArgs: 128 + the signal when one ended it)
  std::string out, err;
  long ms = 0;      // RunToolArgs: wall time of the run
};

// `args` is the tail of a shell command line (quote what needs it); no proxy from the environment.
ToolOutcome RunTool(const std::string& args);

// The program with these arguments, started without a shell, in this process's environment
// (KTINET_UI forced to headless); killed, and the test failed, after limitSeconds.
ToolOutcome RunToolArgs(const std::vector<std::string>& args, int limitSeconds = 60);

// `s` in single quotes for the shell.
std::string ShellQuote(const std::string& s);

}  // namespace ktinet::test
