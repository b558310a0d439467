// The JSON trackers and their OAuth 2.0 client credentials against loopback stand-ins of the
// carriers' services over HTTPS with a test authority.
#include <gtest/gtest.h>

#include <string>

#include "core/ktiutil.h"
#include "rtl/DateTime.h"
#include "services/KtRestTrackers.h"
#include "support/FakeServices.h"

namespace ktinet {
namespace {

using test::FakeServices;

FakeServices::Options Carriers(std::vector<std::string> extra = {}) {
  FakeServices::Options o;
  o.script = "fake_rest_carriers.py";
  o.extraArgs = std::move(extra);
  return o;
}

template <class T>
void Connect(T& t, const FakeServices& fake, const char* secret = "test-secret") {
  t.SetBaseUrl(UTF8ToString(fake.BaseUrl()));
  t.SetCAFile(UTF8ToString(fake.CAFile()));
  t.SetClientId(u"test-client");
  t.SetClientSecret(UTF8ToString(secret));
}

std::string Day(TDateTime t) { return UTF8Encode(FormatDateTime(u"yyyy-mm-dd hh:nn:ss", t)); }

TEST(RestTrackerOAuth, UpsTokenIsTakenOnceReusedAndRefreshedAfter401) {
  FakeServices fake(Carriers());
  TKtUPSRestTracker ups(nullptr);
  Connect(ups, fake);
  ups.SetTrackingNumber(u"1Z5338FF0107231059");
  ASSERT_TRUE(ups.Execute()) << UTF8Encode(ups.LastErrorText());
  ups.SetTrackingNumber(u"1Z999AA10123456784");
  ASSERT_TRUE(ups.Execute()) << UTF8Encode(ups.LastErrorText());
  EXPECT_EQ(ups.TokensFetched(), 1);

  auto requests = fake.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const auto& token = requests[0];
  EXPECT_EQ(token.method, "POST");
  EXPECT_EQ(token.target, "/security/v1/oauth/token");
  EXPECT_EQ(token.Header("Authorization"), "Basic " + Encode64(std::string("test-client:test-secret")));
  EXPECT_EQ(token.body, "grant_type=client_credentials");
  for (size_t i : {1u, 2u}) {
    EXPECT_EQ(requests[i].method, "GET");
    EXPECT_EQ(requests[i].Header("Authorization"), "Bearer ups-token-1");
    EXPECT_EQ(requests[i].Header("transId").size(), 32u);
    EXPECT_EQ(requests[i].Header("transactionSrc"), "ktinet");
  }
  EXPECT_EQ(requests[1].target,
            "/api/track/v1/details/1Z5338FF0107231059?locale=en_US&returnSignature=false&returnMilestones=false&returnPOD=false");
  // Each request has an id of its own.
  EXPECT_NE(requests[1].Header("transId"), requests[2].Header("transId"));

  // The service stops taking the kept token: one new token, and the same request again.
  ups.SetTrackingNumber(u"1ZEXPIRED");
  ASSERT_TRUE(ups.Execute()) << UTF8Encode(ups.LastErrorText());
  EXPECT_EQ(ups.TokensFetched(), 2);
  EXPECT_EQ(ups.HttpStatus(), 200u);
  requests = fake.Requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests[3].Header("Authorization"), "Bearer ups-token-1");
  EXPECT_EQ(requests[4].target, "/security/v1/oauth/token");
  EXPECT_EQ(requests[5].target.rfind("/api/track/v1/details/1ZEXPIRED?", 0), 0u);
  EXPECT_EQ(requests[5].Header("Authorization"), "Bearer ups-token-2");
}

TEST(RestTrackerOAuth, FedExSendsTheCredentialsInTheFormAndRefreshesOnce) {
  FakeServices fake(Carriers());
  TKtFedExRestTracker fedex(nullptr);
  Connect(fedex, fake, "s&cret=1");  // refused, but shows the form's encoding
  fedex.SetTrackingNumber(u"123456789012");
  EXPECT_FALSE(fedex.Execute());
  ASSERT_EQ(fake.Requests().size(), 1u);
  EXPECT_EQ(fake.Requests()[0].body, "grant_type=client_credentials&client_id=test-client&client_secret=s%26cret%3D1");
  EXPECT_FALSE(fake.Requests()[0].HasHeader("Authorization"));

  fedex.SetClientSecret(u"test-secret");
  ASSERT_TRUE(fedex.Execute()) << UTF8Encode(fedex.LastErrorText());
  auto requests = fake.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].target, "/oauth/token");
  EXPECT_EQ(requests[2].method, "POST");
  EXPECT_EQ(requests[2].target, "/track/v1/trackingnumbers");
  EXPECT_EQ(requests[2].Header("Content-Type"), "application/json");
  EXPECT_EQ(requests[2].Header("Authorization"), "Bearer fedex-token-1");
  EXPECT_EQ(requests[2].body,
            "{\"includeDetailedScans\":true,\"trackingInfo\":[{\"trackingNumberInfo\":{\"trackingNumber\":\"123456789012\"}}]}");

  // A 401 on the first request of a token is answered by one new token too.
  TKtFedExRestTracker fresh(nullptr);
  Connect(fresh, fake);
  fresh.SetTrackingNumber(u"EXPIRED");
  ASSERT_TRUE(fresh.Execute()) << UTF8Encode(fresh.LastErrorText());
  EXPECT_EQ(fresh.TokensFetched(), 2);
  EXPECT_EQ(fresh.Activities()->Count(), 3);
  // fedex's kept token was given up by the service too: one new token, and the request again.
  const size_t before = fake.Requests().size();
  fedex.SetTrackingNumber(u"794843185271");
  ASSERT_TRUE(fedex.Execute()) << UTF8Encode(fedex.LastErrorText());
  EXPECT_EQ(fake.Requests().size(), before + 3);
  EXPECT_EQ(fedex.TokensFetched(), 2);

  // Other credentials do not ride on the token bought with the earlier ones.
  fedex.SetClientId(u"someone-else");
  EXPECT_FALSE(fedex.Execute());
  EXPECT_EQ(fedex.HttpStatus(), 401u);
  EXPECT_EQ(fake.Requests().back().target, "/oauth/token");
}

