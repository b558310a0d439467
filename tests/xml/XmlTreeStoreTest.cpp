// The tree's storage under pressure: names that nearly match the names read before them, texts
// of every short length, and children lists that grow, lose items and are reused. Every tree is
// checked against what the generator put in, and the byte reader against the character reader
// and the reader with a handler, which take none of the byte reader's shortcuts.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "rtl/Classes.h"
#include "xml/KtInetXML.h"
#include "xml/XmlTestUtil.h"

namespace ktinet {
namespace {

using test::Dump;
using test::LoadBytes;

// Names alike in length, prefix or suffix, around the lengths where comparisons change step
// (4, 8 and 16 bytes), and every character a name may hold.
const std::vector<std::string> kNames = {
    "a",        "ab",        "abc",        "abcd",       "abcde",      "abcdefg",          "abcdefgh",
    "abcdefgi", "abcdefghi", "bbcdefghi",  "abcdefghj",  "Code",       "Codes",            "C0de",
    "x:y",      "_-!?",      "Z9",         "zzzzzzzzzzzzzzzp",         "zzzzzzzzzzzzzzzq", "zzzzzzzzzzzzzzzzp",
    "qzzzzzzzzzzzzzzzp",     "AZaz09:_-!?AZaz09:_-!?AZaz09:_-!?AZ",      "AZaz09:_-!?AZaz09:_-!?AZaz09:_-!?Az",
};

// What may follow a name inside a start tag: nothing, attributes, or a character that ends the
// name without being a blank.
const std::vector<std::string> kAfterName = {"", "", " k=\"v\"", "@x", "[1]", "`", "{", ".", ";", "\t", "=", "\xA9"};

struct Generated {
  std::string doc;
  std::vector<std::string> names;   // document order
  std::vector<std::u16string> values;  // the value of each element, u"?" for an unassigned one
};

// Short texts of every length, ASCII with now and then a byte from 0xA0..0xFF (the same
// character in the code page and as a plain byte) at any place, including the first and last.
std::string RandomText(std::mt19937& rng, std::u16string& decoded) {
  const std::size_t n = rng() % 41;
  std::string t;
  decoded.clear();
  for (std::size_t k = 0; k < n; ++k) {
    unsigned char c = rng() % 9 == 0 ? static_cast<unsigned char>(0xA0 + rng() % 0x60)
                                     : static_cast<unsigned char>("abcXYZ019 &;.-_"[rng() % 15]);
    t += static_cast<char>(c);
    decoded += static_cast<char16_t>(c);
  }
  return t;
}

void Element(std::mt19937& rng, int depth, Generated& g) {
  const std::string& name = kNames[rng() % kNames.size()];
  g.names.push_back(name);
  g.values.push_back(u"?");
  const std::size_t mine = g.values.size() - 1;
  const std::string after = kAfterName[rng() % kAfterName.size()];
  const int children = depth >= 4 ? 0 : static_cast<int>(rng() % 6) - 1;
  if (children < 0) {
    g.doc += "<" + name + after + "/>";
    return;
  }
  g.doc += "<" + name + after + ">";
  if (children == 0) {
    std::u16string decoded;
    g.doc += RandomText(rng, decoded);
    if (!decoded.empty()) g.values[mine] = decoded;
  }
  for (int k = 0; k < children; ++k) Element(rng, depth + 1, g);
  g.doc += "</" + name + ">";
}

void PreOrder(const TKtXMLItem* item, std::vector<std::string>& names, std::vector<std::u16string>& values) {
  names.push_back(UTF8Encode(item->TagName()));
  TKtXMLVariant v = item->Value();
  values.push_back(v.IsEmpty() ? std::u16string(u"?") : std::u16string(v.Text()));
  for (int k = 0; k < item->Items()->Count(); ++k) PreOrder(item->Items()->Items(k), names, values);
}

TEST(XmlTreeStore, NamesAndShortTextsComeOutAsTheyWentIn) {
  std::mt19937 rng(16);
  for (int round = 0; round < 300; ++round) {
    Generated g;
    Element(rng, 0, g);
    SCOPED_TRACE(g.doc);
    TKtXMLEngine bytes(nullptr), units(nullptr), watched(nullptr);
    LoadBytes(bytes, g.doc);
    String text = BytesToString(g.doc);
    units.ParseXMLFromString(text, static_cast<Integer>(text.size()));
    watched.SetOnTag([](TObject*, TKtXMLItem*, const String&, const String&, const String&, bool&) {});
    LoadBytes(watched, g.doc);

    std::vector<std::string> names;
    std::vector<std::u16string> values;
    PreOrder(bytes.RootItem(), names, values);
    ASSERT_EQ(names, g.names);
    ASSERT_EQ(values, g.values);
    ASSERT_EQ(Dump(bytes), Dump(units));
    ASSERT_EQ(Dump(bytes), Dump(watched));
  }
}

// A name that followed the previous one before is tried first, straight against the text; it
// counts only where the text's name ends with it. Here every guess is a prefix of the name that
// stands, a longer name than the text holds, or a name cut short by the end of the text.
TEST(XmlTreeStore, AGuessedNameCountsOnlyWhereTheNameEnds) {
  const std::string doc =
      "<r><ab/><ab/><abc/><ab/><ab>t</ab><ab\xA9/><ab/><abcdefgh/><ab/><abcdefgh/><ab/><abcdefghi x=\"1\"/>"
      "<ab/><ab:c/><ab/><ab-/><ab/><a/><ab/><ab";
  const std::vector<std::string> expected = {"r",  "ab", "ab",       "abc", "ab",        "ab",   "ab",
                                             "ab", "abcdefgh", "ab", "abcdefgh", "ab", "abcdefghi", "ab",
                                             "ab:c", "ab",  "ab-",      "ab",  "a",         "ab",   "ab"};
  TKtXMLEngine bytes(nullptr), watched(nullptr);
  LoadBytes(bytes, doc);
  watched.SetOnTag([](TObject*, TKtXMLItem*, const String&, const String&, const String&, bool&) {});
  LoadBytes(watched, doc);
  std::vector<std::string> names;
  std::vector<std::u16string> values;
  PreOrder(bytes.RootItem(), names, values);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(Dump(bytes), Dump(watched));
}

// An end tag is checked against the name read last before the reader steps over it; end tags
// that only start like that name, hold a '<' or end the text read as they always did.
TEST(XmlTreeStore, EndTagsUnlikeTheLastNameReadAsBefore) {
  const std::vector<std::string> docs = {
      "<r><b>t</b<c>u</c></r>", "<r><b>t</bc><d/></r>", "<r><b>t</b ><d/></r>", "<r><b>t</b>x<d/></r>",
      "<r><b>t</b>", "<r><b>t</b", "<r><b>t</", "<r><bb>t</b>><d>u</d></r>", "<r><b>t</b/><d/></r>",
      "<r><b/><b>t</b></r>"};
  for (const std::string& doc : docs) {
    SCOPED_TRACE(doc);
    TKtXMLEngine bytes(nullptr), units(nullptr), watched(nullptr);
    LoadBytes(bytes, doc);
    String text = BytesToString(doc);
    units.ParseXMLFromString(text, static_cast<Integer>(text.size()));
    watched.SetOnTag([](TObject*, TKtXMLItem*, const String&, const String&, const String&, bool&) {});
    LoadBytes(watched, doc);
    EXPECT_EQ(Dump(bytes), Dump(watched));
    EXPECT_EQ(Dump(units), Dump(watched));
  }
}

// One element with `n` children named c<n>_<k>.
std::string Family(int n) {
  std::string s = "<p" + std::to_string(n) + ">";
  for (int k = 0; k < n; ++k) s += "<c" + std::to_string(n) + "_" + std::to_string(k) + "/>";
  return s + "</p" + std::to_string(n) + ">";
}

// The children of `item` by name, joined with blanks.
std::string ChildNames(const TKtXMLItem* item) {
  std::string out;
  for (int k = 0; k < item->Items()->Count(); ++k) out += (k ? " " : "") + UTF8Encode(item->Items()->Items(k)->TagName());
  return out;
}

std::string ExpectedNames(int n, int from, const std::string& added) {
  std::string out;
  for (int k = from; k < n; ++k) out += (out.empty() ? "" : " ") + ("c" + std::to_string(n) + "_" + std::to_string(k));
  if (!added.empty()) out += (out.empty() ? "" : " ") + added;
  return out;
}

// Lists of every size up to past the largest recycled one: freeing some leaves their storage
// for reuse, and no list that lives on may share storage with one that grows afterwards.
TEST(XmlTreeStore, ChildrenListsSurviveGrowthRemovalAndReuse) {
  const std::vector<int> sizes = {0, 1, 4, 5, 6, 10, 11, 12, 22, 23, 24, 46, 47, 48, 63, 64, 65, 95, 96, 200};
  std::string doc = "<r>";
  for (int n : sizes) doc += Family(n);
  doc += "</r>";
  TKtXMLEngine e(nullptr);
  LoadBytes(e, doc);
  TKtXMLItems* families = e.RootItem()->Items();
  ASSERT_EQ(families->Count(), static_cast<int>(sizes.size()));

  // Every second family goes, and from the others the first child.
  for (int k = static_cast<int>(sizes.size()) - 1; k >= 0; k -= 2) delete families->Items(k);
  ASSERT_EQ(families->Count(), static_cast<int>(sizes.size() / 2));
  for (int k = 0; k < families->Count(); ++k) {
    TKtXMLItems* kids = families->Items(k)->Items();
    if (kids->Count() > 0) delete kids->Items(0);
  }
  // The survivors grow (taking the storage the others left) and a new family is read in.
  for (int k = 0; k < families->Count(); ++k) {
    TKtXMLItem* family = families->Items(k);
    for (int j = 0; j < 30; ++j) family->Items()->AddItem(family)->SetTagName(u"n" + IntToStr(j));
  }
  std::string added;
  for (int j = 0; j < 30; ++j) added += (j ? " n" : "n") + std::to_string(j);
  for (int k = 0; k < families->Count(); ++k) {
    const int n = sizes[static_cast<std::size_t>(2 * k)];
    SCOPED_TRACE(n);
    EXPECT_EQ(UTF8Encode(families->Items(k)->TagName()), "p" + std::to_string(n));
    EXPECT_EQ(ChildNames(families->Items(k)), ExpectedNames(n, n > 0 ? 1 : 0, added));
  }
  // Reading again into the same engine gives what a fresh engine reads.
  LoadBytes(e, doc);
  TKtXMLEngine fresh(nullptr);
  LoadBytes(fresh, doc);
  EXPECT_EQ(Dump(e), Dump(fresh));
  for (int k = 0; k < static_cast<int>(sizes.size()); ++k)
    EXPECT_EQ(ChildNames(e.RootItem()->Items()->Items(k)), ExpectedNames(sizes[static_cast<std::size_t>(k)], 0, ""));
}

// An item's kind shares a word with where the item and its children array live: setting any
// kind on items of the arena, on the root and on items made on the heap must leave both intact
// through growth, removal and a fresh read, and each item must report the kind it was given.
TEST(XmlTreeStore, KindsStayApartFromWhereItemsLive) {
  const TKtXMLItemKind kinds[] = {ikCDATA, ikComment, ikAttribute, ikProperty, ikCDATA};
  TKtXMLEngine e(nullptr);
  LoadBytes(e, "<r><a x=\"1\">v</a><b/><c><d/></c></r>");
  TKtXMLItem* root = e.RootItem();
  std::vector<TKtXMLItem*> items = {root};
  for (int k = 0; k < root->Items()->Count(); ++k) items.push_back(root->Items()->Items(k));
  TKtXMLItem heapItem(nullptr);
  items.push_back(&heapItem);
  for (std::size_t k = 0; k < items.size(); ++k) {
    SCOPED_TRACE(k);
    for (TKtXMLItemKind kind : kinds) {
      items[k]->SetKind(kind);
      EXPECT_EQ(items[k]->Kind(), kind);
      // Enough children to move the array twice, and one taken out again.
      for (int j = 0; j < 12; ++j) items[k]->Items()->AddItem(items[k])->SetKind(kind);
      EXPECT_EQ(items[k]->Kind(), kind);
      for (int j = items[k]->Items()->Count() - 12; j < items[k]->Items()->Count(); ++j) {
        EXPECT_EQ(items[k]->Items()->Items(j)->Kind(), kind);
        EXPECT_EQ(items[k]->Items()->Items(j)->Level(), items[k]->Level() + 1);
      }
      delete items[k]->Items()->Items(items[k]->Items()->Count() - 1);
    }
  }
  EXPECT_EQ(root->Items()->Items(0)->Items()->Count(), 5 * 11);
  EXPECT_EQ(heapItem.Items()->Count(), 5 * 11);
  items[1]->ProcessAttributes();
  EXPECT_EQ(items[1]->Kind(), ikCDATA);
  EXPECT_EQ(items[1]->Items()->Items(items[1]->Items()->Count() - 1)->Kind(), ikAttribute);

  // The root keeps its heap array through another read, which makes it an element again.
  LoadBytes(e, "<r><a/><b/></r>");
  EXPECT_EQ(root->Kind(), ikProperty);
  ASSERT_EQ(root->Items()->Count(), 2);
  EXPECT_EQ(root->Items()->Items(0)->Kind(), ikProperty);
  heapItem.Items()->Clear();
  EXPECT_EQ(heapItem.Kind(), ikCDATA);
}

}  // namespace
}  // namespace ktinet

