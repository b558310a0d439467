// `ktinet track --api rest`: the carriers' JSON tracking services (TKtUPSRestTracker,
// TKtFedExRestTracker), beside the XML trackers of `ktinet track`.
#pragma once

#include <string>
#include <vector>

#include "Cli.h"

namespace ktinet::cli {

// The options only --api rest takes (--api itself included).
std::vector<Args::OptionSpec> RestTrackOptions();
// Their help, for the end of `track`'s help.
std::string RestTrackHelp();
// True when the command line asks for the JSON services.
bool WantsRestTrack(const Args& args);
// Runs `track --api rest ups|fedex NUMBER`; raises UsageError for a bad command line.
int RunRestTrack(const Args& args);

}  // namespace ktinet::cli
