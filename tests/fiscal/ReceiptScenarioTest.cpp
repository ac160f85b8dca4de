// Receipts through the real library against the virtual register, over TCP
// and over a pty: what the register records, the order and arguments of the
// commands that reach it, and the errors the host reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <pugixml.hpp>

#include "common/uCommonUtils.h"
#include "emulator/register/uEmuTlv.h"
#include "fiscal/EmuHostFixture.h"
#include "support/CommaLocale.h"

namespace {

// A receipt package: Parameters attributes and children, positions, payments.
std::string Receipt(const std::string& AParameters, const std::string& APositions,
                    const std::string& APayments, const std::string& AParameterChildren = "") {
  return "<CheckPackage><Parameters CashierName=\"Иванов\" " + AParameters + ">" +
         AParameterChildren + "</Parameters><Positions>" + APositions + "</Positions><Payments " +
         APayments + "/></CheckPackage>";
}
std::string Item(const std::string& AName, const std::string& AQuantity, const std::string& APrice,
                 const std::string& AMore = "", const std::string& AChildren = "") {
  return "<FiscalString Name=\"" + AName + "\" Quantity=\"" + AQuantity +
         "\" PriceWithDiscount=\"" + APrice + "\" VATRate=\"20\" PaymentMethod=\"4\" " +
         "CalculationSubject=\"1\" " + AMore + ">" + AChildren + "</FiscalString>";
}

// A line of a stored receipt as the fiscal storage keeps it.
struct TStoredLine {
  std::string Name, Quantity;
  uint64_t Amount = 0;  // kopecks
  friend bool operator==(const TStoredLine&, const TStoredLine&) = default;
};
std::ostream& operator<<(std::ostream& AOut, const TStoredLine& ALine) {
  return AOut << ALine.Name << " x " << ALine.Quantity << " = " << ALine.Amount;
}
uint64_t LittleEndian(std::string_view AValue) {
  uint64_t x = 0;
  for (size_t i = AValue.size(); i-- > 0;) x = x * 256 + static_cast<uint8_t>(AValue[i]);
  return x;
}
// The item lines and the total (tag 1020, kopecks) of a stored receipt.
std::vector<TStoredLine> StoredLines(const TEmuFnDocument& ADocument, uint64_t& ATotal) {
  std::vector<TStoredLine> lines;
  std::vector<TEmuTlvRecord> records, fields;
  EXPECT_TRUE(SplitTlv(ADocument.Tlv.Data, records));
  for (const TEmuTlvRecord& record : records) {
    if (record.Tag == 1020) ATotal = LittleEndian(record.Value);
    if (record.Tag != 1059 || !SplitTlv(record.Value, fields)) continue;
    TStoredLine& line = lines.emplace_back();
    for (const TEmuTlvRecord& f : fields) {
      if (f.Tag == 1030) line.Name = OemToUtf8(std::string(f.Value));
      if (f.Tag == 1043) line.Amount = LittleEndian(f.Value);
      if (f.Tag != 1023 || f.Value.empty()) continue;
      // A count of decimals, then the digits.
      const size_t decimals = static_cast<uint8_t>(f.Value[0]);
      std::string digits = std::to_string(LittleEndian(f.Value.substr(1)));
      if (digits.size() <= decimals) digits.insert(0, decimals + 1 - digits.size(), '0');
      if (decimals > 0) digits.insert(digits.size() - decimals, ".");
      line.Quantity = digits;
    }
  }
  return lines;
}

// One frame of the register's protocol, as a label could carry it.
std::string Frame(char AId, const std::string& ACommand, const std::string& AArgs) {
  const std::string body = "KVNT" + std::string(1, AId) + ACommand + AArgs + "\x03";
  uint8_t sum = 0;
  for (char c : body) sum ^= static_cast<uint8_t>(c);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  return "\x02" + body + hex;
}

class ReceiptScenarioTest : public EmuHostTest {
 protected:
  // Opens the shift, connects and forgets the connect's commands.
  std::string Ready(const std::map<std::string, std::string>& AExtra = {}) {
    Bench().OpenShift();
    const std::string id = Connect(AExtra);
    Bench().ClearCommands();
    return id;
  }
  // ProcessCheck that must succeed; answers the output document's Parameters.
  pugi::xml_node Sell(const std::string& AId, const std::string& APackage, bool AElectronically,
                      pugi::xml_document& AOut) {
    TCallResult r = Host.Call("ProcessCheck", {AId, AElectronically, APackage, THostArg::Empty()});
    EXPECT_TRUE(r.Bool()) << LastError().Text;
    if (!r.Bool()) return {};
    AOut.load_string(r.ParamText(3).c_str());
    return AOut.child("DocumentOutputParameters").child("Parameters");
  }
  std::vector<TEmuCall> Calls(const std::string& ACommand) { return Bench().Calls(ACommand); }
  // The lines and total of the last stored document.
  std::vector<TStoredLine> Stored(uint64_t& ATotal) {
    const auto document = Bench().Reg().Document(Bench().Reg().LastDocumentNumber());
    if (!document) return {};
    return StoredLines(*document, ATotal);
  }
  // Tag number -> value of every 57 command sent.
  std::map<int, std::string> Tags() {
    std::map<int, std::string> tags;
    for (const TEmuCall& c : Calls("57")) tags[std::stoi(c.Args[0])] = c.Args[3];
    return tags;
  }
};

TEST_P(ReceiptScenarioTest, SaleOutputMatchesWhatTheRegisterStored) {
  const std::string id = Ready();
  pugi::xml_document out;
  pugi::xml_node p =
      Sell(id,
           Receipt("OperationType=\"1\" TaxationSystem=\"0\"",
                   Item("Зелёный чай №5", "2", "50,25", "ExciseAmount=\"1.5\" Department=\"3\"") +
                       Item("Хлеб", "1", "40", "DiscountAmount=\"4.5\""),
                   "Cash=\"200\" ElectronicPayment=\"0.5\""),
           false, out);
  const int number = Bench().Reg().LastDocumentNumber();
  const auto stored = Bench().Reg().Document(number);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(p.attribute("CheckNumber").as_int(), number);
  EXPECT_EQ(p.attribute("FiscalSign").as_ullong(), stored->FiscalSign);
  EXPECT_EQ(p.attribute("ShiftNumber").as_int(), Bench().Reg().Snapshot().Shift.Number);
  EXPECT_EQ(p.attribute("ShiftClosingCheckNumber").as_int(), 1);
  EXPECT_EQ(std::string(p.attribute("DateTime").value()).size(), 19u);

  const std::vector<TEmuCall> items = Calls("42");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Args[0], "Зеленый чай N5") << "ё and № survive the register's code page";
  EXPECT_EQ(items[0].Args[2], "2");
  EXPECT_EQ(items[0].Args[3], "50.25");
  EXPECT_EQ(items[0].Args[6], "3");
  EXPECT_EQ(items[0].Args[14], "1.5") << "the excise amount goes in rubles";
  const std::vector<TEmuCall> payments = Calls("47");
  ASSERT_EQ(payments.size(), 2u);
  EXPECT_EQ(payments[0].Args[0], "1") << "electronic payment before cash";
  EXPECT_EQ(payments[1].Args[0], "0");
  const std::vector<TEmuCall> lines = Calls("49");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Utf8ToAnsi(lines[0].Args[2]).size(), 48u) << "one line of the font's width";
  EXPECT_EQ(lines[0].Args[2].rfind("Скидка", 0), 0u);
  EXPECT_EQ(lines[0].Args[2].substr(lines[0].Args[2].size() - 4), "4.50");
  const TEmuState state = Bench().Reg().Snapshot();
  EXPECT_EQ(state.Shift.Operations[0].Receipts, 1);
  EXPECT_EQ(state.Shift.Operations[0].Sums[1], 50) << "kopecks paid electronically";
}

