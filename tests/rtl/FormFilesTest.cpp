// Published properties and form files with classes of the test's own: every kind of property,
// stored defaults, nested objects, string lists, collections, references, and bad files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtl/Exceptions.h"
#include "rtl/FormFiles.h"
#include "rtl/TypInfo.h"

namespace ktinet {

enum TShape { shCircle, shSquare, shTriangle };
KTINET_ENUM_TYPE(TShape, u"shCircle", u"shSquare", u"shTriangle")

namespace {

std::vector<std::string>& Journal() {
  static std::vector<std::string> j;
  return j;
}

class TSizes : public TPersistent {
  KTINET_PUBLISHED(TSizes)
 public:
  int Width() const { return FWidth; }
  void SetWidth(int v) { FWidth = v; }
  const String& Label() const { return FLabel; }
  void SetLabel(const String& v) { FLabel = v; }

 private:
  int FWidth = 0;
  String FLabel;
};

class TEntry : public TCollectionItem {
  KTINET_PUBLISHED(TEntry)
 public:
  using TCollectionItem::TCollectionItem;
  const String& Caption() const { return FCaption; }
  void SetCaption(const String& v) { FCaption = v; }
  Word Weight() const { return FWeight; }
  void SetWeight(Word v) { FWeight = v; }

 private:
  String FCaption;
  Word FWeight = 1;
};

class TGadget : public TComponent {
  KTINET_PUBLISHED(TGadget)
 public:
  explicit TGadget(TComponent* owner) : TComponent(owner), FLines(std::make_unique<TStringList>()) {}
  const String& Text() const { return FText; }
  void SetText(const String& v) {
    FText = v;
    Journal().push_back("Text");
  }
  int Count() const { return FCount; }
  void SetCount(int v) {
    FCount = v;
    Journal().push_back("Count");
  }
  bool Flag() const { return FFlag; }
  void SetFlag(bool v) { FFlag = v; }
  TShape Shape() const { return FShape; }
  void SetShape(TShape v) { FShape = v; }
  double When() const { return FWhen; }
  void SetWhen(double v) { FWhen = v; }
  TSizes* Sizes() const { return const_cast<TSizes*>(&FSizes); }
  TStringList* Lines() const { return FLines.get(); }
  TCollectionOf<TEntry>* Entries() const { return const_cast<TCollectionOf<TEntry>*>(&FEntries); }
  TGadget* Buddy() const { return FBuddy; }
  void SetBuddy(TGadget* v) { FBuddy = v; }
  String Computed() const { return u"computed"; }
  unsigned Bits() const { return FBits; }
  void SetBits(unsigned v) { FBits = v; }
  bool LoadingSeen() const { return FLoadingSeen; }
  int LoadedCalls() const { return FLoadedCalls; }
  void Loaded() override { ++FLoadedCalls; }

  // A writer that notes whether the reader marked the component as loading.
  bool Probe() const { return false; }
  void SetProbe(bool) { FLoadingSeen = (ComponentState() & csLoading) != 0; }

 private:
  String FText;
  int FCount = 7;
  bool FFlag = true;
  TShape FShape = shSquare;
  double FWhen = 0;
  TSizes FSizes;
  std::unique_ptr<TStringList> FLines;
  TCollectionOf<TEntry> FEntries;
  TGadget* FBuddy = nullptr;
  unsigned FBits = 0;
  bool FLoadingSeen = false;
  int FLoadedCalls = 0;
};

class TGadgetBox : public TComponent {
  KTINET_PUBLISHED(TGadgetBox)
 public:
  using TComponent::TComponent;
};

}  // namespace

const TClassInfo* TSizes::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TSizes>(u"TSizes", nullptr)
                                      .Property(u"Width", &TSizes::Width, &TSizes::SetWidth)
                                      .Default(0)
                                      .Property(u"Label", &TSizes::Label, &TSizes::SetLabel)
                                      .Build();
  return info;
}

