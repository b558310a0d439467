// The info extractor, the remote file lister and the remote image against real servers and
// file-system trees.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rtl/Exceptions.h"
#include "rtl/SysUtils.h"
#include "support/FtpServer.h"
#include "support/Net.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "platform/TempFiles.h"
#include "transfer/ktidir.h"
#include "transfer/ktiimage.h"
#include "transfer/ktixtract.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/Graphics.h"

namespace ktinet {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Items(std::string_view text, TKtIExtract kind) {
  TStringList list;
  ExtractItems(text, ExtractPrefix(kind), &list);
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(UTF8Encode(list[i]));
  return out;
}

using V = std::vector<std::string>;

TEST(InfoExtractor, ScanCutsItemsAtTheTerminators) {
  // Exact cut between blanks, prefix included; capitals are another text.
  EXPECT_EQ(Items("see http://a.example/x?y=1 or HTTP://B.EXAMPLE/ now", ieHTTP), V{"http://a.example/x?y=1"});
  // Apostrophes, parentheses and commas do not end an item; ">" and line breaks do.
  EXPECT_EQ(Items("<a href='http://q.example/p'>go</a>", ieHTTP), V{"http://q.example/p'"});
  EXPECT_EQ(Items("(http://x.example/a,b)\nnext line<", ieHTTP), V{"http://x.example/a,b)"});
  // A link that ends its line does not run into the next line's link of another kind.
  EXPECT_EQ(Items("http://h.example/a\r\nftp://f.example/b\nhttp://h.example/c\rftp://f.example/d", ieHTTP),
            (V{"http://h.example/a", "http://h.example/c"}));
  // Each terminator of the set ends an item.
  for (char t : std::string("\"#%<>[\\]^`{|}~ ", 15)) {
    EXPECT_EQ(Items(std::string("http://t.example/a") + t + "b", ieHTTP), V{"http://t.example/a"}) << t;
  }
  EXPECT_EQ(Items(std::string("mailto:a@b.example\0rest", 24), ieMailTo), V{"mailto:a@b.example"});
  // Secure and plain links never find each other.
  EXPECT_EQ(Items("https://s.example/ http://p.example/", itHTTPS), V{"https://s.example/"});
  EXPECT_EQ(Items("https://s.example/ http://p.example/", ieHTTP), V{"http://p.example/"});
  // Duplicates are kept, an incomplete prefix at the end adds nothing.
  EXPECT_EQ(Items("mailto:x@y.example mailto:x@y.example mailto", ieMailTo),
            (V{"mailto:x@y.example", "mailto:x@y.example"}));
  EXPECT_EQ(Items("ftp://f.example/pub/\"gopher://g.example/1 wais:db news:comp.lang telnet:h file:///etc", itGopher),
            V{"gopher://g.example/1"});
  EXPECT_EQ(Items("x file:///etc/hosts", itFile), V{"file:///etc/hosts"});
  EXPECT_EQ(Items("telnet:h", itTelnet), V{"telnet:h"});
  // Bytes keep their values, one character each.
  TStringList list;
  ExtractItems("news:caf\xE9", "news:", &list);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0], u"news:caf\u00E9");
}

TEST(TempFiles, EachNameIsNewInTheTemporaryDirectoryAndKeepsTheExtension) {
  test::TempDir dir;
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", dir.Path().c_str(), 1);
  const String a = UniqueTempFileName(u".png");
  const String b = UniqueTempFileName(u".png");
  const String none = UniqueTempFileName(u"");
  if (old) ::setenv("TMPDIR", saved.c_str(), 1);
  else ::unsetenv("TMPDIR");
  EXPECT_NE(a, b);
  EXPECT_EQ(UTF8Encode(a).rfind(dir.Path() + "/tmp", 0), 0u);
  EXPECT_EQ(ExtractFileExt(a), u".png");
  EXPECT_EQ(ExtractFileExt(none), u"");
  // Only a name is handed out; no file is left behind.
  EXPECT_FALSE(FileExists(a));
  EXPECT_FALSE(FileExists(none));
}

