// TKtRdapClient: the bootstrap rules and the query forms on their own, then look-ups against two
// real nginx registries over HTTPS (RdapSite.h): records of every class, error answers, redirects,
// hostile answers and the bootstrap update.
#include <gtest/gtest.h>

#include <string>

#include "RdapSite.h"
#include "services/KtRdap.h"

namespace ktinet {
namespace {

using Kind = TKtRdapBootstrap::TKind;

TKtRdapQuery Q(const char16_t* text) {
  TKtRdapQuery q;
  String error;
  EXPECT_TRUE(ParseRdapQuery(text, q, error)) << UTF8Encode(error);
  return q;
}

TEST(RdapBootstrap, LongestLabelPrefixAndRangeWin) {
  TKtRdapBootstrap b;
  String error;
  ASSERT_TRUE(b.Add(R"({"services": [
      [["uk"], ["https://uk.example/"]],
      [["co.uk", "EXAMPLE."], ["http://co-uk.example/rdap", "https://co-uk.example/rdap"]],
      [["ac.uk"], ["http://only-http.example/"]],
      [["org"], ["ftp://nothing.example/"]]]})", Kind::Dns, error)) << UTF8Encode(error);
  EXPECT_EQ(b.Find(Q(u"bbc.co.uk")), u"https://co-uk.example/rdap/");  // https preferred, "/" added
  EXPECT_EQ(b.Find(Q(u"WWW.Shop.CO.UK.")), u"https://co-uk.example/rdap/");
  EXPECT_EQ(b.Find(Q(u"nominet.uk")), u"https://uk.example/");
  EXPECT_EQ(b.Find(Q(u"ox.ac.uk")), u"http://only-http.example/");
  EXPECT_EQ(b.Find(Q(u"a.example")), u"https://co-uk.example/rdap/");
  EXPECT_EQ(b.Find(Q(u"xuk")), u"");       // a label, not a string suffix
  EXPECT_EQ(b.Find(Q(u"pir.org")), u"");   // no usable URL
  EXPECT_TRUE(b.Has(Kind::Dns));
  EXPECT_FALSE(b.Has(Kind::IPv4));

  TKtRdapBootstrap ip;
  ASSERT_TRUE(ip.Add(R"({"services": [
      [["10.0.0.0/8", "2001:db8::/32"], ["https://wide.example/"]],
      [["10.1.0.0/16", "2001:db8:1::/48"], ["https://narrow.example/"]],
      [["64496-64511", "64500", "99-9"], ["https://asn.example/"]],
      [["1-100000"], ["https://big.example/"]]]})", Kind::Unknown, error));
  EXPECT_EQ(ip.Find(Q(u"10.1.2.3")), u"https://narrow.example/");
  EXPECT_EQ(ip.Find(Q(u"10.2.0.1")), u"https://wide.example/");
  EXPECT_EQ(ip.Find(Q(u"10.1.0.0/16")), u"https://narrow.example/");
  // A block wider than an entry lies only in the entry that covers all of it.
  EXPECT_EQ(ip.Find(Q(u"10.0.0.0/12")), u"https://wide.example/");
  EXPECT_EQ(ip.Find(Q(u"10.0.0.0/7")), u"");
  EXPECT_EQ(ip.Find(Q(u"11.0.0.1")), u"");
  EXPECT_EQ(ip.Find(Q(u"2001:db8:1:2::5")), u"https://narrow.example/");
  EXPECT_EQ(ip.Find(Q(u"2001:DB8:2::/64")), u"https://wide.example/");
  EXPECT_EQ(ip.Find(Q(u"2001:db9::1")), u"");
  // The narrowest range holding the number; a reversed range is no entry.
  EXPECT_EQ(ip.Find(Q(u"AS64500")), u"https://asn.example/");
  EXPECT_EQ(ip.Find(Q(u"64511")), u"https://asn.example/");
  EXPECT_EQ(ip.Find(Q(u"64512")), u"https://big.example/");
  EXPECT_EQ(ip.Find(Q(u"1")), u"https://big.example/");
  EXPECT_EQ(ip.Find(Q(u"4294967295")), u"");
  EXPECT_TRUE(ip.Has(Kind::IPv4) && ip.Has(Kind::IPv6) && ip.Has(Kind::Asn));
  EXPECT_FALSE(ip.Has(Kind::Dns));

