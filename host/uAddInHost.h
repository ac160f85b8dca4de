// A host that drives an add-in library exactly as the platform does; the
// command-line host and the test harness both stand on it.
//
// It dlopens the library, asks GetClassNames, creates the component with
// GetClassObject, hands it a connection (recording AddError calls) and a
// memory manager (counting every block, catching leaks and double frees), and
// calls methods and properties by name through the interface pointers of the
// component block, with V8Variant argument arrays laid out as the platform
// lays them out. Texts it sends are allocated from its own memory manager,
// like the platform's; everything the add-in hands back is freed through it
// when the call result goes out of scope.
//
//   TAddInHost host("/path/libquarnel.so");            // class "quarnel"
//   TCallResult r = host.Call("GetLineLength", {"id", THostArg::Empty()});
//   if (r.Ok && r.Bool()) use(r.ParamInt(1));
//
// Arguments convert implicitly: "text" (UTF-8) and u"text" → VTYPE_PWSTR,
// true → VTYPE_BOOL, 5 → VTYPE_I4, 2.5 → VTYPE_R8; THostArg::Ansi("x") is an
// 8-bit text, THostArg::Raw(v) any record as given. Missing trailing
// arguments are sent as VTYPE_EMPTY, as the platform does.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "hostbridge/v8napi.h"

// The libquarnel.so of this build (compiled in).
std::string BuiltAddInPath();

// A library that cannot be loaded, or that is no Native API add-in.
class EAddInLoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The platform's memory manager with bookkeeping.
class THostMemoryManager final : public TV8MemoryManager {
 public:
  ~THostMemoryManager() override;
  bool AllocMemory(void** pMemory, unsigned long ulCountByte) override;
  void FreeMemory(void** pMemory) override;

  // When set, every allocation is refused.
  bool Refuse = false;
  long Allocations() const { return FAllocations; }
  long Frees() const { return FFrees; }
  // Blocks allocated and not yet freed.
  long Live() const { return static_cast<long>(FLive.size()); }
  // Frees of pointers this manager does not hold (double or foreign frees).
  long BadFrees() const { return FBadFrees; }
  bool Owns(const void* Block) const { return FLive.count(const_cast<void*>(Block)) != 0; }

 private:
  std::set<void*> FLive;
  long FAllocations = 0;
  long FFrees = 0;
  long FBadFrees = 0;
};

// The platform's connection; records AddError and answers nothing else.
class THostConnection final : public TV8AddInDefBaseEx {
 public:
  struct TError {
    unsigned short Code;
    std::string Source;  // UTF-8
    std::string Descr;   // UTF-8
    long SCode;
  };
  std::vector<TError> Errors;

  bool AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr,
                long scode) override;
  bool Read(WCHAR_T*, V8Variant*, long*, WCHAR_T**) override { return false; }
  bool Write(WCHAR_T*, V8Variant*) override { return false; }
  bool RegisterProfileAs(WCHAR_T*) override { return false; }
  bool SetEventBufferDepth(long) override { return false; }
  long GetEventBufferDepth() override { return 0; }
  bool ExternalEvent(WCHAR_T*, WCHAR_T*, WCHAR_T*) override { return false; }
  void CleanEventBuffer() override {}
  bool SetStatusLine(WCHAR_T*) override { return false; }
  void ResetStatusLine() override {}
  void* GetInterface(int) override { return nullptr; }
};

// A loaded add-in library and its four exports. The library is never
// unmapped: every host in the process shares its process-wide state.
// Throws EAddInLoadError naming the file when it cannot be loaded or lacks an
// export.
class TAddInLibrary {
 public:
  explicit TAddInLibrary(const std::string& Path = BuiltAddInPath());
  ~TAddInLibrary();
  TAddInLibrary(const TAddInLibrary&) = delete;
  TAddInLibrary& operator=(const TAddInLibrary&) = delete;

  // Any symbol by name (nullptr when the library does not export it).
  void* Symbol(const char* Name) const;

  TV8GetClassNamesFn GetClassNames = nullptr;
  TV8GetClassObjectFn GetClassObject = nullptr;
  TV8DestroyObjectFn DestroyObject = nullptr;
  TV8GetAttachTypeFn GetAttachType = nullptr;

 private:
  void* FHandle = nullptr;
};

// One argument as the caller writes it; the host turns it into a V8Variant.
class THostArg {
 public:
  THostArg(const char* Utf8) : FKind(kText), FText(Utf8) {}
  THostArg(const std::string& Utf8) : FKind(kText), FText(Utf8) {}
  THostArg(const char16_t* Text) : FKind(kWide), FWide(Text) {}
  THostArg(const std::u16string& Text) : FKind(kWide), FWide(Text) {}
  THostArg(bool Value) : FKind(kRaw) { FRaw.vt = VTYPE_BOOL, FRaw.bVal = Value; }
  THostArg(int Value) : FKind(kRaw) { FRaw.vt = VTYPE_I4, FRaw.lVal = Value; }
  THostArg(double Value) : FKind(kRaw) { FRaw.vt = VTYPE_R8, FRaw.dblVal = Value; }
  static THostArg Empty() { return Raw(V8Variant{}); }
  static THostArg Int64(int64_t Value);
  // An 8-bit text (VTYPE_PSTR), bytes as given.
  static THostArg Ansi(const std::string& Bytes);
  // A byte block (VTYPE_BLOB).
  static THostArg Blob(const std::string& Bytes);
  // Any record as given; pointers in it stay the caller's.
  static THostArg Raw(const V8Variant& Value);

