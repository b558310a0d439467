// `ktinet update` and `ktinet get`: TKtWebUpdater from the command line, and its lines in the demo.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>

#include "Cli.h"
#include "FeedsSupport.h"
#include "Demo.h"
#include "DemoServers.h"
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

// A CA file for HTTPS besides the system's, for every session opened from now on.
void ApplyCACert(const Args& args) {
  auto file = args.Get("--cacert");
  if (!file) return;
  if (::access(file->c_str(), R_OK) != 0) throw UsageError("--cacert: cannot read '" + *file + "'");
  String path = UTF8ToString(*file);
  if (!InternetSetOptionW(nullptr, KTINET_OPTION_CA_FILE, path.c_str(), static_cast<DWORD>(path.size())))
    throw UsageError("--cacert: '" + *file + "' was refused: " + UTF8Encode(InternetErrorMessage(InternetGetLastError())));
}

std::string LastErrorText() {
  DWORD error = InternetGetLastError();
  if (error == ERROR_SUCCESS) return std::string();
  std::string text = UTF8Encode(InternetErrorMessage(error));
  return text.empty() ? "error " + std::to_string(error) : text;
}

// The outcome as one JSON object: the status, the local file's size and the time it carries
// (null when there is no local file), the HTTP status of the last answer (0 for FTP and files).
std::string UpdateJson(TKtIStatus status, const std::string& local, int httpStatus, const std::string& error) {
  JsonObject out;
  out.Text("status", std::string(StatusWord(status))).Text("file", local);
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
  const std::string local = args.Positional()[1];
  if (args.Has("--password") && !args.Has("--user")) throw UsageError("--password needs --user");
  ApplyCACert(args);

  TKtWebUpdater updater(nullptr);
  updater.SetService(source.service);
  if (source.service != isNetwork) {
    updater.SetHost(UTF8ToString(source.host));
    if (source.port) updater.SetPort(static_cast<Word>(source.port));
  }
  updater.SetRemoteFileName(UTF8ToString(source.path));
  updater.SetLocalFileName(UTF8ToString(local));
  if (auto user = args.Get("--user")) updater.SetUser(UTF8ToString(*user));
  if (auto password = args.Get("--password")) updater.SetPassword(UTF8ToString(*password));
  updater.SetResumeDownload(args.Has("--resume"));
  // The live panel needs a terminal; elsewhere nobody would see it.
  const bool window = !args.Has("--no-window") && std::strcmp(CurrentBackend().Name(), "headless") != 0;
  updater.StatusDialog()->SetEnabled(window);
  if (window) {
    updater.StatusDialog()->SetTitle(u"ktinet update");
    updater.StatusDialog()->SetDescription(u"Bringing " + UTF8ToString(local) + u" up to date");
  }
  // Without the panel a terminal still shows how far the download has come.
  ProgressLine progress("ktinet update");
  if (!window)
    updater.SetOnProgress([&progress](TObject*, Integer current, Integer total, bool&) {
      progress.Show(static_cast<std::uint32_t>(current), static_cast<std::uint32_t>(total));
    });

  updater.Execute();
  progress.Finish();
  const TKtIStatus status = updater.Status();
  std::string why;
  if (status == isFailed) {
    why = LastErrorText();
    if (updater.LastHTTPStatus() >= 400) why = "the server answered " + std::to_string(updater.LastHTTPStatus());
  }
  if (args.Has("--json")) std::cout << UpdateJson(status, local, updater.LastHTTPStatus(), why) << std::endl;
  else std::cout << StatusWord(status) << std::endl;
  if (status == isFailed) {
    std::cerr << "ktinet update: the update of " << local << " failed" << (why.empty() ? "" : ": " + why) << "\n";
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

int RunGet(const Args& args) {
  args.ExpectPositional(1, 1);
  const std::string url = args.Positional()[0];
  Source source = ParseSource(url);
  if (source.service == isNetwork) throw UsageError("get wants an http://, https:// or ftp:// URL, not '" + url + "'");
  ApplyCACert(args);
  TGetter getter(nullptr);
  ProgressLine progress("ktinet get");
  TProgressStream stream(progress);
  InternetSetLastError(ERROR_SUCCESS);
  getter.ReadHTTPGetResponse(UTF8ToString(url), &stream);
  progress.Finish();
  const std::string& bytes = stream.Bytes();
  if (bytes.empty()) {
    std::string why = LastErrorText();
    if (!why.empty()) {
      std::cerr << "ktinet get: " << url << ": " << why << "\n";
      return kExitFailed;
    }
  }
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
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
  return {{"--user", "-u", true}, {"--password", "-p", true}, {"--resume", "", false},
          {"--no-window", "", false}, {"--cacert", "", true}, {"--json", "", false}};
}

}  // namespace

KTINET_COMMAND(Command{
    "update", "bring a local file up to date from HTTP, HTTPS, FTP or a path (TKtWebUpdater)",
    "Usage: ktinet update URL LOCALFILE [--user U --password P] [--resume] [--no-window]\n"
    "                     [--cacert FILE] [--json]\n\n"
    "URL is http://, https:// or ftp://host[:port]/path, or a file-system path. The remote file is\n"
    "downloaded when the local one is missing, differs in size or is older; the local file then\n"
    "gets the remote file's time. Prints the outcome: finished, skipped, not found or failed.\n"
    "Exit 0 unless failed. A failed or cancelled download leaves the previous local file as it was\n"
    "(except with --resume, which keeps the part already downloaded to continue from it).\n\n"
    "  -u, --user U        user name for the server (HTTP authentication or FTP logon)\n"
    "  -p, --password P    its password\n"
    "      --resume        continue a partial local file instead of replacing it\n"
    "      --no-window     no status panel on the terminal (Esc or c in the panel cancels);\n"
    "                      progress then goes to stderr when that is a terminal\n"
    "      --cacert FILE   also trust the certificate authorities in this PEM file for HTTPS\n"
    "      --json          {\"status\", \"file\", \"bytes\", \"stamped\": the file's time in UTC,\n"
    "                      \"httpStatus\", \"error\" when failed} instead of the status word\n",
    UpdateOptions(), RunUpdate});

KTINET_COMMAND(Command{"get", "download a URL to standard output (ReadHTTPGetResponse)",
                       "Usage: ktinet get URL [--cacert FILE]\n\n"
                       "Writes the body of the answer to an http://, https:// or ftp:// URL to standard\n"
                       "output, as it came, whatever the status. Exit 1 when no answer could be had.\n"
                       "When stderr is a terminal, the bytes received so far are shown there.\n\n"
                       "      --cacert FILE   also trust the certificate authorities in this PEM file\n",
                       {{"--cacert", "", true}}, RunGet});

KTINET_DEMO_STEP(DemoStep{50, "TKtWebUpdater", [] { return RunDemoUpdate(false); }});
KTINET_DEMO_STEP(DemoStep{51, "TKtWebUpdater", [] { return RunDemoUpdate(true); }});

}  // namespace ktinet::cli
