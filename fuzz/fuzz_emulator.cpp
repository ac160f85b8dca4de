// The virtual register faces whatever a client sends: raw bytes on the link,
// and, behind a valid frame, any command with any arguments. Neither may
// crash it or make it grow without bound.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "register/uEmuRegister.h"
#include "wire/uEmuLinkSession.h"

namespace {

// Input lines are commands: two characters of code, then FS-separated arguments.
void RunCommands(TEmuRegister& reg, std::string_view input) {
  size_t start = 0;
  while (start < input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(start, end - start);
    start = end + 1;
    if (line.size() < 2) continue;
    std::vector<std::string> args;
    if (line.size() > 2) {
      size_t from = 2;
      for (size_t i = 2; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == '\x1C') {
          args.emplace_back(line.substr(from, i - from));
          from = i + 1;
        }
      }
    }
    (void)reg.Execute(std::string(line.substr(0, 2)), args);
  }
}

void RunWire(TEmuRegister& reg, std::string_view input) {
  std::mutex lock;
  TEmuFaultPlan faults;
  TEmuWireCounters counters;
  TEmuLinkSession session(reg, lock, faults, TEmuWireSettings{}, counters, "fuzz",
                          [](std::string_view) {});
  while (!input.empty()) {
    TEmuOutput out;
    bool replied = false;
    const size_t used = session.Consume(input, out, replied);
    if (used == 0 || used > input.size()) break;
    input.remove_prefix(used);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  TEmuRegisterOptions options;
  options.FfdVersion = (data[0] & 3) == 0 ? "1.05" : (data[0] & 3) == 1 ? "1.1" : "1.2";
  TEmuRegister reg(options);
  if (data[0] & 0x80) {
    RunWire(reg, input);
  } else {
    RunCommands(reg, input);
  }
  return 0;
}
