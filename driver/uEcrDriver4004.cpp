#include "driver/uEcrDriver4004.h"

#include <cmath>
#include <cstdio>

#include "driver/uMethodArguments.h"
#include "driver/uXmlUtils.h"
#include "resources/uResources.h"

namespace {

// Host methods declared by TEcrlDriver, in declaration order.
const TExportMethodInfo kMethods[] = {
    {"GetDataKKT",
     {"ПолучитьПараметрыККТ", MethodArgumentCount("GetDataKKT")},
     HostCode<TEcrlDriver, &TEcrlDriver::GetDataKKT>},
    {"OperationFN",
     {"ОперацияФН", MethodArgumentCount("OperationFN")},
     HostCode<TEcrlDriver, &TEcrlDriver::OperationFN>},
    {"OpenShift",
     {"ОткрытьСмену", MethodArgumentCount("OpenShift")},
     HostCode<TEcrlDriver, &TEcrlDriver::OpenShift>},
    {"CloseShift",
     {"ЗакрытьСмену", MethodArgumentCount("CloseShift")},
     HostCode<TEcrlDriver, &TEcrlDriver::CloseShift>},
    {"ProcessCheck",
     {"СформироватьЧек", MethodArgumentCount("ProcessCheck")},
     HostCode<TEcrlDriver, &TEcrlDriver::ProcessCheck>},
    {"ProcessCorrectionCheck",
     {"СформироватьЧекКоррекции", MethodArgumentCount("ProcessCorrectionCheck")},
     HostCode<TEcrlDriver, &TEcrlDriver::ProcessCorrectionCheck>},
    {"PrintTextDocument",
     {"НапечататьТекстовыйДокумент", MethodArgumentCount("PrintTextDocument")},
     HostCode<TEcrlDriver, &TEcrlDriver::PrintTextDocument>},
    {"CashInOutcome",
     {"НапечататьЧекВнесенияВыемки", MethodArgumentCount("CashInOutcome")},
     HostCode<TEcrlDriver, &TEcrlDriver::CashInOutcome>},
    {"PrintXReport",
     {"НапечататьОтчетБезГашения", MethodArgumentCount("PrintXReport")},
     HostCode<TEcrlDriver, &TEcrlDriver::PrintXReport>},
    {"GetCurrentStatus",
     {"ПолучитьТекущееСостояние", MethodArgumentCount("GetCurrentStatus")},
     HostCode<TEcrlDriver, &TEcrlDriver::GetCurrentStatus>},
    {"ReportCurrentStatusOfSettlements",
     {"ОтчетОТекущемСостоянииРасчетов", MethodArgumentCount("ReportCurrentStatusOfSettlements")},
     HostCode<TEcrlDriver, &TEcrlDriver::ReportCurrentStatusOfSettlements>},
    {"OpenCashDrawer",
     {"ОткрытьДенежныйЯщик", MethodArgumentCount("OpenCashDrawer")},
     HostCode<TEcrlDriver, &TEcrlDriver::OpenCashDrawer>},
    {"GetLineLength",
     {"ПолучитьШиринуСтроки", MethodArgumentCount("GetLineLength")},
     HostCode<TEcrlDriver, &TEcrlDriver::GetLineLength>},
    {"PrintCheckCopy",
     {"НапечататьКопиюЧека", MethodArgumentCount("PrintCheckCopy")},
     HostCode<TEcrlDriver, &TEcrlDriver::PrintCheckCopy>},
    {"OpenSessionRegistrationKM",
     {"ОткрытьСессиюРегистрацииКМ", MethodArgumentCount("OpenSessionRegistrationKM")},
     HostCode<TEcrlDriver, &TEcrlDriver::OpenSessionRegistrationKM>},
    {"CloseSessionRegistrationKM",
     {"ЗакрытьСессиюРегистрацииКМ", MethodArgumentCount("CloseSessionRegistrationKM")},
     HostCode<TEcrlDriver, &TEcrlDriver::CloseSessionRegistrationKM>},
    {"RequestKM",
     {"ЗапросКМ", MethodArgumentCount("RequestKM")},
     HostCode<TEcrlDriver, &TEcrlDriver::RequestKM>},
    {"GetProcessingKMResult",
     {"ПолучитьРезультатыЗапросаКМ", MethodArgumentCount("GetProcessingKMResult")},
     HostCode<TEcrlDriver, &TEcrlDriver::GetProcessingKMResult>},
    {"ConfirmKM",
     {"ПодтвердитьКМ", MethodArgumentCount("ConfirmKM")},
     HostCode<TEcrlDriver, &TEcrlDriver::ConfirmKM>},
    {"SetDateTime",
     {"УстановитьДатуВремя", MethodArgumentCount("SetDateTime")},
     HostCode<TEcrlDriver, &TEcrlDriver::SetDateTime>},
    {"GetDateTime",
     {"ПолучитьДатуВремя", MethodArgumentCount("GetDateTime")},
     HostCode<TEcrlDriver, &TEcrlDriver::GetDateTime>},
    {"GetDocumentInformation",
     {"ПолучитьИнформациюПоДокументу", MethodArgumentCount("GetDocumentInformation")},
     HostCode<TEcrlDriver, &TEcrlDriver::GetDocumentInformation>},
};

}  // namespace

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

