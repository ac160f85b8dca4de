// The bridge through a real shared library loaded as the platform loads it:
// exports, the component block, the three interfaces, name lookup, calls,
// properties, host errors, host memory and the call trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#include "support/TestHost.h"

namespace {

const char kProbe[] = QUARNEL_PROBE_PATH;
const char kDevice[] = "0F8A3C2E-1B4D-4E5F-9A6B-7C8D9E0F1A2B";

class ProbeBridgeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(Host.Memory.BadFrees(), 0) << "a host block was freed twice or was never the host's";
  }
  TTestHost Host{kProbe, "probe"};
};

TEST(ProbeLibraryTest, ExportsExactlyTheFourEntryPoints) {
  std::vector<std::string> names = ExportedSymbols(kProbe);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"DestroyObject", "GetAttachType", "GetClassNames",
                                             "GetClassObject"}));
}

TEST(ProbeLibraryTest, ClassNamesAndObjectCreationByExactName) {
  TAddInLibrary lib(kProbe);
  EXPECT_EQ(std::u16string(lib.GetClassNames()), u"probe|probe2|broken");
  EXPECT_EQ(lib.GetAttachType(), eCanAttachAny);
  TV8ComponentBase* sentinel = reinterpret_cast<TV8ComponentBase*>(0x1234);
  TV8ComponentBase* component = sentinel;
  EXPECT_EQ(lib.GetClassObject(u"Probe", &component), 0);
  EXPECT_EQ(lib.GetClassObject(u"probe ", &component), 0);
  EXPECT_EQ(lib.GetClassObject(nullptr, &component), 0);
  EXPECT_EQ(lib.GetClassObject(u"broken", &component), 0) << "a failing constructor is swallowed";
  EXPECT_EQ(component, sentinel) << "a failed creation must not write the out argument";
  EXPECT_EQ(lib.GetClassObject(u"probe2", &component), 1);
  EXPECT_NE(component, sentinel);
  EXPECT_EQ(lib.DestroyObject(&component), 0);
  TV8ComponentBase* none = nullptr;
  EXPECT_EQ(lib.DestroyObject(&none), 0);
  EXPECT_EQ(lib.DestroyObject(nullptr), 0);
}

TEST_F(ProbeBridgeTest, BlockHoldsThreeInterfacesAZeroWordAndTheObjectThrice) {
  void** block = Host.Block();
  EXPECT_NE(block[0], nullptr);
  EXPECT_NE(block[1], nullptr);
  EXPECT_NE(block[2], nullptr);
  EXPECT_NE(block[0], block[1]) << "each interface word needs its own table";
  EXPECT_NE(block[1], block[2]);
  EXPECT_EQ(block[3], nullptr);
  EXPECT_NE(block[4], nullptr);
  EXPECT_EQ(block[4], block[5]);
  EXPECT_EQ(block[5], block[6]);
}

TEST_F(ProbeBridgeTest, AllThreeInterfacesReachTheSameObject) {
  EXPECT_EQ(Host.InitDone()->GetInfo(), 2000);
  Host.Locale()->SetLocale(u"ru_RU");
  // Init ran once (from the harness), SetLocale once, locale stored, no calls yet.
  EXPECT_EQ(Host.Call("State", {}).Text(), "1/1/ru_RU/0");
  Host.Locale()->SetLocale(nullptr);
  EXPECT_EQ(Host.Call("State", {}).Text(), "1/2//0");
}

TEST_F(ProbeBridgeTest, ObjectsKeepTheirOwnState) {
  TTestHost other(kProbe, "probe");
  Host.CallProc("Bump", {5});
  EXPECT_EQ(Host.Call("State", {}).Text(), "1/0//5");
  EXPECT_EQ(other.Call("State", {}).Text(), "1/0//0");
}

