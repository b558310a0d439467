#include "vcl/TerminalPanel.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "vcl/ComCtrls.h"
#include "vcl/ExtCtrls.h"
#include "vcl/StdCtrls.h"

namespace ktinet {

namespace {

// One character of a line as the terminal shows it (a UTF-8 sequence), and whether it is bold.
struct Cell {
  std::string ch = " ";
  bool bold = false;
};

std::vector<std::string> SplitChars(const std::string& s) {
  std::vector<std::string> out;
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    // Control characters (C0, DEL, and C1 in UTF-8) would move the cursor: show them as spaces.
    if (b < 0x20 || b == 0x7f ||
        (b == 0xc2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
         static_cast<unsigned char>(s[i + 1]) <= 0x9f)) {
      out.emplace_back(" ");
      i += b == 0xc2 ? 2 : 1;
      continue;
    }
    out.push_back(s.substr(i, len));
    i += len;
  }
  return out;
}

// An item to place: its lines of characters, where it sits and how wide its box is.
struct Item {
  int top = 0, bottom = 0, left = 0, width = 0;
  bool right = false;  // right-aligned in its box
  bool bold = false;
  std::vector<std::vector<std::string>> lines;
};

std::string AsciiGlyph(const std::string& glyph) {
  if (glyph == "\u2192") return ">";
  bool ascii = std::all_of(glyph.begin(), glyph.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? glyph : "*";
}

// Breaks `text` into lines of at most `width` characters at spaces where it can.
std::vector<std::vector<std::string>> Wrap(const std::string& text, size_t width, size_t maxLines, bool utf8) {
  std::vector<std::vector<std::string>> lines;
  // Line breaks of the text are kept; CR LF, CR and LF all count.
  std::string normalized;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      normalized += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      normalized += text[i];
    }
  }
  size_t start = 0;
  while (start <= normalized.size()) {
    size_t end = normalized.find('\n', start);
    if (end == std::string::npos) end = normalized.size();
    std::vector<std::string> chars = SplitChars(normalized.substr(start, end - start));
    while (chars.size() > width) {
      size_t cut = width;
      for (size_t i = width; i > width / 2; --i)
        if (chars[i] == " ") {
          cut = i;
          break;
        }
      lines.emplace_back(chars.begin(), chars.begin() + static_cast<std::ptrdiff_t>(cut));
      size_t next = cut < chars.size() && chars[cut] == " " ? cut + 1 : cut;
      chars.erase(chars.begin(), chars.begin() + static_cast<std::ptrdiff_t>(next));
    }
    lines.push_back(std::move(chars));
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty() && lines.size() > 1) lines.pop_back();
  if (lines.size() > maxLines) {
    lines.resize(maxLines);
    auto& last = lines.back();
    if (last.size() >= width && !last.empty()) last.pop_back();
    last.push_back(utf8 ? "\u2026" : "~");
  }
  return lines;
}

void AbsolutePosition(const TControl* c, int& left, int& top) {
  left = c->Left();
  top = c->Top();
  // Forms have no frame here, so a control's place on the form is the sum of its parents' places.
  for (const TWinControl* p = c->Parent(); p && p->Parent(); p = p->Parent()) {
    left += p->Left();
    top += p->Top();
  }
}

constexpr int kLineHeight = 13;  // pixels of one text line of the forms' 8-point font

void Collect(const TWinControl& parent, const TPanelStyle& style, double scale, std::vector<Item>& items) {
  for (int i = 0; i < parent.ControlCount(); ++i) {
    const TControl* c = parent.Controls(i);
    if (!c->Visible()) continue;
    Item it;
    AbsolutePosition(c, it.left, it.top);
    it.width = c->Width();
    it.bottom = it.top + std::max(c->Height(), 1);
    int cols = std::max(1, static_cast<int>(std::lround(c->Width() * scale)));
    if (auto* l = dynamic_cast<const TLabel*>(c)) {
      std::string text = UTF8Encode(l->Caption());
      if (text.empty()) continue;
      it.bold = l->Font().Bold();
      it.right = l->Alignment() == taRightJustify;
      size_t maxLines = l->WordWrap() ? static_cast<size_t>(std::max(1, l->Height() / kLineHeight)) : 1;
      if (l->WordWrap()) {
        it.lines = Wrap(text, static_cast<size_t>(cols), maxLines, style.Utf8);
      } else {
        std::string flat;
        for (char ch : text) flat += ch == '\r' || ch == '\n' ? ' ' : ch;
        it.lines.push_back(SplitChars(flat));
      }
    } else if (auto* img = dynamic_cast<const TImage*>(c)) {
      const TGraphic* g = img->Picture()->Graphic();
      if (!g || g->Glyph().empty()) continue;
      std::string glyph = UTF8Encode(g->Glyph());
      it.lines.push_back(SplitChars(style.Utf8 ? glyph : AsciiGlyph(glyph)));
    } else if (auto* bar = dynamic_cast<const TProgressBar*>(c)) {
      int inner = style.Utf8 ? cols : std::max(1, cols - 2);
      int filled = static_cast<int>(std::floor(bar->Fraction() * inner + 1e-9));
      std::vector<std::string> line;
      if (!style.Utf8) line.emplace_back("[");
      for (int k = 0; k < inner; ++k) line.emplace_back(k < filled ? (style.Utf8 ? "\u2588" : "#") : (style.Utf8 ? "\u2591" : "-"));
      if (!style.Utf8) line.emplace_back("]");
      it.lines.push_back(std::move(line));
    } else if (auto* button = dynamic_cast<const TButton*>(c)) {
      if (!button->Enabled()) continue;
      std::string text = "[ " + UTF8Encode(StripAccelerator(button->Caption())) + " ]";
      std::string keys = PanelKeysOf(*button);
      if (!keys.empty()) text += " " + keys;
      it.lines.push_back(SplitChars(text));
      it.right = true;
    } else if (auto* w = dynamic_cast<const TWinControl*>(c)) {
      Collect(*w, style, scale, items);
      continue;
    } else {
      continue;
    }
    items.push_back(std::move(it));
  }
}

}  // namespace

