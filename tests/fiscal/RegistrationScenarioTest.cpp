// Registration through the real library against the virtual register over
// TCP and a pty: the table of registration parameters (its requests, its
// per-connection cache, the fiscal and non-fiscal forms, formats 1.05 and
// 1.2) and a re-registration whose data comes back on the same connection and
// on a new one.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "common/uCommonUtils.h"
#include "fiscal/EmuHostFixture.h"

namespace {

using TArgs = std::vector<std::string>;

std::string Repeat(const std::string& AChar, int ACount) {
  std::string s;
  for (int i = 0; i < ACount; ++i) s += AChar;
  return s;
}

// 100 characters; the 45th is a blank, so the second half starts with it.
const std::string kCompany = Repeat("Ф", 44) + " " + Repeat("Ж", 55);
// The 44th is a blank, so the first half ends with it.
const std::string kAddress = Repeat("А", 43) + " дом 1";

std::string Registration(const std::string& AMore = "", const std::string& ACompany = kCompany) {
  return "<Parameters CashierName=\"Петров\" KKTNumber=\"123\" CompanyName=\"" + ACompany +
         "\" INN=\"7702345678\" SaleAddress=\"" + kAddress +
         "\" "
         "SaleLocation=\"Торговый зал\" TaxationSystems=\"12\" IsOffline=\"TRUE\" "
         "IsService=\"true\" IsEncrypted=\"1\" IsMarking=\"True\" IsVendingMachine=\"true\" "
         "RegistrationReasonCode=\" 4 \" AutomaticNumber=\"A7\" OFDCompany=\"ОФД-Я\" "
         "OFDCompanyINN=\"7704211201\" SenderEmail=\"kkt@example.ru\" "
         "FNSURL=\"www.nalog.gov.ru\" " +
         AMore + "/>";
}

class RegistrationScenarioTest : public EmuHostTest {
 protected:
  std::string Table(const std::string& AId) {
    TCallResult r = Host.Call("GetDataKKT", {AId, THostArg::Empty()});
    EXPECT_TRUE(r.Bool()) << LastError().Text;
    return r.ParamText(1);
  }
  // "78/2", "11/30/1", ...: command, request and table index.
  std::vector<std::string> Requests() {
    std::vector<std::string> seen;
    for (const TEmuCall& c : Bench().Commands())
      seen.push_back(c.Command + "/" + c.Args[0] + (c.Command == "11" ? "/" + c.Args[1] : ""));
    return seen;
  }
};
EMU_HOST_LINKS(RegistrationScenarioTest);

TEST_P(RegistrationScenarioTest, ReRegistrationComesBackOnTheSameAndANewConnectionInBothFormats) {
  for (const std::string ffd : {"1.2", "1.05"}) {
    SCOPED_TRACE(ffd);
    const bool f12 = ffd == "1.2";
    // Format 1.05 gets a name whose halves split inside a word.
    const std::string company = f12 ? kCompany : Repeat("Ц", 100);
    const std::string first88 = f12 ? kCompany.substr(0, 175) : Repeat("Ц", 88);
    StartRegister(ffd);
    const std::string id = Connect();
    const std::string before = Table(id);
    Bench().ClearCommands();
    ASSERT_TRUE(Host.Call("OperationFN", {id, 1, Registration("", company)}).Bool())
        << LastError().Text;
    const std::vector<TEmuCall> sent = Bench().Calls("60");
    ASSERT_EQ(sent.size(), 1u);
    const TArgs& a = sent[0].Args;
    EXPECT_EQ(a[0], "0") << "a reason code other than 0 re-registers";
    EXPECT_EQ(a[1], "123" + std::string(13, ' '));
    EXPECT_EQ(a[3], "6") << "the digits 1 and 2 of \"12\"";
    EXPECT_EQ(a[4], "10") << "offline (TRUE) and service; the digit 1 is not true";
    EXPECT_EQ(a[8], company.substr(0, 88)) << "characters 1 to 44";
    EXPECT_EQ(a[8] + a[9], first88) << "characters 45 to 88";
    EXPECT_EQ(a[13], "A7" + std::string(10, ' '));
    EXPECT_EQ(a[15], "7704211201  ");
    EXPECT_EQ(a[18], "18") << "marking and vending machine";
    const std::string after = Table(id);
    EXPECT_NE(after, before) << "the connection's data is read again after a registration";

    // The register takes one client at a time.
    ASSERT_TRUE(Host.Call("DisconnectEquipment", {id}).Bool());
    const std::string fresh = Connect();
    Bench().ClearCommands();
    const std::string table = Table(fresh);
    EXPECT_EQ(after, table) << "the same data as a new connection reads";
    EXPECT_EQ(Requests(), (TArgs{"78/2", "78/1", "02/4", "78/14", "02/1", "78/5", "78/4", "11/30/1",
                                 "11/30/0", "02/3", "11/30/3", "11/30/2", "11/85/0", "02/23",
                                 "11/70/0", "11/81/0", "11/71/0", "11/83/0", "11/82/0"}));
    Bench().ClearCommands();
    EXPECT_EQ(Table(fresh), table);
    EXPECT_TRUE(Bench().Commands().empty()) << "answered from the connection's cache";

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(table.c_str()));
    const pugi::xml_node p = doc.child("Parameters");
    TArgs names;
    for (const pugi::xml_attribute attr : p.attributes()) names.push_back(attr.name());
    EXPECT_EQ(names, (TArgs{"Fiscal",
                            "KKTNumber",
                            "FNSerialNumber",
                            "FFDVersion",
                            "FFDVersionFN",
                            "FFDVersionKKT",
                            "KKTSerialNumber",
                            "DocumentNumber",
                            "DateTime",
                            "CompanyName",
                            "INN",
                            "SaleAddress",
                            "SaleLocation",
                            "TaxationSystems",
                            "IsEncrypted",
                            "IsAutomatic",
                            "IsOffline",
                            "IsAutomaticPrinter",
                            "AutomaticNumber",
                            "AgentTypes",
                            "IsService",
                            "IsExcisable",
                            "IsLottery",
                            "IsGambling",
                            "IsOnlineOnly",
                            "IsMarking",
                            "IsPawnshop",
                            "IsAssurance",
                            "BSOSing",
                            "OFDCompany",
                            "OFDCompanyINN",
                            "FNSURL",
                            "SenderEmail",
                            "FirmwareVersion",
                            "IsVendingMachine",
                            "IsCateringServices",
                            "IsWholesaleTrade",
                            "PermissiveMarking"}));
    const auto at = [&p](const char* AName) { return std::string(p.attribute(AName).value()); };
    EXPECT_EQ(at("Fiscal"), "true");
    EXPECT_EQ(at("KKTNumber"), "123" + std::string(13, ' '));
    EXPECT_EQ(at("FFDVersion"), f12 ? "1.2" : "1.0.5");
    EXPECT_EQ(at("DocumentNumber"), std::to_string(Bench().Reg().LastDocumentNumber()));
    EXPECT_EQ(at("DateTime")[10], 'T') << at("DateTime");
    EXPECT_EQ(at("CompanyName"), first88)
        << "one blank where the split fell between words, none inside a word";
    EXPECT_EQ(at("INN"), "7702345678");
    EXPECT_EQ(at("SaleAddress"), kAddress) << "the first half ends with the blank";
    EXPECT_EQ(at("SaleLocation"), "Торговый зал");
    EXPECT_EQ(at("TaxationSystems"), "1,2");
    EXPECT_EQ(at("IsOffline"), "true");
    EXPECT_EQ(at("IsEncrypted"), "false");
    EXPECT_EQ(at("IsMarking"), f12 ? "true" : "false") << "format 1.2 only";
    EXPECT_EQ(at("IsVendingMachine"), f12 ? "true" : "false");
    EXPECT_EQ(at("PermissiveMarking"), f12 ? "true" : "false");
    EXPECT_EQ(at("OFDCompanyINN"), "7704211201");
  }
}

