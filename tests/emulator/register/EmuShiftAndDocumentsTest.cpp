// The register's state machine: shift, documents, counters, cash and the
// refusals a register gives with their error bytes and extended codes.
#include "EmuRegisterFixture.h"

TEST_F(EmuRegisterTest, DayStateFollowsShiftAndItsClock) {
  auto status = [&] { return std::stoi(Field("00", {}, 1)); };
  EXPECT_EQ(status() & 0x0C, 0) << "a fresh register has its shift closed";
  OpenShift();
  EXPECT_EQ(status() & 0x0C, 0x04);
  EXPECT_EQ(Reg().DayState(), 2);
  ClockRef().Advance(std::chrono::hours(24) + std::chrono::seconds(1));
  EXPECT_EQ(status() & 0x0C, 0x0C) << "bit 3 marks a shift open for more than 24 hours";
  EXPECT_EQ(Reg().DayState(), 3);
  // An expired shift takes no receipts but may be closed.
  Refused("30", {"2", "1", "", "1", "255"}, EmuError::ShiftOver24h, EmuExt::None);
  Ok("21", {"Иванов"});
  EXPECT_EQ(Reg().DayState(), 1);
  EXPECT_EQ(Field("01", {"1"}, 1), "1") << "shift number";
  OpenShift();
  EXPECT_EQ(Field("01", {"1"}, 1), "2");
  EXPECT_EQ(Field("78", {"6", "0", "0"}, 2), "2");
}

TEST_F(EmuRegisterTest, ShiftRefusals) {
  Refused("21", {""}, EmuError::WrongState, EmuExt::ShiftNotOpen);
  Refused("30", {"2", "1", "", "1", "255"}, EmuError::WrongState, EmuExt::ShiftNotOpen);
  Refused("30", {"4", "1", " ", "1", "0"}, EmuError::WrongState, EmuExt::ShiftNotOpen);
  OpenShift();
  Refused("23", {""}, EmuError::CloseShiftFirst, EmuExt::None);
  OpenReceipt();
  Refused("21", {""}, EmuError::WrongState, EmuExt::PreviousNotClosed);
  Refused("30", {"2", "1", "", "1", "255"}, EmuError::WrongState, EmuExt::PreviousNotClosed);
  Ok("32");
  Refused("32", {}, EmuError::WrongState, EmuExt::DocumentNotOpen);
  Refused("31", {"0", ""}, EmuError::WrongState, EmuExt::DocumentNotOpen);
}

TEST_F(EmuRegisterTest, SaleWithChangeUpdatesCashCountersAndLastReceipt) {
  OpenShift();
  OpenReceipt();
  Item("Молоко", "2", "45.5");
  Item("Хлеб", "1", "30");
  const TEmuAnswer sub = Run("44");
  ASSERT_EQ(sub.Error, 0);
  EXPECT_EQ(sub.Fields.at(0), "121.00");
  const TEmuAnswer p1 = Run("47", {"1", "21", ""});
  ASSERT_EQ(p1.Error, 0);
  EXPECT_EQ(p1.Fields.at(0), "100.00") << "remaining after the electronic payment";
  const TEmuAnswer p2 = Run("47", {"0", "200", ""});
  ASSERT_EQ(p2.Error, 0);
  EXPECT_EQ(p2.Fields.at(1), "100.00") << "change";
  EXPECT_EQ(Field("00", {}, 2), "4") << "paid in full";
  Close();
  EXPECT_EQ(Field("00", {}, 2), "0") << "no document after the close";
  EXPECT_EQ(Field("02", {"7"}, 1), "100.00") << "cash net of change";

  EXPECT_EQ(Field("01", {"3"}, 1), "100.00") << "sale sum in cash";
  EXPECT_EQ(Field("01", {"3"}, 2), "21.00") << "sale sum paid electronically";
  EXPECT_EQ(Field("01", {"4"}, 1), "1");
  EXPECT_EQ(Field("01", {"4"}, 2), "1");
  EXPECT_EQ(Field("01", {"7"}, 1), "1") << "sale receipts";
  EXPECT_EQ(Field("01", {"7"}, 2), "0") << "return receipts";
  EXPECT_EQ(Field("78", {"6", "0", "0"}, 3), "1") << "receipt number in the shift";

  const TEmuAnswer last = Run("03", {"2"});
  ASSERT_EQ(last.Error, 0);
  ASSERT_EQ(last.Fields.size(), 9u);
  EXPECT_EQ(last.Fields[1], "2");
  EXPECT_EQ(last.Fields[4], Field("78", {"3", "0", "0"}, 1)) << "document number";
  EXPECT_EQ(last.Fields[5], "121.00");

  // A return in cash takes money out of the drawer.
  OpenReceipt(3);
  Item("Молоко", "1", "45.5");
  Pay(0, "45.5");
  Close();
  EXPECT_EQ(Field("02", {"7"}, 1), "54.50");
  EXPECT_EQ(Field("01", {"5"}, 1), "45.50");
  EXPECT_EQ(Field("01", {"7"}, 2), "1");
}

