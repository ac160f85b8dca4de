// A misbehaving register, end to end: the real library against the virtual
// register with its fault switches, over TCP and over a pty. Whatever goes
// wrong on the wire, the host gets false and the link's own message, the
// print-settings byte is back as it was, the next call on the same
// connection works, and a document the fault left open is cancelled by it.
//
// Answer limits are capped (QUARNEL_TEST_LINK_LIMIT_MS), so an answer that
// never comes costs a second, not the command's 15 s.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <pugixml.hpp>

#include "fiscal/EmuHostFixture.h"

namespace {

// The register's document types, as the emulator keeps them.
constexpr int kNoDocument = 0;

const char kSale[] =
    "<CheckPackage><Parameters CashierName=\"Иванов\" OperationType=\"1\" TaxationSystem=\"0\"/>"
    "<Positions><FiscalString Name=\"Хлеб\" Quantity=\"2\" PriceWithDiscount=\"40\" "
    "AmountWithDiscount=\"80\" VATRate=\"10\" PaymentMethod=\"4\" CalculationSubject=\"1\"/>"
    "</Positions><Payments Cash=\"100\"/></CheckPackage>";

// When the fault strikes: while connecting, or while a sale is registered.
enum class TFaultAt { Connect, Receipt };

struct TFault {
  const char* Name;
  TFaultAt At;
  // Arms the fault on the register about to be used over the link.
  std::function<void(TEmuBench&, THostLink)> Arm;
  const char* TcpMessage;  // null: this link never meets the fault
  const char* SerialMessage;
  // The sale's document is open on the register when the method gives up.
  bool LeavesDocumentOpen;
};

const TFault kFaults[] = {
    // TCP probes before every command, the serial link when its port opens.
    {"NakToTheProbe", TFaultAt::Receipt,
     [](TEmuBench& b, THostLink link) {
       if (link == THostLink::Tcp) b.Server().Faults().NakProbes(1);
     },
     "Ошибка протокола обмена", nullptr, false},
    {"NakToEveryProbe", TFaultAt::Connect,
     [](TEmuBench& b, THostLink) { b.Server().Faults().NakProbes(-1); }, "Ошибка протокола обмена",
     "Ошибка протокола обмена", false},
    {"DroppedAnswer", TFaultAt::Receipt,
     [](TEmuBench& b, THostLink) { b.FaultAnswerTo("42", TEmuAnswerFaultKind::Drop); },
     "Ошибка при получении ответа от сервера", "Ошибка при чтении данных из порта", true},
    {"CorruptedChecksum", TFaultAt::Receipt,
     [](TEmuBench& b, THostLink) { b.FaultAnswerTo("42", TEmuAnswerFaultKind::CorruptChecksum); },
     "Ошибка контрольной суммы ответа", "Ошибка контрольной суммы ответа", true},
    {"WrongPacketIdentifier", TFaultAt::Receipt,
     [](TEmuBench& b, THostLink) { b.FaultAnswerTo("42", TEmuAnswerFaultKind::WrongPacketId); },
     "Ошибка протокола обмена", "Ошибка протокола обмена", true},
    // A pty cannot hang up: there the rest of the answer never comes.
    {"ConnectionClosedMidAnswer", TFaultAt::Receipt,
     [](TEmuBench& b, THostLink) { b.FaultAnswerTo("42", TEmuAnswerFaultKind::CloseMidAnswer); },
     "Ошибка при получении ответа от сервера", "Устройство не отвечает", true},
    // The connection (or pty) that was open is gone for good; the next
    // command connects (opens the port) again.
    {"RegisterKilledAndRestarted", TFaultAt::Receipt, [](TEmuBench& b, THostLink) { b.Restart(); },
     "Ошибка при получении ответа от сервера", "Устройство не подключено", false},
    {"CommandRefusedMidReceipt", TFaultAt::Receipt,
     [](TEmuBench& b, THostLink) {
       b.Server().Faults().FailCommand({"42", 0x08, std::nullopt, 1});
     },
     "Конец бумаги", "Конец бумаги", true},
};

// The method's message is the fault's, or the fault's naming the device after
// a colon (the serial link says which device it lost).
::testing::AssertionResult SaysThat(const std::string& AText, std::string_view AMessage) {
  if (AText == AMessage || AText.starts_with(std::string(AMessage) + ": "))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "the host read \"" << AText << "\", not \"" << AMessage << "\"";
}

class FaultScenarioTest : public EmuHostBase,
                          public ::testing::WithParamInterface<std::tuple<TFault, THostLink>> {
 protected:
  FaultScenarioTest() { setenv("QUARNEL_TEST_LINK_LIMIT_MS", "1000", 1); }
  const TFault& Fault() const { return std::get<0>(GetParam()); }
  THostLink Link() const { return std::get<1>(GetParam()); }

  // The connection parameters print nothing, so the driver sets bit 7
  // (no paper) for the sale and must put the byte back as it was.
  std::string PrintByte() { return Bench().Reg().Snapshot().Tables.at("1.0"); }
  int OpenDocumentType() { return Bench().Reg().Snapshot().Document.Type; }
  TCallResult Sell(const std::string& AId) {
    return Host.Call("ProcessCheck", {AId, false, kSale, THostArg::Empty()});
  }
};

TEST_P(FaultScenarioTest, TheHostIsToldAndTheNextCallWorks) {
  const TFault& fault = Fault();
  const char* message = Link() == THostLink::Tcp ? fault.TcpMessage : fault.SerialMessage;
  Bench().OpenShift();
  const std::string printByte = PrintByte();
  const int documents = Bench().Reg().LastDocumentNumber();

  std::string id;
  if (fault.At == TFaultAt::Connect) {
    fault.Arm(Bench(), Link());
    const THostError e = Failure(
        "ConnectEquipment", {THostArg::Empty(), THostArg::Empty(), Bench().Parameters(Link())});
    EXPECT_TRUE(SaysThat(e.Text, message));
    Bench().Server().Faults().Clear();
    id = ConnectTo(Bench(), Link());
    ASSERT_FALSE(id.empty()) << "a connect after the fault";
  } else {
    id = ConnectTo(Bench(), Link());
    ASSERT_FALSE(id.empty());
    fault.Arm(Bench(), Link());
    const THostError e = Failure("ProcessCheck", {id, false, kSale, THostArg::Empty()});
    EXPECT_EQ(e.Code, 1001);
    EXPECT_TRUE(SaysThat(e.Text, message));
    Bench().Server().Faults().Clear();
    EXPECT_EQ(Bench().Reg().LastDocumentNumber(), documents) << "no receipt was closed";
    EXPECT_EQ(OpenDocumentType() != kNoDocument, fault.LeavesDocumentOpen)
        << "the sale's document on the register after the fault";
  }
  EXPECT_EQ(PrintByte(), printByte) << "the print-settings byte after the fault";

  // The same connection goes on: the left-open document is cancelled first,
  // then the sale is made once.
  Bench().ClearCommands();
  TCallResult r = Sell(id);
  EXPECT_TRUE(r.Bool()) << "the next sale on the same connection: " << LastError().Text;
  EXPECT_EQ(Bench().Calls("32").size(), fault.LeavesDocumentOpen ? 1u : 0u)
      << "only a document the fault left open is cancelled";
  EXPECT_EQ(Bench().Reg().LastDocumentNumber(), documents + 1);
  EXPECT_EQ(Bench().Reg().Snapshot().LastReceipt.Sum, 8000) << "the one sale, 80.00";
  EXPECT_EQ(OpenDocumentType(), kNoDocument);
  EXPECT_EQ(PrintByte(), printByte);
}

std::string FaultCaseName(const ::testing::TestParamInfo<std::tuple<TFault, THostLink>>& AInfo) {
  return std::string(std::get<0>(AInfo.param).Name) +
         (std::get<1>(AInfo.param) == THostLink::Tcp ? "Tcp" : "Serial");
}

// Each fault on each link that meets it.
std::vector<std::tuple<TFault, THostLink>> FaultCases() {
  std::vector<std::tuple<TFault, THostLink>> cases;
  for (const TFault& fault : kFaults) {
    if (fault.TcpMessage != nullptr) cases.emplace_back(fault, THostLink::Tcp);
    if (fault.SerialMessage != nullptr) cases.emplace_back(fault, THostLink::Serial);
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(FaultsByLink, FaultScenarioTest, ::testing::ValuesIn(FaultCases()),
                         FaultCaseName);

// The answer to a receipt's close is lost: the register may have made the
// receipt although the method failed. The host finds out from the status and
// the stored document, instead of selling the same goods again.
class LostCloseAnswerTest : public EmuHostTest {
 protected:
  LostCloseAnswerTest() { setenv("QUARNEL_TEST_LINK_LIMIT_MS", "1000", 1); }
};

TEST_P(LostCloseAnswerTest, StatusAndStoredDocumentTellTheTruth) {
  Bench().OpenShift();
  const std::string id = Connect();
  const int before = Bench().Reg().LastDocumentNumber();
  Bench().FaultAnswerTo("31", TEmuAnswerFaultKind::Drop);
  const THostError e = Failure("ProcessCheck", {id, false, kSale, THostArg::Empty()});
  EXPECT_EQ(e.Text, GetParam() == THostLink::Tcp ? "Ошибка при получении ответа от сервера"
                                                 : "Ошибка при чтении данных из порта");
  const int made = Bench().Reg().LastDocumentNumber();
  ASSERT_EQ(made, before + 1) << "the register closed the receipt; only its answer was lost";

  TCallResult status = Host.Call("GetCurrentStatus", {id, "<InputParameters/>", THostArg::Empty()});
  ASSERT_TRUE(status.Bool()) << LastError().Text;
  pugi::xml_document out;
  ASSERT_TRUE(out.load_string(status.ParamText(2).c_str()));
  const pugi::xml_node p = out.child("OutputParameters").child("Parameters");
  EXPECT_EQ(p.attribute("CheckNumber").as_int(), made) << status.ParamText(2);
  EXPECT_EQ(p.attribute("ShiftClosingCheckNumber").as_int(), 1) << "the shift's first receipt";

  TCallResult info = Host.Call("GetDocumentInformation", {id, made, THostArg::Empty()});
  ASSERT_TRUE(info.Bool()) << LastError().Text;
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(info.ParamText(2).c_str()));
  const pugi::xml_node package = doc.child("CheckPackage");
  const pugi::xml_node params = package.child("Parameters");
  EXPECT_EQ(params.attribute("DocNumber").as_int(), made);
  EXPECT_EQ(params.attribute("FiscalSign").as_ullong(), Bench().Reg().Document(made)->FiscalSign);
  EXPECT_STREQ(params.attribute("OperationType").value(), "1");
  EXPECT_STREQ(params.attribute("CashierName").value(), "Иванов");
  const pugi::xml_node item = package.child("Positions").child("FiscalString");
  EXPECT_STREQ(item.attribute("Name").value(), "Хлеб");
  EXPECT_STREQ(item.attribute("Quantity").value(), "2");
  EXPECT_STREQ(item.attribute("AmountWithDiscount").value(), "80");
  EXPECT_TRUE(item.next_sibling("FiscalString").empty()) << info.ParamText(2);
  EXPECT_STREQ(package.child("Payments").attribute("Cash").value(), "80")
      << "cash taken, less the change";
}

EMU_HOST_LINKS(LostCloseAnswerTest);

}  // namespace
