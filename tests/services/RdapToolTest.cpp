// `ktinet rdap` and `ktinet whois --rdap` against the nginx registries of RdapSite.h: the readable
// record, --json and --raw, error answers and exit codes, and the bootstrap cache.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "RdapSite.h"
#include "rtl/SysUtils.h"
#include "support/RunTool.h"

namespace ktinet {
namespace {

using test::ToolOutcome;

class RdapToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program's cache of bootstrap files lives in a folder of the test's own.
    ::setenv("XDG_CACHE_HOME", cache.Path().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("XDG_CACHE_HOME"); }

  ToolOutcome Rdap(std::vector<std::string> args, bool withBootstrap = true) {
    std::vector<std::string> all = {"rdap"};
    all.insert(all.end(), args.begin(), args.end());
    if (withBootstrap) all.insert(all.end(), {"--bootstrap", site.Bootstrap()});
    all.insert(all.end(), {"--cacert", test::NginxServer::CAFile(), "--connect-timeout", "5", "--max-time", "30"});
    return test::RunToolArgs(all);
  }

  test::TempDir cache;
  test::RdapSite site;
};

TEST_F(RdapToolTest, ReadableRecordsOfEveryClass) {
  ToolOutcome d = Rdap({"example.com"});
  ASSERT_EQ(d.status, 0) << d.err;
  for (const char* line : {"Object class:     domain\n", "Handle:           2336799_DOMAIN_COM-VRSN\n",
                           "Domain name:      EXAMPLE.COM\n", "Status:           client delete prohibited\n",
                           "Registration:     1995-08-14T04:00:00Z\n", "Expiration:       2026-08-13T04:00:00Z\n",
                           "Last changed:     2025-08-14T07:01:34Z\n",
                           "Name server:      A.IANA-SERVERS.NET (199.43.135.53, 2001:500:8f::53)\n",
                           "DNSSEC:           signed delegation\n",
                           "Registrar:        RESERVED-Internet Assigned Numbers Authority\n",
                           "  IANA Registrar ID: 376\n", "  Abuse:          Abuse Desk\n",
                           "    E-mail:       abuse@registrar.example\n", "    Phone:        +1.3103015800\n",
                           "Registrant:       Joe User\n", "  Organization:   Example Inc.\n",
                           "  Handle:         XXXX\n", "  E-mail:         joe.user@example.com\n",
                           "  Last changed:   2024-08-14T05:01:34Z\n", "Port 43:          whois.verisign-grs.com\n",
                           "Notice:           Terms of Use\n", "                  Service subject to Terms of Use.\n",
                           // Long texts wrap at 80 columns.
                           "                  For more information on domain status codes, please visit\n"
                           "                  https://icann.org/epp\n"})
    EXPECT_NE(d.out.find(line), std::string::npos) << line << "\n" << d.out;

  ToolOutcome ip = Rdap({"192.0.2.0/24"});
  ASSERT_EQ(ip.status, 0) << ip.err;
  for (const char* line : {"Object class:     ip network\n", "Name:             TEST-NET-1\n",
                           "Range:            192.0.2.0 - 192.0.2.255\n", "CIDR:             192.0.2.0/24\n",
                           "Country:          US\n", "Registration:     2010-01-04T14:00:00Z\n",
                           // A line break of the registry's text cannot start a line of its own.
                           "  Address:        12025 Waterfront Drive\\nSuite 300"})
    EXPECT_NE(ip.out.find(line), std::string::npos) << line << "\n" << ip.out;

  ToolOutcome as = Rdap({"AS64500"});
  ASSERT_EQ(as.status, 0) << as.err;
  EXPECT_NE(as.out.find("AS numbers:       64496 - 64511\n"), std::string::npos) << as.out;
  EXPECT_NE(as.out.find("Registrant, Administrative: Documentation Networks\n"), std::string::npos) << as.out;

  ToolOutcome v6 = Rdap({"2001:db8::1"});
  ASSERT_EQ(v6.status, 0) << v6.err;
  EXPECT_NE(v6.out.find("CIDR:             2001:db8::/32\n"), std::string::npos) << v6.out;
}

TEST_F(RdapToolTest, JsonAndRawOutput) {
  ToolOutcome j = Rdap({"example.com", "--json"});
  ASSERT_EQ(j.status, 0) << j.err;
  const nlohmann::json doc = nlohmann::json::parse(j.out);
  EXPECT_EQ(doc["query"], "example.com");
  EXPECT_EQ(doc["service"], site.Base());
  EXPECT_EQ(doc["ldhName"], "EXAMPLE.COM");
  EXPECT_EQ(doc["events"][0]["date"], "1995-08-14T04:00:00Z");
  EXPECT_EQ(doc["events"][0]["action"], "registration");
  EXPECT_EQ(doc["entities"][0]["roles"][0], "registrar");
  EXPECT_EQ(doc["entities"][0]["entities"][0]["emails"][0], "abuse@registrar.example");
  EXPECT_EQ(doc["entities"][1]["organization"], "Example Inc.");
  EXPECT_EQ(doc["nameservers"][1]["ldhName"], "B.IANA-SERVERS.NET");
  EXPECT_EQ(doc["delegationSigned"], true);
  EXPECT_EQ(doc["notices"][0]["title"], "Terms of Use");
  EXPECT_TRUE(doc["startAutnum"].is_null());

  const nlohmann::json as = nlohmann::json::parse(Rdap({"64500", "--json"}).out);
  EXPECT_EQ(as["startAutnum"], 64496);
  EXPECT_EQ(as["endAutnum"], 64511);

  ToolOutcome raw = Rdap({"example.com", "--raw"});
  ASSERT_EQ(raw.status, 0) << raw.err;
  EXPECT_EQ(raw.out, test::RdapData("domain_example.json"));
  EXPECT_EQ(Rdap({"example.com", "--raw", "--json"}).status, 2);
}

TEST_F(RdapToolTest, ErrorAnswersFailWithTheRegistrysWords) {
  ToolOutcome missing = Rdap({"nosuch.com"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("ktinet rdap: nosuch.com: not found (HTTP 404: Not Found)\n"), std::string::npos)
      << missing.err;
  EXPECT_NE(missing.err.find("The domain nosuch.com is not registered here."), std::string::npos) << missing.err;

  ToolOutcome json = Rdap({"nosuch.com", "--json"});
  EXPECT_EQ(json.status, 1);
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["error"]["httpStatus"], 404);
  EXPECT_EQ(doc["error"]["title"], "Not Found");

  EXPECT_EQ(Rdap({"busy.com"}).status, 1);
  ToolOutcome down = Rdap({"downgrade.com"});
  EXPECT_EQ(down.status, 1);
  EXPECT_NE(down.err.find("plain http"), std::string::npos) << down.err;
  ToolOutcome none = Rdap({"example.de"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no RDAP service is known for example.de"), std::string::npos) << none.err;

  // Redirected to the second registry, which holds the record.
  ToolOutcome moved = Rdap({"moved.com"});
  ASSERT_EQ(moved.status, 0) << moved.err;
  EXPECT_NE(moved.out.find("Domain name:      MOVED.COM\n"), std::string::npos) << moved.out;
  EXPECT_NE(moved.out.find("Answered by:      " + site.SecondBase() + "domain/moved.com"), std::string::npos);

  // Without the test authority the certificate is refused; --server bypasses the bootstrap.
  ToolOutcome untrusted = test::RunToolArgs({"rdap", "example.com", "--bootstrap", site.Bootstrap()});
  EXPECT_EQ(untrusted.status, 1);
  EXPECT_NE(untrusted.err.find("certificate"), std::string::npos) << untrusted.err;
  EXPECT_EQ(Rdap({"moved.com", "--server", site.SecondBase()}, false).status, 0);
  EXPECT_EQ(Rdap({"example.com", "--server", "ftp://x"}, false).status, 2);
  EXPECT_EQ(Rdap({}).status, 2);
}

TEST_F(RdapToolTest, WhoisAsksOverRdapAndFallsBackToPort43) {
  ToolOutcome w = test::RunToolArgs({"whois", "--rdap", "example.com", "--bootstrap", site.Bootstrap(), "--cacert",
                                     test::NginxServer::CAFile()});
  ASSERT_EQ(w.status, 0) << w.err;
  EXPECT_NE(w.out.find("Registrar:        RESERVED-Internet Assigned Numbers Authority\n"), std::string::npos) << w.out;

  // No RDAP service for .de: said on stderr, then the WHOIS server is asked (here a closed port).
  ToolOutcome de = test::RunToolArgs({"whois", "--rdap", "example.de", "--bootstrap", site.Bootstrap(), "--host",
                                      "127.0.0.1", "--port", "1", "--connect-timeout", "5"});
  EXPECT_EQ(de.status, 1);
  EXPECT_NE(de.err.find("no RDAP service is known for example.de; asking its WHOIS server on port 43"),
            std::string::npos)
      << de.err;
  EXPECT_NE(de.err.find("refused"), std::string::npos) << de.err;
  EXPECT_EQ(test::RunToolArgs({"whois", "example.com", "--json"}).status, 2);
}

TEST_F(RdapToolTest, UpdatedBootstrapFilesAreUsedAfterwards) {
  test::NginxServer::Options o;
  o.https = true;
  for (const char* name : {"dns.json", "ipv4.json", "ipv6.json", "asn.json"})
    o.files.push_back({std::string("rdap/") + name, test::ReadFileBytes(site.Bootstrap() + "/" + name)});
  test::NginxServer iana(o);
  const std::string source = "https://127.0.0.1:" + std::to_string(iana.Port()) + "/rdap/";

  // Unreachable: a clean failure naming the cause, and nothing in the cache.
  ToolOutcome offline = Rdap({"--update-bootstrap", "--bootstrap-url", "https://127.0.0.1:1/rdap/"}, false);
  EXPECT_EQ(offline.status, 1);
  EXPECT_NE(offline.err.find("127.0.0.1"), std::string::npos) << offline.err;
  EXPECT_FALSE(DirectoryExists(UTF8ToString(cache / "ktinet/rdap")));

  // Before the update, example.com goes to the built-in snapshot's registry; afterwards to the
  // loopback one the fresh files name.
  ToolOutcome fresh = Rdap({"--update-bootstrap", "--bootstrap-url", source, "example.com"}, false);
  ASSERT_EQ(fresh.status, 0) << fresh.err;
  EXPECT_NE(fresh.err.find("bootstrap files updated in " + (cache / "ktinet/rdap")), std::string::npos) << fresh.err;
  EXPECT_NE(fresh.out.find("Domain name:      EXAMPLE.COM\n"), std::string::npos) << fresh.out;
  EXPECT_EQ(test::ReadFileBytes(cache / "ktinet/rdap/asn.json"), test::ReadFileBytes(site.Bootstrap() + "/asn.json"));
  EXPECT_EQ(Rdap({"AS64500"}, false).status, 0);
  EXPECT_EQ(Rdap({"example.com", "--bootstrap-url", source}, false).status, 2);
}

}  // namespace
}  // namespace ktinet