TEST_F(ProbeBridgeTest, NamesFoundInBothLanguagesCaseSensitively) {
  TV8LanguageExtender* lang = Host.Lang();
  EXPECT_EQ(lang->GetNMethods(), 12);
  EXPECT_EQ(lang->GetNProps(), 3);
  EXPECT_EQ(Host.FindMethod("Эхо"), 0);
  EXPECT_EQ(Host.FindMethod("Echo"), 0) << "the first of two equal names wins";
  EXPECT_EQ(Host.FindMethod("ЭхоВторое"), 7);
  EXPECT_EQ(Host.FindMethod("echo"), -1);
  EXPECT_EQ(Host.FindMethod("эхо"), -1);
  EXPECT_EQ(lang->FindMethod(nullptr), -1);
  EXPECT_EQ(Host.FindProp("Значение"), 0);
  EXPECT_EQ(Host.FindProp("ReadOnly"), 1);
  EXPECT_EQ(Host.FindProp("value"), -1);
  EXPECT_EQ(Host.MethodName(0, 0), "Echo");
  EXPECT_EQ(Host.MethodName(0, 1), "Эхо");
  EXPECT_EQ(Host.PropName(1, 0), "ReadOnly");
  EXPECT_EQ(Host.PropName(1, 1), "ТолькоЧтение");
  EXPECT_EQ(Host.Memory.Live(), 0) << "every name handed over is the host's to free";
}

TEST_F(ProbeBridgeTest, MethodAndPropertyShapes) {
  TV8LanguageExtender* lang = Host.Lang();
  EXPECT_EQ(lang->GetNParams(Host.FindMethod("Echo")), 2);
  EXPECT_EQ(lang->GetNParams(Host.FindMethod("State")), 0);
  EXPECT_TRUE(lang->HasRetVal(Host.FindMethod("Echo")));
  EXPECT_FALSE(lang->HasRetVal(Host.FindMethod("Bump")));
  EXPECT_TRUE(lang->IsPropReadable(1));
  EXPECT_FALSE(lang->IsPropWritable(1));
  EXPECT_TRUE(lang->IsPropWritable(0));
  WCHAR_T* name = nullptr;
  ASSERT_TRUE(lang->RegisterExtensionAs(&name));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::u16string(name), u"ProbeExt");
  EXPECT_TRUE(Host.Memory.Owns(name));
  void* block = name;
  Host.Memory.FreeMemory(&block);
}

TEST_F(ProbeBridgeTest, FunctionCallReturnsResultAndOutArgument) {
  {
    TCallResult r = Host.Call("Эхо", {"абв", "in"});
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.Text(), "абв");
    EXPECT_EQ(r.ParamText(1), "out:абв");
    EXPECT_EQ(r.ParamText(0), "абв");
  }
  EXPECT_EQ(Host.Memory.Live(), 0) << "the replaced in-text must go back to the host";
  EXPECT_TRUE(Host.Connection.Errors.empty());
}

TEST_F(ProbeBridgeTest, FunctionCalledAsProcedureStillRunsWithoutResult) {
  TCallResult r = Host.CallProc("Echo", {"x"});
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Result.vt, VTYPE_EMPTY);
  EXPECT_EQ(r.ParamText(1), "out:x") << "missing arguments arrive empty and can be written";
  EXPECT_EQ(Host.Call("State", {}).Text(), "1/0//1");
}

TEST_F(ProbeBridgeTest, ProcedureCalledAsFunctionRunsAndLeavesResultEmpty) {
  TCallResult r = Host.Call("Прибавить", {3});
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Result.vt, VTYPE_EMPTY);
  EXPECT_EQ(Host.Call("State", {}).Text(), "1/0//3");
}

TEST_F(ProbeBridgeTest, MethodsOwnBooleanIsPassedOnWithoutError) {
  TCallResult r = Host.Call("ReturnFalse", {});
  EXPECT_FALSE(r.Ok);
  EXPECT_TRUE(r.Bool());
  EXPECT_TRUE(Host.Connection.Errors.empty());
}

TEST_F(ProbeBridgeTest, ExceptionBecomesOneHostError) {
  EXPECT_FALSE(Host.Call("Fail", {"Ошибка связи"}).Ok);
  ASSERT_EQ(Host.Connection.Errors.size(), 1u);
  const TTestConnection::TError& e = Host.Connection.Errors[0];
  EXPECT_EQ(e.Code, 1006);
  EXPECT_EQ(e.Source, "Внешняя компонента");
  EXPECT_EQ(e.Descr, "Ошибка связи");
  EXPECT_EQ(e.SCode, static_cast<long>(0x80004005));
  EXPECT_EQ(Host.Memory.Live(), 0) << "the error texts are the add-in's, not host blocks";

  EXPECT_FALSE(Host.Call("FailOddly", {}).Ok) << "a foreign exception must not escape either";
  ASSERT_EQ(Host.Connection.Errors.size(), 2u);
  EXPECT_EQ(Host.Connection.Errors[1].Descr, "Unknown exception");
}

