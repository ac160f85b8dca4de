// Records of fiscal documents read back from the fiscal storage in TLV form.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

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