const TDriverClassInfo TEcrlDriver::Info = {
    .ClassName = "TEcrlDriver",
    .Parent = &TCommonDriver::Info,
    .Methods = kMethods,
    .Properties = {},
    .Actions = {},
    .UpdateDriverInfo = &TEcrlDriver::UpdateDriverInfo,
};

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

void TEcrlDriver::ReadXmlArg(V8Variant* Params, long Count, long Index, pugi::xml_document& Doc,
                             const char* AWhat) {
  ParseXmlText(V8ToWideString(Arg(Params, Count, Index)), Doc, AWhat);
}

void TEcrlDriver::WriteXmlArg(V8Variant* Params, long Count, long Index,
                              const pugi::xml_document& Doc) {
  SetOutText(Arg(Params, Count, Index), XmlText(Doc));
}

bool TEcrlDriver::InOutCall(V8Variant* RetValue, V8Variant* Params, long Count,
                            TInOutOperation Operation, const char* AWhat) {
  return FiscalCall(RetValue, Params, Count, [&] {
    pugi::xml_document input, output;
    ReadXmlArg(Params, Count, 1, input, AWhat);
    NewXmlDocument(output);
    (this->*Operation)(input, output);
    WriteXmlArg(Params, Count, 2, output);
  });
}

// ---- host methods ----

bool TEcrlDriver::GetDataKKT(V8Variant* RetValue, V8Variant* Params, long Count,
                             TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    pugi::xml_document table;
    NewXmlDocument(table);
    GetDataKKT(table);
    WriteXmlArg(Params, Count, 1, table);
  });
}

bool TEcrlDriver::OperationFN(V8Variant* RetValue, V8Variant* Params, long Count,
                              TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    const uint8_t operationType = OperationTypeByte(V8GetInt(Arg(Params, Count, 1)));
    pugi::xml_document parameters;
    ReadXmlArg(Params, Count, 2, parameters, XmlArgumentCaption("OperationFN", 2));
    OperationFN(operationType, parameters);
  });
}

bool TEcrlDriver::OpenShift(V8Variant* RetValue, V8Variant* Params, long Count,
                            TV8AddInDefBaseEx* /*V8*/) {
  return InOutCall(RetValue, Params, Count, &TEcrlDriver::OpenShift,
                   XmlArgumentCaption("OpenShift", 1));
}

bool TEcrlDriver::CloseShift(V8Variant* RetValue, V8Variant* Params, long Count,
                             TV8AddInDefBaseEx* /*V8*/) {
  return InOutCall(RetValue, Params, Count, &TEcrlDriver::CloseShift,
                   XmlArgumentCaption("CloseShift", 1));
}

bool TEcrlDriver::ProcessCheck(V8Variant* RetValue, V8Variant* Params, long Count,
                               TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    const bool electronically = V8ToBool(Arg(Params, Count, 1));
    pugi::xml_document package, output;
    ReadXmlArg(Params, Count, 2, package, XmlArgumentCaption("ProcessCheck", 2));
    NewXmlDocument(output);
    ProcessCheck(electronically, package, output, false);
    WriteXmlArg(Params, Count, 3, output);
  });
}

bool TEcrlDriver::ProcessCorrectionCheck(V8Variant* RetValue, V8Variant* Params, long Count,
                                         TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    const bool electronically = V8ToBool(Arg(Params, Count, 1));
    pugi::xml_document package, output;
    ReadXmlArg(Params, Count, 2, package, XmlArgumentCaption("ProcessCorrectionCheck", 2));
    NewXmlDocument(output);
    ProcessCorrectionCheck(electronically, package, output);
    WriteXmlArg(Params, Count, 3, output);
  });
}

bool TEcrlDriver::PrintTextDocument(V8Variant* RetValue, V8Variant* Params, long Count,
                                    TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    pugi::xml_document package;
    ReadXmlArg(Params, Count, 1, package, XmlArgumentCaption("PrintTextDocument", 1));
    PrintTextDocument(package);
  });
}

