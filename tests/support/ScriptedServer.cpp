#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace ktinet::test {

namespace {
using Clock = std::chrono::steady_clock;

// How long a closing connection waits for the client to finish sending before the descriptor is
// closed: closing with unread input would reset the connection and could destroy the answer.
constexpr int kLingerIdleMs = 500;

enum WaitResult { kReady, kTimedOut, kStopped, kFailed };

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for `events` on fd (or only for the stop signal when fd < 0) until deadline.
WaitResult WaitFor(int fd, short events, int wakeFd, Clock::time_point deadline) {
  for (;;) {
    pollfd p[2] = {{wakeFd, POLLIN, 0}, {fd, events, 0}};
    int r = ::poll(p, fd >= 0 ? 2 : 1, MsLeft(deadline));
    if (r < 0) {
      if (errno == EINTR) continue;
      return kFailed;
    }
    if (p[0].revents) return kStopped;
    if (r == 0) return kTimedOut;
    return kReady;
  }
}

std::string Printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c < 32 || c > 126) out += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
    else out += static_cast<char>(c);
  }
  return out;
}
}  // namespace

// ---- Script ------------------------------------------------------------------------------------

Script& Script::Send(std::string bytes) {
  FSteps.push_back({Step::kSend, std::move(bytes)});
  return *this;
}
Script& Script::SendRepeated(std::string pattern, size_t totalBytes) {
  if (pattern.empty() && totalBytes > 0) throw std::invalid_argument("SendRepeated: empty pattern");
  FSteps.push_back({Step::kSendRepeated, std::move(pattern), totalBytes});
  return *this;
}
Script& Script::ExpectBytes(size_t n) {
  FSteps.push_back({Step::kExpect, {}, n});
  return *this;
}
Script& Script::ReadUntil(std::string delimiter) {
  FSteps.push_back({Step::kReadUntil, std::move(delimiter)});
  return *this;
}
Script& Script::ReadUntilClose() {
  FSteps.push_back({Step::kReadUntilClose, {}});
  return *this;
}
Script& Script::Close() {
  FSteps.push_back({Step::kClose, {}});
  return *this;
}
Script& Script::Reset() {
  FSteps.push_back({Step::kReset, {}});
  return *this;
}
Script& Script::Stall(int ms) {
  FSteps.push_back({Step::kStall, {}, 0, ms});
  return *this;
}

// ---- ScriptedServer ----------------------------------------------------------------------------

ScriptedServer::ScriptedServer() : ScriptedServer(Options()) {}

ScriptedServer::ScriptedServer(Options options) : FOptions(options) {
  if (::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error(std::string("ScriptedServer: pipe: ") + std::strerror(errno));

  in_addr address4{};
  if (::inet_pton(AF_INET, FOptions.address4.c_str(), &address4) != 1 || (ntohl(address4.s_addr) >> 24) != 127)
    throw std::runtime_error("ScriptedServer: not a loopback address: " + FOptions.address4);
  auto listenOn = [address4](int family, int port) -> int {
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage ss{};
    socklen_t len;
    if (family == AF_INET) {
      auto* a = reinterpret_cast<sockaddr_in*>(&ss);
      a->sin_family = AF_INET;
      a->sin_addr = address4;
      a->sin_port = htons(static_cast<uint16_t>(port));
      len = sizeof *a;
    } else {
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
      auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
      a->sin6_family = AF_INET6;
      a->sin6_addr = in6addr_loopback;
      a->sin6_port = htons(static_cast<uint16_t>(port));
      len = sizeof *a;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd, 64) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  };
  auto portOf = [](int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
    return ss.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port)
                                   : ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
  };

  const int first = FOptions.family == kIPv6 ? AF_INET6 : AF_INET;
  // With both families the second bind can find the port taken; a few fresh ports settle it.
  for (int attempt = 0; attempt < 20 && FListeners.empty(); ++attempt) {
    int fd = listenOn(first, FOptions.port);
    if (fd < 0) break;
    int port = portOf(fd);
    if (FOptions.family == kBoth) {
      int fd6 = listenOn(AF_INET6, port);
      if (fd6 < 0) {
        ::close(fd);
        continue;
      }
      FListeners.push_back(fd6);
    }
    FListeners.push_back(fd);
    FPort = port;
  }
  if (FListeners.empty()) {
    int e = errno;
    ::close(FWake[0]);
    ::close(FWake[1]);
    throw std::runtime_error(std::string("ScriptedServer: cannot listen on loopback: ") + std::strerror(e));
  }
  FThread = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() { Stop(); }

void ScriptedServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FStopping) return;
    FStopping = true;
  }
  // The pipe stays readable from now on, so every wait of the server thread ends at once.
  char c = 1;
  ssize_t ignored = ::write(FWake[1], &c, 1);
  (void)ignored;
  if (FThread.joinable()) FThread.join();
  for (int fd : FListeners) ::close(fd);
  FListeners.clear();
  ::close(FWake[0]);
  ::close(FWake[1]);
  FChanged.notify_all();
}

