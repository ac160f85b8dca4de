// A small add-in built on the real entry point: two classes whose methods
// exercise every path of the bridge, so that the bridge is tested through
// dlopen and the platform's interface pointers without the driver.
#include <stdexcept>

#include "common/Common.Log.h"
#include "hostbridge/uClassReg.h"
#include "hostbridge/uV8Values.h"

namespace {

class TProbe : public TV8UserObject {
 public:
  bool Init() override {
    ++InitCalls;
    return true;
  }
  void SetLocale() override { ++LocaleCalls; }

  // Echo(in, out): result = the text of `in`; `out` = "out:" + that text.
  bool Echo(V8Variant* RetValue, V8Variant* Params, long, TV8AddInDefBaseEx*) {
    const std::string text = V8ToUtf8(&Params[0]);
    V8SetWString(&Params[1], "out:" + text);
    if (RetValue != nullptr) V8SetWString(RetValue, text);
    ++Calls;
    return true;
  }
  // The second "Echo": registered after the first, never reached by name.
  bool Shadow(V8Variant* RetValue, V8Variant*, long, TV8AddInDefBaseEx*) {
    if (RetValue != nullptr) V8SetWString(RetValue, "shadow");
    return true;
  }
  bool Fail(V8Variant*, V8Variant* Params, long, TV8AddInDefBaseEx*) {
    ++Calls;
    throw std::runtime_error(V8ToUtf8(&Params[0]));
  }
  bool FailOddly(V8Variant*, V8Variant*, long, TV8AddInDefBaseEx*) { throw 42; }
  bool ReturnFalse(V8Variant* RetValue, V8Variant*, long, TV8AddInDefBaseEx*) {
    if (RetValue != nullptr) V8SetBool(RetValue, true);
    return false;
  }
  // State(): "<Init calls>/<SetLocale calls>/<locale>/<calls>".
  bool State(V8Variant* RetValue, V8Variant*, long, TV8AddInDefBaseEx*) {
    const std::string text = std::to_string(InitCalls) + "/" + std::to_string(LocaleCalls) + "/" +
                             locale + "/" + std::to_string(Calls);
    return V8SetWString(RetValue, text);
  }
  bool Bump(V8Variant* Params, long Count, TV8AddInDefBaseEx*) {
    Calls += Count > 0 ? V8GetInt(&Params[0]) : 1;
    return true;
  }
  // SetLog(deviceId, flag): what the LogEnabled property records for a device.
  bool SetLog(V8Variant* RetValue, V8Variant* Params, long, TV8AddInDefBaseEx*) {
    SetDeviceLogFlag(V8ToUtf8(&Params[0]), V8ToBool(&Params[1]));
    if (RetValue != nullptr) V8SetBool(RetValue, true);
    return true;
  }
  // Blob(): a three-byte block.
  bool Blob(V8Variant* RetValue, V8Variant*, long, TV8AddInDefBaseEx*) {
    return V8SetBlob(RetValue, "\x01\x02\x03", 3);
  }

  // Faults the harness must notice: Dangle frees the host's text in
  // argument 0 but leaves the pointer there (typed as a blob, which the call
  // trace does not read); Foreign answers a text that never came from the
  // host's memory manager.
  bool Dangle(V8Variant*, V8Variant* Params, long, TV8AddInDefBaseEx*) {
    void* block = Params[0].pwstrVal;
    V8MM->FreeMemory(&block);
    Params[0].vt = VTYPE_BLOB;
    return true;
  }
  bool Foreign(V8Variant* RetValue, V8Variant*, long, TV8AddInDefBaseEx*) {
    static char16_t text[] = u"static";
    V8ClearVar(RetValue);
    RetValue->vt = VTYPE_PWSTR;
    RetValue->pwstrVal = text;
    RetValue->wstrLen = 6;
    return true;
  }

  bool Property(const std::string& Name, V8Variant* Value, bool Get, TV8AddInDefBaseEx*) {
    if (Name == "Broken") throw std::runtime_error("Property not found: Broken");
    if (Get) return V8SetInt(Value, FValue);
    FValue = V8GetInt(Value);
    return true;
  }

  int InitCalls = 0;
  int LocaleCalls = 0;
  int Calls = 0;

 private:
  int32_t FValue = 7;
};

class TProbeTwo : public TV8UserObject {};

class TBroken : public TV8UserObject {
 public:
  TBroken() { throw std::runtime_error("cannot construct"); }
};

const TMethDef kProbeMethods[] = {
    {"Echo", "Эхо", 2, V8Func<&TProbe::Echo>},
    {"Fail", "Сбой", 1, V8Func<&TProbe::Fail>},
    {"FailOddly", "СбойСтранный", 0, V8Func<&TProbe::FailOddly>},
    {"ReturnFalse", "ВернутьЛожь", 0, V8Func<&TProbe::ReturnFalse>},
    {"State", "Состояние", 0, V8Func<&TProbe::State>},
    {"SetLog", "УстановитьЛог", 2, V8Func<&TProbe::SetLog>},
    {"Blob", "Блоб", 0, V8Func<&TProbe::Blob>},
    {"Echo", "ЭхоВторое", 2, V8Func<&TProbe::Shadow>},
    {"Dangle", "Висячий", 1, V8Func<&TProbe::Dangle>},
    {"Foreign", "Чужой", 0, V8Func<&TProbe::Foreign>},
};

}  // namespace

void RegisterDriverClasses(TClassRegList& List) {
  TClassReg& reg = List.RegisterClass<TProbe>("ProbeExt", "probe");
  reg.AddFuncs(kProbeMethods);
  reg.AddProc("Bump", "Прибавить", 1, V8Proc<&TProbe::Bump>);
  TMethReg& defaults = reg.AddFunc("Defaults", "ПоУмолчанию", 2, V8Func<&TProbe::State>);
  defaults.DefParams.AddWString(u"def", 1);
  defaults.DefParams.AddInt(7, 2);
  reg.AddProp("Value", "Значение", true, true, V8PropGetSet<&TProbe::Property>);
  reg.AddProp("ReadOnly", "ТолькоЧтение", true, false, V8PropGetSet<&TProbe::Property>);
  reg.AddProp("Broken", "Сломан", true, true, V8PropGetSet<&TProbe::Property>);
  List.RegisterClass<TProbeTwo>("Second", "probe2");
  List.RegisterClass<TBroken>("Broken", "broken");
}
