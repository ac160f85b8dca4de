// The register's side of the frame format: the control bytes, the XOR
// checksum, a byte-fed parser for request frames and the answer builder.
//
// Request:  STX, password (4), packet id (1), command (2), args split by FS,
//           ETX, two hex digits of the XOR of password..ETX.
// Answer:   STX, packet id, command, error byte as two hex digits, fields
//           each ended by FS, ETX, two hex digits of the XOR of id..ETX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wire/uEmuCommandHandler.h"

namespace emu_bytes {
inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char ENQ = 0x05;
inline constexpr char ACK = 0x06;
inline constexpr char NAK = 0x15;
inline constexpr char FS = 0x1C;
}  // namespace emu_bytes

// Bytes of a request body before the arguments: password, packet id, command.
inline constexpr size_t kEmuRequestHeaderSize = 7;

// XOR of all bytes.
uint8_t EmuXor(std::string_view bytes);
// The checksum as it travels: two upper-case hex digits.
std::string EmuChecksumText(std::string_view bytes);

// A request frame taken apart. `Body` keeps the bytes between STX and ETX so
// that a resent frame can be recognised byte for byte.
struct TEmuRequest {
  std::string Body;
  std::string Password;
  uint8_t PacketId = 0;
  std::string Command;
  std::vector<std::string> Args;
};

// Splits a well-formed body (at least kEmuRequestHeaderSize bytes). An empty
// argument part gives no arguments; otherwise every FS separates two of them.
TEmuRequest EmuSplitRequest(std::string_view body);

// The answer frame for a packet id and command.
std::string EmuBuildAnswerFrame(uint8_t packetId, std::string_view command,
                                const TEmuAnswer& answer);

// What a byte of input completed.
enum class TEmuInputKind {
  None,         // nothing complete yet
  Probe,        // ENQ outside a frame (or one that abandoned a partial frame)
  Request,      // a frame with a good checksum and a full header
  BadChecksum,  // a complete frame whose checksum does not match
  Malformed,    // a complete frame with a good checksum but shorter than its header
  Overlong,     // a frame longer than the limit; only its header was kept
};

struct TEmuInput {
  TEmuInputKind Kind = TEmuInputKind::None;
  // Request: the whole body. Overlong: the first kEmuRequestHeaderSize bytes.
  // BadChecksum / Malformed: the body as received.
  std::string Body;
};

// Assembles request frames from a byte stream. Resynchronises on STX and ENQ,
// which never occur inside a well-formed request (text arguments are sent
// with control bytes replaced by blanks, the checksum is hex digits): STX
// starts a new frame and ENQ is a probe, dropping any partial frame. Memory
// is bounded by the body limit whatever arrives.
class TEmuFrameParser {
 public:
  explicit TEmuFrameParser(size_t maxBody);

  TEmuInput Feed(char byte);
  void Reset();

  // Bytes discarded outside a frame, and frames abandoned before their end,
  // since the last call (for the log).
  size_t TakeIgnoredBytes();
  size_t TakeAbandonedFrames();

 private:
  enum TState { sIdle, sBody, sSkip, sCheck1, sCheck2 };
  void Abandon();
  TEmuInput Finish();

  size_t FMaxBody;
  TState FState = sIdle;
  bool FOverlong = false;
  std::string FBody;
  uint8_t FXor = 0;
  char FCheck[2] = {0, 0};
  size_t FIgnored = 0;
  size_t FAbandoned = 0;
};
