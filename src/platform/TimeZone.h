// The local time zone as the components need it: the bias in minutes that, added to local time,
// gives universal time (the sign convention of the suite: a zone east of Greenwich has a
// negative bias, New York in winter +300).
#pragma once

#include <ctime>

namespace ktinet {

struct TTimeZoneBias {
  int Minutes = 0;        // local + Minutes = UTC, daylight saving included when in force
  bool Daylight = false;  // daylight-saving time is in force at that moment
  bool Known = false;     // false when the system could not tell; Minutes is then 0
};

// The bias in force at the given moment (seconds since 1970 UTC).
TTimeZoneBias GetTimeZoneBias(std::time_t at);
// The bias in force now.
TTimeZoneBias GetTimeZoneBias();
// The bias in force now, in minutes; 0 when the system cannot tell.
int TimeZoneBiasMinutes();

}  // namespace ktinet
