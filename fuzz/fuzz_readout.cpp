// Stored documents come from the fiscal storage as they are: the input is a
// document's record stream and how the storage hands it out. Every reading
// must end in elements and a receipt package, or in an error with a message,
// never a crash.
//
// Input: one control byte, one number byte, then the records. Control bits
// 0-1: the length the start of reading (78/15) announces: exact, shorter or
// longer by the number byte, or the number byte itself; bits 2-3: how 78/16
// hands the stream out: a record per answer by its header, pieces of the
// number byte plus one, or by header with every third answer empty; bits
// 4-7: the document type announced.
#include <pugixml.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/uCommonUtils.h"
#include "device/uDevice.h"
#include "fiscal/uCheckPackage.h"
#include "tests/support/MemoryLink.h"

namespace {

// The register's storage answering the readout's commands (78/15, 78/16).
class TFuzzStorage : public TMemoryLink {
 public:
  TFuzzStorage(std::string ADocument, uint8_t AControl, uint8_t ANumber)
      : TMemoryLink("TFuzzStorage"),
        FDocument(std::move(ADocument)),
        FControl(AControl),
        FNumber(ANumber) {}

 protected:
  void Receive(std::string_view AFrame) override {
    std::string data;
    for (const std::string& field : Fields(ArgumentsOf(AFrame))) data += field + FrameCodec::FS;
    Queue(AnswerTo(AFrame, "00", data));
  }

 private:
  std::vector<std::string> Fields(const TDeviceArgs& AData) {
    if (AData.at(0) == "15") {
      int64_t length = static_cast<int64_t>(FDocument.size());
      switch (FControl & 3) {
        case 1:
          length -= FNumber;
          break;
        case 2:
          length += FNumber;
          break;
        case 3:
          length = FNumber;
          break;
        default:
          break;
      }
      return {"15", std::to_string(FControl >> 4), std::to_string(length)};
    }
    const std::string_view rest = std::string_view(FDocument).substr(FAt);
    size_t size = rest.size();
    const int mode = (FControl >> 2) & 3;
    if (mode == 1) {
      size = std::min<size_t>(rest.size(), FNumber + 1u);
    } else if (rest.size() >= 4) {
      size = std::min(rest.size(), 4 + (static_cast<uint8_t>(rest[2]) |
                                        static_cast<size_t>(static_cast<uint8_t>(rest[3])) << 8));
    }
    if (mode == 2 && ++FAnswers % 3 == 0) size = 0;
    FAt += size;
    return {BytesToHex(rest.substr(0, size))};
  }

  std::string FDocument;
  uint8_t FControl, FNumber;
  size_t FAt = 0;
  int FAnswers = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  TLinkedDevice<TFuzzStorage> device(std::string(reinterpret_cast<const char*>(data) + 2, size - 2),
                                     data[0], data[1]);
  pugi::xml_document out;
  try {
    ReadCheckPackage(device, 1, out);
    if (!out.child("CheckPackage")) __builtin_trap();  // read, but no package written
  } catch (const std::exception& e) {
    if (std::string(e.what()).empty()) __builtin_trap();  // every failure says what it is
  }
  return 0;
}
