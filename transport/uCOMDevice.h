// TCOMDevice: the register over a serial line.
//
// Frames are built and answers checked by TDevice; this class moves the bytes
// over its TCOM port, probes the link (ENQ, expecting ACK), resends a frame
// while the register does not start its answer with STX, collects the answer
// up to ETX and its two checksum characters, and logs every byte with the
// source "TCOMDevice".
//
// Creating a link for serial port n at a given rate:
//   auto device = std::make_unique<TCOMDevice>();
//   device->Com().SetPortNumber(n);          // /dev/ttyS(n-1) or $QUARNEL_COM<n>
//   device->Com().SetBaudRateAsInt(rate);
//   device->Enable();                        // opens the port and probes
#pragma once

#include <memory>
#include <string_view>

#include "device/uDevice.h"
#include "transport/uCommManager.h"

class TCOMDevice : public TDevice {
 public:
  static constexpr int cProbeAttempts = 11;
  static constexpr int cSendAttempts = 11;
  static constexpr int cProbePauseMs = 50;
  static constexpr int cResendPauseMs = 100;

  TCOMDevice();
  ~TCOMDevice() override;

  // Reopens the port and probes the link. A missing device raises
  // "Устройство не подключено"; any other open failure the port's reason.
  void Enable() override;
  // Closes the port.
  void Disable() override;
  // One command: purge, frame (the same one for every resend), answer,
  // checks. ATimeout bounds the wait for the first answer byte.
  void RunCommand(std::string_view ACmd, const TDeviceArgs& AData, int ATimeout) override;
  // Up to 11 probes 50 ms apart until one is answered with ACK.
  void CheckConnection();

  TCOM& Com() { return *FCom; }

 protected:
  std::unique_ptr<TCOM> FCom;

 private:
  [[noreturn]] void RaisePortError() const;
};
