// TCustomDriver: the base of the exported driver class. It describes the
// class to the host registry from hand-written metadata tables (one per class
// of the chain, in declaration order), serves property reads and writes by
// name from the same tables, and keeps the outcome of the last host call.
//
// How a class of the chain declares what it exports
// --------------------------------------------------
// Each class defines a static TDriverClassInfo whose Parent is its base
// class's info, and returns it from the virtual ClassInfo(). Its tables list
// the members the class itself declares:
//   Methods    - host methods: ExportMethod(name, code), the names and the
//                parameter count from the method's row in uMethodArguments.h;
//   Properties - properties (TPropertyInfo; exported when they carry an
//                ExportPropAttribute);
//   Actions    - additional actions (AdditionalActionAttribute: caption).
// The registry sees the class's own entries first, then those of each
// ancestor in turn: that walk fixes the host's method numbers.
#pragma once

#include <cstdint>
#include <exception>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "driver/uDriverInfo.h"
#include "driver/uMethodArguments.h"
#include "hostbridge/uClassReg.h"
#include "hostbridge/uV8UserObject.h"
#include "hostbridge/uV8Values.h"

// ---- Outcome of the last host call ----

struct TResult {
  int32_t ErrorCode = 0;
  std::string ErrorDescription;
  bool BoolResult = true;

  void Clear() {
    ErrorCode = 0;
    ErrorDescription.clear();
    BoolResult = true;
  }
  void SetError(std::string ADescription, int32_t AErrorCode) {
    ErrorDescription = std::move(ADescription);
    ErrorCode = AErrorCode;
    BoolResult = false;
  }
  // 0 after success; the stored code after a failure, 1001 when none was stored.
  int32_t GetIntResult() const { return BoolResult ? 0 : (ErrorCode == 0 ? 1001 : ErrorCode); }
};

// The code of every failure that carries no code of its own.
constexpr int32_t kGeneralErrorCode = 1001;
// The code a failure reports to the host: an EquException's own, else 1001.
int32_t ErrorCodeOf(const std::exception& E);

// ---- Attributes ----

struct ExportMethAttribute {
  const char* NameLoc;  // Russian name
  int32_t ParamCount;
};

struct ExportPropAttribute {
  const char* NameLoc;   // Russian name
  const char* Caption;   // shown in the generated parameters description
  const char* DefValue;  // default value as text
  bool ReadOnly;
};

struct AdditionalActionAttribute {
  const char* Caption;
};

// ---- Property metadata ----

// The declared type of a property, as far as conversions care.
enum class TPropKind {
  Integer,      // any integer type up to 32 bits (bytes included)
  Int64,        // 64-bit integer
  Float,        // floating point
  Boolean,      // the Boolean enumeration
  Enumeration,  // any other enumeration: not convertible
  Text,         // any text type
  Variant,      // takes any native variant as it is
  Other,        // anything else: not convertible
};

// A property of class T. Get answers the value in its natural alternative
// (int64_t for integers, double, bool, std::string). Set receives the value
// already converted to the property's kind; null means the property has no setter.
template <class T>
struct TPropertyInfo {
  const char* Name;
  TPropKind Kind;
  TV8NativeVariant (*Get)(const T& Obj);
  void (*Set)(T& Obj, const TV8NativeVariant& Value);
  const ExportPropAttribute* Export;  // null: not exported
};

// Value kinds of the parameters description: 0 "String", 1 "Number",
// 2 "Boolean", 3 "Unknown".
int PropValueKind(TPropKind Kind);
// Raises "Enum value unacceptable" for a kind outside 0..3.
std::string ValueKindText(int Kind);

// Conversions of a native variant to a property's kind ("writing from a
// native variant"). Texts are read as numbers or Booleans ("true"/"false" in
// any letter case, or a number); what cannot be read raises std::runtime_error.
int64_t VariantToInt64(const TV8NativeVariant& Value);
double VariantToDouble(const TV8NativeVariant& Value);
bool VariantToBool(const TV8NativeVariant& Value);
std::string VariantToText(const TV8NativeVariant& Value);
// The value converted to Kind's natural alternative; Enumeration and Other
// raise "Property type unacceptable".
TV8NativeVariant ConvertVariantToKind(const TV8NativeVariant& Value, TPropKind Kind);

// Records a property's value under a device identifier when the property is
// LogEnabled (any letter case) and the identifier is not empty.
void RecordDeviceLogFlag(std::string_view PropName, const std::string& DeviceID,
                         const TV8NativeVariant& Value);

// ---- Class metadata ----

class TCustomDriver;

// The shape of every host method of the driver classes.
template <class C>
using THostMethod = bool (C::*)(V8Variant* RetValue, V8Variant* Params, long Count,
                                TV8AddInDefBaseEx* V8);

// Registry code of a host method. Naming the method through THostMethod<C>
// picks the host-method overload where a virtual operation of the same name
// exists: HostCode<TCommonDriver, &TCommonDriver::GetDescription>.
template <class C, THostMethod<C> M>
inline constexpr TV8FuncCode HostCode = &V8Func<M>;

struct TExportMethodInfo {
  const char* Name;
  ExportMethAttribute Export;
  TV8FuncCode Code;
};

