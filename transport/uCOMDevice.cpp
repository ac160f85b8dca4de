#include "transport/uCOMDevice.h"

#include <chrono>
#include <string>

#include "common/Common.Log.h"
#include "device/uEquipmentErrors.h"
#include "transport/uPortAccess.h"
#include "transport/uSystemError.h"

using std::chrono::milliseconds;

namespace {
// One read takes at most this much of what has arrived.
constexpr size_t kReadChunk = 4096;

// The device behind an open port went away: the port will never work again.
bool IsDeviceGone(const TLinkStatus& AStatus) {
  if (AStatus.Fault == TLinkFault::lfClosed) return true;
  return AStatus.Fault == TLinkFault::lfSystem && IsDeviceGoneError(AStatus.SystemError);
}
}  // namespace

TCOMDevice::TCOMDevice() : FCom(std::make_unique<TCOM>()) {}

TCOMDevice::~TCOMDevice() {
  TCOMDevice::Disable();
}

void TCOMDevice::Enable() {
  FCom->Close();
  FInput.Clear();
  const bool opened = FCom->Open();
  const TPortLookup& lookup = FCom->PortLookup();
  for (const TPortMapProblem& problem : lookup.Problems)
    WriteLog(LinkSource(), problem.Text(), llError);
  try {
    if (!opened) {
      if (auto text = ExplainPortOpenFailure(lookup, FCom->LastSystemError())) RaiseError(*text);
      RaiseError(FCom->ExtResultDescription());
    }
    CheckConnection();
  } catch (const EquException&) {
    throw;
  } catch (const std::runtime_error& e) {
    // A map line the lookup could not use may be the one meant for this
    // port, which then opened the wrong device or none.
    const std::string notes = PortMapNotes(lookup);
    if (notes.empty()) throw;
    RaiseError(std::string(e.what()) + ". " + notes);
  }
}

void TCOMDevice::Disable() {
  TDevice::Disable();
  if (FCom && FCom->Opened()) FCom->Close();
  FInput.Clear();
}

std::string_view TCOMDevice::LinkSource() const {
  return "TCOMDevice";
}

TDevice::TLinkWaits TCOMDevice::LinkWaits(int ATimeout) const {
  // The first byte waits for the command's own limit; every later read is
  // bounded by the port's limits, as a read of that many bytes would be.
  TLinkWaits waits;
  waits.AnswerStart = milliseconds(ATimeout > 0 ? ATimeout : 0);
  waits.NextByte = FCom->ReadTotalLimit(1);
  waits.Checksum = FCom->ReadTotalLimit(2);
  const uint32_t gap = FCom->Timeouts().ReadIntervalTimeout;
  waits.ChecksumGap = gap == kNoTimeLimitWait ? milliseconds(0) : milliseconds(gap);
  waits.Answer = waits.AnswerStart;
  return waits;
}

TDevice::TLinkPolicy TCOMDevice::LinkPolicy() const {
  TLinkPolicy policy;
  policy.ProbeAttempts = cProbeAttempts;
  policy.ProbePause = milliseconds(cProbePauseMs);
  policy.ResendPause = milliseconds(cResendPauseMs);
  return policy;
}

void TCOMDevice::BeginExchange() {
  // Stale bytes of an earlier exchange go, in the port and in the buffer; a
  // failure to purge shows at the write.
  FCom->Purge(true);
  FInput.Clear();
}

TLinkStatus TCOMDevice::Checked(TLinkStatus AStatus) {
  // A port whose device has gone is closed, so that the next command's purge
  // opens it again by its name: a device plugged back in (or a register
  // started again) is found without a new connection.
  if (IsDeviceGone(AStatus) && FCom->Opened()) {
    FCom->Close();
    FInput.Clear();
  }
  return AStatus;
}

TLinkStatus TCOMDevice::LinkSend(std::string_view ABytes) {
  if (FCom->WriteStr(ABytes, 0)) return TLinkStatus::Done();
  // A write that went out short within the write limits has no system error.
  if (FCom->LastSystemError() == 0) return TLinkStatus::Failed(TLinkFault::lfShortWrite);
  return Checked(TLinkStatus::System(FCom->LastSystemError()));
}

TLinkStatus TCOMDevice::LinkReadNow() {
  size_t read = 0;
  bool closed = false;
  char* space = FInput.Space(kReadChunk);
  if (!FCom->ReadNow(space, kReadChunk, read, closed))
    return Checked(TLinkStatus::System(FCom->LastSystemError()));
  if (closed) return Checked(TLinkStatus::Failed(TLinkFault::lfClosed));
  FInput.Commit(read);
  return TLinkStatus::Done();
}

TLinkStatus TCOMDevice::LinkWaitInput(std::chrono::steady_clock::time_point ADeadline) {
  const TWaitResult result = FCom->WaitInput(ADeadline);
  return Checked(TLinkStatus::Waited(result, FCom->LastSystemError()));
}

std::string TCOMDevice::LinkFailureText(const TLinkStatus& AStatus, TLinkStep AStep) const {
  // Said as for a port that will not open, with the device it was: the
  // system's words for a vanished device ("Input/output error") tell the
  // cashier nothing.
  if (IsDeviceGone(AStatus))
    return ExplainPortOpenFailure(FCom->PortLookup(), kDeviceGoneSystemError)
        .value_or(std::string(EquMessages::DeviceNotConnected));
  switch (AStatus.Fault) {
    case TLinkFault::lfTimedOut:
      // Waiting for the start of an answer is the timed read; every other
      // read is one within the port's limits.
      return std::string(AStep == TLinkStep::lsAnswerStart ? EquMessages::PortReadError
                                                           : EquMessages::DeviceNoAnswer);
    case TLinkFault::lfClosed:
      return std::string(EquMessages::DeviceNoAnswer);
    case TLinkFault::lfShortWrite:
      return std::string(EquMessages::PortWriteError);
    case TLinkFault::lfNotOpen:
      return std::string(EquMessages::PortNotOpen);
    case TLinkFault::lfSystem:
      return SystemErrorText(AStatus.SystemError);
    case TLinkFault::lfNone:
      break;
  }
  return FCom->ExtResultDescription();
}
