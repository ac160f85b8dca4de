// The virtual register: its state (shift, open document, cash, counters,
// fiscal storage, setting tables, clock, marking codes) and every command of
// its command set. The wire side hands it decoded commands through
// TEmuCommandHandler; tests also drive it in-process through the control API.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/uClock.h"
#include "emulator/register/uEmuArgs.h"
#include "emulator/register/uEmuRegisterState.h"
#include "emulator/register/uEmuTape.h"
#include "emulator/register/uEmuTlv.h"
#include "emulator/wire/uEmuCommandHandler.h"

struct TEmuRegisterOptions {
  // Fiscal data format version: "1.05", "1.1" or "1.2". Empty: the version
  // kept in the state file, or "1.2" for a fresh register.
  std::string FfdVersion;
  // JSON state file; empty keeps the state in memory only.
  std::string StateFile;
  // Paper tape (UTF-8 text); nullptr discards it.
  std::ostream* Tape = nullptr;
  // A fresh register (no state file yet) starts registered with its fiscal
  // storage; false leaves it waiting for registration (command 60).
  bool Registered = true;
  // Where failures to write the state file are reported; nullptr = std::cerr.
  std::ostream* Diagnostics = nullptr;
};

// What the marking service answers to a code check (command 79/1).
struct TEmuMarkingOutcome {
  int ValidationResult = 15;      // field 1: bit 0 checked, bit 1 positive, bits 2-3 online
  int LocalValidationResult = 1;  // field 2
  int ProcessingResult = 3;       // field 3: bit 1 is the result shown to the cashier
  int ProcessingCode = 0;         // field 4
  int StatusInfo = 1;             // field 5
  // Non-zero: the check command fails with this error byte and extended code.
  uint8_t Error = 0;
  int Ext = 0;
};

// Buyer and sale data of the long close command, as register bytes (CP866).
struct TEmuBuyer {
  std::string Address;  // e-mail or phone (tag 1008)
  std::string SaleAddress, SaleLocation;
  std::string UserAttributeName, UserAttributeValue;
  std::string Info, Inn, DateOfBirth, Citizenship, DocumentCode, DocumentData, PostalAddress;
  bool Cut = true;
};

class TEmuRegister : public TEmuCommandHandler {
 public:
  // Loads the state file when given (creating it for a fresh register);
  // a corrupt file raises std::runtime_error naming it.
  explicit TEmuRegister(TEmuRegisterOptions options);

  TEmuAnswer Execute(const std::string& command, const std::vector<std::string>& args) override;

  // Control API for in-process tests and the program. Every call is
  // thread-safe with respect to Execute; the changing ones save the state.
  // Outcome of every later check of any code / of one code (raw bytes, group
  // separators as byte 29, not escaped).
  void SetMarkingOutcome(const TEmuMarkingOutcome& outcome);
  void SetMarkingOutcomeFor(const std::string& code, const TEmuMarkingOutcome& outcome);
  // Moves the register's clock against the computer's (seconds, either way).
  void MoveClock(int64_t seconds);
  TDateTime Now() const;
  void SetPaperOut(bool paperOut);
  void SetCoverOpen(bool open);
  void SetDrawerOpen(bool open);
  void SetFnWarnings(uint8_t flags);
  // Offline: documents stay unsent (the backlog of 78/7 grows).
  void SetOfdOnline(bool online);
  void SetCash(int64_t kopecks);

  // 1 closed, 2 open, 3 open for more than 24 hours.
  int DayState() const;
  TEmuState Snapshot() const;
  int LastDocumentNumber() const;
  std::optional<TEmuFnDocument> Document(int number) const;
  int LastExtendedError() const;
  std::string Ffd() const;
  // Writes the state file now (nothing without one).
  void Save() const;

 private:
  using THandler = TEmuAnswer (TEmuRegister::*)(const TEmuArgs&);
  struct TCommand {
    THandler Handler;
    bool Changes;  // saved after success
  };
  static const std::map<std::string, TCommand>& Commands();

  // Clock, state and shared checks (uEmuRegister.cpp).
  int64_t NowSeconds() const;
  bool Ffd12() const { return FState.Ffd == "1.2"; }
  int FfdCode() const;
  bool Printing() const;
  std::string Table(int table, int index) const;
  void SetTable(int table, int index, const std::string& value);
  void RequireFiscalMode() const;
  void RequireShiftOpen() const;
  void RequireNoDocument() const;
  void RequireShiftClosed() const;
  void RequirePrinter() const;
  void RequireStorageRoom() const;
  bool ShiftExpired() const;
  void SaveLocked() const;
  // A change through the control API: under the lock, then saved.
  template <class TChange>
  void Change(TChange change) {
    std::lock_guard lock(FLock);
    change();
    SaveLocked();
  }

