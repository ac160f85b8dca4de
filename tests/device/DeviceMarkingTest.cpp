// Marking codes on the register: the quantity forms of a check, the escaped
// code, what a check leaves in KMListResult, the marking service's time-out
// and binding a code that was never checked.
#include <gtest/gtest.h>

#include "ScriptedDevice.h"
#include "device/uEquipmentErrors.h"

namespace {

const std::string kRaw =
    "0104600439931256215Ab3cD\x1d"
    "91EE06\x1d"
    "92hash=";
const std::string kEscaped = "0104600439931256215Ab3cD$1D91EE06$1D92hash=";

struct TQuantityCase {
  int Planned;
  double Quantity;
  int Measure, Numerator, Denominator;
  std::string QuantityText, MeasureText;
};

TEST(DeviceMarkingCheck, QuantityAndMeasureFollowThePlannedStatus) {
  const TQuantityCase cases[] = {
      {2, 0.333, 0, 1, 3, "1/3", "0"},  // a fraction of a package
      {2, 1, 0, 3, 3, "1", "0"},        // a whole package is no fraction
      {4, 0.5, 11, 1, 3, "0.5", "11"},  // a fraction only for measure 0
      {1, 2.5, 0, 0, 0, "2", "0"},      // halves to even
      {1, 3.5, 5, 0, 0, "4", "5"},
      {3, -1, -1, 1, 3, "0", "0"},  // quantity not given; no fractions for pieces
  };
  for (const TQuantityCase& c : cases) {
    TScriptedDevice device;
    device.Answer({"1", "15", "0", "0", "0", "0"});
    TKMResult result;
    device.CheckMarkingCode(1, "code", c.Planned, c.Quantity, c.Measure, c.Numerator, c.Denominator,
                            result);
    const TSentCommand& sent = device.Sent.at(0);
    EXPECT_EQ(sent.Args, (TDeviceArgs{"1", "code", "0", std::to_string(c.Planned), c.QuantityText,
                                      c.MeasureText, "0"}))
        << "planned " << c.Planned << ", quantity " << c.Quantity << ", " << c.Numerator << "/"
        << c.Denominator;
    EXPECT_EQ(sent.Cmd, "79");
    EXPECT_EQ(sent.Timeout, 30000) << "the marking service gets 30 seconds";
  }
}

TEST(DeviceMarkingCheck, ControlBytesAreEscapedAndTheFirstOutcomeIsKept) {
  EXPECT_EQ(TDevice::SetMarkingCode(kRaw), kEscaped);
  EXPECT_EQ(TDevice::SetMarkingCode(std::string("a\x01\x1f $Ж", 7)), "a$01$1F $Ж");

  TScriptedDevice device;
  device.Answer({"1", "15", "1", "2", "3", "4"});
  device.Answer({"1", "1", "0", "0", "0", "0"});
  TKMResult result;
  device.CheckMarkingCode(1, kEscaped, 1, 1, 0, 0, 0, result);
  EXPECT_EQ(device.Sent.at(0).Args.at(1), kEscaped);
  EXPECT_EQ(result.MarkingValidationResult, 15);
  EXPECT_EQ(result.LocalValidationResult, 1);
  EXPECT_EQ(result.ProcessingResult, 2);
  EXPECT_EQ(result.ProcessingCode, 3);
  EXPECT_EQ(result.StatusInfo, 4);
  EXPECT_EQ(result.PlannedStatus, 1);
  EXPECT_EQ(result.RequestStatus, 0);

  device.CheckMarkingCode(1, kEscaped, 2, 1, 0, 0, 0, result);
  EXPECT_EQ(result.MarkingValidationResult, 1) << "the caller gets the new outcome";
  ASSERT_EQ(device.KMListResult().count(kEscaped), 1u);
  EXPECT_EQ(device.KMListResult().at(kEscaped).MarkingValidationResult, 15)
      << "a code checked again keeps its first record";
  EXPECT_EQ(device.KMListResult().at(kEscaped).PlannedStatus, 1);
}

TEST(DeviceMarkingCheck, AReadTimeOutIsTheMarkingServicesAndOtherErrorsPassUnchanged) {
  TScriptedDevice device;
  device.Fail("Ошибка при чтении данных из порта");
  device.Answer({}, "03");
  TKMResult result;
  try {
    device.CheckMarkingCode(1, "slow", 1, 1, 0, 0, 0, result);
    FAIL() << "a check whose answer never came must fail";
  } catch (const EquException&) {
    FAIL() << "the time-out is reported with the general code";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Ошибка ответа от сервера ИСМ");
  }
  EXPECT_EQ(result.RequestStatus, 2);
  ASSERT_EQ(device.KMListResult().count("slow"), 1u) << "a failed check is recorded too";
  EXPECT_EQ(device.KMListResult().at("slow").RequestStatus, 2);

  EXPECT_EQ(ErrorOf([&] { device.CheckMarkingCode(1, "bad", 1, 1, 0, 0, 0, result); }),
            "Некорректный формат или параметр команды");
  EXPECT_EQ(device.KMListResult().count("bad"), 1u);
}

TEST(DeviceMarkingBind, OnlyACheckedCodeIsBoundWithItsRecordedOutcome) {
  TScriptedDevice device;
  EXPECT_EQ(
      ErrorOf([&] { device.BindMarkingCode(kEscaped, 0); }),
      "Предварительно не выполнена процедура проверки КМ " + kEscaped + " или код не подтвержден");
  EXPECT_TRUE(device.Sent.empty()) << "nothing is sent for an unchecked code";

  device.Answer({"1", "15", "0", "0", "0", "0"});
  TKMResult result;
  device.CheckMarkingCode(1, kEscaped, 2, 0.5, 0, 0, 0, result);
  device.BindMarkingCode(kEscaped, 0);
  device.BindMarkingCode(kEscaped, -1);
  ASSERT_EQ(device.Sent.size(), 3u);
  EXPECT_EQ(device.Sent[1].Args, (TDeviceArgs{"15", kEscaped, "2", "0", "15", "0"}));
  EXPECT_EQ(device.Sent[1].Timeout, 15000);
  EXPECT_EQ(device.Sent[2].Args.back(), "") << "a negative measure is sent empty";
}

}  // namespace
