// The built-in WHOIS server table of TKtWhoIs: one "*" line naming the fallback server, then one
// suffix=host line per top-level label (and a few two-label zones kept for applications' own use).
#pragma once

#include "rtl/Classes.h"

namespace ktinet {

// The RIPE NCC's WHOIS service: the value of the "*" line, the server for IPv4 addresses and the
// last resort when no line names a server.
extern const char16_t* const KtWhoIsFallbackServer;

// Replaces the lines of `list` with the built-in table, in its fixed order.
void FillWhoisServerTable(TStrings& list);

}  // namespace ktinet
