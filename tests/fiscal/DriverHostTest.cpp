// The driver as the platform sees it: libquarnel.so loaded through the test
// host, every method and the property found by name, called with host values,
// and its answers, errors, out-arguments, host memory and log checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include <pugixml.hpp>

#include "resources/uResources.h"
#include "support/TestHost.h"

namespace {

const char kDevice[] = "0F8A3C2E-1B4D-4E5F-9A6B-7C8D9E0F1A2B";

struct TMethodRow {
  const char* Name;
  const char* NameLoc;
  long Params;
};

// What the host must see, in method-number order.
const TMethodRow kMethods[] = {
    {"GetInterfaceRevision", "ПолучитьРевизиюИнтерфейса", 0},
    {"GetDataKKT", "ПолучитьПараметрыККТ", 2},
    {"OperationFN", "ОперацияФН", 3},
    {"OpenShift", "ОткрытьСмену", 3},
    {"CloseShift", "ЗакрытьСмену", 3},
    {"ProcessCheck", "СформироватьЧек", 4},
    {"ProcessCorrectionCheck", "СформироватьЧекКоррекции", 4},
    {"PrintTextDocument", "НапечататьТекстовыйДокумент", 2},
    {"CashInOutcome", "НапечататьЧекВнесенияВыемки", 3},
    {"PrintXReport", "НапечататьОтчетБезГашения", 2},
    {"GetCurrentStatus", "ПолучитьТекущееСостояние", 3},
    {"ReportCurrentStatusOfSettlements", "ОтчетОТекущемСостоянииРасчетов", 3},
    {"OpenCashDrawer", "ОткрытьДенежныйЯщик", 1},
    {"GetLineLength", "ПолучитьШиринуСтроки", 2},
    {"PrintCheckCopy", "НапечататьКопиюЧека", 2},
    {"OpenSessionRegistrationKM", "ОткрытьСессиюРегистрацииКМ", 1},
    {"CloseSessionRegistrationKM", "ЗакрытьСессиюРегистрацииКМ", 1},
    {"RequestKM", "ЗапросКМ", 3},
    {"GetProcessingKMResult", "ПолучитьРезультатыЗапросаКМ", 3},
    {"ConfirmKM", "ПодтвердитьКМ", 3},
    {"SetDateTime", "УстановитьДатуВремя", 2},
    {"GetDateTime", "ПолучитьДатуВремя", 2},
    {"GetDocumentInformation", "ПолучитьИнформациюПоДокументу", 3},
    {"GetInterfaceRevision", "ПолучитьРевизиюИнтерфейса", 0},
    {"GetDescription", "ПолучитьОписание", 1},
    {"GetLastError", "ПолучитьОшибку", 1},
    {"ConnectEquipment", "ПодключитьОборудование", 3},
    {"DisconnectEquipment", "ОтключитьОборудование", 1},
    {"EquipmentParameters", "ПараметрыОборудования", 2},
    {"SetParameter", "УстановитьПараметр", 2},
    {"EquipmentTest", "ТестированиеОборудования", 4},
    {"GetAdditionalActions", "ПолучитьДополнительныеДействия", 1},
    {"DoAdditionalAction", "ВыполнитьДополнительноеДействие", 1},
    {"EquipmentAutoSetup", "АвтонастройкаОборудования", 5},
    {"SetApplicationInformation", "УстановитьИнформациюПриложения", 1},
    {"GetLocalizationPattern", "ПолучитьШаблонЛокализации", 1},
    {"SetLocalization", "УстановитьЛокализацию", 2},
};
constexpr long kFirstFiscal = 1, kLastFiscal = 22;

struct TLastError {
  int32_t Code;
  std::string Text;
};

class DriverHostTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Logging is process-wide inside the library: leave it off for the next test.
    Host.SetProp("LogEnabled", false);
    EXPECT_EQ(Host.Memory.BadFrees(), 0) << "a host block was freed twice or was never the host's";
    EXPECT_EQ(Host.Memory.Live(), 0) << "a block handed to the host was not released by it";
    EXPECT_TRUE(Host.Connection.Errors.empty())
        << "no driver method may end in a host error; first: "
        << Host.Connection.Errors.front().Descr;
  }

  TLastError LastError() {
    TCallResult r = Host.Call("GetLastError", {THostArg::Empty()});
    EXPECT_TRUE(r.Ok);
    return {r.Int(), r.ParamText(0)};
  }

  // Calls a method whose result value must be false, and answers the last error.
  TLastError Failure(std::string_view Method, std::initializer_list<THostArg> Args) {
    {
      TCallResult r = Host.Call(Method, Args);
      EXPECT_TRUE(r.Ok) << Method << ": the dispatcher must see success";
      EXPECT_FALSE(r.Bool()) << Method << " reported success";
    }
    return LastError();
  }

  TTempDataDir DataDir;
  TTestHost Host;
};

