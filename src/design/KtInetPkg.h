// Which package this build of the library is: the suite ships one package per host version
// (10, 10.1, 10.2, 10.3, 10.4), and the one for host version 10 carries the earlier trackers.
#pragma once

#include "rtl/System.h"

namespace ktinet {

// "KtInetRX104" ... "KtInetRX10".
String PackageName();
// "10.4" ... "10".
String HostVersion();
// True in the package for host version 10 (TKtUPSTracker and TKtFedExTracker of the earlier form).
bool HasLegacyTrackers();

}  // namespace ktinet
