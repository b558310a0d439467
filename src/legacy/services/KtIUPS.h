// The parcel tracking of the build for host version 10: the address, event and event collection
// of a shipment's history, and TKtUPSTracker, which posts its UPS XML tracking request over HTTPS
// itself (there is no tracker base in this build) and reads the TrackResponse into shipment
// properties and activities. The address here has no State.
#pragma once

#include <memory>

#include "rtl/Classes.h"
#include "rtl/DateTime.h"
#include "rtl/TypInfo.h"
#include "services/KtITrackXml.h"
#include "transfer/ktiupdate.h"

namespace ktinet {

class TKtInetActivityAddress : public TPersistent {
  KTINET_PUBLISHED(TKtInetActivityAddress)

 public:
  void Assign(const TPersistent* Source) override;

  const String& AddressLine1() const { return FAddressLine1; }
  void SetAddressLine1(const String& Value) { FAddressLine1 = Value; }
  const String& AddressLine2() const { return FAddressLine2; }
  void SetAddressLine2(const String& Value) { FAddressLine2 = Value; }
  const String& AddressLine3() const { return FAddressLine3; }
  void SetAddressLine3(const String& Value) { FAddressLine3 = Value; }
  const String& City() const { return FCity; }
  void SetCity(const String& Value) { FCity = Value; }
  const String& PostalCode() const { return FPostalCode; }
  void SetPostalCode(const String& Value) { FPostalCode = Value; }
  const String& Country() const { return FCountry; }
  void SetCountry(const String& Value) { FCountry = Value; }

  // The non-empty parts, in declaration order, joined by one blank.
  String Text() const;

 private:
  String FAddressLine1, FAddressLine2, FAddressLine3, FCity, FPostalCode, FCountry;
};

class TKtInetActivity : public TCollectionItem {
  KTINET_PUBLISHED(TKtInetActivity)

 public:
  explicit TKtInetActivity(TCollection* Collection);
  ~TKtInetActivity() override;
  void Assign(const TPersistent* Source) override;

  const String& LocationCode() const { return FLocationCode; }
  void SetLocationCode(const String& Value) { FLocationCode = Value; }
  TKtInetActivityAddress* Location() const { return FLocation.get(); }
  void SetLocation(const TKtInetActivityAddress* Value) { FLocation->Assign(Value); }
  const String& LocationDescription() const { return FLocationDescription; }
  void SetLocationDescription(const String& Value) { FLocationDescription = Value; }
  const String& LocationSignedForByName() const { return FLocationSignedForByName; }
  void SetLocationSignedForByName(const String& Value) { FLocationSignedForByName = Value; }
  const String& StatusTypeCode() const { return FStatusTypeCode; }
  void SetStatusTypeCode(const String& Value) { FStatusTypeCode = Value; }
  const String& StatusTypeDescription() const { return FStatusTypeDescription; }
  void SetStatusTypeDescription(const String& Value) { FStatusTypeDescription = Value; }
  const String& StatusCode() const { return FStatusCode; }
  void SetStatusCode(const String& Value) { FStatusCode = Value; }
  TDateTime DateTime() const { return FDateTime; }
  void SetDateTime(TDateTime Value) { FDateTime = Value; }

 private:
  String FLocationCode;
  std::unique_ptr<TKtInetActivityAddress> FLocation;
  String FLocationDescription;
  String FLocationSignedForByName;
  String FStatusTypeCode;
  String FStatusTypeDescription;
  String FStatusCode;
  TDateTime FDateTime = 0;
};

class TKtInetActivities : public TCollection {
 public:
  explicit TKtInetActivities(TComponent* KtInetCntrl);

  TKtInetActivity* Add() { return static_cast<TKtInetActivity*>(TCollection::Add()); }
  TKtInetActivity* Items(int Index) const { return static_cast<TKtInetActivity*>(TCollection::Items(Index)); }
  TKtInetActivity* operator[](int Index) const { return Items(Index); }
  // Copies Value into the existing item at Index.
  void SetItems(int Index, const TKtInetActivity* Value) { Items(Index)->Assign(Value); }

