#include "platform/SystemSettings.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "rtl/SysUtils.h"

namespace ktinet {

namespace {

String EnvValue(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v && *v ? UTF8ToString(v) : String();
}

String Trimmed(const String& value) {
  String s = value;
  while (!s.empty() && s.front() <= u' ') s.erase(0, 1);
  while (!s.empty() && s.back() <= u' ') s.pop_back();
  return s;
}

// The authority of a proxy URL ("user:password@host:port"), without scheme and path.
String Authority(const String& value) {
  String s = Trimmed(value);
  auto scheme = s.find(u"://");
  if (scheme != String::npos) s.erase(0, scheme + 3);
  auto slash = s.find(u'/');
  if (slash != String::npos) s.erase(slash);
  return s;
}

// The "user:password" part of a proxy URL; empty when there is none.
String UserInfo(const String& value) {
  String s = Authority(value);
  auto at = s.rfind(u'@');
  return at == String::npos ? String() : s.substr(0, at);
}

int HexValue(Char c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

String PercentDecode(const String& s) {
  std::string bytes;
  for (size_t i = 0; i < s.size(); ++i) {
    int hi, lo;
    if (s[i] == u'%' && i + 2 < s.size() && (hi = HexValue(s[i + 1])) >= 0 && (lo = HexValue(s[i + 2])) >= 0) {
      bytes.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      bytes += UTF8Encode(String(1, s[i]));
    }
  }
  return UTF8ToString(bytes);
}

}  // namespace

String SystemProxyValue(const char* scheme) {
  std::string lower = scheme;
  String value = EnvValue(lower + "_proxy");
  if (!value.empty() || lower == "http") return value;
  std::string upper = lower + "_PROXY";
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return EnvValue(upper);
}

String SystemNoProxy() {
  String value = EnvValue("no_proxy");
  return value.empty() ? EnvValue("NO_PROXY") : value;
}

bool NoProxyMatches(const String& List, const String& Host) {
  String host = LowerCase(Host);
  if (!host.empty() && host.front() == u'[' && host.back() == u']') host = host.substr(1, host.size() - 2);
  while (!host.empty() && host.back() == u'.') host.pop_back();
  if (host.empty()) return false;
  size_t i = 0;
  while (i <= List.size()) {
    size_t comma = List.find(u',', i);
    if (comma == String::npos) comma = List.size();
    String entry = LowerCase(Trimmed(List.substr(i, comma - i)));
    i = comma + 1;
    if (entry == u"*") return true;
    if (!entry.empty() && entry.front() == u'[') {
      auto close = entry.find(u']');
      entry = close == String::npos ? String() : entry.substr(1, close - 1);
    } else if (entry.find(u':') == entry.rfind(u':')) {
      // One colon is a port; more make an IPv6 address, which has no port here.
      entry = entry.substr(0, entry.find(u':'));
    }
    while (!entry.empty() && entry.front() == u'.') entry.erase(0, 1);
    while (!entry.empty() && entry.back() == u'.') entry.pop_back();
    if (entry.empty()) continue;
    if (host == entry) return true;
    if (host.size() > entry.size() && host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
        host[host.size() - entry.size() - 1] == u'.')
      return true;
  }
  return false;
}

String ProxyHostPortFromUrl(const String& value) {
  String s = Authority(value);
  // Credentials in the variable belong to the proxy, not to the host:port text.
  auto at = s.rfind(u'@');
  if (at != String::npos) s.erase(0, at + 1);
  return s;
}

void ProxyCredentialsFromUrl(const String& value, String& User, String& Password) {
  String info = UserInfo(value);
  auto colon = info.find(u':');
  User = PercentDecode(info.substr(0, colon));
  Password = colon == String::npos ? String() : PercentDecode(info.substr(colon + 1));
}

TSystemProxy ReadSystemProxy() {
  TSystemProxy result;
  result.Available = true;
  result.NoProxy = SystemNoProxy();
  const String httpValue = SystemProxyValue("http");
  const std::pair<const char16_t*, String> entries[] = {
      {u"http", ProxyHostPortFromUrl(httpValue)},
      {u"https", ProxyHostPortFromUrl(SystemProxyValue("https"))},
      {u"ftp", ProxyHostPortFromUrl(SystemProxyValue("ftp"))},
  };
  std::vector<const std::pair<const char16_t*, String>*> set;
  for (const auto& e : entries)
    if (!e.second.empty()) set.push_back(&e);
  result.Enabled = !set.empty();
  if (set.empty()) return result;
  result.HasServer = true;
  if (!entries[0].second.empty()) ProxyCredentialsFromUrl(httpValue, result.User, result.Password);
  bool same = !entries[0].second.empty();
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
