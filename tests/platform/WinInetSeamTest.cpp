// The parts of the Internet API that do not need a network: a fake backend behind the functions
// (what component tests use), handle lifetimes, buffer rules, dates, errors and their texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/WinInet.h"
#include "rtl/DateTime.h"

namespace ktinet {
namespace {

struct FakeWorld {
  std::vector<std::string> closed;
  String lastModified = u"Sun, 06 Nov 1994 08:49:37 GMT";
  String status = u"200";
  std::string body = "fake body";
};

class FakeRequest : public TInternetHandle {
 public:
  explicit FakeRequest(FakeWorld& w) : W(w) {}
  ~FakeRequest() override { W.closed.push_back("request"); }
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_HTTP_REQUEST; }
  bool SendRequest(const String&, const void*, DWORD) override {
    Sent = true;
    return true;
  }
  bool QueryInfo(DWORD level, const String& custom, DWORD& index, String& value) override {
    if (!Sent) {
      InternetSetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
      return false;
    }
    if (level == HTTP_QUERY_STATUS_CODE) value = W.status;
    else if (level == HTTP_QUERY_LAST_MODIFIED && !W.lastModified.empty()) value = W.lastModified;
    else if (level == HTTP_QUERY_CUSTOM && custom == u"X-Many" && index < 2) value = index == 0 ? u"first" : u"second";
    else {
      InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
      return false;
    }
    ++index;
    return true;
  }
  bool ReadFile(void* buffer, DWORD n, DWORD& got) override {
    got = static_cast<DWORD>(std::min<size_t>(n, W.body.size() - Pos));
    std::memcpy(buffer, W.body.data() + Pos, got);
    Pos += got;
    return true;
  }

 private:
  FakeWorld& W;
  bool Sent = false;
  size_t Pos = 0;
};

class FakeConnect : public TInternetHandle {
 public:
  explicit FakeConnect(FakeWorld& w) : W(w) {}
  ~FakeConnect() override { W.closed.push_back("connect"); }
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_CONNECT_HTTP; }
  std::unique_ptr<TInternetHandle> OpenRequest(const String&, const String&, const String&, DWORD) override {
    return std::make_unique<FakeRequest>(W);
  }

 private:
  FakeWorld& W;
};

class FakeSession : public TInternetHandle {
 public:
  explicit FakeSession(FakeWorld& w) : W(w) {}
  ~FakeSession() override { W.closed.push_back("session"); }
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_INTERNET; }
  std::unique_ptr<TInternetHandle> Connect(const String& server, INTERNET_PORT, const Char*, const Char*, DWORD,
                                           DWORD) override {
    if (server == u"unknown.invalid") {
      InternetSetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
      return nullptr;
    }
    return std::make_unique<FakeConnect>(W);
  }

 private:
  FakeWorld& W;
};

class FakeBackend : public TInternetBackend {
 public:
  explicit FakeBackend(FakeWorld& w) : W(w) {}
  std::unique_ptr<TInternetHandle> Open(const String&, DWORD, const String&, const String&, DWORD) override {
    return std::make_unique<FakeSession>(W);
  }
  DWORD ErrorDlg(TInternetHandle*, DWORD, DWORD) override { return ERROR_CANCELLED; }

 private:
  FakeWorld& W;
};

// Installs a backend for one test and puts the previous one back.
class BackendScope {
 public:
  explicit BackendScope(TInternetBackend* b) : FPrevious(SetInternetBackend(b)) {}
  ~BackendScope() { SetInternetBackend(FPrevious == &LibcurlInternetBackend() ? nullptr : FPrevious); }

 private:
  TInternetBackend* FPrevious;
};

