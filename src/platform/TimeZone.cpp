#include "platform/TimeZone.h"

#include <cmath>

namespace ktinet {

TTimeZoneBias GetTimeZoneBias(std::time_t at) {
  TTimeZoneBias result;
  // localtime_r reads TZ itself only on some systems; tzset makes a changed TZ count everywhere.
  ::tzset();
  std::tm local{};
  if (!::localtime_r(&at, &local)) return result;
  // tm_gmtoff is east-positive seconds with daylight saving already applied; zones with
  // historical second offsets round to the nearest minute.
  result.Minutes = -static_cast<int>(std::lround(static_cast<double>(local.tm_gmtoff) / 60.0));
  result.Daylight = local.tm_isdst > 0;
  result.Known = true;
  return result;
}

TTimeZoneBias GetTimeZoneBias() { return GetTimeZoneBias(std::time(nullptr)); }

int TimeZoneBiasMinutes() { return GetTimeZoneBias().Minutes; }

}  // namespace ktinet
