// The serial port on a real pseudo-terminal pair.
#include "transport/uCommManager.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "common/uClock.h"
#include "common/uFd.h"
#include "transport/ScriptedPeer.h"

namespace {

constexpr int kPort = 7;

class CommTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QUARNEL_COM7", FPeer.DevicePath().c_str(), 1); }
  void TearDown() override { unsetenv("QUARNEL_COM7"); }

  // Opens a TCOM on the pty with short read limits.
  void OpenShort(TComm& com, uint32_t total = 100) {
    com.SetPortNumber(kPort);
    TCommTimeouts t = com.Timeouts();
    t.ReadTotalTimeoutConstant = total;
    com.SetTimeouts(t);
    ASSERT_TRUE(com.Open()) << com.ExtResultDescription();
  }
  // Bounded wait until the port has `count` bytes queued.
  static bool WaitQueued(TComm& com, uint32_t count) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
      if (com.InQueueCount() >= count) return true;
      std::this_thread::yield();
    }
    return false;
  }

  TScriptedPeer FPeer{TScriptedPeer::kPty};
};

TEST(CommSettings, DefaultsOfThePortAndOfTheRegisterPort) {
  TComm comm;
  EXPECT_FALSE(comm.Opened());
  EXPECT_EQ(comm.BaudRate(), br9600);
  EXPECT_EQ(comm.PortNumber(), 1);
  EXPECT_EQ(comm.Timeouts().ReadTotalTimeoutConstant, 100u);
  TCOM com;
  EXPECT_EQ(com.BaudRateAsInt(), 57600);
  EXPECT_EQ(com.Timeouts().ReadIntervalTimeout, 100u);
  EXPECT_EQ(com.Timeouts().ReadTotalTimeoutConstant, 500u) << "one byte may take 500 ms";
}

TEST(CommSettings, OnlyKnownRatesAreAccepted) {
  TCOM com;
  com.SetBaudRateAsInt(128000);
  EXPECT_EQ(com.BaudRateAsInt(), 57600) << "an unknown rate must leave the rate unchanged";
  com.SetBaudRateAsInt(14400);
  EXPECT_EQ(com.BaudRate(), br14400);
  com.SetBaudRateAsInt(115200);
  EXPECT_EQ(com.BaudRateAsInt(), 115200);
}

TEST(CommSettings, PortNumberNamesTheDeviceUnlessTheEnvironmentSaysOtherwise) {
  unsetenv("QUARNEL_COM3");
  EXPECT_EQ(ComPortDeviceName(3), "/dev/ttyS2");
  setenv("QUARNEL_COM3", "/dev/ttyUSB0", 1);
  EXPECT_EQ(ComPortDeviceName(3), "/dev/ttyUSB0");
  EXPECT_EQ(ComPortDeviceName(1), "/dev/ttyS0");
  unsetenv("QUARNEL_COM3");
}

TEST(CommSettings, OpeningAMissingDeviceFailsWithTheSystemReason) {
  setenv("QUARNEL_COM9", "/nonexistent/quarnel-tty", 1);
  TCOM com;
  com.SetPortNumber(9);
  EXPECT_FALSE(com.Open());
  EXPECT_FALSE(com.Opened());
  EXPECT_EQ(com.LastSystemError(), ENOENT);
  EXPECT_EQ(com.ExtResultDescription(),
            "Ошибка открытия порта. /nonexistent/quarnel-tty (COM9, переменная QUARNEL_COM9): " +
                std::generic_category().message(ENOENT));
  // Writing nothing succeeds without touching (or opening) the port.
  EXPECT_TRUE(com.WriteStr(""));
  EXPECT_FALSE(com.Opened());
  // Writing something needs the port and reports why it cannot.
  EXPECT_FALSE(com.WriteStr("x"));
  EXPECT_EQ(com.LastSystemError(), ENOENT);
  unsetenv("QUARNEL_COM9");
}

