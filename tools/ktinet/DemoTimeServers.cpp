// The demo's lines for the time clients and the DNS resolver, with the small servers they talk
// to: a daytime server sending NIST lines, an SNTP responder on UDP and a name server over TCP
// that knows one zone.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <thread>

#include "Cli.h"
#include "Demo.h"
#include "DemoServers.h"
#include "protocols/KtDigResolver.h"
#include "protocols/KtIDNS.h"
#include "protocols/KtISNTP.h"
#include "protocols/KtITime.h"

namespace ktinet::cli {

namespace {

// ---- daytime --------------------------------------------------------------------------------

// "\n61010 25-12-07 13:34:51 00 0 0  50.0 UTC(NIST) * \n" for the given moment.
std::string NistLine(std::time_t now) {
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char line[96];
  std::snprintf(line, sizeof line, "\n%ld %02d-%02d-%02d %02d:%02d:%02d 00 0 0  50.0 UTC(NIST) * \n",
                static_cast<long>(now / 86400 + 40587), utc.tm_year % 100, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                utc.tm_min, utc.tm_sec);
  return line;
}

DemoOutcome DemoDaytime() {
  const std::time_t sent = std::time(nullptr);
  DemoServer server([sent](DemoConnection& conn) { conn.Send(NistLine(sent)); });
  TKtInetDateTime daytime(nullptr);
  daytime.SetHost(UTF8ToString(DemoServer::Host()));
  daytime.SetPort(server.Port());
  daytime.SetConnectTimeout(5000);
  daytime.SetReadTimeout(5000);
  TDateTime got = daytime.DateTime();

  DemoOutcome out;
  out.did = "NIST daytime line from 127.0.0.1:" + std::to_string(server.Port());
  TDateTime expected = UnixToDateTime(sent);
  if (!daytime.LastError().empty()) {
    out.result = "error: " + UTF8Encode(daytime.LastError());
  } else if (std::fabs(got - expected) * SecsPerDay > 0.5) {
    out.result = "read " + UTF8Encode(DateTimeToISO(got)) + ", the server sent " + UTF8Encode(DateTimeToISO(expected));
  } else {
    out.ok = true;
    out.result = UTF8Encode(DateTimeToISO(got)) + " UTC";
  }
  return out;
}

// ---- SNTP -----------------------------------------------------------------------------------

// Answers every SNTP request on a UDP port of 127.0.0.1 as a stratum 2 server whose clock is
// this computer's.
class DemoSntpResponder {
 public:
  DemoSntpResponder() {
    FHandle = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (FHandle < 0) throw std::runtime_error(std::string("SNTP responder: socket: ") + std::strerror(errno));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(FHandle, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 ||
        ::getsockname(FHandle, reinterpret_cast<sockaddr*>(&addr), &len) < 0) {
      int e = errno;
      ::close(FHandle);
      throw std::runtime_error(std::string("SNTP responder: cannot bind on loopback: ") + std::strerror(e));
    }
    FPort = ntohs(addr.sin_port);
    FThread = std::thread([this] { Serve(); });
  }
  ~DemoSntpResponder() {
    FStop = true;
    FThread.join();
    ::close(FHandle);
  }
  DemoSntpResponder(const DemoSntpResponder&) = delete;
  DemoSntpResponder& operator=(const DemoSntpResponder&) = delete;
  int Port() const { return FPort; }

 private:
  static void PutTimestamp(unsigned char* at) {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    auto seconds = static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) + 2208988800ULL);
    auto fraction = static_cast<std::uint32_t>(static_cast<double>(ts.tv_nsec) / 1e9 * 4294967296.0);
    for (int i = 0; i < 4; ++i) {
      at[i] = static_cast<unsigned char>(seconds >> (24 - 8 * i));
      at[4 + i] = static_cast<unsigned char>(fraction >> (24 - 8 * i));
    }
  }