TEST(RestTrackerOAuth, RefusedCredentialsAndShortLivedTokens) {
  FakeServices fake(Carriers({"--expires-in", "0"}));
  TKtUPSRestTracker ups(nullptr);
  Connect(ups, fake, "wrong");
  ups.SetTrackingNumber(u"1Z5338FF0107231059");
  EXPECT_FALSE(ups.Execute());
  EXPECT_EQ(ups.Status(), isFailed);
  EXPECT_EQ(ups.HttpStatus(), 401u);
  EXPECT_EQ(ups.ServiceError(), u"the credentials were refused: ClientId is Invalid (error 10401)");
  EXPECT_EQ(ups.LastErrorText(), ups.ServiceError());
  EXPECT_EQ(ups.Activities()->Count(), 0);
  // The tracking request never went out with refused credentials.
  EXPECT_EQ(fake.Requests().size(), 1u);

  TKtFedExRestTracker fedex(nullptr);
  Connect(fedex, fake, "wrong");
  fedex.SetTrackingNumber(u"123456789012");
  EXPECT_FALSE(fedex.Execute());
  EXPECT_EQ(fedex.ServiceError(),
            u"the credentials were refused: The given client credentials were not valid. Please modify your request "
            u"and try again. (error NOT.AUTHORIZED.ERROR)");

  // A token that expires at once is taken again for every run.
  Connect(ups, fake);
  ASSERT_TRUE(ups.Execute()) << UTF8Encode(ups.LastErrorText());
  ASSERT_TRUE(ups.Execute()) << UTF8Encode(ups.LastErrorText());
  EXPECT_EQ(ups.TokensFetched(), 2);

  // Missing credentials fail before anything is sent.
  const size_t sent = fake.Requests().size();
  TKtUPSRestTracker bare(nullptr);
  bare.SetBaseUrl(UTF8ToString(fake.BaseUrl()));
  bare.SetTrackingNumber(u"1Z5338FF0107231059");
  EXPECT_FALSE(bare.Execute());
  EXPECT_NE(bare.LastErrorText().find(u"client"), String::npos);
  EXPECT_EQ(fake.Requests().size(), sent);
}

