// The socket protocol clients against servers that misbehave on purpose: answers without end,
// header lines without end, bodies cut short, answers to questions nobody asked, status lines
// split across reads, keep-alive servers that never close. Every case ends with an error text
// or a whole answer, never with memory growing or a wait for a close that does not come.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/KtInCnst.h"
#include "protocols/KtIDNS.h"
#include "protocols/KtIHTTP.h"
#include "protocols/KtITime.h"
#include "protocols/KtIWeath.h"
#include "protocols/KtWhoIs.h"
#include "support/RunTool.h"
#include "support/ScriptedServer.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

const std::string kEnd = "Keep-Alive\r\n\r\n";
// Longer than any client here waits: a client that waited for the close would fail with its
// read time-out instead of returning the answer.
constexpr int kStallMs = 6000;
constexpr int kReadTimeoutMs = 3000;
// Endless, as far as any client can tell.
constexpr size_t kEndless = size_t{1} << 40;

std::string Bytes(const String& s) { return StringToBytes(s); }

std::unique_ptr<TKtIHTTPClient> Client(const ScriptedServer& server, TKtIHTTPAction action = haGet) {
  auto http = std::make_unique<TKtIHTTPClient>(nullptr);
  http->SetHost(u"127.0.0.1");
  http->SetPort(server.Port());
  http->SetAction(action);
  http->SetRequest(u"/d");
  http->SetReadTimeout(kReadTimeoutMs);
  return http;
}

TEST(HostileHttp, HeaderLinesAndBlocksHaveLimits) {
  ScriptedServer server;
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\n").SendRepeated("X-Filler: 0123456789\r\n", kEndless));
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\nX-Long: ").SendRepeated("a", kEndless));
  // Just within both limits: one line of 64 KiB, and 250 KiB of lines.
  const std::string longLine = "X-Long: " + std::string(THttpAnswerScanner::MaxHeaderLine - 8, 'a') + "\r\n";
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\n" + longLine + "\r\nbody"));
  std::string manyLines;
  while (manyLines.size() < 250 * 1024) manyLines += "X-Filler: 0123456789\r\n";
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\n" + manyLines + "\r\nbody"));
  // The limits are the header's: a body of endless lines is no header.
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\n\r\n").SendRepeated("line\r\n", 3 << 20));

  auto http = Client(server);
  EXPECT_EQ(http->Execute(), u"The answer's header lines are longer than 262144 bytes together; reading stopped");
  EXPECT_EQ(http->Execute(), u"A header line of the answer is longer than 65536 bytes; reading stopped");
  EXPECT_EQ(Bytes(http->Execute()), "body\r\n");
  EXPECT_EQ(http->GetResponse(u"X-Long"), BytesToString(longLine.substr(0, longLine.size() - 2)));
  EXPECT_EQ(Bytes(http->Execute()), "body\r\n");
  EXPECT_EQ(http->Execute().size(), size_t{3} << 20);
  EXPECT_TRUE(http->LastError().empty()) << UTF8Encode(http->LastError());
}

TEST(HostileHttp, MaxSizeEndsAnAnswerWithoutEnd) {
  ScriptedServer server;
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\n\r\n").SendRepeated("0123456789", kEndless));
  // A body announced larger than the limit is refused before it is read.
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 999999999\r\n\r\n").Stall(kStallMs));
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\n\r\n" + std::string(1000, 'x')));
  auto http = Client(server);
  http->SetMaxSize(1 << 20);
  EXPECT_EQ(http->Execute(), u"The answer is larger than MaxSize (1048576 bytes); reading stopped");
  EXPECT_EQ(http->Execute(), u"The answer is larger than MaxSize (1048576 bytes); reading stopped");
  http->SetRemoveHeaders(false);
  EXPECT_EQ(http->Execute().size(), 1019u);
}