TEST(WinInetSeamTest, AFakeBackendServesTheFunctions) {
  FakeWorld world;
  FakeBackend fake(world);
  HINTERNET session, connect, request;
  {
    BackendScope scope(&fake);
    session = InternetOpenW(u"agent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_TRUE(session);
    EXPECT_FALSE(InternetConnectW(session, u"unknown.invalid", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);
    connect = InternetConnectW(session, u"example.test", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_TRUE(connect);
    request = HttpOpenRequestW(connect, u"GET", u"/x", nullptr, nullptr, nullptr, INTERNET_FLAG_RELOAD, 0);
    ASSERT_TRUE(request);
  }
  // Handles keep the backend they were made by after it is switched back.
  ASSERT_TRUE(HttpSendRequestW(request, nullptr, 0, nullptr, 0));
  DWORD code = 0, len = sizeof code;
  ASSERT_TRUE(HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &len, nullptr));
  EXPECT_EQ(code, 200u);
  EXPECT_EQ(len, sizeof(DWORD));
  // A number needs room for four bytes.
  len = 2;
  EXPECT_FALSE(HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &len, nullptr));
  EXPECT_EQ(InternetGetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(len, sizeof(DWORD));
  world.status = u"abc";
  len = sizeof code;
  EXPECT_FALSE(HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &len, nullptr));
  EXPECT_EQ(InternetGetLastError(), ERROR_HTTP_INVALID_HEADER);

  // The three forms of an HTTP date, and a bad one.
  for (const Char* form : {u"Sun, 06 Nov 1994 08:49:37 GMT", u"Sunday, 06-Nov-94 08:49:37 GMT", u"Sun Nov  6 08:49:37 1994"}) {
    world.lastModified = form;
    SYSTEMTIME st;
    len = sizeof st;
    ASSERT_TRUE(HttpQueryInfoW(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &st, &len, nullptr))
        << UTF8Encode(form);
    EXPECT_EQ(st.wYear, 1994);
    EXPECT_EQ(st.wMonth, 11);
    EXPECT_EQ(st.wDay, 6);
    EXPECT_EQ(st.wHour, 8);
    EXPECT_EQ(st.wMinute, 49);
    EXPECT_EQ(st.wSecond, 37);
    EXPECT_EQ(st.wDayOfWeek, 0);
  }
  world.lastModified = u"Sun, 31 Feb 1994 08:49:37 GMT";
  SYSTEMTIME st;
  len = sizeof st;
  EXPECT_FALSE(HttpQueryInfoW(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &st, &len, nullptr));
  EXPECT_EQ(InternetGetLastError(), ERROR_HTTP_INVALID_HEADER);

  // A custom header by name, its occurrences through the index.
  Char buf[64];
  DWORD index = 0;
  std::u16string name = u"X-Many";
  for (const Char* expected : {u"first", u"second"}) {
    std::copy(name.begin(), name.end(), buf);
    buf[name.size()] = 0;
    len = sizeof buf;
    ASSERT_TRUE(HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, buf, &len, &index));
    EXPECT_EQ(String(buf, len / sizeof(Char)), expected);
  }
  EXPECT_EQ(index, 2u);
  std::copy(name.begin(), name.end(), buf);
  buf[name.size()] = 0;
  len = sizeof buf;
  EXPECT_FALSE(HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, buf, &len, &index));
  EXPECT_EQ(InternetGetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);

  char data[4];
  DWORD got = 0;
  std::string body;
  while (InternetReadFile(request, data, sizeof data, &got) && got) body.append(data, got);
  EXPECT_EQ(body, world.body);
  // What the fake does not offer fails as the wrong kind of handle; its own dialog answers.
  WIN32_FIND_DATAW fd;
  EXPECT_FALSE(FtpFindFirstFileW(connect, u"*", &fd, 0, 0));
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  EXPECT_EQ(InternetErrorDlg(nullptr, request, ERROR_INTERNET_TIMEOUT, FLAGS_ERROR_UI_FILTER_FOR_ERRORS, nullptr),
            ERROR_CANCELLED);

  // Closing the session takes its children along, deepest first; their handles are stale after.
  EXPECT_TRUE(InternetCloseHandle(session));
  EXPECT_EQ(world.closed, (std::vector<std::string>{"request", "connect", "session"}));
  EXPECT_FALSE(InternetReadFile(request, data, sizeof data, &got));
  EXPECT_EQ(InternetGetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(InternetCloseHandle(connect));
  EXPECT_FALSE(InternetCloseHandle(nullptr));

  // Back on libcurl: its sessions have no dialog to show.
  HINTERNET real = InternetOpenW(u"agent", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_TRUE(real);
  EXPECT_EQ(InternetErrorDlg(nullptr, real, ERROR_INTERNET_TIMEOUT, 0, nullptr), ERROR_SUCCESS);
  InternetCloseHandle(real);
}

TEST(WinInetSeamTest, ErrorsTextsAndResponseInfo) {
  // A failure also lands in errno, as Windows' single last error would.
  errno = 0;
  EXPECT_FALSE(InternetCloseHandle(reinterpret_cast<HINTERNET>(std::uintptr_t{0x7777})));
  EXPECT_EQ(InternetGetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(errno, static_cast<int>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(InternetOpenW(u"a", 2, nullptr, nullptr, 0));  // no such access type
  EXPECT_EQ(InternetGetLastError(), ERROR_INVALID_PARAMETER);

  for (DWORD e : {ERROR_NO_MORE_FILES, ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_EXTENDED_ERROR, ERROR_INTERNET_INVALID_CA,
                  ERROR_HTTP_HEADER_NOT_FOUND, ERROR_CANCELLED, ERROR_INTERNET_FORCE_RETRY})
    EXPECT_FALSE(InternetErrorMessage(e).empty()) << e;
  EXPECT_TRUE(InternetErrorMessage(54321).empty());
  EXPECT_NE(InternetErrorMessage(ERROR_INTERNET_NAME_NOT_RESOLVED), InternetErrorMessage(ERROR_INTERNET_CANNOT_CONNECT));

  InternetSetLastResponseInfo(550, u"550 No such file.");
  DWORD code = 0, len = 4;
  Char small[4];
  EXPECT_FALSE(InternetGetLastResponseInfoW(&code, small, &len));
  EXPECT_EQ(InternetGetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(len, 18u);
  Char buf[18];
  ASSERT_TRUE(InternetGetLastResponseInfoW(&code, buf, &len));
  EXPECT_EQ(code, 550u);
  EXPECT_EQ(String(buf, len), u"550 No such file.");
}

TEST(WinInetSeamTest, SystemTimesAndFileTimes) {
  struct Case {
    SYSTEMTIME st;
    Int64 unix;
  };
  // 2024-02-29 (leap day), 1970-01-01, 2100-03-01 (2100 is no leap year), 1601-01-01.
  SYSTEMTIME leap{2024, 2, 4, 29, 23, 59, 58, 999};
  SYSTEMTIME epoch{1970, 1, 4, 1, 0, 0, 0, 0};
  SYSTEMTIME far{2100, 3, 1, 1, 12, 0, 0, 0};
  for (const Case& c : {Case{leap, 1709251198}, Case{epoch, 0}, Case{far, 4107585600}}) {
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft));
    EXPECT_EQ(FileTimeToUnix(ft), c.unix);
    SYSTEMTIME back;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(std::memcmp(&back, &c.st, sizeof back), 0) << c.unix;
  }
  SYSTEMTIME first{1601, 1, 1, 1, 0, 0, 0, 0};
  FILETIME zero;
  ASSERT_TRUE(SystemTimeToFileTime(&first, &zero));
  EXPECT_EQ(FileTimeToInt64(zero), 0);
  SYSTEMTIME bad = leap;
  bad.wYear = 2023;  // no 29 February
  FILETIME ft;
  EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
  bad = epoch;
  bad.wHour = 24;
  EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
}

}  // namespace
}  // namespace ktinet