TEST_F(DriverHostTest, OffersOneClassNamedQuarnelAttachableAnywhere) {
  EXPECT_EQ(std::u16string(Host.Library().GetClassNames()), u"quarnel");
  EXPECT_EQ(Host.Library().GetAttachType(), eCanAttachAny);
  EXPECT_EQ(Host.InitDone()->GetInfo(), 2000);
}

TEST_F(DriverHostTest, RegistersThirtySevenFunctionsInOrderAndOneProperty) {
  TV8LanguageExtender* lang = Host.Lang();
  ASSERT_EQ(lang->GetNMethods(), 37);
  for (long n = 0; n < 37; ++n) {
    SCOPED_TRACE("method " + std::to_string(n));
    EXPECT_EQ(Host.MethodName(n, 0), kMethods[n].Name);
    EXPECT_EQ(Host.MethodName(n, 1), kMethods[n].NameLoc);
    EXPECT_EQ(lang->GetNParams(n), kMethods[n].Params);
    EXPECT_TRUE(lang->HasRetVal(n)) << "every method is a function";
    V8Variant def{};
    EXPECT_FALSE(lang->GetParamDefValue(n, 0, &def)) << "no method has default values";
  }
  ASSERT_EQ(lang->GetNProps(), 1);
  EXPECT_EQ(Host.PropName(0, 0), "LogEnabled");
  EXPECT_EQ(Host.PropName(0, 1), "ЛогВключен");
  EXPECT_TRUE(lang->IsPropReadable(0));
  EXPECT_TRUE(lang->IsPropWritable(0));
}

TEST_F(DriverHostTest, FindsNamesInEitherLanguageWithTheirExactCase) {
  EXPECT_EQ(Host.FindMethod("GetInterfaceRevision"), 0);
  EXPECT_EQ(Host.FindMethod("ПолучитьРевизиюИнтерфейса"), 0) << "the override comes first";
  EXPECT_EQ(Host.FindMethod("getinterfacerevision"), -1);
  EXPECT_EQ(Host.FindMethod("ПОЛУЧИТЬОПИСАНИЕ"), -1);
  EXPECT_EQ(Host.FindMethod("ПолучитьОписание"), 24);
  EXPECT_EQ(Host.FindMethod("ProcessCheck"), Host.FindMethod("СформироватьЧек"));
  EXPECT_EQ(Host.FindMethod("ViewLog"), -1) << "additional actions are not host methods";
  EXPECT_EQ(Host.FindProp("LogEnabled"), 0);
  EXPECT_EQ(Host.FindProp("ЛогВключен"), 0);
  EXPECT_EQ(Host.FindProp("logenabled"), -1);
}

TEST_F(DriverHostTest, InterfaceRevisionIs4004ByNameAndFromTheCommonEntry) {
  EXPECT_EQ(Host.Call("GetInterfaceRevision", {}).Int(), 4004);
  EXPECT_EQ(Host.Call("ПолучитьРевизиюИнтерфейса", {}).Int(), 4004);
  EXPECT_EQ(Host.CallNumber(23, true, {}).Int(), 4004);
  TCallResult proc = Host.CallProc("GetInterfaceRevision", {});
  EXPECT_TRUE(proc.Ok);
  EXPECT_EQ(proc.Result.vt, VTYPE_EMPTY) << "a procedure call gets no result value";
}

