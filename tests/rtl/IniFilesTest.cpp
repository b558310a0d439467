#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "rtl/IniFiles.h"
#include "rtl/Streams.h"
#include "support/TempDir.h"

using namespace ktinet;

namespace {

std::vector<String> Lines(const TStrings& s) { return s.ToVector(); }

TEST(IniFile, ReadingRules) {
  test::TempDir dir;
  String name = Str(dir.Write("app.ini",
                              "orphan=ignored\r\n"
                              "; comment\r\n"
                              "[ Main ]\r\n"
                              "  Host \t=  example.org  \r\n"
                              "url=http://x/?a=b\r\n"
                              ";hidden=1\r\n"
                              "Quoted=\" padded \"\r\n"
                              "single='s'\r\n"
                              "mismatched=\"x'\r\n"
                              "flagonly\r\n"
                              "=novalue\r\n"
                              "Port=8080\r\n"
                              "host=second\r\n"
                              "\r\n"
                              "[Other]\n"
                              "a=1\r"
                              "[main]\r\n"
                              "late=1\r\n"
                              "[Empty]\r\n"));
  TIniFile ini(name);
  EXPECT_EQ(ini.ReadString(u"MAIN", u"host", u"def"), u"example.org");  // first one answers
  EXPECT_EQ(ini.ReadString(u"main", u"URL", u""), u"http://x/?a=b");
  EXPECT_EQ(ini.ReadString(u"main", u"hidden", u"def"), u"def");
  EXPECT_EQ(ini.ReadString(u"main", u"quoted", u""), u" padded ");
  EXPECT_EQ(ini.ReadString(u"main", u"single", u""), u"s");
  EXPECT_EQ(ini.ReadString(u"main", u"mismatched", u""), u"\"x'");
  EXPECT_EQ(ini.ReadString(u"main", u"flagonly", u"def"), u"");
  EXPECT_TRUE(ini.ValueExists(u"Main", u"FLAGONLY"));
  EXPECT_EQ(ini.ReadString(u"main", u"late", u"def"), u"def");  // lives in a repeated section
  EXPECT_EQ(ini.ReadString(u"", u"orphan", u"def"), u"def");
  EXPECT_EQ(ini.ReadString(u"other", u"a", u""), u"1");  // lone CR and LF end lines too
  EXPECT_EQ(ini.ReadInteger(u"main", u"port", 0), 8080);
  EXPECT_EQ(ini.ReadInteger(u"main", u"host", -1), -1);
  EXPECT_TRUE(ini.ReadBool(u"other", u"a", false));
  EXPECT_TRUE(ini.ReadBool(u"other", u"missing", true));

  TStringList list;
  ini.ReadSections(&list);
  EXPECT_EQ(Lines(list), (std::vector<String>{u"Main", u"Other", u"Empty"}));
  ini.ReadSection(u"main", &list);
  EXPECT_EQ(Lines(list), (std::vector<String>{u"Host", u"url", u"Quoted", u"single", u"mismatched", u"flagonly", u"Port"}));
  ini.ReadSectionValues(u"other", &list);
  EXPECT_EQ(Lines(list), (std::vector<String>{u"a=1"}));
  EXPECT_TRUE(ini.SectionExists(u"OTHER"));
  EXPECT_FALSE(ini.SectionExists(u"Empty"));  // no keys, as the framework has it
  EXPECT_FALSE(ini.SectionExists(u"nowhere"));

  TIniFile none(Str(dir / "missing.ini"));
  none.ReadSections(&list);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(none.ReadString(u"a", u"b", u"fallback"), u"fallback");
}

TEST(IniFile, WritesKeepTheRestOfTheFile) {
  test::TempDir dir;
  std::string original =
      "; settings\r\n"
      "[Main]\r\n"
      "Host=old\r\n"
      "; keep this\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=1\r\n";
  String name = Str(dir.Write("app.ini", original));
  TIniFile ini(name);
  ini.WriteString(u"main", u"HOST", u"new");
  ini.WriteInteger(u"Main", u"Port", 21);
  ini.WriteBool(u"Fresh", u"On", true);
  EXPECT_EQ(test::ReadFileBytes(dir / "app.ini"),
            "; settings\r\n"
            "[Main]\r\n"
            "HOST=new\r\n"
            "Port=21\r\n"
            "; keep this\r\n"
            "\r\n"
            "[Other]\r\n"
            "x=1\r\n"
            "[Fresh]\r\n"
            "On=1\r\n");
  ini.DeleteKey(u"main", u"host");
  ini.EraseSection(u"OTHER");
  EXPECT_EQ(test::ReadFileBytes(dir / "app.ini"),
            "; settings\r\n"
            "[Main]\r\n"
            "Port=21\r\n"
            "; keep this\r\n"
            "\r\n"
            "[Fresh]\r\n"
            "On=1\r\n");
  // A second reader sees every write; a write by another instance is seen by the first.
  TIniFile other(name);
  EXPECT_EQ(other.ReadInteger(u"main", u"port", 0), 21);
  other.WriteString(u"Main", u"User", u"bob");
  EXPECT_EQ(ini.ReadString(u"main", u"user", u""), u"bob");
  ini.WriteString(u"Main", u"Pass", u"x");
  EXPECT_EQ(other.ReadString(u"main", u"user", u""), u"bob");
  EXPECT_EQ(other.ReadString(u"main", u"pass", u""), u"x");

  // Erasing a repeated section removes every copy, so none surfaces afterwards.
  String dup = Str(dir.Write("dup.ini", "[A]\nk=1\n[B]\nb=2\n[a]\nk=2\n"));
  TIniFile d(dup);
  d.EraseSection(u"a");
  EXPECT_FALSE(d.ValueExists(u"A", u"k"));
  EXPECT_EQ(test::ReadFileBytes(dir / "dup.ini"), "[B]\nb=2\n");  // LF files stay LF
}

TEST(IniFile, RefusesWritesThatWouldCorruptTheFile) {
  test::TempDir dir;
  String name = Str(dir / "safe.ini");
  TIniFile ini(name);
  EXPECT_THROW(ini.WriteString(u"S", u"k", u"line\r\n[Injected]"), EIniFileException);
  EXPECT_THROW(ini.WriteString(u"S", u"a=b", u"v"), EIniFileException);
  EXPECT_THROW(ini.WriteString(u"S", u";k", u"v"), EIniFileException);
  EXPECT_THROW(ini.WriteString(u"S]x", u"k", u"v"), EIniFileException);
  EXPECT_THROW(ini.WriteString(u"S", u"", u"v"), EIniFileException);
  EXPECT_FALSE(FileExists(name));

  String blocked = Str(dir / "sub/x.ini");  // its directory does not exist
  TIniFile nowhere(blocked);
  try {
    nowhere.WriteString(u"S", u"k", u"v");
    ADD_FAILURE() << "no exception";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message().rfind(u"Unable to write to " + blocked + u". ", 0), 0u);
  }
  EXPECT_EQ(nowhere.ReadString(u"S", u"k", u"def"), u"def");  // the failed write left nothing behind

