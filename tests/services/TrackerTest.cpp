// The tracker base, UPS and FedEx trackers against the loopback stand-ins of the carriers'
// services: the bytes of each request, the results read back, the failure texts, certificates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtl/DateTime.h"
#include "services/KtIFedEx.h"
#include "services/KtIUPS.h"
#include "support/FakeServices.h"
#include "support/TempDir.h"
#include "vcl/ScriptedBackend.h"
#include "vcl/UiBackend.h"

namespace ktinet {
namespace {

using test::FakeServices;

std::string U8(const String& s) { return UTF8Encode(s); }
std::string DataFile(const std::string& name) {
  return test::ReadFileBytes(std::string(KTINET_SOURCE_DIR) + "/tests/services/data/" + name);
}

// Trackers with the answer text and the parse in reach, counting parses.
template <class Base>
class Probe : public Base {
 public:
  using Base::Base;
  int Parses = 0;
  void Feed(const std::string& bytes) {
    this->FLastXMLResponse = BytesToString(bytes);
    this->ParseXMLResponse();
  }
 protected:
  void ParseXMLResponse() override {
    ++Parses;
    Base::ParseXMLResponse();
  }
};
using UpsProbe = Probe<TKtUPSTracker>;
using FedExProbe = Probe<TKtFedExTracker>;

template <class T>
void PointAt(T& tracker, const FakeServices& fake) {
  tracker.SetHost(u"127.0.0.1");
  tracker.SetPort(static_cast<Word>(fake.Port()));
  tracker.SetCAFile(UTF8ToString(fake.CAFile()));
}

std::vector<std::string> SplitCrLf(const std::string& s) {
  std::vector<std::string> out;
  size_t at = 0;
  for (size_t next; (next = s.find("\r\n", at)) != std::string::npos; at = next + 2) out.push_back(s.substr(at, next - at));
  out.push_back(s.substr(at));
  return out;
}

// Unattended runs answer the error dialog with Cancel; the box text must not clutter the output.
struct QuietUi {
  TBackendScope scope{std::make_unique<HeadlessBackend>(nullptr)};
};

TEST(TrackerModel, AddressActivityAndCollection) {
  TKtInetActivityAddress a;
  EXPECT_EQ(a.Text(), u"");
  a.SetCity(u"Berlin");
  a.SetCountry(u"DE");
  EXPECT_EQ(a.Text(), u"Berlin DE");
  a.SetAddressLine2(u"Hof 3");
  a.SetPostalCode(u"10115");
  EXPECT_EQ(a.Text(), u"Hof 3 Berlin 10115 DE");

  TKtUPSTracker owner(nullptr);
  TKtInetActivities& list = *owner.Activities();
  TKtInetActivity* first = list.Add();
  TKtInetActivity* second = list.Add();
  first->SetStatusCode(u"KB");
  first->SetDateTime(EncodeDate(2010, 5, 20));
  first->SetLocation(&a);
  list.SetItems(1, first);
  EXPECT_EQ(second->StatusCode(), u"KB");
  EXPECT_EQ(second->DateTime(), EncodeDate(2010, 5, 20));
  EXPECT_EQ(second->Location()->Text(), u"Hof 3 Berlin 10115 DE");
  EXPECT_NE(second->Location(), first->Location());  // copied, not shared
  EXPECT_EQ(list.UpdateCount(), 0);
  EXPECT_THROW(second->Assign(&a), EConvertError);
  EXPECT_EQ(list.UpdateCount(), 0);
  EXPECT_THROW(a.Assign(first), EConvertError);
}

TEST(TrackerBase, DefaultsAndResultBookkeeping) {
  UpsProbe ups(nullptr);
  EXPECT_EQ(ups.Agent(), u"Ardenfold Tracker");
  EXPECT_EQ(ups.Service(), isHTTPS);
  EXPECT_EQ(ups.Port(), 443);
  EXPECT_EQ(ups.Host(), TKtUPSTracker::DefaultHost);
  EXPECT_EQ(ups.AccessLicenseNumber(), u"9D27C0B5E1F4A368");
  EXPECT_FALSE(ups.IgnoreCertificateErrors());

  ups.SetTrackingNumber(u"1Z999");
  ups.Feed(DataFile("ups_track_response.xml"));
  ups.SetLastXMLRequest(u"<x/>");
  ASSERT_EQ(ups.Activities()->Count(), 3);
  // The same number again still empties the results (the shipment properties stay).
  ups.SetTrackingNumber(u"1Z999");
  EXPECT_EQ(ups.Activities()->Count(), 0);
  EXPECT_EQ(ups.LastXMLResponse(), u"");
  EXPECT_EQ(ups.LastXMLRequest(), u"");
  EXPECT_EQ(ups.ShipperNumber(), u"12X345");

  ups.SetLastXMLRequest(u"<a/>");
  EXPECT_TRUE(ups.LastXMLRequestChanged());
  EXPECT_EQ(ups.LastXMLRequest(), u"<a/>");
  EXPECT_FALSE(ups.LastXMLRequestChanged());
  ups.SetLastXMLRequest(u"<a/>");
  EXPECT_FALSE(ups.LastXMLRequestChanged());
}

TEST(UpsTracker, PostsTheSixLineBodyAndReadsTheAnswer) {
  FakeServices fake;
  UpsProbe ups(nullptr);
  PointAt(ups, fake);
  ups.SetTrackingNumber(u"1Z999");
  ASSERT_TRUE(ups.Execute()) << U8(ups.LastXMLResponse());
  EXPECT_EQ(ups.Status(), isFinished);

  auto requests = fake.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/ups.app/xml/Track");
  EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(r.Header("User-Agent"), "Ardenfold Tracker");
  EXPECT_EQ(r.Header("Host"), "127.0.0.1:" + std::to_string(fake.Port()));
  std::vector<std::string> expected = {
      "<?xml version=\"1.0\"?><AccessRequest xml:lang=\"en-US\"><AccessLicenseNumber>9D27C0B5E1F4A368</AccessLicenseNumber>",
      "<UserId>qzq</UserId><Password>qzq</Password></AccessRequest>",
      "<?xml version=\"1.0\"?><TrackRequest xml:lang=\"en-US\"><Request><TransactionReference>",
      "<CustomerContext>Ardenfold Tracker</CustomerContext><XpciVersion>1.0</XpciVersion></TransactionReference>",
      "<RequestAction>Track</RequestAction><RequestOption>activity</RequestOption></Request>",
      "<TrackingNumber>#1Z999</TrackingNumber></TrackRequest>"};
  EXPECT_EQ(SplitCrLf(r.body), expected);
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));

