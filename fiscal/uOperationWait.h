// The fixed pauses of the fiscal operations (the register needs a moment
// after closing a document before its fiscal storage answers for it, and
// after a report before its counters settle). Every such pause goes through
// OperationWait, which sleeps on Clock() (common/uClock.h), so in-process
// tests replace the sleep with a TManualClock.
//
// Test hooks: tests that load the real libquarnel.so cannot reach the
// library's clock, so two environment variables stand in for it. Each is
// read once, at its first use; unset, production timing is untouched.
// - QUARNEL_TEST_SKIP_WAITS = "1": OperationWait returns at once. It never
//   affects link timing (probe retries, resend pauses, time limits).
// - QUARNEL_TEST_LINK_LIMIT_MS = n (n > 0): every answer limit of the links
//   is capped at n ms: the wait for the first byte of an answer (or of a
//   probe's answer), the waits within an answer and for its checksum, and so
//   the serial port's read limits as the exchange applies them. A lost
//   answer then costs about n ms instead of 15 s (or 88 s for a report).
//   Probe spacing, resend pauses and the TCP connect limit stay real (see
//   TDevice::AnswerWaits in device/uDeviceExchange.cpp).
#pragma once

#include <chrono>

void OperationWait(std::chrono::milliseconds ADuration);
