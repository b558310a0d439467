#include "services/KtITrack.h"

#include <vector>

#include "rtl/SysUtils.h"
#include "xml/KtInetXML.h"
#include "vcl/Dialogs.h"

namespace ktinet {

// ---- TKtInetCustomTracker ----------------------------------------------------------------------

TKtInetCustomTracker::TKtInetCustomTracker(TComponent* AOwner)
    : TKtCustomWebComponent(AOwner), FActivities(std::make_unique<TKtInetActivities>(this)) {
  SetAgent(u"Ardenfold Tracker");
  SetService(isHTTPS);
  SetPort(443);
}

TKtInetCustomTracker::~TKtInetCustomTracker() = default;

void TKtInetCustomTracker::SetTrackingNumber(const String& Value) {
  if (Value != FTrackingNumber) FTrackingNumber = Value;
  Clear();
}

const String& TKtInetCustomTracker::LastXMLRequest() {
  FLastXMLRequestChanged = false;
  return FLastXMLRequest;
}

void TKtInetCustomTracker::SetLastXMLRequest(const String& Value) {
  if (Value == FLastXMLRequest) return;
  FLastXMLRequest = Value;
  FLastXMLRequestChanged = true;
}

void TKtInetCustomTracker::Clear() {
  FActivities->Clear();
  FHttpStatus = 0;
  FServiceError.clear();
  FLastXMLRequest.clear();
  FLastXMLResponse.clear();
}

DWORD TKtInetCustomTracker::ShowErrorDialog(HINTERNET /*Request*/, DWORD Error) {
  String text = InternetErrorMessage(Error);
  if (text.empty()) text = u"Error " + IntToStr(Error);
  switch (MessageDlg(text, mtError, TMsgDlgButtons{mbRetry, mbCancel})) {
    case mrRetry: return ERROR_INTERNET_FORCE_RETRY;
    case mrCancel: return ERROR_CANCELLED;
    default: return ERROR_SUCCESS;
  }
}

namespace {

// The system's text for an error number, cut to what the caller's 200-character buffer holds;
// without one, the server's last response.
String ErrorText(DWORD error) {
  String text = InternetErrorMessage(error);
  if (text.empty()) {
    DWORD code = 0;
    Char buffer[201] = {};
    DWORD length = 200;
    if (InternetGetLastResponseInfoW(&code, buffer, &length)) text.assign(buffer, length);
  }
  if (text.size() > 200) text.resize(200);
  return text;
}

}  // namespace

void TKtInetCustomTracker::InternalExecute() {
  FLastXMLRequest.clear();
  FLastXMLResponse.clear();
  FHttpStatus = 0;
  FServiceError.clear();
  String statusLine;
  ConnectToInet(false);
  // A blank host cannot be reached; the Internet layer would only find out when sending.
  if (!hInet || !hURL || Trim(Host()).empty()) {
    SetStatus(isFailed);
  } else {
    const bool secure = Service() == isHTTPS;
    DWORD flags = kRequestFlags;
    if (secure) {
      flags |= INTERNET_FLAG_SECURE;
      if (FIgnoreCertificateErrors) flags |= kIgnoreCertFlags;
    }
    String path = GetTrackAppHeader();
    HINTERNET request = HttpOpenRequestW(hURL, u"POST", path.c_str(), nullptr, nullptr, nullptr, flags, 0);
    if (!request) {
      SetStatus(isFailed);
    } else {
      if (secure && FIgnoreCertificateErrors) {
        DWORD security = kIgnoreSecurityFlags;
        InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
      }
      if (secure && !FCAFile.empty())
        InternetSetOptionW(request, KTINET_OPTION_CA_FILE, FCAFile.c_str(), static_cast<DWORD>(FCAFile.size()));

      String first, second, body;
      BuildRequestHeader(first, second, body);
      for (const String* line : {&first, &second})
        if (!line->empty())
          HttpAddRequestHeadersW(request, line->c_str(), static_cast<DWORD>(line->size()), HTTP_ADDREQ_FLAG_ADD);
      FLastXMLRequest = body;
      FLastXMLRequestChanged = true;

      std::string bytes = UTF8Encode(body);
      const bool sent = HttpSendRequestW(request, nullptr, 0, bytes.data(), static_cast<DWORD>(bytes.size()));
      DWORD error = sent ? ERROR_SUCCESS : InternetGetLastError();
      // A delivered answer is also asked for its status: a refusal (404, 403 ...) must not be
      // parsed and reported as a tracking result.
      DWORD code = 0;
      DWORD codeSize = sizeof code;
      if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &codeSize, nullptr))
        FHttpStatus = code;
      else
        code = sent ? 200 : 0;
      Char statusText[201] = {};
      DWORD textSize = 200 * sizeof(Char);
      if (code >= 300 && HttpQueryInfoW(request, HTTP_QUERY_STATUS_TEXT, statusText, &textSize, nullptr)) {
        statusLine = IntToStr(static_cast<long long>(code)) + u" " + String(statusText, textSize / sizeof(Char));
        if (code != 500) FLastXMLResponse += String(statusText, textSize / sizeof(Char));
      }
      if (sent && (code < 300 || code == 500)) {
        std::vector<char> buffer(kReadBlock);
        Cardinal total = 0;
        bool abort = false;
        bool readFailed = false;
        for (;;) {
          DWORD got = 0;
          if (!InternetReadFile(request, buffer.data(), kReadBlock, &got)) {
            // A body cut short is no answer to parse as complete.
            readFailed = true;
            error = InternetGetLastError();
            break;
          }
          if (got == 0) break;
          FLastXMLResponse += BytesToString(std::string_view(buffer.data(), got));
          total += got;
          UpdateProgress(total, kProgressMaximum, abort);
          if (abort) break;
        }
        if (abort) error = ERROR_INTERNET_OPERATION_CANCELLED;
        if (abort || readFailed) SetStatus(isFailed);
        else SetAction(iaDownloaded);
      } else {
        SetStatus(isFailed);
      }

      if (Status() == isFailed) {
        if (error == ERROR_SUCCESS && code >= 300) error = ERROR_INTERNET_EXTENDED_ERROR;
        FLastXMLResponse += u"Error: " + IntToStr(error) + ErrorText(error) + u"\r\n";
        DWORD answer = ShowErrorDialog(request, error);
        if (answer == ERROR_CANCELLED) FLastXMLResponse += u"Abort the operation\r\n";
        else if (answer == ERROR_INTERNET_FORCE_RETRY) FLastXMLResponse += u"Retry the operation\r\n";
        FLastXMLResponse += ErrorText(error);
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

const TClassInfo* TKtInetCustomTracker::StaticClassInfo() {
  static const TClassInfo* info =
      TClassBuilder<TKtInetCustomTracker>(u"TKtInetCustomTracker", TKtCustomWebComponent::StaticClassInfo())
          .Property(u"TrackingNumber", &TKtInetCustomTracker::TrackingNumber, &TKtInetCustomTracker::SetTrackingNumber)
          .Property(u"IgnoreCertificateErrors", &TKtInetCustomTracker::IgnoreCertificateErrors,
                    &TKtInetCustomTracker::SetIgnoreCertificateErrors)
          .Default(false)
          .Property(u"CAFile", &TKtInetCustomTracker::CAFile, &TKtInetCustomTracker::SetCAFile)
          .Build();
  return info;
}

}  // namespace ktinet
