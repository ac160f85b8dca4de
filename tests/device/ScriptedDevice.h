// A TDevice whose register is a script: every command is framed with the real
// BuildPacket and goes through the real exchange over a link in memory, which
// records it and answers with the next scripted answer, so the answer runs
// through the same checks the links use. The links themselves are tested
// against real peers in tests/transport.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "device/uDevice.h"
#include "support/ErrorOf.h"
#include "support/MemoryLink.h"

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

class TScriptedLink : public TMemoryLink {
 public:
  TScriptedLink() : TMemoryLink("TScriptedDevice") {}

  std::vector<TSentCommand> Sent;
  std::deque<TScriptedAnswer> Answers;
  // Runs as each command reaches the register (a register that takes its
  // time moves a test clock on).
  std::function<void()> OnCommand;

  // The exchange asks for the waits of each command with its time limit.
  TLinkWaits Waits(int ATimeout) const override {
    FTimeout = ATimeout;
    return TMemoryLink::Waits(ATimeout);
  }
  TLinkStatus Send(std::string_view AFrame) override {
    if (OnCommand) OnCommand();
    TScriptedAnswer answer;
    if (!Answers.empty()) {
      answer = Answers.front();
      Answers.pop_front();
    }
    Sent.push_back({CommandOf(AFrame), ArgumentsOf(AFrame), FTimeout, std::string(AFrame)});
    if (!answer.LinkFailure.empty()) {
      FFailure = answer.LinkFailure;
      return TLinkStatus::Failed(TLinkFault::lfNotOpen);
    }
    std::string data;
    for (const std::string& field : answer.Fields) data += field + FrameCodec::FS;
    Queue(AnswerTo(AFrame, answer.Error, data));
    return TLinkStatus::Done();
  }

 protected:
  void Receive(std::string_view) override {}
  std::string FailureText(const TLinkStatus&) const override { return FFailure; }

 private:
  mutable int FTimeout = 0;
  std::string FFailure;
};

class TScriptedDevice : public TDevice {
 private:
  TScriptedLink FScript;

 public:
  TScriptedDevice() { SetLink(FScript); }

  std::vector<TSentCommand>& Sent = FScript.Sent;
  std::deque<TScriptedAnswer>& Answers = FScript.Answers;
  std::function<void()>& OnCommand = FScript.OnCommand;

  void Answer(std::vector<std::string> AFields, std::string AError = "00") {
    Answers.push_back({std::move(AError), std::move(AFields), {}});
  }
  void Fail(std::string AText) { Answers.push_back({"00", {}, std::move(AText)}); }

  // Test access to the protected state.
  void SetPacketID(uint8_t AValue) { FPacketID = AValue; }
  void SetData(std::vector<std::string> AData) { FData = std::move(AData); }
  void SetCommand(std::string ACmd) { FCommand = std::move(ACmd); }
};
