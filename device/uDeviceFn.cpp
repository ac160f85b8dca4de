// Reading a stored fiscal document back from the fiscal storage: 78/15 opens
// the document and announces its length, 78/16 hands one TLV record per
// answer. Records come from the device, so every length is checked against
// the bytes that are really there before anything is decoded.
#include <chrono>
#include <stdexcept>

#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "common/uFd.h"
#include "device/uDevice.h"
#include "resources/uResources.h"

namespace {

constexpr size_t cHeaderSize = 4;
// Containers in the fiscal data format nest three levels at most; anything
// far deeper is damaged data, not a document.
constexpr int cMaxNesting = 8;
// A stored document is a few KiB; even a receipt of a thousand items with
// their marking codes stays well below this. The length 78/15 announces is a
// 64-bit number from the device, and the records are read until it is
// reached, so a damaged storage or a misbehaving register would otherwise
// grow the element list without bound. A negative length is no length.
constexpr int64_t cMaxDocumentSize = 1024 * 1024;

// One record an answer: a thousand-item receipt with its marking codes is
// about a thousand records. A register that announces the largest length and
// hands it over two bytes a record would otherwise be asked half a million
// times.
constexpr int64_t cMaxDocumentRecords = 10000;
// The whole readout, however each record's answer goes: the largest document
// takes about six minutes at 57600 bits/s, its records being hexadecimal text.
constexpr std::chrono::minutes cReadoutLimit{10};

// Storage requests of command 78.
constexpr int cLastDocumentNumber = 3;
constexpr int cStartDocumentRead = 15;
constexpr int cReadDocumentRecord = 16;

// A record that does not hold together.
class ETLVFormat : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The tag and the value length of the record header at AAt, checked against
// the data: the whole record must be there.
void ReadHeader(std::string_view AData, size_t AAt, int32_t& ATag, size_t& ALength) {
  if (AData.size() - AAt < cHeaderSize)
    throw ETLVFormat(ResFormat("FnHeaderCut", {std::to_string(AData.size() - AAt)}));
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(AData[AAt + i]); };
  ATag = Convert2CharToInt(byte(1), byte(0));
  ALength = static_cast<size_t>(Convert2CharToInt(byte(3), byte(2)));
  if (ALength > AData.size() - AAt - cHeaderSize)
    throw ETLVFormat(ResFormat("FnRecordPastEnd", {std::to_string(ATag)}));
}

// The children of a container with tag AParent: a container child is opened
// in place and adds nothing itself; every other child becomes an element,
// marked as an item field inside an item (1059) or its product code (1163).
// A remainder too short for a record with a value holds nothing to decode
// and is left alone, so the children before it still count.
void DecodeContainer(std::string_view AValue, int32_t AParent, int ADepth,
                     std::vector<TDocElement>& AList) {
  if (ADepth > cMaxNesting)
    throw ETLVFormat(
        ResFormat("FnNestingTooDeep", {std::to_string(AParent), std::to_string(cMaxNesting)}));
  const bool itemField = AParent == 1059 || AParent == 1163;
  size_t at = 0;
  while (AValue.size() - at > cHeaderSize) {
    int32_t tag = 0;
    size_t length = 0;
    ReadHeader(AValue, at, tag, length);
    const std::string_view record = AValue.substr(at, cHeaderSize + length);
    const TTLVTag* entry = FindTLVTag(tag);
    const uint8_t type = entry != nullptr ? entry->DataType : uint8_t{tdtUnknown};
    if (type == tdtSTLV) {
      DecodeContainer(record.substr(cHeaderSize), tag, ADepth + 1, AList);
    } else {
      std::string value;
      GetTLVValue(record, tag, value, 0, type);
      AList.emplace_back(tag, entry != nullptr ? entry->ReqName : "", type, std::move(value),
                         itemField);
    }
    at += cHeaderSize + length;
  }
}

// One record as 78/16 hands it: exactly one TLV record. An unknown tag is
// skipped before its length is looked at: its value is never read, so a
// length that does not fit the record costs nothing.
void DecodeRecord(std::string_view ABlock, std::vector<TDocElement>& AList) {
  int32_t tag = 0;
  size_t length = 0;
  uint8_t type = 0;
  std::string name;
  if (ABlock.size() >= 2 && !FindTag(ABlock, tag, type, name)) return;
  ReadHeader(ABlock, 0, tag, length);
  if (ABlock.size() != cHeaderSize + length)
    throw ETLVFormat(ResFormat("FnRecordTrailing", {std::to_string(tag)}));
  if (type == tdtSTLV) {
    AList.emplace_back(tag, std::move(name), type, std::string{}, false);
    DecodeContainer(ABlock.substr(cHeaderSize), tag, 1, AList);
    return;
  }
  std::string value;
  GetTLVValue(ABlock, tag, value, 0, type);
  AList.emplace_back(tag, std::move(name), type, std::move(value), false);
}

}  // namespace

int64_t TDevice::GetDocumentFromFN(int ADocNumber) {
  FDocElementList.clear();
  int64_t number = ADocNumber;
  if (number <= 0) {
    FNGetInfo(cLastDocumentNumber);
    number = GetDataAsInteger(1);
  }
  FNGetInfo(cStartDocumentRead, number);
  const int64_t documentType = GetDataAsInteger(1);
  const int64_t total = GetDataAsInteger(2);
  if (total < 0 || total > cMaxDocumentSize)
    throw std::runtime_error(ResFormat(
        "FnReadError", {ResFormat("FnDocumentTooLarge",
                                  {std::to_string(total), std::to_string(cMaxDocumentSize)})}));

  const auto deadline = DeadlineAfter(cReadoutLimit);
  int64_t read = 0;
  for (int64_t records = 0; read < total; ++records) {
    std::string block;
    try {
      if (records == cMaxDocumentRecords)
        throw ETLVFormat(ResFormat("FnTooManyRecords", {std::to_string(cMaxDocumentRecords)}));
      if (Clock().SteadyNow() > deadline)
        throw ETLVFormat(ResFormat("FnReadTooLong", {std::to_string(cReadoutLimit.count())}));
      FNGetInfo(cReadDocumentRecord);
      block = HexToBytes(FData.empty() ? std::string{} : FData[0]);
      // Every answer must bring a record: an empty one would never reach
      // the announced length.
      if (block.empty()) throw ETLVFormat(ResString("FnEmptyRecord"));
      read += static_cast<int64_t>(block.size());
      if (read > total) throw ETLVFormat(ResFormat("FnDocumentTooLong", {std::to_string(total)}));
      DecodeRecord(block, FDocElementList);
    } catch (const std::exception& E) {
      throw std::runtime_error(ResFormat("FnReadError", {E.what()}));
    }
  }
  return documentType;
}
