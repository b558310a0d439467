// A real terminal for tests of the terminal backend: one detached tmux server on a socket of its
// own, running one command in a window of the given size, killed when the object goes.
#pragma once

#include <string>

namespace ktinet::test {

class Tmux {
 public:
  // utf8: tell tmux the terminal speaks UTF-8 (-u).
  explicit Tmux(const std::string& command, int width = 100, int height = 30, bool utf8 = false);
  ~Tmux();
  Tmux(const Tmux&) = delete;
  Tmux& operator=(const Tmux&) = delete;

  // The visible screen; with escapes, attributes too (bold shows as ESC [1m).
  std::string Screen(bool escapes = false) const;
  // tmux send-keys arguments, as written on its command line ("Enter", "'abc'", "C-c").
  void Keys(const std::string& keys) const;
  // Waits (bounded) until the screen shows `text`; returns the screen either way and fails the
  // test when it never did.
  std::string WaitFor(const std::string& text, int ms = 15000) const;
  // Waits for the logon dialog titled `title`, types the user and the password, each ended with
  // Enter, and returns the screen once the command has printed "EXIT=".
  std::string AnswerLogon(const std::string& title, const std::string& user, const std::string& password) const;

 private:
  std::string Base() const;
  std::string FSocket;
  bool FUtf8;
};

}  // namespace ktinet::test
