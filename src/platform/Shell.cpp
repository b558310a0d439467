#include "platform/Shell.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace ktinet {

std::string ShellOpener() {
  const char* custom = std::getenv("KTINET_OPENER");
  return custom && *custom ? std::string(custom) : std::string("xdg-open");
}

int ShellExecuteW(void*, const String& verb, const String& file, const String&, const String&, int) {
  if (!verb.empty() && verb != u"open") return 2;
  std::string target = UTF8Encode(file);
  if (target.empty() || target[0] == '-' || target.find('\0') != std::string::npos) return 2;
  std::string opener = ShellOpener();

  // Everything the grandchild needs is prepared before fork: only async-signal-safe calls follow.
  const char* argv[] = {opener.c_str(), target.c_str(), nullptr};
  pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    // The middle process exits at once so the opener is adopted by init and never becomes our
    // zombie; its own session keeps it off our terminal and out of our signals.
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    int nul = open("/dev/null", O_RDWR);
    if (nul >= 0) {
      dup2(nul, 0);
      dup2(nul, 1);
      dup2(nul, 2);
      if (nul > 2) close(nul);
    }
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 42 : 2;
}

}  // namespace ktinet
