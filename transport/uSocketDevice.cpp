#include "transport/uSocketDevice.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"

using std::chrono::milliseconds;

namespace {
// One receive takes at most this much of what has arrived.
constexpr size_t kReadChunk = 4096;
}  // namespace

TSocketDevice::~TSocketDevice() {
  TSocketDevice::Disable();
}

void TSocketDevice::Enable() {
  Connect(FIPAddress, FTCPPort);
  CheckConnection();
}

void TSocketDevice::Disable() {
  TDevice::Disable();
  Disconnect();
  FReconnect = false;
}

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
  if (APort <= 0 || APort > 65535) RaiseError(EquMessages::ConnectError);

  TFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd) RaiseError(EquMessages::SocketCreateError);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(uint16_t(APort));
  peer.sin_addr = address;
  bool connected = ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
  if (!connected && errno == EINPROGRESS &&
      WaitFd(fd.Get(), POLLOUT, DeadlineAfter(milliseconds(FLimits.Connect))) ==
          TWaitResult::wrReady) {
    int error = 0;
    socklen_t length = sizeof error;
    connected = getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  }
  if (!connected) RaiseError(EquMessages::ConnectError);
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

// ---- The link operations -------------------------------------------------------

std::string_view TSocketDevice::LinkSource() const {
  return "TSocketDevice";
}

TDevice::TLinkWaits TSocketDevice::LinkWaits(int ATimeout) const {
  TLinkWaits waits;
  const milliseconds receive(FLimits.Receive);
  // A register printing a long report starts its answer when it is done.
  waits.AnswerStart = std::max(receive, milliseconds(ATimeout));
  waits.NextByte = receive;
  waits.Checksum = receive;
  return waits;
}

TDevice::TLinkPolicy TSocketDevice::LinkPolicy() const {
  TLinkPolicy policy;
  policy.ProbeAttempts = 1;
  policy.ResendPause = milliseconds(cResendPauseMs);
  policy.ChecksumNeedsAByte = true;
  return policy;
}

void TSocketDevice::BeginExchange() {
  if (FReconnect) Connect(FIPAddress, FTCPPort);
  CheckConnection();
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
  switch (WaitFd(FSocket.Get(), POLLIN, ADeadline)) {
    case TWaitResult::wrReady:
      return TLinkStatus::Done();
    case TWaitResult::wrTimedOut:
      return TLinkStatus::Failed(TLinkFault::lfTimedOut);
    case TWaitResult::wrFailed:
      break;
  }
  return TLinkStatus::System(errno);
}

std::string TSocketDevice::LinkFailureText(const TLinkStatus&, TLinkStep AStep) const {
  return std::string(AStep == TLinkStep::lsSend ? EquMessages::SendError
                                                : EquMessages::ReceiveError);
}

void TSocketDevice::LinkOutOfStep() {
  if (!FSocket) return;
  CloseSocket();
  FReconnect = true;
}

// ---- The link's own send and receive ---------------------------------------------

int TSocketDevice::SendData(std::string_view ABytes) {
  if (!LinkSend(ABytes).Ok()) {
    FExtResultDescription = EquMessages::SendError;
    return cSendErrorCode;
  }
  return 0;
}

int TSocketDevice::ReceiveBytes(size_t AN, std::string& ABytes) {
  ABytes.assign(AN, '\0');
  size_t got = 0;
  const auto deadline = DeadlineAfter(milliseconds(FLimits.Receive));
  while (got < AN) {
    if (FInput.Empty()) {
      TLinkStatus status = ReceiveInput(deadline);
      if (!status.Ok()) {
        // Closed by the register, or broken: nothing more will come.
        if (status.Fault != TLinkFault::lfTimedOut) FReconnect = true;
        break;
      }
    }
    const size_t take = std::min(AN - got, FInput.Size());
    FInput.View().copy(ABytes.data() + got, take);
    FInput.Drop(take);
    got += take;
  }
  // Bytes still missing may come late and would be taken for the next answer.
  if (got < AN) FReconnect = true;
  if (got == 0 && AN > 0) {
    FExtResultDescription = EquMessages::ReceiveError;
    return cReceiveErrorCode;
  }
  return 0;
}

int TSocketDevice::ReceiveByte(uint8_t& AByte) {
  std::string one;
  int result = ReceiveBytes(1, one);
  if (result == 0) AByte = uint8_t(one[0]);
  return result;
}
