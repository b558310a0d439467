// `ktinet translate`, `detect`, `languages` and `speak`: TKtMSTranslator from the command line,
// and its demo line.
#include <iostream>

#include "Cli.h"
#include "Demo.h"
#include "DemoServers.h"
#include "Files.h"
#include "Secrets.h"
#include "SocketOptions.h"
#include "TranslateV3.h"
#include "Output.h"
#include "rtl/Classes.h"
#include "rtl/Exceptions.h"
#include "services/KtIMSTranslator.h"

namespace ktinet::cli {

namespace {

const std::string kConnectionHelp = std::string(
    "  --host URL              the service's base address\n"
    "                          (https://api.microsofttranslator.com/v2/Http.svc)\n") +
    SecretHelp("--appid", "", "the application identifier sent with every call", "KTINET_APPID", 26, false) +
    kTlsOptionsHelp + kDeadlineOptionsHelp;

std::vector<Args::OptionSpec> ConnectionOptions(std::vector<Args::OptionSpec> more = {}, bool withTextType = false) {
  std::vector<Args::OptionSpec> specs = {{"--host", "", true}};
  AppendOptions(specs, SecretOptions("--appid"));
  specs.insert(specs.end(), more.begin(), more.end());
  AppendOptions(specs, TlsOptions());
  AppendOptions(specs, DeadlineOptions());
  AppendOptions(specs, TranslatorV3Options(withTextType));
  return specs;
}

std::string TransferError(const TKtMSTranslator& t) {
  String text = InternetErrorMessage(t.LastError());
  return "error " + std::to_string(t.LastError()) + (text.empty() ? std::string() : ": " + UTF8Encode(text));
}

void Configure(const Args& args, TKtMSTranslator& t) {
  ApplyTransferOptions(args);
  if (auto host = args.Get("--host")) t.SetHost(UTF8ToString(*host));
  if (auto ca = args.Get("--cacert")) t.SetCAFile(UTF8ToString(*ca));
  // The application identifier is the service's key: it has the secret forms too.
  if (auto id = Secret(args, "--appid", "KTINET_APPID")) t.SetBingAppId(UTF8ToString(*id));
  t.SetIgnoreCertificateErrors(args.Has("--insecure"));
}

// The component's calls report nothing themselves; LastError tells a failed transfer from an
// empty answer.
int PrintOrFail(const char* command, const TKtMSTranslator& t, const String& answer) {
  if (t.LastError() != ERROR_SUCCESS) {
    std::cerr << "ktinet " << command << ": " << TransferError(t) << "\n";
    return kExitFailed;
  }
  if (!t.ServiceError().empty()) {
    std::cerr << "ktinet " << command << ": " << UTF8Encode(t.ServiceError()) << "\n";
    return kExitFailed;
  }
  if (answer.empty()) {
    std::cerr << "ktinet " << command << ": the service gave an empty answer\n";
    return kExitFailed;
  }
  std::cout << EscapeControls(UTF8Encode(answer), LineBreaks::kKeep) << "\n";
  return kExitOk;
}

int RunTranslate(const Args& args) {
  if (WantsTranslatorV3(args, "translate")) return RunTranslateV3(args);
  args.ExpectPositional(1, 1);
  auto from = args.Get("--from");
  auto to = args.Get("--to");
  if (!to) throw UsageError("--to is required");
  TKtMSTranslator t(nullptr);
  Configure(args, t);
  return PrintOrFail("translate", t, t.TranslateText(UTF8ToString(args.Positional()[0]), UTF8ToString(from.value_or("")),
                                                  UTF8ToString(*to)));
}

int RunDetect(const Args& args) {
  if (WantsTranslatorV3(args, "detect")) return RunDetectV3(args);
  args.ExpectPositional(1, 1);
  TKtMSTranslator t(nullptr);
  Configure(args, t);
  return PrintOrFail("detect", t, t.DetectLanguage(UTF8ToString(args.Positional()[0])));
}

int RunLanguages(const Args& args) {
  if (WantsTranslatorV3(args, "languages")) return RunLanguagesV3(args);
  args.ExpectPositional(0, 0);
  TKtMSTranslator t(nullptr);
  Configure(args, t);
  TStringList list;
  if (args.Has("--speak")) t.GetLanguagesForSpeak(&list);
  else t.GetLanguagesForTranslate(&list);
  if (t.LastError() != ERROR_SUCCESS) {
    std::cerr << "ktinet languages: " << TransferError(t) << "\n";
    return kExitFailed;
  }
  if (!t.ServiceError().empty()) {
    std::cerr << "ktinet languages: " << UTF8Encode(t.ServiceError()) << "\n";
    return kExitFailed;
  }
  if (list.Count() == 0) {
    std::cerr << "ktinet languages: the service listed no languages\n";
    return kExitFailed;
  }
  for (int i = 0; i < list.Count(); ++i) std::cout << EscapeControls(UTF8Encode(list[i])) << "\n";
  return kExitOk;
}

int RunSpeak(const Args& args) {
  // Speech left the translator with its third version: the speech service's text to speech
  // does it now, with a key of its own.
  if (WantsTranslatorV3(args, "speak"))
    throw UsageError("speech is not part of the Translator V3 API; use the Speech service's text to speech "
                     "instead (speak works only with --api v2)");
  args.ExpectPositional(1, 1);
  auto lang = args.Get("--lang");
  auto out = args.Get("--out");
  if (!lang || !out) throw UsageError("--lang and --out are required");
  TKtMSTranslator t(nullptr);
  Configure(args, t);
  // "-": the audio alone goes to standard output, the report to stderr.
  const OutputFile target(*out);
  std::ostream& report = target.ToStandardOutput() ? std::cerr : std::cout;
  try {
    t.SpeakText(UTF8ToString(*lang), UTF8ToString(target.Path()), UTF8ToString(args.Positional()[0]));
  } catch (const Exception& e) {
    std::cerr << "ktinet speak: " << e.what() << "\n";
    return kExitFailed;
  }
  if (t.LastError() != ERROR_SUCCESS) {
    std::cerr << "ktinet speak: " << TransferError(t) << "\n";
    return kExitFailed;
  }
  if (t.LastHTTPStatus() < 200 || t.LastHTTPStatus() > 299) {
    std::cerr << "ktinet speak: the service answered " << t.LastHTTPStatus() << "; " << *out << " was left as it was\n";
    return kExitFailed;
  }
  try {
    TFileStream written(UTF8ToString(target.Path()), fmOpenRead);
    const auto size = written.Size();
    target.Deliver();
    report << (target.ToStandardOutput() ? "standard output" : *out) << ": " << size << " bytes\n";
  } catch (const Exception& e) {
    std::cerr << "ktinet speak: " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

// A stand-in of the translator service answering the translate call with a fixed document.
DemoOutcome DemoTranslator() {
  DemoServer site([](DemoConnection& conn) {
    std::string head = conn.ReceiveUntil("\r\n\r\n");
    const bool match = head.rfind("GET /v2/Http.svc/Translate?appId=", 0) == 0 &&
                       head.find("&text=rock%20%26%20roll&from=en&to=de ") != std::string::npos;
    std::string body = match ? "<string xmlns=\"http://schemas.microsoft.com/2003/10/Serialization/\">"
                               "Rock &amp; Roll</string>"
                             : "not found";
    conn.Send(std::string(match ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
              "\r\nContent-Type: application/xml; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
              std::to_string(body.size()) + "\r\n\r\n" + body);
  });
  TKtMSTranslator t(nullptr);
  t.SetHost(u"http://127.0.0.1:" + IntToStr(site.Port()) + u"/v2/Http.svc");
  String answer = t.TranslateText(u"rock & roll", u"en", u"de");
  DemoOutcome out;
  out.did = "translating 'rock & roll' from en to de at a translator stand-in on 127.0.0.1:" + std::to_string(site.Port());
  out.ok = answer == u"Rock & Roll";
  out.result = out.ok ? "'" + UTF8Encode(answer) + "'" : "unexpected answer '" + UTF8Encode(answer) + "'";
  return out;
}

}  // namespace

KTINET_COMMAND(Command{"translate", "translate a text (TKtMSTranslator; with --api v3 TKtTranslatorV3)",
                       std::string("Usage: ktinet translate TEXT --to L [--from L] [OPTIONS]\n\n"
                                   "Prints the translation of TEXT into the language L.\n"
                                   "       ktinet translate --api v3 TEXT... --to L [--to L]... [--from L] [OPTIONS]\n\n"
                                   "Translates each TEXT into each language L (--from: the source language;\n"
                                   "without it the service detects it) and prints one translation per line\n"
                                   "(\"L: text\" with several targets); one text into one language prints the\n"
                                   "translation alone.\n\n") +
                           kConnectionHelp + TranslatorV3Help(true),
                       ConnectionOptions({{"--from", "", true}, {"--to", "", true, true}}, true), RunTranslate});
KTINET_COMMAND(Command{"detect", "detect the language of a text (TKtMSTranslator; with --api v3 TKtTranslatorV3)",
                       std::string("Usage: ktinet detect TEXT [OPTIONS]\n\nPrints the language code of TEXT.\n"
                                   "       ktinet detect --api v3 TEXT... [OPTIONS]\n\n"
                                   "Prints the language code of each TEXT, one per line (--json adds the\n"
                                   "score and the alternatives).\n\n") +
                           kConnectionHelp + TranslatorV3Help(false),
                       ConnectionOptions(), RunDetect});
KTINET_COMMAND(Command{"languages", "list the languages of the translator service (TKtMSTranslator or, --api v3, TKtTranslatorV3)",
                       std::string("Usage: ktinet languages [--speak] [OPTIONS]\n\n"
                                   "Prints the codes of the languages the service translates, or with\n"
                                   "--speak those it can speak, one per line.\n"
                                   "       ktinet languages --api v3 [OPTIONS]\n\n"
                                   "Prints the languages the service translates, one per line: the code, its\n"
                                   "name and its native name, separated by tabs. No key is needed.\n\n") +
                           kConnectionHelp + TranslatorV3Help(false),
                       ConnectionOptions({{"--speak", "", false}}), RunLanguages});
KTINET_COMMAND(Command{"speak", "save the spoken form of a text (TKtMSTranslator)",
                       std::string("Usage: ktinet speak TEXT --lang L --out FILE [OPTIONS]\n\n"
                                   "Writes the service's audio for TEXT in language L to FILE (created or\n"
                                   "emptied first; \"-\": standard output, with the report on stderr).\n"
                                   "With --api v3 it refuses: speech is not part of the Translator V3 API\n"
                                   "(the Speech service's text to speech does it).\n\n") +
                           kConnectionHelp + TranslatorV3Help(false),
                       ConnectionOptions({{"--lang", "", true}, {"--out", "", true}}), RunSpeak});

KTINET_DEMO_STEP(DemoStep{82, "TKtMSTranslator", DemoTranslator});

}  // namespace ktinet::cli
