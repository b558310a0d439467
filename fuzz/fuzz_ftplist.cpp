// FTP listings from a hostile server: both readers over arbitrary bytes. Every entry has a name,
// no size is negative, and every time lies within the years a FILETIME of ours can carry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/FtpList.h"
#include "rtl/DateTime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool mlsd = (data[0] & 1) != 0;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  // A fixed "now" keeps runs reproducible.
  for (const ktinet::TFtpListEntry& e : ktinet::ParseFtpListing(text, mlsd, 1710072000)) {
    if (e.Name.empty()) std::abort();
    if (e.HasSize && e.Size < 0) std::abort();
    if (e.HasTime) {
      ktinet::Int64 ticks = ktinet::FileTimeToInt64(e.LastWriteTime);
      // 1601 up to the end of 9999.
      if (ticks < 0 || ticks > 2650467743999999999LL) std::abort();
    }
  }
  return 0;
}
