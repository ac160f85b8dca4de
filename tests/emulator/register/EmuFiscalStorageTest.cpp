// Stored fiscal documents read back record by record and decoded by the
// test's own TLV reader; numbers and fiscal signs agree across requests.
#include "EmuRegisterFixture.h"

namespace {

std::string Text(const TTestTlv* r) {
  return r ? OemToUtf8(r->Value) : "<absent>";
}
uint64_t Number(const TTestTlv* r) {
  return r ? LittleEndianValue(r->Value) : 999999999;
}

// Fiscal sign of a 6-byte block: bytes 3 to 6, most significant first.
uint32_t SignOf(const TTestTlv* r) {
  if (!r || r->Value.size() != 6) return 0;
  uint32_t v = 0;
  for (size_t i = 2; i < 6; ++i) v = v * 256 + static_cast<uint8_t>(r->Value[i]);
  return v;
}

}  // namespace

TEST_F(EmuRegisterTest, StoredReceiptDecodesWithEveryRequisite) {
  OpenShift();
  OpenReceipt(2, "500100732259&Иванов И.И.");
  Item("Молоко 3,2%", "1.5", "80", "1");
  Item("Хлеб", "2", "30", "0");
  Pay(1, "100");
  Pay(0, "100");
  Close();
  const int number = std::stoi(Field("78", {"3", "0", "0"}, 1));
  int type = 0;
  const std::string bytes = ReadDocument(number, &type);
  EXPECT_EQ(type, 3) << "a receipt";
  std::vector<TTestTlv> doc;
  ASSERT_TRUE(ReadTestTlv(bytes, doc)) << "stored receipt is not a valid TLV sequence";

  EXPECT_EQ(Text(FindTag(doc, 1000)), "Кассовый чек");
  EXPECT_EQ(Text(FindTag(doc, 1021)), "Иванов И.И.");
  EXPECT_EQ(Text(FindTag(doc, 1203)), "500100732259");
  EXPECT_EQ(Number(FindTag(doc, 1012)), 1709632800u) << "2024-03-05 10:00:00 as local seconds";
  EXPECT_EQ(Number(FindTag(doc, 1038)), 1u);
  EXPECT_EQ(Number(FindTag(doc, 1040)), static_cast<uint64_t>(number));
  EXPECT_EQ(Number(FindTag(doc, 1054)), 1u) << "sale";
  EXPECT_EQ(Number(FindTag(doc, 1055)), 1u) << "first registered taxation system";
  EXPECT_EQ(Number(FindTag(doc, 1020)), 18000u) << "total in kopecks";
  EXPECT_EQ(Number(FindTag(doc, 1031)), 8000u) << "cash net of the 20.00 change";
  EXPECT_EQ(Number(FindTag(doc, 1081)), 10000u);
  EXPECT_EQ(Number(FindTag(doc, 1215)), 0u);
  EXPECT_EQ(Number(FindTag(doc, 1216)), 0u);
  EXPECT_EQ(Number(FindTag(doc, 1217)), 0u);
  const TTestTlv* sign = FindTag(doc, 1077);
  ASSERT_NE(sign, nullptr);
  EXPECT_EQ(sign->Value.size(), 6u);

  std::vector<const TTestTlv*> items;
  for (const auto& r : doc)
    if (r.Tag == 1059) items.push_back(&r);
  ASSERT_EQ(items.size(), 2u);
  const auto& first = items[0]->Children;
  EXPECT_EQ(Text(FindTag(first, 1030)), "Молоко 3,2%");
  const TTestTlv* qty = FindTag(first, 1023);
  ASSERT_NE(qty, nullptr);
  EXPECT_EQ(static_cast<uint8_t>(qty->Value[0]), 1) << "one decimal digit";
  EXPECT_EQ(LittleEndianValue(qty->Value.substr(1)), 15u);
  EXPECT_EQ(Number(FindTag(first, 1079)), 8000u);
  EXPECT_EQ(Number(FindTag(first, 1043)), 12000u);
  EXPECT_EQ(Number(FindTag(first, 1199)), 2u) << "10 %";
  EXPECT_EQ(Number(FindTag(first, 1200)), 1091u) << "VAT 10/110 of 120.00";
  EXPECT_EQ(Number(FindTag(first, 1212)), 1u);
  EXPECT_EQ(Number(FindTag(first, 1214)), 4u);
  EXPECT_EQ(Number(FindTag(items[1]->Children, 1200)), 1000u) << "VAT 20/120 of 60.00";
  EXPECT_EQ(FindTag(first, 1163), nullptr) << "no product code";
}

