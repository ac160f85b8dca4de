// Reading a stored document back: every data type decoded from its bytes, the
// receipt package built from the elements, and records that do not hold
// together ending in a clear error instead of a read past the data or a loop.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <chrono>
#include <sstream>

#include "ScriptedDevice.h"
#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"
#include "fiscal/uCheckPackage.h"

namespace {

std::string Tlv(int tag, const std::string& value, int length = -1) {
  const int len = length < 0 ? static_cast<int>(value.size()) : length;
  return std::string{char(tag & 0xFF), char(tag >> 8), char(len & 0xFF), char(len >> 8)} + value;
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// A register holding one document of these records.
void Script(TScriptedDevice& dev, const std::vector<std::string>& records, int docType = 3,
            int extraLength = 0) {
  size_t total = 0;
  for (const auto& r : records) total += r.size();
  dev.Answer({"15", std::to_string(docType), std::to_string(total + extraLength)});
  for (const auto& r : records) dev.Answer({BytesToHex(r)});
}

std::string Xml(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  return out.str();
}

std::map<int, std::string> Values(TDevice& dev) {
  std::map<int, std::string> values;
  for (const TDocElement& e : dev.DocElementList()) values[e.Tag] = e.Value;
  return values;
}

// A register that takes its time over every answer.
class TSlowStorage : public TScriptedDevice {
 public:
  TSlowStorage(TManualClock& AClock, std::chrono::milliseconds AEach) {
    OnCommand = [&AClock, AEach] { AClock.Advance(AEach); };
  }
};

TEST(DocumentReadout, EveryDataTypeDecodesIncludingValuesWiderThan32Bits) {
  TScriptedDevice dev;
  Script(dev, {Tlv(1000, Utf8ToOem("Кассовый чек")), Tlv(1055, Bytes({0x04})),
               Tlv(1012, Bytes({0xBF, 0x5E, 0xBB, 0x65})),  // 1706778303 s
               Tlv(1040, Bytes({0x2A, 0, 0, 0})), Tlv(1054, Bytes({2})),
               Tlv(1077, Bytes({0, 0, 0x12, 0x34, 0x56, 0x78})), Tlv(1020, Bytes({0x10, 0x27})),
               Tlv(1031, Bytes({0xFF, 0xFF, 0xFF, 0xFF})),
               Tlv(1081, Bytes({0, 0, 0, 0, 1, 0, 0, 0, 0, 0})),  // 2^32 kopecks, zero-padded
               Tlv(1215, Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9})),     // past 64 bits: no value
               Tlv(1023, Bytes({2, 0x2C, 0x01})), Tlv(1097, Bytes({5, 0})), Tlv(9999, "x"),
               Tlv(9998, "xy", 200), Bytes({0x0F, 0x27})});
  pugi::xml_document out;
  ReadCheckPackage(dev, 7, out);
  ASSERT_EQ(dev.Sent.size(), 16u);
  EXPECT_EQ(dev.Sent[0].Args, (TDeviceArgs{"15", "7", "0"}));
  EXPECT_EQ(dev.Sent[1].Args, (TDeviceArgs{"16", "0", "0"}));
  const auto v = Values(dev);
  EXPECT_EQ(v.at(1000), "Кассовый чек");
  EXPECT_EQ(v.at(1055), "4") << "1055 is the number of its first byte";
  EXPECT_EQ(v.at(1012), "2024-02-01T09:05:03");
  EXPECT_EQ(v.at(1040), "42");
  EXPECT_EQ(v.at(1054), "2");
  EXPECT_EQ(v.at(1077), "305419896");
  EXPECT_EQ(v.at(1020), "100");
  EXPECT_EQ(v.at(1031), "42949672.95") << "a 32-bit signed read would give -0.01";
  EXPECT_EQ(v.at(1081), "42949672.96");
  EXPECT_EQ(v.at(1215), "");
  EXPECT_EQ(v.at(1023), "3");
  EXPECT_EQ(v.at(1097), "5") << "a value shorter than 4 bytes reads what is there";
  EXPECT_EQ(v.count(9999), 0u) << "an unknown top-level tag is skipped";
  EXPECT_EQ(v.count(9998), 0u) << "whatever its length says: its value is never read";

