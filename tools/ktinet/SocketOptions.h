// The options the network subcommands share, defined once: deadlines (--connect-timeout,
// --timeout, --max-time), proxy (--proxy, --proxy-user, --proxy-password and its other forms,
// --system-proxy) and TLS (--cacert, --insecure), and how they reach a component.
#pragma once

#include <string>
#include <vector>

#include "Cli.h"
#include "core/KtInBase.h"
#include "transfer/ktiupdate.h"

namespace ktinet {
class TKtDigResolver;
}

namespace ktinet::cli {

// The program's deadlines in milliseconds, 0 meaning no limit. The components wait forever
// unless told otherwise; the program never does unless asked to.
struct Deadlines {
  int connectMs = 30000;  // --connect-timeout: connecting
  int readMs = 60000;     // --timeout: silence between reads
  int maxMs = 0;          // --max-time: the whole job
};

std::vector<Args::OptionSpec> DeadlineOptions();
extern const char* const kDeadlineOptionsHelp;
// One option in seconds (fractions allowed, 0 = no limit) as milliseconds; fallbackMs when absent,
// UsageError on garbage.
int SecondsOption(const Args& args, const std::string& name, int fallbackMs);
// The three deadline options, in seconds (fractions allowed, 0 = no limit); UsageError on garbage.
Deadlines DeadlineOption(const Args& args);

// The deadline options into the dig-style resolver: --connect-timeout for its TCP connects,
// --timeout for each wait (one UDP try, a TCP read; 5 s when not given, so that a lost datagram
// is asked for again as dig does), --max-time for the whole look-up. 0 sets no limit. Returns
// what the options say, for callers that share --max-time among several look-ups.
Deadlines ApplyResolverDeadlines(const Args& args, TKtDigResolver& resolver);
extern const char* const kResolverDeadlineHelp;

// Deadlines and proxy options, for the subcommands built on the socket components.
std::vector<Args::OptionSpec> SocketOptions();
extern const char* const kSocketOptionsHelp;

// --cacert FILE and --insecure.
std::vector<Args::OptionSpec> TlsOptions();
extern const char* const kTlsOptionsHelp;

// Proxy options into a proxy settings object: --system-proxy first takes the environment's proxy
// (FillProxyInfo), then --proxy, --proxy-user and the proxy password override what they name.
// The proxy password comes from --proxy-password, --proxy-password-file or KTINET_PROXY_PASSWORD;
// with --proxy-user and none of them, a terminal asks for it. Raises UsageError for a --proxy
// that is not HOST:PORT.
void ApplyProxyOptions(const Args& args, TKtInetProxy& proxy);

// The largest answer the program takes when --max-size does not say: large enough for any
// page, record or zone a person asks for on the command line, small enough that a server that
// never stops sending cannot take the machine's memory.
constexpr long kDefaultMaxSize = 256L * 1024 * 1024;

// The --max-size value in bytes (kDefaultMaxSize when absent; 0 sets no limit).
long MaxSizeOption(const Args& args);

// Every socket option into a socket component: deadlines, proxy and the answer size limit. The component never asks for
// proxy credentials itself: the program has gathered what there is to know.
void ApplySocketOptions(const Args& args, TKtInetBase& component);

// Whether the component's last Execute ended because its proxy wants credentials (status 407).
bool ProxyWantsLogon(const TKtInetBase& component);

// After a 407 from the proxy, on a terminal: the logon dialog asks for the proxy's user and
// password (the same dialog as --user's password) and they go into the component; true when the
// job should run once more. False without a terminal, or when the person cancelled.
bool AskProxyLogon(TKtInetBase& component);

// Runs `job` (a call that executes the component); when the proxy asked for credentials and a
// person gave them, runs it once more. Nothing is asked unless the proxy asks.
template <class Job>
auto RunAskingProxyLogon(TKtInetBase& component, Job job) -> decltype(job()) {
  auto result = job();
  if (ProxyWantsLogon(component) && AskProxyLogon(component)) result = job();
  return result;
}

// The component's LastError as the program reports it ("proxy refused: authentication
// required" for a proxy's 407).
std::string FailureText(const TKtInetBase& component);

// The proxy options alone: --proxy, --proxy-user, the proxy password's forms, --system-proxy.
std::vector<Args::OptionSpec> ProxyOptions();

// What a failure says when a proxy refused the job for want of a logon (status 407).
extern const char* const kProxyRefused;

// Whether the transfer component's last run ended with a proxy asking for credentials (407
// while a proxy was in use).
bool ProxyWantsLogon(const TKtCustomWebComponent& component);

// After a 407 from the proxy, on a terminal: the logon dialog asks for the proxy's user and
// password and they go into the component; true when the job should run once more.
bool AskProxyLogon(TKtCustomWebComponent& component);

// Runs `job` (a call that runs the transfer component); when the proxy asked for credentials and
// a person gave them, runs it once more. A component with LoginPrompt asks through the same
// dialog itself, so the program does not ask a second time.
template <class Job>
auto RunAskingProxyLogon(TKtCustomWebComponent& component, Job job) -> decltype(job()) {
  auto result = job();
  if (!component.LoginPrompt() && ProxyWantsLogon(component) && AskProxyLogon(component)) result = job();
  return result;
}

// Deadlines and TLS options for the transfer subcommands (get, update, rss, extract, ls, image,
// news): they become the defaults of every Internet session the program opens from now on.
void ApplyTransferOptions(const Args& args);

// The proxy options into a transfer component (nothing when none is given: the environment's
// proxy applies). --proxy also becomes the proxy of every later session of this process.
void ApplyTransferProxy(const Args& args, TKtCustomWebComponent& component);
// The help of the proxy options of the transfer subcommands.
std::string TransferProxyHelp();

// The options of a transfer subcommand that logs on: -u/--user, the password (-p/--password and
// its other forms), TLS and deadlines; and their help.
std::vector<Args::OptionSpec> TransferOptions();
std::string TransferOptionsHelp();
// A subcommand's own options followed by TransferOptions().
std::vector<Args::OptionSpec> WithTransferOptions(std::vector<Args::OptionSpec> own);
// ApplyTransferOptions, then the proxy options and --user with its password into the component (a terminal asks for
// a password none of the forms gave). A password without --user is a UsageError.
void ApplyTransferOptions(const Args& args, TKtCustomWebComponent& component);

// Splits "host:port" or "[v6addr]:port"; raises UsageError naming `option` when malformed.
void SplitHostPort(const std::string& text, const std::string& option, std::string& host, int& port);

}  // namespace ktinet::cli
