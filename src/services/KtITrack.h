// What the parcel trackers share: the address of a tracking event, one event, the collection of
// events, and TKtInetCustomTracker, which posts the carrier's request over HTTPS and collects the
// answer for the concrete tracker to parse.
#pragma once

#include <memory>

#include "rtl/Classes.h"
#include "rtl/DateTime.h"
#include "services/KtITrackXml.h"
#include "transfer/ktiupdate.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtXMLEngine;
class TKtXMLItem;

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
  const String& State() const { return FState; }
  void SetState(const String& Value) { FState = Value; }
  const String& Country() const { return FCountry; }
  void SetCountry(const String& Value) { FCountry = Value; }

  // The non-empty parts, in declaration order, joined by one blank.
  String Text() const;

 private:
  String FAddressLine1, FAddressLine2, FAddressLine3, FCity, FPostalCode, FState, FCountry;
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

class TKtInetCustomTracker : public TKtCustomWebComponent {
  KTINET_PUBLISHED(TKtInetCustomTracker)
 public:
  explicit TKtInetCustomTracker(TComponent* AOwner);
  ~TKtInetCustomTracker() override;

  const String& TrackingNumber() const { return FTrackingNumber; }
  // Empties the results on every assignment, even of the current number.
  void SetTrackingNumber(const String& Value);
  TKtInetActivities* Activities() const { return FActivities.get(); }
  // The answer of the last Execute as one character per byte, with error texts appended on failure.
  const String& LastXMLResponse() const { return FLastXMLResponse; }
  // Reading clears LastXMLRequestChanged.
  const String& LastXMLRequest();
  void SetLastXMLRequest(const String& Value);
  bool LastXMLRequestChanged() const { return FLastXMLRequestChanged; }
  void SetLastXMLRequestChanged(bool Value) { FLastXMLRequestChanged = Value; }

  // Certificates are checked against the system's authorities (plus CAFile) and the host name.
  // True turns off the checks of names, dates, authorities and revocation, so that anyone on the
  // path could read the credentials and forge the answer: only for endpoints that cannot be
  // verified otherwise.
  bool IgnoreCertificateErrors() const { return FIgnoreCertificateErrors; }
  void SetIgnoreCertificateErrors(bool Value) { FIgnoreCertificateErrors = Value; }
  // A PEM file of extra certificate authorities trusted besides the system's (empty: none).
  const String& CAFile() const { return FCAFile; }
  void SetCAFile(const String& Value) { FCAFile = Value; }

  virtual void Clear();

  // What the tracker adds to the request flags for HTTPS when certificate errors are ignored,
  // and the security flags it then sets on the request.
  static constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
  static constexpr DWORD kIgnoreCertFlags = INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
  static constexpr DWORD kIgnoreSecurityFlags = SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  // Bytes per read of the answer, and the fixed maximum given to the progress.
  static constexpr DWORD kReadBlock = 2050;
  static constexpr Cardinal kProgressMaximum = 10240;

 protected:
  void InternalExecute() override;

  virtual void ParseXMLResponse() {}
  virtual void BuildRequestHeader(String& /*FirstHeader*/, String& /*SecondHeader*/, String& /*Body*/) {}
  virtual String GetTrackAppHeader() { return String(); }

  // Asks the person whether to retry after a failure (the error dialog's place): returns
  // ERROR_CANCELLED, ERROR_INTERNET_FORCE_RETRY or ERROR_SUCCESS. Goes through the UI backend,
  // so a terminal asks and an unattended run answers Cancel.
  virtual DWORD ShowErrorDialog(HINTERNET Request, DWORD Error);

  String FLastXMLResponse;

 private:
  String FTrackingNumber;
  std::unique_ptr<TKtInetActivities> FActivities;
  String FLastXMLRequest;
  bool FLastXMLRequestChanged = false;
  bool FIgnoreCertificateErrors = false;
  String FCAFile;
};

}  // namespace ktinet