  // Not bootstrap files: refused, and nothing of them added.
  for (const char* bad : {"", "[]", "{\"services\": {}}", "{\"services\": [", "nonsense"})
    EXPECT_FALSE(ip.Add(bad, Kind::Unknown, error)) << bad;
  EXPECT_EQ(ip.Find(Q(u"10.1.2.3")), u"https://narrow.example/");
}

TEST(RdapBootstrap, SnapshotKnowsTheRegistries) {
  TKtRdapBootstrap b;
  String error;
  for (const char* name : {"dns.json", "ipv4.json", "ipv6.json", "asn.json"})
    ASSERT_TRUE(b.Add(TKtRdapBootstrap::Snapshot(name), Kind::Unknown, error)) << name;
  EXPECT_EQ(b.Find(Q(u"example.com")), u"https://rdap.verisign.com/com/v1/");
  EXPECT_EQ(b.Find(Q(u"example.org")), u"https://rdap.publicinterestregistry.org/rdap/");
  EXPECT_EQ(b.Find(Q(u"8.8.8.8")), u"https://rdap.arin.net/registry/");
  EXPECT_EQ(b.Find(Q(u"193.0.6.139")), u"https://rdap.db.ripe.net/");
  EXPECT_EQ(b.Find(Q(u"2a00:1450::1")), u"https://rdap.db.ripe.net/");
  EXPECT_EQ(b.Find(Q(u"AS3333")), u"https://rdap.db.ripe.net/");
  EXPECT_EQ(b.Find(Q(u"AS15169")), u"https://rdap.arin.net/registry/");
  EXPECT_EQ(b.Find(Q(u"example.de")), u"");
  EXPECT_TRUE(TKtRdapBootstrap::Snapshot("other.json").empty());
}

TEST(RdapQuery, FormsAndRefusals) {
  EXPECT_EQ(Q(u"AS64500").Path(), u"autnum/64500");
  EXPECT_EQ(Q(u"as64500").Path(), u"autnum/64500");
  EXPECT_EQ(Q(u" 64500 ").Path(), u"autnum/64500");
  EXPECT_EQ(Q(u"192.0.2.1").Path(), u"ip/192.0.2.1");
  EXPECT_EQ(Q(u"192.0.2.0/24").Path(), u"ip/192.0.2.0/24");
  EXPECT_EQ(Q(u"2001:DB8:0:0::1").Path(), u"ip/2001:db8::1");
  EXPECT_EQ(Q(u"2001:db8::/32").Path(), u"ip/2001:db8::/32");
  EXPECT_EQ(Q(u"Example.COM.").Path(), u"domain/example.com");
  EXPECT_EQ(Q(u"b\u00fccher.example").Path(), u"domain/xn--bcher-kva.example");
  EXPECT_EQ(Q(u"_dmarc.example.com").Kind, TKtRdapQueryKind::Domain);

  TKtRdapQuery q;
  String error;
  for (const char16_t* bad : {u"", u"  ", u"AS4294967296", u"1.2.3", u"1.2.3.4/33", u"1.2.3.4/", u"300.1.1.1",
                              u"2001:db8::/129", u"2001:db8:::1", u"a/b.com", u"a?b.com", u"a#b", u"x%2f.com",
                              u"a b.com", u"a..com", u".com", u"ex\u0001.com", u"-", u"-a.com", u"a-.com"})
    EXPECT_FALSE(ParseRdapQuery(bad, q, error)) << UTF8Encode(bad);
  EXPECT_FALSE(ParseRdapQuery(String(64, u'a') + u".com", q, error));
  EXPECT_TRUE(ParseRdapQuery(String(63, u'a') + u".com", q, error));
}

