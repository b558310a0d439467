#include "core/KtiProxyInfo.h"

#include "platform/SystemSettings.h"
#include "rtl/SysUtils.h"

namespace ktinet {

void ReduceProxyInfo(String& Server, bool& UseProxy, int& Port) {
  if (!UseProxy || Server.empty()) return;
  String text = Server;
  size_t http = Pos(u"http=", text);
  if (http > 0) {
    text.erase(0, http - 1 + 5);
    auto semi = text.find(u';');
    if (semi != String::npos) text.erase(semi);
  } else if (text.find(u'=') != String::npos) {
    // A per-protocol list without an http entry names no proxy for plain traffic; splitting
    // "https=h:p" at its colon would send the query to a host called "https=h".
    UseProxy = false;
    return;
  }
  if (!text.empty() && text.front() == u'[') {
    auto close = text.find(u']');
    if (close != String::npos) {
      String host = text.substr(1, close - 1);
      if (close + 1 < text.size() && text[close + 1] == u':')
        Port = StrToIntDef(text.substr(close + 2), 0);
      Server = host;
      return;
    }
  }
  auto colon = text.find(u':');
  if (colon != String::npos) {
    Port = StrToIntDef(text.substr(colon + 1), 0);
    text.erase(colon);
  }
  Server = text;
}

void ReadProxyInfo(String& Server, bool& UseProxy, int& Port) {
  TSystemProxy sys = ReadSystemProxy();
  if (sys.Available) {
    if (sys.HasServer) Server = sys.Server;
    UseProxy = sys.Enabled;
  }
  ReduceProxyInfo(Server, UseProxy, Port);
}

}  // namespace ktinet
