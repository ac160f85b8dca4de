// Text and value conversions between the driver and the register, and the
// answer readers built on them.
#include <gtest/gtest.h>

#include "ScriptedDevice.h"
#include "common/uClock.h"

namespace {
std::string Bytes(std::initializer_list<int> ABytes) {
  std::string s;
  for (int b : ABytes) s += static_cast<char>(b);
  return s;
}
}  // namespace

TEST(DeviceText, ControlCharactersBecomeSpaces) {
  EXPECT_EQ(TDevice::ToDeviceText("A\tB"), "A B");
  EXPECT_EQ(TDevice::ToDeviceText("a\r\nb"), "a  b");
}

TEST(DeviceText, CyrillicGoesToCp866AndTheCutCountsCharacters) {
  // "Иванов" in CP866.
  EXPECT_EQ(TDevice::ToDeviceText("Иванов"), Bytes({0x88, 0xA2, 0xA0, 0xAD, 0xAE, 0xA2}));
  EXPECT_EQ(TDevice::ToDeviceText("Иванов", 2), Bytes({0x88, 0xA2}))
      << "the limit counts characters, not UTF-8 bytes";
  EXPECT_EQ(TDevice::ToDeviceText("abc", 0), "abc");
  EXPECT_EQ(TDevice::ToDeviceText("abc", 5), "abc");
}

TEST(DeviceText, BytesAboveF0BecomeSpacesAfterYoAndNumeroAreSpelledOut) {
  // Ё is 0xF0 in CP866 and stays; ё (0xF1) is written as е and № (0xFC) as
  // N so that names and numbers stay readable; any other byte above 0xF0
  // (the degree sign is 0xF8) is still a blank.
  EXPECT_EQ(TDevice::ToDeviceText("Ёё"), Bytes({0xF0, 0xA5}));
  EXPECT_EQ(TDevice::ToDeviceText("Зелёный чай"), TDevice::ToDeviceText("Зеленый чай"));
  EXPECT_EQ(TDevice::ToDeviceText("№5"), "N5");
  EXPECT_EQ(TDevice::ToDeviceText("5°"), "5 ");
}

TEST(DeviceText, RegisterBytesComeBackAsUtf8) {
  EXPECT_EQ(TDevice::FromDeviceText(Bytes({0x88, 0xA2, 0xA0, 0xAD, 0xAE, 0xA2})), "Иванов");
  EXPECT_EQ(TDevice::FromDeviceText("12ab"), "12ab");
}

TEST(DeviceDate, DeviceDatesAndTimes) {
  TDateTime d = TDevice::DeviceToDate("311224");
  EXPECT_EQ(d.Year, 2024);
  EXPECT_EQ(d.Month, 12);
  EXPECT_EQ(d.Day, 31);
  EXPECT_TRUE(TDevice::DeviceToDate("3112").IsEmpty()) << "5 characters or fewer";
  EXPECT_TRUE(TDevice::DeviceToDate("310224").IsEmpty()) << "31 February";
  EXPECT_TRUE(TDevice::DeviceToDate("xx1224").IsEmpty());

  TDateTime t = TDevice::DeviceToTime("235958");
  EXPECT_EQ(t.Hour, 23);
  EXPECT_EQ(t.Minute, 59);
  EXPECT_EQ(t.Second, 58);
  EXPECT_EQ(TDevice::DeviceToTime("246000"), TDateTime{});
  EXPECT_EQ(TDevice::DeviceToTime("12345"), TDateTime{});

  TDateTime when{2024, 3, 5, 7, 8, 9, 0};
  EXPECT_EQ(TDevice::DateToDevice(when), "050324");
  EXPECT_EQ(TDevice::TimeToDevice(when), "070809");
}

TEST(DeviceNumber, FloatToDeviceWritesShortestPositionalDecimals) {
  EXPECT_EQ(TDevice::FloatToDevice(12.5), "12.5");
  EXPECT_EQ(TDevice::FloatToDevice(3), "3");
  EXPECT_EQ(TDevice::FloatToDevice(-2.25), "-2.25");
  EXPECT_EQ(TDevice::FloatToDevice(0.1 + 0.2), "0.3") << "15 significant digits";
  EXPECT_EQ(TDevice::FloatToDevice(-0.0), "0");
  EXPECT_EQ(TDevice::FloatToDevice(0.00001), "0.00001") << "never an exponent";
  EXPECT_EQ(TDevice::FloatToDevice(1e20), "100000000000000000000");
  EXPECT_EQ(TDevice::FloatToDevice(1234567.891), "1234567.891");
  EXPECT_EQ(TDevice::AmountToDevice(125000), "12.5");
  EXPECT_EQ(TDevice::AmountToDevice(30000), "3");
  EXPECT_EQ(TDevice::AmountToDevice(1), "0.0001");
}

TEST(DeviceNumber, DeviceToFloatReadsDecimalsOrGivesZero) {
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat("12.50"), 12.5);
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat("-3"), -3);
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat(" 7 "), 7);
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat(""), 0);
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat("abc"), 0);
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat("1.2.3"), 0);
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat("1,5"), 0);
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat("inf"), 0);
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat("nan"), 0);
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat("+-3"), 0);
  EXPECT_DOUBLE_EQ(TDevice::DeviceToFloat("+3"), 3);
}

TEST(DeviceReaders, TypedReadersOverTheAnswerFields) {
  TManualClock clock({2024, 3, 5, 10, 0, 0, 0});
  TScopedClock scoped(clock);
  TScriptedDevice device;
  device.SetData({Bytes({0x88, 0xA2}), "42", "1.25", "311224", "101112", "x"});
  EXPECT_EQ(device.GetDataAsString(0), "Ив");
  EXPECT_EQ(device.GetDataAsInteger(1), 42);
  EXPECT_EQ(device.GetDataAsInteger(5), 0) << "not a number";
  device.SetData({" 42", "42 ", "-7"});
  EXPECT_EQ(device.GetDataAsInteger(0), 42) << "leading blanks are skipped";
  EXPECT_EQ(device.GetDataAsInteger(1), 0);
  EXPECT_EQ(device.GetDataAsInteger(2), -7);
  device.SetData({Bytes({0x88, 0xA2}), "42", "1.25", "311224", "101112", "x"});
  EXPECT_DOUBLE_EQ(device.GetDataAsFloat(2), 1.25);
  EXPECT_EQ(device.GetDataAsDate(3).Day, 31);
  EXPECT_EQ(device.GetDataAsTime(4).Minute, 11);

  // Beyond the last field.
  EXPECT_EQ(device.GetDataAsString(6), "");
  EXPECT_EQ(device.GetDataAsInteger(6), 0);
  EXPECT_DOUBLE_EQ(device.GetDataAsFloat(6), 0);
  EXPECT_EQ(device.GetDataAsDate(6), clock.LocalNow());
  EXPECT_EQ(device.GetDataAsTime(200), clock.LocalNow());
}
