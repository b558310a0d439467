// TKtWebDirect against a real nginx: the backup, the new-entry rule, the dialog's life, and the
// link opener.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

#include "platform/Shell.h"
#include "rtl/SysUtils.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "transfer/ktidirect.h"
#include "vcl/ScriptedBackend.h"
#include "vcl/TerminalBackend.h"

namespace ktinet {
namespace {

using test::NginxServer;
using test::ReadFileBytes;
using test::TempDir;

class TTestDirect : public TKtWebDirect {
 public:
  using TKtWebDirect::TKtWebDirect;
  void SetNewsFile(const std::string& path) { FLocalFileName = UTF8ToString(path); }
};

const std::string kNews =
    "[Releases]\r\n"
    "https://example.org/3.0=Version 3.0 is out\r\n"
    "https://example.org/2.9 = Version 2.9 \r\n"
    "[Tips]\r\n"
    "https://example.org/tips/proxy=Using a proxy\r\n";

// The entries of the tree as "group/caption" with a '*' before the new ones.
std::vector<std::string> Entries(const TTreeView* tree) {
  std::vector<std::string> out;
  for (TTreeNode* g = tree->Items()->GetFirstNode(); g; g = g->GetNextSibling())
    for (int i = 0; i < g->Count(); ++i)
      out.push_back((g->Item(i)->Bold() ? "*" : "") + UTF8Encode(g->Text()) + "/" + UTF8Encode(g->Item(i)->Text()));
  return out;
}

// Pushes the served file's time forward so the next run sees a newer remote copy.
void Replace(const std::string& path, const std::string& bytes, int secondsLater) {
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  timeval times[2] = {{st.st_mtime + secondsLater, 0}, {st.st_mtime + secondsLater, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
}

struct NewsSite {
  NginxServer nginx{[] {
    NginxServer::Options o;
    o.files = {{"news.wdn", kNews}};
    return o;
  }()};
  TempDir local;
  std::string newsFile = local / "app.wdn";

  void Configure(TTestDirect& d) {
    d.SetHost(u"127.0.0.1");
    d.SetPort(static_cast<Word>(nginx.Port()));
    d.SetRemoteFileName(u"/news.wdn");
    d.SetNewsFile(newsFile);
    d.Proxy()->SetUseProxy(false);
  }
};

class ProxylessEnv : public ::testing::Test {
 protected:
  // The component refreshes the proxy from the environment on every run; loopback only here.
  void SetUp() override {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "ftp_proxy", "FTP_PROXY"}) unsetenv(v);
  }
};

using WebDirect = ProxylessEnv;

TEST_F(WebDirect, FirstRunThenUnchangedThenOneAddedEntry) {
  NewsSite site;
  auto* ui = new ScriptedBackend;
  TBackendScope scope{std::unique_ptr<UiBackend>(ui)};

  TTestDirect direct(nullptr);
  site.Configure(direct);
  EXPECT_EQ(direct.ShowMode(), omAlways);
  EXPECT_EQ(direct.Title(), u"Ardenfold WebDirect");

  // First run: no copy, no backup; everything downloaded and new.
  ASSERT_TRUE(direct.Execute());
  EXPECT_EQ(direct.Status(), isFinished);
  EXPECT_EQ(ReadFileBytes(site.newsFile), kNews);
  EXPECT_FALSE(FileExists(direct.BackupFileName()));
  ASSERT_EQ(ui->Forms().size(), 1u);
  EXPECT_EQ(ui->Forms()[0].Caption, u"Ardenfold WebDirect");
  ASSERT_NE(direct.Tree(), nullptr);
  EXPECT_EQ(Entries(direct.Tree()), (std::vector<std::string>{"*Releases/Version 3.0 is out", "*Releases/Version 2.9",
                                                              "*Tips/Using a proxy"}));
  TTreeNodes* items = direct.Tree()->Items();
  ASSERT_EQ(items->Count(), 5);
  TTreeNode* releases = items->GetFirstNode();
  EXPECT_EQ(releases->ImageIndex(), 0);
  EXPECT_FALSE(releases->Bold());
  EXPECT_EQ(releases->Data(), nullptr);
  EXPECT_TRUE(releases->Expanded());
  EXPECT_EQ(direct.Tree()->Selected(), releases);
  TTreeNode* second = releases->Item(1);
  EXPECT_EQ(second->ImageIndex(), 1);
  EXPECT_EQ(second->SelectedIndex(), 1);
  EXPECT_EQ(second->State() & (TVIS_BOLD | TVIS_CUT), TVIS_BOLD);
  auto* data = dynamic_cast<TKtINodeData*>(second->Data());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->Url, u"https://example.org/2.9");
  EXPECT_TRUE(direct.Tree()->ReadOnly());
  EXPECT_TRUE(direct.Tree()->HotTrack());
  EXPECT_EQ(direct.Tree()->Images(), direct.ImageList());
  // The modal dialog has closed and frees itself at the next pump.
  Application->ProcessMessages();
  EXPECT_EQ(direct.Form(), nullptr);
  EXPECT_EQ(direct.Tree(), nullptr);
  EXPECT_EQ(direct.ImageList(), nullptr);