  std::string value;
  GetTLVValue(Tlv(1023, Bytes({0, 5})), 1023, value, 0, tdtFVLN);
  EXPECT_EQ(value, "5");
  GetTLVValue(Tlv(1023, Bytes({4, 7})), 1023, value, 0, tdtFVLN);
  EXPECT_EQ(value, "0.0007");
  GetTLVValue(Tlv(1023, Bytes({0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})), 1023, value, 0,
              tdtFVLN);
  EXPECT_EQ(value, "18446744073709551615");
}

TEST(DocumentReadout, ReceiptElementsLandInTheReceiptPackageForm) {
  TScriptedDevice dev;
  dev.Answer({"3", "12"});  // last document number
  const std::string item1 =
      Tlv(1059, Tlv(1030, Utf8ToOem("Хлеб")) + Tlv(1023, Bytes({0, 2})) +
                    Tlv(1079, Bytes({0x88, 0x13})) + Tlv(1043, Bytes({0x10, 0x27})) +
                    Tlv(1163, Tlv(1305,
                                  "010460\x1D"
                                  "91EE")) +
                    Tlv(1212, Bytes({1})));
  const std::string item2 = Tlv(1059, Tlv(1030, "Milk") + Tlv(1200, Bytes({0x32})));
  Script(dev,
         {Tlv(1040, Bytes({12, 0, 0, 0})), Tlv(1021, Utf8ToOem("Иванов")), item1,
          Tlv(1031, Bytes({0x10, 0x27})), item2, Tlv(1081, Bytes({0x32})), Tlv(1021, "Petrov")});
  pugi::xml_document out;
  ReadCheckPackage(dev, 0, out);
  EXPECT_EQ(dev.Sent[0].Args, (TDeviceArgs{"3", "0", "0"}));
  EXPECT_EQ(dev.Sent[1].Args, (TDeviceArgs{"15", "12", "0"})) << "0 reads the last document";
  EXPECT_EQ(Xml(out),
            "<?xml version=\"1.0\"?><CheckPackage><Parameters DocumentType=\"3\" DocNumber=\"12\" "
            "CashierName=\"Petrov\"/><Positions><FiscalString Name=\"Хлеб\" Quantity=\"2\" "
            "PriceWithDiscount=\"50\" AmountWithDiscount=\"100\" MarkingCode=\"" +
                Base64Encode("010460\x1D"
                             "91EE") +
                "\" CalculationSubject=\"1\"/><FiscalString Name=\"Milk\" VATAmount=\"0.5\"/>"
                "</Positions><Payments Cash=\"100\" ElectronicPayment=\"0.5\"/>"
                "</CheckPackage>");

  // Inside a container a remainder too short for a record with a value is left
  // alone and the records before it are read.
  TScriptedDevice tail;
  Script(tail, {Tlv(1059, Tlv(1030, "ab") + "\x01\x02\x03")});
  ASSERT_EQ(ErrorOf([&] { ReadCheckPackage(tail, 1, out); }), "");
  ASSERT_EQ(tail.DocElementList().size(), 2u);
  EXPECT_EQ(tail.DocElementList()[1].Value, "ab");

  TScriptedDevice bare;
  Script(bare, {Tlv(1040, Bytes({1}))}, 21);
  ReadCheckPackage(bare, 1, out);
  EXPECT_EQ(Xml(out),
            "<?xml version=\"1.0\"?><CheckPackage><Parameters DocumentType=\"21\" DocNumber=\"1\"/>"
            "</CheckPackage>")
      << "no items and no payments: neither element";
}