TEST_F(ProbeBridgeTest, UnsupportedArgumentFailsTheCallBeforeTheMethodRuns) {
  V8Variant date{};
  date.vt = VTYPE_DATE;
  date.date = 45000;
  EXPECT_FALSE(Host.Call("Echo", {THostArg::Raw(date), "x"}).Ok);
  ASSERT_EQ(Host.Connection.Errors.size(), 1u);
  EXPECT_EQ(Host.Connection.Errors[0].Descr, "Unsupported data type - VTYPE_DATE");
  EXPECT_EQ(Host.Call("State", {}).Text(), "1/0//0") << "the method must not have run";
}

TEST_F(ProbeBridgeTest, PropertiesReadWriteAndReportErrors) {
  TCallResult value = Host.GetProp("Value");
  EXPECT_TRUE(value.Ok);
  EXPECT_EQ(value.Int(), 7);
  EXPECT_TRUE(Host.SetProp("Значение", 9));
  EXPECT_EQ(Host.GetProp("Value").Int(), 9);
  EXPECT_FALSE(Host.GetProp("Broken").Ok);
  ASSERT_EQ(Host.Connection.Errors.size(), 1u);
  EXPECT_EQ(Host.Connection.Errors[0].Descr, "Property not found: Broken");
  EXPECT_FALSE(Host.SetProp("Сломан", 1));
  EXPECT_EQ(Host.Connection.Errors.size(), 2u);
}

TEST_F(ProbeBridgeTest, DefaultValuesAreHandedOverAsHostCopies) {
  TV8LanguageExtender* lang = Host.Lang();
  const long defaults = Host.FindMethod("Defaults");
  V8Variant v{};
  ASSERT_TRUE(lang->GetParamDefValue(defaults, 0, &v));
  EXPECT_EQ(TCallResult::TextOf(v), "def");
  EXPECT_TRUE(Host.Memory.Owns(v.pwstrVal)) << "the host frees default texts it receives";
  void* block = v.pwstrVal;
  Host.Memory.FreeMemory(&block);
  ASSERT_TRUE(lang->GetParamDefValue(defaults, 1, &v));
  EXPECT_EQ(TCallResult::IntOf(v), 7);
  EXPECT_FALSE(lang->GetParamDefValue(defaults, 2, &v));
  EXPECT_FALSE(lang->GetParamDefValue(Host.FindMethod("Echo"), 0, &v));
}

// A refused text must not stay typed VTYPE_PWSTR with a null pointer: a host
// reads that as a text.
TEST_F(ProbeBridgeTest, RefusingMemoryManagerMakesNothingCrash) {
  Host.Memory.Refuse = true;
  TCallResult r = Host.Call("Echo", {THostArg::Empty(), THostArg::Empty()});
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Result.vt, VTYPE_EMPTY) << "a result the host refused memory for is left empty";
  EXPECT_EQ(r.Params[1].vt, VTYPE_EMPTY) << "and so is an out-argument";
  EXPECT_FALSE(Host.Call("Blob", {}).Ok) << "the blob setter's false is the method's result";
  EXPECT_EQ(Host.Lang()->GetMethodName(0, 0), nullptr);
  WCHAR_T* name = reinterpret_cast<WCHAR_T*>(0x1);
  EXPECT_TRUE(Host.Lang()->RegisterExtensionAs(&name));
  EXPECT_EQ(name, nullptr);
  EXPECT_FALSE(Host.Call("Fail", {THostArg::Empty()}).Ok);
  EXPECT_EQ(Host.Connection.Errors.size(), 1u) << "errors still reach the host";
  Host.Memory.Refuse = false;
  EXPECT_EQ(Host.Memory.Live(), 0);
}

