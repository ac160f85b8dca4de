// Records of fiscal documents read back from the fiscal storage in TLV form,
// and the table of the fiscal data format's requisites that decodes them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

// How the value of a requisite is written in the fiscal storage.
enum TTLVDataType : uint8_t {
  tdtUnknown = 0,     // not in the table: decoded as text
  tdtString = 1,      // text in the register's code page
  tdtBits = 3,        // bit field; tag 1055 reads as the number of its first byte
  tdtUnixTime = 4,    // seconds since 1970-01-01, 4 bytes little-endian
  tdtUInt32 = 5,      // 4 bytes little-endian
  tdtByte = 6,        // one byte
  tdtFiscalSign = 7,  // bytes 3 to 6 big-endian
  tdtVLN = 8,         // money in kopecks, little-endian of any length
  tdtFVLN = 9,        // decimal places, then a little-endian integer
  tdtSTLV = 10,       // a container of further records
};

// One requisite of the table.
struct TTLVTag {
  int32_t Tag;
  const char* ReqName;  // the short Russian name of the requisite, UTF-8
  uint8_t DataType;     // TTLVDataType
};

// Every requisite the readout knows, in table order (uTLVTags.cpp).
std::span<const TTLVTag> TLVTagTable();
// The entry of ATag, or nullptr when the table does not hold it.
const TTLVTag* FindTLVTag(int32_t ATag);

// One decoded TLV record of a stored fiscal document.
struct TDocElement {
  TDocElement() = default;
  TDocElement(int32_t ATag, std::string AReqName, uint8_t ADataType, std::string AValue,
              bool ATagSection)
      : Tag(ATag),
        ReqName(std::move(AReqName)),
        DataType(ADataType),
        Value(std::move(AValue)),
        TagSection(ATagSection) {}

  int32_t Tag = 0;
  std::string ReqName;      // short name from the tag table; empty for an unknown tag
  uint8_t DataType = 0;     // data type code from the tag table
  std::string Value;        // decoded value as UTF-8 text (empty for a container)
  bool TagSection = false;  // true inside an item container (tag 1059 or 1163)
};

// ---- Decoding one record (tag, length, value) ----

// The tag of a record (its first two bytes) and its table entry; false when
// the record is shorter than a tag or the table does not hold the tag.
bool FindTag(std::string_view AValue, int32_t& ATag, uint8_t& ADataType, std::string& AReqName);
// A little-endian 16-bit value given as its high and low byte.
int Convert2CharToInt(uint8_t ASecond, uint8_t AFirst);
// The value bytes of a record: ALen bytes after the 4 header bytes (0: all).
std::string GetTLVData(std::string_view AValue, size_t ALen = 0);
// The value of record AValue decoded by ADataType into UTF-8 text. Money and
// fractional numbers come out exact in the shortest decimal form with ".";
// one wider than 64 bits (not a value the format allows) comes out empty.
void GetTLVValue(std::string_view AValue, int32_t ATag, std::string& AResult, size_t ALen,
                 uint8_t ADataType);
// The integer of a VLN value; false when it does not fit 64 bits.
bool GetVLN(std::string_view AValue, uint64_t& AInteger);
// The integer and the decimal places of an FVLN value; false when it is
// empty or its integer does not fit 64 bits.
bool GetFVLN(std::string_view AValue, uint64_t& AInteger, uint8_t& ADecimals);
