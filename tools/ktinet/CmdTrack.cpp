// `ktinet track`: TKtUPSTracker and TKtFedExTracker from the command line, and their demo lines.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "Cli.h"
#include "core/ktiutil.h"
#include "Demo.h"
#include "DemoServers.h"
#include "rtl/DateTime.h"
#include "rtl/SysUtils.h"
#include "services/KtIFedEx.h"
#include "services/KtIUPS.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

namespace {

std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}
std::string Json(const String& s) { return Json(UTF8Encode(s)); }

std::string When(TDateTime t, bool withTime) {
  if (t == 0) return std::string();
  return UTF8Encode(FormatDateTime(withTime ? u"yyyy-mm-dd hh:nn:ss" : u"yyyy-mm-dd", t));
}

// The answer's one-byte characters hold UTF-8 as the carrier sent it; shown decoded when they do.
std::string Text(const String& s) {
  for (Char c : s)
    if (c > 0xFF) return UTF8Encode(s);
  std::string bytes = StringToBytes(s);
  std::u16string decoded;
  return Utf8Decode(std::string_view(bytes), decoded) ? bytes : UTF8Encode(s);
}

struct Shipment {
  String ShipperNumber, IdentificationNumber, ServiceCode, ServiceDescription, Weight, WeightUnits;
  const TKtInetActivityAddress* Shipper = nullptr;
  const TKtInetActivityAddress* ShipTo = nullptr;
  TDateTime PickupDate = 0;
};

template <class T>
Shipment ShipmentOf(const T& t) {
  Shipment s;
  s.ShipperNumber = t.ShipperNumber();
  s.IdentificationNumber = t.IdentificationNumber();
  s.ServiceCode = t.ServiceCode();
  s.ServiceDescription = t.ServiceDescription();
  s.Weight = t.ShipmentWeight();
  s.WeightUnits = t.ShipmentWeightUnits();
  s.Shipper = t.ShipperAddress();
  s.ShipTo = t.ShipToAddress();
  s.PickupDate = t.PickupDate();
  return s;
}

std::string ActivityLocation(const TKtInetActivity& a) {
  String where = a.Location()->Text();
  if (where.empty()) where = a.LocationDescription();
  if (where.empty()) where = a.LocationCode();
  return Text(where);
}

void PrintPlain(std::ostream& out, const String& number, const Shipment& s, const TKtInetActivities& list) {
  auto line = [&](const char* label, const std::string& value) {
    if (!value.empty()) out << label << value << "\n";
  };
  line("Tracking number:  ", Text(number));
  line("Shipment:         ", Text(s.IdentificationNumber));
  line("Shipper number:   ", Text(s.ShipperNumber));
  line("Shipper:          ", Text(s.Shipper->Text()));
  line("Ship to:          ", Text(s.ShipTo->Text()));
  line("Service:          ", Text(Trim(s.ServiceCode + u" " + s.ServiceDescription)));
  line("Weight:           ", Text(Trim(s.Weight + u" " + s.WeightUnits)));
  line("Pickup date:      ", When(s.PickupDate, false));
  out << "Activities:       " << list.Count() << "\n";
  for (int i = 0; i < list.Count(); ++i) {
    const TKtInetActivity& a = *list.Items(i);
    String status = a.StatusTypeDescription().empty() ? a.StatusTypeCode() : a.StatusTypeDescription();
    std::string when = When(a.DateTime(), true);
    out << "  " << (when.empty() ? std::string("-") : when) << "  " << Text(status) << "  " << ActivityLocation(a) << "\n";
  }
}

std::string AddressJson(const TKtInetActivityAddress& a) {
  return "{\"addressLine1\":" + Json(Text(a.AddressLine1())) + ",\"addressLine2\":" + Json(Text(a.AddressLine2())) +
         ",\"addressLine3\":" + Json(Text(a.AddressLine3())) + ",\"city\":" + Json(Text(a.City())) +
         ",\"postalCode\":" + Json(Text(a.PostalCode())) + ",\"state\":" + Json(Text(a.State())) +
         ",\"country\":" + Json(Text(a.Country())) + "}";
}

