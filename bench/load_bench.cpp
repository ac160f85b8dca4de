// Start-up of the add-in as the platform pays it: dlopen of the stripped
// library of quarnel.zip, GetClassObject, Init and setMemManager. Done,
// DestroyObject and dlclose are outside the timed part; `unloaded` says that
// dlclose really unmapped the library, so each load starts from the file.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <optional>

#include "host/uAddInHost.h"

namespace {

void BM_LoadLibraryAndCreateObject(benchmark::State& state) {
  int unloaded = 0;
  for (auto _ : state) {
    std::optional<TAddInHost> host;
    const auto start = std::chrono::steady_clock::now();
    host.emplace(QUARNEL_PACKAGED_LIBRARY);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    host.reset();
    if (dlopen(QUARNEL_PACKAGED_LIBRARY, RTLD_NOW | RTLD_NOLOAD) == nullptr) ++unloaded;
  }
  state.counters["unloaded"] = benchmark::Counter(unloaded, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_LoadLibraryAndCreateObject)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