TEST(RdapDate, Rfc3339InUtc) {
  TDateTime t;
  ASSERT_TRUE(ParseRdapDate(u"1995-08-14T04:00:00Z", t));
  EXPECT_DOUBLE_EQ(t, EncodeDateTime(1995, 8, 14, 4, 0, 0, 0));
  ASSERT_TRUE(ParseRdapDate(u"2024-08-14T07:01:34+02:00", t));
  EXPECT_NEAR(t, EncodeDateTime(2024, 8, 14, 5, 1, 34, 0), 1e-9);
  ASSERT_TRUE(ParseRdapDate(u"2010-01-04T23:00:00-05:00", t));
  EXPECT_NEAR(t, EncodeDateTime(2010, 1, 5, 4, 0, 0, 0), 1e-9);
  ASSERT_TRUE(ParseRdapDate(u"2026-12-07T13:34:51.217Z", t));
  EXPECT_NEAR(t, EncodeDateTime(2026, 12, 7, 13, 34, 51, 217), 1e-9);
  for (const char16_t* bad : {u"", u"yesterday", u"2026-13-01T00:00:00Z", u"2026-02-30T00:00:00Z",
                              u"2026-01-01T25:00:00Z", u"2026-01-01T00:00:00+2", u"2026-01-01T00:00:00Zjunk",
                              u"2026-01-01", u"2026-01-01T00:00:00.Z"})
    EXPECT_FALSE(ParseRdapDate(bad, t)) << UTF8Encode(bad);
}

TEST(RdapAnswer, HostileDocumentsFailOrArePassedOver) {
  TKtRdapRecord r;
  String error;
  EXPECT_FALSE(ParseRdapRecord("[1]", r, error));
  EXPECT_FALSE(ParseRdapRecord("{\"handle\":", r, error));
  EXPECT_FALSE(ParseRdapRecord(std::string(200000, '[') + std::string(200000, ']'), r, error));
  EXPECT_NE(error.find(u"nested"), String::npos) << UTF8Encode(error);
  // Brackets inside strings are no nesting.
  EXPECT_TRUE(ParseRdapRecord("{\"handle\": \"" + std::string(1000, '[') + "\\\"{\"}", r, error)) << UTF8Encode(error);

  // Entities inside entities: kept to a bounded depth.
  std::string nested = "{}";
  for (int i = 0; i < 20; ++i) nested = "{\"handle\": \"E" + std::to_string(i) + "\", \"entities\": [" + nested + "]}";
  ASSERT_TRUE(ParseRdapRecord("{\"entities\": [" + nested + "]}", r, error)) << UTF8Encode(error);
  int depth = 0;
  for (const std::vector<TKtRdapEntity>* level = &r.Entities; !level->empty(); level = &(*level)[0].Entities) ++depth;
  EXPECT_EQ(depth, kMaxRdapEntityDepth);

  TKtRdapError e;
  ParseRdapError("{\"errorCode\": \"404\", \"title\": [\"x\"], \"description\": [\"one\", 2, \"three\"]}", 404, e);
  EXPECT_EQ(e.HttpStatus, 404);
  EXPECT_EQ(e.ErrorCode, 0);
  EXPECT_EQ(e.Title, u"");
  EXPECT_EQ(e.Description, (std::vector<String>{u"one", u"three"}));
  ParseRdapError("<html>busy</html>", 503, e);
  EXPECT_EQ(e.HttpStatus, 503);
  EXPECT_TRUE(e.Title.empty());
}

class RdapLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rdap.SetCAFile(UTF8ToString(test::NginxServer::CAFile()));
    rdap.SetBootstrap(UTF8ToString(site.Bootstrap()));
    rdap.SetConnectTimeout(5000);
    rdap.SetReadTimeout(10000);
  }
  bool Lookup(const char16_t* query) {
    rdap.SetQuery(query);
    return rdap.Lookup();
  }
  static const TKtRdapEntity* Role(const std::vector<TKtRdapEntity>& list, const char16_t* role) {
    for (const auto& e : list)
      for (const auto& r : e.Roles)
        if (r == role) return &e;
    return nullptr;
  }

  test::RdapSite site;
  TKtRdapClient rdap{nullptr};
};

