// Commands per second over the driver's real links against the virtual
// register on this machine, each beside a bare exchange of the same bytes
// in the same run, and the CPU cost of one command's frame and answer.
//
// Each link row runs on one CPU (see TOneCpu) and times, per iteration: one
// status command through the driver with the log off, the same with the log
// on, and a bare client sending the identical bytes (TCP: probe, then the
// frame; serial: the frame) and reading the same answer. Time is the
// logged-off command (mean); the counters are the median microseconds of
// each exchange and the two ratios the targets are about.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/Common.Log.h"
#include "common/uFd.h"
#include "device/uDevice.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/wire/uEmuServer.h"
#include "transport/uCOMDevice.h"
#include "transport/uSocketDevice.h"

namespace {

using TSteady = std::chrono::steady_clock;

double Seconds(TSteady::duration d) {
  return std::chrono::duration<double>(d).count();
}

// A virtual register served over loopback TCP and a pty, in this process.
struct TBenchRegister {
  TBenchRegister() {
    TEmuRegisterOptions options;
    Register = std::make_unique<TEmuRegister>(options);
    TEmuServerOptions server;
    server.Port = 0;
    server.Pty = true;
    server.Log = [](std::string_view) {};
    Server = std::make_unique<TEmuServer>(*Register, server);
    Server->Start();
  }
  std::unique_ptr<TEmuRegister> Register;
  std::unique_ptr<TEmuServer> Server;
};

// Status frames for every packet identifier, so that the bare client never
// repeats the previous frame (a repeat is answered from memory).
std::vector<std::string> StatusFrames() {
  TDevice builder;
  std::vector<std::string> frames;
  for (int i = 0x21; i <= 0xF0; ++i) frames.push_back(builder.BuildPacket("00", {}));
  return frames;
}

// A client that knows nothing but the bytes: write, then read until ETX and
// the two checksum characters have come.
class TBareClient {
 public:
  static TBareClient Tcp(uint16_t port) {
    TFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      throw std::runtime_error("bare client: connect");
    int one = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return TBareClient(std::move(fd), true);
  }
  static TBareClient Pty(const std::string& path) {
    TFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios tio{};
    ::tcgetattr(fd.Get(), &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd.Get(), TCSANOW, &tio);
    return TBareClient(std::move(fd), false);
  }

  void Exchange(const std::string& frame) {
    if (FProbe) {
      Write("\x05");
      Read(1);
    }
    Write(frame);
    std::string answer;
    for (;;) {
      answer += Read(0);
      size_t etx = answer.find('\x03');
      if (etx != std::string::npos && answer.size() >= etx + 3) break;
    }
  }

 private:
  TBareClient(TFd fd, bool probe) : FFd(std::move(fd)), FProbe(probe) {}
  void Write(std::string_view bytes) {
    if (::write(FFd.Get(), bytes.data(), bytes.size()) != ssize_t(bytes.size()))
      throw std::runtime_error("bare client: write");
  }
  // Exactly n bytes, or (n == 0) what one read brings.
  std::string Read(size_t n) {
    std::string got;
    char buf[4096];
    do {
      pollfd p{FFd.Get(), POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1) throw std::runtime_error("bare client: no answer");
      ssize_t r = ::read(FFd.Get(), buf, n == 0 ? sizeof buf : n - got.size());
      if (r <= 0) throw std::runtime_error("bare client: read");
      got.append(buf, size_t(r));
    } while (n != 0 && got.size() < n);
    return got;
  }
  TFd FFd;
  bool FProbe;
};

// The log goes to a folder of its own while the benchmarks run.
struct TBenchLog {
  TBenchLog() {
    FDir = (std::filesystem::temp_directory_path() / "quarnel-bench-XXXXXX").string();
    if (!::mkdtemp(FDir.data())) throw std::runtime_error("mkdtemp");
    ::setenv("QUARNEL_DATA_DIR", FDir.c_str(), 1);
    SetLogName("quarnel");
  }
  ~TBenchLog() {
    SetLogMode(lmOff);
    std::filesystem::remove_all(FDir);
  }
  std::string FDir;
};

enum class TBenchLink { Tcp, Serial };

// Everything of one link row on one CPU: on a virtual machine a wake-up on
// another CPU costs tens of microseconds, and which of the two registers'
// server threads the scheduler placed away from the client decided which
// exchange paid for it, run by run.
class TOneCpu {
 public:
  TOneCpu() {
    FPinned = ::sched_getaffinity(0, sizeof FSaved, &FSaved) == 0;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(std::max(::sched_getcpu(), 0), &one);
    FPinned = FPinned && ::sched_setaffinity(0, sizeof one, &one) == 0;
  }
  ~TOneCpu() {
    if (FPinned) ::sched_setaffinity(0, sizeof FSaved, &FSaved);
  }

