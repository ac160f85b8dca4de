// Documents through the driver's register object in the order the fiscal
// operations send them: shifts and reports, receipts in format 1.2 and 1.05
// with everything they carry, corrections, cancelling, cash in and out, text
// documents, and the refusals the driver turns into its messages. Stored
// documents are read back record by record and decoded by data type.
#include "emulator/driver/EmuDriverFixture.h"
#include "emulator/driver/EmuFnReadout.h"

namespace {

class EmuDriverDocuments : public EmuDriverTest {};
EMU_DRIVER_LINKS(EmuDriverDocuments);

TEST_P(EmuDriverDocuments, SaleInFormat12CarriesEveryFieldIntoTheStorage) {
  StartRegister("1.2");
  Connect();
  ClockRef().SetLocal({2024, 3, 5, 10, 15, 30, 0});
  Dev().OpenDay("Иванов");
  // A marking code checked, accepted and bound as the marking flow does it.
  const std::string code = "0104601234567890215abcDEF$1D93abcd";
  Dev().RunCommand("79", {"1", code, "0", "1", "1", "0", "0"}, 30000);
  EXPECT_EQ(Dev().GetDataAsInteger(1) & 0x03, 0x03) << "checked and positive";
  Dev().RunCommand("79", {"2", "1"}, 15000);

  ASSERT_EQ(Dev().GetDayState(), 2);
  CancelOpenDocument();
  Dev().WriteSettingTableByte(1, 0, FInitPrintSetting & 0x7F);
  Dev().OpenDocument(2, 1, "123456789012&Иванов", 1, 0);
  Dev().RunCommand("79", {"15", code, "1", "0", "15", "0"}, 15000);
  Dev().AddRequisite("", "Партия 7", "", "2", "7712345678", "+79001234567", "ООО Поставщик", "", "",
                     "", "", "", "", "", "030", "01022024", "12", "mode=x");
  Dev().RegisterItem("Молоко 3,2%", "", 1, 2, 895000, 0, 1790000, 4, 1, "", "", 0, 0);
  Dev().PrintProps("Скидка                    =0.00", 0, false, false);
  Dev().PrintBarcode(2, 0, 80, 2, "4601234567890");
  SellItem("Хлеб", 0.5, 600000, 1, "@4601234567890");
  Dev().PrintProps("Спасибо за покупку", 0, false, false);
  Dev().SubTotal();
  Dev().Payment(1, 500000, "");
  Dev().Payment(0, 2000000, "");
  Dev().PrintOFDProps(1192, "", "Доп. реквизит", 0, false, false, false);
  Dev().PrintOFDProps(1262, "", "030", 0, false, false, false);
  Dev().PrintOFDProps(1263, "", "01022024", 0, false, false, false);
  Dev().PrintOFDProps(1264, "", "12", 0, false, false, false);
  Dev().PrintOFDProps(1265, "", "mode=x", 0, false, false, false);
  Dev().PrintOFDProps(1273, "(null)", "040324", 0, false, false, false);
  Dev().PrintOFDProps(1271, "(null)", "#5", 0, true, false, false);
  Dev().PrintOFDProps(1272, "(null)", "данные", 0, false, false, false);
  Dev().CloseDocument("buyer@example.ru", "", "", "Скидочная карта", "12345", "Сидоров",
                      "500100732259", "01.02.1990", "643", "21", "4500 123456", "г. Тверь");
  const TDocumentResult out = Dev().ReadDocumentResult();
  Dev().WriteSettingTableByte(1, 0, FInitPrintSetting);

  EXPECT_EQ(out.Document.Number, static_cast<uint32_t>(Reg().LastDocumentNumber()));
  EXPECT_EQ(out.ShiftNumber, 1);
  EXPECT_EQ(out.ReceiptNumberInShift, 1);
  EXPECT_EQ(out.Document.Date, (TDateTime{2024, 3, 5, 10, 15, 0, 0}));
  EXPECT_EQ(out.InspectionSite, "www.nalog.gov.ru");

  const fn_readout::TDocument doc = fn_readout::Read(Dev(), static_cast<int>(out.Document.Number));
  EXPECT_EQ(doc.DocumentType, 3) << "a receipt";
  // Date and time, cashier and INN, number, operation, taxation system, sign.
  EXPECT_EQ(doc.Value(1012), "2024-03-05T10:15:30");
  EXPECT_EQ(doc.Value(1021), "Иванов");
  EXPECT_EQ(doc.Value(1203), "123456789012");
  EXPECT_EQ(doc.Value(1040), std::to_string(out.Document.Number));
  EXPECT_EQ(doc.Value(1054), "1");
  EXPECT_EQ(doc.Value(1055), "1");
  EXPECT_EQ(doc.Value(1077), std::to_string(out.Document.FiscalSign))
      << "the sign stored in 1077 is the one of 78/11";
  ASSERT_EQ(doc.Positions.size(), 2u);
  const auto& milk = doc.Positions[0];
  // Name, quantity, price, amount, VAT, subject, method, marking code.
  EXPECT_EQ(milk.at(1030), "Молоко 3,2%");
  EXPECT_EQ(milk.at(1023), "2");
  EXPECT_EQ(milk.at(1079), "89.5");
  EXPECT_EQ(milk.at(1043), "179");
  EXPECT_EQ(milk.at(1200), "29.83");
  EXPECT_EQ(milk.at(1212), "1");
  EXPECT_EQ(milk.at(1214), "4");
  EXPECT_EQ(milk.at(1305),
            "0104601234567890215abcDEF\x1D"
            "93abcd")
      << "the bound code, group separator restored";
  const auto& bread = doc.Positions[1];
  EXPECT_EQ(bread.at(1030), "Хлеб");
  EXPECT_EQ(bread.at(1023), "0.5");
  EXPECT_EQ(bread.at(1043), "30");
  EXPECT_EQ(bread.at(1200), "2.73");
  EXPECT_EQ(bread.count(1305), 0u);
  EXPECT_EQ(doc.Value(1031), "159") << "cash: 200 given, 41 change";
  EXPECT_EQ(doc.Value(1081), "50") << "electronic";
  EXPECT_EQ(doc.Value(1020), "209");
  EXPECT_EQ(doc.Value(1008), "buyer@example.ru");
  EXPECT_EQ(doc.Value(1228), "500100732259");
  EXPECT_EQ(doc.Value(1227), "Сидоров");
  EXPECT_EQ(doc.Value(1243), "01021990");
  EXPECT_EQ(doc.Value(1244), "643");
  EXPECT_EQ(doc.Value(1085), "Скидочная карта");
  EXPECT_EQ(doc.Value(1192), "Доп. реквизит");
  EXPECT_EQ(doc.Value(1263), "01022024");
  EXPECT_EQ(doc.Value(1273), "2024-03-04T00:00:00");
  EXPECT_EQ(doc.Value(1271), "5");
  EXPECT_EQ(doc.Value(1191), "Партия 7");
  EXPECT_EQ(doc.Value(1226), "7712345678");
  EXPECT_EQ(doc.Value(1302), "4601234567890") << "the EAN-13 product code of the bread";
  EXPECT_EQ(Reg().Snapshot().Cash, 15900);
  EXPECT_NE(Tape().find("[EAN-13 ||| 4601234567890 |||]"), std::string::npos) << Tape();
  EXPECT_NE(Tape().find("Спасибо за покупку"), std::string::npos);
}

TEST_P(EmuDriverDocuments, SaleInFormat105UsesTheShortListsAndReceiptLevelAgentTags) {
  StartRegister("1.05");
  Connect();
  ASSERT_EQ(Dev().FFDVersion(), 1);
  Dev().OpenDay("Иванов");
  Reg().SetCash(100000);
  Dev().OpenDocument(3, 1, "Иванов", 1, 255);
  Dev().PrintOFDProps(1057, "(null)", "#4", 0, true, false, false);
  Dev().PrintOFDProps(1171, "(null)", "+79001234567", 0, false, false, false);
  SellItem("Кефир", 1, 550000, 3, "", "");
  Dev().RegisterItemEx("Сок", "", 30000, 100000, 1, 10000, "", true);
  Dev().SubTotal();
  Dev().Payment(0, 850000, "");
  CloseReceipt("+79001112233");
  const TDocumentResult out = Dev().ReadDocumentResult();
  const fn_readout::TDocument doc = fn_readout::Read(Dev(), static_cast<int>(out.Document.Number));
  EXPECT_EQ(doc.Value(1054), "2") << "a sale return";
  EXPECT_EQ(doc.Value(1055), "1") << "255: the first registered system";
  EXPECT_EQ(doc.Value(1057), "\x04") << "the agent sign as a bit byte";
  EXPECT_EQ(doc.Value(1171), "+79001234567");
  EXPECT_EQ(doc.Value(1008), "+79001112233");
  ASSERT_EQ(doc.Positions.size(), 2u);
  EXPECT_EQ(doc.Positions[0].at(1030), "Кефир");
  EXPECT_EQ(doc.Positions[0].count(1200), 0u) << "no VAT";
  EXPECT_EQ(doc.Positions[1].at(1030), "Сок *3") << "a discount that does not spread evenly";
  EXPECT_EQ(doc.Positions[1].at(1023), "1");
  EXPECT_EQ(doc.Positions[1].at(1043), "29");
  EXPECT_EQ(doc.Value(1031), "84");
  EXPECT_EQ(doc.Find(1256), nullptr) << "no format 1.2 buyer container";
  EXPECT_NE(Tape().find("Скидка"), std::string::npos) << "the discount line is printed";

  // The longer lists of format 1.2 are refused here.
  Dev().OpenDocument(2, 1, "", 1, 0);
  Holder().FFFDVersion = ffd12;
  EXPECT_EQ(ErrorOf([&] { SellItem("Кефир", 1, 550000, 3); }),
            "Некорректный формат или параметр команды");
  Holder().FFFDVersion = ffd105;
  EXPECT_EQ(ErrorOf([&] { SellItem("Кефир", 1, 550000, 6); }),
            "Некорректный формат или параметр команды")
      << "tax code 6 exists only in format 1.2";
}

TEST_P(EmuDriverDocuments, Format11TakesTheShortLists) {
  StartRegister("1.1");
  Connect();
  ASSERT_EQ(Dev().FFDVersion(), 2);
  Dev().OpenDay("");
  Dev().OpenDocument(2, 1, "", 1, 0);
  SellItem("Чай", 1, 1000000, 0);
  Dev().Payment(0, 1000000, "");
  CloseReceipt();
  EXPECT_EQ(fn_readout::Read(Dev(), Reg().LastDocumentNumber()).Positions.size(), 1u);
}

TEST_P(EmuDriverDocuments, CorrectionReceiptsInBothFormats) {
  StartRegister("1.2");
  Connect();
  Dev().OpenDay("");
  Dev().CorrectionReceipt("Иванов", 1, "290224", "17");
  SellItem("Корректировка", 1, 1000000, 3);
  Dev().SubTotal();
  Dev().Payment(0, 1000000, "");
  CloseReceipt();
  fn_readout::TDocument doc = fn_readout::Read(Dev(), Reg().LastDocumentNumber());
  EXPECT_EQ(doc.DocumentType, 31);
  EXPECT_EQ(doc.Value(1173), "1") << "by order of the tax authority";
  EXPECT_EQ(doc.Value(1178), "2024-02-29T00:00:00");
  EXPECT_EQ(doc.Value(1179), "17");
  EXPECT_EQ(doc.Positions.size(), 1u);
  EXPECT_EQ(ErrorOf([&] { Dev().CorrectionReceipt("", 32 + 1, "290224", "1"); }),
            "Некорректный формат или параметр команды")
      << "the older formats' type bit";

  StartRegister("1.05");
  Connect();
  Dev().OpenDay("");
  Dev().CorrectionReceiptOld("Иванов", 1000000, 500000, 0, 0, 0, 33, "290224", "17", 250000, 0, 0,
                             0, 0, 0);
  doc = fn_readout::Read(Dev(), Reg().LastDocumentNumber());
  EXPECT_EQ(doc.DocumentType, 31);
  EXPECT_EQ(doc.Value(1054), "1");
  EXPECT_EQ(doc.Value(1031), "100");
  EXPECT_EQ(doc.Value(1081), "50");
  EXPECT_EQ(doc.Value(1102), "25");
  EXPECT_EQ(doc.Value(1179), "17");
  Dev().GetCounterValue(7);
  EXPECT_EQ(Dev().GetDataAsInteger(1), 1) << "a correction counts as a sale receipt";
}

TEST_P(EmuDriverDocuments, CancelAndTheDocumentLeftOpen) {
  StartRegister();
  Connect();
  Dev().OpenDay("");
  const int documents = Reg().LastDocumentNumber();
  Dev().OpenDocument(2, 1, "", 1, 0);
  SellItem("Хлеб", 1, 400000, 0);
  EXPECT_EQ(ErrorOf([&] { Dev().OpenDocument(2, 1, "", 1, 0); }),
            "Функция невыполнима при данном статусе ККМ. Предыдущий документ не закрыт");
  CancelOpenDocument();
  uint8_t fatal = 0, document = 0;
  uint16_t current = 0;
  Dev().GetECRStatus(fatal, current, document);
  EXPECT_EQ(document, 0);
  EXPECT_EQ(Reg().LastDocumentNumber(), documents) << "a cancelled receipt is not stored";
  EXPECT_NE(Tape().find("АННУЛИРОВАН"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] { Dev().CancelDocument(); }),
            "Функция невыполнима при данном статусе ККМ. Документ не был открыт");
  EXPECT_EQ(Dev().ReadSettingTableByte(1, 0), FInitPrintSetting);
}

