// `ktinet demo`: each component adds a step that runs it against the program's
// embedded loopback servers and reports one line.
#pragma once

#include <functional>
#include <string>

#include "Cli.h"

namespace ktinet::cli {

struct DemoOutcome {
  bool ok = false;
  std::string did;     // what the step did ("query to an echo server")
  std::string result;  // what came back (short, one line)
};

struct DemoStep {
  int order;               // steps run in ascending order
  std::string component;   // class name shown first on the line
  std::function<DemoOutcome()> run;
};

struct DemoRegistrar {
  explicit DemoRegistrar(DemoStep step);
};

}  // namespace ktinet::cli

#define KTINET_DEMO_STEP(...) \
  static ::ktinet::cli::DemoRegistrar KTINET_CLI_CONCAT(ktinetDemo_, __LINE__)(__VA_ARGS__)
