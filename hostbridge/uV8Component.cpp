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

#if defined(QUARNEL_V8_WINDOWS_LAYOUT)
// The tables live in the block's words and are ended by DestroyObject; a host
// that calls the destructor slot gets the word back and nothing is freed.
#define QUARNEL_V8_TABLE_DESTRUCTOR                   \
  void* ScalarDeletingDestructor(unsigned) override { \
    return this;                                      \
  }
#else
#define QUARNEL_V8_TABLE_DESTRUCTOR
#endif

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
  QUARNEL_V8_TABLE_DESTRUCTOR
  bool ADDIN_API Init(void* disp) override {
    TV8UserObject& obj = ObjectOf(this);
    obj.V8 = static_cast<TV8AddInDefBaseEx*>(disp);
    return Shielded(false, [&] { return obj.Init(); });
  }
  bool ADDIN_API setMemManager(void* mem) override {
    TV8UserObject& obj = ObjectOf(this);
    obj.V8MM = static_cast<TV8MemoryManager*>(mem);
    return Shielded(false, [&] { return obj.SetMemManager(); });
  }
  long ADDIN_API GetInfo() override {
    return Shielded(0L, [&] { return ObjectOf(this).GetInfo(); });
  }
  void ADDIN_API Done() override {
    Shielded(0, [&] {
      ObjectOf(this).Done();
      return 0;
    });
  }
};

class TLanguageExtenderTable final : public TV8LanguageExtender {
 public:
  QUARNEL_V8_TABLE_DESTRUCTOR
  bool ADDIN_API RegisterExtensionAs(WCHAR_T** wsExtensionName) override {
    return Shielded(false, [&] { return V8RegisterExtensionAs(Obj(), wsExtensionName); });
  }
  long ADDIN_API GetNProps() override { return Reg().PropCount(); }
  long ADDIN_API FindProp(const WCHAR_T* wsPropName) override {
    return Shielded(-1L, [&] { return Reg().FindProp(Utf16FromZ(V8Utf16(wsPropName))); });
  }
  const WCHAR_T* ADDIN_API GetPropName(long lPropNum, long lPropAlias) override {
    return Shielded<const WCHAR_T*>(nullptr,
                                    [&] { return V8GetPropName(Obj(), lPropNum, lPropAlias); });
  }
  bool ADDIN_API GetPropVal(const long lPropNum, V8Variant* pvarPropVal) override {
    return V8GetPropVal(Obj(), lPropNum, pvarPropVal);
  }
  bool ADDIN_API SetPropVal(const long lPropNum, V8Variant* varPropVal) override {
    return V8SetPropVal(Obj(), lPropNum, varPropVal);
  }
  // Numbers come from the host: one the registry does not hold answers false.
  bool ADDIN_API IsPropReadable(const long lPropNum) override {
    const TPropReg* prop = Reg().PropAt(lPropNum);
    return prop != nullptr && prop->IsReadable;
  }
  bool ADDIN_API IsPropWritable(const long lPropNum) override {
    const TPropReg* prop = Reg().PropAt(lPropNum);
    return prop != nullptr && prop->IsWritable;
  }
  long ADDIN_API GetNMethods() override { return Reg().MethCount(); }
  long ADDIN_API FindMethod(const WCHAR_T* wsMethodName) override {
    return Shielded(-1L, [&] { return Reg().FindMethod(Utf16FromZ(V8Utf16(wsMethodName))); });
  }
  const WCHAR_T* ADDIN_API GetMethodName(const long lMethodNum, const long lMethodAlias) override {
    return Shielded<const WCHAR_T*>(
        nullptr, [&] { return V8GetMethodName(Obj(), lMethodNum, lMethodAlias); });
  }
  long ADDIN_API GetNParams(const long lMethodNum) override {
    const TMethReg* meth = Reg().MethodAt(lMethodNum);
    return meth != nullptr ? meth->ParamCount : 0;
  }
  bool ADDIN_API GetParamDefValue(const long lMethodNum, const long lParamNum,
                                  V8Variant* pvarParamDefValue) override {
    return V8GetParamDefValue(Obj(), lMethodNum, lParamNum, pvarParamDefValue);
  }
  bool ADDIN_API HasRetVal(const long lMethodNum) override {
    const TMethReg* meth = Reg().MethodAt(lMethodNum);
    return meth != nullptr && meth->IsFunction;
  }
  bool ADDIN_API CallAsProc(const long lMethodNum, V8Variant* paParams,
                            const long lSizeArray) override {
    return V8CallMethod(Obj(), lMethodNum, nullptr, paParams, lSizeArray);
  }
  bool ADDIN_API CallAsFunc(const long lMethodNum, V8Variant* pvarRetValue, V8Variant* paParams,
                            const long lSizeArray) override {
    return V8CallMethod(Obj(), lMethodNum, pvarRetValue, paParams, lSizeArray);
  }

 private:
  TV8UserObject& Obj() { return ObjectOf(this); }
  TClassReg& Reg() { return *ObjectOf(this).ClassReg; }
};

class TLocaleTable final : public TV8LocaleBase {
 public:
  QUARNEL_V8_TABLE_DESTRUCTOR
  void ADDIN_API SetLocale(const WCHAR_T* loc) override {
    Shielded(0, [&] {
      TV8UserObject& obj = ObjectOf(this);
      obj.locale = Utf16ToUtf8(Utf16FromZ(V8Utf16(loc)));
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
  TClassReg* reg = List.FindClass(Utf16FromZ(V8Utf16(Name)));
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
