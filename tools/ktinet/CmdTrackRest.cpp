#include "CmdTrackRest.h"

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "Demo.h"
#include "DemoServers.h"
#include "Json.h"
#include "Output.h"
#include "Secrets.h"
#include "SocketOptions.h"
#include "rtl/DateTime.h"
#include "rtl/SysUtils.h"
#include "services/KtRestTrackers.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

namespace {

// Options of the XML trackers, which mean nothing to the JSON services.
const char* const kXmlOnlyOptions[] = {"--host", "--port", "--http", "--license", "--license-file", "--key",
                                       "--key-file", "--password", "--password-file", "--account", "--meter"};
// Options of the JSON services, which mean nothing without --api rest.
const char* const kRestOnlyOptions[] = {"--client-id", "--client-secret", "--client-secret-file", "--env",
                                        "--base-url", "--locale"};

std::string When(TDateTime t) {
  if (t == 0) return std::string();
  // A date without a time of day is shown as a date.
  const bool dateOnly = t == static_cast<double>(static_cast<long long>(t));
  return UTF8Encode(FormatDateTime(dateOnly ? u"yyyy-mm-dd" : u"yyyy-mm-dd hh:nn:ss", t));
}

std::string Where(const TKtInetActivity& a) {
  String where = a.Location()->Text();
  if (where.empty()) where = a.LocationDescription();
  if (where.empty()) where = a.LocationCode();
  return UTF8Encode(where);
}

void PrintPlain(const TKtRestTracker& t) {
  auto line = [](const char* label, const std::string& value) {
    if (!value.empty()) std::cout << label << EscapeControls(value) << "\n";
  };
  auto text = [](const String& s) { return UTF8Encode(s); };
  line("Tracking number:  ", text(t.TrackingNumber()));
  String status = t.StatusDescription();
  if (!t.StatusCode().empty()) status += (status.empty() ? u"" : u" ") + (u"(" + t.StatusCode() + u")");
  line("Status:           ", text(status));
  line(t.Delivered() ? "Delivered:        " : "Expected:         ", When(t.DeliveryDate()));
  line("Signed for by:    ", text(t.SignedForByName()));
  line("Delivered at:     ", text(t.DeliveryLocation()));
  line("Shipment:         ", text(t.IdentificationNumber()));
  line("Shipper:          ", text(t.ShipperAddress()->Text()));
  line("Ship to:          ", text(t.ShipToAddress()->Text()));
  line("Service:          ", text(Trim(t.ServiceCode() + u" " + t.ServiceDescription())));
  line("Weight:           ", text(Trim(t.ShipmentWeight() + u" " + t.ShipmentWeightUnits())));
  line("Pickup date:      ", When(t.PickupDate()));
  const TKtInetActivities& list = *t.Activities();
  std::cout << "Activities:       " << list.Count() << "\n";
  for (int i = 0; i < list.Count(); ++i) {
    const TKtInetActivity& a = *list.Items(i);
    const String status2 = a.StatusTypeDescription().empty() ? a.StatusTypeCode() : a.StatusTypeDescription();
    const std::string when = When(a.DateTime());
    std::cout << "  " << (when.empty() ? std::string("-") : when) << "  " << EscapeControls(text(status2)) << "  "
              << EscapeControls(Where(a)) << "\n";
  }
}

std::string DateJson(TDateTime t) { return t == 0 ? std::string("null") : JsonText(When(t)); }

std::string AddressJson(const TKtInetActivityAddress& a) {
  JsonObject o;
  o.Text("addressLine1", a.AddressLine1()).Text("addressLine2", a.AddressLine2()).Text("addressLine3", a.AddressLine3());
  o.Text("city", a.City()).Text("postalCode", a.PostalCode());
#if !KTINET_LEGACY_TRACKERS
  o.Text("state", a.State());
#endif
  return o.Text("country", a.Country()).Str();
}

void PrintJson(const std::string& carrier, const TKtRestTracker& t) {
  JsonArray activities;
  for (int i = 0; i < t.Activities()->Count(); ++i) {
    const TKtInetActivity& a = *t.Activities()->Items(i);
    activities.Raw(JsonObject()
                       .Raw("dateTime", DateJson(a.DateTime()))
                       .Text("statusTypeCode", a.StatusTypeCode())
                       .Text("statusTypeDescription", a.StatusTypeDescription())
                       .Text("statusCode", a.StatusCode())
                       .Text("locationCode", a.LocationCode())
                       .Text("locationDescription", a.LocationDescription())
                       .Text("signedForByName", a.LocationSignedForByName())
                       .Raw("location", AddressJson(*a.Location()))
                       .Str());
  }
  std::cout << JsonObject()
                   .Text("carrier", carrier)
                   .Text("trackingNumber", t.TrackingNumber())
                   .Text("status", t.StatusDescription())
                   .Text("statusCode", t.StatusCode())
                   .Bool("delivered", t.Delivered())
                   .Raw("deliveryDate", DateJson(t.DeliveryDate()))
                   .Text("signedForByName", t.SignedForByName())
                   .Text("deliveryLocation", t.DeliveryLocation())
                   .Text("identificationNumber", t.IdentificationNumber())
                   .Raw("shipperAddress", AddressJson(*t.ShipperAddress()))
                   .Raw("shipToAddress", AddressJson(*t.ShipToAddress()))
                   .Text("serviceCode", t.ServiceCode())
                   .Text("serviceDescription", t.ServiceDescription())
                   .Text("shipmentWeight", t.ShipmentWeight())
                   .Text("shipmentWeightUnits", t.ShipmentWeightUnits())
                   .Raw("pickupDate", DateJson(t.PickupDate()))
                   .Raw("activities", activities.Str())
                   .Str()
            << "\n";
}

// ---- demo -------------------------------------------------------------------------------------

const char kDemoUpsAnswer[] =
    "{\"trackResponse\":{\"shipment\":[{\"inquiryNumber\":\"1Z5338FF0107231059\",\"package\":[{\"trackingNumber\":"
    "\"1Z5338FF0107231059\",\"currentStatus\":{\"description\":\"Delivered\",\"code\":\"011\"},\"activity\":["
    "{\"status\":{\"type\":\"D\",\"description\":\"DELIVERED\"},\"date\":\"20261203\",\"time\":\"101500\"},"
    "{\"status\":{\"type\":\"P\",\"description\":\"Pickup Scan\"},\"date\":\"20261201\",\"time\":\"170000\"}]}]}]}}";

const char kDemoFedExAnswer[] =
    "{\"output\":{\"completeTrackResults\":[{\"trackingNumber\":\"123456789012\",\"trackResults\":[{"
    "\"latestStatusDetail\":{\"code\":\"DL\",\"description\":\"Delivered\"},\"scanEvents\":["
    "{\"date\":\"2026-12-03T12:01:00-07:00\",\"eventType\":\"DL\",\"eventDescription\":\"Delivered\"},"
    "{\"date\":\"2026-11-30T18:22:00-06:00\",\"eventType\":\"PU\",\"eventDescription\":\"Picked up\"}]}]}]}}";

// A stand-in for a carrier: the token for the demo's credentials at `tokenPath`, then `answer`
// for a request to `trackPrefix...` that carries that token; 401 or 404 otherwise.
DemoHandler CarrierHandler(std::string tokenPath, std::string trackPrefix, std::string answer) {
  return [tokenPath, trackPrefix, answer](DemoConnection& conn) {
    const std::string head = conn.ReceiveUntil("\r\n\r\n");
    std::string lower;
    for (char c : head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t length = 0;
    if (size_t at = lower.find("\r\ncontent-length:"); at != std::string::npos)
      length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
    std::string body;
    while (body.size() < length && body.size() < 65536) {
      std::string more = conn.Receive(5000, length - body.size());
      if (more.empty()) break;
      body += more;
    }
    int status = 404;
    std::string content = "{\"errors\":[{\"code\":\"NOT.FOUND\",\"message\":\"no such resource\"}]}";
    if (head.rfind("POST " + tokenPath + " ", 0) == 0 && body.find("grant_type=client_credentials") == 0) {
      status = 200;
      content = "{\"access_token\":\"demo-token\",\"token_type\":\"Bearer\",\"expires_in\":3599}";
    } else if (head.find(" " + trackPrefix) != std::string::npos) {
      const bool authorized = lower.find("\r\nauthorization: bearer demo-token\r\n") != std::string::npos;
      status = authorized ? 200 : 401;
      content = authorized ? answer : "{\"errors\":[{\"code\":\"NOT.AUTHORIZED.ERROR\",\"message\":\"no token\"}]}";
    }
    conn.Send("HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Refused") +
              "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
              std::to_string(content.size()) + "\r\n\r\n" + content);
  };
}

template <class T>
DemoOutcome DemoRestTracker(const char* tokenPath, const char* trackPrefix, const char* answer, const char16_t* number) {
  DemoServer site(CarrierHandler(tokenPath, trackPrefix, answer));
  TBackendScope quiet(std::make_unique<HeadlessBackend>(nullptr));
  T tracker(nullptr);
  tracker.SetBaseUrl(UTF8ToString("http://" + std::string(DemoServer::Host()) + ":" + std::to_string(site.Port())));
  tracker.SetClientId(u"demo-client");
  tracker.SetClientSecret(u"demo-secret");
  tracker.SetConnectTimeout(5000);
  tracker.SetReadTimeout(5000);
  tracker.SetTrackingNumber(number);
  DemoOutcome out;
  out.did = "OAuth token and tracking of " + UTF8Encode(number) + " at a JSON stand-in on 127.0.0.1:" +
            std::to_string(site.Port());
  if (!tracker.Execute()) {
    out.result = "failed: " + UTF8Encode(tracker.ServiceError().empty() ? tracker.LastErrorText() : tracker.ServiceError());
  } else if (tracker.Activities()->Count() == 0) {
    out.result = "no activities in the answer";
  } else {
    out.ok = true;
    out.result = UTF8Encode(tracker.StatusDescription()) + ", " + std::to_string(tracker.Activities()->Count()) +
                 " activities, latest " + When(tracker.Activities()->Items(0)->DateTime());
  }
  return out;
}

DemoOutcome DemoUpsRest() {
  return DemoRestTracker<TKtUPSRestTracker>("/security/v1/oauth/token", "/api/track/v1/details/1Z5338FF0107231059?",
                                            kDemoUpsAnswer, u"1Z5338FF0107231059");
}

DemoOutcome DemoFedExRest() {
  return DemoRestTracker<TKtFedExRestTracker>("/oauth/token", "/track/v1/trackingnumbers ", kDemoFedExAnswer,
                                              u"123456789012");
}

}  // namespace

