#include "Demo.h"

#include <algorithm>
#include <iostream>
#include <vector>

#include "Cli.h"
#include "Output.h"

namespace ktinet::cli {

namespace {

std::vector<DemoStep>& Steps() {
  static std::vector<DemoStep> steps;
  return steps;
}

std::string OneLine(std::string s, size_t max = 100) {
  for (char& c : s)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  if (s.size() > max) s = s.substr(0, max - 3) + "...";
  return s;
}

int RunDemo(const Args&) {
  auto steps = Steps();
  std::stable_sort(steps.begin(), steps.end(), [](const DemoStep& a, const DemoStep& b) { return a.order < b.order; });
  int failed = 0;
  for (const auto& step : steps) {
    DemoOutcome out;
    try {
      out = step.run();
    } catch (const std::exception& e) {
      out.ok = false;
      out.result = std::string("exception: ") + e.what();
    }
    if (!out.ok) ++failed;
    // What was done, then what came back, each wrapped within the terminal's width.
    const std::string indent(7, ' ');
    std::cout << Wrapped((out.ok ? "[ ok ] " : "[FAIL] ") + step.component + ":", OneLine(out.did, 160), indent) << "\n"
              << Wrapped(indent + "->", OneLine(out.result, 240), indent + "   ") << std::endl;
  }
  std::cout << steps.size() - static_cast<size_t>(failed) << " of " << steps.size() << " components succeeded"
            << std::endl;
  return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace

DemoRegistrar::DemoRegistrar(DemoStep step) { Steps().push_back(std::move(step)); }

KTINET_COMMAND(Command{"demo", "run every component against embedded loopback servers",
                       "Usage: ktinet demo\n\n"
                       "Starts small servers on loopback inside this program, runs each component of the\n"
                       "suite against them and prints one line per component. Exit 0 only if all succeeded.\n",
                       {}, RunDemo});

}  // namespace ktinet::cli
