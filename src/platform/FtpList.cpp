#include "platform/FtpList.h"

#include <cstring>

#include "rtl/DateTime.h"

namespace ktinet {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t'; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// Digits only, at most 18 of them, so the value cannot overflow.
bool ParseNumber(std::string_view s, Int64& out) {
  if (s.empty() || s.size() > 18) return false;
  Int64 v = 0;
  for (char c : s) {
    if (!IsDigit(c)) return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

bool ParseFixed(std::string_view s, size_t at, size_t count, int& out) {
  if (at + count > s.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!IsDigit(s[i])) return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm), so no call
// depends on the process's time zone.
Int64 DaysFromCivil(Int64 y, unsigned m, unsigned d) {
  y -= m <= 2;
  const Int64 era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<Int64>(doe) - 719468;
}

bool ValidDate(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1601 || year > 9999 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 60)
    return false;
  return day <= DaysInAMonth(static_cast<Word>(year), static_cast<Word>(month));
}

bool MakeTime(int year, int month, int day, int hour, int minute, int second, int msec, FILETIME& out) {
  if (!ValidDate(year, month, day, hour, minute, second)) return false;
  Int64 secs = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
               minute * 60 + (second == 60 ? 59 : second);
  // 100-ns units since 1601-01-01: 11644473600 seconds lie between 1601 and 1970.
  Int64 ticks = (secs + 11644473600LL) * 10000000LL + static_cast<Int64>(msec) * 10000;
  out = Int64ToFileTime(ticks);
  return true;
}

String DecodeName(std::string_view bytes) {
  // Valid UTF-8 round-trips through the decoder; anything else is kept one character per byte.
  String s = UTF8ToString(bytes);
  if (UTF8Encode(s) == bytes) return s;
  return BytesToString(bytes);
}

int MonthOf(std::string_view token) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  if (token.size() < 3) return 0;
  // "Sept" and other longer forms appear on some servers.
  for (int i = 0; i < 12; ++i)
    if (EqualsNoCase(token.substr(0, 3), kMonths[i]) && (token.size() == 3 || token.size() == 4)) return i + 1;
  return 0;
}

struct Token {
  std::string_view text;
  size_t begin;  // offset in the line
  size_t end;
};

std::vector<Token> Split(std::string_view line, size_t maxTokens) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < line.size() && out.size() < maxTokens) {
    while (i < line.size() && IsSpace(line[i])) ++i;
    if (i >= line.size()) break;
    size_t b = i;
    while (i < line.size() && !IsSpace(line[i])) ++i;
    out.push_back({line.substr(b, i - b), b, i});
  }
  return out;
}

// The rest of the line after the token ended at `end`, skipping the separating blanks; names
// may themselves contain blanks.
std::string_view RestAfter(std::string_view line, size_t end) {
  size_t i = end;
  while (i < line.size() && IsSpace(line[i])) ++i;
  return line.substr(i);
}

bool ParseUnix(std::string_view line, std::time_t now, TFtpListEntry& entry) {
  char kind = line[0];
  if (std::strchr("-dlbcps", kind) == nullptr || line.size() < 10) return false;
  std::vector<Token> tokens = Split(line, 12);
  // Find "Mon DD (YYYY|HH:MM)" with a size just before it; owner and group columns vary.
  for (size_t m = 2; m + 2 < tokens.size(); ++m) {
    int month = MonthOf(tokens[m].text);
    Int64 day = 0, size = 0;
    if (month == 0 || !ParseNumber(tokens[m + 1].text, day) || day < 1 || day > 31) continue;
    if (!ParseNumber(tokens[m - 1].text, size)) continue;
    std::string_view yt = tokens[m + 2].text;
    int year = 0, hour = 0, minute = 0;
    Int64 y64 = 0;
    if (yt.size() == 5 && yt[2] == ':') {
      if (!ParseFixed(yt, 0, 2, hour) || !ParseFixed(yt, 3, 2, minute)) continue;
      struct tm t {};
      gmtime_r(&now, &t);
      year = t.tm_year + 1900;
      FILETIME probe, limit = UnixToFileTime(now + 86400);
      if (MakeTime(year, month, static_cast<int>(day), hour, minute, 0, 0, probe) &&
          FileTimeToInt64(probe) > FileTimeToInt64(limit))
        --year;
    } else if (ParseNumber(yt, y64) && yt.size() == 4) {
      year = static_cast<int>(y64);
    } else {
      continue;
    }
    std::string_view name = RestAfter(line, tokens[m + 2].end);
    if (kind == 'l') {
      size_t arrow = name.find(" -> ");
      if (arrow != std::string_view::npos) name = name.substr(0, arrow);
    }
    if (name.empty()) return false;
    entry = TFtpListEntry{};
    entry.Name = DecodeName(name);
    entry.IsDirectory = kind == 'd';
    entry.IsLink = kind == 'l';
    entry.HasSize = true;
    entry.Size = size;
    entry.HasTime = MakeTime(year, month, static_cast<int>(day), hour, minute, 0, 0, entry.LastWriteTime);
    return true;
  }
  return false;
}

