// TKtDigResolver and `ktinet dig`: against dnsmasq over UDP and TCP, and against a scripted
// loopback name server whose answers dnspython builds (truncation, retries, forged answers,
// DNSSEC and service-binding records). Presentation is compared with dnspython's.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "protocols/KtDigResolver.h"
#include "support/DnsmasqServer.h"
#include "support/RunTool.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

// ---- dnspython -------------------------------------------------------------------------------

// Builds, with dnspython, the answer to QNAME QTYPE holding the zone lines given, with ID 0.
// The first output line is the message in hex; each further line is one answer record's data as
// dnspython presents it.
const char* kBuildAnswer = R"PY(
import sys, binascii, dns.message, dns.rrset, dns.flags
qname, qtype, flags = sys.argv[1], sys.argv[2], sys.argv[3]
q = dns.message.make_query(qname, qtype)
r = dns.message.make_response(q)
r.id = 0
if 'tc' in flags: r.flags |= dns.flags.TC
if 'nxdomain' in flags: r.set_rcode(3)
if 'servfail' in flags: r.set_rcode(2)
if 'formerr' in flags: r.set_rcode(1)
if 'notimp' in flags: r.set_rcode(4)
if 'edns' in flags: r.use_edns(0)
for line in sys.argv[4:]:
    name, ttl, cls, typ, data = line.split(None, 4)
    r.answer.append(dns.rrset.from_text(name, int(ttl), cls, typ, data))
print(binascii.hexlify(r.to_wire()).decode())
for rrset in r.answer:
    for rd in rrset:
        print(rd.to_text(chunksize=0))
)PY";

std::string Run(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string r;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) r += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return r;
}

struct Built {
  std::string wire;
  std::vector<std::string> texts;
};

