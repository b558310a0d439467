#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "rtl/Classes.h"
#include "rtl/Streams.h"
#include "support/TempDir.h"

using namespace ktinet;

namespace {

template <class E, class F>
String MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  ADD_FAILURE() << "no exception";
  return String();
}

class TFoo : public TPersistent {};
class TBar : public TPersistent {};

// Records what happens to components, by name, in one shared log.
class TLogged : public TComponent {
 public:
  TLogged(TComponent* owner, const char* name, std::vector<std::string>& log, bool callInherited = true)
      : TComponent(owner), FLog(log), FCallInherited(callInherited) {
    SetName(Str(name));
  }
  ~TLogged() override { FLog.push_back("free " + UTF8Encode(Name())); }
  TComponent* Watched = nullptr;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    if (op == opRemove) {
      FLog.push_back(UTF8Encode(Name()) + " heard " + UTF8Encode(c->Name()) + " go");
      if (c == Watched) Watched = nullptr;
    }
    if (FCallInherited) TComponent::Notification(c, op);
  }

 private:
  std::vector<std::string>& FLog;
  bool FCallInherited;
};

int gLiveObjects = 0;
class TCounted : public TObject {
 public:
  TCounted() { ++gLiveObjects; }
  ~TCounted() override { --gLiveObjects; }
};

TEST(Persistent, ClassNamesAndAssignErrors) {
  TFoo foo;
  TBar bar;
  EXPECT_EQ(foo.ClassName(), u"TFoo");
  TCollectionOf<TCollectionItem> coll;
  EXPECT_EQ(coll.ClassName(), u"TCollectionOf<TCollectionItem>");

  EXPECT_EQ(MessageOf<EConvertError>([&] { foo.Assign(&bar); }), u"Cannot assign a TBar to a TFoo");
  EXPECT_EQ(MessageOf<EConvertError>([&] { foo.Assign(nullptr); }), u"Cannot assign a nil to a TFoo");
  TStringList list;
  EXPECT_EQ(MessageOf<EConvertError>([&] { list.Assign(&foo); }), u"Cannot assign a TFoo to a TStringList");
}

TEST(Component, OwnerDeletesLastCreatedFirstAndNotifiesWatchers) {
  std::vector<std::string> log;
  auto* watcher = new TLogged(nullptr, "Watcher", log);
  auto* owner = new TLogged(nullptr, "Owner", log);
  auto* a = new TLogged(owner, "A", log);
  auto* b = new TLogged(owner, "B", log);
  new TLogged(owner, "C", log);
  EXPECT_EQ(owner->ComponentCount(), 3);
  EXPECT_EQ(a->Owner(), owner);
  watcher->Watched = a;
  watcher->FreeNotification(a);

  // One deleted by hand leaves its owner and is not deleted twice.
  delete b;
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(owner->FindComponent(u"b"), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"free B", "Owner heard B go", "C heard B go", "A heard B go"}));

  log.clear();
  delete owner;
  EXPECT_EQ(log, (std::vector<std::string>{"free Owner", "free C", "free A", "Watcher heard A go"}));
  EXPECT_EQ(watcher->Watched, nullptr);
  delete watcher;  // must not touch A again (ASan would say so)
}

TEST(Component, FreeNotificationLinksGoBothWays) {
  std::vector<std::string> log;
  auto* target = new TLogged(nullptr, "Target", log);
  // This watcher never calls the inherited Notification; the link must still be dropped.
  auto* stubborn = new TLogged(nullptr, "Stubborn", log, false);
  auto* early = new TLogged(nullptr, "Early", log);
  stubborn->FreeNotification(target);
  early->FreeNotification(target);
  early->FreeNotification(target);  // asking twice registers once

  delete early;  // target must forget it, or it would notify a dead object below
  delete target;
  EXPECT_EQ(log, (std::vector<std::string>{"free Early", "Target heard Early go", "free Target", "Stubborn heard Target go"}));
  log.clear();
  delete stubborn;
  EXPECT_EQ(log, (std::vector<std::string>{"free Stubborn"}));

  // RemoveFreeNotification: nothing is heard afterwards.
  auto* t2 = new TLogged(nullptr, "T2", log);
  auto* w2 = new TLogged(nullptr, "W2", log);
  w2->FreeNotification(t2);
  w2->RemoveFreeNotification(t2);
  log.clear();
  delete t2;
  EXPECT_EQ(log, (std::vector<std::string>{"free T2"}));
  delete w2;
}

