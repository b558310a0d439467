// ReplaceHTMLChars over arbitrary text: the one-pass version must give what the described
// procedure (one entity at a time, always from the start) gives, and never grow the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "core/ktiutil.h"

namespace {

void Restarting(ktinet::String& s) {
  static const std::pair<ktinet::String, ktinet::String> table[] = {
      {u"&brvbar", u"|"}, {u"&deg", u"\u00B0"}, {u"&plusmn", u"+"}, {u"&para", u"\u00A6"},
      {u"&amp", u"&"},    {u"&lt", u"<"},       {u"&gt", u">"},     {u"&copy", u"c"},
      {u"&quot", u"\""},  {u"&apos", u"'"},     {u"&trade", u"T"},  {u"&nbsp", u""}};
  for (;;) {
    size_t p = s.find(u'&');
    if (p == ktinet::String::npos) return;
    size_t q = p + 1;
    while (q < s.size() && s[q] != u';') ++q;
    ktinet::String entity = s.substr(p, q - p);
    const ktinet::String* repl = nullptr;
    for (const auto& [name, text] : table)
      if (entity == name) repl = &text;
    if (!repl) return;
    s.erase(p, (q < s.size() ? q + 1 : q) - p);
    s.insert(p, *repl);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;  // the reference is quadratic
  ktinet::String text = ktinet::BytesToString(std::string_view(reinterpret_cast<const char*>(data), size));
  ktinet::String fast = text, slow = text;
  ktinet::ReplaceHTMLChars(fast);
  Restarting(slow);
  if (fast != slow || fast.size() > text.size()) std::abort();
  return 0;
}
