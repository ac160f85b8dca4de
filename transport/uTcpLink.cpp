// The TCP link on Linux: POSIX sockets, opened close-on-exec, and every wait
// a poll() on the process clock; what every platform shares is in
// uTcpLinkCommon.cpp.
#include "transport/uTcpLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "common/uCommonUtils.h"

using std::chrono::milliseconds;

void TTcpLink::CloseSocket() {
  if (FSocket) ::shutdown(FSocket.Get(), SHUT_RDWR);
  FSocket.Reset();
  FInput.Clear();
}

void TTcpLink::Disconnect() {
  CloseSocket();
}

TLinkStatus TTcpLink::ConnectFailed(TLinkStatus AStatus) {
  return AStatus.At(TLinkStep::lsOpen);
}

TLinkStatus TTcpLink::Connect(std::string_view AAddress, int APort) {
  FIPAddress = std::string(AAddress);
  FTCPPort = APort;
  CloseSocket();
  // Only the dotted form is accepted: no name lookup, and the broadcast
  // address is no register's.
  std::string text = Utf8ToAnsi(Trim(FIPAddress));
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1 || address.s_addr == INADDR_NONE)
    return ConnectFailed(TLinkStatus::Failed(TLinkFault::lfBadAddress));
  if (APort <= 0 || APort > 65535) return ConnectFailed(TLinkStatus::Failed(TLinkFault::lfBadPort));

  TFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd) return ConnectFailed(TLinkStatus::Failed(TLinkFault::lfNoSocket));
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(uint16_t(APort));
  peer.sin_addr = address;
  bool connected = ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
  int error = connected ? 0 : errno;
  bool timedOut = false;
  if (error == EINPROGRESS) {
    const TWaitResult wait =
        WaitFd(fd.Get(), POLLOUT, DeadlineAfter(milliseconds(FLimits.Connect)));
    socklen_t length = sizeof error;
    if (wait == TWaitResult::wrReady) {
      if (getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      connected = error == 0;
    } else {
      timedOut = wait == TWaitResult::wrTimedOut;
      error = timedOut ? ETIMEDOUT : errno;
    }
  }
  if (!connected)
    return ConnectFailed(timedOut ? TLinkStatus::Failed(TLinkFault::lfTimedOut)
                                  : TLinkStatus::System(error));
  // Every receive waits with poll() first and reads without blocking; the
  // send limit keeps a register that stopped reading from holding a send.
  timeval limit{FLimits.Receive / 1000, (FLimits.Receive % 1000) * 1000};
  setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  fcntl(fd.Get(), F_SETFL, fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  int one = 1;
  setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  FSocket = std::move(fd);
  FReconnect = false;
  return TLinkStatus::Done();
}

TLinkStatus TTcpLink::Send(std::string_view ABytes) {
  if (!FSocket) return TLinkStatus::Failed(TLinkFault::lfNotOpen);
  size_t sent = 0;
  while (sent < ABytes.size()) {
    // MSG_NOSIGNAL: a register that has gone away must not end the process.
    ssize_t n = ::send(FSocket.Get(), ABytes.data() + sent, ABytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 ? TLinkStatus::System(errno) : TLinkStatus::Failed(TLinkFault::lfShortWrite);
    }
  }
  return TLinkStatus::Done();
}

TLinkStatus TTcpLink::ReadNow(size_t AMax) {
  if (!FSocket) return TLinkStatus::Failed(TLinkFault::lfNotOpen);
  for (;;) {
    char* space = FInput.Space(AMax);
    ssize_t n = ::recv(FSocket.Get(), space, AMax, MSG_DONTWAIT);
    if (n > 0) {
      FInput.Commit(size_t(n));
      return TLinkStatus::Done();
    }
    if (n == 0) return TLinkStatus::Failed(TLinkFault::lfClosed);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return TLinkStatus::Done();
    return TLinkStatus::System(errno);
  }
}

TLinkStatus TTcpLink::WaitInput(std::chrono::steady_clock::time_point ADeadline) {
  if (!FSocket) return TLinkStatus::Failed(TLinkFault::lfNotOpen);
  const TWaitResult result = WaitFd(FSocket.Get(), POLLIN, ADeadline);
  return TLinkStatus::Waited(result, errno);
}
