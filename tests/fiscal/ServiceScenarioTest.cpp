// Service operations through the real library against the virtual register
// over TCP and a pty: the clock set from ISO 8601 texts and read back, the
// cash drawer, and a marked receipt sold through the library read back from
// the fiscal storage, and stored texts that XML cannot carry.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <cstdlib>

#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "fiscal/EmuHostFixture.h"

namespace {

using TArgs = std::vector<std::string>;

// True when an XML 1.0 reader takes every character of AXml: no control
// byte but tab, line feed and carriage return, raw or as a reference.
bool HoldsOnlyXmlCharacters(const std::string& AXml) {
  for (size_t i = 0; i < AXml.size(); ++i) {
    const auto c = static_cast<unsigned char>(AXml[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    if (AXml.compare(i, 2, "&#") != 0) continue;
    const bool hex = i + 2 < AXml.size() && AXml[i + 2] == 'x';
    const long code = std::strtol(AXml.c_str() + i + (hex ? 3 : 2), nullptr, hex ? 16 : 10);
    if (code < 0x20 && code != '\t' && code != '\n' && code != '\r') return false;
  }
  return true;
}

class ServiceScenarioTest : public EmuHostTest {};
EMU_HOST_LINKS(ServiceScenarioTest);

TEST_P(ServiceScenarioTest, TheClockIsSetFromIso8601AndReadBack) {
  // The register's wall clock stands still, so what is set reads back exactly.
  TManualClock clock({2024, 1, 10, 8, 0, 0, 0});
  TScopedClock scope(clock);
  const std::string id = Connect();
  const auto set = [&](const std::string& AText) {
    Bench().ClearCommands();
    TCallResult r = Host.Call("SetDateTime", {id, AText});
    EXPECT_TRUE(r.Bool()) << AText << ": " << LastError().Text;
    return Bench().Calls("14").empty() ? TArgs{} : Bench().Calls("14")[0].Args;
  };
  const auto get = [&] {
    TCallResult r = Host.Call("GetDateTime", {id, THostArg::Empty()});
    EXPECT_TRUE(r.Bool()) << LastError().Text;
    return r.ParamText(1);
  };
  EXPECT_EQ(set("2024-02-01T09:05:03"), (TArgs{"010224", "090503"}));
  EXPECT_EQ(get(), "2024-02-01T09:05:03");
  EXPECT_EQ(set("2024-06-15T12:00:00+03:00"), (TArgs{"150624", "090000"})) << "moved back by +3";
  EXPECT_EQ(set("2024-06-16"), (TArgs{"160624", "000000"})) << "a date alone is midnight";
  EXPECT_EQ(set("2024-06-16T24:00Z"), (TArgs{"170624", "000000"}));
  EXPECT_EQ(set("2024-06-17T23:59:60.9996"), (TArgs{"180624", "000001"}))
      << "second 60 and a fraction rounding to a whole second carry over";
  EXPECT_EQ(set("20240618T101530-0130"), (TArgs{"180624", "114530"}));
  EXPECT_EQ(get(), "2024-06-18T11:45:30");

  for (const char* bad : {"", "2024-02-30", "2024-06-18T25:00", "2024-06-18T24:00:01",
                          "2024-06-18 10:00", "2024-06-18T10:00+3", "1999-12-31T10:00:00"}) {
    SCOPED_TRACE(bad);
    Bench().ClearCommands();
    THostError e = Failure("SetDateTime", {id, bad});
    EXPECT_EQ(e.Code, 1004);
    EXPECT_EQ(e.Text, "Ошибка входных параметров команды. Некорректный формат даты/времени");
    EXPECT_TRUE(Bench().Commands().empty()) << "the register is not touched";
  }
}

TEST_P(ServiceScenarioTest, TheCashDrawerOpens) {
  const std::string id = Connect();
  Bench().ClearCommands();
  ASSERT_TRUE(Host.Call("OpenCashDrawer", {id}).Bool()) << LastError().Text;
  EXPECT_EQ(Bench().CommandCodes(), TArgs{"80"});
  EXPECT_TRUE(Bench().Reg().Snapshot().DrawerOpen);
}

TEST_P(ServiceScenarioTest, AMarkedReceiptReadsBackFromTheFiscalStorage) {
  Bench().OpenShift();
  const std::string id = Connect();
  const std::string code =
      "0104600439931256215Ab3cD\x1d"
      "91EE06\x1d"
      "92hash=";
  ASSERT_TRUE(Host.Call("RequestKM", {id,
                                      "<RequestKM GUID=\"g1\" MarkingCode=\"" + Base64Encode(code) +
                                          "\" PlannedStatus=\"1\" Quantity=\"1\"/>",
                                      THostArg::Empty()})
                  .Bool())
      << LastError().Text;
  ASSERT_TRUE(Host.Call("ConfirmKM", {id, "g1", 0}).Bool()) << LastError().Text;
  const std::string receipt =
      "<CheckPackage><Parameters CashierName=\"Иванов\" CashierINN=\"500100732259\" "
      "OperationType=\"1\" TaxationSystem=\"0\"/><Positions>"
      "<FiscalString Name=\"Сыр\" Quantity=\"1\" PriceWithDiscount=\"100\" "
      "AmountWithDiscount=\"100\" VATRate=\"20\" PaymentMethod=\"4\" CalculationSubject=\"1\" "
      "MarkingCode=\"" +
      Base64Encode(code) +
      "\"/><FiscalString Name=\"Хлеб\" Quantity=\"0.5\" PriceWithDiscount=\"60\" "
      "AmountWithDiscount=\"30\" VATRate=\"10\" PaymentMethod=\"4\" CalculationSubject=\"1\"/>"
      "</Positions><Payments Cash=\"100\" ElectronicPayment=\"30\"/></CheckPackage>";
  TCallResult sold = Host.Call("ProcessCheck", {id, false, receipt, THostArg::Empty()});
  ASSERT_TRUE(sold.Bool()) << LastError().Text;
  pugi::xml_document output;
  output.load_string(sold.ParamText(3).c_str());
  const pugi::xml_node result = output.child("DocumentOutputParameters").child("Parameters");

  const int number = Bench().Reg().LastDocumentNumber();
  for (int asked : {0, number}) {
    SCOPED_TRACE(asked);
    TCallResult r = Host.Call("GetDocumentInformation", {id, asked, THostArg::Empty()});
    ASSERT_TRUE(r.Bool()) << LastError().Text;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(r.ParamText(2).c_str())) << r.ParamText(2);
    const pugi::xml_node root = doc.child("CheckPackage");
    const pugi::xml_node p = root.child("Parameters");
    EXPECT_STREQ(p.attribute("DocumentType").value(), "3");
    EXPECT_EQ(p.attribute("DocNumber").as_int(), number) << "0 reads the last document";
    EXPECT_STREQ(p.attribute("FiscalSign").value(), result.attribute("FiscalSign").value());
    EXPECT_STREQ(p.attribute("CashierName").value(), "Иванов");
    EXPECT_STREQ(p.attribute("CashierINN").value(), "500100732259");
    EXPECT_STREQ(p.attribute("OperationType").value(), "1");
    EXPECT_STREQ(p.attribute("TaxationSystem").value(), "1");
    EXPECT_EQ(std::string(p.attribute("DateTime").value()).substr(0, 10),
              std::string(result.attribute("DateTime").value()).substr(0, 10));
    std::vector<TArgs> items;
    for (const pugi::xml_node f : root.child("Positions").children("FiscalString")) {
      TArgs fields;
      for (const pugi::xml_attribute a : f.attributes())
        fields.push_back(std::string(a.name()) + "=" + a.value());
      items.push_back(fields);
    }
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], (TArgs{"Name=Сыр", "Quantity=1", "PriceWithDiscount=100",
                               "AmountWithDiscount=100", "VATAmount=16.67", "CalculationSubject=1",
                               "PaymentMethod=4", "MarkingCode=" + Base64Encode(code)}));
    EXPECT_EQ(items[1],
              (TArgs{"Name=Хлеб", "Quantity=0.5", "PriceWithDiscount=60", "AmountWithDiscount=30",
                     "VATAmount=2.73", "CalculationSubject=1", "PaymentMethod=4"}));
    const pugi::xml_node pay = root.child("Payments");
    EXPECT_STREQ(pay.attribute("Cash").value(), "100");
    EXPECT_STREQ(pay.attribute("ElectronicPayment").value(), "30");
    EXPECT_STREQ(pay.attribute("PrePayment").value(), "0");
  }
  THostError e = Failure("GetDocumentInformation", {id, number + 5, THostArg::Empty()});
  EXPECT_FALSE(e.Text.empty());
  EXPECT_EQ(e.Text.find("Ошибка чтения данных из ФН"), std::string::npos)
      << "a refused start of reading passes up as the register's error: " << e.Text;
}

TEST_P(ServiceScenarioTest, StoredTextsKeepOnlyWhatXmlCanCarry) {
  // A shift opened by another program with SOH and ESC in the cashier's name.
  Bench().Run("23", {"Иван\x01ов\x1Bа"});
  const std::string id = Connect();
  TCallResult r = Host.Call("GetDocumentInformation", {id, 0, THostArg::Empty()});
  ASSERT_TRUE(r.Bool()) << LastError().Text;
  const std::string xml = r.ParamText(2);
  EXPECT_TRUE(HoldsOnlyXmlCharacters(xml)) << xml;
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(xml.c_str()));
  EXPECT_STREQ(doc.child("CheckPackage").child("Parameters").attribute("CashierName").value(),
               "Иванова");
}

}  // namespace
