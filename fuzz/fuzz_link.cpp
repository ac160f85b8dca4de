// The register's side of an exchange as the wire may bring it: the fuzz
// input is every byte the link receives, in pieces, while TDevice probes,
// sends a command (resending while the answer does not start), collects the
// answer and checks it. Every input must end in fields or in an error with a
// message, within the resends and the answer cap, never in a crash or a hang.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "device/uDeviceExchange.h"
#include "tests/support/MemoryLink.h"

namespace {

// Delivers the input in pieces whose sizes the input's first byte sets;
// nothing more comes once it is used up. Two probe attempts.
class TFuzzLink : public TMemoryLink {
 public:
  TFuzzLink(std::string_view AInput, size_t APiece)
      : TMemoryLink("TFuzzLink", APiece, {2, {}, {}, true}) {
    Queue(AInput);
  }
  int Sends = 0;

 protected:
  void Receive(std::string_view) override { ++Sends; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  TLinkedDevice<TFuzzLink> device(
      std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), piece);
  try {
    device.CheckConnection();
    device.RunCommand("00", {}, 15000);
    (void)device.GetDataAsString(0);
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).empty()) __builtin_trap();  // every failure says what it is
  }
  // Two probes, the command's frames, and those of command 06 after an error 01.
  if (device.Link().Sends > 2 + 2 * TDeviceExchange::cSendAttempts) __builtin_trap();
  return 0;
}
