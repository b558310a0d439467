// Basic types of the run-time stand-in: the UTF-16 String and its conversions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ktinet {

using String = std::u16string;  // the framework's string: UTF-16 code units
using Char = char16_t;
using Byte = std::uint8_t;
using Word = std::uint16_t;
using Integer = std::int32_t;
using Cardinal = std::uint32_t;
using Int64 = std::int64_t;

// UTF-8 at the edges (file names, terminal, what()). Unpaired surrogates become U+FFFD.
std::string UTF8Encode(const String& s);
// Malformed UTF-8 sequences become U+FFFD; never throws.
String UTF8ToString(std::string_view utf8);

// The one-byte-per-character model of socket texts: every byte 0..255 is one character.
String BytesToString(std::string_view bytes);
// Low 8 bits of every character.
std::string StringToBytes(const String& s);
// The two conversions on raw memory (n bytes to n characters and back), for callers that own
// their buffers; vectorized where the processor allows.
void WidenBytes(const unsigned char* in, size_t n, Char* out);
void NarrowChars(const Char* in, size_t n, char* out);

// The ANSI code page of the suite is Windows-1252.
String AnsiToString(std::string_view ansi);
// Characters Windows-1252 cannot carry become `replacement`.
std::string StringToAnsi(const String& s, char replacement = '?');
// True when `c` has a Windows-1252 byte; the byte is stored in `out`.
bool CharToAnsi(Char c, unsigned char& out);
// The Unicode character of a Windows-1252 byte (undefined bytes map to themselves, as Windows does).
Char AnsiToChar(unsigned char b);

// Shorthand for writing a String from a UTF-8 literal: Str("text").
inline String Str(std::string_view utf8) { return UTF8ToString(utf8); }

}  // namespace ktinet
