// TObject, TPersistent, TComponent, TList, TStrings/TStringList, TCollection: the
// framework's object model as the components use it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rtl/SysUtils.h"

namespace ktinet {

class TClassInfo;

class TObject {
 public:
  virtual ~TObject() = default;
  // The published description of the object's class (rtl/TypInfo.h); null for a class that
  // publishes nothing.
  virtual const TClassInfo* ClassInfo() const { return nullptr; }
  // The class name without namespace ("TKtWhoIs"), from the dynamic type.
  String ClassName() const;
};

class TPersistent : public TObject {
 public:
  // Copies `source` into this object. The default asks source->AssignTo(this); when nothing
  // knows how, raises EConvertError "Cannot assign a TSource to a TDest" ("nil" for a null source).
  virtual void Assign(const TPersistent* source);
  virtual String GetNamePath() const;

 protected:
  virtual void AssignTo(TPersistent* dest) const;
  virtual TPersistent* GetOwner() const { return nullptr; }
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

enum TOperation { opInsert, opRemove };
enum TComponentStateFlag : unsigned { csLoading = 1, csReading = 2, csWriting = 4, csDestroying = 8, csDesigning = 16 };

// A component created with an owner is deleted by that owner (owned components are deleted
// last-created first); deleting a component removes it from its owner and sends opRemove to
// every component that asked for a free notification.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner) {
    if (AOwner) AOwner->InsertComponent(this);
  }
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  String GetNamePath() const override;
  const String& Name() const { return FLinks ? FLinks->Name : NoName(); }
  // Raises EComponentError for a name that is not an identifier or that a sibling already has.
  virtual void SetName(const String& name);
  long Tag() const { return FTag; }
  void SetTag(long tag) { FTag = tag; }
  unsigned ComponentState() const { return FComponentState; }
  void SetDesigning(bool value);
  // Set by the form reader while it applies the stored properties: writers that would change
  // other properties as a side effect leave them alone while loading.
  void SetLoading(bool value);
  // Called by the form reader once every property of the file is applied (csLoading cleared).
  virtual void Loaded() {}

  int ComponentCount() const { return FLinks ? static_cast<int>(FLinks->Components.size()) : 0; }
  TComponent* Components(int index) const;
  TComponent* FindComponent(const String& name) const;
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);
  void DestroyComponents();

  // Asks to be told (Notification with opRemove) when `c` is destroyed.
  void FreeNotification(TComponent* c);
  void RemoveFreeNotification(TComponent* c);

 protected:
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  TPersistent* GetOwner() const override { return FOwner; }
  // True once the component has a name, owns components or watches or is watched by others:
  // without, its destruction has nothing to undo beyond its own fields.
  bool HasLinks() const noexcept { return FLinks != nullptr; }

 private:
  void Insert(TComponent* c);
  void Remove(TComponent* c);
  void Destroying();  // marks this component and all it owns csDestroying
  static const String& NoName();
  void IndexName(TComponent* c);
  void UnindexName(TComponent* c);

  // The name and the links to other components. Most components of a large structure (the
  // items of a parsed document) have none, so they are kept apart and made on first use,
  // which keeps such a component small.
  struct Links {
    String Name;
    std::vector<TComponent*> Components;
    // Owned components by name in upper case, so that finding one (as every rename and every
    // reference in a form file does) takes constant time however many there are.
    std::unordered_map<String, TComponent*> NameIndex;
    std::vector<TComponent*> FreeNotifies;
  };
  Links& TheLinks();

  TComponent* FOwner = nullptr;
  long FTag = 0;
  std::unique_ptr<Links> FLinks;
  // Last, so that a derived class may place a small field of its own in the padding behind it.
  unsigned FComponentState = 0;
};

// A list of untyped pointers, as the framework's TList. Errors raise EListError
// ("List index out of bounds (N)").
class TList : public TObject {
 public:
  TList() = default;
  TList(const TList& other);
  TList& operator=(const TList& other);
  ~TList() override;

