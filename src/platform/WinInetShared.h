// What the Internet API functions (WinInet.cpp) share with the backend behind them
// (WinInetCurl.cpp): the last-error helper, the case-blind ASCII compare of header and verb
// names, and the process-wide defaults a new session starts from. Not part of the installed API.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "platform/WinInet.h"

namespace ktinet::internet_detail {

// Sets the thread's last error and returns false, so a failing path reads `return Fail(...)`.
bool Fail(DWORD error);

char LowerAscii(char c);
bool EqualNoCase(std::string_view a, std::string_view b);

// The CA file and the numeric options set on a null handle, copied under their lock.
String GlobalCaFile();
std::vector<std::pair<DWORD, DWORD>> GlobalNumberDefaults();

}  // namespace ktinet::internet_detail
