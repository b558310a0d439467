#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "protocols/KtWhoIs.h"
#include "protocols/WhoisServers.h"
#include "support/ScriptedServer.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

struct TestWhoIs : TKtWhoIs {
  using TKtWhoIs::TKtWhoIs;
  using TKtWhoIs::GetQuery;
};

const std::string kHeaderBlock = "Proxy-Connection: Keep-Alive\r\n\r\n";

// A registry's answer in the thin-registry style: the record and the registrar's own server.
std::string RegistryAnswer(const std::string& referral) {
  return "   Domain Name: EXAMPLE.COM\r\n"
         "   Registry Domain ID: 2336799_DOMAIN_COM-VRSN\r\n" +
         referral +
         "   Registrar URL: http://www.iana.org\r\n"
         "   Creation Date: 1995-08-14T04:00:00Z\r\n"
         "   Name Server: A.IANA-SERVERS.NET\r\n"
         ">>> Last update of whois database: 2026-12-07T07:00:00Z <<<\r\n";
}

TEST(WhoIs, ServerTableHasItsShapeAndOrder) {
  TKtWhoIs w(nullptr);
  TStrings* t = w.ServerList();
  ASSERT_EQ(t->Count(), 149);
  EXPECT_EQ(t->Get(0), u"*=whois.ripe.net");
  EXPECT_EQ(w.Port(), 43);
  EXPECT_TRUE(w.AutoSelectServer());

  std::vector<String> keys, oneLabel;
  std::set<String> hosts;
  for (int i = 1; i < t->Count(); ++i) {
    keys.push_back(t->Names(i));
    EXPECT_FALSE(t->ValueFromIndex(i).empty()) << UTF8Encode(t->Get(i));
    hosts.insert(t->ValueFromIndex(i));
    if (keys.back().find(u'.') == String::npos) oneLabel.push_back(keys.back());
  }
  EXPECT_EQ(std::set<String>(keys.begin(), keys.end()).size(), 148u) << "duplicate keys";
  const std::vector<String> expectedOneLabel = {
      u"ac", u"ae", u"aero", u"af", u"ag", u"am", u"as", u"asia", u"at", u"au", u"be", u"bg", u"bi", u"biz",
      u"bj", u"br", u"bt", u"bz", u"ca", u"cat", u"cc", u"cd", u"ch", u"ck", u"cl", u"cn", u"co", u"com",
      u"coop", u"cx", u"cz", u"de", u"dk", u"dm", u"dz", u"edu", u"ee", u"eu", u"fi", u"fo", u"fr", u"gl",
      u"gov", u"gs", u"hk", u"hm", u"hn", u"hu", u"ie", u"il", u"in", u"info", u"int", u"io", u"iq", u"ir",
      u"is", u"it", u"je", u"jobs", u"jp", u"ke", u"kg", u"kr", u"la", u"li", u"lt", u"lu", u"lv", u"ly",
      u"ma", u"md", u"me", u"mil", u"mobi", u"ms", u"mu", u"mx", u"my", u"name", u"net", u"nf", u"ng", u"nl",
      u"no", u"nu", u"nz", u"org", u"pl", u"pr", u"pro", u"pt", u"ro", u"ru", u"sa", u"sb", u"sc", u"se",
      u"sg", u"sh", u"si", u"sk", u"sm", u"st", u"su", u"tc", u"tel", u"tf", u"th", u"tj", u"tk", u"tl",
      u"tm", u"to", u"tp", u"tr", u"travel", u"tw", u"tv", u"tz", u"ua", u"uk", u"us", u"uy", u"uz", u"vc",
      u"ve", u"vg", u"ws", u"xxx"};
  EXPECT_EQ(oneLabel, expectedOneLabel);
  EXPECT_EQ(keys.size() - oneLabel.size(), 18u);

  // Alphabetical apart from three keys, each of which sits right after its neighbours.
  auto at = [&](const String& k) { return std::find(keys.begin(), keys.end(), k) - keys.begin(); };
  EXPECT_EQ(at(u"qc.com"), at(u"gb.net") + 1);
  EXPECT_EQ(at(u"tv"), at(u"tw") + 1);
  EXPECT_EQ(at(u"gov.uk"), at(u"uk.net") + 1);
  std::vector<String> rest;
  for (const String& k : keys)
    if (k != u"qc.com" && k != u"tv" && k != u"gov.uk") rest.push_back(k);
  EXPECT_TRUE(std::is_sorted(rest.begin(), rest.end()));
  int centralnic = 0;
  for (int i = 1; i < t->Count(); ++i)
    if (t->ValueFromIndex(i) == u"whois.centralnic.com") ++centralnic;
  EXPECT_EQ(centralnic, 16);
}

