// quarnel-host ports on a made-up /dev and /sys whose one USB register is the
// virtual register's pty: listed with its stable name and maker, given a
// number in the user's map, found by the probe.
#include "host/uPortsCommand.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "common/uClock.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/wire/uEmuServer.h"
#include "transport/ScriptedPeer.h"
#include "transport/TempPortMaps.h"
#include "transport/uSerialLink.h"

namespace fs = std::filesystem;

namespace {

class PortsCommandTest : public ::testing::Test {
 protected:
  PortsCommandTest() : FRegister(TEmuRegisterOptions{}), FServer(FRegister, PtyOnly()) {
    FServer.Start();
    SetMachinePortMapPath(FMaps.MachineMap());
    const std::string root = FMaps.Folder();
    FOptions.Roots = {root + "/dev", root + "/sys"};
    const std::string usb = "sys/devices/pci0000:00/usb1/1-1";
    for (const auto& [file, text] : {std::pair{"idVendor", "1fc9"},
                                     {"idProduct", "0083"},
                                     {"manufacturer", "Velmor"},
                                     {"product", "KKT Velmor-01F"},
                                     {"serial", "0001"}})
      TTempPortMaps::Write(root + "/" + usb + "/" + file, std::string(text) + "\n");
    fs::create_directories(root + "/" + usb + "/1-1:1.0");
    FMaps.Link(usb + "/1-1:1.0/driver", "../../../../bus/usb/drivers/cdc_acm");
    FMaps.Link("sys/class/tty/ttyACM0/device", "../../../" + usb.substr(4) + "/1-1:1.0");
    // A legacy port without a UART, a console, and a device this /dev has no node for.
    TTempPortMaps::Write(root + "/sys/class/tty/ttyS0/type", "0\n");
    FMaps.Link("sys/class/tty/ttyS0/device", "../../../devices/platform/serial8250");
    fs::create_directories(root + "/sys/class/tty/tty0");
    FMaps.Link("sys/class/tty/ttyUSB0/device", "../../../" + usb.substr(4) + "/1-1:1.0");
    FAcm = FMaps.Link("dev/ttyACM0", FServer.PtyPath());
    FById = FMaps.Link("dev/serial/by-id/usb-Velmor_KKT_0001-if00", "../../ttyACM0");
  }
  ~PortsCommandTest() override { SetMachinePortMapPath(""); }

  static TEmuServerOptions PtyOnly() {
    TEmuServerOptions options;
    options.Tcp = false;
    options.Pty = true;
    options.Log = [](std::string_view) {};
    return options;
  }
  int Run(const std::vector<std::string>& AArgs) {
    FOut.str("");
    FErr.str("");
    return RunPortsCommand(AArgs, FOut, FErr, FOptions);
  }
  bool Says(const std::string& APart) const { return FOut.str().find(APart) != std::string::npos; }

  TTempPortMaps FMaps;
  TEmuRegister FRegister;
  TEmuServer FServer;
  TPortsOptions FOptions;
  std::string FAcm, FById;
  std::ostringstream FOut, FErr;
};

TEST_F(PortsCommandTest, AUsbRegisterIsListedGivenANumberAndFoundByTheProbe) {
  FMaps.WriteMachine("COM9 /dev/ttyUSB0\nCOM7=/dev/serial/by-id/usb-Gone-if00\n");
  ASSERT_EQ(Run({}), 0) << FErr.str();
  EXPECT_TRUE(Says(FAcm + "  no port number (quarnel-host ports --assign N " + FAcm + ")"))
      << FOut.str();
  EXPECT_TRUE(Says("    stable name  " + FById + "\n"));
  EXPECT_TRUE(Says("    USB          1fc9:0083 Velmor KKT Velmor-01F, serial 0001\n"));
  EXPECT_TRUE(Says("    driver       cdc_acm\n"));
  EXPECT_TRUE(Says("COM7 (" + FMaps.MachineMap() + ", line 2)  /dev/serial/by-id/usb-Gone-if00"))
      << "a port whose device is unplugged must be shown";
  EXPECT_TRUE(Says(FMaps.MachineMap() + ", строка 1: нет знака «=»")) << FOut.str();
  EXPECT_FALSE(Says("ttyS0") || Says("tty0") || Says("ttyUSB0\n")) << FOut.str();

  FMaps.WriteUser("# kept as it is\nCOM3=/dev/ttyS2\n");
  ASSERT_EQ(Run({"--assign", "3", "ttyACM0"}), 0) << FErr.str();
  EXPECT_EQ(TTempPortMaps::Read(FMaps.UserMap()), "# kept as it is\nCOM3=" + FById + "\n")
      << "the stable name, not the name that moves, goes into the map";
  ASSERT_EQ(Run({}), 0);
  EXPECT_TRUE(Says(FAcm + "  COM3 (" + FMaps.UserMap() + ", line 2)\n")) << FOut.str();

  // However the device is named, the probe shows the number that reaches it.
  for (const auto& [probe, shown] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--probe"}, FAcm}, {{"--probe", "ttyACM0"}, FAcm}, {{"--probe", FById}, FById}}) {
    ASSERT_EQ(Run(probe), 0) << FOut.str();
    EXPECT_TRUE(Says("  " + shown + " COM3 (" + FMaps.UserMap() +
                     ", line 2): answers like a register at 57600 bits/s\n"))
        << FOut.str();
  }
}

TEST_F(PortsCommandTest, AssigningRefusesWhatIsNoSerialDeviceAndWarnsOfAMapThatWins) {
  TTempPortMaps::Write(FMaps.Folder() + "/dev/notes", "x");
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--assign", "0", "ttyACM0"}, "\"0\" is no port number 1 to 128"},
           {{"--assign", "3", "ttyACM9"}, "no device at " + FMaps.Folder() + "/dev/ttyACM9"},
           {{"--assign", "3", "notes"}, "notes is not a serial device"},
           {{"--system", "--probe"}, "--system goes with --assign"},
           {{"--probe", "--assign", "3"}, "--probe takes the devices to probe, not --assign"},
       }) {
    EXPECT_EQ(Run(args), 2) << message;
    EXPECT_NE(FErr.str().find(message), std::string::npos) << FErr.str();
  }
  EXPECT_FALSE(fs::exists(FMaps.UserMap()));

  FMaps.WriteUser("COM3=/dev/ttyS2\n");
  ASSERT_EQ(Run({"--assign", "COM3", FAcm, "--system"}), 0) << FErr.str();
  EXPECT_EQ(TTempPortMaps::Read(FMaps.MachineMap()), "COM3=" + FById + "\n");
  EXPECT_TRUE(Says("note: for this user COM3 still opens /dev/ttyS2, from COM3 (" +
                   FMaps.UserMap() + ", line 1)"))
      << FOut.str();
}

