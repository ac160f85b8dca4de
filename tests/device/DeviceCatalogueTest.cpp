// The command catalogue: each operation's command code, argument list and
// time limit, the reading of its answer and the argument checks.
#include <gtest/gtest.h>

#include <functional>

#include "ScriptedDevice.h"
#include "common/uClock.h"

namespace {

struct TCatalogueCase {
  const char* Name;
  std::function<void(TDevice&)> Call;
  std::string Cmd;
  TDeviceArgs Args;
  int Timeout = 15000;
  uint8_t FFD = 0;
};

const TDateTime cNow{2024, 3, 5, 10, 20, 30, 0};

std::vector<TCatalogueCase> Cases() {
  return {
      {"GetECRStatus",
       [](TDevice& d) {
         uint8_t a, c;
         uint16_t b;
         d.GetECRStatus(a, b, c);
       },
       "00",
       {}},
      {"GetCounterValue", [](TDevice& d) { d.GetCounterValue(18); }, "01", {"18"}},
      {"GetECRInfo", [](TDevice& d) { d.GetECRInfo(1); }, "02", {"1"}},
      {"GetECRInfoWithNum", [](TDevice& d) { d.GetECRInfo(18, 2); }, "02", {"18", "2"}},
      {"GetLastReceiptInfo",
       [](TDevice& d) {
         int64_t a, c, e, f, g, h;
         std::string b, i;
         d.GetLastReceiptInfo(a, b, c, e, f, g, h, i);
       },
       "03",
       {"2"}},
      {"GetPrinterState", [](TDevice& d) { d.GetPrinterState(); }, "04", {}},
      {"GetExtErrorDescription", [](TDevice& d) { d.GetExtErrorDescription(); }, "06", {"1"}},
      {"StartSeans", [](TDevice& d) { d.StartSeans(); }, "10", {"050324", "102030"}},
      {"ReadSettingTable", [](TDevice& d) { d.ReadSettingTable(257, 3); }, "11", {"1", "3"}},
      {"WriteSettingTable",
       [](TDevice& d) { d.WriteSettingTable(1, 0, "7"); },
       "12",
       {"1", "0", "7"}},
      {"GetDateTime", [](TDevice& d) { d.GetDateTime(); }, "13", {}},
      {"SetDateTime",
       [](TDevice& d) {
         d.SetDateTime({2025, 1, 2, 3, 4, 5, 0});
       },
       "14",
       {"020125", "030405"}},
      {"GetDrawerState", [](TDevice& d) { d.GetDrawerState(); }, "81", {}},
      {"FNGetInfo", [](TDevice& d) { d.FNGetInfo(14); }, "78", {"14", "0", "0"}},
      {"FNGetInfoBlock", [](TDevice& d) { d.FNGetInfo(15, 7, 512); }, "78", {"15", "7", "512"}},
      {"ReadSettingTableByte", [](TDevice& d) { d.ReadSettingTableByte(1, 0); }, "11", {"1", "0"}},
      {"WriteSettingTableByte",
       [](TDevice& d) { d.WriteSettingTableByte(1, 0, 0x1FF); },
       "12",
       {"1", "0", "255"}},
      {"WriteSettingTableWord",
       [](TDevice& d) { d.WriteSettingTableWord(2, 1, 0x1FFFF); },
       "12",
       {"2", "1", "65535"}},
      {"WriteSettingTableFloat",
       [](TDevice& d) { d.WriteSettingTableFloat(2, 1, 2.5); },
       "12",
       {"2", "1", "2.5"}},
      {"WriteSettingTableStr",
       [](TDevice& d) { d.WriteSettingTableStr(2, 1, "a\tb"); },
       "12",
       {"2", "1", "a b"}},
      {"OpenDocument",
       [](TDevice& d) { d.OpenDocument(2, 261, "Cashier", 1, 4); },
       "30",
       {"2", "261", "Cashier", "1", "4"}},
      {"CloseDocument", [](TDevice& d) { d.CloseDocument(0, "a@b.c"); }, "31", {"0", "a@b.c"}},
      {"CancelDocument", [](TDevice& d) { d.CancelDocument(); }, "32", {}},
      {"Cut", [](TDevice& d) { d.Cut(); }, "34", {}},
      {"PrintString",
       [](TDevice& d) {
         static TConnectionSettings narrow;
         narrow.FLineLen = 5;
         d.UseSettings(narrow);
         d.PrintString("abcdefgh");
       },
       "40",
       {"abcde"}},
      {"PrintBarcode",
       [](TDevice& d) { d.PrintBarcode(258, 6, 80, 8, "QR data"); },
       "41",
       {"2", "6", "80", "8", "QR data"}},
      {"SubTotal", [](TDevice& d) { d.SubTotal(); }, "44", {}},
      {"Discount", [](TDevice& d) { d.Discount("Promo", 15000); }, "45", {"1", "Promo", "1.5"}},
      {"Margin", [](TDevice& d) { d.Margin("Extra", 2500); }, "46", {"1", "Extra", "0.25"}},
      {"Payment", [](TDevice& d) { d.Payment(1, 125000, ""); }, "47", {"1", "12.5", ""}},
      {"Encash", [](TDevice& d) { d.Encash("Cash in", 1000000); }, "48", {"Cash in", "100"}},
      {"PrintProps",
       [](TDevice& d) { d.PrintProps("Text", 3, true, true); },
       "49",
       {"0", "51", "Text", "", "", ""}},
      {"OpenReceiptCopy",
       [](TDevice& d) {
         d.OpenReceiptCopy(3, 99, "Cashier", 12, 9999, {2024, 2, 29, 23, 5, 0});
       },
       "53",
       {"3", "99", "Cashier", "12", "9999", "290224", "230500"}},
      {"PrintOFDProps",
       [](TDevice& d) { d.PrintOFDProps(1057, "(null)", "#2", 1, true, false, true); },
       "57",
       {"1057", "97", "(null)", "#2"}},
      {"CorrectionReceipt",
       [](TDevice& d) { d.CorrectionReceipt("Cashier", 1, "050324", "N5"); },
       "58",
       {"Cashier", "", "", "", "", "", "1", "050324", "N5"}},
      {"CorrectionReceiptOld",
       [](TDevice& d) {
         d.CorrectionReceiptOld("Cashier", 10000, 20000, 30000, 40000, 50000, 257, "050324", "N5",
                                60000, 70000, 80000, 90000, 100000, 110000);
       },
       "58",
       {"Cashier", "1", "2", "3", "4", "5", "1", "050324", "N5", "", "6", "7", "8", "9", "10",
        "11"}},
      {"XReport", [](TDevice& d) { d.XReport(); }, "20", {}, 88000},
      {"ZReport", [](TDevice& d) { d.ZReport("Cashier"); }, "21", {"Cashier"}, 88000},
      {"OpenDay", [](TDevice& d) { d.OpenDay("Cashier"); }, "23", {"Cashier"}},
      {"SettlementsCurrStatusReport",
       [](TDevice& d) { d.SettlementsCurrStatusReport("C"); },
       "59",
       {"C"},
       88000},
      {"TechnologicalReset",
       [](TDevice& d) { d.TechnologicalReset(); },
       "63",
       {"050324", "102030"}},
      {"FNClose", [](TDevice& d) { d.FNClose("Cashier"); }, "71", {"Cashier"}},
      {"FNDocumentCopy", [](TDevice& d) { d.FNDocumentCopy(42); }, "73", {"42"}, 88000},
      {"FNRegistrationReport", [](TDevice& d) { d.FNRegistrationReport(); }, "76", {}, 88000},
      {"PrintServiceData", [](TDevice& d) { d.PrintServiceData(); }, "94", {}, 88000},
      {"OpenDrawer", [](TDevice& d) { d.OpenDrawer(); }, "80", {}},
      {"Beep", [](TDevice& d) { d.Beep(10); }, "82", {"10"}},
      {"RegisterCashRegister",
       [](TDevice& d) {
         d.RegisterCashRegister(true, 1, 258, "0000000001012345", "7700000000", "Cashier", "Org1",
                                "Org2", "Addr1", "Addr2", "Place", "A1", "OFD", "770000000012",
                                "m@x.ru", "nalog.ru", 5);
       },
       "60",
       {"1",          "0000000001012345",
        "7700000000", "1",
        "2",          "Cashier",
        "050324",     "102030",
        "Org1",       "Org2",
        "Addr1",      "Addr2",
        "Place",      "A1",
        "OFD",        "770000000012",
        "m@x.ru",     "nalog.ru",
        "5",          "4"},
       88000},
      {"RegisterItemOlderFormats",
       [](TDevice& d) {
         d.RegisterItem("Milk", "A1", 257, 1.5, 123400, 2, 185100, 4, 1, "643", "DECL", 0, 10000);
       },
       "42",
       {"Milk", "A1", "1.5", "12.34", "2", "", "1", "", "", "", "4", "1"},
       15000,
       2},
      {"RegisterItemFormat12",
       [](TDevice& d) {
         d.RegisterItem("Milk", "A1", 3, 2, 123400, 2, 246800, 4, 33, "643", "DECL", 11, 12500);
       },
       "42",
       {"Milk", "A1", "2", "12.34", "2", "", "3", "", "11", "", "4", "33", "", "", "1.25"},
       15000,
       3},
      {"RegisterItemFormat12NegativeMeasure",
       [](TDevice& d) { d.RegisterItem("Milk", "", 1, 1, 10000, 1, 10000, 4, 1, "", "", -1, 0); },
       "42",
       {"Milk", "", "1", "1", "1", "", "1", "", "", "", "4", "1", "", "", "0"},
       15000,
       3},
      {"AddRequisiteOlderFormats",
       [](TDevice& d) {
         d.AddRequisite("@code", "Req", "pcs", "0", "7700000000", "+70000000000000000000", "Vendor",
                        "OpAddr", "7711111111", "OpName", "+71", "Op", "+72", "+73", "FOIV",
                        "01.01.2024", "Num", "Val");
       },
       "24",
       {"@code", "Req", "pcs", "0", "7700000000", "+700000000000000000", "Vendor", "OpAddr",
        "7711111111", "OpName", "+71", "Op", "+72", "+73"},
       15000,
       2},
      {"AddRequisiteFormat12",
       [](TDevice& d) {
         d.AddRequisite("@code", "Req", "pcs", "", "7700000000", "+70000000000000000000", "Vendor",
                        "OpAddr", "7711111111", "OpName", "+71", "Op", "+72", "+73", "030",
                        "01.01.2024", "Num", "Val");
       },
       "24",
       {"@code", "Req", "", "", "7700000000", "+70000000000000000000", "Vendor", "OpAddr",
        "7711111111", "OpName", "+71", "Op", "+72", "+73", "030", "01.01.2024", "Num", "Val"},
       15000,
       3},
      {"CloseDocumentBuyerOlderFormats",
       [](TDevice& d) {
         d.CloseDocument("a@b.c", "", "", "Attr", "Value", "Buyer", "7700000000123", "01.02.1990",
                         "643", "21", "4500 123456", "Moscow");
       },
       "31",
       {"0", "a@b.c", "0", "", "", "", "Attr", "Value", "Buyer", "770000000012"},
       15000,
       2},
      {"CloseDocumentBuyerFormat12",
       [](TDevice& d) {
         d.CloseDocument("a@b.c", "S", "L", "Attr", "Value", "Buyer", "770000000012", "01.02.1990",
                         "6430", "21", "4500 123456", "Moscow");
       },
       "31",
       {"0", "a@b.c", "0", "S", "L", "", "Attr", "Value", "Buyer", "770000000012", "01021990",
        "643", "21", "4500 123456", "Moscow"},
       15000,
       3},
  };
}

class DeviceCatalogue : public ::testing::TestWithParam<TCatalogueCase> {};

TEST_P(DeviceCatalogue, SendsItsCodeArgumentsAndTimeLimit) {
  const TCatalogueCase& c = GetParam();
  TManualClock clock(cNow);
  TScopedClock scoped(clock);
  TScriptedDevice device;
  TConnectionSettings settings;
  device.UseSettings(settings);
  settings.FFFDVersion = static_cast<TFFDVersion>(c.FFD);
  device.Answer({"0", "0"});
  ASSERT_NO_THROW(c.Call(device)) << c.Name;
  ASSERT_EQ(device.Sent.size(), 1u) << c.Name << " sends exactly one command";
  EXPECT_EQ(device.Sent[0].Cmd, c.Cmd) << c.Name;
  EXPECT_EQ(device.Sent[0].Args, c.Args) << c.Name;
  EXPECT_EQ(device.Sent[0].Timeout, c.Timeout) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(AllOperations, DeviceCatalogue, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Argument checks ------------------------------------------------------------------

TEST(DeviceCatalogueChecks, RefusedArgumentsSendNothing) {
  const std::vector<std::pair<const char*, std::function<void(TDevice&)>>> refused = {
      {"Beep(9)", [](TDevice& d) { d.Beep(9); }},
      {"Beep(2001)", [](TDevice& d) { d.Beep(2001); }},
      {"GetECRInfo(0)", [](TDevice& d) { d.GetECRInfo(0); }},
      {"GetECRInfo(72)", [](TDevice& d) { d.GetECRInfo(72); }},
      {"GetECRInfo(72, 1)", [](TDevice& d) { d.GetECRInfo(72, 1); }},
      {"GetCounterValue(0)", [](TDevice& d) { d.GetCounterValue(0); }},
      {"GetCounterValue(19)", [](TDevice& d) { d.GetCounterValue(19); }},
      {"OpenDocument type 8", [](TDevice& d) { d.OpenDocument(8, 1, "", 1, 0); }},
      {"OpenDocument type -1", [](TDevice& d) { d.OpenDocument(-1, 1, "", 1, 0); }},
      {"OpenDocument department 100", [](TDevice& d) { d.OpenDocument(1, 100, "", 1, 0); }},
      {"Payment(16)", [](TDevice& d) { d.Payment(16, 1, ""); }},
      {"OpenReceiptCopy type 1", [](TDevice& d) { d.OpenReceiptCopy(1, 1, "", 1, 1, cNow); }},
      {"OpenReceiptCopy department 0", [](TDevice& d) { d.OpenReceiptCopy(2, 0, "", 1, 1, cNow); }},
      {"OpenReceiptCopy register 10000",
       [](TDevice& d) { d.OpenReceiptCopy(2, 1, "", 1, 10000, cNow); }},
      {"RegisterItemEx tax 6",
       [](TDevice& d) { d.RegisterItemEx("x", "", 10000, 10000, 6, 0, "", false); }},
      {"RegisterItemEx discount on no quantity",
       [](TDevice& d) { d.RegisterItemEx("x", "", 0, 10000, 1, 100, "", false); }},
      {"RegisterCashRegister short number",
       [](TDevice& d) {
         d.RegisterCashRegister(false, 1, 0, "123", "7700000000", "", "", "", "", "", "", "", "",
                                "7700000000", "", "", 0);
       }},
      {"RegisterCashRegister INN of 11",
       [](TDevice& d) {
         d.RegisterCashRegister(false, 1, 0, "0000000001012345", "77000000001", "", "", "", "", "",
                                "", "", "", "7700000000", "", "", 0);
       }},
      {"RegisterCashRegister OFD INN of 9",
       [](TDevice& d) {
         d.RegisterCashRegister(false, 1, 0, "0000000001012345", "7700000000", "", "", "", "", "",
                                "", "", "", "770000000", "", "", 0);
       }},
  };
  for (const auto& [name, call] : refused) {
    TScriptedDevice device;
    EXPECT_EQ(ErrorOf([&] { call(device); }), "Неверный параметр") << name;
    EXPECT_TRUE(device.Sent.empty()) << name << " sent a command";
  }
}

TEST(DeviceCatalogueChecks, RegistrationCountsCharactersNotBytes) {
  TScriptedDevice device;
  // Sixteen Cyrillic letters are 32 UTF-8 bytes but 16 characters.
  EXPECT_NO_THROW(device.RegisterCashRegister(false, 1, 0, "АБВГДЕЖЗИЙКЛМНОП", "7700000000", "", "",
                                              "", "", "", "", "", "", "770000000012", "", "", 0));
  EXPECT_EQ(device.Sent.size(), 1u);
}

// ---- Answer reading -------------------------------------------------------------------

TEST(DeviceCatalogueAnswers, EcrStatusAndDayState) {
  TScriptedDevice device;
  device.Answer({"1", "12", "3"});
  uint8_t fatal = 0, doc = 0;
  uint16_t current = 0;
  device.GetECRStatus(fatal, current, doc);
  EXPECT_EQ(fatal, 1);
  EXPECT_EQ(current, 12);
  EXPECT_EQ(doc, 3);

  device.Answer({"0", "x", "0"});
  device.GetECRStatus(fatal, current, doc);
  EXPECT_EQ(current, 0) << "not a number reads as 0";

  const std::pair<const char*, int> states[] = {{"12", 3}, {"8", 3}, {"4", 2}, {"0", 1}};
  for (const auto& [status, expected] : states) {
    device.Answer({"0", status, "0"});
    EXPECT_EQ(device.GetDayState(), expected) << "current status " << status;
  }
}

TEST(DeviceCatalogueAnswers, PrinterStateMustBeANumberDrawerStateNeedNot) {
  TScriptedDevice device;
  device.Answer({"5"});
  EXPECT_EQ(device.GetPrinterState(), 5);
  device.Answer({"x"});
  EXPECT_NE(ErrorOf([&] { device.GetPrinterState(); }), "");
  device.Answer({"  7"});
  EXPECT_EQ(device.GetPrinterState(), 7) << "read like every other number: leading blanks";
  device.Answer({"x"});
  EXPECT_EQ(device.GetDrawerState(), 0);
  device.Answer({"1"});
  EXPECT_EQ(device.GetDrawerState(), 1);
}

TEST(DeviceCatalogueAnswers, LastReceiptInfo) {
  TScriptedDevice device;
  device.Answer({"0", "2", "17", "5", "120", "1234.56", "0.5", "0.004999", "KPK1"});
  int64_t type, rec, doc, sum, discount, margin;
  std::string oper, kpk;
  device.GetLastReceiptInfo(type, oper, rec, doc, sum, discount, margin, kpk);
  EXPECT_EQ(type, 2);
  EXPECT_EQ(oper, "17");
  EXPECT_EQ(rec, 5);
  EXPECT_EQ(doc, 120);
  EXPECT_EQ(sum, 12345600);
  EXPECT_EQ(discount, 5000);
  EXPECT_EQ(margin, 50) << "rounded to the nearest fixed-point unit";
  EXPECT_EQ(kpk, "KPK1");
}

TEST(DeviceCatalogueAnswers, ValuesTheirFieldsCannotHoldAreProtocolErrors) {
  TScriptedDevice device;
  int64_t type, rec, doc, sum, discount, margin;
  std::string oper, kpk;
  for (const char* tooLarge : {"1000000000000000", "-1e15"}) {
    device.Answer({"0", "2", "17", "5", "120", tooLarge, "0", "0", "KPK1"});
    EXPECT_EQ(ErrorOf([&] {
                device.GetLastReceiptInfo(type, oper, rec, doc, sum, discount, margin, kpk);
              }),
              "Ошибка протокола обмена")
        << tooLarge << " must not wrap into a sum";
  }
  uint8_t fatal = 0, document = 0;
  uint16_t current = 0;
  for (const std::vector<std::string>& status : std::vector<std::vector<std::string>>{
           {"0", "65544", "0"}, {"256", "4", "0"}, {"0", "4", "-1"}}) {
    device.Answer(status);
    EXPECT_EQ(ErrorOf([&] { device.GetECRStatus(fatal, current, document); }),
              "Ошибка протокола обмена")
        << status[0] << "/" << status[1] << "/" << status[2];
  }
  device.Answer({"0", "65544", "0"});
  EXPECT_EQ(ErrorOf([&] { device.GetDayState(); }), "Ошибка протокола обмена")
      << "65544 cut to 16 bits would be a shift over 24 hours";
}

TEST(DeviceCatalogueAnswers, SettingTableReads) {
  TScriptedDevice device;
  device.Answer({"200"});
  EXPECT_EQ(device.ReadSettingTableByte(1, 0), 200);
  device.Answer({"oops"});
  EXPECT_EQ(device.ReadSettingTableWord(1, 0), 0);
  device.Answer({"2.75"});
  EXPECT_DOUBLE_EQ(device.ReadSettingTableFloat(1, 0), 2.75);
  device.Answer({"\x88\xA2"});
  EXPECT_EQ(device.ReadSettingTableStr(1, 0), "Ив");
}

TEST(DeviceCatalogueAnswers, DateTimeJoinsTheTwoFields) {
  TScriptedDevice device;
  device.Answer({"311224", "235958"});
  EXPECT_EQ(device.GetDateTime(), (TDateTime{2024, 12, 31, 23, 59, 58, 0}));
}

TEST(DeviceCatalogueAnswers, FfdVersionMapping) {
  const std::pair<const char*, int> map[] = {{"2", 1}, {"3", 2}, {"4", 3}, {"1", 0}, {"x", 0}};
  for (const auto& [field, expected] : map) {
    TScriptedDevice device;
    device.Answer({"14", "0", "0", field});
    EXPECT_EQ(device.GetFFD(), expected) << "field 3 = " << field;
    EXPECT_EQ(device.Sent[0].Args, (TDeviceArgs{"14", "0", "0"}));
  }
}

TEST(DeviceCatalogueAnswers, LastDocumentInfoDecodesTheHexBlock) {
  TScriptedDevice device;
  device.Answer({"3", "4711"});
  // 2024-03-05 14:07, document 0x00001267, fiscal sign 0xA1B2C3D4.
  device.Answer({"11", "1803050E0767120000D4C3B2A1"});
  TDateTime date;
  uint32_t num = 0, sign = 0;
  device.FNGetLastDocInfo(date, num, sign);
  ASSERT_EQ(device.Sent.size(), 2u);
  EXPECT_EQ(device.Sent[0].Args, (TDeviceArgs{"3", "0", "0"}));
  EXPECT_EQ(device.Sent[1].Args, (TDeviceArgs{"11", "4711", "0"}));
  EXPECT_EQ(date, (TDateTime{2024, 3, 5, 14, 7, 0, 0}));
  EXPECT_EQ(num, 0x1267u);
  EXPECT_EQ(sign, 0xA1B2C3D4u);

  device.Answer({"3", "4711"});
  device.Answer({"11", "18030500"});
  EXPECT_EQ(ErrorOf([&] { device.FNGetLastDocInfo(date, num, sign); }), "invalid data length");
}

// ---- Operations of several commands -----------------------------------------------------

TEST(DevicePrintString, CutsIntoLinePiecesAndTurnsTheMarkerIntoACut) {
  TScriptedDevice device;
  TConnectionSettings settings;
  device.UseSettings(settings);
  settings.FLineLen = 40;
  settings.FCutString = "[cut]";
  std::string text(100, 'x');
  device.PrintString(text, 2, true, false);
  ASSERT_EQ(device.Sent.size(), 3u);
  EXPECT_EQ(device.Sent[0].Args, (TDeviceArgs{std::string(40, 'x'), "18"}));
  EXPECT_EQ(device.Sent[1].Args[0].size(), 40u);
  EXPECT_EQ(device.Sent[2].Args, (TDeviceArgs{std::string(20, 'x'), "18"}));

  // The text is split at the markers first, then into lines: what surrounds
  // a marker is printed, and a marker across two lines still cuts.
  const auto sent = [&device](std::string_view AText) {
    device.Sent.clear();
    device.PrintString(AText, 0, false, false);
    std::vector<std::string> lines;
    for (const TSentCommand& c : device.Sent)
      lines.push_back(c.Cmd == "34" ? "<cut>" : TDevice::FromDeviceText(c.Args[0]));
    return lines;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(sent("До[cut]После"), (V{"До", "<cut>", "После"}));
  EXPECT_EQ(sent(std::string(38, 'a') + "[cut]" + std::string(45, 'b')),
            (V{std::string(38, 'a'), "<cut>", std::string(40, 'b'), "bbbbb"}))
      << "the marker spans characters 39 to 43";
  EXPECT_EQ(sent("[cut]x[cut][cut]"), (V{"<cut>", "x", "<cut>", "<cut>"}));
  EXPECT_TRUE(device.Sent[0].Args.empty());
  settings.FCutString = "✂";  // "?" in the register's code page
  EXPECT_EQ(sent("Да?✂Нет"), (V{"Да?", "<cut>", "Нет"}));
  settings.FLineLen = 4;
  settings.FCutString = "[конец строки]";
  EXPECT_EQ(sent("абвгд[конец строки]е"), (V{"абвг", "д", "<cut>", "е"}))
      << "a marker longer than a line, Cyrillic cut by characters";
}

TEST(DevicePrintString, EdgeCases) {
  TScriptedDevice device;
  TConnectionSettings settings;
  device.UseSettings(settings);
  device.PrintString("", 0, false, false);
  EXPECT_TRUE(device.Sent.empty()) << "an empty text sends nothing";

  settings.FLineLen = 3;
  device.PrintString("Привет", 0, false, false);  // counted in characters
  ASSERT_EQ(device.Sent.size(), 2u);
  EXPECT_EQ(device.Sent[0].Args[0], "\x8F\xE0\xA8");

  device.Sent.clear();
  settings.FLineLen = 0;
  device.PrintString("whole text", 0, false, false);
  ASSERT_EQ(device.Sent.size(), 1u);
  EXPECT_EQ(device.Sent[0].Args[0], "whole text");

  device.Sent.clear();
  settings.FLineLen = 4;
  settings.FCutString = "";
  device.PrintString("abcd", 0, false, false);
  EXPECT_EQ(device.Sent[0].Cmd, "40") << "an empty marker never cuts";
}

TEST(DeviceRegisterItemEx, EvenDiscountKeepsQuantityAndLowersThePrice) {
  TScriptedDevice device;
  TConnectionSettings settings;
  device.UseSettings(settings);
  settings.FLineLen = 20;
  device.RegisterItemEx("Tea", "A", 20000, 100000, 1, 10000, "", false);
  ASSERT_EQ(device.Sent.size(), 2u);
  EXPECT_EQ(device.Sent[0].Cmd, "42");
  EXPECT_EQ(device.Sent[0].Args, (TDeviceArgs{"Tea", "A", "2", "9.5", "1", "", "", "0", "", "0"}));
  EXPECT_EQ(device.Sent[1].Cmd, "40");
  EXPECT_EQ(device.Sent[1].Args[0],
            "\x91\xAA\xA8\xA4\xAA\xA0"
            "         =1.00")
      << "label, spaces, right part: 20 characters";
}

TEST(DeviceRegisterItemEx, UnevenDiscountGoesAsOneUnit) {
  TScriptedDevice device;
  TConnectionSettings settings;
  device.UseSettings(settings);
  settings.FLineLen = 20;
  device.RegisterItemEx("Tea", "A", 30000, 100000, 1, 10000, "Promo", true);
  ASSERT_EQ(device.Sent.size(), 2u);
  EXPECT_EQ(device.Sent[0].Args,
            (TDeviceArgs{"Tea *3", "A", "1", "29", "1", "", "", "0", "", "0"}));
  EXPECT_EQ(device.Sent[1].Cmd, "49") << "fiscal lines go as print props";
  EXPECT_EQ(device.Sent[1].Args[2], "Promo          =1.00");
}

TEST(DeviceRegisterItemEx, LongNameIsCutToLeaveRoomForTheQuantity) {
  TScriptedDevice device;
  device.RegisterItemEx(std::string(300, 'n'), "", 30000, 100000, 1, 10000, "", false);
  const std::string& name = device.Sent[0].Args[0];
  EXPECT_EQ(name.size(), 224u);
  EXPECT_EQ(name.substr(220), "n *3");
}

TEST(DeviceRegisterItemEx, MarginAndNoDiscount) {
  TScriptedDevice device;
  TConnectionSettings settings;
  device.UseSettings(settings);
  settings.FLineLen = 4;
  device.RegisterItemEx("Tea", "", 10000, 100000, 1, -5000, "", false);
  ASSERT_EQ(device.Sent.size(), 2u);
  EXPECT_EQ(device.Sent[0].Args[3], "10.5") << "a margin raises the price";
  EXPECT_EQ(device.Sent[1].Args[0], "=0.5") << "the right part alone when it fills the line";

  device.Sent.clear();
  device.RegisterItemEx("Tea", "", 15000, 99900, 0, 0, "", false);
  ASSERT_EQ(device.Sent.size(), 1u) << "no discount line without a discount";
  EXPECT_EQ(device.Sent[0].Args,
            (TDeviceArgs{"Tea", "", "1.5", "9.99", "0", "", "", "0", "", "0"}));
}

TEST(DeviceRegisterItemEx, AmountsBeyondTheMoneyRangeNeverWrap) {
  TScriptedDevice device;
  TConnectionSettings settings;
  device.UseSettings(settings);
  settings.FLineLen = 40;
  // A unit price of 10^15 (quantity 0.0001) does not fit the money range;
  // the line itself does and goes as one unit.
  device.RegisterItemEx("x", "", 1, 0, 1, -1'000'000'000'000'000, "", false);
  ASSERT_EQ(device.Sent.size(), 2u);
  EXPECT_EQ(device.Sent[0].Args[0], "x *0.0001");
  EXPECT_EQ(device.Sent[0].Args[2], "1");
  EXPECT_EQ(device.Sent[0].Args[3], "100000000000");
  const std::string margin = device.Sent[1].Args[0];
  EXPECT_EQ(margin.substr(margin.size() - 16), "=100000000000.00");

  // A line that does not fit either is refused before anything is sent.
  device.Sent.clear();
  EXPECT_EQ(ErrorOf([&] { device.RegisterItemEx("x", "", INT64_MAX, INT64_MAX, 1, 1, "", false); }),
            "Неверный параметр");
  EXPECT_TRUE(device.Sent.empty());

  // The smallest 64-bit value has no positive twin: its size is still printed.
  device.Sent.clear();
  device.RegisterItemEx("x", "", 10000, INT64_MIN, 1, INT64_MIN, "", false);
  ASSERT_EQ(device.Sent.size(), 2u);
  EXPECT_EQ(device.Sent[0].Args[3], "0");
  const std::string line = device.Sent[1].Args[0];
  EXPECT_EQ(line.substr(line.size() - 19), "=922337203685477.58");
}

TEST(DeviceRegisterItemEx, MarginLabelAndWideLine) {
  TScriptedDevice device;
  TConnectionSettings settings;
  device.UseSettings(settings);
  settings.FLineLen = 14;
  device.RegisterItemEx("Tea", "", 10000, 100000, 1, -12345, "", false);
  // "Наценка " (8) + 1 space + "=1.23" = 14 characters.
  EXPECT_EQ(TDevice::FromDeviceText(device.Sent[1].Args[0]), "Наценка  =1.23");
}

}  // namespace
