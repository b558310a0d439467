#include "xml/KtIRSS.h"

#include <cstring>
#include <string>

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

class Scanner {
 public:
  explicit Scanner(TKtIRSSChannels& channels) : FChannels(channels) {}

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
    FPrevPath = FPath;
    const bool closes = Holds(tag, "</");
    const bool empty = Holds(tag, "/>");
    if (!closes && !empty) {
      FPath.append(name);
      FPath.push_back('/');
    } else if (!empty) {
      DropLast();
    }
  }

  // Removes the last element whatever the end tag's name.
  void DropLast() {
    if (FPath.size() <= 2) return;
    const size_t slash = FPath.rfind('/', FPath.size() - 2);
    if (slash == std::string::npos) FPath = "/";
    else FPath.resize(slash + 1);
  }

  void TextStep(std::string_view run) {
    const std::string_view text = TrimView(run);
    if (FTagName == "channel") {
      FChannels.Add();
    } else if (TKtIRSSChannel* channel = FChannels.Last()) {
      if (FTagName == "item") {
        channel->Items()->Add();
      } else {
        const bool itemLevel = Holds(FPrevPath, "/channel/item/") || Holds(FPrevPath, "rdf:RDF/item/");
        if (!itemLevel && Holds(FPrevPath, "/channel/")) {
          if (String* field = ChannelField(*channel, FTagName)) *field = AnsiToString(text);
        } else if (itemLevel) {
          // A field met before the channel has any item has nowhere to go and is dropped.
          if (TKtIRSSItem* item = channel->Items()->Last())
            if (String* field = ItemField(*item, FTagName)) *field = AnsiToString(text);
        }
      }
    }
    FTagName.clear();
    FPrevPath.clear();
  }

  TKtIRSSChannels& FChannels;
  std::string FPath;
  std::string FPrevPath;
  std::string FTagName;
};

}  // namespace

void ParseRSSText(std::string_view AText, TKtIRSSChannels& AChannels) {
  AChannels.ClearItems();
  if (AText.empty()) return;
  Scanner(AChannels).Run(AText);
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
