#include "fiscal/uBarcodePrinting.h"

#include <string>

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

void PrintBarcodeElement(TDevice& ADevice, const pugi::xml_node& ABarcode) {
  const std::string type = ABarcode.attribute("Type").value();
  for (const TBarcodeKind& kind : kBarcodeKinds) {
    if (!SameText(type, kind.Type)) continue;
    std::string data = ABarcode.attribute("Value").value();
    if (data.empty()) data = ReadBase64Attribute(ABarcode, "ValueBase64");
    ADevice.PrintBarcode(kind.Options, kind.Width, kind.Height, kind.Code, data);
    return;
  }
}
