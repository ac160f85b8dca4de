// TDeviceDriver: one open connection of a driver object, keyed in the
// driver's connection table by its device identifier. It will hold the
// connection parameters, the register object and the working state that the
// fiscal operations share; this build has no device protocol yet, so no
// connection is ever opened and the holder carries nothing.
#pragma once

class TDeviceDriver {
 public:
  TDeviceDriver() = default;
  TDeviceDriver(const TDeviceDriver&) = delete;
  TDeviceDriver& operator=(const TDeviceDriver&) = delete;
};
