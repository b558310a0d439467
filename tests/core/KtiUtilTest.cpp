#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "core/ktiutil.h"
#include "rtl/Exceptions.h"
#include "support/RunTool.h"
#include "support/TempDir.h"

using namespace ktinet;

namespace {

// The decoding routine as the suite describes it, kept literal (capacity, terminator and
// "first C - 1 characters"), with four-byte sequences giving surrogate pairs.
int RefDecodeRoutine(Char* dest, size_t capacity, const String& src) {
  size_t i = 0, n = 0, len = src.size();
  auto byteAt = [&](size_t k) { return static_cast<unsigned>(src[k] & 0xFF); };
  while (i < len && n < capacity) {
    unsigned c = byteAt(i++);
    if (!(c & 0x80)) {
      dest[n++] = static_cast<Char>(c);
      continue;
    }
    if (i >= len) return -1;
    if ((c & 0xF8) == 0xF0) {
      unsigned b[3];
      for (unsigned& x : b) {
        if (i >= len) return -1;
        x = byteAt(i++);
        if ((x & 0xC0) != 0x80) return -1;
      }
      unsigned cp = ((c & 7) << 18) | ((b[0] & 0x3F) << 12) | ((b[1] & 0x3F) << 6) | (b[2] & 0x3F);
      if (cp < 0x10000) dest[n++] = static_cast<Char>(cp);
      else if (cp > 0x10FFFF) dest[n++] = 0xFFFD;
      else {
        dest[n++] = static_cast<Char>(0xD800 + ((cp - 0x10000) >> 10));
        dest[n++] = static_cast<Char>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      }
      continue;
    }
    unsigned w = c & 0x3F;
    if (w & 0x20) {
      unsigned b = byteAt(i++);
      if ((b & 0xC0) != 0x80) return -1;
      if (i >= len) return -1;
      w = (w << 6) | (b & 0x3F);
    }
    unsigned b = byteAt(i++);
    if ((b & 0xC0) != 0x80) return -1;
    dest[n++] = static_cast<Char>(((w << 6) | (b & 0x3F)) & 0xFFFF);
  }
  if (n >= capacity) n = capacity - 1;
  dest[n] = 0;
  return static_cast<int>(n + 1);
}

String RefUtf8Decode(const String& s) {
  if (s.empty()) return {};
  String buf(s.size() + 1, u'\0');
  int c = RefDecodeRoutine(buf.data(), buf.size(), s);
  return c > 0 ? buf.substr(0, static_cast<size_t>(c - 1)) : String();
}

// The entity replacement as described: one entity at a time, always from the start.
void RefReplaceHTMLChars(String& s) {
  static const std::pair<String, String> table[] = {
      {u"&brvbar", u"|"}, {u"&deg", u"\u00B0"}, {u"&plusmn", u"+"}, {u"&para", u"\u00A6"},
      {u"&amp", u"&"},    {u"&lt", u"<"},       {u"&gt", u">"},     {u"&copy", u"c"},
      {u"&quot", u"\""},  {u"&apos", u"'"},     {u"&trade", u"T"},  {u"&nbsp", u""}};
  for (;;) {
    size_t p = s.find(u'&');
    if (p == String::npos) return;
    size_t q = p + 1;
    while (q < s.size() && s[q] != u';') ++q;
    String entity = s.substr(p, q - p);
    const String* repl = nullptr;
    for (const auto& [name, text] : table)
      if (entity == name) repl = &text;
    if (!repl) return;
    s.erase(p, (q < s.size() ? q + 1 : q) - p);
    s.insert(p, *repl);
  }
}

// Byte strings that are mostly well-formed UTF-8 (ASCII runs long enough for the block path,
// two-, three- and four-byte sequences) with the occasional stray, truncated or odd byte.
std::string RandomUtf8ish(std::mt19937& rng, size_t pieces) {
  std::string s;
  auto r = [&](unsigned lo, unsigned hi) { return std::uniform_int_distribution<unsigned>(lo, hi)(rng); };
  auto cont = [&] { return static_cast<char>(r(0x80, 0xBF)); };
  for (size_t k = 0; k < pieces; ++k) {
    switch (r(0, 9)) {
      case 0: case 1: case 2: for (unsigned n = r(0, 40); n; --n) s += static_cast<char>(r(0, 0x7F)); break;
      case 3: s += static_cast<char>(r(0xC0, 0xDF)); s += cont(); break;
      case 4: s += static_cast<char>(r(0xE0, 0xEF)); s += cont(); s += cont(); break;
      case 5: s += static_cast<char>(r(0xF0, 0xF7)); s += cont(); s += cont(); s += cont(); break;
      case 6: s += static_cast<char>(r(0x80, 0xBF)); s += cont(); s += cont(); break;  // stray leads
      case 7: s += static_cast<char>(r(0xF8, 0xFF)); s += cont(); s += cont(); break;
      case 8: if (r(0, 20) == 0) s += static_cast<char>(r(0x80, 0xFF)); break;  // likely breaks it
      default: s += std::string(r(0, 3), '\0'); break;
    }
  }
  if (r(0, 10) == 0 && !s.empty()) s.pop_back();  // truncation
  return s;
}

std::string OpenSslBase64(const std::string& bytes) {
  std::string out(bytes.size() / 3 * 4 + 5, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(KtiUtil, Utf8DecodeKnownSequences) {
  EXPECT_EQ(Utf8Decode(String()), u"");
  EXPECT_EQ(Utf8Decode(u"plain ASCII"), u"plain ASCII");
  EXPECT_EQ(Utf8Decode(BytesToString("\xC3\xA9")), u"\u00E9");
  EXPECT_EQ(Utf8Decode(BytesToString("\xC3")), u"");
  EXPECT_EQ(Utf8Decode(BytesToString("ok\xC3(")), u"");              // bad continuation
  EXPECT_EQ(Utf8Decode(BytesToString("\xE2\x82\xAC!")), u"\u20AC!");
  EXPECT_EQ(Utf8Decode(BytesToString("\xE2\x82")), u"");              // truncated three-byte
  // Four bytes give a surrogate pair; truncated or broken they give nothing.
  EXPECT_EQ(Utf8Decode(BytesToString("a\xF0\x9F\x98\x80z")), String(u"a\xD83D\xDE00z"));
  EXPECT_EQ(Utf8Decode(BytesToString("\xF4\x8F\xBF\xBF")), String(u"\xDBFF\xDFFF"));
  EXPECT_EQ(Utf8Decode(BytesToString("\xF0\x9F\x98")), u"");
  EXPECT_EQ(Utf8Decode(BytesToString("\xF0\x9F\x98z")), u"");
  EXPECT_EQ(Utf8Decode(BytesToString("\xF4\x90\x80\x80")), u"\uFFFD");  // beyond U+10FFFF
  // The lenient rest: F8..FF lead like three-byte leads, bits above 16 fall off, zero bytes stay.
  EXPECT_EQ(Utf8Decode(BytesToString("\xF8\x80\x81")), u"\u8001");
  EXPECT_EQ(Utf8Decode(BytesToString("\x80\x80")), String(1, u'\0'));
  EXPECT_EQ(Utf8Decode(BytesToString(std::string("a\0b", 3))), String(u"a\0b", 3));
  // Only the low 8 bits of a character count.
  EXPECT_EQ(Utf8Decode(String(u"\u0141\u01C3\u01A9")), u"A\u00E9");
  // The byte overload agrees and reports malformed input.
  std::u16string out = u"left over";
  EXPECT_TRUE(Utf8Decode(std::string_view("\xC3\xA9"), out));
  EXPECT_EQ(out, u"\u00E9");
  EXPECT_FALSE(Utf8Decode(std::string_view("\xC3"), out));
  EXPECT_EQ(out, u"");
}

TEST(KtiUtil, Utf8DecodeFastPathsMatchTheDescribedRoutine) {
  std::mt19937 rng(20240601);
  std::u16string reused(5000, u'x');
  size_t malformed = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string bytes = RandomUtf8ish(rng, 1 + round % 60);
    String chars = BytesToString(bytes);
    // High bits above the byte must not change anything in the String overload.
    String noisy = chars;
    for (Char& c : noisy) c = static_cast<Char>(c | ((rng() & 3) << 8));
    String want = RefUtf8Decode(chars);
    if (want.empty() && !bytes.empty()) ++malformed;
    ASSERT_EQ(Utf8Decode(chars), want) << "round " << round;
    ASSERT_EQ(Utf8Decode(noisy), want) << "round " << round;
    ASSERT_EQ(Utf8Decode(std::string_view(bytes)), want) << "round " << round;
    ASSERT_EQ(Utf8Decode(std::string_view(bytes), reused), !(want.empty() && !bytes.empty()));
    ASSERT_EQ(reused, want) << "round " << round;
  }
  // Both outcomes must have been exercised for the comparison to mean something.
  EXPECT_GT(malformed, 100u);
  EXPECT_LT(malformed, 3900u);
}

TEST(KtiUtil, Encode64MatchesOpenSsl) {
  EXPECT_EQ(Encode64(String()), u"");
  String four = Encode64(u"abcd");
  EXPECT_EQ(four.size(), 8u);
  EXPECT_EQ(four, u"YWJjZA==");
  EXPECT_EQ(Encode64(u"ab"), u"YWI=");
  EXPECT_EQ(Encode64(u"abc"), u"YWJj");
  EXPECT_EQ(Encode64(String(u"\u0141\u01FF")), u"Qf8=");  // low 8 bits: 'A', 0xFF
  std::mt19937 rng(7);
  for (size_t len = 0; len < 400; ++len) {
    std::string bytes(len, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    std::string want = OpenSslBase64(bytes);
    ASSERT_EQ(Encode64(std::string_view(bytes)), want) << len;
    ASSERT_EQ(Encode64(BytesToString(bytes)), BytesToString(want)) << len;
  }
  std::string big(1 << 20, '\0');
  for (char& c : big) c = static_cast<char>(rng());
  std::string out = "stale";
  Encode64(std::string_view(big), out);
  EXPECT_EQ(out, OpenSslBase64(big));
  EXPECT_EQ(out.find('\n'), std::string::npos);
}

TEST(KtiUtil, ReplaceHTMLCharsKnownCases) {
  auto replaced = [](String s) {
    ReplaceHTMLChars(s);
    return s;
  };
  EXPECT_EQ(replaced(u"a &lt; b &amp; c"), u"a < b & c");
  EXPECT_EQ(replaced(u"x&nbsp;y"), u"xy");
  EXPECT_EQ(replaced(u"&AMP;"), u"&AMP;");
  EXPECT_EQ(replaced(u"&amp;lt;"), u"<");
  EXPECT_EQ(replaced(u"&amp;amp;amp;gt;"), u">");
  EXPECT_EQ(replaced(u"&amp; then &lt;"), u"& then &lt;");  // the '&' left behind stops it
  EXPECT_EQ(replaced(u"&#65; &lt;"), u"&#65; &lt;");
  EXPECT_EQ(replaced(u"&deg;&para;&brvbar;&plusmn;&copy;&trade;&quot;&apos;&gt;"),
            u"\u00B0\u00A6|+cT\"'>");
  EXPECT_EQ(replaced(u"tail &lt"), u"tail <");        // no ';': the entity runs to the end
  EXPECT_EQ(replaced(u"&amp"), u"&");
  EXPECT_EQ(replaced(u"&brvbarx;&lt;"), u"&brvbarx;&lt;");
}

TEST(KtiUtil, ReplaceHTMLCharsMatchesTheRestartingProcedure) {
  const String pieces[] = {u"&", u";", u"amp", u"lt", u"gt", u"nbsp", u"brvbar", u"plusmn", u"deg",
                           u"quot", u"a", u"xy", u"#", u" ", u"&amp;", u"&lt;", u"AMP", u"&nbsp"};
  std::mt19937 rng(99);
  size_t changed = 0;
  for (int round = 0; round < 20000; ++round) {
    String s;
    for (int k = static_cast<int>(rng() % 30); k > 0; --k) s += pieces[rng() % std::size(pieces)];
    String want = s, got = s;
    RefReplaceHTMLChars(want);
    ReplaceHTMLChars(got);
    ASSERT_EQ(got, want) << UTF8Encode(s);
    if (want != s) ++changed;
  }
  EXPECT_GT(changed, 2000u);
}

TEST(KtiUtil, GetColumnAndReverse) {
  const String s = u"a;b;;d";
  EXPECT_EQ(GetColumn(s, 0, u';'), u"a");
  EXPECT_EQ(GetColumn(s, 1, u';'), u"b");
  EXPECT_EQ(GetColumn(s, 2, u';'), u"");
  EXPECT_EQ(GetColumn(s, 3, u';'), u"d");
  EXPECT_EQ(GetColumn(s, 4, u';'), u"");
  EXPECT_EQ(GetColumn(s, -1, u';'), u"");
  EXPECT_EQ(GetColumn(u"\t", 0, u';'), u"");
  EXPECT_EQ(GetColumn(u"one\ttwo", 1, u'\t'), u"two");
  EXPECT_EQ(GetColumn(u";;x", 2, u';'), u"x");

  EXPECT_EQ(Reverse(String()), u"");
  EXPECT_EQ(Reverse(u"abc"), u"cba");
  // A pair stays in order so the reversed text is still valid UTF-16; lone halves just move.
  EXPECT_EQ(Reverse(String(u"a\xD83D\xDE00z")), String(u"z\xD83D\xDE00" u"a"));
  EXPECT_EQ(Reverse(String(u"\xDE00\xD83D")), String(u"\xD83D\xDE00"));
}

TEST(KtiUtil, ContentTypeByFileReadsTheRegistryFiles) {
  test::TempDir dir;
  std::string system = dir.Write("mime.types",
                                 "# a comment line with text/x-bad bad\n"
                                 "text/html\t html  HTM  # tail comment xyz\n"
                                 "image/png png\r\n"
                                 "application/x-first dup\n"
                                 "application/x-second dup\n"
                                 "application/x-lonely\n"
                                 "application/x-foo foo\n");
  std::string user = dir.Write("user.types", "image/x-user-png .PNG\n");
  auto type = [&](const char* name, const std::string& u = "") {
    return UTF8Encode(detail::ContentTypeByFileIn(Str(name), system, u));
  };
  EXPECT_EQ(type("/srv/page.HTML"), "text/html");
  EXPECT_EQ(type("page.htm"), "text/html");
  EXPECT_EQ(type("pic.png"), "image/png");
  EXPECT_EQ(type("pic.png", user), "image/x-user-png");
  EXPECT_EQ(type("page.html", user), "text/html");
  EXPECT_EQ(type("x.dup"), "application/x-second");
  EXPECT_EQ(type("x.bad"), "application/octet-stream");
  EXPECT_EQ(type("x.xyz"), "application/octet-stream");
  EXPECT_EQ(type("x.x-lonely"), "application/octet-stream");
  EXPECT_EQ(type("README"), "application/octet-stream");
  EXPECT_EQ(type("dir.d/README"), "application/octet-stream");
  EXPECT_EQ(type("trailing."), "application/octet-stream");
  EXPECT_EQ(type(""), "application/octet-stream");
  EXPECT_EQ(UTF8Encode(detail::ContentTypeByFileIn(u"a.png", dir / "missing", "")), "application/octet-stream");

  // The public function finds the files through the environment.
  std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("KTINET_MIME_TYPES", system.c_str(), 1);
  setenv("HOME", dir.Path().c_str(), 1);
  EXPECT_EQ(ContentTypeByFile(u"doc.foo"), u"application/x-foo");
  EXPECT_EQ(ContentTypeByFile(u"pic.png"), u"image/png");
  dir.Write(".mime.types", "image/x-home png\n");
  EXPECT_EQ(ContentTypeByFile(u"pic.png"), u"image/x-home");
  unsetenv("KTINET_MIME_TYPES");
  setenv("HOME", oldHome.c_str(), 1);
}

TEST(KtiUtil, DeleteExeRemovesExactlyTheProgramFileAndItsScript) {
  test::TempDir dir;
  // The payloads name absolute paths inside this test's folder, so that a quoting fault touches
  // nothing outside it, and nothing a former run left behind can decide this one. A path holds
  // them only as folders, since a '/' cannot stand in a file name.
  const std::string pwned = dir / "pwned", pwnedToo = dir / "pwned-too";
  std::string sub = dir / ("dir with 'quotes' \"dq\" $HOME & `x` $(touch " + pwned + ") `touch " + pwnedToo + "`");
  std::filesystem::create_directories(sub);
  std::string exe = sub + "/victim file 'q'\nline2.bin";
  std::string script = sub + "/victim file 'q'\nline2.sh";
  std::string decoy = sub + "/victim";
  dir.Write(exe.substr(dir.Path().size() + 1), "\x7f" "ELF pretend");
  dir.Write(decoy.substr(dir.Path().size() + 1), "keep me");
  dir.Write(sub.substr(dir.Path().size() + 1) + "/file", "keep me too");

  EXPECT_EQ(UTF8Encode(detail::DeleteExeFor(Str(exe))), script);
  // The intermediate child was reaped and the script is not ours: nothing is left to wait for.
  int status;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((Exists(exe) || Exists(script)) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(Exists(exe));
  EXPECT_FALSE(Exists(script));
  EXPECT_TRUE(Exists(decoy));
  EXPECT_TRUE(Exists(sub + "/file"));
  EXPECT_FALSE(Exists(pwned));
  EXPECT_FALSE(Exists(pwnedToo));
  // The payload is live: the same path unquoted does run it.
  ASSERT_NE(system(("sh -c " + test::ShellQuote(": " + sub) + " >/dev/null 2>&1").c_str()), -1);
  EXPECT_TRUE(Exists(pwned));
  EXPECT_TRUE(Exists(pwnedToo));

  // A script that cannot be written is the caller's error; nothing is started.
  EXPECT_THROW(detail::DeleteExeFor(Str(dir / "no such dir/prog")), EFCreateError);
}
