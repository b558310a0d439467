#include "protocols/KtISNTP.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/KtInCnst.h"
#include "platform/TimeZone.h"
#include "rtl/Exceptions.h"

namespace ktinet {

namespace {

constexpr int kPacketSize = 48;
// A datagram can be lost: without a read time-out of its own the exchange still ends.
constexpr int kDefaultWaitMs = 5000;
constexpr double kTwo32 = 4294967296.0;
// The constant the request's timestamp is built with (one more than 2^32).
constexpr double kTwo32Plus1 = 4294967297.0;

std::string OsText(int code) {
  char buf[256];
  return strerror_r(code, buf, sizeof buf);
}

String SocketErrorText(const std::string& text, int code, const char* api) {
  return UTF8ToString("Socket error: " + text + " (" + std::to_string(code) + "), on API '" + api + "'");
}

std::uint32_t BigEndian32(const std::string& bytes, size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

void PutBigEndian32(std::string& bytes, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}

}  // namespace

bool ReadSNTPReply(const std::string& Reply, TSNTPReply& Out) {
  if (Reply.size() < kPacketSize) return false;
  const auto first = static_cast<unsigned char>(Reply[0]);
  Out.Leap = first >> 6;
  Out.Mode = first & 0x07;
  Out.Stratum = static_cast<unsigned char>(Reply[1]);
  Out.OriginateSeconds = BigEndian32(Reply, 24);
  Out.OriginateFraction = BigEndian32(Reply, 28);
  Out.Seconds = BigEndian32(Reply, 40);
  Out.Fraction = BigEndian32(Reply, 44);
  return true;
}

bool SNTPReplyUsable(const TSNTPReply& Reply) {
  // A server that has never been synchronised sends a zero transmit timestamp, which the era
  // rule would otherwise read as 2036.
  return Reply.Leap != 3 && Reply.Stratum >= 1 && Reply.Stratum <= 15 && (Reply.Seconds != 0 || Reply.Fraction != 0);
}

// The datagram socket and the server's addresses. A host that answers "port unreachable" on one
// address is tried on the next (a name such as localhost may give ::1 before 127.0.0.1).
class TKtInetSNTP::TDatagram {
 public:
  ~TDatagram() { Close(); }

  std::vector<std::pair<sockaddr_storage, socklen_t>> Addresses;
  size_t Current = 0;
  int Handle = -1;

