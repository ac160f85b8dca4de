// The CPU one command costs the driver, without any wire: the frame, the
// exchange loop and the answer's checks and fields, over a link that answers
// at once from memory.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/NullLink.h"

namespace {

void BM_CommandCpuStatus(benchmark::State& state) {
  TLinkedDevice<TNullLink> device(
      "0\x1C"
      "4\x1C"
      "0\x1C");
  uint8_t fatal = 0, document = 0;
  uint16_t current = 0;
  for (auto _ : state) device.GetECRStatus(fatal, current, document);
}
BENCHMARK(BM_CommandCpuStatus);

void BM_CommandCpuRegisterItem(benchmark::State& state) {
  TLinkedDevice<TNullLink> device;
  TConnectionSettings settings;
  settings.FFFDVersion = ffd12;
  device.UseSettings(settings);
  for (auto _ : state)
    device.RegisterItem("Молоко 3,2% 1 л", "4607001234567", 1, 2.0, 899000, 1, 0, 4, 1, "", "", 0,
                        0);
}
BENCHMARK(BM_CommandCpuRegisterItem);

void BM_FrameBuild(benchmark::State& state) {
  TDevice device;
  const TDeviceArgs args = {TDevice::ToDeviceText("Молоко 3,2% 1 л"),
                            "",
                            "1",
                            "2",
                            "89.9",
                            "1",
                            "4",
                            "1",
                            "",
                            "",
                            "0",
                            ""};
  for (auto _ : state) benchmark::DoNotOptimize(device.BuildPacket("42", args));
}
BENCHMARK(BM_FrameBuild);

// An answer of ten fields checked and split.
void BM_CommandCpuTenFields(benchmark::State& state) {
  std::string data;
  for (int i = 0; i < 10; ++i) data += "field" + std::to_string(i) + "\x1C";
  TLinkedDevice<TNullLink> device(data);
  for (auto _ : state) benchmark::DoNotOptimize(device.GetECRInfo(1));
}
BENCHMARK(BM_CommandCpuTenFields);

}  // namespace
