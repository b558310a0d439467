// Small TCP servers on loopback that `ktinet demo` runs its components against. They live in the
// program, not the library: each is a handler run once per accepted connection on a thread of
// its own. A new protocol needs only a handler (see EchoAndCloseHandler).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ktinet::cli {

// One accepted connection. Reads wait at most the time-out given (so a silent client cannot
// hold the demo up); the descriptor is closed when the handler returns.
class DemoConnection {
 public:
  explicit DemoConnection(int fd) : FHandle(fd) {}
  ~DemoConnection();
  DemoConnection(const DemoConnection&) = delete;
  DemoConnection& operator=(const DemoConnection&) = delete;

  // Whatever arrives next (at most `max` bytes); empty when the client closed or nothing came in
  // time.
  std::string Receive(int timeoutMs = 5000, size_t max = 65536);
  // Reads until `terminator` has arrived and returns everything up to and including it; what
  // came after it stays for the next call. Returns what arrived (maybe nothing) when the client
  // closes or time runs out first.
  std::string ReceiveUntil(std::string_view terminator, int timeoutMs = 5000);
  // One line without its CR LF (or LF).
  std::string ReceiveLine(int timeoutMs = 5000);
  // Writes all of `bytes`; false when the client has gone.
  bool Send(std::string_view bytes);
  // Ends the sending direction: the client reads the end of the answer.
  void ShutdownSend();
  int Handle() const { return FHandle; }

 private:
  int FHandle;
  std::string FPending;
};

using DemoHandler = std::function<void(DemoConnection&)>;

class DemoServer {
 public:
  // Listens on 127.0.0.1 on a port the system picks and starts accepting at once.
  explicit DemoServer(DemoHandler handler);
  // Stops accepting, waits for the connections under way and closes everything.
  ~DemoServer();
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  int Port() const { return FPort; }
  static const char* Host() { return "127.0.0.1"; }
  int Accepted() const { return FAccepted.load(); }
  void Stop();

 private:
  void AcceptLoop();

  DemoHandler FHandler;
  int FListen = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FAccepted{0};
  std::thread FAcceptThread;
  std::mutex FLock;
  std::vector<std::thread> FWorkers;
};

// Reads the query up to the empty line that ends its header block, sends back exactly what it
// read and closes.
DemoHandler EchoAndCloseHandler();

}  // namespace ktinet::cli
