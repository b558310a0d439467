// TKtXMLEngine: the forgiving XML reader. It turns a text into a tree of TKtXMLItem nodes by a
// fixed set of tokenising rules (the service clients rely on the exact tree these rules build),
// lets the application filter elements while they are read and stop the read, finds nodes by
// tag name and offers the value helpers (quotes, character entities, fixed-position dates).
//
// Items of a parsed tree live in a block arena owned by their engine, with their texts stored
// beside them as compact UTF-16 (decoded straight from the input, and one record shared by all
// items of the same name), so a large answer costs no per-item heap traffic for its texts. Every walk
// over the tree (freeing, searching) uses an explicit stack: any depth the parser builds is safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string_view>

#include "rtl/Classes.h"
#include "rtl/DateTime.h"
#include "rtl/Streams.h"

namespace ktinet {

class TKtXMLItem;
class TKtXMLEngine;

enum TKtXMLItemKind { ikProperty, ikAttribute, ikComment, ikCDATA };

// The item's Value: either unassigned (the framework's empty variant) or a text, which may be empty.
class TKtXMLVariant {
 public:
  TKtXMLVariant() = default;
  TKtXMLVariant(String text) : FAssigned(true), FText(std::move(text)) {}  // NOLINT: implicit like a variant
  TKtXMLVariant(const char16_t* text) : FAssigned(true), FText(text) {}   // NOLINT

  // True while nothing has been stored (VarIsEmpty).
  bool IsEmpty() const { return !FAssigned; }
  // The text held; empty when unassigned.
  const String& Text() const { return FText; }
  bool operator==(const TKtXMLVariant& other) const = default;

 private:
  bool FAssigned = false;
  String FText;
};

namespace xml_detail {

class Arena;
template <class CharT>
class Parser;

// A text stored as a length-prefixed UTF-16 record, in the arena of its item or on the heap.
// The empty state (no record) is what an unassigned Value is.
class Text {
 public:
  Text() = default;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text() { Release(); }

  bool Assigned() const { return FBits != 0; }
  // True when the record is the text's own on the heap (not in an arena, not shared).
  bool OnHeap() const { return (FBits & 1) != 0; }
  std::u16string_view View() const;
  String Str() const { return String(View()); }
  std::size_t Length() const { return View().size(); }
  // Stores a copy of `s` in `arena` (on the heap when null). An assigned empty text keeps the
  // assigned state.
  void Assign(std::u16string_view s, Arena* arena);
  // Appends `s`. Repeated appends grow a heap record geometrically, so a value built from many
  // pieces costs linear time.
  void Append(std::u16string_view s);
  void Clear() {
    Release();
    FBits = 0;
  }

 private:
  template <class CharT>
  friend class Parser;
  // Makes the text a fresh record of `n` characters (in `arena`, on the heap when null) and
  // returns them for the caller to fill.
  char16_t* Make(std::size_t n, Arena* arena);
  // The parse gives every item of one name the same record, kept in the arena the items live in.
  std::uintptr_t Record() const { return FBits; }
  void ShareRecord(std::uintptr_t record) {
    Release();
    FBits = record;
  }
  void Release();
  std::uintptr_t FBits = 0;  // record address; bit 0 set when the record is heap-owned
};

}  // namespace xml_detail

// The children of an item, in document order. Owns the items it holds: Clear and destruction free them.
class TKtXMLItems : public TList {
 public:
  TKtXMLItems() = default;
  ~TKtXMLItems() override;
  TKtXMLItems(const TKtXMLItems&) = delete;
  TKtXMLItems& operator=(const TKtXMLItems&) = delete;

  // Creates an item owned by ParentItem (Level = ParentItem's + 1 when given) and appends it.
  TKtXMLItem* AddItem(TKtXMLItem* ParentItem);
  // Frees every item, and every item below them, then empties the list.
  void Clear();
  TKtXMLItem* Items(int index) const { return static_cast<TKtXMLItem*>(TList::Items(index)); }
  TKtXMLItem* operator[](int index) const { return Items(index); }

 protected:
  void** NewStore(int capacity) override;
  void FreeStore(void** store, int capacity) noexcept override;

 private:
  friend class TKtXMLItem;
  friend class TKtXMLEngine;
  template <class CharT>
  friend class xml_detail::Parser;
  // The owning item's placement, kept here so that an item spends one word on it: the arena its
  // children go to (bits 3 and up), bit 0 set when the item itself lives in that arena (then its
  // children array does too; otherwise the array is on the heap), bits 1-2 the item's kind. Zero
  // for a list that belongs to no item.
  static constexpr std::uintptr_t kOwnBit = 1;
  static constexpr std::uintptr_t kKindShift = 1;
  static constexpr std::uintptr_t kKindBits = 3u << kKindShift;
  std::uintptr_t FPlace = 0;
  xml_detail::Arena* ArrayArena() const {
    return FPlace & kOwnBit ? reinterpret_cast<xml_detail::Arena*>(FPlace & ~static_cast<std::uintptr_t>(7)) : nullptr;
  }
};

// One node of the tree: an element, an attribute split out by ProcessAttributes, or a comment.
class TKtXMLItem : public TComponent {
 public:
  // ParentItem becomes AOwner when that is an item; Level starts at 0.
  explicit TKtXMLItem(TComponent* AOwner);
  // Frees the subtree, then leaves the parent's Items.
  ~TKtXMLItem() override;

