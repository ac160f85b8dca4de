#include "wire/uEmuLinkSession.h"

#include <cstdio>
#include <exception>

#include "common/uCommonUtils.h"
#include "wire/uEmuCodePage.h"

using namespace emu_bytes;

namespace {
std::string Hex(std::string_view bytes) {
  return BytesToHex(bytes, " ");
}

// The request as a person reads it in the log: command and arguments.
std::string Describe(const TEmuRequest& r) {
  char id[8];
  std::snprintf(id, sizeof id, "%02X", r.PacketId);
  std::string text = "id " + std::string(id) + " command " + r.Command;
  for (const std::string& a : r.Args) text += " [" + EmuOemToUtf8(a) + "]";
  return text;
}
}  // namespace

TEmuLinkSession::TEmuLinkSession(TEmuCommandHandler& handler, std::mutex& handlerLock,
                                 TEmuFaultPlan& faults, const TEmuWireSettings& settings,
                                 TEmuWireCounters& counters, std::string name, TEmuLogSink log)
    : FHandler(handler),
      FHandlerLock(handlerLock),
      FFaults(faults),
      FSettings(settings),
      FCounters(counters),
      FName(std::move(name)),
      FLog(std::move(log)),
      FParser(settings.MaxFrameBody) {}

void TEmuLinkSession::Reset() {
  FParser.Reset();
  FParser.TakeIgnoredBytes();
  FParser.TakeAbandonedFrames();
  FHasLast = false;
  FLastBody.clear();
  FLastAnswer = {};
}

void TEmuLinkSession::Log(const std::string& text) const {
  if (FLog && FSettings.Verbose) FLog(FName + ": " + text);
}

void TEmuLinkSession::ReportNoise() {
  if (size_t n = FParser.TakeIgnoredBytes()) {
    FCounters.IgnoredBytes += n;
    Log("ignored " + std::to_string(n) + " byte(s) outside a frame");
  }
  if (size_t n = FParser.TakeAbandonedFrames()) {
    FCounters.AbandonedFrames += n;
    Log("dropped " + std::to_string(n) + " unfinished frame(s)");
  }
}

size_t TEmuLinkSession::Consume(std::string_view input, TEmuOutput& out, bool& replied) {
  replied = false;
  size_t used = 0;
  while (used < input.size()) {
    TEmuInput in = FParser.Feed(input[used++]);
    if (in.Kind == TEmuInputKind::None) continue;
    ReportNoise();
    out = {};
    Handle(in, out);
    replied = true;
    return used;
  }
  ReportNoise();
  return used;
}

void TEmuLinkSession::Handle(TEmuInput& in, TEmuOutput& out) {
  switch (in.Kind) {
    case TEmuInputKind::None:
      return;
    case TEmuInputKind::Probe:
      ++FCounters.Probes;
      // A client probes when it opens the link (and over TCP before each
      // command), never between the resends of one frame. On the pty a new
      // client starts its packet ids afresh and is not told apart otherwise:
      // its first frame may equal the last one of the client before.
      FHasLast = false;
      if (FFaults.TakeProbeNak()) {
        Log("probe -> NAK (fault)");
        out.Bytes = std::string(1, NAK);
      } else {
        out.Bytes = std::string(1, ACK);
      }
      return;
    case TEmuInputKind::BadChecksum:
      // A damaged frame is not answered with a frame: its id and command may
      // be damaged too. NAK makes the client send it again.
      ++FCounters.BadChecksums;
      Log("checksum error, NAK: " + Hex(in.Body));
      out.Bytes = std::string(1, NAK);
      return;
    case TEmuInputKind::Malformed:
      ++FCounters.Malformed;
      Log("frame too short for its header, NAK: " + Hex(in.Body));
      out.Bytes = std::string(1, NAK);
      return;
    case TEmuInputKind::Overlong: {
      ++FCounters.Overlong;
      TEmuRequest head = EmuSplitRequest(in.Body);
      Log("frame longer than " + std::to_string(FSettings.MaxFrameBody) +
          " bytes, answered with error 04: " + Describe(head));
      Send(head.PacketId, head.Command, TEmuAnswer{kEmuErrorBufferOverflow, {}}, out);
      return;
    }
    case TEmuInputKind::Request:
      ++FCounters.Requests;
      HandleRequest(EmuSplitRequest(in.Body), out);
      return;
  }
}

