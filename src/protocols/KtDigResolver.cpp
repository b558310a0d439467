#include "protocols/KtDigResolver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

namespace ktinet {

namespace {

// ---- Names and tables ------------------------------------------------------------------------

struct TypeEntry {
  int Type;
  const char* Name;
};

constexpr TypeEntry kTypes[] = {
    {1, "A"},           {2, "NS"},         {3, "MD"},        {4, "MF"},          {5, "CNAME"},
    {6, "SOA"},         {7, "MB"},         {8, "MG"},        {9, "MR"},          {10, "NULL"},
    {11, "WKS"},        {12, "PTR"},       {13, "HINFO"},    {14, "MINFO"},      {15, "MX"},
    {16, "TXT"},        {17, "RP"},        {18, "AFSDB"},    {19, "X25"},        {20, "ISDN"},
    {21, "RT"},         {22, "NSAP"},      {23, "NSAP-PTR"}, {24, "SIG"},        {25, "KEY"},
    {26, "PX"},         {27, "GPOS"},      {28, "AAAA"},     {29, "LOC"},        {30, "NXT"},
    {33, "SRV"},        {35, "NAPTR"},     {36, "KX"},       {37, "CERT"},       {38, "A6"},
    {39, "DNAME"},      {41, "OPT"},       {42, "APL"},      {43, "DS"},         {44, "SSHFP"},
    {45, "IPSECKEY"},   {46, "RRSIG"},     {47, "NSEC"},     {48, "DNSKEY"},     {49, "DHCID"},
    {50, "NSEC3"},      {51, "NSEC3PARAM"}, {52, "TLSA"},    {53, "SMIMEA"},     {55, "HIP"},
    {59, "CDS"},        {60, "CDNSKEY"},   {61, "OPENPGPKEY"}, {62, "CSYNC"},    {63, "ZONEMD"},
    {64, "SVCB"},       {65, "HTTPS"},     {99, "SPF"},      {108, "EUI48"},     {109, "EUI64"},
    {249, "TKEY"},      {250, "TSIG"},     {251, "IXFR"},    {252, "AXFR"},      {253, "MAILB"},
    {254, "MAILA"},     {255, "ANY"},      {256, "URI"},     {257, "CAA"},       {258, "AVC"},
    {260, "AMTRELAY"},  {32768, "TA"},     {32769, "DLV"},
};

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperText(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = Upper(c);
  return r;
}

// A decimal number of at most `max`; false for anything else (no sign, no spaces).
bool ParseNumber(const std::string& s, unsigned long max, unsigned long& out) {
  if (s.empty() || s.size() > 10) return false;
  unsigned long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned long>(c - '0');
  }
  if (v > max) return false;
  out = v;
  return true;
}

std::string Hex(const std::string& bytes, bool upper) {
  static const char* lo = "0123456789abcdef";
  static const char* up = "0123456789ABCDEF";
  const char* digits = upper ? up : lo;
  std::string r;
  r.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    r += digits[c >> 4];
    r += digits[c & 15];
  }
  return r;
}

std::string Base64(const std::string& bytes) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string r;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                 static_cast<unsigned char>(bytes[i + 2]);
    r += table[v >> 18];
    r += table[(v >> 12) & 63];
    r += table[(v >> 6) & 63];
    r += table[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    r += table[v >> 18];
    r += table[(v >> 12) & 63];
    r += i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=';
    r += '=';
  }
  return r;
}

std::string Base32Hex(const std::string& bytes) {
  static const char* table = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
  std::string r;
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    buffer = (buffer << 8) | c;
    bits += 8;
    while (bits >= 5) {
      r += table[(buffer >> (bits - 5)) & 31];
      bits -= 5;
    }
  }
  if (bits > 0) r += table[(buffer << (5 - bits)) & 31];
  return r;
}

// A label byte as it may stand in a name's presentation form.
void AppendLabelChar(std::string& out, unsigned char c) {
  if (c == '.' || c == '\\' || c == '"' || c == '(' || c == ')' || c == ';' || c == '@' || c == '$') {
    out += '\\';
    out += static_cast<char>(c);
  } else if (c <= 0x20 || c >= 0x7F) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\%03u", c);
    out += buf;
  } else {
    out += static_cast<char>(c);
  }
}

// A character-string in quotes, as a zone file holds it.
std::string Quoted(const std::string& s) {
  std::string r = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      r += '\\';
      r += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03u", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r + "\"";
}

// ---- Reading a message -----------------------------------------------------------------------

