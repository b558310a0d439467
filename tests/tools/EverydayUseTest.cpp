// The program as a person or a script uses it every day: standard input for files, JSON records
// in UTF-8, times with their zone, text from the network that cannot drive the terminal,
// progress on a terminal, 80 columns.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/DnsmasqServer.h"
#include "support/FakeServices.h"
#include "support/Net.h"
#include "support/NginxServer.h"
#include "support/RunTool.h"
#include "support/ScriptedServer.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"
#include "support/Tmux.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;
using test::ShellQuote;
using test::TempDir;
using test::ToolOutcome;

ToolOutcome Tool(const std::vector<std::string>& args) { return test::RunToolArgs(args); }

// The program with `input` on its standard input.
ToolOutcome ToolWithInput(const std::string& args, const std::string& input) {
  TempDir dir;
  const std::string in = dir.Write("in", input);
  ToolOutcome o;
  o.out = test::RunCommand("env -u http_proxy -u https_proxy -u ftp_proxy KTINET_UI=headless " +
                               ShellQuote(KTINET_TOOL) + " " + args + " <" + ShellQuote(in) + " 2>" +
                               ShellQuote(dir / "err"),
                           &o.status);
  o.err = test::ReadFileBytes(dir / "err");
  return o;
}

std::string Port(int port) { return std::to_string(port); }

const std::string kEsc = "\x1b]2;pwned\x07";    // sets the window title
const std::string kShownEsc = "\\x1b]2;pwned\\x07";

