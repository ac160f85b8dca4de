// TCOMDevice: the register over a serial line.
//
// TDevice runs the exchange; this class opens and closes its TCOM port and
// supplies what is the serial line's own: sending through the port, reading
// what has arrived within the port's time limits, the probe (up to 11 tries
// 50 ms apart, made when the port opens), 100 ms between resends, and the
// purge before every command. The log's source is "TCOMDevice".
//
// When the device behind the open port goes away (end of input, or a system
// error IsDeviceGoneError knows) the command fails with "Устройство не подключено" and the port is
// closed; the next command's purge opens it again by its name.
//
// Creating a link for serial port n at a given rate:
//   auto device = std::make_unique<TCOMDevice>();
//   device->Com().SetPortNumber(n);          // $QUARNEL_COM<n>, a port map, /dev/ttyS(n-1)
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
  static constexpr int cProbePauseMs = 50;
  static constexpr int cResendPauseMs = 100;

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
  std::string_view LinkSource() const override;
  TLinkWaits LinkWaits(int ATimeout) const override;
  TLinkPolicy LinkPolicy() const override;
  void BeginExchange() override;
  TLinkStatus LinkSend(std::string_view ABytes) override;
  TLinkStatus LinkReadNow() override;
  TLinkStatus LinkWaitInput(std::chrono::steady_clock::time_point ADeadline) override;
  std::string LinkFailureText(const TLinkStatus& AStatus, TLinkStep AStep) const override;

  std::unique_ptr<TCOM> FCom;

 private:
  // AStatus, after closing the port when it says the device has gone.
  TLinkStatus Checked(TLinkStatus AStatus);
};
