#include "wire/uEmuServer.h"

#include "common/uClock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace {
// Bytes read ahead of the session; the register reads no more while it has
// an answer to send, so this is all the input one link ever holds.
constexpr size_t kInputLimit = 4096;
// The loop wakes at least this often even when nothing happens.
constexpr int kIdlePollMs = 1000;
// Clients that may wait for the register; one more is closed at once.
constexpr size_t kMaxWaitingClients = 8;

std::string SystemError(const std::string& what, int err) {
  return what + ": " + std::strerror(err);
}

bool SetNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Where the symbolic link points; nothing (errno set) when it cannot be read.
std::optional<std::string> ReadLink(const std::string& link) {
  char target[4096];
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
  if (n < 0) return std::nullopt;
  return std::string(target, static_cast<size_t>(n));
}

// A slave of the system's pseudo-terminals, as an earlier run left it: the
// device may be gone by now, so the name decides.
bool IsPseudoTerminalPath(const std::string& path) {
  constexpr std::string_view kPts = "/dev/pts/";
  if (path.size() <= kPts.size() || path.compare(0, kPts.size(), kPts) != 0) return false;
  return std::all_of(path.begin() + kPts.size(), path.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}
}  // namespace

struct TEmuServer::TLink {
  enum TKind { lkTcp, lkPty };
  TKind Kind;
  TFd Fd;
  std::string Name;
  std::string Peer;  // the TCP client served, "address:port"
  std::unique_ptr<TEmuLinkSession> Session;
  std::string In;
  std::string Out;
  size_t OutPos = 0;
  bool Sending = false;
  bool CloseAfter = false;
  // The client's last byte in, or the last answer made for it (after any
  // pause of the register's): a client waiting for an answer is not idle.
  std::chrono::steady_clock::time_point LastActive{};

  void ClearBuffers() {
    In.clear();
    Out.clear();
    OutPos = 0;
    Sending = false;
    CloseAfter = false;
  }
  bool WantsInput() const { return Fd.Valid() && !Sending && In.size() < kInputLimit; }
};

TEmuServer::TEmuServer(TEmuCommandHandler& handler, TEmuServerOptions options)
    : FHandler(handler), FOptions(std::move(options)) {
  if (!FOptions.Log) {
    FOptions.Log = [](std::string_view text) {
      std::fprintf(stderr, "quarnel-emulator: %.*s\n", static_cast<int>(text.size()), text.data());
    };
  }
}

TEmuServer::~TEmuServer() {
  Stop();
}

void TEmuServer::Log(const std::string& text, bool always) const {
  if (always || FOptions.Wire.Verbose) FOptions.Log(text);
}

TEmuWireStats TEmuServer::Stats() const {
  const TEmuWireCounters& c = FCounters;
  return {c.Probes,       c.Requests,        c.Executed,       c.Replayed,
          c.BadChecksums, c.BadPasswords,    c.Malformed,      c.Overlong,
          c.IgnoredBytes, c.AbandonedFrames, c.ClientsAccepted};
}

void TEmuServer::Start() {
  if (Running()) throw std::runtime_error("the emulator already runs");
  if (!FOptions.Tcp && !FOptions.Pty)
    throw std::runtime_error("no link to serve: neither TCP nor pty");
  if (FOptions.Wire.Password.size() != 4)
    throw std::runtime_error("the connection password must be 4 bytes");
  FStopping = false;
  try {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0)
      throw std::runtime_error(SystemError("pipe", errno));
    FWakeRead.Reset(pipeFds[0]);
    FWakeWrite.Reset(pipeFds[1]);
    if (FOptions.Tcp) OpenListener();
    if (FOptions.Pty) OpenPty();
  } catch (...) {
    CloseAll();
    throw;
  }
  FThread = std::thread([this] { Run(); });
}

void TEmuServer::Stop() {
  if (FThread.joinable()) {
    FStopping = true;
    char b = 1;
    [[maybe_unused]] ssize_t n = ::write(FWakeWrite.Get(), &b, 1);
    FThread.join();
  }
  CloseAll();
}

void TEmuServer::CloseAll() {
  FTcpLink.reset();
  FPtyLink.reset();
  FWaiting.clear();
  FListener.Reset();
  FPtySlave.Reset();
  FWakeRead.Reset();
  FWakeWrite.Reset();
  if (!FPtyLinkMade.empty()) {
    // Remove the symlink only while it is still ours.
    if (ReadLink(FPtyLinkMade) == FPtyPath) ::unlink(FPtyLinkMade.c_str());
    FPtyLinkMade.clear();
  }
  FPtyPath.clear();
  FPort = 0;
}