test::NginxServer::Options PageFiles() {
  test::NginxServer::Options o;
  o.files = {{"a.html", "<p><a href=\"http://one.example/\">1</a> mailto:me@here.example</p>\n"},
             {"b.html", "<p>http://two.example/x http://two.example/x</p>\n"}};
  return o;
}

TEST(InfoExtractor, RunParsesAfterEverySuccessfulRunAndKeepsItsOwnFile) {
  test::NginxServer nginx(PageFiles());
  auto make = [&](const char16_t* remote) {
    auto x = std::make_unique<TKtInfoExtractor>(nullptr);
    x->SetHost(u"127.0.0.1");
    x->SetPort(static_cast<Word>(nginx.Port()));
    x->SetExtract(ieHTTP);
    x->SetRemoteFileName(remote);
    return x;
  };
  auto a = make(u"/a.html");
  auto b = make(u"/b.html");
  EXPECT_NE(a->LocalFileName(), b->LocalFileName());
  EXPECT_EQ(ExtractFileExt(a->LocalFileName()), u".html");

  ASSERT_TRUE(a->Execute());
  EXPECT_EQ(a->Status(), isFinished);
  ASSERT_EQ(a->ExtractedInfo()->Count(), 1);
  EXPECT_EQ(a->ExtractedInfo()->Get(0), u"http://one.example/");
  ASSERT_TRUE(b->Execute());
  EXPECT_EQ(b->ExtractedInfo()->Count(), 2);
  // Both downloads of the same extension live side by side.
  EXPECT_TRUE(FileExists(a->LocalFileName()));
  EXPECT_TRUE(FileExists(b->LocalFileName()));

  // An unchanged file is skipped and still parsed, now for another kind.
  a->SetExtract(ieMailTo);
  ASSERT_TRUE(a->Execute());
  EXPECT_EQ(a->Status(), isSkipped);
  ASSERT_EQ(a->ExtractedInfo()->Count(), 1);
  EXPECT_EQ(a->ExtractedInfo()->Get(0), u"mailto:me@here.example");

  // One instance's name change and destruction touch only its own file.
  const String aFile = a->LocalFileName();
  const String bFile = b->LocalFileName();
  b->SetRemoteFileName(u"/a.html");
  EXPECT_FALSE(FileExists(bFile));
  EXPECT_TRUE(FileExists(aFile));
  ASSERT_TRUE(b->Execute());
  const String bFile2 = b->LocalFileName();
  b.reset();
  EXPECT_FALSE(FileExists(bFile2));
  EXPECT_TRUE(FileExists(aFile));
  a.reset();
  EXPECT_FALSE(FileExists(aFile));
}

TEST(RemoteFiles, NetworkTreesAndFailures) {
  test::TempDir dir;
  ::mkdir((dir / "docs.txt").c_str(), 0755);
  ::mkdir((dir / "other").c_str(), 0755);
  dir.Write("a.txt", "a");
  dir.Write("b.log", "b");
  dir.Write("docs.txt/c.txt", "c");
  dir.Write("other/d.txt", "d");

  TKtRemoteFiles files(nullptr);
  EXPECT_EQ(files.WildCard(), u"*.*");
  files.SetService(isNetwork);
  files.SetDirectory(UTF8ToString(dir.Path()));
  files.SetWildCard(u"*.txt");
  files.SetSubFolders(true);
  ASSERT_TRUE(files.Execute());
  EXPECT_EQ(files.Status(), isFinished);
  std::vector<std::string> got;
  for (int i = 0; i < files.FileList()->Count(); ++i) got.push_back(UTF8Encode(files.FileList()->Get(i)));
  std::sort(got.begin(), got.end());
  // Only the sub-folder whose name matches the mask is entered.
  EXPECT_EQ(got, (V{dir / "a.txt", dir / "docs.txt", dir / "docs.txt/c.txt"}));

  // A second run starts from an empty list; nothing matching is "not found".
  files.SetWildCard(u"*.none");
  ASSERT_TRUE(files.Execute());
  EXPECT_EQ(files.Status(), isNotFound);
  EXPECT_EQ(files.FileList()->Count(), 0);

  // HTTP lists nothing.
  test::NginxServer nginx(PageFiles());
  TKtRemoteFiles http(nullptr);
  http.SetHost(u"127.0.0.1");
  http.SetPort(static_cast<Word>(nginx.Port()));
  http.Execute();
  EXPECT_EQ(http.Status(), isNotFound);
}