TEST(Component, NamesAreIdentifiersUniqueWithoutRegardToCase) {
  std::vector<std::string> log;
  TComponent owner(nullptr);
  auto* a = new TLogged(&owner, "Alpha", log);
  auto* b = new TLogged(&owner, "Beta", log);
  EXPECT_EQ(owner.FindComponent(u"ALPHA"), a);
  EXPECT_EQ(owner.FindComponent(u""), nullptr);
  EXPECT_EQ(MessageOf<EComponentError>([&] { b->SetName(u"alpha"); }), u"A component named alpha already exists");
  EXPECT_EQ(b->Name(), u"Beta");
  EXPECT_EQ(MessageOf<EComponentError>([&] { b->SetName(u"1st"); }), u"'1st' is not a valid component name");
  EXPECT_EQ(MessageOf<EComponentError>([&] { b->SetName(u"a b"); }), u"'a b' is not a valid component name");
  a->SetName(u"ALPHA");  // its own name in other case is no clash
  EXPECT_EQ(a->Name(), u"ALPHA");
  b->SetName(u"");
  b->SetName(u"_x9");
  EXPECT_EQ(owner.Components(1), b);
  EXPECT_EQ(MessageOf<EListError>([&] { owner.Components(2); }), u"List index out of bounds (2)");

  // Moving a component to an owner that already has its name is refused and changes nothing.
  TComponent other(nullptr);
  auto* clash = new TLogged(&other, "alpha", log);
  EXPECT_THROW(owner.InsertComponent(clash), EComponentError);
  EXPECT_EQ(clash->Owner(), &other);
  clash->SetName(u"Gamma");
  owner.InsertComponent(clash);
  EXPECT_EQ(clash->Owner(), &owner);
  EXPECT_EQ(other.ComponentCount(), 0);
  EXPECT_EQ(owner.ComponentCount(), 3);

  // Finding follows every rename, move and removal: old names are free again at once.
  EXPECT_EQ(owner.FindComponent(u"gamma"), clash);
  EXPECT_EQ(owner.FindComponent(u"beta"), nullptr);
  EXPECT_EQ(owner.FindComponent(u"_X9"), b);
  a->SetName(u"Delta");
  EXPECT_EQ(owner.FindComponent(u"alpha"), nullptr);
  EXPECT_EQ(owner.FindComponent(u"DELTA"), a);
  b->SetName(u"Alpha");  // the name a gave up
  EXPECT_EQ(owner.FindComponent(u"alpha"), b);
  owner.RemoveComponent(clash);
  EXPECT_EQ(owner.FindComponent(u"Gamma"), nullptr);
  other.InsertComponent(clash);
  EXPECT_EQ(other.FindComponent(u"GAMMA"), clash);
  delete a;
  EXPECT_EQ(owner.FindComponent(u"Delta"), nullptr);
  EXPECT_EQ(owner.ComponentCount(), 1);
}

TEST(List, IndexErrorsAndMoves) {
  TList list;
  int x = 1, y = 2, z = 3;
  list.Add(&x);
  list.Add(&y);
  list.Insert(0, &z);
  EXPECT_EQ(list.Items(0), &z);
  list.Move(0, 2);
  EXPECT_EQ(list.Last(), &z);
  EXPECT_EQ(list.Remove(&x), 0);
  EXPECT_EQ(list.Remove(&x), -1);
  EXPECT_EQ(list.Extract(&y), &y);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(MessageOf<EListError>([&] { list.Items(1); }), u"List index out of bounds (1)");
  EXPECT_EQ(MessageOf<EListError>([&] { list.Delete(-1); }), u"List index out of bounds (-1)");
  EXPECT_EQ(MessageOf<EListError>([&] { list.Insert(3, &x); }), u"List index out of bounds (3)");
  list.Clear();
  EXPECT_THROW(list.First(), EListError);
}