TEST(RestTrackerResults, UpsDeliveredAndInTransit) {
  FakeServices fake(Carriers());
  TKtUPSRestTracker ups(nullptr);
  Connect(ups, fake);
  ups.SetTrackingNumber(u"1Z5338FF0107231059");
  ASSERT_TRUE(ups.Execute()) << UTF8Encode(ups.LastErrorText());
  EXPECT_TRUE(ups.Delivered());
  EXPECT_EQ(ups.StatusDescription(), u"Delivered");
  EXPECT_EQ(ups.StatusCode(), u"011");
  EXPECT_EQ(Day(ups.DeliveryDate()), "2026-12-03 10:15:00");
  EXPECT_EQ(ups.SignedForByName(), u"MUELLER");
  EXPECT_EQ(ups.DeliveryLocation(), u"Front Door");
  EXPECT_EQ(ups.ServiceCode(), u"518");
  EXPECT_EQ(ups.ServiceDescription(), u"UPS Worldwide Saver");
  EXPECT_EQ(ups.ShipmentWeight(), u"5.50");
  EXPECT_EQ(ups.ShipmentWeightUnits(), u"LBS");
  EXPECT_EQ(Day(ups.PickupDate()), "2026-12-01 00:00:00");
  EXPECT_EQ(ups.ShipperAddress()->City(), u"TIMONIUM");
  EXPECT_EQ(ups.ShipperAddress()->State(), u"MD");
  EXPECT_EQ(ups.ShipToAddress()->City(), u"Z\u00dcRICH");
  EXPECT_EQ(ups.ShipToAddress()->AddressLine1(), u"Bahnhofstrasse 1");
  ASSERT_EQ(ups.Activities()->Count(), 3);
  const TKtInetActivity& last = *ups.Activities()->Items(0);
  EXPECT_EQ(last.StatusTypeCode(), u"D");
  EXPECT_EQ(last.StatusTypeDescription(), u"DELIVERED");
  EXPECT_EQ(last.StatusCode(), u"KB");
  EXPECT_EQ(last.LocationCode(), u"8410");
  EXPECT_EQ(last.Location()->City(), u"Z\u00fcrich");
  EXPECT_EQ(last.Location()->Country(), u"CH");
  EXPECT_EQ(last.LocationSignedForByName(), u"MUELLER");
  EXPECT_EQ(Day(last.DateTime()), "2026-12-03 10:15:00");
  EXPECT_EQ(Day(ups.Activities()->Items(2)->DateTime()), "2026-12-01 17:00:00");
  EXPECT_NE(ups.LastJSONResponse().find(u"\"trackResponse\""), String::npos);

  ups.SetTrackingNumber(u"1Z999AA10123456784");
  EXPECT_TRUE(ups.LastJSONResponse().empty());
  EXPECT_EQ(ups.Activities()->Count(), 0);
  ASSERT_TRUE(ups.Execute()) << UTF8Encode(ups.LastErrorText());
  EXPECT_FALSE(ups.Delivered());
  EXPECT_EQ(ups.StatusDescription(), u"On the Way");
  // The scheduled day with the end of its window.
  EXPECT_EQ(Day(ups.DeliveryDate()), "2026-12-09 19:00:00");
  EXPECT_EQ(ups.SignedForByName(), u"");
  EXPECT_EQ(ups.ShipperAddress()->City(), u"ATLANTA");
  EXPECT_EQ(ups.ShipToAddress()->PostalCode(), u"98101");
  EXPECT_EQ(ups.Activities()->Count(), 2);
  EXPECT_EQ(ups.PickupDate(), 0);
}

TEST(RestTrackerResults, FedExDeliveredAndInTransit) {
  FakeServices fake(Carriers());
  TKtFedExRestTracker fedex(nullptr);
  Connect(fedex, fake);
  fedex.SetTrackingNumber(u"123456789012");
  ASSERT_TRUE(fedex.Execute()) << UTF8Encode(fedex.LastErrorText());
  EXPECT_TRUE(fedex.Delivered());
  EXPECT_EQ(fedex.StatusCode(), u"DL");
  EXPECT_EQ(fedex.StatusDescription(), u"Delivered");
  // The carrier's own wall-clock time at the place, not shifted to ours.
  EXPECT_EQ(Day(fedex.DeliveryDate()), "2026-12-03 12:01:00");
  EXPECT_EQ(Day(fedex.PickupDate()), "2026-11-30 00:00:00");
  EXPECT_EQ(fedex.SignedForByName(), u"JOHNSON");
  EXPECT_EQ(fedex.DeliveryLocation(), u"Front Porch");
  EXPECT_EQ(fedex.ServiceCode(), u"FEDEX_GROUND");
  EXPECT_EQ(fedex.ShipmentWeight(), u"21.5");
  EXPECT_EQ(fedex.ShipmentWeightUnits(), u"LB");
  EXPECT_EQ(fedex.ShipperAddress()->City(), u"POST FALLS");
  EXPECT_EQ(fedex.ShipToAddress()->State(), u"VA");
  ASSERT_EQ(fedex.Activities()->Count(), 3);
  const TKtInetActivity& scan = *fedex.Activities()->Items(1);
  EXPECT_EQ(scan.StatusTypeCode(), u"OD");
  EXPECT_EQ(scan.StatusTypeDescription(), u"On FedEx vehicle for delivery");
  EXPECT_EQ(scan.StatusCode(), u"IT");
  EXPECT_EQ(scan.LocationCode(), u"0376");
  EXPECT_EQ(scan.LocationDescription(), u"VEHICLE");
  EXPECT_EQ(scan.Location()->AddressLine1(), u"1 Depot Rd");
  EXPECT_EQ(scan.Location()->PostalCode(), u"37663");
  EXPECT_EQ(Day(scan.DateTime()), "2026-12-03 07:10:00");
  EXPECT_EQ(fedex.Activities()->Items(0)->LocationSignedForByName(), u"JOHNSON");

  fedex.SetTrackingNumber(u"794843185271");
  ASSERT_TRUE(fedex.Execute()) << UTF8Encode(fedex.LastErrorText());
  EXPECT_FALSE(fedex.Delivered());
  EXPECT_EQ(fedex.StatusDescription(), u"In transit");
  EXPECT_EQ(Day(fedex.DeliveryDate()), "2026-12-09 18:00:00");
  EXPECT_EQ(fedex.ShipToAddress()->Country(), u"DE");
  EXPECT_EQ(fedex.Activities()->Count(), 2);
}