// The platform's process may run in a Russian locale, whose numbers have a
// decimal comma; the register reads only a point.
TEST_P(ReceiptScenarioTest, AHostInACommaLocaleStillSendsNumbersWithAPoint) {
  const std::string id = Ready();
  TCommaLocale comma(DataDir.Path() + "/locale");
  if (!comma.Active()) GTEST_SKIP() << "localedef could not build a comma locale";
  TCallResult r =
      Host.Call("ProcessCheck",
                {id, false,
                 Receipt("OperationType=\"1\"",
                         Item("Чай", "1.5", "50.25", "DiscountAmount=\"4.5\""), "Cash=\"75.38\""),
                 THostArg::Empty()});
  ASSERT_TRUE(r.Bool()) << LastError().Text;
  const TEmuCall item = Calls("42").at(0);
  EXPECT_EQ(item.Args[2], "1.5");
  EXPECT_EQ(item.Args[3], "50.25");
  EXPECT_EQ(Calls("47").at(0).Args[1], "75.38");
  const std::string line = Calls("49").at(0).Args[2];
  EXPECT_EQ(line.substr(line.size() - 4), "4.50");
}

TEST_P(ReceiptScenarioTest, ReturnsPurchasesPaymentsOfEveryKindAndTheBuyersAddress) {
  const std::string id = Ready();
  const std::string everyKind =
      "Cash=\"1\" ElectronicPayment=\"1\" Payment6=\"1\" Payment7=\"1\" Payment8=\"1\" "
      "Payment9=\"1\" Payment10=\"1\" PrePayment=\"1\" PostPayment=\"1\" Barter=\"1\" "
      "Payment11=\"1\"";
  Bench().Reg().SetCash(100000);
  pugi::xml_document out;
  Sell(id,
       Receipt("OperationType=\"3\"", Item("Сырье", "4", "1") + Item("Тара", "6", "1"), everyKind),
       false, out);
  std::vector<std::string> codes;
  for (const TEmuCall& c : Calls("47")) codes.push_back(c.Args[0]);
  EXPECT_EQ(codes, (std::vector<std::string>{"1", "6", "7", "8", "9", "10", "13", "14", "15", "0"}))
      << "the table's order, cash last, nothing for an unknown kind";
  EXPECT_EQ(Calls("30")[0].Args[0], "6") << "a purchase";
  EXPECT_EQ(Calls("30")[0].Args[4], "255") << "no taxation system goes out as 255";

  Bench().ClearCommands();
  const std::string item = Item("Хлеб", "1", "40");
  // A buyer who shows a passport, as a return of goods over a sum asks.
  Sell(id,
       Receipt("OperationType=\"2\" CustomerEmail=\" a@b.ru \" CustomerPhone=\"+79001234567\"",
               item, "Cash=\"40\" Barter=\"-5\"",
               "<CustomerDetail Info=\" Петров Пётр Петрович \" INN=\"500100732259\" "
               "DateOfBirth=\"15.03.1985\" Citizenship=\"643\" DocumentTypeCode=\"21\" "
               "DocumentData=\"4509 123456\" Address=\"Москва, ул. Тверская, 1\"/>"),
       false, out);
  EXPECT_EQ(Calls("30")[0].Args[0], "3") << "a sale return";
  EXPECT_EQ(Calls("47").size(), 1u) << "a negative amount is not sent";
  Sell(id,
       Receipt("OperationType=\"2\" CustomerEmail=\"  \" CustomerPhone=\" +79001234567 \"", item,
               "Cash=\"40\""),
       false, out);
  const std::vector<TEmuCall> closes = Calls("31");
  ASSERT_EQ(closes.size(), 2u);
  EXPECT_EQ(closes[0].Args[1], "a@b.ru") << "the e-mail wins over the phone";
  EXPECT_EQ(closes[1].Args[1], "+79001234567") << "a blank e-mail leaves the phone";
  ASSERT_EQ(closes[0].Args.size(), 15u) << "format 1.2 sends the buyer's details";
  EXPECT_EQ(std::vector<std::string>(closes[0].Args.begin() + 8, closes[0].Args.end()),
            (std::vector<std::string>{"Петров Петр Петрович", "500100732259", "15031985", "643",
                                      "21", "4509 123456", "Москва, ул. Тверская, 1"}))
      << "name (its ё as е, which the register prints), INN, date of birth, citizenship, "
         "document and address, each in its place";
  EXPECT_EQ(std::vector<std::string>(closes[1].Args.begin() + 8, closes[1].Args.end()),
            std::vector<std::string>(7, ""))
      << "a receipt without a buyer sends none";
  const TEmuState state = Bench().Reg().Snapshot();
  EXPECT_EQ(state.Shift.Operations[1].Receipts, 2);
  EXPECT_EQ(state.Shift.Operations[2].Receipts, 1);
  EXPECT_EQ(state.Shift.Operations[2].Total, 1000);
}