TEST(List, CapacityHoldsItemsInPlaceAndNeverDropsOne) {
  TList list;
  int x = 1, y = 2, z = 3;
  list.SetCapacity(3);
  EXPECT_EQ(list.Capacity(), 3);
  list.Add(&x);
  list.Add(&y);
  EXPECT_EQ(list.Capacity(), 3);
  list.SetCapacity(2);  // shrinking to the count keeps every item
  EXPECT_EQ(list.Capacity(), 2);
  EXPECT_EQ(list.Items(0), &x);
  EXPECT_EQ(list.Items(1), &y);
  EXPECT_EQ(MessageOf<EListError>([&] { list.SetCapacity(1); }), u"List capacity out of bounds (1)");
  EXPECT_EQ(list.Count(), 2);
  list.SetCapacity(7);
  list.Add(&z);
  EXPECT_EQ(list.Capacity(), 7);
  EXPECT_EQ(list.Last(), &z);
  EXPECT_EQ(list.First(), &x);
}

// The list against a vector doing the same edits at the front, middle and end, through
// growth; copies are independent of their source.
TEST(List, EditsMatchAVectorAndCopiesStandAlone) {
  std::vector<int> values(300);
  for (int k = 0; k < 300; ++k) values[static_cast<size_t>(k)] = k;
  TList list;
  std::vector<void*> model;
  auto same = [&] {
    ASSERT_EQ(list.Count(), static_cast<int>(model.size()));
    for (int k = 0; k < list.Count(); ++k) ASSERT_EQ(list.Items(k), model[static_cast<size_t>(k)]) << k;
  };
  for (int k = 0; k < 100; ++k) {
    void* p = &values[static_cast<size_t>(k)];
    const int at = k % 3 == 0 ? 0 : k % 3 == 1 ? list.Count() / 2 : list.Count();
    list.Insert(at, p);
    model.insert(model.begin() + at, p);
  }
  same();
  for (int k = 0; k < 40; ++k) {
    const int from = (k * 7) % list.Count(), to = (k * 13) % list.Count();
    list.Move(from, to);
    void* p = model[static_cast<size_t>(from)];
    model.erase(model.begin() + from);
    model.insert(model.begin() + to, p);
    list.Exchange(0, list.Count() - 1);
    std::swap(model.front(), model.back());
  }
  same();
  TList copy(list);
  for (int k = 0; k < 30; ++k) {
    const int at = k % 2 == 0 ? 0 : list.Count() - 1;
    list.Delete(at);
    model.erase(model.begin() + at);
  }
  same();
  EXPECT_EQ(copy.Count(), 100);
  list = copy;
  EXPECT_EQ(list.Count(), 100);
  EXPECT_EQ(list.IndexOf(copy.Items(99)), 99);
  copy.Clear();
  EXPECT_EQ(list.Count(), 100);
  list.SetCapacity(100);
  list.Clear();
  list.SetCapacity(0);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_EQ(list.Add(&values[0]), 0);
  EXPECT_EQ(list.First(), &values[0]);
}

// A list that keeps its items elsewhere gets every piece of storage back once.
class CountedList : public TList {
 public:
  explicit CountedList(int& live) : FLive(live) {}
  ~CountedList() override { DropStore(); }

 protected:
  void** NewStore(int capacity) override {
    ++FLive;
    return TList::NewStore(capacity);
  }
  void FreeStore(void** store, int capacity) noexcept override {
    --FLive;
    TList::FreeStore(store, capacity);
  }

 private:
  int& FLive;
};

