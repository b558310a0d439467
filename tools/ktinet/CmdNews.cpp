// `ktinet news`: TKtWebDirect from the command line (the news file and its tree of links), and
// its line in the demo.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>

#include "Cli.h"
#include "SocketOptions.h"
#include "FeedsSupport.h"
#include "Output.h"
#include "Demo.h"
#include "DemoServers.h"
#include "rtl/SysUtils.h"
#include "transfer/ktidirect.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

namespace {

// The program keeps its news file with its state, never beside the executable (an installed
// program would write into /usr/bin as root); `--file` and the demo point it elsewhere.
class TNewsBrowser : public TKtWebDirect {
 public:
  using TKtWebDirect::TKtWebDirect;
  void SetNewsFile(const String& fileName) { FLocalFileName = fileName; }
};

// Where the program prints the tree itself: the dialog is built and read, never presented.
class QuietBackend : public UiBackend {
 public:
  const char* Name() const override { return "quiet"; }
  TModalResult ShowModal(TForm&) override { return mrCancel; }
  TModalResult MessageBox(const TMessageRequest& request) override { return UnattendedAnswer(request.Buttons); }
};

using Source = feeds::Remote;

Source ParseSource(const std::string& text) { return feeds::ParseRemote(text, ""); }


// Line breaks and tabs become blanks (a caption is one line); other control characters are
// shown as escapes.
std::string OneLine(const String& text) {
  std::string s = UTF8Encode(text);
  for (char& c : s)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return EscapeControls(s);
}

String LinkOf(const TTreeNode* node) {
  auto* data = dynamic_cast<TKtINodeData*>(node->Data());
  return data ? data->Url : String();
}

// Headings unindented; entries indented as "caption <link>", new ones marked with "*".
std::string TreeText(const TTreeView* tree) {
  std::string out;
  if (!tree) return out;
  for (TTreeNode* group = tree->Items()->GetFirstNode(); group; group = group->GetNextSibling()) {
    out += OneLine(group->Text()) + "\n";
    for (int i = 0; i < group->Count(); ++i) {
      const TTreeNode* entry = group->Item(i);
      out += std::string(entry->Bold() ? "  * " : "    ") + OneLine(entry->Text()) + " <" + OneLine(LinkOf(entry)) + ">\n";
    }
  }
  return out;
}

std::string TreeJson(const String& file, const char* status, const TTreeView* tree) {
  std::ostringstream out;
  out << "{\"file\": " << feeds::JsonText(file) << ", \"status\": " << (status ? feeds::JsonText(UTF8ToString(status)) : "null")
      << ", \"groups\": [";
  if (tree) {
    bool firstGroup = true;
    for (TTreeNode* group = tree->Items()->GetFirstNode(); group; group = group->GetNextSibling()) {
      out << (firstGroup ? "" : ", ") << "{\"caption\": " << feeds::JsonText(group->Text()) << ", \"entries\": [";
      firstGroup = false;
      for (int i = 0; i < group->Count(); ++i) {
        const TTreeNode* entry = group->Item(i);
        out << (i ? ", " : "") << "{\"caption\": " << feeds::JsonText(entry->Text()) << ", \"link\": " << feeds::JsonText(LinkOf(entry))
            << ", \"new\": " << (entry->Bold() ? "true" : "false") << "}";
      }
      out << "]}";
    }
  }
  out << "]}\n";
  return out.str();
}

TKtIShowMode ParseShowMode(const std::string& text) {
  if (text == "always") return omAlways;
  if (text == "never") return omNever;
  if (text == "if-changed") return omIfChanged;
  throw UsageError("--show takes always, never or if-changed, not '" + text + "'");
}

std::vector<Args::OptionSpec> NewsOptions() {
  std::vector<Args::OptionSpec> specs = {{"--show", "", true}, {"--file", "", true}, {"--json", "", false}};
  AppendOptions(specs, TlsOptions());
  AppendOptions(specs, DeadlineOptions());
  AppendOptions(specs, ProxyOptions());
  return specs;
}

int RunNews(const Args& args) {
  args.ExpectPositional(0, 1);
  const auto file = args.Get("--file");
  if (file && !args.Positional().empty()) throw UsageError("give either a URL or --file, not both");
  if (!file && args.Positional().empty()) throw UsageError("a URL (or --file PATH) is needed");
  if (file && args.Has("--show")) throw UsageError("--show applies to a download, not to --file");
  const TKtIShowMode mode = ParseShowMode(args.GetOr("--show", "always"));
  const bool json = args.Has("--json");
  // On a terminal the tree is the component's own interactive one; elsewhere the program
  // prints the tree the component built.
  const bool interactive = !json && std::strcmp(CurrentBackend().Name(), "terminal") == 0 && isatty(1) == 1;
  std::unique_ptr<TBackendScope> quiet;
  if (!interactive) quiet = std::make_unique<TBackendScope>(std::make_unique<QuietBackend>());

  TNewsBrowser news(nullptr);
  news.SetTitle(u"ktinet news");
  const char* status = nullptr;
  bool failed = false;
  if (file) {
    news.SetNewsFile(UTF8ToString(*file));
    if (!FileExists(news.NewsFileName())) {
      std::cerr << "ktinet news: no news file at " << *file << "\n";
      return kExitFailed;
    }
    // Modal, as after a download: on a terminal the tree stays until the person closes it.
    news.ShowModal();
  } else {
    const Source source = ParseSource(args.Positional()[0]);
    news.SetNewsFile(UTF8ToString(StateDirectory() + "/ktinet.wdn"));
    news.SetService(source.service);
    if (source.service != isNetwork) {
      news.SetHost(UTF8ToString(source.host));
      if (source.port) news.SetPort(static_cast<Word>(source.port));
    }
    news.SetRemoteFileName(UTF8ToString(source.path));
    news.SetShowMode(mode);
    ApplyTransferOptions(args);
    ApplyTransferProxy(args, news);
    RunAskingProxyLogon(news, [&news] { return news.Execute(); });
    status = feeds::StatusText(news.Status());
    failed = news.Status() == isFailed || news.Status() == isNotFound;
  }

  if (json) std::cout << TreeJson(news.NewsFileName(), status, news.Tree());
  else if (!interactive) std::cout << TreeText(news.Tree());
  else if (!news.Form() && status) std::cout << status << ": " << UTF8Encode(news.NewsFileName()) << "\n";
  std::cout.flush();
  if (failed) {
    std::cerr << "ktinet news: " << args.Positional()[0] << ": " << status
              << (ProxyWantsLogon(news) ? std::string(" (") + kProxyRefused + ")"
                  : news.LastHTTPStatus() >= 400 ? " (the server answered " + std::to_string(news.LastHTTPStatus()) + ")"
                                               : std::string())
              << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

// ---- demo ------------------------------------------------------------------------------------

DemoOutcome RunDemoNews() {
  DemoOutcome out;
  std::string served =
      "[Releases]\r\nhttps://example.org/news/3.0=Version 3.0 is out\r\n"
      "https://example.org/news/2.9=Version 2.9\r\n[Tips]\r\nhttps://example.org/tips/proxy=Using a proxy\r\n";
  std::string lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
  DemoServer server([&](DemoConnection& conn) {
    const std::string request = conn.ReceiveUntil("\r\n\r\n");
    if (request.rfind("GET /news.wdn ", 0) != 0) {
      conn.Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
      return;
    }
    conn.Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(served.size()) +
              "\r\nLast-Modified: " + lastModified + "\r\n\r\n" + served);
  });
  std::string dir = UTF8Encode(GetTempDir()) + "ktinet-demo-news-XXXXXX";
  if (!::mkdtemp(dir.data())) {
    out.result = "no temporary directory";
    return out;
  }
  const std::string newsFile = dir + "/demo.wdn";
  struct Cleanup {
    std::string dir, file;
    ~Cleanup() {
      ::unlink(file.c_str());
      ::unlink((dir + "/demo.~wdn").c_str());
      ::rmdir(dir.c_str());
    }
  } cleanup{dir, newsFile};
  out.did = "news file from 127.0.0.1:" + std::to_string(server.Port()) + ", twice";

  TBackendScope quiet(std::make_unique<QuietBackend>());
  auto run = [&](std::string& report) -> bool {
    TNewsBrowser news(nullptr);
    news.SetHost(UTF8ToString(DemoServer::Host()));
    news.SetPort(static_cast<Word>(server.Port()));
    news.SetRemoteFileName(u"/news.wdn");
    news.SetNewsFile(UTF8ToString(newsFile));
    news.Proxy()->SetUseProxy(false);
    if (!news.Execute() || news.Status() != isFinished || !news.Tree()) {
      report = std::string("status ") + feeds::StatusText(news.Status());
      return false;
    }
    int total = 0, fresh = 0;
    std::string which;
    for (TTreeNode* n = news.Tree()->Items()->GetFirstNode(); n; n = n->GetNext()) {
      if (n->Level() == 0) continue;
      ++total;
      if (!n->Bold()) continue;
      which = UTF8Encode(n->Text());
      ++fresh;
    }
    report = std::to_string(fresh) + " of " + std::to_string(total) + " new";
    if (fresh == 1) report += " ('" + which + "')";
    return true;
  };
  std::string first, second;
  if (!run(first)) {
    out.result = "first run: " + first;
    return out;
  }
  served.insert(served.find("[Tips]"), "https://example.org/news/3.1=Version 3.1 fixes\r\n");
  lastModified = "Wed, 02 Dec 2026 10:00:00 GMT";
  if (!run(second)) {
    out.result = "second run: " + second;
    return out;
  }
  out.ok = first == "3 of 3 new" && second == "1 of 4 new ('Version 3.1 fixes')";
  out.result = "run 1: " + first + "; one added, run 2: " + second;
  return out;
}

}  // namespace

KTINET_COMMAND(Command{
    "news", "keep a news file up to date and show its tree of links (TKtWebDirect)",
    std::string("Usage: ktinet news URL [--show always|never|if-changed] [--json] [OPTIONS]\n"
    "       ktinet news --file PATH [--json]\n\n"
    "Brings the program's news file up to date from URL (http://, https://, ftp:// or a file\n"
    "path) and shows it as a tree: a heading per section, an entry per link=caption line.\n"
    "Entries that are new since the previous copy (kept as the .~wdn backup) are bold with a\n"
    "'*' marker. On a terminal the tree is navigable: Up/Down or j/k move, Enter opens the\n"
    "entry's link with xdg-open, q or Esc closes. Elsewhere the tree is printed: headings\n"
    "unindented, entries as 'caption <link>', new ones marked '*'.\n"
    "Only http, https, ftp and mailto links are opened; others are refused with a warning.\n"
    "The news file is $XDG_STATE_HOME/ktinet/ktinet.wdn (~/.local/state/ktinet/ktinet.wdn\n"
    "when XDG_STATE_HOME is not set), the backup ktinet.~wdn beside it.\n\n"
    "      --show MODE   always (default), never, or if-changed (only after a new copy came)\n"
    "      --file PATH   show a local news file as it is, without downloading (new entries\n"
    "                    are those missing from PATH's own .~wdn backup)\n"
    "      --json        print {\"file\", \"status\", \"groups\": [{\"caption\", \"entries\":\n"
    "                    [{\"caption\", \"link\", \"new\"}]}]} instead\n"
    "Exit 1 when the download failed or the file was not found (the previous copy is shown).\n\n") +
        kTlsOptionsHelp + kDeadlineOptionsHelp + TransferProxyHelp(),
    NewsOptions(), RunNews});

KTINET_DEMO_STEP(DemoStep{65, "TKtWebDirect", RunDemoNews});

}  // namespace ktinet::cli
