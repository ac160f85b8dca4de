// Records of the fiscal data format as the fiscal storage keeps them: tag and
// length as 16-bit little-endian numbers, then the value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TEmuTlv {
 public:
  // Texts are register bytes (CP866).
  TEmuTlv& Str(uint16_t tag, std::string_view bytes);
  TEmuTlv& Byte(uint16_t tag, uint8_t value);
  TEmuTlv& U32(uint16_t tag, uint32_t value);
  // Seconds since 1970 of the register's local calendar, 4 bytes.
  TEmuTlv& Time(uint16_t tag, int64_t seconds);
  // Money in kopecks: the shortest little-endian form (at least one byte).
  TEmuTlv& Vln(uint16_t tag, uint64_t kopecks);
  // Decimal with a point position: the count of decimals, then the digits as VLN.
  TEmuTlv& Fvln(uint16_t tag, uint64_t digits, uint8_t decimals);
  TEmuTlv& Raw(uint16_t tag, std::string_view value);
  TEmuTlv& Container(uint16_t tag, const TEmuTlv& inner) { return Raw(tag, inner.Bytes()); }
  // Appends already encoded records.
  TEmuTlv& Append(std::string_view records);

  const std::string& Bytes() const { return FBytes; }
  bool Empty() const { return FBytes.empty(); }

 private:
  std::string FBytes;
};

// One top-level record of an encoded sequence.
struct TEmuTlvRecord {
  uint16_t Tag = 0;
  std::string_view Value;  // view into the sequence
  std::string_view Whole;  // header and value
};

// Splits a sequence into its top-level records; false when it is malformed.
bool SplitTlv(std::string_view bytes, std::vector<TEmuTlvRecord>& records);
