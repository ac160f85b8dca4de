#include "host/uSerialDevices.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "common/uCommonUtils.h"
#include "device/uDeviceExchange.h"
#include "transport/uCommManager.h"
#include "transport/uSerialLink.h"

namespace fs = std::filesystem;

const std::vector<int> cProbeRates = {57600, 115200, 9600, 38400, 19200, 4800, 2400, 1200};

namespace {

// The path with every link resolved; empty when it leads nowhere.
std::string Canonical(const fs::path& APath) {
  std::error_code error;
  fs::path real = fs::canonical(APath, error);
  return error ? std::string() : real.string();
}

std::string ReadFirstLine(const fs::path& APath) {
  std::ifstream in(APath);
  std::string line;
  std::getline(in, line);
  return Trim(line);
}

// A port's device as seen under ARoots: "/dev/ttyS0" is ARoots.Dev + "/ttyS0".
fs::path UnderRoots(const std::string& ADevice, const TSerialRoots& ARoots) {
  if (ARoots.Dev != "/dev" && ADevice.rfind("/dev/", 0) == 0)
    return fs::path(ARoots.Dev) / ADevice.substr(5);
  return ADevice;
}

// Stable names by the device they lead to: by-id before by-path.
std::map<std::string, std::vector<std::string>> StableNamesByDevice(const TSerialRoots& ARoots) {
  std::map<std::string, std::vector<std::string>> names;
  for (const char* kind : {"by-id", "by-path"}) {
    std::error_code error;
    std::vector<std::string> links;
    for (const auto& entry : fs::directory_iterator(fs::path(ARoots.Dev) / "serial" / kind, error))
      links.push_back(entry.path().string());
    std::sort(links.begin(), links.end());
    for (const std::string& link : links)
      if (std::string target = Canonical(link); !target.empty()) names[target].push_back(link);
  }
  return names;
}

// A tty in sysfs with a device behind it that is there: consoles and ptys
// have none, and a legacy serial port whose UART was not found has type 0.
bool IsSerialHardware(const fs::path& AClassEntry) {
  std::error_code error;
  if (!fs::exists(AClassEntry / "device", error)) return false;
  const fs::path type = AClassEntry / "type";
  return !fs::exists(type, error) || ReadFirstLine(type) != "0";
}

// Driver and USB facts of a sysfs tty: the USB device is the nearest folder
// above the tty's device that has an idVendor.
void ReadSysfsFacts(const fs::path& AClassEntry, TSerialDevice& ADevice) {
  std::error_code error;
  const fs::path driver = fs::read_symlink(AClassEntry / "device" / "driver", error);
  if (!error) ADevice.Driver = driver.filename().string();
  fs::path at = Canonical(AClassEntry / "device");
  for (int up = 0; up < 4 && !at.empty() && at != at.root_path(); ++up, at = at.parent_path()) {
    if (!fs::exists(at / "idVendor", error)) continue;
    ADevice.UsbId = ReadFirstLine(at / "idVendor") + ":" + ReadFirstLine(at / "idProduct");
    ADevice.Manufacturer = ReadFirstLine(at / "manufacturer");
    ADevice.Product = ReadFirstLine(at / "product");
    ADevice.Serial = ReadFirstLine(at / "serial");
    return;
  }
}

}  // namespace

TSerialInventory ListSerialDevices(const TSerialRoots& ARoots) {
  TSerialInventory inventory;
  std::map<std::string, size_t> byCanonical;  // canonical path -> index in Devices
  std::error_code error;
  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(fs::path(ARoots.Sys) / "class" / "tty", error))
    entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end());
  for (const fs::path& entry : entries) {
    if (!IsSerialHardware(entry)) continue;
    TSerialDevice device;
    device.KernelName = entry.filename().string();
    device.Path = (fs::path(ARoots.Dev) / device.KernelName).string();
    const std::string canonical = Canonical(device.Path);
    if (canonical.empty()) continue;  // sysfs shows it, but this /dev has no node for it
    ReadSysfsFacts(entry, device);
    byCanonical.emplace(canonical, inventory.Devices.size());
    inventory.Devices.push_back(std::move(device));
  }

  for (int port = cFirstComPort; port <= cLastComPort; ++port) {
    TPortLookup lookup = LookUpComPort(port);
    if (port == cFirstComPort) inventory.Problems = lookup.Problems;
    lookup.Problems.clear();
    const std::string canonical = Canonical(UnderRoots(lookup.Device, ARoots));
    if (auto found = byCanonical.find(canonical);
        !canonical.empty() && found != byCanonical.end()) {
      inventory.Devices[found->second].Ports.push_back(std::move(lookup));
    } else if (lookup.Origin == TPortOrigin::poDefault) {
      continue;  // /dev/ttyS(n-1) without a UART behind it is no port worth a line
    } else if (canonical.empty()) {
      inventory.MissingPorts.push_back(std::move(lookup));
    } else {
      // A device only a port names: a pty, a link the emulator made.
      TSerialDevice device;
      device.Path = UnderRoots(lookup.Device, ARoots).string();
      device.Ports.push_back(std::move(lookup));
      byCanonical.emplace(canonical, inventory.Devices.size());
      inventory.Devices.push_back(std::move(device));
    }
  }

  const auto stable = StableNamesByDevice(ARoots);
  for (TSerialDevice& device : inventory.Devices)
    if (auto found = stable.find(Canonical(device.Path)); found != stable.end())
      device.StableNames = found->second;
  return inventory;
}

std::vector<std::string> StableDeviceNames(const std::string& ADevice, const TSerialRoots& ARoots) {
  const auto stable = StableNamesByDevice(ARoots);
  const auto found = stable.find(Canonical(ADevice));
  return found == stable.end() ? std::vector<std::string>() : found->second;
}

TProbeResult ProbeSerialDevice(const std::string& APath, const std::vector<int>& ARates,
                               const std::function<void(int ARate)>& AOnRate) {
  TProbeResult result;
  TCOM com;
  com.SetDeviceName(APath);
  TSerialLink link(com);
  const TLinkStatus opened = link.Open();
  if (!opened.Ok()) {
    result.Outcome = TProbeOutcome::poUnusable;
    result.Detail = link.Message(opened);
    return result;
  }
  for (int rate : ARates) {
    com.SetBaudRateAsInt(rate);
    if (!com.ApplyState()) continue;  // a rate this line cannot take
    if (AOnRate) AOnRate(rate);
    // What came at the rate before is no answer at this one.
    link.BeforeCommand();
    TDeviceExchange exchange(link);
    if (exchange.Probe().Ok()) {
      result.Outcome = TProbeOutcome::poRegister;
      result.Rate = rate;
      result.Detail.clear();
      return result;
    }
    // Another byte may be a register at another rate; keep looking.
    if (exchange.ProbeAnswers().empty()) continue;
    result.Outcome = TProbeOutcome::poOtherAnswer;
    if (result.Detail.empty())
      result.Detail = "0x" + BytesToHex(exchange.ProbeAnswers().substr(0, 1)) + " at " +
                      std::to_string(rate) + " bits/s";
  }
  return result;
}
