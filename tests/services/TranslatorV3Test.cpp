// TKtTranslatorV3 against the loopback stand-in of the Translator V3 API over HTTPS with a test
// authority: the requests as the API wants them, the results read back, the service's refusals
// reported with its own code, and the request limits kept before anything is sent.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "rtl/Classes.h"
#include "services/KtTranslatorV3.h"
#include "support/FakeServices.h"

namespace ktinet {
namespace {

using test::FakeServices;

FakeServices::Options V3(std::vector<std::string> extra = {}) {
  FakeServices::Options o;
  o.script = "fake_translator_v3.py";
  o.data = "services/data/translator_v3";
  o.extraArgs = std::move(extra);
  return o;
}

void Point(TKtTranslatorV3& t, const FakeServices& fake, const char16_t* key = u"test-key") {
  t.SetBaseURL(UTF8ToString(fake.BaseUrl()));
  t.SetCAFile(UTF8ToString(fake.CAFile()));
  t.SetSubscriptionKey(key);
}

const std::regex kGuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");

TEST(TranslatorV3, TranslatesSeveralTextsIntoSeveralLanguages) {
  FakeServices fake(V3());
  TKtTranslatorV3 t(nullptr);
  Point(t, fake);
  std::vector<TKtTranslationResult> results;
  ASSERT_TRUE(t.Translate({u"Hello, what is your name?", u"Grüße aus Köln"}, {u"de", u"fr"}, u"", results))
      << UTF8Encode(t.LastErrorText());
  EXPECT_EQ(t.Status(), isFinished);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].DetectedLanguage.Language, u"en");
  EXPECT_EQ(results[0].DetectedLanguage.Score, 1.0);
  ASSERT_EQ(results[0].Translations.size(), 2u);
  // The answer carries these as \u escapes; they arrive as the characters.
  EXPECT_EQ(results[0].Translations[0].Text, u"Hallo, wie heißt du?");
  EXPECT_EQ(results[0].Translations[0].To, u"de");
  EXPECT_EQ(results[0].Translations[1].To, u"fr");
  EXPECT_EQ(results[1].DetectedLanguage.Language, u"de");
  EXPECT_EQ(results[1].Translations[1].Text, u"Salutations de Cologne");
  EXPECT_NE(t.LastJSONResponse().find("\\u00df"), std::string::npos) << t.LastJSONResponse();

  auto requests = fake.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/translate?api-version=3.0&to=de&to=fr");
  EXPECT_EQ(r.Header("Ocp-Apim-Subscription-Key"), "test-key");
  EXPECT_FALSE(r.HasHeader("Ocp-Apim-Subscription-Region"));
  EXPECT_EQ(r.Header("Content-Type"), "application/json; charset=UTF-8");
  EXPECT_TRUE(std::regex_match(r.Header("X-ClientTraceId"), kGuid)) << r.Header("X-ClientTraceId");
  EXPECT_EQ(r.Header("X-ClientTraceId"), UTF8Encode(t.LastClientTraceId()));
  // The texts go as UTF-8 in the JSON body, not as escapes.
  EXPECT_EQ(r.body, "[{\"Text\":\"Hello, what is your name?\"},{\"Text\":\"Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln\"}]");

  // A given source: sent as from=, and the answer has no detection.
  ASSERT_TRUE(t.Translate({u"Grüße aus Köln"}, {u"en"}, u"de", results));
  EXPECT_TRUE(results[0].DetectedLanguage.Language.empty());
  EXPECT_EQ(results[0].Translations[0].Text, u"Greetings from Cologne");
  EXPECT_EQ(fake.Requests()[1].target, "/translate?api-version=3.0&from=de&to=en");

