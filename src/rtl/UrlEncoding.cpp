#include "rtl/UrlEncoding.h"

namespace ktinet {

std::string PercentEncodeBytes(std::string_view Bytes, std::string_view AlsoKept) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(Bytes.size());
  for (unsigned char c : Bytes) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '~' ||
                      (c != 0 && AlsoKept.find(static_cast<char>(c)) != std::string_view::npos);
    if (kept) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace ktinet
