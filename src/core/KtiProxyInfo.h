// The current user's system proxy for the components' proxy settings.
#pragma once

#include "rtl/System.h"

namespace ktinet {

// Takes the system proxy (see ReadSystemProxy) into the three values: Server gets the proxy text
// and UseProxy whether a proxy is enabled. When a proxy is enabled the text is reduced to the one
// host and port that plain socket traffic goes through: the "http=" entry of a per-protocol list,
// split at its first ':' into Server and Port (0 when the port is not a number). A bracketed
// IPv6 host ("[::1]:3128") keeps its colons. Values that cannot be read keep what was passed in,
// and a name without a port keeps the caller's port.
void ReadProxyInfo(String& Server, bool& UseProxy, int& Port);

// The reduction step alone, for a proxy text obtained elsewhere.
void ReduceProxyInfo(String& Server, bool& UseProxy, int& Port);

}  // namespace ktinet
