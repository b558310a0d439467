#include "rtl/SysUtils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "rtl/DateTime.h"

namespace ktinet {

namespace {

// ---- character classes ----------------------------------------------------------------

Char AsciiUpper(Char c) { return (c >= u'a' && c <= u'z') ? Char(c - 32) : c; }
Char AsciiLower(Char c) { return (c >= u'A' && c <= u'Z') ? Char(c + 32) : c; }

// Letters of Windows-1252: ASCII, the Latin-1 block and the few extra ones in 0x80..0x9F.
Char AnsiUpper(Char c) {
  if (c < 0x80) return AsciiUpper(c);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return Char(c - 32);
  switch (c) {
    case 0xFF: return 0x0178;
    case 0x0161: return 0x0160;
    case 0x0153: return 0x0152;
    case 0x017E: return 0x017D;
    default: return c;
  }
}

Char AnsiLower(Char c) {
  if (c < 0x80) return AsciiLower(c);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return Char(c + 32);
  switch (c) {
    case 0x0178: return 0xFF;
    case 0x0160: return 0x0161;
    case 0x0152: return 0x0153;
    case 0x017D: return 0x017E;
    default: return c;
  }
}

String Ascii(const char* s) {
  String r;
  while (*s) r.push_back(Char(static_cast<unsigned char>(*s++)));
  return r;
}

std::string Path8(const String& s) { return UTF8Encode(s); }

// ---- Format ---------------------------------------------------------------------------

[[noreturn]] void FormatError(const String& fmt) {
  throw EConvertError(u"Format '" + fmt + u"' invalid or incompatible with argument");
}

// A decimal view of a double: digits "d1d2..." meaning 0.d1d2... x 10^(Exp+1), i.e. d1 is at 10^Exp.
struct Decimal {
  bool Negative = false;
  std::string Digits;  // no leading zeros; "0" only for zero, with Exp 0
  int Exp = 0;
};

// Significant digits of `v`. A double carries 15 reliable digits, so the text is taken at 15 and
// rounded from there in decimal, half away from zero: 0.125 with two decimals gives 0.13 and
// 2.675 gives 2.68, as a reader of the decimal text expects.
Decimal ToDecimal(double v, int digits = 15) {
  Decimal d;
  d.Negative = std::signbit(v);
  v = std::fabs(v);
  if (v == 0) {
    d.Digits = "0";
    return d;
  }
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, digits - 1);
  std::string text(buf, res.ptr);
  size_t e = text.find('e');
  for (size_t i = 0; i < e; ++i)
    if (text[i] != '.') d.Digits.push_back(text[i]);
  d.Exp = std::atoi(text.c_str() + e + 1);
  return d;
}

// Keeps `keep` significant digits (may be <= 0), rounding half up in decimal.
void RoundDigits(Decimal& d, int keep) {
  if (d.Digits == "0") return;
  if (keep >= static_cast<int>(d.Digits.size())) return;
  if (keep < 0) {
    d.Digits = "0";
    d.Exp = 0;
    return;
  }
  bool up = d.Digits[keep] >= '5';
  d.Digits.resize(keep);
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.Digits[i] == '9') d.Digits[i--] = '0';
    if (i >= 0) {
      ++d.Digits[i];
    } else {
      d.Digits.insert(d.Digits.begin(), '1');
      ++d.Exp;
    }
  }
  while (d.Digits.size() > 1 && d.Digits.back() == '0') d.Digits.pop_back();
  if (d.Digits.empty() || d.Digits == "0") {
    d.Digits = "0";
    d.Exp = 0;
  }
}

bool IsZero(const Decimal& d) { return d.Digits == "0"; }

std::string Grouped(const std::string& intPart) {
  std::string r;
  int n = static_cast<int>(intPart.size());
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) r.push_back(',');
    r.push_back(intPart[i]);
  }
  return r;
}

