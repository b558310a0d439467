#include "services/KtIUPS.h"

#include "xml/KtInetXML.h"

namespace ktinet {

using track_detail::ReadYYYYMMDD;
using track_detail::ValueUnder;

namespace {

// The time of "HHMMSS" (fixed positions).
bool ReadHHMMSS(const String& S, TDateTime& Out) {
  if (S.size() < 6) return false;
  int parts[3] = {0, 0, 0};
  for (int p = 0; p < 3; ++p) {
    for (int k = 0; k < 2; ++k) {
      Char c = S[p * 2 + k];
      if (c < u'0' || c > u'9') return false;
      parts[p] = parts[p] * 10 + (c - u'0');
    }
  }
  return TryEncodeTime(static_cast<Word>(parts[0]), static_cast<Word>(parts[1]), static_cast<Word>(parts[2]), 0, Out);
}

// UPS addresses carry no state here, and the country as its code.
void FillAddress(const TKtXMLEngine& engine, TKtXMLItem* x, TKtInetActivityAddress& a) {
  if (!x) return;
  a.SetAddressLine1(ValueUnder(engine, x, u"AddressLine1"));
  a.SetAddressLine2(ValueUnder(engine, x, u"AddressLine2"));
  a.SetAddressLine3(ValueUnder(engine, x, u"AddressLine3"));
  a.SetCity(ValueUnder(engine, x, u"City"));
  a.SetPostalCode(ValueUnder(engine, x, u"PostalCode"));
  a.SetCountry(ValueUnder(engine, x, u"CountryCode"));
}

}  // namespace

TKtUPSTracker::TKtUPSTracker(TComponent* AOwner)
    : TKtInetCustomTracker(AOwner),
      FShipperAddress(std::make_unique<TKtInetActivityAddress>()),
      FShipToAddress(std::make_unique<TKtInetActivityAddress>()) {
  FAccessLicenseNumber = DefaultAccessLicenseNumber;
  SetHost(DefaultHost);
}

TKtUPSTracker::~TKtUPSTracker() = default;

String TKtUPSTracker::GetTrackAppHeader() { return u"/ups.app/xml/Track"; }

void TKtUPSTracker::BuildRequestHeader(String& /*FirstHeader*/, String& SecondHeader, String& Body) {
  SecondHeader = u"Content-Type: application/x-www-form-urlencoded";
  Body = u"<?xml version=\"1.0\"?><AccessRequest xml:lang=\"en-US\"><AccessLicenseNumber>" + FAccessLicenseNumber +
         u"</AccessLicenseNumber>\r\n"
         u"<UserId>qzq</UserId><Password>qzq</Password></AccessRequest>\r\n"
         u"<?xml version=\"1.0\"?><TrackRequest xml:lang=\"en-US\"><Request><TransactionReference>\r\n"
         u"<CustomerContext>" + Agent() + u"</CustomerContext><XpciVersion>1.0</XpciVersion></TransactionReference>\r\n"
         u"<RequestAction>Track</RequestAction><RequestOption>activity</RequestOption></Request>\r\n"
         u"<TrackingNumber>#" + TrackingNumber() + u"</TrackingNumber></TrackRequest>";
}

void TKtUPSTracker::ParseXMLResponse() {
  if (FLastXMLResponse.empty()) return;
  TKtXMLEngine engine(nullptr);
  engine.ParseXMLFromString(FLastXMLResponse, static_cast<Integer>(FLastXMLResponse.size()));

  if (TKtXMLItem* s = engine.GetItemByTag(nullptr, u"Shipment")) {
    if (TKtXMLItem* p = engine.GetItemByTag(s, u"Shipper")) {
      FShipperNumber = ValueUnder(engine, p, u"ShipperNumber");
      FillAddress(engine, engine.GetItemByTag(p, u"Address"), *FShipperAddress);
    }
    if (TKtXMLItem* d = engine.GetItemByTag(s, u"ShipTo")) FillAddress(engine, engine.GetItemByTag(d, u"Address"), *FShipToAddress);
    FIdentificationNumber = ValueUnder(engine, s, u"ShipmentIdentificationNumber");
    TDateTime pickup = 0;
    if (ReadYYYYMMDD(ValueUnder(engine, s, u"PickupDate"), pickup)) FPickupDate = pickup;
    if (TKtXMLItem* v = engine.GetItemByTag(s, u"Service")) {
      FServiceCode = ValueUnder(engine, v, u"Code");
      FServiceDescription = ValueUnder(engine, v, u"Description");
    }
    if (TKtXMLItem* w = engine.GetItemByTag(s, u"ShipmentWeight")) {
      FShipmentWeight = ValueUnder(engine, w, u"Weight");
      if (TKtXMLItem* u = engine.GetItemByTag(w, u"UnitOfMeasurement")) FShipmentWeightUnits = ValueUnder(engine, u, u"Code");
    }
  }

  TKtXMLItem* k = engine.GetItemByTag(nullptr, u"Package");
  if (!k) return;
  TKtXMLItems* children = k->Items();
  for (int i = 0; i < children->Count(); ++i) {
    TKtXMLItem* c = children->Items(i);
    if (c->TagNameView() != u"Activity") continue;
    TKtInetActivity* activity = Activities()->Add();
    if (TKtXMLItem* l = engine.GetItemByTag(c, u"ActivityLocation")) {
      activity->SetLocationCode(ValueUnder(engine, l, u"Code"));
      activity->SetLocationDescription(ValueUnder(engine, l, u"Description"));
      activity->SetLocationSignedForByName(ValueUnder(engine, l, u"SignedForByName"));
      FillAddress(engine, engine.GetItemByTag(c, u"Address"), *activity->Location());
    }
    if (engine.GetItemByTag(c, u"Status")) {
      if (TKtXMLItem* t = engine.GetItemByTag(c, u"StatusType")) {
        activity->SetStatusTypeCode(ValueUnder(engine, t, u"Code"));
        activity->SetStatusTypeDescription(ValueUnder(engine, t, u"Description"));
      }
      if (TKtXMLItem* q = engine.GetItemByTag(c, u"StatusCode")) activity->SetStatusCode(ValueUnder(engine, q, u"Code"));
    }
    TDateTime date = 0, time = 0;
    if (ReadYYYYMMDD(ValueUnder(engine, c, u"Date"), date) && ReadHHMMSS(ValueUnder(engine, c, u"Time"), time))
      activity->SetDateTime(date + time);
  }
}

}  // namespace ktinet