TEST(RestTrackerErrors, UnknownNumbersRateLimitsAndOtherRefusals) {
  FakeServices fake(Carriers());
  TKtUPSRestTracker ups(nullptr);
  Connect(ups, fake);
  ups.SetTrackingNumber(u"1ZNOSUCH");
  EXPECT_FALSE(ups.Execute());
  EXPECT_EQ(ups.HttpStatus(), 404u);
  EXPECT_EQ(ups.ServiceError(), u"Tracking Information Not Found (error TW0001)");
  EXPECT_NE(ups.LastJSONResponse().find(u"TW0001"), String::npos);

  ups.SetTrackingNumber(u"1ZLIMIT");
  EXPECT_FALSE(ups.Execute());
  EXPECT_EQ(ups.HttpStatus(), 429u);
  EXPECT_EQ(ups.RetryAfter(), u"30");
  EXPECT_EQ(ups.ServiceError(), u"Too Many Requests (error 429) (retry after 30)");
  // A refusal is no 401: the token is kept.
  EXPECT_EQ(ups.TokensFetched(), 1);

  TKtFedExRestTracker fedex(nullptr);
  Connect(fedex, fake);
  // An unknown number is a 200 whose result carries the error.
  fedex.SetTrackingNumber(u"999999999999");
  EXPECT_FALSE(fedex.Execute());
  EXPECT_EQ(fedex.HttpStatus(), 200u);
  EXPECT_EQ(fedex.ServiceError(),
            u"Tracking number cannot be found. Please correct the tracking number and try again. (error "
            u"TRACKING.TRACKINGNUMBER.NOTFOUND)");
  EXPECT_EQ(fedex.Activities()->Count(), 0);
  fedex.SetTrackingNumber(u"RATELIMIT");
  EXPECT_FALSE(fedex.Execute());
  EXPECT_EQ(fedex.RetryAfter(), u"60");
  EXPECT_NE(fedex.ServiceError().find(u"(error RATE.LIMIT.EXCEEDED) (retry after 60)"), String::npos);

  // The service's host must be verified: the test authority is not trusted without CAFile.
  TKtFedExRestTracker untrusted(nullptr);
  Connect(untrusted, fake);
  untrusted.SetCAFile(u"");
  untrusted.SetTrackingNumber(u"123456789012");
  const size_t sent = fake.Requests().size();
  EXPECT_FALSE(untrusted.Execute());
  EXPECT_NE(LowerCase(untrusted.LastErrorText()).find(u"certificate"), String::npos);
  EXPECT_EQ(fake.Requests().size(), sent);
}

TEST(RestTrackerSettings, HostsOfTheEnvironments) {
  TKtUPSRestTracker ups(nullptr);
  EXPECT_EQ(ups.ServiceUrl(), u"https://onlinetools.ups.com");
  ups.SetEnvironment(reTest);
  EXPECT_EQ(ups.ServiceUrl(), u"https://wwwcie.ups.com");
  ups.SetBaseUrl(u"https://127.0.0.1:8443/");
  EXPECT_EQ(ups.ServiceUrl(), u"https://127.0.0.1:8443");
  TKtFedExRestTracker fedex(nullptr);
  EXPECT_EQ(fedex.ServiceUrl(), u"https://apis.fedex.com");
  fedex.SetEnvironment(reTest);
  EXPECT_EQ(fedex.ServiceUrl(), u"https://apis-sandbox.fedex.com");
  // A base URL with a path or credentials is refused before anything is sent.
  fedex.SetClientId(u"a");
  fedex.SetClientSecret(u"b");
  fedex.SetTrackingNumber(u"1");
  for (const char16_t* bad : {u"https://127.0.0.1:1/x", u"https://u:p@127.0.0.1:1", u"ftp://127.0.0.1",
                              u"http://192.0.2.1:1", u"http://carrier.example"}) {
    fedex.SetBaseUrl(bad);
    EXPECT_FALSE(fedex.Execute());
    EXPECT_NE(fedex.LastErrorText().find(u"base URL"), String::npos) << UTF8Encode(bad);
  }
  // Plain HTTP to this machine is taken (the demo's stand-ins): it fails only at connecting.
  fedex.SetBaseUrl(u"http://127.0.0.1:1");
  EXPECT_FALSE(fedex.Execute());
  EXPECT_EQ(fedex.LastErrorText().find(u"base URL"), String::npos) << UTF8Encode(fedex.LastErrorText());
}

