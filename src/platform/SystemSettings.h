// Settings of the system and the current user that components may take over.
#pragma once

#include "rtl/System.h"

namespace ktinet {

// The current user's proxy as the environment gives it (http_proxy, https_proxy, ftp_proxy; the
// lower-case form wins over the upper-case one). Server is in the per-protocol form
// "http=H:P;https=H:P;ftp=H:P" (only the protocols that are set, in that order), or plain "H:P"
// when every variable that is set names the same proxy. Schemes ("http://"), user information
// ("user:pass@") and paths are dropped. Enabled is true when any variable is set.
struct TSystemProxy {
  bool Available = false;  // false when the settings could not be read at all
  bool HasServer = false;  // a server text was found
  String Server;
  bool Enabled = false;
};

TSystemProxy ReadSystemProxy();

// Reduces one proxy variable value ("http://user:pw@host:3128/") to "host:3128".
String ProxyHostPortFromUrl(const String& value);

}  // namespace ktinet
