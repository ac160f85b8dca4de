// The platform's side of the add-in boundary: the host value record, the
// interfaces the host calls us through, the interfaces the host hands us, and
// the four exported functions. Everything here mirrors the platform's binary
// interface; nothing above this header needs to know those shapes except
// through TV8UserObject and the readers in uV8Values.h.
//
// Linux x86-64 (the platform is built with g++, Itanium C++ ABI):
// - every interface starts with a virtual destructor (two vtable entries);
// - `long` is 64-bit and is used exactly where the platform uses it;
// - host text is zero-terminated UTF-16 (char16_t);
// - V8Variant: a 56-byte union (struct tm is the widest member), then
//   cbElements, then the 16-bit type word: 64 bytes.
//
// Windows x64 and x86 (the platform is built with MSVC; we build with MinGW):
// - a virtual destructor is ONE vtable slot in MSVC (the scalar deleting
//   destructor) but two in g++, so there each interface declares that slot
//   as a plain pure virtual method and keeps its real destructor non-virtual;
// - on x86 the interface methods are __stdcall, the deleting destructor and
//   plain member functions __thiscall (g++'s default for members there);
// - `long` is 32-bit; host text is wchar_t, 16-bit UTF-16;
// - V8Variant is 48 bytes: a 40-byte union (struct tm is 36), cbElements
//   at 40, the type word at 44.
// QUARNEL_V8_WINDOWS_LAYOUT selects the Windows vtable shape; the slot guard
// test sets it on Linux too, to check the slot numbers with the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#if defined(_WIN32) && !defined(QUARNEL_V8_WINDOWS_LAYOUT)
#define QUARNEL_V8_WINDOWS_LAYOUT 1
#endif

#if defined(_WIN32)
using WCHAR_T = wchar_t;
#else
using WCHAR_T = char16_t;
#endif
static_assert(sizeof(WCHAR_T) == 2, "host text is UTF-16 on every target");

// Calling convention of the interface methods.
#if defined(_WIN32) && !defined(_WIN64)
#define ADDIN_API __stdcall
#else
#define ADDIN_API
#endif

// The destructor slot that opens every interface's table.
#if defined(QUARNEL_V8_WINDOWS_LAYOUT)
// MSVC's scalar deleting destructor: flags & 1 asks the object to free itself.
// Nobody deletes through an interface, so the real destructor stays protected.
#define QUARNEL_V8_DESTRUCTOR_SLOT(T)                         \
 public:                                                      \
  virtual void* ScalarDeletingDestructor(unsigned flags) = 0; \
                                                              \
 protected:                                                   \
  ~T() = default;                                             \
                                                              \
 public:
#else
#define QUARNEL_V8_DESTRUCTOR_SLOT(T) \
 public:                              \
  virtual ~T() = default;
#endif

// Host texts are UTF-16 on every target; only the name of the code unit
// differs, so a text crosses the boundary as the same bytes under another
// pointer type (identity on Linux).
inline const char16_t* V8Utf16(const WCHAR_T* text) {
  return reinterpret_cast<const char16_t*>(text);
}
inline const WCHAR_T* V8HostText(const char16_t* text) {
  return reinterpret_cast<const WCHAR_T*>(text);
}
inline WCHAR_T* V8HostText(char16_t* text) {
  return reinterpret_cast<WCHAR_T*>(text);
}

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

// The record as the platform lays it out on each target.
#if defined(_WIN32)
static_assert(sizeof(struct tm) == 36 && sizeof(long) == 4 && sizeof(wchar_t) == 2,
              "MSVC's struct tm, long and wchar_t expected");
static_assert(sizeof(V8Variant) == 48, "V8Variant must match the platform's record");
static_assert(offsetof(V8Variant, cbElements) == 40, "cbElements offset");
static_assert(offsetof(V8Variant, vt) == 44, "vt offset");
static_assert(offsetof(V8Variant, strLen) == sizeof(void*), "8-bit text length offset");
static_assert(offsetof(V8Variant, wstrLen) == sizeof(void*), "UTF-16 text length offset");
#elif defined(__x86_64__) && defined(__linux__)
static_assert(sizeof(struct tm) == 56 && sizeof(long) == 8, "glibc x86-64 struct tm and long");
static_assert(sizeof(V8Variant) == 64, "V8Variant must match the platform's record");
static_assert(offsetof(V8Variant, cbElements) == 56, "cbElements offset");
static_assert(offsetof(V8Variant, vt) == 60, "vt offset");
static_assert(offsetof(V8Variant, strLen) == 8, "8-bit text length offset");
static_assert(offsetof(V8Variant, wstrLen) == 8, "UTF-16 text length offset");
#else
#error "no platform layout is known for this target"
#endif

// ---- Interfaces the host implements and hands to the add-in ----

// The host's memory manager: every text and byte block handed to the host is
// allocated here and becomes the host's.
class TV8MemoryManager {
  QUARNEL_V8_DESTRUCTOR_SLOT(TV8MemoryManager)
  virtual bool ADDIN_API AllocMemory(void** pMemory, unsigned long ulCountByte) = 0;
  virtual void ADDIN_API FreeMemory(void** pMemory) = 0;
};