TEST_P(ReceiptScenarioTest, PrintedLinesBarcodesAndTheWrappedReceiptText) {
  const std::string id = Ready();
  const std::string longText(80, 'x');
  pugi::xml_document out;
  Sell(id,
       Receipt("OperationType=\"1\" ReceiptText=\"первая строка текста чека&#13;&#10;Спасибо за "
               "покупку!&#9;" +
                   std::string(40, 'z') + "\"",
               "<TextString Text=\"Итого:&#9;40\"/><TextString Text=\"" + longText +
                   "[cut]\"/><Barcode Type=\"qr\" Value=\"QRDATA\"/>" +
                   "<Barcode Type=\"PDF417\" Value=\"x\"/><Barcode Type=\"EAN13\" " +
                   "ValueBase64=\"" + Base64Encode("4601234567893") + "\"/>" +
                   Item("Хлеб", "1", "40", "DiscountAmount=\"-15,5\""),
               "Cash=\"40\""),
       false, out);
  const std::vector<TEmuCall> lines = Calls("49");
  ASSERT_GE(lines.size(), 6u);
  // A tab, as 1C writes it into its XML, is layout: it prints as a blank.
  EXPECT_EQ(lines[0].Args[2], "Итого: 40");
  EXPECT_EQ(lines[1].Args[2], std::string(72, 'x')) << "one line, cut at 72, no paper cut";
  EXPECT_TRUE(Calls("34").empty());
  EXPECT_EQ(lines[2].Args[2].rfind("Наценка", 0), 0u);
  EXPECT_EQ(lines[2].Args[2].substr(lines[2].Args[2].size() - 5), "15.50");
  const std::vector<TEmuCall> barcodes = Calls("41");
  ASSERT_EQ(barcodes.size(), 2u) << "an unknown barcode type is skipped";
  EXPECT_EQ(barcodes[0].Args, (std::vector<std::string>{"0", "6", "0", "8", "QRDATA"}));
  EXPECT_EQ(barcodes[1].Args[4], "4601234567893");
  EXPECT_EQ(std::vector<std::string>({lines[3].Args[2], lines[4].Args[2], lines[5].Args[2]}),
            (std::vector<std::string>{"первая строка текста чека", "Спасибо за покупку!",
                                      std::string(40, 'z')}))
      << "lines of 48 characters, broken at the line end and at the tab";
}

TEST_P(ReceiptScenarioTest, IndustryOperationalAndItemAgentDataInFormat12) {
  const std::string id = Ready();
  const std::string agent =
      "<AgentData AgentOperation=\"Оплата\" AgentPhone=\"8 (912) 345-67-89; +7 900 1234567\" "
      "AcquirerOperatorINN=\"7701234567\"/><VendorData VendorName=\"Поставщик\" "
      "VendorINN=\"500100732259\" VendorPhone=\"+7(495)1112233\"/>";
  pugi::xml_document out;
  Sell(id,
       Receipt("OperationType=\"1\" AdditionalAttribute=\"доп\" AgentType=\"6\"",
               Item("Услуга", "1", "100", "CalculationAgent=\"2\"",
                    agent + "<IndustryAttribute IdentifierFOIV=\"030\" DocumentDate=\"05.03.2024\" "
                            "DocumentNumber=\"12\" AttributeValue=\"x=1\"/>"),
               "Cash=\"100\"",
               "<IndustryAttribute IdentifierFOIV=\"001\" DocumentDate=\"01.02.24\" "
               "DocumentNumber=\"N7\" AttributeValue=\"a=b\"/>"
               "<OperationalAttribute DateTime=\"2024-03-05T01:30:00+03:00\" OperationID=\"7\" "
               "OperationData=\"данные\"/>"),
       false, out);
  const std::map<int, std::string> tags = Tags();
  EXPECT_EQ(tags, (std::map<int, std::string>{{1192, "доп"},
                                              {1262, "001"},
                                              {1263, "01022024"},
                                              {1264, "N7"},
                                              {1265, "a=b"},
                                              {1273, "040324"},
                                              {1271, "#7"},
                                              {1272, "данные"}}))
      << "receipt agent data is not sent as tags in format 1.2";
  const std::vector<TEmuCall> requisites = Calls("24");
  ASSERT_EQ(requisites.size(), 1u);
  const std::vector<std::string>& a = requisites[0].Args;
  EXPECT_EQ(a[3], "4") << "agent kind 2 is bit 2";
  EXPECT_EQ(a[4], "500100732259");
  EXPECT_EQ(a[5], "+74951112233");
  EXPECT_EQ(a[12], "+89123456789,+79001234567");
  EXPECT_EQ(a[14], "030");
  EXPECT_EQ(a[15], "05032024");
}

