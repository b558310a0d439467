// `ktinet query`, `ktinet about` and the demo's TKtInetBase line, run as a user runs them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "support/Net.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

extern char** environ;

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

struct ToolRun {
  int exitCode = -1;
  std::string out, err;
  long ms = 0;
};

// Runs the program headless with stdout and stderr in files; killed after 20 s.
ToolRun RunTool(const std::vector<std::string>& args) {
  test::TempDir dir;
  std::string outPath = dir / "out", errPath = dir / "err";
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

  ToolRun run;
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = -1;
  int rc = posix_spawn(&pid, KTINET_TOOL, &fa, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << KTINET_TOOL;
    return run;
  }
  int status = 0;
  for (;;) {
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(20)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "ktinet did not finish in 20 s";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = test::ReadFileBytes(outPath);
  run.err = test::ReadFileBytes(errPath);
  return run;
}

TEST(QueryTool, SendsTextWithHeaderBlockAndPrintsAnswerBytes) {
  const std::string answer = std::string("line one\r\n\0\x01\xff binary", 20);
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send(answer));
  ToolRun r = RunTool({"query", "127.0.0.1", std::to_string(server.Port()), "hello\\r\\n"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, answer);
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(server.Received(0), "hello\r\nProxy-Connection: Keep-Alive\r\n\r\n");

  // No text: nothing is sent and the server speaks first.
  server.Add(Script().Send("banner\r\n"));
  r = RunTool({"query", "127.0.0.1", std::to_string(server.Port())});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "banner\r\n");
  ASSERT_TRUE(server.WaitDone(2));
  EXPECT_EQ(server.Received(1), "");

  // Through a proxy: options before the arguments, the credentials go in the header block.
  server.Add(Script().ReadUntil("\r\n\r\n").Send("proxied"));
  r = RunTool({"query", "--proxy", "127.0.0.1:" + std::to_string(server.Port()), "--proxy-user", "u",
               "--proxy-password=p", "dest.example.invalid", "43", "q\\r\\n"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "proxied");
  ASSERT_TRUE(server.WaitDone(3));
  EXPECT_EQ(server.Received(2), "q\r\nUsername: u\r\nPassword: p\r\n\r\n");
}

TEST(QueryTool, FailuresAndUsage) {
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 404 Not Found\r\n\r\n"));
  ToolRun r = RunTool({"query", "127.0.0.1", std::to_string(server.Port()), "GET / HTTP/1.0\\r\\n"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ktinet query: File not found\n");

  // A read time-out ends the run with a message, promptly.
  server.Add(Script().ReadUntil("\r\n\r\n").Stall(5000));
  r = RunTool({"query", "127.0.0.1", std::to_string(server.Port()), "x", "--timeout", "200"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("ktinet query: "), std::string::npos);
  EXPECT_LT(r.ms, 3000);

  r = RunTool({"query", "127.0.0.1", std::to_string(test::FreePort()), "x"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("ktinet query: ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;

  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"query", "127.0.0.1"},
           {"query", "127.0.0.1", "http"},
           {"query", "127.0.0.1", "70000"},
           {"query", "127.0.0.1", "43", "x", "extra"},
           {"query", "127.0.0.1", "43", "--proxy", "nocolon"},
           {"query", "127.0.0.1", "43", "--proxy", "::1:8080"},
           {"query", "127.0.0.1", "43", "--timeout", "soon"},
       }) {
    r = RunTool(bad);
    EXPECT_EQ(r.exitCode, 2) << bad.back() << ": " << r.err;
    EXPECT_NE(r.err.find("ktinet query:"), std::string::npos) << r.err;
  }
}

TEST(QueryTool, AboutAndDemoLine) {
  ToolRun r = RunTool({"about"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("KtInternet suite is the network/internet components:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("  - TKtIRSSParser: to parse the RSS streams"), std::string::npos) << r.err;

  r = RunTool({"demo"});
  EXPECT_NE(r.out.find("[ ok ] TKtInetBase: "), std::string::npos) << r.out;
}

}  // namespace
}  // namespace ktinet
