// The platform's side of the add-in boundary: the host value record, the
// interfaces the host calls us through, the interfaces the host hands us, and
// the four exported functions. Everything here mirrors the platform's binary
// interface on Linux x86-64 (g++, Itanium C++ ABI); nothing above this header
// needs to know those shapes except through TV8UserObject and the readers in
// uV8Values.h.
//
// ABI facts this header relies on:
// - every interface starts with a virtual destructor (two vtable entries), so
//   the interfaces are real abstract classes and the compiler lays the tables out;
// - `long` is 64-bit and is used exactly where the platform uses it;
// - host text is zero-terminated UTF-16 (char16_t);
// - V8Variant has no packing: a 56-byte union (struct tm is the widest
//   member), then cbElements, then the 16-bit type word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

using WCHAR_T = char16_t;

// Type codes of V8Variant::vt (low 12 bits) and its flag bits.
enum TV8Type : uint16_t {
  VTYPE_EMPTY = 0,
  VTYPE_NULL = 1,
  VTYPE_I2 = 2,
  VTYPE_I4 = 3,
  VTYPE_R4 = 4,
  VTYPE_R8 = 5,
  VTYPE_DATE = 6,
  VTYPE_TM = 7,
  VTYPE_PSTR = 8,
  VTYPE_INTERFACE = 9,
  VTYPE_ERROR = 10,
  VTYPE_BOOL = 11,
  VTYPE_VARIANT = 12,
  VTYPE_I1 = 13,
  VTYPE_UI1 = 14,
  VTYPE_UI2 = 15,
  VTYPE_UI4 = 16,
  VTYPE_I8 = 17,
  VTYPE_UI8 = 18,
  VTYPE_INT = 19,
  VTYPE_UINT = 20,
  VTYPE_HRESULT = 21,
  VTYPE_PWSTR = 22,
  VTYPE_BLOB = 23,
  VTYPE_CLSID = 24,
  VTYPE_STR_BLOB = 0xfff,
  VTYPE_VECTOR = 0x1000,
  VTYPE_ARRAY = 0x2000,
  VTYPE_BYREF = 0x4000,
};
constexpr uint16_t VTYPE_TYPEMASK = 0x0fff;

struct TV8Guid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};

// The host value record. Parameter arrays are V8Variant records laid end to end.
struct V8Variant {
  union {
    int8_t i8Val;
    int16_t shortVal;
    int32_t lVal;
    int intVal;
    unsigned int uintVal;
    int64_t llVal;
    uint8_t ui8Val;
    uint16_t ushortVal;
    uint32_t ulVal;
    uint64_t ullVal;
    int32_t errCode;
    int32_t hRes;
    float fltVal;
    double dblVal;
    bool bVal;
    char chVal;
    WCHAR_T wchVal;
    double date;  // days since 1899-12-30, time of day as the fraction
    TV8Guid IDVal;
    V8Variant* pvarVal;
    struct tm tmVal;
    struct {
      void* pInterfaceVal;
      TV8Guid InterfaceID;
    };
    struct {
      char* pstrVal;
      uint32_t strLen;  // bytes
    };
    struct {
      WCHAR_T* pwstrVal;
      uint32_t wstrLen;  // UTF-16 code units, terminating zero excluded
    };
  };
  uint32_t cbElements;
  uint16_t vt;
};

static_assert(sizeof(struct tm) == 56, "struct tm of glibc x86-64 expected");
static_assert(sizeof(V8Variant) == 64, "V8Variant must match the platform's record");
static_assert(offsetof(V8Variant, cbElements) == 56, "cbElements offset");
static_assert(offsetof(V8Variant, vt) == 60, "vt offset");
static_assert(offsetof(V8Variant, strLen) == 8, "8-bit text length offset");
static_assert(offsetof(V8Variant, wstrLen) == 8, "UTF-16 text length offset");

// ---- Interfaces the host implements and hands to the add-in ----

// The host's memory manager: every text and byte block handed to the host is
// allocated here and becomes the host's.
class TV8MemoryManager {
 public:
  virtual ~TV8MemoryManager() = default;
  virtual bool AllocMemory(void** pMemory, unsigned long ulCountByte) = 0;
  virtual void FreeMemory(void** pMemory) = 0;
};

