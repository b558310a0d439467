// The Internet API over libcurl against real servers on loopback: nginx for HTTP, HTTPS and a
// forward proxy, scripted servers for answers nginx will not give (a short body, a reset, ranges
// ignored).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/Sockets.h"
#include "platform/Tls.h"
#include "platform/WinInet.h"
#include "rtl/DateTime.h"
#include "support/NginxServer.h"
#include "support/ScriptedServer.h"

namespace ktinet {
namespace {

using test::NginxServer;
using test::Script;
using test::ScriptedServer;

struct HandleCloser {
  void operator()(HINTERNET__* h) const { InternetCloseHandle(h); }
};
using Handle = std::unique_ptr<HINTERNET__, HandleCloser>;

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return s;
}

// Reads to the end in blocks of `block` bytes; nullopt when a read fails.
std::optional<std::string> ReadAll(HINTERNET h, DWORD block = 2050) {
  std::string out, buf(block, '\0');
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(h, buf.data(), block, &got)) return std::nullopt;
    if (got == 0) return out;
    out.append(buf.data(), got);
  }
}

String QueryText(HINTERNET h, DWORD level) {
  Char buf[512] = {};
  DWORD len = sizeof buf;
  if (!HttpQueryInfoW(h, level, buf, &len, nullptr)) return u"<" + IntToStr(InternetGetLastError()) + u">";
  return String(buf, len / sizeof(Char));
}

DWORD QueryStatus(HINTERNET h) {
  DWORD code = 0, len = sizeof code;
  return HttpQueryInfoW(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &len, nullptr) ? code : 0;
}

Handle Open(DWORD access = INTERNET_OPEN_TYPE_DIRECT, const Char* proxy = nullptr) {
  return Handle(InternetOpenW(u"ktinet-test", access, proxy, nullptr, 0));
}

Handle ConnectHttp(HINTERNET session, int port, const Char* user = nullptr, const Char* password = nullptr) {
  return Handle(InternetConnectW(session, u"127.0.0.1", static_cast<INTERNET_PORT>(port), user, password,
                                 INTERNET_SERVICE_HTTP, 0, 0));
}

Handle Request(HINTERNET connect, const Char* verb, const Char* path, DWORD flags = INTERNET_FLAG_RELOAD) {
  return Handle(HttpOpenRequestW(connect, verb, path, u"HTTP/1.0", nullptr, nullptr, flags, 0));
}

