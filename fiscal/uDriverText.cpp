// Text documents, cash deposits and withdrawals, and the receipt copy.
#include <cstdint>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "common/uCommonUtils.h"
#include "fiscal/uBarcodePrinting.h"
#include "fiscal/uDriver.h"
#include "fiscal/uInputReading.h"
#include "resources/uResources.h"

namespace {

// Document types of the open command.
constexpr int kServiceDocument = 1;
constexpr int kCashInDocument = 4;
constexpr int kCashOutDocument = 5;
// Error byte of a result that would go negative: less cash in the drawer
// than the withdrawal asks for.
constexpr uint8_t kNegativeResult = 0x0E;
// Cut codes of the short close.
constexpr int kCloseWithoutCut = 1;

void CloseWithoutBuyer(TDevice& ADevice) {
  ADevice.CloseDocument("", "", "", "", "", "", "", "", "", "", "", "");
}

}  // namespace

void TDriver::PrintTextDocument(const pugi::xml_document& ADocumentPackage) {
  const pugi::xml_node root = ADocumentPackage.child("Document");
  const pugi::xml_node positions = root.child("Positions");
  if (!positions) throw MakeEquException(ecInvalidInput);
  // Every line and barcode is read and checked before the register is asked
  // anything: a refused one must not leave half a document on paper.
  std::vector<std::variant<std::string, TBarcode>> lines;
  int number = 0;
  for (const pugi::xml_node position : positions.children()) {
    if (position.type() != pugi::node_element) continue;
    ++number;
    // A refusal names the line among many: "TextString.Text позиции 3".
    const auto field = [&](const std::string& AName) {
      return ResFormat("PositionField", {AName, std::to_string(number)});
    };
    if (SameText(position.name(), "TextString")) {
      const std::string text = position.attribute("Text").value();
      RefusePrintedControlBytes(text, field("TextString.Text"));
      lines.emplace_back(text);
    } else if (SameText(position.name(), "Barcode")) {
      TBarcode barcode;
      if (!ReadBarcode(position, barcode)) continue;
      RefuseControlBytes(barcode.Data,
                         field(std::string("Barcode.") + BarcodeDataAttribute(position)));
      lines.emplace_back(std::move(barcode));
    }
  }
  const bool noCut = SameText(root.attribute("NoCut").value(), "true");

  CancelOpenDocument();
  KeepingPrintSetting([&] {
    TDevice& device = Device();
    // A text document is always printed: it exists only on paper.
    WritePaperSetting(false);
    device.OpenDocument(kServiceDocument, 1, "", 1, 0);
    for (const auto& line : lines) {
      if (const auto* text = std::get_if<std::string>(&line))
        device.PrintString(*text, device.FontNumber(), false, false);
      else
        PrintBarcode(device, std::get<TBarcode>(line));
    }
    if (noCut)
      device.CloseDocument(kCloseWithoutCut, "");
    else
      CloseWithoutBuyer(device);
  });
}

// Every failure reaches the host: a cashier told that cash was deposited or
// withdrawn when the register refused it counts the drawer wrong. A
// withdrawal of more than the drawer holds gets its own code.
void TDriver::CashInOutcome(const pugi::xml_document&, int64_t AAmount) {
  // The one amount whose absolute value has no 64-bit form.
  if (AAmount == std::numeric_limits<int64_t>::min()) throw MakeEquException(ecInvalidInput);
  const bool withdrawal = AAmount < 0;
  const int64_t amount = withdrawal ? -AAmount : AAmount;
  bool shortage = false;
  try {
    CancelOpenDocument();
    KeepingPrintSetting([&] {
      TDevice& device = Device();
      ApplyReceiptPrinting(Instance().FInitPrintSetting);
      try {
        device.OpenDocument(withdrawal ? kCashOutDocument : kCashInDocument, 1, " ", 1, 0);
        device.Encash("", amount);
        CloseWithoutBuyer(device);
      } catch (...) {
        // Read before the print byte is written back, which answers anew.
        shortage = withdrawal && device.ErrorCode() == kNegativeResult;
        throw;
      }
    });
  } catch (...) {
    if (shortage) throw MakeEquException(ecNotEnoughCash);
    throw;
  }
}

void TDriver::PrintCheckCopy(const std::string&) {
  // The register keeps no printable copy of a receipt: nothing to do.
}
