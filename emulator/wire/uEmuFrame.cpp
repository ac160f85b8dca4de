#include "wire/uEmuFrame.h"

#include <cstdio>

using namespace emu_bytes;

uint8_t EmuXor(std::string_view bytes) {
  uint8_t x = 0;
  for (char c : bytes) x ^= static_cast<uint8_t>(c);
  return x;
}

std::string EmuChecksumText(std::string_view bytes) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", EmuXor(bytes));
  return std::string(text, 2);
}

TEmuRequest EmuSplitRequest(std::string_view body) {
  TEmuRequest r;
  r.Body = std::string(body);
  r.Password = std::string(body.substr(0, 4));
  r.PacketId = static_cast<uint8_t>(body[4]);
  r.Command = std::string(body.substr(5, 2));
  std::string_view rest = body.substr(kEmuRequestHeaderSize);
  if (!rest.empty()) {
    size_t start = 0;
    for (;;) {
      size_t fs = rest.find(FS, start);
      if (fs == std::string_view::npos) {
        r.Args.emplace_back(rest.substr(start));
        break;
      }
      r.Args.emplace_back(rest.substr(start, fs - start));
      start = fs + 1;
    }
  }
  return r;
}

std::string EmuBuildAnswerFrame(uint8_t packetId, std::string_view command,
                                const TEmuAnswer& answer) {
  char error[3];
  std::snprintf(error, sizeof error, "%02X", answer.Error);
  std::string frame(1, STX);
  frame += static_cast<char>(packetId);
  frame += command;
  frame.append(error, 2);
  for (const std::string& field : answer.Fields) {
    frame += field;
    frame += FS;
  }
  frame += ETX;
  frame += EmuChecksumText(std::string_view(frame).substr(1));
  return frame;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

TEmuFrameParser::TEmuFrameParser(size_t maxBody)
    : FMaxBody(maxBody < kEmuRequestHeaderSize ? kEmuRequestHeaderSize : maxBody) {}

void TEmuFrameParser::Reset() {
  FState = sIdle;
  FOverlong = false;
  FBody.clear();
  FXor = 0;
}

size_t TEmuFrameParser::TakeIgnoredBytes() {
  size_t n = FIgnored;
  FIgnored = 0;
  return n;
}

size_t TEmuFrameParser::TakeAbandonedFrames() {
  size_t n = FAbandoned;
  FAbandoned = 0;
  return n;
}

void TEmuFrameParser::Abandon() {
  if (FState != sIdle) ++FAbandoned;
  Reset();
}

TEmuInput TEmuFrameParser::Feed(char byte) {
  if (byte == STX) {
    Abandon();
    FState = sBody;
    return {};
  }
  if (byte == ENQ) {
    Abandon();
    return {TEmuInputKind::Probe, {}};
  }
  switch (FState) {
    case sIdle:
      ++FIgnored;
      return {};
    case sBody:
    case sSkip:
      FXor ^= static_cast<uint8_t>(byte);
      if (byte == ETX) {
        FState = sCheck1;
      } else if (FState == sBody) {
        if (FBody.size() < FMaxBody) {
          FBody += byte;
        } else {
          // Keep only the header, enough to answer; drop the rest as it comes.
          FBody.resize(kEmuRequestHeaderSize);
          FOverlong = true;
          FState = sSkip;
        }
      }
      return {};
    case sCheck1:
      FCheck[0] = byte;
      FState = sCheck2;
      return {};
    case sCheck2:
      FCheck[1] = byte;
      return Finish();
  }
  return {};
}

TEmuInput TEmuFrameParser::Finish() {
  TEmuInput in;
  int hi = HexDigit(FCheck[0]);
  int lo = HexDigit(FCheck[1]);
  if (FOverlong) {
    // The checksum of a frame we could not hold says nothing useful; the
    // header is answered with a buffer overflow whatever it is.
    in.Kind = TEmuInputKind::Overlong;
  } else if (hi < 0 || lo < 0 || ((hi << 4) | lo) != FXor) {
    in.Kind = TEmuInputKind::BadChecksum;
  } else if (FBody.size() < kEmuRequestHeaderSize) {
    in.Kind = TEmuInputKind::Malformed;
  } else {
    in.Kind = TEmuInputKind::Request;
  }
  in.Body = std::move(FBody);
  Reset();
  return in;
}
