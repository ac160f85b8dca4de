// Stored documents come from the fiscal storage as they are: the input is a
// document's record stream, handed out one header-length chunk per 78/16
// answer. Every reading must end in elements or an error, never a crash.
#include <pugixml.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/uCommonUtils.h"
#include "device/uDevice.h"

namespace {

class TFuzzStorage : public TDevice {
 public:
  explicit TFuzzStorage(std::string ADocument) : FDocument(std::move(ADocument)) {}

  void RunCommand(std::string_view, const TDeviceArgs& AData, int) override {
    if (AData.at(0) == "15") {
      FData = {"15", "3", std::to_string(FDocument.size())};
      return;
    }
    const std::string_view rest = std::string_view(FDocument).substr(FAt);
    size_t size = rest.size();
    if (rest.size() >= 4)
      size = std::min(rest.size(), 4 + (static_cast<uint8_t>(rest[2]) |
                                        static_cast<size_t>(static_cast<uint8_t>(rest[3])) << 8));
    FData = {BytesToHex(rest.substr(0, size))};
    FAt += size;
  }

 private:
  std::string FDocument;
  size_t FAt = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzStorage device(std::string(reinterpret_cast<const char*>(data), size));
  pugi::xml_document out;
  try {
    device.GetDocumentFromFN(1, out);
  } catch (const std::exception&) {
  }
  return 0;
}
