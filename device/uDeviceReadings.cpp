// The information reads that answer a typed record: each knows the requests
// it sends, in the order the register is asked, and which field of which
// answer holds what.
#include "common/uCommonUtils.h"
#include "device/uDevice.h"
#include "device/uEquipmentErrors.h"

namespace {

// Fiscal storage requests (command 78).
constexpr int kFnSerial = 1;
constexpr int kFnLifePhase = 2;
constexpr int kFnRegistrationTime = 4;
constexpr int kFnRegistrationDocument = 5;
constexpr int kFnShiftState = 6;
constexpr int kFnExchangeState = 7;
constexpr int kFnVersions = 14;
// Register information requests (command 02).
constexpr int kEcrSerial = 1;
constexpr int kEcrInn = 3;
constexpr int kEcrRegistrationNumber = 4;
constexpr int kEcrCashBalance = 7;
constexpr int kEcrLineLength = 18;
constexpr int kEcrWorkModes = 23;
// Counter requests (command 01).
constexpr int kCounterShift = 1;
constexpr int kCounterSaleSums = 3;
constexpr int kCounterSaleCounts = 4;
constexpr int kCounterReturnSums = 5;
constexpr int kCounterReturnCounts = 6;
constexpr int kCounterDocuments = 7;
constexpr int kCounterCashInOut = 8;
// Settings tables of the registration texts.
constexpr int kOrganisationTable = 30;  // 0, 1: name halves; 2, 3: address halves
constexpr int kAutomaticNumberTable = 70;
constexpr int kOfdInnTable = 71;
constexpr int kOfdNameTable = 81;
constexpr int kSenderEmailTable = 82;
constexpr int kFnsSiteTable = 83;
constexpr int kSettlementPlaceTable = 85;
constexpr int kInspectionSiteTable = 83;
// Fields of the payment kinds in the answers of counter requests 3 to 6.
constexpr size_t kPaymentFields[pkCount] = {1, 2, 14, 15, 16};

}  // namespace

std::string TDevice::GetDataAsAnsi(size_t AIndex) const {
  return AIndex < FData.size() ? AnsiToUtf8(FData[AIndex]) : std::string{};
}

int64_t TDevice::ReadShiftNumber() {
  GetCounterValue(kCounterShift);
  return GetDataAsInteger(1);
}

int64_t TDevice::ReadReceiptNumberInShift() {
  FNGetInfo(kFnShiftState);
  return GetDataAsInteger(3);
}

int TDevice::ReadLineLength(int AFontNumber) {
  GetECRInfo(kEcrLineLength, AFontNumber);
  return static_cast<int>(GetDataAsInteger(1));
}

TDocumentResult TDevice::ReadDocumentResult() {
  TDocumentResult r;
  FNGetLastDocInfo(r.Document.Date, r.Document.Number, r.Document.FiscalSign);
  r.ShiftNumber = ReadShiftNumber();
  r.ReceiptNumberInShift = ReadReceiptNumberInShift();
  r.InspectionSite = ReadSettingTableStr(kInspectionSiteTable, 0);
  return r;
}

