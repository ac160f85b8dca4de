// What only the TCP link does: the connection with its address rules and
// time limit, the probe before every command, a register that hangs up, and
// answers that arrive in pieces.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "common/uClock.h"
#include "device/uEquipmentErrors.h"
#include "support/ErrorOf.h"
#include "transport/ScriptedPeer.h"
#include "transport/uSocketDevice.h"

namespace {

class TTestSocketDevice : public TSocketDevice {
 public:
  using TSocketDevice::TSocketDevice;
  int Fd() const { return FLink.Socket().Get(); }
  std::string ConnectFailureReason(int AError, bool ATimedOut) const {
    return FLink.ConnectFailureReason(AError, ATimedOut);
  }
  TSocketTimeLimits& Limits() { return FLink.Limits(); }
};

class SocketDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDevice.SetIPAddress("127.0.0.1");
    FDevice.SetTCPPort(FPeer.Port());
  }
  void Enable() {
    ASSERT_EQ(ErrorOf([&] { FDevice.Enable(); }), "");
  }
  std::string Run(const std::string& cmd) {
    return ErrorOf([&] { FDevice.RunCommand(cmd, {}, 15000); });
  }
  // Bounded wait until the driver's socket holds ACount unread bytes.
  bool Queued(int ACount) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int queued = 0;
    while (queued < ACount && std::chrono::steady_clock::now() < end)
      ioctl(FDevice.Fd(), FIONREAD, &queued);
    return queued >= ACount;
  }

  TManualClock FClock;
  TScopedClock FScope{FClock};
  TScriptedPeer FPeer{TScriptedPeer::kTcp};
  TTestSocketDevice FDevice;
};

// A port on which nothing listens.
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

TEST_F(SocketDeviceTest, OnlyADottedAddressIsAccepted) {
  for (const char* address : {"localhost", "255.255.255.255", "127.0.0", "1.2.3.4.5", "", "::1"}) {
    EXPECT_EQ(ErrorOf([&] { FDevice.Connect(address, FPeer.Port()); }),
              "Синтаксическая ошибка в IP-адресе")
        << address;
    EXPECT_FALSE(FDevice.Connected()) << address;
  }
  EXPECT_EQ(ErrorOf([&] { FDevice.Connect(" 127.0.0.1 ", FPeer.Port()); }), "")
      << "blanks around the address are allowed";
  EXPECT_TRUE(FDevice.Connected());
}

// A failed connect names the address and port tried and what happened, in
// the result and in the log: refused, out of time and unreachable each send
// the cashier somewhere else.
TEST_F(SocketDeviceTest, AFailedConnectNamesTheAddressThePortAndTheKind) {
  const int closed = ClosedPort();
  const std::string refused = ErrorOf([&] { FDevice.Connect(" 127.0.0.1 ", closed); });
  EXPECT_EQ(refused,
            "Ошибка при установлении подключения к ФР 127.0.0.1:" + std::to_string(closed) +
                ": в подключении отказано: на этом порту никто не принимает "
                "подключения (проверьте IP-порт и что касса включена)");
  EXPECT_FALSE(FDevice.Connected());
  EXPECT_EQ(ErrorOf([&] { FDevice.Connect("127.0.0.1", 70000); }),
            "Ошибка при установлении подключения к ФР 127.0.0.1:70000: недопустимый TCP-порт, "
            "допустимы номера от 1 до 65535");
  EXPECT_EQ(FDevice.ConnectFailureReason(ENETUNREACH, false),
            "адрес недоступен: нет пути к этой сети или к этому компьютеру (проверьте IP-адрес "
            "и сеть)");
  EXPECT_EQ(FDevice.ConnectFailureReason(EHOSTUNREACH, false),
            FDevice.ConnectFailureReason(ENETUNREACH, false));
  EXPECT_EQ(FDevice.ConnectFailureReason(EACCES, false), std::generic_category().message(EACCES))
      << "a failure of no known kind keeps the system's words";
}

