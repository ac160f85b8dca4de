// The TCP link on Windows: Winsock 1.1, started by Connect and stopped by
// Disconnect or a failed Connect (never while the DLL is loading), sockets
// closed with closesocket, and every wait a select() bounded in
// milliseconds on the process clock. What every platform shares is in
// uTcpLinkCommon.cpp.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <chrono>

#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "transport/uTcpLink.h"

using std::chrono::milliseconds;

namespace {

// Waits until the socket is readable (or, with AWrite, writable) or ADeadline
// passes on Clock(). An error on the socket counts as ready: the call that
// follows reports it. Readiness seen only after the deadline is a time-out,
// as on Linux.
TWaitResult WaitSocket(SOCKET ASocket, bool AWrite,
                       std::chrono::steady_clock::time_point ADeadline) {
  const bool unlimited = ADeadline == std::chrono::steady_clock::time_point::max();
  for (;;) {
    DWORD ms = INFINITE;
    if (!unlimited) {
      const auto left = std::chrono::ceil<milliseconds>(ADeadline - Clock().SteadyNow()).count();
      ms = static_cast<DWORD>(std::clamp<long long>(left, 0, 24LL * 3600 * 1000));
    }
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(ASocket, &ready);
    FD_SET(ASocket, &failed);
    timeval limit{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
    const int r = select(0, AWrite ? nullptr : &ready, AWrite ? &ready : nullptr, &failed,
                         unlimited ? nullptr : &limit);
    if (r > 0) {
      if (ms > 0 && !unlimited && Clock().SteadyNow() > ADeadline) return TWaitResult::wrTimedOut;
      return TWaitResult::wrReady;
    }
    if (r == 0) return TWaitResult::wrTimedOut;
    if (WSAGetLastError() != WSAEINTR) return TWaitResult::wrFailed;
  }
}

}  // namespace

void TTcpLink::CloseSocket() {
  if (FSocket) shutdown(static_cast<SOCKET>(FSocket.Get()), SD_BOTH);
  FSocket.Reset();
  FInput.Clear();
}

void TTcpLink::Disconnect() {
  CloseSocket();
  if (FWinsockStarted) {
    WSACleanup();
    FWinsockStarted = false;
  }
}

TLinkStatus TTcpLink::ConnectFailed(TLinkStatus AStatus) {
  Disconnect();
  return AStatus.At(TLinkStep::lsOpen);
}

TLinkStatus TTcpLink::Connect(std::string_view AAddress, int APort) {
  FIPAddress = std::string(AAddress);
  FTCPPort = APort;
  CloseSocket();
  if (!FWinsockStarted) {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
      return TLinkStatus::Failed(TLinkFault::lfNoLibrary).At(TLinkStep::lsOpen);
    FWinsockStarted = true;
  }
  // Only the dotted form is accepted: no name lookup, and the broadcast
  // address (the parser's failure value) is no register's.
  const std::string text = Utf8ToAnsi(Trim(FIPAddress));
  const unsigned long address = inet_addr(text.c_str());
  if (address == INADDR_NONE) return ConnectFailed(TLinkStatus::Failed(TLinkFault::lfBadAddress));
  if (APort <= 0 || APort > 65535) return ConnectFailed(TLinkStatus::Failed(TLinkFault::lfBadPort));

  TWinSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!socket) return ConnectFailed(TLinkStatus::Failed(TLinkFault::lfNoSocket));
  const SOCKET s = static_cast<SOCKET>(socket.Get());
  // Ours alone, as on Linux: a child process the platform starts would
  // inherit it otherwise and keep the register's connection after ours ends.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<u_short>(APort));
  peer.sin_addr.s_addr = address;
  bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
  int error = connected ? 0 : WSAGetLastError();
  bool timedOut = false;
  if (error == WSAEWOULDBLOCK) {
    const TWaitResult wait = WaitSocket(s, true, DeadlineAfter(milliseconds(FLimits.Connect)));
    int length = sizeof error;
    if (wait == TWaitResult::wrReady) {
      if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        error = WSAGetLastError();
      connected = error == 0;
    } else {
      timedOut = wait == TWaitResult::wrTimedOut;
      error = timedOut ? WSAETIMEDOUT : WSAGetLastError();
    }
  }
  if (!connected) {
    socket.Reset();
    return ConnectFailed(timedOut ? TLinkStatus::Failed(TLinkFault::lfTimedOut)
                                  : TLinkStatus::System(error));
  }
  // Blocking again; receives wait with select() first and take only what has
  // arrived, and the send limit keeps a register that stopped reading from
  // holding a send.
  nonBlocking = 0;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  const DWORD limit = static_cast<DWORD>(FLimits.Receive);
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  FSocket = std::move(socket);
  FReconnect = false;
  return TLinkStatus::Done();
}

TLinkStatus TTcpLink::Send(std::string_view ABytes) {
  if (!FSocket) return TLinkStatus::Failed(TLinkFault::lfNotOpen);
  const SOCKET s = static_cast<SOCKET>(FSocket.Get());
  size_t sent = 0;
  while (sent < ABytes.size()) {
    const int n = ::send(s, ABytes.data() + sent, static_cast<int>(ABytes.size() - sent), 0);
    if (n > 0) {
      sent += size_t(n);
    } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) {
      continue;
    } else {
      return n == SOCKET_ERROR ? TLinkStatus::System(WSAGetLastError())
                               : TLinkStatus::Failed(TLinkFault::lfShortWrite);
    }
  }
  return TLinkStatus::Done();
}

TLinkStatus TTcpLink::ReadNow(size_t AMax) {
  if (!FSocket) return TLinkStatus::Failed(TLinkFault::lfNotOpen);
  const SOCKET s = static_cast<SOCKET>(FSocket.Get());
  // Readable now (data, or the register's end of the connection) or nothing to take.
  switch (WaitSocket(s, false, Clock().SteadyNow())) {
    case TWaitResult::wrReady:
      break;
    case TWaitResult::wrTimedOut:
      return TLinkStatus::Done();
    case TWaitResult::wrFailed:
      return TLinkStatus::System(WSAGetLastError());
  }
  for (;;) {
    char* space = FInput.Space(AMax);
    const int n = ::recv(s, space, static_cast<int>(AMax), 0);
    if (n > 0) {
      FInput.Commit(size_t(n));
      return TLinkStatus::Done();
    }
    if (n == 0) return TLinkStatus::Failed(TLinkFault::lfClosed);
    if (WSAGetLastError() == WSAEINTR) continue;
    return TLinkStatus::System(WSAGetLastError());
  }
}

TLinkStatus TTcpLink::WaitInput(std::chrono::steady_clock::time_point ADeadline) {
  if (!FSocket) return TLinkStatus::Failed(TLinkFault::lfNotOpen);
  const TWaitResult result = WaitSocket(static_cast<SOCKET>(FSocket.Get()), false, ADeadline);
  return TLinkStatus::Waited(result, WSAGetLastError());
}
