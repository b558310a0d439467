#include "rtl/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

using namespace ktinet;

namespace {

std::string Iso(TDateTime dt) { return UTF8Encode(FormatDateTime(u"yyyy-mm-dd hh:nn:ss.zzz", dt)); }

// Runs the test body under a fixed POSIX time zone and restores the old one.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* tz) {
    const char* old = std::getenv("TZ");
    FHad = old != nullptr;
    if (old) FOld = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (FHad)
      setenv("TZ", FOld.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool FHad = false;
  std::string FOld;
};

}  // namespace

TEST(DateTime, EncodeValidatesEveryPart) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), UnixDateDelta);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_EQ(DaysInAMonth(2024, 2), 29);
  EXPECT_EQ(DaysInAMonth(2100, 2), 28);
  EXPECT_EQ(EncodeDate(2000, 2, 29) + 1, EncodeDate(2000, 3, 1));

  struct Bad { Word y, m, d; } badDates[] = {{2024, 0, 1}, {2024, 13, 1}, {2024, 4, 0}, {2024, 4, 31},
                                             {2023, 2, 29}, {1900, 2, 29}, {0, 1, 1},   {10000, 1, 1}};
  for (auto b : badDates) {
    TDateTime out = 123;
    EXPECT_FALSE(TryEncodeDate(b.y, b.m, b.d, out));
    EXPECT_EQ(out, 123) << "a failed encode leaves the target alone";
    try {
      EncodeDate(b.y, b.m, b.d);
      ADD_FAILURE() << b.y << "-" << b.m << "-" << b.d << " was accepted";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), "Invalid argument to date encode");
    }
  }
  struct BadT { Word h, m, s, ms; } badTimes[] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}};
  for (auto b : badTimes) {
    try {
      EncodeTime(b.h, b.m, b.s, b.ms);
      ADD_FAILURE() << b.h << ":" << b.m << ":" << b.s << "." << b.ms << " was accepted";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), "Invalid argument to time encode");
    }
  }
  EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / 86400000.0);
}

TEST(DateTime, DecodeRoundTripsIncludingBefore1899) {
  const Word parts[][7] = {{2026, 12, 7, 13, 34, 51, 250}, {1899, 12, 29, 6, 0, 0, 0},   {1601, 1, 1, 0, 0, 0, 1},
                           {1, 1, 1, 23, 59, 59, 999},     {9999, 12, 31, 0, 0, 0, 0}, {2000, 2, 29, 12, 30, 0, 0}};
  for (const auto& p : parts) {
    TDateTime dt = EncodeDateTime(p[0], p[1], p[2], p[3], p[4], p[5], p[6]);
    Word y, mo, d, h, mi, s, ms;
    DecodeDateTime(dt, y, mo, d, h, mi, s, ms);
    EXPECT_EQ((std::vector<Word>{y, mo, d, h, mi, s, ms}), std::vector<Word>(p, p + 7)) << Iso(dt);
  }
  // before 1899-12-30 the date is negative and the time still counts forward
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
  EXPECT_EQ(Iso(-1.25), "1899-12-29 06:00:00.000");
  EXPECT_EQ(Iso(-0.75), "1899-12-30 18:00:00.000");
  // 0.4 ms before midnight rounds to the next day, never to hour 24
  EXPECT_EQ(Iso(EncodeDate(2024, 12, 31) + 1 - 0.0000004 / 86400), "2025-01-01 00:00:00.000");
  EXPECT_EQ(Iso(EncodeDate(2024, 12, 31) + 1 - 0.0006 / 86400), "2024-12-31 23:59:59.999");
  Word h, mi, s, ms;
  DecodeTime(0.99999999999, h, mi, s, ms);
  EXPECT_EQ(h, 0);
  Word y, mo, d;
  DecodeDate(-700000, y, mo, d);
  EXPECT_EQ(y + mo + d, 0) << "before year 1 there is no date";
  DecodeDate(std::nan(""), y, mo, d);
  EXPECT_EQ(y, 0);

  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 7) + 0.9), 2);  // a Monday
  EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);
  EXPECT_EQ(DayOfWeek(EncodeDateTime(1899, 12, 24, 18, 0, 0, 0)), 1);  // a Sunday, stored negative
}

TEST(DateTime, FormatPatterns) {
  TDateTime dt = EncodeDateTime(2026, 3, 7, 13, 4, 5, 9);
  EXPECT_EQ(DateTimeToISO(dt), u"2026-03-07 13:04:05");
  EXPECT_EQ(FormatDateTime(u"yy/m/d h:n:s z", dt), u"26/3/7 13:4:5 9");
  EXPECT_EQ(FormatDateTime(u"YYYY-MM-DD HH:NN:SS.ZZZ", dt), u"2026-03-07 13:04:05.009");
  EXPECT_EQ(FormatDateTime(u"mmm mmmm ddd dddd", dt), u"Mar March Sat Saturday");
  // "m" after an hour is the minute, elsewhere the month
  EXPECT_EQ(FormatDateTime(u"hh:mm dd.mm", dt), u"13:04 07.03");
  EXPECT_EQ(FormatDateTime(u"h:nn am/pm|hh AM/PM|h a/p|h ampm", dt), u"1:04 pm|01 PM|1 p|1 PM");
  EXPECT_EQ(FormatDateTime(u"h am/pm", EncodeTime(0, 30, 0, 0)), u"12 am");
  EXPECT_EQ(FormatDateTime(u"h 'am/pm' h", dt), u"13 am/pm 13") << "a quoted marker is text";
  EXPECT_EQ(FormatDateTime(u"'day' d \"of\" mmmm, 'it''s'", dt), u"day 7 of March, its");
  EXPECT_EQ(FormatDateTime(u"ddddd", dt), u"3/7/2026");
  EXPECT_EQ(FormatDateTime(u"c", EncodeDate(2026, 3, 7)), u"3/7/2026");
  EXPECT_EQ(FormatDateTime(u"tt", dt), u"1:04:05 PM");
  EXPECT_EQ(FormatDateTime(u"yyyy 'unterminated", dt), u"2026 unterminated");
}