TEST_F(CommTest, LineSettingsReachTheTerminal) {
  TCOM com;
  com.SetPortNumber(kPort);
  com.SetParity(prOdd);
  com.SetDataBits(7);
  com.SetStopBits(sbTwoStopBits);
  TFlowControl flow;
  flow.FOutCtsFlow = true;
  flow.FXonXoffIn = true;
  com.SetFlowControl(flow);
  com.SetBaudRateAsInt(19200);
  ASSERT_TRUE(com.Open()) << com.ExtResultDescription();
  termios tio{};
  int fd = open(FPeer.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  close(fd);
  // (A pseudo-terminal keeps 8 data bits and no parity whatever it is told;
  // those two are checked on the record the port writes, below.)
  EXPECT_TRUE(tio.c_cflag & CSTOPB) << "two stop bits";
  EXPECT_TRUE(tio.c_cflag & CRTSCTS) << "CTS output flow";
  EXPECT_TRUE(tio.c_iflag & IXOFF) << "XON/XOFF input";
  EXPECT_FALSE(tio.c_iflag & IXON);
  EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO)) << "raw mode";
  EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));
}

class TTermiosComm : public TCOM {
 public:
  termios Settings() const {
    termios tio{};
    FillTermios(tio);
    return tio;
  }
};

TEST(CommSettings, DataBitsAndParityMapOntoTermios) {
  TTermiosComm com;
  EXPECT_EQ(com.Settings().c_cflag & (CSIZE | PARENB), tcflag_t(CS8)) << "8N1 by default";
  com.SetDataBits(7);
  EXPECT_EQ(com.Settings().c_cflag & CSIZE, tcflag_t(CS7));
  com.SetDataBits(5);
  EXPECT_EQ(com.Settings().c_cflag & CSIZE, tcflag_t(CS5));
  const tcflag_t bits = PARENB | PARODD | CMSPAR;
  com.SetParity(prOdd);
  EXPECT_EQ(com.Settings().c_cflag & bits, tcflag_t(PARENB | PARODD));
  EXPECT_TRUE(com.Settings().c_iflag & INPCK) << "a parity check needs input checking";
  com.SetParity(prEven);
  EXPECT_EQ(com.Settings().c_cflag & bits, tcflag_t(PARENB));
  com.SetParity(prMark);
  EXPECT_EQ(com.Settings().c_cflag & bits, tcflag_t(PARENB | PARODD | CMSPAR));
  com.SetParity(prSpace);
  EXPECT_EQ(com.Settings().c_cflag & bits, tcflag_t(PARENB | CMSPAR));
  com.SetStopBits(sbOne5StopBits);
  EXPECT_TRUE(com.Settings().c_cflag & CSTOPB);
  TFlowControl flow;
  flow.FControlRts = rtsHandshake;
  flow.FXonXoffOut = true;
  com.SetFlowControl(flow);
  EXPECT_TRUE(com.Settings().c_cflag & CRTSCTS);
  EXPECT_TRUE(com.Settings().c_iflag & IXON);
  EXPECT_EQ(com.Settings().c_cc[VSTART], 0x11);
  EXPECT_EQ(com.Settings().c_cc[VSTOP], 0x13);
}

TEST_F(CommTest, RatesWithoutATermiosConstantStillOpen) {
  TCOM com;
  com.SetBaudRateAsInt(56000);
  com.SetPortNumber(kPort);
  EXPECT_TRUE(com.Open()) << com.ExtResultDescription();
  EXPECT_EQ(com.LastSystemError(), 0) << "a pty has no modem lines, and that is no failure";
}

TEST_F(CommTest, ThePortIsOpenedForOneUserAtATime) {
  TCOM first, second;
  OpenShort(first);
  second.SetPortNumber(kPort);
  EXPECT_FALSE(second.Open());
  EXPECT_EQ(second.LastSystemError(), EBUSY);
  first.Close();
  EXPECT_TRUE(second.Open()) << second.ExtResultDescription();
}

