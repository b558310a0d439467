#include "rtl/Classes.h"

#include <cxxabi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <typeinfo>
#include <utility>

#include "rtl/Streams.h"

namespace ktinet {

namespace {

// Drops every namespace qualifier ("ktinet::TFoo" -> "TFoo", also inside template arguments)
// so class names read as the framework prints them.
String StripQualifiers(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == ':' && i + 1 < name.size() && name[i + 1] == ':') {
      if (!out.empty() && out.back() == ')') {
        // "(anonymous namespace)::"
        size_t open = out.rfind('(');
        out.erase(open == std::string::npos ? 0 : open);
      } else {
        while (!out.empty() && (std::isalnum(static_cast<unsigned char>(out.back())) || out.back() == '_'))
          out.pop_back();
      }
      ++i;
      continue;
    }
    out += name[i];
  }
  return UTF8ToString(out);
}

String ListIndexError(int index) { return u"List index out of bounds (" + IntToStr(index) + u")"; }

bool IsValidIdent(const String& s) {
  if (s.empty()) return false;
  auto alpha = [](Char c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_'; };
  if (!alpha(s[0])) return false;
  return std::all_of(s.begin() + 1, s.end(), [&](Char c) { return alpha(c) || (c >= u'0' && c <= u'9'); });
}

// A merge sort over positions that stays in bounds and terminates whatever the comparison
// answers; a caller's inconsistent comparison only yields an odd order.
template <class Less>
std::vector<int> SortedOrder(int count, Less less) {
  std::vector<int> a(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) a[static_cast<size_t>(i)] = i;
  std::vector<int> b(a.size());
  for (size_t width = 1; width < a.size(); width *= 2) {
    for (size_t lo = 0; lo < a.size(); lo += 2 * width) {
      size_t mid = std::min(lo + width, a.size()), hi = std::min(lo + 2 * width, a.size());
      size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) b[k++] = less(a[j], a[i]) ? a[j++] : a[i++];
      while (i < mid) b[k++] = a[i++];
      while (j < hi) b[k++] = a[j++];
    }
    a.swap(b);
  }
  return a;
}

String QuoteItem(const String& s, Char quote) {
  String r(1, quote);
  for (Char c : s) {
    r += c;
    if (c == quote) r += c;
  }
  r += quote;
  return r;
}

String JoinDelimited(const TStrings& list, Char delimiter, Char quote, bool strict) {
  int count = list.Count();
  if (count == 1 && list.Get(0).empty()) return String(2, quote);
  String result;
  for (int i = 0; i < count; ++i) {
    String s = list.Get(i);
    if (quote != 0) {
      bool needsQuotes = std::any_of(s.begin(), s.end(), [&](Char c) {
        return c == quote || c == delimiter || c == 0 || (!strict && c <= u' ');
      });
      if (needsQuotes) s = QuoteItem(s, quote);
    }
    if (i > 0) result += delimiter;
    result += s;
  }
  return result;
}

void SplitDelimited(TStrings& list, const String& text, Char delimiter, Char quote, bool strict) {
  // NUL counts as a blank outside strict mode so that every pass of the loop consumes input.
  auto blank = [&](Char c) { return !strict && c <= u' ' && c != delimiter; };
  list.BeginUpdate();
  try {
    list.Clear();
    size_t p = 0, n = text.size();
    while (p < n && blank(text[p])) ++p;
    while (p < n) {
      String s;
      if (quote != 0 && text[p] == quote) {
        ++p;
        while (p < n) {
          if (text[p] == quote) {
            if (p + 1 < n && text[p + 1] == quote) {
              s += quote;
              p += 2;
              continue;
            }
            ++p;
            break;
          }
          s += text[p++];
        }
      } else {
        size_t start = p;
        while (p < n && text[p] != delimiter && (strict || text[p] > u' ')) ++p;
        s.assign(text, start, p - start);
      }
      list.Add(s);
      while (p < n && blank(text[p])) ++p;
      if (p < n && text[p] == delimiter) {
        if (p + 1 == n) list.Add(String());
        ++p;
        while (p < n && blank(text[p])) ++p;
      }
    }
  } catch (...) {
    list.EndUpdate();
    throw;
  }
  list.EndUpdate();
}

