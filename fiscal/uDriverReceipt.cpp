// Receipts: from the host's receipt package to the register's commands and
// back. The same routine carries a format 1.2 correction receipt, which
// differs only in how the document is opened.
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"
#include "fiscal/uBarcodePrinting.h"
#include "fiscal/uCorrectionData.h"
#include "fiscal/uDriver.h"
#include "fiscal/uInputReading.h"
#include "fiscal/uReceiptText.h"
#include "resources/uResources.h"

namespace {

// The register's tax code of each position of TTaxValues.
constexpr int kTaxCodes[] = {0, 0, 1, 2, 3, 4, 4, 5, 6, 7, 8, 9};

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

// Product codes of a format 1.2 item, in the order the first present one wins.
constexpr const char* kProductCodeAttributes[] = {"KMK",   "EAN8", "EAN13",   "ITF14",
                                                  "GS1.0", "MI",   "EGAIS20", "EGAIS30"};

// Register document types of OperationType 1..4.
constexpr int kDocumentTypes[] = {2, 3, 6, 7};

// Agent and supplier data of a receipt or of one item.
struct TAgentValues {
  std::string AgentOperation, AgentPhone, PaymentProcessorPhone, AcquirerOperatorPhone,
      AcquirerOperatorName, AcquirerOperatorAddress, AcquirerOperatorINN;
  std::string VendorPhone, VendorName, VendorINN;
  int AgentSign = -1;  // the agent-sign byte, -1 when no agent kind is given
};

// Reads the agent elements and checks the agent kind (-1 or 0..6).
TAgentValues ReadAgentValues(const pugi::xml_node& AAgentData, const pugi::xml_node& AVendorData,
                             int AAgentKind) {
  TAgentValues v;
  if (AAgentData) {
    v.AgentOperation = ReadTextAttr(AAgentData, "AgentOperation");
    v.AcquirerOperatorName = ReadTextAttr(AAgentData, "AcquirerOperatorName");
    v.AcquirerOperatorAddress = ReadTextAttr(AAgentData, "AcquirerOperatorAddress");
    v.AcquirerOperatorINN = ReadTextAttr(AAgentData, "AcquirerOperatorINN");
    v.AgentPhone = NormalizePhoneList(ReadTextAttr(AAgentData, "AgentPhone"));
    v.PaymentProcessorPhone = NormalizePhoneList(ReadTextAttr(AAgentData, "PaymentProcessorPhone"));
    v.AcquirerOperatorPhone = NormalizePhoneList(ReadTextAttr(AAgentData, "AcquirerOperatorPhone"));
  }
  if (AVendorData) {
    v.VendorName = ReadTextAttr(AVendorData, "VendorName");
    v.VendorINN = ReadTextAttr(AVendorData, "VendorINN");
    v.VendorPhone = NormalizePhoneList(ReadTextAttr(AVendorData, "VendorPhone"));
  }
  if (AAgentKind != -1) {
    if (AAgentKind < 0 || AAgentKind > 6) throw MakeEquException(ecAgentSignOutOfRange);
    v.AgentSign = 1 << AAgentKind;
  }
  return v;
}

// Industry attribute (tags 1262 to 1265) of a receipt or an item.
struct TIndustryValues {
  std::string IdentifierFOIV, DocumentDate, DocumentNumber, AttributeValue;
};
TIndustryValues ReadIndustryValues(const pugi::xml_node& AElement) {
  TIndustryValues v;
  if (!AElement) return v;
  v.IdentifierFOIV = ReadTrimmedAttr(AElement, "IdentifierFOIV");
  v.DocumentDate = CompactDocumentDate(ReadTrimmedAttr(AElement, "DocumentDate"));
  v.DocumentNumber = ReadTrimmedAttr(AElement, "DocumentNumber");
  v.AttributeValue = ReadTrimmedAttr(AElement, "AttributeValue");
  return v;
}

// Sends one receipt tag; the register's own error gives way to the tag's message.
void SendTag(TDevice& ADevice, int ATag, std::string_view AValue, bool ANamed = true,
             bool ASixthBit = false) {
  try {
    ADevice.PrintOFDProps(ATag, ANamed ? "(null)" : "", AValue, ADevice.FontNumber(), ASixthBit,
                          false, false);
  } catch (const std::exception&) {
    throw std::runtime_error(ResString("TagSendFailed" + std::to_string(ATag)));
  }
}
// The same when the trimmed value is not empty.
void SendTagIfGiven(TDevice& ADevice, int ATag, std::string_view AValue, bool ANamed = true) {
  if (!Trim(AValue).empty()) SendTag(ADevice, ATag, AValue, ANamed);
}

// The absolute amount of four implied decimals with two decimals: 155000 -> "15.50".
std::string TwoDecimals(int64_t AAmount) {
  const double value = std::fabs(static_cast<double>(AAmount) / 10000.0);
  // With a point whatever locale the host process runs in.
  char buf[64];
  return std::string(buf,
                     std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2).ptr);
}

