// A whole shift through the library against the virtual register: opening,
// sales and returns, cash in and out, the reports, the status with and
// without counters and the close, with the refusals met on the way; and the
// print control of reports.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "fiscal/EmuHostFixture.h"

namespace {

class ShiftScenarioTest : public EmuHostTest {
 protected:
  // A receipt of one item through the library, paid by one payment kind.
  void Sell(int AOperationType, const std::string& AAmount, const std::string& APayment) {
    const std::string xml =
        "<CheckPackage><Parameters OperationType=\"" + std::to_string(AOperationType) +
        "\" TaxationSystem=\"0\"/><Positions><FiscalString Name=\"Товар\" Quantity=\"1\" "
        "PriceWithDiscount=\"" +
        AAmount + "\" VATRate=\"20\"/></Positions><Payments " + APayment + "=\"" + AAmount +
        "\"/></CheckPackage>";
    EXPECT_TRUE(Host.Call("ProcessCheck", {FId, false, xml, THostArg::Empty()}).Bool())
        << LastError().Text;
  }
  // The output of an XML-in/XML-out method: one line per element, depth
  // first, with its attributes in order.
  std::string Output(const char* AMethod, const std::string& AInput) {
    TCallResult r = Host.Call(AMethod, {FId, AInput, THostArg::Empty()});
    EXPECT_TRUE(r.Bool()) << AMethod << ": " << LastError().Text;
    pugi::xml_document doc;
    doc.load_string(r.Bool() ? r.ParamText(2).c_str() : "");
    std::string text;
    for (const pugi::xpath_node n : doc.select_nodes("//*")) {
      text += n.node().name();
      for (const pugi::xml_attribute a : n.node().attributes())
        text += std::string(" ") + a.name() + "=" + a.value();
      text += "\n";
    }
    return text;
  }
  std::string Refusal(std::string_view AMethod, std::initializer_list<THostArg> AArgs) {
    const THostError e = Failure(AMethod, AArgs);
    return std::to_string(e.Code) + " " + e.Text;
  }
  std::string PrintByte() { return Bench().Run("11", {"1", "0"}).Fields.at(0); }
  std::string FId;
};

const char* const kCashier =
    "<In><Parameters CashierName=\"Иванова\" CashierINN=\"500100732259\"/></In>";
const char* const kCashierText = "500100732259&Иванова";  // as the register receives it

TEST_P(ShiftScenarioTest, AWholeShiftAnswersWhatTheRegisterHolds) {
  // The register's own setting prints nothing (bit 7) and keeps other bits;
  // the connection prints reports, so every report writes another byte and
  // must put this one back.
  Bench().Run("12", {"1", "0", "133"});
  Bench().Reg().SetOfdOnline(false);
  FId = Connect();
  const auto lastDateTime = [&] {
    TDateTime t = SecondsToCivil(Bench().Reg().Snapshot().FnDocuments.back().Time);
    t.Second = 0;  // the storage keeps minutes
    return t.ToXml();
  };
  // A cashier with a control byte is refused before the register is asked anything.
  Bench().ClearCommands();
  const std::string controlByte =
      "1004 Ошибка входных параметров команды. Недопустимый управляющий символ в поле ";
  EXPECT_EQ(Refusal("OpenShift", {FId, "<In><Parameters CashierName=\"Иванова&#28;\"/></In>",
                                  THostArg::Empty()}),
            controlByte + "CashierName");
  EXPECT_EQ(Refusal("PrintXReport", {FId, "<In><Parameters CashierINN=\"50&#3;01\"/></In>"}),
            controlByte + "CashierINN");
  EXPECT_TRUE(Bench().Commands().empty());
  EXPECT_EQ(Refusal("CloseShift", {FId, "<In/>", THostArg::Empty()}), "3005 Смена закрыта");
  EXPECT_NE(Refusal("CashInOutcome", {FId, "<In/>", 5.0}).find("Смена не открыта"),
            std::string::npos)
      << "a deposit the register refused is no success";
  std::string out = Output("OpenShift", kCashier);  // before the expected text reads the time
  EXPECT_EQ(out,
            "OutputParameters\nParameters FNError=false FNFail=false FNOverflow=false "
            "ShiftState=2 ShiftNumber=1 DateTime=" +
                lastDateTime() + "\n");
  EXPECT_EQ(Bench().ArgsOf("23"), std::vector<std::string>{kCashierText});
  EXPECT_EQ(Refusal("OpenShift", {FId, "<In/>", THostArg::Empty()}), "3015 Смена открыта");

  Sell(1, "100", "Cash");
  Sell(1, "50.5", "ElectronicPayment");
  Sell(2, "20", "Cash");
  EXPECT_TRUE(Host.Call("CashInOutcome", {FId, "<In/>", 300.0}).Bool()) << LastError().Text;
  EXPECT_TRUE(Host.Call("CashInOutcome", {FId, "<In/>", -30.0}).Bool()) << LastError().Text;
  EXPECT_TRUE(Host.Call("CashInOutcome", {FId, "<In/>", -0.25}).Bool()) << LastError().Text;
  EXPECT_EQ(Refusal("CashInOutcome", {FId, "<In/>", -1000.0}),
            "3006 Недостаточно наличных в кассе");
  EXPECT_TRUE(Host.Call("PrintXReport", {FId, "<In/>"}).Bool()) << LastError().Text;
  const std::string backlog =
      "BacklogDocumentFirstNumber=2 BacklogDocumentFirstDateTime=" +
      SecondsToCivil(Bench().Reg().Snapshot().FnDocuments.at(1).Time).ToXml() + "\n";
  EXPECT_EQ(Output("ReportCurrentStatusOfSettlements", kCashier),
            "OutputParameters\nParameters CashBalance=349.75 ShiftState=2 "
            "BacklogDocumentsCounter=5 " +
                backlog);
  EXPECT_EQ(Bench().ArgsOf("59"), std::vector<std::string>{kCashierText});
  EXPECT_EQ(PrintByte(), "133");
  Bench().ClearCommands();
  Bench().Reg().SetPaperOut(true);
  Bench().Reg().SetDrawerOpen(true);
  EXPECT_EQ(Output("GetCurrentStatus", "<In><Parameters GetCounters=\"TRUE\"/></In>"),
            "OutputParameters\nParameters CashBalance=349.75 RecState=2 DrawerState=1 CoverOpen=0 "
            "ShiftState=2 ShiftNumber=1 CheckNumber=6 ShiftClosingCheckNumber=3 "
            "BacklogDocumentsCounter=5 " +
                backlog +
                "CountersOperationType1 CheckCount=2 TotalChecksAmount=150.50\n"
                "CountersOperationType2 CheckCount=1 TotalChecksAmount=20.00\n"
                "CashIn Count=1 TotalAmount=300.00\nCashOut Count=2 TotalAmount=30.25\nPayments\n"
                "Cash Count=2 Sell=100.00 SellReturn=20.00\n"
                "NonCash Count=1 Sell=50.50 SellReturn=0.00\n"
                "Prepaid Count=0 Sell=0.00 SellReturn=0.00\n"
                "Credit Count=0 Sell=0.00 SellReturn=0.00\n"
                "Barter Count=0 Sell=0.00 SellReturn=0.00\n");
  std::string calls;
  for (const TEmuCall& c : Bench().Commands())
    calls += c.Command + (c.Args.empty() ? " " : "/" + c.Args[0] + " ");
  EXPECT_EQ(calls, "78/3 78/11 78/6 01/1 02/7 00 78/7 01/7 01/8 01/3 01/5 01/4 01/6 04 81 04 ");
  EXPECT_EQ(Output("GetCurrentStatus", "<In><Parameters GetCounters=\"1\"/></In>").find("Counters"),
            std::string::npos);
  Bench().Reg().SetPaperOut(false);
  Bench().Reg().SetDrawerOpen(false);

  Bench().Reg().MoveClock(25 * 3600);
  EXPECT_EQ(Refusal("OpenShift", {FId, "<In/>", THostArg::Empty()}),
            "3002 Длительность смены превысила 24 часа. Необходимо снять Z-отчет");
  Bench().Reg().SetCoverOpen(true);
  EXPECT_EQ(Failure("CloseShift", {FId, kCashier, THostArg::Empty()}).Code, 1001);
  EXPECT_EQ(PrintByte(), "133") << "restored after a refused report";
  Bench().Reg().SetCoverOpen(false);
  Bench().Reg().SetFnWarnings(0x04);  // the storage is nearly full
  out = Output("CloseShift", kCashier);
  EXPECT_EQ(out,
            "OutputParameters\nParameters FNError=false FNFail=false FNOverflow=true "
            "CashBalance=349.75 ShiftState=1 ShiftNumber=1 DateTime=" +
                lastDateTime() + " BacklogDocumentsCounter=6 " + backlog +
                "CountersOperationType1 CheckCount=2 TotalChecksAmount=150.50\n"
                "CountersOperationType2 CheckCount=1 TotalChecksAmount=20.00\n")
      << "a shift of more than 24 hours is closed";
  EXPECT_EQ(Bench().Calls("21").back().Args, std::vector<std::string>{kCashierText})
      << "the report names the cashier with the INN";
  EXPECT_EQ(PrintByte(), "133");
}

// PrintRequired of the input wins; without it (or unreadable)
// EnableReportPrinting decides.
TEST_P(ShiftScenarioTest, ReportPrintingFollowsTheInputThenTheConnection) {
  for (const std::string c : {"0 - +", "0 false -", "0 true +", "2 - -", "2 FALSE -", "2 true +"}) {
    StartRegister("1.2");
    FId = Connect({{"EnableReportPrinting", c.substr(0, 1)}});
    const std::string input =
        "<In><Parameters PrintRequired=\"" + c.substr(2, c.size() - 4) + "\"/></In>";
    EXPECT_TRUE(Host.Call("PrintXReport", {FId, input}).Bool()) << LastError().Text;
    EXPECT_EQ(Bench().Tape().find("X-ОТЧЁТ") != std::string::npos, c.back() == '+') << c;
    EXPECT_EQ(PrintByte(), "0");
  }
}

TEST_P(ShiftScenarioTest, SumsBeyondTheMoneyRangeAreNoAnswerOfTheRegister) {
  FId = Connect();
  // 10^15 roubles: four implied decimals no longer fit 64 bits.
  Bench().Reg().SetCash(100000000000000000);
  for (const char* method : {"GetCurrentStatus", "ReportCurrentStatusOfSettlements"}) {
    const THostError e = Failure(method, {FId, "<In/>", THostArg::Empty()});
    EXPECT_EQ(std::to_string(e.Code) + " " + e.Text, "1001 Ошибка протокола обмена") << method;
  }
}

EMU_HOST_LINKS(ShiftScenarioTest);

}  // namespace
