// The registry of component classes and their host-visible methods and
// properties. The host finds methods and properties by name and calls them by
// number; a number is the entry's position in registration order.
//
// How a driver class plugs in
// ---------------------------
// 1. Derive from TV8UserObject (uV8UserObject.h). Give every host method the
//    member shape
//        bool T::Method(V8Variant* RetValue, V8Variant* Params, long Count,
//                       TV8AddInDefBaseEx* V8);
//    RetValue is null when the host calls the method as a procedure: skip
//    writing a result then. Read arguments with the readers of uV8Values.h,
//    write results and out-arguments with TV8UserObject's setters.
//    A property accessor has the member shape
//        bool T::PropertyGetSet(const std::string& PropName, V8Variant* Value,
//                               bool Get, TV8AddInDefBaseEx* V8);
// 2. Define RegisterDriverClasses (declared below) in the driver's code. The
//    library's entry point calls it exactly once, before answering the host's
//    first question. Register the class and write its table in the order the
//    host must see:
//
//        void RegisterDriverClasses(TClassRegList& List) {
//          TClassReg& Reg = List.RegisterClass<TDriver>("quarnel", "quarnel");
//          Reg.AddFunc("GetInterfaceRevision", "ПолучитьРевизиюИнтерфейса", 0,
//                      V8Func<&TDriver::GetInterfaceRevision>);
//          ...
//          Reg.AddProp("LogEnabled", "ЛогВключен", true, true,
//                      V8PropGetSet<&TCustomDriver::PropertyGetSet>);
//        }
//
//    or keep the methods in a constant TMethDef array and call AddFuncs with it.
//    Names are UTF-8 in the sources; the registry keeps them as UTF-16.
// 3. Exceptions: a std::exception leaving a method or accessor becomes one
//    AddError(1006, "Внешняя компонента", message, 0x80004005) to the host, an
//    "EXCEPTION" line in the log, and a false result. Exported driver methods
//    normally catch their own errors and report them in their result instead.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hostbridge/v8napi.h"
#include "hostbridge/uV8UserObject.h"

// The two shapes of host-callable code and the property accessor.
using TV8FuncCode = bool (*)(TV8UserObject& Obj, V8Variant* RetValue, V8Variant* Params, long Count,
                             TV8AddInDefBaseEx* V8);
using TV8ProcCode = bool (*)(TV8UserObject& Obj, V8Variant* Params, long Count,
                             TV8AddInDefBaseEx* V8);
using TV8PropGetSetCode = bool (*)(TV8UserObject& Obj, const std::string& PropName,
                                   V8Variant* Value, bool Get, TV8AddInDefBaseEx* V8);

namespace v8detail {
template <typename M>
struct TMemberClass;
template <typename C, typename R, typename... A>
struct TMemberClass<R (C::*)(A...)> {
  using Type = C;
};
}  // namespace v8detail

// Adapters from member functions to registry code: V8Func<&TDriver::GetVersion>.
template <auto Method>
bool V8Func(TV8UserObject& Obj, V8Variant* RetValue, V8Variant* Params, long Count,
            TV8AddInDefBaseEx* V8) {
  using C = typename v8detail::TMemberClass<decltype(Method)>::Type;
  return (static_cast<C&>(Obj).*Method)(RetValue, Params, Count, V8);
}
template <auto Method>
bool V8Proc(TV8UserObject& Obj, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8) {
  using C = typename v8detail::TMemberClass<decltype(Method)>::Type;
  return (static_cast<C&>(Obj).*Method)(Params, Count, V8);
}
template <auto Method>
bool V8PropGetSet(TV8UserObject& Obj, const std::string& PropName, V8Variant* Value, bool Get,
                  TV8AddInDefBaseEx* V8) {
  using C = typename v8detail::TMemberClass<decltype(Method)>::Type;
  return (static_cast<C&>(Obj).*Method)(PropName, Value, Get, V8);
}

// Default values of a method's parameters. The driver registers none; the
// list exists so that GetParamDefValue has something to answer from.
struct TDefParamValue {
  int32_t ParamNum;  // zero-based
  V8Variant Value;
};

class TDefParamList {
 public:
  int32_t ValueCount() const { return static_cast<int32_t>(Values.size()); }
  // Appends an entry for the one-based parameter Number and returns its value.
  V8Variant& AddParam(int32_t Number);
  void AddInt(int32_t Value, int32_t Number);
  void AddDouble(double Value, int32_t Number);
  void AddBool(bool Value, int32_t Number);
  void AddDate(double Value, int32_t Number);
  // The text must outlive the registry; the host gets its own copy.
  void AddWString(const WCHAR_T* Value, int32_t Number);
  void AddAString(const char* Value, int32_t Number);

