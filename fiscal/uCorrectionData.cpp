#include "fiscal/uCorrectionData.h"

#include <stdexcept>

#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "device/uDevice.h"
#include "device/uEquipmentErrors.h"
#include "resources/uResources.h"

std::string CorrectionBaseDate(std::string_view ADate) {
  if (ADate.empty()) return TDevice::DateToDevice(Clock().LocalNow());
  int64_t y = 0, m = 0, d = 0;
  if (ADate.size() < 10 || !TryStrToInt64(ADate.substr(0, 4), y) ||
      !TryStrToInt64(ADate.substr(5, 2), m) || !TryStrToInt64(ADate.substr(8, 2), d) ||
      !TDateTime::IsValidDate(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)))
    throw std::runtime_error(ResFormat("CorrectionDateInvalid", {ADate}));
  return TDevice::DateToDevice(
      TDateTime{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)});
}

uint8_t CorrectionTypeByte(int AType, int AOperationType, int ATaxationSystem, bool AFormat12) {
  if (ATaxationSystem < 0 || ATaxationSystem > 5) throw MakeEquException(ecInvalidInput);
  int kind = ATaxationSystem * 4;
  if (AType == 1) kind |= 0x01;
  // A purchase return is a purchase too.
  if (AOperationType == 3 || (AFormat12 && AOperationType == 4)) kind |= 0x02;
  if (!AFormat12) kind |= 0x20;
  if (AFormat12 && (AOperationType == 2 || AOperationType == 4)) kind |= 0x40;
  return static_cast<uint8_t>(kind);
}
