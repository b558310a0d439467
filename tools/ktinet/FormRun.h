// What `form run` prints for components whose subcommand lives in another file.
#pragma once

#include <ostream>

#include "rtl/Classes.h"
#include "xml/KtIRSS.h"

namespace ktinet::cli {

// When `c` is a parcel tracker: runs it and prints what `ktinet track` prints (the failure on
// `err`), sets `ok`, and returns true. Returns false for any other component.
bool RunTrackerOfForm(TComponent* c, std::ostream& out, std::ostream& err, bool& ok);

// The channels of a feed as `ktinet rss` prints them.
void PrintRssChannels(std::ostream& out, const TKtIRSSChannels& channels);

}  // namespace ktinet::cli
