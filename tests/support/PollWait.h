// A register that stays silent, without real time running out.
//
// The links wait in poll() for as long as the process clock leaves them
// (common/uFd.h). A test that shortened a real limit to see silence end
// would race every thread that does answer in time: a register thread that
// starts late under load would look silent too. Instead the test waits until
// the driver's thread sleeps in poll(), reads the limit that poll() was given
// (so the wait the link chose is checked), moves the test clock to its end
// and interrupts the poll: the link reads the clock again and gives up, as
// it would after that much real silence.
#pragma once

#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "common/uClock.h"

namespace poll_wait {

// The limit in milliseconds of the poll() that thread ATid sleeps in (-1
// without one); nullopt when the thread is not sleeping in poll().
inline std::optional<int64_t> LimitOf(pid_t ATid) {
  std::ifstream in("/proc/self/task/" + std::to_string(ATid) + "/syscall");
  std::string call, fds, count, limit;
  if (!(in >> call >> fds >> count >> limit)) return std::nullopt;
  const uint64_t value = std::stoull(limit, nullptr, 16);
  if (call == std::to_string(SYS_poll)) return static_cast<int32_t>(value);
  if (call != std::to_string(SYS_ppoll)) return std::nullopt;
  // The thread is blocked in the call: its time limit stays put meanwhile.
  const auto* limitTime = reinterpret_cast<const timespec*>(value);
  if (limitTime == nullptr) return -1;
  return int64_t(limitTime->tv_sec) * 1000 + limitTime->tv_nsec / 1000000;
}

// Ends the poll() that thread ATid sleeps in: AClock moves on by AStep, and
// a signal whose handler does nothing interrupts the call.
inline void End(TManualClock& AClock, pid_t ATid, std::chrono::milliseconds AStep) {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    return sigaction(SIGUSR2, &action, nullptr) == 0;
  }();
  (void)installed;
  AClock.Advance(AStep);
  syscall(SYS_tgkill, getpid(), ATid, SIGUSR2);
}

// From a thread of its own: the first time thread ATid sleeps in poll() for
// exactly ALimit once AReady holds (the register has done what it does
// before it falls silent), that limit runs out on AClock. A link that waits
// any other limit is never cut short, and Ended() says so.
class TSilence {
 public:
  TSilence(
      TManualClock& AClock, pid_t ATid, std::chrono::milliseconds ALimit,
      std::function<bool()> AReady = [] { return true; })
      : FThread([this, &AClock, ATid, ALimit, AReady] {
          while (!FStop) {
            if (LimitOf(ATid) == ALimit.count() && AReady()) {
              FEnded = true;  // before the waiting thread may look
              End(AClock, ATid, ALimit);
              return;
            }
            std::this_thread::yield();
          }
        }) {}
  ~TSilence() {
    FStop = true;
    FThread.join();
  }
  TSilence(const TSilence&) = delete;
  TSilence& operator=(const TSilence&) = delete;

  bool Ended() const { return FEnded; }

 private:
  std::atomic<bool> FStop{false}, FEnded{false};
  std::thread FThread;
};

}  // namespace poll_wait
