#include "rtl/SysUtils.h"
#include "rtl/UrlEncoding.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "rtl/DateTime.h"
#include "support/TempDir.h"

using namespace ktinet;
using ktinet::test::TempDir;

namespace {

String S(const std::string& utf8) { return UTF8ToString(utf8); }

// The message of the EConvertError that `f` raises, or "no exception".
template <typename F>
std::string ConvertErrorOf(F f) {
  try {
    f();
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace

TEST(Format, IntegersTextsWidthPrecisionAndIndex) {
  EXPECT_EQ(Format(u"%d|%5d|%-5d|%.3d|%5.3d", {42, 42, 42, -7, 7}), u"42|   42|42   |-007|  007");
  EXPECT_EQ(Format(u"%u %x %X %.4x", {3000000000u, 255, 48879, 10}), u"3000000000 FF BEEF 000A");
  // a negative Integer shows its 32-bit pattern, a wider value its 64-bit one
  EXPECT_EQ(Format(u"%x %u", {-1, -2}), u"FFFFFFFF 4294967294");
  EXPECT_EQ(Format(u"%x", {-4294967296LL}), u"FFFFFFFF00000000");
  EXPECT_EQ(Format(u"%d", {-9223372036854775807LL - 1}), u"-9223372036854775808");
  EXPECT_EQ(Format(u"[%s] [%6s] [%-6s] [%.2s] [%4.2s]", {"abc", "abc", "abc", "abc", u"\u00e9xyz"}),
            u"[abc] [   abc] [abc   ] [ab] [  \u00e9x]");
  EXPECT_EQ(Format(u"%1:s %0:s %s", {"a", "b", "c"}), u"b a b") << "after %0: the next argument is 1";
  EXPECT_EQ(Format(u"%*d|%-*s|%.*f|%*.*s", {4, 7, 3, "x", 1, 2.25, 5, 2, "hello"}), u"   7|x  |2.3|   he");
  EXPECT_EQ(Format(u"%*d", {-4, 7}), u"7   ") << "a negative width from the arguments aligns left";
  EXPECT_EQ(Format(u"100%% %s", {u'x'}), u"100% x");
  EXPECT_EQ(Format(u"%D %S", {5, "up"}), u"5 up") << "type letters are case-insensitive";
  int local = 0;
  String p = Format(u"%p", {static_cast<const void*>(&local)});
  EXPECT_EQ(p.size(), 2 * sizeof(void*));
  EXPECT_EQ(StrToInt64(u"$" + p), static_cast<long long>(reinterpret_cast<std::uintptr_t>(&local)));
  EXPECT_EQ(Format(u"no args", {}), u"no args");
}

TEST(Format, FloatingPoint) {
  EXPECT_EQ(Format(u"%f %.0f %.3f %8.1f %-8.1f|", {3.14159, 2.5, -1.0005, 12.34, 12.34}),
            u"3.14 3 -1.001     12.3 12.3    |");
  // rounding is decimal, halves away from zero, and a result of zero carries no sign
  EXPECT_EQ(Format(u"%.2f %.2f %.1f %.2f %.2f", {2.675, 0.125, 0.25, -0.001, 0.006}), u"2.68 0.13 0.3 0.00 0.01");
  EXPECT_EQ(Format(u"%.2f", {999.999}), u"1000.00");
  EXPECT_EQ(Format(u"%n %.0n %n", {1234567.891, -1234.5, 12.0}), u"1,234,567.89 -1,235 12.00");
  EXPECT_EQ(Format(u"%m %m", {1234.5, -0.5}), u"$1,234.50 ($0.50)");
  EXPECT_EQ(Format(u"%e|%.3e|%.3e|%e", {1234.5, -0.00012345, 9.9996, 0.0}),
            u"1.23450000000000E+003|-1.23E-004|1.00E+001|0.00000000000000E+000");
  EXPECT_EQ(Format(u"%g %g %g %g %g %.3g", {0.1, 100.0, 1.0 / 3, 1e20, 1.5e-10, 1234.5}),
            u"0.1 100 0.333333333333333 1E20 1.5E-10 1.23E3");
  EXPECT_EQ(Format(u"%g %g", {0.00001, 0.000001}), u"0.00001 1E-6");
  EXPECT_EQ(Format(u"%f %f %5g", {std::nan(""), -HUGE_VAL, HUGE_VAL}), u"NAN -INF   INF");
  EXPECT_EQ(FloatToStr(0.1), u"0.1");
  EXPECT_EQ(FloatToStr(-2.5e-7), u"-2.5E-7");
  EXPECT_EQ(FloatToStr(123456789012345.0), u"123456789012345");
  EXPECT_EQ(FloatToStr(1234567890123456.0), u"1.23456789012346E15");
}

TEST(Format, MismatchedOrMissingArgumentsRaise) {
  const std::string suffix = "' invalid or incompatible with argument";
  EXPECT_EQ(ConvertErrorOf([] { Format(u"id=%d", {"abc"}); }), "Format 'id=%d" + suffix);
  EXPECT_EQ(ConvertErrorOf([] { Format(u"%s", {5}); }), "Format '%s" + suffix);
  EXPECT_EQ(ConvertErrorOf([] { Format(u"%f", {5}); }), "Format '%f" + suffix);
  EXPECT_EQ(ConvertErrorOf([] { Format(u"%d", {1.5}); }), "Format '%d" + suffix);
  EXPECT_EQ(ConvertErrorOf([] { Format(u"%s and %s", {"one"}); }), "Format '%s and %s" + suffix);
  EXPECT_EQ(ConvertErrorOf([] { Format(u"%5:s", {"one"}); }), "Format '%5:s" + suffix);
  EXPECT_EQ(ConvertErrorOf([] { Format(u"%y", {1}); }), "Format '%y" + suffix);
  EXPECT_EQ(ConvertErrorOf([] { Format(u"50%", {}); }), "Format '50%" + suffix);
  EXPECT_EQ(ConvertErrorOf([] { Format(u"%*d", {"w", 1}); }), "Format '%*d" + suffix);
  EXPECT_EQ(ConvertErrorOf([] { Format(u"%p", {1}); }), "Format '%p" + suffix);
  // an absurd width is a broken format rather than a request for gigabytes
  EXPECT_EQ(ConvertErrorOf([] { Format(u"%99999999999d", {1}); }), "Format '%99999999999d" + suffix);
}

TEST(StrToInt, DecimalHexBlanksAndErrors) {
  EXPECT_EQ(StrToInt(u"  -42"), -42);
  EXPECT_EQ(StrToInt(u"+7"), 7);
  EXPECT_EQ(StrToInt(u"$1F"), 31);
  EXPECT_EQ(StrToInt(u"0x1f"), 31);
  EXPECT_EQ(StrToInt(u"-$10"), -16);
  EXPECT_EQ(StrToInt(u"$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt(u"2147483647"), 2147483647);
  EXPECT_EQ(StrToInt(u"-2147483648"), -2147483647 - 1);
  EXPECT_EQ(StrToInt64(u"9223372036854775807"), 9223372036854775807LL);
  EXPECT_EQ(StrToInt64(u"-9223372036854775808"), -9223372036854775807LL - 1);
  EXPECT_EQ(StrToInt64(u"$100000000"), 4294967296LL);
  for (const char* bad : {"", " ", "12 ", "1 2", "2147483648", "-2147483649", "$", "0x", "$100000000", "12a",
                          "--1", "1.0", "\t5", "\xef\xbc\x91"}) {
    String s = S(bad);
    EXPECT_EQ(ConvertErrorOf([&] { StrToInt(s); }), "'" + std::string(bad) + "' is not a valid integer value")
        << "input [" << bad << "]";
    EXPECT_EQ(StrToIntDef(s, -99), -99) << "input [" << bad << "]";
  }
  EXPECT_EQ(ConvertErrorOf([] { StrToInt64(u"9223372036854775808"); }),
            "'9223372036854775808' is not a valid integer value");
  int out = 5;
  EXPECT_FALSE(TryStrToInt(u"x", out));
  EXPECT_TRUE(TryStrToInt(u"0", out));
  EXPECT_EQ(out, 0);
}

TEST(TextFunctions, TrimCaseCompareAndSearch) {
  EXPECT_EQ(Trim(S("\t\r\n a b \x01")), u"a b");
  EXPECT_EQ(TrimLeft(u"  x "), u"x ");
  EXPECT_EQ(TrimRight(u"  x \u00a0"), u"  x \u00a0") << "a no-break space is above the blank range";
  EXPECT_EQ(UpperCase(u"abz\u00e9"), u"ABZ\u00e9");
  EXPECT_EQ(AnsiUpperCase(u"abz\u00e9\u00ff\u00f7\u0161\u00df"), u"ABZ\u00c9\u0178\u00f7\u0160\u00df");
  EXPECT_EQ(AnsiLowerCase(u"ABZ\u00c9\u0178\u00d7"), u"abz\u00e9\u00ff\u00d7");
  EXPECT_EQ(LowerCase(u"MiXeD\u00c9"), u"mixed\u00c9");
  EXPECT_EQ(CompareText(u"abc", u"ABC"), 0);
  EXPECT_LT(CompareText(u"abc", u"ABD"), 0);
  EXPECT_LT(CompareText(u"ab", u"ABC"), 0);
  EXPECT_GT(CompareStr(u"abc", u"ABC"), 0);
  EXPECT_TRUE(SameText(u"Content-Type", u"content-TYPE"));
  EXPECT_FALSE(SameText(u"\u00e9", u"\u00c9"));
  EXPECT_TRUE(StartsText(u"HTTP/", u"http/1.0 200"));
  EXPECT_TRUE(EndsText(u".XML", u"feed.xml"));
  EXPECT_FALSE(EndsText(u"long.xml", u".xml"));

  EXPECT_EQ(Pos(u"b", u"abcb"), 2u);
  EXPECT_EQ(Pos(u"b", u"abcb", 3), 4u);
  EXPECT_EQ(Pos(u"b", u"abcb", 5), 0u);
  EXPECT_EQ(Pos(u"", u"abc"), 0u);
  EXPECT_EQ(Pos(u"abcd", u"abc"), 0u);
  EXPECT_EQ(Copy(u"hello", 2, 3), u"ell");
  EXPECT_EQ(Copy(u"hello", 4, 100), u"lo");
  EXPECT_EQ(Copy(u"hello", 0, 2), u"he");
  EXPECT_EQ(Copy(u"hello", 6, 1), u"");

  EXPECT_EQ(StringReplace(u"a.b.c", u".", u"::", 0), u"a::b.c");
  EXPECT_EQ(StringReplace(u"a.b.c", u".", u"::", rfReplaceAll), u"a::b::c");
  EXPECT_EQ(StringReplace(u"Xx-xX", u"x", u"y", rfReplaceAll | rfIgnoreCase), u"yy-yy");
  EXPECT_EQ(StringReplace(u"aaa", u"aa", u"a", rfReplaceAll), u"aa") << "replaced text is not searched again";
  EXPECT_EQ(StringReplace(u"abc", u"", u"x", rfReplaceAll), u"abc");
  EXPECT_EQ(QuotedStr(u"it's"), u"'it''s'");
  EXPECT_EQ(IntToHex(255, 4), u"00FF");
  EXPECT_EQ(IntToHex(0x12345, 2), u"12345");
  EXPECT_EQ(IntToStr(-12), u"-12");
  EXPECT_EQ(BoolToStr(true), u"-1");
  EXPECT_EQ(BoolToStr(false, true), u"False");
}

TEST(FileNames, LastComponentRules) {
  EXPECT_EQ(ExtractFileExt(u"a/b.c/d"), u"");
  EXPECT_EQ(ExtractFileExt(u"/x/archive.tar.gz"), u".gz");
  EXPECT_EQ(ExtractFileExt(u"name."), u".");
  EXPECT_EQ(ExtractFileExt(u"noext"), u"");
  EXPECT_EQ(ChangeFileExt(u"a/b.c/d", u".txt"), u"a/b.c/d.txt");
  EXPECT_EQ(ChangeFileExt(u"a/b.tar.gz", u".zip"), u"a/b.tar.zip");
  EXPECT_EQ(ChangeFileExt(u"a/b.txt", u""), u"a/b");
  EXPECT_EQ(ExtractFileName(u"/dir/sub/file.txt"), u"file.txt");
  EXPECT_EQ(ExtractFileName(u"/dir/sub/"), u"");
  EXPECT_EQ(ExtractFileName(u"plain"), u"plain");
  EXPECT_EQ(ExtractFilePath(u"/dir/sub/file.txt"), u"/dir/sub/");
  EXPECT_EQ(ExtractFilePath(u"plain"), u"");
  EXPECT_EQ(ExtractFileDir(u"/dir/sub/file.txt"), u"/dir/sub");
  EXPECT_EQ(ExtractFileDir(u"/file"), u"/");
  EXPECT_EQ(ExtractFileDir(u"plain"), u"");
  EXPECT_EQ(IncludeTrailingPathDelimiter(u"/a"), u"/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(u"/a/"), u"/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(u""), u"/");
  EXPECT_EQ(ExcludeTrailingPathDelimiter(u"/a/"), u"/a");
  EXPECT_EQ(ExcludeTrailingPathDelimiter(u"/a"), u"/a");
  EXPECT_EQ(ExpandFileName(u"/a/./b/../c//d/"), u"/a/c/d/");
  EXPECT_EQ(ExpandFileName(u"/.."), u"/");
  EXPECT_EQ(ExpandFileName(u"rel/x"), IncludeTrailingPathDelimiter(GetCurrentDir()) + u"rel/x");
}

TEST(FileSearch, MaskRules) {
  EXPECT_TRUE(MatchesMask(u"README", u"*.*"));
  EXPECT_TRUE(MatchesMask(u".", u"*.*"));
  EXPECT_TRUE(MatchesMask(u"a.b.c", u"*"));
  EXPECT_TRUE(MatchesMask(u"Report.TXT", u"*.txt"));
  EXPECT_FALSE(MatchesMask(u"report.txt.bak", u"*.txt"));
  EXPECT_TRUE(MatchesMask(u"a1.log", u"a?.log"));
  EXPECT_FALSE(MatchesMask(u"a.log", u"a?.log")) << "'?' is exactly one character";
  EXPECT_FALSE(MatchesMask(u"a12.log", u"a?.log"));
  EXPECT_TRUE(MatchesMask(u"abcabd", u"*ab?"));
  EXPECT_TRUE(MatchesMask(u"\u00c9t\u00e9.doc", u"\u00e9T\u00c9*"));
  EXPECT_TRUE(MatchesMask(u"setup", u"setup.*"));
  EXPECT_TRUE(MatchesMask(u"Makefile", u"*."));
  EXPECT_FALSE(MatchesMask(u"main.c", u"*."));
  EXPECT_FALSE(MatchesMask(u"abc", u""));
}

TEST(FileSearch, ListsATemporaryDirectory) {
  TempDir dir;
  dir.Write("one.txt", "12345");
  dir.Write("TWO.TXT", "");
  dir.Write("three.dat", "xyz");
  dir.Write(".hidden.txt", "h");
  ASSERT_EQ(mkdir((dir / "sub.txt").c_str(), 0755), 0);
  ASSERT_EQ(chmod((dir / "TWO.TXT").c_str(), 0444), 0);
  // a known last-write time: 2021-03-04 05:06:07.5 UTC
  const std::time_t when = 1614834367;
  struct timespec times[2] = {{when, 0}, {when, 500000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "one.txt").c_str(), times, 0), 0);

  auto list = [&](const std::string& mask, int attr) {
    std::map<std::string, TSearchRec> found;
    TSearchRec rec;
    int rc = FindFirst(S(dir.Path() + "/" + mask), attr, rec);
    while (rc == 0) {
      EXPECT_TRUE(found.emplace(UTF8Encode(rec.Name), rec).second) << "listed twice: " << UTF8Encode(rec.Name);
      rc = FindNext(rec);
    }
    EXPECT_EQ(rc, ENOENT);
    FindClose(rec);
    EXPECT_EQ(rec.FindHandle, nullptr);
    return found;
  };

  auto all = list("*.*", faAnyFile);
  std::vector<std::string> names;
  for (auto& [k, v] : all) names.push_back(k);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", ".hidden.txt", "TWO.TXT", "one.txt", "sub.txt", "three.dat"}));
  const TSearchRec& one = all["one.txt"];
  EXPECT_EQ(one.Size, 5);
  EXPECT_EQ(one.Attr, 0);
  EXPECT_EQ(FileTimeToInt64(one.LastWriteTime), 132593079675000000LL);
  EXPECT_EQ(DateTimeToUnix(LocalToUTC(one.TimeStamp)), when + 1) << "half a second rounds up";
  EXPECT_EQ(all["TWO.TXT"].Attr, faReadOnly);
  EXPECT_EQ(all["sub.txt"].Attr & faDirectory, faDirectory);
  EXPECT_EQ(all[".hidden.txt"].Attr, faHidden);
  EXPECT_EQ(all["."].Attr & (faDirectory | faHidden), faDirectory);

  // without faDirectory (and faHidden) those entries stay out; plain files always come
  auto files = list("*.txt", 0);
  names.clear();
  for (auto& [k, v] : files) names.push_back(k);
  EXPECT_EQ(names, (std::vector<std::string>{"TWO.TXT", "one.txt"}));
  EXPECT_EQ(list("*.txt", faDirectory).count("sub.txt"), 1u);
  EXPECT_EQ(list("t?o.*", faAnyFile).size(), 1u);

  TSearchRec rec;
  EXPECT_EQ(FindFirst(S(dir.Path() + "/*.none"), faAnyFile, rec), ENOENT);
  EXPECT_EQ(rec.FindHandle, nullptr);
  EXPECT_EQ(FindFirst(S(dir.Path() + "/missing/*.*"), faAnyFile, rec), ENOENT);
  FindClose(rec);

  // a name that is not UTF-8 is still listed with its size
  TempDir odd;
  odd.Write("bad\xff.bin", "1234");
  ASSERT_EQ(FindFirst(S(odd.Path() + "/*.bin"), faAnyFile, rec), 0);
  EXPECT_EQ(rec.Name, u"bad\ufffd.bin");
  EXPECT_EQ(rec.Size, 4);
  FindClose(rec);
}

TEST(FileFunctions, CopyCreateAndQuery) {
  TempDir dir;
  String src = S(dir.Write("src.bin", std::string("a\0b", 3)));
  String dst = S(dir / "dst.bin");
  EXPECT_TRUE(FileExists(src));
  EXPECT_FALSE(FileExists(S(dir.Path())));
  EXPECT_TRUE(DirectoryExists(S(dir.Path())));
  EXPECT_EQ(FileSizeOf(src), 3);
  EXPECT_EQ(FileSizeOf(S(dir / "missing")), -1);

  EXPECT_TRUE(CopyFile(src, dst, true));
  EXPECT_EQ(test::ReadFileBytes(UTF8Encode(dst)), std::string("a\0b", 3));
  EXPECT_FALSE(CopyFile(src, dst, true));
  EXPECT_EQ(GetLastError(), EEXIST);
  dir.Write("dst.bin", "longer old content");
  EXPECT_TRUE(CopyFile(src, dst, false));
  EXPECT_EQ(FileSizeOf(dst), 3);
  // copying onto itself must not truncate the source
  EXPECT_FALSE(CopyFile(src, src, false));
  EXPECT_EQ(FileSizeOf(src), 3);
  EXPECT_FALSE(CopyFile(S(dir / "missing"), dst, false));
  EXPECT_EQ(GetLastError(), ENOENT);

  String deep = S(dir / "x/y/z");
  EXPECT_TRUE(ForceDirectories(deep + u"/"));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_TRUE(ForceDirectories(deep));
  EXPECT_FALSE(CreateDir(deep));
  EXPECT_FALSE(ForceDirectories(src + u"/under-a-file"));
  EXPECT_TRUE(RenameFile(dst, deep + u"/moved"));
  EXPECT_TRUE(FileExists(deep + u"/moved"));
  EXPECT_TRUE(DeleteFile(deep + u"/moved"));
  EXPECT_FALSE(DeleteFile(deep + u"/moved"));
  EXPECT_TRUE(RemoveDir(deep));

  // names travel to the system as UTF-8
  String named = S(dir.Path() + "/caf\xc3\xa9.txt");
  EXPECT_TRUE(CopyFile(src, named, true));
  EXPECT_TRUE(std::filesystem::exists(dir / "caf\xc3\xa9.txt"));
}

TEST(SystemFunctions, EnvironmentErrorsAndProgram) {
  EXPECT_EQ(SysErrorMessage(ENOENT), u"No such file or directory");
  EXPECT_FALSE(SysErrorMessage(123456).empty());
  String exe = ParamStr(0);
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe[0], u'/');
  EXPECT_TRUE(FileExists(exe));
  EXPECT_EQ(ExtractFileName(exe), u"test_rtl");
  EXPECT_GE(ParamCount(), 0);
  EXPECT_EQ(ParamStr(ParamCount() + 1), u"");

  const char* saved = std::getenv("TMPDIR");
  std::string keep = saved ? saved : "";
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(GetTempDir(), u"/var/tmp/");
  EXPECT_EQ(GetEnvironmentVariable(u"TMPDIR"), u"/var/tmp");
  unsetenv("TMPDIR");
  EXPECT_EQ(GetTempDir(), u"/tmp/");
  if (saved) setenv("TMPDIR", keep.c_str(), 1);
}

namespace ktinet {
namespace {

// URL parts keep only the unreserved characters (and those asked for); everything else, a NUL and
// each byte of a multi-byte character included, becomes %XX.
TEST(UrlEncoding, KeepsOnlyUnreservedAndAskedForBytes) {
  EXPECT_EQ(PercentEncodeBytes("aZ09-._~ /&=+"), "aZ09-._~%20%2F%26%3D%2B");
  EXPECT_EQ(PercentEncodeBytes("dir/file name", "/"), "dir/file%20name");
  EXPECT_EQ(PercentEncodeBytes(std::string_view("a\0b", 3), "/"), "a%00b");
  EXPECT_EQ(PercentEncodeBytes("b\xc3\xbc"), "b%C3%BC");
}

}  // namespace
}  // namespace ktinet