TEST_F(ProbeBridgeTest, NumbersTheRegistryDoesNotHoldAnswerFalseOrNothing) {
  TV8LanguageExtender* lang = Host.Lang();
  V8Variant v{};
  for (const long n :
       {-1L, 12L, std::numeric_limits<long>::min(), std::numeric_limits<long>::max()}) {
    EXPECT_FALSE(lang->HasRetVal(n)) << n;
    EXPECT_EQ(lang->GetNParams(n), 0) << n;
    EXPECT_EQ(lang->GetMethodName(n, 1), nullptr) << n;
    EXPECT_FALSE(lang->GetParamDefValue(n, 0, &v)) << n;
    EXPECT_FALSE(lang->CallAsProc(n, nullptr, 0)) << n;
    EXPECT_FALSE(lang->CallAsFunc(n, &v, nullptr, 0)) << n;
    const long prop = n == 12 ? 3 : n;
    EXPECT_FALSE(lang->IsPropReadable(prop)) << prop;
    EXPECT_FALSE(lang->IsPropWritable(prop)) << prop;
    EXPECT_EQ(lang->GetPropName(prop, 0), nullptr) << prop;
    EXPECT_FALSE(lang->GetPropVal(prop, &v)) << prop;
    EXPECT_FALSE(lang->SetPropVal(prop, &v)) << prop;
  }
  EXPECT_EQ(v.vt, VTYPE_EMPTY);
  EXPECT_EQ(Host.Memory.Live(), 0);
}

TEST_F(ProbeBridgeTest, TextsAreReadToTheirLengthNotToAZero) {
  // No terminator after the last unit: any read past it is outside the block.
  std::unique_ptr<char16_t[]> exact(new char16_t[3]{u'a', u'b', u'c'});
  V8Variant raw{};
  raw.vt = VTYPE_PWSTR;
  raw.pwstrVal = exact.get();
  raw.wstrLen = 3;
  EXPECT_EQ(Host.Call("Echo", {THostArg::Raw(raw), THostArg::Empty()}).Text(), "abc");
  char16_t zero[] = u"a\0b";
  raw.pwstrVal = zero;
  TCallResult r = Host.Call("Echo", {THostArg::Raw(raw), THostArg::Empty()});
  ASSERT_EQ(r.Result.vt, VTYPE_PWSTR);
  EXPECT_EQ(std::u16string(r.Result.pwstrVal, r.Result.wstrLen), std::u16string(u"a\0b", 3))
      << "a zero inside a text is part of it";
}

TEST(HarnessTest, FreesWhatTheAddInLeftAsThePlatformDoes) {
  TTestHost host(kProbe, "probe");
  host.Call("Dangle", {"text"});
  EXPECT_EQ(host.Memory.BadFrees(), 1) << "a host text freed by the add-in and left in place";
  EXPECT_EQ(host.Call("Foreign", {}).Text(), "static");
  EXPECT_EQ(host.Memory.BadFrees(), 2) << "a text that never came from the host";
  char16_t own[] = u"test's own";
  V8Variant raw{};
  raw.vt = VTYPE_PWSTR;
  raw.pwstrVal = own;
  raw.wstrLen = 10;
  host.CallProc("Bump", {THostArg::Raw(raw)});
  EXPECT_EQ(host.Memory.BadFrees(), 2) << "a raw argument left in place is the test's own";
  EXPECT_EQ(host.Memory.Live(), 0);
}

class ProbeTraceTest : public ::testing::Test {
 protected:
  // A call without a device suspends the log again, so that the temporary
  // folder is not written to after the test.
  void TearDown() override { Host.Call("State", {}); }
  TTempDataDir Data;  // before the library is loaded
  TTestHost Host{kProbe, "probe"};
};