TEST_P(EmuDriverDocuments, ReceiptRefusalsBecomeTheDriversMessages) {
  StartRegister();
  Connect();
  EXPECT_EQ(ErrorOf([&] { Dev().OpenDocument(2, 1, "Иванов", 1, 0); }),
            "Функция невыполнима при данном статусе ККМ. Смена не открыта");
  EXPECT_EQ(ErrorOf([&] { Dev().ZReport(""); }),
            "Функция невыполнима при данном статусе ККМ. Смена не открыта");
  Dev().OpenDay("");
  EXPECT_EQ(ErrorOf([&] { Dev().OpenDay(""); }), "Для выполнения команды необходимо закрыть смену");
  Dev().OpenDocument(2, 1, "", 1, 0);
  SellItem("Хлеб", 1, 400000, 0);
  EXPECT_EQ(ErrorOf([&] { Dev().Payment(1, 500000, ""); }),
            "Некорректный формат или параметр команды")
      << "card payments above the total";
  EXPECT_EQ(ErrorOf([&] { CloseReceipt(); }),
            "Функция невыполнима при данном статусе ККМ. Состояние документа не равно 4 (см. "
            "Состояние документа)");
  EXPECT_EQ(ErrorOf([&] { Dev().Encash("", 10000); }),
            "Функция невыполнима при данном статусе ККМ. Документ не является внесением или "
            "изъятием");
  EXPECT_EQ(ErrorOf([&] { Dev().OpenDocument(8, 1, "", 1, 0); }), "Неверный параметр");
  Dev().Payment(0, 400000, "");
  CloseReceipt();
  EXPECT_EQ(ErrorOf([&] { Dev().OpenDocument(2, 1, "", 1, 4); }),
            "Некорректный формат или параметр команды")
      << "a taxation system that is not registered";
}