TEST_F(EmuRegisterTest, DocumentInfoAgreesWithStoredRecords) {
  OpenShift();
  ClockRef().Advance(std::chrono::minutes(75));
  OpenReceipt();
  Item("Товар", "1", "10");
  Pay(0, "10");
  Close();
  const std::string last = Field("78", {"3", "0", "0"}, 1);
  EXPECT_EQ(last, "3") << "registration, shift opening, receipt";
  const std::string hex = Field("78", {"11", last, "0"}, 1);
  const std::string info = HexToBytes(hex);
  ASSERT_GE(info.size(), 13u);
  EXPECT_EQ(static_cast<int>(info[0]), 24);
  EXPECT_EQ(static_cast<int>(info[1]), 3);
  EXPECT_EQ(static_cast<int>(info[2]), 5);
  EXPECT_EQ(static_cast<int>(info[3]), 11);
  EXPECT_EQ(static_cast<int>(info[4]), 15);
  EXPECT_EQ(LittleEndianValue(info.substr(5, 4)), 3u);
  const uint32_t sign = static_cast<uint32_t>(LittleEndianValue(info.substr(9, 4)));
  std::vector<TTestTlv> doc;
  ASSERT_TRUE(ReadTestTlv(ReadDocument(3), doc));
  EXPECT_EQ(SignOf(FindTag(doc, 1077)), sign) << "78/11 and tag 1077 carry the same sign";
  EXPECT_EQ(Number(FindTag(doc, 1040)), 3u);
  EXPECT_EQ(Reg().Document(3)->FiscalSign, sign);

  // Every stored document reads back completely and as valid TLV.
  for (int n = 1; n <= 3; ++n) {
    std::vector<TTestTlv> d;
    EXPECT_TRUE(ReadTestTlv(ReadDocument(n), d)) << "document " << n;
    EXPECT_NE(FindTag(d, 1000), nullptr) << "document " << n << " has a name";
    EXPECT_EQ(Number(FindTag(d, 1040)), static_cast<uint64_t>(n));
  }
  std::vector<TTestTlv> open;
  ASSERT_TRUE(ReadTestTlv(ReadDocument(2), open));
  EXPECT_EQ(Text(FindTag(open, 1000)), "Отчёт об открытии смены");
  EXPECT_EQ(Number(FindTag(open, 1038)), 1u);
}

TEST_F(EmuRegisterTest, ReadingPastTheEndAndMissingDocuments) {
  Refused("78", {"15", "9", "0"}, EmuError::FnNoData, EmuExt::None);
  Refused("78", {"11", "0", "0"}, EmuError::FnNoData, EmuExt::None);
  Refused("78", {"16", "0", "0"}, EmuError::FnNoData, EmuExt::None);
  ReadDocument(1);
  Refused("78", {"16", "0", "0"}, EmuError::FnNoData, EmuExt::None);
  Refused("78", {"8", "0", "0"}, EmuError::BadParameter, EmuExt::RequestNumber);
}

// Cash in and out are no fiscal documents: the storage gets no record of
// them, the close answers no number, and the shift close follows the open.
TEST_F(EmuRegisterTest, TheShiftCloseIsStoredAndCashDocumentsAreNot) {
  OpenShift();
  const int opened = Reg().LastDocumentNumber();
  for (const char* type : {"4", "5"}) {
    Ok("30", {type, "1", " ", "1", "0"});
    Ok("48", {"", "250.5"});
    const TEmuAnswer close = Run("31", {"0", ""});
    EXPECT_EQ(close.Error, 0);
    EXPECT_TRUE(close.Fields.empty()) << "a cash document has no document number to answer";
  }
  EXPECT_EQ(Reg().LastDocumentNumber(), opened);
  EXPECT_EQ(Field("01", {"7"}, 5), "1") << "the shift still counts the cash-in";
  Ok("21", {"Иванов"});
  const int last = Reg().LastDocumentNumber();
  EXPECT_EQ(last, opened + 1);
  std::vector<TTestTlv> close;
  int type = 0;
  ASSERT_TRUE(ReadTestTlv(ReadDocument(last, &type), close));
  EXPECT_EQ(type, efdShiftClose);
  EXPECT_EQ(Text(FindTag(close, 1000)), "Отчёт о закрытии смены");
  EXPECT_EQ(Number(FindTag(close, 1038)), 1u);
  EXPECT_EQ(Number(FindTag(close, 1111)), 2u) << "the shift's documents: its open and its close";
  EXPECT_EQ(Number(FindTag(close, 1097)), 0u) << "online: nothing waits for the operator";
}