  TKtXMLItemKind Kind() const {
    return static_cast<TKtXMLItemKind>((FItems.FPlace & TKtXMLItems::kKindBits) >> TKtXMLItems::kKindShift);
  }
  void SetKind(TKtXMLItemKind value) {
    FItems.FPlace = (FItems.FPlace & ~TKtXMLItems::kKindBits) |
                    ((static_cast<std::uintptr_t>(value) << TKtXMLItems::kKindShift) & TKtXMLItems::kKindBits);
  }
  String TagName() const { return FTagName.Str(); }
  std::u16string_view TagNameView() const { return FTagName.View(); }
  void SetTagName(const String& value);
  TKtXMLVariant Value() const;
  void SetValue(const TKtXMLVariant& value);
  // The raw attribute text of the element, as read between the name and the end of the start tag.
  String Attributes() const { return FAttributes.Str(); }
  Integer Level() const { return FLevel; }
  TKtXMLItems* Items() { return &FItems; }
  const TKtXMLItems* Items() const { return &FItems; }
  TKtXMLItem* ParentItem() const { return FParentItem; }

  // Depth-first search from this item, comparing names case-sensitively; without ExpandAllLevels
  // only this item, its children and its grandchildren are examined.
  TKtXMLItem* GetChild(const String& XMLTag, bool ExpandAllLevels) const;
  // Value as text with surrounding double quotes (and trailing blanks) removed.
  String GetTagXMLValue() const;
  // GetTagXMLValue with the character entities of the fixed table replaced.
  String GetTagValue() const;
  // Splits Attributes into ikAttribute children and empties Attributes.
  void ProcessAttributes();

  // Items of a tree are placed in their engine's arena; these keep heap and arena items apart.
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, xml_detail::Arena* arena);
  static void operator delete(void* p);
  static void operator delete(void* p, xml_detail::Arena* arena);
  static void operator delete(TKtXMLItem* p, std::destroying_delete_t);

 private:
  friend class TKtXMLItems;
  friend class TKtXMLEngine;
  template <class CharT>
  friend class xml_detail::Parser;
  struct ChildTag {};
  TKtXMLItem(ChildTag, TKtXMLItem* parent, std::uintptr_t place);
  // Where children of this item go.
  xml_detail::Arena* MemoryArena() const {
    return reinterpret_cast<xml_detail::Arena*>(FItems.FPlace & ~static_cast<std::uintptr_t>(7));
  }
  // The arena holding this item and its texts, or null.
  xml_detail::Arena* OwnArena() const { return FItems.ArrayArena(); }
  void FreeSubtree();
  // True when the item lives in `arena` and holds nothing outside it (no framework owner or
  // links, no text or children array on the heap): it can go with the arena, undestroyed.
  bool GoesWithArena(const xml_detail::Arena* arena) const;

  Integer FLevel = 0;
  xml_detail::Text FTagName;
  xml_detail::Text FValue;
  xml_detail::Text FAttributes;
  TKtXMLItems FItems;
  TKtXMLItem* FParentItem = nullptr;
};

using TKtIXMLOnTagEvent = std::function<void(TObject* Sender, TKtXMLItem* ParentNode, const String& ATagName,
                                             const String& ATagValue, const String& ATagAttributes, bool& Accept)>;
using TKtIXMLOnAfterTagEvent = std::function<void(TObject* Sender, TKtXMLItem*& Node, bool& Cancel)>;

class TKtXMLEngine : public TComponent {
 public:
  explicit TKtXMLEngine(TComponent* AOwner);
  ~TKtXMLEngine() override;

  // The top of the tree: the first element read (or the XML declaration). Never replaced.
  TKtXMLItem* RootItem() const { return FRootItem; }
  const TKtIXMLOnTagEvent& OnTag() const { return FOnTag; }
  void SetOnTag(TKtIXMLOnTagEvent handler) { FOnTag = std::move(handler); }
  const TKtIXMLOnAfterTagEvent& OnAfterTag() const { return FOnAfterTag; }
  void SetOnAfterTag(TKtIXMLOnAfterTagEvent handler) { FOnAfterTag = std::move(handler); }

  // Parses the first `length` characters of `text` into the tree (adding to what is there).
  void ParseXMLFromString(const String& text, Integer length);
  // Empties RootItem's children, decodes the stream (byte-order marks, else the ANSI code page)
  // and parses it. AStreamSize 0: the stream's size, and a byte-order mark is looked for.
  void LoadFromStream(Integer AStreamSize, TStream* AStream);
  // Raises EFOpenError when the file cannot be opened.
  void LoadFromFile(const String& AFileName);

  // Case-insensitive depth-first search from ARoot (RootItem when null), ARoot itself first.
  TKtXMLItem* GetItemByTag(TKtXMLItem* ARoot, const String& XMLTag) const;
  // "a/b/c": returns "a", leaves "b/c".
  String GetFirstTagName(String& AXMLPath) const;
  // "a/b/c": returns "c", leaves "a/b".
  String GetLastTagName(String& AXMLPath) const;

  // True when LoadFromStream decoded the text from a byte-order mark (UTF-8 or UTF-16).
  bool UTF8Processed = false;

 private:
  template <class CharT>
  friend class xml_detail::Parser;
  TKtXMLItem* FRootItem = nullptr;
  TKtIXMLOnTagEvent FOnTag;
  TKtIXMLOnAfterTagEvent FOnAfterTag;
  std::unique_ptr<xml_detail::Arena> FArena;
};

// Ordinal comparison when CaseSensitive, else equal ignoring the case of A-Z.
bool SameStrings(bool CaseSensitive, const String& S1, const String& S2);
// "2010-05-20T13:45:10" (fields at fixed positions) to a date-time; 0 for anything unreadable.
TDateTime XMLStringToDateTime(const String& S);

}  // namespace ktinet