[[noreturn]] void Bad(const std::string& what, size_t at) {
  throw EDigError(EDigError::Malformed, "malformed answer: " + what + " at byte " + std::to_string(at));
}

class Reader {
 public:
  explicit Reader(const std::string& m) : FMsg(m) {}
  size_t Pos() const { return FPos; }
  size_t Size() const { return FMsg.size(); }
  void Need(size_t n, const char* what) const {
    if (FMsg.size() - FPos < n) Bad(std::string("the message ends inside ") + what, FPos);
  }
  unsigned U8(const char* what) {
    Need(1, what);
    return static_cast<unsigned char>(FMsg[FPos++]);
  }
  unsigned U16(const char* what) {
    Need(2, what);
    unsigned v = static_cast<unsigned char>(FMsg[FPos]) << 8 | static_cast<unsigned char>(FMsg[FPos + 1]);
    FPos += 2;
    return v;
  }
  std::uint32_t U32(const char* what) {
    std::uint32_t hi = U16(what);
    return hi << 16 | U16(what);
  }
  std::string Bytes(size_t n, const char* what) {
    Need(n, what);
    std::string r = FMsg.substr(FPos, n);
    FPos += n;
    return r;
  }
  // A name, following compression pointers; each pointer must lead to an earlier place than the
  // label that holds it, which bounds the walk by the message's length.
  std::string Name() {
    std::string text;
    size_t wire = 0;
    size_t at = FPos;
    size_t limit = FPos;  // pointers must point before this
    bool jumped = false;
    for (;;) {
      if (at >= FMsg.size()) Bad("a name runs past the end", at);
      unsigned len = static_cast<unsigned char>(FMsg[at]);
      if ((len & 0xC0) == 0xC0) {
        if (at + 1 >= FMsg.size()) Bad("a compression pointer is cut", at);
        size_t target = (len & 0x3F) << 8 | static_cast<unsigned char>(FMsg[at + 1]);
        if (target >= limit) Bad("a compression pointer does not point backwards", at);
        if (!jumped) FPos = at + 2;
        jumped = true;
        limit = target;
        at = target;
        continue;
      }
      if ((len & 0xC0) != 0) Bad("an unknown label type", at);
      wire += len + 1;
      if (wire > 255) Bad("a name longer than 255 bytes", at);
      if (len == 0) {
        if (!jumped) FPos = at + 1;
        break;
      }
      if (at + 1 + len > FMsg.size()) Bad("a label runs past the end", at);
      for (size_t i = 0; i < len; ++i) AppendLabelChar(text, static_cast<unsigned char>(FMsg[at + 1 + i]));
      text += '.';
      at += 1 + len;
    }
    return text.empty() ? "." : text;
  }

 private:
  const std::string& FMsg;
  size_t FPos = 0;
};

// Record data within its bounds: reads names against the whole message (for compression) but
// never past the end of the data.
class RData {
 public:
  RData(Reader& r, size_t end) : FR(r), FEnd(end) {}
  bool AtEnd() const { return FR.Pos() >= FEnd; }
  size_t Left() const { return FEnd - FR.Pos(); }
  void Need(size_t n, const char* what) const {
    if (FR.Pos() > FEnd || FEnd - FR.Pos() < n) Bad(std::string("record data too short for ") + what, FR.Pos());
  }
  unsigned U8(const char* w) { Need(1, w); return FR.U8(w); }
  unsigned U16(const char* w) { Need(2, w); return FR.U16(w); }
  std::uint32_t U32(const char* w) { Need(4, w); return FR.U32(w); }
  std::string Bytes(size_t n, const char* w) { Need(n, w); return FR.Bytes(n, w); }
  std::string Rest() { return FR.Bytes(Left(), "record data"); }
  std::string Name() {
    std::string n = FR.Name();
    if (FR.Pos() > FEnd) Bad("a name runs past its record data", FR.Pos());
    return n;
  }
  std::string CharString(const char* w) {
    unsigned len = U8(w);
    return Bytes(len, w);
  }

 private:
  Reader& FR;
  size_t FEnd;
};

std::string TypeBitmap(RData& d) {
  std::string r;
  int lastWindow = -1;
  while (!d.AtEnd()) {
    unsigned window = d.U8("a type bitmap");
    unsigned len = d.U8("a type bitmap");
    if (static_cast<int>(window) <= lastWindow) Bad("type bitmap windows out of order", 0);
    if (len == 0 || len > 32) Bad("a type bitmap window of a bad length", 0);
    lastWindow = static_cast<int>(window);
    std::string bits = d.Bytes(len, "a type bitmap");
    for (unsigned i = 0; i < len; ++i)
      for (unsigned b = 0; b < 8; ++b)
        if (static_cast<unsigned char>(bits[i]) & (0x80 >> b)) r += " " + DigTypeName(static_cast<int>(window * 256 + i * 8 + b));
  }
  return r;
}

