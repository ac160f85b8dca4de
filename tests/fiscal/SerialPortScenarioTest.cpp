// A USB register reached by a port number through the user's port map, with
// no variable naming its device: the pty of the virtual register stands in
// for /dev/ttyACM0 behind a stable by-id name.
#include <gtest/gtest.h>

#include <cstdlib>

#include "fiscal/EmuHostFixture.h"
#include "transport/TempPortMaps.h"

namespace {

class SerialPortScenarioTest : public EmuHostTest {
 protected:
  SerialPortScenarioTest() { ::unsetenv("QUARNEL_COM3"); }
  TTempPortMaps FMaps;
};

TEST_P(SerialPortScenarioTest, AMappedUsbRegisterConnectsAsCom3) {
  const std::string acm = FMaps.Link("dev/ttyACM0", Bench().Server().PtyPath());
  const std::string byId = FMaps.Link("dev/serial/by-id/usb-Velmor_KKT_0001-if00", acm);
  FMaps.WriteUser("# the shop's register\nCOM3=" + byId + "\n");
  const std::string id = Connect({{"PortNumber", "3"}});
  ASSERT_FALSE(id.empty());
  EXPECT_TRUE(Host.Call("GetLineLength", {id, THostArg::Empty()}).Bool()) << LastError().Text;
  EXPECT_TRUE(Host.Call("DisconnectEquipment", {id}).Bool());

  // Unplugged: the stable name leads nowhere, and the message says which
  // name was tried and which line of which map chose it.
  std::filesystem::remove(acm);
  TCallResult r =
      Host.Call("ConnectEquipment", {THostArg::Empty(), THostArg::Empty(),
                                     Bench().Parameters(THostLink::Serial, {{"PortNumber", "3"}})});
  EXPECT_FALSE(r.Bool());
  EXPECT_EQ(LastError().Text,
            "Устройство не подключено: " + byId + " (COM3, " + FMaps.UserMap() + ", строка 2)");
}

INSTANTIATE_TEST_SUITE_P(Links, SerialPortScenarioTest, ::testing::Values(THostLink::Serial),
                         HostLinkName);

}  // namespace