// "MM-DD-YY  HH:MM(AM|PM)  (<DIR>|size)  name"; the year may have four digits, the time 24 hours.
bool ParseDos(std::string_view line, TFtpListEntry& entry) {
  std::vector<Token> tokens = Split(line, 3);
  if (tokens.size() < 3) return false;
  std::string_view d = tokens[0].text, t = tokens[1].text;
  int month = 0, day = 0, year = 0, hour = 0, minute = 0;
  if (d.size() != 8 && d.size() != 10) return false;
  if ((d[2] != '-' && d[2] != '/') || d[5] != d[2]) return false;
  if (!ParseFixed(d, 0, 2, month) || !ParseFixed(d, 3, 2, day) || !ParseFixed(d, 6, d.size() - 6, year)) return false;
  if (d.size() == 8) year += year < 70 ? 2000 : 1900;
  if (t.size() < 5 || t[2] != ':' || !ParseFixed(t, 0, 2, hour) || !ParseFixed(t, 3, 2, minute)) return false;
  std::string_view ampm = t.substr(5);
  if (!ampm.empty()) {
    if (hour < 1 || hour > 12) return false;
    if (EqualsNoCase(ampm, "PM")) {
      if (hour != 12) hour += 12;
    } else if (EqualsNoCase(ampm, "AM")) {
      if (hour == 12) hour = 0;
    } else {
      return false;
    }
  }
  std::string_view rest = RestAfter(line, tokens[1].end);
  size_t sizeEnd = 0;
  while (sizeEnd < rest.size() && !IsSpace(rest[sizeEnd])) ++sizeEnd;
  std::string_view sizeText = rest.substr(0, sizeEnd);
  std::string_view name = RestAfter(rest, sizeEnd);
  if (name.empty()) return false;
  entry = TFtpListEntry{};
  if (EqualsNoCase(sizeText, "<DIR>")) {
    entry.IsDirectory = true;
  } else {
    Int64 size = 0;
    if (!ParseNumber(sizeText, size)) return false;
    entry.HasSize = true;
    entry.Size = size;
  }
  entry.Name = DecodeName(name);
  entry.HasTime = MakeTime(year, month, day, hour, minute, 0, 0, entry.LastWriteTime);
  return true;
}

}  // namespace

bool ParseMlsdLine(std::string_view line, TFtpListEntry& entry) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  size_t space = line.find(' ');
  if (space == std::string_view::npos || space + 1 >= line.size()) return false;
  std::string_view facts = line.substr(0, space), name = line.substr(space + 1);
  TFtpListEntry e;
  bool typed = false;
  while (!facts.empty()) {
    size_t semi = facts.find(';');
    std::string_view fact = facts.substr(0, semi);
    facts = semi == std::string_view::npos ? std::string_view() : facts.substr(semi + 1);
    size_t eq = fact.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = fact.substr(0, eq), value = fact.substr(eq + 1);
    if (EqualsNoCase(key, "type")) {
      typed = true;
      if (EqualsNoCase(value, "dir")) {
        e.IsDirectory = true;
      } else if (EqualsNoCase(value, "cdir")) {
        e.IsDirectory = true;
        name = ".";
      } else if (EqualsNoCase(value, "pdir")) {
        e.IsDirectory = true;
        name = "..";
      } else if (value.size() > 8 && EqualsNoCase(value.substr(0, 8), "OS.unix=")) {
        // "OS.unix=symlink" or "OS.unix=slink:/target": a link, shown as a file.
        e.IsLink = true;
      }
    } else if (EqualsNoCase(key, "size") || (EqualsNoCase(key, "sizd") && !e.HasSize)) {
      Int64 size = 0;
      if (ParseNumber(value, size)) {
        e.HasSize = true;
        e.Size = size;
      }
    } else if (EqualsNoCase(key, "unique")) {
      // An identifier longer than this is no identifier a server would make; it is ignored.
      if (!value.empty() && value.size() <= 128) e.Unique = std::string(value);
    } else if (EqualsNoCase(key, "modify")) {
      int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
      if (value.size() >= 14 && ParseFixed(value, 0, 4, y) && ParseFixed(value, 4, 2, mo) &&
          ParseFixed(value, 6, 2, d) && ParseFixed(value, 8, 2, h) && ParseFixed(value, 10, 2, mi) &&
          ParseFixed(value, 12, 2, s)) {
        if (value.size() > 15 && value[14] == '.') {
          // Fractions of any length: the first three digits are milliseconds.
          std::string_view frac = value.substr(15, 3);
          int f = 0;
          if (ParseFixed(frac, 0, frac.size(), f)) {
            for (size_t k = frac.size(); k < 3; ++k) f *= 10;
            ms = f;
          }
        }
        e.HasTime = MakeTime(y, mo, d, h, mi, s, ms, e.LastWriteTime);
      }
    }
  }
  if (!typed || name.empty()) return false;
  e.Name = DecodeName(name);
  entry = e;
  return true;
}

bool ParseListLine(std::string_view line, std::time_t now, TFtpListEntry& entry) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.empty()) return false;
  if (IsDigit(line[0])) return ParseDos(line, entry);
  return ParseUnix(line, now, entry);
}

std::vector<TFtpListEntry> ParseFtpListing(std::string_view text, bool mlsd, std::time_t now, size_t maxEntries,
                                           bool* truncated) {
  std::vector<TFtpListEntry> out;
  if (truncated) *truncated = false;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    TFtpListEntry e;
    if (!(mlsd ? ParseMlsdLine(line, e) : ParseListLine(line, now, e))) continue;
    if (out.size() >= maxEntries) {
      if (truncated) *truncated = true;
      break;
    }
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace ktinet
