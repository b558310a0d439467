// `ktinet rss`: TKtIRSSParser from the command line, and its line in the demo.
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Cli.h"
#include "SocketOptions.h"
#include "Demo.h"
#include "FeedsSupport.h"
#include "Files.h"
#include "FormRun.h"
#include "Output.h"
#include "xml/KtIRSS.h"

namespace ktinet::cli {

namespace {

using feeds::JsonText;

std::vector<std::pair<const char*, const String*>> ChannelFields(const TKtIRSSChannel& c) {
  return {{"title", &c.Title},
          {"link", &c.Link},
          {"description", &c.Description},
          {"language", &c.Language},
          {"copyright", &c.Copyright},
          {"rating", &c.Rating},
          {"managingEditor", &c.ManagingEditor},
          {"webMaster", &c.WebMaster},
          {"pubDate", &c.PubDate},
          {"lastBuildDate", &c.LastBuildDate},
          {"category", &c.Category},
          {"generator", &c.Generator},
          {"docs", &c.Docs},
          {"ttl", &c.Ttl}};
}

std::vector<std::pair<const char*, const String*>> ItemFields(const TKtIRSSItem& i) {
  return {{"title", &i.Title}, {"link", &i.Link}, {"description", &i.Description}, {"creator", &i.Creator},
          {"date", &i.Date}};
}


void PrintJson(const TKtIRSSChannels& channels) {
  std::string out = "{\"channels\":[";
  for (int c = 0; c < channels.Count(); ++c) {
    const TKtIRSSChannel& ch = *channels.GetItem(c);
    out += c ? ",{" : "{";
    for (auto& [name, value] : ChannelFields(ch)) out += JsonText(std::string(name)) + ":" + JsonText(*value) + ",";
    out += "\"items\":[";
    for (int i = 0; i < ch.Items()->Count(); ++i) {
      out += i ? ",{" : "{";
      bool first = true;
      for (auto& [name, value] : ItemFields(*ch.Items()->GetItem(i))) {
        out += (first ? "" : ",") + JsonText(std::string(name)) + ":" + JsonText(*value);
        first = false;
      }
      out += "}";
    }
    out += "]}";
  }
  std::cout << out << "]}\n";
}

int RunRss(const Args& args) {
  args.ExpectPositional(1, 1);
  feeds::Remote remote = feeds::ParseRemote(args.Positional()[0]);
  std::unique_ptr<InputFile> input;
  if (remote.service == isNetwork) {
    input = std::make_unique<InputFile>(remote.path);
    remote.path = input->Path();
  }
  TKtIRSSParser parser(nullptr);
  feeds::Aim(parser, remote);
  parser.SetRemoteFileName(UTF8ToString(remote.path));
  ApplyTransferOptions(args, parser);
  RunAskingProxyLogon(parser, [&parser] { return parser.Execute(); });
  if (parser.Status() != isFinished) {
    std::string why = feeds::StatusText(parser.Status());
    if (parser.Status() == isSkipped) why = "the server gave no size for the feed, so nothing was read";
    if (parser.LastHTTPStatus() >= 400) why = "the server answered " + std::to_string(parser.LastHTTPStatus());
    if (ProxyWantsLogon(parser)) why = kProxyRefused;
    std::cerr << "ktinet rss: " << args.Positional()[0] << ": " << why << "\n";
    return kExitFailed;
  }
  if (args.Has("--json")) PrintJson(*parser.Channels());
  else PrintRssChannels(std::cout, *parser.Channels());
  // Not a failure (the feed came and was read), but an empty output alone would leave a person
  // guessing whether anything happened.
  if (parser.Channels()->Count() == 0)
    std::cerr << "ktinet rss: " << args.Positional()[0] << ": no channel found (is it an RSS feed?)\n";
  return kExitOk;
}

}  // namespace

void PrintRssChannels(std::ostream& out, const TKtIRSSChannels& channels) {
  for (int c = 0; c < channels.Count(); ++c) {
    const TKtIRSSChannel& ch = *channels.GetItem(c);
    out << "channel " << (c + 1) << "\n";
    for (auto& [name, value] : ChannelFields(ch))
      if (!value->empty()) out << "  " << name << ": " << EscapeControls(UTF8Encode(*value)) << "\n";
    for (int i = 0; i < ch.Items()->Count(); ++i) {
      out << "  item " << (i + 1) << "\n";
      for (auto& [name, value] : ItemFields(*ch.Items()->GetItem(i)))
        if (!value->empty()) out << "    " << name << ": " << EscapeControls(UTF8Encode(*value)) << "\n";
    }
  }
}

namespace {

DemoOutcome RunDemoRss() {
  DemoOutcome out;
  const int port = feeds::DemoSitePort();
  out.did = "feed /feeds/news.xml from 127.0.0.1:" + std::to_string(port);
  TKtIRSSParser parser(nullptr);
  parser.SetHost(u"127.0.0.1");
  parser.SetPort(static_cast<Word>(port));
  parser.SetRemoteFileName(u"/feeds/news.xml");
  parser.Execute();
  const TKtIRSSChannels& ch = *parser.Channels();
  if (parser.Status() != isFinished || ch.Count() != 1) {
    out.result = std::string("status ") + feeds::StatusText(parser.Status()) + ", " + std::to_string(ch.Count()) +
                 " channels";
    return out;
  }
  out.ok = ch.GetItem(0)->Items()->Count() == 2;
  out.result = "channel '" + UTF8Encode(ch.GetItem(0)->Title) + "' with " +
               std::to_string(ch.GetItem(0)->Items()->Count()) + " items";
  return out;
}

}  // namespace

KTINET_COMMAND(Command{
    "rss", "read the channels and items of an RSS feed (TKtIRSSParser)",
    std::string("Usage: ktinet rss URL [--json] [--user U] [OPTIONS]\n\n"
    "URL is http://, https:// or ftp://host[:port]/path, or a file-system path (\"-\" reads the feed\n"
    "from standard input). Downloads the feed and lists its channels with their fields and items\n"
    "(title, link, description, creator, date). Texts are shown as the feed writes them (entities\n"
    "are not decoded; control characters as \\xHH escapes). A feed without a channel is said so on\n"
    "stderr (exit 0). Exit 1 when the feed could not be fetched.\n\n"
    "      --json          one JSON object: {\"channels\":[{...,\"items\":[...]}]}\n") +
        TransferOptionsHelp(),
    WithTransferOptions({{"--json", "", false}}), RunRss});

KTINET_DEMO_STEP(DemoStep{60, "TKtIRSSParser", RunDemoRss});

}  // namespace ktinet::cli
