// The Translator V3 form of the translator subcommands, and its demo line.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "Demo.h"
#include "DemoServers.h"
#include "Json.h"
#include "Output.h"
#include "Secrets.h"
#include "SocketOptions.h"
#include "TranslateV3.h"
#include "services/KtTranslatorV3.h"

namespace ktinet::cli {

namespace {

// Options only one of the two forms understands.
const std::vector<std::string> kV2Only = {"--host", "--appid", "--appid-file", "--speak"};
const std::vector<std::string> kV3Only = {"--key", "--key-file", "--region", "--base-url", "--json", "--text-type",
                                          "--ui-language"};

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", v);
  return text;
}

std::string DetectedJson(const TKtDetectedLanguage& d) {
  return JsonObject()
      .Text("language", d.Language)
      .Raw("score", Number(d.Score))
      .Bool("isTranslationSupported", d.IsTranslationSupported)
      .Bool("isTransliterationSupported", d.IsTransliterationSupported)
      .Str();
}

void Configure(const Args& args, TKtTranslatorV3& t, bool keyed) {
  ApplyTransferOptions(args, t);
  if (auto ca = args.Get("--cacert")) t.SetCAFile(UTF8ToString(*ca));
  t.SetIgnoreCertificateErrors(args.Has("--insecure"));
  if (auto base = args.Get("--base-url")) {
    if (base->rfind("https://", 0) != 0 && base->rfind("http://", 0) != 0)
      throw UsageError("--base-url wants an http:// or https:// address, not '" + *base + "'");
    t.SetBaseURL(UTF8ToString(*base));
  }
  if (auto region = args.Get("--region")) t.SetRegion(UTF8ToString(*region));
  if (auto ui = args.Get("--ui-language")) t.SetAcceptLanguage(UTF8ToString(*ui));
  if (auto type = args.Get("--text-type")) {
    if (*type != "plain" && *type != "html") throw UsageError("--text-type is plain or html, not '" + *type + "'");
    t.SetTextType(UTF8ToString(*type));
  }
  auto key = Secret(args, "--key", "KTINET_KEY");
  if (keyed && !key) throw UsageError("the service needs the resource's key: --key-file FILE or $KTINET_KEY");
  if (key) t.SetSubscriptionKey(UTF8ToString(*key));
}

int Failure(const char* command, const TKtTranslatorV3& t) {
  std::cerr << "ktinet " << command << ": " << EscapeControls(UTF8Encode(t.LastErrorText())) << "\n";
  return kExitFailed;
}

std::vector<String> Texts(const Args& args) {
  std::vector<String> texts;
  for (const auto& p : args.Positional()) texts.push_back(UTF8ToString(p));
  return texts;
}

}  // namespace

std::vector<Args::OptionSpec> TranslatorV3Options(bool withTextType) {
  std::vector<Args::OptionSpec> specs = {{"--api", "", true}, {"--region", "", true}, {"--base-url", "", true},
                                         {"--json", "", false}, {"--ui-language", "", true}};
  if (withTextType) specs.push_back({"--text-type", "", true});
  AppendOptions(specs, SecretOptions("--key"));
  return specs;
}

std::string TranslatorV3Help(bool withTextType) {
  return std::string(
             "\nWith --api v3, the Translator V3 API (TKtTranslatorV3):\n"
             "  --api v2|v3             the service's interface (default v2, the options above)\n") +
         SecretHelp("--key", "", "the resource's subscription key", "KTINET_KEY") +
         "  --region R              the resource's region, for regional and multi-service\n"
         "                          resources\n"
         "  --base-url URL          the service's address\n"
         "                          (https://api.cognitive.microsofttranslator.com)\n" +
         (withTextType ? "  --text-type T           plain (default) or html\n" : "") +
         "  --ui-language L         the language of language names (default English)\n"
         "  --json                  print the parsed results as JSON\n"
         "  --cacert, --insecure and the deadlines above apply as well; --host and --appid do not.\n";
}

bool WantsTranslatorV3(const Args& args, const std::string& command) {
  const std::string api = args.GetOr("--api", "v2");
  if (api != "v2" && api != "v3") throw UsageError("--api is v2 or v3, not '" + api + "'");
  const bool v3 = api == "v3";
  for (const std::string& name : v3 ? kV2Only : kV3Only)
    if (args.Has(name))
      throw UsageError(name + (v3 ? " is not an option of " + command + " --api v3"
                                               : " needs --api v3"));
  return v3;
}

int RunTranslateV3(const Args& args) {
  // The component refuses too many texts with the service's limit in its message.
  args.ExpectPositional(1, static_cast<size_t>(-1));
  std::vector<String> to;
  for (const auto& t : args.GetAll("--to")) to.push_back(UTF8ToString(t));
  if (to.empty()) throw UsageError("--to is required");
  TKtTranslatorV3 t(nullptr);
  Configure(args, t, true);
  const std::vector<String> texts = Texts(args);
  std::vector<TKtTranslationResult> results;
  if (!t.Translate(texts, to, UTF8ToString(args.GetOr("--from", "")), results)) return Failure("translate", t);
  if (args.Has("--json")) {
    JsonArray out;
    for (size_t i = 0; i < results.size(); ++i) {
      JsonObject item;
      item.Text("text", texts[i]);
      if (results[i].DetectedLanguage.Language.empty()) item.Null("detectedLanguage");
      else  // the translate answer gives the language and the score only
        item.Raw("detectedLanguage", JsonObject()
                                         .Text("language", results[i].DetectedLanguage.Language)
                                         .Raw("score", Number(results[i].DetectedLanguage.Score))
                                         .Str());
      JsonArray translations;
      for (const auto& tr : results[i].Translations)
        translations.Raw(JsonObject().Text("to", tr.To).Text("text", tr.Text).Str());
      out.Raw(item.Raw("translations", translations.Str()).Str());
    }
    std::cout << out.Str() << "\n";
    return kExitOk;
  }
  // One text into one language prints the translation alone, as the earlier form does; otherwise
  // each translation takes one line, led by its target when there are several.
  if (results.size() == 1 && results[0].Translations.size() == 1) {
    std::cout << EscapeControls(UTF8Encode(results[0].Translations[0].Text), LineBreaks::kKeep) << "\n";
    return kExitOk;
  }
  for (const auto& r : results)
    for (const auto& tr : r.Translations)
      std::cout << (to.size() > 1 ? EscapeControls(UTF8Encode(tr.To)) + ": " : std::string())
                << EscapeControls(UTF8Encode(tr.Text)) << "\n";
  return kExitOk;
}

