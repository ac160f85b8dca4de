// A register stand-in on a real link: a loopback TCP listener or the master
// side of a pseudo-terminal, served by a thread of its own. It cuts what it
// receives into requests (one byte such as ENQ, or a frame from STX to ETX
// plus the two checksum characters), records them, and answers each with the
// next reply the test scripted. It knows nothing of the driver's code: frames
// and checksums here are written out by hand.
//
// A reply in several chunks, and a send "when drained", go out only once the
// driver has taken in everything sent before and is waiting for more: the
// bytes are no longer queued anywhere on their way (a pty's buffer, the TCP
// send and receive queues), and the thread that made the peer (the test's,
// which drives the link) sleeps in poll(). So each chunk reaches the driver
// as a read of its own, every time; a driver that never takes the bytes in
// fails the test instead of passing without the split.
//
// A register that falls silent does so on the test clock: once the driver
// waits for more, the peer notes the limit the driver waits with and lets it
// run out (support/PollWait.h), so no real limit has to be short enough to
// pass quickly yet long enough for every answer that does come.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/uClock.h"
#include "support/PollWait.h"

namespace peer {

constexpr char STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, NAK = 0x15, FS = 0x1C;

// Exclusive-or of the bytes as two upper-case hexadecimal digits.
inline std::string Checksum(std::string_view bytes) {
  unsigned x = 0;
  for (unsigned char c : bytes) x ^= c;
  char text[3];
  std::snprintf(text, sizeof text, "%02X", x);
  return text;
}

// Packet identifier and command of a request frame (STX, 4 password bytes,
// identifier, command...).
inline char IdOf(const std::string& request) {
  return request.size() > 5 ? request[5] : 0;
}
inline std::string CommandOf(const std::string& request) {
  return request.size() > 7 ? request.substr(6, 2) : std::string();
}

// An answer body (identifier .. ETX) wrapped into STX + body + checksum.
inline std::string Wrap(const std::string& body) {
  return STX + body + Checksum(body);
}

// The register's answer to `request`: its identifier and command, the error
// field, each field followed by FS, ETX and the checksum.
inline std::string AnswerTo(const std::string& request, const std::string& error = "00",
                            const std::vector<std::string>& fields = {}) {
  std::string body(1, IdOf(request));
  body += CommandOf(request) + error;
  for (const auto& f : fields) body += f + FS;
  body += ETX;
  return Wrap(body);
}

// Bytes as "02 4B ..." for assertion messages.
inline std::string Hex(std::string_view bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02X ", c);
    out += b;
  }
  return out;
}

}  // namespace peer

struct TPeerReply {
  // Sent in order; before every chunk but the first the peer waits until the
  // driver has taken in everything sent before and waits for more.
  std::vector<std::string> Chunks;
  bool Close = false;  // TCP: close the connection after the chunks
  // Time that passes on the process clock before every chunk but the first
  // (once the driver has taken in the earlier ones): a register that pauses
  // within its answer, at no real cost under a test clock.
  std::chrono::milliseconds Pause{0};
  // After the chunks the register says nothing more: the driver's next wait
  // runs out on the test clock, however long its limit.
  bool Silent = false;
};
using TResponder = std::function<TPeerReply(const std::string& request)>;

class TScriptedPeer {
 public:
  enum TKind { kTcp, kPty };

  explicit TScriptedPeer(TKind kind) : FKind(kind), FDriverThread(gettid()) {
    if (pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
    if (kind == kTcp) {
      FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t len = sizeof a;
      if (FListen < 0 || bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
          listen(FListen, 8) != 0 || getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len))
        throw std::runtime_error("listener");
      FPort = ntohs(a.sin_port);
    } else {
      termios raw{};
      cfmakeraw(&raw);
      if (openpty(&FConn, &FSlave, nullptr, &raw, nullptr) != 0)
        throw std::runtime_error("openpty");
      fcntl(FConn, F_SETFL, fcntl(FConn, F_GETFL) | O_NONBLOCK);
      fcntl(FConn, F_SETFD, FD_CLOEXEC);
      fcntl(FSlave, F_SETFD, FD_CLOEXEC);
      char name[128];
      if (ttyname_r(FSlave, name, sizeof name) != 0) throw std::runtime_error("ttyname");
      FPath = name;
    }
    FThread = std::thread([this] { Serve(); });
  }

  ~TScriptedPeer() {
    FStop = true;
    Wake();
    FThread.join();
    for (int fd : {FListen, FConn, FSlave, FWake[0], FWake[1]})
      if (fd >= 0) close(fd);
  }

  TScriptedPeer(const TScriptedPeer&) = delete;
  TScriptedPeer& operator=(const TScriptedPeer&) = delete;

  int Port() const { return FPort; }                       // TCP
  const std::string& DevicePath() const { return FPath; }  // pty slave

