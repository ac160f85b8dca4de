#include "driver/uEcrDriver4004.h"

#include <cmath>
#include <cstdio>

#include "driver/uMethodArguments.h"
#include "driver/uXmlUtils.h"
#include "resources/uResources.h"

int64_t AmountToTenThousandths(double Amount) {
  // nearbyint rounds in the default mode: to nearest, ties to even.
  const double scaled = std::nearbyint(Amount * 10000.0);
  if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0)) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", Amount);
    throw std::runtime_error(ResFormat("AmountOutOfRange", {text}));
  }
  return static_cast<int64_t>(scaled);
}

TEcrlDriver::TEcrlDriver() {
  // Without a registered class the base constructor ran the common update;
  // this class's kind completes it.
  RefreshDriverInfo(&TEcrlDriver::UpdateDriverInfo);
}

void TEcrlDriver::UpdateDriverInfo(TDriverInfo& AInfo) {
  TCommonDriver::UpdateDriverInfo(AInfo);
  AInfo.EquipmentType = etECR;
  AInfo.IntegrationComponent = false;
}

// ---- host arguments ----

std::string TEcrlDriver::THostCall::Text(long AIndex) const {
  return V8ToUtf8(Arg(FParams, FCount, AIndex));
}

int32_t TEcrlDriver::THostCall::Int(long AIndex) const {
  return V8GetInt(Arg(FParams, FCount, AIndex));
}

double TEcrlDriver::THostCall::Number(long AIndex) const {
  return V8GetDouble(Arg(FParams, FCount, AIndex));
}

bool TEcrlDriver::THostCall::Bool(long AIndex) const {
  return V8ToBool(Arg(FParams, FCount, AIndex));
}

void TEcrlDriver::THostCall::ReadXml(long AIndex, pugi::xml_document& ADoc) const {
  ParseXmlText(V8ToWideString(Arg(FParams, FCount, AIndex)), ADoc, FRow.Args[AIndex].Caption);
}

void TEcrlDriver::THostCall::WriteXml(long AIndex, const pugi::xml_document& ADoc) {
  SetText(AIndex, XmlText(ADoc));
}

void TEcrlDriver::THostCall::SetText(long AIndex, std::string_view AText) {
  FDriver.SetOutText(Arg(FParams, FCount, AIndex), AText);
}

void TEcrlDriver::THostCall::SetInt(long AIndex, int32_t AValue) {
  FDriver.V8SetInt(Arg(FParams, FCount, AIndex), AValue);
}

// ---- host methods ----
//
// Each handler reads its arguments in the order of its row, runs the
// operation, then writes the out-arguments: a failure part-way leaves the
// out-arguments not yet reached as the host passed them.

namespace {

// The shape of the printing methods: argument 1 an XML-in document.
template <void (TEcrlDriver::*Operation)(const pugi::xml_document&), class TCall>
void In(TEcrlDriver& D, TCall& C) {
  pugi::xml_document input;
  C.ReadXml(1, input);
  (D.*Operation)(input);
}

// The shape shared by the shifts, reports and the marking-code request:
// argument 1 an XML-in document, argument 2 the XML-out document.
template <void (TEcrlDriver::*Operation)(const pugi::xml_document&, pugi::xml_document&),
          class TCall>
void InOut(TEcrlDriver& D, TCall& C) {
  pugi::xml_document input, output;
  C.ReadXml(1, input);
  NewXmlDocument(output);
  (D.*Operation)(input, output);
  C.WriteXml(2, output);
}

// The shape of the two receipt methods: argument 1 the electronic flag,
// argument 2 the package, argument 3 the XML-out document.
using TReceiptOperation = void (*)(TEcrlDriver& D, bool AElectronically,
                                   const pugi::xml_document& APackage, pugi::xml_document& AOutput);
template <TReceiptOperation Operation, class TCall>
void Receipt(TEcrlDriver& D, TCall& C) {
  const bool electronically = C.Bool(1);
  pugi::xml_document package, output;
  C.ReadXml(2, package);
  NewXmlDocument(output);
  Operation(D, electronically, package, output);
  C.WriteXml(3, output);
}

void RunReceipt(TEcrlDriver& D, bool AElectronically, const pugi::xml_document& APackage,
                pugi::xml_document& AOutput) {
  D.ProcessCheck(AElectronically, APackage, AOutput, false);
}
void RunCorrection(TEcrlDriver& D, bool AElectronically, const pugi::xml_document& APackage,
                   pugi::xml_document& AOutput) {
  D.ProcessCorrectionCheck(AElectronically, APackage, AOutput);
}

}  // namespace