  // Status, information, clock, tables, drawer (uEmuRegister.cpp).
  TEmuAnswer CmdStatus(const TEmuArgs&);
  TEmuAnswer CmdInfo(const TEmuArgs&);
  TEmuAnswer CmdLastReceipt(const TEmuArgs&);
  TEmuAnswer CmdPrinterState(const TEmuArgs&);
  TEmuAnswer CmdExtError(const TEmuArgs&);
  TEmuAnswer CmdStartSession(const TEmuArgs&);
  TEmuAnswer CmdReadTable(const TEmuArgs&);
  TEmuAnswer CmdWriteTable(const TEmuArgs&);
  TEmuAnswer CmdGetClock(const TEmuArgs&);
  TEmuAnswer CmdSetClock(const TEmuArgs&);
  TEmuAnswer CmdOpenDrawer(const TEmuArgs&);
  TEmuAnswer CmdDrawerState(const TEmuArgs&);
  TEmuAnswer CmdBeep(const TEmuArgs&);

  // Documents and receipts (uEmuDocuments.cpp).
  TEmuAnswer CmdOpenDocument(const TEmuArgs&);
  TEmuAnswer CmdRequisites(const TEmuArgs&);
  TEmuAnswer CmdItem(const TEmuArgs&);
  TEmuAnswer CmdSubtotal(const TEmuArgs&);
  TEmuAnswer CmdDiscount(const TEmuArgs&);
  TEmuAnswer CmdMargin(const TEmuArgs&);
  TEmuAnswer CmdPayment(const TEmuArgs&);
  TEmuAnswer CmdEncash(const TEmuArgs&);
  TEmuAnswer CmdPrintString(const TEmuArgs&);
  TEmuAnswer CmdPrintProps(const TEmuArgs&);
  TEmuAnswer CmdBarcode(const TEmuArgs&);
  TEmuAnswer CmdCut(const TEmuArgs&);
  TEmuAnswer CmdOfdProps(const TEmuArgs&);
  TEmuAnswer CmdReceiptCopy(const TEmuArgs&);
  TEmuAnswer CmdCorrection(const TEmuArgs&);
  TEmuAnswer CmdCancelDocument(const TEmuArgs&);
  TEmuAnswer CmdCloseDocument(const TEmuArgs&);
  TEmuOpenDocument& RequireReceipt(int needState);
  void ApplyDiscount(int64_t amount, bool margin, const std::string& name, bool wholeReceipt);
  void PrintLine(const std::string& utf8);
  int64_t ReceiptTotal() const;

  // Fiscal documents: building, storing, totals (uEmuFiscalDocuments.cpp).
  TEmuFnDocument& StoreDocument(int type, TEmuTlv body, int64_t time);
  void AddHeader(TEmuTlv& tlv, const char* name, int64_t time, const std::string& cashier);
  TEmuFnDocument& CloseReceipt(const TEmuBuyer& buyer);
  void PrintReceipt(const TEmuOpenDocument& doc, const TEmuBuyer& buyer, const TEmuFnDocument* fn);
  std::vector<std::string> RenderLines(const TEmuOpenDocument& doc) const;
  void CloseCashDocument(bool cut);
  TEmuFnDocument& StoreLegacyCorrection(const TEmuArgs& args);
  void PrintHeader(const char* title);
  void PrintFiscalFooter(const TEmuFnDocument& doc, bool cut);
  std::vector<std::string> DescribeDocument(const TEmuFnDocument& doc) const;

  // Shift, reports, registration, counters (uEmuReports.cpp).
  TEmuAnswer CmdCounters(const TEmuArgs&);
  TEmuAnswer CmdXReport(const TEmuArgs&);
  TEmuAnswer CmdZReport(const TEmuArgs&);
  TEmuAnswer CmdOpenShift(const TEmuArgs&);
  TEmuAnswer CmdSettlementsReport(const TEmuArgs&);
  TEmuAnswer CmdRegister(const TEmuArgs&);
  TEmuAnswer CmdTechReset(const TEmuArgs&);
  TEmuAnswer CmdCloseFn(const TEmuArgs&);
  TEmuAnswer CmdDocumentCopy(const TEmuArgs&);
  TEmuAnswer CmdRegistrationReport(const TEmuArgs&);
  TEmuAnswer CmdServiceData(const TEmuArgs&);
  std::vector<std::string> ShiftReportLines(const char* title) const;
  void AddBacklog(TEmuTlv& tlv) const;
  void StoreRegistration(bool first, const std::string& cashier, bool print = true);

  // Fiscal-storage requests (uEmuFnInfo.cpp).
  TEmuAnswer CmdFnInfo(const TEmuArgs&);
  int FirstUnsent() const;

  // Marking codes (uEmuMarking.cpp).
  TEmuAnswer CmdMarking(const TEmuArgs&);

  TEmuRegisterOptions FOptions;
  TEmuTape FTape;
  mutable std::mutex FLock;
  TEmuState FState;
  // Not kept in the state file: they belong to one working session.
  int FLastExt = 0;
  int FReadDocument = 0;  // document being read with 78/15 and 78/16 (0 = none)
  size_t FReadRecord = 0;
  TEmuMarkingOutcome FMarkingDefault;
  std::map<std::string, TEmuMarkingOutcome> FMarkingOutcomes;
};
