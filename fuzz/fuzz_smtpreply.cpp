// Replies of a hostile mail server: the lines of the input, split as the sender splits what it
// reads (at LF, a CR before it dropped), go through the reply reader one by one. A reply ends
// with a line whose fourth character is not '-'; the code is three digits, the text holds every
// line; anything else is refused with an Exception, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/KtISMTP.h"
#include "rtl/Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  int code = 0, continuations = 0, lines = 0;
  ktinet::String text;
  std::size_t start = 0;
  while (start < input.size()) {
    std::size_t lf = input.find('\n', start);
    if (lf == std::string::npos) break;
    std::string line = input.substr(start, lf - start);
    start = lf + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    try {
      ++lines;
      if (ktinet::smtp_detail::AddReplyLine(line, code, text, continuations)) {
        if (code < 0 || code > 999 || text.empty() || continuations > 100) std::abort();
        if (text.size() < static_cast<std::size_t>(lines) * 3) std::abort();
        code = continuations = lines = 0;
        text.clear();
      }
    } catch (const ktinet::Exception&) {
      code = continuations = lines = 0;
      text.clear();
    }
  }
  return 0;
}
