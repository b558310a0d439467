// ktinet util: the text and file utilities of unit ktiutil from the command line.
#include <fstream>
#include <iostream>
#include <sstream>

#include "Cli.h"
#include "Files.h"
#include "core/ktiutil.h"
#include "rtl/Exceptions.h"

namespace ktinet::cli {
namespace {

// Hex digits, blanks between byte pairs allowed ("c3a9", "c3 a9", "C3:A9" is not).
std::string ParseHex(const std::string& text) {
  auto digit = [](char h) -> int {
    if (h >= '0' && h <= '9') return h - '0';
    if (h >= 'a' && h <= 'f') return h - 'a' + 10;
    if (h >= 'A' && h <= 'F') return h - 'A' + 10;
    return -1;
  };
  std::string bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n') {
      if (high >= 0) throw UsageError("odd number of hex digits in '" + text + "'");
      continue;
    }
    int d = digit(c);
    if (d < 0) throw UsageError("'" + text + "' is not hex (byte values such as c3a9)");
    if (high < 0) {
      high = d;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + d));
      high = -1;
    }
  }
  if (high >= 0) throw UsageError("odd number of hex digits in '" + text + "'");
  return bytes;
}

// The single positional argument, or the bytes of --file when that is given instead.
std::string InputOf(const Args& a, size_t first) {
  if (auto file = a.Get("--file")) {
    a.ExpectPositional(first, first);
    return ReadInputFile(*file);
  }
  a.ExpectPositional(first + 1, first + 1);
  return a.Positional()[first];
}

int Run(const Args& a) {
  if (a.Positional().empty()) throw UsageError("missing action (base64, utf8decode, html, column, reverse, content-type)");
  const std::string& action = a.Positional()[0];
  if (action != "base64" && action != "utf8decode" && a.Has("--file"))
    throw UsageError("--file goes with base64 and utf8decode only");
  if (action == "base64") {
    std::cout << Encode64(std::string_view(InputOf(a, 1))) << "\n";
    return kExitOk;
  }
  if (action == "utf8decode") {
    std::string bytes = a.Has("--file") ? InputOf(a, 1) : ParseHex(InputOf(a, 1));
    std::u16string text;
    if (!Utf8Decode(bytes, text)) throw Exception("the bytes are not well-formed UTF-8 (truncated sequence or bad continuation byte)");
    std::cout << UTF8Encode(text) << "\n";
    return kExitOk;
  }
  if (action == "html") {
    a.ExpectPositional(2, 2);
    String s = UTF8ToString(a.Positional()[1]);
    ReplaceHTMLChars(s);
    std::cout << UTF8Encode(s) << "\n";
    return kExitOk;
  }
  if (action == "column") {
    a.ExpectPositional(4, 4);
    const auto& p = a.Positional();
    long index;
    try {
      size_t used = 0;
      index = std::stol(p[2], &used);
      if (used != p[2].size() || index < 0 || index > 1000000) throw std::out_of_range("index");
    } catch (const std::exception&) {
      throw UsageError("INDEX wants a whole number from 0, not '" + p[2] + "'");
    }
    String delim = UTF8ToString(Unescape(p[3]));
    if (delim.size() != 1) throw UsageError("DELIM must be one character, not '" + p[3] + "'");
    std::cout << UTF8Encode(GetColumn(UTF8ToString(p[1]), static_cast<int>(index), delim[0])) << "\n";
    return kExitOk;
  }
  if (action == "reverse") {
    a.ExpectPositional(2, 2);
    std::cout << UTF8Encode(Reverse(UTF8ToString(a.Positional()[1]))) << "\n";
    return kExitOk;
  }
  if (action == "content-type") {
    a.ExpectPositional(2, 2);
    std::cout << UTF8Encode(ContentTypeByFile(UTF8ToString(a.Positional()[1]))) << "\n";
    return kExitOk;
  }
  throw UsageError("unknown action '" + action + "'");
}

KTINET_COMMAND(Command{
    "util",
    "text utilities: Base64, UTF-8 decoding, HTML entities, columns, content types",
    "Usage: ktinet util ACTION ARGS\n"
    "\n"
    "Runs one text utility of the library and prints its result as one line of UTF-8.\n"
    "\n"
    "Actions:\n"
    "  base64 TEXT | --file F      Base64 of the bytes of TEXT (as typed, UTF-8) or of file F\n"
    "                              (\"-\": standard input), one line, '=' padded\n"
    "  utf8decode HEX | --file F   decodes UTF-8 given as hex bytes (\"c3a9\" or \"c3 a9\") or the\n"
    "                              bytes of file F; fails when truncated or malformed\n"
    "  html TEXT                   replaces named HTML entities (&lt; &amp; &nbsp; ...); the first\n"
    "                              unknown entity stops the replacing\n"
    "  column TEXT INDEX DELIM     field INDEX (from 0) of TEXT split at DELIM, one character\n"
    "                              (\\t for a tab); empty fields count\n"
    "  reverse TEXT                TEXT from last character to first\n"
    "  content-type FILE           MIME type of FILE's extension from /etc/mime.types and\n"
    "                              ~/.mime.types (application/octet-stream when unknown);\n"
    "                              the file need not exist\n"
    "\n"
    "Put \"--\" before a TEXT that starts with '-'.\n"
    "Exit codes: 0 done, 1 failed (malformed UTF-8, unreadable file), 2 bad usage.\n",
    {{"--file", "", true}},
    Run,
});

}  // namespace
}  // namespace ktinet::cli
