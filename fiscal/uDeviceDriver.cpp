#include "fiscal/uDeviceDriver.h"

#include <stdexcept>

#include "common/uCommonUtils.h"
#include "resources/uResources.h"

namespace {

constexpr const char* kTaxRates[] = {"20",     "18",     "10", "0", "none",  "20/120",
                                     "18/118", "10/110", "5",  "7", "5/105", "7/107"};

using TProp = TPropertyInfo<TDeviceDriver>;

// A property over an integer field of any width.
template <auto Field>
constexpr TProp IntProp(const char* AName) {
  return {AName, TPropKind::Integer,
          [](const TDeviceDriver& D) -> TV8NativeVariant { return static_cast<int64_t>(D.*Field); },
          [](TDeviceDriver& D, const TV8NativeVariant& V) {
            using T = std::remove_reference_t<decltype(D.*Field)>;
            D.*Field = static_cast<T>(std::get<int64_t>(V));
          },
          nullptr};
}
template <auto Field>
constexpr TProp TextProp(const char* AName) {
  return {AName, TPropKind::Text,
          [](const TDeviceDriver& D) -> TV8NativeVariant { return D.*Field; },
          [](TDeviceDriver& D, const TV8NativeVariant& V) { D.*Field = std::get<std::string>(V); },
          nullptr};
}
template <auto Field>
constexpr TProp BoolProp(const char* AName) {
  return {AName, TPropKind::Boolean,
          [](const TDeviceDriver& D) -> TV8NativeVariant { return D.*Field; },
          [](TDeviceDriver& D, const TV8NativeVariant& V) { D.*Field = std::get<bool>(V); },
          nullptr};
}

const TProp kProperties[] = {
    IntProp<&TDeviceDriver::FPortNumber>("PortNumber"),
    IntProp<&TDeviceDriver::FBaudRate>("BaudRate"),
    TextProp<&TDeviceDriver::FIPAddress>("IPAddress"),
    IntProp<&TDeviceDriver::FIPPort>("IPPort"),
    TextProp<&TDeviceDriver::FConnectionPassword>("ConnectionPassword"),
    TextProp<&TDeviceDriver::FCutString>("CutString"),
    IntProp<&TDeviceDriver::FFontNumber>("FontNumber"),
    BoolProp<&TDeviceDriver::FSingleCommand>("SingleCommand"),
    IntProp<&TDeviceDriver::FEnablePrinting>("EnablePrinting"),
    IntProp<&TDeviceDriver::FEnableReportPrinting>("EnableReportPrinting"),
    BoolProp<&TDeviceDriver::FReceiptTextAvailable>("ReceiptTextAvailable"),
    BoolProp<&TDeviceDriver::FLogEnabled>("LogEnabled"),
    // The register object: read-only, and no host value can carry it.
    {"Device", TPropKind::Other, [](const TDeviceDriver&) -> TV8NativeVariant { return {}; },
     nullptr, nullptr},
};

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
