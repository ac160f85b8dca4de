#include "hostbridge/uV8Dispatch.h"

#include <cstring>
#include <exception>
#include <optional>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"
#include "hostbridge/uV8Values.h"

namespace {

// The text by which the log recognises a device identifier in the first
// argument. Only a text can spell one, so nothing else is converted.
std::optional<std::string> FirstArgumentText(const V8Variant* Params, long Count) {
  constexpr uint32_t kDeviceIdLength = 36;
  if (Count < 1 || Params[0].vt != VTYPE_PWSTR || Params[0].wstrLen != kDeviceIdLength)
    return std::nullopt;
  return V8ToUtf8(&Params[0]);
}

// Selects the log of the device the call names (none: suspended).
void SelectCallLog(const V8Variant* Params, long Count) noexcept {
  try {
    SelectDeviceLog(FirstArgumentText(Params, Count));
  } catch (...) {
    SetLogMode(lmSuspended);
  }
}

// The trace is best effort: whatever goes wrong while a line is built or
// written is noted in the log and never reaches the call. The argument text
// is built only when the line will be written.
template <typename F>
void TraceLine(F&& Write) noexcept {
  try {
    if (LogPasses(llDebug)) Write();
  } catch (const std::exception& e) {
    NoteLogFailure(e.what());
  } catch (...) {
    NoteLogFailure("unknown failure of the call trace");
  }
}

// Arguments of a type the driver cannot take are refused before the method
// runs, whether or not the call is traced.
void CheckArgumentTypes(const V8Variant* Params, long Count) {
  for (long i = 0; i < Count; ++i) V8CheckSupportedType(&Params[i]);
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

void V8TraceIn(const std::string& Name, const V8Variant* Params, long Count) noexcept {
  TraceLine([&] { WriteLog("> " + Name, "Params: " + V8ParamsText(Params, Count), llDebug); });
}

void V8TraceOut(const std::string& Name, const V8Variant* RetValue, const V8Variant* Params,
                long Count) noexcept {
  TraceLine([&] {
    std::string text = "; Params: " + V8ParamsText(Params, Count);
    if (RetValue != nullptr) text = "Result=" + CapLogText(V8ToText(RetValue)) + text;
    WriteLog("< " + Name, text, llDebug);
  });
}

std::string V8ParamsText(const V8Variant* Params, long Count) {
  std::string text = "[";
  for (long i = 0; i < Count; ++i) {
    if (i > 0) text += "; ";
    text += Params[i].vt == VTYPE_BLOB ? std::string("BLOB") : CapLogText(V8ToText(&Params[i]));
  }
  return text + "]";
}

void V8ReportException(TV8UserObject& Obj, const std::string& Message) {
  // The host copies the texts of AddError, so they stay ours.
  const std::u16string descr = Utf8ToUtf16(Message);
  const std::u16string source = Utf8ToUtf16(kV8ExceptionSource);
  try {
    if (Obj.V8 != nullptr)
      Obj.V8->AddError(kV8ExceptionErrorCode, V8HostText(source.c_str()), V8HostText(descr.c_str()),
                       kV8ExceptionSCode);
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
  const TPropReg* prop = Obj.ClassReg->PropAt(Number);
  if (prop == nullptr) return nullptr;
  return HostStringCopy(Obj.V8MM,
                        std::u16string_view(Alias == 0 ? prop->PropName : prop->PropNameLoc));
}

const WCHAR_T* V8GetMethodName(TV8UserObject& Obj, long Number, long Alias) {
  const TMethReg* meth = Obj.ClassReg->MethodAt(Number);
  if (meth == nullptr) return nullptr;
  return HostStringCopy(Obj.V8MM,
                        std::u16string_view(Alias == 0 ? meth->MethName : meth->MethNameLoc));
}

bool V8GetParamDefValue(TV8UserObject& Obj, long Method, long Param, V8Variant* Value) {
  try {
    const TMethReg* meth = Obj.ClassReg->MethodAt(Method);
    if (meth == nullptr || Value == nullptr || Param < 0 || Param >= meth->DefParams.ValueCount())
      return false;
    const V8Variant& def = meth->DefParams.Values[Param].Value;
    // The host frees the texts of values it receives, so it gets its own copies.
    switch (V8TypeCode(&def)) {
      case VTYPE_PWSTR:
        return Obj.V8SetWString(Value, V8ToWideString(&def));
      case VTYPE_PSTR:
        return Obj.V8SetString(
            Value, def.pstrVal ? std::string_view(def.pstrVal, def.strLen) : std::string_view());
      default:
        std::memcpy(static_cast<void*>(Value), &def, sizeof(V8Variant));
        return true;
    }
  } catch (...) {
    return false;
  }
}

bool V8GetPropVal(TV8UserObject& Obj, long Number, V8Variant* Value) {
  const TPropReg* prop = Obj.ClassReg->PropAt(Number);
  if (prop == nullptr || prop->PropGetSet == nullptr || Value == nullptr) return false;
  return Guarded(
      Obj, [&] { return prop->PropGetSet(Obj, Utf16ToUtf8(prop->PropName), Value, true, Obj.V8); });
}

bool V8SetPropVal(TV8UserObject& Obj, long Number, V8Variant* Value) {
  const TPropReg* prop = Obj.ClassReg->PropAt(Number);
  if (prop == nullptr || prop->PropGetSet == nullptr || Value == nullptr) return false;
  return Guarded(Obj, [&] {
    return prop->PropGetSet(Obj, Utf16ToUtf8(prop->PropName), Value, false, Obj.V8);
  });
}

bool V8CallMethod(TV8UserObject& Obj, long Number, V8Variant* RetValue, V8Variant* Params,
                  long Count) {
  const TMethReg* meth = Obj.ClassReg->MethodAt(Number);
  if (meth == nullptr) return false;
  if (Params == nullptr || Count < 0) Count = 0;
  // This call's lines follow the device it names, whatever other threads' calls select.
  TLogCallScope logScope;
  return Guarded(Obj, [&] {
    const std::string name = Utf16ToUtf8(meth->MethName);
    SelectCallLog(Params, Count);
    CheckArgumentTypes(Params, Count);
    V8TraceIn(name, Params, Count);
    bool result = false;
    if (meth->IsFunction)
      result = meth->Func(Obj, RetValue, Params, Count, Obj.V8);
    else
      result = meth->Proc(Obj, Params, Count, Obj.V8);
    // The method may have changed its device's log switch.
    SelectCallLog(Params, Count);
    V8TraceOut(name, RetValue, Params, Count);
    return result;
  });
}
