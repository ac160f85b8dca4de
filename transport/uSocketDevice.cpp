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

#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"
#include "transport/uLinkLog.h"

namespace {

constexpr std::string_view kSource = "TSocketDevice";
using TTimePoint = std::chrono::steady_clock::time_point;

TTimePoint DeadlineAfter(int ms) {
  return Clock().SteadyNow() + std::chrono::milliseconds(std::max(ms, 0));
}

// Waits for `events` until `deadline` on the process clock: 1 ready, 0 time
// out, -1 failure. A poll that ran its full course ends the wait even under
// a clock that has not moved.
int WaitSocket(int fd, short events, TTimePoint deadline) {
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock().SteadyNow());
    int ms = int(std::clamp<long long>(left.count(), 0, 24LL * 3600 * 1000));
    pollfd p{fd, events, 0};
    int r = poll(&p, 1, ms);
    if (r > 0) return (p.revents & POLLNVAL) ? -1 : 1;
    if (r == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

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
  if (FSocket < 0) return;
  shutdown(FSocket, SHUT_RDWR);
  ::close(FSocket);
  FSocket = -1;
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

  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) RaiseError(EquMessages::SocketCreateError);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(uint16_t(APort));
  peer.sin_addr = address;
  bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
  if (!connected && errno == EINPROGRESS) {
    if (WaitSocket(fd, POLLOUT, DeadlineAfter(FLimits.Connect)) == 1) {
      int error = 0;
      socklen_t length = sizeof error;
      connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
  }
  if (!connected) {
    ::close(fd);
    RaiseError(EquMessages::ConnectError);
  }
  // Blocking again; the receive limit is also set on the socket as a backstop
  // to the poll() that precedes every receive.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  timeval limit{FLimits.Receive / 1000, (FLimits.Receive % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  FSocket = fd;
  FReconnect = false;
}

int TSocketDevice::SendData(std::string_view ABytes) {
  size_t sent = 0;
  while (FSocket >= 0 && sent < ABytes.size()) {
    // MSG_NOSIGNAL: a register that has gone away must not end the process.
    ssize_t n = ::send(FSocket, ABytes.data() + sent, ABytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (FSocket < 0 || sent < ABytes.size()) {
    FExtResultDescription = EquMessages::SendError;
    return cSendErrorCode;
  }
  return 0;
}

int TSocketDevice::ReceiveBytes(size_t AN, std::string& ABytes) {
  ABytes.assign(AN, '\0');
  size_t got = 0;
  TTimePoint deadline = DeadlineAfter(FLimits.Receive);
  while (FSocket >= 0 && got < AN) {
    if (WaitSocket(FSocket, POLLIN, deadline) != 1) break;
    ssize_t n = ::recv(FSocket, ABytes.data() + got, AN - got, MSG_DONTWAIT);
    if (n > 0) {
      got += size_t(n);
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // Closed by the register, or broken: nothing more will come.
    FReconnect = true;
    break;
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

void TSocketDevice::LinkFailure(std::string_view AMessage) {
  std::string message(AMessage);  // may be FExtResultDescription itself
  if (FSocket >= 0) {
    CloseSocket();
    FReconnect = true;
  }
  RaiseError(message);
}

void TSocketDevice::CheckConnection() {
  const std::string enq(1, ENQ);
  int result = SendData(enq);
  LogLinkBytes(kSource, "-> ", enq, result == 0);
  if (result != 0) LinkFailure(FExtResultDescription);
  uint8_t answer = 0;
  result = ReceiveByte(answer);
  LogLinkBytes(kSource, "<- ", result == 0 ? std::string(1, char(answer)) : std::string(),
               result == 0);
  if (result != 0) LinkFailure(FExtResultDescription);
  if (answer != uint8_t(ACK)) LinkFailure(EquMessages::ProtocolError);
}

void TSocketDevice::RunCommand(std::string_view ACmd, const TDeviceArgs& AData, int ATimeout) {
  (void)ATimeout;
  FCommand = std::string(ACmd.substr(0, 2));
  std::string answer;
  if (FReconnect) Connect(FIPAddress, FTCPPort);
  CheckConnection();
  const std::string frame = BuildPacket(ACmd, AData);

  uint8_t first = 0;
  for (int attempt = 0; attempt < cSendAttempts; ++attempt) {
    if (attempt > 0) Clock().Sleep(std::chrono::milliseconds(cResendPauseMs));
    int result = SendData(frame);
    LogLinkBytes(kSource, "-> ", frame, result == 0);
    if (result != 0) LinkFailure(FExtResultDescription);
    result = ReceiveByte(first);
    LogLinkBytes(kSource, "<- ", result == 0 ? std::string(1, char(first)) : std::string(),
                 result == 0);
    if (result != 0) LinkFailure(FExtResultDescription);
    if (first == uint8_t(STX)) break;
  }
  if (first != uint8_t(STX)) LinkFailure(EquMessages::ProtocolError);

  for (;;) {
    uint8_t next = 0;
    if (ReceiveByte(next) != 0) {
      LogLinkBytes(kSource, "<- ", answer, false);
      LinkFailure(FExtResultDescription);
    }
    answer.push_back(char(next));
    if (next == uint8_t(ETX)) break;
    if (answer.size() >= cMaxAnswerSize) {
      LogLinkBytes(kSource, "<- ", answer, false);
      LinkFailure(EquMessages::ProtocolError);
    }
  }
  LogLinkBytes(kSource, "<- ", answer, true);

  std::string checksum;
  int result = ReceiveBytes(2, checksum);
  LogLinkBytes(kSource, "<- ", checksum, result == 0);
  if (result != 0) LinkFailure(FExtResultDescription);
  // A checksum cut short by a closed connection or by the receive limit is a
  // checksum error, and the connection is made again for the next command.
  if (FReconnect) CloseSocket();
  // An answer that does not hold together (an ETX inside the data, say) may
  // leave the rest of itself in the stream: the connection goes with it. A
  // register error byte leaves the stream in step and the connection open.
  try {
    CheckAnswerFrame(answer, checksum);
  } catch (const std::exception& e) {
    LinkFailure(e.what());
  }
  CheckAnswer(answer, checksum);
}
