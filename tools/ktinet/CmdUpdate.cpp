// `ktinet update` and `ktinet get`: TKtWebUpdater from the command line, and its lines in the demo.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>

#include "Cli.h"
#include "SocketOptions.h"
#include "FeedsSupport.h"
#include "Demo.h"
#include "DemoServers.h"
#include "Files.h"
#include "Json.h"
#include "Output.h"
#include "Progress.h"
#include "rtl/DateTime.h"
#include "rtl/Streams.h"
#include "transfer/ktiupdate.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

namespace {

using Source = feeds::Remote;

// As the other transfer commands read a URL; an update needs a file, not an FTP directory.
Source ParseSource(const std::string& text) {
  Source out = feeds::ParseRemote(text);
  if (out.service == isFTP && out.path.size() > 1 && out.path.back() == '/')
    throw UsageError("the FTP URL names a directory, not a file: '" + text + "'");
  return out;
}

const char* StatusWord(TKtIStatus status) {
  switch (status) {
    case isFinished: return "finished";
    case isSkipped: return "skipped";
    case isNotFound: return "not found";
    case isFailed: return "failed";
    case isInProgress: return "in progress";
  }
  return "?";
}

std::string LastErrorText() {
  DWORD error = InternetGetLastError();
  if (error == ERROR_SUCCESS) return std::string();
  std::string text = UTF8Encode(InternetErrorMessage(error));
  return text.empty() ? "error " + std::to_string(error) : text;
}

// The outcome as one JSON object: the status, the local file's size and the time it carries
// (null when there is no local file), the HTTP status of the last answer (0 for FTP and files).
// `shownName` stands in the record for the file's own name (standard output's "-").
std::string UpdateJson(TKtIStatus status, const std::string& local, int httpStatus, const std::string& error,
                       const std::string& shownName = std::string()) {
  JsonObject out;
  out.Text("status", std::string(StatusWord(status))).Text("file", shownName.empty() ? local : shownName);
  struct stat st {};
  if (::stat(local.c_str(), &st) == 0) {
    out.Number("bytes", static_cast<long long>(st.st_size));
    out.Text("stamped", IsoUtc(UnixToDateTime(st.st_mtim.tv_sec)));
  } else {
    out.Null("bytes").Null("stamped");
  }
  out.Number("httpStatus", httpStatus);
  if (!error.empty()) out.Text("error", error);
  return out.Str();
}

int RunUpdate(const Args& args) {
  args.ExpectPositional(2, 2);
  Source source = ParseSource(args.Positional()[0]);
  // "-": there is no local copy to compare with, so the file always comes, and standard output
  // carries its bytes alone; the outcome goes to stderr.
  const OutputFile target(args.Positional()[1]);
  const bool toStdout = target.ToStandardOutput();
  if (toStdout && args.Has("--resume")) throw UsageError("--resume needs a local file to continue, not standard output");
  const std::string local = target.Path();
  const std::string shown = toStdout ? "standard output" : local;
  std::ostream& report = toStdout ? std::cerr : std::cout;

  TKtWebUpdater updater(nullptr);
  updater.SetService(source.service);
  if (source.service != isNetwork) {
    updater.SetHost(UTF8ToString(source.host));
    if (source.port) updater.SetPort(static_cast<Word>(source.port));
  }
  updater.SetRemoteFileName(UTF8ToString(source.path));
  updater.SetLocalFileName(UTF8ToString(local));
  ApplyTransferOptions(args, updater);
  updater.SetResumeDownload(args.Has("--resume"));
  // The live panel needs a terminal; elsewhere nobody would see it.
  // Standard output carrying the file has no room for the panel.
  const bool window = !toStdout && !args.Has("--no-window") && std::strcmp(CurrentBackend().Name(), "headless") != 0;
  updater.StatusDialog()->SetEnabled(window);
  if (window) {
    updater.StatusDialog()->SetTitle(u"ktinet update");
    updater.StatusDialog()->SetDescription(u"Bringing " + UTF8ToString(shown) + u" up to date");
  }
  // Without the panel a terminal still shows how far the download has come.
  ProgressLine progress("ktinet update");
  if (!window)
    updater.SetOnProgress([&progress](TObject*, Integer current, Integer total, bool&) {
      progress.Show(static_cast<std::uint32_t>(current), static_cast<std::uint32_t>(total));
    });

  feeds::AbandonDownloadsOnSignal();
  RunAskingProxyLogon(updater, [&updater] { return updater.Execute(); });
  progress.Finish();
  const TKtIStatus status = updater.Status();
  std::string why;
  if (status == isFailed) {
    why = UTF8Encode(updater.LastErrorText());
    if (why.empty()) why = LastErrorText();
    if (ProxyWantsLogon(updater)) why = kProxyRefused;
  }
  if (args.Has("--json")) {
    report << UpdateJson(status, local, updater.LastHTTPStatus(), why, toStdout ? "-" : "") << std::endl;
  } else {
    report << feeds::OutcomeText(updater) << std::endl;
  }
  if (status == isNotFound) {
    std::cerr << "ktinet update: " << args.Positional()[0] << " was not found; "
              << (toStdout ? "nothing was written" : local + " is left as it was") << "\n";
    return kExitFailed;
  }
  if (status == isFailed) {
    if (updater.Cancelled()) {
      std::cerr << "ktinet update: the update of " << shown << " was cancelled\n";
      return kExitFailed;
    }
    std::cerr << "ktinet update: the update of " << shown << " failed" << (why.empty() ? "" : ": " + why) << "\n";
    return kExitFailed;
  }
  try {
    target.Deliver();
  } catch (const Exception& e) {
    std::cerr << "ktinet update: " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

// ReadHTTPGetResponse is for descendants; the command is one.
// The body as it comes in, with its size so far on the progress line.
class TProgressStream : public TMemoryStream {
 public:
  explicit TProgressStream(ProgressLine& progress) : FProgress(progress) {}
  long Write(const void* buffer, long count) override {
    const long n = TMemoryStream::Write(buffer, count);
    FProgress.Show(Bytes().size(), 0);
    return n;
  }

 private:
  ProgressLine& FProgress;
};

class TGetter : public TKtCustomWebComponent {
 public:
  using TKtCustomWebComponent::TKtCustomWebComponent;
  using TKtCustomWebComponent::ReadHTTPGetResponse;

 protected:
  void InternalExecute() override {}
};

// The URL with the component's user name and password in its authority, percent-encoded: the one
// way a single URL fetch carries them.
std::string WithCredentials(const std::string& url, const TKtCustomWebComponent& c) {
  if (c.User().empty()) return url;
  auto encode = [](const String& text) {
    std::string out;
    for (unsigned char b : UTF8Encode(text)) {
      if (std::isalnum(b) || std::strchr("-._~", b)) out += static_cast<char>(b);
      else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", b);
        out += hex;
      }
    }
    return out;
  };
  const size_t authority = url.find("://") + 3;
  return url.substr(0, authority) + encode(c.User()) + ":" + encode(c.Password()) + "@" + url.substr(authority);
}

int RunGet(const Args& args) {
  args.ExpectPositional(1, 1);
  const std::string url = args.Positional()[0];
  Source source = ParseSource(url);
  if (source.service == isNetwork) throw UsageError("get wants an http://, https:// or ftp:// URL, not '" + url + "'");
  const auto output = args.Get("--output");
  TGetter getter(nullptr);
  ApplyTransferOptions(args, getter);
  // A single URL fetch never asks by itself; the program does, once, when the proxy asks.
  getter.SetLoginPrompt(false);
  const String target = UTF8ToString(WithCredentials(url, getter));
  InternetSetLastError(ERROR_SUCCESS);
  // An error page is no copy of the file asked for, whatever its body says.
  auto failedStatus = [&getter] { return getter.LastHTTPStatus() >= 400; };
  auto statusText = [&getter] {
    return ProxyWantsLogon(getter) ? std::string(kProxyRefused)
                                   : "the server answered " + std::to_string(getter.LastHTTPStatus());
  };
  if (output && *output != "-") {
    // The file named is replaced only by a complete answer.
    feeds::AbandonDownloadsOnSignal();
    std::unique_ptr<TKtIReplacingFile> file;
    try {
      file = std::make_unique<TKtIReplacingFile>(UTF8ToString(*output));
      RunAskingProxyLogon(getter, [&] {
        // A second try starts the file afresh.
        TFileStream stream(file->TempName(), fmCreate);
        getter.ReadHTTPGetResponse(target, &stream);
        return 0;
      });
    } catch (const EStreamError&) {
      std::cerr << "ktinet get: " << *output << ": " << std::strerror(errno) << "\n";
      return kExitFailed;
    }
    if (!getter.LastErrorText().empty() || failedStatus()) {
      const std::string why = failedStatus() ? url + ": " + statusText() : UTF8Encode(getter.LastErrorText());
      std::cerr << "ktinet get: " << why << "; " << *output << " was left as it was\n";
      return kExitFailed;
    }
    if (!file->Commit()) {
      std::cerr << "ktinet get: " << *output << ": " << std::strerror(errno) << "\n";
      return kExitFailed;
    }
    return kExitOk;
  }
  ProgressLine progress("ktinet get");
  std::unique_ptr<TProgressStream> stream;
  RunAskingProxyLogon(getter, [&] {
    // The proxy's refusal page is no part of the answer of a second try.
    stream = std::make_unique<TProgressStream>(progress);
    getter.ReadHTTPGetResponse(target, stream.get());
    return 0;
  });
  progress.Finish();
  const std::string& bytes = stream->Bytes();
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
  const int writeError = errno;
  if (!getter.LastErrorText().empty()) {
    // What came is written out, as a cut answer would be by curl; the exit code tells it is not all.
    std::cerr << "ktinet get: " << UTF8Encode(getter.LastErrorText()) << "\n";
    return kExitFailed;
  }
  if (!written) {
    std::cerr << "ktinet get: standard output: " << std::strerror(writeError) << "\n";
    return kExitFailed;
  }
  if (failedStatus()) {
    std::cerr << "ktinet get: " << url << ": " << statusText() << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

// ---- demo ------------------------------------------------------------------------------------

// A file served over HTTP/1.0 with its size and time, for the two updater runs of the demo.
struct DemoUpdateSite {
  std::string body;
  std::string lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
  std::unique_ptr<DemoServer> server;
  std::string dir;
  std::string localFile;

  DemoUpdateSite() {
    for (int i = 0; i < 4000; ++i) body += "line " + std::to_string(i) + " of the demo's update file\n";
    server = std::make_unique<DemoServer>([this](DemoConnection& conn) {
      std::string request = conn.ReceiveUntil("\r\n\r\n");
      if (request.rfind("GET /files/update.txt ", 0) != 0) {
        conn.Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        return;
      }
      conn.Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nLast-Modified: " + lastModified + "\r\n\r\n" + body);
    });
    std::string tmpl = UTF8Encode(GetTempDir()) + "ktinet-demo-update-XXXXXX";
    if (::mkdtemp(tmpl.data())) dir = tmpl;
    localFile = dir + "/update.txt";
  }
  ~DemoUpdateSite() {
    if (dir.empty()) return;
    ::unlink(localFile.c_str());
    ::rmdir(dir.c_str());
  }
};

DemoUpdateSite& Site() {
  static DemoUpdateSite site;
  return site;
}

DemoOutcome RunDemoUpdate(bool expectSkip) {
  DemoUpdateSite& site = Site();
  DemoOutcome out;
  out.did = std::string(expectSkip ? "again: " : "") + "GET /files/update.txt from 127.0.0.1:" +
            std::to_string(site.server->Port());
  if (site.dir.empty()) {
    out.result = "no temporary directory";
    return out;
  }
  TKtWebUpdater updater(nullptr);
  updater.SetHost(UTF8ToString(DemoServer::Host()));
  updater.SetPort(static_cast<Word>(site.server->Port()));
  updater.SetRemoteFileName(u"/files/update.txt");
  updater.SetLocalFileName(UTF8ToString(site.localFile));
  // The demo's own server, whatever proxy the environment names.
  updater.Proxy()->SetUseProxy(false);
  long blocks = 0;
  updater.SetOnProgress([&](TObject*, Integer, Integer, bool&) { ++blocks; });
  updater.Execute();
  struct stat st {};
  const bool present = ::stat(site.localFile.c_str(), &st) == 0;
  const TKtIStatus want = expectSkip ? isSkipped : isFinished;
  if (updater.Status() != want) {
    out.result = std::string("status ") + StatusWord(updater.Status()) + ", wanted " + StatusWord(want);
  } else if (!present || static_cast<size_t>(st.st_size) != site.body.size()) {
    out.result = "the local file is not the served one";
  } else {
    out.ok = true;
    if (expectSkip) {
      out.result = "skipped: same size and time, no download";
    } else {
      std::time_t t = st.st_mtim.tv_sec;
      out.result = "finished: " + std::to_string(st.st_size) + " bytes in " + std::to_string(blocks) +
                   " progress steps, stamped " + UTF8Encode(DateTimeToISO(UnixToDateTime(t))) + " UTC";
    }
  }
  return out;
}

std::vector<Args::OptionSpec> UpdateOptions() {
  return WithTransferOptions({{"--resume", "", false}, {"--no-window", "", false}, {"--json", "", false}});
}

}  // namespace

KTINET_COMMAND(Command{
    "update", "bring a local file up to date from HTTP, HTTPS, FTP or a path (TKtWebUpdater)",
    std::string("Usage: ktinet update URL LOCALFILE [--user U] [--resume] [--no-window] [--json] [OPTIONS]\n\n"
    "URL is http://, https:// or ftp://host[:port]/path, or a file-system path. The remote file is\n"
    "downloaded when the local one is missing, differs in size or is older; the local file then\n"
    "gets the remote file's time. Prints the outcome: finished, skipped, not found, failed or\n"
    "cancelled; exit 0 for finished and skipped, 1 otherwise, with the cause on stderr. A failed,\n"
    "cancelled or interrupted download leaves the previous local file as it was (except with\n"
    "--resume, which keeps the part already downloaded: the next run continues it when it is\n"
    "shorter than the remote file and that has not changed since, and downloads all otherwise).\n"
    "LOCALFILE \"-\" downloads the file every time and writes it to standard output; the outcome\n"
    "then goes to stderr.\n\n"
    "  -u, --user U        user name for the server (HTTP authentication or FTP logon)\n"
    "  -p, --password P    its password\n"
    "      --resume        continue a partial local file instead of replacing it\n"
    "      --no-window     no status panel on the terminal (Esc or c in the panel cancels);\n"
    "                      progress then goes to stderr when that is a terminal\n"
    "      --json          {\"status\", \"file\", \"bytes\", \"stamped\": the file's time in UTC,\n"
    "                      \"httpStatus\", \"error\" when failed} instead of the status word\n") +
        TransferOptionsHelp(),
    UpdateOptions(), RunUpdate});

KTINET_COMMAND(Command{"get", "download a URL to standard output or a file (ReadHTTPGetResponse)",
                       std::string("Usage: ktinet get URL [-o FILE] [--user U] [OPTIONS]\n\n"
                       "Writes the body of the answer to an http://, https:// or ftp:// URL to standard\n"
                       "output, as it came. Exit 1 when no answer could be had, it was cut short (what came\n"
                       "is still written; stderr says what is missing) or its HTTP status is 400 or more\n"
                       "(the error page is still written). When stderr is a terminal, the bytes received so\n"
                       "far are shown there.\n\n"
                       "  -o, --output FILE   write to FILE instead, through a temporary file beside it that\n"
                       "                      replaces FILE only when the whole answer came with success\n") +
                           TransferOptionsHelp(),
                       WithTransferOptions({{"--output", "-o", true}}), RunGet});

KTINET_DEMO_STEP(DemoStep{50, "TKtWebUpdater", [] { return RunDemoUpdate(false); }});
KTINET_DEMO_STEP(DemoStep{51, "TKtWebUpdater", [] { return RunDemoUpdate(true); }});

}  // namespace ktinet::cli
