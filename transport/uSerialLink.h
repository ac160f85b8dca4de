// TSerialLink: the register link over a serial port (TComm). It sends
// through the port, reads what has arrived within the port's time limits and
// turns the port's success flags and reasons into TLinkStatus; the exchange
// runs over it. Its own ways, as data: up to 11 probes 50 ms apart, 100 ms
// between resends, the first byte of an answer waits for the command's own
// limit and every later read is bounded by the port's limits. Before every
// command it purges the port, so stale bytes of an earlier exchange never
// start an answer. The log's source is "TCOMDevice", the device it serves.
//
// When the device behind the open port goes away (end of input, or a system
// error IsDeviceGoneError knows) the exchange fails with "Устройство не
// подключено" and the port is closed, before the link sends again (a
// probe's next try) or once the exchange is over; the next write or
// command's purge opens it again by its name, so a device plugged back in
// (or a register started again) is found without a new connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "device/uRegisterLink.h"
#include "transport/uCommManager.h"

class TSerialLink : public TRegisterLink {
 public:
  static constexpr int cProbeAttempts = 11;
  static constexpr int cProbePauseMs = 50;
  static constexpr int cResendPauseMs = 100;

  // The link over APort, which outlives it.
  explicit TSerialLink(TComm& APort);

  // Closes the port and opens it again, looking its device up anew. The
  // port maps' problems go to the log.
  TLinkStatus Open();
  void Close();

  TLinkWaits Waits(int ATimeout) const override;
  TLinkStatus BeforeCommand() override;
  TLinkStatus Send(std::string_view ABytes) override;
  TLinkStatus ReadNow(size_t AMax) override;
  TLinkStatus WaitInput(std::chrono::steady_clock::time_point ADeadline) override;
  void OutOfStep() override;

 protected:
  // Opening: why the port did not open, naming its device. A device that
  // went away: said as for a port that will not open, with the device it
  // was, since the system's words for it ("Input/output error") tell a
  // cashier nothing. Otherwise the port's own texts.
  std::string FailureText(const TLinkStatus& AStatus) const override;

 private:
  // AStatus, remembering when it says the device has gone.
  TLinkStatus Checked(const TLinkStatus& AStatus);
  // Closes the port when its device has gone.
  void DropGonePort();

  TComm& FPort;
  bool FGone = false;
};
