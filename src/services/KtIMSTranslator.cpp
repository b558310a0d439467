#include "services/KtIMSTranslator.h"

#include <memory>
#include <vector>

#include "core/KtInBase.h"
#include "core/ktiutil.h"
#include "rtl/Exceptions.h"
#include "rtl/Streams.h"
#include "rtl/SysUtils.h"
#include "rtl/UrlEncoding.h"
#include "xml/KtInetXML.h"

namespace ktinet {

String PercentEncode(const String& S) { return UTF8ToString(PercentEncodeBytes(UTF8Encode(S))); }

TKtMSTranslator::TKtMSTranslator(TComponent* AOwner) : TKtCustomWebComponent(AOwner), FBingAppId(DefaultBingAppId) {
  SetAgent(u"Ardenfold Tracker");
  SetPort(443);
  SetHost(DefaultHost);
}

String TKtMSTranslator::BuildAddress(const String& Template, std::initializer_list<String> Values) const {
  String out = Host();
  auto value = Values.begin();
  for (std::size_t i = 0; i < Template.size(); ++i) {
    if (Template[i] == u'%' && i + 1 < Template.size() && Template[i + 1] == u's' && value != Values.end()) {
      out += PercentEncode(*value++);
      ++i;
    } else {
      out += Template[i];
    }
  }
  return out;
}

void TKtMSTranslator::Fetch(const String& AURL, TStream* AStream) {
  FLastError = ERROR_SUCCESS;
  FHttpStatus = 0;
  FServiceError.clear();
  const bool viaProxy = Proxy()->UseProxy() && !Proxy()->Server().empty();
  HINTERNET session = viaProxy ? InternetOpenW(Agent().c_str(), INTERNET_OPEN_TYPE_PROXY, Proxy()->Server().c_str(), nullptr, 0)
                               : InternetOpenW(Agent().c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) {
    FLastError = InternetGetLastError();
    return;
  }
  ApplyTimeouts(session);
  if (!FCAFile.empty())
    InternetSetOptionW(session, KTINET_OPTION_CA_FILE, FCAFile.c_str(), static_cast<DWORD>(FCAFile.size()));
  DWORD flags = INTERNET_FLAG_RELOAD;
  if (FIgnoreCertificateErrors) {
    DWORD security = SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    InternetSetOptionW(session, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
    flags |= INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
  }
  AStream->SetPosition(0);
  SetLastHTTPStatus(0);
  if (HINTERNET url = InternetOpenUrlW(session, AURL.c_str(), nullptr, 0, flags, 0)) {
    DWORD status = 0;
    DWORD length = sizeof status;
    if (HttpQueryInfoW(url, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr))
      SetLastHTTPStatus(status);
    DWORD code = 0, codeSize = sizeof code;
    if (HttpQueryInfoW(url, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &codeSize, nullptr)) FHttpStatus = code;
    constexpr DWORD kBuffer = 1048576;
    std::unique_ptr<char[]> buffer(new char[kBuffer]);
    for (;;) {
      DWORD got = 0;
      if (!InternetReadFile(url, buffer.get(), kBuffer, &got)) {
        FLastError = InternetGetLastError();
        break;
      }
      if (got == 0) break;
      AStream->WriteBuffer(buffer.get(), got);
    }
    InternetCloseHandle(url);
  } else {
    FLastError = InternetGetLastError();
  }
  AStream->SetPosition(0);
  InternetCloseHandle(session);
}

namespace {

// The service sends UTF-8; the engine read it one byte per ANSI character unless a byte-order
// mark told it otherwise, in which case the text is already decoded.
String DecodedValue(const TKtXMLEngine& engine, const TKtXMLItem* item) {
  String value = item->GetTagValue();
  if (engine.UTF8Processed) return value;
  return Utf8Decode(std::string_view(StringToAnsi(value)));
}

// The service's error page: a heading ("Argument Exception") and paragraphs, one of them
// "Message: ..."; their words make the message. Empty when the page has neither.
String ErrorPageMessage(TKtXMLEngine& engine) {
  String heading, message;
  std::vector<TKtXMLItem*> stack;
  if (engine.RootItem()) stack.push_back(engine.RootItem());
  while (!stack.empty()) {
    TKtXMLItem* item = stack.back();
    stack.pop_back();
    String name = String(item->TagNameView());
    String value = Trim(DecodedValue(engine, item));
    if (heading.empty() && (SameText(name, u"h1") || SameText(name, u"title"))) heading = value;
    if (message.empty() && SameText(name, u"p") && SameText(value.substr(0, 8), u"Message:")) message = Trim(value.substr(8));
    TKtXMLItems* children = item->Items();
    for (int i = children->Count() - 1; i >= 0; --i) stack.push_back(children->Items(i));
  }
  if (heading.empty()) return message;
  return message.empty() ? heading : heading + u": " + message;
}

}  // namespace

bool TKtMSTranslator::LoadAnswer(TStream* Stream, TKtXMLEngine& Engine, const String& Expected) {
  Engine.LoadFromStream(0, Stream);
  if (FLastError != ERROR_SUCCESS) return false;
  TKtXMLItem* root = Engine.RootItem();
  const bool expected = root && SameText(String(root->TagNameView()), Expected);
  if (FHttpStatus < 400 && (expected || !root)) return true;
  FServiceError = ErrorPageMessage(Engine);
  if (FServiceError.empty())
    FServiceError = FHttpStatus >= 400 ? u"the service answered " + IntToStr(static_cast<long long>(FHttpStatus))
                                       : u"the service answered with something else than " + Expected;
  return false;
}

String TKtMSTranslator::FetchText(const String& AURL) {
  TMemoryStream stream;
  Fetch(AURL, &stream);
  TKtXMLEngine engine(nullptr);
  if (!LoadAnswer(&stream, engine, u"string")) return String();
  TKtXMLItem* root = engine.RootItem();
  return root ? DecodedValue(engine, root) : String();
}

void TKtMSTranslator::FetchList(const String& AURL, TStrings* AList) {
  if (!AList) return;
  AList->Clear();
  TMemoryStream stream;
  Fetch(AURL, &stream);
  TKtXMLEngine engine(nullptr);
  if (!LoadAnswer(&stream, engine, u"ArrayOfstring")) return;
  TKtXMLItem* root = engine.RootItem();
  if (!root) return;
  TKtXMLItems* items = root->Items();
  for (int i = 0; i < items->Count(); ++i) AList->Add(DecodedValue(engine, items->Items(i)));
}

String TKtMSTranslator::TranslateText(const String& AText, const String& SourceLng, const String& DestLng) {
  return FetchText(BuildAddress(u"/Translate?appId=%s&text=%s&from=%s&to=%s", {FBingAppId, AText, SourceLng, DestLng}));
}

String TKtMSTranslator::DetectLanguage(const String& AText) {
  return FetchText(BuildAddress(u"/Detect?appId=%s&text=%s", {FBingAppId, AText}));
}

void TKtMSTranslator::GetLanguagesForTranslate(TStrings* AList) {
  if (!AList) return;
  FetchList(BuildAddress(u"/GetLanguagesForTranslate?appId=%s", {FBingAppId}), AList);
}

void TKtMSTranslator::GetLanguagesForSpeak(TStrings* AList) {
  if (!AList) return;
  FetchList(BuildAddress(u"/GetLanguagesForSpeak?appId=%s", {FBingAppId}), AList);
}

void TKtMSTranslator::SpeakText(const String& Language, const String& DestFileName, const String& AText) {
  // The sound arrives in a file of its own that replaces DestFileName only when all of it came
  // with a success status: an error page or a cut answer leaves the previous file as it was.
  TKtIReplacingFile out(DestFileName);
  {
    TFileStream file(out.TempName(), fmCreate);
    Fetch(BuildAddress(u"/Speak?appId=%s&text=%s&language=%s", {FBingAppId, AText, Language}), &file);
  }
  const DWORD status = LastHTTPStatus();
  if (FLastError != ERROR_SUCCESS || status < 200 || status > 299) return;
  if (!out.Commit()) throw EFCreateError(u"Cannot create file \"" + DestFileName + u"\". " + SysErrorMessage(errno));
}

const TClassInfo* TKtMSTranslator::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtMSTranslator>(u"TKtMSTranslator", TKtCustomWebComponent::StaticClassInfo())
      .Component()
      .Property(u"BingAppId", &TKtMSTranslator::BingAppId, &TKtMSTranslator::SetBingAppId)
      .Property(u"IgnoreCertificateErrors", &TKtMSTranslator::IgnoreCertificateErrors, &TKtMSTranslator::SetIgnoreCertificateErrors)
      .Default(false)
      .Property(u"CAFile", &TKtMSTranslator::CAFile, &TKtMSTranslator::SetCAFile)
      .Build();
  return info;
}

}  // namespace ktinet
