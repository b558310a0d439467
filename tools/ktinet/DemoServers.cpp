#include "DemoServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ktinet::cli {

DemoConnection::~DemoConnection() {
  if (FHandle >= 0) ::close(FHandle);
}

std::string DemoConnection::Receive(int timeoutMs, size_t max) {
  if (!FPending.empty()) {
    std::string out = FPending.substr(0, max);
    FPending.erase(0, out.size());
    return out;
  }
  pollfd p{FHandle, POLLIN, 0};
  int r;
  do r = ::poll(&p, 1, timeoutMs);
  while (r < 0 && errno == EINTR);
  if (r <= 0) return {};
  std::string buf(max, '\0');
  ssize_t n;
  do n = ::recv(FHandle, buf.data(), buf.size(), 0);
  while (n < 0 && errno == EINTR);
  if (n <= 0) return {};
  buf.resize(static_cast<size_t>(n));
  return buf;
}

std::string DemoConnection::ReceiveUntil(std::string_view terminator, int timeoutMs) {
  std::string got = std::move(FPending);
  FPending.clear();
  for (;;) {
    auto at = got.find(terminator);
    if (at != std::string::npos) {
      FPending = got.substr(at + terminator.size());
      got.resize(at + terminator.size());
      return got;
    }
    std::string more = Receive(timeoutMs);
    if (more.empty()) return got;
    got += more;
  }
}

std::string DemoConnection::ReceiveLine(int timeoutMs) {
  std::string line = ReceiveUntil("\n", timeoutMs);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool DemoConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(FHandle, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void DemoConnection::ShutdownSend() { ::shutdown(FHandle, SHUT_WR); }

DemoServer::DemoServer(DemoHandler handler) : FHandler(std::move(handler)) {
  FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FListen < 0) throw std::runtime_error(std::string("demo server: socket: ") + std::strerror(errno));
  int one = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || ::listen(FListen, 16) < 0 ||
      ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len) < 0) {
    int e = errno;
    ::close(FListen);
    throw std::runtime_error(std::string("demo server: cannot listen on loopback: ") + std::strerror(e));
  }
  FPort = ntohs(addr.sin_port);
  FAcceptThread = std::thread([this] { AcceptLoop(); });
}

DemoServer::~DemoServer() { Stop(); }

void DemoServer::Stop() {
  if (FStop.exchange(true)) return;
  if (FAcceptThread.joinable()) FAcceptThread.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(FLock);
    workers.swap(FWorkers);
  }
  for (auto& t : workers) t.join();
  ::close(FListen);
  FListen = -1;
}

void DemoServer::AcceptLoop() {
  while (!FStop.load()) {
    // A short poll lets Stop end the loop without closing the descriptor under a blocked accept.
    pollfd p{FListen, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++FAccepted;
    std::lock_guard<std::mutex> lock(FLock);
    FWorkers.emplace_back([this, fd] {
      DemoConnection conn(fd);
      try {
        FHandler(conn);
      } catch (...) {
        // A handler's failure shows in the component's result; the server itself goes on.
      }
    });
  }
}

DemoHandler EchoAndCloseHandler() {
  return [](DemoConnection& conn) { conn.Send(conn.ReceiveUntil("\r\n\r\n")); };
}

}  // namespace ktinet::cli