  EXPECT_TRUE(ups.LastXMLRequestChanged());
  EXPECT_EQ(U8(ups.LastXMLRequest()), r.body);
  EXPECT_FALSE(ups.LastXMLRequestChanged());
  EXPECT_EQ(StringToBytes(ups.LastXMLResponse()), DataFile("ups_track_response.xml"));

  EXPECT_EQ(ups.ShipperNumber(), u"12X345");
  EXPECT_EQ(ups.ShipperAddress()->Text(), u"2311 YORK RD TIMONIUM 21093 US");
  EXPECT_EQ(ups.ShipperAddress()->State(), u"");  // UPS addresses fill no state
  EXPECT_EQ(ups.ShipToAddress()->Text(), u"ANYTOWN 30340 US");
  EXPECT_EQ(ups.IdentificationNumber(), u"1Z12X3450200000000");
  EXPECT_EQ(ups.PickupDate(), EncodeDate(2010, 5, 17));
  EXPECT_EQ(ups.ServiceCode(), u"002");
  EXPECT_EQ(ups.ServiceDescription(), u"2ND DAY AIR");
  EXPECT_EQ(ups.ShipmentWeight(), u"5.00");
  EXPECT_EQ(ups.ShipmentWeightUnits(), u"LBS");

  // Three activities in document order; the Message is none; an unreadable time leaves 0.
  ASSERT_EQ(ups.Activities()->Count(), 3);
  const TKtInetActivity& a0 = *ups.Activities()->Items(0);
  EXPECT_EQ(a0.LocationCode(), u"ML");
  EXPECT_EQ(a0.LocationDescription(), u"FRONT DOOR");
  EXPECT_EQ(a0.LocationSignedForByName(), u"JONES");
  EXPECT_EQ(a0.Location()->Text(), u"ANYTOWN 30340 US");
  EXPECT_EQ(a0.StatusTypeCode(), u"D");
  EXPECT_EQ(a0.StatusTypeDescription(), u"DELIVERED");
  EXPECT_EQ(a0.StatusCode(), u"KB");
  EXPECT_DOUBLE_EQ(a0.DateTime(), EncodeDateTime(2010, 5, 20, 13, 45, 10, 0));
  EXPECT_EQ(ups.Activities()->Items(1)->StatusTypeDescription(), u"OUT FOR DELIVERY");
  EXPECT_EQ(ups.Activities()->Items(1)->Location()->Text(), u"ATLANTA US");
  EXPECT_EQ(ups.Activities()->Items(2)->StatusCode(), u"PU");
  EXPECT_EQ(ups.Activities()->Items(2)->DateTime(), 0);

