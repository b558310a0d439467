#include "protocols/DnsWire.h"

#include <cstdio>

namespace ktinet {

namespace {

[[noreturn]] void Refuse(const std::string& what, std::size_t at) {
  throw EDnsNameError(what + " at byte " + std::to_string(at));
}

void AppendLabelByte(std::string& out, unsigned char c) {
  switch (c) {
    case '.': case '\\': case '"': case '(': case ')': case ';': case '@': case '$':
      out += '\\';
      out += static_cast<char>(c);
      return;
    default:
      break;
  }
  if (c > 0x20 && c < 0x7F) {
    out += static_cast<char>(c);
  } else {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\%03u", c);
    out += buf;
  }
}

}  // namespace

std::string DnsReadName(const std::string& Message, std::size_t& Pos) {
  std::string text;
  std::size_t wire = 0;
  std::size_t at = Pos;
  std::size_t limit = Pos;  // the next pointer must point before this
  bool jumped = false;
  for (;;) {
    if (at >= Message.size()) Refuse("name runs past the end of the message", at);
    unsigned len = static_cast<unsigned char>(Message[at]);
    if ((len & 0xC0) == 0xC0) {
      if (at + 1 >= Message.size()) Refuse("compression pointer runs past the end of the message", at);
      std::size_t target = (len & 0x3F) << 8 | static_cast<unsigned char>(Message[at + 1]);
      // Only backwards, and each time further back: a pointer to itself, forwards or into the
      // name it stands in could loop for ever.
      if (target >= limit) Refuse("compression pointer does not point backwards", at);
      if (!jumped) Pos = at + 2;
      jumped = true;
      limit = target;
      at = target;
      continue;
    }
    if ((len & 0xC0) != 0) Refuse("unknown label type", at);
    wire += len + 1;
    if (wire > 255) Refuse("name longer than 255 bytes", at);
    if (len == 0) {
      if (!jumped) Pos = at + 1;
      break;
    }
    if (at + 1 + len > Message.size()) Refuse("label runs past the end of the message", at);
    for (std::size_t i = 0; i < len; ++i) AppendLabelByte(text, static_cast<unsigned char>(Message[at + 1 + i]));
    text += '.';
    at += 1 + len;
  }
  return text.empty() ? "." : text;
}

}  // namespace ktinet
