#include "fiscal/uDriver.h"

#include <stdexcept>

#include "common/uCommonUtils.h"
#include "hostbridge/uClassReg.h"
#include "resources/uResources.h"

namespace {

// TDriver marks its own GetInterfaceRevision again, so the host reaches this
// entry first by either name.
const TExportMethodInfo kMethods[] = {
    {"GetInterfaceRevision",
     {"ПолучитьРевизиюИнтерфейса", 0},
     HostCode<TDriver, &TDriver::GetInterfaceRevision>},
};

constexpr int32_t kInterfaceRevision = 4004;

}  // namespace

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

void TDriver::ConnectEquipment(const pugi::xml_document& /*ASettings*/) {
  throw std::runtime_error(ResString("ConnectionUnavailable"));
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

TDeviceDriver& TDriver::Instance() {
  if (FInstance == nullptr) throw std::runtime_error(ResString("DeviceNotEnabled"));
  return *FInstance;
}

void TDriver::OperationUnavailable(const char* AName) {
  Instance();
  throw std::runtime_error(ResFormat("OperationUnavailable", {AName}));
}

void TDriver::GetLineLength(int64_t&) {
  OperationUnavailable("GetLineLength");
}
