#include "fiscal/uReceipt.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "common/uCommonUtils.h"
#include "common/uInt128.h"
#include "device/uDevice.h"
#include "device/uEquipmentErrors.h"
#include "fiscal/uCorrectionData.h"
#include "fiscal/uDeviceDriver.h"
#include "fiscal/uInputReading.h"
#include "fiscal/uLinePricing.h"
#include "fiscal/uReceiptText.h"
#include "resources/uResources.h"

namespace {

// The register's tax code of each position of TTaxValues.
constexpr int kTaxCodes[] = {0, 0, 1, 2, 3, 4, 4, 5, 6, 7, 8, 9};
// Codes above it, the 5 and 7 % rates, exist in format 1.2 only.
constexpr int kLastOlderFormatTaxCode = 5;

// The register numbers its departments up to 99.
constexpr int kLastDepartment = 99;

// Register document types of OperationType 1..4.
constexpr int kDocumentTypes[] = {2, 3, 6, 7};

// Payments in the order they are sent, cash last.
struct TPaymentKind {
  const char* Attribute;
  int Code;
};
constexpr TPaymentKind kPayments[] = {
    {"ElectronicPayment", 1}, {"Payment6", 6},   {"Payment7", 7},    {"Payment8", 8},
    {"Payment9", 9},          {"Payment10", 10}, {"PrePayment", 13}, {"PostPayment", 14},
    {"Barter", 15},           {"Cash", 0},
};
constexpr int kCashCode = 0;

// Product codes of a format 1.2 item, in the order the first present one wins.
constexpr const char* kProductCodeAttributes[] = {"KMK",   "EAN8", "EAN13",   "ITF14",
                                                  "GS1.0", "MI",   "EGAIS20", "EGAIS30"};
// Those that carry GS1 data, whose group separators are part of the code:
// they go escaped like a marking code. The others are digits or letters only.
bool CarriesGs1Data(std::string_view AAttribute) {
  return AAttribute == "KMK" || AAttribute == "GS1.0" || AAttribute == "GS1.M";
}

constexpr int64_t kKopeck = 100;  // in four implied decimals
constexpr int64_t kUnit = 10000;
// The fiscal storage keeps 128 characters of an item's name; a name that
// carries its quantity must keep it within them.
constexpr size_t kStoredNameLength = 128;

// Two decimals of a whole-kopeck value: 1000000 -> "100.00".
std::string MoneyText(int64_t AValue) {
  const int64_t kopecks = AValue / kKopeck;
  const uint64_t magnitude =
      kopecks < 0 ? 0 - static_cast<uint64_t>(kopecks) : static_cast<uint64_t>(kopecks);
  const uint64_t cents = magnitude % 100;
  return (kopecks < 0 ? "-" : "") + std::to_string(magnitude / 100) + (cents < 10 ? ".0" : ".") +
         std::to_string(cents);
}

// Reads the texts of one part of the package: every text bound for a frame is
// refused with a byte below 0x20 in it, named by its element and attribute
// and, inside Positions, by the position's number.
class TFields {
 public:
  explicit TFields(int APosition = 0) : FPosition(APosition) {}

  std::string Name(std::string_view AElement, std::string_view AAttribute) const {
    const std::string field =
        AElement.empty() ? std::string(AAttribute) : FormatText("%s.%s", {AElement, AAttribute});
    return FPosition == 0 ? field : ResFormat("PositionField", {field, std::to_string(FPosition)});
  }
  std::string Text(const pugi::xml_node& ANode, const char* AAttribute,
                   std::string_view AElement = "") const {
    return Checked(ANode, AAttribute, AElement, RefuseControlBytes);
  }
  // A text that is only printed: tab and line ends pass (see RefusePrintedControlBytes).
  std::string Printed(const pugi::xml_node& ANode, const char* AAttribute,
                      std::string_view AElement = "") const {
    return Checked(ANode, AAttribute, AElement, RefusePrintedControlBytes);
  }
  std::string Trimmed(const pugi::xml_node& ANode, const char* AAttribute,
                      std::string_view AElement = "") const {
    return Trim(Text(ANode, AAttribute, AElement));
  }
  // A Base64 attribute decoded; codes that carry GS1 data come escaped.
  std::string Code(const pugi::xml_node& ANode, const char* AAttribute,
                   std::string_view AElement) const {
    const std::string value = ReadBase64Attribute(ANode, AAttribute);
    if (CarriesGs1Data(AAttribute)) return TDevice::SetMarkingCode(value);
    RefuseControlBytes(value, Name(AElement, AAttribute));
    return value;
  }