// Fixed notation without sign: integer part (optionally grouped) and `prec` decimals.
std::string FixedText(double v, int prec, bool thousands, bool& negative) {
  Decimal d = ToDecimal(v);
  RoundDigits(d, d.Exp + 1 + prec);
  negative = d.Negative && !IsZero(d);
  std::string intPart, frac;
  for (int p = std::max(d.Exp, 0); p >= 0; --p) {
    int idx = d.Exp - p;
    intPart.push_back(idx >= 0 && idx < static_cast<int>(d.Digits.size()) && !IsZero(d) ? d.Digits[idx] : '0');
  }
  for (int p = 1; p <= prec; ++p) {
    int idx = d.Exp + p;
    frac.push_back(idx >= 0 && idx < static_cast<int>(d.Digits.size()) && !IsZero(d) ? d.Digits[idx] : '0');
  }
  std::string r = thousands ? Grouped(intPart) : intPart;
  if (prec > 0) r += "." + frac;
  return r;
}

std::string ExponentText(int e, int minDigits, bool plusSign) {
  std::string digits = std::to_string(std::abs(e));
  while (static_cast<int>(digits.size()) < minDigits) digits.insert(digits.begin(), '0');
  return std::string("E") + (e < 0 ? "-" : (plusSign ? "+" : "")) + digits;
}

// "d.ddd...E+ddd" with `prec` significant digits.
std::string ScientificText(double v, int prec, bool& negative) {
  Decimal d = ToDecimal(v, std::max(prec, 15));
  RoundDigits(d, prec);
  negative = d.Negative && !IsZero(d);
  std::string digits = d.Digits;
  digits.resize(prec, '0');
  std::string r(1, digits[0]);
  if (prec > 1) r += "." + digits.substr(1);
  return r + ExponentText(d.Exp, 3, true);
}

// The shortest text with `prec` significant digits; fixed while the integer part fits in `prec`
// digits and the value is at least 0.00001, scientific otherwise.
std::string GeneralText(double v, int prec, bool& negative) {
  Decimal d = ToDecimal(v, std::max(prec, 15));
  RoundDigits(d, prec);
  negative = d.Negative && !IsZero(d);
  if (IsZero(d)) return "0";
  std::string g = d.Digits;
  while (g.size() > 1 && g.back() == '0') g.pop_back();
  int n = static_cast<int>(g.size());
  if (d.Exp < prec && d.Exp >= -5) {
    if (d.Exp >= n - 1) return g + std::string(d.Exp - (n - 1), '0');
    if (d.Exp >= 0) return g.substr(0, d.Exp + 1) + "." + g.substr(d.Exp + 1);
    return "0." + std::string(-d.Exp - 1, '0') + g;
  }
  std::string r(1, g[0]);
  if (n > 1) r += "." + g.substr(1);
  return r + ExponentText(d.Exp, 0, false);
}

bool SpecialFloat(double v, std::string& out) {
  if (std::isnan(v)) {
    out = "NAN";
    return true;
  }
  if (std::isinf(v)) {
    out = v < 0 ? "-INF" : "INF";
    return true;
  }
  return false;
}

std::string UnsignedToText(unsigned long long v, int base, int minDigits) {
  std::string r;
  do {
    unsigned digit = static_cast<unsigned>(v % base);
    r.insert(r.begin(), static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10));
    v /= base;
  } while (v);
  if (static_cast<int>(r.size()) < minDigits) r.insert(0, minDigits - r.size(), '0');
  return r;
}

// An Integer argument within 32 bits is the framework's Integer: %u and %x show its 32-bit pattern.
unsigned long long BitPattern(const TVarRec& a) {
  if (a.kind() == TVarRec::Kind::Unsigned) return a.AsUInt();
  long long v = a.AsInt();
  if (v < 0 && v >= INT32_MIN) return static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
  return static_cast<unsigned long long>(v);
}

constexpr int kMaxWidth = 1 << 20;  // wider fields are taken as a broken format, not as a request for memory

}  // namespace

String Format(const String& fmt, std::initializer_list<TVarRec> args) {
  return Format(fmt, std::vector<TVarRec>(args));
}

