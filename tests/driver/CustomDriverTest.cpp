// The driver object model in process: the last-result record, property access
// by name with its conversions and messages, copying values onto another
// object's properties, and the generated parameters description.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include <limits>

#include "common/Common.Log.h"
#include "driver/uCommonDriver4004.h"
#include "driver/uDriverInfo.h"
#include "driver/uEcrDriver4004.h"
#include "driver/uXmlUtils.h"
#include "tests/driver/DriverTestSupport.h"

namespace {

const char kDevice[] = "0F8A3C2E-1B4D-4E5F-9A6B-7C8D9E0F1A2B";

// The smallest concrete common driver.
class TPlainDriver : public TCommonDriver {
 public:
  int32_t GetInterfaceRevision() override { return 4004; }
  void SelectDevice(const std::string&) override {}
  void SetCurrentDevice(const std::string& Id) { FDeviceID = Id; }
  using TCustomDriver::SetPropertyOn;
};

// A common driver whose connection fails after the identifier was assigned.
class TFailingConnectDriver : public TPlainDriver {
 public:
  std::vector<std::string> Disconnected;
  void ConnectEquipment(const pugi::xml_document& ASettings) override {
    TCommonDriver::ConnectEquipment(ASettings);
    throw std::runtime_error("Устройство не подключено");
  }
  void DisconnectEquipment(const std::string& ADeviceID) override {
    Disconnected.push_back(ADeviceID);
    TCommonDriver::DisconnectEquipment(ADeviceID);
  }
};

// A connection holder with the property shapes the connection code uses.
struct THolder {
  int32_t PortNumber = 0;
  std::string IPAddress;
  bool LogEnabled = false;
  double Ratio = 0;