TEST_F(DriverHostTest, LastErrorFollowsTheLatestCall) {
  TLastError fresh = LastError();
  EXPECT_EQ(fresh.Code, 0);
  EXPECT_EQ(fresh.Text, "");

  TLastError failed = Failure("SetParameter", {"PortNumber", 1});
  EXPECT_EQ(failed.Code, 1001);
  EXPECT_EQ(failed.Text, "Property not found: PortNumber");
  TLastError again = LastError();
  EXPECT_EQ(again.Code, 1001) << "GetLastError must not change the last error";

  EXPECT_TRUE(Host.Call("GetDescription", {THostArg::Empty()}).Bool());
  TLastError after = LastError();
  EXPECT_EQ(after.Code, 0);
  EXPECT_EQ(after.Text, "");
}

TEST_F(DriverHostTest, DescriptionNamesTheDriverAndItsLog) {
  TCallResult r = Host.Call("ПолучитьОписание", {THostArg::Empty()});
  ASSERT_TRUE(r.Bool());
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(r.ParamText(0).c_str()));
  EXPECT_EQ(r.ParamText(0).rfind("<?xml version=\"1.0\"?>", 0), 0u);
  const pugi::xml_node d = doc.child("DriverDescription");
  std::vector<std::string> names;
  for (pugi::xml_attribute a : d.attributes()) names.push_back(a.name());
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "Description", "EquipmentType",
                                             "IntegrationComponent", "MainDriverInstalled",
                                             "DriverVersion", "IntegrationComponentVersion",
                                             "DownloadURL", "LogIsEnabled", "LogPath"}));
  EXPECT_STREQ(d.attribute("Name").value(), "Драйвер ККТ онлайн Велмор");
  EXPECT_STREQ(d.attribute("Description").value(),
               "Драйвер ККТ онлайн Велмор 1С:Совместимо для 1С:БПО NativeAPI");
  EXPECT_STREQ(d.attribute("EquipmentType").value(), "ККТ");
  EXPECT_STREQ(d.attribute("IntegrationComponent").value(), "false");
  EXPECT_STREQ(d.attribute("MainDriverInstalled").value(), "false");
  EXPECT_THAT(d.attribute("DriverVersion").value(),
              ::testing::MatchesRegex("[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+"));
  EXPECT_STREQ(d.attribute("IntegrationComponentVersion").value(),
               d.attribute("DriverVersion").value());
  EXPECT_NE(std::string(d.attribute("DownloadURL").value()), "");
  // What the host set, off by default; the suspended log of a call without
  // a device identifier is no setting.
  EXPECT_STREQ(d.attribute("LogIsEnabled").value(), "false");
  EXPECT_EQ(std::string(d.attribute("LogPath").value()), DataDir.Path() + "/Dravex/quarnel/");
}

TEST_F(DriverHostTest, EquipmentParametersAnswerTheBuiltInDescription) {
  TCallResult r = Host.Call("EquipmentParameters", {THostArg::Empty(), THostArg::Empty()});
  ASSERT_TRUE(r.Bool());
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(r.ParamText(1).c_str()));
  int pages = 0, params = 0;
  size_t portChoices = 0;
  for (pugi::xml_node page : doc.child("Settings").children("Page")) {
    ++pages;
    for (pugi::xpath_node p : page.select_nodes(".//Parameter")) {
      ++params;
      if (std::string_view(p.node().attribute("Name").value()) == "PortNumber")
        for (pugi::xml_node item : p.node().child("ChoiceList").children("Item"))
          ++portChoices, (void)item;
    }
  }
  EXPECT_EQ(pages, 4);
  EXPECT_EQ(params, 12);
  EXPECT_EQ(portChoices, 129u);

  pugi::xml_document shipped;
  shipped.load_buffer(ParametersResource().data(), ParametersResource().size());
  std::ostringstream expected;
  shipped.save(expected, "", pugi::format_raw);
  EXPECT_EQ(r.ParamText(1), expected.str()) << "the answer is the shipped document";
}

TEST_F(DriverHostTest, LogEnabledPropertyReadsAndWritesHostBooleans) {
  EXPECT_TRUE(Host.SetProp("ЛогВключен", true));
  TCallResult on = Host.GetProp("LogEnabled");
  ASSERT_EQ(on.Result.vt, VTYPE_BOOL);
  EXPECT_TRUE(on.Result.bVal);
  EXPECT_TRUE(Host.SetProp("LogEnabled", false));
  EXPECT_FALSE(Host.GetProp("LogEnabled").Bool());
}

