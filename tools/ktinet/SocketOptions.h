// The options every socket subcommand takes (--timeout, --proxy, --proxy-user,
// --proxy-password, --system-proxy, --max-size), applied to a component.
#pragma once

#include "Cli.h"
#include "core/KtInBase.h"

namespace ktinet::cli {

// Proxy options into a proxy settings object: --system-proxy first takes the environment's proxy
// (FillProxyInfo), then --proxy, --proxy-user and --proxy-password override what they name.
// Raises UsageError for a --proxy that is not HOST:PORT.
void ApplyProxyOptions(const Args& args, TKtInetProxy& proxy);

// The --timeout value in milliseconds (0, waiting forever, when absent).
int TimeoutOption(const Args& args);

// The largest answer the program takes when --max-size does not say: large enough for any
// page, record or zone a person asks for on the command line, small enough that a server that
// never stops sending cannot take the machine's memory.
constexpr long kDefaultMaxSize = 256L * 1024 * 1024;

// The --max-size value in bytes (kDefaultMaxSize when absent; 0 sets no limit).
long MaxSizeOption(const Args& args);

// Every socket option into a socket component: time-outs, proxy, the answer size limit, and no
// logon prompt when the credentials were given on the command line.
void ApplySocketOptions(const Args& args, TKtInetBase& component);

// Splits "host:port" or "[v6addr]:port"; raises UsageError naming `option` when malformed.
void SplitHostPort(const std::string& text, const std::string& option, std::string& host, int& port);

}  // namespace ktinet::cli
