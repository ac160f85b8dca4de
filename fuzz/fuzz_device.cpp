// Register answers arrive from the wire as they come: every check must end in
// an error or in fields, never in a crash.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "device/uDevice.h"

namespace {

// A register whose command 06 (asked for after error 01) fails on the link.
class TFuzzDevice : public TDevice {
 public:
  void RunCommand(std::string_view, const TDeviceArgs&, int) override {
    throw std::runtime_error("no link");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TFuzzDevice device;
  try {
    device.BuildPacket("00", {});
  } catch (const std::exception&) {
  }
  const std::string body = bytes.size() > 2 ? bytes.substr(2) : std::string();
  const std::string checksum = bytes.substr(0, 2);
  for (const std::string& candidate : {body, std::string(1, char(device.PacketID())) + body}) {
    try {
      device.CheckAnswer(candidate, checksum);
      device.CheckAnswer(candidate, TDevice::CalcChecksum(candidate));
    } catch (const std::exception&) {
    }
    for (size_t i = 0; i < device.Data().size() + 2; ++i) {
      (void)device.GetDataAsString(i);
      (void)device.GetDataAsInteger(i);
      (void)device.GetDataAsFloat(i);
      (void)device.GetDataAsDate(i);
      (void)device.GetDataAsTime(i);
    }
  }
  (void)TDevice::SplitFields(bytes);
  (void)TDevice::DeviceToDate(bytes);
  (void)TDevice::DeviceToTime(bytes);
  (void)TDevice::DeviceToFloat(bytes);
  (void)TDevice::ToDeviceText(bytes, size % 7);
  (void)TDevice::FromDeviceText(bytes);
  return 0;
}
