// The virtual register's links: a TCP listener and a pseudo-terminal, served
// by one thread with poll. TCP serves one client at a time, like the
// register: a client that connects while another is served is accepted and
// told in the log that it waits (its bytes wait in its socket); it is served
// when the first leaves, with a log line saying so, or when the first has
// sent nothing for the idle limit and is closed for it. So a client that
// reconnects never races the server noticing its old connection's end, and a
// second program never waits without a word. The pty is always there.
// Both links talk to the same command handler, one request at a time. An
// answer delayed by a fault keeps the register busy on both links for the
// delay, as a register printing a long report is; the delay runs on the
// process clock (Clock()), so a test clock passes it at once.
//
//   TEmuServer server(registerHandler, options);
//   server.Start();                 // throws std::runtime_error when a link cannot open
//   connect to 127.0.0.1:server.Port() or open server.PtyPath()
//   server.Faults().ArmAnswerFault({TEmuAnswerFaultKind::Drop, 1});
//   server.Stop();                  // also done by the destructor
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/uFd.h"
#include "wire/uEmuCommandHandler.h"
#include "wire/uEmuFaults.h"
#include "wire/uEmuLinkSession.h"

inline constexpr uint16_t kEmuDefaultPort = 50003;

struct TEmuServerOptions {
  bool Tcp = true;
  std::string BindAddress = "127.0.0.1";  // dotted IPv4
  uint16_t Port = kEmuDefaultPort;        // 0: any free port, see Port()
  bool Pty = false;
  std::string PtyLink;  // when set, a symlink to the pty's slave is made there
  // A TCP client that has sent nothing for this long while another client
  // waits for the register is closed, so that one idle client cannot keep
  // the others out; zero never closes one. The time runs on Clock().
  std::chrono::milliseconds IdleLimit{30000};
  TEmuWireSettings Wire;
  // Where log lines go; empty: standard error.
  TEmuLogSink Log;
};

// A snapshot of TEmuWireCounters.
struct TEmuWireStats {
  uint64_t Probes = 0, Requests = 0, Executed = 0, Replayed = 0, BadChecksums = 0, BadPasswords = 0,
           Malformed = 0, Overlong = 0, IgnoredBytes = 0, AbandonedFrames = 0, ClientsAccepted = 0;
};

class TEmuServer {
 public:
  // The handler must outlive the server; it is called on the server's thread.
  explicit TEmuServer(TEmuCommandHandler& handler, TEmuServerOptions options = {});
  ~TEmuServer();
  TEmuServer(const TEmuServer&) = delete;
  TEmuServer& operator=(const TEmuServer&) = delete;

  // Opens the links and starts serving. Throws std::runtime_error (nothing
  // left open) when a link cannot be opened or the server already runs.
  void Start();
  // Stops serving and closes every link; removes the pty symlink. Idempotent.
  void Stop();
  bool Running() const { return FThread.joinable(); }

  // The TCP port listened on (the chosen one for port 0); 0 without TCP.
  uint16_t Port() const { return FPort; }
  // The pty's slave device and the symlink made to it; empty without a pty.
  const std::string& PtyPath() const { return FPtyPath; }
  const std::string& PtyLinkPath() const { return FPtyLinkMade; }

  TEmuFaultPlan& Faults() { return FFaults; }
  // Holds the handler between two commands, for a test that inspects or
  // changes the register's state while the server runs.
  std::unique_lock<std::mutex> LockHandler() { return std::unique_lock(FHandlerLock); }
  TEmuWireStats Stats() const;

 private:
  struct TLink;
  void OpenListener();
  void OpenPty();
  void CloseAll();
  void Run();
  void Log(const std::string& text, bool always = false) const;
  void ServiceLink(TLink& link, short revents);
  void Pump(TLink& link);
  void WritePending(TLink& link);
  void Pause(std::chrono::milliseconds delay);
  void AcceptClients();
  void Serve(TFd Fd, const std::string& Who);
  void ServeNextWaiting();
  void DropClient(TLink& link, const std::string& why, bool graceful);
  // Closes the served TCP client when it has idled past the limit while
  // another waits; else the milliseconds the loop may sleep before it might.
  int CloseIdleClient(int maxWaitMs);

  TEmuCommandHandler& FHandler;
  TEmuServerOptions FOptions;
  TEmuFaultPlan FFaults;
  TEmuWireCounters FCounters;
  std::mutex FHandlerLock;

  TFd FListener;
  TFd FWakeRead, FWakeWrite;
  TFd FPtySlave;  // kept open so the master never sees a hang-up between clients
  uint16_t FPort = 0;
  std::string FPtyPath;
  std::string FPtyLinkMade;
  std::unique_ptr<TLink> FTcpLink;
  std::unique_ptr<TLink> FPtyLink;
  // Clients accepted while another is served, first come first served.
  struct TWaitingClient {
    TFd Fd;
    std::string Who;
  };
  std::deque<TWaitingClient> FWaiting;
  std::atomic<bool> FStopping{false};
  std::thread FThread;
};