TEST_F(EmuRegisterTest, CloseRefusesUnpaidEmptyAndUncoveredReceipts) {
  OpenShift();
  OpenReceipt();
  Refused("31", {"0", ""}, EmuError::WrongState, EmuExt::ZeroTotal);
  Item("Сок", "1", "99.99");
  Pay(0, "50");
  Refused("31", {"0", ""}, EmuError::WrongState, EmuExt::DocState4);
  // non-cash payments cannot exceed the total
  Refused("47", {"1", "100", ""}, EmuError::BadParameter, EmuExt::PaymentSum);
  Pay(0, "49.99");
  Refused("42", {"Ещё", "", "1", "1", "0", "", "1", "", "", "", "4", "1", "", "", "0"},
          EmuError::WrongState, EmuExt::DocState1);
  Close();
  // A purchase paid in cash needs that cash in the drawer.
  OpenReceipt(6);
  Item("Лом", "1", "500");
  Pay(0, "500");
  Refused("31", {"0", ""}, EmuError::Negative, EmuExt::None);
  Ok("32");
}

TEST_F(EmuRegisterTest, CashInAndOutRefusesWithdrawalAboveTheCash) {
  OpenShift();
  Ok("30", {"4", "1", " ", "1", "0"});
  Ok("48", {"", "1500"});
  Close();
  EXPECT_EQ(Field("02", {"7"}, 1), "1500.00");
  Ok("30", {"5", "1", " ", "1", "0"});
  Refused("48", {"", "1500.01"}, EmuError::Negative, EmuExt::None);
  Ok("48", {"", "500"});
  Close();
  EXPECT_EQ(Field("02", {"7"}, 1), "1000.00");
  EXPECT_EQ(Field("01", {"7"}, 5), "1") << "cash-in count";
  EXPECT_EQ(Field("01", {"7"}, 6), "1") << "cash-out count";
  EXPECT_EQ(Field("01", {"8"}, 3), "1500.00");
  EXPECT_EQ(Field("01", {"8"}, 4), "500.00");
  Ok("30", {"2", "1", "", "1", "255"});
  Refused("48", {"", "1"}, EmuError::WrongState, EmuExt::NotCashInOut);
}

TEST_F(EmuRegisterTest, DiscountsChangePositionSums) {
  OpenShift();
  OpenReceipt();
  Item("А", "3", "10");
  Item("Б", "1", "20");
  Ok("45", {"1", "Скидка", "5"});  // last position
  EXPECT_EQ(Field("44", {}, 0), "45.00");
  Ok("45", {"0", "", "4.5"});  // whole receipt
  EXPECT_EQ(Field("44", {}, 0), "40.50");
  Refused("45", {"0", "", "1"}, EmuError::WrongState, EmuExt::OneDiscountOnly);
  Refused("45", {"1", "", "100"}, EmuError::BadParameter, EmuExt::DiscountSum);
  Ok("46", {"1", "", "0.5"});
  EXPECT_EQ(Field("44", {}, 0), "41.00");
  EXPECT_EQ(Reg().Snapshot().Document.Items[0].Sum + Reg().Snapshot().Document.Items[1].Sum, 4100);
}

