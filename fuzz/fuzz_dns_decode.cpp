// The DNS decoder over arbitrary bytes, both as one bare message and as a framed answer: it
// either decodes or raises EDNSDecodeError, never anything else, and what it decodes holds
// together (names end with their dot, a framed answer decodes to the messages of its frames).
// The same bytes also go through the answer reader as a server's reply to an ordinary query and
// a zone transfer, read in chunks, so the multi-message path of transfers is reached: it either
// raises Exception or keeps no more than it was given.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "protocols/KtIDNS.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    ktinet::TDNSMessage m = ktinet::DecodeDNSMessage(bytes);
    for (const auto& q : m.Questions)
      if (q.Name.empty() || q.Name.back() != u'.') std::abort();
    for (const auto* section : {&m.Answers, &m.Authority, &m.Additional})
      for (const auto& rr : *section) {
        if (rr.Name.empty() || rr.Name.back() != u'.' || rr.RData.size() > size) std::abort();
        (void)ktinet::DNSRecordToText(rr);
      }
    // The same message in a frame decodes to the same records.
    std::string framed = std::string(1, static_cast<char>(size >> 8)) + static_cast<char>(size & 0xFF) + bytes;
    if (size <= 0xFFFF) {
      auto again = ktinet::DecodeDNSAnswer(ktinet::BytesToString(framed));
      if (again.size() != 1 || again[0].Answers.size() != m.Answers.size()) std::abort();
    }
  } catch (const ktinet::EDNSDecodeError&) {
  }
  try {
    (void)ktinet::DecodeDNSAnswer(ktinet::BytesToString(bytes));
  } catch (const ktinet::EDNSDecodeError&) {
  }

  ktinet::TDNSAnswerReader reader({{0x1200, false}, {0x1201, true}});
  const std::size_t chunk = size > 0 ? 1 + data[0] % 64 : 1;
  try {
    for (std::size_t at = 0; at < size && !reader.Complete(); at += chunk)
      reader.Feed(bytes.data() + at, std::min(chunk, size - at));
    if (reader.Result().size() > size) std::abort();
    if (reader.Complete()) (void)ktinet::DecodeDNSAnswer(ktinet::BytesToString(reader.Result()));
  } catch (const ktinet::Exception&) {
  }
  return 0;
}
