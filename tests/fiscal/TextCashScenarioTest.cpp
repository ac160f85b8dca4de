// Text documents, the deposit form and the receipt copy through the library
// against the virtual register (refused withdrawals: ShiftScenarioTest).
#include <gtest/gtest.h>

#include "fiscal/EmuHostFixture.h"

namespace {

class TextCashScenarioTest : public EmuHostTest {};

TEST_P(TextCashScenarioTest, TextDocumentsCutAtTheMarkerPrintEachBarcodeAndZeroIsADeposit) {
  const std::string id = Connect({{"EnablePrinting", "2"}});  // printed all the same
  const std::string line(48, 'a');
  const std::string xml =
      "<Document><Positions><TextString Text=\"" + line +
      "bb[cut]cc\"/><TextString Text=\"Итого\"/><Other/>"
      "<Barcode Type=\"EAN8\" Value=\"12345670\"/><Barcode Type=\"EAN13\" Value=\"4600000000008\"/>"
      "<Barcode Type=\"CODE39\" Value=\"ABC-1\"/><Barcode Type=\"qr\" ValueBase64=\"z/Do4uXy\"/>"
      "<Barcode Type=\"PDF417\" Value=\"x\"/></Positions></Document>";
  ASSERT_TRUE(Host.Call("PrintTextDocument", {id, xml}).Bool()) << LastError().Text;
  const std::string cut = "- - - - - - - - - - - - ✂ - - - - - - - - - - - -\n";
  EXPECT_EQ(Bench().Tape(), line + "\n" + cut +
                                "Итого\n[EAN-8 ||| 12345670 |||]\n[EAN-13 ||| 4600000000008 |||]\n"
                                "[CODE39 ||| ABC-1 |||]\n[QR ||| Привет |||]\n" +
                                cut);
  EXPECT_EQ(Bench().ArgsOf("41"), (std::vector<std::string>{"2", "0", "80", "3", "12345670"}));
  EXPECT_EQ(Bench().Commands().back().Args, (std::vector<std::string>{"1", "0", "0"}));

  Bench().ClearCommands();
  ASSERT_TRUE(
      Host.Call("PrintTextDocument", {id, "<Document NoCut=\"TRUE\"><Positions/></Document>"})
          .Bool());
  EXPECT_EQ(Bench().ArgsOf("31"), (std::vector<std::string>{"1", ""}));
  EXPECT_EQ(Failure("PrintTextDocument", {id, "<Doc/>"}).Code, 1004);

  Bench().ClearCommands();
  EXPECT_TRUE(Host.Call("PrintCheckCopy", {id, "17"}).Bool());
  EXPECT_TRUE(Bench().Commands().empty());
  Bench().OpenShift();
  const std::string tape = Bench().Tape();
  ASSERT_TRUE(Host.Call("CashInOutcome", {id, "<In/>", 0.0}).Bool()) << LastError().Text;
  EXPECT_EQ(Bench().ArgsOf("30"), (std::vector<std::string>{"4", "1", " ", "1", "0"}));
  EXPECT_EQ(Bench().ArgsOf("48"), (std::vector<std::string>{"", "0"}));
  // Unlike text documents, the drawer's documents follow EnablePrinting.
  Bench().ClearCommands();
  ASSERT_TRUE(Host.Call("CashInOutcome", {id, "<In/>", 120.5}).Bool()) << LastError().Text;
  ASSERT_TRUE(Host.Call("CashInOutcome", {id, "<In/>", -20.25}).Bool()) << LastError().Text;
  EXPECT_EQ(Bench().Tape(), tape) << "a deposit or withdrawal was printed";
  const std::vector<TEmuCall> opens = Bench().Calls("30"), sums = Bench().Calls("48");
  ASSERT_EQ(opens.size(), 2u);
  ASSERT_EQ(sums.size(), 2u);
  EXPECT_EQ(opens[1].Args[0], "5") << "a withdrawal";
  EXPECT_EQ(sums[0].Args[1], "120.5");
  EXPECT_EQ(sums[1].Args[1], "20.25");
  EXPECT_EQ(Bench().Reg().Snapshot().Tables.at("1.0"), "0") << "the print byte written back";
}

EMU_HOST_LINKS(TextCashScenarioTest);

}  // namespace
