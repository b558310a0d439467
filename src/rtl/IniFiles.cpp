#include "rtl/IniFiles.h"

#include <sys/stat.h>

#include <unordered_map>

#include "rtl/Streams.h"

namespace ktinet {

namespace {

bool IsBlank(Char c) { return c == u' ' || c == u'\t'; }

String TrimBlanks(const String& s, size_t from = 0, size_t to = String::npos) {
  if (to > s.size()) to = s.size();
  while (from < to && IsBlank(s[from])) ++from;
  while (to > from && IsBlank(s[to - 1])) --to;
  return s.substr(from, to - from);
}

String Fold(const String& s) { return AnsiUpperCase(s); }

enum class FileEncoding { Ansi, UTF8, UTF8BOM, UTF16LE };

struct FileSignature {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long long mtimeSec = 0, mtimeNsec = 0;
  bool operator==(const FileSignature&) const = default;
};

FileSignature SignatureOf(const String& fileName) {
  FileSignature sig;
  struct stat st {};
  if (::stat(UTF8Encode(fileName).c_str(), &st) == 0) {
    sig.exists = true;
    sig.dev = st.st_dev;
    sig.ino = st.st_ino;
    sig.size = st.st_size;
    sig.mtimeSec = st.st_mtim.tv_sec;
    sig.mtimeNsec = st.st_mtim.tv_nsec;
  }
  return sig;
}

}  // namespace

// The file is kept as its lines, so that writing a key changes that line alone and comments,
// blank lines, repeated sections and text before the first section survive every rewrite.
struct TIniFile::Impl {
  enum Kind : unsigned char { kOther, kSection, kKey };
  struct Line {
    String raw;
    Kind kind = kOther;
    String name;    // section or key, blanks dropped
    String folded;  // name for case-insensitive comparison
    String value;   // blanks and one pair of enclosing quotes dropped
  };
  struct Section {
    size_t header;  // line of "[name]"
    size_t end;     // one past its last line
    // Folded key -> its first line, so that a lookup does not walk the section: reading every
    // key of a large file would otherwise take time growing with the square of its size.
    std::unordered_map<String, size_t> keys;
  };

  std::vector<Line> lines;
  std::vector<Section> sections;
  std::unordered_map<String, size_t> firstSection;  // folded name -> index in sections
  FileEncoding encoding = FileEncoding::UTF8;
  bool lfOnly = false;
  FileSignature signature;
  bool unreadable = false;  // the file exists but could not be read

  static Line Classify(String raw, bool inSection) {
    Line line;
    line.raw = std::move(raw);
    const String& s = line.raw;
    size_t p = 0;
    while (p < s.size() && IsBlank(s[p])) ++p;
    if (p < s.size() && s[p] == u'[') {
      // An unclosed "[" still opens a section, named by the rest of the line.
      size_t close = s.find(u']', p + 1);
      line.kind = kSection;
      line.name = TrimBlanks(s, p + 1, close);
    } else if (inSection && p < s.size() && s[p] != u';') {
      size_t eq = s.find(u'=', p);
      line.name = TrimBlanks(s, p, eq);
      if (line.name.empty()) return line;
      line.kind = kKey;
      if (eq != String::npos) {
        String v = TrimBlanks(s, eq + 1);
        if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
          v = v.substr(1, v.size() - 2);
        line.value = std::move(v);
      }
    }
    if (line.kind != kOther) line.folded = Fold(line.name);
    return line;
  }

  void Parse(const String& text) {
    lines.clear();
    lfOnly = false;
    bool sawBreak = false, inSection = false;
    size_t start = 0, n = text.size();
    auto addLine = [&](size_t from, size_t to) {
      lines.push_back(Classify(text.substr(from, to - from), inSection));
      if (lines.back().kind == kSection) inSection = true;
    };
    for (size_t i = 0; i < n; ++i) {
      Char c = text[i];
      if (c != u'\r' && c != u'\n') continue;
      if (!sawBreak) lfOnly = c == u'\n';
      sawBreak = true;
      addLine(start, i);
      if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
      start = i + 1;
    }
    if (start < n) addLine(start, n);
    Reindex();
  }