TEST(EverydayUse, DashReadsStandardInputWhereAFileIsNamed) {
  ToolOutcome run = ToolWithInput("xml - --find b --value", "<a><b>from stdin</b></a>");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "from stdin\n");

  run = ToolWithInput("util base64 --file -", "hi\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "aGkK\n");

  const std::string feed = "<rss version=\"2.0\">\n<channel>\n<title>Piped</title>\n<item>\n<title>One</title>\n"
                           "</item>\n</channel>\n</rss>\n";
  run = ToolWithInput("rss -", feed);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("  title: Piped\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("    title: One\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
  // A document that is no feed: nothing to list, and stderr says why.
  run = ToolWithInput("rss -", "<html><body>not a feed</body></html>\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("no channel"), std::string::npos) << run.err;

  run = ToolWithInput("extract - --kind http", "see http://a.example/x and http://b.example/y\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "http://a.example/x\nhttp://b.example/y\n");

  // http --data @FILE posts the file's bytes, @- those of standard input.
  test::NginxServer::Options o;
  o.locations = test::NginxServer::EchoBodyLocation("/echo");
  test::NginxServer nginx(o);
  const std::string body = "piped \xc3\xa4 body";
  run = ToolWithInput("http --data @- http://127.0.0.1:" + Port(nginx.Port()) + "/echo --timeout 10", body);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, body);
  TempDir dir;
  run = Tool({"http", "--data", "@" + dir.Write("body", "from a file"), "http://127.0.0.1:" + Port(nginx.Port()) + "/echo",
              "--timeout", "10"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "from a file");
}

// A scripted mail server whose final reply is UTF-8; the message size is what it received
// between DATA and the final dot.
TEST(EverydayUse, MailJsonReportsRecipientsReplyAndSize) {
  ScriptedServer server;
  server.Add(Script()
                 .Send("220 mx.test ESMTP\r\n")
                 .ReadUntil("\r\n").Send("250 mx.test\r\n")    // EHLO
                 .ReadUntil("\r\n").Send("250 ok\r\n")         // RSET
                 .ReadUntil("\r\n").Send("250 ok\r\n")         // MAIL FROM
                 .ReadUntil("\r\n").Send("250 ok\r\n")         // RCPT TO
                 .ReadUntil("\r\n").Send("250 ok\r\n")         // RCPT TO (cc)
                 .ReadUntil("\r\n").Send("354 go on\r\n")      // DATA
                 .ReadUntil("\r\n.\r\n").Send("250 2.0.0 zugestellt an B\xc3\xbc" "cher\r\n")
                 .ReadUntil("\r\n").Send("221 bye\r\n"));
  const ToolOutcome run =
      ToolWithInput("mail --server 127.0.0.1:" + Port(server.Port()) +
                        " --from a@test.example --to b@test.example --cc c@test.example --subject Hi"
                        " --body-file - --json --timeout 10",
                    "body from standard input\n.leading dot\n");
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_TRUE(server.WaitDone(1));
  const std::string got = server.Received(0);
  const size_t from = got.find("DATA\r\n") + 6, end = got.find("\r\n.\r\n") + 2;
  ASSERT_LT(from, end);
  EXPECT_NE(got.find("body from standard input\r\n..leading dot\r\n"), std::string::npos) << got;
  // Dot-stuffing is the wire's business: the message itself has one dot fewer.
  const size_t size = end - from - 1;
  EXPECT_EQ(run.out, "{\"server\":\"127.0.0.1:" + Port(server.Port()) +
                         "\",\"accepted\":[\"b@test.example\",\"c@test.example\"],"
                         "\"reply\":\"250 2.0.0 zugestellt an B\xc3\xbc" "cher\",\"size\":" +
                         std::to_string(size) + "}\n");
}

TEST(EverydayUse, JsonRecordsCarryUtf8Once) {
  TempDir dir;
  // extract: the page's UTF-8 stays UTF-8 (not encoded a second time).
  const std::string page = dir.Write("page.html", "<a href=\"http://b\xc3\xbc" "cher.example/\">x</a>\n");
  ToolOutcome run = Tool({"extract", page, "--kind", "http", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "[\"http://b\xc3\xbc" "cher.example/\"]\n");

  // update: status, file, size, its time in UTC.
  const std::string source = dir.Write("quelle.txt", "0123456789");
  const std::time_t stamp = 1796656847;  // 2026-12-07T15:20:47Z
  struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  const std::string local = dir / "b\xc3\xbc" "cher.txt";
  run = Tool({"update", source, local, "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "{\"status\":\"finished\",\"file\":\"" + local +
                         "\",\"bytes\":10,\"stamped\":\"2026-12-07T15:20:47Z\",\"httpStatus\":0}\n");

  // daytime: the time in UTC and the server's line, whatever it holds.
  ScriptedServer server;
  server.Add(Script().Send("\n59189 20-12-06 13:34:51 00 0 0  50.0 UTC(NIST) * gr\xc3\xbc\xc3\x9f\x1b[2J\n"));
  run = Tool({"daytime", "--host", "127.0.0.1", "--port", Port(server.Port()), "--json", "--timeout", "5"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "{\"time\":\"2020-12-06T13:34:51Z\",\"answer\":\"59189 20-12-06 13:34:51 00 0 0  50.0 UTC(NIST) * "
                     "gr\xc3\xbc\xc3\x9f\\u001b[2J\"}\n");

  // image: one record per fetch; a name beyond ASCII stays as it is.
  std::string header("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x03\0\0\0\x02\x08\x06\0\0\0\0\0\0\0", 33);
  const std::string png = dir.Write("bild-\xc3\xbc.png", header);
  run = Tool({"image", png, "--interval", "1", "--json"});
  EXPECT_EQ(run.out, "{\"fetch\":1,\"status\":\"finished\",\"url\":\"" + png +
                         "\",\"format\":\"png\",\"width\":3,\"height\":2}\n")
      << run.err;
}

TEST(EverydayUse, TrackFailureAsJson) {
  // Nobody listens on the port the tracker is sent to: the record names the failure.
  const ToolOutcome run = Tool({"track", "ups", "1Z\xc3\xa4", "--http", "--host", "127.0.0.1", "--port",
                                Port(test::FreePort()), "--json"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("{\"carrier\":\"ups\",\"trackingNumber\":\"1Z\xc3\xa4\",\"error\":\"", 0), 0u) << run.out;
  EXPECT_NE(run.err.find("ktinet track: "), std::string::npos);
}

TEST(EverydayUse, NetworkTextCannotDriveTheTerminal) {
  TempDir dir;
  // A file name, a feed title and a link, each with a title-setting sequence.
  dir.Write("a" + kEsc + ".txt", "x");
  ToolOutcome run = Tool({"ls", dir.Path(), "--mask", "a*"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("a" + kShownEsc + ".txt\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);

  const std::string feed = dir.Write("feed.xml", "<rss><channel>\n<title>T" + kEsc + "</title>\n</channel></rss>\n");
  run = Tool({"rss", feed});
  EXPECT_NE(run.out.find("  title: T\\x1b]2;pwned"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);

  // ESC c resets the terminal (and clears it).
  const std::string page = dir.Write("p.html", "http://x.example/\x1b" "c\n");
  run = Tool({"extract", page, "--kind", "http"});
  EXPECT_EQ(run.out, "http://x.example/\\x1b" "c\n");

  // The raw subcommands stay byte-exact into a file or a pipe...
  ScriptedServer server;
  const std::string answer = "Domain Name: X.TEST\r\nNote: " + kEsc + "\r\n";
  server.Add(Script().ReadUntil("\r\n").Send(answer));
  server.Add(Script().ReadUntil("\r\n").Send(answer));
  run = Tool({"whois", "x.test", "--host", "127.0.0.1", "--port", Port(server.Port()), "--timeout", "5"});
  EXPECT_EQ(run.out, answer);
  // ... and are defused on a terminal: the sequence shows as text instead of retitling.
  test::Tmux t("env KTINET_UI=headless " + ShellQuote(KTINET_TOOL) + " whois x.test --host 127.0.0.1 --port " +
               Port(server.Port()) + " --timeout 5; echo EXIT=$?; sleep 60");
  const std::string screen = t.WaitFor("EXIT=");
  EXPECT_NE(screen.find("Note: " + kShownEsc), std::string::npos) << screen;
  EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
}

TEST(EverydayUse, ExtractedLinksEndAtTheLineBreak) {
  TempDir dir;
  const std::string page = dir.Write("list.txt", "http://h.example/a\r\nftp://f.example/b\nhttp://h.example/c\n");
  ToolOutcome run = Tool({"extract", page, "--kind", "http"});
  EXPECT_EQ(run.out, "http://h.example/a\nhttp://h.example/c\n");
  run = Tool({"extract", page, "--kind", "ftp", "--json"});
  EXPECT_EQ(run.out, "[\"ftp://f.example/b\"]\n");
}

TEST(EverydayUse, DnsAsksTheFirstNameServerOfTheResolverFile) {
  test::DnsmasqServer dnsmasq;
  TempDir dir;
  const std::string conf = dir.Write("resolv.conf", "# local\nsearch test\nnameserver 127.0.0.1\nnameserver 192.0.2.1\n");
  ASSERT_EQ(setenv("KTINET_RESOLV_CONF", conf.c_str(), 1), 0);
  ToolOutcome run = Tool({"dns", "example.test", "--port", Port(dnsmasq.Port()), "--timeout", "5"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("example.test.\t300\tIN\tA\t192.0.2.10\n"), std::string::npos) << run.out;
  // A file without a name server: nobody to ask.
  ASSERT_EQ(setenv("KTINET_RESOLV_CONF", dir.Write("empty.conf", "search test\n").c_str(), 1), 0);
  run = Tool({"dns", "example.test"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("nameserver"), std::string::npos) << run.err;
  unsetenv("KTINET_RESOLV_CONF");
}

// An SNTP server whose clock runs 100 s ahead of this one.
class AheadSntpServer {
 public:
  AheadSntpServer() {
    FFd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { Serve(); });
  }
  ~AheadSntpServer() {
    FStop = true;
    FThread.join();
    close(FFd);
  }
  int Port() const { return FPort; }

 private:
  void Serve() {
    while (!FStop) {
      pollfd p{FFd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      unsigned char q[48];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      if (recvfrom(FFd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &len) != 48) continue;
      unsigned char r[48] = {};
      r[0] = 0x1C;  // no leap warning, version 3, server
      r[1] = 2;     // stratum
      for (int i = 0; i < 8; ++i) r[24 + i] = q[40 + i];  // originate: the request's transmit
      timespec now{};
      clock_gettime(CLOCK_REALTIME, &now);
      const std::uint32_t s = static_cast<std::uint32_t>(now.tv_sec + 2208988800LL + 100);
      const std::uint32_t f = static_cast<std::uint32_t>(now.tv_nsec / 1e9 * 4294967296.0);
      for (int at : {32, 40})
        for (int i = 0; i < 4; ++i) {
          r[at + i] = static_cast<unsigned char>(s >> (24 - 8 * i));
          r[at + 4 + i] = static_cast<unsigned char>(f >> (24 - 8 * i));
        }
      sendto(FFd, r, sizeof r, 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  }
  int FFd = -1, FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

TEST(EverydayUse, SntpPrintsUtcAndTheServerMinusLocalOffset) {
  AheadSntpServer server;
  ToolOutcome run = Tool({"sntp", "--host", "127.0.0.1", "--port", Port(server.Port()), "--timeout", "3", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  // {"time":"2026-12-07T15:22:27.250Z","offset":+100.000,"stratum":2}
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  ASSERT_EQ(std::sscanf(run.out.c_str(), "{\"time\":\"%d-%d-%dT%d:%d:%d.%dZ\"", &y, &mo, &d, &h, &mi, &s, &ms), 7)
      << run.out;
  std::tm tm{};
  tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d, tm.tm_hour = h, tm.tm_min = mi, tm.tm_sec = s;
  EXPECT_NEAR(static_cast<double>(timegm(&tm)), static_cast<double>(std::time(nullptr) + 100), 3.0) << run.out;
  const size_t at = run.out.find("\"offset\":");
  ASSERT_NE(at, std::string::npos) << run.out;
  // The server is ahead: server minus local is positive, as ntpdate counts it.
  EXPECT_NEAR(std::atof(run.out.c_str() + at + 9), 100.0, 1.0) << run.out;
  EXPECT_NE(run.out.find(",\"stratum\":2}\n"), std::string::npos) << run.out;
}

TEST(EverydayUse, ProgressOnATerminalsStderrOnly) {
  test::NginxServer::Options o;
  o.files = {{"big.bin", std::string(300000, 'x')}};
  test::NginxServer nginx(o);
  const std::string url = "http://127.0.0.1:" + Port(nginx.Port()) + "/big.bin";
  TempDir dir;
  // Standard output is a file; stderr is the terminal.
  test::Tmux t("env -u http_proxy KTINET_UI=headless " + ShellQuote(KTINET_TOOL) + " get " + ShellQuote(url) + " >" +
               ShellQuote(dir / "got") + "; env -u http_proxy " + ShellQuote(KTINET_TOOL) + " update " +
               ShellQuote(url) + " " + ShellQuote(dir / "copy") + " --no-window >/dev/null; echo EXIT=$?; sleep 60");
  const std::string screen = t.WaitFor("EXIT=");
  EXPECT_NE(screen.find("ktinet get: 300000 bytes"), std::string::npos) << screen;
  EXPECT_NE(screen.find("ktinet update: 300000 of 300000 bytes (100%)"), std::string::npos) << screen;
  EXPECT_EQ(test::ReadFileBytes(dir / "got").size(), 300000u);
  // Into a pipe or a file nothing of it.
  const ToolOutcome run = Tool({"get", url});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
}

TEST(EverydayUse, OutputFitsEightyColumns) {
  ToolOutcome run = Tool({"demo"});
  std::vector<std::string> commands;
  std::istringstream help(Tool({"--help"}).out);
  for (std::string line; std::getline(help, line);) {
    EXPECT_LT(line.size(), 80u) << line;
    if (line.size() > 3 && line[0] == ' ' && line[2] != ' ' && line.rfind("  ktinet", 0) != 0)
      commands.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  ASSERT_GT(commands.size(), 20u);
  for (const std::string& c : commands) run.out += Tool({c, "--help"}).out;
  std::istringstream all(run.out);
  for (std::string line; std::getline(all, line);) {
    size_t columns = 0;
    for (char ch : line) columns += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    EXPECT_LT(columns, 80u) << line;
  }
}

TEST(EverydayUse, DumbTerminalPanelHasNoEscapes) {
  test::Tmux t("env TERM=dumb KTINET_UI=terminal " + ShellQuote(KTINET_TOOL) +
               " status-demo --size 20000 --block-ms 1 --step-ms 1 --title Plain; echo EXIT=$?; sleep 60");
  t.WaitFor("EXIT=");
  const std::string raw = t.Screen(true);
  EXPECT_EQ(raw.find("\x1b["), std::string::npos) << raw;
  EXPECT_NE(raw.find("Plain"), std::string::npos) << raw;
  // The same on an ordinary terminal draws its title in bold.
  test::Tmux styled("env TERM=screen KTINET_UI=terminal " + ShellQuote(KTINET_TOOL) +
                    " status-demo --size 20000 --block-ms 1 --step-ms 1 --title Plain; echo EXIT=$?; sleep 60");
  styled.WaitFor("EXIT=");
  EXPECT_NE(styled.Screen(true).find("\x1b[1m"), std::string::npos) << styled.Screen(true);
}

TEST(EverydayUse, FormRunPrintsWhatTheSubcommandPrints) {
  TempDir dir;
  // A lone component at the root runs once; its socket is its own part, not a component to run.
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n").Send("Domain Name: FORM.TEST\r\n"));
  const std::string lone = dir.Write("lone.txt", "object KtWhoIs1: TKtWhoIs\n  AutoSelectServer = False\n"
                                                     "  Domain = 'form.test'\n  Host = '127.0.0.1'\n  Port = " +
                                                     Port(server.Port()) + "\n  ReadTimeout = 5000\nend\n");
  ToolOutcome run = Tool({"form", "run", lone});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "== KtWhoIs1: TKtWhoIs\nDomain Name: FORM.TEST\r\n");

  // A tracker prints its shipment as `ktinet track` does.
  test::FakeServices::Options plain;
  plain.https = false;
  test::FakeServices fake(plain);
  const std::string form = dir.Write(
      "track.txt", "object DataModule1: TDataModule\n  object KtUPSTracker1: TKtUPSTracker\n    Port = " +
                       Port(fake.Port()) + "\n    Service = isHTTP\n    Host = '127.0.0.1'\n"
                       "    TrackingNumber = '1Z999'\n  end\nend\n");
  run = Tool({"form", "run", form});
  EXPECT_EQ(run.status, 0) << run.err;
  const ToolOutcome track = Tool({"track", "ups", "1Z999", "--http", "--host", "127.0.0.1", "--port", Port(fake.Port())});
  ASSERT_EQ(track.status, 0) << track.err;
  EXPECT_EQ(run.out, "== KtUPSTracker1: TKtUPSTracker\n" + track.out);

  // A feed reader prints its channels as `ktinet rss` does.
  const std::string feed = dir.Write("feed.xml", "<rss><channel>\n<title>Form feed</title>\n<item>\n<title>One</title>\n"
                                                 "</item>\n</channel></rss>\n");
  const std::string rssForm = dir.Write(
      "rss.txt", "object DataModule1: TDataModule\n  object KtIRSSParser1: TKtIRSSParser\n    Service = isNetwork\n"
                 "    RemoteFileName = '" + feed + "'\n  end\nend\n");
  run = Tool({"form", "run", rssForm});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "== KtIRSSParser1: TKtIRSSParser\n" + Tool({"rss", feed}).out);
}

}  // namespace
}  // namespace ktinet
