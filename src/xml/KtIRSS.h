// TKtIRSSParser: downloads an RSS feed (0.9x, 1.0 or 2.0) with the web updater's machinery and
// turns it into channels and items with a small scanner of its own (not the XML engine): the
// scanner walks the text tag by tag, keeps a path of the open elements and stores the text after
// a known start tag into the current channel or item.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "transfer/ktiupdate.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtIRSSItem : public TPersistent {
 public:
  String Title;
  String Link;
  String Description;
  String Creator;
  String Date;
  // Copies the five fields of another item; any other source changes nothing.
  void Assign(const TPersistent* Source) override;
};

// A list that owns its objects; GetItem outside the list gives null.
template <class T>
class TKtIOwnedList {
 public:
  TKtIOwnedList() = default;
  TKtIOwnedList(const TKtIOwnedList&) = delete;
  TKtIOwnedList& operator=(const TKtIOwnedList&) = delete;
  virtual ~TKtIOwnedList() { ClearItems(); }

  int Count() const { return static_cast<int>(FItems.size()); }
  T* GetItem(int Index) const {
    return Index >= 0 && Index < Count() ? FItems[static_cast<size_t>(Index)].get() : nullptr;
  }
  void DeleteItem(int Index) {
    if (Index >= 0 && Index < Count()) FItems.erase(FItems.begin() + Index);
  }
  // Frees the items from the last to the first.
  void ClearItems() {
    while (!FItems.empty()) FItems.pop_back();
  }
  // Takes ownership; returns the item.
  T* Add(std::unique_ptr<T> Item) {
    FItems.push_back(std::move(Item));
    return FItems.back().get();
  }
  T* Add() { return Add(std::make_unique<T>()); }
  T* Last() const { return FItems.empty() ? nullptr : FItems.back().get(); }

 private:
  std::vector<std::unique_ptr<T>> FItems;
};

class TKtIRSSItems : public TKtIOwnedList<TKtIRSSItem>, public TPersistent {
 public:
  // From another TKtIRSSItems: this list becomes copies of its items; anything else changes nothing.
  void AssignItems(const TPersistent* Source);
};

class TKtIRSSChannel : public TPersistent {
 public:
  TKtIRSSChannel();
  ~TKtIRSSChannel() override;
  TKtIRSSChannel(const TKtIRSSChannel&) = delete;
  TKtIRSSChannel& operator=(const TKtIRSSChannel&) = delete;

  String Title;
  String Link;
  String Description;
  String Language;
  String Copyright;
  String Rating;
  String ManagingEditor;
  String WebMaster;
  String PubDate;
  String LastBuildDate;
  String Category;
  String Generator;
  String Docs;
  String Ttl;
  TKtIRSSItems* Items() const { return FItems.get(); }

  // Copies the fourteen text fields and replaces the items by copies of the source's.
  void Assign(const TPersistent* Source) override;

 private:
  std::unique_ptr<TKtIRSSItems> FItems;
};

class TKtIRSSChannels : public TKtIOwnedList<TKtIRSSChannel> {};

// The scanner alone: fills AChannels (emptied first) from the bytes of a feed. The fields are
// decoded as UTF-8 when the feed starts with the UTF-8 byte-order mark or its XML declaration
// names UTF-8, or when it declares no encoding and its bytes are well-formed UTF-8 (a malformed
// sequence then reads as U+FFFD); any other feed reads as Windows-1252. Malformed text never
// stops the scanner, it never reads outside the text, and its time is linear in the text, however
// deeply the elements nest.
void ParseRSSText(std::string_view AText, TKtIRSSChannels& AChannels);

class TKtIRSSParser : public TKtCustomWebUpdater {
  KTINET_PUBLISHED(TKtIRSSParser)
 public:
  explicit TKtIRSSParser(TComponent* AOwner);
  ~TKtIRSSParser() override;

  // Downloads the feed into a temporary file of this instance, parses it when the transfer
  // finished (not when it was skipped), and deletes the file.
  bool Execute() override;
  // Parses the local file into Channels; raises EFOpenError when it cannot be read.
  virtual void ParseRSS();

  TKtIRSSChannels* Channels() const { return FChannels.get(); }
  // The download target (empty until the first run forms it).
  const String& LocalFileName() const { return FLocalFileName; }

 private:
  std::unique_ptr<TKtIRSSChannels> FChannels;
};

}  // namespace ktinet
