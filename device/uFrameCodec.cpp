#include "device/uFrameCodec.h"

#include <algorithm>

namespace FrameCodec {

std::string Checksum(std::string_view ABytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  uint8_t sum = 0;
  for (char c : ABytes) sum ^= static_cast<uint8_t>(c);
  return {kHex[sum >> 4], kHex[sum & 0x0F]};
}

bool HasControlByte(std::string_view ABytes) {
  return std::any_of(ABytes.begin(), ABytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string Request(std::string_view APassword, uint8_t APacketID, std::string_view ACommand,
                    const std::vector<std::string>& AArgs) {
  std::string frame(1, STX);
  frame += APassword;
  frame += static_cast<char>(APacketID);
  frame += ACommand.substr(0, 2);
  for (size_t i = 0; i < AArgs.size(); ++i) {
    if (i > 0) frame += FS;
    frame += AArgs[i];
  }
  frame += ETX;
  frame += Checksum(std::string_view(frame).substr(1));
  return frame;
}

TAnswerCheck CheckAnswer(std::string_view ABody, std::string_view AChecksum, uint8_t APacketID,
                         std::string_view ACommand) {
  if (Checksum(ABody) != AChecksum) return TAnswerCheck::acBadChecksum;
  // Identifier, command and error take 5 bytes.
  if (ABody.size() < 5) return TAnswerCheck::acMalformed;
  if (static_cast<uint8_t>(ABody[0]) != APacketID) return TAnswerCheck::acMalformed;
  if (ABody.substr(1, 2) != ACommand.substr(0, 2)) return TAnswerCheck::acMalformed;
  return TAnswerCheck::acGood;
}

std::string_view ErrorField(std::string_view ABody) {
  return ABody.substr(3, 2);
}

std::string_view DataPart(std::string_view ABody) {
  // Identifier, command and error take 5 bytes; ETX closes the answer.
  return ABody.size() > 6 ? ABody.substr(5, ABody.size() - 6) : std::string_view();
}

std::vector<std::string> SplitFields(std::string_view ABytes, char ASeparator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t end; (end = ABytes.find(ASeparator, start)) != std::string_view::npos;
       start = end + 1)
    fields.emplace_back(ABytes.substr(start, end - start));
  if (start < ABytes.size()) fields.emplace_back(ABytes.substr(start));
  return fields;
}

}  // namespace FrameCodec

using namespace FrameCodec;

size_t TAnswerParser::Feed(std::string_view AInput) {
  size_t taken = 0;
  if (FStage == TStage::asStart && !AInput.empty()) {
    FFirst = AInput.front();
    taken = 1;
    // A stray byte (an ACK for a frame, say) is no answer; the caller
    // decides whether to send the frame again.
    FStage = FFirst == STX ? TStage::asBody : TStage::asNoStart;
  }
  if (FStage == TStage::asBody) {
    // Everything up to ETX at once, never past the cap.
    const std::string_view rest = AInput.substr(taken, cMaxAnswerSize - FBody.size());
    const size_t etx = rest.find(ETX);
    const size_t take = etx == std::string_view::npos ? rest.size() : etx + 1;
    FBody.append(rest.data(), take);
    taken += take;
    if (etx != std::string_view::npos)
      FStage = TStage::asChecksum;
    else if (FBody.size() >= cMaxAnswerSize)
      FStage = TStage::asOverlong;
  }
  if (FStage == TStage::asChecksum) {
    const size_t take = std::min(2 - FChecksum.size(), AInput.size() - taken);
    FChecksum.append(AInput.substr(taken, take));
    taken += take;
    if (FChecksum.size() == 2) FStage = TStage::asComplete;
  }
  return taken;
}

void TAnswerParser::Reset() {
  FStage = TStage::asStart;
  FFirst = 0;
  FBody.clear();
  FChecksum.clear();
}
