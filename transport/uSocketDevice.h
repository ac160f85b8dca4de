// TSocketDevice: the register over TCP.
//
// TDevice runs the exchange; this class makes and drops the connection and
// supplies what is TCP's own: a connection to a dotted IPv4 address made
// within 5 s, one probe (ENQ, expecting ACK) before every command, 200 ms
// between resends, and its waits: the first byte of an answer may take the
// command's own time limit when that is longer than the 10 s receive limit
// (reports and the shift close run long), every later byte at most 10 s.
//
// After a failure of the link (nothing or garbage received, an answer whose
// frame does not hold together, the register closed the connection, a send
// failed) the connection is closed, so no stale byte can be taken for the
// next answer; the next command connects again to the same address before
// its probe.
//
// Creating a link for a register at IP address and port:
//   auto device = std::make_unique<TSocketDevice>();
//   device->SetIPAddress("192.168.0.10");
//   device->SetTCPPort(50003);
//   device->Enable();                        // connects and probes
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/uFd.h"
#if defined(_WIN32)
#include "common/win/uWinHandle.h"
#endif
#include "device/uDevice.h"
#include "transport/uSystemError.h"

// Time limits of the TCP link, in milliseconds.
struct TSocketTimeLimits {
  int Connect = 5000;
  int Receive = 10000;
};

class TSocketDevice : public TDevice {
 public:
  static constexpr int cResendPauseMs = 200;

  TSocketDevice() = default;
  // Other time limits (tests keep waits for silent peers short).
  explicit TSocketDevice(const TSocketTimeLimits& ALimits) : FLimits(ALimits) {}
  ~TSocketDevice() override;

  // Connect(IPAddress, TCPPort), then CheckConnection.
  void Enable() override;
  // Closes the connection.
  void Disable() override;

  // Raises "Синтаксическая ошибка в IP-адресе" for anything but a dotted IPv4
  // address (255.255.255.255 included), "Ошибка при создании сокета", or
  // "Ошибка при установлении подключения к ФР" followed by the address, the
  // port and what happened (refused, no answer in time, unreachable); no
  // socket stays open then.
  void Connect(std::string_view AAddress, int APort);
  void Disconnect();

  // 0, or 605 with ExtResultDescription "Ошибка при отправке данных серверу".
  int SendData(std::string_view ABytes);
  // 0, or 606 with "Ошибка при получении ответа от сервера" (nothing within
  // the receive limit, the register closed the connection, or an error).
  int ReceiveByte(uint8_t& AByte);
  // AN bytes; the bytes that have not come within the receive limit (or
  // before the register closed the connection) stay 0x00. 606 when none came.
  int ReceiveBytes(size_t AN, std::string& ABytes);

  const std::string& IPAddress() const { return FIPAddress; }
  void SetIPAddress(std::string_view AValue) { FIPAddress = std::string(AValue); }
  int TCPPort() const { return FTCPPort; }
  void SetTCPPort(int AValue) { FTCPPort = AValue; }
  const std::string& ExtResultDescription() const { return FExtResultDescription; }
  bool Connected() const { return FSocket.Valid(); }

 protected:
  std::string_view LinkSource() const override;
  TLinkWaits LinkWaits(int ATimeout) const override;
  TLinkPolicy LinkPolicy() const override;
  void BeginExchange() override;
  TLinkStatus LinkSend(std::string_view ABytes) override;
  TLinkStatus LinkReadNow() override;
  TLinkStatus LinkWaitInput(std::chrono::steady_clock::time_point ADeadline) override;
  std::string LinkFailureText(const TLinkStatus& AStatus, TLinkStep AStep) const override;
  void LinkOutOfStep() override;

  // "Ошибка при установлении подключения к ФР ADDRESS:PORT: REASON", written
  // to the log as well: the platform's text alone is the same for a wrong
  // address, a wrong port and a register that is off.
  std::string ConnectFailureText(std::string_view AReason) const;
  // The reason of a connect that failed with AError, or ran out of time.
  std::string ConnectFailureReason(int AError, bool ATimedOut) const;

#if defined(_WIN32)
  TWinSocket FSocket;  // not valid while closed
  bool FWinsockStarted = false;
#else
  TFd FSocket;  // not valid while closed
#endif
  std::string FIPAddress;
  int FTCPPort = 0;
  std::string FExtResultDescription;
  TSocketTimeLimits FLimits;

 private:
  void CloseSocket();
  bool FReconnect = false;  // the connection was dropped after a failure
};
