// The conventions every network subcommand of the program shares, run as a user runs them:
// deadlines, exit codes of HTTP error answers, secrets kept off the command line, TLS options.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "support/NginxServer.h"
#include "support/RunTool.h"
#include "support/ScriptedServer.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"
#include "support/Tmux.h"

namespace ktinet {
namespace {

using test::NginxServer;
using test::Script;
using test::ScriptedServer;
using test::ToolOutcome;

// A run that ignored its deadline would outlast this and fail the test.
constexpr int kBoundSeconds = 15;

ToolOutcome Program(const std::vector<std::string>& args) { return test::RunToolArgs(args, kBoundSeconds); }

// Sets an environment variable for the programs started while it lives.
struct ScopedEnv {
  std::string name;
  ScopedEnv(std::string n, const std::string& value) : name(std::move(n)) { ::setenv(name.c_str(), value.c_str(), 1); }
  ~ScopedEnv() { ::unsetenv(name.c_str()); }
};

// A server that accepts and says nothing: every subcommand gives up after --timeout.
TEST(Conventions, SilentServersEndEverySocketSubcommandAtItsTimeout) {
  ScriptedServer server;
  const std::string port = std::to_string(server.Port());
  const std::vector<std::vector<std::string>> runs = {
      {"dns", "example.com", "--server", "127.0.0.1", "--port", port},
      {"http", "http://127.0.0.1:" + port + "/"},
      {"whois", "example.com", "--host", "127.0.0.1", "--port", port},
      {"daytime", "--host", "127.0.0.1", "--port", port},
      {"query", "127.0.0.1", port},
      {"mail", "--server", "127.0.0.1:" + port, "--from", "a@example.com", "--to", "b@example.com"},
      {"get", "http://127.0.0.1:" + port + "/"},
  };
  for (std::vector<std::string> args : runs) {
    server.Add(Script().Stall(3 * kBoundSeconds * 1000));
    args.insert(args.end(), {"--timeout", "0.5"});
    ToolOutcome run = Program(args);
    EXPECT_EQ(run.status, 1) << args[0] << ": " << run.err;
    EXPECT_FALSE(run.err.empty()) << args[0];
  }
}

// A byte every 100 ms never trips the silence time-out; only --max-time ends the job.
TEST(Conventions, MaxTimeCutsATricklingServer) {
  ScriptedServer server;
  const std::string port = std::to_string(server.Port());
  auto trickle = [] {
    Script s;
    s.ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    for (int i = 0; i < 3 * kBoundSeconds * 10; ++i) s.Send("x").Stall(100);
    return s;
  };
  server.Add(trickle());
  ToolOutcome http = Program({"http", "http://127.0.0.1:" + port + "/", "--timeout", "5", "--max-time", "1"});
  EXPECT_EQ(http.status, 1) << http.err;
  EXPECT_NE(http.err.find("Time limit of 1000 ms"), std::string::npos) << http.err;

  server.Add(trickle());
  ToolOutcome get = Program({"get", "http://127.0.0.1:" + port + "/", "--timeout", "5", "--max-time", "1.5"});
  EXPECT_EQ(get.status, 1) << get.err;
  EXPECT_NE(get.err.find("timed out"), std::string::npos) << get.err;
  EXPECT_EQ(get.out.find_first_not_of('x'), std::string::npos) << "what came is still written";
}

TEST(Conventions, DeadlinesAreSecondsAndGarbageIsBadUsage) {
  for (const char* bad : {"abc", "-1", "1s", "", "1e99", "nan"}) {
    ToolOutcome run = Program({"http", "http://127.0.0.1:9/", "--timeout", bad});
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_NE(run.err.find("--timeout wants seconds"), std::string::npos) << run.err;
  }
  EXPECT_EQ(Program({"get", "http://127.0.0.1:9/", "--max-time", "x"}).status, 2);
  ToolOutcome help = Program({"whois", "--help"});
  EXPECT_NE(help.out.find("--connect-timeout S"), std::string::npos);
  EXPECT_EQ(help.out.find("--timeout MS"), std::string::npos);
}

// Any status of 400 or more fails the job; http still prints the body, as curl does.
TEST(Conventions, HttpErrorStatusesFailButShowTheBody) {
  ScriptedServer server;
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
  for (const char* status : {"403 Forbidden", "500 Internal Server Error", "200 OK"}) {
    server.Add(Script().ReadUntil("\r\n\r\n").Send(std::string("HTTP/1.0 ") + status + "\r\n\r\npage of " + status));
    ToolOutcome run = Program({"http", url, "--timeout", "10"});
    EXPECT_EQ(run.out, std::string("page of ") + status);
    const bool ok = status[0] == '2';
    EXPECT_EQ(run.status, ok ? 0 : 1) << status;
    if (!ok) {
      EXPECT_NE(run.err.find(std::string("the server answered ") + status), std::string::npos) << run.err;
    }
  }
}

TEST(Conventions, UpdateFailsWhenTheRemoteFileIsMissing) {
  NginxServer::Options o;
  o.files = {{"here.txt", "present\n"}};
  NginxServer nginx(o);
  test::TempDir dir;
  const std::string base = "http://127.0.0.1:" + std::to_string(nginx.Port());
  ToolOutcome missing = Program({"update", base + "/gone.txt", dir / "gone.txt", "--no-window"});
  EXPECT_EQ(missing.status, 1) << missing.out << missing.err;
  EXPECT_EQ(missing.out, "not found\n");
  EXPECT_EQ(Program({"update", base + "/here.txt", dir / "here.txt", "--no-window"}).status, 0);
  ToolOutcome again = Program({"update", base + "/here.txt", dir / "here.txt", "--no-window"});
  EXPECT_EQ(again.status, 0) << "up to date is done too";
  EXPECT_EQ(again.out, "skipped\n");
}

// The password from a file or the environment reaches the server; the argument form still works.
TEST(Conventions, SecretsComeFromAFileOrTheEnvironment) {
  NginxServer::Options o;
  o.files = {{"private/note.txt", "for members\n"}};
  o.users = {{"member", "pa ss:word"}};
  o.locations = "location /private/ { auth_basic \"members\"; auth_basic_user_file {htpasswd}; }\n";
  NginxServer nginx(o);
  test::TempDir dir;
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/private/note.txt";
  const std::string good = dir.Write("good", "pa ss:word\nsecond line is not read\n");
  const std::string bad = dir.Write("bad", "wrong\n");

  ToolOutcome fromFile = Program({"get", url, "--user", "member", "--password-file", good});
  EXPECT_EQ(fromFile.status, 0) << fromFile.err;
  EXPECT_EQ(fromFile.out, "for members\n");
  EXPECT_NE(Program({"get", url, "--user", "member", "--password-file", bad}).out, "for members\n");
  {
    ScopedEnv env("KTINET_PASSWORD", "pa ss:word");
    EXPECT_EQ(Program({"get", url, "-u", "member"}).out, "for members\n");
    EXPECT_EQ(Program({"update", url, dir / "note.txt", "-u", "member", "--no-window"}).status, 0);
    // The command line wins over the environment.
    EXPECT_NE(Program({"get", url, "-u", "member", "-p", "wrong"}).out, "for members\n");
  }
  EXPECT_EQ(Program({"get", url, "-u", "member", "-p", "pa ss:word"}).out, "for members\n");

  EXPECT_EQ(Program({"get", url, "--password-file", good}).status, 2) << "a password needs a user";
  EXPECT_EQ(Program({"get", url, "-u", "member", "-p", "x", "--password-file", good}).status, 2);
  ToolOutcome unreadable = Program({"get", url, "-u", "member", "--password-file", dir / "none"});
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_NE(unreadable.err.find("--password-file: cannot read"), std::string::npos) << unreadable.err;
  EXPECT_NE(Program({"update", "--help"}).out.find("other users can see it"), std::string::npos);
}

// On a terminal, --user without a password asks for it through the logon dialog, unseen.
TEST(Conventions, AUserWithoutAPasswordIsAskedOnATerminal) {
  NginxServer::Options o;
  o.files = {{"private/note.txt", "for members\n"}};
  o.users = {{"member", "hidden pw"}};
  o.locations = "location /private/ { auth_basic \"members\"; auth_basic_user_file {htpasswd}; }\n";
  NginxServer nginx(o);
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/private/note.txt";
  test::Tmux t("sh -c " + test::ShellQuote("env -u http_proxy -u KTINET_UI -u KTINET_PASSWORD " +
                                           test::ShellQuote(KTINET_TOOL) + " get " + url +
                                           " --user member; echo EXIT=$?; sleep 60"),
               100, 30);
  t.WaitFor("Server logon");
  t.Keys("Enter");
  t.Keys("'hidden pw'");
  t.Keys("Enter");
  std::string screen = t.WaitFor("EXIT=");
  EXPECT_NE(screen.find("for members"), std::string::npos) << screen;
  EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("hidden pw"), std::string::npos) << "the password was echoed: " << screen;
}

// The mail password from a file, over implicit TLS whose authority is named only by SSL_CERT_FILE
// (the socket TLS path reads the variable as OpenSSL does).
TEST(Conventions, MailTakesItsPasswordFromAFileAndTrustsSslCertFile) {
  test::SmtpServer::Options o;
  o.mode = test::SmtpServer::kImplicitTls;
  test::SmtpServer smtp(o);
  test::TempDir dir;
  const std::vector<std::string> base = {"mail", "--server", "127.0.0.1:" + std::to_string(smtp.Port()),
                                         "--tls", "implicit", "--from", "a@example.com", "--to", "b@example.com",
                                         "--body", "hi", "--user", o.user, "--timeout", "10"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = base;
    args.insert(args.end(), more.begin(), more.end());
    return Program(args);
  };
  const std::string good = dir.Write("pw", o.password + "\n");
  ToolOutcome untrusted = with({"--password-file", good});
  EXPECT_EQ(untrusted.status, 1) << untrusted.err;
  {
    ScopedEnv env("SSL_CERT_FILE", test::SmtpServer::CAFile());
    ToolOutcome sent = with({"--password-file", good});
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(with({"--password-file", dir.Write("bad", "nope\n")}).status, 1);
  }
  EXPECT_EQ(with({"--password-file", good, "--insecure"}).status, 0);
  // Without a terminal there is nobody to ask: no password is a usage error, not a hang.
  EXPECT_EQ(with({}).status, 2);
  EXPECT_EQ(smtp.WaitMessages(2).size(), 2u);
}

// The transfer subcommands reach a private CA's HTTPS server with --cacert, $SSL_CERT_FILE or
// --insecure, and refuse it otherwise.
TEST(Conventions, TlsOptionsOnEveryTransferSubcommand) {
  const std::string feed =
      "<?xml version=\"1.0\"?>\n<rss version=\"2.0\">\n<channel>\n<title>Private</title>\n"
      "<item>\n<title>One</title>\n</item>\n</channel>\n</rss>\n";
  NginxServer::Options o;
  o.https = true;
  o.files = {{"feed.xml", feed}, {"page.html", "<a href=\"mailto:x@example.com\">x</a>\n"},
             {"news.txt", "[Section]\nhttp://example.com/a=A\n"}};
  NginxServer nginx(o);
  const std::string base = "https://127.0.0.1:" + std::to_string(nginx.Port());
  const std::string ca = NginxServer::CAFile();

  EXPECT_EQ(Program({"get", base + "/feed.xml"}).status, 1);
  EXPECT_EQ(Program({"get", base + "/feed.xml", "--cacert", ca}).out, feed);
  EXPECT_EQ(Program({"get", base + "/feed.xml", "--insecure"}).out, feed);
  {
    ScopedEnv env("SSL_CERT_FILE", ca);
    EXPECT_EQ(Program({"get", base + "/feed.xml"}).out, feed);
  }
  {
    test::TempDir certs;
    ASSERT_EQ(std::system(("cp " + test::ShellQuote(ca) + " " + certs.Path() + "/ca.pem && openssl rehash " +
                           certs.Path() + " >/dev/null 2>&1").c_str()),
              0);
    ScopedEnv env("SSL_CERT_DIR", certs.Path());
    EXPECT_EQ(Program({"get", base + "/feed.xml"}).out, feed);
  }

  EXPECT_EQ(Program({"rss", base + "/feed.xml"}).status, 1);
  ToolOutcome rss = Program({"rss", base + "/feed.xml", "--cacert", ca});
  EXPECT_EQ(rss.status, 0) << rss.err;
  EXPECT_NE(rss.out.find("Private"), std::string::npos) << rss.out;
  ToolOutcome extract = Program({"extract", base + "/page.html", "--insecure"});
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_NE(extract.out.find("x@example.com"), std::string::npos) << extract.out;
  for (const char* command : {"image", "news", "ls"}) {
    ToolOutcome help = Program({command, "--help"});
    EXPECT_NE(help.out.find("--cacert FILE"), std::string::npos) << command;
    EXPECT_NE(help.out.find("--insecure"), std::string::npos) << command;
    EXPECT_NE(help.out.find("--max-time S"), std::string::npos) << command;
  }
}

}  // namespace
}  // namespace ktinet
