// Receipt-building commands whose argument lists depend on the fiscal data
// format (FFDVersion above 2 selects the longer lists), the item with its own
// discount, corrections and the registration of the register.
#include <cstdint>

#include "common/uInt128.h"
#include "device/uDevice.h"
#include "device/uDeviceFormat.h"

using namespace DeviceFormat;

void TDevice::CloseDocument(std::string_view ACustomerAddr, std::string_view ASaleAddress,
                            std::string_view ASaleLocation, std::string_view AUserAttributeName,
                            std::string_view AUserAttributeValue, std::string_view ACustomerInfo,
                            std::string_view ACustomerINN, std::string_view ACustomerDateOfBirth,
                            std::string_view ACustomerCitizenship,
                            std::string_view ACustomerDocumentTypeCode,
                            std::string_view ACustomerDocumentData,
                            std::string_view ACustomerAddress) {
  TDeviceArgs args = {"0",
                      D(ACustomerAddr, 0),
                      "0",
                      D(ASaleAddress, 0),
                      D(ASaleLocation, 0),
                      "",
                      D(AUserAttributeName, 0),
                      D(AUserAttributeValue, 0),
                      D(ACustomerInfo, 0),
                      D(ACustomerINN, 12)};
  if (FFDVersion() > 2) {
    std::string birth = AsIs(ACustomerDateOfBirth);
    std::erase(birth, '.');
    args.push_back(birth);
    args.push_back(D(ACustomerCitizenship, 3));
    args.push_back(D(ACustomerDocumentTypeCode, 2));
    args.push_back(D(ACustomerDocumentData, 64));
    args.push_back(D(ACustomerAddress, 256));
  }
  Run("31", args);
}

void TDevice::RegisterItem(std::string_view AItemName, std::string_view AArticle, int ADepartment,
                           double AQuantity, int64_t APrice, int ATaxCode, int64_t /*AAmount*/,
                           int ASignMethodCalculation, int ASignCalculationObject,
                           std::string_view /*ACountryOfOrigin*/,
                           std::string_view /*ACustomsDeclaration*/, int AMeasureOfQuantity,
                           int64_t AExciseAmount) {
  // Format 1.2 adds the measure of quantity and, after the item's signs, the excise amount.
  const bool ffd12 = FFDVersion() > 2;
  TDeviceArgs args = {D(AItemName, 256),
                      D(AArticle, 18),
                      FloatToDevice(AQuantity),
                      Amt(APrice),
                      Int(ATaxCode),
                      "",
                      Byte(ADepartment),
                      "",
                      ffd12 && AMeasureOfQuantity >= 0 ? Int(AMeasureOfQuantity) : std::string{},
                      "",
                      Int(ASignMethodCalculation),
                      Int(ASignCalculationObject)};
  if (ffd12) args.insert(args.end(), {"", "", Amt(AExciseAmount)});
  Run("42", args);
}

void TDevice::RegisterItemEx(std::string_view AItemName, std::string_view AArticle,
                             int64_t AQuantity, int64_t APrice, int ATaxCode, int64_t ADiscountSum,
                             std::string_view ADiscName, bool AFiscal) {
  CheckParam(ATaxCode <= 5);
  // A discount spread over no quantity has no unit price.
  CheckParam(ADiscountSum == 0 || AQuantity != 0);

  std::string name(AItemName);
  int64_t price = APrice, quantity = AQuantity;
  if (ADiscountSum != 0) {
    // Everything in units of 1e-8: price x quantity of two four-decimal values.
    const TInt128 total = TInt128::Mul(AQuantity, APrice) - TInt128::Mul(ADiscountSum, 10000);
    // The unit price rounded to kopecks times the quantity gives the line
    // exactly when, and only when, the line divides into whole kopecks per
    // unit (the line is a multiple of quantity x 100): then that quotient is
    // the unit price and no rounding happens. Exact integers here, so no
    // representation error to guard against.
    int64_t perUnit = 0, perKopeck = 0;
    const TInt128 unitPrice = total.DivMod(AQuantity, perUnit);
    unitPrice.DivMod(100, perKopeck);
    if (perUnit == 0 && perKopeck == 0 && unitPrice.FitsInt64()) {
      price = unitPrice.ToInt64();
    } else {
      // The discount does not spread evenly: the whole line goes as one unit
      // and the name keeps the real quantity.
      const TInt128 line = total.DivRound(10000);
      CheckParam(line.FitsInt64());
      price = line.ToInt64();
      quantity = 10000;
      const std::string suffix = " *" + Amt(AQuantity);
      std::string ansi = Utf8ToAnsi(name);
      const size_t room = suffix.size() < 224 ? 224 - suffix.size() : 0;
      if (ansi.size() > room) ansi.resize(room);
      name = AnsiToUtf8(ansi) + suffix;
    }
  }
  Run("42", {D(name, 224), D(AArticle, 18), Amt(quantity), Amt(price), Int(ATaxCode), "", "", "0",
             "", "0"});
  if (ADiscountSum == 0) return;

  std::string label(ADiscName);
  if (label.empty()) label = ADiscountSum > 0 ? "Скидка " : "Наценка ";
  const uint64_t magnitude = ADiscountSum < 0 ? 0 - static_cast<uint64_t>(ADiscountSum)
                                              : static_cast<uint64_t>(ADiscountSum);
  const uint64_t cents = (magnitude + 50) / 100;
  std::string right = "=" + std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "") +
                      std::to_string(cents % 100);
  const size_t width = LineLength() > 0 ? static_cast<size_t>(LineLength()) : 0;
  std::string line;
  if (right.size() >= width) {
    line = right.substr(0, width);
  } else {
    std::string ansiLabel = Utf8ToAnsi(label);
    const size_t room = width - right.size();
    if (ansiLabel.size() > room) ansiLabel.resize(room);
    ansiLabel.append(room - ansiLabel.size(), ' ');
    line = AnsiToUtf8(ansiLabel) + right;
  }
  if (AFiscal)
    PrintProps(line, 0, false, false);
  else
    PrintString(line);
}

