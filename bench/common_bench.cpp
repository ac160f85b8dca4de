#include <benchmark/benchmark.h>

#include <string>

#include "common/uCommonUtils.h"

// The links dump every frame as hex and every text crosses a code page, so
// these run on each command.
static void BM_BytesToHexFrame(benchmark::State& state) {
  const std::string frame(static_cast<size_t>(state.range(0)), '\x1C');
  for (auto _ : state) benchmark::DoNotOptimize(BytesToHex(frame, " "));
}
BENCHMARK(BM_BytesToHexFrame)->Arg(64)->Arg(4096);

static void BM_Utf8ToOem(benchmark::State& state) {
  const std::string text = "Молоко 3,2% 1 л x 2 = 179.80 ";
  for (auto _ : state) benchmark::DoNotOptimize(Utf8ToOem(text));
}
BENCHMARK(BM_Utf8ToOem);

static void BM_Base64Decode(benchmark::State& state) {
  const std::string code = Base64Encode(std::string(120, 'K'));
  for (auto _ : state) benchmark::DoNotOptimize(Base64Decode(code));
}
BENCHMARK(BM_Base64Decode);
