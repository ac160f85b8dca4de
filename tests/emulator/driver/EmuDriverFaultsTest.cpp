// The virtual register's fault switches against the driver's links: each
// fault ends in the driver's own message, and the same register object goes
// on working with the next command.
#include "emulator/driver/EmuDriverFixture.h"
#include "support/PollWait.h"

namespace {

using std::chrono::milliseconds;

class EmuDriverFaults : public EmuDriverTest {
 protected:
  void SetUp() override {
    StartRegister();
    Connect();
    Dev().OpenDay("");
  }
  // The link still carries a command, and the register's shift is open.
  void ExpectUsable(const char* after) {
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(Dev().GetDayState(), 2); }), "")
        << "the link must stay usable after " << after;
  }
};
EMU_DRIVER_LINKS(EmuDriverFaults);

TEST_P(EmuDriverFaults, ARefusedProbe) {
  if (Serial()) {
    // The serial link probes when it opens, up to eleven times. One client
    // at a time: the fixture's link steps aside.
    Dev().Disable();
    Server().Faults().NakProbes(3);
    auto device = NewDevice();
    EXPECT_EQ(ErrorOf([&] { device->Enable(); }), "") << "the fourth probe is acknowledged";
    Server().Faults().NakProbes(-1);
    EXPECT_EQ(ErrorOf([&] { device->Enable(); }), "Ошибка протокола обмена");
    Server().Faults().Clear();
    EXPECT_EQ(ErrorOf([&] { device->Enable(); }), "");
    device.reset();
    Dev().Enable();
  } else {
    // The TCP link probes before every command, once.
    Server().Faults().NakProbes(1);
    EXPECT_EQ(ErrorOf([&] { Dev().GetDayState(); }), "Ошибка протокола обмена");
  }
  ExpectUsable("a refused probe");
}

TEST_P(EmuDriverFaults, ADroppedAnswer) {
  Server().Faults().ArmAnswerFault({TEmuAnswerFaultKind::Drop, 1});
  const int documents = Reg().LastDocumentNumber();
  // Once the report is made, the answer's limit runs out on the test clock:
  // either link awaits the start of an answer for the command's own 15 s
  // (the TCP link's probe before it, for its 10 s receive limit).
  poll_wait::TSilence silence(ClockRef(), gettid(), milliseconds(15000),
                              [&] { return Reg().LastDocumentNumber() > documents; });
  EXPECT_EQ(
      ErrorOf([&] { Dev().RunCommand("59", {"Иванов"}, 15000); }),
      Serial() ? "Ошибка при чтении данных из порта" : "Ошибка при получении ответа от сервера");
  EXPECT_TRUE(silence.Ended()) << "the answer was not awaited for the command's limit";
  EXPECT_EQ(Reg().LastDocumentNumber(), documents + 1) << "the command ran; its answer was lost";
  ExpectUsable("a dropped answer");
}

TEST_P(EmuDriverFaults, ACorruptedChecksum) {
  Server().Faults().ArmAnswerFault({TEmuAnswerFaultKind::CorruptChecksum, 1});
  EXPECT_EQ(ErrorOf([&] { Dev().GetDrawerState(); }), "Ошибка контрольной суммы ответа");
  ExpectUsable("a corrupted checksum");
}

TEST_P(EmuDriverFaults, AWrongPacketIdentifier) {
  Server().Faults().ArmAnswerFault({TEmuAnswerFaultKind::WrongPacketId, 1});
  EXPECT_EQ(ErrorOf([&] { Dev().GetDrawerState(); }), "Ошибка протокола обмена");
  ExpectUsable("a wrong packet identifier");
}

TEST_P(EmuDriverFaults, AConnectionClosedInTheMiddleOfAnAnswer) {
  Server().Faults().ArmAnswerFault({TEmuAnswerFaultKind::CloseMidAnswer, 1});
  // The pty cannot hang up: the answer stops and the next byte never comes
  // (the port's limit for one byte). TCP sees the connection end.
  EXPECT_EQ(ErrorOf([&] { Dev().GetCounterValue(1); }),
            Serial() ? "Устройство не отвечает" : "Ошибка при получении ответа от сервера");
  ExpectUsable("a connection closed mid-answer");
}

TEST_P(EmuDriverFaults, ALostAnswerStartIsResentWithoutRunningTwice) {
  Server().Faults().ArmAnswerFault({TEmuAnswerFaultKind::NakAfterExecute, 1});
  Dev().OpenDocument(4, 1, " ", 1, 0);
  Dev().Encash("", 100000);
  CloseReceipt();
  EXPECT_EQ(Reg().Snapshot().Cash, 1000) << "the deposit was made once";
  EXPECT_EQ(Server().Stats().Replayed, 1u) << "the resent frame got the kept answer";
}