void PrintJson(std::ostream& out, const std::string& carrier, const String& number, const Shipment& s,
               const TKtInetActivities& list) {
  out << "{\"carrier\":" << Json(carrier) << ",\"trackingNumber\":" << Json(number)
      << ",\"identificationNumber\":" << Json(Text(s.IdentificationNumber)) << ",\"shipperNumber\":" << Json(Text(s.ShipperNumber))
      << ",\"shipperAddress\":" << AddressJson(*s.Shipper) << ",\"shipToAddress\":" << AddressJson(*s.ShipTo)
      << ",\"serviceCode\":" << Json(Text(s.ServiceCode)) << ",\"serviceDescription\":" << Json(Text(s.ServiceDescription))
      << ",\"shipmentWeight\":" << Json(Text(s.Weight)) << ",\"shipmentWeightUnits\":" << Json(Text(s.WeightUnits))
      << ",\"pickupDate\":" << (s.PickupDate == 0 ? std::string("null") : Json(When(s.PickupDate, false)))
      << ",\"activities\":[";
  for (int i = 0; i < list.Count(); ++i) {
    const TKtInetActivity& a = *list.Items(i);
    if (i) out << ",";
    out << "{\"dateTime\":" << (a.DateTime() == 0 ? std::string("null") : Json(When(a.DateTime(), true)))
        << ",\"statusTypeCode\":" << Json(Text(a.StatusTypeCode()))
        << ",\"statusTypeDescription\":" << Json(Text(a.StatusTypeDescription()))
        << ",\"statusCode\":" << Json(Text(a.StatusCode())) << ",\"locationCode\":" << Json(Text(a.LocationCode()))
        << ",\"locationDescription\":" << Json(Text(a.LocationDescription()))
        << ",\"signedForByName\":" << Json(Text(a.LocationSignedForByName()))
        << ",\"location\":" << AddressJson(*a.Location()) << "}";
  }
  out << "]}\n";
}

// The failure texts as one line.
std::string OneLine(const String& s) {
  std::string text = UTF8Encode(s);
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (!out.empty() && out.back() != ' ') out += "; ";
      continue;
    }
    out += c;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == ';')) out.pop_back();
  return out.empty() ? std::string("the service could not be reached") : out;
}

void ApplyConnection(const Args& args, TKtInetCustomTracker& t) {
  if (args.Has("--http")) t.SetService(isHTTP);
  if (auto host = args.Get("--host")) t.SetHost(UTF8ToString(*host));
  if (args.Has("--port")) t.SetPort(static_cast<Word>(args.GetInt("--port", 443, 1, 65535)));
  if (auto ca = args.Get("--cacert")) t.SetCAFile(UTF8ToString(*ca));
  t.SetIgnoreCertificateErrors(args.Has("--insecure"));
}

int RunTrack(const Args& args) {
  args.ExpectPositional(2, 2);
  const std::string carrier = args.Positional()[0];
  const String number = UTF8ToString(args.Positional()[1]);
  if (carrier != "ups" && carrier != "fedex") throw UsageError("the carrier is ups or fedex, not '" + carrier + "'");
  // A failed call offers to retry; unattended runs answer that themselves, quietly.
  ChooseBackendFromEnvironment();
  if (std::string(CurrentBackend().Name()) == "headless") SetBackend(std::make_unique<HeadlessBackend>(nullptr));

  std::unique_ptr<TKtInetCustomTracker> tracker;
  Shipment shipment;
  if (carrier == "ups") {
    auto ups = std::make_unique<TKtUPSTracker>(nullptr);
    if (auto license = args.Get("--license")) ups->SetAccessLicenseNumber(UTF8ToString(*license));
    tracker = std::move(ups);
  } else {
    auto fedex = std::make_unique<TKtFedExTracker>(nullptr);
    TKtFedExWebAuthenticationDetail* d = fedex->WebAuthenticationDetail();
    if (auto v = args.Get("--key")) d->UserCredential()->SetKey(UTF8ToString(*v));
    if (auto v = args.Get("--password")) d->UserCredential()->SetPassword(UTF8ToString(*v));
    if (auto v = args.Get("--account")) d->ClientDetail()->SetAccountNumber(UTF8ToString(*v));
    if (auto v = args.Get("--meter")) d->ClientDetail()->SetMeterNumber(UTF8ToString(*v));
    tracker = std::move(fedex);
  }
  ApplyConnection(args, *tracker);
  tracker->SetTrackingNumber(number);
  const bool ok = tracker->Execute();
  if (!ok) {
    std::cerr << "ktinet track: " << OneLine(tracker->LastXMLResponse()) << "\n";
    return kExitFailed;
  }
  if (auto* ups = dynamic_cast<TKtUPSTracker*>(tracker.get())) shipment = ShipmentOf(*ups);
  else shipment = ShipmentOf(*static_cast<TKtFedExTracker*>(tracker.get()));
  if (args.Has("--json")) PrintJson(std::cout, carrier, number, shipment, *tracker->Activities());
  else PrintPlain(std::cout, number, shipment, *tracker->Activities());
  return kExitOk;
}

// ---- demo -------------------------------------------------------------------------------------

const char kDemoUpsAnswer[] =
    "<?xml version=\"1.0\"?><TrackResponse><Shipment><Service><Code>003</Code><Description>GROUND</Description>"
    "</Service><PickupDate>20261201</PickupDate><Package><Activity><Status><StatusType><Code>D</Code>"
    "<Description>DELIVERED</Description></StatusType></Status><Date>20261203</Date><Time>101500</Time></Activity>"
    "<Activity><Status><StatusType><Code>P</Code><Description>PICKUP SCAN</Description></StatusType></Status>"
    "<Date>20261201</Date><Time>170000</Time></Activity></Package></Shipment></TrackResponse>";

