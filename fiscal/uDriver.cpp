#include "fiscal/uDriver.h"

#include <stdexcept>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"
#include "fiscal/uInputReading.h"
#include "fiscal/uOperationWait.h"
#include "transport/uCOMDevice.h"
#include "transport/uPortMap.h"
#include "transport/uSocketDevice.h"
#include "hostbridge/uClassReg.h"
#include "resources/uResources.h"

namespace {

// TDriver marks its own GetInterfaceRevision again, so the host reaches this
// entry first by either name.
const TExportMethodInfo kMethods[] = {
    ExportMethod("GetInterfaceRevision", HostCode<TDriver, &TDriver::GetInterfaceRevision>),
};

constexpr int32_t kInterfaceRevision = 4004;
// PortNumber that selects the TCP link instead of a serial port.
constexpr int32_t kTcpPortNumber = 9999;
constexpr int kPrintSettingTable = TDeviceDriver::cPrintSettingTable;
constexpr int kPrintSettingIndex = TDeviceDriver::cPrintSettingIndex;
// Bit 7 of the print-settings byte: "do not print the document on paper".
constexpr uint8_t kNoPaperBit = 0x80;

// Writes each "Parameter" of the settings' "Parameters" element to the
// holder's property of the same name; unknown names and read-only
// properties are skipped. A value that does not convert fails the connect
// with a message naming the parameter, instead of connecting with a field
// silently left at zero.
void ApplyConnectionParameters(const pugi::xml_document& ASettings, TDeviceDriver& AHolder,
                               const std::string& ADeviceID) {
  const pugi::xml_node params = ASettings.child("Parameters");
  for (const pugi::xml_node p : params.children()) {
    if (p.type() != pugi::node_element || !SameText(p.name(), "Parameter")) continue;
    const std::string name = p.attribute("Name").value();
    const TPropertyInfo<TDeviceDriver>* prop =
        TCustomDriver::FindPublishedProperty<TDeviceDriver>(name);
    if (prop == nullptr || prop->Set == nullptr) continue;
    TV8NativeVariant value;
    try {
      value = ConvertVariantToKind(TV8NativeVariant(std::string(p.attribute("Value").value())),
                                   prop->Kind);
    } catch (const std::exception& E) {
      throw std::runtime_error(ResFormat("ParameterValueInvalid", {name, E.what()}));
    }
    prop->Set(AHolder, value);
    RecordDeviceLogFlag(name, ADeviceID, value);
  }
}

// A port number the parameter page offers: COM1 to COM128, or TCP/IP. Any
// other would open a device nobody chose (0, what a document without the
// parameter gives, would be /dev/ttyS-1 named directly).
void CheckPortNumber(int32_t APortNumber) {
  if (APortNumber == kTcpPortNumber ||
      (APortNumber >= cFirstComPort && APortNumber <= cLastComPort))
    return;
  throw std::runtime_error(
      ResFormat("ParameterValueInvalid",
                {"PortNumber", ResFormat("PortNumberRange", {std::to_string(APortNumber)})}));
}

uint8_t WithNoPaperBit(uint8_t AByte, bool ASet) {
  return ASet ? static_cast<uint8_t>(AByte | kNoPaperBit)
              : static_cast<uint8_t>(AByte & ~kNoPaperBit);
}

}  // namespace

std::unique_ptr<TDevice> TDriver::CreateDevice(const TDeviceDriver& AHolder) {
  std::unique_ptr<TDevice> device;
  if (AHolder.FPortNumber == kTcpPortNumber) {
    auto socket = std::make_unique<TSocketDevice>();
    socket->SetIPAddress(Utf8ToAnsi(AHolder.FIPAddress));
    socket->SetTCPPort(AHolder.FIPPort);
    device = std::move(socket);
  } else {
    auto com = std::make_unique<TCOMDevice>();
    com->Com().SetPortNumber(AHolder.FPortNumber);
    com->Com().SetBaudRateAsInt(AHolder.FBaudRate);
    device = std::move(com);
  }
  return device;
}

const TDriverClassInfo TDriver::Info = {
    .ClassName = "TDriver",
    .Parent = &TEcrlDriver::Info,
    .Methods = kMethods,
    .Properties = {},
    .Actions = {},
    .UpdateDriverInfo = nullptr,
};

// The library's one component class.
void RegisterDriverClasses(TClassRegList& List) {
  TCommonDriver::RegisterDriver(
      List, TDriver::Info, []() -> TV8UserObject* { return new TDriver(); }, "quarnel",
      ResString("DriverName"), ResString("DriverDescription"));
}

TDriver::TDriver() = default;

// Frees every connection (each closes its own link).
TDriver::~TDriver() = default;

int32_t TDriver::GetInterfaceRevision() {
  return kInterfaceRevision;
}

bool TDriver::GetInterfaceRevision(V8Variant* RetValue, V8Variant* Params, long Count,
                                   TV8AddInDefBaseEx* V8) {
  return TCommonDriver::GetInterfaceRevision(RetValue, Params, Count, V8);
}

// ---- connections ----

void TDriver::ConnectEquipment(const pugi::xml_document& ASettings) {
  TCommonDriver::ConnectEquipment(ASettings);
  auto holder = std::make_unique<TDeviceDriver>();
  FInstance = holder.get();
  try {
    ApplyConnectionParameters(ASettings, *holder, FDeviceID);
    // The password travels in every frame's header, where a control byte
    // would break the frame.
    RefuseControlBytes(holder->FConnectionPassword, "ConnectionPassword");
    // Numbers go to the register with "." whatever the locale: the device
    // layer formats them itself, so there is no process-wide setting to make.
    SetLogMode(holder->FLogEnabled ? lmAll : lmOff);
    CheckPortNumber(holder->FPortNumber);
    holder->SetDevice(CreateDevice(*holder));
    holder->Open();
  } catch (...) {
    // The half-made connection goes with its link; no identifier names it.
    FInstance = nullptr;
    FDeviceID.clear();
    throw;
  }
  const auto [it, inserted] = FInstanceList.emplace(FDeviceID, std::move(holder));
  FInstance = it->second.get();
}

