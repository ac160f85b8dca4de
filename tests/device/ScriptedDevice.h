// A TDevice whose register is a script: every command is framed with the real
// BuildPacket, recorded, and answered by the next scripted answer, which runs
// through the same answer check the links use. The links themselves are
// tested against real peers in tests/transport.
#pragma once

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ErrorOf.h"
#include "device/uDevice.h"

struct TSentCommand {
  std::string Cmd;
  TDeviceArgs Args;
  int Timeout = 0;
  std::string Frame;
};

struct TScriptedAnswer {
  std::string Error = "00";
  std::vector<std::string> Fields;  // register bytes; none = an answer without data
  std::string LinkFailure;          // when set, the link fails with this text instead
};

class TScriptedDevice : public TDevice {
 public:
  std::vector<TSentCommand> Sent;
  std::deque<TScriptedAnswer> Answers;

  void Answer(std::vector<std::string> AFields, std::string AError = "00") {
    Answers.push_back({std::move(AError), std::move(AFields), {}});
  }
  void Fail(std::string AText) { Answers.push_back({"00", {}, std::move(AText)}); }

  void RunCommand(std::string_view ACmd, const TDeviceArgs& AData, int ATimeout) override {
    FCommand = std::string(ACmd.substr(0, 2));
    std::string frame = BuildPacket(ACmd, AData);
    Sent.push_back({FCommand, AData, ATimeout, frame});
    TScriptedAnswer answer;
    if (!Answers.empty()) {
      answer = Answers.front();
      Answers.pop_front();
    }
    if (!answer.LinkFailure.empty()) throw std::runtime_error(answer.LinkFailure);
    std::string body(1, static_cast<char>(FPacketID));
    body += FCommand + answer.Error;
    for (const std::string& f : answer.Fields) body += f + FS;
    body += ETX;
    CheckAnswer(body, CalcChecksum(body));
  }

  // Test access to the protected state.
  void SetPacketID(uint8_t AValue) { FPacketID = AValue; }
  void SetData(std::vector<std::string> AData) { FData = std::move(AData); }
  void SetCommand(std::string ACmd) { FCommand = std::move(ACmd); }
};
