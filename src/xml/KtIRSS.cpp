#include "xml/KtIRSS.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/TempFiles.h"
#include "rtl/Streams.h"
#include "rtl/SysUtils.h"

namespace ktinet {

void TKtIRSSItem::Assign(const TPersistent* Source) {
  auto* src = dynamic_cast<const TKtIRSSItem*>(Source);
  if (!src || src == this) return;
  Title = src->Title;
  Link = src->Link;
  Description = src->Description;
  Creator = src->Creator;
  Date = src->Date;
}

void TKtIRSSItems::AssignItems(const TPersistent* Source) {
  auto* src = dynamic_cast<const TKtIRSSItems*>(Source);
  if (!src || src == this) return;
  ClearItems();
  for (int i = 0; i < src->Count(); ++i) Add()->Assign(src->GetItem(i));
}

TKtIRSSChannel::TKtIRSSChannel() : FItems(std::make_unique<TKtIRSSItems>()) {}
TKtIRSSChannel::~TKtIRSSChannel() = default;

void TKtIRSSChannel::Assign(const TPersistent* Source) {
  auto* src = dynamic_cast<const TKtIRSSChannel*>(Source);
  if (!src || src == this) return;
  Title = src->Title;
  Link = src->Link;
  Description = src->Description;
  Language = src->Language;
  Copyright = src->Copyright;
  Rating = src->Rating;
  ManagingEditor = src->ManagingEditor;
  WebMaster = src->WebMaster;
  PubDate = src->PubDate;
  LastBuildDate = src->LastBuildDate;
  Category = src->Category;
  Generator = src->Generator;
  Docs = src->Docs;
  Ttl = src->Ttl;
  FItems->AssignItems(src->FItems.get());
}

namespace {

inline bool Blank(unsigned char c) { return c <= ' '; }

std::string_view TrimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && Blank(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && Blank(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool Holds(std::string_view s, std::string_view what) { return s.find(what) != std::string_view::npos; }

String* ChannelField(TKtIRSSChannel& c, std::string_view name) {
  // Compared exactly, letter case included: "Title" stores nothing.
  switch (name.size()) {
    case 3:
      if (name == "ttl") return &c.Ttl;
      break;
    case 4:
      if (name == "link") return &c.Link;
      if (name == "docs") return &c.Docs;
      break;
    case 5:
      if (name == "title") return &c.Title;
      break;
    case 6:
      if (name == "rating") return &c.Rating;
      break;
    case 7:
      if (name == "pubDate") return &c.PubDate;
      break;
    case 8:
      if (name == "language") return &c.Language;
      if (name == "category") return &c.Category;
      break;
    case 9:
      if (name == "copyright") return &c.Copyright;
      if (name == "webMaster") return &c.WebMaster;
      if (name == "generator") return &c.Generator;
      break;
    case 11:
      if (name == "description") return &c.Description;
      break;
    case 13:
      if (name == "lastBuildDate") return &c.LastBuildDate;
      break;
    case 14:
      if (name == "managingEditor") return &c.ManagingEditor;
      break;
    default:
      break;
  }
  return nullptr;
}

String* ItemField(TKtIRSSItem& i, std::string_view name) {
  if (name == "title") return &i.Title;
  if (name == "link") return &i.Link;
  if (name == "description") return &i.Description;
  if (name == "dc:creator") return &i.Creator;
  if (name == "dc:date") return &i.Date;
  return nullptr;
}

// The declared encoding of the XML declaration that opens the text (after a byte-order mark and
// blanks), in either kind of quotes; empty when there is none.
std::string_view DeclaredEncoding(std::string_view text) {
  size_t p = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  while (p < text.size() && Blank(static_cast<unsigned char>(text[p]))) ++p;
  if (text.substr(p, 5) != "<?xml") return {};
  const size_t end = text.find("?>", p + 5);
  if (end == std::string_view::npos) return {};
  const std::string_view decl = text.substr(p + 5, end - p - 5);
  size_t k = decl.find("encoding");
  if (k == std::string_view::npos) return {};
  k += 8;
  while (k < decl.size() && Blank(static_cast<unsigned char>(decl[k]))) ++k;
  if (k >= decl.size() || decl[k] != '=') return {};
  ++k;
  while (k < decl.size() && Blank(static_cast<unsigned char>(decl[k]))) ++k;
  if (k >= decl.size() || (decl[k] != '"' && decl[k] != '\'')) return {};
  const size_t close = decl.find(decl[k], k + 1);
  if (close == std::string_view::npos) return {};
  return decl.substr(k + 1, close - k - 1);
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (fold(a[k]) != fold(b[k])) return false;
  }
  return true;
}

// Well-formed UTF-8: no overlong form, no surrogate, nothing above U+10FFFF, nothing cut short.
bool ValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    unsigned lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (n - i < len || p[i + 1] < lo || p[i + 1] > hi) return false;
    for (size_t k = 2; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

// A feed is UTF-8 when it starts with the UTF-8 byte-order mark or declares UTF-8, or when it
// declares nothing and its bytes are well-formed UTF-8; any other feed is read as Windows-1252.
bool IsUtf8Feed(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") return true;
  const std::string_view declared = DeclaredEncoding(text);
  if (!declared.empty()) return SameNoCase(declared, "utf-8") || SameNoCase(declared, "utf8");
  return ValidUtf8(text);
}

class Scanner {
 public:
  Scanner(TKtIRSSChannels& channels, bool utf8) : FChannels(channels), FUtf8(utf8) {}

  void Run(std::string_view text) {
    const char* const base = text.data();
    const size_t len = text.size();
    // The text ends in a virtual character 0; nothing past it is ever read.
    auto at = [&](size_t i) -> char { return i < len ? base[i] : '\0'; };
    size_t p = 0;
    while (p < len) {
      const size_t runStart = p;
      while (p < len && base[p] != '<' && base[p] != '\0') ++p;
      if (p >= len) return;  // the text after the last tag is never handed on
      if (p > runStart) TextStep(text.substr(runStart, p - runStart));
      const size_t tagStart = p;
      while (at(p) != '>' && at(p) != '\0') {
        const char c = base[p];
        if (c == '"' || c == '\'') {
          // A quoted stretch is skipped whole so a ">" inside an attribute value does not end
          // the tag; it stops at the end of the text like everything else.
          ++p;
          while (at(p) != c && at(p) != '\0') ++p;
          if (p >= len) return;
          if (base[p] == '\0') break;
        }
        ++p;
      }
      if (p >= len) return;
      TagStep(text.substr(tagStart, p - tagStart + 1));
      ++p;
    }
  }

 private:
  // The places of the path a text's field depends on, as bits.
  enum : unsigned char { kChannelItem = 1, kRdfItem = 2, kChannel = 4 };

  static std::string_view TagName(std::string_view tag) {
    size_t b = 0;
    while (b < tag.size() && (tag[b] == '\t' || tag[b] == ' ' || tag[b] == '<')) ++b;
    size_t e = b;
    while (e < tag.size()) {
      const char c = tag[e];
      if (c == '\0' || c == '\n' || c == '\r' || c == ' ' || c == '>') break;
      ++e;
    }
    return tag.substr(b, e - b);
  }

  void TagStep(std::string_view rawTag) {
    const std::string_view tag = TrimView(rawTag);
    const std::string_view name = TagName(tag);
    if (name == "?xml" || name == "!--" || Holds(name, "![CDATA[")) return;
    FTagName.assign(name);
    // What the text after this tag is filed under depends on the path before the tag. Only
    // whether that path holds each of three places matters, and that is kept per character of
    // the path as it grows, so no tag copies or searches the path: time stays linear in depth.
    FPrevHeld = Held();
    const bool closes = Holds(tag, "</");
    const bool empty = Holds(tag, "/>");
    if (!closes && !empty) {
      Grow(name);
      Grow("/");
    } else if (!empty) {
      DropLast();
    }
  }

  unsigned char Held() const { return FHeld.empty() ? 0 : FHeld.back(); }

  void Grow(std::string_view s) {
    for (char c : s) {
      FPath.push_back(c);
      unsigned char held = Held();
      if (c == '/') {
        const std::string_view path = FPath;
        auto ends = [&path](std::string_view what) {
          return path.size() >= what.size() && path.substr(path.size() - what.size()) == what;
        };
        if (ends("/channel/item/")) held |= kChannelItem;
        if (ends("rdf:RDF/item/")) held |= kRdfItem;
        if (ends("/channel/")) held |= kChannel;
      }
      FHeld.push_back(held);
    }
  }

  // Removes the last element whatever the end tag's name.
  void DropLast() {
    if (FPath.size() <= 2) return;
    const size_t slash = FPath.rfind('/', FPath.size() - 2);
    if (slash == std::string::npos) {
      FPath.clear();
      FHeld.clear();
      Grow("/");
    } else {
      FPath.resize(slash + 1);
      FHeld.resize(slash + 1);
    }
  }

  String Decoded(std::string_view text) const { return FUtf8 ? UTF8ToString(text) : AnsiToString(text); }

  void TextStep(std::string_view run) {
    const std::string_view text = TrimView(run);
    if (FTagName == "channel") {
      FChannels.Add();
    } else if (TKtIRSSChannel* channel = FChannels.Last()) {
      if (FTagName == "item") {
        channel->Items()->Add();
      } else {
        const bool itemLevel = (FPrevHeld & (kChannelItem | kRdfItem)) != 0;
        if (!itemLevel && (FPrevHeld & kChannel)) {
          if (String* field = ChannelField(*channel, FTagName)) *field = Decoded(text);
        } else if (itemLevel) {
          // A field met before the channel has any item has nowhere to go and is dropped.
          if (TKtIRSSItem* item = channel->Items()->Last())
            if (String* field = ItemField(*item, FTagName)) *field = Decoded(text);
        }
      }
    }
    FTagName.clear();
    FPrevHeld = 0;
  }

  TKtIRSSChannels& FChannels;
  const bool FUtf8;
  std::string FPath;
  // FHeld[k]: the places that occur in the path's first k + 1 characters.
  std::vector<unsigned char> FHeld;
  unsigned char FPrevHeld = 0;
  std::string FTagName;
};

}  // namespace

void ParseRSSText(std::string_view AText, TKtIRSSChannels& AChannels) {
  AChannels.ClearItems();
  if (AText.empty()) return;
  Scanner(AChannels, IsUtf8Feed(AText)).Run(AText);
}

TKtIRSSParser::TKtIRSSParser(TComponent* AOwner)
    : TKtCustomWebUpdater(AOwner), FChannels(std::make_unique<TKtIRSSChannels>()) {}

TKtIRSSParser::~TKtIRSSParser() {
  // A run that raised before its clean-up would otherwise leave the download behind.
  if (!FLocalFileName.empty() && FileExists(FLocalFileName)) DeleteFile(FLocalFileName);
}

bool TKtIRSSParser::Execute() {
  if (FLocalFileName.empty()) FLocalFileName = UniqueTempFileName(ExtractFileExt(RemoteFileName()));
  const bool result = TKtCustomWebUpdater::Execute();
  if (result && Status() == isFinished) ParseRSS();
  if (FileExists(FLocalFileName)) DeleteFile(FLocalFileName);
  return result;
}

void TKtIRSSParser::ParseRSS() {
  FChannels->ClearItems();
  std::string bytes;
  {
    TFileStream stream(FLocalFileName, fmOpenRead | fmShareDenyWrite);
    const Int64 size = stream.Size();
    bytes.resize(static_cast<size_t>(size));
    if (size > 0) stream.ReadBuffer(bytes.data(), static_cast<long>(size));
  }
  ParseRSSText(bytes, *FChannels);
}

const TClassInfo* TKtIRSSParser::StaticClassInfo() {
  static const TClassInfo* info =
      TClassBuilder<TKtIRSSParser>(u"TKtIRSSParser", TKtCustomWebUpdater::StaticClassInfo()).Component().Build();
  return info;
}

}  // namespace ktinet
