// Request frames, packet identifiers, the connection password, field
// splitting and the order in which an answer is checked.
#include <gtest/gtest.h>

#include "ScriptedDevice.h"
#include "device/uEquipmentErrors.h"

namespace {

std::string Bytes(std::initializer_list<int> ABytes) {
  std::string s;
  for (int b : ABytes) s += static_cast<char>(b);
  return s;
}

// An answer body: identifier, command, error, data, ETX.
std::string Body(uint8_t AId, std::string_view ACmd, std::string_view AError,
                 std::string_view AData = {}) {
  return std::string(1, static_cast<char>(AId)) + std::string(ACmd) + std::string(AError) +
         std::string(AData) + "\x03";
}

}  // namespace

TEST(DeviceFrame, FirstFrameCarriesIdentifier21AndTheXorChecksum) {
  TDevice device;
  std::string frame = device.BuildPacket("00", {});
  int sum = 'K' ^ 'V' ^ 'N' ^ 'T' ^ 0x21 ^ '0' ^ '0' ^ 0x03;
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  EXPECT_EQ(frame, Bytes({0x02, 'K', 'V', 'N', 'T', 0x21, '0', '0', 0x03}) + hex);
  EXPECT_EQ(device.PacketID(), 0x21);
}

TEST(DeviceFrame, ArgumentsAreJoinedBySeparatorsOnlyBetweenThem) {
  TDevice device;
  std::string frame = device.BuildPacket("02", {"1", "2"});
  // STX, password, identifier, command, then the arguments up to ETX.
  EXPECT_EQ(frame.substr(8, frame.size() - 8 - 3), Bytes({0x31, 0x1C, 0x32}));
  EXPECT_EQ(frame.substr(6, 2), "02");
  std::string empties = device.BuildPacket("31", {"", "a", ""});
  EXPECT_EQ(empties.substr(8, empties.size() - 11), Bytes({0x1C, 'a', 0x1C}));
}

TEST(DeviceFrame, ChecksumIsTwoUpperCaseDigitsWithLeadingZero) {
  EXPECT_EQ(TDevice::CalcChecksum(Bytes({0x0A})), "0A");
  EXPECT_EQ(TDevice::CalcChecksum(Bytes({0xF0, 0x0F})), "FF");
  EXPECT_EQ(TDevice::CalcChecksum(""), "00");
}

TEST(DeviceFrame, PacketIdentifiersRunFrom21ToF0ThenWrapTo20) {
  TScriptedDevice device;
  EXPECT_EQ(device.NextPacketID(), 0x21);
  device.SetPacketID(0xEF);
  EXPECT_EQ(device.NextPacketID(), 0xF0);
  EXPECT_EQ(device.NextPacketID(), 0x20) << "after 0xF0 comes 0x20";
  EXPECT_EQ(device.NextPacketID(), 0x21);
}

TEST(DeviceFrame, PasswordRules) {
  TDevice device;
  TConnectionSettings settings;
  device.UseSettings(settings);
  EXPECT_EQ(device.ConnectionPassword(), "KVNT") << "default while none is set";
  settings.FConnectionPassword = "123456";
  EXPECT_EQ(device.ConnectionPassword(), "1234") << "cut to its first 4 bytes";
  EXPECT_EQ(device.BuildPacket("00", {}).substr(1, 4), "1234");

  settings.FConnectionPassword = "12";
  uint8_t before = device.PacketID();
  EXPECT_EQ(ErrorOf([&] { device.BuildPacket("00", {}); }), "Некорректный пароль связи с ФР");
  EXPECT_EQ(device.PacketID(), before) << "a refused frame must not use up an identifier";

  settings.FConnectionPassword = "";
  EXPECT_EQ(device.ConnectionPassword(), "KVNT");
  EXPECT_EQ(device.BuildPacket("00", {}).substr(1, 4), "KVNT");

  // Cyrillic goes to CP1251, one byte per letter.
  settings.FConnectionPassword = "ПАРОЛЬ";
  EXPECT_EQ(device.ConnectionPassword(), "ПАРО");
  EXPECT_EQ(device.BuildPacket("00", {}).substr(1, 4), Bytes({0xCF, 0xC0, 0xD0, 0xCE}));
}

TEST(DeviceFrame, ShortPasswordFailsEveryCommandBeforeAnythingIsSent) {
  TScriptedDevice device;
  TConnectionSettings settings;
  device.UseSettings(settings);
  settings.FConnectionPassword = "ab";
  EXPECT_EQ(ErrorOf([&] { device.CancelDocument(); }), "Некорректный пароль связи с ФР");
  EXPECT_TRUE(device.Sent.empty());
}

TEST(DeviceFrame, AByteBelow0x20InAnArgumentIsRefusedWith1004) {
  TScriptedDevice device;
  for (char c : {'\x00', '\x02', '\x03', '\x1C', '\x1D', '\x1F'}) {
    const uint8_t before = device.PacketID();
    try {
      device.RunCommand("79", {"15", std::string("01046") + c + "21", "1"}, 15000);
      ADD_FAILURE() << "byte " << int(c) << " was sent";
    } catch (const EquException& e) {
      EXPECT_EQ(e.Code, 1004);
      EXPECT_STREQ(e.what(),
                   "Ошибка входных параметров команды. Недопустимый управляющий символ в "
                   "аргументе 2 команды 79");
    }
    EXPECT_EQ(device.PacketID(), before) << "a refused frame must not use up an identifier";
  }
  EXPECT_TRUE(device.Sent.empty());
  // What the catalogue makes of the same bytes goes out: texts are cleaned,
  // marking codes escaped.
  device.PrintBarcode(0, 6, 0, 8, "a\x03b");
  TKMResult checked;
  device.CheckMarkingCode(1,
                          TDevice::SetMarkingCode("01\x1D"
                                                  "21"),
                          1, 1, 0, 0, 0, checked);
  EXPECT_EQ(device.Sent.size(), 2u);
}