class UpdateScope {
 public:
  explicit UpdateScope(TStrings& s) : FStrings(s) { FStrings.BeginUpdate(); }
  ~UpdateScope() { FStrings.EndUpdate(); }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

 private:
  TStrings& FStrings;
};

}  // namespace

// ---- Text encodings ------------------------------------------------------------------------

std::string EncodeString(const String& s, TTextEncoding encoding) {
  switch (encoding) {
    case TTextEncoding::UTF8:
      return UTF8Encode(s);
    case TTextEncoding::UTF16LE: {
      std::string out;
      out.reserve(s.size() * 2);
      for (Char c : s) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
      }
      return out;
    }
    case TTextEncoding::Ansi:
      break;
  }
  return StringToAnsi(s, '?');
}

String DecodeBytes(std::string_view bytes, TTextEncoding encoding) {
  switch (encoding) {
    case TTextEncoding::UTF8:
      return UTF8ToString(bytes);
    case TTextEncoding::UTF16LE: {
      String out;
      out.reserve(bytes.size() / 2 + 1);
      size_t i = 0;
      for (; i + 1 < bytes.size(); i += 2)
        out += static_cast<Char>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
      if (i < bytes.size()) out += u'\uFFFD';  // half a code unit
      return out;
    }
    case TTextEncoding::Ansi:
      break;
  }
  return AnsiToString(bytes);
}

String DecodeWithBOM(std::string_view bytes, TTextEncoding fallback) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return UTF8ToString(bytes.substr(3));
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") return DecodeBytes(bytes.substr(2), TTextEncoding::UTF16LE);
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
    std::string swapped(bytes.substr(2));
    for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    return DecodeBytes(swapped, TTextEncoding::UTF16LE);
  }
  return DecodeBytes(bytes, fallback);
}

// ---- TObject / TPersistent -----------------------------------------------------------------

String TObject::ClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled) ? demangled : mangled;
  std::free(demangled);
  return StripQualifiers(name);
}

void TPersistent::Assign(const TPersistent* source) {
  if (source) {
    source->AssignTo(this);
    return;
  }
  throw EConvertError(u"Cannot assign a nil to a " + ClassName());
}

void TPersistent::AssignTo(TPersistent* dest) const {
  String destName = dest ? dest->ClassName() : String(u"nil");
  throw EConvertError(u"Cannot assign a " + ClassName() + u" to a " + destName);
}

String TPersistent::GetNamePath() const {
  String result = ClassName();
  if (TPersistent* owner = GetOwner()) {
    String ownerPath = owner->GetNamePath();
    if (!ownerPath.empty()) result = ownerPath + u"." + result;
  }
  return result;
}

// ---- TComponent ----------------------------------------------------------------------------