 private:
  friend class TAddInHost;
  enum TKind { kText, kWide, kAnsi, kBlob, kRaw };
  THostArg() = default;
  TKind FKind = kRaw;
  std::string FText;
  std::u16string FWide;
  V8Variant FRaw{};
};

// What a call left behind: the result, the arguments after the call (out
// values included). When destroyed it frees every text and byte block left in
// them through the host's memory manager, as the platform does, except the
// blocks the caller itself passed in raw: a block the add-in freed but left in
// place, or one that never came from the host, shows up as a bad free.
class TCallResult {
 public:
  TCallResult(THostMemoryManager* Memory, size_t ParamCount);
  ~TCallResult();
  TCallResult(TCallResult&& Other) noexcept;
  TCallResult(const TCallResult&) = delete;
  TCallResult& operator=(const TCallResult&) = delete;
  TCallResult& operator=(TCallResult&&) = delete;

  bool Ok = false;     // what CallAsFunc/CallAsProc/GetPropVal returned
  V8Variant Result{};  // the result value (EMPTY after CallAsProc)
  std::vector<V8Variant> Params;

  // The result read as the add-in's readers would (UTF-8 text, etc.); each
  // throws std::runtime_error when the type is not the one asked for.
  std::string Text() const { return TextOf(Result); }
  bool Bool() const { return BoolOf(Result); }
  int32_t Int() const { return IntOf(Result); }
  double Double() const { return DoubleOf(Result); }
  std::string ParamText(size_t Index) const { return TextOf(Params.at(Index)); }
  bool ParamBool(size_t Index) const { return BoolOf(Params.at(Index)); }
  int32_t ParamInt(size_t Index) const { return IntOf(Params.at(Index)); }
  double ParamDouble(size_t Index) const { return DoubleOf(Params.at(Index)); }

  static std::string TextOf(const V8Variant& V);
  static bool BoolOf(const V8Variant& V);
  static int32_t IntOf(const V8Variant& V);
  static double DoubleOf(const V8Variant& V);

 private:
  friend class TAddInHost;
  THostMemoryManager* FMemory;
  // Blocks of raw arguments: the caller's own memory, never the host's to free.
  std::vector<const void*> FCallerBlocks;
};

class TAddInHost {
 public:
  // Loads the library, creates the component of ClassName and initialises it
  // (Init with the connection, setMemManager). Throws EAddInLoadError when
  // the library cannot be loaded or lacks an export, std::runtime_error when
  // the component cannot be made.
  explicit TAddInHost(const std::string& LibraryPath = BuiltAddInPath(),
                      const std::string& ClassName = "quarnel");
  // Done, then DestroyObject.
  ~TAddInHost();
  TAddInHost(const TAddInHost&) = delete;
  TAddInHost& operator=(const TAddInHost&) = delete;

  THostMemoryManager Memory;
  THostConnection Connection;

  TAddInLibrary& Library() { return *FLibrary; }
  // The component block and its three interfaces, reached as the platform does.
  void** Block() const { return reinterpret_cast<void**>(FComponent); }
  TV8InitDone* InitDone() const;
  TV8LanguageExtender* Lang() const;
  TV8LocaleBase* Locale() const;

  long FindMethod(std::string_view Utf8Name) const;
  long FindProp(std::string_view Utf8Name) const;
  // Names through GetMethodName/GetPropName (alias 0 English, 1 Russian), freed after reading.
  std::string MethodName(long Number, long Alias);
  std::string PropName(long Number, long Alias);

  // CallAsFunc/CallAsProc by name (English or Russian); throws when the
  // name is unknown or more arguments are given than GetNParams allows.
  TCallResult Call(std::string_view Method, std::initializer_list<THostArg> Args);
  TCallResult Call(std::string_view Method, const std::vector<THostArg>& Args);
  TCallResult CallProc(std::string_view Method, std::initializer_list<THostArg> Args);
  // The same by method number.
  TCallResult CallNumber(long Number, bool AsFunction, std::initializer_list<THostArg> Args);
  TCallResult CallNumber(long Number, bool AsFunction, const std::vector<THostArg>& Args);
  TCallResult GetProp(std::string_view Name);
  bool SetProp(std::string_view Name, const THostArg& Value);

  // A V8Variant the way the platform builds one (texts from this host's memory).
  V8Variant MakeValue(const THostArg& Arg);

 private:
  // Stores Arg as R.Params[Index], remembering a raw argument's own block.
  void Load(TCallResult& R, size_t Index, const THostArg& Arg);
  TCallResult CallArgs(long Number, bool AsFunction, const THostArg* Args, size_t Count);
  long MethodNumber(std::string_view Method) const;

  TAddInLibrary* FLibrary = nullptr;
  TV8ComponentBase* FComponent = nullptr;
};
