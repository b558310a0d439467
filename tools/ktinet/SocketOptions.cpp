#include "SocketOptions.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Secrets.h"
#include "core/KtInCnst.h"
#include "platform/SystemSettings.h"
#include "platform/WinInet.h"
#include "protocols/KtDigResolver.h"
#include "vcl/KtILogOn.h"
#include "vcl/UiBackend.h"

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

std::vector<Args::OptionSpec> DeadlineOptions() {
  return {{"--connect-timeout", "", true}, {"--timeout", "", true}, {"--max-time", "", true}};
}

#define KTINET_DEADLINE_HELP \
    "  --connect-timeout S     give up connecting after S seconds (default 30; 0: no limit)\n" \
    "  --timeout S             give up after S seconds without news from the server (default 60;\n" \
    "                          0: no limit)\n" \
    "  --max-time S            give up when the whole job takes more than S seconds (default: no\n" \
    "                          limit); seconds may have a fraction: 0.5\n"

const char* const kDeadlineOptionsHelp = KTINET_DEADLINE_HELP;

// Seconds as milliseconds; a fraction of a millisecond still counts as one, so that a tiny limit
// never turns into "no limit".
int SecondsOption(const Args& args, const std::string& name, int fallbackMs) {
  auto v = args.Get(name);
  if (!v) return fallbackMs;
  constexpr double kMaxSeconds = INT_MAX / 1000.0;
  char* end = nullptr;
  double seconds = v->empty() || !std::isdigit(static_cast<unsigned char>((*v)[0])) ? -1 : std::strtod(v->c_str(), &end);
  if (seconds < 0 || !end || *end != '\0' || !std::isfinite(seconds) || seconds > kMaxSeconds)
    throw UsageError(name + " wants seconds from 0 to " + std::to_string(static_cast<long>(kMaxSeconds)) +
                     " (0: no limit), not '" + *v + "'");
  return static_cast<int>(std::ceil(seconds * 1000.0));
}

Deadlines DeadlineOption(const Args& args) {
  Deadlines d;
  d.connectMs = SecondsOption(args, "--connect-timeout", d.connectMs);
  d.readMs = SecondsOption(args, "--timeout", d.readMs);
  d.maxMs = SecondsOption(args, "--max-time", d.maxMs);
  return d;
}

Deadlines ApplyResolverDeadlines(const Args& args, TKtDigResolver& resolver) {
  Deadlines d = DeadlineOption(args);
  // The resolver takes no "no limit"; its longest wait (about 24 days) stands for one.
  auto wait = [](int ms) { return ms == 0 ? INT_MAX : ms; };
  resolver.SetTimeoutMs(args.Has("--timeout") ? wait(d.readMs) : 5000);
  resolver.SetConnectTimeoutMs(wait(d.connectMs));
  resolver.SetMaxTimeMs(d.maxMs);
  return d;
}

const char* const kResolverDeadlineHelp =
    "  --connect-timeout S     give up a TCP connect after S seconds (default 30; 0: no limit)\n"
    "  --timeout S             wait S seconds for each answer: one UDP try or a TCP read\n"
    "                          (default 5, after which a lost datagram is asked for again;\n"
    "                          0: no limit)\n"
    "  --max-time S            give up when the whole look-up, every server and try included,\n"
    "                          takes more than S seconds (default: no limit); seconds may have\n"
    "                          a fraction: 0.5\n";

std::vector<Args::OptionSpec> ProxyOptions() {
  std::vector<Args::OptionSpec> specs = {{"--proxy", "", true}, {"--proxy-user", "", true}, {"--system-proxy", "", false}};
  AppendOptions(specs, SecretOptions("--proxy-password"));
  return specs;
}

std::vector<Args::OptionSpec> SocketOptions() {
  std::vector<Args::OptionSpec> specs = DeadlineOptions();
  AppendOptions(specs, ProxyOptions());
  AppendOptions(specs, std::vector<Args::OptionSpec>{{"--max-size", "", true}});
  return specs;
}

const char* const kProxyRefused = "proxy refused: authentication required";

#define KTINET_PROXY_LOGON_HELP \
    "  --proxy-user U          proxy user name (on a terminal, the proxy password is asked for\n" \
    "                          when none of the forms below gives it)\n" \
    "  --proxy-password P      proxy password (other users can see it in ps: prefer the forms below)\n" \
    "  --proxy-password-file F the same, read from the first line of file F\n" \
    "  $KTINET_PROXY_PASSWORD  the same, from the environment\n"

