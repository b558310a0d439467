// TDateTime: days since 1899-12-30, the time of day as the fraction; 0 means none.
#pragma once

#include <ctime>

#include "rtl/SysUtils.h"

namespace ktinet {

using TDateTime = double;

constexpr double MSecsPerDay = 86400000.0;
constexpr double SecsPerDay = 86400.0;
constexpr double UnixDateDelta = 25569.0;  // 1970-01-01 as a TDateTime

bool IsLeapYear(Word year);
Word DaysInAMonth(Word year, Word month);
// Raise EConvertError ("Invalid argument to date encode" / "Invalid argument to time encode").
TDateTime EncodeDate(Word year, Word month, Word day);
TDateTime EncodeTime(Word hour, Word min, Word sec, Word msec);
bool TryEncodeDate(Word year, Word month, Word day, TDateTime& out);
bool TryEncodeTime(Word hour, Word min, Word sec, Word msec, TDateTime& out);
void DecodeDate(TDateTime dt, Word& year, Word& month, Word& day);
void DecodeTime(TDateTime dt, Word& hour, Word& min, Word& sec, Word& msec);
void DecodeDateTime(TDateTime dt, Word& year, Word& month, Word& day, Word& hour, Word& min, Word& sec, Word& msec);
TDateTime EncodeDateTime(Word year, Word month, Word day, Word hour, Word min, Word sec, Word msec);

TDateTime Now();    // local time, millisecond resolution
TDateTime Date();   // today, local
TDateTime Time();   // time of day, local
// 1 = Sunday ... 7 = Saturday, as the framework's DayOfWeek.
int DayOfWeek(TDateTime dt);

// Patterns: yyyy yy m mm mmm mmmm d dd ddd dddd h hh n nn s ss z zzz am/pm "quoted" 'quoted',
// / and : as the separators (English names).
String FormatDateTime(const String& pattern, TDateTime dt);
// ISO 8601 form used by the program: 2026-12-07 13:34:51
String DateTimeToISO(TDateTime dt);

// Conversions (FILETIME is UTC; Unix time is seconds since 1970 UTC; TDateTime as given, no zone shift).
TDateTime UnixToDateTime(Int64 unixTime);
Int64 DateTimeToUnix(TDateTime dt);
TDateTime FileTimeToDateTime(const FILETIME& ft);
FILETIME DateTimeToFileTime(TDateTime dt);
Int64 FileTimeToInt64(const FILETIME& ft);
FILETIME Int64ToFileTime(Int64 v);
FILETIME UnixToFileTime(std::time_t t, long nsec = 0);
std::time_t FileTimeToUnix(const FILETIME& ft);
// Local time <-> UTC for a TDateTime, using the system's time zone.
TDateTime LocalToUTC(TDateTime local);
// Proleptic Gregorian calendar: days since 1970-01-01 of a civil date, and back.
Int64 DaysFromCivil(Int64 y, unsigned m, unsigned d);
void CivilFromDays(Int64 z, Int64& y, unsigned& m, unsigned& d);
TDateTime UTCToLocal(TDateTime utc);

}  // namespace ktinet
