// `ktinet daytime`, `ktinet sntp`, `ktinet dns` and their demo lines, run as a user runs them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "rtl/DateTime.h"
#include "support/ChronyServer.h"
#include "support/DnsmasqServer.h"
#include "support/Net.h"
#include "support/RunTool.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"


namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

using ToolRun = test::ToolOutcome;

ToolRun Tool(const std::vector<std::string>& args) { return test::RunToolArgs(args); }

TEST(TimeTool, DaytimePrintsTheDateTheServerSent) {
  ScriptedServer server;
  server.Add(Script().Send("\n59189 20-12-06 13:34:51 00 0 0  50.0 UTC(NIST) * \n"));
  server.Add(Script().Close());
  const std::string port = std::to_string(server.Port());
  ToolRun run = Tool({"daytime", "--host", "127.0.0.1", "--port", port, "--timeout", "5"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "2020-12-06 13:34:51\n");
  // A server that sends nothing has told no time, whatever the parse makes of it.
  run = Tool({"daytime", "--host", "127.0.0.1", "--port", port, "--timeout", "5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("no date"), std::string::npos) << run.err;
}

TEST(TimeTool, SntpAgainstARealServerShowsASmallOffset) {
  test::ChronyServer chrony;
  ToolRun run = Tool({"sntp", "--host", "127.0.0.1", "--port", std::to_string(chrony.Port()), "--timeout", "3"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto at = run.out.find("offset ");
  ASSERT_NE(at, std::string::npos) << run.out;
  EXPECT_LT(std::fabs(std::atof(run.out.c_str() + at + 7)), 1.0) << run.out;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, ms = 0;
  ASSERT_EQ(std::sscanf(run.out.c_str(), "%d-%d-%d %d:%d:%d.%d", &y, &mo, &d, &h, &mi, &sec, &ms), 7) << run.out;
  TDateTime printed = EncodeDateTime(static_cast<Word>(y), static_cast<Word>(mo), static_cast<Word>(d),
                                     static_cast<Word>(h), static_cast<Word>(mi), static_cast<Word>(sec),
                                     static_cast<Word>(ms));
  EXPECT_NEAR(printed, Now(), 2.0 / 86400) << run.out;

  run = Tool({"sntp", "--host", "127.0.0.1", "--port", std::to_string(test::FreePort(true)), "--timeout", "0.5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("ktinet sntp: "), std::string::npos);
}

TEST(DnsTool, PrintsTheRecordsOfARealServerPromptly) {
  test::DnsmasqServer server;
  const std::string port = std::to_string(server.Port());
  auto start = std::chrono::steady_clock::now();
  ToolRun run = Tool({"dns", "example.test", "--server", "127.0.0.1", "--port", port, "--type", "A,MX"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("example.test.\t300\tIN\tA\t192.0.2.10\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("example.test.\t300\tIN\tMX\t10 mail.example.test.\n"), std::string::npos) << run.out;

  run = Tool({"dns", "--json", "192.0.2.10", "-t", "ptr", "--server", "127.0.0.1", "--port", port});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"type\": \"PTR\", \"data\": \"host.example.test.\""), std::string::npos) << run.out;

  run = Tool({"dns", "example.test", "--raw", "--server", "127.0.0.1", "--port", port});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("0000  00 2e 12 00 85 80 00 01 00 01", 0), 0u) << run.out;

  // A type dnsmasq refuses to answer for this name is a failed job.
  run = Tool({"dns", "example.test", "--type", "HINFO", "--server", "127.0.0.1", "--port", port});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.err.find("REFUSED for HINFO"), std::string::npos) << run.err;

  EXPECT_EQ(Tool({"dns", "example.test", "--type", "BOGUS", "--server", "127.0.0.1"}).status, 2);
  EXPECT_EQ(Tool({"dns", "example.test"}).status, 2);
}

TEST(TimeTool, DemoShowsTheTimeClientsAndTheResolver) {
  ToolRun run = Tool({"demo"});
  for (const char* name : {"TKtInetDateTime", "TKtInetSNTP", "TKtIDNSResolver"})
    EXPECT_NE(run.out.find(std::string("[ ok ] ") + name + ":"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace ktinet
