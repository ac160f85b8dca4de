// Both register links against a scripted register on a real link: a
// pseudo-terminal for the serial link, a loopback connection for TCP. Every
// malformed answer must end in its message within its time limit and leave
// the link usable for the next command.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "common/Common.Log.h"
#include "common/uClock.h"
#include "support/ErrorOf.h"
#include "transport/ScriptedPeer.h"
#include "transport/uCOMDevice.h"
#include "transport/uSocketDevice.h"

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

enum class TLinkKind { Serial, Tcp };

// Reaches the time limits of the TCP link.
class TTestSocketDevice : public TSocketDevice {
 public:
  using TSocketDevice::TSocketDevice;
  TSocketTimeLimits& Limits() { return FLink.Limits(); }
};

class LinkTest : public ::testing::TestWithParam<TLinkKind> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quarnel-link-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FDir = pattern;
    setenv("QUARNEL_DATA_DIR", FDir.c_str(), 1);
    SetLogName("quarnel");
    SetLogMode(lmAll);
    if (Serial()) {
      FPeer = std::make_unique<TScriptedPeer>(TScriptedPeer::kPty);
      setenv("QUARNEL_COM7", FPeer->DevicePath().c_str(), 1);
      auto device = std::make_unique<TCOMDevice>();
      device->Com().SetPortNumber(7);
      FCom = device.get();
      FDevice = std::move(device);
    } else {
      FPeer = std::make_unique<TScriptedPeer>(TScriptedPeer::kTcp);
      auto device = std::make_unique<TTestSocketDevice>();
      device->SetIPAddress("127.0.0.1");
      device->SetTCPPort(FPeer->Port());
      FSocket = device.get();
      FDevice = std::move(device);
    }
    ASSERT_NO_THROW(FDevice->Enable());
  }

  void TearDown() override {
    FDevice.reset();
    FPeer.reset();
    SetLogMode(lmOff);
    unsetenv("QUARNEL_COM7");
    fs::remove_all(FDir);
  }

  bool Serial() const { return GetParam() == TLinkKind::Serial; }
  std::string Source() const { return Serial() ? "TCOMDevice" : "TSocketDevice"; }

  // Runs a command; the error text, or "" when it succeeded.
  std::string Run(std::string cmd, TDeviceArgs args = {}) {
    try {
      FDevice->RunCommand(cmd, args, FFirstByteLimit);
      return "";
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  std::string NoAnswerMessage() const {
    return Serial() ? "Ошибка при чтении данных из порта"
                    : "Ошибка при получении ответа от сервера";
  }

  void NormalLimits() {
    FFirstByteLimit = 15000;
    if (Serial()) {
      FCom->Com().SetTimeouts(TCOM().Timeouts());
    } else {
      FSocket->Limits() = TSocketTimeLimits();
    }
  }

  // The next command goes through and its field arrives.
  void ExpectUsable(const std::string& after) {
    NormalLimits();
    FPeer->ThenAnswer("00", {"77"});
    EXPECT_EQ(Run("00"), "") << "the link is not usable after: " << after;
    EXPECT_EQ(FDevice->GetDataAsString(0), "77") << "after: " << after;
  }

  std::string Log() const {
    std::ifstream in(GetLogFileName(false), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool LogHas(const std::string& level, const std::string& text) const {
    return Log().find("\t" + level + "\t" + Source() + ": \t" + text + "\r\n") != std::string::npos;
  }

  std::string FDir;
  TManualClock FClock;
  TScopedClock FScope{FClock};
  std::unique_ptr<TScriptedPeer> FPeer;
  std::unique_ptr<TDevice> FDevice;
  TCOMDevice* FCom = nullptr;
  TTestSocketDevice* FSocket = nullptr;
  int FFirstByteLimit = 15000;
};

TEST_P(LinkTest, FramesOnTheWireAreByteExact) {
  FPeer->ThenAnswer();
  ASSERT_EQ(Run("00"), "");
  FPeer->ThenAnswer();
  ASSERT_EQ(Run("02", {"1", "2"}), "");
  auto frames = FPeer->Frames();
  ASSERT_EQ(frames.size(), 2u);
  // STX, "KVNT", identifier 21, "00", ETX, checksum of 4B^56^4E^54^21^30^30^03 = 25.
  EXPECT_EQ(peer::Hex(frames[0]), "02 4B 56 4E 54 21 30 30 03 32 35 ");
  EXPECT_EQ(peer::Hex(frames[1]),
            "02 4B 56 4E 54 22 30 32 31 1C 32 03 " + peer::Hex(peer::Checksum("KVNT\x22"
                                                                              "021\x1C"
                                                                              "2\x03")));
}

// An answer without data has no fields: the previous command's would be
// read back as its own.
TEST_P(LinkTest, AnswerFieldsBecomeTheDataAndAnEmptyAnswerClearsThem) {
  FPeer->ThenAnswer("00", {"12", "", "ab"});
  ASSERT_EQ(Run("01", {"1"}), "");
  EXPECT_EQ(FDevice->Data(), (std::vector<std::string>{"12", "", "ab"}));
  FPeer->ThenAnswer("00");
  ASSERT_EQ(Run("00"), "");
  EXPECT_TRUE(FDevice->Data().empty()) << "an answer without data has no fields";
}

TEST_P(LinkTest, ARegisterThatAnswersAckForeverGetsElevenFrames) {
  FPeer->SetFallback([](const std::string&) { return TPeerReply{{std::string(1, peer::ACK)}}; });
  EXPECT_EQ(Run("00"), "Ошибка протокола обмена");
  auto frames = FPeer->Frames();
  ASSERT_EQ(frames.size(), 11u);
  for (auto& f : frames) EXPECT_EQ(f, frames[0]) << "a resend must repeat the same frame";
  int pause = Serial() ? TSerialLink::cResendPauseMs : TTcpLink::cResendPauseMs;
  EXPECT_EQ(FClock.Slept(), milliseconds(10 * pause));
  ExpectUsable("eleven ACKs");
}

TEST_P(LinkTest, TheChecksumIsCheckedBeforeThePacketIdentifier) {
  FPeer->Then([](const std::string& r) {
    std::string body = std::string(1, char(peer::IdOf(r) + 1)) + peer::CommandOf(r) + "00\x03";
    return TPeerReply{{peer::STX + body + "00"}};
  });
  EXPECT_EQ(Run("00"), "Ошибка контрольной суммы ответа");
  ExpectUsable("a wrong checksum");
}

TEST_P(LinkTest, MalformedAnswersAreProtocolErrors) {
  struct TCase {
    const char* What;
    std::function<std::string(const std::string&)> Body;  // identifier .. ETX
  };
  const TCase cases[] = {
      {"a short answer",
       [](const std::string& r) { return std::string(1, peer::IdOf(r)) + "0\x03"; }},
      {"a wrong packet identifier",
       [](const std::string& r) {
         return std::string(1, char(peer::IdOf(r) + 1)) + peer::CommandOf(r) + "00\x03";
       }},
      {"a wrong command echo",
       [](const std::string& r) { return std::string(1, peer::IdOf(r)) + "01" + "00\x03"; }},
      {"a non-hexadecimal error field",
       [](const std::string& r) {
         return std::string(1, peer::IdOf(r)) + peer::CommandOf(r) + "ZZ\x03";
       }},
  };
  for (const TCase& c : cases) {
    auto body = c.Body;
    FPeer->Then([body](const std::string& r) { return TPeerReply{{peer::Wrap(body(r))}}; });
    EXPECT_EQ(Run("00"), "Ошибка протокола обмена") << c.What;
    ExpectUsable(c.What);
  }
}

TEST_P(LinkTest, ErrorBytesAreReadInEitherLetterCase) {
  for (const char* field : {"0a", "0A"}) {
    FPeer->ThenAnswer(field);
    EXPECT_EQ(Run("00"),
              "Текущая смена больше 24 часов. Установка даты времени больше чем на 24 часа.")
        << field;
    EXPECT_EQ(FDevice->ErrorCode(), 0x0A);
  }
  FPeer->ThenAnswer("7A");
  EXPECT_EQ(Run("00"), "Неизвестная ошибка - (122)");
  ExpectUsable("register errors");
  EXPECT_EQ(FDevice->ErrorCode(), 0);
}

TEST_P(LinkTest, ErrorOneFetchesTheExtendedDescriptionOverTheSameLink) {
  FPeer->ThenAnswer("01");
  FPeer->ThenAnswer("00", {"1", "20"});
  EXPECT_EQ(Run("00"), "Функция невыполнима при данном статусе ККМ. Смена не открыта");
  auto frames = FPeer->Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(peer::CommandOf(frames[1]), "06");
  EXPECT_EQ(frames[1].substr(8, 1), "1") << "command 06 asks with the argument 1";
  ExpectUsable("error 01");
}

TEST_P(LinkTest, ARegisterThatNeverAnswersEndsWithinTheLimit) {
  FPeer->ThenSilence();
  EXPECT_EQ(Run("00"), NoAnswerMessage());
  EXPECT_EQ(FPeer->SilentWaits(), std::vector<int64_t>{FFirstByteLimit})
      << "the start of the answer is awaited for the command's own limit";
  EXPECT_EQ(FPeer->Frames().size(), 1u) << "a silent register gets no resend";
  EXPECT_TRUE(LogHas("ERROR", "<-")) << Log();
  ExpectUsable("a silent register");
}

TEST_P(LinkTest, ARegisterThatStopsMidAnswerEndsWithinTheLimit) {
  FPeer->Then([](const std::string& r) {
    return TPeerReply{
        {std::string(1, peer::STX) + peer::IdOf(r) + peer::CommandOf(r) + "0012"}, false, {}, true};
  });
  EXPECT_EQ(Run("00"),
            Serial() ? "Устройство не отвечает" : "Ошибка при получении ответа от сервера");
  // The port's limit for one byte (500 ms) or the socket's receive limit.
  EXPECT_EQ(FPeer->SilentWaits(), std::vector<int64_t>{Serial() ? 500 : 10000})
      << "a byte within the answer is awaited for the link's limit for one byte";
  // What did come is in the log, marked as a failure.
  EXPECT_TRUE(LogHas("ERROR", "<- 21 30 30 30 30 31 32")) << Log();
  ExpectUsable("an answer cut short");
}

TEST_P(LinkTest, APauseWithinAnAnswerIsBoundedByTheByteLimitNotTheCommandLimit) {
  // The start of an answer may take the command's own limit; a register that
  // stops for 12 s after it has started is gone on either link.
  FPeer->Then([](const std::string& r) {
    std::string answer = peer::AnswerTo(r, "00", {"1"});
    return TPeerReply{{answer.substr(0, 4), answer.substr(4)}, false, milliseconds(12000)};
  });
  EXPECT_EQ(ErrorOf([&] { FDevice->RunCommand("20", {}, 88000); }),
            Serial() ? "Устройство не отвечает" : "Ошибка при получении ответа от сервера");
  EXPECT_TRUE(LogHas("ERROR", "<- 21 32 30")) << "what came before the pause: " << Log();
  ExpectUsable("a pause within an answer");
}

TEST_P(LinkTest, AnAnswerThatDripsInEndsAtTheCommandLimit) {
  // Every 6 s a byte, well within each byte's own wait (10 s on either link
  // here), and the last one 18 s after the answer's first byte: past the
  // command's own limit, whether it ends the body or the checksum.
  const milliseconds drip(6000);
  const int limit = 15000;
  const size_t drips = 3;
  for (bool inChecksum : {false, true}) {
    if (Serial()) FCom->Com().SetTimeouts({10000, 0, 10000, 50, 100});
    FPeer->Then([=](const std::string& r) {
      const std::string answer = peer::AnswerTo(r, "00", {"12345"});
      const size_t first = inChecksum ? answer.size() - drips : 4;
      TPeerReply reply{{answer.substr(0, first)}, false, drip};
      for (size_t i = 0; i + 1 < drips; ++i) reply.Chunks.push_back(answer.substr(first + i, 1));
      reply.Chunks.push_back(answer.substr(first + drips - 1));
      return reply;
    });
    EXPECT_EQ(ErrorOf([&] { FDevice->RunCommand("00", {}, limit); }),
              Serial() ? "Устройство не отвечает" : "Ошибка при получении ответа от сервера")
        << (inChecksum ? "the checksum" : "the body") << " came after the limit";
    ExpectUsable("an answer that dripped in past its limit");
  }
}

TEST_P(LinkTest, AnAnswerWithoutEtxIsCutOffAtItsCap) {
  // STX and exactly the cap: the register sends nothing after what the link reads.
  FPeer->ThenBytes(std::string(1, peer::STX) + std::string(64 * 1024, 'A'));
  EXPECT_EQ(Run("00"), "Ошибка протокола обмена");
  ExpectUsable("an endless answer");
}

TEST_P(LinkTest, TheLogShowsEveryByteWithItsDirection) {
  FPeer->ThenAnswer();
  ASSERT_EQ(Run("00"), "");
  EXPECT_TRUE(LogHas("INFO", "-> 05")) << Log();
  EXPECT_TRUE(LogHas("INFO", "<- 06")) << Log();
  EXPECT_TRUE(LogHas("INFO", "-> 02 4B 56 4E 54 21 30 30 03 32 35")) << Log();
  EXPECT_TRUE(LogHas("INFO", "<- 02")) << Log();
  EXPECT_TRUE(LogHas("INFO", "<- 21 30 30 30 30 03")) << Log();
  EXPECT_TRUE(LogHas("INFO", "<- 32 32")) << Log();
}

TEST_P(LinkTest, AControlByteInAnArgumentOrThePasswordNeverGoesOut) {
  const size_t before = FPeer->Received().size();
  // A label's ETX and two checksum digits, then a drawer command of its own.
  EXPECT_EQ(Run("41", {"2", "0", "80", "2",
                       "4600\x03"
                       "25\x02KVNT!80\x03"
                       "06"}),
            "Ошибка входных параметров команды. Недопустимый управляющий символ в аргументе 5 "
            "команды 41");
  TConnectionSettings settings;
  settings.FConnectionPassword = "K\x1CNT";
  FDevice->UseSettings(settings);
  EXPECT_EQ(Run("00"),
            "Ошибка входных параметров команды. Недопустимый управляющий символ в пароле связи");
  EXPECT_EQ(FPeer->Received().size(), before) << "not a byte, not even a probe";
  settings.FConnectionPassword = "";
  ExpectUsable("a refused frame");
}

TEST_P(LinkTest, CatalogueCommandsRunOverTheLink) {
  FPeer->ThenAnswer();
  ASSERT_NO_THROW(FDevice->StartSeans());
  FPeer->ThenAnswer("00", {"0", "4", "0"});
  EXPECT_EQ(FDevice->GetDayState(), 2);
  auto frames = FPeer->Frames();
  ASSERT_EQ(frames.size(), 2u);
  // Start of work with the clock's date and time: 05.03.2024 10:00:00.
  EXPECT_EQ(frames[0].substr(6, frames[0].size() - 9),
            "10050324\x1C"
            "100000");
  EXPECT_EQ(peer::CommandOf(frames[1]), "00");
}

INSTANTIATE_TEST_SUITE_P(BothLinks, LinkTest, ::testing::Values(TLinkKind::Serial, TLinkKind::Tcp),
                         [](const auto& info) {
                           return info.param == TLinkKind::Serial ? "Serial" : "Tcp";
                         });

}  // namespace
