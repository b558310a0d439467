// Runs the ktinet program the way the program tests need it: headless UI, no proxy from the
// environment, nothing on stdin; stdout, stderr and the exit status collected.
#pragma once

#include <string>

namespace ktinet::test {

struct ToolOutcome {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out, err;
};

// `args` is the tail of a shell command line (quote what needs it).
ToolOutcome RunTool(const std::string& args);

// `s` in single quotes for the shell.
std::string ShellQuote(const std::string& s);

}  // namespace ktinet::test
