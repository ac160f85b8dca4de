// A file descriptor with one owner, and the one timed wait on descriptors.
//
// TFd closes what it holds when it goes out of scope or is given another
// descriptor, so no path (an early return, an exception) leaves a port, a
// socket or a file open, and a closed holder reads -1 instead of a stale
// number.
//
// WaitFd waits on the process clock (Clock()), so the serial port, the TCP
// link and the virtual register bound their waits the same way and a test
// clock bounds them all.
#pragma once

#include <chrono>

class TFd {
 public:
  TFd() = default;
  explicit TFd(int AFd) noexcept : FFd(AFd) {}
  ~TFd() { Reset(); }
  TFd(TFd&& AOther) noexcept : FFd(AOther.Release()) {}
  TFd& operator=(TFd&& AOther) noexcept {
    if (this != &AOther) Reset(AOther.Release());
    return *this;
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;

  int Get() const noexcept { return FFd; }
  bool Valid() const noexcept { return FFd >= 0; }
  explicit operator bool() const noexcept { return Valid(); }
  // Gives the descriptor up without closing it.
  int Release() noexcept {
    int fd = FFd;
    FFd = -1;
    return fd;
  }
  // Closes what is held (errno is kept) and takes AFd.
  void Reset(int AFd = -1) noexcept;

 private:
  int FFd = -1;
};

// What a wait on a descriptor came to.
enum class TWaitResult { wrReady, wrTimedOut, wrFailed };

// Waits until AFd is ready for AEvents (poll() events) or ADeadline passes on
// Clock(). wrFailed leaves errno set (EBADF for a descriptor poll() calls
// invalid). A hang-up or an error on the descriptor counts as ready: the
// read or write that follows reports it. Readiness that the clock sees only
// after the deadline is a time-out, so a peer that answers later than the
// limit fails the same way under a test clock as under the real one. A poll
// that ran its full course ends the wait even under a clock that does not
// move. The time_point's maximum waits without a limit.
TWaitResult WaitFd(int AFd, short AEvents, std::chrono::steady_clock::time_point ADeadline);

// Now on Clock() plus ALimit (a negative limit is zero).
std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::milliseconds ALimit);
