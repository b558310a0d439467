// TKtTranslatorV3: the Translator V3 text API (api-version 3.0): translate, detect and the list of
// languages, over HTTPS with a subscription key. Each call is one Execute of the transfer base,
// so the deadlines, Status, LastErrorText and LastHTTPStatus tell how it went.
#pragma once

#include <string>
#include <vector>

#include "rtl/Classes.h"
#include "services/KtRestCall.h"

namespace ktinet {

// A language the service named: its code, how sure it is (0..1), and what it can do with it.
struct TKtDetectedLanguage {
  String Language;
  double Score = 0;
  bool IsTranslationSupported = false;
  bool IsTransliterationSupported = false;
};

// One text's language, with the service's other candidates.
struct TKtLanguageDetection : TKtDetectedLanguage {
  std::vector<TKtDetectedLanguage> Alternatives;
};

struct TKtTranslation {
  String To;    // the target language
  String Text;  // the text in that language
};

// One text's translations, one per target in the order asked; DetectedLanguage is set when the
// source language was left to the service (its Language is empty otherwise).
struct TKtTranslationResult {
  TKtDetectedLanguage DetectedLanguage;
  std::vector<TKtTranslation> Translations;
};

// A language of the translation scope.
struct TKtTranslatorLanguage {
  String Code;
  String Name;        // in the language asked for with AcceptLanguage (English by default)
  String NativeName;
  String Dir;         // "ltr" or "rtl"
};

class TKtTranslatorV3 : public TKtRestComponent {
  KTINET_PUBLISHED(TKtTranslatorV3)
 public:
  explicit TKtTranslatorV3(TComponent* AOwner);

  // The global endpoint; regional ones and test servers are set through BaseURL.
  static constexpr const char16_t* DefaultBaseURL = u"https://api.cognitive.microsofttranslator.com";
  // The service's documented request limits, checked before anything is sent: texts in one
  // translate or detect request, and characters (Unicode code points) in one request. A
  // translate request counts its characters once per target language.
  static constexpr size_t kMaxTranslateTexts = 1000;
  static constexpr size_t kMaxDetectTexts = 100;
  static constexpr size_t kMaxCharacters = 50000;

  const String& BaseURL() const { return FBaseURL; }
  void SetBaseURL(const String& Value) { FBaseURL = Value; }
  // The resource's key, sent as Ocp-Apim-Subscription-Key on translate and detect (the list of
  // languages needs none).
  const String& SubscriptionKey() const { return FSubscriptionKey; }
  void SetSubscriptionKey(const String& Value) { FSubscriptionKey = Value; }
  // The resource's region (Ocp-Apim-Subscription-Region), needed by regional and multi-service
  // resources; empty sends none.
  const String& Region() const { return FRegion; }
  void SetRegion(const String& Value) { FRegion = Value; }
  // "plain" or "html".
  const String& TextType() const { return FTextType; }
  void SetTextType(const String& Value) { FTextType = Value; }
  // Sent as X-ClientTraceId; empty: a fresh random identifier for every request.
  const String& ClientTraceId() const { return FClientTraceId; }
  void SetClientTraceId(const String& Value) { FClientTraceId = Value; }
  // The language of the names in the list of languages (Accept-Language); empty: the service's
  // default, English.
  const String& AcceptLanguage() const { return FAcceptLanguage; }
  void SetAcceptLanguage(const String& Value) { FAcceptLanguage = Value; }

  // The rich calls: true when the service answered with the results, which replace Results.
  // False otherwise, with Results empty, Status isFailed and LastErrorText naming the cause.
  // An empty From lets the service detect the source language.
  bool Translate(const std::vector<String>& Texts, const std::vector<String>& To, const String& From,
                 std::vector<TKtTranslationResult>& Results);
  bool Detect(const std::vector<String>& Texts, std::vector<TKtLanguageDetection>& Results);
  bool GetLanguages(std::vector<TKtTranslatorLanguage>& Languages);

  // The simple calls: one text, one answer; empty when the call failed (LastErrorText says why).
  String TranslateText(const String& AText, const String& SourceLng, const String& DestLng);
  String DetectLanguage(const String& AText);
  // Clears AList and fills it with the codes of the translation scope (nothing for a null list).
  void GetLanguagesForTranslate(TStrings* AList);

  // The service's own error of the last call ({"error":{"code","message"}}); empty when the last
  // call was not refused by the service.
  const String& ServiceErrorCode() const { return FServiceErrorCode; }
  const String& ServiceErrorMessage() const { return FServiceErrorMessage; }
  // The Retry-After of a refused call (seconds or an HTTP date, as sent), empty when none came.
  const String& RetryAfter() const { return FRetryAfter; }
  // The last answer's body as it came, and the X-ClientTraceId the last request carried.
  const std::string& LastJSONResponse() const { return FLastJSONResponse; }
  const String& LastClientTraceId() const { return FLastClientTraceId; }

 protected:
  void InternalExecute() override;

 private:
  enum class TOperation { None, Translate, Detect, Languages };
  bool Run(TOperation Op);
  bool Call(const String& Method, const String& PathAndQuery, const std::string& Body, bool Keyed);
  std::string TextsBody(const std::vector<String>& Texts, size_t MaxTexts, size_t Targets);

  String FBaseURL = DefaultBaseURL;
  String FSubscriptionKey;
  String FRegion;
  String FTextType = u"plain";
  String FClientTraceId;
  String FAcceptLanguage;
  String FServiceErrorCode;
  String FServiceErrorMessage;
  String FRetryAfter;
  std::string FLastJSONResponse;
  String FLastClientTraceId;

  // The call under way.
  TOperation FOperation = TOperation::None;
  const std::vector<String>* FTexts = nullptr;
  const std::vector<String>* FTo = nullptr;
  String FFrom;
  std::vector<TKtTranslationResult>* FTranslations = nullptr;
  std::vector<TKtLanguageDetection>* FDetections = nullptr;
  std::vector<TKtTranslatorLanguage>* FLanguages = nullptr;
};

// The readers of the service's answers. Each returns false, with Error naming what is wrong, for a
// document that is not the answer expected (not JSON, nested too deep, a member of the wrong type,
// another count of results than texts); Out is then empty.
bool ParseTranslatorV3Translations(const std::string& Json, size_t Texts, std::vector<TKtTranslationResult>& Out,
                                   String& Error);
bool ParseTranslatorV3Detections(const std::string& Json, size_t Texts, std::vector<TKtLanguageDetection>& Out,
                                 String& Error);
bool ParseTranslatorV3Languages(const std::string& Json, std::vector<TKtTranslatorLanguage>& Out, String& Error);
// The service's error object {"error":{"code":N,"message":"..."}}; false when the body is not one.
bool ParseTranslatorV3Error(const std::string& Json, String& Code, String& Message);

}  // namespace ktinet