TEST(WhoIs, DomainChoosesTheServerOfItsLastLabel) {
  TestWhoIs w(nullptr);
  w.SetDomain(u"example.de");
  EXPECT_EQ(w.Host(), u"whois.denic.de");
  w.SetDomain(u"EXAMPLE.DE");  // table keys compare without regard to case
  EXPECT_EQ(w.Host(), u"whois.denic.de");
  w.SetDomain(u"example.zz");  // unknown label: the "*" line
  EXPECT_EQ(w.Host(), u"whois.ripe.net");
  w.SetDomain(u"shop.gb.net");  // two-label keys are never chosen: the last label decides
  EXPECT_EQ(w.Host(), u"whois.verisign-grs.com");
  w.SetDomain(u"example.qc");  // "qc" exists only inside "qc.com"
  EXPECT_EQ(w.Host(), u"whois.ripe.net");
  w.SetDomain(u"example.de.");  // trailing dot: empty suffix
  EXPECT_EQ(w.Host(), u"whois.ripe.net");
  w.SetDomain(u"com");  // no dot: the whole text is the suffix
  EXPECT_EQ(w.Host(), u"whois.verisign-grs.com");

  // An address goes to the fallback server, asked with the bare text; a name gets the keyword.
  w.SetDomain(u"10.1.2.3");
  EXPECT_EQ(w.Host(), u"whois.ripe.net");
  EXPECT_EQ(w.GetQuery(), u"10.1.2.3\r\n");
  w.SetDomain(u"1.2.3.4.5");  // not an address: suffix "5" is unknown, the "*" line's server
  EXPECT_EQ(w.Host(), u"whois.ripe.net");
  w.SetDomain(u"1.2.3");
  EXPECT_EQ(w.Host(), u"whois.ripe.net");
  w.SetDomain(u"1.2.3.de");
  EXPECT_EQ(w.Host(), u"whois.denic.de");
  EXPECT_EQ(w.GetQuery(), u"domain 1.2.3.de\r\n");
  w.SetDomain(u"256.1.1.1");
  EXPECT_EQ(w.Host(), u"whois.ripe.net");  // label "1" unknown
  EXPECT_EQ(w.GetQuery(), u"256.1.1.1\r\n") << "the fallback host always gets the bare query";
}

TEST(WhoIs, ServerChoiceHappensOnlyWhenDomainChanges) {
  TestWhoIs w(nullptr);
  w.SetDomain(u"example.nl");
  w.SetHost(u"whois.example.test");
  w.SetDomain(u"example.nl");  // same value: the hand-set host stays
  EXPECT_EQ(w.Host(), u"whois.example.test");
  EXPECT_EQ(w.GetQuery(), u"domain example.nl\r\n");

  w.SetAutoSelectServer(false);
  w.SetDomain(u"example.fr");
  EXPECT_EQ(w.Host(), u"whois.example.test");
  EXPECT_EQ(w.GetQuery(), u"domain example.fr\r\n");
  w.SetDomain(u"");
  EXPECT_EQ(w.Host(), u"whois.example.test");

  // Without the "*" line an unknown label falls back to the RIPE server; a changed "*" line wins.
  w.SetAutoSelectServer(true);
  w.ServerList()->Delete(0);
  w.SetDomain(u"example.zz");
  EXPECT_EQ(w.Host(), u"whois.ripe.net");
  w.ServerList()->Insert(0, u"*=whois.default.test");
  w.SetDomain(u"example.yy");
  EXPECT_EQ(w.Host(), u"whois.default.test");
  // A table value that is an address lands in Address; the "*" line then takes over Host.
  w.ServerList()->Add(u"zz=192.0.2.7");
  w.SetDomain(u"other.zz");
  EXPECT_EQ(w.Host(), u"whois.default.test");
  EXPECT_EQ(w.Address(), u"");

  TStringList mine;
  mine.Add(u"de=whois.mine.test");
  w.SetServerList(&mine);
  EXPECT_EQ(w.ServerList()->Count(), 1);
  w.SetDomain(u"x.de");
  EXPECT_EQ(w.Host(), u"whois.mine.test");
}