std::string SigTime(std::uint32_t t) {
  time_t tt = static_cast<time_t>(t);
  struct tm tmv {};
  gmtime_r(&tt, &tmv);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday,
                tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
  return buf;
}

std::string SvcKeyName(unsigned key) {
  static const char* names[] = {"mandatory", "alpn", "no-default-alpn", "port", "ipv4hint", "ech", "ipv6hint"};
  if (key < 7) return names[key];
  return "key" + std::to_string(key);
}

// A value inside an SvcParam: commas separate list items, so a literal one is escaped.
std::string SvcEscaped(const std::string& s, bool list) {
  std::string r;
  for (unsigned char c : s) {
    if (list && (c == ',' || c == '\\')) {
      r += "\\\\";
      r += static_cast<char>(c);
    } else if (c == '"' || c == '\\') {
      r += '\\';
      r += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03u", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

std::string SvcParams(RData& d) {
  std::string r;
  long lastKey = -1;
  while (!d.AtEnd()) {
    unsigned key = d.U16("an SvcParam key");
    unsigned len = d.U16("an SvcParam length");
    if (static_cast<long>(key) <= lastKey) Bad("SvcParam keys out of order", 0);
    lastKey = key;
    std::string v = d.Bytes(len, "an SvcParam value");
    r += " " + SvcKeyName(key);
    switch (key) {
      case 0: {  // mandatory
        if (len == 0 || len % 2) Bad("a bad mandatory list", 0);
        r += "=";
        for (size_t i = 0; i < v.size(); i += 2)
          r += (i ? "," : "") + SvcKeyName(static_cast<unsigned char>(v[i]) << 8 | static_cast<unsigned char>(v[i + 1]));
        break;
      }
      case 1: {  // alpn
        if (len == 0) Bad("an empty alpn list", 0);
        std::string items;
        for (size_t i = 0; i < v.size();) {
          size_t n = static_cast<unsigned char>(v[i]);
          if (n == 0 || i + 1 + n > v.size()) Bad("a bad alpn list", 0);
          items += (i ? "," : "") + SvcEscaped(v.substr(i + 1, n), true);
          i += 1 + n;
        }
        r += "=\"" + items + "\"";
        break;
      }
      case 2:  // no-default-alpn
        if (len != 0) Bad("no-default-alpn with a value", 0);
        break;
      case 3:
        if (len != 2) Bad("a port of the wrong length", 0);
        r += "=" + std::to_string(static_cast<unsigned char>(v[0]) << 8 | static_cast<unsigned char>(v[1]));
        break;
      case 4:
      case 6: {
        size_t size = key == 4 ? 4 : 16;
        if (len == 0 || len % size) Bad("an address hint of the wrong length", 0);
        r += "=";
        for (size_t i = 0; i < v.size(); i += size) {
          char buf[INET6_ADDRSTRLEN];
          inet_ntop(key == 4 ? AF_INET : AF_INET6, v.data() + i, buf, sizeof buf);
          r += std::string(i ? "," : "") + buf;
        }
        break;
      }
      case 5:
        r += "=\"" + Base64(v) + "\"";
        break;
      default:
        if (len) r += "=\"" + SvcEscaped(v, false) + "\"";
    }
  }
  return r;
}

std::string Generic(const std::string& raw) {
  std::string r = "\\# " + std::to_string(raw.size());
  if (!raw.empty()) r += " " + Hex(raw, true);
  return r;
}

// The presentation form of one record's data; `d` covers exactly the data.
std::string RDataText(int type, RData& d, const std::string& raw) {
  std::string t;
  switch (type) {
    case 1: {
      if (d.Left() != 4) Bad("an A record not of 4 bytes", 0);
      char buf[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, d.Bytes(4, "A").data(), buf, sizeof buf);
      return buf;
    }
    case 28: {
      if (d.Left() != 16) Bad("an AAAA record not of 16 bytes", 0);
      char buf[INET6_ADDRSTRLEN];
      inet_ntop(AF_INET6, d.Bytes(16, "AAAA").data(), buf, sizeof buf);
      return buf;
    }
    case 2:
    case 5:
    case 12:
      return d.Name();
    case 6: {
      t = d.Name();
      t += " " + d.Name();
      for (int i = 0; i < 5; ++i) t += " " + std::to_string(d.U32("SOA"));
      return t;
    }
    case 15: {
      t = std::to_string(d.U16("MX"));
      return t + " " + d.Name();
    }
    case 16: {
      if (d.AtEnd()) Bad("a TXT record without strings", 0);
      while (!d.AtEnd()) t += (t.empty() ? "" : " ") + Quoted(d.CharString("TXT"));
      return t;
    }
    case 33: {
      t = std::to_string(d.U16("SRV"));
      t += " " + std::to_string(d.U16("SRV"));
      t += " " + std::to_string(d.U16("SRV"));
      return t + " " + d.Name();
    }
    case 257: {
      t = std::to_string(d.U8("CAA"));
      unsigned taglen = d.U8("CAA");
      if (taglen == 0) Bad("a CAA record with an empty tag", 0);
      std::string tag = d.Bytes(taglen, "CAA");
      for (char c : tag)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
          Bad("a CAA tag that is not alphanumeric", 0);
      return t + " " + tag + " " + Quoted(d.Rest());
    }
    case 35: {
      t = std::to_string(d.U16("NAPTR"));
      t += " " + std::to_string(d.U16("NAPTR"));
      for (int i = 0; i < 3; ++i) t += " " + Quoted(d.CharString("NAPTR"));
      return t + " " + d.Name();
    }
    case 44: {
      t = std::to_string(d.U8("SSHFP"));
      t += " " + std::to_string(d.U8("SSHFP"));
      if (d.AtEnd()) Bad("an SSHFP record without a fingerprint", 0);
      return t + " " + Hex(d.Rest(), true);
    }
    case 52: {
      for (int i = 0; i < 3; ++i) t += (i ? " " : "") + std::to_string(d.U8("TLSA"));
      if (d.AtEnd()) Bad("a TLSA record without data", 0);
      return t + " " + Hex(d.Rest(), true);
    }
    case 43: {
      t = std::to_string(d.U16("DS"));
      t += " " + std::to_string(d.U8("DS"));
      t += " " + std::to_string(d.U8("DS"));
      if (d.AtEnd()) Bad("a DS record without a digest", 0);
      return t + " " + Hex(d.Rest(), true);
    }
    case 48: {
      t = std::to_string(d.U16("DNSKEY"));
      t += " " + std::to_string(d.U8("DNSKEY"));
      t += " " + std::to_string(d.U8("DNSKEY"));
      if (d.AtEnd()) Bad("a DNSKEY record without a key", 0);
      return t + " " + Base64(d.Rest());
    }
    case 46: {
      t = DigTypeName(static_cast<int>(d.U16("RRSIG")));
      t += " " + std::to_string(d.U8("RRSIG"));
      t += " " + std::to_string(d.U8("RRSIG"));
      t += " " + std::to_string(d.U32("RRSIG"));
      t += " " + SigTime(d.U32("RRSIG"));
      t += " " + SigTime(d.U32("RRSIG"));
      t += " " + std::to_string(d.U16("RRSIG"));
      t += " " + d.Name();
      if (d.AtEnd()) Bad("an RRSIG record without a signature", 0);
      return t + " " + Base64(d.Rest());
    }
    case 47: {
      t = d.Name();
      return t + TypeBitmap(d);
    }
    case 50: {
      t = std::to_string(d.U8("NSEC3"));
      t += " " + std::to_string(d.U8("NSEC3"));
      t += " " + std::to_string(d.U16("NSEC3"));
      std::string salt = d.CharString("NSEC3");
      t += " " + (salt.empty() ? std::string("-") : Hex(salt, true));
      std::string next = d.CharString("NSEC3");
      if (next.empty()) Bad("an NSEC3 record without a next hash", 0);
      t += " " + Base32Hex(next);
      return t + TypeBitmap(d);
    }
    case 64:
    case 65: {
      t = std::to_string(d.U16("SVCB"));
      t += " " + d.Name();
      return t + SvcParams(d);
    }
    case 41: {
      // Options as code and bytes; the header fields live in the record's class and TTL.
      while (!d.AtEnd()) {
        unsigned code = d.U16("an EDNS option");
        unsigned len = d.U16("an EDNS option");
        std::string v = d.Bytes(len, "an EDNS option");
        if (code == 3) {
          t += (t.empty() ? "" : " ") + std::string("NSID: ") + Hex(v, true);
        } else if (code == 10) {
          t += (t.empty() ? "" : " ") + std::string("COOKIE: ") + Hex(v, false);
        } else {
          t += (t.empty() ? "" : " ") + std::string("OPT=") + std::to_string(code) + ": " + Hex(v, true);
        }
      }
      return t;
    }
    default:
      d.Rest();
      return Generic(raw);
  }
}

}  // namespace

// ---- Public helpers --------------------------------------------------------------------------

int TDigMessage::RCode() const {
  int code = Flags & 0xF;
  if (const TDigRecord* opt = Opt()) code |= static_cast<int>((opt->TTL >> 24) & 0xFF) << 4;
  return code;
}

const TDigRecord* TDigMessage::Opt() const {
  for (const auto& rr : Additional)
    if (rr.Type == 41) return &rr;
  return nullptr;
}

std::string TDigMessage::FlagText() const {
  std::string f;
  if (QR()) f += " qr";
  if (Flags & 0x0400) f += " aa";
  if (Flags & 0x0200) f += " tc";
  if (Flags & 0x0100) f += " rd";
  if (Flags & 0x0080) f += " ra";
  if (Flags & 0x0020) f += " ad";
  if (Flags & 0x0010) f += " cd";
  return f.empty() ? f : f.substr(1);
}

std::string DigTypeName(int Type) {
  for (const auto& e : kTypes)
    if (e.Type == Type) return e.Name;
  return "TYPE" + std::to_string(Type);
}

int DigTypeFromText(const std::string& Text) {
  std::string u = UpperText(Text);
  for (const auto& e : kTypes)
    if (u == e.Name) return e.Type;
  unsigned long n;
  if (u.rfind("TYPE", 0) == 0 && ParseNumber(u.substr(4), 65535, n)) return static_cast<int>(n);
  return -1;
}

std::string DigClassName(int Class) {
  switch (Class) {
    case 1: return "IN";
    case 3: return "CH";
    case 4: return "HS";
    case 254: return "NONE";
    case 255: return "ANY";
    default: return "CLASS" + std::to_string(Class);
  }
}

std::string DigRCodeName(int RCode) {
  static const char* names[] = {"NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN", "NOTIMP",  "REFUSED",
                                "YXDOMAIN", "YXRRSET", "NXRRSET",  "NOTAUTH",  "NOTZONE", "DSOTYPENI"};
  if (RCode >= 0 && RCode < 12) return names[RCode];
  if (RCode == 16) return "BADVERS";
  if (RCode == 23) return "BADCOOKIE";
  return "RCODE" + std::to_string(RCode);
}

std::string DigEncodeName(const std::string& Name) {
  auto bad = [&](const std::string& why) -> EDigError {
    return EDigError(EDigError::Usage, "'" + Name + "' is not a valid domain name: " + why);
  };
  if (Name.empty()) throw bad("it is empty");
  if (Name == ".") return std::string(1, '\0');
  std::string wire;
  std::string label;
  bool lastWasDot = false;
  auto endLabel = [&]() {
    if (label.empty()) throw bad("an empty label");
    if (label.size() > 63) throw bad("a label longer than 63 bytes");
    wire += static_cast<char>(label.size());
    wire += label;
    label.clear();
  };
  for (size_t i = 0; i < Name.size(); ++i) {
    char c = Name[i];
    lastWasDot = false;
    if (c == '.') {
      endLabel();
      lastWasDot = true;
    } else if (c == '\\') {
      if (i + 1 >= Name.size()) throw bad("a dangling backslash");
      if (Name[i + 1] >= '0' && Name[i + 1] <= '9') {
        unsigned long v;
        if (i + 3 >= Name.size() || !ParseNumber(Name.substr(i + 1, 3), 255, v)) throw bad("a bad \\DDD escape");
        label += static_cast<char>(v);
        i += 3;
      } else {
        label += Name[++i];
      }
    } else {
      label += c;
    }
  }
  if (!lastWasDot) endLabel();
  wire += '\0';
  if (wire.size() > 255) throw bad("longer than 253 characters");
  return wire;
}

std::string DigReverseName(const std::string& Address) {
  unsigned char bytes[16];
  std::string r;
  if (inet_pton(AF_INET, Address.c_str(), bytes) == 1) {
    for (int i = 3; i >= 0; --i) r += std::to_string(bytes[i]) + ".";
    return r + "in-addr.arpa.";
  }
  if (inet_pton(AF_INET6, Address.c_str(), bytes) == 1) {
    static const char* digits = "0123456789abcdef";
    for (int i = 15; i >= 0; --i) {
      r += digits[bytes[i] & 15];
      r += '.';
      r += digits[bytes[i] >> 4];
      r += '.';
    }
    return r + "ip6.arpa.";
  }
  throw EDigError(EDigError::Usage, "'" + Address + "' is not an IPv4 or IPv6 address");
}

std::string DigBuildQuery(int ID, const std::string& Name, int Type, int UdpSize) {
  std::string q;
  auto u16 = [&](unsigned v) {
    q += static_cast<char>((v >> 8) & 0xFF);
    q += static_cast<char>(v & 0xFF);
  };
  u16(static_cast<unsigned>(ID));
  u16(0x0100);  // recursion desired
  u16(1);
  u16(0);
  u16(0);
  u16(UdpSize ? 1 : 0);
  q += DigEncodeName(Name);
  u16(static_cast<unsigned>(Type));
  u16(1);
  if (UdpSize) {
    q += '\0';  // the root owns the OPT record
    u16(41);
    u16(static_cast<unsigned>(UdpSize));
    u16(0);
    u16(0);
    u16(0);
  }
  return q;
}

TDigMessage DigDecodeMessage(const std::string& Wire) {
  Reader r(Wire);
  TDigMessage m;
  m.ID = static_cast<int>(r.U16("the header"));
  m.Flags = static_cast<int>(r.U16("the header"));
  unsigned qd = r.U16("the header"), an = r.U16("the header"), ns = r.U16("the header"),
           ar = r.U16("the header");
  for (unsigned i = 0; i < qd; ++i) {
    TDigQuestion q;
    q.Name = r.Name();
    q.Type = static_cast<int>(r.U16("a question"));
    q.Class = static_cast<int>(r.U16("a question"));
    m.Questions.push_back(q);
  }
  auto records = [&](unsigned count, std::vector<TDigRecord>& out) {
    for (unsigned i = 0; i < count; ++i) {
      TDigRecord rr;
      rr.Name = r.Name();
      rr.Type = static_cast<int>(r.U16("a record"));
      rr.Class = static_cast<int>(r.U16("a record"));
      rr.TTL = r.U32("a record");
      unsigned len = r.U16("a record");
      r.Need(len, "record data");
      size_t start = r.Pos();
      RData d(r, start + len);
      rr.Text = RDataText(rr.Type, d, Wire.substr(start, len));
      if (r.Pos() != start + len) Bad("record data longer than its type holds", r.Pos());
      rr.RData = Wire.substr(start, len);
      out.push_back(std::move(rr));
    }
  };
  records(an, m.Answers);
  records(ns, m.Authority);
  records(ar, m.Additional);
  if (r.Pos() != Wire.size()) Bad("bytes after the last record", r.Pos());
  return m;
}

std::string DigRecordLine(const TDigRecord& Record) {
  return Record.Name + "\t" + std::to_string(Record.TTL) + "\t" + DigClassName(Record.Class) + "\t" +
         DigTypeName(Record.Type) + "\t" + Record.Text;
}

std::vector<std::string> DigServersFromResolvConf(const std::string& Path) {
  std::vector<std::string> servers;
  std::ifstream in(Path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key, value;
    if (!(words >> key >> value) || key != "nameserver") continue;
    // A scope suffix ("fe80::1%eth0") stays; getaddrinfo understands it.
    servers.push_back(value);
  }
  return servers;
}

// ---- The resolver ----------------------------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;

class Fd {
 public:
  explicit Fd(int fd) : FFd(fd) {}
  ~Fd() {
    if (FFd >= 0) ::close(FFd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return FFd; }

 private:
  int FFd;
};

struct Address {
  sockaddr_storage Storage{};
  socklen_t Length = 0;
  int Family = 0;
};

Address Resolve(const std::string& server, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* res = nullptr;
  std::string host = server;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res);
  if (rc != 0 || !res)
    throw EDigError(EDigError::Network, "cannot resolve server '" + server + "': " + gai_strerror(rc));
  Address a;
  std::memcpy(&a.Storage, res->ai_addr, res->ai_addrlen);
  a.Length = res->ai_addrlen;
  a.Family = res->ai_family;
  freeaddrinfo(res);
  return a;
}

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for `events` on fd until the deadline; false when time ran out.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, MsLeft(deadline));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) throw EDigError(EDigError::Network, std::string("poll: ") + std::strerror(errno));
  }
}