  // The one-text call of the earlier component, HTML text, a fixed trace identifier, a region.
  t.SetTextType(u"html");
  t.SetClientTraceId(u"12345678-1234-4234-8234-123456789abc");
  t.SetRegion(u"westeurope");
  EXPECT_EQ(t.TranslateText(u"<b>a & b</b>", u"", u"ja"), u"[ja] <b>a & b</b>");
  requests = fake.Requests();
  EXPECT_EQ(requests[2].target, "/translate?api-version=3.0&to=ja&textType=html");
  EXPECT_EQ(requests[2].Header("X-ClientTraceId"), "12345678-1234-4234-8234-123456789abc");
  EXPECT_EQ(requests[2].Header("Ocp-Apim-Subscription-Region"), "westeurope");
}

TEST(TranslatorV3, DetectsAndListsLanguages) {
  FakeServices fake(V3());
  TKtTranslatorV3 t(nullptr);
  Point(t, fake);
  std::vector<TKtLanguageDetection> found;
  ASSERT_TRUE(t.Detect({u"Ich würde wirklich gern Ihr Auto ein paar mal um den Block fahren.", u"こんにちは"}, found))
      << UTF8Encode(t.LastErrorText());
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Language, u"de");
  EXPECT_TRUE(found[0].IsTranslationSupported);
  ASSERT_EQ(found[0].Alternatives.size(), 2u);
  EXPECT_EQ(found[0].Alternatives[0].Language, u"nl");
  EXPECT_DOUBLE_EQ(found[0].Alternatives[0].Score, 0.92);
  EXPECT_EQ(found[1].Language, u"ja");
  EXPECT_TRUE(found[1].IsTransliterationSupported);
  EXPECT_EQ(t.DetectLanguage(u"hello"), u"en");
  auto requests = fake.Requests();
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/detect?api-version=3.0");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/json; charset=UTF-8");

  std::vector<TKtTranslatorLanguage> languages;
  t.SetAcceptLanguage(u"de");
  ASSERT_TRUE(t.GetLanguages(languages)) << UTF8Encode(t.LastErrorText());
  ASSERT_EQ(languages.size(), 7u);
  EXPECT_EQ(languages[0].Code, u"ar");
  EXPECT_EQ(languages[0].Dir, u"rtl");
  EXPECT_EQ(languages[5].NativeName, u"日本語");  // raw UTF-8 in this answer
  EXPECT_EQ(languages[6].Code, u"zh-Hans");
  requests = fake.Requests();
  const auto& list = requests.back();
  EXPECT_EQ(list.method, "GET");
  EXPECT_EQ(list.target, "/languages?api-version=3.0&scope=translation");
  EXPECT_EQ(list.Header("Accept-Language"), "de");
  // The list is public: the key goes nowhere it is not needed.
  EXPECT_FALSE(list.HasHeader("Ocp-Apim-Subscription-Key"));
  TStringList codes;
  codes.Add(u"stale");
  t.GetLanguagesForTranslate(&codes);
  ASSERT_EQ(codes.Count(), 7);
  EXPECT_EQ(codes[1], u"de");
}