TEST(WhoIs, ExecuteSendsTheQueryAndReturnsTheRecord) {
  ScriptedServer server;
  const std::string answer = "% banner of the fake registry\r\n" + RegistryAnswer("");
  server.Add(Script().ReadUntil("\r\n\r\n").Send(answer));
  TKtWhoIs w(nullptr);
  w.SetDomain(u"example.com");
  w.SetHost(u"127.0.0.1");
  w.SetPort(server.Port());
  String seen;
  w.SetOnAfterExecute([&](TObject*, String& text) { seen = text; });
  String result = w.Execute();
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(server.Received(0), "domain example.com\r\n" + kHeaderBlock);
  EXPECT_EQ(StringToBytes(result), answer);
  EXPECT_EQ(seen, result);
  EXPECT_TRUE(w.LastError().empty());
}

// WHOIS servers on one port at different loopback addresses, standing for different hosts that
// all listen on the WHOIS port: referrals are followed only to that port.
std::vector<std::unique_ptr<ScriptedServer>> ServersOnOnePort(int count) {
  std::vector<std::unique_ptr<ScriptedServer>> servers;
  servers.push_back(std::make_unique<ScriptedServer>());
  for (int i = 1; i < count; ++i) {
    ScriptedServer::Options o;
    o.address4 = "127.0.0." + std::to_string(i + 1);
    o.port = servers[0]->Port();
    servers.push_back(std::make_unique<ScriptedServer>(o));
  }
  return servers;
}

TEST(WhoIs, ReferralsAreFollowedOnlyWhenAsked) {
  // registry -> registrar -> reseller; the reseller points back at the registry, which was asked.
  auto servers = ServersOnOnePort(3);
  ScriptedServer &registry = *servers[0], &registrar = *servers[1], &reseller = *servers[2];
  const std::string port = std::to_string(registry.Port());
  const std::string registryText = RegistryAnswer("   Registrar WHOIS Server: whois://127.0.0.2\r\n");
  const std::string registrarText = "Domain Name: example.com\r\nRegistrar: Fake Registrar\r\n"
                                    "Registrar WHOIS Server: whois://127.0.0.2:" + port +
                                    "\r\nReferralServer: rwhois://rwhois.example.test:4321\r\n"
                                    "ReferralServer: whois://127.0.0.3:" + port + "\r\n";
  const std::string resellerText = "Registrant Name: Example Holder\nwhois: 127.0.0.1\n";

  {
    registry.Add(Script().ReadUntil("\r\n\r\n").Send(registryText));
    TKtWhoIs w(nullptr);
    w.SetDomain(u"example.com");
    w.SetHost(u"127.0.0.1");
    w.SetPort(registry.Port());
    w.SetReferralPort(registry.Port());
    EXPECT_EQ(StringToBytes(w.Execute()), registryText) << "off by default";
    EXPECT_EQ(registrar.ConnectionCount(), 0u);
  }

  registry.Add(Script().ReadUntil("\r\n\r\n").Send(registryText));
  registrar.Add(Script().ReadUntil("\r\n\r\n").Send(registrarText));
  reseller.Add(Script().ReadUntil("\r\n\r\n").Send(resellerText));
  TKtWhoIs w(nullptr);
  EXPECT_EQ(w.ReferralPort(), 43);
  w.SetDomain(u"example.com");
  w.SetHost(u"127.0.0.1");
  w.SetPort(registry.Port());
  w.SetReferralPort(registry.Port());
  w.SetFollowReferrals(true);
  String seen;
  w.SetOnAfterExecute([&](TObject*, String& text) { seen = text; });
  std::string chain = StringToBytes(w.Execute());
  ASSERT_TRUE(reseller.WaitDone(1));
  EXPECT_EQ(registry.Received(1), "domain example.com\r\n" + kHeaderBlock);
  EXPECT_EQ(registrar.Received(0), "example.com\r\n" + kHeaderBlock);
  EXPECT_EQ(reseller.Received(0), "example.com\r\n" + kHeaderBlock);
  EXPECT_EQ(chain, registryText + "\r\n==== Referral to 127.0.0.2:" + port + " ====\r\n\r\n" + registrarText +
                       "\r\n==== Referral to 127.0.0.3:" + port + " ====\r\n\r\n" + resellerText);
  EXPECT_EQ(StringToBytes(seen), chain) << "the event sees the whole chain";
  EXPECT_EQ(registry.ConnectionCount(), 2u) << "a server already asked is not asked again";
  EXPECT_EQ(w.Address(), u"127.0.0.1");
  EXPECT_EQ(w.Port(), registry.Port()) << "the next Execute starts at the chosen server again";
}