  // Opens a socket bound to Addresses[Current]; 0 or the error code, *api naming the call.
  int Open(const char** api) {
    Close();
    const auto& [addr, len] = Addresses[Current];
    int fd = ::socket(addr.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      *api = "socket";
      return errno;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
      int code = errno;
      ::close(fd);
      *api = "connect";
      return code;
    }
    Handle = fd;
    return 0;
  }
  void Close() {
    if (Handle >= 0) ::close(Handle);
    Handle = -1;
  }
};

TKtInetSNTP::TKtInetSNTP(TComponent* AOwner) : TKtInetBase(AOwner), FDatagram(std::make_unique<TDatagram>()) {
  SetPort(123);
  SetHost(u"pool.ntp.org");
}

TKtInetSNTP::~TKtInetSNTP() = default;

double TKtInetSNTP::TimeZoneBias() const { return TimeZoneBiasMinutes() / 1440.0; }

Integer TKtInetSNTP::SwapBytes(Integer Value) {
  auto v = static_cast<std::uint32_t>(Value);
  v = (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
  return static_cast<Integer>(v);
}

TDateTime TKtInetSNTP::NTPTimestamp2DateTime(Integer Seconds, Integer Fraction) const {
  double s = static_cast<std::uint32_t>(Seconds);
  // Era 1 begins on 2036-02-07 06:28:16 UTC, when the seconds field wraps to 0.
  if (s < kTwo32 / 2) s += kTwo32;
  double f = static_cast<std::uint32_t>(Fraction);
  double ms = std::floor(f / kTwo32Plus1 * 1000.0);
  return (s + ms / 1000.0) / SecsPerDay - TimeZoneBias() + 2.0;
}

String TKtInetSNTP::GetQuery() {
  std::string packet(kPacketSize, '\0');
  packet[0] = 0x1B;  // leap indicator 0, version 3, mode 3 (client)
  // The framework's day 0 lies two days before the NTP epoch (1900-01-01).
  double t = (Now() + TimeZoneBias() - 2.0) * SecsPerDay;
  double s = t;
  if (s > kTwo32Plus1) s -= kTwo32Plus1;
  double f = (t - std::floor(t)) * 1000.0 / 1000.0 * kTwo32Plus1;
  if (f > kTwo32Plus1) f -= kTwo32Plus1;
  PutBigEndian32(packet, 40, static_cast<std::uint32_t>(static_cast<Int64>(s)));
  PutBigEndian32(packet, 44, static_cast<std::uint32_t>(static_cast<Int64>(f)));
  return BytesToString(packet);
}

void TKtInetSNTP::Fail(TErrorEvent Kind, int Code, const char* Api) {
  std::string text = Kind == eeLookup ? (Code == EAI_SYSTEM ? OsText(errno) : ::gai_strerror(Code)) : OsText(Code);
  // A failed exchange ends it, as a failed read ends a connection: the next one starts afresh.
  FDatagram->Close();
  int code = Code;
  DoError(FClientSocket, FClientSocket->Socket(), Kind, code);
  if (code != 0) throw ESocketError(SocketErrorText(text, Code, Api));
}

void TKtInetSNTP::Connect() {
  if (FConnected && FDatagram->Handle >= 0) return;
  const String& host = FClientSocket->Host().empty() ? FClientSocket->Address() : FClientSocket->Host();
  if (host.empty()) throw Exception(strKtInEHost);
  TCustomWinSocket* socket = FClientSocket->Socket();

  DoLookup(FClientSocket, socket);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int port = FClientSocket->Port();
  int rc = port < 0 || port > 65535
               ? EAI_SERVICE
               : ::getaddrinfo(UTF8Encode(host).c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) return Fail(eeLookup, rc, "getaddrinfo");
  FDatagram->Addresses.clear();
  FDatagram->Current = 0;
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    sockaddr_storage addr{};
    std::memcpy(&addr, ai->ai_addr, ai->ai_addrlen);
    FDatagram->Addresses.emplace_back(addr, ai->ai_addrlen);
  }
  ::freeaddrinfo(found);

  DoConnecting(FClientSocket, socket);
  const char* api = "";
  if (int code = FDatagram->Open(&api)) return Fail(eeConnect, code, api);
  DoConnect(FClientSocket, socket);
}

void TKtInetSNTP::Disconnect() {
  if (!FConnected) return;
  FDatagram->Close();
  DoDisconnect(FClientSocket, FClientSocket->Socket());
}

bool TKtInetSNTP::AcceptableReply(const std::string& Reply, const std::string& Request) const {
  TSNTPReply r;
  if (!ReadSNTPReply(Reply, r) || r.Mode != 4) return false;
  // The originate timestamp must echo our transmit timestamp: anything else answers some other
  // request, or no request at all.
  return r.OriginateSeconds == BigEndian32(Request, 40) && r.OriginateFraction == BigEndian32(Request, 44);
}

String TKtInetSNTP::InternalExecute() {
  if (FDatagram->Handle < 0) return String();  // the connect failed and a handler let it pass
  const std::string request = StringToBytes(GetQuery());
  const int waitMs = ReadTimeout() > 0 ? ReadTimeout() : kDefaultWaitMs;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  TCustomWinSocket* socket = FClientSocket->Socket();

  bool sendNow = true;
  for (;;) {
    if (sendNow) {
      ssize_t n;
      do n = ::send(FDatagram->Handle, request.data(), request.size(), MSG_NOSIGNAL);
      while (n < 0 && errno == EINTR);
      if (n < 0) {
        Fail(eeSend, errno, "send");
        return String();
      }
      if (FOnSendTextToSocket) FOnSendTextToSocket(FClientSocket, socket);
      sendNow = false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return String();
    pollfd p{FDatagram->Handle, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      Fail(eeReceive, errno, "poll");
      return String();
    }
    if (r == 0) return String();

    // One byte more than a reply may have, so that a longer datagram shows (MSG_TRUNC gives its
    // real length) without ever being held whole.
    std::string reply(MaxReply + 1, '\0');
    ssize_t n;
    do n = ::recv(FDatagram->Handle, reply.data(), reply.size(), MSG_TRUNC);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
      int code = errno;
      // "Port unreachable" from the server's host: nobody listens on this address.
      if (code == ECONNREFUSED && FDatagram->Current + 1 < FDatagram->Addresses.size()) {
        ++FDatagram->Current;
        const char* api = "";
        if (int openCode = FDatagram->Open(&api)) {
          Fail(eeConnect, openCode, api);
          return String();
        }
        sendNow = true;
        continue;
      }
      Fail(eeReceive, code, "recv");
      return String();
    }
    if (n > MaxReply)
      throw Exception(u"The SNTP reply is " + IntToStr(static_cast<long long>(n)) + u" bytes long, more than the " +
                      IntToStr(MaxReply) + u" a reply may have");
    reply.resize(static_cast<size_t>(n));
    if (FOnReceiveTextFromSocket) FOnReceiveTextFromSocket(FClientSocket, socket);
    if (AcceptableReply(reply, request)) return BytesToString(reply);
  }
}

TDateTime TKtInetSNTP::GetDateTime() {
  String text = Execute();
  // A caught failure comes back as its message, which is no packet however long it is.
  TSNTPReply reply;
  if (!LastError().empty() || !ReadSNTPReply(StringToBytes(text.substr(0, kPacketSize)), reply)) return 0;
  TDateTime t = NTPTimestamp2DateTime(static_cast<Integer>(reply.Seconds), static_cast<Integer>(reply.Fraction));
  if (!SNTPReplyUsable(reply) || t == 0) return 0;
  return t;
}

const TClassInfo* TKtInetSNTP::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtInetSNTP>(u"TKtInetSNTP", TKtInetBase::StaticClassInfo())
      .Component()
      .Property(u"DateTime", &TKtInetSNTP::DateTime)
      .Build();
  return info;
}

}  // namespace ktinet
