// TRegisterLink: what the exchange of commands needs from a link to the
// register, the serial line or TCP. A link moves bytes and knows its own
// failures; the exchange (uDeviceExchange.h) runs the one loop over it:
// probe, frame, resends, answer, checks.
//
// What a link does is a handful of operations: send, read what has arrived,
// wait for input until a deadline, word its failures, what it does before a
// command and when the stream is out of step. How links differ otherwise is
// data: the probe's attempts and pause, the resend pause, the waits and the
// checksum rule.
//
// Every outcome below the device is a TLinkStatus: the links, the exchange
// and the serial port's own primitives report with it and raise nothing.
// TDevice turns a failed status into the error the host sees.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/uFd.h"

// How a step of a link or of the exchange ended.
enum class TLinkFault : uint8_t {
  lfNone,        // done
  lfTimedOut,    // nothing came within the limit
  lfClosed,      // the register hung up
  lfShortWrite,  // not every byte went out
  lfNotOpen,     // there is no port or connection
  lfSystem,      // a system call failed; SystemError holds its code
  lfProtocol,    // an answer that is none: a stray byte, no ETX, another packet's
  lfChecksum,    // an answer whose checksum does not match
  lfBadAddress,  // the address to connect to is no dotted IPv4 address
  lfBadPort,     // the TCP port to connect to is out of range
  lfNoLibrary,   // the socket library would not start
  lfNoSocket,    // no socket could be made
};

// The step of an exchange a failure belongs to: the links word their
// messages by it.
enum class TLinkStep : uint8_t {
  lsOpen,         // opening the port or connecting
  lsSend,         // a probe or a frame going out
  lsProbeAnswer,  // the byte answering a probe
  lsAnswerStart,  // the first byte of an answer
  lsAnswerBody,   // the bytes up to ETX
  lsChecksum,     // the two checksum characters
};

struct TLinkStatus {
  TLinkFault Fault = TLinkFault::lfNone;
  int SystemError = 0;
  TLinkStep Step = TLinkStep::lsSend;

  bool Ok() const { return Fault == TLinkFault::lfNone; }
  static TLinkStatus Done() { return {}; }
  static TLinkStatus Failed(TLinkFault AFault) { return {AFault, 0}; }
  static TLinkStatus System(int AError) { return {TLinkFault::lfSystem, AError}; }
  // How a wait for input ended; ASystemError tells why a failed one failed.
  static TLinkStatus Waited(TWaitResult AResult, int ASystemError) {
    if (AResult == TWaitResult::wrReady) return Done();
    if (AResult == TWaitResult::wrTimedOut) return Failed(TLinkFault::lfTimedOut);
    return System(ASystemError);
  }
  // The same, marked as the failure of AStep.
  TLinkStatus At(TLinkStep AStep) const {
    TLinkStatus status = *this;
    status.Step = AStep;
    return status;
  }
};

// Bytes a link has received and the exchange has not yet taken. A link
// appends what has arrived in one read (Space, then Commit); the exchange
// takes bytes from the front. Clearing it is how stale input is dropped.
class TLinkInput {
 public:
  // Room for up to AMax more bytes at the end; Commit says how many arrived.
  char* Space(size_t AMax);
  void Commit(size_t ACount);

  bool Empty() const { return FBegin == FEnd; }
  size_t Size() const { return FEnd - FBegin; }
  std::string_view View() const { return {FBuffer.data() + FBegin, FEnd - FBegin}; }
  void Drop(size_t ACount) { FBegin += ACount < Size() ? ACount : Size(); }
  void Clear() { FBegin = FEnd = 0; }

 private:
  std::vector<char> FBuffer;
  size_t FBegin = 0, FEnd = 0;
};

// How long the exchange waits, given the command's own time limit.
struct TLinkWaits {
  std::chrono::milliseconds AnswerStart{0};  // for the first byte of an answer
  std::chrono::milliseconds NextByte{0};     // for each later byte, and a probe's answer
  std::chrono::milliseconds Checksum{0};     // for both checksum characters in all
  std::chrono::milliseconds ChecksumGap{0};  // between them once one came (0: no own bound)
  // For the whole answer from its first byte to its checksum: the bound
  // that each byte's own wait never gives.
  std::chrono::milliseconds Answer{0};
};

// How a link's exchange differs, as data.
struct TLinkPolicy {
  int ProbeAttempts = 1;
  std::chrono::milliseconds ProbePause{0};
  std::chrono::milliseconds ResendPause{0};
  // Nothing at all in place of the checksum is a receive failure; without
  // it only a failed system call is, and a short checksum fails its check.
  bool ChecksumNeedsAByte = false;
  // Every command is preceded by a probe (the TCP link's register expects
  // one), not only the opening of the link.
  bool ProbeBeforeCommand = false;
};

class TRegisterLink {
 public:
  // ASource: the log's source for the link's bytes, the class name of the
  // device it serves.
  TRegisterLink(std::string_view ASource, const TLinkPolicy& APolicy)
      : FSource(ASource), FPolicy(APolicy) {}
  virtual ~TRegisterLink() = default;
  TRegisterLink(const TRegisterLink&) = delete;
  TRegisterLink& operator=(const TRegisterLink&) = delete;

  std::string_view Source() const { return FSource; }
  const TLinkPolicy& Policy() const { return FPolicy; }
  // Received bytes not yet taken by the exchange.
  TLinkInput& Input() { return FInput; }

  // The waits for a command with the time limit ATimeout (ms).
  virtual TLinkWaits Waits(int ATimeout) const = 0;
  // Before a command's frame goes out (the serial link drops stale input,
  // the TCP link connects again after a failure).
  virtual TLinkStatus BeforeCommand() = 0;
  // All of ABytes out, or why they did not go.
  virtual TLinkStatus Send(std::string_view ABytes) = 0;
  // Appends what has arrived to Input(), at most AMax bytes, in one read
  // without waiting (no byte when nothing is there); a failure when the
  // link hung up or broke.
  virtual TLinkStatus ReadNow(size_t AMax) = 0;
  // Waits until input may be there: done, lfTimedOut once ADeadline has
  // passed on Clock(), or a failure.
  virtual TLinkStatus WaitInput(std::chrono::steady_clock::time_point ADeadline) = 0;
  // The stream may hold bytes of a broken exchange (the TCP link drops the
  // connection; the serial link drops stale input before each command anyway).
  virtual void OutOfStep() = 0;

  // The message for a failed status: the frame's own faults in the words
  // every link shares, the others in the link's.
  std::string Message(const TLinkStatus& AStatus) const;

 protected:
  // The link's words for a failure of its own (AStatus.Step says where).
  virtual std::string FailureText(const TLinkStatus& AStatus) const = 0;

  TLinkInput FInput;

 private:
  std::string_view FSource;
  TLinkPolicy FPolicy;
};

// One line of the byte log: the arrow ("-> " sent, "<- " received), then each
// byte as two hex digits and a space; llInfo for a step that succeeded,
// llError for one that failed. Nothing is formatted while the log is off,
// and a host call's dumps share the log's budget (WriteLogDump).
void LogLinkBytes(std::string_view ASource, std::string_view AArrow, std::string_view ABytes,
                  bool ASucceeded);