void Stamp(const std::string& path, std::time_t t) {
  struct utimbuf times {t, t};
  ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

NginxServer::Options WebOptions() {
  NginxServer::Options o;
  o.files = {{"data.bin", Pattern(100000)}, {"hello.txt", "hello\n"}, {"secret/s.txt", "classified\n"}};
  o.users = {{"alice", "wonder land"}};
  o.locations =
      "location = /nolm { default_type text/plain; return 200 \"no date here\"; }\n"
      "location = /hdr { return 200 \"[$http_x_ktinet][$http_x_second][$http_user_agent]\"; }\n"
      "location = /old { return 302 /hello.txt; }\n"
      "location = /loop { return 302 /loop; }\n"
      "location /secret/ { auth_basic \"test realm\"; auth_basic_user_file {htpasswd}; }\n" +
      NginxServer::EchoBodyLocation("/echo");
  return o;
}

TEST(WinInetHttpTest, GetHeadPostAndTheAnswersHeaders) {
  NginxServer nginx(WebOptions());
  Stamp(nginx.Root() + "/data.bin", 1700000000);  // 2023-11-14 22:13:20 UTC, a Tuesday
  Handle session = Open();
  ASSERT_TRUE(session);
  Handle connect = ConnectHttp(session.get(), nginx.Port());
  ASSERT_TRUE(connect);

  Handle get = Request(connect.get(), u"GET", u"/data.bin");
  ASSERT_TRUE(get);
  // Before the request is sent there is nothing to query.
  DWORD code = 0, len = sizeof code;
  EXPECT_FALSE(HttpQueryInfoW(get.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &len, nullptr));
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  ASSERT_TRUE(HttpSendRequestW(get.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryStatus(get.get()), 200u);
  EXPECT_EQ(QueryText(get.get(), HTTP_QUERY_STATUS_CODE), u"200");
  EXPECT_EQ(QueryText(get.get(), HTTP_QUERY_STATUS_TEXT), u"OK");
  EXPECT_EQ(QueryText(get.get(), HTTP_QUERY_CONTENT_LENGTH), u"100000");
  SYSTEMTIME st;
  len = sizeof st;
  ASSERT_TRUE(HttpQueryInfoW(get.get(), HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &st, &len, nullptr));
  EXPECT_EQ(st.wYear, 2023);
  EXPECT_EQ(st.wMonth, 11);
  EXPECT_EQ(st.wDay, 14);
  EXPECT_EQ(st.wHour, 22);
  EXPECT_EQ(st.wMinute, 13);
  EXPECT_EQ(st.wSecond, 20);
  EXPECT_EQ(st.wDayOfWeek, 2);
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  EXPECT_EQ(FileTimeToUnix(ft), 1700000000);
  // A buffer too small says how much is needed, in bytes with the terminator.
  Char tiny[2];
  len = sizeof tiny;
  EXPECT_FALSE(HttpQueryInfoW(get.get(), HTTP_QUERY_CONTENT_LENGTH, tiny, &len, nullptr));
  EXPECT_EQ(InternetGetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(len, 7 * sizeof(Char));
  EXPECT_EQ(QueryText(get.get(), HTTP_QUERY_LOCATION), u"<12150>");  // ERROR_HTTP_HEADER_NOT_FOUND
  auto body = ReadAll(get.get());
  ASSERT_TRUE(body);
  EXPECT_EQ(*body, Pattern(100000));
  DWORD got = 99;
  char c;
  EXPECT_TRUE(InternetReadFile(get.get(), &c, 1, &got));  // the end stays the end
  EXPECT_EQ(got, 0u);

  Handle head = Request(connect.get(), u"HEAD", u"/data.bin");
  ASSERT_TRUE(HttpSendRequestW(head.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryStatus(head.get()), 200u);
  EXPECT_EQ(QueryText(head.get(), HTTP_QUERY_CONTENT_LENGTH), u"100000");
  EXPECT_EQ(ReadAll(head.get()), std::string());

  // No Last-Modified: the time query fails and says why.
  Handle nolm = Request(connect.get(), u"GET", u"/nolm");
  ASSERT_TRUE(HttpSendRequestW(nolm.get(), nullptr, 0, nullptr, 0));
  len = sizeof st;
  EXPECT_FALSE(HttpQueryInfoW(nolm.get(), HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &st, &len, nullptr));
  EXPECT_EQ(InternetGetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
  EXPECT_EQ(ReadAll(nolm.get()), "no date here");

  Handle missing = Request(connect.get(), u"GET", u"/missing file.txt");
  ASSERT_TRUE(HttpSendRequestW(missing.get(), nullptr, 0, nullptr, 0));  // an error answer is an answer
  EXPECT_EQ(QueryStatus(missing.get()), 404u);
  EXPECT_EQ(QueryText(missing.get(), HTTP_QUERY_STATUS_TEXT), u"Not Found");
  EXPECT_TRUE(nginx.WaitForAccessLog("\"GET /missing%20file.txt HTTP/1.0\" 404"));

  // Headers added to the request and given with the send both go out; the agent too.
  Handle hdr = Request(connect.get(), u"GET", u"/hdr");
  const String first = u"X-Ktinet: one";
  ASSERT_TRUE(HttpAddRequestHeadersW(hdr.get(), first.c_str(), static_cast<DWORD>(first.size()), HTTP_ADDREQ_FLAG_ADD));
  EXPECT_FALSE(HttpAddRequestHeadersW(hdr.get(), u"X-Ktinet: again", 0xFFFFFFFF, HTTP_ADDREQ_FLAG_ADD_IF_NEW));
  EXPECT_EQ(InternetGetLastError(), ERROR_HTTP_HEADER_ALREADY_EXISTS);
  ASSERT_TRUE(HttpSendRequestW(hdr.get(), u"X-Second: two\r\n", 0xFFFFFFFF, nullptr, 0));
  EXPECT_EQ(ReadAll(hdr.get()), "[one][two][ktinet-test]");

  // POST with a body and a content type in the headers.
  Handle post = Handle(HttpOpenRequestW(connect.get(), u"POST", u"/echo", nullptr, nullptr, nullptr,
                                        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION, 0));
  const std::string form = "a=1&b=%C3%A9";
  ASSERT_TRUE(HttpSendRequestW(post.get(), u"Content-Type: application/x-www-form-urlencoded", 0xFFFFFFFF, form.data(),
                               static_cast<DWORD>(form.size())));
  EXPECT_EQ(QueryStatus(post.get()), 200u);
  EXPECT_EQ(ReadAll(post.get()), form);
}

TEST(WinInetHttpTest, RedirectsFollowedForGetUnlessTurnedOff) {
  NginxServer nginx(WebOptions());
  Handle session = Open();
  Handle connect = ConnectHttp(session.get(), nginx.Port());
  Handle follow = Request(connect.get(), u"GET", u"/old");
  ASSERT_TRUE(HttpSendRequestW(follow.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryStatus(follow.get()), 200u);
  EXPECT_EQ(ReadAll(follow.get()), "hello\n");

  Handle stay = Request(connect.get(), u"GET", u"/old", INTERNET_FLAG_NO_AUTO_REDIRECT);
  ASSERT_TRUE(HttpSendRequestW(stay.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryStatus(stay.get()), 302u);
  EXPECT_NE(QueryText(stay.get(), HTTP_QUERY_LOCATION).find(u"/hello.txt"), String::npos);

  Handle loop = Request(connect.get(), u"GET", u"/loop");
  EXPECT_FALSE(HttpSendRequestW(loop.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(InternetGetLastError(), ERROR_HTTP_REDIRECT_FAILED);
}

TEST(WinInetHttpTest, BasicAuthenticationAnswersAndRetries) {
  NginxServer nginx(WebOptions());
  Handle session = Open();
  Handle connect = ConnectHttp(session.get(), nginx.Port());
  Handle req = Request(connect.get(), u"GET", u"/secret/s.txt");
  ASSERT_TRUE(HttpSendRequestW(req.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryStatus(req.get()), 401u);
  EXPECT_NE(QueryText(req.get(), HTTP_QUERY_WWW_AUTHENTICATE).find(u"test realm"), String::npos);

  // Wrong, then right credentials on the same request, sent again each time.
  const String user = u"alice", wrong = u"wonderland", right = u"wonder land";
  ASSERT_TRUE(InternetSetOptionW(req.get(), INTERNET_OPTION_USERNAME, user.c_str(), static_cast<DWORD>(user.size())));
  ASSERT_TRUE(InternetSetOptionW(req.get(), INTERNET_OPTION_PASSWORD, wrong.c_str(), static_cast<DWORD>(wrong.size())));
  ASSERT_TRUE(HttpSendRequestW(req.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryStatus(req.get()), 401u);
  ASSERT_TRUE(InternetSetOptionW(req.get(), INTERNET_OPTION_PASSWORD, right.c_str(), static_cast<DWORD>(right.size())));
  ASSERT_TRUE(HttpSendRequestW(req.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryStatus(req.get()), 200u);
  EXPECT_EQ(ReadAll(req.get()), "classified\n");

  // Credentials given to InternetConnectW serve every request of the connection.
  Handle withUser = ConnectHttp(session.get(), nginx.Port(), u"alice", u"wonder land");
  Handle req2 = Request(withUser.get(), u"GET", u"/secret/s.txt");
  ASSERT_TRUE(HttpSendRequestW(req2.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryStatus(req2.get()), 200u);

  // A number option needs four bytes; unknown options are refused.
  DWORD small = 0;
  EXPECT_FALSE(InternetSetOptionW(req.get(), INTERNET_OPTION_SECURITY_FLAGS, &small, 2));
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_BAD_OPTION_LENGTH);
  EXPECT_FALSE(InternetSetOptionW(req.get(), 9999, &small, 4));
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_INVALID_OPTION);
}

TEST(WinInetHttpTest, RangeRequestsBeforeAndAfterSending) {
  NginxServer nginx(WebOptions());
  const std::string data = Pattern(100000);
  Handle session = Open();
  Handle connect = ConnectHttp(session.get(), nginx.Port());

  Handle before = Request(connect.get(), u"GET", u"/data.bin");
  EXPECT_EQ(InternetSetFilePointer(before.get(), 60000, nullptr, FILE_BEGIN, 0), 60000u);
  ASSERT_TRUE(HttpSendRequestW(before.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryStatus(before.get()), 206u);
  EXPECT_EQ(ReadAll(before.get()), data.substr(60000));

  // After the send (the resume case): the request goes again with the range, and the data read
  // afterwards continues at the offset.
  Handle after = Request(connect.get(), u"GET", u"/data.bin");
  ASSERT_TRUE(HttpSendRequestW(after.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(InternetSetFilePointer(after.get(), 12345, nullptr, FILE_BEGIN, 0), 12345u);
  EXPECT_EQ(QueryStatus(after.get()), 206u);
  EXPECT_EQ(ReadAll(after.get(), 1000), data.substr(12345));

  // Beyond the end: the seek fails and the handle holds the server's 416.
  Handle beyond = Request(connect.get(), u"GET", u"/data.bin");
  ASSERT_TRUE(HttpSendRequestW(beyond.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(InternetSetFilePointer(beyond.get(), 100000, nullptr, FILE_BEGIN, 0), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(QueryStatus(beyond.get()), 416u);
  EXPECT_EQ(InternetSetFilePointer(beyond.get(), 0, nullptr, FILE_CURRENT, 0), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(InternetGetLastError(), ERROR_INVALID_PARAMETER);

  // A server that ignores ranges: the seek fails, and the whole body from byte 0 is what follows.
  ScriptedServer plain;
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n0123456789";
  plain.Add(Script().ReadUntil("\r\n\r\n").Send(answer));
  plain.Add(Script().ReadUntil("\r\n\r\n").Send(answer));
  Handle c2 = ConnectHttp(session.get(), plain.Port());
  Handle ignored = Request(c2.get(), u"GET", u"/f");
  ASSERT_TRUE(HttpSendRequestW(ignored.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(InternetSetFilePointer(ignored.get(), 4, nullptr, FILE_BEGIN, 0), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_INVALID_OPERATION);
  EXPECT_EQ(QueryStatus(ignored.get()), 200u);
  EXPECT_EQ(ReadAll(ignored.get()), "0123456789");
  ASSERT_TRUE(plain.WaitDone(2));
  EXPECT_NE(plain.Received(1).find("Range: bytes=4-\r\n"), std::string::npos);
}

TEST(WinInetHttpTest, AFailedTransferIsNeverTheEndOfTheData) {
  ScriptedServer server;
  // Content-Length 1000, then the connection closes after 10 bytes.
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789").Close());
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nabc").Stall(200).Reset());
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nxyz").Stall(8000));
  server.Add(Script().ReadUntil("\r\n\r\n").Close());
  Handle session = Open();
  Handle connect = ConnectHttp(session.get(), server.Port());

  Handle truncated = Request(connect.get(), u"GET", u"/short");
  ASSERT_TRUE(HttpSendRequestW(truncated.get(), nullptr, 0, nullptr, 0));
  char buf[2050];
  DWORD got = 0;
  ASSERT_TRUE(InternetReadFile(truncated.get(), buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "0123456789");  // what did arrive comes first
  EXPECT_FALSE(InternetReadFile(truncated.get(), buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_FALSE(InternetErrorMessage(InternetGetLastError()).empty());

  Handle reset = Request(connect.get(), u"GET", u"/reset");
  ASSERT_TRUE(HttpSendRequestW(reset.get(), nullptr, 0, nullptr, 0));
  EXPECT_FALSE(ReadAll(reset.get()));
  DWORD e = InternetGetLastError();
  EXPECT_TRUE(e == ERROR_INTERNET_CONNECTION_RESET || e == ERROR_INTERNET_CONNECTION_ABORTED) << e;

  // Silence beyond the receive time-out.
  Handle stalled = Request(connect.get(), u"GET", u"/stall");
  DWORD timeout = 1000;
  ASSERT_TRUE(InternetSetOptionW(stalled.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout));
  ASSERT_TRUE(HttpSendRequestW(stalled.get(), nullptr, 0, nullptr, 0));
  EXPECT_FALSE(ReadAll(stalled.get()));
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_TIMEOUT);

  // No answer at all: the send fails.
  Handle nothing = Request(connect.get(), u"GET", u"/nothing");
  EXPECT_FALSE(HttpSendRequestW(nothing.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(InternetGetLastError(), ERROR_HTTP_INVALID_SERVER_RESPONSE);
  server.Stop();

  // Nobody listening.
  Handle refused = ConnectHttp(session.get(), server.Port());
  Handle r = Request(refused.get(), u"GET", u"/");
  EXPECT_FALSE(HttpSendRequestW(r.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
}

TEST(WinInetHttpTest, HttpsTrustsTheSystemStoreAndAddedAuthoritiesOnly) {
  NginxServer::Options o = WebOptions();
  o.https = true;
  NginxServer nginx(o);
  const String ca = UTF8ToString(NginxServer::CAFile());
  auto get = [&](HINTERNET session, DWORD flags, DWORD securityFlags = 0) -> DWORD {
    Handle connect = ConnectHttp(session, nginx.Port());
    Handle req = Request(connect.get(), u"GET", u"/hello.txt", INTERNET_FLAG_SECURE | flags);
    if (securityFlags) {
      EXPECT_TRUE(InternetSetOptionW(req.get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags, sizeof securityFlags));
    }
    if (!HttpSendRequestW(req.get(), nullptr, 0, nullptr, 0)) return InternetGetLastError();
    EXPECT_EQ(ReadAll(req.get()), "hello\n");
    return QueryStatus(req.get());
  };
  Handle plain = Open();
  EXPECT_EQ(get(plain.get(), 0), ERROR_INTERNET_INVALID_CA);
  EXPECT_EQ(get(plain.get(), 0, SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_REVOCATION), 200u);

  Handle trusting = Open();
  ASSERT_TRUE(InternetSetOptionW(trusting.get(), KTINET_OPTION_CA_FILE, ca.c_str(), static_cast<DWORD>(ca.size())));
  EXPECT_EQ(get(trusting.get(), 0), 200u);
  // Not over plain HTTP to the TLS port.
  {
    Handle connect = ConnectHttp(trusting.get(), nginx.Port());
    Handle req = Request(connect.get(), u"GET", u"/hello.txt");
    ASSERT_TRUE(HttpSendRequestW(req.get(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(QueryStatus(req.get()), 400u);
  }

  // A certificate for another name: refused for the name, accepted when that check is waived.
  NginxServer::Options w = WebOptions();
  w.https = true;
  w.certHost = "elsewhere.test";
  NginxServer wrong(w);
  Handle connect = ConnectHttp(trusting.get(), wrong.Port());
  Handle req = Request(connect.get(), u"GET", u"/hello.txt", INTERNET_FLAG_SECURE);
  EXPECT_FALSE(HttpSendRequestW(req.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_SEC_CERT_CN_INVALID);
  Handle waived = Request(connect.get(), u"GET", u"/hello.txt", INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID);
  ASSERT_TRUE(HttpSendRequestW(waived.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryStatus(waived.get()), 200u);

  // The process-wide authority reaches sessions opened afterwards (InternetOpenUrlW here).
  ASSERT_TRUE(InternetSetOptionW(nullptr, KTINET_OPTION_CA_FILE, ca.c_str(), 0));
  Handle later = Open();
  String url = u"https://127.0.0.1:" + IntToStr(nginx.Port()) + u"/data.bin";
  Handle file(InternetOpenUrlW(later.get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
  InternetSetOptionW(nullptr, KTINET_OPTION_CA_FILE, u"", 0);
  ASSERT_TRUE(file) << InternetGetLastError();
  EXPECT_EQ(QueryStatus(file.get()), 200u);
  EXPECT_EQ(ReadAll(file.get()), Pattern(100000));
}

// One rule for both TLS stacks: the host name must be in the certificate's subjectAltName. A
// certificate that names "localhost" only in its CN is refused by the Internet API and by the
// socket layer alike; the same CA's certificate with the name as a subjectAltName is accepted.
TEST(WinInetHttpTest, TlsHostNamesComeFromTheSubjectAltNameOnly) {
  NginxServer::Options o = WebOptions();
  o.https = true;
  o.certNameInCnOnly = true;
  NginxServer cnOnly(o);
  o.certNameInCnOnly = false;
  NginxServer withSan(o);
  const String ca = UTF8ToString(NginxServer::CAFile());

  Handle session = Open();
  ASSERT_TRUE(InternetSetOptionW(session.get(), KTINET_OPTION_CA_FILE, ca.c_str(), static_cast<DWORD>(ca.size())));
  auto viaInternetApi = [&](int port, DWORD flags) -> DWORD {
    Handle connect(InternetConnectW(session.get(), u"localhost", static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                    INTERNET_SERVICE_HTTP, 0, 0));
    Handle req = Request(connect.get(), u"GET", u"/hello.txt", INTERNET_FLAG_SECURE | flags);
    if (!HttpSendRequestW(req.get(), nullptr, 0, nullptr, 0)) return InternetGetLastError();
    EXPECT_EQ(ReadAll(req.get()), "hello\n");
    return QueryStatus(req.get());
  };
  EXPECT_EQ(viaInternetApi(withSan.Port(), 0), 200u);
  EXPECT_EQ(viaInternetApi(cnOnly.Port(), 0), ERROR_INTERNET_SEC_CERT_CN_INVALID);
  EXPECT_EQ(viaInternetApi(cnOnly.Port(), INTERNET_FLAG_IGNORE_CERT_CN_INVALID), 200u);
  // Through InternetOpenUrlW as well (the path `get` takes).
  String url = u"https://localhost:" + IntToStr(cnOnly.Port()) + u"/hello.txt";
  Handle file(InternetOpenUrlW(session.get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
  EXPECT_FALSE(file);
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_SEC_CERT_CN_INVALID);

  auto viaSockets = [&](int port) -> std::string {
    TClientSocket client(nullptr);
    client.SetHost(u"localhost");
    client.SetPort(port);
    client.SetReadTimeout(10000);
    client.Open();
    try {
      StartTls(client, {.ServerName = u"localhost", .CAFile = ca});
    } catch (const ESocketError& e) {
      return UTF8Encode(e.Message());
    }
    return "accepted";
  };
  EXPECT_EQ(viaSockets(withSan.Port()), "accepted");
  const std::string refused = viaSockets(cnOnly.Port());
  EXPECT_NE(refused.find("hostname mismatch"), std::string::npos) << refused;
}

// Texts that become part of a request line or a header line are refused at the API's entry, for
// every transfer component at once, when they hold CR, LF or NUL; nothing reaches the server.
TEST(WinInetHttpTest, LineBreaksNeverReachTheWire) {
  ScriptedServer server;
  server.SetDefault(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  EXPECT_EQ(InternetOpenW(u"agent\r\nX-Injected: 1", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(InternetGetLastError(), ERROR_HTTP_INVALID_HEADER);
  Handle session = Open();
  EXPECT_EQ(InternetConnectW(session.get(), u"127.0.0.1\n", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0), nullptr);
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_INVALID_URL);
  EXPECT_EQ(InternetConnectW(session.get(), u"127.0.0.1", static_cast<INTERNET_PORT>(server.Port()), u"me\r\n", u"pw",
                             INTERNET_SERVICE_HTTP, 0, 0),
            nullptr);
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_INCORRECT_USER_NAME);
  const Char proxyPassword[] = u"pw\rX";
  EXPECT_FALSE(InternetSetOptionW(session.get(), INTERNET_OPTION_PROXY_PASSWORD, proxyPassword, 5));
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_INCORRECT_PASSWORD);
  const Char agentWithNul[] = {u'a', 0, u'b'};
  EXPECT_FALSE(InternetSetOptionW(session.get(), INTERNET_OPTION_USER_AGENT, agentWithNul, 3));

  Handle connect = ConnectHttp(session.get(), server.Port());
  EXPECT_EQ(HttpOpenRequestW(connect.get(), u"GET", u"/a\r\nX-Injected: 1", u"HTTP/1.0", nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_INVALID_URL);
  String url = u"http://127.0.0.1:" + IntToStr(server.Port()) + u"/a\nX-Injected: 1";
  EXPECT_EQ(InternetOpenUrlW(session.get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0), nullptr);
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_INVALID_URL);
  Handle req = Request(connect.get(), u"GET", u"/a");
  const Char headerWithNul[] = {u'X', u':', u' ', u'1', 0, u'Y', u':', u' ', u'2', u'\r', u'\n'};
  EXPECT_FALSE(HttpAddRequestHeadersW(req.get(), headerWithNul, 11, HTTP_ADDREQ_FLAG_ADD));
  EXPECT_EQ(InternetGetLastError(), ERROR_HTTP_INVALID_HEADER);
  EXPECT_EQ(server.ConnectionCount(), 0u);
  // The same request without the bad parts goes out.
  ASSERT_TRUE(HttpSendRequestW(req.get(), nullptr, 0, nullptr, 0)) << InternetGetLastError();
  EXPECT_EQ(ReadAll(req.get()), "ok");
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Sets an environment variable for the scope of a test.
class EnvVar {
 public:
  EnvVar(const char* name, const std::string& value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~EnvVar() {
    if (FOld)
      ::setenv(FName, FOld->c_str(), 1);
    else
      ::unsetenv(FName);
  }

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

TEST(WinInetHttpTest, ProxyNamedPreconfiguredOrNone) {
  NginxServer target(WebOptions());
  NginxServer::Options po;
  po.locations = NginxServer::ForwardProxyLocation();
  NginxServer proxy(po);
  const std::string proxied = "\"GET http://127.0.0.1:" + std::to_string(target.Port()) + "/hello.txt";
  auto fetch = [&](HINTERNET session) {
    Handle connect = ConnectHttp(session, target.Port());
    Handle req = Request(connect.get(), u"GET", u"/hello.txt");
    EXPECT_TRUE(HttpSendRequestW(req.get(), nullptr, 0, nullptr, 0)) << InternetGetLastError();
    EXPECT_EQ(ReadAll(req.get()), "hello\n");
  };
  const String named = u"127.0.0.1:" + IntToStr(proxy.Port());
  {
    Handle s = Open(INTERNET_OPEN_TYPE_PROXY, named.c_str());
    fetch(s.get());
    EXPECT_TRUE(proxy.WaitForAccessLog(proxied));
  }
  // The per-protocol form; an FTP-only proxy leaves HTTP direct.
  {
    const String perProtocol = u"ftp=127.0.0.1:1 http=127.0.0.1:" + IntToStr(proxy.Port());
    Handle s = Open(INTERNET_OPEN_TYPE_PROXY, perProtocol.c_str());
    fetch(s.get());
  }
  // Both requests so far are logged before the count is taken (nginx logs after answering).
  for (int i = 0; i < 500 && Count(proxy.AccessLog(), proxied) < 2; ++i) ::usleep(10000);
  ASSERT_EQ(Count(proxy.AccessLog(), proxied), 2u);
  size_t before = proxy.AccessLog().size();
  {
    EnvVar env("http_proxy", "http://127.0.0.1:" + std::to_string(proxy.Port()) + "/");
    EnvVar noProxy("no_proxy", "");
    Handle direct = Open(INTERNET_OPEN_TYPE_DIRECT);
    fetch(direct.get());
    EXPECT_EQ(proxy.AccessLog().size(), before);  // the direct session ignored the environment
    Handle pre = Open(INTERNET_OPEN_TYPE_PRECONFIG);
    fetch(pre.get());
    // Earlier lines already hold the request: wait for the log to grow (nginx logs after answering).
    for (int i = 0; i < 500 && proxy.AccessLog().size() <= before; ++i) ::usleep(10000);
    EXPECT_GT(proxy.AccessLog().size(), before);
  }
}

}  // namespace
}  // namespace ktinet
