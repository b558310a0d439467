#include "support/RunTool.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/SmtpServer.h"
#include "support/TempDir.h"

extern char** environ;

namespace ktinet::test {

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

ToolOutcome RunTool(const std::string& args) {
  TempDir dir;
  ToolOutcome o;
  o.out = RunCommand("env -u http_proxy -u HTTP_PROXY -u https_proxy -u HTTPS_PROXY -u ftp_proxy -u FTP_PROXY "
                     "-u all_proxy -u ALL_PROXY KTINET_UI=headless " +
                         ShellQuote(KTINET_TOOL) + " " + args + " </dev/null 2>" + ShellQuote(dir / "err"),
                     &o.status);
  o.err = ReadFileBytes(dir / "err");
  return o;
}

ToolOutcome RunToolArgs(const std::vector<std::string>& args, int limitSeconds) {
  TempDir dir;
  const std::string outPath = dir / "out", errPath = dir / "err";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argv = {KTINET_TOOL};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  std::vector<std::string> env = {"KTINET_UI=headless"};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("KTINET_UI=", 0) != 0) env.emplace_back(*e);
  std::vector<char*> cenv;
  for (auto& e : env) cenv.push_back(e.data());
  cenv.push_back(nullptr);

  ToolOutcome run;
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, KTINET_TOOL, &fa, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << KTINET_TOOL;
    return run;
  }
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(limitSeconds)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "ktinet did not finish in " << limitSeconds << " s";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ReadFileBytes(outPath);
  run.err = ReadFileBytes(errPath);
  return run;
}

}  // namespace ktinet::test
