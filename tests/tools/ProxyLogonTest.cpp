// A proxy that asks for a logon (407): without a terminal the job fails and says so; on a
// terminal the logon dialog asks for the proxy's user and password and the job runs once more.
// Nothing is asked while the proxy does not ask.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/ScriptedServer.h"
#include "support/Tmux.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;
using test::ToolOutcome;

const std::string kRefusal = "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n";

TEST(ProxyLogon, WithoutATerminalTheRefusalIsAFailure) {
  ScriptedServer proxy;
  const std::string at = "127.0.0.1:" + std::to_string(proxy.Port());
  for (int i = 0; i < 2; ++i) proxy.Add(Script().ReadUntil("\r\n\r\n").Send(kRefusal));
  ToolOutcome run = test::RunToolArgs({"query", "--proxy", at, "dest.example.invalid", "43", "q\\r\\n", "--timeout", "5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "ktinet query: proxy refused: authentication required\n");
  run = test::RunToolArgs({"http", "--proxy", at, "http://dest.example.invalid/", "--timeout", "5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "ktinet http: proxy refused: authentication required\n");
  // One try each: nothing was asked, so nothing is retried.
  ASSERT_TRUE(proxy.WaitDone(2));
  EXPECT_EQ(proxy.Received(0), "q\r\n\r\n");

  // A server reached without a proxy keeps its own words for the same status.
  ScriptedServer direct;
  direct.Add(Script().ReadUntil("\r\n\r\n").Send(kRefusal));
  run = test::RunToolArgs({"query", "127.0.0.1", std::to_string(direct.Port()), "q\\r\\n", "--timeout", "5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "ktinet query: Proxy Server authorization required\n");
}

std::string OnTerminal(const std::string& args) {
  return "sh -c " + test::ShellQuote("env -u http_proxy -u KTINET_UI -u KTINET_PROXY_PASSWORD " +
                                     test::ShellQuote(KTINET_TOOL) + " " + args + "; echo EXIT=$?; sleep 60");
}

TEST(ProxyLogon, OnATerminalTheDialogAsksOnlyWhenTheProxyDoes) {
  ScriptedServer proxy;
  const std::string at = "127.0.0.1:" + std::to_string(proxy.Port());
  // A proxy that lets the query through: no dialog, the answer at once.
  proxy.Add(Script().ReadUntil("\r\n\r\n").Send("through"));
  {
    test::Tmux t(OnTerminal("query --proxy " + at + " dest.example.invalid 43 'q\\r\\n' --timeout 5"), 100, 30);
    const std::string screen = t.WaitFor("EXIT=");
    EXPECT_NE(screen.find("through"), std::string::npos) << screen;
    EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("logon"), std::string::npos) << screen;
  }
  ASSERT_TRUE(proxy.WaitDone(1));
  EXPECT_EQ(proxy.Received(0), "q\r\n\r\n");

  // A proxy that asks: the dialog, then one more try with what was typed.
  proxy.Add(Script().ReadUntil("\r\n\r\n").Send(kRefusal));
  proxy.Add(Script().ReadUntil("\r\n\r\n").Send("welcome"));
  test::Tmux t(OnTerminal("query --proxy " + at + " dest.example.invalid 43 'q\\r\\n' --timeout 5"), 100, 30);
  const std::string screen = t.AnswerLogon("Proxy logon", "puser", "secret pw");
  EXPECT_NE(screen.find("welcome"), std::string::npos) << screen;
  EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("secret pw"), std::string::npos) << "the password was echoed: " << screen;
  ASSERT_TRUE(proxy.WaitDone(3));
  EXPECT_EQ(proxy.Received(1), "q\r\n\r\n");
  EXPECT_EQ(proxy.Received(2), "q\r\nUsername: puser\r\nPassword: secret pw\r\n\r\n");
}

}  // namespace
}  // namespace ktinet
