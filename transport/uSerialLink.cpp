#include "transport/uSerialLink.h"

#include "common/Common.Log.h"
#include "device/uEquipmentErrors.h"
#include "transport/uPortAccess.h"
#include "transport/uSystemError.h"

using std::chrono::milliseconds;

namespace {

// The device behind an open port went away: the port will never work again.
bool IsDeviceGone(const TLinkStatus& AStatus) {
  if (AStatus.Fault == TLinkFault::lfClosed) return true;
  return AStatus.Fault == TLinkFault::lfSystem && IsDeviceGoneError(AStatus.SystemError);
}

TLinkPolicy SerialPolicy() {
  TLinkPolicy policy;
  policy.ProbeAttempts = TSerialLink::cProbeAttempts;
  policy.ProbePause = milliseconds(TSerialLink::cProbePauseMs);
  policy.ResendPause = milliseconds(TSerialLink::cResendPauseMs);
  return policy;
}

}  // namespace

TSerialLink::TSerialLink(TComm& APort)
    : TRegisterLink("TCOMDevice", SerialPolicy()), FPort(APort) {}

TLinkStatus TSerialLink::Open() {
  Close();
  const bool opened = FPort.Open();
  for (const TPortMapProblem& problem : FPort.PortLookup().Problems)
    WriteLog(Source(), problem.Text(), llError);
  if (opened) return TLinkStatus::Done();
  return TLinkStatus::System(FPort.LastSystemError()).At(TLinkStep::lsOpen);
}

void TSerialLink::Close() {
  if (FPort.Opened()) FPort.Close();
  FInput.Clear();
  FGone = false;
}

TLinkWaits TSerialLink::Waits(int ATimeout) const {
  // The first byte waits for the command's own limit; every later read is
  // bounded by the port's limits, as a read of that many bytes would be.
  TLinkWaits waits;
  waits.AnswerStart = milliseconds(ATimeout > 0 ? ATimeout : 0);
  waits.NextByte = FPort.ReadTotalLimit(1);
  waits.Checksum = FPort.ReadTotalLimit(2);
  const uint32_t gap = FPort.Timeouts().ReadIntervalTimeout;
  waits.ChecksumGap = gap == kNoTimeLimitWait ? milliseconds(0) : milliseconds(gap);
  waits.Answer = waits.AnswerStart;
  return waits;
}

TLinkStatus TSerialLink::BeforeCommand() {
  DropGonePort();
  // Stale bytes of an earlier exchange go, in the port and in the buffer; a
  // failure to purge shows at the write.
  FPort.Purge(true);
  FInput.Clear();
  return TLinkStatus::Done();
}

void TSerialLink::OutOfStep() {
  DropGonePort();
}

void TSerialLink::DropGonePort() {
  if (FGone) Close();
}

TLinkStatus TSerialLink::Checked(const TLinkStatus& AStatus) {
  if (IsDeviceGone(AStatus)) FGone = true;
  return AStatus;
}

TLinkStatus TSerialLink::Send(std::string_view ABytes) {
  // A probe tries again after a failure: a port whose device has gone is
  // opened afresh by its name, which may lead to the device plugged back in.
  DropGonePort();
  if (FPort.WriteStr(ABytes, 0)) return TLinkStatus::Done();
  // A write that went out short within the write limits has no system error.
  if (FPort.LastSystemError() == 0) return TLinkStatus::Failed(TLinkFault::lfShortWrite);
  return Checked(TLinkStatus::System(FPort.LastSystemError()));
}

TLinkStatus TSerialLink::ReadNow(size_t AMax) {
  size_t read = 0;
  const TLinkStatus status = FPort.ReadNow(FInput.Space(AMax), AMax, read);
  FInput.Commit(read);
  return Checked(status);
}

TLinkStatus TSerialLink::WaitInput(std::chrono::steady_clock::time_point ADeadline) {
  return Checked(FPort.WaitInput(ADeadline));
}

std::string TSerialLink::FailureText(const TLinkStatus& AStatus) const {
  if (AStatus.Step == TLinkStep::lsOpen)
    return ExplainPortOpenFailure(FPort.PortLookup(), AStatus.SystemError,
                                  FPort.ExtResultDescription());
  if (IsDeviceGone(AStatus))
    return ExplainPortOpenFailure(FPort.PortLookup(), kDeviceGoneSystemError,
                                  EquMessages::DeviceNotConnected);
  switch (AStatus.Fault) {
    case TLinkFault::lfTimedOut:
      // Waiting for the start of an answer is the timed read; every other
      // read is one within the port's limits.
      return std::string(AStatus.Step == TLinkStep::lsAnswerStart ? EquMessages::PortReadError
                                                                  : EquMessages::DeviceNoAnswer);
    case TLinkFault::lfShortWrite:
      return std::string(EquMessages::PortWriteError);
    case TLinkFault::lfNotOpen:
      return std::string(EquMessages::PortNotOpen);
    case TLinkFault::lfSystem:
      return SystemErrorText(AStatus.SystemError);
    default:
      return FPort.ExtResultDescription();
  }
}