// Every amount and quantity of the package is read once before the document
// is opened, so that one the driver cannot hold (1004) leaves nothing half
// made on the register.
void CheckNumbers(const pugi::xml_node& APositions, const pugi::xml_node& APayments) {
  for (const pugi::xml_node item : APositions.children()) {
    if (item.type() != pugi::node_element || !SameText(item.name(), "FiscalString")) continue;
    ReadFloatAttr(item, "Quantity", 0);
    for (const char* money :
         {"PriceWithDiscount", "AmountWithDiscount", "DiscountAmount", "ExciseAmount"})
      ReadMoneyAttr(item, money);
  }
  for (const TPaymentKind& kind : kPayments) ReadMoneyAttr(APayments, kind.Attribute);
}

// Opens a format 1.2 correction receipt in place of the ordinary open.
void OpenCorrectionReceipt(TDevice& ADevice, const pugi::xml_node& ACorrectionData,
                           const std::string& ACashier, int AOperationType, int ATaxationSystem) {
  if (!ACorrectionData) throw std::runtime_error(ResString("NoCorrectionData"));
  const int type = ReadIntAttr(ACorrectionData, "Type", 0);
  const std::string baseDate = CorrectionBaseDate(ReadTextAttr(ACorrectionData, "Date"));
  const std::string baseNumber = ReadTextAttr(ACorrectionData, "Number");
  ADevice.CorrectionReceipt(ACashier,
                            CorrectionTypeByte(type, AOperationType, ATaxationSystem, true),
                            baseDate, baseNumber);
}

// Receipt-level agent data: tags before format 1.2; format 1.2 takes agent
// data per item only (the receipt's agent kind is still checked).
void SendReceiptAgentData(TDeviceDriver& AHolder, const TAgentValues& AAgent) {
  if (AHolder.FFFDVersion == ffd12) return;
  TDevice& device = AHolder.Device();
  if (AAgent.AgentSign != -1)
    SendTag(device, 1057, "#" + std::to_string(AAgent.AgentSign), true, true);
  SendTagIfGiven(device, 1171, AAgent.VendorPhone);
  SendTagIfGiven(device, 1005, AAgent.AcquirerOperatorAddress);
  SendTagIfGiven(device, 1016, AAgent.AcquirerOperatorINN);
  SendTagIfGiven(device, 1026, AAgent.AcquirerOperatorName);
  SendTagIfGiven(device, 1044, AAgent.AgentOperation);
  SendTagIfGiven(device, 1073, AAgent.AgentPhone);
  SendTagIfGiven(device, 1074, AAgent.PaymentProcessorPhone);
  SendTagIfGiven(device, 1075, AAgent.AcquirerOperatorPhone);
}

