#include "support/Net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

namespace ktinet::test {

int FreePort(bool udp) {
  int fd = ::socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("FreePort: socket: ") + std::strerror(errno));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    int e = errno;
    ::close(fd);
    throw std::runtime_error(std::string("FreePort: bind: ") + std::strerror(e));
  }
  ::close(fd);
  return ntohs(a.sin_port);
}

bool PortAccepts(int port, int timeoutMs, const char* host) {
  sockaddr_storage ss{};
  socklen_t len;
  auto* a4 = reinterpret_cast<sockaddr_in*>(&ss);
  auto* a6 = reinterpret_cast<sockaddr_in6*>(&ss);
  if (::inet_pton(AF_INET, host, &a4->sin_addr) == 1) {
    a4->sin_family = AF_INET;
    a4->sin_port = htons(static_cast<uint16_t>(port));
    len = sizeof *a4;
  } else if (::inet_pton(AF_INET6, host, &a6->sin6_addr) == 1) {
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(static_cast<uint16_t>(port));
    len = sizeof *a6;
  } else {
    throw std::runtime_error(std::string("PortAccepts: not a numeric address: ") + host);
  }
  int fd = ::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&ss), len) == 0) {
    ok = true;
  } else if (errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, timeoutMs) == 1) {
      int err = 0;
      socklen_t el = sizeof err;
      ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el) == 0 && err == 0;
    }
  }
  ::close(fd);
  return ok;
}

bool WaitForPort(int port, int timeoutMs, const char* host) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (PortAccepts(port, 200, host)) return true;
    if (Clock::now() >= deadline) return false;
    // A refused connect returns at once; pause briefly so the server gets the processor.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace ktinet::test

namespace ktinet::test {

std::string PeerProgram(const std::string& name) {
  for (std::string dir : {std::string(KTINET_SOURCE_DIR) + "/.cache/peers/root/usr/sbin/", std::string("/usr/sbin/")}) {
    if (::access((dir + name).c_str(), X_OK) == 0) return dir + name;
  }
  return name;
}

}  // namespace ktinet::test
