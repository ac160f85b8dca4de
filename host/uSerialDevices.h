// The serial devices of this machine as `quarnel-host ports` shows them:
// what is plugged in (from sysfs and /dev), the stable names udev gives it,
// the USB maker and model, and the port numbers that open it now through the
// driver's own lookup (uPortMap.h); and the probe that finds which of them
// answers like a register.
//
// The roots are parameters so that a test can stand a made-up /dev and /sys
// beside the real ones.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "transport/uPortMap.h"

struct TSerialRoots {
  std::string Dev = "/dev";
  std::string Sys = "/sys";
};

struct TSerialDevice {
  std::string Path;                      // the name it is opened by
  std::string KernelName;                // "ttyACM0"; empty for a device only a port names (a pty)
  std::vector<std::string> StableNames;  // /dev/serial/by-id names first, then by-path
  std::string Driver;                    // "cdc_acm", "ftdi_sio", ...
  std::string UsbId;                     // "1fc9:0083"; empty when not a USB device
  std::string Manufacturer, Product, Serial;
  std::vector<TPortLookup> Ports;  // the port numbers that open it now
};

struct TSerialInventory {
  std::vector<TSerialDevice> Devices;
  // Ports that a variable or a map ties to a name that leads nowhere now.
  std::vector<TPortLookup> MissingPorts;
  std::vector<TPortMapProblem> Problems;  // of the port maps
};

TSerialInventory ListSerialDevices(const TSerialRoots& ARoots = {});

// The names that survive replugging: the by-id links to ADevice, then the
// by-path ones; none when udev made neither (a built-in port, a pty).
std::vector<std::string> StableDeviceNames(const std::string& ADevice,
                                           const TSerialRoots& ARoots = {});

// The rates a register may be set to, the usual one first.
extern const std::vector<int> cProbeRates;

enum class TProbeOutcome { poRegister, poOtherAnswer, poSilent, poUnusable };

struct TProbeResult {
  TProbeOutcome Outcome = TProbeOutcome::poSilent;
  int Rate = 0;        // the rate a register answered at
  std::string Detail;  // the bytes that came instead of ACK, or why the port would not open
};

// Probes APath at each rate in turn, as the driver's connect probes its
// port (ENQ up to 11 times 50 ms apart, each within the port's read limit),
// until an ACK comes back. AOnRate, when given, hears of each rate before
// it is tried: a silent device takes about 6 s a rate.
TProbeResult ProbeSerialDevice(const std::string& APath, const std::vector<int>& ARates,
                               const std::function<void(int ARate)>& AOnRate = {});
