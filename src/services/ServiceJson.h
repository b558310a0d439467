// JSON answers of the web services, parsed with nlohmann-json inside the library only (the
// installed headers do not need it).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace ktinet {

// The services' answers are a few levels deep. Parts deeper than `maxDepth` are dropped while
// parsing, so nothing built from a hostile document is deep; a text that is not JSON gives the
// discarded value.
inline nlohmann::json ParseServiceJson(const std::string& body, int maxDepth) {
  return nlohmann::json::parse(
      body, [maxDepth](int depth, nlohmann::json::parse_event_t, nlohmann::json&) { return depth <= maxDepth; },
      false);
}

}  // namespace ktinet