Built BuildAnswer(const std::string& qname, const std::string& qtype, const std::vector<std::string>& lines,
                  const std::string& flags = "-") {
  std::string cmd = "/usr/bin/python3 -c " + test::ShellQuote(kBuildAnswer) + " " + test::ShellQuote(qname) + " " +
                    test::ShellQuote(qtype) + " " + test::ShellQuote(flags);
  for (const auto& l : lines) cmd += " " + test::ShellQuote(l);
  std::istringstream out(Run(cmd + " 2>&1"));
  Built b;
  std::string line;
  std::getline(out, line);
  if (line.find_first_not_of("0123456789abcdef") != std::string::npos) {
    ADD_FAILURE() << "dnspython failed: " << line << out.rdbuf();
    return b;
  }
  b.wire = Unhex(line);
  while (std::getline(out, line)) b.texts.push_back(line);
  EXPECT_GE(b.wire.size(), 12u) << "dnspython failed: " << line;
  return b;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// ---- A scripted name server on loopback, UDP and TCP on one port ------------------------------

class ScriptedDns {
 public:
  // Returns the messages to send back for one query (none: stay silent).
  using Handler = std::function<std::vector<std::string>(const std::string& query, bool tcp)>;

  explicit ScriptedDns(Handler h, const char* address = "127.0.0.1", int port = 0) : FHandler(std::move(h)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &a.sin_addr);
    FTcp = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(FTcp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    EXPECT_EQ(::bind(FTcp, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(FTcp, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    ::listen(FTcp, 8);
    FUdp = ::socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(::bind(FUdp, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    FThread = std::thread([this] { Serve(); });
  }
  ~ScriptedDns() {
    FStop = true;
    FThread.join();
    ::close(FTcp);
    ::close(FUdp);
  }
  int Port() const { return FPort; }
  int UdpQueries() const { return FUdpCount; }
  int TcpQueries() const { return FTcpCount; }
  std::string LastQuery() {
    std::lock_guard<std::mutex> l(FLock);
    return FLast;
  }

 private:
  void Serve() {
    while (!FStop) {
      pollfd p[2] = {{FUdp, POLLIN, 0}, {FTcp, POLLIN, 0}};
      if (::poll(p, 2, 50) <= 0) continue;
      if (p[0].revents & POLLIN) {
        char buf[65536];
        sockaddr_storage from{};
        socklen_t fl = sizeof from;
        ssize_t n = ::recvfrom(FUdp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
        if (n <= 0) continue;
        ++FUdpCount;
        std::string q(buf, static_cast<size_t>(n));
        Remember(q);
        for (const auto& m : FHandler(q, false))
          ::sendto(FUdp, m.data(), m.size(), 0, reinterpret_cast<sockaddr*>(&from), fl);
      }
      if (p[1].revents & POLLIN) {
        int c = ::accept(FTcp, nullptr, nullptr);
        if (c < 0) continue;
        std::string in;
        char buf[4096];
        pollfd cp{c, POLLIN, 0};
        while (::poll(&cp, 1, 2000) > 0) {
          ssize_t n = ::recv(c, buf, sizeof buf, 0);
          if (n <= 0) break;
          in.append(buf, static_cast<size_t>(n));
          if (in.size() >= 2 && in.size() >= 2u + ((static_cast<unsigned char>(in[0]) << 8) | static_cast<unsigned char>(in[1])))
            break;
        }
        if (in.size() > 2) {
          ++FTcpCount;
          std::string q = in.substr(2);
          Remember(q);
          for (const auto& m : FHandler(q, true)) {
            std::string framed = std::string(1, static_cast<char>(m.size() >> 8)) + static_cast<char>(m.size() & 0xFF) + m;
            ::send(c, framed.data(), framed.size(), MSG_NOSIGNAL);
          }
        }
        ::close(c);
      }
    }
  }
  void Remember(const std::string& q) {
    std::lock_guard<std::mutex> l(FLock);
    FLast = q;
  }

  Handler FHandler;
  int FTcp = -1, FUdp = -1, FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FUdpCount{0}, FTcpCount{0};
  std::mutex FLock;
  std::string FLast;
  std::thread FThread;
};

// The canned answer with the ID of the query it answers.
std::string Answering(std::string answer, const std::string& query) {
  answer[0] = query[0];
  answer[1] = query[1];
  return answer;
}

TKtDigResolver Resolver(int port, int timeoutMs = 2000) {
  TKtDigResolver r;
  r.SetServers({"127.0.0.1"});
  r.SetPort(port);
  r.SetTimeoutMs(timeoutMs);
  return r;
}

std::vector<std::string> Texts(const TDigMessage& m) {
  std::vector<std::string> t;
  for (const auto& rr : m.Answers) t.push_back(rr.Text);
  return t;
}

// ---- Decoding, compared with dnspython -------------------------------------------------------

TEST(DigDecode, EveryDecodedTypeReadsAsDnspythonWritesIt) {
  // Each case: type, data; dnspython encodes (with name compression) and presents it.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"A", "192.0.2.1"},
      {"AAAA", "2001:db8::1:0:0:1"},
      {"NS", "ns1.example.test."},
      {"CNAME", "x\\.y.example.test."},
      {"PTR", "odd\\@\\$\\032name.example.test."},
      {"SOA", "ns1.example.test. admin.example.test. 2026120701 3600 600 86400 300"},
      {"MX", "10 mail.example.test."},
      {"TXT", "\"v=spf1 -all\" \"quote\\\"back\\\\slash\" \"\\255\\001\""},
      {"SRV", "10 20 5060 sip.example.test."},
      {"CAA", "0 issue \"ca.example.net; account=\\\"x\\\"\""},
      {"NAPTR", "100 10 \"U\" \"E2U+sip\" \"!^.*$!sip:info@example.test!\" ."},
      {"SSHFP", "4 2 0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"},
      {"TLSA", "3 1 1 d2abde240d7cd3ee6b4b28c54df034b97983a1d16e8a410e4561cb106618e971"},
      {"DS", "12345 13 2 49fd46e6c4b45c55d4ac69cbd3cd34ac1afe51de9e3a6f1eb6a8b4d1e4c7a3b2"},
      {"DNSKEY", "257 3 13 mdsswUyr3DPW132mOi8V9xESWE8jTo0dxCjjnopKl+GqJxpVXckHAeF+KkxLbxILfDLUT0rAK9iUzy1L53eKGQ=="},
      {"RRSIG", "A 13 3 300 20270101000000 20261201000000 12345 example.test. dGVzdHNpZ25hdHVyZQ=="},
      {"NSEC", "next.example.test. A NS SOA MX RRSIG NSEC DNSKEY TYPE1234 CAA"},
      {"NSEC3", "1 1 12 aabbccdd 2t7b4g4vsa5smi47k61mv5bv1a22bojr A RRSIG TYPE65534"},
      {"NSEC3", "1 0 0 - 2t7b4g4v"},
      {"SVCB", "2 svc.example.test. alpn=\"h3,h\\\\,x\" no-default-alpn key65000=\"a\\\\,b\""},
      {"HTTPS", "1 . mandatory=alpn,port alpn=h2,h3 port=443 ipv4hint=192.0.2.1,192.0.2.2 ech=AEP+DQA= "
                "ipv6hint=2001:db8::1"},
      {"HTTPS", "0 alias.example.test."},
      {"TYPE999", "\\# 3 abcdef"},
      {"TYPE998", "\\# 0"},
      {"HINFO", "\"cpu\" \"os\""},  // not decoded by us: the generic form
  };
  for (const auto& [type, data] : cases) {
    SCOPED_TRACE(type + " " + data);
    Built b = BuildAnswer("example.test.", type, {"example.test. 300 IN " + type + " " + data});
    ASSERT_EQ(b.texts.size(), 1u);
    TDigMessage m = DigDecodeMessage(b.wire);
    ASSERT_EQ(m.Answers.size(), 1u);
    const TDigRecord& rr = m.Answers[0];
    EXPECT_EQ(rr.Name, "example.test.");
    EXPECT_EQ(rr.TTL, 300u);
    EXPECT_EQ(DigTypeName(rr.Type), type);
    std::string expected = b.texts[0];
    // dnspython leaves a space after an empty generic record ("\\# 0 ").
    while (!expected.empty() && expected.back() == ' ') expected.pop_back();
    if (type == "HINFO") {
      // dnspython decodes HINFO; we show it generically, which must carry the same bytes.
      EXPECT_EQ(rr.Text, "\\# 7 03637075026F73");
      continue;
    }
    if (type == "SVCB" || type == "HTTPS") {
      // dnspython quotes every SvcParam value; we quote only those that are text.
      std::string a = rr.Text, e = expected;
      a.erase(std::remove(a.begin(), a.end(), '"'), a.end());
      e.erase(std::remove(e.begin(), e.end(), '"'), e.end());
      std::vector<std::string> aw, ew;
      std::istringstream as(a), es(e);
      for (std::string w; as >> w;) aw.push_back(w);
      for (std::string w; es >> w;) ew.push_back(w);
      std::sort(aw.begin() + 2, aw.end());
      std::sort(ew.begin() + 2, ew.end());
      EXPECT_EQ(aw, ew) << rr.Text;
      continue;
    }
    // Hex and base32 digits are upper case with us, as dig prints them.
    EXPECT_EQ(Lower(rr.Text), Lower(expected));
  }
}

TEST(DigDecode, HostileMessagesAreRefusedNotFollowed) {
  Built b = BuildAnswer("example.test.", "MX", {"example.test. 300 IN MX 10 mail.example.test."});
  ASSERT_NO_THROW(DigDecodeMessage(b.wire));
  auto malformed = [](const std::string& wire) {
    try {
      DigDecodeMessage(wire);
    } catch (const EDigError& e) {
      return e.ErrorKind() == EDigError::Malformed;
    }
    return false;
  };
  // Every cut of a good message is malformed, never read past its end.
  for (size_t n = 0; n < b.wire.size(); ++n) EXPECT_TRUE(malformed(b.wire.substr(0, n))) << n;
  EXPECT_TRUE(malformed(b.wire + "x"));  // bytes after the last record
  std::string header("\x00\x01\x81\x80\x00\x01\x00\x00\x00\x00\x00\x00", 12);
  // A pointer to itself, a pointer forwards, a pointer loop between two labels.
  EXPECT_TRUE(malformed(header + std::string("\xC0\x0C\x00\x01\x00\x01", 6)));
  EXPECT_TRUE(malformed(header + std::string("\xC0\x0E\x00\x01\x00\x01", 6)));
  EXPECT_TRUE(malformed(header + std::string("\x01" "a\xC0\x0C\x00\x01\x00\x01", 8)));
  // Reserved label types, and a name of more than 255 bytes built from legal labels.
  EXPECT_TRUE(malformed(header + std::string("\x41\x00\x00\x01\x00\x01", 6)));
  std::string longName;
  for (int i = 0; i < 5; ++i) longName += std::string(1, 63) + std::string(63, 'a');
  EXPECT_TRUE(malformed(header + longName + std::string("\x00\x00\x01\x00\x01", 5)));
  // An A record with five bytes, an MX whose name runs past its data.
  std::string answer("\x00\x01\x81\x80\x00\x00\x00\x01\x00\x00\x00\x00", 12);
  EXPECT_TRUE(malformed(answer + std::string("\x00\x00\x01\x00\x01\x00\x00\x00\x01\x00\x05\x01\x02\x03\x04\x05", 16)));
  EXPECT_TRUE(
      malformed(answer + std::string("\x00\x00\x0F\x00\x01\x00\x00\x00\x01\x00\x04\x00\x0A\x01" "a\x00", 17)));
  // Type bitmap windows out of order, and an SvcParam key repeated.
  Built nsec = BuildAnswer("example.test.", "NSEC", {"example.test. 1 IN NSEC n.example.test. A TYPE300"});
  std::string swapped = nsec.wire;
  // The two windows (0 and 1) swapped in place: 00 01 40 | 01 06 .. becomes 01 .. first.
  size_t w0 = swapped.find(std::string("\x00\x01\x40", 3), 12 + 14);
  ASSERT_NE(w0, std::string::npos);
  std::string tail = swapped.substr(w0);
  swapped = swapped.substr(0, w0) + tail.substr(3) + tail.substr(0, 3);
  EXPECT_TRUE(malformed(swapped));
}

TEST(DigNames, NamesAreCheckedBeforeTheyReachTheWire) {
  auto usage = [](const std::string& name) {
    try {
      DigEncodeName(name);
    } catch (const EDigError& e) {
      return e.ErrorKind() == EDigError::Usage;
    }
    return false;
  };
  EXPECT_EQ(DigEncodeName("."), std::string(1, '\0'));
  EXPECT_EQ(DigEncodeName("a.b"), DigEncodeName("a.b."));
  EXPECT_EQ(DigEncodeName("a\\.b\\065"), std::string("\x04" "a.bA\x00", 6));
  EXPECT_FALSE(usage(std::string(63, 'a') + ".test"));
  EXPECT_TRUE(usage(std::string(64, 'a') + ".test"));
  EXPECT_TRUE(usage(""));
  EXPECT_TRUE(usage("a..b"));
  EXPECT_TRUE(usage(".a"));
  EXPECT_TRUE(usage("a\\"));
  EXPECT_TRUE(usage("a\\25"));
  EXPECT_TRUE(usage("a\\256"));
  // 253 characters is the longest name; one more is refused.
  std::string name = std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') + "." +
                     std::string(61, 'd');
  ASSERT_EQ(name.size(), 253u);
  EXPECT_FALSE(usage(name));
  EXPECT_TRUE(usage(name + "d"));

  EXPECT_EQ(DigReverseName("192.0.2.10"), "10.2.0.192.in-addr.arpa.");
  EXPECT_EQ(DigReverseName("2001:db8::1"),
            "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa.");
  EXPECT_THROW(DigReverseName("192.0.2"), EDigError);
  EXPECT_THROW(DigReverseName("example.test"), EDigError);

  EXPECT_EQ(DigTypeFromText("https"), 65);
  EXPECT_EQ(DigTypeFromText("TYPE65535"), 65535);
  EXPECT_EQ(DigTypeFromText("type7"), 7);
  EXPECT_EQ(DigTypeFromText("TYPE65536"), -1);
  EXPECT_EQ(DigTypeFromText("TYPE"), -1);
  EXPECT_EQ(DigTypeFromText("BOGUS"), -1);
  EXPECT_EQ(DigTypeName(65280), "TYPE65280");

  // The query carries the question and an OPT record advertising 1232 bytes.
  TDigMessage q = DigDecodeMessage(DigBuildQuery(0x1234, "Example.Test", 28, 1232));
  EXPECT_EQ(q.ID, 0x1234);
  EXPECT_EQ(q.Flags, 0x0100);
  ASSERT_EQ(q.Questions.size(), 1u);
  EXPECT_EQ(q.Questions[0].Name, "Example.Test.");
  EXPECT_EQ(q.Questions[0].Type, 28);
  ASSERT_NE(q.Opt(), nullptr);
  EXPECT_EQ(q.Opt()->Class, 1232);
}

TEST(DigNames, ServersComeFromResolvConf) {
  test::TempDir dir;
  dir.Write("resolv.conf", "# comment\nsearch example.test\nnameserver 192.0.2.53\nnameserver  ::1\n"
                           "nameserver\noptions ndots:2\n");
  EXPECT_EQ(DigServersFromResolvConf(dir / "resolv.conf"), (std::vector<std::string>{"192.0.2.53", "::1"}));
  EXPECT_TRUE(DigServersFromResolvConf(dir / "missing").empty());
}

// ---- Transport against a scripted server -----------------------------------------------------

TEST(DigTransport, TruncatedUdpAnswerIsAskedAgainOverTcp) {
  Built full = BuildAnswer("big.example.test.", "TXT", {"big.example.test. 60 IN TXT \"whole answer\""});
  Built cut = BuildAnswer("big.example.test.", "TXT", {}, "tc");
  ScriptedDns server([&](const std::string& q, bool tcp) {
    return std::vector<std::string>{Answering(tcp ? full.wire : cut.wire, q)};
  });
  TKtDigResolver r = Resolver(server.Port());
  TDigMessage m = r.Query("big.example.test", 16);
  EXPECT_EQ(Texts(m), std::vector<std::string>{"\"whole answer\""});
  EXPECT_TRUE(r.AnsweredOverTcp());
  EXPECT_EQ(server.UdpQueries(), 1);
  EXPECT_EQ(server.TcpQueries(), 1);
  // The query went out with EDNS(0) and a 1232-byte buffer.
  TDigMessage sent = DigDecodeMessage(server.LastQuery());
  ASSERT_NE(sent.Opt(), nullptr);
  EXPECT_EQ(sent.Opt()->Class, 1232);

  // --tcp never tries UDP.
  TKtDigResolver t = Resolver(server.Port());
  t.SetForceTcp(true);
  EXPECT_EQ(Texts(t.Query("big.example.test.", 16)), std::vector<std::string>{"\"whole answer\""});
  EXPECT_EQ(server.UdpQueries(), 1);
  EXPECT_EQ(server.TcpQueries(), 2);
}

TEST(DigTransport, ForgedAndStrayUdpAnswersAreDiscardedUntilTheRealOne) {
  Built real = BuildAnswer("www.example.test.", "A", {"www.example.test. 60 IN A 192.0.2.1"});
  Built other = BuildAnswer("evil.example.test.", "A", {"evil.example.test. 60 IN A 203.0.113.66"});
  Built wrongType = BuildAnswer("www.example.test.", "AAAA", {"www.example.test. 60 IN AAAA 2001:db8::66"});
  ScriptedDns server([&](const std::string& q, bool) {
    std::string wrongId = Answering(real.wire, q);
    wrongId[1] = static_cast<char>(wrongId[1] ^ 0x5A);
    std::string notResponse = Answering(real.wire, q);
    notResponse[2] = static_cast<char>(notResponse[2] & 0x7F);
    return std::vector<std::string>{wrongId,     notResponse, Answering(other.wire, q), Answering(wrongType.wire, q),
                                    "garbage",   Answering(real.wire, q)};
  });
  TKtDigResolver r = Resolver(server.Port());
  TDigMessage m = r.Query("www.example.test", 1);
  EXPECT_EQ(Texts(m), std::vector<std::string>{"192.0.2.1"});
  EXPECT_EQ(server.UdpQueries(), 1);
  EXPECT_FALSE(r.AnsweredOverTcp());

  // Over TCP a mismatched answer is an error, not an answer.
  ScriptedDns tcpServer([&](const std::string& q, bool) { return std::vector<std::string>{Answering(other.wire, q)}; });
  TKtDigResolver t = Resolver(tcpServer.Port());
  t.SetForceTcp(true);
  try {
    t.Query("www.example.test", 1);
    ADD_FAILURE() << "a forged answer was accepted";
  } catch (const EDigError& e) {
    EXPECT_EQ(e.ErrorKind(), EDigError::Mismatch);
    EXPECT_NE(std::string(e.what()).find("evil.example.test."), std::string::npos) << e.what();
  }
}

TEST(DigTransport, ALostDatagramIsRetriedOnceThenTheWaitEnds) {
  Built real = BuildAnswer("www.example.test.", "A", {"www.example.test. 60 IN A 192.0.2.1"});
  int seen = 0;
  ScriptedDns server([&](const std::string& q, bool) {
    return ++seen == 1 ? std::vector<std::string>{} : std::vector<std::string>{Answering(real.wire, q)};
  });
  TKtDigResolver r = Resolver(server.Port(), 300);
  EXPECT_EQ(Texts(r.Query("www.example.test", 1)), std::vector<std::string>{"192.0.2.1"});
  EXPECT_EQ(server.UdpQueries(), 2);

  ScriptedDns silent([](const std::string&, bool) { return std::vector<std::string>{}; });
  TKtDigResolver s = Resolver(silent.Port(), 200);
  try {
    s.Query("www.example.test", 1);
    ADD_FAILURE() << "no answer, yet no error";
  } catch (const EDigError& e) {
    EXPECT_EQ(e.ErrorKind(), EDigError::TimedOut);
  }
  EXPECT_EQ(silent.UdpQueries(), 2);
}

// The whole-job limit ends the look-up while silent servers would still be waited for, and no
// further server is asked; the program's --max-time sets it.
TEST(DigTransport, MaxTimeEndsTheWholeLookUp) {
  ScriptedDns silent([](const std::string&, bool) { return std::vector<std::string>{}; });
  ScriptedDns later([](const std::string&, bool) { return std::vector<std::string>{}; }, "127.0.0.2", silent.Port());
  TKtDigResolver r = Resolver(silent.Port(), 5000);
  r.SetServers({"127.0.0.1", "127.0.0.2"});
  r.SetMaxTimeMs(300);
  try {
    r.Query("www.example.test", 1);
    ADD_FAILURE() << "no answer, yet no error";
  } catch (const EDigError& e) {
    EXPECT_EQ(e.ErrorKind(), EDigError::TimedOut);
    EXPECT_NE(std::string(e.what()).find("limit of 300 ms"), std::string::npos) << e.what();
  }
  EXPECT_EQ(silent.UdpQueries(), 1);
  EXPECT_EQ(later.UdpQueries(), 0);

  auto run = test::RunToolArgs({"dig", "@127.0.0.1", "--port", std::to_string(silent.Port()), "www.example.test",
                                "--max-time", "0.3"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("limit of 300 ms"), std::string::npos) << run.err;
  EXPECT_EQ(test::RunToolArgs({"dig", "x.test", "--max-time", "soon"}).status, 2);
}

TEST(DigTransport, ServersAreTriedInTurn) {
  Built good = BuildAnswer("www.example.test.", "A", {"www.example.test. 60 IN A 192.0.2.1"});
  Built failing = BuildAnswer("www.example.test.", "A", {}, "servfail");
  ScriptedDns second([&](const std::string& q, bool) { return std::vector<std::string>{Answering(good.wire, q)}; });
  ScriptedDns first([&](const std::string& q, bool) { return std::vector<std::string>{Answering(failing.wire, q)}; },
                    "127.0.0.2", second.Port());
  TKtDigResolver r = Resolver(second.Port());
  // 127.0.0.3 has nothing on the port (refused), 127.0.0.2 fails, 127.0.0.1 answers.
  r.SetServers({"127.0.0.3", "127.0.0.2", "127.0.0.1"});
  TDigMessage m = r.Query("www.example.test", 1);
  EXPECT_EQ(Texts(m), std::vector<std::string>{"192.0.2.1"});
  EXPECT_EQ(r.AnsweredBy(), "127.0.0.1");
  EXPECT_EQ(first.UdpQueries(), 1);

  // When every server fails, the failing answer is what comes back.
  r.SetServers({"127.0.0.3", "127.0.0.2"});
  EXPECT_EQ(DigRCodeName(r.Query("www.example.test", 1).RCode()), "SERVFAIL");
  r.SetServers({"127.0.0.3"});
  try {
    r.Query("www.example.test", 1);
    ADD_FAILURE();
  } catch (const EDigError& e) {
    EXPECT_EQ(e.ErrorKind(), EDigError::Refused) << e.what();
  }
}

// ---- The program against dnsmasq -------------------------------------------------------------

std::string Zone() {
  using test::DnsmasqServer;
  return DnsmasqServer::ExampleZone() +
         "srv-host=_sip._tcp.example.test,sip.example.test,5060,10,20\n"
         "caa-record=example.test,0,issue,\"ca.example.net\"\n"
         "naptr-record=example.test,100,10,U,E2U+sip,!^.*$!sip:info@example.test!\n"
         "ptr-record=1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa,v6.example.test\n" +
         DnsmasqServer::RawRecord("example.test", 44, std::string("\x04\x02\x01\x02\x03\x04", 6)) +
         DnsmasqServer::RawRecord("_443._tcp.example.test", 52, std::string("\x03\x01\x01\xAB\xCD", 5)) +
         DnsmasqServer::RawRecord("example.test", 65,
                                  std::string("\x00\x01\x00\x00\x01\x00\x03\x02h2\x00\x03\x00\x02\x01\xBB", 16)) +
         DnsmasqServer::RawRecord("example.test", 999, "\x01\x02");
}

// dnspython's presentation of the answer dnsmasq gives, over UDP or TCP.
std::vector<std::string> DnspythonShort(int port, const std::string& name, const std::string& type, bool tcp) {
  std::string script = "import sys, dns.message, dns.query\n"
                       "q = dns.message.make_query(sys.argv[1], sys.argv[2])\n"
                       "r = (dns.query.tcp if sys.argv[4] == 'tcp' else dns.query.udp)(q, '127.0.0.1', port=int(sys.argv[3]), timeout=5)\n"
                       "for rrset in r.answer:\n"
                       "    for rd in rrset: print(rd.to_text(chunksize=0))\n";
  std::istringstream out(Run("/usr/bin/python3 -c " + test::ShellQuote(script) + " " + test::ShellQuote(name) + " " +
                             type + " " + std::to_string(port) + " " + (tcp ? "tcp" : "udp") + " 2>&1"));
  std::vector<std::string> lines;
  for (std::string l; std::getline(out, l);) lines.push_back(l);
  return lines;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

TEST(DigProgram, AnswersFromDnsmasqMatchDnspythonOverUdpAndTcp) {
  test::DnsmasqServer dns(Zone());
  std::string port = std::to_string(dns.Port());
  struct Case {
    std::string name, type;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"example.test", "A", {"192.0.2.10"}},
      {"example.test", "AAAA", {"2001:db8::10"}},
      {"example.test", "MX", {"10 mail.example.test."}},
      {"example.test", "TXT", {"\"v=spf1 -all\" \"second string\""}},
      {"_sip._tcp.example.test", "SRV", {"10 20 5060 sip.example.test."}},
      {"example.test", "CAA", {"0 issue \"ca.example.net\""}},
      {"example.test", "NAPTR", {"100 10 \"U\" \"E2U+sip\" \"!^.*$!sip:info@example.test!\" ."}},
      {"example.test", "SSHFP", {"4 2 01020304"}},
      {"_443._tcp.example.test", "TLSA", {"3 1 1 ABCD"}},
      {"example.test", "HTTPS", {"1 . alpn=\"h2\" port=443"}},
      {"example.test", "TYPE999", {"\\# 2 0102"}},
      {"example.test", "SOA", {"ns1.example.test. admin.example.test. 2026120701 3600 600 86400 300"}},
      {"alias.example.test", "A", {"host.example.test.", "192.0.2.20"}},
  };
  for (bool tcp : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + " " + c.type + (tcp ? " tcp" : " udp"));
      std::vector<std::string> args = {"dig", "@127.0.0.1", "--port", port, c.name, c.type, "--short"};
      if (tcp) args.push_back("--tcp");
      auto run = test::RunToolArgs(args);
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(Lines(run.out), c.expected);
      std::vector<std::string> theirs = DnspythonShort(dns.Port(), c.name, c.type, tcp);
      ASSERT_EQ(theirs.size(), c.expected.size()) << (theirs.empty() ? "" : theirs[0]);
      for (size_t i = 0; i < theirs.size(); ++i) {
        std::string a = Lower(c.expected[i]), e = Lower(theirs[i]);
        if (c.type == "HTTPS") e = "1 . alpn=\"h2\" port=443";  // dnspython quotes the port
        EXPECT_EQ(a, e);
      }
    }
  }
  // Reverse look-ups, IPv4 and IPv6; the full output names the transport.
  auto v4 = test::RunToolArgs({"dig", "--server", "127.0.0.1", "--port", port, "-x", "192.0.2.10"});
  EXPECT_EQ(v4.status, 0) << v4.err;
  EXPECT_NE(v4.out.find("10.2.0.192.in-addr.arpa.\t300\tIN\tPTR\thost.example.test."), std::string::npos) << v4.out;
  EXPECT_NE(v4.out.find("status: NOERROR"), std::string::npos);
  EXPECT_NE(v4.out.find("; EDNS: version: 0"), std::string::npos);
  EXPECT_NE(v4.out.find("(UDP)"), std::string::npos);
  auto v6 = test::RunToolArgs({"dig", "@127.0.0.1", "--port", port, "-x", "2001:db8::1", "--short", "--tcp"});
  EXPECT_EQ(v6.status, 0) << v6.err;
  EXPECT_EQ(v6.out, "v6.example.test.\n");

  auto json = test::RunToolArgs({"dig", "@127.0.0.1", "--port", port, "example.test", "-t", "aaaa", "--json"});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"transport\": \"udp\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"type\": \"AAAA\", \"data\": \"2001:db8::10\""), std::string::npos) << json.out;

  // The default server comes from the resolv.conf file.
  test::TempDir dir;
  dir.Write("resolv.conf", "nameserver 127.0.0.1\n");
  ::setenv("KTINET_RESOLV_CONF", (dir / "resolv.conf").c_str(), 1);
  auto fromConf = test::RunToolArgs({"dig", "--port", port, "example.test", "--short"});
  ::unsetenv("KTINET_RESOLV_CONF");
  EXPECT_EQ(fromConf.status, 0) << fromConf.err;
  EXPECT_EQ(fromConf.out, "192.0.2.10\n");
}

TEST(DigProgram, FailuresAndBadUsageExitWithTheirCause) {
  test::DnsmasqServer dns;
  std::string port = std::to_string(dns.Port());
  // dnsmasq without an upstream refuses names outside its records.
  auto refused = test::RunToolArgs({"dig", "@127.0.0.1", "--port", port, "elsewhere.invalid"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("answered REFUSED"), std::string::npos) << refused.err;

  Built nx = BuildAnswer("gone.example.test.", "A", {}, "nxdomain");
  ScriptedDns nxServer([&](const std::string& q, bool) { return std::vector<std::string>{Answering(nx.wire, q)}; });
  auto gone = test::RunToolArgs({"dig", "@127.0.0.1", "--port", std::to_string(nxServer.Port()), "gone.example.test"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.err.find("NXDOMAIN"), std::string::npos) << gone.err;
  EXPECT_NE(gone.out.find("status: NXDOMAIN"), std::string::npos) << gone.out;

  ScriptedDns silent([](const std::string&, bool) { return std::vector<std::string>{}; });
  auto late = test::RunToolArgs(
      {"dig", "@127.0.0.1", "--port", std::to_string(silent.Port()), "example.test", "--timeout", "0.2"});
  EXPECT_EQ(late.status, 1);
  EXPECT_NE(late.err.find("no answer from 127.0.0.1"), std::string::npos) << late.err;
  EXPECT_EQ(silent.UdpQueries(), 2);

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"dig", "@127.0.0.1", "example.test", "NOSUCHTYPE"},
           {"dig", "@127.0.0.1"},
           {"dig", "@127.0.0.1", "-x", "not-an-address"},
           {"dig", "@127.0.0.1", "a..b"},
           {"dig", "@127.0.0.1", "example.test", "--timeout", "soon"},
           {"dig", "@127.0.0.1", "example.test", "MX", "-t", "A"}}) {
    auto run = test::RunToolArgs(bad);
    EXPECT_EQ(run.status, 2) << bad.back() << ": " << run.err;
  }
}

// A TCP listener that never takes a connection, its queue filled, so that a further connect
// hangs as it does towards a host that drops the handshake.
class FullListener {
 public:
  FullListener() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    ::listen(FFd, 0);
    for (int i = 0; i < 4; ++i) {
      int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
      FFillers.push_back(c);
    }
  }
  ~FullListener() {
    for (int c : FFillers) ::close(c);
    ::close(FFd);
  }
  int Port() const { return FPort; }

 private:
  int FFd = -1;
  int FPort = 0;
  std::vector<int> FFillers;
};

// dig takes the deadlines every network subcommand takes, with the meaning they have there,
// except that each wait stays dig's five seconds unless --timeout says otherwise.
TEST(DigProgram, TakesTheSharedDeadlines) {
  ScriptedDns silent([](const std::string&, bool) { return std::vector<std::string>{}; });
  const std::string port = std::to_string(silent.Port());
  // --timeout 0 waits without limit for the first datagram: no retry before --max-time ends it.
  auto endless = test::RunToolArgs(
      {"dig", "@127.0.0.1", "--port", port, "example.test", "--timeout", "0", "--max-time", "0.4"}, 20);
  EXPECT_EQ(endless.status, 1) << endless.err;
  EXPECT_NE(endless.err.find("limit of 400 ms"), std::string::npos) << endless.err;
  EXPECT_EQ(silent.UdpQueries(), 1);
  // Without --timeout the retry comes after five seconds, not after the minute of silence the
  // other subcommands allow.
  auto retried = test::RunToolArgs({"dig", "@127.0.0.1", "--port", port, "example.test", "--max-time", "5.6"}, 20);
  EXPECT_EQ(retried.status, 1) << retried.err;
  EXPECT_EQ(silent.UdpQueries(), 3);

  // --connect-timeout bounds a TCP connect on its own, whatever --timeout allows.
  FullListener full;
  auto unreachable = test::RunToolArgs({"dig", "@127.0.0.1", "--port", std::to_string(full.Port()), "example.test",
                                        "--tcp", "--connect-timeout", "0.3", "--timeout", "30", "--max-time", "10"},
                                       20);
  EXPECT_EQ(unreachable.status, 1) << unreachable.err;
  EXPECT_NE(unreachable.err.find("connecting to 127.0.0.1"), std::string::npos) << unreachable.err;
  EXPECT_NE(unreachable.err.find("timed out"), std::string::npos) << unreachable.err;

  for (const char* option : {"--connect-timeout", "--timeout", "--max-time"}) {
    auto bad = test::RunToolArgs({"dig", "@127.0.0.1", "example.test", option, "-1"});
    EXPECT_EQ(bad.status, 2) << option << ": " << bad.err;
  }
  auto help = test::RunToolArgs({"dig", "--help"});
  EXPECT_NE(help.out.find("--connect-timeout S"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("(default 5,"), std::string::npos) << help.out;
}

// ---- `ktinet dns`: the component for what it can ask, the dig-style resolver for the rest ----

// The OPT record's presence in a query as sent.
bool HasOpt(const std::string& query) { return DigDecodeMessage(query).Opt() != nullptr; }

TEST(DigTransport, AServerWithoutEdnsIsAskedAgainWithout) {
  Built real = BuildAnswer("www.example.test.", "A", {"www.example.test. 60 IN A 192.0.2.1"});
  for (const char* refusal : {"formerr", "notimp"}) {
    SCOPED_TRACE(refusal);
    Built refused = BuildAnswer("www.example.test.", "A", {}, refusal);
    std::vector<bool> withOpt;
    std::mutex lock;
    ScriptedDns server([&](const std::string& q, bool) {
      std::lock_guard<std::mutex> l(lock);
      withOpt.push_back(HasOpt(q));
      return std::vector<std::string>{Answering(withOpt.back() ? refused.wire : real.wire, q)};
    });
    TKtDigResolver r = Resolver(server.Port());
    TDigMessage m = r.Query("www.example.test", 1);
    EXPECT_EQ(Texts(m), std::vector<std::string>{"192.0.2.1"});
    EXPECT_EQ(m.RCode(), 0);
    EXPECT_FALSE(r.AnsweredWithEdns());
    EXPECT_EQ(withOpt, (std::vector<bool>{true, false}));
    // Over TCP the same.
    r.SetForceTcp(true);
    EXPECT_EQ(Texts(r.Query("www.example.test", 1)), std::vector<std::string>{"192.0.2.1"});
    EXPECT_EQ(server.TcpQueries(), 2);
  }

  // A server that speaks EDNS (its answer has an OPT record) meant its FORMERR: no second try.
  Built ednsRefusal = BuildAnswer("www.example.test.", "A", {}, "formerr,edns");
  ScriptedDns speaksEdns([&](const std::string& q, bool) {
    return std::vector<std::string>{Answering(ednsRefusal.wire, q)};
  });
  TKtDigResolver r = Resolver(speaksEdns.Port());
  EXPECT_EQ(DigRCodeName(r.Query("www.example.test", 1).RCode()), "FORMERR");
  EXPECT_EQ(speaksEdns.UdpQueries(), 1);
  EXPECT_TRUE(r.AnsweredWithEdns());
}

std::vector<std::string> DnsRun(int port, std::vector<std::string> args) {
  args.insert(args.begin(), {"dns", "--server", "127.0.0.1", "--port", std::to_string(port)});
  return args;
}

// The text output with the message IDs blanked, which differ between runs.
std::string WithoutIds(std::string text) {
  for (size_t at = text.find(", id: "); at != std::string::npos; at = text.find(", id: ", at + 1)) {
    size_t end = text.find('\n', at);
    text.replace(at + 6, end - at - 6, "N");
  }
  return text;
}

TEST(DnsProgram, EveryTypeAndReverseNamesOverUdpAndTcpMatchDnspython) {
  test::DnsmasqServer dns(Zone());
  struct Case {
    std::string name, type;
  };
  const std::vector<Case> cases = {{"example.test", "A"},    {"example.test", "AAAA"},
                                   {"_sip._tcp.example.test", "SRV"}, {"example.test", "TXT"},
                                   {"example.test", "CAA"},  {"example.test", "TYPE999"}};
  for (bool tcp : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + " " + c.type + (tcp ? " tcp" : " udp"));
      auto run = test::RunToolArgs(DnsRun(dns.Port(), {c.name, "-t", c.type, "--short", tcp ? "--tcp" : "--udp"}));
      EXPECT_EQ(run.status, 0) << run.err;
      std::vector<std::string> theirs = DnspythonShort(dns.Port(), c.name, c.type, tcp);
      ASSERT_FALSE(theirs.empty());
      std::vector<std::string> ours = Lines(run.out);
      ASSERT_EQ(ours.size(), theirs.size()) << run.out;
      for (size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(Lower(ours[i]), Lower(theirs[i]));
      // The full layout carries the records the same way, and JSON names the transport.
      auto json = test::RunToolArgs(DnsRun(dns.Port(), {c.name, "-t", c.type, "--json", tcp ? "--tcp" : "--udp"}));
      EXPECT_EQ(json.status, 0) << json.err;
      EXPECT_NE(json.out.find(std::string("\"transport\": \"") + (tcp ? "tcp" : "udp") + "\""), std::string::npos)
          << json.out;
      EXPECT_NE(json.out.find("\"type\": \"" + c.type + "\", \"data\": "), std::string::npos) << json.out;
    }
    const char* transport = tcp ? "--tcp" : "--udp";
    auto v4 = test::RunToolArgs(DnsRun(dns.Port(), {"-x", "192.0.2.10", transport}));
    EXPECT_EQ(v4.status, 0) << v4.err;
    EXPECT_NE(v4.out.find(";10.2.0.192.in-addr.arpa.\t\tIN\tPTR\n"), std::string::npos) << v4.out;
    EXPECT_NE(v4.out.find("10.2.0.192.in-addr.arpa.\t300\tIN\tPTR\thost.example.test.\n"), std::string::npos)
        << v4.out;
    // PTR of an IPv4 address in its usual order, as the component takes it.
    auto ptr = test::RunToolArgs(DnsRun(dns.Port(), {"192.0.2.10", "-t", "PTR", "--short", transport}));
    EXPECT_EQ(ptr.out, "host.example.test.\n") << ptr.err;
    auto v6 = test::RunToolArgs(DnsRun(dns.Port(), {"-x", "2001:db8::1", "--short", transport}));
    EXPECT_EQ(v6.status, 0) << v6.err;
    EXPECT_EQ(v6.out, "v6.example.test.\n");
    EXPECT_EQ(Lines(v6.out),
              DnspythonShort(dns.Port(), "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa",
                             "PTR", tcp));
  }

  // The same question through either resolver prints the same, but for the ID.
  auto component = test::RunToolArgs(DnsRun(dns.Port(), {"example.test", "-t", "A,MX"}));
  auto digStyle = test::RunToolArgs(DnsRun(dns.Port(), {"example.test", "-t", "A,MX", "--udp"}));
  EXPECT_EQ(component.status, 0) << component.err;
  EXPECT_EQ(digStyle.status, 0) << digStyle.err;
  EXPECT_NE(component.out.find("ADDITIONAL: 0"), std::string::npos) << component.out;
  EXPECT_EQ(WithoutIds(component.out), WithoutIds(digStyle.out));
  // Several types, one of them beyond the component, answered in the order asked.
  auto mixed = test::RunToolArgs(DnsRun(dns.Port(), {"example.test", "-t", "AAAA", "-t", "MX,A", "--short"}));
  EXPECT_EQ(mixed.out, "2001:db8::10\n10 mail.example.test.\n192.0.2.10\n") << mixed.err;
}

TEST(DnsProgram, TheComponentKeepsItsTypesAndTheRestGoesOverUdpFirst) {
  Built a = BuildAnswer("www.example.test.", "A", {"www.example.test. 60 IN A 192.0.2.1"});
  Built aaaa = BuildAnswer("www.example.test.", "AAAA", {"www.example.test. 60 IN AAAA 2001:db8::1"});
  ScriptedDns server([&](const std::string& q, bool) {
    TDigMessage asked = DigDecodeMessage(q);
    return std::vector<std::string>{Answering(asked.Questions.at(0).Type == 28 ? aaaa.wire : a.wire, q)};
  });
  // The component's own type: one TCP query, its ID from the component's series.
  auto run = test::RunToolArgs(DnsRun(server.Port(), {"www.example.test", "--raw"}));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(server.UdpQueries(), 0);
  EXPECT_EQ(server.TcpQueries(), 1);
  EXPECT_EQ(DigDecodeMessage(server.LastQuery()).ID, 0x1200);
  EXPECT_EQ(run.out.rfind("0000  00 ", 0), 0u) << run.out;  // the length frame

  // Another type, --udp, @SERVER: UDP with EDNS; --raw shows the datagram, which begins with
  // the query's ID.
  run = test::RunToolArgs({"dns", "@127.0.0.1", "--port", std::to_string(server.Port()), "www.example.test", "-t",
                           "aaaa", "--raw"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(server.UdpQueries(), 1);
  EXPECT_EQ(server.TcpQueries(), 1);
  EXPECT_TRUE(HasOpt(server.LastQuery()));
  char id[16];
  std::snprintf(id, sizeof id, "0000  %02x %02x ", static_cast<unsigned char>(server.LastQuery()[0]),
                static_cast<unsigned char>(server.LastQuery()[1]));
  EXPECT_EQ(run.out.rfind(id, 0), 0u) << run.out;
  run = test::RunToolArgs(DnsRun(server.Port(), {"www.example.test", "--udp", "--short"}));
  EXPECT_EQ(run.out, "192.0.2.1\n") << run.err;
  EXPECT_EQ(server.UdpQueries(), 2);
  // --tcp on the dig-style path: TCP only, with EDNS.
  run = test::RunToolArgs(DnsRun(server.Port(), {"www.example.test", "-t", "AAAA", "--tcp", "--short"}));
  EXPECT_EQ(run.out, "2001:db8::1\n") << run.err;
  EXPECT_EQ(server.UdpQueries(), 2);
  EXPECT_EQ(server.TcpQueries(), 2);
  EXPECT_TRUE(HasOpt(server.LastQuery()));
}

TEST(DnsProgram, DeadlinesFailuresAndBadUsageOnTheDigStylePath) {
  ScriptedDns silent([](const std::string&, bool) { return std::vector<std::string>{}; });
  // --max-time ends the whole job, the retry included, before a --timeout would.
  auto late = test::RunToolArgs(
      DnsRun(silent.Port(), {"example.test", "-t", "AAAA", "--timeout", "30", "--max-time", "0.3"}), 20);
  EXPECT_EQ(late.status, 1);
  EXPECT_NE(late.err.find("ktinet dns: example.test AAAA: no answer from 127.0.0.1"), std::string::npos) << late.err;
  EXPECT_NE(late.err.find("limit of"), std::string::npos) << late.err;
  EXPECT_EQ(silent.UdpQueries(), 1);

  Built nx = BuildAnswer("gone.example.test.", "AAAA", {}, "nxdomain");
  Built fail = BuildAnswer("bad.example.test.", "AAAA", {}, "servfail");
  ScriptedDns server([&](const std::string& q, bool) {
    bool gone = DigDecodeMessage(q).Questions.at(0).Name == "gone.example.test.";
    return std::vector<std::string>{Answering(gone ? nx.wire : fail.wire, q)};
  });
  // NXDOMAIN is an answer; SERVFAIL is not.
  auto gone = test::RunToolArgs(DnsRun(server.Port(), {"gone.example.test", "-t", "AAAA"}));
  EXPECT_EQ(gone.status, 0) << gone.err;
  EXPECT_NE(gone.out.find("status: NXDOMAIN"), std::string::npos) << gone.out;
  auto bad = test::RunToolArgs(DnsRun(server.Port(), {"bad.example.test", "-t", "AAAA"}));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("the server answered SERVFAIL for AAAA"), std::string::npos) << bad.err;

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           DnsRun(server.Port(), {"example.test", "-x", "192.0.2.1"}),
           DnsRun(server.Port(), {"-x", "not-an-address"}),
           DnsRun(server.Port(), {"example.test", "--udp", "--tcp"}),
           DnsRun(server.Port(), {"example.test", "-t", "AXFR", "--udp"}),
           DnsRun(server.Port(), {"example.test", "-t", "AAAA", "--proxy", "127.0.0.1:3128"}),
           DnsRun(server.Port(), {"example.test", "-t", "NOSUCHTYPE"}),
           DnsRun(server.Port(), {"a..b", "-t", "AAAA"}),
           DnsRun(server.Port(), {"--udp"})}) {
    auto run = test::RunToolArgs(args);
    EXPECT_EQ(run.status, 2) << args[5] << ": " << run.err;
  }
  EXPECT_EQ(server.UdpQueries(), 2);
}

}  // namespace
}  // namespace ktinet