TEST(RemoteFiles, FtpTreeWithMaskAndUnreachableServer) {
  test::FtpServer ftp({});
  ftp.Write("a.txt", "a");
  ftp.Write("b.log", "b");
  ftp.Write("sub.txt/c.txt", "c");
  ftp.Write("other/d.txt", "d");
  TKtRemoteFiles files(nullptr);
  files.SetService(isFTP);
  files.SetHost(u"127.0.0.1");
  files.SetPort(static_cast<Word>(ftp.Port()));
  files.SetUser(UTF8ToString(ftp.User()));
  files.SetPassword(UTF8ToString(ftp.Password()));
  files.SetWildCard(u"*.txt");
  files.SetSubFolders(true);
  ASSERT_TRUE(files.Execute());
  EXPECT_EQ(files.Status(), isFinished);
  std::vector<std::string> got;
  for (int i = 0; i < files.FileList()->Count(); ++i) got.push_back(UTF8Encode(files.FileList()->Get(i)));
  std::sort(got.begin(), got.end());
  // Bare names at the top; below it "/"-joined paths; "other" does not match and is not entered.
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1], "a.txt");
  EXPECT_EQ(got[2], "sub.txt");
  EXPECT_NE(got[0].find("sub.txt/c.txt"), std::string::npos);

  // The extractor reads over FTP the same way.
  ftp.Write("pub/page.txt", "see ftp://mirror.example/pub/x.tar.gz and ftp://m2.example/\n");
  TKtInfoExtractor x(nullptr);
  x.SetService(isFTP);
  x.SetHost(u"127.0.0.1");
  x.SetPort(static_cast<Word>(ftp.Port()));
  x.SetUser(UTF8ToString(ftp.User()));
  x.SetPassword(UTF8ToString(ftp.Password()));
  x.SetExtract(itFTP);
  x.SetRemoteFileName(u"/pub/page.txt");
  ASSERT_TRUE(x.Execute());
  ASSERT_EQ(x.ExtractedInfo()->Count(), 2);
  EXPECT_EQ(x.ExtractedInfo()->Get(1), u"ftp://m2.example/");  // the line break ends it

  // Nobody listening: the connection fails.
  files.SetPort(static_cast<Word>(test::FreePort()));
  EXPECT_FALSE(files.Execute());
  EXPECT_EQ(files.Status(), isFailed);
}

