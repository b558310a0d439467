// SNTP replies over arbitrary bytes: the fields are read from any reply of 48 bytes or more and
// from nothing shorter, and a reply judged usable converts to a time after 1968.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocols/KtISNTP.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ktinet::TKtInetSNTP* sntp = new ktinet::TKtInetSNTP(nullptr);
  const std::string reply(reinterpret_cast<const char*>(data), size);
  ktinet::TSNTPReply fields;
  const bool read = ktinet::ReadSNTPReply(reply, fields);
  if (read != (size >= 48)) std::abort();
  if (!read) return 0;
  if (fields.Leap < 0 || fields.Leap > 3 || fields.Mode < 0 || fields.Mode > 7 || fields.Stratum < 0 || fields.Stratum > 255)
    std::abort();
  const ktinet::TDateTime t = sntp->NTPTimestamp2DateTime(static_cast<ktinet::Integer>(fields.Seconds),
                                                          static_cast<ktinet::Integer>(fields.Fraction));
  // The era rule puts every time between 1968-01-20 (day 24857) and 2104-02-26 (day 74567); a
  // day either side covers any time-zone bias.
  if (ktinet::SNTPReplyUsable(fields) && (t < 24856 || t > 74569)) std::abort();
  return 0;
}