void TEmuServer::OpenListener() {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(FOptions.Port);
  if (::inet_pton(AF_INET, FOptions.BindAddress.c_str(), &addr.sin_addr) != 1)
    throw std::runtime_error("not a dotted IPv4 address: " + FOptions.BindAddress);
  FListener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!FListener) throw std::runtime_error(SystemError("socket", errno));
  int on = 1;
  ::setsockopt(FListener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  std::string where = FOptions.BindAddress + ":" + std::to_string(FOptions.Port);
  if (::bind(FListener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error(SystemError("cannot listen on " + where, errno));
  if (::listen(FListener.Get(), 4) != 0)
    throw std::runtime_error(SystemError("listen on " + where, errno));
  socklen_t len = sizeof addr;
  if (::getsockname(FListener.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error(SystemError("getsockname", errno));
  FPort = ntohs(addr.sin_port);
  FTcpLink = std::make_unique<TLink>();
  FTcpLink->Kind = TLink::lkTcp;
  FTcpLink->Name = "tcp";
  FTcpLink->Session = std::make_unique<TEmuLinkSession>(
      FHandler, FHandlerLock, FFaults, FOptions.Wire, FCounters, "tcp", FOptions.Log);
  Log("listening on " + FOptions.BindAddress + ":" + std::to_string(FPort));
}

void TEmuServer::OpenPty() {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
    throw std::runtime_error(SystemError("openpty", errno));
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  FPtySlave.Reset(slave);
  FPtyLink = std::make_unique<TLink>();
  FPtyLink->Kind = TLink::lkPty;
  FPtyLink->Fd.Reset(master);
  FPtyLink->Name = "pty";
  // Raw from the start, so a client that does not set the line up still gets
  // the bytes unchanged; a client's own settings replace these.
  termios tio{};
  if (::tcgetattr(slave, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  if (!SetNonBlocking(master)) throw std::runtime_error(SystemError("pty mode", errno));
  char name[256];
  if (::ttyname_r(slave, name, sizeof name) != 0) throw std::runtime_error("pty has no name");
  FPtyPath = name;
  if (!FOptions.PtyLink.empty()) {
    struct stat st {};
    if (::lstat(FOptions.PtyLink.c_str(), &st) == 0) {
      // Replace a stale link of an earlier run, never a real file nor a link
      // that someone made to anything else.
      if (!S_ISLNK(st.st_mode))
        throw std::runtime_error(FOptions.PtyLink + " exists and is not a symbolic link");
      const std::optional<std::string> target = ReadLink(FOptions.PtyLink);
      if (!target)
        throw std::runtime_error(SystemError("cannot read the link " + FOptions.PtyLink, errno));
      if (!IsPseudoTerminalPath(*target))
        throw std::runtime_error(FOptions.PtyLink + " is a symbolic link to " + *target +
                                 ", not to a pseudo-terminal; it is left as it is");
      ::unlink(FOptions.PtyLink.c_str());
    }
    if (::symlink(FPtyPath.c_str(), FOptions.PtyLink.c_str()) != 0)
      throw std::runtime_error(SystemError("cannot link " + FOptions.PtyLink, errno));
    FPtyLinkMade = FOptions.PtyLink;
  }
  FPtyLink->Session = std::make_unique<TEmuLinkSession>(
      FHandler, FHandlerLock, FFaults, FOptions.Wire, FCounters, "pty", FOptions.Log);
  Log("pseudo-terminal " + FPtyPath);
}

void TEmuServer::Run() {
  std::vector<pollfd> fds;
  while (!FStopping) {
    const int timeout = CloseIdleClient(kIdlePollMs);
    fds.clear();
    fds.push_back({FWakeRead.Get(), POLLIN, 0});
    int listenerAt = -1;
    if (FListener) {
      listenerAt = static_cast<int>(fds.size());
      fds.push_back({FListener.Get(), POLLIN, 0});
    }
    // Waiting clients are only watched for leaving; what they send waits.
    const size_t waitingAt = fds.size();
    for (const TWaitingClient& w : FWaiting) fds.push_back({w.Fd.Get(), POLLRDHUP, 0});
    TLink* links[2] = {FTcpLink.get(), FPtyLink.get()};
    int linkAt[2] = {-1, -1};
    for (int i = 0; i < 2; ++i) {
      TLink* link = links[i];
      if (!link || !link->Fd) continue;
      short events = 0;
      if (link->Kind == TLink::lkTcp) events |= POLLRDHUP;
      if (link->WantsInput()) events |= POLLIN;
      if (link->Sending) events |= POLLOUT;
      linkAt[i] = static_cast<int>(fds.size());
      fds.push_back({link->Fd.Get(), events, 0});
    }
    int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      Log(SystemError("poll failed, serving stops", errno), true);
      return;
    }
    if (fds[0].revents) {
      char drain[64];
      while (::read(FWakeRead.Get(), drain, sizeof drain) > 0) {
      }
    }
    if (FStopping) break;
    // Links first: a client that left must be gone before the next is taken.
    for (int i = 0; i < 2; ++i) {
      if (linkAt[i] < 0) continue;
      ServiceLink(*links[i], fds[linkAt[i]].revents);
    }
    for (size_t i = FWaiting.size(); i-- > 0;) {
      if (!(fds[waitingAt + i].revents & (POLLRDHUP | POLLHUP | POLLERR))) continue;
      Log("client " + FWaiting[i].Who + " left before it was served", true);
      FWaiting.erase(FWaiting.begin() + static_cast<long>(i));
    }
    CloseIdleClient(kIdlePollMs);
    if (FTcpLink && !FTcpLink->Fd) ServeNextWaiting();
    if (listenerAt >= 0 && (fds[listenerAt].revents & POLLIN)) AcceptClients();
  }
}

// One client is served; the next wait, told so in the log, until it leaves.
void TEmuServer::AcceptClients() {
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  TFd fd(::accept4(FListener.Get(), reinterpret_cast<sockaddr*>(&peer), &len,
                   SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!fd) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
      Log(SystemError("accept", errno), true);
    return;
  }
  char ip[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
  std::string who = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
  if (!FTcpLink->Fd && FWaiting.empty()) {
    Serve(std::move(fd), who);
    return;
  }
  if (FWaiting.size() >= kMaxWaitingClients) {
    Log("client " + who + " closed: " + std::to_string(FWaiting.size()) +
            " clients already wait for the register",
        true);
    return;
  }
  Log("client " + who + " waits: client " + FTcpLink->Peer +
          " is being served; the register serves one client at a time and takes " + who +
          " when the clients before it leave",
      true);
  FWaiting.push_back({std::move(fd), who});
}

int TEmuServer::CloseIdleClient(int maxWaitMs) {
  using std::chrono::milliseconds;
  TLink* link = FTcpLink.get();
  if (!link || !link->Fd || link->Sending || FWaiting.empty() || FOptions.IdleLimit.count() <= 0)
    return maxWaitMs;
  const auto idle =
      std::chrono::duration_cast<milliseconds>(Clock().SteadyNow() - link->LastActive);
  if (idle < FOptions.IdleLimit)
    return static_cast<int>(std::min<int64_t>(maxWaitMs, (FOptions.IdleLimit - idle).count()));
  // Bytes that came while the register was busy with the other link wait
  // unread: their client is in the middle of a command, not idle.
  int unread = 0;
  if (::ioctl(link->Fd.Get(), FIONREAD, &unread) == 0 && unread > 0) return maxWaitMs;
  const auto seconds = std::chrono::duration<double>(FOptions.IdleLimit).count();
  char limit[32];
  std::snprintf(limit, sizeof limit, "%g", seconds);
  Log("client " + link->Peer + " closed: it sent nothing for " + limit + " s while client " +
          FWaiting.front().Who + " waits for the register",
      true);
  DropClient(*link, "idle client closed", true);
  return 0;
}

void TEmuServer::ServeNextWaiting() {
  if (FWaiting.empty()) return;
  TWaitingClient next = std::move(FWaiting.front());
  FWaiting.pop_front();
  Log("client " + next.Who + " served now: the client before it left", true);
  Serve(std::move(next.Fd), next.Who);
}

void TEmuServer::Serve(TFd Fd, const std::string& Who) {
  TLink& link = *FTcpLink;
  int on = 1;
  ::setsockopt(Fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  link.Fd = std::move(Fd);
  link.Peer = Who;
  link.ClearBuffers();
  link.LastActive = Clock().SteadyNow();
  link.Session->Reset();
  ++FCounters.ClientsAccepted;
  Log("client " + Who + " connected");
}

void TEmuServer::DropClient(TLink& link, const std::string& why, bool graceful) {
  if (link.Kind == TLink::lkPty) {
    // A pty cannot hang up on its client: drop what is pending and go on.
    Log("pty: " + why);
    link.ClearBuffers();
    link.Session->Reset();
    return;
  }
  if (graceful) {
    // Let what was written arrive: FIN after the data, and no unread input
    // that would turn the close into a reset.
    ::shutdown(link.Fd.Get(), SHUT_WR);
    char drain[512];
    while (::recv(link.Fd.Get(), drain, sizeof drain, 0) > 0) {
    }
  }
  link.Fd.Reset();
  link.ClearBuffers();
  link.Session->Reset();
  Log("tcp: " + why);
}

void TEmuServer::ServiceLink(TLink& link, short revents) {
  if (revents & POLLNVAL) {
    Log(link.Name + ": descriptor became invalid", true);
    link.Fd.Release();  // no longer ours to close
    return;
  }
  if (revents & POLLOUT) WritePending(link);
  if (!link.Fd) return;
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    if (link.WantsInput()) {
      char buf[kInputLimit];
      size_t room = kInputLimit - link.In.size();
      ssize_t n = ::read(link.Fd.Get(), buf, room);
      if (n > 0) {
        link.In.append(buf, static_cast<size_t>(n));
        link.LastActive = Clock().SteadyNow();
      } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        if (link.Kind == TLink::lkTcp) {
          DropClient(link, n == 0 ? "client disconnected" : SystemError("client lost", errno),
                     false);
          return;
        }
        // Should not happen while the slave is held open; stop rather than spin.
        Log(n == 0 ? "pty: end of input, closed" : SystemError("pty failed, closed", errno), true);
        link.Fd.Reset();
        return;
      }
    } else if (link.Kind == TLink::lkTcp && (revents & (POLLHUP | POLLERR))) {
      DropClient(link, "client connection broken", false);
      return;
    }
  }
  if (link.Kind == TLink::lkPty && (revents & (POLLHUP | POLLERR)) && !(revents & POLLIN)) {
    Log(link.Name + ": pseudo-terminal hung up, closed", true);
    link.Fd.Reset();
    return;
  }
  if (link.Kind == TLink::lkTcp && (revents & POLLRDHUP) && !(revents & POLLIN)) {
    DropClient(link, "client disconnected", false);
    return;
  }
  // Answer what is buffered, one reply at a time, as far as the socket takes it.
  for (;;) {
    Pump(link);
    if (!link.Sending) break;
    WritePending(link);
    if (link.Sending || !link.Fd) break;
  }
}

void TEmuServer::Pump(TLink& link) {
  while (link.Fd && !link.Sending && !link.In.empty()) {
    TEmuOutput out;
    bool replied = false;
    size_t used = link.Session->Consume(link.In, out, replied);
    link.In.erase(0, used);
    if (!replied || out.Bytes.empty()) continue;
    link.Out = std::move(out.Bytes);
    link.OutPos = 0;
    link.Sending = true;
    link.CloseAfter = out.CloseAfter;
    if (out.Delay.count() > 0) Pause(out.Delay);
    link.LastActive = Clock().SteadyNow();
  }
}

void TEmuServer::Pause(std::chrono::milliseconds delay) {
  // The register is busy for the time (a long report prints): nothing is
  // served meanwhile. Time runs on the process clock, so a test clock passes
  // it at once; Stop cuts a real pause short.
  using std::chrono::milliseconds;
  constexpr milliseconds kSlice{100};
  while (delay.count() > 0 && !FStopping) {
    const milliseconds step = std::min(delay, kSlice);
    Clock().Sleep(step);
    delay -= step;
  }
}

void TEmuServer::WritePending(TLink& link) {
  while (link.Sending && link.OutPos < link.Out.size()) {
    const char* data = link.Out.data() + link.OutPos;
    size_t size = link.Out.size() - link.OutPos;
    ssize_t n = link.Kind == TLink::lkTcp ? ::send(link.Fd.Get(), data, size, MSG_NOSIGNAL)
                                          : ::write(link.Fd.Get(), data, size);
    if (n > 0) {
      link.OutPos += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    DropClient(link, SystemError("cannot send", errno), false);
    return;
  }
  if (!link.Sending) return;
  bool close = link.CloseAfter;
  link.Out.clear();
  link.OutPos = 0;
  link.Sending = false;
  link.CloseAfter = false;
  if (close) DropClient(link, "connection closed in the middle of an answer (fault)", true);
}