// A PNG file's signature and header chunk: enough for the picture to know its size.
std::string Png(int w, int h) {
  std::string b("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (int v : {w, h})
    for (int s = 24; s >= 0; s -= 8) b += static_cast<char>((v >> s) & 0xFF);
  b += std::string("\x08\x06\0\0\0\0\0\0\0", 9);
  return b;
}

// Pumps the application's loop until `done` or the deadline.
template <class F>
bool PumpUntil(F done, int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > end) return false;
    Application->ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

struct Camera {
  TImage image{nullptr};
  TKtRemoteImage remote{nullptr};
  int runs = 0;
  Camera(int port, const char16_t* name, int interval) {
    remote.SetHost(u"127.0.0.1");
    remote.SetPort(static_cast<Word>(port));
    remote.SetRemoteFileName(name);
    remote.SetImage(&image);
    remote.SetInterval(interval);
    remote.SetOnAfterExecute([this](TObject*) { ++runs; });
  }
};

TEST(RemoteImage, TwoInstancesAtOnceKeepTheirOwnPictures) {
  test::NginxServer::Options o;
  o.files = {{"cam/front.png", Png(640, 480)}, {"cam/back.png", Png(320, 200)}};
  test::NginxServer nginx(o);
  Camera front(nginx.Port(), u"/cam/front.png", 20);
  Camera back(nginx.Port(), u"/cam/back.png", 25);
  EXPECT_NE(front.remote.LocalFileName(), back.remote.LocalFileName());
  EXPECT_EQ(ExtractFileExt(front.remote.LocalFileName()), u".png");
  front.remote.Start();
  back.remote.Start();
  EXPECT_EQ(front.runs, 0);  // starting does not fetch at once
  ASSERT_TRUE(PumpUntil([&] { return front.runs >= 3 && back.runs >= 3; }, 10000));
  front.remote.Stop();
  back.remote.Stop();
  EXPECT_EQ(front.image.Picture()->Width(), 640);
  EXPECT_EQ(front.image.Picture()->Height(), 480);
  EXPECT_EQ(back.image.Picture()->Width(), 320);
  EXPECT_EQ(back.image.Picture()->Height(), 200);
  EXPECT_TRUE(dynamic_cast<TPngImage*>(front.image.Picture()->Graphic()) != nullptr);

  // Stopped: no more fetches.
  const int runs = front.runs;
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(front.runs, runs);

  // A new remote name deletes the old copy at once.
  const String old = front.remote.LocalFileName();
  EXPECT_TRUE(FileExists(old));
  front.remote.SetRemoteFileName(u"/cam/back.png");
  EXPECT_FALSE(FileExists(old));
  EXPECT_TRUE(FileExists(back.remote.LocalFileName()));
}

TEST(RemoteImage, FetchesNeverOverlapAndTheIntervalRunsFromTheEndOfOne) {
  test::NginxServer::Options o;
  o.files = {{"shot.gif", std::string("GIF89a\x10\0\x08\0", 10)}, {"shot.xyz", "data"}};
  test::NginxServer nginx(o);
  Camera cam(nginx.Port(), u"/shot.gif", 40);
  std::vector<std::pair<Clock::time_point, Clock::time_point>> spans;
  bool inside = false, overlapped = false;
  cam.remote.SetOnBeforeExecute([&](TObject*) {
    overlapped = overlapped || inside;
    inside = true;
    spans.push_back({Clock::now(), {}});
    // A slow fetch that pumps messages, as a shown status window does.
    PumpUntil([] { return false; }, 60);
  });
  cam.remote.SetOnAfterExecute([&](TObject*) {
    inside = false;
    spans.back().second = Clock::now();
  });
  cam.remote.Start();
  ASSERT_TRUE(PumpUntil([&] { return spans.size() >= 4 && !inside; }, 10000));
  cam.remote.Stop();
  EXPECT_FALSE(overlapped);
  for (size_t i = 1; i < spans.size(); ++i)
    EXPECT_GE(spans[i].first - spans[i - 1].second, std::chrono::milliseconds(38)) << i;
  EXPECT_EQ(cam.image.Picture()->Width(), 16);

  // An extension no graphic class reads raises out of the loop and ends the periodic fetch.
  Camera odd(nginx.Port(), u"/shot.xyz", 15);
  odd.remote.Start();
  bool raised = false;
  try {
    PumpUntil([&] { return odd.runs >= 3; }, 3000);
  } catch (const EInvalidGraphic&) {
    raised = true;
  }
  EXPECT_TRUE(raised);
  const int runs = odd.runs;
  PumpUntil([] { return false; }, 150);
  EXPECT_EQ(odd.runs, runs);
}

TEST(RemoteImage, ImageControlGoneClearsTheLink) {
  auto image = std::make_unique<TImage>(nullptr);
  TKtRemoteImage remote(nullptr);
  EXPECT_EQ(remote.Interval(), 1000);
  remote.SetImage(image.get());
  image.reset();
  EXPECT_EQ(remote.Image(), nullptr);
  // Without a control the run only downloads (nothing is served here: nothing to load).
  remote.SetService(isNetwork);
  test::TempDir dir;
  remote.SetRemoteFileName(UTF8ToString(dir.Write("p.bmp", "BM")));
  remote.Execute();
  EXPECT_EQ(remote.Image(), nullptr);
}

}  // namespace
}  // namespace ktinet
