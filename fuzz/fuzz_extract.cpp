// The info extractor's scan over arbitrary bytes; the first byte picks the kind of link. Every
// item must start with the prefix, hold no terminator, and the items must fit in the text in
// order without overlapping.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "rtl/Classes.h"
#include "transfer/ktixtract.h"

using namespace ktinet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto kind = static_cast<TKtIExtract>(data[0] % 9);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view prefix = ExtractPrefix(kind);
  TStringList items;
  ExtractItems(text, prefix, &items);
  size_t from = 0;
  for (int i = 0; i < items.Count(); ++i) {
    const std::string item = StringToBytes(items[i]);
    if (item.compare(0, prefix.size(), prefix) != 0) std::abort();
    if (item.find_first_of(std::string_view(" \"#%<>[\\]^`{|}~\0", 16)) != std::string::npos) std::abort();
    const size_t at = text.find(item, from);
    if (at == std::string_view::npos) std::abort();
    from = at + item.size();
  }
  return 0;
}
