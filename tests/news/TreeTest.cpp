// The tree view stand-in, its terminal presentation under a real terminal (tmux), and the
// program's printed tree.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "rtl/SysUtils.h"
#include "support/NginxServer.h"
#include "support/RunTool.h"
#include "support/TempDir.h"
#include "support/Tmux.h"
#include "vcl/TerminalTree.h"
#include "vcl/TreeView.h"

namespace ktinet {
namespace {

using test::Tmux;

using test::NginxServer;
using test::ReadFileBytes;
using test::TempDir;

TEST(TreeView, OrderSelectionStateAndDeletion) {
  TTreeView tree(nullptr);
  TTreeNodes* items = tree.Items();
  TTreeNode* a = items->AddChild(nullptr, u"A");
  TTreeNode* a1 = items->AddChild(a, u"a1");
  TTreeNode* a2 = items->AddChild(a, u"a2");
  TTreeNode* b = items->Add(a, u"B");
  TTreeNode* b1 = items->AddChild(b, u"b1");
  ASSERT_EQ(items->Count(), 5);
  EXPECT_EQ(items->Item(0), a);
  EXPECT_EQ(items->Item(2), a2);
  EXPECT_EQ(items->Item(4), b1);
  EXPECT_THROW(items->Item(5), EListError);
  EXPECT_EQ(a2->GetNext(), b);
  EXPECT_EQ(b->GetPrev(), a2);
  EXPECT_EQ(b1->AbsoluteIndex(), 4);
  EXPECT_EQ(b1->Level(), 1);
  EXPECT_EQ(a->GetPrev(), nullptr);

  // Collapsed nodes hide their children until expanded.
  EXPECT_EQ(tree.VisibleNodes().size(), 2u);
  tree.FullExpand();
  EXPECT_EQ(tree.VisibleNodes().size(), 5u);

  // The state message changes only the masked bits.
  tree.SetItemState(a1, TVIS_BOLD | TVIS_CUT, TVIS_BOLD);
  EXPECT_EQ(a1->State(), TVIS_BOLD);
  EXPECT_TRUE(a1->Bold());
  tree.SetItemState(a1, 0, TVIS_CUT);
  EXPECT_TRUE(a1->Bold());
  a1->SetBold(false);
  EXPECT_EQ(a1->State(), 0u);

  // A click selects, then fires OnClick once; the change event fires on a real move only.
  int clicks = 0, changes = 0;
  tree.OnClick = [&](TObject*) { ++clicks; };
  tree.OnChange = [&](TObject*, TTreeNode*) { ++changes; };
  tree.ClickNode(b1);
  tree.ClickNode(b1);
  EXPECT_EQ(tree.Selected(), b1);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(changes, 1);

  // Deleting a subtree drops the selection inside it and the count with it.
  items->Delete(b);
  EXPECT_EQ(items->Count(), 3);
  EXPECT_EQ(tree.Selected(), nullptr);
  EXPECT_EQ(a2->GetNext(), nullptr);

  // Deleting a middle sibling moves the later ones up: positions and neighbours follow.
  TTreeNode* a3 = items->AddChild(a, u"a3");
  TTreeNode* a4 = items->AddChild(a, u"a4");
  items->Delete(a2);
  EXPECT_EQ(a3->Index(), 1);
  EXPECT_EQ(a4->Index(), 2);
  EXPECT_EQ(a1->GetNextSibling(), a3);
  EXPECT_EQ(a3->GetPrev(), a1);
  EXPECT_EQ(a4->GetNextSibling(), nullptr);
  EXPECT_EQ(a4->AbsoluteIndex(), 3);
  EXPECT_EQ(items->Item(3), a4);

  // An image list freed first leaves no dangling reference.
  auto* images = new TImageList(nullptr);
  tree.SetImages(images);
  delete images;
  EXPECT_EQ(tree.Images(), nullptr);
}

TEST(TerminalTree, LinesShowLevelsMarkersAndTheSelection) {
  TTreeView tree(nullptr);
  TTreeNode* g = tree.Items()->AddChild(nullptr, u"Releases");
  TTreeNode* fresh = tree.Items()->AddChild(g, u"Version 3.1\tfixes");
  tree.Items()->AddChild(g, u"Version 3.0 with a caption far too long for the narrow terminal");
  fresh->SetBold(true);
  tree.FullExpand();
  tree.SetSelected(fresh);
  TTreeStyle plain;
  plain.Columns = 40;
  auto lines = RenderTree(tree, plain);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "  Releases");
  EXPECT_EQ(lines[1], ">   * Version 3.1 fixes");
  EXPECT_EQ(lines[2].substr(0, 16), "      Version 3.");
  EXPECT_LE(UTF8ToString(lines[2]).size(), 39u);  // cut before the last column