TEST_F(EmuRegisterTest, ArgumentCountsFollowTheFormatVersion) {
  Options.FfdVersion = "1.05";
  OpenShift();
  OpenReceipt();
  // 1.05 takes the 12-argument item, the 14-argument requisites and the 10-argument close.
  Refused("42", {"А", "", "1", "1", "0", "", "1", "", "", "", "4", "1", "", "", "0"},
          EmuError::BadParameter, EmuExt::None);
  Refused("24", std::vector<std::string>(18), EmuError::BadParameter, EmuExt::None);
  Ok("24", std::vector<std::string>(14));
  Item("А", "1", "1");
  Ok("42", {"Б", "", "1", "1", "0", "", "", "0", "", "0"});  // the 10-argument form
  // 5 % rates exist only in format 1.2
  Refused("42", {"В", "", "1", "1", "6", "", "", "0", "", "0"}, EmuError::BadParameter,
          EmuExt::TaxCode);
  Pay(0, "2");
  Refused("31", std::vector<std::string>(15, "0"), EmuError::BadParameter, EmuExt::None);
  Close();
  EXPECT_EQ(Field("78", {"14", "0", "0"}, 3), "2") << "format code of 1.05";
  // Correction: older formats take the 16-argument form only.
  Refused("58", {"", "", "", "", "", "", "2", "010224", "1"}, EmuError::BadParameter, EmuExt::None);
}

TEST_F(EmuRegisterTest, FormatTwelveTakesTheLongForms) {
  OpenShift();
  OpenReceipt();
  Refused("42", {"А", "", "1", "1", "0", "", "1", "", "", "", "4", "1"}, EmuError::BadParameter,
          EmuExt::None);
  Refused("24", std::vector<std::string>(14), EmuError::BadParameter, EmuExt::None);
  Ok("24", std::vector<std::string>(18));
  Item("А", "1", "1", "6");
  Pay(0, "1");
  Refused("31", std::vector<std::string>(10, "0"), EmuError::BadParameter, EmuExt::None);
  Ok("31", {"1", ""});  // the short form is accepted in every version
  EXPECT_EQ(Field("78", {"14", "0", "0"}, 3), "4");
}

TEST_F(EmuRegisterTest, OutOfRangeAndMalformedArguments) {
  OpenShift();
  Refused("01", {"19"}, EmuError::BadParameter, EmuExt::RequestNumber);
  Refused("01", {"x"}, EmuError::BadParameter, EmuExt::RequestNumber);
  Refused("02", {"72"}, EmuError::BadParameter, EmuExt::RequestNumber);
  Refused("02", {"18", "7"}, EmuError::BadParameter, EmuExt::None);
  Refused("30", {"8", "1", "", "1", "255"}, EmuError::BadParameter, EmuExt::DocType);
  Refused("30", {"2", "100", "", "1", "255"}, EmuError::BadParameter, EmuExt::Department);
  // taxation system not registered
  Refused("30", {"2", "1", "", "1", "4"}, EmuError::BadParameter, EmuExt::TaxSystem);
  Refused("30", {"2", "1", std::string(65, 'x'), "1", "255"}, EmuError::BadParameter, EmuExt::None);
  Refused("30", {"2", "1", ""}, EmuError::BadParameter, EmuExt::None);
  OpenReceipt();
  const std::vector<std::string> item = {"А", "", "1", "10", "0", "", "1", "",
                                         "",  "", "4", "1",  "",  "", "0"};
  auto with = [&](size_t i, const std::string& v) {
    auto a = item;
    a[i] = v;
    return a;
  };
  Refused("42", with(0, std::string(257, 'x')), EmuError::BadParameter, EmuExt::ItemName);
  Refused("42", with(0, "   "), EmuError::BadParameter, EmuExt::ItemName);
  Refused("42", with(2, "0"), EmuError::BadParameter, EmuExt::Quantity);
  Refused("42", with(2, "abc"), EmuError::BadParameter, EmuExt::Quantity);
  Refused("42", with(2, "nan"), EmuError::BadParameter, EmuExt::Quantity);
  Refused("42", with(3, "-1"), EmuError::BadParameter, EmuExt::Price);
  Refused("42", with(3, "1e300"), EmuError::BadParameter, EmuExt::Price);
  Refused("42", with(4, "10"), EmuError::BadParameter, EmuExt::TaxCode);
  Refused("42", with(10, "8"), EmuError::BadParameter, EmuExt::PaymentMethod);
  Refused("47", {"16", "1", ""}, EmuError::BadParameter, EmuExt::PaymentType);
  Refused("47", {"0", "1", std::string(41, 'x')}, EmuError::BadParameter, EmuExt::ExtraText);
  Refused("82", {"9"}, EmuError::BadParameter, EmuExt::None);
  Refused("14", {"310224", "120000"}, EmuError::BadParameter, EmuExt::DateTime);
  Refused("99", {}, EmuError::UnknownCommand, EmuExt::None);
  EXPECT_EQ(Reg().Snapshot().Document.Items.size(), 0u) << "refused items leave no trace";
}

