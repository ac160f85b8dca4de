// Which device a port number opens: the variable, the user's map, the
// machine's map, the default; and what becomes of lines a map cannot use.
#include "transport/uPortMap.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "support/ErrorOf.h"
#include "transport/TempPortMaps.h"
#include "transport/uCOMDevice.h"

namespace {

class PortMapTest : public ::testing::Test {
 protected:
  PortMapTest() {
    ::unsetenv("QUARNEL_COM3");
    SetMachinePortMapPath(FMaps.MachineMap());
  }
  ~PortMapTest() override {
    ::unsetenv("QUARNEL_COM3");
    SetMachinePortMapPath("");
  }
  TTempPortMaps FMaps;
};

TEST_F(PortMapTest, TheVariableWinsThenTheUsersMapThenTheMachinesThenTheDefault) {
  EXPECT_EQ(LookUpComPort(3).Device, "/dev/ttyS2") << "no map: the port's own device";
  FMaps.WriteMachine("# the shop's register\nCOM3=/dev/serial/by-id/machine\n");
  EXPECT_EQ(LookUpComPort(3).Device, "/dev/serial/by-id/machine");
  FMaps.WriteUser("COM1=/dev/ttyUSB1\n  com3 = /dev/serial/by-id/user  \n");
  TPortLookup user = LookUpComPort(3);
  EXPECT_EQ(user.Device, "/dev/serial/by-id/user") << "the user's map must win over the machine's";
  EXPECT_EQ(user.OriginText(), "COM3, " + FMaps.UserMap() + ", строка 2");
  EXPECT_EQ(LookUpComPort(4).Device, "/dev/ttyS3") << "a port no map names keeps its default";
  ::setenv("QUARNEL_COM3", "/dev/ttyACM7", 1);
  EXPECT_EQ(LookUpComPort(3).Device, "/dev/ttyACM7") << "the variable must win over both maps";
  EXPECT_EQ(LookUpComPort(3).OriginText(), "COM3, переменная QUARNEL_COM3");
  EXPECT_TRUE(LookUpComPort(3).Problems.empty());
}

TEST_F(PortMapTest, XdgConfigHomeMovesTheUsersMapUnlessItIsRelative) {
  FMaps.WriteUser("COM3=/dev/home-map\n");
  const std::string xdgMap = FMaps.Folder() + "/xdg/quarnel/ports.conf";
  TTempPortMaps::Write(xdgMap, "COM3=/dev/xdg-map\n");
  ::setenv("XDG_CONFIG_HOME", (FMaps.Folder() + "/xdg").c_str(), 1);
  EXPECT_EQ(LookUpComPort(3).Device, "/dev/xdg-map");
  EXPECT_EQ(LookUpComPort(3).OriginText(), "COM3, " + xdgMap + ", строка 1");
  ::setenv("XDG_CONFIG_HOME", "xdg", 1);
  EXPECT_EQ(LookUpComPort(3).Device, "/dev/home-map") << "a relative folder is no folder";
}

TEST_F(PortMapTest, EveryLineTheMapCannotUseIsAProblemWithItsLine) {
  const TPortMap map = TPortMap::Parse(
      "COM1=/dev/serial/by-id/usb-A#1=x\r\n"  // "#" and "=" belong to udev's names
      "COM2 /dev/ttyUSB0\n"
      "\n"
      "COM0=/dev/x\n"
      "COM129=/dev/x\n"
      "LPT1=/dev/x\n"
      "COM4=\n"
      "COM5=ttyUSB0\n"
      "COM1=/dev/other\n"
      "   # a comment\n"
      "COM6=/dev/ttyACM0",
      "/m");
  ASSERT_EQ(map.Entries().size(), 2u);
  EXPECT_EQ(map.Find(1)->Device, "/dev/serial/by-id/usb-A#1=x");
  EXPECT_EQ(map.Find(6)->Line, 11) << "a line after broken ones is still read";
  std::vector<std::string> texts;
  for (const TPortMapProblem& p : map.Problems()) texts.push_back(p.Text());
  const std::string at = "Ошибка в файле сопоставления портов /m, строка ";
  EXPECT_EQ(texts, (std::vector<std::string>{
                       at + "2: нет знака «=» между портом и устройством",
                       at + "4: «COM0» — не номер порта: ожидается COM1…COM128",
                       at + "5: «COM129» — не номер порта: ожидается COM1…COM128",
                       at + "6: «LPT1» — не номер порта: ожидается COM1…COM128",
                       at + "7: не указано устройство",
                       at + "8: устройство «ttyUSB0» указано не полным путём от «/»",
                       at + "9: порт COM1 уже назначен в строке 1",
                   }));
}

TEST_F(PortMapTest, AMapThatIsNoFileIsReportedAndNeverWaitedOn) {
  std::filesystem::create_directories(std::filesystem::path(FMaps.UserMap()).parent_path());
  ASSERT_EQ(::mkfifo(FMaps.UserMap().c_str(), 0600), 0);
  std::filesystem::create_directories(FMaps.MachineMap());
  const TPortLookup lookup = LookUpComPort(3);
  EXPECT_EQ(lookup.Device, "/dev/ttyS2");
  ASSERT_EQ(lookup.Problems.size(), 2u);
  EXPECT_EQ(lookup.Problems[0].Text(), "Не удалось прочитать файл сопоставления портов " +
                                           FMaps.MachineMap() + ": это не обычный файл");
  EXPECT_EQ(lookup.Problems[1].File, FMaps.UserMap());
}

TEST_F(PortMapTest, AFailedConnectNamesTheBrokenLineThatMayHaveMeantThisPort) {
  FMaps.WriteMachine("COM3=/nonexistent/ttyACM9\n");
  FMaps.WriteUser("# mine\nCOM3 → /dev/ttyACM0\n");
  TCOMDevice device;
  device.Com().SetPortNumber(3);
  EXPECT_EQ(ErrorOf([&] { device.Enable(); }),
            "Устройство не подключено: /nonexistent/ttyACM9 (COM3, " + FMaps.MachineMap() +
                ", строка 1). Ошибка в файле сопоставления портов " + FMaps.UserMap() +
                ", строка 2: нет знака «=» между портом и устройством");
}

TEST(PortMapAssign, RewritesThePortsLineAndKeepsEveryOtherLine) {
  const std::string text =
      "# registers\nCOM1=/dev/a\nCOM3=/dev/old # kept?\nbroken\nCOM3=/dev/dup\n";
  EXPECT_EQ(TPortMap::Assign(text, 3, "/dev/serial/by-id/new"),
            "# registers\nCOM1=/dev/a\nCOM3=/dev/serial/by-id/new\nbroken\n");
  EXPECT_EQ(TPortMap::Assign("# only a comment", 2, "/dev/b"), "# only a comment\nCOM2=/dev/b\n");
  EXPECT_EQ(TPortMap::Assign("COM2 = relative\r\n", 2, "/dev/b"), "COM2=/dev/b\n")
      << "a broken line for the same port is the one to mend";
}

}  // namespace