const char* const kSocketOptionsHelp =
    KTINET_DEADLINE_HELP
    "  --proxy HOST:PORT       connect through this proxy; when it asks for a logon (407), a\n"
    "                          terminal asks for its user and password and tries once more,\n"
    "                          elsewhere the job fails (\"proxy refused: authentication required\")\n"
    KTINET_PROXY_LOGON_HELP
    "  --system-proxy          use the proxy of the environment (http_proxy with its\n"
    "                          user:password, no_proxy; HTTP_PROXY is never read)\n"
    "  --max-size BYTES        largest answer taken (268435456, 256 MiB; 0 sets no limit)\n";

std::vector<Args::OptionSpec> TlsOptions() { return {{"--cacert", "", true}, {"--insecure", "", false}}; }

const char* const kTlsOptionsHelp =
    "  --cacert FILE           also trust the certificate authorities in this PEM file\n"
    "                          ($SSL_CERT_FILE and $SSL_CERT_DIR replace the system's store)\n"
    "  --insecure              do not verify the server's certificate (anyone on the path could\n"
    "                          read and change what is exchanged)\n";

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
  auto user = args.Get("--proxy-user");
  if (user) proxy.SetUser(UTF8ToString(*user));
  // A password without a user name is still the proxy's: some proxies ask only for that.
  std::optional<std::string> password =
      user ? PasswordFor(args, *user, "--proxy-password", "KTINET_PROXY_PASSWORD", "Proxy logon")
           : Secret(args, "--proxy-password", "KTINET_PROXY_PASSWORD");
  if (password) proxy.SetPassword(UTF8ToString(*password));
}

long MaxSizeOption(const Args& args) { return args.GetInt("--max-size", kDefaultMaxSize, 0, LONG_MAX); }

void ApplySocketOptions(const Args& args, TKtInetBase& component) {
  component.SetMaxSize(MaxSizeOption(args));
  Deadlines d = DeadlineOption(args);
  component.SetConnectTimeout(d.connectMs);
  component.SetReadTimeout(d.readMs);
  component.SetMaxTime(d.maxMs);
  ApplyProxyOptions(args, *component.Proxy());
  component.SetLoginPrompt(false);
}

bool ProxyWantsLogon(const TKtInetBase& component) {
  return component.LastError() == strKtInEProxyAuth && component.Proxy()->UseProxy();
}

namespace {

bool AskProxyLogon(TKtInetProxy& proxy) {
  // Without a terminal nobody could answer.
  if (std::strcmp(CurrentBackend().Name(), "headless") == 0) return false;
  String user = proxy.User();
  String password;
  if (!KtInAskLogon(u"Proxy logon", user, password)) return false;
  proxy.SetUser(user);
  proxy.SetPassword(password);
  return true;
}

}  // namespace

bool AskProxyLogon(TKtInetBase& component) { return AskProxyLogon(*component.Proxy()); }

bool ProxyWantsLogon(const TKtCustomWebComponent& component) {
  // A 407 from a server reached without a proxy is that server's own business.
  return component.LastHTTPStatus() == HTTP_STATUS_PROXY_AUTH_REQ &&
         (component.Proxy()->UseProxy() || ReadSystemProxy().Enabled);
}

bool AskProxyLogon(TKtCustomWebComponent& component) { return AskProxyLogon(*component.Proxy()); }

std::string FailureText(const TKtInetBase& component) {
  if (ProxyWantsLogon(component)) return "proxy refused: authentication required";
  return UTF8Encode(component.LastError());
}

