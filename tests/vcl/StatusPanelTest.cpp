// The status window on a terminal: the panel's layout, keys read during the pump,
// and once for real under tmux through `ktinet status-demo`.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "core/KtInCnst.h"
#include "transfer/KtInStat.h"
#include "vcl/TerminalBackend.h"
#include "vcl/TerminalPanel.h"
#include "support/Tmux.h"

namespace ktinet {
namespace {

using test::Tmux;

size_t Columns(const std::string& line) {
  size_t n = 0;
  for (unsigned char c : line) n += (c & 0xC0) != 0x80;
  return n;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

const std::string* LineWith(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& l : lines)
    if (l.find(text) != std::string::npos) return &l;
  return nullptr;
}

// What stands left of `label` on its line (spaces trimmed): the step's marker.
std::string MarkerOf(const std::string& text, const std::string& label) {
  size_t at = text.find(label);
  if (at == std::string::npos) return "<no " + label + ">";
  size_t lineStart = text.rfind('\n', at);
  lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
  std::string before = text.substr(lineStart, at - lineStart);
  while (!before.empty() && before.back() == ' ') before.pop_back();
  size_t space = before.rfind(' ');
  return space == std::string::npos ? before : before.substr(space + 1);
}

void ShowStep(TfrmKtInetUpdate& w, TImage* marker, int image) {
  marker->Picture()->Assign(nullptr);
  w.imgStatus->GetBitmap(image, marker->Picture()->Bitmap());
}

TEST(StatusPanel, LaysTheWindowOutAsLinesOfText) {
  TBackendScope headless(std::make_unique<HeadlessBackend>(nullptr));
  TfrmKtInetUpdate w(nullptr);
  w.lblCaption->SetCaption(u"Price list updater");
  w.lblDescription->SetCaption(u"Fetches the newest price list from the company server every morning and "
                               u"keeps the previous copy when anything goes wrong on the way");
  w.lblRemoteFileName->SetCaption(u"127.0.0.1/files/prices.csv");
  w.lblLocalFileName->SetCaption(u"/home/anna/prices.csv");
  ShowStep(w, w.imgStep1, siConnected);
  ShowStep(w, w.imgStep2, siCompared);
  ShowStep(w, w.imgStep3, siStepUnderWay);
  w.lblStatus->SetCaption(u"Downloaded 500 of 1000 bytes (50%)");
  w.pbStatus->SetRange(0, 1000);
  w.pbStatus->SetPosition(500);

  std::vector<std::string> lines = RenderPanel(w, {80, true, false});
  std::string all = Joined(lines);
  EXPECT_EQ(lines[0], "Software update") << all;
  EXPECT_NE(LineWith(lines, "Price list updater"), nullptr) << all;
  for (const auto& l : lines) EXPECT_LT(Columns(l), 80u) << l;

  // The description wraps into the label's two lines and says where it was cut.
  const std::string* d1 = LineWith(lines, "Fetches the newest");
  ASSERT_NE(d1, nullptr) << all;
  const std::string& d2 = *(d1 + 1);
  EXPECT_NE(d2.find("\u2026"), std::string::npos) << all;
  EXPECT_EQ(all.find("on the way"), std::string::npos) << all;

  // The captions are right-aligned to one edge, the names start in one column; remote above local.
  const std::string* remote = LineWith(lines, "Remote file:");
  const std::string* local = LineWith(lines, "Local file:");
  ASSERT_NE(remote, nullptr) << all;
  ASSERT_NE(local, nullptr) << all;
  EXPECT_EQ(local, remote + 1);
  EXPECT_EQ(remote->find("Remote file:") + 1, local->find("Local file:")) << all;
  ASSERT_NE(remote->find("127.0.0.1/files/prices.csv"), std::string::npos) << all;
  EXPECT_EQ(remote->find("127.0.0.1/files/prices.csv"), local->find("/home/anna/prices.csv")) << all;
  EXPECT_LT(remote->find("Remote file:") + 12, remote->find("127.0.0.1")) << all;

  // Markers stand left of their steps: done, done, under way, nothing yet; the steps in one column.
  EXPECT_EQ(MarkerOf(all, "Step 1: Connection/Logon"), "\u2713") << all;
  EXPECT_EQ(MarkerOf(all, "Step 2: File search"), "\u2713") << all;
  EXPECT_EQ(MarkerOf(all, "Step 3: Download"), "\u2192") << all;
  EXPECT_EQ(MarkerOf(all, "Step 4: Diconnect/Logoff"), "") << all;
  const std::string* s1 = LineWith(lines, "Step 1");
  ASSERT_NE(s1, nullptr);
  auto column = [](const std::string& line, const char* text) { return Columns(line.substr(0, line.find(text))); };
  EXPECT_EQ(column(s1[1], "Step 2"), column(*s1, "Step 1")) << all;
  EXPECT_EQ(column(s1[3], "Step 4"), column(*s1, "Step 1")) << all;

  // The bar is half full; the status line sits above it; Cancel names its keys.
  const std::string* status = LineWith(lines, "Downloaded 500 of 1000 bytes (50%)");
  ASSERT_NE(status, nullptr) << all;
  const std::string& bar = status[1];
  size_t full = 0, empty = 0;
  for (size_t at = 0; (at = bar.find("\u2588", at)) != std::string::npos; at += 3) ++full;
  for (size_t at = 0; (at = bar.find("\u2591", at)) != std::string::npos; at += 3) ++empty;
  EXPECT_GT(full, 20u) << bar;
  EXPECT_LE(full > empty ? full - empty : empty - full, 1u) << bar;
  EXPECT_NE(LineWith(lines, "[ Cancel ] (c or Esc)"), nullptr) << all;

  // ASCII stand-ins, a narrow terminal, hidden value labels and a long name cut short.
  w.lblRemoteFileName->SetVisible(false);
  w.lblLocalFileName->SetCaption(u"/very/long/path/" + String(200, u'x'));
  lines = RenderPanel(w, {50, false, false});
  all = Joined(lines);
  for (const auto& l : lines) {
    EXPECT_LT(Columns(l), 50u) << l;
    for (unsigned char c : l) EXPECT_LT(c, 0x80) << l;
  }
  EXPECT_EQ(MarkerOf(all, "Step 3"), ">") << all;
  EXPECT_EQ(MarkerOf(all, "Step 1"), "*") << all;
  EXPECT_NE(LineWith(lines, "[####"), nullptr) << all;
  ASSERT_NE(LineWith(lines, "/very/long/path/xxx"), nullptr) << all;
  EXPECT_NE(LineWith(lines, "/very/long/path/xxx")->find("Local file:"), std::string::npos) << all;
  EXPECT_EQ(LineWith(lines, "/very/long/path/xxx")->back(), '~') << all;
  EXPECT_EQ(LineWith(lines, "lblRemoteFileName"), nullptr) << all;

  // Bold comes as ANSI only when asked for.
  lines = RenderPanel(w, {80, true, true});
  EXPECT_EQ(lines[0], "\x1b[1mSoftware update\x1b[0m");
  EXPECT_NE(LineWith(lines, "\x1b[1mPrice list updater\x1b[0m"), nullptr) << Joined(lines);
}

// A terminal backend whose keys come from a pipe and whose output goes to one.
struct PipedTerminal {
  int in[2], out[2];
  std::unique_ptr<TBackendScope> scope;
  PipedTerminal() {
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe");
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    auto backend = std::make_unique<TerminalBackend>(in[0], out[1]);
    backend->SetPanelColumns(80);
    backend->SetPanelUtf8(true);
    scope = std::make_unique<TBackendScope>(std::move(backend));
  }
  ~PipedTerminal() {
    scope.reset();
    for (int fd : {in[0], in[1], out[0], out[1]})
      if (fd >= 0) close(fd);
  }
  void Type(const std::string& keys) { ASSERT_EQ(write(in[1], keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }
  void EndInput() {
    close(in[1]);
    in[1] = -1;
  }
  std::string Shown() {
    std::string s;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) s.append(buf, static_cast<size_t>(n));
    return s;
  }
};

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = s.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

TEST(StatusPanel, KeysDuringThePumpPressCancelAndNothingElse) {
  // Keys that must not cancel: other letters, arrows, the end of input.
  {
    PipedTerminal t;
    auto w = std::make_unique<TfrmKtInetUpdate>(nullptr);
    w->Show();
    t.Type("x\x1b[A\x1bOBq ");
    Application->ProcessMessages();
    EXPECT_FALSE(w->IsCanceled);
    t.EndInput();
    Application->ProcessMessages();
    Application->ProcessMessages();
    EXPECT_FALSE(w->IsCanceled);
  }
  // "c", "C" and a lone Esc press Cancel; the window stays shown.
  for (std::string key : {"c", "C", "\x1b"}) {
    PipedTerminal t;
    auto w = std::make_unique<TfrmKtInetUpdate>(nullptr);
    w->Show();
    Application->ProcessMessages();
    EXPECT_FALSE(w->IsCanceled) << key;
    t.Type(key);
    Application->ProcessMessages();
    EXPECT_TRUE(w->IsCanceled) << key;
    EXPECT_TRUE(w->Visible()) << key;
    t.Type(key);  // twice: the same
    Application->ProcessMessages();
    EXPECT_TRUE(w->IsCanceled) << key;
  }
  // Nothing is read from the input while no window is shown.
  {
    PipedTerminal t;
    t.Type("c");
    Application->ProcessMessages();
    auto w = std::make_unique<TfrmKtInetUpdate>(nullptr);
    w->Show();
    Application->ProcessMessages();
    EXPECT_TRUE(w->IsCanceled);  // the key waited for the window
  }
}

TEST(StatusPanel, OutputThatIsNoTerminalGetsThePanelWhenShownAndAsItEnded) {
  PipedTerminal t;
  auto w = std::make_unique<TfrmKtInetUpdate>(nullptr);
  w->lblStatus->SetCaption(strKtInConnecting);
  w->Show();
  for (int i = 1; i <= 50; ++i) {
    w->pbStatus->SetPosition(i * 2);
    w->lblStatus->SetCaption(u"Block " + IntToStr(i));
    Application->ProcessMessages();
  }
  w->lblStatus->SetCaption(strKtInDisconnected);
  w.reset();
  std::string shown = t.Shown();
  EXPECT_EQ(Count(shown, "Software update"), 2u) << shown;
  EXPECT_EQ(Count(shown, "Connecting..."), 1u) << shown;
  EXPECT_EQ(Count(shown, "Disconnected."), 1u) << shown;
  EXPECT_EQ(shown.find("Block 2"), std::string::npos) << shown;
  // Neither cursor movement nor styles go to something that is not a terminal.
  EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
}

// ---- a real terminal -------------------------------------------------------------------------

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}


TEST(StatusPanelOnATerminal, DrawsInPlaceAndCancelsWithC) {
  ASSERT_EQ(system("command -v tmux >/dev/null 2>&1"), 0) << "tmux is needed for this test (scripts/install-deps)";
  // Long enough (about ten seconds) that the download is still running when the key arrives.
  std::string script = "before=$(stty -g); " + Quote(KTINET_TOOL) +
                       " status-demo --size 20000000 --block-ms 1 --step-ms 50 --title 'Demo updater'"
                       " --remote 127.0.0.1/f.bin --local /tmp/f.bin; code=$?; "
                       "[ \"$before\" = \"$(stty -g)\" ] && echo TTY-RESTORED; echo EXIT=$code; sleep 60";
  Tmux t("env LANG=C.UTF-8 sh -c " + Quote(script), 90, 40, true);
  std::string screen = t.WaitFor("\u2588");
  EXPECT_NE(screen.find("Demo updater"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Remote file: 127.0.0.1/f.bin"), std::string::npos) << screen;
  EXPECT_EQ(MarkerOf(screen, "Step 1: Connection/Logon"), "\u2713") << screen;
  EXPECT_EQ(MarkerOf(screen, "Step 2: File search"), "\u2713") << screen;
  EXPECT_EQ(MarkerOf(screen, "Step 3: Download"), "\u2192") << screen;
  EXPECT_EQ(MarkerOf(screen, "Step 4: Diconnect/Logoff"), "") << screen;
  EXPECT_NE(screen.find("\u2588"), std::string::npos) << screen;
  // Redrawn in place: one panel on the screen however many times it changed.
  EXPECT_EQ(Count(screen, "Software update"), 1u) << screen;

  t.Keys("c");
  screen = t.WaitFor("EXIT=");
  EXPECT_NE(screen.find("Cancelled after"), std::string::npos) << screen;
  EXPECT_NE(screen.find("EXIT=1"), std::string::npos) << screen;
  EXPECT_NE(screen.find("TTY-RESTORED"), std::string::npos) << screen;
  EXPECT_EQ(Count(screen, "Software update"), 1u) << screen;
  // The panel stays as it ended: disconnected, the download never marked done.
  EXPECT_EQ(MarkerOf(screen, "Step 4: Diconnect/Logoff"), "\u2713") << screen;
  EXPECT_EQ(MarkerOf(screen, "Step 3: Download"), "\u2192") << screen;
  EXPECT_NE(screen.find("Disconnected."), std::string::npos) << screen;
}

}  // namespace
}  // namespace ktinet
