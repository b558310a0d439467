#include "services/KtRestTrackers.h"

// Named here, not only through the header above, so that this unit is built with each form of
// the trackers: the address class of the package for host version 10 has no State, and the
// results must be laid out as the form this unit is linked with.
#include "services/KtIActivity.h"
#include "services/KtIActivityAddress.h"

#include <random>

#include "rtl/SysUtils.h"
#include "services/ServiceJson.h"

namespace ktinet {

namespace {

using Json = nlohmann::json;

// Documents deeper than this are not the services' answers.
constexpr int kMaxDepth = 32;

Json Parse(const std::string& body) { return ParseServiceJson(body, kMaxDepth); }

const Json& Nothing() {
  static const Json none;
  return none;
}

// The member of that name, or null when there is none (or `object` is no object).
const Json& At(const Json& object, const char* name) {
  if (!object.is_object()) return Nothing();
  const auto it = object.find(name);
  return it == object.end() ? Nothing() : *it;
}

// An array's first element, or null.
const Json& First(const Json& array) { return array.is_array() && !array.empty() ? array.front() : Nothing(); }

// A text member as text; numbers and booleans as written; anything else empty.
String Text(const Json& value) {
  if (value.is_string()) return UTF8ToString(value.get<std::string>());
  if (value.is_number_integer()) return IntToStr(static_cast<long long>(value.get<long long>()));
  if (value.is_number_float()) return UTF8ToString(value.dump());
  if (value.is_boolean()) return value.get<bool>() ? u"true" : u"false";
  return String();
}
String Text(const Json& object, const char* name) { return Trim(Text(At(object, name))); }

bool Digits(const std::string& s, size_t at, size_t count) {
  if (s.size() < at + count) return false;
  for (size_t i = at; i < at + count; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}
Word Number(const std::string& s, size_t at, size_t count) { return static_cast<Word>(std::stoi(s.substr(at, count))); }

// "YYYYMMDD" and "HHMMSS" (or "HHMM"); 0 when the date cannot be read, the date alone when the
// time cannot.
TDateTime CompactDateTime(const String& date, const String& time) {
  const std::string d = UTF8Encode(date), t = UTF8Encode(time);
  TDateTime day = 0, clock = 0;
  if (d.size() != 8 || !Digits(d, 0, 8) || !TryEncodeDate(Number(d, 0, 4), Number(d, 4, 2), Number(d, 6, 2), day))
    return 0;
  if ((t.size() == 6 && Digits(t, 0, 6) && TryEncodeTime(Number(t, 0, 2), Number(t, 2, 2), Number(t, 4, 2), 0, clock)) ||
      (t.size() == 4 && Digits(t, 0, 4) && TryEncodeTime(Number(t, 0, 2), Number(t, 2, 2), 0, 0, clock)))
    return day + clock;
  return day;
}

// "YYYY-MM-DDTHH:MM:SS" with an optional zone, as the place's own clock showed it (the zone is
// not applied: the times of a parcel's history read in the places they happened); 0 when
// unreadable. "YYYY-MM-DD" alone gives the date.
TDateTime IsoDateTime(const String& text) {
  const std::string s = UTF8Encode(text);
  TDateTime day = 0, clock = 0;
  if (!Digits(s, 0, 4) || s.size() < 10 || s[4] != '-' || !Digits(s, 5, 2) || s[7] != '-' || !Digits(s, 8, 2) ||
      !TryEncodeDate(Number(s, 0, 4), Number(s, 5, 2), Number(s, 8, 2), day))
    return 0;
  if (s.size() >= 19 && s[10] == 'T' && Digits(s, 11, 2) && s[13] == ':' && Digits(s, 14, 2) && s[16] == ':' &&
      Digits(s, 17, 2) && TryEncodeTime(Number(s, 11, 2), Number(s, 14, 2), Number(s, 17, 2), 0, clock))
    return day + clock;
  return day;
}

void SetState(TKtInetActivityAddress& a, const String& state) {
#if KTINET_LEGACY_TRACKERS
  // The address of that build has no state: it joins the city, as a label would show it.
  if (!state.empty()) a.SetCity(a.City().empty() ? state : a.City() + u", " + state);
#else
  a.SetState(state);
#endif
}

// A UPS address: addressLine1..3, city, stateProvince, postalCode, countryCode (or country).
void UpsAddress(const Json& j, TKtInetActivityAddress& a) {
  a.SetAddressLine1(Text(j, "addressLine1"));
  a.SetAddressLine2(Text(j, "addressLine2"));
  a.SetAddressLine3(Text(j, "addressLine3"));
  a.SetCity(Text(j, "city"));
  SetState(a, Text(j, "stateProvince"));
  a.SetPostalCode(Text(j, "postalCode"));
  String country = Text(j, "countryCode");
  a.SetCountry(country.empty() ? Text(j, "country") : country);
}

// A FedEx address: streetLines[], city, stateOrProvinceCode, postalCode, countryCode.
void FedExAddress(const Json& j, TKtInetActivityAddress& a) {
  const Json& lines = At(j, "streetLines");
  String line[3];
  int n = 0;
  if (lines.is_array())
    for (const Json& l : lines) {
      const String s = Trim(Text(l));
      if (!s.empty() && n < 3) line[n++] = s;
    }
  a.SetAddressLine1(line[0]);
  a.SetAddressLine2(line[1]);
  a.SetAddressLine3(line[2]);
  a.SetCity(Text(j, "city"));
  SetState(a, Text(j, "stateOrProvinceCode"));
  a.SetPostalCode(Text(j, "postalCode"));
  a.SetCountry(Text(j, "countryCode"));
}

// An id for one request: 32 letters and digits, as the UPS transId takes.
String TransactionId() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  String id;
  for (int i = 0; i < 32; ++i) id += static_cast<Char>(kAlphabet[random() % 36]);
  return id;
}

}  // namespace

// ---- TKtRestTracker ---------------------------------------------------------------------------

TKtRestTracker::TKtRestTracker(TComponent* AOwner)
    : TKtRestComponent(AOwner), FActivities(std::make_unique<TKtInetActivities>(this)) {}

TKtRestTracker::~TKtRestTracker() = default;

const TClassInfo* TKtRestTracker::StaticClassInfo() {
  static const TClassInfo* info =
      TClassBuilder<TKtRestTracker>(u"TKtRestTracker", TKtRestComponent::StaticClassInfo())
          .Property(u"TrackingNumber", &TKtRestTracker::TrackingNumber, &TKtRestTracker::SetTrackingNumber)
          .Property(u"ClientId", &TKtRestTracker::ClientId, &TKtRestTracker::SetClientId)
          .Property(u"ClientSecret", &TKtRestTracker::ClientSecret, &TKtRestTracker::SetClientSecret)
          .Property(u"Environment", &TKtRestTracker::Environment, &TKtRestTracker::SetEnvironment)
          .Default(static_cast<int>(reProduction))
          .Property(u"BaseUrl", &TKtRestTracker::BaseUrl, &TKtRestTracker::SetBaseUrl)
          .Property(u"Locale", &TKtRestTracker::Locale, &TKtRestTracker::SetLocale)
          .Build();
  return info;
}

void TKtRestTracker::SetTrackingNumber(const String& Value) {
  FTrackingNumber = Value;
  Clear();
}

void TKtRestTracker::Clear() {
  FActivities->Clear();
  FLastJSONResponse.clear();
  FHttpStatus = 0;
  FServiceError.clear();
  FRetryAfter.clear();
  FStatusCode.clear();
  FStatusDescription.clear();
  FSignedForByName.clear();
  FDeliveryLocation.clear();
  FDelivered = false;
  FDeliveryDate = 0;
  FShipperNumber.clear();
  const TKtInetActivityAddress none;
  FShipperAddress->Assign(&none);
  FShipToAddress->Assign(&none);
  FIdentificationNumber.clear();
  FPickupDate = 0;
  FServiceCode.clear();
  FServiceDescription.clear();
  FShipmentWeight.clear();
  FShipmentWeightUnits.clear();
}

String TKtRestTracker::ServiceUrl() const {
  String url = FBaseUrl.empty() ? (FEnvironment == reTest ? TestUrl() : ProductionUrl()) : FBaseUrl;
  while (!url.empty() && url.back() == u'/') url.pop_back();
  return url;
}

bool TKtRestTracker::LoadResponse(const std::string& Json) {
  Clear();
  FLastJSONResponse = UTF8ToString(Json);
  String error;
  if (ReadAnswer(Json, error)) return true;
  FServiceError = error.empty() ? String(u"the answer describes no package") : error;
  return false;
}

void TKtRestTracker::Refused(const TKtRestAnswer& Answer, const String& Words) {
  FHttpStatus = static_cast<DWORD>(Answer.Status);
  FServiceError = Words;
  if (FServiceError.empty())
    FServiceError = u"HTTP " + IntToStr(Answer.Status) + (Answer.StatusText.empty() ? u"" : u" " + Answer.StatusText);
  if (Answer.Status == 429) {
    FRetryAfter = Answer.RetryAfter;
    FServiceError += FRetryAfter.empty() ? String(u" (too many requests)") : u" (retry after " + FRetryAfter + u")";
  }
  Failed(FServiceError);
}

bool TKtRestTracker::TakeToken() {
  TKtRestAnswer answer;
  if (!RestCall(FToken.Request(), answer)) return false;
  String error;
  if (FToken.Accept(answer, TKtOAuthToken::SteadyNowMs(), error)) return true;
  FLastJSONResponse = UTF8ToString(answer.Body);
  Refused(answer, u"the credentials were refused: " + error);
  return false;
}

bool TKtRestTracker::AuthorizedCall(TKtRestRequest Request, TKtRestAnswer& Answer) {
  if (!FToken.Valid(TKtOAuthToken::SteadyNowMs()) && !TakeToken()) return false;
  Request.Headers.emplace_back(u"Authorization", u"Bearer " + FToken.AccessToken());
  if (!RestCall(Request, Answer)) return false;
  // A token the service no longer takes (revoked, or its clock runs ahead of ours) is replaced
  // once; a second 401 is the service's answer.
  if (Answer.Status != 401) return true;
  FToken.Forget();
  if (!TakeToken()) return false;
  Request.Headers.back().second = u"Bearer " + FToken.AccessToken();
  return RestCall(Request, Answer);
}

void TKtRestTracker::InternalExecute() {
  const String number = Trim(FTrackingNumber);
  Clear();
  if (number.empty()) {
    Failed(u"no tracking number");
    return;
  }
  for (Char c : number)
    if (c < u' ' || c == 0x7F) {
      Failed(u"the tracking number holds a control character");
      return;
    }
  if (FClientId.empty() || FClientSecret.empty()) {
    Failed(u"the client id and the client secret are both needed");
    return;
  }
  const String base = ServiceUrl();
  bool secure = false;
  String host, path;
  Word port = 0;
  if (!SplitRestUrl(base + u"/", secure, host, port, path) || path != u"/") {
    Failed(u"the base URL " + base + u" is not https://host[:port]");
    return;
  }
  // The client secret and the token travel in every exchange: in clear only to this machine.
  if (!secure && !(host == u"localhost" || host == u"::1" || host.rfind(u"127.", 0) == 0)) {
    Failed(u"the base URL " + base + u" would send the credentials unencrypted: use https://");
    return;
  }
  FToken.Configure(base + TokenPath(), FClientId, FClientSecret, ClientAuth());
  TKtRestAnswer answer;
  if (!AuthorizedCall(TrackRequest(base), answer)) return;
  FHttpStatus = static_cast<DWORD>(answer.Status);
  if (answer.Status < 200 || answer.Status > 299) {
    FLastJSONResponse = UTF8ToString(answer.Body);
    Refused(answer, RestErrorText(answer.Body));
    return;
  }
  if (!LoadResponse(answer.Body)) {
    FHttpStatus = static_cast<DWORD>(answer.Status);
    Failed(FServiceError);
    return;
  }
  FHttpStatus = static_cast<DWORD>(answer.Status);
}

// ---- UPS --------------------------------------------------------------------------------------

TKtUPSRestTracker::TKtUPSRestTracker(TComponent* AOwner) : TKtRestTracker(AOwner) {}

const TClassInfo* TKtUPSRestTracker::StaticClassInfo() {
  static const TClassInfo* info =
      TClassBuilder<TKtUPSRestTracker>(u"TKtUPSRestTracker", TKtRestTracker::StaticClassInfo())
          .Component()
          .Property(u"TransactionSource", &TKtUPSRestTracker::TransactionSource,
                    &TKtUPSRestTracker::SetTransactionSource)
          .Build();
  return info;
}

// UPS Tracking API v1: GET /api/track/v1/details/{inquiryNumber} with the query's locale and
// flags, and the transId and transactionSrc headers the API requires.
TKtRestRequest TKtUPSRestTracker::TrackRequest(const String& Base) const {
  TKtRestRequest r;
  r.Method = u"GET";
  r.Url = Base + u"/api/track/v1/details/" + UTF8ToString(FormEncode(UTF8Encode(Trim(TrackingNumber())))) +
          u"?locale=" + UTF8ToString(FormEncode(UTF8Encode(Locale().empty() ? String(u"en_US") : Locale()))) +
          u"&returnSignature=false&returnMilestones=false&returnPOD=false";
  String source = TransactionSource().empty() ? String(u"ktinet") : TransactionSource();
  if (HasLineBreakOrNul(source)) source = u"ktinet";
  r.Headers = {{u"Accept", u"application/json"}, {u"transId", TransactionId()}, {u"transactionSrc", source}};
  return r;
}

bool TKtUPSRestTracker::ReadAnswer(const std::string& Body, String& Error) {
  const Json doc = Parse(Body);
  if (!doc.is_object()) {
    Error = u"the answer is no JSON document";
    return false;
  }
  if (Error = RestErrorText(Body); !Error.empty()) return false;
  const Json& shipments = At(At(doc, "trackResponse"), "shipment");
  if (!shipments.is_array() || shipments.empty()) {
    Error = u"the answer holds no shipment";
    return false;
  }
  const String number = Trim(TrackingNumber());
  // The shipment and package asked about; the first ones when none names the number.
  const Json* shipment = &shipments.front();
  const Json* package = nullptr;
  bool found = false;
  for (const Json& s : shipments) {
    const Json& packages = At(s, "package");
    if (!packages.is_array()) continue;
    for (const Json& p : packages) {
      if (!p.is_object()) continue;
      if (!package) {
        shipment = &s;
        package = &p;
      }
      if (SameText(Text(p, "trackingNumber"), number)) {
        shipment = &s;
        package = &p;
        found = true;
        break;
      }
    }
    if (found) break;
  }
  if (!package || !package->is_object()) {
    // An unknown number comes back as a shipment with warnings and no package.
    std::string words;
    const Json& warnings = At(*shipment, "warnings");
    if (warnings.is_array())
      for (const Json& w : warnings) {
        const String message = Text(w, "message"), code = Text(w, "code");
        if (message.empty() && code.empty()) continue;
        if (!words.empty()) words += "; ";
        words += UTF8Encode(code.empty() ? message : message.empty() ? code : message + u" (error " + code + u")");
      }
    Error = words.empty() ? String(u"the answer holds no package") : UTF8ToString(words);
    return false;
  }
  const Json& p = *package;
  FIdentificationNumber = Text(*shipment, "inquiryNumber");
  if (FIdentificationNumber.empty()) FIdentificationNumber = Text(p, "trackingNumber");
  const Json& service = At(p, "service");
  FServiceCode = Text(service, "code");
  FServiceDescription = Text(service, "description");
  const Json& weight = At(p, "weight");
  FShipmentWeight = Text(weight, "weight");
  FShipmentWeightUnits = Text(weight, "unitOfMeasurement");
  FPickupDate = CompactDateTime(Text(*shipment, "pickupDate"), String());
  if (FPickupDate == 0) FPickupDate = CompactDateTime(Text(p, "pickupDate"), String());
  if (const Json& addresses = At(p, "packageAddress"); addresses.is_array())
    for (const Json& a : addresses) {
      const String type = UpperCase(Text(a, "type"));
      if (type == u"ORIGIN" || type == u"SHIPPER") UpsAddress(At(a, "address"), *FShipperAddress);
      else if (type == u"DESTINATION" || type == u"SHIP_TO") UpsAddress(At(a, "address"), *FShipToAddress);
    }
  const Json& current = At(p, "currentStatus");
  FStatusCode = Text(current, "code");
  FStatusDescription = Text(current, "description");
  const Json& delivery = At(p, "deliveryInformation");
  FSignedForByName = Text(delivery, "receivedBy");
  FDeliveryLocation = Text(delivery, "location");

  if (const Json& activities = At(p, "activity"); activities.is_array())
    for (const Json& a : activities) {
      if (!a.is_object()) continue;
      TKtInetActivity* item = Activities()->Add();
      const Json& status = At(a, "status");
      item->SetStatusTypeCode(Text(status, "type"));
      item->SetStatusTypeDescription(Text(status, "description"));
      item->SetStatusCode(Text(status, "code"));
      const Json& location = At(a, "location");
      item->SetLocationCode(Text(location, "slic"));
      UpsAddress(At(location, "address"), *item->Location());
      item->SetDateTime(CompactDateTime(Text(a, "date"), Text(a, "time")));
      if (item->StatusTypeCode() == u"D") {
        FDelivered = true;
        item->SetLocationSignedForByName(FSignedForByName);
        item->SetLocationDescription(FDeliveryLocation);
      }
    }
  // The delivery date: DEL once delivered, else the scheduled (SDD) or rescheduled (RDD) one;
  // deliveryTime's endTime is the delivery's time of day, or the end of the window promised.
  const Json& dates = At(p, "deliveryDate");
  const String endTime = Text(At(p, "deliveryTime"), "endTime");
  for (const char16_t* wanted : {u"DEL", u"RDD", u"SDD"}) {
    if (!dates.is_array() || FDeliveryDate != 0) break;
    for (const Json& d : dates)
      if (Text(d, "type") == wanted) {
        FDeliveryDate = CompactDateTime(Text(d, "date"), endTime);
        if (String(wanted) == u"DEL") FDelivered = true;
        break;
      }
  }
  return true;
}

// ---- FedEx ------------------------------------------------------------------------------------

TKtFedExRestTracker::TKtFedExRestTracker(TComponent* AOwner) : TKtRestTracker(AOwner) {}

const TClassInfo* TKtFedExRestTracker::StaticClassInfo() {
  static const TClassInfo* info =
      TClassBuilder<TKtFedExRestTracker>(u"TKtFedExRestTracker", TKtRestTracker::StaticClassInfo()).Component().Build();
  return info;
}

// FedEx Track API v1: POST /track/v1/trackingnumbers, one tracking number with detailed scans.
TKtRestRequest TKtFedExRestTracker::TrackRequest(const String& Base) const {
  TKtRestRequest r;
  r.Method = u"POST";
  r.Url = Base + u"/track/v1/trackingnumbers";
  String locale = Locale().empty() ? String(u"en_US") : Locale();
  if (HasLineBreakOrNul(locale)) locale = u"en_US";
  r.Headers = {{u"Content-Type", u"application/json"}, {u"Accept", u"application/json"}, {u"X-locale", locale}};
  Json body = {{"includeDetailedScans", true},
               {"trackingInfo", Json::array({{{"trackingNumberInfo", {{"trackingNumber", UTF8Encode(Trim(TrackingNumber()))}}}}})}};
  r.Body = body.dump();
  return r;
}

bool TKtFedExRestTracker::ReadAnswer(const std::string& Body, String& Error) {
  const Json doc = Parse(Body);
  if (!doc.is_object()) {
    Error = u"the answer is no JSON document";
    return false;
  }
  if (Error = RestErrorText(Body); !Error.empty()) return false;
  const Json& complete = At(At(doc, "output"), "completeTrackResults");
  if (!complete.is_array() || complete.empty()) {
    Error = u"the answer holds no track results";
    return false;
  }
  const String number = Trim(TrackingNumber());
  const Json* chosen = &complete.front();
  for (const Json& c : complete)
    if (SameText(Text(c, "trackingNumber"), number)) {
      chosen = &c;
      break;
    }
  const Json& result = First(At(*chosen, "trackResults"));
  if (!result.is_object()) {
    Error = u"the answer holds no track results";
    return false;
  }
  // An unknown number is a result that carries an error of its own.
  if (const Json& error = At(result, "error"); error.is_object()) {
    const String message = Text(error, "message"), code = Text(error, "code");
    Error = code.empty() ? message : message.empty() ? code : message + u" (error " + code + u")";
    if (!Error.empty()) return false;
  }
  FIdentificationNumber = Text(At(result, "trackingNumberInfo"), "trackingNumber");
  if (FIdentificationNumber.empty()) FIdentificationNumber = Text(*chosen, "trackingNumber");
  FedExAddress(At(At(result, "shipperInformation"), "address"), *FShipperAddress);
  FedExAddress(At(At(result, "recipientInformation"), "address"), *FShipToAddress);
  const Json& service = At(result, "serviceDetail");
  FServiceCode = Text(service, "type");
  FServiceDescription = Text(service, "description");
  const Json& weight = First(At(At(At(result, "packageDetails"), "weightAndDimensions"), "weight"));
  FShipmentWeight = Text(weight, "value");
  FShipmentWeightUnits = Text(weight, "unit");
  const Json& latest = At(result, "latestStatusDetail");
  FStatusCode = Text(latest, "code");
  FStatusDescription = Text(latest, "description");
  if (FStatusDescription.empty()) FStatusDescription = Text(latest, "statusByLocale");
  FDelivered = FStatusCode == u"DL";
  const Json& delivery = At(result, "deliveryDetails");
  FSignedForByName = Text(delivery, "receivedByName");
  FDeliveryLocation = Text(delivery, "locationDescription");
  if (FDeliveryLocation.empty()) {
    TKtInetActivityAddress where;
    FedExAddress(At(delivery, "actualDeliveryAddress"), where);
    FDeliveryLocation = where.Text();
  }
  TDateTime estimated = 0;
  if (const Json& dates = At(result, "dateAndTimes"); dates.is_array())
    for (const Json& d : dates) {
      const String type = Text(d, "type");
      const TDateTime when = IsoDateTime(Text(d, "dateTime"));
      if (type == u"ACTUAL_DELIVERY") FDeliveryDate = when;
      else if (type == u"ESTIMATED_DELIVERY") estimated = when;
      else if (type == u"ACTUAL_PICKUP") FPickupDate = when;
    }
  if (FDeliveryDate == 0) FDeliveryDate = estimated;

  if (const Json& scans = At(result, "scanEvents"); scans.is_array())
    for (const Json& s : scans) {
      if (!s.is_object()) continue;
      TKtInetActivity* item = Activities()->Add();
      item->SetStatusTypeCode(Text(s, "eventType"));
      String description = Text(s, "eventDescription");
      const String exception = Text(s, "exceptionDescription");
      if (!exception.empty() && exception != description)
        description = description.empty() ? exception : description + u": " + exception;
      item->SetStatusTypeDescription(description);
      item->SetStatusCode(Text(s, "derivedStatusCode"));
      item->SetLocationCode(Text(s, "locationId"));
      item->SetLocationDescription(Text(s, "locationType"));
      FedExAddress(At(s, "scanLocation"), *item->Location());
      item->SetDateTime(IsoDateTime(Text(s, "date")));
      if (item->StatusTypeCode() == u"DL") item->SetLocationSignedForByName(FSignedForByName);
    }
  return true;
}

}  // namespace ktinet