TEST_P(ReceiptScenarioTest, ReceiptAgentTagsAndLegacyMarkingCodesBefore12) {
  StartRegister("1.05");
  const std::string id = Ready();
  const std::string code =
      "0104601234567893215ABCdef\x1D"
      "93abcd";
  pugi::xml_document out;
  Sell(id,
       Receipt("OperationType=\"1\" AgentType=\"1\"",
               Item("Обувь", "1", "100", "MarkingCode=\"" + Base64Encode(code) + "\""),
               "Cash=\"100\"",
               "<AgentData AgentOperation=\"Оплата\" AcquirerOperatorINN=\"7701234567\"/>"
               "<VendorData VendorPhone=\"8-800-100-00-00\"/>"),
       false, out);
  EXPECT_EQ(Tags(),
            (std::map<int, std::string>{
                {1057, "#2"}, {1171, "+88001000000"}, {1016, "7701234567"}, {1044, "Оплата"}}));
  const std::vector<TEmuCall> requisites = Calls("24");
  ASSERT_EQ(requisites.size(), 1u);
  EXPECT_EQ(requisites[0].Args.size(), 14u);
  // GTIN 04601234567893 is 0x042F4EF3B2D5 in six bytes, then the serial;
  // the byte below 32 is escaped like in every marking code.
  EXPECT_EQ(Utf8ToOem(requisites[0].Args[0]),
            "DM$04/N\xF3\xB2\xD5"
            "5ABCdef");
  EXPECT_EQ(requisites[0].Args[3], "0") << "no item agent before 1.2 is 0";

  Bench().ClearCommands();
  THostError e =
      Failure("ProcessCheck",
              {id, false,
               Receipt("OperationType=\"1\"",
                       Item("Обувь", "1", "100", "MarkingCode=\"" + Base64Encode("02x") + "\""),
                       "Cash=\"100\""),
               THostArg::Empty()});
  EXPECT_EQ(e.Code, 1001);
  EXPECT_EQ(e.Text, "Некорректный код маркировки 02x");
  // The 5 and 7 % rates exist in format 1.2 only: a line with one refuses
  // the receipt before the line before it goes out.
  for (const char* rate : {"5", "7", "5/105", "7/107"}) {
    SCOPED_TRACE(rate);
    e = Failure("ProcessCheck",
                {id, false,
                 Receipt("OperationType=\"1\"",
                         Item("Хлеб", "1", "40") + "<FiscalString Name=\"Сок\" Quantity=\"1\" " +
                             "PriceWithDiscount=\"1\" VATRate=\"" + rate + "\"/>",
                         "Cash=\"41\""),
                 THostArg::Empty()});
    EXPECT_EQ(e.Code, 3010);
    EXPECT_EQ(e.Text, "Налоговая группа вне допустимого диапазона");
  }
  EXPECT_EQ(Bench().CommandCodes(), std::vector<std::string>{}) << "nothing sent";
}