TEST(TranslatorV3, RefusalsCarryTheServicesCodeAndMessage) {
  FakeServices fake(V3({"--region", "westeurope"}));
  TKtTranslatorV3 t(nullptr);
  Point(t, fake);
  std::vector<TKtTranslationResult> results;
  // A regional resource without its region.
  EXPECT_FALSE(t.Translate({u"x"}, {u"de"}, u"", results));
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(t.Status(), isFailed);
  EXPECT_EQ(t.LastHTTPStatus(), 401u);
  EXPECT_EQ(t.ServiceErrorCode(), u"401000");
  EXPECT_EQ(t.LastErrorText(),
            u"The request is not authorized because credentials are missing or invalid. (error 401000)");
  t.SetRegion(u"westeurope");
  EXPECT_TRUE(t.Translate({u"x"}, {u"de"}, u"", results)) << UTF8Encode(t.LastErrorText());
  EXPECT_TRUE(t.ServiceErrorCode().empty());
  EXPECT_TRUE(t.LastErrorText().empty());

  t.SetSubscriptionKey(u"wrong-key");
  EXPECT_EQ(t.DetectLanguage(u"x"), u"");
  EXPECT_EQ(t.ServiceErrorCode(), u"401000");

  t.SetSubscriptionKey(u"throttled-key");
  EXPECT_FALSE(t.Translate({u"x"}, {u"de"}, u"", results));
  EXPECT_EQ(t.LastHTTPStatus(), 429u);
  EXPECT_EQ(t.ServiceErrorCode(), u"429001");
  EXPECT_EQ(t.RetryAfter(), u"7");
  EXPECT_NE(t.LastErrorText().find(u"(error 429001); retry after 7 s"), String::npos) << UTF8Encode(t.LastErrorText());

  t.SetSubscriptionKey(u"test-key");
  EXPECT_FALSE(t.Translate({u"x"}, {u"xx"}, u"", results));
  EXPECT_EQ(t.ServiceErrorCode(), u"400036");
  EXPECT_EQ(t.ServiceErrorMessage(), u"The target language (\"To\" field) is missing or invalid.");

  // A base address with a path keeps it; a wrong one is the service's 404.
  t.SetBaseURL(UTF8ToString(fake.BaseUrl() + "/v2/"));
  std::vector<TKtTranslatorLanguage> languages(1);
  EXPECT_FALSE(t.GetLanguages(languages));
  EXPECT_TRUE(languages.empty());
  EXPECT_EQ(t.LastHTTPStatus(), 404u);
  EXPECT_EQ(t.ServiceErrorCode(), u"404001");
  EXPECT_EQ(fake.Requests().back().target, "/v2/languages?api-version=3.0&scope=translation");
}

TEST(TranslatorV3, RequestLimitsAreKeptBeforeSending) {
  FakeServices fake(V3());
  TKtTranslatorV3 t(nullptr);
  Point(t, fake);
  std::vector<TKtTranslationResult> results;
  std::vector<TKtLanguageDetection> found;

  EXPECT_FALSE(t.Translate(std::vector<String>(1001, u"a"), {u"de"}, u"", results));
  EXPECT_NE(t.LastErrorText().find(u"too many texts"), String::npos) << UTF8Encode(t.LastErrorText());
  EXPECT_FALSE(t.Detect(std::vector<String>(101, u"a"), found));
  EXPECT_NE(t.LastErrorText().find(u"at most 100"), String::npos) << UTF8Encode(t.LastErrorText());
  // 25,001 characters into two languages are 50,002 counted characters.
  EXPECT_FALSE(t.Translate({String(25001, u'a')}, {u"de", u"fr"}, u"", results));
  EXPECT_NE(t.LastErrorText().find(u"times 2 target languages"), String::npos) << UTF8Encode(t.LastErrorText());
  EXPECT_FALSE(t.Translate({u"a"}, {}, u"", results));
  t.SetTextType(u"markdown");
  EXPECT_FALSE(t.Translate({u"a"}, {u"de"}, u"", results));
  t.SetTextType(u"plain");
  TKtTranslatorV3 keyless(nullptr);
  keyless.SetBaseURL(UTF8ToString(fake.BaseUrl()));
  EXPECT_EQ(keyless.DetectLanguage(u"a"), u"");
  EXPECT_NE(keyless.LastErrorText().find(u"SubscriptionKey"), String::npos);
  EXPECT_TRUE(fake.Requests().empty());

  // At the limits the requests go, and the service takes them: a character outside the
  // Basic Multilingual Plane counts once although it takes two UTF-16 units.
  String emoji;
  for (int i = 0; i < 25000; ++i) emoji += u"\U0001F600";
  ASSERT_TRUE(t.Translate({emoji, String(25000, u'a')}, {u"de"}, u"en", results)) << UTF8Encode(t.LastErrorText());
  EXPECT_EQ(results[0].Translations[0].Text, u"[de] " + emoji);
  ASSERT_TRUE(t.Detect(std::vector<String>(100, u"a"), found)) << UTF8Encode(t.LastErrorText());
  EXPECT_EQ(found.size(), 100u);
  ASSERT_TRUE(t.Translate(std::vector<String>(1000, u"a"), {u"de"}, u"en", results)) << UTF8Encode(t.LastErrorText());
  EXPECT_EQ(results.size(), 1000u);
  EXPECT_EQ(fake.Requests().size(), 3u);
}