  static std::span<const TPropertyInfo<THolder>> PublishedProperties();
};

const TPropertyInfo<THolder> kHolderProps[] = {
    {"PortNumber", TPropKind::Integer,
     [](const THolder& H) -> TV8NativeVariant { return int64_t{H.PortNumber}; },
     [](THolder& H, const TV8NativeVariant& V) {
       H.PortNumber = static_cast<int32_t>(std::get<int64_t>(V));
     },
     nullptr},
    {"IPAddress", TPropKind::Text, [](const THolder& H) -> TV8NativeVariant { return H.IPAddress; },
     [](THolder& H, const TV8NativeVariant& V) { H.IPAddress = std::get<std::string>(V); },
     nullptr},
    {"LogEnabled", TPropKind::Boolean,
     [](const THolder& H) -> TV8NativeVariant { return H.LogEnabled; },
     [](THolder& H, const TV8NativeVariant& V) { H.LogEnabled = std::get<bool>(V); }, nullptr},
    {"Ratio", TPropKind::Float, [](const THolder& H) -> TV8NativeVariant { return H.Ratio; },
     [](THolder& H, const TV8NativeVariant& V) { H.Ratio = std::get<double>(V); }, nullptr},
    {"Device", TPropKind::Other, [](const THolder&) -> TV8NativeVariant { return {}; }, nullptr,
     nullptr},
};

std::span<const TPropertyInfo<THolder>> THolder::PublishedProperties() {
  return kHolderProps;
}

class CustomDriverTest : public ::testing::Test {
 protected:
  CustomDriverTest() { Driver.V8MM = &Memory; }
  ~CustomDriverTest() override { SetLogMode(lmOff); }
  void TearDown() override {
    EXPECT_EQ(Memory.Live(), 0);
    EXPECT_EQ(Memory.BadFrees(), 0);
  }
  std::string RunError(const std::function<void()>& F) {
    try {
      F();
    } catch (const std::exception& E) {
      return E.what();
    }
    return "(no error)";
  }
  TTestMemoryManager Memory;
  TPlainDriver Driver;
};

TEST(ResultTest, IntResultIsZeroAfterSuccessElseTheCodeOr1001) {
  TResult r;
  EXPECT_EQ(r.GetIntResult(), 0);
  r.SetError("Смена закрыта", 3005);
  EXPECT_FALSE(r.BoolResult);
  EXPECT_EQ(r.GetIntResult(), 3005);
  r.SetError("что-то", 0);
  EXPECT_EQ(r.GetIntResult(), 1001) << "a failure without a code reports 1001";
  r.Clear();
  EXPECT_EQ(r.GetIntResult(), 0);
  EXPECT_EQ(r.ErrorDescription, "");
}

TEST(EnumerationTextTest, KindsAndEquipmentTypesHaveTheirTextsAndRejectOthers) {
  EXPECT_EQ(ValueKindText(PropValueKind(TPropKind::Text)), "String");
  EXPECT_EQ(ValueKindText(PropValueKind(TPropKind::Int64)), "Number");
  EXPECT_EQ(ValueKindText(PropValueKind(TPropKind::Float)), "Number");
  EXPECT_EQ(ValueKindText(PropValueKind(TPropKind::Boolean)), "Boolean");
  EXPECT_EQ(ValueKindText(PropValueKind(TPropKind::Enumeration)), "Unknown");
  EXPECT_THROW(ValueKindText(4), std::runtime_error);
  EXPECT_EQ(EquipmentTypeText(etECR), "ККТ");
  EXPECT_EQ(EquipmentTypeText(etScanner), "СканерШтрихкода");
  EXPECT_EQ(EquipmentTypeText(etUnknown), "НеизвестныйТипОборудования");
  try {
    EquipmentTypeText(static_cast<TEquipmentType>(15));
    ADD_FAILURE() << "15 is no equipment type";
  } catch (const std::runtime_error& E) {
    EXPECT_STREQ(E.what(), "Enum value unacceptable");
  }
}

TEST(VariantConversionTest, TextsReadAsTheNumbersAndFlagsTheySpell) {
  EXPECT_EQ(VariantToInt64(std::string(" 50003 ")), 50003);
  EXPECT_EQ(VariantToInt64(2.5), 2) << "half rounds to even";
  EXPECT_EQ(VariantToInt64(true), 1);
  EXPECT_THROW(VariantToInt64(std::string("COM1")), std::runtime_error);
  EXPECT_DOUBLE_EQ(VariantToDouble(std::string("1,5")), 1.5);
  EXPECT_TRUE(VariantToBool(std::string("TRUE")));
  EXPECT_FALSE(VariantToBool(std::string("false")));
  EXPECT_TRUE(VariantToBool(std::string("1")));
  EXPECT_FALSE(VariantToBool(TV8NativeVariant{}));
  EXPECT_THROW(VariantToBool(std::string("yes please")), std::runtime_error);
  EXPECT_THROW(ConvertVariantToKind(int32_t{1}, TPropKind::Enumeration), std::runtime_error);
  EXPECT_THROW(ConvertVariantToKind(std::string("3000000000"), TPropKind::Integer),
               std::runtime_error)
      << "a 32-bit property must not wrap around";
}

TEST_F(CustomDriverTest, LogEnabledIsFoundByEitherNameInAnyLetterCase) {
  V8Variant value{};
  Driver.V8SetBool(&value, true);
  EXPECT_TRUE(Driver.PropertySet("logenabled", &value));
  EXPECT_EQ(GetLogMode(), lmAll);
  Driver.V8SetBool(&value, false);
  EXPECT_TRUE(Driver.PropertySet("ЛОГВКЛЮЧЕН", &value));
  EXPECT_EQ(GetLogMode(), lmOff);

  V8Variant read{};
  EXPECT_TRUE(Driver.PropertyGetSet("LogEnabled", &read, true, nullptr));
  ASSERT_EQ(read.vt, VTYPE_BOOL);
  EXPECT_FALSE(read.bVal);
}

TEST_F(CustomDriverTest, PropertyErrorsNameTheProperty) {
  V8Variant value{};
  Driver.V8SetInt(&value, 1);
  EXPECT_EQ(RunError([&] { Driver.PropertySet("PortNumber", &value); }),
            "Property not found: PortNumber");
  EXPECT_EQ(RunError([&] { Driver.PropertySet("PortNumber", TV8NativeVariant(int32_t{1})); }),
            "Property not found: PortNumber");
}

TEST_F(CustomDriverTest, LogEnabledFromHostTextMeansWhatTheTextSays) {
  TParamArray p(Driver, Memory, 1);
  p.Text(0, "true");
  Driver.PropertySet("LogEnabled", &p[0]);
  EXPECT_EQ(GetLogMode(), lmAll) << "the text \"true\" must switch logging on";
  p.Text(0, "False");
  Driver.PropertySet("LogEnabled", &p[0]);
  EXPECT_EQ(GetLogMode(), lmOff);
  p.Text(0, "1");
  Driver.PropertySet("LogEnabled", &p[0]);
  EXPECT_EQ(GetLogMode(), lmAll) << "a number spelled as text counts as that number";
  p.Text(0, "abc");
  Driver.PropertySet("LogEnabled", &p[0]);
  EXPECT_EQ(GetLogMode(), lmOff);
}

TEST_F(CustomDriverTest, SettingLogEnabledRecordsTheFlagOfTheCurrentDevice) {
  Driver.SetCurrentDevice(kDevice);
  Driver.PropertySet("LogEnabled", TV8NativeVariant(true));
  SelectDeviceLog(std::string(kDevice));
  EXPECT_EQ(GetLogMode(), lmAll) << "calls for this device must now be logged";
  Driver.PropertySet("LogEnabled", TV8NativeVariant(false));
  SelectDeviceLog(std::string(kDevice));
  EXPECT_EQ(GetLogMode(), lmOff);
}

TEST_F(CustomDriverTest, SetPropertyOnConvertsToTheTargetsTypes) {
  THolder holder;
  const auto* port = TCustomDriver::FindPublishedProperty<THolder>("PortNumber");
  const auto* address = TCustomDriver::FindPublishedProperty<THolder>("IPAddress");
  const auto* ratio = TCustomDriver::FindPublishedProperty<THolder>("Ratio");
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(TCustomDriver::FindPublishedProperty<THolder>("portnumber"), nullptr)
      << "connection parameters are matched by exact name";
  EXPECT_TRUE(Driver.SetPropertyOn(*port, std::string("9999"), holder));
  EXPECT_EQ(holder.PortNumber, 9999);
  EXPECT_TRUE(Driver.SetPropertyOn(*address, std::string("127.0.0.1"), holder));
  EXPECT_EQ(holder.IPAddress, "127.0.0.1");
  EXPECT_TRUE(Driver.SetPropertyOn(*ratio, std::string("0.5"), holder));
  EXPECT_DOUBLE_EQ(holder.Ratio, 0.5);
  EXPECT_EQ(RunError([&] { Driver.SetPropertyOn(*port, std::string("COM1"), holder); }),
            "Значение \"COM1\" не является целым числом");
  EXPECT_EQ(holder.PortNumber, 9999) << "a failed conversion must not touch the property";

  // A property the target lacks, and one it cannot take.
  const TPropertyInfo<THolder> foreign{"BaudRate", TPropKind::Integer, nullptr, nullptr, nullptr};
  EXPECT_EQ(RunError([&] { Driver.SetPropertyOn(foreign, int32_t{1}, holder); }),
            "Property \"BaudRate\" not found in Source object.");
  const auto* device = TCustomDriver::FindPublishedProperty<THolder>("Device");
  EXPECT_EQ(RunError([&] { Driver.SetPropertyOn(*device, int32_t{1}, holder); }),
            "Property type unacceptable");
}

TEST_F(CustomDriverTest, NonFiniteNumbersAreRefusedLikeTextThatIsNoNumber) {
  THolder holder;
  holder.Ratio = 0.5;
  const auto* ratio = TCustomDriver::FindPublishedProperty<THolder>("Ratio");
  for (const TV8NativeVariant& value :
       {TV8NativeVariant(std::string("nan")), TV8NativeVariant(std::string("-inf")),
        TV8NativeVariant(std::numeric_limits<double>::quiet_NaN()),
        TV8NativeVariant(std::numeric_limits<double>::infinity())}) {
    EXPECT_THAT(RunError([&] { Driver.SetPropertyOn(*ratio, value, holder); }),
                ::testing::StartsWith("Значение "))
        << NativeVariantToText(value);
  }
  EXPECT_DOUBLE_EQ(holder.Ratio, 0.5) << "a refused value must not reach the property";
}

TEST_F(CustomDriverTest, SetPropertyOnRecordsLogEnabledForTheNewConnection) {
  THolder holder;
  Driver.SetCurrentDevice(kDevice);
  const auto* log = TCustomDriver::FindPublishedProperty<THolder>("LogEnabled");
  Driver.SetPropertyOn(*log, std::string("true"), holder);
  EXPECT_TRUE(holder.LogEnabled);
  SelectDeviceLog(std::string(kDevice));
  EXPECT_EQ(GetLogMode(), lmAll);
}

TEST_F(CustomDriverTest, ConnectingAssignsAnUpperCaseIdentifierWithoutBraces) {
  TParamArray p(Driver, Memory, 3);
  p.Text(2, "<Parameters/>");
  TCommonDriver& common = Driver;
  EXPECT_TRUE(common.ConnectEquipment(&p.Result, p.Data(), p.Count(), nullptr));
  EXPECT_TRUE(p.Result.bVal) << Driver.LastResult().ErrorDescription;
  const std::string id = p.TextAt(0);
  // A random UUID: version 4, the RFC 4122 variant.
  const char* uuid4 = "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}";
  EXPECT_THAT(id, ::testing::MatchesRegex(uuid4));
  EXPECT_EQ(Driver.DeviceID(), id);
  std::set<std::string> ids;
  for (int i = 0; i < 100; ++i) {
    const std::string next = NewDeviceIdentifier();
    EXPECT_THAT(next, ::testing::MatchesRegex(uuid4));
    ids.insert(next);
  }
  EXPECT_EQ(ids.size(), 100u) << "identifiers repeat";

  TParamArray d(Driver, Memory, 1);
  d.Text(0, id);
  common.DisconnectEquipment(&d.Result, d.Data(), d.Count(), nullptr);
  EXPECT_EQ(Driver.DeviceID(), "");
}

TEST_F(CustomDriverTest, EquipmentTestDisconnectsAlsoAfterAFailedConnect) {
  TFailingConnectDriver driver;
  driver.V8MM = &Memory;
  pugi::xml_document settings;
  std::string description = "old", demo = "old";
  try {
    driver.EquipmentTest(settings, description, demo);
    ADD_FAILURE() << "the failed connection must fail the test";
  } catch (const std::runtime_error& E) {
    EXPECT_STREQ(E.what(), "Устройство не подключено");
  }
  EXPECT_EQ(description, "Устройство не подключено");
  EXPECT_EQ(demo, "");
  ASSERT_EQ(driver.Disconnected.size(), 1u);
  EXPECT_EQ(driver.Disconnected[0].size(), 36u) << "the identifier the connect assigned";
  EXPECT_EQ(driver.DeviceID(), "");
}

TEST_F(CustomDriverTest, EquipmentTestAnswersTheDriverDescription) {
  pugi::xml_document settings;
  std::string description, demo;
  Driver.EquipmentTest(settings, description, demo);
  EXPECT_EQ(description, TCommonDriver::DriverInfo().Description);
  EXPECT_EQ(Driver.DeviceID(), "") << "the test leaves no connection behind";
}

TEST(DriverInfoTest, ConstructingAnObjectKeepsTheRegisteredClassesKind) {
  TClassRegList list;
  TCommonDriver::RegisterDriver(
      list, TEcrlDriver::Info, []() -> TV8UserObject* { return nullptr; }, "quarnel", "Имя",
      "Описание");
  EXPECT_EQ(TCommonDriver::DriverInfo().EquipmentType, etECR);
  // Every driver object runs the common constructor before the fiscal one;
  // meanwhile another thread may be reading the description for the host.
  TPlainDriver base;
  const TDriverInfo info = TCommonDriver::DriverInfo();
  EXPECT_EQ(info.EquipmentType, etECR) << "the description switched to another kind of equipment";
  EXPECT_EQ(info.Name, "Имя");
  EXPECT_EQ(info.Description, "Описание");
}

TEST(ParametersDescriptionTest, WithoutAResourceTheExportedPropertiesAreDescribed) {
  pugi::xml_document doc;
  ParseXmlUtf8(BuildParametersDescription(TCommonDriver::Info), doc, "описание параметров");
  const pugi::xml_node page = doc.child("Settings").child("Page");
  EXPECT_STREQ(page.attribute("Caption").value(), "Параметры");
  const pugi::xml_node p = page.child("Parameter");
  EXPECT_STREQ(p.attribute("Name").value(), "LogEnabled");
  EXPECT_STREQ(p.attribute("Caption").value(), "Вести лог");
  EXPECT_STREQ(p.attribute("TypeValue").value(), "Boolean");
  EXPECT_STREQ(p.attribute("DefaultValue").value(), "False");
  EXPECT_STREQ(p.attribute("ReadOnly").value(), "false");
  EXPECT_FALSE(p.next_sibling("Parameter"));
}

TEST_F(CustomDriverTest, PropertiesSetDefaultLeavesLogEnabledAlone) {
  SetLogMode(lmAll);
  Driver.PropertiesSetDefault();
  EXPECT_EQ(GetLogMode(), lmAll);
}

}  // namespace