  // Unchanged: the copy became the backup, nothing downloaded, nothing bold.
  ASSERT_TRUE(direct.Execute());
  EXPECT_EQ(direct.Status(), isSkipped);
  EXPECT_EQ(ReadFileBytes(UTF8Encode(direct.BackupFileName())), kNews);
  ASSERT_NE(direct.Tree(), nullptr);
  EXPECT_EQ(Entries(direct.Tree()), (std::vector<std::string>{"Releases/Version 3.0 is out", "Releases/Version 2.9",
                                                              "Tips/Using a proxy"}));
  EXPECT_EQ(direct.Tree()->Items()->Item(1)->ImageIndex(), 0);
  Application->ProcessMessages();

  // If-changed with nothing changed shows nothing.
  direct.SetShowMode(omIfChanged);
  const size_t shown = ui->Forms().size();
  ASSERT_TRUE(direct.Execute());
  EXPECT_EQ(direct.Status(), isSkipped);
  EXPECT_EQ(ui->Forms().size(), shown);
  EXPECT_EQ(direct.Form(), nullptr);

  // One entry added to an existing section: only it is new.
  std::string added = kNews;
  added.insert(added.find("[Tips]"), "https://example.org/3.1=Version 3.1 fixes\r\n");
  Replace(site.nginx.Root() + "/news.wdn", added, 60);
  ASSERT_TRUE(direct.Execute());
  EXPECT_EQ(direct.Status(), isFinished);
  EXPECT_EQ(ui->Forms().size(), shown + 1);
  ASSERT_NE(direct.Tree(), nullptr);
  EXPECT_EQ(Entries(direct.Tree()),
            (std::vector<std::string>{"Releases/Version 3.0 is out", "Releases/Version 2.9",
                                      "*Releases/Version 3.1 fixes", "Tips/Using a proxy"}));
  Application->ProcessMessages();

