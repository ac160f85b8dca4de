// The client side for the emulator's wire tests: hand-built request frames,
// an answer reader written apart from the emulator's own code, a scripted
// command handler, and a peer over a real socket or pty with every wait
// bounded by poll.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "wire/uEmuCommandHandler.h"

namespace emu_test {

inline constexpr char kSTX = 0x02, kETX = 0x03, kENQ = 0x05, kACK = 0x06, kNAK = 0x15, kFS = 0x1C;
// Generous: a loaded machine under the sanitizers still answers well within it.
inline constexpr int kLimitMs = 10000;

inline std::string Hex2(uint8_t v) {
  char t[3];
  std::snprintf(t, sizeof t, "%02X", v);
  return t;
}

inline uint8_t Xor(const std::string& bytes, size_t from = 0, size_t to = std::string::npos) {
  uint8_t x = 0;
  if (to == std::string::npos) to = bytes.size();
  for (size_t i = from; i < to; ++i) x ^= static_cast<uint8_t>(bytes[i]);
  return x;
}

// STX, password, id, command, args joined by FS, ETX, checksum of password..ETX.
inline std::string Request(uint8_t id, const std::string& command,
                           const std::vector<std::string>& args = {},
                           const std::string& password = "KVNT") {
  std::string body = password + static_cast<char>(id) + command;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) body += kFS;
    body += args[i];
  }
  body += kETX;
  return std::string(1, kSTX) + body + Hex2(Xor(body));
}

struct TAnswer {
  bool Complete = false;    // STX .. ETX and two checksum characters arrived
  bool ChecksumOk = false;  // XOR of id..ETX matches the two characters
  uint8_t Id = 0;
  std::string Command;
  std::string Error;
  std::vector<std::string> Fields;  // each ended by FS in the frame
  std::string Raw;
};

inline TAnswer ParseAnswer(const std::string& raw) {
  TAnswer a;
  a.Raw = raw;
  size_t etx = raw.find(kETX);
  if (raw.empty() || raw[0] != kSTX || etx == std::string::npos || raw.size() != etx + 3) return a;
  a.Complete = true;
  a.ChecksumOk = raw.substr(etx + 1) == Hex2(Xor(raw, 1, etx + 1));
  if (etx < 6) return a;
  a.Id = static_cast<uint8_t>(raw[1]);
  a.Command = raw.substr(2, 2);
  a.Error = raw.substr(4, 2);
  std::string data = raw.substr(6, etx - 6);
  size_t start = 0;
  for (size_t fs; (fs = data.find(kFS, start)) != std::string::npos; start = fs + 1)
    a.Fields.push_back(data.substr(start, fs - start));
  if (start < data.size()) a.Fields.push_back(data.substr(start) + "<no FS>");
  return a;
}

// Answers every command with fields {command, args joined by ","}; records
// every call. "06" answers {"1", ExtendedCode}; "EE" throws.
class TScriptedHandler : public TEmuCommandHandler {
 public:
  struct TCall {
    std::string Command;
    std::vector<std::string> Args;
  };
  TEmuAnswer Execute(const std::string& command, const std::vector<std::string>& args) override {
    std::lock_guard lock(FLock);
    FCalls.push_back({command, args});
    if (command == "EE") throw std::runtime_error("scripted failure");
    if (command == "06") return {0, {"1", std::to_string(ExtendedCode)}};
    std::string joined;
    for (size_t i = 0; i < args.size(); ++i) joined += (i ? "," : "") + args[i];
    return {0, {command, joined}};
  }
  std::vector<TCall> Calls() {
    std::lock_guard lock(FLock);
    return FCalls;
  }
  size_t CallCount() { return Calls().size(); }
  int ExtendedCode = 0;

 private:
  std::mutex FLock;
  std::vector<TCall> FCalls;
};

// One end of a link, nonblocking, every wait bounded by kLimitMs.
class TPeer {
 public:
  static TPeer Tcp(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
      throw std::runtime_error("cannot connect to the emulator");
    int on = 1;  // like the driver: every frame leaves at once
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return TPeer(fd);
  }
  static TPeer Pty(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    return TPeer(fd);
  }
  explicit TPeer(int fd) : FFd(fd) {}
  TPeer(TPeer&& o) noexcept : FFd(o.FFd), FPending(std::move(o.FPending)) { o.FFd = -1; }
  ~TPeer() { Close(); }
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }

  // Writes everything; what arrives meanwhile is kept for the readers, so a
  // long write never deadlocks against the emulator's replies.
  bool Send(const std::string& bytes) {
    size_t done = 0;
    auto until = Deadline();
    while (done < bytes.size()) {
      pollfd p{FFd, POLLOUT | POLLIN, 0};
      if (!Wait(p, until)) return false;
      if (p.revents & POLLIN) Slurp();
      if (p.revents & POLLOUT) {
        ssize_t n = ::write(FFd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
          done += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
          return false;
      }
      if (p.revents & (POLLERR | POLLHUP) && !(p.revents & (POLLIN | POLLOUT))) return false;
    }
    return true;
  }

  // The next byte; nullopt at end of stream or when the limit passes.
  std::optional<char> ReadByte() {
    if (FPending.empty()) {
      auto until = Deadline();
      while (FPending.empty()) {
        pollfd p{FFd, POLLIN, 0};
        if (!Wait(p, until)) return std::nullopt;
        if (Slurp() == 0) return std::nullopt;
      }
    }
    char c = FPending[0];
    FPending.erase(0, 1);
    return c;
  }

  // One answer frame as bytes: STX up to ETX and two more (or what arrived
  // before the stream ended). Bytes before STX are returned alone.
  std::string ReadFrame() {
    std::string got;
    while (auto c = ReadByte()) {
      got += *c;
      if (got.size() == 1 && *c != kSTX) return got;
      size_t etx = got.find(kETX);
      if (etx != std::string::npos && got.size() == etx + 3) return got;
    }
    return got;
  }
  TAnswer ReadAnswer() { return ParseAnswer(ReadFrame()); }

  // Everything until the other side closes; false when it did not close in time.
  bool ReadUntilEof(std::string& got) {
    got += FPending;
    FPending.clear();
    auto until = Deadline();
    for (;;) {
      pollfd p{FFd, POLLIN, 0};
      if (!Wait(p, until)) return false;
      char buf[512];
      ssize_t n = ::read(FFd, buf, sizeof buf);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
  }

  // Probe and the exchange of one frame.
  bool Probe() { return Send(std::string(1, kENQ)) && ReadByte() == kACK; }
  TAnswer Exchange(const std::string& frame) {
    if (!Send(frame)) return {};
    return ReadAnswer();
  }
  int Fd() const { return FFd; }

 private:
  static std::chrono::steady_clock::time_point Deadline() {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(kLimitMs);
  }
  bool Wait(pollfd& p, std::chrono::steady_clock::time_point until) {
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      until - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) return false;
      int r = ::poll(&p, 1, static_cast<int>(left));
      if (r > 0) return true;
      if (r < 0 && errno != EINTR) return false;
    }
  }
  size_t Slurp() {
    char buf[4096];
    ssize_t n = ::read(FFd, buf, sizeof buf);
    if (n > 0) FPending.append(buf, static_cast<size_t>(n));
    return n > 0 ? static_cast<size_t>(n) : (n < 0 && (errno == EAGAIN || errno == EINTR) ? 1 : 0);
  }

  int FFd = -1;
  std::string FPending;
};

}  // namespace emu_test
