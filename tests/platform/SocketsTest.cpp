#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <memory>
#include <chrono>
#include <string>
#include <vector>

#include "support/Net.h"
#include "support/ScriptedServer.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;
using Clock = std::chrono::steady_clock;

// A client socket that writes down every notification it gets, checking Sender and Socket.
struct Recorder {
  TClientSocket client{nullptr};
  std::vector<std::string> events;
  std::vector<std::pair<TErrorEvent, int>> errors;
  bool suppress = false;

  Recorder() {
    auto note = [this](const char* name) {
      return [this, name](TObject* sender, TCustomWinSocket* socket) {
        EXPECT_EQ(sender, &client);
        EXPECT_EQ(socket, client.Socket());
        events.push_back(name);
      };
    };
    client.SetClientType(ctBlocking);
    client.SetOnLookup(note("lookup"));
    client.SetOnConnecting(note("connecting"));
    client.SetOnConnect(note("connect"));
    client.SetOnDisconnect(note("disconnect"));
    client.SetOnRead(note("read"));
    client.SetOnWrite(note("write"));
    client.SetOnError([this](TObject* sender, TCustomWinSocket* socket, TErrorEvent kind, int& code) {
      EXPECT_EQ(sender, &client);
      EXPECT_EQ(socket, client.Socket());
      events.push_back("error");
      errors.emplace_back(kind, code);
      if (suppress) code = 0;
    });
  }
  TCustomWinSocket& S() { return *client.Socket(); }
  int Send(const std::string& bytes) { return S().SendBuf(bytes.data(), static_cast<int>(bytes.size())); }
  // Reads until the peer closes.
  std::string ReadAll(int chunk = 16386) {
    std::string all, buf(static_cast<size_t>(chunk), '\0');
    for (;;) {
      int n = S().ReceiveBuf(buf.data(), chunk);
      if (n <= 0) break;
      all.append(buf.data(), static_cast<size_t>(n));
    }
    return all;
  }
};

using Events = std::vector<std::string>;

TEST(ClientSocket, NotificationsFollowTheConnectionsLife) {
  ScriptedServer server;
  server.Add(Script().ReadUntil("ping").Send("pong"));
  server.Add(Script().Stall(10000));

  Recorder r;
  r.client.SetHost(u"127.0.0.1");
  r.client.SetPort(server.Port());
  r.client.Open();
  EXPECT_EQ(r.events, (Events{"lookup", "connecting", "connect", "write"}));
  EXPECT_TRUE(r.client.Active());
  EXPECT_TRUE(r.S().Connected());
  EXPECT_GE(r.S().Handle(), 0);
  EXPECT_EQ(r.S().RemoteAddress(), u"127.0.0.1");
  EXPECT_EQ(r.S().RemotePort(), server.Port());
  EXPECT_EQ(r.S().RemoteHost(), u"127.0.0.1");
  EXPECT_EQ(r.S().LocalAddress(), u"127.0.0.1");
  EXPECT_GT(r.S().LocalPort(), 0);
  char name[256] = {};
  ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
  EXPECT_EQ(r.S().LocalHost(), Str(name));

  // Opening an open socket changes nothing.
  r.client.Open();
  EXPECT_EQ(r.events.size(), 4u);

  r.events.clear();
  EXPECT_EQ(r.Send("ping"), 4);
  EXPECT_EQ(r.events, (Events{"write"}));
  r.events.clear();
  EXPECT_EQ(r.ReadAll(), "pong");
  // Data first, then the peer's close; the socket closes itself.
  ASSERT_GE(r.events.size(), 2u);
  EXPECT_EQ(r.events.front(), "read");
  EXPECT_EQ(r.events.back(), "disconnect");
  EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "disconnect"), 1);
  EXPECT_FALSE(r.client.Active());
  EXPECT_EQ(r.S().Handle(), -1);
  r.client.Close();
  EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "disconnect"), 1);
  EXPECT_TRUE(r.errors.empty());

  // A local close of an open connection: one disconnect, however often Close is called.
  r.events.clear();
  r.client.SetActive(true);
  EXPECT_EQ(r.events, (Events{"lookup", "connecting", "connect", "write"}));
  r.events.clear();
  r.client.Close();
  r.client.SetActive(false);
  EXPECT_EQ(r.events, (Events{"disconnect"}));
  EXPECT_FALSE(r.client.Active());

  ASSERT_TRUE(server.WaitDone(2));
  EXPECT_EQ(server.Received(0), "ping");
  EXPECT_TRUE(server.Errors().empty());
}

