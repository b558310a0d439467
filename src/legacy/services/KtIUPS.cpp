#include "services/KtIUPS.h"

#include <vector>

#include "rtl/SysUtils.h"

namespace ktinet {

// ---- TKtUPSTracker -----------------------------------------------------------------------------

TKtUPSTracker::TKtUPSTracker(TComponent* AOwner)
    : TKtCustomWebComponent(AOwner),
      FActivities(std::make_unique<TKtInetActivities>(this)) {
  FAccessLicenseNumber = DefaultAccessLicenseNumber;
  SetAgent(u"Ardenfold Tracker");
  SetService(isHTTPS);
  SetPort(443);
  SetHost(DefaultHost);
}

TKtUPSTracker::~TKtUPSTracker() = default;

void TKtUPSTracker::SetTrackingNumber(const String& Value) {
  if (Value == FTrackingNumber) return;
  FTrackingNumber = Value;
  Clear();
}

void TKtUPSTracker::Clear() {
  FActivities->Clear();
  FLastXMLResponse.clear();
  FHttpStatus = 0;
  FServiceError.clear();
}

void TKtUPSTracker::InternalExecute() {
  FLastXMLResponse.clear();
  FHttpStatus = 0;
  FServiceError.clear();
  String statusLine;
  ConnectToInet(false);
  // A blank host cannot be reached; the Internet layer would only find out when sending.
  if (!hInet || !hURL || Trim(Host()).empty()) {
    SetStatus(isFailed);
  } else {
    DWORD flags = kRequestFlags;
    if (FIgnoreCertificateErrors) flags |= kIgnoreCertFlags;
    HINTERNET request = HttpOpenRequestW(hURL, u"POST", ups_detail::kTrackPath, nullptr, nullptr, nullptr, flags, 0);
    if (!request) {
      SetStatus(isFailed);
    } else {
      if (FIgnoreCertificateErrors) {
        DWORD security = kIgnoreSecurityFlags;
        InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
      }
      if (!FCAFile.empty())
        InternetSetOptionW(request, KTINET_OPTION_CA_FILE, FCAFile.c_str(), static_cast<DWORD>(FCAFile.size()));

      const String headers = ups_detail::kContentTypeLine;
      const std::string body = UTF8Encode(ups_detail::TrackRequestBody(FAccessLicenseNumber, Agent(), FTrackingNumber));
      if (!HttpSendRequestW(request, headers.c_str(), static_cast<DWORD>(headers.size()), body.data(),
                            static_cast<DWORD>(body.size()))) {
        SetStatus(isFailed);
      } else {
        DWORD code = 0;
        DWORD codeSize = sizeof code;
        if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &codeSize, nullptr))
          FHttpStatus = code;
        Char statusText[201] = {};
        DWORD textSize = 200 * sizeof(Char);
        if (FHttpStatus >= 400 && HttpQueryInfoW(request, HTTP_QUERY_STATUS_TEXT, statusText, &textSize, nullptr))
          statusLine = IntToStr(static_cast<long long>(FHttpStatus)) + u" " + String(statusText, textSize / sizeof(Char));
        // Whatever status the answer carries, its body is the service's word and is read.
        std::vector<char> buffer(kReadBlock);
        Cardinal total = 0;
        bool abort = false;
        bool readFailed = false;
        for (;;) {
          DWORD got = 0;
          if (!InternetReadFile(request, buffer.data(), kReadBlock, &got)) {
            // A body cut short is no complete answer.
            readFailed = true;
            break;
          }
          if (got == 0) break;
          FLastXMLResponse += BytesToString(std::string_view(buffer.data(), got));
          total += got;
          UpdateProgress(total, kProgressMaximum, abort);
          if (abort) break;
        }
        if (abort || readFailed) SetStatus(isFailed);
        else SetAction(iaDownloaded);
      }
      InternetCloseHandle(request);
    }
  }
  DisconnectFromInet();
  ParseXMLResponse();
  // A fault or an error status is the service's refusal, not an empty shipment.
  if (FHttpStatus >= 400 || Status() != isFailed) {
    FServiceError = TrackServiceError(FHttpStatus, statusLine, FLastXMLResponse);
    if (!FServiceError.empty()) SetStatus(isFailed);
  }
}

void TKtUPSTracker::ParseXMLResponse() {
  ups_detail::ParseTrackResponse(FLastXMLResponse, ups_detail::TTrackResult<TKtInetActivityAddress, TKtInetActivities>{
      FShipperNumber, *FShipperAddress, *FShipToAddress, FIdentificationNumber, FPickupDate, FServiceCode,
      FServiceDescription, FShipmentWeight, FShipmentWeightUnits, *FActivities});
}

// ---- Published properties ----------------------------------------------------------------------

const TClassInfo* TKtUPSTracker::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtUPSTracker>(u"TKtUPSTracker", TKtCustomWebComponent::StaticClassInfo())
      .Component()
      .Property(u"AccessLicenseNumber", &TKtUPSTracker::AccessLicenseNumber, &TKtUPSTracker::SetAccessLicenseNumber)
      .Property(u"TrackingNumber", &TKtUPSTracker::TrackingNumber, &TKtUPSTracker::SetTrackingNumber)
      .Property(u"LastXMLResponse", &TKtUPSTracker::LastXMLResponse)
      .Property(u"IgnoreCertificateErrors", &TKtUPSTracker::IgnoreCertificateErrors,
                &TKtUPSTracker::SetIgnoreCertificateErrors)
      .Default(false)
      .Property(u"CAFile", &TKtUPSTracker::CAFile, &TKtUPSTracker::SetCAFile)
      .Build();
  return info;
}

}  // namespace ktinet