// The register carried the registration out but its answer came back
// spoiled: the call fails, and the data read next is the register's new one.
TEST_P(RegistrationScenarioTest, ARegistrationWhoseAnswerIsLostIsReadAfresh) {
  const std::string id = Connect();
  const auto company = [&] {
    pugi::xml_document table;
    EXPECT_TRUE(table.load_string(Table(id).c_str()));
    return std::string(table.child("Parameters").attribute("CompanyName").value());
  };
  EXPECT_NE(company(), "ООО Новое имя");
  Bench().FaultAnswerTo("60", TEmuAnswerFaultKind::CorruptChecksum);
  EXPECT_EQ(Failure("OperationFN", {id, 1, Registration("", "ООО Новое имя")}).Text,
            "Ошибка контрольной суммы ответа");
  EXPECT_EQ(company(), "ООО Новое имя");
}

TEST_P(RegistrationScenarioTest, NonFiscalRegisterAndRefusedRegistrations) {
  Bench().Run("71", {"Кассир"});  // the fiscal storage's archive closed
  const std::string id = Connect();
  EXPECT_EQ(Table(id), "<?xml version=\"1.0\"?><Parameters Fiscal=\"false\"/>");

  Bench().ClearCommands();
  const THostError e =
      Failure("OperationFN", {id, 0, "<Parameters KKTNumber=\"1\" SaleLocation=\"Зал&#3;25\"/>"});
  EXPECT_EQ(e.Code, 1004);
  EXPECT_EQ(e.Text,
            "Ошибка входных параметров команды. Недопустимый управляющий символ в поле "
            "SaleLocation");
  EXPECT_TRUE(Bench().Commands().empty()) << "the register is not even asked for its status";

  EXPECT_EQ(Failure("OperationFN", {id, 0, Registration("FFDVersion=\"1.2\"")}).Text,
            "Регистрация/Перерегистрация c данной версией ФФД невозможна");
  EXPECT_EQ(Failure("OperationFN", {id, 0, "<Parameters KKTNumber=\"1\" INN=\"123\"/>"}).Text,
            "Неверный параметр")
      << "a taxpayer number of 3 characters";
  EXPECT_TRUE(Bench().Calls("60").empty()) << "nothing reaches the register";
  EXPECT_EQ(Bench().CommandCodes().front(), "00") << "a document left open is looked for first";
}

}  // namespace