TEST(HostileHttp, BodyCutShortFails) {
  ScriptedServer server;
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789"));
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789").Reset());
  // HEAD, 204 and 304 answers announce a length but carry no body.
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 304 Not Modified\r\nContent-Length: 1000\r\n\r\n"));
  // A length that is no number of bytes counts as none: the body ends with the close.
  for (const char* bad : {"1e3", "0x10", "18446744073709551626", "-5", "10, 20"})
    server.Add(Script().ReadUntil(kEnd).Send(std::string("HTTP/1.0 200 OK\r\nContent-Length: ") + bad +
                                             "\r\n\r\n0123456789"));
  auto http = Client(server);
  http->SetRemoveHeaders(false);
  EXPECT_EQ(http->Execute(), u"The answer was cut short: 10 of the 1000 body bytes its Content-Length announces arrived");
  EXPECT_FALSE(http->LastError().empty());
  String reset = http->Execute();
  EXPECT_FALSE(http->LastError().empty()) << UTF8Encode(reset);
  EXPECT_EQ(Bytes(http->Execute()), "HTTP/1.0 304 Not Modified\r\nContent-Length: 1000\r\n\r\n");
  EXPECT_TRUE(http->LastError().empty());
  for (int i = 0; i < 5; ++i) {
    std::string answer = Bytes(http->Execute());
    EXPECT_EQ(answer.substr(answer.size() - 14), "\r\n\r\n0123456789") << answer;
    EXPECT_TRUE(http->LastError().empty()) << answer;
  }
}

TEST(HostileHttp, KeepAliveAnswerEndsWithItsContentLength) {
  ScriptedServer server;
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello").Stall(kStallMs));
  // The length split from its body across reads, and bytes past the end (which are dropped).
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r").Stall(200).Send("\nhel").Stall(200)
                 .Send("loEXTRA").Stall(kStallMs));
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n").Stall(kStallMs));
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n").Stall(kStallMs));
  auto http = Client(server);
  EXPECT_EQ(Bytes(http->Execute()), "hello\r\n");
  EXPECT_TRUE(http->LastError().empty()) << UTF8Encode(http->LastError());
  EXPECT_EQ(Bytes(http->Execute()), "hello\r\n");
  EXPECT_TRUE(http->LastError().empty()) << UTF8Encode(http->LastError());
  EXPECT_EQ(Bytes(http->Execute()), "");
  EXPECT_TRUE(http->LastError().empty()) << UTF8Encode(http->LastError());
  // HEAD: the header lines are the whole answer.
  http->SetAction(haHead);
  EXPECT_EQ(Bytes(http->Execute()), "");
  EXPECT_EQ(http->GetResponse(u"Content-Length"), u"Content-Length: 12");
  EXPECT_TRUE(http->LastError().empty()) << UTF8Encode(http->LastError());
  EXPECT_EQ(server.ConnectionCount(), 4u);
}

TEST(HostileHttp, StatusLineSplitAcrossReads) {
  ScriptedServer server;
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 ").Stall(300).Send("404 Not Found\r\n\r\n"));
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 4").Stall(300).Send("01 Unauthorized\r\n\r\n"));
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc"));
  auto http = Client(server);
  EXPECT_EQ(http->Execute(), strKtInEFileNotFound);
  EXPECT_EQ(http->Execute(), strKtInEAuthRequired);
  // Each error leaves the rest of its answer on its own connection: the next request starts anew.
  EXPECT_EQ(Bytes(http->Execute()), "abc\r\n");
  EXPECT_EQ(server.ConnectionCount(), 3u);
}

