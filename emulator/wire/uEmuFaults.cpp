#include "wire/uEmuFaults.h"

#include <algorithm>

#include "common/uCommonUtils.h"

void TEmuFaultPlan::Apply(const TEmuFaultSettings& settings) {
  if (settings.NakProbes != 0) NakProbes(settings.NakProbes);
  for (const TEmuAnswerFault& f : settings.AnswerFaults) ArmAnswerFault(f);
  for (const TEmuCommandFault& f : settings.CommandFaults) FailCommand(f);
}

void TEmuFaultPlan::NakProbes(int count) {
  std::lock_guard lock(FLock);
  FNakProbes = count;
}

void TEmuFaultPlan::ArmAnswerFault(TEmuAnswerFault fault) {
  std::lock_guard lock(FLock);
  int nth = std::max(fault.Nth, 1);
  FArmed.push_back({fault, FAnswers + nth});
}

void TEmuFaultPlan::FailCommand(TEmuCommandFault fault) {
  fault.Command = UpperCase(fault.Command);
  std::lock_guard lock(FLock);
  // A later rule for the same command replaces the earlier one.
  std::erase_if(FCommandFaults,
                [&](const TEmuCommandFault& f) { return f.Command == fault.Command; });
  FCommandFaults.push_back(std::move(fault));
}

void TEmuFaultPlan::Clear() {
  std::lock_guard lock(FLock);
  FNakProbes = 0;
  FArmed.clear();
  FCommandFaults.clear();
  FPendingExtended.reset();
}

int TEmuFaultPlan::AnswersSent() const {
  std::lock_guard lock(FLock);
  return FAnswers;
}

bool TEmuFaultPlan::TakeProbeNak() {
  std::lock_guard lock(FLock);
  if (FNakProbes == 0) return false;
  if (FNakProbes > 0) --FNakProbes;
  return true;
}

TEmuAnswerFate TEmuFaultPlan::TakeAnswerFate() {
  std::lock_guard lock(FLock);
  ++FAnswers;
  TEmuAnswerFate fate;
  std::erase_if(FArmed, [&](const TArmed& a) {
    if (a.Target != FAnswers) return a.Target < FAnswers;
    switch (a.Fault.Kind) {
      case TEmuAnswerFaultKind::Drop:
        fate.Drop = true;
        break;
      case TEmuAnswerFaultKind::Delay:
        fate.Delay += a.Fault.Delay;
        break;
      case TEmuAnswerFaultKind::CorruptChecksum:
        fate.CorruptChecksum = true;
        break;
      case TEmuAnswerFaultKind::WrongPacketId:
        fate.WrongPacketId = true;
        break;
      case TEmuAnswerFaultKind::CloseMidAnswer:
        fate.CloseMidAnswer = true;
        break;
      case TEmuAnswerFaultKind::NakAfterExecute:
        fate.NakAfterExecute = true;
        break;
    }
    return true;
  });
  return fate;
}

std::optional<TEmuCommandFault> TEmuFaultPlan::TakeCommandFault(const std::string& command) {
  std::string code = UpperCase(command);
  std::lock_guard lock(FLock);
  auto it = std::find_if(FCommandFaults.begin(), FCommandFaults.end(),
                         [&](const TEmuCommandFault& f) { return f.Command == code; });
  if (it == FCommandFaults.end()) return std::nullopt;
  TEmuCommandFault fault = *it;
  if (it->Times > 0 && --it->Times == 0) FCommandFaults.erase(it);
  return fault;
}

std::optional<int64_t> TEmuFaultPlan::PendingExtendedCode() const {
  std::lock_guard lock(FLock);
  return FPendingExtended;
}

void TEmuFaultPlan::SetPendingExtendedCode(std::optional<int64_t> code) {
  std::lock_guard lock(FLock);
  FPendingExtended = code;
}
