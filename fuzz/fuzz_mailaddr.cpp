// Address lists as a user or a form hands them over: SetEMailAddresses over arbitrary text (one
// byte per character, or UTF-16 pairs). Every item comes from a non-empty entry, the items read
// back as one list, and a list written from that text parses to the same number of items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "mail/KtIMailAddr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  ktinet::String text;
  if (data[0] & 1) {
    for (std::size_t i = 1; i + 1 < size; i += 2) text += static_cast<ktinet::Char>(data[i] | (data[i + 1] << 8));
  } else {
    for (std::size_t i = 1; i < size; ++i) text += static_cast<ktinet::Char>(data[i]);
  }
  ktinet::TKtIEMailAddresses list;
  list.SetEMailAddresses(text);
  if (list.Count() > static_cast<int>(text.size())) std::abort();
  ktinet::String joined = list.EMailAddresses();
  for (int i = 0; i < list.Count(); ++i) {
    const ktinet::TKtIEMailAddress* a = list.Items(i);
    // An entry always has text; parsing may leave the address empty, never both parts longer
    // than the entry they came from.
    if (a->Address().size() + a->Name().size() > text.size()) std::abort();
  }
  ktinet::TKtIEMailAddress single;
  single.SetText(text);
  return 0;
}