void TDevice::CorrectionReceipt(std::string_view ACashier, int ACorrectionType,
                                std::string_view ACorrectionBaseDate,
                                std::string_view ACorrectionBaseNumber) {
  Run("58", {D(ACashier, 64), "", "", "", "", "", Int(ACorrectionType), AsIs(ACorrectionBaseDate),
             D(ACorrectionBaseNumber, 32)});
}

void TDevice::CorrectionReceiptOld(std::string_view ACashier, int64_t ACash, int64_t AElectronic,
                                   int64_t AAdvance, int64_t ACredit, int64_t ACashProvision,
                                   int ACorrectionType, std::string_view ACorrectionBaseDate,
                                   std::string_view ACorrectionBaseNumber, int64_t ASumTAX20,
                                   int64_t ASumTAX10, int64_t ASumTAX0, int64_t ASumTAXNone,
                                   int64_t ASumTAX120, int64_t ASumTAX110) {
  Run("58", {D(ACashier, 64), Amt(ACash), Amt(AElectronic), Amt(AAdvance), Amt(ACredit),
             Amt(ACashProvision), Byte(ACorrectionType), AsIs(ACorrectionBaseDate),
             D(ACorrectionBaseNumber, 32), "", Amt(ASumTAX20), Amt(ASumTAX10), Amt(ASumTAX0),
             Amt(ASumTAXNone), Amt(ASumTAX120), Amt(ASumTAX110)});
}

void TDevice::AddRequisite(
    std::string_view AMarkingCode, std::string_view ACalculationSubjectRequisite,
    std::string_view ACalculationSubjectUnit, std::string_view ACalculationAgent,
    std::string_view AVendorINN, std::string_view AVendorPhone, std::string_view AVendorName,
    std::string_view AAcquirerOperatorAddress, std::string_view AAcquirerOperatorINN,
    std::string_view AAcquirerOperatorName, std::string_view AAcquirerOperatorPhone,
    std::string_view AAgentOperation, std::string_view AAgentPhone,
    std::string_view APaymentProcessorPhone, std::string_view AIndustryIdentifierFOIV,
    std::string_view AIndustryDocumentDate, std::string_view AIndustryDocumentNumber,
    std::string_view AIndustryAttributeValue) {
  TDeviceArgs args;
  if (FFDVersion() > 2) {
    args = {AsIs(AMarkingCode),
            D(ACalculationSubjectRequisite, 64),
            "",
            AsIs(ACalculationAgent),
            D(AVendorINN, 12),
            D(AVendorPhone, 40),
            D(AVendorName, 256),
            D(AAcquirerOperatorAddress, 256),
            D(AAcquirerOperatorINN, 12),
            D(AAcquirerOperatorName, 64),
            D(AAcquirerOperatorPhone, 40),
            D(AAgentOperation, 24),
            D(AAgentPhone, 60),
            D(APaymentProcessorPhone, 60),
            AsIs(AIndustryIdentifierFOIV),
            AsIs(AIndustryDocumentDate),
            D(AIndustryDocumentNumber, 32),
            D(AIndustryAttributeValue, 256)};
  } else {
    args = {AsIs(AMarkingCode),
            D(ACalculationSubjectRequisite, 64),
            D(ACalculationSubjectUnit, 16),
            AsIs(ACalculationAgent),
            D(AVendorINN, 12),
            D(AVendorPhone, 19),
            D(AVendorName, 256),
            D(AAcquirerOperatorAddress, 256),
            D(AAcquirerOperatorINN, 12),
            D(AAcquirerOperatorName, 64),
            D(AAcquirerOperatorPhone, 19),
            D(AAgentOperation, 24),
            D(AAgentPhone, 19),
            D(APaymentProcessorPhone, 19)};
  }
  Run("24", args);
}

void TDevice::RegisterCashRegister(bool ANewFN, int ATaxSystem, int AWorkMode,
                                   std::string_view ARegNum, std::string_view AVatIn,
                                   std::string_view ACashier, std::string_view AOrganizationName1,
                                   std::string_view AOrganizationName2,
                                   std::string_view AAddressSettle1,
                                   std::string_view AAddressSettle2, std::string_view APlaceSettle,
                                   std::string_view AAutomaticNumber,
                                   std::string_view AOFDOrganizationName,
                                   std::string_view AOFDVATIN, std::string_view ASenderEmail,
                                   std::string_view AFNSWebSite, int AAddWorkMode) {
  auto innLength = [](std::string_view s) {
    size_t n = CharCount(s);
    return n == 10 || n == 12;
  };
  CheckParam(CharCount(ARegNum) == 16 && innLength(AVatIn) && innLength(AOFDVATIN));
  const TDateTime now = Clock().LocalNow();
  Run("60",
      {ANewFN ? "1" : "0",
       D(ARegNum, 0),
       D(AVatIn, 0),
       Int(ATaxSystem),
       Byte(AWorkMode),
       D(ACashier, 64),
       DateToDevice(now),
       TimeToDevice(now),
       D(AOrganizationName1, 0),
       D(AOrganizationName2, 0),
       D(AAddressSettle1, 0),
       D(AAddressSettle2, 0),
       D(APlaceSettle, 0),
       D(AAutomaticNumber, 0),
       D(AOFDOrganizationName, 0),
       D(AOFDVATIN, 0),
       D(ASenderEmail, 0),
       D(AFNSWebSite, 0),
       Int(AAddWorkMode),
       "4"},
      cLongCommandTimeout);
}
