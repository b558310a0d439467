#include "rtl/TypInfo.h"

#include "rtl/DateTime.h"

#include <cxxabi.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>

namespace ktinet {

namespace {

std::mutex& TypeMutex() {
  static std::mutex m;
  return m;
}

// Interned type descriptions by name; never freed (they live as long as the classes).
std::map<String, std::unique_ptr<TTypeInfo>>& TypeTable() {
  static auto* table = new std::map<String, std::unique_ptr<TTypeInfo>>;
  return *table;
}

const TTypeInfo* Intern(const String& key, const std::function<void(TTypeInfo&)>& fill) {
  std::lock_guard<std::mutex> lock(TypeMutex());
  auto& slot = TypeTable()[key];
  if (!slot) {
    slot = std::make_unique<TTypeInfo>();
    fill(*slot);
  }
  return slot.get();
}

const TTypeInfo* Simple(const String& name, TTypeKind kind, std::int64_t lo = 0, std::int64_t hi = 0) {
  return Intern(name, [&](TTypeInfo& t) {
    t.Kind = kind;
    t.Name = name;
    t.MinValue = lo;
    t.MaxValue = hi;
  });
}

std::vector<const TClassInfo*>& ClassList() {
  static auto* list = new std::vector<const TClassInfo*>;
  return *list;
}

}  // namespace

const TTypeInfo* TypeInfoBoolean() {
  static const TTypeInfo* t = Intern(u"Boolean", [](TTypeInfo& i) {
    i.Kind = tkEnumeration;
    i.Name = u"Boolean";
    i.EnumNames = {u"False", u"True"};
  });
  return t;
}
const TTypeInfo* TypeInfoString() {
  static const TTypeInfo* t = Simple(u"String", tkString);
  return t;
}
const TTypeInfo* TypeInfoInteger() {
  static const TTypeInfo* t = Simple(u"Integer", tkInteger, INT32_MIN, INT32_MAX);
  return t;
}
const TTypeInfo* TypeInfoWord() {
  static const TTypeInfo* t = Simple(u"Word", tkInteger, 0, 65535);
  return t;
}
const TTypeInfo* TypeInfoCardinal() {
  static const TTypeInfo* t = Simple(u"Cardinal", tkInteger, 0, UINT32_MAX);
  return t;
}
const TTypeInfo* TypeInfoInt64() {
  static const TTypeInfo* t = Simple(u"Int64", tkInt64, INT64_MIN, INT64_MAX);
  return t;
}
const TTypeInfo* TypeInfoDateTime() {
  static const TTypeInfo* t = Simple(u"TDateTime", tkFloat);
  return t;
}
const TTypeInfo* TypeInfoDouble() {
  static const TTypeInfo* t = Simple(u"Double", tkFloat);
  return t;
}

const TTypeInfo* TypeInfoEnum(const String& Name, std::vector<String> Values) {
  return Intern(Name, [&](TTypeInfo& t) {
    t.Kind = tkEnumeration;
    t.Name = Name;
    t.EnumNames = std::move(Values);
    t.MinValue = 0;
    t.MaxValue = static_cast<std::int64_t>(t.EnumNames.size()) - 1;
  });
}

const TTypeInfo* TypeInfoSet(const String& Name, std::vector<String> Elements) {
  return Intern(Name, [&](TTypeInfo& t) {
    t.Kind = tkSet;
    t.Name = Name;
    t.EnumNames = std::move(Elements);
  });
}

const TTypeInfo* TypeInfoMethod(const String& Name) { return Simple(Name, tkMethod); }

const TTypeInfo* TypeInfoBinary() {
  static const TTypeInfo* t = Simple(u"Binary", tkBinary);
  return t;
}

const TTypeInfo* TypeInfoClass(const String& Name, TClassPropKind Kind, std::function<const TClassInfo*()> ClassType) {
  return Intern(Name, [&](TTypeInfo& t) {
    t.Kind = tkClass;
    t.Name = Name;
    t.ClassKind = Kind;
    t.ClassType = std::move(ClassType);
  });
}

String TypeNameFromRtti(const std::type_info& Type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(Type.name(), nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled) ? demangled : Type.name();
  std::free(demangled);
  if (auto colon = name.rfind("::"); colon != std::string::npos) name.erase(0, colon + 2);
  if (auto angle = name.find('<'); angle != std::string::npos) name.erase(angle);
  return UTF8ToString(name);
}

int GetEnumValue(const TTypeInfo* Type, const String& Name) {
  for (size_t i = 0; i < Type->EnumNames.size(); ++i)
    if (SameText(Type->EnumNames[i], Name)) return static_cast<int>(i);
  return -1;
}

bool TPropInfo::IsReadOnly() const {
  if (!Type) return true;
  switch (Type->Kind) {
    case tkInteger:
    case tkInt64:
    case tkEnumeration:
    case tkSet: return !SetOrd;
    case tkFloat: return !SetFloat;
    case tkString: return !SetStr;
    case tkClass: return Type->ClassKind == cpComponent && !SetObj;
    case tkMethod: return false;
    case tkBinary: return !SetBin;
  }
  return true;
}

bool TPropInfo::IsStored(const TObject* Instance) const {
  if (!StoredFlag || IsEvent()) return false;
  if (StoredFn && !StoredFn(Instance)) return false;
  switch (Type->Kind) {
    case tkInteger:
    case tkInt64:
    case tkEnumeration:
    case tkSet:
      if (!SetOrd) return false;
      return !Default || GetOrd(Instance) != *Default;
    case tkFloat: return SetFloat && GetFloat(Instance) != 0.0;
    case tkString: return SetStr && !GetStr(Instance).empty();
    case tkClass: {
      TObject* obj = GetObj(Instance);
      if (!obj) return false;
      switch (Type->ClassKind) {
        case cpStrings: return static_cast<TStrings*>(obj)->Count() > 0;
        case cpCollection: return static_cast<TCollection*>(obj)->Count() > 0;
        case cpComponent: return SetObj != nullptr;
        default: return true;  // the writer looks at the nested properties
      }
    }
    case tkMethod: return false;
    case tkBinary: return SetBin && !GetBin(Instance).empty();
  }
  return false;
}

bool TClassInfo::InheritsFrom(const TClassInfo* Other) const {
  for (const TClassInfo* c = this; c; c = c->FParent)
    if (c == Other) return true;
  return false;
}

bool TClassInfo::InheritsFrom(std::u16string_view OtherName) const {
  for (const TClassInfo* c = this; c; c = c->FParent)
    if (SameText(c->FName, String(OtherName))) return true;
  return false;
}

std::vector<const TPropInfo*> TClassInfo::Properties() const {
  std::vector<const TPropInfo*> out;
  if (FParent) out = FParent->Properties();
  for (const TPropInfo& p : FOwn) out.push_back(&p);
  return out;
}

const TPropInfo* TClassInfo::FindProperty(std::u16string_view Name) const {
  for (const TClassInfo* c = this; c; c = c->FParent)
    for (const TPropInfo& p : c->FOwn)
      if (SameText(p.Name, String(Name))) return &p;
  return nullptr;
}

void RegisterClass(const TClassInfo* Info) {
  if (!Info) return;
  std::lock_guard<std::mutex> lock(TypeMutex());
  for (const TClassInfo* c : ClassList())
    if (c == Info) return;
  ClassList().push_back(Info);
}

void UnRegisterClass(const TClassInfo* Info) {
  std::lock_guard<std::mutex> lock(TypeMutex());
  auto& list = ClassList();
  for (auto it = list.begin(); it != list.end(); ++it)
    if (*it == Info) {
      list.erase(it);
      return;
    }
}

const TClassInfo* FindClassInfo(std::u16string_view Name) {
  std::lock_guard<std::mutex> lock(TypeMutex());
  for (const TClassInfo* c : ClassList())
    if (SameText(c->Name(), String(Name))) return c;
  return nullptr;
}

std::vector<const TClassInfo*> RegisteredClasses() {
  std::lock_guard<std::mutex> lock(TypeMutex());
  return ClassList();
}

String OrdinalToText(const TTypeInfo* type, std::int64_t v) {
  switch (type->Kind) {
    case tkEnumeration:
      if (v >= 0 && v < static_cast<std::int64_t>(type->EnumNames.size())) return type->EnumNames[static_cast<size_t>(v)];
      return IntToStr(v);
    case tkSet: {
      String out = u"[";
      bool first = true;
      for (size_t i = 0; i < type->EnumNames.size() && i < 64; ++i)
        if ((static_cast<std::uint64_t>(v) >> i) & 1u) {
          if (!first) out += u',';
          out += type->EnumNames[i];
          first = false;
        }
      return out + u"]";
    }
    default: return IntToStr(v);
  }
}


String GetPropValueText(const TObject* Instance, const TPropInfo* Prop) {
  const TTypeInfo* type = Prop->Type;
  switch (type->Kind) {
    case tkInteger:
    case tkInt64:
    case tkEnumeration:
    case tkSet: return OrdinalToText(type, Prop->GetOrd(Instance));
    case tkFloat: {
      double v = Prop->GetFloat(Instance);
      if (type == TypeInfoDateTime()) {
        if (v == 0) return String();
        if (v == std::floor(v)) return FormatDateTime(u"yyyy-mm-dd", v);
        return FormatDateTime(u"yyyy-mm-dd hh:nn:ss", v);
      }
      return FloatToStr(v);
    }
    case tkString: return Prop->GetStr(Instance);
    case tkClass: {
      TObject* obj = Prop->GetObj(Instance);
      if (type->ClassKind == cpComponent) return obj ? static_cast<TComponent*>(obj)->Name() : String();
      return u"(" + type->Name + u")";
    }
    case tkMethod: return String();
    case tkBinary: {
      const size_t n = Prop->GetBin(Instance).size();
      return n ? u"(" + IntToStr(static_cast<long long>(n)) + u" bytes)" : String(u"(empty)");
    }
  }
  return String();
}

}  // namespace ktinet
