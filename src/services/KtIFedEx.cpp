#include "services/KtIFedEx.h"

#include "core/ktiutil.h"
#include "xml/KtInetXML.h"

namespace ktinet {

using track_detail::ValueUnder;

void TKtFedExCredential::Assign(const TPersistent* Source) {
  if (auto* src = dynamic_cast<const TKtFedExCredential*>(Source)) {
    FKey = src->FKey;
    FPassword = src->FPassword;
    return;
  }
  TPersistent::Assign(Source);
}

void TKtFedExClientDetail::Assign(const TPersistent* Source) {
  if (auto* src = dynamic_cast<const TKtFedExClientDetail*>(Source)) {
    FAccountNumber = src->FAccountNumber;
    FCarrierCode = src->FCarrierCode;
    FCustomerTransactionId = src->FCustomerTransactionId;
    FIntegratorId = src->FIntegratorId;
    FMeterNumber = src->FMeterNumber;
    FLanguageCode = src->FLanguageCode;
    FLocaleCode = src->FLocaleCode;
    return;
  }
  TPersistent::Assign(Source);
}

String TKtFedExClientDetail::GetLocalizationXML() const {
  return u"<v10:Localization>\r\n  <v10:LanguageCode>" + XmlEscapeText(FLanguageCode) + u"</v10:LanguageCode>\r\n  <v10:LocaleCode>" +
         XmlEscapeText(FLocaleCode) + u"</v10:LocaleCode>\r\n</v10:Localization>\r\n";
}

TKtFedExWebAuthenticationDetail::TKtFedExWebAuthenticationDetail()
    : FParentCredential(std::make_unique<TKtFedExCredential>()),
      FUserCredential(std::make_unique<TKtFedExCredential>()),
      FClientDetail(std::make_unique<TKtFedExClientDetail>()) {}

TKtFedExWebAuthenticationDetail::~TKtFedExWebAuthenticationDetail() = default;

void TKtFedExWebAuthenticationDetail::Assign(const TPersistent* Source) {
  if (auto* src = dynamic_cast<const TKtFedExWebAuthenticationDetail*>(Source)) {
    FParentCredential->Assign(src->FParentCredential.get());
    FUserCredential->Assign(src->FUserCredential.get());
    FClientDetail->Assign(src->FClientDetail.get());
    return;
  }
  TPersistent::Assign(Source);
}

TKtFedExTracker::TKtFedExTracker(TComponent* AOwner)
    : TKtInetCustomTracker(AOwner),
      FWebAuthenticationDetail(std::make_unique<TKtFedExWebAuthenticationDetail>()) {
  SetHost(DefaultHost);
  TKtFedExClientDetail* client = FWebAuthenticationDetail->ClientDetail();
  client->SetCarrierCode(u"FDXG");
  client->SetCustomerTransactionId(u"Track By Number_v10");
  client->SetLanguageCode(u"EN");
  client->SetLocaleCode(u"us");
}

TKtFedExTracker::~TKtFedExTracker() = default;

String TKtFedExTracker::GetTrackAppHeader() { return u"/web-services/track"; }

void TKtFedExTracker::BuildRequestHeader(String& FirstHeader, String& SecondHeader, String& Body) {
  FirstHeader = String(u"SOAPAction: \"") + SoapAction + u"\"";
  SecondHeader = u"Content-Type: text/xml; charset=utf-8";
  const TKtFedExWebAuthenticationDetail& w = *FWebAuthenticationDetail;
  const TKtFedExClientDetail& c = *w.ClientDetail();
  const String localization = c.GetLocalizationXML();
  Body = String(u"<soapenv:Envelope xmlns:soapenv=\"") + SoapEnvelopeNamespace + u"\" xmlns:v10=\"" + TrackNamespace +
         u"\">\r\n"
         u"<soapenv:Header></soapenv:Header>\r\n"
         u"  <soapenv:Body>\r\n"
         u"    <v10:TrackRequest>\r\n"
         u"      <v10:WebAuthenticationDetail>\r\n"
         u"        <v10:ParentCredential>\r\n"
         u"          <v10:Key>" + XmlEscapeText(w.ParentCredential()->Key()) + u"</v10:Key>\r\n"
         u"          <v10:Password>" + XmlEscapeText(w.ParentCredential()->Password()) + u"</v10:Password>\r\n"
         u"        </v10:ParentCredential>\r\n"
         u"        <v10:UserCredential>\r\n"
         u"          <v10:Key>" + XmlEscapeText(w.UserCredential()->Key()) + u"</v10:Key>\r\n"
         u"          <v10:Password>" + XmlEscapeText(w.UserCredential()->Password()) + u"</v10:Password>\r\n"
         u"        </v10:UserCredential>\r\n"
         u"      </v10:WebAuthenticationDetail>\r\n"
         u"      <v10:ClientDetail>\r\n"
         u"        <v10:AccountNumber>" + XmlEscapeText(c.AccountNumber()) + u"</v10:AccountNumber>\r\n"
         u"        <v10:MeterNumber>" + XmlEscapeText(c.MeterNumber()) + u"</v10:MeterNumber>\r\n"
         u"        <v10:IntegratorId>" + XmlEscapeText(c.IntegratorId()) + u"</v10:IntegratorId>\r\n" +
         localization + u"      </v10:ClientDetail>\r\n"
         u"      <v10:TransactionDetail>\r\n"
         u"        <v10:CustomerTransactionId>" + XmlEscapeText(c.CustomerTransactionId()) + u"</v10:CustomerTransactionId>\r\n" +
         localization + u"      </v10:TransactionDetail>\r\n"
         u"      <v10:Version>\r\n"
         u"        <v10:ServiceId>trck</v10:ServiceId>\r\n"
         u"        <v10:Major>10</v10:Major>\r\n"
         u"        <v10:Intermediate>0</v10:Intermediate>\r\n"
         u"        <v10:Minor>0</v10:Minor>\r\n"
         u"      </v10:Version>\r\n"
         u"      <v10:SelectionDetails>\r\n"
         u"        <v10:CarrierCode>" + XmlEscapeText(c.CarrierCode()) + u"</v10:CarrierCode>\r\n"
         u"        <v10:PackageIdentifier>\r\n"
         u"          <v10:Type>TRACKING_NUMBER_OR_DOORTAG</v10:Type>\r\n"
         u"          <v10:Value>" + XmlEscapeText(TrackingNumber()) + u"</v10:Value>\r\n"
         u"        </v10:PackageIdentifier>\r\n"
         u"      </v10:SelectionDetails>\r\n"
         u"      <v10:ProcessingOptions>INCLUDE_DETAILED_SCANS</v10:ProcessingOptions>\r\n"
         u"    </v10:TrackRequest>\r\n"
         u"  </soapenv:Body>\r\n"
         u"</soapenv:Envelope>";
}

namespace {

void FillAddress(const TKtXMLEngine& engine, TKtXMLItem* x, TKtInetActivityAddress& a) {
  if (!x) return;
  a.SetAddressLine1(ValueUnder(engine, x, u"AddressLine1"));
  a.SetAddressLine2(ValueUnder(engine, x, u"AddressLine2"));
  a.SetAddressLine3(ValueUnder(engine, x, u"AddressLine3"));
  a.SetCity(ValueUnder(engine, x, u"City"));
  a.SetPostalCode(ValueUnder(engine, x, u"PostalCode"));
  a.SetState(ValueUnder(engine, x, u"StateOrProvinceCode"));
  a.SetCountry(ValueUnder(engine, x, u"CountryName"));
}

}  // namespace

void TKtFedExTracker::ParseXMLResponse() {
  if (FLastXMLResponse.empty()) return;
  TKtXMLEngine engine(nullptr);
  engine.ParseXMLFromString(FLastXMLResponse, static_cast<Integer>(FLastXMLResponse.size()));
  TKtXMLItem* t = engine.GetItemByTag(nullptr, u"TrackDetails");
  if (!t) return;
  FillAddress(engine, engine.GetItemByTag(t, u"DestinationAddress"), *FShipToAddress);
  FIdentificationNumber = ValueUnder(engine, t, u"TrackingNumberUniqueIdentifier");
  FPickupDate = XMLStringToDateTime(ValueUnder(engine, t, u"ActualDeliveryTimestamp"));
  if (TKtXMLItem* w = engine.GetItemByTag(t, u"ShipmentWeight")) {
    FShipmentWeight = ValueUnder(engine, w, u"Value");
    FShipmentWeightUnits = ValueUnder(engine, w, u"Units");
  }
  if (TKtXMLItem* s = engine.GetItemByTag(t, u"Service")) {
    FServiceCode = ValueUnder(engine, s, u"Type");
    FServiceDescription = ValueUnder(engine, s, u"Description");
  }
  TKtXMLItems* children = t->Items();
  for (int i = 0; i < children->Count(); ++i) {
    TKtXMLItem* e = children->Items(i);
    if (e->TagNameView() != u"Events") continue;
    TKtInetActivity* activity = Activities()->Add();
    activity->SetLocationCode(ValueUnder(engine, e, u"ArrivalLocation"));
    activity->SetStatusTypeCode(ValueUnder(engine, e, u"EventType"));
    activity->SetStatusTypeDescription(ValueUnder(engine, e, u"EventDescription"));
    activity->SetDateTime(XMLStringToDateTime(ValueUnder(engine, e, u"Timestamp")));
    FillAddress(engine, engine.GetItemByTag(e, u"Address"), *activity->Location());
  }
}

const TClassInfo* TKtFedExCredential::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtFedExCredential>(u"TKtFedExCredential", nullptr)
      .Property(u"Key", &TKtFedExCredential::Key, &TKtFedExCredential::SetKey)
      .Property(u"Password", &TKtFedExCredential::Password, &TKtFedExCredential::SetPassword)
      .Build();
  return info;
}