// The answer belongs to our query: same ID, a response, and our question echoed back.
std::string Mismatch(const TDigMessage& m, int id, const std::string& qname, int type) {
  if (m.ID != id) return "an answer with another ID";
  if (!m.QR()) return "a message that is not a response";
  if (m.Questions.size() != 1) return "an answer with " + std::to_string(m.Questions.size()) + " questions";
  const TDigQuestion& q = m.Questions[0];
  if (UpperText(q.Name) != UpperText(qname) || q.Type != type || q.Class != 1)
    return "an answer to another question (" + q.Name + " " + DigTypeName(q.Type) + ")";
  return "";
}

std::string Describe(const std::string& server, int port, bool tcp) {
  return server + " port " + std::to_string(port) + (tcp ? " (TCP)" : " (UDP)");
}

int NewId() {
  static thread_local std::mt19937 gen{std::random_device{}()};
  return static_cast<int>(gen() & 0xFFFF);
}

std::string PresentName(const std::string& name) {
  // The question as the server echoes it, for comparison: through the wire form and back.
  std::string wire = DigEncodeName(name);
  std::string query = std::string(12, '\0') + wire + std::string(4, '\0');
  query[5] = 1;
  return DigDecodeMessage(query).Questions[0].Name;
}

}  // namespace

// KTINET_RESOLV_CONF names another file, so a test or a container can point at its own servers.
std::chrono::steady_clock::time_point TKtDigResolver::WaitEnd(int ms) const {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  return FMaxTimeMs > 0 && FJobEnd < end ? FJobEnd : end;
}

