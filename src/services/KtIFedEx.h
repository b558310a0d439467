// TKtFedExTracker: the parcel tracker for the FedEx Track (version 10) SOAP service. The base posts
// the request; this class supplies the path, the SOAP action and content-type lines and the
// envelope filled from WebAuthenticationDetail, and reads the TrackReply into shipment properties
// and activities.
#pragma once

#include <memory>

#include "services/KtITrack.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtFedExCredential : public TPersistent {
  KTINET_PUBLISHED(TKtFedExCredential)
 public:
  void Assign(const TPersistent* Source) override;
  const String& Key() const { return FKey; }
  void SetKey(const String& Value) { FKey = Value; }
  const String& Password() const { return FPassword; }
  void SetPassword(const String& Value) { FPassword = Value; }

 private:
  String FKey;
  String FPassword;
};

class TKtFedExClientDetail : public TPersistent {
  KTINET_PUBLISHED(TKtFedExClientDetail)
 public:
  void Assign(const TPersistent* Source) override;
  // The Localization block with LanguageCode and LocaleCode, each line ended by CR LF.
  String GetLocalizationXML() const;

  const String& AccountNumber() const { return FAccountNumber; }
  void SetAccountNumber(const String& Value) { FAccountNumber = Value; }
  const String& CarrierCode() const { return FCarrierCode; }
  void SetCarrierCode(const String& Value) { FCarrierCode = Value; }
  const String& CustomerTransactionId() const { return FCustomerTransactionId; }
  void SetCustomerTransactionId(const String& Value) { FCustomerTransactionId = Value; }
  const String& IntegratorId() const { return FIntegratorId; }
  void SetIntegratorId(const String& Value) { FIntegratorId = Value; }
  const String& MeterNumber() const { return FMeterNumber; }
  void SetMeterNumber(const String& Value) { FMeterNumber = Value; }
  const String& LanguageCode() const { return FLanguageCode; }
  void SetLanguageCode(const String& Value) { FLanguageCode = Value; }
  const String& LocaleCode() const { return FLocaleCode; }
  void SetLocaleCode(const String& Value) { FLocaleCode = Value; }

 private:
  String FAccountNumber, FCarrierCode, FCustomerTransactionId, FIntegratorId, FMeterNumber, FLanguageCode,
      FLocaleCode;
};

class TKtFedExWebAuthenticationDetail : public TPersistent {
  KTINET_PUBLISHED(TKtFedExWebAuthenticationDetail)
 public:
  TKtFedExWebAuthenticationDetail();
  ~TKtFedExWebAuthenticationDetail() override;
  void Assign(const TPersistent* Source) override;

  TKtFedExCredential* ParentCredential() const { return FParentCredential.get(); }
  void SetParentCredential(const TKtFedExCredential* Value) { FParentCredential->Assign(Value); }
  TKtFedExCredential* UserCredential() const { return FUserCredential.get(); }
  void SetUserCredential(const TKtFedExCredential* Value) { FUserCredential->Assign(Value); }
  TKtFedExClientDetail* ClientDetail() const { return FClientDetail.get(); }
  void SetClientDetail(const TKtFedExClientDetail* Value) { FClientDetail->Assign(Value); }

 private:
  std::unique_ptr<TKtFedExCredential> FParentCredential;
  std::unique_ptr<TKtFedExCredential> FUserCredential;
  std::unique_ptr<TKtFedExClientDetail> FClientDetail;
};

class TKtFedExTracker : public TKtInetCustomTracker, public TKtShipmentDetails {
  KTINET_PUBLISHED(TKtFedExTracker)
 public:
  explicit TKtFedExTracker(TComponent* AOwner);
  ~TKtFedExTracker() override;

  static constexpr const char16_t* DefaultHost = u"ws.fedex.com";
  static constexpr const char16_t* SoapAction = u"http://fedex.com/ws/track/v10/track";
  static constexpr const char16_t* SoapEnvelopeNamespace = u"http://schemas.xmlsoap.org/soap/envelope/";
  static constexpr const char16_t* TrackNamespace = u"http://fedex.com/ws/track/v10";

  TKtFedExWebAuthenticationDetail* WebAuthenticationDetail() const { return FWebAuthenticationDetail.get(); }
  void SetWebAuthenticationDetail(const TKtFedExWebAuthenticationDetail* Value) { FWebAuthenticationDetail->Assign(Value); }

 protected:
  void ParseXMLResponse() override;
  void BuildRequestHeader(String& FirstHeader, String& SecondHeader, String& Body) override;
  String GetTrackAppHeader() override;

 private:
  std::unique_ptr<TKtFedExWebAuthenticationDetail> FWebAuthenticationDetail;
};

}  // namespace ktinet