// One FiscalString: product code, binding of a checked marking code, the
// item's requisites, the item and its discount or markup line.
void RegisterPosition(TDeviceDriver& AHolder, const pugi::xml_node& AItem) {
  TDevice& device = AHolder.Device();
  const bool f12 = AHolder.FFFDVersion == ffd12;
  const pugi::xml_node agentData = AItem.child("AgentData");
  const pugi::xml_node vendorData = AItem.child("VendorData");
  const pugi::xml_node goodCodeData = AItem.child("GoodCodeData");

  const std::string name = ReadTextAttr(AItem, "Name");
  const double quantity = ReadFloatAttr(AItem, "Quantity", 0);
  const int64_t price = ReadMoneyAttr(AItem, "PriceWithDiscount");
  const int64_t amount = ReadMoneyAttr(AItem, "AmountWithDiscount");
  const int64_t discount = ReadMoneyAttr(AItem, "DiscountAmount");
  const int department = ReadIntAttr(AItem, "Department", 0);
  const std::string vatRate = ReadTextAttr(AItem, "VATRate");
  const int subject = ReadIntAttr(AItem, "CalculationSubject", 0);
  const int method = ReadIntAttr(AItem, "PaymentMethod", 0);
  const int agentKind = ReadIntAttr(AItem, "CalculationAgent", -1);
  const std::string additional = ReadTrimmedAttr(AItem, "AdditionalAttribute");
  const std::string country = ReadTrimmedAttr(AItem, "CountryOfOrigin");
  const std::string customs = ReadTrimmedAttr(AItem, "CustomsDeclaration");
  const int64_t excise = ReadMoneyAttr(AItem, "ExciseAmount");
  const int measure = ReadIntAttr(AItem, "MeasureOfQuantity", 0);
  std::string markingCode = ReadBase64Attribute(AItem, "MarkingCode");
  const TIndustryValues industry =
      f12 ? ReadIndustryValues(AItem.child("IndustryAttribute")) : TIndustryValues{};

  std::string productCode;
  if (f12 && goodCodeData) {
    if (markingCode.empty()) markingCode = ReadBase64Attribute(goodCodeData, "GS1.M");
    for (const char* attribute : kProductCodeAttributes) {
      const std::string code = ReadBase64Attribute(goodCodeData, attribute);
      if (code.empty()) continue;
      productCode = "@" + code;
      break;
    }
  } else if (!f12 && goodCodeData) {
    const std::string legacy = ReadBase64Attribute(goodCodeData, "MarkingCode");
    if (!legacy.empty()) productCode = AnsiToUtf8(TDevice::SetMarkingCode(Utf8ToAnsi(legacy)));
  }

  const int taxPosition = AHolder.FTaxValues.IDOfTax(vatRate);
  if (taxPosition < 0) throw MakeEquException(ecTaxGroupOutOfRange);
  const int taxCode = kTaxCodes[taxPosition];

  if (f12) {
    const std::string itf14 = goodCodeData ? ReadBase64Attribute(goodCodeData, "ITF14") : "";
    if (!itf14.empty() && SameText(industry.AttributeValue, "mode=horeca")) {
      // Catering sells by the package code, not by the marking code.
      productCode = "@" + itf14;
    } else if (!markingCode.empty()) {
      // Escaped in the text form the code checks keyed it by, so that a
      // checked code with a letter outside ASCII is found too.
      const std::string escaped = TDevice::SetMarkingCode(markingCode);
      if (device.KMListResult().count(escaped) != 0) {
        device.BindMarkingCode(escaped, measure);
      } else {
        productCode = "@" + AnsiToUtf8(Utf8ToAnsi(escaped).substr(0, 32));
      }
    }
  } else if (!markingCode.empty()) {
    productCode = BuildLegacyMarkingCode(markingCode);
  }

  const TAgentValues agent = ReadAgentValues(agentData, vendorData, agentKind);
  const std::string agentSign = agent.AgentSign != -1 ? std::to_string(agent.AgentSign)
                                : f12                 ? std::string()
                                                      : std::string("0");
  device.AddRequisite(productCode, additional, "", agentSign, agent.VendorINN, agent.VendorPhone,
                      agent.VendorName, agent.AcquirerOperatorAddress, agent.AcquirerOperatorINN,
                      agent.AcquirerOperatorName, agent.AcquirerOperatorPhone, agent.AgentOperation,
                      agent.AgentPhone, agent.PaymentProcessorPhone, industry.IdentifierFOIV,
                      industry.DocumentDate, industry.DocumentNumber, industry.AttributeValue);
  device.RegisterItem(name, "", department, quantity, price, taxCode, amount, method, subject,
                      country, customs, measure, excise);
  if (discount != 0)
    device.PrintProps(FormatTwoColumnLine(ResString(discount > 0 ? "DiscountLine" : "MarginLine"),
                                          TwoDecimals(discount), AHolder.FLineLen),
                      device.FontNumber(), false, false);
}

}  // namespace

void TDriver::ProcessCheck(bool AElectronically, const pugi::xml_document& ACheckPackage,
                           pugi::xml_document& ADocumentOutputParameters, bool AIsCorrection) {
  const TDeviceDriver& holder = Instance();
  EnsureShiftState(true);
  CancelOpenDocument();

  // Print control: bit 7 of the print-settings byte means "no paper".
  bool noPaper = false;
  if (holder.FEnablePrinting == TDeviceDriver::cPrintUserChooses)
    noPaper = AElectronically;
  else if (holder.FEnablePrinting == TDeviceDriver::cPrintNever)
    noPaper = true;
  WritePaperSetting(noPaper);
  KeepingPrintSetting(
      [&] { RegisterReceipt(ACheckPackage, ADocumentOutputParameters, AIsCorrection); });
}

