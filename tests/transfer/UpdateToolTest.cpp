// `ktinet update` and `ktinet get` as a user runs them: outcomes, exit codes, the file on disk,
// and once for real on a terminal (tmux) with the live status panel and its Cancel key.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "TransferSupport.h"
#include "support/FtpServer.h"
#include "support/NginxServer.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/Tmux.h"

namespace ktinet::test {
namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct ToolRun {
  int code = -1;
  std::string out;
};

// Runs the program headless (no terminal, no proxy from the environment) and collects stdout.
ToolRun Tool(const std::string& args) {
  std::string cmd = "env -u http_proxy -u HTTP_PROXY -u https_proxy -u HTTPS_PROXY -u ftp_proxy -u FTP_PROXY "
                    "KTINET_UI=headless " +
                    Quote(KTINET_TOOL) + " " + args + " 2>&1 </dev/null";
  ToolRun r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
  int status = ::pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// A shell command line of its own (headless, no proxy), its output and exit code.
ToolRun Shell(const std::string& command) {
  std::string cmd = "env -u http_proxy -u HTTP_PROXY -u https_proxy -u HTTPS_PROXY KTINET_UI=headless sh -c " +
                    Quote(command) + " </dev/null";
  ToolRun r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
  int status = ::pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(UpdateTool, DownloadsThenSkipsAndLeavesALocalFileAloneOn404) {
  const std::string content = PatternBytes(70000, 21);
  NginxServer::Options o;
  o.files = {{"f.bin", content}};
  NginxServer nginx(o);
  SetMTime(nginx.Root() + "/f.bin", FileTimeOfUnix(1764583200));
  TempDir dir;
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port());
  const std::string local = dir / "f.bin";

  ToolRun r = Tool("update " + url + "/f.bin " + Quote(local));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out, "finished\n");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local), content));
  EXPECT_EQ(MTime(local), FileTimeOfUnix(1764583200));

  r = Tool("update --no-window " + url + "/f.bin " + Quote(local));  // options anywhere
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out, "skipped\n");

  // A missing remote file fails the job; the local file stays as it was.
  r = Tool("update " + url + "/missing.bin " + Quote(local));
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_EQ(r.out.rfind("not found\n", 0), 0u) << r.out;
  EXPECT_TRUE(SameBytes(ReadFileBytes(local), content));

  // A file-system path is a source too.
  r = Tool("update " + Quote(nginx.Root() + "/f.bin") + " " + Quote(dir / "copy.bin"));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir / "copy.bin"), content));

  r = Tool("get " + url + "/f.bin");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(SameBytes(r.out, content));

  // Nobody listens: failed, exit 1, a reason on stderr.
  r = Tool("update http://127.0.0.1:1/f.bin " + Quote(local));
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_EQ(r.out.rfind("failed\n", 0), 0u) << r.out;
  // The cause, not the state of a handle asked afterwards.
  EXPECT_NE(r.out.find("could not be established"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("wrong state"), std::string::npos) << r.out;
  EXPECT_TRUE(SameBytes(ReadFileBytes(local), content));

  r = Tool("update gopher://127.0.0.1/x " + Quote(local));
  EXPECT_EQ(r.code, 2) << r.out;
  r = Tool("update " + url + "/f.bin");
  EXPECT_EQ(r.code, 2) << r.out;
}

TEST(UpdateTool, HttpsNeedsItsAuthorityAndFtpWorksTheSame) {
  const std::string content = PatternBytes(30000, 22);
  NginxServer::Options o;
  o.https = true;
  o.files = {{"f.bin", content}};
  NginxServer nginx(o);
  TempDir dir;
  const std::string url = "https://127.0.0.1:" + std::to_string(nginx.Port()) + "/f.bin";
  ToolRun r = Tool("update " + url + " " + Quote(dir / "f.bin"));
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_EQ(r.out.rfind("failed\n", 0), 0u) << r.out;
  EXPECT_FALSE(FileExists(U16(dir / "f.bin")));
  r = Tool("update --cacert " + Quote(NginxServer::CAFile()) + " " + url + " " + Quote(dir / "f.bin"));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out, "finished\n");
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir / "f.bin"), content));

  FtpServer ftp({});
  ftp.Write("pub/f.bin", content, 1764583200);
  const std::string ftpUrl = "ftp://127.0.0.1:" + std::to_string(ftp.Port()) + "/pub/f.bin";
  const std::string creds = " --user " + ftp.User() + " --password " + ftp.Password();
  r = Tool("update " + ftpUrl + " " + Quote(dir / "g.bin") + creds);
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out, "finished\n");
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir / "g.bin"), content));
  EXPECT_EQ(MTime(dir / "g.bin"), FileTimeOfUnix(1764583200));
  r = Tool("update " + ftpUrl + " " + Quote(dir / "g.bin") + creds);
  EXPECT_EQ(r.out, "skipped\n");
  // The server's own words when it refuses.
  r = Tool("update " + ftpUrl + " " + Quote(dir / "g.bin") + " --user " + ftp.User() + " --password wrong");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_EQ(r.out.find("extended information"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("530"), std::string::npos) << r.out;
  r = Tool("update ftp://127.0.0.1:" + std::to_string(ftp.Port()) + "/pub/none.bin " + Quote(dir / "g.bin") + creds);
  EXPECT_EQ(r.out.rfind("not found\n", 0), 0u) << r.out;
  EXPECT_EQ(r.code, 1);
}