  int Add(void* item) {
    if (FCount == FCapacity) GrowForAdd();
    FData[FCount] = item;
    return FCount++;
  }
  void Insert(int index, void* item);
  void Delete(int index);
  int Remove(void* item);  // index it had, -1 when absent
  int IndexOf(void* item) const;
  void* Extract(void* item);
  void Exchange(int a, int b);
  void Move(int from, int to);
  void Clear();
  int Count() const { return FCount; }
  // How many items fit before Add must move the list to larger storage.
  int Capacity() const { return FCapacity; }
  // Makes room for exactly `value` items (never fewer than Count: EListError "List capacity out
  // of bounds (N)"), so a caller that knows its growth pattern avoids repeated moves.
  void SetCapacity(int value);
  void* Items(int index) const {
    if (static_cast<unsigned>(index) >= static_cast<unsigned>(FCount)) IndexError(index);
    return FData[index];
  }
  void SetItems(int index, void* item);
  void* First() const { return Items(0); }
  void* Last() const { return Items(Count() - 1); }

 protected:
  // Where the item array lives. A derived list may keep it elsewhere than the heap (an arena);
  // it then gives its storage back with DropStore in its own destructor, because the base
  // destructor no longer reaches the override.
  virtual void** NewStore(int capacity);
  virtual void FreeStore(void** store, int capacity) noexcept;
  void DropStore() noexcept;
  // Gives a list that has no storage yet (capacity 0) the array `store` of `capacity` entries,
  // taken from its own NewStore: a derived list that knows where its arrays come from saves the
  // general path on its first item.
  void AdoptStore(void** store, int capacity) noexcept {
    FData = store;
    FCapacity = capacity;
  }

 private:
  [[noreturn]] static void IndexError(int index);
  void Check(int index) const;
  void Grow(int capacity);
  void GrowForAdd();
  void** FData = nullptr;
  int FCount = 0;
  int FCapacity = 0;
};

// Text encodings for loading and saving string lists.
enum class TTextEncoding { Ansi, UTF8, UTF16LE };
// Text to bytes in `encoding`, without a byte-order mark (ANSI: '?' for what Windows-1252 lacks).
std::string EncodeString(const String& s, TTextEncoding encoding);
// Bytes to text; a dangling half of a UTF-16 code unit becomes U+FFFD.
String DecodeBytes(std::string_view bytes, TTextEncoding encoding);
// As DecodeBytes, except that a byte-order mark (UTF-8, UTF-16LE or UTF-16BE) picks the encoding.
String DecodeWithBOM(std::string_view bytes, TTextEncoding fallback);

