// The updater over HTTP against nginx on loopback (sizes, times, error answers, basic
// authentication, ranges) and against scripted servers for what nginx will not do (no
// Content-Length, a bad one, a truncated body, a server that ignores ranges or never answers).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <algorithm>

#include "TransferSupport.h"
#include "support/NginxServer.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "vcl/KtILogOn.h"
#include "vcl/ScriptedBackend.h"

namespace ktinet::test {
namespace {

constexpr std::time_t kServedTime = 1764583200;  // 2025-12-01 10:00:00 UTC, whole seconds as HTTP dates

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(needle, at)) != std::string::npos; at += needle.size()) ++n;
  return n;
}

// nginx writes its access log after it has answered: the count of a request's lines, once it
// reaches `expected` or after five seconds.
template <class Server>
size_t LoggedCount(const Server& nginx, const std::string& needle, size_t expected) {
  size_t n = 0;
  for (int i = 0; i < 500 && (n = Count(nginx.AccessLog(), needle)) < expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return n;
}

void Point(TProbe& u, int port, const std::string& path, const std::string& local) {
  u.SetHost(u"127.0.0.1");
  u.SetPort(static_cast<Word>(port));
  u.SetRemoteFileName(U16(path));
  u.SetLocalFileName(U16(local));
  u.Proxy()->SetUseProxy(false);
}

class Nginx : public ::testing::Test {
 protected:
  static std::string Content() { return PatternBytes(300000, 7); }
  void SetUp() override {
    NginxServer::Options o;
    o.files = {{"f.bin", Content()}, {"auth/secret.bin", "the secret file\n"}};
    o.users = {{"alice", "right"}};
    o.locations =
        "location /auth/ { auth_basic \"files\"; auth_basic_user_file {htpasswd}; }\n"
        "location = /gone.bin { return 410; }\n"
        "location = /broken.bin { return 500 \"an error page with a length\\n\"; }\n"
        "location = /nolm.txt { return 200 \"no last modified here\\n\"; }\n";
    nginx = std::make_unique<NginxServer>(o);
    SetMTime(nginx->Root() + "/f.bin", FileTimeOfUnix(kServedTime));
  }
  std::unique_ptr<NginxServer> nginx;
  TempDir local;
};

TEST_F(Nginx, DownloadsByteIdenticalStampsAndSkipsTheSecondRun) {
  TProbe u(nullptr);
  const std::string file = local / "f.bin";
  Point(u, nginx->Port(), "/f.bin", file);
  std::vector<Integer> steps;
  u.SetOnProgress([&](TObject*, Integer cur, Integer max, bool&) {
    EXPECT_EQ(max, 300000);
    steps.push_back(cur);
  });
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_TRUE(SameBytes(ReadFileBytes(file), Content()));
  EXPECT_EQ(u.RemoteFileSize(), 300000u);
  EXPECT_EQ(MTime(file), FileTimeOfUnix(kServedTime));
  // One update per 2050-byte block, and one for the read that ends the data.
  ASSERT_EQ(steps.size(), 300000 / 2050 + 2);
  EXPECT_EQ(steps[0], 2050);
  EXPECT_EQ(steps[steps.size() - 2], 300000);
  EXPECT_EQ(steps.back(), 300000);
  EXPECT_EQ(DirEntries(local.Path()), std::vector<std::string>{"f.bin"});

  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isSkipped);
  ASSERT_TRUE(nginx->WaitForAccessLog("\"GET /f.bin HTTP/1.0\" 200", 5000));
  EXPECT_EQ(LoggedCount(*nginx, "GET /f.bin HTTP/1.0", 2), 2u) << nginx->AccessLog();
}

