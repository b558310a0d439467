// ktinet: every component of the library in a user's hands.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "SelfDoc.h"
#include "Output.h"
#include "rtl/Exceptions.h"
#include "vcl/UiBackend.h"

using namespace ktinet::cli;

namespace {

void PrintHelp() {
  std::cout << "Usage: ktinet COMMAND [OPTIONS] [ARGS]\n\n"
               "Non-visual internet components from the command line.\n\nCommands:\n";
  for (const auto& [name, cmd] : Registry()) {
    std::string pad(name.size() < 14 ? 14 - name.size() : 1, ' ');
    std::cout << Wrapped("  " + name + pad, cmd.summary, std::string(16, ' ')) << "\n";
  }
  std::cout << "\n  ktinet COMMAND --help   shows a command's options\n"
               "  ktinet --version        shows the version\n\n"
               "Exit codes: 0 done, 1 the job failed, 2 bad usage.\n";
}

}  // namespace

int main(int argc, char** argv) {
  ktinet::ChooseBackendFromEnvironment();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    if (args.size() >= 2 && Registry().count(args[1])) {
      std::cout << FitHelp(Registry().at(args[1]).usage);
      return kExitOk;
    }
    PrintHelp();
    return args.empty() ? kExitUsage : kExitOk;
  }
  // The build generates the manual page and the bash completion from the command table.
  if (args[0] == "--man") {
    PrintManPage(std::cout, KTINET_VERSION);
    return kExitOk;
  }
  if (args[0] == "--bash-completion") {
    PrintBashCompletion(std::cout);
    return kExitOk;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    std::cout << "ktinet " << KTINET_VERSION << "\n";
    return kExitOk;
  }
  auto it = Registry().find(args[0]);
  if (it == Registry().end()) {
    std::cerr << "ktinet: unknown command '" << args[0] << "' (see ktinet --help)\n";
    return kExitUsage;
  }
  const Command& cmd = it->second;
  std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const auto& a : rest) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      std::cout << FitHelp(cmd.usage);
      return kExitOk;
    }
  }
  try {
    Args parsed(rest, cmd.options);
    return cmd.run(parsed);
  } catch (const UsageError& e) {
    std::cerr << "ktinet " << cmd.name << ": " << e.what() << " (see ktinet " << cmd.name << " --help)\n";
    return kExitUsage;
  } catch (const ktinet::Exception& e) {
    std::cerr << "ktinet " << cmd.name << ": " << e.what() << "\n";
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cerr << "ktinet " << cmd.name << ": " << e.what() << "\n";
    return kExitFailed;
  }
}
