// Connections through the real library against the virtual register over TCP
// and over a pty: connecting in order, several connections on one driver
// object, disconnecting, the equipment test and a connect that fails midway.
#include <gtest/gtest.h>

#include "fiscal/EmuHostFixture.h"

namespace {

const std::vector<std::string> kConnectSequence = {"11", "10", "02", "78"};

class ConnectionScenarioTest : public EmuHostTest {};

TEST_P(ConnectionScenarioTest, ConnectsInOrderAndMeasuresTheFontsLine) {
  const std::string id = Connect({{"FontNumber", "1"}});
  ASSERT_EQ(id.size(), 36u);
  const std::vector<TEmuCall> calls = Bench().Commands();
  ASSERT_EQ(Bench().CommandCodes(), kConnectSequence)
      << "print byte, start of work, line length, data format";
  EXPECT_EQ(calls[0].Args, (std::vector<std::string>{"1", "0"}));
  EXPECT_EQ(calls[2].Args, (std::vector<std::string>{"18", "1"})) << "the chosen font's width";
  TCallResult r = Host.Call("GetLineLength", {id, THostArg::Empty()});
  ASSERT_TRUE(r.Bool()) << LastError().Text;
  EXPECT_GT(r.ParamInt(1), 0);
  EXPECT_TRUE(Host.Call("DisconnectEquipment", {id}).Bool());
}

TEST_P(ConnectionScenarioTest, UnknownAndReadOnlyParametersAreIgnored) {
  const std::string id = Connect({{"Colour", "blue"}, {"Device", "x"}});
  EXPECT_FALSE(id.empty());
}

TEST_P(ConnectionScenarioTest, AConnectThatFailsMidwayLeavesNothingBehind) {
  // The register refuses the frames of a wrong password: the link opened,
  // the first command failed, and the half-made connection must go.
  TCallResult r = Host.Call("ConnectEquipment",
                            {THostArg::Empty(), THostArg::Empty(),
                             Bench().Parameters(GetParam(), {{"ConnectionPassword", "ABCD"}})});
  EXPECT_FALSE(r.Bool());
  EXPECT_EQ(r.Params[0].vt, VTYPE_EMPTY);
  EXPECT_FALSE(LastError().Text.empty());
  // Nothing holds the link: a good connect over the same link works at once.
  const std::string id = Connect();
  EXPECT_TRUE(Host.Call("GetLineLength", {id, THostArg::Empty()}).Bool()) << LastError().Text;
}

TEST_P(ConnectionScenarioTest, DisconnectedIdentifiersAreGoneAndMayBeDisconnectedAgain) {
  const std::string first = Connect();
  EXPECT_TRUE(Host.Call("DisconnectEquipment", {first}).Bool());
  THostError e = Failure("GetLineLength", {first, THostArg::Empty()});
  EXPECT_EQ(e.Text, "Экземпляр устройства c идентификатором " + first +
                        " не существует или уже был отключен");
  EXPECT_TRUE(Host.Call("DisconnectEquipment", {first}).Bool()) << "a second disconnect is silent";
  // The link was really closed: the register takes a new connection at once.
  const std::string second = Connect();
  EXPECT_NE(first, second);
  EXPECT_TRUE(Host.Call("GetLineLength", {second, THostArg::Empty()}).Bool()) << LastError().Text;
}

TEST_P(ConnectionScenarioTest, EquipmentTestPrintsTheDescriptionAndDisconnects) {
  TCallResult r = Host.Call("EquipmentTest", {THostArg::Empty(), Bench().Parameters(GetParam()),
                                              THostArg::Empty(), THostArg::Empty()});
  ASSERT_TRUE(r.Bool()) << LastError().Text;
  EXPECT_EQ(r.ParamText(2), "Драйвер ККТ онлайн Велмор 1С:Совместимо для 1С:БПО NativeAPI");
  EXPECT_EQ(r.ParamText(3), "");
  EXPECT_NE(Bench().Tape().find("Драйвер ККТ онлайн Велмор"), std::string::npos) << Bench().Tape();
  const std::vector<std::string> codes = Bench().CommandCodes();
  ASSERT_GE(codes.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(codes.begin() + 4, codes.begin() + 5),
            std::vector<std::string>{"30"});
  EXPECT_EQ(codes.back(), "31");
}

TEST_P(ConnectionScenarioTest, EquipmentTestWithoutPrintingSendsNoDocument) {
  TCallResult r =
      Host.Call("EquipmentTest",
                {THostArg::Empty(), Bench().Parameters(GetParam(), {{"EnablePrinting", "2"}}),
                 THostArg::Empty(), THostArg::Empty()});
  ASSERT_TRUE(r.Bool()) << LastError().Text;
  EXPECT_EQ(Bench().CommandCodes(), kConnectSequence);
  EXPECT_EQ(Bench().Tape(), "");
}

EMU_HOST_LINKS(ConnectionScenarioTest);

// One driver object, two registers: one over TCP, one over a pty.
TEST(TwoLinksScenarioTest, OneDriverObjectServesATcpAndAPtyRegisterAtOnce) {
  setenv("QUARNEL_TEST_SKIP_WAITS", "1", 1);
  TTempDataDir dataDir;
  TEmuBench overTcp("1.2", 43), overPty("1.05", 44);
  TTestHost host;
  std::string ids[2];
  TEmuBench* benches[2] = {&overTcp, &overPty};
  const THostLink links[2] = {THostLink::Tcp, THostLink::Serial};
  const char* fonts[2] = {"0", "2"};
  for (int i = 0; i < 2; ++i) {
    TCallResult r = host.Call("ConnectEquipment",
                              {THostArg::Empty(), THostArg::Empty(),
                               benches[i]->Parameters(links[i], {{"FontNumber", fonts[i]}})});
    ASSERT_TRUE(r.Bool()) << "link " << i;
    ids[i] = r.ParamText(0);
  }
  for (TEmuBench* b : benches) b->ClearCommands();
  // Each identifier answers its own connection's line length.
  int widths[2] = {0, 0};
  for (int i : {1, 0}) {
    TCallResult r = host.Call("GetLineLength", {ids[i], THostArg::Empty()});
    EXPECT_TRUE(r.Bool());
    widths[i] = r.ParamInt(1);
  }
  EXPECT_NE(widths[0], widths[1]) << "fonts 0 and 2 differ in width";
  // A sale on each lands on its own register, in that register's format.
  for (int i : {0, 1}) {
    benches[i]->OpenShift();
    TCallResult r = host.Call(
        "ProcessCheck",
        {ids[i], false,
         "<CheckPackage><Parameters OperationType=\"1\"/><Positions><FiscalString Name=\"Хлеб\" "
         "Quantity=\"1\" PriceWithDiscount=\"" +
             std::to_string(10 + i) +
             "\" VATRate=\"10\"/></Positions><Payments Cash=\"20\"/></CheckPackage>",
         THostArg::Empty()});
    EXPECT_TRUE(r.Bool()) << "link " << i;
    EXPECT_EQ(benches[i]->Reg().Snapshot().LastReceipt.Sum, (10 + i) * 100);
  }
  EXPECT_EQ(overPty.Calls("42").at(0).Args.size(), 12u) << "format 1.05 item on the pty";
  EXPECT_EQ(overTcp.Calls("42").at(0).Args.size(), 15u) << "format 1.2 item over TCP";
  for (TEmuBench* b : benches) b->ClearCommands();
  EXPECT_TRUE(host.Call("DisconnectEquipment", {ids[0]}).Bool());
  EXPECT_TRUE(host.Call("EquipmentTest", {THostArg::Empty(), overTcp.Parameters(THostLink::Tcp),
                                          THostArg::Empty(), THostArg::Empty()})
                  .Bool());
  EXPECT_TRUE(host.Call("GetLineLength", {ids[1], THostArg::Empty()}).Bool())
      << "the pty connection outlives the other's disconnect and a test on the TCP register";
  EXPECT_TRUE(overPty.Commands().empty()) << "the test on the TCP register reached the pty one";
}

}  // namespace
