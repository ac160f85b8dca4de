// The error byte of an answer, the extended description of error 01 fetched
// with command 06, and the catalogue's texts.
#include <gtest/gtest.h>

#include "ScriptedDevice.h"
#include "device/uEquipmentErrors.h"

TEST(DeviceErrorByte, ZeroPassesAndKnownBytesGiveTheirText) {
  TScriptedDevice device;
  EXPECT_NO_THROW(device.CheckAnswerError("00"));
  EXPECT_EQ(device.ErrorCode(), 0);
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswerError("4A"); }), "Нет ответа от ФН");
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswerError("4a"); }), "Нет ответа от ФН")
      << "hexadecimal digits in either case";
  EXPECT_EQ(device.ErrorCode(), 0x4A);
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswerError("08"); }), "Конец бумаги");
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswerError("7E"); }),
            "В реквизите 2007 содержится КМ, который ранее не проверялся в ФН");
}

TEST(DeviceErrorByte, UnknownAndUnreadableBytes) {
  TScriptedDevice device;
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswerError("7A"); }), "Неизвестная ошибка - (122)");
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswerError("ZZ"); }), "Ошибка протокола обмена");
  EXPECT_EQ(device.ErrorCode(), 255);
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswerError("FF"); }), "Ошибка протокола обмена");
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswerError("0"); }), "Ошибка протокола обмена");
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswerError(" 1"); }), "Ошибка протокола обмена");
}

TEST(DeviceErrorByte, RegisterErrorIsAPlainErrorNotAnEquException) {
  TScriptedDevice device;
  try {
    device.CheckAnswerError("08");
    FAIL() << "no error raised";
  } catch (const EquException&) {
    FAIL() << "register errors are reported with the general code";
  } catch (const std::runtime_error&) {
  }
}

TEST(DeviceErrorByte, Error01FetchesTheExtendedDescriptionWithCommand06) {
  TScriptedDevice device;
  device.Answer({}, "01");           // the command itself
  device.Answer({"0", "20"}, "00");  // command 06
  EXPECT_EQ(ErrorOf([&] { device.OpenDay("x"); }),
            "Функция невыполнима при данном статусе ККМ. Смена не открыта");
  ASSERT_EQ(device.Sent.size(), 2u);
  EXPECT_EQ(device.Sent[1].Cmd, "06");
  EXPECT_EQ(device.Sent[1].Args, TDeviceArgs{"1"});
  EXPECT_EQ(device.Sent[1].Timeout, 15000);
  // The nested command leaves its own traces.
  EXPECT_EQ(device.Command(), "06");
  EXPECT_EQ(device.Data(), (std::vector<std::string>{"0", "20"}));
  EXPECT_EQ(device.PacketID(), 0x22);
}

TEST(DeviceErrorByte, Error01KeepsItsCodeAndIsDescribedOnlyByTheAnswerTo06) {
  TScriptedDevice device;
  device.Answer({"5", "0"});  // an earlier command; its field 1 reads as "no error"
  ASSERT_EQ(ErrorOf([&] { device.GetDrawerState(); }), "");
  device.Answer({}, "01");  // the command
  device.Answer({}, "00");  // command 06 without any field
  EXPECT_EQ(ErrorOf([&] { device.OpenDay("x"); }),
            "Функция невыполнима при данном статусе ККМ. Неизвестная ошибка (-1)")
      << "the description must not come from the earlier command's fields";
  EXPECT_EQ(device.ErrorCode(), 1) << "the failed command's error, not that of command 06";
}

TEST(DeviceErrorByte, Error01InTheAnswerTo06FetchesNothingFurther) {
  TScriptedDevice device;
  device.Answer({}, "01");
  device.Answer({}, "01");
  device.Answer({"0", "20"});  // must stay unused
  EXPECT_EQ(ErrorOf([&] { device.OpenDay("x"); }), "Функция невыполнима при данном статусе ККМ. ");
  EXPECT_EQ(device.Sent.size(), 2u);

  // The guard is released: the next error 01 asks again.
  device.Answers.clear();
  device.Answer({}, "01");
  device.Answer({"0", "8"});
  EXPECT_EQ(ErrorOf([&] { device.OpenDay("x"); }),
            "Функция невыполнима при данном статусе ККМ. Документ не был открыт");
}

