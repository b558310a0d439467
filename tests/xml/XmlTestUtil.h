// Helpers shared by the XML engine tests: feeding bytes to the engine and printing trees.
#pragma once

#include <string>

#include "rtl/Streams.h"
#include "xml/KtInetXML.h"

namespace ktinet::test {

// Loads `bytes` through LoadFromStream(size, stream) from a memory stream positioned at `offset`.
inline void LoadBytes(TKtXMLEngine& engine, const std::string& bytes, Integer size = 0, Int64 offset = 0) {
  TMemoryStream stream;
  if (!bytes.empty()) stream.Write(bytes.data(), static_cast<long>(bytes.size()));
  stream.SetPosition(offset);
  engine.LoadFromStream(size, &stream);
}

// One line per item, depth first: indentation by depth, kind letter, name, "=" and the value
// (or "=<unassigned>"), attribute text in brackets when there is any. UTF-8 for readable failures.
inline std::string Dump(const TKtXMLItem* item) {
  std::string out;
  struct Frame {
    const TKtXMLItem* item;
    int depth;
  };
  std::vector<Frame> stack{{item, 0}};
  while (!stack.empty()) {
    Frame f = stack.back();
    stack.pop_back();
    static const char kKinds[] = "PACD";
    out += std::string(static_cast<size_t>(f.depth) * 2, ' ');
    out += kKinds[f.item->Kind()];
    out += ' ' + UTF8Encode(f.item->TagName());
    TKtXMLVariant v = f.item->Value();
    out += v.IsEmpty() ? std::string("=<unassigned>") : "=" + UTF8Encode(v.Text());
    if (!f.item->Attributes().empty()) out += " [" + UTF8Encode(f.item->Attributes()) + "]";
    out += '\n';
    const TKtXMLItems* items = f.item->Items();
    for (int k = items->Count() - 1; k >= 0; --k) stack.push_back({items->Items(k), f.depth + 1});
  }
  return out;
}

inline std::string Dump(const TKtXMLEngine& engine) { return Dump(engine.RootItem()); }

}  // namespace ktinet::test
