// What the register links share with the exchange that TDevice runs over
// them: a link's failures as values, the input buffer a link reads into, the
// cap on one answer and the byte log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/uFd.h"

// An answer that has not ended with ETX after this many bytes is not an
// answer: the exchange fails instead of buffering an endless stream.
inline constexpr size_t cMaxAnswerSize = 64 * 1024;

// How one send or receive of a link ended.
enum class TLinkFault : uint8_t {
  lfNone,        // done
  lfTimedOut,    // nothing came within the limit
  lfClosed,      // the register hung up
  lfShortWrite,  // not every byte went out
  lfNotOpen,     // there is no port or connection
  lfSystem,      // a system call failed; SystemError holds its errno
};

struct TLinkStatus {
  TLinkFault Fault = TLinkFault::lfNone;
  int SystemError = 0;

  bool Ok() const { return Fault == TLinkFault::lfNone; }
  static TLinkStatus Done() { return {}; }
  static TLinkStatus Failed(TLinkFault AFault) { return {AFault, 0}; }
  static TLinkStatus System(int AErrno) { return {TLinkFault::lfSystem, AErrno}; }
  // How a wait for input ended; ASystemError tells why a failed one failed.
  static TLinkStatus Waited(TWaitResult AResult, int ASystemError) {
    if (AResult == TWaitResult::wrReady) return Done();
    if (AResult == TWaitResult::wrTimedOut) return Failed(TLinkFault::lfTimedOut);
    return System(ASystemError);
  }
};

// The step of an exchange a failure belongs to: the links word their
// messages by it.
enum class TLinkStep : uint8_t {
  lsSend,         // a probe or a frame going out
  lsProbeAnswer,  // the byte answering a probe
  lsAnswerStart,  // the first byte of an answer
  lsAnswerBody,   // the bytes up to ETX
  lsChecksum,     // the two checksum characters
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

// One line of the byte log: the arrow ("-> " sent, "<- " received), then each
// byte as two hex digits and a space; llInfo for a step that succeeded,
// llError for one that failed. Nothing is formatted while the log is off,
// and a host call's dumps share the log's budget (WriteLogDump).
void LogLinkBytes(std::string_view ASource, std::string_view AArrow, std::string_view ABytes,
                  bool ASucceeded);