 private:
  cpu_set_t FSaved;
  bool FPinned = false;
};

void LinkRow(benchmark::State& state, TBenchLink kind) {
  TOneCpu pinned;  // before the servers start, so that their threads share it
  TBenchLog log;
  TBenchRegister driverSide, bareSide;
  std::unique_ptr<TDevice> device;
  std::unique_ptr<TBareClient> bare;
  if (kind == TBenchLink::Tcp) {
    auto socket = std::make_unique<TSocketDevice>();
    socket->SetIPAddress("127.0.0.1");
    socket->SetTCPPort(driverSide.Server->Port());
    device = std::move(socket);
    bare = std::make_unique<TBareClient>(TBareClient::Tcp(bareSide.Server->Port()));
  } else {
    ::setenv("QUARNEL_COM99", driverSide.Server->PtyPath().c_str(), 1);
    auto com = std::make_unique<TCOMDevice>();
    com->Com().SetPortNumber(99);
    device = std::move(com);
    bare = std::make_unique<TBareClient>(TBareClient::Pty(bareSide.Server->PtyPath()));
  }
  device->Enable();
  const std::vector<std::string> frames = StatusFrames();
  size_t next = 0;
  uint8_t fatal = 0, document = 0;
  uint16_t current = 0;
  SetLogMode(lmAll);  // the header is written once, before the timing starts
  SetLogMode(lmSuspended);

  // The three exchanges take turns in a rotating order, and each reports
  // its median: on a shared machine whichever runs right after another
  // server's turn pays for waking it.
  std::vector<double> samples[3];
  auto run = [&](int which) {
    auto t0 = TSteady::now();
    if (which == 2) {
      bare->Exchange(frames[next]);
      next = (next + 1) % frames.size();
    } else {
      if (which == 1) SetLogMode(lmAll);
      device->GetECRStatus(fatal, current, document);
      if (which == 1) SetLogMode(lmSuspended);
    }
    double s = Seconds(TSteady::now() - t0);
    samples[which].push_back(s);
    return s;
  };
  int turn = 0;
  for (auto _ : state) {
    double off = 0;
    for (int k = 0; k < 3; ++k) {
      int which = (turn + k) % 3;
      double s = run(which);
      if (which == 0) off = s;
    }
    ++turn;
    state.SetIterationTime(off);
  }
  auto median = [](std::vector<double>& v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  const double off = median(samples[0]), on = median(samples[1]), plain = median(samples[2]);
  state.SetItemsProcessed(state.iterations());
  state.counters["off_us"] = off * 1e6;
  state.counters["on_us"] = on * 1e6;
  state.counters["bare_us"] = plain * 1e6;
  state.counters["off/bare"] = off / plain;
  state.counters["on/off"] = on / off;
  device.reset();
  ::unsetenv("QUARNEL_COM99");
}

void BM_StatusCommandTcp(benchmark::State& state) {
  LinkRow(state, TBenchLink::Tcp);
}
void BM_StatusCommandPty(benchmark::State& state) {
  LinkRow(state, TBenchLink::Serial);
}
BENCHMARK(BM_StatusCommandTcp)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_StatusCommandPty)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);

}  // namespace
