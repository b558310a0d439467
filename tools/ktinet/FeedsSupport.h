// Pieces the rss, image, extract and ls subcommands share: where a URL points and JSON text.
#pragma once

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <string>

#include "Cli.h"
#include "Json.h"
#include "rtl/System.h"
#include "transfer/ktiupdate.h"

namespace ktinet::cli::feeds {

struct Remote {
  TKtIService service = isNetwork;
  std::string host;
  int port = 0;      // 0: the service's default
  std::string path;  // object path on the server, or a file-system path
};

// http://, https:// or ftp:// host[:port]/path; anything else is a file-system path.
// `credentialsAdvice` follows the refusal of user:password@ in the URL (commands with
// --user and --password say so).
inline Remote ParseRemote(const std::string& text,
                          const std::string& credentialsAdvice = ": use --user and --password") {
  Remote out;
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const size_t schemeEnd = lower.find("://");
  if (schemeEnd == std::string::npos) {
    out.path = text;
    return out;
  }
  const std::string scheme = lower.substr(0, schemeEnd);
  if (scheme == "http") out.service = isHTTP;
  else if (scheme == "https") out.service = isHTTPS;
  else if (scheme == "ftp") out.service = isFTP;
  else throw UsageError("URL must begin with http://, https:// or ftp:// (or be a file path), not '" + text + "'");
  const std::string rest = text.substr(schemeEnd + 3);
  const size_t slash = rest.find('/');
  const std::string authority = rest.substr(0, slash);
  out.path = slash == std::string::npos ? "/" : rest.substr(slash);
  if (size_t hash = out.path.find('#'); hash != std::string::npos) out.path.erase(hash);
  if (authority.find('@') != std::string::npos)
    throw UsageError("credentials in the URL are not supported" + credentialsAdvice);
  std::string portText;
  bool hasPort = false;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) throw UsageError("unclosed '[' in the URL's host");
    out.host = authority.substr(1, close - 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty() && after[0] != ':') throw UsageError("malformed host in '" + text + "'");
    hasPort = !after.empty();
    if (hasPort) portText = after.substr(1);
  } else {
    const size_t colon = authority.find(':');
    out.host = authority.substr(0, colon);
    hasPort = colon != std::string::npos;
    if (hasPort) portText = authority.substr(colon + 1);
  }
  if (out.host.empty()) throw UsageError("the URL has no host: '" + text + "'");
  if (hasPort) {
    if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(portText) < 1 || std::stoi(portText) > 65535)
      throw UsageError("the URL's port must be a number from 1 to 65535, not '" + portText + "'");
    out.port = std::stoi(portText);
  }
  return out;
}

// Points a transfer component at the remote place (host, port and service; the caller sets the
// file or directory).
inline void Aim(TKtCustomWebComponent& c, const Remote& r) {
  c.SetService(r.service);
  if (r.service == isNetwork) return;
  c.SetHost(UTF8ToString(r.host));
  if (r.port) c.SetPort(static_cast<Word>(r.port));
}

// Ctrl-C or SIGTERM during a download: the temporary file goes (a part kept for --resume is
// stamped so that the next run continues it), then the signal ends the program as it would have.
inline void AbandonDownloadsOnSignal() {
  struct sigaction action {};
  action.sa_handler = [](int signal) {
    KtIAbandonDownloads();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
  };
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

inline const char* StatusText(TKtIStatus status) {
  switch (status) {
    case isFinished: return "finished";
    case isSkipped: return "skipped";
    case isNotFound: return "not found";
    case isFailed: return "failed";
    case isInProgress: return "in progress";
  }
  return "?";
}

// The outcome word of a run: a failure that was a cancel says so.
inline const char* OutcomeText(const TKtCustomWebComponent& c) {
  if (c.Status() == isFailed && c.Cancelled()) return "cancelled";
  return StatusText(c.Status());
}

using cli::JsonText;

}  // namespace ktinet::cli::feeds

namespace ktinet::cli::feeds {

// The loopback HTTP site the demo steps of these components fetch from (started on first use):
// /feeds/news.xml, /page.html and /cam/shot.png.
int DemoSitePort();
// A small directory tree for the remote files step (empty when it could not be made).
std::string DemoTree();

}  // namespace ktinet::cli::feeds
