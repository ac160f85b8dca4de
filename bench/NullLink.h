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
      Queue(std::string(1, ACK));
      return;
    }
    ++Frames;
    // STX, password (4), identifier, command (2), arguments, ETX, checksum.
    const std::string_view command = AFrame.substr(6, 2);
    std::string body = std::string(1, AFrame[5]) + std::string(command) + "00";
    body += AnswerData(command, AFrame.substr(8, AFrame.size() - 11));
    body += ETX;
    Queue(STX + body + CalcChecksum(body));
  }

 private:
  std::string FData;
};
