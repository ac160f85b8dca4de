// A link with nothing behind it: every frame is answered at once with the
// frame's identifier and command, no error and a data part chosen by
// AnswerData; every probe is acknowledged. The time a command takes over it
// is the driver's own.
#pragma once

#include <string>
#include <string_view>

#include "tests/support/MemoryLink.h"

class TNullLink : public TMemoryLink {
 public:
  explicit TNullLink(std::string AData = {}) : TMemoryLink("TNullLink"), FData(std::move(AData)) {}
  size_t Frames = 0;

 protected:
  // The answer's data part (its fields, each ended by FS) for a command with
  // these arguments.
  virtual std::string AnswerData(std::string_view /*ACommand*/, std::string_view /*AArgs*/) {
    return FData;
  }

  void Receive(std::string_view AFrame) override {
    if (AFrame.size() == 1) {
      Queue(std::string(1, FrameCodec::ACK));
      return;
    }
    ++Frames;
    Queue(AnswerTo(AFrame, "00", AnswerData(CommandOf(AFrame), ArgumentPart(AFrame))));
  }

 private:
  std::string FData;
};