  void Reindex() {
    sections.clear();
    firstSection.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind == kKey && !sections.empty()) {
        sections.back().keys.emplace(lines[i].folded, i);
        continue;
      }
      if (lines[i].kind != kSection) continue;
      if (!sections.empty()) sections.back().end = i;
      sections.push_back({i, lines.size(), {}});
      firstSection.emplace(lines[i].folded, sections.size() - 1);
    }
  }

  const Section* Find(const String& section) const {
    auto it = firstSection.find(Fold(TrimBlanks(section)));
    return it == firstSection.end() ? nullptr : &sections[it->second];
  }

  const Line* FindKey(const Section& sec, const String& ident) const {
    auto it = sec.keys.find(Fold(TrimBlanks(ident)));
    return it == sec.keys.end() ? nullptr : &lines[it->second];
  }

  // Each key of the section once, in file order, with the value a lookup would give.
  std::vector<const Line*> Keys(const Section& sec) const {
    std::vector<const Line*> keys;
    for (size_t i = sec.header + 1; i < sec.end; ++i)
      if (lines[i].kind == kKey && sec.keys.at(lines[i].folded) == i) keys.push_back(&lines[i]);
    return keys;
  }

  String Serialize() const {
    String text;
    const Char* lb = lfOnly ? u"\n" : u"\r\n";
    for (const Line& line : lines) {
      text += line.raw;
      text += lb;
    }
    return text;
  }

  std::string Encode(const String& text) {
    switch (encoding) {
      case FileEncoding::UTF16LE:
        return "\xFF\xFE" + EncodeString(text, TTextEncoding::UTF16LE);
      case FileEncoding::UTF8BOM:
        return "\xEF\xBB\xBF" + UTF8Encode(text);
      case FileEncoding::UTF8:
        return UTF8Encode(text);
      case FileEncoding::Ansi:
        break;
    }
    unsigned char b;
    for (Char c : text) {
      if (!CharToAnsi(c, b)) {
        // A value Windows-1252 cannot carry turns the file into UTF-8, which reads back whole.
        encoding = FileEncoding::UTF8;
        return UTF8Encode(text);
      }
    }
    return StringToAnsi(text);
  }

  void LoadBytes(const std::string& bytes) {
    std::string_view v(bytes);
    if (v.substr(0, 3) == "\xEF\xBB\xBF") {
      encoding = FileEncoding::UTF8BOM;
      Parse(UTF8ToString(v.substr(3)));
    } else if (v.substr(0, 2) == "\xFF\xFE") {
      encoding = FileEncoding::UTF16LE;
      Parse(DecodeBytes(v.substr(2), TTextEncoding::UTF16LE));
    } else {
      String text = UTF8ToString(v);
      if (UTF8Encode(text) == bytes) {
        encoding = FileEncoding::UTF8;
      } else {
        encoding = FileEncoding::Ansi;
        text = AnsiToString(v);
      }
      Parse(text);
    }
  }
};

TIniFile::TIniFile(const String& fileName) : FFileName(fileName), FImpl(std::make_unique<Impl>()) { Refresh(); }

TIniFile::~TIniFile() = default;

void TIniFile::Refresh() const {
  FileSignature sig = SignatureOf(FFileName);
  if (sig == FImpl->signature && !FImpl->unreadable) return;
  FImpl->signature = sig;
  FImpl->unreadable = false;
  if (!sig.exists) {
    FImpl->encoding = FileEncoding::UTF8;
    FImpl->Parse(String());
    return;
  }
  try {
    TMemoryStream stream;
    stream.LoadFromFile(FFileName);
    FImpl->LoadBytes(stream.Bytes());
  } catch (const Exception&) {
    // Reads give their defaults, as for a missing file; writes refuse (see Modify).
    FImpl->unreadable = true;
    FImpl->Parse(String());
  }
}

void TIniFile::CheckWritable(std::initializer_list<const String*> texts) {
  for (const String* t : texts)
    if (t->find_first_of(u"\r\n") != String::npos)
      throw EIniFileException(u"Unable to write to " + FFileName + u". A section, key or value holds a line break");
  Refresh();
  // Rewriting what could not be read would destroy it.
  if (FImpl->unreadable) throw EIniFileException(u"Unable to write to " + FFileName + u". The file cannot be read");
}

String TIniFile::ReadString(const String& section, const String& ident, const String& def) const {
  Refresh();
  const Impl::Section* sec = FImpl->Find(section);
  if (!sec) return def;
  const Impl::Line* line = FImpl->FindKey(*sec, ident);
  return line ? line->value : def;
}

int TIniFile::ReadInteger(const String& section, const String& ident, int def) const {
  return StrToIntDef(ReadString(section, ident, String()), def);
}

