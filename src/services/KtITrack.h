// What the parcel trackers share: the tracking events (services/KtIActivity.h) and
// TKtInetCustomTracker, which posts the carrier's request over HTTPS and collects the answer for
// the concrete tracker to parse.
#pragma once

#include <memory>

#include "rtl/Classes.h"
#include "rtl/DateTime.h"
#include "services/KtIActivity.h"
#include "services/KtITrackXml.h"
#include "transfer/ktiupdate.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtXMLEngine;
class TKtXMLItem;

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

  // The HTTP status of the last answer; 0 when none arrived.
  DWORD HttpStatus() const { return FHttpStatus; }
  // The service's own words when the last answer was an error answer (an HTTP status of 400 or
  // more, a SOAP fault or an Error element); empty otherwise. Such an answer fails Execute.
  const String& ServiceError() const { return FServiceError; }

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
  DWORD FHttpStatus = 0;
  String FServiceError;
};

}  // namespace ktinet