  std::vector<TDefParamValue> Values;
  V8Variant* TempParam = nullptr;  // the value added last
};

struct TMethReg {
  std::u16string MethName;     // English
  std::u16string MethNameLoc;  // Russian
  bool IsFunction = true;
  int32_t ParamCount = 0;
  TDefParamList DefParams;
  TV8FuncCode Func = nullptr;  // set when IsFunction
  TV8ProcCode Proc = nullptr;  // set otherwise
};

struct TPropReg {
  std::u16string PropName;     // English
  std::u16string PropNameLoc;  // Russian
  bool IsReadable = true;
  bool IsWritable = true;
  TV8PropGetSetCode PropGetSet = nullptr;
};

// One row of a hand-written method table (names in UTF-8).
struct TMethDef {
  const char* Name;
  const char* NameLoc;
  int32_t ParamCount;
  TV8FuncCode Func;
};

using TV8ObjectFactory = TV8UserObject* (*)();

class TClassReg {
 public:
  TClassReg(TV8ObjectFactory UserClass, std::string_view RegisterExtensionAs,
            std::string_view NatApiClassName);

  TV8ObjectFactory UserClass;
  std::u16string RegisterExtensionAs;
  std::u16string NatApiClassName;

  long PropCount() const { return static_cast<long>(PropList.size()); }
  long MethCount() const { return static_cast<long>(MethList.size()); }
  // The entry of a number; Method and Prop raise std::out_of_range for a
  // number the registry does not hold, MethodAt and PropAt answer nullptr.
  TMethReg& Method(long Number) { return *MethList.at(static_cast<size_t>(Number)); }
  TPropReg& Prop(long Number) { return *PropList.at(static_cast<size_t>(Number)); }
  TMethReg* MethodAt(long Number) {
    return Number >= 0 && Number < MethCount() ? MethList[Number].get() : nullptr;
  }
  TPropReg* PropAt(long Number) {
    return Number >= 0 && Number < PropCount() ? PropList[Number].get() : nullptr;
  }

  TMethReg& AddFunc(std::string_view MethName, std::string_view MethNameLoc, int32_t ParamCount,
                    TV8FuncCode Func);
  TMethReg& AddProc(std::string_view MethName, std::string_view MethNameLoc, int32_t ParamCount,
                    TV8ProcCode Proc);
  // Registers the rows in order, each as a function.
  void AddFuncs(std::span<const TMethDef> Table);
  TPropReg& AddProp(std::string_view PropName, std::string_view PropNameLoc, bool IsReadable,
                    bool IsWritable, TV8PropGetSetCode PropGetSet);

  // First entry whose Russian or English name equals Name exactly, else -1.
  long FindMethod(std::u16string_view Name) const;
  long FindProp(std::u16string_view Name) const;

 private:
  TMethReg& AddMethod(std::string_view MethName, std::string_view MethNameLoc, bool IsFunction,
                      int32_t ParamCount);

  std::vector<std::unique_ptr<TMethReg>> MethList;
  std::vector<std::unique_ptr<TPropReg>> PropList;
};

class TClassRegList {
 public:
  // Appends a class and its name to the class-name list ("a|b|...").
  TClassReg& RegisterClass(TV8ObjectFactory UserClass, std::string_view RegisterExtensionAs,
                           std::string_view NatApiClassName);
  template <typename T>
  TClassReg& RegisterClass(std::string_view RegisterExtensionAs, std::string_view NatApiClassName) {
    return RegisterClass([]() -> TV8UserObject* { return new T(); }, RegisterExtensionAs,
                         NatApiClassName);
  }

  long ClassCount() const { return static_cast<long>(ClassList.size()); }
  TClassReg& Class(long Index) { return *ClassList[Index]; }
  // The registered class names joined by "|", zero-terminated UTF-16.
  const WCHAR_T* ClassNames() const { return V8HostText(FClassNames.c_str()); }
  // Exact (case-sensitive) match on NatApiClassName; nullptr when absent.
  TClassReg* FindClass(std::u16string_view NatApiClassName);

 private:
  std::vector<std::unique_ptr<TClassReg>> ClassList;
  std::u16string FClassNames;
};

// Defined by the driver's code: registers the library's component classes.
// Called once by the library's entry point (never by static initialisers).
void RegisterDriverClasses(TClassRegList& List);