int RunDetectV3(const Args& args) {
  args.ExpectPositional(1, static_cast<size_t>(-1));
  TKtTranslatorV3 t(nullptr);
  Configure(args, t, true);
  const std::vector<String> texts = Texts(args);
  std::vector<TKtLanguageDetection> results;
  if (!t.Detect(texts, results)) return Failure("detect", t);
  if (args.Has("--json")) {
    JsonArray out;
    for (size_t i = 0; i < results.size(); ++i) {
      JsonArray alternatives;
      for (const auto& a : results[i].Alternatives) alternatives.Raw(DetectedJson(a));
      std::string item = DetectedJson(results[i]);
      item.pop_back();  // the closing brace: the text and the alternatives join the object
      out.Raw(item + ",\"alternatives\":" + alternatives.Str() + ",\"text\":" + JsonText(texts[i]) + "}");
    }
    std::cout << out.Str() << "\n";
    return kExitOk;
  }
  for (const auto& r : results) std::cout << EscapeControls(UTF8Encode(r.Language)) << "\n";
  return kExitOk;
}

int RunLanguagesV3(const Args& args) {
  args.ExpectPositional(0, 0);
  TKtTranslatorV3 t(nullptr);
  Configure(args, t, false);
  std::vector<TKtTranslatorLanguage> languages;
  if (!t.GetLanguages(languages)) return Failure("languages", t);
  if (languages.empty()) {
    std::cerr << "ktinet languages: the service listed no languages\n";
    return kExitFailed;
  }
  if (args.Has("--json")) {
    JsonArray out;
    for (const auto& l : languages)
      out.Raw(JsonObject().Text("code", l.Code).Text("name", l.Name).Text("nativeName", l.NativeName).Text("dir", l.Dir).Str());
    std::cout << out.Str() << "\n";
    return kExitOk;
  }
  for (const auto& l : languages)
    std::cout << EscapeControls(UTF8Encode(l.Code)) << "\t" << EscapeControls(UTF8Encode(l.Name)) << "\t"
              << EscapeControls(UTF8Encode(l.NativeName)) << "\n";
  return kExitOk;
}

namespace {

// A stand-in of the Translator V3 service answering one translate request with detection.
DemoOutcome DemoTranslatorV3() {
  DemoServer site([](DemoConnection& conn) {
    std::string head = conn.ReceiveUntil("\r\n\r\n");
    // The body is read before the answer goes out: closing on unread bytes would reset the
    // connection under the client.
    const size_t at = head.find("Content-Length: ");
    const size_t length = at == std::string::npos ? 0 : std::min<size_t>(std::strtoul(head.c_str() + at + 16, nullptr, 10), 4096);
    std::string body;
    while (body.size() < length) {
      const std::string more = conn.Receive();
      if (more.empty()) break;
      body += more;
    }
    const bool match = body == "[{\"Text\":\"Greetings from Cologne\"}]" &&
                       head.rfind("POST /translate?api-version=3.0&to=de ", 0) == 0 &&
                       head.find("Ocp-Apim-Subscription-Key: demo-key\r\n") != std::string::npos;
    const std::string answer = match ? "[{\"detectedLanguage\":{\"language\":\"en\",\"score\":1.0},"
                               "\"translations\":[{\"text\":\"Gr\\u00fc\\u00dfe aus K\\u00f6ln\",\"to\":\"de\"}]}]"
                             : "{\"error\":{\"code\":400000,\"message\":\"One of the request inputs is not valid.\"}}";
    conn.Send(std::string(match ? "HTTP/1.1 200 OK" : "HTTP/1.1 400 Bad Request") +
              "\r\nContent-Type: application/json; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
              std::to_string(answer.size()) + "\r\n\r\n" + answer);
  });
  TKtTranslatorV3 t(nullptr);
  t.SetBaseURL(u"http://127.0.0.1:" + IntToStr(site.Port()));
  t.SetSubscriptionKey(u"demo-key");
  std::vector<TKtTranslationResult> results;
  const bool ok = t.Translate({u"Greetings from Cologne"}, {u"de"}, u"", results);
  DemoOutcome out;
  out.did = "translating 'Greetings from Cologne' into de at a Translator V3 stand-in on 127.0.0.1:" +
            std::to_string(site.Port());
  out.ok = ok && results[0].Translations[0].Text == u"Grüße aus Köln" && results[0].DetectedLanguage.Language == u"en";
  out.result = out.ok ? "'" + UTF8Encode(results[0].Translations[0].Text) + "' (detected en)"
                      : "failed: " + UTF8Encode(t.LastErrorText());
  return out;
}

}  // namespace

KTINET_DEMO_STEP(DemoStep{83, "TKtTranslatorV3", DemoTranslatorV3});

}  // namespace ktinet::cli
