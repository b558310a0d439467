// The design-time side of a component package: the palette, component editors (the verbs of a
// component's context menu) and property editors (how the object inspector shows and edits one
// property). A host (here the `ktinet` program's components, inspect and form commands, or a test)
// asks the registry for the editor of a component or property.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "rtl/Classes.h"
#include "rtl/TypInfo.h"

namespace ktinet {

enum TPropertyAttribute {
  paValueList,       // the value comes from a list (GetValues)
  paSubProperties,   // the property has properties of its own
  paDialog,          // an ellipsis button opens Edit
  paMultiSelect,
  paAutoUpdate,
  paSortList,
  paReadOnly,        // the value cannot be typed
  paRevertable,
  paFullWidthName,
  paVolatileSubProperties,
  paReference,
  paNotNestable
};

// A set of property-editor attributes.
class TPropertyAttributes {
 public:
  constexpr TPropertyAttributes() = default;
  constexpr TPropertyAttributes(std::initializer_list<TPropertyAttribute> Items) {
    for (TPropertyAttribute a : Items) FBits |= Bit(a);
  }
  constexpr bool Contains(TPropertyAttribute A) const { return (FBits & Bit(A)) != 0; }
  constexpr TPropertyAttributes& Include(TPropertyAttribute A) {
    FBits |= Bit(A);
    return *this;
  }
  constexpr bool operator==(const TPropertyAttributes&) const = default;
  // "[paDialog,paReadOnly]"
  String Text() const;

 private:
  static constexpr unsigned Bit(TPropertyAttribute A) { return 1u << static_cast<unsigned>(A); }
  unsigned FBits = 0;
};

// Shows and edits one property of one object. The base class handles every kind of property:
// values as the inspector shows them, typing a value in (SetValue) and enumeration lists.
class TPropertyEditor {
 public:
  TPropertyEditor(TPersistent* Instance, const TPropInfo* Prop) : FInstance(Instance), FProp(Prop) {}
  virtual ~TPropertyEditor() = default;

  virtual TPropertyAttributes GetAttributes();
  virtual String GetValue();
  // Parses Value as the property's type and writes it; raises EPropertyError for a value that
  // does not parse, a read-only property or a property whose editor refuses typing.
  virtual void SetValue(const String& Value);
  // The ellipsis button (paDialog); does nothing unless an editor defines it.
  virtual void Edit() {}
  // The choices of a value list (enumerations and Boolean).
  virtual std::vector<String> GetValues();

  const String& GetName() const { return FProp->Name; }
  TPersistent* GetInstance() const { return FInstance; }
  const TPropInfo* GetPropInfo() const { return FProp; }

 protected:
  String GetStrValue() const { return FProp->GetStr(FInstance); }
  void SetStrValue(const String& Value);

  TPersistent* FInstance;
  const TPropInfo* FProp;
};

// The editor of string properties.
class TStringProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override { return {paMultiSelect, paRevertable}; }
  String GetValue() override { return GetStrValue(); }
  // Typing is refused when the editor says the value is read-only.
  void SetValue(const String& Value) override;
};

class IDesigner;  // the host's designer; this host has none to offer

// The verbs of a component's context menu; Edit (a double-click) runs the first verb.
class TComponentEditor {
 public:
  explicit TComponentEditor(TComponent* AComponent, IDesigner* ADesigner = nullptr)
      : FComponent(AComponent), FDesigner(ADesigner) {}
  virtual ~TComponentEditor() = default;

  virtual void Edit() {
    if (GetVerbCount() > 0) ExecuteVerb(0);
  }
  virtual void ExecuteVerb(int Index) { (void)Index; }
  virtual String GetVerb(int Index) {
    (void)Index;
    return String();
  }
  virtual int GetVerbCount() { return 0; }

  TComponent* Component() const { return FComponent; }
  IDesigner* Designer() const { return FDesigner; }

 private:
  TComponent* FComponent;
  IDesigner* FDesigner;
};

using TComponentEditorFactory = std::function<std::unique_ptr<TComponentEditor>(TComponent*, IDesigner*)>;
using TPropertyEditorFactory = std::function<std::unique_ptr<TPropertyEditor>(TPersistent*, const TPropInfo*)>;

template <class E>
TComponentEditorFactory ComponentEditorClass() {
  return [](TComponent* c, IDesigner* d) -> std::unique_ptr<TComponentEditor> { return std::make_unique<E>(c, d); };
}
template <class E>
TPropertyEditorFactory PropertyEditorClass() {
  return [](TPersistent* i, const TPropInfo* p) -> std::unique_ptr<TPropertyEditor> { return std::make_unique<E>(i, p); };
}

// ---- Registration, as a package's Register procedure makes it ---------------------------------

// Puts the classes on a palette page (created on first use; a class already on the page stays
// where it is) and registers each for form files.
void RegisterComponents(const String& Page, const std::vector<const TClassInfo*>& Classes);
// Registers an editor for a component class and every class derived from it.
void RegisterComponentEditor(const TClassInfo* ComponentClass, TComponentEditorFactory Editor);
// Registers an editor for properties of PropertyType; ComponentClass (null: any class) and
// PropertyName (empty: any name) narrow it down.
void RegisterPropertyEditor(const TTypeInfo* PropertyType, const TClassInfo* ComponentClass, const String& PropertyName,
                            TPropertyEditorFactory Editor);

struct TPalettePage {
  String Name;
  std::vector<const TClassInfo*> Classes;
};
std::vector<TPalettePage> PalettePages();

// The editor registered for the nearest class of Component (the latest registration when two
// are registered for the same class); a plain TComponentEditor (no verbs) when none is.
std::unique_ptr<TComponentEditor> GetComponentEditor(TComponent* Component, IDesigner* Designer = nullptr);
// The latest registered editor that matches the property; otherwise the default for its kind.
std::unique_ptr<TPropertyEditor> GetPropertyEditor(TPersistent* Instance, const TPropInfo* Prop);

// Forgets every palette page and editor (for hosts that load packages again, and tests).
void ClearDesignRegistrations();

}  // namespace ktinet
