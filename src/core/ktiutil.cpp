#include "core/ktiutil.h"

#include "platform/SystemSettings.h"
#include "rtl/SysUtils.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "rtl/Exceptions.h"

extern char** environ;

namespace ktinet {

namespace {

// ---- UTF-8 ------------------------------------------------------------------------------------

constexpr size_t kMalformed = std::numeric_limits<size_t>::max();

inline unsigned ByteOf(char c) { return static_cast<unsigned char>(c); }
inline unsigned ByteOf(char16_t c) { return static_cast<unsigned char>(c); }

// Copies the run of ASCII characters at src[i..] to dst[o..] a block at a time and stops at the
// first non-ASCII one (or near the end, which the scalar loop finishes). Blocks are stored whole
// before the check, which is safe because the output never runs ahead of the input (o <= i).
#if defined(__SSE2__)
inline void AsciiRun(const char* src, size_t n, size_t& i, char16_t* dst, size_t& o) {
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= n) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o + 8), _mm_unpackhi_epi8(v, zero));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (mask != 0) {
      unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
      i += k;
      o += k;
      return;
    }
    i += 16;
    o += 16;
  }
}

// One character per byte in the low 8 bits: the high byte is masked off, so only bit 7 of the
// low byte decides whether a character is ASCII.
inline void AsciiRun(const char16_t* src, size_t n, size_t& i, char16_t* dst, size_t& o) {
  const __m128i low = _mm_set1_epi16(0x00FF);
  while (i + 8 <= n) {
    __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), v);
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (mask != 0) {
      unsigned k = static_cast<unsigned>(__builtin_ctz(mask)) / 2;
      i += k;
      o += k;
      return;
    }
    i += 8;
    o += 8;
  }
}
#else
inline void AsciiRun(const char* src, size_t n, size_t& i, char16_t* dst, size_t& o) {
  while (i + 8 <= n) {
    std::uint64_t w;
    std::memcpy(&w, src + i, 8);
    if (w & 0x8080808080808080ULL) return;
    for (int k = 0; k < 8; ++k) dst[o + k] = static_cast<char16_t>(ByteOf(src[i + k]));
    i += 8;
    o += 8;
  }
}

inline void AsciiRun(const char16_t* src, size_t n, size_t& i, char16_t* dst, size_t& o) {
  while (i + 4 <= n) {
    std::uint64_t w;
    std::memcpy(&w, src + i, 8);
    if (w & 0x0080008000800080ULL) return;
    for (int k = 0; k < 4; ++k) dst[o + k] = static_cast<char16_t>(ByteOf(src[i + k]));
    i += 4;
    o += 4;
  }
}
#endif