TEST_P(ReceiptScenarioTest, ErrorsReachTheHostWithTheirCodes) {
  const std::string id = Connect();
  const std::string sale = Receipt("OperationType=\"1\"", Item("Хлеб", "1", "40"), "Cash=\"40\"");
  Bench().ClearCommands();
  THostError e = Failure("ProcessCheck", {id, false, sale, THostArg::Empty()});
  EXPECT_EQ(e.Code, 3005);
  EXPECT_EQ(e.Text, "Смена закрыта");
  EXPECT_EQ(Bench().CommandCodes(), std::vector<std::string>{"00"}) << "only the state query";

  Bench().OpenShift();
  Bench().Reg().MoveClock(25 * 3600);
  e = Failure("ProcessCheck", {id, false, sale, THostArg::Empty()});
  EXPECT_EQ(e.Code, 3002);
  Bench().Reg().MoveClock(-25 * 3600);

  // Whatever is wrong with a package, nothing of it reaches the register.
  const std::string bread = Item("Хлеб", "1", "40");
  const auto line2 = [&](const std::string& AQuantity, const std::string& AMore = "",
                         const std::string& AChildren = "") {
    return Receipt("OperationType=\"1\"", bread + Item("Молоко", AQuantity, "10", AMore, AChildren),
                   "Cash=\"1000\"");
  };
  const std::string milk = "Ошибка входных параметров команды. Позиция 2 «Молоко»: ";
  const std::string quantityRule =
      "не передать в команде регистрации: нужно число больше нуля, не больше 922337203685477 и "
      "не более чем с четырьмя знаками после запятой";
  const struct {
    std::string Package;
    int Code;
    std::string Text;  // empty: not compared
  } refused[] = {
      {"<CheckPackage><Parameters OperationType=\"1\"/><Positions/></CheckPackage>", 1004, ""},
      {Receipt("OperationType=\"5\"", "", "Cash=\"1\""), 1004, ""},
      {Receipt("OperationType=\"1\"", Item("Хлеб", "1", "1e20"), "Cash=\"1\""), 1004,
       "Ошибка входных параметров команды. Позиция 1 «Хлеб»: значение «1e20» в поле "
       "PriceWithDiscount вне допустимого диапазона"},
      {Receipt("OperationType=\"1\"", Item("Хлеб", "inf", "1"), "Cash=\"1\""), 1004,
       "Ошибка входных параметров команды. Позиция 1 «Хлеб»: количество «inf» " + quantityRule},
      {line2("1", "DiscountAmount=\"-1e20\""), 1004,
       milk + "значение «-1e20» в поле DiscountAmount вне допустимого диапазона"},
      {Receipt("OperationType=\"1\"", bread, "Cash=\"1e20\""), 1004,
       "Ошибка входных параметров команды. Сумма «1e20» в поле Payments.Cash вне допустимого "
       "диапазона"},
      {Receipt("OperationType=\"1\"",
               bread + "<FiscalString Name=\"Хлеб\" Quantity=\"1\" PriceWithDiscount=\"1\" "
                       "VATRate=\" 20\"/>",
               "Cash=\"41\""),
       3010, "Налоговая группа вне допустимого диапазона"},
      {line2("1e308"), 1004, ""},
      {line2("-5"), 1004, milk + "количество «-5» " + quantityRule},
      {line2("0"), 1004, ""},
      {line2("0.00005"), 1004, ""},
      {line2("60000.00004"), 1004, milk + "количество «60000.00004» " + quantityRule},
      {line2("1", "AmountWithDiscount=\"-922337203685477.5808\""), 1004,
       milk + "отрицательное значение «-922337203685477.5808» в поле AmountWithDiscount"},
      // One byte carries it: 300 would be department 44.
      {line2("1", "Department=\"300\""), 1004,
       milk + "номер отдела «300» вне диапазона от 0 до 99"},
      {line2("1", "AmountWithDiscount=\"10.005\""), 1004, ""},
      {line2("1", "ExciseAmount=\"-1\""), 1004,
       milk + "отрицательное значение «-1» в поле ExciseAmount"},
      {Receipt("OperationType=\"1\"", bread, "Cash=\"39.99\" Barter=\"-1\""), 1004,
       "Ошибка входных параметров команды. Оплата 39.99 меньше суммы чека 40.00"},
      {Receipt("OperationType=\"1\"", bread, "ElectronicPayment=\"30\" PrePayment=\"10.01\""), 1004,
       "Ошибка входных параметров команды. Безналичная оплата 40.01 больше суммы чека 40.00: "
       "сдачу дают только с наличных"},
      {Receipt("OperationType=\"1\"", bread, "Cash=\"40.001\""), 1004, ""},
      {Receipt("OperationType=\"1\" AgentType=\"7\"", bread, "Cash=\"40\""), 3023, ""},
      {Receipt("OperationType=\"1\"", bread + Item("Молоко", "1", "10", "CalculationAgent=\"9\""),
               "Cash=\"50\""),
       3023, ""},
      {Receipt("OperationType=\"1\"", bread, "Cash=\"40\"",
               "<CustomerDetail DateOfBirth=\"01.02&#x1C;1990\"/>"),
       1004,
       "Ошибка входных параметров команды. Недопустимый управляющий символ в поле "
       "CustomerDetail.DateOfBirth"},
      {line2("1", "", "<IndustryAttribute IdentifierFOIV=\"03&#x3;0\"/>"), 1004,
       "Ошибка входных параметров команды. Недопустимый управляющий символ в поле "
       "IndustryAttribute.IdentifierFOIV позиции 2"},
      {Receipt("OperationType=\"1\"", bread + "<TextString Text=\"a&#27;b\"/>", "Cash=\"40\""),
       1004, ""},
      {Receipt("OperationType=\"1\" ReceiptText=\"a&#9;b&#28;\"", bread, "Cash=\"40\""), 1004,
       "Ошибка входных параметров команды. Недопустимый управляющий символ в поле ReceiptText"},
      {Receipt("OperationType=\"1\"",
               bread + "<Barcode Type=\"QR\" ValueBase64=\"" +
                   Base64Encode("a\x03"
                                "b") +
                   "\"/>",
               "Cash=\"40\""),
       1004,
       "Ошибка входных параметров команды. Недопустимый управляющий символ в поле "
       "Barcode.ValueBase64 позиции 2"},
      {Receipt("OperationType=\"1\"", bread, "Cash=\"40\"",
               "<AgentData AgentPhone=\"+7900&#x1C;\"/>"),
       1004, ""},
      {line2("1", "", "<GoodCodeData EAN13=\"%%%\"/>"), 1001, ""},
  };
  for (const auto& [package, code, text] : refused) {
    SCOPED_TRACE(package);
    Bench().ClearCommands();
    e = Failure("ProcessCheck", {id, false, package, THostArg::Empty()});
    EXPECT_EQ(e.Code, code) << e.Text;
    if (!text.empty()) {
      EXPECT_EQ(e.Text, text);
    }
    EXPECT_EQ(Bench().CommandCodes(), std::vector<std::string>{}) << "nothing sent";
  }

  // A refusal by the register half-way leaves the document open, the print
  // byte written back; the next receipt cancels it first.
  Bench().ClearCommands();
  e = Failure(
      "ProcessCheck",
      {id, false, Receipt("OperationType=\"1\"", Item("Гвозди", "100000", "0.01"), "Cash=\"1000\""),
       THostArg::Empty()});
  EXPECT_EQ(e.Text, "Некорректный формат или параметр команды") << "the register's own error";
  EXPECT_EQ(Calls("30").size(), 1u);
  EXPECT_EQ(Bench().CommandCodes().back(), "12") << "the print byte is written back";
  Bench().ClearCommands();
  pugi::xml_document out;
  Sell(id, sale, false, out);
  EXPECT_EQ(Calls("32").size(), 1u);
}