const TClassInfo* TKtFedExClientDetail::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtFedExClientDetail>(u"TKtFedExClientDetail", nullptr)
      .Property(u"AccountNumber", &TKtFedExClientDetail::AccountNumber, &TKtFedExClientDetail::SetAccountNumber)
      .Property(u"CarrierCode", &TKtFedExClientDetail::CarrierCode, &TKtFedExClientDetail::SetCarrierCode)
      .Property(u"CustomerTransactionId", &TKtFedExClientDetail::CustomerTransactionId, &TKtFedExClientDetail::SetCustomerTransactionId)
      .Property(u"IntegratorId", &TKtFedExClientDetail::IntegratorId, &TKtFedExClientDetail::SetIntegratorId)
      .Property(u"MeterNumber", &TKtFedExClientDetail::MeterNumber, &TKtFedExClientDetail::SetMeterNumber)
      .Property(u"LanguageCode", &TKtFedExClientDetail::LanguageCode, &TKtFedExClientDetail::SetLanguageCode)
      .Property(u"LocaleCode", &TKtFedExClientDetail::LocaleCode, &TKtFedExClientDetail::SetLocaleCode)
      .Build();
  return info;
}

const TClassInfo* TKtFedExWebAuthenticationDetail::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtFedExWebAuthenticationDetail>(u"TKtFedExWebAuthenticationDetail", nullptr)
      .Property(u"ParentCredential", &TKtFedExWebAuthenticationDetail::ParentCredential)
      .Property(u"UserCredential", &TKtFedExWebAuthenticationDetail::UserCredential)
      .Property(u"ClientDetail", &TKtFedExWebAuthenticationDetail::ClientDetail)
      .Build();
  return info;
}

const TClassInfo* TKtFedExTracker::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtFedExTracker>(u"TKtFedExTracker", TKtInetCustomTracker::StaticClassInfo())
      .Component()
      .Property(u"WebAuthenticationDetail", &TKtFedExTracker::WebAuthenticationDetail)
      .Build();
  return info;
}

}  // namespace ktinet
