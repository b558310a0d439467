// The trackers of the build for host version 10 against loopback servers: the FedEx tracking page
// fetched over the socket core (exact request bytes, the proxy form, the page turned into lines)
// and the UPS POST over verified HTTPS to the carriers' stand-in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "design/KtInetPkg.h"
#include "rtl/DateTime.h"
#include "rtl/TypInfo.h"
#include "services/KtIFedEx.h"
#include "services/KtIUPS.h"
#include "support/FakeServices.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "vcl/ScriptedBackend.h"
#include "vcl/UiBackend.h"

namespace ktinet {
namespace {

using test::FakeServices;
using test::Script;
using test::ScriptedServer;

std::string DataFile(const std::string& name) {
  return test::ReadFileBytes(std::string(KTINET_SOURCE_DIR) + "/tests/services/data/" + name);
}

std::vector<String> Lines(const TStrings& list) {
  std::vector<String> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

std::vector<String> PropertyNames(const TClassInfo* info) {
  std::vector<String> out;
  for (const TPropInfo& p : info->OwnProperties()) out.push_back(p.Name);
  return out;
}

const std::string kTrackingPath =
    "/cgi-bin/tracking?template_type=plugin&action=track&language=english&cntry_code=us&tracknumbers=";

// A tracking page with both sections: label and value rows (one with an empty first cell, one
// laid out over several indented lines, entities, equals signs in the text) and three-cell scans.
const std::string kPage =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
    "<html><body><h1>Track shipments</h1>\r\n"
    "<!-- shipment info -->\r\n"
    "<table>\r\n"
    "  <tr><td>Tracking number</td><td>7946 1234</td></tr>\r\n"
    "  <tr><td></td><td>Continued   value</td></tr>\r\n"
    "  <tr>\r\n"
    "     <td>Ship date</td>\r\n"
    "     <td>Dec 1, 2026   </td>\r\n"
    "  </tr>\r\n"
    "  <tr><td>Signed for by</td><td>Smith &lt;front door&gt;</td></tr>\r\n"
    "  <tr><td>Weight==</td><td>=5 lbs</td></tr>\r\n"
    "</table>\r\n"
    "<!-- BEGIN Scan Activity -->\r\n"
    "<table><tr><td>Dec 3, 2026 10:15 am</td><td>Delivered</td><td>ANYTOWN, GA</td></tr>\r\n"
    "<tr><td>Dec 1, 2026 5:00 pm</td><td>Picked up</td><td>TIMONIUM, MD</td></tr></table>\r\n"
    "<!-- END Scan Activity -->\r\n"
    "</body></html>\r\n";

TEST(LegacyPackage, NamesItsHostVersion) {
  EXPECT_EQ(PackageName(), u"KtInetRX10");
  EXPECT_EQ(HostVersion(), u"10");
  EXPECT_TRUE(HasLegacyTrackers());
}

TEST(LegacyModel, SixPartAddressActivitiesAndPublishedProperties) {
  TKtInetActivityAddress a;
  a.SetAddressLine1(u"2311 York Rd");
  a.SetCity(u"Timonium");
  a.SetCountry(u"US");
  EXPECT_EQ(a.Text(), u"2311 York Rd Timonium US");
  TKtInetActivityAddress b;
  b.Assign(&a);
  EXPECT_EQ(b.Text(), a.Text());

  TKtUPSTracker owner(nullptr);
  TKtInetActivity* first = owner.Activities()->Add();
  TKtInetActivity* second = owner.Activities()->Add();
  first->SetStatusCode(u"KB");
  first->SetLocation(&a);
  owner.Activities()->SetItems(1, first);
  EXPECT_EQ(second->StatusCode(), u"KB");
  EXPECT_EQ(second->Location()->Text(), a.Text());
  EXPECT_NE(second->Location(), first->Location());
  EXPECT_THROW(second->Assign(&a), EConvertError);
  EXPECT_EQ(owner.Activities()->UpdateCount(), 0);

  EXPECT_EQ(PropertyNames(TKtInetActivityAddress::StaticClassInfo()),
            (std::vector<String>{u"AddressLine1", u"AddressLine2", u"AddressLine3", u"City", u"PostalCode", u"Country"}));
  EXPECT_EQ(PropertyNames(TKtInetActivity::StaticClassInfo()).size(), 8u);
  const TClassInfo* ups = TKtUPSTracker::StaticClassInfo();
  EXPECT_EQ(PropertyNames(ups), (std::vector<String>{u"AccessLicenseNumber", u"TrackingNumber", u"LastXMLResponse",
                                                     u"IgnoreCertificateErrors", u"CAFile"}));
  EXPECT_TRUE(ups->FindProperty(u"LastXMLResponse")->IsReadOnly());
  EXPECT_TRUE(ups->InheritsFrom(u"TKtCustomWebComponent"));
  EXPECT_EQ(ups->FindProperty(u"LastXMLRequest"), nullptr);
  const TClassInfo* fedex = TKtFedExTracker::StaticClassInfo();
  EXPECT_EQ(PropertyNames(fedex), std::vector<String>{u"TrackingNumber"});
  EXPECT_TRUE(fedex->InheritsFrom(u"TKtInetBase"));
}

TEST(LegacyFedEx, RequestBytesDirectAndThroughProxy) {
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nno sections"));
  TKtFedExTracker fedex(nullptr);
  EXPECT_EQ(fedex.Port(), 80);
  EXPECT_EQ(fedex.Host(), u"www.fedex.com");
  fedex.SetHost(u"127.0.0.1");
  fedex.SetPort(server.Port());
  // Only blanks are encoded; everything else goes into the target as it is.
  fedex.SetTrackingNumber(u"7946 12  A/B?x&y%");
  bool afterEvent = false;
  fedex.SetOnAfterExecute([&](TObject*, String&) { afterEvent = true; });
  EXPECT_EQ(fedex.Execute(), u"HTTP/1.0 200 OK\r\n\r\nno sections");
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(server.Received(0), "GET " + kTrackingPath + "7946%2012%20%20A/B?x&y%   HTTP/1.0\r\n"
                                "Host: www.fedex.com\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_FALSE(afterEvent);  // the answer step replaces the event

  // Through a proxy the target is the page's absolute address.
  ScriptedServer proxy;
  proxy.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n"));
  TKtFedExTracker viaProxy(nullptr);
  viaProxy.SetLoginPrompt(false);
  viaProxy.Proxy()->SetUseProxy(true);
  viaProxy.Proxy()->SetServer(u"127.0.0.1");
  viaProxy.Proxy()->SetPort(proxy.Port());
  viaProxy.SetTrackingNumber(u"123 456");
  viaProxy.Execute();
  ASSERT_TRUE(proxy.WaitDone(1));
  EXPECT_EQ(proxy.Received(0), "GET http://www.fedex.com" + kTrackingPath + "123%20456   HTTP/1.0\r\n"
                               "Host: www.fedex.com\r\n\r\n");
}

TEST(LegacyFedEx, PageSectionsBecomeLines) {
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send(kPage));
  TKtFedExTracker fedex(nullptr);
  fedex.SetHost(u"127.0.0.1");
  fedex.SetPort(server.Port());
  fedex.SetTrackingNumber(u"79461234");
  EXPECT_EQ(StringToBytes(fedex.Execute()), kPage);

  EXPECT_EQ(Lines(*fedex.ShipmentInfo()), (std::vector<String>{
                                              u"Tracking number=7946 1234",
                                              u"Continued value",  // an empty first cell adds no "="
                                              u"Ship date=Dec 1, 2026",
                                              u"Signed for by=Smith <front door>",
                                              u"Weight=5 lbs",  // runs of "=" become one
                                          }));
  EXPECT_EQ(fedex.ShipmentInfo()->Values(u"Tracking number"), u"7946 1234");
  EXPECT_EQ(Lines(*fedex.Activity()), (std::vector<String>{u"Dec 3, 2026 10:15 am=Delivered=ANYTOWN, GA",
                                                          u"Dec 1, 2026 5:00 pm=Picked up=TIMONIUM, MD"}));
}

TEST(LegacyFedEx, PageToTextRules) {
  // Blanks before blanks, line breaks and tags go; one blank between words stays; only lower-case
  // cell and row tags count, and a row tag with attributes ends no line.
  EXPECT_EQ(TKtFedExTracker::PageToText(u"<td>a \t b</td>\t<td>c</td>"), u"a b=c=");
  EXPECT_EQ(TKtFedExTracker::PageToText(u"<TD>a</TD><td>b</td><TR>"), u"ab=");
  EXPECT_EQ(TKtFedExTracker::PageToText(u"<td>a</td><tr class=x><td>b</td></tr>"), u"a=b\r\n");
  EXPECT_EQ(TKtFedExTracker::PageToText(u"x\r\ny &quot;z&quot; ="), u"xy \"z\" =");
  EXPECT_EQ(TKtFedExTracker::PageToText(u"</tr><td></td>"), u"");
}

TEST(LegacyFedEx, ListsLastUntilTheNextRequestAndNeedTheMarkers) {
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send(kPage));
  // Only the shipment section is framed; the scan section has no end.
  server.Add(Script().ReadUntil("\r\n\r\n").Send(
      "HTTP/1.0 200 OK\r\n\r\n<!-- shipment info --><tr><td>Status</td><td>In transit</td></tr>"
      "<!-- BEGIN Scan Activity --><tr><td>x</td></tr>"));
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n<html>The page has moved.</html>"));
  TKtFedExTracker fedex(nullptr);
  fedex.SetHost(u"127.0.0.1");
  fedex.SetPort(server.Port());
  fedex.SetTrackingNumber(u"1");
  fedex.Execute();
  ASSERT_EQ(fedex.ShipmentInfo()->Count(), 5);
  fedex.SetTrackingNumber(u"2");
  EXPECT_EQ(fedex.ShipmentInfo()->Count(), 5);
  EXPECT_EQ(fedex.Activity()->Count(), 2);

  fedex.Execute();
  EXPECT_EQ(Lines(*fedex.ShipmentInfo()), std::vector<String>{u"Status=In transit"});
  EXPECT_EQ(fedex.Activity()->Count(), 0);

  fedex.Execute();
  EXPECT_EQ(fedex.ShipmentInfo()->Count(), 0);
  EXPECT_EQ(fedex.Activity()->Count(), 0);
  EXPECT_EQ(server.ConnectionCount(), 3u);
}

TEST(LegacyFedEx, ErrorAnswerLeavesNoStaleConnection) {
  ScriptedServer server;
  // The refused request's connection stays open with the rest of its page unread.
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 404 Not Found\r\n\r\n").Stall(3000).Send("rest of it"));
  server.Add(Script().ReadUntil("\r\n\r\n").Send(kPage));
  TKtFedExTracker fedex(nullptr);
  fedex.SetHost(u"127.0.0.1");
  fedex.SetPort(server.Port());
  fedex.SetTrackingNumber(u"1");
  EXPECT_EQ(fedex.Execute(), u"File not found");
  EXPECT_TRUE(fedex.Connected());
  fedex.Execute();
  EXPECT_EQ(fedex.ShipmentInfo()->Count(), 5);
  EXPECT_EQ(server.ConnectionCount(), 2u);
}

// Unattended runs answer any box with Cancel.
struct QuietUi {
  TBackendScope scope{std::make_unique<HeadlessBackend>(nullptr)};
};

// The UPS tracker with the parse in reach, counting parses.
class UpsProbe : public TKtUPSTracker {
 public:
  using TKtUPSTracker::TKtUPSTracker;
  int Parses = 0;