std::string PanelKeysOf(const TButton& button) {
  std::string keys;
  Char key = AcceleratorOf(button.Caption());
  if (key) {
    Char lower = key >= u'A' && key <= u'Z' ? static_cast<Char>(key + 32) : key;
    keys = UTF8Encode(String(1, lower));
  }
  if (button.Cancel()) keys += keys.empty() ? "Esc" : " or Esc";
  return keys.empty() ? keys : "(" + keys + ")";
}

std::vector<std::string> RenderPanel(const TForm& form, const TPanelStyle& style) {
  const int columns = std::max(style.Columns, 20) - 1;
  // A first pass finds the leftmost control that shows anything, so the empty
  // margin a side picture leaves does not cost columns.
  std::vector<Item> items;
  double scale = std::min(static_cast<double>(columns) / std::max(form.ClientWidth(), 1), 1.0 / 6.0);
  Collect(form, style, scale, items);
  int origin = form.ClientWidth();
  for (const Item& it : items) origin = std::min(origin, it.left);
  if (origin >= form.ClientWidth()) origin = 0;
  int span = std::max(form.ClientWidth() - origin, 1);
  double fitted = std::min(static_cast<double>(columns - 1) / span, 1.0 / 6.0);
  if (std::abs(fitted - scale) > 1e-12) {
    items.clear();
    scale = fitted;
    Collect(form, style, scale, items);
  }
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    return a.top != b.top ? a.top < b.top : a.left < b.left;
  });

  auto toLine = [&](const std::vector<Cell>& cells) {
    std::string out;
    size_t end = cells.size();
    while (end > 0 && cells[end - 1].ch == " ") --end;
    bool bold = false;
    for (size_t i = 0; i < end; ++i) {
      if (style.Styled && cells[i].bold != bold) {
        out += cells[i].bold ? "\x1b[1m" : "\x1b[0m";
        bold = cells[i].bold;
      }
      out += cells[i].ch;
    }
    if (bold) out += "\x1b[0m";
    return out;
  };

  std::vector<std::string> lines;
  {
    std::vector<Cell> title;
    std::string caption = UTF8Encode(form.Caption());
    for (const std::string& ch : SplitChars(caption.empty() ? std::string("Status") : caption)) {
      if (static_cast<int>(title.size()) >= columns) break;
      title.push_back({ch, true});
    }
    lines.push_back(toLine(title));
    std::vector<Cell> rule(static_cast<size_t>(std::min(columns, static_cast<int>(std::lround(span * scale)) + 2)),
                           Cell{style.Utf8 ? "\u2500" : "-", false});
    lines.push_back(toLine(rule));
  }

  int previousBottom = -1;
  for (size_t first = 0; first < items.size();) {
    // A row: the items whose tops lie within a few pixels of the first one's.
    size_t last = first + 1;
    while (last < items.size() && items[last].top < items[first].top + 8) ++last;
    std::sort(items.begin() + static_cast<std::ptrdiff_t>(first), items.begin() + static_cast<std::ptrdiff_t>(last),
              [](const Item& a, const Item& b) { return a.left < b.left; });
    size_t height = 0;
    for (size_t k = first; k < last; ++k) height = std::max(height, items[k].lines.size());
    // A gap in the form is a blank line on the terminal.
    if (previousBottom >= 0 && items[first].top - previousBottom >= 10) lines.emplace_back();
    std::vector<std::vector<Cell>> rows(height, std::vector<Cell>(static_cast<size_t>(columns)));
    int cursor = 0;
    for (size_t k = first; k < last; ++k) {
      const Item& it = items[k];
      int col = static_cast<int>(std::lround((it.left - origin) * scale)) + 1;
      int box = std::max(1, static_cast<int>(std::lround(it.width * scale)));
      int limit = columns;  // the last item may run to the end of the line
      if (k + 1 < last) limit = std::max(static_cast<int>(std::lround((items[k + 1].left - origin) * scale)), col + box);
      int floor = cursor > 0 ? cursor + 1 : 0;
      int start = std::max(col, floor);
      int end = start;
      for (size_t li = 0; li < it.lines.size(); ++li) {
        const auto& chars = it.lines[li];
        int len = static_cast<int>(chars.size());
        int s = start;
        // Right-aligned text keeps its right edge, spilling left while there is room.
        if (it.right) s = std::max(floor, col + box - len);
        int room = std::max(limit - s, 0);
        for (int x = 0; x < std::min(len, room); ++x) {
          bool cut = len > room && x == room - 1;
          rows[li][static_cast<size_t>(s + x)] = {cut ? (style.Utf8 ? "\u2026" : "~") : chars[static_cast<size_t>(x)], it.bold};
        }
        end = std::max(end, s + std::min(len, room));
      }
      cursor = std::max(cursor, end);
      previousBottom = std::max(previousBottom, it.top + static_cast<int>(it.lines.size()) * kLineHeight);
    }
    for (auto& r : rows) lines.push_back(toLine(r));
    first = last;
  }
  return lines;
}

bool TerminalTakesEscapes(int fd) {
  if (isatty(fd) != 1) return false;
  const char* term = std::getenv("TERM");
  return term && *term && std::strcmp(term, "dumb") != 0;
}

}  // namespace ktinet
