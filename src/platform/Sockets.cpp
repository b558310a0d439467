#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace ktinet {

namespace {

using Clock = std::chrono::steady_clock;

std::string OsText(int code) {
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not live in buf.
  return strerror_r(code, buf, sizeof buf);
}

// "Socket error: Connection refused (111), on API 'connect'"
String SocketErrorMessage(const std::string& text, int code, const char* api) {
  return UTF8ToString("Socket error: " + text + " (" + std::to_string(code) + "), on API '" + api + "'");
}

// Waits for `events` on fd for at most timeoutMs (0 = forever), resuming after signals with the
// time that is left. Returns >0 when ready, 0 on time-out, -1 with errno on failure.
int PollFor(int fd, short events, int timeoutMs, short* revents = nullptr) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs > 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left < 0 ? 0 : static_cast<int>(left);
    }
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r > 0 && revents) *revents = p.revents;
    return r;
  }
}

bool SetNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

// Connects a new socket to one address within timeoutMs (0 = forever). Returns the blocking,
// connected descriptor, or -1 with the error code in *error.
int ConnectOne(const TResolvedAddress& a, int timeoutMs, int* error) {
  int fd = ::socket(a.Addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  auto fail = [&](int code) {
    ::close(fd);
    *error = code;
    return -1;
  };
  if (!SetNonBlocking(fd, true)) return fail(errno);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.Addr), a.Length) != 0) {
    if (errno != EINPROGRESS) return fail(errno);
    int r = PollFor(fd, POLLOUT, timeoutMs);
    if (r < 0) return fail(errno);
    if (r == 0) return fail(ETIMEDOUT);
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) return fail(errno);
    if (soError != 0) return fail(soError);
  }
  if (!SetNonBlocking(fd, false)) return fail(errno);
  return fd;
}

String NumericName(const sockaddr_storage& ss, socklen_t len, int* port) {
  char host[NI_MAXHOST];
  char serv[NI_MAXSERV];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&ss), len, host, sizeof host, serv, sizeof serv,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return String();
  if (port) *port = std::atoi(serv);
  return UTF8ToString(host);
}

struct AddrInfoList {
  addrinfo* list = nullptr;
  ~AddrInfoList() {
    if (list) ::freeaddrinfo(list);
  }
};

int LookUpWithGetaddrinfo(const std::string& name, int port, std::vector<TResolvedAddress>& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  AddrInfoList found;
  int rc = ::getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found.list);
  if (rc != 0) return rc;
  for (const addrinfo* ai = found.list; ai; ai = ai->ai_next) {
    if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
    TResolvedAddress a;
    std::memcpy(&a.Addr, ai->ai_addr, ai->ai_addrlen);
    a.Length = ai->ai_addrlen;
    out.push_back(a);
  }
  return 0;
}

std::atomic<TNameLookup> gNameLookup{nullptr};

TNameLookup CurrentLookup() {
  TNameLookup lookup = gNameLookup.load();
  return lookup ? lookup : &LookUpWithGetaddrinfo;
}

bool IsNumericHost(const std::string& name) {
  unsigned char buf[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, name.c_str(), buf) == 1 || ::inet_pton(AF_INET6, name.c_str(), buf) == 1;
}

// What a lookup on the helper thread hands back. Shared with the thread, so that a wait that
// gave up leaves the thread something valid to write into.
struct LookupResult {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int rc = 0;
  int savedErrno = 0;
  std::vector<TResolvedAddress> addresses;
};

// Runs the lookup on a helper thread and waits at most waitMs for it (getaddrinfo has no time
// limit of its own that a caller could set). When the wait runs out the thread is left to finish
// on its own and its answer is dropped; the result is ETIMEDOUT as an EAI_SYSTEM error.
int LookUpWithin(TNameLookup lookup, const std::string& name, int port, std::vector<TResolvedAddress>& out,
                 int waitMs) {
  auto result = std::make_shared<LookupResult>();
  try {
    std::thread([result, lookup, name, port] {
      std::vector<TResolvedAddress> found;
      const int rc = lookup(name, port, found);
      const int saved = errno;
      std::lock_guard<std::mutex> lock(result->mutex);
      result->rc = rc;
      result->savedErrno = saved;
      result->addresses = std::move(found);
      result->finished = true;
      result->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the lookup runs here, unbounded, as it would without a deadline.
    return lookup(name, port, out);
  }
  std::unique_lock<std::mutex> lock(result->mutex);
  if (!result->done.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return result->finished; })) {
    errno = ETIMEDOUT;
    return EAI_SYSTEM;
  }
  out = std::move(result->addresses);
  errno = result->savedErrno;
  return result->rc;
}

}  // namespace