// 1C spreads a receipt discount over the lines, so a line's amount is often
// not its price times its quantity; the item command carries no amount and
// the register makes the sum itself. Each receipt is paid by card for exactly
// the host's total: a register sum a kopeck off is refused.
TEST_P(ReceiptScenarioTest, DiscountedLinesGoOutSoThatTheRegistersSumsAreTheHostsAmounts) {
  const std::string id = Ready();
  const std::string agent =
      "<AgentData AgentOperation=\"Оплата\" AgentPhone=\"+79001234567\"/>"
      "<VendorData VendorName=\"Молзавод\" VendorINN=\"500100732259\"/>"
      "<IndustryAttribute IdentifierFOIV=\"030\" DocumentDate=\"05.03.2024\" "
      "DocumentNumber=\"12\" AttributeValue=\"x=1\"/>";
  pugi::xml_document out;
  Sell(id,
       Receipt("OperationType=\"1\"",
               Item("Йогурт", "3", "33.33",
                    "AmountWithDiscount=\"100\" DiscountAmount=\"19.97\" Department=\"2\" "
                    "ExciseAmount=\"0.05\" CalculationAgent=\"1\" AdditionalAttribute=\"доп\"",
                    agent),
               "ElectronicPayment=\"100\""),
       false, out);
  // "3 for 100": 3 x 33.33 would be 99.99, so two units at 33.33 and one at 33.34.
  const std::vector<TEmuCall> items = Calls("42");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Args[2] + " x " + items[0].Args[3], "2 x 33.33");
  EXPECT_EQ(items[1].Args[2] + " x " + items[1].Args[3], "1 x 33.34");
  EXPECT_EQ(items[0].Args[14] + " " + items[1].Args[14], "0.03 0.02") << "the excise is shared";
  for (size_t i : {0, 1, 4, 6, 10, 11}) EXPECT_EQ(items[0].Args[i], items[1].Args[i]) << i;
  const std::vector<TEmuCall> requisites = Calls("24");
  ASSERT_EQ(requisites.size(), 2u) << "each part carries the line's requisites";
  EXPECT_EQ(requisites[0].Args, requisites[1].Args);
  EXPECT_EQ(requisites[0].Args[3], "2") << "agent kind 1";
  EXPECT_EQ(requisites[0].Args[14], "030");
  EXPECT_EQ(Calls("49").size(), 1u) << "one discount line";
  uint64_t total = 0;
  EXPECT_EQ(Stored(total),
            (std::vector<TStoredLine>{{"Йогурт", "2", 6666}, {"Йогурт", "1", 3334}}));
  EXPECT_EQ(total, 10000u);

  // A discount spread over three lines: one splits, one divides, one takes
  // the two-decimal price nearest its exact unit price (1.5 x 33.34 would be 50.01).
  Bench().ClearCommands();
  Sell(id,
       Receipt("OperationType=\"1\"",
               Item("Сок", "7", "4.29", "AmountWithDiscount=\"30\"") +
                   Item("Чай", "3", "9.51", "AmountWithDiscount=\"28.53\"") +
                   Item("Сыр", "1,5", "33.34", "AmountWithDiscount=\"50\""),
               "ElectronicPayment=\"108.53\""),
       false, out);
  std::vector<std::string> sent;
  for (const TEmuCall& c : Calls("42")) sent.push_back(c.Args[2] + " x " + c.Args[3]);
  EXPECT_EQ(sent, (std::vector<std::string>{"6 x 4.28", "1 x 4.32", "3 x 9.51", "1.5 x 33.33"}));
  EXPECT_EQ(Stored(total),
            (std::vector<TStoredLine>{
                {"Сок", "6", 2568}, {"Сок", "1", 432}, {"Чай", "3", 2853}, {"Сыр", "1.5", 5000}}));
  EXPECT_EQ(total, 10853u);
}

