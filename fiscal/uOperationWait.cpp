#include "fiscal/uOperationWait.h"

#include <cstdlib>
#include <string_view>

#include "common/uClock.h"

namespace {

bool SkipWaits() {
  static const bool skip = [] {
    const char* value = std::getenv("QUARNEL_TEST_SKIP_WAITS");
    return value != nullptr && std::string_view(value) == "1";
  }();
  return skip;
}

}  // namespace

void OperationWait(std::chrono::milliseconds ADuration) {
  if (SkipWaits()) return;
  Clock().Sleep(ADuration);
}
