// The transfer components against peers that mean harm or are broken: listings that loop back on
// themselves or never end, partial answers that are not the part asked for, lengths that are no
// numbers, trickles, and files a user named that must stay whole.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "TransferSupport.h"
#include "platform/FtpList.h"
#include "rtl/Streams.h"
#include "services/KtIMSTranslator.h"
#include "support/FtpServer.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "transfer/ktidir.h"

namespace ktinet::test {
namespace {

// ---- Listings on a fake FTP connection ------------------------------------------------------

// A server's tree as a function: the entries a folder path shows.
using TreeFn = std::function<std::vector<WIN32_FIND_DATAW>(const std::string& folder)>;

WIN32_FIND_DATAW Entry(const std::string& name, bool directory, std::uint64_t unique = 0) {
  WIN32_FIND_DATAW d{};
  d.dwFileAttributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  String wide = U16(name);
  std::copy(wide.begin(), wide.end(), d.cFileName);
  d.dwReserved0 = static_cast<DWORD>(unique >> 32);
  d.dwReserved1 = static_cast<DWORD>(unique);
  return d;
}

struct FtpFakeState {
  TreeFn tree;
  std::string current = "/";
  std::vector<std::string> listed;  // folders in the order listed
};

class FtpFakeFind : public TInternetHandle {
 public:
  explicit FtpFakeFind(std::vector<WIN32_FIND_DATAW> e) : FEntries(std::move(e)) {}
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_FTP_FIND; }
  bool FindNextFile(WIN32_FIND_DATAW& d) override {
    if (FNext >= FEntries.size()) {
      InternetSetLastError(ERROR_NO_MORE_FILES);
      return false;
    }
    d = FEntries[FNext++];
    return true;
  }

 private:
  std::vector<WIN32_FIND_DATAW> FEntries;
  size_t FNext = 1;
};

class FtpFakeConnection : public TInternetHandle {
 public:
  explicit FtpFakeConnection(FtpFakeState& s) : S(s) {}
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_CONNECT_FTP; }
  bool GetCurrentDirectory(String& d) override {
    d = U16(S.current);
    return true;
  }
  bool SetCurrentDirectory(const String& d) override {
    S.current = U8(d);
    return true;
  }
  std::unique_ptr<TInternetHandle> FindFirstFile(const String& search, WIN32_FIND_DATAW& first, DWORD) override {
    std::string pattern = U8(search);
    size_t slash = pattern.rfind('/');
    std::string folder = slash == std::string::npos ? S.current : pattern.substr(0, slash);
    if (folder.empty()) folder = "/";
    S.listed.push_back(folder);
    auto entries = S.tree(folder);
    if (entries.empty()) {
      InternetSetLastError(ERROR_NO_MORE_FILES);
      return nullptr;
    }
    first = entries.front();
    return std::make_unique<FtpFakeFind>(std::move(entries));
  }

 private:
  FtpFakeState& S;
};

class FtpFakeSession : public TInternetHandle {
 public:
  explicit FtpFakeSession(FtpFakeState& s) : S(s) {}
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_INTERNET; }
  bool SetOption(DWORD, const String&, DWORD) override { return true; }
  std::unique_ptr<TInternetHandle> Connect(const String&, INTERNET_PORT, const Char*, const Char*, DWORD,
                                           DWORD) override {
    return std::make_unique<FtpFakeConnection>(S);
  }

 private:
  FtpFakeState& S;
};

class FtpFake : public ::testing::Test, public TInternetBackend {
 protected:
  std::unique_ptr<TInternetHandle> Open(const String&, DWORD, const String&, const String&, DWORD) override {
    return std::make_unique<FtpFakeSession>(state);
  }
  void SetUp() override { previous = SetInternetBackend(this); }
  void TearDown() override { SetInternetBackend(previous); }

