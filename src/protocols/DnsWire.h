// Reading names out of DNS messages (RFC 1035 section 4.1.4), shared by every resolver of the
// suite, so that one set of checks stands between a hostile message and the text it becomes.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace ktinet {

// A name that cannot be read: the text says what is wrong and at which byte of the message.
class EDnsNameError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The name that starts at Pos in Message, in presentation form: every label followed by a dot,
// "." for the root, the bytes that mean something in a zone file escaped with a backslash and
// the unprintable ones as \DDD. Pos moves past the name's own bytes (a compression pointer
// counts two). Every compression pointer must point before the place the walk came from (the
// name's start, then the previous pointer's target), which bounds the walk by the message's
// length; the reserved label types (upper bits 01 and 10), labels or pointers cut by the end of
// the message and names of more than 255 bytes raise EDnsNameError.
std::string DnsReadName(const std::string& Message, std::size_t& Pos);

}  // namespace ktinet
