#include "vcl/TerminalBackend.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "vcl/Forms.h"
#include "vcl/StdCtrls.h"
#include "vcl/TerminalPanel.h"
#include "vcl/TerminalTree.h"

namespace ktinet {

namespace {

enum class KeyKind { Char, Enter, Tab, Backspace, ClearLine, Escape, Interrupt, EndOfLine, EndOfInput, Ignored };

struct Key {
  KeyKind kind = KeyKind::Ignored;
  std::string utf8;  // the character typed, for KeyKind::Char
};

std::string CrLfToLf(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out.push_back(s[i]);
  return out;
}

// The text of a prompt: the label's caption without its accelerator mark and
// without the colon the form puts after it.
std::string PromptText(const String& caption) {
  std::string s = UTF8Encode(StripAccelerator(caption));
  while (!s.empty() && (s.back() == ' ' || s.back() == ':')) s.pop_back();
  return s;
}

}  // namespace

// One presentation: owns the terminal's mode for its lifetime and puts it back on
// every path out, exceptions included.
class TerminalBackend::Session {
 public:
  Session(int in, int out) : FIn(in), FOut(out) {
    std::fflush(stdout);
    std::fflush(stderr);
    FOutIsTty = TerminalTakesEscapes(FOut);
    if (isatty(FIn) == 1 && tcgetattr(FIn, &FSaved) == 0) {
      termios raw = FSaved;
      // Keys arrive one by one and unechoed; Ctrl-C arrives as a key (it cancels the
      // dialog) instead of killing the program with the terminal left raw.
      raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
      raw.c_iflag |= ICRNL;
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      FRaw = tcsetattr(FIn, TCSANOW, &raw) == 0;
    }
  }
  ~Session() {
    if (FRaw) tcsetattr(FIn, TCSANOW, &FSaved);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void Write(const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
      ssize_t n = write(FOut, s.data() + done, s.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // nobody is reading the terminal any more: nothing to show
      done += static_cast<size_t>(n);
    }
  }
  std::string Bold(const std::string& s) const { return FOutIsTty ? "\x1b[1m" + s + "\x1b[0m" : s; }
  std::string Dim(const std::string& s) const { return FOutIsTty ? "\x1b[2m" + s + "\x1b[0m" : s; }

  Key ReadKey() {
    int b = ReadByte(-1);
    if (b < 0) return {KeyKind::EndOfInput, {}};
    // A line end written as CR LF (a script, a pasted text) is one Enter.
    if (b == '\n' && FLastWasCr) {
      FLastWasCr = false;
      return ReadKey();
    }
    FLastWasCr = b == '\r';
    switch (b) {
      case '\r':
      case '\n': return {KeyKind::Enter, {}};
      case '\t': return {KeyKind::Tab, {}};
      case 0x7f:
      case 0x08: return {KeyKind::Backspace, {}};
      case 0x15: return {KeyKind::ClearLine, {}};
      case 0x03: return {KeyKind::Interrupt, {}};
      case 0x04: return {KeyKind::EndOfLine, {}};
      case 0x1b: return ReadEscape();
      default: break;
    }
    if (b < 0x20) return {KeyKind::Ignored, {}};
    std::string ch(1, static_cast<char>(b));
    int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    for (int i = 0; i < more; ++i) {
      int c = ReadByte(100);
      if (c < 0) break;
      ch.push_back(static_cast<char>(c));
    }
    return {KeyKind::Char, ch};
  }

 private:
  // A lone Escape is the key; Escape followed at once by more bytes is an arrow or
  // function key, which the prompts do not use.
  Key ReadEscape() {
    int next = ReadByte(40);
    if (next < 0) return {KeyKind::Escape, {}};
    if (next == '[' || next == 'O') {
      for (int i = 0; i < 16; ++i) {
        int c = ReadByte(40);
        if (c < 0 || (c >= 0x40 && c <= 0x7e)) break;
      }
    }
    return {KeyKind::Ignored, {}};
  }

  // -1 at end of input, or when `timeoutMs` (>= 0) passes first.
  int ReadByte(int timeoutMs) {
    if (timeoutMs >= 0) {
      pollfd p{FIn, POLLIN, 0};
      int r;
      do r = poll(&p, 1, timeoutMs);
      while (r < 0 && errno == EINTR);
      if (r <= 0) return -1;
    }
    unsigned char c;
    for (;;) {
      ssize_t n = read(FIn, &c, 1);
      if (n == 1) return c;
      if (n < 0 && errno == EINTR) continue;
      return -1;
    }
  }

  int FIn, FOut;
  bool FOutIsTty = false;
  bool FRaw = false;
  bool FLastWasCr = false;
  termios FSaved{};
};

TerminalBackend::TerminalBackend(int inFd, int outFd) : FIn(inFd), FOut(outFd) {}

TerminalBackend::~TerminalBackend() { LeavePanelMode(); }

namespace {

struct FieldOutcome {
  bool cancelled = false;
  String text;
};

void CollectEdits(const TWinControl& parent, std::vector<TEdit*>& out) {
  for (TWinControl* w : parent.TabList()) {
    if (!w->CanInteract()) continue;
    if (auto* e = dynamic_cast<TEdit*>(w)) {
      if (!e->ReadOnly()) out.push_back(e);
    } else {
      CollectEdits(*w, out);
    }
  }
}

void CollectLabels(const TWinControl& parent, std::vector<TLabel*>& out) {
  for (int i = 0; i < parent.ControlCount(); ++i) {
    TControl* c = parent.Controls(i);
    if (!c->Visible()) continue;
    if (auto* l = dynamic_cast<TLabel*>(c)) out.push_back(l);
    else if (auto* w = dynamic_cast<TWinControl*>(c)) CollectLabels(*w, out);
  }
}

void CollectButtons(const TWinControl& parent, std::vector<TButton*>& out) {
  for (TWinControl* w : parent.TabList()) {
    if (!w->CanInteract()) continue;
    if (auto* b = dynamic_cast<TButton*>(w)) out.push_back(b);
    else CollectButtons(*w, out);
  }
}

// The label that names an edit: the one pointing at it, else the nearest label
// left of it whose line crosses the edit's middle.
TLabel* LabelFor(const TEdit* edit, const std::vector<TLabel*>& labels) {
  for (TLabel* l : labels)
    if (l->FocusControl() == edit) return l;
  TLabel* best = nullptr;
  int middle = edit->Top() + edit->Height() / 2;
  for (TLabel* l : labels) {
    if (l->FocusControl() || l->Parent() != edit->Parent()) continue;
    if (l->Left() + l->Width() > edit->Left() + 4) continue;
    if (middle < l->Top() - 4 || middle > l->Top() + l->Height() + 4) continue;
    if (!best || l->Left() + l->Width() > best->Left() + best->Width()) best = l;
  }
  return best;
}

}  // namespace

namespace {

// Reads one field. Returns the text entered, or cancelled.
template <class S>
FieldOutcome ReadField(S& s, const std::string& prompt, const String& current, bool secret, int maxLength) {
  std::vector<std::string> chars;  // one UTF-8 character each
  auto text = [&] {
    std::string t;
    for (const auto& c : chars) t += c;
    return t;
  };
  bool fresh = false;  // a secret field: has the person started a new text?
  std::string shown = prompt + ": ";
  if (secret) {
    if (!current.empty()) shown = prompt + " " + s.Dim("(Enter keeps the current one)") + ": ";
    s.Write(shown);
  } else {
    std::string cur = UTF8Encode(current);
    for (size_t i = 0; i < cur.size();) {
      size_t len = 1;
      unsigned char b = static_cast<unsigned char>(cur[i]);
      if (b >= 0xF0) len = 4; else if (b >= 0xE0) len = 3; else if (b >= 0xC0) len = 2;
      chars.push_back(cur.substr(i, len));
      i += len;
    }
    s.Write(shown + cur);
  }
  for (;;) {
    Key k = s.ReadKey();
    switch (k.kind) {
      case KeyKind::Char:
        if (secret && !fresh) fresh = true, chars.clear();
        if (maxLength > 0 && static_cast<int>(chars.size()) >= maxLength) break;
        chars.push_back(k.utf8);
        if (!secret) s.Write(k.utf8);
        break;
      case KeyKind::Backspace:
        if (secret && !fresh) {
          fresh = true;
          chars.clear();
        } else if (!chars.empty()) {
          chars.pop_back();
          if (!secret) s.Write("\b \b");
        }
        break;
      case KeyKind::ClearLine:
        if (secret) {
          fresh = true;
        } else if (!chars.empty()) {
          s.Write("\r\x1b[K" + shown);
        }
        chars.clear();
        break;
      case KeyKind::Enter:
      case KeyKind::Tab:
        s.Write("\n");
        if (secret && !fresh) return {false, current};
        return {false, UTF8ToString(text())};
      case KeyKind::EndOfLine:
        if (!chars.empty() || (secret && !fresh && !current.empty())) break;
        [[fallthrough]];
      case KeyKind::Escape:
      case KeyKind::Interrupt:
      case KeyKind::EndOfInput:
        s.Write("\n");
        return {true, {}};
      case KeyKind::Ignored: break;
    }
  }
}

}  // namespace

TModalResult TerminalBackend::ShowModal(TForm& form) {
  // The prompt is written below a live panel, which is drawn afresh after it.
  SetPanelAside();
  struct Redraw {
    TerminalBackend* b;
    ~Redraw() { b->FDirty = !b->FPanels.empty(); }
  } redraw{this};
  // A tree is a list to move through and choose from, not fields to fill in.
  if (TTreeView* tree = FindTreeView(form)) return RunTerminalTree(form, *tree, FIn, FOut);
  Session s(FIn, FOut);
  std::vector<TEdit*> edits;
  std::vector<TLabel*> labels;
  std::vector<TButton*> buttons;
  CollectEdits(form, edits);
  CollectLabels(form, labels);
  CollectButtons(form, buttons);

  std::string caption = UTF8Encode(form.Caption());
  s.Write("\n" + s.Bold(caption.empty() ? std::string("Dialog") : caption) + "\n");

  // Labels that name no edit carry the form's message; show them in reading order.
  std::vector<TLabel*> prompts;
  for (TEdit* e : edits) prompts.push_back(LabelFor(e, labels));
  std::vector<TLabel*> texts;
  for (TLabel* l : labels)
    if (std::find(prompts.begin(), prompts.end(), l) == prompts.end() && !l->Caption().empty()) texts.push_back(l);
  std::stable_sort(texts.begin(), texts.end(), [](TLabel* a, TLabel* b) {
    return a->Top() != b->Top() ? a->Top() < b->Top() : a->Left() < b->Left();
  });
  for (TLabel* l : texts) s.Write(CrLfToLf(UTF8Encode(l->Caption())) + "\n");

  TButton* defaultButton = form.DefaultButton();
  TButton* cancelButton = form.CancelButton();
  auto cancel = [&]() -> TModalResult {
    form.SetModalResult(mrNone);
    if (cancelButton) cancelButton->Click();
    return form.ModalResult() != mrNone ? form.ModalResult() : mrCancel;
  };

  if (!edits.empty()) {
    std::string help = "Enter goes to the next field";
    if (defaultButton) help += " (in the last one it presses " + UTF8Encode(StripAccelerator(defaultButton->Caption())) + ")";
    help += "; Esc";
    if (cancelButton) help += " presses " + UTF8Encode(StripAccelerator(cancelButton->Caption()));
    else help += " cancels";
    s.Write(s.Dim(help + ".") + "\n");
    for (size_t i = 0; i < edits.size(); ++i) {
      TEdit* e = edits[i];
      std::string prompt = prompts[i] ? PromptText(prompts[i]->Caption()) : UTF8Encode(e->Name());
      FieldOutcome f = ReadField(s, prompt, e->Text(), e->Secret(), e->MaxLength());
      if (f.cancelled) return cancel();
      e->SetText(f.text);
    }
    if (defaultButton) {
      form.SetModalResult(mrNone);
      defaultButton->Click();
      if (form.ModalResult() != mrNone) return form.ModalResult();
    }
  }

  // Choose among the buttons by their letters until one closes the form.
  for (;;) {
    std::string line;
    for (TButton* b : buttons) {
      String c = b->Caption();
      Char key = AcceleratorOf(c);
      std::string name = UTF8Encode(StripAccelerator(c));
      line += key ? "[" + UTF8Encode(String(1, key)) + "] " + name + "  " : name + "  ";
    }
    if (buttons.empty()) line = "Enter closes";
    s.Write(line + s.Dim("(Enter: default, Esc: cancel)") + " ");
    Key k = s.ReadKey();
    s.Write("\n");
    form.SetModalResult(mrNone);
    switch (k.kind) {
      case KeyKind::Escape:
      case KeyKind::Interrupt:
      case KeyKind::EndOfInput:
      case KeyKind::EndOfLine:
        return cancel();
      case KeyKind::Enter:
        if (defaultButton) defaultButton->Click();
        else if (buttons.empty()) return mrOk;
        break;
      case KeyKind::Char: {
        String typed = UTF8ToString(k.utf8);
        Char c = typed.empty() ? 0 : typed[0];
        if (c >= u'a' && c <= u'z') c = static_cast<Char>(c - 32);
        for (TButton* b : buttons)
          if (AcceleratorOf(b->Caption()) == c) {
            b->Click();
            break;
          }
        break;
      }
      default: break;
    }
    if (form.ModalResult() != mrNone) return form.ModalResult();
  }
}

TModalResult TerminalBackend::MessageBox(const TMessageRequest& request) {
  SetPanelAside();
  struct Redraw {
    TerminalBackend* b;
    ~Redraw() { b->FDirty = !b->FPanels.empty(); }
  } redraw{this};
  Session s(FIn, FOut);
  std::vector<TMsgDlgBtn> list = request.Buttons.Empty() ? std::vector<TMsgDlgBtn>{mbOK} : request.Buttons.List();
  std::string caption = UTF8Encode(request.Caption);
  if (!caption.empty()) s.Write("\n" + s.Bold(caption) + "\n");
  s.Write(CrLfToLf(UTF8Encode(request.Text)) + "\n");

  // Enter presses OK (else Yes, else the first button); Escape the button the
  // framework's boxes cancel with (Cancel, else No, else OK).
  TMsgDlgBtn enterButton = list.front();
  for (TMsgDlgBtn b : {mbYes, mbOK})
    if (std::find(list.begin(), list.end(), b) != list.end()) enterButton = b;
  TModalResult escapeResult = UnattendedAnswer(request.Buttons.Empty() ? TMsgDlgButtons{mbOK} : request.Buttons);

  std::string line;
  if (list.size() == 1) {
    line = "Press Enter";
  } else {
    for (TMsgDlgBtn b : list) {
      String c = ButtonCaption(b);
      line += "[" + UTF8Encode(String(1, AcceleratorOf(c))) + "] " + UTF8Encode(StripAccelerator(c)) + "  ";
    }
    line += s.Dim("(Enter: " + UTF8Encode(StripAccelerator(ButtonCaption(enterButton))) + ")");
  }
  for (;;) {
    s.Write(line + " ");
    Key k = s.ReadKey();
    s.Write("\n");
    switch (k.kind) {
      case KeyKind::Enter: return ModalResultOf(enterButton);
      case KeyKind::Escape:
      case KeyKind::Interrupt:
      case KeyKind::EndOfLine:
      case KeyKind::EndOfInput: return escapeResult;
      case KeyKind::Char: {
        String typed = UTF8ToString(k.utf8);
        Char c = typed.empty() ? 0 : typed[0];
        if (c >= u'a' && c <= u'z') c = static_cast<Char>(c - 32);
        for (TMsgDlgBtn b : list)
          if (AcceleratorOf(ButtonCaption(b)) == c) return ModalResultOf(b);
        break;
      }
      default: break;
    }
  }
}

// ---- live panels of modeless forms -------------------------------------------------------------

namespace {

// The terminal's state while a panel is shown. One per process: a signal handler
// must reach it, and a process has one terminal.
struct PanelTerminal {
  int in = -1;
  int out = -1;
  termios saved{};
  bool haveSaved = false;
  bool cursorHidden = false;
};
PanelTerminal gPanelTerminal;
volatile std::sig_atomic_t gPanelActive = 0;
constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT};
struct sigaction gPreviousActions[std::size(kFatalSignals)];
bool gInstalled[std::size(kFatalSignals)] = {};

// Only async-signal-safe calls: it runs from signal handlers and at exit.
void RestorePanelTerminal() {
  if (!gPanelActive) return;
  gPanelActive = 0;
  if (gPanelTerminal.haveSaved) tcsetattr(gPanelTerminal.in, TCSANOW, &gPanelTerminal.saved);
  if (gPanelTerminal.cursorHidden) {
    static const char kShowCursor[] = "\x1b[?25h";
    ssize_t ignored = write(gPanelTerminal.out, kShowCursor, sizeof kShowCursor - 1);
    (void)ignored;
  }
}

void OnFatalSignal(int sig) {
  RestorePanelTerminal();
  for (size_t i = 0; i < std::size(kFatalSignals); ++i)
    if (kFatalSignals[i] == sig && gInstalled[i]) {
      sigaction(sig, &gPreviousActions[i], nullptr);
      gInstalled[i] = false;
    }
  // Blocked while this handler runs; delivered with the previous disposition on return.
  raise(sig);
}

void InstallSignalHandlers() {
  static bool atExitRegistered = false;
  if (!atExitRegistered) {
    std::atexit(RestorePanelTerminal);
    atExitRegistered = true;
  }
  for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
    struct sigaction previous{};
    if (sigaction(kFatalSignals[i], nullptr, &previous) != 0) continue;
    // A signal the program ignores (nohup) stays ignored.
    if (previous.sa_handler == SIG_IGN) continue;
    struct sigaction ours{};
    ours.sa_handler = OnFatalSignal;
    sigemptyset(&ours.sa_mask);
    if (sigaction(kFatalSignals[i], &ours, &gPreviousActions[i]) == 0) gInstalled[i] = true;
  }
}

void RemoveSignalHandlers() {
  for (size_t i = 0; i < std::size(kFatalSignals); ++i)
    if (gInstalled[i]) {
      sigaction(kFatalSignals[i], &gPreviousActions[i], nullptr);
      gInstalled[i] = false;
    }
}

bool LocaleIsUtf8() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(name);
    if (!v || !*v) continue;
    std::string s = v;
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return s.find("utf-8") != std::string::npos || s.find("utf8") != std::string::npos;
  }
  return false;
}

