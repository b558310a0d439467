// FTP through the Internet API against pyftpdlib on loopback: logon, current directory, listings
// (MLSD, and LIST from a server without it), downloads with size, time and resume.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/WinInet.h"
#include "rtl/DateTime.h"
#include "support/FtpServer.h"

namespace ktinet {
namespace {

using test::FtpServer;

struct HandleCloser {
  void operator()(HINTERNET__* h) const { InternetCloseHandle(h); }
};
using Handle = std::unique_ptr<HINTERNET__, HandleCloser>;

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return s;
}

std::optional<std::string> ReadAll(HINTERNET h) {
  std::string out;
  char buf[2050];
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(h, buf, sizeof buf, &got)) return std::nullopt;
    if (got == 0) return out;
    out.append(buf, got);
  }
}

constexpr std::time_t kOld = 1600000000;  // 2020-09-13 12:26:40 UTC
constexpr std::time_t kNew = 1700000000;

void Populate(const FtpServer& ftp) {
  ftp.Write("readme.txt", "read me\n", kOld);
  ftp.Write("data.bin", Pattern(300000), kNew);
  ftp.Write("sub/one.txt", "1", kOld);
  ftp.Write("sub/two.dat", "22", kOld);
  ftp.Write("sub/deeper/three.txt", "333", kOld);
  ftp.Write("with space/x y.txt", "xy", kOld);
}

