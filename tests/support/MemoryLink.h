// A register link in memory, for the harnesses that drive the exchange
// without a wire (benchmarks, fuzz targets, the scripted register of the
// device tests): what the register sends back is queued by the derived class
// when bytes go out and handed to the exchange at once, all of it or a piece
// a read. Once the queue is used up the link behaves as one whose register
// went quiet, so nothing waits. TLinkedDevice is a register that owns such a
// link, where a device must own its link (a connection's).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "device/uDevice.h"
#include "device/uEquipmentErrors.h"

class TMemoryLink : public TRegisterLink {
 public:
  // ASource: the link's name in the log. APiece: how many queued bytes one
  // read hands over at the most.
  explicit TMemoryLink(std::string_view ASource, size_t APiece = std::string::npos,
                       const TLinkPolicy& APolicy = {1, {}, {}, true})
      : TRegisterLink(ASource, APolicy), FPiece(APiece) {}

  // Nothing ever waits on a link in memory; the limits only have to be
  // long enough never to run out in between.
  TLinkWaits Waits(int) const override {
    const std::chrono::hours hour(1);
    return {hour, hour, hour, hour, hour};
  }
  TLinkStatus BeforeCommand() override { return TLinkStatus::Done(); }
  TLinkStatus Send(std::string_view ABytes) override {
    Receive(ABytes);
    return TLinkStatus::Done();
  }
  TLinkStatus ReadNow(size_t AMax) override {
    const size_t n = std::min({FPiece, AMax, FQueued.size() - FAt});
    FQueued.copy(FInput.Space(n), n, FAt);
    FInput.Commit(n);
    FAt += n;
    if (FAt == FQueued.size()) {
      FQueued.clear();
      FAt = 0;
    }
    return TLinkStatus::Done();
  }
  TLinkStatus WaitInput(std::chrono::steady_clock::time_point) override {
    return FQueued.empty() ? TLinkStatus::Failed(TLinkFault::lfTimedOut) : TLinkStatus::Done();
  }
  void OutOfStep() override {}

 protected:
  // The register's side: what it makes of ABytes, queued with Queue.
  virtual void Receive(std::string_view ABytes) = 0;
  void Queue(std::string_view ABytes) { FQueued += ABytes; }

  // A request frame taken apart: STX, password (4), identifier, command (2),
  // the arguments (each FS separates two), ETX, checksum.
  static std::string CommandOf(std::string_view AFrame) { return std::string(AFrame.substr(6, 2)); }
  static std::string_view ArgumentPart(std::string_view AFrame) {
    return AFrame.substr(8, AFrame.size() - 11);
  }
  static TDeviceArgs ArgumentsOf(std::string_view AFrame) {
    const std::string_view part = ArgumentPart(AFrame);
    TDeviceArgs args;
    if (part.empty()) return args;
    size_t start = 0;
    for (size_t fs; (fs = part.find(FrameCodec::FS, start)) != std::string_view::npos;
         start = fs + 1)
      args.emplace_back(part.substr(start, fs - start));
    args.emplace_back(part.substr(start));
    return args;
  }
  // The register's answer to the request AFrame: its identifier and command,
  // the error field, the data part (fields each ended by FS), ETX, checksum.
  static std::string AnswerTo(std::string_view AFrame, std::string_view AError,
                              std::string_view AData = {}) {
    std::string body = std::string(1, AFrame[5]) + CommandOf(AFrame);
    body += AError;
    body += AData;
    body += FrameCodec::ETX;
    return FrameCodec::STX + body + FrameCodec::Checksum(body);
  }

  std::string FailureText(const TLinkStatus&) const override {
    return std::string(EquMessages::PortNotOpen);
  }

 private:
  size_t FPiece;
  std::string FQueued;
  size_t FAt = 0;  // FQueued before it is handed over already
};

// A register over a link of its own, made from AArgs.
template <typename TLink>
class TLinkedDevice : public TDevice {
 public:
  template <typename... TArgs>
  explicit TLinkedDevice(TArgs&&... AArgs) : FOwnLink(std::forward<TArgs>(AArgs)...) {
    SetLink(FOwnLink);
  }
  void Enable() override { CheckConnection(); }
  TLink& Link() { return FOwnLink; }

 private:
  TLink FOwnLink;
};
