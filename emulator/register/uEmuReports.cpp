// Shifts, reports, registration and the shift counters (command 01).
#include <algorithm>

#include "common/uCommonUtils.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/register/uEmuSettingTables.h"
#include "emulator/wire/uEmuCodePage.h"

namespace {

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

// ---- counters ----

TEmuAnswer TEmuRegister::CmdCounters(const TEmuArgs& args) {
  args.ExpectCount({1});
  const int64_t request = args.Int(0, 1, 18, EmuExt::RequestNumber);
  const auto& shift = FState.Shift;
  const auto& ops = shift.Operations;
  TEmuAnswer answer{0, {args.Raw(0)}};
  auto& f = answer.Fields;
  const auto money = [&](const std::vector<int64_t>& v) {
    for (int64_t x : v) f.push_back(MoneyText(x));
  };
  const auto counts = [&](const std::vector<int64_t>& v) {
    for (int64_t x : v) f.push_back(NumText(x));
  };
  switch (request) {
    case 1:
      f.insert(f.end(), {NumText(shift.Number), NumText(shift.Receipts), NumText(shift.Documents)});
      break;
    case 2:
      money(FState.GrandTotals);
      break;
    case 3:  // sums per payment code of sales, returns, purchases, purchase returns
    case 5:
    case 9:
    case 11:
      money(ops[request == 3 ? 0 : request == 5 ? 1 : request == 9 ? 2 : 3].Sums);
      break;
    case 4:  // receipt counts per payment code, same order
    case 6:
    case 10:
    case 12:
      counts(ops[request == 4 ? 0 : request == 6 ? 1 : request == 10 ? 2 : 3].Counts);
      break;
    case 7:
      f.insert(f.end(),
               {NumText(ops[0].Receipts), NumText(ops[1].Receipts), NumText(ops[2].Receipts),
                NumText(ops[3].Receipts), NumText(shift.CashInCount), NumText(shift.CashOutCount),
                NumText(shift.Corrections), NumText(shift.Cancelled)});
      break;
    case 8:
      f.insert(f.end(),
               {MoneyText(ops[0].Total), MoneyText(ops[1].Total), MoneyText(shift.CashInSum),
                MoneyText(shift.CashOutSum), MoneyText(ops[2].Total), MoneyText(ops[3].Total)});
      break;
    case 13:  // sums per register tax code
    case 14:
    case 15:
    case 16:
      money(ops[request - 13].TaxSums);
      break;
    case 17:
      f.insert(f.end(), {MoneyText(shift.Discounts), MoneyText(shift.Margins)});
      break;
    default:  // 18
      f.insert(f.end(), {NumText(static_cast<int64_t>(FState.FnDocuments.size())),
                         NumText(shift.Number), MoneyText(FState.Cash)});
      break;
  }
  return answer;
}

// ---- reports ----

std::vector<std::string> TEmuRegister::ShiftReportLines(const char* title) const {
  const auto& shift = FState.Shift;
  std::vector<std::string> out;
  out.push_back(TEmuTape::Center(title));
  out.push_back(TEmuTape::TwoColumns("СМЕНА", NumText(shift.Number)));
  static const char* const kNames[4] = {"ПРИХОД", "ВОЗВРАТ ПРИХОДА", "РАСХОД", "ВОЗВРАТ РАСХОДА"};
  for (int op = 0; op < 4; ++op) {
    const auto& t = shift.Operations[op];
    out.push_back(TEmuTape::TwoColumns(std::string(kNames[op]) + " (" + NumText(t.Receipts) + ")",
                                       "=" + MoneyText(t.Total)));
    if (t.Sums[0]) out.push_back(TEmuTape::TwoColumns("  НАЛИЧНЫМИ", "=" + MoneyText(t.Sums[0])));
    int64_t electronic = 0;
    for (int code = 1; code <= 12; ++code) electronic += t.Sums[code];
    if (electronic)
      out.push_back(TEmuTape::TwoColumns("  БЕЗНАЛИЧНЫМИ", "=" + MoneyText(electronic)));
  }
  out.push_back(TEmuTape::TwoColumns("ВНЕСЕНИЙ (" + NumText(shift.CashInCount) + ")",
                                     "=" + MoneyText(shift.CashInSum)));
  out.push_back(TEmuTape::TwoColumns("ИЗЪЯТИЙ (" + NumText(shift.CashOutCount) + ")",
                                     "=" + MoneyText(shift.CashOutSum)));
  out.push_back(TEmuTape::TwoColumns("НАЛИЧНЫХ В КАССЕ", "=" + MoneyText(FState.Cash)));
  out.push_back(TEmuTape::TwoColumns("ЧЕКОВ ЗА СМЕНУ", NumText(shift.Receipts)));
  out.push_back(TEmuTape::TwoColumns("ФД ЗА СМЕНУ", NumText(shift.Documents)));
  out.push_back(TEmuTape::TwoColumns(
      "НЕПЕРЕДАННЫХ ФД",
      NumText(static_cast<int64_t>(FState.FnDocuments.size()) - FState.LastSentDocument)));
  return out;
}

int TEmuRegister::FirstUnsent() const {
  return FState.LastSentDocument < static_cast<int>(FState.FnDocuments.size())
             ? FState.LastSentDocument + 1
             : 0;
}

void TEmuRegister::AddBacklog(TEmuTlv& tlv) const {
  const int first = FirstUnsent();
  // The document being made is not sent yet either when the link is down.
  const int pending = static_cast<int>(FState.FnDocuments.size()) - FState.LastSentDocument +
                      (FState.OfdOnline ? 0 : 1);
  tlv.U32(1097, static_cast<uint32_t>(pending));
  if (first > 0) {
    tlv.Time(1098, FState.FnDocuments[first - 1].Time);
    tlv.U32(1116, static_cast<uint32_t>(first));
  }
}

TEmuAnswer TEmuRegister::CmdXReport(const TEmuArgs& args) {
  args.ExpectCount({0});
  RequireNoDocument();
  if (!Printing()) return {};
  RequirePrinter();
  FTape.Separator('=');
  if (FState.Shift.Open) {
    FTape.Lines(ShiftReportLines("X-ОТЧЁТ"));
  } else {
    // A closed shift's counters stay for the driver to read after the close;
    // printed under the report's heading they would pass for a running shift's.
    FTape.Line(TEmuTape::Center("X-ОТЧЁТ"));
    FTape.Line(TEmuTape::Center("СМЕНА НЕ ОТКРЫТА"));
    if (FState.Shift.Number > 0)
      FTape.Line(
          TEmuTape::TwoColumns("ПОСЛЕДНЯЯ СМЕНА", NumText(FState.Shift.Number) + " ЗАКРЫТА"));
    FTape.Line(TEmuTape::TwoColumns("НАЛИЧНЫХ В КАССЕ", "=" + MoneyText(FState.Cash)));
  }
  FTape.Line(TEmuTape::Center(DateTimeText(NowSeconds())));
  FTape.Cut();
  return {};
}

TEmuAnswer TEmuRegister::CmdOpenShift(const TEmuArgs& args) {
  args.ExpectCount({1});
  const std::string cashier = args.Text(0, 64, EmuExt::None);
  RequireFiscalMode();
  RequireNoDocument();
  RequireShiftClosed();
  if (Printing()) RequirePrinter();
  const int64_t now = NowSeconds();
  TEmuShift shift;
  shift.Number = FState.Shift.Number + 1;
  shift.Open = true;
  shift.OpenedAt = now;
  FState.Shift = shift;
  TEmuTlv t;
  AddHeader(t, "Отчёт об открытии смены", now, cashier);
  t.U32(1038, static_cast<uint32_t>(shift.Number));
  const TEmuFnDocument& fn = StoreDocument(efdShiftOpen, t, now);
  if (Printing()) {
    PrintHeader("ОТЧЁТ ОБ ОТКРЫТИИ СМЕНЫ");
    if (!Trim(cashier).empty()) FTape.Line("КАССИР " + cashier);
    PrintFiscalFooter(fn, true);
  }
  return {0, {NumText(fn.Number), NumText(fn.FiscalSign)}};
}

TEmuAnswer TEmuRegister::CmdZReport(const TEmuArgs& args) {
  args.ExpectCount({1});
  const std::string cashier = args.Text(0, 64, EmuExt::None);
  RequireNoDocument();
  if (!FState.Shift.Open) Refuse(EmuError::WrongState, EmuExt::ShiftNotOpen, "shift not open");
  RequireStorageRoom();
  if (Printing()) RequirePrinter();
  const int64_t now = NowSeconds();
  TEmuTlv t;
  AddHeader(t, "Отчёт о закрытии смены", now, cashier);
  t.U32(1038, static_cast<uint32_t>(FState.Shift.Number));
  t.U32(1118, static_cast<uint32_t>(FState.Shift.Receipts));
  t.U32(1111, static_cast<uint32_t>(FState.Shift.Documents + 1));
  AddBacklog(t);
  // Counters stay readable until the next shift opens: the driver reads them after closing.
  const TEmuFnDocument& fn = StoreDocument(efdShiftClose, t, now);
  FState.Shift.Open = false;
  if (Printing()) {
    PrintHeader("ОТЧЁТ О ЗАКРЫТИИ СМЕНЫ");
    FTape.Lines(ShiftReportLines("Z-ОТЧЁТ"));
    if (!Trim(cashier).empty()) FTape.Line("КАССИР " + cashier);
    PrintFiscalFooter(fn, true);
  }
  return {0, {NumText(fn.Number), NumText(fn.FiscalSign)}};
}

TEmuAnswer TEmuRegister::CmdSettlementsReport(const TEmuArgs& args) {
  args.ExpectCount({1});
  const std::string cashier = args.Text(0, 64, EmuExt::None);
  RequireFiscalMode();
  RequireNoDocument();
  if (Printing()) RequirePrinter();
  const int64_t now = NowSeconds();
  TEmuTlv t;
  AddHeader(t, "Отчёт о текущем состоянии расчётов", now, cashier);
  AddBacklog(t);
  const TEmuFnDocument& fn = StoreDocument(efdSettlements, t, now);
  if (Printing()) {
    PrintHeader("ОТЧЁТ О ТЕКУЩЕМ СОСТОЯНИИ РАСЧЁТОВ");
    FTape.Line(TEmuTape::TwoColumns(
        "НЕПЕРЕДАННЫХ ФД",
        NumText(static_cast<int64_t>(FState.FnDocuments.size()) - FState.LastSentDocument)));
    PrintFiscalFooter(fn, true);
  }
  return {0, {NumText(fn.Number), NumText(fn.FiscalSign)}};
}

// ---- registration and the fiscal storage's life ----

void TEmuRegister::StoreRegistration(bool first, const std::string& cashier, bool print) {
  auto& reg = FState.Registration;
  const int64_t now = NowSeconds();
  TEmuTlv t;
  AddHeader(t, first ? "Отчёт о регистрации" : "Отчёт об изменении параметров регистрации", now,
            cashier);
  t.Byte(1062, static_cast<uint8_t>(reg.TaxSystems));
  const std::string ofdInn = Table(EmuTable::OfdInn, 0);
  if (!ofdInn.empty()) t.Str(1017, EmuUtf8ToOem(ofdInn));
  const std::string ofdName = Table(EmuTable::OfdName, 0);
  if (!ofdName.empty()) t.Str(1046, EmuUtf8ToOem(ofdName));
  const std::string email = Table(EmuTable::SenderEmail, 0);
  if (!email.empty()) t.Str(1117, EmuUtf8ToOem(email));
  t.Str(1060, EmuUtf8ToOem(Table(EmuTable::FnsSite, 0)));
  const std::string automatic = Trim(Table(EmuTable::AutomaticNumber, 0));
  if (!automatic.empty()) t.Str(1036, EmuUtf8ToOem(automatic));
  // Work-mode bits 0..7: encryption, offline, automatic, services, forms, internet, excise,
  // gambling.
  static const uint16_t kModeTags[8] = {1056, 1002, 1001, 1109, 1110, 1108, 1207, 1193};
  for (int bit = 0; bit < 8; ++bit)
    if (reg.WorkMode & (1 << bit)) t.Byte(kModeTags[bit], 1);
  if (reg.AddWorkMode & 0x01) t.Byte(1221, 1);
  const TEmuFnDocument& fn = StoreDocument(first ? efdRegistration : efdReRegistration, t, now);
  reg.Registered = true;
  reg.DocumentNumber = fn.Number;
  reg.Time = fn.Time;
  if (print && Printing() && !FState.PaperOut && !FState.CoverOpen) {
    PrintHeader(first ? "ОТЧЁТ О РЕГИСТРАЦИИ" : "ОТЧЁТ ОБ ИЗМ. ПАРАМЕТРОВ РЕГИСТРАЦИИ");
    PrintFiscalFooter(fn, true);
  }
}

TEmuAnswer TEmuRegister::CmdRegister(const TEmuArgs& args) {
  args.ExpectCount({20});
  const bool first = args.Int(0, 0, 1, EmuExt::None) == 1;
  const std::string regNumber = args.Raw(1);
  if (regNumber.size() != 16 || !AllDigits(Trim(regNumber)))
    Refuse(EmuError::BadParameter, EmuExt::RegNumber, "bad registration number");
  const std::string inn = Trim(args.Raw(2));
  if ((inn.size() != 10 && inn.size() != 12) || !AllDigits(inn))
    Refuse(EmuError::BadParameter, EmuExt::UserInn, "bad taxpayer number");
  const int taxSystems = static_cast<int>(args.Int(3, 1, 63, EmuExt::TaxSystem));
  const int workMode = static_cast<int>(args.Int(4, 0, 255, EmuExt::WorkMode));
  const std::string cashier = args.Text(5, 64, EmuExt::None);
  args.DateTimeAt(6, EmuExt::DateTime);
  const std::string org1 = args.Text(8, 44, EmuExt::None), org2 = args.Text(9, 44, EmuExt::None);
  const std::string addr1 = args.Text(10, 44, EmuExt::None),
                    addr2 = args.Text(11, 44, EmuExt::None);
  const std::string place = args.Text(12, 112, EmuExt::None);
  const std::string automatic = args.Text(13, 20, EmuExt::None);
  const std::string ofdName = args.Text(14, 256, EmuExt::None);
  const std::string ofdInn = Trim(args.Raw(15));
  const bool offline = workMode & 0x02;
  if (!(offline && ofdInn.empty()) &&
      ((ofdInn.size() != 10 && ofdInn.size() != 12) || !AllDigits(ofdInn)))
    Refuse(EmuError::BadParameter, EmuExt::None, "bad data operator taxpayer number");
  const std::string email = args.Text(16, 64, EmuExt::None);
  const std::string site = args.Text(17, 256, EmuExt::None);
  const int addMode = static_cast<int>(args.Int(18, 0, 255, EmuExt::WorkMode));
  args.Int(19, 0, 255, EmuExt::None);
  if (Trim(org1 + org2).empty()) Refuse(EmuError::BadParameter, EmuExt::None, "no organisation");
  if (Trim(addr1 + addr2).empty())
    Refuse(EmuError::BadParameter, EmuExt::None, "no settlement address");

  RequireNoDocument();
  RequireShiftClosed();
  auto& reg = FState.Registration;
  if (reg.ArchiveClosed) Refuse(EmuError::WrongState, EmuExt::ArchiveClosed, "archive closed");
  if (first && reg.Registered)
    Refuse(EmuError::WrongState, EmuExt::AlreadyRegistered, "already registered");
  if (!first && !reg.Registered)
    Refuse(EmuError::WrongState, EmuExt::NotRegistered, "not registered");
  RequireStorageRoom();

  reg.RegNumber = regNumber;
  reg.Inn = inn;
  reg.TaxSystems = taxSystems;
  reg.WorkMode = workMode;
  reg.AddWorkMode = addMode;
  SetTable(EmuTable::Organisation, 0, org1);
  SetTable(EmuTable::Organisation, 1, org2);
  SetTable(EmuTable::Organisation, 2, addr1);
  SetTable(EmuTable::Organisation, 3, addr2);
  SetTable(EmuTable::SettlementPlace, 0, place);
  SetTable(EmuTable::AutomaticNumber, 0, automatic);
  SetTable(EmuTable::OfdName, 0, ofdName);
  SetTable(EmuTable::OfdInn, 0, ofdInn);
  SetTable(EmuTable::SenderEmail, 0, email);
  SetTable(EmuTable::FnsSite, 0, site);
  StoreRegistration(first, cashier);
  const TEmuFnDocument& fn = FState.FnDocuments.back();
  return {0, {NumText(fn.Number), NumText(fn.FiscalSign)}};
}

TEmuAnswer TEmuRegister::CmdTechReset(const TEmuArgs& args) {
  args.ExpectCount({2});
  const int64_t wanted = CivilToSeconds(args.DateTimeAt(0, EmuExt::DateTime));
  RequireShiftClosed();
  if (!FState.FnDocuments.empty() && wanted < FState.FnDocuments.back().Time)
    Refuse(EmuError::DateEarlier, EmuExt::None, "date before the last fiscal document");
  // Working memory is lost; the fiscal storage and the registration are not.
  FState.Document = TEmuOpenDocument{};
  FState.Marking = TEmuMarkingState{};
  SetTable(kPrintSettingsTable, 0, "0");
  FState.ClockOffset = wanted - CivilToSeconds(Clock().LocalNow());
  FTape.Line(TEmuTape::Center("ТЕХНОЛОГИЧЕСКОЕ ОБНУЛЕНИЕ"));
  return {};
}

TEmuAnswer TEmuRegister::CmdCloseFn(const TEmuArgs& args) {
  args.ExpectCount({1});
  const std::string cashier = args.Text(0, 64, EmuExt::None);
  RequireFiscalMode();
  RequireNoDocument();
  RequireShiftClosed();
  const int64_t now = NowSeconds();
  TEmuTlv t;
  AddHeader(t, "Отчёт о закрытии фискального накопителя", now, cashier);
  const TEmuFnDocument& fn = StoreDocument(efdFnClose, t, now);
  FState.Registration.ArchiveClosed = true;
  if (Printing() && !FState.PaperOut && !FState.CoverOpen) {
    PrintHeader("ОТЧЁТ О ЗАКРЫТИИ ФН");
    PrintFiscalFooter(fn, true);
  }
  return {0, {NumText(fn.Number), NumText(fn.FiscalSign)}};
}

TEmuAnswer TEmuRegister::CmdDocumentCopy(const TEmuArgs& args) {
  args.ExpectCount({1});
  const int64_t number = args.Int(0, 1, 0x7FFFFFFF, EmuExt::DocNumber);
  if (number > static_cast<int64_t>(FState.FnDocuments.size()))
    Refuse(EmuError::FnNoData, EmuExt::None, "no such document");
  RequireNoDocument();
  RequirePrinter();
  FTape.Separator('=');
  FTape.Lines(DescribeDocument(FState.FnDocuments[static_cast<size_t>(number - 1)]));
  FTape.Cut();
  return {};
}

TEmuAnswer TEmuRegister::CmdRegistrationReport(const TEmuArgs& args) {
  args.ExpectCount({0});
  const auto& reg = FState.Registration;
  if (!reg.Registered || reg.DocumentNumber < 1 ||
      reg.DocumentNumber > static_cast<int>(FState.FnDocuments.size()))
    Refuse(EmuError::WrongState, EmuExt::NotRegistered, "not registered");
  RequireNoDocument();
  RequirePrinter();
  FTape.Separator('=');
  FTape.Lines(DescribeDocument(FState.FnDocuments[static_cast<size_t>(reg.DocumentNumber - 1)]));
  FTape.Cut();
  return {};
}

TEmuAnswer TEmuRegister::CmdServiceData(const TEmuArgs& args) {
  args.ExpectCount({0});
  RequireNoDocument();
  RequirePrinter();
  const auto& reg = FState.Registration;
  FTape.Separator('=');
  FTape.Line(TEmuTape::Center("СЛУЖЕБНАЯ ИНФОРМАЦИЯ"));
  FTape.Line(TEmuTape::TwoColumns("МОДЕЛЬ", "ВЕЛМОР-01Ф"));
  FTape.Line(TEmuTape::TwoColumns("ЗН ККТ", reg.KktSerial));
  FTape.Line(TEmuTape::TwoColumns("ФН", reg.FnSerial));
  FTape.Line(TEmuTape::TwoColumns("ВЕРСИЯ ФФД", FState.Ffd));
  FTape.Line(TEmuTape::TwoColumns("РЕГИСТРАЦИЯ", reg.Registered ? "ДА" : "НЕТ"));
  FTape.Line(TEmuTape::TwoColumns("ДОКУМЕНТОВ В ФН",
                                  NumText(static_cast<int64_t>(FState.FnDocuments.size()))));
  FTape.Cut();
  return {};
}