TEST_F(RdapLookupTest, DomainWithRegistrarAndRegistrant) {
  ASSERT_TRUE(Lookup(u"Example.com")) << UTF8Encode(rdap.LastErrorText());
  EXPECT_EQ(rdap.Status(), isFinished);
  EXPECT_EQ(rdap.ServiceUrl(), UTF8ToString(site.Base()));  // the https URL of the two
  EXPECT_EQ(rdap.AnswerUrl(), UTF8ToString(site.Base() + "domain/example.com"));
  EXPECT_EQ(rdap.RawAnswer(), test::RdapData("domain_example.json"));
  const TKtRdapRecord& r = rdap.Record();
  EXPECT_EQ(r.ObjectClassName, u"domain");
  EXPECT_EQ(r.Handle, u"2336799_DOMAIN_COM-VRSN");
  EXPECT_EQ(r.LdhName, u"EXAMPLE.COM");
  EXPECT_EQ(r.Status.size(), 3u);
  ASSERT_EQ(r.Events.size(), 4u);
  EXPECT_EQ(r.Events[0].Action, u"registration");
  EXPECT_EQ(r.Events[0].DateText, u"1995-08-14T04:00:00Z");
  EXPECT_DOUBLE_EQ(r.Events[0].Date, EncodeDateTime(1995, 8, 14, 4, 0, 0, 0));
  EXPECT_EQ(r.Events[1].Action, u"expiration");

  const TKtRdapEntity* registrar = Role(r.Entities, u"registrar");
  ASSERT_NE(registrar, nullptr);
  EXPECT_EQ(registrar->FullName, u"RESERVED-Internet Assigned Numbers Authority");
  ASSERT_EQ(registrar->PublicIds.size(), 1u);
  EXPECT_EQ(registrar->PublicIds[0].Identifier, u"376");
  const TKtRdapEntity* abuse = Role(registrar->Entities, u"abuse");
  ASSERT_NE(abuse, nullptr);
  EXPECT_EQ(abuse->Emails, std::vector<String>{u"abuse@registrar.example"});
  EXPECT_EQ(abuse->Phones, std::vector<String>{u"+1.3103015800"});

  const TKtRdapEntity* registrant = Role(r.Entities, u"registrant");
  ASSERT_NE(registrant, nullptr);
  EXPECT_EQ(registrant->FullName, u"Joe User");
  EXPECT_EQ(registrant->Organization, u"Example Inc.");
  EXPECT_EQ(registrant->Kind, u"org");
  EXPECT_EQ(registrant->Address, u"Suite 1234, 4321 Rue Somewhere, Quebec, QC, G1V 2M2, Canada");
  ASSERT_EQ(registrant->Events.size(), 1u);
  EXPECT_NEAR(registrant->Events[0].Date, EncodeDateTime(2024, 8, 14, 5, 1, 34, 0), 1e-9);

  ASSERT_EQ(r.Nameservers.size(), 2u);
  EXPECT_EQ(r.Nameservers[0].LdhName, u"A.IANA-SERVERS.NET");
  EXPECT_EQ(r.Nameservers[0].IPv6, std::vector<String>{u"2001:500:8f::53"});
  EXPECT_TRUE(r.HasSecureDNS && r.DelegationSigned);
  ASSERT_EQ(r.Notices.size(), 2u);
  EXPECT_EQ(r.Notices[0].Title, u"Terms of Use");
  EXPECT_EQ(r.Notices[0].Links[0].Href, u"https://www.example.net/terms");
  ASSERT_EQ(r.Links.size(), 2u);
  EXPECT_EQ(r.Links[1].Rel, u"related");
  EXPECT_EQ(r.Port43, u"whois.verisign-grs.com");
  // Sent with the RDAP media type (the registry answers 406 to anything else).
  EXPECT_TRUE(site.first.WaitForAccessLog("\"GET /rdap/domain/example.com HTTP/1.1\" 200"));
}