  // Lists `dir` with sub-folders; the lines of the list.
  std::vector<std::string> List(TKtRemoteFiles& files, const std::string& dir) {
    files.SetService(isFTP);
    files.SetHost(u"fake.example");
    files.Proxy()->SetUseProxy(false);
    files.SetDirectory(U16(dir));
    files.SetWildCard(u"*");
    files.SetSubFolders(true);
    files.Execute();
    std::vector<std::string> out;
    for (int i = 0; i < files.FileList()->Count(); ++i) out.push_back(U8((*files.FileList())[i]));
    return out;
  }

  FtpFakeState state;
  TInternetBackend* previous = nullptr;
};

TEST_F(FtpFake, AFolderThatLeadsBackUpIsListedOnceWithOrWithoutUniqueFacts) {
  // /pub shows "c" and a file; /pub/c shows "up", which is /pub again (a link to ".."), so every
  // path /pub/c/up/c/up/... exists. No unique facts: the listing itself gives the loop away.
  state.tree = [](const std::string& folder) {
    const bool isPub = folder == "/pub" || (folder.size() >= 5 && folder.compare(folder.size() - 5, 5, "/c/up") == 0);
    if (isPub) return std::vector<WIN32_FIND_DATAW>{Entry("c", true), Entry("f.txt", false)};
    return std::vector<WIN32_FIND_DATAW>{Entry("up", true), Entry("g.txt", false)};
  };
  TKtRemoteFiles files(nullptr);
  auto lines = List(files, "/pub");
  EXPECT_EQ(files.Status(), isFinished) << U8(files.LastErrorText());
  EXPECT_EQ(lines, (std::vector<std::string>{"/pub/c", "/pub/f.txt", "/pub/c/up", "/pub/c/g.txt"}));
  EXPECT_EQ(state.listed.size(), 3u);  // /pub, /pub/c, and /pub/c/up found to be /pub

  // With unique facts two names of one folder are entered once, even when not on the way down.
  state.listed.clear();
  state.tree = [](const std::string& folder) {
    if (folder == "/pub") return std::vector<WIN32_FIND_DATAW>{Entry("a", true, 7), Entry("b", true, 7)};
    return std::vector<WIN32_FIND_DATAW>{Entry("loop", true, 7), Entry("x.txt", false, 9)};
  };
  TKtRemoteFiles other(nullptr);
  lines = List(other, "/pub/");  // a trailing "/" makes no "//" in the names
  EXPECT_EQ(other.Status(), isFinished);
  EXPECT_EQ(lines, (std::vector<std::string>{"/pub/a", "/pub/b", "/pub/a/loop", "/pub/a/x.txt"}));
  EXPECT_EQ(state.listed, (std::vector<std::string>{"/pub", "/pub/a"}));
}

TEST_F(FtpFake, AnEndlessTreeStopsAtSixtyFourLevelsWithAReason) {
  // Every folder shows a new, different folder: no loop to find, only depth.
  state.tree = [](const std::string& folder) {
    return std::vector<WIN32_FIND_DATAW>{Entry("d" + std::to_string(folder.size()), true)};
  };
  TKtRemoteFiles files(nullptr);
  auto lines = List(files, "/");
  EXPECT_EQ(files.Status(), isFailed);
  EXPECT_NE(U8(files.LastErrorText()).find("deeper than 64 levels"), std::string::npos) << U8(files.LastErrorText());
  EXPECT_EQ(state.listed.size(), 65u);  // the top and 64 levels below it
  EXPECT_EQ(lines.size(), 65u);
}

// ---- A real FTP server with a link to "." ------------------------------------------------------