TEST(HostileHttp, HostLineCarriesAPortOtherThan80) {
  ScriptedServer server;
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\n\r\n"));
  server.Add(Script().ReadUntil("\r\n\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n"));
  auto http = Client(server);
  const std::string port = std::to_string(server.Port());
  http->Execute();
  // UseProxy without a proxy server goes straight to the destination: origin form, no proxy
  // credentials, no logon prompt.
  http->Proxy()->SetUseProxy(true);
  http->Proxy()->SetUser(u"proxyuser");
  http->Proxy()->SetPassword(u"proxypass");
  http->Execute();
  ASSERT_TRUE(server.WaitDone(2));
  EXPECT_EQ(server.Received(0), "GET /d HTTP/1.0\r\nHost: 127.0.0.1:" + port + "\r\n\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(server.Received(1), "GET /d HTTP/1.0\r\nHost: 127.0.0.1:" + port + "\r\n\r\n\r\n");
  EXPECT_EQ(HttpAuthority(u"example.test", 80), u"example.test");
  EXPECT_EQ(HttpAuthority(u"::1", 8080), u"[::1]:8080");
}

TEST(HostileWeather, HostLineAndProxyFormNameTheSite) {
  ScriptedServer site, proxy;
  site.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 26\r\n\r\nCLASS=obsTempTextA>21&deg;").Stall(kStallMs));
  proxy.Add(Script().ReadUntil("\r\n\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nCLASS=obsTempTextA>22"));
  proxy.Add(Script().ReadUntil("\r\n\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nCLASS=obsTempTextA>23"));
  TKtWeatherInfo w(nullptr);
  w.SetReadTimeout(kReadTimeoutMs);
  w.SetZip(u"10001");
  w.SetHost(u"127.0.0.1");
  w.SetPort(site.Port());
  w.Execute();
  EXPECT_TRUE(w.LastError().empty()) << UTF8Encode(w.LastError()) << " (a keep-alive page ends with its length)";
  EXPECT_EQ(w.Temperature(), 21);

  const std::string path = "/weather/local/10001?lswe=10001&lswa=WeatherLocalUndeclared&GO=GO&whatprefs=";
  w.SetLoginPrompt(false);
  w.Proxy()->SetUseProxy(true);
  w.Proxy()->SetServer(u"127.0.0.1");
  w.Proxy()->SetPort(proxy.Port());
  w.SetHost(TKtWeatherInfo::DefaultHost);
  w.SetPort(80);
  w.Execute();
  EXPECT_EQ(w.Temperature(), 22);
  w.SetHost(u"weather.example.test");
  w.SetPort(8080);
  w.Execute();
  EXPECT_EQ(w.Temperature(), 23);
  ASSERT_TRUE(site.WaitDone(1, 10000));
  ASSERT_TRUE(proxy.WaitDone(2));
  EXPECT_EQ(site.Received(0), "GET " + path + "   HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(site.Port()) +
                                  "\r\n\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(proxy.Received(0), "GET http://www.weather.com" + path + "   HTTP/1.0\r\nHost: www.weather.com\r\n\r\n\r\n");
  EXPECT_EQ(proxy.Received(1), "GET http://weather.example.test:8080" + path +
                                   "   HTTP/1.0\r\nHost: weather.example.test:8080\r\n\r\n\r\n");
}

TEST(HostileWhois, OnlyAnHttpAnswerIsReadForAStatus) {
  ScriptedServer server;
  const std::string record = "domain: 401k.test\r\nstatus: active\r\n";
  server.Add(Script().ReadUntil(kEnd).Send(record));
  server.Add(Script().ReadUntil(kEnd).Send("Domain 404.test is free\r\n"));
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n"));
  TKtWhoIs whois(nullptr);
  whois.SetAutoSelectServer(false);
  whois.SetHost(u"127.0.0.1");
  whois.SetPort(server.Port());
  whois.SetReadTimeout(kReadTimeoutMs);
  whois.SetDomain(u"401k.test");
  EXPECT_EQ(Bytes(whois.Execute()), record);
  EXPECT_TRUE(whois.LastError().empty());
  EXPECT_EQ(Bytes(whois.Execute()), "Domain 404.test is free\r\n");
  EXPECT_EQ(whois.Execute(), strKtInEProxyAuth);
}

TEST(HostileDaytime, AnAnswerLongerThanALineIsRefused) {
  ScriptedServer server;
  server.Add(Script().SendRepeated("61000 20-12-06 13:34:51 00 0 0  0.0 UTC(NIST) *\n", kEndless));
  const std::string line = "\n61000 20-12-06 13:34:51 00 0 0  0.0 UTC(NIST) *\n";
  server.Add(Script().Send(std::string(TKtInetDateTime::MaxAnswer - line.size(), 'x') + line));
  TKtInetDateTime daytime(nullptr);
  daytime.SetHost(u"127.0.0.1");
  daytime.SetPort(server.Port());
  daytime.SetReadTimeout(kReadTimeoutMs);
  EXPECT_EQ(daytime.DateTime(), EncodeDate(2001, 1, 1) + EncodeTime(1, 1, 1, 0));
  EXPECT_EQ(daytime.LastError(), u"The daytime answer is longer than 4096 bytes: no daytime server sends that much; "
                                 u"reading stopped");
  // An answer of exactly the limit is read; the error before left nothing for it to trip on.
  EXPECT_EQ(daytime.DateTime(), EncodeDate(2020, 12, 6) + EncodeTime(13, 34, 51, 0));
  EXPECT_TRUE(daytime.LastError().empty()) << UTF8Encode(daytime.LastError());
}

// ---- DNS ------------------------------------------------------------------------------------

std::string Word(unsigned v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
std::string Framed(const std::string& m) { return Word(static_cast<unsigned>(m.size())) + m; }
const std::string kZone = std::string("\7example\4test\0", 14);
// One framed query for example.test: length, header, name, type and class.
constexpr size_t kQuerySize = 2 + 12 + 14 + 4;

std::string Record(unsigned type, const std::string& data) {
  return std::string("\xC0\x0C", 2) + Word(type) + Word(1) + std::string("\0\0\1\0", 4) +
         Word(static_cast<unsigned>(data.size())) + data;
}
std::string Soa() { return Record(6, std::string("\2ns\xC0\x0C", 5) + std::string("\4host\xC0\x0C", 7) + std::string(20, '\1')); }
std::string A(char last) { return Record(1, std::string("\xC0\0\2", 3) + last); }

// A message of identifier 0x12nn with the question for type and these answer records.
std::string Message(unsigned index, unsigned type, const std::vector<std::string>& answers, unsigned flags = 0x8400) {
  std::string m = "\x12" + std::string(1, static_cast<char>(index)) + Word(flags) + Word(1) +
                  Word(static_cast<unsigned>(answers.size())) + Word(0) + Word(0) + kZone + Word(type) + Word(1);
  for (const std::string& a : answers) m += a;
  return m;
}

std::unique_ptr<TKtIDNSResolver> Resolver(const ScriptedServer& server, TKtIDNSRequests requests) {
  auto dns = std::make_unique<TKtIDNSResolver>(nullptr);
  dns->SetHost(u"127.0.0.1");
  dns->SetPort(server.Port());
  dns->SetReadTimeout(kReadTimeoutMs);
  dns->SetDomain(u"example.test");
  dns->SetRequests(requests);
  return dns;
}

TEST(HostileDns, AnswersThatBelongToNoQueryAreRefused) {
  ScriptedServer server;
  // Identifier 0x1207 for the one query 0x1200; then the right answer, which must not be read
  // as the answer of the next Execute.
  server.Add(Script().ExpectBytes(kQuerySize).Send(Framed(Message(7, 1, {A(1)}))).Stall(300)
                 .Send(Framed(Message(0, 1, {A(2)}))).ReadUntilClose());
  // The question sent back as it went: QR 0.
  server.Add(Script().ExpectBytes(kQuerySize).Send(Framed(Message(0, 1, {}, 0x0100))));
  server.Add(Script().ExpectBytes(kQuerySize).Send(Framed(std::string("\x12\0\x81", 3))));
  // One answer twice, for two queries.
  server.Add(Script().ExpectBytes(kQuerySize).Send(Framed(Message(0, 1, {A(3)})) + Framed(Message(0, 1, {A(3)}))));
  server.Add(Script().ExpectBytes(kQuerySize).Send(Framed(Message(0, 1, {A(4)}))));
  auto dns = Resolver(server, {irA});
  EXPECT_EQ(dns->Execute(), u"The server sent a DNS message with the identifier 0x1207, which no query carries");
  EXPECT_EQ(dns->Execute(), u"The server sent a query (QR bit 0) with the identifier 0x1200, not an answer");
  EXPECT_EQ(dns->Execute(), u"The server sent a DNS message of 3 bytes, shorter than the 12-byte header");
  dns->SetRequests({irA, irMX});
  EXPECT_EQ(dns->Execute(), u"The server answered the query with the identifier 0x1200 more than once");
  dns->SetRequests({irA});
  EXPECT_EQ(Bytes(dns->Execute()), Framed(Message(0, 1, {A(4)})));
  EXPECT_TRUE(dns->LastError().empty());
  EXPECT_EQ(server.ConnectionCount(), 5u) << "every error text is followed by a fresh connection";
}

TEST(HostileDns, ZoneTransferIsReadToItsClosingSoa) {
  ScriptedServer server;
  const std::string first = Framed(Message(0, 252, {Soa(), A(1), A(2)}));
  const std::string middle = Framed(Message(0, 252, {A(3)}));
  const std::string last = Framed(Message(0, 252, {A(4), Soa()}));
  // Three messages, the last split across reads; then the server keeps the connection open.
  server.Add(Script().ExpectBytes(kQuerySize).Send(first).Stall(200).Send(middle + last.substr(0, 9))
                 .Stall(200).Send(last.substr(9)).Stall(kStallMs));
  // One message that opens and closes the zone.
  const std::string whole = Framed(Message(0, 252, {Soa(), A(1), Soa()}));
  server.Add(Script().ExpectBytes(kQuerySize).Send(whole).Stall(kStallMs));
  // A refusal ends the transfer at once.
  const std::string refused = Framed(Message(0, 252, {}, 0x8405));
  server.Add(Script().ExpectBytes(kQuerySize).Send(refused).Stall(kStallMs));
  // A server that closes before the closing SOA: what came is the answer.
  server.Add(Script().ExpectBytes(kQuerySize).Send(first + middle));
  server.Add(Script().ExpectBytes(kQuerySize).Send(Framed(Message(0, 252, {A(1), Soa()}))).Stall(kStallMs));
  // The A query (0x1200) and the transfer (0x1201) on one connection, their answers interleaved.
  const std::string a = Framed(Message(0, 1, {A(9)}));
  const std::string first1 = Framed(Message(1, 252, {Soa(), A(1)})), last1 = Framed(Message(1, 252, {Soa()}));
  server.Add(Script().ExpectBytes(2 * kQuerySize).Send(first1 + a + last1).Stall(kStallMs));

  auto dns = Resolver(server, {irTransferRequest});
  String answer = dns->Execute();
  EXPECT_TRUE(dns->LastError().empty()) << UTF8Encode(dns->LastError());
  EXPECT_EQ(Bytes(answer), first + middle + last);
  auto messages = DecodeDNSAnswer(answer);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[2].Answers.back().Type, 6);
  EXPECT_EQ(Bytes(dns->Execute()), whole);
  EXPECT_EQ(Bytes(dns->Execute()), refused);
  EXPECT_EQ(Bytes(dns->Execute()), first + middle);
  EXPECT_TRUE(dns->LastError().empty()) << UTF8Encode(dns->LastError());
  EXPECT_EQ(dns->Execute(), u"The zone transfer does not begin with an SOA record");
  dns->SetRequests({irA, irTransferRequest});
  EXPECT_EQ(Bytes(dns->Execute()), a + first1 + last1) << "in the order of the queries";
  EXPECT_TRUE(dns->LastError().empty()) << UTF8Encode(dns->LastError());
}

TEST(HostileDns, MaxSizeBoundsAZoneTransfer) {
  ScriptedServer server;
  Script endless = Script().ExpectBytes(kQuerySize).Send(Framed(Message(0, 252, {Soa()})));
  const std::string more = Framed(Message(0, 252, {A(5), A(6), A(7)}));
  endless.SendRepeated(more, more.size() * 100000);
  server.Add(endless);
  auto dns = Resolver(server, {irTransferRequest});
  dns->SetMaxSize(1 << 20);
  EXPECT_EQ(dns->Execute(), u"The answer is larger than MaxSize (1048576 bytes); reading stopped");
}

// ---- the program ----------------------------------------------------------------------------

TEST(HostileTool, EveryCaseEndsWithExitOneAndItsCause) {
  ScriptedServer server;
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789"));
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\n\r\n").SendRepeated("0123456789", kEndless));
  server.Add(Script().ReadUntil(kEnd).Send("HTTP/1.0 200 OK\r\n\r\n").SendRepeated("0123456789", 100000));
  server.Add(Script().SendRepeated("61000 20-12-06 13:34:51 00 0 0  0.0 UTC(NIST) *\n", kEndless));
  server.Add(Script().ExpectBytes(kQuerySize).Send(Framed(Message(9, 1, {A(1)}))));
  const std::string port = std::to_string(server.Port());
  const std::string url = "http://127.0.0.1:" + port + "/d";

  auto run = test::RunToolArgs({"http", url, "--timeout", "10"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "ktinet http: The answer was cut short: 10 of the 1000 body bytes its Content-Length announces "
                     "arrived\n");
  run = test::RunToolArgs({"http", url, "--timeout", "10", "--max-size", "100000"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "ktinet http: The answer is larger than MaxSize (100000 bytes); reading stopped\n");
  run = test::RunToolArgs({"http", url, "--timeout", "10", "--max-size", "0"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.size(), 100000u);
  run = test::RunToolArgs({"daytime", "--host", "127.0.0.1", "--port", port, "--timeout", "10"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "ktinet daytime: The daytime answer is longer than 4096 bytes: no daytime server sends that "
                     "much; reading stopped\n");
  run = test::RunToolArgs({"dns", "example.test", "--server", "127.0.0.1", "--port", port, "--timeout", "10"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "ktinet dns: The server sent a DNS message with the identifier 0x1209, which no query carries\n");

  EXPECT_EQ(test::RunToolArgs({"whois", "--max-size", "-1", "example.com"}).status, 2);
  EXPECT_EQ(test::RunToolArgs({"http", url, "--max-size", "lots"}).status, 2);
  run = test::RunToolArgs({"weather", "--help"});
  EXPECT_NE(run.out.find("--max-size BYTES"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace ktinet