TEST_P(EmuDriverFaults, ElevenLostAnswerStartsAreAProtocolErrorAfterOneRun) {
  for (int nth = 1; nth <= 11; ++nth)
    Server().Faults().ArmAnswerFault({TEmuAnswerFaultKind::NakAfterExecute, nth});
  const int documents = Reg().LastDocumentNumber();
  EXPECT_EQ(ErrorOf([&] { Dev().SettlementsCurrStatusReport(""); }), "Ошибка протокола обмена")
      << "the same frame eleven times, never an answer start";
  EXPECT_EQ(Server().Stats().Replayed, 10u) << "one run, ten resends answered from memory";
  EXPECT_EQ(Reg().LastDocumentNumber(), documents + 1) << "the report was made once";
  ExpectUsable("eleven lost answer starts");
}

TEST_P(EmuDriverFaults, AnExtendedCodeThatCannotBeFetchedLeavesItsPlaceEmpty) {
  Server().Faults().FailCommand({"30", 0x01, std::nullopt, 1});
  Server().Faults().FailCommand({"06", 0x01, std::nullopt, 1});
  EXPECT_EQ(ErrorOf([&] { Dev().OpenDocument(2, 1, "", 1, 0); }),
            "Функция невыполнима при данном статусе ККМ. ");
  EXPECT_EQ(Dev().Command(), "06") << "the last frame was the extended error query";
  ExpectUsable("a failed extended error query");
}

TEST_P(EmuDriverFaults, ADelayedAnswerWithinTheLimitIsTaken) {
  Server().Faults().ArmAnswerFault({TEmuAnswerFaultKind::Delay, 1, milliseconds(30)});
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(Dev().GetDrawerState(), 0); }), "");
}

TEST_P(EmuDriverFaults, AnAnswerIsAwaitedForTheCommandsOwnTimeLimit) {
  // An X report that takes 12 s to print: past the TCP link's 10 s for a
  // byte, within the report's own 88 s. The delay runs on the test clock.
  Server().Faults().ArmAnswerFault({TEmuAnswerFaultKind::Delay, 1, milliseconds(12000)});
  EXPECT_EQ(ErrorOf([&] { Dev().XReport(); }), "") << "the report's answer came within its limit";
  // An ordinary command is not waited for past its own 15 s.
  Server().Faults().ArmAnswerFault({TEmuAnswerFaultKind::Delay, 1, milliseconds(16000)});
  EXPECT_EQ(
      ErrorOf([&] { Dev().GetDrawerState(); }),
      Serial() ? "Ошибка при чтении данных из порта" : "Ошибка при получении ответа от сервера");
  ExpectUsable("an answer later than its limit");
}

TEST_P(EmuDriverFaults, AFailedCommandGivesTheCatalogueMessage) {
  auto& faults = Server().Faults();
  faults.FailCommand({"30", 0x01, 20, 1});
  EXPECT_EQ(ErrorOf([&] { Dev().OpenDocument(2, 1, "", 1, 0); }),
            "Функция невыполнима при данном статусе ККМ. Смена не открыта")
      << "error 01 fetches the extended code with 06";
  faults.FailCommand({"30", 0x01, 92, 1});
  EXPECT_EQ(ErrorOf([&] { Dev().OpenDocument(2, 1, "", 1, 0); }),
            "Функция невыполнима при данном статусе ККМ. Неизвестная ошибка (92)");
  faults.FailCommand({"04", 0x4A, std::nullopt, 1});
  EXPECT_EQ(ErrorOf([&] { Dev().GetPrinterState(); }), "Нет ответа от ФН");
  faults.FailCommand({"81", 0x7A, std::nullopt, 2});
  EXPECT_EQ(ErrorOf([&] { Dev().GetDrawerState(); }), "Неизвестная ошибка - (122)");
  EXPECT_EQ(ErrorOf([&] { Dev().GetDrawerState(); }), "Неизвестная ошибка - (122)");
  EXPECT_EQ(ErrorOf([&] { Dev().GetDrawerState(); }), "") << "two times only";
  faults.FailCommand({"48", 0x0E, std::nullopt, 0});
  Dev().OpenDocument(4, 1, " ", 1, 0);
  EXPECT_EQ(ErrorOf([&] { Dev().Encash("", 10000); }), "Отрицательный результат");
  EXPECT_EQ(Dev().ErrorCode(), 14);
  faults.Clear();
  Dev().Encash("", 10000);
  CloseReceipt();
  ExpectUsable("injected refusals");
}

TEST_P(EmuDriverFaults, ClientsOneAfterAnother) {
  Dev().Disable();
  for (int client = 0; client < 3; ++client) {
    auto device = NewDevice();
    ASSERT_EQ(ErrorOf([&] { device->Enable(); }), "") << "client " << client;
    EXPECT_EQ(device->GetDayState(), 2) << "client " << client;
    device->Disable();
  }
  Dev().Enable();
  ExpectUsable("other clients");
}

}  // namespace
