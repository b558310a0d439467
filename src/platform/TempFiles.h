// Temporary local files of the transfer components.
//
// Each component that downloads into a temporary file gets a name of its own in the system's
// temporary directory ($TMPDIR, else /tmp), so two instances never write to or delete each
// other's copy. The name keeps the extension of the remote file because the image loader picks
// its reader by extension.
#pragma once

#include "rtl/System.h"

namespace ktinet {

// The system's temporary directory with a trailing "/".
String TempDirectory();

// A name no other instance of this process (nor any other process now running) is handed:
// TempDirectory() + "tmp" + a unique part + AExtension (with its dot, or empty for none). No
// file is left behind: the name is checked against the file system when it is made.
String UniqueTempFileName(const String& AExtension);

}  // namespace ktinet