TEST(DateTime, UnixAndFileTimeConversions) {
  EXPECT_EQ(UnixToDateTime(0), 25569.0);
  EXPECT_EQ(DateTimeToUnix(25569.0), 0);
  EXPECT_EQ(UnixToDateTime(86400 + 43200), 25570.5);
  EXPECT_EQ(DateTimeToUnix(EncodeDateTime(2026, 12, 7, 13, 34, 51, 0)), 1796650491);
  EXPECT_EQ(DateTimeToISO(UnixToDateTime(1796650491)), u"2026-12-07 13:34:51");
  // before 1899 the stored value follows the negative rule both ways
  TDateTime early = EncodeDateTime(1800, 6, 1, 18, 0, 0, 0);
  EXPECT_EQ(UnixToDateTime(DateTimeToUnix(early)), early);
  EXPECT_EQ(DateTimeToUnix(-1.25), -2209161600LL - 86400 + 6 * 3600);

  FILETIME unixEpoch = Int64ToFileTime(116444736000000000LL);
  EXPECT_EQ(unixEpoch.dwHighDateTime, 0x019DB1DEu);
  EXPECT_EQ(unixEpoch.dwLowDateTime, 0xD53E8000u);
  EXPECT_EQ(FileTimeToUnix(unixEpoch), 0);
  EXPECT_EQ(FileTimeToDateTime(unixEpoch), UnixDateDelta);
  EXPECT_EQ(FileTimeToInt64(DateTimeToFileTime(UnixDateDelta)), 116444736000000000LL);
  EXPECT_EQ(FileTimeToDateTime(Int64ToFileTime(0)), -109205.0);
  EXPECT_EQ(FileTimeToInt64(DateTimeToFileTime(-109205.0)), 0);
  EXPECT_EQ(FileTimeToInt64(UnixToFileTime(1, 999999999)), 116444736000000000LL + 19999999);
  EXPECT_EQ(FileTimeToUnix(Int64ToFileTime(116444736000000000LL - 1)), -1) << "rounds toward the past";
  TDateTime ms = EncodeDateTime(2021, 3, 4, 5, 6, 7, 891);
  EXPECT_EQ(Iso(FileTimeToDateTime(DateTimeToFileTime(ms))), "2021-03-04 05:06:07.891");
  EXPECT_EQ(FileTimeToInt64(DateTimeToFileTime(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0))),
            (109205LL - 1) * 864000000000LL + 6 * 36000000000LL);
  EXPECT_EQ(FileTimeToDateTime(DateTimeToFileTime(-1.25)), -1.25);
  // values far outside the calendar give a result, not an overflow
  EXPECT_EQ(DateTimeToUnix(std::nan("")), -2209161600LL);
  EXPECT_GT(DateTimeToUnix(1e300), 0);
  EXPECT_LT(FileTimeToInt64(DateTimeToFileTime(-1e300)), 1);
}

TEST(DateTime, LocalAndUtcFollowTheZone) {
  ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  TDateTime winterUtc = EncodeDateTime(2024, 1, 15, 12, 0, 0, 500);
  TDateTime summerUtc = EncodeDateTime(2024, 7, 15, 23, 30, 0, 0);
  EXPECT_EQ(Iso(UTCToLocal(winterUtc)), "2024-01-15 13:00:00.500");
  EXPECT_EQ(Iso(UTCToLocal(summerUtc)), "2024-07-16 01:30:00.000");
  EXPECT_EQ(Iso(LocalToUTC(EncodeDateTime(2024, 7, 16, 1, 30, 0, 0))), "2024-07-15 23:30:00.000");
  EXPECT_EQ(Iso(LocalToUTC(UTCToLocal(winterUtc))), Iso(winterUtc));
  EXPECT_EQ(Iso(UTCToLocal(EncodeDateTime(1850, 1, 1, 23, 30, 0, 0))), "1850-01-02 00:30:00.000");

  // Now() is local time: its UTC form is the system clock's
  // time() may read a coarser clock than Now(), and the conversions round: a second either side.
  TDateTime before = UnixToDateTime(std::time(nullptr) - 1);
  TDateTime nowUtc = LocalToUTC(Now());
  TDateTime after = UnixToDateTime(std::time(nullptr) + 2);
  EXPECT_GE(nowUtc, before);
  EXPECT_LE(nowUtc, after);
  EXPECT_EQ(Date(), std::trunc(Now()));
  EXPECT_LT(Time(), 1.0);
}
