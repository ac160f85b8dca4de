// The exchange of one command, the same over both links: TDevice runs it,
// the link subclass moves the bytes (see the link operations in uDevice.h).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/Common.Log.h"
#include "common/uFd.h"
#include "common/uCommonUtils.h"
#include "device/uDevice.h"
#include "device/uEquipmentErrors.h"

using std::chrono::milliseconds;

// ---- The input buffer and the byte log ----------------------------------------

char* TLinkInput::Space(size_t AMax) {
  if (FBegin == FEnd) {
    FBegin = FEnd = 0;
  } else if (FBegin > 0 && FBuffer.size() - FEnd < AMax) {
    std::memmove(FBuffer.data(), FBuffer.data() + FBegin, FEnd - FBegin);
    FEnd -= FBegin;
    FBegin = 0;
  }
  if (FBuffer.size() - FEnd < AMax) FBuffer.resize(FEnd + AMax);
  return FBuffer.data() + FEnd;
}

void TLinkInput::Commit(size_t ACount) {
  FEnd = std::min(FEnd + ACount, FBuffer.size());
}

void LogLinkBytes(std::string_view ASource, std::string_view AArrow, std::string_view ABytes,
                  bool ASucceeded) {
  WriteLogDump(ASource, AArrow, ABytes, ASucceeded ? llInfo : llError);
}

// ---- Without a link ------------------------------------------------------------

std::string_view TDevice::LinkSource() const {
  return "TDevice";
}

TDevice::TLinkWaits TDevice::LinkWaits(int) const {
  return {};
}

TDevice::TLinkPolicy TDevice::LinkPolicy() const {
  return {};
}

void TDevice::BeginExchange() {}

TLinkStatus TDevice::LinkSend(std::string_view) {
  return TLinkStatus::Failed(TLinkFault::lfNotOpen);
}

TLinkStatus TDevice::LinkReadNow() {
  return TLinkStatus::Failed(TLinkFault::lfNotOpen);
}

TLinkStatus TDevice::LinkWaitInput(std::chrono::steady_clock::time_point) {
  return TLinkStatus::Failed(TLinkFault::lfNotOpen);
}

std::string TDevice::LinkFailureText(const TLinkStatus&, TLinkStep) const {
  return std::string(EquMessages::PortNotOpen);
}

void TDevice::LinkOutOfStep() {}

// ---- The exchange ----------------------------------------------------------------

namespace {

// Test hook (documented with the other one in fiscal/uOperationWait.h):
// QUARNEL_TEST_LINK_LIMIT_MS, read once, caps every answer limit of the links
// at that many milliseconds, so that a test through the shared library waits
// about a second for an answer that never comes instead of 15 s. Unset, zero
// or not a number: no cap.
std::optional<milliseconds> LinkLimitCap() {
  static const std::optional<milliseconds> cap = []() -> std::optional<milliseconds> {
    const char* value = std::getenv("QUARNEL_TEST_LINK_LIMIT_MS");
    int64_t ms = 0;
    if (value == nullptr || !TryStrToInt64(value, ms) || ms <= 0) return std::nullopt;
    return milliseconds(ms);
  }();
  return cap;
}

}  // namespace

TDevice::TLinkWaits TDevice::AnswerWaits(int ATimeout) const {
  TLinkWaits waits = LinkWaits(ATimeout);
  if (const auto cap = LinkLimitCap()) {
    for (milliseconds* wait :
         {&waits.AnswerStart, &waits.NextByte, &waits.Checksum, &waits.ChecksumGap, &waits.Answer})
      *wait = std::min(*wait, *cap);
  }
  return waits;
}

void TDevice::LogLink(std::string_view AArrow, std::string_view ABytes, bool ASucceeded) const {
  LogLinkBytes(LinkSource(), AArrow, ABytes, ASucceeded);
}

void TDevice::FailLink(const TLinkStatus& AStatus, TLinkStep AStep) {
  std::string message = LinkFailureText(AStatus, AStep);
  LinkOutOfStep();
  RaiseError(message);
}

void TDevice::FailOutOfStep(std::string_view AMessage) {
  LinkOutOfStep();
  RaiseError(AMessage);
}

TLinkStatus TDevice::ReceiveInput(std::chrono::steady_clock::time_point ADeadline) {
  for (;;) {
    const auto at = Clock().SteadyNow();
    const size_t before = FInput.Size();
    TLinkStatus status = LinkReadNow();
    if (!status.Ok()) return status;
    if (FInput.Size() > before) {
      // Bytes in hand only after the limit are late, however long they lay
      // there: the limit is on having them, by the process clock.
      if (Clock().SteadyNow() > ADeadline) return TLinkStatus::Failed(TLinkFault::lfTimedOut);
      FLastInputAt = at;
      return status;
    }
    status = LinkWaitInput(ADeadline);
    if (!status.Ok()) return status;
  }
}

TLinkStatus TDevice::TakeByte(char& AByte, std::chrono::steady_clock::time_point ADeadline) {
  if (FInput.Empty()) {
    TLinkStatus status = ReceiveInput(ADeadline);
    if (!status.Ok()) return status;
  }
  AByte = FInput.View().front();
  FInput.Drop(1);
  return TLinkStatus::Done();
}

