#include "device/uDeviceExchange.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "common/uClock.h"
#include "common/uCommonUtils.h"

using std::chrono::milliseconds;
using TTimePoint = std::chrono::steady_clock::time_point;
using TStage = TAnswerParser::TStage;

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

// The link's waits under the test hook's cap, if one is set.
TLinkWaits CappedWaits(const TRegisterLink& ALink, int ATimeout) {
  TLinkWaits waits = ALink.Waits(ATimeout);
  if (const auto cap = LinkLimitCap()) {
    for (milliseconds* wait :
         {&waits.AnswerStart, &waits.NextByte, &waits.Checksum, &waits.ChecksumGap, &waits.Answer})
      *wait = std::min(*wait, *cap);
  }
  return waits;
}

}  // namespace

TDeviceExchange::TDeviceExchange(TRegisterLink& ALink) : FLink(ALink) {}

void TDeviceExchange::Log(std::string_view AArrow, std::string_view ABytes, bool ASucceeded) const {
  LogLinkBytes(FLink.Source(), AArrow, ABytes, ASucceeded);
}

TLinkStatus TDeviceExchange::OutOfStep(const TLinkStatus& AStatus, TLinkStep AStep) {
  FLink.OutOfStep();
  return AStatus.At(AStep);
}

TLinkStatus TDeviceExchange::ReceiveInput(TTimePoint ADeadline, size_t AMax) {
  TLinkInput& input = FLink.Input();
  for (;;) {
    const auto at = Clock().SteadyNow();
    const size_t before = input.Size();
    TLinkStatus status = FLink.ReadNow(AMax);
    if (!status.Ok()) return status;
    if (input.Size() > before) {
      // Bytes in hand only after the limit are late, however long they lay
      // there: the limit is on having them, by the process clock.
      if (Clock().SteadyNow() > ADeadline) return TLinkStatus::Failed(TLinkFault::lfTimedOut);
      FLastInputAt = at;
      return status;
    }
    status = FLink.WaitInput(ADeadline);
    if (!status.Ok()) return status;
  }
}

TLinkStatus TDeviceExchange::Receive(size_t ACount, std::string& AOut, TTimePoint ADeadline,
                                     milliseconds AGap) {
  TLinkInput& input = FLink.Input();
  while (AOut.size() < ACount) {
    if (input.Empty()) {
      TTimePoint until = ADeadline;
      if (!AOut.empty() && AGap.count() >= 0) until = std::min(until, FLastInputAt + AGap);
      // No more than is wanted, so that nothing past it leaves the link.
      const TLinkStatus status = ReceiveInput(until, ACount - AOut.size());
      if (!status.Ok()) return status;
    }
    const size_t take = std::min(ACount - AOut.size(), input.Size());
    AOut.append(input.View().substr(0, take));
    input.Drop(take);
  }
  return TLinkStatus::Done();
}

TLinkStatus TDeviceExchange::Probe() {
  const TLinkPolicy& policy = FLink.Policy();
  const TLinkWaits waits = CappedWaits(FLink, 0);
  const std::string enq(1, FrameCodec::ENQ);
  TLinkStatus last = TLinkStatus::Failed(TLinkFault::lfNotOpen);
  TLinkStep step = TLinkStep::lsSend;
  bool answered = false;
  FProbeAnswers.clear();
  for (int attempt = 0; attempt < std::max(policy.ProbeAttempts, 1); ++attempt) {
    if (attempt > 0) Clock().Sleep(policy.ProbePause);
    // Limits run from the moment the bytes go out, so time that passes
    // while they travel counts.
    const auto deadline = DeadlineAfter(waits.NextByte);
    last = FLink.Send(enq);
    Log("-> ", enq, last.Ok());
    answered = false;
    step = TLinkStep::lsSend;
    if (!last.Ok()) continue;
    std::string answer;
    last = Receive(1, answer, deadline, milliseconds(-1));
    Log("<- ", answer, last.Ok());
    step = TLinkStep::lsProbeAnswer;
    if (!last.Ok()) continue;
    FProbeAnswers += answer;
    if (answer.front() == FrameCodec::ACK) return last;
    answered = true;
  }
  if (answered) return OutOfStep(TLinkStatus::Failed(TLinkFault::lfProtocol), step);
  return OutOfStep(last, step);
}

