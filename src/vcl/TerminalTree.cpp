#include "vcl/TerminalTree.h"

#include "vcl/TerminalPanel.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace ktinet {

namespace {

void WriteAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = write(fd, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nobody reads the terminal any more: nothing to show
    done += static_cast<size_t>(n);
  }
}

// Cuts `text` to `width` characters (one column each: the tree's captions are plain text).
String Fit(const String& text, int width) {
  if (width <= 0) return String();
  if (static_cast<int>(text.size()) <= width) return text;
  String cut = text.substr(0, static_cast<size_t>(width > 1 ? width - 1 : width));
  // Never leave half of a surrogate pair behind.
  if (!cut.empty() && cut.back() >= 0xD800 && cut.back() <= 0xDBFF) cut.pop_back();
  return width > 1 ? cut + u"\u2026" : cut;
}

String OneLine(const String& text) {
  String s = text;
  for (Char& c : s)
    if (c < 0x20 || (c >= 0x7f && c < 0xa0)) c = u' ';  // C1 codes drive some terminals too
  return s;
}

std::string Line(const TTreeNode* node, bool selected, const TTreeStyle& style) {
  String prefix = selected ? u"> " : u"  ";
  prefix += String(static_cast<size_t>(node->Level()) * 2, u' ');
  // The marker column is kept for every entry so captions line up whether new or not.
  if (node->Bold()) prefix += u"* ";
  else if (node->Level() > 0) prefix += u"  ";
  String text = Fit(OneLine(node->Text()), std::max(1, style.Columns - 1 - static_cast<int>(prefix.size())));
  std::string out = UTF8Encode(prefix);
  std::string body = UTF8Encode(text);
  if (style.Styled && node->Bold()) body = "\x1b[1m" + body + "\x1b[22m";
  out += body;
  if (style.Styled && selected) out = "\x1b[7m" + out + "\x1b[27m";
  return out;
}

int TerminalRows(int fd) {
  winsize ws{};
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0) return ws.ws_row;
  if (const char* l = std::getenv("LINES")) {
    int n = std::atoi(l);
    if (n > 0) return n;
  }
  return 24;
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

// Raw, unechoed keys for the lifetime of the object; the terminal's settings and cursor come
// back on every path out.
class RawTerminal {
 public:
  RawTerminal(int in, int out) : FIn(in), FOut(out) {
    std::fflush(stdout);
    std::fflush(stderr);
    FOutIsTty = TerminalTakesEscapes(out);
    if (isatty(in) == 1 && tcgetattr(in, &FSaved) == 0) {
      termios raw = FSaved;
      // Ctrl-C arrives as a key and closes the tree instead of killing the program with the
      // terminal left raw.
      raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
      raw.c_iflag |= ICRNL;
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      FRaw = tcsetattr(in, TCSANOW, &raw) == 0;
    }
    if (FOutIsTty) WriteAll(FOut, "\x1b[?25l");
  }
  ~RawTerminal() {
    if (FOutIsTty) WriteAll(FOut, "\x1b[?25h");
    if (FRaw) tcsetattr(FIn, TCSANOW, &FSaved);
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  bool OutIsTty() const { return FOutIsTty; }

  // -1 at the end of input, or when `timeoutMs` (>= 0) passes first.
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

 private:
  int FIn, FOut;
  bool FOutIsTty = false;
  bool FRaw = false;
  termios FSaved{};
};

enum class TreeKey { None, Up, Down, Home, End, PageUp, PageDown, Open, Close };

TreeKey ReadTreeKey(RawTerminal& t) {
  int b = t.ReadByte(-1);
  switch (b) {
    case -1:
    case 'q':
    case 'Q':
    case 0x03:
    case 0x04: return TreeKey::Close;
    case '\r':
    case '\n':
    case ' ': return TreeKey::Open;
    case 'k': return TreeKey::Up;
    case 'j': return TreeKey::Down;
    case 'g': return TreeKey::Home;
    case 'G': return TreeKey::End;
    case 0x1b: break;
    default: return TreeKey::None;
  }
  // A lone Escape closes; Escape followed at once by more bytes is a cursor key.
  int next = t.ReadByte(40);
  if (next < 0) return TreeKey::Close;
  if (next != '[' && next != 'O') return TreeKey::None;
  std::string seq;
  for (int i = 0; i < 16; ++i) {
    int c = t.ReadByte(40);
    if (c < 0) break;
    seq.push_back(static_cast<char>(c));
    if (c >= 0x40 && c <= 0x7e) break;
  }
  if (seq == "A") return TreeKey::Up;
  if (seq == "B") return TreeKey::Down;
  if (seq == "H" || seq == "1~" || seq == "7~") return TreeKey::Home;
  if (seq == "F" || seq == "4~" || seq == "8~") return TreeKey::End;
  if (seq == "5~") return TreeKey::PageUp;
  if (seq == "6~") return TreeKey::PageDown;
  return TreeKey::None;
}

std::string Title(const TForm& form, bool styled) {
  std::string caption = UTF8Encode(OneLine(form.Caption()));
  if (caption.empty()) caption = "News";
  return styled ? "\x1b[1m" + caption + "\x1b[22m" : caption;
}

}  // namespace

