#include "host/uAddInHost.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/uCommonUtils.h"

std::string BuiltAddInPath() {
#ifdef QUARNEL_ADDIN_PATH
  return QUARNEL_ADDIN_PATH;
#else
  return "libquarnel.so";
#endif
}

// ---- memory manager ----

THostMemoryManager::~THostMemoryManager() {
  for (void* block : FLive) std::free(block);
}

bool THostMemoryManager::AllocMemory(void** pMemory, unsigned long ulCountByte) {
  if (pMemory == nullptr) return false;
  if (Refuse) {
    *pMemory = nullptr;
    return false;
  }
  void* block = std::malloc(ulCountByte == 0 ? 1 : ulCountByte);
  if (block == nullptr) return false;
  // Fill with garbage so that a missing terminator shows up.
  std::memset(block, 0xA5, ulCountByte);
  FLive.insert(block);
  ++FAllocations;
  *pMemory = block;
  return true;
}

void THostMemoryManager::FreeMemory(void** pMemory) {
  if (pMemory == nullptr || *pMemory == nullptr) return;
  auto it = FLive.find(*pMemory);
  if (it == FLive.end()) {
    ++FBadFrees;
    return;
  }
  std::free(*it);
  FLive.erase(it);
  ++FFrees;
  *pMemory = nullptr;
}

// ---- connection ----

bool THostConnection::AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr,
                               long scode) {
  Errors.push_back({wcode, Utf16ToUtf8(Utf16FromZ(source)), Utf16ToUtf8(Utf16FromZ(descr)), scode});
  return true;
}

// ---- library ----

TAddInLibrary::TAddInLibrary(const std::string& Path) {
  std::error_code ec;
  if (!std::filesystem::exists(Path, ec) && Path.find('/') != std::string::npos)
    throw EAddInLoadError("no add-in library at " + Path);
  // The library stays mapped for the life of the process, as under the
  // platform; its process-wide state (registry, log) is shared by every host.
  FHandle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (FHandle == nullptr)
    throw EAddInLoadError("cannot load " + Path + ": " + std::string(dlerror()));
  GetClassNames = reinterpret_cast<TV8GetClassNamesFn>(Symbol("GetClassNames"));
  GetClassObject = reinterpret_cast<TV8GetClassObjectFn>(Symbol("GetClassObject"));
  DestroyObject = reinterpret_cast<TV8DestroyObjectFn>(Symbol("DestroyObject"));
  GetAttachType = reinterpret_cast<TV8GetAttachTypeFn>(Symbol("GetAttachType"));
  std::string missing;
  const std::pair<const char*, bool> exports[] = {{"GetClassNames", GetClassNames != nullptr},
                                                  {"GetClassObject", GetClassObject != nullptr},
                                                  {"DestroyObject", DestroyObject != nullptr},
                                                  {"GetAttachType", GetAttachType != nullptr}};
  for (const auto& [name, found] : exports)
    if (!found) missing += missing.empty() ? name : std::string(", ") + name;
  if (!missing.empty()) {
    dlclose(FHandle);
    throw EAddInLoadError(Path + " is not a Native API add-in: it does not export " + missing);
  }
}

TAddInLibrary::~TAddInLibrary() {
  if (FHandle != nullptr) dlclose(FHandle);
}

void* TAddInLibrary::Symbol(const char* Name) const {
  return dlsym(FHandle, Name);
}

// ---- arguments ----

THostArg THostArg::Int64(int64_t Value) {
  THostArg a;
  a.FRaw.vt = VTYPE_I8;
  a.FRaw.llVal = Value;
  return a;
}

THostArg THostArg::Ansi(const std::string& Bytes) {
  THostArg a;
  a.FKind = kAnsi;
  a.FText = Bytes;
  return a;
}

THostArg THostArg::Blob(const std::string& Bytes) {
  THostArg a;
  a.FKind = kBlob;
  a.FText = Bytes;
  return a;
}

THostArg THostArg::Raw(const V8Variant& Value) {
  THostArg a;
  a.FRaw = Value;
  return a;
}

// ---- call results ----

