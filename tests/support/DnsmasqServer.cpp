#include "support/DnsmasqServer.h"

#include <unistd.h>

#include <cstdint>

#include "support/Net.h"

namespace ktinet::test {

namespace {

std::string Hex(const std::string& bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Word32(std::uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
  return out;
}

}  // namespace

std::string DnsmasqServer::WireName(const std::string& name) {
  std::string out;
  size_t start = 0;
  while (start < name.size()) {
    size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    out += static_cast<char>(dot - start);
    out += name.substr(start, dot - start);
    start = dot + 1;
  }
  return out + '\0';
}

std::string DnsmasqServer::RawRecord(const std::string& name, int type, const std::string& data) {
  return "dns-rr=" + name + "," + std::to_string(type) + "," + Hex(data) + "\n";
}

std::string DnsmasqServer::ExampleZone() {
  std::string soa = WireName("ns1.example.test") + WireName("admin.example.test") + Word32(2026120701) +
                    Word32(3600) + Word32(600) + Word32(86400) + Word32(300);
  return "local-ttl=300\n"
         "address=/example.test/192.0.2.10\n"
         "address=/example.test/2001:db8::10\n"
         "host-record=host.example.test,192.0.2.20\n"
         "cname=alias.example.test,host.example.test\n"
         "mx-host=example.test,mail.example.test,10\n"
         "txt-record=example.test,\"v=spf1 -all\",\"second string\"\n"
         "ptr-record=10.2.0.192.in-addr.arpa,host.example.test\n" +
         RawRecord("example.test", 2, WireName("ns1.example.test")) + RawRecord("example.test", 6, soa);
}

DnsmasqServer::DnsmasqServer(const std::string& records) : FDir(std::make_unique<TempDir>()) {
  FPort = FreePort();
  std::string conf = "port=" + std::to_string(FPort) + "\n"
                     "listen-address=127.0.0.1\n"
                     "bind-interfaces\n"
                     "no-resolv\n"
                     "no-hosts\n"
                     "no-poll\n"
                     "log-facility=-\n"
                     "pid-file=" + (*FDir / "dnsmasq.pid") + "\n";
  // As root dnsmasq would change to user nobody, who cannot read the private directory.
  if (::geteuid() == 0) conf += "user=root\ngroup=root\n";
  conf += records;
  FDir->Write("dnsmasq.conf", conf);

  ServerProcess::Options p;
  std::string program = PeerProgram("dnsmasq");
  p.argv = {program, "-k", "--conf-file=" + (*FDir / "dnsmasq.conf")};
  p.name = "dnsmasq";
  p.port = FPort;
  FProcess = std::make_unique<ServerProcess>(std::move(p));
}

DnsmasqServer::~DnsmasqServer() { Stop(); }

void DnsmasqServer::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace ktinet::test
