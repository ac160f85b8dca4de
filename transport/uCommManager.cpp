// The serial port on Linux: a terminal device driven by termios and poll();
// what every platform shares is in uCommManagerCommon.cpp.
#include "transport/uCommManager.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "device/uEquipmentErrors.h"
#include "transport/uSerialSpeed.h"
#include "transport/uSystemError.h"

namespace {

using std::chrono::milliseconds;
using TTimePoint = std::chrono::steady_clock::time_point;

}  // namespace

bool TComm::OpenHandle() {
  const std::string& name = FPortLookup.Device;
  // Non-blocking so that opening never waits for a carrier; every read and
  // write below is driven by poll() anyway.
  TFd fd(::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  int error = errno;
  if (fd) {
    // The port is ours alone while it is open, as an unshared handle is.
    if (!isatty(fd.Get())) {
      error = ENOTTY;
    } else if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      error = errno == EWOULDBLOCK ? EBUSY : errno;
    } else {
      // The lock keeps out only programs that ask for it; exclusive use makes
      // the kernel refuse any other open (EBUSY) while the port is ours. A
      // device that has no such mode is still used.
      (void)ioctl(fd.Get(), TIOCEXCL);
      // The driver queue sizes (32768 bytes each way) are the kernel's own here.
      FHandle = std::move(fd);
      return true;
    }
  }
  FLastSystemError = error;
  return false;
}

bool TComm::Close() {
  if (!Opened()) return true;
  StopEventWaiting();
  int dtr = TIOCM_DTR;  // a line without modem control refuses; that is fine here
  (void)ioctl(FHandle.Get(), TIOCMBIC, &dtr);
  Purge(true);
  (void)ioctl(FHandle.Get(), TIOCNXCL);  // a pty's flag would outlive our descriptor
  FHandle.Reset();                       // releases the lock as well
  return true;
}

bool TComm::Purge(bool Abort) {
  if (!EnsureOpened()) return false;
  // Nothing is ever pending asynchronously, so aborting and clearing are the same flush.
  (void)Abort;
  if (tcflush(FHandle.Get(), TCIOFLUSH) != 0) return Fail(errno);
  return true;
}

bool TComm::ApplyState() {
  if (!Opened()) return true;
  termios tio{};
  if (tcgetattr(FHandle.Get(), &tio) != 0) return Fail(errno);
  FillTermios(tio);
  bool standardRate = SetStandardSpeed(tio, BaudRateAsInt());
  if (tcsetattr(FHandle.Get(), TCSANOW, &tio) != 0) return Fail(errno);
  if (!standardRate && !SetCustomSpeed(FHandle.Get(), BaudRateAsInt())) return Fail(errno);
  // DTR and RTS as the flow-control record asks; lines without modem control
  // (pseudo-terminals, some adapters) have none to set.
  auto setLine = [this](int line, bool raise) {
    (void)ioctl(FHandle.Get(), raise ? TIOCMBIS : TIOCMBIC, &line);
  };
  if (FFlowControl.FControlDtr != dtrHandshake)
    setLine(TIOCM_DTR, FFlowControl.FControlDtr == dtrEnable);
  if (FFlowControl.FControlRts == rtsDisable || FFlowControl.FControlRts == rtsEnable)
    setLine(TIOCM_RTS, FFlowControl.FControlRts == rtsEnable);
  return true;
}

void TComm::FillTermios(termios& tio) const {
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  switch (FDataBits) {
    case 5:
      tio.c_cflag |= CS5;
      break;
    case 6:
      tio.c_cflag |= CS6;
      break;
    case 7:
      tio.c_cflag |= CS7;
      break;
    default:
      tio.c_cflag |= CS8;
      break;
  }
  switch (FParity) {
    case prNone:
      break;
    case prOdd:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case prEven:
      tio.c_cflag |= PARENB;
      break;
    case prMark:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case prSpace:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (FParity != prNone) tio.c_iflag |= INPCK;
  // termios has no 1.5 stop bits; the nearer longer setting is two.
  if (FStopBits != sbOneStopBit) tio.c_cflag |= CSTOPB;
  // CTS output flow and RTS handshake are the one hardware handshake termios knows.
  if (FFlowControl.FOutCtsFlow || FFlowControl.FControlRts == rtsHandshake) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (FFlowControl.FXonXoffOut) tio.c_iflag |= IXON;
  if (FFlowControl.FXonXoffIn) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = 0x11;
  tio.c_cc[VSTOP] = 0x13;
  // Reads are timed with poll(); the descriptor itself never waits.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
}

bool TComm::ApplyTimeouts() {
  // The limits are applied by every read and write itself.
  return EnsureOpened();
}

bool TComm::SetModemLine(TModemLine line, bool raise) {
  if (!EnsureOpened()) return false;
  int bits = line == TModemLine::mlDtr ? TIOCM_DTR : TIOCM_RTS;
  if (ioctl(FHandle.Get(), raise ? TIOCMBIS : TIOCMBIC, &bits) != 0) return Fail(errno);
  return true;
}

// ---------------------------------------------------------------------------

bool TComm::WriteWithLimits(std::string_view Data, size_t& AWritten) {
  const uint64_t limit = uint64_t(FTimeouts.WriteTotalTimeoutMultiplier) * Data.size() +
                         FTimeouts.WriteTotalTimeoutConstant;
  TTimePoint deadline = DeadlineAfter(TotalLimit(limit));
  while (AWritten < Data.size()) {
    ssize_t n = ::write(FHandle.Get(), Data.data() + AWritten, Data.size() - AWritten);
    if (n > 0) {
      AWritten += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return Fail(errno);
    TWaitResult r = WaitFd(FHandle.Get(), POLLOUT, deadline);
    if (r == TWaitResult::wrFailed) return Fail(errno);
    if (r == TWaitResult::wrTimedOut) break;
  }
  return true;
}

TLinkStatus TComm::ReadNow(char* ABuffer, size_t ASize, size_t& ARead) {
  ARead = 0;
  if (!Opened()) return Failed(kNotOpenSystemError);
  for (;;) {
    ssize_t n = ::read(FHandle.Get(), ABuffer, ASize);
    if (n > 0) {
      ARead = size_t(n);
      return TLinkStatus::Done();
    }
    if (n == 0) return TLinkStatus::Failed(TLinkFault::lfClosed);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return TLinkStatus::Done();
    return Failed(errno);
  }
}

TLinkStatus TComm::WaitInput(TTimePoint ADeadline) {
  if (!Opened()) return Failed(kNotOpenSystemError);
  const TWaitResult r = WaitFd(FHandle.Get(), POLLIN, ADeadline);
  if (r == TWaitResult::wrFailed) return Failed(errno);
  return TLinkStatus::Waited(r, 0);
}

uint32_t TComm::InQueueCount() {
  int count = 0;
  if (!Opened()) {
    Fail(kNotOpenSystemError);
    return 0;
  }
  if (ioctl(FHandle.Get(), FIONREAD, &count) != 0) {
    Fail(errno);
    return 0;
  }
  return count > 0 ? uint32_t(count) : 0;
}