TEST(List, DerivedStorageIsAlwaysReturned) {
  int live = 0;
  int x = 0;
  {
    CountedList list(live);
    for (int k = 0; k < 1000; ++k) list.Add(&x);
    EXPECT_EQ(live, 1);
    list.SetCapacity(5000);
    list.Insert(500, &x);
    EXPECT_EQ(live, 1);
    list.Clear();
    list.SetCapacity(0);
    EXPECT_EQ(live, 0);
    list.Add(&x);
    EXPECT_EQ(live, 1);
  }
  EXPECT_EQ(live, 0);
}

TEST(StringList, TextSplitsAtEveryLineBreakKind) {
  TStringList list;
  EXPECT_EQ(list.Text(), u"");
  list.SetText(u"a\r\nb");
  EXPECT_EQ(list.ToVector(), (std::vector<String>{u"a", u"b"}));
  EXPECT_EQ(list.Text(), u"a\r\nb\r\n");
  list.SetText(u"a\r\nb\r\n");
  EXPECT_EQ(list.Count(), 2);
  list.SetText(u"a\r\n\r\n");
  EXPECT_EQ(list.ToVector(), (std::vector<String>{u"a", u""}));
  list.SetText(u"a\rb\nc\r\n\rd");
  EXPECT_EQ(list.ToVector(), (std::vector<String>{u"a", u"b", u"c", u"", u"d"}));
  list.SetText(u"\n");
  EXPECT_EQ(list.ToVector(), (std::vector<String>{u""}));
  list.SetText(String(u"x\0y", 3));
  EXPECT_EQ(list.Get(0).size(), 3u);  // NUL is just a character
  list.SetText(u"");
  EXPECT_EQ(list.Count(), 0);

  list.SetLineBreak(u"|");
  list.SetText(u"a|b\nc|");
  EXPECT_EQ(list.ToVector(), (std::vector<String>{u"a", u"b\nc"}));
  EXPECT_EQ(list.Text(), u"a|b\nc|");
}

TEST(StringList, NamesAndValuesIgnoreCase) {
  TStringList list;
  list.SetText(u"Host=example.org\r\nport=80=x\r\nnovalue\r\n=empty");
  EXPECT_EQ(list.Values(u"HOST"), u"example.org");
  EXPECT_EQ(list.Values(u"Port"), u"80=x");  // the name ends at the first separator
  EXPECT_EQ(list.Values(u"novalue"), u"");
  EXPECT_EQ(list.IndexOfName(u"novalue"), -1);
  EXPECT_EQ(list.Names(2), u"");
  EXPECT_EQ(list.Names(3), u"");
  EXPECT_EQ(list.ValueFromIndex(3), u"empty");
  EXPECT_EQ(list.Values(u"missing"), u"");

  list.SetValue(u"PORT", u"8080");
  EXPECT_EQ(list.Get(1), u"PORT=8080");
  list.SetValue(u"user", u"bob");
  EXPECT_EQ(list.Get(list.Count() - 1), u"user=bob");
  list.SetValue(u"host", u"");
  EXPECT_EQ(list.IndexOfName(u"Host"), -1);
  EXPECT_EQ(list.Count(), 4);

  EXPECT_EQ(list.IndexOf(u"NOVALUE"), 1);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf(u"NOVALUE"), -1);

  list.SetCaseSensitive(false);
  list.SetNameValueSeparator(u':');
  list.SetText(u"Content-Type: text/html");
  EXPECT_EQ(list.Values(u"content-type"), u" text/html");

  // On a sorted list a changed value still lands in order.
  TStringList sorted;
  sorted.SetSorted(true);
  sorted.Add(u"b=2");
  sorted.Add(u"c=3");
  sorted.SetValue(u"B", u"9");
  sorted.SetValue(u"a", u"1");
  EXPECT_EQ(sorted.ToVector(), (std::vector<String>{u"a=1", u"B=9", u"c=3"}));
}