namespace {

// Frees what a value left to the host holds, as the platform does after a
// call; FreeMemory counts a block it does not hold as a bad free.
void FreeValue(THostMemoryManager* Memory, V8Variant& V, const std::vector<const void*>& Keep) {
  const uint16_t code = V.vt & VTYPE_TYPEMASK;
  if ((code == VTYPE_PSTR || code == VTYPE_PWSTR || code == VTYPE_BLOB) && V.pstrVal != nullptr &&
      std::find(Keep.begin(), Keep.end(), V.pstrVal) == Keep.end()) {
    void* block = V.pstrVal;
    Memory->FreeMemory(&block);
  }
  std::memset(static_cast<void*>(&V), 0, sizeof V);
}

std::runtime_error WrongType(const char* Wanted, const V8Variant& V) {
  return std::runtime_error(std::string("value is not ") + Wanted + " (vt=" + std::to_string(V.vt) +
                            ")");
}

}  // namespace

TCallResult::TCallResult(THostMemoryManager* Memory, size_t ParamCount)
    : Params(ParamCount), FMemory(Memory) {}

TCallResult::TCallResult(TCallResult&& Other) noexcept
    : Ok(Other.Ok),
      Result(Other.Result),
      Params(std::move(Other.Params)),
      FMemory(Other.FMemory),
      FCallerBlocks(std::move(Other.FCallerBlocks)) {
  std::memset(static_cast<void*>(&Other.Result), 0, sizeof Other.Result);
  Other.Params.clear();
}

TCallResult::~TCallResult() {
  FreeValue(FMemory, Result, FCallerBlocks);
  for (V8Variant& v : Params) FreeValue(FMemory, v, FCallerBlocks);
}

std::string TCallResult::TextOf(const V8Variant& V) {
  if (V.vt != VTYPE_PWSTR) throw WrongType("a UTF-16 text", V);
  const std::u16string text = Utf16FromZ(V.pwstrVal);
  if (text.size() != V.wstrLen)
    throw std::runtime_error("wstrLen " + std::to_string(V.wstrLen) + " but the text has " +
                             std::to_string(text.size()) + " code units");
  return Utf16ToUtf8(text);
}

bool TCallResult::BoolOf(const V8Variant& V) {
  if (V.vt != VTYPE_BOOL) throw WrongType("a Boolean", V);
  return V.bVal;
}

int32_t TCallResult::IntOf(const V8Variant& V) {
  if (V.vt != VTYPE_I4) throw WrongType("a 32-bit integer", V);
  return V.lVal;
}

double TCallResult::DoubleOf(const V8Variant& V) {
  if (V.vt != VTYPE_R8) throw WrongType("a double", V);
  return V.dblVal;
}

// ---- host ----

TAddInHost::TAddInHost(const std::string& LibraryPath, const std::string& ClassName) {
  FLibrary = new TAddInLibrary(LibraryPath);
  const std::u16string names = Utf16FromZ(FLibrary->GetClassNames());
  const std::u16string name = Utf8ToUtf16(ClassName);
  if (FLibrary->GetClassObject(name.c_str(), &FComponent) != 1 || FComponent == nullptr) {
    delete FLibrary;
    throw std::runtime_error("GetClassObject(" + ClassName +
                             ") failed; class names: " + Utf16ToUtf8(names));
  }
  InitDone()->Init(static_cast<TV8AddInDefBase*>(&Connection));
  InitDone()->setMemManager(static_cast<TV8MemoryManager*>(&Memory));
}

TAddInHost::~TAddInHost() {
  InitDone()->Done();
  FLibrary->DestroyObject(&FComponent);
  delete FLibrary;
}

TV8InitDone* TAddInHost::InitDone() const {
  return reinterpret_cast<TV8InitDone*>(Block());
}
TV8LanguageExtender* TAddInHost::Lang() const {
  return reinterpret_cast<TV8LanguageExtender*>(Block() + 1);
}
TV8LocaleBase* TAddInHost::Locale() const {
  return reinterpret_cast<TV8LocaleBase*>(Block() + 2);
}

long TAddInHost::FindMethod(std::string_view Utf8Name) const {
  return Lang()->FindMethod(Utf8ToUtf16(Utf8Name).c_str());
}

long TAddInHost::FindProp(std::string_view Utf8Name) const {
  return Lang()->FindProp(Utf8ToUtf16(Utf8Name).c_str());
}

namespace {
std::string TakeName(THostMemoryManager& Memory, const WCHAR_T* Name) {
  if (Name == nullptr) throw std::runtime_error("the add-in returned no name");
  const std::string text = Utf16ToUtf8(Utf16FromZ(Name));
  void* block = const_cast<WCHAR_T*>(Name);
  Memory.FreeMemory(&block);
  return text;
}
}  // namespace

std::string TAddInHost::MethodName(long Number, long Alias) {
  return TakeName(Memory, Lang()->GetMethodName(Number, Alias));
}

