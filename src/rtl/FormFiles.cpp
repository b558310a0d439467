#include "rtl/FormFiles.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <utility>
#include <vector>

#include "rtl/Exceptions.h"
#include "rtl/SysUtils.h"

namespace ktinet {

const TClassInfo* TDataModule::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TDataModule>(u"TDataModule", nullptr).Component().Build();
  return info;
}

// ---- Writing -----------------------------------------------------------------------------

String QuoteFormString(const String& S) {
  if (S.empty()) return u"''";
  String out;
  bool quoted = false;
  for (Char c : S) {
    if (c >= 32 && c < 127) {
      if (!quoted) out += u'\'';
      quoted = true;
      if (c == u'\'') out += u'\'';
      out += c;
    } else {
      if (quoted) out += u'\'';
      quoted = false;
      out += u'#' + IntToStr(static_cast<int>(c));
    }
  }
  if (quoted) out += u'\'';
  return out;
}

namespace {

constexpr const char16_t* kEol = u"\r\n";

String Indent(int level) { return String(static_cast<size_t>(level) * 2, u' '); }

String FloatText(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  std::string s = buf;
  // The shortest text that reads back as the same number.
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    if (std::strtod(buf, nullptr) == v) {
      s = buf;
      break;
    }
  }
  if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
  return UTF8ToString(s);
}

String ValueText(const TObject* obj, const TPropInfo* p) {
  const TTypeInfo* t = p->Type;
  switch (t->Kind) {
    case tkInteger:
    case tkInt64: return IntToStr(p->GetOrd(obj));
    case tkEnumeration:
    case tkSet: return GetPropValueText(obj, p);
    case tkFloat: return FloatText(p->GetFloat(obj));
    case tkString: return QuoteFormString(p->GetStr(obj));
    default: return String();
  }
}

void WriteProperties(const TObject* obj, const TClassInfo* info, const String& prefix, int level, String& out);

// Bytes as hexadecimal digits, 32 bytes a line, between braces.
void WriteBinary(const std::string& bytes, const String& name, int level, String& out) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  out += Indent(level) + name + u" = {";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 32 == 0) out += String(kEol) + Indent(level + 1);
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  out += String(u"}") + kEol;
}

void WriteStrings(const TStrings* list, const String& name, int level, String& out) {
  out += Indent(level) + name + u".Strings = (" + kEol;
  for (int i = 0; i < list->Count(); ++i) {
    out += Indent(level + 1) + QuoteFormString(list->Get(i));
    out += i + 1 == list->Count() ? u")" : u"";
    out += kEol;
  }
}

void WriteCollection(const TCollection* c, const String& name, int level, String& out) {
  out += Indent(level) + name + u" = <" + kEol;
  for (int i = 0; i < c->Count(); ++i) {
    const TCollectionItem* item = c->Items(i);
    out += Indent(level + 1) + u"item" + kEol;
    WriteProperties(item, item->ClassInfo(), String(), level + 2, out);
    out += Indent(level + 1) + u"end";
    out += i + 1 == c->Count() ? u">" : u"";
    out += kEol;
  }
}

void WriteProperties(const TObject* obj, const TClassInfo* info, const String& prefix, int level, String& out) {
  if (!info) return;
  for (const TPropInfo* p : info->Properties()) {
    if (p->IsEvent()) continue;
    const String name = prefix + p->Name;
    if (p->Type->Kind == tkClass) {
      if (!p->IsStored(obj)) continue;
      const TObject* sub = p->GetObj(obj);
      switch (p->Type->ClassKind) {
        case cpStrings: WriteStrings(static_cast<const TStrings*>(sub), name, level, out); break;
        case cpCollection: WriteCollection(static_cast<const TCollection*>(sub), name, level, out); break;
        case cpComponent: out += Indent(level) + name + u" = " + static_cast<const TComponent*>(sub)->Name() + kEol; break;
        default: WriteProperties(sub, sub->ClassInfo(), name + u".", level, out); break;
      }
      continue;
    }
    if (!p->IsStored(obj)) continue;
    if (p->Type->Kind == tkBinary) {
      WriteBinary(p->GetBin(obj), name, level, out);
      continue;
    }
    out += Indent(level) + name + u" = " + ValueText(obj, p) + kEol;
  }
}

