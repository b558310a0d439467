// `ktinet status-demo`: shows the transfer status window and walks it through a
// made-up transfer (the four steps, a download with progress), so the panel can be
// tried without a server. Cancel ("c" or Esc on a terminal) stops the download as a
// transfer would: the remaining steps disconnect and the run ends failed.
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "Cli.h"
#include "core/KtInCnst.h"
#include "transfer/KtInStat.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

namespace {

// Puts `text` on the status line and `image` of imgStatus in the step's marker, then
// pumps once, as a transfer's step change does.
void Step(TfrmKtInetUpdate& w, const String& text, TImage* marker, int image, int pauseMs) {
  w.lblStatus->SetCaption(text);
  marker->Picture()->Assign(nullptr);
  w.imgStatus->GetBitmap(image, marker->Picture()->Bitmap());
  Application->ProcessMessages();
  std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  Application->ProcessMessages();
}

int RunStatusDemo(const Args& args) {
  args.ExpectPositional(0, 0);
  const long size = args.GetInt("--size", 1 << 20, 0, 1L << 40);
  const long blockMs = args.GetInt("--block-ms", 5, 0, 10000);
  const long stepMs = args.GetInt("--step-ms", 300, 0, 60000);
  const long block = 2050;

  auto w = std::make_unique<TfrmKtInetUpdate>(nullptr);
  w->lblCaption->SetCaption(UTF8ToString(args.GetOr("--title", UTF8Encode(Application->Title()))));
  if (auto d = args.Get("--description")) w->lblDescription->SetCaption(UTF8ToString(*d));
  w->lblRemoteFileName->SetCaption(UTF8ToString(args.GetOr("--remote", "example.org/files/archive.zip")));
  w->lblLocalFileName->SetCaption(UTF8ToString(args.GetOr("--local", "/tmp/archive.zip")));
  w->IsCanceled = false;
  w->Show();

  Step(*w, strKtInConnecting, w->imgStep1, siStepUnderWay, static_cast<int>(stepMs));
  Step(*w, strKtInConnected, w->imgStep1, siConnected, static_cast<int>(stepMs));
  Step(*w, strKtInFileSearch, w->imgStep2, siStepUnderWay, static_cast<int>(stepMs));
  Step(*w, strKtInFileFound, w->imgStep2, siStepUnderWay, static_cast<int>(stepMs));
  Step(*w, strKtInFileComparing, w->imgStep2, siStepUnderWay, static_cast<int>(stepMs));
  Step(*w, strKtInFileCompared, w->imgStep2, siCompared, static_cast<int>(stepMs));
  Step(*w, strKtInDownloading, w->imgStep3, siStepUnderWay, 0);

  bool cancelled = false;
  long done = 0;
  while (done < size) {
    done = std::min(done + block, size);
    w->pbStatus->SetRange(0, size);
    w->pbStatus->SetPosition(done);
    w->lblStatus->SetCaption(Format(strKtInProgress, {static_cast<long long>(done), static_cast<long long>(size),
                                                      static_cast<long long>(done * 100 / size)}));
    Application->ProcessMessages();
    // The loop reads the flag after each block, as a transfer does.
    if (w->IsCanceled) {
      cancelled = true;
      break;
    }
    if (blockMs) std::this_thread::sleep_for(std::chrono::milliseconds(blockMs));
  }
  if (!cancelled) Step(*w, strKtInDownloaded, w->imgStep3, siDownloaded, static_cast<int>(stepMs));
  Step(*w, strKtInDisconnecting, w->imgStep4, siStepUnderWay, static_cast<int>(stepMs));
  Step(*w, strKtInDisconnected, w->imgStep4, siDisconnected, static_cast<int>(stepMs));
  w.reset();

  std::cout << "Backend: " << CurrentBackend().Name() << "\n";
  if (cancelled) {
    std::cout << "Cancelled after " << done << " of " << size << " bytes\n";
    return kExitFailed;
  }
  std::cout << "Finished: " << done << " bytes\n";
  return kExitOk;
}

}  // namespace

KTINET_COMMAND(Command{
    "status-demo",
    "walk the transfer status window through a made-up download (tries the panel)",
    "Usage: ktinet status-demo [--size BYTES] [--block-ms MS] [--step-ms MS] [--title T]\n"
    "                          [--description D] [--remote NAME] [--local NAME]\n\n"
    "Shows the status window that transfers show, steps it through connecting,\n"
    "searching and comparing, a download of BYTES in 2050-byte blocks, and\n"
    "disconnecting. No network is used. On a terminal the window is a live panel;\n"
    "press c or Esc to cancel the download. Without a terminal (or with\n"
    "KTINET_UI=headless) nothing is drawn and the run goes to its end.\n\n"
    "Options:\n"
    "  --size BYTES       the size of the made-up file (default 1048576)\n"
    "  --block-ms MS      the pause after each block (default 5)\n"
    "  --step-ms MS       the pause after each step (default 300)\n"
    "  --title T          the bold header line (the program's title by default)\n"
    "  --description D    the header description\n"
    "  --remote NAME      the remote file name shown\n"
    "  --local NAME       the local file name shown\n\n"
    "Exit codes: 0 finished, 1 cancelled, 2 bad usage.\n",
    {{"--size", "", true},
     {"--block-ms", "", true},
     {"--step-ms", "", true},
     {"--title", "", true},
     {"--description", "", true},
     {"--remote", "", true},
     {"--local", "", true}},
    RunStatusDemo});

}  // namespace ktinet::cli
