// Everything the virtual register remembers: what survives a restart through
// the state file. Texts are UTF-8 here (they arrive and leave as CP866);
// binary values (stored TLV) are TEmuBytes, written as hex in the file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct TEmuBytes {
  std::string Data;
  friend bool operator==(const TEmuBytes&, const TEmuBytes&) = default;
};
void to_json(nlohmann::json& j, const TEmuBytes& b);
void from_json(const nlohmann::json& j, TEmuBytes& b);

// Document types of the open command.
enum TEmuDocType : int {
  edtNone = 0,
  edtService = 1,
  edtSale = 2,
  edtSaleReturn = 3,
  edtCashIn = 4,
  edtCashOut = 5,
  edtPurchase = 6,
  edtPurchaseReturn = 7,
};

// Types of stored fiscal documents as the storage reports them when reading starts.
enum TEmuFnDocType : int {
  efdRegistration = 1,
  efdShiftOpen = 2,
  efdReceipt = 3,
  efdShiftClose = 5,
  efdFnClose = 6,
  efdReRegistration = 11,
  efdSettlements = 21,
  efdCorrection = 31,
};

struct TEmuFnDocument {
  int Number = 0;
  int Type = 0;
  int64_t Time = 0;  // local calendar seconds (see CivilToSeconds)
  uint32_t FiscalSign = 0;
  TEmuBytes Tlv;
};

// One position of the open receipt.
struct TEmuItem {
  std::string Name;
  int64_t Quantity = 0;  // millionths
  int64_t Price = 0;     // kopecks
  int64_t Sum = 0;       // kopecks, after discounts and margins
  int TaxCode = 0;       // register tax code 0..9
  int Department = 0;
  int Method = 4;    // tag 1214
  int Subject = 1;   // tag 1212
  int Measure = -1;  // tag 2108, -1 = not given
  int64_t Excise = 0;
  std::string ProductCode;  // as sent with the requisites ("@..." or a legacy code)
  std::string MarkingCode;  // bound code (raw bytes as UTF-8), empty when none
  int PlannedStatus = 0;
  int ValidationResult = 0;
  TEmuBytes Extra;  // other item requisites, encoded
};

struct TEmuReceiptTag {
  int Tag = 0;
  TEmuBytes Value;
};

// Lines of an open document that are rendered only when it is printed: an
// item (its sum may still change by a discount) and a paper cut. User text
// never holds control characters, so these cannot be forged.
inline constexpr char kItemLineMarker[] = "\x01item:";
inline constexpr char kCutLineMarker[] = "\x01cut";
constexpr size_t kMaxDocumentLines = 2000;
constexpr size_t kMaxItems = 256;
constexpr size_t kMaxReceiptTags = 64;
constexpr size_t kMaxFnDocuments = 100000;
constexpr size_t kMaxAcceptedCodes = 100;

struct TEmuOpenDocument {
  int Type = edtNone;
  // 1 positions, 2 subtotal taken, 3 partly paid, 4 paid in full.
  int State = 0;
  bool Correction = false;
  bool Copy = false;  // a printed copy: no fiscal document is made
  int TaxIndex = 0;   // taxation system (bit number of tag 1055)
  int64_t OpenedAt = 0;
  std::string Cashier;
  std::vector<TEmuItem> Items;
  std::vector<int64_t> Payments = std::vector<int64_t>(16, 0);
  int64_t Encash = 0;
  int64_t Discounts = 0;
  int64_t Margins = 0;
  bool ReceiptDiscount = false;
  // Requisites (command 24) and a bound marking code wait for the next item.
  bool HasPending = false;
  std::string PendingProductCode;
  TEmuBytes PendingExtra;
  std::string BoundCode;
  int BoundPlannedStatus = 0;
  int BoundValidation = 0;
  std::vector<TEmuReceiptTag> Tags;
  std::vector<std::string> Lines;  // printed text lines, put on the tape at the close
  int CorrectionKind = 0;          // tag 1173
  int64_t CorrectionBaseDate = 0;
  std::string CorrectionBaseNumber;
};

