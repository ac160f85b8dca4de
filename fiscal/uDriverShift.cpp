// Shifts, the X and settlements reports, the current status and the counters.
#include <chrono>
#include <cmath>
#include <cstdio>

#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"
#include "fiscal/uDriver.h"
#include "fiscal/uInputReading.h"
#include "fiscal/uOperationWait.h"

namespace {

constexpr uint32_t kOpenShiftFields = TDriver::cfFNError | TDriver::cfFNFail |
                                      TDriver::cfFNOverflow | TDriver::cfShiftState |
                                      TDriver::cfShiftNumber | TDriver::cfDateTime;
constexpr uint32_t kBacklogFields =
    TDriver::cfBacklogCounter | TDriver::cfBacklogFirstNumber | TDriver::cfBacklogFirstDateTime;
constexpr uint32_t kCloseShiftFields = kOpenShiftFields | TDriver::cfCashBalance |
                                       TDriver::cfCountersSale | TDriver::cfCountersRefund |
                                       kBacklogFields;
constexpr uint32_t kStatusFields = TDriver::cfCashBalance | TDriver::cfDeviceState |
                                   TDriver::cfShiftState | TDriver::cfShiftNumber |
                                   TDriver::cfCheckNumber | TDriver::cfShiftClosingCheckNumber |
                                   kBacklogFields;
constexpr uint32_t kStatusCounterFields = TDriver::cfCountersSale | TDriver::cfCountersRefund |
                                          TDriver::cfCashInOut | TDriver::cfPayments;
constexpr uint32_t kSettlementsFields =
    TDriver::cfCashBalance | TDriver::cfShiftState | kBacklogFields;

// Printer state bits: 1 no paper (the receipt cannot be printed), 2 cover open.
constexpr int64_t kPrinterNoPaper = 0x02;
constexpr int64_t kPrinterCoverOpen = 0x04;

// An amount of four implied decimals with exactly two, "." and no grouping;
// the dropped digits round half away from zero.
std::string AmountText(int64_t AAmount) {
  const bool negative = AAmount < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(AAmount) : static_cast<uint64_t>(AAmount);
  const uint64_t cents = magnitude / 100 + (magnitude % 100 >= 50 ? 1 : 0);
  char text[32];
  std::snprintf(text, sizeof text, "%s%llu.%02llu", negative && cents != 0 ? "-" : "",
                static_cast<unsigned long long>(cents / 100),
                static_cast<unsigned long long>(cents % 100));
  return text;
}

// Date and time fields of an answer as the host's date-time text. A date
// the register leaves empty ("000000": nothing waiting to be sent) is the
// zero date of the host's calendar, 1899-12-30, not a text no XML reader
// takes.
std::string DateTimeText(TDateTime ADate, const TDateTime& ATime) {
  if (ADate.IsEmpty()) ADate = TDateTime{1899, 12, 30};
  ADate.Hour = ATime.Hour;
  ADate.Minute = ATime.Minute;
  ADate.Second = ATime.Second;
  return ADate.ToXml();
}

// "true" or "false" in any letter case; anything else is unreadable.
bool TryReadBoolean(const pugi::xml_node& ANode, const char* AName, bool& AValue) {
  const std::string text = Trim(ANode.attribute(AName).value());
  if (SameText(text, "true") || text == "1") {
    AValue = true;
    return true;
  }
  if (SameText(text, "false") || text == "0") {
    AValue = false;
    return true;
  }
  return false;
}

void SetAmount(pugi::xml_node ANode, const char* AName, int64_t AAmount) {
  ANode.append_attribute(AName) = AmountText(AAmount).c_str();
}

}  // namespace

// ---- input and counters ----

void TDriver::ReadInputParameters(const pugi::xml_document& AInputParameters) {
  TDeviceDriver& holder = Instance();
  const pugi::xml_node params = AInputParameters.document_element().child("Parameters");
  const std::string name = ReadTextAttr(params, "CashierName");
  const std::string inn = ReadTextAttr(params, "CashierINN");
  RefuseControlBytes(name, "CashierName");
  RefuseControlBytes(inn, "CashierINN");
  holder.FCashierName = ThroughAnsi(name);
  holder.FCashierINN = ThroughAnsi(inn);
  bool print = false;
  holder.FPrintRequired = TryReadBoolean(params, "PrintRequired", print) ? (print ? 1 : 0) : -1;
}

