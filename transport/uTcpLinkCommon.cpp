// What TTcpLink does the same on every platform: its waits and policy, the
// reconnection after a failure and its failure texts, over the platform's
// connection and socket calls (uTcpLink.cpp, win/uTcpLink.cpp).
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"
#include "resources/uResources.h"
#include "transport/uSystemError.h"
#include "transport/uTcpLink.h"

using std::chrono::milliseconds;

namespace {

// What a TCP connect that failed with AError came to.
enum class TConnectFailure {
  cfRefused,      // nothing listens on that port
  cfTimedOut,     // no answer within the connect limit
  cfUnreachable,  // no route to that network or host
  cfOther,        // the system's own words say it
};

TConnectFailure ConnectFailureKind(int AError) {
  const TConnectErrorCodes& codes = kConnectErrorCodes;
  if (AError == codes.Refused) return TConnectFailure::cfRefused;
  if (AError == codes.TimedOut) return TConnectFailure::cfTimedOut;
  for (int code : codes.Unreachable)
    if (AError == code) return TConnectFailure::cfUnreachable;
  return TConnectFailure::cfOther;
}

TLinkPolicy TcpPolicy() {
  TLinkPolicy policy;
  policy.ProbeAttempts = 1;
  policy.ResendPause = milliseconds(TTcpLink::cResendPauseMs);
  policy.ChecksumNeedsAByte = true;
  policy.ProbeBeforeCommand = true;
  return policy;
}

}  // namespace

TTcpLink::TTcpLink(const TSocketTimeLimits& ALimits)
    : TRegisterLink("TSocketDevice", TcpPolicy()), FLimits(ALimits) {}

TTcpLink::~TTcpLink() {
  Close();
}

void TTcpLink::Close() {
  Disconnect();
  FReconnect = false;
}

TLinkWaits TTcpLink::Waits(int ATimeout) const {
  TLinkWaits waits;
  const milliseconds receive(FLimits.Receive);
  // A register printing a long report starts its answer when it is done.
  waits.AnswerStart = std::max(receive, milliseconds(ATimeout));
  waits.NextByte = receive;
  waits.Checksum = receive;
  waits.Answer = waits.AnswerStart;
  return waits;
}

TLinkStatus TTcpLink::BeforeCommand() {
  return FReconnect ? Connect(FIPAddress, FTCPPort) : TLinkStatus::Done();
}

void TTcpLink::OutOfStep() {
  if (!FSocket) return;
  CloseSocket();
  FReconnect = true;
}

std::string TTcpLink::FailureText(const TLinkStatus& AStatus) const {
  if (AStatus.Step == TLinkStep::lsSend) return std::string(EquMessages::SendError);
  if (AStatus.Step != TLinkStep::lsOpen) return std::string(EquMessages::ReceiveError);
  std::string reason;
  switch (AStatus.Fault) {
    case TLinkFault::lfBadAddress:
      return std::string(EquMessages::IPAddressSyntax);
    case TLinkFault::lfNoLibrary:
      return std::string(EquMessages::SocketLibraryError);
    case TLinkFault::lfNoSocket:
      return std::string(EquMessages::SocketCreateError);
    case TLinkFault::lfBadPort:
      reason = ResString("ConnectBadPort");
      break;
    case TLinkFault::lfTimedOut:
      reason = ConnectFailureReason(0, true);
      break;
    default:
      reason = ConnectFailureReason(AStatus.SystemError, false);
      break;
  }
  const std::string text = std::string(EquMessages::ConnectError) + " " + Trim(FIPAddress) + ":" +
                           std::to_string(FTCPPort) + ": " + reason;
  WriteLog(Source(), text, llError);
  return text;
}

std::string TTcpLink::ConnectFailureReason(int AError, bool ATimedOut) const {
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
