// The dig decoder over arbitrary bytes: it either decodes or raises EDigError(Malformed), and
// what it decodes is safe to print (names end with their dot, record texts hold no control
// bytes). The same bytes as a name: a name that passes the checks survives the trip through a
// query and back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocols/KtDigResolver.h"

namespace {

void CheckPrintable(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c >= 0x7F) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    ktinet::TDigMessage m = ktinet::DigDecodeMessage(bytes);
    for (const auto& q : m.Questions) {
      if (q.Name.empty() || q.Name.back() != '.') std::abort();
      CheckPrintable(q.Name);
    }
    for (const auto* section : {&m.Answers, &m.Authority, &m.Additional})
      for (const auto& rr : *section) {
        if (rr.Name.empty() || rr.Name.back() != '.' || rr.RData.size() > size) std::abort();
        std::string line = ktinet::DigRecordLine(rr);
        for (char& c : line)
          if (c == '\t') c = ' ';
        CheckPrintable(line);
      }
    (void)m.RCode();
    (void)m.FlagText();
  } catch (const ktinet::EDigError& e) {
    if (e.ErrorKind() != ktinet::EDigError::Malformed) std::abort();
  }
  try {
    std::string wire = ktinet::DigEncodeName(bytes);
    if (wire.size() > 255) std::abort();
    ktinet::TDigMessage q = ktinet::DigDecodeMessage(ktinet::DigBuildQuery(7, bytes, 1, 1232));
    if (q.Questions.size() != 1 || ktinet::DigEncodeName(q.Questions[0].Name) != wire) std::abort();
  } catch (const ktinet::EDigError& e) {
    if (e.ErrorKind() != ktinet::EDigError::Usage) std::abort();
  }
  return 0;
}