TComponent::~TComponent() {
  Destroying();
  // Every link is dropped in both directions before the receiver hears of it, so a receiver
  // that does not call the inherited Notification still leaves nothing behind.
  while (FLinks && !FLinks->FreeNotifies.empty()) {
    TComponent* other = FLinks->FreeNotifies.back();
    FLinks->FreeNotifies.pop_back();
    auto& back = other->TheLinks().FreeNotifies;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

const String& TComponent::NoName() {
  static const String none;
  return none;
}

TComponent::Links& TComponent::TheLinks() {
  if (!FLinks) FLinks = std::make_unique<Links>();
  return *FLinks;
}

void TComponent::Destroying() {
  if (FComponentState & csDestroying) return;
  FComponentState |= csDestroying;
  if (FLinks)
    for (TComponent* c : FLinks->Components) c->Destroying();
}

String TComponent::GetNamePath() const { return Name(); }

void TComponent::SetName(const String& name) {
  if (name == Name()) return;
  if (!name.empty() && !IsValidIdent(name))
    throw EComponentError(u"'" + name + u"' is not a valid component name");
  if (FOwner && !name.empty() && !SameText(name, Name())) {
    TComponent* other = FOwner->FindComponent(name);
    if (other && other != this) throw EComponentError(u"A component named " + name + u" already exists");
  }
  if (FOwner) FOwner->UnindexName(this);
  TheLinks().Name = name;
  if (FOwner) FOwner->IndexName(this);
}

void TComponent::IndexName(TComponent* c) {
  if (!c->Name().empty()) TheLinks().NameIndex.insert_or_assign(UpperCase(c->Name()), c);
}

void TComponent::UnindexName(TComponent* c) {
  if (!FLinks || c->Name().empty()) return;
  auto it = FLinks->NameIndex.find(UpperCase(c->Name()));
  if (it != FLinks->NameIndex.end() && it->second == c) FLinks->NameIndex.erase(it);
}

void TComponent::SetDesigning(bool value) {
  if (value)
    FComponentState |= csDesigning;
  else
    FComponentState &= ~static_cast<unsigned>(csDesigning);
  if (FLinks)
    for (TComponent* c : FLinks->Components) c->SetDesigning(value);
}

void TComponent::SetLoading(bool value) {
  if (value)
    FComponentState |= csLoading;
  else
    FComponentState &= ~static_cast<unsigned>(csLoading);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) throw EListError(ListIndexError(index));
  return FLinks->Components[static_cast<size_t>(index)];
}

TComponent* TComponent::FindComponent(const String& name) const {
  if (name.empty() || !FLinks) return nullptr;
  auto it = FLinks->NameIndex.find(UpperCase(name));
  return it == FLinks->NameIndex.end() ? nullptr : it->second;
}

void TComponent::InsertComponent(TComponent* c) {
  if (!c || c == this) return;
  if (c->FOwner == this) return;
  if (!c->Name().empty() && FindComponent(c->Name()))
    throw EComponentError(u"A component named " + c->Name() + u" already exists");
  if (c->FOwner) c->FOwner->RemoveComponent(c);
  Insert(c);
  if (FComponentState & csDesigning) c->SetDesigning(true);
  Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
  if (!c || c->FOwner != this) return;
  Notification(c, opRemove);
  Remove(c);
}

void TComponent::DestroyComponents() {
  while (FLinks && !FLinks->Components.empty()) {
    TComponent* c = FLinks->Components.back();
    Remove(c);
    delete c;
  }
}

void TComponent::FreeNotification(TComponent* c) {
  if (!c || c == this) return;
  auto& mine = TheLinks().FreeNotifies;
  if (std::find(mine.begin(), mine.end(), c) == mine.end()) mine.push_back(c);
  auto& back = c->TheLinks().FreeNotifies;
  if (std::find(back.begin(), back.end(), this) == back.end()) back.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* c) {
  if (!c) return;
  if (FLinks) {
    auto& mine = FLinks->FreeNotifies;
    mine.erase(std::remove(mine.begin(), mine.end(), c), mine.end());
  }
  if (c->FLinks) {
    auto& back = c->FLinks->FreeNotifies;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
  }
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
  // While a form file loads into this component, the components it owns do not hear of one
  // another's arrival: each would hear of every later one, and reading a file of N components
  // would take time growing with N squared. They hear of removals as always, and Loaded tells
  // each of them when the file is read.
  if (Operation == opInsert && (FComponentState & csLoading)) return;
  // Owned components hear of it too; a handler may remove components while we walk.
  for (size_t i = static_cast<size_t>(ComponentCount()); i-- > 0;) {
    const size_t n = static_cast<size_t>(ComponentCount());
    if (i >= n) {
      if (n == 0) break;
      i = n - 1;
    }
    FLinks->Components[i]->Notification(AComponent, Operation);
  }
}

void TComponent::Insert(TComponent* c) {
  TheLinks().Components.push_back(c);
  c->FOwner = this;
  IndexName(c);
}

void TComponent::Remove(TComponent* c) {
  UnindexName(c);
  if (FLinks) {
    auto& list = FLinks->Components;
    // Owned components go last-created first: looking from the end finds them at once.
    auto it = std::find(list.rbegin(), list.rend(), c);
    if (it != list.rend()) list.erase(std::next(it).base());
  }
  c->FOwner = nullptr;
}

// ---- TList ---------------------------------------------------------------------------------

TList::TList(const TList& other) : TObject(other) { *this = other; }

TList& TList::operator=(const TList& other) {
  if (this == &other) return *this;
  FCount = 0;
  if (FCapacity < other.FCount) Grow(other.FCount);
  if (other.FCount > 0) std::memcpy(FData, other.FData, static_cast<size_t>(other.FCount) * sizeof(void*));
  FCount = other.FCount;
  return *this;
}

TList::~TList() {
  if (FData) TList::FreeStore(FData, FCapacity);
}

void** TList::NewStore(int capacity) {
  void* p = std::malloc(static_cast<size_t>(capacity) * sizeof(void*));
  if (!p) throw std::bad_alloc();
  return static_cast<void**>(p);
}

void TList::FreeStore(void** store, int capacity) noexcept {
  (void)capacity;
  std::free(store);
}

void TList::DropStore() noexcept {
  if (FData) FreeStore(FData, FCapacity);
  FData = nullptr;
  FCount = FCapacity = 0;
}

void TList::Grow(int capacity) {
  void** moved = NewStore(capacity);
  if (FCount > 0) std::memcpy(moved, FData, static_cast<size_t>(FCount) * sizeof(void*));
  if (FData) FreeStore(FData, FCapacity);
  FData = moved;
  FCapacity = capacity;
}

void TList::IndexError(int index) { throw EListError(ListIndexError(index)); }

void TList::Check(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
}

void TList::GrowForAdd() {
  if (FCapacity >= std::numeric_limits<int>::max() / 2) throw std::bad_alloc();
  Grow(FCapacity < 4 ? 4 : FCapacity * 2);
}

void TList::Insert(int index, void* item) {
  if (index < 0 || index > Count()) IndexError(index);
  Add(item);
  std::memmove(FData + index + 1, FData + index, static_cast<size_t>(FCount - 1 - index) * sizeof(void*));
  FData[index] = item;
}

void TList::Delete(int index) {
  Check(index);
  std::memmove(FData + index, FData + index + 1, static_cast<size_t>(FCount - 1 - index) * sizeof(void*));
  --FCount;
}

int TList::Remove(void* item) {
  int i = IndexOf(item);
  if (i >= 0) Delete(i);
  return i;
}

int TList::IndexOf(void* item) const {
  for (int k = 0; k < FCount; ++k)
    if (FData[k] == item) return k;
  return -1;
}

void* TList::Extract(void* item) {
  int i = IndexOf(item);
  if (i < 0) return nullptr;
  Delete(i);
  return item;
}

void TList::Exchange(int a, int b) {
  Check(a);
  Check(b);
  std::swap(FData[a], FData[b]);
}

void TList::Move(int from, int to) {
  if (from == to) return;
  Check(from);
  Check(to);
  void* item = FData[from];
  Delete(from);
  Insert(to, item);
}

void TList::Clear() { FCount = 0; }

void TList::SetCapacity(int value) {
  if (value < Count()) throw EListError(u"List capacity out of bounds (" + IntToStr(value) + u")");
  if (value == FCapacity) return;
  if (value == 0) {
    DropStore();
    return;
  }
  Grow(value);
}

void TList::SetItems(int index, void* item) {
  Check(index);
  FData[index] = item;
}

// ---- TStrings ------------------------------------------------------------------------------

void TStrings::Put(int index, const String& s) {
  UpdateScope scope(*this);
  TObject* obj = GetObject(index);
  Delete(index);
  InsertObject(index, s, obj);
}

TObject* TStrings::GetObject(int) const { return nullptr; }

void TStrings::PutObject(int, TObject*) {}

int TStrings::Add(const String& s) {
  int index = Count();
  Insert(index, s);
  return index;
}

int TStrings::AddObject(const String& s, TObject* obj) {
  int index = Add(s);
  PutObject(index, obj);
  return index;
}

void TStrings::InsertObject(int index, const String& s, TObject* obj) {
  Insert(index, s);
  PutObject(index, obj);
}

void TStrings::AddStrings(const TStrings* other) {
  if (!other) return;
  UpdateScope scope(*this);
  // A list added to itself adds its original lines once.
  int count = other->Count();
  for (int i = 0; i < count; ++i) AddObject(other->Get(i), other->GetObject(i));
}

void TStrings::Exchange(int a, int b) {
  UpdateScope scope(*this);
  String sa = Get(a), sb = Get(b);
  TObject* oa = GetObject(a);
  TObject* ob = GetObject(b);
  Put(a, sb);
  PutObject(a, ob);
  Put(b, sa);
  PutObject(b, oa);
}

void TStrings::Move(int from, int to) {
  if (from == to) return;
  UpdateScope scope(*this);
  String s = Get(from);
  TObject* obj = GetObject(from);
  // Detach the object first so a list that owns its objects does not free it on Delete.
  PutObject(from, nullptr);
  Delete(from);
  InsertObject(to, s, obj);
}

int TStrings::IndexOf(const String& s) const {
  int count = Count();
  for (int i = 0; i < count; ++i)
    if (CompareStrings(Get(i), s) == 0) return i;
  return -1;
}

int TStrings::IndexOfObject(TObject* obj) const {
  int count = Count();
  for (int i = 0; i < count; ++i)
    if (GetObject(i) == obj) return i;
  return -1;
}

String TStrings::Text() const {
  String result;
  int count = Count();
  for (int i = 0; i < count; ++i) {
    result += Get(i);
    result += FLineBreak;
  }
  return result;
}

void TStrings::SetText(const String& text) {
  UpdateScope scope(*this);
  Clear();
  size_t n = text.size(), start = 0;
  if (FLineBreak == u"\r\n" || FLineBreak.empty()) {
    for (size_t i = 0; i < n; ++i) {
      Char c = text[i];
      if (c != u'\r' && c != u'\n') continue;
      Add(text.substr(start, i - start));
      if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
      start = i + 1;
    }
  } else {
    // A line break of the caller's choosing splits only at that exact text.
    for (size_t p; (p = text.find(FLineBreak, start)) != String::npos; start = p + FLineBreak.size())
      Add(text.substr(start, p - start));
  }
  if (start < n) Add(text.substr(start));
}

String TStrings::CommaText() const { return JoinDelimited(*this, u',', u'"', false); }

void TStrings::SetCommaText(const String& text) { SplitDelimited(*this, text, u',', u'"', false); }

String TStrings::DelimitedText() const { return JoinDelimited(*this, FDelimiter, FQuoteChar, FStrictDelimiter); }

void TStrings::SetDelimitedText(const String& text) {
  SplitDelimited(*this, text, FDelimiter, FQuoteChar, FStrictDelimiter);
}

String TStrings::Names(int index) const {
  String s = Get(index);
  size_t p = s.find(FNameValueSeparator);
  return p == String::npos ? String() : s.substr(0, p);
}

String TStrings::ValueFromIndex(int index) const {
  String s = Get(index);
  size_t p = s.find(FNameValueSeparator);
  return p == String::npos ? String() : s.substr(p + 1);
}

String TStrings::Values(const String& name) const {
  int i = IndexOfName(name);
  return i < 0 ? String() : ValueFromIndex(i);
}

void TStrings::SetValue(const String& name, const String& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  String line = name + FNameValueSeparator + value;
  if (i < 0) {
    Add(line);
    return;
  }
  auto* list = dynamic_cast<TStringList*>(this);
  if (list && list->Sorted()) {
    // A sorted list cannot take a line in place; the new line finds its own position.
    UpdateScope scope(*this);
    TObject* obj = GetObject(i);
    PutObject(i, nullptr);
    Delete(i);
    AddObject(line, obj);
    return;
  }
  Put(i, line);
}

int TStrings::IndexOfName(const String& name) const {
  int count = Count();
  for (int i = 0; i < count; ++i) {
    String s = Get(i);
    size_t p = s.find(FNameValueSeparator);
    if (p != String::npos && CompareStrings(s.substr(0, p), name) == 0) return i;
  }
  return -1;
}

void TStrings::BeginUpdate() {
  if (FUpdateCount == 0) SetUpdateState(true);
  ++FUpdateCount;
}

void TStrings::EndUpdate() {
  if (FUpdateCount == 0) return;
  --FUpdateCount;
  if (FUpdateCount == 0) SetUpdateState(false);
}

void TStrings::Assign(const TPersistent* source) {
  auto* other = dynamic_cast<const TStrings*>(source);
  if (!other) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  UpdateScope scope(*this);
  Clear();
  FDelimiter = other->FDelimiter;
  FQuoteChar = other->FQuoteChar;
  FNameValueSeparator = other->FNameValueSeparator;
  FStrictDelimiter = other->FStrictDelimiter;
  FLineBreak = other->FLineBreak;
  AddStrings(other);
}

bool TStrings::Equals(const TStrings* other) const {
  if (!other) return false;
  int count = Count();
  if (count != other->Count()) return false;
  for (int i = 0; i < count; ++i)
    if (Get(i) != other->Get(i)) return false;
  return true;
}

std::vector<String> TStrings::ToVector() const {
  std::vector<String> v;
  int count = Count();
  v.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) v.push_back(Get(i));
  return v;
}

