// JSON output of the program's subcommands.
#pragma once

#include <cstdio>
#include <string>

#include "rtl/System.h"

namespace ktinet::cli {

// A JSON string literal of UTF-8 text.
inline std::string JsonText(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

inline std::string JsonText(const String& s) { return JsonText(UTF8Encode(s)); }

}  // namespace ktinet::cli