TEST_F(DriverHostTest, AdditionalActionsAreListedAndRunByExactName) {
  TCallResult list = Host.Call("GetAdditionalActions", {THostArg::Empty()});
  ASSERT_TRUE(list.Bool());
  EXPECT_EQ(list.ParamText(0),
            "<?xml version=\"1.0\"?><Actions><Action Name=\"ViewLog\" Caption=\"Просмотр "
            "лога\"/><Action Name=\"ShowHelp\" Caption=\"Справка\"/></Actions>");

  TLastError unknown = Failure("DoAdditionalAction", {"viewlog"});
  EXPECT_EQ(unknown.Code, 1001);
  EXPECT_EQ(unknown.Text, "Action not found");
}

TEST_F(DriverHostTest, ViewLogWithoutADesktopFailsNamingTheFolder) {
  std::string display, wayland;
  const bool hadDisplay = std::getenv("DISPLAY") != nullptr;
  const bool hadWayland = std::getenv("WAYLAND_DISPLAY") != nullptr;
  if (hadDisplay) display = std::getenv("DISPLAY");
  if (hadWayland) wayland = std::getenv("WAYLAND_DISPLAY");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  TLastError e = Failure("DoAdditionalAction", {"ViewLog"});
  if (hadDisplay) setenv("DISPLAY", display.c_str(), 1);
  if (hadWayland) setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
  EXPECT_EQ(e.Text, "Нет графического сеанса для просмотра лога. Лог находится в папке " +
                        DataDir.Path() + "/Dravex/quarnel/");
}

TEST_F(DriverHostTest, ConnectingFailsClearlyAndReturnsNoIdentifier) {
  TCallResult r =
      Host.Call("ConnectEquipment", {THostArg::Empty(), THostArg::Empty(),
                                     "<Parameters><Parameter Name=\"PortNumber\" Value=\"9999\"/>"
                                     "</Parameters>"});
  EXPECT_FALSE(r.Bool());
  EXPECT_EQ(r.Params[0].vt, VTYPE_EMPTY) << "no device identifier for a failed connection";
  TLastError e = LastError();
  EXPECT_EQ(e.Code, 1001);
  EXPECT_EQ(e.Text, "Синтаксическая ошибка в IP-адресе") << "TCP without an address";

  // A value that does not convert names its parameter instead of connecting
  // to a port the user never chose.
  e = Failure("ConnectEquipment",
              {THostArg::Empty(), THostArg::Empty(),
               "<Parameters><Parameter Name=\"PortNumber\" Value=\"COM3\"/></Parameters>"});
  EXPECT_EQ(e.Code, 1001);
  EXPECT_EQ(e.Text,
            "Недопустимое значение параметра подключения PortNumber: Значение \"COM3\" не "
            "является целым числом");
}

TEST_F(DriverHostTest, ConnectionParametersThatDoNotParseAreNamedWithThePlace) {
  const std::string bad = "<Parameters><Parameter Name=\"PortNumber\" Value=\"1\"></Parameters>";
  TLastError e = Failure("ConnectEquipment", {THostArg::Empty(), THostArg::Empty(), bad});
  EXPECT_EQ(e.Code, 1001);
  EXPECT_EQ(e.Text,
            "Ошибка разбора XML (параметры подключения): закрывающий тег не соответствует "
            "открывающему, строка 1, позиция 54");
}

TEST_F(DriverHostTest, EveryFiscalMethodNeedsAConnectedDevice) {
  const std::string unknown = "Экземпляр устройства c идентификатором " + std::string(kDevice) +
                              " не существует или уже был отключен";
  for (long n = kFirstFiscal; n <= kLastFiscal; ++n) {
    const std::string name = kMethods[n].Name;
    SCOPED_TRACE(name);
    TLastError e = Failure(name, {kDevice});
    EXPECT_EQ(e.Code, 1001);
    EXPECT_EQ(e.Text, unknown);
    e = Failure(kMethods[n].NameLoc, {"  "});
    EXPECT_EQ(e.Text, "Не передан идентификатор устройства");
  }
}

TEST_F(DriverHostTest, MalformedDeviceIdentifiersFailWithoutHarm) {
  TLastError lone = Failure("OpenShift", {std::u16string{u'A', 0xD800, u'B'}});
  EXPECT_EQ(lone.Text,
            "Экземпляр устройства c идентификатором A\uFFFDB не существует или уже был отключен");
  TLastError absent = Failure("OpenShift", {});
  EXPECT_EQ(absent.Text, "Не передан идентификатор устройства");
}

