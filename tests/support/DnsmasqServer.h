// A real name server on loopback for DNS tests: dnsmasq in the foreground with no upstream and
// fixed records, on a free port of 127.0.0.1 (UDP and TCP). Ready once the TCP port accepts.
//
//   DnsmasqServer dns;                       // the example.test zone below
//   ... ask 127.0.0.1:dns.Port() over TCP ...
#pragma once

#include <memory>
#include <string>

#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace ktinet::test {

class DnsmasqServer {
 public:
  // `records`: dnsmasq configuration lines (address=, mx-host=, txt-record=, dns-rr= ...).
  explicit DnsmasqServer(const std::string& records = ExampleZone());
  ~DnsmasqServer();
  DnsmasqServer(const DnsmasqServer&) = delete;
  DnsmasqServer& operator=(const DnsmasqServer&) = delete;

  int Port() const { return FPort; }
  void Stop();

  // example.test, TTL 300: A 192.0.2.10, AAAA 2001:db8::10, MX 10 mail.example.test.,
  // TXT "v=spf1 -all" "second string", NS ns1.example.test., SOA ns1.example.test.
  // admin.example.test. 2026120701 3600 600 86400 300; host.example.test A 192.0.2.20 with
  // alias.example.test a CNAME of it; PTR of 192.0.2.10 is host.example.test.
  static std::string ExampleZone();
  // A dns-rr= line: any record, its data given as bytes.
  static std::string RawRecord(const std::string& name, int type, const std::string& data);
  // A name in wire form without compression ("\3ns1\7example\4test\0").
  static std::string WireName(const std::string& name);

 private:
  std::unique_ptr<TempDir> FDir;
  int FPort = 0;
  std::unique_ptr<ServerProcess> FProcess;
};

}  // namespace ktinet::test