void TEmuLinkSession::HandleRequest(const TEmuRequest& request, TEmuOutput& out) {
  if (request.Password != FSettings.Password) {
    // The frame arrived intact, so its id and command can be echoed; a resend
    // would not help, the client must learn that the password is wrong.
    ++FCounters.BadPasswords;
    Log("wrong password, error 06: " + Describe(request));
    Send(request.PacketId, request.Command, TEmuAnswer{kEmuErrorBadPassword, {}}, out);
    return;
  }
  if (FHasLast && request.Body == FLastBody) {
    // The client resends a frame when the start of our answer did not reach
    // it; the command already ran, so only its answer is repeated.
    ++FCounters.Replayed;
    Log("resent frame, answer repeated without executing: " + Describe(request));
    Send(request.PacketId, request.Command, FLastAnswer, out);
    return;
  }
  Log("request " + Describe(request));
  TEmuAnswer answer = Execute(request);
  FHasLast = true;
  FLastBody = request.Body;
  FLastAnswer = answer;
  Send(request.PacketId, request.Command, answer, out);
}

TEmuAnswer TEmuLinkSession::Execute(const TEmuRequest& request) {
  if (auto fault = FFaults.TakeCommandFault(request.Command)) {
    Log("command " + request.Command + " refused with error " + std::to_string(fault->Error) +
        " (fault)");
    FFaults.SetPendingExtendedCode(fault->ExtendedCode);
    return TEmuAnswer{fault->Error, {}};
  }
  const bool extendedQuery = request.Command == "06";
  std::optional<int64_t> pending = extendedQuery ? FFaults.PendingExtendedCode() : std::nullopt;
  TEmuAnswer answer;
  try {
    std::lock_guard lock(FHandlerLock);
    answer = FHandler.Execute(request.Command, request.Args);
    ++FCounters.Executed;
  } catch (const std::exception& e) {
    // A fault of the emulator itself: say so loudly, keep serving.
    if (FLog)
      FLog(FName + ": command " + request.Command + " failed inside the register: " + e.what());
    answer = TEmuAnswer{kEmuErrorBadParameter, {}};
  }
  if (pending) {
    // The refusal was injected on the wire, so the register does not know
    // its extended code; report it in field 1 where the client reads it.
    if (answer.Error != 0) answer = TEmuAnswer{0, {request.Args.empty() ? "" : request.Args[0]}};
    if (answer.Fields.size() < 2) answer.Fields.resize(2);
    answer.Fields[1] = std::to_string(*pending);
  } else if (!extendedQuery) {
    FFaults.SetPendingExtendedCode(std::nullopt);
  }
  return answer;
}

void TEmuLinkSession::Send(uint8_t packetId, const std::string& command, const TEmuAnswer& answer,
                           TEmuOutput& out) {
  TEmuAnswerFate fate = FFaults.TakeAnswerFate();
  uint8_t id = packetId;
  if (fate.WrongPacketId) id = packetId >= 0xF0 || packetId < 0x20 ? 0x20 : packetId + 1;
  std::string frame = EmuBuildAnswerFrame(id, command, answer);
  if (fate.CorruptChecksum) {
    uint8_t wrong =
        static_cast<uint8_t>(EmuXor(std::string_view(frame).substr(1, frame.size() - 3)) + 1);
    frame.replace(frame.size() - 2, 2, EmuChecksumText(std::string(1, static_cast<char>(wrong))));
  }
  out.Delay = fate.Delay;
  if (fate.Drop) {
    Log("answer dropped (fault): " + Hex(frame));
    return;
  }
  if (fate.NakAfterExecute) {
    Log("answer replaced by NAK (fault): " + Hex(frame));
    out.Bytes = std::string(1, NAK);
    return;
  }
  if (fate.CloseMidAnswer) {
    out.Bytes = frame.substr(0, frame.size() / 2);
    out.CloseAfter = true;
    Log("answer cut after " + std::to_string(out.Bytes.size()) + " byte(s), closing (fault)");
    return;
  }
  if (fate.CorruptChecksum) Log("checksum corrupted (fault)");
  if (fate.WrongPacketId) Log("packet id changed (fault)");
  if (fate.Delay.count() > 0)
    Log("answer delayed " + std::to_string(fate.Delay.count()) + " ms (fault)");
  Log("answer " + Hex(frame));
  out.Bytes = std::move(frame);
}
