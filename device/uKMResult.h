// The outcome of one marking-code check, kept per connection (TMarkingCodes)
// so that a receipt can later bind the checked code to its item.
#pragma once

#include <cstdint>
#include <string>

struct TKMResult {
  std::string GUID;                     // the host's identifier of the check request
  std::string KM;                       // marking code (not filled)
  int32_t MarkingValidationResult = 0;  // bit 0 = code checked, bit 1 = result positive
  int32_t StatusInfo = 0;
  int32_t ProcessingResult = 0;  // bit 1 is what the host is told
  int32_t ProcessingCode = 0;
  int32_t RequestDate = 0;  // not filled
  int32_t LocalValidationResult = 0;
  int32_t OfflineValidationError = 0;  // not filled
  int32_t PlannedStatus = 0;           // planned status sent with the check
  int32_t RequestStatus = 0;           // 0 = answer received, 2 = the check command failed
  // The cashier accepted the code after this check; only an accepted code is sold.
  bool Accepted = false;
};