String Format(const String& fmt, const std::vector<TVarRec>& args) {
  String out;
  size_t argIndex = 0;
  size_t i = 0;
  const size_t n = fmt.size();

  auto nextArg = [&]() -> const TVarRec& {
    if (argIndex >= args.size()) FormatError(fmt);
    return args[argIndex++];
  };
  // A number written in the format, or "*" taking it from the arguments; -1 when absent.
  auto readNumber = [&]() -> long long {
    if (i < n && fmt[i] == u'*') {
      ++i;
      const TVarRec& a = nextArg();
      if (a.kind() == TVarRec::Kind::Integer) return a.AsInt();
      if (a.kind() == TVarRec::Kind::Unsigned) return static_cast<long long>(std::min<unsigned long long>(a.AsUInt(), kMaxWidth + 1ull));
      FormatError(fmt);
    }
    if (i >= n || fmt[i] < u'0' || fmt[i] > u'9') return -1;
    long long v = 0;
    while (i < n && fmt[i] >= u'0' && fmt[i] <= u'9') {
      v = v * 10 + (fmt[i] - u'0');
      if (v > kMaxWidth) FormatError(fmt);
      ++i;
    }
    return v;
  };

  while (i < n) {
    Char c = fmt[i];
    if (c != u'%') {
      out.push_back(c);
      ++i;
      continue;
    }
    ++i;
    if (i >= n) FormatError(fmt);
    if (fmt[i] == u'%') {
      out.push_back(u'%');
      ++i;
      continue;
    }
    // [index:] - a number (or "*") followed by a colon; otherwise it was the width
    const size_t save = i, saveArg = argIndex;
    long long num = readNumber();
    if (num >= 0 && i < n && fmt[i] == u':') {
      argIndex = static_cast<size_t>(num);
      ++i;
    } else {
      i = save;
      argIndex = saveArg;
    }
    bool left = false;
    if (i < n && fmt[i] == u'-') {
      left = true;
      ++i;
    }
    const bool widthFromArgs = i < n && fmt[i] == u'*';
    long long width = readNumber();
    if (widthFromArgs && width < 0) {
      left = true;
      width = width < -kMaxWidth ? kMaxWidth + 1 : -width;
    }
    if (width > kMaxWidth) FormatError(fmt);
    long long prec = -1;
    if (i < n && fmt[i] == u'.') {
      ++i;
      prec = readNumber();
      if (prec < 0) prec = -1;
      if (prec > kMaxWidth) FormatError(fmt);
    }
    if (i >= n) FormatError(fmt);
    Char type = AsciiLower(fmt[i++]);
    const TVarRec& a = nextArg();
    using K = TVarRec::Kind;
    String field;
    switch (type) {
      case u'd': {
        if (a.kind() != K::Integer && a.kind() != K::Unsigned) FormatError(fmt);
        bool neg = a.kind() == K::Integer && a.AsInt() < 0;
        unsigned long long mag = a.kind() == K::Unsigned ? a.AsUInt()
                                 : neg ? 0ull - static_cast<unsigned long long>(a.AsInt())
                                       : static_cast<unsigned long long>(a.AsInt());
        field = Ascii(((neg ? "-" : "") + UnsignedToText(mag, 10, static_cast<int>(prec))).c_str());
        break;
      }
      case u'u':
      case u'x': {
        if (a.kind() != K::Integer && a.kind() != K::Unsigned) FormatError(fmt);
        field = Ascii(UnsignedToText(BitPattern(a), type == u'u' ? 10 : 16, static_cast<int>(prec)).c_str());
        break;
      }
      case u'p': {
        if (a.kind() != K::Pointer) FormatError(fmt);
        field = Ascii(UnsignedToText(a.AsUInt(), 16, 2 * static_cast<int>(sizeof(void*))).c_str());
        break;
      }
      case u's': {
        if (a.kind() != K::Text) FormatError(fmt);
        field = a.AsText();
        if (prec >= 0 && static_cast<size_t>(prec) < field.size()) field.resize(static_cast<size_t>(prec));
        break;
      }
      case u'f':
      case u'n':
      case u'm':
      case u'e':
      case u'g': {
        if (a.kind() != K::Float) FormatError(fmt);
        double v = a.AsFloat();
        std::string text;
        bool neg = false;
        if (!SpecialFloat(v, text)) {
          if (type == u'e' || type == u'g') {
            int p = prec < 0 ? 15 : static_cast<int>(std::clamp<long long>(prec, 1, 18));
            text = type == u'e' ? ScientificText(v, p, neg) : GeneralText(v, p, neg);
            if (neg) text.insert(text.begin(), '-');
          } else {
            int p = prec < 0 ? 2 : static_cast<int>(std::min<long long>(prec, 18));
            text = FixedText(v, p, type != u'f', neg);
            if (type == u'm')
              text = neg ? "($" + text + ")" : "$" + text;
            else if (neg)
              text.insert(text.begin(), '-');
          }
        }
        field = Ascii(text.c_str());
        break;
      }
      default:
        FormatError(fmt);
    }
    if (width > 0 && static_cast<size_t>(width) > field.size()) {
      String pad(static_cast<size_t>(width) - field.size(), u' ');
      field = left ? field + pad : pad + field;
    }
    out += field;
  }
  return out;
}