  // Never: changed or not, no dialog.
  direct.SetShowMode(omNever);
  Replace(site.nginx.Root() + "/news.wdn", kNews, 120);
  ASSERT_TRUE(direct.Execute());
  EXPECT_EQ(direct.Status(), isFinished);
  EXPECT_EQ(ui->Forms().size(), shown + 1);
  EXPECT_EQ(direct.Form(), nullptr);
}

TEST_F(WebDirect, FailedDownloadStillShowsThePreviousCopy) {
  TempDir local;
  auto* ui = new ScriptedBackend;
  TBackendScope scope{std::unique_ptr<UiBackend>(ui)};
  TTestDirect direct(nullptr);
  direct.SetNewsFile(local / "app.wdn");
  local.Write("app.wdn", kNews);
  direct.SetService(isHTTP);
  direct.SetHost(u"127.0.0.1");
  direct.SetPort(1);  // nothing listens there
  direct.SetRemoteFileName(u"/news.wdn");
  direct.Proxy()->SetUseProxy(false);
  EXPECT_FALSE(direct.Execute());
  EXPECT_EQ(direct.Status(), isFailed);
  ASSERT_NE(direct.Tree(), nullptr);
  // The backup was taken from the copy, so the copy shows as seen.
  EXPECT_EQ(Entries(direct.Tree()).size(), 3u);
  EXPECT_EQ(Entries(direct.Tree())[0], "Releases/Version 3.0 is out");
  EXPECT_EQ(ReadFileBytes(local / "app.wdn"), kNews);
}

TEST(WebDirectRule, NewMeansMissingOrEmptyInTheBackupsSameSection) {
  TempDir dir;
  TTestDirect direct(nullptr);
  direct.SetNewsFile(dir / "app.wdn");
  dir.Write("app.wdn",
            "[A]\nhttp://x/1=One\nHTTP://X/2=Two\nhttp://x/3=Three\n[B]\nhttp://x/moved=Moved here\nhttp://x/4=Four\n");
  dir.Write("app.~wdn",
            "[a]\nhttp://x/1=One (older caption)\nhttp://x/2=Two\nhttp://x/3=\nhttp://x/moved=Was here\n[B]\n"
            "http://x/4=Four\n");
  direct.Show();
  ASSERT_NE(direct.Tree(), nullptr);
  // Sections and keys compare case-insensitively; a changed caption is not news, an empty value
  // and an entry from another section are.
  EXPECT_EQ(Entries(direct.Tree()),
            (std::vector<std::string>{"A/One", "A/Two", "*A/Three", "*B/Moved here", "B/Four"}));

  // Without a backup everything is new; without a news file the tree is empty but shown.
  DeleteFile(UTF8ToString(dir / "app.~wdn"));
  direct.Show();
  EXPECT_EQ(Entries(direct.Tree()), (std::vector<std::string>{"*A/One", "*A/Two", "*A/Three", "*B/Moved here", "*B/Four"}));
  DeleteFile(UTF8ToString(dir / "app.wdn"));
  direct.Show();
  ASSERT_NE(direct.Form(), nullptr);
  EXPECT_TRUE(direct.Form()->Visible());
  EXPECT_EQ(direct.Tree()->Items()->Count(), 0);
  EXPECT_EQ(direct.Tree()->Selected(), nullptr);
}

TEST(WebDirectDialog, OneDialogAtATimeEmbeddingAndRelease) {
  TempDir dir;
  auto* ui = new ScriptedBackend;
  TBackendScope scope{std::unique_ptr<UiBackend>(ui)};
  dir.Write("app.wdn", kNews);
  TTestDirect direct(nullptr);
  direct.SetNewsFile(dir / "app.wdn");
  direct.SetTitle(u"Company news");

  // Modeless: the dialog stays; a second Show closes the first before building anew.
  direct.Show();
  TForm* first = direct.Form();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Caption(), u"Company news");
  EXPECT_EQ(first->Width(), 460);
  EXPECT_EQ(first->Height(), 320);
  EXPECT_EQ(first->Position(), poScreenCenter);
  EXPECT_EQ(first->BorderStyle(), bsSizeable);
  ASSERT_EQ(direct.ImageList()->Count(), 2);
  direct.Show();
  EXPECT_EQ(direct.ComponentCount(), 1);  // only the new dialog is left
  ASSERT_NE(direct.Form(), nullptr);
  EXPECT_EQ(direct.Tree()->Items()->Count(), 5);

  // Closed by the person: freed at the next pump, references cleared.
  direct.Form()->Close();
  EXPECT_NE(direct.Form(), nullptr);
  Application->ProcessMessages();
  EXPECT_EQ(direct.Form(), nullptr);
  EXPECT_EQ(direct.Tree(), nullptr);

  // Embedded: ShowModal returns at once, the dialog fills the parent.
  auto* host = new TForm(nullptr);
  host->SetBounds(0, 0, 300, 200);
  direct.SetParentControl(host);
  direct.ShowModal();
  EXPECT_TRUE(ui->Forms().empty());
  ASSERT_NE(direct.Form(), nullptr);
  EXPECT_EQ(direct.Form()->Parent(), host);
  EXPECT_EQ(direct.Form()->Align(), alClient);
  EXPECT_EQ(direct.Form()->BorderStyle(), bsNone);
  EXPECT_EQ(direct.Form()->WindowState(), wsMaximized);
  EXPECT_EQ(direct.Form()->Width(), 300);
  EXPECT_TRUE(direct.Form()->Visible());
  // The parent going takes the embedded tree with it; the component forgets both.
  delete host;
  EXPECT_EQ(direct.Form(), nullptr);
  EXPECT_EQ(direct.ParentControl(), nullptr);
  EXPECT_EQ(direct.ComponentCount(), 0);

  // A dialog still open when the component goes is freed with it (ASan checks the node data).
  auto* owned = new TTestDirect(nullptr);
  owned->SetNewsFile(dir / "app.wdn");
  owned->Show();
  delete owned;
}

