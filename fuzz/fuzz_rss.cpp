// The RSS scanner over arbitrary bytes. The buffer libFuzzer hands over ends exactly at the
// input's end, so any read past it (an unclosed quote or tag at the end) is reported. Every
// stored text must be trimmed, and a second parse of the same text must give the same result.
// The seeds include a feed of thousands of nested items, so inputs may be long enough to reach
// deep nesting (libFuzzer takes its longest seed as the length limit).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "xml/KtIRSS.h"

using namespace ktinet;

namespace {

void CheckTrimmed(const String& s) {
  if (!s.empty() && (s.front() <= u' ' || s.back() <= u' ')) std::abort();
}

// Unsigned arithmetic: the fingerprint wraps around by design.
std::uint32_t Fingerprint(const TKtIRSSChannels& channels) {
  auto n = static_cast<std::uint32_t>(channels.Count());
  for (int c = 0; c < channels.Count(); ++c) {
    const TKtIRSSChannel* ch = channels.GetItem(c);
    CheckTrimmed(ch->Title);
    CheckTrimmed(ch->Link);
    CheckTrimmed(ch->Description);
    n = n * 31u + static_cast<std::uint32_t>(ch->Items()->Count()) + static_cast<std::uint32_t>(ch->Title.size());
    for (int i = 0; i < ch->Items()->Count(); ++i) {
      const TKtIRSSItem* it = ch->Items()->GetItem(i);
      CheckTrimmed(it->Title);
      CheckTrimmed(it->Creator);
      n = n * 31u + static_cast<std::uint32_t>(it->Title.size() + it->Link.size() + it->Date.size());
    }
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TKtIRSSChannels channels;
  ParseRSSText(text, channels);
  const std::uint32_t first = Fingerprint(channels);
  ParseRSSText(text, channels);
  if (Fingerprint(channels) != first) std::abort();
  return 0;
}