// The host connection. The add-in only ever calls AddError.
class TV8AddInDefBase {
  QUARNEL_V8_DESTRUCTOR_SLOT(TV8AddInDefBase)
  virtual bool ADDIN_API AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr,
                                  long scode) = 0;
  virtual bool ADDIN_API Read(WCHAR_T* wszPropName, V8Variant* pVal, long* pErrCode,
                              WCHAR_T** errDescriptor) = 0;
  virtual bool ADDIN_API Write(WCHAR_T* wszPropName, V8Variant* pVar) = 0;
  virtual bool ADDIN_API RegisterProfileAs(WCHAR_T* wszProfileName) = 0;
  virtual bool ADDIN_API SetEventBufferDepth(long lDepth) = 0;
  virtual long ADDIN_API GetEventBufferDepth() = 0;
  virtual bool ADDIN_API ExternalEvent(WCHAR_T* wszSource, WCHAR_T* wszMessage,
                                       WCHAR_T* wszData) = 0;
  virtual void ADDIN_API CleanEventBuffer() = 0;
  virtual bool ADDIN_API SetStatusLine(WCHAR_T* wszStatusLine) = 0;
  virtual void ADDIN_API ResetStatusLine() = 0;
};

class TV8AddInDefBaseEx : public TV8AddInDefBase {
 public:
  virtual void* ADDIN_API GetInterface(int iface) = 0;
};

// The empty base of the interfaces GetInterface hands out (the message box,
// the platform information). GetInterface returns a pointer to this base.
// g++ places an empty base at offset 0 of a class with a vtable; MSVC places
// it after the vtable pointer, so on Windows the interface itself starts one
// pointer before what the host returned.
struct TV8Interface {};
#if defined(_WIN32)
inline constexpr size_t kV8InterfaceBaseOffset = sizeof(void*);
#else
inline constexpr size_t kV8InterfaceBaseOffset = 0;
#endif
// The interface object (its vtable pointer first) behind a GetInterface result.
template <typename TInterface>
TInterface* V8HostInterface(void* fromGetInterface) {
  if (fromGetInterface == nullptr) return nullptr;
  return reinterpret_cast<TInterface*>(static_cast<char*>(fromGetInterface) -
                                       kV8InterfaceBaseOffset);
}

// ---- Interfaces the add-in implements; the host calls the component block through them ----

class TV8InitDone {
  QUARNEL_V8_DESTRUCTOR_SLOT(TV8InitDone)
  virtual bool ADDIN_API Init(void* disp) = 0;
  virtual bool ADDIN_API setMemManager(void* mem) = 0;
  virtual long ADDIN_API GetInfo() = 0;
  virtual void ADDIN_API Done() = 0;
};

class TV8LanguageExtender {
  QUARNEL_V8_DESTRUCTOR_SLOT(TV8LanguageExtender)
  virtual bool ADDIN_API RegisterExtensionAs(WCHAR_T** wsExtensionName) = 0;
  virtual long ADDIN_API GetNProps() = 0;
  virtual long ADDIN_API FindProp(const WCHAR_T* wsPropName) = 0;
  virtual const WCHAR_T* ADDIN_API GetPropName(long lPropNum, long lPropAlias) = 0;
  virtual bool ADDIN_API GetPropVal(const long lPropNum, V8Variant* pvarPropVal) = 0;
  virtual bool ADDIN_API SetPropVal(const long lPropNum, V8Variant* varPropVal) = 0;
  virtual bool ADDIN_API IsPropReadable(const long lPropNum) = 0;
  virtual bool ADDIN_API IsPropWritable(const long lPropNum) = 0;
  virtual long ADDIN_API GetNMethods() = 0;
  virtual long ADDIN_API FindMethod(const WCHAR_T* wsMethodName) = 0;
  virtual const WCHAR_T* ADDIN_API GetMethodName(const long lMethodNum,
                                                 const long lMethodAlias) = 0;
  virtual long ADDIN_API GetNParams(const long lMethodNum) = 0;
  virtual bool ADDIN_API GetParamDefValue(const long lMethodNum, const long lParamNum,
                                          V8Variant* pvarParamDefValue) = 0;
  virtual bool ADDIN_API HasRetVal(const long lMethodNum) = 0;
  virtual bool ADDIN_API CallAsProc(const long lMethodNum, V8Variant* paParams,
                                    const long lSizeArray) = 0;
  virtual bool ADDIN_API CallAsFunc(const long lMethodNum, V8Variant* pvarRetValue,
                                    V8Variant* paParams, const long lSizeArray) = 0;
};

class TV8LocaleBase {
  QUARNEL_V8_DESTRUCTOR_SLOT(TV8LocaleBase)
  virtual void ADDIN_API SetLocale(const WCHAR_T* loc) = 0;
};

// How the host sees what GetClassObject returns: one object with the three
// interfaces as bases, i.e. three interface pointers at byte offsets 0, 8 and 16
// of the component block. The add-in never creates an object of this class;
// hosts reach the interfaces by those offsets (see uV8Component.h).
class TV8ComponentBase : public TV8InitDone, public TV8LanguageExtender, public TV8LocaleBase {};

// Where the component may run: in the host process, in a separate one, or either.
enum TV8AttachType { eCanAttachNotIsolated = 1, eCanAttachIsolated = 2, eCanAttachAny = 3 };

// ---- The library's exported functions (and only these are exported) ----
// cdecl and undecorated on every target.
#if defined(_WIN32)
#define QUARNEL_EXPORT __declspec(dllexport)
#else
#define QUARNEL_EXPORT __attribute__((visibility("default")))
#endif

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
