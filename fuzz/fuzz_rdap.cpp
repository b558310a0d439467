// RDAP answers, error answers and bootstrap files over arbitrary bytes: parsing never throws or
// crashes, and a service found in a bootstrap file is an http(s) URL ending in "/".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "rtl/SysUtils.h"
#include "services/KtRdap.h"

namespace {

void CheckService(const ktinet::String& url) {
  if (url.empty()) return;
  const ktinet::String lower = ktinet::LowerCase(url);
  if (url.back() != u'/' || (lower.compare(0, 8, u"https://") != 0 && lower.compare(0, 7, u"http://") != 0))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ktinet::TKtRdapRecord record;
  ktinet::String error;
  ktinet::ParseRdapRecord(text, record, error);
  ktinet::TKtRdapError answer;
  ktinet::ParseRdapError(text, 404, answer);
  if (answer.HttpStatus != 404) std::abort();

  ktinet::TKtRdapBootstrap bootstrap;
  if (bootstrap.Add(text, ktinet::TKtRdapBootstrap::TKind::Unknown, error)) {
    for (const char16_t* q : {u"www.example.co.uk", u"192.0.2.1", u"10.0.0.0/8", u"2001:db8::1", u"AS64500"}) {
      ktinet::TKtRdapQuery query;
      if (!ktinet::ParseRdapQuery(q, query, error)) std::abort();
      CheckService(bootstrap.Find(query));
    }
  }

  // The same bytes as a query and as a date.
  const ktinet::String asText = ktinet::UTF8ToString(text.substr(0, 512));
  ktinet::TKtRdapQuery query;
  if (ktinet::ParseRdapQuery(asText, query, error)) {
    const ktinet::String path = query.Path();
    if (path.find_first_of(u"?#% \\") != ktinet::String::npos) std::abort();
  }
  ktinet::TDateTime date;
  ktinet::ParseRdapDate(asText, date);
  return 0;
}
