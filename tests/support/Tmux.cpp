#include "support/Tmux.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "support/RunTool.h"

namespace ktinet::test {

namespace {

std::string Capture(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

}  // namespace

Tmux::Tmux(const std::string& command, int width, int height, bool utf8) : FUtf8(utf8) {
  static std::atomic<int> counter{0};
  FSocket = "ktinet-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  const std::string err = Capture(Base() + " -f /dev/null new-session -d -x " + std::to_string(width) + " -y " +
                                  std::to_string(height) + " " + ShellQuote(command) + " 2>&1");
  if (!err.empty()) ADD_FAILURE() << "tmux new-session: " << err;
}

Tmux::~Tmux() {
  Capture(Base() + " kill-server 2>/dev/null");
  // tmux leaves its socket file behind.
  const char* dir = std::getenv("TMUX_TMPDIR");
  unlink(((dir && *dir ? std::string(dir) : std::string("/tmp")) + "/tmux-" + std::to_string(getuid()) + "/" + FSocket)
             .c_str());
}

std::string Tmux::Base() const { return std::string("tmux ") + (FUtf8 ? "-u " : "") + "-L " + FSocket; }

std::string Tmux::Screen(bool escapes) const {
  return Capture(Base() + " capture-pane -p " + (escapes ? "-e " : "") + "-t 0 2>/dev/null");
}

void Tmux::Keys(const std::string& keys) const { Capture(Base() + " send-keys -t 0 " + keys); }

std::string Tmux::WaitFor(const std::string& text, int ms) const {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::string screen;
  while (std::chrono::steady_clock::now() < until) {
    screen = Screen();
    if (screen.find(text) != std::string::npos) return screen;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << "the screen never showed '" << text << "':\n" << screen;
  return screen;
}

std::string Tmux::AnswerLogon(const std::string& title, const std::string& user, const std::string& password) const {
  WaitFor(title);
  Keys("'" + user + "'");
  Keys("Enter");
  Keys("'" + password + "'");
  Keys("Enter");
  return WaitFor("EXIT=");
}

}  // namespace ktinet::test
