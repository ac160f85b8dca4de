// The fixed pauses of the fiscal operations (the register needs a moment
// after closing a document before its fiscal storage answers for it, and
// after a report before its counters settle). Every such pause goes through
// OperationWait, which sleeps on Clock() (common/uClock.h), so in-process
// tests replace the sleep with a TManualClock.
//
// Test hook: tests that load the real libquarnel.so cannot reach the
// library's clock. When the environment variable QUARNEL_TEST_SKIP_WAITS is
// "1" (read once, at the first pause), OperationWait returns at once. It
// never affects link timing (probe retries, resend pauses, time limits).
#pragma once

#include <chrono>

void OperationWait(std::chrono::milliseconds ADuration);