void TDriver::ReadCounters() {
  // The register settles its counters a moment after a report.
  OperationWait(std::chrono::milliseconds(250));
  const TShiftCounters r = Device().ReadShiftCounters();
  TCashCounters c;
  c.CheckNumber = static_cast<int32_t>(r.LastDocument.Number);
  c.DateTime = r.LastDocument.Date.ToXml();
  c.ShiftClosingCheckNumber = static_cast<int32_t>(r.ReceiptNumberInShift);
  c.ShiftNumber = static_cast<int32_t>(r.ShiftNumber);
  c.CashBalance = r.CashBalance;
  c.ShiftState = r.DayState;
  c.FNError = r.FNWarnings & 0x01;
  c.FNFail = r.FNWarnings & 0x02;
  c.FNOverflow = r.FNWarnings & 0x04;
  c.BacklogDocumentsCounter = static_cast<int32_t>(r.BacklogDocuments);
  c.BacklogDocumentFirstNumber = static_cast<int32_t>(r.BacklogFirstNumber);
  c.BacklogDocumentFirstDateTime = DateTimeText(r.BacklogFirstDate, r.BacklogFirstTime);
  c.CheckCountSale = static_cast<int32_t>(r.SaleReceipts);
  c.CheckCountRefund = static_cast<int32_t>(r.ReturnReceipts);
  c.CashInCount = static_cast<int32_t>(r.CashIns);
  c.CashOutCount = static_cast<int32_t>(r.CashOuts);
  c.CashInTotalAmount = r.CashInTotal;
  c.CashOutTotalAmount = r.CashOutTotal;

  int64_t* const saleSums[] = {&c.CashSellSum, &c.NonCashSellSum, &c.PrepaidSellSum,
                               &c.CreditSellSum, &c.BarterSellSum};
  int64_t* const returnSums[] = {&c.CashSellSumReturn, &c.NonCashSellSumReturn,
                                 &c.PrepaidSellSumReturn, &c.CreditSellSumReturn,
                                 &c.BarterSellSumReturn};
  int32_t* const saleCounts[] = {&c.CashSellCount, &c.NonCashSellCount, &c.PrepaidSellCount,
                                 &c.CreditSellCount, &c.BarterSellCount};
  int32_t* const returnCounts[] = {&c.CashSellCountReturn, &c.NonCashSellCountReturn,
                                   &c.PrepaidSellCountReturn, &c.CreditSellCountReturn,
                                   &c.BarterSellCountReturn};
  for (size_t kind = 0; kind < pkCount; ++kind) {
    *saleSums[kind] = r.SaleSums.ByKind[kind];
    *returnSums[kind] = r.ReturnSums.ByKind[kind];
    *saleCounts[kind] = static_cast<int32_t>(r.SaleCounts.ByKind[kind]);
    *returnCounts[kind] = static_cast<int32_t>(r.ReturnCounts.ByKind[kind]);
  }
  c.TotalSale = r.SaleSums.Total;
  c.TotalRefund = r.ReturnSums.Total;

  Instance().FCashCounters = c;
}

