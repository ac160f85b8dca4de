// A test host that drives an add-in library exactly as the platform does.
//
// It dlopens the built library, asks GetClassNames, creates the component
// with GetClassObject, hands it a connection (recording AddError calls) and a
// memory manager (counting every block, catching leaks and double frees),
// and calls methods and properties by name through the interface pointers of
// the component block, with V8Variant argument arrays laid out as the
// platform lays them out. Texts it sends are allocated from its own memory
// manager, like the platform's; everything the add-in hands back is freed
// through it when the call result goes out of scope.
//
//   TTestHost host;                                   // libquarnel.so, class "quarnel"
//   TCallResult r = host.Call("GetVersion", {});      // CallAsFunc by name
//   EXPECT_TRUE(r.Ok); EXPECT_EQ(r.Text(), "...");
//   auto out = host.Call("GetLineLength", {"id", THostArg::Empty()});
//   EXPECT_EQ(out.ParamInt(1), 48);                   // out-argument read back
//   host.CallProc("OpenCashDrawer", {"id"});         // CallAsProc
//   host.GetProp("LogEnabled").Bool(); host.SetProp("LogEnabled", true);
//   EXPECT_EQ(host.Memory.Live(), 0); EXPECT_EQ(host.Memory.BadFrees(), 0);
//   host.Connection.Errors                            // every AddError call
//
// Arguments convert implicitly: "text" (UTF-8) and u"text" → VTYPE_PWSTR,
// true → VTYPE_BOOL, 5 → VTYPE_I4, 2.5 → VTYPE_R8; THostArg::Ansi("x") is an
// 8-bit text, THostArg::Raw(v) any record as given. Missing trailing
// arguments are sent as VTYPE_EMPTY, as the platform does.
//
// Link `quarnel_test_support`; it depends on the `quarnel` target, so the
// add-in is built before any test that uses the harness.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "hostbridge/v8napi.h"

// The built libquarnel.so: $QUARNEL_TEST_BINARY_DIR/hostbridge/libquarnel.so
// when it exists, else the path compiled into the harness.
std::string DefaultAddInPath();

// The platform's memory manager with bookkeeping.
class TTestMemoryManager final : public TV8MemoryManager {
 public:
  ~TTestMemoryManager() override;
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
class TTestConnection final : public TV8AddInDefBaseEx {
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

// The names of the functions and objects a shared library exports (defined
// global or weak symbols of its dynamic symbol table).
std::vector<std::string> ExportedSymbols(const std::string& LibraryPath);

// A loaded add-in library and its four exports. The library is never
// unmapped: every host in the process shares its process-wide state.
class TAddInLibrary {
 public:
  explicit TAddInLibrary(const std::string& Path = DefaultAddInPath());
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

// One argument as the test writes it; the host turns it into a V8Variant.
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
  // Any record as given; pointers in it stay the test's.
  static THostArg Raw(const V8Variant& Value);

 private:
  friend class TTestHost;
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
// blocks the test itself passed in raw: a block the add-in freed but left in
// place, or one that never came from the host, shows up as a bad free.
class TCallResult {
 public:
  TCallResult(TTestMemoryManager* Memory, size_t ParamCount);
  ~TCallResult();
  TCallResult(TCallResult&& Other) noexcept;
  TCallResult(const TCallResult&) = delete;
  TCallResult& operator=(const TCallResult&) = delete;
  TCallResult& operator=(TCallResult&&) = delete;

  bool Ok = false;     // what CallAsFunc/CallAsProc/GetPropVal returned
  V8Variant Result{};  // the result value (EMPTY after CallAsProc)
  std::vector<V8Variant> Params;

  // The result read as the add-in's readers would (UTF-8 text, etc.);
  // each fails the test loudly (throws) when the type is not the one asked for.
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
  friend class TTestHost;
  TTestMemoryManager* FMemory;
  // Blocks of raw arguments: the test's own memory, never the host's to free.
  std::vector<const void*> FTestBlocks;
};

class TTestHost {
 public:
  // Loads the library, creates the component of ClassName and initialises it
  // (Init with the connection, setMemManager); throws std::runtime_error when
  // any step fails.
  explicit TTestHost(const std::string& LibraryPath = DefaultAddInPath(),
                     const std::string& ClassName = "quarnel");
  // Done, then DestroyObject.
  ~TTestHost();
  TTestHost(const TTestHost&) = delete;
  TTestHost& operator=(const TTestHost&) = delete;

  TTestMemoryManager Memory;
  TTestConnection Connection;

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
  TCallResult CallProc(std::string_view Method, std::initializer_list<THostArg> Args);
  // The same by method number.
  TCallResult CallNumber(long Number, bool AsFunction, std::initializer_list<THostArg> Args);
  TCallResult GetProp(std::string_view Name);
  bool SetProp(std::string_view Name, const THostArg& Value);

  // A V8Variant the way the platform builds one (texts from this host's memory).
  V8Variant MakeValue(const THostArg& Arg);

 private:
  // Stores Arg as R.Params[Index], remembering a raw argument's own block.
  void Load(TCallResult& R, size_t Index, const THostArg& Arg);

  TAddInLibrary* FLibrary = nullptr;
  TV8ComponentBase* FComponent = nullptr;
};

// A temporary folder set as QUARNEL_DATA_DIR for the lifetime of the object,
// so that the log of an add-in loaded in this process lands in it.
class TTempDataDir {
 public:
  TTempDataDir();
  ~TTempDataDir();
  TTempDataDir(const TTempDataDir&) = delete;
  TTempDataDir& operator=(const TTempDataDir&) = delete;
  const std::string& Path() const { return FPath; }
  // Everything written to the log files below the folder, concatenated.
  std::string ReadLogs() const;

 private:
  std::string FPath;
  std::string FOldValue;
  bool FHadOldValue = false;
};