TEST(ClientSocket, RefusedConnectionReportsThenRaisesUnlessSuppressed) {
  const int port = test::FreePort();  // nothing listens there
  Recorder r;
  r.client.SetAddress(u"127.0.0.1");
  r.client.SetPort(port);
  try {
    r.client.Open();
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Message(), Str("Socket error: Connection refused (111), on API 'connect'"));
  }
  EXPECT_EQ(r.events, (Events{"lookup", "connecting", "error"}));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].first, eeConnect);
  EXPECT_EQ(r.errors[0].second, ECONNREFUSED);
  EXPECT_FALSE(r.client.Active());

  r.events.clear();
  r.suppress = true;
  EXPECT_NO_THROW(r.client.Open());
  EXPECT_EQ(r.events, (Events{"lookup", "connecting", "error"}));
  EXPECT_FALSE(r.client.Active());
  // With no connection, reads and writes report a failure instead of touching a stale descriptor.
  char c;
  EXPECT_EQ(r.S().ReceiveBuf(&c, 1), -1);
  EXPECT_EQ(r.Send("x"), -1);
  EXPECT_EQ(r.errors.back().first, eeSend);
  EXPECT_EQ(r.errors.back().second, ENOTCONN);
}

TEST(ClientSocket, UnresolvableOrMissingNameIsALookupError) {
  Recorder r;
  r.client.SetHost(u"no-such-host.invalid");
  r.client.SetPort(80);
  try {
    r.client.Open();
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_NE(e.Message().find(u"on API 'getaddrinfo'"), String::npos) << e.what();
  }
  EXPECT_EQ(r.events, (Events{"lookup", "error"}));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].first, eeLookup);
  EXPECT_NE(r.errors[0].second, 0);

  r.events.clear();
  r.client.SetHost(u"");
  r.client.SetAddress(u"");
  EXPECT_THROW(r.client.Open(), ESocketError);
  EXPECT_EQ(r.events, (Events{"lookup", "error"}));
  EXPECT_EQ(r.errors.back().first, eeLookup);
}

TEST(ClientSocket, ReadTimeOutRaisesWithinBoundsOrLetsTheHandlerRetry) {
  ScriptedServer server;
  server.Add(Script().Stall(10000));
  server.Add(Script().Stall(400).Send("late"));

  Recorder r;
  r.client.SetAddress(u"127.0.0.1");
  r.client.SetPort(server.Port());
  r.client.SetReadTimeout(200);
  r.client.Open();
  char buf[16];
  auto start = Clock::now();
  try {
    r.S().ReceiveBuf(buf, sizeof buf);
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Message(), Str("Read timed out after 200 ms"));
  }
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(waited, 150);
  EXPECT_LT(waited, 3000);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].first, eeReceive);
  EXPECT_EQ(r.errors[0].second, ETIMEDOUT);
  // The abandoned answer must not surface in a later exchange: the connection is gone.
  EXPECT_FALSE(r.client.Active());
  EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "disconnect"), 0);

  // Waved through by the handler, a time-out leaves the connection for another try.
  r.suppress = true;
  r.client.SetReadTimeout(100);
  r.client.Open();
  EXPECT_EQ(r.S().ReceiveBuf(buf, sizeof buf), -1);
  EXPECT_TRUE(r.client.Active());
  r.client.SetReadTimeout(0);
  EXPECT_EQ(r.ReadAll(), "late");
}

TEST(ClientSocket, ConnectTimeOutEndsAnAttemptThatNeverCompletes) {
  // A listener that never accepts, with its queue filled, leaves new connects pending.
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  socklen_t len = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(fd);
  }

  Recorder r;
  r.client.SetAddress(u"127.0.0.1");
  r.client.SetPort(ntohs(a.sin_port));
  r.client.SetConnectTimeout(300);
  auto start = Clock::now();
  try {
    r.client.Open();
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Message(), Str("Socket error: Connection timed out (110), on API 'connect'"));
  }
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(waited, 250);
  EXPECT_LT(waited, 3000);
  EXPECT_EQ(r.events, (Events{"lookup", "connecting", "error"}));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].first, eeConnect);
  EXPECT_EQ(r.errors[0].second, ETIMEDOUT);
  for (int fd : fillers) close(fd);
  close(listener);
}

