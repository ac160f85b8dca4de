// TDeviceDriver: one open connection of a driver object, keyed in the
// driver's connection table by its device identifier. It holds the
// connection parameters, the register object and the working state that the
// fiscal operations share. Connecting is not wired to the register yet, so no
// holder is ever created and the class carries nothing so far.
#pragma once

class TDeviceDriver {
 public:
  TDeviceDriver() = default;
  TDeviceDriver(const TDeviceDriver&) = delete;
  TDeviceDriver& operator=(const TDeviceDriver&) = delete;
};
