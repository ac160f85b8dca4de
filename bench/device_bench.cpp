// The CPU one command costs the driver, without any wire: the frame, the
// exchange loop and the answer's checks and fields, over a link that answers
// at once from memory.
#include <benchmark/benchmark.h>

#include <string>

#include "device/uDevice.h"

namespace {

// Answers every frame at once with an answer of the frame's identifier and
// command and the given data part; a probe with ACK.
class TNullLinkDevice : public TDevice {
 public:
  explicit TNullLinkDevice(std::string AData = {}) : FAnswerData(std::move(AData)) {}

 protected:
  std::string_view LinkSource() const override { return "TNullLink"; }
  TLinkWaits LinkWaits(int) const override {
    const std::chrono::milliseconds minute(60000);
    return {minute, minute, minute, minute};
  }
  TLinkStatus LinkSend(std::string_view ABytes) override {
    if (ABytes.size() == 1) {
      FPending.assign(1, ACK);
      return TLinkStatus::Done();
    }
    std::string body;
    body += ABytes[5];
    body.append(ABytes.substr(6, 2));
    body += "00";
    body += FAnswerData;
    body += ETX;
    FPending = STX + body + CalcChecksum(body);
    return TLinkStatus::Done();
  }
  TLinkStatus LinkReadNow() override {
    FPending.copy(FInput.Space(FPending.size()), FPending.size());
    FInput.Commit(FPending.size());
    FPending.clear();
    return TLinkStatus::Done();
  }
  TLinkStatus LinkWaitInput(std::chrono::steady_clock::time_point) override {
    return TLinkStatus::Done();
  }

 private:
  std::string FAnswerData;
  std::string FPending;
};

void BM_CommandCpuStatus(benchmark::State& state) {
  TNullLinkDevice device(
      "0\x1C"
      "4\x1C"
      "0\x1C");
  uint8_t fatal = 0, document = 0;
  uint16_t current = 0;
  for (auto _ : state) device.GetECRStatus(fatal, current, document);
}
BENCHMARK(BM_CommandCpuStatus);

void BM_CommandCpuRegisterItem(benchmark::State& state) {
  TNullLinkDevice device;
  device.SetFFDVersion(3);
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
  TNullLinkDevice device(data);
  for (auto _ : state) benchmark::DoNotOptimize(device.GetECRInfo(1));
}
BENCHMARK(BM_CommandCpuTenFields);

}  // namespace