void WriteObject(const TComponent* c, bool withChildren, int level, String& out) {
  const TClassInfo* info = c->ClassInfo();
  if (!info) throw EWriteError(u"Cannot write a " + c->ClassName() + u": it publishes no properties");
  out += Indent(level) + u"object " + (c->Name().empty() ? String() : c->Name() + u": ") + info->Name() + kEol;
  WriteProperties(c, info, String(), level + 1, out);
  if (withChildren)
    for (int i = 0; i < c->ComponentCount(); ++i) {
      const TComponent* child = c->Components(i);
      if (child->ClassInfo()) WriteObject(child, false, level + 1, out);
    }
  out += Indent(level) + u"end" + kEol;
}

// ---- Reading -----------------------------------------------------------------------------

enum TToken { tEnd, tIdent, tInteger, tFloat, tString, tSymbol };

class TParser {
 public:
  explicit TParser(const String& text) : FText(text) { Next(); }

  TToken Kind() const { return FKind; }
  const String& Text() const { return FToken; }
  int Line() const { return FTokenLine; }
  bool IsSymbol(Char c) const { return FKind == tSymbol && FToken.size() == 1 && FToken[0] == c; }
  bool IsIdent(const char16_t* word) const { return FKind == tIdent && SameText(FToken, word); }

  [[noreturn]] void Fail(const String& what) const { throw EReadError(u"Line " + IntToStr(FTokenLine) + u": " + what); }
  [[noreturn]] void Fail(int line, const String& what) const { throw EReadError(u"Line " + IntToStr(line) + u": " + what); }

  void ExpectSymbol(Char c) {
    if (!IsSymbol(c)) Fail(String(u"'") + c + u"' expected but " + Describe() + u" found");
    Next();
  }
  String ExpectIdent() {
    if (FKind != tIdent) Fail(u"identifier expected but " + Describe() + u" found");
    String s = FToken;
    Next();
    return s;
  }
  String Describe() const {
    switch (FKind) {
      case tEnd: return u"end of file";
      case tString: return u"a string";
      default: return u"'" + FToken + u"'";
    }
  }

  void Next() {
    SkipBlanks();
    FTokenLine = FLine;
    FToken.clear();
    if (FPos >= FText.size()) {
      FKind = tEnd;
      return;
    }
    Char c = FText[FPos];
    if (IsIdentStart(c)) {
      while (FPos < FText.size() && (IsIdentStart(FText[FPos]) || IsDigit(FText[FPos]) || FText[FPos] == u'.')) FToken += FText[FPos++];
      FKind = tIdent;
    } else if (IsDigit(c) || ((c == u'-' || c == u'+') && FPos + 1 < FText.size() && IsDigit(FText[FPos + 1])) || c == u'$') {
      ReadNumber();
    } else if (c == u'\'' || c == u'#') {
      ReadString();
    } else {
      FToken = String(1, c);
      ++FPos;
      FKind = tSymbol;
    }
  }

  // Hexadecimal digits up to the closing brace (the current token is the opening one).
  std::string ReadBinary() {
    const int line = FTokenLine;
    std::string bytes;
    int half = -1;
    for (;;) {
      if (FPos >= FText.size()) Fail(line, u"'}' expected but end of file found");
      Char c = FText[FPos++];
      if (c == u'}') break;
      if (c == u'\n') ++FLine;
      if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') continue;
      int v = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'A' && c <= u'F' ? c - u'A' + 10 : c >= u'a' && c <= u'f' ? c - u'a' + 10 : -1;
      if (v < 0) Fail(FLine, u"invalid binary value");
      if (half < 0) {
        half = v;
      } else {
        bytes += static_cast<char>(half * 16 + v);
        half = -1;
      }
    }
    if (half >= 0) Fail(line, u"invalid binary value (odd number of digits)");
    Next();
    return bytes;
  }