// The host connection. The add-in only ever calls AddError.
class TV8AddInDefBase {
 public:
  virtual ~TV8AddInDefBase() = default;
  virtual bool AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr,
                        long scode) = 0;
  virtual bool Read(WCHAR_T* wszPropName, V8Variant* pVal, long* pErrCode,
                    WCHAR_T** errDescriptor) = 0;
  virtual bool Write(WCHAR_T* wszPropName, V8Variant* pVar) = 0;
  virtual bool RegisterProfileAs(WCHAR_T* wszProfileName) = 0;
  virtual bool SetEventBufferDepth(long lDepth) = 0;
  virtual long GetEventBufferDepth() = 0;
  virtual bool ExternalEvent(WCHAR_T* wszSource, WCHAR_T* wszMessage, WCHAR_T* wszData) = 0;
  virtual void CleanEventBuffer() = 0;
  virtual bool SetStatusLine(WCHAR_T* wszStatusLine) = 0;
  virtual void ResetStatusLine() = 0;
};

class TV8AddInDefBaseEx : public TV8AddInDefBase {
 public:
  virtual void* GetInterface(int iface) = 0;
};

// ---- Interfaces the add-in implements; the host calls the component block through them ----

class TV8InitDone {
 public:
  virtual ~TV8InitDone() = default;
  virtual bool Init(void* disp) = 0;
  virtual bool setMemManager(void* mem) = 0;
  virtual long GetInfo() = 0;
  virtual void Done() = 0;
};

class TV8LanguageExtender {
 public:
  virtual ~TV8LanguageExtender() = default;
  virtual bool RegisterExtensionAs(WCHAR_T** wsExtensionName) = 0;
  virtual long GetNProps() = 0;
  virtual long FindProp(const WCHAR_T* wsPropName) = 0;
  virtual const WCHAR_T* GetPropName(long lPropNum, long lPropAlias) = 0;
  virtual bool GetPropVal(const long lPropNum, V8Variant* pvarPropVal) = 0;
  virtual bool SetPropVal(const long lPropNum, V8Variant* varPropVal) = 0;
  virtual bool IsPropReadable(const long lPropNum) = 0;
  virtual bool IsPropWritable(const long lPropNum) = 0;
  virtual long GetNMethods() = 0;
  virtual long FindMethod(const WCHAR_T* wsMethodName) = 0;
  virtual const WCHAR_T* GetMethodName(const long lMethodNum, const long lMethodAlias) = 0;
  virtual long GetNParams(const long lMethodNum) = 0;
  virtual bool GetParamDefValue(const long lMethodNum, const long lParamNum,
                                V8Variant* pvarParamDefValue) = 0;
  virtual bool HasRetVal(const long lMethodNum) = 0;
  virtual bool CallAsProc(const long lMethodNum, V8Variant* paParams, const long lSizeArray) = 0;
  virtual bool CallAsFunc(const long lMethodNum, V8Variant* pvarRetValue, V8Variant* paParams,
                          const long lSizeArray) = 0;
};

class TV8LocaleBase {
 public:
  virtual ~TV8LocaleBase() = default;
  virtual void SetLocale(const WCHAR_T* loc) = 0;
};

// How the host sees what GetClassObject returns: one object with the three
// interfaces as bases, i.e. three interface pointers at byte offsets 0, 8 and 16
// of the component block. The add-in never creates an object of this class;
// hosts reach the interfaces by those offsets (see uV8Component.h).
class TV8ComponentBase : public TV8InitDone, public TV8LanguageExtender, public TV8LocaleBase {};

// Where the component may run: in the host process, in a separate one, or either.
enum TV8AttachType { eCanAttachNotIsolated = 1, eCanAttachIsolated = 2, eCanAttachAny = 3 };

// ---- The library's exported functions (and only these are exported) ----
#define QUARNEL_EXPORT __attribute__((visibility("default")))

extern "C" {
QUARNEL_EXPORT const WCHAR_T* GetClassNames();
QUARNEL_EXPORT long GetClassObject(const WCHAR_T* wsName, TV8ComponentBase** pIntf);
QUARNEL_EXPORT long DestroyObject(TV8ComponentBase** pIntf);
QUARNEL_EXPORT TV8AttachType GetAttachType();
}

// Function types of the exports, for hosts that look them up with dlsym.
using TV8GetClassNamesFn = const WCHAR_T* (*)();
using TV8GetClassObjectFn = long (*)(const WCHAR_T*, TV8ComponentBase**);
using TV8DestroyObjectFn = long (*)(TV8ComponentBase**);
using TV8GetAttachTypeFn = TV8AttachType (*)();