 private:
  std::string Checked(const pugi::xml_node& ANode, const char* AAttribute,
                      std::string_view AElement,
                      void (*ARefuse)(std::string_view, std::string_view)) const {
    std::string value = ReadTextAttr(ANode, AAttribute);
    ARefuse(value, Name(AElement, AAttribute));
    return value;
  }

  int FPosition;
};

TAgentValues ReadAgentValues(const TFields& AFields, const pugi::xml_node& AAgentData,
                             const pugi::xml_node& AVendorData, int AAgentKind) {
  TAgentValues v;
  if (AAgentData) {
    const auto text = [&](const char* AName) {
      return AFields.Text(AAgentData, AName, "AgentData");
    };
    v.AgentOperation = text("AgentOperation");
    v.AcquirerOperatorName = text("AcquirerOperatorName");
    v.AcquirerOperatorAddress = text("AcquirerOperatorAddress");
    v.AcquirerOperatorINN = text("AcquirerOperatorINN");
    v.AgentPhone = NormalizePhoneList(text("AgentPhone"));
    v.PaymentProcessorPhone = NormalizePhoneList(text("PaymentProcessorPhone"));
    v.AcquirerOperatorPhone = NormalizePhoneList(text("AcquirerOperatorPhone"));
  }
  if (AVendorData) {
    const auto text = [&](const char* AName) {
      return AFields.Text(AVendorData, AName, "VendorData");
    };
    v.VendorName = text("VendorName");
    v.VendorINN = text("VendorINN");
    v.VendorPhone = NormalizePhoneList(text("VendorPhone"));
  }
  if (AAgentKind != -1) {
    if (AAgentKind < 0 || AAgentKind > 6) throw MakeEquException(ecAgentSignOutOfRange);
    v.AgentSign = 1 << AAgentKind;
  }
  return v;
}

TIndustryValues ReadIndustryValues(const TFields& AFields, const pugi::xml_node& AElement) {
  TIndustryValues v;
  if (!AElement) return v;
  const auto text = [&](const char* AName) {
    return AFields.Trimmed(AElement, AName, "IndustryAttribute");
  };
  v.IdentifierFOIV = text("IdentifierFOIV");
  v.DocumentDate = CompactDocumentDate(text("DocumentDate"));
  v.DocumentNumber = text("DocumentNumber");
  v.AttributeValue = text("AttributeValue");
  return v;
}

// Runs ARead, the reading of a number; one the reader refuses (infinite, or
// beyond 64 bits once scaled) is refused with ADetail(), which says where it
// stands.
template <typename TRead, typename TDetail>
auto NamedNumber(TRead ARead, TDetail ADetail) {
  try {
    return ARead();
  } catch (const EquException&) {
    RefuseInput(ADetail());
  }
}

// The quantity in four implied decimals; false when the item command cannot
// carry it: not above zero, beyond 64 bits, or with a fifth decimal.
bool QuantityUnits(double AValue, int64_t& AUnits) {
  const double scaled = AValue * kUnit;
  if (!(scaled > 0) || !(scaled < 9223372036854775808.0)) return false;
  const double whole = std::nearbyint(scaled);
  // Decimal fractions have no exact binary form: 0.347 x 10000 is a hair off
  // 3470. A hair, not a fifth decimal: 60000.00004 is 600000000.4.
  if (whole < 1 || std::fabs(scaled - whole) > whole * 1e-12) return false;
  AUnits = static_cast<int64_t>(whole);
  return true;
}

// The name of a line sent as one unit for its whole amount: the quantity
// follows " *", as in the register's own discounted item.
std::string NameWithQuantity(const std::string& AName, int64_t AQuantity) {
  const std::string suffix = " *" + TDevice::AmountToDevice(AQuantity);
  std::string ansi = Utf8ToAnsi(AName);
  if (ansi.size() + suffix.size() <= kStoredNameLength) return AName + suffix;
  ansi.resize(kStoredNameLength - suffix.size());
  return AnsiToUtf8(ansi) + suffix;
}

class TReceiptReader {
 public:
  explicit TReceiptReader(const TReceiptContext& AContext) : FContext(AContext) {}

