// `ktinet whois`, `ktinet http`, `ktinet weather` and their demo lines, run as a user runs them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/NginxServer.h"
#include "support/RunTool.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"


namespace ktinet {
namespace {

using test::NginxServer;
using test::Script;
using test::ScriptedServer;

using ToolRun = test::ToolOutcome;

ToolRun RunTool(const std::vector<std::string>& args) { return test::RunToolArgs(args); }

TEST(WebTools, WhoisPrintsTheAnswerOfTheGivenServer) {
  ScriptedServer server;
  const std::string answer = "Domain Name: EXAMPLE.COM\r\nRegistrar: Fake\r\n";
  server.Add(Script().ReadUntil("\r\n\r\n").Send(answer));
  ToolRun run = RunTool({"whois", "--host", "127.0.0.1", "--port", std::to_string(server.Port()), "example.com",
                         "--timeout", "10"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, answer);
  EXPECT_EQ(server.Received(0), "domain example.com\r\nProxy-Connection: Keep-Alive\r\n\r\n");

  server.Add(Script().ReadUntil("\r\n\r\n").Send(answer));
  run = RunTool({"whois", "b\xc3\xbc" "cher.de", "--host", "127.0.0.1", "--port", std::to_string(server.Port()),
                 "--timeout", "10"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(server.Received(1), "domain xn--bcher-kva.de\r\nProxy-Connection: Keep-Alive\r\n\r\n");

  EXPECT_EQ(RunTool({"whois", "--no-auto-select", "example.com"}).status, 2);
}

TEST(WebTools, HttpPrintsTheFileAndFailsOnErrorTexts) {
  // Bytes a line-based rewrite would damage: LF and CR line ends and no final line end.
  const std::string file = "first line\nsecond\r\nthird\rno end";
  NginxServer::Options o;
  o.files = {{"file.txt", file}};
  o.locations = "location = /old { return 302 /file.txt; }\n" + NginxServer::EchoBodyLocation("/echo");
  NginxServer nginx(o);
  const std::string base = "http://127.0.0.1:" + std::to_string(nginx.Port());

  ToolRun run = RunTool({"http", base + "/file.txt", "--timeout", "10"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, file);

  run = RunTool({"http", base + "/nothing-here", "--timeout", "10"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "ktinet http: File not found\n");

  run = RunTool({"http", "-L", base + "/old", "--timeout", "10"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, file);

  run = RunTool({"http", "--include", "-X", "head", base + "/file.txt", "-H", "X-Test: 1", "--timeout", "10"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("Content-Length: " + std::to_string(file.size()) + "\r\n"), std::string::npos);

  run = RunTool({"http", "--data", "q=ktinet", base + "/echo", "--timeout", "10"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "q=ktinet");

  EXPECT_EQ(RunTool({"http", "https://127.0.0.1/"}).status, 2);
  EXPECT_EQ(RunTool({"http", "-X", "PUT", base + "/"}).status, 2);
}

TEST(WebTools, WeatherPrintsTheTemperature) {
  ScriptedServer site;
  site.Add(Script().ReadUntil("Keep-Alive\r\n\r\n").Send(
      "HTTP/1.0 200 OK\r\n\r\n<TD CLASS=obsTempTextA>58&deg;F</TD>"));
  site.Add(Script().ReadUntil("Keep-Alive\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n<html>no reading</html>"));
  const std::string port = std::to_string(site.Port());
  ToolRun run = RunTool({"weather", "--host", "127.0.0.1", "--port", port, "10001", "--timeout", "10"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "58\n");
  EXPECT_EQ(site.Received(0).rfind("GET /weather/local/10001?lswe=10001&lswa=WeatherLocalUndeclared&GO=GO&whatprefs="
                                   "   HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", 0),
            0u);
  run = RunTool({"weather", "--host", "127.0.0.1", "--port", port, "10001", "--timeout", "10"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("no temperature"), std::string::npos);
}

TEST(WebTools, DemoShowsTheThreeComponents) {
  ToolRun run = RunTool({"demo"});
  for (const char* name : {"TKtWhoIs", "TKtIHTTPClient", "TKtWeatherInfo"})
    EXPECT_NE(run.out.find(std::string("[ ok ] ") + name + ":"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace ktinet
