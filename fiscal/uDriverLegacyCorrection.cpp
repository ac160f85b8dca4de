// Correction receipts of the formats before 1.2: the register takes the
// whole correction in one command, with totals per payment kind and per tax
// rate instead of items.
#include <cstdint>
#include <iterator>

#include "common/uCommonUtils.h"
#include "fiscal/uCorrectionData.h"
#include "fiscal/uDriver.h"
#include "fiscal/uInputReading.h"

namespace {

// Tax totals of the command, by the rate's position in the connection's
// rate list; rates past "10/110" have no total in these formats.
enum TLegacyTax { ltTax20, ltTax10, ltTax0, ltTaxNone, ltTax120, ltTax110, ltCount };
constexpr TLegacyTax kTaxOfRate[] = {ltTax20,   ltTax20,  ltTax10,  ltTax0,
                                     ltTaxNone, ltTax120, ltTax120, ltTax110};

}  // namespace

void TDriver::ProcessLegacyCorrection(const pugi::xml_document& ACheckCorrectionPackage,
                                      pugi::xml_document& ADocumentOutputParameters) {
  // The texts the command carries are checked before the register is asked anything.
  const pugi::xml_node input = ACheckCorrectionPackage.document_element().child("Parameters");
  RefuseControlBytes(ReadTextAttr(input, "CashierName"), "CashierName");
  RefuseControlBytes(ReadTextAttr(input, "CashierINN"), "CashierINN");
  RefuseControlBytes(ReadTextAttr(input.child("CorrectionData"), "Number"),
                     "CorrectionData.Number");
  CancelOpenDocument();
  KeepingPrintSetting([&] {
    TDeviceDriver& holder = Instance();
    TDevice& device = Device();
    WritePaperSetting(holder.FEnablePrinting == TDeviceDriver::cPrintNever);
    EnsureShiftState(true);

    const pugi::xml_node root = ACheckCorrectionPackage.document_element();
    const pugi::xml_node parameters = root.child("Parameters");
    const pugi::xml_node positions = root.child("Positions");
    const pugi::xml_node payments = root.child("Payments");
    const pugi::xml_node correction = parameters.child("CorrectionData");
    if (!parameters || !positions || !payments || !correction)
      throw MakeEquException(ecInvalidInput);

    const std::string cashierName = ReadTextAttr(parameters, "CashierName");
    const std::string cashierINN = ReadTextAttr(parameters, "CashierINN");
    const int taxationSystem = ReadIntAttr(parameters, "TaxationSystem", -1);
    const int type = ReadIntAttr(correction, "Type", 0);
    const std::string baseDate = CorrectionBaseDate(ReadTextAttr(correction, "Date"));
    const std::string baseNumber = ReadTextAttr(correction, "Number");
    // Returns cannot be corrected in one command: the register has no field for them.
    const int operationType = ReadIntAttr(parameters, "OperationType", 0);
    if (operationType != 1 && operationType != 3) throw MakeEquException(ecInvalidInput);
    const std::string cashier = ThroughAnsi(CashierText(cashierName, cashierINN));

    // Several positions of one rate add up: the register takes one total per rate.
    int64_t taxes[ltCount] = {};
    for (const pugi::xml_node position : positions.children()) {
      if (position.type() != pugi::node_element || !SameText(position.name(), "FiscalString"))
        continue;
      const int rate = holder.FTaxValues.IDOfTax(ReadTextAttr(position, "VATRate"));
      if (rate < 0 || rate >= static_cast<int>(std::size(kTaxOfRate)))
        throw MakeEquException(ecTaxGroupOutOfRange);
      int64_t& total = taxes[kTaxOfRate[rate]];
      if (__builtin_add_overflow(total, ReadMoneyAttr(position, "VATAmount"), &total))
        throw MakeEquException(ecInvalidInput);
    }
    const uint8_t kind = CorrectionTypeByte(type, operationType, taxationSystem, false);

    device.CorrectionReceiptOld(
        cashier, ReadMoneyAttr(payments, "Cash"), ReadMoneyAttr(payments, "ElectronicPayment"),
        ReadMoneyAttr(payments, "PrePayment"), ReadMoneyAttr(payments, "PostPayment"),
        ReadMoneyAttr(payments, "Barter"), kind, baseDate, baseNumber, taxes[ltTax20],
        taxes[ltTax10], taxes[ltTax0], taxes[ltTaxNone], taxes[ltTax120], taxes[ltTax110]);
    FillDocumentOutputParameters(ADocumentOutputParameters);
  });
}
