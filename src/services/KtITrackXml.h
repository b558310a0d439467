// Reading the carriers' tracking answers, shared by every build of the trackers: values and dates
// of the XML engine's items, what makes an answer an error answer, and the UPS request and answer (the body the UPS service expects and
// how its TrackResponse fills a tracker's shipment properties and activities). The answer reader
// is a template so that it fills whichever address and activity classes the tracker unit of the
// build declares.
#pragma once

#include <cstdint>

#include "rtl/DateTime.h"
#include "rtl/System.h"
#include "xml/KtInetXML.h"

namespace ktinet {

namespace track_detail {
// The value of the first element named Tag (ignoring case) at or below X; empty when there is none.
String ValueUnder(const TKtXMLEngine& Engine, TKtXMLItem* X, const String& Tag);
// Reads the date of "YYYYMMDD" (fixed positions); false when it is not one.
bool ReadYYYYMMDD(const String& S, TDateTime& Out);
// Reads the time of "HHMMSS" (fixed positions); false when it is not one.
bool ReadHHMMSS(const String& S, TDateTime& Out);
}  // namespace track_detail

// The message of an error answer of an XML service: the faultstring (or Reason text) of a SOAP
// fault, or the description and code of an Error element; empty when the answer is no error.
String XMLServiceError(const String& Answer);

// What makes a tracker's answer an error answer, for every build of the trackers: the service's
// own words (XMLServiceError), else "the service answered <StatusLine>" (or the bare status when
// there is no line) for an HTTP status of 400 or more; empty for a good answer.
String TrackServiceError(std::uint32_t HttpStatus, const String& StatusLine, const String& Answer);

namespace ups_detail {

inline constexpr const char16_t* kHost = u"onlinetools.ups.com";
inline constexpr const char16_t* kAccessLicenseNumber = u"9D27C0B5E1F4A368";
inline constexpr const char16_t* kTrackPath = u"/ups.app/xml/Track";
inline constexpr const char16_t* kContentTypeLine = u"Content-Type: application/x-www-form-urlencoded";

// The access request and the track request, six lines joined by CR LF; the values go in as they
// are (the service reads them unescaped).
String TrackRequestBody(const String& AccessLicenseNumber, const String& Agent, const String& TrackingNumber);

// Where a TrackResponse goes: the tracker's shipment fields and its activity collection.
template <class TAddress, class TActivities>
struct TTrackResult {
  String& ShipperNumber;
  TAddress& ShipperAddress;
  TAddress& ShipToAddress;
  String& IdentificationNumber;
  TDateTime& PickupDate;
  String& ServiceCode;
  String& ServiceDescription;
  String& ShipmentWeight;
  String& ShipmentWeightUnits;
  TActivities& Activities;
};

// UPS addresses carry no state, and the country as its code.
template <class TAddress>
void FillAddress(const TKtXMLEngine& Engine, TKtXMLItem* X, TAddress& A) {
  using track_detail::ValueUnder;
  if (!X) return;
  A.SetAddressLine1(ValueUnder(Engine, X, u"AddressLine1"));
  A.SetAddressLine2(ValueUnder(Engine, X, u"AddressLine2"));
  A.SetAddressLine3(ValueUnder(Engine, X, u"AddressLine3"));
  A.SetCity(ValueUnder(Engine, X, u"City"));
  A.SetPostalCode(ValueUnder(Engine, X, u"PostalCode"));
  A.SetCountry(ValueUnder(Engine, X, u"CountryCode"));
}

// Fills Out from the answer text (one character per byte). Values whose elements are absent keep
// what they had; the activities of the first Package are appended.
template <class TAddress, class TActivities>
void ParseTrackResponse(const String& Response, const TTrackResult<TAddress, TActivities>& Out) {
  using track_detail::ReadHHMMSS;
  using track_detail::ReadYYYYMMDD;
  using track_detail::ValueUnder;
  if (Response.empty()) return;
  TKtXMLEngine engine(nullptr);
  engine.ParseXMLFromString(Response, static_cast<Integer>(Response.size()));

  if (TKtXMLItem* s = engine.GetItemByTag(nullptr, u"Shipment")) {
    if (TKtXMLItem* p = engine.GetItemByTag(s, u"Shipper")) {
      Out.ShipperNumber = ValueUnder(engine, p, u"ShipperNumber");
      FillAddress(engine, engine.GetItemByTag(p, u"Address"), Out.ShipperAddress);
    }
    if (TKtXMLItem* d = engine.GetItemByTag(s, u"ShipTo")) FillAddress(engine, engine.GetItemByTag(d, u"Address"), Out.ShipToAddress);
    Out.IdentificationNumber = ValueUnder(engine, s, u"ShipmentIdentificationNumber");
    TDateTime pickup = 0;
    if (ReadYYYYMMDD(ValueUnder(engine, s, u"PickupDate"), pickup)) Out.PickupDate = pickup;
    if (TKtXMLItem* v = engine.GetItemByTag(s, u"Service")) {
      Out.ServiceCode = ValueUnder(engine, v, u"Code");
      Out.ServiceDescription = ValueUnder(engine, v, u"Description");
    }
    if (TKtXMLItem* w = engine.GetItemByTag(s, u"ShipmentWeight")) {
      Out.ShipmentWeight = ValueUnder(engine, w, u"Weight");
      if (TKtXMLItem* u = engine.GetItemByTag(w, u"UnitOfMeasurement")) Out.ShipmentWeightUnits = ValueUnder(engine, u, u"Code");
    }
  }

  TKtXMLItem* k = engine.GetItemByTag(nullptr, u"Package");
  if (!k) return;
  TKtXMLItems* children = k->Items();
  for (int i = 0; i < children->Count(); ++i) {
    TKtXMLItem* c = children->Items(i);
    if (c->TagNameView() != u"Activity") continue;
    auto* activity = Out.Activities.Add();
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

}  // namespace ups_detail

}  // namespace ktinet
