// The RSS scanner over arbitrary bytes. The buffer libFuzzer hands over ends exactly at the
// input's end, so any read past it (an unclosed quote or tag at the end) is reported. Every
// stored text must be trimmed, and a second parse of the same text must give the same result.
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

int Fingerprint(const TKtIRSSChannels& channels) {
  int n = channels.Count();
  for (int c = 0; c < channels.Count(); ++c) {
    const TKtIRSSChannel* ch = channels.GetItem(c);
    CheckTrimmed(ch->Title);
    CheckTrimmed(ch->Link);
    CheckTrimmed(ch->Description);
    n = n * 31 + ch->Items()->Count() + static_cast<int>(ch->Title.size());
    for (int i = 0; i < ch->Items()->Count(); ++i) {
      const TKtIRSSItem* it = ch->Items()->GetItem(i);
      CheckTrimmed(it->Title);
      CheckTrimmed(it->Creator);
      n = n * 31 + static_cast<int>(it->Title.size() + it->Link.size() + it->Date.size());
    }
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TKtIRSSChannels channels;
  ParseRSSText(text, channels);
  const int first = Fingerprint(channels);
  ParseRSSText(text, channels);
  if (Fingerprint(channels) != first) std::abort();
  return 0;
}