TEST(RestTrackerAnswers, MalformedAndHostileDocumentsFailCleanly) {
  TKtUPSRestTracker ups(nullptr);
  TKtFedExRestTracker fedex(nullptr);
  ups.SetTrackingNumber(u"1Z");
  fedex.SetTrackingNumber(u"1");
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  for (const std::string& doc :
       {std::string(""), std::string("null"), std::string("[1,2]"), std::string("{\"trackResponse\":7}"),
        std::string("{\"trackResponse\":{\"shipment\":[{\"package\":[1,\"x\",null]}]}}"),
        std::string("{\"output\":{\"completeTrackResults\":[{\"trackResults\":[[]]}]}}"), deep,
        "{\"a\":" + deep + "}"}) {
    EXPECT_FALSE(ups.LoadResponse(doc)) << doc.substr(0, 60);
    EXPECT_FALSE(ups.ServiceError().empty());
    EXPECT_FALSE(fedex.LoadResponse(doc)) << doc.substr(0, 60);
    EXPECT_FALSE(fedex.ServiceError().empty());
  }
  // Values of the wrong types and impossible dates leave fields empty, not wrong.
  ASSERT_TRUE(ups.LoadResponse(
      "{\"trackResponse\":{\"shipment\":[{\"package\":[{\"trackingNumber\":\"1Z\",\"service\":[],\"weight\":{\"weight\":5},"
      "\"activity\":[{\"date\":\"20261345\",\"time\":\"999999\",\"status\":{\"type\":{}}},7,"
      "{\"date\":\"20260229\",\"time\":\"1200\"},{\"date\":\"20240229\",\"time\":\"1200\"}]}]}]}}"));
  EXPECT_EQ(ups.ShipmentWeight(), u"5");
  ASSERT_EQ(ups.Activities()->Count(), 3);
  EXPECT_EQ(ups.Activities()->Items(0)->DateTime(), 0);
  EXPECT_EQ(ups.Activities()->Items(1)->DateTime(), 0);
  EXPECT_EQ(Day(ups.Activities()->Items(2)->DateTime()), "2024-02-29 12:00:00");
  // Of several packages, the one asked about.
  ups.SetTrackingNumber(u"1ZB");
  ASSERT_TRUE(ups.LoadResponse("{\"trackResponse\":{\"shipment\":[{\"package\":[{\"trackingNumber\":\"1ZA\",\"weight\":"
                               "{\"weight\":\"1\"}},{\"trackingNumber\":\"1ZB\",\"weight\":{\"weight\":\"2\"}}]}]}}"));
  EXPECT_EQ(ups.ShipmentWeight(), u"2");
  // An unknown number in a 200 answer: a shipment with warnings and no package.
  EXPECT_FALSE(ups.LoadResponse("{\"trackResponse\":{\"shipment\":[{\"inquiryNumber\":\"1ZB\",\"warnings\":[{\"code\":"
                                "\"TW0001\",\"message\":\"Tracking Information Not Found\"}]}]}}"));
  EXPECT_EQ(ups.ServiceError(), u"Tracking Information Not Found (error TW0001)");
  // Bad dates in FedEx form.
  ASSERT_TRUE(fedex.LoadResponse("{\"output\":{\"completeTrackResults\":[{\"trackResults\":[{\"scanEvents\":[{\"date\":"
                                 "\"2026-02-30T10:00:00Z\"},{\"date\":\"2026-12-01\"},{\"date\":\"x\"}]}]}]}}"));
  ASSERT_EQ(fedex.Activities()->Count(), 3);
  EXPECT_EQ(fedex.Activities()->Items(0)->DateTime(), 0);
  EXPECT_EQ(Day(fedex.Activities()->Items(1)->DateTime()), "2026-12-01 00:00:00");
}

}  // namespace
}  // namespace ktinet
