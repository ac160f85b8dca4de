// Marking-code rules no scenario reaches cheaply: the quantity forms of a
// check, the escaped code, the marking service's time-out, the latest recorded
// outcome and binding a code that was never checked.
#include <gtest/gtest.h>

#include "ScriptedDevice.h"
#include "fiscal/uMarkingCodes.h"

TEST(DeviceMarking, QuantityFormsFollowThePlannedStatus) {
  struct {
    int Planned;
    double Quantity;
    int Measure, Numerator, Denominator;
    const char *Text, *MeasureText;
  } const cases[] = {{2, 0.3, 0, 1, 3, "1/3", "0"},   {2, 1, 0, 3, 3, "1", "0"},
                     {4, 0.5, 11, 1, 3, "0.5", "11"}, {1, 2.5, 0, 0, 0, "2", "0"},
                     {1, 3.5, 5, 0, 0, "4", "5"},     {3, -1, -1, 1, 3, "0", "0"}};
  for (const auto& c : cases) {
    TScriptedDevice device;
    TKMResult result;
    device.CheckMarkingCode(1, "c", c.Planned, c.Quantity, c.Measure, c.Numerator, c.Denominator,
                            result);
    EXPECT_EQ(device.Sent.at(0).Args,
              (TDeviceArgs{"1", "c", "0", std::to_string(c.Planned), c.Text, c.MeasureText, "0"}))
        << "planned " << c.Planned << ", quantity " << c.Quantity;
  }
}

TEST(DeviceMarking, TimeOutsLatestOutcomesAndUncheckedCodes) {
  EXPECT_EQ(TDevice::SetMarkingCode(std::string("a\x1d\x01 $Ж", 7)), "a$1D$01 $Ж");
  TScriptedDevice device;
  TKMResult result;
  device.Fail("Ошибка при чтении данных из порта");
  EXPECT_EQ(ErrorOf([&] { device.CheckMarkingCode(1, "slow", 1, 1, 0, 0, 0, result); }),
            "Ошибка ответа от сервера ИСМ");
  EXPECT_EQ(result.RequestStatus, 2) << "a failed check answers its failure";

  TMarkingCodes checked;
  device.Answer({"1", "15"});
  device.Answer({"1", "1"});
  device.CheckMarkingCode(1, "k", 1, 1, 0, 0, 0, result);
  checked.Record("k", result);
  checked.SetAccepted("k", true);
  device.CheckMarkingCode(1, "k", 2, 1, 0, 0, 0, result);
  checked.Record("k", result);
  EXPECT_FALSE(checked.Find("k")->Accepted) << "a new check needs a new answer";
  checked.Bind(device, "k", -1);
  EXPECT_EQ(device.Sent.back().Args, (TDeviceArgs{"15", "k", "2", "0", "1", ""}))
      << "a code checked again is bound with its latest outcome";
  EXPECT_EQ(ErrorOf([&] { checked.Bind(device, "never", 0); }),
            "Предварительно не выполнена процедура проверки КМ never или код не подтвержден");
  EXPECT_EQ(device.Sent.size(), 4u) << "nothing is sent for an unchecked code";
}