std::vector<std::string> RenderTree(const TTreeView& tree, const TTreeStyle& style, int from, int count) {
  std::vector<TTreeNode*> nodes = tree.VisibleNodes();
  std::vector<std::string> out;
  int end = count < 0 ? static_cast<int>(nodes.size()) : std::min(static_cast<int>(nodes.size()), from + count);
  for (int i = std::max(0, from); i < end; ++i)
    out.push_back(Line(nodes[static_cast<size_t>(i)], nodes[static_cast<size_t>(i)] == tree.Selected(), style));
  return out;
}

TTreeView* FindTreeView(const TForm& form) {
  std::function<TTreeView*(const TWinControl&)> find = [&](const TWinControl& parent) -> TTreeView* {
    for (int i = 0; i < parent.ControlCount(); ++i) {
      TControl* c = parent.Controls(i);
      if (!c->Visible()) continue;
      if (auto* t = dynamic_cast<TTreeView*>(c)) return t;
      if (auto* w = dynamic_cast<TWinControl*>(c))
        if (TTreeView* t = find(*w)) return t;
    }
    return nullptr;
  };
  return find(form);
}

TModalResult RunTerminalTree(TForm& form, TTreeView& tree, int inFd, int outFd) {
  RawTerminal term(inFd, outFd);
  const bool styled = term.OutIsTty();
  int drawn = 0;
  int top = 0;
  auto draw = [&]() {
    TTreeStyle style;
    style.Styled = styled;
    style.Columns = TerminalColumns(outFd);
    std::vector<TTreeNode*> nodes = tree.VisibleNodes();
    const int rows = std::max(3, TerminalRows(outFd) - 3);
    int sel = static_cast<int>(std::find(nodes.begin(), nodes.end(), tree.Selected()) - nodes.begin());
    if (sel >= static_cast<int>(nodes.size())) sel = 0;
    if (sel < top) top = sel;
    if (sel >= top + rows) top = sel - rows + 1;
    top = std::max(0, std::min(top, static_cast<int>(nodes.size()) - rows));
    std::string out;
    if (styled && drawn > 0) out += "\x1b[" + std::to_string(drawn) + "F";
    if (styled) out += "\x1b[J";
    std::vector<std::string> lines;
    lines.push_back(Title(form, styled));
    if (nodes.empty()) lines.push_back("  (nothing to show)");
    for (std::string& l : RenderTree(tree, style, top, rows)) lines.push_back(std::move(l));
    std::string help = "Up/Down or j/k move, Enter opens, q closes";
    lines.push_back(styled ? "\x1b[2m" + help + "\x1b[22m" : help);
    for (const std::string& l : lines) out += l + "\n";
    WriteAll(outFd, out);
    drawn = styled ? static_cast<int>(lines.size()) : 0;
  };
  auto move = [&](int delta, bool absolute) {
    std::vector<TTreeNode*> nodes = tree.VisibleNodes();
    if (nodes.empty()) return;
    int sel = static_cast<int>(std::find(nodes.begin(), nodes.end(), tree.Selected()) - nodes.begin());
    if (sel >= static_cast<int>(nodes.size())) sel = 0;
    int next = absolute ? (delta < 0 ? 0 : static_cast<int>(nodes.size()) - 1) : sel + delta;
    next = std::max(0, std::min(next, static_cast<int>(nodes.size()) - 1));
    tree.SetSelected(nodes[static_cast<size_t>(next)]);
  };

  if (!tree.Selected() && tree.Items()->GetFirstNode()) tree.SetSelected(tree.Items()->GetFirstNode());
  draw();
  for (;;) {
    const int page = std::max(1, TerminalRows(outFd) - 4);
    switch (ReadTreeKey(term)) {
      case TreeKey::None: continue;
      case TreeKey::Close: return form.ModalResult() != mrNone ? form.ModalResult() : mrCancel;
      case TreeKey::Up: move(-1, false); break;
      case TreeKey::Down: move(1, false); break;
      case TreeKey::Home: move(-1, true); break;
      case TreeKey::End: move(1, true); break;
      case TreeKey::PageUp: move(-page, false); break;
      case TreeKey::PageDown: move(page, false); break;
      case TreeKey::Open:
        if (tree.Selected()) tree.ClickNode(tree.Selected());
        break;
    }
    // A click handler may have closed the form.
    if (form.ModalResult() != mrNone) return form.ModalResult();
    draw();
  }
}

void PrintTerminalTree(const TForm& form, const TTreeView& tree, int outFd) {
  std::fflush(stdout);
  const bool styled = TerminalTakesEscapes(outFd);
  TTreeStyle style;
  style.Styled = styled;
  style.Columns = TerminalColumns(outFd);
  std::string out = Title(form, styled) + "\n";
  for (const std::string& l : RenderTree(tree, style)) out += l + "\n";
  WriteAll(outFd, out);
}

}  // namespace ktinet