// Shift totals of one kind of settlement (sale, sale return, purchase, purchase return).
struct TEmuOperationTotals {
  std::vector<int64_t> Sums = std::vector<int64_t>(16, 0);     // per payment code
  std::vector<int64_t> Counts = std::vector<int64_t>(16, 0);   // receipts with that payment
  std::vector<int64_t> TaxSums = std::vector<int64_t>(10, 0);  // per register tax code
  int64_t Receipts = 0;
  int64_t Total = 0;
};

struct TEmuShift {
  bool Open = false;
  int Number = 0;
  int64_t OpenedAt = 0;
  int Receipts = 0;   // receipt number within the shift
  int Documents = 0;  // fiscal documents made in the shift
  std::vector<TEmuOperationTotals> Operations = std::vector<TEmuOperationTotals>(4);
  int64_t CashInCount = 0, CashInSum = 0, CashOutCount = 0, CashOutSum = 0;
  int64_t Corrections = 0, Cancelled = 0, Discounts = 0, Margins = 0;
};

struct TEmuRegistration {
  bool Registered = true;
  bool ArchiveClosed = false;
  std::string Inn = "7701234567";
  std::string RegNumber = "0000000001012345";
  std::string FnSerial = "9999078900001234";
  std::string KktSerial = "00106700123456";
  int TaxSystems = 0x03;  // general and simplified (income)
  int WorkMode = 0;
  int AddWorkMode = 0;
  int AgentTypes = 0;
  int DocumentNumber = 0;  // number of the last registration report
  int64_t Time = 0;
};

struct TEmuAcceptedCode {
  std::string Code;
  int PlannedStatus = 0;
  int ValidationResult = 0;
};

struct TEmuMarkingState {
  bool Pending = false;  // a checked code awaits acceptance
  std::string PendingCode;
  int PendingPlannedStatus = 0;
  int PendingValidation = 0;
  std::vector<TEmuAcceptedCode> Accepted;
};

struct TEmuLastReceipt {
  int Type = 0;
  int Number = 0;
  int DocNumber = 0;
  int64_t Sum = 0;
  int64_t Discount = 0;
  int64_t Margin = 0;
  uint32_t FiscalSign = 0;
};

struct TEmuState {
  std::string Ffd = "1.2";
  int64_t ClockOffset = 0;  // seconds added to the computer's clock
  TEmuRegistration Registration;
  std::map<std::string, std::string> Tables;  // "table.index" -> value
  TEmuShift Shift;
  std::vector<int64_t> GrandTotals = std::vector<int64_t>(4, 0);
  int64_t Cash = 0;  // kopecks in the drawer
  TEmuOpenDocument Document;
  TEmuLastReceipt LastReceipt;
  std::vector<TEmuFnDocument> FnDocuments;  // number n is at n - 1
  int LastSentDocument = 0;                 // the data operator has every document up to it
  bool OfdOnline = true;
  int FnWarnings = 0;
  bool PaperOut = false;
  bool CoverOpen = false;
  bool DrawerOpen = false;
  TEmuMarkingState Marking;
};

void to_json(nlohmann::json& j, const TEmuState& s);
void from_json(const nlohmann::json& j, TEmuState& s);

// Reads the state file; a missing file gives false (a fresh register). A file
// that cannot be read or does not hold a valid state raises std::runtime_error
// naming the file.
bool LoadEmuState(const std::string& file, TEmuState& state);
// Writes the state file through a temporary file and a rename, so that a
// crash never leaves half a file; failures raise std::runtime_error.
void SaveEmuState(const std::string& file, const TEmuState& state);
// Throws std::runtime_error when the state breaks the register's invariants.
void ValidateEmuState(const TEmuState& state);
