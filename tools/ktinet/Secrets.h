// Secret options (passwords, keys, licence numbers) without the command line: every secret
// option OPT also has OPT-file FILE (its first line) and an environment variable, and a password
// that goes with a user name is asked for on a terminal, without echo, when none was given.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Cli.h"

namespace ktinet::cli {

// The option and its file form ("--password" gives "--password" and "--password-file"; the short
// name, if any, belongs to the option itself).
std::vector<Args::OptionSpec> SecretOptions(const std::string& option, const std::string& shortName = "");

// Help lines for a secret option: what it is, its file form and its variable, and the warning that
// the argument form is visible to other users. The descriptions start in `column`; with
// `shortNames` the option names stand where long names do after "-x, " (the other options of the
// help have short forms), otherwise two blanks from the margin.
std::string SecretHelp(const std::string& option, const std::string& shortName, const std::string& what,
                       const std::string& envVar, size_t column = 24, bool shortNames = true);

// The secret from OPT, OPT-file or the environment variable, in that order; nullopt when none
// gives one. Both OPT and OPT-file, or a file that cannot be read, is a UsageError.
std::optional<std::string> Secret(const Args& args, const std::string& option, const std::string& envVar);

// The password that goes with a user name: Secret(), else, when the program runs on a terminal,
// the logon dialog (caption, the user name shown; the password is not echoed). nullopt without a
// terminal. A person's Cancel raises "cancelled".
std::optional<std::string> PasswordFor(const Args& args, const std::string& user, const std::string& option,
                                       const std::string& envVar, const std::string& caption);

}  // namespace ktinet::cli