TEST_P(ReceiptScenarioTest, WeighedAndFractionalLinesAndChangeFromCash) {
  const std::string id = Ready();
  pugi::xml_document out;
  // Weighed goods go out as they stand; a fractional quantity with no price
  // that gives its amount goes as one unit that names the quantity, unless
  // it is measured: 2.5 kg of cheese for 25.01 (2.5 x 10.00 is 25.00, 2.5 x
  // 10.01 is 25.03) goes as 1.5 kg and the last kilogram with the rest.
  Sell(
      id,
      Receipt("OperationType=\"1\"",
              Item("Говядина", "0.347", "199.90",
                   "AmountWithDiscount=\"69.37\" MeasureOfQuantity=\"11\"") +
                  Item("Гвозди", "2.5", "4", "AmountWithDiscount=\"10.01\"") +
                  Item("Сыр", "2.5", "10", "AmountWithDiscount=\"25.01\" MeasureOfQuantity=\"11\""),
              "ElectronicPayment=\"104.39\""),
      false, out);
  const std::vector<TEmuCall> items = Calls("42");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].Args[2] + " x " + items[0].Args[3] + " measure " + items[0].Args[8],
            "0.347 x 199.9 measure 11");
  EXPECT_EQ(items[1].Args[0] + ": " + items[1].Args[2] + " x " + items[1].Args[3],
            "Гвозди *2.5: 1 x 10.01");
  EXPECT_EQ(items[2].Args[2] + " x " + items[2].Args[3] + " measure " + items[2].Args[8],
            "1.5 x 10 measure 11");
  EXPECT_EQ(items[3].Args[2] + " x " + items[3].Args[3] + " measure " + items[3].Args[8],
            "1 x 10.01 measure 11");
  uint64_t total = 0;
  EXPECT_EQ(Stored(total), (std::vector<TStoredLine>{{"Говядина", "0.347", 6937},
                                                     {"Гвозди *2.5", "1", 1001},
                                                     {"Сыр", "1.5", 1500},
                                                     {"Сыр", "1", 1001}}));
  EXPECT_EQ(total, 10439u);

  // Two discounted lines paid in cash: the register records 1C's sum and
  // gives the change.
  const TEmuState before = Bench().Reg().Snapshot();
  Sell(id,
       Receipt("OperationType=\"1\"",
               Item("Йогурт", "3", "33.33", "AmountWithDiscount=\"100\"") +
                   Item("Сок", "7", "4.29", "AmountWithDiscount=\"30\""),
               "Cash=\"200\""),
       false, out);
  const TEmuState after = Bench().Reg().Snapshot();
  EXPECT_EQ(after.LastReceipt.Sum, 13000);
  EXPECT_EQ(after.Shift.Operations[0].Sums[0] - before.Shift.Operations[0].Sums[0], 13000);
  EXPECT_EQ(after.Cash - before.Cash, 13000) << "70.00 went back as change";
}

// A label can carry any bytes. An EAN13 whose text ends the item's frame and
// brings two frames of its own would print a line and open the drawer.
TEST_P(ReceiptScenarioTest, ALabelCarryingFramesRunsNoCommand) {
  const std::string id = Ready();
  const std::string label =
      "4601234567893\x03"
      "00" +
      Frame('\x30', "40", "SMUGGLED LINE") + Frame('\x31', "80", "");
  THostError e = Failure(
      "ProcessCheck",
      {id, false,
       Receipt("OperationType=\"1\"",
               Item("Вода", "1", "40", "", "<GoodCodeData EAN13=\"" + Base64Encode(label) + "\"/>"),
               "Cash=\"40\""),
       THostArg::Empty()});
  EXPECT_EQ(e.Code, 1004);
  EXPECT_EQ(e.Text,
            "Ошибка входных параметров команды. Недопустимый управляющий символ в поле "
            "GoodCodeData.EAN13 позиции 1");
  EXPECT_EQ(Bench().CommandCodes(), std::vector<std::string>{}) << "nothing of the receipt sent";
  EXPECT_FALSE(Bench().Reg().Snapshot().DrawerOpen);
  EXPECT_EQ(Bench().Tape().find("SMUGGLED"), std::string::npos);

  // GS1 codes keep their group separators, escaped as in a marking code.
  pugi::xml_document out;
  Sell(id,
       Receipt("OperationType=\"1\"",
               Item("Вода", "1", "40", "",
                    "<GoodCodeData KMK=\"" +
                        Base64Encode("0104601234567893215Ab\x1d"
                                     "93xyz") +
                        "\"/>"),
               "Cash=\"40\""),
       false, out);
  EXPECT_EQ(Calls("24").at(0).Args[0], "@0104601234567893215Ab$1D93xyz");
  const std::string stored = Bench().Reg().Document(Bench().Reg().LastDocumentNumber())->Tlv.Data;
  EXPECT_NE(stored.find("215Ab\x1d"
                        "93xyz"),
            std::string::npos)
      << "the register stores the code with its group separator";
}

TEST_P(ReceiptScenarioTest, ThePrintByteFollowsTheChoiceAndIsRestored) {
  const std::string id = Ready({{"EnablePrinting", "1"}});
  const std::string sale = Receipt("OperationType=\"1\"", Item("Хлеб", "1", "40"), "Cash=\"40\"");
  pugi::xml_document out;
  Sell(id, sale, true, out);
  std::vector<TEmuCall> writes = Calls("12");
  ASSERT_EQ(writes.size(), 2u);
  const int init = std::stoi(writes.back().Args[2]);
  EXPECT_EQ(std::stoi(writes.front().Args[2]), init | 0x80) << "electronic: not printed";
  EXPECT_EQ(Bench().CommandCodes().back(), "12") << "restored last";
  Bench().ClearCommands();
  Sell(id, sale, false, out);
  EXPECT_EQ(std::stoi(Calls("12").front().Args[2]), init & 0x7F);
  EXPECT_NE(Bench().Tape().find("Хлеб"), std::string::npos);
}

