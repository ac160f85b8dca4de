// TCOMDevice: the register over a serial line. It owns its TCOM port and the
// serial link over it (uSerialLink.h), which the exchange runs every command
// over; it opens the port and probes the link, and closes the port.
//
// Creating a device for serial port n at a given rate:
//   auto device = std::make_unique<TCOMDevice>();
//   device->Com().SetPortNumber(n);          // $QUARNEL_COM<n>, a port map, /dev/ttyS(n-1)
//   device->Com().SetBaudRateAsInt(rate);
//   device->Enable();                        // opens the port and probes
#pragma once

#include <memory>

#include "device/uDevice.h"
#include "transport/uCommManager.h"
#include "transport/uSerialLink.h"

class TCOMDevice : public TDevice {
 public:
  TCOMDevice();
  ~TCOMDevice() override;

  // Reopens the port (looking its device up again) and probes the link. A
  // missing, forbidden or busy device raises a message that says so and
  // names it (uPortAccess.h); any other open failure the port's reason.
  // Problems of the port maps go to the log, and follow any failure.
  void Enable() override;
  // Closes the port.
  void Disable() override;

  TCOM& Com() { return *FCom; }

 protected:
  std::unique_ptr<TCOM> FCom;
  TSerialLink FLink;
};