// ---- Text -----------------------------------------------------------------------------

String Trim(const String& s) { return TrimLeft(TrimRight(s)); }

String TrimLeft(const String& s) {
  size_t i = 0;
  while (i < s.size() && s[i] <= u' ') ++i;
  return s.substr(i);
}

String TrimRight(const String& s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] <= u' ') --n;
  return s.substr(0, n);
}

String UpperCase(const String& s) {
  String r(s);
  for (auto& c : r) c = AsciiUpper(c);
  return r;
}

String LowerCase(const String& s) {
  String r(s);
  for (auto& c : r) c = AsciiLower(c);
  return r;
}

String AnsiUpperCase(const String& s) {
  String r(s);
  for (auto& c : r) c = AnsiUpper(c);
  return r;
}

String AnsiLowerCase(const String& s) {
  String r(s);
  for (auto& c : r) c = AnsiLower(c);
  return r;
}

int CompareStr(const String& a, const String& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
  return static_cast<int>(a.size() > b.size()) - static_cast<int>(a.size() < b.size());
}

int CompareText(const String& a, const String& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    Char x = AsciiUpper(a[i]), y = AsciiUpper(b[i]);
    if (x != y) return static_cast<int>(x) - static_cast<int>(y);
  }
  return static_cast<int>(a.size() > b.size()) - static_cast<int>(a.size() < b.size());
}

bool SameText(const String& a, const String& b) { return a.size() == b.size() && CompareText(a, b) == 0; }
bool SameStr(const String& a, const String& b) { return a == b; }

bool StartsText(const String& prefix, const String& s) {
  return prefix.size() <= s.size() && AnsiUpperCase(s.substr(0, prefix.size())) == AnsiUpperCase(prefix);
}

bool EndsText(const String& suffix, const String& s) {
  return suffix.size() <= s.size() && AnsiUpperCase(s.substr(s.size() - suffix.size())) == AnsiUpperCase(suffix);
}

size_t Pos(const String& sub, const String& s, size_t offset) {
  if (sub.empty() || offset < 1 || offset > s.size()) return 0;
  size_t p = s.find(sub, offset - 1);
  return p == String::npos ? 0 : p + 1;
}

String Copy(const String& s, size_t index1, size_t count) {
  if (index1 < 1) index1 = 1;
  if (index1 > s.size()) return String();
  return s.substr(index1 - 1, count);
}

bool HasLineBreakOrNul(const String& Text) { return Text.find_first_of(String(u"\r\n\0", 3)) != String::npos; }