TEST(GetTool, ACutAnswerFailsAndAFileNamedStaysWhole) {
  TempDir dir;
  const std::string out = dir.Write("out.bin", "previous");
  ScriptedServer server;
  const std::string whole = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n0123456789";
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789"));
  server.Add(Script().ReadUntil("\r\n\r\n").Send(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n0123456789"));  // a chunk cut short
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789").Reset());
  server.Add(Script().ReadUntil("\r\n\r\n").Send(whole));
  server.Add(Script().ReadUntil("\r\n\r\n").Send(whole));
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/f.bin";

  ToolRun r = Tool("get " + url);
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("terminated abnormally"), std::string::npos) << r.out;
  r = Tool("get " + url);
  EXPECT_EQ(r.code, 1) << r.out;
  r = Tool("get -o " + Quote(out) + " " + url);
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_EQ(ReadFileBytes(out), "previous");
  EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string>{"out.bin"});
  r = Tool("get -o " + Quote(out) + " " + url);
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(ReadFileBytes(out), "0123456789");
  EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string>{"out.bin"});

  // A full disk names the file and says why.
  r = Shell(Quote(KTINET_TOOL) + " get " + url + " 2>&1 >/dev/full");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("standard output: No space left on device"), std::string::npos) << r.out;
}

TEST(UpdateTool, AFullDiskAndAnInterruptedRunLeaveNothingBehind) {
  const std::string content = PatternBytes(70000, 23);
  NginxServer::Options o;
  o.files = {{"f.bin", content}};
  NginxServer nginx(o);
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/f.bin";
  ToolRun r = Tool("update --resume " + url + " /dev/full");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("/dev/full: No space left on device"), std::string::npos) << r.out;

  // SIGTERM while the body trickles in: the temporary file goes with the program.
  TempDir dir;
  const std::string local = dir.Write("f.bin", "previous");
  ScriptedServer::Options so;
  so.stepTimeoutMs = 30000;
  ScriptedServer server(so);
  Script slow;
  slow.ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Length: 2000000\r\n\r\n");
  for (int i = 0; i < 100; ++i) slow.Send(PatternBytes(4100, i)).Stall(100);
  server.Add(slow);
  const std::string slowUrl = "http://127.0.0.1:" + std::to_string(server.Port()) + "/f.bin";
  r = Shell(Quote(KTINET_TOOL) + " update --no-window " + slowUrl + " " + Quote(local) +
            " >/dev/null 2>&1 & pid=$!; sleep 1.5; kill -TERM $pid; wait $pid; echo $?");
  EXPECT_EQ(r.out, "143\n");  // ended by SIGTERM
  EXPECT_EQ(ReadFileBytes(local), "previous");
  EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string>{"f.bin"});
}

TEST(LsTool, FoldersAreMarkedAndTheLongFormGivesTypeSizeAndTime) {
  TempDir dir;
  dir.Write("a.txt", "abc");
  dir.Write("sub/b.txt", "b");
  SetMTime(dir / "a.txt", FileTimeOfUnix(1764583200));
  ToolRun r = Tool("ls " + Quote(dir.Path() + "/"));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out.find("//"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(dir.Path() + "/a.txt\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(dir.Path() + "/sub/\n"), std::string::npos) << r.out;
  r = Tool("ls --long " + Quote(dir.Path()));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("-            3 2025-12-01T10:00:00Z " + dir.Path() + "/a.txt\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("d            - "), std::string::npos) << r.out;
}

// ---- the live panel on a real terminal ------------------------------------------------------

TEST(UpdateToolOnATerminal, ThePanelShowsProgressAndCKeyCancels) {
  ASSERT_EQ(system("command -v tmux >/dev/null 2>&1"), 0) << "tmux is needed for this test";
  TempDir dir;
  const std::string local = dir.Write("f.bin", "the previous version");
  // A body that trickles in: a block every 100 ms, so the panel is live long enough to cancel.
  ScriptedServer::Options so;
  so.stepTimeoutMs = 30000;
  ScriptedServer server(so);
  Script slow;
  slow.ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Length: 2000000\r\n\r\n");
  for (int i = 0; i < 300; ++i) slow.Send(PatternBytes(4100, i)).Stall(100);
  server.Add(slow);

  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/f.bin";
  Tmux t("sh -c " + Quote("env -u http_proxy -u HTTP_PROXY -u KTINET_UI " + Quote(KTINET_TOOL) + " update " + url +
                          " " + Quote(local) + "; echo EXIT=$?; sleep 60"), 100, 40);
  std::string screen = t.WaitFor("of 2000000 bytes");
  EXPECT_NE(screen.find("Step 3: Download"), std::string::npos) << screen;
  EXPECT_NE(screen.find("ktinet update"), std::string::npos) << screen;
  EXPECT_NE(screen.find("127.0.0.1/f.bin"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("127.0.0.1//f.bin"), std::string::npos) << screen;
  t.Keys("c");
  screen = t.WaitFor("EXIT=");
  EXPECT_NE(screen.find("cancelled"), std::string::npos) << screen;
  EXPECT_NE(screen.find("EXIT=1"), std::string::npos) << screen;
  EXPECT_EQ(ReadFileBytes(local), "the previous version");
  EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string>{"f.bin"});
}

}  // namespace
}  // namespace ktinet::test
