// Correction receipts through the library against the virtual register: the
// one-command correction of older formats with its totals, type byte and base
// date, and its refusals.
#include <gtest/gtest.h>

#include "fiscal/EmuHostFixture.h"

namespace {

class CorrectionScenarioTest : public EmuHostTest {
 protected:
  // A correction package from the attribute texts of Parameters and CorrectionData.
  static std::string Package(const std::string& AParameters, const std::string& APositions,
                             const std::string& AData = "Type=\"1\" Date=\"2024-02-29\"") {
    return "<P><Parameters " + AParameters + "><CorrectionData Number=\"17\" " + AData +
           "/></Parameters><Positions>" + APositions +
           "</Positions><Payments Cash=\"5\" ElectronicPayment=\"60\"/></P>";
  }
};

const char* const kItem = "<FiscalString VATRate=\"20\" VATAmount=\"1\"/>";

TEST_P(CorrectionScenarioTest, OlderFormatsSendTotalsPerPaymentAndRateInOneCommand) {
  StartRegister("1.05");
  Bench().OpenShift();
  Bench().Reg().SetCash(100000);
  const std::string id = Connect({{"EnablePrinting", "2"}});
  TCallResult r = Host.Call(
      "ProcessCorrectionCheck",
      {id, false,
       Package(
           "OperationType=\"3\" TaxationSystem=\"0\" CashierName=\"Петров\" CashierINN=\"77\"",
           "<FiscalString VATRate=\"20\" VATAmount=\"10\"/><FiscalString VATRate=\"18\" "
           "VATAmount=\"2.5\"/><FiscalString VATRate=\"18/118\" VATAmount=\"1\"/><TextString/>"),
       THostArg::Empty()});
  ASSERT_TRUE(r.Bool()) << LastError().Text;
  EXPECT_EQ(Bench().ArgsOf("58"),
            (std::vector<std::string>{"77&Петров", "5", "60", "0", "0", "0", "35", "290224", "17",
                                      "", "12.5", "0", "0", "0", "1", "0"}))
      << "both 20 % positions add up; type 1 + purchase 2 + older format 32";
  EXPECT_NE(
      r.ParamText(3).find(" CheckNumber=\"" + std::to_string(Bench().Reg().LastDocumentNumber())),
      std::string::npos);
  EXPECT_EQ(Bench().Tape().find("КОРРЕКЦИИ"), std::string::npos) << "EnablePrinting 2";
  EXPECT_EQ(Bench().Commands().back().Args, (std::vector<std::string>{"1", "0", "0"}));

  Bench().ClearCommands();
  EXPECT_TRUE(
      Host.Call("ProcessCorrectionCheck",
                {id, false,
                 Package("OperationType=\"1\" TaxationSystem=\"1\"",
                         "<FiscalString VATRate=\"10\" VATAmount=\"3\"/><FiscalString "
                         "VATRate=\"10/110\" VATAmount=\"4\"/><FiscalString VATRate=\"NONE\" "
                         "VATAmount=\"0.5\"/><FiscalString VATRate=\"0\" VATAmount=\"0.25\"/>",
                         ""),
                 THostArg::Empty()})
          .Bool())
      << LastError().Text;
  const std::vector<std::string> args = Bench().ArgsOf("58");
  EXPECT_EQ(args.at(6) + " " + args.at(7), "36 " + DateText(Clock().LocalNow()))
      << "no base date is today";
  EXPECT_EQ(std::vector<std::string>(args.begin() + 10, args.end()),
            (std::vector<std::string>{"0", "3", "0.25", "0.5", "0", "4"}))
      << "each rate's tax in its own field";
}

TEST_P(CorrectionScenarioTest, OlderFormatsRefuseWhatTheirCommandCannotCarry) {
  StartRegister("1.1");
  Bench().OpenShift();
  const std::string id = Connect();
  const std::pair<std::string, int> cases[] = {
      {Package("OperationType=\"2\" TaxationSystem=\"0\"", kItem), 1004},
      {Package("OperationType=\"1\" TaxationSystem=\"0\"", "<FiscalString VATRate=\"5\"/>"), 3010},
      {Package("OperationType=\"1\"", kItem), 1004},
      // 8 x 4 lands on the older-format bit: the register would take it as system 0.
      {Package("OperationType=\"1\" TaxationSystem=\"8\"", kItem), 1004},
      {"<P><Parameters OperationType=\"1\"/><Positions/><Payments/></P>", 1004},
      {Package("OperationType=\"1\" TaxationSystem=\"0\"", kItem, "Date=\"2024-02-30\""), 1001}};
  for (const auto& [package, code] : cases) {
    THostError e = Failure("ProcessCorrectionCheck", {id, false, package, THostArg::Empty()});
    EXPECT_EQ(e.Code, code) << package << ": " << e.Text;
    EXPECT_TRUE(Bench().ArgsOf("58").empty()) << package;
  }

  // The texts the command carries are checked before the register is asked anything.
  Bench().ClearCommands();
  const std::pair<std::string, std::string> texts[] = {
      {Package("OperationType=\"1\" TaxationSystem=\"0\" CashierName=\"Петров&#28;\"", kItem),
       "CashierName"},
      {Package("OperationType=\"1\" TaxationSystem=\"0\" CashierINN=\"77&#3;\"", kItem),
       "CashierINN"},
      {std::string("<P><Parameters OperationType=\"1\" TaxationSystem=\"0\"><CorrectionData "
                   "Number=\"1&#3;7\" Type=\"1\"/></Parameters><Positions>") +
           kItem + "</Positions><Payments Cash=\"1\"/></P>",
       "CorrectionData.Number"}};
  for (const auto& [package, field] : texts) {
    THostError e = Failure("ProcessCorrectionCheck", {id, false, package, THostArg::Empty()});
    EXPECT_EQ(e.Code, 1004) << field;
    EXPECT_EQ(e.Text,
              "Ошибка входных параметров команды. Недопустимый управляющий символ в поле " + field);
  }
  EXPECT_TRUE(Bench().Commands().empty());
}

EMU_HOST_LINKS(CorrectionScenarioTest);

}  // namespace
