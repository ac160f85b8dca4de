// The register object: command dispatch, the control API, and the small
// commands (status, information, clock, setting tables, drawer).
#include "emulator/register/uEmuRegister.h"

#include <iostream>
#include <stdexcept>

#include "common/uCommonUtils.h"
#include "emulator/register/uEmuSettingTables.h"
#include "emulator/wire/uEmuCodePage.h"

namespace {

constexpr int64_t kDay = 86400;

// Characters per line of the register's fonts 0..6 (command 02, request 18).
constexpr int kFontWidths[] = {48, 48, 64, 32, 24, 40, 36};

}  // namespace

const std::map<std::string, TEmuRegister::TCommand>& TEmuRegister::Commands() {
  static const std::map<std::string, TCommand> commands = {
      {"00", {&TEmuRegister::CmdStatus, false}},
      {"01", {&TEmuRegister::CmdCounters, false}},
      {"02", {&TEmuRegister::CmdInfo, false}},
      {"03", {&TEmuRegister::CmdLastReceipt, false}},
      {"04", {&TEmuRegister::CmdPrinterState, false}},
      {"06", {&TEmuRegister::CmdExtError, false}},
      {"10", {&TEmuRegister::CmdStartSession, false}},
      {"11", {&TEmuRegister::CmdReadTable, false}},
      {"12", {&TEmuRegister::CmdWriteTable, true}},
      {"13", {&TEmuRegister::CmdGetClock, false}},
      {"14", {&TEmuRegister::CmdSetClock, true}},
      {"20", {&TEmuRegister::CmdXReport, false}},
      {"21", {&TEmuRegister::CmdZReport, true}},
      {"23", {&TEmuRegister::CmdOpenShift, true}},
      {"24", {&TEmuRegister::CmdRequisites, true}},
      {"30", {&TEmuRegister::CmdOpenDocument, true}},
      {"31", {&TEmuRegister::CmdCloseDocument, true}},
      {"32", {&TEmuRegister::CmdCancelDocument, true}},
      {"34", {&TEmuRegister::CmdCut, true}},
      {"40", {&TEmuRegister::CmdPrintString, true}},
      {"41", {&TEmuRegister::CmdBarcode, true}},
      {"42", {&TEmuRegister::CmdItem, true}},
      {"44", {&TEmuRegister::CmdSubtotal, true}},
      {"45", {&TEmuRegister::CmdDiscount, true}},
      {"46", {&TEmuRegister::CmdMargin, true}},
      {"47", {&TEmuRegister::CmdPayment, true}},
      {"48", {&TEmuRegister::CmdEncash, true}},
      {"49", {&TEmuRegister::CmdPrintProps, true}},
      {"53", {&TEmuRegister::CmdReceiptCopy, true}},
      {"57", {&TEmuRegister::CmdOfdProps, true}},
      {"58", {&TEmuRegister::CmdCorrection, true}},
      {"59", {&TEmuRegister::CmdSettlementsReport, true}},
      {"60", {&TEmuRegister::CmdRegister, true}},
      {"63", {&TEmuRegister::CmdTechReset, true}},
      {"71", {&TEmuRegister::CmdCloseFn, true}},
      {"73", {&TEmuRegister::CmdDocumentCopy, false}},
      {"76", {&TEmuRegister::CmdRegistrationReport, false}},
      {"78", {&TEmuRegister::CmdFnInfo, false}},
      {"79", {&TEmuRegister::CmdMarking, true}},
      {"80", {&TEmuRegister::CmdOpenDrawer, true}},
      {"81", {&TEmuRegister::CmdDrawerState, false}},
      {"82", {&TEmuRegister::CmdBeep, false}},
      {"94", {&TEmuRegister::CmdServiceData, false}},
  };
  return commands;
}

TEmuRegister::TEmuRegister(TEmuRegisterOptions options)
    : FOptions(std::move(options)), FTape(FOptions.Tape) {
  const std::string& ffd = FOptions.FfdVersion;
  if (!ffd.empty() && ffd != "1.05" && ffd != "1.1" && ffd != "1.2")
    throw std::invalid_argument("unknown fiscal data format version " + ffd);
  bool loaded = false;
  if (!FOptions.StateFile.empty()) loaded = LoadEmuState(FOptions.StateFile, FState);
  if (loaded) {
    if (!ffd.empty()) FState.Ffd = ffd;
    for (const auto& [key, value] : DefaultTables()) FState.Tables.try_emplace(key, value);
  } else {
    FState = TEmuState{};
    FState.Tables = DefaultTables();
    if (!ffd.empty()) FState.Ffd = ffd;
    if (FOptions.Registered) {
      if (Ffd12()) FState.Registration.AddWorkMode = 0x02;  // works with marked goods
      StoreRegistration(true, "", false);
    } else {
      FState.Registration.Registered = false;
    }
  }
  SaveLocked();
}