TEST(WebDirectDialog, ModelessOnTheTerminalBackendPrintsTheTreeOnce) {
  TempDir dir;
  dir.Write("app.wdn", kNews);
  dir.Write("app.~wdn", "[Releases]\nhttps://example.org/3.0=Version 3.0 is out\n");
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  {
    TBackendScope scope{std::make_unique<TerminalBackend>(in[0], out[1])};
    TTestDirect direct(nullptr);
    direct.SetNewsFile(dir / "app.wdn");
    direct.Show();  // returns at once: nothing is read from the input
    ASSERT_NE(direct.Form(), nullptr);
  }
  close(out[1]);
  std::string shown;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) shown.append(buf, static_cast<size_t>(n));
  close(out[0]);
  close(in[0]);
  close(in[1]);
  EXPECT_EQ(shown,
            "Ardenfold WebDirect\n> Releases\n      Version 3.0 is out\n    * Version 2.9\n  Tips\n    * Using a proxy\n");
}

TEST(WebDirectImages, TwoBallsOfSixteenPixelsWithWhiteAround) {
  TBitmap oldBall, newBall;
  oldBall.LoadFromBytes(NewsImageBitmap(u"DIRECT_OLD"));
  newBall.LoadFromBytes(NewsImageBitmap(u"DIRECT_NEW"));
  EXPECT_EQ(oldBall.Width(), 16);
  EXPECT_EQ(oldBall.Height(), 16);
  EXPECT_EQ(newBall.Width(), 16);
  EXPECT_NE(oldBall.Data(), newBall.Data());
  // 24-bit rows bottom-up from offset 54: the corner pixel is white, the centre is not.
  const std::string& bits = oldBall.Data();
  ASSERT_GE(bits.size(), 54u + 16 * 16 * 3);
  EXPECT_EQ(bits.substr(54, 3), std::string("\xFF\xFF\xFF", 3));
  EXPECT_NE(bits.substr(54 + (8 * 16 + 8) * 3, 3), std::string("\xFF\xFF\xFF", 3));
  EXPECT_THROW(NewsImageBitmap(u"DIRECT_OTHER"), Exception);
}

TEST(WebDirectFile, BesideTheExecutableOrInTheUsersDataDirectory) {
  TempDir dir;
  EXPECT_EQ(TKtWebDirect::NewsFileFor(UTF8ToString(dir / "app.bin")), UTF8ToString(dir / "app.wdn"));
  EXPECT_EQ(TKtWebDirect::NewsFileFor(u"/usr/bin/app", true), u"/usr/bin/app.wdn");
  const char* oldXdg = std::getenv("XDG_DATA_HOME");
  const char* oldHome = std::getenv("HOME");
  std::string savedXdg = oldXdg ? oldXdg : "", savedHome = oldHome ? oldHome : "";
  setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  setenv("HOME", (dir / "home").c_str(), 1);
  EXPECT_EQ(TKtWebDirect::NewsFileFor(u"/usr/bin/app.bin", false), UTF8ToString(dir / "data/app/app.wdn"));
  // A relative data directory is not one: the home directory's default applies.
  setenv("XDG_DATA_HOME", "relative/data", 1);
  EXPECT_EQ(TKtWebDirect::NewsFileFor(u"/usr/bin/app", false), UTF8ToString(dir / "home/.local/share/app/app.wdn"));
  if (oldXdg) setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
  if (oldHome) setenv("HOME", savedHome.c_str(), 1);

  // Execute makes the folder the news file needs.
  TTestDirect direct(nullptr);
  direct.SetNewsFile(dir / "data/app/app.wdn");
  direct.SetShowMode(omNever);
  direct.SetService(isNetwork);
  direct.SetRemoteFileName(UTF8ToString(dir.Write("served.wdn", kNews)));
  EXPECT_TRUE(direct.Execute());
  EXPECT_EQ(direct.Status(), isFinished);
  EXPECT_EQ(ReadFileBytes(dir / "data/app/app.wdn"), kNews);
}

// ---- opening links ----------------------------------------------------------------------------