const char kDemoFedExAnswer[] =
    "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<SOAP-ENV:Body><TrackReply xmlns=\"http://fedex.com/ws/track/v10\"><CompletedTrackDetails><TrackDetails>"
    "<Service><Type>FEDEX_GROUND</Type></Service><Events><Timestamp>2026-12-03T10:15:00-05:00</Timestamp>"
    "<EventType>DL</EventType><EventDescription>Delivered</EventDescription></Events></TrackDetails>"
    "</CompletedTrackDetails></TrackReply></SOAP-ENV:Body></SOAP-ENV:Envelope>";

// Answers one POST to `path` with `answer` (anything else with 404), reading the body it is sent.
DemoHandler PostHandler(std::string path, std::string answer, std::string mustContain) {
  return [path, answer, mustContain](DemoConnection& conn) {
    std::string head = conn.ReceiveUntil("\r\n\r\n");
    size_t length = 0;
    std::string lower;
    for (char c : head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (size_t at = lower.find("\r\ncontent-length:"); at != std::string::npos) length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
    std::string body;
    while (body.size() < length) {
      std::string more = conn.Receive(5000, length - body.size());
      if (more.empty()) break;
      body += more;
    }
    const bool match = head.rfind("POST " + path + " ", 0) == 0 && body.find(mustContain) != std::string::npos;
    std::string content = match ? answer : std::string("not found");
    conn.Send(std::string(match ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
              "\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: " + std::to_string(content.size()) +
              "\r\n\r\n" + content);
  };
}

template <class T>
DemoOutcome DemoTracker(const char* path, const char* answer, const char* mustContain, const char16_t* number) {
  DemoServer site(PostHandler(path, answer, mustContain));
  TBackendScope quiet(std::make_unique<HeadlessBackend>(nullptr));
  T tracker(nullptr);
  tracker.SetService(isHTTP);
  tracker.SetHost(UTF8ToString(DemoServer::Host()));
  tracker.SetPort(static_cast<Word>(site.Port()));
  tracker.SetTrackingNumber(number);
  const bool ok = tracker.Execute();
  DemoOutcome out;
  out.did = "tracking " + UTF8Encode(number) + " at a carrier stand-in on 127.0.0.1:" + std::to_string(site.Port());
  if (!ok) {
    out.result = "failed: " + OneLine(tracker.LastXMLResponse());
  } else if (tracker.Activities()->Count() == 0) {
    out.result = "no activities in the answer";
  } else {
    const TKtInetActivity& a = *tracker.Activities()->Items(0);
    out.ok = true;
    out.result = std::to_string(tracker.Activities()->Count()) + " activities, latest " +
                 UTF8Encode(a.StatusTypeDescription()) + " " + When(a.DateTime(), true);
  }
  return out;
}

DemoOutcome DemoUps() {
  return DemoTracker<TKtUPSTracker>("/ups.app/xml/Track", kDemoUpsAnswer, "<TrackingNumber>#1Z999AA10123456784<",
                                    u"1Z999AA10123456784");
}

DemoOutcome DemoFedEx() {
  return DemoTracker<TKtFedExTracker>("/web-services/track", kDemoFedExAnswer, "<v10:Value>123456789012<",
                                      u"123456789012");
}

}  // namespace

KTINET_COMMAND(Command{
    "track", "track a UPS or FedEx parcel (TKtUPSTracker, TKtFedExTracker)",
    "Usage: ktinet track ups|fedex NUMBER [OPTIONS]\n\n"
    "Posts the carrier's tracking request over HTTPS and prints the shipment and one line per\n"
    "activity (date, status, location). Certificates are verified against the system's\n"
    "authorities and the host name. Exits 1 when the call fails.\n\n"
    "  --host H            the service host (UPS: onlinetools.ups.com, FedEx: ws.fedex.com)\n"
    "  --port P            its port (443)\n"
    "  --http              plain HTTP instead of HTTPS (port 80 unless --port)\n"
    "  --cacert FILE       also trust the certificate authorities in this PEM file\n"
    "  --insecure          do not verify the server's certificate (anyone on the path could read\n"
    "                      the credentials and forge the answer)\n"
    "  --license L         UPS: the access licence number\n"
    "  --key K --password P --account A --meter M\n"
    "                      FedEx: the user credential, account and meter numbers\n"
    "  --json              print the result as JSON\n",
    {{"--host", "", true},
     {"--port", "", true},
     {"--http", "", false},
     {"--cacert", "", true},
     {"--insecure", "", false},
     {"--license", "", true},
     {"--key", "", true},
     {"--password", "", true},
     {"--account", "", true},
     {"--meter", "", true},
     {"--json", "", false}},
    RunTrack});

KTINET_DEMO_STEP(DemoStep{80, "TKtUPSTracker", DemoUps});
KTINET_DEMO_STEP(DemoStep{81, "TKtFedExTracker", DemoFedEx});

}  // namespace ktinet::cli
