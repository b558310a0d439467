// The download subcommands take the proxy options the socket subcommands take: --proxy names the
// proxy for every request of the job, --proxy-user and its password reach it, and a proxy that
// asks for a logon (407) fails the job with the words that say so, or on a terminal is answered
// through the logon dialog once.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/NginxServer.h"
#include "support/RunTool.h"
#include "support/TempDir.h"
#include "support/Tmux.h"

namespace ktinet {
namespace {

using test::NginxServer;
using test::ToolOutcome;

// A forward proxy that lets through only the user "puser" with the password "p w".
std::string LockedProxyLocation() {
  std::string open = NginxServer::ForwardProxyLocation();
  // "Basic " and base64 of "puser:p w".
  const std::string check =
      "  if ($http_proxy_authorization != \"Basic cHVzZXI6cCB3\") {\n"
      "    add_header Proxy-Authenticate 'Basic realm=\"proxy\"' always;\n"
      "    return 407;\n"
      "  }\n";
  return open.insert(open.find('\n') + 1, check);
}

struct Sites {
  NginxServer origin{[] {
    NginxServer::Options o;
    o.files = {{"f.txt", "through the proxy\n"},
               {"feed.xml",
                "<?xml version=\"1.0\"?>\n<rss version=\"2.0\">\n<channel>\n<title>Proxied feed</title>\n"
                "<link>http://example.test/</link>\n<description>d</description>\n</channel>\n</rss>\n"}};
    return o;
  }()};
  NginxServer open{[] {
    NginxServer::Options o;
    o.locations = NginxServer::ForwardProxyLocation();
    return o;
  }()};
  NginxServer locked{[] {
    NginxServer::Options o;
    o.locations = LockedProxyLocation();
    return o;
  }()};
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(origin.Port()) + path; }
  std::string Open() const { return "127.0.0.1:" + std::to_string(open.Port()); }
  std::string Locked() const { return "127.0.0.1:" + std::to_string(locked.Port()); }
};

TEST(TransferProxy, TheNamedProxyCarriesEveryDownloadSubcommand) {
  Sites s;
  test::TempDir dir;
  const std::string file = s.Url("/f.txt"), feed = s.Url("/feed.xml");

  ToolOutcome got = test::RunToolArgs({"get", "--proxy", s.Open(), file, "--timeout", "10"});
  EXPECT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, "through the proxy\n");
  EXPECT_TRUE(s.open.WaitForAccessLog("GET " + file)) << s.open.AccessLog();

  ToolOutcome updated =
      test::RunToolArgs({"update", "--proxy", s.Open(), file, dir / "copy.txt", "--no-window", "--timeout", "10"});
  EXPECT_EQ(updated.status, 0) << updated.err;
  EXPECT_EQ(test::ReadFileBytes(dir / "copy.txt"), "through the proxy\n");

  ToolOutcome rss = test::RunToolArgs({"rss", "--proxy", s.Open(), feed, "--timeout", "10"});
  EXPECT_EQ(rss.status, 0) << rss.err;
  EXPECT_NE(rss.out.find("Proxied feed"), std::string::npos) << rss.out;
  EXPECT_TRUE(s.open.WaitForAccessLog("GET " + feed)) << s.open.AccessLog();

  // --proxy is a HOST:PORT, checked before anything is sent.
  for (const char* sub : {"get", "rss", "extract", "image", "news", "ls"}) {
    ToolOutcome bad = test::RunToolArgs({sub, "--proxy", "no-port", file});
    EXPECT_EQ(bad.status, 2) << sub << ": " << bad.err;
  }
}

TEST(TransferProxy, AProxyThatWantsALogonGetsTheUserGivenOrFailsTheJob) {
  Sites s;
  test::TempDir dir;
  const std::string file = s.Url("/f.txt");

  ToolOutcome refused = test::RunToolArgs({"get", "--proxy", s.Locked(), file, "--timeout", "10"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "ktinet get: " + file + ": proxy refused: authentication required\n");

  ToolOutcome stale =
      test::RunToolArgs({"update", "--proxy", s.Locked(), file, dir / "copy.txt", "--no-window", "--timeout", "10"});
  EXPECT_EQ(stale.status, 1);
  EXPECT_NE(stale.err.find("proxy refused: authentication required"), std::string::npos) << stale.err;

  ToolOutcome feedRefused = test::RunToolArgs({"rss", "--proxy", s.Locked(), s.Url("/feed.xml"), "--timeout", "10"});
  EXPECT_EQ(feedRefused.status, 1);
  EXPECT_NE(feedRefused.err.find("proxy refused: authentication required"), std::string::npos) << feedRefused.err;

  ToolOutcome let = test::RunToolArgs(
      {"get", "--proxy", s.Locked(), "--proxy-user", "puser", "--proxy-password", "p w", file, "--timeout", "10"});
  EXPECT_EQ(let.status, 0) << let.err;
  EXPECT_EQ(let.out, "through the proxy\n");

  const std::string secret = dir / "proxy-password";
  std::ofstream(secret) << "p w\n";
  ToolOutcome updated = test::RunToolArgs({"update", "--proxy", s.Locked(), "--proxy-user", "puser",
                                           "--proxy-password-file", secret, file, dir / "copy.txt", "--no-window",
                                           "--timeout", "10"});
  EXPECT_EQ(updated.status, 0) << updated.err;
  EXPECT_EQ(test::ReadFileBytes(dir / "copy.txt"), "through the proxy\n");
}

std::string OnTerminal(const std::string& args) {
  return "sh -c " + test::ShellQuote("env -u http_proxy -u KTINET_UI -u KTINET_PROXY_PASSWORD " +
                                     test::ShellQuote(KTINET_TOOL) + " " + args + "; echo EXIT=$?; sleep 60");
}

TEST(TransferProxy, OnATerminalTheDialogAsksOnceWhenTheProxyDoes) {
  Sites s;
  const std::string file = s.Url("/f.txt");
  {
    // A proxy that does not ask: nothing is asked.
    test::Tmux t(OnTerminal("get --proxy " + s.Open() + " " + file + " --timeout 10"), 100, 30);
    const std::string screen = t.WaitFor("EXIT=");
    EXPECT_NE(screen.find("through the proxy"), std::string::npos) << screen;
    EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("logon"), std::string::npos) << screen;
  }
  test::Tmux t(OnTerminal("get --proxy " + s.Locked() + " " + file + " --timeout 10"), 100, 30);
  const std::string screen = t.AnswerLogon("Proxy logon", "puser", "p w");
  EXPECT_NE(screen.find("through the proxy"), std::string::npos) << screen;
  EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
}

}  // namespace
}  // namespace ktinet
