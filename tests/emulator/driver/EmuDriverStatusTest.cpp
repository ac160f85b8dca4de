// Status, information, counters, setting tables, clock, drawer, printer and
// registration: every answer field the driver reads, read by the driver's own
// register object from the virtual register.
#include "emulator/driver/EmuDriverFixture.h"
#include "emulator/driver/EmuFnReadout.h"

namespace {

class EmuDriverStatus : public EmuDriverTest {};
EMU_DRIVER_LINKS(EmuDriverStatus);

TEST_P(EmuDriverStatus, ConnectingReadsLineLengthFormatAndPrintSettings) {
  for (const auto& [ffd, code] :
       std::vector<std::pair<std::string, int>>{{"1.05", 1}, {"1.1", 2}, {"1.2", 3}}) {
    StartRegister(ffd);
    Connect(4);
    EXPECT_EQ(Dev().FFDVersion(), code) << "format " << ffd << " read back by GetFFD";
    EXPECT_EQ(Dev().LineLength(), 24) << "font 4 is 24 characters wide";
    EXPECT_EQ(FInitPrintSetting, 0) << "a fresh register prints";
  }
  Connect(0);
  EXPECT_EQ(Dev().LineLength(), 48);
}

TEST_P(EmuDriverStatus, DayStateFollowsTheShiftAndItsAge) {
  StartRegister();
  Connect();
  EXPECT_EQ(Dev().GetDayState(), 1);
  Dev().OpenDay("Иванов");
  EXPECT_EQ(Dev().GetDayState(), 2);
  uint8_t fatal = 9, document = 9;
  uint16_t current = 0;
  Dev().OpenDocument(2, 1, "Иванов", 1, 0);
  Dev().GetECRStatus(fatal, current, document);
  EXPECT_EQ(fatal, 0);
  EXPECT_NE(document, 0) << "an open document shows in the document status";
  Dev().CancelDocument();
  Dev().GetECRStatus(fatal, current, document);
  EXPECT_EQ(document, 0);

  ClockRef().Advance(std::chrono::hours(25));
  EXPECT_EQ(Dev().GetDayState(), 3) << "a shift older than 24 hours";
  EXPECT_EQ(ErrorOf([&] { Dev().OpenDocument(2, 1, "", 1, 0); }),
            "Текущая смена больше 24 часов. Установка даты времени больше чем на 24 часа.");
  Dev().ZReport("Иванов");
  EXPECT_EQ(Dev().GetDayState(), 1) << "an expired shift can still be closed";
}

TEST_P(EmuDriverStatus, CountersCarryTheShiftAtTheFieldsTheDriverReads) {
  StartRegister();
  Connect();
  Dev().OpenDay("Иванов");
  // Deposit 1000, sale 150 (100 cash + 50 card), return 30 cash, withdrawal 200.
  Dev().OpenDocument(4, 1, " ", 1, 0);
  Dev().Encash("", 10000000);
  CloseReceipt();
  Dev().OpenDocument(2, 1, "Иванов", 1, 0);
  SellItem("Хлеб", 1, 1500000, 0);
  Dev().SubTotal();
  Dev().Payment(1, 500000, "");
  Dev().Payment(0, 1000000, "");
  CloseReceipt();
  Dev().OpenDocument(3, 1, "Иванов", 1, 0);
  SellItem("Хлеб", 1, 300000, 0);
  Dev().Payment(0, 300000, "");
  CloseReceipt();
  Dev().OpenDocument(5, 1, " ", 1, 0);
  Dev().Encash("", 2000000);
  CloseReceipt();

  const TShiftCounters c = Dev().ReadShiftCounters();
  EXPECT_EQ(c.LastDocument.Number, static_cast<uint32_t>(Reg().LastDocumentNumber()));
  EXPECT_EQ(c.ShiftNumber, 1);
  EXPECT_EQ(c.DayState, 2);
  EXPECT_EQ(c.ReceiptNumberInShift, 2) << "two receipts in the shift";
  EXPECT_EQ(c.CashBalance, (1000 + 100 - 30 - 200) * 10000);
  EXPECT_EQ(c.BacklogDocuments, 0);
  EXPECT_EQ(c.SaleReceipts, 1);
  EXPECT_EQ(c.ReturnReceipts, 1);
  EXPECT_EQ(c.CashIns, 1);
  EXPECT_EQ(c.CashOuts, 1);
  EXPECT_EQ(c.CashInTotal, 1000 * 10000);
  EXPECT_EQ(c.CashOutTotal, 200 * 10000);
  EXPECT_EQ(c.SaleSums.ByKind[pkCash], 100 * 10000) << "cash";
  EXPECT_EQ(c.SaleSums.ByKind[pkElectronic], 50 * 10000) << "electronic";
  EXPECT_EQ(c.ReturnSums.ByKind[pkCash], 30 * 10000);
  EXPECT_EQ(c.SaleCounts.ByKind[pkCash], 1);
  EXPECT_EQ(c.SaleCounts.ByKind[pkElectronic], 1);
  EXPECT_EQ(c.ReturnCounts.ByKind[pkCash], 1);
  EXPECT_EQ(c.ReturnCounts.ByKind[pkElectronic], 0);
  const TDateTime now = Reg().Now();
  EXPECT_EQ(c.LastDocument.Date.Year, now.Year);
  EXPECT_EQ(c.LastDocument.Date.Day, now.Day);
  EXPECT_EQ(c.LastDocument.Date.Minute, now.Minute);
}

TEST_P(EmuDriverStatus, OfflineBacklogAndStorageWarnings) {
  StartRegister();
  Connect();
  Reg().SetOfdOnline(false);
  Reg().SetFnWarnings(0x05);
  const int first = Reg().LastDocumentNumber() + 1;
  Dev().OpenDay("");
  Dev().XReport();
  Dev().SettlementsCurrStatusReport("");
  Dev().FNGetInfo(7);
  EXPECT_EQ(Dev().GetDataAsInteger(1), 5) << "warning flags";
  EXPECT_EQ(Dev().GetDataAsInteger(2), 2) << "shift opening and settlements report unsent";
  EXPECT_EQ(Dev().GetDataAsInteger(3), first);
  EXPECT_EQ(Dev().GetDataAsDate(4).Year, Reg().Now().Year);
  EXPECT_EQ(Dev().GetDataAsTime(5).Hour, Reg().Now().Hour);
}

TEST_P(EmuDriverStatus, RegistrationDataAsTheDriverReadsIt) {
  StartRegister("1.2");
  Connect();
  const TRegistrationReading r = Dev().ReadRegistration();
  EXPECT_EQ(r.FNLifePhase & 0x0F, 3) << "fiscal mode";
  EXPECT_EQ(r.FNSerialNumber.size(), 16u) << "storage serial number";
  EXPECT_EQ(r.KKTNumber, Reg().Snapshot().Registration.RegNumber);
  EXPECT_EQ(r.FFDCode, 4) << "format 1.2 in use";
  EXPECT_EQ(r.FNFFDCode, 4) << "the storage's format";
  EXPECT_FALSE(r.KKTSerialNumber.empty()) << "register serial number";
  int64_t registration = 0;
  ASSERT_TRUE(TryStrToInt64(r.DocumentNumber, registration)) << r.DocumentNumber;
  EXPECT_GE(registration, 1);
  EXPECT_FALSE(r.DateTime.IsEmpty()) << "registration date";
  EXPECT_EQ(r.CompanyName1, "ООО \"Тестовая торговля\"");
  EXPECT_EQ(r.SaleAddress1, "г. Москва, ул. Тестовая, д. 1");
  EXPECT_EQ(r.INN, "7701234567");
  EXPECT_EQ(r.SaleLocation, "Торговый зал");
  EXPECT_EQ(r.TaxationSystems & 0x3F, 0x03) << "taxation systems 0 and 1";
  EXPECT_EQ(r.ExtraWorkModes & 0x02, 0x02) << "works with marked goods";
  EXPECT_EQ(r.AutomaticNumber, "");
  EXPECT_EQ(r.OFDCompany, "ООО \"Тестовый ОФД\"");
  EXPECT_EQ(Trim(r.OFDCompanyINN), "7700000001");
  EXPECT_EQ(r.FNSURL, "www.nalog.gov.ru");
  EXPECT_EQ(r.SenderEmail, "noreply@example.ru");
}

TEST_P(EmuDriverStatus, RegistrationUpdatesTablesInformationAndTheStorage) {
  StartRegister("1.05", false);
  Connect();
  Dev().FNGetInfo(2);
  EXPECT_NE(Dev().GetDataAsInteger(1) & 0x0F, 3) << "not yet fiscal";
  EXPECT_EQ(ErrorOf([&] { Dev().OpenDay(""); }),
            "Функция невыполнима при данном статусе ККМ. ФН не зарегистрирован");

  const std::string org(44, 'A');
  Dev().RegisterCashRegister(true, 0x05, 0x01, "123             ", "500100732259", "Петров", org,
                             "Б", "г. Тверь", "", "Склад", "77          ", "ОФД", "7704211201  ",
                             "shop@example.ru", "www.nalog.gov.ru", 0x01);
  Dev().FNGetInfo(2);
  EXPECT_EQ(Dev().GetDataAsInteger(1) & 0x0F, 3);
  Dev().GetECRInfo(4);
  EXPECT_EQ(Dev().GetDataAsString(1), "123             ");
  Dev().GetECRInfo(3);
  EXPECT_EQ(Dev().GetDataAsString(1), "500100732259");
  Dev().GetECRInfo(23);
  EXPECT_EQ(Dev().GetDataAsInteger(1) & 0x3F, 0x05);
  EXPECT_EQ(Dev().GetDataAsInteger(2) & 0xFF, 0x01) << "encryption";
  EXPECT_EQ(Dev().GetDataAsInteger(3) & 0x01, 0x01) << "automatic printer";
  EXPECT_EQ(Dev().ReadSettingTableStr(30, 0) + Dev().ReadSettingTableStr(30, 1), org + "Б");
  EXPECT_EQ(Dev().ReadSettingTableStr(85, 0), "Склад");
  EXPECT_EQ(Trim(Dev().ReadSettingTableStr(71, 0)), "7704211201");
  EXPECT_EQ(Dev().ReadSettingTableStr(82, 0), "shop@example.ru");
  Dev().FNGetInfo(5);
  const int number = static_cast<int>(Dev().GetDataAsInteger(1));
  EXPECT_EQ(number, Reg().LastDocumentNumber());

  const fn_readout::TDocument doc = fn_readout::Read(Dev(), number);
  EXPECT_EQ(doc.DocumentType, 1) << "registration report";
  EXPECT_EQ(doc.Value(1040), std::to_string(number));
  EXPECT_EQ(doc.Value(1021), "Петров");

  // A second first registration is refused; a re-registration is not.
  EXPECT_EQ(ErrorOf([&] {
              Dev().RegisterCashRegister(true, 1, 0, "123             ", "500100732259", "", "A",
                                         "", "B", "", "", "", "", "7704211201", "", "", 0);
            }),
            "Функция невыполнима при данном статусе ККМ. ФН уже зарегистрирован");
  Dev().RegisterCashRegister(false, 1, 0, "123             ", "500100732259", "", "A", "", "B", "",
                             "", "", "", "7704211201", "", "", 0);
  Dev().FNGetInfo(5);
  EXPECT_EQ(Dev().GetDataAsInteger(1), number + 1);
  EXPECT_EQ(fn_readout::Read(Dev(), number + 1).DocumentType, 11) << "re-registration report";
  Dev().GetECRInfo(23);
  EXPECT_EQ(Dev().GetDataAsInteger(1) & 0x3F, 0x01);
}

TEST_P(EmuDriverStatus, SettingTablesReadWriteAndRefuse) {
  StartRegister();
  Connect();
  Dev().WriteSettingTableByte(1, 0, 0x80);
  EXPECT_EQ(Dev().ReadSettingTableByte(1, 0), 0x80);
  Dev().WriteSettingTableByte(1, 0, 0x180);
  EXPECT_EQ(Dev().ReadSettingTableByte(1, 0), 0x80) << "only the low byte is written";
  Dev().WriteSettingTableByte(1, 0, 0);
  EXPECT_EQ(ErrorOf([&] { Dev().WriteSettingTableStr(81, 0, "Другой ОФД"); }),
            "Функция невыполнима при данном статусе ККМ. Невозможно изменить регистрационные "
            "данные");
  EXPECT_EQ(ErrorOf([&] { Dev().ReadSettingTable(200, 7); }),
            "Некорректный формат или параметр команды");
}

TEST_P(EmuDriverStatus, ClockReadSetAndRefusedBeforeTheLastDocument) {
  StartRegister();
  Connect();
  const TDateTime before = Dev().GetDateTime();
  EXPECT_EQ(before, Reg().Now()) << "13: date of field 0 and time of field 1";
  TDateTime later = before.AddSeconds(3600 * 5 + 61);
  Dev().SetDateTime(later);
  EXPECT_EQ(Dev().GetDateTime(), later);
  EXPECT_EQ(Reg().Now(), later) << "the register keeps the set time as an offset";
  Dev().OpenDay("");
  EXPECT_EQ(ErrorOf([&] { Dev().SetDateTime(before); }),
            "Вводимая дата более ранняя, чем дата последней фискальной операции");
}

TEST_P(EmuDriverStatus, DrawerAndPrinterState) {
  StartRegister();
  Connect();
  EXPECT_EQ(Dev().GetDrawerState(), 0);
  Dev().OpenDrawer();
  EXPECT_EQ(Dev().GetDrawerState(), 1);
  EXPECT_EQ(Dev().GetPrinterState(), 0);
  Reg().SetPaperOut(true);
  EXPECT_EQ(Dev().GetPrinterState() & 0x02, 0x02) << "paper out is bit 1";
  EXPECT_EQ(ErrorOf([&] { Dev().XReport(); }), "Конец бумаги");
  Reg().SetPaperOut(false);
  Reg().SetCoverOpen(true);
  EXPECT_EQ(Dev().GetPrinterState() & 0x04, 0x04) << "cover open is bit 2";
  EXPECT_EQ(ErrorOf([&] { Dev().XReport(); }), "Принтер не готов");
  Reg().SetCoverOpen(false);
  EXPECT_EQ(ErrorOf([&] { Dev().XReport(); }), "");
}

TEST_P(EmuDriverStatus, LastDocumentInfoAgreesWithTheStoredDocument) {
  StartRegister();
  Connect();
  ClockRef().SetLocal({2024, 12, 31, 23, 58, 41, 0});
  Dev().OpenDay("Кассир");
  TDateTime date;
  uint32_t number = 0, sign = 0;
  Dev().FNGetLastDocInfo(date, number, sign);
  EXPECT_EQ(date, (TDateTime{2024, 12, 31, 23, 58, 0, 0})) << "seconds are not kept";
  EXPECT_EQ(static_cast<int>(number), Reg().LastDocumentNumber());
  const fn_readout::TDocument doc = fn_readout::Read(Dev(), static_cast<int>(number));
  EXPECT_EQ(doc.DocumentType, 2) << "shift opening";
  EXPECT_EQ(doc.Value(1077), std::to_string(sign));
  EXPECT_EQ(doc.Value(1040), std::to_string(number));
  EXPECT_EQ(doc.Value(1012), "2024-12-31T23:58:41");

  EXPECT_EQ(ErrorOf([&] { Dev().FNGetInfo(11, 0); }), "Нет запрошенных данных");
  EXPECT_EQ(ErrorOf([&] { Dev().FNGetInfo(15, 999); }), "Нет запрошенных данных");
}

TEST_P(EmuDriverStatus, RequestsOutsideTheRangeAreRefusedBeforeSending) {
  StartRegister();
  Connect();
  EXPECT_EQ(ErrorOf([&] { Dev().GetCounterValue(19); }), "Неверный параметр");
  EXPECT_EQ(ErrorOf([&] { Dev().GetECRInfo(72); }), "Неверный параметр");
  EXPECT_EQ(ErrorOf([&] { Dev().GetECRInfo(70); }), "Некорректный формат или параметр команды")
      << "a request the register does not know";
  EXPECT_EQ(ErrorOf([&] { Dev().FNGetInfo(99); }), "Некорректный формат или параметр команды");
  for (int request = 1; request <= 18; ++request)
    EXPECT_EQ(ErrorOf([&] { Dev().GetCounterValue(request); }), "") << "counter " << request;
}

}  // namespace
