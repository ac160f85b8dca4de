// quarnel-host demo: a shift on a register, from connecting to reading the
// sale back from the fiscal storage, through the add-in's own methods.
//
// It starts quarnel-emulator on a free port (or uses the register given with
// --connect), runs ten steps and shows each call with its result and output
// XML, a summary, and the emulator's paper tape. A step whose call fails is
// reported with the add-in's error and the demo goes on with the steps that
// do not depend on it; the exit status is 0 only when all ten succeeded.
#pragma once

#include <ostream>
#include <string>

#include "host/uAddInHost.h"

struct THostDemoOptions {
  std::string Connect;   // "ADDRESS:PORT" of a running register; empty: start the emulator
  std::string Emulator;  // the quarnel-emulator program
  std::string Tape;      // keep the emulator's tape in this file instead of showing it
};

// The quarnel-emulator of this build (compiled in).
std::string BuiltEmulatorPath();

// Exit status: 0 all steps succeeded, 1 a step failed, 2 the demo could not start.
int RunHostDemo(TAddInHost& Host, const THostDemoOptions& Options, std::ostream& Out,
                std::ostream& Err);