std::string TAddInHost::PropName(long Number, long Alias) {
  return TakeName(Memory, Lang()->GetPropName(Number, Alias));
}

V8Variant TAddInHost::MakeValue(const THostArg& Arg) {
  V8Variant v{};
  switch (Arg.FKind) {
    case THostArg::kRaw:
      return Arg.FRaw;
    case THostArg::kText:
    case THostArg::kWide: {
      const std::u16string text = Arg.FKind == THostArg::kText ? Utf8ToUtf16(Arg.FText) : Arg.FWide;
      void* block = nullptr;
      if (!Memory.AllocMemory(&block, (text.size() + 1) * 2))
        throw std::runtime_error("host memory refused");
      std::memcpy(block, text.c_str(), (text.size() + 1) * 2);
      v.vt = VTYPE_PWSTR;
      v.pwstrVal = static_cast<WCHAR_T*>(block);
      v.wstrLen = static_cast<uint32_t>(text.size());
      return v;
    }
    case THostArg::kAnsi:
    case THostArg::kBlob: {
      void* block = nullptr;
      if (!Memory.AllocMemory(&block, Arg.FText.size() + 1))
        throw std::runtime_error("host memory refused");
      std::memcpy(block, Arg.FText.c_str(), Arg.FText.size() + 1);
      v.vt = Arg.FKind == THostArg::kAnsi ? VTYPE_PSTR : VTYPE_BLOB;
      v.pstrVal = static_cast<char*>(block);
      v.strLen = static_cast<uint32_t>(Arg.FText.size());
      return v;
    }
  }
  return v;
}

void TAddInHost::Load(TCallResult& R, size_t Index, const THostArg& Arg) {
  R.Params.at(Index) = MakeValue(Arg);
  if (Arg.FKind == THostArg::kRaw && Arg.FRaw.pstrVal != nullptr)
    R.FCallerBlocks.push_back(Arg.FRaw.pstrVal);
}

TCallResult TAddInHost::CallArgs(long Number, bool AsFunction, const THostArg* Args, size_t Count) {
  const long expected = Lang()->GetNParams(Number);
  if (static_cast<long>(Count) > expected)
    throw std::runtime_error("too many arguments: method " + MethodName(Number, 0) + " takes " +
                             std::to_string(expected));
  // The platform always passes exactly GetNParams records.
  TCallResult r(&Memory, static_cast<size_t>(expected));
  for (size_t i = 0; i < Count; ++i) Load(r, i, Args[i]);
  V8Variant* params = r.Params.empty() ? nullptr : r.Params.data();
  if (AsFunction)
    r.Ok = Lang()->CallAsFunc(Number, &r.Result, params, expected);
  else
    r.Ok = Lang()->CallAsProc(Number, params, expected);
  return r;
}

TCallResult TAddInHost::CallNumber(long Number, bool AsFunction,
                                   std::initializer_list<THostArg> Args) {
  return CallArgs(Number, AsFunction, Args.begin(), Args.size());
}

TCallResult TAddInHost::CallNumber(long Number, bool AsFunction,
                                   const std::vector<THostArg>& Args) {
  return CallArgs(Number, AsFunction, Args.data(), Args.size());
}

long TAddInHost::MethodNumber(std::string_view Method) const {
  const long number = FindMethod(Method);
  if (number < 0) throw std::runtime_error("no method " + std::string(Method));
  return number;
}

TCallResult TAddInHost::Call(std::string_view Method, std::initializer_list<THostArg> Args) {
  return CallNumber(MethodNumber(Method), true, Args);
}

TCallResult TAddInHost::Call(std::string_view Method, const std::vector<THostArg>& Args) {
  return CallNumber(MethodNumber(Method), true, Args);
}

TCallResult TAddInHost::CallProc(std::string_view Method, std::initializer_list<THostArg> Args) {
  return CallNumber(MethodNumber(Method), false, Args);
}

TCallResult TAddInHost::GetProp(std::string_view Name) {
  const long number = FindProp(Name);
  if (number < 0) throw std::runtime_error("no property " + std::string(Name));
  TCallResult r(&Memory, 0);
  r.Ok = Lang()->GetPropVal(number, &r.Result);
  return r;
}

bool TAddInHost::SetProp(std::string_view Name, const THostArg& Value) {
  const long number = FindProp(Name);
  if (number < 0) throw std::runtime_error("no property " + std::string(Name));
  TCallResult r(&Memory, 1);
  Load(r, 0, Value);
  r.Ok = Lang()->SetPropVal(number, &r.Params[0]);
  return r.Ok;
}