bool TIniFile::ReadBool(const String& section, const String& ident, bool def) const {
  return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const String& section, const String& ident, const String& value) {
  CheckWritable({&section, &ident, &value});
  Impl& d = *FImpl;
  String sectionName = TrimBlanks(section), key = TrimBlanks(ident);
  // What is written must read back under the same names, or the file would say something else.
  Impl::Line line = Impl::Classify(key + u"=" + value, true);
  if (line.kind != Impl::kKey || line.name != key)
    throw EIniFileException(u"Unable to write to " + FFileName + u". '" + ident + u"' is not a valid key name");
  const Impl::Section* sec = d.Find(sectionName);
  if (!sec) {
    Impl::Line header = Impl::Classify(u"[" + sectionName + u"]", true);
    if (header.name != sectionName || sectionName.empty())
      throw EIniFileException(u"Unable to write to " + FFileName + u". '" + section + u"' is not a valid section name");
    d.lines.push_back(std::move(header));
    d.lines.push_back(std::move(line));
  } else {
    size_t insertAt = sec->header + 1;
    bool replaced = false;
    for (size_t i = sec->header + 1; i < sec->end; ++i) {
      if (d.lines[i].kind != Impl::kKey) continue;
      if (d.lines[i].folded == line.folded) {
        d.lines[i] = std::move(line);
        replaced = true;
        break;
      }
      insertAt = i + 1;
    }
    // A new key goes after the section's last key, ahead of blank lines and comments that
    // separate it from what follows.
    if (!replaced) d.lines.insert(d.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
  }
  d.Reindex();
  UpdateFile();
}

void TIniFile::WriteInteger(const String& section, const String& ident, int value) {
  WriteString(section, ident, IntToStr(value));
}

void TIniFile::WriteBool(const String& section, const String& ident, bool value) {
  WriteString(section, ident, value ? u"1" : u"0");
}

void TIniFile::ReadSections(TStrings* strings) const {
  Refresh();
  strings->BeginUpdate();
  try {
    strings->Clear();
    for (size_t i = 0; i < FImpl->sections.size(); ++i) {
      const Impl::Line& header = FImpl->lines[FImpl->sections[i].header];
      if (FImpl->firstSection.at(header.folded) == i) strings->Add(header.name);
    }
  } catch (...) {
    strings->EndUpdate();
    throw;
  }
  strings->EndUpdate();
}

void TIniFile::ReadSection(const String& section, TStrings* strings) const {
  Refresh();
  strings->BeginUpdate();
  try {
    strings->Clear();
    if (const Impl::Section* sec = FImpl->Find(section))
      for (const Impl::Line* line : FImpl->Keys(*sec)) strings->Add(line->name);
  } catch (...) {
    strings->EndUpdate();
    throw;
  }
  strings->EndUpdate();
}

void TIniFile::ReadSectionValues(const String& section, TStrings* strings) const {
  Refresh();
  strings->BeginUpdate();
  try {
    strings->Clear();
    if (const Impl::Section* sec = FImpl->Find(section))
      for (const Impl::Line* line : FImpl->Keys(*sec)) strings->Add(line->name + u"=" + line->value);
  } catch (...) {
    strings->EndUpdate();
    throw;
  }
  strings->EndUpdate();
}

bool TIniFile::SectionExists(const String& section) const {
  Refresh();
  const Impl::Section* sec = FImpl->Find(section);
  return sec && !FImpl->Keys(*sec).empty();
}

bool TIniFile::ValueExists(const String& section, const String& ident) const {
  Refresh();
  const Impl::Section* sec = FImpl->Find(section);
  return sec && FImpl->FindKey(*sec, ident);
}

void TIniFile::EraseSection(const String& section) {
  CheckWritable({&section});
  Impl& d = *FImpl;
  String folded = Fold(TrimBlanks(section));
  if (!d.firstSection.count(folded)) return;
  // Every section of that name goes, or a later one would surface in its place.
  std::vector<Impl::Line> kept;
  kept.reserve(d.lines.size());
  size_t next = 0;
  for (const Impl::Section& sec : d.sections) {
    if (d.lines[sec.header].folded != folded) continue;
    for (; next < sec.header; ++next) kept.push_back(std::move(d.lines[next]));
    next = sec.end;
  }
  for (; next < d.lines.size(); ++next) kept.push_back(std::move(d.lines[next]));
  d.lines.swap(kept);
  d.Reindex();
  UpdateFile();
}

void TIniFile::DeleteKey(const String& section, const String& ident) {
  CheckWritable({&section, &ident});
  Impl& d = *FImpl;
  const Impl::Section* sec = d.Find(section);
  if (!sec) return;
  String key = Fold(TrimBlanks(ident));
  size_t before = d.lines.size();
  auto first = d.lines.begin() + static_cast<std::ptrdiff_t>(sec->header + 1);
  auto last = d.lines.begin() + static_cast<std::ptrdiff_t>(sec->end);
  d.lines.erase(std::remove_if(first, last, [&](const Impl::Line& l) { return l.kind == Impl::kKey && l.folded == key; }),
                last);
  if (d.lines.size() == before) return;
  d.Reindex();
  UpdateFile();
}

void TIniFile::UpdateFile() {
  std::string bytes = FImpl->Encode(FImpl->Serialize());
  try {
    TFileStream stream(FFileName, fmCreate);
    if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<long>(bytes.size()));
  } catch (const Exception& e) {
    FImpl->signature = FileSignature{};  // the disk is the truth again at the next call
    FImpl->unreadable = true;
    throw EIniFileException(u"Unable to write to " + FFileName + u". " + e.Message());
  }
  FImpl->signature = SignatureOf(FFileName);
}

void TIniFile::LoadFromText(const String& text) {
  FImpl->Parse(text);
  FImpl->unreadable = false;
  // What the file holds now no longer counts; only a later change to it does.
  FImpl->signature = SignatureOf(FFileName);
}

}  // namespace ktinet
