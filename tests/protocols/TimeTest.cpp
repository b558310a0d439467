// The daytime and SNTP clients: NIST parsing, SNTP conversions, the datagram exchange against
// fakes that misbehave, and a real chronyd.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/TimeZone.h"
#include "protocols/KtISNTP.h"
#include "protocols/KtITime.h"
#include "support/ChronyServer.h"
#include "support/Net.h"
#include "support/ScriptedServer.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

// Sets TZ for one test and puts the old value back.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) FOld = old, FHad = true;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneGuard() {
    FHad ? ::setenv("TZ", FOld.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string FOld;
  bool FHad = false;
};

constexpr double kMs = 1.0 / 86400000.0;

TEST(Daytime, ParsesNistAnswersAsTheServerSendsThem) {
  EXPECT_EQ(NISTDaytimeToDateTime(u"\n59189 20-12-06 13:34:51 00 0 0  50.0 UTC(NIST) * \n"),
            EncodeDateTime(2020, 12, 6, 13, 34, 51, 0));
  // Only the first seven separators count: the fields after the time change nothing.
  EXPECT_EQ(NISTDaytimeToDateTime(u"\n59189 20-12-06 13:34:51 99 9 9 \n"), EncodeDateTime(2020, 12, 6, 13, 34, 51, 0));
  // Nothing at all, or no digits after the day number, gives 2001-01-01 01:01:01.
  EXPECT_EQ(NISTDaytimeToDateTime(u""), EncodeDateTime(2001, 1, 1, 1, 1, 1, 0));
  EXPECT_EQ(NISTDaytimeToDateTime(u"59189 no date here\n"), EncodeDateTime(2001, 1, 1, 1, 1, 1, 0));
  // The last character is never examined: a final digit of the seconds is lost.
  EXPECT_EQ(NISTDaytimeToDateTime(u"\n59189 20-12-06 13:34:51"), EncodeDateTime(2020, 12, 6, 13, 34, 5, 0));
  // Short years are widened; four digits stay.
  EXPECT_EQ(NISTDaytimeToDateTime(u"1 7-1-2 3:4:5 \n"), EncodeDateTime(2007, 1, 2, 3, 4, 5, 0));
  EXPECT_EQ(NISTDaytimeToDateTime(u"1 123-1-2 3:4:5 \n"), EncodeDateTime(2123, 1, 2, 3, 4, 5, 0));
  EXPECT_EQ(NISTDaytimeToDateTime(u"1 1999-1-2 3:4:5 \n"), EncodeDateTime(1999, 1, 2, 3, 4, 5, 0));
  // Two separators in a row each count, shifting the fields: 20 becomes the month.
  EXPECT_THROW(NISTDaytimeToDateTime(u"1  20-12-06 13:34:51 \n"), EConvertError);
  EXPECT_THROW(NISTDaytimeToDateTime(u"1 20-13-06 13:34:51 \n"), EConvertError);
  EXPECT_THROW(NISTDaytimeToDateTime(u"1 20-12-06 25:34:51 \n"), EConvertError);
  // Too many digits for a number, and a number that only a wrap-around would make valid.
  EXPECT_THROW(NISTDaytimeToDateTime(u"1 20-12-99999999999 13:34:51 \n"), EConvertError);
  EXPECT_THROW(NISTDaytimeToDateTime(u"1 20-65537-06 13:34:51 \n"), EConvertError);
}

TEST(Daytime, ReadsWhatTheServerSendsFirst) {
  ScriptedServer server;
  server.Add(Script().Send("\n59189 20-12-06 13:34:51 00 0 0  50.0 UTC(NIST) * \n"));
  server.Add(Script().Close());
  TKtInetDateTime daytime(nullptr);
  EXPECT_EQ(daytime.Port(), 13);
  EXPECT_FALSE(daytime.Host().empty());
  daytime.SetHost(u"127.0.0.1");
  daytime.SetPort(server.Port());
  daytime.SetReadTimeout(5000);
  EXPECT_EQ(daytime.DateTime(), EncodeDateTime(2020, 12, 6, 13, 34, 51, 0));
  EXPECT_EQ(daytime.DateTime(), EncodeDateTime(2001, 1, 1, 1, 1, 1, 0));
  ASSERT_TRUE(server.WaitDone(2));
  EXPECT_EQ(server.Received(0), "") << "the client must not send a query";
}

