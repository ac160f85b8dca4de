// Faults the virtual register can be told to commit, so that the driver's
// handling of a misbehaving register is tested against real bytes. Set from
// the command line or, in-process, through TEmuServer::Faults() from any
// thread while the server runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

enum class TEmuAnswerFaultKind {
  Drop,             // execute the command, send nothing
  Delay,            // send the answer after a pause
  CorruptChecksum,  // send the answer with a wrong checksum
  WrongPacketId,    // send the answer under another packet id (checksum consistent)
  CloseMidAnswer,   // send the first half, then close the connection (pty: go silent)
  NakAfterExecute,  // execute, then answer NAK as if the answer's start was lost;
                    // the client's resend is then answered from memory
};

// Applies to the Nth answer frame counted from the moment it is armed
// (1 = the next one).
struct TEmuAnswerFault {
  TEmuAnswerFaultKind Kind = TEmuAnswerFaultKind::Drop;
  int Nth = 1;
  std::chrono::milliseconds Delay{0};
};

// Refuse a command with an error byte instead of executing it. With an
// extended code, the next command 06 reports that code.
struct TEmuCommandFault {
  std::string Command;
  uint8_t Error = 1;
  std::optional<int64_t> ExtendedCode;
  int Times = 0;  // 0 = every time until cleared
};

// A whole set, as the command line gives it.
struct TEmuFaultSettings {
  int NakProbes = 0;  // next N probes answered with NAK; -1 = every probe
  std::vector<TEmuAnswerFault> AnswerFaults;
  std::vector<TEmuCommandFault> CommandFaults;
};

// What happens to one answer frame.
struct TEmuAnswerFate {
  bool Drop = false;
  std::chrono::milliseconds Delay{0};
  bool CorruptChecksum = false;
  bool WrongPacketId = false;
  bool CloseMidAnswer = false;
  bool NakAfterExecute = false;
};

class TEmuFaultPlan {
 public:
  // --- control (any thread) ---
  void Apply(const TEmuFaultSettings& settings);
  void NakProbes(int count);
  void ArmAnswerFault(TEmuAnswerFault fault);
  void FailCommand(TEmuCommandFault fault);
  // Disarms everything, including a pending extended code.
  void Clear();
  // Answer frames sent so far (faulted ones included).
  int AnswersSent() const;

  // --- used by the links (server thread) ---
  bool TakeProbeNak();
  // Counts one answer frame and returns the faults armed for it.
  TEmuAnswerFate TakeAnswerFate();
  std::optional<TEmuCommandFault> TakeCommandFault(const std::string& command);
  // The extended code left by the last injected refusal, until another
  // command executes normally.
  std::optional<int64_t> PendingExtendedCode() const;
  void SetPendingExtendedCode(std::optional<int64_t> code);

 private:
  struct TArmed {
    TEmuAnswerFault Fault;
    int Target = 0;  // value of FAnswers that the fault applies to
  };
  mutable std::mutex FLock;
  int FNakProbes = 0;
  int FAnswers = 0;
  std::vector<TArmed> FArmed;
  std::vector<TEmuCommandFault> FCommandFaults;
  std::optional<int64_t> FPendingExtended;
};
