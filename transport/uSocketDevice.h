// TSocketDevice: the register over TCP. It owns its TCP link (uTcpLink.h),
// which the exchange runs every command over; it connects and probes, and
// disconnects. Its own send and receive calls are the link's, with the
// result codes of the register software (605 and 606).
//
// Creating a device for a register at IP address and port:
//   auto device = std::make_unique<TSocketDevice>();
//   device->SetIPAddress("192.168.0.10");
//   device->SetTCPPort(50003);
//   device->Enable();                        // connects and probes
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/uDevice.h"
#include "transport/uTcpLink.h"

class TSocketDevice : public TDevice {
 public:
  TSocketDevice();
  // Other time limits (tests keep waits for silent peers short).
  explicit TSocketDevice(const TSocketTimeLimits& ALimits);
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

  const std::string& IPAddress() const { return FLink.Address(); }
  void SetIPAddress(std::string_view AValue) { FLink.SetAddress(AValue); }
  int TCPPort() const { return FLink.Port(); }
  void SetTCPPort(int AValue) { FLink.SetPort(AValue); }
  const std::string& ExtResultDescription() const { return FExtResultDescription; }
  bool Connected() const { return FLink.Connected(); }

 protected:
  TTcpLink FLink;
  std::string FExtResultDescription;
};