namespace ktinet {
namespace {

// ---- Zone transfers over TCP -----------------------------------------------------------------

std::string Soa(unsigned serial) {
  return "example.test. 300 IN SOA ns1.example.test. admin.example.test. " + std::to_string(serial) +
         " 3600 600 86400 300";
}

std::vector<std::string> Wires(const std::string& type, const std::vector<std::vector<std::string>>& messages) {
  std::vector<std::string> wires;
  for (const auto& lines : messages) wires.push_back(BuildAnswer("example.test.", type, lines).wire);
  return wires;
}

// A server that answers every TCP query with these messages, each with the query's ID.
ScriptedDns TransferServer(const std::vector<std::string>& wires) {
  return ScriptedDns([wires](const std::string& q, bool) {
    std::vector<std::string> out;
    for (const auto& w : wires) out.push_back(Answering(w, q));
    return out;
  });
}

size_t RecordCount(const std::vector<TDigMessage>& messages) {
  size_t n = 0;
  for (const auto& m : messages) n += m.Answers.size();
  return n;
}

TEST(DigTransfer, IncrementalTransferEndsAtTheClosingSoaNotAtTheNewVersionsOwn) {
  // From version 1 to 3 in two difference sequences over three messages; version 3's SOA
  // stands at the head of the last additions before the one that closes. A fourth message
  // follows that belongs to nothing.
  std::vector<std::string> wires =
      Wires("IXFR", {{Soa(3), Soa(1), "a.example.test. 60 IN A 192.0.2.1", Soa(2)},
                     {"a.example.test. 60 IN A 192.0.2.2", Soa(2), "a.example.test. 60 IN A 192.0.2.2", Soa(3)},
                     {"a.example.test. 60 IN A 192.0.2.3", Soa(3)},
                     {"stray.example.test. 60 IN A 203.0.113.1"}});
  ScriptedDns server(
      [&](const std::string& q, bool) {
        std::vector<std::string> out;
        for (const auto& w : wires) out.push_back(Answering(w, q));
        return out;
      });
  TKtDigResolver r = Resolver(server.Port());
  std::vector<TDigMessage> got = r.Transfer("example.test", 251, 1);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got.back().Answers.back().Text, "ns1.example.test. admin.example.test. 3 3600 600 86400 300");
  EXPECT_TRUE(r.AnsweredOverTcp());
  EXPECT_EQ(server.UdpQueries(), 0);
  // The query named the version held, in an SOA record of its authority section.
  TDigMessage sent = DigDecodeMessage(server.LastQuery());
  ASSERT_EQ(sent.Questions.size(), 1u);
  EXPECT_EQ(DigTypeName(sent.Questions[0].Type), "IXFR");
  ASSERT_EQ(sent.Authority.size(), 1u);
  EXPECT_EQ(sent.Authority[0].Text, ". . 1 0 0 0 0");
  // The bytes as they came: three frames.
  size_t frames = 0;
  for (size_t at = 0; at + 2 <= r.AnswerWire().size(); ++frames)
    at += 2 + (static_cast<unsigned char>(r.AnswerWire()[at]) << 8 | static_cast<unsigned char>(r.AnswerWire()[at + 1]));
  EXPECT_EQ(frames, 3u);