TEST(DocumentReadout, MalformedRecordsEndInAClearErrorAndKeepWhatWasRead) {
  const std::string prefix = "Ошибка чтения данных из ФН. ";
  struct TCase {
    const char* Name;
    std::vector<std::string> Records;
    int ExtraLength;
    std::string Error;
  };
  std::string deep = Tlv(1030, "x");
  for (int i = 0; i < 3000; ++i) deep = Tlv(1059, deep);
  const TCase cases[] = {
      {"length past the record", {Tlv(1030, "abc", 200)}, 0, "Длина реквизита 1030 выходит"},
      {"child past its container",
       {Tlv(1059, Tlv(1030, "ab", 9))},
       0,
       "Длина реквизита 1030 выходит"},
      {"header cut short", {Bytes({0x06, 0x04, 0x01})}, 0, "Заголовок реквизита оборван"},
      {"two records in one answer",
       {Tlv(1030, "a") + Tlv(1030, "b")},
       0,
       "За реквизитом 1030 в записи лишние"},
      {"endless nesting", {deep}, 0, "Реквизит 1059 вложен глубже 8 уровней"},
      {"document longer than announced", {Tlv(1030, "abcdef")}, -2, "Записи документа длиннее"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TScriptedDevice dev;
    Script(dev, {Tlv(1040, Bytes({5}))}, 3, 0);
    dev.Answers.front().Fields[2] = std::to_string(5 + c.Records[0].size() + c.ExtraLength);
    for (const auto& r : c.Records) dev.Answer({BytesToHex(r)});
    pugi::xml_document out;
    out.append_child("Untouched");
    const std::string error = ErrorOf([&] { ReadCheckPackage(dev, 5, out); });
    EXPECT_EQ(error.rfind(prefix + c.Error, 0), 0u) << error;
    EXPECT_STREQ(out.first_child().name(), "Untouched") << "no XML is written on failure";
    ASSERT_FALSE(dev.DocElementList().empty());
    EXPECT_EQ(dev.DocElementList()[0].Value, "5") << "elements read before the fault stay";
  }

  TScriptedDevice empty;
  empty.Answer({"15", "3", "100"});
  empty.Answer({""});
  pugi::xml_document out;
  EXPECT_EQ(ErrorOf([&] { ReadCheckPackage(empty, 1, out); }),
            prefix + "ФН не передал очередную запись документа")
      << "an empty answer never reaches the announced length";

  // The announced length is the device's word: past what any stored document
  // holds, or below nothing, it is refused before a record is asked for, and
  // the records of an endless stream never pile up.
  for (const char* announced : {"9223372036854775807", "1048577", "-1"}) {
    TScriptedDevice endless;
    endless.Answer({"15", "3", announced});
    for (int i = 0; i < 3; ++i) endless.Answer({BytesToHex(Tlv(1030, "abc"))});
    EXPECT_EQ(ErrorOf([&] { ReadCheckPackage(endless, 1, out); }),
              prefix + "Объявленная длина документа " + announced +
                  " байт вне допустимых пределов (до 1048576)");
    EXPECT_EQ(endless.Sent.size(), 1u);
    EXPECT_TRUE(endless.DocElementList().empty());
  }
  TScriptedDevice largest;
  largest.Answer({"15", "3", "1048576"});
  EXPECT_EQ(ErrorOf([&] { ReadCheckPackage(largest, 1, out); }),
            prefix + "ФН не передал очередную запись документа")
      << "a document of the largest size is read";

  // Bounded in time, however slowly the register answers each record.
  TManualClock clock;
  TScopedClock scope(clock);
  TSlowStorage slow(clock, std::chrono::seconds(70));
  slow.Answer({"15", "3", "102400"});
  for (int i = 0; i < 100; ++i) slow.Answer({BytesToHex(Tlv(9999, std::string(1020, 'x')))});
  EXPECT_EQ(ErrorOf([&] { ReadCheckPackage(slow, 1, out); }),
            prefix + "Документ не прочитан за 10 мин");
  EXPECT_EQ(slow.Sent.size(), 10u) << "the start and nine records: the tenth would begin 630 s in";

  TScriptedDevice failing;
  failing.Answer({"15", "3", "100"});
  failing.Answer({}, "1C");
  EXPECT_EQ(ErrorOf([&] { ReadCheckPackage(failing, 1, out); }), prefix + RegisterErrorText(0x1C));
}

}  // namespace