TEST(ClientSocket, ConnectsOverIPv6AndCarriesZeroBytesBothWays) {
  ScriptedServer::Options o;
  o.family = ScriptedServer::kIPv6;
  ScriptedServer server(o);
  const std::string up("a\0b\0\0c", 6);
  const std::string down("\0\0x\0\xff\0", 6);
  server.Add(Script().ExpectBytes(up.size()).Send(down));

  Recorder r;
  r.client.SetAddress(u"::1");
  r.client.SetPort(server.Port());
  r.client.Open();
  EXPECT_EQ(r.S().RemoteAddress(), u"::1");
  EXPECT_EQ(r.Send(up), 6);
  EXPECT_EQ(r.ReadAll(), down);
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(server.Received(0), up);

  // The text forms carry one character per byte, zero bytes included.
  server.Add(Script().ExpectBytes(3).Send(down));
  r.client.Open();
  EXPECT_EQ(r.S().SendText(String(u"\0\xff\0", 3)), 3);
  EXPECT_EQ(r.ReadAll(), down);
  ASSERT_TRUE(server.WaitDone(2));
  EXPECT_EQ(server.Received(1), std::string("\0\xff\0", 3));
}

// Resolves every name to the addresses given, in order.
class FixedResolverSocket : public TClientSocket {
 public:
  using TClientSocket::TClientSocket;
  std::vector<std::pair<std::string, int>> addresses;  // numeric address, port

 protected:
  int Resolve(const std::string&, int, std::vector<TResolvedAddress>& out) override {
    for (auto& [addr, port] : addresses) {
      TResolvedAddress a;
      if (addr.find(':') != std::string::npos) {
        auto* s6 = reinterpret_cast<sockaddr_in6*>(&a.Addr);
        s6->sin6_family = AF_INET6;
        s6->sin6_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET6, addr.c_str(), &s6->sin6_addr);
        a.Length = sizeof *s6;
      } else {
        auto* s4 = reinterpret_cast<sockaddr_in*>(&a.Addr);
        s4->sin_family = AF_INET;
        s4->sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, addr.c_str(), &s4->sin_addr);
        a.Length = sizeof *s4;
      }
      out.push_back(a);
    }
    return 0;
  }
};

TEST(ClientSocket, TriesEveryResolvedAddressInTurn) {
  ScriptedServer server;  // 127.0.0.1 only
  server.SetDefault(Script().Send("hi"));
  const int refused = test::FreePort();

  // A name whose first addresses refuse (::1 has no listener, nor has the free port) still connects.
  FixedResolverSocket s(nullptr);
  s.SetHost(u"dual.example");
  s.SetPort(server.Port());
  s.addresses = {{"::1", server.Port()}, {"127.0.0.1", refused}, {"127.0.0.1", server.Port()}};
  int errorsSeen = 0;
  s.SetOnError([&](TObject*, TCustomWinSocket*, TErrorEvent, int&) { ++errorsSeen; });
  ASSERT_NO_THROW(s.Open());
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(errorsSeen, 0);
  EXPECT_EQ(s.Socket()->RemoteAddress(), u"127.0.0.1");
  EXPECT_EQ(s.Socket()->RemotePort(), server.Port());
  EXPECT_EQ(s.Socket()->RemoteHost(), u"dual.example");
  s.Close();

  // When none accepts, the one error reported is the last address's.
  s.addresses = {{"::1", server.Port()}, {"127.0.0.1", refused}};
  EXPECT_THROW(s.Open(), ESocketError);
  EXPECT_EQ(errorsSeen, 1);

  // The system resolver's answer for localhost is walked the same way, whatever its order.
  Recorder r;
  r.client.SetHost(u"localhost");
  r.client.SetPort(server.Port());
  ASSERT_NO_THROW(r.client.Open());
  EXPECT_EQ(r.ReadAll(), "hi");
}

TEST(ClientSocket, LargeTransfersArriveIntactBothWays) {
  ScriptedServer server;
  // A pattern of prime length shows any lost, doubled or reordered chunk.
  std::string pattern;
  for (int i = 0; i < 251; ++i) pattern.push_back(static_cast<char>(i * 7 + 3));
  const size_t down = 5u * 1024 * 1024 + 17;
  std::string up(3u * 1024 * 1024 + 5, '\0');
  for (size_t i = 0; i < up.size(); ++i) up[i] = static_cast<char>((i * 31) ^ (i >> 9));
  server.Add(Script().ExpectBytes(up.size()).SendRepeated(pattern, down));

  Recorder r;
  r.client.SetAddress(u"127.0.0.1");
  r.client.SetPort(server.Port());
  r.client.Open();
  EXPECT_EQ(r.Send(up), static_cast<int>(up.size()));
  std::string got = r.ReadAll();
  ASSERT_EQ(got.size(), down);
  size_t bad = std::string::npos;
  for (size_t i = 0; i < got.size() && bad == std::string::npos; ++i)
    if (got[i] != pattern[i % pattern.size()]) bad = i;
  EXPECT_EQ(bad, std::string::npos) << "first wrong byte at " << bad;
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_TRUE(server.Received(0) == up);
}

