// What only the serial link does: opening the port, the probe with its
// eleven attempts, the purge before every command.
#include <gtest/gtest.h>

#include <grp.h>
#include <pty.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <system_error>
#include <utility>

#include "common/uClock.h"
#include "common/uFd.h"
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

TEST(COMDeviceOpen, AMissingDeviceIsNotConnectedAndNamesThePathTried) {
  setenv("QUARNEL_COM9", "/nonexistent/quarnel-tty", 1);
  TCOMDevice device;
  device.Com().SetPortNumber(9);
  EXPECT_EQ(ErrorOf([&] { device.Enable(); }),
            "Устройство не подключено: /nonexistent/quarnel-tty (COM9, переменная QUARNEL_COM9)");
  unsetenv("QUARNEL_COM9");
}

// Root opens any device, so the opening is done by a child that has become
// nobody; the child's message comes back through a pipe.
TEST(COMDeviceOpen, AForbiddenDeviceNamesItsGroupAndWhatToDo) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to give a device to root:dialout and then open it as nobody";
  const passwd* nobody = getpwnam("nobody");
  const group* dialout = getgrnam("dialout");
  if (nobody == nullptr || dialout == nullptr) GTEST_SKIP() << "no user nobody or group dialout";
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  TFd keepMaster(master), keepSlave(slave);
  ASSERT_EQ(chown(name, 0, dialout->gr_gid), 0);
  ASSERT_EQ(chmod(name, 0660), 0);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    std::string text;
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
      text = "SKIP cannot become nobody: " + std::generic_category().message(errno);
    } else {
      setenv("QUARNEL_COM9", name, 1);
      setenv("XDG_CONFIG_HOME", "/nonexistent/quarnel-config", 1);
      TCOMDevice device;
      device.Com().SetPortNumber(9);
      text = ErrorOf([&] { device.Enable(); });
    }
    (void)!write(pipeFds[1], text.data(), text.size());
    _exit(0);
  }
  close(pipeFds[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (text.rfind("SKIP ", 0) == 0) GTEST_SKIP() << text.substr(5);
  EXPECT_EQ(text, std::string("Нет доступа к порту ") + name +
                      " (COM9, переменная QUARNEL_COM9): устройство открыто только группе "
                      "dialout, а процесс пользователя nobody в неё не входит. Добавьте "
                      "пользователя nobody в группу dialout (sudo usermod -a -G dialout nobody) "
                      "и войдите в систему заново или перезапустите службу 1С");
}

// A device that opens but is no serial line keeps the port-opening message
// with the path and the port number, in Russian, before the system's words.
TEST(COMDeviceOpen, ADeviceThatIsNoSerialPortIsNamedWithItsPortAndReason) {
  const std::string file = ::testing::TempDir() + "quarnel-not-a-port.txt";
  { std::ofstream(file) << "x"; }
  const std::string system = std::generic_category().message(ENOTTY);
  for (const std::string& path : {file, std::string("/dev/null")}) {
    setenv("QUARNEL_COM9", path.c_str(), 1);
    TCOMDevice device;
    device.Com().SetPortNumber(9);
    EXPECT_EQ(ErrorOf([&] { device.Enable(); }),
              "Ошибка открытия порта. " + path +
                  " (COM9, переменная QUARNEL_COM9): устройство не является последовательным "
                  "портом (" +
                  system + ")");
  }
  unsetenv("QUARNEL_COM9");
  std::remove(file.c_str());
}

TEST_F(COMDeviceTest, AProbeRefusedElevenTimesIsAProtocolError) {
  FPeer.SetProbeReply(std::string(1, peer::NAK));
  EXPECT_EQ(ErrorOf([&] { FDevice.Enable(); }), "Ошибка протокола обмена");
  EXPECT_EQ(FPeer.Probes(), 11u);
  EXPECT_EQ(FClock.Slept(), milliseconds(10 * TSerialLink::cProbePauseMs));
}

TEST_F(COMDeviceTest, AnUnansweredProbeReportsThePortsReason) {
  FPeer.SetProbeReply(std::nullopt);
  FDevice.Com().SetTimeouts({20, 0, 20, 50, 100});
  EXPECT_EQ(ErrorOf([&] { FDevice.Enable(); }), "Устройство не отвечает");
  // Nothing answers the probes, so the peer may still be taking in the last
  // ones when the connect has given up.
  ASSERT_TRUE(FPeer.WaitReceived(11));
  EXPECT_EQ(FPeer.Probes(), 11u);
}

TEST_F(COMDeviceTest, TheProbeStopsAtTheFirstAck) {
  FPeer.SetProbeReply(std::nullopt);
  FPeer.ThenBytes(std::string(1, peer::NAK));
  FPeer.ThenBytes("x");
  FPeer.ThenBytes(std::string(1, peer::ACK));
  EXPECT_EQ(ErrorOf([&] { FDevice.Enable(); }), "");
  EXPECT_EQ(FPeer.Probes(), 3u);
  EXPECT_EQ(FClock.Slept(), milliseconds(2 * TSerialLink::cProbePauseMs));
}

// A test clock that runs a step once, at the next pause.
class TPauseStepClock : public TManualClock {
 public:
  std::function<void()> AtNextPause;
  void Sleep(milliseconds ADuration) override {
    TManualClock::Sleep(ADuration);
    if (auto step = std::exchange(AtNextPause, nullptr)) step();
  }
};

// A USB adapter pulled and plugged back in while the connect probes: the
// next try opens the port again by its name, as a command after a failure
// would, instead of spending every try on the device that went away.
TEST(COMDeviceReplug, TheProbeFindsTheDevicePluggedBackIn) {
  TPauseStepClock clock;
  TScopedClock scope(clock);
  const std::string link = ::testing::TempDir() + "quarnel-replug-" + std::to_string(getpid());
  std::remove(link.c_str());
  auto before = std::make_unique<TScriptedPeer>(TScriptedPeer::kPty);
  before->SetProbeReply(std::string(1, peer::NAK));
  TScriptedPeer after(TScriptedPeer::kPty);
  ASSERT_EQ(symlink(before->DevicePath().c_str(), link.c_str()), 0);
  setenv("QUARNEL_COM9", link.c_str(), 1);
  clock.AtNextPause = [&] {
    before.reset();  // the device goes: its side of the line hangs up
    std::remove(link.c_str());
    ASSERT_EQ(symlink(after.DevicePath().c_str(), link.c_str()), 0);
  };
  TCOMDevice device;
  device.Com().SetPortNumber(9);
  EXPECT_EQ(ErrorOf([&] { device.Enable(); }), "");
  EXPECT_EQ(after.Probes(), 1u);
  unsetenv("QUARNEL_COM9");
  std::remove(link.c_str());
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

TEST_F(COMDeviceTest, APortAnotherConnectionHoldsIsInUse) {
  ASSERT_EQ(ErrorOf([&] { FDevice.Enable(); }), "");
  TCOMDevice second;
  second.Com().SetPortNumber(7);
  EXPECT_EQ(ErrorOf([&] { second.Enable(); }),
            "Порт " + FPeer.DevicePath() +
                " (COM7, переменная QUARNEL_COM7) занят: его уже открыла другая программа или "
                "другое подключение");
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
  TConnectionSettings settings;
  settings.FConnectionPassword = "AB";
  FDevice.UseSettings(settings);
  EXPECT_EQ(ErrorOf([&] { FDevice.RunCommand("00", {}, 15000); }),
            "Некорректный пароль связи с ФР");
  EXPECT_TRUE(FPeer.Frames().empty());
}

}  // namespace