TEST_F(RdapLookupTest, NetworksAndAutonomousSystems) {
  ASSERT_TRUE(Lookup(u"192.0.2.1")) << UTF8Encode(rdap.LastErrorText());
  const TKtRdapRecord& r = rdap.Record();
  EXPECT_EQ(r.ObjectClassName, u"ip network");
  EXPECT_EQ(r.StartAddress, u"192.0.2.0");
  EXPECT_EQ(r.EndAddress, u"192.0.2.255");
  EXPECT_EQ(r.IPVersion, u"v4");
  EXPECT_EQ(r.Name, u"TEST-NET-1");
  EXPECT_EQ(r.Country, u"US");
  EXPECT_EQ(r.ParentHandle, u"NET-192-0-0-0-0");
  EXPECT_EQ(r.Cidrs, std::vector<String>{u"192.0.2.0/24"});
  EXPECT_NEAR(r.Events.at(0).Date, EncodeDateTime(2010, 1, 4, 14, 0, 0, 0), 1e-9);
  ASSERT_EQ(r.Entities.size(), 1u);
  EXPECT_EQ(r.Entities[0].Address, u"12025 Waterfront Drive\nSuite 300\nLos Angeles\nCA\n90292\nUnited States");

  ASSERT_TRUE(Lookup(u"192.0.2.0/24")) << UTF8Encode(rdap.LastErrorText());
  EXPECT_EQ(rdap.AnswerUrl(), UTF8ToString(site.Base() + "ip/192.0.2.0/24"));

  ASSERT_TRUE(Lookup(u"2001:0db8::1")) << UTF8Encode(rdap.LastErrorText());
  EXPECT_EQ(rdap.Record().IPVersion, u"v6");
  EXPECT_EQ(rdap.Record().Cidrs, std::vector<String>{u"2001:db8::/32"});

  ASSERT_TRUE(Lookup(u"AS64500")) << UTF8Encode(rdap.LastErrorText());
  EXPECT_EQ(rdap.Record().ObjectClassName, u"autnum");
  EXPECT_EQ(rdap.Record().StartAutnum, 64496);
  EXPECT_EQ(rdap.Record().EndAutnum, 64511);
  EXPECT_EQ(rdap.Record().Name, u"AS-DOC");
  ASSERT_EQ(rdap.Record().Entities.size(), 1u);
  EXPECT_EQ(rdap.Record().Entities[0].Roles, (std::vector<String>{u"registrant", u"administrative"}));
}

TEST_F(RdapLookupTest, ErrorAnswersAndMissingServices) {
  EXPECT_FALSE(Lookup(u"nosuch.com"));
  EXPECT_EQ(rdap.Status(), isFailed);
  EXPECT_EQ(rdap.Error().HttpStatus, 404);
  EXPECT_EQ(rdap.Error().ErrorCode, 404);
  EXPECT_EQ(rdap.Error().Title, u"Not Found");
  ASSERT_EQ(rdap.Error().Description.size(), 2u);
  EXPECT_EQ(rdap.Error().Description[0], u"The domain nosuch.com is not registered here.");
  EXPECT_EQ(rdap.LastErrorText(), u"nosuch.com: not found (HTTP 404: Not Found)");
  EXPECT_EQ(rdap.LastHTTPStatus(), 404u);

  EXPECT_FALSE(Lookup(u"busy.com"));
  EXPECT_EQ(rdap.Error().HttpStatus, 503);
  EXPECT_EQ(rdap.Error().Title, u"Service Unavailable");
  EXPECT_TRUE(rdap.Error().Description.empty());
  EXPECT_NE(rdap.LastErrorText().find(u"503"), String::npos);

  // No service in the bootstrap: nothing is sent, and the caller can tell.
  EXPECT_FALSE(Lookup(u"example.de"));
  EXPECT_TRUE(rdap.NoService());
  EXPECT_EQ(rdap.Error().HttpStatus, 0);
  EXPECT_FALSE(Lookup(u"a/b.com"));
  EXPECT_FALSE(rdap.NoService());

  // The server named outright is asked whatever the bootstrap says.
  rdap.SetServer(UTF8ToString(site.SecondBase().substr(0, site.SecondBase().size() - 1)));
  ASSERT_TRUE(Lookup(u"moved.com")) << UTF8Encode(rdap.LastErrorText());
  EXPECT_EQ(rdap.Record().LdhName, u"MOVED.COM");
}