TEST(Sntp, ConversionsBiasAndRequest) {
  EXPECT_EQ(TKtInetSNTP::SwapBytes(0x11223344), 0x44332211);
  EXPECT_EQ(TKtInetSNTP::SwapBytes(static_cast<Integer>(0xF0E0D0C0u)), static_cast<Integer>(0xC0D0E0F0u));

  TKtInetSNTP sntp(nullptr);
  EXPECT_EQ(sntp.Port(), 123);
  {
    ZoneGuard zone("<+02>-2");  // two hours east of Greenwich, no daylight saving
    EXPECT_EQ(TimeZoneBiasMinutes(), -120);
    EXPECT_DOUBLE_EQ(sntp.TimeZoneBias(), -120 / 1440.0);
    EXPECT_NEAR(sntp.NTPTimestamp2DateTime(static_cast<Integer>(2208988800u), 0), 25569 + 2 / 24.0, kMs);
  }
  {
    ZoneGuard zone("<-05>5<-04>,M3.2.0,M11.1.0");  // New York's rules
    EXPECT_EQ(GetTimeZoneBias(1767225600).Minutes, 300);  // 2026-01-01
    EXPECT_FALSE(GetTimeZoneBias(1767225600).Daylight);
    EXPECT_EQ(GetTimeZoneBias(1783000000).Minutes, 240);  // July 2026
    EXPECT_TRUE(GetTimeZoneBias(1783000000).Daylight);
  }
  ZoneGuard utc("UTC0");
  // The top bit set: 1968-2036.
  EXPECT_NEAR(sntp.NTPTimestamp2DateTime(static_cast<Integer>(0x80000000u), 0),
              EncodeDateTime(1968, 1, 20, 3, 14, 8, 0), kMs);
  EXPECT_NEAR(sntp.NTPTimestamp2DateTime(static_cast<Integer>(3976214400u), static_cast<Integer>(0x80000000u)),
              EncodeDateTime(2026, 1, 1, 0, 0, 0, 500), kMs);
  // Milliseconds are cut, never rounded up into the next second.
  EXPECT_NEAR(sntp.NTPTimestamp2DateTime(static_cast<Integer>(3976214400u), -1),
              EncodeDateTime(2026, 1, 1, 0, 0, 0, 999), kMs);
  // The top bit clear: the seconds field has wrapped, 2036-2104.
  EXPECT_NEAR(sntp.NTPTimestamp2DateTime(0, 0), EncodeDateTime(2036, 2, 7, 6, 28, 16, 0), kMs);
  EXPECT_NEAR(sntp.NTPTimestamp2DateTime(86400, 0), EncodeDateTime(2036, 2, 8, 6, 28, 16, 0), kMs);

  std::string request = StringToBytes(sntp.GetQuery());
  ASSERT_EQ(request.size(), 48u);
  EXPECT_EQ(request[0], 0x1B);
  EXPECT_EQ(request.substr(1, 39), std::string(39, '\0'));
  std::uint32_t seconds = 0;
  for (int i = 0; i < 4; ++i) seconds = (seconds << 8) | static_cast<unsigned char>(request[40 + i]);
  EXPECT_NEAR(static_cast<double>(seconds), static_cast<double>(std::time(nullptr)) + 2208988800.0, 2.0);
}

// A UDP server on 127.0.0.1 whose replies a test writes; it can answer from a second port.
class FakeNtp {
 public:
  struct Reply {
    std::string bytes;
    bool fromOtherPort = false;
  };
  using Maker = std::function<std::vector<Reply>(const std::string& request)>;

  explicit FakeNtp(Maker maker) : FMaker(std::move(maker)) {
    FMain = Bound();
    FOther = Bound();
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(FMain, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { Serve(); });
  }
  ~FakeNtp() {
    FStop = true;
    FThread.join();
    ::close(FMain);
    ::close(FOther);
  }
  int Port() const { return FPort; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(FLock);
    return FRequests;
  }

 private:
  static int Bound() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
  }
  void Serve() {
    while (!FStop) {
      pollfd p{FMain, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buf[1024];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = ::recvfrom(FMain, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) continue;
      std::string request(buf, static_cast<size_t>(n));
      {
        std::lock_guard<std::mutex> lock(FLock);
        FRequests.push_back(request);
      }
      for (const Reply& r : FMaker(request))
        ::sendto(r.fromOtherPort ? FOther : FMain, r.bytes.data(), r.bytes.size(), 0,
                 reinterpret_cast<sockaddr*>(&from), len);
    }
  }

  Maker FMaker;
  int FMain = -1, FOther = -1, FPort = 0;
  std::atomic<bool> FStop{false};
  std::mutex FLock;
  std::vector<std::string> FRequests;
  std::thread FThread;
};