TEST(StringList, SortedListsAndDuplicates) {
  TStringList list;
  list.SetSorted(true);
  list.Add(u"pear");
  list.Add(u"Apple");
  list.Add(u"fig");
  EXPECT_EQ(list.Add(u"APPLE"), 0);  // dupIgnore answers the existing line
  EXPECT_EQ(list.ToVector(), (std::vector<String>{u"Apple", u"fig", u"pear"}));
  int index = -1;
  EXPECT_TRUE(list.Find(u"FIG", index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(list.Find(u"grape", index));
  EXPECT_EQ(index, 2);
  EXPECT_EQ(list.IndexOf(u"PEAR"), 2);

  EXPECT_EQ(MessageOf<EStringListError>([&] { list.Insert(0, u"x"); }), u"Operation not allowed on sorted list");
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.Get(3); }), u"List index out of bounds (3)");
  list.SetDuplicates(dupError);
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.Add(u"pear"); }), u"String list does not allow duplicates");
  EXPECT_EQ(list.Count(), 3);
  list.SetDuplicates(dupAccept);
  list.Add(u"fig");
  EXPECT_EQ(list.ToVector(), (std::vector<String>{u"Apple", u"fig", u"fig", u"pear"}));

  // Sorting an unsorted list, and a comparison that contradicts itself must not break anything.
  TStringList plain;
  for (const char16_t* s : {u"d", u"b", u"a", u"c", u"e", u"b"}) plain.Add(s);
  plain.SetSorted(true);
  EXPECT_EQ(plain.ToVector(), (std::vector<String>{u"a", u"b", u"b", u"c", u"d", u"e"}));
  plain.SetSorted(false);
  for (int i = 0; i < 50; ++i) plain.Add(IntToStr(i * 37 % 50));
  plain.CustomSort([](TStringList*, int a, int b) { return (a * 7 + b) % 3 - 1; });
  EXPECT_EQ(plain.Count(), 56);
  plain.CustomSort([](TStringList* l, int a, int b) { return CompareStr(l->Get(b), l->Get(a)); });
  EXPECT_EQ(plain.Get(0), u"e");
}

TEST(StringList, CommaAndDelimitedTextQuoteAndRoundTrip) {
  TStringList list;
  for (const char16_t* s : {u"plain", u"with blank", u"com,ma", u"say \"hi\"", u"", u"tab\there"}) list.Add(s);
  String text = list.CommaText();
  EXPECT_EQ(text, u"plain,\"with blank\",\"com,ma\",\"say \"\"hi\"\"\",,\"tab\there\"");
  TStringList back;
  back.SetCommaText(text);
  EXPECT_TRUE(back.Equals(&list));

  back.SetCommaText(u"  a b , \"c d\"x,");
  EXPECT_EQ(back.ToVector(), (std::vector<String>{u"a", u"b", u"c d", u"x", u""}));
  back.SetCommaText(u"\"unterminated, still");
  EXPECT_EQ(back.ToVector(), (std::vector<String>{u"unterminated, still"}));
  back.SetCommaText(String(u"a\0b", 3));
  EXPECT_EQ(back.Count(), 2);

  TStringList one;
  one.Add(u"");
  EXPECT_EQ(one.CommaText(), u"\"\"");
  back.SetCommaText(u"\"\"");
  EXPECT_EQ(back.ToVector(), (std::vector<String>{u""}));

  TStringList strict;
  strict.SetDelimiter(u';');
  strict.SetStrictDelimiter(true);
  strict.SetDelimitedText(u" a b ;c");
  EXPECT_EQ(strict.ToVector(), (std::vector<String>{u" a b ", u"c"}));
  EXPECT_EQ(strict.DelimitedText(), u" a b ;c");
  strict.SetStrictDelimiter(false);
  EXPECT_EQ(strict.DelimitedText(), u"\" a b \";c");
  EXPECT_EQ(strict.CommaText(), u"\" a b \",c");  // CommaText keeps its own rules
}

