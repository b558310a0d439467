// The parcel tracking of the build for host version 10: the events of a shipment's history (the
// shared services/KtIActivity.h, over this build's address without State) and TKtUPSTracker, which
// posts its UPS XML tracking request over HTTPS itself (there is no tracker base in this build) and
// reads the TrackResponse into shipment properties and activities.
#pragma once

#include <memory>

#include "rtl/Classes.h"
#include "rtl/DateTime.h"
#include "rtl/TypInfo.h"
#include "services/KtIActivity.h"
#include "services/KtITrackXml.h"
#include "transfer/ktiupdate.h"

namespace ktinet {

class TKtUPSTracker : public TKtCustomWebComponent, public TKtShipmentDetails {
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
  // The HTTP status of the last answer; 0 when none arrived.
  DWORD HttpStatus() const { return FHttpStatus; }
  // The service's own words when the last answer was an error answer (an HTTP status of 400 or
  // more, a SOAP fault or an Error element); empty otherwise. Such an answer fails Execute.
  const String& ServiceError() const { return FServiceError; }
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


  // Empties Activities, LastXMLResponse, HttpStatus and ServiceError (the shipment properties
  // stay).
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
  DWORD FHttpStatus = 0;
  String FServiceError;
};

}  // namespace ktinet