TEST_F(Nginx, ErrorAnswersLeaveTheLocalFileAlone) {
  const std::string file = local.Write("f.bin", "the good local copy");
  SetMTime(file, FileTimeOfUnix(kServedTime - 86400));
  struct Case {
    const char* path;
    TKtIStatus status;
  } cases[] = {{"/missing.bin", isNotFound}, {"/gone.bin", isNotFound}, {"/broken.bin", isFailed}};
  for (const Case& c : cases) {
    TProbe u(nullptr);
    Point(u, nginx->Port(), c.path, file);
    EXPECT_EQ(u.Execute(), c.status != isFailed) << c.path;
    EXPECT_EQ(u.Status(), c.status) << c.path;
    EXPECT_EQ(ReadFileBytes(file), "the good local copy") << c.path;
    EXPECT_EQ(MTime(file), FileTimeOfUnix(kServedTime - 86400)) << c.path;
  }
  EXPECT_EQ(DirEntries(local.Path()), std::vector<std::string>{"f.bin"});
}

TEST_F(Nginx, WithoutLastModifiedTheKeptTimeIsUsed) {
  TProbe u(nullptr);
  const std::string file = local / "nolm.txt";
  Point(u, nginx->Port(), "/nolm.txt", file);
  FILETIME untouched;
  untouched.dwLowDateTime = 0x12345678;
  u.Body = [&] {
    u.ConnectToInet(false);
    Cardinal size = 0;
    EXPECT_TRUE(u.GetFileInfoFromInet(u"/nolm.txt", size, untouched));
    EXPECT_EQ(size, 22u);
    u.DisconnectFromInet();
  };
  u.Execute();
  EXPECT_EQ(untouched.dwLowDateTime, 0x12345678u);
  EXPECT_EQ(untouched.dwHighDateTime, 0u);

  // A new component has no remote time: the file keeps the time of its writing rather than a
  // date in 1601, and the next run (same size, local not older than nothing) skips.
  u.Body = nullptr;
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_EQ(ReadFileBytes(file), "no last modified here\n");
  EXPECT_GT(MTime(file), FileTimeOfUnix(kServedTime));
  EXPECT_EQ(FileTimeValue(u.RemoteFileCreated()), 0);
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isSkipped);

  // A time kept from an earlier query stamps the download.
  TProbe v(nullptr);
  Point(v, nginx->Port(), "/f.bin", local / "f.bin");
  EXPECT_TRUE(v.Execute());
  v.SetRemoteFileName(u"/nolm.txt");
  v.SetLocalFileName(U16(local / "other.txt"));
  EXPECT_TRUE(v.Execute());
  EXPECT_EQ(v.Status(), isFinished);
  EXPECT_EQ(MTime(local / "other.txt"), FileTimeOfUnix(kServedTime));
}

TEST_F(Nginx, AuthorizationWithoutPromptTriesTheStoredCredentialsOnce) {
  TProbe u(nullptr);
  Point(u, nginx->Port(), "/auth/secret.bin", local / "secret.bin");
  u.SetUser(u"alice");
  u.SetPassword(u"wrong");
  u.SetLoginPrompt(false);
  bool found = false;
  Cardinal size = 99;
  u.Body = [&] {
    u.ConnectToInet(false);
    FILETIME t;
    found = u.GetFileInfoFromInet(u"/auth/secret.bin", size, t);
    u.DisconnectFromInet();
  };
  u.Execute();
  EXPECT_TRUE(found);  // the request exists, so the file counts as found
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(u.LastHTTPStatus(), 401u);
  ASSERT_TRUE(nginx->WaitForAccessLog("secret.bin HTTP/1.0\" 401"));
  EXPECT_EQ(LoggedCount(*nginx, "GET /auth/secret.bin", 2), 2u) << nginx->AccessLog();

  // The whole update: a refused authorization is a failure, and nothing is written.
  u.Body = nullptr;
  EXPECT_FALSE(u.Execute());
  EXPECT_EQ(u.Status(), isFailed);
  EXPECT_FALSE(FileExists(U16(local / "secret.bin")));

  // The right password from the start needs one request.
  u.SetPassword(u"right");
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(ReadFileBytes(local / "secret.bin"), "the secret file\n");
}