void ScriptedServer::Add(Script script) {
  std::lock_guard<std::mutex> lock(FMutex);
  FQueue.push_back(std::move(script));
}

void ScriptedServer::SetDefault(Script script) {
  std::lock_guard<std::mutex> lock(FMutex);
  FDefault = std::move(script);
}

size_t ScriptedServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FReceived.size();
}

size_t ScriptedServer::DoneCount() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FDone;
}

bool ScriptedServer::WaitDone(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(FMutex);
  return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return FDone >= count; });
}

std::string ScriptedServer::Received(size_t index) const {
  std::lock_guard<std::mutex> lock(FMutex);
  return index < FReceived.size() ? FReceived[index] : std::string();
}

std::vector<std::string> ScriptedServer::Errors() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FErrors;
}

void ScriptedServer::AddError(const std::string& e) {
  std::lock_guard<std::mutex> lock(FMutex);
  FErrors.push_back(e);
}

void ScriptedServer::Run() {
  for (;;) {
    std::vector<pollfd> p;
    p.push_back({FWake[0], POLLIN, 0});
    for (int fd : FListeners) p.push_back({fd, POLLIN, 0});
    int r = ::poll(p.data(), p.size(), -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      AddError(std::string("accept loop: poll: ") + std::strerror(errno));
      return;
    }
    if (p[0].revents) return;
    for (size_t i = 1; i < p.size(); ++i) {
      if (!p[i].revents) continue;
      int fd = ::accept4(p[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Script script;
      size_t index;
      {
        std::lock_guard<std::mutex> lock(FMutex);
        if (!FQueue.empty()) {
          script = std::move(FQueue.front());
          FQueue.pop_front();
        } else {
          script = FDefault;
        }
        index = FReceived.size();
        FReceived.emplace_back();
      }
      FChanged.notify_all();
      Serve(fd, index, script);
      {
        std::lock_guard<std::mutex> lock(FMutex);
        ++FDone;
      }
      FChanged.notify_all();
    }
  }
}

void ScriptedServer::Serve(int fd, size_t index, const Script& script) {
  const std::string who = "connection " + std::to_string(index) + ": ";
  std::string data;     // what this connection has received, mirrored for searching
  size_t consumed = 0;  // bytes of `data` that reading steps have used up
  bool peerClosed = false;
  std::vector<char> buf(64 * 1024);

  // One read of whatever is there, waiting until deadline. kReady with peerClosed set at EOF.
  auto readSome = [&](Clock::time_point deadline) -> WaitResult {
    WaitResult w = WaitFor(fd, POLLIN, FWake[0], deadline);
    if (w != kReady) return w;
    ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
    if (n < 0) return errno == EINTR || errno == EAGAIN ? kReady : kFailed;
    if (n == 0) {
      peerClosed = true;
      return kReady;
    }
    data.append(buf.data(), static_cast<size_t>(n));
    std::lock_guard<std::mutex> lock(FMutex);
    FReceived[index].append(buf.data(), static_cast<size_t>(n));
    return kReady;
  };

  // Waits until ready() holds, reading as needed; false (with the reason recorded) when not.
  auto readUntil = [&](const char* step, auto ready) -> bool {
    const auto deadline = Clock::now() + std::chrono::milliseconds(FOptions.stepTimeoutMs);
    while (!ready()) {
      if (peerClosed) {
        AddError(who + step + ": peer closed after " + std::to_string(data.size()) + " bytes (\"" +
                 Printable(data.substr(consumed, 200)) + "\" unread)");
        return false;
      }
      WaitResult w = readSome(deadline);
      if (w == kStopped) return false;
      if (w == kTimedOut) {
        AddError(who + step + ": timed out after " + std::to_string(FOptions.stepTimeoutMs) + " ms with \"" +
                 Printable(data.substr(consumed, 200)) + "\" unread");
        return false;
      }
      if (w == kFailed) {
        AddError(who + step + ": recv: " + std::strerror(errno));
        return false;
      }
    }
    return true;
  };

  auto sendAll = [&](const char* p, size_t n) -> bool {
    while (n > 0) {
      // A client that stops reading for a whole step time-out is given up on.
      const auto deadline = Clock::now() + std::chrono::milliseconds(FOptions.stepTimeoutMs);
      WaitResult w = WaitFor(fd, POLLOUT, FWake[0], deadline);
      if (w == kStopped) return false;
      if (w != kReady) {
        AddError(who + "Send: client did not read for " + std::to_string(FOptions.stepTimeoutMs) + " ms");
        return false;
      }
      ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        AddError(who + "Send: " + std::strerror(errno));
        return false;
      }
      p += sent;
      n -= static_cast<size_t>(sent);
    }
    return true;
  };

  bool reset = false;
  bool ok = true;
  for (const Script::Step& step : script.Steps()) {
    if (!ok) break;
    switch (step.kind) {
      case Script::Step::kSend:
        ok = sendAll(step.bytes.data(), step.bytes.size());
        break;
      case Script::Step::kSendRepeated: {
        // A chunk that holds whole copies of the pattern keeps the pattern's phase across chunks.
        const size_t copies = std::max<size_t>(1, (256 * 1024) / step.bytes.size());
        std::string chunk;
        chunk.reserve(copies * step.bytes.size());
        for (size_t i = 0; i < copies; ++i) chunk += step.bytes;
        size_t left = step.count;
        while (ok && left > 0) {
          size_t n = std::min(left, chunk.size());
          ok = sendAll(chunk.data(), n);
          left -= n;
        }
        break;
      }
      case Script::Step::kExpect: {
        const size_t want = consumed + step.count;
        ok = readUntil("ExpectBytes", [&] { return data.size() >= want; });
        if (ok) consumed = want;
        break;
      }
      case Script::Step::kReadUntil: {
        size_t at = std::string::npos;
        ok = readUntil("ReadUntil", [&] {
          at = data.find(step.bytes, consumed);
          return at != std::string::npos;
        });
        if (ok) consumed = at + step.bytes.size();
        break;
      }
      case Script::Step::kReadUntilClose:
        ok = readUntil("ReadUntilClose", [&] { return peerClosed; });
        if (ok) consumed = data.size();
        break;
      case Script::Step::kClose:
        ok = false;
        break;
      case Script::Step::kReset:
        reset = true;
        ok = false;
        break;
      case Script::Step::kStall:
        // Ends early once the client has hung up, so that a client that gave up on a stalled
        // answer does not hold back the next connection.
        if (WaitFor(fd, POLLRDHUP, FWake[0], Clock::now() + std::chrono::milliseconds(step.ms)) == kStopped)
          ok = false;
        break;
    }
  }

  if (reset) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  } else {
    ::shutdown(fd, SHUT_WR);
    // Lingering close: let the client finish sending (recorded like everything else), so that
    // unread input does not turn the close into a reset.
    const auto lingerEnd = Clock::now() + std::chrono::milliseconds(FOptions.stepTimeoutMs);
    while (!peerClosed && Clock::now() < lingerEnd) {
      WaitResult w = readSome(std::min(lingerEnd, Clock::now() + std::chrono::milliseconds(kLingerIdleMs)));
      if (w != kReady) break;
    }
  }
  ::close(fd);
}

}  // namespace ktinet::test
