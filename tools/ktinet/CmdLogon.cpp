// `ktinet logon-prompt`: shows the logon dialog through the chosen backend and
// prints what came back. It exists to try the prompt (and to check which backend a
// terminal gets); no component needs it.
#include <iostream>

#include "Cli.h"
#include "vcl/KtILogOn.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

namespace {

int RunLogonPrompt(const Args& args) {
  args.ExpectPositional(0, 0);
  UiBackend& backend = ChooseBackendFromEnvironment();
  String caption = UTF8ToString(args.GetOr("--caption", ""));
  String user = UTF8ToString(args.GetOr("--user", ""));
  String password = UTF8ToString(args.GetOr("--password", ""));
  bool confirmed = KtInAskLogon(caption, user, password);
  std::cout << "Backend: " << backend.Name() << "\n";
  if (!confirmed) {
    std::cout << "Cancelled\n";
    return kExitFailed;
  }
  std::cout << "OK\nUser: " << UTF8Encode(user) << "\n";
  if (args.Has("--show-password")) std::cout << "Password: " << UTF8Encode(password) << "\n";
  else std::cout << "Password: " << password.size() << " characters\n";
  return kExitOk;
}

}  // namespace

KTINET_COMMAND(Command{
    "logon-prompt",
    "show the logon dialog and print the answer (tries the prompt)",
    "Usage: ktinet logon-prompt [--caption TEXT] [--user U] [--password P] [--show-password]\n\n"
    "Shows the logon dialog that components use for proxy and server logons, with U and P\n"
    "as the current values, and prints the outcome. It exists to try the prompt: on a\n"
    "terminal it is asked there; without one (or with KTINET_UI=headless) it is answered\n"
    "Cancel at once. KTINET_UI=terminal forces the terminal prompt.\n\n"
    "On the terminal: Enter accepts a field (in the last one it presses OK), Esc or\n"
    "Ctrl-C cancels, Ctrl-U clears a field; the password is never echoed, and Enter\n"
    "alone keeps the current one.\n\n"
    "Options:\n"
    "  --caption TEXT     the dialog's title (\"Enter Password\" when empty)\n"
    "  --user U           the user name shown at first\n"
    "  --password P       the password held at first\n"
    "  --show-password    print the password (otherwise only its length)\n\n"
    "Exit codes: 0 confirmed with OK, 1 cancelled, 2 bad usage.\n",
    {{"--caption", "", true}, {"--user", "", true}, {"--password", "", true}, {"--show-password", "", false}},
    RunLogonPrompt});

}  // namespace ktinet::cli