void TStrings::LoadFromFile(const String& fileName, TTextEncoding encoding) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&stream, encoding);
}

void TStrings::SaveToFile(const String& fileName, TTextEncoding encoding) const {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(&stream, encoding);
}

void TStrings::LoadFromStream(TStream* stream, TTextEncoding encoding) {
  Int64 size = stream->Size() - stream->Position();
  std::string bytes(static_cast<size_t>(std::max<Int64>(size, 0)), '\0');
  if (!bytes.empty()) stream->ReadBuffer(bytes.data(), static_cast<long>(bytes.size()));
  SetText(DecodeWithBOM(bytes, encoding));
}

void TStrings::SaveToStream(TStream* stream, TTextEncoding encoding) const {
  std::string bytes = encoding == TTextEncoding::UTF16LE ? std::string("\xFF\xFE") : std::string();
  bytes += EncodeString(Text(), encoding);
  if (!bytes.empty()) stream->WriteBuffer(bytes.data(), static_cast<long>(bytes.size()));
}

void TStrings::SetUpdateState(bool) {}

int TStrings::CompareStrings(const String& a, const String& b) const { return CompareText(a, b); }

void TStrings::Error(const char* msg, int index) const {
  String text = UTF8ToString(msg);
  size_t p = text.find(u"%d");
  if (p != String::npos) text.replace(p, 2, IntToStr(index));
  throw EStringListError(text);
}

