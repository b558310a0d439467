// FTP listing lines as servers send them: MLSD facts, Unix "ls -l" and DOS/IIS forms.
#include <gtest/gtest.h>

#include "platform/FtpList.h"
#include "rtl/DateTime.h"

namespace ktinet {
namespace {

// 2024-03-10 12:00:00 UTC
constexpr std::time_t kNow = 1710072000;

std::time_t UnixOf(const TFtpListEntry& e) { return FileTimeToUnix(e.LastWriteTime); }

std::time_t Utc(int y, int mo, int d, int h, int mi, int s) {
  struct tm t {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return timegm(&t);
}

TEST(FtpListTest, MlsdFactsGiveNameTypeSizeAndTime) {
  TFtpListEntry e;
  ASSERT_TRUE(ParseMlsdLine("type=file;size=5000000000;modify=20240102030405;perm=r; big file.bin\r\n", e));
  EXPECT_EQ(e.Name, u"big file.bin");
  EXPECT_FALSE(e.IsDirectory);
  EXPECT_TRUE(e.HasSize);
  EXPECT_EQ(e.Size, 5000000000LL);  // above 4 GiB: no 32-bit truncation
  ASSERT_TRUE(e.HasTime);
  EXPECT_EQ(UnixOf(e), Utc(2024, 1, 2, 3, 4, 5));

  // Fact names in any case; fractions of seconds; a name that starts with a blank keeps it.
  ASSERT_TRUE(ParseMlsdLine("Type=DIR;Modify=20231231235959.123;  spaced", e));
  EXPECT_TRUE(e.IsDirectory);
  EXPECT_FALSE(e.HasSize);
  EXPECT_EQ(e.Name, u" spaced");
  EXPECT_EQ(FileTimeToInt64(e.LastWriteTime) % 10000000, 1230000);

  ASSERT_TRUE(ParseMlsdLine("type=cdir;modify=20240101000000; /pub", e));
  EXPECT_EQ(e.Name, u".");
  ASSERT_TRUE(ParseMlsdLine("type=pdir; /", e));
  EXPECT_EQ(e.Name, u"..");
  ASSERT_TRUE(ParseMlsdLine("type=OS.unix=slink:/etc;size=4; link", e));
  EXPECT_TRUE(e.IsLink);
  EXPECT_FALSE(e.IsDirectory);

  // UTF-8 names are decoded; other bytes are kept one character per byte.
  ASSERT_TRUE(ParseMlsdLine("type=file;size=1; gr\xc3\xbc\xc3\x9f.txt", e));
  EXPECT_EQ(e.Name, u"grüß.txt");
  ASSERT_TRUE(ParseMlsdLine("type=file;size=1; caf\xe9", e));
  EXPECT_EQ(e.Name, u"caf\u00e9");

  // Bad dates are no time; a line without facts or name is no entry.
  ASSERT_TRUE(ParseMlsdLine("type=file;modify=20241332000000; x", e));
  EXPECT_FALSE(e.HasTime);
  EXPECT_FALSE(ParseMlsdLine("type=file;size=1;", e));
  EXPECT_FALSE(ParseMlsdLine("size=1; untyped", e));
  EXPECT_FALSE(ParseMlsdLine("", e));
}

TEST(FtpListTest, UnixLinesInTheirVariants) {
  TFtpListEntry e;
  ASSERT_TRUE(ParseListLine("-rw-r--r--    1 ftp      ftp          1234 Jan 02 03:04 notes.txt", kNow, e));
  EXPECT_EQ(e.Name, u"notes.txt");
  EXPECT_EQ(e.Size, 1234);
  EXPECT_EQ(UnixOf(e), Utc(2024, 1, 2, 3, 4, 0));

  // A date without a year that would lie in the future belongs to the year before.
  ASSERT_TRUE(ParseListLine("-rw-r--r-- 1 ftp ftp 10 Dec 24 18:00 xmas", kNow, e));
  EXPECT_EQ(UnixOf(e), Utc(2023, 12, 24, 18, 0, 0));
  // ... but tomorrow's date (a server clock slightly ahead) stays in this year.
  ASSERT_TRUE(ParseListLine("-rw-r--r-- 1 ftp ftp 10 Mar 11 08:00 early", kNow, e));
  EXPECT_EQ(UnixOf(e), Utc(2024, 3, 11, 8, 0, 0));

  ASSERT_TRUE(ParseListLine("drwxr-xr-x   2 owner group  4096 Jul  4  2019 My Documents", kNow, e));
  EXPECT_TRUE(e.IsDirectory);
  EXPECT_EQ(e.Name, u"My Documents");
  EXPECT_EQ(UnixOf(e), Utc(2019, 7, 4, 0, 0, 0));

  // No group column, numeric owner; a link loses its target.
  ASSERT_TRUE(ParseListLine("lrwxrwxrwx 1 1000 7 Feb 29 2020 current -> releases/1.2", kNow, e));
  EXPECT_TRUE(e.IsLink);
  EXPECT_EQ(e.Name, u"current");
  EXPECT_EQ(e.Size, 7);
  EXPECT_EQ(UnixOf(e), Utc(2020, 2, 29, 0, 0, 0));

  // A group name that looks like a number, and a file of 6 GB.
  ASSERT_TRUE(ParseListLine("-rw-r--r-- 1 root 100 6442450944 Mar 1 2023 disk.img", kNow, e));
  EXPECT_EQ(e.Size, 6442450944LL);
  EXPECT_EQ(e.Name, u"disk.img");

  EXPECT_FALSE(ParseListLine("total 48", kNow, e));
  EXPECT_FALSE(ParseListLine("", kNow, e));
  EXPECT_FALSE(ParseListLine("-rw-r--r-- 1 a b 12 Foo 02 2020 x", kNow, e));
  EXPECT_FALSE(ParseListLine("-rw-r--r-- 1 a b 12 Jan 02 2020", kNow, e));  // no name
}

TEST(FtpListTest, DosLines) {
  TFtpListEntry e;
  ASSERT_TRUE(ParseListLine("01-02-24  03:04PM       <DIR>          Sub Folder", kNow, e));
  EXPECT_TRUE(e.IsDirectory);
  EXPECT_FALSE(e.HasSize);
  EXPECT_EQ(e.Name, u"Sub Folder");
  EXPECT_EQ(UnixOf(e), Utc(2024, 1, 2, 15, 4, 0));

  ASSERT_TRUE(ParseListLine("12-31-99  12:30AM                 2050 old.dat", kNow, e));
  EXPECT_EQ(e.Size, 2050);
  EXPECT_EQ(UnixOf(e), Utc(1999, 12, 31, 0, 30, 0));

  ASSERT_TRUE(ParseListLine("07-04-2021  23:15   99 x y.txt", kNow, e));
  EXPECT_EQ(e.Name, u"x y.txt");
  EXPECT_EQ(UnixOf(e), Utc(2021, 7, 4, 23, 15, 0));

  EXPECT_FALSE(ParseListLine("01-02-24  13:04PM  12 bad-hour", kNow, e));
  EXPECT_FALSE(ParseListLine("01-02-24  03:04PM  <DIR>", kNow, e));
  EXPECT_FALSE(ParseListLine("01-02-24  03:04PM  12k name", kNow, e));
}

TEST(FtpListTest, WholeListingsSkipWhatTheyCannotRead) {
  const char* unix =
      "total 3\r\n"
      "drwxr-xr-x 2 ftp ftp 4096 Jan 01 2024 sub\r\n"
      "garbage line\r\n"
      "-rw-r--r-- 1 ftp ftp 3 Jan 01 2024 a.txt\r\n";
  auto entries = ParseFtpListing(unix, false, kNow);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Name, u"sub");
  EXPECT_EQ(entries[1].Name, u"a.txt");

  auto mlsd = ParseFtpListing("type=file;size=1; one\nnonsense\ntype=dir; two", true, kNow);
  ASSERT_EQ(mlsd.size(), 2u);
  EXPECT_EQ(mlsd[1].Name, u"two");
  EXPECT_TRUE(mlsd[1].IsDirectory);
}

}  // namespace
}  // namespace ktinet