  void ReadParameters(const pugi::xml_node& AParameters, TReceipt& AReceipt) const;
  TReceiptLine ReadLine(const pugi::xml_node& AItem, int APosition);
  void ReadPayments(const pugi::xml_node& APayments, TReceipt& AReceipt) const;

 private:
  // The product code and the code bound to the item, from GoodCodeData and MarkingCode.
  void ReadCodes(const TFields& AFields, const pugi::xml_node& AItem, int APosition,
                 const std::string& ALabel, TReceiptLine& ALine, bool& AMarked);
  void PlanItems(const pugi::xml_node& AItem, const std::string& ALabel, int64_t AQuantity,
                 int64_t APrice, int64_t AExcise, bool AMarked, TReceiptLine& ALine) const;

  const TReceiptContext& FContext;
  std::map<std::string, int> FBoundCodes;  // escaped code -> the position binding it
};

void TReceiptReader::ReadParameters(const pugi::xml_node& AParameters, TReceipt& AReceipt) const {
  const TFields fields;
  // A document type the register would take for another kind of document is
  // refused before anything is opened.
  AReceipt.OperationType = ReadIntAttr(AParameters, "OperationType", 0);
  if (AReceipt.OperationType < 1 || AReceipt.OperationType > 4)
    throw MakeEquException(ecInvalidInput);
  AReceipt.DocumentType = kDocumentTypes[AReceipt.OperationType - 1];
  AReceipt.TaxationSystem = ReadIntAttr(AParameters, "TaxationSystem", -1);
  AReceipt.Cashier =
      CashierText(fields.Text(AParameters, "CashierName"), fields.Text(AParameters, "CashierINN"));
  const std::string email = fields.Trimmed(AParameters, "CustomerEmail");
  const std::string phone = fields.Trimmed(AParameters, "CustomerPhone");
  AReceipt.CustomerAddress = email.empty() ? phone : email;
  AReceipt.Agent =
      ReadAgentValues(fields, AParameters.child("AgentData"), AParameters.child("VendorData"),
                      ReadIntAttr(AParameters, "AgentType", -1));
  AReceipt.AdditionalAttribute = fields.Text(AParameters, "AdditionalAttribute");

  // Line ends of the receipt text break its lines; a tab is a blank, where
  // a line may break too.
  std::string receiptText = fields.Printed(AParameters, "ReceiptText");
  std::replace(receiptText.begin(), receiptText.end(), '\t', ' ');
  AReceipt.TextLines = WrapTextToLines(receiptText, FContext.LineLength);

  if (const pugi::xml_node user = AParameters.child("UserAttribute")) {
    AReceipt.UserAttributeName = fields.Text(user, "Name", "UserAttribute");
    AReceipt.UserAttributeValue = fields.Text(user, "Value", "UserAttribute");
  }
  if (const pugi::xml_node c = AParameters.child("CustomerDetail")) {
    const auto text = [&](const char* AName) { return fields.Trimmed(c, AName, "CustomerDetail"); };
    AReceipt.Customer = {text("Info"),
                         text("INN"),
                         text("DateOfBirth"),
                         text("Citizenship"),
                         text("DocumentTypeCode"),
                         text("DocumentData"),
                         text("Address")};
  }
  if (FContext.Format12) {
    AReceipt.Industry = ReadIndustryValues(fields, AParameters.child("IndustryAttribute"));
    if (const pugi::xml_node op = AParameters.child("OperationalAttribute")) {
      const std::string date = fields.Trimmed(op, "DateTime", "OperationalAttribute");
      if (!date.empty() && !IsoDateToUtcDeviceDate(date, AReceipt.OperationDate))
        AReceipt.OperationDate.clear();
      AReceipt.OperationID = fields.Trimmed(op, "OperationID", "OperationalAttribute");
      AReceipt.OperationData = fields.Trimmed(op, "OperationData", "OperationalAttribute");
    }
  }
  if (FContext.Correction) {
    const pugi::xml_node data = AParameters.child("CorrectionData");
    if (!data) throw std::runtime_error(ResString("NoCorrectionData"));
    const int type = ReadIntAttr(data, "Type", 0);
    AReceipt.CorrectionBaseDate = CorrectionBaseDate(ReadTextAttr(data, "Date"));
    AReceipt.CorrectionBaseNumber = fields.Text(data, "Number", "CorrectionData");
    AReceipt.CorrectionType =
        CorrectionTypeByte(type, AReceipt.OperationType, AReceipt.TaxationSystem, true);
  }
}

TReceiptLine TReceiptReader::ReadLine(const pugi::xml_node& AItem, int APosition) {
  const TFields fields(APosition);
  TReceiptLine line;
  line.Name = fields.Text(AItem, "Name");
  const std::string label = ResFormat("ReceiptLine", {std::to_string(APosition), line.Name});

  const auto quantityRefused = [&] {
    return ResFormat("LineQuantityInvalid", {label, ReadTextAttr(AItem, "Quantity")});
  };
  int64_t quantity = 0;
  if (!QuantityUnits(
          NamedNumber([&] { return ReadFloatAttr(AItem, "Quantity", 0); }, quantityRefused),
          quantity))
    RefuseInput(quantityRefused());
  const auto number = [&](const char* AName, auto ARead) {
    return NamedNumber(ARead, [&] {
      return ResFormat("LineNumberOutOfRange", {label, ReadTextAttr(AItem, AName), AName});
    });
  };
  const auto money = [&](const char* AName) {
    const int64_t value = number(AName, [&] { return ReadMoneyAttr(AItem, AName); });
    if (value < 0)
      RefuseInput(ResFormat("LineMoneyNegative", {label, ReadTextAttr(AItem, AName), AName}));
    return value;
  };
  const int64_t price = money("PriceWithDiscount");
  const int64_t excise = money("ExciseAmount");
  // Without an amount (or with one that is no number) the line costs what its
  // price comes to.
  const bool amountGiven = !std::isnan(number("AmountWithDiscount", [&] {
    return ReadFloatAttr(AItem, "AmountWithDiscount", std::numeric_limits<double>::quiet_NaN());
  }));
  if (amountGiven)
    line.Amount = money("AmountWithDiscount");
  else if (!RegisterItemSum(price, quantity, line.Amount))
    RefuseInput(ResFormat("LineAmountTooLarge", {label}));
  if (line.Amount % kKopeck != 0)
    RefuseInput(
        ResFormat("LineAmountNotKopecks", {label, ReadTextAttr(AItem, "AmountWithDiscount")}));
  line.Discount = number("DiscountAmount", [&] { return ReadMoneyAttr(AItem, "DiscountAmount"); });

  // The item command carries the department in one byte: 300 would be 44.
  line.Department = ReadIntAttr(AItem, "Department", 0);
  if (line.Department < 0 || line.Department > kLastDepartment)
    RefuseInput(ResFormat("LineDepartmentOutOfRange", {label, ReadTextAttr(AItem, "Department"),
                                                       std::to_string(kLastDepartment)}));
  line.Subject = ReadIntAttr(AItem, "CalculationSubject", 0);
  line.Method = ReadIntAttr(AItem, "PaymentMethod", 0);
  line.Measure = ReadIntAttr(AItem, "MeasureOfQuantity", 0);
  line.AdditionalAttribute = fields.Trimmed(AItem, "AdditionalAttribute");
  line.CountryOfOrigin = fields.Trimmed(AItem, "CountryOfOrigin");
  line.CustomsDeclaration = fields.Trimmed(AItem, "CustomsDeclaration");
  if (FContext.Format12)
    line.Industry = ReadIndustryValues(fields, AItem.child("IndustryAttribute"));

  bool marked = false;
  ReadCodes(fields, AItem, APosition, label, line, marked);

  const int taxPosition = FContext.Taxes->IDOfTax(ReadTextAttr(AItem, "VATRate"));
  if (taxPosition < 0 || (!FContext.Format12 && kTaxCodes[taxPosition] > kLastOlderFormatTaxCode))
    throw MakeEquException(ecTaxGroupOutOfRange);
  line.TaxCode = kTaxCodes[taxPosition];

  line.Agent = ReadAgentValues(fields, AItem.child("AgentData"), AItem.child("VendorData"),
                               ReadIntAttr(AItem, "CalculationAgent", -1));
  line.AgentSign = line.Agent.AgentSign != -1 ? std::to_string(line.Agent.AgentSign)
                   : FContext.Format12        ? std::string()
                                              : std::string("0");
  PlanItems(AItem, label, quantity, price, excise, marked, line);
  return line;
}

void TReceiptReader::ReadCodes(const TFields& AFields, const pugi::xml_node& AItem, int APosition,
                               const std::string& ALabel, TReceiptLine& ALine, bool& AMarked) {
  const pugi::xml_node goodCodeData = AItem.child("GoodCodeData");
  std::string markingCode = ReadBase64Attribute(AItem, "MarkingCode");
  if (!FContext.Format12) {
    if (goodCodeData) {
      const std::string legacy = ReadBase64Attribute(goodCodeData, "MarkingCode");
      if (!legacy.empty())
        ALine.ProductCode = AnsiToUtf8(TDevice::SetMarkingCode(Utf8ToAnsi(legacy)));
      AMarked = !legacy.empty();
    }
    if (!markingCode.empty()) {
      ALine.ProductCode = BuildLegacyMarkingCode(markingCode);
      AMarked = true;
    }
    return;
  }

  std::string itf14;
  if (goodCodeData) {
    if (markingCode.empty()) markingCode = ReadBase64Attribute(goodCodeData, "GS1.M");
    // Every code is read, so that one the register never gets is checked too.
    for (const char* attribute : kProductCodeAttributes) {
      const std::string code = AFields.Code(goodCodeData, attribute, "GoodCodeData");
      if (std::string_view(attribute) == "ITF14") itf14 = code;
      if (!code.empty() && ALine.ProductCode.empty()) ALine.ProductCode = "@" + code;
    }
  }
  if (!itf14.empty() && SameText(ALine.Industry.AttributeValue, "mode=horeca")) {
    // Catering sells by the package code, not by the marking code.
    ALine.ProductCode = "@" + itf14;
    return;
  }
  if (markingCode.empty()) return;
  // Escaped in the text form the code checks keyed it by, so that a checked
  // code with a letter outside ASCII is found too.
  const std::string escaped = TDevice::SetMarkingCode(markingCode);
  const TKMResult* checked = FContext.CheckedCodes->Find(escaped);
  if (checked == nullptr) RefuseInput(ResFormat("LineMarkingCodeUnchecked", {ALabel}));
  if (!checked->Accepted) RefuseInput(ResFormat("LineMarkingCodeNotAccepted", {ALabel}));
  const auto [bound, first] = FBoundCodes.try_emplace(escaped, APosition);
  if (!first)
    RefuseInput(ResFormat("LineMarkingCodeRepeated", {ALabel, std::to_string(bound->second)}));
  ALine.BoundCode = escaped;
  AMarked = true;
}

void TReceiptReader::PlanItems(const pugi::xml_node& AItem, const std::string& ALabel,
                               int64_t AQuantity, int64_t APrice, int64_t AExcise, bool AMarked,
                               TReceiptLine& ALine) const {
  // One marking code binds one item command, and a measured quantity must
  // reach the fiscal document as it is.
  const bool measured = !Trim(ReadTextAttr(AItem, "MeasureOfQuantity")).empty();
  const TLinePlan plan = PlanLine(AQuantity, ALine.Amount, APrice, !AMarked, !AMarked && !measured);
  switch (plan.Form) {
    case TLineForm::Exact:
      ALine.Items.push_back({ALine.Name, AQuantity, plan.Parts[0].Price, ALine.Amount, AExcise});
      return;
    case TLineForm::Split: {
      // The excise shared as the quantity is, in whole kopecks; the last unit
      // takes what is left.
      int64_t rest = 0;
      const TInt128 share =
          TInt128::Mul(AExcise / kKopeck, plan.Parts[0].Quantity).DivMod(AQuantity, rest);
      const int64_t first = share.ToInt64() * kKopeck;
      for (const TLinePart& part : plan.Parts) {
        // The plan's prices keep the sums inside the line's amount.
        int64_t sum = 0;
        RegisterItemSum(part.Price, part.Quantity, sum);
        ALine.Items.push_back({ALine.Name, part.Quantity, part.Price, sum,
                               ALine.Items.empty() ? first : AExcise - first});
      }
      return;
    }
    case TLineForm::OneUnit:
      ALine.Items.push_back(
          {NameWithQuantity(ALine.Name, AQuantity), kUnit, ALine.Amount, ALine.Amount, AExcise});
      return;
    case TLineForm::Impossible:
      RefuseInput(ResFormat("LineQuantityUnchangeable",
                            {ALabel, MoneyText(ALine.Amount), TDevice::AmountToDevice(AQuantity)}));
  }
}

void TReceiptReader::ReadPayments(const pugi::xml_node& APayments, TReceipt& AReceipt) const {
  int64_t paid = 0, nonCash = 0;
  for (const TPaymentKind& kind : kPayments) {
    const int64_t amount =
        NamedNumber([&] { return ReadMoneyAttr(APayments, kind.Attribute); },
                    [&] {
                      return ResFormat("PaymentOutOfRange",
                                       {ReadTextAttr(APayments, kind.Attribute), kind.Attribute});
                    });
    if (amount <= 0) continue;
    if (amount % kKopeck != 0)
      RefuseInput(ResFormat("PaymentNotKopecks",
                            {ReadTextAttr(APayments, kind.Attribute), kind.Attribute}));
    if (__builtin_add_overflow(paid, amount, &paid)) RefuseInput(ResString("ReceiptTotalTooLarge"));
    if (kind.Code != kCashCode) nonCash += amount;
    AReceipt.Payments.emplace_back(kind.Code, amount);
  }
  if (paid < AReceipt.Total)
    RefuseInput(ResFormat("PaymentsBelowTotal", {MoneyText(paid), MoneyText(AReceipt.Total)}));
  // Change comes only from cash.
  if (nonCash > AReceipt.Total)
    RefuseInput(ResFormat("NonCashAboveTotal", {MoneyText(nonCash), MoneyText(AReceipt.Total)}));
}

}  // namespace