TEST_F(RdapLookupTest, RedirectsAreFollowedWithinLimits) {
  ASSERT_TRUE(Lookup(u"moved.com")) << UTF8Encode(rdap.LastErrorText());
  EXPECT_EQ(rdap.Record().LdhName, u"MOVED.COM");
  EXPECT_EQ(rdap.AnswerUrl(), UTF8ToString(site.SecondBase() + "domain/moved.com"));
  EXPECT_TRUE(site.second.WaitForAccessLog("GET /rdap/domain/moved.com"));

  rdap.SetMaxRedirects(0);
  EXPECT_FALSE(Lookup(u"moved.com"));
  EXPECT_NE(rdap.LastErrorText().find(u"redirects"), String::npos) << UTF8Encode(rdap.LastErrorText());
  rdap.SetMaxRedirects(TKtRdapClient::kDefaultMaxRedirects);

  EXPECT_FALSE(Lookup(u"loop.com"));
  EXPECT_NE(rdap.LastErrorText().find(u"more than 5 redirects"), String::npos) << UTF8Encode(rdap.LastErrorText());

  // Off https to plain http: refused before anything is sent there.
  EXPECT_FALSE(Lookup(u"downgrade.com"));
  EXPECT_NE(rdap.LastErrorText().find(u"plain http"), String::npos) << UTF8Encode(rdap.LastErrorText());
  EXPECT_EQ(site.first.AccessLog().find("\"GET /rdap/domain/example.com"), std::string::npos);

  // Certificates are checked on every hop.
  TKtRdapClient untrusting(nullptr);
  untrusting.SetBootstrap(UTF8ToString(site.Bootstrap()));
  untrusting.SetQuery(u"example.com");
  EXPECT_FALSE(untrusting.Lookup());
  EXPECT_NE(LowerCase(untrusting.LastErrorText()).find(u"certificate"), String::npos)
      << UTF8Encode(untrusting.LastErrorText());
}

TEST_F(RdapLookupTest, HostileAnswersNeverThrow) {
  ASSERT_TRUE(Lookup(u"broken.com")) << UTF8Encode(rdap.LastErrorText());
  const TKtRdapRecord& r = rdap.Record();
  EXPECT_EQ(r.ObjectClassName, u"");
  EXPECT_EQ(r.Handle, u"");
  EXPECT_EQ(r.LdhName, u"BROKEN.COM");
  EXPECT_TRUE(r.Status.empty());
  ASSERT_EQ(r.Entities.size(), 2u);
  EXPECT_TRUE(r.Entities[0].Roles.empty());
  EXPECT_EQ(r.Entities[1].FullName, u"Ann Lee");
  ASSERT_EQ(r.Events.size(), 1u);
  EXPECT_EQ(r.Events[0].DateText, u"yesterday");
  EXPECT_EQ(r.Events[0].Date, 0);
  ASSERT_EQ(r.Nameservers.size(), 1u);
  EXPECT_TRUE(r.Nameservers[0].IPv4.empty());
  EXPECT_EQ(r.StartAutnum, -1);
  EXPECT_FALSE(r.HasSecureDNS);

  // A body over MaxSize is refused, not held.
  rdap.SetMaxSize(1000);
  EXPECT_FALSE(Lookup(u"example.com"));
  EXPECT_NE(rdap.LastErrorText().find(u"1000"), String::npos) << UTF8Encode(rdap.LastErrorText());
}