  // A second run without a new number appends the new answer's events.
  ASSERT_TRUE(ups.Execute());
  EXPECT_EQ(ups.Activities()->Count(), 6);
  EXPECT_EQ(ups.Parses, 2);
}

TEST(UpsTracker, AnswerEdgeCases) {
  UpsProbe ups(nullptr);
  ups.Feed(DataFile("ups_track_response.xml"));
  const TDateTime pickup = ups.PickupDate();
  ASSERT_NE(pickup, 0);

  // Seven digits are no date: the previous pickup date stays. A Shipper without ShipperNumber
  // empties the number; the ShipTo address is kept since the answer has none.
  ups.Feed("<TrackResponse><Shipment><Shipper><Address><City>X</City></Address></Shipper>"
           "<PickupDate>2010052</PickupDate></Shipment></TrackResponse>");
  EXPECT_EQ(ups.PickupDate(), pickup);
  EXPECT_EQ(ups.ShipperNumber(), u"");
  EXPECT_EQ(ups.ShipperAddress()->Text(), u"X");
  EXPECT_EQ(ups.ShipToAddress()->Text(), u"ANYTOWN 30340 US");
  EXPECT_EQ(ups.ServiceCode(), u"002");

  // An answer without Shipper leaves shipper data as it was; an invalid date keeps it too.
  ups.Feed("<TrackResponse><Shipment><PickupDate>20101340</PickupDate></Shipment></TrackResponse>");
  EXPECT_EQ(ups.ShipperAddress()->Text(), u"X");
  EXPECT_EQ(ups.PickupDate(), pickup);
  EXPECT_EQ(ups.IdentificationNumber(), u"");

  // Only direct Activity children count, by exact name; a missing Date leaves 0.
  int before = ups.Activities()->Count();
  ups.Feed("<R><Package><activity><Date>20100520</Date></activity><Activity><Time>134510</Time></Activity>"
           "<Message><Activity/></Message></Package></R>");
  ASSERT_EQ(ups.Activities()->Count(), before + 1);
  EXPECT_EQ(ups.Activities()->Items(before)->DateTime(), 0);

  const int parses = ups.Parses;
  ups.Feed("");
  EXPECT_EQ(ups.Activities()->Count(), before + 1);
  EXPECT_EQ(ups.Parses, parses + 1);
}

TEST(TrackerBase, RefusalsCancelAndMissingHost) {
  QuietUi quiet;
  FakeServices fake;

  // 404: the status text, the error line, the dialog's answer (Cancel when unattended).
  UpsProbe ups(nullptr);
  PointAt(ups, fake);
  ups.SetTrackingNumber(u"NOTFOUND");
  EXPECT_FALSE(ups.Execute());
  EXPECT_EQ(ups.Status(), isFailed);
  std::string text = U8(ups.LastXMLResponse());
  EXPECT_EQ(text.rfind("Not Found", 0), 0u) << text;
  EXPECT_NE(text.find("Error: "), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nAbort the operation\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("not here"), std::string::npos) << "the refusal's page is no answer";
  EXPECT_EQ(ups.Activities()->Count(), 0);
  EXPECT_EQ(ups.Parses, 1);

  // A person who chooses Retry gets that line instead (no retry is made).
  {
    auto scripted = std::make_unique<ScriptedBackend>();
    ScriptedBackend* ui = scripted.get();
    ui->AnswerMessage(mrRetry);
    TBackendScope scope(std::move(scripted));
    ups.SetTrackingNumber(u"NOTFOUND");
    EXPECT_FALSE(ups.Execute());
    ASSERT_EQ(ui->Messages().size(), 1u);
    EXPECT_NE(U8(ups.LastXMLResponse()).find("\r\nRetry the operation\r\n"), std::string::npos);
    EXPECT_EQ(fake.Requests().size(), 2u);
  }

  // Cancel during the read: failed, with the part read so far.
  UpsProbe cancelled(nullptr);
  PointAt(cancelled, fake);
  std::vector<int> progress;
  cancelled.SetOnProgress([&](TObject*, Integer cur, Integer max, bool& abort) {
    progress.push_back(cur);
    EXPECT_EQ(max, 10240);
    abort = true;
  });
  cancelled.SetTrackingNumber(u"1Z999");
  EXPECT_FALSE(cancelled.Execute());
  EXPECT_EQ(cancelled.Status(), isFailed);
  ASSERT_EQ(progress.size(), 1u);
  std::string part = StringToBytes(cancelled.LastXMLResponse()).substr(0, progress[0]);
  EXPECT_EQ(part, DataFile("ups_track_response.xml").substr(0, progress[0]));
  EXPECT_LE(progress[0], 2050);
  EXPECT_NE(U8(cancelled.LastXMLResponse()).find("Error: "), std::string::npos);

  // An answer cut short is a failure, not a shorter answer.
  UpsProbe cut(nullptr);
  PointAt(cut, fake);
  cut.SetTrackingNumber(u"CUTSHORT");
  EXPECT_FALSE(cut.Execute());
  EXPECT_EQ(cut.Status(), isFailed);

  // Without a host nothing is sent, nothing is collected, and the parse still runs.
  UpsProbe nohost(nullptr);
  nohost.SetHost(u"");
  nohost.SetTrackingNumber(u"1Z999");
  EXPECT_FALSE(nohost.Execute());
  EXPECT_EQ(nohost.LastXMLResponse(), u"");
  EXPECT_EQ(nohost.Parses, 1);
}

