// Start-up of the add-in as the platform pays it: dlopen of the stripped
// library of quarnel.zip and GetClassObject. DestroyObject and dlclose are
// outside the timed part; `unloaded` says that dlclose really unmapped the
// library, so that each load starts from the file (the page cache warm).
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <stdexcept>

#include "hostbridge/v8napi.h"

namespace {

using TGetClassObject = long (*)(const WCHAR_T*, TV8ComponentBase**);
using TDestroyObject = long (*)(TV8ComponentBase**);

void BM_LoadLibraryAndCreateObject(benchmark::State& state) {
  int unloaded = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    void* library = dlopen(QUARNEL_PACKAGED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) throw std::runtime_error(dlerror());
    const auto create = reinterpret_cast<TGetClassObject>(dlsym(library, "GetClassObject"));
    TV8ComponentBase* component = nullptr;
    if (create == nullptr || create(u"quarnel", &component) != 1)
      throw std::runtime_error("GetClassObject failed");
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    reinterpret_cast<TDestroyObject>(dlsym(library, "DestroyObject"))(&component);
    dlclose(library);
    if (void* still = dlopen(QUARNEL_PACKAGED_LIBRARY, RTLD_NOW | RTLD_NOLOAD))
      dlclose(still);
    else
      ++unloaded;
  }
  state.counters["unloaded"] = benchmark::Counter(unloaded, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_LoadLibraryAndCreateObject)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
