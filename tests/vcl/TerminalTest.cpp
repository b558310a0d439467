// The terminal backend: keys fed through a pipe, and once for real on a terminal
// that tmux provides.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "vcl/KtILogOn.h"
#include "vcl/TerminalBackend.h"
#include "support/Tmux.h"

namespace ktinet {
namespace {

using test::Tmux;

std::string U8(const String& s) { return UTF8Encode(s); }

// Runs `body` with a terminal backend reading `keys` from a pipe (then end of input)
// and returns what it wrote.
template <class F>
std::string WithKeys(const std::string& keys, F body) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe");
  EXPECT_EQ(write(in[1], keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  close(in[1]);
  {
    TBackendScope scope(std::make_unique<TerminalBackend>(in[0], out[1]));
    body();
  }
  close(in[0]);
  close(out[1]);
  std::string shown;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) shown.append(buf, static_cast<size_t>(n));
  close(out[0]);
  return shown;
}

struct Logon {
  bool ok;
  std::string user, password, shown;
};

Logon AskWith(const std::string& keys, const char16_t* user = u"alice", const char16_t* password = u"s3cret") {
  Logon r{};
  String u = user, p = password;
  r.shown = WithKeys(keys, [&] { r.ok = KtInAskLogon(u"Proxy Server authorization", u, p); });
  r.user = U8(u);
  r.password = U8(p);
  return r;
}

TEST(TerminalBackend, LogonFieldsStartFromTheCurrentValuesAndEditLikeALine) {
  // Enter twice keeps both values.
  Logon r = AskWith("\n\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.user, "alice");
  EXPECT_EQ(r.password, "s3cret");
  EXPECT_NE(r.shown.find("Proxy Server authorization"), std::string::npos) << r.shown;
  EXPECT_NE(r.shown.find("User ID: alice"), std::string::npos) << r.shown;
  EXPECT_NE(r.shown.find("Enter keeps the current one"), std::string::npos) << r.shown;
  EXPECT_EQ(r.shown.find("s3cret"), std::string::npos) << "password shown: " << r.shown;

  // Backspace edits the shown name; typing replaces the password, unseen; CR LF is one Enter.
  r = AskWith("\x7f\x7f\x7f\x7fice\r\nnew p\xc3\xa4ss\r\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.user, "aice");
  EXPECT_EQ(r.password, "new p\xc3\xa4ss");
  EXPECT_EQ(r.shown.find("new p"), std::string::npos) << r.shown;

  // Ctrl-U clears a field; Backspace on an untouched password starts it afresh
  // (empty here). Both emptied and confirmed: true with empty values.
  r = AskWith("\x15\n\x7f\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.user, "");
  EXPECT_EQ(r.password, "");

  // Arrow keys are ignored, not taken as Escape or as text.
  r = AskWith("\x1b[D\x1b[A!\n\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.user, "alice!");
}

TEST(TerminalBackend, EscapeInterruptAndEndOfInputCancelWithoutTakingTheEdits) {
  const std::vector<std::string> cancelling = {"bob\nhun\x1b", "bob\x03", "bob\nhunter2", "\x15\x04\n\n", ""};
  for (const std::string& keys : cancelling) {
    Logon r = AskWith(keys);
    EXPECT_FALSE(r.ok) << keys;
    EXPECT_EQ(r.user, "alice") << keys;
    EXPECT_EQ(r.password, "s3cret") << keys;
  }
  // Ctrl-D on a field that holds text is not the end of input.
  Logon r = AskWith("\x04\n\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.user, "alice");
}

TEST(TerminalBackend, MessageBoxesWaitForAButton) {
  TModalResult result = mrNone;
  std::string shown = WithKeys("\n", [&] { result = MessageDlg(u"Line 1\r\nLine 2", mtInformation, {mbOK}); });
  EXPECT_EQ(result, mrOk);
  EXPECT_NE(shown.find("Information\nLine 1\nLine 2\n"), std::string::npos) << shown;

  WithKeys("xn", [&] { result = MessageDlg(u"Delete?", mtConfirmation, mbYesNoCancel); });
  EXPECT_EQ(result, mrNo);  // an unknown key is ignored; the letter answers
  WithKeys("\n", [&] { result = MessageDlg(u"Delete?", mtConfirmation, mbYesNo); });
  EXPECT_EQ(result, mrYes);  // Enter: Yes
  WithKeys("\x1b", [&] { result = MessageDlg(u"Delete?", mtConfirmation, mbYesNo); });
  EXPECT_EQ(result, mrNo);   // Escape: No when there is no Cancel
  WithKeys("", [&] { result = MessageDlg(u"Retry?", mtError, mbAbortRetryIgnore); });
  EXPECT_EQ(result, mrAbort);
}

// ---- a real terminal -------------------------------------------------------------------------

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}


std::string PromptScript(const std::string& extra) {
  // The shell records the terminal's settings around the program, to show that the
  // prompt gives the terminal back as it found it; it then waits to be captured.
  return "sh -c " + Quote("before=$(stty -g); " + Quote(KTINET_TOOL) +
                          " logon-prompt --caption 'Proxy Server authorization' --user alice --password old " +
                          extra + "; code=$?; [ \"$before\" = \"$(stty -g)\" ] && echo TTY-RESTORED; "
                                  "echo EXIT=$code; sleep 60");
}

TEST(TerminalBackendOnATerminal, LogonPromptAsksWithoutEchoingThePassword) {
  ASSERT_EQ(system("command -v tmux >/dev/null 2>&1"), 0) << "tmux is needed for this test (scripts/install-deps)";
  Tmux t(PromptScript("--show-password"));
  std::string screen = t.WaitFor("User ID: alice");
  t.Keys("C-u bob Enter");
  t.WaitFor("Enter keeps the current one");
  t.Keys("hunter2 Enter");
  screen = t.WaitFor("EXIT=");

  EXPECT_NE(screen.find("Backend: terminal"), std::string::npos) << screen;
  EXPECT_NE(screen.find("User ID: bob"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\nOK\n"), std::string::npos) << screen;
  EXPECT_NE(screen.find("User: bob\n"), std::string::npos) << screen;
  EXPECT_NE(screen.find("TTY-RESTORED"), std::string::npos) << screen;
  EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
  // The one place the password may appear is the line the program prints on purpose.
  size_t at = screen.find("hunter2");
  ASSERT_NE(at, std::string::npos) << screen;
  EXPECT_EQ(screen.compare(at - 10, 10, "Password: "), 0) << screen;
  EXPECT_EQ(screen.find("hunter2", at + 1), std::string::npos) << "echoed:\n" << screen;
  EXPECT_EQ(screen.find("old"), std::string::npos) << "current password shown:\n" << screen;
}

TEST(TerminalBackendOnATerminal, EscapeCancelsAndGivesTheTerminalBack) {
  ASSERT_EQ(system("command -v tmux >/dev/null 2>&1"), 0) << "tmux is needed for this test (scripts/install-deps)";
  Tmux t(PromptScript(""));
  t.WaitFor("User ID: alice");
  t.Keys("x Enter");
  t.WaitFor("Enter keeps the current one");
  t.Keys("abc Escape");
  std::string screen = t.WaitFor("EXIT=");
  EXPECT_NE(screen.find("Cancelled"), std::string::npos) << screen;
  EXPECT_NE(screen.find("EXIT=1"), std::string::npos) << screen;
  EXPECT_NE(screen.find("TTY-RESTORED"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("abc"), std::string::npos) << screen;
}

}  // namespace
}  // namespace ktinet
