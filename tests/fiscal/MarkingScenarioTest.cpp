// Marked goods through the real library against the virtual register over TCP
// and a pty: session, check, confirmation and sale in format 1.2; rejected,
// unconfirmed and refused codes; format 1.05, where the flow sends nothing.
#include <gtest/gtest.h>

#include "fiscal/EmuHostFixture.h"

namespace {

using TArgs = std::vector<std::string>;
const std::string kCode =
    "0104600439931256215Ab3cD\x1d"
    "91EE06\x1d"
    "92hash=";
const std::string kEscaped = "0104600439931256215Ab3cD$1D91EE06$1D92hash=";
const std::string kOther = "0104600439931256215Zz9yX";

std::string Xml(const std::string& ABody) {
  return "<?xml version=\"1.0\"?>" + ABody;
}
// A sale of the marked good at 1 rouble a unit (AQuantity of them, in the
// measure AMeasure: 0 pieces, 11 kilograms).
// AAmount, when given, is 1C's amount of the line after a spread discount.
std::string Sale(const std::string& ACode, const std::string& APayments = "Cash=\"1\"",
                 const std::string& AQuantity = "1", const std::string& AMeasure = "0",
                 const std::string& AAmount = "") {
  return "<CheckPackage><Parameters CashierName=\"Иванов\" OperationType=\"1\"/><Positions>"
         "<FiscalString Name=\"Сыр\" Quantity=\"" +
         AQuantity + "\" " + (AAmount.empty() ? "" : "AmountWithDiscount=\"" + AAmount + "\" ") +
         "PriceWithDiscount=\"1\" VATRate=\"20\" "
         "PaymentMethod=\"4\" CalculationSubject=\"1\" MeasureOfQuantity=\"" +
         AMeasure + "\" MarkingCode=\"" + Base64Encode(ACode) + "\"/></Positions><Payments " +
         APayments + "/></CheckPackage>";
}
std::string Request(const std::string& AGuid, const std::string& ACode, const std::string& AAttrs,
                    const std::string& AChildren = "") {
  return "<RequestKM GUID=\"" + AGuid + "\" MarkingCode=\"" + Base64Encode(ACode) + "\" " + AAttrs +
         ">" + AChildren + "</RequestKM>";
}

class MarkingScenarioTest : public EmuHostTest {
 protected:
  // Calls a method that must succeed and answers its out-argument AOut.
  std::string Ok(std::string_view AMethod, std::initializer_list<THostArg> AArgs, size_t AOut = 0) {
    TCallResult r = Host.Call(AMethod, AArgs);
    EXPECT_TRUE(r.Bool()) << AMethod << ": " << LastError().Text;
    return AOut != 0 && r.Bool() ? r.ParamText(AOut) : std::string();
  }
  std::string Outcome(const std::string& AId, int32_t AStatus = 0) {
    TCallResult r = Host.Call("GetProcessingKMResult", {AId, THostArg::Empty(), THostArg::Empty()});
    EXPECT_EQ(r.ParamInt(2), AStatus) << "request status";
    return r.ParamText(1);
  }
};
EMU_HOST_LINKS(MarkingScenarioTest);

TEST_P(MarkingScenarioTest, AMarkedItemIsCheckedConfirmedAndTheSessionCleared) {
  Bench().OpenShift();
  const std::string id = Connect();
  Bench().Run("30", {"2", "1", "Кассир", "1", "0"});  // left open by a failed operation
  Bench().ClearCommands();
  Ok("OpenSessionRegistrationKM", {id});
  EXPECT_EQ(Bench().CommandCodes(), (TArgs{"00", "00", "12", "32", "12", "79"}))
      << "shift state, the open document cancelled, the register's code table cleared";

  Bench().ClearCommands();
  EXPECT_EQ(
      Ok("RequestKM", {id, Request("r1", kCode, "PlannedStatus=\"1\" Quantity=\"2.5\""), ""}, 2),
      Xml("<RequestKMResult Checking=\"true\" CheckingResult=\"true\"/>"));
  EXPECT_EQ(Bench().Commands().back().Args, (TArgs{"1", kEscaped, "0", "1", "2", "0", "0"}));
  EXPECT_EQ(Outcome(id), Xml("<ProcessingKMResult GUID=\"r1\" Result=\"true\" ResultCode=\"15\" "
                             "StatusInfo=\"1\" HandleCode=\"0\"/>"));
  Ok("ConfirmKM", {id, "r1", 0});
  EXPECT_EQ(Bench().CommandCodes(), (TArgs{"00", "79", "79"})) << "reading the outcome sends none";
  EXPECT_EQ(Bench().Commands().back().Args, (TArgs{"2", "1"}));
  Ok("ProcessCheck", {id, false, Sale(kCode), ""});
  EXPECT_EQ(Bench().Calls("79").back().Args, (TArgs{"15", kEscaped, "1", "0", "15", "0"}))
      << "bound with the check's planned status and validation result";
  // The sale used the check up: the register binds a sold code no more.
  Bench().ClearCommands();
  EXPECT_EQ(Failure("ProcessCheck", {id, false, Sale(kCode), ""}).Text,
            "Ошибка входных параметров команды. Позиция 1 «Сыр»: код маркировки не проверен в "
            "текущей сессии работы с кодами маркировки");
  EXPECT_TRUE(Bench().Commands().empty()) << "nothing of the receipt sent";

  Ok("CloseSessionRegistrationKM", {id});
  EXPECT_EQ(Bench().Commands().back().Args, TArgs{"3"});
}

TEST_P(MarkingScenarioTest, UnconfirmedRejectedAndRefusedCodes) {
  Bench().Reg().SetMarkingOutcomeFor(kOther, {.ValidationResult = 1, .ProcessingResult = 1});
  Bench().Reg().SetMarkingOutcomeFor("refused", {.Error = 0x75});
  Bench().OpenShift();
  const std::string id = Connect();
  EXPECT_EQ(Failure("RequestKM", {id, "<Request/>", ""}).Text, "Не найдена структура RequestKM");
  Ok("RequestKM", {id, Request("r1", kCode, "PlannedStatus=\"1\""), ""});
  Bench().ClearCommands();
  EXPECT_EQ(Ok("RequestKM", {id, Request("r2", kOther, "PlannedStatus=\"1\""), ""}, 2),
            Xml("<RequestKMResult Checking=\"true\" CheckingResult=\"false\"/>"));
  ASSERT_EQ(Bench().CommandCodes(), (TArgs{"00", "79", "79"}));
  EXPECT_EQ(Bench().Commands()[1].Args, (TArgs{"2", "0"})) << "the unconfirmed code rejected first";
  Ok("ConfirmKM", {id, "r2", 1});
  EXPECT_EQ(Bench().Commands().back().Args, (TArgs{"2", "0"})) << "any type but 0 rejects";

  const THostError e =
      Failure("RequestKM", {id, Request("r3", "refused", "PlannedStatus=\"1\""), ""});
  EXPECT_EQ(e.Text, "Переполнена таблица хранения КМ");
  EXPECT_EQ(Outcome(id, 2), Xml("<ProcessingKMResult GUID=\"r3\" Result=\"false\" "
                                "ResultCode=\"0\" StatusInfo=\"0\" HandleCode=\"0\"/>"))
      << "the failed request, not the earlier code's answer";
  // Neither code is sold, and nothing of the receipt reaches the register.
  Bench().ClearCommands();
  EXPECT_EQ(Failure("ProcessCheck", {id, false, Sale(kCode), ""}).Text,
            "Ошибка входных параметров команды. Позиция 1 «Сыр»: код маркировки не проверен в "
            "текущей сессии работы с кодами маркировки")
      << "a code rejected unconfirmed is forgotten";
  EXPECT_EQ(Failure("ProcessCheck", {id, false, Sale(kOther), ""}).Text,
            "Ошибка входных параметров команды. Позиция 1 «Сыр»: код маркировки не подтвержден "
            "после проверки");
  EXPECT_TRUE(Bench().Commands().empty());
}

// The latest check of a code is what the register binds: its planned status
// and its answer. A code whose latest check the cashier rejected is not sold.
// The second check weighs the cheese: it is sold and bound by the kilogram.
TEST_P(MarkingScenarioTest, ARecheckedCodeIsBoundWithItsLatestCheck) {
  Bench().OpenShift();
  const std::string id = Connect();
  Ok("RequestKM", {id, Request("r1", kCode, "PlannedStatus=\"1\" Quantity=\"1\""), ""});
  Ok("ConfirmKM", {id, "r1", 0});
  Bench().Reg().SetMarkingOutcomeFor(kCode, {.ValidationResult = 7});
  Bench().ClearCommands();
  Ok("RequestKM",
     {id, Request("r2", kCode, "PlannedStatus=\"2\" Quantity=\"0.35\" MeasureOfQuantity=\"11\""),
      ""});
  EXPECT_EQ(Bench().Calls("79").back().Args, (TArgs{"1", kEscaped, "0", "2", "0.35", "11", "0"}))
      << "a weighed check";
  Ok("ConfirmKM", {id, "r2", 0});
  Bench().ClearCommands();
  // One code binds one item command, so a marked line is never split: 2.5 kg
  // for 2.51, which no price gives (2.50, then 2.53), is refused up front.
  EXPECT_EQ(
      Failure("ProcessCheck",
              {id, false, Sale(kCode, "ElectronicPayment=\"2.51\"", "2.5", "11", "2.51"), ""})
          .Text,
      "Ошибка входных параметров команды. Позиция 1 «Сыр»: сумму 2.51 при количестве 2.5 нельзя "
      "передать в команде регистрации, не изменив количество");
  EXPECT_TRUE(Bench().Commands().empty()) << "nothing of the receipt sent";
  Ok("ProcessCheck", {id, false, Sale(kCode, "ElectronicPayment=\"0.35\"", "0.35", "11"), ""});
  EXPECT_EQ(Bench().Calls("79").at(0).Args, (TArgs{"15", kEscaped, "2", "0", "7", "11"}))
      << "bound by the item's measure";
  const TArgs item = Bench().ArgsOf("42");
  ASSERT_GE(item.size(), 9u);
  EXPECT_EQ(item[2], "0.35");
  EXPECT_EQ(item[8], "11") << "sold by the kilogram";

  Ok("RequestKM", {id, Request("r3", kCode, "PlannedStatus=\"1\" Quantity=\"1\""), ""});
  Ok("ConfirmKM", {id, "r3", 1});
  Bench().ClearCommands();
  EXPECT_EQ(Failure("ProcessCheck", {id, false, Sale(kCode, "ElectronicPayment=\"1\""), ""}).Code,
            1004);
  EXPECT_TRUE(Bench().Commands().empty()) << "no document opened";
}

TEST_P(MarkingScenarioTest, InFormat105TheFlowSendsAndWritesNothing) {
  StartRegister("1.05");
  Bench().OpenShift();
  const std::string id = Connect();
  Bench().ClearCommands();
  Ok("OpenSessionRegistrationKM", {id});
  EXPECT_EQ(Ok("RequestKM", {id, Request("r1", kCode, ""), ""}, 2), Xml(""));
  EXPECT_EQ(Outcome(id), Xml(""));
  Ok("ConfirmKM", {id, "r1", 0});
  Ok("CloseSessionRegistrationKM", {id});
  EXPECT_TRUE(Bench().CommandCodes().empty()) << "nothing reaches the register";
}

}  // namespace