  TTreeStyle styled = plain;
  styled.Styled = true;
  lines = RenderTree(tree, styled, 1, 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "\x1b[7m>   * \x1b[1mVersion 3.1 fixes\x1b[22m\x1b[27m");
}

// ---- the program -------------------------------------------------------------------------------

std::string Shell(const std::string& cmd, int* status = nullptr) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  int st = pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

const std::string kNews =
    "[Releases]\r\nhttps://example.org/3.0=Version 3.0\r\nhttps://example.org/2.9=Version 2.9\r\n"
    "[Tips]\r\nhttps://example.org/tips=A \"quoted\" tip\r\n";

void ServeNewer(const NginxServer& nginx, const std::string& bytes) {
  const std::string path = nginx.Root() + "/news.wdn";
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  timeval t[2] = {{st.st_mtime + 60, 0}, {st.st_mtime + 60, 0}};
  ASSERT_EQ(utimes(path.c_str(), t), 0);
}

// The program copied into a directory of its own, so its news file (beside it) starts afresh.
struct ProgramCopy {
  TempDir dir;
  std::string tool = dir / "ktinet";
  ProgramCopy() {
    EXPECT_EQ(system(("cp " + Quote(KTINET_TOOL) + " " + Quote(tool)).c_str()), 0);
  }
};

NginxServer::Options NewsOptions() {
  NginxServer::Options o;
  o.files = {{"news.wdn", kNews}};
  return o;
}

TEST(NewsProgram, PrintsTheTreeAndJsonWithTheNewEntries) {
  NginxServer nginx(NewsOptions());
  ProgramCopy program;
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/news.wdn";
  const std::string state = program.dir / "state";
  const std::string newsFile = state + "/ktinet/ktinet.wdn";
  const std::string env = "env -u http_proxy -u HTTP_PROXY KTINET_UI=headless XDG_STATE_HOME=" + Quote(state) + " ";
  int status = -1;
  std::string out = Shell(env + Quote(program.tool) + " news " + Quote(url) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "Releases\n  * Version 3.0 <https://example.org/3.0>\n  * Version 2.9 <https://example.org/2.9>\n"
            "Tips\n  * A \"quoted\" tip <https://example.org/tips>\n");
  EXPECT_EQ(ReadFileBytes(newsFile), kNews);

  std::string added = kNews;
  added.insert(added.find("[Tips]"), "https://example.org/3.1=Version 3.1\r\n");
  ServeNewer(nginx, added);
  out = Shell(env + Quote(program.tool) + " news --json " + Quote(url) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "{\"file\": \"" + newsFile + "\", \"status\": \"finished\", \"groups\": ["
                 "{\"caption\": \"Releases\", \"entries\": ["
                 "{\"caption\": \"Version 3.0\", \"link\": \"https://example.org/3.0\", \"new\": false}, "
                 "{\"caption\": \"Version 2.9\", \"link\": \"https://example.org/2.9\", \"new\": false}, "
                 "{\"caption\": \"Version 3.1\", \"link\": \"https://example.org/3.1\", \"new\": true}]}, "
                 "{\"caption\": \"Tips\", \"entries\": ["
                 "{\"caption\": \"A \\\"quoted\\\" tip\", \"link\": \"https://example.org/tips\", \"new\": false}]}]}\n");

  // The backup still holds the copy before 3.1 came, so 3.1 is still the news.
  out = Shell(env + Quote(program.tool) + " news --file " + Quote(newsFile) + " 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("\n  * Version 3.1 <https://example.org/3.1>\n"), std::string::npos) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '*'), 1) << out;
  // Nothing changed: if-changed prints nothing (and the backup now equals the copy).
  out = Shell(env + Quote(program.tool) + " news --show if-changed " + Quote(url) + " 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "");
  // A bad mode is bad usage.
  Shell(env + Quote(program.tool) + " news --show sometimes " + Quote(url) + " 2>&1", &status);
  EXPECT_EQ(status, 2);
  // Nothing was ever written beside the program.
  EXPECT_FALSE(FileExists(UTF8ToString(program.dir / "ktinet.wdn")));
  EXPECT_FALSE(FileExists(UTF8ToString(program.dir / "ktinet.~wdn")));
}

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    FSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~EnvGuard() {
    for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it) {
      if (it->second) setenv(it->first.c_str(), it->second->c_str(), 1);
      else unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

// The state folder: XDG_STATE_HOME when it is absolute, else ~/.local/state; made private.
TEST(NewsProgram, KeepsItsNewsFileInTheUsersStateFolder) {
  NginxServer nginx(NewsOptions());
  TempDir home;
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/news.wdn";
  EnvGuard env;
  env.Set("HOME", home.Path().c_str());
  env.Set("XDG_STATE_HOME", nullptr);
  test::ToolOutcome run = test::RunTool("news " + Quote(url));
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string byHome = home / ".local/state/ktinet/ktinet.wdn";
  EXPECT_EQ(ReadFileBytes(byHome), kNews);
  struct stat st {};
  ASSERT_EQ(stat((home / ".local/state/ktinet").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A relative XDG_STATE_HOME is no state folder: the home folder's default stays.
  env.Set("XDG_STATE_HOME", "relative/state");
  run = test::RunTool("news --json " + Quote(url));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"file\": \"" + byHome + "\""), std::string::npos) << run.out;

  env.Set("XDG_STATE_HOME", (home / "xdg").c_str());
  run = test::RunTool("news --json " + Quote(url));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(home / "xdg/ktinet/ktinet.wdn"), kNews);
  EXPECT_NE(run.out.find("\"file\": \"" + home / "xdg/ktinet/ktinet.wdn" + "\""), std::string::npos) << run.out;

  // A state folder that cannot be made is a failure that says so.
  home.Write("blocked", "a file where the folder should be");
  env.Set("XDG_STATE_HOME", (home / "blocked").c_str());
  run = test::RunTool("news " + Quote(url));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("blocked/ktinet"), std::string::npos) << run.err;
}

// ---- a real terminal ---------------------------------------------------------------------------


std::string WaitForFile(const std::string& path, const std::string& text) {
  std::string bytes;
  for (int i = 0; i < 250; ++i) {
    bytes = ReadFileBytes(path);
    if (bytes.find(text) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return bytes;
}

TEST(NewsOnATerminal, ArrowsAndEnterOpenTheLinkQCloses) {
  ASSERT_EQ(system("command -v tmux >/dev/null 2>&1"), 0) << "tmux is needed for this test (scripts/install-deps)";
  NginxServer nginx(NewsOptions());
  ProgramCopy program;
  // The opener is a recorder found first on PATH.
  TempDir bin;
  const std::string log = bin / "opened.log";
  bin.Write("xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " + Quote(log) + "\n");
  chmod((bin / "xdg-open").c_str(), 0755);
  // A first run with one entry less, so the second run shows exactly one new entry.
  std::string older = kNews;
  older.erase(older.find("https://example.org/2.9"), std::string("https://example.org/2.9=Version 2.9\r\n").size());
  program.dir.Write("state/ktinet/ktinet.wdn", older);
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/news.wdn";
  Tmux t("env -u http_proxy -u HTTP_PROXY KTINET_UI=terminal XDG_STATE_HOME=" + Quote(program.dir / "state") +
         " PATH=" + Quote(bin.Path()) + ":\"$PATH\" sh -c " +
         Quote("before=$(stty -g); " + Quote(program.tool) + " news " + Quote(url) +
               "; code=$?; [ \"$before\" = \"$(stty -g)\" ] && echo TTY-RESTORED; echo EXIT=$code; sleep 60"));
  std::string screen = t.WaitFor("q closes");
  EXPECT_NE(screen.find("> Releases"), std::string::npos) << screen;
  EXPECT_NE(screen.find("    * Version 2.9"), std::string::npos) << screen;
  EXPECT_NE(screen.find("      Version 3.0"), std::string::npos) << screen;
  // Only the new entry is bold.
  std::string raw = t.Screen(true);
  EXPECT_NE(raw.find("\x1b[1mVersion 2.9"), std::string::npos) << raw;
  EXPECT_EQ(raw.find("\x1b[1mVersion 3.0"), std::string::npos) << raw;

  t.Keys("Enter");  // on the heading: nothing opens
  t.Keys("Down");
  t.WaitFor(">     Version 3.0");
  t.Keys("j");
  t.WaitFor(">   * Version 2.9");
  t.Keys("j j k Enter");  // Tips, its tip, back to Tips: a heading again
  t.Keys("Up Enter");
  EXPECT_EQ(WaitForFile(log, "\n"), "https://example.org/2.9\n");
  t.Keys("q");
  screen = t.WaitFor("EXIT=");
  EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
  EXPECT_NE(screen.find("TTY-RESTORED"), std::string::npos) << screen;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(ReadFileBytes(log), "https://example.org/2.9\n");
}

// A local file is navigable like a downloaded one; a link to this machine is refused there too.
TEST(NewsOnATerminal, LocalFileIsNavigableAndRefusesLocalLinks) {
  ASSERT_EQ(system("command -v tmux >/dev/null 2>&1"), 0) << "tmux is needed for this test (scripts/install-deps)";
  TempDir dir, bin;
  const std::string log = bin / "opened.log";
  bin.Write("xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " + Quote(log) + "\n");
  chmod((bin / "xdg-open").c_str(), 0755);
  dir.Write("local.wdn", "[Local]\nfile:///etc/shadow=Shadow file\nhttps://example.org/ok=Fine link\n");
  dir.Write("local.~wdn", "[Local]\nfile:///etc/shadow=Shadow file\n");
  Tmux t("env KTINET_UI=terminal PATH=" + Quote(bin.Path()) + ":\"$PATH\" sh -c " +
         Quote(Quote(KTINET_TOOL) + " news --file " + Quote(dir / "local.wdn") + "; echo EXIT=$?; sleep 60"));
  std::string screen = t.WaitFor("q closes");
  EXPECT_NE(screen.find("> Local"), std::string::npos) << screen;
  EXPECT_NE(screen.find("    * Fine link"), std::string::npos) << screen;
  t.Keys("Down Enter");  // the file: link
  screen = t.WaitFor("was not opened");
  EXPECT_NE(screen.find("file:///etc/shadow"), std::string::npos) << screen;
  t.Keys("Enter");  // dismisses the warning
  t.WaitFor("q closes");
  t.Keys("Down");
  t.WaitFor(">   * Fine link");
  t.Keys("Enter");
  EXPECT_EQ(WaitForFile(log, "\n"), "https://example.org/ok\n");
  t.Keys("q");
  screen = t.WaitFor("EXIT=");
  EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(ReadFileBytes(log), "https://example.org/ok\n");
}

}  // namespace
}  // namespace ktinet