// A device probed by its name is reached by no port number, so the message
// for it must not borrow the number the port's settings happen to hold.
TEST_F(PortsCommandTest, AHeldDeviceIsReportedInUseUnderItsOwnName) {
  const int held = ::open(FAcm.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Run({"--probe", FAcm}), 1);
  ::close(held);
  EXPECT_TRUE(
      Says(FAcm + ": Порт " + FAcm + " → " + FServer.PtyPath() + " (указан по имени) занят"))
      << FOut.str();
}

// As the emulator's --link makes it: a path from the current folder, not under /dev.
TEST_F(PortsCommandTest, ARelativePathNamesADeviceFromTheCurrentFolder) {
  const fs::path before = fs::current_path();
  fs::current_path(FMaps.Folder());
  const int status = Run({"--assign", "2", "dev/ttyACM0"});
  fs::current_path(before);
  ASSERT_EQ(status, 0) << FErr.str();
  EXPECT_EQ(TTempPortMaps::Read(FMaps.UserMap()), "COM2=" + FById + "\n");
}

// What the map gets is the device or udev's name for it, never a name that
// carries lines of its own or a link someone may later point elsewhere.
TEST_F(PortsCommandTest, AssigningWritesOnlyTheDeviceItselfOrItsStableName) {
  const std::string evil = FMaps.Link("x\nCOM1=/dev/evil", "/dev/null");
  for (const std::string& word : {evil, std::string("ttyACM0\r"), std::string(" ttyACM0")}) {
    EXPECT_EQ(Run({"--assign", "3", word}), 2);
    EXPECT_NE(FErr.str().find("holds a control character or blanks"), std::string::npos)
        << FErr.str();
  }
  EXPECT_FALSE(fs::exists(FMaps.UserMap()));
  EXPECT_THROW(TPortMap::Assign("", 3, "/dev/x\nCOM1=/dev/evil"), std::invalid_argument);

  // A link in the current folder, as another user could leave it there.
  const fs::path before = fs::current_path();
  fs::current_path(FMaps.Folder());
  FMaps.Link("myport", "/dev/null");
  const int status = Run({"--assign", "2", "myport"});
  fs::current_path(before);
  ASSERT_EQ(status, 0) << FErr.str();
  EXPECT_EQ(TTempPortMaps::Read(FMaps.UserMap()), "COM2=/dev/null\n");
  EXPECT_TRUE(Says("myport leads to /dev/null, which is written")) << FOut.str();
}

