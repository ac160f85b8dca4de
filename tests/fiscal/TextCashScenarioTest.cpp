// Text documents, the deposit form and the receipt copy through the library
// against the virtual register (refused withdrawals: ShiftScenarioTest).
#include <gtest/gtest.h>

#include "fiscal/EmuHostFixture.h"

namespace {

class TextCashScenarioTest : public EmuHostTest {};

TEST_P(TextCashScenarioTest, TextDocumentsCutAtTheMarkerPrintEachBarcodeAndZeroIsADeposit) {
  const std::string id = Connect({{"EnablePrinting", "2"}});  // printed all the same
  const std::string line(48, 'a');
  // The text around a marker is printed, and a marker across two lines of
  // 48 characters (characters 47 to 51 here) still cuts.
  const std::string xml =
      "<Document><Positions><TextString Text=\"" + line +
      "bb[cut]cc\"/><TextString Text=\"До[cut]После\"/><TextString Text=\"" + line.substr(2) +
      "[cut]Итого\"/><Other/>"
      "<Barcode Type=\"EAN8\" Value=\"12345670\"/><Barcode Type=\"EAN13\" Value=\"4600000000008\"/>"
      "<Barcode Type=\"CODE39\" Value=\"ABC-1\"/><Barcode Type=\"qr\" ValueBase64=\"z/Do4uXy\"/>"
      "<Barcode Type=\"PDF417\" Value=\"x\"/></Positions></Document>";
  ASSERT_TRUE(Host.Call("PrintTextDocument", {id, xml}).Bool()) << LastError().Text;
  const std::string cut = "- - - - - - - - - - - - ✂ - - - - - - - - - - - -\n";
  EXPECT_EQ(Bench().Tape(), line + "\nbb\n" + cut + "cc\nДо\n" + cut + "После\n" + line.substr(2) +
                                "\n" + cut +
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

// A marker with a character the register's code page lacks (which prints as
// "?") cuts where it stands, not at every question mark.
TEST_P(TextCashScenarioTest, AMarkerOutsideTheCodePageCutsOnlyWhereItStands) {
  const std::string id = Connect({{"CutString", "✂"}});
  ASSERT_TRUE(Host.Call("PrintTextDocument", {id,
                                              "<Document NoCut=\"true\"><Positions><TextString "
                                              "Text=\"Вопрос? Да✂Нет\"/></Positions></Document>"})
                  .Bool())
      << LastError().Text;
  EXPECT_EQ(Bench().Tape(), "Вопрос? Да\n- - - - - - - - - - - - ✂ - - - - - - - - - - - -\nНет\n");
}

TEST_P(TextCashScenarioTest, ATabOrALineEndPrintsAsABlankAnyOtherControlByteSendsNothing) {
  const std::string id = Connect();
  Bench().ClearCommands();
  // FS and ETX as a host writes them into its XML; ETX then "25" would end
  // the frame with a checksum and make the rest a frame of its own.
  const std::string prefix =
      "Ошибка входных параметров команды. Недопустимый управляющий символ "
      "в поле ";
  const struct {
    std::string Position, Field;
  } cases[] = {
      {"<TextString Text=\"Итого&#28;100\"/>", "TextString.Text"},
      {"<Barcode Type=\"EAN13\" Value=\"4600&#3;25\"/>", "Barcode.Value"},
      // "\x02KVNT!80\x03" in Base64.
      {"<Barcode Type=\"QR\" ValueBase64=\"AktWTlQhODAD\"/>", "Barcode.ValueBase64"},
  };
  for (const auto& c : cases) {
    const THostError e =
        Failure("PrintTextDocument", {id, "<Document><Positions><TextString Text=\"Чек\"/>" +
                                              c.Position + "</Positions></Document>"});
    EXPECT_EQ(e.Code, 1004) << c.Field;
    EXPECT_EQ(e.Text, prefix + c.Field + " позиции 2") << "the line is named as in a receipt";
  }
  EXPECT_TRUE(Bench().Commands().empty()) << "the register is not even asked for its status";
  EXPECT_EQ(Bench().Tape(), "");

  // Tabs and line ends are the layout of a bank slip as 1C writes it into its
  // XML; the register's text conversion prints them as blanks.
  ASSERT_TRUE(Host.Call("PrintTextDocument",
                        {id,
                         "<Document><Positions><TextString Text=\"Сумма:&#9;100.00&#13;&#10;\"/>"
                         "</Positions></Document>"})
                  .Bool())
      << LastError().Text;
  EXPECT_EQ(Bench().ArgsOf("40"), (std::vector<std::string>{"Сумма: 100.00  ", "0"}));
}

EMU_HOST_LINKS(TextCashScenarioTest);

}  // namespace
