// Receipts: from the host's receipt package to the register's commands and
// back. The same routine carries a format 1.2 correction receipt, which
// differs only in how the document is opened. The package is read and
// checked whole (TReceipt) before the first command goes out.
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "common/uCommonUtils.h"
#include "fiscal/uDriver.h"
#include "fiscal/uReceipt.h"
#include "fiscal/uReceiptText.h"
#include "resources/uResources.h"

namespace {

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

// Receipt-level agent data: tags before format 1.2; format 1.2 takes agent
// data per item only.
void SendReceiptAgentData(const TDeviceDriver& AHolder, const TAgentValues& AAgent) {
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

// One FiscalString: the binding of its checked marking code, then for each of
// its item commands the item's requisites and the item, then its discount or
// markup line.
void RegisterLine(const TDeviceDriver& AHolder, const TReceiptLine& ALine) {
  TDevice& device = AHolder.Device();
  if (!ALine.BoundCode.empty()) AHolder.FKMListResult.Bind(device, ALine.BoundCode, ALine.Measure);
  const TAgentValues& agent = ALine.Agent;
  for (const TItemCommand& item : ALine.Items) {
    // The register attaches requisites to the next item only: a split line
    // sends them before each part.
    device.AddRequisite(ALine.ProductCode, ALine.AdditionalAttribute, "", ALine.AgentSign,
                        agent.VendorINN, agent.VendorPhone, agent.VendorName,
                        agent.AcquirerOperatorAddress, agent.AcquirerOperatorINN,
                        agent.AcquirerOperatorName, agent.AcquirerOperatorPhone,
                        agent.AgentOperation, agent.AgentPhone, agent.PaymentProcessorPhone,
                        ALine.Industry.IdentifierFOIV, ALine.Industry.DocumentDate,
                        ALine.Industry.DocumentNumber, ALine.Industry.AttributeValue);
    device.RegisterItem(item.Name, "", ALine.Department, static_cast<double>(item.Quantity) / 10000,
                        item.Price, ALine.TaxCode, item.Amount, ALine.Method, ALine.Subject,
                        ALine.CountryOfOrigin, ALine.CustomsDeclaration, ALine.Measure,
                        item.Excise);
  }
  if (ALine.Discount != 0)
    device.PrintProps(
        FormatTwoColumnLine(ResString(ALine.Discount > 0 ? "DiscountLine" : "MarginLine"),
                            TwoDecimals(ALine.Discount), AHolder.FLineLen),
        device.FontNumber(), false, false);
}

}  // namespace

void TDriver::ProcessCheck(bool AElectronically, const pugi::xml_document& ACheckPackage,
                           pugi::xml_document& ADocumentOutputParameters, bool AIsCorrection) {
  const TDeviceDriver& holder = Instance();
  TReceiptContext context;
  context.Format12 = holder.FFFDVersion == ffd12;
  context.Correction = AIsCorrection;
  context.LineLength = holder.FLineLen;
  context.Taxes = &holder.FTaxValues;
  context.CheckedCodes = &holder.FKMListResult;
  const TReceipt receipt = TReceipt::Read(ACheckPackage, context);

  EnsureShiftState(true);
  CancelOpenDocument();
  // Print control: bit 7 of the print-settings byte means "no paper".
  bool noPaper = false;
  if (holder.FEnablePrinting == TDeviceDriver::cPrintUserChooses)
    noPaper = AElectronically;
  else if (holder.FEnablePrinting == TDeviceDriver::cPrintNever)
    noPaper = true;
  WritePaperSetting(noPaper);
  KeepingPrintSetting([&] { RegisterReceipt(receipt, AIsCorrection, ADocumentOutputParameters); });
}

void TDriver::RegisterReceipt(const TReceipt& AReceipt, bool AIsCorrection,
                              pugi::xml_document& ADocumentOutputParameters) {
  TDeviceDriver& holder = Instance();
  TDevice& device = Device();
  const int font = device.FontNumber();

  if (AIsCorrection)
    device.CorrectionReceipt(AReceipt.Cashier, AReceipt.CorrectionType, AReceipt.CorrectionBaseDate,
                             AReceipt.CorrectionBaseNumber);
  else
    device.OpenDocument(AReceipt.DocumentType, 1, AReceipt.Cashier, 1,
                        static_cast<uint8_t>(AReceipt.TaxationSystem));
  SendReceiptAgentData(holder, AReceipt.Agent);

  for (const TReceiptPosition& position : AReceipt.Positions) {
    if (const auto* line = std::get_if<TReceiptLine>(&position))
      RegisterLine(holder, *line);
    else if (const auto* text = std::get_if<TReceiptText>(&position))
      device.PrintProps(text->Text, font, false, false);
    else
      PrintBarcode(device, std::get<TBarcode>(position));
  }
  for (const std::string& line : AReceipt.TextLines) device.PrintProps(line, font, false, false);

  device.SubTotal();
  for (const auto& [code, amount] : AReceipt.Payments) device.Payment(code, amount, "");

  if (holder.FFFDVersion == ffd12) {
    SendTagIfGiven(device, 1192, AReceipt.AdditionalAttribute, false);
    const TIndustryValues& industry = AReceipt.Industry;
    SendTagIfGiven(device, 1262, industry.IdentifierFOIV, false);
    if (!Trim(industry.DocumentDate).empty())
      SendTag(device, 1263, DocumentDateTagValue(industry.DocumentDate), false);
    SendTagIfGiven(device, 1264, industry.DocumentNumber, false);
    SendTagIfGiven(device, 1265, industry.AttributeValue, false);
    if (!AReceipt.OperationDate.empty()) SendTag(device, 1273, AReceipt.OperationDate);
    if (!AReceipt.OperationID.empty())
      SendTag(device, 1271, "#" + AReceipt.OperationID, true, true);
    SendTagIfGiven(device, 1272, AReceipt.OperationData);
  }

  const TCustomerDetail& customer = AReceipt.Customer;
  device.CloseDocument(AReceipt.CustomerAddress, "", "", AReceipt.UserAttributeName,
                       AReceipt.UserAttributeValue, customer.Info, customer.INN,
                       customer.DateOfBirth, customer.Citizenship, customer.DocumentTypeCode,
                       customer.DocumentData, customer.Address);
  // The register binds a checked code to one sale: once sold, the code needs
  // a new check before another receipt may carry it.
  for (const TReceiptPosition& position : AReceipt.Positions)
    if (const auto* line = std::get_if<TReceiptLine>(&position); line && !line->BoundCode.empty())
      holder.FKMListResult.Forget(line->BoundCode);
  FillDocumentOutputParameters(ADocumentOutputParameters);
}