int TerminalColumns(int fd) {
  winsize ws{};
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  if (const char* c = std::getenv("COLUMNS")) {
    int n = std::atoi(c);
    if (n > 0) return n;
  }
  return 80;
}

}  // namespace

void TerminalBackend::Write(const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = write(FOut, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void TerminalBackend::EnterPanelMode() {
  if (FPanelMode) return;
  FPanelMode = true;
  FOutIsTty = TerminalTakesEscapes(FOut);
  FDrawnLines = 0;
  std::fflush(stdout);
  std::fflush(stderr);
  // Another backend already holds the terminal: draw, but leave its mode alone.
  if (gPanelActive) return;
  gPanelTerminal = PanelTerminal{};
  gPanelTerminal.in = FIn;
  gPanelTerminal.out = FOut;
  if (isatty(FIn) == 1 && tcgetattr(FIn, &gPanelTerminal.saved) == 0) {
    termios raw = gPanelTerminal.saved;
    // Keys arrive at once and unechoed; Ctrl-C still interrupts (the handler gives
    // the terminal back first).
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    gPanelTerminal.haveSaved = tcsetattr(FIn, TCSANOW, &raw) == 0;
  }
  if (FOutIsTty) {
    Write("\x1b[?25l");
    gPanelTerminal.cursorHidden = true;
  }
  gPanelActive = 1;
  InstallSignalHandlers();
  FOwnsTerminal = true;
}

void TerminalBackend::LeavePanelMode() {
  if (!FPanelMode) return;
  FPanelMode = false;
  FDrawnLines = 0;
  if (!FOwnsTerminal) return;
  FOwnsTerminal = false;
  RestorePanelTerminal();
  RemoveSignalHandlers();
}

void TerminalBackend::SetPanelAside() { FDrawnLines = 0; }

void TerminalBackend::DrawPanels() {
  if (FPanels.empty()) return;
  TPanelStyle style;
  style.Columns = FColumns > 0 ? FColumns : TerminalColumns(FOut);
  style.Utf8 = FUtf8Set ? FUtf8 : LocaleIsUtf8();
  style.Styled = FOutIsTty;
  std::string out;
  if (FOutIsTty && FDrawnLines > 0) out += "\x1b[" + std::to_string(FDrawnLines) + "F";
  if (FOutIsTty) out += "\x1b[J";
  int count = 0;
  for (TForm* form : FPanels)
    for (const std::string& line : RenderPanel(*form, style)) {
      out += line + "\n";
      ++count;
    }
  Write(out);
  FDrawnLines = FOutIsTty ? count : 0;
  FDirty = false;
  FLastDraw = std::chrono::steady_clock::now();
}

void TerminalBackend::FormShown(TForm& form) {
  // A modeless tree is printed once below whatever is shown: it cannot hold the terminal while
  // the program goes on.
  if (TTreeView* tree = FindTreeView(form)) {
    SetPanelAside();
    PrintTerminalTree(form, *tree, FOut);
    FDirty = !FPanels.empty();
    return;
  }
  if (std::find(FPanels.begin(), FPanels.end(), &form) == FPanels.end()) FPanels.push_back(&form);
  EnterPanelMode();
  DrawPanels();
}

void TerminalBackend::FormChanged(TForm& form) {
  if (std::find(FPanels.begin(), FPanels.end(), &form) == FPanels.end()) return;
  FDirty = true;
  // Normally the next pump draws; this keeps a panel live for a caller that pumps rarely.
  if (FOutIsTty && std::chrono::steady_clock::now() - FLastDraw >= std::chrono::milliseconds(250)) DrawPanels();
}

void TerminalBackend::FormHidden(TForm& form) {
  auto it = std::find(FPanels.begin(), FPanels.end(), &form);
  if (it == FPanels.end()) return;
  // The panel stays on the terminal as it ended.
  DrawPanels();
  SetPanelAside();
  FPanels.erase(std::find(FPanels.begin(), FPanels.end(), &form));
  if (FPanels.empty()) LeavePanelMode();
  else if (FOutIsTty) DrawPanels();
}

void TerminalBackend::ProcessMessages() {
  if (FPanels.empty()) return;
  if (!FInputClosed) {
    std::string bytes;
    for (;;) {
      pollfd p{FIn, POLLIN, 0};
      int r = poll(&p, 1, 0);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      char buf[256];
      ssize_t n = read(FIn, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // End of input: nobody can press anything any more (and the pipe would stay readable).
        if (n == 0 || errno != EAGAIN) FInputClosed = true;
        break;
      }
      bytes.append(buf, static_cast<size_t>(n));
      if (bytes.size() >= 4096) break;
    }
    if (!bytes.empty()) HandleKeys(bytes);
  }
  if (FDirty && FOutIsTty && std::chrono::steady_clock::now() - FLastDraw >= std::chrono::milliseconds(40)) DrawPanels();
}

void TerminalBackend::HandleKeys(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size() && !FPanels.empty(); ++i) {
    // Keys go to the panel shown last; a click may hide or free it, so look again each time.
    TForm* form = FPanels.back();
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b == 0x1b) {
      if (i + 1 < bytes.size() && (bytes[i + 1] == '[' || bytes[i + 1] == 'O')) {
        // An arrow or function key: skip its sequence.
        i += 2;
        while (i < bytes.size() && !(bytes[i] >= 0x40 && bytes[i] <= 0x7e)) ++i;
        continue;
      }
      if (TButton* cancel = form->CancelButton()) cancel->Click();
      continue;
    }
    if (b < 0x20 || b >= 0x7f) continue;
    Char key = b >= 'a' && b <= 'z' ? static_cast<Char>(b - 32) : static_cast<Char>(b);
    std::vector<TButton*> buttons;
    CollectButtons(*form, buttons);
    for (TButton* button : buttons)
      if (AcceleratorOf(button->Caption()) == key) {
        button->Click();
        break;
      }
  }
  FDirty = true;
}

}  // namespace ktinet
