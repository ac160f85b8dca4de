// The TCP link on Linux: POSIX sockets, opened close-on-exec, and every wait
// a poll() on the process clock; what every platform shares is in
// uSocketDeviceCommon.cpp.
#include "transport/uSocketDevice.h"

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
#include "device/uEquipmentErrors.h"
#include "resources/uResources.h"

using std::chrono::milliseconds;

namespace {
// One receive takes at most this much of what has arrived.
constexpr size_t kReadChunk = 4096;
}  // namespace

void TSocketDevice::CloseSocket() {
  if (FSocket) ::shutdown(FSocket.Get(), SHUT_RDWR);
  FSocket.Reset();
  FInput.Clear();
}

void TSocketDevice::Disconnect() {
  CloseSocket();
}

void TSocketDevice::Connect(std::string_view AAddress, int APort) {
  FIPAddress = std::string(AAddress);
  FTCPPort = APort;
  CloseSocket();
  // Only the dotted form is accepted: no name lookup; the broadcast address
  // is refused as it always was.
  std::string text = Utf8ToAnsi(Trim(AAddress));
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1 || address.s_addr == INADDR_NONE)
    RaiseError(EquMessages::IPAddressSyntax);
  if (APort <= 0 || APort > 65535) RaiseError(ConnectFailureText(ResString("ConnectBadPort")));

  TFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd) RaiseError(EquMessages::SocketCreateError);
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
  if (!connected) RaiseError(ConnectFailureText(ConnectFailureReason(error, timedOut)));
  // Every receive waits with poll() first and reads without blocking; the
  // send limit keeps a register that stopped reading from holding a send.
  timeval limit{FLimits.Receive / 1000, (FLimits.Receive % 1000) * 1000};
  setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  fcntl(fd.Get(), F_SETFL, fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  int one = 1;
  setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  FSocket = std::move(fd);
  FReconnect = false;
}

TLinkStatus TSocketDevice::LinkSend(std::string_view ABytes) {
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

TLinkStatus TSocketDevice::LinkReadNow() {
  if (!FSocket) return TLinkStatus::Failed(TLinkFault::lfNotOpen);
  for (;;) {
    char* space = FInput.Space(kReadChunk);
    ssize_t n = ::recv(FSocket.Get(), space, kReadChunk, MSG_DONTWAIT);
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

TLinkStatus TSocketDevice::LinkWaitInput(std::chrono::steady_clock::time_point ADeadline) {
  if (!FSocket) return TLinkStatus::Failed(TLinkFault::lfNotOpen);
  const TWaitResult result = WaitFd(FSocket.Get(), POLLIN, ADeadline);
  return TLinkStatus::Waited(result, errno);
}
