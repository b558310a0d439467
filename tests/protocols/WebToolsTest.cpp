// `ktinet whois`, `ktinet http`, `ktinet weather` and their demo lines, run as a user runs them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/NginxServer.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

extern char** environ;

namespace ktinet {
namespace {

using test::NginxServer;
using test::Script;
using test::ScriptedServer;

struct ToolRun {
  int exitCode = -1;
  std::string out, err;
};

// Runs the program headless with its output in files; a run that hangs is killed by the
// --timeout each command gets.
ToolRun RunTool(std::vector<std::string> args) {
  test::TempDir dir;
  std::string outPath = dir / "out", errPath = dir / "err";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  args.insert(args.begin(), KTINET_TOOL);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"KTINET_UI=headless"};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("KTINET_UI=", 0) != 0) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  ToolRun run;
  pid_t pid = -1;
  int rc = posix_spawn(&pid, KTINET_TOOL, &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << KTINET_TOOL;
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = test::ReadFileBytes(outPath);
  run.err = test::ReadFileBytes(errPath);
  return run;
}

TEST(WebTools, WhoisPrintsTheAnswerOfTheGivenServer) {
  ScriptedServer server;
  const std::string answer = "Domain Name: EXAMPLE.COM\r\nRegistrar: Fake\r\n";
  server.Add(Script().ReadUntil("\r\n\r\n").Send(answer));
  ToolRun run = RunTool({"whois", "--host", "127.0.0.1", "--port", std::to_string(server.Port()), "example.com",
                         "--timeout", "10000"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, answer);
  EXPECT_EQ(server.Received(0), "domain example.com\r\nProxy-Connection: Keep-Alive\r\n\r\n");

  server.Add(Script().ReadUntil("\r\n\r\n").Send(answer));
  run = RunTool({"whois", "b\xc3\xbc" "cher.de", "--host", "127.0.0.1", "--port", std::to_string(server.Port()),
                 "--timeout", "10000"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(server.Received(1), "domain xn--bcher-kva.de\r\nProxy-Connection: Keep-Alive\r\n\r\n");

  EXPECT_EQ(RunTool({"whois", "--no-auto-select", "example.com"}).exitCode, 2);
}

TEST(WebTools, HttpPrintsTheFileAndFailsOnErrorTexts) {
  // Bytes a line-based rewrite would damage: LF and CR line ends and no final line end.
  const std::string file = "first line\nsecond\r\nthird\rno end";
  NginxServer::Options o;
  o.files = {{"file.txt", file}};
  o.locations = "location = /old { return 302 /file.txt; }\n" + NginxServer::EchoBodyLocation("/echo");
  NginxServer nginx(o);
  const std::string base = "http://127.0.0.1:" + std::to_string(nginx.Port());

  ToolRun run = RunTool({"http", base + "/file.txt", "--timeout", "10000"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, file);

  run = RunTool({"http", base + "/nothing-here", "--timeout", "10000"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "ktinet http: File not found\n");

  run = RunTool({"http", "-L", base + "/old", "--timeout", "10000"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, file);

  run = RunTool({"http", "--include", "-X", "head", base + "/file.txt", "-H", "X-Test: 1", "--timeout", "10000"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("Content-Length: " + std::to_string(file.size()) + "\r\n"), std::string::npos);

  run = RunTool({"http", "--data", "q=ktinet", base + "/echo", "--timeout", "10000"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "q=ktinet");

  EXPECT_EQ(RunTool({"http", "https://127.0.0.1/"}).exitCode, 2);
  EXPECT_EQ(RunTool({"http", "-X", "PUT", base + "/"}).exitCode, 2);
}

TEST(WebTools, WeatherPrintsTheTemperature) {
  ScriptedServer site;
  site.Add(Script().ReadUntil("Keep-Alive\r\n\r\n").Send(
      "HTTP/1.0 200 OK\r\n\r\n<TD CLASS=obsTempTextA>58&deg;F</TD>"));
  site.Add(Script().ReadUntil("Keep-Alive\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n<html>no reading</html>"));
  const std::string port = std::to_string(site.Port());
  ToolRun run = RunTool({"weather", "--host", "127.0.0.1", "--port", port, "10001", "--timeout", "10000"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "58\n");
  EXPECT_EQ(site.Received(0).rfind("GET /weather/local/10001?lswe=10001&lswa=WeatherLocalUndeclared&GO=GO&whatprefs="
                                   "   HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", 0),
            0u);
  run = RunTool({"weather", "--host", "127.0.0.1", "--port", port, "10001", "--timeout", "10000"});
  EXPECT_EQ(run.exitCode, 1);
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