 protected:
  void ParseXMLResponse() override {
    ++Parses;
    TKtUPSTracker::ParseXMLResponse();
  }
};

TEST(LegacyUps, PostsOverHttpsWhateverTheService) {
  QuietUi quiet;
  FakeServices fake;
  UpsProbe ups(nullptr);
  EXPECT_EQ(ups.Service(), isHTTPS);
  EXPECT_EQ(ups.Port(), 443);
  EXPECT_EQ(ups.Host(), u"onlinetools.ups.com");
  EXPECT_EQ(ups.Agent(), u"Ardenfold Tracker");
  EXPECT_EQ(ups.AccessLicenseNumber(), u"9D27C0B5E1F4A368");
  EXPECT_FALSE(ups.IgnoreCertificateErrors());
  ups.SetService(isHTTP);
  ups.SetHost(u"127.0.0.1");
  ups.SetPort(static_cast<Word>(fake.Port()));
  ups.SetCAFile(UTF8ToString(fake.CAFile()));
  ups.SetTrackingNumber(u"1Z999");
  ASSERT_TRUE(ups.Execute()) << UTF8Encode(ups.LastXMLResponse());
  EXPECT_EQ(ups.Status(), isFinished);

  auto requests = fake.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/ups.app/xml/Track");
  int contentTypes = 0;
  for (const auto& [name, value] : r.headers)
    if (name == "Content-Type") ++contentTypes;
  EXPECT_EQ(contentTypes, 1);
  EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(r.Header("User-Agent"), "Ardenfold Tracker");
  EXPECT_EQ(r.body,
            "<?xml version=\"1.0\"?><AccessRequest xml:lang=\"en-US\"><AccessLicenseNumber>9D27C0B5E1F4A368"
            "</AccessLicenseNumber>\r\n<UserId>qzq</UserId><Password>qzq</Password></AccessRequest>\r\n"
            "<?xml version=\"1.0\"?><TrackRequest xml:lang=\"en-US\"><Request><TransactionReference>\r\n"
            "<CustomerContext>Ardenfold Tracker</CustomerContext><XpciVersion>1.0</XpciVersion></TransactionReference>\r\n"
            "<RequestAction>Track</RequestAction><RequestOption>activity</RequestOption></Request>\r\n"
            "<TrackingNumber>#1Z999</TrackingNumber></TrackRequest>");

  EXPECT_EQ(StringToBytes(ups.LastXMLResponse()), DataFile("ups_track_response.xml"));
  EXPECT_EQ(ups.ShipperNumber(), u"12X345");
  EXPECT_EQ(ups.ShipperAddress()->Text(), u"2311 YORK RD TIMONIUM 21093 US");
  EXPECT_EQ(ups.ShipToAddress()->Text(), u"ANYTOWN 30340 US");
  EXPECT_EQ(ups.PickupDate(), EncodeDate(2010, 5, 17));
  EXPECT_EQ(ups.ServiceDescription(), u"2ND DAY AIR");
  ASSERT_EQ(ups.Activities()->Count(), 3);
  EXPECT_EQ(ups.Activities()->Items(0)->StatusTypeDescription(), u"DELIVERED");
  EXPECT_DOUBLE_EQ(ups.Activities()->Items(0)->DateTime(), EncodeDateTime(2010, 5, 20, 13, 45, 10, 0));
  EXPECT_EQ(ups.Activities()->Items(1)->Location()->Text(), u"ATLANTA US");

  // The current number again keeps the results; a new one empties the activities and the answer.
  ups.SetTrackingNumber(u"1Z999");
  EXPECT_EQ(ups.Activities()->Count(), 3);
  EXPECT_FALSE(ups.LastXMLResponse().empty());
  ups.SetTrackingNumber(u"1Z998");
  EXPECT_EQ(ups.Activities()->Count(), 0);
  EXPECT_EQ(ups.LastXMLResponse(), u"");
  EXPECT_EQ(ups.ShipperNumber(), u"12X345");  // the shipment properties stay
}

// An error answer is still read and parsed, but it is the service's refusal: Execute fails with
// its status and words, as in the standard build.
TEST(LegacyUps, ErrorStatusAnswerIsReadParsedAndAFailure) {
  QuietUi quiet;
  FakeServices fake;
  UpsProbe ups(nullptr);
  ups.SetHost(u"127.0.0.1");
  ups.SetPort(static_cast<Word>(fake.Port()));
  ups.SetCAFile(UTF8ToString(fake.CAFile()));
  ups.SetTrackingNumber(u"NOTFOUND");
  EXPECT_FALSE(ups.Execute());
  EXPECT_EQ(ups.Status(), isFailed);
  EXPECT_EQ(ups.LastXMLResponse(), u"<html><body>not here</body></html>");
  EXPECT_EQ(ups.Parses, 1);
  EXPECT_EQ(ups.Activities()->Count(), 0);
  EXPECT_EQ(ups.HttpStatus(), 404u);
  EXPECT_EQ(ups.ServiceError(), u"the service answered 404 Not Found");
  // An Error element in a 200 answer is a refusal too, in the service's words.
  ups.SetTrackingNumber(u"ERROR");
  EXPECT_FALSE(ups.Execute());
  EXPECT_EQ(ups.HttpStatus(), 200u);
  EXPECT_EQ(ups.ServiceError(), u"Invalid tracking number (error 151018)");
  // A good answer clears both.
  ups.SetTrackingNumber(u"1Z999");
  EXPECT_TRUE(ups.Execute());
  EXPECT_EQ(ups.HttpStatus(), 200u);
  EXPECT_EQ(ups.ServiceError(), u"");
}

TEST(LegacyUps, AnswerCutShortIsAFailure) {
  QuietUi quiet;
  FakeServices fake;
  UpsProbe ups(nullptr);
  ups.SetHost(u"127.0.0.1");
  ups.SetPort(static_cast<Word>(fake.Port()));
  ups.SetCAFile(UTF8ToString(fake.CAFile()));
  ups.SetTrackingNumber(u"CUTSHORT");
  EXPECT_FALSE(ups.Execute());
  EXPECT_EQ(ups.Status(), isFailed);
  EXPECT_EQ(ups.Parses, 1) << "the part read is still parsed";
}

TEST(LegacyUps, CertificatesAreVerifiedUnlessIgnored) {
  QuietUi quiet;
  FakeServices fake;
  UpsProbe ups(nullptr);
  ups.SetHost(u"127.0.0.1");
  ups.SetPort(static_cast<Word>(fake.Port()));
  ups.SetTrackingNumber(u"1Z999");
  // The stand-in's authority is unknown to the system: nothing reaches it.
  EXPECT_FALSE(ups.Execute());
  EXPECT_EQ(ups.Status(), isFailed);
  EXPECT_EQ(ups.LastXMLResponse(), u"");
  EXPECT_EQ(ups.Parses, 1);
  EXPECT_TRUE(fake.Requests().empty());

  ups.SetIgnoreCertificateErrors(true);
  EXPECT_TRUE(ups.Execute());
  EXPECT_EQ(ups.Activities()->Count(), 3);
  EXPECT_EQ(fake.Requests().size(), 1u);

  // Without a host there is nothing to reach; the parse still runs.
  ups.SetHost(u"");
  EXPECT_FALSE(ups.Execute());
  EXPECT_EQ(ups.Parses, 3);
}

}  // namespace
}  // namespace ktinet