void TKtDigResolver::CheckJobTime() const {
  // A wait that ended with the job may wake a fraction of a millisecond early.
  if (FMaxTimeMs > 0 && Clock::now() + std::chrono::milliseconds(1) >= FJobEnd)
    throw EDigError(EDigError::TimedOut, "Time limit of " + std::to_string(FMaxTimeMs) + " ms for the whole job ran out");
}

TKtDigResolver::TKtDigResolver() {
  const char* path = std::getenv("KTINET_RESOLV_CONF");
  FServers = DigServersFromResolvConf(path && *path ? path : "/etc/resolv.conf");
}

TDigMessage TKtDigResolver::AskUdp(const std::string& Server, const std::string& Wire, const std::string& QName,
                                   int Type) {
  Address a = Resolve(Server, FPort);
  Fd fd(::socket(a.Family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) throw EDigError(EDigError::Network, std::string("socket: ") + std::strerror(errno));
  // A connected socket takes datagrams only from the server we asked.
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a.Storage), a.Length) != 0)
    throw EDigError(EDigError::Network, "cannot reach " + Describe(Server, FPort, false) + ": " + std::strerror(errno));
  int id = (static_cast<unsigned char>(Wire[0]) << 8) | static_cast<unsigned char>(Wire[1]);
  std::string lastMismatch;
  for (int attempt = 0; attempt < FUdpTries; ++attempt) {
    CheckJobTime();
    if (::send(fd.Get(), Wire.data(), Wire.size(), 0) < 0) {
      if (errno == ECONNREFUSED) throw EDigError(EDigError::Refused, Describe(Server, FPort, false) + ": connection refused");
      throw EDigError(EDigError::Network, Describe(Server, FPort, false) + ": " + std::strerror(errno));
    }
    auto deadline = WaitEnd(FTimeoutMs);
    while (WaitFor(fd.Get(), POLLIN, deadline)) {
      char buf[65536];
      ssize_t n = ::recv(fd.Get(), buf, sizeof buf, 0);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        if (errno == ECONNREFUSED)
          throw EDigError(EDigError::Refused, Describe(Server, FPort, false) + ": connection refused");
        throw EDigError(EDigError::Network, Describe(Server, FPort, false) + ": " + std::strerror(errno));
      }
      TDigMessage m;
      try {
        m = DigDecodeMessage(std::string(buf, static_cast<size_t>(n)));
      } catch (const EDigError& e) {
        // A stray or forged datagram must not end the wait for the real answer.
        lastMismatch = e.what();
        continue;
      }
      std::string why = Mismatch(m, id, QName, Type);
      if (why.empty()) return m;
      lastMismatch = why;
    }
  }
  std::string msg = "no answer from " + Describe(Server, FPort, false) + " within " + std::to_string(FTimeoutMs) +
                    " ms (" + std::to_string(FUdpTries) + " tries)";
  if (!lastMismatch.empty()) msg += "; discarded " + lastMismatch;
  throw EDigError(EDigError::TimedOut, msg);
}

