#include "SocketOptions.h"

#include <climits>
#include <cstdlib>

namespace ktinet::cli {

void SplitHostPort(const std::string& text, const std::string& option, std::string& host, int& port) {
  auto bad = [&] { return UsageError(option + " wants HOST:PORT, not '" + text + "'"); };
  std::string portText;
  if (!text.empty() && text.front() == '[') {
    auto close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') throw bad();
    host = text.substr(1, close - 1);
    portText = text.substr(close + 2);
  } else {
    auto colon = text.rfind(':');
    if (colon == std::string::npos) throw bad();
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    // An unbracketed IPv6 address would be split at its last colon and silently misread.
    if (host.find(':') != std::string::npos) throw bad();
  }
  if (host.empty() || portText.empty() || portText.size() > 5 ||
      portText.find_first_not_of("0123456789") != std::string::npos)
    throw bad();
  port = std::atoi(portText.c_str());
  if (port < 1 || port > 65535) throw bad();
}

void ApplyProxyOptions(const Args& args, TKtInetProxy& proxy) {
  if (args.Has("--system-proxy")) proxy.FillProxyInfo();
  if (auto p = args.Get("--proxy")) {
    std::string host;
    int port = 0;
    SplitHostPort(*p, "--proxy", host, port);
    proxy.SetServer(UTF8ToString(host));
    proxy.SetPort(port);
    proxy.SetUseProxy(true);
  }
  if (auto u = args.Get("--proxy-user")) proxy.SetUser(UTF8ToString(*u));
  if (auto pw = args.Get("--proxy-password")) proxy.SetPassword(UTF8ToString(*pw));
}

int TimeoutOption(const Args& args) { return static_cast<int>(args.GetInt("--timeout", 0, 0, INT_MAX)); }

long MaxSizeOption(const Args& args) { return args.GetInt("--max-size", kDefaultMaxSize, 0, LONG_MAX); }

void ApplySocketOptions(const Args& args, TKtInetBase& component) {
  component.SetMaxSize(MaxSizeOption(args));
  int timeout = TimeoutOption(args);
  component.SetConnectTimeout(timeout);
  component.SetReadTimeout(timeout);
  ApplyProxyOptions(args, *component.Proxy());
  if (args.Has("--proxy-user") || args.Has("--proxy-password")) component.SetLoginPrompt(false);
}

}  // namespace ktinet::cli
