// Requests follow the Translator V3 text API reference, api-version 3.0 (Translate, Detect,
// Languages, and its error object); the limits are those of its "request limits" section.
#include "services/KtTranslatorV3.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include <nlohmann/json.hpp>

#include "rtl/SysUtils.h"
#include "services/KtIMSTranslator.h"

namespace ktinet {

using nlohmann::json;

namespace {

// Far deeper than any answer of the service; a hostile document nested a million levels deep is
// refused before it is built.
constexpr int kMaxJsonDepth = 32;

bool ParseDocument(const std::string& Text, json& Doc, String& Error) {
  if (!JsonNestingWithin(Text, kMaxJsonDepth)) {
    Error = u"the answer is nested more than " + IntToStr(kMaxJsonDepth) + u" levels deep";
    return false;
  }
  Doc = json::parse(Text, nullptr, false);
  if (Doc.is_discarded()) {
    Error = u"the answer is not JSON";
    return false;
  }
  return true;
}

// A member that must be a string when present; false when it is present with another type.
bool TextMember(const json& Object, const char* Name, String& Out, bool Required = false) {
  const auto it = Object.find(Name);
  if (it == Object.end() || it->is_null()) return !Required;
  if (!it->is_string()) return false;
  Out = UTF8ToString(it->get_ref<const std::string&>());
  return true;
}

bool NumberMember(const json& Object, const char* Name, double& Out) {
  const auto it = Object.find(Name);
  if (it == Object.end() || it->is_null()) return true;
  if (!it->is_number()) return false;
  Out = it->get<double>();
  return true;
}

bool BoolMember(const json& Object, const char* Name, bool& Out) {
  const auto it = Object.find(Name);
  if (it == Object.end() || it->is_null()) return true;
  if (!it->is_boolean()) return false;
  Out = it->get<bool>();
  return true;
}

bool ReadDetected(const json& Object, TKtDetectedLanguage& Out) {
  return Object.is_object() && TextMember(Object, "language", Out.Language, true) &&
         NumberMember(Object, "score", Out.Score) &&
         BoolMember(Object, "isTranslationSupported", Out.IsTranslationSupported) &&
         BoolMember(Object, "isTransliterationSupported", Out.IsTransliterationSupported);
}

String CountMismatch(size_t Got, size_t Texts) {
  return u"the answer holds " + IntToStr(static_cast<long long>(Got)) + u" results for " +
         IntToStr(static_cast<long long>(Texts)) + u" texts";
}

// Characters as the service counts them: Unicode code points.
size_t CodePoints(const String& S) {
  size_t n = 0;
  for (Char c : S)
    if (c < 0xDC00 || c > 0xDFFF) ++n;
  return n;
}

String NewTraceId() {
  std::random_device device;
  std::uniform_int_distribution<unsigned> byte(0, 255);
  unsigned char b[16];
  for (auto& x : b) x = static_cast<unsigned char>(byte(device));
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // a random (version 4) identifier
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  char text[40];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return UTF8ToString(text);
}

// The answer to a call about several texts: an array of one result per text, in their order.
bool ParseResults(const std::string& Json, size_t Texts, json& Doc, String& Error) {
  if (!ParseDocument(Json, Doc, Error)) return false;
  if (!Doc.is_array()) {
    Error = u"the answer is not an array of results";
    return false;
  }
  if (Doc.size() != Texts) {
    Error = CountMismatch(Doc.size(), Texts);
    return false;
  }
  return true;
}

}  // namespace

bool ParseTranslatorV3Translations(const std::string& Json, size_t Texts, std::vector<TKtTranslationResult>& Out,
                                   String& Error) {
  Out.clear();
  json doc;
  if (!ParseResults(Json, Texts, doc, Error)) return false;
  std::vector<TKtTranslationResult> results;
  for (const json& item : doc) {
    TKtTranslationResult r;
    const auto detected = item.is_object() ? item.find("detectedLanguage") : item.end();
    const auto translations = item.is_object() ? item.find("translations") : item.end();
    bool ok = item.is_object() && translations != item.end() && translations->is_array();
    if (ok && detected != item.end() && !detected->is_null()) ok = ReadDetected(*detected, r.DetectedLanguage);
    if (ok)
      for (const json& t : *translations) {
        TKtTranslation one;
        if (!t.is_object() || !TextMember(t, "text", one.Text, true) || !TextMember(t, "to", one.To, true)) {
          ok = false;
          break;
        }
        r.Translations.push_back(std::move(one));
      }
    if (!ok) {
      Error = u"result " + IntToStr(static_cast<long long>(results.size() + 1)) + u" is not a translation result";
      return false;
    }
    results.push_back(std::move(r));
  }
  Out = std::move(results);
  return true;
}

bool ParseTranslatorV3Detections(const std::string& Json, size_t Texts, std::vector<TKtLanguageDetection>& Out,
                                 String& Error) {
  Out.clear();
  json doc;
  if (!ParseResults(Json, Texts, doc, Error)) return false;
  std::vector<TKtLanguageDetection> results;
  for (const json& item : doc) {
    TKtLanguageDetection r;
    bool ok = ReadDetected(item, r);
    const auto alternatives = ok ? item.find("alternatives") : item.end();
    if (ok && alternatives != item.end() && !alternatives->is_null()) {
      ok = alternatives->is_array();
      for (size_t i = 0; ok && i < alternatives->size(); ++i) {
        TKtDetectedLanguage alt;
        ok = ReadDetected((*alternatives)[i], alt);
        if (ok) r.Alternatives.push_back(std::move(alt));
      }
    }
    if (!ok) {
      Error = u"result " + IntToStr(static_cast<long long>(results.size() + 1)) + u" is not a detection result";
      return false;
    }
    results.push_back(std::move(r));
  }
  Out = std::move(results);
  return true;
}

bool ParseTranslatorV3Languages(const std::string& Json, std::vector<TKtTranslatorLanguage>& Out, String& Error) {
  Out.clear();
  json doc;
  if (!ParseDocument(Json, doc, Error)) return false;
  const auto scope = doc.is_object() ? doc.find("translation") : doc.end();
  if (scope == doc.end() || !scope->is_object()) {
    Error = u"the answer has no translation scope";
    return false;
  }
  std::vector<TKtTranslatorLanguage> languages;
  for (const auto& [code, entry] : scope->items()) {
    TKtTranslatorLanguage l;
    l.Code = UTF8ToString(code);
    if (code.empty() || !entry.is_object() || !TextMember(entry, "name", l.Name) ||
        !TextMember(entry, "nativeName", l.NativeName) || !TextMember(entry, "dir", l.Dir)) {
      Error = u"the entry of the language " + l.Code + u" is not a language";
      return false;
    }
    languages.push_back(std::move(l));
  }
  Out = std::move(languages);
  return true;
}

bool ParseTranslatorV3Error(const std::string& Json, String& Code, String& Message) {
  Code.clear();
  Message.clear();
  json doc;
  String ignored;
  if (!ParseDocument(Json, doc, ignored) || !doc.is_object()) return false;
  const auto error = doc.find("error");
  if (error == doc.end() || !error->is_object()) return false;
  const auto code = error->find("code");
  if (code != error->end()) {
    if (code->is_number_integer()) Code = IntToStr(code->get<long long>());
    else if (code->is_string()) Code = UTF8ToString(code->get_ref<const std::string&>());
  }
  TextMember(*error, "message", Message);
  return !Code.empty() || !Message.empty();
}

TKtTranslatorV3::TKtTranslatorV3(TComponent* AOwner) : TKtRestComponent(AOwner) {}

const TClassInfo* TKtTranslatorV3::StaticClassInfo() {
  static const TClassInfo* info =
      TClassBuilder<TKtTranslatorV3>(u"TKtTranslatorV3", TKtRestComponent::StaticClassInfo())
          .Property(u"BaseURL", &TKtTranslatorV3::BaseURL, &TKtTranslatorV3::SetBaseURL)
          .Property(u"SubscriptionKey", &TKtTranslatorV3::SubscriptionKey, &TKtTranslatorV3::SetSubscriptionKey)
          .Property(u"Region", &TKtTranslatorV3::Region, &TKtTranslatorV3::SetRegion)
          .Property(u"TextType", &TKtTranslatorV3::TextType, &TKtTranslatorV3::SetTextType)
          .Property(u"ClientTraceId", &TKtTranslatorV3::ClientTraceId, &TKtTranslatorV3::SetClientTraceId)
          .Property(u"AcceptLanguage", &TKtTranslatorV3::AcceptLanguage, &TKtTranslatorV3::SetAcceptLanguage)
          .Build();
  return info;
}

bool TKtTranslatorV3::Translate(const std::vector<String>& Texts, const std::vector<String>& To, const String& From,
                                std::vector<TKtTranslationResult>& Results) {
  Results.clear();
  FTexts = &Texts;
  FTo = &To;
  FFrom = From;
  FTranslations = &Results;
  return Run(TOperation::Translate);
}

bool TKtTranslatorV3::Detect(const std::vector<String>& Texts, std::vector<TKtLanguageDetection>& Results) {
  Results.clear();
  FTexts = &Texts;
  FDetections = &Results;
  return Run(TOperation::Detect);
}

bool TKtTranslatorV3::GetLanguages(std::vector<TKtTranslatorLanguage>& Languages) {
  Languages.clear();
  FLanguages = &Languages;
  return Run(TOperation::Languages);
}

String TKtTranslatorV3::TranslateText(const String& AText, const String& SourceLng, const String& DestLng) {
  std::vector<TKtTranslationResult> results;
  if (!Translate({AText}, {DestLng}, SourceLng, results) || results[0].Translations.empty()) return String();
  return results[0].Translations[0].Text;
}

String TKtTranslatorV3::DetectLanguage(const String& AText) {
  std::vector<TKtLanguageDetection> results;
  if (!Detect({AText}, results)) return String();
  return results[0].Language;
}

void TKtTranslatorV3::GetLanguagesForTranslate(TStrings* AList) {
  if (!AList) return;
  AList->Clear();
  std::vector<TKtTranslatorLanguage> languages;
  if (!GetLanguages(languages)) return;
  for (const auto& l : languages) AList->Add(l.Code);
}

bool TKtTranslatorV3::Run(TOperation Op) {
  FOperation = Op;
  FServiceErrorCode.clear();
  FServiceErrorMessage.clear();
  FRetryAfter.clear();
  FLastJSONResponse.clear();
  FLastClientTraceId.clear();
  bool ok = false;
  try {
    ok = Execute();
  } catch (...) {
    FOperation = TOperation::None;
    throw;
  }
  FOperation = TOperation::None;
  FTexts = FTo = nullptr;
  FTranslations = nullptr;
  FDetections = nullptr;
  FLanguages = nullptr;
  return ok;
}

std::string TKtTranslatorV3::TextsBody(const std::vector<String>& Texts, size_t MaxTexts, size_t Targets) {
  if (Texts.empty()) {
    Failed(u"no text to send");
    return std::string();
  }
  if (Texts.size() > MaxTexts) {
    Failed(u"too many texts for one request: " + IntToStr(static_cast<long long>(Texts.size())) + u" (the service takes at most " +
           IntToStr(static_cast<long long>(MaxTexts)) + u")");
    return std::string();
  }
  size_t characters = 0;
  for (const String& t : Texts) characters += CodePoints(t);
  if (characters * Targets > kMaxCharacters) {
    Failed(u"the texts are too long for one request: " + IntToStr(static_cast<long long>(characters)) + u" characters" +
           (Targets > 1 ? u" times " + IntToStr(static_cast<long long>(Targets)) + u" target languages" : String()) +
           u" (the service takes at most " + IntToStr(static_cast<long long>(kMaxCharacters)) + u")");
    return std::string();
  }
  json body = json::array();
  for (const String& t : Texts) body.push_back({{"Text", UTF8Encode(t)}});
  // A lone surrogate in a text has no UTF-8 form; it goes as U+FFFD rather than failing the call.
  return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

void TKtTranslatorV3::InternalExecute() {
  if (FBaseURL.empty()) {
    Failed(u"no BaseURL set");
    return;
  }
  if (FOperation == TOperation::Languages) {
    if (!Call(u"GET", u"/languages?api-version=3.0&scope=translation", std::string(), false)) return;
    String error;
    if (!ParseTranslatorV3Languages(FLastJSONResponse, *FLanguages, error)) Failed(u"languages: " + error);
    return;
  }
  if (FSubscriptionKey.empty()) {
    Failed(u"no SubscriptionKey set: the service takes no request without one");
    return;
  }
  if (FOperation == TOperation::Detect) {
    const std::string body = TextsBody(*FTexts, kMaxDetectTexts, 1);
    if (body.empty() || !Call(u"POST", u"/detect?api-version=3.0", body, true)) return;
    String error;
    if (!ParseTranslatorV3Detections(FLastJSONResponse, FTexts->size(), *FDetections, error))
      Failed(u"detect: " + error);
    return;
  }
  if (FOperation != TOperation::Translate) return;
  if (FTo->empty()) {
    Failed(u"no target language");
    return;
  }
  if (FTextType != u"plain" && FTextType != u"html") {
    Failed(u"TextType is \"" + FTextType + u"\", not plain or html");
    return;
  }
  const std::string body = TextsBody(*FTexts, kMaxTranslateTexts, FTo->size());
  if (body.empty()) return;
  String query = u"/translate?api-version=3.0";
  if (!FFrom.empty()) query += u"&from=" + PercentEncode(FFrom);
  for (const String& to : *FTo) {
    if (to.empty()) {
      Failed(u"an empty target language");
      return;
    }
    query += u"&to=" + PercentEncode(to);
  }
  if (FTextType != u"plain") query += u"&textType=" + FTextType;
  if (!Call(u"POST", query, body, true)) return;
  String error;
  if (!ParseTranslatorV3Translations(FLastJSONResponse, FTexts->size(), *FTranslations, error))
    Failed(u"translate: " + error);
}

bool TKtTranslatorV3::Call(const String& Method, const String& PathAndQuery, const std::string& Body, bool Keyed) {
  String base = FBaseURL;
  while (!base.empty() && base.back() == u'/') base.pop_back();
  TKtRestRequest request;
  request.Method = Method;
  request.Url = base + PathAndQuery;
  request.Body = Body;
  if (Keyed) {
    request.Headers.emplace_back(u"Ocp-Apim-Subscription-Key", FSubscriptionKey);
    if (!FRegion.empty()) request.Headers.emplace_back(u"Ocp-Apim-Subscription-Region", FRegion);
  }
  if (!Body.empty()) request.Headers.emplace_back(u"Content-Type", u"application/json; charset=UTF-8");
  if (!FAcceptLanguage.empty()) request.Headers.emplace_back(u"Accept-Language", FAcceptLanguage);
  FLastClientTraceId = FClientTraceId.empty() ? NewTraceId() : FClientTraceId;
  request.Headers.emplace_back(u"X-ClientTraceId", FLastClientTraceId);

  TKtRestAnswer answer;
  if (!RestCall(request, answer)) return false;
  FLastJSONResponse = std::move(answer.Body);
  if (answer.Status >= 200 && answer.Status <= 299) return true;

  FRetryAfter = answer.RetryAfter;
  String code, message;
  String text;
  if (ParseTranslatorV3Error(FLastJSONResponse, code, message)) {
    FServiceErrorCode = code;
    FServiceErrorMessage = message;
    text = (message.empty() ? u"the service refused the request" : message) +
           (code.empty() ? String() : u" (error " + code + u")");
  } else {
    text = u"the service answered " + IntToStr(answer.Status) +
           (answer.StatusText.empty() ? String() : u" " + answer.StatusText);
  }
  if (!FRetryAfter.empty()) {
    const bool seconds = std::all_of(FRetryAfter.begin(), FRetryAfter.end(), [](Char c) { return c >= u'0' && c <= u'9'; });
    text += u"; retry after " + FRetryAfter + (seconds ? u" s" : u"");
  }
  Failed(text);
  return false;
}

}  // namespace ktinet