TNameLookup SetNameLookup(TNameLookup lookup) { return gNameLookup.exchange(lookup); }

// ---- transports --------------------------------------------------------------------------------

std::string TSocketTransport::ErrorText(int error) const { return OsText(error); }

ssize_t TTcpTransport::Write(const void* buf, size_t count, int timeoutMs, int* error) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (timeoutMs > 0) {
      // A peer that reads nothing fills the buffers; the send then waits only as long as allowed.
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      int r = left > 0 ? PollFor(FHandle, POLLOUT, static_cast<int>(left)) : 0;
      if (r < 0) {
        *error = errno;
        return -1;
      }
      if (r == 0) {
        *error = ETIMEDOUT;
        return -1;
      }
    }
    ssize_t n = ::send(FHandle, buf, count, MSG_NOSIGNAL | (timeoutMs > 0 ? MSG_DONTWAIT : 0));
    if (n >= 0) return n;
    if (errno == EINTR || (timeoutMs > 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) continue;
    *error = errno;
    return -1;
  }
}

ssize_t TTcpTransport::Read(void* buf, size_t count, int timeoutMs, int* error) {
  if (timeoutMs > 0) {
    int r = PollFor(FHandle, POLLIN, timeoutMs);
    if (r < 0) {
      *error = errno;
      return -1;
    }
    if (r == 0) {
      *error = ETIMEDOUT;
      return -1;
    }
  }
  for (;;) {
    ssize_t n = ::recv(FHandle, buf, count, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    *error = errno;
    return -1;
  }
}

int TTcpTransport::Pending() const {
  int n = 0;
  if (::ioctl(FHandle, FIONREAD, &n) != 0) return 0;
  return n;
}

// ---- TCustomWinSocket --------------------------------------------------------------------------

TCustomWinSocket::TCustomWinSocket(TClientSocket* client) : FClient(client) {}

TCustomWinSocket::~TCustomWinSocket() { Drop(); }

void TCustomWinSocket::Attach(int fd, const String& hostName) {
  FHandle = fd;
  FHostName = hostName;
  FTransport = std::make_unique<TTcpTransport>(fd);
}

void TCustomWinSocket::Drop() {
  if (FHandle < 0) return;
  if (FTransport) FTransport->Shutdown();
  FTransport.reset();
  ::close(FHandle);
  FHandle = -1;
}

void TCustomWinSocket::Close() {
  if (FHandle < 0) return;
  // Closed before the notification so that a handler sees a closed socket and cannot recurse.
  Drop();
  FClient->Notify(FClient->FOnDisconnect);
}

bool TCustomWinSocket::Fail(TErrorEvent kind, int code, const char* api, const std::string& text) {
  int errorCode = code;
  if (FClient->FOnError) FClient->FOnError(FClient, this, kind, errorCode);
  if (errorCode == 0) return false;
  throw ESocketError(SocketErrorMessage(text, code, api));
}

int TCustomWinSocket::SendBuf(const void* buf, int count) {
  if (count <= 0) return 0;
  if (FHandle < 0) {
    Fail(eeSend, ENOTCONN, "send", OsText(ENOTCONN));
    return -1;
  }
  const char* p = static_cast<const char*>(buf);
  size_t left = static_cast<size_t>(count);
  while (left > 0) {
    int error = 0;
    bool byDeadline = false;
    ssize_t n = FTransport->Write(p, left, FClient->BoundedWait(0, &byDeadline), &error);
    if (n <= 0) {
      if (n == 0) error = EPIPE;
      std::string text = FTransport->ErrorText(error);
      Drop();
      if (error == ETIMEDOUT && byDeadline) {
        int errorCode = error;
        if (FClient->FOnError) FClient->FOnError(FClient, this, eeSend, errorCode);
        if (errorCode == 0) return -1;
        throw ESocketError("Time limit of " + std::to_string(FClient->FDeadlineMs) + " ms for the whole job ran out");
      }
      Fail(eeSend, error, "send", text);
      return -1;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  FClient->Notify(FClient->FOnWrite);
  return count;
}

int TCustomWinSocket::ReceiveBuf(void* buf, int count) {
  if (count <= 0) return 0;
  if (FHandle < 0) {
    Fail(eeReceive, ENOTCONN, "recv", OsText(ENOTCONN));
    return -1;
  }
  bool byDeadline = false;
  const int timeoutMs = FClient->BoundedWait(FClient->FReadTimeout, &byDeadline);
  int error = 0;
  ssize_t n = FTransport->Read(buf, static_cast<size_t>(count), timeoutMs, &error);
  if (n > 0) {
    FClient->Notify(FClient->FOnRead);
    return static_cast<int>(n);
  }
  if (n == 0) {
    Close();
    return 0;
  }
  if (error == ETIMEDOUT) {
    // A time-out the handler waves through leaves the connection usable for another try.
    int errorCode = error;
    if (FClient->FOnError) FClient->FOnError(FClient, this, eeReceive, errorCode);
    if (errorCode == 0) return -1;
    Drop();
    if (byDeadline)
      throw ESocketError("Time limit of " + std::to_string(FClient->FDeadlineMs) + " ms for the whole job ran out");
    throw ESocketError("Read timed out after " + std::to_string(timeoutMs) + " ms");
  }
  std::string text = FTransport->ErrorText(error);
  Drop();
  Fail(eeReceive, error, "recv", text);
  return -1;
}

int TCustomWinSocket::SendText(const String& text) {
  std::string bytes = StringToBytes(text);
  return SendBuf(bytes.data(), static_cast<int>(bytes.size()));
}

String TCustomWinSocket::ReceiveText() {
  int n = ReceiveLength();
  if (n <= 0) return String();
  std::string bytes(static_cast<size_t>(n), '\0');
  int got = ReceiveBuf(bytes.data(), n);
  if (got <= 0) return String();
  bytes.resize(static_cast<size_t>(got));
  return BytesToString(bytes);
}

int TCustomWinSocket::ReceiveLength() const { return FTransport ? FTransport->Pending() : 0; }

String TCustomWinSocket::LocalHost() const {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return String();
  return UTF8ToString(name);
}

String TCustomWinSocket::LocalAddress() const {
  if (FHandle < 0) return String();
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getsockname(FHandle, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return String();
  return NumericName(ss, len, nullptr);
}

int TCustomWinSocket::LocalPort() const {
  if (FHandle < 0) return 0;
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  int port = 0;
  if (::getsockname(FHandle, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
  NumericName(ss, len, &port);
  return port;
}

String TCustomWinSocket::RemoteHost() const {
  if (FHandle < 0) return String();
  if (!FHostName.empty()) return FHostName;
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getpeername(FHandle, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return String();
  char host[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&ss), len, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
    return String();
  return UTF8ToString(host);
}

String TCustomWinSocket::RemoteAddress() const {
  if (FHandle < 0) return String();
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getpeername(FHandle, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return String();
  return NumericName(ss, len, nullptr);
}

int TCustomWinSocket::RemotePort() const {
  if (FHandle < 0) return 0;
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  int port = 0;
  if (::getpeername(FHandle, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
  NumericName(ss, len, &port);
  return port;
}

void TCustomWinSocket::SetTransport(std::unique_ptr<TSocketTransport> transport) {
  if (FHandle < 0 || !transport) return;
  FTransport = std::move(transport);
}

// ---- TClientSocket -----------------------------------------------------------------------------

TClientSocket::TClientSocket(TComponent* AOwner) : TComponent(AOwner) {}

TClientSocket::~TClientSocket() { FSocket.Drop(); }

void TClientSocket::StartDeadline(int ms) {
  FDeadlineMs = ms < 0 ? 0 : ms;
  FDeadline = Clock::now() + std::chrono::milliseconds(FDeadlineMs);
}

int TClientSocket::BoundedWait(int waitMs, bool* byDeadline) const {
  *byDeadline = false;
  if (FDeadlineMs == 0) return waitMs;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(FDeadline - Clock::now()).count();
  // A wait of 0 would mean forever: a deadline already past still gets its one short wait.
  int bounded = left < 1 ? 1 : static_cast<int>(std::min<long long>(left, INT_MAX));
  if (waitMs > 0 && waitMs <= bounded) return waitMs;
  *byDeadline = true;
  return bounded;
}

void TClientSocket::Notify(const TSocketNotifyEvent& e) {
  if (e) e(this, &FSocket);
}

int TClientSocket::Resolve(const std::string& name, int port, std::vector<TResolvedAddress>& out) {
  const TNameLookup lookup = CurrentLookup();
  // A numeric address needs no resolver, so it costs no thread.
  if (FDeadlineMs == 0 || IsNumericHost(name)) return lookup(name, port, out);
  bool byDeadline = false;
  return LookUpWithin(lookup, name, port, out, BoundedWait(0, &byDeadline));
}

void TClientSocket::Open() {
  if (FSocket.Connected()) return;
  Notify(FOnLookup);

  const String& target = FHost.empty() ? FAddress : FHost;
  if (target.empty()) {
    FSocket.Fail(eeLookup, EDESTADDRREQ, "getaddrinfo", "No host or address to connect to");
    return;
  }
  if (FPort < 0 || FPort > 65535) {
    FSocket.Fail(eeConnect, EINVAL, "connect", "Port " + std::to_string(FPort) + " is out of range");
    return;
  }
  std::vector<TResolvedAddress> addresses;
  int rc = Resolve(UTF8Encode(target), FPort, addresses);
  if (rc == 0 && addresses.empty()) rc = EAI_NONAME;
  if (rc != 0) {
    int code = rc == EAI_SYSTEM ? errno : rc;
    // Under a deadline the lookup waits only for what is left of it.
    if (rc == EAI_SYSTEM && code == ETIMEDOUT && FDeadlineMs != 0) {
      int errorCode = code;
      if (FOnError) FOnError(this, &FSocket, eeLookup, errorCode);
      if (errorCode == 0) return;
      throw ESocketError("Time limit of " + std::to_string(FDeadlineMs) + " ms for the whole job ran out");
    }
    std::string text = rc == EAI_SYSTEM ? OsText(code) : ::gai_strerror(rc);
    FSocket.Fail(eeLookup, code, "getaddrinfo", text);
    return;
  }

  Notify(FOnConnecting);
  int lastError = EHOSTUNREACH;
  bool cutByDeadline = false;
  for (const TResolvedAddress& a : addresses) {
    int error = 0;
    bool byDeadline = false;
    int fd = ConnectOne(a, BoundedWait(FConnectTimeout, &byDeadline), &error);
    if (fd >= 0) {
      FSocket.Attach(fd, FHost);
      Notify(FOnConnect);
      // The connect handler may already have closed the connection.
      if (FSocket.Connected()) Notify(FOnWrite);
      return;
    }
    lastError = error;
    if (error == ETIMEDOUT && byDeadline) {
      cutByDeadline = true;
      break;
    }
  }
  if (cutByDeadline) {
    int errorCode = lastError;
    if (FOnError) FOnError(this, &FSocket, eeConnect, errorCode);
    if (errorCode == 0) return;
    throw ESocketError("Time limit of " + std::to_string(FDeadlineMs) + " ms for the whole job ran out");
  }
  FSocket.Fail(eeConnect, lastError, "connect", OsText(lastError));
}

// ---- TUdpSocket --------------------------------------------------------------------------------

namespace {
[[noreturn]] void UdpFail(int code, const char* api, const std::string& text) {
  throw ESocketError(SocketErrorMessage(text, code, api));
}
}  // namespace

void TUdpSocket::Open(const String& host, int port) {
  Close();
  if (port < 0 || port > 65535) UdpFail(EINVAL, "connect", "Port " + std::to_string(port) + " is out of range");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  AddrInfoList found;
  int rc = ::getaddrinfo(UTF8Encode(host).c_str(), std::to_string(port).c_str(), &hints, &found.list);
  if (rc != 0) {
    if (rc == EAI_SYSTEM) UdpFail(errno, "getaddrinfo", OsText(errno));
    UdpFail(rc, "getaddrinfo", ::gai_strerror(rc));
  }
  const addrinfo* ai = found.list;
  int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
  if (fd < 0) UdpFail(errno, "socket", OsText(errno));
  if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
    int code = errno;
    ::close(fd);
    UdpFail(code, "connect", OsText(code));
  }
  FHandle = fd;
}

void TUdpSocket::Close() {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
}

void TUdpSocket::Send(const std::string& bytes) {
  if (FHandle < 0) UdpFail(ENOTCONN, "send", OsText(ENOTCONN));
  for (;;) {
    ssize_t n = ::send(FHandle, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) return;
    if (errno == EINTR) continue;
    UdpFail(errno, "send", OsText(errno));
  }
}

int TUdpSocket::Receive(void* buf, int cap, int timeoutMs) {
  if (FHandle < 0) UdpFail(ENOTCONN, "recv", OsText(ENOTCONN));
  int r = PollFor(FHandle, POLLIN, timeoutMs);
  if (r < 0) UdpFail(errno, "poll", OsText(errno));
  if (r == 0) return -1;
  for (;;) {
    ssize_t n = ::recv(FHandle, buf, cap < 0 ? 0 : static_cast<size_t>(cap), 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    // A port-unreachable answer to an earlier datagram shows up here as ECONNREFUSED.
    UdpFail(errno, "recv", OsText(errno));
  }
}

}  // namespace ktinet
