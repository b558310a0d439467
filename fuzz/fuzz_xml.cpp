// TKtXMLEngine over arbitrary input. The first bytes choose the entry (LoadFromStream with or
// without a size, ParseXMLFromString over one-byte or two-byte characters) and when the OnTag
// and OnAfterTag handlers reject or cancel; the rest is the document. After the parse the tree
// must be consistent (levels, parents); when the handlers accept everything, the reader without
// handlers must build the same tree; every value must go through GetTagValue exactly as the
// restarting replacement does it, and freeing must leave nothing behind. Seeds of ten thousand
// nested elements make libFuzzer (which takes its longest seed as the length limit) reach deep
// nesting.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "rtl/Streams.h"
#include "xml/KtInetXML.h"

using namespace ktinet;

namespace {

String ReferenceEntities(String s) {
  static const std::vector<std::pair<String, String>> rows = {
      {u"&brvbar", u"|"}, {u"&deg", u"\u00B0"}, {u"&#176", u"\u00B0"}, {u"&plusmn", u"+"}, {u"&para", u"\u00B6"},
      {u"&amp", u"&"},    {u"&lt", u"<"},       {u"&gt", u">"},        {u"&copy", u"c"},   {u"&quot", u"\""},
      {u"&apos", u"'"},   {u"&trade", u"T"},    {u"&nbsp", u""},       {u"&car", u"\n"},   {u"&ret", u"\r"},
      {u"&#009", u"\t"},  {u"&#x9", u"\t"},     {u"&#010", u"\n"},     {u"&#xa", u"\n"},   {u"&#013", u"\r"},
      {u"&#xd", u"\r"},   {u"&#034", u"\""},    {u"&#34", u"\""},      {u"&#039", u"'"},   {u"&#39", u"'"}};
  for (const auto& [key, repl] : rows) {
    for (;;) {
      size_t at = s.find(key);
      if (at == String::npos) break;
      size_t len = key.size();
      if (at + len < s.size() && s[at + len] == u';') ++len;
      s.replace(at, len, repl);
    }
  }
  return s;
}

void Check(const TKtXMLEngine& engine) {
  std::vector<const TKtXMLItem*> stack{engine.RootItem()};
  size_t visited = 0;
  while (!stack.empty()) {
    const TKtXMLItem* item = stack.back();
    stack.pop_back();
    ++visited;
    String value = item->GetTagValue();
    // The reference is quadratic: only short values are compared.
    if (item->Value().Text().size() < 256 && value != ReferenceEntities(item->GetTagXMLValue())) std::abort();
    const TKtXMLItems* items = item->Items();
    for (int k = 0; k < items->Count(); ++k) {
      const TKtXMLItem* child = items->Items(k);
      if (child->ParentItem() != item || child->Level() != item->Level() + 1) std::abort();
      stack.push_back(child);
    }
  }
  (void)engine.GetItemByTag(nullptr, u"encoding");
  (void)engine.RootItem()->GetChild(u"a", false);
  if (visited == 0) std::abort();
}

// The same tree, item by item: the reader without handlers takes shortcuts (names guessed from
// the ones before, texts decoded in place, tags stepped over) that the reader with handlers
// that accept everything never takes.
void Same(const TKtXMLItem* a, const TKtXMLItem* b) {
  std::vector<std::pair<const TKtXMLItem*, const TKtXMLItem*>> stack{{a, b}};
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (x->TagNameView() != y->TagNameView() || !(x->Value() == y->Value()) || x->Attributes() != y->Attributes() ||
        x->Kind() != y->Kind() || x->Level() != y->Level() || x->Items()->Count() != y->Items()->Count())
      std::abort();
    for (int k = 0; k < x->Items()->Count(); ++k) stack.emplace_back(x->Items()->Items(k), y->Items()->Items(k));
  }
}

void Parse(TKtXMLEngine& engine, unsigned mode, const std::string& doc, unsigned cancelAfter) {
  switch (mode) {
    case 0:
    case 1: {
      TMemoryStream stream;
      if (!doc.empty()) stream.Write(doc.data(), static_cast<long>(doc.size()));
      stream.SetPosition(0);
      engine.LoadFromStream(mode == 0 ? 0 : static_cast<Integer>(doc.size()), &stream);
      break;
    }
    case 2: {
      String text = BytesToString(doc);
      engine.ParseXMLFromString(text, static_cast<Integer>(text.size()));
      break;
    }
    default: {
      String text;
      for (size_t k = 0; k + 1 < doc.size(); k += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(doc[k]) | (static_cast<unsigned char>(doc[k + 1]) << 8));
      // A length beyond the text, inside it, or all of it.
      Integer length = static_cast<Integer>(text.size()) + static_cast<Integer>(cancelAfter % 3) - 1;
      engine.ParseXMLFromString(text, length);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const unsigned mode = data[0] % 4;
  const unsigned rejectEvery = data[1] % 8;   // 0: accept everything
  const unsigned cancelAfter = data[2];       // 0: never cancel
  std::string doc(reinterpret_cast<const char*>(data + 3), size - 3);

  TKtXMLEngine engine(nullptr);
  unsigned tags = 0, closes = 0;
  engine.SetOnTag([&](TObject*, TKtXMLItem* parent, const String&, const String&, const String&, bool& accept) {
    if (!parent) std::abort();
    if (rejectEvery && ++tags % rejectEvery == 0) accept = false;
  });
  engine.SetOnAfterTag([&](TObject*, TKtXMLItem*& node, bool& cancel) {
    if (!node) std::abort();
    if (cancelAfter && ++closes == cancelAfter) cancel = true;
    node = nullptr;
  });

  Parse(engine, mode, doc, cancelAfter);
  Check(engine);
  if (rejectEvery == 0 && cancelAfter == 0) {
    TKtXMLEngine plain(nullptr);
    Parse(plain, mode, doc, cancelAfter);
    Check(plain);
    Same(engine.RootItem(), plain.RootItem());
  }
  return 0;
}
