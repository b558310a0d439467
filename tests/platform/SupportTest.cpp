// The test fixtures themselves: where they have logic of their own that other tests rely on.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/Net.h"
#include "support/ScriptedServer.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace ktinet::test {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// A plain blocking client, independent of the socket code under test.
int Dial(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  timeval tv{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}
void Put(int fd, const std::string& s) { ASSERT_EQ(send(fd, s.data(), s.size(), MSG_NOSIGNAL), (ssize_t)s.size()); }
std::string DrainToClose(int fd) {
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = recv(fd, buf, sizeof buf, 0)) > 0) all.append(buf, static_cast<size_t>(n));
  return all;
}

bool ProcessGone(pid_t pid) {
  if (kill(pid, 0) != 0) return true;
  // An orphan that has died but waits for its reaper counts as gone.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  auto close = line.rfind(')');
  return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

TEST(ScriptedServer, PlaysStepsOverSplitInputAndRecordsEverything) {
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n").Send("A").ExpectBytes(3).Send("B").ReadUntil("END").Send("C"));
  server.SetDefault(Script().Send("default"));

  int fd = Dial(server.Port());
  // The delimiter arrives split across writes, and more than one step's worth comes at once.
  Put(fd, "hello\r");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Put(fd, "\n123E");
  char c;
  ASSERT_EQ(recv(fd, &c, 1, 0), 1);
  EXPECT_EQ(c, 'A');
  ASSERT_EQ(recv(fd, &c, 1, 0), 1);
  EXPECT_EQ(c, 'B');
  Put(fd, "ND");
  EXPECT_EQ(DrainToClose(fd), "C");
  close(fd);

  // Connections beyond the queue get the default script.
  fd = Dial(server.Port());
  EXPECT_EQ(DrainToClose(fd), "default");
  close(fd);

  ASSERT_TRUE(server.WaitDone(2));
  EXPECT_EQ(server.ConnectionCount(), 2u);
  EXPECT_EQ(server.Received(0), "hello\r\n123END");
  EXPECT_EQ(server.Received(1), "");
  EXPECT_EQ(server.Received(7), "");
  EXPECT_TRUE(server.Errors().empty());
}

TEST(ScriptedServer, ReportsUnmetStepsAndStopsPromptlyWhileStalled) {
  ScriptedServer::Options o;
  o.stepTimeoutMs = 300;
  ScriptedServer server(o);
  server.Add(Script().ExpectBytes(10).Send("never"));
  server.Add(Script().ReadUntil("\n"));
  server.Add(Script().Stall(60000));

  int fd = Dial(server.Port());
  Put(fd, "abc");
  shutdown(fd, SHUT_WR);
  EXPECT_EQ(DrainToClose(fd), "");  // the step failed, so nothing was sent
  close(fd);

  fd = Dial(server.Port());
  auto start = Clock::now();
  EXPECT_EQ(DrainToClose(fd), "");
  EXPECT_LT(MsSince(start), 5000);
  close(fd);

  ASSERT_TRUE(server.WaitDone(2));
  auto errors = server.Errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[0].find("connection 0: ExpectBytes: peer closed after 3 bytes"), std::string::npos) << errors[0];
  EXPECT_NE(errors[1].find("connection 1: ReadUntil: timed out"), std::string::npos) << errors[1];

  fd = Dial(server.Port());
  Put(fd, "x");
  start = Clock::now();
  while (server.ConnectionCount() < 3 && MsSince(start) < 5000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(server.ConnectionCount(), 3u);
  start = Clock::now();
  server.Stop();
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_EQ(DrainToClose(fd), "");
  close(fd);
  EXPECT_FALSE(PortAccepts(server.Port(), 200));
}

TEST(Net, FreePortIsBindableAndWaitForPortIsBounded) {
  for (bool udp : {false, true}) {
    int port = FreePort(udp);
    ASSERT_GT(port, 0);
    int fd = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << port;
    close(fd);
  }
  auto start = Clock::now();
  EXPECT_FALSE(WaitForPort(FreePort(), 300));
  EXPECT_GE(MsSince(start), 250);
  EXPECT_LT(MsSince(start), 3000);

  ScriptedServer::Options o;
  o.family = ScriptedServer::kBoth;
  ScriptedServer both(o);
  EXPECT_TRUE(WaitForPort(both.Port(), 1000, "127.0.0.1"));
  EXPECT_TRUE(WaitForPort(both.Port(), 1000, "::1"));
}

TEST(ServerProcess, StartsWaitsAndStopsTheWholeGroup) {
  TempDir dir;
  const int port = FreePort();
  const std::string pidFile = dir / "child.pid";
  // The server leaves a grandchild behind, which Stop must end with it.
  ServerProcess::Options o;
  o.argv = {"/bin/sh", "-c",
            "sleep 300 & echo $! > '" + pidFile + "'; echo \"serving $GREETING\"; "
            "exec /usr/bin/python3 -c 'import socket,time\n"
            "s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
            "s.bind((\"127.0.0.1\"," + std::to_string(port) + ")); s.listen()\n"
            "while True: c,_=s.accept(); c.sendall(b\"up\"); c.close()'"};
  o.env = {{"GREETING", "from the fixture"}};
  o.port = port;
  pid_t pid, grandchild;
  {
    ServerProcess server(o);
    pid = server.Pid();
    EXPECT_TRUE(server.Running());
    int fd = Dial(port);
    EXPECT_EQ(DrainToClose(fd), "up");
    close(fd);
    std::ifstream in(pidFile);
    in >> grandchild;
    ASSERT_GT(grandchild, 0);
    EXPECT_FALSE(ProcessGone(grandchild));
    EXPECT_NE(server.LogTail().find("serving from the fixture"), std::string::npos) << server.LogTail();
    auto start = Clock::now();
    server.Stop();
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_FALSE(server.Running());
    EXPECT_TRUE(WIFSIGNALED(server.WaitStatus()));
  }
  EXPECT_TRUE(ProcessGone(pid));
  auto start = Clock::now();
  while (!ProcessGone(grandchild) && MsSince(start) < 3000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(ProcessGone(grandchild));
  EXPECT_FALSE(PortAccepts(port, 200));
}

TEST(ServerProcess, FailuresSayWhyWithTheLogTail) {
  auto message = [](ServerProcess::Options o) -> std::string {
    try {
      ServerProcess p(std::move(o));
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "no exception";
  };
  ServerProcess::Options dies;
  dies.argv = {"/bin/sh", "-c", "echo 'bad config line 3' >&2; exit 3"};
  dies.port = FreePort();
  std::string m = message(dies);
  EXPECT_NE(m.find("exited with status 3"), std::string::npos) << m;
  EXPECT_NE(m.find("bad config line 3"), std::string::npos) << m;

  ServerProcess::Options slow;
  slow.argv = {"sleep", "30"};
  slow.port = FreePort();
  slow.readyTimeoutMs = 300;
  auto start = Clock::now();
  m = message(slow);
  EXPECT_NE(m.find("was not ready within 300 ms"), std::string::npos) << m;
  EXPECT_LT(MsSince(start), 5000);

  ServerProcess::Options missing;
  missing.argv = {"ktinet-no-such-program"};
  m = message(missing);
  EXPECT_NE(m.find("cannot start ktinet-no-such-program"), std::string::npos) << m;
}

TEST(ServerProcess, ReadyFileWorkingDirectoryAndProbe) {
  TempDir work;
  ServerProcess::Options o;
  o.argv = {"/bin/sh", "-c", "sleep 0.2; pwd > ready.tmp; mv ready.tmp ready; exec sleep 300"};
  o.workDir = work.Path();
  o.readyFile = work / "ready";
  {
    ServerProcess p(o);
    std::string pwd = ReadFileBytes(work / "ready");
    char real[4096];
    ASSERT_NE(realpath(work.Path().c_str(), real), nullptr);
    EXPECT_EQ(pwd, std::string(real) + "\n");
  }

  int calls = 0;
  ServerProcess::Options probed;
  probed.argv = {"sleep", "300"};
  probed.probe = [&] { return ++calls == 3; };
  ServerProcess p(probed);
  EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace ktinet::test