  // Nothing newer: the lone SOA is the whole answer.
  ScriptedDns current = TransferServer(Wires("IXFR", {{Soa(3)}}));
  TKtDigResolver c = Resolver(current.Port());
  EXPECT_EQ(RecordCount(c.Transfer("example.test", 251, 3)), 1u);

  // A server that sends the whole zone for an IXFR; and AXFR itself, over two messages.
  for (const char* type : {"IXFR", "AXFR"}) {
    SCOPED_TRACE(type);
    ScriptedDns whole = TransferServer(
        Wires(type, {{Soa(3), "example.test. 300 IN NS ns1.example.test."}, {"a.example.test. 60 IN A 192.0.2.3", Soa(3)}}));
    TKtDigResolver w = Resolver(whole.Port());
    std::vector<TDigMessage> all = w.Transfer("example.test", DigTypeFromText(type), 1);
    EXPECT_EQ(all.size(), 2u);
    EXPECT_EQ(RecordCount(all), 4u);
  }
}

TEST(DigTransfer, BrokenTransfersAreErrorsNotAnswers) {
  auto failure = [](const std::vector<std::string>& wires, int type) -> std::string {
    ScriptedDns server = TransferServer(wires);
    TKtDigResolver r = Resolver(server.Port(), 1000);
    try {
      r.Transfer("example.test", type, 1);
    } catch (const EDigError& e) {
      return e.what();
    }
    return "no error";
  };
  // The server closes before the closing SOA.
  EXPECT_NE(failure(Wires("AXFR", {{Soa(3), "a.example.test. 60 IN A 192.0.2.3"}}), 252)
                .find("closed the connection inside the zone transfer"),
            std::string::npos);
  // No SOA first; another SOA inside an AXFR; records after the close.
  EXPECT_NE(failure(Wires("AXFR", {{"a.example.test. 60 IN A 192.0.2.3", Soa(3)}}), 252).find("does not begin"),
            std::string::npos);
  EXPECT_NE(failure(Wires("AXFR", {{Soa(3), Soa(4)}}), 252).find("different SOA"), std::string::npos);
  EXPECT_NE(failure(Wires("AXFR", {{Soa(3), Soa(3), "a.example.test. 60 IN A 192.0.2.3"}}), 252)
                .find("records after the SOA record that closes"),
            std::string::npos);
  // A difference that starts from a version the asker does not hold.
  EXPECT_NE(failure(Wires("IXFR", {{Soa(3), Soa(2), Soa(3), Soa(3)}}), 251).find("from version 2 where 1 was due"),
            std::string::npos);
  // An error after the first message breaks the transfer off.
  std::vector<std::string> cut = Wires("AXFR", {{Soa(3)}});
  cut.push_back(BuildAnswer("example.test.", "AXFR", {}, "servfail").wire);
  EXPECT_NE(failure(cut, 252).find("SERVFAIL"), std::string::npos);
  // A refusal as the first message is the answer.
  ScriptedDns refusing = TransferServer({BuildAnswer("example.test.", "AXFR", {}, "servfail").wire});
  TKtDigResolver r = Resolver(refusing.Port());
  std::vector<TDigMessage> refused = r.Transfer("example.test", 252);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(DigRCodeName(refused[0].RCode()), "SERVFAIL");
  // A limit on the size.
  ScriptedDns big = TransferServer(Wires("AXFR", {{Soa(3), "a.example.test. 60 IN TXT \"" + std::string(200, 'x') + "\""},
                                                  {Soa(3)}}));
  TKtDigResolver small = Resolver(big.Port());
  small.SetMaxTransferBytes(200);
  EXPECT_THROW(small.Transfer("example.test", 252), EDigError);
}

TEST(DigProgram, TransfersPrintEveryMessageAndAQueryNeverStandsInForOne) {
  ScriptedDns server = TransferServer(Wires(
      "AXFR", {{Soa(3), "example.test. 300 IN NS ns1.example.test."}, {"a.example.test. 60 IN A 192.0.2.3", Soa(3)}}));
  std::string port = std::to_string(server.Port());
  auto run = test::RunToolArgs({"dig", "@127.0.0.1", "--port", port, "example.test", "AXFR", "--short"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out).size(), 4u) << run.out;
  EXPECT_EQ(Lines(run.out).back(), "ns1.example.test. admin.example.test. 3 3600 600 86400 300");
  auto json = test::RunToolArgs({"dig", "@127.0.0.1", "--port", port, "example.test", "-t", "axfr", "--json"});
  EXPECT_EQ(json.out.rfind("[{", 0), 0u) << json.out;
  EXPECT_EQ(json.out.find("\"id\"", json.out.find("\"id\"", json.out.find("\"id\"") + 1) + 1), std::string::npos);
  EXPECT_EQ(server.UdpQueries(), 0);
  EXPECT_EQ(server.TcpQueries(), 2);
  EXPECT_EQ(test::RunToolArgs({"dig", "@127.0.0.1", "--port", port, "example.test", "IXFR"}).status, 2);
  TKtDigResolver r = Resolver(server.Port());
  EXPECT_THROW(r.Query("example.test", 252), EDigError);
  EXPECT_EQ(server.TcpQueries(), 2);
}

TEST(DnsProgram, IxfrThroughTheProgramPrintsEveryMessage) {
  ScriptedDns server = TransferServer(Wires(
      "IXFR", {{Soa(3), Soa(1), "a.example.test. 60 IN A 192.0.2.1", Soa(3)}, {"a.example.test. 60 IN A 192.0.2.3", Soa(3)}}));
  auto run = test::RunToolArgs(DnsRun(server.Port(), {"example.test", "-t", "ixfr=1"}));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(";example.test.\t\tIN\tIXFR\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("a.example.test.\t60\tIN\tA\t192.0.2.3\n"), std::string::npos) << run.out;
  size_t headers = 0;
  for (size_t at = run.out.find(";; ->>HEADER<<-"); at != std::string::npos; at = run.out.find(";; ->>HEADER<<-", at + 1))
    ++headers;
  EXPECT_EQ(headers, 2u);
  auto json = test::RunToolArgs(DnsRun(server.Port(), {"example.test", "-t", "IXFR=1", "--json"}));
  EXPECT_NE(json.out.find("\"transport\": \"tcp\""), std::string::npos) << json.out;
  EXPECT_EQ(server.UdpQueries(), 0);
  for (const char* bad : {"IXFR", "IXFR=x", "IXFR=4294967296"})
    EXPECT_EQ(test::RunToolArgs(DnsRun(server.Port(), {"example.test", "-t", bad})).status, 2) << bad;
  EXPECT_EQ(test::RunToolArgs(DnsRun(server.Port(), {"example.test", "-t", "IXFR=1", "--udp"})).status, 2);
}

}  // namespace
}  // namespace ktinet
