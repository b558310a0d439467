// TKtMSTranslator: the Microsoft Translator HTTP interface (version 2). Each method builds one
// address from Host, a fixed path and the caller's values, fetches it with one GET, and reads the
// text answers with the XML engine; Execute does nothing.
#pragma once

#include "rtl/Classes.h"
#include "transfer/ktiupdate.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtXMLEngine;

class TKtMSTranslator : public TKtCustomWebComponent {
  KTINET_PUBLISHED(TKtMSTranslator)
 public:
  explicit TKtMSTranslator(TComponent* AOwner);

  static constexpr const char16_t* DefaultBingAppId = u"5E0B8C27D91F46A3B07E2C85D4F91A60C3E7B214";
  static constexpr const char16_t* DefaultHost = u"https://api.microsofttranslator.com/v2/Http.svc";

  const String& BingAppId() const { return FBingAppId; }
  void SetBingAppId(const String& Value) { FBingAppId = Value; }
  // Certificates are checked against the system's authorities (plus CAFile) and the host name;
  // true turns the checks off (only for endpoints that cannot be verified otherwise).
  bool IgnoreCertificateErrors() const { return FIgnoreCertificateErrors; }
  void SetIgnoreCertificateErrors(bool Value) { FIgnoreCertificateErrors = Value; }
  // A PEM file of extra certificate authorities trusted besides the system's (empty: none).
  const String& CAFile() const { return FCAFile; }
  void SetCAFile(const String& Value) { FCAFile = Value; }

  // The Internet error of the last call's transfer (a refused certificate, no connection ...);
  // ERROR_SUCCESS when the answer arrived. The calls themselves report nothing.
  DWORD LastError() const { return FLastError; }
  // The HTTP status of the last call's answer; 0 when none arrived.
  DWORD HttpStatus() const { return FHttpStatus; }
  // The service's own message when the last call's answer was an error (an HTTP status of 400 or
  // more, or an error page instead of the document asked for); empty otherwise. The call then
  // returns nothing: no text, no languages.
  const String& ServiceError() const { return FServiceError; }

  String TranslateText(const String& AText, const String& SourceLng, const String& DestLng);
  String DetectLanguage(const String& AText);
  // Both clear AList first (nothing at all happens for a null list).
  void GetLanguagesForTranslate(TStrings* AList);
  void GetLanguagesForSpeak(TStrings* AList);
  // Writes the answer into a temporary file beside DestFileName that replaces it once the whole
  // answer came with a success status (LastHTTPStatus 2xx, LastError ERROR_SUCCESS); otherwise
  // DestFileName stays as it was.
  void SpeakText(const String& Language, const String& DestFileName, const String& AText);

  // The address a call would fetch: Host + Template with each "%s" replaced by the next value,
  // percent-encoded (UTF-8, RFC 3986 unreserved characters kept) so that "&", "#", "+" or a blank
  // in a text reach the service inside their value.
  String BuildAddress(const String& Template, std::initializer_list<String> Values) const;

 protected:
  void InternalExecute() override {}

 private:
  // One GET of AURL into AStream through the proxy settings under Agent; the stream stays as it
  // is when the address cannot be opened, and ends at position 0.
  void Fetch(const String& AURL, TStream* AStream);
  String FetchText(const String& AURL);
  void FetchList(const String& AURL, TStrings* AList);

  String FBingAppId;
  bool FIgnoreCertificateErrors = false;
  String FCAFile;
  DWORD FLastError = ERROR_SUCCESS;
  DWORD FHttpStatus = 0;
  String FServiceError;
  // Reads the answer of a text call into Engine; false (ServiceError set) when it is an error.
  bool LoadAnswer(TStream* Stream, TKtXMLEngine& Engine, const String& Expected);
};

// Percent-encodes the UTF-8 form of S, keeping A-Z a-z 0-9 - . _ ~.
String PercentEncode(const String& S);

}  // namespace ktinet
