// The register's frame format as bytes, with no I/O: the request frame a
// command goes out in, the checks an answer must pass, and TAnswerParser,
// which is fed an answer's bytes as they arrive and says when it is whole.
//
// Request: STX, password (4), packet identifier, command (2), the arguments
//          joined by FS, ETX, checksum of every byte from the password to ETX.
// Answer:  STX, packet identifier, command (2), error byte (2 hexadecimal
//          digits), fields each ended by FS (the last may end at ETX), ETX,
//          checksum of every byte from the identifier to ETX.
// A checksum is the exclusive-or of the bytes as two upper-case hexadecimal
// digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace FrameCodec {

inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char ENQ = 0x05;
inline constexpr char ACK = 0x06;
inline constexpr char FS = 0x1C;
inline constexpr size_t cPasswordSize = 4;

// An answer that has not ended with ETX after this many bytes is not an
// answer: the exchange fails instead of buffering an endless stream.
inline constexpr size_t cMaxAnswerSize = 64 * 1024;

// Exclusive-or of the bytes as two upper-case hexadecimal digits.
std::string Checksum(std::string_view ABytes);

// A byte below 0x20 would act on the frame itself (FS splits a field, ETX
// ends the frame), so no password or argument may carry one.
bool HasControlByte(std::string_view ABytes);

// The request frame. APassword is the 4 bytes the register expects and no
// argument holds a control byte: the caller refuses anything else.
std::string Request(std::string_view APassword, uint8_t APacketID, std::string_view ACommand,
                    const std::vector<std::string>& AArgs);

// What a collected answer came to, in the order the checks are made: the
// checksum first, then the length, the packet identifier and the command.
enum class TAnswerCheck : uint8_t {
  acGood,
  acBadChecksum,  // the checksum does not match (or did not come whole)
  acMalformed,    // too short, or another packet's or command's answer
};
// ABody runs from the packet identifier up to and including ETX; AChecksum
// is what came after it.
TAnswerCheck CheckAnswer(std::string_view ABody, std::string_view AChecksum, uint8_t APacketID,
                         std::string_view ACommand);

// The two error characters of a checked answer body.
std::string_view ErrorField(std::string_view ABody);
// The data part of a checked answer body: after the error field, before
// the final ETX; empty for an answer without data.
std::string_view DataPart(std::string_view ABody);

// Each separator ends a field (adjacent separators give an empty field); a
// non-empty remainder is one more field; empty input gives no field.
std::vector<std::string> SplitFields(std::string_view ABytes, char ASeparator = FS);

}  // namespace FrameCodec

// Assembles one answer from the bytes of a link as they arrive. Its first
// byte must be STX; then the body up to ETX (at most cMaxAnswerSize bytes),
// then the two checksum characters. It takes no byte past the answer, so
// what follows stays with the caller.
class TAnswerParser {
 public:
  enum class TStage : uint8_t {
    asStart,     // waiting for the first byte
    asNoStart,   // the first byte was not STX (First() holds it)
    asBody,      // STX came; the body runs until ETX
    asOverlong,  // the body reached the cap without ETX
    asChecksum,  // ETX came; the checksum is being read
    asComplete,  // both checksum characters came
  };

  // Takes bytes from the front of AInput as far as the answer goes (one byte
  // while the answer has not started) and returns how many it took.
  size_t Feed(std::string_view AInput);
  // Back to the start, for the answer to a resent frame.
  void Reset();

  TStage Stage() const { return FStage; }
  // The first byte taken; STX once the answer has started.
  char First() const { return FFirst; }
  // From the packet identifier up to ETX (included once it came).
  const std::string& Body() const { return FBody; }
  const std::string& Checksum() const { return FChecksum; }

 private:
  TStage FStage = TStage::asStart;
  char FFirst = 0;
  std::string FBody;
  std::string FChecksum;
};
