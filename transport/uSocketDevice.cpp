#include "transport/uSocketDevice.h"

#include <algorithm>
#include <chrono>

#include "common/uFd.h"
#include "device/uDeviceExchange.h"
#include "device/uEquipmentErrors.h"

using std::chrono::milliseconds;

TSocketDevice::TSocketDevice() {
  SetLink(FLink);
}

TSocketDevice::TSocketDevice(const TSocketTimeLimits& ALimits) : FLink(ALimits) {
  SetLink(FLink);
}

TSocketDevice::~TSocketDevice() {
  TSocketDevice::Disable();
}

void TSocketDevice::Enable() {
  Connect(FLink.Address(), FLink.Port());
  CheckConnection();
}

void TSocketDevice::Disable() {
  TDevice::Disable();
  FLink.Close();
}

void TSocketDevice::Connect(std::string_view AAddress, int APort) {
  const TLinkStatus status = FLink.Connect(AAddress, APort);
  if (!status.Ok()) RaiseLinkFailure(status);
}

void TSocketDevice::Disconnect() {
  FLink.Disconnect();
}

int TSocketDevice::SendData(std::string_view ABytes) {
  if (!FLink.Send(ABytes).Ok()) {
    FExtResultDescription = EquMessages::SendError;
    return cSendErrorCode;
  }
  return 0;
}

int TSocketDevice::ReceiveBytes(size_t AN, std::string& ABytes) {
  ABytes.clear();
  const auto deadline = DeadlineAfter(milliseconds(FLink.Limits().Receive));
  TDeviceExchange(FLink).Receive(AN, ABytes, deadline, milliseconds(-1));
  const size_t got = ABytes.size();
  // Bytes still missing may come late and would be taken for the next answer.
  if (got < AN) FLink.OutOfStep();
  ABytes.resize(AN, '\0');
  if (got == 0 && AN > 0) {
    FExtResultDescription = EquMessages::ReceiveError;
    return cReceiveErrorCode;
  }
  return 0;
}

int TSocketDevice::ReceiveByte(uint8_t& AByte) {
  std::string one;
  int result = ReceiveBytes(1, one);
  if (result == 0) AByte = uint8_t(one[0]);
  return result;
}