TLinkStatus TDeviceExchange::Transact(std::string_view AFrame, uint8_t APacketID,
                                      std::string_view ACommand, int ATimeout) {
  TLinkStatus status = FLink.BeforeCommand();
  if (!status.Ok()) return status.At(TLinkStep::lsOpen);
  const TLinkPolicy& policy = FLink.Policy();
  if (policy.ProbeBeforeCommand) {
    status = Probe();
    if (!status.Ok()) return status;
  }
  const TLinkWaits waits = CappedWaits(FLink, ATimeout);
  status = SendFrame(AFrame, waits, policy);
  if (!status.Ok()) return status;
  // Each byte's wait alone would let a register that sends a byte now and
  // then hold the call for as long as the longest answer takes that way.
  const auto answerDeadline = DeadlineAfter(waits.Answer);
  status = ReceiveBody(waits, answerDeadline);
  if (!status.Ok()) return status;
  status = ReceiveChecksum(waits, policy, answerDeadline);
  if (!status.Ok()) return status;
  // An answer that does not hold together (an ETX inside the data, say) may
  // leave the rest of itself in the stream. A register error byte leaves the
  // stream in step: the device reads it from the answer.
  switch (FrameCodec::CheckAnswer(FParser.Body(), FParser.Checksum(), APacketID, ACommand)) {
    case FrameCodec::TAnswerCheck::acBadChecksum:
      return OutOfStep(TLinkStatus::Failed(TLinkFault::lfChecksum), TLinkStep::lsChecksum);
    case FrameCodec::TAnswerCheck::acMalformed:
      return OutOfStep(TLinkStatus::Failed(TLinkFault::lfProtocol), TLinkStep::lsAnswerBody);
    case FrameCodec::TAnswerCheck::acGood:
      break;
  }
  return status;
}

TLinkStatus TDeviceExchange::SendFrame(std::string_view AFrame, const TLinkWaits& AWaits,
                                       const TLinkPolicy& APolicy) {
  TLinkInput& input = FLink.Input();
  for (int attempt = 0; attempt < cSendAttempts; ++attempt) {
    if (attempt > 0) Clock().Sleep(APolicy.ResendPause);
    FParser.Reset();
    const auto deadline = DeadlineAfter(AWaits.AnswerStart);
    TLinkStatus status = FLink.Send(AFrame);
    Log("-> ", AFrame, status.Ok());
    if (!status.Ok()) return OutOfStep(status, TLinkStep::lsSend);
    if (input.Empty())
      status = ReceiveInput(deadline);
    else
      FLastInputAt = Clock().SteadyNow();  // what the link held counts as come now
    if (!status.Ok()) {
      Log("<- ", {}, false);
      return OutOfStep(status, TLinkStep::lsAnswerStart);
    }
    input.Drop(FParser.Feed(input.View()));
    const char first = FParser.First();
    Log("<- ", std::string_view(&first, 1), true);
    if (FParser.Stage() != TStage::asNoStart) return status;
  }
  return OutOfStep(TLinkStatus::Failed(TLinkFault::lfProtocol), TLinkStep::lsAnswerStart);
}

TLinkStatus TDeviceExchange::ReceiveBody(const TLinkWaits& AWaits, TTimePoint ADeadline) {
  TLinkInput& input = FLink.Input();
  while (FParser.Stage() == TStage::asBody) {
    if (input.Empty()) {
      const TLinkStatus status = ReceiveInput(std::min(FLastInputAt + AWaits.NextByte, ADeadline));
      if (!status.Ok()) {
        Log("<- ", FParser.Body(), false);
        return OutOfStep(status, TLinkStep::lsAnswerBody);
      }
    }
    input.Drop(FParser.Feed(input.View()));
  }
  if (FParser.Stage() == TStage::asOverlong) {
    Log("<- ", FParser.Body(), false);
    return OutOfStep(TLinkStatus::Failed(TLinkFault::lfProtocol), TLinkStep::lsAnswerBody);
  }
  Log("<- ", FParser.Body(), true);
  return TLinkStatus::Done();
}

TLinkStatus TDeviceExchange::ReceiveChecksum(const TLinkWaits& AWaits, const TLinkPolicy& APolicy,
                                             TTimePoint ADeadline) {
  const auto deadline = FLastInputAt + AWaits.Checksum;
  const milliseconds gap = AWaits.ChecksumGap.count() > 0 ? AWaits.ChecksumGap : milliseconds(-1);
  std::string checksum = FParser.Checksum();
  const TLinkStatus status = Receive(2, checksum, std::min(deadline, ADeadline), gap);
  FParser.Feed(std::string_view(checksum).substr(FParser.Checksum().size()));
  if (!status.Ok()) {
    // Past the answer's own limit a short checksum is no checksum error: the
    // answer took too long.
    auto until = deadline;
    if (!checksum.empty() && gap.count() >= 0) until = std::min(until, FLastInputAt + gap);
    const bool answerLimit = until >= ADeadline;
    const bool fails =
        (answerLimit && status.Fault == TLinkFault::lfTimedOut) ||
        (APolicy.ChecksumNeedsAByte ? checksum.empty() : status.Fault == TLinkFault::lfSystem);
    if (fails) {
      Log("<- ", checksum, false);
      return OutOfStep(status, TLinkStep::lsChecksum);
    }
  }
  // A checksum cut short fails its check; its missing part may still come
  // and would be read as the start of the next answer.
  Log("<- ", checksum, true);
  return TLinkStatus::Done();
}
