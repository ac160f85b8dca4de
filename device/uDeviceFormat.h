// Argument forms of the command catalogue (internal to device/): how a value
// becomes one field of a request frame.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/uCommonUtils.h"
#include "device/uDevice.h"
#include "device/uEquipmentErrors.h"

namespace DeviceFormat {

// Decimal ASCII of an integer.
inline std::string Int(int64_t AValue) {
  return std::to_string(AValue);
}
// Decimal of the low 8 bits.
inline std::string Byte(int64_t AValue) {
  return std::to_string(AValue & 0xFF);
}
// A value of four implied decimals.
inline std::string Amt(int64_t AValue) {
  return TDevice::AmountToDevice(AValue);
}
// Register text of at most ALength characters (0: all).
inline std::string D(std::string_view AText, size_t ALength) {
  return TDevice::ToDeviceText(AText, ALength);
}
// A text the register receives without the OEM conversion (codes, dates):
// the frame carries it in CP1251.
inline std::string AsIs(std::string_view AText) {
  return Utf8ToAnsi(AText);
}
// Print attribute: font in bits 0-3, double height 0x10, double width 0x20,
// the sixth-bit flag 0x40.
inline std::string Attr(int AFont, bool ADoubleHeight, bool ADoubleWidth, bool ASixthBit = false) {
  int attr = (AFont & 0x0F) | (ADoubleHeight ? 0x10 : 0) | (ADoubleWidth ? 0x20 : 0) |
             (ASixthBit ? 0x40 : 0);
  return std::to_string(attr);
}
// A decimal integer as the register's software reads one: leading blanks
// are skipped, then the whole rest must be the number.
inline bool TryInteger(std::string_view AText, int64_t& AValue) {
  while (!AText.empty() && AText.front() == ' ') AText.remove_prefix(1);
  return TryStrToInt64(AText, AValue);
}
// A failed argument check: nothing is sent.
inline void CheckParam(bool AValid) {
  if (!AValid) RaiseError(EquMessages::InvalidParameter);
}
// Number of characters of a UTF-8 text (the register counts characters).
inline size_t CharCount(std::string_view AText) {
  return Utf8ToAnsi(AText).size();
}

}  // namespace DeviceFormat