void TDevice::CheckConnection() {
  const TLinkPolicy policy = LinkPolicy();
  const TLinkWaits waits = AnswerWaits(0);
  const std::string enq(1, ENQ);
  TLinkStatus last = TLinkStatus::Failed(TLinkFault::lfNotOpen);
  TLinkStep step = TLinkStep::lsSend;
  bool answered = false;
  for (int attempt = 0; attempt < std::max(policy.ProbeAttempts, 1); ++attempt) {
    if (attempt > 0) Clock().Sleep(policy.ProbePause);
    // Limits run from the moment the bytes go out, so time that passes
    // while they travel counts.
    const auto deadline = DeadlineAfter(waits.NextByte);
    last = LinkSend(enq);
    LogLink("-> ", enq, last.Ok());
    answered = false;
    step = TLinkStep::lsSend;
    if (!last.Ok()) continue;
    char answer = 0;
    last = TakeByte(answer, deadline);
    LogLink("<- ", last.Ok() ? std::string_view(&answer, 1) : std::string_view(), last.Ok());
    step = TLinkStep::lsProbeAnswer;
    if (last.Ok() && answer == ACK) return;
    answered = last.Ok();
  }
  if (answered) FailOutOfStep(EquMessages::ProtocolError);
  FailLink(last, step);
}

void TDevice::RunCommand(std::string_view ACmd, const TDeviceArgs& AData, int ATimeout) {
  FCommand = std::string(ACmd.substr(0, 2));
  // A frame that cannot be built (a bad password, a control byte in an
  // argument) fails before the link is touched.
  const std::string frame = BuildPacket(ACmd, AData);
  BeginExchange();
  const TLinkWaits waits = AnswerWaits(ATimeout);
  const TLinkPolicy policy = LinkPolicy();

  char first = 0;
  for (int attempt = 0; attempt < cSendAttempts; ++attempt) {
    if (attempt > 0) Clock().Sleep(policy.ResendPause);
    const auto deadline = DeadlineAfter(waits.AnswerStart);
    TLinkStatus sent = LinkSend(frame);
    LogLink("-> ", frame, sent.Ok());
    if (!sent.Ok()) FailLink(sent, TLinkStep::lsSend);
    TLinkStatus got = TakeByte(first, deadline);
    LogLink("<- ", got.Ok() ? std::string_view(&first, 1) : std::string_view(), got.Ok());
    if (!got.Ok()) FailLink(got, TLinkStep::lsAnswerStart);
    if (first == STX) break;
  }
  if (first != STX) FailOutOfStep(EquMessages::ProtocolError);

  // Each byte's wait alone would let a register that sends a byte now and
  // then hold the call for as long as the longest answer takes that way.
  const auto answerDeadline = DeadlineAfter(waits.Answer);
  const std::string answer = ReceiveAnswerBody(waits, answerDeadline);
  const std::string checksum = ReceiveChecksum(waits, policy, answerDeadline);
  // An answer that does not hold together (an ETX inside the data, say) may
  // leave the rest of itself in the stream. A register error byte leaves the
  // stream in step.
  try {
    CheckAnswerFrame(answer, checksum);
  } catch (const std::exception& e) {
    FailOutOfStep(e.what());
  }
  CheckAnswer(answer, checksum);
}

std::string TDevice::ReceiveAnswerBody(const TLinkWaits& AWaits,
                                       std::chrono::steady_clock::time_point ADeadline) {
  std::string answer;
  for (;;) {
    if (FInput.Empty()) {
      TLinkStatus status = ReceiveInput(std::min(FLastInputAt + AWaits.NextByte, ADeadline));
      if (!status.Ok()) {
        LogLink("<- ", answer, false);
        FailLink(status, TLinkStep::lsAnswerBody);
      }
    }
    // Everything buffered up to ETX at once, never past the cap.
    std::string_view input = FInput.View();
    input = input.substr(0, cMaxAnswerSize - answer.size());
    const size_t etx = input.find(ETX);
    const size_t take = etx == std::string_view::npos ? input.size() : etx + 1;
    answer.append(input.data(), take);
    FInput.Drop(take);
    if (etx != std::string_view::npos) break;
    if (answer.size() >= cMaxAnswerSize) {
      LogLink("<- ", answer, false);
      FailOutOfStep(EquMessages::ProtocolError);
    }
  }
  LogLink("<- ", answer, true);
  return answer;
}

std::string TDevice::ReceiveChecksum(const TLinkWaits& AWaits, const TLinkPolicy& APolicy,
                                     std::chrono::steady_clock::time_point ADeadline) {
  std::string checksum;
  const auto deadline = FLastInputAt + AWaits.Checksum;
  while (checksum.size() < 2) {
    if (FInput.Empty()) {
      auto until = deadline;
      if (!checksum.empty() && AWaits.ChecksumGap.count() > 0)
        until = std::min(deadline, FLastInputAt + AWaits.ChecksumGap);
      // Past the answer's own limit a short checksum is no checksum error: the
      // answer took too long.
      const bool answerLimit = until >= ADeadline;
      TLinkStatus status = ReceiveInput(std::min(until, ADeadline));
      if (!status.Ok()) {
        const bool fails =
            (answerLimit && status.Fault == TLinkFault::lfTimedOut) ||
            (APolicy.ChecksumNeedsAByte ? checksum.empty() : status.Fault == TLinkFault::lfSystem);
        if (fails) {
          LogLink("<- ", checksum, false);
          FailLink(status, TLinkStep::lsChecksum);
        }
        break;
      }
    }
    const size_t take = std::min<size_t>(2 - checksum.size(), FInput.Size());
    checksum.append(FInput.View().substr(0, take));
    FInput.Drop(take);
  }
  LogLink("<- ", checksum, true);
  // A checksum cut short is a checksum error; its missing part may still
  // come and would be read as the start of the next answer.
  if (checksum.size() < 2) LinkOutOfStep();
  return checksum;
}
