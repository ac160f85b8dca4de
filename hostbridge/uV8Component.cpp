#include "hostbridge/uV8Component.h"

#include <new>

#include "common/uCommonUtils.h"
#include "hostbridge/uV8Dispatch.h"

namespace {

// The object stored four words after an interface word of the block.
TV8UserObject& ObjectOf(const void* Interface) {
  auto* const* word = static_cast<void* const*>(Interface);
  return *static_cast<TV8UserObject*>(word[kV8BlockObjectOffset]);
}

// Runs a hook of the object; nothing may leave the platform's call.
template <typename R, typename F>
R Shielded(R Fallback, F&& Body) {
  try {
    return Body();
  } catch (...) {
    return Fallback;
  }
}

class TInitDoneTable final : public TV8InitDone {
 public:
  bool Init(void* disp) override {
    TV8UserObject& obj = ObjectOf(this);
    obj.V8 = static_cast<TV8AddInDefBaseEx*>(disp);
    return Shielded(false, [&] { return obj.Init(); });
  }
  bool setMemManager(void* mem) override {
    TV8UserObject& obj = ObjectOf(this);
    obj.V8MM = static_cast<TV8MemoryManager*>(mem);
    return Shielded(false, [&] { return obj.SetMemManager(); });
  }
  long GetInfo() override {
    return Shielded(0L, [&] { return ObjectOf(this).GetInfo(); });
  }
  void Done() override {
    Shielded(0, [&] {
      ObjectOf(this).Done();
      return 0;
    });
  }
};

class TLanguageExtenderTable final : public TV8LanguageExtender {
 public:
  bool RegisterExtensionAs(WCHAR_T** wsExtensionName) override {
    return Shielded(false, [&] { return V8RegisterExtensionAs(Obj(), wsExtensionName); });
  }
  long GetNProps() override { return Reg().PropCount(); }
  long FindProp(const WCHAR_T* wsPropName) override {
    return Shielded(-1L, [&] { return Reg().FindProp(Utf16FromZ(wsPropName)); });
  }
  const WCHAR_T* GetPropName(long lPropNum, long lPropAlias) override {
    return Shielded<const WCHAR_T*>(nullptr,
                                    [&] { return V8GetPropName(Obj(), lPropNum, lPropAlias); });
  }
  bool GetPropVal(const long lPropNum, V8Variant* pvarPropVal) override {
    return V8GetPropVal(Obj(), lPropNum, pvarPropVal);
  }
  bool SetPropVal(const long lPropNum, V8Variant* varPropVal) override {
    return V8SetPropVal(Obj(), lPropNum, varPropVal);
  }
  // Numbers come from the host: one the registry does not hold answers false.
  bool IsPropReadable(const long lPropNum) override {
    const TPropReg* prop = Reg().PropAt(lPropNum);
    return prop != nullptr && prop->IsReadable;
  }
  bool IsPropWritable(const long lPropNum) override {
    const TPropReg* prop = Reg().PropAt(lPropNum);
    return prop != nullptr && prop->IsWritable;
  }
  long GetNMethods() override { return Reg().MethCount(); }
  long FindMethod(const WCHAR_T* wsMethodName) override {
    return Shielded(-1L, [&] { return Reg().FindMethod(Utf16FromZ(wsMethodName)); });
  }
  const WCHAR_T* GetMethodName(const long lMethodNum, const long lMethodAlias) override {
    return Shielded<const WCHAR_T*>(
        nullptr, [&] { return V8GetMethodName(Obj(), lMethodNum, lMethodAlias); });
  }
  long GetNParams(const long lMethodNum) override {
    const TMethReg* meth = Reg().MethodAt(lMethodNum);
    return meth != nullptr ? meth->ParamCount : 0;
  }
  bool GetParamDefValue(const long lMethodNum, const long lParamNum,
                        V8Variant* pvarParamDefValue) override {
    return V8GetParamDefValue(Obj(), lMethodNum, lParamNum, pvarParamDefValue);
  }
  bool HasRetVal(const long lMethodNum) override {
    const TMethReg* meth = Reg().MethodAt(lMethodNum);
    return meth != nullptr && meth->IsFunction;
  }
  bool CallAsProc(const long lMethodNum, V8Variant* paParams, const long lSizeArray) override {
    return V8CallMethod(Obj(), lMethodNum, nullptr, paParams, lSizeArray);
  }
  bool CallAsFunc(const long lMethodNum, V8Variant* pvarRetValue, V8Variant* paParams,
                  const long lSizeArray) override {
    return V8CallMethod(Obj(), lMethodNum, pvarRetValue, paParams, lSizeArray);
  }

 private:
  TV8UserObject& Obj() { return ObjectOf(this); }
  TClassReg& Reg() { return *ObjectOf(this).ClassReg; }
};

class TLocaleTable final : public TV8LocaleBase {
 public:
  void SetLocale(const WCHAR_T* loc) override {
    Shielded(0, [&] {
      TV8UserObject& obj = ObjectOf(this);
      obj.locale = Utf16ToUtf8(Utf16FromZ(loc));
      obj.SetLocale();
      return 0;
    });
  }
};

static_assert(sizeof(TInitDoneTable) == sizeof(void*) &&
                  sizeof(TLanguageExtenderTable) == sizeof(void*) &&
                  sizeof(TLocaleTable) == sizeof(void*),
              "an interface word holds only a vtable pointer");

}  // namespace

const WCHAR_T* V8GetClassNames(TClassRegList& List) {
  return List.ClassNames();
}

long V8GetClassObject(TClassRegList& List, const WCHAR_T* Name, TV8ComponentBase** Component) {
  if (Component == nullptr) return 0;
  TClassReg* reg = List.FindClass(Utf16FromZ(Name));
  if (reg == nullptr || reg->UserClass == nullptr) return 0;
  TV8UserObject* obj = nullptr;
  void** block = nullptr;
  try {
    obj = reg->UserClass();
    if (obj == nullptr) return 0;
    block = new void*[kV8BlockWords]();
  } catch (...) {
    delete obj;
    return 0;
  }
  new (&block[0]) TInitDoneTable();
  new (&block[1]) TLanguageExtenderTable();
  new (&block[2]) TLocaleTable();
  block[3] = nullptr;
  for (int i = kV8BlockObjectOffset; i < kV8BlockWords; ++i) block[i] = obj;
  obj->ClassReg = reg;
  *Component = reinterpret_cast<TV8ComponentBase*>(block);
  return 1;
}

long V8DestroyObject(TV8ComponentBase** Component) {
  if (Component == nullptr || *Component == nullptr) return 0;
  auto** block = reinterpret_cast<void**>(*Component);
  try {
    delete static_cast<TV8UserObject*>(block[kV8BlockObjectOffset]);
  } catch (...) {
  }
  std::launder(reinterpret_cast<TInitDoneTable*>(&block[0]))->~TInitDoneTable();
  std::launder(reinterpret_cast<TLanguageExtenderTable*>(&block[1]))->~TLanguageExtenderTable();
  std::launder(reinterpret_cast<TLocaleTable*>(&block[2]))->~TLocaleTable();
  delete[] block;
  return 0;
}
