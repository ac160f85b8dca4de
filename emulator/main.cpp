// quarnel-emulator: a virtual register on TCP and/or a pseudo-terminal.
// Prints "port N" and "pty PATH" (one line each) as the first lines of
// standard output once it serves, so that scripts can read where to connect;
// serves until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "emulator/register/uEmuRegister.h"
#include "wire/uEmuCommandLine.h"
#include "wire/uEmuServer.h"

namespace {
void Complain(const std::string& text) {
  std::fprintf(stderr, "quarnel-emulator: %s\n", text.c_str());
}
}  // namespace

int main(int argc, char** argv) {
  TEmuCommandLine cl;
  try {
    cl = ParseEmuCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    Complain(e.what());
    return 2;
  }
  if (cl.Help) {
    std::fputs(EmuUsageText().c_str(), stdout);
    return 0;
  }

  // The signals are taken by sigwait below; blocked before any thread starts
  // so that no other thread is interrupted by them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Readers of the port line and of the tape see each line as it is written.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  std::ofstream tapeFile;
  if (!cl.TapeFile.empty()) {
    // A roll of paper: later runs continue it.
    tapeFile.open(cl.TapeFile, std::ios::app);
    if (!tapeFile) {
      Complain("cannot write the tape to " + cl.TapeFile);
      return 1;
    }
  }

  if (!cl.StateFile.empty()) {
    const std::string problem = StateFileProblem(cl.StateFile);
    if (!problem.empty()) {
      Complain(problem);
      return 1;
    }
  }

  try {
    TEmuRegisterOptions registerOptions;
    registerOptions.FfdVersion = cl.Ffd;
    registerOptions.StateFile = cl.StateFile;
    registerOptions.Tape = cl.TapeFile.empty() ? &std::cout : &tapeFile;
    TEmuRegister cashRegister(registerOptions);

    TEmuServer server(cashRegister, cl.Server);
    server.Faults().Apply(cl.Faults);
    {
      // No command runs, so no tape line is printed, before the ready lines are out.
      const auto hold = server.LockHandler();
      server.Start();
      if (server.Port() != 0) std::cout << "port " << server.Port() << "\n";
      if (!server.PtyPath().empty()) std::cout << "pty " << server.PtyPath() << "\n";
      std::cout.flush();
    }

    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    if (cl.Server.Wire.Verbose) Complain(std::string("stopping on ") + strsignal(signalNumber));
    server.Stop();
    cashRegister.Save();
  } catch (const std::exception& e) {
    Complain(e.what());
    return 1;
  }
  return 0;
}
