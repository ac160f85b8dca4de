// A Windows kernel handle (a port) or socket with one owner, the Windows
// counterpart of TFd: what it holds is closed when it goes out of scope or
// is given another one. The header stays free of <windows.h>, whose macros
// would reach every layer that includes the link headers.
#pragma once

#include <cstdint>

class TWinHandle {
 public:
  // INVALID_HANDLE_VALUE
  static inline void* const cInvalid = reinterpret_cast<void*>(intptr_t(-1));

  TWinHandle() = default;
  explicit TWinHandle(void* AHandle) noexcept : FHandle(AHandle) {}
  ~TWinHandle() { Reset(); }
  TWinHandle(const TWinHandle&) = delete;
  TWinHandle& operator=(const TWinHandle&) = delete;

  void* Get() const noexcept { return FHandle; }
  bool Valid() const noexcept { return FHandle != cInvalid && FHandle != nullptr; }
  explicit operator bool() const noexcept { return Valid(); }
  // Closes what is held (the thread's last error is kept) and takes AHandle.
  void Reset(void* AHandle = cInvalid) noexcept;

 private:
  void* FHandle = cInvalid;
};

class TWinSocket {
 public:
  // INVALID_SOCKET
  static constexpr uintptr_t cInvalid = ~uintptr_t(0);

  TWinSocket() = default;
  explicit TWinSocket(uintptr_t ASocket) noexcept : FSocket(ASocket) {}
  ~TWinSocket() { Reset(); }
  TWinSocket(TWinSocket&& AOther) noexcept : FSocket(AOther.Release()) {}
  TWinSocket& operator=(TWinSocket&& AOther) noexcept {
    if (this != &AOther) Reset(AOther.Release());
    return *this;
  }
  TWinSocket(const TWinSocket&) = delete;
  TWinSocket& operator=(const TWinSocket&) = delete;

  uintptr_t Get() const noexcept { return FSocket; }
  bool Valid() const noexcept { return FSocket != cInvalid; }
  explicit operator bool() const noexcept { return Valid(); }
  uintptr_t Release() noexcept {
    uintptr_t s = FSocket;
    FSocket = cInvalid;
    return s;
  }
  // closesocket on what is held (WSAGetLastError is kept), then takes ASocket.
  void Reset(uintptr_t ASocket = cInvalid) noexcept;

 private:
  uintptr_t FSocket = cInvalid;
};
