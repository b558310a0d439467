#include "design/DesignIntf.h"

#include <cmath>
#include <cstdlib>
#include <mutex>

#include "rtl/Exceptions.h"
#include "rtl/SysUtils.h"

namespace ktinet {

namespace {

struct TComponentEditorEntry {
  const TClassInfo* Class;
  TComponentEditorFactory Factory;
};
struct TPropertyEditorEntry {
  const TTypeInfo* Type;
  const TClassInfo* Class;
  String Name;
  TPropertyEditorFactory Factory;
};

struct TDesignRegistry {
  std::mutex Lock;
  std::vector<TPalettePage> Pages;
  std::vector<TComponentEditorEntry> ComponentEditors;
  std::vector<TPropertyEditorEntry> PropertyEditors;
};

TDesignRegistry& Registry() {
  static auto* r = new TDesignRegistry;
  return *r;
}

const char16_t* const kAttributeNames[] = {u"paValueList", u"paSubProperties", u"paDialog", u"paMultiSelect",
                                           u"paAutoUpdate", u"paSortList", u"paReadOnly", u"paRevertable",
                                           u"paFullWidthName", u"paVolatileSubProperties", u"paReference",
                                           u"paNotNestable"};

[[noreturn]] void BadValue(const TPropInfo* p, const String& value) {
  throw EPropertyError(u"Invalid property value '" + value + u"' for " + p->Name + u" (" + p->Type->Name + u")");
}

}  // namespace

String TPropertyAttributes::Text() const {
  String out = u"[";
  bool first = true;
  for (unsigned i = 0; i < sizeof kAttributeNames / sizeof kAttributeNames[0]; ++i)
    if (FBits & (1u << i)) {
      if (!first) out += u',';
      out += kAttributeNames[i];
      first = false;
    }
  return out + u"]";
}

TPropertyAttributes TPropertyEditor::GetAttributes() {
  TPropertyAttributes a{paMultiSelect, paRevertable};
  switch (FProp->Type->Kind) {
    case tkEnumeration: a.Include(paValueList).Include(paSortList); break;
    case tkSet: a.Include(paSubProperties).Include(paReadOnly); break;
    case tkClass:
      if (FProp->Type->ClassKind == cpComponent) a.Include(paValueList).Include(paSortList).Include(paReference);
      else if (FProp->Type->ClassKind == cpPersistent) a.Include(paSubProperties).Include(paReadOnly);
      else a.Include(paDialog).Include(paReadOnly);
      break;
    case tkMethod: a.Include(paValueList).Include(paSortList); break;
    case tkBinary: a.Include(paDialog).Include(paReadOnly); break;
    default: break;
  }
  if (FProp->IsReadOnly()) a.Include(paReadOnly);
  return a;
}

String TPropertyEditor::GetValue() { return GetPropValueText(FInstance, FProp); }

std::vector<String> TPropertyEditor::GetValues() {
  if (FProp->Type->Kind == tkEnumeration) return FProp->Type->EnumNames;
  return {};
}

void TPropertyEditor::SetStrValue(const String& Value) {
  if (FProp->IsReadOnly() || !FProp->SetStr) throw EPropertyError(u"Property " + FProp->Name + u" is read-only");
  FProp->SetStr(FInstance, Value);
}

void TPropertyEditor::SetValue(const String& Value) {
  if (GetAttributes().Contains(paReadOnly)) throw EPropertyError(u"Property " + FProp->Name + u" is read-only");
  const TTypeInfo* t = FProp->Type;
  switch (t->Kind) {
    case tkInteger:
    case tkInt64: {
      long long v = 0;
      if (!TryStrToInt64(Trim(Value), v) || v < t->MinValue || v > t->MaxValue) BadValue(FProp, Value);
      FProp->SetOrd(FInstance, v);
      return;
    }
    case tkEnumeration: {
      int v = GetEnumValue(t, Trim(Value));
      if (v < 0) BadValue(FProp, Value);
      FProp->SetOrd(FInstance, v);
      return;
    }
    case tkFloat: {
      double v = 0;
      if (!TryStrToFloat(Trim(Value), v)) BadValue(FProp, Value);
      FProp->SetFloat(FInstance, v);
      return;
    }
    case tkString: SetStrValue(Value); return;
    default: throw EPropertyError(u"Property " + FProp->Name + u" cannot be typed in");
  }
}

void TStringProperty::SetValue(const String& Value) {
  if (GetAttributes().Contains(paReadOnly)) throw EPropertyError(u"Property " + FProp->Name + u" is read-only");
  SetStrValue(Value);
}

void RegisterComponents(const String& Page, const std::vector<const TClassInfo*>& Classes) {
  {
    std::lock_guard<std::mutex> lock(Registry().Lock);
    auto& pages = Registry().Pages;
    TPalettePage* page = nullptr;
    for (auto& p : pages)
      if (SameText(p.Name, Page)) page = &p;
    if (!page) {
      pages.push_back(TPalettePage{Page, {}});
      page = &pages.back();
    }
    for (const TClassInfo* c : Classes) {
      bool present = false;
      for (const TClassInfo* existing : page->Classes) present = present || existing == c;
      if (!present) page->Classes.push_back(c);
    }
  }
  for (const TClassInfo* c : Classes) RegisterClass(c);
}

void RegisterComponentEditor(const TClassInfo* ComponentClass, TComponentEditorFactory Editor) {
  std::lock_guard<std::mutex> lock(Registry().Lock);
  Registry().ComponentEditors.push_back({ComponentClass, std::move(Editor)});
}

void RegisterPropertyEditor(const TTypeInfo* PropertyType, const TClassInfo* ComponentClass, const String& PropertyName,
                            TPropertyEditorFactory Editor) {
  std::lock_guard<std::mutex> lock(Registry().Lock);
  Registry().PropertyEditors.push_back({PropertyType, ComponentClass, PropertyName, std::move(Editor)});
}

std::vector<TPalettePage> PalettePages() {
  std::lock_guard<std::mutex> lock(Registry().Lock);
  return Registry().Pages;
}

std::unique_ptr<TComponentEditor> GetComponentEditor(TComponent* Component, IDesigner* Designer) {
  TComponentEditorFactory best;
  {
    std::lock_guard<std::mutex> lock(Registry().Lock);
    int bestDepth = -1;
    const TClassInfo* info = Component ? Component->ClassInfo() : nullptr;
    for (const auto& e : Registry().ComponentEditors) {
      int depth = 0;
      for (const TClassInfo* c = e.Class; c; c = c->Parent()) ++depth;
      if (info && info->InheritsFrom(e.Class) && depth >= bestDepth) {
        bestDepth = depth;
        best = e.Factory;
      }
    }
  }
  if (best) return best(Component, Designer);
  return std::make_unique<TComponentEditor>(Component, Designer);
}

std::unique_ptr<TPropertyEditor> GetPropertyEditor(TPersistent* Instance, const TPropInfo* Prop) {
  TPropertyEditorFactory found;
  {
    std::lock_guard<std::mutex> lock(Registry().Lock);
    const TClassInfo* info = Instance ? Instance->ClassInfo() : nullptr;
    for (const auto& e : Registry().PropertyEditors) {
      if (e.Type != Prop->Type) continue;
      if (e.Class && !(info && info->InheritsFrom(e.Class))) continue;
      if (!e.Name.empty() && !SameText(e.Name, Prop->Name)) continue;
      found = e.Factory;
    }
  }
  if (found) return found(Instance, Prop);
  if (Prop->Type->Kind == tkString) return std::make_unique<TStringProperty>(Instance, Prop);
  return std::make_unique<TPropertyEditor>(Instance, Prop);
}

void ClearDesignRegistrations() {
  std::lock_guard<std::mutex> lock(Registry().Lock);
  Registry().Pages.clear();
  Registry().ComponentEditors.clear();
  Registry().PropertyEditors.clear();
}

}  // namespace ktinet
