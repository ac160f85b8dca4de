// Windows: deadlines on the process clock and the owned handles; descriptors
// and poll() are not used here (see uWinHandle.h).
#include <winsock2.h>
#include <windows.h>

#include <algorithm>

#include "common/uClock.h"
#include "common/uFd.h"
#include "common/win/uWinHandle.h"

std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::milliseconds ALimit) {
  return Clock().SteadyNow() + std::max(ALimit, std::chrono::milliseconds(0));
}

void TWinHandle::Reset(void* AHandle) noexcept {
  if (Valid() && FHandle != AHandle) {
    const DWORD saved = GetLastError();
    CloseHandle(FHandle);
    SetLastError(saved);
  }
  FHandle = AHandle;
}

void TWinSocket::Reset(uintptr_t ASocket) noexcept {
  if (Valid() && FSocket != ASocket) {
    const int saved = WSAGetLastError();
    closesocket(static_cast<SOCKET>(FSocket));
    WSASetLastError(saved);
  }
  FSocket = ASocket;
}
