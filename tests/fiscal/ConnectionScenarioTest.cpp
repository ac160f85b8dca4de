// Connections through the real library against the virtual register over TCP
// and over a pty: connecting in order, several connections on one driver
// object, disconnecting, the equipment test and a connect that fails midway.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fiscal/EmuHostFixture.h"

namespace {

const std::vector<std::string> kConnectSequence = {"11", "10", "02", "78"};

class ConnectionScenarioTest : public EmuHostTest {};

TEST_P(ConnectionScenarioTest, ConnectsInOrderAndMeasuresTheFontsLine) {
  const std::string id = Connect({{"FontNumber", "3"}});
  ASSERT_EQ(id.size(), 36u);
  const std::vector<TEmuCall> calls = Bench().Commands();
  ASSERT_EQ(Bench().CommandCodes(), kConnectSequence)
      << "print byte, start of work, line length, data format";
  EXPECT_EQ(calls[0].Args, (std::vector<std::string>{"1", "0"}));
  EXPECT_EQ(calls[2].Args, (std::vector<std::string>{"18", "3"})) << "the chosen font's width";
  TCallResult r = Host.Call("GetLineLength", {id, THostArg::Empty()});
  ASSERT_TRUE(r.Bool()) << LastError().Text;
  EXPECT_EQ(r.ParamInt(1), 32) << "font 3 holds 32 characters, the register's default 48";
  EXPECT_TRUE(Host.Call("DisconnectEquipment", {id}).Bool());
}

// The platform sends every parameter of the description, the read-only ones
// too; they only inform it, so even "false" changes nothing.
TEST_P(ConnectionScenarioTest, UnknownAndReadOnlyParametersAreIgnored) {
  const std::string id = Connect({{"Colour", "blue"},
                                  {"Device", "x"},
                                  {"ReceiptTextAvailable", "false"},
                                  {"SingleCommand", "false"}});
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(Bench().CommandCodes(), kConnectSequence);
  Bench().OpenShift();
  TCallResult r = Host.Call(
      "ProcessCheck",
      {id, false,
       "<CheckPackage><Parameters OperationType=\"1\" TaxationSystem=\"0\"/><Positions>"
       "<TextString Text=\"Спасибо за покупку\"/><FiscalString Name=\"Хлеб\" Quantity=\"1\" "
       "PriceWithDiscount=\"10\" VATRate=\"20\"/></Positions><Payments Cash=\"10\"/>"
       "</CheckPackage>",
       THostArg::Empty()});
  ASSERT_TRUE(r.Bool()) << LastError().Text;
  EXPECT_NE(Bench().Tape().find("Спасибо за покупку"), std::string::npos)
      << "the receipt's text is printed: " << Bench().Tape();
}

// The first LogEnabled starts the test's trace and the last decides the
// connection's log: switching it off within the call ends the run with the
// stop line, so that the next run starts with its own header.
TEST_P(ConnectionScenarioTest, AnEquipmentTestWhoseConnectionLogsNothingEndsTheRunItStarted) {
  std::string params = Bench().Parameters(GetParam(), {{"LogEnabled", "true"}});
  params.insert(params.rfind("</Parameters>"), "<Parameter Name=\"LogEnabled\" Value=\"false\"/>");
  ASSERT_TRUE(
      Host.Call("EquipmentTest", {THostArg::Empty(), params, THostArg::Empty(), THostArg::Empty()})
          .Bool())
      << LastError().Text;
  const std::string log = DataDir.ReadLogs();
  const size_t trace = log.find("\tDEBUG\t> EquipmentTest: \t");
  ASSERT_NE(trace, std::string::npos) << log;
  EXPECT_LT(log.find("============Start log============="), trace);
  EXPECT_THAT(log.substr(trace),
              ::testing::EndsWith("\r\n============Stop log===============\r\n\r\n"))
      << "nothing of the connection is logged, and the run is ended";
}

// LogEnabled through SetParameter switches the log of the connection made
// last: its calls are traced from the next one on, or no longer. The setting
// reads back as made, through the property and the driver's description.
TEST_P(ConnectionScenarioTest, SetParameterSwitchesTheLogOfTheLastConnection) {
  const std::string id = Connect();
  const auto tracedCalls = [&] {
    EXPECT_TRUE(Host.Call("GetLineLength", {id, THostArg::Empty()}).Bool()) << LastError().Text;
    const std::string log = DataDir.ReadLogs();
    size_t count = 0;
    for (size_t at = 0; (at = log.find("\t> GetLineLength: ", at)) != std::string::npos; ++at)
      ++count;
    return count;
  };
  const auto readBack = [&] {
    const std::string description = Host.Call("GetDescription", {THostArg::Empty()}).ParamText(0);
    return std::string(Host.GetProp("LogEnabled").Bool() ? "on" : "off") + "/" +
           (description.find("LogIsEnabled=\"true\"") != std::string::npos ? "on" : "off");
  };
  EXPECT_EQ(tracedCalls(), 0u) << "the connection was made without a log";
  EXPECT_EQ(readBack(), "off/off");
  EXPECT_TRUE(Host.Call("SetParameter", {"LogEnabled", true}).Bool()) << LastError().Text;
  EXPECT_EQ(tracedCalls(), 1u);
  EXPECT_EQ(readBack(), "on/on") << "the setting outlives the call that made it";
  EXPECT_TRUE(Host.Call("УстановитьПараметр", {"ЛогВключен", false}).Bool());
  EXPECT_EQ(tracedCalls(), 1u);
  EXPECT_EQ(readBack(), "off/off");
  EXPECT_TRUE(Host.Call("SetParameter", {"logenabled", 1}).Bool())
      << "the parameter name is matched without regard to case";
  EXPECT_EQ(tracedCalls(), 2u) << "1 is true";
  EXPECT_EQ(readBack(), "on/on");
  EXPECT_TRUE(Host.Call("SetParameter", {"LogEnabled", "false"}).Bool());
  EXPECT_EQ(tracedCalls(), 2u) << "the text \"false\" is false";
  EXPECT_EQ(readBack(), "off/off");

  const THostError e = Failure("SetParameter", {"BaudRate", 9600});
  EXPECT_EQ(std::to_string(e.Code) + " " + e.Text, "1001 Property not found: BaudRate")
      << "only the log is set by SetParameter";
}

TEST_P(ConnectionScenarioTest, APasswordWithAControlByteIsRefusedBeforeTheLinkOpens) {
  // ETX in the frame's header would end the frame there.
  const THostError e = Failure(
      "ConnectEquipment", {THostArg::Empty(), THostArg::Empty(),
                           Bench().Parameters(GetParam(), {{"ConnectionPassword", "K&#3;NT"}})});
  EXPECT_EQ(e.Code, 1004);
  EXPECT_EQ(e.Text,
            "Ошибка входных параметров команды. Недопустимый управляющий символ в поле "
            "ConnectionPassword");
  EXPECT_TRUE(Bench().Commands().empty());
  EXPECT_FALSE(Connect().empty()) << "nothing holds the link";
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
  EXPECT_EQ(widths[0], 48) << "font 0";
  EXPECT_EQ(widths[1], 64) << "font 2";
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