TEST(FtpLoop, ALinkToItsOwnFolderIsNotFollowedForever) {
  FtpServer ftp({});
  ftp.Write("pub/a.txt", "a");
  ftp.Write("pub/sub/b.txt", "b");
  ASSERT_EQ(::symlink(".", (ftp.Root() + "/pub/loop").c_str()), 0);
  ASSERT_EQ(::symlink("..", (ftp.Root() + "/pub/sub/up").c_str()), 0);
  TKtRemoteFiles files(nullptr);
  files.SetService(isFTP);
  files.SetHost(u"127.0.0.1");
  files.SetPort(static_cast<Word>(ftp.Port()));
  files.SetUser(U16(ftp.User()));
  files.SetPassword(U16(ftp.Password()));
  files.Proxy()->SetUseProxy(false);
  files.SetDirectory(u"/pub");
  files.SetWildCard(u"*");
  files.SetSubFolders(true);
  files.Execute();
  EXPECT_EQ(files.Status(), isFinished) << U8(files.LastErrorText());
  std::map<std::string, int> files_named;
  const TStrings& list = *files.FileList();
  for (int i = 0; i < list.Count(); ++i) {
    std::string line = U8(list[i]);
    ++files_named[line.substr(line.rfind('/') + 1)];
  }
  // The server marks each name with the identity of what it leads to: each file is listed once.
  EXPECT_EQ(files_named["a.txt"], 1) << list.Count();
  EXPECT_EQ(files_named["b.txt"], 1) << list.Count();
  EXPECT_LT(list.Count(), 12);
}

TEST(FtpLoop, AnEndlessListingStopsAtItsLimitWithAReason) {
  FtpServer::Options o;
  o.endlessListing = true;
  FtpServer ftp(o);
  TKtRemoteFiles files(nullptr);
  files.SetService(isFTP);
  files.SetHost(u"127.0.0.1");
  files.SetPort(static_cast<Word>(ftp.Port()));
  files.SetUser(U16(ftp.User()));
  files.SetPassword(U16(ftp.Password()));
  files.Proxy()->SetUseProxy(false);
  files.SetDirectory(u"/");
  files.Execute();
  EXPECT_EQ(files.Status(), isFailed);
  EXPECT_NE(U8(files.LastErrorText()).find("larger than 64 MiB"), std::string::npos) << U8(files.LastErrorText());
  EXPECT_EQ(files.FileList()->Count(), 0);
}

TEST(FtpListing, EntriesBeyondTheLimitAreCountedNotKept) {
  std::string text;
  for (int i = 0; i < 10; ++i) text += "type=file;size=1;unique=80g" + std::to_string(i) + "; f" + std::to_string(i) + "\r\n";
  bool truncated = false;
  auto entries = ParseFtpListing(text, true, 0, 4, &truncated);
  EXPECT_TRUE(truncated);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[3].Unique, "80g3");
  entries = ParseFtpListing(text, true, 0, 10, &truncated);
  EXPECT_FALSE(truncated);
}

// ---- HTTP answers that must not reach the local file -------------------------------------------

constexpr const char* kLastModified = "Mon, 01 Dec 2025 10:00:00 GMT";
constexpr std::time_t kLastModifiedUnix = 1764583200;

std::string Ok(const std::string& body, const std::string& extra = "") {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nLast-Modified: " + kLastModified +
         "\r\n" + extra + "\r\n" + body;
}

void Aim(TProbe& u, int port, const std::string& local) {
  u.SetHost(u"127.0.0.1");
  u.SetPort(static_cast<Word>(port));
  u.SetRemoteFileName(u"/f.bin");
  u.SetLocalFileName(U16(local));
  u.Proxy()->SetUseProxy(false);
}