// ---- TStringList ---------------------------------------------------------------------------

namespace {
constexpr const char* kIndexError = "List index out of bounds (%d)";
constexpr const char* kSortedError = "Operation not allowed on sorted list";
constexpr const char* kDuplicateError = "String list does not allow duplicates";
}  // namespace

TStringList::~TStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  if (FOwnsObjects)
    for (Item& item : FList) delete std::exchange(item.obj, nullptr);
}

String TStringList::Get(int index) const {
  if (index < 0 || index >= Count()) Error(kIndexError, index);
  return FList[static_cast<size_t>(index)].s;
}

void TStringList::Put(int index, const String& s) {
  if (FSorted) Error(kSortedError, 0);
  if (index < 0 || index >= Count()) Error(kIndexError, index);
  Changing();
  FList[static_cast<size_t>(index)].s = s;
  Changed();
}

TObject* TStringList::GetObject(int index) const {
  if (index < 0 || index >= Count()) Error(kIndexError, index);
  return FList[static_cast<size_t>(index)].obj;
}

void TStringList::PutObject(int index, TObject* obj) {
  if (index < 0 || index >= Count()) Error(kIndexError, index);
  Changing();
  FList[static_cast<size_t>(index)].obj = obj;
  Changed();
}

void TStringList::Insert(int index, const String& s) {
  if (FSorted) Error(kSortedError, 0);
  if (index < 0 || index > Count()) Error(kIndexError, index);
  InsertItem(index, s, nullptr);
}

