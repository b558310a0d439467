// Percent-encoding of URL parts, shared by the Internet layer and the web-service components.
#pragma once

#include <string>
#include <string_view>

namespace ktinet {

// Percent-encodes every byte but RFC 3986's unreserved characters (letters, digits and "-._~")
// and those in AlsoKept: a query value, a form field or a path segment, from its UTF-8 bytes.
std::string PercentEncodeBytes(std::string_view Bytes, std::string_view AlsoKept = {});

}  // namespace ktinet