TEST_F(SocketDeviceTest, AConnectionThatIsNeverAcceptedEndsAtTheLimit) {
  // A listener whose backlog is full lets further connection attempts hang.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(fd);
  }
  // The message names the limit that ran out: the one given, not the 5 s.
  FDevice.Limits().Connect = 200;
  EXPECT_EQ(
      ErrorOf([&] { FDevice.Connect("127.0.0.1", ntohs(a.sin_port)); }),
      "Ошибка при установлении подключения к ФР 127.0.0.1:" + std::to_string(ntohs(a.sin_port)) +
          ": касса не ответила за 0,2 с (проверьте IP-адрес, что касса в сети и что "
          "сетевой экран пропускает подключение)");
  EXPECT_FALSE(FDevice.Connected());
  for (int fd : fillers) close(fd);
  close(listener);
}

TEST_F(SocketDeviceTest, EveryCommandIsPrecededByAProbe) {
  Enable();
  FPeer.ThenAnswer();
  FPeer.ThenAnswer();
  ASSERT_EQ(Run("00"), "");
  ASSERT_EQ(Run("04"), "");
  auto received = FPeer.Received();
  ASSERT_EQ(received.size(), 5u);
  const std::string enq(1, peer::ENQ);
  EXPECT_EQ(received[0], enq);
  EXPECT_EQ(received[1], enq);
  EXPECT_EQ(peer::CommandOf(received[2]), "00");
  EXPECT_EQ(received[3], enq);
  EXPECT_EQ(peer::CommandOf(received[4]), "04");
}

TEST_F(SocketDeviceTest, ARefusedProbeSendsNoFrame) {
  Enable();
  FPeer.SetProbeReply(std::string(1, peer::NAK));
  EXPECT_EQ(Run("00"), "Ошибка протокола обмена");
  EXPECT_TRUE(FPeer.Frames().empty());
  EXPECT_EQ(FPeer.Probes(), 2u) << "the probe is not retried";
  FPeer.SetProbeReply(std::string(1, peer::ACK));
  FPeer.ThenAnswer();
  EXPECT_EQ(Run("00"), "");
}

TEST_F(SocketDeviceTest, AHangUpMidAnswerFailsAndTheNextCommandConnectsAgain) {
  Enable();
  FPeer.Then([](const std::string& r) {
    return TPeerReply{{std::string(1, peer::STX) + peer::IdOf(r) + "00001"}, true};
  });
  EXPECT_EQ(Run("00"), "Ошибка при получении ответа от сервера");
  EXPECT_FALSE(FDevice.Connected()) << "a broken connection must not be kept";
  FPeer.ThenAnswer("00", {"9"});
  EXPECT_EQ(Run("00"), "");
  EXPECT_EQ(FDevice.GetDataAsString(0), "9");
  EXPECT_EQ(FPeer.Connections(), 2);
}

// The connection is made again with the address the device keeps, as at
// Enable; one with blanks too long to sit inside the string must still be
// there while it is read.
TEST_F(SocketDeviceTest, AHangUpInsteadOfAnAnswerDoesNotEndTheProcess) {
  FDevice.SetIPAddress("      127.0.0.1      ");
  Enable();
  FPeer.Then([](const std::string&) { return TPeerReply{{}, true}; });
  EXPECT_EQ(Run("00"), "Ошибка при получении ответа от сервера");
  // The dead connection is not written to again: a new one is made.
  FPeer.ThenAnswer();
  EXPECT_EQ(Run("00"), "");
  EXPECT_EQ(FPeer.Connections(), 2);
}

TEST_F(SocketDeviceTest, AChecksumCutShortByAHangUpIsAChecksumError) {
  Enable();
  FPeer.Then([](const std::string& r) {
    std::string answer = peer::AnswerTo(r);
    return TPeerReply{{answer.substr(0, answer.size() - 1)}, true};
  });
  EXPECT_EQ(Run("00"), "Ошибка контрольной суммы ответа");
  FPeer.ThenAnswer();
  EXPECT_EQ(Run("00"), "");
}