TEST(StringList, ChangeEventsBatchAndAssignCopiesObjects) {
  TStringList list;
  int changes = 0, changing = 0;
  list.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &list);
    ++changes;
  };
  list.OnChanging = [&](TObject*) { ++changing; };
  list.Add(u"a");
  list.Add(u"b");
  list.Delete(0);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(changing, 3);
  list.BeginUpdate();
  list.BeginUpdate();
  list.Add(u"c");
  list.Clear();
  list.EndUpdate();
  EXPECT_EQ(changes, 3);
  list.EndUpdate();
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(changing, 4);
  list.SetText(u"x\ny\nz");
  EXPECT_EQ(changes, 5);

  TCounted o1, o2;
  TStringList source;
  source.AddObject(u"one", &o1);
  source.AddObject(u"two", &o2);
  source.SetDelimiter(u'|');
  list.Assign(&source);
  EXPECT_EQ(changes, 6);
  EXPECT_EQ(list.ToVector(), source.ToVector());
  EXPECT_EQ(list.Objects(1), &o2);
  EXPECT_EQ(list.Delimiter(), u'|');
  EXPECT_EQ(list.IndexOfObject(&o1), 0);
}

TEST(StringList, OwnedObjectsAreFreedExactlyOnce) {
  gLiveObjects = 0;
  {
    TStringList list(true);
    for (int i = 0; i < 4; ++i) list.AddObject(IntToStr(i), new TCounted);
    EXPECT_EQ(gLiveObjects, 4);
    list.Move(0, 3);  // moving keeps the object
    EXPECT_EQ(gLiveObjects, 4);
    EXPECT_EQ(list.Get(3), u"0");
    list.Delete(0);
    EXPECT_EQ(gLiveObjects, 3);
    list.Exchange(0, 1);
    EXPECT_EQ(gLiveObjects, 3);
    list.Clear();
    EXPECT_EQ(gLiveObjects, 0);
    list.AddObject(u"kept", new TCounted);
  }
  EXPECT_EQ(gLiveObjects, 0);
  // A duplicate ignored by a sorted list does not take over the existing object.
  TCounted first, second;
  TStringList sorted;
  sorted.SetSorted(true);
  sorted.AddObject(u"k", &first);
  EXPECT_EQ(sorted.AddObject(u"K", &second), 0);
  EXPECT_EQ(sorted.Objects(0), &first);
}

TEST(StringList, FilesUseByteOrderMarksAndCrLf) {
  test::TempDir dir;
  String path = Str(dir / "list.txt");
  TStringList list;
  list.Add(u"caf\u00E9");
  list.Add(u"\u20AC 5");
  list.SaveToFile(path);
  EXPECT_EQ(test::ReadFileBytes(dir / "list.txt"), "caf\xE9\r\n\x80 5\r\n");
  list.SaveToFile(path, TTextEncoding::UTF16LE);
  EXPECT_EQ(test::ReadFileBytes(dir / "list.txt").substr(0, 6), std::string("\xFF\xFE" "c\0a\0", 6));
  list.SaveToFile(path, TTextEncoding::UTF8);
  EXPECT_EQ(test::ReadFileBytes(dir / "list.txt"), "caf\xC3\xA9\r\n\xE2\x82\xAC 5\r\n");

  TStringList back;
  back.LoadFromFile(Str(dir.Write("bom8.txt", "\xEF\xBB\xBF" "caf\xC3\xA9\nx")));  // BOM beats the Ansi default
  EXPECT_EQ(back.ToVector(), (std::vector<String>{u"caf\u00E9", u"x"}));
  back.LoadFromFile(Str(dir.Write("bom16.txt", std::string("\xFF\xFE" "a\0\r\0\n\0\xAC\x20", 10))));
  EXPECT_EQ(back.ToVector(), (std::vector<String>{u"a", u"\u20AC"}));
  back.LoadFromFile(Str(dir.Write("ansi.txt", "caf\xE9")));
  EXPECT_EQ(back.Get(0), u"caf\u00E9");
  back.LoadFromFile(Str(dir.Write("utf8.txt", "caf\xC3\xA9")), TTextEncoding::UTF8);
  EXPECT_EQ(back.Get(0), u"caf\u00E9");

  String missing = Str(dir / "missing.txt");
  String msg = MessageOf<EFOpenError>([&] { back.LoadFromFile(missing); });
  EXPECT_EQ(msg, u"Cannot open file \"" + missing + u"\". " + SysErrorMessage(ENOENT));
  EXPECT_EQ(back.Count(), 1);  // a failed load leaves the list alone
}

