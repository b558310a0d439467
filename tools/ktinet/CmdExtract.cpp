// `ktinet extract`: TKtInfoExtractor from the command line, and its line in the demo.
#include <iostream>
#include <memory>
#include <string>

#include "Cli.h"
#include "SocketOptions.h"
#include "Demo.h"
#include "FeedsSupport.h"
#include "Files.h"
#include "Output.h"
#include "rtl/SysUtils.h"
#include "transfer/ktixtract.h"

namespace ktinet::cli {

namespace {

TKtIExtract KindFromText(const std::string& text) {
  static const std::pair<const char*, TKtIExtract> kinds[] = {
      {"mailto", ieMailTo}, {"http", ieHTTP},     {"https", itHTTPS}, {"ftp", itFTP},   {"file", itFile},
      {"telnet", itTelnet}, {"news", itNews},     {"gopher", itGopher}, {"wais", itWais}};
  for (auto& [name, kind] : kinds)
    if (text == name) return kind;
  throw UsageError("--kind must be mailto, http, https, ftp, file, telnet, news, gopher or wais, not '" + text + "'");
}

int RunExtract(const Args& args) {
  args.ExpectPositional(1, 1);
  const TKtIExtract kind = KindFromText(args.GetOr("--kind", "mailto"));
  feeds::Remote remote = feeds::ParseRemote(args.Positional()[0]);
  std::unique_ptr<InputFile> input;
  if (remote.service == isNetwork) {
    input = std::make_unique<InputFile>(remote.path);
    remote.path = input->Path();
  }
  TKtInfoExtractor extractor(nullptr);
  feeds::Aim(extractor, remote);
  extractor.SetExtract(kind);
  extractor.SetRemoteFileName(UTF8ToString(remote.path));
  ApplyTransferOptions(args, extractor);
  const bool ran = RunAskingProxyLogon(extractor, [&extractor] { return extractor.Execute(); });
  if (!ran || extractor.Status() == isNotFound) {
    std::string why = feeds::StatusText(extractor.Status());
    if (extractor.LastHTTPStatus() >= 400) why = "the server answered " + std::to_string(extractor.LastHTTPStatus());
    if (ProxyWantsLogon(extractor)) why = kProxyRefused;
    std::cerr << "ktinet extract: " << args.Positional()[0] << ": " << why << "\n";
    return kExitFailed;
  }
  if (extractor.Status() == isSkipped && !FileExists(extractor.LocalFileName())) {
    std::cerr << "ktinet extract: " << args.Positional()[0] << ": the server gave no size for the page, so nothing was read\n";
    return kExitFailed;
  }
  TStrings& items = *extractor.ExtractedInfo();
  // The items hold the page's bytes: UTF-8 when the page is, else one character per byte.
  if (args.Has("--json")) {
    JsonArray out;
    for (int i = 0; i < items.Count(); ++i) out.Text(NetworkText(items[i]));
    std::cout << out.Str() << "\n";
  } else {
    for (int i = 0; i < items.Count(); ++i) std::cout << Shown(items[i]) << "\n";
  }
  return kExitOk;
}

DemoOutcome RunDemoExtract() {
  DemoOutcome out;
  const int port = feeds::DemoSitePort();
  out.did = "http:// links of /page.html from 127.0.0.1:" + std::to_string(port);
  TKtInfoExtractor extractor(nullptr);
  extractor.SetHost(u"127.0.0.1");
  extractor.SetPort(static_cast<Word>(port));
  extractor.SetExtract(ieHTTP);
  extractor.SetRemoteFileName(u"/page.html");
  extractor.Execute();
  TStrings& items = *extractor.ExtractedInfo();
  out.ok = extractor.Status() == isFinished && items.Count() == 2;
  out.result = std::string(feeds::StatusText(extractor.Status())) + ": " + std::to_string(items.Count()) + " links";
  for (int i = 0; i < items.Count(); ++i) out.result += (i ? ", " : " (") + UTF8Encode(items[i]);
  if (items.Count()) out.result += ")";
  return out;
}

}  // namespace

KTINET_COMMAND(Command{
    "extract", "list the links of one kind in a web page (TKtInfoExtractor)",
    std::string("Usage: ktinet extract URL [--kind K] [--json] [--user U] [OPTIONS]\n\n"
    "URL is http://, https:// or ftp://host[:port]/path, or a file-system path (\"-\": standard\n"
    "input). Prints every item\n"
    "that starts with the kind's prefix (exact letter case), up to the next blank, line break or\n"
    "one of \" # % < > [ \\ ] ^ ` { | } ~, one per line, in page order, repeats included.\n"
    "Control characters in an item are shown as \\xHH escapes.\n\n"
    "      --kind K        mailto (default), http, https, ftp, file, telnet, news, gopher or wais\n"
    "      --json          a JSON array of the items\n") +
        TransferOptionsHelp(),
    WithTransferOptions({{"--kind", "", true}, {"--json", "", false}}), RunExtract});

KTINET_DEMO_STEP(DemoStep{62, "TKtInfoExtractor", RunDemoExtract});

}  // namespace ktinet::cli