TReceipt TReceipt::Read(const pugi::xml_document& APackage, const TReceiptContext& AContext) {
  const pugi::xml_node root = APackage.document_element();
  const pugi::xml_node parameters = root.child("Parameters");
  const pugi::xml_node positions = root.child("Positions");
  const pugi::xml_node payments = root.child("Payments");
  if (!parameters || !positions || !payments) throw MakeEquException(ecInvalidInput);

  TReceipt receipt;
  TReceiptReader reader(AContext);
  reader.ReadParameters(parameters, receipt);
  int number = 0;
  for (const pugi::xml_node position : positions.children()) {
    if (position.type() != pugi::node_element) continue;
    ++number;
    if (SameText(position.name(), "FiscalString")) {
      TReceiptLine line = reader.ReadLine(position, number);
      if (__builtin_add_overflow(receipt.Total, line.Amount, &receipt.Total))
        RefuseInput(ResString("ReceiptTotalTooLarge"));
      receipt.Positions.emplace_back(std::move(line));
    } else if (SameText(position.name(), "TextString")) {
      // Characters the register's code page cannot hold are replaced here,
      // as the line is printed as it will read.
      receipt.Positions.emplace_back(
          TReceiptText{ThroughAnsi(TFields(number).Printed(position, "Text", "TextString"))});
    } else if (SameText(position.name(), "Barcode")) {
      TBarcode barcode;
      if (!ReadBarcode(position, barcode)) continue;
      RefuseControlBytes(barcode.Data,
                         TFields(number).Name("Barcode", BarcodeDataAttribute(position)));
      receipt.Positions.emplace_back(std::move(barcode));
    }
  }
  reader.ReadPayments(payments, receipt);
  return receipt;
}