// A server's reply to request: 2026-01-01 00:00:00.500 UTC unless the caller changes fields.
std::string ReplyTo(const std::string& request, int leap = 0, int stratum = 2, int mode = 4,
                    std::uint32_t seconds = 3976214400u, std::uint32_t fraction = 0x80000000u) {
  std::string r(48, '\0');
  r[0] = static_cast<char>((leap << 6) | (4 << 3) | mode);
  r[1] = static_cast<char>(stratum);
  if (request.size() >= 48) r.replace(24, 8, request, 40, 8);
  for (int i = 0; i < 4; ++i) {
    r[40 + static_cast<size_t>(i)] = static_cast<char>(seconds >> (24 - 8 * i));
    r[44 + static_cast<size_t>(i)] = static_cast<char>(fraction >> (24 - 8 * i));
  }
  return r;
}

TDateTime AskFake(const FakeNtp::Maker& maker, std::vector<std::string>* requests = nullptr) {
  FakeNtp fake(maker);
  TKtInetSNTP sntp(nullptr);
  sntp.SetHost(u"127.0.0.1");
  sntp.SetPort(fake.Port());
  sntp.SetReadTimeout(300);
  TDateTime t = sntp.DateTime();
  EXPECT_TRUE(sntp.LastError().empty()) << UTF8Encode(sntp.LastError());
  if (requests) *requests = fake.Requests();
  return t;
}

TEST(Sntp, TakesOnlyAValidReplyToItsOwnRequest) {
  ZoneGuard utc("UTC0");
  const TDateTime expected = EncodeDateTime(2026, 1, 1, 0, 0, 0, 500);
  using R = FakeNtp::Reply;
  std::vector<std::string> requests;
  EXPECT_NEAR(AskFake([](const std::string& q) { return std::vector<R>{{ReplyTo(q)}}; }, &requests), expected, kMs);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].size(), 48u) << "one bare packet, no header block";
  EXPECT_EQ(requests[0][0], 0x1B);

  // Replies that are passed over: the wait ends without an answer.
  EXPECT_EQ(AskFake([](const std::string& q) { return std::vector<R>{{ReplyTo(q).substr(0, 47)}}; }), 0);
  EXPECT_EQ(AskFake([](const std::string& q) { return std::vector<R>{{ReplyTo(q, 0, 2, 3)}}; }), 0);
  EXPECT_EQ(AskFake([](const std::string& q) {
              std::string other = q;
              other[47] = static_cast<char>(other[47] ^ 1);
              return std::vector<R>{{ReplyTo(other)}};
            }),
            0);
  EXPECT_EQ(AskFake([](const std::string& q) { return std::vector<R>{{ReplyTo(q), true}}; }), 0);
  // Replies that arrive but mark the server unusable.
  EXPECT_EQ(AskFake([](const std::string& q) { return std::vector<R>{{ReplyTo(q, 0, 16)}}; }), 0);
  EXPECT_EQ(AskFake([](const std::string& q) { return std::vector<R>{{ReplyTo(q, 0, 0)}}; }), 0);
  EXPECT_EQ(AskFake([](const std::string& q) { return std::vector<R>{{ReplyTo(q, 3)}}; }), 0);
  EXPECT_EQ(AskFake([](const std::string& q) { return std::vector<R>{{ReplyTo(q, 0, 2, 4, 0, 0)}}; }), 0);

  // A stray datagram first does not end the wait for the real reply; a longer reply (with
  // extension fields) is fine; a seconds field that has wrapped lies after 2036.
  EXPECT_NEAR(AskFake([](const std::string& q) {
                std::string stray = q;
                stray[40] = 0;
                return std::vector<R>{{ReplyTo(stray)}, {ReplyTo(q) + std::string(20, 'x')}};
              }),
              expected, kMs);
  EXPECT_NEAR(AskFake([](const std::string& q) { return std::vector<R>{{ReplyTo(q, 0, 2, 4, 100, 0)}}; }),
              EncodeDateTime(2036, 2, 7, 6, 29, 56, 0), kMs);
}