void CheckRequestText(const String& Text, const String& What) {
  size_t at = Text.find_first_of(String(u"\r\n\0", 3));
  if (at == String::npos) return;
  const Char* name = Text[at] == u'\r' ? u"a carriage return (CR)" : Text[at] == u'\n' ? u"a line feed (LF)" : u"a zero byte (NUL)";
  throw EConvertError(What + u" holds " + name + u" at character " + IntToStr(static_cast<long long>(at + 1)) +
                      u"; it cannot be sent in a request");
}

String StringReplace(const String& s, const String& oldPattern, const String& newPattern, unsigned flags) {
  if (oldPattern.empty()) return s;
  const bool ignoreCase = flags & rfIgnoreCase;
  const String hay = ignoreCase ? AnsiUpperCase(s) : s;
  const String needle = ignoreCase ? AnsiUpperCase(oldPattern) : oldPattern;
  String r;
  size_t from = 0;
  while (true) {
    size_t p = hay.find(needle, from);
    if (p == String::npos) break;
    r.append(s, from, p - from);
    r += newPattern;
    from = p + needle.size();
    if (!(flags & rfReplaceAll)) break;
  }
  r.append(s, from, String::npos);
  return r;
}

String QuotedStr(const String& s) {
  String r(1, u'\'');
  for (Char c : s) {
    r.push_back(c);
    if (c == u'\'') r.push_back(c);
  }
  r.push_back(u'\'');
  return r;
}

String StringOfChar(Char c, size_t count) { return String(count, c); }

String IntToStr(long long v) { return Ascii(std::to_string(v).c_str()); }
String UIntToStr(unsigned long long v) { return Ascii(std::to_string(v).c_str()); }
String IntToHex(unsigned long long v, int digits) { return Ascii(UnsignedToText(v, 16, digits).c_str()); }

namespace {

// The framework's Val: leading spaces, a sign, then decimal digits or "$"/"0x" hexadecimal.
// Hexadecimal may fill all `bits` (so "$FFFFFFFF" is -1 for 32 bits); decimal must fit the signed range.
bool ParseInteger(const String& s, int bits, long long& out) {
  size_t i = 0, n = s.size();
  while (i < n && s[i] == u' ') ++i;
  bool neg = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) neg = s[i++] == u'-';
  bool hex = false;
  if (i < n && s[i] == u'$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  unsigned long long v = 0;
  const unsigned long long hexMax = bits == 64 ? ~0ull : (1ull << bits) - 1;
  const unsigned long long decMax = (1ull << (bits - 1)) - 1 + (neg ? 1 : 0);
  for (; i < n; ++i) {
    Char c = s[i];
    unsigned d;
    if (c >= u'0' && c <= u'9')
      d = c - u'0';
    else if (hex && c >= u'a' && c <= u'f')
      d = c - u'a' + 10;
    else if (hex && c >= u'A' && c <= u'F')
      d = c - u'A' + 10;
    else
      return false;
    unsigned long long base = hex ? 16 : 10;
    unsigned long long limit = hex ? hexMax : decMax;
    if (v > (limit - d) / base) return false;
    v = v * base + d;
  }
  if (hex) {
    long long sv = bits == 64 ? static_cast<long long>(v) : static_cast<long long>(static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
    out = neg ? static_cast<long long>(0ull - static_cast<unsigned long long>(sv)) : sv;
    if (bits == 32) out = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long long>(out)));
  } else {
    out = neg ? static_cast<long long>(0ull - v) : static_cast<long long>(v);
  }
  return true;
}

[[noreturn]] void IntegerError(const String& s) { throw EConvertError(u"'" + s + u"' is not a valid integer value"); }

}  // namespace

bool TryStrToInt(const String& s, int& out) {
  long long v;
  if (!ParseInteger(s, 32, v)) return false;
  out = static_cast<int>(v);
  return true;
}

bool TryStrToInt64(const String& s, long long& out) { return ParseInteger(s, 64, out); }

int StrToInt(const String& s) {
  int v;
  if (!TryStrToInt(s, v)) IntegerError(s);
  return v;
}

long long StrToInt64(const String& s) {
  long long v;
  if (!TryStrToInt64(s, v)) IntegerError(s);
  return v;
}