  // ---- The script ----------------------------------------------------------
  void Then(TResponder responder) {
    std::lock_guard lock(FLock);
    FScript.push_back(std::move(responder));
  }
  void ThenBytes(std::string bytes) {
    Then([bytes](const std::string&) { return TPeerReply{{bytes}}; });
  }
  void ThenAnswer(std::string error = "00", std::vector<std::string> fields = {}) {
    Then([error, fields](const std::string& r) {
      return TPeerReply{{peer::AnswerTo(r, error, fields)}};
    });
  }
  void ThenSilence() {
    Then([](const std::string&) { return TPeerReply{{}, false, {}, true}; });
  }
  // Replies once the script is used up (default: none).
  void SetFallback(TResponder responder) {
    std::lock_guard lock(FLock);
    FFallback = std::move(responder);
  }
  // ENQ is answered with this without touching the script; nullopt hands
  // probes to the script like any request.
  void SetProbeReply(std::optional<std::string> reply) {
    std::lock_guard lock(FLock);
    FProbeReply = std::move(reply);
  }
  // Sends bytes outside any request, now or once the driver has read all
  // before and waits for more.
  void Send(std::string bytes, bool whenDrained = false) {
    {
      std::lock_guard lock(FLock);
      FDeferred.push_back({std::move(bytes), whenDrained});
    }
    Wake();
  }