  // A string value: quoted runs and #codes, continued over lines with '+'.
  String ReadStringValue() {
    String s = FToken;
    Next();
    while (IsSymbol(u'+')) {
      Next();
      if (FKind != tString) Fail(u"string expected after '+'");
      s += FToken;
      Next();
    }
    return s;
  }

 private:
  static bool IsIdentStart(Char c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_'; }
  static bool IsDigit(Char c) { return c >= u'0' && c <= u'9'; }

  void SkipBlanks() {
    while (FPos < FText.size()) {
      Char c = FText[FPos];
      if (c == u'\n') ++FLine;
      if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') ++FPos;
      else break;
    }
  }

  void ReadNumber() {
    size_t start = FPos;
    if (FText[FPos] == u'$') {
      ++FPos;
      while (FPos < FText.size() && (IsDigit(FText[FPos]) || (FText[FPos] >= u'a' && FText[FPos] <= u'f') || (FText[FPos] >= u'A' && FText[FPos] <= u'F'))) ++FPos;
      FToken = FText.substr(start, FPos - start);
      FKind = tInteger;
      return;
    }
    if (FText[FPos] == u'-' || FText[FPos] == u'+') ++FPos;
    bool isFloat = false;
    while (FPos < FText.size()) {
      Char c = FText[FPos];
      if (IsDigit(c)) {
        ++FPos;
      } else if (c == u'.' || c == u'e' || c == u'E') {
        isFloat = true;
        ++FPos;
        if ((c == u'e' || c == u'E') && FPos < FText.size() && (FText[FPos] == u'-' || FText[FPos] == u'+')) ++FPos;
      } else {
        break;
      }
    }
    FToken = FText.substr(start, FPos - start);
    FKind = isFloat ? tFloat : tInteger;
  }

  void ReadString() {
    const int line = FLine;
    while (FPos < FText.size() && (FText[FPos] == u'\'' || FText[FPos] == u'#')) {
      if (FText[FPos] == u'#') {
        ++FPos;
        size_t start = FPos;
        while (FPos < FText.size() && IsDigit(FText[FPos])) ++FPos;
        if (start == FPos || FPos - start > 6) Fail(line, u"invalid character code in a string");
        long code = std::stol(StringToUTF8(FText.substr(start, FPos - start)));
        if (code > 0xFFFF) Fail(line, u"invalid character code in a string");
        FToken += static_cast<Char>(code);
        continue;
      }
      ++FPos;  // opening quote
      for (;;) {
        if (FPos >= FText.size() || FText[FPos] == u'\n' || FText[FPos] == u'\r') Fail(line, u"unterminated string");
        if (FText[FPos] == u'\'') {
          if (FPos + 1 < FText.size() && FText[FPos + 1] == u'\'') {
            FToken += u'\'';
            FPos += 2;
            continue;
          }
          ++FPos;
          break;
        }
        FToken += FText[FPos++];
      }
    }
    FKind = tString;
  }

  static std::string StringToUTF8(const String& s) { return UTF8Encode(s); }

  const String& FText;
  size_t FPos = 0;
  int FLine = 1;
  int FTokenLine = 1;
  TToken FKind = tEnd;
  String FToken;
};

struct TFixup {
  TObject* Instance;
  const TPropInfo* Prop;
  String Target;
  int Line;
};

class TReader {
 public:
  explicit TReader(const String& text) : P(text) {}

  std::unique_ptr<TComponent> ReadRoot(TComponent* owner) {
    auto [name, info, line] = ReadHeader();
    if (!info->IsComponent() || !info->Create()) P.Fail(line, u"class " + info->Name() + u" cannot be created from a form file");
    std::unique_ptr<TComponent> root(static_cast<TComponent*>(info->Create()(owner)));
    StartLoading(root.get());
    SetComponentName(root.get(), name, line);
    FRoot = root.get();
    ReadBody(root.get(), info);
    Finish();
    return root;
  }

