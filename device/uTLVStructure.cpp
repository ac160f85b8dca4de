// Decoding single TLV records of stored fiscal documents: the header, the
// table lookup and the value of each data type as text.
#include "device/uTLVStructure.h"

#include <algorithm>

#include "common/uClock.h"
#include "common/uCommonUtils.h"

namespace {

constexpr size_t cHeaderSize = 4;

// Little-endian unsigned integer of AValue[AFrom, AFrom + ACount), cut to what
// is there.
uint64_t LittleEndian(std::string_view AValue, size_t AFrom, size_t ACount) {
  uint64_t result = 0;
  const size_t end = std::min(AValue.size(), AFrom + ACount);
  for (size_t i = end; i > AFrom; --i) result = result << 8 | static_cast<uint8_t>(AValue[i - 1]);
  return result;
}

// A little-endian integer of any length, when its significant bytes fit 64 bits.
bool LittleEndian64(std::string_view AValue, uint64_t& AInteger) {
  size_t significant = AValue.size();
  while (significant > 0 && AValue[significant - 1] == '\0') --significant;
  if (significant > 8) return false;
  AInteger = LittleEndian(AValue, 0, significant);
  return true;
}

// AInteger / 10^ADecimals, exact, in the shortest form with ".": 10000 with 2
// places is "100", 12340 is "123.4".
std::string DecimalText(uint64_t AInteger, unsigned ADecimals) {
  std::string digits = std::to_string(AInteger);
  if (ADecimals == 0) return digits;
  if (digits.size() <= ADecimals) digits.insert(0, ADecimals + 1 - digits.size(), '0');
  std::string text =
      digits.substr(0, digits.size() - ADecimals) + "." + digits.substr(digits.size() - ADecimals);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

std::string UnixTimeText(uint64_t ASeconds) {
  const auto seconds = static_cast<int64_t>(ASeconds);
  TDateTime t;
  CivilFromDays(seconds / 86400, t.Year, t.Month, t.Day);
  t.Hour = static_cast<int>(seconds % 86400 / 3600);
  t.Minute = static_cast<int>(seconds % 3600 / 60);
  t.Second = static_cast<int>(seconds % 60);
  return t.ToXml();
}

}  // namespace

bool FindTag(std::string_view AValue, int32_t& ATag, uint8_t& ADataType, std::string& AReqName) {
  if (AValue.size() < 2) return false;
  ATag = Convert2CharToInt(static_cast<uint8_t>(AValue[1]), static_cast<uint8_t>(AValue[0]));
  const TTLVTag* entry = FindTLVTag(ATag);
  if (entry == nullptr) return false;
  ADataType = entry->DataType;
  AReqName = entry->ReqName;
  return true;
}

int Convert2CharToInt(uint8_t ASecond, uint8_t AFirst) {
  return ASecond * 256 + AFirst;
}

std::string GetTLVData(std::string_view AValue, size_t ALen) {
  if (AValue.size() <= cHeaderSize) return {};
  return std::string(AValue.substr(cHeaderSize, ALen == 0 ? std::string_view::npos : ALen));
}

bool GetVLN(std::string_view AValue, uint64_t& AInteger) {
  return LittleEndian64(AValue, AInteger);
}

bool GetFVLN(std::string_view AValue, uint64_t& AInteger, uint8_t& ADecimals) {
  if (AValue.empty()) return false;
  ADecimals = static_cast<uint8_t>(AValue[0]);
  return LittleEndian64(AValue.substr(1), AInteger);
}

void GetTLVValue(std::string_view AValue, int32_t ATag, std::string& AResult, size_t ALen,
                 uint8_t ADataType) {
  const std::string data = GetTLVData(AValue, ALen);
  const auto firstByte = [&data] { return std::to_string(LittleEndian(data, 0, 1)); };
  uint64_t integer = 0;
  uint8_t decimals = 0;
  switch (ADataType) {
    case tdtBits:
      AResult = ATag == 1055 ? firstByte() : AnsiToUtf8(OemToAnsi(data));
      break;
    case tdtUnixTime:
      AResult = UnixTimeText(LittleEndian(data, 0, 4));
      break;
    case tdtUInt32:
      AResult = std::to_string(LittleEndian(data, 0, 4));
      break;
    case tdtByte:
      AResult = firstByte();
      break;
    case tdtFiscalSign: {
      uint64_t sign = 0;
      for (size_t i = 2; i < 6 && i < data.size(); ++i)
        sign = sign << 8 | static_cast<uint8_t>(data[i]);
      AResult = std::to_string(sign);
      break;
    }
    case tdtVLN:
      AResult = GetVLN(data, integer) ? DecimalText(integer, 2) : std::string{};
      break;
    case tdtFVLN:
      AResult = GetFVLN(data, integer, decimals) ? DecimalText(integer, decimals) : std::string{};
      break;
    case tdtSTLV:
      AResult.clear();
      break;
    default:  // text, and a tag the table does not know
      AResult = AnsiToUtf8(OemToAnsi(data));
      break;
  }
}
