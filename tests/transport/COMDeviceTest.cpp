// What only the serial link does: opening the port, the probe with its
// eleven attempts, the purge before every command.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "common/uClock.h"
#include "support/ErrorOf.h"
#include "transport/ScriptedPeer.h"
#include "transport/uCOMDevice.h"

using std::chrono::milliseconds;

namespace {

class COMDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QUARNEL_COM7", FPeer.DevicePath().c_str(), 1);
    FDevice.Com().SetPortNumber(7);
  }
  void TearDown() override { unsetenv("QUARNEL_COM7"); }

  TManualClock FClock;
  TScopedClock FScope{FClock};
  TScriptedPeer FPeer{TScriptedPeer::kPty};
  TCOMDevice FDevice;
};

TEST(COMDeviceOpen, AMissingDeviceIsNotConnected) {
  setenv("QUARNEL_COM9", "/nonexistent/quarnel-tty", 1);
  TCOMDevice device;
  device.Com().SetPortNumber(9);
  EXPECT_EQ(ErrorOf([&] { device.Enable(); }), "Устройство не подключено");
  unsetenv("QUARNEL_COM9");
}

TEST(COMDeviceOpen, OtherOpenFailuresKeepTheirReason) {
  setenv("QUARNEL_COM9", "/dev/null", 1);
  TCOMDevice device;
  device.Com().SetPortNumber(9);
  EXPECT_EQ(ErrorOf([&] { device.Enable(); }), std::generic_category().message(ENOTTY));
  unsetenv("QUARNEL_COM9");
}

TEST_F(COMDeviceTest, AProbeRefusedElevenTimesIsAProtocolError) {
  FPeer.SetProbeReply(std::string(1, peer::NAK));
  EXPECT_EQ(ErrorOf([&] { FDevice.Enable(); }), "Ошибка протокола обмена");
  EXPECT_EQ(FPeer.Probes(), 11u);
  EXPECT_EQ(FClock.Slept(), milliseconds(10 * TCOMDevice::cProbePauseMs));
}

TEST_F(COMDeviceTest, AnUnansweredProbeReportsThePortsReason) {
  FPeer.SetProbeReply(std::nullopt);
  FDevice.Com().SetTimeouts({20, 0, 20, 50, 100});
  EXPECT_EQ(ErrorOf([&] { FDevice.Enable(); }), "Устройство не отвечает");
  EXPECT_EQ(FPeer.Probes(), 11u);
}

TEST_F(COMDeviceTest, TheProbeStopsAtTheFirstAck) {
  FPeer.SetProbeReply(std::nullopt);
  FPeer.ThenBytes(std::string(1, peer::NAK));
  FPeer.ThenBytes("x");
  FPeer.ThenBytes(std::string(1, peer::ACK));
  EXPECT_EQ(ErrorOf([&] { FDevice.Enable(); }), "");
  EXPECT_EQ(FPeer.Probes(), 3u);
  EXPECT_EQ(FClock.Slept(), milliseconds(2 * TCOMDevice::cProbePauseMs));
}

TEST_F(COMDeviceTest, StaleBytesArePurgedBeforeACommand) {
  ASSERT_EQ(ErrorOf([&] { FDevice.Enable(); }), "");
  FPeer.Send(std::string(1, peer::ACK) + "junk");
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (FDevice.Com().InQueueCount() < 5 && std::chrono::steady_clock::now() < end) {
  }
  ASSERT_EQ(FDevice.Com().InQueueCount(), 5u);
  FPeer.ThenAnswer("00", {"5"});
  EXPECT_EQ(ErrorOf([&] { FDevice.RunCommand("00", {}, 15000); }), "");
  EXPECT_EQ(FDevice.GetDataAsString(0), "5");
  EXPECT_EQ(FPeer.Frames().size(), 1u) << "stale bytes must not cause a resend";
}

TEST_F(COMDeviceTest, DisableClosesThePortAndEnableOpensItAgain) {
  ASSERT_EQ(ErrorOf([&] { FDevice.Enable(); }), "");
  EXPECT_TRUE(FDevice.Com().Opened());
  FDevice.Disable();
  EXPECT_FALSE(FDevice.Com().Opened());
  EXPECT_EQ(ErrorOf([&] { FDevice.Enable(); }), "");
  EXPECT_EQ(FPeer.Probes(), 2u);
}

TEST_F(COMDeviceTest, AShortPasswordSendsNothing) {
  ASSERT_EQ(ErrorOf([&] { FDevice.Enable(); }), "");
  FDevice.SetConnectionPassword("AB");
  EXPECT_EQ(ErrorOf([&] { FDevice.RunCommand("00", {}, 15000); }),
            "Некорректный пароль связи с ФР");
  EXPECT_TRUE(FPeer.Frames().empty());
}

}  // namespace
