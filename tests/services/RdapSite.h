// Two RDAP registries on loopback for the RDAP tests: real nginx servers over HTTPS with the test
// authority, serving answers shaped like the registries' (tests/services/data/rdap), and a folder
// of bootstrap files that sends every test query to the first one.
//   first:  /rdap/domain/example.com, /rdap/ip/192.0.2.1, /rdap/ip/192.0.2.0/24,
//           /rdap/ip/2001:db8::1, /rdap/autnum/64500; 404 with an error object for anything
//           else; moved.com redirected to the second, downgrade.com redirected to plain http,
//           loop.com redirected to itself; broken.com answers members of the wrong types;
//           busy.com answers 503. A request without application/rdap+json in Accept gets 406.
//   second: /rdap/domain/moved.com.
#pragma once

#include <string>

#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace ktinet::test {

inline std::string RdapData(const std::string& name) {
  return ReadFileBytes(std::string(KTINET_SOURCE_DIR) + "/tests/services/data/rdap/" + name);
}

class RdapSite {
 public:
  RdapSite() : second(SecondOptions()), first(FirstOptions(second.Port())) {
    const std::string urls = "[\"http://127.0.0.1:" + std::to_string(first.Port()) + "/rdap/\", \"" + Base() + "\"]";
    auto file = [&](const std::string& entries) {
      return "{\"version\": \"1.0\", \"publication\": \"2026-12-01T00:00:00Z\", \"services\": [[" + entries + ", " +
             urls + "]]}";
    };
    bootstrap.Write("dns.json", file("[\"com\", \"example\"]"));
    bootstrap.Write("ipv4.json", file("[\"192.0.2.0/24\"]"));
    bootstrap.Write("ipv6.json", file("[\"2001:db8::/32\"]"));
    bootstrap.Write("asn.json", file("[\"64496-64511\"]"));
  }

  std::string Base() const { return "https://127.0.0.1:" + std::to_string(first.Port()) + "/rdap/"; }
  std::string SecondBase() const { return "https://127.0.0.1:" + std::to_string(second.Port()) + "/rdap/"; }
  const std::string& Bootstrap() const { return bootstrap.Path(); }

  NginxServer second;
  NginxServer first;
  TempDir bootstrap;

 private:
  static NginxServer::Options SecondOptions() {
    NginxServer::Options o;
    o.https = true;
    std::string moved = RdapData("domain_example.json");
    moved.replace(moved.find("\"EXAMPLE.COM\""), 13, "\"MOVED.COM\"");
    o.files = {{"rdap/domain/moved.com", moved}};
    o.locations = "location /rdap/ { default_type application/rdap+json; }\n";
    return o;
  }

  static NginxServer::Options FirstOptions(int secondPort) {
    NginxServer::Options o;
    o.https = true;
    const std::string ip4 = RdapData("ip_192.0.2.0.json");
    o.files = {{"rdap/domain/example.com", RdapData("domain_example.json")},
               {"rdap/ip/192.0.2.1", ip4},
               {"rdap/ip/192.0.2.0/24", ip4},
               {"rdap/ip/2001:db8::1", RdapData("ip_2001_db8.json")},
               {"rdap/autnum/64500", RdapData("autnum_64500.json")},
               {"errors/404.json", RdapData("error_404.json")}};
    const std::string second = "https://127.0.0.1:" + std::to_string(secondPort);
    o.locations =
        "location /rdap/ {\n"
        "  default_type application/rdap+json;\n"
        "  error_page 404 /errors/404.json;\n"
        "  if ($http_accept !~* \"application/rdap\\+json\") { return 406; }\n"
        "  location = /rdap/domain/moved.com { return 301 " + second + "/rdap/domain/moved.com; }\n"
        "  location = /rdap/domain/downgrade.com { return 302 http://127.0.0.1:{port}/rdap/domain/example.com; }\n"
        "  location = /rdap/domain/loop.com { return 302 /rdap/domain/loop.com; }\n"
        "  location = /rdap/domain/broken.com { return 200 '{\"objectClassName\": 5, \"handle\": [\"x\"], "
        "\"ldhName\": \"BROKEN.COM\", \"status\": \"active\", \"entities\": [\"no\", {\"roles\": \"registrar\", "
        "\"vcardArray\": [\"vcard\", 7]}, {\"handle\": 9, \"vcardArray\": [\"vcard\", [[\"fn\"], [1, {}, \"text\", \"x\"], "
        "[\"fn\", {}, \"text\", [\"Ann\", [\"Lee\"], 3]]]]}], \"events\": [1, {\"eventAction\": 7, \"eventDate\": "
        "\"yesterday\"}], \"nameservers\": [null, {\"ldhName\": \"NS.BROKEN.COM\", \"ipAddresses\": [\"1.2.3.4\"]}], "
        "\"startAutnum\": -5, \"secureDNS\": {\"delegationSigned\": \"yes\"}}'; }\n"
        "  location = /rdap/domain/busy.com { return 503 '{\"errorCode\": 503, \"title\": \"Service Unavailable\", "
        "\"description\": \"not a list\"}'; }\n"
        "}\n"
        "location = /errors/404.json { internal; default_type application/rdap+json; }\n";
    return o;
  }
};

}  // namespace ktinet::test
