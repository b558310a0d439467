#include "rtl/DateTime.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace ktinet {

// Proleptic Gregorian calendar (days relative to 1970-01-01).
Int64 DaysFromCivil(Int64 y, unsigned m, unsigned d) {
  y -= m <= 2;
  const Int64 era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<Int64>(doe) - 719468;
}

void CivilFromDays(Int64 z, Int64& y, unsigned& m, unsigned& d) {
  z += 719468;
  const Int64 era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<Int64>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

namespace {

constexpr Int64 kMSecsPerDay = 86400000;
// The framework's DateDelta: 1899-12-30 counted with 0001-01-01 as day 1.
constexpr Int64 kDateDelta = 693594;
constexpr Int64 kMinDays = 1 - kDateDelta;       // 0001-01-01
constexpr Int64 kMaxDays = 2958465;              // 9999-12-31
constexpr Int64 kFileTimeDays = 109205;          // 1601-01-01 .. 1899-12-30
constexpr Int64 kFileTimePerDay = 864000000000;  // 100 ns units
constexpr Int64 kUnixEpochFileTime = 116444736000000000;

const char* const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};
const char* const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// A TDateTime as whole milliseconds on a straight time line (0 = 1899-12-30 00:00). Before that
// day the framework stores the date negative and the time of day positive (-1.25 is 1899-12-29
// 06:00), so the fraction is counted forward from the date, not back.
Int64 ToLinearMSecs(TDateTime dt) {
  // far beyond any calendar date; keeps the integer arithmetic below from overflowing
  constexpr double kLimit = 1e8;
  if (std::isnan(dt)) return 0;
  dt = std::clamp(dt, -kLimit, kLimit);
  if (dt >= 0) return std::llround(dt * MSecsPerDay);
  double day = std::trunc(dt);
  double timeOfDay = day - dt;  // in [0, 1)
  return static_cast<Int64>(day) * kMSecsPerDay + std::llround(timeOfDay * MSecsPerDay);
}

TDateTime FromLinearMSecs(Int64 ms) {
  if (ms >= 0) return static_cast<double>(ms) / MSecsPerDay;
  Int64 day = ms / kMSecsPerDay;
  Int64 rest = ms % kMSecsPerDay;
  if (rest < 0) {
    --day;
    rest += kMSecsPerDay;
  }
  return static_cast<double>(day) - static_cast<double>(rest) / MSecsPerDay;
}

// The framework's time stamp: the date part and the time of day in milliseconds, rounded to the
// millisecond as a whole so that 23:59:59.9999 becomes the next day's 00:00:00.000, never hour 24.
struct Stamp {
  Int64 Days = 0;  // relative to 1899-12-30
  Int64 MSecs = 0;
  bool Valid = false;
};

Stamp ToStamp(TDateTime dt) {
  Stamp s;
  if (!std::isfinite(dt) || dt < double(kMinDays) - 1 || dt > double(kMaxDays) + 1) return s;
  Int64 ms = ToLinearMSecs(dt);
  s.Days = ms / kMSecsPerDay;
  s.MSecs = ms % kMSecsPerDay;
  if (s.MSecs < 0) {
    --s.Days;
    s.MSecs += kMSecsPerDay;
  }
  s.Valid = true;
  return s;
}


void DecodeStamp(const Stamp& s, Word& year, Word& month, Word& day) {
  if (!s.Valid || s.Days < kMinDays || s.Days > kMaxDays) {
    year = month = day = 0;
    return;
  }
  Int64 y;
  unsigned m, d;
  CivilFromDays(s.Days - static_cast<Int64>(UnixDateDelta), y, m, d);
  year = static_cast<Word>(y);
  month = static_cast<Word>(m);
  day = static_cast<Word>(d);
}

void DecodeStampTime(const Stamp& s, Word& hour, Word& min, Word& sec, Word& msec) {
  Int64 ms = s.Valid ? s.MSecs : 0;
  hour = static_cast<Word>(ms / 3600000);
  min = static_cast<Word>(ms / 60000 % 60);
  sec = static_cast<Word>(ms / 1000 % 60);
  msec = static_cast<Word>(ms % 1000);
}

// No range check here: a system time far outside 1..9999 still gets a value.
TDateTime FromTm(const std::tm& tm, long msec) {
  Int64 days = DaysFromCivil(static_cast<Int64>(tm.tm_year) + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                             static_cast<unsigned>(tm.tm_mday)) +
               static_cast<Int64>(UnixDateDelta);
  Int64 ms = ((tm.tm_hour * 60 + tm.tm_min) * 60 + std::min(tm.tm_sec, 59)) * 1000 + msec;
  return FromLinearMSecs(days * kMSecsPerDay + ms);
}

std::tm ToTm(TDateTime dt, long& msec) {
  Stamp s = ToStamp(dt);
  Int64 y;
  unsigned m, d;
  CivilFromDays(s.Days - static_cast<Int64>(UnixDateDelta), y, m, d);
  std::tm tm{};
  tm.tm_year = static_cast<int>(y - 1900);
  tm.tm_mon = static_cast<int>(m) - 1;
  tm.tm_mday = static_cast<int>(d);
  tm.tm_hour = static_cast<int>(s.MSecs / 3600000);
  tm.tm_min = static_cast<int>(s.MSecs / 60000 % 60);
  tm.tm_sec = static_cast<int>(s.MSecs / 1000 % 60);
  tm.tm_isdst = -1;
  msec = static_cast<long>(s.MSecs % 1000);
  return tm;
}

}  // namespace