// Run as root with another user's XDG_CONFIG_HOME (sudo -E), the map's name
// or a folder above it may be a link to a file of root's.
TEST_F(PortsCommandTest, AssigningNeverWritesThroughALinkNorIntoAnotherUsersFolder) {
  const std::string victim = FMaps.Folder() + "/victim";
  const std::string config = FMaps.ConfigHome(), folder = config + "/quarnel";
  TTempPortMaps::Write(victim, "root's own\n");
  fs::create_directories(folder);
  fs::create_symlink(victim, FMaps.UserMap());
  EXPECT_EQ(Run({"--assign", "3", "ttyACM0"}), 1);
  EXPECT_NE(FErr.str().find(FMaps.UserMap() + " is a symbolic link"), std::string::npos)
      << FErr.str();
  fs::remove(FMaps.UserMap());
  fs::remove(folder);
  fs::create_directories(FMaps.Folder() + "/elsewhere");
  fs::create_symlink(FMaps.Folder() + "/elsewhere", folder);
  EXPECT_EQ(Run({"--assign", "3", "ttyACM0"}), 1);
  EXPECT_NE(FErr.str().find(folder + " is a symbolic link"), std::string::npos) << FErr.str();
  EXPECT_EQ(TTempPortMaps::Read(victim), "root's own\n");
  EXPECT_TRUE(fs::is_empty(FMaps.Folder() + "/elsewhere"));

  fs::remove(folder);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(config.c_str(), 4321, 4321), 0);
    EXPECT_EQ(Run({"--assign", "3", "ttyACM0"}), 1);
    EXPECT_NE(FErr.str().find(config + " belongs to user 4321; as root only"), std::string::npos)
        << FErr.str();
    EXPECT_FALSE(fs::exists(folder));
    ASSERT_EQ(::chown(config.c_str(), 0, 0), 0);
  }
  ASSERT_EQ(Run({"--assign", "3", "ttyACM0"}), 0) << FErr.str();
  EXPECT_EQ(TTempPortMaps::Read(FMaps.UserMap()), "COM3=" + FById + "\n");
  EXPECT_EQ(fs::status(FMaps.UserMap()).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
}

// The command as the program runs it, without an add-in to load.
TEST_F(PortsCommandTest, TheHostProgramProbesANamedDevice) {
  const char* dir = std::getenv("QUARNEL_TEST_BINARY_DIR");
  const std::string command = std::string(dir ? dir : ".") +
                              "/host/quarnel-host --library /nonexistent ports --probe " + FAcm;
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[256];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  EXPECT_EQ(WEXITSTATUS(::pclose(pipe)), 0) << out;
  EXPECT_NE(out.find(FAcm + ": answers like a register at 57600 bits/s"), std::string::npos) << out;
}

// The probe is the connect's: a register that refuses its first tries (busy
// printing, say) is found where the connect would find it, and one that only
// ever refuses gets every try at every rate before it is named.
TEST(PortsProbe, TriesAsOftenAndAsFarApartAsTheConnect) {
  TManualClock clock;
  TScopedClock scope(clock);
  TScriptedPeer slow(TScriptedPeer::kPty);
  slow.SetProbeReply(std::nullopt);
  for (char reply : {peer::NAK, peer::NAK, peer::ACK}) slow.ThenBytes(std::string(1, reply));
  TProbeResult result = ProbeSerialDevice(slow.DevicePath(), {57600});
  EXPECT_EQ(result.Outcome, TProbeOutcome::poRegister) << result.Detail;
  EXPECT_EQ(slow.Probes(), 3u);
  EXPECT_EQ(clock.Slept(), std::chrono::milliseconds(2 * TSerialLink::cProbePauseMs));

  TScriptedPeer refusing(TScriptedPeer::kPty);
  refusing.SetProbeReply(std::string(1, peer::NAK));
  result = ProbeSerialDevice(refusing.DevicePath(), {57600, 9600});
  EXPECT_EQ(result.Outcome, TProbeOutcome::poOtherAnswer);
  EXPECT_EQ(result.Detail, "0x15 at 57600 bits/s");
  EXPECT_EQ(refusing.Probes(), 2u * TSerialLink::cProbeAttempts);
}

// Output that notes, each time it is flushed, how many probes the peer has
// had by then.
class TFlushWitness : public std::stringbuf {
 public:
  explicit TFlushWitness(const TScriptedPeer& APeer) : FPeer(APeer) {}
  std::vector<size_t> ProbesAtFlush;

 protected:
  int sync() override {
    ProbesAtFlush.push_back(FPeer.Probes());
    return 0;
  }

 private:
  const TScriptedPeer& FPeer;
};

// Every rate of a device that never answers ACK takes all the connect's
// tries: each is said, and shown, before its first probe goes out.
TEST(PortsProbe, EachRateIsSaidAsItIsTried) {
  TManualClock clock;
  TScopedClock scope(clock);
  TScriptedPeer refusing(TScriptedPeer::kPty);
  refusing.SetProbeReply(std::string(1, peer::NAK));
  TFlushWitness witness(refusing);
  std::ostream out(&witness);
  std::ostringstream err;
  EXPECT_EQ(RunPortsCommand({"--probe", refusing.DevicePath()}, out, err, {}), 1) << err.str();
  const std::string device = "  " + refusing.DevicePath() + ": ";
  std::string expected;
  std::vector<size_t> probesAtFlush;
  for (size_t i = 0; i < cProbeRates.size(); ++i) {
    expected += device + "trying " + std::to_string(cProbeRates[i]) + " bits/s\n";
    probesAtFlush.push_back(i * TSerialLink::cProbeAttempts);
  }
  expected += device + "answers, but not like a register (0x15 at 57600 bits/s)\n";
  const std::string text = witness.str();
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  EXPECT_EQ(witness.ProbesAtFlush, probesAtFlush)
      << "each rate's line must be out before its probes and after the rate before";
}

}  // namespace