KTINET_DEMO_STEP(DemoStep{83, "TKtUPSRestTracker", DemoUpsRest});
KTINET_DEMO_STEP(DemoStep{84, "TKtFedExRestTracker", DemoFedExRest});

std::vector<Args::OptionSpec> RestTrackOptions() {
  std::vector<Args::OptionSpec> specs = {
      {"--api", "", true}, {"--client-id", "", true}, {"--env", "", true}, {"--base-url", "", true}, {"--locale", "", true}};
  AppendOptions(specs, SecretOptions("--client-secret"));
  return specs;
}

std::string RestTrackHelp() {
  return "\nWith --api rest, the carriers' JSON tracking services (UPS Tracking API, FedEx\n"
         "Track API) with OAuth 2.0 client credentials (TKtUPSRestTracker,\n"
         "TKtFedExRestTracker): the package's status, delivery, shipment and one line per\n"
         "activity. Exits 1 with the service's own code and message on stderr when it\n"
         "refuses (a 429 also names its Retry-After); --json prints the same as JSON.\n"
         "  --api rest            the JSON services; --host, --port, --http, --license,\n"
         "                        --key, --password, --account and --meter do not apply\n"
         "  --client-id ID        the application's client id (required)\n"
         "  --client-secret-file F\n"
         "                        the client secret, from the first line of file F\n"
         "  $KTINET_CLIENT_SECRET the client secret, from the environment\n"
         "  --client-secret S     the client secret as an argument (other users can see it\n"
         "                        in ps: prefer the two forms above)\n"
         "  --env E               production (the default: onlinetools.ups.com,\n"
         "                        apis.fedex.com) or test (wwwcie.ups.com,\n"
         "                        apis-sandbox.fedex.com)\n"
         "  --base-url URL        https://host[:port] in place of the environment's host\n"
         "  --locale L            the language of the descriptions (default en_US)\n";
}

