// Utf8Decode over arbitrary bytes: the block fast path, the one-character-per-byte String path
// and a reused output buffer must agree, never read or write out of bounds, and never produce
// more characters than there were bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/ktiutil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::u16string fast = ktinet::Utf8Decode(bytes);
  ktinet::String viaChars = ktinet::Utf8Decode(ktinet::BytesToString(bytes));
  static std::u16string reused;
  bool ok = ktinet::Utf8Decode(bytes, reused);
  if (fast != viaChars || fast != reused || fast.size() > size) std::abort();
  if (ok != (size == 0 || !fast.empty())) std::abort();
  return 0;
}
