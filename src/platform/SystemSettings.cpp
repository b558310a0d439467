#include "platform/SystemSettings.h"

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace ktinet {

namespace {

String EnvValue(const char* lower, const char* upper) {
  for (const char* name : {lower, upper}) {
    const char* v = std::getenv(name);
    if (v && *v) return UTF8ToString(v);
  }
  return {};
}

}  // namespace

String ProxyHostPortFromUrl(const String& value) {
  String s = value;
  while (!s.empty() && s.front() <= u' ') s.erase(0, 1);
  while (!s.empty() && s.back() <= u' ') s.pop_back();
  auto scheme = s.find(u"://");
  if (scheme != String::npos) s.erase(0, scheme + 3);
  auto slash = s.find(u'/');
  if (slash != String::npos) s.erase(slash);
  // Credentials in the variable belong to the proxy, not to the host:port text.
  auto at = s.rfind(u'@');
  if (at != String::npos) s.erase(0, at + 1);
  return s;
}

TSystemProxy ReadSystemProxy() {
  TSystemProxy result;
  result.Available = true;
  const std::pair<const char16_t*, String> entries[] = {
      {u"http", ProxyHostPortFromUrl(EnvValue("http_proxy", "HTTP_PROXY"))},
      {u"https", ProxyHostPortFromUrl(EnvValue("https_proxy", "HTTPS_PROXY"))},
      {u"ftp", ProxyHostPortFromUrl(EnvValue("ftp_proxy", "FTP_PROXY"))},
  };
  std::vector<const std::pair<const char16_t*, String>*> set;
  for (const auto& e : entries)
    if (!e.second.empty()) set.push_back(&e);
  result.Enabled = !set.empty();
  if (set.empty()) return result;
  result.HasServer = true;
  bool same = true;
  for (const auto* e : set) same = same && e->second == set.front()->second;
  if (same) {
    result.Server = set.front()->second;
    return result;
  }
  for (const auto* e : set) {
    if (!result.Server.empty()) result.Server += u';';
    result.Server += String(e->first) + u"=" + e->second;
  }
  return result;
}

}  // namespace ktinet