// A method table's entry: the method's row of arguments gives its names
// and its parameter count, Code runs it. A name without a row does not
// compile.
consteval TExportMethodInfo ExportMethod(std::string_view AName, TV8FuncCode ACode) {
  const TMethodSignature& row = MethodSignatureOf(AName);
  return {row.Method, {row.MethodLoc, row.Count()}, ACode};
}

struct TAdditionalActionInfo {
  const char* Name;
  AdditionalActionAttribute Action;
  void (*Run)(TCustomDriver& Obj);
};

using TUpdateDriverInfoCode = void (*)(TDriverInfo& Info);

struct TDriverClassInfo {
  const char* ClassName;
  const TDriverClassInfo* Parent;
  std::span<const TExportMethodInfo> Methods;
  std::span<const TPropertyInfo<TCustomDriver>> Properties;
  std::span<const TAdditionalActionInfo> Actions;
  // The class-level UpdateDriverInfo; null inherits the parent's.
  TUpdateDriverInfoCode UpdateDriverInfo;
};

// ---- TCustomDriver ----

class TCustomDriver : public TV8UserObject {
 public:
  TCustomDriver();
  ~TCustomDriver() override = default;

  static const TDriverClassInfo Info;
  // The metadata of the object's own class.
  virtual const TDriverClassInfo& ClassInfo() const { return Info; }

  const TResult& LastResult() const { return FLastResult; }
  const std::string& DeviceID() const { return FDeviceID; }

  // Registers AClass's methods (own first, then ancestors) as functions and
  // its exported properties, under the extension name; then names the log.
  static TClassReg& RegisterDriver(TClassRegList& List, const TDriverClassInfo& AClass,
                                   TV8ObjectFactory AFactory, std::string_view AExtension);
  static TClassReg& RegisterClass(TClassRegList& List, const TDriverClassInfo& AClass,
                                  TV8ObjectFactory AFactory, std::string_view AExtension);

  // The accessor registered for every exported property. Errors are raised.
  bool PropertyGetSet(const std::string& PropName, V8Variant* propValue, bool Get,
                      TV8AddInDefBaseEx* v8);
  bool PropertySet(const std::string& PropName, V8Variant* propValue);
  // Writing from a native variant.
  bool PropertyGetSet(const std::string& PropName, const TV8NativeVariant& propValue);
  bool PropertySet(const std::string& PropName, const TV8NativeVariant& propValue);
  // Sets every exported, writable property except LogEnabled to its default.
  void PropertiesSetDefault();

  // Runs the host method AName (its English name) of this object's class
  // with the code the registry runs, without the call trace: in-process
  // harnesses call methods as the host does. Raises for a name the class
  // does not export.
  bool CallHostMethod(std::string_view AName, V8Variant* RetValue, V8Variant* Params, long Count);

  // Converts Value to the kind of Prop, then sets the property of the same
  // name on Target (whose class lists its properties in
  // `static std::span<const TPropertyInfo<T>> PublishedProperties()`).
  // Setting LogEnabled also records the flag for the current device identifier.
  template <class S, class T>
  bool SetPropertyOn(const TPropertyInfo<S>& Prop, const TV8NativeVariant& Value, T& Target);

  // A property of T by its exact name; null when T has none.
  template <class T>
  static const TPropertyInfo<T>* FindPublishedProperty(std::string_view Name);

 protected:
  // Result helpers of every host method.
  void CallSucceeded(V8Variant* RetValue);
  virtual void HandleCallError(const std::exception& E, V8Variant* RetValue, int32_t ErrorCode);

  // The argument at Index; raises when the host passed fewer.
  static V8Variant* Arg(V8Variant* Params, long Count, long Index);
  // Writes a text out-argument; raises when the host's memory manager refuses.
  void SetOutText(V8Variant* V, std::string_view Utf8Text);

  TResult FLastResult;
  std::string FDeviceID;

 private:
  // Walks the exported properties named PropName (any letter case, English
  // or Russian); false when none matched.
  template <class F>
  bool ForEachExportedProperty(std::string_view PropName, F&& Step);
};

// ---- templates ----

template <class T>
const TPropertyInfo<T>* TCustomDriver::FindPublishedProperty(std::string_view Name) {
  for (const TPropertyInfo<T>& Prop : T::PublishedProperties())
    if (Name == Prop.Name) return &Prop;
  return nullptr;
}

std::string PropertyNotFoundInSourceMessage(std::string_view Name);
std::string PropertyReadOnlyMessage(std::string_view Name);

template <class S, class T>
bool TCustomDriver::SetPropertyOn(const TPropertyInfo<S>& Prop, const TV8NativeVariant& Value,
                                  T& Target) {
  const TV8NativeVariant Converted = ConvertVariantToKind(Value, Prop.Kind);
  const TPropertyInfo<T>* TargetProp = FindPublishedProperty<T>(Prop.Name);
  if (TargetProp == nullptr) throw std::runtime_error(PropertyNotFoundInSourceMessage(Prop.Name));
  if (TargetProp->Set == nullptr) throw std::runtime_error(PropertyReadOnlyMessage(Prop.Name));
  TargetProp->Set(Target, ConvertVariantToKind(Converted, TargetProp->Kind));
  RecordDeviceLogFlag(Prop.Name, FDeviceID, Converted);
  return true;
}