TEST(ClientSocket, BrokenConnectionsFailReadsAndWritesWithoutKillingTheProcess) {
  ScriptedServer server;
  server.Add(Script().ReadUntil("x").Reset());
  server.Add(Script().Close());

  Recorder r;
  r.client.SetAddress(u"127.0.0.1");
  r.client.SetPort(server.Port());
  r.client.Open();
  r.Send("x");
  char buf[64];
  try {
    r.S().ReceiveBuf(buf, sizeof buf);
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Message(), Str("Socket error: Connection reset by peer (104), on API 'recv'"));
  }
  EXPECT_EQ(r.errors.back().first, eeReceive);
  EXPECT_EQ(r.errors.back().second, ECONNRESET);
  EXPECT_FALSE(r.client.Active());

  // Writing on after the server has closed ends in EPIPE, which must raise: a SIGPIPE would end
  // the whole program instead.
  r.client.Open();
  ASSERT_TRUE(server.WaitDone(2));
  const std::string block(64 * 1024, 'z');
  bool raised = false;
  for (int i = 0; i < 100 && !raised; ++i) {
    try {
      r.Send(block);
    } catch (const ESocketError& e) {
      raised = true;
      EXPECT_NE(e.Message().find(u"on API 'send'"), String::npos) << e.what();
    }
  }
  EXPECT_TRUE(raised);
  EXPECT_EQ(r.errors.back().first, eeSend);
  EXPECT_TRUE(r.errors.back().second == EPIPE || r.errors.back().second == ECONNRESET) << r.errors.back().second;
  EXPECT_FALSE(r.client.Active());
}

TEST(ClientSocket, ReplacedTransportCarriesTheTraffic) {
  // A transport that upper-cases what it writes stands in for a TLS layer over the descriptor.
  struct Shouting : TTcpTransport {
    using TTcpTransport::TTcpTransport;
    int writes = 0;
    ssize_t Write(const void* buf, size_t count, int timeoutMs, int* error) override {
      ++writes;
      std::string s(static_cast<const char*>(buf), count);
      for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      return TTcpTransport::Write(s.data(), s.size(), timeoutMs, error);
    }
  };
  ScriptedServer server;
  server.Add(Script().ExpectBytes(5).Send("ok"));
  Recorder r;
  r.client.SetAddress(u"127.0.0.1");
  r.client.SetPort(server.Port());
  r.client.Open();
  auto transport = std::make_unique<Shouting>(r.S().Handle());
  Shouting* raw = transport.get();
  r.S().SetTransport(std::move(transport));
  EXPECT_EQ(r.S().Transport(), raw);
  r.Send("hello");
  EXPECT_GE(raw->writes, 1);
  EXPECT_EQ(r.ReadAll(), "ok");
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(server.Received(0), "HELLO");
}

TEST(UdpSocket, ExchangesDatagramsOnlyWithItsPeer) {
  auto bound = [] {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
  };
  auto portOf = [](int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return static_cast<int>(ntohs(a.sin_port));
  };
  int peer = bound(), stranger = bound();

  TUdpSocket udp;
  udp.Open(u"127.0.0.1", portOf(peer));
  ASSERT_TRUE(udp.Active());
  udp.Send(std::string("q\0q", 3));
  char buf[64];
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  ASSERT_EQ(recvfrom(peer, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen), 3);
  EXPECT_EQ(std::string(buf, 3), std::string("q\0q", 3));

  // A datagram from anyone else is filtered out; the peer's reply arrives.
  sendto(stranger, "spoof", 5, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
  sendto(peer, "answer", 6, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
  ASSERT_EQ(udp.Receive(buf, sizeof buf, 2000), 6);
  EXPECT_EQ(std::string(buf, 6), "answer");

  auto start = Clock::now();
  EXPECT_EQ(udp.Receive(buf, sizeof buf, 150), -1);
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(waited, 100);
  EXPECT_LT(waited, 2000);

  udp.Close();
  EXPECT_THROW(udp.Send("x"), ESocketError);
  EXPECT_THROW(udp.Open(u"no-such-host.invalid", 123), ESocketError);
  close(peer);
  close(stranger);
}

}  // namespace
}  // namespace ktinet