bool IsLeapYear(Word year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

Word DaysInAMonth(Word year, Word month) {
  static const Word kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(Word year, Word month, Word day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInAMonth(year, month)) return false;
  out = static_cast<double>(DaysFromCivil(year, month, day) + static_cast<Int64>(UnixDateDelta));
  return true;
}

bool TryEncodeTime(Word hour, Word min, Word sec, Word msec, TDateTime& out) {
  if (hour >= 24 || min >= 60 || sec >= 60 || msec >= 1000) return false;
  out = static_cast<double>(((hour * 60 + min) * 60 + sec) * 1000 + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(Word year, Word month, Word day) {
  TDateTime r;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(Word hour, Word min, Word sec, Word msec) {
  TDateTime r;
  if (!TryEncodeTime(hour, min, sec, msec, r)) throw EConvertError("Invalid argument to time encode");
  return r;
}

TDateTime EncodeDateTime(Word year, Word month, Word day, Word hour, Word min, Word sec, Word msec) {
  TDateTime d = EncodeDate(year, month, day);
  TDateTime t = EncodeTime(hour, min, sec, msec);
  return d >= 0 ? d + t : d - t;
}

void DecodeDate(TDateTime dt, Word& year, Word& month, Word& day) { DecodeStamp(ToStamp(dt), year, month, day); }

void DecodeTime(TDateTime dt, Word& hour, Word& min, Word& sec, Word& msec) {
  DecodeStampTime(ToStamp(dt), hour, min, sec, msec);
}

void DecodeDateTime(TDateTime dt, Word& year, Word& month, Word& day, Word& hour, Word& min, Word& sec, Word& msec) {
  Stamp s = ToStamp(dt);
  DecodeStamp(s, year, month, day);
  DecodeStampTime(s, hour, min, sec, msec);
}

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  return FromTm(tm, ts.tv_nsec / 1000000);
}

TDateTime Date() { return std::trunc(Now()); }

TDateTime Time() {
  TDateTime n = Now();
  return n - std::trunc(n);
}

int DayOfWeek(TDateTime dt) {
  Int64 days = ToStamp(dt).Days + kDateDelta;  // 0001-01-01, a Monday, is day 1
  return static_cast<int>((days % 7 + 7) % 7) + 1;
}

namespace {

void AppendNumber(String& out, unsigned v, int digits) {
  String s = IntToStr(v);
  if (static_cast<int>(s.size()) < digits) s.insert(0, digits - s.size(), u'0');
  out += s;
}

void AppendAscii(String& out, const char* s) {
  while (*s) out.push_back(static_cast<Char>(*s++));
}

bool MatchesAt(const String& p, size_t i, const char* word) {
  for (size_t k = 0; word[k]; ++k)
    if (i + k >= p.size() || (p[i + k] | 0x20) != (word[k] | 0x20)) return false;
  return true;
}

// The date and time formats of the framework's English settings.
const char16_t* const kShortDateFormat = u"m/d/yyyy";
const char16_t* const kLongDateFormat = u"dddd, mmmm d, yyyy";
const char16_t* const kShortTimeFormat = u"h:nn AM/PM";
const char16_t* const kLongTimeFormat = u"h:nn:ss AM/PM";

void AppendFormat(String& out, const String& p, TDateTime dt, int depth) {
  if (depth > 2) return;
  const Stamp stamp = ToStamp(dt);
  Word year, month, day, hour, min, sec, msec;
  DecodeStamp(stamp, year, month, day);
  DecodeStampTime(stamp, hour, min, sec, msec);
  const int dow = DayOfWeek(dt) - 1;
  Char lastToken = 0;
  size_t i = 0;
  while (i < p.size()) {
    const Char starter = p[i];
    Char token = (starter >= u'a' && starter <= u'z') ? Char(starter - 32) : starter;
    if (token >= u'A' && token <= u'Z') {
      if (token == u'M' && lastToken == u'H') token = u'N';
      lastToken = token;
    }
    size_t count = 1;
    auto getCount = [&] {
      while (i + count < p.size() && p[i + count] == starter) ++count;
    };
    switch (token) {
      case u'Y':
        getCount();
        if (count <= 2)
          AppendNumber(out, year % 100, 2);
        else
          AppendNumber(out, year, 4);
        break;
      case u'M':
        getCount();
        if (month < 1) {
          // out of range: no month name to show
        } else if (count == 1)
          AppendNumber(out, month, 0);
        else if (count == 2)
          AppendNumber(out, month, 2);
        else
          AppendAscii(out, count == 3 ? kShortMonths[month - 1] : kLongMonths[month - 1]);
        break;
      case u'D':
        getCount();
        switch (count) {
          case 1: AppendNumber(out, day, 0); break;
          case 2: AppendNumber(out, day, 2); break;
          case 3: AppendAscii(out, kShortDays[dow]); break;
          case 4: AppendAscii(out, kLongDays[dow]); break;
          case 5: AppendFormat(out, kShortDateFormat, dt, depth + 1); break;
          default: AppendFormat(out, kLongDateFormat, dt, depth + 1); break;
        }
        break;
      case u'H': {
        getCount();
        // a 12-hour clock when an am/pm marker follows before the next hour
        bool twelve = false, quoted = false;
        for (size_t k = i + count; k < p.size(); ++k) {
          Char c = p[k];
          if (c == u'\'' || c == u'"') {
            quoted = !quoted;
          } else if (!quoted && (c == u'a' || c == u'A')) {
            twelve = MatchesAt(p, k, "am/pm") || MatchesAt(p, k, "a/p") || MatchesAt(p, k, "ampm");
            break;
          } else if (!quoted && (c == u'h' || c == u'H')) {
            break;
          }
        }
        unsigned h = hour;
        if (twelve) h = h % 12 == 0 ? 12 : h % 12;
        AppendNumber(out, h, count == 1 ? 0 : 2);
        break;
      }
      case u'N':
        getCount();
        AppendNumber(out, min, count == 1 ? 0 : 2);
        break;
      case u'S':
        getCount();
        AppendNumber(out, sec, count == 1 ? 0 : 2);
        break;
      case u'Z':
        getCount();
        AppendNumber(out, msec, count == 1 ? 0 : 3);
        break;
      case u'T':
        getCount();
        AppendFormat(out, count == 1 ? kShortTimeFormat : kLongTimeFormat, dt, depth + 1);
        break;
      case u'C':
        getCount();
        AppendFormat(out, kShortDateFormat, dt, depth + 1);
        if (stamp.MSecs != 0) {
          out.push_back(u' ');
          AppendFormat(out, kLongTimeFormat, dt, depth + 1);
        }
        break;
      case u'A':
        // the marker is copied from the pattern, so its case follows the pattern's
        if (MatchesAt(p, i, "am/pm")) {
          out.append(p, hour >= 12 ? i + 3 : i, 2);
          count = 5;
        } else if (MatchesAt(p, i, "a/p")) {
          out.push_back(p[hour >= 12 ? i + 2 : i]);
          count = 3;
        } else if (MatchesAt(p, i, "ampm")) {
          AppendAscii(out, hour >= 12 ? "PM" : "AM");
          count = 4;
        } else {
          out.push_back(starter);
        }
        break;
      case u'\'':
      case u'"': {
        size_t end = p.find(starter, i + 1);
        if (end == String::npos) end = p.size();
        out.append(p, i + 1, end - i - 1);
        count = end - i + (end < p.size() ? 1 : 0);
        break;
      }
      default:
        out.push_back(starter);
        break;
    }
    i += count;
  }
}

}  // namespace

String FormatDateTime(const String& pattern, TDateTime dt) {
  String out;
  AppendFormat(out, pattern.empty() ? String(u"c") : pattern, dt, 0);
  return out;
}

String DateTimeToISO(TDateTime dt) { return FormatDateTime(u"yyyy-mm-dd hh:nn:ss", dt); }

TDateTime UnixToDateTime(Int64 unixTime) {
  return FromLinearMSecs((unixTime + static_cast<Int64>(UnixDateDelta) * 86400) * 1000);
}

Int64 DateTimeToUnix(TDateTime dt) {
  Int64 ms = ToLinearMSecs(dt) - static_cast<Int64>(UnixDateDelta) * kMSecsPerDay;
  // to the nearest second, halves away from zero
  return ms >= 0 ? (ms + 500) / 1000 : -((-ms + 500) / 1000);
}

TDateTime FileTimeToDateTime(const FILETIME& ft) {
  Int64 v = FileTimeToInt64(ft) - kFileTimeDays * kFileTimePerDay;
  double linear = static_cast<double>(v) / static_cast<double>(kFileTimePerDay);
  if (linear >= 0) return linear;
  double day = std::floor(linear);
  return day - (linear - day);
}

FILETIME DateTimeToFileTime(TDateTime dt) {
  Int64 ms = ToLinearMSecs(dt) + kFileTimeDays * kMSecsPerDay;
  return Int64ToFileTime(ms < 0 ? 0 : ms * 10000);
}

Int64 FileTimeToInt64(const FILETIME& ft) {
  return static_cast<Int64>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

FILETIME Int64ToFileTime(Int64 v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<Cardinal>(static_cast<std::uint64_t>(v) & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<Cardinal>(static_cast<std::uint64_t>(v) >> 32);
  return ft;
}

FILETIME UnixToFileTime(std::time_t t, long nsec) {
  return Int64ToFileTime(static_cast<Int64>(t) * 10000000 + nsec / 100 + kUnixEpochFileTime);
}

std::time_t FileTimeToUnix(const FILETIME& ft) {
  Int64 v = FileTimeToInt64(ft) - kUnixEpochFileTime;
  Int64 s = v / 10000000;
  if (v % 10000000 < 0) --s;
  return static_cast<std::time_t>(s);
}

TDateTime LocalToUTC(TDateTime local) {
  long msec;
  std::tm tm = ToTm(local, msec);
  std::time_t t = mktime(&tm);
  Int64 ms = static_cast<Int64>(t) * 1000 + msec;
  return FromLinearMSecs(ms + static_cast<Int64>(UnixDateDelta) * kMSecsPerDay);
}

TDateTime UTCToLocal(TDateTime utc) {
  Int64 ms = ToLinearMSecs(utc) - static_cast<Int64>(UnixDateDelta) * kMSecsPerDay;
  Int64 secs = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
  std::time_t t = static_cast<std::time_t>(secs);
  std::tm tm{};
  localtime_r(&t, &tm);
  return FromTm(tm, static_cast<long>(ms - secs * 1000));
}

}  // namespace ktinet