TEST_F(ProbeTraceTest, CallsOnALoggedDeviceAreTracedInAndOut) {
  ASSERT_TRUE(Host.Call("SetLog", {kDevice, true}).Ok);
  ASSERT_TRUE(Host.Call("Echo", {kDevice, THostArg::Blob("\x01\x02")}).Ok);
  ASSERT_TRUE(Host.Call("Echo", {kDevice, 5}).Ok);
  ASSERT_FALSE(Host.Call("Fail", {kDevice}).Ok);
  const std::string log = Data.ReadLogs();
  const std::string id = kDevice;
  EXPECT_NE(log.find("\tDEBUG\t> Echo: \tParams: [" + id + "; BLOB]\r\n"), std::string::npos)
      << log;
  EXPECT_NE(
      log.find("\tDEBUG\t< Echo: \tResult=" + id + "; Params: [" + id + "; out:" + id + "]\r\n"),
      std::string::npos)
      << log;
  EXPECT_NE(log.find("\tDEBUG\t> Echo: \tParams: [" + id + "; 5]\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\tERROR\tEXCEPTION: \t" + id + "\r\n"), std::string::npos) << log;
}

TEST_F(ProbeTraceTest, ProcedureTraceHasNoResultAndUnloggedCallsLeaveNoTrace) {
  ASSERT_TRUE(Host.Call("SetLog", {kDevice, true}).Ok);
  ASSERT_TRUE(Host.CallProc("Echo", {kDevice, "a"}).Ok);
  ASSERT_TRUE(Host.Call("State", {}).Ok);
  ASSERT_TRUE(Host.Call("Echo", {"11111111-2222-3333-4444-555555555555", "a"}).Ok);
  const std::string log = Data.ReadLogs();
  EXPECT_NE(log.find("\tDEBUG\t< Echo: \t; Params: [" + std::string(kDevice) + "; out:"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("State"), std::string::npos) << "a call without a device is not traced";
  EXPECT_EQ(log.find("11111111-2222"), std::string::npos) << "an unknown device is not traced";
}

TEST_F(ProbeTraceTest, TwoDevicesInTwoThreadsEachDecideTheirOwnLines) {
  const std::string quiet = "11111111-2222-3333-4444-555555555555";
  ASSERT_TRUE(Host.Call("SetLog", {kDevice, true}).Ok);
  ASSERT_TRUE(Host.Call("SetLog", {quiet, false}).Ok);
  constexpr int kCalls = 300;
  {
    TTestHost other{kProbe, "probe"};
    std::thread quietThread([&] {
      for (int i = 0; i < kCalls; ++i) other.Call("Echo", {quiet, "b"});
    });
    for (int i = 0; i < kCalls; ++i) Host.Call("Echo", {kDevice, "a"});
    quietThread.join();
  }
  const std::string log = Data.ReadLogs();
  const auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  };
  // An earlier test of this process may have begun the run.
  EXPECT_LE(count("Start log"), 1u) << "one logging run, one header";
  EXPECT_EQ(count("> Echo: \tParams: [" + std::string(kDevice) + "; a]"), size_t{kCalls});
  EXPECT_EQ(count(quiet), 0u) << "the device that does not log leaked lines";
}

TEST_F(ProbeTraceTest, ALogThatCannotBeWrittenNeverChangesACallsResult) {
  namespace fs = std::filesystem;
  ASSERT_TRUE(Host.Call("SetLog", {kDevice, true}).Ok);
  const fs::path folder = fs::path(Data.Path()) / "Dravex";
  fs::remove_all(folder);
  std::ofstream(folder) << "x";  // a file where the folder must be
  TCallResult r = Host.Call("Echo", {kDevice, "x"});
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Text(), kDevice);
  fs::remove(folder);
  // A value the trace cannot show stops no call either, traced or not.
  V8Variant badTime{};
  badTime.vt = VTYPE_TM;
  badTime.tmVal.tm_mon = 40;
  EXPECT_TRUE(Host.Call("Echo", {kDevice, THostArg::Raw(badTime)}).Ok);
  EXPECT_TRUE(Host.Call("Echo", {"no device", THostArg::Raw(badTime)}).Ok);
  EXPECT_TRUE(Host.Connection.Errors.empty());
  const std::string log = Data.ReadLogs();
  EXPECT_NE(log.find("\tERROR\tLog: \tlog entries not written: 3; "), std::string::npos)
      << "the lost lines must be noted in the next line written:\n"
      << log;
  EXPECT_NE(log.find("< Echo: \tResult=" + std::string(kDevice)), std::string::npos) << log;
}

}  // namespace