TEST_F(EmuRegisterTest, OfflineBacklogIsReported) {
  Reg().SetOfdOnline(false);
  OpenShift();
  const int first = Reg().LastDocumentNumber();
  OpenReceipt();
  Item("Товар", "1", "10");
  Pay(0, "10");
  Close();
  const TEmuAnswer a = Run("78", {"7", "0", "0"});
  ASSERT_EQ(a.Error, 0);
  ASSERT_EQ(a.Fields.size(), 6u);
  EXPECT_EQ(a.Fields[2], "2") << "shift opening and receipt unsent";
  EXPECT_EQ(a.Fields[3], std::to_string(first));
  EXPECT_EQ(a.Fields[4], "050324");
  Reg().SetFnWarnings(0x05);
  EXPECT_EQ(Field("78", {"7", "0", "0"}, 1), "5");
  Reg().SetOfdOnline(true);
  EXPECT_EQ(Field("78", {"7", "0", "0"}, 2), "0");
}

TEST_F(EmuRegisterTest, CorrectionReceiptsInBothFormats) {
  OpenShift();
  // 1.2: taxpayer's own correction of a sale, then built like a receipt.
  Ok("58", {"Иванов", "", "", "", "", "", "0", "290224", "7"});
  Item("Коррекция", "1", "100");
  Pay(0, "100");
  Close();
  std::vector<TTestTlv> doc;
  int type = 0;
  ASSERT_TRUE(ReadTestTlv(ReadDocument(Reg().LastDocumentNumber(), &type), doc));
  EXPECT_EQ(type, efdCorrection);
  EXPECT_EQ(Text(FindTag(doc, 1000)), "Кассовый чек коррекции");
  EXPECT_EQ(Number(FindTag(doc, 1173)), 0u);
  const TTestTlv* base = FindTag(doc, 1174);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(Text(FindTag(base->Children, 1179)), "7");
  EXPECT_EQ(Number(FindTag(base->Children, 1178)), 1709164800u) << "2024-02-29";
  // Driver's byte for a missing taxation system sets bits 2..7: refused.
  Refused("58", {"", "", "", "", "", "", "253", "290224", "7"}, EmuError::BadParameter,
          EmuExt::TaxSystem);
  Ok("21", {""});

  Options.FfdVersion = "1.05";
  Restart();
  OpenShift();
  Reg().SetCash(100000);
  Ok("58",
     {"Иванов", "10", "5", "0", "0", "0", "35", "290224", "7", "", "2.5", "0", "0", "0", "0", "0"});
  std::vector<TTestTlv> old;
  ASSERT_TRUE(ReadTestTlv(ReadDocument(Reg().LastDocumentNumber()), old));
  EXPECT_EQ(Number(FindTag(old, 1020)), 1500u);
  EXPECT_EQ(Number(FindTag(old, 1054)), 3u) << "bit 1: purchase";
  EXPECT_EQ(Number(FindTag(old, 1173)), 1u) << "bit 0: by order";
  EXPECT_EQ(Number(FindTag(old, 1102)), 250u);
}

TEST_F(EmuRegisterTest, LegacyProductCodeIsStoredUnescaped) {
  Options.FfdVersion = "1.1";
  OpenShift();
  OpenReceipt();
  // "DM", six GTIN bytes (two of them below 0x20, escaped), then the serial.
  const std::string raw = std::string("DM\x00\x04\x60\xF4\x39\x93", 8) + "5Aq7t";
  std::vector<std::string> requisites(14);
  requisites[0] = std::string("DM$00$04\x60\xF4\x39\x93", 12) + "5Aq7t";
  requisites[3] = "0";
  ASSERT_EQ(Reg().Execute("24", requisites).Error, 0);
  Item("Сигареты", "1", "150");
  Pay(0, "150");
  Close();
  std::vector<TTestTlv> doc;
  ASSERT_TRUE(ReadTestTlv(ReadDocument(Reg().LastDocumentNumber()), doc));
  const TTestTlv* item = FindTag(doc, 1059);
  ASSERT_NE(item, nullptr);
  const TTestTlv* code = FindTag(item->Children, 1162);
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(BytesToHex(code->Value), BytesToHex(raw));
  EXPECT_EQ(FindTag(item->Children, 1163), nullptr) << "no 1.2 code container before 1.2";
}