TEST(HostileHttp, APartialAnswerContinuesTheFileOnlyWhenItIsThePartAskedFor) {
  const std::string body = "0123456789";
  struct Case {
    const char* name;
    std::string partial;  // the answer to the range request
  };
  const std::vector<Case> cases = {
      {"a range from byte 0", "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 0-9/10\r\nContent-Length: 10\r\n\r\n" + body},
      {"no Content-Range", "HTTP/1.0 206 Partial Content\r\nContent-Length: 10\r\n\r\n" + body},
      {"another total", "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 4-13/14\r\nContent-Length: 10\r\n\r\n" + body},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir local;
    const std::string file = local.Write("f.bin", "0123");
    SetMTime(file, FileTimeOfUnix(kLastModifiedUnix));  // the part of this very version
    ScriptedServer server;
    server.Add(Script().ReadUntil("\r\n\r\n").Send(Ok(body)));
    server.Add(Script().ReadUntil("\r\n\r\n").Send(c.partial));
    server.Add(Script().ReadUntil("\r\n\r\n").Send(Ok(body)));
    TProbe u(nullptr);
    Aim(u, server.Port(), file);
    u.SetResumeDownload(true);
    u.Execute();
    EXPECT_EQ(ReadFileBytes(file), body);
    ASSERT_TRUE(server.WaitDone(2));
    EXPECT_NE(server.Received(1).find("Range: bytes=4-"), std::string::npos);
    EXPECT_NE(server.Received(1).find(std::string("If-Range: ") + kLastModified), std::string::npos) << server.Received(1);
  }

  // The right part continues the file.
  TempDir local;
  const std::string file = local.Write("f.bin", "0123");
  SetMTime(file, FileTimeOfUnix(kLastModifiedUnix));
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send(Ok(body)));
  server.Add(Script().ReadUntil("\r\n\r\n").Send(
      "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 4-9/10\r\nContent-Length: 6\r\n\r\n456789"));
  TProbe u(nullptr);
  Aim(u, server.Port(), file);
  u.SetResumeDownload(true);
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_EQ(ReadFileBytes(file), body);
  EXPECT_EQ(server.ConnectionCount(), 2u);
}

TEST(HostileHttp, APartNotCutFromTheRemoteVersionIsReplacedNotContinued) {
  // Network paths: the same size with another time, and a shorter file of another time.
  TempDir remote, local;
  const std::string source = remote.Write("f.bin", "new version");
  SetMTime(source, FileTimeOfUnix(kLastModifiedUnix));
  for (const std::string& before : {std::string("old version"), std::string("ol")}) {
    SCOPED_TRACE(before);
    const std::string file = local.Write("f.bin", before);
    SetMTime(file, FileTimeOfUnix(kLastModifiedUnix - 3600));
    TProbe u(nullptr);
    u.SetService(isNetwork);
    u.SetRemoteFileName(U16(source));
    u.SetLocalFileName(U16(file));
    u.SetResumeDownload(true);
    EXPECT_TRUE(u.Execute());
    EXPECT_EQ(u.Status(), isFinished);
    EXPECT_EQ(ReadFileBytes(file), "new version");
    // A second run finds it current.
    EXPECT_TRUE(u.Execute());
    EXPECT_EQ(u.Status(), isSkipped);
  }
}

TEST(HostileHttp, AContentLengthThatIsNoNumberFailsAndLeavesTheFile) {
  for (const std::string& length : {std::string("18446744073709551626"), std::string("1e3"), std::string("0x10"), std::string("10, 12")}) {
    SCOPED_TRACE(length);
    TempDir local;
    const std::string file = local.Write("f.bin", "previous");
    ScriptedServer server;
    server.SetDefault(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Length: " + length +
                                                           "\r\n\r\n0123456789"));
    TProbe u(nullptr);
    Aim(u, server.Port(), file);
    EXPECT_FALSE(u.Execute());
    EXPECT_EQ(u.Status(), isFailed);
    EXPECT_EQ(ReadFileBytes(file), "previous");
    EXPECT_NE(U8(u.LastErrorText()).find("Content-Length"), std::string::npos) << U8(u.LastErrorText());
  }
}

