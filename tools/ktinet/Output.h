// Text from the network on its way to the user: decoded to UTF-8 and stripped of the power to
// drive the terminal. A file name, feed title or caption holding ESC ] 2 ; ... BEL would
// otherwise retitle the window, clear the screen or hide what follows.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/ktiutil.h"
#include "rtl/System.h"

namespace ktinet::cli {

// Texts read "one character per byte" hold UTF-8 when the server sent UTF-8; otherwise each byte
// stands for itself (the Latin-1 reading). UTF-16 texts are encoded as they are.
inline std::string NetworkText(const String& s) {
  for (Char c : s)
    if (c > 0xFF) return UTF8Encode(s);
  std::string bytes = StringToBytes(s);
  std::u16string decoded;
  return Utf8Decode(std::string_view(bytes), decoded) ? bytes : UTF8Encode(s);
}

enum class LineBreaks {
  kEscape,  // one item per line: CR, LF and tab shown as \r \n \t
  kKeep,    // a whole answer: LF, CR LF and tab kept, a lone CR (which would overprint) escaped
};

// `text` (UTF-8 or raw bytes) with its control characters (C0, DEL, and C1 written in UTF-8) shown
// as \xHH escapes, so that printing it cannot move the cursor or start an escape sequence.
// `escapeBackslash` makes the escapes unambiguous, for output that is read back.
inline std::string EscapeControls(std::string_view text, LineBreaks breaks = LineBreaks::kEscape,
                                  bool escapeBackslash = false) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool keep = breaks == LineBreaks::kKeep;
    if (c == '\\' && escapeBackslash) {
      out += "\\\\";
    } else if (c == '\n') {
      out += keep ? "\n" : "\\n";
    } else if (c == '\t') {
      out += keep ? "\t" : "\\t";
    } else if (c == '\r') {
      out += keep && i + 1 < text.size() && text[i + 1] == '\n' ? "\r" : "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\xc2\\x%02x", static_cast<unsigned char>(text[++i]));
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A network text for one line of output: decoded, then escaped.
inline std::string Shown(const String& s) { return EscapeControls(NetworkText(s)); }

inline bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

}  // namespace ktinet::cli

#include "rtl/DateTime.h"

namespace ktinet::cli {

// A UTC time in ISO 8601 with its zone: 2026-12-07T15:20:47Z (with milliseconds: ...47.250Z).
inline std::string IsoUtc(TDateTime utc, bool milliseconds = false) {
  return UTF8Encode(FormatDateTime(u"yyyy-mm-dd", utc) + u"T" +
                    FormatDateTime(milliseconds ? u"hh:nn:ss.zzz" : u"hh:nn:ss", utc) + u"Z");
}

}  // namespace ktinet::cli

namespace ktinet::cli {

// Output lines stay within a classic terminal's width.
constexpr size_t kColumns = 80;

// Columns a UTF-8 text takes (one per character: the program prints no wide characters of its
// own).
inline size_t Columns(std::string_view utf8) {
  size_t n = 0;
  for (char c : utf8)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

// `text` word-wrapped within kColumns: the first line starts with `lead` (and a blank unless the
// lead ends in one), the others with `indent`. A word longer than a whole line is cut where the
// line ends.
inline std::string Wrapped(const std::string& lead, std::string_view text, const std::string& indent) {
  std::string out = lead, line = lead;
  size_t at = 0;
  // A lead that ends in a blank has its own gap before the text.
  bool lineHasWord = !lead.empty() && lead.back() != ' ';
  while (at < text.size()) {
    const size_t end = std::min(text.find(' ', at), text.size());
    std::string_view word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty()) continue;
    for (;;) {
      const size_t used = Columns(line) + (lineHasWord ? 1 : 0);
      const size_t room = used + 1 < kColumns ? kColumns - 1 - used : 0;
      if (Columns(word) <= room) {
        const std::string piece = (lineHasWord ? " " : "") + std::string(word);
        out += piece;
        line += piece;
        lineHasWord = true;
        break;
      }
      if (lineHasWord || Columns(line) > indent.size()) {
        out += "\n" + indent;
        line = indent;
        lineHasWord = false;
        continue;
      }
      // A word wider than a whole line: as much as fits, then the rest on the next.
      size_t cut = 0, cols = 0;
      while (cut < word.size() && (cols < room || cut == 0)) {
        ++cut;
        while (cut < word.size() && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80) ++cut;
        ++cols;
      }
      out += std::string(word.substr(0, cut)) + "\n" + indent;
      line = indent;
      word = word.substr(cut);
      if (word.empty()) break;
    }
  }
  return out;
}

// A command's help text fitted within kColumns. Lines that fit stay as written. A paragraph of
// prose (lines at the left margin) with a line too long is flowed again as a whole; a longer
// indented line (an option and its description) wraps under its description column; a long
// usage line wraps under its first argument.
inline std::string FitHelp(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t nl = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  auto tooLong = [](const std::string& l) { return Columns(l) >= kColumns; };
  auto prose = [](const std::string& l) { return !l.empty() && l[0] != ' ' && l.rfind("Usage:", 0) != 0; };
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (prose(line)) {
      size_t end = i;
      bool flow = false;
      while (end < lines.size() && prose(lines[end]) && lines[end].back() != ':') flow = tooLong(lines[end++]) || flow;
      if (flow) {
        std::string joined;
        for (size_t k = i; k < end; ++k) joined += (k > i ? " " : "") + lines[k];
        out += Wrapped("", joined, "") + "\n";
        i = end - 1;
        continue;
      }
    }
    // An indented line and the lines that continue it under the same column are one block.
    size_t end = i + 1;
    bool flow = tooLong(line);
    std::string block = line;
    const bool opens = !line.empty() && (line[0] == ' ' || line.rfind("Usage:", 0) == 0);
    while (opens && end < lines.size() && !lines[end].empty() && lines[end][0] == ' ' && line.find_first_not_of(' ') !=
           lines[end].find_first_not_of(' ') && lines[end].find("  ", lines[end].find_first_not_of(' ')) == std::string::npos) {
      flow = tooLong(lines[end]) || flow;
      block += " " + lines[end].substr(lines[end].find_first_not_of(' '));
      ++end;
    }
    if (!flow) {
      out += line + "\n";
      continue;
    }
    i = end - 1;
    const std::string& joined = block;
    size_t indent = line.find_first_not_of(' ');
    if (line.rfind("Usage:", 0) == 0) {
      // Under the first word after "Usage: ktinet NAME".
      size_t words = 0, at = 0;
      while (words < 3 && at < line.size()) {
        at = line.find(' ', at);
        if (at == std::string::npos) break;
        at = line.find_first_not_of(' ', at);
        ++words;
      }
      indent = words == 3 && at != std::string::npos ? at : 7;
    } else if (size_t gap = line.find("  ", indent); gap != std::string::npos) {
      indent = line.find_first_not_of(' ', gap);
    }
    if (indent == std::string::npos || indent > kColumns / 2) indent = 4;
    out += Wrapped(joined.substr(0, indent), std::string_view(joined).substr(indent), std::string(indent, ' ')) + "\n";
  }
  if (!text.empty() && text.back() != '\n' && !out.empty()) out.pop_back();
  return out;
}

}  // namespace ktinet::cli
