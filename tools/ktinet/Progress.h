// A one-line progress report on stderr for downloads without a status panel, shown only when
// stderr is a terminal: a log file or a pipe gets none of it.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ktinet::cli {

class ProgressLine {
 public:
  explicit ProgressLine(std::string command) : FCommand(std::move(command)), FOn(::isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() { Finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  bool Enabled() const { return FOn; }

  // `total` 0: the size is not known. Redrawn at most ten times a second, and at the end.
  void Show(std::uint64_t current, std::uint64_t total) {
    if (!FOn) return;
    FCurrent = current;
    FTotal = total;
    const auto now = std::chrono::steady_clock::now();
    if (FShown && now - FLast < std::chrono::milliseconds(100) && !(total && current >= total)) return;
    FLast = now;
    Draw();
  }

  // Leaves the last figures standing on their own line.
  void Finish() {
    if (!FOn || !FShown) return;
    Draw();
    std::fputs("\n", stderr);
    FShown = false;
    FOn = false;
  }

 private:
  void Draw() {
    char text[128];
    if (FTotal)
      std::snprintf(text, sizeof text, "%s: %llu of %llu bytes (%llu%%)", FCommand.c_str(),
                    static_cast<unsigned long long>(FCurrent), static_cast<unsigned long long>(FTotal),
                    static_cast<unsigned long long>(FCurrent >= FTotal ? 100 : FCurrent * 100 / FTotal));
    else
      std::snprintf(text, sizeof text, "%s: %llu bytes", FCommand.c_str(), static_cast<unsigned long long>(FCurrent));
    // A carriage return and blanks over the previous figures: no escape codes, so a dumb
    // terminal shows it as well.
    std::string line = text;
    const size_t width = line.size();
    if (width < FWidth) line.append(FWidth - width, ' ');
    FWidth = width;
    std::fputs(("\r" + line).c_str(), stderr);
    std::fflush(stderr);
    FShown = true;
  }

  std::string FCommand;
  bool FOn;
  bool FShown = false;
  std::uint64_t FCurrent = 0, FTotal = 0;
  size_t FWidth = 0;
  std::chrono::steady_clock::time_point FLast{};
};

}  // namespace ktinet::cli