TEST(DeviceFrame, SplitFieldsRules) {
  using V = std::vector<std::string>;
  const char fs = 0x1C;
  EXPECT_EQ(TDevice::SplitFields(std::string("A") + fs + "B" + fs), (V{"A", "B"}));
  EXPECT_EQ(TDevice::SplitFields(std::string("A") + fs + "B"), (V{"A", "B"}));
  EXPECT_EQ(TDevice::SplitFields(std::string("A") + fs + fs + "B"), (V{"A", "", "B"}));
  EXPECT_EQ(TDevice::SplitFields(""), V{});
  EXPECT_EQ(TDevice::SplitFields(std::string(1, fs)), V{""});
  EXPECT_EQ(TDevice::SplitFields(std::string(1, fs) + "x"), (V{"", "x"}));
}

TEST(DeviceAnswer, ChecksumIsTestedBeforeTheIdentifier) {
  TScriptedDevice device;
  device.SetPacketID(0x21);
  device.SetCommand("00");
  std::string body = Body(0x30, "00", "00");  // wrong identifier too
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswer(body, "00"); }), "Ошибка контрольной суммы ответа");
  EXPECT_EQ(ErrorOf([&] { device.CheckAnswer(body, TDevice::CalcChecksum(body)); }),
            "Ошибка протокола обмена");
}

TEST(DeviceAnswer, MalformedAnswersAreProtocolErrors) {
  TScriptedDevice device;
  device.SetPacketID(0x21);
  device.SetCommand("02");
  auto check = [&](const std::string& body) {
    return ErrorOf([&] { device.CheckAnswer(body, TDevice::CalcChecksum(body)); });
  };
  EXPECT_EQ(check(std::string("\x21") + "02\x03"), "Ошибка протокола обмена") << "short";
  EXPECT_EQ(check(Body(0x21, "03", "00")), "Ошибка протокола обмена") << "command echo";
  EXPECT_EQ(check(Body(0x22, "02", "00")), "Ошибка протокола обмена") << "identifier";
  EXPECT_EQ(check(Body(0x21, "02", "00")), "");
}

// An answer without data has no fields: GetPrinterState would otherwise
// return the drawer's 7.
TEST(DeviceAnswer, AnswerWithoutDataLeavesNoFieldsOfThePreviousOne) {
  TScriptedDevice device;
  device.SetPacketID(0x21);
  device.SetCommand("00");
  device.SetData({"7"});
  std::string body = Body(0x21, "00", "00");
  device.CheckAnswer(body, TDevice::CalcChecksum(body));
  EXPECT_TRUE(device.Data().empty());
  EXPECT_EQ(device.GetDataAsInteger(0), 0) << "a reader must not return another command's value";

  body = Body(0x21, "00", "00",
              "1\x1C\x1C"
              "3\x1C");
  device.CheckAnswer(body, TDevice::CalcChecksum(body));
  EXPECT_EQ(device.Data(), (std::vector<std::string>{"1", "", "3"}));
}

// Whatever pieces a link reads, the parser takes the answer and not a byte
// past it: what follows belongs to the stream, not to this answer.
TEST(DeviceAnswer, TheParserTakesTheAnswerAndNothingPastItInAnyPieces) {
  using TStage = TAnswerParser::TStage;
  const std::string body = Body(0x21, "02", "00", "12\x1C");
  const std::string answer = "\x02" + body + TDevice::CalcChecksum(body);
  const std::string stream = answer + "\x02\x22";  // the start of something else
  for (size_t piece : {size_t(1), size_t(2), size_t(5), stream.size()}) {
    TAnswerParser parser;
    size_t at = 0;
    while (at < stream.size() && parser.Stage() != TStage::asComplete)
      at += parser.Feed(std::string_view(stream).substr(at, piece));
    EXPECT_EQ(at, answer.size()) << "pieces of " << piece;
    EXPECT_EQ(parser.Body(), body) << "pieces of " << piece;
    EXPECT_EQ(parser.Checksum(), TDevice::CalcChecksum(body)) << "pieces of " << piece;
  }
  TAnswerParser stray;
  EXPECT_EQ(stray.Feed("\x06\x02"), 1u) << "one byte decides whether an answer has started";
  EXPECT_EQ(stray.Stage(), TStage::asNoStart);
  EXPECT_EQ(stray.First(), '\x06');
  TAnswerParser endless;
  endless.Feed("\x02" + std::string(FrameCodec::cMaxAnswerSize + 10, 'A'));
  EXPECT_EQ(endless.Stage(), TStage::asOverlong);
  EXPECT_EQ(endless.Body().size(), FrameCodec::cMaxAnswerSize) << "nothing past the cap is kept";
}
