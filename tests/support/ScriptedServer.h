// A scripted TCP server on loopback for socket tests. It listens on a free port (127.0.0.1, ::1 or
// both), serves connections one after another on its own thread, and plays one script per
// connection: send these bytes, wait for so many bytes or a delimiter, stall, close early.
// Everything each connection sent is recorded. Every wait is bounded, and Stop() (or the
// destructor) ends the server promptly even while a client is stalled.
//
//   ScriptedServer server;
//   server.Add(Script().ReadUntil("\r\n").Send("hello\r\n"));   // then closes
//   ... connect to 127.0.0.1:server.Port() ...
//   ASSERT_TRUE(server.WaitDone(1));
//   EXPECT_EQ(server.Received(0), "query\r\n");
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ktinet::test {

// The steps one connection plays, in order. When the steps run out the server closes the
// connection.
class Script {
 public:
  Script& Send(std::string bytes);
  // Sends pattern repeated (the last copy cut short) until totalBytes have gone, made on the fly.
  Script& SendRepeated(std::string pattern, size_t totalBytes);
  // Waits for n more bytes from the client.
  Script& ExpectBytes(size_t n);
  // Waits until the client's bytes not yet consumed contain delimiter; consumes through it.
  Script& ReadUntil(std::string delimiter);
  // Reads until the client closes its side.
  Script& ReadUntilClose();
  // Closes the connection now; later steps are skipped.
  Script& Close();
  // Closes with a reset (RST) instead of an orderly close: the client sees ECONNRESET.
  Script& Reset();
  // Does nothing for ms milliseconds: sends nothing, reads nothing, keeps the connection open.
  // Ends early when the client hangs up.
  Script& Stall(int ms);

  struct Step {
    enum Kind { kSend, kSendRepeated, kExpect, kReadUntil, kReadUntilClose, kClose, kReset, kStall } kind;
    std::string bytes;
    size_t count = 0;
    int ms = 0;
  };
  const std::vector<Step>& Steps() const { return FSteps; }

 private:
  std::vector<Step> FSteps;
};

class ScriptedServer {
 public:
  enum Family { kIPv4, kIPv6, kBoth };
  struct Options {
    Family family = kIPv4;
    int stepTimeoutMs = 10000;  // longest wait of one reading step
    // The IPv4 loopback address to listen on (any of 127.0.0.0/8), and a fixed port (0 picks a
    // free one): several servers on one port at different addresses stand for different hosts.
    std::string address4 = "127.0.0.1";
    int port = 0;
  };

  ScriptedServer();
  explicit ScriptedServer(Options options);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return FPort; }
  // Queues the script of the next connection that has none yet.
  void Add(Script script);
  // The script of connections beyond the queued ones; by default they are closed at once.
  void SetDefault(Script script);

  // Connections accepted so far.
  size_t ConnectionCount() const;
  // Connections whose script has ended.
  size_t DoneCount() const;
  // Waits until `count` connections have ended their scripts; false on time-out.
  bool WaitDone(size_t count, int timeoutMs = 10000) const;
  // Every byte received on connection index (0-based; empty when there is no such connection).
  std::string Received(size_t index) const;
  // Steps that did not run as scripted ("connection 0: ReadUntil: peer closed after 3 bytes").
  std::vector<std::string> Errors() const;

  // Stops listening, ends the current connection and joins the thread. Idempotent.
  void Stop();

 private:
  struct Connection;
  void Run();
  void Serve(int fd, size_t index, const Script& script);
  void AddError(const std::string& e);

  Options FOptions;
  int FPort = 0;
  std::vector<int> FListeners;
  int FWake[2] = {-1, -1};
  std::thread FThread;

  mutable std::mutex FMutex;
  mutable std::condition_variable FChanged;
  std::deque<Script> FQueue;
  Script FDefault;
  std::vector<std::string> FReceived;
  std::vector<std::string> FErrors;
  size_t FDone = 0;
  bool FStopping = false;
};

}  // namespace ktinet::test