namespace ktinet {
namespace {

// Told when a component it watches goes.
class Watcher : public TComponent {
 public:
  Watcher() : TComponent(nullptr) {}
  std::vector<TComponent*> removed;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    if (op == opRemove) removed.push_back(c);
    TComponent::Notification(c, op);
  }
};

// A parsed tree goes with its arena at once, except the items that hold something outside it:
// each of those is still destroyed on its own, in the middle of items that are not, wherever it
// stands. The sanitizer build sees any item freed twice, read after its arena went, or lost.
TEST(XmlTreeStore, ATreeGoesAtOnceButItemsHoldingMoreAreDestroyed) {
  std::string doc = "<r><a><b>1</b><c><d>2</d></c></a><e>";
  for (int k = 0; k < 70; ++k) doc += "<f>" + std::to_string(k) + "</f>";  // a children array on the heap
  doc += "</e><g><h><i>3</i></h></g></r>";
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    Watcher watcher;
    auto engine = std::make_unique<TKtXMLEngine>(nullptr);
    LoadBytes(*engine, doc);
    TKtXMLItem* root = engine->RootItem();
    TKtXMLItem* a = root->Items()->Items(0);
    TKtXMLItem* c = a->Items()->Items(1);
    TKtXMLItem* g = root->Items()->Items(2);
    TKtXMLItem* watched = g->Items()->Items(0);  // h
    watched->FreeNotification(&watcher);           // links both ways
    c->SetValue(TKtXMLVariant(String(u"on the heap")));
    g->SetName(u"named");
    // Owned through the framework by an item in the arena, and not in any Items list.
    auto* owned = new TKtXMLItem(a->Items()->Items(0));
    owned->SetTagName(u"owned");
    // A child added later below an item that goes with the arena.
    c->Items()->Items(0)->Items()->AddItem(c->Items()->Items(0))->SetValue(TKtXMLVariant(String(u"late")));
    if (round == 0) {
      engine.reset();
    } else {
      LoadBytes(*engine, "<r><x>4</x></r>");  // the old tree goes by another read
      ASSERT_EQ(engine->RootItem()->Items()->Count(), 1);
      EXPECT_EQ(engine->RootItem()->Items()->Items(0)->Value().Text(), u"4");
      EXPECT_EQ(Dump(*engine).find("owned"), std::string::npos);
    }
    ASSERT_EQ(watcher.removed.size(), 1u);
    EXPECT_EQ(watcher.removed[0], watched);
  }
}

// Deleting one subtree keeps the rest of the tree and its arena usable.
TEST(XmlTreeStore, ASubtreeGoesAndTheRestStays) {
  TKtXMLEngine e(nullptr);
  LoadBytes(e, "<r><a><b><c>1</c></b><d>2</d></a><e>3</e></r>");
  TKtXMLItem* root = e.RootItem();
  delete root->Items()->Items(0);
  ASSERT_EQ(root->Items()->Count(), 1);
  TKtXMLItem* added = root->Items()->AddItem(root);
  added->SetTagName(u"f");
  EXPECT_EQ(root->Items()->Items(0)->Value().Text(), u"3");
  EXPECT_EQ(e.GetItemByTag(nullptr, u"f"), added);
  EXPECT_EQ(e.GetItemByTag(nullptr, u"c"), nullptr);
}

}  // namespace
}  // namespace ktinet
