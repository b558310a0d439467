// The engine against libxml2 on documents that both read the same way: elements with
// attributes and text values, no mixed content, no CDATA. Element names (with their
// prefixes), nesting, attributes and values must agree.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"
#include "xml/KtInetXML.h"
#include "xml/XmlTestUtil.h"

namespace ktinet {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

std::string QualifiedName(const xmlNs* ns, const xmlChar* name) {
  std::string n = Utf8(name);
  return ns && ns->prefix ? Utf8(ns->prefix) + ":" + n : n;
}

std::vector<xmlNode*> ElementChildren(xmlNode* node) {
  std::vector<xmlNode*> out;
  for (xmlNode* c = node->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE) out.push_back(c);
  return out;
}

bool Blank(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

struct Comparer {
  // Without a byte-order mark or a declared encoding the engine hands out characters that
  // stand for the document's bytes; the services decode them as UTF-8 afterwards.
  bool bytesAsText = false;

  std::string Ours(const String& s) const { return bytesAsText ? StringToAnsi(s) : UTF8Encode(s); }

  void Compare(TKtXMLItem* ours, xmlNode* theirs, const std::string& path) {
    const std::string name = QualifiedName(theirs->ns, theirs->name);
    const std::string here = path + "/" + name;
    ASSERT_EQ(UTF8Encode(ours->TagName()), name) << here;

    std::vector<std::pair<std::string, std::string>> attrsTheirs, attrsOurs;
    for (xmlNs* ns = theirs->nsDef; ns; ns = ns->next)
      attrsTheirs.emplace_back(ns->prefix ? "xmlns:" + Utf8(ns->prefix) : "xmlns", Utf8(ns->href));
    for (xmlAttr* a = theirs->properties; a; a = a->next) {
      xmlChar* v = xmlNodeListGetString(theirs->doc, a->children, 1);
      attrsTheirs.emplace_back(QualifiedName(a->ns, a->name), Utf8(v));
      xmlFree(v);
    }
    ours->ProcessAttributes();
    std::vector<TKtXMLItem*> elements;
    for (int k = 0; k < ours->Items()->Count(); ++k) {
      TKtXMLItem* c = ours->Items()->Items(k);
      if (c->Kind() == ikAttribute)
        attrsOurs.emplace_back(UTF8Encode(c->TagName()), Ours(c->GetTagValue()));
      else if (c->Kind() == ikProperty)
        elements.push_back(c);
    }
    std::sort(attrsTheirs.begin(), attrsTheirs.end());
    std::sort(attrsOurs.begin(), attrsOurs.end());
    EXPECT_EQ(attrsOurs, attrsTheirs) << here;

    std::vector<xmlNode*> children = ElementChildren(theirs);
    ASSERT_EQ(elements.size(), children.size()) << here;
    if (children.empty()) {
      xmlChar* content = xmlNodeGetContent(theirs);
      EXPECT_EQ(Ours(ours->GetTagValue()), Utf8(content)) << here;
      xmlFree(content);
    } else {
      // Only layout between the start tag and the first child: blank on both sides.
      EXPECT_TRUE(Blank(Ours(ours->GetTagValue()))) << here;
      for (xmlNode* c = theirs->children; c; c = c->next) {
        if (c->type == XML_TEXT_NODE) {
          EXPECT_TRUE(Blank(Utf8(c->content))) << here;
        }
      }
    }
    for (size_t k = 0; k < children.size(); ++k) Compare(elements[k], children[k], here);
  }
};

TKtXMLItem* DocumentElement(TKtXMLEngine& engine) {
  TKtXMLItem* root = engine.RootItem();
  if (!SameStrings(false, root->TagName(), u"?xml")) return root;
  for (int k = 0; k < root->Items()->Count(); ++k)
    if (root->Items()->Items(k)->Kind() == ikProperty) return root->Items()->Items(k);
  return nullptr;
}

TEST(XmlDifferential, CorpusAgreesWithLibxml2) {
  const fs::path dir = fs::path(KTINET_SOURCE_DIR) / "tests" / "xml" / "corpus";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".xml") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 7u);
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const std::string bytes = test::ReadFileBytes(file.string());
    ASSERT_FALSE(bytes.empty());
    xmlDoc* doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), file.string().c_str(), nullptr,
                                XML_PARSE_NONET);
    ASSERT_NE(doc, nullptr) << "not well-formed";
    TKtXMLEngine engine(nullptr);
    test::LoadBytes(engine, bytes);
    Comparer cmp;
    cmp.bytesAsText = !engine.UTF8Processed && !engine.GetItemByTag(nullptr, u"encoding");
    TKtXMLItem* ours = DocumentElement(engine);
    ASSERT_NE(ours, nullptr);
    cmp.Compare(ours, xmlDocGetRootElement(doc), "");
    xmlFreeDoc(doc);
  }
}

// The same documents behind byte-order marks: UTF-8 and UTF-16 in both orders read alike.
TEST(XmlDifferential, ByteOrderMarksGiveTheSameTree) {
  const fs::path file = fs::path(KTINET_SOURCE_DIR) / "tests" / "xml" / "corpus" / "ups_track_response.xml";
  const std::string bytes = test::ReadFileBytes(file.string());
  TKtXMLEngine plain(nullptr);
  test::LoadBytes(plain, bytes);
  const std::string expected = test::Dump(plain);
  const String text = UTF8ToString(bytes);
  std::string le = "\xFF\xFE", be = "\xFE\xFF";
  for (char16_t c : text) {
    le += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    be += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
  }
  for (const std::string& variant : {"\xEF\xBB\xBF" + bytes, le, be}) {
    TKtXMLEngine e(nullptr);
    test::LoadBytes(e, variant);
    EXPECT_TRUE(e.UTF8Processed);
    EXPECT_EQ(test::Dump(e), expected);
  }
}

}  // namespace
}  // namespace ktinet