void TStringList::InsertItem(int index, const String& s, TObject* obj) {
  Changing();
  FList.insert(FList.begin() + index, Item{s, obj});
  Changed();
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) Error(kIndexError, index);
  Changing();
  TObject* obj = FList[static_cast<size_t>(index)].obj;
  FList.erase(FList.begin() + index);
  // The object goes after the line, so its destructor sees a consistent list.
  if (FOwnsObjects) delete obj;
  Changed();
}

void TStringList::Clear() {
  if (FList.empty()) return;
  Changing();
  std::vector<Item> old;
  old.swap(FList);
  if (FOwnsObjects)
    for (Item& item : old) delete item.obj;
  Changed();
}

int TStringList::AddObject(const String& s, TObject* obj) {
  int index = Count();
  if (FSorted) {
    if (Find(s, index)) {
      if (FDuplicates == dupIgnore) return index;
      if (FDuplicates == dupError) Error(kDuplicateError, 0);
    }
  }
  InsertItem(index, s, obj);
  return index;
}

int TStringList::Add(const String& s) { return AddObject(s, nullptr); }

int TStringList::IndexOf(const String& s) const {
  if (!FSorted) return TStrings::IndexOf(s);
  int index;
  return Find(s, index) ? index : -1;
}

bool TStringList::Find(const String& s, int& index) const {
  // The first of equal lines, or where the line would go.
  int lo = 0, hi = Count();
  bool found = false;
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    int c = CompareStrings(FList[static_cast<size_t>(mid)].s, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      if (c == 0) found = true;
      hi = mid;
    }
  }
  index = lo;
  return found;
}