TEST_F(SocketDeviceTest, AChecksumCutShortByTheTimeLimitDropsTheConnection) {
  Enable();
  FPeer.Then([](const std::string& r) {
    std::string answer = peer::AnswerTo(r);
    return TPeerReply{{answer.substr(0, answer.size() - 1)}, false, {}, true};
  });
  EXPECT_EQ(Run("00"), "Ошибка контрольной суммы ответа");
  EXPECT_EQ(FPeer.SilentWaits(), std::vector<int64_t>{10000})
      << "the checksum's last byte is awaited for the receive limit";
  EXPECT_FALSE(FDevice.Connected())
      << "the missing byte may still come and would be read as the next answer";
  FPeer.ThenAnswer("00", {"5"});
  EXPECT_EQ(Run("00"), "");
  EXPECT_EQ(FDevice.GetDataAsString(0), "5");
}

TEST_F(SocketDeviceTest, AnEtxInsideTheDataLeavesNothingBehindForTheNextCommand) {
  Enable();
  // The link stops at the first ETX; the rest of the answer is still on its way.
  FPeer.Then([](const std::string& r) {
    std::string body = std::string(1, peer::IdOf(r)) + peer::CommandOf(r) +
                       "001\x03"
                       "2\x1C\x03";
    return TPeerReply{{peer::Wrap(body)}};
  });
  EXPECT_EQ(Run("00"), "Ошибка контрольной суммы ответа");
  FPeer.ThenAnswer("00", {"5"});
  EXPECT_EQ(Run("00"), "") << "the tail of the broken answer was taken for the next one";
  EXPECT_EQ(FDevice.GetDataAsString(0), "5");
}

TEST_F(SocketDeviceTest, ARegisterErrorKeepsTheConnection) {
  Enable();
  FPeer.ThenAnswer("08");
  EXPECT_EQ(Run("00"), "Конец бумаги");
  EXPECT_TRUE(FDevice.Connected());
  FPeer.ThenAnswer();
  EXPECT_EQ(Run("00"), "");
  EXPECT_EQ(FPeer.Connections(), 1);
}

TEST_F(SocketDeviceTest, ChecksumBytesInSeparateSegmentsAreBothCollected) {
  Enable();
  FPeer.Then([](const std::string& r) {
    std::string answer = peer::AnswerTo(r, "00", {"42"});
    return TPeerReply{{answer.substr(0, answer.size() - 1), answer.substr(answer.size() - 1)}};
  });
  EXPECT_EQ(Run("00"), "");
  EXPECT_EQ(FDevice.GetDataAsString(0), "42");
}

TEST_F(SocketDeviceTest, ReceiveBytesWaitsForEveryByte) {
  Enable();
  FPeer.Send("A");
  ASSERT_TRUE(Queued(1));
  FPeer.Send("B", /*whenDrained=*/true);
  std::string bytes;
  EXPECT_EQ(FDevice.ReceiveBytes(2, bytes), 0);
  EXPECT_EQ(bytes, "AB") << "two bytes in separate segments must both be collected";
}

TEST_F(SocketDeviceTest, ReceiveBytesPadsWhatNeverCame) {
  Enable();
  FDevice.Limits().Receive = 50;
  // Only the byte that never comes meets the short limit.
  FPeer.Send("A");
  ASSERT_TRUE(Queued(1));
  std::string bytes;
  EXPECT_EQ(FDevice.ReceiveBytes(2, bytes), 0);
  EXPECT_EQ(bytes, std::string("A\0", 2));
  EXPECT_EQ(FDevice.ReceiveBytes(2, bytes), cReceiveErrorCode);
  EXPECT_EQ(FDevice.ExtResultDescription(), "Ошибка при получении ответа от сервера");
}

TEST_F(SocketDeviceTest, TheCommandTimeLimitIsNotUsed) {
  Enable();
  // A zero limit would end a serial exchange before any answer; here the
  // receive limit alone bounds the wait.
  FPeer.ThenAnswer("00", {"1"});
  EXPECT_EQ(ErrorOf([&] { FDevice.RunCommand("00", {}, 0); }), "");
  EXPECT_EQ(FDevice.GetDataAsString(0), "1");
}

TEST_F(SocketDeviceTest, ACommandWithoutAConnectionFailsToSend) {
  EXPECT_EQ(Run("00"), "Ошибка при отправке данных серверу");
  EXPECT_TRUE(FPeer.Received().empty());
}

}  // namespace
