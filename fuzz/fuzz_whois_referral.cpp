// WHOIS referral lines over arbitrary answers: a referral found names a host without blanks,
// slashes or colons, a port from 1 to 65535, and never a server in the skip list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocols/KtWhoIs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ktinet::String answer = ktinet::BytesToString(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<ktinet::String> skip;
  for (int hop = 0; hop < 4; ++hop) {
    ktinet::String host;
    int port = 0;
    if (!ktinet::FindWhoisReferral(answer, skip, host, port)) break;
    if (host.empty() || host.find_first_of(u" \t/:") != ktinet::String::npos || port < 1 || port > 65535) std::abort();
    const ktinet::String key = ktinet::LowerCase(host) + u":" + ktinet::IntToStr(port);
    for (const ktinet::String& s : skip)
      if (s == key) std::abort();
    skip.push_back(key);
  }
  return 0;
}