TEST(DeviceErrorByte, A06ThatFailsOnTheLinkGivesAnEmptyDescription) {
  TScriptedDevice device;
  device.Answer({}, "01");
  device.Fail("Ошибка при получении ответа от сервера");
  EXPECT_EQ(ErrorOf([&] { device.CancelDocument(); }),
            "Функция невыполнима при данном статусе ККМ. ");
}

TEST(DeviceExtendedError, TableTextsParameterNamesAndUnknownCodes) {
  EXPECT_EQ(ExtendedErrorText(0), "Ошибок не было");
  EXPECT_EQ(ExtendedErrorText(1), "Не была вызвана функция “Начало работы”");
  EXPECT_EQ(ExtendedErrorText(83),
            "Параметр \"Название товара\" не соответствует параметру \"Признак предмета "
            "расчета\"");
  EXPECT_EQ(ExtendedErrorText(94), "Слишком большое изображение");
  EXPECT_EQ(ExtendedErrorText(40), "Неверный параметр \"Тип документа\"");
  EXPECT_EQ(ExtendedErrorText(93), "Неверный параметр \"Телефон\"");
  EXPECT_EQ(ExtendedErrorText(72),
            "Неверный параметр \"Наименование дополнительного реквизита пользователя\"");
  for (int code : {6, 31, 32, 36, 63, 80, 84, 87, 92, 95, 1000})
    EXPECT_EQ(ExtendedErrorText(code), "Неизвестная ошибка (" + std::to_string(code) + ")");
}

TEST(DeviceExtendedError, FieldThatIsNotANumberReadsAsMinusOne) {
  TScriptedDevice device;
  device.Answer({"0", " 20"});
  EXPECT_EQ(device.GetExtErrorDescription(), "Смена не открыта")
      << "a number with leading blanks is read like every other number";
  device.Answer({"0", "x"});
  EXPECT_EQ(device.GetExtErrorDescription(), "Неизвестная ошибка (-1)");
  device.Answer({"0"});
  device.SetData({});
  EXPECT_EQ(device.GetExtErrorDescription(), "Неизвестная ошибка (-1)") << "no field 1";
}

TEST(DeviceErrorCatalogue, CodedDriverErrors) {
  EquException e = MakeEquException(ecShiftClosed);
  EXPECT_EQ(e.Code, 3005);
  EXPECT_STREQ(e.what(), "Смена закрыта");
  EXPECT_TRUE(e.StrCode.empty());
  EXPECT_EQ(DriverErrorText(3002),
            "Длительность смены превысила 24 часа. Необходимо снять Z-отчет");
  EXPECT_EQ(DriverErrorText(1004), "Ошибка входных параметров команды");
  EXPECT_EQ(DriverErrorText(3023),
            "Значение признака агента по предмету расчёта вне допустимого диапазона");
  EXPECT_EQ(DriverErrorText(42), "");
  EquException custom(1004, "Не найдена структура RequestKM");
  EXPECT_EQ(custom.Code, 1004);
  EXPECT_STREQ(custom.what(), "Не найдена структура RequestKM");
}

TEST(DeviceErrorCatalogue, RegisterTableSamples) {
  EXPECT_EQ(RegisterErrorText(0x0A),
            "Текущая смена больше 24 часов. Установка даты времени больше чем на 24 часа.");
  EXPECT_EQ(RegisterErrorText(0x44), "Ошибка КС (Криптографического сопроцессора) в составе ФН");
  EXPECT_EQ(RegisterErrorText(0x13), "Неизвестная ошибка - (19)");
  EXPECT_FALSE(HasRegisterErrorText(0x13));
  EXPECT_TRUE(HasRegisterErrorText(0x75));
}