TEST_F(EmuRegisterTest, GarbageNeverCrashesOrGrowsTheState) {
  OpenShift();
  const std::vector<std::string> samples = {"",
                                            "0",
                                            "1",
                                            "-1",
                                            "255",
                                            "99999999999999999999",
                                            "1.5",
                                            "abc",
                                            std::string(3000, '9'),
                                            std::string("\x01\x1C\xFF", 3)};
  const std::vector<std::string> commands = {
      "00", "01", "02", "03", "04", "06", "10", "11", "12", "13", "14", "20", "21", "23", "24",
      "30", "31", "32", "34", "40", "41", "42", "44", "45", "46", "47", "48", "49", "53", "57",
      "58", "59", "60", "63", "71", "73", "76", "78", "79", "80", "81", "82", "94", "ZZ", ""};
  for (const auto& cmd : commands)
    for (size_t count : {0, 1, 2, 3, 5, 6, 7, 9, 10, 12, 14, 15, 16, 18, 20, 40})
      for (const auto& sample : samples) {
        std::vector<std::string> args(count, sample);
        const TEmuAnswer a = Reg().Execute(cmd, args);
        EXPECT_NE(a.Error, EmuError::Fatal)
            << "command " << cmd << " with " << count << " arguments hit an internal fault";
        for (const auto& f : a.Fields)
          EXPECT_EQ(f.find_first_of(std::string("\x1C\x03", 2)), std::string::npos);
      }
  const TEmuState s = Reg().Snapshot();
  EXPECT_LE(s.Document.Lines.size(), kMaxDocumentLines);
  EXPECT_LE(s.Document.Items.size(), kMaxItems);
}

TEST_F(EmuRegisterTest, ClockOffsetAndItsLimits) {
  EXPECT_EQ(Field("13", {}, 0), "050324");
  EXPECT_EQ(Field("13", {}, 1), "100000");
  Ok("14", {"060324", "113000"});
  EXPECT_EQ(Field("13", {}, 0), "060324");
  EXPECT_EQ(Field("13", {}, 1), "113000");
  ClockRef().Advance(std::chrono::seconds(61));
  EXPECT_EQ(Field("13", {}, 1), "113101") << "the register's clock runs with the computer's";
  Reg().MoveClock(-3600);
  EXPECT_EQ(Field("13", {}, 1), "103101");
  OpenShift();
  Refused("14", {"010124", "000000"}, EmuError::DateEarlier, EmuExt::None);
  Refused("14", {"100324", "000000"}, EmuError::ShiftOver24h, EmuExt::None);
}

TEST_F(EmuRegisterTest, SettingTablesAndPrintByte) {
  EXPECT_EQ(Field("11", {"1", "0"}, 0), "0");
  Ok("12", {"1", "0", "128"});
  EXPECT_EQ(Field("11", {"1", "0"}, 0), "128");
  Refused("12", {"1", "0", "256"}, EmuError::BadParameter, EmuExt::None);
  Refused("11", {"2", "0"}, EmuError::BadParameter, EmuExt::RequestNumber);
  EXPECT_EQ(Field("11", {"83", "0"}, 0), "www.nalog.gov.ru");
  EXPECT_EQ(Field("11", {"30", "0"}, 0), "ООО \"Тестовая торговля\"");
  Refused("12", {"30", "0", "Другая"}, EmuError::WrongState, EmuExt::CannotChangeRegistration);
}

