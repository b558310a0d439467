// Free loopback ports and readiness checks for tests that talk to real servers.
#pragma once

namespace ktinet::test {

// A port the system had free on 127.0.0.1 a moment ago (bound to port 0, read back, released).
// Throws std::runtime_error when no socket can be made.
int FreePort(bool udp = false);

// Tries to connect to host:port until it succeeds or timeoutMs passes. host is a numeric
// IPv4 or IPv6 address.
bool WaitForPort(int port, int timeoutMs, const char* host = "127.0.0.1");

// One connection attempt of at most timeoutMs; true when host:port accepted it.
bool PortAccepts(int port, int timeoutMs, const char* host = "127.0.0.1");

}  // namespace ktinet::test

#include <string>

namespace ktinet::test {

// The path of a peer daemon (nginx, chronyd, dnsmasq): the copy scripts/install-deps unpacked
// into .cache/peers, else the system's /usr/sbin, else the bare name for PATH.
std::string PeerProgram(const std::string& name);

}  // namespace ktinet::test