TEST_F(RdapLookupTest, BootstrapFilesReplaceTheSnapshot) {
  // One file named: it serves its registry; the others come from the snapshot.
  test::TempDir dir;
  const std::string one = dir.Write("mine.json", test::ReadFileBytes(site.Bootstrap() + "/asn.json"));
  rdap.SetBootstrap(UTF8ToString(one));
  ASSERT_TRUE(Lookup(u"64500")) << UTF8Encode(rdap.LastErrorText());
  EXPECT_FALSE(Lookup(u"nosuch.invalid"));
  EXPECT_TRUE(rdap.NoService());
  EXPECT_EQ(rdap.BootstrapFiles().Find(Q(u"example.com")), u"https://rdap.verisign.com/com/v1/");

  const std::string broken = dir.Write("broken.json", "{\"services\": 5}");
  rdap.SetBootstrap(UTF8ToString(broken));
  EXPECT_FALSE(Lookup(u"example.com"));
  EXPECT_NE(rdap.LastErrorText().find(u"broken.json"), String::npos) << UTF8Encode(rdap.LastErrorText());
  rdap.SetBootstrap(UTF8ToString(dir / "missing.json"));
  EXPECT_FALSE(Lookup(u"example.com"));
  EXPECT_NE(rdap.LastErrorText().find(u"missing.json"), String::npos);

  // A fresh set from a registry's folder: checked, then written whole.
  test::TempDir cache;
  const std::string folder = cache / "sub/rdap";
  rdap.SetBootstrapSource(UTF8ToString("https://127.0.0.1:" + std::to_string(site.second.Port()) + "/iana"));
  EXPECT_FALSE(rdap.UpdateBootstrap(UTF8ToString(folder)));  // the folder there is empty: 404
  EXPECT_NE(rdap.LastErrorText().find(u"dns.json: HTTP 404"), String::npos) << UTF8Encode(rdap.LastErrorText());
  EXPECT_FALSE(DirectoryExists(UTF8ToString(folder)));

  test::NginxServer::Options o;
  o.https = true;
  for (const char* name : {"dns.json", "ipv4.json", "ipv6.json", "asn.json"})
    o.files.push_back({std::string("iana/") + name, test::ReadFileBytes(site.Bootstrap() + "/" + name)});
  o.files.push_back({"bad/dns.json", test::ReadFileBytes(site.Bootstrap() + "/dns.json")});
  o.files.push_back({"bad/ipv4.json", "<html>maintenance</html>"});
  test::NginxServer iana(o);
  const std::string source = "https://127.0.0.1:" + std::to_string(iana.Port());
  rdap.SetBootstrapSource(UTF8ToString(source + "/iana/"));
  ASSERT_TRUE(rdap.UpdateBootstrap(UTF8ToString(folder))) << UTF8Encode(rdap.LastErrorText());
  for (const char* name : {"dns.json", "ipv4.json", "ipv6.json", "asn.json"})
    EXPECT_EQ(test::ReadFileBytes(folder + "/" + name), test::ReadFileBytes(site.Bootstrap() + "/" + name)) << name;

  rdap.SetBootstrapSource(UTF8ToString(source + "/bad"));
  EXPECT_FALSE(rdap.UpdateBootstrap(UTF8ToString(folder)));
  EXPECT_NE(rdap.LastErrorText().find(u"ipv4.json"), String::npos) << UTF8Encode(rdap.LastErrorText());
  EXPECT_EQ(test::ReadFileBytes(folder + "/dns.json"), test::ReadFileBytes(site.Bootstrap() + "/dns.json"));

  rdap.SetBootstrap(UTF8ToString(folder));
  ASSERT_TRUE(Lookup(u"example.com")) << UTF8Encode(rdap.LastErrorText());
}

}  // namespace
}  // namespace ktinet
