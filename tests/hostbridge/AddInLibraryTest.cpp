// The real libquarnel.so loaded as the platform loads it: what a host that
// knows only the platform's shapes sees of the bridge.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "support/TestHost.h"

namespace {

TEST(AddInLibraryTest, ExportsExactlyTheFourEntryPoints) {
  std::vector<std::string> names = ExportedSymbols(DefaultAddInPath());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"DestroyObject", "GetAttachType", "GetClassNames",
                                             "GetClassObject"}));
}

TEST(AddInLibraryTest, OneClassNamedQuarnelAttachableAnywhere) {
  TAddInLibrary lib;
  EXPECT_EQ(std::u16string(lib.GetClassNames()), u"quarnel");
  EXPECT_EQ(lib.GetAttachType(), 3);
  TV8ComponentBase* component = nullptr;
  EXPECT_EQ(lib.GetClassObject(u"Quarnel", &component), 0);
  EXPECT_EQ(component, nullptr);
  ASSERT_EQ(lib.GetClassObject(u"quarnel", &component), 1);
  void** block = reinterpret_cast<void**>(component);
  EXPECT_EQ(block[3], nullptr);
  EXPECT_EQ(block[4], block[5]);
  EXPECT_EQ(block[4], block[6]);
  EXPECT_EQ(lib.DestroyObject(&component), 0);
}

class AddInHostTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(Host.Memory.Live(), 0) << "a host block handed over was not the host's to free";
    EXPECT_EQ(Host.Memory.BadFrees(), 0) << "a host block was freed twice";
  }
  TTempDataDir Data;
  TTestHost Host;
};

TEST_F(AddInHostTest, InfoExtensionNameAndCounts) {
  EXPECT_EQ(Host.InitDone()->GetInfo(), 2000);
  WCHAR_T* name = nullptr;
  ASSERT_TRUE(Host.Lang()->RegisterExtensionAs(&name));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::u16string(name), u"quarnel");
  void* block = name;
  Host.Memory.FreeMemory(&block);
  EXPECT_EQ(Host.Lang()->GetNMethods(), 37);
  EXPECT_EQ(Host.Lang()->GetNProps(), 1);
}

TEST_F(AddInHostTest, EveryMethodIsFoundByBothNamesAndNeverByOtherCase) {
  TV8LanguageExtender* lang = Host.Lang();
  for (long n = 0; n < lang->GetNMethods(); ++n) {
    const std::string english = Host.MethodName(n, 0);
    const std::string russian = Host.MethodName(n, 1);
    // The one duplicate (GetInterfaceRevision) resolves to its first entry.
    const long first = Host.FindMethod(english);
    EXPECT_LE(first, n) << english;
    EXPECT_EQ(Host.FindMethod(russian), first) << russian;
    EXPECT_EQ(Host.MethodName(first, 0), english);
    EXPECT_TRUE(lang->HasRetVal(n)) << english << " must be registered as a function";
    V8Variant def{};
    for (long p = 0; p <= lang->GetNParams(n); ++p)
      EXPECT_FALSE(lang->GetParamDefValue(n, p, &def)) << english << " has no default values";
  }
  EXPECT_EQ(Host.FindMethod("GetInterfaceRevision"), 0);
  EXPECT_EQ(Host.FindMethod("ПолучитьРевизиюИнтерфейса"), 0);
  EXPECT_EQ(Host.FindMethod("getinterfacerevision"), -1);
  EXPECT_EQ(Host.FindMethod("получитьревизиюинтерфейса"), -1);
  EXPECT_EQ(Host.FindProp("ЛогВключен"), 0);
  EXPECT_EQ(Host.FindProp("LogEnabled"), 0);
  EXPECT_EQ(Host.FindProp("logenabled"), -1);
  EXPECT_EQ(Host.PropName(0, 0), "LogEnabled");
  EXPECT_EQ(Host.PropName(0, 1), "ЛогВключен");
}

TEST_F(AddInHostTest, RevisionByEitherNameAndAsProcedure) {
  EXPECT_EQ(Host.Call("GetInterfaceRevision", {}).Int(), 4004);
  EXPECT_EQ(Host.Call("ПолучитьРевизиюИнтерфейса", {}).Int(), 4004);
  TCallResult proc = Host.CallProc("GetInterfaceRevision", {});
  EXPECT_TRUE(proc.Ok);
  EXPECT_EQ(proc.Result.vt, VTYPE_EMPTY);
  EXPECT_TRUE(Host.Connection.Errors.empty());
}

TEST_F(AddInHostTest, LogEnabledPropertyIsAHostBoolean) {
  TV8LanguageExtender* lang = Host.Lang();
  EXPECT_TRUE(lang->IsPropReadable(0));
  EXPECT_TRUE(lang->IsPropWritable(0));
  EXPECT_TRUE(Host.SetProp("LogEnabled", true));
  TCallResult on = Host.GetProp("ЛогВключен");
  EXPECT_TRUE(on.Ok);
  EXPECT_TRUE(on.Bool());
  EXPECT_TRUE(Host.SetProp("ЛогВключен", false));
  EXPECT_FALSE(Host.GetProp("LogEnabled").Bool());
  EXPECT_TRUE(Host.Connection.Errors.empty());
}

TEST_F(AddInHostTest, AnUnusableLogFolderDoesNotHideTheDriversDescription) {
  std::ofstream(Data.Path() + "/Dravex") << "a file where the folder must be";
  TCallResult r = Host.Call("GetDescription", {THostArg::Empty()});
  EXPECT_TRUE(r.Bool());
  EXPECT_NE(r.ParamText(0).find("LogPath=\"\""), std::string::npos) << r.ParamText(0);
}

TEST_F(AddInHostTest, UnsupportedArgumentTypeIsOneHostError) {
  V8Variant date{};
  date.vt = VTYPE_DATE;
  EXPECT_FALSE(Host.Call("GetLastError", {THostArg::Raw(date)}).Ok);
  ASSERT_EQ(Host.Connection.Errors.size(), 1u);
  EXPECT_EQ(Host.Connection.Errors[0].Code, 1006);
  EXPECT_EQ(Host.Connection.Errors[0].Source, "Внешняя компонента");
  EXPECT_EQ(Host.Connection.Errors[0].Descr, "Unsupported data type - VTYPE_DATE");
  EXPECT_EQ(Host.Connection.Errors[0].SCode, static_cast<long>(0x80004005));
}

TEST_F(AddInHostTest, RefusingMemoryManagerDoesNotCrashTheDriver) {
  Host.Memory.Refuse = true;
  for (const char* method : {"GetInterfaceRevision", "GetDescription", "GetLastError",
                             "GetAdditionalActions", "EquipmentParameters"}) {
    const long n = Host.FindMethod(method);
    ASSERT_GE(n, 0) << method;
    TCallResult r = Host.CallNumber(n, true, {});
    (void)r;
  }
  EXPECT_EQ(Host.Lang()->GetMethodName(0, 1), nullptr);
  Host.Memory.Refuse = false;
}

}  // namespace
