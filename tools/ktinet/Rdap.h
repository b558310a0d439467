// RDAP look-ups of the program, shared by `ktinet rdap` and `ktinet whois --rdap`.
#pragma once

#include <string>
#include <vector>

#include "Cli.h"

namespace ktinet::cli {

// --bootstrap, --server and the TLS options: what `whois --rdap` takes as well.
std::vector<Args::OptionSpec> RdapLookupOptions();
extern const char* const kRdapLookupOptionsHelp;

// Looks `query` up and prints the record (or, with --json / --raw, the parsed result / the
// answer). Returns the exit code; when noService is given and no RDAP service is known for the
// query, sets it and returns without printing anything.
int RunRdapLookup(const Args& args, const std::string& query, const char* command, bool* noService);

}  // namespace ktinet::cli