  void ReadInto(TComponent* root) {
    auto [name, info, line] = ReadHeader();
    if (root->ClassInfo() != info) P.Fail(line, u"the file holds a " + info->Name() + u", not a " + root->ClassName());
    if (!name.empty() && !SameText(name, root->Name())) SetComponentName(root, name, line);
    FRoot = root;
    StartLoading(root);
    try {
      ReadBody(root, info);
      Finish();
    } catch (...) {
      // The root and what the file created so far stay with the caller: none of them is loading.
      for (TComponent* c : FLoading) c->SetLoading(false);
      throw;
    }
  }

 private:
  struct THeader {
    String Name;
    const TClassInfo* Info;
    int Line;
  };

  THeader ReadHeader() {
    const int line = P.Line();
    if (!(P.IsIdent(u"object") || P.IsIdent(u"inherited") || P.IsIdent(u"inline")))
      P.Fail(u"'object' expected but " + P.Describe() + u" found");
    P.Next();
    String first = P.ExpectIdent();
    String name, cls = first;
    if (P.IsSymbol(u':')) {
      P.Next();
      name = first;
      cls = P.ExpectIdent();
    }
    // An index in brackets (written by some designers for inherited forms) carries nothing here.
    if (P.IsSymbol(u'[')) {
      P.Next();
      if (P.Kind() != tInteger) P.Fail(u"number expected");
      P.Next();
      P.ExpectSymbol(u']');
    }
    const TClassInfo* info = FindClassInfo(cls);
    if (!info) P.Fail(line, u"class " + cls + u" not found");
    return {name, info, line};
  }

  void SetComponentName(TComponent* c, const String& name, int line) {
    if (name.empty()) return;
    try {
      c->SetName(name);
    } catch (const Exception& e) {
      P.Fail(line, e.Message());
    }
  }

  // The body of `root` and of every object nested in it. The open objects are kept on a stack
  // of our own rather than the call stack: a form file may come from anywhere, and tens of
  // thousands of nested objects must give a tree (or a line-numbered error), not a crash.
  void ReadBody(TComponent* root, const TClassInfo* rootInfo) {
    struct TOpen {
      TComponent* C;
      const TClassInfo* Info;
    };
    std::vector<TOpen> open{{root, rootInfo}};
    while (!open.empty()) {
      if (P.IsIdent(u"end")) {
        P.Next();
        open.pop_back();
        continue;
      }
      if (P.IsIdent(u"object") || P.IsIdent(u"inherited") || P.IsIdent(u"inline")) {
        auto [child, info] = ReadChildHeader();
        open.push_back({child, info});
        continue;
      }
      if (P.Kind() == tEnd) P.Fail(u"'end' expected but end of file found");
      const TOpen current = open.back();
      ReadProperty(current.C, current.Info, current.C->Name());
    }
  }

  // A nested object's header: the component is made (owned by the root) and its body follows.
  std::pair<TComponent*, const TClassInfo*> ReadChildHeader() {
    auto [name, info, line] = ReadHeader();
    if (!info->IsComponent() || !info->Create()) P.Fail(line, u"class " + info->Name() + u" cannot be created from a form file");
    auto* child = static_cast<TComponent*>(info->Create()(FRoot));
    StartLoading(child);
    SetComponentName(child, name, line);
    return {child, info};
  }