TEmuAnswer TEmuRegister::Execute(const std::string& command, const std::vector<std::string>& args) {
  std::lock_guard lock(FLock);
  TEmuAnswer answer;
  try {
    const auto it = Commands().find(command);
    if (it == Commands().end()) Refuse(EmuError::UnknownCommand, EmuExt::None, "unknown command");
    answer = (this->*(it->second.Handler))(TEmuArgs(args));
    if (command != "06") FLastExt = EmuExt::None;
    if (it->second.Changes) SaveLocked();
  } catch (const EEmuRefusal& refusal) {
    answer = TEmuAnswer{refusal.Error, {}};
    FLastExt = refusal.Ext;
  } catch (const std::exception& e) {
    // A fault of the emulator itself: answer as a register in fatal error.
    (FOptions.Diagnostics ? *FOptions.Diagnostics : std::cerr)
        << "quarnel-emulator: command " << command << " failed: " << e.what() << std::endl;
    answer = TEmuAnswer{EmuError::Fatal, {}};
    FLastExt = EmuExt::None;
  }
  // A field must never end the frame early or split itself.
  for (auto& field : answer.Fields)
    for (char& c : field)
      if (c == '\x1C' || c == '\x03' || c == '\x02') c = ' ';
  return answer;
}

// ---- shared state helpers ----

int64_t TEmuRegister::NowSeconds() const {
  return CivilToSeconds(Clock().LocalNow()) + FState.ClockOffset;
}

int TEmuRegister::FfdCode() const {
  if (FState.Ffd == "1.05") return 2;
  if (FState.Ffd == "1.1") return 3;
  return 4;
}

std::string TEmuRegister::Table(int table, int index) const {
  const auto it = FState.Tables.find(TableKey(table, index));
  return it == FState.Tables.end() ? std::string() : it->second;
}

void TEmuRegister::SetTable(int table, int index, const std::string& value) {
  FState.Tables[TableKey(table, index)] = value;
}

bool TEmuRegister::Printing() const {
  int64_t settings = 0;
  TryStrToInt64(Table(kPrintSettingsTable, 0), settings);
  return (settings & kNoPrintBit) == 0;
}

bool TEmuRegister::ShiftExpired() const {
  return FState.Shift.Open && NowSeconds() - FState.Shift.OpenedAt > kDay;
}

void TEmuRegister::RequireFiscalMode() const {
  if (FState.Registration.ArchiveClosed)
    Refuse(EmuError::WrongState, EmuExt::ArchiveClosed, "fiscal storage archive closed");
  if (!FState.Registration.Registered)
    Refuse(EmuError::WrongState, EmuExt::NotRegistered, "not registered");
  RequireStorageRoom();
}

void TEmuRegister::RequireStorageRoom() const {
  if (FState.FnDocuments.size() >= kMaxFnDocuments)
    Refuse(EmuError::FnFull, EmuExt::None, "fiscal storage full");
}

void TEmuRegister::RequireShiftOpen() const {
  if (!FState.Shift.Open) Refuse(EmuError::WrongState, EmuExt::ShiftNotOpen, "shift not open");
  if (ShiftExpired()) Refuse(EmuError::ShiftOver24h, EmuExt::None, "shift longer than 24 hours");
}

void TEmuRegister::RequireShiftClosed() const {
  if (FState.Shift.Open) Refuse(EmuError::CloseShiftFirst, EmuExt::None, "shift open");
}

void TEmuRegister::RequireNoDocument() const {
  if (FState.Document.Type != edtNone)
    Refuse(EmuError::WrongState, EmuExt::PreviousNotClosed, "a document is open");
}

void TEmuRegister::RequirePrinter() const {
  if (FState.CoverOpen) Refuse(EmuError::PrinterNotReady, EmuExt::None, "cover open");
  if (FState.PaperOut) Refuse(EmuError::PaperOut, EmuExt::None, "paper out");
}

void TEmuRegister::SaveLocked() const {
  if (FOptions.StateFile.empty()) return;
  try {
    SaveEmuState(FOptions.StateFile, FState);
  } catch (const std::exception& e) {
    (FOptions.Diagnostics ? *FOptions.Diagnostics : std::cerr)
        << "quarnel-emulator: " << e.what() << std::endl;
  }
}