void TDriver::WriteCountersOutput(pugi::xml_document& AOutputParameters, uint32_t AFields) {
  ReadCounters();
  const TCashCounters& c = Instance().FCashCounters;
  pugi::xml_node root = AOutputParameters.append_child("OutputParameters");
  pugi::xml_node params = root.append_child("Parameters");
  const auto has = [AFields](uint32_t AField) { return (AFields & AField) != 0; };

  if (has(cfFNError)) params.append_attribute("FNError") = c.FNError;
  if (has(cfFNFail)) params.append_attribute("FNFail") = c.FNFail;
  if (has(cfFNOverflow)) params.append_attribute("FNOverflow") = c.FNOverflow;
  if (has(cfCashBalance)) SetAmount(params, "CashBalance", c.CashBalance);
  if (has(cfDeviceState)) {
    TDevice& device = Device();
    const int64_t printer = device.GetPrinterState();
    params.append_attribute("RecState") = (printer & kPrinterNoPaper) ? 2 : 0;
    params.append_attribute("DrawerState") = static_cast<long long>(device.GetDrawerState());
    params.append_attribute("CoverOpen") = (device.GetPrinterState() & kPrinterCoverOpen) ? 1 : 0;
  }
  if (has(cfShiftState)) params.append_attribute("ShiftState") = c.ShiftState;
  if (has(cfShiftNumber)) params.append_attribute("ShiftNumber") = c.ShiftNumber;
  if (has(cfCheckNumber)) params.append_attribute("CheckNumber") = c.CheckNumber;
  if (has(cfShiftClosingCheckNumber))
    params.append_attribute("ShiftClosingCheckNumber") = c.ShiftClosingCheckNumber;
  if (has(cfDateTime)) params.append_attribute("DateTime") = c.DateTime.c_str();
  const auto counters = [&](const char* AName, int32_t ACount, int64_t AAmount) {
    pugi::xml_node node = params.append_child(AName);
    node.append_attribute("CheckCount") = ACount;
    SetAmount(node, "TotalChecksAmount", AAmount);
  };
  if (has(cfCountersSale)) counters("CountersOperationType1", c.CheckCountSale, c.TotalSale);
  if (has(cfCountersRefund)) counters("CountersOperationType2", c.CheckCountRefund, c.TotalRefund);
  if (has(cfCashInOut)) {
    pugi::xml_node in = params.append_child("CashIn");
    in.append_attribute("Count") = c.CashInCount;
    SetAmount(in, "TotalAmount", c.CashInTotalAmount);
    pugi::xml_node out = params.append_child("CashOut");
    out.append_attribute("Count") = c.CashOutCount;
    SetAmount(out, "TotalAmount", c.CashOutTotalAmount);
  }
  if (has(cfBacklogCounter))
    params.append_attribute("BacklogDocumentsCounter") = c.BacklogDocumentsCounter;
  if (has(cfBacklogFirstNumber))
    params.append_attribute("BacklogDocumentFirstNumber") = c.BacklogDocumentFirstNumber;
  if (has(cfBacklogFirstDateTime))
    params.append_attribute("BacklogDocumentFirstDateTime") =
        c.BacklogDocumentFirstDateTime.c_str();
  if (has(cfPayments)) {
    pugi::xml_node payments = root.append_child("Payments");
    const auto kind = [&](const char* AName, int32_t ASaleCount, int32_t AReturnCount,
                          int64_t ASale, int64_t AReturn) {
      pugi::xml_node node = payments.append_child(AName);
      node.append_attribute("Count") = static_cast<long long>(ASaleCount) + AReturnCount;
      SetAmount(node, "Sell", ASale);
      SetAmount(node, "SellReturn", AReturn);
    };
    kind("Cash", c.CashSellCount, c.CashSellCountReturn, c.CashSellSum, c.CashSellSumReturn);
    kind("NonCash", c.NonCashSellCount, c.NonCashSellCountReturn, c.NonCashSellSum,
         c.NonCashSellSumReturn);
    kind("Prepaid", c.PrepaidSellCount, c.PrepaidSellCountReturn, c.PrepaidSellSum,
         c.PrepaidSellSumReturn);
    kind("Credit", c.CreditSellCount, c.CreditSellCountReturn, c.CreditSellSum,
         c.CreditSellSumReturn);
    kind("Barter", c.BarterSellCount, c.BarterSellCountReturn, c.BarterSellSum,
         c.BarterSellSumReturn);
  }
}

// ---- operations ----

template <class TStep>
void TDriver::RunReport(const pugi::xml_document& AInputParameters, TStep&& AStep) {
  ReadInputParameters(AInputParameters);
  KeepingPrintSetting([&] {
    CancelOpenDocument();
    ApplyReportPrinting(Instance().FInitPrintSetting);
    AStep(CashierText(Instance().FCashierName, Instance().FCashierINN));
  });
}

void TDriver::OpenShift(const pugi::xml_document& AInputParameters,
                        pugi::xml_document& AOutputParameters) {
  RunReport(AInputParameters, [&](const std::string& ACashier) {
    EnsureShiftState(false);
    Device().OpenDay(ACashier);
    WriteCountersOutput(AOutputParameters, kOpenShiftFields);
  });
}

void TDriver::CloseShift(const pugi::xml_document& AInputParameters,
                         pugi::xml_document& AOutputParameters) {
  RunReport(AInputParameters, [&](const std::string& ACashier) {
    // A shift open for more than 24 hours is exactly the one to close.
    if (Device().GetDayState() == 1) throw MakeEquException(ecShiftClosed);
    Device().ZReport(ACashier);
    WriteCountersOutput(AOutputParameters, kCloseShiftFields);
  });
}

void TDriver::PrintXReport(const pugi::xml_document& AInputParameters) {
  RunReport(AInputParameters, [&](const std::string&) { Device().XReport(); });
}

void TDriver::ReportCurrentStatusOfSettlements(const pugi::xml_document& AInputParameters,
                                               pugi::xml_document& AOutputParameters) {
  RunReport(AInputParameters, [&](const std::string& ACashier) {
    Device().SettlementsCurrStatusReport(ACashier);
    WriteCountersOutput(AOutputParameters, kSettlementsFields);
  });
}

void TDriver::GetCurrentStatus(const pugi::xml_document& AInputParameters,
                               pugi::xml_document& AOutputParameters) {
  const std::string counters =
      AInputParameters.document_element().child("Parameters").attribute("GetCounters").value();
  const bool withCounters = SameText(counters, "true");
  WriteCountersOutput(AOutputParameters,
                      withCounters ? kStatusFields | kStatusCounterFields : kStatusFields);
}

int TDriver::GetShiftState() {
  return Device().GetDayState() - 1;
}