TEST_P(EmuDriverDocuments, CashInAndOutAndAWithdrawalAboveTheCash) {
  StartRegister();
  Connect();
  Dev().OpenDay("");
  Dev().OpenDocument(4, 1, " ", 1, 0);
  Dev().Encash("", 0);
  CloseReceipt();
  Dev().OpenDocument(4, 1, " ", 1, 0);
  Dev().Encash("", 1234500);
  CloseReceipt();
  Dev().GetECRInfo(7);
  EXPECT_DOUBLE_EQ(Dev().GetDataAsFloat(1), 123.45);

  Dev().OpenDocument(5, 1, " ", 1, 0);
  EXPECT_EQ(ErrorOf([&] { Dev().Encash("", 1240000); }), "Отрицательный результат");
  EXPECT_EQ(Dev().ErrorCode(), 14) << "the driver tells a shortage by error 14";
  CancelOpenDocument();
  Dev().OpenDocument(5, 1, " ", 1, 0);
  Dev().Encash("", 234500);
  Dev().CloseDocument(0, "");
  Dev().GetECRInfo(7);
  EXPECT_DOUBLE_EQ(Dev().GetDataAsFloat(1), 100);
  Dev().GetCounterValue(7);
  EXPECT_EQ(Dev().GetDataAsInteger(5), 2);
  EXPECT_EQ(Dev().GetDataAsInteger(6), 1);
}

