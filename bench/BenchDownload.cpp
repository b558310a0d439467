// The driver of bench/compare_download.sh: one download with TKtWebUpdater as an application
// would run it (status window off, OnProgress assigned), timed, with the blocks counted.
//
//   bench_download URL LOCALFILE     prints "seconds bytes progress_calls"
//
// Run without arguments (as bench/run.sh does) it only says where the figures come from; the
// comparison needs an HTTP server with a large file, which the script provides.
#include <chrono>
#include <cstdio>
#include <string>

#include "transfer/ktiupdate.h"

using namespace ktinet;

int main(int argc, char** argv) {
  if (argc != 3 || std::string(argv[1]).rfind("http://", 0) != 0) {
    std::printf("bench_download: the download comparison runs in bench/compare_download.sh BUILD_DIR\n");
    return 0;
  }
  const std::string url = argv[1];
  const std::string rest = url.substr(7);
  const size_t slash = rest.find('/');
  const std::string authority = rest.substr(0, slash);
  const size_t colon = authority.find(':');

  TKtWebUpdater updater(nullptr);
  updater.SetHost(UTF8ToString(authority.substr(0, colon)));
  if (colon != std::string::npos) updater.SetPort(static_cast<Word>(std::stoi(authority.substr(colon + 1))));
  updater.SetRemoteFileName(UTF8ToString(slash == std::string::npos ? "/" : rest.substr(slash)));
  updater.SetLocalFileName(UTF8ToString(argv[2]));
  unsigned long long calls = 0;
  Integer last = 0;
  updater.SetOnProgress([&](TObject*, Integer cur, Integer, bool&) {
    ++calls;
    last = cur;
  });
  const auto start = std::chrono::steady_clock::now();
  updater.Execute();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (updater.Status() != isFinished) {
    std::fprintf(stderr, "bench_download: status %d\n", static_cast<int>(updater.Status()));
    return 1;
  }
  std::printf("%.3f %u %llu\n", seconds, static_cast<unsigned>(last), calls);
  return 0;
}
