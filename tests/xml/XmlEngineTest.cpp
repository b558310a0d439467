#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "rtl/DateTime.h"
#include "rtl/Exceptions.h"
#include "support/TempDir.h"
#include "xml/KtInetXML.h"
#include "xml/XmlTestUtil.h"

namespace ktinet {
namespace {

using test::Dump;
using test::LoadBytes;

std::string Parse(TKtXMLEngine& e, const std::string& text) {
  String s = BytesToString(text);
  e.ParseXMLFromString(s, static_cast<Integer>(s.size()));
  return Dump(e);
}

std::string Parse(const std::string& text) {
  TKtXMLEngine e(nullptr);
  return Parse(e, text);
}

// Records the events of a parse as "tag:NAME<PARENT" and "after:NAME" lines.
struct EventLog {
  std::vector<std::string> lines;
  void Attach(TKtXMLEngine& e) {
    e.SetOnTag([this](TObject*, TKtXMLItem* parent, const String& name, const String& value, const String& attrs,
                      bool&) {
      lines.push_back("tag:" + UTF8Encode(name) + "<" + UTF8Encode(parent->TagName()) + " v=" + UTF8Encode(value) +
                      " a=" + UTF8Encode(attrs));
    });
    e.SetOnAfterTag([this](TObject*, TKtXMLItem*& node, bool&) { lines.push_back("after:" + UTF8Encode(node->TagName())); });
  }
};

TEST(XmlEngine, DeclarationBecomesRootWithAttributesAndDocumentBelow) {
  TKtXMLEngine e(nullptr);
  EventLog log;
  log.Attach(e);
  EXPECT_EQ(Parse(e, R"(<?xml version="1.0" encoding="utf-8"?><root><a>1</a></root>)"),
            "P ?xml=<unassigned>\n"
            "  A version=\"1.0\" \n"
            "  A encoding=\"utf-8\"\n"
            "  P root=<unassigned>\n"
            "    P a=1\n");
  TKtXMLItem* root = e.RootItem();
  EXPECT_EQ(root->Items()->Items(0)->GetTagValue(), u"1.0");
  EXPECT_EQ(root->Items()->Items(1)->GetTagValue(), u"utf-8");
  EXPECT_EQ(root->Items()->Items(1)->Level(), 1);
  EXPECT_EQ(root->Items()->Items(2)->Items()->Items(0)->Level(), 2);
  EXPECT_EQ(root->Attributes(), u"");  // emptied by ProcessAttributes
  // The declaration never closes: the two closing tags close a and root, nothing else.
  EXPECT_EQ(log.lines, (std::vector<std::string>{"tag:root<?xml v= a=", "tag:a<root v=1 a=", "after:a", "after:root"}));
}

TEST(XmlEngine, ValuesClosingTagsAndTopLevelReuse) {
  {
    TKtXMLEngine e(nullptr);
    EventLog log;
    log.Attach(e);
    // The first element is the root itself: no OnTag for it. Text after "/>" is dropped.
    EXPECT_EQ(Parse(e, "<a><b/>tail</a>"), "P a=<unassigned>\n  P b=<unassigned>\n");
    EXPECT_EQ(log.lines, (std::vector<std::string>{"tag:b<a v= a=", "after:b", "after:a"}));
  }
  // A value is the text up to the next "<" only.
  EXPECT_EQ(Parse("<a>x<b>y</b>z</a>"), "P a=x\n  P b=y\n");
  // A closing tag closes the current element whatever its name.
  EXPECT_EQ(Parse("<a><b></wrong><c/></a>"), "P a=<unassigned>\n  P b=<unassigned>\n  P c=<unassigned>\n");
  // After the first element has closed, the next top-level one reuses the root.
  EXPECT_EQ(Parse("<a>1</a><b>2</b>"), "P b=12\n");
  // An empty name renames the current element.
  EXPECT_EQ(Parse("<a><>x</a>"), "P =x\n");
  // Values gathered from many pieces (a reused root, repeated empty names) grow in linear time.
  {
    std::string many, expected;
    for (int k = 0; k < 100000; ++k) many += "<e>v" + std::to_string(k % 10) + "</e>";
    many += "<r>0<>1<>2<>3";
    for (int k = 0; k < 100000; ++k) expected += "v" + std::to_string(k % 10);
    TKtXMLEngine e(nullptr);
    Parse(e, many);
    EXPECT_EQ(UTF8Encode(e.RootItem()->Value().Text()), expected + "0123");
  }
  // The raw attribute text is kept; '/' inside double quotes does not end it, '>' does.
  EXPECT_EQ(Parse(R"(<a href="http://x/y" t='1'>v</a>)"), "P a=v [ href=\"http://x/y\" t='1']\n");
  EXPECT_EQ(Parse(R"(<a t="x>y">v</a>)"), "P a=y\">v [ t=\"x]\n");
}

TEST(XmlEngine, FinalSlashGreaterFiresNoCloseEvent) {
  for (auto [text, events] : std::vector<std::pair<std::string, size_t>>{{"<root/>", 0}, {"<root/> ", 1}, {"<r><a/></r>", 2}}) {
    TKtXMLEngine e(nullptr);
    EventLog log;
    log.Attach(e);
    Parse(e, text);
    EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(), [](const std::string& l) { return l.rfind("after:", 0) == 0; }),
              static_cast<long>(events))
        << text;
  }
}

TEST(XmlEngine, Comments) {
  TKtXMLEngine e(nullptr);
  EventLog log;
  log.Attach(e);
  EXPECT_EQ(Parse(e, "<root><!-- note --><a>1</a></root>"), "P root=<unassigned>\n  C Comment=Comment note --\n  P a=1\n");
  EXPECT_EQ(log.lines.front(), "tag:Comment<root v=Comment note -- a=");
  // A comment is never current, so it gets no close event.
  EXPECT_EQ(log.lines, (std::vector<std::string>{"tag:Comment<root v=Comment note -- a=", "tag:a<root v=1 a=", "after:a",
                                                 "after:root"}));
  // Letters and dashes glued to "<!--" belong to the name, so the text starts after them.
  EXPECT_EQ(Parse("<r><!--x --></r>"), "P r=<unassigned>\n  C Comment=Comment --\n");
  EXPECT_EQ(Parse("<r><!--x--></r><more/>"), "P r=<unassigned>\n  C Comment=Comment\n");
  // Unterminated: a bare "Comment" and the parse ends.
  EXPECT_EQ(Parse("<root><!-- never <a>1</a>"), "P root=<unassigned>\n  C Comment=Comment\n");
}

TEST(XmlEngine, RejectedElementsAreSkippedWithTheirContent) {
  auto run = [](const std::string& text, const std::string& reject) {
    TKtXMLEngine e(nullptr);
    e.SetOnTag([&](TObject*, TKtXMLItem*, const String& name, const String&, const String&, bool& accept) {
      if (UTF8Encode(name) == reject) accept = false;
    });
    return Parse(e, text);
  };
  EXPECT_EQ(run("<a><b><c/></b><d/></a>", "b"), "P a=<unassigned>\n  P d=<unassigned>\n");
  EXPECT_EQ(run("<a><b x=\"1\">text<c>v</c></b><d>2</d></a>", "b"), "P a=<unassigned>\n  P d=2\n");
  EXPECT_EQ(run("<a><b/><d>2</d></a>", "b"), "P a=<unassigned>\n  P d=2\n");
  // A comment inside counts as an opened element: the skip runs on past the sibling.
  EXPECT_EQ(run("<a><b><!-- x --></b><d/></a>", "b"), "P a=<unassigned>\n");
  // A rejected start tag without its '>' does not send the parse back over text already read
  // (which would reject the same element for ever).
  EXPECT_EQ(run("<r><s>t</<b /x<q>", "b"), "P r=<unassigned>\n  P s=t\n");
  // A rejected comment has already stepped into the next tag, so that element goes with it.
  EXPECT_EQ(run("<a><!-- x --><d/><e/></a>", "Comment"), "P a=<unassigned>\n");
  EXPECT_EQ(run("<a><!-- x --> <d/></a><f/>", "Comment"), "P a=<unassigned>\n  P f=<unassigned>\n");
}

TEST(XmlEngine, CancelEndsTheParseKeepingTheTree) {
  TKtXMLEngine e(nullptr);
  int closes = 0;
  e.SetOnAfterTag([&](TObject* sender, TKtXMLItem*& node, bool& cancel) {
    EXPECT_EQ(sender, &e);
    ++closes;
    cancel = UTF8Encode(node->TagName()) == "b";
    node = nullptr;  // assigning Node changes nothing
  });
  EXPECT_EQ(Parse(e, "<a><b/><c/></a>"), "P a=<unassigned>\n  P b=<unassigned>\n");
  EXPECT_EQ(closes, 1);
  // Exceptions from a handler reach the caller; the tree built so far stays usable.
  TKtXMLEngine f(nullptr);
  f.SetOnTag([](TObject*, TKtXMLItem*, const String&, const String&, const String&, bool&) { throw EAbort("stop"); });
  EXPECT_THROW(Parse(f, "<a><b/></a>"), EAbort);
  EXPECT_EQ(Dump(f), "P a=<unassigned>\n");
}

TEST(XmlEngine, DegenerateInputsFinish) {
  EXPECT_EQ(Parse("<"), "P =<unassigned>\n");
  EXPECT_EQ(Parse("/>"), "P =<unassigned>\n");
  EXPECT_EQ(Parse("x/>"), "P =<unassigned>\n");
  // A closing "</>" with nothing current: the rules would stand still there for ever.
  EXPECT_EQ(Parse("<a></a></>"), "P a=<unassigned>\n");
  EXPECT_EQ(Parse("<!--"), "C Comment=Comment\n");  // a comment as first item is the root
  EXPECT_EQ(Parse("<?xml version=\"1.0\""), "P ?xml=<unassigned>\n  A version=\"1.0\"\n");
  EXPECT_EQ(Parse(std::string("<a>x\0<b>y</b></a>", 17)), "P a=x\n");
  EXPECT_EQ(Parse("<<<<>>>>"), "P =<unassigned>\n");
  EXPECT_EQ(Parse(""), "P =<unassigned>\n");
  // A shorter length cuts the text.
  TKtXMLEngine e(nullptr);
  e.ParseXMLFromString(u"<a>hello</a>", 6);
  EXPECT_EQ(Dump(e), "P a=hel\n");
  e.ParseXMLFromString(u"<b>zzz</b>", 0);
  EXPECT_EQ(Dump(e), "P a=hel\n");
}

TEST(XmlEngine, DeepNestingParsesSearchesAndFreesWithoutRecursion) {
  const int depth = 1000000;
  std::string doc;
  doc.reserve(static_cast<size_t>(depth) * 7 + 16);
  for (int k = 0; k < depth; ++k) doc += "<a>";
  doc += "end";
  for (int k = 0; k < depth; ++k) doc += "</a>";
  auto e = std::make_unique<TKtXMLEngine>(nullptr);
  int closes = 0;
  e->SetOnAfterTag([&](TObject*, TKtXMLItem*&, bool&) { ++closes; });
  LoadBytes(*e, doc);
  EXPECT_EQ(closes, depth);
  EXPECT_EQ(e->GetItemByTag(nullptr, u"missing"), nullptr);
  EXPECT_EQ(e->RootItem()->GetChild(u"missing", true), nullptr);
  TKtXMLItem* item = e->RootItem();
  while (item->Items()->Count() > 0) item = item->Items()->Items(0);
  EXPECT_EQ(item->Level(), depth - 1);
  EXPECT_EQ(item->GetTagValue(), u"end");
  // Freeing a deep subtree on its own, then the rest with the engine.
  TKtXMLItem* first = e->RootItem()->Items()->Items(0);
  TKtXMLItem* second = first->Items()->Items(0);
  delete second;
  EXPECT_EQ(first->Items()->Count(), 0);
  LoadBytes(*e, doc);  // reload frees and rebuilds
  EXPECT_EQ(e->RootItem()->Items()->Count(), 1);
  e.reset();
  // Unclosed nesting, and a document of only "<".
  TKtXMLEngine f(nullptr);
  LoadBytes(f, std::string(static_cast<size_t>(depth) * 3, '<'));
  LoadBytes(f, doc.substr(0, static_cast<size_t>(depth) * 3));
  EXPECT_NE(f.GetItemByTag(nullptr, u"A"), nullptr);
}

TEST(XmlEngine, DecodingMatrix) {
  const std::string body = "<a>caf\xC3\xA9</a>";  // UTF-8 bytes
  auto utf16 = [](const String& s, bool bigEndian) {
    std::string out;
    for (char16_t c : s) {
      char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
      out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
  };
  const String text = u"<a>caf\u00E9 \u0416</a>";
  struct Case {
    std::string name, bytes;
    Integer size;
    std::string dump;
    bool utf8Processed;
  };
  std::vector<Case> cases = {
      {"ansi", "<a>caf\xE9 \x80</a>", 0, "P a=caf\u00E9 \u20AC\n", false},
      {"utf8 bom", "\xEF\xBB\xBF" + body, 0, "P a=caf\u00E9\n", true},
      {"utf16le bom", "\xFF\xFE" + utf16(text, false), 0, "P a=caf\u00E9 \u0416\n", true},
      {"utf16be bom", "\xFE\xFF" + utf16(text, true), 0, "P a=caf\u00E9 \u0416\n", true},
      {"utf16le odd byte", "\xFF\xFE" + utf16(text, false) + "x", 0, "P a=caf\u00E9 \u0416\n", true},
      {"utf16be given size", "\xFE\xFF" + utf16(text, true), 0, "P a=caf\u00E9 \u0416\n", false},
      {"utf8 given size", "\xEF\xBB\xBF" + body, 0, "P a=caf\u00E9\n", true},
      {"ansi given size", "<a>x</a>trailing", 8, "P a=x\n", false},
      {"esc at end", "<a>x\x1B", 0, "P a=x\n", false},
      {"esc utf16", "\xFF\xFE" + utf16(u"<a>x\x1B", false), 0, "P a=x\n", true},
  };
  cases[5].size = static_cast<Integer>(cases[5].bytes.size());
  cases[6].size = static_cast<Integer>(cases[6].bytes.size());
  for (const Case& c : cases) {
    TKtXMLEngine e(nullptr);
    LoadBytes(e, c.bytes, c.size);
    EXPECT_EQ(Dump(e), c.dump) << c.name;
    EXPECT_EQ(e.UTF8Processed, c.utf8Processed) << c.name;
  }
  // Nothing to parse: the tree is emptied, the root keeps its name, UTF8Processed is reset.
  for (std::string bytes : {std::string(), std::string("\xFF\xFE"), std::string("\xFE\xFF"), std::string("\xEF\xBB\xBF"),
                            std::string("\xFF\xFEz")}) {
    TKtXMLEngine e(nullptr);
    Parse(e, "<keep><child/></keep>");
    e.UTF8Processed = true;
    LoadBytes(e, bytes);
    EXPECT_EQ(Dump(e), "P keep=<unassigned>\n") << bytes.size();
  }
  TKtXMLEngine e(nullptr);
  Parse(e, "<keep><child/></keep>");
  e.LoadFromStream(0, nullptr);
  EXPECT_EQ(Dump(e), "P keep=<unassigned>\n");
  // The count runs from the stream's position.
  LoadBytes(e, "junk<b>1</b>", 0, 4);
  EXPECT_EQ(Dump(e), "P b=1\n");
}

// Texts and start tags longer than the scanners' sixteen-character blocks, with the stop
// characters and a non-ASCII character past the first block, read as bytes and as characters.
TEST(XmlEngine, LongRunsStopAtTheSameCharacters) {
  const std::string doc =
      "<r><a k=\"0123456789abcdef/0123456789/x\" j=\"y\">0123456789abcdefghij/klmnopqrstuvwxyz0123456789 caf\xE9 "
      "0123456789abcdefgh</a><b>0123456789abcdefghijklmnopqrstu\xE9vwxyz</b><c>0123456789abcdef</c>"
      "<d>0123456789abcdefghijklmnopqrstuv/></d></r>";
  auto check = [](TKtXMLEngine& e) {
    TKtXMLItem* a = e.GetItemByTag(nullptr, u"a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Attributes(), u" k=\"0123456789abcdef/0123456789/x\" j=\"y\"");
    EXPECT_EQ(a->Value().Text(), u"0123456789abcdefghij/klmnopqrstuvwxyz0123456789 caf\u00E9 0123456789abcdefgh");
    EXPECT_EQ(e.GetItemByTag(nullptr, u"b")->Value().Text(), u"0123456789abcdefghijklmnopqrstu\u00E9vwxyz");
    EXPECT_EQ(e.GetItemByTag(nullptr, u"c")->Value().Text(), u"0123456789abcdef");
    EXPECT_EQ(e.GetItemByTag(nullptr, u"d")->Value().Text(), u"0123456789abcdefghijklmnopqrstuv");
    EXPECT_EQ(e.RootItem()->Items()->Count(), 4);
  };
  TKtXMLEngine bytes(nullptr);
  LoadBytes(bytes, doc);
  check(bytes);
  TKtXMLEngine units(nullptr);
  Parse(units, doc);
  check(units);
  EXPECT_EQ(Dump(bytes), Dump(units));
}

TEST(XmlEngine, DeclaredEncodings) {
  auto load = [](const std::string& bytes) {
    TKtXMLEngine e(nullptr);
    LoadBytes(e, bytes);
    return UTF8Encode(e.GetItemByTag(nullptr, u"a")->GetTagValue()) + "|" +
           UTF8Encode(e.GetItemByTag(nullptr, u"a")->Attributes());
  };
  const std::string utf8Decl = R"(<?xml version="1.0" encoding="UTF-8"?>)";
  // Continuation bytes 80..9F read as ANSI characters still stand for their bytes.
  EXPECT_EQ(load(utf8Decl + "<a k=\"\xC3\xA9\">\xE2\x82\xAC caf\xC3\xA9 \xE2\x80\x94</a>"), "€ café —| k=\"é\"");
  // With a byte-order mark the text is decoded once, not twice.
  EXPECT_EQ(load("\xEF\xBB\xBF" + utf8Decl + "<a>caf\xC3\xA9</a>"), "café|");
  // A malformed byte becomes U+FFFD and the rest of the text is kept: one bad byte in one
  // attribute leaves the others (and the value) as they were.
  EXPECT_EQ(load(utf8Decl + "<a>\xC3</a>"), "\uFFFD|");
  EXPECT_EQ(load(utf8Decl + "<a x=\"1\" y=\"\xE9t\xC3\xA9\" z=\"\xE2\x82\">v\xE9 \xC3\xA9</a>"),
            "v\uFFFD \u00E9| x=\"1\" y=\"\uFFFDt\u00E9\" z=\"\uFFFD\"");
  EXPECT_EQ(load(utf8Decl + "<a>\xF0\x9F\x98\x80\xF0\x9F\x98</a>"), "\U0001F600\uFFFD|");
  // The declaration may quote with apostrophes, with or without a blank before "?>".
  EXPECT_EQ(load("<?xml version='1.0' encoding='UTF-8'?><a k=\"\xC3\xA9\">caf\xC3\xA9</a>"), "caf\u00E9| k=\"\u00E9\"");
  EXPECT_EQ(load("<?xml version='1.0' encoding='utf-8' ?><a>caf\xC3\xA9</a>"), "caf\u00E9|");
  EXPECT_EQ(load("<?xml version='1.0' encoding='windows-1251'?><a>\xCF</a>"), "\u041F|");
  // The attribute item keeps what the declaration said, apostrophes and all.
  {
    TKtXMLEngine e(nullptr);
    LoadBytes(e, "<?xml version='1.0' encoding='UTF-8'?><a/>");
    EXPECT_EQ(e.GetItemByTag(nullptr, u"encoding")->GetTagValue(), u"'UTF-8'");
  }
  EXPECT_EQ(load(R"(<?xml version="1.0" encoding="windows-1251"?><a k=")" "\xE9\">\xCF\xF0\xE8</a>"), "При| k=\"й\"");
  EXPECT_EQ(load(R"(<?xml version="1.0" encoding="Windows-1250"?><a>)" "\xB9\x8A</a>"), "ąŠ|");
  EXPECT_EQ(load(R"(<?xml version="1.0" encoding="windows-1253"?><a>)" "\xE1</a>"), "α|");
  EXPECT_EQ(load(R"(<?xml version="1.0" encoding="windows-9999"?><a>)" "\xE9</a>"), "é|");
  EXPECT_EQ(load(R"(<?xml version="1.0" encoding="windows-x"?><a>)" "\xE9</a>"), "é|");
  // The declaration itself is read before its encoding takes effect.
  {
    TKtXMLEngine e(nullptr);
    LoadBytes(e, "<?xml encoding=\"windows-1251\" v=\"\xE9\"?><a>\xE9</a>");
    EXPECT_EQ(e.GetItemByTag(nullptr, u"v")->GetTagValue(), u"\u00E9");
    EXPECT_EQ(e.GetItemByTag(nullptr, u"a")->GetTagValue(), u"\u0439");
  }
  // A declaration that reuses the root finds the first encoding in the whole tree, however
  // many declarations came before it.
  {
    std::string doc = R"(<?xml encoding="windows-1251"?></>)";
    for (int k = 0; k < 20000; ++k) doc += R"(<?xml a="1"?></>)";
    doc += R"(<?xml encoding="windows-1250"?></><r>)" "\xB9</r>";
    TKtXMLEngine e(nullptr);
    LoadBytes(e, doc);
    EXPECT_EQ(e.RootItem()->TagName(), u"r");
    EXPECT_EQ(e.RootItem()->GetTagValue(), u"\u2116");  // windows-1251, not 1250
    EXPECT_EQ(e.RootItem()->Items()->Count(), 20002);
  }
  // In UTF-16 text a declared single-byte page passes through the ANSI code page first.
  {
    TKtXMLEngine e(nullptr);
    e.ParseXMLFromString(u"<?xml encoding=\"windows-1252\"?><a>\u00E9\u0416</a>", 100);
    EXPECT_EQ(e.GetItemByTag(nullptr, u"a")->GetTagValue(), u"\u00E9?");
  }
  // ParseXMLFromString takes characters as bytes for the utf-8 rule (the trackers' answers).
  {
    TKtXMLEngine e(nullptr);
    String s = BytesToString(utf8Decl + "<a>\xE2\x82\xAC</a>");
    e.ParseXMLFromString(s, static_cast<Integer>(s.size()));
    EXPECT_EQ(e.GetItemByTag(nullptr, u"a")->GetTagValue(), u"\u20AC");
  }
}

// The parse builds the same tree whether or not an OnTag handler sees each element first (the
// texts then go through the handler's strings instead of straight into the items).
TEST(XmlEngine, HandlerOrNotTheTreeIsTheSame) {
  const std::vector<std::string> docs = {
      R"(<?xml version="1.0" encoding="utf-8"?><r a="1"><!-- c --><x k="v">caf)" "\xC3\xA9" R"(</x><x/>t<y>1</y>2</r>)",
      "<?xml encoding=\"windows-1251\"?><r><a b=\"\xE9\">\xCF</a><encoding>x</encoding></r>",
      "\xEF\xBB\xBF<r><a>\xC3\xA9 \xE9</a><?xml version=\"2\"?></r>",
      "<r><a>1</a></r><b>2<c/></b><>3",
      "<r>\x80\xFF<a x=\"\x99\"/></r>",
  };
  for (const std::string& doc : docs) {
    SCOPED_TRACE(doc);
    TKtXMLEngine plain(nullptr), watched(nullptr);
    int seen = 0;
    watched.SetOnTag([&seen](TObject*, TKtXMLItem*, const String&, const String&, const String&, bool&) { ++seen; });
    LoadBytes(plain, doc);
    LoadBytes(watched, doc);
    EXPECT_GT(seen, 0);
    EXPECT_EQ(test::Dump(plain), test::Dump(watched));
  }
}

// Items of one name share their name's storage; each still renames on its own, and a handler
// that frees every item in the middle of a parse leaves the names of later items intact.
TEST(XmlEngine, SharedNamesStayIndependent) {
  {
    TKtXMLEngine e(nullptr);
    LoadBytes(e, "<r><a>1</a><a>2</a><a>3</a></r>");
    TKtXMLItems* items = e.RootItem()->Items();
    ASSERT_EQ(items->Count(), 3);
    items->Items(0)->SetTagName(u"b");
    delete items->Items(1);
    EXPECT_EQ(test::Dump(e), "P r=<unassigned>\n  P b=1\n  P a=3\n");
  }
  {
    TKtXMLEngine e(nullptr);
    int tags = 0;
    e.SetOnTag([&](TObject*, TKtXMLItem*, const String&, const String&, const String&, bool&) {
      // Once: the handler goes away, so the rest of the parse takes the path without one.
      if (++tags == 2) {
        e.RootItem()->Items()->Clear();
        e.SetOnTag(nullptr);
      }
    });
    LoadBytes(e, "<r><a>1</a><a>2</a><b>3</b><a>4</a></r>");
    EXPECT_EQ(test::Dump(e), "P r=<unassigned>\n  P a=2\n  P b=3\n  P a=4\n");
  }
}

// The entity table applied the straightforward way: first occurrence, replace, search again from
// the start. Quadratic; fine for the short texts it checks.
String ReferenceEntities(String s) {
  static const std::vector<std::pair<String, String>> rows = {
      {u"&brvbar", u"|"}, {u"&deg", u"\u00B0"}, {u"&#176", u"\u00B0"}, {u"&plusmn", u"+"}, {u"&para", u"\u00B6"},
      {u"&amp", u"&"},    {u"&lt", u"<"},       {u"&gt", u">"},        {u"&copy", u"c"},   {u"&quot", u"\""},
      {u"&apos", u"'"},   {u"&trade", u"T"},    {u"&nbsp", u""},       {u"&car", u"\n"},   {u"&ret", u"\r"},
      {u"&#009", u"\t"},  {u"&#x9", u"\t"},     {u"&#010", u"\n"},     {u"&#xa", u"\n"},   {u"&#013", u"\r"},
      {u"&#xd", u"\r"},   {u"&#034", u"\""},    {u"&#34", u"\""},      {u"&#039", u"'"},   {u"&#39", u"'"}};
  if (s.empty()) return s;
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

String TagValueOf(const String& value) {
  TKtXMLItem item(nullptr);
  item.SetValue(value);
  return item.GetTagValue();
}

TEST(XmlEngine, TagValueMatchesTheRestartingReplacementOnRandomTexts) {
  EXPECT_EQ(TagValueOf(u"&amp;lt;"), u"<");
  EXPECT_EQ(TagValueOf(u"x&nbsp;y"), u"xy");
  EXPECT_EQ(TagValueOf(u"&AMP;"), u"&AMP;");
  EXPECT_EQ(TagValueOf(u"&ampersand"), u"&ersand");
  EXPECT_EQ(TagValueOf(u"&amp;amp;amp;gt"), u">");
  EXPECT_EQ(TagValueOf(u"&#39;&#034;&#xd&car"), u"'\"\r\n");
  EXPECT_EQ(TagValueOf(u"\"&lt;b&gt;\" "), u"<b>");
  const std::vector<String> pieces = {u"&",  u"amp", u"lt", u"gt",  u";",  u"#",    u"39", u"034", u"x9", u"xa",
                                      u"a",  u"&&", u"nbsp", u"deg", u"quot", u"para", u"&amp", u"#x", u"1", u" "};
  std::mt19937 rng(6);
  for (int round = 0; round < 20000; ++round) {
    String s;
    int n = static_cast<int>(rng() % 24);
    for (int k = 0; k < n; ++k) s += pieces[rng() % pieces.size()];
    ASSERT_EQ(TagValueOf(s), ReferenceEntities(s)) << UTF8Encode(s);
  }
  // A long value of many entities (the reference would need minutes here).
  String big;
  for (int k = 0; k < 100000; ++k) big += k % 2 ? u"&amp;lt;" : u"a&#39;";
  String expected;
  for (int k = 0; k < 100000; ++k) expected += k % 2 ? u"<" : u"a'";
  EXPECT_EQ(TagValueOf(big), expected);
}

TEST(XmlEngine, ValueHelpersAndDates) {
  auto xmlValue = [](const String& v) {
    TKtXMLItem item(nullptr);
    item.SetValue(v);
    return item.GetTagXMLValue();
  };
  EXPECT_EQ(xmlValue(u"\"abc\""), u"abc");
  EXPECT_EQ(xmlValue(u"'abc'"), u"'abc'");
  EXPECT_EQ(xmlValue(u"\"1.0\" \r\n\t"), u"1.0");
  EXPECT_EQ(xmlValue(u"\""), u"");
  EXPECT_EQ(xmlValue(u" \"x\""), u" \"x\"");
  TKtXMLItem item(nullptr);
  EXPECT_TRUE(item.Value().IsEmpty());
  EXPECT_EQ(item.GetTagValue(), u"");
  item.SetValue(String());
  EXPECT_FALSE(item.Value().IsEmpty());
  item.SetValue(TKtXMLVariant());
  EXPECT_TRUE(item.Value().IsEmpty());

  TDateTime expected = EncodeDate(2010, 5, 20) + EncodeTime(13, 45, 10, 0);
  EXPECT_DOUBLE_EQ(XMLStringToDateTime(u"2010-05-20T13:45:10"), expected);
  EXPECT_DOUBLE_EQ(XMLStringToDateTime(u"2010-05-20T13:45:10.123-05:00"), expected);
  EXPECT_DOUBLE_EQ(XMLStringToDateTime(u"2010/05/20 13:45:10"), expected);
  EXPECT_EQ(XMLStringToDateTime(u"2010-05-20"), 0);
  EXPECT_EQ(XMLStringToDateTime(u""), 0);
  EXPECT_EQ(XMLStringToDateTime(u"2010-02-30T00:00:00"), 0);
  EXPECT_EQ(XMLStringToDateTime(u"2010-05-20T24:00:00"), 0);
  EXPECT_EQ(XMLStringToDateTime(u"20x0-05-20T13:45:10"), 0);

  EXPECT_TRUE(SameStrings(false, u"Shipment", u"SHIPMENT"));
  EXPECT_FALSE(SameStrings(true, u"Shipment", u"SHIPMENT"));
  EXPECT_TRUE(SameStrings(true, u"a", u"a"));
  EXPECT_FALSE(SameStrings(false, u"\u00E9", u"\u00C9"));  // A-Z only
}

TEST(XmlEngine, SearchesAndPaths) {
  TKtXMLEngine e(nullptr);
  Parse(e, "<r><x><k>1</k></x><k>2</k><A><b>3</b></A><p><q><z>deep</z></q></p></r>");
  EXPECT_EQ(e.GetItemByTag(nullptr, u"K")->GetTagValue(), u"1");  // depth first, document order
  EXPECT_EQ(e.GetItemByTag(nullptr, u"R"), e.RootItem());
  TKtXMLItem* a = e.GetItemByTag(nullptr, u"a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(e.GetItemByTag(a, u"k"), nullptr);  // below ARoot only
  const TKtXMLItem* r = e.RootItem();
  EXPECT_EQ(r->GetChild(u"a", true), nullptr);  // case-sensitive
  EXPECT_EQ(r->GetChild(u"A", false), a);
  EXPECT_EQ(r->GetChild(u"b", false)->GetTagValue(), u"3");  // grandchild
  EXPECT_EQ(r->GetChild(u"z", false), nullptr);              // great-grandchild
  EXPECT_EQ(r->GetChild(u"z", true)->GetTagValue(), u"deep");
  EXPECT_EQ(a->GetChild(u"A", false), a);
  // Attribute items take part in searches.
  TKtXMLEngine f(nullptr);
  Parse(f, R"(<e a="1" b = "2" c='3' d="x y" e=z/>)");
  f.RootItem()->ProcessAttributes();
  EXPECT_EQ(Dump(f), "P e=<unassigned>\n  A a=\"1\" \n  A c='3' \n  A d=\"x y\" \n  A e=z\n");
  EXPECT_EQ(f.GetItemByTag(nullptr, u"D")->GetTagValue(), u"x y");
  EXPECT_EQ(f.GetItemByTag(nullptr, u"c")->GetTagValue(), u"'3' ");

  String path = u"a/b/c";
  EXPECT_EQ(e.GetFirstTagName(path), u"a");
  EXPECT_EQ(path, u"b/c");
  path = u"a/b/c";
  EXPECT_EQ(e.GetLastTagName(path), u"c");
  EXPECT_EQ(path, u"a/b");
  path = u"abc";
  EXPECT_EQ(e.GetFirstTagName(path), u"abc");
  EXPECT_EQ(path, u"");
  path = u"abc";
  EXPECT_EQ(e.GetLastTagName(path), u"abc");
  EXPECT_EQ(path, u"");
}

TEST(XmlEngine, OwnershipOfItems) {
  TKtXMLEngine e(nullptr);
  Parse(e, "<r><a><x/></a><b/><c/></r>");
  TKtXMLItems* items = e.RootItem()->Items();
  ASSERT_EQ(items->Count(), 3);
  delete items->Items(1);  // leaves its parent's list
  ASSERT_EQ(items->Count(), 2);
  EXPECT_EQ(items->Items(1)->TagName(), u"c");
  items->Items(0)->Items()->Clear();
  EXPECT_EQ(items->Items(0)->Items()->Count(), 0);
  // Items of a standalone tree live on the heap; levels follow AddItem.
  {
    TKtXMLItem top(nullptr);
    TKtXMLItem* child = top.Items()->AddItem(&top);
    TKtXMLItem* grandchild = child->Items()->AddItem(child);
    grandchild->SetTagName(u"g");
    grandchild->SetValue(u"v");
    EXPECT_EQ(child->Level(), 1);
    EXPECT_EQ(grandchild->Level(), 2);
    EXPECT_EQ(grandchild->ParentItem(), child);
    EXPECT_EQ(top.GetChild(u"g", false), grandchild);
    // Created directly with an item as owner: the parent is set, the list is not touched,
    // and the owner frees it.
    auto* loose = new TKtXMLItem(child);
    EXPECT_EQ(loose->ParentItem(), child);
    EXPECT_EQ(loose->Level(), 0);
    EXPECT_EQ(child->Items()->Count(), 1);
  }
  // An engine owned by a component goes with it; user texts on arena items are kept.
  TComponent owner(nullptr);
  auto* owned = new TKtXMLEngine(&owner);
  Parse(*owned, "<r><a/></r>");
  owned->RootItem()->Items()->Items(0)->SetTagName(u"renamed");
  EXPECT_EQ(owned->GetItemByTag(nullptr, u"RENAMED")->TagName(), u"renamed");
  // Reloading frees the old children and the root keeps parsing into fresh memory.
  for (int k = 0; k < 3; ++k) LoadBytes(*owned, "<r><a>" + std::to_string(k) + "</a></r>");
  EXPECT_EQ(Dump(*owned), "P r=<unassigned>\n  P a=2\n");
}

TEST(XmlEngine, LoadFromFile) {
  test::TempDir dir;
  std::string path = dir.Write("answer.xml", "\xEF\xBB\xBF<r><a>caf\xC3\xA9</a></r>");
  TKtXMLEngine e(nullptr);
  e.LoadFromFile(UTF8ToString(path));
  EXPECT_TRUE(e.UTF8Processed);
  EXPECT_EQ(e.GetItemByTag(nullptr, u"a")->GetTagValue(), u"caf\u00E9");
  EXPECT_THROW(e.LoadFromFile(UTF8ToString(dir / "missing.xml")), EFOpenError);
  EXPECT_EQ(Dump(e), "P r=<unassigned>\n  P a=caf\u00E9\n");
}

}  // namespace
}  // namespace ktinet