  // Prop = value, where Prop may be a dotted path through nested objects.
  void ReadProperty(TObject* obj, const TClassInfo* info, const String& ownerName) {
    const int line = P.Line();
    const String path = P.ExpectIdent();
    const String where = (ownerName.empty() ? String() : ownerName + u".") + path;
    P.ExpectSymbol(u'=');

    // Walk the path: every part but the last names a nested object.
    TObject* target = obj;
    const TClassInfo* targetInfo = info;
    size_t start = 0;
    for (;;) {
      size_t dot = path.find(u'.', start);
      String part = path.substr(start, dot == String::npos ? String::npos : dot - start);
      if (part.empty()) P.Fail(line, u"error reading " + where + u": invalid property name");
      // A string list's lines are its one stored value.
      if (dot == String::npos && SameText(part, u"Strings") && dynamic_cast<TStrings*>(target)) {
        ReadStrings(static_cast<TStrings*>(target), where);
        return;
      }
      const TPropInfo* prop = targetInfo ? targetInfo->FindProperty(part) : nullptr;
      if (!prop) P.Fail(line, u"error reading " + where + u": property " + part + u" does not exist");
      if (dot == String::npos) {
        ReadValue(target, prop, where, line);
        return;
      }
      if (prop->Type->Kind != tkClass || prop->Type->ClassKind == cpComponent)
        P.Fail(line, u"error reading " + where + u": " + part + u" has no properties of its own");
      target = prop->GetObj(target);
      if (!target) P.Fail(line, u"error reading " + where + u": " + part + u" is not assigned");
      targetInfo = target->ClassInfo();
      start = dot + 1;
    }
  }

  [[noreturn]] void BadValue(const String& where, const TPropInfo* prop, int line) {
    P.Fail(line, u"error reading " + where + u": invalid value for a property of type " + prop->Type->Name);
  }

  void ReadValue(TObject* obj, const TPropInfo* prop, const String& where, int line) {
    const TTypeInfo* t = prop->Type;
    if (t->Kind == tkMethod) P.Fail(line, u"error reading " + where + u": events cannot be set from a form file");
    if (prop->IsReadOnly()) P.Fail(line, u"error reading " + where + u": property " + prop->Name + u" is read-only");
    try {
      switch (t->Kind) {
        case tkInteger:
        case tkInt64: {
          if (P.Kind() != tInteger) BadValue(where, prop, line);
          long long v = 0;
          if (!ParseInteger(P.Text(), v) || v < t->MinValue || v > t->MaxValue) BadValue(where, prop, line);
          P.Next();
          prop->SetOrd(obj, v);
          return;
        }
        case tkEnumeration: {
          if (P.Kind() != tIdent) BadValue(where, prop, line);
          const int v = GetEnumValue(t, P.Text());
          if (v < 0) P.Fail(line, u"error reading " + where + u": " + P.Text() + u" is not a value of " + t->Name);
          P.Next();
          prop->SetOrd(obj, v);
          return;
        }
        case tkSet: {
          P.ExpectSymbol(u'[');
          std::uint64_t bits = 0;
          while (!P.IsSymbol(u']')) {
            if (P.Kind() != tIdent) BadValue(where, prop, line);
            const int v = GetEnumValue(t, P.Text());
            if (v < 0 || v >= 64) P.Fail(line, u"error reading " + where + u": " + P.Text() + u" is not an element of " + t->Name);
            bits |= std::uint64_t{1} << v;
            P.Next();
            if (P.IsSymbol(u',')) P.Next();
            else if (!P.IsSymbol(u']')) BadValue(where, prop, line);
          }
          P.Next();
          prop->SetOrd(obj, static_cast<std::int64_t>(bits));
          return;
        }
        case tkFloat: {
          if (P.Kind() != tFloat && P.Kind() != tInteger) BadValue(where, prop, line);
          double v = 0;
          if (!TryStrToFloat(P.Text(), v)) BadValue(where, prop, line);
          P.Next();
          prop->SetFloat(obj, v);
          return;
        }
        case tkString: {
          if (P.Kind() != tString) BadValue(where, prop, line);
          prop->SetStr(obj, P.ReadStringValue());
          return;
        }
        case tkClass: ReadClassValue(obj, prop, where, line); return;
        case tkBinary: {
          if (!P.IsSymbol(u'{')) BadValue(where, prop, line);
          prop->SetBin(obj, P.ReadBinary());
          return;
        }
        case tkMethod: break;
      }
    } catch (const EReadError&) {
      throw;
    } catch (const Exception& e) {
      // A writer that refuses the value (a bad host name, an out-of-range interval ...).
      P.Fail(line, u"error reading " + where + u": " + e.Message());
    }
  }

