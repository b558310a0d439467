// `ktinet image`: TKtRemoteImage on the application's timer loop, and its line in the demo.
#include <iostream>
#include <string>

#include "Cli.h"
#include "SocketOptions.h"
#include "Demo.h"
#include "FeedsSupport.h"
#include "Files.h"
#include "Json.h"
#include "rtl/Exceptions.h"
#include "transfer/ktiimage.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/Graphics.h"

namespace ktinet::cli {

namespace {

// Reports each fetch once the picture has been reloaded, and ends the loop after the last one.
class TCountingImage : public TKtRemoteImage {
 public:
  TCountingImage(long count, std::function<void(TCountingImage&)> report)
      : TKtRemoteImage(nullptr), FLeft(count), FReport(std::move(report)) {}
  bool Execute() override {
    const bool result = TKtRemoteImage::Execute();
    ++Runs;
    FReport(*this);
    if (--FLeft <= 0) {
      Stop();
      Application->Terminate();
    }
    return result;
  }
  long Runs = 0;

 private:
  long FLeft;
  std::function<void(TCountingImage&)> FReport;
};

std::string Describe(TImage& image) {
  TGraphic* g = image.Picture()->Graphic();
  if (!g || g->Empty()) return "no picture";
  return UTF8Encode(g->DefaultExtension()) + " " + std::to_string(g->Width()) + " x " + std::to_string(g->Height());
}

// One fetch as a JSON object; format, width and height are null when there is no picture.
std::string FetchJson(long run, TKtIStatus status, const std::string& url, TImage& image) {
  JsonObject out;
  out.Number("fetch", run).Text("status", std::string(feeds::StatusText(status))).Text("url", url);
  TGraphic* g = image.Picture()->Graphic();
  if (!g || g->Empty()) out.Null("format").Null("width").Null("height");
  else out.Text("format", g->DefaultExtension()).Number("width", g->Width()).Number("height", g->Height());
  return out.Str();
}

// Runs the loop until the image stops it (or the interval passes without an end).
void RunLoop() {
  Application->ResetTerminated();
  Application->Run();
  Application->ResetTerminated();
}

int RunImage(const Args& args) {
  args.ExpectPositional(1, 1);
  const feeds::Remote remote = feeds::ParseRemote(args.Positional()[0]);
  const long interval = args.GetInt("--interval", 1000, 1, 86400000);
  const long count = args.GetInt("--count", 1, 1, 1000000);
  const auto save = args.Get("--save");
  const bool json = args.Has("--json");
  // "--save -": standard output carries the pictures alone, the fetch records go to stderr.
  const bool toStdout = save && *save == "-";
  std::ostream& report = toStdout ? std::cerr : std::cout;
  TImage image(nullptr);
  bool failed = false;
  TCountingImage remoteImage(count, [&](TCountingImage& self) {
    if (json) report << FetchJson(self.Runs, self.Status(), args.Positional()[0], image) << std::endl;
    else report << self.Runs << ": " << feeds::OutcomeText(self) << ", " << Describe(image) << std::endl;
    if (self.Status() == isFailed || self.Status() == isNotFound) {
      failed = true;
      const String why = ProxyWantsLogon(self)               ? UTF8ToString(kProxyRefused)
                         : self.Status() == isNotFound ? String(u"not found")
                                                       : self.LastErrorText();
      if (!why.empty()) std::cerr << "ktinet image: " << args.Positional()[0] << ": " << UTF8Encode(why) << "\n";
    }
    if (toStdout && !image.Picture()->Empty() && self.Status() == isFinished) {
      WriteStandardOutput(image.Picture()->Graphic()->Data());
    } else if (save && !image.Picture()->Empty() && self.Status() == isFinished) {
      // The picture named is replaced only by a whole new one.
      TKtIReplacingFile file(UTF8ToString(*save));
      image.Picture()->SaveToFile(file.TempName());
      if (!file.Commit()) throw EFCreateError(u"Cannot create file \"" + UTF8ToString(*save) + u"\". " + SysErrorMessage(errno));
    }
  });
  feeds::Aim(remoteImage, remote);
  remoteImage.SetRemoteFileName(UTF8ToString(remote.path));
  ApplyTransferOptions(args, remoteImage);
  remoteImage.SetImage(&image);
  remoteImage.SetInterval(static_cast<Integer>(interval));
  feeds::AbandonDownloadsOnSignal();
  remoteImage.Start();
  try {
    RunLoop();
  } catch (const Exception& e) {
    // An unknown picture stops the periodic fetch, as it does in an application.
    std::cerr << "ktinet image: " << args.Positional()[0] << ": " << e.what() << "\n";
    return kExitFailed;
  }
  return failed ? kExitFailed : kExitOk;
}

DemoOutcome RunDemoImage() {
  DemoOutcome out;
  const int port = feeds::DemoSitePort();
  out.did = "/cam/shot.png from 127.0.0.1:" + std::to_string(port) + " twice on a 20 ms timer";
  TImage image(nullptr);
  std::string last;
  TCountingImage remote(2, [&](TCountingImage& self) {
    last = std::string(feeds::StatusText(self.Status())) + ", " + Describe(image);
  });
  remote.SetHost(u"127.0.0.1");
  remote.SetPort(static_cast<Word>(port));
  remote.SetRemoteFileName(u"/cam/shot.png");
  remote.SetImage(&image);
  remote.SetInterval(20);
  remote.Start();
  try {
    RunLoop();
  } catch (const Exception& e) {
    out.result = e.what();
    return out;
  }
  out.ok = remote.Runs == 2 && image.Picture()->Width() == 320;
  out.result = std::to_string(remote.Runs) + " fetches, last: " + last;
  return out;
}

}  // namespace

KTINET_COMMAND(Command{
    "image", "fetch an image again and again on a timer (TKtRemoteImage)",
    std::string("Usage: ktinet image URL [--interval MS] [--count N] [--save FILE] [--json]\n"
    "                        [--user U] [OPTIONS]\n\n"
    "URL is http://, https:// or ftp://host[:port]/file.ext, or a file-system path; the extension\n"
    "(bmp, png, jpg, jpeg, gif, ico) decides how the picture is read. The first fetch comes one\n"
    "interval after the start and each interval runs from the end of the previous fetch. Prints\n"
    "one line per fetch: its number, the status, and the picture's format and size. An unknown\n"
    "extension or a file that is not of its format stops the loop (exit 1); a fetch that failed\n"
    "or found nothing makes the exit status 1 at the end.\n\n"
    "      --interval MS   milliseconds between fetches (default 1000)\n"
    "      --count N       fetches before the program ends (default 1)\n"
    "      --save FILE     write the picture to FILE after each fetch that brought one (through a\n"
    "                      temporary file, so FILE is always a whole picture); \"-\" writes\n"
    "                      each picture to standard output and the fetch lines to stderr\n"
    "      --json          one JSON object per fetch: {\"fetch\", \"status\", \"url\", \"format\",\n"
    "                      \"width\", \"height\"}\n") +
        TransferOptionsHelp(),
    WithTransferOptions({{"--interval", "", true}, {"--count", "-n", true}, {"--save", "", true}, {"--json", "", false}}),
    RunImage});

KTINET_DEMO_STEP(DemoStep{61, "TKtRemoteImage", RunDemoImage});

}  // namespace ktinet::cli