// ---- control API ----

void TEmuRegister::SetMarkingOutcome(const TEmuMarkingOutcome& outcome) {
  std::lock_guard lock(FLock);
  FMarkingDefault = outcome;
  FMarkingOutcomes.clear();
}

void TEmuRegister::SetMarkingOutcomeFor(const std::string& code,
                                        const TEmuMarkingOutcome& outcome) {
  std::lock_guard lock(FLock);
  FMarkingOutcomes[code] = outcome;
}

void TEmuRegister::MoveClock(int64_t seconds) {
  Change([&] { FState.ClockOffset += seconds; });
}

TDateTime TEmuRegister::Now() const {
  std::lock_guard lock(FLock);
  return SecondsToCivil(NowSeconds());
}

void TEmuRegister::SetPaperOut(bool paperOut) {
  Change([&] { FState.PaperOut = paperOut; });
}

void TEmuRegister::SetCoverOpen(bool open) {
  Change([&] { FState.CoverOpen = open; });
}

void TEmuRegister::SetDrawerOpen(bool open) {
  Change([&] { FState.DrawerOpen = open; });
}

void TEmuRegister::SetFnWarnings(uint8_t flags) {
  Change([&] { FState.FnWarnings = flags; });
}

void TEmuRegister::SetOfdOnline(bool online) {
  Change([&] {
    FState.OfdOnline = online;
    if (online) FState.LastSentDocument = static_cast<int>(FState.FnDocuments.size());
  });
}

void TEmuRegister::SetCash(int64_t kopecks) {
  Change([&] { FState.Cash = kopecks; });
}

int TEmuRegister::DayState() const {
  std::lock_guard lock(FLock);
  if (!FState.Shift.Open) return 1;
  return ShiftExpired() ? 3 : 2;
}

TEmuState TEmuRegister::Snapshot() const {
  std::lock_guard lock(FLock);
  return FState;
}

int TEmuRegister::LastDocumentNumber() const {
  std::lock_guard lock(FLock);
  return static_cast<int>(FState.FnDocuments.size());
}

std::optional<TEmuFnDocument> TEmuRegister::Document(int number) const {
  std::lock_guard lock(FLock);
  if (number < 1 || number > static_cast<int>(FState.FnDocuments.size())) return std::nullopt;
  return FState.FnDocuments[number - 1];
}

int TEmuRegister::LastExtendedError() const {
  std::lock_guard lock(FLock);
  return FLastExt;
}

std::string TEmuRegister::Ffd() const {
  std::lock_guard lock(FLock);
  return FState.Ffd;
}

void TEmuRegister::Save() const {
  std::lock_guard lock(FLock);
  if (!FOptions.StateFile.empty()) SaveEmuState(FOptions.StateFile, FState);
}

// ---- status and information ----

TEmuAnswer TEmuRegister::CmdStatus(const TEmuArgs& args) {
  args.ExpectCount({0});
  int status = 0;
  if (!FState.Registration.Registered) status |= 0x02;
  if (FState.Shift.Open) status |= 0x04;
  if (ShiftExpired()) status |= 0x08;
  if (FState.Registration.ArchiveClosed) status |= 0x10;
  return {0, {"0", NumText(status), NumText(FState.Document.State), NumText(FState.Document.Type)}};
}

TEmuAnswer TEmuRegister::CmdInfo(const TEmuArgs& args) {
  args.ExpectCount({1, 2});
  const int64_t request = args.Int(0, 1, 71, EmuExt::RequestNumber);
  const std::string echo = args.Raw(0);
  const auto& reg = FState.Registration;
  switch (request) {
    case 1:
      return {0, {echo, reg.KktSerial}};
    case 2:
      return {0, {echo, "3.0.41"}};
    case 3:
      return {0, {echo, reg.Inn}};
    case 4:
      return {0, {echo, reg.RegNumber}};
    case 5:
      return {0, {echo, EmuUtf8ToOem("ВЕЛМОР-01Ф")}};
    case 7:
      return {0, {echo, MoneyText(FState.Cash)}};
    case 18: {
      const int64_t font = args.IntOr(1, 0, 0, 6, EmuExt::None);
      return {0, {echo, NumText(kFontWidths[font])}};
    }
    case 23:
      return {0,
              {echo, NumText(reg.TaxSystems), NumText(reg.WorkMode | (reg.AgentTypes << 8)),
               NumText(reg.AddWorkMode)}};
    default:
      Refuse(EmuError::BadParameter, EmuExt::RequestNumber, "unknown information request");
  }
}

