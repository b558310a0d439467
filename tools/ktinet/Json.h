// JSON output of the program's subcommands: every --json goes through these.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "rtl/System.h"

namespace ktinet::cli {

// A JSON string literal of UTF-8 text. Control characters (C0, DEL and the C1 range) are
// escaped, so the output is safe on a terminal as well as in a file.
inline std::string JsonText(std::string_view s) {
  std::string out = "\"";
  out.reserve(s.size() + 2);
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    unsigned code = 0x100;  // none
    if (c < 0x20 || c == 0x7F) code = c;
    else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
             static_cast<unsigned char>(s[i + 1]) <= 0x9F)
      code = static_cast<unsigned char>(s[++i]);
    switch (code) {
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      case 0x100: break;
      default: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", code);
        out += buf;
        continue;
      }
    }
    if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

inline std::string JsonText(const std::string& s) { return JsonText(std::string_view(s)); }
inline std::string JsonText(const char* s) { return JsonText(std::string_view(s)); }
inline std::string JsonText(const String& s) { return JsonText(UTF8Encode(s)); }

// One JSON object, its members in the order added: {"a":1,"b":"x"}.
class JsonObject {
 public:
  // A text member; `String`s are UTF-16, `std::string`s UTF-8.
  JsonObject& Text(std::string_view key, const std::string& utf8) { return Raw(key, JsonText(utf8)); }
  JsonObject& Text(std::string_view key, const String& text) { return Raw(key, JsonText(text)); }
  JsonObject& Number(std::string_view key, long long n) { return Raw(key, std::to_string(n)); }
  JsonObject& Bool(std::string_view key, bool b) { return Raw(key, b ? "true" : "false"); }
  JsonObject& Null(std::string_view key) { return Raw(key, "null"); }
  // A member whose value is JSON already (a number written with a chosen precision, an array, an
  // object).
  JsonObject& Raw(std::string_view key, const std::string& json) {
    FText += (FText.size() > 1 ? "," : "") + JsonText(key) + ":" + json;
    return *this;
  }
  std::string Str() const { return FText + "}"; }

 private:
  std::string FText = "{";
};

// A JSON array of values that are JSON already.
class JsonArray {
 public:
  JsonArray& Raw(const std::string& json) {
    FText += (FText.size() > 1 ? "," : "") + json;
    return *this;
  }
  JsonArray& Text(const std::string& utf8) { return Raw(JsonText(utf8)); }
  JsonArray& Text(const String& text) { return Raw(JsonText(text)); }
  std::string Str() const { return FText + "]"; }

 private:
  std::string FText = "[";
};

}  // namespace ktinet::cli