// Puts a recording xdg-open first on PATH for the lifetime of the object.
class OpenerRecorder {
 public:
  OpenerRecorder() {
    FLog = FDir / "opened.log";
    FDir.Write("xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + FLog + "'\n");
    chmod((FDir / "xdg-open").c_str(), 0755);
    const char* path = std::getenv("PATH");
    FSavedPath = path ? path : "";
    setenv("PATH", (FDir.Path() + ":" + FSavedPath).c_str(), 1);
  }
  ~OpenerRecorder() { setenv("PATH", FSavedPath.c_str(), 1); }
  // What was opened, once `lines` lines are there (bounded wait).
  std::string WaitFor(int lines) const {
    std::string log;
    for (int i = 0; i < 200; ++i) {
      log = ReadFileBytes(FLog);
      if (std::count(log.begin(), log.end(), '\n') >= lines) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return log;
  }
  const std::string& Dir() const { return FDir.Path(); }

 private:
  TempDir FDir;
  std::string FLog;
  std::string FSavedPath;
};

TEST(WebDirectClick, EntriesOpenTheirLinkHeadingsNothing) {
  OpenerRecorder opener;
  TempDir dir;
  dir.Write("app.wdn", "[News]\nhttps://example.org/a?x=1&y=$(id)=Odd link\n-v=Option-looking link\n");
  TTestDirect direct(nullptr);
  direct.SetNewsFile(dir / "app.wdn");
  direct.Show();
  TTreeView* tree = direct.Tree();
  ASSERT_NE(tree, nullptr);
  ASSERT_EQ(tree->Items()->Count(), 3);
  tree->ClickNode(tree->Items()->Item(0));  // the heading
  tree->ClickNode(tree->Items()->Item(2));  // refused: would be an option of the opener
  tree->ClickNode(tree->Items()->Item(1));
  EXPECT_EQ(tree->Selected(), tree->Items()->Item(1));
  // The key ends at the first '='; the rest of the line is the caption. The link reaches the
  // opener as one argument, untouched by any shell.
  EXPECT_EQ(opener.WaitFor(1), "https://example.org/a?x\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(ReadFileBytes(opener.Dir() + "/opened.log"), "https://example.org/a?x\n");

  EXPECT_GT(ShellExecuteW(nullptr, u"open", u"https://example.org/$(id)", u"", u"", SW_SHOWNORMAL), 32);
  EXPECT_EQ(opener.WaitFor(2), "https://example.org/a?x\nhttps://example.org/$(id)\n");
  EXPECT_EQ(ShellExecuteW(nullptr, u"print", u"https://example.org/", u"", u"", SW_SHOWNORMAL), 2);
}

TEST(WebDirectClick, OnlyBrowserSchemesReachTheOpener) {
  OpenerRecorder opener;
  auto* ui = new ScriptedBackend;
  TBackendScope scope{std::unique_ptr<UiBackend>(ui)};
  TempDir dir;
  dir.Write("app.wdn",
            "[News]\n"
            "file:///etc/shadow=Local file\n"
            "/etc/passwd=Bare path\n"
            "../../bin/sh=Relative path\n"
            "javascript:alert(1)=Script\n"
            "smb://host/share=Share\n"
            "x\x1b]2;owned\x07:y=Escape in the scheme\n"
            "HTTPS://example.org/upper=Upper case\n"
            "ftp://ftp.example.org/pub/=Files\n"
            "mailto:news@example.org=Write to us\n"
            "http://example.org/plain=Plain\n");
  TTestDirect direct(nullptr);
  direct.SetNewsFile(dir / "app.wdn");
  direct.Show();
  TTreeView* tree = direct.Tree();
  ASSERT_NE(tree, nullptr);
  TTreeNode* group = tree->Items()->GetFirstNode();
  ASSERT_EQ(group->Count(), 10);
  for (int i = 0; i < group->Count(); ++i) tree->ClickNode(group->Item(i));

  // The openers run detached, so they may log in any order.
  std::vector<std::string> opened;
  std::istringstream lines(opener.WaitFor(4));
  for (std::string line; std::getline(lines, line);) opened.push_back(line);
  std::sort(opened.begin(), opened.end());
  EXPECT_EQ(opened, (std::vector<std::string>{"HTTPS://example.org/upper", "ftp://ftp.example.org/pub/",
                                              "http://example.org/plain", "mailto:news@example.org"}));
  // Each refusal is a warning naming the link, control characters made harmless.
  ASSERT_EQ(ui->Messages().size(), 6u);
  const String first = ui->Messages()[0].Request.Text;
  EXPECT_NE(first.find(u"\"file:///etc/shadow\" was not opened"), String::npos) << UTF8Encode(first);
  EXPECT_NE(ui->Messages()[1].Request.Text.find(u"\"/etc/passwd\""), String::npos);
  const String escaped = ui->Messages()[5].Request.Text;
  EXPECT_EQ(escaped.find(u'\x1b'), String::npos);
  EXPECT_NE(escaped.find(u"x?]2;owned?:y"), String::npos) << UTF8Encode(escaped);
  for (const TShownMessage& m : ui->Messages()) EXPECT_EQ(m.Request.DlgType, mtWarning);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string log = ReadFileBytes(opener.Dir() + "/opened.log");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;
}

}  // namespace
}  // namespace ktinet