TEST_F(EmuRegisterTest, InformationRequestsAnswerWhereTheDriverReads) {
  EXPECT_EQ(Field("02", {"18", "0"}, 1), "48");
  EXPECT_EQ(Field("02", {"18", "3"}, 1), "32");
  EXPECT_EQ(Field("02", {"4"}, 1), "0000000001012345");
  EXPECT_EQ(Field("02", {"3"}, 1), "7701234567");
  EXPECT_EQ(Field("02", {"23"}, 1), "3") << "taxation systems";
  EXPECT_EQ(Field("02", {"23"}, 3), "2") << "works with marked goods in 1.2";
  EXPECT_EQ(Field("78", {"2", "0", "0"}, 1), "3") << "fiscal mode";
  EXPECT_EQ(Field("78", {"5", "0", "0"}, 1), "1") << "the registration report is document 1";
  EXPECT_EQ(Field("78", {"4", "0", "0"}, 1), "050324");
  EXPECT_EQ(Field("04", {}, 0), "0");
  Reg().SetPaperOut(true);
  Reg().SetCoverOpen(true);
  EXPECT_EQ(Field("04", {}, 0), "6");
  Ok("80");
  EXPECT_EQ(Field("81", {}, 0), "1");
}

TEST_F(EmuRegisterTest, RegistrationOfAFreshRegisterUpdatesTablesAndData) {
  Options.Registered = false;
  EXPECT_EQ(Field("78", {"2", "0", "0"}, 1), "1") << "awaiting registration";
  Refused("23", {""}, EmuError::WrongState, EmuExt::NotRegistered);
  std::vector<std::string> args = {
      "1",      "1234567890123456", "7712345678", "5",        "0", "Петров",  "050324",
      "100000", "ООО \"Ромашка\"",  "",           "г. Тула",  "",  "Магазин", "",
      "ОФД",    "7709364346  ",     "a@b.ru",     "nalog.ru", "0", "4"};
  auto bad = args;
  bad[1] = "123";
  Refused("60", bad, EmuError::BadParameter, EmuExt::RegNumber);
  Ok("60", args);
  EXPECT_EQ(Field("78", {"2", "0", "0"}, 1), "3");
  EXPECT_EQ(Field("02", {"4"}, 1), "1234567890123456");
  EXPECT_EQ(Field("02", {"3"}, 1), "7712345678");
  EXPECT_EQ(Field("02", {"23"}, 1), "5");
  EXPECT_EQ(Field("11", {"30", "0"}, 0), "ООО \"Ромашка\"");
  EXPECT_EQ(Field("11", {"85", "0"}, 0), "Магазин");
  EXPECT_EQ(Field("11", {"71", "0"}, 0), "7709364346");
  EXPECT_EQ(Field("78", {"5", "0", "0"}, 1), Field("78", {"3", "0", "0"}, 1));
  Refused("60", args, EmuError::WrongState, EmuExt::AlreadyRegistered);
  args[0] = "0";
  args[3] = "1";
  Ok("60", args);  // re-registration
  EXPECT_EQ(Field("02", {"23"}, 1), "1");
  OpenShift();
  Refused("60", args, EmuError::CloseShiftFirst, EmuExt::None);
}

TEST_F(EmuRegisterTest, ClosedArchiveRefusesFiscalWork) {
  Ok("71", {""});
  EXPECT_EQ(Field("78", {"2", "0", "0"}, 1), "7");
  Refused("23", {""}, EmuError::WrongState, EmuExt::ArchiveClosed);
}

TEST_F(EmuRegisterTest, OneEmptyArgumentArrivesAsNoneAndLongNamesAreCut) {
  // The driver sends an empty cashier as one empty argument, which a frame
  // carries as no argument at all.
  ASSERT_EQ(Reg().Execute("23", {}).Error, 0) << "open a shift without a cashier";
  ASSERT_EQ(Reg().Execute("21", {}).Error, 0) << "close it the same way";
  EXPECT_NE(Reg().Execute("30", {}).Error, 0) << "a command of several arguments still needs them";
  OpenShift();
  OpenReceipt();
  const std::string name = std::string(120, 'a') + std::string(80, 'b');
  Item(name, "1", "10");
  Pay(0, "10");
  Close();
  std::vector<TTestTlv> doc;
  ASSERT_TRUE(ReadTestTlv(ReadDocument(Reg().LastDocumentNumber()), doc));
  EXPECT_EQ(FindTag(FindTag(doc, 1059)->Children, 1030)->Value, name.substr(0, 128))
      << "the command takes 256 characters, the stored name 128";
}