int StrToIntDef(const String& s, int fallback) {
  int v;
  return TryStrToInt(s, v) ? v : fallback;
}

String FloatToStr(double v) {
  std::string text;
  if (SpecialFloat(v, text)) return Ascii(text.c_str());
  bool neg = false;
  text = GeneralText(v, 15, neg);
  return Ascii(((neg ? "-" : "") + text).c_str());
}

bool TryStrToFloat(const String& s, double& out) {
  const std::string text = UTF8Encode(s);
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (!end || *end != '\0' || !std::isfinite(v)) return false;
  out = v;
  return true;
}

String BoolToStr(bool b, bool useBoolStrs) {
  if (useBoolStrs) return b ? u"True" : u"False";
  return b ? u"-1" : u"0";
}

// ---- Files ----------------------------------------------------------------------------

namespace {

size_t LastDelim(const String& s) { return s.rfind(PathDelim); }

// Index of the extension's dot within the last component, or npos.
size_t ExtDot(const String& s) {
  size_t dot = s.rfind(u'.');
  if (dot == String::npos) return dot;
  size_t delim = LastDelim(s);
  if (delim != String::npos && delim > dot) return String::npos;
  return dot;
}

}  // namespace

String ChangeFileExt(const String& fileName, const String& ext) {
  size_t dot = ExtDot(fileName);
  return (dot == String::npos ? fileName : fileName.substr(0, dot)) + ext;
}

String ExtractFileName(const String& fileName) {
  size_t d = LastDelim(fileName);
  return d == String::npos ? fileName : fileName.substr(d + 1);
}

String ExtractFilePath(const String& fileName) {
  size_t d = LastDelim(fileName);
  return d == String::npos ? String() : fileName.substr(0, d + 1);
}

String ExtractFileDir(const String& fileName) {
  size_t d = LastDelim(fileName);
  if (d == String::npos) return String();
  // the root keeps its delimiter: the directory of "/etc" is "/"
  if (d == 0 || fileName[d - 1] == PathDelim) return fileName.substr(0, d + 1);
  return fileName.substr(0, d);
}

String ExtractFileExt(const String& fileName) {
  size_t dot = ExtDot(fileName);
  return dot == String::npos ? String() : fileName.substr(dot);
}

String IncludeTrailingPathDelimiter(const String& path) {
  if (!path.empty() && path.back() == PathDelim) return path;
  return path + PathDelim;
}

String ExcludeTrailingPathDelimiter(const String& path) {
  if (!path.empty() && path.back() == PathDelim) return path.substr(0, path.size() - 1);
  return path;
}

