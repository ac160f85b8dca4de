// Reading the arguments of a register command and refusing bad ones the way
// the register does: with its error byte and an extended error code that
// command 06 reports afterwards.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/uClock.h"

// Error bytes of the register's answer.
namespace EmuError {
constexpr uint8_t WrongState = 0x01;      // function impossible in this state (see extended code)
constexpr uint8_t UnknownCommand = 0x02;  // no such function
constexpr uint8_t BadParameter = 0x03;    // malformed command or parameter out of range
constexpr uint8_t PaperOut = 0x08;
constexpr uint8_t PrinterNotReady = 0x09;
constexpr uint8_t ShiftOver24h = 0x0A;
constexpr uint8_t DateEarlier = 0x0C;  // clock set before the last fiscal document
constexpr uint8_t Negative = 0x0E;     // the result would be negative (cash in the drawer)
constexpr uint8_t CloseShiftFirst = 0x0F;
constexpr uint8_t Fatal = 0x20;
constexpr uint8_t FnFull = 0x46;
constexpr uint8_t FnNoData = 0x48;
constexpr uint8_t MarkingSequence = 0x73;  // marking-code commands out of order
constexpr uint8_t MarkingTableFull = 0x75;
constexpr uint8_t MarkingUnchecked = 0x7E;  // code never checked (or not accepted)
}  // namespace EmuError

// Extended error codes (answer of command 06).
namespace EmuExt {
constexpr int None = 0;
constexpr int ArchiveClosed = 3;
constexpr int NotRegistered = 4;
constexpr int AlreadyRegistered = 5;
constexpr int DocumentNotOpen = 8;
constexpr int PreviousNotClosed = 9;
constexpr int DocState1 = 11;
constexpr int DocState12 = 12;
constexpr int DocState123 = 13;
constexpr int DocState4 = 14;
constexpr int NotSaleOrReturn = 16;
constexpr int NotCashInOut = 17;
constexpr int ShiftNotOpen = 20;
constexpr int ZeroTotal = 26;
constexpr int OneDiscountOnly = 35;
constexpr int RegNumber = 37;
constexpr int CannotChangeRegistration = 38;
constexpr int DateTime = 39;
constexpr int DocType = 40;
constexpr int Department = 41;
constexpr int DocNumber = 42;
constexpr int TaxSystem = 43;
constexpr int ItemName = 44;
constexpr int Article = 45;
constexpr int Quantity = 46;
constexpr int Price = 47;
constexpr int TaxCode = 48;
constexpr int Position = 49;
constexpr int Section = 50;
constexpr int DiscountName = 51;
constexpr int DiscountSum = 52;
constexpr int PaymentMethod = 53;
constexpr int PaymentSubject = 54;
constexpr int PaymentType = 55;
constexpr int PaymentSum = 56;
constexpr int ExtraText = 57;
constexpr int BuyerAddress = 58;
constexpr int UserInn = 60;
constexpr int WorkMode = 61;
constexpr int AgentSign = 64;
constexpr int RequestNumber = 66;
constexpr int MarkingType = 69;
constexpr int ReceiptRequisite = 71;
constexpr int UserRequisiteName = 72;
constexpr int UserRequisiteValue = 73;
constexpr int CorrectionType = 75;
constexpr int OperationType = 76;
constexpr int CorrectionNumber = 77;
constexpr int ProductCode = 81;
constexpr int BuyerInn = 85;
constexpr int Buyer = 86;
constexpr int Ffd12Only = 88;
constexpr int Phone = 93;
}  // namespace EmuExt

// A refusal: the command is answered with `Error` and command 06 then reports `Ext`.
class EEmuRefusal : public std::runtime_error {
 public:
  EEmuRefusal(uint8_t error, int ext, const std::string& reason)
      : std::runtime_error(reason), Error(error), Ext(ext) {}
  uint8_t Error;
  int Ext;
};

[[noreturn]] void Refuse(uint8_t error, int ext, const std::string& reason);

// Wall time of the register as seconds counted from 1970-01-01 00:00:00 of its
// local calendar (no time zone: the fiscal storage stores local time that way).
int64_t CivilToSeconds(const TDateTime& t);
TDateTime SecondsToCivil(int64_t seconds);

// "ddmmyy" / "hhnnss" of a local time.
std::string DateText(const TDateTime& t);
std::string TimeText(const TDateTime& t);
// "dd.mm.yyyy hh:nn", the form every printed document shows its time in.
std::string DateTimeText(int64_t seconds);
// Kopecks as "1500.00" / "-3.05".
std::string MoneyText(int64_t kopecks);
// A number as an answer field carries it.
inline std::string NumText(int64_t value) {
  return std::to_string(value);
}

// The arguments of one command (bytes as sent, CP866 for texts).
class TEmuArgs {
 public:
  explicit TEmuArgs(const std::vector<std::string>& args) : FArgs(args) {}

  size_t Count() const { return FArgs.size(); }
  // Refuses with 03 unless the count is one of `allowed`; no argument at all
  // passes for one empty argument.
  void ExpectCount(std::initializer_list<size_t> allowed) const;
  const std::string& Raw(size_t i) const;
  bool Empty(size_t i) const { return Raw(i).empty(); }

  // A decimal integer in [lo, hi]; otherwise 03 with `ext`.
  int64_t Int(size_t i, int64_t lo, int64_t hi, int ext) const;
  // The same, but an empty argument gives `def`.
  int64_t IntOr(size_t i, int64_t def, int64_t lo, int64_t hi, int ext) const;
  // Money as kopecks (decimal with "."; fractions of a kopeck are rounded),
  // 0 to 100 000 000.00.
  int64_t Money(size_t i, int ext) const;
  // A positive quantity as millionths (up to 99 999.999999).
  int64_t Quantity(size_t i, int ext) const;
  // Register text (CP866) of at most `maxLen` bytes, returned as UTF-8.
  std::string Text(size_t i, size_t maxLen, int ext) const;
  // "ddmmyy" plus "hhnnss" at i and i + 1.
  TDateTime DateTimeAt(size_t i, int ext) const;
  // "ddmmyy" only (midnight).
  TDateTime DateAt(size_t i, int ext) const;

 private:
  const std::vector<std::string>& FArgs;
};

// Parsing helpers shared with the marking-code commands.
bool ParseDecimal(std::string_view text, double& value);
bool ParseDate6(std::string_view text, TDateTime& date);
bool ParseTime6(std::string_view text, TDateTime& time);
// A marking code as the driver escapes it: each byte below 0x20 written as
// "$" and two upper-case hex digits. Other "$" stay as they are.
std::string UnescapeMarkingCode(std::string_view escaped);