class TTestItem : public TCollectionItem {
 public:
  using TCollectionItem::TCollectionItem;
  String Value;
  void Assign(const TPersistent* source) override {
    if (auto* item = dynamic_cast<const TTestItem*>(source)) {
      Value = item->Value;
      return;
    }
    TCollectionItem::Assign(source);
  }
};

class TTestCollection : public TCollectionOf<TTestItem> {
 public:
  int Updates = 0;
  std::vector<TCollectionNotification> Notes;

 protected:
  void Update(TCollectionItem*) override { ++Updates; }
  void Notify(TCollectionItem*, TCollectionNotification action) override { Notes.push_back(action); }
};

TEST(Collection, ItemsIdsAndUpdateCounting) {
  TTestCollection coll;
  TTestItem* a = coll.Add();
  TTestItem* b = coll.Add();
  auto* c = new TTestItem(&coll);
  EXPECT_EQ(coll.Count(), 3);
  EXPECT_EQ(coll.Updates, 3);
  EXPECT_EQ(c->ID(), 2);
  EXPECT_EQ(c->Index(), 2);
  EXPECT_EQ(coll.FindItemID(1), b);
  EXPECT_EQ(MessageOf<EListError>([&] { coll.Items(3); }), u"List index out of bounds (3)");

  c->SetIndex(0);
  EXPECT_EQ(coll.Items(0), c);
  EXPECT_EQ(a->Index(), 1);
  EXPECT_THROW(c->SetIndex(5), EListError);

  delete b;  // an item deleted by hand leaves its collection
  EXPECT_EQ(coll.Count(), 2);
  EXPECT_EQ(coll.FindItemID(1), nullptr);
  TTestItem* d = coll.Add();
  EXPECT_EQ(d->ID(), 3);  // ids are never reused

  TTestItem* first = coll.Insert(0);
  EXPECT_EQ(coll.Items(0), first);

  coll.Updates = 0;
  coll.BeginUpdate();
  coll.BeginUpdate();
  coll.Add();
  coll.Delete(0);
  coll.EndUpdate();
  EXPECT_EQ(coll.Updates, 0);
  coll.EndUpdate();
  EXPECT_EQ(coll.Updates, 1);
  coll.BeginUpdate();
  coll.EndUpdate();
  EXPECT_EQ(coll.Updates, 1);  // nothing changed, nothing to report
  coll.EndUpdate();            // an unmatched EndUpdate is harmless
  EXPECT_EQ(coll.UpdateCount(), 0);

  coll.Notes.clear();
  coll.Delete(0);
  EXPECT_EQ(coll.Notes, (std::vector<TCollectionNotification>{cnDeleting, cnExtracting}));
}

TEST(Collection, AssignCopiesEveryItemInOneUpdate) {
  TTestCollection source, dest;
  for (const char16_t* v : {u"x", u"y", u"z"}) source.Add()->Value = v;
  dest.Add()->Value = u"old";
  dest.Updates = 0;
  dest.Assign(&source);
  ASSERT_EQ(dest.Count(), 3);
  EXPECT_EQ(dest.Items(2)->Value, u"z");
  EXPECT_NE(dest.Items(0), source.Items(0));
  EXPECT_EQ(dest.Updates, 1);
  dest.Assign(&dest);
  EXPECT_EQ(dest.Count(), 3);
  TFoo foo;
  EXPECT_EQ(MessageOf<EConvertError>([&] { dest.Assign(&foo); }), u"Cannot assign a TFoo to a TTestCollection");
  // An item that cannot take the source's items leaves the error text of the framework.
  TCollectionOf<TCollectionItem> plain;
  EXPECT_EQ(MessageOf<EConvertError>([&] { plain.Assign(&source); }), u"Cannot assign a TTestItem to a TCollectionItem");
  EXPECT_EQ(plain.UpdateCount(), 0);
}

}  // namespace