 protected:
  TPersistent* GetOwner() const override;

 private:
  TComponent* FKtInetControl;
};

class TKtUPSTracker : public TKtCustomWebComponent {
  KTINET_PUBLISHED(TKtUPSTracker)

 public:
  explicit TKtUPSTracker(TComponent* AOwner);
  ~TKtUPSTracker() override;

  static constexpr const char16_t* DefaultHost = ups_detail::kHost;
  static constexpr const char16_t* DefaultAccessLicenseNumber = ups_detail::kAccessLicenseNumber;
  // The request always goes over TLS, whatever Service says.
  static constexpr DWORD kRequestFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION;
  // Added to the request only when certificate errors are ignored.
  static constexpr DWORD kIgnoreCertFlags = INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
  static constexpr DWORD kIgnoreSecurityFlags = SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  // Bytes per read of the answer, and the fixed maximum given to the progress.
  static constexpr DWORD kReadBlock = 2050;
  static constexpr Cardinal kProgressMaximum = 10240;

  const String& AccessLicenseNumber() const { return FAccessLicenseNumber; }
  void SetAccessLicenseNumber(const String& Value) { FAccessLicenseNumber = Value; }
  const String& TrackingNumber() const { return FTrackingNumber; }
  // A different number empties the results (Clear); the current one changes nothing.
  void SetTrackingNumber(const String& Value);
  // The answer of the last Execute as one character per byte, whatever its HTTP status.
  const String& LastXMLResponse() const { return FLastXMLResponse; }
  TKtInetActivities* Activities() const { return FActivities.get(); }

  // Certificates are checked against the system's authorities (plus CAFile) and the host name.
  // True turns off the checks of names, dates, authorities and revocation, so that anyone on the
  // path could read the licence number and forge the answer: only for endpoints that cannot be
  // verified otherwise.
  bool IgnoreCertificateErrors() const { return FIgnoreCertificateErrors; }
  void SetIgnoreCertificateErrors(bool Value) { FIgnoreCertificateErrors = Value; }
  // A PEM file of extra certificate authorities trusted besides the system's (empty: none).
  const String& CAFile() const { return FCAFile; }
  void SetCAFile(const String& Value) { FCAFile = Value; }

  const String& ShipperNumber() const { return FShipperNumber; }
  TKtInetActivityAddress* ShipperAddress() const { return FShipperAddress.get(); }
  TKtInetActivityAddress* ShipToAddress() const { return FShipToAddress.get(); }
  const String& IdentificationNumber() const { return FIdentificationNumber; }
  // Date only; keeps its previous value when an answer's date cannot be read.
  TDateTime PickupDate() const { return FPickupDate; }
  const String& ServiceCode() const { return FServiceCode; }
  const String& ServiceDescription() const { return FServiceDescription; }
  const String& ShipmentWeight() const { return FShipmentWeight; }
  const String& ShipmentWeightUnits() const { return FShipmentWeightUnits; }

  // Empties Activities and LastXMLResponse (the shipment properties stay).
  void Clear();

 protected:
  // One POST of the track request; every failure ends with isFailed, and the answer read so far
  // is parsed in every case.
  void InternalExecute() override;
  virtual void ParseXMLResponse();

 private:
  String FAccessLicenseNumber;
  String FTrackingNumber;
  String FLastXMLResponse;
  std::unique_ptr<TKtInetActivities> FActivities;
  bool FIgnoreCertificateErrors = false;
  String FCAFile;
  String FShipperNumber;
  std::unique_ptr<TKtInetActivityAddress> FShipperAddress;
  std::unique_ptr<TKtInetActivityAddress> FShipToAddress;
  String FIdentificationNumber;
  TDateTime FPickupDate = 0;
  String FServiceCode;
  String FServiceDescription;
  String FShipmentWeight;
  String FShipmentWeightUnits;
};

}  // namespace ktinet