TEST(Sntp, AReplyLongerThanAnyReplyIsAnError) {
  ZoneGuard utc("UTC0");
  // Extension fields up to the limit pass; one byte more makes the reply no reply.
  std::atomic<int> asked{0};
  FakeNtp fake([&asked](const std::string& q) {
    size_t extra = TKtInetSNTP::MaxReply - 48 + (asked++ == 0 ? 1 : 0);
    return std::vector<FakeNtp::Reply>{{ReplyTo(q) + std::string(extra, 'x')}};
  });
  TKtInetSNTP sntp(nullptr);
  sntp.SetHost(u"127.0.0.1");
  sntp.SetPort(fake.Port());
  sntp.SetReadTimeout(2000);
  EXPECT_EQ(sntp.DateTime(), 0);
  EXPECT_EQ(sntp.LastError(), u"The SNTP reply is 2049 bytes long, more than the 2048 a reply may have");
  EXPECT_NEAR(sntp.DateTime(), EncodeDateTime(2026, 1, 1, 0, 0, 0, 500), kMs);
  EXPECT_TRUE(sntp.LastError().empty()) << UTF8Encode(sntp.LastError());
}

TEST(Sntp, FiresTheSocketEventsOfADatagramExchange) {
  FakeNtp fake([](const std::string& q) { return std::vector<FakeNtp::Reply>{{ReplyTo(q)}}; });
  TKtInetSNTP sntp(nullptr);
  sntp.SetAddress(u"127.0.0.1");
  sntp.SetPort(fake.Port());
  std::vector<std::string> events;
  auto note = [&events](const char* name) {
    return [&events, name](TObject*, TCustomWinSocket*) { events.push_back(name); };
  };
  sntp.SetOnLookup(note("lookup"));
  sntp.SetOnConnecting(note("connecting"));
  sntp.SetOnConnect(note("connect"));
  sntp.SetOnSendTextToSocket(note("send"));
  sntp.SetOnReceiveTextFromSocket(note("receive"));
  sntp.SetOnDisconnect(note("disconnect"));
  sntp.SetOnBeforeExecute([&events](TObject*) { events.push_back("before"); });
  sntp.SetOnAfterExecute([&events](TObject*, String& text) { events.push_back("after " + std::to_string(text.size())); });
  EXPECT_NE(sntp.DateTime(), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"before", "lookup", "connecting", "connect", "send", "receive",
                                              "after 48", "disconnect"}));
  EXPECT_FALSE(sntp.Connected());

  // Kept open, the datagram socket serves the next exchange without a new look-up.
  events.clear();
  sntp.SetKeepConnection(true);
  EXPECT_NE(sntp.DateTime(), 0);
  EXPECT_NE(sntp.DateTime(), 0);
  EXPECT_EQ(std::count(events.begin(), events.end(), "lookup"), 1);
  EXPECT_TRUE(sntp.Connected());
}

TEST(Sntp, NobodyListeningIsAnErrorAndZero) {
  TKtInetSNTP sntp(nullptr);
  sntp.SetHost(u"127.0.0.1");
  sntp.SetPort(test::FreePort(true));
  sntp.SetReadTimeout(2000);
  std::vector<TErrorEvent> errors;
  sntp.SetOnError([&errors](TObject*, TCustomWinSocket*, TErrorEvent kind, int&) { errors.push_back(kind); });
  EXPECT_EQ(sntp.DateTime(), 0);
  EXPECT_EQ(errors, std::vector<TErrorEvent>{eeReceive});
  EXPECT_NE(UTF8Encode(sntp.LastError()).find("refused"), std::string::npos) << UTF8Encode(sntp.LastError());

  // A handler that clears the code makes it a plain "no answer".
  sntp.SetOnError([](TObject*, TCustomWinSocket*, TErrorEvent, int& code) { code = 0; });
  EXPECT_EQ(sntp.DateTime(), 0);
  EXPECT_TRUE(sntp.LastError().empty());

  TKtInetSNTP nohost(nullptr);
  nohost.SetHost(u"");
  EXPECT_THROW(nohost.DateTime(), Exception);
}

TEST(Sntp, RealNtpServerGivesTheTimeOfThisClock) {
  test::ChronyServer chrony;
  TKtInetSNTP sntp(nullptr);
  sntp.SetHost(u"127.0.0.1");
  sntp.SetPort(chrony.Port());
  sntp.SetReadTimeout(3000);
  String reply;
  sntp.SetOnAfterExecute([&reply](TObject*, String& text) { reply = text; });
  TDateTime t = sntp.DateTime();
  ASSERT_NE(t, 0) << UTF8Encode(sntp.LastError());
  EXPECT_NEAR(t, Now(), 1.0 / 86400);
  ASSERT_GE(reply.size(), 48u);
  EXPECT_EQ(reply[0] & 7, 4);
  EXPECT_GE(reply[1], 1);
  EXPECT_LE(reply[1], 15);
}

}  // namespace
}  // namespace ktinet