class TStrings : public TPersistent {
 public:
  virtual int Count() const = 0;
  virtual String Get(int index) const = 0;
  virtual void Put(int index, const String& s);
  virtual TObject* GetObject(int index) const;
  virtual void PutObject(int index, TObject* obj);
  virtual void Insert(int index, const String& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  String Strings(int index) const { return Get(index); }
  String operator[](int index) const { return Get(index); }
  TObject* Objects(int index) const { return GetObject(index); }
  virtual int Add(const String& s);
  virtual int AddObject(const String& s, TObject* obj);
  void InsertObject(int index, const String& s, TObject* obj);
  void AddStrings(const TStrings* other);
  void Append(const String& s) { Add(s); }
  void Exchange(int a, int b);
  void Move(int from, int to);
  virtual int IndexOf(const String& s) const;
  int IndexOfObject(TObject* obj) const;

  // Text: lines joined with LineBreak (CR LF); setting it splits at CR LF, CR or LF.
  virtual String Text() const;
  virtual void SetText(const String& text);
  String CommaText() const;
  void SetCommaText(const String& text);
  String DelimitedText() const;
  void SetDelimitedText(const String& text);
  Char Delimiter() const { return FDelimiter; }
  void SetDelimiter(Char c) { FDelimiter = c; }
  Char QuoteChar() const { return FQuoteChar; }
  void SetQuoteChar(Char c) { FQuoteChar = c; }
  bool StrictDelimiter() const { return FStrictDelimiter; }
  void SetStrictDelimiter(bool v) { FStrictDelimiter = v; }
  const String& LineBreak() const { return FLineBreak; }
  void SetLineBreak(const String& lb) { FLineBreak = lb; }

  // Name=value lines; names compare without regard to case.
  Char NameValueSeparator() const { return FNameValueSeparator; }
  void SetNameValueSeparator(Char c) { FNameValueSeparator = c; }
  String Names(int index) const;
  String ValueFromIndex(int index) const;
  String Values(const String& name) const;
  // An empty value deletes the line, as in the framework.
  void SetValue(const String& name, const String& value);
  virtual int IndexOfName(const String& name) const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  void Assign(const TPersistent* source) override;
  bool Equals(const TStrings* other) const;
  std::vector<String> ToVector() const;

  // Load: byte-order marks pick UTF-8/UTF-16; otherwise `encoding`. Save writes CR LF line ends.
  void LoadFromFile(const String& fileName, TTextEncoding encoding = TTextEncoding::Ansi);
  void SaveToFile(const String& fileName, TTextEncoding encoding = TTextEncoding::Ansi) const;
  void LoadFromStream(class TStream* stream, TTextEncoding encoding = TTextEncoding::Ansi);
  void SaveToStream(class TStream* stream, TTextEncoding encoding = TTextEncoding::Ansi) const;

 protected:
  virtual void SetUpdateState(bool updating);
  virtual int CompareStrings(const String& a, const String& b) const;
  void Error(const char* msg, int index) const;

 private:
  Char FDelimiter = u',';
  Char FQuoteChar = u'"';
  Char FNameValueSeparator = u'=';
  bool FStrictDelimiter = false;
  String FLineBreak = u"\r\n";
  int FUpdateCount = 0;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
 public:
  TStringList() = default;
  explicit TStringList(bool ownsObjects) : FOwnsObjects(ownsObjects) {}
  ~TStringList() override;

  int Count() const override { return static_cast<int>(FList.size()); }
  String Get(int index) const override;
  void Put(int index, const String& s) override;
  TObject* GetObject(int index) const override;
  void PutObject(int index, TObject* obj) override;
  void Insert(int index, const String& s) override;
  void Delete(int index) override;
  void Clear() override;
  int Add(const String& s) override;
  // On a sorted list a duplicate is ignored (its object is not stored), accepted or refused.
  int AddObject(const String& s, TObject* obj) override;
  int IndexOf(const String& s) const override;

  bool Find(const String& s, int& index) const;  // binary search of a sorted list
  void Sort();
  void CustomSort(const std::function<int(TStringList*, int, int)>& compare);
  bool Sorted() const { return FSorted; }
  void SetSorted(bool v);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates d) { FDuplicates = d; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool v);  // a sorted list sorts again
  bool OwnsObjects() const { return FOwnsObjects; }
  void SetOwnsObjects(bool v) { FOwnsObjects = v; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  void SetUpdateState(bool updating) override;
  int CompareStrings(const String& a, const String& b) const override;
  void Changed();
  void Changing();

 private:
  struct Item {
    String s;
    TObject* obj = nullptr;
  };
  void InsertItem(int index, const String& s, TObject* obj);
  std::vector<Item> FList;
  bool FSorted = false;
  bool FCaseSensitive = false;
  bool FOwnsObjects = false;
  TDuplicates FDuplicates = dupIgnore;
};

class TCollection;

class TCollectionItem : public TPersistent {
 public:
  explicit TCollectionItem(TCollection* collection);
  ~TCollectionItem() override;
  TCollection* Collection() const { return FCollection; }
  void SetCollection(TCollection* c);
  int Index() const;
  void SetIndex(int index);
  int ID() const { return FID; }
  virtual String DisplayName() const;

 protected:
  void Changed(bool allItems);

 private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
  int FID = 0;
};

enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

// Owns its items. Items are made by the factory given at construction (the item class).
class TCollection : public TPersistent {
 public:
  using ItemFactory = std::function<TCollectionItem*(TCollection*)>;
  explicit TCollection(ItemFactory factory);
  ~TCollection() override;

  TCollectionItem* Add();
  TCollectionItem* Insert(int index);
  int Count() const { return static_cast<int>(FItems.size()); }
  TCollectionItem* Items(int index) const;
  TCollectionItem* FindItemID(int id) const;
  void Clear();
  void Delete(int index);
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }
  // Clears, then adds one item per source item and Assigns it.
  void Assign(const TPersistent* source) override;

 protected:
  virtual void Update(TCollectionItem* item);
  virtual void Notify(TCollectionItem* item, TCollectionNotification action);
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);
  ItemFactory FFactory;
  std::vector<TCollectionItem*> FItems;
  int FNextID = 0;
  int FUpdateCount = 0;
  bool FUpdatePending = false;  // something changed while updates were held back
};

// A collection of one item class with typed access.
template <class T>
class TCollectionOf : public TCollection {
 public:
  TCollectionOf() : TCollection([](TCollection* c) -> TCollectionItem* { return new T(c); }) {}
  T* Add() { return static_cast<T*>(TCollection::Add()); }
  T* Insert(int index) { return static_cast<T*>(TCollection::Insert(index)); }
  T* Items(int index) const { return static_cast<T*>(TCollection::Items(index)); }
};

}  // namespace ktinet
