// The file query's rules against a fake Internet API behind the same functions: answers that a
// real client library refuses or that no real server gives on demand (a Content-Length that is
// no number, one above 4 GiB, a status that cannot be read, a proxy that wants credentials).
#include <gtest/gtest.h>

#include <map>

#include "TransferSupport.h"

namespace ktinet::test {
namespace {

struct FakeState {
  std::map<DWORD, String> headers;  // by HTTP_QUERY_* attribute; the status too
  bool statusReadable = true;
  int sends = 0;
  std::vector<std::pair<DWORD, std::string>> options;
  std::vector<DWORD> statuses;  // answered in turn; the last one repeats
};

class FakeRequest : public TInternetHandle {
 public:
  explicit FakeRequest(FakeState& s) : S(s) {}
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_HTTP_REQUEST; }
  bool SendRequest(const String&, const void*, DWORD) override {
    ++S.sends;
    return true;
  }
  bool SetOption(DWORD option, const String& text, DWORD) override {
    S.options.push_back({option, U8(text)});
    return true;
  }
  bool QueryInfo(DWORD infoLevel, const String&, DWORD&, String& value) override {
    const DWORD attribute = infoLevel & HTTP_QUERY_HEADER_MASK;
    if (attribute == HTTP_QUERY_STATUS_CODE) {
      if (!S.statusReadable || S.statuses.empty()) return Missing();
      size_t i = std::min(static_cast<size_t>(S.sends), S.statuses.size()) - 1;
      value = IntToStr(S.statuses[i]);
      return true;
    }
    auto it = S.headers.find(attribute);
    if (it == S.headers.end()) return Missing();
    value = it->second;
    return true;
  }
  bool ReadFile(void*, DWORD, DWORD& bytesRead) override {
    bytesRead = 0;
    return true;
  }

 private:
  static bool Missing() {
    InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return false;
  }
  FakeState& S;
};

class FakeConnection : public TInternetHandle {
 public:
  explicit FakeConnection(FakeState& s) : S(s) {}
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_CONNECT_HTTP; }
  std::unique_ptr<TInternetHandle> OpenRequest(const String&, const String&, const String&, DWORD) override {
    return std::make_unique<FakeRequest>(S);
  }

 private:
  FakeState& S;
};

class FakeSession : public TInternetHandle {
 public:
  explicit FakeSession(FakeState& s) : S(s) {}
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_INTERNET; }
  std::unique_ptr<TInternetHandle> Connect(const String&, INTERNET_PORT, const Char*, const Char*, DWORD,
                                           DWORD) override {
    return std::make_unique<FakeConnection>(S);
  }

 private:
  FakeState& S;
};

class FakeBackend : public TInternetBackend {
 public:
  FakeState state;
  std::unique_ptr<TInternetHandle> Open(const String&, DWORD, const String&, const String&, DWORD) override {
    return std::make_unique<FakeSession>(state);
  }
};

class FakeInternet : public ::testing::Test {
 protected:
  void SetUp() override { previous = SetInternetBackend(&fake); }
  void TearDown() override { SetInternetBackend(previous); }

  // One file query on a fresh component: found, size, time.
  struct Query {
    bool found;
    Cardinal size;
    FILETIME time;
  };
  Query Ask(TProbe& u) {
    Query q{false, 77, FILETIME{}};
    q.time.dwLowDateTime = 0xABCD;
    u.SetHost(u"fake.example");
    u.Body = [&] {
      u.ConnectToInet(false);
      q.found = u.GetFileInfoFromInet(u"/f.bin", q.size, q.time);
      u.DisconnectFromInet();
    };
    u.Execute();
    return q;
  }

  FakeBackend fake;
  TInternetBackend* previous = nullptr;
};

