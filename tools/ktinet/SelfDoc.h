// The manual page and the bash completion the build generates from the command table that
// `ktinet --help` and `ktinet COMMAND --help` show (hidden options --man and --bash-completion), so
// what a person reads in either is what the program accepts.
#pragma once

#include <ostream>

namespace ktinet::cli {

// The manual page ktinet(1), in roff: every command's summary and its --help text.
void PrintManPage(std::ostream& out, const char* version);
// A bash completion script: the commands, and each command's options.
void PrintBashCompletion(std::ostream& out);

}  // namespace ktinet::cli
