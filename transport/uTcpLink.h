// TTcpLink: the register link over TCP. It connects to a dotted IPv4
// address within 5 s, sends, reads what has arrived and waits on its socket,
// and turns the socket calls' outcomes into TLinkStatus; the exchange runs
// over it. Its own ways, as data: a probe (ENQ, expecting ACK, no retry)
// before every command, 200 ms between resends, a checksum that must bring
// at least one byte, and its waits: the first byte of an answer may take the
// command's own time limit when that is longer than the 10 s receive limit
// (reports and the shift close run long), every later byte at most 10 s.
// The log's source is "TSocketDevice", the device it serves.
//
// After a failure of the link (nothing or garbage received, an answer whose
// frame does not hold together, the register closed the connection, a send
// failed) the connection is closed, so no stale byte can be taken for the
// next answer; the next command connects again to the same address before
// its probe.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/uFd.h"
#if defined(_WIN32)
#include "common/win/uWinHandle.h"
#endif
#include "device/uRegisterLink.h"

// The connection's socket: a descriptor, or a Winsock socket.
#if defined(_WIN32)
using TLinkSocket = TWinSocket;
#else
using TLinkSocket = TFd;
#endif

// Time limits of the TCP link, in milliseconds.
struct TSocketTimeLimits {
  int Connect = 5000;
  int Receive = 10000;
};

class TTcpLink : public TRegisterLink {
 public:
  static constexpr int cResendPauseMs = 200;

  explicit TTcpLink(const TSocketTimeLimits& ALimits = {});
  ~TTcpLink() override;

  // Connects to AAddress:APort, which the link keeps for connecting again
  // (AAddress may be the kept one).
  // Anything but a dotted IPv4 address (255.255.255.255 included) is
  // lfBadAddress, a port outside 1..65535 lfBadPort; a connection that is
  // refused, unreachable or not made within the limit fails with the
  // system's reason (lfSystem, lfTimedOut). No socket stays open then.
  TLinkStatus Connect(std::string_view AAddress, int APort);
  // Closes the connection; a command after a failure still connects again.
  void Disconnect();
  // Closes the connection for good: no command connects until Connect.
  void Close();
  bool Connected() const { return FSocket.Valid(); }
  const TLinkSocket& Socket() const { return FSocket; }

  const std::string& Address() const { return FIPAddress; }
  void SetAddress(std::string_view AValue) { FIPAddress = std::string(AValue); }
  int Port() const { return FTCPPort; }
  void SetPort(int AValue) { FTCPPort = AValue; }
  // Tests keep the waits for a silent peer short.
  TSocketTimeLimits& Limits() { return FLimits; }
  // The reason of a connect that failed with AError, or ran out of time.
  std::string ConnectFailureReason(int AError, bool ATimedOut) const;

  TLinkStatus Send(std::string_view ABytes) override;
  TLinkStatus ReadNow(size_t AMax) override;
  TLinkStatus WaitInput(std::chrono::steady_clock::time_point ADeadline) override;
  TLinkWaits Waits(int ATimeout) const override;
  // Connects again after a failure.
  TLinkStatus BeforeCommand() override;
  // Drops the connection, to be made again before the next command.
  void OutOfStep() override;

 protected:
  // A failed connect: "Ошибка при установлении подключения к ФР
  // ADDRESS:PORT: REASON", written to the log as well, since the platform's
  // text alone is the same for a wrong address, a wrong port and a register
  // that is off (or the address's or the socket's own message). A failed
  // send or receive: the link's one text for each.
  std::string FailureText(const TLinkStatus& AStatus) const override;

 private:
  void CloseSocket();
  // A failed connect, leaving no socket (and, on Windows, no socket library).
  TLinkStatus ConnectFailed(TLinkStatus AStatus);

  TLinkSocket FSocket;  // not valid while closed
#if defined(_WIN32)
  bool FWinsockStarted = false;
#endif
  std::string FIPAddress;
  int FTCPPort = 0;
  TSocketTimeLimits FLimits;
  bool FReconnect = false;  // the connection was dropped after a failure
};