TEST_F(Nginx, AuthorizationPromptsAfterEveryRefusalUntilCancelled) {
  auto* ui = new ScriptedBackend;
  TBackendScope scope{std::unique_ptr<UiBackend>(ui)};
  auto answer = [ui](const char16_t* user, const char16_t* password, TModalResult result) {
    ui->AnswerForm([=](TForm& f) {
      auto& logon = dynamic_cast<TfrmKtILogon&>(f);
      logon.edLogin->SetText(user);
      logon.edPassword->SetText(password);
      return result;
    });
  };
  answer(u"alice", u"still wrong", mrOk);
  answer(u"alice", u"right", mrOk);
  TProbe u(nullptr);
  Point(u, nginx->Port(), "/auth/secret.bin", local / "secret.bin");
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_EQ(ReadFileBytes(local / "secret.bin"), "the secret file\n");
  ASSERT_EQ(ui->Forms().size(), 2u);
  EXPECT_EQ(U8(ui->Forms()[0].Caption), "HTTP Server authorization");
  EXPECT_EQ(U8(u.Password()), "right");  // confirmed values are kept
  ASSERT_TRUE(nginx->WaitForAccessLog("secret.bin HTTP/1.0\" 200"));
  EXPECT_EQ(LoggedCount(*nginx, "GET /auth/secret.bin", 3), 3u) << nginx->AccessLog();

  // Cancel ends the query at once, keeping what was stored.
  answer(u"mallory", u"x", mrCancel);
  TProbe v(nullptr);
  Point(v, nginx->Port(), "/auth/secret.bin", local / "other.bin");
  v.SetUser(u"alice");
  v.SetPassword(u"wrong");
  EXPECT_FALSE(v.Execute());
  EXPECT_EQ(v.Status(), isFailed);
  EXPECT_EQ(U8(v.User()), "alice");
  EXPECT_EQ(ui->Forms().size(), 3u);
  EXPECT_FALSE(FileExists(U16(local / "other.bin")));
}

TEST_F(Nginx, ResumeAsksForTheRestOnly) {
  const std::string file = local.Write("f.bin", Content().substr(0, 123456));
  SetMTime(file, FileTimeOfUnix(kServedTime));  // a part stamped with the version it was cut from
  TProbe u(nullptr);
  Point(u, nginx->Port(), "/f.bin", file);
  u.SetResumeDownload(true);
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_TRUE(SameBytes(ReadFileBytes(file), Content()));
  ASSERT_TRUE(nginx->WaitForAccessLog("\" 206 "));
}

TEST_F(Nginx, ReadHTTPGetResponseFillsAStreamFromPositionZero) {
  TProbe u(nullptr);
  u.Proxy()->SetUseProxy(false);
  TMemoryStream stream;
  stream.WriteBuffer("xxxxxxxx", 8);
  const String url = U16("http://127.0.0.1:" + std::to_string(nginx->Port()));
  u.ReadHTTPGetResponse(url + u"/f.bin", &stream);
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_TRUE(SameBytes(stream.Bytes(), Content()));
  EXPECT_EQ(U8(u.ReadHTTPGetResponseString(url + u"/nolm.txt")), "no last modified here\n");
  EXPECT_EQ(u.Action(), iaIdle);  // no steps, no status
  EXPECT_EQ(u.Status(), isInProgress);
}

// ---- scripted servers ----------------------------------------------------------------------

std::string Answer(const std::string& headers, const std::string& body) {
  return "HTTP/1.0 200 OK\r\n" + headers + "\r\n" + body;
}