TEST(HostileHttp, ATrickleEndsAtTheSilenceTimeOutOrTheDeadline) {
  TempDir local;
  const std::string file = local.Write("f.bin", "previous");
  auto trickle = [] {
    Script s;
    s.ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Length: 400\r\n\r\n");
    for (int i = 0; i < 200; ++i) s.Send("x").Stall(100);
    return s;
  };
  {  // A few bytes a second are as good as silence.
    ScriptedServer server;
    server.SetDefault(trickle());
    TProbe u(nullptr);
    Aim(u, server.Port(), file);
    u.SetReadTimeout(1000);
    EXPECT_FALSE(u.Execute());
    EXPECT_NE(U8(u.LastErrorText()).find("timed out"), std::string::npos) << U8(u.LastErrorText());
  }
  {  // The whole run's deadline, whatever the server does.
    ScriptedServer server;
    server.SetDefault(trickle());
    TProbe u(nullptr);
    Aim(u, server.Port(), file);
    u.SetReadTimeout(0);
    u.SetMaxTime(1500);
    EXPECT_FALSE(u.Execute());
    EXPECT_NE(U8(u.LastErrorText()).find("timed out"), std::string::npos) << U8(u.LastErrorText());
  }
  {  // Also for a plain GET outside a run, and the next one that goes well says nothing.
    ScriptedServer server;
    server.Add(trickle());
    server.Add(Script().ReadUntil("\r\n\r\n").Send(Ok("whole")));
    TProbe u(nullptr);
    u.Proxy()->SetUseProxy(false);
    u.SetMaxTime(1500);
    const String url = U16("http://127.0.0.1:" + std::to_string(server.Port()) + "/f.bin");
    TMemoryStream stream;
    u.ReadHTTPGetResponse(url, &stream);
    EXPECT_NE(U8(u.LastErrorText()).find("timed out"), std::string::npos) << U8(u.LastErrorText());
    TMemoryStream second;
    u.ReadHTTPGetResponse(url, &second);
    EXPECT_EQ(second.Bytes(), "whole");
    EXPECT_EQ(U8(u.LastErrorText()), "");
  }
  EXPECT_EQ(ReadFileBytes(file), "previous");
  EXPECT_EQ(DirEntries(local.Path()), std::vector<std::string>{"f.bin"});
}

TEST(HostileHttp, FailuresNameTheirCauseAndACancelSaysSo) {
  TempDir local;
  const std::string file = local.Write("f.bin", "previous");
  int closedPort = 0;
  {
    ScriptedServer gone;
    closedPort = gone.Port();
  }
  TProbe u(nullptr);
  Aim(u, closedPort, file);
  EXPECT_FALSE(u.Execute());
  EXPECT_NE(U8(u.LastErrorText()).find("could not be established"), std::string::npos) << U8(u.LastErrorText());

  ScriptedServer server;
  server.SetDefault(Script().ReadUntil("\r\n\r\n").Send(Ok(PatternBytes(100000, 3))));
  Aim(u, server.Port(), file);
  u.SetOnProgress([](TObject*, Integer, Integer, bool& abort) { abort = true; });
  EXPECT_FALSE(u.Execute());
  EXPECT_TRUE(u.Cancelled());
  EXPECT_EQ(U8(u.LastErrorText()), "cancelled");
  EXPECT_EQ(ReadFileBytes(file), "previous");

  // A run that goes well clears both.
  u.SetOnProgress(nullptr);
  EXPECT_TRUE(u.Execute());
  EXPECT_FALSE(u.Cancelled());
  EXPECT_EQ(U8(u.LastErrorText()), "");
}

// ---- Files a user named -------------------------------------------------------------------------

TEST(HostileHttp, SpeakLeavesThePreviousFileOnAnErrorAnswer) {
  TempDir dir;
  const std::string out = dir.Write("hello.wav", "previous sound");
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send(
      "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html\r\nContent-Length: 27\r\nConnection: close\r\n\r\n"
      "<html>Invalid appId</html>\n"));
  server.Add(Script().ReadUntil("\r\n\r\n").Send(
      "HTTP/1.1 200 OK\r\nContent-Type: audio/wav\r\nContent-Length: 9\r\nConnection: close\r\n\r\nRIFFsound"));
  TKtMSTranslator t(nullptr);
  t.Proxy()->SetUseProxy(false);
  t.SetHost(U16("http://127.0.0.1:" + std::to_string(server.Port())));
  t.SpeakText(u"en", U16(out), u"hello");
  EXPECT_EQ(t.LastHTTPStatus(), 400u);
  EXPECT_EQ(ReadFileBytes(out), "previous sound");
  EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string>{"hello.wav"});
  t.SpeakText(u"en", U16(out), u"hello");
  EXPECT_EQ(t.LastHTTPStatus(), 200u);
  EXPECT_EQ(ReadFileBytes(out), "RIFFsound");
}

}  // namespace
}  // namespace ktinet::test
