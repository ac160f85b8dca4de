#include "hostbridge/uV8Dispatch.h"

#include <cstring>
#include <exception>
#include <optional>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"
#include "hostbridge/uV8Values.h"

namespace {

// The text by which the log recognises a device identifier in the first
// argument; a value without a text form simply selects no device.
std::optional<std::string> FirstArgumentText(const V8Variant* Params, long Count) {
  if (Count < 1 || Params == nullptr || Params[0].vt == VTYPE_BLOB) return std::nullopt;
  try {
    return V8ToText(&Params[0]);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void TraceIn(const std::string& Name, const V8Variant* Params, long Count) {
  SelectDeviceLog(FirstArgumentText(Params, Count));
  WriteLog("> " + Name, "Params: " + V8ParamsText(Params, Count), llDebug);
}

void TraceOut(const std::string& Name, const V8Variant* RetValue, const V8Variant* Params,
              long Count) {
  SelectDeviceLog(FirstArgumentText(Params, Count));
  std::string text = "; Params: " + V8ParamsText(Params, Count);
  if (RetValue != nullptr) text = "Result=" + V8ToText(RetValue) + text;
  WriteLog("< " + Name, text, llDebug);
}

// Runs an accessor or a method body; an exception becomes a host error.
template <typename F>
bool Guarded(TV8UserObject& Obj, F&& Body) {
  try {
    return Body();
  } catch (const std::exception& e) {
    V8ReportException(Obj, e.what());
  } catch (...) {
    // Nothing may cross the platform's boundary, whatever was thrown.
    V8ReportException(Obj, "Unknown exception");
  }
  return false;
}

}  // namespace

std::string V8ParamsText(const V8Variant* Params, long Count) {
  std::string text = "[";
  for (long i = 0; i < Count; ++i) {
    if (i > 0) text += "; ";
    text += Params[i].vt == VTYPE_BLOB ? std::string("BLOB") : V8ToText(&Params[i]);
  }
  return text + "]";
}

void V8ReportException(TV8UserObject& Obj, const std::string& Message) {
  // The host copies the texts of AddError, so they stay ours.
  const std::u16string descr = Utf8ToUtf16(Message);
  const std::u16string source = Utf8ToUtf16(kV8ExceptionSource);
  try {
    if (Obj.V8 != nullptr)
      Obj.V8->AddError(kV8ExceptionErrorCode, source.c_str(), descr.c_str(), kV8ExceptionSCode);
  } catch (...) {
  }
  try {
    WriteLog("EXCEPTION", Message, llError);
  } catch (...) {
  }
}

bool V8RegisterExtensionAs(TV8UserObject& Obj, WCHAR_T** ExtensionName) {
  if (ExtensionName == nullptr) return false;
  *ExtensionName = HostStringCopy(Obj.V8MM, std::u16string_view(Obj.ClassReg->RegisterExtensionAs));
  return true;
}

const WCHAR_T* V8GetPropName(TV8UserObject& Obj, long Number, long Alias) {
  const TPropReg& prop = Obj.ClassReg->Prop(Number);
  return HostStringCopy(Obj.V8MM,
                        std::u16string_view(Alias == 0 ? prop.PropName : prop.PropNameLoc));
}

const WCHAR_T* V8GetMethodName(TV8UserObject& Obj, long Number, long Alias) {
  const TMethReg& meth = Obj.ClassReg->Method(Number);
  return HostStringCopy(Obj.V8MM,
                        std::u16string_view(Alias == 0 ? meth.MethName : meth.MethNameLoc));
}

bool V8GetParamDefValue(TV8UserObject& Obj, long Method, long Param, V8Variant* Value) {
  try {
    const TDefParamList& defs = Obj.ClassReg->Method(Method).DefParams;
    if (Value == nullptr || Param < 0 || Param >= defs.ValueCount()) return false;
    const V8Variant& def = defs.Values[Param].Value;
    // The host frees the texts of values it receives, so it gets its own copies.
    switch (V8TypeCode(&def)) {
      case VTYPE_PWSTR:
        return Obj.V8SetWString(Value, Utf16FromZ(def.pwstrVal));
      case VTYPE_PSTR:
        return Obj.V8SetPChar(Value, def.pstrVal ? def.pstrVal : "");
      default:
        std::memcpy(static_cast<void*>(Value), &def, sizeof(V8Variant));
        return true;
    }
  } catch (...) {
    return false;
  }
}

bool V8GetPropVal(TV8UserObject& Obj, long Number, V8Variant* Value) {
  return Guarded(Obj, [&] {
    const TPropReg& prop = Obj.ClassReg->Prop(Number);
    if (prop.PropGetSet == nullptr) return false;
    return prop.PropGetSet(Obj, Utf16ToUtf8(prop.PropName), Value, true, Obj.V8);
  });
}

bool V8SetPropVal(TV8UserObject& Obj, long Number, V8Variant* Value) {
  return Guarded(Obj, [&] {
    const TPropReg& prop = Obj.ClassReg->Prop(Number);
    if (prop.PropGetSet == nullptr) return false;
    return prop.PropGetSet(Obj, Utf16ToUtf8(prop.PropName), Value, false, Obj.V8);
  });
}

bool V8CallMethod(TV8UserObject& Obj, long Number, V8Variant* RetValue, V8Variant* Params,
                  long Count) {
  return Guarded(Obj, [&] {
    const TMethReg& meth = Obj.ClassReg->Method(Number);
    const std::string name = Utf16ToUtf8(meth.MethName);
    TraceIn(name, Params, Count);
    bool result = false;
    if (meth.IsFunction)
      result = meth.Func(Obj, RetValue, Params, Count, Obj.V8);
    else
      result = meth.Proc(Obj, Params, Count, Obj.V8);
    TraceOut(name, RetValue, Params, Count);
    return result;
  });
}