const TClassInfo* TEntry::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TEntry>(u"TEntry", nullptr)
                                      .Property(u"Caption", &TEntry::Caption, &TEntry::SetCaption)
                                      .Property(u"Weight", &TEntry::Weight, &TEntry::SetWeight)
                                      .Default(1)
                                      .Build();
  return info;
}

const TClassInfo* TGadgetBox::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TGadgetBox>(u"TGadgetBox", nullptr).Component().Build();
  return info;
}

const TClassInfo* TGadget::StaticClassInfo() {
  static const TClassInfo* info =
      TClassBuilder<TGadget>(u"TGadget", nullptr)
          .Component()
          .Property(u"Text", &TGadget::Text, &TGadget::SetText)
          .Property(u"Count", &TGadget::Count, &TGadget::SetCount)  // no stored default: always written
          .Property(u"Flag", &TGadget::Flag, &TGadget::SetFlag)
          .Default(true)
          .Property(u"Shape", &TGadget::Shape, &TGadget::SetShape)
          .Default(shSquare)
          .Property(u"When", &TGadget::When, &TGadget::SetWhen)
          .Property(u"Sizes", &TGadget::Sizes)
          .Property(u"Lines", &TGadget::Lines)
          .Property(u"Entries", &TGadget::Entries)
          .Property(u"Buddy", &TGadget::Buddy, &TGadget::SetBuddy)
          .Property(u"Computed", &TGadget::Computed)
          .Ordinal(u"Bits", TypeInfoSet(u"TGadgetBits", {u"gbRed", u"gbGreen", u"gbBlue"}),
                   [](const TGadget* g) { return static_cast<std::int64_t>(g->Bits()); },
                   [](TGadget* g, std::int64_t v) { g->SetBits(static_cast<unsigned>(v)); })
          .Default(0)
          .Property(u"Probe", &TGadget::Probe, &TGadget::SetProbe)
          .NotStored()
          .Event(u"OnChange", u"TNotifyEvent")
          .Build();
  return info;
}

namespace {

class FormFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass(TGadget::StaticClassInfo());
    RegisterClass(TGadgetBox::StaticClassInfo());
    Journal().clear();
  }

  static std::string Write(const TComponent& root) { return UTF8Encode(WriteComponentText(&root)); }
  static std::unique_ptr<TComponent> Read(const std::string& text) { return ReadComponentText(UTF8ToString(text)); }
  static std::string ReadError(const std::string& text) {
    try {
      Read(text);
    } catch (const EReadError& e) {
      return UTF8Encode(e.Message());
    }
    return "(no error)";
  }
};

TEST_F(FormFiles, NewComponentWritesOnlyValuesWithoutAStoredDefault) {
  TGadgetBox box(nullptr);
  box.SetName(u"Box1");
  auto* g = new TGadget(&box);
  g->SetName(u"Gadget1");
  EXPECT_EQ(Write(box),
            "object Box1: TGadgetBox\r\n"
            "  object Gadget1: TGadget\r\n"
            "    Count = 7\r\n"
            "  end\r\n"
            "end\r\n");
}