void TStringList::Sort() {
  CustomSort([](TStringList* list, int a, int b) {
    return list->CompareStrings(list->FList[static_cast<size_t>(a)].s, list->FList[static_cast<size_t>(b)].s);
  });
}

void TStringList::CustomSort(const std::function<int(TStringList*, int, int)>& compare) {
  if (FSorted || Count() < 2) return;
  Changing();
  // The comparison reads the list by position, so the list stays as it is until the order is known.
  std::vector<int> order = SortedOrder(Count(), [&](int a, int b) { return compare(this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(FList.size());
  for (int i : order) sorted.push_back(std::move(FList[static_cast<size_t>(i)]));
  FList.swap(sorted);
  Changed();
}

void TStringList::SetSorted(bool v) {
  if (v == FSorted) return;
  if (v) Sort();
  FSorted = v;
}

void TStringList::SetCaseSensitive(bool v) {
  if (v == FCaseSensitive) return;
  FCaseSensitive = v;
  if (FSorted) {
    FSorted = false;
    SetSorted(true);
  }
}

void TStringList::SetUpdateState(bool updating) {
  if (updating)
    Changing();
  else
    Changed();
}

int TStringList::CompareStrings(const String& a, const String& b) const {
  return FCaseSensitive ? CompareStr(a, b) : CompareText(a, b);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

// ---- TCollection ---------------------------------------------------------------------------

TCollectionItem::TCollectionItem(TCollection* collection) { SetCollection(collection); }

TCollectionItem::~TCollectionItem() { SetCollection(nullptr); }

void TCollectionItem::SetCollection(TCollection* c) {
  if (c == FCollection) return;
  if (FCollection) FCollection->RemoveItem(this);
  if (c) c->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (!FCollection) return -1;
  auto& items = FCollection->FItems;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int index) {
  int current = Index();
  if (current < 0 || current == index) return;
  auto& items = FCollection->FItems;
  if (index < 0 || index >= static_cast<int>(items.size())) throw EListError(ListIndexError(index));
  items.erase(items.begin() + current);
  items.insert(items.begin() + index, this);
  Changed(true);
}

String TCollectionItem::DisplayName() const { return ClassName(); }

void TCollectionItem::Changed(bool allItems) {
  if (!FCollection) return;
  if (FCollection->FUpdateCount > 0) {
    FCollection->FUpdatePending = true;
    return;
  }
  FCollection->Update(allItems ? nullptr : this);
}

TCollection::TCollection(ItemFactory factory) : FFactory(std::move(factory)) {}

TCollection::~TCollection() {
  // Descendants are gone by now: nothing is reported while the items go.
  FUpdateCount = 1;
  while (!FItems.empty()) {
    TCollectionItem* item = FItems.back();
    FItems.pop_back();
    item->FCollection = nullptr;
    delete item;
  }
}

TCollectionItem* TCollection::Add() {
  if (!FFactory) throw EListError(u"The collection has no item class");
  TCollectionItem* item = FFactory(this);
  if (item && item->FCollection != this) item->SetCollection(this);
  return item;
}

TCollectionItem* TCollection::Insert(int index) {
  if (index < 0 || index > Count()) throw EListError(ListIndexError(index));
  TCollectionItem* item = Add();
  item->SetIndex(index);
  return item;
}

TCollectionItem* TCollection::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError(ListIndexError(index));
  return FItems[static_cast<size_t>(index)];
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (TCollectionItem* item : FItems)
    if (item->FID == id) return item;
  return nullptr;
}

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  try {
    while (!FItems.empty()) Delete(Count() - 1);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::Delete(int index) {
  TCollectionItem* item = Items(index);
  Notify(item, cnDeleting);
  // Taken out while it is still whole, so Notify and Update never see half an item.
  RemoveItem(item);
  delete item;
}

void TCollection::BeginUpdate() { ++FUpdateCount; }

void TCollection::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0 && FUpdatePending) {
    FUpdatePending = false;
    Update(nullptr);
  }
}

void TCollection::Assign(const TPersistent* source) {
  auto* other = dynamic_cast<const TCollection*>(source);
  if (!other) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  BeginUpdate();
  try {
    Clear();
    for (TCollectionItem* item : other->FItems) Add()->Assign(item);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Notify(TCollectionItem*, TCollectionNotification) {}

void TCollection::Changed() {
  if (FUpdateCount == 0)
    Update(nullptr);
  else
    FUpdatePending = true;
}

void TCollection::InsertItem(TCollectionItem* item) {
  FItems.push_back(item);
  item->FCollection = this;
  item->FID = FNextID++;
  Notify(item, cnAdded);
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* item) {
  Notify(item, cnExtracting);
  FItems.erase(std::remove(FItems.begin(), FItems.end(), item), FItems.end());
  item->FCollection = nullptr;
  Changed();
}

}  // namespace ktinet
