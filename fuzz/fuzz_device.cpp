// Register answers arrive from the wire as they come: every check must end in
// an error or in fields, and the answer parser must hold to the frame
// whatever pieces the bytes come in, never crash.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "device/uDevice.h"

namespace {

// The parser fed the bytes in pieces of APiece: it takes no byte past the
// answer and keeps the frame's shape at every stage.
void ParseInPieces(std::string_view ABytes, size_t APiece) {
  using TStage = TAnswerParser::TStage;
  TAnswerParser parser;
  while (!ABytes.empty()) {
    const std::string_view piece = ABytes.substr(0, APiece);
    const size_t taken = parser.Feed(piece);
    if (taken > piece.size()) __builtin_trap();
    ABytes.remove_prefix(taken);
    const TStage stage = parser.Stage();
    const std::string& body = parser.Body();
    if (body.size() > FrameCodec::cMaxAnswerSize || parser.Checksum().size() > 2) __builtin_trap();
    const bool ended = stage == TStage::asChecksum || stage == TStage::asComplete;
    if (ended != (!body.empty() && body.back() == FrameCodec::ETX)) __builtin_trap();
    if (stage == TStage::asNoStart || stage == TStage::asOverlong || stage == TStage::asComplete)
      break;
    if (taken < piece.size()) __builtin_trap();  // stopped while the answer goes on
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // Without a link, command 06 (asked for after error 01) fails.
  TDevice device;
  try {
    device.BuildPacket("00", {});
  } catch (const std::exception&) {
  }
  const std::string body = bytes.size() > 2 ? bytes.substr(2) : std::string();
  const std::string checksum = bytes.substr(0, 2);
  for (const std::string& candidate : {body, std::string(1, char(device.PacketID())) + body}) {
    try {
      device.CheckAnswer(candidate, checksum);
      device.CheckAnswer(candidate, TDevice::CalcChecksum(candidate));
    } catch (const std::exception&) {
    }
    for (size_t i = 0; i < device.Data().size() + 2; ++i) {
      (void)device.GetDataAsString(i);
      (void)device.GetDataAsInteger(i);
      (void)device.GetDataAsFloat(i);
      (void)device.GetDataAsDate(i);
      (void)device.GetDataAsTime(i);
    }
  }
  ParseInPieces(bytes, 1 + size % 7);
  ParseInPieces(bytes, size + 1);
  (void)TDevice::SplitFields(bytes);
  (void)TDevice::DeviceToDate(bytes);
  (void)TDevice::DeviceToTime(bytes);
  (void)TDevice::DeviceToFloat(bytes);
  (void)TDevice::ToDeviceText(bytes, size % 7);
  (void)TDevice::FromDeviceText(bytes);
  return 0;
}
