// `ktinet track`: TKtUPSTracker and TKtFedExTracker from the command line, and their demo lines.
// The build for host version 10 (KTINET_LEGACY_TRACKERS) has the earlier trackers: its UPS
// tracker always posts over HTTPS and has no LastXMLRequest; its FedEx tracker reads the carrier's
// tracking page over the socket core into two lists of lines.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <vector>

#if KTINET_LEGACY_TRACKERS
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#endif

#include "Cli.h"
#include "CmdTrackRest.h"
#include "Json.h"
#include "Secrets.h"
#include "SocketOptions.h"
#include "Output.h"
#include "core/ktiutil.h"
#include "Demo.h"
#include "FormRun.h"
#include "DemoServers.h"
#include "rtl/DateTime.h"
#include "rtl/SysUtils.h"
#include "services/KtIFedEx.h"
#include "services/KtIUPS.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

namespace {


std::string When(TDateTime t, bool withTime) {
  if (t == 0) return std::string();
  return UTF8Encode(FormatDateTime(withTime ? u"yyyy-mm-dd hh:nn:ss" : u"yyyy-mm-dd", t));
}

// The answer's one-byte characters hold UTF-8 as the carrier sent it; shown decoded when they do.
std::string Text(const String& s) { return NetworkText(s); }

std::string ActivityLocation(const TKtInetActivity& a) {
  String where = a.Location()->Text();
  if (where.empty()) where = a.LocationDescription();
  if (where.empty()) where = a.LocationCode();
  return Text(where);
}

void PrintPlain(std::ostream& out, const String& number, const TKtShipmentDetails& s, const TKtInetActivities& list) {
  auto line = [&](const char* label, const std::string& value) {
    if (!value.empty()) out << label << EscapeControls(value) << "\n";
  };
  line("Tracking number:  ", Text(number));
  line("Shipment:         ", Text(s.IdentificationNumber()));
  line("Shipper number:   ", Text(s.ShipperNumber()));
  line("Shipper:          ", Text(s.ShipperAddress()->Text()));
  line("Ship to:          ", Text(s.ShipToAddress()->Text()));
  line("Service:          ", Text(Trim(s.ServiceCode() + u" " + s.ServiceDescription())));
  line("Weight:           ", Text(Trim(s.ShipmentWeight() + u" " + s.ShipmentWeightUnits())));
  line("Pickup date:      ", When(s.PickupDate(), false));
  out << "Activities:       " << list.Count() << "\n";
  for (int i = 0; i < list.Count(); ++i) {
    const TKtInetActivity& a = *list.Items(i);
    String status = a.StatusTypeDescription().empty() ? a.StatusTypeCode() : a.StatusTypeDescription();
    std::string when = When(a.DateTime(), true);
    out << "  " << (when.empty() ? std::string("-") : when) << "  " << EscapeControls(Text(status)) << "  "
        << EscapeControls(ActivityLocation(a)) << "\n";
  }
}

std::string AddressJson(const TKtInetActivityAddress& a) {
  return "{\"addressLine1\":" + JsonText(Text(a.AddressLine1())) + ",\"addressLine2\":" + JsonText(Text(a.AddressLine2())) +
         ",\"addressLine3\":" + JsonText(Text(a.AddressLine3())) + ",\"city\":" + JsonText(Text(a.City())) +
         ",\"postalCode\":" + JsonText(Text(a.PostalCode())) +
#if !KTINET_LEGACY_TRACKERS
         ",\"state\":" + JsonText(Text(a.State())) +
#endif
         ",\"country\":" + JsonText(Text(a.Country())) + "}";
}

void PrintJson(std::ostream& out, const std::string& carrier, const String& number, const TKtShipmentDetails& s,
               const TKtInetActivities& list) {
  out << "{\"carrier\":" << JsonText(carrier) << ",\"trackingNumber\":" << JsonText(number)
      << ",\"identificationNumber\":" << JsonText(Text(s.IdentificationNumber())) << ",\"shipperNumber\":" << JsonText(Text(s.ShipperNumber()))
      << ",\"shipperAddress\":" << AddressJson(*s.ShipperAddress()) << ",\"shipToAddress\":" << AddressJson(*s.ShipToAddress())
      << ",\"serviceCode\":" << JsonText(Text(s.ServiceCode())) << ",\"serviceDescription\":" << JsonText(Text(s.ServiceDescription()))
      << ",\"shipmentWeight\":" << JsonText(Text(s.ShipmentWeight())) << ",\"shipmentWeightUnits\":" << JsonText(Text(s.ShipmentWeightUnits()))
      << ",\"pickupDate\":" << (s.PickupDate() == 0 ? std::string("null") : JsonText(When(s.PickupDate(), false)))
      << ",\"activities\":[";
  for (int i = 0; i < list.Count(); ++i) {
    const TKtInetActivity& a = *list.Items(i);
    if (i) out << ",";
    out << "{\"dateTime\":" << (a.DateTime() == 0 ? std::string("null") : JsonText(When(a.DateTime(), true)))
        << ",\"statusTypeCode\":" << JsonText(Text(a.StatusTypeCode()))
        << ",\"statusTypeDescription\":" << JsonText(Text(a.StatusTypeDescription()))
        << ",\"statusCode\":" << JsonText(Text(a.StatusCode())) << ",\"locationCode\":" << JsonText(Text(a.LocationCode()))
        << ",\"locationDescription\":" << JsonText(Text(a.LocationDescription()))
        << ",\"signedForByName\":" << JsonText(Text(a.LocationSignedForByName()))
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

// Why a tracker's call failed, in either build: the service's own words when it refused (an
// error answer), otherwise what the transfer left in the answer.
template <class Tracker>
std::string TrackerFailure(const Tracker& t) {
  return t.ServiceError().empty() ? OneLine(t.LastXMLResponse()) : Text(t.ServiceError());
}

// A failed call: the one-line message on stderr, and with --json the same as an object on stdout,
// so that a script reading the output learns why it holds no shipment.
int Failed(const Args& args, const std::string& carrier, const String& number, const std::string& message) {
  if (args.Has("--json"))
    std::cout << JsonObject().Text("carrier", carrier).Text("trackingNumber", number).Text("error", message).Str()
              << "\n";
  std::cerr << "ktinet track: " << EscapeControls(message) << "\n";
  return kExitFailed;
}

#if KTINET_LEGACY_TRACKERS

// The lines of a list, for the JSON arrays.
std::string LinesJson(const TStrings& list) {
  std::string out = "[";
  for (int i = 0; i < list.Count(); ++i) out += (i ? "," : "") + JsonText(Text(list[i]));
  return out + "]";
}

int RunUps(const Args& args, const String& number) {
  for (const auto& option : SocketOptions())
    if (args.Has(option.name)) throw UsageError(option.name + " applies to fedex only");
  TKtUPSTracker ups(nullptr);
  if (auto license = Secret(args, "--license", "KTINET_LICENSE")) ups.SetAccessLicenseNumber(UTF8ToString(*license));
  if (auto host = args.Get("--host")) ups.SetHost(UTF8ToString(*host));
  if (args.Has("--port")) ups.SetPort(static_cast<Word>(args.GetInt("--port", 443, 1, 65535)));
  if (auto ca = args.Get("--cacert")) ups.SetCAFile(UTF8ToString(*ca));
  ups.SetIgnoreCertificateErrors(args.Has("--insecure"));
  ups.SetTrackingNumber(number);
  if (!ups.Execute()) {
    // This tracker keeps no error texts of the transfer: only what the service sent, if anything.
    return Failed(args, "ups", number,
                  ups.ServiceError().empty() && ups.LastXMLResponse().empty()
                      ? std::string("the service could not be reached, or its certificate was not trusted")
                      : TrackerFailure(ups));
  }
  if (args.Has("--json")) PrintJson(std::cout, "ups", number, ups, *ups.Activities());
  else PrintPlain(std::cout, number, ups, *ups.Activities());
  return kExitOk;
}

int RunFedEx(const Args& args, const String& number) {
  for (const char* option : {"--cacert", "--insecure", "--license", "--license-file"})
    if (args.Has(option)) throw UsageError(std::string(option) + " applies to ups only");
  TKtFedExTracker fedex(nullptr);
  if (auto host = args.Get("--host")) fedex.SetHost(UTF8ToString(*host));
  fedex.SetPort(static_cast<int>(args.GetInt("--port", 80, 1, 65535)));
  ApplySocketOptions(args, fedex);
  fedex.SetTrackingNumber(number);
  RunAskingProxyLogon(fedex, [&] { return fedex.Execute(); });
  if (!fedex.LastError().empty()) return Failed(args, "fedex", number, FailureText(fedex));
  if (!fedex.ServiceError().empty()) return Failed(args, "fedex", number, Text(fedex.ServiceError()));
  const TStrings& info = *fedex.ShipmentInfo();
  const TStrings& activity = *fedex.Activity();
  if (info.Count() == 0 && activity.Count() == 0)
    return Failed(args, "fedex", number, "the page carries no tracking sections");
  if (args.Has("--json")) {
    std::cout << "{\"carrier\":\"fedex\",\"trackingNumber\":" << JsonText(number) << ",\"shipmentInfo\":" << LinesJson(info)
              << ",\"activity\":" << LinesJson(activity) << "}\n";
    return kExitOk;
  }
  std::cout << "Tracking number:  " << EscapeControls(Text(number)) << "\n";
  std::cout << "Shipment:\n";
  for (int i = 0; i < info.Count(); ++i) std::cout << "  " << EscapeControls(Text(info[i])) << "\n";
  std::cout << "Activity:\n";
  for (int i = 0; i < activity.Count(); ++i) std::cout << "  " << EscapeControls(Text(activity[i])) << "\n";
  return kExitOk;
}

int RunTrack(const Args& args) {
  if (WantsRestTrack(args)) return RunRestTrack(args);
  args.ExpectPositional(2, 2);
  const std::string carrier = args.Positional()[0];
  const String number = UTF8ToString(args.Positional()[1]);
  if (carrier != "ups" && carrier != "fedex") throw UsageError("the carrier is ups or fedex, not '" + carrier + "'");
  ChooseBackendFromEnvironment();
  if (std::string(CurrentBackend().Name()) == "headless") SetBackend(std::make_unique<HeadlessBackend>(nullptr));
  return carrier == "ups" ? RunUps(args, number) : RunFedEx(args, number);
}

}  // namespace

bool RunTrackerOfForm(TComponent* c, std::ostream& out, std::ostream& err, bool& ok) {
  const std::string label = "ktinet form run: " + UTF8Encode(c->Name()) + ": " + UTF8Encode(c->ClassName()) + ": ";
  if (auto* ups = dynamic_cast<TKtUPSTracker*>(c)) {
    ok = ups->Execute();
    if (!ok)
      err << label << EscapeControls(TrackerFailure(*ups)) << "\n";
    else
      PrintPlain(out, ups->TrackingNumber(), *ups, *ups->Activities());
    return true;
  }
  if (auto* fedex = dynamic_cast<TKtFedExTracker*>(c)) {
    fedex->Execute();
    const std::string why = !fedex->LastError().empty() ? UTF8Encode(fedex->LastError()) : Text(fedex->ServiceError());
    ok = why.empty();
    if (!ok) {
      err << label << EscapeControls(why) << "\n";
      return true;
    }
    out << "Tracking number:  " << EscapeControls(Text(fedex->TrackingNumber())) << "\n";
    out << "Shipment:\n";
    for (int i = 0; i < fedex->ShipmentInfo()->Count(); ++i) out << "  " << EscapeControls(Text((*fedex->ShipmentInfo())[i])) << "\n";
    out << "Activity:\n";
    for (int i = 0; i < fedex->Activity()->Count(); ++i) out << "  " << EscapeControls(Text((*fedex->Activity())[i])) << "\n";
    return true;
  }
  return false;
}

namespace {

#else

void ApplyConnection(const Args& args, TKtInetCustomTracker& t) {
  ApplyTransferOptions(args);
  if (args.Has("--http")) t.SetService(isHTTP);
  if (auto host = args.Get("--host")) t.SetHost(UTF8ToString(*host));
  if (args.Has("--port")) t.SetPort(static_cast<Word>(args.GetInt("--port", 443, 1, 65535)));
  if (auto ca = args.Get("--cacert")) t.SetCAFile(UTF8ToString(*ca));
  t.SetIgnoreCertificateErrors(args.Has("--insecure"));
}

int RunTrack(const Args& args) {
  if (WantsRestTrack(args)) return RunRestTrack(args);
  args.ExpectPositional(2, 2);
  const std::string carrier = args.Positional()[0];
  const String number = UTF8ToString(args.Positional()[1]);
  if (carrier != "ups" && carrier != "fedex") throw UsageError("the carrier is ups or fedex, not '" + carrier + "'");
  // A failed call offers to retry; unattended runs answer that themselves, quietly.
  ChooseBackendFromEnvironment();
  if (std::string(CurrentBackend().Name()) == "headless") SetBackend(std::make_unique<HeadlessBackend>(nullptr));

  std::unique_ptr<TKtInetCustomTracker> tracker;
  if (carrier == "ups") {
    auto ups = std::make_unique<TKtUPSTracker>(nullptr);
    if (auto license = Secret(args, "--license", "KTINET_LICENSE")) ups->SetAccessLicenseNumber(UTF8ToString(*license));
    tracker = std::move(ups);
  } else {
    auto fedex = std::make_unique<TKtFedExTracker>(nullptr);
    TKtFedExWebAuthenticationDetail* d = fedex->WebAuthenticationDetail();
    if (auto v = Secret(args, "--key", "KTINET_KEY")) d->UserCredential()->SetKey(UTF8ToString(*v));
    if (auto v = Secret(args, "--password", "KTINET_PASSWORD")) d->UserCredential()->SetPassword(UTF8ToString(*v));
    if (auto v = args.Get("--account")) d->ClientDetail()->SetAccountNumber(UTF8ToString(*v));
    if (auto v = args.Get("--meter")) d->ClientDetail()->SetMeterNumber(UTF8ToString(*v));
    tracker = std::move(fedex);
  }
  ApplyConnection(args, *tracker);
  tracker->SetTrackingNumber(number);
  const bool ok = tracker->Execute();
  if (!ok) return Failed(args, carrier, number, TrackerFailure(*tracker));
  const auto& shipment = dynamic_cast<const TKtShipmentDetails&>(*tracker);
  if (args.Has("--json")) PrintJson(std::cout, carrier, number, shipment, *tracker->Activities());
  else PrintPlain(std::cout, number, shipment, *tracker->Activities());
  return kExitOk;
}

}  // namespace

bool RunTrackerOfForm(TComponent* c, std::ostream& out, std::ostream& err, bool& ok) {
  auto* tracker = dynamic_cast<TKtInetCustomTracker*>(c);
  if (!tracker) return false;
  ok = tracker->Execute();
  if (!ok) {
    err << "ktinet form run: " << UTF8Encode(c->Name()) << ": " << UTF8Encode(c->ClassName()) << ": "
        << EscapeControls(TrackerFailure(*tracker)) << "\n";
    return true;
  }
  PrintPlain(out, tracker->TrackingNumber(), dynamic_cast<const TKtShipmentDetails&>(*tracker), *tracker->Activities());
  return true;
}

namespace {

#endif  // KTINET_LEGACY_TRACKERS

// ---- demo -------------------------------------------------------------------------------------

const char kDemoUpsAnswer[] =
    "<?xml version=\"1.0\"?><TrackResponse><Shipment><Service><Code>003</Code><Description>GROUND</Description>"
    "</Service><PickupDate>20261201</PickupDate><Package><Activity><Status><StatusType><Code>D</Code>"
    "<Description>DELIVERED</Description></StatusType></Status><Date>20261203</Date><Time>101500</Time></Activity>"
    "<Activity><Status><StatusType><Code>P</Code><Description>PICKUP SCAN</Description></StatusType></Status>"
    "<Date>20261201</Date><Time>170000</Time></Activity></Package></Shipment></TrackResponse>";

// Reads one request through `receive` (what arrives next; empty at the end): the head up to its
// empty line, then as many body bytes as its Content-Length names.
template <class Receive>
void ReadRequest(Receive receive, std::string& head, std::string& body) {
  std::string data;
  size_t end;
  while ((end = data.find("\r\n\r\n")) == std::string::npos) {
    std::string more = receive(65536);
    if (more.empty()) break;
    data += more;
  }
  if (end == std::string::npos) {
    head = data;
    return;
  }
  head = data.substr(0, end + 4);
  body = data.substr(end + 4);
  std::string lower;
  for (char c : head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t length = 0;
  if (size_t at = lower.find("\r\ncontent-length:"); at != std::string::npos) length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
  while (body.size() < length) {
    std::string more = receive(length - body.size());
    if (more.empty()) break;
    body += more;
  }
}

// The answer to one POST: `answer` when it went to `path` and its body holds `mustContain`,
// otherwise 404.
std::string PostAnswer(const std::string& head, const std::string& body, const std::string& path,
                       const std::string& answer, const std::string& mustContain) {
  const bool match = head.rfind("POST " + path + " ", 0) == 0 && body.find(mustContain) != std::string::npos;
  std::string content = match ? answer : std::string("not found");
  return std::string(match ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
         "\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: " + std::to_string(content.size()) +
         "\r\n\r\n" + content;
}

DemoOutcome TrackerOutcome(bool ok, const String& number, int port, const String& response,
                           const TKtInetActivities& list) {
  DemoOutcome out;
  out.did = "tracking " + UTF8Encode(number) + " at a carrier stand-in on 127.0.0.1:" + std::to_string(port);
  if (!ok) {
    out.result = "failed: " + OneLine(response);
  } else if (list.Count() == 0) {
    out.result = "no activities in the answer";
  } else {
    const TKtInetActivity& a = *list.Items(0);
    out.ok = true;
    out.result = std::to_string(list.Count()) + " activities, latest " + UTF8Encode(a.StatusTypeDescription()) + " " +
                 When(a.DateTime(), true);
  }
  return out;
}

#if KTINET_LEGACY_TRACKERS

// A key and a self-signed certificate for 127.0.0.1 that is its own authority, made when the demo
// runs; the certificate is also written to a PEM file for the tracker to trust, so the demo's
// request is verified like any other.
class DemoCertificate {
 public:
  DemoCertificate() {
    FKey = EVP_EC_gen("P-256");
    FCert = X509_new();
    if (!FKey || !FCert) return;
    X509_set_version(FCert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(FCert), 1);
    X509_gmtime_adj(X509_getm_notBefore(FCert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(FCert), 24 * 3600);
    X509_set_pubkey(FCert, FKey);
    X509_NAME* name = X509_get_subject_name(FCert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("ktinet demo"), -1, -1, 0);
    X509_set_issuer_name(FCert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, FCert, FCert, nullptr, nullptr, 0);
    for (auto [nid, value] : {std::pair{NID_basic_constraints, "critical,CA:TRUE"},
                              std::pair{NID_key_usage, "critical,digitalSignature,keyCertSign"},
                              std::pair{NID_subject_alt_name, "IP:127.0.0.1"}}) {
      X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
      if (!ext) return;
      X509_add_ext(FCert, ext, -1);
      X509_EXTENSION_free(ext);
    }
    if (!X509_sign(FCert, FKey, EVP_sha256())) return;
    char path[] = "/tmp/ktinet-demo-ca-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return;
    FILE* f = fdopen(fd, "w");
    if (!f) {
      close(fd);
      unlink(path);
      return;
    }
    const bool written = PEM_write_X509(f, FCert) == 1;
    fclose(f);
    if (!written) {
      unlink(path);
      return;
    }
    FCAFile = path;
  }
  ~DemoCertificate() {
    if (!FCAFile.empty()) unlink(FCAFile.c_str());
    X509_free(FCert);
    EVP_PKEY_free(FKey);
  }
  DemoCertificate(const DemoCertificate&) = delete;
  DemoCertificate& operator=(const DemoCertificate&) = delete;

  bool Ready() const { return !FCAFile.empty(); }
  const std::string& CAFile() const { return FCAFile; }
  EVP_PKEY* Key() const { return FKey; }
  X509* Cert() const { return FCert; }

 private:
  EVP_PKEY* FKey = nullptr;
  X509* FCert = nullptr;
  std::string FCAFile;
};

// The POST handler over TLS with the demo certificate.
DemoHandler HttpsPostHandler(const DemoCertificate& certificate, std::string path, std::string answer,
                             std::string mustContain) {
  return [&certificate, path, answer, mustContain](DemoConnection& conn) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!ctx || SSL_CTX_use_certificate(ctx.get(), certificate.Cert()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx.get(), certificate.Key()) != 1)
      return;
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
    // A silent client cannot hold the demo up.
    timeval wait{5, 0};
    setsockopt(conn.Handle(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (!ssl || SSL_set_fd(ssl.get(), conn.Handle()) != 1 || SSL_accept(ssl.get()) != 1) return;
    std::string head, body;
    ReadRequest(
        [&](size_t max) {
          std::string chunk(std::min<size_t>(max, 65536), '\0');
          int got = SSL_read(ssl.get(), chunk.data(), static_cast<int>(chunk.size()));
          chunk.resize(got > 0 ? static_cast<size_t>(got) : 0);
          return chunk;
        },
        head, body);
    const std::string reply = PostAnswer(head, body, path, answer, mustContain);
    SSL_write(ssl.get(), reply.data(), static_cast<int>(reply.size()));
    SSL_shutdown(ssl.get());
  };
}

DemoOutcome DemoUps() {
  DemoCertificate certificate;
  if (!certificate.Ready()) return DemoOutcome{false, "tracking over HTTPS", "no demo certificate could be made"};
  DemoServer site(HttpsPostHandler(certificate, "/ups.app/xml/Track", kDemoUpsAnswer,
                                   "<TrackingNumber>#1Z999AA10123456784<"));
  TBackendScope quiet(std::make_unique<HeadlessBackend>(nullptr));
  TKtUPSTracker tracker(nullptr);
  tracker.SetHost(UTF8ToString(DemoServer::Host()));
  tracker.SetPort(static_cast<Word>(site.Port()));
  tracker.SetCAFile(UTF8ToString(certificate.CAFile()));
  const String number = u"1Z999AA10123456784";
  tracker.SetTrackingNumber(number);
  const bool ok = tracker.Execute();
  DemoOutcome out = TrackerOutcome(ok, number, site.Port(), tracker.LastXMLResponse(), *tracker.Activities());
  out.did += " over verified HTTPS";
  return out;
}

const char kDemoFedExPage[] =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>\r\n<!-- shipment info -->\r\n<table>\r\n"
    "  <tr><td>Tracking number</td><td>7946 1234 5678</td></tr>\r\n"
    "  <tr><td>Service</td><td>FedEx Ground</td></tr>\r\n</table>\r\n<!-- BEGIN Scan Activity -->\r\n<table>\r\n"
    "  <tr><td>Dec 3, 2026 10:15 am</td><td>Delivered</td><td>ANYTOWN, GA</td></tr>\r\n"
    "  <tr><td>Dec 1, 2026 5:00 pm</td><td>Picked up</td><td>TIMONIUM, MD</td></tr>\r\n"
    "</table>\r\n<!-- END Scan Activity -->\r\n</body></html>\r\n";

DemoOutcome DemoFedEx() {
  DemoServer site([](DemoConnection& conn) {
    std::string request = conn.ReceiveUntil("\r\n\r\n");
    if (request.rfind("GET /cgi-bin/tracking?", 0) != 0 ||
        request.find("&tracknumbers=7946%201234%205678   HTTP/1.0\r\n") == std::string::npos) {
      conn.Send("HTTP/1.0 404 Not Found\r\n\r\n");
      return;
    }
    conn.Send(kDemoFedExPage);
  });
  TKtFedExTracker tracker(nullptr);
  tracker.SetHost(UTF8ToString(DemoServer::Host()));
  tracker.SetPort(site.Port());
  tracker.SetConnectTimeout(5000);
  tracker.SetReadTimeout(5000);
  tracker.SetTrackingNumber(u"7946 1234 5678");
  tracker.Execute();

  DemoOutcome out;
  out.did = "tracking 7946 1234 5678 on a tracking page at 127.0.0.1:" + std::to_string(site.Port());
  const TStrings& scans = *tracker.Activity();
  if (!tracker.LastError().empty()) {
    out.result = "error: " + UTF8Encode(tracker.LastError());
  } else if (tracker.ShipmentInfo()->Values(u"Service") != u"FedEx Ground" || scans.Count() != 2) {
    out.result = "the page's sections were not read";
  } else {
    out.ok = true;
    out.result = std::to_string(tracker.ShipmentInfo()->Count()) + " shipment lines, " + std::to_string(scans.Count()) +
                 " scans, latest " + Text(scans[0]);
  }
  return out;
}

#else

const char kDemoFedExAnswer[] =
    "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<SOAP-ENV:Body><TrackReply xmlns=\"http://fedex.com/ws/track/v10\"><CompletedTrackDetails><TrackDetails>"
    "<Service><Type>FEDEX_GROUND</Type></Service><Events><Timestamp>2026-12-03T10:15:00-05:00</Timestamp>"
    "<EventType>DL</EventType><EventDescription>Delivered</EventDescription></Events></TrackDetails>"
    "</CompletedTrackDetails></TrackReply></SOAP-ENV:Body></SOAP-ENV:Envelope>";

// Answers one POST to `path` with `answer` (anything else with 404), reading the body it is sent.
DemoHandler PostHandler(std::string path, std::string answer, std::string mustContain) {
  return [path, answer, mustContain](DemoConnection& conn) {
    std::string head, body;
    ReadRequest([&](size_t max) { return conn.Receive(5000, max); }, head, body);
    conn.Send(PostAnswer(head, body, path, answer, mustContain));
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
  return TrackerOutcome(ok, number, site.Port(), tracker.LastXMLResponse(), *tracker.Activities());
}

DemoOutcome DemoUps() {
  return DemoTracker<TKtUPSTracker>("/ups.app/xml/Track", kDemoUpsAnswer, "<TrackingNumber>#1Z999AA10123456784<",
                                    u"1Z999AA10123456784");
}

DemoOutcome DemoFedEx() {
  return DemoTracker<TKtFedExTracker>("/web-services/track", kDemoFedExAnswer, "<v10:Value>123456789012<",
                                      u"123456789012");
}

#endif  // KTINET_LEGACY_TRACKERS

}  // namespace

#if KTINET_LEGACY_TRACKERS

std::vector<Args::OptionSpec> TrackOptions() {
  auto specs = SocketOptions();
  for (const char* name : {"--host", "--port", "--cacert"}) specs.push_back({name, "", true});
  for (const char* name : {"--insecure", "--json"}) specs.push_back({name, "", false});
  AppendOptions(specs, SecretOptions("--license"));
  AppendOptions(specs, RestTrackOptions());
  return specs;
}

KTINET_COMMAND(Command{
    "track", "track a UPS or FedEx parcel (TKtUPSTracker, TKtFedExTracker)",
    std::string("Usage: ktinet track ups|fedex NUMBER [OPTIONS]\n"
                "       ktinet track --api rest ups|fedex NUMBER --client-id ID [OPTIONS]\n\n"
                "  ups     posts the UPS tracking request, always over HTTPS, and prints the\n"
                "          shipment and one line per activity (date, status, location).\n"
                "          Certificates are verified against the system's authorities and the\n"
                "          host name.\n"
                "  fedex   fetches the FedEx tracking page over HTTP and prints the lines of its\n"
                "          shipment section and of its scan-activity section (a row of a label\n"
                "          and a value cell reads label=value).\n\n"
                "Exits 1 when the call fails or the service answers with an error (ups: an HTTP status\n"
                "of 400 or more, a SOAP fault, an Error element; fedex: an HTTP status of 400 or more):\n"
                "its message goes to stderr. For fedex, also when the page has no tracking sections.\n\n"
                "  --host H            the service host (UPS: onlinetools.ups.com, FedEx: www.fedex.com)\n"
                "  --port P            its port (UPS: 443, FedEx: 80)\n"
                "  --cacert FILE       UPS: also trust the certificate authorities in this PEM file\n"
                "  --insecure          UPS: do not verify the server's certificate (anyone on the path\n"
                "                      could read the licence number and forge the answer)\n"
                "  --json              print the result as JSON ({\"carrier\", \"trackingNumber\",\n"
                "                      \"error\"} when the call failed)\n") +
        SecretHelp("--license", "", "UPS: the access licence number", "KTINET_LICENSE", 22, false) + "FedEx only:\n" +
        kSocketOptionsHelp + RestTrackHelp(),
    TrackOptions(), RunTrack});

#else

std::vector<Args::OptionSpec> TrackOptions() {
  std::vector<Args::OptionSpec> specs = {
      {"--host", "", true}, {"--port", "", true}, {"--http", "", false}, {"--account", "", true},
      {"--meter", "", true}, {"--json", "", false}};
  for (const char* secret : {"--license", "--key", "--password"})
    AppendOptions(specs, SecretOptions(secret));
  AppendOptions(specs, TlsOptions());
  AppendOptions(specs, DeadlineOptions());
  AppendOptions(specs, RestTrackOptions());
  return specs;
}

KTINET_COMMAND(Command{
    "track", "track a UPS or FedEx parcel (TKtUPSTracker, TKtFedExTracker)",
    std::string("Usage: ktinet track ups|fedex NUMBER [OPTIONS]\n"
    "       ktinet track --api rest ups|fedex NUMBER --client-id ID [OPTIONS]\n\n"
    "Posts the carrier's tracking request over HTTPS and prints the shipment and one line per\n"
    "activity (date, status, location). Certificates are verified against the system's\n"
    "authorities and the host name. Exits 1 when the call fails or the service answers with an\n"
    "error (an HTTP status of 400 or more, a SOAP fault, an Error element): its message goes to\n"
    "stderr.\n\n"
    "  --host H            the service host (UPS: onlinetools.ups.com, FedEx: ws.fedex.com)\n"
    "  --port P            its port (443)\n"
    "  --http              plain HTTP instead of HTTPS (port 80 unless --port)\n"
    "  --account A --meter M\n"
    "                      FedEx: the account and meter numbers\n"
    "  --json              print the result as JSON ({\"carrier\", \"trackingNumber\",\n"
    "                      \"error\"} when the call failed)\n") +
        SecretHelp("--license", "", "UPS: the access licence number", "KTINET_LICENSE", 22, false) +
        SecretHelp("--key", "", "FedEx: the user credential's key", "KTINET_KEY", 22, false) +
        SecretHelp("--password", "", "FedEx: the user credential's password", "KTINET_PASSWORD", 22, false) +
        kTlsOptionsHelp + kDeadlineOptionsHelp + RestTrackHelp(),
    TrackOptions(), RunTrack});

#endif  // KTINET_LEGACY_TRACKERS

KTINET_DEMO_STEP(DemoStep{80, "TKtUPSTracker", DemoUps});
KTINET_DEMO_STEP(DemoStep{81, "TKtFedExTracker", DemoFedEx});

}  // namespace ktinet::cli