bool TEcrlDriver::CashInOutcome(V8Variant* RetValue, V8Variant* Params, long Count,
                                TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    pugi::xml_document input;
    ReadXmlArg(Params, Count, 1, input, XmlArgumentCaption("CashInOutcome", 1));
    const int64_t amount = AmountToTenThousandths(V8GetDouble(Arg(Params, Count, 2)));
    CashInOutcome(input, amount);
  });
}

bool TEcrlDriver::PrintXReport(V8Variant* RetValue, V8Variant* Params, long Count,
                               TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    pugi::xml_document input;
    ReadXmlArg(Params, Count, 1, input, XmlArgumentCaption("PrintXReport", 1));
    PrintXReport(input);
  });
}

bool TEcrlDriver::GetCurrentStatus(V8Variant* RetValue, V8Variant* Params, long Count,
                                   TV8AddInDefBaseEx* /*V8*/) {
  return InOutCall(RetValue, Params, Count, &TEcrlDriver::GetCurrentStatus,
                   XmlArgumentCaption("GetCurrentStatus", 1));
}

bool TEcrlDriver::ReportCurrentStatusOfSettlements(V8Variant* RetValue, V8Variant* Params,
                                                   long Count, TV8AddInDefBaseEx* /*V8*/) {
  return InOutCall(RetValue, Params, Count, &TEcrlDriver::ReportCurrentStatusOfSettlements,
                   XmlArgumentCaption("ReportCurrentStatusOfSettlements", 1));
}

bool TEcrlDriver::OpenCashDrawer(V8Variant* RetValue, V8Variant* Params, long Count,
                                 TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] { OpenCashDrawer(); });
}

bool TEcrlDriver::GetLineLength(V8Variant* RetValue, V8Variant* Params, long Count,
                                TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    int64_t lineLength = 0;
    GetLineLength(lineLength);
    V8SetInt(Arg(Params, Count, 1), LineLengthForHost(lineLength));
  });
}

bool TEcrlDriver::PrintCheckCopy(V8Variant* RetValue, V8Variant* Params, long Count,
                                 TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count,
                    [&] { PrintCheckCopy(V8ToUtf8(Arg(Params, Count, 1))); });
}

bool TEcrlDriver::OpenSessionRegistrationKM(V8Variant* RetValue, V8Variant* Params, long Count,
                                            TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] { OpenSessionRegistrationKM(); });
}

bool TEcrlDriver::CloseSessionRegistrationKM(V8Variant* RetValue, V8Variant* Params, long Count,
                                             TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] { CloseSessionRegistrationKM(); });
}

bool TEcrlDriver::RequestKM(V8Variant* RetValue, V8Variant* Params, long Count,
                            TV8AddInDefBaseEx* /*V8*/) {
  return InOutCall(RetValue, Params, Count, &TEcrlDriver::RequestKM,
                   XmlArgumentCaption("RequestKM", 1));
}

bool TEcrlDriver::GetProcessingKMResult(V8Variant* RetValue, V8Variant* Params, long Count,
                                        TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    pugi::xml_document output;
    NewXmlDocument(output);
    int32_t requestStatus = 0;
    GetProcessingKMResult(output, requestStatus);
    WriteXmlArg(Params, Count, 1, output);
    V8SetInt(Arg(Params, Count, 2), requestStatus);
  });
}

bool TEcrlDriver::ConfirmKM(V8Variant* RetValue, V8Variant* Params, long Count,
                            TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    const std::string guid = V8ToUtf8(Arg(Params, Count, 1));
    const int32_t confirmationType = V8GetInt(Arg(Params, Count, 2));
    ConfirmKM(guid, confirmationType);
  });
}

bool TEcrlDriver::SetDateTime(V8Variant* RetValue, V8Variant* Params, long Count,
                              TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] { SetDateTime(V8ToUtf8(Arg(Params, Count, 1))); });
}

bool TEcrlDriver::GetDateTime(V8Variant* RetValue, V8Variant* Params, long Count,
                              TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    std::string dateTime;
    GetDateTime(dateTime);
    SetOutText(Arg(Params, Count, 1), dateTime);
  });
}

bool TEcrlDriver::GetDocumentInformation(V8Variant* RetValue, V8Variant* Params, long Count,
                                         TV8AddInDefBaseEx* /*V8*/) {
  return FiscalCall(RetValue, Params, Count, [&] {
    const int32_t docNumber = V8GetInt(Arg(Params, Count, 1));
    pugi::xml_document output;
    NewXmlDocument(output);
    GetDocumentInformation(docNumber, output);
    WriteXmlArg(Params, Count, 2, output);
  });
}
