// Opening a document or link with the desktop's handler, as the shell's "open" verb does.
#pragma once

#include "rtl/System.h"

namespace ktinet {

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;

// Starts `xdg-open FILE` detached from this process (its own session, no terminal, reaped at
// once) and returns without waiting for it. The shell's answer is a number above 32 when the
// opener could be started, 2 when it could not; the hand-off carries no more than that.
// A file that begins with '-' is refused (2): the opener would read it as one of its options.
// `verb`, `parameters`, `directory` and `showCmd` are accepted for the call's shape; only "open"
// (or an empty verb) opens anything.
int ShellExecuteW(void* window, const String& verb, const String& file, const String& parameters,
                  const String& directory, int showCmd);

// The opener program ("xdg-open" found through PATH unless KTINET_OPENER names another).
std::string ShellOpener();

}  // namespace ktinet