TEST_P(EmuDriverDocuments, TextDocumentsWithBarcodesAndCuts) {
  StartRegister();
  Connect();
  Holder().FCutString = "[cut]";
  // No shift is needed for a service document (the equipment test prints one).
  Dev().OpenDocument(1, 1, "", 1, 0);
  const std::string first(48, 'a');
  Dev().PrintString(first + "второй кусок[cut]" + std::string(31, ' ') + "после отреза", 0, false,
                    false);
  Dev().PrintBarcode(0, 6, 0, 8, "https://example.ru/?a=1&b=2");
  Dev().PrintBarcode(2, 0, 80, 3, "46012345");
  Dev().PrintBarcode(2, 2, 80, 4, "code-39 ok");
  EXPECT_EQ(ErrorOf([&] { Dev().PrintBarcode(2, 0, 80, 2, "12AB"); }),
            "Некорректный формат или параметр команды");
  Dev().CloseDocument(1, "");
  const std::string tape = Tape();
  EXPECT_NE(tape.find(first + "\n"), std::string::npos) << tape;
  const std::string cut = "- - - - - - - - - - - - ✂ - - - - - - - - - - - -\n";
  EXPECT_NE(tape.find("второй кусок\n" + cut + std::string(31, ' ') + "после отреза\n"),
            std::string::npos)
      << "the text on both sides of the marker is printed";
  EXPECT_NE(tape.find("[QR ||| https://example.ru/?a=1&b=2 |||]"), std::string::npos);
  EXPECT_NE(tape.find("[EAN-8 ||| 46012345 |||]"), std::string::npos);
  EXPECT_NE(tape.find("[CODE39 ||| code-39 ok |||]"), std::string::npos);
  const size_t cuts = [&] {
    size_t n = 0;
    for (size_t at = tape.find("✂"); at != std::string::npos; at = tape.find("✂", at + 1)) ++n;
    return n;
  }();
  EXPECT_EQ(cuts, 1u) << "one cut by the marker, none at the close with cut code 1";

  Dev().OpenDocument(1, 1, "", 1, 0);
  Dev().PrintString("quarnel", 0, false, false);
  CloseReceipt();
  EXPECT_NE(Tape().find("quarnel\n- - -"), std::string::npos) << "the long close cuts";
}