TEST_F(FormFiles, EveryKindOfValueSurvivesTheRoundTrip) {
  TGadgetBox box(nullptr);
  box.SetName(u"Box1");
  auto* a = new TGadget(&box);
  a->SetName(u"A");
  auto* b = new TGadget(&box);
  b->SetName(u"B");
  a->SetText(u"it's \"quoted\"\r\nline two \u00e9\u20ac");
  a->SetCount(-2147483647 - 1);
  a->SetFlag(false);
  a->SetShape(shTriangle);
  a->SetWhen(46363.428572002315);
  a->Sizes()->SetWidth(640);
  a->Sizes()->SetLabel(u"wide");
  a->Lines()->Add(u"first");
  a->Lines()->Add(u"");
  a->Lines()->Add(u"'third'");
  a->Entries()->Add()->SetCaption(u"one");
  TEntry* two = a->Entries()->Add();
  two->SetCaption(u"two");
  two->SetWeight(65535);
  a->Entries()->Add();  // an item at its defaults
  a->SetBits(5);
  a->SetBuddy(b);  // a reference to a component written after it
  const std::string text = Write(box);

  EXPECT_NE(text.find("    Text = 'it''s \"quoted\"'#13#10'line two '#233#8364\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    Sizes.Width = 640\r\n    Sizes.Label = 'wide'\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    Lines.Strings = (\r\n      'first'\r\n      ''\r\n      '''third''')\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    Entries = <\r\n      item\r\n        Caption = 'one'\r\n      end\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("      item\r\n      end>\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    Buddy = B\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    Bits = [gbRed,gbBlue]\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Computed"), std::string::npos) << "read-only values are never stored";
  EXPECT_EQ(text.find("OnChange"), std::string::npos) << "events are never stored";
  EXPECT_EQ(text.find("Probe"), std::string::npos);

  auto loaded = Read(text);
  auto* la = dynamic_cast<TGadget*>(loaded->FindComponent(u"A"));
  auto* lb = dynamic_cast<TGadget*>(loaded->FindComponent(u"B"));
  ASSERT_TRUE(la && lb);
  EXPECT_EQ(la->Text(), a->Text());
  EXPECT_EQ(la->Count(), a->Count());
  EXPECT_FALSE(la->Flag());
  EXPECT_EQ(la->Shape(), shTriangle);
  EXPECT_EQ(la->When(), a->When()) << "a date-time comes back to the last bit";
  EXPECT_EQ(la->Sizes()->Width(), 640);
  EXPECT_EQ(la->Sizes()->Label(), u"wide");
  EXPECT_TRUE(la->Lines()->Equals(a->Lines()));
  ASSERT_EQ(la->Entries()->Count(), 3);
  EXPECT_EQ(la->Entries()->Items(1)->Caption(), u"two");
  EXPECT_EQ(la->Entries()->Items(1)->Weight(), 65535);
  EXPECT_EQ(la->Entries()->Items(2)->Weight(), 1);
  EXPECT_EQ(la->Bits(), 5u);
  EXPECT_EQ(la->Buddy(), lb) << "the forward reference is linked once the file is read";
  EXPECT_EQ(Write(*loaded), text) << "writing what was read gives the same file";
}

TEST_F(FormFiles, ReaderAppliesPropertiesInFileOrderWhileLoadingThenCallsLoaded) {
  auto root = Read(
      "object Box1: TGadgetBox\n"
      "  object G: TGadget\n"
      "    Count = 3\n"
      "    Text = 'x'\n"
      "    Probe = True\n"
      "  end\n"
      "end\n");
  auto* g = dynamic_cast<TGadget*>(root->FindComponent(u"G"));
  ASSERT_TRUE(g);
  EXPECT_EQ(Journal(), (std::vector<std::string>{"Count", "Text"}));
  EXPECT_TRUE(g->LoadingSeen()) << "writers run with csLoading set";
  EXPECT_EQ(g->ComponentState() & csLoading, 0u) << "and it is cleared afterwards";
  EXPECT_EQ(g->LoadedCalls(), 1);
}

TEST_F(FormFiles, ReaderAcceptsTheNotationsOtherWritersUse) {
  auto root = Read(
      "object Box1: TGadgetBox\n"
      "  object G: TGadget\n"
      "    text = 'long text, '+\n"
      "      'continued'#33\n"
      "    Count = $7F\n"
      "    shape = SHCIRCLE\n"
      "    When = 2\n"
      "    Bits = []\n"
      "    Entries = <\n"
      "      item\n"
      "      end>\n"
      "    Buddy = nil\n"
      "  end\n"
      "end");
  auto* g = dynamic_cast<TGadget*>(root->FindComponent(u"G"));
  ASSERT_TRUE(g);
  EXPECT_EQ(g->Text(), u"long text, continued!");
  EXPECT_EQ(g->Count(), 127);
  EXPECT_EQ(g->Shape(), shCircle);
  EXPECT_EQ(g->When(), 2.0);
  EXPECT_EQ(g->Entries()->Count(), 1);
}

TEST_F(FormFiles, LoadingIntoAComponentReplacesItsListsAndCollections) {
  TGadget g(nullptr);
  g.SetName(u"G");
  g.Lines()->Add(u"stale");
  g.Entries()->Add()->SetCaption(u"stale");
  ReadComponentTextInto(UTF8ToString("object G: TGadget\n  Lines.Strings = (\n    'new')\n  Entries = <\n"
                                     "    item\n      Caption = 'new'\n    end>\nend\n"),
                        &g);
  ASSERT_EQ(g.Lines()->Count(), 1);
  EXPECT_EQ(g.Lines()->Get(0), u"new");
  ASSERT_EQ(g.Entries()->Count(), 1);
  EXPECT_EQ(g.Entries()->Items(0)->Caption(), u"new");
  EXPECT_EQ(g.LoadedCalls(), 1);

  // A file of another class is refused and leaves the component usable (not loading).
  EXPECT_THROW(ReadComponentTextInto(u"object G: TGadgetBox\nend\n", &g), EReadError);
  EXPECT_THROW(ReadComponentTextInto(u"object G: TGadget\n  Count = x\nend\n", &g), EReadError);
  EXPECT_EQ(g.ComponentState() & csLoading, 0u);
}

TEST_F(FormFiles, BadFilesRaiseErrorsNamingTheLine) {
  const std::string head = "object Box1: TGadgetBox\n  object G: TGadget\n";
  const std::string tail = "  end\nend\n";
  struct Case {
    std::string body;
    std::string expect;
  } cases[] = {
      {"    Nope = 1\n", "Line 3: error reading G.Nope: property Nope does not exist"},
      {"    Count = 'seven'\n", "Line 3: error reading G.Count: invalid value for a property of type Integer"},
      {"    Count = 2147483648\n", "Line 3: error reading G.Count: invalid value"},
      {"    Count = 99999999999999999999999\n", "Line 3: error reading G.Count: invalid value"},
      {"    Flag = Maybe\n", "Line 3: error reading G.Flag: Maybe is not a value of Boolean"},
      {"    Shape = 1\n", "Line 3: error reading G.Shape: invalid value for a property of type TShape"},
      {"    Bits = [gbPink]\n", "Line 3: error reading G.Bits: gbPink is not an element of TGadgetBits"},
      {"    Computed = 'x'\n", "Line 3: error reading G.Computed: property Computed is read-only"},
      {"    OnChange = GChange\n", "Line 3: error reading G.OnChange: events cannot be set from a form file"},
      {"    Text = 'open\n", "Line 3: unterminated string"},
      {"    Text = #99999999\n", "Line 3: invalid character code"},
      {"    Sizes = 3\n", "Line 3: error reading G.Sizes: give the properties of Sizes one by one"},
      {"    Sizes.Depth = 3\n", "Line 3: error reading G.Sizes.Depth: property Depth does not exist"},
      {"    Count.X = 3\n", "Line 3: error reading G.Count.X: Count has no properties of its own"},
      {"    Lines = 3\n", "Line 3: error reading G.Lines: a string list is written as Lines.Strings"},
      {"    Lines.Strings = (\n      'a'\n      3)\n", "Line 5: error reading G.Lines.Strings: string expected"},
      {"    Entries = <\n      thing\n", "Line 4: 'item' expected"},
      {"    Buddy = Nobody\n", "Line 3: error reading Buddy: no component named Nobody"},
      {"    Count 3\n", "Line 3: '=' expected but '3' found"},
      {"    object G: TGadget\n    end\n", "Line 3: A component named G already exists"},
      {"    object X: TUnknownThing\n    end\n", "Line 3: class TUnknownThing not found"},
  };
  for (const Case& c : cases) {
    const std::string error = ReadError(head + c.body + tail);
    EXPECT_NE(error.find(c.expect), std::string::npos) << "file body: " << c.body << "\nerror: " << error;
  }
  EXPECT_NE(ReadError(head + "  end\n").find("Line 4: 'end' expected but end of file found"), std::string::npos);
  EXPECT_NE(ReadError(head + tail + "extra\n").find("Line 5: end of file expected but 'extra' found"), std::string::npos);
  EXPECT_NE(ReadError("").find("Line 1: 'object' expected"), std::string::npos);
  EXPECT_NE(ReadError("object S: TSizes\nend\n").find("class TSizes not found"), std::string::npos)
      << "an unregistered class is unknown to the reader";
}

// Nesting is the file's business, not the reader's stack: fifty thousand objects one inside
// the other load, each property lands on the object whose body holds it, and a deep file cut
// short names its last line.
TEST_F(FormFiles, DeeplyNestedObjectsLoadWithoutRecursion) {
  constexpr int kDepth = 50000;
  std::string text = "object Box1: TGadgetBox\n";
  for (int i = 0; i < kDepth; ++i) text += "object G" + std::to_string(i) + ": TGadget\nCount = " + std::to_string(i) + "\n";
  std::string closing;
  for (int i = kDepth - 1; i >= 0; --i) closing += "end\nText = 'after " + std::to_string(i) + "'\n";
  // The last "Text" line belongs to Box1's own body, which has no Text property: drop it.
  closing.resize(closing.rfind("Text = "));
  const std::string whole = text + closing + "end\n";
  auto root = Read(whole);
  ASSERT_EQ(root->ComponentCount(), kDepth);
  auto* first = dynamic_cast<TGadget*>(root->FindComponent(u"G0"));
  auto* middle = dynamic_cast<TGadget*>(root->FindComponent(u"G25000"));
  auto* last = dynamic_cast<TGadget*>(root->FindComponent(u"G49999"));
  ASSERT_TRUE(first && middle && last);
  EXPECT_EQ(middle->Count(), 25000);
  EXPECT_EQ(last->Count(), 49999);
  // "Text" after the end of G(i) lies in the body of G(i-1).
  EXPECT_EQ(middle->Text(), u"after 25001");
  EXPECT_EQ(last->Text(), u"");
  EXPECT_EQ(first->Text(), u"after 1");

  const int lines = 1 + 2 * kDepth;
  EXPECT_NE(ReadError(text).find("Line " + std::to_string(lines + 1) + ": 'end' expected but end of file found"),
            std::string::npos);
}

TEST_F(FormFiles, PublishedOrderPutsInheritedPropertiesFirstAndFindsNamesWithoutCase) {
  const TClassInfo* info = TGadget::StaticClassInfo();
  std::vector<String> names;
  for (const TPropInfo* p : info->Properties()) names.push_back(p->Name);
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0], u"Text");
  EXPECT_EQ(names.back(), u"OnChange");
  EXPECT_EQ(info->FindProperty(u"sizes"), info->FindProperty(u"Sizes"));
  EXPECT_EQ(info->FindProperty(u"Missing"), nullptr);
  EXPECT_EQ(info->FindProperty(u"Bits")->Type->Kind, tkSet);
  EXPECT_EQ(info->FindProperty(u"Entries")->Type->ClassKind, cpCollection);
  EXPECT_EQ(info->FindProperty(u"Lines")->Type->Name, u"TStrings");
  EXPECT_EQ(info->FindProperty(u"Buddy")->Type->ClassKind, cpComponent);
  EXPECT_TRUE(info->FindProperty(u"Computed")->IsReadOnly());
}

}  // namespace
}  // namespace ktinet