TShiftCounters TDevice::ReadShiftCounters() {
  TShiftCounters c;
  FNGetLastDocInfo(c.LastDocument.Date, c.LastDocument.Number, c.LastDocument.FiscalSign);
  c.ReceiptNumberInShift = ReadReceiptNumberInShift();
  c.ShiftNumber = ReadShiftNumber();
  GetECRInfo(kEcrCashBalance);
  c.CashBalance = GetDataAsAmount(1);
  c.DayState = GetDayState();

  FNGetInfo(kFnExchangeState);
  c.FNWarnings = GetDataAsInteger(1);
  c.BacklogDocuments = GetDataAsInteger(2);
  c.BacklogFirstNumber = GetDataAsInteger(3);
  c.BacklogFirstDate = GetDataAsDate(4);
  c.BacklogFirstTime = GetDataAsTime(5);

  GetCounterValue(kCounterDocuments);
  c.SaleReceipts = GetDataAsInteger(1);
  c.ReturnReceipts = GetDataAsInteger(2);
  c.CashIns = GetDataAsInteger(5);
  c.CashOuts = GetDataAsInteger(6);
  GetCounterValue(kCounterCashInOut);
  c.CashInTotal = GetDataAsAmount(3);
  c.CashOutTotal = GetDataAsAmount(4);

  const auto readSums = [this](int ARequest, TPaymentTotals& ATotals) {
    GetCounterValue(ARequest);
    for (size_t kind = 0; kind < pkCount; ++kind) {
      ATotals.ByKind[kind] = GetDataAsAmount(kPaymentFields[kind]);
      // Five sums that each fit may still not fit together.
      if (__builtin_add_overflow(ATotals.Total, ATotals.ByKind[kind], &ATotals.Total))
        RaiseError(EquMessages::ProtocolError);
    }
  };
  const auto readCounts = [this](int ARequest, TPaymentTotals& ACounts) {
    GetCounterValue(ARequest);
    for (size_t kind = 0; kind < pkCount; ++kind)
      ACounts.ByKind[kind] = GetDataAsInteger(kPaymentFields[kind]);
  };
  readSums(kCounterSaleSums, c.SaleSums);
  readSums(kCounterReturnSums, c.ReturnSums);
  readCounts(kCounterSaleCounts, c.SaleCounts);
  readCounts(kCounterReturnCounts, c.ReturnCounts);
  return c;
}

TRegistrationReading TDevice::ReadRegistration() {
  // Serial and registration numbers come in field 1 of their request's answer.
  const auto fnText = [this](int ARequest) {
    FNGetInfo(ARequest);
    return GetDataAsAnsi(1);
  };
  const auto ecrText = [this](int ARequest) {
    GetECRInfo(ARequest);
    return GetDataAsAnsi(1);
  };
  TRegistrationReading r;
  FNGetInfo(kFnLifePhase);
  r.FNLifePhase = GetDataAsInteger(1);
  r.FNSerialNumber = fnText(kFnSerial);
  r.KKTNumber = ecrText(kEcrRegistrationNumber);
  FNGetInfo(kFnVersions);
  r.FFDCode = GetDataAsInteger(3);
  r.FNFFDCode = GetDataAsInteger(5);
  r.KKTSerialNumber = ecrText(kEcrSerial);
  r.DocumentNumber = fnText(kFnRegistrationDocument);
  FNGetInfo(kFnRegistrationTime);
  r.DateTime = GetDataAsDate(1);
  const TDateTime time = GetDataAsTime(2);
  r.DateTime.Hour = time.Hour;
  r.DateTime.Minute = time.Minute;
  r.DateTime.Second = time.Second;
  // Each second half is asked for before its first.
  r.CompanyName2 = ReadSettingTableStr(kOrganisationTable, 1);
  r.CompanyName1 = ReadSettingTableStr(kOrganisationTable, 0);
  r.INN = ecrText(kEcrInn);
  r.SaleAddress2 = ReadSettingTableStr(kOrganisationTable, 3);
  r.SaleAddress1 = ReadSettingTableStr(kOrganisationTable, 2);
  r.SaleLocation = ReadSettingTableStr(kSettlementPlaceTable, 0);
  GetECRInfo(kEcrWorkModes);
  r.TaxationSystems = GetDataAsInteger(1);
  r.WorkModes = GetDataAsInteger(2);
  r.ExtraWorkModes = GetDataAsInteger(3);
  r.AutomaticNumber = ReadSettingTableStr(kAutomaticNumberTable, 0);
  r.OFDCompany = ReadSettingTableStr(kOfdNameTable, 0);
  r.OFDCompanyINN = ReadSettingTableStr(kOfdInnTable, 0);
  r.FNSURL = ReadSettingTableStr(kFnsSiteTable, 0);
  r.SenderEmail = ReadSettingTableStr(kSenderEmailTable, 0);
  return r;
}
