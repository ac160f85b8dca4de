// TCashCounters: one snapshot of the register's shift counters and totals,
// kept per connection. The shift operations fill it and write the chosen
// fields into their output documents. Amounts carry four implied decimals
// (value x 10000), like every money value of the driver.
#pragma once

#include <cstdint>
#include <string>

struct TCashCounters {
  bool FNError = false;     // bit 0 of the fiscal storage's warning flags
  bool FNFail = false;      // bit 1
  bool FNOverflow = false;  // bit 2
  int64_t CashOutTotalAmount = 0;
  int64_t CashInTotalAmount = 0;
  int64_t CashBalance = 0;
  int32_t ShiftState = 0;  // 1 closed, 2 open, 3 open for more than 24 hours
  int32_t ShiftNumber = 0;
  int32_t CheckNumber = 0;              // number of the last fiscal document
  int32_t ShiftClosingCheckNumber = 0;  // receipt number within the shift
  std::string DateTime;                 // "yyyy-mm-ddThh:nn:ss" of the last fiscal document
  int64_t TotalSale = 0;
  int64_t TotalRefund = 0;
  int32_t CheckCountSale = 0;
  int32_t CheckCountRefund = 0;
  int32_t CashInCount = 0;
  int32_t CashOutCount = 0;
  int32_t BacklogDocumentsCounter = 0;  // documents not yet sent to the data operator
  int32_t BacklogDocumentFirstNumber = 0;
  std::string BacklogDocumentFirstDateTime;
  int64_t CashSellSum = 0, CashSellSumReturn = 0;
  int64_t NonCashSellSum = 0, NonCashSellSumReturn = 0;
  int64_t PrepaidSellSum = 0, PrepaidSellSumReturn = 0;
  int64_t CreditSellSum = 0, CreditSellSumReturn = 0;
  int64_t BarterSellSum = 0, BarterSellSumReturn = 0;
  int32_t CashSellCount = 0, CashSellCountReturn = 0;
  int32_t NonCashSellCount = 0, NonCashSellCountReturn = 0;
  int32_t PrepaidSellCount = 0, PrepaidSellCountReturn = 0;
  int32_t CreditSellCount = 0, CreditSellCountReturn = 0;
  int32_t BarterSellCount = 0, BarterSellCountReturn = 0;
};