// The lock keeps out only programs that take it too; the kernel's exclusive
// mode refuses every other open. Root may still open an exclusive terminal,
// so the mode is read back rather than tried.
TEST_F(CommTest, AnOpenPortIsTheKernelsExclusiveUseUntilClosed) {
  const auto exclusive = [&] {
    TFd probe(::open(FPeer.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    int on = -1;
    EXPECT_EQ(ioctl(probe.Get(), TIOCGEXCL, &on), 0) << std::strerror(errno);
    return on;
  };
  TCOM com;
  OpenShort(com);
  EXPECT_EQ(exclusive(), 1) << "an open port must ask the kernel for exclusive use";
  com.Close();
  EXPECT_EQ(exclusive(), 0) << "a closed port must let other programs open it";
}

TEST_F(CommTest, WrittenBytesArriveUnchanged) {
  TCOM com;
  OpenShort(com);
  const std::string bytes("\x0A\x0D\x11\x13\x7F\xFF\x00", 7);
  ASSERT_TRUE(com.WriteStr(bytes));
  ASSERT_TRUE(FPeer.WaitReceived(bytes.size()));
  std::string joined;
  for (auto& r : FPeer.Received()) joined += r;
  EXPECT_EQ(peer::Hex(joined), peer::Hex(bytes)) << "raw mode must not translate any byte";
}

TEST_F(CommTest, ReadStringWaitsForEveryRequestedByte) {
  TCOM com;
  OpenShort(com, 2000);
  FPeer.Send("A");
  ASSERT_TRUE(WaitQueued(com, 1));
  // The second byte leaves only once the port has taken the first one.
  FPeer.Send("B", /*whenDrained=*/true);
  std::string data;
  ASSERT_TRUE(com.ReadString(2, data)) << com.ExtResultDescription();
  EXPECT_EQ(data, "AB") << "a read of two bytes returned after the first";
}

TEST_F(CommTest, ReadStringReturnsWhatCameWithinTheLimits) {
  TCOM com;
  OpenShort(com, 50);
  FPeer.Send("A");
  ASSERT_TRUE(WaitQueued(com, 1));
  std::string data;
  ASSERT_TRUE(com.ReadString(2, data));
  EXPECT_EQ(data, "A");
  ASSERT_TRUE(com.ReadString(2, data));
  EXPECT_EQ(data, "") << "nothing came: an empty, successful read";
}

TEST_F(CommTest, ByteReadsFailWithTheirOwnReasons) {
  TManualClock clock;
  TScopedClock scope(clock);
  TCOM com;
  OpenShort(com, 20);
  uint8_t b = 0;
  EXPECT_FALSE(com.ReadChar(b));
  EXPECT_EQ(com.ExtResultDescription(), "Устройство не отвечает");
  EXPECT_FALSE(com.ReadChar(b, 0));
  EXPECT_EQ(com.ExtResultDescription(), "Ошибка при чтении данных из порта");
  EXPECT_FALSE(com.ReadChar(b, 30));
  EXPECT_EQ(com.ExtResultDescription(), "Ошибка при чтении данных из порта");
  FPeer.Send("\x06");
  ASSERT_TRUE(com.ReadChar(b, 5000)) << com.ExtResultDescription();
  EXPECT_EQ(b, 0x06);
}

TEST_F(CommTest, PurgeDropsWhatWaitsInTheQueue) {
  TCOM com;
  OpenShort(com, 20);
  FPeer.Send("stale");
  ASSERT_TRUE(WaitQueued(com, 5));
  EXPECT_EQ(com.InQueueCount(), 5u);
  ASSERT_TRUE(com.Purge(true));
  EXPECT_EQ(com.InQueueCount(), 0u);
  std::string data;
  ASSERT_TRUE(com.ReadString(5, data));
  EXPECT_EQ(data, "");
}

}  // namespace
