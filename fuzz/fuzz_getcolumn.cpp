// GetColumn over arbitrary text, index and delimiter: every field it returns is a delimiter-free
// piece of the text, and joining the fields 0..k again gives back the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/ktiutil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > 2048) return 0;  // the joining check is quadratic
  ktinet::Char delimiter = static_cast<ktinet::Char>(data[0]);
  int probe = static_cast<std::int8_t>(data[1]);
  ktinet::String text = ktinet::BytesToString(std::string_view(reinterpret_cast<const char*>(data + 2), size - 2));
  ktinet::String field = ktinet::GetColumn(text, probe, delimiter);
  if (field.find(delimiter) != ktinet::String::npos || field.size() > text.size()) std::abort();
  if (text == u"\t") return 0;  // a lone tab is no fields at all
  size_t count = 1;
  for (ktinet::Char c : text) count += c == delimiter;
  ktinet::String joined;
  for (size_t k = 0; k < count; ++k) {
    if (k) joined += delimiter;
    joined += ktinet::GetColumn(text, static_cast<int>(k), delimiter);
  }
  if (joined != text) std::abort();
  if (!ktinet::GetColumn(text, static_cast<int>(count), delimiter).empty()) std::abort();
  return 0;
}