  // A file that exists but cannot be read is never overwritten.
  if (geteuid() != 0) {
    String locked = Str(dir.Write("locked.ini", "[S]\nk=precious\n"));
    chmod((dir / "locked.ini").c_str(), 0200);
    TIniFile l(locked);
    EXPECT_EQ(l.ReadString(u"S", u"k", u"def"), u"def");
    EXPECT_THROW(l.WriteString(u"S", u"n", u"v"), EIniFileException);
    chmod((dir / "locked.ini").c_str(), 0600);
    EXPECT_EQ(test::ReadFileBytes(dir / "locked.ini"), "[S]\nk=precious\n");
  }
}

TEST(IniFile, EncodingsAreDetectedAndKept) {
  test::TempDir dir;
  TIniFile utf8(Str(dir.Write("u8.ini", "[S]\nk=caf\xC3\xA9\n")));
  EXPECT_EQ(utf8.ReadString(u"s", u"k", u""), u"caf\u00E9");
  TIniFile ansi(Str(dir.Write("ansi.ini", "[S]\r\nk=caf\xE9 \x80\r\n")));
  EXPECT_EQ(ansi.ReadString(u"s", u"k", u""), u"caf\u00E9 \u20AC");
  ansi.WriteString(u"S", u"n", u"\u00FC");
  EXPECT_EQ(test::ReadFileBytes(dir / "ansi.ini"), "[S]\r\nk=caf\xE9 \x80\r\nn=\xFC\r\n");
  ansi.WriteString(u"S", u"n", u"\u4E2D");  // beyond Windows-1252: the file becomes UTF-8, nothing lost
  EXPECT_EQ(test::ReadFileBytes(dir / "ansi.ini"), "[S]\r\nk=caf\xC3\xA9 \xE2\x82\xAC\r\nn=\xE4\xB8\xAD\r\n");
  EXPECT_EQ(TIniFile(Str(dir / "ansi.ini")).ReadString(u"S", u"k", u""), u"caf\u00E9 \u20AC");

  TIniFile bom(Str(dir.Write("bom.ini", "\xEF\xBB\xBF[S]\nk=\xC3\xA9\n")));
  EXPECT_EQ(bom.ReadString(u"S", u"k", u""), u"\u00E9");
  bom.WriteString(u"S", u"k", u"x");
  EXPECT_EQ(test::ReadFileBytes(dir / "bom.ini"), "\xEF\xBB\xBF[S]\nk=x\n");

  TIniFile wide(Str(dir.Write("w.ini", std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0\xAC\x20", 16))));
  EXPECT_EQ(wide.ReadString(u"S", u"k", u""), u"\u20AC");
  wide.WriteString(u"S", u"k", u"A");
  EXPECT_EQ(test::ReadFileBytes(dir / "w.ini"), std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0A\0\n\0", 18));
}

TEST(IniFile, LoadFromTextSurvivesHostileInput) {
  TIniFile ini(u"/nonexistent-dir-for-ktinet/never.ini");
  String nasty = u"[unterminated\n=\n[]\nk=v\n[" + String(200000, u'x') + u"\n" + String(u"\0[\0]=\0\n", 7) + u"[s\0x]\n";
  nasty += String(100000, u'[') + u"\n" + String(100000, u'=') + u"\n";
  ini.LoadFromText(nasty);
  TStringList sections;
  ini.ReadSections(&sections);
  ASSERT_GE(sections.Count(), 3);
  EXPECT_EQ(sections[0], u"unterminated");
  EXPECT_EQ(sections[1], u"");
  EXPECT_EQ(ini.ReadString(u"", u"k", u""), u"v");
  EXPECT_EQ(ini.ReadString(u"unterminated", u"k", u"def"), u"def");
  ini.LoadFromText(u"[A]\r\nk=1");
  EXPECT_EQ(ini.ReadInteger(u"a", u"K", 0), 1);
}

}  // namespace