bool WantsRestTrack(const Args& args) {
  if (args.Has("--api")) return true;
  for (const char* option : kRestOnlyOptions)
    if (args.Has(option)) throw UsageError(std::string(option) + " needs --api rest");
  return false;
}

int RunRestTrack(const Args& args) {
  args.ExpectPositional(2, 2);
  if (args.GetOr("--api", "") != "rest") throw UsageError("--api takes rest, not '" + args.GetOr("--api", "") + "'");
  for (const char* option : kXmlOnlyOptions)
    if (args.Has(option)) throw UsageError(std::string(option) + " does not apply with --api rest");
  const std::string carrier = args.Positional()[0];
  if (carrier != "ups" && carrier != "fedex") throw UsageError("the carrier is ups or fedex, not '" + carrier + "'");
  const std::string env = args.GetOr("--env", "production");
  if (env != "production" && env != "test") throw UsageError("--env takes production or test, not '" + env + "'");
  const auto id = args.Get("--client-id");
  if (!id || id->empty()) throw UsageError("--api rest needs --client-id");
  const auto secret = Secret(args, "--client-secret", "KTINET_CLIENT_SECRET");
  if (!secret || secret->empty())
    throw UsageError("--api rest needs the client secret (--client-secret-file FILE or $KTINET_CLIENT_SECRET)");
  if (auto base = args.Get("--base-url")) {
    bool secure = false;
    String host, path;
    Word port = 0;
    if (!SplitRestUrl(UTF8ToString(*base), secure, host, port, path) || (path != u"/" && path != u""))
      throw UsageError("--base-url takes https://host[:port], not '" + *base + "'");
  }

  ChooseBackendFromEnvironment();
  if (std::string(CurrentBackend().Name()) == "headless") SetBackend(std::make_unique<HeadlessBackend>(nullptr));
  std::unique_ptr<TKtRestTracker> tracker;
  if (carrier == "ups") tracker = std::make_unique<TKtUPSRestTracker>(nullptr);
  else tracker = std::make_unique<TKtFedExRestTracker>(nullptr);
  ApplyTransferOptions(args, *tracker);
  ApplyProxyOptions(args, *tracker->Proxy());
  if (auto ca = args.Get("--cacert")) tracker->SetCAFile(UTF8ToString(*ca));
  tracker->SetIgnoreCertificateErrors(args.Has("--insecure"));
  tracker->SetClientId(UTF8ToString(*id));
  tracker->SetClientSecret(UTF8ToString(*secret));
  tracker->SetEnvironment(env == "test" ? reTest : reProduction);
  if (auto base = args.Get("--base-url")) tracker->SetBaseUrl(UTF8ToString(*base));
  if (auto locale = args.Get("--locale")) tracker->SetLocale(UTF8ToString(*locale));
  tracker->SetTrackingNumber(UTF8ToString(args.Positional()[1]));

  if (!tracker->Execute()) {
    const String& words = tracker->ServiceError().empty() ? tracker->LastErrorText() : tracker->ServiceError();
    const std::string message = words.empty() ? std::string("the service could not be reached") : UTF8Encode(words);
    if (args.Has("--json")) {
      JsonObject o;
      o.Text("carrier", carrier).Text("trackingNumber", tracker->TrackingNumber()).Text("error", message);
      if (tracker->HttpStatus() != 0) o.Number("httpStatus", tracker->HttpStatus());
      if (!tracker->RetryAfter().empty()) o.Text("retryAfter", tracker->RetryAfter());
      std::cout << o.Str() << "\n";
    }
    std::cerr << "ktinet track: " << EscapeControls(message) << "\n";
    return kExitFailed;
  }
  if (args.Has("--json")) PrintJson(carrier, *tracker);
  else PrintPlain(*tracker);
  return kExitOk;
}

}  // namespace ktinet::cli