bool FileExists(const String& fileName) {
  struct stat st;
  return !fileName.empty() && ::stat(Path8(fileName).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const String& dir) {
  struct stat st;
  return !dir.empty() && ::stat(Path8(dir).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const String& fileName) { return ::unlink(Path8(fileName).c_str()) == 0; }

bool RenameFile(const String& oldName, const String& newName) {
  return ::rename(Path8(oldName).c_str(), Path8(newName).c_str()) == 0;
}

bool CreateDir(const String& dir) { return ::mkdir(Path8(dir).c_str(), 0777) == 0; }

bool ForceDirectories(const String& dir) {
  String d = ExcludeTrailingPathDelimiter(dir);
  if (d.empty()) return dir == u"/";
  if (DirectoryExists(d)) return true;
  String parent = ExtractFileDir(d);
  if (!parent.empty() && parent != d && !ForceDirectories(parent)) return false;
  return CreateDir(d) || (errno == EEXIST && DirectoryExists(d));
}

bool RemoveDir(const String& dir) { return ::rmdir(Path8(dir).c_str()) == 0; }

String GetCurrentDir() {
  std::string buf(256, '\0');
  while (!::getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) return String();
    buf.resize(buf.size() * 2);
  }
  return UTF8ToString(buf.c_str());
}

String ExpandFileName(const String& fileName) {
  if (fileName.empty()) return String();
  String full = fileName[0] == PathDelim ? fileName : IncludeTrailingPathDelimiter(GetCurrentDir()) + fileName;
  std::vector<String> parts;
  size_t i = 0;
  while (i <= full.size()) {
    size_t j = full.find(PathDelim, i);
    if (j == String::npos) j = full.size();
    String part = full.substr(i, j - i);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  String r;
  for (const auto& p : parts) r += PathDelim + p;
  if (r.empty()) r = u"/";
  // a name given with a trailing delimiter keeps it
  if (full.back() == PathDelim && r.back() != PathDelim) r.push_back(PathDelim);
  return r;
}

namespace {

std::vector<std::string> CommandLine() {
  std::vector<std::string> argv;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t i = 0;
  while (i < all.size()) {
    size_t z = all.find('\0', i);
    if (z == std::string::npos) z = all.size();
    argv.push_back(all.substr(i, z - i));
    i = z + 1;
  }
  return argv;
}

}  // namespace

String ParamStr(int index) {
  if (index == 0) {
    std::string buf(4096, '\0');
    ssize_t len = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (len > 0) return UTF8ToString(std::string_view(buf.data(), static_cast<size_t>(len)));
  }
  auto argv = CommandLine();
  if (index < 0 || static_cast<size_t>(index) >= argv.size()) return String();
  return UTF8ToString(argv[static_cast<size_t>(index)]);
}

int ParamCount() {
  auto argv = CommandLine();
  return argv.empty() ? 0 : static_cast<int>(argv.size()) - 1;
}

namespace {

// strerror_r has two shapes; overloads pick whichever the C library declares.
[[maybe_unused]] const char* ErrorText(int rc, const char* buf) { return rc == 0 ? buf : nullptr; }
[[maybe_unused]] const char* ErrorText(const char* text, const char*) { return text; }

}  // namespace

String SysErrorMessage(int errorCode) {
  char buf[256] = {0};
  const char* text = ErrorText(::strerror_r(errorCode, buf, sizeof buf), buf);
  if (!text || !*text) return u"Unknown error " + IntToStr(errorCode);
  return UTF8ToString(text);
}

int GetLastError() { return errno; }

String GetEnvironmentVariable(const String& name) {
  const char* v = std::getenv(UTF8Encode(name).c_str());
  return v ? UTF8ToString(v) : String();
}

String GetTempDir() {
  const char* t = std::getenv("TMPDIR");
  return IncludeTrailingPathDelimiter(UTF8ToString(t && *t ? t : "/tmp"));
}

bool CopyFile(const String& source, const String& dest, bool failIfExists) {
  const std::string src8 = Path8(source), dst8 = Path8(dest);
  int in = ::open(src8.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat sst;
  if (::fstat(in, &sst) != 0 || S_ISDIR(sst.st_mode)) {
    int e = S_ISDIR(sst.st_mode) ? EISDIR : errno;
    ::close(in);
    errno = e;
    return false;
  }
  // copying a file onto itself would truncate it before reading it
  struct stat dst;
  if (::stat(dst8.c_str(), &dst) == 0 && dst.st_dev == sst.st_dev && dst.st_ino == sst.st_ino) {
    ::close(in);
    errno = failIfExists ? EEXIST : EINVAL;
    return false;
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
  int out = ::open(dst8.c_str(), flags, sst.st_mode & 07777);
  if (out < 0) {
    int e = errno;
    ::close(in);
    errno = e;
    return false;
  }
  bool ok = true;
  char buf[65536];
  while (ok) {
    ssize_t r = ::read(in, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      ok = r == 0;
      break;
    }
    for (ssize_t done = 0; done < r;) {
      ssize_t w = ::write(out, buf + done, static_cast<size_t>(r - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
  }
  int e = errno;
  if (ok) {
    // the copy keeps the source's last-write time, as the system's file copy does
    struct timespec times[2] = {sst.st_atim, sst.st_mtim};
    ::futimens(out, times);
  }
  if (::close(out) != 0 && ok) {
    ok = false;
    e = errno;
  }
  ::close(in);
  if (!ok) {
    ::unlink(dst8.c_str());
    errno = e;
  }
  return ok;
}

Int64 FileSizeOf(const String& fileName) {
  struct stat st;
  if (::stat(Path8(fileName).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<Int64>(st.st_size);
}

// ---- File search ----------------------------------------------------------------------

namespace {

bool MatchFrom(const String& name, size_t ni, const String& mask, size_t mi) {
  // iterative wildcard match with backtracking to the last '*'
  size_t starM = String::npos, starN = 0;
  while (ni < name.size()) {
    if (mi < mask.size() && (mask[mi] == u'?' || AnsiUpper(mask[mi]) == AnsiUpper(name[ni]))) {
      ++mi;
      ++ni;
    } else if (mi < mask.size() && mask[mi] == u'*') {
      starM = mi++;
      starN = ni;
    } else if (starM != String::npos) {
      mi = starM + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (mi < mask.size() && mask[mi] == u'*') ++mi;
  return mi == mask.size();
}

int FindMatching(TSearchRec& rec) {
  DIR* dir = static_cast<DIR*>(rec.FindHandle);
  if (!dir) return EBADF;
  const int excluded = ~rec.FAttrMask & (faHidden | faSysFile | faDirectory);
  while (true) {
    errno = 0;
    struct dirent* ent = ::readdir(dir);
    if (!ent) return errno ? errno : ENOENT;
    String name = UTF8ToString(ent->d_name);
    if (!MatchesMask(name, rec.FMask)) continue;
    // the raw bytes, so that a name that is not valid UTF-8 can still be examined
    std::string full = Path8(rec.FPath) + ent->d_name;
    struct stat st;
    if (::stat(full.c_str(), &st) != 0 && ::lstat(full.c_str(), &st) != 0) continue;  // gone meanwhile
    int attr = 0;
    if (S_ISDIR(st.st_mode)) attr |= faDirectory;
    if (!(st.st_mode & S_IWUSR)) attr |= faReadOnly;
    if (name.size() > 0 && name[0] == u'.' && name != u"." && name != u"..") attr |= faHidden;
    if (attr & excluded) continue;
    rec.Name = name;
    rec.Attr = attr;
    rec.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<Int64>(st.st_size);
    rec.LastWriteTime = UnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    rec.TimeStamp = UTCToLocal(FileTimeToDateTime(rec.LastWriteTime));
    return 0;
  }
}

}  // namespace

bool MatchesMask(const String& name, const String& mask) {
  if (mask == u"*" || mask == u"*.*") return true;
  if (MatchFrom(name, 0, mask, 0)) return true;
  // "name.*" also finds "name" without an extension, and "*." finds names without one
  if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, u".*") == 0)
    return MatchFrom(name, 0, mask.substr(0, mask.size() - 2), 0);
  if (mask.size() >= 1 && mask.back() == u'.' && name.find(u'.') == String::npos)
    return MatchFrom(name, 0, mask.substr(0, mask.size() - 1), 0);
  return false;
}

int FindFirst(const String& pathAndMask, int attr, TSearchRec& rec) {
  FindClose(rec);
  String path = ExtractFilePath(pathAndMask);
  rec.FMask = ExtractFileName(pathAndMask);
  rec.FPath = path;
  rec.FAttrMask = attr;
  if (rec.FMask.empty()) return ENOENT;
  DIR* dir = ::opendir(path.empty() ? "." : Path8(path).c_str());
  if (!dir) return errno ? errno : ENOENT;
  rec.FindHandle = dir;
  int rc = FindMatching(rec);
  if (rc != 0) FindClose(rec);
  return rc;
}

int FindNext(TSearchRec& rec) { return FindMatching(rec); }

void FindClose(TSearchRec& rec) {
  if (rec.FindHandle) {
    ::closedir(static_cast<DIR*>(rec.FindHandle));
    rec.FindHandle = nullptr;
  }
}

}  // namespace ktinet