void ApplyTransferOptions(const Args& args) {
  Deadlines d = DeadlineOption(args);
  // 0xFFFFFFFF is the Internet API's "no limit"; its own default would otherwise apply to a 0.
  auto set = [](DWORD option, int ms) {
    DWORD value = ms == 0 ? 0xFFFFFFFF : static_cast<DWORD>(ms);
    InternetSetOptionW(nullptr, option, &value, sizeof value);
  };
  set(INTERNET_OPTION_CONNECT_TIMEOUT, d.connectMs);
  set(INTERNET_OPTION_RECEIVE_TIMEOUT, d.readMs);
  set(KTINET_OPTION_MAX_TIME, d.maxMs);
  if (args.Has("--insecure")) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    InternetSetOptionW(nullptr, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  if (auto file = args.Get("--cacert")) {
    if (::access(file->c_str(), R_OK) != 0) throw UsageError("--cacert: cannot read '" + *file + "'");
    String path = UTF8ToString(*file);
    if (!InternetSetOptionW(nullptr, KTINET_OPTION_CA_FILE, path.c_str(), static_cast<DWORD>(path.size())))
      throw UsageError("--cacert: '" + *file + "' was refused: " +
                       UTF8Encode(InternetErrorMessage(InternetGetLastError())));
  }
}

std::vector<Args::OptionSpec> TransferOptions() {
  std::vector<Args::OptionSpec> specs = {{"--user", "-u", true}};
  AppendOptions(specs, SecretOptions("--password", "-p"));
  AppendOptions(specs, TlsOptions());
  AppendOptions(specs, DeadlineOptions());
  AppendOptions(specs, ProxyOptions());
  return specs;
}

namespace {

const char* const kTransferProxyHelp =
    "  --proxy HOST:PORT       connect through this proxy (without it, through the proxy of the\n"
    "                          environment: http_proxy, https_proxy, ftp_proxy, no_proxy); when\n"
    "                          it asks for a logon (407), a terminal asks for its user and\n"
    "                          password and tries once more, elsewhere the job fails (\"proxy\n"
    "                          refused: authentication required\")\n"
    KTINET_PROXY_LOGON_HELP
    "  --system-proxy          the proxy of the environment, as without --proxy (HTTP_PROXY is\n"
    "                          never read)\n";

// The scheme variables a transfer session reads for its proxy.
constexpr const char* kProxyVariables[] = {"http_proxy", "https_proxy", "ftp_proxy"};

// The proxy the options name, for every session of this process: the components that take the
// environment's proxy afresh each time they connect then take this one, and no_proxy no longer
// sends some hosts past it.
void ExportProxy(const TKtInetProxy& proxy) {
  std::string host = UTF8Encode(proxy.Server());
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  const std::string value = "http://" + host + ":" + std::to_string(proxy.Port());
  for (const char* name : kProxyVariables) ::setenv(name, value.c_str(), 1);
  ::unsetenv("no_proxy");
  ::unsetenv("NO_PROXY");
}

}  // namespace

std::string TransferProxyHelp() { return kTransferProxyHelp; }

void ApplyTransferProxy(const Args& args, TKtCustomWebComponent& component) {
  bool any = false;
  for (const auto& option : ProxyOptions()) any = any || args.Has(option.name);
  // KTINET_PROXY_PASSWORD alone changes nothing: the environment's proxy applies as it stands.
  if (!any) return;
  TKtInetProxy& proxy = *component.Proxy();
  // Without --proxy the proxy is the environment's, whose user and password the options may
  // replace.
  if (!args.Has("--proxy")) proxy.FillProxyInfo();
  ApplyProxyOptions(args, proxy);
  if (args.Has("--proxy")) ExportProxy(proxy);
}

std::vector<Args::OptionSpec> WithTransferOptions(std::vector<Args::OptionSpec> own) {
  AppendOptions(own, TransferOptions());
  return own;
}

std::string TransferOptionsHelp() {
  return std::string("  -u, --user U            user name for the server (on a terminal, the password is\n"
                     "                          asked for when none of the forms below gives it)\n") +
         SecretHelp("--password", "-p", "its password", "KTINET_PASSWORD", 26) + kTlsOptionsHelp + kDeadlineOptionsHelp +
         kTransferProxyHelp;
}

void ApplyTransferOptions(const Args& args, TKtCustomWebComponent& component) {
  ApplyTransferOptions(args);
  // The component's own time limits apply to each session it opens, over the defaults above.
  Deadlines d = DeadlineOption(args);
  component.SetConnectTimeout(d.connectMs);
  component.SetReadTimeout(d.readMs);
  component.SetMaxTime(d.maxMs);
  ApplyTransferProxy(args, component);
  auto user = args.Get("--user");
  if (!user) {
    if (args.Has("--password") || args.Has("--password-file")) throw UsageError("a password needs --user");
    return;
  }
  component.SetUser(UTF8ToString(*user));
  if (auto password = PasswordFor(args, *user, "--password", "KTINET_PASSWORD", "Server logon"))
    component.SetPassword(UTF8ToString(*password));
}

}  // namespace ktinet::cli