TEST(WhoIs, LineBreaksInTheDomainAreRefusedBeforeSending) {
  ScriptedServer server;
  server.SetDefault(Script().ReadUntilClose());
  TKtWhoIs w(nullptr);
  w.SetAutoSelectServer(false);
  w.SetHost(u"127.0.0.1");
  w.SetPort(server.Port());
  for (const String& domain : {String(u"example.com\r\nsecond query"), String(u"a\nb"), String(u"a\0b", 3)}) {
    w.SetDomain(domain);
    String result = w.Execute();
    EXPECT_NE(result.find(u"The domain holds"), String::npos) << UTF8Encode(result);
    EXPECT_EQ(w.LastError(), result);
  }
  w.Disconnect();
  server.Stop();
  for (size_t i = 0; i < server.ConnectionCount(); ++i) EXPECT_EQ(server.Received(i), "");
}

TEST(WhoIs, ReferralsToAnotherPortAreNotFollowed) {
  ScriptedServer registry, elsewhere;
  elsewhere.SetDefault(Script().ReadUntil("\r\n").Send("should not be asked\r\n"));
  const std::string text = "record\r\nrefer: whois://127.0.0.1:" + std::to_string(elsewhere.Port()) + "\r\n";
  registry.Add(Script().ReadUntil("\r\n\r\n").Send(text));
  registry.Add(Script().ReadUntil("\r\n\r\n").Send(text));
  TKtWhoIs w(nullptr);
  w.SetDomain(u"example.com");
  w.SetHost(u"127.0.0.1");
  w.SetPort(registry.Port());
  w.SetFollowReferrals(true);
  EXPECT_EQ(StringToBytes(w.Execute()), text) << "the default: only port 43";
  w.SetReferralPort(registry.Port());
  EXPECT_EQ(StringToBytes(w.Execute()), text) << "nor any port but the referral port";
  EXPECT_EQ(elsewhere.ConnectionCount(), 0u);

  String host;
  int port = 0;
  EXPECT_TRUE(FindWhoisReferral(u"ReferralServer: whois://whois.example.net:43\r\n", {}, host, port));
  EXPECT_EQ(port, 43);
  EXPECT_FALSE(FindWhoisReferral(u"ReferralServer: whois://whois.example.net:4343\r\n", {}, host, port));
  EXPECT_FALSE(FindWhoisReferral(u"ReferralServer: whois://127.0.0.1:25\r\nrefer: x:80\r\n", {}, host, port));
}

TEST(WhoIs, ReferralChainStopsAfterThreeHopsOrAFailedOne) {
  auto servers = ServersOnOnePort(5);
  for (int i = 0; i < 4; ++i)
    servers[i]->Add(Script().ReadUntil("\r\n\r\n").Send("record " + std::to_string(i) + "\r\nrefer: whois://127.0.0." +
                                                        std::to_string(i + 2) + "\r\n"));
  TKtWhoIs w(nullptr);
  w.SetFollowReferrals(true);
  w.SetDomain(u"example.com");
  w.SetHost(u"127.0.0.1");
  w.SetPort(servers[0]->Port());
  w.SetReferralPort(servers[0]->Port());
  std::string chain = StringToBytes(w.Execute());
  EXPECT_NE(chain.find("record 3"), std::string::npos);
  EXPECT_EQ(servers[4]->ConnectionCount(), 0u);
  size_t markers = 0;
  for (size_t p = 0; (p = chain.find("==== Referral to", p)) != std::string::npos; ++p) ++markers;
  EXPECT_EQ(markers, 3u);

  // A referral to a server that cannot be reached ends the chain with the reason, not an error.
  ScriptedServer first;
  first.Add(Script().ReadUntil("\r\n\r\n").Send("record\r\nrefer: 127.0.0.9\r\n"));
  w.SetPort(first.Port());
  w.SetReferralPort(first.Port());
  w.SetReadTimeout(5000);
  chain = StringToBytes(w.Execute());
  EXPECT_EQ(chain.rfind("record\r\n", 0), 0u);
  EXPECT_NE(chain.find("\r\n% "), std::string::npos) << chain;
  EXPECT_TRUE(w.LastError().empty());
}

