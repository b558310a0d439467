// Published properties: what a class shows to an object inspector and what its form file stores.
//
// Every class with published properties declares them once, in their published order, through
// TClassBuilder (see KTINET_PUBLISHED below): the name, the type, how to read and write the value,
// the stored default and whether it is stored at all. Inherited properties come first, as the
// framework lists them. Events are listed with their type but never streamed.
//
//   // in the header, inside the class:
//   KTINET_PUBLISHED(TKtWhoIs)
//   // in the source:
//   const TClassInfo* TKtWhoIs::StaticClassInfo() {
//     static const TClassInfo* info = TClassBuilder<TKtWhoIs>(u"TKtWhoIs", TKtInetBase::StaticClassInfo())
//         .Component()
//         .Property(u"AutoSelectServer", &TKtWhoIs::AutoSelectServer, &TKtWhoIs::SetAutoSelectServer)
//         .Property(u"Domain", &TKtWhoIs::Domain, &TKtWhoIs::SetDomain)
//         .Build();
//     return info;
//   }
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "rtl/Classes.h"
#include "rtl/Exceptions.h"

namespace ktinet {

enum TTypeKind {
  tkInteger,      // 8/16/32-bit whole numbers
  tkInt64,
  tkEnumeration,  // Boolean included (False, True)
  tkSet,          // a set of up to 64 elements of an enumeration
  tkFloat,        // TDateTime and other doubles
  tkString,
  tkClass,        // a nested persistent object, a string list, a collection or a component reference
  tkMethod,       // an event
  tkBinary        // bytes the class streams itself (an image's file data)
};

// What a class-typed property holds.
enum TClassPropKind {
  cpNone,        // not a class property
  cpPersistent,  // a nested object owned by the component: its properties are streamed as Prop.Sub
  cpStrings,     // an owned string list: streamed as Prop.Strings = ( ... )
  cpCollection,  // an owned collection: streamed as Prop = < item ... end >
  cpComponent    // a reference to another component of the same form: streamed by name
};

class TClassInfo;

struct TTypeInfo {
  TTypeKind Kind = tkInteger;
  String Name;                    // "Integer", "Boolean", "TKtIService", "TKtInetProxy" ...
  std::vector<String> EnumNames;  // tkEnumeration: the values; tkSet: the element names
  std::int64_t MinValue = 0;      // tkInteger
  std::int64_t MaxValue = 0;
  TClassPropKind ClassKind = cpNone;
  std::function<const TClassInfo*()> ClassType;  // tkClass: the class (nullptr when it has none)
};

// Built-in type descriptions.
const TTypeInfo* TypeInfoBoolean();
const TTypeInfo* TypeInfoString();
const TTypeInfo* TypeInfoInteger();   // 32-bit signed
const TTypeInfo* TypeInfoWord();      // 16-bit unsigned
const TTypeInfo* TypeInfoCardinal();  // 32-bit unsigned
const TTypeInfo* TypeInfoInt64();
const TTypeInfo* TypeInfoDateTime();
const TTypeInfo* TypeInfoDouble();
// Interned: one object per name (the same name always gives the same pointer).
const TTypeInfo* TypeInfoEnum(const String& Name, std::vector<String> Values);
const TTypeInfo* TypeInfoSet(const String& Name, std::vector<String> Elements);
const TTypeInfo* TypeInfoMethod(const String& Name);
const TTypeInfo* TypeInfoBinary();
const TTypeInfo* TypeInfoClass(const String& Name, TClassPropKind Kind, std::function<const TClassInfo*()> ClassType);

// The type description of an enumeration, found by argument-dependent lookup; declare it with
// KTINET_ENUM_TYPE next to the enumeration.
#define KTINET_ENUM_TYPE(Enum, ...)                                                           \
  inline const ::ktinet::TTypeInfo* TypeInfoOf(const Enum*) {                                 \
    static const ::ktinet::TTypeInfo* info = ::ktinet::TypeInfoEnum(u## #Enum, {__VA_ARGS__}); \
    return info;                                                                              \
  }

// One published property.
struct TPropInfo {
  String Name;
  const TTypeInfo* Type = nullptr;
  const TClassInfo* Declarer = nullptr;  // the class whose list names it

  // Readers and writers by kind; a missing writer makes the property read-only.
  std::function<std::int64_t(const TObject*)> GetOrd;  // tkInteger, tkInt64, tkEnumeration, tkSet
  std::function<void(TObject*, std::int64_t)> SetOrd;
  std::function<double(const TObject*)> GetFloat;
  std::function<void(TObject*, double)> SetFloat;
  std::function<String(const TObject*)> GetStr;
  std::function<void(TObject*, const String&)> SetStr;
  std::function<TObject*(const TObject*)> GetObj;  // tkClass
  std::function<void(TObject*, TObject*)> SetObj;  // cpComponent only; raises for a wrong class
  std::function<std::string(const TObject*)> GetBin;   // tkBinary
  std::function<void(TObject*, const std::string&)> SetBin;

  std::optional<std::int64_t> Default;  // ordinals: the stored default; none means always stored
  bool StoredFlag = true;               // false: never stored
  std::function<bool(const TObject*)> StoredFn;

  bool IsReadOnly() const;
  bool IsEvent() const { return Type && Type->Kind == tkMethod; }
  // Whether a form file keeps the value: stored, writable (or a nested object) and not at its
  // default (ordinals: the stored default; floats: 0; strings: empty; lists and collections: no
  // entries; references: none).
  bool IsStored(const TObject* Instance) const;
};

// The published description of one class.
class TClassInfo {
 public:
  using TCreate = std::function<TPersistent*(TComponent* Owner)>;

  TClassInfo(String Name, const TClassInfo* Parent) : FName(std::move(Name)), FParent(Parent) {}

  const String& Name() const { return FName; }
  const TClassInfo* Parent() const { return FParent; }
  bool InheritsFrom(const TClassInfo* Other) const;
  bool InheritsFrom(std::u16string_view OtherName) const;
  // Creates an instance (components: owned by Owner); null for a class that cannot be created
  // from a form file.
  const TCreate& Create() const { return FCreate; }
  bool IsComponent() const { return FIsComponent; }

  // All published properties, events included: the ancestors' first, each list in its order.
  std::vector<const TPropInfo*> Properties() const;
  // Without regard to case, as the framework's streaming compares names; null when absent.
  const TPropInfo* FindProperty(std::u16string_view Name) const;
  const std::vector<TPropInfo>& OwnProperties() const { return FOwn; }

 private:
  template <class T>
  friend class TClassBuilder;
  String FName;
  const TClassInfo* FParent;
  TCreate FCreate;
  bool FIsComponent = false;
  std::vector<TPropInfo> FOwn;
};

// The class registry the form reader uses to find a class by name (the framework's RegisterClass).
void RegisterClass(const TClassInfo* Info);
void UnRegisterClass(const TClassInfo* Info);
// Null when no class of that name is registered (names compare without regard to case).
const TClassInfo* FindClassInfo(std::u16string_view Name);
// The registered classes in registration order.
std::vector<const TClassInfo*> RegisteredClasses();

// An ordinal value as text: the number, the enumeration's name, or "[a,b]" for a set.
String OrdinalToText(const TTypeInfo* Type, std::int64_t Value);

// The value of an enumeration (or element of a set) by name, without regard to case; -1 when the
// type has no such name.
int GetEnumValue(const TTypeInfo* Type, const String& Name);

// The published description of an object's class (the nearest one its class declares).
inline const TClassInfo* GetClassInfo(const TObject* Obj) { return Obj ? Obj->ClassInfo() : nullptr; }

// A property's value as text the way an object inspector shows it: numbers, enumeration names,
// "[a,b]" for sets, the text of a string, "(TClassName)" for objects, a component's name.
String GetPropValueText(const TObject* Instance, const TPropInfo* Prop);

// ---- Declaring properties -------------------------------------------------------------------

// The class name of a C++ type without namespaces ("TKtInetProxy").
String TypeNameFromRtti(const std::type_info& Type);

// The class name a class-typed property shows: "TStrings" for every string list, as the framework
// declares such properties; otherwise the class's own name.
template <class C>
String TypeNameOfClass() {
  if constexpr (std::is_base_of_v<TStrings, C>) return u"TStrings";
  else return TypeNameFromRtti(typeid(C));
}

namespace typinfo_detail {

template <class V>
struct ValueOf {
  using type = std::remove_cv_t<std::remove_reference_t<V>>;
};

template <class V, class = void>
struct HasTypeInfoOf : std::false_type {};
template <class V>
struct HasTypeInfoOf<V, std::void_t<decltype(TypeInfoOf(static_cast<const V*>(nullptr)))>> : std::true_type {};

template <class P>
const TTypeInfo* ClassTypeInfo() {
  using C = std::remove_cv_t<std::remove_pointer_t<P>>;
  TClassPropKind kind = cpPersistent;
  if constexpr (std::is_base_of_v<TStrings, C>) kind = cpStrings;
  else if constexpr (std::is_base_of_v<TCollection, C>) kind = cpCollection;
  else if constexpr (std::is_base_of_v<TComponent, C>) kind = cpComponent;
  std::function<const TClassInfo*()> cls;
  if constexpr (requires { C::StaticClassInfo(); }) cls = [] { return C::StaticClassInfo(); };
  else cls = [] { return static_cast<const TClassInfo*>(nullptr); };
  return TypeInfoClass(TypeNameOfClass<C>(), kind, cls);
}

}  // namespace typinfo_detail

template <class T>
class TClassBuilder {
 public:
  TClassBuilder(String Name, const TClassInfo* Parent) : FInfo(std::make_unique<TClassInfo>(std::move(Name), Parent)) {}

  // The class is a component a form file can create (new T(Owner)).
  TClassBuilder& Component() {
    static_assert(std::is_base_of_v<TComponent, T>);
    FInfo->FIsComponent = true;
    FInfo->FCreate = [](TComponent* Owner) -> TPersistent* { return new T(Owner); };
    return *this;
  }
  // The class is a persistent object created without an owner (collection items are created by
  // their collection instead and need nothing).
  TClassBuilder& Creatable() {
    FInfo->FCreate = [](TComponent*) -> TPersistent* { return new T(); };
    return *this;
  }

  // A property read and written by member functions; the type follows the reader's result:
  // bool, the integer types, enumerations with KTINET_ENUM_TYPE, String, double (TDateTime),
  // pointers to persistent classes. Setter may be nullptr (read-only).
  template <class B, class R, class S = std::nullptr_t>
  TClassBuilder& Property(const String& Name, R (B::*Getter)() const, S Setter = nullptr) {
    static_assert(std::is_base_of_v<B, T>);
    return Add<R>(Name, [Getter](const T* o) -> decltype(auto) { return (o->*Getter)(); }, Setter);
  }
  // Readers that are not const (a read that performs work, as the time clients' DateTime).
  template <class B, class R, class S = std::nullptr_t>
  TClassBuilder& Property(const String& Name, R (B::*Getter)(), S Setter = nullptr) {
    static_assert(std::is_base_of_v<B, T>);
    return Add<R>(Name, [Getter](const T* o) -> decltype(auto) { return (const_cast<T*>(o)->*Getter)(); }, Setter);
  }
  // A property read and written by functions of the caller's own (for values the class does not
  // expose as one member, such as sets).
  TClassBuilder& Ordinal(const String& Name, const TTypeInfo* Type, std::function<std::int64_t(const T*)> Get,
                         std::function<void(T*, std::int64_t)> Set) {
    TPropInfo p = Start(Name, Type);
    p.GetOrd = [Get](const TObject* o) { return Get(static_cast<const T*>(o)); };
    if (Set) p.SetOrd = [Set](TObject* o, std::int64_t v) { Set(static_cast<T*>(o), v); };
    return Push(std::move(p));
  }
  TClassBuilder& Event(const String& Name, const String& TypeName) { return Push(Start(Name, TypeInfoMethod(TypeName))); }
  // Bytes the class reads and writes itself (written as hexadecimal in form files); stored when
  // not empty.
  TClassBuilder& Binary(const String& Name, std::function<std::string(const T*)> Get, std::function<void(T*, const std::string&)> Set) {
    TPropInfo p = Start(Name, TypeInfoBinary());
    p.GetBin = [Get](const TObject* o) { return Get(static_cast<const T*>(o)); };
    p.SetBin = [Set](TObject* o, const std::string& v) { Set(static_cast<T*>(o), v); };
    return Push(std::move(p));
  }

  // Modifiers of the property declared last.
  template <class V>
  TClassBuilder& Default(V Value) {
    FInfo->FOwn.back().Default = static_cast<std::int64_t>(Value);
    return *this;
  }
  TClassBuilder& NotStored() {
    FInfo->FOwn.back().StoredFlag = false;
    return *this;
  }
  TClassBuilder& StoredIf(std::function<bool(const T*)> Fn) {
    FInfo->FOwn.back().StoredFn = [Fn](const TObject* o) { return Fn(static_cast<const T*>(o)); };
    return *this;
  }

  const TClassInfo* Build() { return FInfo.release(); }

 private:
  TPropInfo Start(const String& Name, const TTypeInfo* Type) {
    TPropInfo p;
    p.Name = Name;
    p.Type = Type;
    p.Declarer = FInfo.get();
    return p;
  }
  TClassBuilder& Push(TPropInfo p) {
    FInfo->FOwn.push_back(std::move(p));
    return *this;
  }

  template <class R, class G, class S>
  TClassBuilder& Add(const String& Name, G Get, S Setter) {
    using V = typename typinfo_detail::ValueOf<R>::type;
    TPropInfo p;
    p.Name = Name;
    p.Declarer = FInfo.get();
    constexpr bool hasSetter = !std::is_same_v<S, std::nullptr_t>;
    if constexpr (std::is_same_v<V, bool>) {
      p.Type = TypeInfoBoolean();
      p.GetOrd = [Get](const TObject* o) -> std::int64_t { return Get(static_cast<const T*>(o)) ? 1 : 0; };
      if constexpr (hasSetter) p.SetOrd = [Setter](TObject* o, std::int64_t v) { (static_cast<T*>(o)->*Setter)(v != 0); };
    } else if constexpr (std::is_enum_v<V>) {
      static_assert(typinfo_detail::HasTypeInfoOf<V>::value, "declare the enumeration with KTINET_ENUM_TYPE");
      p.Type = TypeInfoOf(static_cast<const V*>(nullptr));
      p.GetOrd = [Get](const TObject* o) -> std::int64_t { return static_cast<std::int64_t>(Get(static_cast<const T*>(o))); };
      if constexpr (hasSetter) p.SetOrd = [Setter](TObject* o, std::int64_t v) { (static_cast<T*>(o)->*Setter)(static_cast<V>(v)); };
    } else if constexpr (std::is_integral_v<V>) {
      if constexpr (std::is_same_v<V, std::uint16_t>) p.Type = TypeInfoWord();
      else if constexpr (std::is_same_v<V, std::uint32_t>) p.Type = TypeInfoCardinal();
      else if constexpr (sizeof(V) == 8) p.Type = TypeInfoInt64();
      else p.Type = TypeInfoInteger();
      p.GetOrd = [Get](const TObject* o) -> std::int64_t { return static_cast<std::int64_t>(Get(static_cast<const T*>(o))); };
      if constexpr (hasSetter) p.SetOrd = [Setter](TObject* o, std::int64_t v) { (static_cast<T*>(o)->*Setter)(static_cast<V>(v)); };
    } else if constexpr (std::is_floating_point_v<V>) {
      p.Type = TypeInfoDateTime();
      p.GetFloat = [Get](const TObject* o) -> double { return Get(static_cast<const T*>(o)); };
      if constexpr (hasSetter) p.SetFloat = [Setter](TObject* o, double v) { (static_cast<T*>(o)->*Setter)(v); };
    } else if constexpr (std::is_same_v<V, String>) {
      p.Type = TypeInfoString();
      p.GetStr = [Get](const TObject* o) -> String { return Get(static_cast<const T*>(o)); };
      if constexpr (hasSetter) p.SetStr = [Setter](TObject* o, const String& v) { (static_cast<T*>(o)->*Setter)(v); };
    } else if constexpr (std::is_pointer_v<V>) {
      using C = std::remove_cv_t<std::remove_pointer_t<V>>;
      static_assert(std::is_base_of_v<TPersistent, C>, "a class-typed property holds a persistent object");
      p.Type = typinfo_detail::ClassTypeInfo<C>();
      p.GetObj = [Get](const TObject* o) -> TObject* { return const_cast<C*>(Get(static_cast<const T*>(o))); };
      if constexpr (hasSetter && std::is_base_of_v<TComponent, C>) {
        p.SetObj = [Setter](TObject* o, TObject* v) {
          C* c = dynamic_cast<C*>(v);
          if (v && !c) throw EConvertError(u"Invalid property value: a " + v->ClassName() + u" is not a " + TypeNameOfClass<C>());
          (static_cast<T*>(o)->*Setter)(c);
        };
      }
    } else {
      static_assert(sizeof(V) == 0, "this property type cannot be published");
    }
    return Push(std::move(p));
  }

  std::unique_ptr<TClassInfo> FInfo;
};

// Declares, inside a class, its published description (define StaticClassInfo in the source).
// Put it first in the class body: it leaves the access at private.
#define KTINET_PUBLISHED(Class)                                                      \
 public:                                                                             \
  static const ::ktinet::TClassInfo* StaticClassInfo();                              \
  const ::ktinet::TClassInfo* ClassInfo() const override { return StaticClassInfo(); } \
                                                                                     \
 private:

}  // namespace ktinet