void TDriver::DisconnectEquipment(const std::string& ADeviceID) {
  // An identifier that is not (or no longer) connected is not an error.
  if (FInstanceList.erase(ADeviceID) != 0) FInstance = nullptr;
  TCommonDriver::DisconnectEquipment(ADeviceID);
}

void TDriver::SelectDevice(const std::string& ADeviceID) {
  if (Trim(ADeviceID).empty()) throw std::runtime_error(ResString("DeviceIdMissing"));
  const auto it = FInstanceList.find(ADeviceID);
  if (it == FInstanceList.end()) throw std::runtime_error(ResFormat("DeviceNotFound", {ADeviceID}));
  FInstance = it->second.get();
}

void TDriver::EquipmentTest(const pugi::xml_document& ASettings, std::string& ADescription,
                            std::string& ADemoModeIsActivated) {
  ADescription.clear();
  ADemoModeIsActivated.clear();
  std::string error;
  bool failed = false;
  try {
    ConnectEquipment(ASettings);
    ADescription = DriverInfo().Description;
    if (Instance().FEnablePrinting != TDeviceDriver::cPrintNever) {
      TDevice& device = Device();
      device.OpenDocument(1, 1, "", 1, 0);
      device.PrintString(ADescription, device.FontNumber(), false, false);
      device.CloseDocument("", "", "", "", "", "", "", "", "", "", "", "");
    }
  } catch (const std::exception& E) {
    failed = true;
    error = E.what();
  }
  // The test leaves no connection behind, whatever happened above.
  const std::string id = FDeviceID;
  DisconnectEquipment(id);
  if (failed) {
    ADescription = error;
    throw std::runtime_error(error);
  }
}

// ---- shared steps ----

void TDriver::CancelOpenDocument() {
  TDevice& device = Device();
  uint8_t fatal = 0, document = 0;
  uint16_t current = 0;
  device.GetECRStatus(fatal, current, document);
  if (document == 0) return;
  ApplyReceiptPrinting(Instance().FInitPrintSetting);
  try {
    device.CancelDocument();
  } catch (...) {
    RestorePrintSetting();
    throw;
  }
  RestorePrintSetting();
}

void TDriver::ApplyReceiptPrinting(uint8_t AByte) {
  WritePrintSetting(AByte, Instance().FEnablePrinting);
}

void TDriver::ApplyReportPrinting(uint8_t AByte) {
  WritePrintSetting(AByte, Instance().FEnableReportPrinting);
}

void TDriver::WritePrintSetting(uint8_t AByte, uint8_t AEnableParameter) {
  uint8_t b = AByte;
  switch (Instance().FPrintRequired) {
    case -1:  // the host left it to the connection parameter
      b = WithNoPaperBit(AByte, AEnableParameter == TDeviceDriver::cPrintNever);
      break;
    case 0:
      b = WithNoPaperBit(AByte, true);
      break;
    case 1:
      b = WithNoPaperBit(AByte, false);
      break;
    default:
      break;
  }
  Device().WriteSettingTableByte(kPrintSettingTable, kPrintSettingIndex, b);
}

void TDriver::WritePaperSetting(bool ANoPaper) {
  Device().WriteSettingTableByte(kPrintSettingTable, kPrintSettingIndex,
                                 WithNoPaperBit(Instance().FInitPrintSetting, ANoPaper));
}

void TDriver::RestorePrintSetting() {
  Device().WriteSettingTableByte(kPrintSettingTable, kPrintSettingIndex,
                                 Instance().FInitPrintSetting);
}

void TDriver::EnsureShiftState(bool AMustBeOpen) {
  switch (Device().GetDayState()) {
    case 1:
      if (AMustBeOpen) throw MakeEquException(ecShiftClosed);
      break;
    case 2:
      if (!AMustBeOpen) throw MakeEquException(ecShiftOpen);
      break;
    default:
      throw MakeEquException(ecShiftOver24h);
  }
}

void TDriver::FillDocumentOutputParameters(pugi::xml_document& ADocumentOutputParameters) {
  // The fiscal storage answers for a document only a moment after its close.
  OperationWait(std::chrono::milliseconds(500));
  const TDocumentResult r = Device().ReadDocumentResult();
  pugi::xml_node params =
      ADocumentOutputParameters.append_child("DocumentOutputParameters").append_child("Parameters");
  params.append_attribute("ShiftNumber") = static_cast<long long>(r.ShiftNumber);
  params.append_attribute("CheckNumber") = static_cast<unsigned long long>(r.Document.Number);
  params.append_attribute("ShiftClosingCheckNumber") =
      static_cast<long long>(r.ReceiptNumberInShift);
  params.append_attribute("DateTime") = r.Document.Date.ToXml().c_str();
  params.append_attribute("FiscalSign") = static_cast<unsigned long long>(r.Document.FiscalSign);
  params.append_attribute("AddressSiteInspections") = r.InspectionSite.c_str();
}

TDeviceDriver& TDriver::Instance() {
  if (FInstance == nullptr) throw std::runtime_error(ResString("DeviceNotEnabled"));
  return *FInstance;
}

void TDriver::GetLineLength(int64_t& ALineLength) {
  ALineLength = Instance().FLineLen;
}
