// TDeviceExchange: the one loop that carries a command over a register link,
// the same for the serial line, TCP and a link in memory. It probes the
// link (ENQ until ACK, as often and as far apart as the link's policy says),
// sends a frame (the same one up to 11 times, the link's resend pause apart,
// while the first byte that comes back is not STX), collects the answer with
// TAnswerParser under the link's waits and the answer's overall limit, and
// checks its frame. Every byte is logged with the link's source.
//
// It reports with TLinkStatus and raises nothing; after a failure that may
// leave bytes of the broken exchange in the stream it has told the link so
// (OutOfStep). One exchange lives for one command or one probe; what outlasts
// it (input not yet taken) is the link's.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/uFrameCodec.h"
#include "device/uRegisterLink.h"

class TDeviceExchange {
 public:
  static constexpr int cSendAttempts = 11;

  explicit TDeviceExchange(TRegisterLink& ALink);

  // ENQ until ACK. A byte other than ACK at the last try is lfProtocol; a
  // failed send or receive at the last try is that failure.
  TLinkStatus Probe();
  // The bytes that came back to the last probe's attempts, in order.
  const std::string& ProbeAnswers() const { return FProbeAnswers; }

  // One command: the link's preparation (and its probe, where the link asks
  // for one), AFrame out, its answer in and checked against the request's
  // packet identifier and command. The answer as a whole must come within
  // the link's answer limit for ATimeout from its first byte, or the link's
  // waits end it. On success Answer() holds it.
  TLinkStatus Transact(std::string_view AFrame, uint8_t APacketID, std::string_view ACommand,
                       int ATimeout);
  // The answer of a successful Transact, from the packet identifier up to and
  // including ETX.
  const std::string& Answer() const { return FParser.Body(); }

  // Collects ACount bytes into AOut (which may already hold some): what the
  // link holds, then what arrives until ADeadline, and once a byte has come
  // at most AGap from the read that brought the last one (negative: no own
  // bound). Done once AOut holds ACount bytes; otherwise why no more came,
  // with what did come in AOut.
  TLinkStatus Receive(size_t ACount, std::string& AOut,
                      std::chrono::steady_clock::time_point ADeadline,
                      std::chrono::milliseconds AGap);

 private:
  // Reads into the link's input, waiting until ADeadline for anything to
  // come: done with at least one new byte (of at most AMax), or why none came.
  TLinkStatus ReceiveInput(std::chrono::steady_clock::time_point ADeadline,
                           size_t AMax = cReadChunk);
  TLinkStatus SendFrame(std::string_view AFrame, const TLinkWaits& AWaits,
                        const TLinkPolicy& APolicy);
  TLinkStatus ReceiveBody(const TLinkWaits& AWaits,
                          std::chrono::steady_clock::time_point ADeadline);
  TLinkStatus ReceiveChecksum(const TLinkWaits& AWaits, const TLinkPolicy& APolicy,
                              std::chrono::steady_clock::time_point ADeadline);
  // AStatus as the failure of AStep, after telling the link the stream is
  // out of step.
  TLinkStatus OutOfStep(const TLinkStatus& AStatus, TLinkStep AStep);
  void Log(std::string_view AArrow, std::string_view ABytes, bool ASucceeded) const;

  // One read takes at most this much of what has arrived.
  static constexpr size_t cReadChunk = 4096;

  TRegisterLink& FLink;
  TAnswerParser FParser;
  std::string FProbeAnswers;
  // When the read that brought the last input began (bytes the link held
  // already count as come when the answer started). The waits between the
  // bytes of an answer run from there, so a pause of the register counts in
  // full however late this side gets to its next read.
  std::chrono::steady_clock::time_point FLastInputAt{};
};
