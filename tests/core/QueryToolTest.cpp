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
#include "support/RunTool.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"


namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

using ToolRun = test::ToolOutcome;

ToolRun RunTool(const std::vector<std::string>& args) { return test::RunToolArgs(args, 20); }

TEST(QueryTool, SendsTextWithHeaderBlockAndPrintsAnswerBytes) {
  const std::string answer = std::string("line one\r\n\0\x01\xff binary", 20);
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send(answer));
  ToolRun r = RunTool({"query", "127.0.0.1", std::to_string(server.Port()), "hello\\r\\n"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, answer);
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(server.Received(0), "hello\r\nProxy-Connection: Keep-Alive\r\n\r\n");

  // No text: nothing is sent and the server speaks first.
  server.Add(Script().Send("banner\r\n"));
  r = RunTool({"query", "127.0.0.1", std::to_string(server.Port())});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "banner\r\n");
  ASSERT_TRUE(server.WaitDone(2));
  EXPECT_EQ(server.Received(1), "");

  // Through a proxy: options before the arguments, the credentials go in the header block.
  server.Add(Script().ReadUntil("\r\n\r\n").Send("proxied"));
  r = RunTool({"query", "--proxy", "127.0.0.1:" + std::to_string(server.Port()), "--proxy-user", "u",
               "--proxy-password=p", "dest.example.invalid", "43", "q\\r\\n"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "proxied");
  ASSERT_TRUE(server.WaitDone(3));
  EXPECT_EQ(server.Received(2), "q\r\nUsername: u\r\nPassword: p\r\n\r\n");
}

TEST(QueryTool, FailuresAndUsage) {
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 404 Not Found\r\n\r\n"));
  ToolRun r = RunTool({"query", "127.0.0.1", std::to_string(server.Port()), "GET / HTTP/1.0\\r\\n"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ktinet query: File not found\n");

  // A read time-out ends the run with a message, promptly.
  server.Add(Script().ReadUntil("\r\n\r\n").Stall(5000));
  r = RunTool({"query", "127.0.0.1", std::to_string(server.Port()), "x", "--timeout", "0.2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ktinet query: "), std::string::npos);
  EXPECT_LT(r.ms, 3000);

  r = RunTool({"query", "127.0.0.1", std::to_string(test::FreePort()), "x"});
  EXPECT_EQ(r.status, 1);
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
    EXPECT_EQ(r.status, 2) << bad.back() << ": " << r.err;
    EXPECT_NE(r.err.find("ktinet query:"), std::string::npos) << r.err;
  }
}

TEST(QueryTool, AboutAndDemoLine) {
  ToolRun r = RunTool({"about"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("KtInternet suite is the network/internet components:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("  - TKtIRSSParser: to parse the RSS streams"), std::string::npos) << r.err;

  r = RunTool({"demo"});
  EXPECT_NE(r.out.find("[ ok ] TKtInetBase: "), std::string::npos) << r.out;
}

}  // namespace
}  // namespace ktinet
