#include "fiscal/uDeviceDriver.h"

#include <stdexcept>
#include <type_traits>
#include <utility>

#include "common/uCommonUtils.h"
#include "resources/uResources.h"

namespace {

constexpr const char* kTaxRates[] = {"20",     "18",     "10", "0", "none",  "20/120",
                                     "18/118", "10/110", "5",  "7", "5/105", "7/107"};

using TProp = TPropertyInfo<TDeviceDriver>;

// A property over a field of the holder: a Boolean, a text, or an integer
// of any width.
template <auto Field>
constexpr TProp Prop(const char* AName) {
  using T = std::remove_cvref_t<decltype(std::declval<TDeviceDriver&>().*Field)>;
  if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::string>) {
    return {AName, std::is_same_v<T, bool> ? TPropKind::Boolean : TPropKind::Text,
            [](const TDeviceDriver& D) -> TV8NativeVariant { return D.*Field; },
            [](TDeviceDriver& D, const TV8NativeVariant& V) { D.*Field = std::get<T>(V); },
            nullptr};
  } else {
    return {
        AName, TPropKind::Integer,
        [](const TDeviceDriver& D) -> TV8NativeVariant { return static_cast<int64_t>(D.*Field); },
        [](TDeviceDriver& D, const TV8NativeVariant& V) {
          D.*Field = static_cast<T>(std::get<int64_t>(V));
        },
        nullptr};
  }
}

// A property no host value can carry, read-only: the register object.
constexpr TProp ObjectProp(const char* AName) {
  return {AName, TPropKind::Other, [](const TDeviceDriver&) -> TV8NativeVariant { return {}; },
          nullptr, nullptr};
}

using D = TDeviceDriver;
// In the order of the pages of the parameters description, then the
// register object.
const TProp kProperties[] = {Prop<&D::FPortNumber>("PortNumber"),
                             Prop<&D::FBaudRate>("BaudRate"),
                             Prop<&D::FConnectionPassword>("ConnectionPassword"),
                             Prop<&D::FIPAddress>("IPAddress"),
                             Prop<&D::FIPPort>("IPPort"),
                             Prop<&D::FFontNumber>("FontNumber"),
                             Prop<&D::FReceiptTextAvailable>("ReceiptTextAvailable"),
                             Prop<&D::FCutString>("CutString"),
                             Prop<&D::FEnablePrinting>("EnablePrinting"),
                             Prop<&D::FEnableReportPrinting>("EnableReportPrinting"),
                             Prop<&D::FLogEnabled>("LogEnabled"),
                             Prop<&D::FSingleCommand>("SingleCommand"),
                             ObjectProp("Device")};

}  // namespace

TTaxValues::TTaxValues() : FRates(std::begin(kTaxRates), std::end(kTaxRates)) {}

int TTaxValues::IDOfTax(std::string_view ARate) const {
  for (size_t i = 0; i < FRates.size(); ++i)
    if (SameText(FRates[i], ARate)) return static_cast<int>(i);
  return -1;
}

TDeviceDriver::TDeviceDriver() = default;

// The register object goes with the holder and closes its link.
TDeviceDriver::~TDeviceDriver() = default;

void TDeviceDriver::SetDevice(std::unique_ptr<TDevice> ADevice) {
  FDevice = std::move(ADevice);
  if (FDevice) FDevice->UseSettings(*this);
}

void TDeviceDriver::Open() {
  TDevice& device = Device();
  device.Enable();
  FInitPrintSetting =
      static_cast<uint8_t>(device.ReadSettingTableByte(cPrintSettingTable, cPrintSettingIndex));
  device.StartSeans();
  FLineLen = device.ReadLineLength(FFontNumber);
  FFFDVersion = static_cast<TFFDVersion>(device.GetFFD());
  FKKTDataCompleted = false;
}

TDevice& TDeviceDriver::Device() const {
  if (!FDevice) throw std::runtime_error(ResString("DeviceNotEnabled"));
  return *FDevice;
}

std::span<const TPropertyInfo<TDeviceDriver>> TDeviceDriver::PublishedProperties() {
  return kProperties;
}
