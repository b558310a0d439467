// The DNS resolver: query bytes, the framed exchange (stopping at the answer's end, pipelined
// queries matched by identifier), the decoder against hand-made and malformed messages, and a
// real dnsmasq whose answers our decoder and dnspython read alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "protocols/KtIDNS.h"
#include "support/DnsmasqServer.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

using test::DnsmasqServer;
using test::Script;
using test::ScriptedServer;

std::string Word(unsigned v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
std::string Framed(const std::string& m) { return Word(static_cast<unsigned>(m.size())) + m; }
const std::string kExample = std::string("\7example\3com\0", 13);

std::string Query(TKtIDNSRequests requests, const String& domain) {
  TKtIDNSResolver r(nullptr);
  r.SetHost(u"127.0.0.1");
  r.SetRequests(requests);
  r.SetDomain(domain);
  return StringToBytes(r.GetQuery());
}

std::string QueryMessage(unsigned index, const std::string& name, unsigned type) {
  return "\x12" + std::string(1, static_cast<char>(index)) + std::string("\1\0\0\1\0\0\0\0\0\0", 10) + name +
         Word(type) + Word(1);
}

TEST(DnsQuery, OneFramedQueryPerTypeInTheEnumerationsOrder) {
  EXPECT_EQ(Query({irA}, u"example.com"), Framed(QueryMessage(0, kExample, 1)));
  // The set's order of insertion does not matter; the enumeration's does.
  EXPECT_EQ(Query({irMX, irA}, u"example.com"),
            Framed(QueryMessage(0, kExample, 1)) + Framed(QueryMessage(1, kExample, 15)));
  EXPECT_EQ(Query({irA}, u"example.com."), Query({irA}, u"example.com"));
  EXPECT_EQ(Query({irPTR}, u"192.0.2.1"),
            Framed(QueryMessage(0, std::string("\0011\0012\0010\003192\7in-addr\4arpa\0", 24), 12)));

  TKtIDNSRequests all;
  for (int i = 0; i < KtIDNSRequestCount; ++i) all.Include(static_cast<TKtIDNSRequest>(i));
  EXPECT_EQ(all.Count(), 17);
  const unsigned types[] = {255, 1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 252, 253};
  std::string expected;
  for (unsigned i = 0; i < 17; ++i)
    expected += Framed(QueryMessage(i, i == 10 ? std::string("\3com\7example\7in-addr\4arpa\0", 26) : kExample,
                                    types[i]));
  EXPECT_EQ(Query(all, u"example.com"), expected);

  EXPECT_EQ(Query({}, u"example.com"), "");
  EXPECT_EQ(Query({irA}, u""), "");
  TKtIDNSResolver noServer(nullptr);
  noServer.SetRequests({irA});
  noServer.SetDomain(u"example.com");
  EXPECT_EQ(noServer.GetQuery(), u"");
  EXPECT_EQ(noServer.Port(), 53);

  TKtIDNSRequest r;
  EXPECT_TRUE(DNSRequestFromText(u"cname", r));
  EXPECT_EQ(r, irName);
  EXPECT_TRUE(DNSRequestFromText(u"*", r));
  EXPECT_EQ(r, irAll);
  EXPECT_FALSE(DNSRequestFromText(u"AAAA", r));
}

TEST(DnsQuery, NamesAreCheckedBeforeTheyGoOut) {
  // "." alone is the root: its name is the single zero byte.
  EXPECT_EQ(Query({irNS}, u"."), Framed(QueryMessage(0, std::string(1, '\0'), 2)));
  const String label63(63, u'a'), label64(64, u'a');
  EXPECT_EQ(Query({irA}, label63 + u".test"), Framed(QueryMessage(0, "\x3F" + std::string(63, 'a') + "\4test" +
                                                                       std::string(1, '\0'), 1)));
  // 3 labels of 63 and one of 61: 253 characters, the longest name there is.
  const String longest = label63 + u"." + label63 + u"." + label63 + u"." + String(61, u'b');
  EXPECT_EQ(Query({irA}, longest).size(), 2u + 12 + 255 + 4);
  EXPECT_EQ(Query({irA}, longest + u"."), Query({irA}, longest));
  for (const String& bad : {String(u"a..b"), String(u".a"), String(u".."), label64 + u".test", longest + u"b",
                            String(u"a\r\nb"), String(u"a\0b", 3)})
    EXPECT_THROW(Query({irA}, bad), EConvertError) << UTF8Encode(bad);
  // In reverse form the name grows by "in-addr.arpa": 241 characters are already too many.
  const String three = label63 + u"." + label63 + u"." + label63 + u".";
  EXPECT_THROW(Query({irPTR}, three + String(49, u'c')), EConvertError);
  EXPECT_NO_THROW(Query({irPTR}, three + String(48, u'c')));
  EXPECT_NO_THROW(Query({irA}, three + String(49, u'c')));

  ScriptedServer server;
  server.SetDefault(Script().Stall(2000));
  TKtIDNSResolver dns(nullptr);
  dns.SetHost(u"127.0.0.1");
  dns.SetPort(server.Port());
  dns.SetRequests({irA, irMX});
  dns.SetDomain(u"a..b");
  String result = dns.Execute();
  EXPECT_NE(result.find(u"empty label"), String::npos) << UTF8Encode(result);
  EXPECT_EQ(dns.LastError(), result);
  dns.Disconnect();
  server.Stop();
  EXPECT_EQ(server.Received(0), "") << "nothing of the question was sent";
}

// The answer to query message `index` with one A record.
std::string AnswerA(unsigned index, const std::string& address) {
  return "\x12" + std::string(1, static_cast<char>(index)) + std::string("\x81\x80\0\1\0\1\0\0\0\0", 10) +
         kExample + Word(1) + Word(1) + "\xC0\x0C" + Word(1) + Word(1) + std::string("\0\0\1\0", 4) + Word(4) + address;
}

TEST(DnsResolver, ReturnsAsSoonAsEveryAnswerIsComplete) {
  ScriptedServer server;
  const std::string one = Framed(AnswerA(0, std::string("\xC0\0\2\1", 4)));
  const std::string two = Framed(AnswerA(1, std::string("\xC0\0\2\2", 4)));
  const std::string query = Query({irA, irMX}, u"example.com");
  // The second answer first, and split across two writes; then the server keeps the line open.
  server.Add(Script().ExpectBytes(query.size()).Send(two.substr(0, 5)).Send(two.substr(5) + one).Stall(5000));
  TKtIDNSResolver dns(nullptr);
  dns.SetHost(u"127.0.0.1");
  dns.SetPort(server.Port());
  dns.SetReadTimeout(10000);
  dns.SetDomain(u"example.com");
  dns.SetRequests({irA, irMX});
  auto start = std::chrono::steady_clock::now();
  String answer = dns.Execute();
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(dns.LastError().empty()) << UTF8Encode(dns.LastError());
  EXPECT_EQ(StringToBytes(answer), one + two);
  EXPECT_LT(took, std::chrono::seconds(1));
  server.Stop();
  EXPECT_EQ(server.Received(0), query) << "no header block after the queries";

  // A server that closes early: what came is returned as it came.
  ScriptedServer closing;
  closing.Add(Script().ExpectBytes(query.size()).Send(two + one.substr(0, 7)));
  dns.SetPort(closing.Port());
  EXPECT_EQ(StringToBytes(dns.Execute()), two + one.substr(0, 7));

  // Nothing asked: nothing sent, nothing waited for.
  ScriptedServer silent;
  silent.Add(Script().Stall(5000));
  dns.SetPort(silent.Port());
  dns.SetRequests({});
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(dns.Execute(), u"");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  silent.Stop();
  EXPECT_EQ(silent.Received(0), "");
}

TEST(DnsDecoder, ReadsRecordsAndCompressedNames) {
  std::string m = std::string("\xAB\xCD\x85\x80\0\1\0\6\0\0\0\0", 12) + kExample + Word(255) + Word(1);
  auto rr = [&m](unsigned type, const std::string& data) {
    m += "\xC0\x0C" + Word(type) + Word(1) + std::string("\0\1\0\0", 4) + Word(static_cast<unsigned>(data.size())) + data;
  };
  rr(1, std::string("\xC0\0\2\x0A", 4));
  rr(28, std::string("\x20\x01\x0d\xb8", 4) + std::string(11, '\0') + "\x10");
  rr(15, Word(10) + "\4mail\xC0\x0C");
  rr(16, std::string("\13v=spf1 -all\4a\"b\\", 17));
  rr(6, std::string("\3ns1\xC0\x0C\5admin\xC0\x0C", 14) + std::string("\0\0\0\1\0\0\0\2\0\0\0\3\0\0\0\4\0\0\0\5", 20));
  rr(99 + 1000, "\1\2");
  TDNSMessage msg = DecodeDNSMessage(m);
  EXPECT_EQ(msg.ID, 0xABCD);
  EXPECT_TRUE(msg.QR() && msg.AA() && msg.RD() && msg.RA());
  EXPECT_EQ(msg.RCode(), 0);
  ASSERT_EQ(msg.Questions.size(), 1u);
  EXPECT_EQ(msg.Questions[0].Name, u"example.com.");
  ASSERT_EQ(msg.Answers.size(), 6u);
  std::vector<String> lines;
  for (const auto& r : msg.Answers) lines.push_back(DNSRecordToText(r));
  EXPECT_EQ(lines, (std::vector<String>{u"example.com. 65536 IN A 192.0.2.10",
                                        u"example.com. 65536 IN AAAA 2001:db8::10",
                                        u"example.com. 65536 IN MX 10 mail.example.com.",
                                        u"example.com. 65536 IN TXT \"v=spf1 -all\" \"a\\\"b\\\\\"",
                                        u"example.com. 65536 IN SOA ns1.example.com. admin.example.com. 1 2 3 4 5",
                                        u"example.com. 65536 IN TYPE1099 \\# 2 0102"}));
}

TEST(DnsDecoder, RefusesMalformedMessagesWithAClearError) {
  const std::string header = std::string("\0\1\x81\x80\0\1\0\1\0\0\0\0", 12);
  const std::string question = kExample + Word(1) + Word(1);
  auto withAnswer = [&](const std::string& name, unsigned type, const std::string& data) {
    return header + question + name + Word(type) + Word(1) + std::string(4, '\0') +
           Word(static_cast<unsigned>(data.size())) + data;
  };
  auto error = [](const std::string& m) -> std::string {
    try {
      DecodeDNSMessage(m);
    } catch (const EDNSDecodeError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_NE(error("\0\1\x81\x80\0\1").find("header needs 12 bytes"), std::string::npos);
  EXPECT_NE(error(header).find("past the end"), std::string::npos);               // question missing
  EXPECT_NE(error(header + question).find("past the end"), std::string::npos);    // answer missing
  EXPECT_NE(error(withAnswer("\xC0\x0C", 1, "\1\2\3\4") + "x").find("1 bytes after the last record"),
            std::string::npos);
  EXPECT_NE(error(withAnswer("\xC0\x0C", 1, "\1\2\3\4\5")).find("A record with 5 bytes"), std::string::npos);
  EXPECT_NE(error(withAnswer("\xC0\x0C", 28, "\1\2\3\4")).find("AAAA record with 4 bytes"), std::string::npos);
  // A pointer to itself, and one that points forwards.
  EXPECT_NE(error(withAnswer(std::string("\xC0\x1D", 2), 1, "\1\2\3\4")).find("does not point backwards"),
            std::string::npos);
  EXPECT_NE(error(withAnswer(std::string("\xC0\x40", 2), 1, "\1\2\3\4")).find("does not point backwards"),
            std::string::npos);
  EXPECT_NE(error(withAnswer("\x41x", 1, "\1\2\3\4")).find("unknown label type"), std::string::npos);
  EXPECT_NE(error(withAnswer("\x3Fx", 1, "\1\2\3\4")).find("past the end"), std::string::npos);
  std::string longName;
  for (int i = 0; i < 5; ++i) longName += "\x3F" + std::string(63, 'a');
  EXPECT_NE(error(withAnswer(longName + '\0', 1, "\1\2\3\4")).find("longer than 255"), std::string::npos);
  // Data whose inner lengths do not fit the record.
  EXPECT_NE(error(withAnswer("\xC0\x0C", 16, "\5ab")).find("past"), std::string::npos);
  EXPECT_NE(error(withAnswer("\xC0\x0C", 15, Word(10) + std::string("\4mail\0zz", 8))).find("left over"), std::string::npos);
  EXPECT_NE(error(withAnswer("\xC0\x0C", 2, "\4mail")).find("past"), std::string::npos);
  EXPECT_NE(error(withAnswer("\xC0\x0C", 6, std::string("\0\0", 2))).find("SOA"), std::string::npos);

  // Frames: an answer that ends inside its length, or inside the message.
  EXPECT_THROW(DecodeDNSAnswer(String(1, 0)), EDNSDecodeError);
  EXPECT_THROW(DecodeDNSAnswer(BytesToString(Word(40) + header)), EDNSDecodeError);
  EXPECT_EQ(DecodeDNSAnswer(u"").size(), 0u);
  std::string good = withAnswer("\xC0\x0C", 1, "\1\2\3\4");
  EXPECT_EQ(DecodeDNSAnswer(BytesToString(Framed(good) + Framed(good))).size(), 2u);
}

// Every record of a framed answer as dnspython reads it: "ID RCODE" lines for each message,
// then "SECTION name ttl class type data" lines.
std::vector<std::string> DnspythonLines(const std::string& framed) {
  test::TempDir dir;
  std::string answer = dir.Write("answer.bin", framed);
  std::string script = dir.Write("read.py",
                                 "import sys, dns.message, dns.rcode, dns.rdataclass, dns.rdatatype\n"
                                 "data = open(sys.argv[1], 'rb').read()\n"
                                 "while data:\n"
                                 "    n = int.from_bytes(data[:2], 'big')\n"
                                 "    m = dns.message.from_wire(data[2:2 + n])\n"
                                 "    data = data[2 + n:]\n"
                                 "    print(m.id, dns.rcode.to_text(m.rcode()))\n"
                                 "    for section, rrsets in (('an', m.answer), ('ns', m.authority), ('ar', m.additional)):\n"
                                 "        for rrset in rrsets:\n"
                                 "            for rd in rrset:\n"
                                 "                print(section, rrset.name.to_text(), rrset.ttl,\n"
                                 "                      dns.rdataclass.to_text(rrset.rdclass),\n"
                                 "                      dns.rdatatype.to_text(rrset.rdtype), rd.to_text())\n");
  std::string cmd = "/usr/bin/python3 " + script + " " + answer + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  std::vector<std::string> lines;
  if (!p) return lines;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, p)) {
    std::string line(buf);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  EXPECT_EQ(::pclose(p), 0) << (lines.empty() ? "" : lines.back());
  return lines;
}

std::vector<std::string> OurLines(const String& answer) {
  std::vector<std::string> lines;
  for (const TDNSMessage& m : DecodeDNSAnswer(answer)) {
    lines.push_back(std::to_string(m.ID) + " " + UTF8Encode(DNSRCodeName(m.RCode())));
    for (auto [section, records] : {std::pair{"an", &m.Answers}, {"ns", &m.Authority}, {"ar", &m.Additional}})
      for (const auto& rr : *records) lines.push_back(std::string(section) + " " + UTF8Encode(DNSRecordToText(rr)));
  }
  return lines;
}

TEST(DnsResolver, RealNameServerAnswersAndDnspythonAgrees) {
  DnsmasqServer server;
  TKtIDNSResolver dns(nullptr);
  dns.SetHost(u"127.0.0.1");
  dns.SetPort(server.Port());
  dns.SetReadTimeout(5000);
  dns.SetDomain(u"example.test");
  dns.SetRequests({irA, irNS, irSOA, irMX, irText});
  auto start = std::chrono::steady_clock::now();
  String answer = dns.Execute();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_TRUE(dns.LastError().empty()) << UTF8Encode(dns.LastError());
  std::vector<std::string> ours = OurLines(answer);
  EXPECT_EQ(ours, (std::vector<std::string>{
                      "4608 NOERROR", "an example.test. 300 IN A 192.0.2.10",
                      "4609 NOERROR", "an example.test. 300 IN NS ns1.example.test.",
                      "4610 NOERROR", "an example.test. 300 IN SOA ns1.example.test. admin.example.test. 2026120701 3600 600 86400 300",
                      "4611 NOERROR", "an example.test. 300 IN MX 10 mail.example.test.",
                      "4612 NOERROR", "an example.test. 300 IN TXT \"v=spf1 -all\" \"second string\""}));
  EXPECT_EQ(DnspythonLines(StringToBytes(answer)), ours);

  dns.SetDomain(u"192.0.2.10");
  dns.SetRequests({irPTR});
  answer = dns.Execute();
  EXPECT_EQ(OurLines(answer), (std::vector<std::string>{
                                  "4608 NOERROR", "an 10.2.0.192.in-addr.arpa. 300 IN PTR host.example.test."}));

  dns.SetDomain(u"alias.example.test");
  dns.SetRequests({irName});
  answer = dns.Execute();
  EXPECT_EQ(OurLines(answer), (std::vector<std::string>{
                                  "4608 NOERROR", "an alias.example.test. 300 IN CNAME host.example.test."}));
  EXPECT_EQ(DnspythonLines(StringToBytes(answer)), OurLines(answer));

  // Records dnsmasq is not asked for here (AAAA), names that need escaping, and data of unknown
  // types: our presentation form must still be dnspython's.
  std::string m = std::string("\0\7\x85\x80\0\0\0\3\0\0\0\0", 12);
  m += std::string("\3a.b\2c\"\0", 8) + Word(28) + Word(1) + std::string("\0\0\0\x3C", 4) + Word(16) +
       std::string("\x20\x01\x0d\xb8\0\0\0\0\0\0\0\0\0\0\0\x01", 16);
  m += std::string("\xC0\x0C", 2) + Word(16) + Word(1) + std::string("\0\0\0\x3C", 4) + Word(6) +
       std::string("\5a\tb\xff\"", 6);
  m += std::string("\xC0\x0C", 2) + Word(13) + Word(1) + std::string("\0\0\0\x3C", 4) + Word(8) +
       std::string("\3CPU\3OS!", 8);
  std::string framed = Framed(m);
  EXPECT_EQ(DnspythonLines(framed), OurLines(BytesToString(framed)));
}

}  // namespace
}  // namespace ktinet