  void Serve() {
    while (!FStop) {
      pollfd p{FHandle, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      unsigned char request[512];
      sockaddr_storage from{};
      socklen_t fromLen = sizeof from;
      ssize_t n = ::recvfrom(FHandle, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n < 48 || (request[0] & 7) != 3) continue;
      unsigned char reply[48] = {};
      reply[0] = 0x24;  // no leap warning, version 4, server
      reply[1] = 2;     // stratum
      reply[2] = request[2];
      reply[3] = 0xEC;  // precision about a microsecond
      std::memcpy(reply + 12, "LOCL", 4);
      std::memcpy(reply + 24, request + 40, 8);
      PutTimestamp(reply + 16);
      PutTimestamp(reply + 32);
      PutTimestamp(reply + 40);
      ::sendto(FHandle, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    }
  }

  int FHandle = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

DemoOutcome DemoSntp() {
  DemoSntpResponder responder;
  TKtInetSNTP sntp(nullptr);
  sntp.SetHost(UTF8ToString(DemoServer::Host()));
  sntp.SetPort(responder.Port());
  sntp.SetReadTimeout(5000);
  TDateTime before = Now();
  TDateTime got = sntp.DateTime();
  TDateTime after = Now();

  DemoOutcome out;
  out.did = "SNTP datagram to a stratum 2 responder on 127.0.0.1:" + std::to_string(responder.Port());
  double offset = ((before + after) / 2 - got) * SecsPerDay;
  if (got == 0) {
    out.result = sntp.LastError().empty() ? "no valid answer" : "error: " + UTF8Encode(sntp.LastError());
  } else if (std::fabs(offset) > 1.0) {
    char text[64];
    std::snprintf(text, sizeof text, "the clocks differ by %.3f s", offset);
    out.result = text;
  } else {
    out.ok = true;
    out.result = UTF8Encode(FormatDateTime(u"yyyy-mm-dd hh:nn:ss.zzz", got)) + " local time";
  }
  return out;
}

// ---- DNS ------------------------------------------------------------------------------------

std::string ReadExactly(DemoConnection& conn, size_t n) {
  std::string got;
  while (got.size() < n) {
    std::string more = conn.Receive(5000, n - got.size());
    if (more.empty()) return {};
    got += more;
  }
  return got;
}

void PutWord(std::string& out, unsigned v) {
  out += static_cast<char>((v >> 8) & 0xFF);
  out += static_cast<char>(v & 0xFF);
}

// The answer of a server that knows example.test (A 192.0.2.10, MX 10 mail.example.test) and
// nothing else; the question is copied, the answers point back at its name.
std::string DemoDnsAnswer(const std::string& query) {
  if (query.size() < 17) return {};
  size_t end = 12;
  while (end < query.size() && query[end] != 0) end += 1 + static_cast<unsigned char>(query[end]);
  if (end + 5 > query.size()) return {};
  std::string question = query.substr(12, end + 5 - 12);
  unsigned type = (static_cast<unsigned char>(query[end + 1]) << 8) | static_cast<unsigned char>(query[end + 2]);
  const std::string kName = std::string("\7example\4test", 13) + '\0';
  bool known = query.compare(12, kName.size(), kName) == 0;

  std::string records;
  unsigned count = 0;
  if (known && (type == 1 || type == 255)) {
    records += "\xC0\x0C";
    PutWord(records, 1);
    PutWord(records, 1);
    records += std::string("\0\0\x0E\x10", 4);  // TTL 3600
    PutWord(records, 4);
    records += std::string("\xC0\x00\x02\x0A", 4);
    ++count;
  }
  if (known && (type == 15 || type == 255)) {
    records += "\xC0\x0C";
    PutWord(records, 15);
    PutWord(records, 1);
    records += std::string("\0\0\x0E\x10", 4);
    PutWord(records, 9);
    PutWord(records, 10);
    records += std::string("\4mail\xC0\x0C", 7);
    ++count;
  }
  std::string message = query.substr(0, 2);
  message += known ? "\x85\x80" : "\x85\x83";  // answer, authoritative, RD, RA; NXDOMAIN when unknown
  PutWord(message, 1);
  PutWord(message, count);
  PutWord(message, 0);
  PutWord(message, 0);
  message += question + records;
  std::string framed;
  PutWord(framed, static_cast<unsigned>(message.size()));
  return framed + message;
}

DemoOutcome DemoDns() {
  DemoServer server([](DemoConnection& conn) {
    // Pipelined queries, answered one by one until the client hangs up.
    for (;;) {
      std::string length = ReadExactly(conn, 2);
      if (length.empty()) return;
      size_t n = (static_cast<unsigned char>(length[0]) << 8) | static_cast<unsigned char>(length[1]);
      std::string query = ReadExactly(conn, n);
      if (query.empty() || !conn.Send(DemoDnsAnswer(query))) return;
    }
  });
  TKtIDNSResolver dns(nullptr);
  dns.SetHost(UTF8ToString(DemoServer::Host()));
  dns.SetPort(server.Port());
  dns.SetConnectTimeout(5000);
  dns.SetReadTimeout(5000);
  dns.SetDomain(u"example.test");
  dns.SetRequests({irA, irMX});
  String answer = dns.Execute();

  DemoOutcome out;
  out.did = "A and MX of example.test from 127.0.0.1:" + std::to_string(server.Port());
  if (!dns.LastError().empty()) {
    out.result = "error: " + UTF8Encode(dns.LastError());
    return out;
  }
  try {
    std::string records;
    for (const TDNSMessage& m : DecodeDNSAnswer(answer))
      for (const TDNSResourceRecord& rr : m.Answers)
        records += (records.empty() ? "" : ", ") + UTF8Encode(DNSTypeName(rr.Type) + u" " + rr.Data);
    out.ok = records == "A 192.0.2.10, MX 10 mail.example.test.";
    out.result = records.empty() ? "no records" : records;
  } catch (const EDNSDecodeError& e) {
    out.result = e.what();
  }
  return out;
}

// The dig-style resolver against the same server, over TCP (the demo's servers speak TCP).
DemoOutcome DemoDig() {
  DemoServer server([](DemoConnection& conn) {
    std::string length = ReadExactly(conn, 2);
    if (length.empty()) return;
    size_t n = (static_cast<unsigned char>(length[0]) << 8) | static_cast<unsigned char>(length[1]);
    std::string query = ReadExactly(conn, n);
    if (!query.empty()) conn.Send(DemoDnsAnswer(query));
  });
  TKtDigResolver dig;
  dig.SetServers({DemoServer::Host()});
  dig.SetPort(server.Port());
  dig.SetForceTcp(true);
  dig.SetTimeoutMs(5000);
  DemoOutcome out;
  out.did = "MX of example.test from 127.0.0.1:" + std::to_string(server.Port()) + " over TCP";
  try {
    TDigMessage answer = dig.Query("example.test", DigTypeFromText("MX"));
    std::string records;
    for (const TDigRecord& rr : answer.Answers)
      records += (records.empty() ? "" : ", ") + DigTypeName(rr.Type) + " " + rr.Text;
    out.ok = answer.RCode() == 0 && records == "MX 10 mail.example.test.";
    out.result = DigRCodeName(answer.RCode()) + ": " + (records.empty() ? "no records" : records);
  } catch (const std::exception& e) {
    out.result = e.what();
  }
  return out;
}

}  // namespace

KTINET_DEMO_STEP(DemoStep{30, "TKtInetDateTime", DemoDaytime});
KTINET_DEMO_STEP(DemoStep{31, "TKtInetSNTP", DemoSntp});
KTINET_DEMO_STEP(DemoStep{32, "TKtIDNSResolver", DemoDns});
KTINET_DEMO_STEP(DemoStep{33, "TKtDigResolver", DemoDig});

}  // namespace ktinet::cli