Handle Session() { return Handle(InternetOpenW(u"ktinet-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)); }

Handle Connect(HINTERNET session, const FtpServer& ftp, const String& password) {
  String user = UTF8ToString(ftp.User());
  return Handle(InternetConnectW(session, u"127.0.0.1", static_cast<INTERNET_PORT>(ftp.Port()), user.c_str(),
                                 password.c_str(), INTERNET_SERVICE_FTP, 0, 0));
}

struct Listed {
  bool dir;
  Int64 size;
  std::time_t time;
};

// Every entry of a search, by name.
std::map<String, Listed> List(HINTERNET connect, const Char* pattern, DWORD* error = nullptr) {
  std::map<String, Listed> out;
  WIN32_FIND_DATAW data;
  Handle find(FtpFindFirstFileW(connect, pattern, &data, 0, 0));
  if (!find) {
    if (error) *error = InternetGetLastError();
    return out;
  }
  do {
    out[data.cFileName] = {(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                           (static_cast<Int64>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                           FileTimeToUnix(data.ftLastWriteTime)};
  } while (InternetFindNextFileW(find.get(), &data));
  EXPECT_EQ(InternetGetLastError(), ERROR_NO_MORE_FILES);
  return out;
}

String CurrentDir(HINTERNET connect) {
  Char buf[2049] = {};
  DWORD len = 2048;
  if (!FtpGetCurrentDirectoryW(connect, buf, &len)) return u"<failed>";
  return String(buf, len);
}

TEST(WinInetFtpTest, LogonDirectoriesAndListings) {
  FtpServer ftp({});
  Populate(ftp);
  Handle session = Session();

  Handle refused = Connect(session.get(), ftp, u"wrong");
  EXPECT_FALSE(refused);
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_LOGIN_FAILURE);
  DWORD code = 0;
  Char text[512];
  DWORD len = 512;
  ASSERT_TRUE(InternetGetLastResponseInfoW(&code, text, &len));
  EXPECT_EQ(code, 530u);

  Handle connect = Connect(session.get(), ftp, UTF8ToString(ftp.Password()));
  ASSERT_TRUE(connect) << InternetGetLastError() << " " << ftp.LogTail();
  EXPECT_EQ(CurrentDir(connect.get()), u"/");

  auto top = List(connect.get(), nullptr);
  ASSERT_EQ(top.size(), 4u);
  EXPECT_FALSE(top[u"readme.txt"].dir);
  EXPECT_EQ(top[u"readme.txt"].size, 8);
  EXPECT_EQ(top[u"readme.txt"].time, kOld);
  EXPECT_EQ(top[u"data.bin"].size, 300000);
  EXPECT_EQ(top[u"data.bin"].time, kNew);
  EXPECT_TRUE(top[u"sub"].dir);
  EXPECT_TRUE(top[u"with space"].dir);

  // Masks by Windows rules, with a directory part, relative or absolute.
  auto txt = List(connect.get(), u"sub/*.TXT");
  ASSERT_EQ(txt.size(), 1u);
  EXPECT_EQ(txt.begin()->first, u"one.txt");
  EXPECT_EQ(List(connect.get(), u"/with space/*").count(u"x y.txt"), 1u);
  DWORD error = 0;
  EXPECT_TRUE(List(connect.get(), u"*.none", &error).empty());
  EXPECT_EQ(error, ERROR_NO_MORE_FILES);
  // A plain name finds that one entry: the size and time query of a single file.
  auto single = List(connect.get(), u"data.bin");
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single.begin()->second.size, 300000);

  ASSERT_TRUE(FtpSetCurrentDirectoryW(connect.get(), u"sub"));
  EXPECT_EQ(CurrentDir(connect.get()), u"/sub");
  auto sub = List(connect.get(), u"*.*");
  EXPECT_EQ(sub.size(), 3u);
  EXPECT_TRUE(sub[u"deeper"].dir);
  ASSERT_TRUE(FtpSetCurrentDirectoryW(connect.get(), u"deeper/.."));
  EXPECT_EQ(CurrentDir(connect.get()), u"/sub");
  // A directory that is not there: refused with the server's reply, the current one kept.
  EXPECT_FALSE(FtpSetCurrentDirectoryW(connect.get(), u"nowhere"));
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
  len = 512;
  ASSERT_TRUE(InternetGetLastResponseInfoW(&code, text, &len));
  EXPECT_EQ(code, 550u);
  EXPECT_EQ(CurrentDir(connect.get()), u"/sub");
  EXPECT_FALSE(FtpSetCurrentDirectoryW(connect.get(), u"one.txt"));  // a file is no directory
  ASSERT_TRUE(FtpSetCurrentDirectoryW(connect.get(), u"/"));

  // One find handle per connection, and no file while it is open.
  WIN32_FIND_DATAW data;
  Handle find(FtpFindFirstFileW(connect.get(), u"*", &data, 0, 0));
  ASSERT_TRUE(find);
  EXPECT_FALSE(FtpFindFirstFileW(connect.get(), u"*", &data, 0, 0));
  EXPECT_EQ(InternetGetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
  EXPECT_FALSE(FtpOpenFileW(connect.get(), u"readme.txt", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
  EXPECT_EQ(InternetGetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
  find.reset();
  Handle file(FtpOpenFileW(connect.get(), u"readme.txt", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
  ASSERT_TRUE(file) << InternetGetLastError();
  EXPECT_EQ(ReadAll(file.get()), "read me\n");
}

TEST(WinInetFtpTest, ListingFromAServerWithoutMlsd) {
  FtpServer ftp({.mlsd = false});
  Populate(ftp);
  Handle session = Session();
  Handle connect = Connect(session.get(), ftp, UTF8ToString(ftp.Password()));
  ASSERT_TRUE(connect);
  auto top = List(connect.get(), u"*");
  ASSERT_EQ(top.size(), 4u);
  EXPECT_TRUE(top[u"sub"].dir);
  EXPECT_TRUE(top[u"with space"].dir);
  EXPECT_EQ(top[u"data.bin"].size, 300000);
  // LIST shows minutes (and only the day for old files); the time is the same minute or day.
  EXPECT_LE(std::abs(static_cast<long>(top[u"data.bin"].time - kNew)), 86400);
  EXPECT_EQ(List(connect.get(), u"with space/*").count(u"x y.txt"), 1u);
}

TEST(WinInetFtpTest, DownloadSizeTimeAndResume) {
  FtpServer ftp({});
  Populate(ftp);
  const std::string data = Pattern(300000);
  Handle session = Session();
  Handle connect = Connect(session.get(), ftp, UTF8ToString(ftp.Password()));
  ASSERT_TRUE(connect);

  {
    Handle file(FtpOpenFileW(connect.get(), u"data.bin", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0));
    ASSERT_TRUE(file) << InternetGetLastError();
    DWORD high = 99;
    EXPECT_EQ(FtpGetFileSize(file.get(), &high), 300000u);
    EXPECT_EQ(high, 0u);
    FILETIME ft;
    ASSERT_TRUE(FtpGetFileTime(file.get(), &ft));
    EXPECT_EQ(FileTimeToUnix(ft), kNew);
    EXPECT_EQ(ReadAll(file.get()), data);
  }
  {
    // Resume: the restart offset before the first read; the rest arrives, nothing twice.
    Handle file(FtpOpenFileW(connect.get(), u"/data.bin", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
    ASSERT_TRUE(file);
    EXPECT_EQ(InternetSetFilePointer(file.get(), 123457, nullptr, FILE_BEGIN, 0), 123457u);
    EXPECT_EQ(ReadAll(file.get()), data.substr(123457));
  }
  {
    // Resuming a complete file gives nothing more; beyond the end is refused.
    Handle file(FtpOpenFileW(connect.get(), u"data.bin", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(InternetSetFilePointer(file.get(), 300000, nullptr, FILE_BEGIN, 0), 300000u);
    EXPECT_EQ(ReadAll(file.get()), std::string());
    EXPECT_EQ(InternetSetFilePointer(file.get(), 300001, nullptr, FILE_BEGIN, 0), INVALID_SET_FILE_POINTER);
  }
  // A file that is not there.
  EXPECT_FALSE(FtpOpenFileW(connect.get(), u"missing.bin", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
  EXPECT_EQ(InternetGetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
  DWORD code = 0, len = 512;
  Char text[512];
  ASSERT_TRUE(InternetGetLastResponseInfoW(&code, text, &len));
  EXPECT_EQ(code, 550u);
  // The connection is still good afterwards, and names with blanks work.
  Handle spaced(FtpOpenFileW(connect.get(), u"with space/x y.txt", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
  ASSERT_TRUE(spaced);
  EXPECT_EQ(ReadAll(spaced.get()), "xy");
  spaced.reset();

  // The one-shot URL form, relative to the logon directory.
  String url = u"ftp://" + UTF8ToString(ftp.User()) + u":" + UTF8ToString(ftp.Password()) + u"@127.0.0.1:" +
               IntToStr(ftp.Port()) + u"/sub/two.dat";
  Handle byUrl(InternetOpenUrlW(session.get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
  ASSERT_TRUE(byUrl) << InternetGetLastError();
  EXPECT_EQ(ReadAll(byUrl.get()), "22");
}

TEST(WinInetFtpTest, ClosingAConnectionClosesItsChildren) {
  FtpServer ftp({});
  Populate(ftp);
  Handle session = Session();
  HINTERNET connect = Connect(session.get(), ftp, UTF8ToString(ftp.Password())).release();
  ASSERT_TRUE(connect);
  HINTERNET file = FtpOpenFileW(connect, u"data.bin", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0);
  ASSERT_TRUE(file);
  char buf[2050];
  DWORD got = 0;
  ASSERT_TRUE(InternetReadFile(file, buf, sizeof buf, &got));  // a transfer under way
  EXPECT_TRUE(InternetCloseHandle(connect));
  // The child went with its parent: its handle is stale, and using it is an error, not a crash.
  EXPECT_FALSE(InternetReadFile(file, buf, sizeof buf, &got));
  EXPECT_EQ(InternetGetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(InternetCloseHandle(file));
  EXPECT_EQ(InternetGetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace ktinet