TEST_P(EmuDriverDocuments, ShiftReportsAreStoredAndPrinted) {
  StartRegister();
  Connect();
  Dev().WriteSettingTableByte(1, 0, 0x80);
  Dev().OpenDay("Иванов");
  Dev().XReport();
  EXPECT_EQ(Tape().find("X-ОТЧЁТ"), std::string::npos) << "bit 7: nothing printed";
  Dev().WriteSettingTableByte(1, 0, 0);
  Dev().XReport();
  EXPECT_NE(Tape().find("X-ОТЧЁТ"), std::string::npos);
  Dev().SettlementsCurrStatusReport("Иванов");
  EXPECT_EQ(fn_readout::Read(Dev(), Reg().LastDocumentNumber()).DocumentType, 21);
  Dev().ZReport("Иванов");
  const fn_readout::TDocument z = fn_readout::Read(Dev(), Reg().LastDocumentNumber());
  EXPECT_EQ(z.DocumentType, 5);
  EXPECT_EQ(z.Value(1038), "1");
  EXPECT_EQ(z.Value(1021), "Иванов");
  EXPECT_NE(Tape().find("Z-ОТЧЁТ"), std::string::npos);
  Dev().OpenDay("");
  Dev().GetCounterValue(1);
  EXPECT_EQ(Dev().GetDataAsInteger(1), 2) << "the next shift";
}

}  // namespace