  void ReadClassValue(TObject* obj, const TPropInfo* prop, const String& where, int line) {
    switch (prop->Type->ClassKind) {
      case cpComponent: {
        if (P.IsIdent(u"nil")) {
          P.Next();
          prop->SetObj(obj, nullptr);
          return;
        }
        if (P.Kind() != tIdent) BadValue(where, prop, line);
        FFixups.push_back({obj, prop, P.Text(), line});
        P.Next();
        return;
      }
      case cpCollection: {
        auto* c = static_cast<TCollection*>(prop->GetObj(obj));
        P.ExpectSymbol(u'<');
        c->BeginUpdate();
        struct TEndUpdate {
          TCollection* C;
          ~TEndUpdate() { C->EndUpdate(); }
        } endUpdate{c};
        c->Clear();
        while (!P.IsSymbol(u'>')) {
          if (!P.IsIdent(u"item")) P.Fail(u"'item' expected but " + P.Describe() + u" found");
          P.Next();
          if (P.IsSymbol(u'[')) {  // an item index, as some writers add
            P.Next();
            P.Next();
            P.ExpectSymbol(u']');
          }
          TCollectionItem* item = c->Add();
          while (!P.IsIdent(u"end")) {
            if (P.Kind() == tEnd) P.Fail(u"'end' expected but end of file found");
            ReadProperty(item, item->ClassInfo(), where);
          }
          P.Next();
        }
        P.Next();
        return;
      }
      case cpStrings:
        P.Fail(line, u"error reading " + where + u": a string list is written as " + prop->Name + u".Strings = ( ... )");
      default: P.Fail(line, u"error reading " + where + u": give the properties of " + prop->Name + u" one by one (" + prop->Name + u".Name = value)");
    }
  }

  void ReadStrings(TStrings* list, const String& where) {
    P.ExpectSymbol(u'(');
    list->BeginUpdate();
    struct TEndUpdate {
      TStrings* L;
      ~TEndUpdate() { L->EndUpdate(); }
    } endUpdate{list};
    list->Clear();
    while (!P.IsSymbol(u')')) {
      if (P.Kind() != tString) P.Fail(u"error reading " + where + u": string expected but " + P.Describe() + u" found");
      list->Add(P.ReadStringValue());
    }
    P.Next();
  }

  void StartLoading(TComponent* c) {
    c->SetLoading(true);
    FLoading.push_back(c);
  }

  void Finish() {
    if (P.Kind() != tEnd) P.Fail(u"end of file expected but " + P.Describe() + u" found");
    for (const TFixup& f : FFixups) {
      TComponent* target = SameText(f.Target, FRoot->Name()) ? FRoot : FRoot->FindComponent(f.Target);
      if (!target) P.Fail(f.Line, u"error reading " + f.Prop->Name + u": no component named " + f.Target + u" in the file");
      try {
        f.Prop->SetObj(f.Instance, target);
      } catch (const Exception& e) {
        P.Fail(f.Line, u"error reading " + f.Prop->Name + u": " + e.Message());
      }
    }
    for (TComponent* c : FLoading) c->SetLoading(false);
    for (TComponent* c : FLoading) c->Loaded();
  }

  static bool ParseInteger(const String& text, long long& v) {
    std::string s = UTF8Encode(text);
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    if (s[0] == '$') v = static_cast<long long>(std::strtoull(s.c_str() + 1, &end, 16));
    else v = std::strtoll(s.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0' && end != s.c_str() + (s[0] == '$' ? 1 : 0);
  }

  TParser P;
  TComponent* FRoot = nullptr;
  std::vector<TFixup> FFixups;
  std::vector<TComponent*> FLoading;  // created or filled by this reader, in file order
};

}  // namespace

String WriteComponentText(const TComponent* Root) {
  String out;
  WriteObject(Root, true, 0, out);
  return out;
}

std::unique_ptr<TComponent> ReadComponentText(const String& Text, TComponent* Owner) {
  TReader reader(Text);
  return reader.ReadRoot(Owner);
}

void ReadComponentTextInto(const String& Text, TComponent* Root) {
  TReader reader(Text);
  reader.ReadInto(Root);
}

}  // namespace ktinet