  // ---- What arrived --------------------------------------------------------
  std::vector<std::string> Received() const {
    std::lock_guard lock(FLock);
    return FReceived;
  }
  std::vector<std::string> Frames() const {
    std::vector<std::string> frames;
    for (auto& r : Received())
      if (!r.empty() && r[0] == peer::STX) frames.push_back(r);
    return frames;
  }
  // The limit of each wait that a silent reply let run out, in ms.
  std::vector<int64_t> SilentWaits() const {
    std::lock_guard lock(FLock);
    return FSilentWaits;
  }
  size_t Probes() const {
    size_t n = 0;
    for (auto& r : Received()) n += r == std::string(1, peer::ENQ);
    return n;
  }
  int Connections() const { return FConnections; }
  // Waits (bounded) until `count` requests have arrived; for requests the
  // driver does not wait an answer for.
  bool WaitReceived(size_t count) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      if (Received().size() >= count) return true;
      std::this_thread::yield();
    }
    return false;
  }

 private:
  struct TDeferred {
    std::string Bytes;
    bool WhenDrained;
  };

  void Wake() {
    char c = 1;
    (void)!write(FWake[1], &c, 1);
  }

  void Serve() {
    std::string input;
    while (!FStop) {
      pollfd fds[3];
      int n = 0;
      fds[n++] = {FWake[0], POLLIN, 0};
      if (FListen >= 0) fds[n++] = {FListen, POLLIN, 0};
      int connIndex = -1;
      if (FConn >= 0) {
        connIndex = n;
        fds[n++] = {FConn, POLLIN, 0};
      }
      if (poll(fds, n, 10000) <= 0) continue;
      if (fds[0].revents) {
        char buf[64];
        while (read(FWake[0], buf, sizeof buf) > 0) {
        }
        RunDeferred();
      }
      if (FListen >= 0 && (fds[1].revents & POLLIN)) {
        int fd = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
          if (FConn >= 0) close(FConn);
          FConn = fd;
          input.clear();
          ++FConnections;
        }
        continue;  // the descriptor set changed
      }
      if (connIndex >= 0 && fds[connIndex].revents) {
        char buf[4096];
        ssize_t got = read(FConn, buf, sizeof buf);
        if (got <= 0) {
          if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
          if (FKind == kTcp) {
            close(FConn);
            FConn = -1;
          }
          continue;
        }
        input.append(buf, size_t(got));
        std::string request;
        while (FConn >= 0 && Extract(input, request)) Handle(request);
      }
    }
  }

  // One request off the front of `input`, when complete.
  static bool Extract(std::string& input, std::string& request) {
    if (input.empty()) return false;
    size_t size = 1;
    if (input[0] == peer::STX) {
      size_t etx = input.find(peer::ETX, 1);
      if (etx == std::string::npos || input.size() < etx + 3) return false;
      size = etx + 3;
    }
    request = input.substr(0, size);
    input.erase(0, size);
    return true;
  }

  void Handle(const std::string& request) {
    TPeerReply reply;
    {
      std::lock_guard lock(FLock);
      FReceived.push_back(request);
      if (request == std::string(1, peer::ENQ) && FProbeReply) {
        reply.Chunks = {*FProbeReply};
      } else if (!FScript.empty()) {
        TResponder next = std::move(FScript.front());
        FScript.pop_front();
        reply = next(request);
      } else if (FFallback) {
        reply = FFallback(request);
      }
    }
    for (size_t i = 0; i < reply.Chunks.size(); ++i) {
      if (i > 0) {
        if (!WaitDrained()) break;
        if (reply.Pause.count() > 0) Clock().Sleep(reply.Pause);
      }
      if (!WriteAll(reply.Chunks[i])) break;
    }
    if (reply.Silent) KeepSilent();
    if (reply.Close && FKind == kTcp && FConn >= 0) {
      close(FConn);
      FConn = -1;
    }
  }

  // Lets the wait the driver starts now run out on the test clock.
  void KeepSilent() {
    auto* clock = dynamic_cast<TManualClock*>(&Clock());
    if (clock == nullptr) {
      ADD_FAILURE() << "a silent register needs a test clock";
      return;
    }
    if (!WaitDrained()) return;
    const std::optional<int64_t> limit = poll_wait::LimitOf(FDriverThread);
    if (!limit || *limit < 0) {
      ADD_FAILURE() << "the driver waits for the silent register without a limit";
      return;
    }
    {
      std::lock_guard lock(FLock);
      FSilentWaits.push_back(*limit);
    }
    poll_wait::End(*clock, FDriverThread, std::chrono::milliseconds(*limit));
  }

  void RunDeferred() {
    for (;;) {
      TDeferred next;
      {
        std::lock_guard lock(FLock);
        if (FDeferred.empty()) return;
        next = std::move(FDeferred.front());
        FDeferred.pop_front();
      }
      if (next.WhenDrained && !WaitDrained()) continue;
      WriteAll(next.Bytes);
    }
  }

  // Until the driver has taken in what was sent and sleeps in poll() for
  // more. A driver that is still not there after 10 s never reads the bytes:
  // the test fails, as it would pass without the split it is about.
  bool WaitDrained() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!FStop && std::chrono::steady_clock::now() < end) {
      if (FConn < 0) return false;
      if (Drained() && DriverWaitsInPoll()) return true;
      std::this_thread::yield();
    }
    if (!FStop) ADD_FAILURE() << "the driver did not take in the reply's earlier bytes";
    return false;
  }

  // Nothing sent is on its way or unread.
  bool Drained() const {
    if (FKind == kPty) {
      // poll() on the slave first moves what the pty still buffers into the
      // slave's input, then says whether any of it is unread.
      pollfd p{FSlave, POLLIN, 0};
      return poll(&p, 1, 0) == 0;
    }
    // Acknowledged bytes are in the driver's receive queue (or read).
    int unacknowledged = 0;
    if (ioctl(FConn, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged > 0) return false;
    const int driver = DriverSocket();
    if (driver < 0) return true;  // the driver hung up: nothing more is read
    int unread = 0;
    return ioctl(driver, FIONREAD, &unread) == 0 && unread == 0;
  }

  // The driver's end of the TCP connection: the socket of this process
  // whose own address is where the peer's connection leads.
  int DriverSocket() const {
    sockaddr_in remote{}, local{};
    socklen_t length = sizeof remote;
    if (getpeername(FConn, reinterpret_cast<sockaddr*>(&remote), &length) != 0) return -1;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
      const int fd = std::atoi(entry.path().filename().c_str());
      length = sizeof local;
      if (fd == FConn || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
          local.sin_family != AF_INET)
        continue;
      if (local.sin_port == remote.sin_port && local.sin_addr.s_addr == remote.sin_addr.s_addr)
        return fd;
    }
    return -1;
  }

  // The driver's thread sleeps in poll() (or ppoll()), so what it read
  // before came back to it as a read of its own.
  bool DriverWaitsInPoll() const { return poll_wait::LimitOf(FDriverThread).has_value(); }

  // Writes everything, waiting for room at most 5 s at a time.
  bool WriteAll(const std::string& bytes) {
    size_t done = 0;
    while (FConn >= 0 && done < bytes.size()) {
      ssize_t n = FKind == kTcp
                      ? send(FConn, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                      : write(FConn, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += size_t(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return false;
      pollfd p{FConn, POLLOUT, 0};
      if (poll(&p, 1, 5000) <= 0 || FStop) return false;
    }
    return done == bytes.size();
  }

  TKind FKind;
  pid_t FDriverThread;
  int FListen = -1, FConn = -1, FSlave = -1;
  int FWake[2] = {-1, -1};
  int FPort = 0;
  std::string FPath;
  std::atomic<bool> FStop{false};
  std::atomic<int> FConnections{0};
  mutable std::mutex FLock;
  std::deque<TResponder> FScript;
  TResponder FFallback;
  std::optional<std::string> FProbeReply = std::string(1, peer::ACK);
  std::deque<TDeferred> FDeferred;
  std::vector<std::string> FReceived;
  std::vector<int64_t> FSilentWaits;
  std::thread FThread;
};