TEST(TrackerBase, CertificatesAreVerifiedUnlessIgnored) {
  QuietUi quiet;
  FakeServices fake;
  UpsProbe ups(nullptr);
  PointAt(ups, fake);
  ups.SetCAFile(u"");
  ups.SetTrackingNumber(u"1Z999");
  EXPECT_FALSE(ups.Execute());
  EXPECT_NE(U8(ups.LastXMLResponse()).find("Error: "), std::string::npos);
  EXPECT_EQ(ups.Activities()->Count(), 0);
  EXPECT_TRUE(fake.Requests().empty()) << "nothing may reach an unverified server";

  ups.SetIgnoreCertificateErrors(true);
  EXPECT_TRUE(ups.Execute()) << U8(ups.LastXMLResponse());
  EXPECT_EQ(ups.Activities()->Count(), 3);

  // A trusted authority does not make a certificate for another name acceptable.
  FakeServices::Options elsewhere;
  elsewhere.subjectAltName = "DNS:elsewhere.example";
  FakeServices other(elsewhere);
  TKtFedExTracker fedex(nullptr);
  PointAt(fedex, other);
  fedex.SetTrackingNumber(u"123456789012");
  EXPECT_FALSE(fedex.Execute());
  EXPECT_TRUE(other.Requests().empty());
  fedex.SetIgnoreCertificateErrors(true);
  EXPECT_TRUE(fedex.Execute()) << U8(fedex.LastXMLResponse());
  EXPECT_EQ(fedex.Activities()->Count(), 2);
}

std::vector<std::string> ExpectedEnvelope(const std::string& number) {
  return {
      "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "xmlns:v10=\"http://fedex.com/ws/track/v10\">",
      "<soapenv:Header></soapenv:Header>",
      "  <soapenv:Body>",
      "    <v10:TrackRequest>",
      "      <v10:WebAuthenticationDetail>",
      "        <v10:ParentCredential>",
      "          <v10:Key>pk</v10:Key>",
      "          <v10:Password>pp</v10:Password>",
      "        </v10:ParentCredential>",
      "        <v10:UserCredential>",
      "          <v10:Key>uk</v10:Key>",
      "          <v10:Password>up</v10:Password>",
      "        </v10:UserCredential>",
      "      </v10:WebAuthenticationDetail>",
      "      <v10:ClientDetail>",
      "        <v10:AccountNumber>510087</v10:AccountNumber>",
      "        <v10:MeterNumber>118</v10:MeterNumber>",
      "        <v10:IntegratorId></v10:IntegratorId>",
      "<v10:Localization>",
      "  <v10:LanguageCode>EN</v10:LanguageCode>",
      "  <v10:LocaleCode>us</v10:LocaleCode>",
      "</v10:Localization>",
      "      </v10:ClientDetail>",
      "      <v10:TransactionDetail>",
      "        <v10:CustomerTransactionId>Track By Number_v10</v10:CustomerTransactionId>",
      "<v10:Localization>",
      "  <v10:LanguageCode>EN</v10:LanguageCode>",
      "  <v10:LocaleCode>us</v10:LocaleCode>",
      "</v10:Localization>",
      "      </v10:TransactionDetail>",
      "      <v10:Version>",
      "        <v10:ServiceId>trck</v10:ServiceId>",
      "        <v10:Major>10</v10:Major>",
      "        <v10:Intermediate>0</v10:Intermediate>",
      "        <v10:Minor>0</v10:Minor>",
      "      </v10:Version>",
      "      <v10:SelectionDetails>",
      "        <v10:CarrierCode>FDXG</v10:CarrierCode>",
      "        <v10:PackageIdentifier>",
      "          <v10:Type>TRACKING_NUMBER_OR_DOORTAG</v10:Type>",
      "          <v10:Value>" + number + "</v10:Value>",
      "        </v10:PackageIdentifier>",
      "      </v10:SelectionDetails>",
      "      <v10:ProcessingOptions>INCLUDE_DETAILED_SCANS</v10:ProcessingOptions>",
      "    </v10:TrackRequest>",
      "  </soapenv:Body>",
      "</soapenv:Envelope>"};
}