TEST(HttpScripted, AMissingContentLengthMeansSizeZero) {
  TempDir local;
  ScriptedServer server;
  const std::string body = PatternBytes(5000, 11);
  server.Add(Script().ReadUntil("\r\n\r\n").Send(Answer("", body)));  // no Content-Length
  server.Add(Script().ReadUntil("\r\n\r\n").Send(Answer("", body)));
  TProbe u(nullptr);
  Point(u, server.Port(), "/f.bin", local / "f.bin");
  // Size 0 means nothing to compare: skipped, even without a local file.
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.RemoteFileSize(), 0u);
  EXPECT_EQ(u.Status(), isSkipped);
  EXPECT_FALSE(FileExists(U16(local / "f.bin")));

  // Forced: the whole body arrives, and progress has no maximum.
  u.SetOnFileCompare([](TObject*, bool& equal) { equal = false; });
  Integer lastMax = -1, lastCur = -1;
  u.SetOnProgress([&](TObject*, Integer cur, Integer max, bool&) {
    lastCur = cur;
    lastMax = max;
  });
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_TRUE(SameBytes(ReadFileBytes(local / "f.bin"), body));
  EXPECT_EQ(lastCur, 5000);
  EXPECT_EQ(lastMax, 0);

}

TEST(HttpScripted, ATruncatedBodyFailsAndKeepsThePreviousFile) {
  TempDir local;
  const std::string file = local.Write("f.bin", "previous");
  ScriptedServer server;
  const std::string body = PatternBytes(100000, 12);
  server.Add(Script()
                 .ReadUntil("\r\n\r\n")
                 .Send(Answer("Content-Length: 100000\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n",
                              body.substr(0, 30000)))
                 .Close());
  TProbe u(nullptr);
  Point(u, server.Port(), "/f.bin", file);
  EXPECT_FALSE(u.Execute());
  EXPECT_EQ(u.Status(), isFailed);
  EXPECT_EQ(ReadFileBytes(file), "previous");
  EXPECT_EQ(DirEntries(local.Path()), std::vector<std::string>{"f.bin"});

  // A connection reset mid-body is no end of data either.
  server.Add(Script()
                 .ReadUntil("\r\n\r\n")
                 .Send(Answer("Content-Length: 100000\r\n", body.substr(0, 50000)))
                 .Reset());
  EXPECT_FALSE(u.Execute());
  EXPECT_EQ(u.Status(), isFailed);
}

TEST(HttpScripted, AServerThatIgnoresTheRangeRestartsTheFile) {
  TempDir local;
  const std::string body = PatternBytes(20000, 13);
  const std::string file = local.Write("f.bin", body.substr(0, 7000));
  SetMTime(file, FileTimeOfUnix(1764583200));
  ScriptedServer server;
  const std::string answer = Answer("Content-Length: 20000\r\nLast-Modified: Mon, 01 Dec 2025 10:00:00 GMT\r\n", body);
  server.Add(Script().ReadUntil("\r\n\r\n").Send(answer));
  server.Add(Script().ReadUntil("\r\n\r\n").Send(answer));  // 200 to the range request
  TProbe u(nullptr);
  Point(u, server.Port(), "/f.bin", file);
  u.SetResumeDownload(true);
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_TRUE(SameBytes(ReadFileBytes(file), body));
  ASSERT_TRUE(server.WaitDone(2));
  EXPECT_NE(server.Received(1).find("Range: bytes=7000-"), std::string::npos) << server.Received(1);
}

TEST(HttpScripted, NoAnswerIsTriedFourTimesThenFails) {
  TempDir local;
  const std::string file = local.Write("f.bin", "kept");
  ScriptedServer server;  // every connection is closed at once
  TProbe u(nullptr);
  Point(u, server.Port(), "/f.bin", file);
  EXPECT_FALSE(u.Execute());
  EXPECT_EQ(u.Status(), isFailed);
  EXPECT_EQ(ReadFileBytes(file), "kept");
  EXPECT_EQ(server.ConnectionCount(), 4u);
}

}  // namespace
}  // namespace ktinet::test