TEST(TranslatorV3Answers, MalformedDocumentsAreRefused) {
  std::vector<TKtTranslationResult> tr;
  std::vector<TKtLanguageDetection> de;
  std::vector<TKtTranslatorLanguage> la;
  String error;
  const std::string good = "[{\"translations\":[{\"text\":\"Hallo\",\"to\":\"de\"}]}]";
  ASSERT_TRUE(ParseTranslatorV3Translations(good, 1, tr, error));
  // Another count of results than texts would pair translations with the wrong texts.
  EXPECT_FALSE(ParseTranslatorV3Translations(good, 2, tr, error));
  EXPECT_TRUE(tr.empty());
  EXPECT_EQ(error, u"the answer holds 1 results for 2 texts");
  for (const char* bad : {"", "{}", "[1]", "[{}]", "[{\"translations\":{}}]", "[{\"translations\":[{\"text\":1,\"to\":\"de\"}]}]",
                          "[{\"translations\":[{\"text\":\"a\"}]}]",
                          "[{\"detectedLanguage\":{\"language\":\"en\",\"score\":\"high\"},\"translations\":[]}]",
                          "[{\"translations\":[{\"text\":\"a\",\"to\":\"de\"}]}", "[{\"translations\":[{\"text\":\"\xff\",\"to\":\"de\"}]}]"})
    EXPECT_FALSE(ParseTranslatorV3Translations(bad, 1, tr, error)) << bad;
  // Nesting is bounded before the document is built.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_FALSE(ParseTranslatorV3Detections(deep, 1, de, error));
  EXPECT_NE(error.find(u"nested"), String::npos);
  EXPECT_FALSE(ParseTranslatorV3Detections("[{\"language\":\"de\",\"alternatives\":[{\"score\":1}]}]", 1, de, error));
  EXPECT_FALSE(ParseTranslatorV3Detections("[{\"language\":\"de\",\"isTranslationSupported\":\"yes\"}]", 1, de, error));
  ASSERT_TRUE(ParseTranslatorV3Detections("[{\"language\":\"de\",\"score\":0.5,\"alternatives\":null}]", 1, de, error));
  EXPECT_TRUE(de[0].Alternatives.empty());
  EXPECT_FALSE(ParseTranslatorV3Languages("{\"dictionary\":{}}", la, error));
  EXPECT_FALSE(ParseTranslatorV3Languages("{\"translation\":{\"de\":\"German\"}}", la, error));
  EXPECT_FALSE(ParseTranslatorV3Languages("{\"translation\":{\"\":{}}}", la, error));
  ASSERT_TRUE(ParseTranslatorV3Languages("{\"translation\":{\"de\":{\"name\":\"Deutsch\"}}}", la, error));
  EXPECT_EQ(la[0].Name, u"Deutsch");

  String code, message;
  EXPECT_TRUE(ParseTranslatorV3Error("{\"error\":{\"code\":\"AuthFailed\",\"message\":\"x\"}}", code, message));
  EXPECT_EQ(code, u"AuthFailed");
  EXPECT_TRUE(ParseTranslatorV3Error("{\"error\":{\"code\":400036,\"message\":\"\\u00fc\"}}", code, message));
  EXPECT_EQ(code, u"400036");
  EXPECT_EQ(message, u"ü");
  for (const char* bad : {"<html>", "{\"error\":\"x\"}", "{\"error\":{}}", "[]"})
    EXPECT_FALSE(ParseTranslatorV3Error(bad, code, message)) << bad;
}

}  // namespace
}  // namespace ktinet
