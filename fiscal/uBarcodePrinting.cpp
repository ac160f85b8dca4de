#include "fiscal/uBarcodePrinting.h"

#include "common/uCommonUtils.h"
#include "fiscal/uReceiptText.h"

namespace {

struct TBarcodeKind {
  const char* Type;
  int Options, Width, Height, Code;
};
constexpr TBarcodeKind kBarcodeKinds[] = {
    {"EAN8", 2, 0, 80, 3},
    {"EAN13", 2, 0, 80, 2},
    {"CODE39", 2, 2, 80, 4},
    {"QR", 0, 6, 0, 8},
};

}  // namespace

bool ReadBarcode(const pugi::xml_node& AElement, TBarcode& ABarcode) {
  const std::string type = AElement.attribute("Type").value();
  for (const TBarcodeKind& kind : kBarcodeKinds) {
    if (!SameText(type, kind.Type)) continue;
    ABarcode = {kind.Options, kind.Width, kind.Height, kind.Code,
                AElement.attribute("Value").value()};
    if (ABarcode.Data.empty()) ABarcode.Data = ReadBase64Attribute(AElement, "ValueBase64");
    return true;
  }
  return false;
}

const char* BarcodeDataAttribute(const pugi::xml_node& AElement) {
  return AElement.attribute("Value").value()[0] != '\0' ? "Value" : "ValueBase64";
}

void PrintBarcode(TDevice& ADevice, const TBarcode& ABarcode) {
  ADevice.PrintBarcode(ABarcode.Options, ABarcode.Width, ABarcode.Height, ABarcode.Type,
                       ABarcode.Data);
}