void SetCredentials(TKtFedExTracker& f) {
  TKtFedExWebAuthenticationDetail d;
  d.Assign(f.WebAuthenticationDetail());  // keep the defaults of the client detail
  d.ParentCredential()->SetKey(u"pk");
  d.ParentCredential()->SetPassword(u"pp");
  d.UserCredential()->SetKey(u"uk");
  d.UserCredential()->SetPassword(u"up");
  d.ClientDetail()->SetAccountNumber(u"510087");
  d.ClientDetail()->SetMeterNumber(u"118");
  f.SetWebAuthenticationDetail(&d);
  d.ParentCredential()->SetKey(u"changed later");
}

TEST(FedExTracker, PostsTheEnvelopeAndReadsTheReply) {
  FakeServices fake;
  FedExProbe fedex(nullptr);
  EXPECT_EQ(fedex.Host(), TKtFedExTracker::DefaultHost);
  PointAt(fedex, fake);
  SetCredentials(fedex);
  EXPECT_EQ(fedex.WebAuthenticationDetail()->ParentCredential()->Key(), u"pk");
  fedex.SetTrackingNumber(u"123456789012");
  ASSERT_TRUE(fedex.Execute()) << U8(fedex.LastXMLResponse());

  auto requests = fake.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/web-services/track");
  EXPECT_EQ(r.Header("SOAPAction"), "\"http://fedex.com/ws/track/v10/track\"");
  EXPECT_EQ(r.Header("Content-Type"), "text/xml; charset=utf-8");
  auto lines = SplitCrLf(r.body);
  // Each localization block puts four lines before the closing tags of lines 19 and 22.
  EXPECT_EQ(lines.size(), 39u + 8u);
  EXPECT_EQ(lines, ExpectedEnvelope("123456789012"));

  EXPECT_EQ(fedex.ShipToAddress()->Text(), u"MEMPHIS 38116 TN United States");
  EXPECT_EQ(fedex.IdentificationNumber(), u"2455000000~123456789012~FX");
  EXPECT_DOUBLE_EQ(fedex.PickupDate(), EncodeDateTime(2010, 5, 20, 13, 45, 10, 0));
  EXPECT_EQ(fedex.ShipmentWeight(), u"12.5");
  EXPECT_EQ(fedex.ShipmentWeightUnits(), u"LB");
  EXPECT_EQ(fedex.ServiceCode(), u"FEDEX_GROUND");
  EXPECT_EQ(fedex.ServiceDescription(), u"FedEx Ground");
  EXPECT_EQ(fedex.ShipperNumber(), u"");
  ASSERT_EQ(fedex.Activities()->Count(), 2);
  const TKtInetActivity& e0 = *fedex.Activities()->Items(0);
  EXPECT_EQ(e0.LocationCode(), u"DELIVERY_LOCATION");
  EXPECT_EQ(e0.StatusTypeCode(), u"DL");
  EXPECT_EQ(e0.StatusTypeDescription(), u"Delivered");
  EXPECT_EQ(e0.Location()->State(), u"TN");
  EXPECT_DOUBLE_EQ(e0.DateTime(), EncodeDateTime(2010, 5, 20, 13, 45, 10, 0));
  EXPECT_EQ(fedex.Activities()->Items(1)->Location()->Text(), u"OLIVE BRANCH MS United States");

  EXPECT_EQ(fedex.HttpStatus(), 200u);
  EXPECT_TRUE(fedex.ServiceError().empty());

  // A SOAP fault comes with 500: its text is read and kept, nothing else changes, and the call
  // fails with the fault's own words.
  fedex.SetTrackingNumber(u"FAULT");
  EXPECT_FALSE(fedex.Execute());
  EXPECT_EQ(fedex.Status(), isFailed);
  EXPECT_EQ(fedex.HttpStatus(), 500u);
  EXPECT_EQ(fedex.ServiceError(), u"Authentication Failed");
  EXPECT_EQ(StringToBytes(fedex.LastXMLResponse()), DataFile("fedex_soap_fault.xml"));
  EXPECT_EQ(fedex.Activities()->Count(), 0);
  EXPECT_EQ(fedex.ServiceCode(), u"FEDEX_GROUND");

  // Without a delivery time stamp the pickup date becomes 0; prefixed names do not match.
  fedex.Feed("<TrackDetails><Events><Timestamp>2010-05-20T13:45:10</Timestamp></Events>"
             "<x><Events/></x><v10:Events/></TrackDetails>");
  EXPECT_EQ(fedex.PickupDate(), 0);
  ASSERT_EQ(fedex.Activities()->Count(), 1);
  EXPECT_DOUBLE_EQ(fedex.Activities()->Items(0)->DateTime(), EncodeDateTime(2010, 5, 20, 13, 45, 10, 0));
}

