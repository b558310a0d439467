// Reading FTP directory listings: MLSD lines (RFC 3659 facts) and LIST lines in the two forms
// servers use, Unix "ls -l" and DOS/IIS. Outside input: every parse reports false on a line it
// cannot read instead of throwing, and never reads past the text it was given.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/SysUtils.h"
#include "rtl/System.h"

namespace ktinet {

struct TFtpListEntry {
  String Name;            // UTF-8 names decoded; names that are not UTF-8 read one character per byte
  bool IsDirectory = false;
  bool IsLink = false;
  bool HasSize = false;
  Int64 Size = 0;
  bool HasTime = false;
  FILETIME LastWriteTime;  // UTC (LIST times carry no zone and are taken as UTC)
  std::string Unique;      // MLSD's "unique" fact (the same for every path to one file), or empty
};

// "type=file;size=12;modify=20240102030405; name". The current and parent directory entries
// (type=cdir, type=pdir) come back named "." and "..".
bool ParseMlsdLine(std::string_view line, TFtpListEntry& entry);

// A Unix line ("-rw-r--r-- 1 u g 12 Jan  2 03:04 name", "drwxr-xr-x ... 2023 dir", links with
// " -> target" cut off) or a DOS line ("01-02-24  03:04PM  <DIR>  name", "01-02-2024 15:04 12 name").
// Unix dates without a year lie within the year up to `now` (a date more than a day ahead of now
// belongs to the year before). "total N" lines and blank lines are not entries.
bool ParseListLine(std::string_view line, std::time_t now, TFtpListEntry& entry);

// Every line of a listing (CR LF or LF separated); lines that cannot be read are skipped. At most
// maxEntries entries are read; *truncated (when given) tells whether more lines followed.
std::vector<TFtpListEntry> ParseFtpListing(std::string_view text, bool mlsd, std::time_t now,
                                           size_t maxEntries = static_cast<size_t>(-1), bool* truncated = nullptr);

}  // namespace ktinet
