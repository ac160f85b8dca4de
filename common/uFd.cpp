#include "common/uFd.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/uClock.h"

void TFd::Reset(int AFd) noexcept {
  if (FFd >= 0 && FFd != AFd) {
    int saved = errno;
    ::close(FFd);
    errno = saved;
  }
  FFd = AFd;
}

std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::milliseconds ALimit) {
  return Clock().SteadyNow() + std::max(ALimit, std::chrono::milliseconds(0));
}

TWaitResult WaitFd(int AFd, short AEvents, std::chrono::steady_clock::time_point ADeadline) {
  using namespace std::chrono;
  const bool unlimited = ADeadline == steady_clock::time_point::max();
  for (;;) {
    int ms = -1;
    if (!unlimited) {
      auto left = ceil<milliseconds>(ADeadline - Clock().SteadyNow()).count();
      ms = static_cast<int>(std::clamp<long long>(left, 0, 24LL * 3600 * 1000));
    }
    pollfd p{AFd, AEvents, 0};
    int r = ::poll(&p, 1, ms);
    if (r > 0) {
      if (p.revents & POLLNVAL) {
        errno = EBADF;
        return TWaitResult::wrFailed;
      }
      // What was there before the limit ran out is in time; what came while
      // waiting is late when the clock has passed the limit meanwhile.
      if (ms > 0 && Clock().SteadyNow() > ADeadline) return TWaitResult::wrTimedOut;
      return TWaitResult::wrReady;
    }
    if (r == 0) return TWaitResult::wrTimedOut;
    if (errno != EINTR) return TWaitResult::wrFailed;
  }
}
