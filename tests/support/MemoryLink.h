// A register link in memory, for the harnesses that drive TDevice's exchange
// without a wire (benchmarks, fuzz targets): what the register sends back is
// queued by the derived class when a frame goes out and handed to the
// exchange at once, all of it or a piece a read. Once the queue is used up
// the link behaves as one whose register went quiet, so nothing waits.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "device/uDevice.h"

class TMemoryLink : public TDevice {
 public:
  // ASource: the link's name in the log. APiece: how many queued bytes one
  // read hands over at the most.
  explicit TMemoryLink(std::string_view ASource, size_t APiece = std::string::npos)
      : FSource(ASource), FPiece(APiece) {}
  void Enable() override { CheckConnection(); }

 protected:
  // The register's side: what it makes of ABytes, queued with Queue.
  virtual void Receive(std::string_view ABytes) = 0;
  void Queue(std::string_view ABytes) { FQueued += ABytes; }

  std::string_view LinkSource() const override { return FSource; }
  // Nothing ever waits on a link in memory; the limits only have to be
  // long enough never to run out in between.
  TLinkWaits LinkWaits(int) const override {
    const std::chrono::hours hour(1);
    return {hour, hour, hour, hour, hour};
  }
  TLinkPolicy LinkPolicy() const override { return {1, {}, {}, true}; }
  TLinkStatus LinkSend(std::string_view ABytes) override {
    Receive(ABytes);
    return TLinkStatus::Done();
  }
  TLinkStatus LinkReadNow() override {
    const size_t n = std::min(FPiece, FQueued.size() - FAt);
    FQueued.copy(FInput.Space(n), n, FAt);
    FInput.Commit(n);
    FAt += n;
    if (FAt == FQueued.size()) {
      FQueued.clear();
      FAt = 0;
    }
    return TLinkStatus::Done();
  }
  TLinkStatus LinkWaitInput(std::chrono::steady_clock::time_point) override {
    return FQueued.empty() ? TLinkStatus::Failed(TLinkFault::lfTimedOut) : TLinkStatus::Done();
  }

 private:
  std::string_view FSource;
  size_t FPiece;
  std::string FQueued;
  size_t FAt = 0;  // FQueued before it is handed over already
};