TDigMessage TKtDigResolver::AskTcp(const std::string& Server, const std::string& Wire, const std::string& QName,
                                   int Type) {
  Address a = Resolve(Server, FPort);
  std::string where = Describe(Server, FPort, true);
  Fd fd(::socket(a.Family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) throw EDigError(EDigError::Network, std::string("socket: ") + std::strerror(errno));
  auto deadline = WaitEnd(FTimeoutMs);
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a.Storage), a.Length) != 0) {
    if (errno != EINPROGRESS) {
      if (errno == ECONNREFUSED) throw EDigError(EDigError::Refused, where + ": connection refused");
      throw EDigError(EDigError::Network, where + ": " + std::strerror(errno));
    }
    if (!WaitFor(fd.Get(), POLLOUT, deadline))
      throw EDigError(EDigError::TimedOut, "connecting to " + where + " timed out");
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &len);
    if (err == ECONNREFUSED) throw EDigError(EDigError::Refused, where + ": connection refused");
    if (err != 0) throw EDigError(EDigError::Network, where + ": " + std::strerror(err));
  }
  std::string framed;
  framed += static_cast<char>((Wire.size() >> 8) & 0xFF);
  framed += static_cast<char>(Wire.size() & 0xFF);
  framed += Wire;
  size_t sent = 0;
  deadline = WaitEnd(FTimeoutMs);
  while (sent < framed.size()) {
    if (!WaitFor(fd.Get(), POLLOUT, deadline)) throw EDigError(EDigError::TimedOut, "sending to " + where + " timed out");
    ssize_t n = ::send(fd.Get(), framed.data() + sent, framed.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw EDigError(EDigError::Network, where + ": " + std::strerror(errno));
    }
    sent += static_cast<size_t>(n);
  }
  // The frame's length, then the message; silence longer than the time-out ends the wait.
  std::string in;
  size_t want = 2;
  bool haveLength = false;
  for (;;) {
    while (in.size() < want) {
      if (!WaitFor(fd.Get(), POLLIN, WaitEnd(FTimeoutMs)))
        throw EDigError(EDigError::TimedOut, "no answer from " + where + " within " + std::to_string(FTimeoutMs) + " ms");
      char buf[16384];
      ssize_t n = ::recv(fd.Get(), buf, std::min(sizeof buf, want - in.size()), 0);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        if (errno == ECONNREFUSED) throw EDigError(EDigError::Refused, where + ": connection refused");
        throw EDigError(EDigError::Network, where + ": " + std::strerror(errno));
      }
      if (n == 0)
        throw EDigError(EDigError::Network, where + " closed the connection " +
                                                (in.empty() ? std::string("without answering") : "inside an answer"));
      in.append(buf, static_cast<size_t>(n));
    }
    if (haveLength) break;
    want = 2 + ((static_cast<unsigned char>(in[0]) << 8) | static_cast<unsigned char>(in[1]));
    haveLength = true;
  }
  TDigMessage m = DigDecodeMessage(in.substr(2));
  int id = (static_cast<unsigned char>(Wire[0]) << 8) | static_cast<unsigned char>(Wire[1]);
  std::string why = Mismatch(m, id, QName, Type);
  if (!why.empty()) throw EDigError(EDigError::Mismatch, where + " sent " + why);
  return m;
}

