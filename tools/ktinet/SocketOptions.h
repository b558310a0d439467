// The options every socket subcommand takes (--timeout, --proxy, --proxy-user,
// --proxy-password, --system-proxy), applied to a component.
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

// Every socket option into a socket component: time-outs, proxy, and no logon prompt when the
// credentials were given on the command line.
void ApplySocketOptions(const Args& args, TKtInetBase& component);

// Splits "host:port" or "[v6addr]:port"; raises UsageError naming `option` when malformed.
void SplitHostPort(const std::string& text, const std::string& option, std::string& host, int& port);

}  // namespace ktinet::cli