// Decodes n source characters into dst, which holds at least n characters (a sequence never
// yields more characters than it has bytes). Returns the count written, or kMalformed.
template <class T>
size_t DecodeUtf8(const T* src, size_t n, char16_t* dst) {
  size_t i = 0, o = 0;
  while (i < n) {
    AsciiRun(src, n, i, dst, o);
    if (i >= n) break;
    unsigned c = ByteOf(src[i++]);
    if (c < 0x80) {
      dst[o++] = static_cast<char16_t>(c);
      continue;
    }
    if (i >= n) return kMalformed;
    unsigned b1 = ByteOf(src[i++]);
    if ((b1 & 0xC0) != 0x80) return kMalformed;
    // Bit 5 of the lead decides between two and three bytes, whatever the bits above it say:
    // 80..9F lead like C0..DF, A0..BF and F8..FF like E0..EF.
    if ((c & 0x20) == 0) {
      dst[o++] = static_cast<char16_t>(((c & 0x1F) << 6) | (b1 & 0x3F));
      continue;
    }
    if (i >= n) return kMalformed;
    unsigned b2 = ByteOf(src[i++]);
    if ((b2 & 0xC0) != 0x80) return kMalformed;
    if ((c & 0xF8) == 0xF0) {
      if (i >= n) return kMalformed;
      unsigned b3 = ByteOf(src[i++]);
      if ((b3 & 0xC0) != 0x80) return kMalformed;
      std::uint32_t cp = ((c & 0x07) << 18) | ((b1 & 0x3F) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F);
      if (cp < 0x10000) {
        dst[o++] = static_cast<char16_t>(cp);
      } else if (cp > 0x10FFFF) {
        // UTF-16 cannot carry it; a pair built from it would be garbage that reads as valid.
        dst[o++] = u'\uFFFD';
      } else {
        cp -= 0x10000;
        dst[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
        dst[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      }
      continue;
    }
    // Only the low 16 bits of a three-byte value survive, as the lead's bits 4 and 5 fall off.
    dst[o++] = static_cast<char16_t>(((c & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
  }
  return o;
}

template <class T>
bool DecodeInto(const T* src, size_t n, std::u16string& out) {
  if (n == 0) {
    out.clear();
    return true;
  }
  // Growing only when needed lets a reused buffer skip re-zeroing what it already holds.
  if (out.size() < n) out.resize(n);
  size_t count = DecodeUtf8(src, n, out.data());
  if (count == kMalformed) {
    out.clear();
    return false;
  }
  out.resize(count);
  return true;
}

// ---- Base64 -----------------------------------------------------------------------------------

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value, so three bytes take two look-ups.
struct PairTable {
  std::array<char, 4096 * 2> chars{};
  constexpr PairTable() {
    for (int v = 0; v < 4096; ++v) {
      chars[v * 2] = kBase64Alphabet[v >> 6];
      chars[v * 2 + 1] = kBase64Alphabet[v & 0x3F];
    }
  }
};
constexpr PairTable kPairs;

size_t Encoded64Length(size_t n) { return (n + 2) / 3 * 4; }

template <class T, class Out>
void EncodeTail(const T* src, size_t n, size_t i, Out* dst, size_t o) {
  size_t rest = n - i;
  if (rest == 0) return;
  unsigned b0 = ByteOf(src[i]);
  unsigned b1 = rest > 1 ? ByteOf(src[i + 1]) : 0;
  dst[o] = static_cast<Out>(kBase64Alphabet[b0 >> 2]);
  dst[o + 1] = static_cast<Out>(kBase64Alphabet[((b0 & 0x03) << 4) | (b1 >> 4)]);
  dst[o + 2] = static_cast<Out>(rest > 1 ? kBase64Alphabet[(b1 & 0x0F) << 2] : '=');
  dst[o + 3] = static_cast<Out>('=');
}

void EncodeBytes(const char* src, size_t n, char* dst) {
  const char* pairs = kPairs.chars.data();
  size_t i = 0, o = 0;
  // Eight bytes are loaded to encode six, so the loop keeps two bytes of the input in reserve.
  while (i + 8 <= n) {
    std::uint64_t w;
    std::memcpy(&w, src + i, 8);
    w = __builtin_bswap64(w);
    unsigned a = static_cast<unsigned>(w >> 52) & 0xFFF, b = static_cast<unsigned>(w >> 40) & 0xFFF;
    unsigned c = static_cast<unsigned>(w >> 28) & 0xFFF, d = static_cast<unsigned>(w >> 16) & 0xFFF;
    std::memcpy(dst + o, pairs + a * 2, 2);
    std::memcpy(dst + o + 2, pairs + b * 2, 2);
    std::memcpy(dst + o + 4, pairs + c * 2, 2);
    std::memcpy(dst + o + 6, pairs + d * 2, 2);
    i += 6;
    o += 8;
  }
  while (i + 3 <= n) {
    unsigned v = (ByteOf(src[i]) << 16) | (ByteOf(src[i + 1]) << 8) | ByteOf(src[i + 2]);
    std::memcpy(dst + o, pairs + (v >> 12) * 2, 2);
    std::memcpy(dst + o + 2, pairs + (v & 0xFFF) * 2, 2);
    i += 3;
    o += 4;
  }
  EncodeTail(src, n, i, dst, o);
}

void EncodeChars(const char16_t* src, size_t n, char16_t* dst) {
  const char* pairs = kPairs.chars.data();
  size_t i = 0, o = 0;
  while (i + 3 <= n) {
    unsigned v = (ByteOf(src[i]) << 16) | (ByteOf(src[i + 1]) << 8) | ByteOf(src[i + 2]);
    const char* p = pairs + (v >> 12) * 2;
    const char* q = pairs + (v & 0xFFF) * 2;
    dst[o] = static_cast<char16_t>(p[0]);
    dst[o + 1] = static_cast<char16_t>(p[1]);
    dst[o + 2] = static_cast<char16_t>(q[0]);
    dst[o + 3] = static_cast<char16_t>(q[1]);
    i += 3;
    o += 4;
  }
  EncodeTail(src, n, i, dst, o);
}

// ---- Files ------------------------------------------------------------------------------------

std::string ErrnoText(int err) {
  char buf[256];
  return strerror_r(err, buf, sizeof buf);
}

// The running program's file, byte for byte as the kernel knows it.
std::string ExecutablePath() {
  std::string buf(PATH_MAX, '\0');
  for (;;) {
    ssize_t len = readlink("/proc/self/exe", buf.data(), buf.size());
    if (len < 0) return {};
    if (static_cast<size_t>(len) < buf.size()) {
      buf.resize(static_cast<size_t>(len));
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

// The extension is whatever follows the last '.' of the name part; none gives the name + ext.
std::string ChangeExt(const std::string& path, const std::string& ext) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
  return path.substr(0, dot) + ext;
}

// Single quotes keep every byte literal in sh; a quote itself closes, is escaped, reopens.
std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  q += '\'';
  return q;
}

void WriteScript(const std::string& path, const std::string& text) {
  // O_NOFOLLOW: a link planted at the script's name must not redirect the write elsewhere.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0700);
  auto fail = [&](int err) {
    throw EFCreateError(Str("Cannot create file \"") + UTF8ToString(path) + Str("\". ") +
                        UTF8ToString(ErrnoText(err)));
  };
  if (fd < 0) fail(errno);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t w = write(fd, text.data() + done, text.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(fd);
      fail(err);
    }
    done += static_cast<size_t>(w);
  }
  if (close(fd) != 0) fail(errno);
}

// Starts "/bin/sh script" in a session of its own, at the lowest priority, with no descriptor
// of ours and standard streams on /dev/null. The intermediate child exits at once and is reaped
// here, so the script is adopted by init and leaves no zombie behind in the caller.
void StartDetached(const std::string& script) {
  // Everything the children touch is prepared here: between fork and exec only
  // async-signal-safe calls are allowed in a program that may have threads.
  const char* shell = "/bin/sh";
  std::string arg0 = "sh";
  char* argv[] = {arg0.data(), const_cast<char*>(script.c_str()), nullptr};
  long maxFd = sysconf(_SC_OPEN_MAX);
  if (maxFd < 0 || maxFd > 65536) maxFd = 65536;

  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(0);
    setpriority(PRIO_PROCESS, 0, 19);
    if (chdir("/") != 0) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGCHLD, SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    int nul = open("/dev/null", O_RDWR);
    if (nul >= 0) {
      dup2(nul, 0);
      dup2(nul, 1);
      dup2(nul, 2);
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    if (close_range(3, ~0U, 0) != 0)
#endif
      for (long fd = 3; fd < maxFd; ++fd) close(static_cast<int>(fd));
    execve(shell, argv, environ);
    _exit(127);
  }
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

std::string DeleteExeForBytes(std::string exe) {
  // The script runs from "/" so that it keeps no directory busy; names must not depend on ours.
  if (!exe.empty() && exe[0] != '/') {
    std::string cwd(PATH_MAX, '\0');
    if (getcwd(cwd.data(), cwd.size())) exe = std::string(cwd.c_str()) + "/" + exe;
  }
  std::string script = ChangeExt(exe, ".sh");
  // A program that is itself a ".sh" file must not be overwritten by its own remover.
  if (script == exe) script = exe + ".sh";
  WriteScript(script, detail::DeleteExeScript(exe, script));
  StartDetached(script);
  return script;
}

// ---- Content types ----------------------------------------------------------------------------

std::string AsciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The type of the last entry for `ext` (lower case, no dot) in a mime.types file, or empty.
std::string LookUpType(const std::string& file, const std::string& ext) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::string line, found;
  auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
  while (std::getline(in, line)) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    size_t pos = 0;
    auto next = [&]() -> std::string {
      while (pos < line.size() && isBlank(line[pos])) ++pos;
      size_t start = pos;
      while (pos < line.size() && !isBlank(line[pos])) ++pos;
      return line.substr(start, pos - start);
    };
    std::string type = next();
    if (type.empty()) continue;
    for (std::string word = next(); !word.empty(); word = next()) {
      if (word[0] == '.') word.erase(0, 1);
      if (AsciiLower(word) == ext) {
        found = type;
        break;
      }
    }
  }
  return found;
}

// ---- HTML entities ----------------------------------------------------------------------------

struct Entity {
  std::u16string_view name;  // with the '&', without the ';'
  std::u16string_view text;
};

constexpr Entity kEntities[] = {
    {u"&brvbar", u"|"}, {u"&deg", u"\u00B0"}, {u"&plusmn", u"+"}, {u"&para", u"\u00A6"},
    {u"&amp", u"&"},    {u"&lt", u"<"},       {u"&gt", u">"},     {u"&copy", u"c"},
    {u"&quot", u"\""},  {u"&apos", u"'"},     {u"&trade", u"T"},  {u"&nbsp", u""},
};
constexpr size_t kLongestBody = 6;  // "brvbar", "plusmn"

// The entry whose name is '&' + body, or nullptr when the table has none.
const Entity* FindEntity(std::u16string_view body) {
  if (body.size() > kLongestBody) return nullptr;
  for (const Entity& e : kEntities)
    if (e.name.size() == body.size() + 1 && e.name.substr(1) == body) return &e;
  return nullptr;
}

}  // namespace

// ---- Public functions -------------------------------------------------------------------------

String Utf8Decode(const String& S) {
  String out;
  DecodeInto(S.data(), S.size(), out);
  return out;
}

std::u16string Utf8Decode(std::string_view bytes) {
  std::u16string out;
  DecodeInto(bytes.data(), bytes.size(), out);
  return out;
}

bool Utf8Decode(std::string_view bytes, std::u16string& out) {
  return DecodeInto(bytes.data(), bytes.size(), out);
}

String Encode64(const String& S) {
  String out(Encoded64Length(S.size()), u'\0');
  EncodeChars(S.data(), S.size(), out.data());
  return out;
}

std::string Encode64(std::string_view bytes) {
  std::string out;
  Encode64(bytes, out);
  return out;
}

void Encode64(std::string_view bytes, std::string& out) {
  out.resize(Encoded64Length(bytes.size()));
  EncodeBytes(bytes.data(), bytes.size(), out.data());
}

void DeleteExe() {
  std::string exe = ExecutablePath();
  if (exe.empty()) return;
  DeleteExeForBytes(exe);
}

String ContentTypeByFile(const String& FileName) {
  const char* system = std::getenv("KTINET_MIME_TYPES");
  const char* home = std::getenv("HOME");
  return detail::ContentTypeByFileIn(FileName, system && *system ? system : "/etc/mime.types",
                                     home && *home ? std::string(home) + "/.mime.types" : "");
}

String Reverse(const String& S) {
  String r;
  r.reserve(S.size());
  for (size_t i = S.size(); i > 0; --i) {
    Char c = S[i - 1];
    if (c >= 0xDC00 && c <= 0xDFFF && i >= 2 && S[i - 2] >= 0xD800 && S[i - 2] <= 0xDBFF) {
      r += S[i - 2];
      r += c;
      --i;
    } else {
      r += c;
    }
  }
  return r;
}

String GetColumn(const String& S, int Index, Char Delimiter) {
  String result;
  if (S == u"\t") return result;
  int column = 0;
  for (Char c : S) {
    if (c == Delimiter) {
      ++column;
    } else if (column == Index) {
      result += c;
    } else if (column > Index) {
      break;
    }
  }
  return result;
}

void ReplaceHTMLChars(String& S) {
  // Everything before the first '&' is final, and a replacement can put back at most one '&'
  // (the one "&amp;" leaves). So one pass suffices: `pending` stands for that '&' sitting just
  // before S[pos], and the entity it starts runs from it to the next ';' in S[pos..].
  const size_t n = S.size();
  size_t first = S.find(u'&');
  if (first == String::npos) return;
  String out;
  out.reserve(n);
  out.append(S, 0, first);
  size_t pos = first;
  bool pending = false;
  for (;;) {
    size_t amp;  // where the entity's body starts in S
    if (pending) {
      amp = pos;
    } else {
      size_t p = S.find(u'&', pos);
      if (p == String::npos) {
        out.append(S, pos, String::npos);
        break;
      }
      out.append(S, pos, p - pos);
      amp = p + 1;
    }
    // Longer bodies cannot match, so the ';' is looked for only as far as the longest name.
    size_t semi = amp;
    while (semi < n && semi - amp <= kLongestBody && S[semi] != u';') ++semi;
    const Entity* e = nullptr;
    if (semi == n || S[semi] == u';') e = FindEntity(std::u16string_view(S).substr(amp, semi - amp));
    if (!e) {
      // The unknown entity and everything after it stay as they are.
      out += u'&';
      out.append(S, amp, String::npos);
      break;
    }
    pos = semi < n ? semi + 1 : n;
    if (e->text == u"&") {
      pending = true;
    } else {
      pending = false;
      out.append(e->text);
    }
  }
  S = std::move(out);
}

namespace detail {

String DeleteExeFor(const String& exePath) { return UTF8ToString(DeleteExeForBytes(UTF8Encode(exePath))); }

std::string DeleteExeScript(const std::string& exePath, const std::string& scriptPath) {
  // The loop ends once the program's file is gone; on Linux a running program's file can be
  // removed at once, so the retries only matter for a file that resists (permissions, a busy
  // mount). After ten minutes the script gives up rather than spin forever.
  return "#!/bin/sh\n"
         "exe=" + ShellQuote(exePath) + "\n"
         "script=" + ShellQuote(scriptPath) + "\n"
         "tries=0\n"
         "while [ -e \"$exe\" ] || [ -L \"$exe\" ]; do\n"
         "  rm -f -- \"$exe\" 2>/dev/null\n"
         "  { [ -e \"$exe\" ] || [ -L \"$exe\" ]; } || break\n"
         "  tries=$((tries + 1))\n"
         "  [ \"$tries\" -ge 600 ] && break\n"
         "  sleep 1\n"
         "done\n"
         "rm -f -- \"$script\"\n";
}

String ContentTypeByFileIn(const String& FileName, const std::string& systemFile,
                           const std::string& userFile) {
  const String fallback = u"application/octet-stream";
  if (FileName.empty()) return fallback;
  size_t slash = FileName.rfind(u'/');
  size_t dot = FileName.rfind(u'.');
  if (dot == String::npos || (slash != String::npos && dot < slash)) return fallback;
  std::string ext = AsciiLower(UTF8Encode(FileName.substr(dot + 1)));
  if (ext.empty()) return fallback;
  std::string type;
  if (!userFile.empty()) type = LookUpType(userFile, ext);
  if (type.empty() && !systemFile.empty()) type = LookUpType(systemFile, ext);
  return type.empty() ? fallback : UTF8ToString(type);
}

}  // namespace detail

String XmlEscapeText(const String& S) {
  if (S.find_first_of(u"&<>") == String::npos) return S;
  String out;
  out.reserve(S.size() + 16);
  for (Char c : S) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

void ReduceProxyInfo(String& Server, bool& UseProxy, int& Port) {
  if (!UseProxy || Server.empty()) return;
  String text = Server;
  size_t http = Pos(u"http=", text);
  if (http > 0) {
    text.erase(0, http - 1 + 5);
    auto semi = text.find(u';');
    if (semi != String::npos) text.erase(semi);
  } else if (text.find(u'=') != String::npos) {
    // A per-protocol list without an http entry names no proxy for plain traffic; splitting
    // "https=h:p" at its colon would send the query to a host called "https=h".
    UseProxy = false;
    return;
  }
  if (!text.empty() && text.front() == u'[') {
    auto close = text.find(u']');
    if (close != String::npos) {
      String host = text.substr(1, close - 1);
      if (close + 1 < text.size() && text[close + 1] == u':')
        Port = StrToIntDef(text.substr(close + 2), 0);
      Server = host;
      return;
    }
  }
  auto colon = text.find(u':');
  if (colon != String::npos) {
    Port = StrToIntDef(text.substr(colon + 1), 0);
    text.erase(colon);
  }
  Server = text;
}

void ReadProxyInfo(String& Server, bool& UseProxy, int& Port) {
  String user, password, noProxy;
  ReadProxyInfo(Server, UseProxy, Port, user, password, noProxy);
}

void ReadProxyInfo(String& Server, bool& UseProxy, int& Port, String& User, String& Password, String& NoProxy) {
  TSystemProxy sys = ReadSystemProxy();
  if (sys.Available) {
    if (sys.HasServer) Server = sys.Server;
    UseProxy = sys.Enabled;
    if (!sys.User.empty()) User = sys.User;
    if (!sys.Password.empty()) Password = sys.Password;
    if (!sys.NoProxy.empty()) NoProxy = sys.NoProxy;
  }
  ReduceProxyInfo(Server, UseProxy, Port);
}

}  // namespace ktinet
