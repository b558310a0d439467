// ParseHttpDate (Last-Modified, Date) over arbitrary bytes: what it accepts is a real date in
// range, and that date written in each of the three HTTP forms reads back as the same date.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/WinInet.h"
#include "rtl/DateTime.h"

using namespace ktinet;

namespace {

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool Same(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
         a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wDayOfWeek == b.wDayOfWeek;
}

void ReadsBack(const char* text, const SYSTEMTIME& expected) {
  SYSTEMTIME again;
  if (!ParseHttpDate(text, again) || !Same(again, expected)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SYSTEMTIME st;
  st.wYear = 7;  // a failed parse leaves it alone
  if (!ParseHttpDate(text, st)) {
    if (st.wYear != 7) std::abort();
    return 0;
  }
  if (st.wYear < 1601 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > DaysInAMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 ||
      st.wDayOfWeek > 6 || st.wMilliseconds != 0)
    std::abort();
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s, %02u %s %04u %02u:%02u:%02u GMT", kDays[st.wDayOfWeek], st.wDay, kMonths[st.wMonth - 1],
                st.wYear, st.wHour, st.wMinute, st.wSecond);
  ReadsBack(buf, st);
  std::snprintf(buf, sizeof buf, "%s %s %2u %02u:%02u:%02u %04u", kDays[st.wDayOfWeek], kMonths[st.wMonth - 1], st.wDay,
                st.wHour, st.wMinute, st.wSecond, st.wYear);
  ReadsBack(buf, st);
  // The two-digit year of the oldest form stands for 1970 to 2069.
  if (st.wYear >= 1970 && st.wYear <= 2069) {
    std::snprintf(buf, sizeof buf, "%s, %02u-%s-%02u %02u:%02u:%02u GMT", kLongDays[st.wDayOfWeek], st.wDay,
                  kMonths[st.wMonth - 1], st.wYear % 100, st.wHour, st.wMinute, st.wSecond);
    ReadsBack(buf, st);
  }
  return 0;
}
