// Typed answers of the register's information reads that the fiscal
// operations need as a whole: each record is filled by one TDevice read
// (uDeviceReadings.cpp) that knows which command answers which field, so
// the fiscal layer never counts fields of "the last command".
//
// Money values carry four implied decimals (value x 10000); texts are UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/uClock.h"

// Payment kinds in the answers of counter requests 3 to 6, in this order.
enum TPaymentKind : size_t { pkCash, pkElectronic, pkPrepayment, pkCredit, pkBarter, pkCount };

// Sums (or counts) per payment kind of one operation type in the shift.
struct TPaymentTotals {
  std::array<int64_t, pkCount> ByKind{};
  // The sum over the kinds; for counts it is not filled.
  int64_t Total = 0;
};

// Number, date and fiscal sign of the last fiscal document.
struct TLastDocument {
  TDateTime Date;
  uint32_t Number = 0;
  uint32_t FiscalSign = 0;
};

// What a fiscal document's close is answered with: the document, where it
// stands in its shift, and where the buyer checks it.
struct TDocumentResult {
  TLastDocument Document;
  int64_t ShiftNumber = 0;
  int64_t ReceiptNumberInShift = 0;
  std::string InspectionSite;  // the tax authority's site
};

// The shift's counters and totals, as the shift reports and the status
// query answer them.
struct TShiftCounters {
  TLastDocument LastDocument;
  int64_t ReceiptNumberInShift = 0;
  int64_t ShiftNumber = 0;
  int64_t CashBalance = 0;
  int DayState = 1;  // GetDayState: 1 closed, 2 open, 3 open for more than 24 hours
  // The fiscal storage's exchange state: warning flags (bit 0 storage error,
  // 1 storage failure, 2 storage nearly full) and the documents the data
  // operator has not yet confirmed.
  int64_t FNWarnings = 0;
  int64_t BacklogDocuments = 0;
  int64_t BacklogFirstNumber = 0;
  TDateTime BacklogFirstDate;  // empty when nothing waits
  TDateTime BacklogFirstTime;
  int64_t SaleReceipts = 0;
  int64_t ReturnReceipts = 0;
  int64_t CashIns = 0;
  int64_t CashOuts = 0;
  int64_t CashInTotal = 0;
  int64_t CashOutTotal = 0;
  TPaymentTotals SaleSums, ReturnSums;
  TPaymentTotals SaleCounts, ReturnCounts;
};

// The register's registration as it reports it, before any reading for the
// host: format codes as the fiscal storage gives them, flag words whole.
struct TRegistrationReading {
  int64_t FNLifePhase = 0;  // low four bits 3: fiscal mode
  std::string FNSerialNumber;
  std::string KKTNumber;  // registration number
  int64_t FFDCode = 0;    // the format in use
  int64_t FNFFDCode = 0;  // the fiscal storage's format
  std::string KKTSerialNumber;
  std::string DocumentNumber;  // of the registration report
  TDateTime DateTime;          // of the registration
  // The organisation name and the settlement address are kept in two
  // settings fields each.
  std::string CompanyName1, CompanyName2;
  std::string INN;
  std::string SaleAddress1, SaleAddress2;
  std::string SaleLocation;
  int64_t TaxationSystems = 0;  // bits 0 to 5; bit 15: lottery
  int64_t WorkModes = 0;        // bits 0 to 7; agent kinds in bits 8 to 14
  int64_t ExtraWorkModes = 0;   // bits 0 to 6
  std::string AutomaticNumber;
  std::string OFDCompany;
  std::string OFDCompanyINN;
  std::string FNSURL;
  std::string SenderEmail;
};