TDigMessage TKtDigResolver::Query(const std::string& Name, int Type) {
  if (Type < 0 || Type > 65535) throw EDigError(EDigError::Usage, "record type out of range");
  std::string qname = PresentName(Name);
  if (FServers.empty()) throw EDigError(EDigError::Usage, "no name server: none given and none in /etc/resolv.conf");
  if (FPort < 1 || FPort > 65535) throw EDigError(EDigError::Usage, "port out of range");
  EDigError last(EDigError::Network, "no server answered");
  FJobEnd = Clock::now() + std::chrono::milliseconds(FMaxTimeMs);
  bool haveAnswer = false;
  TDigMessage fallback;
  for (const std::string& server : FServers) {
    try {
      TDigMessage m;
      bool tcp = FForceTcp;
      if (!tcp) {
        m = AskUdp(server, DigBuildQuery(NewId(), Name, Type, 1232), qname, Type);
        tcp = m.TC();
      }
      if (tcp) m = AskTcp(server, DigBuildQuery(NewId(), Name, Type, 1232), qname, Type);
      FAnsweredBy = server;
      FAnsweredOverTcp = tcp;
      int rcode = m.RCode();
      // A failing or refusing server is not the last word while another can be asked.
      if (rcode == 2 || rcode == 5) {
        fallback = m;
        haveAnswer = true;
        continue;
      }
      return m;
    } catch (const EDigError& e) {
      if (e.ErrorKind() == EDigError::Usage) throw;
      last = e;
      // The job's time is over: no next server, and the answer says why.
      CheckJobTime();
    }
  }
  if (haveAnswer) return fallback;
  throw last;
}

}  // namespace ktinet