TEST_F(FakeInternet, ContentLengthAndLastModifiedForms) {
  fake.state.statuses = {200};
  struct Case {
    const char16_t* length;  // null: no header
    Cardinal size;
  } cases[] = {{nullptr, 0}, {u"1000", 1000}, {u"many", 4294967295u}, {u"-5", 4294967295u},
               {u"5000000123", 705032827u}};  // above 4 GiB: the low 32 bits
  for (const Case& c : cases) {
    fake.state.headers.clear();
    if (c.length) fake.state.headers[HTTP_QUERY_CONTENT_LENGTH] = c.length;
    TProbe u(nullptr);
    Query q = Ask(u);
    EXPECT_TRUE(q.found);
    EXPECT_EQ(q.size, c.size) << (c.length ? U8(c.length) : "none");
    EXPECT_EQ(q.time.dwLowDateTime, 0xABCDu);  // no Last-Modified: the caller's value stays
  }
  fake.state.headers[HTTP_QUERY_LAST_MODIFIED] = u"Tue, 01 Dec 2026 10:00:00 GMT";
  TProbe u(nullptr);
  Query q = Ask(u);
  EXPECT_EQ(FileTimeToUnix(q.time), 1796119200);
}

TEST_F(FakeInternet, AnUnreadableStatusIsRetriedThreeTimesThenFails) {
  fake.state.statusReadable = false;
  TProbe u(nullptr);
  Query q = Ask(u);
  EXPECT_FALSE(q.found);
  EXPECT_EQ(fake.state.sends, 4);
  EXPECT_EQ(u.Status(), isFailed);

  // The updater reports the failure, not a missing file.
  fake.state.sends = 0;
  TProbe v(nullptr);
  v.SetHost(u"fake.example");
  v.SetRemoteFileName(u"/f.bin");
  v.SetLocalFileName(u"/nonexistent-dir/f.bin");
  EXPECT_FALSE(v.Execute());
  EXPECT_EQ(v.Status(), isFailed);
}

TEST_F(FakeInternet, ProxyAuthorizationUsesTheProxyCredentialsOnce) {
  fake.state.statuses = {407};
  TProbe u(nullptr);
  u.SetLoginPrompt(false);
  u.Proxy()->SetUser(u"puser");
  u.Proxy()->SetPassword(u"ppass");
  u.SetUser(u"server-user");
  Query q = Ask(u);
  EXPECT_TRUE(q.found);
  EXPECT_EQ(q.size, 0u);
  EXPECT_EQ(fake.state.sends, 2);
  EXPECT_EQ(fake.state.options, (std::vector<std::pair<DWORD, std::string>>{{INTERNET_OPTION_PROXY_USERNAME, "puser"},
                                                                             {INTERNET_OPTION_PROXY_PASSWORD, "ppass"}}));

  // A 401 after one refusal with the prompt off: the same, with the server's credentials.
  fake.state = FakeState{};
  fake.state.statuses = {401, 401, 200};
  TProbe v(nullptr);
  v.SetLoginPrompt(false);
  v.SetUser(u"alice");
  v.SetPassword(u"pw");
  Ask(v);
  EXPECT_EQ(fake.state.sends, 2);
  EXPECT_EQ(fake.state.options, (std::vector<std::pair<DWORD, std::string>>{{INTERNET_OPTION_USERNAME, "alice"},
                                                                             {INTERNET_OPTION_PASSWORD, "pw"}}));
  EXPECT_EQ(v.LastHTTPStatus(), 401u);

  // Refused once, accepted the second time: the loop ends with the answer.
  fake.state = FakeState{};
  fake.state.statuses = {401, 200};
  fake.state.headers[HTTP_QUERY_CONTENT_LENGTH] = u"12";
  TProbe w(nullptr);
  w.SetLoginPrompt(false);
  Query q2 = Ask(w);
  EXPECT_EQ(fake.state.sends, 2);
  EXPECT_EQ(q2.size, 12u);
  EXPECT_EQ(w.LastHTTPStatus(), 200u);
}

}  // namespace
}  // namespace ktinet::test