namespace ktinet::test {
namespace {

TEST(Https, VerifiesTheCertificateAgainstTheTrustedAuthorities) {
  const std::string content = PatternBytes(40000, 17);
  NginxServer::Options o;
  o.https = true;
  o.files = {{"f.bin", content}};
  NginxServer nginx(o);
  SetMTime(nginx.Root() + "/f.bin", FileTimeOfUnix(kServedTime));
  TempDir local;
  const std::string file = local.Write("f.bin", "kept");
  TProbe u(nullptr);
  u.SetService(isHTTPS);
  Point(u, nginx.Port(), "/f.bin", file);

  // An authority nobody trusts: no answer, a failure, the local file as it was.
  EXPECT_FALSE(u.Execute());
  EXPECT_EQ(u.Status(), isFailed);
  EXPECT_EQ(ReadFileBytes(file), "kept");

  const String ca = U16(NginxServer::CAFile());
  ASSERT_TRUE(InternetSetOptionW(nullptr, KTINET_OPTION_CA_FILE, ca.c_str(), static_cast<DWORD>(ca.size())));
  struct Untrust {
    ~Untrust() { InternetSetOptionW(nullptr, KTINET_OPTION_CA_FILE, u"", 0); }
  } untrust;
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_TRUE(SameBytes(ReadFileBytes(file), content));
  EXPECT_EQ(MTime(file), FileTimeOfUnix(kServedTime));
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isSkipped);
}

}  // namespace
}  // namespace ktinet::test

namespace ktinet::test {
namespace {

// Restores one environment variable when the test ends.
struct EnvVar {
  std::string name;
  std::string saved;
  bool had;
  explicit EnvVar(const char* n) : name(n) {
    const char* v = std::getenv(n);
    had = v != nullptr;
    if (had) saved = v;
  }
  ~EnvVar() {
    if (had) ::setenv(name.c_str(), saved.c_str(), 1);
    else ::unsetenv(name.c_str());
  }
};

TEST(HttpProxy, TheNamedProxyGetsItsPortAndTheSystemProxyIsTakenEachRun) {
  EnvVar e1("http_proxy"), e2("HTTP_PROXY"), e3("https_proxy"), e4("HTTPS_PROXY"), e5("no_proxy"), e6("NO_PROXY");
  for (const char* n : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
    ::unsetenv(n);
  NginxServer::Options o;
  o.files = {{"f.bin", "through the proxy\n"}};
  NginxServer origin(o);
  NginxServer::Options p;
  p.locations = NginxServer::ForwardProxyLocation();
  NginxServer proxy(p);
  TempDir local;

  // Without a refresh (the one-shot GET never refreshes) the named proxy is used, its port with it.
  TProbe u(nullptr);
  u.Proxy()->SetUseProxy(true);
  u.Proxy()->SetServer(u"127.0.0.1");
  u.Proxy()->SetPort(proxy.Port());
  const std::string url = "http://127.0.0.1:" + std::to_string(origin.Port()) + "/f.bin";
  EXPECT_EQ(U8(u.ReadHTTPGetResponseString(U16(url))), "through the proxy\n");
  const std::string request = "GET " + url;
  EXPECT_TRUE(proxy.WaitForAccessLog(request)) << "proxy:\n" << proxy.AccessLog() << "origin:\n" << origin.AccessLog();

  // The updater takes the system's proxy settings on every run, whatever the application set.
  ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.Port())).c_str(), 1);
  TProbe v(nullptr);
  Point(v, origin.Port(), "/f.bin", local / "g.bin");  // UseProxy false
  EXPECT_TRUE(v.Execute());
  EXPECT_TRUE(v.Proxy()->UseProxy());
  EXPECT_EQ(v.Proxy()->Port(), proxy.Port());
  EXPECT_EQ(ReadFileBytes(local / "g.bin"), "through the proxy\n");
  EXPECT_EQ(LoggedCount(proxy, request, 2), 2u) << proxy.AccessLog();
}

}  // namespace
}  // namespace ktinet::test