TEST(FedExTracker, DefaultsAndAssign) {
  TKtFedExTracker fedex(nullptr);
  const TKtFedExClientDetail& c = *fedex.WebAuthenticationDetail()->ClientDetail();
  EXPECT_EQ(c.CarrierCode(), u"FDXG");
  EXPECT_EQ(c.CustomerTransactionId(), u"Track By Number_v10");
  EXPECT_EQ(c.GetLocalizationXML(),
            u"<v10:Localization>\r\n  <v10:LanguageCode>EN</v10:LanguageCode>\r\n  <v10:LocaleCode>us</v10:LocaleCode>\r\n"
            u"</v10:Localization>\r\n");
  EXPECT_EQ(c.AccountNumber(), u"");
  TKtFedExCredential k;
  EXPECT_THROW(k.Assign(&c), EConvertError);
}

}  // namespace
}  // namespace ktinet

namespace ktinet {
namespace {

// Values go into the XML request as text, never as markup, and into the header lines only when
// they cannot start a line of their own.
TEST(TrackerRequests, ValuesAreEscapedAndLineBreaksRefused) {
  FakeServices fake;
  UpsProbe ups(nullptr);
  PointAt(ups, fake);
  ups.SetTrackingNumber(u"1Z</TrackingNumber><Injected/><TrackingNumber>2");
  ups.Execute();
  FedExProbe fedex(nullptr);
  PointAt(fedex, fake);
  SetCredentials(fedex);
  fedex.WebAuthenticationDetail()->UserCredential()->SetPassword(u"Tom&Jerry<3");
  fedex.SetTrackingNumber(u"123456789012");
  fedex.Execute();
  auto requests = fake.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string upsBody = requests[0].body, fedexBody = requests[1].body;
  EXPECT_NE(upsBody.find("<TrackingNumber>#1Z&lt;/TrackingNumber&gt;&lt;Injected/&gt;&lt;TrackingNumber&gt;2"
                         "</TrackingNumber></TrackRequest>"),
            std::string::npos)
      << upsBody;
  EXPECT_EQ(upsBody.find("<Injected"), std::string::npos);
  EXPECT_NE(fedexBody.find("<v10:Password>Tom&amp;Jerry&lt;3</v10:Password>"), std::string::npos) << fedexBody;
  // Values without the three characters go out as they are.
  EXPECT_NE(fedexBody.find("<v10:Password>pp</v10:Password>"), std::string::npos) << fedexBody;

  // A line break in a value that goes into a header or the request line: nothing is sent.
  QuietUi quiet;
  UpsProbe agent(nullptr);
  PointAt(agent, fake);
  agent.SetTrackingNumber(u"1Z999");
  agent.SetAgent(u"Tracker\r\nX-Injected: 1");
  EXPECT_FALSE(agent.Execute());
  EXPECT_EQ(agent.Status(), isFailed);
  UpsProbe host(nullptr);
  PointAt(host, fake);
  host.SetHost(u"127.0.0.1\r\nX-Injected: 1");
  host.SetTrackingNumber(u"1Z999");
  EXPECT_FALSE(host.Execute());
  EXPECT_EQ(fake.Requests().size(), 2u);
}

}  // namespace
}  // namespace ktinet
