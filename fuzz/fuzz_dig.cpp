// The dig decoder over arbitrary bytes: it either decodes or raises EDigError(Malformed), and
// what it decodes is safe to print (names end with their dot, record texts hold no control
// bytes). The same bytes as a name: a name that passes the checks survives the trip through a
// query and back unchanged, and so does the serial of an IXFR query. The shared name reader
// meets the bytes on its own too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocols/DnsWire.h"
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
  // The shared name reader alone, from the first byte: a name or EDnsNameError, never a read
  // beyond the message, and the position left inside it.
  try {
    std::size_t pos = 0;
    std::string name = ktinet::DnsReadName(bytes, pos);
    if (pos == 0 || pos > size || name.empty() || name.back() != '.') std::abort();
    CheckPrintable(name);
  } catch (const ktinet::EDnsNameError&) {
  }
  try {
    std::string wire = ktinet::DigEncodeName(bytes);
    if (wire.size() > 255) std::abort();
    ktinet::TDigMessage q = ktinet::DigDecodeMessage(ktinet::DigBuildQuery(7, bytes, 1, 1232));
    if (q.Questions.size() != 1 || ktinet::DigEncodeName(q.Questions[0].Name) != wire) std::abort();
    // An IXFR query carries the serial through its authority section unchanged.
    std::uint32_t serial = size >= 4 ? static_cast<std::uint32_t>(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3] : 0;
    ktinet::TDigMessage ixfr = ktinet::DigDecodeMessage(ktinet::DigBuildIxfrQuery(7, bytes, serial));
    if (ixfr.Authority.size() != 1 || ixfr.Authority[0].Text != ". . " + std::to_string(serial) + " 0 0 0 0") std::abort();
  } catch (const ktinet::EDigError& e) {
    if (e.ErrorKind() != ktinet::EDigError::Usage) std::abort();
  }
  return 0;
}
