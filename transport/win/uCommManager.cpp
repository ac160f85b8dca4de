// The serial port on Windows: \\.\COM<n> through the communications API.
//
// The line is programmed with a device control block and the time limits
// with COMMTIMEOUTS exactly as the record holds them, so a read of n bytes
// is bounded by the system itself. Reading what has arrived asks the
// receive queue first and reads only that much, and waiting for input polls
// the queue every millisecond: the port is never put into the mode that
// returns at once with whatever is there (MAXDWORD, MAXDWORD, constant),
// which not every serial implementation honours the same way. What every
// platform shares is in uCommManagerCommon.cpp.
#include <windows.h>

#include <algorithm>
#include <chrono>

#include "common/uClock.h"
#include "common/win/uWinText.h"
#include "device/uEquipmentErrors.h"
#include "transport/uCommManager.h"
#include "transport/uCommState.h"
#include "transport/uSystemError.h"

namespace {

using std::chrono::milliseconds;
using TTimePoint = std::chrono::steady_clock::time_point;

constexpr DWORD kQueueSize = 32768;
constexpr milliseconds kQueuePollPause{1};

static_assert(kDcbDtrControl[dtrDisable] == DTR_CONTROL_DISABLE &&
                  kDcbDtrControl[dtrEnable] == DTR_CONTROL_ENABLE &&
                  kDcbDtrControl[dtrHandshake] == DTR_CONTROL_HANDSHAKE,
              "DTR modes as the control block codes them");
static_assert(kDcbRtsControl[rtsDisable] == RTS_CONTROL_DISABLE &&
                  kDcbRtsControl[rtsEnable] == RTS_CONTROL_ENABLE &&
                  kDcbRtsControl[rtsHandshake] == RTS_CONTROL_HANDSHAKE &&
                  kDcbRtsControl[rtsToggle] == RTS_CONTROL_TOGGLE,
              "RTS modes as the control block codes them");
static_assert(prNone == NOPARITY && prOdd == ODDPARITY && prEven == EVENPARITY &&
                  prMark == MARKPARITY && prSpace == SPACEPARITY,
              "parities as the control block codes them");
static_assert(sbOneStopBit == ONESTOPBIT && sbOne5StopBits == ONE5STOPBITS &&
                  sbTwoStopBits == TWOSTOPBITS,
              "stop bits as the control block codes them");

}  // namespace

namespace {
int LastError() {
  return static_cast<int>(GetLastError());
}
}  // namespace

bool TComm::Fail() {
  return Fail(LastError());
}

bool TComm::OpenHandle() {
  const std::wstring name = Utf8ToWide(FPortLookup.Device);
  // Not shared: the port is ours alone while it is open. Overlapped mode is
  // stored only; every read and write here is synchronous.
  HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    FLastSystemError = static_cast<int>(GetLastError());
    return false;
  }
  FHandle.Reset(handle);
  return SetupComm(FHandle.Get(), kQueueSize, kQueueSize) || Fail();
}

bool TComm::Close() {
  if (!Opened()) return true;
  StopEventWaiting();
  // A line without modem control (a pseudo-terminal under Wine) refuses; fine here.
  (void)EscapeCommFunction(FHandle.Get(), CLRDTR);
  Purge(true);
  FHandle.Reset();
  return true;
}

bool TComm::Purge(bool Abort) {
  if (!EnsureOpened()) return false;
  DWORD flags = PURGE_TXCLEAR | PURGE_RXCLEAR;
  if (Abort) flags |= PURGE_TXABORT | PURGE_RXABORT;
  if (!PurgeComm(FHandle.Get(), flags)) return Fail();
  return true;
}

bool TComm::ApplyState() {
  if (!Opened()) return true;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(FHandle.Get(), &dcb)) return Fail();
  FillCommState(dcb, *this);
  if (!SetCommState(FHandle.Get(), &dcb)) return Fail();
  return true;
}

bool TComm::ApplyTimeouts() {
  if (!EnsureOpened()) return false;
  COMMTIMEOUTS timeouts{FTimeouts.ReadIntervalTimeout, FTimeouts.ReadTotalTimeoutMultiplier,
                        FTimeouts.ReadTotalTimeoutConstant, FTimeouts.WriteTotalTimeoutMultiplier,
                        FTimeouts.WriteTotalTimeoutConstant};
  if (!SetCommTimeouts(FHandle.Get(), &timeouts)) return Fail();
  return true;
}

bool TComm::SetModemLine(TModemLine line, bool raise) {
  if (!EnsureOpened()) return false;
  const DWORD code =
      line == TModemLine::mlDtr ? (raise ? SETDTR : CLRDTR) : (raise ? SETRTS : CLRRTS);
  if (!EscapeCommFunction(FHandle.Get(), code)) return Fail();
  return true;
}

// ---------------------------------------------------------------------------

bool TComm::WriteWithLimits(std::string_view Data, size_t& AWritten) {
  // One synchronous write, bounded by the port's write limits.
  DWORD written = 0;
  if (!WriteFile(FHandle.Get(), Data.data(), static_cast<DWORD>(Data.size()), &written, nullptr))
    return Fail();
  AWritten = written;
  return true;
}

TLinkStatus TComm::ReadNow(char* ABuffer, size_t ASize, size_t& ARead) {
  ARead = 0;  // a serial line has no end of input
  if (!Opened()) return Failed(kNotOpenSystemError);
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(FHandle.Get(), &errors, &status)) return Failed(LastError());
  const DWORD want = static_cast<DWORD>(std::min<size_t>(status.cbInQue, ASize));
  if (want == 0) return TLinkStatus::Done();
  // As many bytes as the queue holds: the read returns without waiting.
  DWORD read = 0;
  if (!ReadFile(FHandle.Get(), ABuffer, want, &read, nullptr)) return Failed(LastError());
  ARead = read;
  return TLinkStatus::Done();
}

TLinkStatus TComm::WaitInput(TTimePoint ADeadline) {
  if (!Opened()) return Failed(kNotOpenSystemError);
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(FHandle.Get(), &errors, &status)) return Failed(LastError());
    if (status.cbInQue > 0) return TLinkStatus::Done();
    if (Clock().SteadyNow() >= ADeadline) return TLinkStatus::Failed(TLinkFault::lfTimedOut);
    Clock().Sleep(kQueuePollPause);
  }
}

uint32_t TComm::InQueueCount() {
  if (!Opened()) {
    Fail(kNotOpenSystemError);
    return 0;
  }
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(FHandle.Get(), &errors, &status)) {
    Fail();
    return 0;
  }
  return status.cbInQue;
}