TEST_F(DriverHostTest, EquipmentTestWithLoggingTracesItselfAndItsFailure) {
  TCallResult r = Host.Call("EquipmentTest",
                            {THostArg::Empty(),
                             u"<Parameters>\u0001<Parameter Name=\"LogEnabled\" Value=\"true\"/>"
                             u"<Parameter Name=\"PortNumber\" Value=\"9999\"/></Parameters>",
                             THostArg::Empty(), THostArg::Empty()});
  EXPECT_FALSE(r.Bool());
  const std::string message = "Синтаксическая ошибка в IP-адресе";
  EXPECT_EQ(r.ParamText(2), message) << "the description carries the failure";
  const std::string log = DataDir.ReadLogs();
  EXPECT_NE(log.find("\tDEBUG\t> EquipmentTest: \tParams: [; <Parameters>"), std::string::npos)
      << log;
  EXPECT_NE(log.find("\tERROR\tException: \t" + message), std::string::npos) << log;
  EXPECT_NE(log.find("\tDEBUG\t< EquipmentTest: \tResult=False; Params: ["), std::string::npos)
      << log;
  EXPECT_EQ(LastError().Text, message);
}

TEST_F(DriverHostTest, EquipmentTestWithoutLoggingWritesNothing) {
  Host.SetProp("LogEnabled", false);
  TCallResult r = Host.Call(
      "EquipmentTest", {THostArg::Empty(), "<Parameters/>", THostArg::Empty(), THostArg::Empty()});
  EXPECT_FALSE(r.Bool());
  EXPECT_EQ(DataDir.ReadLogs(), "");
}

TEST_F(DriverHostTest, ServiceMethodsSucceedWithoutADevice) {
  EXPECT_TRUE(Host.Call("DisconnectEquipment", {kDevice}).Bool())
      << "disconnecting an unknown device is not an error";
  EXPECT_TRUE(Host.Call("SetApplicationInformation", {"<Info/>"}).Bool());
  EXPECT_TRUE(Host.Call("SetLocalization", {"ru", "<Pattern/>"}).Bool());
  TCallResult pattern = Host.Call("GetLocalizationPattern", {THostArg::Empty()});
  EXPECT_TRUE(pattern.Bool());
  EXPECT_EQ(pattern.ParamText(0), "<?xml version=\"1.0\"?>");
  TCallResult setup = Host.Call("EquipmentAutoSetup", {kDevice, "модель", THostArg::Empty()});
  EXPECT_TRUE(setup.Bool());
  EXPECT_EQ(setup.ParamText(2), "модель");
}

TEST_F(DriverHostTest, EveryMethodSurvivesEmptyArgumentsAndARefusingHost) {
  // Whatever the host sends or refuses, each method answers through its
  // result and the last error, never through a host error or a crash.
  for (const bool refuse : {false, true}) {
    for (long n = 0; n < 37; ++n) {
      SCOPED_TRACE(std::string(kMethods[n].Name) + (refuse ? ", memory refused" : ""));
      Host.Memory.Refuse = refuse;
      {
        TCallResult asFunction = Host.CallNumber(n, true, {});
        EXPECT_TRUE(asFunction.Ok);
        TCallResult asProcedure = Host.CallNumber(n, false, {});
        EXPECT_TRUE(asProcedure.Ok);
        EXPECT_EQ(asProcedure.Result.vt, VTYPE_EMPTY);
      }
      Host.Memory.Refuse = false;
      EXPECT_EQ(Host.Memory.Live(), 0);
    }
  }
}

TEST_F(DriverHostTest, RefusedHostMemoryFailsTheCallAndIsReported) {
  Host.Memory.Refuse = true;
  {
    TCallResult r = Host.Call("GetDescription", {THostArg::Empty()});
    EXPECT_TRUE(r.Ok);
    EXPECT_FALSE(r.Bool()) << "a description the host never got is no success";
  }
  Host.Memory.Refuse = false;
  TLastError e = LastError();
  EXPECT_EQ(e.Code, 1001);
  EXPECT_EQ(e.Text, "Платформа не выделила память для возвращаемого значения");
}

}  // namespace