TEST(WhoIs, FindWhoisReferralReadsTheKnownLineForms) {
  String host;
  int port = 0;
  EXPECT_TRUE(FindWhoisReferral(u"% IANA WHOIS server\nrefer:        whois.verisign-grs.com\n", {}, host, port));
  EXPECT_EQ(host, u"whois.verisign-grs.com");
  EXPECT_EQ(port, 43);
  EXPECT_TRUE(FindWhoisReferral(u"   Registrar WHOIS Server: whois.markmonitor.com\r\n", {}, host, port));
  EXPECT_EQ(host, u"whois.markmonitor.com");
  EXPECT_TRUE(FindWhoisReferral(u"ReferralServer:  whois://whois.ripe.net\r\n", {}, host, port));
  EXPECT_EQ(host, u"whois.ripe.net");
  EXPECT_FALSE(FindWhoisReferral(u"ReferralServer: rwhois://rwhois.example.net:4321\r\n", {}, host, port));
  EXPECT_FALSE(FindWhoisReferral(u"Registrar WHOIS Server: \r\nRegistrar URL: http://x\r\n", {}, host, port));
  EXPECT_FALSE(FindWhoisReferral(u"whois: whois.nic.fr\n", {u"whois.nic.fr:43"}, host, port));
  EXPECT_TRUE(FindWhoisReferral(u"whois: WHOIS.NIC.FR\nrefer: whois.other.test\n", {u"whois.nic.fr:43"}, host, port));
  EXPECT_EQ(host, u"whois.other.test") << "a server already asked is passed over, case and all";
}

TEST(WhoIs, InternationalisedNamesGoOutInTheirAsciiForm) {
  // Samples of RFC 3492, section 7.1, and well-known names.
  EXPECT_EQ(PunycodeEncode(U"b\u00fccher"), "bcher-kva");
  EXPECT_EQ(PunycodeEncode(U"m\u00fcnchen"), "mnchen-3ya");
  EXPECT_EQ(PunycodeEncode(U"\u4ed6\u4eec\u4e3a\u4ec0\u4e48\u4e0d\u8bf4\u4e2d\u6587"), "ihqwcrb4cv8a8dqg056pqjye");
  EXPECT_EQ(PunycodeEncode(U"3\u5e74B\u7d44\u91d1\u516b\u5148\u751f"), "3B-ww4c5e180e575a65lsy2b");
  EXPECT_EQ(PunycodeEncode(U"\U0001F600"), "e28h");
  EXPECT_EQ(DomainToAscii(u"B\u00fccher.Example"), u"xn--bcher-kva.Example");
  EXPECT_EQ(DomainToAscii(u"\u043f\u0440\u0438\u043c\u0435\u0440\u3002\u0420\u0424"), u"xn--e1afmkfd.xn--p1ai");
  EXPECT_EQ(DomainToAscii(u"plain.example"), u"plain.example");

  TestWhoIs w(nullptr);
  w.SetDomain(u"b\u00fccher.de");
  EXPECT_EQ(w.Host(), u"whois.denic.de");
  EXPECT_EQ(w.GetQuery(), u"domain b\u00fccher.de\r\n") << "unchanged unless asked";
  w.SetConvertIDN(true);
  EXPECT_EQ(w.GetQuery(), u"domain xn--bcher-kva.de\r\n");
}

}  // namespace
}  // namespace ktinet