void TDriver::RegisterReceipt(const pugi::xml_document& ACheckPackage,
                              pugi::xml_document& ADocumentOutputParameters, bool AIsCorrection) {
  TDeviceDriver& holder = Instance();
  TDevice& device = Device();
  const bool f12 = holder.FFFDVersion == ffd12;
  const int font = device.FontNumber();

  const pugi::xml_node root = ACheckPackage.document_element();
  const pugi::xml_node parameters = root.child("Parameters");
  const pugi::xml_node positions = root.child("Positions");
  const pugi::xml_node payments = root.child("Payments");
  if (!parameters || !positions || !payments) throw MakeEquException(ecInvalidInput);

  const pugi::xml_node userAttribute = parameters.child("UserAttribute");
  const pugi::xml_node customer = parameters.child("CustomerDetail");
  const pugi::xml_node correction = parameters.child("CorrectionData");
  TIndustryValues industry;
  std::string operationDate, operationID, operationData;
  if (f12) {
    industry = ReadIndustryValues(parameters.child("IndustryAttribute"));
    if (const pugi::xml_node op = parameters.child("OperationalAttribute")) {
      operationDate = ReadTrimmedAttr(op, "DateTime");
      operationID = ReadTrimmedAttr(op, "OperationID");
      operationData = ReadTrimmedAttr(op, "OperationData");
    }
  }

  // A document type the register would take for another kind of document is
  // refused before anything is opened.
  const int operationType = ReadIntAttr(parameters, "OperationType", 0);
  if (operationType < 1 || operationType > 4) throw MakeEquException(ecInvalidInput);
  CheckNumbers(positions, payments);
  const int taxationSystem = ReadIntAttr(parameters, "TaxationSystem", -1);
  const std::string cashier =
      CashierText(ReadTextAttr(parameters, "CashierName"), ReadTextAttr(parameters, "CashierINN"));
  const std::string email = ReadTrimmedAttr(parameters, "CustomerEmail");
  const std::string phone = ReadTrimmedAttr(parameters, "CustomerPhone");
  const int agentType = ReadIntAttr(parameters, "AgentType", -1);
  const std::string additionalAttribute = ReadTextAttr(parameters, "AdditionalAttribute");
  const std::string receiptText = ReadTextAttr(parameters, "ReceiptText");

  if (AIsCorrection)
    OpenCorrectionReceipt(device, correction, cashier, operationType, taxationSystem);
  else
    device.OpenDocument(kDocumentTypes[operationType - 1], 1, cashier, 1,
                        static_cast<uint8_t>(taxationSystem));

  SendReceiptAgentData(holder, ReadAgentValues(parameters.child("AgentData"),
                                               parameters.child("VendorData"), agentType));

  for (const pugi::xml_node position : positions.children()) {
    if (position.type() != pugi::node_element) continue;
    if (SameText(position.name(), "FiscalString")) {
      RegisterPosition(holder, position);
    } else if (SameText(position.name(), "TextString")) {
      // Characters the register's code page cannot hold are replaced here,
      // as the line is printed as it will read.
      device.PrintProps(ThroughAnsi(ReadTextAttr(position, "Text")), font, false, false);
    } else if (SameText(position.name(), "Barcode")) {
      PrintBarcodeElement(device, position);
    }
  }

  for (const std::string& line : WrapTextToLines(receiptText, holder.FLineLen))
    device.PrintProps(line, font, false, false);

  device.SubTotal();
  for (const TPaymentKind& kind : kPayments) {
    const int64_t amount = ReadMoneyAttr(payments, kind.Attribute);
    if (amount > 0) device.Payment(kind.Code, amount, "");
  }

  if (f12) {
    SendTagIfGiven(device, 1192, additionalAttribute, false);
    SendTagIfGiven(device, 1262, industry.IdentifierFOIV, false);
    if (!Trim(industry.DocumentDate).empty())
      SendTag(device, 1263, DocumentDateTagValue(industry.DocumentDate), false);
    SendTagIfGiven(device, 1264, industry.DocumentNumber, false);
    SendTagIfGiven(device, 1265, industry.AttributeValue, false);
    std::string utcDate;
    if (!operationDate.empty() && IsoDateToUtcDeviceDate(operationDate, utcDate))
      SendTag(device, 1273, utcDate);
    if (!operationID.empty()) SendTag(device, 1271, "#" + operationID, true, true);
    SendTagIfGiven(device, 1272, operationData);
  }

  device.CloseDocument(
      email.empty() ? phone : email, "", "", ReadTextAttr(userAttribute, "Name"),
      ReadTextAttr(userAttribute, "Value"), ReadTrimmedAttr(customer, "Info"),
      ReadTrimmedAttr(customer, "INN"), ReadTrimmedAttr(customer, "DateOfBirth"),
      ReadTrimmedAttr(customer, "Citizenship"), ReadTrimmedAttr(customer, "DocumentTypeCode"),
      ReadTrimmedAttr(customer, "DocumentData"), ReadTrimmedAttr(customer, "Address"));
  FillDocumentOutputParameters(ADocumentOutputParameters);
}
