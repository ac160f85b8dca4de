// One link's conversation as the register holds it: probes, request frames,
// their validation, execution through the command handler, the memory of the
// last answer that makes resends safe, and the faults applied to answers.
// It sees bytes only; TEmuServer moves them over TCP or a pseudo-terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "wire/uEmuCommandHandler.h"
#include "wire/uEmuFaults.h"
#include "wire/uEmuFrame.h"

using TEmuLogSink = std::function<void(std::string_view)>;

// Error bytes the link itself answers with.
inline constexpr uint8_t kEmuErrorBadParameter = 0x03;
inline constexpr uint8_t kEmuErrorBufferOverflow = 0x04;
inline constexpr uint8_t kEmuErrorBadPassword = 0x06;

struct TEmuWireSettings {
  std::string Password = "KVNT";
  // Longest request body (password to last argument) that is accepted.
  size_t MaxFrameBody = 8192;
  // Log every probe, frame and fault; without it only faults of the
  // emulator itself are logged.
  bool Verbose = false;
};

// Counters over all links of a server, readable from any thread.
struct TEmuWireCounters {
  std::atomic<uint64_t> Probes{0}, Requests{0}, Executed{0}, Replayed{0}, BadChecksums{0},
      BadPasswords{0}, Malformed{0}, Overlong{0}, IgnoredBytes{0}, AbandonedFrames{0},
      ClientsAccepted{0};
};

// What the link must send next.
struct TEmuOutput {
  std::string Bytes;
  std::chrono::milliseconds Delay{0};
  // After the bytes: close the connection (TCP) or drop the link's input (pty).
  bool CloseAfter = false;
};

class TEmuLinkSession {
 public:
  TEmuLinkSession(TEmuCommandHandler& handler, std::mutex& handlerLock, TEmuFaultPlan& faults,
                  const TEmuWireSettings& settings, TEmuWireCounters& counters, std::string name,
                  TEmuLogSink log);

  // Consumes input up to and including the first byte that calls for a
  // reply, which is then in `out` (empty Bytes when the reply is dropped).
  // Returns the number of bytes consumed; `replied` tells whether a reply was
  // produced. The register is half duplex: the caller sends the reply before
  // it offers the rest of the input.
  size_t Consume(std::string_view input, TEmuOutput& out, bool& replied);

  // A new client on this link: forget partial frames and the last answer.
  void Reset();

 private:
  void Handle(TEmuInput& in, TEmuOutput& out);
  void HandleRequest(const TEmuRequest& request, TEmuOutput& out);
  TEmuAnswer Execute(const TEmuRequest& request);
  void Send(uint8_t packetId, const std::string& command, const TEmuAnswer& answer,
            TEmuOutput& out);
  void ReportNoise();
  void Log(const std::string& text) const;

  TEmuCommandHandler& FHandler;
  std::mutex& FHandlerLock;
  TEmuFaultPlan& FFaults;
  TEmuWireSettings FSettings;
  TEmuWireCounters& FCounters;
  std::string FName;
  TEmuLogSink FLog;
  TEmuFrameParser FParser;

  // The last executed request (its whole body) and the answer it got.
  bool FHasLast = false;
  std::string FLastBody;
  TEmuAnswer FLastAnswer;
};