const TExportMethodInfo TEcrlDriver::cHostMethods[] = {
    FiscalEntry<"GetDataKKT",
                +[](TEcrlDriver& D, THostCall& C) {
                  pugi::xml_document table;
                  NewXmlDocument(table);
                  D.GetDataKKT(table);
                  C.WriteXml(1, table);
                }>(),
    FiscalEntry<"OperationFN",
                +[](TEcrlDriver& D, THostCall& C) {
                  const uint8_t operationType = OperationTypeByte(C.Int(1));
                  pugi::xml_document parameters;
                  C.ReadXml(2, parameters);
                  D.OperationFN(operationType, parameters);
                }>(),
    FiscalEntry<"OpenShift", &InOut<&TEcrlDriver::OpenShift, THostCall>>(),
    FiscalEntry<"CloseShift", &InOut<&TEcrlDriver::CloseShift, THostCall>>(),
    FiscalEntry<"ProcessCheck", &Receipt<&RunReceipt, THostCall>>(),
    FiscalEntry<"ProcessCorrectionCheck", &Receipt<&RunCorrection, THostCall>>(),
    FiscalEntry<"PrintTextDocument", &In<&TEcrlDriver::PrintTextDocument, THostCall>>(),
    FiscalEntry<"CashInOutcome",
                +[](TEcrlDriver& D, THostCall& C) {
                  pugi::xml_document input;
                  C.ReadXml(1, input);
                  const int64_t amount = AmountToTenThousandths(C.Number(2));
                  D.CashInOutcome(input, amount);
                }>(),
    FiscalEntry<"PrintXReport", &In<&TEcrlDriver::PrintXReport, THostCall>>(),
    FiscalEntry<"GetCurrentStatus", &InOut<&TEcrlDriver::GetCurrentStatus, THostCall>>(),
    FiscalEntry<"ReportCurrentStatusOfSettlements",
                &InOut<&TEcrlDriver::ReportCurrentStatusOfSettlements, THostCall>>(),
    FiscalEntry<"OpenCashDrawer", +[](TEcrlDriver& D, THostCall&) { D.OpenCashDrawer(); }>(),
    FiscalEntry<"GetLineLength",
                +[](TEcrlDriver& D, THostCall& C) {
                  int64_t lineLength = 0;
                  D.GetLineLength(lineLength);
                  C.SetInt(1, LineLengthForHost(lineLength));
                }>(),
    FiscalEntry<"PrintCheckCopy",
                +[](TEcrlDriver& D, THostCall& C) { D.PrintCheckCopy(C.Text(1)); }>(),
    FiscalEntry<"OpenSessionRegistrationKM",
                +[](TEcrlDriver& D, THostCall&) { D.OpenSessionRegistrationKM(); }>(),
    FiscalEntry<"CloseSessionRegistrationKM",
                +[](TEcrlDriver& D, THostCall&) { D.CloseSessionRegistrationKM(); }>(),
    FiscalEntry<"RequestKM", &InOut<&TEcrlDriver::RequestKM, THostCall>>(),
    FiscalEntry<"GetProcessingKMResult",
                +[](TEcrlDriver& D, THostCall& C) {
                  pugi::xml_document output;
                  NewXmlDocument(output);
                  int32_t requestStatus = 0;
                  D.GetProcessingKMResult(output, requestStatus);
                  C.WriteXml(1, output);
                  C.SetInt(2, requestStatus);
                }>(),
    FiscalEntry<"ConfirmKM",
                +[](TEcrlDriver& D, THostCall& C) {
                  const std::string guid = C.Text(1);
                  const int32_t confirmationType = C.Int(2);
                  D.ConfirmKM(guid, confirmationType);
                }>(),
    FiscalEntry<"SetDateTime", +[](TEcrlDriver& D, THostCall& C) { D.SetDateTime(C.Text(1)); }>(),
    FiscalEntry<"GetDateTime",
                +[](TEcrlDriver& D, THostCall& C) {
                  std::string dateTime;
                  D.GetDateTime(dateTime);
                  C.SetText(1, dateTime);
                }>(),
    FiscalEntry<"GetDocumentInformation",
                +[](TEcrlDriver& D, THostCall& C) {
                  const int32_t docNumber = C.Int(1);
                  pugi::xml_document output;
                  NewXmlDocument(output);
                  D.GetDocumentInformation(docNumber, output);
                  C.WriteXml(2, output);
                }>(),
};

const TDriverClassInfo TEcrlDriver::Info = {
    .ClassName = "TEcrlDriver",
    .Parent = &TCommonDriver::Info,
    .Methods = cHostMethods,
    .Properties = {},
    .Actions = {},
    .UpdateDriverInfo = &TEcrlDriver::UpdateDriverInfo,
};