TEST_P(ReceiptScenarioTest, Format12CorrectionOpensWithItsTypeByteAndBase) {
  const std::string id = Ready();
  const std::string body = Item("Хлеб", "1", "40");
  const std::string data = "<CorrectionData Type=\"1\" Date=\"2024-02-29\" Number=\"№ 15\"/>";
  TCallResult r = Host.Call(
      "ProcessCorrectionCheck",
      {id, false, Receipt("OperationType=\"4\" TaxationSystem=\"1\"", body, "Cash=\"40\"", data),
       THostArg::Empty()});
  ASSERT_TRUE(r.Bool()) << LastError().Text;
  const std::vector<TEmuCall> opens = Calls("58");
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].Args[6], std::to_string(1 + 2 + 4 + 64)) << "purchase return: bits 1 and 6";
  EXPECT_EQ(opens[0].Args[7], "290224");
  EXPECT_EQ(opens[0].Args[8], "N 15");
  EXPECT_TRUE(Calls("30").empty());
  const int number = Bench().Reg().LastDocumentNumber();
  pugi::xml_document out;
  out.load_string(r.ParamText(3).c_str());
  EXPECT_EQ(
      out.child("DocumentOutputParameters").child("Parameters").attribute("CheckNumber").as_int(),
      number);
  EXPECT_EQ(Bench().Reg().Snapshot().Shift.Operations[3].Receipts, 1)
      << "recorded as purchase return";

  // Without a taxation system every bit from 2 up would be set: refused.
  Bench().ClearCommands();
  THostError e = Failure(
      "ProcessCorrectionCheck",
      {id, false, Receipt("OperationType=\"2\"", body, "Cash=\"40\"", data), THostArg::Empty()});
  EXPECT_EQ(e.Code, 1004);
  EXPECT_TRUE(Calls("58").empty());
  e = Failure("ProcessCorrectionCheck",
              {id, false, Receipt("OperationType=\"2\" TaxationSystem=\"0\"", body, "Cash=\"40\""),
               THostArg::Empty()});
  EXPECT_EQ(e.Text, "Не указаны данные для коррекции");
}

TEST_P(ReceiptScenarioTest, CheckedMarkedSaleRunsTheRegistersCommandsInOrder) {
  const std::string id = Ready();
  const std::string code =
      "0104600439931256215Ab3cD\x1d"
      "91EE06\x1d"
      "92hash=";
  TCallResult check =
      Host.Call("RequestKM", {id,
                              "<RequestKM GUID=\"g1\" MarkingCode=\"" + Base64Encode(code) +
                                  "\" PlannedStatus=\"1\" Quantity=\"1\" MeasureOfQuantity=\"0\"/>",
                              THostArg::Empty()});
  ASSERT_TRUE(check.Bool()) << LastError().Text;
  ASSERT_TRUE(Host.Call("ConfirmKM", {id, "g1", 0}).Bool()) << LastError().Text;
  Bench().ClearCommands();
  pugi::xml_document out;
  Sell(id,
       Receipt("OperationType=\"1\"",
               Item("Сыр", "1", "100",
                    "DiscountAmount=\"0\" MeasureOfQuantity=\"0\" MarkingCode=\"" +
                        Base64Encode(code) + "\""),
               "Cash=\"100\""),
       false, out);
  const std::vector<TEmuCall> calls = Bench().Commands();
  std::vector<std::string> seen;
  for (const TEmuCall& c : calls)
    seen.push_back(c.Command == "79" || c.Command == "78" || c.Command == "01" || c.Command == "11"
                       ? c.Command + "/" + c.Args[0]
                       : c.Command);
  EXPECT_EQ(seen, (std::vector<std::string>{"00", "00", "12", "30", "79/15", "24", "42", "44", "47",
                                            "31", "78/3", "78/11", "01/1", "78/6", "11/83", "12"}));
  ASSERT_EQ(calls.size(), 16u);
  EXPECT_EQ(calls[4].Args[1], "0104600439931256215Ab3cD$1D91EE06$1D92hash=");
  EXPECT_EQ(calls[8].Args[0], "0") << "cash";
  EXPECT_EQ(calls[5].Args[0], "") << "a bound code is not sent again as the product code";
  const TEmuState state = Bench().Reg().Snapshot();
  EXPECT_EQ(state.LastReceipt.Sum, 10000);

  // A code never checked is not sold, and nothing of its receipt is sent;
  // GoodCodeData's EAN13 goes as the product code.
  Bench().ClearCommands();
  const std::string other = "0104600439931256215Zz9yX";
  const std::string water =
      Item("Вода", "1", "1", "", "<GoodCodeData EAN13=\"" + Base64Encode("4601234567893") + "\"/>");
  const THostError e =
      Failure("ProcessCheck",
              {id, false,
               Receipt("OperationType=\"1\"",
                       water + Item("Сыр", "1", "1", "MarkingCode=\"" + Base64Encode(other) + "\""),
                       "Cash=\"2\""),
               THostArg::Empty()});
  EXPECT_EQ(e.Text,
            "Ошибка входных параметров команды. Позиция 2 «Сыр»: код маркировки не проверен в "
            "текущей сессии работы с кодами маркировки");
  EXPECT_TRUE(Bench().Commands().empty());
  Sell(id, Receipt("OperationType=\"1\"", water, "Cash=\"1\""), false, out);
  EXPECT_EQ(Calls("24").at(0).Args[0], "@4601234567893");
  EXPECT_TRUE(Calls("79").empty());

  // A checked code with a letter outside ASCII (a scanner in the Russian
  // layout) is found and bound like any other.
  const std::string cyrillic = Base64Encode(Utf8ToAnsi("0104600439931256215Жж1"));
  ASSERT_TRUE(Host.Call("RequestKM", {id,
                                      "<RequestKM GUID=\"g2\" MarkingCode=\"" + cyrillic +
                                          "\" PlannedStatus=\"1\" Quantity=\"1\"/>",
                                      THostArg::Empty()})
                  .Bool())
      << LastError().Text;
  ASSERT_TRUE(Host.Call("ConfirmKM", {id, "g2", 0}).Bool()) << LastError().Text;
  Bench().ClearCommands();
  Sell(id,
       Receipt("OperationType=\"1\"", Item("Сыр", "1", "1", "MarkingCode=\"" + cyrillic + "\""),
               "Cash=\"1\""),
       false, out);
  EXPECT_EQ(Calls("79").size(), 1u) << "bound";
  EXPECT_EQ(Calls("24").at(0).Args[0], "");
}

EMU_HOST_LINKS(ReceiptScenarioTest);

}  // namespace
