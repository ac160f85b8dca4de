// What TSocketDevice does the same on every platform: the link's waits and
// policy, the reconnection after a failure, and its own send and receive over
// the platform's connection and socket calls (uSocketDevice.cpp,
// win/uSocketDevice.cpp).
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"
#include "common/uFd.h"
#include "device/uEquipmentErrors.h"
#include "resources/uResources.h"
#include "transport/uSocketDevice.h"

using std::chrono::milliseconds;

TSocketDevice::~TSocketDevice() {
  TSocketDevice::Disable();
}

void TSocketDevice::Enable() {
  Connect(FIPAddress, FTCPPort);
  CheckConnection();
}

void TSocketDevice::Disable() {
  TDevice::Disable();
  Disconnect();
  FReconnect = false;
}

// ---- The link operations -------------------------------------------------------

std::string_view TSocketDevice::LinkSource() const {
  return "TSocketDevice";
}

TDevice::TLinkWaits TSocketDevice::LinkWaits(int ATimeout) const {
  TLinkWaits waits;
  const milliseconds receive(FLimits.Receive);
  // A register printing a long report starts its answer when it is done.
  waits.AnswerStart = std::max(receive, milliseconds(ATimeout));
  waits.NextByte = receive;
  waits.Checksum = receive;
  waits.Answer = waits.AnswerStart;
  return waits;
}

TDevice::TLinkPolicy TSocketDevice::LinkPolicy() const {
  TLinkPolicy policy;
  policy.ProbeAttempts = 1;
  policy.ResendPause = milliseconds(cResendPauseMs);
  policy.ChecksumNeedsAByte = true;
  return policy;
}

void TSocketDevice::BeginExchange() {
  if (FReconnect) Connect(FIPAddress, FTCPPort);
  CheckConnection();
}

std::string TSocketDevice::LinkFailureText(const TLinkStatus&, TLinkStep AStep) const {
  return std::string(AStep == TLinkStep::lsSend ? EquMessages::SendError
                                                : EquMessages::ReceiveError);
}

void TSocketDevice::LinkOutOfStep() {
  if (!FSocket) return;
  CloseSocket();
  FReconnect = true;
}

std::string TSocketDevice::ConnectFailureText(std::string_view AReason) const {
  const std::string text = std::string(EquMessages::ConnectError) + " " + Trim(FIPAddress) + ":" +
                           std::to_string(FTCPPort) + ": " + std::string(AReason);
  WriteLog(LinkSource(), text, llError);
  return text;
}

std::string TSocketDevice::ConnectFailureReason(int AError, bool ATimedOut) const {
  switch (ATimedOut ? TConnectFailure::cfTimedOut : ConnectFailureKind(AError)) {
    case TConnectFailure::cfRefused:
      return ResString("ConnectRefused");
    case TConnectFailure::cfTimedOut: {
      // Seconds as a cashier reads them: "5", or "0,3" for a shorter limit.
      char seconds[32];
      if (FLimits.Connect % 1000 == 0)
        std::snprintf(seconds, sizeof seconds, "%d", FLimits.Connect / 1000);
      else
        std::snprintf(seconds, sizeof seconds, "%d,%d", FLimits.Connect / 1000,
                      FLimits.Connect % 1000 / 100);
      return ResFormat("ConnectTimedOut", {seconds});
    }
    case TConnectFailure::cfUnreachable:
      return ResString("ConnectUnreachable");
    case TConnectFailure::cfOther:
      break;
  }
  return SystemErrorText(AError);
}

// ---- The link's own send and receive ---------------------------------------------

int TSocketDevice::SendData(std::string_view ABytes) {
  if (!LinkSend(ABytes).Ok()) {
    FExtResultDescription = EquMessages::SendError;
    return cSendErrorCode;
  }
  return 0;
}

int TSocketDevice::ReceiveBytes(size_t AN, std::string& ABytes) {
  ABytes.assign(AN, '\0');
  size_t got = 0;
  const auto deadline = DeadlineAfter(milliseconds(FLimits.Receive));
  while (got < AN) {
    if (FInput.Empty()) {
      TLinkStatus status = ReceiveInput(deadline);
      if (!status.Ok()) {
        // Closed by the register, or broken: nothing more will come.
        if (status.Fault != TLinkFault::lfTimedOut) FReconnect = true;
        break;
      }
    }
    const size_t take = std::min(AN - got, FInput.Size());
    FInput.View().copy(ABytes.data() + got, take);
    FInput.Drop(take);
    got += take;
  }
  // Bytes still missing may come late and would be taken for the next answer.
  if (got < AN) FReconnect = true;
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