TEmuAnswer TEmuRegister::CmdLastReceipt(const TEmuArgs& args) {
  args.ExpectCount({1});
  args.Int(0, 2, 2, EmuExt::RequestNumber);
  const auto& r = FState.LastReceipt;
  return {0,
          {"2", NumText(r.Type), NumText(FState.Shift.Receipts), NumText(r.Number),
           NumText(r.DocNumber), MoneyText(r.Sum), MoneyText(r.Discount), MoneyText(r.Margin),
           NumText(r.FiscalSign)}};
}

TEmuAnswer TEmuRegister::CmdPrinterState(const TEmuArgs& args) {
  args.ExpectCount({0});
  return {0, {NumText((FState.PaperOut ? 0x02 : 0) | (FState.CoverOpen ? 0x04 : 0))}};
}

TEmuAnswer TEmuRegister::CmdExtError(const TEmuArgs& args) {
  args.ExpectCount({1});
  args.Int(0, 1, 1, EmuExt::RequestNumber);
  return {0, {"1", NumText(FLastExt)}};
}

TEmuAnswer TEmuRegister::CmdStartSession(const TEmuArgs& args) {
  args.ExpectCount({2});
  args.DateTimeAt(0, EmuExt::DateTime);
  return {};
}

TEmuAnswer TEmuRegister::CmdReadTable(const TEmuArgs& args) {
  args.ExpectCount({2});
  const int table = static_cast<int>(args.Int(0, 0, 255, EmuExt::RequestNumber));
  const int index = static_cast<int>(args.Int(1, 0, 255, EmuExt::RequestNumber));
  if (FindTableField(table, index) == nullptr)
    Refuse(EmuError::BadParameter, EmuExt::RequestNumber, "no such table field");
  return {0, {EmuUtf8ToOem(Table(table, index))}};
}

TEmuAnswer TEmuRegister::CmdWriteTable(const TEmuArgs& args) {
  args.ExpectCount({3});
  const int table = static_cast<int>(args.Int(0, 0, 255, EmuExt::RequestNumber));
  const int index = static_cast<int>(args.Int(1, 0, 255, EmuExt::RequestNumber));
  const TEmuTableField* field = FindTableField(table, index);
  if (field == nullptr)
    Refuse(EmuError::BadParameter, EmuExt::RequestNumber, "no such table field");
  if (field->Registration && FState.Registration.Registered)
    Refuse(EmuError::WrongState, EmuExt::CannotChangeRegistration,
           "registration data change only through registration");
  if (field->Numeric)
    SetTable(table, index, NumText(args.Int(2, 0, field->MaxValue, EmuExt::None)));
  else
    SetTable(table, index, args.Text(2, field->MaxLength, EmuExt::None));
  return {};
}

TEmuAnswer TEmuRegister::CmdGetClock(const TEmuArgs& args) {
  args.ExpectCount({0});
  const TDateTime now = SecondsToCivil(NowSeconds());
  return {0, {DateText(now), TimeText(now)}};
}

TEmuAnswer TEmuRegister::CmdSetClock(const TEmuArgs& args) {
  args.ExpectCount({2});
  const int64_t wanted = CivilToSeconds(args.DateTimeAt(0, EmuExt::DateTime));
  if (!FState.FnDocuments.empty() && wanted < FState.FnDocuments.back().Time)
    Refuse(EmuError::DateEarlier, EmuExt::None, "date before the last fiscal document");
  if (FState.Shift.Open && wanted - NowSeconds() > kDay)
    Refuse(EmuError::ShiftOver24h, EmuExt::None, "clock moved by more than 24 hours");
  FState.ClockOffset = wanted - CivilToSeconds(Clock().LocalNow());
  return {};
}

TEmuAnswer TEmuRegister::CmdOpenDrawer(const TEmuArgs& args) {
  args.ExpectCount({0});
  FState.DrawerOpen = true;
  return {};
}

TEmuAnswer TEmuRegister::CmdDrawerState(const TEmuArgs& args) {
  args.ExpectCount({0});
  return {0, {FState.DrawerOpen ? "1" : "0"}};
}

TEmuAnswer TEmuRegister::CmdBeep(const TEmuArgs& args) {
  args.ExpectCount({1});
  args.Int(0, 10, 2000, EmuExt::None);
  return {};
}
